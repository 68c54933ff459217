// S3TC block and image decoders.
#include "texture/orvane_s3tc.h"

#include <cstddef>
#include <cstring>

namespace orvane {
namespace {

using namespace s3tc;

inline uint32_t Pack(int32_t c0, int32_t c1, int32_t c2, int32_t a) {
    return uint32_t(c0) | uint32_t(c1) << 8 | uint32_t(c2) << 16 | uint32_t(a) << 24;
}

// Colour part of a block into 16 packed pixels; RedFirst picks R,G,B,A or B,G,R,A bytes.
template <bool RedFirst>
inline void DecodeColour(const uint8_t* block, bool dxt1, uint32_t out[16]) {
    uint32_t c0 = uint32_t(block[0]) | uint32_t(block[1]) << 8;
    uint32_t c1 = uint32_t(block[2]) | uint32_t(block[3]) << 8;
    Rgb palette[4];
    bool three = ColourPalette(c0, c1, dxt1, palette);
    uint32_t packed[4];
    for (int i = 0; i < 4; ++i) {
        const Rgb& p = palette[i];
        int32_t alpha = (three && i == 3) ? 0 : 255;
        packed[i] = RedFirst ? Pack(p.r, p.g, p.b, alpha) : Pack(p.b, p.g, p.r, alpha);
    }
    uint32_t indices = uint32_t(block[4]) | uint32_t(block[5]) << 8 | uint32_t(block[6]) << 16 |
                       uint32_t(block[7]) << 24;
    for (int i = 0; i < 16; ++i)
        out[i] = packed[(indices >> (2 * i)) & 3];
}

inline void DecodeExplicitAlpha(const uint8_t* block, uint32_t out[16]) {
    for (int i = 0; i < 8; ++i) {
        uint32_t lo = block[i] & 0x0f, hi = block[i] & 0xf0;
        out[2 * i] = (out[2 * i] & 0x00ffffffu) | (lo | lo << 4) << 24;
        out[2 * i + 1] = (out[2 * i + 1] & 0x00ffffffu) | (hi | hi >> 4) << 24;
    }
}

inline void DecodeInterpolatedAlpha(const uint8_t* block, uint32_t out[16]) {
    int32_t codes[8];
    AlphaPalette(block[0], block[1], codes);
    for (int group = 0; group < 2; ++group) {
        const uint8_t* b = block + 2 + group * 3;
        uint32_t bits = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16;
        for (int i = 0; i < 8; ++i) {
            uint32_t& p = out[group * 8 + i];
            p = (p & 0x00ffffffu) | uint32_t(codes[(bits >> (3 * i)) & 7]) << 24;
        }
    }
}

template <bool RedFirst>
void DecodeBlock(int32_t subFormat, const uint8_t* block, uint32_t out[16]) {
    switch (subFormat) {
        case 0:
            DecodeColour<RedFirst>(block, true, out);
            for (int i = 0; i < 16; ++i)
                out[i] |= 0xff000000u;
            break;
        case 1:
            DecodeColour<RedFirst>(block, true, out);
            break;
        case 2:
            DecodeColour<RedFirst>(block + 8, false, out);
            DecodeExplicitAlpha(block, out);
            break;
        default:
            DecodeColour<RedFirst>(block + 8, false, out);
            DecodeInterpolatedAlpha(block, out);
            break;
    }
}

}  // namespace

int32_t S3TCBlockBytes(int32_t subFormat) {
    return subFormat == 0 || subFormat == 1 ? 8 : (subFormat == 2 || subFormat == 3 ? 16 : 0);
}

int64_t S3TCImageBytes(int32_t subFormat, int32_t width, int32_t height) {
    int32_t blockBytes = S3TCBlockBytes(subFormat);
    if (blockBytes == 0 || width < 0 || height < 0) return -1;
    int64_t bytes = int64_t(BlocksAcross(width)) * BlocksAcross(height) * blockBytes;
    return bytes > INT32_MAX ? -1 : bytes;
}

void DecodeDXT1Block(const uint8_t block[8], bool transparentAlpha, uint8_t rgba[64]) {
    uint32_t out[16];
    DecodeBlock<true>(transparentAlpha ? 1 : 0, block, out);
    std::memcpy(rgba, out, 64);
}
void DecodeDXT3Block(const uint8_t block[16], uint8_t rgba[64]) {
    uint32_t out[16];
    DecodeBlock<true>(2, block, out);
    std::memcpy(rgba, out, 64);
}
void DecodeDXT5Block(const uint8_t block[16], uint8_t rgba[64]) {
    uint32_t out[16];
    DecodeBlock<true>(3, block, out);
    std::memcpy(rgba, out, 64);
}

void DecodeS3TCImage(int32_t subFormat, int32_t width, int32_t height, const uint8_t* blocks,
                     int64_t destStride, uint8_t* bgra) {
    if (width <= 0 || height <= 0) return;
    const int32_t blockBytes = S3TCBlockBytes(subFormat);
    const int32_t across = BlocksAcross(width), down = BlocksAcross(height);
    uint32_t out[16];
    for (int32_t by = 0; by < down; ++by) {
        const int32_t rows = height - by * 4 < 4 ? height - by * 4 : 4;
        for (int32_t bx = 0; bx < across; ++bx) {
            DecodeBlock<false>(subFormat, blocks, out);
            blocks += blockBytes;
            const int32_t columns = width - bx * 4 < 4 ? width - bx * 4 : 4;
            uint8_t* dest = bgra + (by * 4) * destStride + size_t(bx) * 16;
            if (columns == 4) {
                for (int32_t y = 0; y < rows; ++y)
                    std::memcpy(dest + y * destStride, out + y * 4, 16);
            } else {
                for (int32_t y = 0; y < rows; ++y)
                    std::memcpy(dest + y * destStride, out + y * 4, size_t(columns) * 4);
            }
        }
    }
}

}  // namespace orvane

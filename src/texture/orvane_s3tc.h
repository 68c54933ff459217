// S3TC (DXT1, DXT3, DXT5): block sizes, the palettes both sides expand, and the decoding of
// blocks and whole images (the encoder is offline code: offline/orvane_s3tc_encoder.h).
#ifndef ORVANE_S3TC_H
#define ORVANE_S3TC_H

#include <cstdint>

namespace orvane {
namespace s3tc {

// Palettes, exactly as decoders expand them (bit replication, truncating division): the one
// model that the decoder and the encoder (offline/orvane_s3tc_encoder.cpp) both use.

struct Rgb {
    int32_t r, g, b;
};

inline Rgb Expand565(uint32_t v) {
    int32_t r = (v >> 11) & 31, g = (v >> 5) & 63, b = v & 31;
    return {(r << 3) | (r >> 2), (g << 2) | (g >> 4), (b << 3) | (b >> 2)};
}

// palette[3] is black when the block is in three-colour mode; the caller decides its alpha.
inline bool ColourPalette(uint32_t c0, uint32_t c1, bool allowThreeColour, Rgb palette[4]) {
    Rgb a = Expand565(c0), b = Expand565(c1);
    palette[0] = a;
    palette[1] = b;
    if (allowThreeColour && c0 <= c1) {
        palette[2] = {(a.r + b.r) / 2, (a.g + b.g) / 2, (a.b + b.b) / 2};
        palette[3] = {0, 0, 0};
        return true;
    }
    palette[2] = {(2 * a.r + b.r) / 3, (2 * a.g + b.g) / 3, (2 * a.b + b.b) / 3};
    palette[3] = {(a.r + 2 * b.r) / 3, (a.g + 2 * b.g) / 3, (a.b + 2 * b.b) / 3};
    return false;
}

inline void AlphaPalette(uint32_t a0, uint32_t a1, int32_t codes[8]) {
    codes[0] = int32_t(a0);
    codes[1] = int32_t(a1);
    if (a0 <= a1) {
        for (int i = 1; i < 5; ++i)
            codes[1 + i] = int32_t(((5 - i) * a0 + i * a1) / 5);
        codes[6] = 0;
        codes[7] = 255;
    } else {
        for (int i = 1; i < 7; ++i)
            codes[1 + i] = int32_t(((7 - i) * a0 + i * a1) / 7);
    }
}

}  // namespace s3tc

// Blocks across (or down) an image of size pixels: partial edge blocks count whole.
inline int32_t BlocksAcross(int32_t size) {
    return int32_t((int64_t(size) + 3) / 4);
}

// Block bytes of a subformat (0..3), 0 for others.
int32_t S3TCBlockBytes(int32_t subFormat);
// Bytes of a width x height image (partial edge blocks count whole); -1 when the subformat is
// unknown or the size passes int32.
int64_t S3TCImageBytes(int32_t subFormat, int32_t width, int32_t height);

// Decodes into BGRA8888 pixels (bytes B, G, R, A). subFormat 0..3; subformat 0 decodes alpha
// as 255, subformat 1 as 0 for the transparent colour.
void DecodeS3TCImage(int32_t subFormat, int32_t width, int32_t height, const uint8_t* blocks,
                     int64_t destStride, uint8_t* bgra);

// Single blocks, for the codec's own tests: 16 pixels row-major.
// Decoded pixels as bytes R, G, B, A.
void DecodeDXT1Block(const uint8_t block[8], bool transparentAlpha, uint8_t rgba[64]);
void DecodeDXT3Block(const uint8_t block[16], uint8_t rgba[64]);
void DecodeDXT5Block(const uint8_t block[16], uint8_t rgba[64]);

}  // namespace orvane

#endif  // ORVANE_S3TC_H

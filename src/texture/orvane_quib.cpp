// The Quib wavelet codec's decoder. Pixels go through a YCbCr colour transform and a
// multi-level CDF 9/7 lifting wavelet (near-orthonormal scaling, so a coefficient's bit plane
// says what it costs in squared error); the coefficients, at a fixed fine quantisation step, are
// coded bit plane by bit plane, coarsest band first, with an adaptive binary range coder. The
// stream is embedded: cutting it at the byte budget leaves the best image that many bytes can
// carry, which is how the encoder (offline/orvane_quib_encoder.cpp) honours the compression
// ratio exactly. The model both sides share is in orvane_quib_model.h.
//
// Stream: "QB", version, channel count, width, height (int32 LE), level count, fraction bits,
// coefficient visits (int32 LE), then per band and channel the top bit plane + 1 (0 when the
// band is all zero), then the range coder's bytes.
#include "texture/orvane_quib.h"

#include <cstddef>
#include <cstring>

#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "diag/orvane_timing.h"
#include "texture/orvane_pixel_layout.h"
#include "texture/orvane_quib_model.h"

namespace orvane {

using namespace quib;

namespace {

// --- Binary range decoder (11-bit probabilities). -------------------------------------------

class RangeDecoder {
public:
    RangeDecoder(const uint8_t* in, int64_t size) : in_(in), size_(size) {
        for (int i = 0; i < 4; ++i)
            code_ = (code_ << 8) | Next();
    }
    uint32_t Decode(uint16_t* probability) {
        uint32_t bound = (range_ >> kProbabilityBits) * *probability;
        uint32_t bit;
        if (code_ < bound) {
            range_ = bound;
            *probability = AfterZero(*probability);
            bit = 0;
        } else {
            code_ -= bound;
            range_ -= bound;
            *probability = AfterOne(*probability);
            bit = 1;
        }
        while (range_ < kTop) {
            range_ <<= 8;
            code_ = (code_ << 8) | Next();
        }
        return bit;
    }

private:
    // Past the end the stream reads as zeros: a cut or damaged stream decodes to some image,
    // never to a read outside the data.
    uint32_t Next() { return position_ < size_ ? in_[position_++] : 0; }
    const uint8_t* in_;
    int64_t size_;
    int64_t position_ = 0;
    uint32_t code_ = 0;
    uint32_t range_ = 0xffffffffu;
};

inline uint32_t CodeBit(RangeDecoder& coder, uint16_t* probability, uint32_t) {
    return coder.Decode(probability);
}

// --- Inverse wavelet. -----------------------------------------------------------------------

void Inverse1D(float* x, int32_t n, ptrdiff_t step, float* scratch) {
    if (n < 2) return;
    int32_t lows = (n + 1) / 2;
    for (int32_t i = 0; i < n; ++i)
        scratch[i] = i % 2 == 0 ? x[(i / 2) * step] / kK : x[(lows + i / 2) * step] * kK;
    for (int32_t i = 0; i < n; ++i)
        x[i * step] = scratch[i];
    Lift(x, n, step, 0, -kD);
    Lift(x, n, step, 1, -kC);
    Lift(x, n, step, 0, -kB);
    Lift(x, n, step, 1, -kA);
}

void InverseColumns(float* plane, int32_t stride, int32_t w, int32_t h, float* scratch) {
    if (h < 2) return;
    const int32_t lows = (h + 1) / 2;
    for (int32_t i = 0; i < h; ++i) {
        const float* row = plane + size_t(i % 2 == 0 ? i / 2 : lows + i / 2) * stride;
        float* out = scratch + size_t(i) * w;
        const float scale = i % 2 == 0 ? 1.0f / kK : kK;
        for (int32_t x = 0; x < w; ++x)
            out[x] = row[x] * scale;
    }
    for (int32_t i = 0; i < h; ++i)
        std::memcpy(plane + size_t(i) * stride, scratch + size_t(i) * w, size_t(w) * 4);
    LiftRows(plane, stride, w, h, 0, -kD);
    LiftRows(plane, stride, w, h, 1, -kC);
    LiftRows(plane, stride, w, h, 0, -kB);
    LiftRows(plane, stride, w, h, 1, -kA);
}

// scratch holds width x height floats.
void Inverse2D(float* plane, int32_t width, int32_t height, int32_t levels, float* scratch) {
    int32_t ws[kMaxLevels + 1], hs[kMaxLevels + 1];
    LevelSizes(width, height, levels, ws, hs);
    for (int32_t level = levels - 1; level >= 0; --level) {
        int32_t w = ws[level], h = hs[level];
        InverseColumns(plane, width, w, h, scratch);
        for (int32_t y = 0; y < h; ++y)
            Inverse1D(plane + size_t(y) * width, w, 1, scratch);
    }
}

int32_t GetInt32(const uint8_t* p) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= uint32_t(p[i]) << (8 * i);
    return int32_t(v);
}

inline uint8_t ClampByte(float v) {
    if (v <= 0.0f) return 0;
    if (v >= 255.0f) return 255;
    return uint8_t(v + 0.5f);
}

}  // namespace

bool QuibDecode(int32_t width, int32_t height, int32_t flags, int32_t byteCount,
                const uint8_t* data, const orvane_pixel_layout& layout, int64_t destStride,
                uint8_t* dest) {
    const int32_t channels = ChannelCount(flags);
    const int32_t levels = LevelCount(width, height);
    const int32_t headerBytes = HeaderBytes(levels, channels);
    if (data == nullptr || byteCount < headerBytes || data[0] != 'Q' || data[1] != 'B' ||
        data[2] != kVersion || data[3] != channels || GetInt32(data + 4) != width ||
        GetInt32(data + 8) != height || data[12] != levels || data[13] != kFractionBits) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin,
                         "Quib data of %d bytes does not hold a %d x %d "
                         "image of %d channels",
                         byteCount, width, height, channels);
        return false;
    }
    const size_t planeSize = size_t(width) * size_t(height);
    int64_t visits = GetInt32(data + 14);
    Band bands[kMaxBands];
    const int32_t bandCount = MakeBands(width, height, levels, bands);
    uint8_t topPlanes[kMaxBands][4] = {};
    int32_t maxPlane = -1;
    const uint8_t* tops = data + kFixedHeaderBytes;
    for (int32_t b = 0; b < bandCount; ++b) {
        for (int32_t c = 0; c < channels; ++c) {
            topPlanes[b][c] = *tops++;
            if (topPlanes[b][c] > 31) visits = -1;
            if (topPlanes[b][c] - 1 > maxPlane) maxPlane = topPlanes[b][c] - 1;
        }
    }
    // Per plane a block costs at most one visit per coefficient, plus one flag in the plane
    // where it wakes.
    if (visits < 0 || visits > int64_t(planeSize) * channels * (maxPlane + 2)) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin, "Quib data of %d bytes is damaged", byteCount);
        return false;
    }
    Workspace work;
    if (!work.Allocate(width, height, channels)) return false;
    std::memset(work.magnitudes, 0, planeSize * channels * 4);

    RangeDecoder coder(data + headerBytes, byteCount - headerBytes);
    CodePlanes<false>(coder, width, channels, bands, bandCount, topPlanes, maxPlane, work, 0,
                      &visits);

    const float unit = 1.0f / float(1 << kFractionBits);
    for (int32_t c = 0; c < channels; ++c) {
        float* plane = work.planes + c * planeSize;
        const int32_t* magnitudes = work.magnitudes + c * planeSize;
        for (size_t i = 0; i < planeSize; ++i) {
            int32_t m = magnitudes[i];
            int32_t q = m & INT32_MAX;
            float v = 0.0f;
            if (q != 0) {
                // The middle of what the uncoded low planes leave open.
                float half = float((1 << work.lastPlane[c * planeSize + i]) >> 1);
                v = (float(q) + half) * unit;
                if (m < 0) v = -v;
            }
            plane[i] = v;
        }
        Inverse2D(plane, width, height, levels, work.scratch);
    }

    // Back to RGBA8888 in the workspace's magnitude memory, then into the caller's layout.
    auto* rgba = reinterpret_cast<uint8_t*>(work.magnitudes);
    for (size_t i = 0; i < planeSize; ++i) {
        float luma = work.planes[i] + 128.0f;
        float cb = work.planes[planeSize + i], cr = work.planes[2 * planeSize + i];
        rgba[i * 4 + 0] = ClampByte(luma + 1.402f * cr);
        rgba[i * 4 + 1] = ClampByte(luma - 0.344136f * cb - 0.714136f * cr);
        rgba[i * 4 + 2] = ClampByte(luma + 1.772f * cb);
        rgba[i * 4 + 3] = channels == 4 ? ClampByte(work.planes[3 * planeSize + i] + 128.0f) : 255;
    }
    ConvertPixels(width, height, *OrvaneRGBA8888PixelFormat, int64_t(width) * 4, rgba, layout,
                  destStride, dest);
    return true;
}

}  // namespace orvane

// ------------------------------------------------------------------------------------------
// Exported entry points.

using namespace orvane;

extern "C" {

ORVANE_API const orvane_pixel_layout* OrvaneGetQuibPixelLayout(orvane_int32 AlphaFlag) {
    return AlphaFlag ? OrvaneRGBA8888PixelFormat : OrvaneRGB888PixelFormat;
}
ORVANE_API orvane_bool OrvaneQuibDecompressTexture(orvane_int32 Width, orvane_int32 Height,
                                                   orvane_int32 Flags, orvane_int32 ByteCount,
                                                   const void* Data,
                                                   const orvane_pixel_layout* DestLayout,
                                                   orvane_int32 DestStride, void* DestPixels) {
    ORVANE_TIMING_BLOCK("OrvaneQuibDecompressTexture");
    if (Width < 1 || Height < 1 || int64_t(Width) * Height * 4 > INT32_MAX) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin, "Quib image size %d x %d is not supported", Width,
                         Height);
        return false;
    }
    if (!CheckPixelLayout(DestLayout, "DestLayout") ||
        !CheckImageGeometry(Width, Height, DestLayout->BytesPerPixel, DestStride,
                            "Destination image"))
        return false;
    ORVANE_CHECK_NOT_NULL(OrvaneTextureOrigin, Data, false);
    ORVANE_CHECK_NOT_NULL(OrvaneTextureOrigin, DestPixels, false);
    return QuibDecode(Width, Height, Flags, ByteCount, static_cast<const uint8_t*>(Data),
                      *DestLayout, DestStride, static_cast<uint8_t*>(DestPixels));
}

}  // extern "C"

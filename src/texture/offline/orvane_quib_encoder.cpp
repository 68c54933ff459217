// The Quib wavelet codec's encoder: the colour transform and forward wavelet, the
// quantisation, and the bit planes coded by the routine the decoder (orvane_quib.cpp) also runs,
// cut at the byte budget. The stream's layout is described in orvane_quib.cpp.
#include "texture/offline/orvane_quib_encoder.h"

#include <cmath>
#include <cstddef>
#include <cstring>

#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "diag/orvane_timing.h"
#include "texture/orvane_pixel_layout.h"
#include "texture/orvane_quib_model.h"
#include "orvane/texture_builder.h"

namespace orvane {

using namespace quib;

namespace {

// --- Binary range encoder (11-bit probabilities, carry propagation through a cache byte). ---

class RangeEncoder {
public:
    RangeEncoder(uint8_t* out, int64_t capacity) : out_(out), capacity_(capacity) {}
    void Encode(uint16_t* probability, uint32_t bit) {
        uint32_t bound = (range_ >> kProbabilityBits) * *probability;
        if (bit == 0) {
            range_ = bound;
            *probability = AfterZero(*probability);
        } else {
            low_ += bound;
            range_ -= bound;
            *probability = AfterOne(*probability);
        }
        while (range_ < kTop) {
            range_ <<= 8;
            ShiftLow();
        }
    }
    void Flush() {
        for (int i = 0; i < 5; ++i)
            ShiftLow();
    }
    // Bytes the stream will have if it is flushed now.
    int64_t BytesIfFlushed() const { return written_ + cacheSize_ + 5; }
    int64_t Written() const { return written_; }

private:
    void Put(uint8_t byte) {
        if (written_ < capacity_) out_[written_] = byte;
        ++written_;
    }
    void ShiftLow() {
        if (uint32_t(low_) < 0xff000000u || (low_ >> 32) != 0) {
            uint8_t carry = uint8_t(low_ >> 32);
            if (!first_) Put(uint8_t(cache_ + carry));
            first_ = false;
            for (; cacheSize_ > 0; --cacheSize_)
                Put(uint8_t(0xff + carry));
            cache_ = uint8_t(low_ >> 24);
        } else {
            ++cacheSize_;
        }
        low_ = (low_ & 0x00ffffffu) << 8;
    }
    uint8_t* out_;
    int64_t capacity_;
    int64_t written_ = 0;
    uint64_t low_ = 0;
    uint32_t range_ = 0xffffffffu;
    uint8_t cache_ = 0;
    int64_t cacheSize_ = 0;
    bool first_ = true;
};

inline uint32_t CodeBit(RangeEncoder& coder, uint16_t* probability, uint32_t bit) {
    coder.Encode(probability, bit);
    return bit;
}

// --- Forward wavelet. -----------------------------------------------------------------------

void Forward1D(float* x, int32_t n, ptrdiff_t step, float* scratch) {
    if (n < 2) return;
    Lift(x, n, step, 1, kA);
    Lift(x, n, step, 0, kB);
    Lift(x, n, step, 1, kC);
    Lift(x, n, step, 0, kD);
    int32_t lows = (n + 1) / 2;
    for (int32_t i = 0; i < n; ++i) {
        float v = x[i * step];
        if (i % 2 == 0) {
            scratch[i / 2] = v * kK;
        } else {
            scratch[lows + i / 2] = v / kK;
        }
    }
    for (int32_t i = 0; i < n; ++i)
        x[i * step] = scratch[i];
}
void ForwardColumns(float* plane, int32_t stride, int32_t w, int32_t h, float* scratch) {
    if (h < 2) return;
    LiftRows(plane, stride, w, h, 1, kA);
    LiftRows(plane, stride, w, h, 0, kB);
    LiftRows(plane, stride, w, h, 1, kC);
    LiftRows(plane, stride, w, h, 0, kD);
    const int32_t lows = (h + 1) / 2;
    for (int32_t i = 0; i < h; ++i) {
        const float* row = plane + size_t(i) * stride;
        float* out = scratch + size_t(i % 2 == 0 ? i / 2 : lows + i / 2) * w;
        const float scale = i % 2 == 0 ? kK : 1.0f / kK;
        for (int32_t x = 0; x < w; ++x)
            out[x] = row[x] * scale;
    }
    for (int32_t i = 0; i < h; ++i)
        std::memcpy(plane + size_t(i) * stride, scratch + size_t(i) * w, size_t(w) * 4);
}
void Forward2D(float* plane, int32_t width, int32_t height, int32_t levels, float* scratch) {
    int32_t w = width, h = height;
    for (int32_t level = 0; level < levels; ++level) {
        for (int32_t y = 0; y < h; ++y)
            Forward1D(plane + size_t(y) * width, w, 1, scratch);
        ForwardColumns(plane, width, w, h, scratch);
        w = (w + 1) / 2;
        h = (h + 1) / 2;
    }
}
void PutInt32(uint8_t* p, int32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(uint32_t(v) >> (8 * i));
}
}  // namespace

int64_t QuibMaximumBytes(int32_t width, int32_t height, int32_t flags, int32_t ratio) {
    int32_t channels = ChannelCount(flags);
    if (ratio < 1) ratio = 1;
    int64_t budget = int64_t(width) * height * channels / ratio;
    int64_t floor = HeaderBytes(LevelCount(width, height), channels) + 64;
    return budget > floor ? budget : floor;
}

int32_t QuibEncode(int32_t width, int32_t height, int64_t stride, const uint8_t* rgba,
                   int32_t flags, int32_t ratio, uint8_t* output) {
    if (width <= 0 || height <= 0) return 0;
    const int32_t channels = ChannelCount(flags);
    const int32_t levels = LevelCount(width, height);
    const int64_t budget = QuibMaximumBytes(width, height, flags, ratio);
    const int32_t headerBytes = HeaderBytes(levels, channels);
    Workspace work;
    if (!work.Allocate(width, height, channels)) return 0;
    const size_t planeSize = size_t(width) * size_t(height);

    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = rgba + y * stride;
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t* p = row + size_t(x) * 4;
            float r = p[0], g = p[1], b = p[2];
            size_t i = size_t(y) * width + x;
            work.planes[i] = 0.299f * r + 0.587f * g + 0.114f * b - 128.0f;
            work.planes[planeSize + i] = -0.168736f * r - 0.331264f * g + 0.5f * b;
            work.planes[2 * planeSize + i] = 0.5f * r - 0.418688f * g - 0.081312f * b;
            if (channels == 4) work.planes[3 * planeSize + i] = float(p[3]) - 128.0f;
        }
    }
    Band bands[kMaxBands];
    const int32_t bandCount = MakeBands(width, height, levels, bands);
    uint8_t topPlanes[kMaxBands][4] = {};
    int32_t maxPlane = -1;
    for (int32_t c = 0; c < channels; ++c) {
        float* plane = work.planes + c * planeSize;
        Forward2D(plane, width, height, levels, work.scratch);
        for (int32_t b = 0; b < bandCount; ++b) {
            int32_t top = 0;
            for (int32_t y = bands[b].y0; y < bands[b].y1; ++y) {
                for (int32_t x = bands[b].x0; x < bands[b].x1; ++x) {
                    size_t i = size_t(y) * width + x;
                    float v = plane[i] * float(1 << kFractionBits);
                    int32_t q = int32_t(std::fabs(v) + 0.5f);
                    // The sign lives in the top bit so one array holds the whole coefficient.
                    work.magnitudes[c * planeSize + i] = v < 0 ? q | INT32_MIN : q;
                    while (top < 31 && (q >> top) != 0)
                        ++top;
                }
            }
            topPlanes[b][c] = uint8_t(top);
            if (top - 1 > maxPlane) maxPlane = top - 1;
        }
    }

    RangeEncoder coder(output + headerBytes, budget - headerBytes);
    int64_t visits = 0;
    CodePlanes<true>(coder, width, channels, bands, bandCount, topPlanes, maxPlane, work,
                     budget - headerBytes, &visits);
    coder.Flush();
    if (visits > INT32_MAX) return 0;

    uint8_t* h = output;
    h[0] = 'Q';
    h[1] = 'B';
    h[2] = kVersion;
    h[3] = uint8_t(channels);
    PutInt32(h + 4, width);
    PutInt32(h + 8, height);
    h[12] = uint8_t(levels);
    h[13] = uint8_t(kFractionBits);
    PutInt32(h + 14, int32_t(visits));
    uint8_t* tops = h + kFixedHeaderBytes;
    for (int32_t b = 0; b < bandCount; ++b)
        for (int32_t c = 0; c < channels; ++c)
            *tops++ = topPlanes[b][c];
    return int32_t(headerBytes + coder.Written());
}

}  // namespace orvane

// ------------------------------------------------------------------------------------------
// Exported entry points.

using namespace orvane;

extern "C" {

ORVANE_API orvane_int32 OrvaneGetMaximumQuibImageSize(orvane_int32 Width, orvane_int32 Height,
                                                      orvane_int32 Flags,
                                                      orvane_int32 CompressionRatio) {
    if (Width < 1 || Height < 1 || int64_t(Width) * Height * 4 > INT32_MAX) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin, "Quib image size %d x %d is not supported", Width,
                         Height);
        return 0;
    }
    int64_t bytes = QuibMaximumBytes(Width, Height, Flags, CompressionRatio);
    return bytes > INT32_MAX ? 0 : int32_t(bytes);
}

ORVANE_API orvane_int32 OrvaneQuibCompressTexture(orvane_int32 Width, orvane_int32 Height,
                                                  orvane_int32 Stride, const void* Pixels,
                                                  orvane_int32 Flags, orvane_int32 CompressionRatio,
                                                  void* Output) {
    ORVANE_TIMING_BLOCK("OrvaneQuibCompressTexture");
    if (OrvaneGetMaximumQuibImageSize(Width, Height, Flags, CompressionRatio) == 0) return 0;
    if (!CheckImageGeometry(Width, Height, 4, Stride, "Quib source image")) return 0;
    ORVANE_CHECK_NOT_NULL(OrvaneTextureOrigin, Pixels, 0);
    ORVANE_CHECK_NOT_NULL(OrvaneTextureOrigin, Output, 0);
    return QuibEncode(Width, Height, Stride, static_cast<const uint8_t*>(Pixels), Flags,
                      CompressionRatio, static_cast<uint8_t*>(Output));
}

}  // extern "C"

// Separable image scaling with the cubic, tent and box filters.
#include "texture/orvane_image_scale.h"

#include <cmath>
#include <cstddef>
#include <cstring>

#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "diag/orvane_timing.h"
#include "texture/orvane_pixel_layout.h"

namespace orvane {
namespace {

float Cubic(float x) {
    float a = std::fabs(x);
    if (a < 1.0f) return (7.0f / 6.0f) * a * a * a - 2.0f * a * a + 8.0f / 9.0f;
    if (a < 2.0f)
        return (-7.0f / 18.0f) * a * a * a + 2.0f * a * a - (10.0f / 3.0f) * a + 16.0f / 9.0f;
    return 0.0f;
}
float Tent(float x) {
    float a = std::fabs(x);
    return a < 1.0f ? 1.0f - a : 0.0f;
}
float Box(float x) {
    return (x > -0.5f && x <= 0.5f) ? 1.0f : 0.0f;
}

struct Filter {
    float (*kernel)(float);
    float radius;
};
constexpr Filter kFilters[3] = {{Cubic, 2.0f}, {Tent, 1.0f}, {Box, 0.5f}};

// Taps of one axis: for each destination index, tapCount source indices and weights, stored
// with a fixed stride of maxTaps.
struct WeightTable {
    int32_t maxTaps = 0;
    int32_t* counts = nullptr;
    int32_t* indices = nullptr;
    float* weights = nullptr;
    void* block = nullptr;
};

int32_t Mirror(int64_t j, int32_t n) {
    if (j < 0) return int32_t((-j) % n);
    if (j >= n) return int32_t(n - ((j - n + 1) % n) - 1);
    return int32_t(j);
}

bool BuildWeights(const Filter& filter, int32_t n, int32_t m, WeightTable* table) {
    // Real arithmetic: an integer (m - 1) / (n - 1) would make every shrink a scale of 0.
    double scale = (n == 1 || m == 1) ? double(m) / double(n) : double(m - 1) / double(n - 1);
    bool shrinking = scale < 1.0;
    double halfWidth = shrinking ? filter.radius / scale : filter.radius;
    int32_t maxTaps = shrinking ? int32_t(std::ceil(2.0 * halfWidth + 1.0))
                                : int32_t(2.0f * filter.radius + 1.0f);
    size_t entries;
    if (!CheckedArrayBytes(int64_t(m), size_t(maxTaps), &entries)) return false;
    size_t bytes = size_t(m) * 4 + entries * 8;
    auto* block = static_cast<uint8_t*>(ORVANE_ALLOCATE(4, bytes));
    if (block == nullptr) return false;
    table->block = block;
    table->maxTaps = maxTaps;
    table->counts = reinterpret_cast<int32_t*>(block);
    table->indices = reinterpret_cast<int32_t*>(block + size_t(m) * 4);
    table->weights = reinterpret_cast<float*>(block + size_t(m) * 4 + entries * 4);
    for (int32_t i = 0; i < m; ++i) {
        double x = double(i) / scale;
        int64_t first = int64_t(std::ceil(x - halfWidth));
        int64_t last = int64_t(std::floor(x + halfWidth));
        int32_t* indices = table->indices + size_t(i) * size_t(maxTaps);
        float* weights = table->weights + size_t(i) * size_t(maxTaps);
        int32_t count = 0;
        double sum = 0.0;
        for (int64_t j = first; j <= last && count < maxTaps; ++j) {
            float w = shrinking ? float(scale) * filter.kernel(float(scale * (x - double(j))))
                                : filter.kernel(float(x - double(j)));
            if (w == 0.0f) continue;
            indices[count] = Mirror(j, n);
            weights[count] = w;
            sum += w;
            ++count;
        }
        if (count == 0 || sum == 0.0) {
            // Only reachable through rounding at a kernel's edge: take the nearest pixel.
            indices[0] = Mirror(int64_t(std::floor(x + 0.5)), n);
            weights[0] = 1.0f;
            count = 1;
            sum = 1.0;
        }
        for (int32_t k = 0; k < count; ++k)
            weights[k] = float(weights[k] / sum);
        table->counts[i] = count;
    }
    return true;
}

uint8_t ToByte(float v) {
    if (v <= 0.0f) return 0;
    if (v >= 254.5f) return 255;
    return uint8_t(std::lround(v));
}

// The weighted sum of count taps of four channels each, taken at index[k] * 4 in samples.
template <typename Sample>
inline void FilterTaps(const Sample* samples, int32_t count, const int32_t* index,
                       const float* weight, float sum[4]) {
    float c0 = 0, c1 = 0, c2 = 0, c3 = 0;
    for (int32_t k = 0; k < count; ++k) {
        const Sample* p = samples + size_t(index[k]) * 4;
        float w = weight[k];
        c0 += w * p[0];
        c1 += w * p[1];
        c2 += w * p[2];
        c3 += w * p[3];
    }
    sum[0] = c0;
    sum[1] = c1;
    sum[2] = c2;
    sum[3] = c3;
}

}  // namespace

bool ScaleImage32(int32_t filterIndex, int32_t sourceWidth, int32_t sourceHeight,
                  int64_t sourceStride, const uint8_t* source, int32_t destWidth,
                  int32_t destHeight, int64_t destStride, uint8_t* dest) {
    const Filter& filter = kFilters[filterIndex];
    WeightTable horizontal, vertical;
    bool ok = BuildWeights(filter, sourceWidth, destWidth, &horizontal) &&
              BuildWeights(filter, sourceHeight, destHeight, &vertical);
    float* column = ok ? ORVANE_ALLOCATE_ARRAY(float, int64_t(sourceHeight) * 4) : nullptr;
    if (column != nullptr) {
        for (int32_t x = 0; x < destWidth; ++x) {
            const int32_t hCount = horizontal.counts[x];
            const int32_t* hIndex = horizontal.indices + size_t(x) * size_t(horizontal.maxTaps);
            const float* hWeight = horizontal.weights + size_t(x) * size_t(horizontal.maxTaps);
            for (int32_t y = 0; y < sourceHeight; ++y) {
                const uint8_t* row = source + y * sourceStride;
                FilterTaps(row, hCount, hIndex, hWeight, column + size_t(y) * 4);
            }
            for (int32_t y = 0; y < destHeight; ++y) {
                const int32_t vCount = vertical.counts[y];
                const int32_t* vIndex = vertical.indices + size_t(y) * size_t(vertical.maxTaps);
                const float* vWeight = vertical.weights + size_t(y) * size_t(vertical.maxTaps);
                float c[4];
                FilterTaps(column, vCount, vIndex, vWeight, c);
                uint8_t* p = dest + y * destStride + size_t(x) * 4;
                p[0] = ToByte(c[0]);
                p[1] = ToByte(c[1]);
                p[2] = ToByte(c[2]);
                p[3] = ToByte(c[3]);
            }
        }
        ORVANE_DEALLOCATE(column);
    }
    if (horizontal.block) ORVANE_DEALLOCATE(horizontal.block);
    if (vertical.block) ORVANE_DEALLOCATE(vertical.block);
    return column != nullptr;
}

}  // namespace orvane

// ------------------------------------------------------------------------------------------
// Exported entry points.

using namespace orvane;

extern "C" {

ORVANE_API void OrvaneScaleImage(orvane_int32 Filter, orvane_int32 SourceWidth,
                                 orvane_int32 SourceHeight, orvane_int32 SourceStride,
                                 const void* SourcePixels, orvane_int32 DestWidth,
                                 orvane_int32 DestHeight, orvane_int32 DestStride,
                                 void* DestPixels) {
    ORVANE_TIMING_BLOCK("OrvaneScaleImage");
    if (Filter < 0 || Filter > 2) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin, "Invalid pixel filter specified (%d)", Filter);
        return;
    }
    if (!CheckImageGeometry(SourceWidth, SourceHeight, 4, SourceStride, "Source image") ||
        !CheckImageGeometry(DestWidth, DestHeight, 4, DestStride, "Destination image"))
        return;
    if (DestWidth == 0 || DestHeight == 0) return;
    if (SourceWidth == 0 || SourceHeight == 0) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin, "Cannot scale an empty %d x %d image to %d x %d",
                         SourceWidth, SourceHeight, DestWidth, DestHeight);
        return;
    }
    ORVANE_CHECK_NOT_NULL(OrvaneTextureOrigin, SourcePixels, );
    ORVANE_CHECK_NOT_NULL(OrvaneTextureOrigin, DestPixels, );
    ScaleImage32(Filter, SourceWidth, SourceHeight, SourceStride,
                 static_cast<const uint8_t*>(SourcePixels), DestWidth, DestHeight, DestStride,
                 static_cast<uint8_t*>(DestPixels));
}

}  // extern "C"

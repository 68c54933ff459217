// The 8-byte constants: a position as three 14-bit mantissas with a shared exponent, a unit
// quaternion as its three smallest components in 15 bits each.
#include "curve/orvane_packed_constants.h"

#include <cmath>
#include <cstring>

#include "core/orvane_memory.h"
#include "curve/orvane_curve_private.h"

namespace orvane {

namespace {

using D3Packed = orvane_curve_data_d3_constant14s;
using D4Packed = orvane_curve_data_d4n_constant15u;
static_assert(sizeof(D3Packed) == 8 && sizeof(D4Packed) == 8);
static_assert(offsetof(D3Packed, Words) == offsetof(D4Packed, Words));

constexpr int32_t kMantissaMax = 8191;
constexpr int32_t kExponentBias = 45;

uint16_t* WordsOf(void* data) {
    return static_cast<D3Packed*>(data)->Words;
}
const uint16_t* WordsOf(const void* data) {
    return static_cast<const D3Packed*>(data)->Words;
}

void Decode(int32_t format, const void* data, float* out) {
    DecodePackedConstant(data, format, out);
}

void Encode(int32_t format, const float* value, void* data) {
    if (format == OrvaneCurveFormatD3Constant14s)
        EncodeD3Constant14s(value, WordsOf(data));
    else
        EncodeD4nConstant15u(value, WordsOf(data));
}

}  // namespace

void EncodeD3Constant14s(const float* value, uint16_t* words) {
    double v[3];
    double largest = 0.0;
    for (int32_t c = 0; c < 3; ++c) {
        v[c] = std::isnan(value[c]) ? 0.0 : double(value[c]);
        largest = std::fmax(largest, std::fabs(v[c]));
    }
    // The smallest exponent whose mantissas hold the largest component after rounding.
    int32_t e = 0;
    while (e < 63 && std::nearbyint(largest / std::ldexp(1.0, e - kExponentBias)) > kMantissaMax)
        ++e;
    const double scale = std::ldexp(1.0, e - kExponentBias);
    for (int32_t c = 0; c < 3; ++c) {
        double m = std::nearbyint(v[c] / scale);
        m = m > kMantissaMax ? kMantissaMax : m < -kMantissaMax ? -kMantissaMax : m;
        words[c] = uint16_t((int32_t(m) + 8192) | ((e >> (2 * c)) & 3) << 14);
    }
}

void EncodeD4nConstant15u(const float* quaternion, uint16_t* words) {
    float q[4];
    const float length2 = quaternion[0] * quaternion[0] + quaternion[1] * quaternion[1] +
                          quaternion[2] * quaternion[2] + quaternion[3] * quaternion[3];
    if (!(length2 > 0.0f) || !std::isfinite(length2)) {
        q[0] = q[1] = q[2] = 0.0f;
        q[3] = 1.0f;
    } else {
        const float inverse = 1.0f / std::sqrt(length2);
        for (int32_t c = 0; c < 4; ++c)
            q[c] = quaternion[c] * inverse;
    }
    int32_t dropped = 0;
    for (int32_t c = 1; c < 4; ++c)
        if (std::fabs(q[c]) > std::fabs(q[dropped])) dropped = c;
    constexpr float kStep = 1.4142135f / 32767.0f;
    for (int32_t k = 0; k < 3; ++k) {
        const float stored = (q[(dropped + 1 + k) & 3] + 0.70710677f) / kStep;
        const float rounded = std::nearbyint(stored);
        words[k] = uint16_t(rounded < 0.0f ? 0 : rounded > 32767.0f ? 32767 : int32_t(rounded));
    }
    if (q[dropped] < 0.0f) words[0] = uint16_t(words[0] | 0x8000u);
    if (dropped & 2) words[1] = uint16_t(words[1] | 0x8000u);
    if (dropped & 1) words[2] = uint16_t(words[2] | 0x8000u);
}

int32_t PackedConstantKnotCount(const void*) {
    return 1;
}

template <int32_t kFormat>
void PackedConstantExtract(const void* data, int32_t, int32_t count, float* knots, float* controls,
                           const float*) {
    constexpr int32_t d = kFormat == OrvaneCurveFormatD3Constant14s ? 3 : 4;
    float value[4];
    Decode(kFormat, data, value);
    for (int32_t i = 0; i < count; ++i) {
        if (knots) knots[i] = 0.0f;
        if (controls) std::memcpy(controls + i * d, value, sizeof(float) * d);
    }
}

template <int32_t kFormat>
void PackedConstantSetAll(void* data, int32_t, int32_t, const float*, const float* controls) {
    Encode(kFormat, controls, data);
}

template <int32_t kFormat>
void PackedConstantLayout(const orvane_curve_builder*, void** data) {
    AggregateAllocate(reinterpret_cast<D3Packed**>(data), sizeof(D3Packed));
}

void PackedConstantCopy(void* destination, const void* source) {
    std::memcpy(WordsOf(destination), WordsOf(source), 3 * sizeof(uint16_t));
}

template <int32_t kFormat>
void PackedConstantSwizzle(void* data, int32_t, const float* scales, const float* offsets,
                           const int32_t* swizzles) {
    constexpr int32_t d = kFormat == OrvaneCurveFormatD3Constant14s ? 3 : 4;
    float old[4], value[4];
    Decode(kFormat, data, old);
    for (int32_t j = 0; j < d; ++j)
        value[j] = scales[j] * old[swizzles[j]] +
                   (kFormat == OrvaneCurveFormatD3Constant14s ? offsets[j] : 0.0f);
    Encode(kFormat, value, data);
}

#define ORVANE_PACKED_CONSTANT_OPERATIONS(F)                                                    \
    template void PackedConstantExtract<F>(const void*, int32_t, int32_t, float*, float*,       \
                                           const float*);                                       \
    template void PackedConstantSetAll<F>(void*, int32_t, int32_t, const float*, const float*); \
    template void PackedConstantLayout<F>(const orvane_curve_builder*, void**);                 \
    template void PackedConstantSwizzle<F>(void*, int32_t, const float*, const float*,          \
                                           const int32_t*);
ORVANE_PACKED_CONSTANT_OPERATIONS(OrvaneCurveFormatD3Constant14s)
ORVANE_PACKED_CONSTANT_OPERATIONS(OrvaneCurveFormatD4nConstant15u)
#undef ORVANE_PACKED_CONSTANT_OPERATIONS

}  // namespace orvane

// The 8-byte constants (formats 17 and 18, D3Constant14s and D4nConstant15u): their encoding
// and decoding, shared by the format table, the track sampler and the compressor, and the
// format table's operations on them.
#ifndef ORVANE_PACKED_CONSTANTS_H
#define ORVANE_PACKED_CONSTANTS_H

#include <cstdint>
#include <cstring>

#include "curve/orvane_curve.h"
#include "curve/orvane_quaternion_words.h"

namespace orvane {

// Component c of a D3Constant14s record: its mantissa times 2^(E - 45), E from the words' top
// bits. Every word pattern gives a finite value.
inline void DecodeD3Constant14s(const uint16_t* words, float* out) {
    const uint32_t e =
        uint32_t(words[0] >> 14) | uint32_t(words[1] >> 14) << 2 | uint32_t(words[2] >> 14) << 4;
    const uint32_t bits = (e + 127u - 45u) << 23;  // 2^(E - 45), a normal float
    float scale;
    std::memcpy(&scale, &bits, sizeof scale);
    for (int32_t c = 0; c < 3; ++c)
        out[c] = float(int32_t(words[c] & 0x3FFFu) - 8192) * scale;
}

// A D4nConstant15u record's unit quaternion (every word pattern gives finite values).
inline void DecodeD4nConstant15u(const uint16_t* words, float* out) {
    constexpr float kStep = 1.4142135f / 32767.0f;
    const float scales[4] = {kStep, kStep, kStep, kStep};
    const float offsets[4] = {-0.70710677f, -0.70710677f, -0.70710677f, -0.70710677f};
    DecodeQuaternionWords<uint16_t>(words, scales, offsets, out);
}

// The words of the nearest value each record holds (a component beyond 8191 * 2^18 in
// magnitude is held at that limit, one that is not a number as 0; a quaternion is normalised
// first, and one of no length is the identity).
void EncodeD3Constant14s(const float* value, uint16_t* words);
void EncodeD4nConstant15u(const float* quaternion, uint16_t* words);

// The format table's operations (see CurveFormat), for the format kFormat (17 or 18).
template <int32_t kFormat>
int32_t PackedConstantDimension(const void*) {
    return kFormat == OrvaneCurveFormatD3Constant14s ? 3 : 4;
}
int32_t PackedConstantKnotCount(const void* data);
template <int32_t kFormat>
void PackedConstantExtract(const void* data, int32_t first, int32_t count, float* knots,
                           float* controls, const float* identity);
template <int32_t kFormat>
void PackedConstantSetAll(void* data, int32_t knotCount, int32_t dimension, const float* knots,
                          const float* controls);
template <int32_t kFormat>
void PackedConstantLayout(const orvane_curve_builder* builder, void** data);
void PackedConstantCopy(void* destination, const void* source);
template <int32_t kFormat>
void PackedConstantSwizzle(void* data, int32_t dimension, const float* scales, const float* offsets,
                           const int32_t* swizzles);

// The record's value (3 or 4 floats, as the format says).
inline void DecodePackedConstant(const void* data, int32_t format, float* out) {
    const uint16_t* words = static_cast<const orvane_curve_data_d3_constant14s*>(data)->Words;
    if (format == OrvaneCurveFormatD3Constant14s)
        DecodeD3Constant14s(words, out);
    else
        DecodeD4nConstant15u(words, out);
}

}  // namespace orvane

#endif  // ORVANE_PACKED_CONSTANTS_H

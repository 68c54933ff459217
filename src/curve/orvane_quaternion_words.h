// Formats 8 and 9 (D4nK16uC15u, D4nK8uC7u) store a unit quaternion as three words, its largest
// component dropped: the file format's table of scales and offsets, and the decoder the curve
// codecs and the track sampler share (so that both yield the same bits).
#ifndef ORVANE_QUATERNION_WORDS_H
#define ORVANE_QUATERNION_WORDS_H

#include <cmath>
#include <cstdint>

namespace orvane {

struct ScaleOffset {
    float scale, offset;
};

// Indexed by the four-bit entries of ScaleOffsetTableEntries, one per component.
inline constexpr ScaleOffset kQuaternionScaleOffsetTable[16] = {
    {1.4142135f, -0.70710677f},   {0.70710677f, -0.35355338f}, {0.35355338f, -0.53033006f},
    {0.35355338f, -0.17677669f},  {0.35355338f, 0.17677669f},  {0.17677669f, -0.17677669f},
    {0.17677669f, -0.088388346f}, {0.17677669f, 0.0f},         {-1.4142135f, 0.70710677f},
    {-0.70710677f, 0.35355338f},  {-0.35355338f, 0.53033006f}, {-0.35355338f, 0.17677669f},
    {-0.35355338f, -0.17677669f}, {-0.17677669f, 0.17677669f}, {-0.17677669f, 0.088388346f},
    {-0.17677669f, -0.0f}};

// Q is the word (uint16_t or uint8_t): its top bit is a flag, the rest the quantised value.
template <typename Q>
inline constexpr int32_t kQuaternionMax = sizeof(Q) == 2 ? 32767 : 127;
template <typename Q>
inline constexpr uint32_t kFlagBit = sizeof(Q) == 2 ? 0x8000u : 0x80u;

// The per-component scales (per step of a word) and offsets that a curve's table entries select.
template <typename Q>
[[gnu::always_inline]] inline void QuaternionScalesOffsets(uint32_t entries, float* scales,
                                                           float* offsets) {
    const float unit = 1.0f / float(kQuaternionMax<Q>);
    for (int32_t c = 0; c < 4; ++c) {
        const ScaleOffset& e = kQuaternionScaleOffsetTable[(entries >> 4 * c) & 15];
        scales[c] = e.scale * unit;
        offsets[c] = e.offset;
    }
}

// One quaternion from its three words w: the flags of w[1] and w[2] name the dropped component,
// the flag of w[0] its sign.
template <typename Q>
[[gnu::always_inline]] inline void DecodeQuaternionWords(const Q* w, const float* scales,
                                                         const float* offsets, float* out) {
    constexpr uint32_t flag = kFlagBit<Q>;
    const int32_t dropped = 2 * ((w[1] & flag) != 0) + ((w[2] & flag) != 0);
    float sum = 0.0f;
    for (int32_t k = 0; k < 3; ++k) {
        const int32_t c = (dropped + 1 + k) & 3;
        out[c] = float(w[k] & (flag - 1)) * scales[c] + offsets[c];
        sum += out[c] * out[c];
    }
    // Corrupt words can make the three stored squares exceed one; a zero keeps the square root
    // real.
    const float rest = 1.0f - sum;
    const float value = rest > 0.0f ? std::sqrt(rest) : 0.0f;
    out[dropped] = (w[0] & flag) ? -value : value;
}

}  // namespace orvane

#endif  // ORVANE_QUATERNION_WORDS_H

// A reader of the 8-byte constants written from their description in orvane/curve.h alone,
// in doubles: the tests compare the library's decoding with it.
#ifndef ORVANE_TEST_PACKED_CONSTANT_REFERENCE_H
#define ORVANE_TEST_PACKED_CONSTANT_REFERENCE_H

#include <cmath>
#include <cstdint>

namespace orvane_test {

// D3Constant14s: component c is m * 2^(E - 45), m the low 14 bits less 8192, E from the top
// bits of the three words.
inline void ReferencePosition(const uint16_t* w, double* out) {
    const int e = (w[0] >> 14) | (w[1] >> 14) << 2 | (w[2] >> 14) << 4;
    for (int c = 0; c < 3; ++c)
        out[c] = std::ldexp(double(int(w[c] & 0x3FFF) - 8192), e - 45);
}

// D4nConstant15u: the dropped index from the top bits of words 1 and 2, its sign from word 0,
// the three others (q / 32767) * 1.4142135 - 0.70710677 in order after it.
inline int ReferenceDroppedIndex(const uint16_t* w) {
    return ((w[1] >> 15) << 1) | (w[2] >> 15);
}
inline void ReferenceQuaternion(const uint16_t* w, double* out) {
    const int dropped = ReferenceDroppedIndex(w);
    double sum = 0;
    for (int k = 0; k < 3; ++k) {
        const int c = (dropped + 1 + k) % 4;
        out[c] = double(w[k] & 0x7FFF) / 32767.0 * 1.4142135 - 0.70710677;
        sum += out[c] * out[c];
    }
    const double rest = 1.0 - sum;
    out[dropped] = (rest > 0 ? std::sqrt(rest) : 0.0) * ((w[0] >> 15) ? -1.0 : 1.0);
}

}  // namespace orvane_test

#endif  // ORVANE_TEST_PACKED_CONSTANT_REFERENCE_H

// A reader of compact curve records written from the record's description alone: it shares no
// code with the library's decoder.
#ifndef ORVANE_TESTS_CURVE_COMPACT_REFERENCE_H
#define ORVANE_TESTS_CURVE_COMPACT_REFERENCE_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "orvane/curve.h"

namespace orvane_test {

struct CompactReference {
    const orvane_curve_data_da_compact& r;

    int Stored() const { return r.Packing == 1 ? 3 : r.Dimension; }
    uint32_t Bits(int64_t position, int count) const {
        uint32_t q = 0;
        for (int b = 0; b < count; ++b, ++position)
            q |= uint32_t((r.Values[position / 8] >> (position % 8)) & 1) << b;
        return q;
    }
    int64_t Start(int segment) const {
        const int s = Stored();
        int64_t position = r.SegmentStarts[segment / 8];
        for (int g = segment - segment % 8; g < segment; ++g) {
            const int knots = std::min<int>(r.SegmentLength, r.KnotCount - g * r.SegmentLength);
            position += int64_t(knots) * s * (r.SegmentHeaders[g * (1 + 2 * s)] & 31);
        }
        return position;
    }
    std::vector<double> Knot(int k) const {
        const int d = r.Dimension, s = Stored();
        const int segment = k / r.SegmentLength, local = k % r.SegmentLength;
        const uint8_t* header = r.SegmentHeaders + segment * (1 + 2 * s);
        const int bits = header[0] & 31, dropped = (header[0] >> 5) & 3;
        std::vector<double> out(size_t(d), 0.0);
        double sum = 0;
        for (int j = 0; j < s; ++j) {
            const int c = r.Packing == 1 ? (dropped + 1 + j) % 4 : j;
            const double m = r.Ranges[c], e = r.Ranges[d + c];
            const double low = m + e * header[1 + 2 * j] / 255.0;
            const double span = e * header[2 + 2 * j] / 255.0;
            double v = low;
            if (bits > 0) {
                const int64_t at = Start(segment) + int64_t(local * s + j) * bits;
                v += span * Bits(at, bits) / double((1u << bits) - 1);
            }
            out[size_t(c)] = v;
            sum += v * v;
        }
        if (r.Packing == 1) {
            const double w = std::sqrt(std::max(0.0, 1.0 - sum));
            out[size_t(dropped)] = (header[0] & 0x80) ? -w : w;
        }
        return out;
    }
};

}  // namespace orvane_test

#endif  // ORVANE_TESTS_CURVE_COMPACT_REFERENCE_H

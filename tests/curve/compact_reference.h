// A reader of compact curve records written from the record's description alone: it shares no
// code with the library's decoder.
#ifndef ORVANE_TESTS_CURVE_COMPACT_REFERENCE_H
#define ORVANE_TESTS_CURVE_COMPACT_REFERENCE_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "orvane/curve.h"

namespace orvane_test {

struct CompactReference {
    const orvane_curve_data_da_compact& r;

    int Stored() const { return r.Packing != 0 ? 3 : r.Dimension; }
    int Segments() const { return (r.KnotCount + r.SegmentLength - 1) / r.SegmentLength; }
    // The parts of Bytes, in order.
    int StartsAt() const { return r.Packing == 2 ? 0 : 8 * r.Dimension; }
    int HeadersAt() const { return StartsAt() + 4 * (Segments() > 0 ? (Segments() - 1) / 8 : 0); }
    int ValuesAt() const { return HeadersAt() + Segments() * (1 + 3 * Stored()); }
    uint32_t Word(int at) const {
        return uint32_t(r.Bytes[at]) | uint32_t(r.Bytes[at + 1]) << 8 |
               uint32_t(r.Bytes[at + 2]) << 16 | uint32_t(r.Bytes[at + 3]) << 24;
    }
    // Packing 2 implies every component's range: low -1, extent 2.
    double Range(int i) const {
        if (r.Packing == 2) return i < r.Dimension ? -1.0 : 2.0;
        const uint32_t w = Word(4 * i);
        float f;
        std::memcpy(&f, &w, 4);
        return f;
    }
    const uint8_t* Header(int segment) const {
        return r.Bytes + HeadersAt() + segment * (1 + 3 * Stored());
    }
    // Bits a knot of the segment takes.
    int KnotBits(int segment) const {
        int bits = 0;
        for (int j = 0; j < Stored(); ++j)
            bits += Header(segment)[3 + 3 * j];
        return bits;
    }
    uint32_t Bits(int64_t position, int count) const {
        uint32_t q = 0;
        const uint8_t* values = r.Bytes + ValuesAt();
        for (int b = 0; b < count; ++b, ++position)
            q |= uint32_t((values[position / 8] >> (position % 8)) & 1) << b;
        return q;
    }
    int64_t Start(int segment) const {
        int64_t position = segment < 8 ? 0 : int32_t(Word(StartsAt() + 4 * (segment / 8 - 1)));
        for (int g = segment - segment % 8; g < segment; ++g) {
            const int knots = std::min<int>(r.SegmentLength, r.KnotCount - g * r.SegmentLength);
            position += int64_t(knots) * KnotBits(g);
        }
        return position;
    }
    std::vector<double> Knot(int k) const {
        const int d = r.Dimension, s = Stored();
        const int segment = k / r.SegmentLength, local = k % r.SegmentLength;
        const uint8_t* header = Header(segment);
        const int dropped = (header[0] >> 5) & 3;
        std::vector<double> out(size_t(d), 0.0);
        double sum = 0;
        int64_t at = Start(segment) + int64_t(local) * KnotBits(segment);
        for (int j = 0; j < s; ++j) {
            const int c = r.Packing != 0 ? (dropped + 1 + j) % 4 : j;
            const int bits = header[3 + 3 * j];
            const double m = Range(c), e = Range(d + c);
            const double low = m + e * header[1 + 3 * j] / 255.0;
            const double span = e * header[2 + 3 * j] / 255.0;
            double v = low;
            if (bits > 0) v += span * Bits(at, bits) / double((1u << bits) - 1);
            at += bits;
            out[size_t(c)] = v;
            sum += v * v;
        }
        if (r.Packing != 0) {
            const double w = std::sqrt(std::max(0.0, 1.0 - sum));
            out[size_t(dropped)] = (header[0] & 0x80) ? -w : w;
        }
        return out;
    }
};

}  // namespace orvane_test

#endif  // ORVANE_TESTS_CURVE_COMPACT_REFERENCE_H

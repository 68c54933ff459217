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
    // Layout 1 gives each segment header whole bytes: flags, then low, extent and depth per stored
    // component. Layout 2 packs them: 3 flag bits for quaternions, then 8 + 8 + 5 bits per stored
    // component. Layout 3 packs 8 + 8 + 8 + 5: a line's start and end and a band's width.
    // Layouts 4 and 5 are 2 and 3 with the values ahead of the headers, which end Bytes.
    bool Lines() const { return r.Layout == 3 || r.Layout == 5; }
    bool HeadersLast() const { return r.Layout == 4 || r.Layout == 5; }
    int HeaderBits() const {
        if (r.Layout == 1) return 8 * (1 + 3 * Stored());
        return (r.Packing != 0 ? 3 : 0) + (Lines() ? 29 : 21) * Stored();
    }
    int HeaderBytes() const { return (Segments() * HeaderBits() + 7) / 8; }
    // The parts of Bytes, in order.
    // Layout 2 stores a quaternion's range (Packing 1) in 16384ths, lows as int16 and extents as
    // uint16; other ranges as floats.
    bool Fractions() const { return r.Layout >= 2 && r.Packing == 1; }
    int StartsAt() const { return r.Packing == 2 ? 0 : (Fractions() ? 4 : 8) * r.Dimension; }
    int StartsEnd() const { return StartsAt() + 4 * (Segments() > 0 ? (Segments() - 1) / 8 : 0); }
    int HeadersAt() const { return HeadersLast() ? r.ByteCount - HeaderBytes() : StartsEnd(); }
    int ValuesAt() const { return HeadersLast() ? StartsEnd() : StartsEnd() + HeaderBytes(); }
    uint32_t Word(int at) const {
        return uint32_t(r.Bytes[at]) | uint32_t(r.Bytes[at + 1]) << 8 |
               uint32_t(r.Bytes[at + 2]) << 16 | uint32_t(r.Bytes[at + 3]) << 24;
    }
    // Packing 2 implies every component's range: low -1, extent 2.
    double Range(int i) const {
        if (r.Packing == 2) return i < r.Dimension ? -1.0 : 2.0;
        if (Fractions()) {  // lows signed, extents unsigned
            const uint16_t q = uint16_t(r.Bytes[2 * i] | r.Bytes[2 * i + 1] << 8);
            return (i < r.Dimension ? double(int16_t(q)) : double(q)) / 16384.0;
        }
        const uint32_t w = Word(4 * i);
        float f;
        std::memcpy(&f, &w, 4);
        return f;
    }
    // A header field: `count` bits at bit `at` of the segment's header, least significant first.
    int64_t FieldAt(int segment, int field) const {
        return int64_t(HeadersAt()) * 8 + int64_t(segment) * HeaderBits() + field;
    }
    uint32_t Field(int segment, int at, int count) const {
        uint32_t q = 0;
        int64_t position = FieldAt(segment, at);
        for (int b = 0; b < count; ++b, ++position)
            q |= uint32_t((r.Bytes[position / 8] >> (position % 8)) & 1) << b;
        return q;
    }
    void SetField(int segment, int at, int count, uint32_t v) {
        int64_t position = FieldAt(segment, at);
        uint8_t* bytes = const_cast<uint8_t*>(r.Bytes);
        for (int b = 0; b < count; ++b, ++position) {
            const uint8_t bit = uint8_t(1u << (position % 8));
            bytes[position / 8] =
                uint8_t((v >> b) & 1 ? bytes[position / 8] | bit : bytes[position / 8] & ~bit);
        }
    }
    // Layout 1: a byte each for low, extent and depth per component after the flags byte.
    // Layout 2: after the flags (quaternions), all depths, then all lows and extents. Layout 3:
    // the same with each component's line start, line end and band width in place of low and
    // extent.
    int FlagBits() const { return r.Packing != 0 ? 3 : 0; }
    int LowAt(int j) const {
        if (r.Layout == 1) return 8 + 24 * j;
        return FlagBits() + 5 * Stored() + (Lines() ? 24 : 16) * j;
    }
    int DepthAt(int j) const { return r.Layout == 1 ? 24 + 24 * j : FlagBits() + 5 * j; }
    int Dropped(int segment) const { return int(Field(segment, r.Layout == 1 ? 5 : 0, 2)); }
    bool Negative(int segment) const { return Field(segment, r.Layout == 1 ? 7 : 2, 1) != 0; }
    int Low(int segment, int j) const { return int(Field(segment, LowAt(j), 8)); }
    int Extent(int segment, int j) const { return int(Field(segment, LowAt(j) + 8, 8)); }
    int Width(int segment, int j) const { return int(Field(segment, LowAt(j) + 16, 8)); }
    int Depth(int segment, int j) const {
        return int(Field(segment, DepthAt(j), r.Layout == 1 ? 8 : 5));
    }
    void SetDepth(int segment, int j, int bits) {
        SetField(segment, DepthAt(j), r.Layout == 1 ? 8 : 5, uint32_t(bits));
    }
    // Bits a knot of the segment takes.
    int KnotBits(int segment) const {
        int bits = 0;
        for (int j = 0; j < Stored(); ++j)
            bits += Depth(segment, j);
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
        const int dropped = Dropped(segment);
        std::vector<double> out(size_t(d), 0.0);
        double sum = 0;
        int64_t at = Start(segment) + int64_t(local) * KnotBits(segment);
        for (int j = 0; j < s; ++j) {
            const int c = r.Packing != 0 ? (dropped + 1 + j) % 4 : j;
            const int bits = Depth(segment, j);
            const double m = Range(c), e = Range(d + c);
            double low = m + e * Low(segment, j) / 255.0;
            double span = e * Extent(segment, j) / 255.0;
            if (Lines()) {
                // The line from its start at the segment's first knot to its end at knot
                // SegmentLength - 1, and the band of the given width centred on it.
                const double start = low, end = m + e * Extent(segment, j) / 255.0;
                const double line = r.SegmentLength > 1
                                        ? start + (end - start) * local / (r.SegmentLength - 1)
                                        : start;
                span = e * Width(segment, j) / 255.0;
                low = bits > 0 ? line - span / 2 : line;
            }
            double v = low;
            if (bits > 0) v += span * Bits(at, bits) / double((1u << bits) - 1);
            at += bits;
            out[size_t(c)] = v;
            sum += v * v;
        }
        if (r.Packing != 0) {
            const double w = std::sqrt(std::max(0.0, 1.0 - sum));
            out[size_t(dropped)] = Negative(segment) ? -w : w;
        }
        return out;
    }
};

}  // namespace orvane_test

#endif  // ORVANE_TESTS_CURVE_COMPACT_REFERENCE_H

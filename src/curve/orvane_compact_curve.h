// The compact curve format: knots on a uniform grid, values in segments that each hold their
// own sub-range and bit depths. Shared by the format table (orvane_curve_codecs.cpp), the
// samplers and the compressor, which chooses the bit depths itself.
#ifndef ORVANE_COMPACT_CURVE_H
#define ORVANE_COMPACT_CURVE_H

#include <cmath>
#include <cstdint>

#include "orvane/curve.h"

struct orvane_curve_builder;

namespace orvane {

using DaCompact = orvane_curve_data_da_compact;

constexpr int32_t kCompactMaxBits = 24;
constexpr int32_t kCompactMaxDimension = 16;
// Bytes past the last value, so that every value is read with one 32-bit load, in the layouts
// that end with the values (1 to 3). The others end with the segment headers, which take at
// least kCompactReadBytes - 1 bytes.
constexpr int32_t kCompactSpareBytes = 4;
constexpr int32_t kCompactReadBytes = 4;
// Segment starts are stored for every eighth segment after the first (which starts at 0); the
// others follow their predecessors.
constexpr int32_t kCompactStartEvery = 8;
// The layouts of Bytes that this reader knows (the record's Layout): 1 stores each segment
// header in whole bytes, 2 packs the headers' fields into bits, 3 packs them too but gives each
// stored component of a segment a straight line (its value at the segment's first knot and at
// knot SegmentLength - 1) and a band around it, so that a component that moves steadily across
// a segment needs only the bits of its wobble about the line. Layouts 4 and 5 (what the
// encoders write, 5 where it is smaller) are 2 and 3 with the values ahead of the segment
// headers, which then stand in for the spare bytes.
constexpr int16_t kCompactFirstLayout = 1;
constexpr int16_t kCompactLayout = 2;
constexpr int16_t kCompactLineLayout = 3;
constexpr int16_t kCompactHeadersLastLayout = 4;
constexpr int16_t kCompactLineHeadersLastLayout = 5;

// The layout of a record's segment headers (1, 2 or 3), wherever they lie.
constexpr int32_t CompactHeaderLayout(int32_t layout) {
    return layout == kCompactHeadersLastLayout       ? kCompactLayout
           : layout == kCompactLineHeadersLastLayout ? kCompactLineLayout
                                                     : layout;
}
constexpr bool CompactHasLines(int32_t layout) {
    return CompactHeaderLayout(layout) == kCompactLineLayout;
}
constexpr bool CompactHeadersLast(int32_t layout) {
    return layout == kCompactHeadersLastLayout || layout == kCompactLineHeadersLastLayout;
}
// Layout 2 or 3 with its values ahead of its headers.
constexpr int16_t CompactHeadersLastOf(int32_t layout) {
    return CompactHasLines(layout) ? kCompactLineHeadersLastLayout : kCompactHeadersLastLayout;
}
// What the curve builder lays out: 16 bits a component, 16 knots a segment.
constexpr int32_t kCompactDefaultBits = 16;
constexpr int32_t kCompactDefaultSegmentLength = 16;

// Unit quaternions store three components; kCompactQuaternionInUnitRange stores no curve
// range, every component's being -1 to 1.
enum CompactPacking : uint8_t {
    kCompactComponents = 0,
    kCompactQuaternion = 1,
    kCompactQuaternionInUnitRange = 2
};
constexpr int32_t kCompactPackingCount = 3;

constexpr bool CompactIsQuaternion(int32_t packing) {
    return packing == kCompactQuaternion || packing == kCompactQuaternionInUnitRange;
}
inline int32_t CompactStoredComponents(int32_t packing, int32_t dimension) {
    return CompactIsQuaternion(packing) ? 3 : dimension;
}
// Bytes of the curve's range: Dimension lows and Dimension extents, none when implied; in
// layout 2 a quaternion's as 16-bit fractions (kCompactUnitRangeScale), others as floats.
constexpr int32_t CompactRangeBytes(int32_t layout, int32_t packing, int32_t dimension) {
    return packing == kCompactQuaternionInUnitRange                         ? 0
           : packing == kCompactQuaternion && layout != kCompactFirstLayout ? 4 * dimension
                                                                            : 8 * dimension;
}
// A layout 2 quaternion's range value v is stored as v * 16384: an int16 for a low, a uint16
// for an extent.
constexpr float kCompactUnitRangeScale = 16384.0f;
inline int32_t CompactSegmentCount(int32_t knots, int32_t segmentLength) {
    return knots <= 0 || segmentLength <= 0 ? 0 : (knots - 1) / segmentLength + 1;
}
inline int32_t CompactStartCount(int32_t segments) {
    return segments <= 1 ? 0 : (segments - 1) / kCompactStartEvery;
}
// Bits of a segment's header. Layout 1: a flags byte, then a byte each for low, extent and
// depth per stored component. Layout 2: the dropped component (2 bits) and its sign (1 bit) for
// quaternions, then every stored component's depth (5 bits each), then every stored component's
// low and extent (8 bits each). Layout 3: as layout 2 with, per stored component, the line's two
// ends and the band's width (8 bits each) in place of low and extent.
constexpr int32_t CompactHeaderBits(int32_t layout, int32_t packing, int32_t stored) {
    return layout == kCompactFirstLayout ? 8 * (1 + 3 * stored)
                                         : (CompactIsQuaternion(packing) ? 3 : 0) +
                                               (CompactHasLines(layout) ? 29 : 21) * stored;
}
// Bytes of all segment headers of a record.
constexpr int64_t CompactHeadersBytes(int32_t layout, int32_t packing, int32_t stored,
                                      int32_t segments) {
    return (int64_t(segments) * CompactHeaderBits(layout, packing, stored) + 7) / 8;
}

// What a record's layout saves on layout 1: the bytes of its headers, range and spare bytes in
// layout 1 less their bytes in its own. Layout 3 saves what layout 2 does: the bits its lines
// add to layout 2's headers stay counted.
inline int64_t CompactLayoutSaving(int32_t layout, int32_t packing, int32_t dimension,
                                   int32_t knots, int32_t segmentLength) {
    const int32_t stored = CompactStoredComponents(packing, dimension);
    const int32_t segments = CompactSegmentCount(knots, segmentLength);
    const int32_t counted = CompactHasLines(layout) ? kCompactLayout : layout;
    return CompactHeadersBytes(kCompactFirstLayout, packing, stored, segments) -
           CompactHeadersBytes(counted, packing, stored, segments) +
           CompactRangeBytes(kCompactFirstLayout, packing, dimension) -
           CompactRangeBytes(counted, packing, dimension) +
           (CompactHeadersLast(layout) ? kCompactSpareBytes : 0);
}

// The sizes of a record's parts in an encoder's layout (2 to 5), for the given bit depths (per
// segment, per stored component; null: the builder's 16 bits).
struct CompactSizes {
    int32_t segments = 0;
    int32_t starts = 0;        // stored segment starts
    int32_t valuesOffset = 0;  // where the values begin in the bytes
    int32_t bytes = 0;         // all of them (with the spare bytes of layouts 1 to 3)
    bool fits = false;         // false when the bytes would pass 2^31 bits
};
CompactSizes CompactSizesFor(int32_t knots, int32_t dimension, int32_t packing,
                             int32_t segmentLength, const uint8_t* depths,
                             int32_t layout = kCompactHeadersLastLayout);

// True when the record is one the decoders may read: every field, range, bit depth and
// segment position checked (see orvane/curve.h). Logs nothing.
bool CompactCurveIsSound(const DaCompact* r);

// One segment, decoded for reading: stored component j of local knot k is
// low[j] + slope[j] * k + step[j] * q, q the bits[j] bits at start + k * stride + offset[j]
// (slope 0 but in layout 3).
struct CompactSegment {
    int64_t start;
    int32_t stride;  // bits a knot takes
    int32_t stored;
    int32_t dropped;                         // the quaternion component not stored, or -1
    bool negative;                           // the dropped component is negative
    int8_t component[kCompactMaxDimension];  // output component of stored component j
    uint8_t bits[kCompactMaxDimension];
    uint16_t offset[kCompactMaxDimension];
    float low[kCompactMaxDimension];
    float slope[kCompactMaxDimension];
    float step[kCompactMaxDimension];
};
void ViewCompactSegment(const DaCompact* r, int32_t segment, CompactSegment* s);
// The same with the segment's values at a given bit position (of other storage, say).
void ViewCompactSegmentAt(const DaCompact* r, int32_t segment, int64_t start, CompactSegment* s);

// The bytes from p to the end of a record's bytes, fewer than four, as a little-endian word.
uint32_t LoadCompactTail(const uint8_t* p, const uint8_t* end);

// Reads b (at most 25) bits at a bit position of a sound record's segment headers, whose bytes
// end at `end` (the record's): one 32-bit load, or where fewer than four bytes are left (the
// headers may end the record) a byte at a time.
[[gnu::always_inline]] inline uint32_t ReadCompactHeaderBits(const uint8_t* headers,
                                                             int64_t position, int32_t bits,
                                                             const uint8_t* end) {
    const uint8_t* p = headers + (position >> 3);
    const uint32_t word = end - p >= 4 ? uint32_t(p[0]) | uint32_t(p[1]) << 8 |
                                             uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24
                                       : LoadCompactTail(p, end);
    return (word >> (position & 7)) & ((1u << bits) - 1u);
}

// Reads b (at most 24) bits at a bit position of a sound record's values.
inline uint32_t ReadCompactBits(const uint8_t* values, int64_t position, int32_t bits) {
    const uint8_t* p = values + (position >> 3);
    const uint32_t word =
        uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    return (word >> (position & 7)) & ((1u << bits) - 1u);
}

// Knot `local` of a viewed segment: Dimension values.
inline void DecodeCompactSegmentKnot(const CompactSegment& s, const uint8_t* values, int32_t local,
                                     float* out) {
    const int64_t position = s.start + int64_t(local) * s.stride;
    float sum = 0.0f;
    for (int32_t j = 0; j < s.stored; ++j) {
        const float v =
            s.low[j] + s.slope[j] * float(local) +
            s.step[j] * float(ReadCompactBits(values, position + s.offset[j], s.bits[j]));
        out[s.component[j]] = v;
        sum += v * v;
    }
    if (s.dropped >= 0) {
        const float w = std::sqrt(sum < 1.0f ? 1.0f - sum : 0.0f);
        out[s.dropped] = s.negative ? -w : w;
    }
}

// The values of a sound record: its bytes past the ranges, starts and headers.
const uint8_t* CompactValues(const DaCompact* r);

// A segment of a sound record of at most four components, decoded for reading knot after knot.
// A sampler keeps one per curve it plays, so that a knot of the segment it read last costs its
// bits alone: stored component j of knot `first + k` is low[j] + slope[j] * k + step[j] * q, q
// the bits under mask[j] at bit start + k * stride + offset[j] of the values (those of
// CompactSegment).
constexpr int32_t kCompactCursorComponents = 4;
struct CompactCursor {
    const uint8_t* headers;  // the record's segment headers
    const uint8_t* values;
    int64_t start;
    int32_t first;  // the segment's first knot; -1: no segment viewed yet
    int32_t segment;
    int32_t stride;
    float sign;      // the dropped component's sign: 1 or -1
    int8_t dropped;  // the quaternion component not stored, or -1
    uint8_t stored;
    uint8_t place[kCompactCursorComponents];  // quaternions: output component of stored one j,
                                              // the dropped one last
    uint16_t offset[kCompactCursorComponents];
    uint32_t mask[kCompactCursorComponents];
    float low[kCompactCursorComponents];
    float slope[kCompactCursorComponents];
    float step[kCompactCursorComponents];
};

// Views the segment of a knot of a sound record of Dimension 1 to 4 (the next segment from the
// one viewed before without reading the stored starts). A cursor that has viewed none (first
// -1) takes the record's layout; it is not moved to another record after.
void MoveCompactCursor(const DaCompact* r, int32_t knot, CompactCursor* c);

// knot / segmentLength for a knot of 0 to 2^31 - 1 and a length of 1 to 255, without a division.
int32_t CompactKnotSegment(int32_t knot, int32_t segmentLength);

inline void PlaceCompactCursor(const DaCompact* r, int32_t knot, CompactCursor* c) {
    if (c->first >= 0 && uint32_t(knot - c->first) < uint32_t(r->SegmentLength)) return;
    MoveCompactCursor(r, knot, c);
}

// The value under a mask at a bit position: one unaligned 32-bit load (a value of at most 24
// bits starting at bit 7 of its byte ends in the fourth byte; the spare bytes, or the headers
// after the values, cover the last).
inline uint32_t ReadCompactField(const uint8_t* values, int64_t position, uint32_t mask) {
    const uint8_t* p = values + (position >> 3);
    const uint32_t word =
        uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    return (word >> (position & 7)) & mask;
}

// Knot `knot` (of the cursor's segment) of a record of dimension D (1 to 4): D values, in the
// operations of DecodeCompactSegmentKnot.
template <int D>
[[gnu::always_inline]] inline void DecodeCompactCursorKnot(const CompactCursor& c, int32_t knot,
                                                           float* out) {
    static_assert(D >= 1 && D <= kCompactCursorComponents, "at most four components");
    const uint8_t* values = c.values;
    const int32_t local = knot - c.first;
    const float along = float(local);
    const int64_t position = c.start + int64_t(local) * c.stride;
    if (D == 4 && c.dropped >= 0) {
        // A quaternion: three stored components after the dropped one, each to its place, then
        // the dropped one.
        float sum = 0.0f;
#pragma GCC unroll 3
        for (int32_t j = 0; j < 3; ++j) {
            const float v =
                c.low[j] + c.slope[j] * along +
                c.step[j] * float(ReadCompactField(values, position + c.offset[j], c.mask[j]));
            out[c.place[j]] = v;
            sum += v * v;
        }
        // The negation as a product, which stays in the floating-point registers (w is no NaN).
        out[c.place[3]] = std::sqrt(sum < 1.0f ? 1.0f - sum : 0.0f) * c.sign;
        return;
    }
#pragma GCC unroll 4
    for (int32_t j = 0; j < D; ++j)
        out[j] = c.low[j] + c.slope[j] * along +
                 c.step[j] * float(ReadCompactField(values, position + c.offset[j], c.mask[j]));
}

// Knots [first, first + count) of a sound record of dimension D (1 to 4), through one cursor:
// their times (when `knots` is not null) and D values each.
template <int D>
[[gnu::always_inline]] inline void DecodeCompactWindowOf(const DaCompact* r, int32_t first,
                                                         int32_t count, float* knots,
                                                         float* controls) {
    CompactCursor c;
    c.first = -1;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t k = first + i;
        PlaceCompactCursor(r, k, &c);
        if (knots) knots[i] = float(k) * r->KnotInterval;
        DecodeCompactCursorKnot<D>(c, k, controls + int64_t(i) * D);
    }
}

// Controls of `count` knots from `first` (Dimension values each) of a sound record.
void DecodeCompactKnots(const DaCompact* r, int32_t first, int32_t count, float* controls);
// The same for the samplers, which have the record's soundness from its recognition: knot
// times (when `knots` is not null) and controls, the record's fields not checked again.
void DecodeCompactWindow(const DaCompact* r, int32_t first, int32_t count, float* knots,
                         float* controls);

// The smallest knot index whose time is greater than t, or the last; 0 without knots.
int32_t FindCompactKnot(const DaCompact* r, float t);

// Whether knot k (1 to KnotCount - 1) is the one FindCompactKnot finds for t: knot k - 1 at or
// before t and knot k after it (or k the last). The knot times rise with the index, so at most
// one k answers, and FindCompactKnot's answer for any t at or past 0 does.
inline bool IsCompactKnotFor(const DaCompact* r, int32_t k, float t) {
    const int32_t last = r->KnotCount - 1;
    return k >= 1 && k <= last && float(k - 1) * r->KnotInterval <= t &&
           (k == last || float(k) * r->KnotInterval > t);
}

// FindCompactKnot's answer, guessed from t times `inverse` (CompactKnotInverse of the record)
// rather than by a division, then made exact as FindCompactKnot makes its own guess.
int32_t FindCompactKnotBy(const DaCompact* r, float t, float inverse);
// 1 / KnotInterval for FindCompactKnotBy, or 0 where that search does not apply (a single knot,
// an interval whose inverse is not a finite positive number, or more than 2^22 knots, whose
// guess a float product could miss by more than a knot).
float CompactKnotInverse(const DaCompact* r);

// FindCompactKnot, trying the hinted knot and the one after it first (playback moves on by
// less than a knot interval a frame); with CompactKnotInverse of the record (not 0), searching
// by FindCompactKnotBy.
inline int32_t FindCompactKnotNear(const DaCompact* r, float t, int32_t hint,
                                   float inverse = 0.0f) {
    if (IsCompactKnotFor(r, hint, t)) return hint;
    if (hint < r->KnotCount && IsCompactKnotFor(r, hint + 1, t)) return hint + 1;
    return inverse > 0.0f ? FindCompactKnotBy(r, t, inverse) : FindCompactKnot(r, t);
}

// Encodes `controls` (KnotCount x Dimension) into a record whose bytes are laid out for its
// knot count, packing, segment length and the given depths (per segment, per stored
// component; null: the depths its segment headers already hold), and sets its ranges, segment
// headers and starts. A quaternion whose dropped component has the other sign than the
// segment's is stored negated (the same rotation).
void EncodeCompact(DaCompact* r, const float* controls, const uint8_t* depths);
// The steps of EncodeCompact, for an encoder that tries depths segment by segment:
// PrepareCompact chooses each segment's dropped quaternion component and sets the ranges;
// EncodeCompactSegment writes one segment's header with the given depths (one per stored
// component) and its values at a bit position of `values`; CompactSegmentSpan is a stored
// component's extent within the segment once encoded; CompactSegmentError is the largest
// distance between the segment's controls and its values as they decode from there.
void PrepareCompact(DaCompact* r, const float* controls);
void EncodeCompactSegment(DaCompact* r, const float* controls, int32_t segment,
                          const uint8_t* depths, uint8_t* values, int64_t position);
float CompactSegmentSpan(const DaCompact* r, int32_t segment, int32_t j);
// For an encoder that tries many depths on one segment: CompactSegmentTargetsOf writes the
// segment's values as its header stores them (quaternions unit length, on the side of its
// dropped component's sign), SegmentLength x Dimension floats at most, once; for each trial
// CompactSegmentTrialError then sets the segment's header for the depths and gives the error
// that EncodeCompactSegment and CompactSegmentError would give, without writing the values. It
// stops at the first knot whose error passes `limit` and gives that error. With `rangesSet`, a
// trial after the first on the same targets keeps the sub-ranges (layout 3: lines and bands) the
// header holds, which depend on the targets alone, and sets the depths only.
void CompactSegmentTargetsOf(const DaCompact* r, const float* controls, int32_t segment,
                             float* targets);
float CompactSegmentTrialError(DaCompact* r, const float* targets, int32_t segment,
                               const uint8_t* depths, float limit, bool rangesSet = false);
float CompactSegmentError(const DaCompact* r, const float* controls, int32_t segment,
                          const uint8_t* values, int64_t position);

// The format table's operations.
int32_t CompactDimension(const void* data);
int32_t CompactKnotCount(const void* data);
int32_t CompactFindKnot(const void* data, float t);
int32_t CompactFindCloseKnot(const void* data, float t, int32_t hint);
void CompactExtract(const void* data, int32_t first, int32_t count, float* knots, float* controls,
                    const float* identity);
void CompactLayout(const orvane_curve_builder* builder, void** data);
void CompactSetAll(void* data, int32_t knotCount, int32_t dimension, const float* knots,
                   const float* controls);
void CompactCopy(void* destination, const void* source);
void CompactSwizzle(void* data, int32_t dimension, const float* scales, const float* offsets,
                    const int32_t* swizzles);

}  // namespace orvane

#endif  // ORVANE_COMPACT_CURVE_H

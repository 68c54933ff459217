// The compact curve format: its record checks, decoding, knot search, encoding for given bit
// depths, and the operations of its row in the format table.
#include "curve/orvane_compact_curve.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "curve/orvane_curve_private.h"
#include "math/orvane_math_internal.h"

namespace orvane {
namespace {

constexpr float kOne255th = 1.0f / 255.0f;

// Division by a segment length (1 to 255) as a multiplication: for x below 2^31 and
// 2^(l-1) < d <= 2^l, m = floor(2^(31 + l) / d) + 1 makes (x m) >> (31 + l) the quotient (the
// error x (m d - 2^(31 + l)) / (d 2^(31 + l)) stays below 2^-l <= 1 / d), and x m < 2^64.
struct LengthDivisor {
    uint64_t multiplier;
    uint32_t shift;
};
struct LengthDivisors {
    LengthDivisor value[256];
    constexpr LengthDivisors() : value() {
        for (uint32_t d = 1; d < 256; ++d) {
            uint32_t l = 0;
            while ((1u << l) < d)
                ++l;
            value[d].shift = 31 + l;
            value[d].multiplier = (uint64_t(1) << (31 + l)) / d + 1;
        }
    }
};
constexpr LengthDivisors kLengthDivisors;

inline int32_t DivideByLength(int32_t x, uint8_t length) {
    const LengthDivisor& divisor = kLengthDivisors.value[length];
    return int32_t((uint64_t(uint32_t(x)) * divisor.multiplier) >> divisor.shift);
}

bool Finite(float v) {
    return std::isfinite(v);
}

// The parts of the record's bytes: ranges (float32, little-endian: Dimension lows, then
// Dimension extents), the stored segment starts (uint32, little-endian), the segment headers,
// then the values; in layouts 4 and 5 the values, then the headers, which end the bytes.
[[gnu::always_inline]] inline int64_t StartsOffset(const DaCompact* r) {
    return CompactRangeBytes(r->Layout, r->Packing, r->Dimension);
}
// CompactSegmentCount of a record, without a division.
[[gnu::always_inline]] inline int32_t SegmentCount(const DaCompact* r) {
    return r->KnotCount <= 0 || r->SegmentLength == 0
               ? 0
               : DivideByLength(r->KnotCount - 1, r->SegmentLength) + 1;
}
[[gnu::always_inline]] inline int64_t HeadersBytes(const DaCompact* r) {
    return CompactHeadersBytes(r->Layout, r->Packing,
                               CompactStoredComponents(r->Packing, r->Dimension), SegmentCount(r));
}
[[gnu::always_inline]] inline int64_t StartsEnd(const DaCompact* r) {
    return StartsOffset(r) + 4 * int64_t(CompactStartCount(SegmentCount(r)));
}
[[gnu::always_inline]] inline int64_t HeadersOffset(const DaCompact* r) {
    return CompactHeadersLast(r->Layout) ? int64_t(r->ByteCount) - HeadersBytes(r) : StartsEnd(r);
}
[[gnu::always_inline]] inline int64_t ValuesOffset(const DaCompact* r) {
    return CompactHeadersLast(r->Layout) ? StartsEnd(r) : StartsEnd(r) + HeadersBytes(r);
}
// Where the values' bytes end: the spare bytes, or the headers, follow.
inline int64_t ValuesEnd(const DaCompact* r) {
    return CompactHeadersLast(r->Layout) ? HeadersOffset(r)
                                         : int64_t(r->ByteCount) - kCompactSpareBytes;
}

inline uint32_t LoadU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void StoreU32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
// Whether the record stores its range as 16-bit fractions: lows signed, extents unsigned.
inline bool FractionRange(const DaCompact* r) {
    return r->Packing == kCompactQuaternion && r->Layout != kCompactFirstLayout;
}
inline float RangeValue(const DaCompact* r, int32_t i) {
    if (r->Packing == kCompactQuaternionInUnitRange) return i < r->Dimension ? -1.0f : 2.0f;
    if (FractionRange(r)) {
        const uint8_t* p = r->Bytes + 2 * int64_t(i);
        const uint16_t q = uint16_t(p[0] | p[1] << 8);
        return (i < r->Dimension ? float(int16_t(q)) : float(q)) * (1.0f / kCompactUnitRangeScale);
    }
    const uint32_t bits = LoadU32(r->Bytes + 4 * int64_t(i));
    float v;
    std::memcpy(&v, &bits, 4);
    return v;
}
// Stores range value i; a 16-bit fraction rounded down, or up when `up` is set (exact for
// the fractions' own values and their negations).
inline void SetRangeValue(DaCompact* r, int32_t i, float v, bool up = false) {
    if (r->Packing == kCompactQuaternionInUnitRange) return;  // implied
    if (FractionRange(r)) {
        const bool low = i < r->Dimension;
        const float least = low ? -32768.0f : 0.0f, most = low ? 32767.0f : 65535.0f;
        float q = v * kCompactUnitRangeScale;
        q = up ? std::ceil(q) : std::floor(q);
        q = q < least ? least : (q > most ? most : q);  // NaN: 0 below
        const int32_t whole = q == q ? int32_t(q) : 0;
        const uint16_t stored = uint16_t(whole);
        r->Bytes[2 * int64_t(i)] = uint8_t(stored);
        r->Bytes[2 * int64_t(i) + 1] = uint8_t(stored >> 8);
        return;
    }
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    StoreU32(r->Bytes + 4 * int64_t(i), bits);
}
// The first value's position of segment group i (segments i * kCompactStartEvery on): 0 for
// the first group, stored for the others.
inline int64_t StoredStart(const DaCompact* r, int32_t i) {
    return i == 0 ? 0 : int64_t(int32_t(LoadU32(r->Bytes + StartsOffset(r) + 4 * int64_t(i - 1))));
}
inline void SetStoredStart(DaCompact* r, int32_t i, int64_t v) {
    if (i > 0) StoreU32(r->Bytes + StartsOffset(r) + 4 * int64_t(i - 1), uint32_t(v));
}
inline uint8_t* Values(const DaCompact* r) {
    return r->Bytes + ValuesOffset(r);
}

// Writes the low `bits` (at most 24) bits of q at a bit position, a byte at a time (at most
// four bytes), leaving the other bits of those bytes as they were.
inline void WriteBits(uint8_t* values, int64_t position, int32_t bits, uint32_t q) {
    if (bits <= 0) return;
    uint8_t* p = values + (position >> 3);
    const int32_t shift = int32_t(position & 7);
    uint64_t field = (uint64_t(q) & ((uint64_t(1) << bits) - 1u)) << shift;
    uint64_t mask = ((uint64_t(1) << bits) - 1u) << shift;
    for (int32_t n = (shift + bits + 7) >> 3; n > 0; --n, ++p, field >>= 8, mask >>= 8)
        *p = uint8_t((*p & ~uint8_t(mask)) | uint8_t(field));
}

// Where a segment header's fields lie, in bits from the header's start. The flags are 3 bits,
// the dropped component then its sign (in layout 1, bits 5 to 7 of the flags byte). A stored
// component's extent follows its low.
struct HeaderShape {
    int32_t size;         // bits per segment header
    int32_t flags;        // where the flags lie
    int32_t depths;       // where stored component 0's depth lies
    int32_t depthStride;  // bits from one depth to the next
    int32_t depthBits;
    int32_t lows;       // where stored component 0's low lies
    int32_t lowStride;  // bits from one low to the next
};
constexpr HeaderShape ShapeOf(int32_t layout, int32_t packing, int32_t stored) {
    const int32_t size = CompactHeaderBits(layout, packing, stored);
    if (layout == kCompactFirstLayout) return {size, 5, 24, 24, 8, 8, 24};
    const int32_t flags = CompactIsQuaternion(packing) ? 3 : 0;
    return {size, 0, flags, 5, 5, flags + 5 * stored, CompactHasLines(layout) ? 24 : 16};
}

// The segment headers of a record, in any layout. In layout 3 a stored component's "low" is
// its line's start, its "extent" the line's end, and its band's width follows them.
struct SegmentHeaders : HeaderShape {
    uint8_t* bytes;
    const uint8_t* end;  // of the record's bytes

    SegmentHeaders(const DaCompact* r, int32_t stored)
        : HeaderShape(ShapeOf(r->Layout, r->Packing, stored)),
          bytes(r->Bytes + HeadersOffset(r)),
          end(r->Bytes + r->ByteCount) {}
    int64_t At(int32_t segment) const { return int64_t(segment) * size; }
    int32_t Dropped(int32_t segment) const {
        return int32_t(ReadCompactHeaderBits(bytes, At(segment) + flags, 2, end));
    }
    bool Negative(int32_t segment) const {
        return ReadCompactHeaderBits(bytes, At(segment) + flags + 2, 1, end) != 0;
    }
    uint8_t Low(int32_t segment, int32_t j) const {
        return uint8_t(ReadCompactHeaderBits(bytes, At(segment) + lows + lowStride * j, 8, end));
    }
    uint8_t Extent(int32_t segment, int32_t j) const {
        return uint8_t(
            ReadCompactHeaderBits(bytes, At(segment) + lows + lowStride * j + 8, 8, end));
    }
    uint8_t Width(int32_t segment, int32_t j) const {
        return uint8_t(
            ReadCompactHeaderBits(bytes, At(segment) + lows + lowStride * j + 16, 8, end));
    }
    int32_t Depth(int32_t segment, int32_t j) const {
        return int32_t(
            ReadCompactHeaderBits(bytes, At(segment) + depths + depthStride * j, depthBits, end));
    }
    void SetFlags(int32_t segment, int32_t dropped, bool negative) const {
        WriteBits(bytes, At(segment) + flags, 3, uint32_t(dropped) | (negative ? 4u : 0u));
    }
    void SetComponent(int32_t segment, int32_t j, int32_t low, int32_t extent, int32_t bits) const {
        WriteBits(bytes, At(segment) + lows + lowStride * j, 8, uint32_t(low));
        WriteBits(bytes, At(segment) + lows + lowStride * j + 8, 8, uint32_t(extent));
        WriteBits(bytes, At(segment) + depths + depthStride * j, depthBits, uint32_t(bits));
    }
    void SetWidth(int32_t segment, int32_t j, int32_t width) const {
        WriteBits(bytes, At(segment) + lows + lowStride * j + 16, 8, uint32_t(width));
    }
};

// What can be checked without visiting the segments: the fields and the bytes' size.
bool HeaderIsSound(const DaCompact* r) {
    const int32_t d = r->Dimension;
    if (d < 1 || d > kCompactMaxDimension || r->KnotCount < 0 || r->SegmentLength < 1) return false;
    if (r->Packing >= kCompactPackingCount) return false;
    if (r->Layout < kCompactFirstLayout || r->Layout > kCompactLineHeadersLastLayout) return false;
    if (CompactIsQuaternion(r->Packing) && d != 4) return false;
    if (r->ByteCount < 0 || (r->ByteCount > 0 && r->Bytes == nullptr)) return false;
    // A value's 32-bit load reads up to three bytes past its last: the spare bytes or the
    // headers (at least three bytes for a segment) hold them.
    static_assert(CompactHeadersBytes(kCompactHeadersLastLayout, kCompactComponents, 1, 1) >=
                  kCompactReadBytes - 1);
    return CompactHeadersLast(r->Layout)
               ? HeadersOffset(r) >= ValuesOffset(r)
               : int64_t(r->ByteCount) >= ValuesOffset(r) + kCompactSpareBytes;
}

int32_t SegmentKnots(const DaCompact* r, int32_t segment) {
    const int32_t first = segment * r->SegmentLength;
    const int32_t left = r->KnotCount - first;
    return left < r->SegmentLength ? left : r->SegmentLength;
}

// Bits a knot of a segment takes: the sum of its components' depths.
inline int32_t KnotBits(const SegmentHeaders& h, int32_t segment, int32_t stored) {
    int32_t bits = 0;
    for (int32_t j = 0; j < stored; ++j)
        bits += h.Depth(segment, j);
    return bits;
}

// Bits a segment's values take.
inline int64_t SegmentSize(const DaCompact* r, const SegmentHeaders& h, int32_t segment,
                           int32_t stored) {
    return int64_t(SegmentKnots(r, segment)) * KnotBits(h, segment, stored);
}

// Bit position of a segment's first value: its group's stored start and the sizes of the
// segments before it in the group.
int64_t SegmentStart(const DaCompact* r, int32_t segment, int32_t stored) {
    const SegmentHeaders h(r, stored);
    const int32_t first = segment - segment % kCompactStartEvery;
    int64_t position = StoredStart(r, segment / kCompactStartEvery);
    for (int32_t s = first; s < segment; ++s)
        position += SegmentSize(r, h, s, stored);
    return position;
}

// Output component of stored component j for a segment that drops `dropped`.
inline int32_t ComponentOf(int32_t packing, int32_t dropped, int32_t j) {
    return CompactIsQuaternion(packing) ? (dropped + 1 + j) & 3 : j;
}

// The segment's low and step for a component of range (m, e): low + step * q.
// 1 / (2^b - 1) for each depth the 5 bits can hold (0 for depth 0, whose step is 0).
struct InverseSteps {
    float value[32];
    constexpr InverseSteps() : value() {
        for (int32_t b = 1; b < 32; ++b)
            value[b] = 1.0f / float((1u << b) - 1u);
    }
};
constexpr InverseSteps kInverseSteps;

inline void LowStep(float m, float e, uint8_t lowByte, uint8_t extentByte, int32_t bits, float* low,
                    float* step) {
    *low = m + e * (float(lowByte) * kOne255th);
    *step = e * (float(extentByte) * kOne255th) * kInverseSteps.value[bits];
}

// 1 / (l - 1) for each segment length l (0 for lengths 0 and 1, whose lines are flat).
struct InverseSpans {
    float value[256];
    constexpr InverseSpans() : value() {
        for (int32_t l = 2; l < 256; ++l)
            value[l] = 1.0f / float(l - 1);
    }
};
constexpr InverseSpans kInverseSpans;

// Layout 3: a segment's low, slope and step for a component of range (m, e) from its line's
// start A and end B (m + e A / 255 at the segment's first knot, m + e B / 255 at knot
// `length` - 1) and its band's width W (e W / 255 about the line): low is the band's lower edge
// at the first knot (the line itself at 0 bits), slope the line's rise a knot.
inline void LineLowStep(float m, float e, uint8_t startByte, uint8_t endByte, uint8_t widthByte,
                        int32_t bits, int32_t length, float* low, float* slope, float* step) {
    const float start = m + e * (float(startByte) * kOne255th);
    const float width = e * (float(widthByte) * kOne255th);
    *low = bits > 0 ? start - 0.5f * width : start;
    *slope = e * (float(int32_t(endByte) - int32_t(startByte)) * kOne255th) *
             kInverseSpans.value[length];
    *step = width * kInverseSteps.value[bits];
}

// x rounded to the nearest integer, ties to even as std::nearbyint rounds in the default
// rounding mode, for x from 0 up (others give a value of at most 0, which the encoder clamps to
// 0): at 2^23 and above every float is an integer, below it adding and taking away 2^23 leaves
// the rounded value. Unlike std::nearbyint it needs no call into the C library.
inline float RoundNonNegative(float x) {
    constexpr float kTwo23 = 8388608.0f;
    if (!(x < kTwo23)) return x;  // integers already (and NaN, which the clamp turns to 0)
    if (!(x > 0.0f)) return 0.0f;
    return (x + kTwo23) - kTwo23;
}

// The unit quaternion of knot k, or (0, 0, 0, 1) when it has no length.
void UnitQuaternion(const float* controls, int32_t k, float* q) {
    const float* c = controls + 4 * int64_t(k);
    const float lengthSquared = c[0] * c[0] + c[1] * c[1] + c[2] * c[2] + c[3] * c[3];
    if (std::fabs(lengthSquared - 1.0f) < 1e-7f) {  // unit already: as given
        for (int i = 0; i < 4; ++i)
            q[i] = c[i];
        return;
    }
    if (!(lengthSquared > 0.0f) || !Finite(lengthSquared)) {
        q[0] = q[1] = q[2] = 0.0f;
        q[3] = 1.0f;
        return;
    }
    const float inverse = 1.0f / std::sqrt(lengthSquared);
    for (int i = 0; i < 4; ++i)
        q[i] = c[i] * inverse;
}

// The component a segment drops: the largest smallest magnitude among the components whose
// sign holds over the segment (the largest overall when none holds), and its sign.
void ChooseDropped(const float* controls, int32_t first, int32_t count, int32_t* dropped,
                   bool* negative) {
    float smallest[4] = {2, 2, 2, 2};
    bool positive[4] = {}, negativeSeen[4] = {};
    for (int32_t k = first; k < first + count; ++k) {
        float q[4];
        UnitQuaternion(controls, k, q);
        for (int c = 0; c < 4; ++c) {
            const float a = std::fabs(q[c]);
            if (a < smallest[c]) smallest[c] = a;
            if (q[c] > 0.0f) positive[c] = true;
            if (q[c] < 0.0f) negativeSeen[c] = true;
        }
    }
    int32_t best = -1;
    for (int pass = 0; pass < 2 && best < 0; ++pass)
        for (int c = 0; c < 4; ++c) {
            if (pass == 0 && positive[c] && negativeSeen[c]) continue;
            if (best < 0 || smallest[c] > smallest[best]) best = c;
        }
    float q[4];
    UnitQuaternion(controls, first, q);
    *dropped = best;
    *negative = q[best] < 0.0f;
}

// The value of output component c of knot k as stored by its segment (quaternions unit
// length, negated to the segment's sign of the dropped component).
float StoredValue(const DaCompact* r, const float* controls, int32_t k, int32_t c, int32_t dropped,
                  bool negative) {
    if (!CompactIsQuaternion(r->Packing)) {
        const float v = controls[int64_t(k) * r->Dimension + c];
        return Finite(v) ? v : 0.0f;
    }
    float q[4];
    UnitQuaternion(controls, k, q);
    const bool flip = (q[dropped] < 0.0f) != negative && q[dropped] != 0.0f;
    return flip ? -q[c] : q[c];
}

// A segment's values as stored, knot by knot (Dimension each): quaternions made unit length
// and turned to the segment's side once, not once per component.
class SegmentValues {
public:
    SegmentValues(const DaCompact* r, const float* controls, int32_t first, int32_t count,
                  int32_t dropped, bool negative)
        : controls_(controls),
          first_(first),
          d_(r->Dimension),
          quaternion_(CompactIsQuaternion(r->Packing)) {
        if (!quaternion_) return;
        for (int32_t k = 0; k < count; ++k) {
            float* q = unit_ + 4 * k;
            UnitQuaternion(controls, first + k, q);
            if ((q[dropped] < 0.0f) != negative && q[dropped] != 0.0f)
                for (int c = 0; c < 4; ++c)
                    q[c] = -q[c];
        }
    }
    // Component c of local knot k.
    float operator()(int32_t k, int32_t c) const {
        if (quaternion_) return unit_[4 * k + c];
        const float v = controls_[int64_t(first_ + k) * d_ + c];
        return Finite(v) ? v : 0.0f;
    }

private:
    const float* controls_;
    int32_t first_, d_;
    bool quaternion_;
    float unit_[4 * 255];
};

// The values of a segment of the controls as its header stores them.
SegmentValues StoredValuesOf(const DaCompact* r, const float* controls, int32_t segment) {
    const bool quaternion = CompactIsQuaternion(r->Packing);
    const SegmentHeaders h(r, CompactStoredComponents(r->Packing, r->Dimension));
    return SegmentValues(r, controls, segment * r->SegmentLength, SegmentKnots(r, segment),
                         quaternion ? h.Dropped(segment) : -1, quaternion && h.Negative(segment));
}

}  // namespace

CompactSizes CompactSizesFor(int32_t knots, int32_t dimension, int32_t packing,
                             int32_t segmentLength, const uint8_t* depths, int32_t layout) {
    CompactSizes sizes;
    if (knots < 0 || dimension < 0 || segmentLength < 1) return sizes;
    const int32_t stored = CompactStoredComponents(packing, dimension);
    sizes.segments = CompactSegmentCount(knots, segmentLength);
    sizes.starts = CompactStartCount(sizes.segments);
    const int64_t valuesOffset =
        CompactRangeBytes(layout, packing, dimension) + 4 * int64_t(sizes.starts) +
        (CompactHeadersLast(layout) ? 0
                                    : CompactHeadersBytes(layout, packing, stored, sizes.segments));
    int64_t total = 0;
    for (int32_t s = 0; s < sizes.segments; ++s) {
        const int32_t first = s * segmentLength;
        const int32_t count = knots - first < segmentLength ? knots - first : segmentLength;
        int32_t bits = 0;
        for (int32_t j = 0; j < stored; ++j)
            bits += depths ? depths[int64_t(s) * stored + j] : kCompactDefaultBits;
        total += int64_t(count) * bits;
    }
    const int64_t bytes =
        valuesOffset + (total + 7) / 8 +
        (CompactHeadersLast(layout) ? CompactHeadersBytes(layout, packing, stored, sizes.segments)
                                    : kCompactSpareBytes);
    sizes.fits = bytes * 8 <= INT32_MAX;
    if (!sizes.fits) return sizes;
    sizes.valuesOffset = int32_t(valuesOffset);
    sizes.bytes = int32_t(bytes);
    return sizes;
}

bool CompactCurveIsSound(const DaCompact* r) {
    if (r == nullptr || !HeaderIsSound(r)) return false;
    const int32_t d = r->Dimension;
    if (r->KnotCount > 1) {
        if (!Finite(r->KnotInterval) || !(r->KnotInterval > 0.0f) ||
            !Finite(float(r->KnotCount - 1) * r->KnotInterval))
            return false;
    } else if (!Finite(r->KnotInterval)) {
        return false;
    }
    for (int32_t c = 0; c < d; ++c) {
        const float m = RangeValue(r, c), e = RangeValue(r, d + c);
        if (!Finite(m) || !Finite(e) || !Finite(m + e)) return false;
        // Layout 3's values lie within 3.5 extents of the low, whatever the lines and bands.
        if (CompactHasLines(r->Layout) &&
            !(double(std::fabs(m)) + 4.0 * double(std::fabs(e)) <= double(FLT_MAX)))
            return false;
    }
    const int32_t stored = CompactStoredComponents(r->Packing, d);
    const int64_t limit = (ValuesEnd(r) - ValuesOffset(r)) * 8;
    const int32_t segments = CompactSegmentCount(r->KnotCount, r->SegmentLength);
    const SegmentHeaders h(r, stored);
    const bool bytes = r->Layout == kCompactFirstLayout;
    int64_t position = 0;
    for (int32_t s = 0; s < segments; ++s) {
        // Layout 1's flags byte has no other bits set (none at all without a quaternion).
        if (bytes) {
            const uint32_t flags = ReadCompactHeaderBits(h.bytes, h.At(s), 8, h.end);
            if (r->Packing == kCompactComponents ? flags != 0 : (flags & 31) != 0) return false;
        }
        for (int32_t j = 0; j < stored; ++j)
            if (h.Depth(s, j) > kCompactMaxBits) return false;
        if (s % kCompactStartEvery == 0) {
            position = StoredStart(r, s / kCompactStartEvery);
            if (position < 0) return false;
        }
        position += SegmentSize(r, h, s, stored);
        if (position > limit) return false;
    }
    return true;
}

void ViewCompactSegmentAt(const DaCompact* r, int32_t segment, int64_t start, CompactSegment* s) {
    const int32_t d = r->Dimension;
    s->stored = CompactStoredComponents(r->Packing, d);
    const SegmentHeaders h(r, s->stored);
    const bool quaternion = CompactIsQuaternion(r->Packing);
    s->start = start;
    s->dropped = quaternion ? h.Dropped(segment) : -1;
    s->negative = quaternion && h.Negative(segment);
    int32_t offset = 0;
    for (int32_t j = 0; j < s->stored; ++j) {
        const int32_t c = ComponentOf(r->Packing, s->dropped, j);
        const int32_t bits = h.Depth(segment, j);
        s->component[j] = int8_t(c);
        s->bits[j] = uint8_t(bits);
        s->offset[j] = uint16_t(offset);
        offset += bits;
        s->slope[j] = 0.0f;
        if (CompactHasLines(r->Layout))
            LineLowStep(RangeValue(r, c), RangeValue(r, d + c), h.Low(segment, j),
                        h.Extent(segment, j), h.Width(segment, j), bits, r->SegmentLength,
                        &s->low[j], &s->slope[j], &s->step[j]);
        else
            LowStep(RangeValue(r, c), RangeValue(r, d + c), h.Low(segment, j), h.Extent(segment, j),
                    bits, &s->low[j], &s->step[j]);
    }
    s->stride = offset;
}

void ViewCompactSegment(const DaCompact* r, int32_t segment, CompactSegment* s) {
    ViewCompactSegmentAt(
        r, segment, SegmentStart(r, segment, CompactStoredComponents(r->Packing, r->Dimension)), s);
}

const uint8_t* CompactValues(const DaCompact* r) {
    return Values(r);
}

uint32_t LoadCompactTail(const uint8_t* p, const uint8_t* end) {
    uint32_t word = 0;
    for (int32_t n = 0; n < end - p; ++n)
        word |= uint32_t(p[n]) << (8 * n);
    return word;
}

int32_t CompactKnotSegment(int32_t knot, int32_t segmentLength) {
    return DivideByLength(knot, uint8_t(segmentLength));
}

namespace {

// MoveCompactCursor for a record of Stored stored components, quaternion or not, in a layout:
// the loops over the components unrolled, the header's fields where the layout puts them.
template <int32_t Stored, bool Quaternion, int32_t Layout>
void MoveCursor(const DaCompact* r, int32_t knot, CompactCursor* c) {
    constexpr bool Packed = Layout != kCompactFirstLayout;
    constexpr bool Line = Layout == kCompactLineLayout;
    static constexpr HeaderShape kShape =
        ShapeOf(Layout, Quaternion ? kCompactQuaternion : 0, Stored);
    static_assert(!Packed || kShape.depthStride == 5, "packed depths lie side by side");
    const int32_t d = r->Dimension, length = r->SegmentLength;
    const bool viewed = c->first >= 0;
    if (!viewed) {
        // Where the headers and values lie, once per cursor.
        const int64_t starts = StartsEnd(r), headerBytes = HeadersBytes(r);
        const bool last = CompactHeadersLast(r->Layout);
        c->values = r->Bytes + (last ? starts : starts + headerBytes);
        c->headers = last ? r->Bytes + (int64_t(r->ByteCount) - headerBytes) : r->Bytes + starts;
        c->stored = uint8_t(Stored);
    }
    const uint8_t* headers = c->headers;
    const uint8_t* end = r->Bytes + r->ByteCount;
    // The depths of a segment's stored components: in the packed layout side by side (one
    // read), in layout 1 a byte each.
    auto depths = [headers, end](int32_t segment, int32_t* out) {
        const int64_t at = int64_t(segment) * kShape.size + kShape.depths;
        if (Packed) {
            const uint32_t all = ReadCompactHeaderBits(headers, at, 5 * Stored, end);
            for (int32_t j = 0; j < Stored; ++j)
                out[j] = int32_t((all >> (5 * j)) & 31u);
        } else {
            for (int32_t j = 0; j < Stored; ++j)
                out[j] = int32_t(ReadCompactHeaderBits(headers, at + kShape.depthStride * j,
                                                       kShape.depthBits, end));
        }
    };
    // A stored component's low and extent (8 bits each, one read); in layout 3 its line's
    // start and end and its band's width.
    auto range = [headers, end](int32_t segment, int32_t j) {
        return ReadCompactHeaderBits(
            headers, int64_t(segment) * kShape.size + kShape.lows + kShape.lowStride * j,
            Line ? 24 : 16, end);
    };
    const int32_t ahead = knot - c->first;
    const bool next = viewed && ahead >= length && ahead - length < length;
    const int32_t segment = next ? c->segment + 1 : DivideByLength(knot, r->SegmentLength);
    int64_t start;
    if (next && segment % kCompactStartEvery != 0) {
        // The next segment starts where the one viewed ends, unless it has a stored start.
        start = c->start + int64_t(length) * c->stride;
    } else {
        // Its group's stored start and the sizes of the (whole) segments before it in the group.
        const int32_t group = segment / kCompactStartEvery;
        start = StoredStart(r, group);
        int32_t bits = 0;
        for (int32_t s = group * kCompactStartEvery; s < segment; ++s) {
            int32_t b[Stored];
            depths(s, b);
            for (int32_t j = 0; j < Stored; ++j)
                bits += b[j];
        }
        start += int64_t(length) * bits;
    }
    const uint32_t flags =
        Quaternion
            ? ReadCompactHeaderBits(headers, int64_t(segment) * kShape.size + kShape.flags, 3, end)
            : 0u;
    const int32_t dropped = Quaternion ? int32_t(flags & 3) : -1;
    c->start = start;
    c->first = segment * length;
    c->segment = segment;
    c->dropped = int8_t(dropped);
    c->sign = flags & 4 ? -1.0f : 1.0f;
    for (int32_t j = 0; j < 4; ++j)
        c->place[j] = uint8_t((dropped + 1 + j) & 3);
    int32_t bits[Stored];
    depths(segment, bits);
    int32_t offset = 0;
#pragma GCC unroll 4
    for (int32_t j = 0; j < Stored; ++j) {
        const int32_t component = Quaternion ? (dropped + 1 + j) & 3 : j;
        const uint32_t v = range(segment, j);
        c->offset[j] = uint16_t(offset);
        c->mask[j] = (1u << bits[j]) - 1u;
        offset += bits[j];
        if (Line) {
            LineLowStep(RangeValue(r, component), RangeValue(r, d + component), uint8_t(v),
                        uint8_t(v >> 8), uint8_t(v >> 16), bits[j], length, &c->low[j],
                        &c->slope[j], &c->step[j]);
        } else {
            c->slope[j] = 0.0f;
            LowStep(RangeValue(r, component), RangeValue(r, d + component), uint8_t(v),
                    uint8_t(v >> 8), bits[j], &c->low[j], &c->step[j]);
        }
    }
    c->stride = offset;
}

template <int32_t Layout>
void MoveCursorOf(const DaCompact* r, int32_t knot, CompactCursor* c) {
    if (CompactIsQuaternion(r->Packing)) return MoveCursor<3, true, Layout>(r, knot, c);
    switch (r->Dimension) {
        case 1:
            return MoveCursor<1, false, Layout>(r, knot, c);
        case 2:
            return MoveCursor<2, false, Layout>(r, knot, c);
        case 3:
            return MoveCursor<3, false, Layout>(r, knot, c);
        default:
            return MoveCursor<4, false, Layout>(r, knot, c);
    }
}

}  // namespace

void MoveCompactCursor(const DaCompact* r, int32_t knot, CompactCursor* c) {
    const int32_t layout = CompactHeaderLayout(r->Layout);
    if (layout == kCompactFirstLayout) return MoveCursorOf<kCompactFirstLayout>(r, knot, c);
    if (layout == kCompactLineLayout) return MoveCursorOf<kCompactLineLayout>(r, knot, c);
    MoveCursorOf<kCompactLayout>(r, knot, c);
}

void DecodeCompactKnots(const DaCompact* r, int32_t first, int32_t count, float* controls) {
    if (!HeaderIsSound(r)) {
        const int32_t d =
            r->Dimension > 0 && r->Dimension <= kCompactMaxDimension ? r->Dimension : 0;
        SetReal32(size_t(count > 0 ? count : 0) * size_t(d), 0.0f, controls);
        return;
    }
    DecodeCompactWindow(r, first, count, nullptr, controls);
}

void DecodeCompactWindow(const DaCompact* r, int32_t first, int32_t count, float* knots,
                         float* controls) {
    switch (r->Dimension) {
        case 1:
            return DecodeCompactWindowOf<1>(r, first, count, knots, controls);
        case 2:
            return DecodeCompactWindowOf<2>(r, first, count, knots, controls);
        case 3:
            return DecodeCompactWindowOf<3>(r, first, count, knots, controls);
        case 4:
            return DecodeCompactWindowOf<4>(r, first, count, knots, controls);
        default:
            break;
    }
    if (count <= 0) return;
    const int32_t d = r->Dimension, length = r->SegmentLength;
    const uint8_t* values = Values(r);
    CompactSegment s;
    int32_t segment = first / length;
    int32_t local = first - segment * length;
    ViewCompactSegment(r, segment, &s);
    for (int32_t i = 0; i < count; ++i, ++local) {
        if (local == length) {
            // The next segment starts where this one ends, unless it has a stored start.
            const int64_t end = s.start + int64_t(length) * s.stride;
            ++segment;
            local = 0;
            if (segment % kCompactStartEvery == 0)
                ViewCompactSegment(r, segment, &s);
            else
                ViewCompactSegmentAt(r, segment, end, &s);
        }
        if (knots) knots[i] = float(first + i) * r->KnotInterval;
        DecodeCompactSegmentKnot(s, values, local, controls + int64_t(i) * d);
    }
}

int32_t FindCompactKnot(const DaCompact* r, float t) {
    const int32_t n = r->KnotCount;
    if (n <= 1) return 0;
    const float h = r->KnotInterval;
    if (!(t >= 0.0f)) return 0;  // knot 0 is at 0; NaN takes the first knot too
    const double x = double(t) / double(h);
    if (!(x < double(n - 1))) return n - 1;
    int32_t i = int32_t(x) + 1;
    while (i > 0 && float(i - 1) * h > t)
        --i;
    while (i < n - 1 && float(i) * h <= t)
        ++i;
    return i;
}

// The guess is within a knot of the answer for up to 2^22 knots (the product's rounding is
// below half a knot there), and the same steps as FindCompactKnot's make it exact.
int32_t FindCompactKnotBy(const DaCompact* r, float t, float inverse) {
    const int32_t n = r->KnotCount;
    if (n <= 1) return 0;
    const float h = r->KnotInterval;
    if (!(t >= 0.0f)) return 0;
    const float x = t * inverse;
    if (!(x < float(n - 1))) {
        // At or past the last knot by the guess: the last knot, unless t lies before it.
        if (!(float(n - 2) * h > t)) return n - 1;
    }
    int32_t i = x < float(n - 1) ? int32_t(x) + 1 : n - 1;
    while (i > 0 && float(i - 1) * h > t)
        --i;
    while (i < n - 1 && float(i) * h <= t)
        ++i;
    return i;
}

float CompactKnotInverse(const DaCompact* r) {
    if (r->KnotCount <= 1 || r->KnotCount > (1 << 22) || !(r->KnotInterval > 0.0f)) return 0.0f;
    const float inverse = 1.0f / r->KnotInterval;
    return std::isfinite(inverse) && inverse > 0.0f ? inverse : 0.0f;
}

void PrepareCompact(DaCompact* r, const float* controls) {
    const int32_t d = r->Dimension, length = r->SegmentLength;
    const int32_t stored = CompactStoredComponents(r->Packing, d);
    const int32_t segments = CompactSegmentCount(r->KnotCount, length);
    // Each segment's dropped component first: the ranges cover the values as stored.
    const SegmentHeaders h(r, stored);
    const bool quaternion = CompactIsQuaternion(r->Packing);
    for (int32_t s = 0; s < segments; ++s) {
        if (r->Layout == kCompactFirstLayout) WriteBits(h.bytes, h.At(s), 8, 0);
        if (quaternion) {
            int32_t dropped;
            bool negative;
            ChooseDropped(controls, s * length, SegmentKnots(r, s), &dropped, &negative);
            h.SetFlags(s, dropped, negative);
        }
    }
    for (int32_t c = 0; c < d; ++c) {
        float low = INFINITY, high = -INFINITY;
        for (int32_t s = 0; s < segments; ++s) {
            const int32_t dropped = quaternion ? h.Dropped(s) : -1;
            if (c == dropped) continue;
            for (int32_t k = s * length; k < s * length + SegmentKnots(r, s); ++k) {
                const float v =
                    StoredValue(r, controls, k, c, dropped, quaternion && h.Negative(s));
                if (v < low) low = v;
                if (v > high) high = v;
            }
        }
        if (!(low <= high)) low = high = 0.0f;
        SetRangeValue(r, c, low);
        if (FractionRange(r)) {
            // Rounded outwards: the stored low at or below the lowest value, low + extent at
            // or above the highest (the fractions add exactly).
            const float stored = RangeValue(r, c);
            SetRangeValue(r, d + c, high - stored, true);
            if (stored + RangeValue(r, d + c) < high)
                SetRangeValue(r, d + c, high - stored + 1.0f / kCompactUnitRangeScale, true);
            continue;
        }
        float extent = high - low;
        if (!Finite(extent)) extent = 0.0f;
        SetRangeValue(r, d + c, extent);
    }
}

namespace {

// The values of a segment as its header stores them, from the segment's targets: Dimension
// values per local knot.
struct SegmentTargets {
    const float* targets;
    int32_t d;
    float operator()(int32_t k, int32_t c) const { return targets[int64_t(k) * d + c]; }
};

// The slope of the narrowest band of parallel lines holding the points (k, v(k)), k from 0 to
// count - 1, and the band's middle at k = 0: one of the slopes of the points' convex hull's
// edges (each side's vertices found by the monotone chain, the points coming in order of k).
template <class Value>
void NarrowestBand(const Value& v, int32_t count, double* slope, double* middle) {
    *slope = 0.0;
    *middle = count > 0 ? double(v(0)) : 0.0;
    if (count < 2) return;
    int32_t upper[256], lower[256];
    int32_t up = 0, down = 0;
    auto cross = [&](int32_t a, int32_t b, int32_t c) {
        return double(b - a) * (double(v(c)) - double(v(a))) -
               (double(v(b)) - double(v(a))) * double(c - a);
    };
    for (int32_t k = 0; k < count; ++k) {
        while (up >= 2 && cross(upper[up - 2], upper[up - 1], k) >= 0.0)
            --up;
        upper[up++] = k;
        while (down >= 2 && cross(lower[down - 2], lower[down - 1], k) <= 0.0)
            --down;
        lower[down++] = k;
    }
    double best = INFINITY;
    auto tryEdges = [&](const int32_t* hull, int32_t n) {
        for (int32_t e = 0; e + 1 < n; ++e) {
            const double sigma =
                (double(v(hull[e + 1])) - double(v(hull[e]))) / double(hull[e + 1] - hull[e]);
            double high = -INFINITY, low = INFINITY;
            for (int32_t i = 0; i < up; ++i)
                high = std::max(high, double(v(upper[i])) - sigma * double(upper[i]));
            for (int32_t i = 0; i < down; ++i)
                low = std::min(low, double(v(lower[i])) - sigma * double(lower[i]));
            if (high - low < best) {
                best = high - low;
                *slope = sigma;
                *middle = 0.5 * (high + low);
            }
        }
    };
    tryEdges(upper, up);
    tryEdges(lower, down);
}

// Sets stored component j's sub-range and depth in a segment's header from the segment's values
// of output component c (read through `value`, local knot and component), and gives the low
// value, slope and step that its values are rounded to (slope 0 but in layout 3).
template <class Values>
void SetSegmentComponent(const DaCompact* r, const Values& value, int32_t count,
                         const SegmentHeaders& headers, int32_t segment, int32_t j, int32_t c,
                         int32_t bits, float* segmentLow, float* slope, float* step) {
    const int32_t d = r->Dimension;
    const float m = RangeValue(r, c), e = RangeValue(r, d + c);
    *slope = 0.0f;
    if (CompactHasLines(r->Layout)) {
        // The narrowest band's middle line, its ends rounded to 255ths of the range (within
        // it), then the band about the rounded line as wide as the farthest value needs.
        const int32_t length = r->SegmentLength;
        int32_t start = 0, end = 0, width = 0;
        if (e > 0.0f) {
            double sigma, middle;
            NarrowestBand([&](int32_t k) { return value(k, c); }, count, &sigma, &middle);
            auto fraction = [&](double at) {
                const double f = std::round((at - double(m)) / double(e) * 255.0);
                return int32_t(f < 0.0 ? 0.0 : (f > 255.0 ? 255.0 : f));
            };
            start = fraction(middle);
            end = length > 1 ? fraction(middle + sigma * double(length - 1)) : start;
            float low, rise, unused;
            LineLowStep(m, e, uint8_t(start), uint8_t(end), 0, 0, length, &low, &rise, &unused);
            double farthest = 0.0;
            for (int32_t k = 0; k < count; ++k)
                farthest = std::max(farthest,
                                    std::fabs(double(value(k, c)) - double(low + rise * float(k))));
            const double w = std::ceil(2.0 * farthest / double(e) * 255.0 * (1.0 + 1e-6));
            width = int32_t(w > 255.0 ? 255.0 : w);
        }
        headers.SetComponent(segment, j, start, end, bits);
        headers.SetWidth(segment, j, width);
        LineLowStep(m, e, uint8_t(start), uint8_t(end), uint8_t(width), bits, length, segmentLow,
                    slope, step);
        return;
    }
    // The segment's sub-range in 255ths of the curve's, rounded outwards.
    float lowest = 1.0f, highest = 0.0f;
    if (e > 0.0f) {
        // Subtracting and dividing by a positive number keep the values' order, so the
        // smallest and largest values give the smallest and largest fractions.
        float least = value(0, c), most = least;
        for (int32_t k = 1; k < count; ++k) {
            const float v = value(k, c);
            if (v < least) least = v;
            if (v > most) most = v;
        }
        lowest = std::min(lowest, (least - m) / e);
        highest = std::max(highest, (most - m) / e);
    } else {
        for (int32_t k = 0; k < count; ++k) {
            const float f = e != 0.0f ? (value(k, c) - m) / e : 0.0f;
            if (f < lowest) lowest = f;
            if (f > highest) highest = f;
        }
    }
    int32_t l = int32_t(std::floor(lowest * 255.0f));
    int32_t h = int32_t(std::ceil(highest * 255.0f));
    l = l < 0 ? 0 : (l > 255 ? 255 : l);
    h = h < l ? l : (h > 255 ? 255 : h);
    headers.SetComponent(segment, j, l, h - l, bits);
    LowStep(m, e, uint8_t(l), uint8_t(h - l), bits, segmentLow, step);
}

#if ORVANE_MATH_HAS_SSE
// RoundNonNegative of four values.
inline __m128 RoundNonNegative4(__m128 x) {
    const __m128 two23 = _mm_set1_ps(8388608.0f);
    const __m128 rounded = _mm_sub_ps(_mm_add_ps(x, two23), two23);
    const __m128 small = _mm_cmplt_ps(x, two23);  // false for NaN: kept as it is
    const __m128 positive = _mm_cmpgt_ps(x, _mm_setzero_ps());
    return _mm_or_ps(_mm_and_ps(small, _mm_and_ps(positive, rounded)), _mm_andnot_ps(small, x));
}
#endif

// The integer that value v rounds to at a depth of bits (1 to 24) from a low value and step.
inline float QuantiseValue(float v, float segmentLow, float step, int32_t bits) {
    float q = step != 0.0f ? RoundNonNegative((v - segmentLow) / step) : 0.0f;
    if (!(q > 0.0f)) q = 0.0f;
    const float top = float((1u << bits) - 1u);
    return q > top ? top : q;
}

}  // namespace

float CompactSegmentTrialError(DaCompact* r, const float* targets, int32_t segment,
                               const uint8_t* depths, float limit, bool rangesSet) {
    const int32_t d = r->Dimension;
    const int32_t stored = CompactStoredComponents(r->Packing, d);
    const SegmentHeaders h(r, stored);
    const bool quaternion = CompactIsQuaternion(r->Packing);
    const int32_t dropped = quaternion ? h.Dropped(segment) : -1;
    const bool negative = quaternion && h.Negative(segment);
    const int32_t count = SegmentKnots(r, segment);
    const SegmentTargets value{targets, d};
    int32_t component[kCompactMaxDimension];
    float low[kCompactMaxDimension], slope[kCompactMaxDimension], step[kCompactMaxDimension];
    for (int32_t j = 0; j < stored; ++j) {
        const int32_t c = ComponentOf(r->Packing, dropped, j);
        const int32_t bits = depths[j] & 31;
        component[j] = c;
        if (!rangesSet) {
            SetSegmentComponent(r, value, count, h, segment, j, c, bits, &low[j], &slope[j],
                                &step[j]);
            continue;
        }
        h.SetComponent(segment, j, h.Low(segment, j), h.Extent(segment, j), bits);
        slope[j] = 0.0f;
        if (CompactHasLines(r->Layout))
            LineLowStep(RangeValue(r, c), RangeValue(r, d + c), h.Low(segment, j),
                        h.Extent(segment, j), h.Width(segment, j), bits, r->SegmentLength, &low[j],
                        &slope[j], &step[j]);
        else
            LowStep(RangeValue(r, c), RangeValue(r, d + c), h.Low(segment, j), h.Extent(segment, j),
                    bits, &low[j], &step[j]);
    }
    // Each knot as the decoder reads it back (DecodeCompactSegmentKnot): the same products and
    // sums in the same order, from the integers the encoder would store.
    float worst = 0.0f;
    int32_t k = 0;
#if ORVANE_MATH_HAS_SSE
    // Four knots at a time, each lane doing one knot's operations in the scalar loop's order
    // (IEEE division and square root round alike in both), then the knots' distances taken in
    // order, so the result is the scalar loop's.
    for (; k + 4 <= count; k += 4) {
        const __m128 along = _mm_setr_ps(float(k), float(k + 1), float(k + 2), float(k + 3));
        __m128 decoded[kCompactMaxDimension];
        __m128 sum = _mm_setzero_ps();
        for (int32_t j = 0; j < stored; ++j) {
            const int32_t c = component[j];
            const int32_t bits = depths[j] & 31;
            const __m128 base =
                _mm_add_ps(_mm_set1_ps(low[j]), _mm_mul_ps(_mm_set1_ps(slope[j]), along));
            __m128 q = _mm_setzero_ps();
            if (bits > 0 && step[j] != 0.0f) {
                const __m128 v =
                    _mm_setr_ps(value(k, c), value(k + 1, c), value(k + 2, c), value(k + 3, c));
                q = RoundNonNegative4(_mm_div_ps(_mm_sub_ps(v, base), _mm_set1_ps(step[j])));
                q = _mm_and_ps(q, _mm_cmpgt_ps(q, _mm_setzero_ps()));
                q = _mm_min_ps(q, _mm_set1_ps(float((1u << bits) - 1u)));
            }
            const __m128 x = _mm_add_ps(base, _mm_mul_ps(_mm_set1_ps(step[j]), q));
            decoded[c] = x;
            sum = _mm_add_ps(sum, _mm_mul_ps(x, x));
        }
        if (dropped >= 0) {
            const __m128 one = _mm_set1_ps(1.0f);
            const __m128 rest = _mm_and_ps(_mm_sub_ps(one, sum), _mm_cmplt_ps(sum, one));
            const __m128 w = _mm_sqrt_ps(rest);
            decoded[dropped] = negative ? _mm_xor_ps(w, _mm_set1_ps(-0.0f)) : w;
        }
        __m128 distance = _mm_setzero_ps();
        for (int32_t c = 0; c < d; ++c) {
            const __m128 v =
                _mm_setr_ps(value(k, c), value(k + 1, c), value(k + 2, c), value(k + 3, c));
            const __m128 e = _mm_sub_ps(decoded[c], v);
            distance = _mm_add_ps(distance, _mm_mul_ps(e, e));
        }
        // Most runs of four stay within the worst so far, which then stays as it is.
        if (_mm_movemask_ps(_mm_cmple_ps(distance, _mm_set1_ps(worst * worst))) == 15) continue;
        alignas(16) float distances[4];
        _mm_store_ps(distances, distance);
        for (int32_t i = 0; i < 4; ++i) {
            if (!(distances[i] <= worst * worst)) {
                worst = std::sqrt(distances[i]);
                if (!(worst <= limit)) return worst;
            }
        }
    }
#endif
    for (; k < count; ++k) {
        float decoded[kCompactMaxDimension];
        float sum = 0.0f;
        const float along = float(k);
        for (int32_t j = 0; j < stored; ++j) {
            const int32_t bits = depths[j] & 31;
            const float q = bits > 0 ? QuantiseValue(value(k, component[j]),
                                                     low[j] + slope[j] * along, step[j], bits)
                                     : 0.0f;
            const float v = low[j] + slope[j] * along + step[j] * q;
            decoded[component[j]] = v;
            sum += v * v;
        }
        if (dropped >= 0) {
            const float w = std::sqrt(sum < 1.0f ? 1.0f - sum : 0.0f);
            decoded[dropped] = negative ? -w : w;
        }
        float distance = 0.0f;
        for (int32_t c = 0; c < d; ++c) {
            const float e = decoded[c] - value(k, c);
            distance += e * e;
        }
        if (!(distance <= worst * worst)) {
            worst = std::sqrt(distance);
            if (!(worst <= limit)) return worst;
        }
    }
    return worst;
}

void EncodeCompactSegment(DaCompact* r, const float* controls, int32_t segment,
                          const uint8_t* depths, uint8_t* values, int64_t position) {
    const SegmentValues value = StoredValuesOf(r, controls, segment);
    const int32_t stored = CompactStoredComponents(r->Packing, r->Dimension);
    const SegmentHeaders h(r, stored);
    const int32_t dropped = CompactIsQuaternion(r->Packing) ? h.Dropped(segment) : -1;
    const int32_t count = SegmentKnots(r, segment);
    int32_t knotBits = 0;
    for (int32_t j = 0; j < stored; ++j)
        knotBits += depths[j] & 31;
    int32_t offset = 0;
    for (int32_t j = 0; j < stored; ++j) {
        const int32_t bits = depths[j] & 31;
        const int32_t c = ComponentOf(r->Packing, dropped, j);
        float segmentLow, slope, step;
        SetSegmentComponent(r, value, count, h, segment, j, c, bits, &segmentLow, &slope, &step);
        if (bits > 0) {
            for (int32_t k = 0; k < count; ++k)
                WriteBits(values, position + int64_t(k) * knotBits + offset, bits,
                          uint32_t(QuantiseValue(value(k, c), segmentLow + slope * float(k), step,
                                                 bits)));
        }
        offset += bits;
    }
}

void CompactSegmentTargetsOf(const DaCompact* r, const float* controls, int32_t segment,
                             float* targets) {
    const int32_t d = r->Dimension, count = SegmentKnots(r, segment);
    const SegmentValues value = StoredValuesOf(r, controls, segment);
    for (int32_t k = 0; k < count; ++k)
        for (int32_t c = 0; c < d; ++c)
            targets[int64_t(k) * d + c] = value(k, c);
}

float CompactSegmentSpan(const DaCompact* r, int32_t segment, int32_t j) {
    const int32_t d = r->Dimension;
    const SegmentHeaders h(r, CompactStoredComponents(r->Packing, d));
    const int32_t dropped = CompactIsQuaternion(r->Packing) ? h.Dropped(segment) : -1;
    const int32_t c = ComponentOf(r->Packing, dropped, j);
    const uint8_t width = CompactHasLines(r->Layout) ? h.Width(segment, j) : h.Extent(segment, j);
    return std::fabs(RangeValue(r, d + c) * (float(width) * kOne255th));
}

float CompactSegmentError(const DaCompact* r, const float* controls, int32_t segment,
                          const uint8_t* values, int64_t position) {
    const SegmentValues value = StoredValuesOf(r, controls, segment);
    const int32_t d = r->Dimension;
    CompactSegment view;
    ViewCompactSegmentAt(r, segment, position, &view);
    const int32_t count = SegmentKnots(r, segment);
    float worst = 0.0f;
    for (int32_t k = 0; k < count; ++k) {
        float decoded[kCompactMaxDimension];
        DecodeCompactSegmentKnot(view, values, k, decoded);
        float sum = 0.0f;
        for (int32_t c = 0; c < d; ++c) {
            const float e = decoded[c] - value(k, c);
            sum += e * e;
        }
        if (!(sum <= worst * worst)) worst = std::sqrt(sum);
    }
    return worst;
}

void EncodeCompact(DaCompact* r, const float* controls, const uint8_t* depths) {
    const int32_t stored = CompactStoredComponents(r->Packing, r->Dimension);
    const int32_t segments = CompactSegmentCount(r->KnotCount, r->SegmentLength);
    // The depths the headers hold are read before the preparation clears the flags.
    uint8_t held[kCompactMaxDimension];
    const int64_t end = CompactHeadersLast(r->Layout) ? HeadersOffset(r) : int64_t(r->ByteCount);
    std::memset(Values(r), 0, size_t(end - ValuesOffset(r)));
    uint8_t* saved = nullptr;
    if (depths == nullptr && segments > 0) {
        saved = static_cast<uint8_t*>(ORVANE_ALLOCATE(1, size_t(segments) * size_t(stored)));
        if (saved == nullptr) return;
        const SegmentHeaders h(r, stored);
        for (int32_t s = 0; s < segments; ++s)
            for (int32_t j = 0; j < stored; ++j)
                saved[int64_t(s) * stored + j] = uint8_t(h.Depth(s, j));
        depths = saved;
    }
    PrepareCompact(r, controls);
    const SegmentHeaders h(r, stored);
    int64_t position = 0;
    for (int32_t s = 0; s < segments; ++s) {
        const uint8_t* segmentDepths = depths + int64_t(s) * stored;
        for (int32_t j = 0; j < stored; ++j)
            held[j] =
                uint8_t(segmentDepths[j] > kCompactMaxBits ? kCompactMaxBits : segmentDepths[j]);
        if (s % kCompactStartEvery == 0) SetStoredStart(r, s / kCompactStartEvery, position);
        EncodeCompactSegment(r, controls, s, held, Values(r), position);
        position += SegmentSize(r, h, s, stored);
    }
    if (saved) ORVANE_DEALLOCATE(saved);
}

// ---- The format table's operations ----

int32_t CompactDimension(const void* data) {
    return static_cast<const DaCompact*>(data)->Dimension;
}

int32_t CompactKnotCount(const void* data) {
    const DaCompact* r = static_cast<const DaCompact*>(data);
    return HeaderIsSound(r) ? r->KnotCount : 0;
}

int32_t CompactFindKnot(const void* data, float t) {
    return FindCompactKnot(static_cast<const DaCompact*>(data), t);
}

int32_t CompactFindCloseKnot(const void* data, float t, int32_t hint) {
    return FindCompactKnotNear(static_cast<const DaCompact*>(data), t, hint);
}

void CompactExtract(const void* data, int32_t first, int32_t count, float* knots, float* controls,
                    const float*) {
    const DaCompact* r = static_cast<const DaCompact*>(data);
    if (knots)
        for (int32_t i = 0; i < count; ++i)
            knots[i] = float(first + i) * r->KnotInterval;
    if (controls) DecodeCompactKnots(r, first, count, controls);
}

void CompactLayout(const orvane_curve_builder* b, void** data) {
    DaCompact** record = reinterpret_cast<DaCompact**>(data);
    AggregateAllocate(record, sizeof(DaCompact));
    // A copy takes its source's bytes; a new curve 16-bit segments of 16 knots.
    const DaCompact* source = b->Source && b->Source->CurveData.Object &&
                                      FormatNumber(b->Source) == OrvaneCurveFormatDaCompact
                                  ? static_cast<const DaCompact*>(b->Source->CurveData.Object)
                                  : nullptr;
    int32_t bytes = 0;
    if (source) {
        bytes = source->ByteCount > 0 ? source->ByteCount : 0;
    } else {
        const int32_t d = b->Dimension > 0 ? b->Dimension : 0;
        bytes = CompactSizesFor(b->KnotCount, d, kCompactComponents, kCompactDefaultSegmentLength,
                                nullptr)
                    .bytes;
    }
    AggregateAllocateArrayMember(*record, offsetof(DaCompact, ByteCount),
                                 offsetof(DaCompact, Bytes), bytes, 1);
}

void CompactSetAll(void* data, int32_t knotCount, int32_t dimension, const float* knots,
                   const float* controls) {
    DaCompact* r = static_cast<DaCompact*>(data);
    // A record the builder has just laid out (all zeros) takes the builder's defaults; an
    // encoded one keeps its packing, segments and bit depths.
    const bool fresh = r->SegmentLength == 0;
    if (fresh) {
        r->Dimension = int16_t(dimension);
        r->Packing = kCompactComponents;
        r->SegmentLength = uint8_t(kCompactDefaultSegmentLength);
        r->KnotCount = knotCount;
        r->Layout = kCompactHeadersLastLayout;
    }
    if (!HeaderIsSound(r) || r->KnotCount != knotCount || r->Dimension != dimension) return;
    float interval = 0.0f;
    if (knotCount > 1) {
        interval = knots[knotCount - 1] / float(knotCount - 1);
        if (!Finite(interval) || !(interval > 0.0f)) interval = 1.0f;
    }
    r->KnotInterval = interval;
    if (fresh) {
        const int32_t stored = CompactStoredComponents(r->Packing, dimension);
        const int32_t segments = CompactSegmentCount(knotCount, r->SegmentLength);
        const SegmentHeaders h(r, stored);
        for (int32_t s = 0; s < segments; ++s)
            for (int32_t j = 0; j < stored; ++j)
                h.SetComponent(s, j, 0, 0, kCompactDefaultBits);
    }
    EncodeCompact(r, controls, nullptr);
}

void CompactCopy(void* destination, const void* source) {
    DaCompact* d = static_cast<DaCompact*>(destination);
    const DaCompact* s = static_cast<const DaCompact*>(source);
    d->Dimension = s->Dimension;
    d->KnotInterval = s->KnotInterval;
    d->KnotCount = s->KnotCount;
    d->Packing = s->Packing;
    d->SegmentLength = s->SegmentLength;
    d->Layout = s->Layout;
    const int32_t n = d->ByteCount < s->ByteCount ? d->ByteCount : s->ByteCount;
    if (n > 0) Copy(size_t(n), s->Bytes, d->Bytes);
}

void CompactSwizzle(void* data, int32_t, const float* scales, const float* offsets,
                    const int32_t* swizzles) {
    DaCompact* r = static_cast<DaCompact*>(data);
    if (!HeaderIsSound(r)) return;
    const int32_t d = r->Dimension;
    const bool quaternion = CompactIsQuaternion(r->Packing);
    const bool implied = r->Packing == kCompactQuaternionInUnitRange;
    // The stored numbers are moved, not re-quantised: the swizzle must be a permutation (as
    // a change of basis is), each component's bits moving with it.
    int32_t inverse[kCompactMaxDimension];
    for (int32_t j = 0; j < d; ++j)
        inverse[j] = -1;
    for (int32_t j = 0; j < d; ++j) {
        if (swizzles[j] < 0 || swizzles[j] >= d || inverse[swizzles[j]] >= 0) {
            ORVANE_LOG_ERROR(OrvaneCurveOrigin,
                             "A compact curve's swizzle must be a permutation of its components");
            return;
        }
        inverse[swizzles[j]] = j;
    }
    // The range follows its component: value' = scale * value + offset (quaternions: the sign
    // of the scale alone). In the implied unit range and in ranges of fractions, whose extents
    // stay positive, a component whose sign turns takes the range's negation, low -(m + e),
    // and its stored numbers are turned over within their segment's sub-range.
    const bool turnsOver = implied || FractionRange(r);
    float old[2 * kCompactMaxDimension];
    for (int32_t c = 0; c < 2 * d; ++c)
        old[c] = RangeValue(r, c);
    for (int32_t c = 0; c < d; ++c) {
        const float m = old[swizzles[c]], e = old[d + swizzles[c]];
        if (quaternion && turnsOver && scales[c] < 0.0f) {
            SetRangeValue(r, c, -(m + e));
            SetRangeValue(r, d + c, e);
            continue;
        }
        const float scale = quaternion ? (scales[c] < 0.0f ? -1.0f : 1.0f) : scales[c];
        SetRangeValue(r, c, scale * m + (quaternion ? 0.0f : offsets[c]));
        SetRangeValue(r, d + c, scale * e);
    }
    // Stored components move to their new places; the numbers themselves do not change.
    const int32_t stored = CompactStoredComponents(r->Packing, d);
    const bool line = CompactHasLines(r->Layout);
    const SegmentHeaders h(r, stored);
    const int32_t segments = CompactSegmentCount(r->KnotCount, r->SegmentLength);
    for (int32_t s = 0; s < segments; ++s) {
        CompactSegment before;
        ViewCompactSegment(r, s, &before);
        uint8_t oldLow[kCompactMaxDimension], oldExtent[kCompactMaxDimension],
            oldWidth[kCompactMaxDimension];
        for (int32_t j = 0; j < stored; ++j) {
            oldLow[j] = h.Low(s, j);
            oldExtent[j] = h.Extent(s, j);
            oldWidth[j] = line ? h.Width(s, j) : 0;
        }
        int32_t source[kCompactMaxDimension];  // old stored index of new stored index j
        int32_t dropped = -1;
        if (quaternion) {
            const int32_t moved = inverse[before.dropped];
            const bool negative = before.negative != (scales[moved] < 0.0f);
            h.SetFlags(s, moved, negative);
            for (int32_t j = 0; j < 3; ++j)
                source[j] = (swizzles[(moved + 1 + j) & 3] - before.dropped - 1 + 8) & 3;
            dropped = moved;
        } else {
            for (int32_t j = 0; j < d; ++j)
                source[j] = swizzles[j];
        }
        bool turned[kCompactMaxDimension] = {};
        for (int32_t j = 0; j < stored; ++j) {
            int32_t low = oldLow[source[j]];
            int32_t extent = oldExtent[source[j]];
            const int32_t bits = before.bits[source[j]];
            const int32_t c = ComponentOf(r->Packing, dropped, j);
            if (line) {
                // The line's ends and the band's width; a component whose sign turns takes the
                // line's negation, -(m + e A / 255) = -(m + e) + e (255 - A) / 255, and the band
                // turned over about it (the same width, its numbers turned within it).
                if (turnsOver && scales[c] < 0.0f) {
                    low = 255 - low;
                    extent = 255 - extent;
                    turned[j] = true;
                }
                h.SetComponent(s, j, low, extent, bits);
                h.SetWidth(s, j, oldWidth[source[j]]);
                continue;
            }
            if (turnsOver && scales[c] < 0.0f) {
                // -(-1 + 2 L / 255 + 2 E / 255 * q / M) = -1 + 2 (255 - L - E) / 255 +
                // 2 E / 255 * (M - q) / M, and at 0 bits -1 + 2 (255 - L) / 255.
                const int32_t turnedLow = bits ? 255 - low - extent : 255 - low;
                low = turnedLow < 0 ? 0 : turnedLow;
                turned[j] = true;
            }
            h.SetComponent(s, j, low, extent, bits);
        }
        uint8_t* values = Values(r);
        for (int32_t k = 0; k < SegmentKnots(r, s); ++k) {
            const int64_t position = before.start + int64_t(k) * before.stride;
            uint32_t q[kCompactMaxDimension];
            for (int32_t j = 0; j < stored; ++j)
                q[j] = ReadCompactBits(values, position + before.offset[j], before.bits[j]);
            int32_t offset = 0;
            for (int32_t j = 0; j < stored; ++j) {
                const int32_t bits = before.bits[source[j]];
                const uint32_t most = (1u << bits) - 1u;
                WriteBits(values, position + offset, bits,
                          turned[j] ? most - q[source[j]] : q[source[j]]);
                offset += bits;
            }
        }
    }
}

}  // namespace orvane

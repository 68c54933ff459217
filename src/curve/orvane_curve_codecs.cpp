// Curve codecs: the sixteen data formats' encoding and decoding, knot search, layout, copy and
// swizzling, gathered in the format table that every curve operation dispatches through.
#include <cmath>
#include <cstddef>
#include <cstring>
#include <type_traits>

#include "curve/orvane_compact_curve.h"
#include "curve/orvane_curve_private.h"
#include "curve/orvane_knot_search.h"
#include "curve/orvane_packed_constants.h"
#include "curve/orvane_quaternion_words.h"
#include "core/orvane_log.h"
#include "core/orvane_memory.h"

namespace orvane {
namespace {

// ------------------------------------------------------------------------------------------
// Shared arithmetic.

using DaKeyframes = orvane_curve_data_da_keyframes32f;
using DaIdentity = orvane_curve_data_da_identity;
using DaConstant = orvane_curve_data_da_constant32f;
using D3Constant = orvane_curve_data_d3_constant32f;
using D4Constant = orvane_curve_data_d4_constant32f;

inline int32_t NonNegative(int32_t v) {
    return v < 0 ? 0 : v;
}

// The knot search of a record's knots: 0 when it has none.
template <typename K, typename V>
int32_t FindKnotIndex(const K* knots, int32_t count, V key) {
    return count <= 0 ? 0 : GuessUpperBoundKnot(knots, count, key);
}

// The elements a copy between records may move: as many as both arrays hold (a negative
// count holds none).
inline int32_t CopyCount(int32_t destinationCount, int32_t sourceCount) {
    const int32_t destination = NonNegative(destinationCount);
    const int32_t source = NonNegative(sourceCount);
    return source < destination ? source : destination;
}

template <typename Q>
constexpr int32_t kQuantisedMax = sizeof(Q) == 2 ? 65535 : 255;

inline uint16_t TruncateKnotScale(float scale) {
    uint32_t bits;
    std::memcpy(&bits, &scale, 4);
    return uint16_t(bits >> 16);
}

// N / last knot. A curve whose last knot is zero, negative or not finite (a single knot at
// time 0, say) would quantise every knot through an infinite or NaN scale: it takes N.
template <typename Q>
float WholeKnotScale(int32_t knotCount, const float* knots) {
    const float n = float(kQuantisedMax<Q>);
    if (knotCount <= 0) return n;
    float scale = n / knots[knotCount - 1];
    if (!(scale > 0.0f) || !std::isfinite(scale)) scale = n;
    return scale;
}

// Rounds to the nearest integer, ties to even, after clamping to [0, max]; NaN gives 0.
inline int32_t QuantiseClamped(float value, int32_t max) {
    if (!(value > 0.0f)) return 0;
    if (value > float(max)) return max;
    return int32_t(std::nearbyint(value));
}

template <typename Q>
void EncodeKnots(int32_t knotCount, const float* knots, float scale, Q* out) {
    for (int32_t i = 0; i < knotCount; ++i)
        out[i] = Q(QuantiseClamped(scale * knots[i], kQuantisedMax<Q>));
}

// The knot of time t in a quantised curve.
template <typename Q>
int32_t FindQuantisedKnot(const Q* knots, int32_t count, float scale, float t) {
    return FindKnotIndex(knots, count, QuantisedKey<Q>(scale, t));
}

// ------------------------------------------------------------------------------------------
// A uniform view of the quantised formats 6, 7 and 10-15: per knot `components` stored
// values, each decoded as q * scale + offset, then placed into `outDimension` outputs.

enum class Placement { Direct, UniformDiagonal, Diagonal };

template <typename Q>
struct QuantisedView {
    Q* knotsControls;
    int32_t knotCount;
    int32_t components;
    float* scales;
    float* offsets;
    int32_t outDimension;
    Placement placement;
};

template <typename R>
using QuantisedOf = std::remove_pointer_t<decltype(R::KnotsControls)>;

// The shapes, known per record type so that decoding unrolls.
template <typename R>
constexpr bool kIsAnyDimension = requires(R r) {
    r.ControlScaleOffsets;
};
template <typename R>
constexpr bool kIsUniformDiagonal = requires(R r) {
    r.ControlScale;
};
template <typename R>
constexpr bool kIsDiagonal = std::is_same_v<R, orvane_curve_data_d9i3_k16u_c16u> ||
                             std::is_same_v<R, orvane_curve_data_d9i3_k8u_c8u>;

template <typename R>
QuantisedView<QuantisedOf<R>> ViewOf(R* r) {
    using Q = QuantisedOf<R>;
    if constexpr (requires { r->ControlScaleOffsets; }) {
        int32_t d = NonNegative(r->ControlScaleOffsetCount) / 2;
        int32_t n = d + 1 > 0 ? NonNegative(r->KnotControlCount) / (d + 1) : 0;
        return {r->KnotsControls, n, d, r->ControlScaleOffsets, r->ControlScaleOffsets + d, d,
                Placement::Direct};
    } else if constexpr (requires { r->ControlScale; }) {
        return {r->KnotsControls,
                NonNegative(r->KnotControlCount) / 2,
                1,
                &r->ControlScale,
                &r->ControlOffset,
                9,
                Placement::UniformDiagonal};
    } else {
        constexpr bool kNine = std::is_same_v<R, orvane_curve_data_d9i3_k16u_c16u> ||
                               std::is_same_v<R, orvane_curve_data_d9i3_k8u_c8u>;
        return {r->KnotsControls,
                NonNegative(r->KnotControlCount) / 4,
                3,
                r->ControlScales,
                r->ControlOffsets,
                kNine ? 9 : 3,
                kNine ? Placement::Diagonal : Placement::Direct};
    }
    (void)sizeof(Q);
}

template <typename R>
QuantisedView<QuantisedOf<R>> ViewOf(const R* r) {
    return ViewOf(const_cast<R*>(r));
}

// Which input component of a control vector feeds stored component j.
inline int32_t SourceComponent(Placement placement, int32_t j) {
    return placement == Placement::Direct ? j : 4 * j;
}

template <typename R>
int32_t QuantisedDimension(const void* data) {
    return ViewOf(static_cast<const R*>(data)).outDimension;
}
template <typename R>
int32_t QuantisedKnotCount(const void* data) {
    return ViewOf(static_cast<const R*>(data)).knotCount;
}
template <typename R>
int32_t QuantisedFindKnot(const void* data, float t) {
    const R* r = static_cast<const R*>(data);
    auto v = ViewOf(r);
    return FindQuantisedKnot(v.knotsControls, v.knotCount,
                             KnotScaleFromTrunc(r->OneOverKnotScaleTrunc), t);
}
template <typename R>
int32_t QuantisedFindCloseKnot(const void* data, float t, int32_t) {
    return QuantisedFindKnot<R>(data, t);
}

template <typename R>
void QuantisedExtract(const void* data, int32_t first, int32_t count, float* knots, float* controls,
                      const float*) {
    const R* r = static_cast<const R*>(data);
    auto v = ViewOf(r);
    if (knots) {
        const float inverse = 1.0f / KnotScaleFromTrunc(r->OneOverKnotScaleTrunc);
        for (int32_t i = 0; i < count; ++i)
            knots[i] = inverse * float(v.knotsControls[first + i]);
    }
    if (!controls) return;
    for (int32_t i = 0; i < count; ++i) {
        const auto* q = v.knotsControls + v.knotCount + (first + i) * v.components;
        float* out = controls + i * v.outDimension;
        if constexpr (kIsUniformDiagonal<R>) {
            const float value = v.offsets[0] + v.scales[0] * float(q[0]);
            for (int32_t j = 0; j < 9; ++j)
                out[j] = 0.0f;
            out[0] = out[4] = out[8] = value;
        } else if constexpr (kIsDiagonal<R>) {
            for (int32_t j = 0; j < 9; ++j)
                out[j] = 0.0f;
            for (int32_t j = 0; j < 3; ++j)
                out[4 * j] = float(q[j]) * v.scales[j] + v.offsets[j];
        } else if constexpr (kIsAnyDimension<R>) {
            for (int32_t j = 0; j < v.components; ++j)
                out[j] = float(q[j]) * v.scales[j] + v.offsets[j];
        } else {
            for (int32_t j = 0; j < 3; ++j)
                out[j] = float(q[j]) * v.scales[j] + v.offsets[j];
        }
    }
}

template <typename R>
void QuantisedSetAll(void* data, int32_t knotCount, int32_t, const float* knots,
                     const float* controls) {
    using Q = QuantisedOf<R>;
    R* r = static_cast<R*>(data);
    auto v = ViewOf(r);
    const float scale = WholeKnotScale<Q>(knotCount, knots);
    r->OneOverKnotScaleTrunc = TruncateKnotScale(scale);
    EncodeKnots(knotCount, knots, KnotScaleFromTrunc(r->OneOverKnotScaleTrunc), v.knotsControls);

    const float step = 1.0f / float(kQuantisedMax<Q>);
    for (int32_t j = 0; j < v.components; ++j) {
        const int32_t source = SourceComponent(v.placement, j);
        float low = 0.0f, high = 0.0f;
        for (int32_t i = 0; i < knotCount; ++i) {
            const float value = controls[i * v.outDimension + source];
            if (i == 0 || value < low) low = value;
            if (i == 0 || value > high) high = value;
        }
        float s = (high - low) * step;
        if (s == 0.0f) s = 1.0f;
        v.scales[j] = s;
        v.offsets[j] = low;
        for (int32_t i = 0; i < knotCount; ++i) {
            const float value = controls[i * v.outDimension + source];
            v.knotsControls[knotCount + i * v.components + j] =
                Q(QuantiseClamped((value - low) / s, kQuantisedMax<Q>));
        }
    }
}

template <typename R>
void QuantisedLayout(const orvane_curve_builder* b, void** data) {
    using Q = QuantisedOf<R>;
    R** record = reinterpret_cast<R**>(data);
    AggregateAllocate(record, sizeof(R));
    if constexpr (requires(R r) { r.ControlScaleOffsets; }) {
        AggregateAllocateArrayMember(*record, offsetof(R, ControlScaleOffsetCount),
                                     offsetof(R, ControlScaleOffsets), 2 * b->Dimension,
                                     sizeof(float));
        AggregateAllocateArrayMember(*record, offsetof(R, KnotControlCount),
                                     offsetof(R, KnotsControls), b->KnotCount * (b->Dimension + 1),
                                     sizeof(Q));
    } else if constexpr (requires(R r) { r.ControlScale; }) {
        AggregateAllocateArrayMember(*record, offsetof(R, KnotControlCount),
                                     offsetof(R, KnotsControls), 2 * b->KnotCount, sizeof(Q));
    } else {
        AggregateAllocateArrayMember(*record, offsetof(R, KnotControlCount),
                                     offsetof(R, KnotsControls), 4 * b->KnotCount, sizeof(Q));
    }
}

template <typename R>
void QuantisedCopy(void* destination, const void* source) {
    R* d = static_cast<R*>(destination);
    const R* s = static_cast<const R*>(source);
    d->OneOverKnotScaleTrunc = s->OneOverKnotScaleTrunc;
    if constexpr (requires(R r) { r.ControlScaleOffsets; }) {
        const int32_t count = CopyCount(d->ControlScaleOffsetCount, s->ControlScaleOffsetCount);
        Copy32(size_t(count), s->ControlScaleOffsets, d->ControlScaleOffsets);
    } else if constexpr (requires(R r) { r.ControlScale; }) {
        d->ControlScale = s->ControlScale;
        d->ControlOffset = s->ControlOffset;
    } else {
        Copy32(3, s->ControlScales, d->ControlScales);
        Copy32(3, s->ControlOffsets, d->ControlOffsets);
    }
    const int32_t count = CopyCount(d->KnotControlCount, s->KnotControlCount);
    Copy(size_t(count) * sizeof(*d->KnotsControls), s->KnotsControls, d->KnotsControls);
}

template <typename R>
void QuantisedSwizzle(void* data, int32_t, const float* scales, const float* offsets,
                      const int32_t* swizzles) {
    using Q = QuantisedOf<R>;
    R* r = static_cast<R*>(data);
    auto v = ViewOf(r);
    if (v.placement == Placement::UniformDiagonal) {
        v.scales[0] *= scales[0];
        v.offsets[0] = v.offsets[0] * scales[0] + offsets[0];
        return;
    }
    // For each stored component j: the stored component it takes its numbers from, or -1
    // when its source holds zeros (an off-diagonal element of the 3x3).
    int32_t from[16];
    float oldScales[16], oldOffsets[16];
    for (int32_t j = 0; j < v.components; ++j) {
        oldScales[j] = v.scales[j];
        oldOffsets[j] = v.offsets[j];
        if (v.placement == Placement::Direct) {
            from[j] = swizzles[j];
        } else {
            const int32_t s = swizzles[4 * j];
            from[j] = (s == 0 || s == 4 || s == 8) ? s / 4 : -1;
        }
    }
    for (int32_t j = 0; j < v.components; ++j) {
        const int32_t p = SourceComponent(v.placement, j);
        const float oldScale = from[j] >= 0 ? oldScales[from[j]] : 0.0f;
        const float oldOffset = from[j] >= 0 ? oldOffsets[from[j]] : 0.0f;
        v.scales[j] = oldScale * scales[p];
        v.offsets[j] = oldOffset * scales[p] + offsets[p];
    }
    Q row[16];
    for (int32_t i = 0; i < v.knotCount; ++i) {
        Q* q = v.knotsControls + v.knotCount + i * v.components;
        for (int32_t j = 0; j < v.components; ++j)
            row[j] = from[j] >= 0 ? q[from[j]] : Q(0);
        for (int32_t j = 0; j < v.components; ++j)
            q[j] = row[j];
    }
}

// ------------------------------------------------------------------------------------------
// Formats 8 and 9: unit quaternions with the largest component dropped.

template <typename R>
using QuaternionWordOf = std::remove_pointer_t<decltype(R::KnotsControls)>;

template <typename R>
int32_t QuaternionKnotCount(const void* data) {
    return NonNegative(static_cast<const R*>(data)->KnotControlCount) / 4;
}
int32_t FourDimensions(const void*) {
    return 4;
}

template <typename R>
int32_t QuaternionFindKnot(const void* data, float t) {
    const R* r = static_cast<const R*>(data);
    return FindQuantisedKnot(r->KnotsControls, QuaternionKnotCount<R>(data), r->OneOverKnotScale,
                             t);
}
template <typename R>
int32_t QuaternionFindCloseKnot(const void* data, float t, int32_t) {
    return QuaternionFindKnot<R>(data, t);
}

template <typename R>
void QuaternionExtract(const void* data, int32_t first, int32_t count, float* knots,
                       float* controls, const float*) {
    using Q = QuaternionWordOf<R>;
    const R* r = static_cast<const R*>(data);
    const int32_t n = QuaternionKnotCount<R>(data);
    if (knots) {
        const float inverse = 1.0f / r->OneOverKnotScale;
        for (int32_t i = 0; i < count; ++i)
            knots[i] = inverse * float(r->KnotsControls[first + i]);
    }
    if (!controls) return;
    float scales[4], offsets[4];
    QuaternionScalesOffsets<Q>(r->ScaleOffsetTableEntries, scales, offsets);
    for (int32_t i = 0; i < count; ++i)
        DecodeQuaternionWords(r->KnotsControls + n + 3 * (first + i), scales, offsets,
                              controls + 4 * i);
}

inline void NormaliseQuaternion(const float* in, float* out) {
    const float length2 = in[0] * in[0] + in[1] * in[1] + in[2] * in[2] + in[3] * in[3];
    if (!(length2 > 0.0f) || !std::isfinite(length2)) {
        out[0] = out[1] = out[2] = 0.0f;
        out[3] = 1.0f;
        return;
    }
    const float inverse = 1.0f / std::sqrt(length2);
    for (int32_t c = 0; c < 4; ++c)
        out[c] = in[c] * inverse;
}

inline int32_t LargestComponent(const float* q) {
    int32_t largest = 0;
    for (int32_t c = 1; c < 4; ++c)
        if (std::fabs(q[c]) > std::fabs(q[largest])) largest = c;
    return largest;
}

template <typename R>
void QuaternionSetAll(void* data, int32_t knotCount, int32_t, const float* knots,
                      const float* controls) {
    using Q = QuaternionWordOf<R>;
    R* r = static_cast<R*>(data);
    r->OneOverKnotScale = WholeKnotScale<Q>(knotCount, knots);
    EncodeKnots(knotCount, knots, r->OneOverKnotScale, r->KnotsControls);

    float low[4] = {2.0f, 2.0f, 2.0f, 2.0f}, high[4] = {-2.0f, -2.0f, -2.0f, -2.0f};
    for (int32_t i = 0; i < knotCount; ++i) {
        float q[4];
        NormaliseQuaternion(controls + 4 * i, q);
        const int32_t dropped = LargestComponent(q);
        for (int32_t c = 0; c < 4; ++c) {
            if (c == dropped) continue;
            if (q[c] < low[c]) low[c] = q[c];
            if (q[c] > high[c]) high[c] = q[c];
        }
    }
    uint16_t entries = 0;
    int32_t entry[4];
    for (int32_t c = 0; c < 4; ++c) {
        entry[c] = 0;
        if (low[c] <= high[c]) {
            for (int32_t m = 7; m >= 0; --m) {
                const ScaleOffset& e = kQuaternionScaleOffsetTable[m];
                if (e.offset <= low[c] && e.offset + e.scale >= high[c]) {
                    entry[c] = m;
                    break;
                }
            }
        }
        entries = uint16_t(entries | (entry[c] << (4 * c)));
    }
    r->ScaleOffsetTableEntries = entries;

    constexpr uint32_t flag = kFlagBit<Q>;
    Q* words = r->KnotsControls + knotCount;
    for (int32_t i = 0; i < knotCount; ++i) {
        float q[4];
        NormaliseQuaternion(controls + 4 * i, q);
        const int32_t dropped = LargestComponent(q);
        uint32_t w[3];
        for (int32_t k = 0; k < 3; ++k) {
            const int32_t c = (dropped + 1 + k) & 3;
            const ScaleOffset& e = kQuaternionScaleOffsetTable[entry[c]];
            const float step = e.scale / float(kQuaternionMax<Q>);
            w[k] = uint32_t(QuantiseClamped((q[c] - e.offset) / step, kQuaternionMax<Q>));
        }
        if (q[dropped] < 0.0f) w[0] |= flag;
        if (dropped & 2) w[1] |= flag;
        if (dropped & 1) w[2] |= flag;
        for (int32_t k = 0; k < 3; ++k)
            words[3 * i + k] = Q(w[k]);
    }
}

template <typename R>
void QuaternionLayout(const orvane_curve_builder* b, void** data) {
    R** record = reinterpret_cast<R**>(data);
    AggregateAllocate(record, sizeof(R));
    AggregateAllocateArrayMember(*record, offsetof(R, KnotControlCount), offsetof(R, KnotsControls),
                                 4 * b->KnotCount, sizeof(QuaternionWordOf<R>));
}

template <typename R>
void QuaternionCopy(void* destination, const void* source) {
    R* d = static_cast<R*>(destination);
    const R* s = static_cast<const R*>(source);
    d->ScaleOffsetTableEntries = s->ScaleOffsetTableEntries;
    d->OneOverKnotScale = s->OneOverKnotScale;
    const int32_t count = CopyCount(d->KnotControlCount, s->KnotControlCount);
    Copy(size_t(count) * sizeof(*d->KnotsControls), s->KnotsControls, d->KnotsControls);
}

// Only the signs of the scales matter: a negative scale moves the component to the negated
// table entry (bit 3) and flips the stored sign of a dropped component.
template <typename R>
void QuaternionSwizzle(void* data, int32_t, const float* scales, const float*,
                       const int32_t* swizzles) {
    using Q = QuaternionWordOf<R>;
    R* r = static_cast<R*>(data);
    uint16_t entries = 0;
    int32_t destinationOf[4];
    for (int32_t c = 0; c < 4; ++c) {
        int32_t e = (r->ScaleOffsetTableEntries >> (4 * swizzles[c])) & 15;
        if (scales[c] < 0.0f) e ^= 8;
        entries = uint16_t(entries | (e << (4 * c)));
        destinationOf[swizzles[c]] = c;
    }
    r->ScaleOffsetTableEntries = entries;
    constexpr uint32_t flag = kFlagBit<Q>;
    const int32_t n = QuaternionKnotCount<R>(data);
    for (int32_t i = 0; i < n; ++i) {
        Q* w = r->KnotsControls + n + 3 * i;
        const int32_t dropped = 2 * ((w[1] & flag) != 0) + ((w[2] & flag) != 0);
        uint32_t raw[4] = {0, 0, 0, 0};
        for (int32_t k = 0; k < 3; ++k)
            raw[(dropped + 1 + k) & 3] = w[k] & (flag - 1);
        bool negative = (w[0] & flag) != 0;
        const int32_t newDropped = destinationOf[dropped];
        if (scales[newDropped] < 0.0f) negative = !negative;
        uint32_t out[3];
        for (int32_t k = 0; k < 3; ++k)
            out[k] = raw[swizzles[(newDropped + 1 + k) & 3]];
        if (negative) out[0] |= flag;
        if (newDropped & 2) out[1] |= flag;
        if (newDropped & 1) out[2] |= flag;
        for (int32_t k = 0; k < 3; ++k)
            w[k] = Q(out[k]);
    }
}

// ------------------------------------------------------------------------------------------
// Formats 0-5: plain floats, identity and constants.

int32_t ZeroKnot(const void*, float) {
    return 0;
}
int32_t ZeroCloseKnot(const void*, float, int32_t) {
    return 0;
}

// Applies value[j] = scales[j] * old[swizzles[j]] + offsets[j] to count vectors.
void SwizzleVectors(float* values, int32_t count, int32_t dimension, const float* scales,
                    const float* offsets, const int32_t* swizzles) {
    float old[16];
    for (int32_t i = 0; i < count; ++i) {
        float* v = values + i * dimension;
        Copy32(size_t(dimension), v, old);
        for (int32_t j = 0; j < dimension; ++j)
            v[j] = scales[j] * old[swizzles[j]] + offsets[j];
    }
}

// 0: DaKeyframes32f
int32_t KeyframesDimension(const void* data) {
    return NonNegative(static_cast<const DaKeyframes*>(data)->Dimension);
}
int32_t KeyframesKnotCount(const void* data) {
    const DaKeyframes* r = static_cast<const DaKeyframes*>(data);
    const int32_t d = KeyframesDimension(data);
    return d > 0 ? NonNegative(r->ControlCount) / d : 0;
}
void KeyframesExtract(const void* data, int32_t first, int32_t count, float*, float* controls,
                      const float*) {
    const DaKeyframes* r = static_cast<const DaKeyframes*>(data);
    const int32_t d = KeyframesDimension(data);
    if (controls) Copy32(size_t(count) * size_t(d), r->Controls + first * d, controls);
}
void KeyframesSetAll(void* data, int32_t knotCount, int32_t dimension, const float*,
                     const float* controls) {
    DaKeyframes* r = static_cast<DaKeyframes*>(data);
    r->Dimension = int16_t(dimension);
    Copy32(size_t(knotCount) * size_t(dimension), controls, r->Controls);
}
void KeyframesLayout(const orvane_curve_builder* b, void** data) {
    DaKeyframes** record = reinterpret_cast<DaKeyframes**>(data);
    AggregateAllocate(record, sizeof(DaKeyframes));
    AggregateAllocateArrayMember(*record, offsetof(DaKeyframes, ControlCount),
                                 offsetof(DaKeyframes, Controls), b->KnotCount * b->Dimension,
                                 sizeof(float));
}
void KeyframesCopy(void* destination, const void* source) {
    DaKeyframes* d = static_cast<DaKeyframes*>(destination);
    const DaKeyframes* s = static_cast<const DaKeyframes*>(source);
    d->Dimension = s->Dimension;
    const int32_t count = CopyCount(d->ControlCount, s->ControlCount);
    Copy32(size_t(count), s->Controls, d->Controls);
}
void KeyframesSwizzle(void* data, int32_t, const float* scales, const float* offsets,
                      const int32_t* swizzles) {
    DaKeyframes* r = static_cast<DaKeyframes*>(data);
    SwizzleVectors(r->Controls, KeyframesKnotCount(data), KeyframesDimension(data), scales, offsets,
                   swizzles);
}

// 1: DaK32fC32f. A record with no knots has no dimension (the quotient would divide by
// zero).
int32_t FloatDimension(const void* data) {
    const DaK32fC32f* r = static_cast<const DaK32fC32f*>(data);
    return r->KnotCount > 0 ? NonNegative(r->ControlCount) / r->KnotCount : 0;
}
int32_t FloatKnotCount(const void* data) {
    return NonNegative(static_cast<const DaK32fC32f*>(data)->KnotCount);
}
int32_t FloatFindKnot(const void* data, float t) {
    const DaK32fC32f* r = static_cast<const DaK32fC32f*>(data);
    return FindKnotIndex(r->Knots, FloatKnotCount(data), t);
}
int32_t FloatFindCloseKnot(const void* data, float t, int32_t) {
    return FloatFindKnot(data, t);
}
void FloatExtract(const void* data, int32_t first, int32_t count, float* knots, float* controls,
                  const float*) {
    const DaK32fC32f* r = static_cast<const DaK32fC32f*>(data);
    const int32_t d = FloatDimension(data);
    if (knots) Copy32(size_t(count), r->Knots + first, knots);
    if (controls) Copy32(size_t(count) * size_t(d), r->Controls + first * d, controls);
}
void FloatSetAll(void* data, int32_t knotCount, int32_t dimension, const float* knots,
                 const float* controls) {
    DaK32fC32f* r = static_cast<DaK32fC32f*>(data);
    Copy32(size_t(knotCount), knots, r->Knots);
    Copy32(size_t(knotCount) * size_t(dimension), controls, r->Controls);
}
void FloatLayout(const orvane_curve_builder* b, void** data) {
    DaK32fC32f** record = reinterpret_cast<DaK32fC32f**>(data);
    AggregateAllocate(record, sizeof(DaK32fC32f));
    AggregateAllocateArrayMember(*record, offsetof(DaK32fC32f, KnotCount),
                                 offsetof(DaK32fC32f, Knots), b->KnotCount, sizeof(float));
    AggregateAllocateArrayMember(*record, offsetof(DaK32fC32f, ControlCount),
                                 offsetof(DaK32fC32f, Controls), b->KnotCount * b->Dimension,
                                 sizeof(float));
}
void FloatCopy(void* destination, const void* source) {
    DaK32fC32f* d = static_cast<DaK32fC32f*>(destination);
    const DaK32fC32f* s = static_cast<const DaK32fC32f*>(source);
    Copy32(size_t(CopyCount(d->KnotCount, s->KnotCount)), s->Knots, d->Knots);
    Copy32(size_t(CopyCount(d->ControlCount, s->ControlCount)), s->Controls, d->Controls);
}
void FloatSwizzle(void* data, int32_t, const float* scales, const float* offsets,
                  const int32_t* swizzles) {
    DaK32fC32f* r = static_cast<DaK32fC32f*>(data);
    SwizzleVectors(r->Controls, FloatKnotCount(data), FloatDimension(data), scales, offsets,
                   swizzles);
}

// 2: DaIdentity
int32_t IdentityDimension(const void* data) {
    return NonNegative(static_cast<const DaIdentity*>(data)->Dimension);
}
int32_t NoKnots(const void*) {
    return 0;
}
void IdentityExtract(const void* data, int32_t, int32_t count, float* knots, float* controls,
                     const float* identity) {
    const int32_t d = IdentityDimension(data);
    if (knots && count == 1) knots[0] = 0.0f;
    if (!controls) return;
    for (int32_t i = 0; i < count; ++i) {
        if (identity)
            Copy32(size_t(d), identity, controls + i * d);
        else
            SetReal32(size_t(d), 0.0f, controls + i * d);
    }
}
void IdentitySetAll(void* data, int32_t, int32_t dimension, const float*, const float*) {
    static_cast<DaIdentity*>(data)->Dimension = int16_t(dimension);
}
void IdentityLayout(const orvane_curve_builder*, void** data) {
    AggregateAllocate(reinterpret_cast<DaIdentity**>(data), sizeof(DaIdentity));
}
void IdentityCopy(void* destination, const void* source) {
    static_cast<DaIdentity*>(destination)->Dimension =
        static_cast<const DaIdentity*>(source)->Dimension;
}
void IdentitySwizzle(void*, int32_t, const float*, const float*, const int32_t*) {}

// 3, 4, 5: constants. Every knot asked for gets the stored values.
int32_t OneKnot(const void*) {
    return 1;
}
const float* ConstantValues(const void* data, int32_t format, int32_t* dimension) {
    switch (format) {
        case OrvaneCurveFormatDaConstant32f: {
            const DaConstant* r = static_cast<const DaConstant*>(data);
            *dimension = NonNegative(r->ControlCount);
            return r->Controls;
        }
        case OrvaneCurveFormatD3Constant32f:
            *dimension = 3;
            return static_cast<const D3Constant*>(data)->Controls;
        default:
            *dimension = 4;
            return static_cast<const D4Constant*>(data)->Controls;
    }
}
template <int32_t kFormat>
int32_t ConstantDimension(const void* data) {
    int32_t d;
    ConstantValues(data, kFormat, &d);
    return d;
}
template <int32_t kFormat>
void ConstantExtract(const void* data, int32_t, int32_t count, float* knots, float* controls,
                     const float*) {
    int32_t d;
    const float* values = ConstantValues(data, kFormat, &d);
    for (int32_t i = 0; i < count; ++i) {
        if (knots) knots[i] = 0.0f;
        if (controls) Copy32(size_t(d), values, controls + i * d);
    }
}
template <int32_t kFormat>
void ConstantSetAll(void* data, int32_t, int32_t, const float*, const float* controls) {
    int32_t d;
    float* values = const_cast<float*>(ConstantValues(data, kFormat, &d));
    Copy32(size_t(d), controls, values);
}
template <int32_t kFormat>
void ConstantLayout(const orvane_curve_builder* b, void** data) {
    if constexpr (kFormat == OrvaneCurveFormatDaConstant32f) {
        DaConstant** record = reinterpret_cast<DaConstant**>(data);
        AggregateAllocate(record, sizeof(DaConstant));
        AggregateAllocateArrayMember(*record, offsetof(DaConstant, ControlCount),
                                     offsetof(DaConstant, Controls), b->Dimension, sizeof(float));
    } else if constexpr (kFormat == OrvaneCurveFormatD3Constant32f) {
        AggregateAllocate(reinterpret_cast<D3Constant**>(data), sizeof(D3Constant));
    } else {
        AggregateAllocate(reinterpret_cast<D4Constant**>(data), sizeof(D4Constant));
    }
}
template <int32_t kFormat>
void ConstantCopy(void* destination, const void* source) {
    int32_t dd, sd;
    float* d = const_cast<float*>(ConstantValues(destination, kFormat, &dd));
    const float* s = ConstantValues(source, kFormat, &sd);
    Copy32(size_t(dd < sd ? dd : sd), s, d);
}
template <int32_t kFormat>
void ConstantSwizzle(void* data, int32_t, const float* scales, const float* offsets,
                     const int32_t* swizzles) {
    int32_t d;
    float* values = const_cast<float*>(ConstantValues(data, kFormat, &d));
    SwizzleVectors(values, 1, d, scales, offsets, swizzles);
}

template <typename R>
constexpr CurveFormat QuantisedRow(orvane_data_type_definition* type, const char* name) {
    return {type,
            name,
            QuantisedDimension<R>,
            QuantisedKnotCount<R>,
            QuantisedFindKnot<R>,
            QuantisedFindCloseKnot<R>,
            QuantisedExtract<R>,
            QuantisedSetAll<R>,
            QuantisedLayout<R>,
            QuantisedCopy<R>,
            QuantisedSwizzle<R>};
}
template <typename R>
constexpr CurveFormat QuaternionRow(orvane_data_type_definition* type, const char* name) {
    return {type,
            name,
            FourDimensions,
            QuaternionKnotCount<R>,
            QuaternionFindKnot<R>,
            QuaternionFindCloseKnot<R>,
            QuaternionExtract<R>,
            QuaternionSetAll<R>,
            QuaternionLayout<R>,
            QuaternionCopy<R>,
            QuaternionSwizzle<R>};
}
template <int32_t kFormat>
constexpr CurveFormat ConstantRow(orvane_data_type_definition* type, const char* name) {
    return {type,
            name,
            ConstantDimension<kFormat>,
            OneKnot,
            ZeroKnot,
            ZeroCloseKnot,
            ConstantExtract<kFormat>,
            ConstantSetAll<kFormat>,
            ConstantLayout<kFormat>,
            ConstantCopy<kFormat>,
            ConstantSwizzle<kFormat>};
}

template <int32_t kFormat>
constexpr CurveFormat PackedConstantRow(orvane_data_type_definition* type, const char* name) {
    return {type,
            name,
            PackedConstantDimension<kFormat>,
            PackedConstantKnotCount,
            ZeroKnot,
            ZeroCloseKnot,
            PackedConstantExtract<kFormat>,
            PackedConstantSetAll<kFormat>,
            PackedConstantLayout<kFormat>,
            PackedConstantCopy,
            PackedConstantSwizzle<kFormat>};
}

}  // namespace

const CurveFormat kCurveFormats[OrvaneCurveFormatTableSize] = {
    {g_curveDataDaKeyframes32f, "DaKeyframes32f", KeyframesDimension, KeyframesKnotCount, ZeroKnot,
     ZeroCloseKnot, KeyframesExtract, KeyframesSetAll, KeyframesLayout, KeyframesCopy,
     KeyframesSwizzle},
    {g_curveDataDaK32fC32f, "DaK32fC32f", FloatDimension, FloatKnotCount, FloatFindKnot,
     FloatFindCloseKnot, FloatExtract, FloatSetAll, FloatLayout, FloatCopy, FloatSwizzle},
    {g_curveDataDaIdentity, "DaIdentity", IdentityDimension, NoKnots, ZeroKnot, ZeroCloseKnot,
     IdentityExtract, IdentitySetAll, IdentityLayout, IdentityCopy, IdentitySwizzle},
    ConstantRow<OrvaneCurveFormatDaConstant32f>(g_curveDataDaConstant32f, "DaConstant32f"),
    ConstantRow<OrvaneCurveFormatD3Constant32f>(g_curveDataD3Constant32f, "D3Constant32f"),
    ConstantRow<OrvaneCurveFormatD4Constant32f>(g_curveDataD4Constant32f, "D4Constant32f"),
    QuantisedRow<orvane_curve_data_da_k16u_c16u>(g_curveDataDaK16uC16u, "DaK16uC16u"),
    QuantisedRow<orvane_curve_data_da_k8u_c8u>(g_curveDataDaK8uC8u, "DaK8uC8u"),
    QuaternionRow<orvane_curve_data_d4n_k16u_c15u>(g_curveDataD4nK16uC15u, "D4nK16uC15u"),
    QuaternionRow<orvane_curve_data_d4n_k8u_c7u>(g_curveDataD4nK8uC7u, "D4nK8uC7u"),
    QuantisedRow<orvane_curve_data_d3_k16u_c16u>(g_curveDataD3K16uC16u, "D3K16uC16u"),
    QuantisedRow<orvane_curve_data_d3_k8u_c8u>(g_curveDataD3K8uC8u, "D3K8uC8u"),
    QuantisedRow<orvane_curve_data_d9i1_k16u_c16u>(g_curveDataD9I1K16uC16u, "D9I1K16uC16u"),
    QuantisedRow<orvane_curve_data_d9i3_k16u_c16u>(g_curveDataD9I3K16uC16u, "D9I3K16uC16u"),
    QuantisedRow<orvane_curve_data_d9i1_k8u_c8u>(g_curveDataD9I1K8uC8u, "D9I1K8uC8u"),
    QuantisedRow<orvane_curve_data_d9i3_k8u_c8u>(g_curveDataD9I3K8uC8u, "D9I3K8uC8u"),
    {g_curveDataDaCompact, "DaCompact", CompactDimension, CompactKnotCount, CompactFindKnot,
     CompactFindCloseKnot, CompactExtract, CompactSetAll, CompactLayout, CompactCopy,
     CompactSwizzle},
    PackedConstantRow<OrvaneCurveFormatD3Constant14s>(g_curveDataD3Constant14s, "D3Constant14s"),
    PackedConstantRow<OrvaneCurveFormatD4nConstant15u>(g_curveDataD4nConstant15u, "D4nConstant15u"),
};

bool CurveTypesMatch(orvane_data_type_definition* a, orvane_data_type_definition* b) {
    return a == b || OrvaneDataTypesAreEqualWithNames(a, b);
}

int32_t FindFormatIndex(orvane_data_type_definition* type) {
    if (type == nullptr) return -1;
    for (int32_t i = 0; i < OrvaneCurveFormatTableSize; ++i)
        if (CurveTypesMatch(kCurveFormats[i].type, type)) return i;
    return -1;
}

int32_t FixedDimension(int32_t format) {
    switch (format) {
        case OrvaneCurveFormatD3Constant32f:
        case OrvaneCurveFormatD3Constant14s:
        case OrvaneCurveFormatD3K16uC16u:
        case OrvaneCurveFormatD3K8uC8u:
            return 3;
        case OrvaneCurveFormatD4Constant32f:
        case OrvaneCurveFormatD4nConstant15u:
        case OrvaneCurveFormatD4nK16uC15u:
        case OrvaneCurveFormatD4nK8uC7u:
            return 4;
        case OrvaneCurveFormatD9I1K16uC16u:
        case OrvaneCurveFormatD9I3K16uC16u:
        case OrvaneCurveFormatD9I1K8uC8u:
        case OrvaneCurveFormatD9I3K8uC8u:
            return 9;
        default:
            return -1;
    }
}

bool UsesKnotValues(int32_t format) {
    return format == OrvaneCurveFormatDaK32fC32f ||
           (format >= OrvaneCurveFormatDaK16uC16u && format <= OrvaneCurveFormatDaCompact);
}

// The base formats are taken by their number; the extensions, whose records may be larger than
// the others, only with their own descriptions (a number stamped on another record is refused).
const CurveFormat* QuietFormatOf(const orvane_curve2* curve) {
    if (curve == nullptr || curve->CurveData.Object == nullptr) return nullptr;
    const uint8_t format = HeaderOf(curve)->Format;
    if (format < OrvaneCurveFormatCount) return &kCurveFormats[format];
    if (format < OrvaneCurveFormatTableSize &&
        CurveTypesMatch(kCurveFormats[format].type, curve->CurveData.Type))
        return &kCurveFormats[format];
    return nullptr;
}

int32_t ExtractableKnots(const CurveFormat* format, const orvane_curve2* curve) {
    const int32_t n = KnotCountOf(format, curve);
    const int32_t f = FormatNumber(curve);
    if (f == OrvaneCurveFormatDaIdentity || IsConstantFormat(f)) return 1;
    return n;
}

const CurveFormat* CurveFormatOf(const orvane_curve2* curve) {
    if (curve == nullptr || curve->CurveData.Object == nullptr) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Curve has no data");
        return nullptr;
    }
    const CurveFormat* format = QuietFormatOf(curve);
    if (format == nullptr)
        ORVANE_LOG_ERROR(OrvaneCurveOrigin,
                         "Curve format %d is out of range [0, %d) and not an extension (compact "
                         "curve, 8-byte constant)",
                         FormatNumber(curve), int(OrvaneCurveFormatCount));
    return format;
}

int32_t CurveStoredDimension(const orvane_curve2* curve) {
    const CurveFormat* format = QuietFormatOf(curve);
    return format ? format->getDimension(DataOf(curve)) : 0;
}

}  // namespace orvane

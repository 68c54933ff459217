// Track sampling: the checked one-curve step, the local-transform samplers and the table of
// track samplers that write a bone's world and composite matrices.
//
// Every curve goes through one view (ViewCurve) that checks what a file may have damaged:
// the format number, the degree, the dimension against the track's component, and the array
// counts. A curve that fails is sampled as its identity value after a warning given once, so
// no later step reads past an array. The checks are a few compares on the header and counts,
// made as the curve is read, not per key.
#include "track/orvane_track_sampler.h"

#include <cmath>
#include <cstring>
#include <type_traits>

#include "curve/orvane_bspline.h"
#include "curve/orvane_bspline_weights.h"
#include "curve/orvane_curve.h"
#include "curve/orvane_knot_search.h"
#include "curve/orvane_packed_constants.h"
#include "curve/orvane_quantised_records.h"
#include "curve/orvane_quaternion_words.h"
#include "pose/orvane_world_pose.h"
#include "core/orvane_log.h"
#include "curve/orvane_compact_curve.h"
#include "math/orvane_math_internal.h"
#include "track/orvane_window_evaluation.h"

namespace orvane {
namespace {

using DaKeyframes = orvane_curve_data_da_keyframes32f;
using DaK32fC32f = orvane_curve_data_da_k32f_c32f;
using DaConstant = orvane_curve_data_da_constant32f;

// ------------------------------------------------------------------------------------------
// The checked view of a curve.

struct CurveView {
    CurveKind kind;
    uint8_t format;
    uint8_t knotBytes;  // 4 (float knots), 2 or 1 for the quantised formats
    int32_t degree;
    int32_t knotCount;  // knots, or frames of a keyframed curve
    const void* knots;
    const float* values;  // float controls, constant values or frames
    float knotScale;      // quantised formats: stored knot = time * knotScale
};

// A constant view's value: its floats, or the 8-byte record decoded.
inline void ConstantValue(const orvane_curve2& curve, const CurveView& v, int32_t dimension,
                          float* out) {
    if (v.values)
        std::memcpy(out, v.values, size_t(dimension) * 4);
    else
        DecodePackedConstant(curve.CurveData.Object, v.format, out);
}

inline bool CountIs(int64_t count, int64_t expected) {
    return count == expected;
}

// Quantised layouts: per knot one stored knot and `perKnot` control words.
template <typename R>
inline bool ViewQuantised(const R* r, int32_t perKnot, float scale, CurveView* v) {
    const int32_t total = r->KnotControlCount;
    if (total <= 0 || r->KnotsControls == nullptr || total % (perKnot + 1) != 0) return false;
    v->knotCount = total / (perKnot + 1);
    v->knots = r->KnotsControls;
    v->knotBytes = uint8_t(sizeof(*r->KnotsControls));
    v->knotScale = scale;
    v->kind = CurveKind::Animated;
    return true;
}

inline CurveView ViewCurve(const orvane_curve2& curve, int32_t D) {
    CurveView v{CurveKind::Invalid, 255, 4, 0, 0, nullptr, nullptr, 0.0f};
    const void* data = curve.CurveData.Object;
    if (data == nullptr) return v;
    const auto* header = static_cast<const orvane_curve_data_header*>(data);
    v.format = header->Format;
    v.degree = header->Degree;
    bool ok = false;
    switch (v.format) {
        case OrvaneCurveFormatDaKeyframes32f: {
            const auto* r = static_cast<const DaKeyframes*>(data);
            if (r->Dimension == D && r->ControlCount >= D && r->Controls != nullptr) {
                v.kind = CurveKind::Keyframed;
                v.knotCount = r->ControlCount / D;
                v.values = r->Controls;
                return v;
            }
            return v;
        }
        case OrvaneCurveFormatDaK32fC32f: {
            const auto* r = static_cast<const DaK32fC32f*>(data);
            const int32_t n = r->KnotCount;
            if (n == 0 && r->ControlCount == 0) {
                v.kind = CurveKind::Identity;
                return v;
            }
            if (n == 0) {
                // Controls without knots are frames, D values each, as in DaKeyframes32f.
                if (r->ControlCount >= D && r->Controls != nullptr) {
                    v.kind = CurveKind::Keyframed;
                    v.knotCount = r->ControlCount / D;
                    v.values = r->Controls;
                }
                return v;
            }
            if (n <= 0 || !CountIs(r->ControlCount, int64_t(n) * D) || r->Controls == nullptr ||
                r->Knots == nullptr)
                return v;
            v.knotCount = n;
            v.values = r->Controls;
            if (n == 1) {
                v.kind = CurveKind::Constant;
                return v;
            }
            v.knots = r->Knots;
            v.kind = CurveKind::Animated;
            ok = true;
            break;
        }
        case OrvaneCurveFormatDaIdentity:
            v.kind = CurveKind::Identity;
            return v;
        case OrvaneCurveFormatDaConstant32f: {
            const auto* r = static_cast<const DaConstant*>(data);
            if (r->ControlCount == D && r->Controls != nullptr) {
                v.kind = CurveKind::Constant;
                v.values = r->Controls;
            }
            return v;
        }
        case OrvaneCurveFormatD3Constant32f:
            if (D == 3) {
                v.kind = CurveKind::Constant;
                v.values = static_cast<const orvane_curve_data_d3_constant32f*>(data)->Controls;
            }
            return v;
        case OrvaneCurveFormatD4Constant32f:
            if (D == 4) {
                v.kind = CurveKind::Constant;
                v.values = static_cast<const orvane_curve_data_d4_constant32f*>(data)->Controls;
            }
            return v;
        case OrvaneCurveFormatD3Constant14s:
        case OrvaneCurveFormatD4nConstant15u:
            // Decoded where it is read (ConstantValue): no floats to point at.
            if (D == (v.format == OrvaneCurveFormatD3Constant14s ? 3 : 4))
                v.kind = CurveKind::Constant;
            return v;
        case OrvaneCurveFormatDaK16uC16u: {
            const auto* r = static_cast<const orvane_curve_data_da_k16u_c16u*>(data);
            ok = r->ControlScaleOffsetCount == 2 * D && r->ControlScaleOffsets != nullptr &&
                 ViewQuantised(r, D, KnotScaleFromTrunc(r->OneOverKnotScaleTrunc), &v);
            break;
        }
        case OrvaneCurveFormatDaK8uC8u: {
            const auto* r = static_cast<const orvane_curve_data_da_k8u_c8u*>(data);
            ok = r->ControlScaleOffsetCount == 2 * D && r->ControlScaleOffsets != nullptr &&
                 ViewQuantised(r, D, KnotScaleFromTrunc(r->OneOverKnotScaleTrunc), &v);
            break;
        }
        case OrvaneCurveFormatD4nK16uC15u: {
            const auto* r = static_cast<const orvane_curve_data_d4n_k16u_c15u*>(data);
            ok = D == 4 && ViewQuantised(r, 3, r->OneOverKnotScale, &v);
            break;
        }
        case OrvaneCurveFormatD4nK8uC7u: {
            const auto* r = static_cast<const orvane_curve_data_d4n_k8u_c7u*>(data);
            ok = D == 4 && ViewQuantised(r, 3, r->OneOverKnotScale, &v);
            break;
        }
        case OrvaneCurveFormatD3K16uC16u: {
            const auto* r = static_cast<const orvane_curve_data_d3_k16u_c16u*>(data);
            ok = D == 3 && ViewQuantised(r, 3, KnotScaleFromTrunc(r->OneOverKnotScaleTrunc), &v);
            break;
        }
        case OrvaneCurveFormatD3K8uC8u: {
            const auto* r = static_cast<const orvane_curve_data_d3_k8u_c8u*>(data);
            ok = D == 3 && ViewQuantised(r, 3, KnotScaleFromTrunc(r->OneOverKnotScaleTrunc), &v);
            break;
        }
        case OrvaneCurveFormatD9I1K16uC16u: {
            const auto* r = static_cast<const orvane_curve_data_d9i1_k16u_c16u*>(data);
            ok = D == 9 && ViewQuantised(r, 1, KnotScaleFromTrunc(r->OneOverKnotScaleTrunc), &v);
            break;
        }
        case OrvaneCurveFormatD9I3K16uC16u: {
            const auto* r = static_cast<const orvane_curve_data_d9i3_k16u_c16u*>(data);
            ok = D == 9 && ViewQuantised(r, 3, KnotScaleFromTrunc(r->OneOverKnotScaleTrunc), &v);
            break;
        }
        case OrvaneCurveFormatD9I1K8uC8u: {
            const auto* r = static_cast<const orvane_curve_data_d9i1_k8u_c8u*>(data);
            ok = D == 9 && ViewQuantised(r, 1, KnotScaleFromTrunc(r->OneOverKnotScaleTrunc), &v);
            break;
        }
        case OrvaneCurveFormatD9I3K8uC8u: {
            const auto* r = static_cast<const orvane_curve_data_d9i3_k8u_c8u*>(data);
            ok = D == 9 && ViewQuantised(r, 3, KnotScaleFromTrunc(r->OneOverKnotScaleTrunc), &v);
            break;
        }
        case OrvaneCurveFormatDaCompact: {
            // The record's segments were checked when its format was recognised (loading,
            // binding); here only what the view reads.
            const auto* r = static_cast<const orvane_curve_data_da_compact*>(data);
            ok = r->Dimension == D && r->KnotCount >= 1 && r->SegmentLength >= 1 &&
                 r->Packing < kCompactPackingCount && r->Bytes != nullptr;
            if (ok) {
                v.knotCount = r->KnotCount;
                v.knotBytes = 0;  // uniform knots, none stored
                v.knotScale = r->KnotInterval;
                v.kind = CurveKind::Animated;
            }
            break;
        }
        default:
            return v;
    }
    // Only curves that are evaluated as splines need a degree the routines and the window
    // buffers hold.
    if (!ok || v.degree > kMaxBSplineDegree) v.kind = CurveKind::Invalid;
    return v;
}

// Knot counts up to which n * D cannot overflow in the in-line check.
constexpr int32_t kMaxFastKnots = 0x7FFFFFFF / 16;

void WarnUnreadable() {
    ORVANE_LOG_WARNING_ONCE(OrvaneTrackGroupOrigin,
                            "Track curve with an unreadable format, degree, dimension or count "
                            "sampled as its identity value (this message will only appear once)");
}

template <int D>
inline const float* IdentityOf() {
    if constexpr (D == 3)
        return OrvaneCurveIdentityPosition;
    else if constexpr (D == 4)
        return OrvaneCurveIdentityOrientation;
    else
        return OrvaneCurveIdentityScaleShear;
}

template <int D>
[[gnu::always_inline]] inline void CopyValues(const float* source, float* out) {
    float v[D];
    std::memcpy(v, source, sizeof v);
    StoreValues<D>(v, out);
}

// In-line decoders of the two quantised formats that playback meets most, for a window
// inside the curve. They perform the operations of the curve module's decoders in the same
// order, so that the values agree to the bit (the tests compare them with curve evaluation).
template <typename R>
[[gnu::always_inline]] inline void DecodeD3(const R* r, int32_t n, int32_t first, int32_t count,
                                            float* knots, float* controls) {
    const float inverse = 1.0f / KnotScaleFromTrunc(r->OneOverKnotScaleTrunc);
    for (int32_t i = 0; i < count; ++i) {
        knots[i] = inverse * float(r->KnotsControls[first + i]);
        const auto* q = r->KnotsControls + n + (first + i) * 3;
        float* out = controls + i * 3;
        for (int32_t j = 0; j < 3; ++j)
            out[j] = float(q[j]) * r->ControlScales[j] + r->ControlOffsets[j];
    }
}

template <typename R>
[[gnu::always_inline]] inline void DecodeD4n(const R* r, int32_t n, int32_t first, int32_t count,
                                             float* knots, float* controls) {
    using Q = std::remove_pointer_t<decltype(r->KnotsControls)>;
    const float inverse = 1.0f / r->OneOverKnotScale;
    float scales[4], offsets[4];
    QuaternionScalesOffsets<Q>(r->ScaleOffsetTableEntries, scales, offsets);
    for (int32_t i = 0; i < count; ++i) {
        knots[i] = inverse * float(r->KnotsControls[first + i]);
        DecodeQuaternionWords(r->KnotsControls + n + 3 * (first + i), scales, offsets,
                              controls + 4 * i);
    }
}

// The stored numbers per knot after the knots of a quantised record, and the view's checks.
template <int D, typename R>
constexpr int32_t kWordsPerKnot = kAnyDimensionRecord<R> ? D : 3;
template <int D, typename R>
inline bool ViewQuantisedRecord(const R* r, CurveView* v) {
    if constexpr (kAnyDimensionRecord<R>)
        if (r->ControlScaleOffsetCount != 2 * D || r->ControlScaleOffsets == nullptr) return false;
    return ViewQuantised(r, kWordsPerKnot<D, R>, KnotScaleOf(r), v);
}

// Knots [first, first + count) of such a record of n knots, with the curve module's operations.
template <int D, typename R>
[[gnu::always_inline]] inline void DecodeQuantised(const R* r, int32_t n, int32_t first,
                                                   int32_t count, float* knots, float* controls) {
    if constexpr (kQuaternionRecord<R>) {
        DecodeD4n(r, n, first, count, knots, controls);
    } else if constexpr (kAnyDimensionRecord<R>) {
        const float inverse = 1.0f / KnotScaleFromTrunc(r->OneOverKnotScaleTrunc);
        const float* scales = r->ControlScaleOffsets;
        for (int32_t i = 0; i < count; ++i) {
            knots[i] = inverse * float(r->KnotsControls[first + i]);
            const auto* q = r->KnotsControls + n + (first + i) * D;
            for (int32_t j = 0; j < D; ++j)
                controls[i * D + j] = float(q[j]) * scales[j] + scales[D + j];
        }
    } else {
        DecodeD3(r, n, first, count, knots, controls);
    }
}

// Knots [first, first + count) of a compact curve: in line up to four components.
template <int D>
[[gnu::always_inline]] inline void DecodeCompact(const void* data, int32_t first, int32_t count,
                                                 float* knots, float* controls) {
    const auto* r = static_cast<const orvane_curve_data_da_compact*>(data);
    if constexpr (D <= kCompactCursorComponents)
        DecodeCompactWindowOf<D>(r, first, count, knots, controls);
    else
        DecodeCompactWindow(r, first, count, knots, controls);
}

// Whether t lies at or past the curve's last knot, compared in the knots' own units so that
// the test agrees with the knot search.
inline bool AtOrPastLastKnot(const CurveView& v, float t) {
    const int32_t last = v.knotCount - 1;
    if (v.knotBytes == 4) return !(t < static_cast<const float*>(v.knots)[last]);
    if (v.knotBytes == 0) return !(t < float(last) * v.knotScale);
    if (v.knotBytes == 2)
        return QuantisedKey<uint16_t>(v.knotScale, t) >=
               static_cast<const uint16_t*>(v.knots)[last];
    return QuantisedKey<uint8_t>(v.knotScale, t) >= static_cast<const uint8_t*>(v.knots)[last];
}

// Whether looping windows of the curve (dimension D, checked by the view) may continue with the
// curve itself a duration before and after: the neighbouring loop's knots must come strictly
// after the curve's up to its last knot but one (the knot the next loop's first one replaces),
// as the B-spline buffers compute them. A duration no longer than that span (or not a number)
// would run the window's knots back into the curve's, and the spline would divide by empty or
// negative spans. Only windows at the curve's ends read it.
bool LoopingFits(const orvane_curve2& curve, int32_t dimension, float duration) {
    const void* data = curve.CurveData.Object;
    const CurveFormat& format =
        kCurveFormats[static_cast<const orvane_curve_data_header*>(data)->Format];
    const int32_t n = format.getKnotCount(data);
    const float* identity = dimension == 3   ? OrvaneCurveIdentityPosition
                            : dimension == 4 ? OrvaneCurveIdentityOrientation
                                             : OrvaneCurveIdentityScaleShear;
    float first = 0.0f, last = 0.0f, controls[9];
    format.extractKnotValues(data, 0, 1, &first, controls, identity);
    format.extractKnotValues(data, n > 1 ? n - 2 : 0, 1, &last, controls, identity);
    return first + duration > last && last + -duration < first;
}

// The spline step of an animated curve (v.kind == Animated).
template <int D, bool Normalize>
void SampleAnimated(const orvane_curve2& curve, const CurveView& v,
                    const orvane_track_sample_context& context, int32_t* hint, float* out,
                    orvane_track_sample_cache* cache, int slot) {
    const float t = context.SampleTime;
    const int32_t n = v.knotCount;
    const int32_t d = v.degree;
    int32_t k;
    if (v.knotBytes == 4)
        k = SearchKnots(static_cast<const float*>(v.knots), n, t, hint);
    else if (v.knotBytes == 0) {
        k = FindCompactKnotNear(
            static_cast<const orvane_curve_data_da_compact*>(curve.CurveData.Object), t,
            hint ? *hint : -1);
        if (hint) *hint = k;
    } else if (v.knotBytes == 2)
        k = SearchKnots(static_cast<const uint16_t*>(v.knots), n,
                        QuantisedKey<uint16_t>(v.knotScale, t), hint);
    else
        k = SearchKnots(static_cast<const uint8_t*>(v.knots), n,
                        QuantisedKey<uint8_t>(v.knotScale, t), hint);

    // A window at either end that would loop with a duration too short for the curve is held
    // as without looping instead.
    orvane_track_sample_context held;
    const orvane_track_sample_context* windowContext = &context;
    if (d > 0 && ((context.LoopBefore && k < d) || (context.LoopAfter && k + d > n - 1)) &&
        !LoopingFits(curve, D, context.SampleDuration)) {
        held = context;
        held.LoopBefore = held.LoopAfter = false;
        windowContext = &held;
    }
    const orvane_track_sample_context& c = *windowContext;
    if (k == 0 && d > 0 && !c.LoopBefore) {
        // Before the first knot with nothing before it the clamped window holds the first
        // knot only, and de Boor's ratios would be 0 / 0: the value is the first key,
        // normalised as the window's value would be (and as the last key is past the end).
        float first[9];
        if (v.knotBytes == 4)
            CopyValues<D>(v.values, first);
        else
            kCurveFormats[v.format].extractKnotValues(curve.CurveData.Object, 0, 1, nullptr, first,
                                                      IdentityOf<D>());
        Evaluate<0, D, Normalize>(nullptr, first, t, out);
        return;
    }
    if (k >= n - 1 && d > 0 && !c.LoopAfter && AtOrPastLastKnot(v, t)) {
        // Past the last knot with nothing after it the spline would extrapolate: the value
        // is the last key, normalised as the window's value would be.
        float last[9];
        if (v.knotBytes == 4)
            CopyValues<D>(v.values + int64_t(n - 1) * D, last);
        else
            kCurveFormats[v.format].extractKnotValues(curve.CurveData.Object, n - 1, 1, nullptr,
                                                      last, IdentityOf<D>());
        Evaluate<0, D, Normalize>(nullptr, last, t, out);
        return;
    }
    const int32_t start = k - d;
    const int32_t end = c.LoopAfter ? n - 1 : n;
    const bool inside = start >= 0 && start + 2 * d <= end;
    if (inside && v.knotBytes == 4) {
        // Plain floats: the window is the curve itself.
        EvaluateDegree<D, Normalize>(d, static_cast<const float*>(v.knots) + k, v.values + k * D, t,
                                     out);
        return;
    }
    // (WithQuantisedRecord with a call that does nothing: whether the format keeps windows.)
    const bool cached =
        D <= 4 && cache != nullptr && d == 1 && inside &&
        (v.knotBytes == 0 || WithQuantisedRecord(v.format, nullptr, [](const auto*) {}));
    if (cached) {
        // Playback at a higher rate than the keys meets the same window on successive frames:
        // it is decoded once per window.
        const void* data = curve.CurveData.Object;
        float* times = cache->WindowTimes[slot];
        float* values = cache->WindowValues[slot];
        if (cache->WindowCurves[slot] != data || cache->WindowKnots[slot] != start) {
            // Playback moves the window on by one knot at a time: the old second knot is the
            // new first one, and only the knot after it is decoded.
            const bool next = cache->WindowCurves[slot] == data &&
                              cache->WindowKnots[slot] == start - 1 && start > 0;
            const int32_t from = next ? start + 1 : start;
            const int32_t count = next ? 1 : 2;
            if (next) {
                times[0] = times[1];
                CopyValues<D>(values + D, values);
            }
            float* knotsTo = times + (2 - count);
            float* valuesTo = values + (2 - count) * D;
            if (v.knotBytes == 0)
                DecodeCompact<D>(data, from, count, knotsTo, valuesTo);
            else
                WithQuantisedRecord(v.format, data, [&](const auto* r) {
                    DecodeQuantised<D>(r, n, from, count, knotsTo, valuesTo);
                });
            cache->WindowCurves[slot] = data;
            cache->WindowKnots[slot] = start;
        }
        EvaluateDegree<D, Normalize>(1, times + 1, values + D, t, out);
        return;
    }
    float knots[kBSplineKnotBufferSize];
    float controls[kBSplineControlBufferSize];
    const float* ti = knots + d;
    const float* pi = controls + d * D;
    if (inside && d > 0 && v.format == OrvaneCurveFormatD3K16uC16u) {
        DecodeD3(static_cast<const orvane_curve_data_d3_k16u_c16u*>(curve.CurveData.Object), n,
                 start, 2 * d, knots, controls);
    } else if (inside && d > 0 && v.format == OrvaneCurveFormatD4nK16uC15u) {
        DecodeD4n(static_cast<const orvane_curve_data_d4n_k16u_c15u*>(curve.CurveData.Object), n,
                  start, 2 * d, knots, controls);
    } else if (inside && d > 0 && v.knotBytes == 0) {
        DecodeCompact<D>(curve.CurveData.Object, start, 2 * d, knots, controls);
    } else if (v.knotBytes == 0 && d == 1 && c.LoopAfter && k == n - 1 && n >= 2) {
        // The last interval of a looping compact curve: its first knot, then the curve's first
        // knot a duration on (sign-continuous for orientations), as the looping window of the
        // B-spline buffers has them.
        const void* data = curve.CurveData.Object;
        float first = 0.0f;
        DecodeCompact<D>(data, n - 2, 1, knots, controls);
        DecodeCompact<D>(data, 0, 1, &first, controls + D);
        knots[1] = first + context.SampleDuration;
        if (D == 4) MakeQuaternionsContinuous(controls, 2);
        ti = knots + 1;
        pi = controls + D;
    } else if (inside) {
        const CurveFormat& format = kCurveFormats[v.format];
        if (d == 0)
            format.extractKnotValues(curve.CurveData.Object, k, 1, nullptr, controls,
                                     IdentityOf<D>());
        else
            format.extractKnotValues(curve.CurveData.Object, start, 2 * d, knots, controls,
                                     IdentityOf<D>());
    } else if (!BuildEndWindow(curve, D, c, k, d, knots, controls, &ti, &pi)) {
        WarnUnreadable();
        CopyValues<D>(IdentityOf<D>(), out);
        return;
    }
    EvaluateDegree<D, Normalize>(d, ti, pi, t, out);
}

// Playback at a higher rate than the keys meets the window it decoded last: when the cache
// holds a window of this degree-1 quantised curve (the record passed the view's checks when it
// was decoded, and the cache is cleared when the track's curves change) and the time's key
// lies in it, the value comes from it without the view, the search and the window checks; when
// the key has passed on into the next window, that window comes from it with one new knot. The
// tests are the hinted search's own (the window's knots around the key, then the next knot),
// and the windows are those SampleAnimated would take for the context, so the value is the
// same to the bit.
template <int D, bool Normalize, typename R>
[[gnu::always_inline]] inline bool SampleCachedWindow(const void* data,
                                                      const orvane_track_sample_context& context,
                                                      int32_t* hint, float* out,
                                                      orvane_track_sample_cache* cache, int slot) {
    using Q = std::remove_pointer_t<decltype(R::KnotsControls)>;
    const auto* r = static_cast<const R*>(data);
    const int32_t n = r->KnotControlCount / (kWordsPerKnot<D, R> + 1);
    const int32_t start = cache->WindowKnots[slot];
    if (!(start >= 0 && start + 2 <= (context.LoopAfter ? n - 1 : n))) return false;
    const int32_t key = QuantisedKey<Q>(KnotScaleOf(r), context.SampleTime);
    const Q* knots = r->KnotsControls;
    float* times = cache->WindowTimes[slot];
    float* values = cache->WindowValues[slot];
    if (int32_t(knots[start]) > key) return false;
    if (!(int32_t(knots[start + 1]) > key)) {
        // Playback moves on to the next window: the hinted search's comparisons for that case
        // (the hint on the window's end), then what SampleAnimated does for it, with the old
        // end as the new start and only the knot after it decoded.
        if (!(hint && *hint == start + 1 && start + 3 <= (context.LoopAfter ? n - 1 : n) &&
              int32_t(knots[start + 2]) > key))
            return false;
        times[0] = times[1];
        CopyValues<D>(values + D, values);
        DecodeQuantised<D>(r, n, start + 2, 1, times + 1, values + D);
        cache->WindowKnots[slot] = start + 1;
        *hint = start + 2;
    } else if (hint) {
        *hint = start + 1;
    }
    Evaluate<1, D, Normalize>(times + 1, values + D, context.SampleTime, out);
    return true;
}

// A curve in one of the quantised formats of playback (positions and orientations, 16-bit or
// 8-bit): from the cached window when it holds the time, else with the checks of the general
// view. False when the record fails them (the general view then reports it).
template <int D, bool Normalize, typename R>
[[gnu::always_inline]] inline bool SampleQuantisedInLine(const orvane_curve2& curve,
                                                         const orvane_track_sample_context& context,
                                                         int32_t* hint, float* out,
                                                         orvane_track_sample_cache* cache,
                                                         int slot) {
    const void* data = curve.CurveData.Object;
    const auto* r = static_cast<const R*>(data);
    const int32_t degree = r->CurveDataHeader.Degree;
    if (cache != nullptr && cache->WindowCurves[slot] == data && degree == 1 &&
        SampleCachedWindow<D, Normalize, R>(data, context, hint, out, cache, slot))
        return true;
    CurveView v{
        CurveKind::Invalid, r->CurveDataHeader.Format, 2, degree, 0, nullptr, nullptr, 0.0f};
    if (!ViewQuantisedRecord<D>(r, &v) || v.degree > kMaxBSplineDegree) return false;
    SampleAnimated<D, Normalize>(curve, v, context, hint, out, cache, slot);
    return true;
}

template <int D, bool Normalize>
[[gnu::always_inline]] inline bool SampleCurveT(const orvane_curve2& curve,
                                                const orvane_track_sample_context& context,
                                                bool byFrame, int32_t* hint, float* out,
                                                orvane_track_sample_cache* cache = nullptr,
                                                int slot = 0) {
    // The plain float and identity formats first, checked in line: they are most of what
    // playback meets, and the general view below costs a call and a table jump per curve.
    if (const void* data = curve.CurveData.Object) {
        const auto* header = static_cast<const orvane_curve_data_header*>(data);
        if (header->Format == OrvaneCurveFormatDaK32fC32f) {
            const auto* r = static_cast<const DaK32fC32f*>(data);
            const int32_t n = r->KnotCount;
            // The count is bounded before it is multiplied: a file's count could overflow.
            if (n >= 1 && n <= kMaxFastKnots && r->ControlCount == n * D && r->Controls &&
                r->Knots) {
                if (n == 1) {
                    CopyValues<D>(r->Controls, out);
                    return true;
                }
                if (header->Degree <= kMaxBSplineDegree) {
                    CurveView v{CurveKind::Animated,
                                OrvaneCurveFormatDaK32fC32f,
                                4,
                                header->Degree,
                                n,
                                r->Knots,
                                r->Controls,
                                0.0f};
                    SampleAnimated<D, Normalize>(curve, v, context, hint, out, cache, slot);
                    return true;
                }
            }
        } else if (header->Format == OrvaneCurveFormatDaIdentity) {
            CopyValues<D>(IdentityOf<D>(), out);
            return false;
        } else if constexpr (D != 9) {
            // The 3-vector and quaternion formats in line (the any-dimension ones keep their
            // windows through the general view).
            using R16 = std::conditional_t<D == 3, orvane_curve_data_d3_k16u_c16u,
                                           orvane_curve_data_d4n_k16u_c15u>;
            using R8 = std::conditional_t<D == 3, orvane_curve_data_d3_k8u_c8u,
                                          orvane_curve_data_d4n_k8u_c7u>;
            if (header->Format ==
                (D == 3 ? OrvaneCurveFormatD3K16uC16u : OrvaneCurveFormatD4nK16uC15u)) {
                if (SampleQuantisedInLine<D, Normalize, R16>(curve, context, hint, out, cache,
                                                             slot))
                    return true;
            } else if (header->Format ==
                       (D == 3 ? OrvaneCurveFormatD3K8uC8u : OrvaneCurveFormatD4nK8uC7u)) {
                if (SampleQuantisedInLine<D, Normalize, R8>(curve, context, hint, out, cache, slot))
                    return true;
            }
        }
    }
    const CurveView v = ViewCurve(curve, D);
    switch (v.kind) {
        case CurveKind::Animated:
            SampleAnimated<D, Normalize>(curve, v, context, hint, out, cache, slot);
            return true;
        case CurveKind::Constant:
            ConstantValue(curve, v, D, out);
            return true;
        case CurveKind::Keyframed: {
            int32_t frame = byFrame ? context.FrameIndex : 0;
            if (frame < 0) frame = 0;
            if (frame >= v.knotCount) frame = v.knotCount - 1;
            CopyValues<D>(v.values + int64_t(frame) * D, out);
            return true;
        }
        case CurveKind::Invalid:
            WarnUnreadable();
            [[fallthrough]];
        case CurveKind::Identity:
        default:
            CopyValues<D>(IdentityOf<D>(), out);
            return false;
    }
}

// ------------------------------------------------------------------------------------------
// The track samplers.

// The process's per-bone world steps (chosen once, race-free, by the world pose module).
inline const WorldPoseRoutines& Builders() {
    return ChosenWorldPoseRoutines();
}

const orvane_track_sample_context& Ctx(const orvane_track_sample_context* c) {
    return *c;
}

void SampleUUU(const orvane_track_sample_context* context, const orvane_transform_track* track,
               const void*, const orvane_transform*, const float* inverseWorld, const float* parent,
               float* world, float* composite) {
    orvane_transform local;
    local.Flags = 0;
    OrvaneSampleTrackUUULocal(context, track, nullptr, &local);
    Builders().buildBoneFull(local, parent, inverseWorld, composite, world);
}

void SampleIII(const orvane_track_sample_context*, const orvane_transform_track*, const void*,
               const orvane_transform*, const float* inverseWorld, const float* parent,
               float* world, float* composite) {
    Builders().buildBoneIdentity(parent, inverseWorld, composite, world);
}

// Position constant (S) or sampled (U); orientation and scale/shear identity.
void SamplePositionOnly(const orvane_track_sample_context* context,
                        const orvane_transform_track* track, const void*, const orvane_transform*,
                        const float* inverseWorld, const float* parent, float* world,
                        float* composite) {
    float position[3];
    SampleCurveT<3, false>(track->PositionCurve, Ctx(context), false, nullptr, position);
    Builders().buildBonePosition(position, parent, inverseWorld, composite, world);
}

// Position and orientation, each constant or sampled (sampled orientations come out of the
// curve sampler at unit length).
void SamplePositionOrientation(const orvane_track_sample_context* context,
                               const orvane_transform_track* track, const void*,
                               const orvane_transform*, const float* inverseWorld,
                               const float* parent, float* world, float* composite) {
    float position[3];
    float orientation[4];
    SampleCurveT<3, false>(track->PositionCurve, Ctx(context), false, nullptr, position);
    SampleCurveT<4, true>(track->OrientationCurve, Ctx(context), false, nullptr, orientation);
    Builders().buildBonePositionOrientation(position, orientation, parent, inverseWorld, composite,
                                            world);
}

void SampleSSS(const orvane_track_sample_context*, const orvane_transform_track*, const void*,
               const orvane_transform* constant, const float* inverseWorld, const float* parent,
               float* world, float* composite) {
    Builders().buildBoneFull(*constant, parent, inverseWorld, composite, world);
}

void SampleIIU(const orvane_track_sample_context* context, const orvane_transform_track* track,
               const void*, const orvane_transform*, const float* inverseWorld, const float* parent,
               float* world, float* composite) {
    orvane_transform local;
    if (!SampleCurveT<9, false>(track->ScaleShearCurve, Ctx(context), true, nullptr,
                                &local.ScaleShear[0][0])) {
        Builders().buildBoneIdentity(parent, inverseWorld, composite, world);
        return;
    }
    local.Flags = OrvaneTransformHasScaleShear;
    CopyValues<3>(OrvaneCurveIdentityPosition, local.Position);
    CopyValues<4>(OrvaneCurveIdentityOrientation, local.Orientation);
    Builders().buildBoneFull(local, parent, inverseWorld, composite, world);
}

// Writes the identity for a track whose curves were all unreadable.
constexpr int kIdentity = 0, kConstant = 1, kAnimated = 2;

// Indexed by 9 * position + 3 * orientation + scale/shear kind (identity 0, constant 1,
// animated 2).
const orvane_track_sampler kSamplerTable[27] = {
    /* I I I */ SampleIII,
    /* I I S */ SampleUUU,
    /* I I U */ SampleUUU,
    /* I S I */ SampleUUU,
    /* I S S */ SampleUUU,
    /* I S U */ SampleUUU,
    /* I U I */ SampleUUU,
    /* I U S */ SampleUUU,
    /* I U U */ SampleUUU,
    /* S I I */ SamplePositionOnly,
    /* S I S */ SampleUUU,
    /* S I U */ SampleUUU,
    /* S S I */ SamplePositionOrientation,
    /* S S S */ SampleUUU,
    /* S S U */ SampleUUU,
    /* S U I */ SamplePositionOrientation,
    /* S U S */ SampleUUU,
    /* S U U */ SampleUUU,
    /* U I I */ SamplePositionOnly,
    /* U I S */ SampleUUU,
    /* U I U */ SampleUUU,
    /* U S I */ SamplePositionOrientation,
    /* U S S */ SampleUUU,
    /* U S U */ SampleUUU,
    /* U U I */ SamplePositionOrientation,
    /* U U S */ SampleUUU,
    /* U U U */ SampleUUU,
};

int KindIndex(CurveKind kind) {
    switch (kind) {
        case CurveKind::Constant:
            return kConstant;
        case CurveKind::Animated:
            return kAnimated;
        default:
            return kIdentity;  // identity, and unreadable curves sampled as identity
    }
}

template <int D>
bool CurveIsFinite(const orvane_curve2& curve) {
    const CurveView v = ViewCurve(curve, D);
    if (v.kind == CurveKind::Constant) {
        // The 8-byte constants hold finite values whatever their words.
        for (int c = 0; v.values && c < D; ++c)
            if (!std::isfinite(v.values[c])) return false;
        return true;
    }
    if (v.kind == CurveKind::Keyframed) {
        // The frames are read as they are stored.
        for (int64_t c = 0; c < int64_t(v.knotCount) * D; ++c)
            if (!std::isfinite(v.values[c])) return false;
        return true;
    }
    if (v.kind != CurveKind::Animated) return true;
    const CurveFormat& format = kCurveFormats[v.format];
    constexpr int32_t kBlock = 32;
    float knots[kBlock];
    float controls[kBlock * D];
    float previous = -INFINITY;
    for (int32_t first = 0; first < v.knotCount; first += kBlock) {
        const int32_t count = v.knotCount - first < kBlock ? v.knotCount - first : kBlock;
        format.extractKnotValues(curve.CurveData.Object, first, count, knots, controls,
                                 IdentityOf<D>());
        for (int32_t k = 0; k < count; ++k) {
            if (!std::isfinite(knots[k]) || knots[k] < previous) return false;
            previous = knots[k];
        }
        for (int32_t c = 0; c < count * D; ++c)
            if (!std::isfinite(controls[c])) return false;
    }
    return true;
}

}  // namespace

bool TrackCurvesAreFinite(const orvane_transform_track& track) {
    return CurveIsFinite<3>(track.PositionCurve) && CurveIsFinite<4>(track.OrientationCurve) &&
           CurveIsFinite<9>(track.ScaleShearCurve);
}

CurveKind ClassifyCurve(const orvane_curve2* curve, int32_t dimension) {
    if (curve == nullptr) return CurveKind::Invalid;
    return ViewCurve(*curve, dimension).kind;
}

CurveKind ClassifyCurveWarn(const orvane_curve2* curve, int32_t dimension) {
    const CurveKind kind = ClassifyCurve(curve, dimension);
    if (kind == CurveKind::Invalid) WarnUnreadable();
    return kind;
}

bool CurveFirstValue(const orvane_curve2* curve, int32_t dimension, const float* identity,
                     float* out) {
    const CurveView v = curve ? ViewCurve(*curve, dimension)
                              : CurveView{CurveKind::Invalid, 255, 4, 0, 0, nullptr, nullptr, 0.0f};
    switch (v.kind) {
        case CurveKind::Constant:
            ConstantValue(*curve, v, dimension, out);
            return true;
        case CurveKind::Keyframed:
            std::memcpy(out, v.values, size_t(dimension) * 4);
            return true;
        case CurveKind::Animated:
            if (v.knotBytes == 4)
                std::memcpy(out, v.values, size_t(dimension) * 4);
            else
                kCurveFormats[v.format].extractKnotValues(curve->CurveData.Object, 0, 1, nullptr,
                                                          out, identity);
            return true;
        case CurveKind::Invalid:
            WarnUnreadable();
            [[fallthrough]];
        default:
            std::memcpy(out, identity, size_t(dimension) * 4);
            return false;
    }
}

bool SampleCurve3(const orvane_curve2& curve, const orvane_track_sample_context& context,
                  bool byFrame, int32_t* hint, float* out, orvane_track_sample_cache* cache) {
    return SampleCurveT<3, false>(curve, context, byFrame, hint, out, cache, 0);
}
bool SampleCurve4(const orvane_curve2& curve, const orvane_track_sample_context& context,
                  bool byFrame, int32_t* hint, float* out, orvane_track_sample_cache* cache) {
    return SampleCurveT<4, true>(curve, context, byFrame, hint, out, cache, 1);
}
bool SampleCurve9(const orvane_curve2& curve, const orvane_track_sample_context& context,
                  bool byFrame, int32_t* hint, float* out) {
    return SampleCurveT<9, false>(curve, context, byFrame, hint, out);
}

namespace {

inline bool Moves(CurveKind kind) {
    return kind == CurveKind::Animated || kind == CurveKind::Keyframed;
}

}  // namespace

uint32_t PlanTrackSampling(const orvane_transform_track& track, orvane_transform* fixed) {
    // The fixed curves are sampled once, through the sampler's own step: their values do not
    // depend on the context, so any context gives the bits every frame would.
    orvane_track_sample_context context{};
    uint32_t moving = 0, flags = 0;
    if (Moves(ClassifyCurveWarn(&track.PositionCurve, 3))) {
        moving |= kPlanPosition;
        flags |= OrvaneTransformHasPosition;
        std::memcpy(fixed->Position, OrvaneCurveIdentityPosition, sizeof fixed->Position);
    } else if (SampleCurveT<3, false>(track.PositionCurve, context, true, nullptr,
                                      fixed->Position)) {
        flags |= OrvaneTransformHasPosition;
    }
    if (Moves(ClassifyCurveWarn(&track.OrientationCurve, 4))) {
        moving |= kPlanOrientation;
        flags |= OrvaneTransformHasOrientation;
        std::memcpy(fixed->Orientation, OrvaneCurveIdentityOrientation, sizeof fixed->Orientation);
    } else if (SampleCurveT<4, true>(track.OrientationCurve, context, true, nullptr,
                                     fixed->Orientation)) {
        flags |= OrvaneTransformHasOrientation;
    }
    if (Moves(ClassifyCurveWarn(&track.ScaleShearCurve, 9))) {
        moving |= kPlanScaleShear;
        flags |= OrvaneTransformHasScaleShear;
        std::memcpy(fixed->ScaleShear, OrvaneCurveIdentityScaleShear, sizeof fixed->ScaleShear);
    } else if (SampleCurveT<9, false>(track.ScaleShearCurve, context, true, nullptr,
                                      &fixed->ScaleShear[0][0])) {
        flags |= OrvaneTransformHasScaleShear;
    }
    fixed->Flags = flags;
    return moving;
}

void SamplePlannedTrack(const orvane_track_sample_context& context,
                        const orvane_transform_track& track, uint32_t moving,
                        orvane_track_sample_cache* cache, orvane_transform* result) {
    int32_t* hints = cache->KnotHints;
    if (moving & kPlanPosition)
        SampleCurveT<3, false>(track.PositionCurve, context, true, hints, result->Position, cache,
                               0);
    if (moving & kPlanOrientation)
        SampleCurveT<4, true>(track.OrientationCurve, context, true, hints + 1, result->Orientation,
                              cache, 1);
    if (moving & kPlanScaleShear)
        SampleCurveT<9, false>(track.ScaleShearCurve, context, true, hints + 2,
                               &result->ScaleShear[0][0]);
}

bool BuildEndWindow(const orvane_curve2& curve, int32_t dimension,
                    const orvane_track_sample_context& context, int32_t k, int32_t degree,
                    float* knots, float* controls, const float** ti, const float** pi) {
    float* wti = knots;
    float* wpi = controls;
    const float duration = context.SampleDuration;
    // (The per-curve step holds such a window as without looping; the batches take that step.)
    if ((context.LoopBefore || context.LoopAfter) && degree > 0 &&
        !LoopingFits(curve, dimension, duration))
        return false;
    const bool extended = OrvaneConstructBSplineBuffers(
        dimension, context.LoopBefore ? &curve : nullptr, &curve,
        context.LoopAfter ? &curve : nullptr, duration, duration, duration, k, knots, controls,
        &wti, &wpi, dimension == 3 ? OrvaneCurveIdentityPosition : OrvaneCurveIdentityOrientation);
    // A refused curve leaves the pointers at the buffers' starts, with nothing before them for
    // a window of degree 1 or more to read.
    if (degree > 0 && (wti == knots || wpi == controls)) return false;
    if (extended && dimension == 4) MakeQuaternionsContinuous(controls, degree + 1);
    *ti = wti;
    *pi = wpi;
    return true;
}

int32_t BatchableDegree(const orvane_curve2& curve, int32_t dimension) {
    const void* data = curve.CurveData.Object;
    if (data == nullptr || (dimension != 3 && dimension != 4)) return 0;
    const auto* header = static_cast<const orvane_curve_data_header*>(data);
    const int32_t degree = header->Degree;
    if (degree < 1 || degree > kMaxBSplineDegree) return 0;
    // Two knots at least, and for a window inside the curve 2d of them.
    const int32_t least = degree > 1 ? 2 * degree : 2;
    switch (header->Format) {
        case OrvaneCurveFormatDaK32fC32f: {
            const auto* r = static_cast<const DaK32fC32f*>(data);
            const int32_t n = r->KnotCount;
            return n >= least && n <= kMaxFastKnots && r->ControlCount == n * dimension &&
                           r->Controls && r->Knots
                       ? degree
                       : 0;
        }
        case OrvaneCurveFormatD3K16uC16u:
        case OrvaneCurveFormatD3K8uC8u:
        case OrvaneCurveFormatD4nK16uC15u:
        case OrvaneCurveFormatD4nK8uC7u:
        case OrvaneCurveFormatDaK16uC16u:
        case OrvaneCurveFormatDaK8uC8u: {
            // The quantised formats: the view's checks (which hold each to its dimension).
            const CurveView v = ViewCurve(curve, dimension);
            return v.kind == CurveKind::Animated && v.knotCount >= least ? degree : 0;
        }
        case OrvaneCurveFormatDaCompact: {
            const auto* r = static_cast<const orvane_curve_data_da_compact*>(data);
            return degree == 1 && r->Dimension == dimension && r->KnotCount >= 2 &&
                           r->Bytes != nullptr
                       ? 1
                       : 0;
        }
        default:
            return 0;
    }
}

}  // namespace orvane

using namespace orvane;

namespace {

inline void SampleLocal(const orvane_track_sample_context& context,
                        const orvane_transform_track& track, int32_t* hints,
                        orvane_track_sample_cache* cache, orvane_transform* result) {
    uint32_t flags = 0;
    if (SampleCurveT<3, false>(track.PositionCurve, context, true, hints, result->Position, cache,
                               0))
        flags |= OrvaneTransformHasPosition;
    if (SampleCurveT<4, true>(track.OrientationCurve, context, true, hints ? hints + 1 : nullptr,
                              result->Orientation, cache, 1))
        flags |= OrvaneTransformHasOrientation;
    if (SampleCurveT<9, false>(track.ScaleShearCurve, context, true, hints ? hints + 2 : nullptr,
                               &result->ScaleShear[0][0]))
        flags |= OrvaneTransformHasScaleShear;
    result->Flags |= flags;
}

}  // namespace

extern "C" {

ORVANE_API void OrvaneSampleTrackUUULocal(const orvane_track_sample_context* Context,
                                          const orvane_transform_track* SourceTrack, const void*,
                                          orvane_transform* Result) {
    SampleLocal(*Context, *SourceTrack, nullptr, nullptr, Result);
}

ORVANE_API void OrvaneSampleTrackUUULocalHinted(const orvane_track_sample_context* Context,
                                                const orvane_transform_track* SourceTrack,
                                                orvane_int32 KnotHints[3],
                                                orvane_transform* Result) {
    SampleLocal(*Context, *SourceTrack, KnotHints, nullptr, Result);
}

ORVANE_API void OrvaneSampleTrackUUULocalCached(const orvane_track_sample_context* Context,
                                                const orvane_transform_track* SourceTrack,
                                                orvane_track_sample_cache* Cache,
                                                orvane_transform* Result) {
    SampleLocal(*Context, *SourceTrack, Cache ? Cache->KnotHints : nullptr, Cache, Result);
}

ORVANE_API void OrvaneSampleTrackPOLocal(const orvane_track_sample_context* Context,
                                         const orvane_transform_track* SourceTrack, const void*,
                                         orvane_real32 Position[3], orvane_real32 Orientation[4]) {
    SampleCurveT<3, false>(SourceTrack->PositionCurve, *Context, false, nullptr, Position);
    SampleCurveT<4, true>(SourceTrack->OrientationCurve, *Context, false, nullptr, Orientation);
}

ORVANE_API orvane_track_sampler OrvaneGetTrackSamplerFor(const orvane_transform_track* Track) {
    if (Track == nullptr) return SampleIII;
    const CurveKind p = ClassifyCurveWarn(&Track->PositionCurve, 3);
    const CurveKind o = ClassifyCurveWarn(&Track->OrientationCurve, 4);
    const CurveKind s = ClassifyCurveWarn(&Track->ScaleShearCurve, 9);
    if (p == CurveKind::Keyframed || o == CurveKind::Keyframed || s == CurveKind::Keyframed)
        return SampleUUU;
    return kSamplerTable[9 * KindIndex(p) + 3 * KindIndex(o) + KindIndex(s)];
}

ORVANE_API orvane_track_sampler OrvaneGetTrackSamplerUUU(void) {
    return SampleUUU;
}
ORVANE_API orvane_track_sampler OrvaneGetTrackSamplerSSS(void) {
    return SampleSSS;
}
ORVANE_API orvane_track_sampler OrvaneGetTrackSamplerIII(void) {
    return SampleIII;
}
ORVANE_API orvane_track_sampler OrvaneGetTrackSamplerIIU(void) {
    return SampleIIU;
}

}  // extern "C"

// B-spline evaluation: the specialised samplers, knot search, window construction with
// clamping and looping, and curve evaluation.
#include "curve/orvane_bspline.h"

#include <array>
#include <cmath>

#include "curve/orvane_bspline_weights.h"
#include "curve/orvane_curve.h"
#include "curve/orvane_knot_search.h"
#include "core/orvane_log.h"
#include "core/orvane_memory.h"

namespace orvane {
namespace {

// v / |v|, exactly: blends of unit vectors far apart are much shorter than 1 (0.82 half way
// between quaternions 140 degrees apart), where one Newton step from length 1 would stop well
// short. A value without length, or one that is not finite, is left as it is.
template <int D>
inline void NormalizeToUnit(float* r) {
    float length2 = 0.0f;
    for (int c = 0; c < D; ++c)
        length2 += r[c] * r[c];
    if (!(length2 > 0.0f && length2 < 3.0e38f)) return;
    const float factor = 1.0f / std::sqrt(length2);
    for (int c = 0; c < D; ++c)
        r[c] *= factor;
}

// De Boor's algorithm on the window: k[j] = ti[j], P[j] = pi + j * D, the value on
// [k[-1], k[0]) from P[-Degree] .. P[0].
template <int Degree, int D, bool Normalize>
void SampleBSpline(const float* k, const float* p, float t, float* r) {
    BSplineValue<Degree, D>(k, p, t, r);
    if constexpr (Normalize) NormalizeToUnit<D>(r);
}

}  // namespace
}  // namespace orvane

using orvane::SampleBSpline;

extern "C" {

#define ORVANE_SAMPLER(name, degree, dimension, normalize)                                  \
    ORVANE_API void name(const orvane_real32* ti, const orvane_real32* pi, orvane_real32 t, \
                         orvane_real32* Result) {                                           \
        SampleBSpline<degree, dimension, normalize>(ti, pi, t, Result);                     \
    }

ORVANE_SAMPLER(OrvaneSampleBSpline0x1, 0, 1, false)
ORVANE_SAMPLER(OrvaneSampleBSpline0x2, 0, 2, false)
ORVANE_SAMPLER(OrvaneSampleBSpline0x3, 0, 3, false)
ORVANE_SAMPLER(OrvaneSampleBSpline0x4, 0, 4, false)
ORVANE_SAMPLER(OrvaneSampleBSpline0x9, 0, 9, false)
ORVANE_SAMPLER(OrvaneSampleBSpline1x1, 1, 1, false)
ORVANE_SAMPLER(OrvaneSampleBSpline1x2, 1, 2, false)
ORVANE_SAMPLER(OrvaneSampleBSpline1x3, 1, 3, false)
ORVANE_SAMPLER(OrvaneSampleBSpline1x4, 1, 4, false)
ORVANE_SAMPLER(OrvaneSampleBSpline1x9, 1, 9, false)
ORVANE_SAMPLER(OrvaneSampleBSpline2x1, 2, 1, false)
ORVANE_SAMPLER(OrvaneSampleBSpline2x2, 2, 2, false)
ORVANE_SAMPLER(OrvaneSampleBSpline2x3, 2, 3, false)
ORVANE_SAMPLER(OrvaneSampleBSpline2x4, 2, 4, false)
ORVANE_SAMPLER(OrvaneSampleBSpline2x9, 2, 9, false)
ORVANE_SAMPLER(OrvaneSampleBSpline3x1, 3, 1, false)
ORVANE_SAMPLER(OrvaneSampleBSpline3x2, 3, 2, false)
ORVANE_SAMPLER(OrvaneSampleBSpline3x3, 3, 3, false)
ORVANE_SAMPLER(OrvaneSampleBSpline3x4, 3, 4, false)
ORVANE_SAMPLER(OrvaneSampleBSpline3x9, 3, 9, false)
ORVANE_SAMPLER(OrvaneSampleBSpline1x3n, 1, 3, true)
ORVANE_SAMPLER(OrvaneSampleBSpline1x4n, 1, 4, true)
ORVANE_SAMPLER(OrvaneSampleBSpline2x3n, 2, 3, true)
ORVANE_SAMPLER(OrvaneSampleBSpline2x4n, 2, 4, true)
ORVANE_SAMPLER(OrvaneSampleBSpline3x3n, 3, 3, true)
ORVANE_SAMPLER(OrvaneSampleBSpline3x4n, 3, 4, true)

#undef ORVANE_SAMPLER

}  // extern "C"

namespace orvane {

namespace {

// The routines of each degree for dimensions 1, 2, 3, 4 and 9, placed at degree * 10 + dimension.
using SamplerRow = orvane_bspline_sampler[5];

constexpr std::array<orvane_bspline_sampler, 40> SamplerTable(const SamplerRow (&rows)[4]) {
    constexpr int dimensions[5] = {1, 2, 3, 4, 9};
    std::array<orvane_bspline_sampler, 40> table{};
    for (int degree = 0; degree < 4; ++degree)
        for (int i = 0; i < 5; ++i)
            table[size_t(degree * 10 + dimensions[i])] = rows[degree][i];
    return table;
}

}  // namespace

constinit const std::array<orvane_bspline_sampler, 40> kBSplineSamplers = SamplerTable({
    {OrvaneSampleBSpline0x1, OrvaneSampleBSpline0x2, OrvaneSampleBSpline0x3, OrvaneSampleBSpline0x4,
     OrvaneSampleBSpline0x9},
    {OrvaneSampleBSpline1x1, OrvaneSampleBSpline1x2, OrvaneSampleBSpline1x3, OrvaneSampleBSpline1x4,
     OrvaneSampleBSpline1x9},
    {OrvaneSampleBSpline2x1, OrvaneSampleBSpline2x2, OrvaneSampleBSpline2x3, OrvaneSampleBSpline2x4,
     OrvaneSampleBSpline2x9},
    {OrvaneSampleBSpline3x1, OrvaneSampleBSpline3x2, OrvaneSampleBSpline3x3, OrvaneSampleBSpline3x4,
     OrvaneSampleBSpline3x9},
});

// Only the vectors and quaternions normalise; degree 0 copies a control, already normal.
constinit const std::array<orvane_bspline_sampler, 40> kBSplineSamplersNormalizing = SamplerTable({
    {OrvaneSampleBSpline0x1, OrvaneSampleBSpline0x2, OrvaneSampleBSpline0x3, OrvaneSampleBSpline0x4,
     OrvaneSampleBSpline0x9},
    {nullptr, nullptr, OrvaneSampleBSpline1x3n, OrvaneSampleBSpline1x4n, nullptr},
    {nullptr, nullptr, OrvaneSampleBSpline2x3n, OrvaneSampleBSpline2x4n, nullptr},
    {nullptr, nullptr, OrvaneSampleBSpline3x3n, OrvaneSampleBSpline3x4n, nullptr},
});

void MakeQuaternionsContinuous(float* q, int count) {
    for (int i = 1; i < count; ++i) {
        float* previous = q + 4 * (i - 1);
        float* current = q + 4 * i;
        const float dot = previous[0] * current[0] + previous[1] * current[1] +
                          previous[2] * current[2] + previous[3] * current[3];
        if (dot < 0.0f) {
            for (int c = 0; c < 4; ++c)
                current[c] = -current[c];
        }
    }
}

bool HoldCurveEnd(int32_t degree, int32_t dimension, bool normalize, bool clampFront,
                  bool clampBack, int32_t knotIndex, int32_t knotCount, const float* ti,
                  const float* pi, float t, float* result) {
    // ti[j] and pi[j * D] belong to knot knotIndex + j of the curve wherever the window
    // holds that knot (j in -d .. d - 1), clamped copies included.
    // The knot search places t before the first knot (index 0) or on an empty last interval
    // (the last two knots equal) by the stored knots: quantised knots decode to times a
    // rounding away from its key, and there the window's clamped or empty span would give 0/0.
    int32_t j;
    if (clampFront && knotIndex < degree && (knotIndex == 0 || t <= ti[-knotIndex]))
        j = -knotIndex;
    else if (clampBack && knotIndex + degree >= knotCount &&
             (t >= ti[knotCount - 1 - knotIndex] ||
              (knotIndex == knotCount - 1 && !(ti[0] > ti[-1]))))
        j = knotCount - 1 - knotIndex;
    else
        return false;
    const float* control = pi + j * dimension;
    for (int32_t c = 0; c < dimension; ++c)
        result[c] = control[c];
    // Only dimensions 3 and 4 have normalising samplers.
    if (normalize && dimension == 3) NormalizeToUnit<3>(result);
    if (normalize && dimension == 4) NormalizeToUnit<4>(result);
    return true;
}

namespace {

// Knots of a neighbouring curve that a looping window walks through: a looping curve's last
// knot repeats its first, so it is skipped.
int32_t NeighbourKnots(const CurveFormat* format, const orvane_curve2* curve) {
    const int32_t m = format->getKnotCount(curve->CurveData.Object);
    return m > 1 ? m - 1 : m;
}

void FillIdentity(float* controls, int32_t dimension, const float* identity) {
    if (identity)
        Copy32(size_t(dimension), identity, controls);
    else
        SetReal32(size_t(dimension), 0.0f, controls);
}

// A neighbour that cannot feed the window (no data, another dimension, no knots) is treated
// as absent, so the window is clamped instead of reading past its arrays.
const CurveFormat* UsableNeighbour(const orvane_curve2* neighbour, int32_t dimension) {
    if (neighbour == nullptr) return nullptr;
    const CurveFormat* format = CurveFormatOf(neighbour);
    if (format == nullptr) return nullptr;
    if (OrvaneCurveIsIdentity(neighbour)) return format;
    if (format->getDimension(neighbour->CurveData.Object) != dimension ||
        format->getKnotCount(neighbour->CurveData.Object) <= 0) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin,
                         "Neighbouring curve does not fit a window of dimension %d",
                         int(dimension));
        return nullptr;
    }
    return format;
}

// Fills the window around KnotIndex (see BuildWindow). Entries [0, *lentFront) came from the
// prior neighbour and [*lentBack, 2d) from the after neighbour (none when the window lies
// inside the curve).
bool FillWindow(const CurveFormat* format, const orvane_curve2* Curve, int32_t d, int32_t n,
                int32_t D, const CurveFormat* prior, const orvane_curve2* PriorCurve,
                const CurveFormat* after, const orvane_curve2* AfterCurve, float PriorCurveDuration,
                float CurveDuration, float AfterCurveDuration, int32_t KnotIndex, float* KnotBuffer,
                float* ControlBuffer, float** ti, float** pi, const float* IdentityVector,
                int32_t* lentFront, int32_t* lentBack) {
    *lentFront = 0;
    *lentBack = 2 * d;
    const void* data = Curve->CurveData.Object;
    const bool priorIsIdentity = prior && OrvaneCurveIsIdentity(PriorCurve);
    const bool afterIsIdentity = after && OrvaneCurveIsIdentity(AfterCurve);
    *ti = KnotBuffer;
    *pi = ControlBuffer;
    if (KnotIndex < 0) KnotIndex = 0;
    if (KnotIndex > n - 1) KnotIndex = n - 1;

    const auto* plain = static_cast<const orvane_curve_data_da_k32f_c32f*>(data);
    const bool floats = format == &kCurveFormats[OrvaneCurveFormatDaK32fC32f];
    const float* curveKnots = floats ? plain->Knots : nullptr;
    const float* curveControls = floats ? plain->Controls : nullptr;

    if (d == 0) {
        if (floats) {
            *ti = const_cast<float*>(curveKnots) + KnotIndex;
            *pi = const_cast<float*>(curveControls) + KnotIndex * D;
        } else {
            format->extractKnotValues(data, KnotIndex, 1, nullptr, ControlBuffer, IdentityVector);
        }
        return false;
    }

    const int32_t usable = (AfterCurve != nullptr) ? n - 1 : n;
    const int32_t start = KnotIndex - d;
    const int32_t window = 2 * d;
    *ti = KnotBuffer + d;
    *pi = ControlBuffer + d * D;
    if (start >= 0 && start + window <= usable) {
        if (floats) {
            *ti = const_cast<float*>(curveKnots) + KnotIndex;
            *pi = const_cast<float*>(curveControls) + KnotIndex * D;
        } else {
            format->extractKnotValues(data, start, window, KnotBuffer, ControlBuffer,
                                      IdentityVector);
        }
        return false;
    }

    const int32_t front = start < 0 ? -start : 0;
    const int32_t first = start < 0 ? 0 : start;
    if (prior != nullptr) *lentFront = front;
    int32_t count = window - front;
    if (count > usable - first) count = usable - first;
    if (count < 1) count = 1;  // a one-knot looping curve still has its knot
    format->extractKnotValues(data, first, count, KnotBuffer + front, ControlBuffer + front * D,
                              IdentityVector);

    // Front: clamp, continue from an identity, or walk the prior curve backwards.
    if (front > 0) {
        if (prior == nullptr) {
            for (int32_t e = front - 1; e >= 0; --e) {
                KnotBuffer[e] = KnotBuffer[front];
                Copy32(size_t(D), ControlBuffer + front * D, ControlBuffer + e * D);
            }
        } else if (priorIsIdentity) {
            for (int32_t e = front - 1; e >= 0; --e) {
                KnotBuffer[e] = KnotBuffer[front] - float(front - e) * PriorCurveDuration;
                FillIdentity(ControlBuffer + e * D, D, IdentityVector);
            }
        } else {
            const int32_t m = NeighbourKnots(prior, PriorCurve);
            int32_t source = m - 1;
            float shift = -PriorCurveDuration;
            for (int32_t e = front - 1; e >= 0; --e) {
                float knot = 0.0f;
                prior->extractKnotValues(PriorCurve->CurveData.Object, source, 1, &knot,
                                         ControlBuffer + e * D, IdentityVector);
                KnotBuffer[e] = knot + shift;
                if (--source < 0) {
                    source = m - 1;
                    shift -= PriorCurveDuration;
                }
            }
        }
    }

    // Back: clamp, continue into an identity, or walk the after curve forwards.
    const int32_t last = front + count - 1;
    if (after != nullptr) *lentBack = last + 1;
    if (last + 1 < window) {
        if (after == nullptr) {
            for (int32_t e = last + 1; e < window; ++e) {
                KnotBuffer[e] = KnotBuffer[last];
                Copy32(size_t(D), ControlBuffer + last * D, ControlBuffer + e * D);
            }
        } else if (afterIsIdentity) {
            for (int32_t e = last + 1; e < window; ++e) {
                KnotBuffer[e] = KnotBuffer[e - 1] + AfterCurveDuration;
                FillIdentity(ControlBuffer + e * D, D, IdentityVector);
            }
        } else {
            const int32_t m = NeighbourKnots(after, AfterCurve);
            int32_t source = 0;
            float shift = CurveDuration;
            for (int32_t e = last + 1; e < window; ++e) {
                float knot = 0.0f;
                after->extractKnotValues(AfterCurve->CurveData.Object, source, 1, &knot,
                                         ControlBuffer + e * D, IdentityVector);
                KnotBuffer[e] = knot + shift;
                if (++source >= m) {
                    source = 0;
                    shift += AfterCurveDuration;
                }
            }
        }
    }
    return true;
}

// Whether the knots lent at the front (entries [0, lent)) carry the window's knots on strictly
// upwards into the curve's own, and are finite. A looping neighbour whose duration is not
// longer than its knots' span (or is 0, negative or not a number) lends knots that run back into
// the curve's, and de Boor's step would divide by empty or negative spans.
bool FrontFits(const float* k, int32_t lent) {
    for (int32_t e = 0; e < lent; ++e)
        if (!(k[e] < k[e + 1])) return false;
    return std::isfinite(k[0]);
}

// The same for the knots lent at the back (entries [lent, window), lent at least 1).
bool BackFits(const float* k, int32_t window, int32_t lent) {
    for (int32_t e = lent; e < window; ++e)
        if (!(k[e] > k[e - 1])) return false;
    return std::isfinite(k[window - 1]);
}

// The window around KnotIndex of a curve that has been checked: its format, degree (at most
// 3), knot count n (at least 1) and dimension D are known to fit. Neighbours are null when
// absent or unusable. A neighbour whose knots would not fit (FrontFits, BackFits) is absent too, so
// that end is clamped as without looping; *keptPrior and *keptAfter tell which neighbours
// remain.
bool BuildWindow(const CurveFormat* format, const orvane_curve2* Curve, int32_t d, int32_t n,
                 int32_t D, const CurveFormat* prior, const orvane_curve2* PriorCurve,
                 const CurveFormat* after, const orvane_curve2* AfterCurve,
                 float PriorCurveDuration, float CurveDuration, float AfterCurveDuration,
                 int32_t KnotIndex, float* KnotBuffer, float* ControlBuffer, float** ti, float** pi,
                 const float* IdentityVector, bool* keptPrior, bool* keptAfter) {
    int32_t lentFront, lentBack;
    bool extended =
        FillWindow(format, Curve, d, n, D, prior, PriorCurve, after, AfterCurve, PriorCurveDuration,
                   CurveDuration, AfterCurveDuration, KnotIndex, KnotBuffer, ControlBuffer, ti, pi,
                   IdentityVector, &lentFront, &lentBack);
    const int32_t window = 2 * d;
    const bool lentAtFront = lentFront > 0, lentAtBack = lentBack < window;
    if (lentAtFront || lentAtBack) {
        bool dropPrior = lentAtFront && !FrontFits(KnotBuffer, lentFront);
        bool dropAfter = lentAtBack && !BackFits(KnotBuffer, window, lentBack);
        // Every span of the window must be finite too (lent knots a few long durations away).
        if (!dropPrior && !dropAfter && !std::isfinite(KnotBuffer[window - 1] - KnotBuffer[0]))
            dropPrior = lentAtFront, dropAfter = lentAtBack;
        if (dropPrior || dropAfter) {
            if (dropPrior) prior = nullptr;
            if (dropAfter) after = nullptr;
            extended = FillWindow(format, Curve, d, n, D, prior, prior ? PriorCurve : nullptr,
                                  after, after ? AfterCurve : nullptr, PriorCurveDuration,
                                  CurveDuration, AfterCurveDuration, KnotIndex, KnotBuffer,
                                  ControlBuffer, ti, pi, IdentityVector, &lentFront, &lentBack);
        }
    }
    if (keptPrior) *keptPrior = prior != nullptr;
    if (keptAfter) *keptAfter = after != nullptr;
    return extended;
}

}  // namespace
}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API void OrvaneSampleBSpline(orvane_int32 Degree, orvane_int32 Dimension,
                                    orvane_bool Normalize, const orvane_real32* ti,
                                    const orvane_real32* pi, orvane_real32 t,
                                    orvane_real32* Result) {
    if (Degree < 0 || Degree >= 4) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Degree %d is out of range [0, %d)", int(Degree), 4);
        return;
    }
    if (Dimension < 0 || Dimension >= 10) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Dimension %d is out of range [0, %d)", int(Dimension),
                         10);
        return;
    }
    const orvane_bspline_sampler sampler =
        (Normalize ? kBSplineSamplersNormalizing : kBSplineSamplers)[Degree * 10 + Dimension];
    if (sampler == nullptr) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Unrecognized degree/dimension combination (%d/%d)",
                         int(Degree), int(Dimension));
        return;
    }
    sampler(ti, pi, t, Result);
}

ORVANE_API void OrvaneUncheckedSampleBSpline(orvane_int32 Degree, orvane_int32 Dimension,
                                             const orvane_real32* ti, const orvane_real32* pi,
                                             orvane_real32 t, orvane_real32* Result) {
    kBSplineSamplers[Degree * 10 + Dimension](ti, pi, t, Result);
}

ORVANE_API void OrvaneUncheckedSampleBSplineN(orvane_int32 Degree, orvane_int32 Dimension,
                                              const orvane_real32* ti, const orvane_real32* pi,
                                              orvane_real32 t, orvane_real32* Result) {
    kBSplineSamplersNormalizing[Degree * 10 + Dimension](ti, pi, t, Result);
}

ORVANE_API orvane_int32 OrvaneFindKnot(orvane_int32 KnotCount, const orvane_real32* Knots,
                                       orvane_real32 t) {
    if (KnotCount <= 0 || Knots == nullptr) return 0;
    return GuessUpperBoundKnot(Knots, KnotCount, t);
}

ORVANE_API orvane_int32 OrvaneFindCloseKnot(orvane_int32 KnotCount, const orvane_real32* Knots,
                                            orvane_real32 t, orvane_int32) {
    return OrvaneFindKnot(KnotCount, Knots, t);
}

ORVANE_API orvane_bool OrvaneConstructBSplineBuffers(
    orvane_int32 Dimension, const orvane_curve2* PriorCurve, const orvane_curve2* Curve,
    const orvane_curve2* AfterCurve, orvane_real32 PriorCurveDuration, orvane_real32 CurveDuration,
    orvane_real32 AfterCurveDuration, orvane_int32 KnotIndex, orvane_real32* KnotBuffer,
    orvane_real32* ControlBuffer, orvane_real32** ti, orvane_real32** pi,
    const orvane_real32* IdentityVector) {
    // Refusals leave the window pointers at the buffers.
    *ti = KnotBuffer;
    *pi = ControlBuffer;
    if (Dimension < 0 || Dimension > kMaxBSplineDimension) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Dimension %d is out of range [0, %d)", int(Dimension),
                         10);
        return false;
    }
    const CurveFormat* format = CurveFormatOf(Curve);
    if (format == nullptr) return false;
    const void* data = Curve->CurveData.Object;
    const int32_t d = OrvaneCurveGetDegree(Curve);
    const int32_t D = Dimension;
    if (d > kMaxBSplineDegree) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Degree %d is out of range [0, %d)", int(d), 4);
        return false;
    }
    const int32_t n = format->getKnotCount(data);
    if (n == 0 || OrvaneCurveIsIdentity(Curve)) {
        // Nothing to read: the window holds identity values around time 0.
        for (int32_t e = 0; e < (d > 0 ? 2 * d : 1); ++e) {
            if (d > 0) KnotBuffer[e] = 0.0f;
            FillIdentity(ControlBuffer + e * D, D, IdentityVector);
        }
        *ti = KnotBuffer + d;
        *pi = ControlBuffer + d * D;
        return false;
    }
    if (format->getDimension(data) != D) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Curve and argument dimensions do not match");
        return false;
    }
    // A refused neighbour is absent altogether: in particular the curve keeps its last knot,
    // which only a looping neighbour replaces.
    const CurveFormat* prior = UsableNeighbour(PriorCurve, D);
    const CurveFormat* after = UsableNeighbour(AfterCurve, D);
    return BuildWindow(format, Curve, d, n, D, prior, prior ? PriorCurve : nullptr, after,
                       after ? AfterCurve : nullptr, PriorCurveDuration, CurveDuration,
                       AfterCurveDuration, KnotIndex, KnotBuffer, ControlBuffer, ti, pi,
                       IdentityVector, nullptr, nullptr);
}

ORVANE_API void OrvaneEvaluateCurveAtKnotIndex(orvane_int32 Dimension, orvane_bool Normalize,
                                               orvane_bool BackwardsLoop,
                                               const orvane_curve2* Curve, orvane_bool ForwardsLoop,
                                               orvane_real32 CurveDuration, orvane_int32 KnotIndex,
                                               orvane_real32 t, orvane_real32* Result,
                                               const orvane_real32* IdentityVector) {
    if (Dimension < 0 || Dimension > kMaxBSplineDimension) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Dimension %d is out of range [0, %d)", int(Dimension),
                         10);
        return;
    }
    const CurveFormat* format = CurveFormatOf(Curve);
    if (format == nullptr) return;
    const void* data = Curve->CurveData.Object;
    const auto* header = static_cast<const orvane_curve_data_header*>(data);
    const int32_t n = format->getKnotCount(data);
    const int32_t formatNumber = header->Format;
    const bool floats = formatNumber == OrvaneCurveFormatDaK32fC32f;
    // Identity: the DaIdentity format, or a float curve with no knots and no controls.
    if (formatNumber == OrvaneCurveFormatDaIdentity ||
        (floats && n == 0 &&
         static_cast<const orvane_curve_data_da_k32f_c32f*>(data)->ControlCount == 0)) {
        FillIdentity(Result, Dimension, IdentityVector);
        return;
    }
    if (format->getDimension(data) != Dimension) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Curve and argument dimensions do not match");
        return;
    }
    const bool constant = IsConstantFormat(formatNumber) || (floats && n == 1);
    if (constant) {
        format->extractKnotValues(data, 0, 1, nullptr, Result, IdentityVector);
        return;
    }
    const int32_t degree = header->Degree;
    if (degree > kMaxBSplineDegree) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Degree %d is out of range [0, %d)", int(degree), 4);
        return;
    }
    if (n == 0) {
        // Keyframes of nothing, or a float curve with controls but no knots.
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Curve has no knots to evaluate");
        return;
    }
    // Keyframes carry no knot values to interpolate between: above degree 0 they yield their
    // first frame rather than reading knots that were never written.
    if (degree > 0 && formatNumber == OrvaneCurveFormatDaKeyframes32f) {
        format->extractKnotValues(data, 0, 1, nullptr, Result, IdentityVector);
        return;
    }
    const orvane_bspline_sampler sampler =
        (Normalize ? kBSplineSamplersNormalizing : kBSplineSamplers)[degree * 10 + Dimension];
    if (sampler == nullptr) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Unrecognized degree/dimension combination (%d/%d)",
                         int(degree), int(Dimension));
        return;
    }
    if (n == 1) {
        // One knot: every window, clamped or looping, repeats its control (normalised as the
        // samplers above degree 0 do).
        format->extractKnotValues(data, 0, 1, nullptr, Result, IdentityVector);
        if (Normalize && degree > 0 && Dimension == 3) NormalizeToUnit<3>(Result);
        if (Normalize && degree > 0 && Dimension == 4) NormalizeToUnit<4>(Result);
        return;
    }
    if (KnotIndex == n) --KnotIndex;
    if (KnotIndex < 0) KnotIndex = 0;
    if (KnotIndex > n - 1) KnotIndex = n - 1;

    float knots[kBSplineKnotBufferSize];
    float controls[kBSplineControlBufferSize];
    float* ti;
    float* pi;
    // A loop too short for the curve leaves that end clamped, held as without looping.
    bool loopsBack = BackwardsLoop, loopsForward = ForwardsLoop;
    const bool extended =
        BuildWindow(format, Curve, degree, n, Dimension, BackwardsLoop ? format : nullptr, Curve,
                    ForwardsLoop ? format : nullptr, ForwardsLoop ? Curve : nullptr, CurveDuration,
                    CurveDuration, CurveDuration, KnotIndex, knots, controls, &ti, &pi,
                    IdentityVector, &loopsBack, &loopsForward);
    if (extended && Normalize && Dimension == 4) MakeQuaternionsContinuous(controls, degree + 1);
    // Only the windows at either end of the curve pay for the time compare.
    if ((KnotIndex < degree || KnotIndex + degree >= n) &&
        HoldCurveEnd(degree, Dimension, Normalize, !loopsBack, !loopsForward, KnotIndex, n, ti, pi,
                     t, Result))
        return;
    sampler(ti, pi, t, Result);
}

ORVANE_API void OrvaneEvaluateCurveAtT(orvane_int32 Dimension, orvane_bool Normalize,
                                       orvane_bool BackwardsLoop, const orvane_curve2* Curve,
                                       orvane_bool ForwardsLoop, orvane_real32 CurveDuration,
                                       orvane_real32 t, orvane_real32* Result,
                                       const orvane_real32* IdentityVector) {
    OrvaneEvaluateCurveAtKnotIndex(Dimension, Normalize, BackwardsLoop, Curve, ForwardsLoop,
                                   CurveDuration, OrvaneCurveFindKnot(Curve, t), t, Result,
                                   IdentityVector);
}

}  // extern "C"

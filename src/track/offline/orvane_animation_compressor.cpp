// Animation compression: per bone, the smallest curves (identity, constant, or a fitted
// B-spline in the smallest format and degree that holds) that keep the bone within an
// object-space error budget, fitted to targets that make up for the ancestors' rounding. The
// budget is measured by the compression's error module (orvane_compression_error.h).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "curve/orvane_bspline.h"
#include "curve/orvane_compact_curve.h"
#include "curve/orvane_curve.h"
#include "curve/offline/orvane_compact_fit.h"
#include "curve/offline/orvane_curve_fitter.h"
#include "track/orvane_content_checks.h"
#include "track/offline/orvane_compression_error.h"
#include "track/offline/orvane_compression_work.h"
#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "diag/orvane_timing.h"
#include "orvane/bspline.h"
#include "orvane/compress.h"
#include "orvane/curve_builder.h"
#include "orvane/fit.h"
#include "orvane/math.h"

namespace orvane {
namespace compression {
namespace {

// Tolerance scales tried in turn when the assembled bone misses its budget.
constexpr float kTighten[] = {1.8f, 1.3f, 1.0f, 0.6f, 0.35f, 0.2f, 0.1f, 0.05f};
constexpr int kTightenSteps = int(sizeof kTighten / sizeof kTighten[0]);
// With compact curves, a bone whose offset from its parent is fixed in the source keeps a
// constant position at this share of the budget (above the 1 / kChildWeight its parent may
// move it by) at the tolerance scales from the first down to kFixedOffsetSteps.
constexpr float kFixedOffsetShare = 0.7f;
constexpr float kFixedOffsetSteps = 0.6f;
// Compact curves whose depths come down to what the bone's error allows keep it within this
// share of the budget.
constexpr float kLoweredShare = 0.998f;
// A bone is still when its local transform moves its shell and descendants by this share of
// the budget at most: it keeps the source's values (no curves making up for its parents'
// rounding), and its parent holds the budget at its shell and its children's origins.
constexpr float kStillShare = 0.05f;

const float* IdentityOf(int component) {
    return component == 0   ? OrvaneCurveIdentityPosition
           : component == 1 ? OrvaneCurveIdentityOrientation
                            : OrvaneCurveIdentityScaleShear;
}

// Candidate fitted formats per component: each 16-bit format before its 8-bit sibling, which
// is not tried when the 16-bit one cannot hold (its rounding is coarser). Positions take D3
// rather than Da (the same rounding in a smaller record).
constexpr int kPositionFormats[] = {OrvaneCurveFormatD3K16uC16u, OrvaneCurveFormatD3K8uC8u,
                                    OrvaneCurveFormatDaK32fC32f};
constexpr int kOrientationFormats[] = {OrvaneCurveFormatD4nK16uC15u, OrvaneCurveFormatD4nK8uC7u,
                                       OrvaneCurveFormatDaK16uC16u, OrvaneCurveFormatDaK8uC8u,
                                       OrvaneCurveFormatDaK32fC32f};
constexpr int kScaleShearFormats[] = {OrvaneCurveFormatD9I1K16uC16u, OrvaneCurveFormatD9I1K8uC8u,
                                      OrvaneCurveFormatD9I3K16uC16u, OrvaneCurveFormatD9I3K8uC8u,
                                      OrvaneCurveFormatDaK16uC16u,   OrvaneCurveFormatDaK8uC8u,
                                      OrvaneCurveFormatDaK32fC32f};

// The 16-bit sibling of an 8-bit format (the format itself otherwise).
int SixteenBitSibling(int format) {
    switch (format) {
        case OrvaneCurveFormatDaK8uC8u:
            return OrvaneCurveFormatDaK16uC16u;
        case OrvaneCurveFormatD4nK8uC7u:
            return OrvaneCurveFormatD4nK16uC15u;
        case OrvaneCurveFormatD3K8uC8u:
            return OrvaneCurveFormatD3K16uC16u;
        case OrvaneCurveFormatD9I1K8uC8u:
            return OrvaneCurveFormatD9I1K16uC16u;
        case OrvaneCurveFormatD9I3K8uC8u:
            return OrvaneCurveFormatD9I3K16uC16u;
        default:
            return format;
    }
}

orvane_data_type_definition* FormatType(int format) {
    static orvane_data_type_definition* const* const types[OrvaneCurveFormatCount] = {
        &OrvaneCurveDataDaKeyframes32fType, &OrvaneCurveDataDaK32fC32fType,
        &OrvaneCurveDataDaIdentityType,     &OrvaneCurveDataDaConstant32fType,
        &OrvaneCurveDataD3Constant32fType,  &OrvaneCurveDataD4Constant32fType,
        &OrvaneCurveDataDaK16uC16uType,     &OrvaneCurveDataDaK8uC8uType,
        &OrvaneCurveDataD4nK16uC15uType,    &OrvaneCurveDataD4nK8uC7uType,
        &OrvaneCurveDataD3K16uC16uType,     &OrvaneCurveDataD3K8uC8uType,
        &OrvaneCurveDataD9I1K16uC16uType,   &OrvaneCurveDataD9I3K16uC16uType,
        &OrvaneCurveDataD9I1K8uC8uType,     &OrvaneCurveDataD9I3K8uC8uType};
    return *types[format];
}

// A component's choice: an encoded curve (owned, from OrvaneEndCurve).
struct Choice {
    orvane_curve2* curve = nullptr;
    int32_t bytes = 0;
    float error = 0.0f;  // largest distance from the samples, at the frames
    bool exact = false;
};

bool IsCompact(const orvane_curve2* curve) {
    return curve && curve->CurveData.Object &&
           *static_cast<const uint8_t*>(curve->CurveData.Object) == OrvaneCurveFormatDaCompact;
}

void Release(Choice& choice) {
    if (choice.curve) OrvaneFreeCurve(choice.curve);
    choice = Choice{};
}

orvane_curve2* Encode(int format, int degree, int dimension, int32_t knotCount, const float* knots,
                      const float* controls) {
    orvane_curve_builder* builder =
        OrvaneBeginCurve(FormatType(format), degree, dimension, knotCount);
    if (builder == nullptr) return nullptr;
    if (knots) OrvanePushCurveKnotArray(builder, knots);
    if (controls) OrvanePushCurveControlArray(builder, controls);
    return OrvaneEndCurve(builder);
}

int32_t DataBytes(const orvane_curve2* curve) {
    orvane_curve_builder* builder = OrvaneBeginCurveCopy(curve);
    if (builder == nullptr) return 0;
    const int32_t bytes = OrvaneGetResultingCurveDataSize(builder);
    OrvaneAbortCurveBuilder(builder);
    return bytes;
}

bool Allowed(uint32_t mask, int bit) {
    return (mask >> bit) & 1u;
}

// Whether the 3x3 samples keep off-diagonal zeros (and, for one value, equal diagonals)
// within tolerance, so the D9I3 (D9I1) formats can hold them.
bool DiagonalWithin(const float* samples, int32_t count, float tolerance, bool uniform) {
    for (int32_t i = 0; i < count; ++i) {
        const float* m = samples + size_t(i) * 9;
        float off = 0.0f;
        for (int c : {1, 2, 3, 5, 6, 7})
            off += m[c] * m[c];
        if (uniform) {
            const float mean = (m[0] + m[4] + m[8]) / 3.0f;
            for (int c : {0, 4, 8})
                off += (m[c] - mean) * (m[c] - mean);
        }
        if (std::sqrt(off) > tolerance) return false;
    }
    return true;
}

// Keeps the fewest samples whose polyline stays within tolerance of every sample (greedy
// from the start: each segment runs as far as it can). Noisy capture that no smooth fit can
// follow keeps the samples it needs and no more. Returns the kept count.
int32_t ReducePolyline(Work& work, const float* samples, int dimension, float tolerance) {
    const int32_t count = work.sampleCount;
    const size_t D = size_t(dimension);
    int32_t kept = 0;
    auto keep = [&](int32_t i) {
        work.lineKnots[kept] = work.frameTimes[i];
        Copy32(D, samples + size_t(i) * D, work.lineControls + size_t(kept) * D);
        ++kept;
    };
    keep(0);
    int32_t anchor = 0;
    while (anchor < count - 1) {
        int32_t end = anchor + 1;
        // Extend while the segment from the anchor to the next sample holds every sample
        // between.
        while (end + 1 < count) {
            const int32_t next = end + 1;
            const float* a = samples + size_t(anchor) * D;
            const float* b = samples + size_t(next) * D;
            bool holds = true;
            for (int32_t i = anchor + 1; i < next && holds; ++i) {
                const float u = float(i - anchor) / float(next - anchor);
                const float* s = samples + size_t(i) * D;
                float sum = 0.0f;
                for (size_t c = 0; c < D; ++c) {
                    const float d = (1.0f - u) * a[c] + u * b[c] - s[c];
                    sum += d * d;
                }
                holds = sum <= tolerance * tolerance;
            }
            if (!holds) break;
            end = next;
        }
        keep(end);
        anchor = end;
    }
    return kept;
}

// The data bytes of a curve of the format, degree and dimension with n knots.
int32_t SizeOf(int format, int degree, int dimension, int32_t n) {
    orvane_curve_builder builder;
    if (!InitializeCurveBuilder(&builder, FormatType(format), degree, dimension, n)) return -1;
    return OrvaneGetResultingCurveDataSize(&builder);
}

// Fits a curve of the format and degree on knots at frames, starting from the seed (sample
// units, increasing, first 0 and last the last frame): the controls are solved on the knot
// times the format stores, the encoded curve is measured at every frame and halfway between
// frames (against the interpolated targets, allowing the bend that smooth paths through the
// neighbouring samples take there), and a frame halfway along each interval that misses the
// tolerance (midTolerance between frames) becomes a knot, until every interval holds. Replaces
// *best when it ends smaller.
// What a fit came to: it held (and replaced *best), it stopped at the size of *best, or it
// missed (no knots left to add, or the format cannot hold the knots).
enum class FitEnd { Held, Larger, Missed };

FitEnd FitOnFrames(Work& work, int component, int format, int degree, const float* samples,
                   float tolerance, float midTolerance, int32_t seedCount, const float* seed,
                   Choice* best) {
    const int dimension = kDimensions[component];
    const size_t D = size_t(dimension);
    const int32_t count = work.sampleCount;
    const float* mids = work.midTarget[component];
    const bool quaternion = component == 1;
    float* knots = work.fitKnots;
    int32_t n = seedCount;
    Copy32(size_t(n), seed, knots);
    if (n < 2) return FitEnd::Missed;
    float value[9];
    for (int pass = 0; pass < 64; ++pass) {
        const int32_t bytes = SizeOf(format, degree, dimension, n);
        if (best->curve && bytes >= best->bytes) return FitEnd::Larger;
        if (bytes <= 0) return FitEnd::Missed;
        if (bytes > work.curveBufferSize) return FitEnd::Missed;
        for (int32_t i = 0; i < n; ++i)
            work.encodeKnots[i] = knots[i] * work.timeStep;
        work.encodeKnots[n - 1] = work.duration;
        float* stored = work.storedKnots;
        if (!StoredKnotTimes(format, n, work.encodeKnots, work.timeStep, stored))
            return FitEnd::Missed;
        if (!SolveControlsForKnots(work.solver, count, samples, dimension, degree, stored, n,
                                   work.controls, true))
            return FitEnd::Missed;
        orvane_curve_builder builder;
        if (!InitializeCurveBuilder(&builder, FormatType(format), degree, dimension, n))
            return FitEnd::Missed;
        builder.Knots = work.encodeKnots;
        builder.Controls = work.controls;
        if (OrvaneEndCurveDataInPlace(&builder, &work.scratch, work.curveBuffer) == nullptr)
            return FitEnd::Missed;
        OrvaneCurveExtractKnotValues(&work.scratch, 0, n, nullptr, work.decoded,
                                     IdentityOf(component));
        ExtendStoredKnots(stored, n, degree);
        // Measure: frames and midpoints in time order, walking the intervals.
        std::memset(work.failed, 0, size_t(n));
        bool anyFailed = false;
        float worstAtFrames = 0.0f;
        int32_t interval = 1;
        for (int32_t h = 0; h < 2 * count - 1; ++h) {
            const float x = 0.5f * float(h);
            while (interval < n - 1 && x >= stored[interval])
                ++interval;
            EvaluateStored(degree, dimension, quaternion, stored, n, work.decoded, interval, x,
                           value);
            float error;
            if (h & 1) {
                // Near the target there, or near the straight path between the frames'
                // targets (all that knots on frames can follow when a compressed parent moves
                // differently between frames than at them).
                const int32_t j = (h + 1) / 2;
                const float* a = samples + size_t(j - 1) * D;
                float chord[9];
                for (size_t c = 0; c < D; ++c)
                    chord[c] = 0.5f * (a[c] + a[D + c]);
                if (quaternion) {
                    const float length = std::sqrt(chord[0] * chord[0] + chord[1] * chord[1] +
                                                   chord[2] * chord[2] + chord[3] * chord[3]);
                    if (length > 0.0f)
                        for (int c = 0; c < 4; ++c)
                            chord[c] /= length;
                }
                const float toTarget = Distance(dimension, value, mids + size_t(j - 1) * D);
                const float toChord = Distance(dimension, value, chord);
                error = (toTarget < toChord ? toTarget : toChord) - work.midBend[j];
                error *= tolerance / midTolerance;
            } else {
                error = Distance(dimension, value, samples + size_t(h / 2) * D);
                if (error > worstAtFrames) worstAtFrames = error;
            }
            if (!(error <= tolerance)) {  // NaN fails too
                // A time on a knot belongs to both intervals around it.
                work.failed[interval] = 1;
                if (interval > 1 && x <= stored[interval - 1]) work.failed[interval - 1] = 1;
                anyFailed = true;
            }
        }
        if (!anyFailed) {
            orvane_curve2* curve =
                Encode(format, degree, dimension, n, work.encodeKnots, work.controls);
            if (curve == nullptr) return FitEnd::Missed;
            Release(*best);
            best->curve = curve;
            best->bytes = DataBytes(curve);
            best->error = worstAtFrames;
            return FitEnd::Held;
        }
        // A frame halfway along each interval that missed; an interval with no frame left
        // inside passes its miss to its neighbours (above degree 1 they shape it too).
        // Above degree 1, an interval with no frame inside splits at its middle while it is
        // a quarter frame long or more (the start, where the clamped end bends the curve
        // within a frame).
        auto splittable = [&](int32_t i) {
            return std::floor(knots[i - 1]) + 1.0f <= std::ceil(knots[i]) - 1.0f ||
                   (degree > 1 && knots[i] - knots[i - 1] >= 0.5f);
        };
        for (int32_t i = 1; i < n; ++i) {
            if (work.failed[i] != 1 || splittable(i)) continue;
            if (degree < 2) return FitEnd::Missed;  // a polyline on neighbouring frames that misses
            if (i > 1 && splittable(i - 1)) work.failed[i - 1] = 2;
            if (i + 1 < n && splittable(i + 1)) work.failed[i + 1] = 2;
        }
        int32_t m = 0;
        work.newKnots[m++] = knots[0];
        for (int32_t i = 1; i < n; ++i) {
            if (work.failed[i] && splittable(i)) {
                const float low = std::floor(knots[i - 1]) + 1.0f;
                const float high = std::ceil(knots[i]) - 1.0f;
                const float middle = std::floor(0.5f * (knots[i - 1] + knots[i]));
                work.newKnots[m++] = low > high      ? 0.5f * (knots[i - 1] + knots[i])
                                     : middle < low  ? low
                                     : middle > high ? high
                                                     : middle;
            }
            work.newKnots[m++] = knots[i];
        }
        if (m == n) return FitEnd::Missed;  // nothing left to split
        std::swap(work.fitKnots, work.newKnots);
        knots = work.fitKnots;
        n = m;
    }
    return FitEnd::Missed;
}

// Steps between frames far above the clip's usual ones are cuts (a rest pose in front of a
// capture, a teleport): curves above degree 1 break there instead of ringing around them.
float JumpThreshold(Work& work, const float* samples, int dimension, float tolerance) {
    const int32_t steps = work.sampleCount - 1;
    float* distances = work.ranks;
    for (int32_t i = 0; i < steps; ++i)
        distances[i] = Distance(dimension, samples + size_t(i) * size_t(dimension),
                                samples + size_t(i + 1) * size_t(dimension));
    const int32_t rank = steps * 9 / 10;
    std::nth_element(distances, distances + rank, distances + steps);
    const float usual = distances[rank];
    const float threshold = 8.0f * usual;
    return threshold > 20.0f * tolerance ? threshold : 20.0f * tolerance;
}

// First knots for a fit of the degree, in sample units: where a polyline within the tolerance
// (looser above degree 1, whose curves bend between knots) keeps its samples, so where the
// motion turns. Returns the count.
int32_t SeedKnots(Work& work, const float* samples, int dimension, int degree, float tolerance,
                  float denseStep, float* seeds) {
    // The polyline depends only on its tolerance: kept from the previous call when that
    // matches (the formats of a degree share it).
    const float lineTolerance = (degree == 1 ? 1.0f : 3.0f) * tolerance;
    if (work.lineSamples != samples || work.lineTolerance != lineTolerance) {
        work.lineKept = ReducePolyline(work, samples, dimension, lineTolerance);
        work.lineSamples = samples;
        work.lineTolerance = lineTolerance;
    }
    const int32_t kept = work.lineKept;
    int32_t n = 0;
    seeds[n++] = 0.0f;
    // Above degree 1, degree - 1 knots just after the first (as close as the format's knot
    // grid keeps them apart) free the start from the clamped end's flat tangent, which
    // otherwise bends a moving start away from the samples.
    const float first = std::nearbyint(work.lineKnots[1] / work.timeStep);
    for (int j = 1; j < degree && float(j) * denseStep < first; ++j)
        seeds[n++] = float(j) * denseStep;
    for (int32_t i = 1; i < kept; ++i)
        seeds[n++] = std::nearbyint(work.lineKnots[i] / work.timeStep);
    return n;
}

// The smallest curve that keeps the samples within tolerance: the identity, a constant, or
// a fit in the allowed formats and degrees; the exact polyline when nothing holds.
Choice ChooseCurve(Work& work, int component, const float* samples, float tolerance,
                   float midTolerance, uint32_t formats, uint32_t degrees) {
    ORVANE_TIMING_BLOCK("CompressorChooseCurve");
    work.lineSamples = nullptr;  // the samples' buffer holds new values on every call
    const int dimension = kDimensions[component];
    const int32_t count = work.sampleCount;
    const float* identity = IdentityOf(component);
    Choice choice;

    float worstIdentity = 0.0f;
    for (int32_t i = 0; i < count; ++i) {
        const float d = Distance(dimension, samples + size_t(i) * size_t(dimension), identity);
        if (d > worstIdentity) worstIdentity = d;
    }
    if (worstIdentity <= tolerance && Allowed(formats, OrvaneCurveFormatDaIdentity)) {
        choice.curve = Encode(OrvaneCurveFormatDaIdentity, 0, dimension, 0, nullptr, nullptr);
        if (choice.curve) {
            choice.bytes = DataBytes(choice.curve);
            choice.error = worstIdentity;
            return choice;
        }
    }

    // The constant: the middle of the samples' bounding box (unit length for quaternions).
    float constant[9];
    for (int c = 0; c < dimension; ++c) {
        float low = samples[c], high = samples[c];
        for (int32_t i = 1; i < count; ++i) {
            const float v = samples[size_t(i) * size_t(dimension) + size_t(c)];
            low = v < low ? v : low;
            high = v > high ? v : high;
        }
        constant[c] = 0.5f * (low + high);
    }
    if (component == 1) {
        const float length = std::sqrt(constant[0] * constant[0] + constant[1] * constant[1] +
                                       constant[2] * constant[2] + constant[3] * constant[3]);
        if (length > 0.0f) {
            for (int c = 0; c < 4; ++c)
                constant[c] /= length;
        }
    }
    float worstConstant = 0.0f;
    for (int32_t i = 0; i < count; ++i) {
        const float d = Distance(dimension, samples + size_t(i) * size_t(dimension), constant);
        if (d > worstConstant) worstConstant = d;
    }
    const int constantFormat = dimension == 3   ? OrvaneCurveFormatD3Constant32f
                               : dimension == 4 ? OrvaneCurveFormatD4Constant32f
                                                : OrvaneCurveFormatDaConstant32f;
    if (worstConstant <= tolerance && Allowed(formats, constantFormat)) {
        const float zero = 0.0f;
        choice.curve = Encode(constantFormat, 0, dimension, 1, &zero, constant);
        if (choice.curve) {
            choice.bytes = DataBytes(choice.curve);
            choice.error = worstConstant;
            return choice;
        }
    }

    // The compact format, when asked for: a knot every frame or every few frames, each
    // segment's components at the smallest bit depths that hold. The fitted formats below
    // replace it where they are smaller (smooth motion that few knots describe).
    if (Allowed(formats, OrvaneCurveFormatDaCompact)) {
        CompactFit fit =
            FitCompactCurve(samples, count, dimension, component == 1, work.timeStep, tolerance);
        if (fit.curve && !fit.missed) {
            choice.curve = fit.curve;
            choice.bytes = fit.bytes;
            choice.error = fit.error;
        } else if (fit.curve) {
            OrvaneFreeCurve(fit.curve);
        }
    }

    // The fitted formats, each at every allowed degree on knots chosen for it, by size.
    const bool diagonal = component == 2 && DiagonalWithin(samples, count, tolerance, false);
    const bool uniform = diagonal && DiagonalWithin(samples, count, tolerance, true);
    const int* candidates = component == 0   ? kPositionFormats
                            : component == 1 ? kOrientationFormats
                                             : kScaleShearFormats;
    const int candidateCount = component == 0   ? int(sizeof kPositionFormats / sizeof(int))
                               : component == 1 ? int(sizeof kOrientationFormats / sizeof(int))
                                                : int(sizeof kScaleShearFormats / sizeof(int));
    // The bend allowed halfway between frames, except next to a cut, which the samples'
    // straight path crosses and smooth paths do not describe.
    const float cut = JumpThreshold(work, samples, dimension, tolerance);
    for (int32_t j = 1; j < count; ++j) {
        bool nearCut = false;
        for (int32_t i = j - 2 > 0 ? j - 2 : 0; i < j + 1 && i + 1 < count; ++i)
            nearCut = nearCut || Distance(dimension, samples + size_t(i) * size_t(dimension),
                                          samples + size_t(i + 1) * size_t(dimension)) > cut;
        work.midBend[j] = nearCut ? 0.0f : MidpointBend(samples, count, dimension, j);
    }
    float* seeds = work.chosenKnots;
    for (int degree = 1; degree <= 3; ++degree) {
        if (!Allowed(degrees, degree)) continue;
        bool missed[OrvaneCurveFormatCount] = {};
        for (int f = 0; f < candidateCount; ++f) {
            const int format = candidates[f];
            if (format == OrvaneCurveFormatDaK32fC32f || !Allowed(formats, format)) continue;
            if ((format == OrvaneCurveFormatD9I1K8uC8u ||
                 format == OrvaneCurveFormatD9I1K16uC16u) &&
                !uniform)
                continue;
            if ((format == OrvaneCurveFormatD9I3K8uC8u ||
                 format == OrvaneCurveFormatD9I3K16uC16u) &&
                !diagonal)
                continue;
            if (SixteenBitSibling(format) != format && missed[SixteenBitSibling(format)]) continue;
            const float grid = float(count - 1) / (KnotTimeBytes(format) == 1 ? 255.0f : 65535.0f);
            const float dense = 2.0f * grid > 1.0f / 128.0f ? 2.0f * grid : 1.0f / 128.0f;
            const int32_t kept =
                SeedKnots(work, samples, dimension, degree, tolerance, dense, seeds);
            missed[format] = FitOnFrames(work, component, format, degree, samples, tolerance,
                                         midTolerance, kept, seeds, &choice) == FitEnd::Missed;
        }
    }
    if (choice.curve) return choice;
    // The plain-float fallback, when no quantised format holds.
    if (Allowed(formats, OrvaneCurveFormatDaK32fC32f)) {
        for (int degree = 1; degree <= 3; ++degree) {
            if (!Allowed(degrees, degree)) continue;
            const int32_t kept =
                SeedKnots(work, samples, dimension, degree, tolerance, 1.0f / 128.0f, seeds);
            FitOnFrames(work, component, OrvaneCurveFormatDaK32fC32f, degree, samples, tolerance,
                        midTolerance, kept, seeds, &choice);
        }
        if (choice.curve) return choice;
    }

    // Nothing held: every sample as a knot of a polyline reproduces them exactly.
    choice.curve =
        Encode(OrvaneCurveFormatDaK32fC32f, 1, dimension, count, work.frameTimes, samples);
    choice.exact = true;
    if (choice.curve) choice.bytes = DataBytes(choice.curve);
    return choice;
}

Choice ExactCurve(Work& work, int component, const float* samples) {
    Choice choice;
    choice.curve = Encode(OrvaneCurveFormatDaK32fC32f, 1, kDimensions[component], work.sampleCount,
                          work.frameTimes, samples);
    choice.exact = true;
    if (choice.curve) choice.bytes = DataBytes(choice.curve);
    return choice;
}

// The bone's local transforms from its three curves, at every frame and halfway between.
void EvaluateLocal(Work& work, Choice (&choices)[kComponents]) {
    for (int32_t h = 0; h < 2 * work.sampleCount - 1; ++h) {
        const float t = 0.5f * float(h) * work.timeStep;
        float values[kComponents][9];
        for (int k = 0; k < kComponents; ++k)
            OrvaneEvaluateCurveAtT(kDimensions[k], k == 1, false, choices[k].curve, false,
                                   work.duration, t, values[k], IdentityOf(k));
        OrvaneSetTransform(h & 1 ? &work.localMid[h / 2] : &work.local[h / 2], values[0], values[1],
                           values[2]);
    }
}

// The middle of the samples' bounding box (orientations on the first one's side, then
// normalised) into value; returns the largest distance of a sample from it.
float StillValue(const float* samples, int32_t count, int dimension, bool quaternion,
                 float* value) {
    const size_t D = size_t(dimension);
    float low[9] = {}, high[9] = {};
    for (int32_t f = 0; f < count; ++f) {
        float v[9];
        Copy32(D, samples + size_t(f) * D, v);
        if (quaternion &&
            v[0] * samples[0] + v[1] * samples[1] + v[2] * samples[2] + v[3] * samples[3] < 0.0f)
            for (int c = 0; c < 4; ++c)
                v[c] = -v[c];
        for (size_t c = 0; c < D; ++c) {
            low[c] = f == 0 || v[c] < low[c] ? v[c] : low[c];
            high[c] = f == 0 || v[c] > high[c] ? v[c] : high[c];
        }
    }
    for (size_t c = 0; c < D; ++c)
        value[c] = 0.5f * (low[c] + high[c]);
    if (quaternion) {
        const float length = std::sqrt(value[0] * value[0] + value[1] * value[1] +
                                       value[2] * value[2] + value[3] * value[3]);
        if (!(length > 0.0f)) return 3.0e38f;
        for (int c = 0; c < 4; ++c)
            value[c] /= length;
    }
    float spread = 0.0f;
    for (int32_t f = 0; f < count; ++f) {
        const float* v = samples + size_t(f) * D;
        float d = Distance(dimension, v, value);
        if (quaternion) {
            float negated[4] = {-v[0], -v[1], -v[2], -v[3]};
            d = std::min(d, Distance(4, negated, value));
        }
        if (!(d <= spread)) spread = d;  // NaN too
    }
    return spread;
}

// The curve of a still component: the identity when the value is within tolerance of it,
// else the constant.
Choice StillCurve(int component, const float* value, float tolerance) {
    Choice choice;
    const int dimension = kDimensions[component];
    const float* identity = IdentityOf(component);
    float toIdentity = Distance(dimension, value, identity);
    if (component == 1) {
        const float negated[4] = {-value[0], -value[1], -value[2], -value[3]};
        toIdentity = std::min(toIdentity, Distance(4, negated, identity));
    }
    const float zero = 0.0f;
    const int constantFormat = dimension == 3   ? OrvaneCurveFormatD3Constant32f
                               : dimension == 4 ? OrvaneCurveFormatD4Constant32f
                                                : OrvaneCurveFormatDaConstant32f;
    choice.curve = toIdentity <= tolerance
                       ? Encode(OrvaneCurveFormatDaIdentity, 0, dimension, 0, nullptr, nullptr)
                       : Encode(constantFormat, 0, dimension, 1, &zero, value);
    if (choice.curve) choice.bytes = DataBytes(choice.curve);
    return choice;
}

// Largest scale the transform's linear part applies (the longest ScaleShear column).
float LinearScale(const orvane_transform& t) {
    float best = 0.0f;
    for (int c = 0; c < 3; ++c) {
        const float x = t.ScaleShear[0][c], y = t.ScaleShear[1][c], z = t.ScaleShear[2][c];
        const float length = std::sqrt(x * x + y * y + z * z);
        if (length > best) best = length;
    }
    return best;
}

bool AllFinite(const float* values, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (!std::isfinite(values[i])) return false;
    return true;
}

}  // namespace
}  // namespace compression
}  // namespace orvane

using namespace orvane;
using namespace orvane::compression;

extern "C" {

ORVANE_API void OrvaneGetDefaultAnimationCompressionOptions(
    orvane_animation_compression_options* Options) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Options, );
    Options->ErrorBudget = 0.01f;
    Options->ShellDistance = 3.0f;
    Options->AllowedFormats = 0xFFFFu & ~(1u << OrvaneCurveFormatDaKeyframes32f);
    Options->AllowedDegrees = (1u << 1) | (1u << 2) | (1u << 3);
    Options->Progress = nullptr;
    Options->ProgressUserData = nullptr;
    Options->BoneShellDistances = nullptr;
}

ORVANE_API orvane_track_group* OrvaneCompressAnimation(
    const orvane_skeleton* Skeleton, orvane_track_group_sampler* Samples, orvane_int32 SampleCount,
    orvane_real32 TimeStep, const char* Name, const orvane_animation_compression_options* Options,
    orvane_animation_compression_statistics* Statistics) {
    ORVANE_TIMING_BLOCK("CompressAnimation");
    if (Statistics) std::memset(Statistics, 0, sizeof *Statistics);
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Skeleton, nullptr);
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Samples, nullptr);
    orvane_animation_compression_options defaults;
    OrvaneGetDefaultAnimationCompressionOptions(&defaults);
    const orvane_animation_compression_options& options = Options ? *Options : defaults;
    const int32_t boneCount = Skeleton->BoneCount;
    if (boneCount < 0 || (boneCount > 0 && Skeleton->Bones == nullptr)) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "Skeleton has no bones to compress");
        return nullptr;
    }
    if (SampleCount < 2 || !(TimeStep > 0.0f) || !(options.ErrorBudget > 0.0f) ||
        !(options.ShellDistance >= 0.0f)) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin,
                         "SampleCount %d, TimeStep and ErrorBudget must be at least 2 and above 0",
                         int(SampleCount));
        return nullptr;
    }
    if (!ParentsPrecede(Skeleton->Bones, 0, boneCount, OrvaneAnimationOrigin)) return nullptr;
    if (options.BoneShellDistances) {
        for (int32_t b = 0; b < boneCount; ++b) {
            const float d = options.BoneShellDistances[b];
            if (!(d >= 0.0f) || !std::isfinite(d)) {
                ORVANE_LOG_ERROR(OrvaneAnimationOrigin,
                                 "BoneShellDistances[%d] is not a distance of at least 0", int(b));
                return nullptr;
            }
        }
    }
    for (int32_t b = 0; b < boneCount; ++b) {
        const orvane_bone& bone = Skeleton->Bones[b];
        if (bone.Name == nullptr) {
            ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "Bone %d has no name to name its track",
                             int(b));
            return nullptr;
        }
        const float* p = OrvaneGetPositionSamples(Samples, b);
        const float* q = OrvaneGetOrientationSamples(Samples, b);
        const float* s = OrvaneGetScaleShearSamples(Samples, b);
        if (p == nullptr || q == nullptr || s == nullptr) return nullptr;
        if (!AllFinite(p, size_t(SampleCount) * 3) || !AllFinite(q, size_t(SampleCount) * 4) ||
            !AllFinite(s, size_t(SampleCount) * 9)) {
            ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "Samples of bone %d are not finite", int(b));
            return nullptr;
        }
    }

    Work work{};
    work.boneCount = boneCount;
    work.sampleCount = SampleCount;
    work.timeStep = TimeStep;
    work.duration = float(SampleCount - 1) * TimeStep;
    work.solver = OrvaneAllocateBSplineSolver(3, SampleCount, 9);
    if (work.solver == nullptr) return nullptr;
    const int32_t maxKnots = OrvaneGetMaximumKnotCountForSampleCount(3, SampleCount);
    const size_t frames = size_t(boneCount) * size_t(SampleCount);
    // A fit's knots: at most one per frame, a few at the start, and degree copies around cuts.
    const size_t knotCapacity = 3 * size_t(SampleCount) + 8;
    // (Sized before the block: sizing a curve lays it out as an aggregate of its own.)
    {
        orvane_curve_builder sizing;
        work.curveBufferSize = InitializeCurveBuilder(&sizing, OrvaneCurveDataDaK32fC32fType, 3, 9,
                                                      int32_t(knotCapacity))
                                   ? OrvaneGetResultingCurveDataSize(&sizing)
                                   : 0;
    }
    SetAggregateAlignment(16);
    AggregateAllocate(&work.rawObject, frames * sizeof(orvane_transform));
    AggregateAllocate(&work.compObject, frames * sizeof(orvane_transform));
    AggregateAllocate(&work.local, size_t(SampleCount) * sizeof(orvane_transform));
    for (int k = 0; k < kComponents; ++k)
        AggregateAllocate(&work.target[k],
                          size_t(SampleCount) * size_t(kDimensions[k]) * sizeof(float));
    AggregateAllocate(&work.controls, size_t(maxKnots) * 9 * sizeof(float));
    AggregateAllocate(&work.ranks, size_t(maxKnots) * sizeof(float));
    AggregateAllocate(&work.frameTimes, size_t(SampleCount) * sizeof(float));
    AggregateAllocate(&work.lineKnots, size_t(SampleCount) * sizeof(float));
    AggregateAllocate(&work.lineControls, size_t(SampleCount) * 9 * sizeof(float));
    AggregateAllocate(&work.chosenKnots, knotCapacity * sizeof(float));
    const size_t mids = size_t(SampleCount - 1);
    AggregateAllocate(&work.rawMid, size_t(boneCount) * mids * sizeof(orvane_transform));
    AggregateAllocate(&work.compMid, size_t(boneCount) * mids * sizeof(orvane_transform));
    AggregateAllocate(&work.localMid, mids * sizeof(orvane_transform));
    for (int k = 0; k < kComponents; ++k)
        AggregateAllocate(&work.midTarget[k], mids * size_t(kDimensions[k]) * sizeof(float));
    AggregateAllocate(&work.midBend, size_t(SampleCount) * sizeof(float));
    AggregateAllocate(&work.shellPoints, size_t(SampleCount) * 9 * sizeof(float));
    AggregateAllocate(&work.shellBend, size_t(SampleCount) * sizeof(float));
    AggregateAllocate(&work.frameErrors, frames * sizeof(float));
    AggregateAllocate(&work.subtreeReach, size_t(boneCount) * sizeof(float));
    AggregateAllocate(&work.still, size_t(boneCount));
    AggregateAllocate(&work.stillValues, size_t(boneCount) * 16 * sizeof(float));
    AggregateAllocate(&work.stillReach, size_t(boneCount) * sizeof(float));
    AggregateAllocate(&work.fitKnots, knotCapacity * sizeof(float));
    AggregateAllocate(&work.newKnots, knotCapacity * sizeof(float));
    AggregateAllocate(&work.encodeKnots, knotCapacity * sizeof(float));
    // Room for the extension past both ends.
    AggregateAllocate(&work.storedKnots, (knotCapacity + 10) * sizeof(float));
    AggregateAllocate(&work.decoded, knotCapacity * 9 * sizeof(float));
    AggregateAllocate(&work.failed, knotCapacity);
    AggregateAllocate(&work.curveBuffer,
                      size_t(work.curveBufferSize > 0 ? work.curveBufferSize : 4));
    void* block = ORVANE_AGGREGATE_END();
    if (block == nullptr) {
        OrvaneDeallocateBSplineSolver(work.solver);
        return nullptr;
    }
    for (int32_t f = 0; f < SampleCount; ++f)
        work.frameTimes[f] = float(f) * TimeStep;
    work.storedKnots += 5;
    work.scratch.CurveData = {nullptr, nullptr};

    // Object-space transforms from the samples.
    for (int32_t b = 0; b < boneCount; ++b) {
        const int32_t parent = Skeleton->Bones[b].ParentIndex;
        const float* p = OrvaneGetPositionSamples(Samples, b);
        const float* q = OrvaneGetOrientationSamples(Samples, b);
        const float* s = OrvaneGetScaleShearSamples(Samples, b);
        for (int32_t f = 0; f < SampleCount; ++f) {
            orvane_transform local;
            OrvaneSetTransform(&local, p + 3 * size_t(f), q + 4 * size_t(f), s + 9 * size_t(f));
            orvane_transform& object = work.rawObject[size_t(b) * size_t(SampleCount) + size_t(f)];
            if (parent < 0)
                object = local;
            else
                OrvaneMultiply(&object,
                               &work.rawObject[size_t(parent) * size_t(SampleCount) + size_t(f)],
                               &local);
        }
    }

    // Halfway between frames, the samples interpolated as playing them uncompressed would:
    // positions and scale/shear lerped, orientations lerped on the near side and normalised.
    for (int32_t b = 0; b < boneCount; ++b) {
        const int32_t parent = Skeleton->Bones[b].ParentIndex;
        const float* p = OrvaneGetPositionSamples(Samples, b);
        const float* q = OrvaneGetOrientationSamples(Samples, b);
        const float* s = OrvaneGetScaleShearSamples(Samples, b);
        for (int32_t f = 0; f + 1 < SampleCount; ++f) {
            float position[3], orientation[4], scaleShear[9];
            for (int c = 0; c < 3; ++c)
                position[c] = 0.5f * (p[3 * f + c] + p[3 * (f + 1) + c]);
            for (int c = 0; c < 9; ++c)
                scaleShear[c] = 0.5f * (s[9 * f + c] + s[9 * (f + 1) + c]);
            const float* q0 = q + 4 * size_t(f);
            const float* q1 = q0 + 4;
            const float sign =
                q0[0] * q1[0] + q0[1] * q1[1] + q0[2] * q1[2] + q0[3] * q1[3] < 0.0f ? -1.0f : 1.0f;
            float length = 0.0f;
            for (int c = 0; c < 4; ++c) {
                orientation[c] = 0.5f * (q0[c] + sign * q1[c]);
                length += orientation[c] * orientation[c];
            }
            const float inverse = length > 0.0f ? 1.0f / std::sqrt(length) : 0.0f;
            for (int c = 0; c < 4; ++c)
                orientation[c] *= inverse;
            if (!(length > 0.0f)) orientation[3] = 1.0f;
            orvane_transform local;
            OrvaneSetTransform(&local, position, orientation, scaleShear);
            orvane_transform& object = work.rawMid[size_t(b) * mids + size_t(f)];
            if (parent < 0)
                object = local;
            else
                OrvaneMultiply(&object, &work.rawMid[size_t(parent) * mids + size_t(f)], &local);
        }
    }

    // Per bone, the reach of its descendants and shell, and whether it is still: its local
    // transform moves its shell and descendants by a small share of the budget at most.
    const float budget = options.ErrorBudget;
    const float* shells = options.BoneShellDistances;
    for (int32_t b = 0; b < boneCount; ++b) {
        const float shell = shells ? shells[b] : options.ShellDistance;
        float reach = shell > 0.0f ? shell : 1.0f;
        for (int32_t d = b + 1; d < boneCount; ++d) {
            int32_t a = Skeleton->Bones[d].ParentIndex;
            while (a > b)
                a = Skeleton->Bones[a].ParentIndex;
            if (a != b) continue;
            const float descendantShell = shells ? shells[d] : options.ShellDistance;
            for (int32_t f = 0; f < SampleCount; ++f) {
                const float r =
                    Distance(3,
                             work.rawObject[size_t(d) * size_t(SampleCount) + size_t(f)].Position,
                             work.rawObject[size_t(b) * size_t(SampleCount) + size_t(f)].Position) +
                    descendantShell;
                if (r > reach) reach = r;
            }
        }
        work.subtreeReach[b] = reach;
        float* values = work.stillValues + 16 * size_t(b);
        const float p =
            StillValue(OrvaneGetPositionSamples(Samples, b), SampleCount, 3, false, values);
        const float q =
            StillValue(OrvaneGetOrientationSamples(Samples, b), SampleCount, 4, true, values + 3);
        const float s =
            StillValue(OrvaneGetScaleShearSamples(Samples, b), SampleCount, 9, false, values + 7);
        work.still[b] = Skeleton->Bones[b].ParentIndex >= 0 &&
                        Allowed(options.AllowedFormats, OrvaneCurveFormatDaIdentity) &&
                        Allowed(options.AllowedFormats, OrvaneCurveFormatD3Constant32f) &&
                        Allowed(options.AllowedFormats, OrvaneCurveFormatD4Constant32f) &&
                        Allowed(options.AllowedFormats, OrvaneCurveFormatDaConstant32f) &&
                        p + 2.0f * q * reach + s * reach <= kStillShare * budget;
        work.stillReach[b] = 0.0f;
    }
    // Children after their parents: each still bone's reach (its offset, then its shell or
    // its own still children) passes to its parent.
    for (int32_t b = boneCount - 1; b >= 0; --b) {
        const int32_t parent = Skeleton->Bones[b].ParentIndex;
        if (!work.still[b] || parent < 0) continue;
        const float shell = shells ? shells[b] : options.ShellDistance;
        const float* offset = work.stillValues + 16 * size_t(b);
        // Its children's origins too: it cannot make up for a turn there.
        float children = 0.0f;
        for (int32_t c = b + 1; c < boneCount; ++c) {
            if (Skeleton->Bones[c].ParentIndex != b) continue;
            const float* o = work.stillValues + 16 * size_t(c);
            children = std::max(children, std::sqrt(o[0] * o[0] + o[1] * o[1] + o[2] * o[2]));
        }
        const float reach =
            std::sqrt(offset[0] * offset[0] + offset[1] * offset[1] + offset[2] * offset[2]) +
            std::max(std::max(shell, children), work.stillReach[b]);
        work.stillReach[parent] = std::max(work.stillReach[parent], reach);
    }

    orvane_track_group_builder* builder = OrvaneBeginTrackGroup(Name, 0, boneCount, 0, false);
    if (builder == nullptr) {
        ORVANE_DEALLOCATE(block);
        OrvaneDeallocateBSplineSolver(work.solver);
        return nullptr;
    }
    float maxError = 0.0f;
    int32_t maxErrorBone = 0;
    int32_t curveBytes = 0;
    int32_t exactComponents = 0;
    int32_t missedBones = 0;
    int32_t plainFloatComponents = 0;
    for (int32_t b = 0; b < boneCount; ++b) {
        ORVANE_TIMING_BLOCK("CompressBone");
        const int32_t parent = Skeleton->Bones[b].ParentIndex;
        // The local targets that carry the compressed parent onto the raw object transform.
        float parentScale = 1.0f;
        float childReach = 0.0f;
        for (int32_t f = 0; f < SampleCount; ++f) {
            const orvane_transform& raw =
                work.rawObject[size_t(b) * size_t(SampleCount) + size_t(f)];
            orvane_transform target;
            if (parent < 0) {
                target = raw;
            } else {
                const orvane_transform& parentObject =
                    work.compObject[size_t(parent) * size_t(SampleCount) + size_t(f)];
                orvane_transform inverse;
                OrvaneBuildInverse(&inverse, &parentObject);
                OrvaneMultiply(&target, &inverse, &raw);
                const float scale = LinearScale(parentObject);
                if (scale > parentScale) parentScale = scale;
            }
            Copy32(3, target.Position, work.target[0] + 3 * size_t(f));
            Copy32(4, target.Orientation, work.target[1] + 4 * size_t(f));
            Copy32(9, &target.ScaleShear[0][0], work.target[2] + 9 * size_t(f));
            for (int32_t child = b + 1; child < boneCount; ++child) {
                if (Skeleton->Bones[child].ParentIndex != b) continue;
                const float* offset = OrvaneGetPositionSamples(Samples, child) + 3 * size_t(f);
                const float length = std::sqrt(offset[0] * offset[0] + offset[1] * offset[1] +
                                               offset[2] * offset[2]) *
                                     LinearScale(raw);
                if (length > childReach) childReach = length;
            }
        }
        // The raw orientation's hemisphere, then continuity from frame to frame.
        {
            const float* rawQ = OrvaneGetOrientationSamples(Samples, b);
            float* q = work.target[1];
            float dot = 0.0f;
            for (int c = 0; c < 4; ++c)
                dot += q[c] * rawQ[c];
            if (dot < 0.0f && parent < 0) {
                for (int c = 0; c < 4; ++c)
                    q[c] = -q[c];
            }
            OrvaneEnsureQuaternionContinuity(SampleCount, q);
        }
        // The targets halfway between frames, on the side of the frames' orientations.
        for (int32_t f = 0; f + 1 < SampleCount; ++f) {
            const orvane_transform& raw = work.rawMid[size_t(b) * mids + size_t(f)];
            orvane_transform target;
            if (parent < 0) {
                target = raw;
            } else {
                orvane_transform inverse;
                OrvaneBuildInverse(&inverse, &work.compMid[size_t(parent) * mids + size_t(f)]);
                OrvaneMultiply(&target, &inverse, &raw);
            }
            const float* near = work.target[1] + 4 * size_t(f);
            const float dot = near[0] * target.Orientation[0] + near[1] * target.Orientation[1] +
                              near[2] * target.Orientation[2] + near[3] * target.Orientation[3];
            if (dot < 0.0f) {
                for (int c = 0; c < 4; ++c)
                    target.Orientation[c] = -target.Orientation[c];
            }
            Copy32(3, target.Position, work.midTarget[0] + 3 * size_t(f));
            Copy32(4, target.Orientation, work.midTarget[1] + 4 * size_t(f));
            Copy32(9, &target.ScaleShear[0][0], work.midTarget[2] + 9 * size_t(f));
        }
        const float shell = shells ? shells[b] : options.ShellDistance;
        const float lever = shell * parentScale;
        const float lengthLever = lever > 0.0f ? lever : 1.0f;
        // The farthest reach of the bone's descendants (and its shell) from its origin.
        const float subtreeReach = work.subtreeReach[b];
        // Between frames, the bone answers for what it adds to what its parents left: the
        // error that curves through its targets on every frame would leave there.
        ShellBends(work, b, shell);
        StraightMidLocals(work);
        const float reachable = MidError(work, Skeleton, Samples, b, shell);
        const float midBudget =
            reachable + 0.1f * budget > budget ? reachable + 0.1f * budget : budget;
        // With compact curves, whose depths come down to what the frames allow, the shell
        // halfway between frames stays as close to the samples interpolated as the budget, or
        // as curves through the targets on every frame come there.
        const bool compact = Allowed(options.AllowedFormats, OrvaneCurveFormatDaCompact);
        const float driftBudget =
            compact ? std::max(budget, MidDrift(work, b, shell) + 0.1f * budget) : 3.0e38f;
        Choice choices[kComponents];
        bool accepted = false;
        float shellError = 0.0f;  // the bone's error at the three points, as measured
        float midError = 0.0f;    // and halfway between frames, beyond the bend there
        bool framesHeld = false;  // by the last curves tried
        // After the first tolerance that holds, the next one too: a tighter fit is sometimes
        // smaller (knots placed differently), and its children inherit less to make up for.
        Choice held[kComponents];
        int32_t heldBytes = 0;
        int stepsAfterHeld = 0;
        if (work.still[b]) {
            // The source's values, when the parents' rounding leaves the bone within budget
            // (they hold it at the bone's shell): no curve making up for them.
            const float* values = work.stillValues + 16 * size_t(b);
            const float reach = std::max(subtreeReach, 1.0f);
            choices[0] = StillCurve(0, values, kStillShare * budget);
            choices[1] = StillCurve(1, values + 3, kStillShare * budget / (2.0f * reach));
            choices[2] = StillCurve(2, values + 7, kStillShare * budget / reach);
            if (choices[0].curve && choices[1].curve && choices[2].curve) {
                EvaluateLocal(work, choices);
                const float atFrames =
                    BoneError(work, Skeleton, Samples, b, shell, &shellError, &midError);
                if (atFrames <= budget && midError <= midBudget) {
                    for (int c = 0; c < kComponents; ++c) {
                        held[c] = choices[c];
                        choices[c] = Choice{};
                    }
                    accepted = true;
                    stepsAfterHeld = 2;  // no fits
                }
            }
        }
        // The source holds the bone's offset from its parent still.
        bool fixedOffset = false;
        if (parent >= 0 && compact) {
            const float* offset = OrvaneGetPositionSamples(Samples, b);
            float spread = 0.0f;
            for (int32_t f = 1; f < SampleCount; ++f)
                spread = std::max(spread, Distance(3, offset, offset + 3 * size_t(f)));
            fixedOffset = spread <= kStillShare * budget;
        }
        for (int step = 0; step < kTightenSteps && stepsAfterHeld < 2; ++step) {
            if (accepted) ++stepsAfterHeld;
            if (stepsAfterHeld >= 2) break;
            const float k = kTighten[step];
            // Position and scale/shear first; the orientation takes what they leave of the
            // budget (a quaternion off by e turns by about 2e radians), at the shell and, for
            // a bone with children, at their origins: a child that keeps a constant offset
            // cannot make up for its parent's turn, which its offset magnifies.
            Release(choices[0]);
            float positionTolerance = k * 0.45f * budget / parentScale;
            // A fixed offset keeps its constant while the parent's turn moves it no more
            // than its bound at its children's origins allows (when compact curves may
            // stand for the rest: a curve that makes up for the parent's rounding costs
            // more than the orientation's deeper bits).
            if (fixedOffset && k >= kFixedOffsetSteps)
                positionTolerance =
                    std::max(positionTolerance, kFixedOffsetShare * budget / parentScale);
            choices[0] = ChooseCurve(work, 0, work.target[0], positionTolerance, positionTolerance,
                                     options.AllowedFormats, options.AllowedDegrees);
            Release(choices[2]);
            const float scaleTolerance = k * 0.1f * budget / lengthLever;
            choices[2] = ChooseCurve(work, 2, work.target[2], scaleTolerance, scaleTolerance,
                                     options.AllowedFormats, options.AllowedDegrees);
            const float used = choices[0].error * parentScale + choices[2].error * lever;
            float turn = (budget - used) / (2.0f * lengthLever);
            if (childReach > shell) {
                const float reach = childReach * parentScale;
                const float atChildren = (budget / kChildWeight - used) / (2.0f * reach);
                if (atChildren < turn) turn = atChildren;
            }
            const float floor = 0.05f * budget / (2.0f * lengthLever);
            if (turn < floor) turn = floor;
            Release(choices[1]);
            // Between frames no descendant makes up for the bone's turn: it must hold at the
            // farthest of them.
            float midTurn = (budget - used) / (2.0f * subtreeReach * parentScale);
            // Not below half the turn at the frames: the frames' tolerance already keeps
            // the children's origins; tighter still, the controls' rounding alone would
            // miss, and the bone's check halfway between frames measures what is left.
            if (midTurn < floor) midTurn = floor;
            if (midTurn < 0.5f * turn) midTurn = 0.5f * turn;
            if (midTurn > turn) midTurn = turn;
            float turnTolerance = k * 0.95f * turn;
            if (work.stillReach[b] > 0.0f) {
                // Still children keep the source's values: the bone holds at their shells and
                // their children's origins as at its own children's (less what the still ones
                // move themselves), at every step, down to the floor.
                const float atStill = ((1.0f - kStillShare) * budget / kChildWeight - used) /
                                      (2.0f * work.stillReach[b] * parentScale);
                turnTolerance = std::min(turnTolerance, 0.95f * std::max(atStill, floor));
            }
            choices[1] = ChooseCurve(work, 1, work.target[1], turnTolerance,
                                     std::min(k * 0.95f * midTurn, turnTolerance),
                                     options.AllowedFormats, options.AllowedDegrees);
            if (!choices[0].curve || !choices[1].curve || !choices[2].curve) break;
            EvaluateLocal(work, choices);
            const float atFrames =
                BoneError(work, Skeleton, Samples, b, shell, &shellError, &midError);
            const bool holds = atFrames <= budget && midError <= midBudget &&
                               (!compact || MidDrift(work, b, shell) <= driftBudget);
            framesHeld = atFrames <= budget;
            if (holds) {
                const int32_t bytes = choices[0].bytes + choices[1].bytes + choices[2].bytes;
                if (!accepted || bytes < heldBytes) {
                    for (int c = 0; c < kComponents; ++c) {
                        Release(held[c]);
                        held[c] = choices[c];
                        choices[c] = Choice{};
                    }
                    heldBytes = bytes;
                }
                accepted = true;
            }
        }
        if (accepted) {
            for (int c = 0; c < kComponents; ++c) {
                Release(choices[c]);
                choices[c] = held[c];
                held[c] = Choice{};
            }
            // The object transforms of the curves kept.
            EvaluateLocal(work, choices);
            BoneError(work, Skeleton, Samples, b, shell, &shellError, &midError);
            // Compact curves at the depths the bone's own error allows, the orientation
            // first (it moves the shell most). Not the turn or the scale of a bone with still
            // children, which hold it at their reach.
            // The lowered depths bring the error up to the budget at many frames: they keep a
            // margin for the last bits that other ways of evaluating the pose may differ by.
            const float lowered = kLoweredShare * budget;
            for (int c : {1, 0, 2}) {
                if (!IsCompact(choices[c].curve) || (c != 0 && work.stillReach[b] > 0.0f)) continue;
                orvane_curve2* lower =
                    LowerCompactDepths(work, Skeleton, Samples, b, shell, c, choices[c].curve,
                                       lowered, midBudget, driftBudget);
                if (lower == nullptr) continue;
                Choice before = choices[c];
                choices[c].curve = lower;
                choices[c].bytes = DataBytes(lower);
                EvaluateLocal(work, choices);
                float lowerShell = 0.0f, lowerMid = 0.0f;
                const float atFrames =
                    BoneError(work, Skeleton, Samples, b, shell, &lowerShell, &lowerMid);
                if (atFrames <= lowered && lowerMid <= midBudget &&
                    MidDrift(work, b, shell) <= driftBudget && choices[c].bytes < before.bytes) {
                    Release(before);
                    shellError = lowerShell;
                    midError = lowerMid;
                } else {
                    OrvaneFreeCurve(lower);
                    choices[c] = before;
                    EvaluateLocal(work, choices);
                    BoneError(work, Skeleton, Samples, b, shell, &shellError, &midError);
                }
            }
        }
        // Curves that hold the frames but swing between them past the budget at every
        // tolerance are kept (the tightest); curves that miss the frames give way to the
        // samples themselves.
        if (!accepted && !framesHeld) {
            for (int c = 0; c < kComponents; ++c) {
                Release(choices[c]);
                choices[c] = ExactCurve(work, c, work.target[c]);
            }
            if (choices[0].curve && choices[1].curve && choices[2].curve) {
                EvaluateLocal(work, choices);
                BoneError(work, Skeleton, Samples, b, shell, &shellError, &midError);
            }
        }
        if (!accepted && framesHeld) ++missedBones;
        if (!choices[0].curve || !choices[1].curve || !choices[2].curve) {
            for (auto& choice : choices)
                Release(choice);
            ORVANE_DEALLOCATE(block);
            OrvaneDeallocateBSplineSolver(work.solver);
            // An unended builder still owns its arena: end it and drop the result.
            OrvaneFreeBuilderResult(OrvaneEndTrackGroup(builder));
            return nullptr;
        }
        if (shellError > maxError) {
            maxError = shellError;
            maxErrorBone = b;
        }
        OrvaneBeginTransformTrack(builder, Skeleton->Bones[b].Name);
        OrvaneSetTransformTrackPositionCurve(builder, choices[0].curve);
        OrvaneSetTransformTrackOrientationCurve(builder, choices[1].curve);
        OrvaneSetTransformTrackScaleShearCurve(builder, choices[2].curve);
        OrvaneEndTransformTrack(builder);
        for (auto& choice : choices) {
            curveBytes += choice.bytes;
            exactComponents += choice.exact ? 1 : 0;
            plainFloatComponents += OrvaneCurveIsTypeDaK32fC32f(choice.curve) ? 1 : 0;
            Release(choice);
        }
        if (options.Progress) options.Progress(b + 1, boneCount, options.ProgressUserData);
    }
    // The spread of the errors over every bone and frame.
    double errorSum = 0.0;
    for (size_t i = 0; i < frames; ++i)
        errorSum += double(work.frameErrors[i]);
    float p99 = 0.0f;
    if (frames > 0) {
        const size_t rank = frames * 99 / 100 < frames ? frames * 99 / 100 : frames - 1;
        std::nth_element(work.frameErrors, work.frameErrors + rank, work.frameErrors + frames);
        p99 = work.frameErrors[rank];
    }
    const int32_t groupBytes = OrvaneGetResultingTrackGroupSize(builder);
    orvane_track_group* group = OrvaneEndTrackGroup(builder);
    ORVANE_DEALLOCATE(block);
    OrvaneDeallocateBSplineSolver(work.solver);
    if (group && Statistics) {
        Statistics->MaxError = maxError;
        Statistics->MaxErrorBone = maxErrorBone;
        Statistics->CurveDataBytes = curveBytes;
        Statistics->TrackGroupBytes = groupBytes;
        Statistics->ExactComponents = exactComponents;
        Statistics->PlainFloatComponents = plainFloatComponents;
        Statistics->BonesMissedBetweenFrames = missedBones;
        Statistics->P99Error = p99;
        Statistics->MeanError = frames > 0 ? float(errorSum / double(frames)) : 0.0f;
    }
    return group;
}

}  // extern "C"

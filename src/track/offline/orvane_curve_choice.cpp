// The animation compressor's choice of one component's curve: the identity, a constant, the
// compact format, or a B-spline fitted on knots at frames in the smallest format and degree
// that holds the targets within tolerance at the frames and halfway between them; the exact
// polyline through the samples when nothing holds.
#include "track/offline/orvane_curve_choice.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "core/orvane_memory.h"
#include "curve/orvane_bspline.h"
#include "curve/orvane_compact_curve.h"
#include "curve/orvane_curve.h"
#include "curve/orvane_packed_constants.h"
#include "curve/offline/orvane_compact_fit.h"
#include "curve/offline/orvane_curve_fitter.h"
#include "diag/orvane_timing.h"
#include "orvane/bspline.h"
#include "orvane/curve_builder.h"
#include "orvane/fit.h"

namespace orvane {
namespace compression {
namespace {

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
    static orvane_data_type_definition* const* const types[OrvaneCurveFormatTableSize] = {
        &OrvaneCurveDataDaKeyframes32fType, &OrvaneCurveDataDaK32fC32fType,
        &OrvaneCurveDataDaIdentityType,     &OrvaneCurveDataDaConstant32fType,
        &OrvaneCurveDataD3Constant32fType,  &OrvaneCurveDataD4Constant32fType,
        &OrvaneCurveDataDaK16uC16uType,     &OrvaneCurveDataDaK8uC8uType,
        &OrvaneCurveDataD4nK16uC15uType,    &OrvaneCurveDataD4nK8uC7uType,
        &OrvaneCurveDataD3K16uC16uType,     &OrvaneCurveDataD3K8uC8uType,
        &OrvaneCurveDataD9I1K16uC16uType,   &OrvaneCurveDataD9I3K16uC16uType,
        &OrvaneCurveDataD9I1K8uC8uType,     &OrvaneCurveDataD9I3K8uC8uType,
        &OrvaneCurveDataDaCompactType,      &OrvaneCurveDataD3Constant14sType,
        &OrvaneCurveDataD4nConstant15uType};
    return *types[format];
}

// The constant format of the dimension.
int ConstantFormat(int dimension) {
    return dimension == 3   ? OrvaneCurveFormatD3Constant32f
           : dimension == 4 ? OrvaneCurveFormatD4Constant32f
                            : OrvaneCurveFormatDaConstant32f;
}

// A curve of the format from its knots and controls (either null for none), or null.
orvane_curve2* Encode(int format, int degree, int dimension, int32_t knotCount, const float* knots,
                      const float* controls) {
    orvane_curve_builder* builder =
        OrvaneBeginCurve(FormatType(format), degree, dimension, knotCount);
    if (builder == nullptr) return nullptr;
    if (knots) OrvanePushCurveKnotArray(builder, knots);
    if (controls) OrvanePushCurveControlArray(builder, controls);
    return OrvaneEndCurve(builder);
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
            best->bytes = ChoiceBytes(curve);
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

}  // namespace

const float* IdentityOf(int component) {
    return component == 0   ? OrvaneCurveIdentityPosition
           : component == 1 ? OrvaneCurveIdentityOrientation
                            : OrvaneCurveIdentityScaleShear;
}

void Release(Choice& choice) {
    if (choice.curve) OrvaneFreeCurve(choice.curve);
    choice = Choice{};
}

bool IsCompact(const orvane_curve2* curve) {
    return curve && curve->CurveData.Object &&
           *static_cast<const uint8_t*>(curve->CurveData.Object) == OrvaneCurveFormatDaCompact;
}

int32_t DataBytes(const orvane_curve2* curve) {
    orvane_curve_builder* builder = OrvaneBeginCurveCopy(curve);
    if (builder == nullptr) return 0;
    const int32_t bytes = OrvaneGetResultingCurveDataSize(builder);
    OrvaneAbortCurveBuilder(builder);
    return bytes;
}

int32_t ChoiceBytes(const orvane_curve2* curve) {
    int32_t bytes = DataBytes(curve);
    if (IsCompact(curve)) {
        const auto* r = static_cast<const DaCompact*>(curve->CurveData.Object);
        bytes += int32_t(CompactLayoutSaving(r->Layout, r->Packing, r->Dimension, r->KnotCount,
                                             r->SegmentLength));
    }
    return bytes;
}

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
            choice.bytes = ChoiceBytes(choice.curve);
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
    auto worstFrom = [&](const float* value) {
        float worst = 0.0f;
        for (int32_t i = 0; i < count; ++i) {
            const float d = Distance(dimension, samples + size_t(i) * size_t(dimension), value);
            if (!(d <= worst)) worst = d;
        }
        return worst;
    };
    float worstConstant = worstFrom(constant);
    // Another bone's constant that holds as well (bones at the same rest values) shares its
    // record.
    float pooled[9];
    Copy32(size_t(dimension), constant, pooled);
    if (worstConstant <= tolerance &&
        SnapToPool(work, dimension, tolerance - worstConstant, pooled)) {
        const float worst = worstFrom(pooled);
        if (worst <= tolerance) {
            Copy32(size_t(dimension), pooled, constant);
            worstConstant = worst;
        }
    }
    // The constant in the format, its error worst: the choice, unless the curve cannot be made.
    auto takeConstant = [&](int format, float worst) {
        const float zero = 0.0f;
        choice.curve = Encode(format, 0, dimension, 1, &zero, constant);
        if (choice.curve == nullptr) return false;
        choice.bytes = ChoiceBytes(choice.curve);
        choice.error = worst;
        return true;
    };
    if (worstConstant <= tolerance) {
        // In 8 bytes, when allowed and its rounding keeps within tolerance; else in floats.
        const int packedFormat = PackedConstantFormatFor(component, formats);
        if (packedFormat >= 0) {
            float packed[4];
            PackedValue(packedFormat, constant, packed);
            const float worst = worstFrom(packed);
            if (worst <= tolerance && takeConstant(packedFormat, worst)) return choice;
        }
        const int constantFormat = ConstantFormat(dimension);
        if (Allowed(formats, constantFormat) && takeConstant(constantFormat, worstConstant))
            return choice;
    }

    // The compact format, when asked for: a knot every frame or every few frames, each
    // segment's components at the smallest bit depths that hold. The fitted formats below
    // replace it where they are smaller (smooth motion that few knots describe).
    if (Allowed(formats, OrvaneCurveFormatDaCompact)) {
        CompactFit fit =
            FitCompactCurve(samples, count, dimension, component == 1, work.timeStep, tolerance);
        if (fit.curve && !fit.missed) {
            choice.curve = fit.curve;
            choice.bytes = ChoiceBytes(fit.curve);
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
    return ExactCurve(work, component, samples);
}

Choice ExactCurve(Work& work, int component, const float* samples) {
    Choice choice;
    choice.curve = Encode(OrvaneCurveFormatDaK32fC32f, 1, kDimensions[component], work.sampleCount,
                          work.frameTimes, samples);
    choice.exact = true;
    if (choice.curve) choice.bytes = ChoiceBytes(choice.curve);
    return choice;
}

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

bool SnapToPool(const Work& work, int dimension, float radius, float* value) {
    const float* nearest = nullptr;
    float best = radius;
    for (int32_t i = 0; i < work.poolCount; ++i) {
        const float* entry = work.pool + size_t(i) * kPoolStride;
        if (entry[0] != float(dimension)) continue;
        const float d = Distance(dimension, entry + 1, value);
        if (d <= best) {
            best = d;
            nearest = entry + 1;
        }
    }
    if (nearest == nullptr) return false;
    Copy32(size_t(dimension), nearest, value);
    return true;
}

void RememberConstant(Work& work, const orvane_curve2* curve) {
    if (curve == nullptr || curve->CurveData.Object == nullptr) return;
    const void* data = curve->CurveData.Object;
    const uint8_t format = *static_cast<const uint8_t*>(data);
    const float* values = nullptr;
    int dimension = 0;
    if (format == OrvaneCurveFormatD3Constant32f) {
        values = static_cast<const orvane_curve_data_d3_constant32f*>(data)->Controls;
        dimension = 3;
    } else if (format == OrvaneCurveFormatD4Constant32f) {
        values = static_cast<const orvane_curve_data_d4_constant32f*>(data)->Controls;
        dimension = 4;
    } else if (format == OrvaneCurveFormatDaConstant32f) {
        const auto* r = static_cast<const orvane_curve_data_da_constant32f*>(data);
        values = r->Controls;
        dimension = r->ControlCount;
    }
    float decoded[4];
    if (format == OrvaneCurveFormatD3Constant14s || format == OrvaneCurveFormatD4nConstant15u) {
        DecodePackedConstant(data, format, decoded);
        values = decoded;
        dimension = format == OrvaneCurveFormatD3Constant14s ? 3 : 4;
    }
    if (values == nullptr || dimension < 1 || dimension > kPoolStride - 1 ||
        work.poolCount >= work.poolCapacity)
        return;
    for (int32_t i = 0; i < work.poolCount; ++i) {
        const float* entry = work.pool + size_t(i) * kPoolStride;
        if (entry[0] == float(dimension) &&
            std::memcmp(entry + 1, values, sizeof(float) * size_t(dimension)) == 0)
            return;
    }
    float* entry = work.pool + size_t(work.poolCount++) * kPoolStride;
    entry[0] = float(dimension);
    Copy32(size_t(dimension), values, entry + 1);
}

int PackedConstantFormatFor(int component, uint32_t formats) {
    const int format = component == 0   ? OrvaneCurveFormatD3Constant14s
                       : component == 1 ? OrvaneCurveFormatD4nConstant15u
                                        : -1;
    return format >= 0 && (Allowed(formats, format) || Allowed(formats, OrvaneCurveFormatDaCompact))
               ? format
               : -1;
}

void PackedValue(int format, const float* value, float* packed) {
    orvane_curve_data_d3_constant14s record{};
    record.CurveDataHeader.Format = uint8_t(format);
    if (format == OrvaneCurveFormatD3Constant14s)
        EncodeD3Constant14s(value, record.Words);
    else
        EncodeD4nConstant15u(value, record.Words);
    DecodePackedConstant(&record, format, packed);
}

Choice StillCurve(int component, const float* value, float tolerance, uint32_t formats,
                  float packTolerance) {
    Choice choice;
    const int dimension = kDimensions[component];
    const float* identity = IdentityOf(component);
    float toIdentity = Distance(dimension, value, identity);
    if (component == 1) {
        const float negated[4] = {-value[0], -value[1], -value[2], -value[3]};
        toIdentity = std::min(toIdentity, Distance(4, negated, identity));
    }
    const float zero = 0.0f;
    int constantFormat = ConstantFormat(dimension);
    const int packedFormat = PackedConstantFormatFor(component, formats);
    if (packedFormat >= 0) {
        float packed[4];
        PackedValue(packedFormat, value, packed);
        if (Distance(dimension, packed, value) <= packTolerance) constantFormat = packedFormat;
    }
    choice.curve = toIdentity <= tolerance
                       ? Encode(OrvaneCurveFormatDaIdentity, 0, dimension, 0, nullptr, nullptr)
                       : Encode(constantFormat, 0, dimension, 1, &zero, value);
    if (choice.curve) choice.bytes = ChoiceBytes(choice.curve);
    return choice;
}

}  // namespace compression
}  // namespace orvane

// A copy of the library's compressor before it solved on stored knots (see baseline.h).
// Animation compression: per bone, the smallest curves (identity, constant, or a fitted
// B-spline in the smallest format and degree that holds) that keep the bone within an
// object-space error budget, fitted to targets that make up for the ancestors' rounding.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "curve/orvane_bspline.h"
#include "curve/offline/baseline/baseline.h"
#include "track/orvane_content_checks.h"
#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "diag/orvane_timing.h"
#include "orvane/bspline.h"
#include "orvane/compress.h"
#include "orvane/curve_builder.h"
#include "orvane/fit.h"
#include "orvane/math.h"

namespace orvane_baseline {
using namespace orvane;
namespace {

constexpr int kComponents = 3;
constexpr int kDimensions[kComponents] = {3, 4, 9};
// Tolerance scales tried in turn when the assembled bone misses its budget.
constexpr float kTighten[] = {1.8f, 1.3f, 1.0f, 0.6f, 0.35f, 0.2f, 0.1f, 0.05f};
constexpr int kTightenSteps = int(sizeof kTighten / sizeof kTighten[0]);
// A bone's turn may move its children's origins by a 1 / kChildWeight share of the budget: a
// child that keeps a constant offset cannot make up for more.
constexpr float kChildWeight = 1.5f;

const float* IdentityOf(int component) {
    return component == 0   ? OrvaneCurveIdentityPosition
           : component == 1 ? OrvaneCurveIdentityOrientation
                            : OrvaneCurveIdentityScaleShear;
}

// Candidate fitted formats per component, smallest per knot first.
constexpr int kPositionFormats[] = {OrvaneCurveFormatD3K8uC8u, OrvaneCurveFormatDaK8uC8u,
                                    OrvaneCurveFormatD3K16uC16u, OrvaneCurveFormatDaK16uC16u,
                                    OrvaneCurveFormatDaK32fC32f};
constexpr int kOrientationFormats[] = {OrvaneCurveFormatD4nK8uC7u, OrvaneCurveFormatDaK8uC8u,
                                       OrvaneCurveFormatD4nK16uC15u, OrvaneCurveFormatDaK16uC16u,
                                       OrvaneCurveFormatDaK32fC32f};
constexpr int kScaleShearFormats[] = {OrvaneCurveFormatD9I1K8uC8u,   OrvaneCurveFormatD9I3K8uC8u,
                                      OrvaneCurveFormatD9I1K16uC16u, OrvaneCurveFormatD9I3K16uC16u,
                                      OrvaneCurveFormatDaK8uC8u,     OrvaneCurveFormatDaK16uC16u,
                                      OrvaneCurveFormatDaK32fC32f};

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

inline float Distance(int dimension, const float* a, const float* b) {
    float sum = 0.0f;
    for (int c = 0; c < dimension; ++c) {
        const float d = a[c] - b[c];
        sum += d * d;
    }
    return std::sqrt(sum);
}

// Working memory of one compression, one block.
struct Work {
    int32_t boneCount;
    int32_t sampleCount;
    float timeStep;
    float duration;
    baseline_bspline_solver* solver;
    orvane_transform* rawObject;   // boneCount x sampleCount
    orvane_transform* compObject;  // boneCount x sampleCount, filled bone by bone
    orvane_transform* local;       // sampleCount: the candidate's local transforms
    float* target[kComponents];    // sampleCount x dimension
    float* knots;                  // the solver's maximum knot count
    float* controls;               // maximum knot count x 9
    float* bestKnots;
    float* bestControls;
    float* frameTimes;    // sampleCount knots for the exact form
    float* lineKnots;     // sampleCount: the kept samples of the reduced polyline
    float* lineControls;  // sampleCount x 9
    float* chosenKnots;   // sampleCount + 3: knots in sample units for the least-squares solve
};

// A component's choice: an encoded curve (owned, from OrvaneEndCurve).
struct Choice {
    orvane_curve2* curve = nullptr;
    int32_t bytes = 0;
    float error = 0.0f;  // largest distance from the samples, at the frames
    bool exact = false;
};

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

// Largest distance between the curve, evaluated as the runtime does, and the samples.
float CurveError(const Work& work, int component, const orvane_curve2* curve,
                 const float* samples) {
    const int dimension = kDimensions[component];
    float worst = 0.0f;
    float value[9];
    for (int32_t f = 0; f < work.sampleCount; ++f) {
        OrvaneEvaluateCurveAtT(dimension, component == 1, false, curve, false, work.duration,
                               work.frameTimes[f], value, IdentityOf(component));
        const float d = Distance(dimension, value, samples + size_t(f) * size_t(dimension));
        if (d > worst) worst = d;
    }
    return worst;
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

// Steps between frames far above the clip's usual ones are cuts (a rest pose in front of a
// capture, a teleport): the fit breaks the curve there instead of smoothing over them.
float JumpThreshold(Work& work, const float* samples, int dimension, float tolerance) {
    const int32_t steps = work.sampleCount - 1;
    float* distances = work.bestKnots;  // free until a fit is kept
    for (int32_t i = 0; i < steps; ++i)
        distances[i] = Distance(dimension, samples + size_t(i) * size_t(dimension),
                                samples + size_t(i + 1) * size_t(dimension));
    const int32_t rank = steps * 9 / 10;
    std::nth_element(distances, distances + rank, distances + steps);
    const float usual = distances[rank];
    const float threshold = 8.0f * usual;
    return threshold > 20.0f * tolerance ? threshold : 20.0f * tolerance;
}

// The smallest curve that keeps the samples within tolerance: the identity, a constant, or
// a fit in the allowed formats and degrees; the exact polyline when nothing holds.
Choice ChooseCurve(Work& work, int component, const float* samples, float tolerance,
                   uint32_t formats, uint32_t degrees) {
    ORVANE_TIMING_BLOCK("CompressorChooseCurve");
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

    const int* candidates = component == 0   ? kPositionFormats
                            : component == 1 ? kOrientationFormats
                                             : kScaleShearFormats;
    const int candidateCount = component == 0   ? int(sizeof kPositionFormats / sizeof(int))
                               : component == 1 ? int(sizeof kOrientationFormats / sizeof(int))
                                                : int(sizeof kScaleShearFormats / sizeof(int));
    const float jump = JumpThreshold(work, samples, dimension, tolerance);
    const bool diagonal = component == 2 && DiagonalWithin(samples, count, tolerance, false);
    const bool uniform = diagonal && DiagonalWithin(samples, count, tolerance, true);
    int32_t bestBytes = 0;
    int bestFormat = -1, bestDegree = 0;
    int32_t bestCount = 0;
    for (int degree = 3; degree >= 1; --degree) {
        if (!Allowed(degrees, degree)) continue;
        for (int f = 0; f < candidateCount; ++f) {
            const int format = candidates[f];
            if (!Allowed(formats, format)) continue;
            if ((format == OrvaneCurveFormatD9I1K8uC8u ||
                 format == OrvaneCurveFormatD9I1K16uC16u) &&
                !uniform)
                continue;
            if ((format == OrvaneCurveFormatD9I3K8uC8u ||
                 format == OrvaneCurveFormatD9I3K16uC16u) &&
                !diagonal)
                continue;
            orvane_bool achieved = false;
            int32_t bytes = -1;
            const int32_t n = BaselineFitBSplineToSamples(
                work.solver, work.timeStep, count, samples,
                OrvaneFitDenseStartKnots | OrvaneFitBreakAtJumps, tolerance, jump, 0.0f, dimension,
                degree, FormatType(format), work.knots, work.controls,
                bestBytes > 0 ? bestBytes - 1 : 0, &achieved, &bytes);
            if (!achieved || n < 1 || bytes <= 0) continue;
            if (bestBytes == 0 || bytes < bestBytes) {
                bestBytes = bytes;
                bestFormat = format;
                bestDegree = degree;
                bestCount = n;
                Copy32(size_t(n), work.knots, work.bestKnots);
                Copy32(size_t(n) * size_t(dimension), work.controls, work.bestControls);
            }
        }
    }
    if (bestFormat >= 0) {
        choice.curve =
            Encode(bestFormat, bestDegree, dimension, bestCount, work.bestKnots, work.bestControls);
        if (choice.curve) {
            choice.bytes = DataBytes(choice.curve);
            choice.error = CurveError(work, component, choice.curve, samples);
        }
    }
    // The reduced polyline, in the smallest format whose rounding still holds; it keeps to
    // most of the tolerance so that the rounding has room.
    if (Allowed(degrees, 1)) {
        const int32_t kept = ReducePolyline(work, samples, dimension, 0.8f * tolerance);
        for (int f = 0; f < candidateCount && kept >= 2; ++f) {
            const int format = candidates[f];
            const bool reduced =
                format == OrvaneCurveFormatD9I1K8uC8u || format == OrvaneCurveFormatD9I1K16uC16u ||
                format == OrvaneCurveFormatD9I3K8uC8u || format == OrvaneCurveFormatD9I3K16uC16u;
            if (!Allowed(formats, format) || reduced) continue;
            orvane_curve2* line =
                Encode(format, 1, dimension, kept, work.lineKnots, work.lineControls);
            if (line == nullptr) continue;
            const int32_t bytes = DataBytes(line);
            if (choice.curve && bytes >= choice.bytes) {
                OrvaneFreeCurve(line);
                continue;
            }
            const float error = CurveError(work, component, line, samples);
            if (error > tolerance) {
                OrvaneFreeCurve(line);
                continue;
            }
            Release(choice);
            choice.curve = line;
            choice.bytes = bytes;
            choice.error = error;
            break;
        }
    }
    // Knots where a looser polyline keeps its samples, with the least-squares controls of
    // each allowed degree on them: where the refinement's midpoints cannot follow fast or
    // noisy motion, the polyline's knots sit where the motion turns.
    for (const float loosen : {4.0f, 2.5f, 1.6f, 1.0f}) {
        const int32_t kept = ReducePolyline(work, samples, dimension, loosen * tolerance);
        if (kept < 2) continue;
        for (int degree = 3; degree >= 1; --degree) {
            if (!Allowed(degrees, degree)) continue;
            // Times in sample units; above degree 1, degree - 1 knots early in the first
            // interval free the start from the clamped end's flat tangent.
            int32_t n = 0;
            work.chosenKnots[n++] = 0.0f;
            const float first = work.lineKnots[1] / work.timeStep;
            for (int j = 1; j < degree && first > 1.0f; ++j)
                work.chosenKnots[n++] = first * float(j) / float(degree + 1);
            for (int32_t i = 1; i < kept; ++i)
                work.chosenKnots[n++] = work.lineKnots[i] / work.timeStep;
            work.chosenKnots[n - 1] = float(count - 1);
            if (!BaselineSolveControlsForKnots(work.solver, count, samples, dimension, degree,
                                               work.chosenKnots, n, work.controls))
                continue;
            for (int32_t i = 0; i < n; ++i)
                work.knots[i] = work.chosenKnots[i] * work.timeStep;
            work.knots[n - 1] = work.duration;
            for (int f = 0; f < candidateCount; ++f) {
                const int format = candidates[f];
                const bool reduced = format == OrvaneCurveFormatD9I1K8uC8u ||
                                     format == OrvaneCurveFormatD9I1K16uC16u ||
                                     format == OrvaneCurveFormatD9I3K8uC8u ||
                                     format == OrvaneCurveFormatD9I3K16uC16u;
                if (!Allowed(formats, format) || reduced) continue;
                orvane_curve2* curve =
                    Encode(format, degree, dimension, n, work.knots, work.controls);
                if (curve == nullptr) continue;
                const int32_t bytes = DataBytes(curve);
                if (choice.curve && bytes >= choice.bytes) {
                    OrvaneFreeCurve(curve);
                    continue;
                }
                const float error = CurveError(work, component, curve, samples);
                if (error > tolerance) {
                    OrvaneFreeCurve(curve);
                    continue;
                }
                Release(choice);
                choice.curve = curve;
                choice.bytes = bytes;
                choice.error = error;
            }
        }
    }
    if (choice.curve) return choice;

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

// The bone's local transforms from its three curves, at every frame.
void EvaluateLocal(Work& work, Choice (&choices)[kComponents]) {
    for (int32_t f = 0; f < work.sampleCount; ++f) {
        const float t = float(f) * work.timeStep;
        float values[kComponents][9];
        for (int k = 0; k < kComponents; ++k)
            OrvaneEvaluateCurveAtT(kDimensions[k], k == 1, false, choices[k].curve, false,
                                   work.duration, t, values[k], IdentityOf(k));
        OrvaneSetTransform(&work.local[f], values[0], values[1], values[2]);
    }
}

// Largest object-space error of the bone over the frames at the three shell points, and at
// the origins of its children (weighed up, leaving the children a part of the budget: a
// child that stays constant cannot make up for more); the bone's compressed object transforms
// are written on the way.
float BoneError(Work& work, const orvane_skeleton* skeleton, orvane_track_group_sampler* samples,
                int32_t bone, float shell, float* worstShell) {
    const int32_t parent = skeleton->Bones[bone].ParentIndex;
    const size_t row = size_t(bone) * size_t(work.sampleCount);
    float worst = 0.0f, worstAtShell = 0.0f;
    for (int32_t f = 0; f < work.sampleCount; ++f) {
        orvane_transform& object = work.compObject[row + size_t(f)];
        if (parent < 0) {
            object = work.local[f];
        } else {
            OrvaneMultiply(&object,
                           &work.compObject[size_t(parent) * size_t(work.sampleCount) + size_t(f)],
                           &work.local[f]);
        }
        const orvane_transform& raw = work.rawObject[row + size_t(f)];
        for (int axis = 0; axis < 3; ++axis) {
            float point[3] = {0.0f, 0.0f, 0.0f};
            point[axis] = shell;
            float a[3], b[3];
            OrvaneTransformPoint(a, &object, point);
            OrvaneTransformPoint(b, &raw, point);
            const float e = Distance(3, a, b);
            if (e > worstAtShell) worstAtShell = e;
        }
        for (int32_t child = bone + 1; child < skeleton->BoneCount; ++child) {
            if (skeleton->Bones[child].ParentIndex != bone) continue;
            const float* offset = OrvaneGetPositionSamples(samples, child) + 3 * size_t(f);
            float a[3];
            OrvaneTransformPoint(a, &object, offset);
            const float* b =
                work.rawObject[size_t(child) * size_t(work.sampleCount) + size_t(f)].Position;
            const float e = kChildWeight * Distance(3, a, b);
            if (e > worst) worst = e;
        }
    }
    *worstShell = worstAtShell;
    return worst > worstAtShell ? worst : worstAtShell;
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
}  // namespace orvane_baseline

using namespace orvane_baseline;

extern "C" {

ORVANE_API void BaselineGetDefaultAnimationCompressionOptions(
    orvane_animation_compression_options* Options) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Options, );
    Options->ErrorBudget = 0.01f;
    Options->ShellDistance = 3.0f;
    Options->AllowedFormats = 0xFFFFu & ~(1u << OrvaneCurveFormatDaKeyframes32f);
    Options->AllowedDegrees = (1u << 1) | (1u << 2) | (1u << 3);
    Options->Progress = nullptr;
    Options->ProgressUserData = nullptr;
}

ORVANE_API orvane_track_group* BaselineCompressAnimation(
    const orvane_skeleton* Skeleton, orvane_track_group_sampler* Samples, orvane_int32 SampleCount,
    orvane_real32 TimeStep, const char* Name, const orvane_animation_compression_options* Options,
    orvane_animation_compression_statistics* Statistics) {
    ORVANE_TIMING_BLOCK("CompressAnimation");
    if (Statistics) std::memset(Statistics, 0, sizeof *Statistics);
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Skeleton, nullptr);
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Samples, nullptr);
    orvane_animation_compression_options defaults;
    BaselineGetDefaultAnimationCompressionOptions(&defaults);
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
    work.solver = BaselineAllocateBSplineSolver(3, SampleCount, 9);
    if (work.solver == nullptr) return nullptr;
    const int32_t maxKnots = BaselineGetMaximumKnotCountForSampleCount(3, SampleCount);
    const size_t frames = size_t(boneCount) * size_t(SampleCount);
    SetAggregateAlignment(16);
    AggregateAllocate(&work.rawObject, frames * sizeof(orvane_transform));
    AggregateAllocate(&work.compObject, frames * sizeof(orvane_transform));
    AggregateAllocate(&work.local, size_t(SampleCount) * sizeof(orvane_transform));
    for (int k = 0; k < kComponents; ++k)
        AggregateAllocate(&work.target[k],
                          size_t(SampleCount) * size_t(kDimensions[k]) * sizeof(float));
    AggregateAllocate(&work.knots, size_t(maxKnots) * sizeof(float));
    AggregateAllocate(&work.controls, size_t(maxKnots) * 9 * sizeof(float));
    AggregateAllocate(&work.bestKnots, size_t(maxKnots) * sizeof(float));
    AggregateAllocate(&work.bestControls, size_t(maxKnots) * 9 * sizeof(float));
    AggregateAllocate(&work.frameTimes, size_t(SampleCount) * sizeof(float));
    AggregateAllocate(&work.lineKnots, size_t(SampleCount) * sizeof(float));
    AggregateAllocate(&work.lineControls, size_t(SampleCount) * 9 * sizeof(float));
    AggregateAllocate(&work.chosenKnots, (size_t(SampleCount) + 4) * sizeof(float));
    void* block = ORVANE_AGGREGATE_END();
    if (block == nullptr) {
        BaselineDeallocateBSplineSolver(work.solver);
        return nullptr;
    }
    for (int32_t f = 0; f < SampleCount; ++f)
        work.frameTimes[f] = float(f) * TimeStep;

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

    orvane_track_group_builder* builder = OrvaneBeginTrackGroup(Name, 0, boneCount, 0, false);
    if (builder == nullptr) {
        ORVANE_DEALLOCATE(block);
        BaselineDeallocateBSplineSolver(work.solver);
        return nullptr;
    }
    const float budget = options.ErrorBudget;
    const float shell = options.ShellDistance;
    float maxError = 0.0f;
    int32_t maxErrorBone = 0;
    int32_t curveBytes = 0;
    int32_t exactComponents = 0;
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
        const float lever = shell * parentScale;
        const float lengthLever = lever > 0.0f ? lever : 1.0f;
        Choice choices[kComponents];
        bool accepted = false;
        float shellError = 0.0f;  // the bone's error at the three points, as measured
        for (int step = 0; step < kTightenSteps && !accepted; ++step) {
            const float k = kTighten[step];
            // Position and scale/shear first; the orientation takes what they leave of the
            // budget (a quaternion off by e turns by about 2e radians), at the shell and, for
            // a bone with children, at their origins: a child that keeps a constant offset
            // cannot make up for its parent's turn, which its offset magnifies.
            Release(choices[0]);
            choices[0] = ChooseCurve(work, 0, work.target[0], k * 0.45f * budget / parentScale,
                                     options.AllowedFormats, options.AllowedDegrees);
            Release(choices[2]);
            choices[2] = ChooseCurve(work, 2, work.target[2], k * 0.1f * budget / lengthLever,
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
            choices[1] = ChooseCurve(work, 1, work.target[1], k * 0.95f * turn,
                                     options.AllowedFormats, options.AllowedDegrees);
            if (!choices[0].curve || !choices[1].curve || !choices[2].curve) break;
            EvaluateLocal(work, choices);
            accepted = BoneError(work, Skeleton, Samples, b, shell, &shellError) <= budget;
        }
        if (!accepted) {
            for (int c = 0; c < kComponents; ++c) {
                Release(choices[c]);
                choices[c] = ExactCurve(work, c, work.target[c]);
            }
            if (choices[0].curve && choices[1].curve && choices[2].curve) {
                EvaluateLocal(work, choices);
                BoneError(work, Skeleton, Samples, b, shell, &shellError);
            }
        }
        if (!choices[0].curve || !choices[1].curve || !choices[2].curve) {
            for (auto& choice : choices)
                Release(choice);
            ORVANE_DEALLOCATE(block);
            BaselineDeallocateBSplineSolver(work.solver);
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
            Release(choice);
        }
        if (options.Progress) options.Progress(b + 1, boneCount, options.ProgressUserData);
    }
    const int32_t groupBytes = OrvaneGetResultingTrackGroupSize(builder);
    orvane_track_group* group = OrvaneEndTrackGroup(builder);
    ORVANE_DEALLOCATE(block);
    BaselineDeallocateBSplineSolver(work.solver);
    if (group && Statistics) {
        Statistics->MaxError = maxError;
        Statistics->MaxErrorBone = maxErrorBone;
        Statistics->CurveDataBytes = curveBytes;
        Statistics->TrackGroupBytes = groupBytes;
        Statistics->ExactComponents = exactComponents;
    }
    return group;
}

}  // extern "C"

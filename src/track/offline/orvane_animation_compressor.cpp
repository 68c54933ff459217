// Animation compression: per bone, the smallest curves (identity, constant, or a fitted
// B-spline in the smallest format and degree that holds) that keep the bone within an
// object-space error budget, fitted to targets that make up for the ancestors' rounding. Each
// component's curve is chosen by the compression's curve choice module
// (orvane_curve_choice.h); the budget is measured by its error module
// (orvane_compression_error.h).
#include <algorithm>
#include <cmath>
#include <cstring>

#include "curve/orvane_compact_curve.h"
#include "curve/orvane_curve.h"
#include "track/orvane_content_checks.h"
#include "track/offline/orvane_compression_error.h"
#include "track/offline/orvane_compression_work.h"
#include "track/offline/orvane_curve_choice.h"
#include "track/offline/orvane_subtree_lowering.h"
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
// A still bone takes another bone's constant within this share of its tolerance.
constexpr float kSnapShare = 0.2f;

// The curve data bytes of the group's transform tracks, each record once: the builder shares
// identity and constant records between curves (no other kind).
int32_t DistinctCurveBytes(const orvane_track_group& group) {
    int64_t bytes = 0;
    for (int32_t i = 0; i < group.TransformTrackCount; ++i) {
        const orvane_transform_track& t = group.TransformTracks[i];
        const orvane_curve2* curves[kComponents] = {&t.PositionCurve, &t.OrientationCurve,
                                                    &t.ScaleShearCurve};
        for (int c = 0; c < kComponents; ++c) {
            const void* record = curves[c]->CurveData.Object;
            if (record == nullptr) continue;
            const uint8_t format = *static_cast<const uint8_t*>(record);
            bool counted = false;
            if (format == OrvaneCurveFormatDaIdentity || IsConstantFormat(format)) {
                for (int32_t j = 0; j <= i && !counted; ++j) {
                    const orvane_transform_track& u = group.TransformTracks[j];
                    const void* earlier[kComponents] = {u.PositionCurve.CurveData.Object,
                                                        u.OrientationCurve.CurveData.Object,
                                                        u.ScaleShearCurve.CurveData.Object};
                    for (int k = 0; k < (j < i ? kComponents : c) && !counted; ++k)
                        counted = earlier[k] == record;
                }
            }
            if (!counted) bytes += DataBytes(curves[c]);
        }
    }
    return bytes > 0x7FFFFFFF ? 0x7FFFFFFF : int32_t(bytes);
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

// A bone whose offset from its parent the source holds still, whose position the step's
// choice made up for the parents' rounding with a moving curve: the source's offset kept as
// a constant instead, the orientation taking what that leaves of the budget (turnTolerances
// gives its tolerances for a use of the budget). It replaces the step's position and
// orientation when the bone then holds and either the step's choice did not or this one is
// smaller; choices' transforms and the bone's errors are then those of what is kept.
template <class TurnTolerances>
void TrySourceOffset(Work& work, const orvane_skeleton* skeleton,
                     orvane_track_group_sampler* samples, int32_t b, float shell, float budget,
                     float midBudget, float parentScale, float lever, const float* offset,
                     const TurnTolerances& turnTolerances,
                     const orvane_animation_compression_options& options,
                     Choice (&choices)[kComponents], bool* holds, bool* framesHeld,
                     float* shellError, float* midError) {
    auto spreadFrom = [&](const float* value) {
        float spread = 0.0f;
        for (int32_t f = 0; f < work.sampleCount; ++f)
            spread = std::max(spread, Distance(3, work.target[0] + 3 * size_t(f), value));
        return spread;
    };
    float spread = spreadFrom(offset);
    // The offset in 8 bytes when the formats allow it and its rounding costs next to nothing.
    float packTolerance = 0.0f;
    const int packedFormat = PackedConstantFormatFor(0, options.AllowedFormats);
    if (packedFormat >= 0) {
        float packed[3];
        PackedValue(packedFormat, offset, packed);
        const float packedSpread = spreadFrom(packed);
        if ((packedSpread - spread) * parentScale <= 0.02f * budget) {
            spread = packedSpread;
            packTolerance = INFINITY;
        }
    }
    const float used = spread * parentScale + choices[2].error * lever;
    if (!(used < 0.9f * budget)) return;
    Choice alternative[kComponents];
    alternative[0] = StillCurve(0, offset, spread, options.AllowedFormats, packTolerance);
    alternative[0].error = spread;
    if (alternative[0].curve == nullptr) return;
    float turn = 0.0f, midTurn = 0.0f;
    turnTolerances(used, &turn, &midTurn);
    alternative[1] = ChooseCurve(work, 1, work.target[1], turn, midTurn, options.AllowedFormats,
                                 options.AllowedDegrees);
    alternative[2] = choices[2];
    const int32_t bytes = choices[0].bytes + choices[1].bytes + choices[2].bytes;
    const int32_t alternativeBytes =
        alternative[0].bytes + alternative[1].bytes + alternative[2].bytes;
    if (alternative[1].curve != nullptr && !alternative[1].exact &&
        (!*holds || alternativeBytes < bytes)) {
        EvaluateLocal(work, alternative);
        float alternativeShell = 0.0f, alternativeMid = 0.0f;
        const float atFrames =
            BoneError(work, skeleton, samples, b, shell, &alternativeShell, &alternativeMid);
        if (atFrames <= budget && alternativeMid <= midBudget) {
            std::swap(choices[0], alternative[0]);
            std::swap(choices[1], alternative[1]);
            *shellError = alternativeShell;
            *midError = alternativeMid;
            *holds = true;
            *framesHeld = true;
        } else {
            EvaluateLocal(work, choices);
            BoneError(work, skeleton, samples, b, shell, shellError, midError);
        }
    }
    alternative[2] = Choice{};
    Release(alternative[0]);
    Release(alternative[1]);
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
    // What the pass over whole subtrees needs of every bone (only with compact curves), and
    // the chosen curves until it has run.
    const bool compact = Allowed(options.AllowedFormats, OrvaneCurveFormatDaCompact);
    const size_t kept = compact ? size_t(boneCount) : 0;
    AggregateAllocate(&work.targetAll, kept * size_t(SampleCount) * 16 * sizeof(float));
    AggregateAllocate(&work.localAll, kept * size_t(SampleCount) * sizeof(orvane_transform));
    AggregateAllocate(&work.localMidAll, kept * mids * sizeof(orvane_transform));
    AggregateAllocate(&work.bendAll, kept * size_t(SampleCount) * sizeof(float));
    AggregateAllocate(&work.shells, size_t(boneCount) * sizeof(float));
    AggregateAllocate(&work.midBudgets, size_t(boneCount) * sizeof(float));
    AggregateAllocate(&work.driftBudgets, size_t(boneCount) * sizeof(float));
    orvane_curve2** curves;
    uint8_t* exact;
    AggregateAllocate(&curves, size_t(boneCount) * kComponents * sizeof(orvane_curve2*));
    AggregateAllocate(&exact, size_t(boneCount) * kComponents);
    work.poolCapacity = boneCount * kComponents;
    AggregateAllocate(&work.pool, size_t(work.poolCapacity) * kPoolStride * sizeof(float));
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
    std::fill(curves, curves + size_t(boneCount) * kComponents, nullptr);
    // Frees the chosen curves and the working memory.
    auto release = [&] {
        for (size_t i = 0; i < size_t(boneCount) * kComponents; ++i)
            if (curves[i]) OrvaneFreeCurve(curves[i]);
        ORVANE_DEALLOCATE(block);
        OrvaneDeallocateBSplineSolver(work.solver);
    };

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

    int32_t missedBones = 0;
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
        if (compact) {
            for (int c = 0; c < kComponents; ++c)
                Copy32(size_t(SampleCount) * size_t(kDimensions[c]), work.target[c],
                       TargetOf(work, b, c));
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
        if (compact)
            Copy32(size_t(SampleCount), work.shellBend, work.bendAll + size_t(b) * SampleCount);
        StraightMidLocals(work);
        const float reachable = MidError(work, Skeleton, Samples, b, shell);
        const float midBudget =
            reachable + 0.1f * budget > budget ? reachable + 0.1f * budget : budget;
        // With compact curves, whose depths come down to what the frames allow, the shell
        // halfway between frames stays as close to the samples interpolated as the budget, or
        // as curves through the targets on every frame come there.
        const float driftBudget =
            compact ? std::max(budget, MidDrift(work, b, shell) + 0.1f * budget) : 3.0e38f;
        work.shells[b] = shell;
        work.midBudgets[b] = midBudget;
        work.driftBudgets[b] = driftBudget;
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
            // (Near another bone's constants, theirs: one record serves both.)
            const float reach = std::max(subtreeReach, 1.0f);
            const float tolerances[kComponents] = {kStillShare * budget,
                                                   kStillShare * budget / (2.0f * reach),
                                                   kStillShare * budget / reach};
            float values[16];
            Copy32(16, work.stillValues + 16 * size_t(b), values);
            SnapToPool(work, 3, kSnapShare * tolerances[0], values);
            SnapToPool(work, 4, kSnapShare * tolerances[1], values + 3);
            SnapToPool(work, 9, kSnapShare * tolerances[2], values + 7);
            // In 8 bytes first, when allowed, where the rounding keeps within the tolerance;
            // then, if that misses the budget, in floats.
            const float* still[kComponents] = {values, values + 3, values + 7};
            const bool packable = PackedConstantFormatFor(0, options.AllowedFormats) >= 0;
            for (int attempt = packable ? 0 : 1; attempt < 2 && !accepted; ++attempt) {
                for (int c = 0; c < kComponents; ++c) {
                    Release(choices[c]);
                    choices[c] = StillCurve(c, still[c], tolerances[c], options.AllowedFormats,
                                            attempt == 0 ? tolerances[c] : -1.0f);
                }
                if (!choices[0].curve || !choices[1].curve || !choices[2].curve) break;
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
        // Without compact curves, the source's offset (the middle of its values), tried as a
        // constant against a curve that makes up for the parents' rounding.
        float sourceOffset[3] = {0.0f, 0.0f, 0.0f};
        bool sourceOffsetFixed = false;
        if (parent >= 0 && !compact) {
            const float* offset = OrvaneGetPositionSamples(Samples, b);
            const float spread = StillValue(offset, SampleCount, 3, false, sourceOffset);
            sourceOffsetFixed = spread <= kStillShare * budget;
        }
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
            // The orientation's tolerances at the frames and halfway between them for what
            // the position and scale/shear use of the budget.
            auto turnTolerances = [&](float used, float* atFrames, float* between) {
                float turn = (budget - used) / (2.0f * lengthLever);
                if (childReach > shell) {
                    const float reach = childReach * parentScale;
                    const float atChildren = (budget / kChildWeight - used) / (2.0f * reach);
                    if (atChildren < turn) turn = atChildren;
                }
                const float floor = 0.05f * budget / (2.0f * lengthLever);
                if (turn < floor) turn = floor;
                // Between frames no descendant makes up for the bone's turn: it must hold at
                // the farthest of them.
                float midTurn = (budget - used) / (2.0f * subtreeReach * parentScale);
                // Not below half the turn at the frames: the frames' tolerance already keeps
                // the children's origins; tighter still, the controls' rounding alone would
                // miss, and the bone's check halfway between frames measures what is left.
                if (midTurn < floor) midTurn = floor;
                if (midTurn < 0.5f * turn) midTurn = 0.5f * turn;
                if (midTurn > turn) midTurn = turn;
                float turnTolerance = k * 0.95f * turn;
                if (work.stillReach[b] > 0.0f) {
                    // Still children keep the source's values: the bone holds at their shells
                    // and their children's origins as at its own children's (less what the
                    // still ones move themselves), at every step, down to the floor.
                    const float atStill = ((1.0f - kStillShare) * budget / kChildWeight - used) /
                                          (2.0f * work.stillReach[b] * parentScale);
                    turnTolerance = std::min(turnTolerance, 0.95f * std::max(atStill, floor));
                }
                *atFrames = turnTolerance;
                *between = std::min(k * 0.95f * midTurn, turnTolerance);
            };
            const float used = choices[0].error * parentScale + choices[2].error * lever;
            float turnTolerance = 0.0f, midTolerance = 0.0f;
            turnTolerances(used, &turnTolerance, &midTolerance);
            Release(choices[1]);
            choices[1] = ChooseCurve(work, 1, work.target[1], turnTolerance, midTolerance,
                                     options.AllowedFormats, options.AllowedDegrees);
            if (!choices[0].curve || !choices[1].curve || !choices[2].curve) break;
            EvaluateLocal(work, choices);
            const float atFrames =
                BoneError(work, Skeleton, Samples, b, shell, &shellError, &midError);
            bool holds = atFrames <= budget && midError <= midBudget &&
                         (!compact || MidDrift(work, b, shell) <= driftBudget);
            framesHeld = atFrames <= budget;
            if (sourceOffsetFixed && choices[0].curve && choices[2].curve &&
                !OrvaneCurveIsConstantOrIdentity(choices[0].curve))
                TrySourceOffset(work, Skeleton, Samples, b, shell, budget, midBudget, parentScale,
                                lever, sourceOffset, turnTolerances, options, choices, &holds,
                                &framesHeld, &shellError, &midError);
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
                choices[c].bytes = ChoiceBytes(lower);
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
            release();
            return nullptr;
        }
        if (compact) {
            // The chosen curves' transforms (every way above ends by evaluating and measuring
            // them), for the pass over whole subtrees.
            Copy32(size_t(SampleCount) * sizeof(orvane_transform) / 4, work.local,
                   work.localAll + size_t(b) * size_t(SampleCount));
            Copy32(mids * sizeof(orvane_transform) / 4, work.localMid,
                   work.localMidAll + size_t(b) * mids);
        }
        for (int c = 0; c < kComponents; ++c) {
            RememberConstant(work, choices[c].curve);
            curves[size_t(b) * kComponents + size_t(c)] = choices[c].curve;
            exact[size_t(b) * kComponents + size_t(c)] = choices[c].exact ? 1 : 0;
            choices[c] = Choice{};
        }
        if (options.Progress) options.Progress(b + 1, boneCount, options.ProgressUserData);
    }
    if (compact) LowerSubtreeDepths(work, Skeleton, curves, kLoweredShare * budget);

    orvane_track_group_builder* builder = OrvaneBeginTrackGroup(Name, 0, boneCount, 0, false);
    if (builder == nullptr) {
        release();
        return nullptr;
    }
    float maxError = 0.0f;
    int32_t maxErrorBone = 0;
    int32_t exactComponents = 0;
    int32_t plainFloatComponents = 0;
    for (int32_t b = 0; b < boneCount; ++b) {
        for (int32_t f = 0; f < SampleCount; ++f) {
            const float e = work.frameErrors[size_t(b) * size_t(SampleCount) + size_t(f)];
            if (e > maxError) {
                maxError = e;
                maxErrorBone = b;
            }
        }
        orvane_curve2** own = curves + size_t(b) * kComponents;
        OrvaneBeginTransformTrack(builder, Skeleton->Bones[b].Name);
        OrvaneSetTransformTrackPositionCurve(builder, own[0]);
        OrvaneSetTransformTrackOrientationCurve(builder, own[1]);
        OrvaneSetTransformTrackScaleShearCurve(builder, own[2]);
        OrvaneEndTransformTrack(builder);
        for (int c = 0; c < kComponents; ++c) {
            exactComponents += exact[size_t(b) * kComponents + size_t(c)];
            plainFloatComponents += OrvaneCurveIsTypeDaK32fC32f(own[c]) ? 1 : 0;
            OrvaneFreeCurve(own[c]);
            own[c] = nullptr;
        }
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
        Statistics->CurveDataBytes = DistinctCurveBytes(*group);
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

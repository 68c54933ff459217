// Controlled animations: the builder that binds an animation's track groups to model
// instances through one control, the binding callbacks that sample them (into a local pose,
// straight into a world pose, root motion), and controlled poses.
#include "instance/orvane_animation_binding.h"
#include "track/orvane_content_checks.h"
#include "pose/orvane_local_pose.h"
#include "pose/orvane_pose_blend.h"
#include "instance/orvane_model_instance.h"
#include "instance/orvane_root_motion.h"
#include "curve/orvane_bspline.h"
#include "track/orvane_track_batch.h"
#include "track/orvane_track_sampler.h"
#include "pose/orvane_world_pose.h"
#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "diag/orvane_timing.h"
#include "math/orvane_math_internal.h"
#include "orvane/controlled_animation.h"
#include "orvane/periodic_loop.h"
#include "orvane/track_group.h"
#include "orvane/track_mask.h"

#include <cmath>
#include <atomic>
#include <cstring>

namespace orvane {
namespace {

struct TrackGroupRecord {
    orvane_animation_binding* AnimationBinding;
    orvane_animation_binding_identifier BindingID;
    orvane_model_instance* Target;
    int32_t AccumulationMode;
    float LODCopyScale;
    const orvane_track_mask* TrackGroupTrackMask;
    const orvane_track_mask* TrackGroupModelMask;
};

}  // namespace
}  // namespace orvane

struct orvane_controlled_animation_builder {
    orvane_control* Control;
    float CurrentClock;
    const orvane_animation* Animation;
    int32_t TrackGroupCount;
    orvane::TrackGroupRecord* TrackGroups;
};

namespace orvane {
namespace {

// Payload words of a controlled-animation node. The node's sampling state (a sample cache
// per track binding, and its own LOD errors when it was made with them) belongs to the node,
// so two instances playing one binding never write the same memory, and what the binding
// shares stays as it was built.
enum { kBinding = 0, kTrackMask = 1, kModelMask = 2, kState = 3 };

// The sampling plan, made when the node is made: per track binding, the curves that move
// with time (kPlanPosition, ...) and a transform holding everything else (the fixed curves'
// values and the result's flags). A frame samples the moving curves into that transform and
// accumulates it from there; a track without moving curves is never sampled.
struct NodeState {
    orvane_track_sample_cache* caches;  // one per track binding
    const float* lodErrors;             // one per track binding, or null: the binding's
    orvane_transform* planned;          // one per track binding
    uint8_t* moving;                    // one per track binding, less the batched curves
    TrackBatches batches;  // the batched moving positions and orientations, into planned
    // The bound tracks in two runs, for a whole-range pass without masks, LOD or root removal:
    // first those whose LOD error is not above 0 (they always show their LOD transform, with
    // the orientation weight's sign fixed), then the others.
    struct Step {
        int32_t bone;
        int32_t quaternionMode;
        float sign;                         // fixed run: the orientation weight's sign
        const orvane_transform* transform;  // fixed run: the LOD transform
    };
    Step* steps;
    int32_t fixedSteps, stepCount;
    // Per bound track, in bone order, what the one-pass blend reads: the LOD transform with
    // its sign for the fixed run, the planned transform for the others.
    BlendSourceBone* blendBones;
    // The bound tracks of the second run with moving curves left after the batches.
    int32_t* sampledTracks;
    int32_t sampledCount;
    // Per bound track, whether what the one-pass blend reads for it never changes: the fixed
    // run, and tracks without moving curves (or without a source track).
    uint8_t* fixed;
    uint64_t serial;  // this node's own, for the blend memo
};

// Serials of nodes: never 0, never reused.
std::atomic<uint64_t> gNodeSerials{0};

// The batched curves first (they write the planned transforms of their tracks), then the
// tracks one at a time.
inline void SampleBatches(const orvane_track_sample_context& context, NodeState& state) {
    SampleTrackBatches(context, state.batches);
}

inline float LODErrorOf(const NodeState& state, const TrackBinding& tb, int32_t i) {
    return state.lodErrors ? state.lodErrors[i] : tb.LODError;
}

orvane_animation_binding* BindingOf(orvane_model_control_binding* b) {
    return static_cast<orvane_animation_binding*>(b->Payload[kBinding]);
}

struct FadeWindow {
    float start = 0.0f;
    float scale = 0.0f;
    float error = 0.0f;
};

FadeWindow MakeFadeWindow(float e) {
    FadeWindow w;
    w.error = e;
    if (e > 0.0f) {
        w.start = e * LODFadingFactor();
        // A fading factor of 1 leaves no band: tracks switch at e itself.
        w.scale = e > w.start ? 1.0f / (e - w.start) : 0.0f;
    }
    return w;
}

void FillContext(orvane_control& control, const orvane_animation& animation,
                 orvane_track_sample_context& context) {
    bool before, after;
    LoopState(control, &before, &after);
    context.SampleTime = ClampedLocalClock(control);
    context.SampleDuration = control.LocalDuration;
    context.LoopBefore = before;
    context.LoopAfter = after;
    context.FrameIndex = 0;
    if (animation.TimeStep > 0.0f) {
        const float f = context.SampleTime / animation.TimeStep;
        context.FrameIndex = f < 2147483520.0f ? int32_t(f) : INT32_MAX;
    }
}

// The transform of bound track i of LOD error v at the context's time, as the fade window
// says: the node's planned transform with its moving curves sampled, the LOD substitute, or
// (fading) their blend in scratch.
inline const orvane_transform& PlannedTransform(const TrackBinding& tb, float v,
                                                const orvane_track_sample_context& context,
                                                const FadeWindow& fade, const NodeState& state,
                                                int32_t i, orvane_transform& scratch) {
    if (v <= fade.start) return tb.LODTransform;
    orvane_transform& t = state.planned[i];
    if (const uint32_t moving = state.moving[i])
        SamplePlannedTrack(context, *tb.SourceTrack, moving, state.caches + i, &t);
    if (v <= fade.error) {
        scratch = t;
        OrvaneLinearBlendTransform(&scratch, &t, (fade.error - v) * fade.scale, &tb.LODTransform);
        return scratch;
    }
    return t;
}

// ---- Controlled animation callbacks ----

orvane_animation_binding** AnimationBindingField(orvane_model_control_binding* b) {
    return reinterpret_cast<orvane_animation_binding**>(&b->Payload[kBinding]);
}

// The LOD errors a node samples with: the binding's, or its own, taken from the track group's
// stored errors times a scale, or kept from the node's previous plan.
struct NodeErrors {
    bool own = false;
    float scale = 0.0f;
    const float* previous = nullptr;
};

// The node's sampling plan for the binding as it stands (its tracks and LOD errors), in one
// block; null when there is no memory for it.
NodeState* MakeNodeState(const orvane_animation_binding* binding, const orvane_skeleton* skeleton,
                         const NodeErrors& nodeErrors) {
    const int32_t count = binding->TrackBindingCount;
    // One block: the state, the caches, and the node's own LOD errors when asked for.
    const bool ownErrors = nodeErrors.own;
    const size_t cachesAt = (sizeof(NodeState) + alignof(orvane_track_sample_cache) - 1) &
                            ~(alignof(orvane_track_sample_cache) - 1);
    const size_t plannedAt = cachesAt + size_t(count) * sizeof(orvane_track_sample_cache);
    const size_t movingAt = plannedAt + size_t(count) * sizeof(orvane_transform);
    const size_t errorsAt = (movingAt + size_t(count) + alignof(float) - 1) & ~(alignof(float) - 1);
    // The plan's batches: the moving positions and orientations of readable formats, by degree.
    const TrackBatchLayout layout = LayOutTrackBatches(
        count, [&](int32_t i) { return binding->TrackBindings[i].SourceTrack; },
        errorsAt + (ownErrors ? size_t(count) * sizeof(float) : 0));
    constexpr size_t kBatchAlignment = 16;
    const size_t stepsAt = layout.end;
    static_assert(kBatchAlignment % alignof(NodeState::Step) == 0);
    const size_t blendAt = stepsAt + size_t(count) * sizeof(NodeState::Step);
    static_assert(alignof(NodeState::Step) % alignof(BlendSourceBone) == 0 ||
                  sizeof(NodeState::Step) % alignof(BlendSourceBone) == 0);
    const size_t sampledAt = blendAt + size_t(count) * sizeof(BlendSourceBone);
    static_assert(sizeof(BlendSourceBone) % alignof(int32_t) == 0);
    const size_t fixedAt = sampledAt + size_t(count) * sizeof(int32_t);
    const size_t bytes = fixedAt + size_t(count);
    static_assert(kBatchAlignment >= alignof(orvane_track_sample_cache));
    char* block = static_cast<char*>(ORVANE_ALLOCATE(kBatchAlignment, bytes));
    if (block == nullptr) return nullptr;
    std::memset(block, 0, bytes);
    auto* state = reinterpret_cast<NodeState*>(block);
    state->caches = reinterpret_cast<orvane_track_sample_cache*>(block + cachesAt);
    state->planned = reinterpret_cast<orvane_transform*>(block + plannedAt);
    state->moving = reinterpret_cast<uint8_t*>(block + movingAt);
    state->fixed = reinterpret_cast<uint8_t*>(block + fixedAt);
    for (int32_t i = 0; i < count; ++i)
        state->fixed[i] = 1;  // tracks without a source track: the rest transform, or nothing
    state->serial = gNodeSerials.fetch_add(1, std::memory_order_relaxed) + 1;
    InitTrackBatches(state->batches, block, layout);
    for (int32_t i = 0; i < count; ++i) {
        const orvane_transform_track* track = binding->TrackBindings[i].SourceTrack;
        if (track == nullptr) continue;
        bool still = false;
        state->moving[i] = uint8_t(PlanTrackIntoBatches(state->batches, *track, &state->planned[i],
                                                        state->caches + i, &still));
        state->fixed[i] = still;
    }
    if (ownErrors) {
        // The track group's stored errors, scaled, for this node alone: the binding is shared
        // by every instance that plays the same animation on the same model.
        auto* errors = reinterpret_cast<float*>(block + errorsAt);
        const orvane_track_group& group = *BindingTrackGroup(*binding);
        for (int32_t i = 0; i < count; ++i) {
            const TrackBinding& tb = binding->TrackBindings[i];
            errors[i] = tb.LODError;
            if (nodeErrors.previous != nullptr)
                errors[i] = nodeErrors.previous[i];
            else if (tb.TrackIndex >= 0 && tb.TrackIndex < group.TransformLODErrorCount)
                errors[i] = nodeErrors.scale * group.TransformLODErrors[tb.TrackIndex];
        }
        state->lodErrors = errors;
    }
    // The two runs of steps.
    state->steps = reinterpret_cast<NodeState::Step*>(block + stepsAt);
    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1) state->fixedSteps = state->stepCount;
        for (int32_t i = 0; i < count; ++i) {
            const TrackBinding& tb = binding->TrackBindings[i];
            if (tb.SourceTrack == nullptr) continue;
            const bool fixed = LODErrorOf(*state, tb, i) <= 0.0f;
            if (fixed != (pass == 0)) continue;
            NodeState::Step& step = state->steps[state->stepCount++];
            step.bone = i;
            step.quaternionMode = tb.QuaternionMode;
            step.transform = &tb.LODTransform;
            step.sign = 1.0f;
            if (tb.QuaternionMode == OrvaneQuaternionBlendInverted)
                step.sign = -1.0f;
            else if (tb.QuaternionMode == OrvaneQuaternionBlendNeighborhood)
                step.sign = NeighborhoodWeight(1.0f, skeleton->Bones[i].Transform.Orientation,
                                               tb.LODTransform.Orientation);
        }
    }
    state->sampledTracks = reinterpret_cast<int32_t*>(block + sampledAt);
    for (int32_t k = state->fixedSteps; k < state->stepCount; ++k)
        if (state->moving[state->steps[k].bone])
            state->sampledTracks[state->sampledCount++] = state->steps[k].bone;
    state->blendBones = reinterpret_cast<BlendSourceBone*>(block + blendAt);
    for (int32_t i = 0; i < count; ++i)
        state->blendBones[i] = BlendSourceBone{nullptr, 1.0f, 0};
    for (int32_t k = 0; k < state->stepCount; ++k) {
        const NodeState::Step& step = state->steps[k];
        BlendSourceBone& bone = state->blendBones[step.bone];
        if (k < state->fixedSteps) {
            bone = BlendSourceBone{step.transform, step.sign, kBlendSignFixed};
            state->fixed[step.bone] = 1;
        } else
            bone =
                BlendSourceBone{&state->planned[step.bone],
                                step.quaternionMode == OrvaneQuaternionBlendInverted ? -1.0f : 1.0f,
                                step.quaternionMode};
    }
    return state;
}

bool InitializeAnimation(orvane_model_control_binding* b, const void* data) {
    const auto& record = *static_cast<const TrackGroupRecord*>(data);
    orvane_animation_binding* binding =
        record.AnimationBinding ? OrvaneAcquireAnimationBinding(record.AnimationBinding)
                                : OrvaneAcquireAnimationBindingFromID(&record.BindingID);
    if (binding == nullptr) return false;
    // The instance's skeleton was checked when the instance was made; a binding built for
    // another model must not index past its bones.
    const orvane_skeleton* skeleton = OrvaneGetSourceSkeleton(b->ModelInstance);
    const int32_t count = binding->TrackBindingCount;
    if (skeleton == nullptr || count > skeleton->BoneCount) {
        ORVANE_LOG_ERROR(OrvaneControlledAnimationOrigin,
                         "AnimationBinding.TrackBindingCount %d is out of range [0, %d]", count,
                         skeleton ? skeleton->BoneCount : 0);
        OrvaneReleaseAnimationBinding(binding);
        return false;
    }
    NodeErrors errors;
    errors.own = record.LODCopyScale >= 0.0f;
    errors.scale = record.LODCopyScale;
    NodeState* state = MakeNodeState(binding, skeleton, errors);
    if (state == nullptr) {
        OrvaneReleaseAnimationBinding(binding);
        return false;
    }
    MakeBlendMemo(b->ModelInstance);
    b->Payload[kBinding] = binding;
    b->Payload[kTrackMask] = const_cast<orvane_track_mask*>(record.TrackGroupTrackMask);
    b->Payload[kModelMask] = const_cast<orvane_track_mask*>(record.TrackGroupModelMask);
    b->Payload[kState] = state;
    b->PayloadInt = record.AccumulationMode;
    return true;
}

void AccumulateAnimation(orvane_model_control_binding* b, int32_t firstBone, int32_t boneCount,
                         orvane_local_pose* pose, float allowedError, const int32_t* sparse) {
    ORVANE_TIMING_BLOCK("AnimationAccumulateBindingState");
    orvane_control& control = *b->Control;
    const float w = EffectiveWeight(control);
    if (w <= 0.001f) return;
    const orvane_animation_binding& binding = *BindingOf(b);
    const int64_t end = int64_t(firstBone) + boneCount;
    // Entries the binding has no track binding for are left to the pass's rest fill.
    const int32_t last =
        sparse ? int32_t(end)
               : int32_t(end < binding.TrackBindingCount ? end : binding.TrackBindingCount);
    orvane_track_sample_context context;
    FillContext(control, *binding.ID.Animation, context);
    const FadeWindow fade = MakeFadeWindow(allowedError);
    const auto* trackMask = static_cast<const orvane_track_mask*>(b->Payload[kTrackMask]);
    const auto* modelMask = static_cast<const orvane_track_mask*>(b->Payload[kModelMask]);
    NodeState& state = *static_cast<NodeState*>(b->Payload[kState]);
    SampleBatches(context, state);
    const bool removeRoot = b->PayloadInt == OrvaneAccumulationVariableDelta;
    const orvane_bone* bones = OrvaneGetSourceSkeleton(b->ModelInstance)->Bones;
    if (!sparse && firstBone == 0 && last == binding.TrackBindingCount && allowedError == 0.0f &&
        !trackMask && !modelMask && !removeRoot) {
        // The whole range as planned: no per-bone masks, LOD choices or root removal.
        for (int32_t k = 0; k < state.fixedSteps; ++k) {
            const NodeState::Step& step = state.steps[k];
            AccumulateUnchecked(*pose, pose->Bones[step.bone], w, step.sign * w, *step.transform);
        }
        for (int32_t k = state.fixedSteps; k < state.stepCount; ++k) {
            const NodeState::Step& step = state.steps[k];
            const int32_t s = step.bone;
            orvane_transform& t = state.planned[s];
            if (const uint32_t moving = state.moving[s])
                SamplePlannedTrack(context, *binding.TrackBindings[s].SourceTrack, moving,
                                   state.caches + s, &t);
            float ow = w;
            if (step.quaternionMode == OrvaneQuaternionBlendInverted)
                ow = -w;
            else if (step.quaternionMode == OrvaneQuaternionBlendNeighborhood)
                ow = NeighborhoodWeight(w, bones[s].Transform.Orientation, t.Orientation);
            AccumulateUnchecked(*pose, pose->Bones[s], w, ow, t);
        }
        return;
    }
    for (int32_t i = firstBone; i < last; ++i) {
        const int32_t s = sparse ? sparse[i] : i;
        if (s >= binding.TrackBindingCount) continue;
        const TrackBinding& tb = binding.TrackBindings[s];
        if (tb.SourceTrack == nullptr) continue;
        float d = w;
        if (trackMask) d *= OrvaneGetTrackMaskBoneWeight(trackMask, tb.TrackIndex);
        if (modelMask) d *= OrvaneGetTrackMaskBoneWeight(modelMask, s);
        if (d <= 0.001f) continue;
        orvane_transform scratch;
        const orvane_transform* t =
            &PlannedTransform(tb, LODErrorOf(state, tb, s), context, fade, state, s, scratch);
        if (removeRoot && s == 0) {
            if (t != &scratch) scratch = *t;
            scratch.Position[0] = scratch.Position[1] = scratch.Position[2] = 0.0f;
            scratch.Orientation[0] = scratch.Orientation[1] = scratch.Orientation[2] = 0.0f;
            scratch.Orientation[3] = 1.0f;
            t = &scratch;
        }
        float ow = d;
        if (tb.QuaternionMode == OrvaneQuaternionBlendInverted)
            ow = -d;
        else if (tb.QuaternionMode == OrvaneQuaternionBlendNeighborhood)
            ow = NeighborhoodWeight(d, bones[s].Transform.Orientation, t->Orientation);
        AccumulateUnchecked(*pose, pose->Bones[i], d, ow, *t);
    }
}

bool PrepareAnimationBlend(orvane_model_control_binding* b, int32_t firstBone, int32_t boneCount,
                           BlendSource* source) {
    if (b->Payload[kTrackMask] || b->Payload[kModelMask] ||
        b->PayloadInt == OrvaneAccumulationVariableDelta)
        return false;
    // Untimed: the sampling call that asks every playing node is the timed operation, and a
    // block per node and frame (two time-stamp reads and three atomic adds) would cost more than
    // a node's batches.
    orvane_control& control = *b->Control;
    const float w = EffectiveWeight(control);
    source->weight = w;
    source->boneCount = 0;
    source->bones = nullptr;
    source->fixed = nullptr;
    source->serial = 0;
    if (w <= 0.001f) return true;
    const orvane_animation_binding& binding = *BindingOf(b);
    orvane_track_sample_context context;
    FillContext(control, *binding.ID.Animation, context);
    NodeState& state = *static_cast<NodeState*>(b->Payload[kState]);
    SampleBatches(context, state);
    const int64_t end = int64_t(firstBone) + boneCount;
    for (int32_t k = 0; k < state.sampledCount; ++k) {
        const int32_t s = state.sampledTracks[k];
        if (s >= firstBone && s < end)
            SamplePlannedTrack(context, *binding.TrackBindings[s].SourceTrack, state.moving[s],
                               state.caches + s, &state.planned[s]);
    }
    source->boneCount = binding.TrackBindingCount;
    source->bones = state.blendBones;
    source->fixed = state.fixed;
    source->serial = state.serial;
    return true;
}

// Skeletons up to this many bones are built in one range from transforms on the stack.
constexpr int32_t kDirectRangeBones = 256;

// The local transform of bone i for a direct build.
inline void DirectLocal(const TrackBinding& tb, const orvane_bone& bone, bool removeRoot, int32_t i,
                        const orvane_track_sample_context& context, const FadeWindow& fade,
                        const NodeState& state, orvane_transform& t) {
    if (tb.SourceTrack == nullptr) {
        t = bone.Transform;
        return;
    }
    t = PlannedTransform(tb, LODErrorOf(state, tb, i), context, fade, state, i, t);
    if (removeRoot && i == 0) {
        // The root keeps only its scale/shear: its motion goes to the model matrix.
        t.Position[0] = t.Position[1] = t.Position[2] = 0.0f;
        t.Orientation[0] = t.Orientation[1] = t.Orientation[2] = 0.0f;
        t.Orientation[3] = 1.0f;
        t.Flags &= ~uint32_t(OrvaneTransformHasPosition | OrvaneTransformHasOrientation);
    }
}

void BuildDirectAnimation(orvane_model_control_binding* b, int32_t boneCount, const float* offset,
                          orvane_world_pose* result, float allowedError) {
    ORVANE_TIMING_BLOCK("AnimationBuildDirect");
    orvane_control& control = *b->Control;
    const orvane_animation_binding& binding = *BindingOf(b);
    const orvane_skeleton* skeleton = OrvaneGetSourceSkeleton(b->ModelInstance);
    // The entry point has bounded boneCount by the skeleton and the world pose; bones past the
    // binding's track bindings (a binding for a smaller skeleton) rest.
    const int32_t count =
        boneCount < binding.TrackBindingCount ? boneCount : binding.TrackBindingCount;
    orvane_track_sample_context context;
    FillContext(control, *binding.ID.Animation, context);
    const FadeWindow fade = MakeFadeWindow(allowedError);
    const WorldPoseRoutines& r = ChosenWorldPoseRoutines();
    const bool removeRoot = b->PayloadInt == OrvaneAccumulationVariableDelta;
    NodeState& state = *static_cast<NodeState*>(b->Payload[kState]);
    SampleBatches(context, state);
    float* worlds = WorldMatrices(*result);
    float* composites = CompositeMatrices(*result);
    const orvane_bone* bones = skeleton->Bones;
    if (boneCount <= kDirectRangeBones) {
        // Sampling everything first and composing in one range lets the range builder keep
        // the parent chain in registers, which the per-bone builders cannot.
        orvane_transform locals[kDirectRangeBones];
        for (int32_t i = 0; i < count; ++i)
            DirectLocal(binding.TrackBindings[i], bones[i], removeRoot, i, context, fade, state,
                        locals[i]);
        for (int32_t i = count; i < boneCount; ++i)
            locals[i] = bones[i].Transform;
        alignas(16) float clean[16];
        std::memcpy(clean, offset, sizeof(clean));
        clean[3] = clean[7] = clean[11] = 0.0f;
        clean[15] = 1.0f;
        const WorldPoseSource source{reinterpret_cast<const char*>(locals),
                                     sizeof(orvane_transform), nullptr};
        r.buildRange(bones, 0, boneCount, source, clean, worlds, composites);
        return;
    }
    for (int32_t i = 0; i < boneCount; ++i) {
        const orvane_bone& bone = bones[i];
        const float* parent = bone.ParentIndex < 0 ? offset : worlds + 16 * bone.ParentIndex;
        orvane_transform t;
        if (i < count)
            DirectLocal(binding.TrackBindings[i], bone, removeRoot, i, context, fade, state, t);
        else
            t = bone.Transform;
        BuildBone(r, t, parent, InverseWorldOf(bone), composites + 16 * i, worlds + 16 * i);
    }
}

void AddScaled3(float* out, const float* v, float w) {
    out[0] += w * v[0];
    out[1] += w * v[1];
    out[2] += w * v[2];
}

void RootMotionAnimation(orvane_model_control_binding* b, float secondsElapsed, float* totalWeight,
                         float translation[3], float rotation[3], bool inverse) {
    orvane_control& control = *b->Control;
    const orvane_animation_binding& binding = *BindingOf(b);
    const int32_t mode = b->PayloadInt;
    if (mode == OrvaneAccumulationNone) return;
    const float w = EffectiveWeight(control);
    if (w <= 0.001f) return;
    if (binding.TrackBindingCount == 0 || binding.TrackBindings[0].SourceTrack == nullptr) return;
    const float duration = control.LocalDuration;
    if (!(duration > 0.00001f)) return;
    UpdateLocalClock(control);
    float t1 = control.LocalClock;
    float t0 = t1 - control.Speed * secondsElapsed;
    bool flip = inverse;
    if (t0 > t1) {
        const float x = t0;
        t0 = t1;
        t1 = x;
        flip = !flip;
    }
    bool before, after;
    LoopState(control, &before, &after);
    if (!before) {
        if (t1 < 0.0f) return;
        if (t0 < 0.0f) t0 = 0.0f;
    }
    if (!after) {
        if (t0 > duration) return;
        if (t1 > duration) t1 = duration;
    }
    const orvane_track_group& group = *BindingTrackGroup(binding);
    if (mode == OrvaneAccumulationConstantLoop) {
        if (group.PeriodicLoop != nullptr) {
            // The screw motion of the loop over the elapsed local time.
            float v[3], log[3];
            OrvaneComputePeriodicLoopVector(group.PeriodicLoop, t1 - t0, v);
            OrvaneComputePeriodicLoopLog(group.PeriodicLoop, t1 - t0, log);
            const float signedWeight = flip ? -w : w;
            AddScaled3(translation, v, signedWeight);
            AddScaled3(rotation, log, signedWeight);
        } else {
            const float k = (t1 - t0) * w / duration * (flip ? -1.0f : 1.0f);
            AddScaled3(translation, group.LoopTranslation, k);
        }
        *totalWeight += w;
        return;
    }
    if (mode != OrvaneAccumulationVariableDelta) return;
    const orvane_transform_track* root = binding.TrackBindings[0].SourceTrack;
    const double k0 = std::floor(double(t0) / double(duration));
    const double k1 = std::floor(double(t1) / double(duration));
    // Within one loop, clamped at both ends: the crossing of a loop boundary is counted by the
    // loop numbers and the loop motion, not by a curve that wraps back to its start.
    orvane_track_sample_context context{};
    context.SampleDuration = duration;
    float p0[3], p1[3], q0[4], q1[4];
    context.SampleTime = float(double(t0) - k0 * double(duration));
    OrvaneSampleTrackPOLocal(&context, root, nullptr, p0, q0);
    context.SampleTime = float(double(t1) - k1 * double(duration));
    OrvaneSampleTrackPOLocal(&context, root, nullptr, p1, q1);
    float dp[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
    // The turn the curve makes from t0 to t1, however far: the curve's quaternions continue
    // one another, so a difference of more than half a turn is a turn of that size (as the loop
    // rotation it is added to is), not the short way round to the same orientation.
    float dr[3];
    RotationVectorBetween(dr, q0, q1);
    const float m = float(k1 - k0);
    if (m != 0.0f) {
        AddScaled3(dp, binding.LoopTranslation, m);
        AddScaled3(dr, binding.LoopRotation, m);
    }
    if (flip) {
        for (int i = 0; i < 3; ++i) {
            dp[i] = -dp[i];
            dr[i] = -dr[i];
        }
    }
    if (!OrvaneCurveIsIdentity(&root->OrientationCurve)) {
        float first[4];
        CurveFirstValue(&root->OrientationCurve, 4, OrvaneCurveIdentityOrientation, first);
        RotateVectorByQuaternion(first, dp);
        RotateVectorByQuaternion(first, dr);
        const float conj[4] = {-q0[0], -q0[1], -q0[2], q0[3]};
        RotateVectorByQuaternion(conj, dp);
    }
    AddScaled3(translation, dp, w);
    AddScaled3(rotation, dr, w);
    *totalWeight += w;
}

void ReleaseAnimation(orvane_model_control_binding* b) {
    OrvaneReleaseAnimationBinding(BindingOf(b));
    if (b->Payload[kState]) ORVANE_DEALLOCATE(b->Payload[kState]);
    b->Payload[kBinding] = b->Payload[kState] = nullptr;
}

const ControlBindingCallbacks kAnimationCallbacks = {AnimationBindingField, nullptr,
                                                     InitializeAnimation,   AccumulateAnimation,
                                                     BuildDirectAnimation,  RootMotionAnimation,
                                                     ReleaseAnimation,      PrepareAnimationBlend};

// A node whose binding was remapped while there was no memory for its new plan: its old plan
// may point into an animation that is gone, so it keeps its binding and its root motion (which
// read the binding alone) and plays nothing until a later plan succeeds.
const ControlBindingCallbacks kUnplannedAnimationCallbacks = {
    AnimationBindingField, nullptr,          nullptr, nullptr, nullptr,
    RootMotionAnimation,   ReleaseAnimation, nullptr};

// ---- Controlled pose callbacks ----

struct PoseInitialData {
    const orvane_local_pose* pose;
    const orvane_track_mask* mask;
};

orvane_local_pose** PoseField(orvane_model_control_binding* b) {
    return reinterpret_cast<orvane_local_pose**>(&b->Payload[0]);
}

bool InitializePose(orvane_model_control_binding* b, const void* data) {
    const auto& init = *static_cast<const PoseInitialData*>(data);
    b->Payload[0] = const_cast<orvane_local_pose*>(init.pose);
    b->Payload[1] = const_cast<orvane_track_mask*>(init.mask);
    return true;
}

void AccumulatePose(orvane_model_control_binding* b, int32_t firstBone, int32_t boneCount,
                    orvane_local_pose* pose, float, const int32_t* sparse) {
    const float w = EffectiveWeight(*b->Control);
    if (w <= 0.001f) return;
    const auto* played = static_cast<const orvane_local_pose*>(b->Payload[0]);
    const auto* mask = static_cast<const orvane_track_mask*>(b->Payload[1]);
    const orvane_skeleton* skeleton = OrvaneGetSourceSkeleton(b->ModelInstance);
    int64_t end = int64_t(firstBone) + boneCount;
    if (!sparse && end > played->BoneCount) end = played->BoneCount;
    for (int64_t i = firstBone; i < end; ++i) {
        const int32_t s = sparse ? sparse[i] : int32_t(i);
        if (s >= played->BoneCount) continue;
        const float d = mask ? w * OrvaneGetTrackMaskBoneWeight(mask, s) : w;
        if (d <= 0.001f) continue;
        const orvane_transform& t = played->Bones[s].Transform;
        const float ow =
            NeighborhoodWeight(d, skeleton->Bones[s].Transform.Orientation, t.Orientation);
        AccumulateUnchecked(*pose, pose->Bones[i], d, ow, t);
    }
}

void BuildDirectPose(orvane_model_control_binding* b, int32_t boneCount, const float* offset,
                     orvane_world_pose* result, float) {
    const auto* played = static_cast<const orvane_local_pose*>(b->Payload[0]);
    const orvane_skeleton* skeleton = OrvaneGetSourceSkeleton(b->ModelInstance);
    const int32_t count = boneCount < played->BoneCount ? boneCount : played->BoneCount;
    const WorldPoseRoutines& r = ChosenWorldPoseRoutines();
    float* worlds = WorldMatrices(*result);
    float* composites = CompositeMatrices(*result);
    for (int32_t i = 0; i < boneCount; ++i) {
        const orvane_bone& bone = skeleton->Bones[i];
        const float* parent = bone.ParentIndex < 0 ? offset : worlds + 16 * bone.ParentIndex;
        const orvane_transform& t = i < count ? played->Bones[i].Transform : bone.Transform;
        r.buildBoneFull(t, parent, InverseWorldOf(bone), composites + 16 * i, worlds + 16 * i);
    }
}

const ControlBindingCallbacks kPoseCallbacks = {
    nullptr, PoseField, InitializePose, AccumulatePose, BuildDirectPose, nullptr, nullptr, nullptr};

// A time truncated to whole seconds for a message, within the range of int32.
int32_t WholeSeconds(float seconds) {
    if (!(seconds > -2147483520.0f)) return INT32_MIN;
    if (!(seconds < 2147483520.0f)) return INT32_MAX;
    return int32_t(seconds);
}

int32_t DefaultAccumulationMode(const orvane_track_group* group) {
    if (group == nullptr) return OrvaneAccumulationNone;
    uint32_t flags, dofs;
    OrvaneGetTrackGroupFlags(group, &flags, &dofs);
    if (flags & 1u) return OrvaneAccumulationConstantLoop;
    if (flags & 4u) return OrvaneAccumulationVariableDelta;
    return OrvaneAccumulationNone;
}

TrackGroupRecord* Record(orvane_controlled_animation_builder* builder, int32_t index) {
    ORVANE_CHECK_NOT_NULL(OrvaneControlledAnimationOrigin, builder, nullptr);
    if (index < 0 || index >= builder->TrackGroupCount) {
        ORVANE_LOG_ERROR(OrvaneControlledAnimationOrigin,
                         "TrackGroupIndex %d is out of range [0, %d)", index,
                         builder->TrackGroupCount);
        return nullptr;
    }
    return &builder->TrackGroups[index];
}

}  // namespace

void ReplanAnimationNodes(const orvane_animation_binding* binding, bool tracksChanged) {
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    for (orvane_model_instance* instance = OrvaneGetGlobalModelInstancesBegin();
         instance != OrvaneGetGlobalModelInstancesEnd();
         instance = OrvaneGetGlobalNextModelInstance(instance)) {
        orvane_model_control_binding* head = &instance->BindingHead;
        for (orvane_model_control_binding* b = head->ModelNext; b != head; b = b->ModelNext) {
            if (b->Callbacks != &kAnimationCallbacks &&
                b->Callbacks != &kUnplannedAnimationCallbacks)
                continue;
            if (b->Payload[kBinding] != binding) continue;
            auto* old = static_cast<NodeState*>(b->Payload[kState]);
            // A node with errors of its own samples with those whatever the binding holds.
            if (!tracksChanged && old != nullptr && old->lodErrors != nullptr &&
                b->Callbacks == &kAnimationCallbacks)
                continue;
            NodeErrors errors;
            if (old != nullptr && old->lodErrors != nullptr) {
                errors.own = true;
                errors.previous = old->lodErrors;
            }
            NodeState* state =
                MakeNodeState(binding, OrvaneGetSourceSkeleton(b->ModelInstance), errors);
            if (state == nullptr) {
                if (b->Callbacks == &kUnplannedAnimationCallbacks) continue;
                if (tracksChanged) {
                    ORVANE_LOG_ERROR(
                        OrvaneControlledAnimationOrigin,
                        "Out of memory for the sampling plan of a remapped animation "
                        "(%s); its control stops playing it",
                        binding->ID.Animation->Name ? binding->ID.Animation->Name : "");
                    b->Callbacks = &kUnplannedAnimationCallbacks;
                } else {
                    ORVANE_LOG_WARNING(
                        OrvaneControlledAnimationOrigin,
                        "Out of memory for the sampling plan of an animation (%s) "
                        "whose LOD errors changed; it plays with the old ones",
                        binding->ID.Animation->Name ? binding->ID.Animation->Name : "");
                }
                continue;
            }
            b->Payload[kState] = state;
            b->Callbacks = &kAnimationCallbacks;
            if (old != nullptr) ORVANE_DEALLOCATE(old);
        }
    }
}

}  // namespace orvane

using namespace orvane;

ORVANE_API orvane_controlled_animation_builder* OrvaneBeginControlledAnimation(
    orvane_real32 StartTime, const orvane_animation* Animation) {
    ORVANE_TIMING_BLOCK("BeginControlledAnimation");
    ORVANE_CHECK_NOT_NULL(OrvaneControlledAnimationOrigin, Animation, nullptr);
    // The control takes the clip's Duration as its length, and sampling its TimeStep: an
    // animation whose reals cannot be trusted is refused here, before anything is made.
    if (!AnimationIsSound(Animation, OrvaneControlledAnimationOrigin)) return nullptr;
    if (!std::isfinite(StartTime)) {
        ORVANE_LOG_ERROR(OrvaneControlledAnimationOrigin, "StartTime %f is not finite",
                         double(StartTime));
        return nullptr;
    }
    const int32_t count = Animation->TrackGroupCount;
    const size_t header =
        (sizeof(orvane_controlled_animation_builder) + alignof(void*) - 1) & ~(alignof(void*) - 1);
    size_t bytes;
    if (!CheckedArrayBytes(count, sizeof(TrackGroupRecord), &bytes)) return nullptr;
    auto* b = static_cast<orvane_controlled_animation_builder*>(
        ORVANE_ALLOCATE(alignof(void*), header + bytes));
    if (b == nullptr) return nullptr;
    b->Control = nullptr;
    b->CurrentClock = StartTime;
    b->Animation = Animation;
    b->TrackGroupCount = count;
    b->TrackGroups = reinterpret_cast<TrackGroupRecord*>(reinterpret_cast<char*>(b) + header);
    for (int32_t i = 0; i < count; ++i) {
        TrackGroupRecord& r = b->TrackGroups[i];
        r.AnimationBinding = nullptr;
        OrvaneMakeDefaultAnimationBindingID(&r.BindingID, Animation, i);
        r.Target = nullptr;
        r.AccumulationMode = DefaultAccumulationMode(Animation->TrackGroups[i]);
        r.LODCopyScale = -1.0f;
        r.TrackGroupTrackMask = nullptr;
        r.TrackGroupModelMask = nullptr;
    }
    return b;
}

ORVANE_API orvane_control* OrvaneEndControlledAnimation(
    orvane_controlled_animation_builder* Builder) {
    ORVANE_TIMING_BLOCK("EndControlledAnimation");
    ORVANE_CHECK_NOT_NULL(OrvaneControlledAnimationOrigin, Builder, nullptr);
    const orvane_animation& animation = *Builder->Animation;
    orvane_control* control = Builder->Control;
    if (control) {
        const float d = control->LocalDuration;
        if (d < 0.0f || d > animation.Duration) {
            ORVANE_LOG_ERROR(OrvaneControlledAnimationOrigin,
                             "Control->LocalDuration %d is out of range [%d, %d]", WholeSeconds(d),
                             0, WholeSeconds(animation.Duration));
            ORVANE_DEALLOCATE(Builder);
            return nullptr;
        }
    } else {
        control = OrvaneCreateControl(Builder->CurrentClock, animation.Duration);
        if (control == nullptr) {
            ORVANE_LOG_ERROR(OrvaneControlledAnimationOrigin, "Unable to create control");
            ORVANE_DEALLOCATE(Builder);
            return nullptr;
        }
    }
    for (int32_t i = 0; i < Builder->TrackGroupCount; ++i) {
        const TrackGroupRecord& r = Builder->TrackGroups[i];
        if (r.Target == nullptr) continue;
        // In front only when the control plays (active with a weight): every sampling walk
        // stops at the first node whose control does not, so an active control of weight 0 in
        // front would silence the instance's playing controls behind it.
        orvane_model_control_binding* node = BindControlToModel(
            &kAnimationCallbacks, control, r.Target, ControlIsPlaying(*control), &r);
        // A record with LOD values to copy gives its node its own (see InitializeAnimation).
        if (node == nullptr)
            ORVANE_LOG_ERROR(OrvaneControlledAnimationOrigin, "Unable to bind track group");
    }
    ORVANE_DEALLOCATE(Builder);
    return control;
}

ORVANE_API orvane_control* OrvanePlayControlledAnimationBinding(orvane_real32 StartTime,
                                                                const orvane_animation* Animation,
                                                                orvane_animation_binding* Binding,
                                                                orvane_model_instance* Model) {
    ORVANE_CHECK_NOT_NULL(OrvaneControlledAnimationOrigin, Animation, nullptr);
    ORVANE_CHECK_NOT_NULL(OrvaneControlledAnimationOrigin, Model, nullptr);
    int32_t index;
    const orvane_model* source = OrvaneGetSourceModel(Model);
    if (!OrvaneFindTrackGroupForModel(Animation, source ? source->Name : nullptr, &index))
        return nullptr;
    orvane_controlled_animation_builder* builder =
        OrvaneBeginControlledAnimation(StartTime, Animation);
    if (builder == nullptr) return nullptr;
    if (Binding) OrvaneSetTrackGroupBinding(builder, index, Binding);
    OrvaneSetTrackGroupTarget(builder, index, Model);
    return OrvaneEndControlledAnimation(builder);
}

ORVANE_API orvane_control* OrvanePlayControlledAnimation(orvane_real32 StartTime,
                                                         const orvane_animation* Animation,
                                                         orvane_model_instance* Model) {
    return OrvanePlayControlledAnimationBinding(StartTime, Animation, nullptr, Model);
}

ORVANE_API void OrvaneUseExistingControlForAnimation(orvane_controlled_animation_builder* Builder,
                                                     orvane_control* Control) {
    ORVANE_CHECK_NOT_NULL(OrvaneControlledAnimationOrigin, Builder, );
    Builder->Control = Control;
}

ORVANE_API void OrvaneSetTrackMatchRule(orvane_controlled_animation_builder* Builder,
                                        orvane_int32 TrackGroupIndex, const char* TrackPattern,
                                        const char* BonePattern) {
    if (TrackGroupRecord* r = Record(Builder, TrackGroupIndex)) {
        r->BindingID.TrackPattern = TrackPattern;
        r->BindingID.BonePattern = BonePattern;
    }
}

ORVANE_API void OrvaneSetTrackGroupTarget(orvane_controlled_animation_builder* Builder,
                                          orvane_int32 TrackGroupIndex,
                                          orvane_model_instance* Target) {
    if (TrackGroupRecord* r = Record(Builder, TrackGroupIndex)) {
        r->Target = Target;
        r->BindingID.OnModel = Target ? OrvaneGetSourceModel(Target) : nullptr;
    }
}

ORVANE_API void OrvaneSetTrackGroupBinding(orvane_controlled_animation_builder* Builder,
                                           orvane_int32 TrackGroupIndex,
                                           orvane_animation_binding* Binding) {
    if (TrackGroupRecord* r = Record(Builder, TrackGroupIndex)) r->AnimationBinding = Binding;
}

ORVANE_API void OrvaneSetTrackGroupBasisTransform(orvane_controlled_animation_builder* Builder,
                                                  orvane_int32 TrackGroupIndex,
                                                  const orvane_model* FromModel,
                                                  const orvane_model* ToModel) {
    if (TrackGroupRecord* r = Record(Builder, TrackGroupIndex)) {
        r->BindingID.FromBasis = FromModel;
        r->BindingID.ToBasis = ToModel;
    }
}

ORVANE_API void OrvaneSetTrackGroupTrackMask(orvane_controlled_animation_builder* Builder,
                                             orvane_int32 TrackGroupIndex,
                                             const orvane_track_mask* TrackMask) {
    if (TrackGroupRecord* r = Record(Builder, TrackGroupIndex)) r->TrackGroupTrackMask = TrackMask;
}

ORVANE_API void OrvaneSetTrackGroupModelMask(orvane_controlled_animation_builder* Builder,
                                             orvane_int32 TrackGroupIndex,
                                             const orvane_track_mask* ModelMask) {
    if (TrackGroupRecord* r = Record(Builder, TrackGroupIndex)) r->TrackGroupModelMask = ModelMask;
}

ORVANE_API void OrvaneSetTrackGroupAccumulation(orvane_controlled_animation_builder* Builder,
                                                orvane_int32 TrackGroupIndex, orvane_int32 Mode) {
    if (TrackGroupRecord* r = Record(Builder, TrackGroupIndex)) r->AccumulationMode = Mode;
}

ORVANE_API void OrvaneSetTrackGroupLOD(orvane_controlled_animation_builder* Builder,
                                       orvane_int32 TrackGroupIndex, orvane_bool CopyValuesOver,
                                       orvane_real32 Scale) {
    if (TrackGroupRecord* r = Record(Builder, TrackGroupIndex))
        r->LODCopyScale = CopyValuesOver ? Scale : -1.0f;
}

ORVANE_API orvane_control* OrvanePlayControlledPose(orvane_real32 StartTime, orvane_real32 Duration,
                                                    const orvane_local_pose* Pose,
                                                    orvane_model_instance* Model,
                                                    const orvane_track_mask* ModelMask) {
    ORVANE_CHECK_NOT_NULL(OrvaneControlledAnimationOrigin, Pose, nullptr);
    ORVANE_CHECK_NOT_NULL(OrvaneControlledAnimationOrigin, Model, nullptr);
    if (!DurationIsUsable(Duration) || !std::isfinite(StartTime)) {
        ORVANE_LOG_ERROR(OrvaneControlledAnimationOrigin,
                         "Duration %f is not a finite time of at least 0 or StartTime %f is not "
                         "finite",
                         double(Duration), double(StartTime));
        return nullptr;
    }
    orvane_control* control = OrvaneCreateControl(StartTime, Duration);
    if (control == nullptr) {
        ORVANE_LOG_ERROR(OrvaneControlledAnimationOrigin, "Unable to create control");
        return nullptr;
    }
    const PoseInitialData init{Pose, ModelMask};
    if (BindControlToModel(&kPoseCallbacks, control, Model, true, &init) == nullptr) {
        OrvaneFreeControl(control);
        ORVANE_LOG_ERROR(OrvaneControlledAnimationOrigin, "Unable to bind track group");
        return nullptr;
    }
    return control;
}

// Model instances, controls and the binding nodes that join them: the records, the library
// lock that guards pools, rings and the animation binding cache, and the operations that the
// binding kinds (controlled animations, controlled poses) build on.
#ifndef ORVANE_MODEL_INSTANCE_H
#define ORVANE_MODEL_INSTANCE_H

#include "core/orvane_private.h"
#include "orvane/instance.h"

#include <cstdint>
#include <mutex>

struct orvane_world_pose;

namespace orvane {

struct BlendSource;
struct BlendMemo;

// What a binding node does when sampled; any entry may be null.
struct ControlBindingCallbacks {
    orvane_animation_binding** (*AnimationBindingField)(orvane_model_control_binding* binding);
    orvane_local_pose** (*LocalPoseField)(orvane_model_control_binding* binding);
    // Fills the payload; false when the node cannot be sampled (it is then freed again).
    bool (*InitializeBinding)(orvane_model_control_binding* binding, const void* initialData);
    void (*AccumulateBindingState)(orvane_model_control_binding* binding, int32_t firstBone,
                                   int32_t boneCount, orvane_local_pose* pose, float allowedError,
                                   const int32_t* sparseBoneArray);
    void (*BuildDirect)(orvane_model_control_binding* binding, int32_t boneCount,
                        const float* offset4x4, orvane_world_pose* result, float allowedError);
    void (*AccumulateRootMotion)(orvane_model_control_binding* binding, float secondsElapsed,
                                 float* totalWeight, float resultTranslation[3],
                                 float resultRotation[3], bool inverse);
    void (*ReleaseBinding)(orvane_model_control_binding* binding);
    // For a dense range sampled without LOD: samples what moves and describes the node's
    // transforms for the one-pass blend; false (having changed nothing the accumulation reads)
    // when the node needs its AccumulateBindingState (masks, root removal).
    bool (*PrepareBlend)(orvane_model_control_binding* binding, int32_t firstBone,
                         int32_t boneCount, BlendSource* source);
};

}  // namespace orvane

// The ring heads inside controls and instances are nodes of this same layout. A head uses
// only the links of its own ring.
struct orvane_model_control_binding {
    orvane_control* Control;
    orvane_model_control_binding* ControlPrevious;
    orvane_model_control_binding* ControlNext;
    orvane_model_instance* ModelInstance;
    orvane_model_control_binding* ModelPrevious;
    orvane_model_control_binding* ModelNext;
    const orvane::ControlBindingCallbacks* Callbacks;
    // Owned by the binding's kind: pointer-sized words on every host.
    void* Payload[4];
    int32_t PayloadInt;
};

struct orvane_model_instance {
    const orvane_model* SourceModel;
    orvane_model_control_binding BindingHead;
    void* UserData[4];
    orvane_model_instance* GlobalNext;
    orvane_model_instance* GlobalPrevious;
    // The one-pass blend's memo of the bones whose sources are all fixed: made when the first
    // node that can describe its transforms is bound, so that sampling never allocates; null
    // until then or when there was no memory for it (the blend then works without).
    orvane::BlendMemo* BlendMemo;
};

struct orvane_control {
    orvane_model_control_binding BindingHead;
    uint32_t Flags;
    float CurrentClock;
    float PendingClockDelta;
    float LocalClock;
    float Speed;
    float LocalDuration;
    int32_t LoopIndex;
    int32_t LoopCount;
    float CompletionClock;
    float Weight;
    float EaseInStartClock;
    float EaseInEndClock;
    uint32_t EaseInValues;
    float EaseOutStartClock;
    float EaseOutEndClock;
    uint32_t EaseOutValues;
    void* UserData[4];
    orvane_control* GlobalNext;
    orvane_control* GlobalPrevious;
};

namespace orvane {

// Guards the pools, the global rings, the rings of every control and instance, and the
// animation binding cache. Recursive: freeing a node releases its animation binding.
std::recursive_mutex& InstanceLock();

// A control contributes to sampling exactly when it is active with a non-zero weight.
inline bool ControlIsPlaying(const orvane_control& c) {
    return (c.Flags & OrvaneControlActive) && c.Weight != 0.0f;
}

// Creates a node (null when the pool fails or the kind refuses its initial data), linked at
// the front of the control's ring and at the front (atFront) or back of the instance's.
orvane_model_control_binding* BindControlToModel(const ControlBindingCallbacks* callbacks,
                                                 orvane_control* control,
                                                 orvane_model_instance* instance, bool atFront,
                                                 const void* initialData);

// Unlinks the node from both rings, releases its payload and returns it to the pool; answers
// its control. Takes the lock.
orvane_control* ReleaseBindingNode(orvane_model_control_binding* binding);
// ReleaseBindingNode, then the free-when-unbound rule applied to the node's control. Takes the
// lock.
void FreeBindingNode(orvane_model_control_binding* binding);
// Moves every node of the control to the front or back of its instance's ring.
void ReorderControlBindings(orvane_control& control);

// The clock arithmetic, for the samplers.
void UpdateLocalClock(orvane_control& control);
float ClampedLocalClock(orvane_control& control);
void LoopState(orvane_control& control, bool* before, bool* after);
float EffectiveWeight(const orvane_control& control);

// Counts of live objects, for the statistics snapshot.
int32_t LiveModelInstanceCount();
int32_t LiveControlCount();

// The global LOD fading factor.
float LODFadingFactor();

// Gives the instance its blend memo when it has none (binding time: never per frame); without
// memory for it the instance goes on without.
void MakeBlendMemo(orvane_model_instance* instance);

}  // namespace orvane

#endif  // ORVANE_MODEL_INSTANCE_H

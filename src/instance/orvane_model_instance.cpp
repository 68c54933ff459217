// Model instances: their pool and global ring, and the per-frame sampling entry points that
// walk an instance's playing bindings.
#include "instance/orvane_model_instance.h"

#include "track/orvane_content_checks.h"
#include "pose/orvane_local_pose.h"
#include "pose/orvane_pose_blend.h"
#include "pose/orvane_world_pose.h"
#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "diag/orvane_timing.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace orvane {
namespace {

orvane_fixed_allocator& InstancePool() {
    static orvane_fixed_allocator pool = [] {
        orvane_fixed_allocator p;
        OrvaneInitializeFixedAllocator(&p, int32_t(sizeof(orvane_model_instance)));
        return p;
    }();
    return pool;
}

// Linked to itself on first use, under the lock.
orvane_model_instance& InstanceRing() {
    static orvane_model_instance head{};
    if (head.GlobalNext == nullptr) head.GlobalNext = head.GlobalPrevious = &head;
    return head;
}

int32_t gLiveInstances = 0;
std::atomic<float> gFadingFactor{0.8f};

// Checks a sampling range once, before any bone is touched.
bool RangeIsValid(const orvane_model_instance* instance, int32_t firstBone, int32_t boneCount,
                  const orvane_local_pose* pose, const int32_t* sparse) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, instance, false);
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, pose, false);
    const orvane_skeleton* skeleton = OrvaneGetSourceSkeleton(instance);
    if (skeleton == nullptr) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "SourceModel->Skeleton is not allowed to be 0");
        return false;
    }
    const int64_t end = int64_t(firstBone) + boneCount;
    const int32_t limit = sparse ? pose->BoneCount : std::min(pose->BoneCount, skeleton->BoneCount);
    if (firstBone < 0 || boneCount < 0 || end > limit) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "Bone range [%d, %d) is out of range [0, %d]",
                         firstBone, int32_t(end), limit);
        return false;
    }
    if (sparse) {
        for (int64_t i = firstBone; i < end; ++i) {
            if (sparse[i] < 0 || sparse[i] >= skeleton->BoneCount) {
                ORVANE_LOG_ERROR(OrvaneAnimationOrigin,
                                 "SparseBoneArray[%d] %d is out of range [0, %d)", int32_t(i),
                                 sparse[i], skeleton->BoneCount);
                return false;
            }
        }
    }
    return true;
}

void AccumulateWalk(orvane_model_instance* instance, int32_t firstBone, int32_t boneCount,
                    orvane_local_pose* pose, float allowedError, const int32_t* sparse) {
    orvane_model_control_binding* head = &instance->BindingHead;
    for (orvane_model_control_binding* b = head->ModelNext; b != head; b = b->ModelNext) {
        if (!ControlIsPlaying(*b->Control)) break;
        if (b->Callbacks && b->Callbacks->AccumulateBindingState)
            b->Callbacks->AccumulateBindingState(b, firstBone, boneCount, pose, allowedError,
                                                 sparse);
    }
}

// A dense range without LOD, when every playing node can describe its transforms: the one-pass
// blend. False when a node cannot (the accumulation walk then runs).
bool BlendWalk(orvane_model_instance* instance, int32_t firstBone, int32_t boneCount,
               orvane_local_pose* pose) {
    BlendSource sources[kMostBlendSources];
    int32_t count = 0;
    orvane_model_control_binding* head = &instance->BindingHead;
    for (orvane_model_control_binding* b = head->ModelNext; b != head; b = b->ModelNext) {
        if (!ControlIsPlaying(*b->Control)) break;
        if (b->Callbacks == nullptr || b->Callbacks->AccumulateBindingState == nullptr) continue;
        if (b->Callbacks->PrepareBlend == nullptr || count == kMostBlendSources ||
            !b->Callbacks->PrepareBlend(b, firstBone, boneCount, &sources[count]))
            return false;
        if (sources[count].boneCount > 0) ++count;
    }
    BlendSourcesIntoPose(*pose, *OrvaneGetSourceSkeleton(instance), firstBone,
                         firstBone + boneCount, sources, count, instance->BlendMemo);
    return true;
}

void SampleWalk(orvane_model_instance* instance, int32_t firstBone, int32_t boneCount,
                orvane_local_pose* pose, float allowedError, const int32_t* sparse) {
    if (boneCount == 0) return;  // an empty range, possibly just past the last bone
    if (sparse == nullptr && allowedError == 0.0f &&
        BlendWalk(instance, firstBone, boneCount, pose))
        return;
    OrvaneBeginLocalPoseAccumulation(pose, firstBone, boneCount, sparse);
    AccumulateWalk(instance, firstBone, boneCount, pose, allowedError, sparse);
    OrvaneEndLocalPoseAccumulation(pose, firstBone, boneCount, OrvaneGetSourceSkeleton(instance),
                                   sparse);
}

}  // namespace

void MakeBlendMemo(orvane_model_instance* instance) {
    if (instance->BlendMemo != nullptr) return;
    const int32_t bones = OrvaneGetSourceSkeleton(instance)->BoneCount;
    if (void* memory = ORVANE_ALLOCATE(16, BlendMemoBytes(bones)))
        instance->BlendMemo = InitBlendMemo(memory, bones);
}

float LODFadingFactor() {
    return gFadingFactor.load(std::memory_order_relaxed);
}

int32_t LiveModelInstanceCount() {
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    return gLiveInstances;
}

}  // namespace orvane

using namespace orvane;

ORVANE_API orvane_model_instance* OrvaneInstantiateModel(const orvane_model* Model) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Model, nullptr);
    // Instances are where models meet the per-frame paths, which index parents and read rest
    // transforms without checking: the model is checked here, once.
    if (!ModelIsSound(Model, OrvaneAnimationOrigin)) return nullptr;
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    auto* m = static_cast<orvane_model_instance*>(OrvaneAllocateFixed(&InstancePool()));
    if (m == nullptr) return nullptr;
    std::memset(static_cast<void*>(m), 0, sizeof(*m));
    m->SourceModel = Model;
    m->BindingHead.ModelInstance = m;
    m->BindingHead.ModelNext = m->BindingHead.ModelPrevious = &m->BindingHead;
    orvane_model_instance& head = InstanceRing();
    m->GlobalNext = head.GlobalNext;
    m->GlobalPrevious = &head;
    head.GlobalNext->GlobalPrevious = m;
    head.GlobalNext = m;
    ++gLiveInstances;
    return m;
}

ORVANE_API void OrvaneFreeModelInstance(orvane_model_instance* ModelInstance) {
    if (ModelInstance == nullptr) return;
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    orvane_model_control_binding* head = &ModelInstance->BindingHead;
    while (head->ModelNext != head)
        FreeBindingNode(head->ModelNext);
    ModelInstance->GlobalPrevious->GlobalNext = ModelInstance->GlobalNext;
    ModelInstance->GlobalNext->GlobalPrevious = ModelInstance->GlobalPrevious;
    --gLiveInstances;
    if (ModelInstance->BlendMemo) ORVANE_DEALLOCATE(ModelInstance->BlendMemo);
    OrvaneDeallocateFixed(&InstancePool(), ModelInstance);
}

ORVANE_API const orvane_model* OrvaneGetSourceModel(const orvane_model_instance* ModelInstance) {
    return ModelInstance->SourceModel;
}

ORVANE_API const orvane_skeleton* OrvaneGetSourceSkeleton(
    const orvane_model_instance* ModelInstance) {
    return ModelInstance->SourceModel ? ModelInstance->SourceModel->Skeleton : nullptr;
}

ORVANE_API void** OrvaneGetModelUserDataArray(orvane_model_instance* ModelInstance) {
    return ModelInstance->UserData;
}

ORVANE_API orvane_model_instance* OrvaneGetGlobalModelInstancesBegin(void) {
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    return InstanceRing().GlobalNext;
}

ORVANE_API orvane_model_instance* OrvaneGetGlobalModelInstancesEnd(void) {
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    return &InstanceRing();
}

ORVANE_API orvane_model_instance* OrvaneGetGlobalNextModelInstance(
    orvane_model_instance* ModelInstance) {
    if (ModelInstance == nullptr) return nullptr;
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    return ModelInstance->GlobalNext;
}

ORVANE_API orvane_model_control_binding* OrvaneModelControlsBegin(
    orvane_model_instance* ModelInstance) {
    return ModelInstance->BindingHead.ModelNext;
}

ORVANE_API orvane_model_control_binding* OrvaneModelControlsEnd(
    orvane_model_instance* ModelInstance) {
    return &ModelInstance->BindingHead;
}

ORVANE_API orvane_model_control_binding* OrvaneModelControlsNext(
    orvane_model_control_binding* Binding) {
    return Binding ? Binding->ModelNext : nullptr;
}

ORVANE_API orvane_model_control_binding* OrvaneControlModelsBegin(orvane_control* Control) {
    return Control->BindingHead.ControlNext;
}

ORVANE_API orvane_model_control_binding* OrvaneControlModelsEnd(orvane_control* Control) {
    return &Control->BindingHead;
}

ORVANE_API orvane_model_control_binding* OrvaneControlModelsNext(
    orvane_model_control_binding* Binding) {
    return Binding ? Binding->ControlNext : nullptr;
}

ORVANE_API orvane_control* OrvaneGetControlFromBinding(orvane_model_control_binding* Binding) {
    return Binding->Control;
}

ORVANE_API orvane_model_instance* OrvaneGetModelInstanceFromBinding(
    orvane_model_control_binding* Binding) {
    return Binding->ModelInstance;
}

ORVANE_API void OrvaneSetModelClock(orvane_model_instance* ModelInstance, orvane_real32 NewClock) {
    ORVANE_TIMING_BLOCK("SetModelClock");
    if (!std::isfinite(NewClock)) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "NewClock %f is not finite", double(NewClock));
        return;
    }
    orvane_model_control_binding* head = &ModelInstance->BindingHead;
    for (orvane_model_control_binding* b = head->ModelNext; b != head; b = b->ModelNext)
        OrvaneSetControlClock(b->Control, NewClock);
}

ORVANE_API void OrvaneFreeCompletedModelControls(orvane_model_instance* ModelInstance) {
    ORVANE_TIMING_BLOCK("FreeCompletedModelControls");
    if (ModelInstance == nullptr) return;
    std::lock_guard<std::recursive_mutex> lock(InstanceLock());
    // Freeing a control frees all its nodes, and a control may have several on this instance
    // (one per track group), so a link saved before the free could point at a freed node: the
    // walk starts again from the front after every free.
    orvane_model_control_binding* head = &ModelInstance->BindingHead;
    bool freed = true;
    while (freed) {
        freed = false;
        for (orvane_model_control_binding* b = head->ModelNext; b != head; b = b->ModelNext) {
            if (OrvaneFreeControlIfComplete(b->Control)) {
                freed = true;
                break;
            }
        }
    }
}

ORVANE_API void OrvaneRecenterAllModelInstanceControlClocks(orvane_model_instance* ModelInstance,
                                                            orvane_real32 Delta) {
    if (!std::isfinite(Delta)) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "Delta %f is not finite", double(Delta));
        return;
    }
    // A control bound to the instance more than once (one node per track group) is shifted
    // once, at its first node: shifting it again would move its clocks away from the
    // application's.
    orvane_model_control_binding* head = &ModelInstance->BindingHead;
    for (orvane_model_control_binding* b = head->ModelNext; b != head; b = b->ModelNext) {
        bool seen = false;
        for (orvane_model_control_binding* e = head->ModelNext; e != b && !seen; e = e->ModelNext)
            seen = e->Control == b->Control;
        if (!seen) OrvaneRecenterControlClocks(b->Control, Delta);
    }
}

ORVANE_API orvane_real32 OrvaneGetGlobalLODFadingFactor(void) {
    return LODFadingFactor();
}

ORVANE_API void OrvaneSetGlobalLODFadingFactor(orvane_real32 Factor) {
    if (Factor > 1.0f) Factor = 1.0f;
    if (!(Factor >= 0.0f)) Factor = 0.0f;
    gFadingFactor.store(Factor, std::memory_order_relaxed);
}

// ------------------------------------------------------------------------------------------
// Sampling.

ORVANE_API void OrvaneAccumulateModelAnimationsLODSparse(
    orvane_model_instance* ModelInstance, orvane_int32 FirstBone, orvane_int32 BoneCount,
    orvane_local_pose* Result, orvane_real32 AllowedError, const orvane_int32* SparseBoneArray) {
    if (!RangeIsValid(ModelInstance, FirstBone, BoneCount, Result, SparseBoneArray)) return;
    AccumulateWalk(ModelInstance, FirstBone, BoneCount, Result, AllowedError, SparseBoneArray);
}

ORVANE_API void OrvaneAccumulateModelAnimationsLOD(orvane_model_instance* ModelInstance,
                                                   orvane_int32 FirstBone, orvane_int32 BoneCount,
                                                   orvane_local_pose* Result,
                                                   orvane_real32 AllowedError) {
    OrvaneAccumulateModelAnimationsLODSparse(ModelInstance, FirstBone, BoneCount, Result,
                                             AllowedError, nullptr);
}

ORVANE_API void OrvaneAccumulateModelAnimations(orvane_model_instance* ModelInstance,
                                                orvane_int32 FirstBone, orvane_int32 BoneCount,
                                                orvane_local_pose* Result) {
    OrvaneAccumulateModelAnimationsLODSparse(ModelInstance, FirstBone, BoneCount, Result, 0.0f,
                                             nullptr);
}

ORVANE_API void OrvaneSampleModelAnimationsLODSparse(orvane_model_instance* ModelInstance,
                                                     orvane_int32 FirstBone, orvane_int32 BoneCount,
                                                     orvane_local_pose* Result,
                                                     orvane_real32 AllowedError,
                                                     const orvane_int32* SparseBoneArray) {
    ORVANE_TIMING_BLOCK("SampleModelAnimationsLODSparse");
    if (!RangeIsValid(ModelInstance, FirstBone, BoneCount, Result, SparseBoneArray)) return;
    SampleWalk(ModelInstance, FirstBone, BoneCount, Result, AllowedError, SparseBoneArray);
}

ORVANE_API void OrvaneSampleModelAnimationsLOD(orvane_model_instance* ModelInstance,
                                               orvane_int32 FirstBone, orvane_int32 BoneCount,
                                               orvane_local_pose* Result,
                                               orvane_real32 AllowedError) {
    OrvaneSampleModelAnimationsLODSparse(ModelInstance, FirstBone, BoneCount, Result, AllowedError,
                                         nullptr);
}

ORVANE_API void OrvaneSampleModelAnimations(orvane_model_instance* ModelInstance,
                                            orvane_int32 FirstBone, orvane_int32 BoneCount,
                                            orvane_local_pose* Result) {
    OrvaneSampleModelAnimationsLODSparse(ModelInstance, FirstBone, BoneCount, Result, 0.0f,
                                         nullptr);
}

ORVANE_API orvane_bool OrvaneSampleSingleModelAnimationLODSparse(
    orvane_model_instance* ModelInstance, orvane_control* Control, orvane_int32 FirstBone,
    orvane_int32 BoneCount, orvane_local_pose* Result, orvane_real32 AllowedError,
    const orvane_int32* SparseBoneArray) {
    ORVANE_TIMING_BLOCK("SampleSingleModelAnimationLODSparse");
    if (!RangeIsValid(ModelInstance, FirstBone, BoneCount, Result, SparseBoneArray)) return false;
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Control, false);
    orvane_model_control_binding* node = nullptr;
    orvane_model_control_binding* head = &Control->BindingHead;
    for (orvane_model_control_binding* b = head->ControlNext; b != head; b = b->ControlNext) {
        if (b->ModelInstance != ModelInstance) continue;
        node = b;
        break;
    }
    const bool playing = node && ControlIsPlaying(*Control) && node->Callbacks &&
                         node->Callbacks->AccumulateBindingState;
    const orvane_skeleton* skeleton = OrvaneGetSourceSkeleton(ModelInstance);
    if (SparseBoneArray == nullptr && AllowedError == 0.0f && BoneCount > 0) {
        // The one-pass blend of the control alone, when its node can describe its transforms.
        BlendSource source{0.0f, 0, nullptr, nullptr, 0};
        if (!playing || (node->Callbacks->PrepareBlend &&
                         node->Callbacks->PrepareBlend(node, FirstBone, BoneCount, &source))) {
            BlendSourcesIntoPose(*Result, *skeleton, FirstBone, FirstBone + BoneCount, &source,
                                 source.boneCount > 0 ? 1 : 0, ModelInstance->BlendMemo);
            return node != nullptr;
        }
    }
    OrvaneBeginLocalPoseAccumulation(Result, FirstBone, BoneCount, SparseBoneArray);
    if (playing)
        node->Callbacks->AccumulateBindingState(node, FirstBone, BoneCount, Result, AllowedError,
                                                SparseBoneArray);
    if (BoneCount > 0)
        OrvaneEndLocalPoseAccumulation(Result, FirstBone, BoneCount, skeleton, SparseBoneArray);
    return node != nullptr;
}

ORVANE_API orvane_bool OrvaneSampleSingleModelAnimationLOD(
    orvane_model_instance* ModelInstance, orvane_control* Control, orvane_int32 FirstBone,
    orvane_int32 BoneCount, orvane_local_pose* Result, orvane_real32 AllowedError) {
    return OrvaneSampleSingleModelAnimationLODSparse(ModelInstance, Control, FirstBone, BoneCount,
                                                     Result, AllowedError, nullptr);
}

ORVANE_API orvane_bool OrvaneSampleSingleModelAnimation(orvane_model_instance* ModelInstance,
                                                        orvane_control* Control,
                                                        orvane_int32 FirstBone,
                                                        orvane_int32 BoneCount,
                                                        orvane_local_pose* Result) {
    return OrvaneSampleSingleModelAnimationLODSparse(ModelInstance, Control, FirstBone, BoneCount,
                                                     Result, 0.0f, nullptr);
}

ORVANE_API void OrvaneSampleModelAnimationsAcceleratedLOD(
    orvane_model_instance* ModelInstance, orvane_int32 BoneCount, const orvane_real32* Offset4x4,
    orvane_local_pose* Scratch, orvane_world_pose* Result, orvane_real32 AllowedError) {
    ORVANE_TIMING_BLOCK("SampleModelAnimationsAcceleratedLOD");
    if (Scratch == nullptr) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "&Scratch is not allowed to be 0");
        return;
    }
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, ModelInstance, );
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Result, );
    const orvane_skeleton* skeleton = OrvaneGetSourceSkeleton(ModelInstance);
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, skeleton, );
    // Every array that is written or read bounds the count, not the skeleton alone.
    if (BoneCount > skeleton->BoneCount) BoneCount = skeleton->BoneCount;
    if (BoneCount > Scratch->BoneCount) BoneCount = Scratch->BoneCount;
    if (BoneCount > Result->BoneCount) BoneCount = Result->BoneCount;
    if (BoneCount <= 0) return;
    alignas(16) float offset[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    // The builders want an aligned offset; a local copy serves any caller alignment.
    if (Offset4x4) std::memcpy(offset, Offset4x4, sizeof(offset));
    orvane_model_control_binding* head = &ModelInstance->BindingHead;
    orvane_model_control_binding* first = head->ModelNext;
    if (first == head || !ControlIsPlaying(*first->Control)) {
        OrvaneBuildRestWorldPose(skeleton, 0, BoneCount, offset, Result);
        return;
    }
    orvane_model_control_binding* second = first->ModelNext;
    if (second != head && ControlIsPlaying(*second->Control)) {
        SampleWalk(ModelInstance, 0, BoneCount, Scratch, AllowedError, nullptr);
        OrvaneBuildWorldPose(skeleton, 0, BoneCount, Scratch, offset, Result);
        return;
    }
    if (first->Callbacks && first->Callbacks->BuildDirect) {
        first->Callbacks->BuildDirect(first, BoneCount, offset, Result, AllowedError);
    } else {
        SampleWalk(ModelInstance, 0, BoneCount, Scratch, AllowedError, nullptr);
        OrvaneBuildWorldPose(skeleton, 0, BoneCount, Scratch, offset, Result);
    }
}

ORVANE_API void OrvaneSampleModelAnimationsAccelerated(orvane_model_instance* ModelInstance,
                                                       orvane_int32 BoneCount,
                                                       const orvane_real32* Offset4x4,
                                                       orvane_local_pose* Scratch,
                                                       orvane_world_pose* Result) {
    OrvaneSampleModelAnimationsAcceleratedLOD(ModelInstance, BoneCount, Offset4x4, Scratch, Result,
                                              0.0f);
}

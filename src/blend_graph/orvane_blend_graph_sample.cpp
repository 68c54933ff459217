// Blend graph sampling: the pose cache (per thread or owned by the application), the
// recursive evaluation of crossfades and weighted blends, and root motion through the tree.
#include "blend_graph/orvane_blend_graph.h"

#include "pose/orvane_local_pose.h"
#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "diag/orvane_timing.h"

#include <cmath>
#include <cstring>

namespace orvane {
namespace {

constexpr int32_t kDefaultPoseCount = 16;
constexpr size_t kPoseAlignment = 16;

size_t PoseBytes(int32_t boneCount) {
    const size_t bytes = size_t(OrvaneGetResultingLocalPoseSize(boneCount));
    return (bytes + kPoseAlignment - 1) & ~(kPoseAlignment - 1);
}

orvane_blend_dag_pose_block* NewBlock(size_t capacity) {
    void* memory = ORVANE_ALLOCATE(kPoseAlignment,
                                   sizeof(orvane_blend_dag_pose_block) + capacity + kPoseAlignment);
    if (memory == nullptr) return nullptr;
    auto* block = static_cast<orvane_blend_dag_pose_block*>(memory);
    block->Next = nullptr;
    block->Capacity = capacity;
    block->Used = 0;
    const uintptr_t start = reinterpret_cast<uintptr_t>(block + 1);
    block->Memory = reinterpret_cast<unsigned char*>((start + kPoseAlignment - 1) &
                                                     ~uintptr_t(kPoseAlignment - 1));
    return block;
}

void FreeBlocks(orvane_blend_dag_pose_block* block) {
    while (block != nullptr) {
        orvane_blend_dag_pose_block* next = block->Next;
        ORVANE_DEALLOCATE(block);
        block = next;
    }
}

bool Prime(orvane_blend_dag_pose_cache& cache, int32_t boneCount, int32_t poseCount) {
    // The cache always holds at least the default count, so any smaller count (a negative
    // one included) asks for the default.
    if (boneCount < 0) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "BoneCount %d is negative", boneCount);
        return false;
    }
    orvane_blend_dag_pose_block* first = cache.First;
    if (first != nullptr) {
        FreeBlocks(first->Next);
        first->Next = nullptr;
    }
    const size_t wanted = size_t(poseCount > kDefaultPoseCount ? poseCount : kDefaultPoseCount) *
                          PoseBytes(boneCount);
    if (first != nullptr && first->Capacity >= wanted) {
        first->Used = 0;
        return true;
    }
    FreeBlocks(first);
    cache.First = NewBlock(wanted);
    if (cache.First == nullptr) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "FirstBlendDagHeapMemory is not allowed to be 0");
        return false;
    }
    return true;
}

// The calling thread's cache; its blocks go with the thread.
struct ThreadCache {
    orvane_blend_dag_pose_cache cache{nullptr, 0};
    ~ThreadCache() { FreeBlocks(cache.First); }
};

orvane_blend_dag_pose_cache& CurrentThreadCache() {
    static thread_local ThreadCache threadCache;
    return threadCache.cache;
}

// Priming and freeing reuse or release the memory of every pose the cache holds, so they wait
// until no sampling through the cache is under way.
bool CacheIsIdle(const orvane_blend_dag_pose_cache& cache) {
    if (cache.SamplingDepth == 0) return true;
    ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "The pose cache is in use by a sampling under way");
    return false;
}

// Counts one sampling under way through a cache for the lifetime of the scope.
struct SamplingScope {
    orvane_blend_dag_pose_cache& cache;
    explicit SamplingScope(orvane_blend_dag_pose_cache& c) : cache(c) { ++cache.SamplingDepth; }
    ~SamplingScope() { --cache.SamplingDepth; }
    SamplingScope(const SamplingScope&) = delete;
    SamplingScope& operator=(const SamplingScope&) = delete;
};

struct Result {
    orvane_local_pose* pose;
    bool scratch;
};

struct Sampling {
    orvane_blend_dag_pose_cache* cache;
    int32_t boneCount;
    float allowedError;
    const int32_t* sparse;
    size_t poseBytes;

    orvane_local_pose* TakePose(float fillThreshold) const {
        orvane_blend_dag_pose_block* block = cache->First;
        if (block == nullptr || block->Capacity - block->Used < poseBytes) {
            size_t capacity = size_t(kDefaultPoseCount) * poseBytes;
            if (block != nullptr && 2 * block->Capacity > capacity) capacity = 2 * block->Capacity;
            orvane_blend_dag_pose_block* grown = NewBlock(capacity);
            if (grown == nullptr) {
                ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "Out of memory for the pose cache");
                return nullptr;
            }
            grown->Next = block;
            cache->First = grown;
            block = grown;
        }
        orvane_local_pose* pose = OrvaneNewLocalPoseInPlace(boneCount, block->Memory + block->Used);
        block->Used += poseBytes;
        if (pose) pose->FillThreshold = fillThreshold;
        return pose;
    }

    // A pose that is not the cache's must hold the bones asked for.
    bool Fits(const orvane_local_pose* pose) const {
        if (pose->BoneCount >= boneCount) return true;
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "A child pose has %d bones, fewer than %d",
                         pose->BoneCount, boneCount);
        return false;
    }

    // The sparse entries within a skeleton of `bones` bones; without the array, the range.
    bool BonesWithin(int32_t bones) const {
        if (sparse == nullptr) {
            if (boneCount <= bones) return true;
            ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "BoneCount %d is past the skeleton's %d",
                             boneCount, bones);
            return false;
        }
        for (int32_t i = 0; i < boneCount; ++i) {
            if (sparse[i] < 0 || sparse[i] >= bones) {
                ORVANE_LOG_ERROR(OrvaneAnimationOrigin,
                                 "SparseBoneArray[%d] %d is out of range [0, %d)", i, sparse[i],
                                 bones);
                return false;
            }
        }
        return true;
    }

    // A scratch pose holding the first boneCount entries of `pose`.
    orvane_local_pose* ScratchCopy(const orvane_local_pose* pose) const {
        orvane_local_pose* copy = TakePose(pose->FillThreshold);
        if (copy == nullptr) return nullptr;
        std::memcpy(copy->Bones, pose->Bones, size_t(boneCount) * sizeof(orvane_local_pose_bone));
        copy->TraversalID = pose->TraversalID;
        return copy;
    }

    // One child's entries into the open accumulation, its mask read at each entry's skeleton
    // bone; the mode and the mask's presence are fixed per child, outside the bone loop.
    template <int Mode, bool Masked>
    void AccumulateChild(orvane_local_pose& pose, const orvane_local_pose& child, float weight,
                         const orvane_track_mask* mask, const orvane_skeleton& skeleton) const {
        for (int32_t j = 0; j < boneCount; ++j) {
            const int32_t s = sparse ? sparse[j] : j;
            const float wj = Masked ? weight * MaskWeight(mask, s) : weight;
            const orvane_transform& t = child.Bones[j].Transform;
            float orientationWeight = wj;
            if (Mode == OrvaneQuaternionBlendInverted)
                orientationWeight = -wj;
            else if (Mode == OrvaneQuaternionBlendNeighborhood)
                orientationWeight =
                    NeighborhoodWeight(wj, skeleton.Bones[s].Transform.Orientation, t.Orientation);
            AccumulateUnchecked(pose, pose.Bones[j], wj, orientationWeight, t);
        }
    }

    Result Evaluate(const orvane_blend_dag_node* node) const;
    Result AnimationBlend(const orvane_blend_dag_node* node) const;
    Result LocalPose(const orvane_blend_dag_node* node) const;
    Result Crossfade(const orvane_blend_dag_node* node) const;
    Result WeightedBlend(const orvane_blend_dag_node* node) const;
};

constexpr Result kFailed{nullptr, false};

Result Sampling::AnimationBlend(const orvane_blend_dag_node* node) const {
    orvane_model_instance* instance = node->AnimationBlend.ModelInstance;
    const orvane_skeleton* skeleton = instance ? OrvaneGetSourceSkeleton(instance) : nullptr;
    if (skeleton == nullptr) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "AnimationBlend node has no instance skeleton");
        return kFailed;
    }
    if (!BonesWithin(skeleton->BoneCount)) return kFailed;
    orvane_local_pose* pose = TakePose(node->AnimationBlend.FillThreshold);
    if (pose == nullptr) return kFailed;
    OrvaneSampleModelAnimationsLODSparse(instance, 0, boneCount, pose, allowedError, sparse);
    return {pose, true};
}

Result Sampling::LocalPose(const orvane_blend_dag_node* node) const {
    orvane_local_pose* source = node->LocalPose.LocalPose;
    if (source == nullptr) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "LocalPose node has a NULL LocalPose");
        return kFailed;
    }
    if (sparse == nullptr) return Fits(source) ? Result{source, false} : kFailed;
    if (!BonesWithin(source->BoneCount)) return kFailed;
    orvane_local_pose* pose = TakePose(source->FillThreshold);
    if (pose == nullptr) return kFailed;
    for (int32_t i = 0; i < boneCount; ++i)
        pose->Bones[i] = source->Bones[sparse[i]];
    pose->TraversalID = source->TraversalID;
    return {pose, true};
}

Result Sampling::Crossfade(const orvane_blend_dag_node* node) const {
    const orvane_blend_dag_crossfade& c = node->Crossfade;
    if (node->NumChildNodes == 0) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "Crossfade node has no children");
        return kFailed;
    }
    if (node->NumChildNodes == 1) return Evaluate(node->ChildNodes[0]);
    if (c.TrackMask != nullptr) {
        if (c.WeightNone < 0.001f && c.WeightAll < 0.001f) return Evaluate(node->ChildNodes[0]);
        if (c.WeightNone > 0.999f && c.WeightAll > 0.999f) return Evaluate(node->ChildNodes[1]);
        if (sparse == nullptr && c.TrackMask->BoneCount != 0 &&
            c.TrackMask->BoneCount != boneCount) {
            ORVANE_LOG_ERROR(OrvaneAnimationOrigin,
                             "Crossfade mask has %d bones where the sampling has %d",
                             c.TrackMask->BoneCount, boneCount);
            return kFailed;
        }
    } else {
        if (c.WeightAll < 0.001f) return Evaluate(node->ChildNodes[0]);
        if (c.WeightAll > 0.999f) return Evaluate(node->ChildNodes[1]);
    }
    Result a = Evaluate(node->ChildNodes[0]);
    if (a.pose == nullptr) return kFailed;
    Result b = Evaluate(node->ChildNodes[1]);
    if (b.pose == nullptr) return kFailed;
    // The composite wants poses of one size: a larger pose from a leaf or a callback is
    // narrowed into a scratch copy.
    if (a.pose->BoneCount != boneCount) a = {ScratchCopy(a.pose), true};
    if (a.pose == nullptr) return kFailed;
    if (b.pose->BoneCount != boneCount) b = {ScratchCopy(b.pose), true};
    if (b.pose == nullptr) return kFailed;
    if (a.scratch) {
        OrvaneModulationCompositeLocalPoseSparse(a.pose, c.WeightNone, c.WeightAll, c.TrackMask,
                                                 b.pose, sparse);
        return a;
    }
    if (b.scratch) {
        OrvaneModulationCompositeLocalPoseSparse(b.pose, 1.0f - c.WeightNone, 1.0f - c.WeightAll,
                                                 c.TrackMask, a.pose, sparse);
        return b;
    }
    orvane_local_pose* copy = ScratchCopy(a.pose);
    if (copy == nullptr) return kFailed;
    OrvaneModulationCompositeLocalPoseSparse(copy, c.WeightNone, c.WeightAll, c.TrackMask, b.pose,
                                             sparse);
    return {copy, true};
}

Result Sampling::WeightedBlend(const orvane_blend_dag_node* node) const {
    const orvane_blend_dag_weighted_blend& w = node->WeightedBlend;
    if (node->NumChildNodes == 1) return Evaluate(node->ChildNodes[0]);
    const orvane_skeleton* skeleton = w.ReferenceSkeleton;
    if (skeleton == nullptr) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "WeightedBlend node has a NULL skeleton");
        return kFailed;
    }
    if (!BonesWithin(skeleton->BoneCount)) return kFailed;
    orvane_local_pose* pose = TakePose(w.FillThreshold);
    if (pose == nullptr) return kFailed;
    OrvaneBeginLocalPoseAccumulation(pose, 0, boneCount, sparse);
    for (int32_t c = 0; c < node->NumChildNodes; ++c) {
        const orvane_blend_dag_node* child = node->ChildNodes[c];
        if (child == nullptr || std::fabs(child->Weight) < 0.001f) continue;
        const Result r = Evaluate(child);
        if (r.pose == nullptr) return kFailed;
        if (!Fits(r.pose)) return kFailed;
        const orvane_track_mask* mask = child->ResultTrackMask;
        switch (w.QuaternionMode) {
            case OrvaneQuaternionBlendInverted:
                mask ? AccumulateChild<OrvaneQuaternionBlendInverted, true>(
                           *pose, *r.pose, child->Weight, mask, *skeleton)
                     : AccumulateChild<OrvaneQuaternionBlendInverted, false>(
                           *pose, *r.pose, child->Weight, mask, *skeleton);
                break;
            case OrvaneQuaternionBlendNeighborhood:
                mask ? AccumulateChild<OrvaneQuaternionBlendNeighborhood, true>(
                           *pose, *r.pose, child->Weight, mask, *skeleton)
                     : AccumulateChild<OrvaneQuaternionBlendNeighborhood, false>(
                           *pose, *r.pose, child->Weight, mask, *skeleton);
                break;
            default:
                mask ? AccumulateChild<OrvaneQuaternionBlendDirect, true>(
                           *pose, *r.pose, child->Weight, mask, *skeleton)
                     : AccumulateChild<OrvaneQuaternionBlendDirect, false>(
                           *pose, *r.pose, child->Weight, mask, *skeleton);
                break;
        }
    }
    OrvaneEndLocalPoseAccumulation(pose, 0, boneCount, skeleton, sparse);
    return {pose, true};
}

Result Sampling::Evaluate(const orvane_blend_dag_node* node) const {
    if (node == nullptr) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "Node has a NULL child");
        return kFailed;
    }
    switch (node->Type) {
        case OrvaneDagNodeType_Leaf_AnimationBlend:
            return AnimationBlend(node);
        case OrvaneDagNodeType_Leaf_LocalPose:
            return LocalPose(node);
        case OrvaneDagNodeType_Leaf_Callback: {
            const orvane_blend_dag_callback& c = node->Callback;
            if (c.SampleCallback == nullptr) {
                ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "Callback node has a NULL SampleCallback");
                return kFailed;
            }
            orvane_local_pose* pose = c.SampleCallback(c.UserData, boneCount, allowedError, sparse);
            if (pose == nullptr || !Fits(pose)) return kFailed;
            return {pose, false};
        }
        case OrvaneDagNodeType_Node_Crossfade:
            return Crossfade(node);
        case OrvaneDagNodeType_Node_WeightedBlend:
            return WeightedBlend(node);
        default:
            ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "Unknown node type %d", node->Type);
            return kFailed;
    }
}

void Zero(float v[3]) {
    v[0] = v[1] = v[2] = 0.0f;
}

void MotionVectors(const orvane_blend_dag_node* node, float seconds, float translation[3],
                   float rotation[3], bool inverse) {
    Zero(translation);
    Zero(rotation);
    if (node == nullptr) return;
    switch (node->Type) {
        case OrvaneDagNodeType_Leaf_AnimationBlend:
            if (node->AnimationBlend.ModelInstance)
                OrvaneGetRootMotionVectors(node->AnimationBlend.ModelInstance, seconds, translation,
                                           rotation, inverse);
            return;
        case OrvaneDagNodeType_Leaf_Callback:
            if (node->Callback.MotionVectorsCallback)
                node->Callback.MotionVectorsCallback(node->Callback.UserData, seconds, translation,
                                                     rotation, inverse);
            return;
        case OrvaneDagNodeType_Node_Crossfade: {
            if (node->NumChildNodes == 0) return;
            if (node->NumChildNodes == 1) {
                MotionVectors(node->ChildNodes[0], seconds, translation, rotation, inverse);
                return;
            }
            const orvane_blend_dag_crossfade& c = node->Crossfade;
            float g = c.WeightAll;
            if (c.TrackMask) {
                const float m = MaskWeight(c.TrackMask, 0);
                g = (1.0f - m) * c.WeightNone + m * c.WeightAll;
            }
            if (g < 0.001f) {
                MotionVectors(node->ChildNodes[0], seconds, translation, rotation, inverse);
                return;
            }
            if (g > 0.999f) {
                MotionVectors(node->ChildNodes[1], seconds, translation, rotation, inverse);
                return;
            }
            float t1[3], r1[3];
            MotionVectors(node->ChildNodes[0], seconds, translation, rotation, inverse);
            MotionVectors(node->ChildNodes[1], seconds, t1, r1, inverse);
            for (int k = 0; k < 3; ++k) {
                translation[k] = (1.0f - g) * translation[k] + g * t1[k];
                rotation[k] = (1.0f - g) * rotation[k] + g * r1[k];
            }
            return;
        }
        case OrvaneDagNodeType_Node_WeightedBlend: {
            if (node->NumChildNodes == 1) {
                MotionVectors(node->ChildNodes[0], seconds, translation, rotation, inverse);
                return;
            }
            float total = 0.0f;
            for (int32_t i = 0; i < node->NumChildNodes; ++i) {
                const orvane_blend_dag_node* child = node->ChildNodes[i];
                if (child == nullptr) continue;
                float g = child->Weight;
                if (child->ResultTrackMask) g *= MaskWeight(child->ResultTrackMask, 0);
                if (std::fabs(g) < 0.001f) continue;
                float t[3], r[3];
                MotionVectors(child, seconds, t, r, inverse);
                for (int k = 0; k < 3; ++k) {
                    translation[k] += g * t[k];
                    rotation[k] += g * r[k];
                }
                total += g;
            }
            if (total > 0.001f) {
                for (int k = 0; k < 3; ++k) {
                    translation[k] /= total;
                    rotation[k] /= total;
                }
            }
            return;
        }
        default:
            return;
    }
}

}  // namespace
}  // namespace orvane

using namespace orvane;

ORVANE_API void OrvanePrimeBlendDagLocalPoseCache(orvane_int32 BoneCount, orvane_int32 PoseCount) {
    orvane_blend_dag_pose_cache& cache = CurrentThreadCache();
    if (CacheIsIdle(cache)) Prime(cache, BoneCount, PoseCount);
}

ORVANE_API void OrvaneFreeBlendDagLocalPoseCache(void) {
    orvane_blend_dag_pose_cache& cache = CurrentThreadCache();
    if (!CacheIsIdle(cache)) return;
    FreeBlocks(cache.First);
    cache.First = nullptr;
}

ORVANE_API orvane_blend_dag_pose_cache* OrvaneNewBlendDagPoseCache(void) {
    auto* cache = static_cast<orvane_blend_dag_pose_cache*>(
        ORVANE_ALLOCATE(alignof(orvane_blend_dag_pose_cache), sizeof(orvane_blend_dag_pose_cache)));
    if (cache) *cache = orvane_blend_dag_pose_cache{nullptr, 0};
    return cache;
}

ORVANE_API void OrvaneFreeBlendDagPoseCache(orvane_blend_dag_pose_cache* Cache) {
    if (Cache == nullptr || !CacheIsIdle(*Cache)) return;
    FreeBlocks(Cache->First);
    ORVANE_DEALLOCATE(Cache);
}

ORVANE_API orvane_bool OrvanePrimeBlendDagPoseCache(orvane_blend_dag_pose_cache* Cache,
                                                    orvane_int32 BoneCount,
                                                    orvane_int32 PoseCount) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Cache, false);
    return CacheIsIdle(*Cache) && Prime(*Cache, BoneCount, PoseCount);
}

ORVANE_API orvane_local_pose* OrvaneSampleBlendDagTreeLODSparseWithCache(
    orvane_blend_dag_pose_cache* Cache, orvane_blend_dag_node* Node, orvane_int32 BoneCount,
    orvane_real32 AllowedError, const orvane_int32* SparseBoneArray) {
    ORVANE_TIMING_BLOCK("SampleBlendDagTreeLODSparse");
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Cache, nullptr);
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Node, nullptr);
    if (BoneCount < 0) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "BoneCount %d is negative", BoneCount);
        return nullptr;
    }
    // A sampling started by a sample callback of another sampling through the same cache
    // takes its poses after the outer one's instead of priming, which would build over them
    // or free them while they are in use; both results stay valid until the next sampling
    // that starts with the cache idle.
    if (Cache->SamplingDepth == 0 && !Prime(*Cache, BoneCount, kDefaultPoseCount)) return nullptr;
    SamplingScope scope(*Cache);
    const Sampling s{Cache, BoneCount, AllowedError, SparseBoneArray, PoseBytes(BoneCount)};
    return s.Evaluate(Node).pose;
}

ORVANE_API orvane_local_pose* OrvaneSampleBlendDagTreeLODSparse(
    orvane_blend_dag_node* Node, orvane_int32 BoneCount, orvane_real32 AllowedError,
    const orvane_int32* SparseBoneArray) {
    return OrvaneSampleBlendDagTreeLODSparseWithCache(&CurrentThreadCache(), Node, BoneCount,
                                                      AllowedError, SparseBoneArray);
}

ORVANE_API orvane_local_pose* OrvaneSampleBlendDagTreeLOD(orvane_blend_dag_node* Node,
                                                          orvane_int32 BoneCount,
                                                          orvane_real32 AllowedError) {
    return OrvaneSampleBlendDagTreeLODSparse(Node, BoneCount, AllowedError, nullptr);
}

ORVANE_API orvane_local_pose* OrvaneSampleBlendDagTree(orvane_blend_dag_node* Node,
                                                       orvane_int32 BoneCount) {
    return OrvaneSampleBlendDagTreeLODSparse(Node, BoneCount, 0.0f, nullptr);
}

ORVANE_API void OrvaneGetBlendDagTreeMotionVectors(orvane_blend_dag_node* Node,
                                                   orvane_real32 SecondsElapsed,
                                                   orvane_real32 ResultTranslation[3],
                                                   orvane_real32 ResultRotation[3],
                                                   orvane_bool Inverse) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, ResultRotation, );
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, ResultTranslation, );
    MotionVectors(Node, SecondsElapsed, ResultTranslation, ResultRotation, Inverse);
}

ORVANE_API void OrvaneUpdateBlendDagTreeMatrix(orvane_blend_dag_node* Node,
                                               orvane_real32 SecondsElapsed,
                                               const orvane_real32 ModelMatrix4x4[16],
                                               orvane_real32 DestMatrix4x4[16],
                                               orvane_bool Inverse) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, ModelMatrix4x4, );
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, DestMatrix4x4, );
    float translation[3], rotation[3];
    MotionVectors(Node, SecondsElapsed, translation, rotation, Inverse);
    OrvaneApplyRootMotionVectorsToMatrix(ModelMatrix4x4, translation, rotation, DestMatrix4x4);
}

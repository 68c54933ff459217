// Local poses: construction, weighted accumulation with its end-of-pass normalisation, the
// world matrix of one bone, attachment offsets, modulation composites and copies.
#include "pose/orvane_local_pose.h"

#include "track/orvane_content_checks.h"
#include "pose/orvane_skeleton.h"
#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "math/orvane_math_internal.h"
#include "orvane/local_pose.h"
#include "orvane/track_mask.h"

#include <cmath>
#include <cstddef>
#include <cstring>

namespace orvane {
namespace {

using namespace accumulation;

void LayOutLocalPose(int32_t boneCount, orvane_local_pose** pose) {
    SetAggregateAlignment(alignof(orvane_local_pose));
    intptr_t owner = AggregateAllocate(pose, sizeof(orvane_local_pose));
    AggregateAllocateArrayMember(owner, offsetof(orvane_local_pose, BoneCount),
                                 offsetof(orvane_local_pose, Bones), boneCount,
                                 sizeof(orvane_local_pose_bone));
}

size_t LaidOutSize(int32_t boneCount) {
    orvane_local_pose* pose = nullptr;
    LayOutLocalPose(boneCount, &pose);
    return ORVANE_AGGREGATE_SIZE();
}

// The largest bone count whose block size is an int32 (what OrvaneGetResultingLocalPoseSize
// can report): memory sized by its 0 for a larger count must not be written.
int32_t LargestBoneCount() {
    static const int32_t largest = [] {
        const size_t header = LaidOutSize(0);
        auto count =
            static_cast<int32_t>((size_t(INT32_MAX) - header) / sizeof(orvane_local_pose_bone));
        while (count > 0 && LaidOutSize(count) > size_t(INT32_MAX))
            --count;
        return count;
    }();
    return largest;
}

bool CheckBoneCount(int32_t boneCount) {
    if (boneCount < 0 || boneCount > LargestBoneCount()) {
        ORVANE_LOG_ERROR(OrvaneLocalPoseOrigin, "BoneCount %d is out of range [0, %d]", boneCount,
                         LargestBoneCount());
        return false;
    }
    return true;
}

}  // namespace

void FinishLocalPoseEntry(const orvane_local_pose& pose, orvane_local_pose_bone& e,
                          const orvane_transform& rest) {
    if (e.Weight < pose.FillThreshold) {
        const float w = pose.FillThreshold - e.Weight;
        AddScaled<false>(e, w, NeighborhoodWeight(w, rest.Orientation, rest.Orientation), rest);
        e.Count += 1;
        e.Weight += w;
    }
    if (e.Weight == 0.0f) {
        // Nothing to normalise by (a zero threshold, or weights that cancelled): the bone
        // shows its rest transform rather than a division by zero.
        e.Transform = rest;
        return;
    }
    float* s = ScaleShearOf(e.Transform);
    const bool scaled = (e.Transform.Flags & kScaleShear) != 0;
    if (!scaled) MaterialiseScaleShear(s, 1.0f);
    if (!(e.Count == 1 && e.Weight == 1.0f)) {
        const float inverse = 1.0f / e.Weight;
#pragma GCC unroll 3
        for (int i = 0; i < 3; ++i)
            e.Transform.Position[i] *= inverse;
        if (scaled) {
#pragma GCC unroll 9
            for (int i = 0; i < 9; ++i)
                s[i] *= inverse;
        }
    }
    float* q = e.Transform.Orientation;
    const float s2 = q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3];
    if (s2 == 0.0f) {
        // Orientations that cancelled (q and -q in the direct mode) have no direction left.
        for (int i = 0; i < 4; ++i)
            q[i] = rest.Orientation[i];
        e.Transform.Flags |= rest.Flags & OrvaneTransformHasOrientation;
        return;
    }
    const float factor = NormalisingFactor(s2);
    for (int i = 0; i < 4; ++i)
        q[i] *= factor;
}

namespace {

// Closes four consecutive entries at once when each takes the common course of
// FinishLocalPoseEntry: touched in the pass, a weight at or above the fill threshold and not zero,
// and a squared orientation length above zero. The operations are FinishLocalPoseEntry's, lane by
// lane in the same order, so the results are the same bits. Returns false, having written nothing,
// when any of the four needs another course.
bool FinishFourCommon(const orvane_local_pose& pose, orvane_local_pose_bone* e) {
    using Int4 = int32_t __attribute__((vector_size(16)));
    const int32_t id = pose.TraversalID;
    if ((e[0].TraversalID != id) | (e[1].TraversalID != id) | (e[2].TraversalID != id) |
        (e[3].TraversalID != id))
        return false;
    const Float4 w = {e[0].Weight, e[1].Weight, e[2].Weight, e[3].Weight};
    const Float4 q0 = Load4(e[0].Transform.Orientation), q1 = Load4(e[1].Transform.Orientation);
    const Float4 q2 = Load4(e[2].Transform.Orientation), q3 = Load4(e[3].Transform.Orientation);
    // The squares transposed, so that lane j sums entry j's four squares in index order.
    const Float4 a0 = q0 * q0, a1 = q1 * q1, a2 = q2 * q2, a3 = q3 * q3;
    const Float4 t0 = __builtin_shufflevector(a0, a1, 0, 4, 1, 5);
    const Float4 t1 = __builtin_shufflevector(a2, a3, 0, 4, 1, 5);
    const Float4 t2 = __builtin_shufflevector(a0, a1, 2, 6, 3, 7);
    const Float4 t3 = __builtin_shufflevector(a2, a3, 2, 6, 3, 7);
    const Float4 s2 =
        __builtin_shufflevector(t0, t1, 0, 1, 4, 5) + __builtin_shufflevector(t0, t1, 2, 3, 6, 7) +
        __builtin_shufflevector(t2, t3, 0, 1, 4, 5) + __builtin_shufflevector(t2, t3, 2, 3, 6, 7);
    const Int4 common = (w >= pose.FillThreshold) & (w != 0.0f) & (s2 > 0.0f);
    if (!(common[0] & common[1] & common[2] & common[3])) return false;
    // NormalisingFactor per lane: the Newton estimate near unit length, else 1 / sqrt.
    const Float4 a = 3.0f - s2;
    Float4 factor = a * (12.0f - s2 * (a * a)) * 0.0625f;
    const Int4 near = (s2 >= 0.9f) & (s2 <= 1.1f);
    if (!(near[0] & near[1] & near[2] & near[3])) {
        const Float4 root = {std::sqrt(s2[0]), std::sqrt(s2[1]), std::sqrt(s2[2]),
                             std::sqrt(s2[3])};
        factor = near ? factor : 1.0f / root;
    }
    const Float4 inverse = 1.0f / w;
    const Float4 q[4] = {q0, q1, q2, q3};
    for (int j = 0; j < 4; ++j) {
        orvane_transform& t = e[j].Transform;
        float* s = ScaleShearOf(t);
        const bool scaled = (t.Flags & kScaleShear) != 0;
        if (!scaled) MaterialiseScaleShear(s, 1.0f);
        if (!(e[j].Count == 1 && e[j].Weight == 1.0f)) {
            const float v = inverse[j];
            t.Position[0] *= v;
            t.Position[1] *= v;
            t.Position[2] *= v;
            if (scaled) {
#pragma GCC unroll 9
                for (int i = 0; i < 9; ++i)
                    s[i] *= v;
            }
        }
        Store4(t.Orientation, q[j] * factor[j]);
    }
    return true;
}

// Closes entry i of a pass: finished when touched, else the rest transform.
[[gnu::always_inline]] inline void FinishOrRest(const orvane_local_pose& pose,
                                                orvane_local_pose_bone& e,
                                                const orvane_transform& rest) {
    if (e.TraversalID == pose.TraversalID) {
        FinishLocalPoseEntry(pose, e, rest);
    } else {
        e.Transform = rest;
    }
}

// The transform of skeleton bone b in a pose, dense (reverse null) or sparse; the rest
// transform for a bone missing from a sparse pose. Null (logged) for an entry outside the pose.
const orvane_transform* PoseTransform(const orvane_skeleton& skeleton,
                                      const orvane_local_pose& pose, int32_t b,
                                      const int32_t* reverse) {
    const int32_t k = reverse ? reverse[b] : b;
    if (reverse && k == -1) return &RestTransform(skeleton, b);
    if (k < 0 || k >= pose.BoneCount) {
        ORVANE_LOG_ERROR(OrvaneLocalPoseOrigin, "BoneIndex %d is out of range [0, %d)", k,
                         pose.BoneCount);
        return nullptr;
    }
    return &pose.Bones[k].Transform;
}

bool WorldMatrixFromLocalPose(const orvane_skeleton* skeleton, int32_t boneIndex,
                              const orvane_local_pose* pose, const float* offset, float* result,
                              const int32_t* reverse) {
    std::memset(result, 0, 16 * sizeof(float));
    result[0] = result[5] = result[10] = result[15] = 1.0f;
    ORVANE_CHECK_NOT_NULL(OrvaneLocalPoseOrigin, skeleton, false);
    ORVANE_CHECK_NOT_NULL(OrvaneLocalPoseOrigin, pose, false);
    const int32_t limit = reverse ? skeleton->BoneCount : pose->BoneCount;
    if (boneIndex < 0 || boneIndex >= limit) {
        ORVANE_LOG_ERROR(OrvaneLocalPoseOrigin, "BoneIndex %d is out of range [0, %d)", boneIndex,
                         limit);
        return false;
    }
    if (boneIndex >= skeleton->BoneCount || skeleton->Bones == nullptr) {
        ORVANE_LOG_ERROR(OrvaneLocalPoseOrigin, "BoneIndex %d is out of range [0, %d)", boneIndex,
                         skeleton->BoneCount);
        return false;
    }
    // The chain below is walked without checks once the bones up to this one hold the rule.
    if (!ParentsPrecede(skeleton->Bones, 0, boneIndex + 1, OrvaneLocalPoseOrigin)) return false;
    float m[16];
    for (int32_t b = boneIndex; b != -1;) {
        const orvane_transform* t = PoseTransform(*skeleton, *pose, b, reverse);
        if (t == nullptr) return false;
        BuildCompositeTransform4x4(*t, m);
        ColumnMatrixMultiply4x3(result, result, m);
        b = skeleton->Bones[b].ParentIndex;
    }
    if (offset) ColumnMatrixMultiply4x3(result, result, offset);
    return true;
}

void BlendEntry(orvane_transform& base, const orvane_transform& composite, float t) {
    base.Flags |= composite.Flags;
    const float u = 1.0f - t;
    if (base.Flags & OrvaneTransformHasPosition) {
        for (int i = 0; i < 3; ++i)
            base.Position[i] = t * composite.Position[i] + u * base.Position[i];
    }
    if (base.Flags & OrvaneTransformHasOrientation) {
        float* q = base.Orientation;
        const float* c = composite.Orientation;
        const float dot = q[0] * c[0] + q[1] * c[1] + q[2] * c[2] + q[3] * c[3];
        const float tq = dot < 0.0f ? -t : t;
        for (int i = 0; i < 4; ++i)
            q[i] = tq * c[i] + u * q[i];
        const float length = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
        if (length > 0.00001f) {
            for (int i = 0; i < 4; ++i)
                q[i] /= length;
        } else {
            for (int i = 0; i < 4; ++i)
                q[i] = 0.0f;
        }
    }
    if (base.Flags & OrvaneTransformHasScaleShear) {
        float* s = ScaleShearOf(base);
        const float* c = ScaleShearOf(composite);
        for (int i = 0; i < 9; ++i)
            s[i] = t * c[i] + u * s[i];
    }
}

void ModulationComposite(orvane_local_pose* base, float weightNone, float weightAll,
                         const orvane_track_mask* mask, const orvane_local_pose* composite,
                         const int32_t* sparseBones) {
    ORVANE_CHECK_NOT_NULL(OrvaneLocalPoseOrigin, base, );
    ORVANE_CHECK_NOT_NULL(OrvaneLocalPoseOrigin, composite, );
    if (composite->BoneCount != base->BoneCount) {
        ORVANE_LOG_ERROR(OrvaneLocalPoseOrigin,
                         "GetLocalPoseBoneCount(CompositePose) %d must be %d", composite->BoneCount,
                         base->BoneCount);
        return;
    }
    // A mask without weights (the exported identity and null masks) weighs every bone by its
    // default, whatever the pose's size.
    if (mask != nullptr && sparseBones == nullptr && mask->BoneCount != 0 &&
        mask->BoneCount != base->BoneCount) {
        ORVANE_LOG_ERROR(OrvaneLocalPoseOrigin, "Mask->BoneCount %d must be %d", mask->BoneCount,
                         base->BoneCount);
        return;
    }
    if (mask == nullptr) weightNone = weightAll;
    const bool uniform = std::fabs(weightAll - weightNone) < 0.001f;
    if (uniform) {
        if (weightNone < 0.001f) return;
        if (weightNone > 0.999f) {
            OrvaneCopyLocalPose(composite, base);
            return;
        }
        for (int32_t i = 0; i < base->BoneCount; ++i)
            BlendEntry(base->Bones[i].Transform, composite->Bones[i].Transform, weightAll);
        return;
    }
    // The checked getter: sparse entries may name any bone, and indices past the mask read
    // its default weight.
    for (int32_t i = 0; i < base->BoneCount; ++i) {
        const int32_t bone = sparseBones ? sparseBones[i] : i;
        const float t =
            weightNone + (weightAll - weightNone) * OrvaneGetTrackMaskBoneWeight(mask, bone);
        BlendEntry(base->Bones[i].Transform, composite->Bones[i].Transform, t);
    }
}

}  // namespace

}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API orvane_int32 OrvaneGetResultingLocalPoseSize(orvane_int32 BoneCount) {
    if (BoneCount < 0 || BoneCount > LargestBoneCount()) return 0;
    return static_cast<int32_t>(LaidOutSize(BoneCount));
}

ORVANE_API orvane_local_pose* OrvaneNewLocalPoseInPlace(orvane_int32 BoneCount, void* Memory) {
    if (Memory == nullptr) return nullptr;
    if (!CheckBoneCount(BoneCount)) return nullptr;
    if (reinterpret_cast<uintptr_t>(Memory) % alignof(orvane_local_pose) != 0) {
        ORVANE_LOG_ERROR(OrvaneLocalPoseOrigin, "Memory %p is not aligned to %d bytes", Memory,
                         int32_t(alignof(orvane_local_pose)));
        return nullptr;
    }
    orvane_local_pose* pose = nullptr;
    LayOutLocalPose(BoneCount, &pose);
    pose = static_cast<orvane_local_pose*>(ORVANE_AGGREGATE_END_IN_PLACE(Memory));
    if (pose == nullptr) return nullptr;
    pose->FillThreshold = kDefaultFillThreshold;
    pose->TraversalID = 0;
    std::memset(static_cast<void*>(pose->Bones), 0,
                size_t(BoneCount) * sizeof(orvane_local_pose_bone));
    // No entry belongs to a pass before the first one is opened.
    for (int32_t i = 0; i < BoneCount; ++i)
        pose->Bones[i].TraversalID = -1;
    return pose;
}

ORVANE_API orvane_local_pose* OrvaneNewLocalPose(orvane_int32 BoneCount) {
    if (!CheckBoneCount(BoneCount)) return nullptr;
    orvane_local_pose* pose = nullptr;
    LayOutLocalPose(BoneCount, &pose);
    void* memory = ORVANE_AGGREGATE_END();
    return memory ? OrvaneNewLocalPoseInPlace(BoneCount, memory) : nullptr;
}

ORVANE_API void OrvaneFreeLocalPose(orvane_local_pose* LocalPose) {
    if (LocalPose) ORVANE_DEALLOCATE(LocalPose);
}

ORVANE_API orvane_int32 OrvaneGetLocalPoseBoneCount(const orvane_local_pose* LocalPose) {
    ORVANE_CHECK_NOT_NULL(OrvaneLocalPoseOrigin, LocalPose, 0);
    return LocalPose->BoneCount;
}

ORVANE_API orvane_transform* OrvaneGetLocalPoseTransform(const orvane_local_pose* LocalPose,
                                                         orvane_int32 BoneIndex) {
    ORVANE_CHECK_NOT_NULL(OrvaneLocalPoseOrigin, LocalPose, nullptr);
    if (BoneIndex < 0 || BoneIndex >= LocalPose->BoneCount) {
        ORVANE_LOG_ERROR(OrvaneLocalPoseOrigin, "BoneIndex %d is out of range [0, %d)", BoneIndex,
                         LocalPose->BoneCount);
        return nullptr;
    }
    return &LocalPose->Bones[BoneIndex].Transform;
}

ORVANE_API orvane_real32 OrvaneGetLocalPoseFillThreshold(const orvane_local_pose* LocalPose) {
    ORVANE_CHECK_NOT_NULL(OrvaneLocalPoseOrigin, LocalPose, 0.0f);
    return LocalPose->FillThreshold;
}

ORVANE_API void OrvaneSetLocalPoseFillThreshold(orvane_local_pose* LocalPose,
                                                orvane_real32 FillThreshold) {
    ORVANE_CHECK_NOT_NULL(OrvaneLocalPoseOrigin, LocalPose, );
    LocalPose->FillThreshold = FillThreshold;
}

ORVANE_API void OrvaneBeginLocalPoseAccumulation(orvane_local_pose* LocalPose, orvane_int32,
                                                 orvane_int32, const orvane_int32*) {
    ORVANE_CHECK_NOT_NULL(OrvaneLocalPoseOrigin, LocalPose, );
    // Wraps instead of overflowing; -1 (the mark of fresh entries) is skipped.
    uint32_t next = static_cast<uint32_t>(LocalPose->TraversalID) + 1u;
    if (next == 0xFFFFFFFFu) next = 0;
    LocalPose->TraversalID = static_cast<int32_t>(next);
}

ORVANE_API void OrvaneAccumulateLocalTransform(orvane_local_pose* LocalPose,
                                               orvane_int32 LocalPoseBoneIndex,
                                               orvane_int32 SkeletonBoneIndex, orvane_real32 Weight,
                                               const orvane_skeleton* ReferenceSkeleton,
                                               orvane_int32 QuaternionMode,
                                               const orvane_transform* Transform) {
    ORVANE_CHECK_NOT_NULL(OrvaneLocalPoseOrigin, LocalPose, );
    ORVANE_CHECK_NOT_NULL(OrvaneLocalPoseOrigin, Transform, );
    if (LocalPoseBoneIndex < 0 || LocalPoseBoneIndex >= LocalPose->BoneCount) {
        ORVANE_LOG_ERROR(OrvaneLocalPoseOrigin, "LocalPoseBoneIndex %d is out of range [0, %d)",
                         LocalPoseBoneIndex, LocalPose->BoneCount);
        return;
    }
    float orientationWeight = Weight;
    if (QuaternionMode == OrvaneQuaternionBlendInverted) {
        orientationWeight = -Weight;
    } else if (QuaternionMode == OrvaneQuaternionBlendNeighborhood) {
        ORVANE_CHECK_NOT_NULL(OrvaneLocalPoseOrigin, ReferenceSkeleton, );
        if (SkeletonBoneIndex < 0 || SkeletonBoneIndex >= ReferenceSkeleton->BoneCount ||
            ReferenceSkeleton->Bones == nullptr) {
            ORVANE_LOG_ERROR(OrvaneLocalPoseOrigin, "SkeletonBoneIndex %d is out of range [0, %d)",
                             SkeletonBoneIndex, ReferenceSkeleton->BoneCount);
            return;
        }
        orientationWeight = NeighborhoodWeight(
            Weight, RestTransform(*ReferenceSkeleton, SkeletonBoneIndex).Orientation,
            Transform->Orientation);
    }
    accumulation::Accumulate<true>(*LocalPose, LocalPose->Bones[LocalPoseBoneIndex], Weight,
                                   orientationWeight, *Transform);
}

ORVANE_API void OrvaneEndLocalPoseAccumulation(orvane_local_pose* LocalPose, orvane_int32 FirstBone,
                                               orvane_int32 BoneCount,
                                               const orvane_skeleton* ReferenceSkeleton,
                                               const orvane_int32* SparseBoneArray) {
    ORVANE_CHECK_NOT_NULL(OrvaneLocalPoseOrigin, LocalPose, );
    const int32_t count = LocalPose->BoneCount;
    // An empty range inside the pose has nothing to finish; one that starts past the last bone
    // is out of range like any other, and a pose without bones has no first bone at all.
    if (BoneCount == 0 && FirstBone >= 0 && FirstBone < count) return;
    if (FirstBone < 0 || FirstBone >= count) {
        ORVANE_LOG_ERROR(OrvaneLocalPoseOrigin, "FirstBone %d is out of range [0, %d)", FirstBone,
                         count);
        return;
    }
    const int64_t end = int64_t(FirstBone) + BoneCount;
    if (end < 0 || end > count) {
        ORVANE_LOG_ERROR(OrvaneLocalPoseOrigin, "FirstBone + BoneCount %d is out of range [%d, %d]",
                         static_cast<int32_t>(end), 0, count);
        return;
    }
    ORVANE_CHECK_NOT_NULL(OrvaneLocalPoseOrigin, ReferenceSkeleton, );
    const int32_t skeletonCount = ReferenceSkeleton->Bones ? ReferenceSkeleton->BoneCount : 0;
    // The skeleton bones that the range reads, checked before anything changes.
    if (SparseBoneArray) {
        for (int32_t i = FirstBone; i < end; ++i) {
            if (SparseBoneArray[i] < 0 || SparseBoneArray[i] >= skeletonCount) {
                ORVANE_LOG_ERROR(OrvaneLocalPoseOrigin, "SparseBoneArray[%i] is out of range", i);
                return;
            }
        }
    } else if (end > skeletonCount) {
        ORVANE_LOG_ERROR(OrvaneLocalPoseOrigin, "FirstBone + BoneCount %d is out of range [%d, %d]",
                         static_cast<int32_t>(end), 0, skeletonCount);
        return;
    }
    int32_t i = FirstBone;
    if (SparseBoneArray == nullptr) {
        // Dense ranges four entries at a time where the four take the common course.
        for (; i + 4 <= end; i += 4) {
            if (FinishFourCommon(*LocalPose, LocalPose->Bones + i)) continue;
            for (int32_t k = i; k < i + 4; ++k)
                FinishOrRest(*LocalPose, LocalPose->Bones[k], RestTransform(*ReferenceSkeleton, k));
        }
    }
    for (; i < end; ++i)
        FinishOrRest(*LocalPose, LocalPose->Bones[i],
                     RestTransform(*ReferenceSkeleton, SparseBoneArray ? SparseBoneArray[i] : i));
}

ORVANE_API void OrvaneGetWorldMatrixFromLocalPose(const orvane_skeleton* Skeleton,
                                                  orvane_int32 BoneIndex,
                                                  const orvane_local_pose* LocalPose,
                                                  const orvane_real32* Offset4x4,
                                                  orvane_real32* Result4x4, const orvane_int32*,
                                                  const orvane_int32* SparseBoneArrayReverse) {
    ORVANE_CHECK_NOT_NULL(OrvaneLocalPoseOrigin, Result4x4, );
    WorldMatrixFromLocalPose(Skeleton, BoneIndex, LocalPose, Offset4x4, Result4x4,
                             SparseBoneArrayReverse);
}

ORVANE_API void OrvaneGetAttachmentOffset(const orvane_skeleton* Skeleton, orvane_int32 BoneIndex,
                                          const orvane_local_pose* LocalPose,
                                          const orvane_real32* Offset4x4, orvane_real32* Result4x4,
                                          const orvane_int32*,
                                          const orvane_int32* SparseBoneArrayReverse) {
    ORVANE_CHECK_NOT_NULL(OrvaneLocalPoseOrigin, Result4x4, );
    float world[16];
    if (!WorldMatrixFromLocalPose(Skeleton, BoneIndex, LocalPose, Offset4x4, world,
                                  SparseBoneArrayReverse)) {
        std::memcpy(Result4x4, world, sizeof world);
        return;
    }
    // A singular world matrix has no inverse: the 3x3 block and the translation become zero
    // instead of depending on what the caller's buffer held.
    InvertAffine4x4(Result4x4, world);
}

ORVANE_API void OrvaneModulationCompositeLocalPose(orvane_local_pose* BasePose,
                                                   orvane_real32 WeightNone,
                                                   orvane_real32 WeightAll,
                                                   const orvane_track_mask* Mask,
                                                   const orvane_local_pose* CompositePose) {
    ModulationComposite(BasePose, WeightNone, WeightAll, Mask, CompositePose, nullptr);
}

ORVANE_API void OrvaneModulationCompositeLocalPoseSparse(orvane_local_pose* BasePose,
                                                         orvane_real32 WeightNone,
                                                         orvane_real32 WeightAll,
                                                         const orvane_track_mask* Mask,
                                                         const orvane_local_pose* CompositePose,
                                                         const orvane_int32* SparseBoneArray) {
    ModulationComposite(BasePose, WeightNone, WeightAll, Mask, CompositePose, SparseBoneArray);
}

ORVANE_API void OrvaneCopyLocalPose(const orvane_local_pose* Source, orvane_local_pose* Dest) {
    ORVANE_CHECK_NOT_NULL(OrvaneLocalPoseOrigin, Source, );
    ORVANE_CHECK_NOT_NULL(OrvaneLocalPoseOrigin, Dest, );
    if (Dest->BoneCount < Source->BoneCount) {
        ORVANE_LOG_ERROR(OrvaneLocalPoseOrigin,
                         "GetLocalPoseBoneCount(Dest) %d must be at least %d", Dest->BoneCount,
                         Source->BoneCount);
        return;
    }
    if (Source == Dest) return;
    Copy(size_t(Source->BoneCount) * sizeof(orvane_local_pose_bone), Source->Bones, Dest->Bones);
}

}  // extern "C"

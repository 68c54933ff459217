// World poses: construction, the choice of the per-bone routines and the builds.
#include "pose/orvane_world_pose.h"

#include "pose/orvane_local_pose.h"
#include "pose/orvane_skeleton.h"
#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "core/orvane_string.h"
#include "diag/orvane_timing.h"
#include "platform/orvane_platform.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace orvane {
namespace {

constexpr uint32_t kMatrixAlignment = 16;
constexpr size_t kMatrixBytes = 16 * sizeof(float);

void LayOutWorldPose(int32_t boneCount, orvane_world_pose** pose) {
    SetAggregateAlignment(kMatrixAlignment);
    intptr_t owner = AggregateAllocate(pose, sizeof(orvane_world_pose));
    size_t bytes;
    if (!CheckedArrayBytes(boneCount, kMatrixBytes, &bytes)) bytes = SIZE_MAX;
    AggregateAllocateMember(owner, offsetof(orvane_world_pose, WorldTransformBuffer), bytes);
    AggregateAllocateMember(owner, offsetof(orvane_world_pose, CompositeTransformBuffer), bytes);
}

size_t LaidOutSize(int32_t boneCount) {
    orvane_world_pose* pose = nullptr;
    LayOutWorldPose(boneCount, &pose);
    return ORVANE_AGGREGATE_SIZE();
}

// The largest bone count whose block size is an int32: the size of a pose grows by its two
// matrices (a multiple of the alignment) per bone.
int32_t LargestBoneCount() {
    static const int32_t largest =
        static_cast<int32_t>((size_t(INT32_MAX) - LaidOutSize(0)) / (2 * kMatrixBytes));
    return largest;
}

// A pose is built only for a count that OrvaneGetResultingWorldPoseSize can size: memory sized
// by its 0 for a larger count must not be written.
bool CheckBoneCount(int32_t boneCount) {
    if (boneCount < 0 || boneCount > LargestBoneCount()) {
        ORVANE_LOG_ERROR(OrvaneWorldPoseOrigin, "BoneCount %d is out of range [0, %d]", boneCount,
                         LargestBoneCount());
        return false;
    }
    return true;
}

bool IsAligned(const void* p) {
    return (reinterpret_cast<uintptr_t>(p) & (kMatrixAlignment - 1)) == 0;
}

const WorldPoseRoutines* Available(WorldPosePath path) {
    switch (path) {
        case WorldPosePath::Generic:
            return GenericWorldPoseRoutines();
        case WorldPosePath::SSE:
            return platform::ProcessorHasSSE() ? SseWorldPoseRoutines() : nullptr;
        case WorldPosePath::AVX2:
            return platform::ProcessorHasAVX2AndFMA() ? Avx2WorldPoseRoutines() : nullptr;
    }
    return nullptr;
}

const WorldPoseRoutines* Choose() {
    if (const char* forced = std::getenv("ORVANE_WORLD_POSE_PATH"); forced && *forced) {
        for (int p = 0; p < kWorldPosePathCount; ++p) {
            const WorldPoseRoutines* r = Available(static_cast<WorldPosePath>(p));
            if (r && StringsAreEqualLowercase(forced, r->name)) return r;
        }
        ORVANE_LOG_WARNING(OrvaneWorldPoseOrigin,
                           "ORVANE_WORLD_POSE_PATH %s is not available here; choosing by processor",
                           forced);
    }
    for (WorldPosePath p : {WorldPosePath::AVX2, WorldPosePath::SSE}) {
        if (const WorldPoseRoutines* r = Available(p)) return r;
    }
    return GenericWorldPoseRoutines();
}

// The offset with a clean fourth column (the affine products never read it, but the identity
// builder copies a root's parent whole), or the identity for null.
void PrepareOffset(const float* offset, float prepared[16]) {
    if (offset == nullptr) {
        std::memset(prepared, 0, kMatrixBytes);
        prepared[0] = prepared[5] = prepared[10] = prepared[15] = 1.0f;
        return;
    }
    std::memcpy(prepared, offset, kMatrixBytes);
    prepared[3] = prepared[7] = prepared[11] = 0.0f;
    prepared[15] = 1.0f;
}

bool CheckEnd(int64_t end, int32_t limit) {
    if (end < 0 || end > limit) {
        // The callers refuse a negative FirstBone or BoneCount first, so end lies in
        // [0, 2 * INT32_MAX]: shown unsigned, as it is, where an int32 would wrap.
        ORVANE_LOG_ERROR(OrvaneWorldPoseOrigin, "OnePastLastBone %u is out of range [%d, %d]",
                         static_cast<uint32_t>(end), 0, limit);
        return false;
    }
    return true;
}

// The checks of a build before anything is written: the range against the limits and
// (sparse) the reverse entries against the pose. The skeleton's parent order is checked by the
// walk, bone by bone, as it reads each parent index (the bones before a broken one are built).
bool CheckBuild(const orvane_skeleton* skeleton, int32_t first, int32_t count,
                const orvane_local_pose* pose, const int32_t* reverse, bool sparse,
                const orvane_world_pose* world, int64_t* end) {
    ORVANE_CHECK_NOT_NULL(OrvaneWorldPoseOrigin, skeleton, false);
    ORVANE_CHECK_NOT_NULL(OrvaneWorldPoseOrigin, world, false);
    *end = int64_t(first) + count;
    if (first < 0 || count < 0) {
        ORVANE_LOG_ERROR(OrvaneWorldPoseOrigin,
                         "FirstBone %d and BoneCount %d must not be negative", first, count);
        return false;
    }
    if (pose) {
        const int32_t poseLimit = sparse ? skeleton->BoneCount : pose->BoneCount;
        if (!CheckEnd(*end, poseLimit)) return false;
    }
    if (!CheckEnd(*end, world->BoneCount)) return false;
    if (!CheckEnd(*end, skeleton->BoneCount)) return false;
    // The walk checks the parent indices as it reads them.
    if (!CheckSkeletonBounds(skeleton, first, static_cast<int32_t>(*end), OrvaneWorldPoseOrigin))
        return false;
    if (sparse) {
        ORVANE_CHECK_NOT_NULL(OrvaneWorldPoseOrigin, reverse, false);
        for (int64_t i = first; i < *end; ++i) {
            if (reverse[i] < -1 || reverse[i] >= pose->BoneCount) {
                ORVANE_LOG_ERROR(OrvaneWorldPoseOrigin,
                                 "SparseBoneArrayReverse[%i] is out of range", int32_t(i));
                return false;
            }
        }
    }
    return true;
}

WorldPoseSource DenseSource(const orvane_local_pose& pose) {
    return {reinterpret_cast<const char*>(&pose.Bones[0].Transform), sizeof(orvane_local_pose_bone),
            nullptr};
}

void Build(const orvane_skeleton* skeleton, int32_t first, int32_t count,
           const orvane_local_pose* pose, const int32_t* reverse, bool sparse, bool rest,
           const float* offset, orvane_world_pose* world, bool composites) {
    if (!rest) ORVANE_CHECK_NOT_NULL(OrvaneWorldPoseOrigin, pose, );
    int64_t end;
    if (!CheckBuild(skeleton, first, count, pose, reverse, sparse, world, &end)) return;
    if (end == first) return;
    alignas(16) float prepared[16];
    PrepareOffset(offset, prepared);
    WorldPoseSource source;
    if (rest) {
        source = {reinterpret_cast<const char*>(&skeleton->Bones[0].Transform), sizeof(orvane_bone),
                  nullptr};
    } else if (sparse) {
        source = DenseSource(*pose);
        source.reverse = reverse;
    } else {
        source = DenseSource(*pose);
    }
    const int32_t built = ChosenWorldPoseRoutines().buildRange(
        skeleton->Bones, first, static_cast<int32_t>(end), source, prepared,
        world->WorldTransformBuffer, composites ? world->CompositeTransformBuffer : nullptr);
    if (built < end) ReportParentOrder(*skeleton, built, OrvaneWorldPoseOrigin);
}

}  // namespace

const WorldPoseRoutines& ChosenWorldPoseRoutines() {
    static const WorldPoseRoutines* const chosen = Choose();  // thread-safe initialisation
    return *chosen;
}

const WorldPoseRoutines* WorldPoseRoutinesFor(WorldPosePath path) {
    return Available(path);
}

}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API orvane_int32 OrvaneGetResultingWorldPoseSize(orvane_int32 BoneCount) {
    if (BoneCount < 0 || BoneCount > LargestBoneCount()) return 0;
    return static_cast<int32_t>(LaidOutSize(BoneCount));
}

ORVANE_API orvane_world_pose* OrvaneNewWorldPoseInPlace(orvane_int32 BoneCount, void* Memory) {
    if (Memory == nullptr) return nullptr;
    if (!CheckBoneCount(BoneCount)) return nullptr;
    if (reinterpret_cast<uintptr_t>(Memory) % alignof(orvane_world_pose) != 0) {
        // The header holds pointers: it cannot live at this address on every host.
        ORVANE_LOG_ERROR(OrvaneWorldPoseOrigin, "Memory %p is not aligned to %d bytes", Memory,
                         int32_t(alignof(orvane_world_pose)));
        return nullptr;
    }
    orvane_world_pose* pose = nullptr;
    LayOutWorldPose(BoneCount, &pose);
    pose = static_cast<orvane_world_pose*>(ORVANE_AGGREGATE_END_IN_PLACE(Memory));
    if (pose == nullptr) return nullptr;
    pose->BoneCount = BoneCount;
    if (!IsAligned(pose->WorldTransformBuffer))
        ORVANE_LOG_WARNING(OrvaneWorldPoseOrigin, "world_pose WorldTransformBuffer is unaligned");
    if (!IsAligned(pose->CompositeTransformBuffer))
        ORVANE_LOG_WARNING(OrvaneWorldPoseOrigin,
                           "world_pose CompositeTransformBuffer is unaligned");
    return pose;
}

ORVANE_API orvane_world_pose* OrvaneNewWorldPose(orvane_int32 BoneCount) {
    if (!CheckBoneCount(BoneCount)) return nullptr;
    orvane_world_pose* pose = nullptr;
    LayOutWorldPose(BoneCount, &pose);
    void* memory = ORVANE_AGGREGATE_END();
    return memory ? OrvaneNewWorldPoseInPlace(BoneCount, memory) : nullptr;
}

ORVANE_API void OrvaneFreeWorldPose(orvane_world_pose* WorldPose) {
    if (WorldPose) ORVANE_DEALLOCATE(WorldPose);
}

ORVANE_API orvane_int32 OrvaneGetWorldPoseBoneCount(const orvane_world_pose* WorldPose) {
    ORVANE_CHECK_NOT_NULL(OrvaneWorldPoseOrigin, WorldPose, 0);
    return WorldPose->BoneCount;
}

ORVANE_API orvane_real32* OrvaneGetWorldPose4x4(const orvane_world_pose* WorldPose,
                                                orvane_int32 BoneIndex) {
    if (WorldPose == nullptr || BoneIndex < 0 || BoneIndex >= WorldPose->BoneCount) return nullptr;
    return WorldPose->WorldTransformBuffer + 16 * size_t(BoneIndex);
}

ORVANE_API orvane_real32* OrvaneGetWorldPoseComposite4x4(const orvane_world_pose* WorldPose,
                                                         orvane_int32 BoneIndex) {
    if (WorldPose == nullptr || BoneIndex < 0 || BoneIndex >= WorldPose->BoneCount) return nullptr;
    return WorldPose->CompositeTransformBuffer + 16 * size_t(BoneIndex);
}

ORVANE_API orvane_real32* OrvaneGetWorldPose4x4Array(const orvane_world_pose* WorldPose) {
    return WorldPose ? WorldPose->WorldTransformBuffer : nullptr;
}

ORVANE_API orvane_real32* OrvaneGetWorldPoseComposite4x4Array(const orvane_world_pose* WorldPose) {
    return WorldPose ? WorldPose->CompositeTransformBuffer : nullptr;
}

ORVANE_API void OrvaneBuildWorldPose(const orvane_skeleton* Skeleton, orvane_int32 FirstBone,
                                     orvane_int32 BoneCount, const orvane_local_pose* LocalPose,
                                     const orvane_real32* Offset4x4, orvane_world_pose* WorldPose) {
    ORVANE_TIMING_BLOCK("BuildWorldPose");
    Build(Skeleton, FirstBone, BoneCount, LocalPose, nullptr, false, false, Offset4x4, WorldPose,
          true);
}

ORVANE_API void OrvaneBuildWorldPoseSparse(const orvane_skeleton* Skeleton, orvane_int32 FirstBone,
                                           orvane_int32 BoneCount, const orvane_int32*,
                                           const orvane_int32* SparseBoneArrayReverse,
                                           const orvane_local_pose* LocalPose,
                                           const orvane_real32* Offset4x4,
                                           orvane_world_pose* WorldPose) {
    ORVANE_TIMING_BLOCK("BuildWorldPoseSparse");
    Build(Skeleton, FirstBone, BoneCount, LocalPose, SparseBoneArrayReverse, true, false, Offset4x4,
          WorldPose, true);
}

ORVANE_API void OrvaneBuildRestWorldPose(const orvane_skeleton* Skeleton, orvane_int32 FirstBone,
                                         orvane_int32 BoneCount, const orvane_real32* Offset4x4,
                                         orvane_world_pose* WorldPose) {
    ORVANE_TIMING_BLOCK("BuildRestWorldPose");
    Build(Skeleton, FirstBone, BoneCount, nullptr, nullptr, false, true, Offset4x4, WorldPose,
          true);
}

ORVANE_API void OrvaneBuildWorldPoseNoComposite(const orvane_skeleton* Skeleton,
                                                orvane_int32 FirstBone, orvane_int32 BoneCount,
                                                const orvane_local_pose* LocalPose,
                                                const orvane_real32* Offset4x4,
                                                orvane_world_pose* WorldPose) {
    ORVANE_TIMING_BLOCK("BuildWorldPoseNoComposite");
    Build(Skeleton, FirstBone, BoneCount, LocalPose, nullptr, false, false, Offset4x4, WorldPose,
          false);
}

ORVANE_API void OrvaneBuildWorldPoseNoCompositeSparse(const orvane_skeleton* Skeleton,
                                                      orvane_int32 FirstBone,
                                                      orvane_int32 BoneCount, const orvane_int32*,
                                                      const orvane_int32* SparseBoneArrayReverse,
                                                      const orvane_local_pose* LocalPose,
                                                      const orvane_real32* Offset4x4,
                                                      orvane_world_pose* WorldPose) {
    ORVANE_TIMING_BLOCK("BuildWorldPoseNoCompositeSparse");
    Build(Skeleton, FirstBone, BoneCount, LocalPose, SparseBoneArrayReverse, true, false, Offset4x4,
          WorldPose, false);
}

ORVANE_API void OrvaneBuildCompositeFromWorldPose(const orvane_skeleton* Skeleton,
                                                  orvane_int32 FirstBone, orvane_int32 BoneCount,
                                                  orvane_world_pose* WorldPose) {
    ORVANE_TIMING_BLOCK("BuildCompositeFromWorldPose");
    ORVANE_CHECK_NOT_NULL(OrvaneWorldPoseOrigin, Skeleton, );
    ORVANE_CHECK_NOT_NULL(OrvaneWorldPoseOrigin, WorldPose, );
    const int64_t end = int64_t(FirstBone) + BoneCount;
    if (FirstBone < 0 || BoneCount < 0) {
        ORVANE_LOG_ERROR(OrvaneWorldPoseOrigin,
                         "FirstBone %d and BoneCount %d must not be negative", FirstBone,
                         BoneCount);
        return;
    }
    if (!CheckEnd(end, WorldPose->BoneCount)) return;
    if (!CheckEnd(end, Skeleton->Bones ? Skeleton->BoneCount : 0)) return;
    ChosenWorldPoseRoutines().buildCompositeRange(
        Skeleton->Bones, FirstBone, static_cast<int32_t>(end), WorldPose->WorldTransformBuffer,
        WorldPose->CompositeTransformBuffer);
}

}  // extern "C"

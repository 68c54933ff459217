// Sparse bone arrays: local poses that hold a subset of a skeleton's bones.
#include "pose/orvane_local_pose.h"

#include "track/orvane_content_checks.h"
#include "pose/orvane_skeleton.h"
#include "core/orvane_log.h"
#include "core/orvane_memory.h"

namespace orvane {
namespace {

bool CheckBone(const orvane_skeleton* skeleton, int32_t bone) {
    ORVANE_CHECK_NOT_NULL(OrvaneLocalPoseOrigin, skeleton, false);
    const int32_t count = skeleton->Bones ? skeleton->BoneCount : 0;
    if (bone < 0 || bone >= count) {
        ORVANE_LOG_ERROR(OrvaneLocalPoseOrigin, "BoneIndex %d is out of range [0, %d)", bone,
                         count);
        return false;
    }
    return true;
}

// Whether the chain from a checked bone to its root can be walked: the bones up to it hold
// the parent-order rule.
bool ChainIsWalkable(const orvane_skeleton& skeleton, int32_t bone) {
    return ParentsPrecede(skeleton.Bones, 0, bone + 1, OrvaneLocalPoseOrigin);
}

}  // namespace
}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API orvane_int32 OrvaneSparseBoneArrayCreateSingleBone(
    const orvane_skeleton* Skeleton, orvane_int32 BoneIndex, orvane_int32* SparseBoneArray,
    orvane_int32* SparseBoneArrayReverse) {
    if (!CheckBone(Skeleton, BoneIndex)) return 0;
    ORVANE_CHECK_NOT_NULL(OrvaneLocalPoseOrigin, SparseBoneArray, 0);
    ORVANE_CHECK_NOT_NULL(OrvaneLocalPoseOrigin, SparseBoneArrayReverse, 0);
    // The chain is checked before anything is written.
    if (!ChainIsWalkable(*Skeleton, BoneIndex)) return 0;
    for (int32_t i = 0; i < Skeleton->BoneCount; ++i)
        SparseBoneArrayReverse[i] = -1;
    int32_t count = 0;
    for (int32_t b = BoneIndex; b != -1; b = Skeleton->Bones[b].ParentIndex) {
        SparseBoneArray[count] = b;
        SparseBoneArrayReverse[b] = count;
        ++count;
    }
    return count;
}

ORVANE_API orvane_int32 OrvaneSparseBoneArrayAddBone(const orvane_skeleton* Skeleton,
                                                     orvane_int32 BoneIndex,
                                                     orvane_int32 InitialBoneCount,
                                                     orvane_int32* SparseBoneArray,
                                                     orvane_int32* SparseBoneArrayReverse) {
    if (!CheckBone(Skeleton, BoneIndex)) return InitialBoneCount;
    ORVANE_CHECK_NOT_NULL(OrvaneLocalPoseOrigin, SparseBoneArray, InitialBoneCount);
    ORVANE_CHECK_NOT_NULL(OrvaneLocalPoseOrigin, SparseBoneArrayReverse, InitialBoneCount);
    const int32_t skeletonCount = Skeleton->BoneCount;
    if (InitialBoneCount < 0 || InitialBoneCount > skeletonCount) {
        ORVANE_LOG_ERROR(OrvaneLocalPoseOrigin, "InitialBoneCount %d is out of range [%d, %d]",
                         InitialBoneCount, 0, skeletonCount);
        return InitialBoneCount;
    }
    // The entries that the insertions move and compare are checked first, so that a damaged
    // array is refused instead of indexing the reverse array with it.
    for (int32_t i = 0; i < InitialBoneCount; ++i) {
        if (SparseBoneArray[i] < 0 || SparseBoneArray[i] >= skeletonCount) {
            ORVANE_LOG_ERROR(OrvaneLocalPoseOrigin, "SparseBoneArray[%i] is out of range", i);
            return InitialBoneCount;
        }
    }
    if (!ChainIsWalkable(*Skeleton, BoneIndex)) return InitialBoneCount;
    // The chain up to the first bone present, checked before anything moves: that bone's
    // place must hold it, and the bones below it must fit.
    int32_t adding = 0;
    for (int32_t b = BoneIndex; b != -1; b = Skeleton->Bones[b].ParentIndex) {
        const int32_t present = SparseBoneArrayReverse[b];
        if (present == -1) {
            ++adding;
            continue;
        }
        if (present < 0 || present >= InitialBoneCount || SparseBoneArray[present] != b) {
            ORVANE_LOG_ERROR(OrvaneLocalPoseOrigin, "SparseBoneArrayReverse[%i] is out of range",
                             b);
            return InitialBoneCount;
        }
        break;
    }
    if (adding > skeletonCount - InitialBoneCount) {
        ORVANE_LOG_ERROR(OrvaneLocalPoseOrigin, "SparseBoneArray is full (%d bones)",
                         InitialBoneCount);
        return InitialBoneCount;
    }
    int32_t count = InitialBoneCount;
    int32_t position = 0;
    for (int32_t b = BoneIndex; b != -1; b = Skeleton->Bones[b].ParentIndex) {
        if (SparseBoneArrayReverse[b] != -1) break;  // its ancestors are present already
        while (position < count && SparseBoneArray[position] >= b)
            ++position;
        for (int32_t k = count; k > position; --k) {
            SparseBoneArray[k] = SparseBoneArray[k - 1];
            SparseBoneArrayReverse[SparseBoneArray[k]] = k;
        }
        SparseBoneArray[position] = b;
        SparseBoneArrayReverse[b] = position;
        ++count;
        ++position;
    }
    return count;
}

ORVANE_API void OrvaneSparseBoneArrayExpand(const orvane_skeleton* Skeleton,
                                            const orvane_local_pose* SparsePose,
                                            orvane_int32 SparseBoneCount, const orvane_int32*,
                                            const orvane_int32* SparseBoneArrayReverse,
                                            orvane_int32 BoneCount, orvane_local_pose* Dest) {
    ORVANE_CHECK_NOT_NULL(OrvaneLocalPoseOrigin, Skeleton, );
    ORVANE_CHECK_NOT_NULL(OrvaneLocalPoseOrigin, SparsePose, );
    ORVANE_CHECK_NOT_NULL(OrvaneLocalPoseOrigin, SparseBoneArrayReverse, );
    ORVANE_CHECK_NOT_NULL(OrvaneLocalPoseOrigin, Dest, );
    const int32_t skeletonCount = Skeleton->Bones ? Skeleton->BoneCount : 0;
    const int32_t limit = skeletonCount < Dest->BoneCount ? skeletonCount : Dest->BoneCount;
    if (BoneCount < 0 || BoneCount > limit) {
        ORVANE_LOG_ERROR(OrvaneLocalPoseOrigin, "BoneCount %d is out of range [%d, %d]", BoneCount,
                         0, limit);
        return;
    }
    if (SparseBoneCount < 0 || SparseBoneCount > SparsePose->BoneCount) {
        ORVANE_LOG_ERROR(OrvaneLocalPoseOrigin, "SparseBoneCount %d is out of range [%d, %d]",
                         SparseBoneCount, 0, SparsePose->BoneCount);
        return;
    }
    for (int32_t i = 0; i < BoneCount; ++i) {
        const int32_t r = SparseBoneArrayReverse[i];
        if (r < -1 || r >= SparseBoneCount) {
            ORVANE_LOG_ERROR(OrvaneLocalPoseOrigin, "SparseBoneArrayReverse[%i] is out of range",
                             i);
            return;
        }
        // Written in place, an entry would be read after another bone's transform replaced
        // it; in place works only where every present bone keeps its entry.
        if (Dest == SparsePose && r != -1 && r != i) {
            ORVANE_LOG_ERROR(OrvaneLocalPoseOrigin,
                             "Dest is SparsePose and bone %i is not in entry %i", i, i);
            return;
        }
    }
    for (int32_t i = 0; i < BoneCount; ++i) {
        const int32_t r = SparseBoneArrayReverse[i];
        Dest->Bones[i].Transform =
            r == -1 ? RestTransform(*Skeleton, i) : SparsePose->Bones[r].Transform;
    }
}

ORVANE_API orvane_bool OrvaneSparseBoneArrayIsValid(orvane_int32 SkeletonBoneCount,
                                                    orvane_int32 SparseBoneCount,
                                                    const orvane_int32* SparseBoneArray,
                                                    const orvane_int32* SparseBoneArrayReverse) {
    ORVANE_CHECK_NOT_NULL(OrvaneLocalPoseOrigin, SparseBoneArray, false);
    ORVANE_CHECK_NOT_NULL(OrvaneLocalPoseOrigin, SparseBoneArrayReverse, false);
    for (int32_t i = 0; i < SparseBoneCount; ++i) {
        const int32_t bone = SparseBoneArray[i];
        if (bone < 0 || bone >= SkeletonBoneCount) {
            ORVANE_LOG_ERROR(OrvaneLocalPoseOrigin, "SparseBoneArray[%i] is out of range", i);
            return false;
        }
        if (SparseBoneArrayReverse[bone] != i) {
            ORVANE_LOG_ERROR(OrvaneLocalPoseOrigin, "SparseBoneArrayReverse[%i] should be %i", bone,
                             i);
            return false;
        }
    }
    for (int32_t j = 0; j < SkeletonBoneCount; ++j) {
        const int32_t r = SparseBoneArrayReverse[j];
        if (r == -1) continue;
        if (r < 0 || r >= SparseBoneCount) {
            ORVANE_LOG_ERROR(OrvaneLocalPoseOrigin, "SparseBoneArrayReverse[%i] is out of range",
                             j);
            return false;
        }
        if (SparseBoneArray[r] != j) {
            ORVANE_LOG_ERROR(OrvaneLocalPoseOrigin, "SparseBoneArray[%i] should be %i", r, j);
            return false;
        }
    }
    return true;
}

}  // extern "C"

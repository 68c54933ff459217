// Lookups and hierarchy composition on built skeletons.
#include "pose/orvane_skeleton.h"

#include "track/orvane_content_checks.h"

#include "core/orvane_log.h"
#include "core/orvane_string.h"
#include "diag/orvane_timing.h"
#include "math/orvane_math_internal.h"
#include "orvane/skeleton.h"

namespace orvane {

bool CheckSkeletonBounds(const orvane_skeleton* skeleton, int32_t first, int32_t end,
                         orvane_log_message_origin origin) {
    if (skeleton == nullptr) {
        ORVANE_LOG_ERROR(origin, "Skeleton is not allowed to be 0");
        return false;
    }
    if (skeleton->BoneCount < 0 || (skeleton->BoneCount > 0 && skeleton->Bones == nullptr)) {
        ORVANE_LOG_ERROR(origin, "Skeleton has %d bones and no bone array", skeleton->BoneCount);
        return false;
    }
    if (first < 0 || end > skeleton->BoneCount || first > end) {
        ORVANE_LOG_ERROR(origin, "Bones [%d, %d) are out of the skeleton's range [0, %d]", first,
                         end, skeleton->BoneCount);
        return false;
    }
    return true;
}

bool CheckSkeletonRange(const orvane_skeleton* skeleton, int32_t first, int32_t end,
                        orvane_log_message_origin origin) {
    // One pass over plain integers; the walks then index parents without checks.
    return CheckSkeletonBounds(skeleton, first, end, origin) &&
           ParentsPrecede(skeleton->Bones, first, end, origin);
}

void ReportParentOrder(const orvane_skeleton& skeleton, int32_t bone,
                       orvane_log_message_origin origin) {
    // The message of the check before a walk.
    ParentsPrecede(skeleton.Bones, bone, bone + 1, origin);
}

namespace {

template <bool Lowercase>
bool FindBone(const orvane_skeleton* skeleton, const char* name, int32_t* boneIndex) {
    if (skeleton == nullptr || boneIndex == nullptr) return false;
    const int32_t count = skeleton->Bones ? skeleton->BoneCount : 0;
    const orvane_string_comparison_callback compare = GetStringComparisonCallback();
    for (int32_t i = 0;; ++i) {
        *boneIndex = i;
        if (i >= count) return false;
        const char* boneName = skeleton->Bones[i].Name;
        bool equal;
        if (compare) {
            equal = compare(name, boneName) == 0;
        } else if constexpr (Lowercase) {
            equal = StringsAreEqualLowercase(name, boneName);
        } else {
            equal = StringsAreEqual(name, boneName);
        }
        if (equal) return true;
    }
}

const orvane_transform& TransformAt(const orvane_transform* base, int32_t stride, int32_t i) {
    return *reinterpret_cast<const orvane_transform*>(reinterpret_cast<const char*>(base) +
                                                      static_cast<intptr_t>(i) * stride);
}
orvane_transform& TransformAt(orvane_transform* base, int32_t stride, int32_t i) {
    return *reinterpret_cast<orvane_transform*>(reinterpret_cast<char*>(base) +
                                                static_cast<intptr_t>(i) * stride);
}
int32_t ParentAt(const int32_t* base, int32_t stride, int32_t i) {
    int32_t parent;
    std::memcpy(&parent, reinterpret_cast<const char*>(base) + static_cast<intptr_t>(i) * stride,
                sizeof parent);
    return parent;
}

}  // namespace

}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API orvane_bool OrvaneFindBoneByName(const orvane_skeleton* Skeleton, const char* Name,
                                            orvane_int32* BoneIndex) {
    ORVANE_TIMING_BLOCK("FindBoneByName");
    return FindBone<false>(Skeleton, Name, BoneIndex);
}

ORVANE_API orvane_bool OrvaneFindBoneByNameLowercase(const orvane_skeleton* Skeleton,
                                                     const char* Name, orvane_int32* BoneIndex) {
    ORVANE_TIMING_BLOCK("FindBoneByNameLowercase");
    return FindBone<true>(Skeleton, Name, BoneIndex);
}

ORVANE_API void OrvaneBuildSkeletonRelativeTransform(orvane_int32 SourceTransformStride,
                                                     const orvane_transform* SourceTransforms,
                                                     orvane_int32 SourceParentStride,
                                                     const orvane_int32* SourceParents,
                                                     orvane_int32 BoneIndex,
                                                     orvane_transform* Result) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Result, );
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, SourceTransforms, );
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, SourceParents, );
    if (BoneIndex < 0) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "BoneIndex %d is out of range [0, ...)", BoneIndex);
        OrvaneMakeIdentity(Result);
        return;
    }
    // Each step must move to a lower index, so the walk ends after at most BoneIndex steps
    // and never reads before the arrays.
    for (int32_t b = BoneIndex, p = ParentAt(SourceParents, SourceParentStride, b); p != -1;
         b = p, p = ParentAt(SourceParents, SourceParentStride, b)) {
        if (p < -1 || p >= b) {
            ORVANE_LOG_ERROR(OrvaneAnimationOrigin,
                             "Bone %d has parent index %d, which does not precede it", b, p);
            OrvaneMakeIdentity(Result);
            return;
        }
    }
    int32_t parent = ParentAt(SourceParents, SourceParentStride, BoneIndex);
    const orvane_transform& own = TransformAt(SourceTransforms, SourceTransformStride, BoneIndex);
    if (parent == -1) {
        *Result = own;
        return;
    }
    MultiplyTransforms(*Result, TransformAt(SourceTransforms, SourceTransformStride, parent), own);
    for (int32_t p = ParentAt(SourceParents, SourceParentStride, parent); p != -1;
         p = ParentAt(SourceParents, SourceParentStride, p)) {
        MultiplyTransforms(*Result, TransformAt(SourceTransforms, SourceTransformStride, p),
                           *Result);
    }
}

ORVANE_API void OrvaneBuildSkeletonRelativeTransforms(orvane_int32 SourceTransformStride,
                                                      const orvane_transform* SourceTransforms,
                                                      orvane_int32 SourceParentStride,
                                                      const orvane_int32* SourceParents,
                                                      orvane_int32 Count, orvane_int32 ResultStride,
                                                      orvane_transform* Results) {
    if (Count <= 0) return;
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, SourceTransforms, );
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, SourceParents, );
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Results, );
    for (int32_t i = 0; i < Count; ++i) {
        const int32_t p = ParentAt(SourceParents, SourceParentStride, i);
        if (p < -1 || p >= i) {
            ORVANE_LOG_ERROR(OrvaneAnimationOrigin,
                             "Bone %d has parent index %d, which does not precede it", i, p);
            return;
        }
    }
    const bool inPlace = static_cast<const void*>(SourceTransforms) == Results;
    for (int32_t i = 0; i < Count; ++i) {
        const int32_t p = ParentAt(SourceParents, SourceParentStride, i);
        orvane_transform& r = TransformAt(Results, ResultStride, i);
        if (inPlace) {
            if (p != -1) MultiplyTransforms(r, TransformAt(Results, ResultStride, p), r);
        } else if (p == -1) {
            r = TransformAt(SourceTransforms, SourceTransformStride, i);
        } else {
            MultiplyTransforms(r, TransformAt(Results, ResultStride, p),
                               TransformAt(SourceTransforms, SourceTransformStride, i));
        }
    }
}

}  // extern "C"

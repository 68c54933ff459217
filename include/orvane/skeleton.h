/* Orvane skeletons: bone lookups and skeleton-relative transforms.
 *
 * Units: positions in the content's length unit, orientations as quaternions (x, y, z, w),
 * 4x4 matrices as sixteen reals in the layout of OrvaneBuildCompositeTransform4x4 (groups of
 * four are the columns of the column-vector matrix; read as a row-major array it is the matrix
 * for row vectors, p' = p * M; translation in elements 12..14, elements 3, 7, 11 zero, 15 one).
 * A product A * B of such arrays applies A first.
 *
 * Threading: no call takes a lock. Distinct skeletons, builders and poses may be used from
 * different threads at once; one pose must not be written from two threads at once. The
 * string comparison callback (core.h) and the timing blocks (diag.h) are the only shared
 * state read here; the one-time choice of the processor-specific world-pose routines is
 * race-free.
 *
 * Failures are logged (core.h) and give the result stated per function; nothing here
 * throws or aborts. Bone indices from a skeleton, a sparse array or a caller are checked
 * before they index anything. */
#ifndef ORVANE_PUBLIC_SKELETON_H
#define ORVANE_PUBLIC_SKELETON_H

#include "orvane/common.h"
#include "orvane/math.h"
#include "orvane/types.h"

ORVANE_EXTERN_C_BEGIN

/* ---------------------------------------------------------------------------------------- */
/* Skeletons                                                                                */
/* ---------------------------------------------------------------------------------------- */
/* A skeleton (types.h) lists parents before children: every bone's ParentIndex is -1 (a root)
 * or lower than its own index. Operations that walk the hierarchy refuse, with an error, a
 * skeleton that breaks this rule. */

/* Looks for the first bone whose Name equals Name: through the string comparison callback
 * when one is installed (equal when it returns 0), byte for byte otherwise. *BoneIndex is
 * written with each index tried, so after a failed search it holds the bone count. A null
 * skeleton (or BoneIndex) gives false and leaves *BoneIndex untouched. */
ORVANE_API orvane_bool OrvaneFindBoneByName(const orvane_skeleton* Skeleton, const char* Name,
                                            orvane_int32* BoneIndex);
/* The same with ASCII A-Z folded to a-z on both sides (the callback, when installed, decides
 * instead). */
ORVANE_API orvane_bool OrvaneFindBoneByNameLowercase(const orvane_skeleton* Skeleton,
                                                     const char* Name, orvane_int32* BoneIndex);

/* Result = T(root) o ... o T(parent) o T(bone): the bone's transform relative to the skeleton.
 * T(i) is the transform at SourceTransforms + i * SourceTransformStride and P(i) the parent
 * index at SourceParents + i * SourceParentStride (strides in bytes, so both can be read out
 * of an array of orvane_bone or out of packed arrays). A negative BoneIndex, or a parent
 * index that is below -1 or not lower than its child's, is refused with an error and Result
 * becomes the identity. */
ORVANE_API void OrvaneBuildSkeletonRelativeTransform(orvane_int32 SourceTransformStride,
                                                     const orvane_transform* SourceTransforms,
                                                     orvane_int32 SourceParentStride,
                                                     const orvane_int32* SourceParents,
                                                     orvane_int32 BoneIndex,
                                                     orvane_transform* Result);
/* The skeleton-relative transforms of bones 0 to Count-1 into Results (stride in bytes).
 * When Results is SourceTransforms the transforms are composed in place. The parent indices
 * are checked first (each -1 or lower than its bone's index): on a violation an error is
 * logged and nothing is written. */
ORVANE_API void OrvaneBuildSkeletonRelativeTransforms(orvane_int32 SourceTransformStride,
                                                      const orvane_transform* SourceTransforms,
                                                      orvane_int32 SourceParentStride,
                                                      const orvane_int32* SourceParents,
                                                      orvane_int32 Count, orvane_int32 ResultStride,
                                                      orvane_transform* Results);

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_SKELETON_H */

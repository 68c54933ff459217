/* Orvane skeleton builder (offline): skeletons from bones added in any order. */
#ifndef ORVANE_PUBLIC_SKELETON_BUILDER_H
#define ORVANE_PUBLIC_SKELETON_BUILDER_H

#include "orvane/common.h"
#include "orvane/math.h"
#include "orvane/types.h"

ORVANE_EXTERN_C_BEGIN

/* The skeleton builder: OrvaneBeginSkeleton, then OrvaneAddBone per bone and
 * OrvaneSetBoneParent per non-root bone (any order), then OrvaneEndSkeleton, or
 * OrvaneGetResultingSkeletonSize and OrvaneEndSkeletonInPlace. Both ends free the builder.
 * The result lists all roots in their order of addition, then the other bones in their order
 * of addition, each preceded by those of its ancestors not yet written. Bone names are left
 * null: the caller names the bones through the remapping table. A builder belongs to one
 * thread at a time. */
typedef struct orvane_skeleton_builder orvane_skeleton_builder;

/* Null when BoneCount is negative or memory runs out. */
ORVANE_API orvane_skeleton_builder* OrvaneBeginSkeleton(orvane_int32 BoneCount);
/* Adds the next bone (its builder index is the number added before it) with its rest
 * transform relative to its parent and its rest world transform; each transform's flags come
 * from the identity check (math.h). Beyond the capacity, or with a null component: an error,
 * nothing added. */
ORVANE_API void OrvaneAddBone(orvane_skeleton_builder* Builder,
                              const orvane_real32 LocalPosition[3],
                              const orvane_real32 LocalOrientation[4],
                              const orvane_real32 LocalScaleShear[9],
                              const orvane_real32 WorldPosition[3],
                              const orvane_real32 WorldOrientation[4],
                              const orvane_real32 WorldScaleShear[9]);
/* ParentIndex -1 makes the bone a root. A BoneIndex outside [0, capacity) or a ParentIndex
 * outside [-1, capacity) logs an error and stores nothing. */
ORVANE_API void OrvaneSetBoneParent(orvane_skeleton_builder* Builder, orvane_int32 BoneIndex,
                                    orvane_int32 ParentIndex);
/* Bytes for the skeleton header and the bones added so far; 0 for a null builder. */
ORVANE_API orvane_int32 OrvaneGetResultingSkeletonSize(const orvane_skeleton_builder* Builder);
/* Writes the skeleton into Memory (OrvaneGetResultingSkeletonSize bytes, pointer-aligned) and
 * frees the builder. RemappingTable, when given, receives for each builder index (bones
 * added) the bone's index in the result. Each bone's InverseWorldTransform is the affine
 * inverse of its world transform's matrix (zero 3x3 block and translation when that is
 * singular). Returns null for a null builder or memory, and when the parent links form a
 * cycle or name a bone that was never added (logged; the memory then holds no skeleton). */
ORVANE_API orvane_skeleton* OrvaneEndSkeletonInPlace(orvane_skeleton_builder* Builder, void* Memory,
                                                     orvane_int32* RemappingTable);
/* As above in memory from the library allocator; the caller frees the skeleton as one block
 * (OrvaneFreeBuilderResult). */
ORVANE_API orvane_skeleton* OrvaneEndSkeleton(orvane_skeleton_builder* Builder,
                                              orvane_int32* RemappingTable);

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_SKELETON_BUILDER_H */

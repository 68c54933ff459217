/* Orvane world poses: world and composite matrices of a local pose.
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
#ifndef ORVANE_PUBLIC_WORLD_POSE_H
#define ORVANE_PUBLIC_WORLD_POSE_H

#include "orvane/common.h"
#include "orvane/math.h"
#include "orvane/types.h"
#include "orvane/local_pose.h"

ORVANE_EXTERN_C_BEGIN

/* ---------------------------------------------------------------------------------------- */
/* World poses                                                                              */
/* ---------------------------------------------------------------------------------------- */
/* A world pose holds per bone its world matrix, World(i) = M(local i) * World(parent) (the
 * offset for a root; a null offset is the identity), and its composite matrix,
 * Composite(i) = InverseWorldTransform(i) * World(i), the matrix that carries a rest-pose
 * vertex to the current pose. Both arrays are 16-byte aligned. The builds walk the bones in
 * increasing order; bones before FirstBone are taken as built. A range outside the local
 * pose, the skeleton or the world pose logs an error and writes nothing. A bone of the range
 * whose parent index is neither -1 nor below its own logs an error and ends the walk there:
 * the bones before it are built, it and the bones after it are not written (the walk checks
 * each parent index as it reads it). */
typedef struct orvane_world_pose orvane_world_pose;

/* Null when BoneCount is negative or too large (its size, below, would be 0) or memory runs
 * out. The matrices are not initialised. */
ORVANE_API orvane_world_pose* OrvaneNewWorldPose(orvane_int32 BoneCount);
ORVANE_API void OrvaneFreeWorldPose(orvane_world_pose* WorldPose);
/* Bytes for a pose of BoneCount bones (built at a 16-byte boundary); 0 for a negative count or
 * one whose size would exceed INT32_MAX (16777215 bones is the largest count). */
ORVANE_API orvane_int32 OrvaneGetResultingWorldPoseSize(orvane_int32 BoneCount);
/* Builds the pose in Memory (OrvaneGetResultingWorldPoseSize bytes); warns when the matrix
 * arrays do not fall on 16-byte boundaries (the pose works all the same, more slowly). Null
 * for null memory, memory that is not pointer-aligned (an error), or a count that is negative or
 * too large (an error). */
ORVANE_API orvane_world_pose* OrvaneNewWorldPoseInPlace(orvane_int32 BoneCount, void* Memory);
ORVANE_API orvane_int32 OrvaneGetWorldPoseBoneCount(const orvane_world_pose* WorldPose);
/* The bone's matrix, null for an index outside [0, bone count). */
ORVANE_API orvane_real32* OrvaneGetWorldPose4x4(const orvane_world_pose* WorldPose,
                                                orvane_int32 BoneIndex);
ORVANE_API orvane_real32* OrvaneGetWorldPoseComposite4x4(const orvane_world_pose* WorldPose,
                                                         orvane_int32 BoneIndex);
/* The first of BoneCount consecutive matrices (16 reals each). */
ORVANE_API orvane_real32* OrvaneGetWorldPose4x4Array(const orvane_world_pose* WorldPose);
ORVANE_API orvane_real32* OrvaneGetWorldPoseComposite4x4Array(const orvane_world_pose* WorldPose);

/* World and composite matrices of bones FirstBone to FirstBone+BoneCount-1 from the local
 * pose (entry i for bone i). */
ORVANE_API void OrvaneBuildWorldPose(const orvane_skeleton* Skeleton, orvane_int32 FirstBone,
                                     orvane_int32 BoneCount, const orvane_local_pose* LocalPose,
                                     const orvane_real32* Offset4x4, orvane_world_pose* WorldPose);
/* The same from a sparse local pose: bone i takes entry SparseBoneArrayReverse[i], or its rest
 * transform when that is -1 (SparseBoneArray is not read). */
ORVANE_API void OrvaneBuildWorldPoseSparse(const orvane_skeleton* Skeleton, orvane_int32 FirstBone,
                                           orvane_int32 BoneCount,
                                           const orvane_int32* SparseBoneArray,
                                           const orvane_int32* SparseBoneArrayReverse,
                                           const orvane_local_pose* LocalPose,
                                           const orvane_real32* Offset4x4,
                                           orvane_world_pose* WorldPose);
/* The same from the skeleton's rest transforms. */
ORVANE_API void OrvaneBuildRestWorldPose(const orvane_skeleton* Skeleton, orvane_int32 FirstBone,
                                         orvane_int32 BoneCount, const orvane_real32* Offset4x4,
                                         orvane_world_pose* WorldPose);
/* World matrices only. */
ORVANE_API void OrvaneBuildWorldPoseNoComposite(const orvane_skeleton* Skeleton,
                                                orvane_int32 FirstBone, orvane_int32 BoneCount,
                                                const orvane_local_pose* LocalPose,
                                                const orvane_real32* Offset4x4,
                                                orvane_world_pose* WorldPose);
ORVANE_API void OrvaneBuildWorldPoseNoCompositeSparse(
    const orvane_skeleton* Skeleton, orvane_int32 FirstBone, orvane_int32 BoneCount,
    const orvane_int32* SparseBoneArray, const orvane_int32* SparseBoneArrayReverse,
    const orvane_local_pose* LocalPose, const orvane_real32* Offset4x4,
    orvane_world_pose* WorldPose);
/* Composite matrices from the world matrices already in the pose. */
ORVANE_API void OrvaneBuildCompositeFromWorldPose(const orvane_skeleton* Skeleton,
                                                  orvane_int32 FirstBone, orvane_int32 BoneCount,
                                                  orvane_world_pose* WorldPose);

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_WORLD_POSE_H */

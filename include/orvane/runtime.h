/* Orvane animation runtime: skeletons, local poses and world poses.
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
#ifndef ORVANE_RUNTIME_H
#define ORVANE_RUNTIME_H

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
/* The skeleton-relative transforms of bones 0 .. Count-1 into Results (stride in bytes).
 * When Results is SourceTransforms the transforms are composed in place. The parent indices
 * are checked first (each -1 or lower than its bone's index): on a violation an error is
 * logged and nothing is written. */
ORVANE_API void OrvaneBuildSkeletonRelativeTransforms(orvane_int32 SourceTransformStride,
                                                      const orvane_transform* SourceTransforms,
                                                      orvane_int32 SourceParentStride,
                                                      const orvane_int32* SourceParents,
                                                      orvane_int32 Count, orvane_int32 ResultStride,
                                                      orvane_transform* Results);

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
 * from the identity check (math.h). Beyond the capacity: an error, nothing added. */
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

/* ---------------------------------------------------------------------------------------- */
/* Local poses                                                                              */
/* ---------------------------------------------------------------------------------------- */
/* A local pose holds one transform per bone relative to its parent, and is the accumulator
 * of one sampling pass: OrvaneBeginLocalPoseAccumulation, any number of
 * OrvaneAccumulateLocalTransform calls, then OrvaneEndLocalPoseAccumulation over the range
 * that is to be valid. A pose may cover a whole skeleton (entry i is bone i) or a subset of
 * it described by sparse bone arrays (below). */
typedef struct orvane_local_pose orvane_local_pose;

/* How the orientation weight of an accumulated transform is signed. Other values act as
 * Direct. */
typedef enum orvane_quaternion_mode {
    OrvaneQuaternionBlendDirect = 0,
    OrvaneQuaternionBlendInverted = 1,
    /* Negated when the incoming orientation lies on the far side of the bone's rest
     * orientation (dot product below 0). */
    OrvaneQuaternionBlendNeighborhood = 2
} orvane_quaternion_mode;

/* Null when BoneCount is negative or memory runs out. The fill threshold starts at 0.2. */
ORVANE_API orvane_local_pose* OrvaneNewLocalPose(orvane_int32 BoneCount);
ORVANE_API void OrvaneFreeLocalPose(orvane_local_pose* LocalPose);
/* Bytes for a pose of BoneCount bones; 0 for a negative count. */
ORVANE_API orvane_int32 OrvaneGetResultingLocalPoseSize(orvane_int32 BoneCount);
/* Builds the pose in Memory (OrvaneGetResultingLocalPoseSize bytes, pointer-aligned); returns
 * Memory, or null for null memory or a negative count. */
ORVANE_API orvane_local_pose* OrvaneNewLocalPoseInPlace(orvane_int32 BoneCount, void* Memory);
ORVANE_API orvane_int32 OrvaneGetLocalPoseBoneCount(const orvane_local_pose* LocalPose);
/* The entry's transform, which the caller may write; null (and an error) for an index outside
 * [0, bone count). */
ORVANE_API orvane_transform* OrvaneGetLocalPoseTransform(const orvane_local_pose* LocalPose,
                                                         orvane_int32 BoneIndex);
/* The least total weight a bone may end a pass with: lighter bones are filled up to it from
 * the rest pose. */
ORVANE_API orvane_real32 OrvaneGetLocalPoseFillThreshold(const orvane_local_pose* LocalPose);
ORVANE_API void OrvaneSetLocalPoseFillThreshold(orvane_local_pose* LocalPose,
                                                orvane_real32 FillThreshold);

/* Opens a pass (one increment; nothing is cleared). FirstBone, BoneCount and SparseBoneArray
 * are accepted for symmetry with the end and not used. */
ORVANE_API void OrvaneBeginLocalPoseAccumulation(orvane_local_pose* LocalPose,
                                                 orvane_int32 FirstBone, orvane_int32 BoneCount,
                                                 const orvane_int32* SparseBoneArray);
/* Adds Weight * Transform to entry LocalPoseBoneIndex (the orientation with the weight signed
 * by QuaternionMode). ReferenceSkeleton and SkeletonBoneIndex are read in the Neighborhood
 * mode only. An entry outside the pose, or (in that mode) a missing skeleton or a bone
 * outside it, is refused with an error. */
ORVANE_API void OrvaneAccumulateLocalTransform(orvane_local_pose* LocalPose,
                                               orvane_int32 LocalPoseBoneIndex,
                                               orvane_int32 SkeletonBoneIndex, orvane_real32 Weight,
                                               const orvane_skeleton* ReferenceSkeleton,
                                               orvane_int32 QuaternionMode,
                                               const orvane_transform* Transform);
/* Closes the pass over entries FirstBone .. FirstBone+BoneCount-1: untouched entries get the
 * rest transform of their skeleton bone (SparseBoneArray[i], or i without the array), lighter
 * entries than the fill threshold are filled from the rest pose, position and scale/shear are
 * divided by the total weight and the orientation is normalised. An entry whose total weight
 * is exactly 0 gets the rest transform; an orientation that summed to zero length gets the
 * rest orientation. A range outside the pose, a bone outside the skeleton or a null skeleton
 * logs an error and changes nothing. */
ORVANE_API void OrvaneEndLocalPoseAccumulation(orvane_local_pose* LocalPose, orvane_int32 FirstBone,
                                               orvane_int32 BoneCount,
                                               const orvane_skeleton* ReferenceSkeleton,
                                               const orvane_int32* SparseBoneArray);

/* Result4x4 = M(bone) * M(parent) * ... * M(root) * Offset4x4 from the pose's transforms (the
 * rest transform for a bone missing from a sparse pose). With SparseBoneArrayReverse the pose
 * is sparse and BoneIndex is a skeleton bone; SparseBoneArray is not read. Offset4x4 may be
 * null (identity). On an index outside the skeleton or the pose, or a broken parent order,
 * an error is logged and Result4x4 is the identity. */
ORVANE_API void OrvaneGetWorldMatrixFromLocalPose(
    const orvane_skeleton* Skeleton, orvane_int32 BoneIndex, const orvane_local_pose* LocalPose,
    const orvane_real32* Offset4x4, orvane_real32* Result4x4, const orvane_int32* SparseBoneArray,
    const orvane_int32* SparseBoneArrayReverse);
/* The affine inverse of that world matrix (zero 3x3 block and translation when singular). */
ORVANE_API void OrvaneGetAttachmentOffset(const orvane_skeleton* Skeleton, orvane_int32 BoneIndex,
                                          const orvane_local_pose* LocalPose,
                                          const orvane_real32* Offset4x4, orvane_real32* Result4x4,
                                          const orvane_int32* SparseBoneArray,
                                          const orvane_int32* SparseBoneArrayReverse);

struct orvane_track_mask;
/* Blends CompositePose into BasePose with weight t per bone, WeightAll where no mask is given
 * (WeightNone is then ignored): position and scale/shear linearly, the orientation on the
 * base's side and renormalised (a sum shorter than 0.00001 becomes (0, 0, 0, 0)). Nearly
 * equal weights blend uniformly (below 0.001 nothing changes, above 0.999 the composite pose
 * is copied). Weights, counts and pass numbers of the entries are not touched. The poses must
 * have the same bone count (else an error). With a mask, bone i blends with
 * t = WeightNone + (WeightAll - WeightNone) * OrvaneGetTrackMaskBoneWeight(Mask, i); the mask
 * has the pose's bone count, or none at all (the exported identity and null masks), else an
 * error. */
ORVANE_API void OrvaneModulationCompositeLocalPose(orvane_local_pose* BasePose,
                                                   orvane_real32 WeightNone,
                                                   orvane_real32 WeightAll,
                                                   const struct orvane_track_mask* Mask,
                                                   const orvane_local_pose* CompositePose);
/* The same for sparse poses, SparseBoneArray giving the skeleton bone of each entry. */
ORVANE_API void OrvaneModulationCompositeLocalPoseSparse(orvane_local_pose* BasePose,
                                                         orvane_real32 WeightNone,
                                                         orvane_real32 WeightAll,
                                                         const struct orvane_track_mask* Mask,
                                                         const orvane_local_pose* CompositePose,
                                                         const orvane_int32* SparseBoneArray);
/* Copies Source's entries whole into the first entries of Dest; a Dest with fewer bones is
 * refused with an error. */
ORVANE_API void OrvaneCopyLocalPose(const orvane_local_pose* Source, orvane_local_pose* Dest);

/* Sparse bone arrays. SparseBoneArray lists, for each sparse pose entry, its skeleton bone,
 * in strictly descending order with every ancestor of a listed bone listed too;
 * SparseBoneArrayReverse has one entry per skeleton bone: its pose entry, or -1. Both arrays
 * need room for the skeleton's bone count. */

/* The bone and its ancestors; returns their count, 0 (and an error) for a bone outside the
 * skeleton or a broken parent order. */
ORVANE_API orvane_int32 OrvaneSparseBoneArrayCreateSingleBone(const orvane_skeleton* Skeleton,
                                                              orvane_int32 BoneIndex,
                                                              orvane_int32* SparseBoneArray,
                                                              orvane_int32* SparseBoneArrayReverse);
/* Adds the bone and those of its ancestors not yet present, keeping the order; returns the
 * new count, or InitialBoneCount (and an error) when an argument or an entry is out of range. */
ORVANE_API orvane_int32 OrvaneSparseBoneArrayAddBone(const orvane_skeleton* Skeleton,
                                                     orvane_int32 BoneIndex,
                                                     orvane_int32 InitialBoneCount,
                                                     orvane_int32* SparseBoneArray,
                                                     orvane_int32* SparseBoneArrayReverse);
/* Writes the transforms of skeleton bones 0 .. BoneCount-1 into Dest: from the sparse pose
 * where the bone is present, the rest transform otherwise. Only the transforms are written. */
ORVANE_API void OrvaneSparseBoneArrayExpand(const orvane_skeleton* Skeleton,
                                            const orvane_local_pose* SparsePose,
                                            orvane_int32 SparseBoneCount,
                                            const orvane_int32* SparseBoneArray,
                                            const orvane_int32* SparseBoneArrayReverse,
                                            orvane_int32 BoneCount, orvane_local_pose* Dest);
/* True when the two arrays point at each other consistently; the first violation is logged. */
ORVANE_API orvane_bool OrvaneSparseBoneArrayIsValid(orvane_int32 SkeletonBoneCount,
                                                    orvane_int32 SparseBoneCount,
                                                    const orvane_int32* SparseBoneArray,
                                                    const orvane_int32* SparseBoneArrayReverse);

/* ---------------------------------------------------------------------------------------- */
/* World poses                                                                              */
/* ---------------------------------------------------------------------------------------- */
/* A world pose holds per bone its world matrix, World(i) = M(local i) * World(parent) (the
 * offset for a root; a null offset is the identity), and its composite matrix,
 * Composite(i) = InverseWorldTransform(i) * World(i), the matrix that carries a rest-pose
 * vertex to the current pose. Both arrays are 16-byte aligned. The builds walk the bones in
 * increasing order; bones before FirstBone are taken as built. A range outside the local
 * pose, the skeleton or the world pose, or a skeleton whose parent order is broken within
 * the range, logs an error and writes nothing. */
typedef struct orvane_world_pose orvane_world_pose;

/* Null when BoneCount is negative or memory runs out. The matrices are not initialised. */
ORVANE_API orvane_world_pose* OrvaneNewWorldPose(orvane_int32 BoneCount);
ORVANE_API void OrvaneFreeWorldPose(orvane_world_pose* WorldPose);
/* Bytes for a pose of BoneCount bones (built at a 16-byte boundary); 0 for a negative count. */
ORVANE_API orvane_int32 OrvaneGetResultingWorldPoseSize(orvane_int32 BoneCount);
/* Builds the pose in Memory (OrvaneGetResultingWorldPoseSize bytes); warns when the matrix
 * arrays do not fall on 16-byte boundaries (the pose works all the same, more slowly). Null
 * for null memory, memory that is not pointer-aligned (an error) or a negative count. */
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

/* World and composite matrices of bones FirstBone .. FirstBone+BoneCount-1 from the local
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

#endif /* ORVANE_RUNTIME_H */

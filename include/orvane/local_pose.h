/* Orvane local poses: the accumulation of sampled transforms, blending and sparse bone arrays.
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
#ifndef ORVANE_PUBLIC_LOCAL_POSE_H
#define ORVANE_PUBLIC_LOCAL_POSE_H

#include "orvane/common.h"
#include "orvane/math.h"
#include "orvane/types.h"

ORVANE_EXTERN_C_BEGIN

struct orvane_track_mask;

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

/* Null (with an error logged) when BoneCount is negative or its size does not fit an int32
 * (see OrvaneGetResultingLocalPoseSize), or when memory runs out. The fill threshold starts at
 * 0.2. */
ORVANE_API orvane_local_pose* OrvaneNewLocalPose(orvane_int32 BoneCount);
ORVANE_API void OrvaneFreeLocalPose(orvane_local_pose* LocalPose);
/* Bytes for a pose of BoneCount bones; 0 for a negative count or one whose size does not fit
 * an int32. */
ORVANE_API orvane_int32 OrvaneGetResultingLocalPoseSize(orvane_int32 BoneCount);
/* Builds the pose in Memory (OrvaneGetResultingLocalPoseSize bytes, pointer-aligned); returns
 * Memory, or null for null memory or a count that size refuses (with an error logged; nothing
 * is written). */
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
/* Closes the pass over entries FirstBone to FirstBone+BoneCount-1: untouched entries get the
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
/* Writes the transforms of skeleton bones 0 to BoneCount-1 into Dest: from the sparse pose
 * where the bone is present, the rest transform otherwise. Only the transforms are written.
 * Dest may be SparsePose only when every present bone is held in its own entry (else an
 * error, nothing written). */
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

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_LOCAL_POSE_H */

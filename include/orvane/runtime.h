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

struct orvane_track_mask;

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

/* ---------------------------------------------------------------------------------------- */
/* Model instances, controls and root motion                                                */
/* ---------------------------------------------------------------------------------------- */
/* A model instance animates one model (types.h); controls are clocks with a weight; each
 * (control, instance) pair is a binding node that sits in the control's ring and in the
 * instance's ring. Within an instance's ring, bindings whose control is active with a
 * non-zero weight come first, and every sampling walk stops at the first other one.
 *
 * Threads: creating and freeing instances, controls and bindings, the global lists and the
 * animation binding cache are guarded by one library lock, so they may be called from any
 * thread. Sampling, root motion and clock queries touch only the instance, its controls and
 * the bindings' read-only data: distinct instances with distinct controls may be sampled on
 * different threads at once (and at the same time as other instances are created or freed).
 * A control shared by two instances updates its local clock lazily, so such instances must
 * be sampled from one thread. Clock values are in seconds. Nothing that starts playing writes
 * what an animation binding shares: LOD values copied from the animation for a controlled
 * animation (OrvaneSetTrackGroupLOD) belong to its own binding nodes. Only the explicit LOD
 * calls on a binding (OrvaneSetLODErrorValue and the others below) change it, and they must
 * not run while an instance playing it is sampled.
 *
 * Content is checked once, where it meets the run time: OrvaneInstantiateModel checks the
 * model and its skeleton (a bone array for the bone count, every parent index -1 or below
 * its bone's own, finite rest transforms and inverse world matrices, a mesh binding array for
 * its count); building an animation binding checks the animation (finite non-negative
 * Duration and TimeStep, finite Oversampling, arrays for every count of it and its track
 * groups, finite loop translations and placements, LOD errors that are numbers) and the
 * skeleton it binds to; OrvaneBeginControlledAnimation checks the animation the same way. What
 * fails logs an error and gives null. Sampling then trusts what it was given. */
typedef struct orvane_model_instance orvane_model_instance;
typedef struct orvane_control orvane_control;
typedef struct orvane_model_control_binding orvane_model_control_binding;
typedef struct orvane_animation_binding orvane_animation_binding;

enum {
    OrvaneControlActive = 1,
    OrvaneControlCheckCompletion = 2,
    OrvaneControlFreeWhenUnbound = 4,
    OrvaneControlEaseIn = 8,
    OrvaneControlEaseOut = 16,
    OrvaneControlForceClampedLooping = 32
};

/* Degrees of freedom for root motion clipping. */
enum {
    OrvaneXTranslation = 1,
    OrvaneYTranslation = 2,
    OrvaneZTranslation = 4,
    OrvaneXRotation = 8,
    OrvaneYRotation = 16,
    OrvaneZRotation = 32,
    OrvaneXScaleShear = 64,
    OrvaneYScaleShear = 128,
    OrvaneZScaleShear = 256,
    OrvaneAllDOFs = 511
};

/* Null for a null model, a model that fails the checks above (logged) or when memory runs
 * out. The UserData slots start at null. */
ORVANE_API orvane_model_instance* OrvaneInstantiateModel(const orvane_model* Model);
/* Frees the instance's bindings (front first; controls marked free-when-unbound go with their
 * last binding), then the instance. Null is accepted. */
ORVANE_API void OrvaneFreeModelInstance(orvane_model_instance* ModelInstance);
ORVANE_API const orvane_model* OrvaneGetSourceModel(const orvane_model_instance* ModelInstance);
ORVANE_API const orvane_skeleton* OrvaneGetSourceSkeleton(
    const orvane_model_instance* ModelInstance);
ORVANE_API void** OrvaneGetModelUserDataArray(orvane_model_instance* ModelInstance);
/* The ring of all live instances, newest first: for (i = Begin; i != End; i = Next(i)). */
ORVANE_API orvane_model_instance* OrvaneGetGlobalModelInstancesBegin(void);
ORVANE_API orvane_model_instance* OrvaneGetGlobalModelInstancesEnd(void);
ORVANE_API orvane_model_instance* OrvaneGetGlobalNextModelInstance(
    orvane_model_instance* ModelInstance);
/* The instance's bindings, front (playing) first; End is the ring's head, not a binding. */
ORVANE_API orvane_model_control_binding* OrvaneModelControlsBegin(
    orvane_model_instance* ModelInstance);
ORVANE_API orvane_model_control_binding* OrvaneModelControlsEnd(
    orvane_model_instance* ModelInstance);
ORVANE_API orvane_model_control_binding* OrvaneModelControlsNext(
    orvane_model_control_binding* Binding);
ORVANE_API orvane_model_control_binding* OrvaneControlModelsBegin(orvane_control* Control);
ORVANE_API orvane_model_control_binding* OrvaneControlModelsEnd(orvane_control* Control);
ORVANE_API orvane_model_control_binding* OrvaneControlModelsNext(
    orvane_model_control_binding* Binding);
ORVANE_API orvane_control* OrvaneGetControlFromBinding(orvane_model_control_binding* Binding);
ORVANE_API orvane_model_instance* OrvaneGetModelInstanceFromBinding(
    orvane_model_control_binding* Binding);
/* OrvaneSetControlClock on the control of every binding of the instance, active or not. */
ORVANE_API void OrvaneSetModelClock(orvane_model_instance* ModelInstance, orvane_real32 NewClock);
/* Frees every bound control that is complete. */
ORVANE_API void OrvaneFreeCompletedModelControls(orvane_model_instance* ModelInstance);

/* Sampling. The Accumulate forms add the playing bindings into an open accumulation of
 * LocalPose (entries FirstBone to FirstBone+BoneCount-1, entry i being skeleton bone
 * SparseBoneArray[i] when that array is given); the Sample forms open and close the pass
 * themselves. AllowedError is the LOD error under which tracks are replaced by constants
 * (0: only constant tracks). A range outside the pose or the skeleton is refused with an
 * error and nothing is written. Between an Accumulate form and the end of the pass, an entry
 * holds weighted sums; its scale/shear sum is kept only once a contribution had scale/shear
 * (its flag set): with the flag clear it reads as undefined and ends as the identity.
 * OrvaneAccumulateLocalTransform contributions join either kind of entry correctly. */
ORVANE_API void OrvaneAccumulateModelAnimationsLODSparse(
    orvane_model_instance* ModelInstance, orvane_int32 FirstBone, orvane_int32 BoneCount,
    orvane_local_pose* Result, orvane_real32 AllowedError, const orvane_int32* SparseBoneArray);
ORVANE_API void OrvaneAccumulateModelAnimationsLOD(orvane_model_instance* ModelInstance,
                                                   orvane_int32 FirstBone, orvane_int32 BoneCount,
                                                   orvane_local_pose* Result,
                                                   orvane_real32 AllowedError);
ORVANE_API void OrvaneAccumulateModelAnimations(orvane_model_instance* ModelInstance,
                                                orvane_int32 FirstBone, orvane_int32 BoneCount,
                                                orvane_local_pose* Result);
ORVANE_API void OrvaneSampleModelAnimationsLODSparse(orvane_model_instance* ModelInstance,
                                                     orvane_int32 FirstBone, orvane_int32 BoneCount,
                                                     orvane_local_pose* Result,
                                                     orvane_real32 AllowedError,
                                                     const orvane_int32* SparseBoneArray);
ORVANE_API void OrvaneSampleModelAnimationsLOD(orvane_model_instance* ModelInstance,
                                               orvane_int32 FirstBone, orvane_int32 BoneCount,
                                               orvane_local_pose* Result,
                                               orvane_real32 AllowedError);
ORVANE_API void OrvaneSampleModelAnimations(orvane_model_instance* ModelInstance,
                                            orvane_int32 FirstBone, orvane_int32 BoneCount,
                                            orvane_local_pose* Result);
/* One control's binding on this instance only; true when the control is bound to it. The
 * pass is opened and closed in every case (unbound bones take the rest pose). */
ORVANE_API orvane_bool OrvaneSampleSingleModelAnimationLODSparse(
    orvane_model_instance* ModelInstance, orvane_control* Control, orvane_int32 FirstBone,
    orvane_int32 BoneCount, orvane_local_pose* Result, orvane_real32 AllowedError,
    const orvane_int32* SparseBoneArray);
ORVANE_API orvane_bool OrvaneSampleSingleModelAnimationLOD(
    orvane_model_instance* ModelInstance, orvane_control* Control, orvane_int32 FirstBone,
    orvane_int32 BoneCount, orvane_local_pose* Result, orvane_real32 AllowedError);
ORVANE_API orvane_bool OrvaneSampleSingleModelAnimation(orvane_model_instance* ModelInstance,
                                                        orvane_control* Control,
                                                        orvane_int32 FirstBone,
                                                        orvane_int32 BoneCount,
                                                        orvane_local_pose* Result);
/* World pose of bones 0 to BoneCount-1 (lowered to the bone count of the skeleton, of the
 * scratch pose and of the world pose): the rest pose when nothing plays, the blend of the
 * local pose sampled into Scratch when two or more bindings play, and, for a single playing
 * binding, its direct build without a local pose. Offset4x4 may be null (identity) and need
 * not be aligned. A null Scratch is an error and writes nothing. */
ORVANE_API void OrvaneSampleModelAnimationsAcceleratedLOD(
    orvane_model_instance* ModelInstance, orvane_int32 BoneCount, const orvane_real32* Offset4x4,
    orvane_local_pose* Scratch, orvane_world_pose* Result, orvane_real32 AllowedError);
ORVANE_API void OrvaneSampleModelAnimationsAccelerated(orvane_model_instance* ModelInstance,
                                                       orvane_int32 BoneCount,
                                                       const orvane_real32* Offset4x4,
                                                       orvane_local_pose* Scratch,
                                                       orvane_world_pose* Result);

/* Root motion over the last SecondsElapsed of every playing binding's clip, weighted and
 * divided by the total weight when that exceeds 0.001. Translation in model units, Rotation
 * as a rotation vector (axis times radians). Inverse gives the motion backwards. */
ORVANE_API void OrvaneGetRootMotionVectors(orvane_model_instance* ModelInstance,
                                           orvane_real32 SecondsElapsed,
                                           orvane_real32 ResultTranslation[3],
                                           orvane_real32 ResultRotation[3], orvane_bool Inverse);
ORVANE_API void OrvaneClipRootMotionVectors(const orvane_real32 Translation[3],
                                            const orvane_real32 Rotation[3],
                                            orvane_uint32 AllowableDOFs,
                                            orvane_real32 AllowedTranslation[3],
                                            orvane_real32 AllowedRotation[3],
                                            orvane_real32 DisallowedTranslation[3],
                                            orvane_real32 DisallowedRotation[3]);
/* Dest = M * Model, M the rigid motion of (Translation, Rotation); Dest may be Model. */
ORVANE_API void OrvaneApplyRootMotionVectorsToMatrix(const orvane_real32 ModelMatrix4x4[16],
                                                     const orvane_real32 Translation[3],
                                                     const orvane_real32 Rotation[3],
                                                     orvane_real32 DestMatrix4x4[16]);
ORVANE_API void OrvaneApplyRootMotionVectorsToLocalPose(orvane_local_pose* Pose,
                                                        const orvane_real32 Translation[3],
                                                        const orvane_real32 Rotation[3]);
ORVANE_API void OrvaneUpdateModelMatrix(orvane_model_instance* ModelInstance,
                                        orvane_real32 SecondsElapsed,
                                        const orvane_real32 ModelMatrix4x4[16],
                                        orvane_real32 DestMatrix4x4[16], orvane_bool Inverse);
/* Zero the components whose degree of freedom is not allowed; false (all zero, or the
 * identity orientation) when none of the three is allowed. */
ORVANE_API orvane_bool OrvaneClipPositionDOFs(orvane_real32 Vector[3], orvane_uint32 AllowedDOFs);
ORVANE_API orvane_bool OrvaneClipAngularVelocityDOFs(orvane_real32 Vector[3],
                                                     orvane_uint32 AllowedDOFs);
/* Renormalised afterwards; a quaternion left without length becomes the identity. */
ORVANE_API orvane_bool OrvaneClipOrientationDOFs(orvane_real32 Orientation[4],
                                                 orvane_uint32 AllowedDOFs);
ORVANE_API void OrvaneClipTransformDOFs(orvane_transform* Transform, orvane_uint32 AllowedDOFs);

/* Controls. A new control is active, weight 1, speed 1, one loop, local clock 0. A clock or
 * duration that is not finite logs an error and gives null; a speed or weight that is not
 * finite logs an error and changes nothing. */
ORVANE_API orvane_control* OrvaneCreateControl(orvane_real32 CurrentClock,
                                               orvane_real32 LocalDuration);
ORVANE_API void OrvaneFreeControl(orvane_control* Control);
ORVANE_API void OrvaneFreeControlOnceUnused(orvane_control* Control);
ORVANE_API orvane_bool OrvaneFreeControlIfComplete(orvane_control* Control);
ORVANE_API void OrvaneCompleteControlAt(orvane_control* Control, orvane_real32 AtClock);
ORVANE_API orvane_real32 OrvaneGetControlCompletionClock(const orvane_control* Control);
ORVANE_API orvane_bool OrvaneGetControlCompletionCheckFlag(const orvane_control* Control);
ORVANE_API void OrvaneSetControlCompletionCheckFlag(orvane_control* Control, orvane_bool Check);
ORVANE_API orvane_bool OrvaneControlIsComplete(const orvane_control* Control);
ORVANE_API orvane_real32 OrvaneGetControlClock(const orvane_control* Control);
/* Advances: the local clock moves by Speed * (NewClock - clock) when next queried. */
ORVANE_API void OrvaneSetControlClock(orvane_control* Control, orvane_real32 NewClock);
ORVANE_API void OrvaneSetControlClockOnly(orvane_control* Control, orvane_real32 NewClock);
ORVANE_API orvane_real32 OrvaneGetControlRawLocalClock(orvane_control* Control);
ORVANE_API void OrvaneSetControlRawLocalClock(orvane_control* Control, orvane_real32 LocalClock);
ORVANE_API orvane_real32 OrvaneGetControlClampedLocalClock(orvane_control* Control);
ORVANE_API orvane_real32 OrvaneGetControlLocalDuration(const orvane_control* Control);
/* 1.9140881e38 for an endless control. */
ORVANE_API orvane_real32 OrvaneGetControlDuration(const orvane_control* Control);
ORVANE_API orvane_real32 OrvaneGetControlDurationLeft(orvane_control* Control);
ORVANE_API orvane_real32 OrvaneGetControlSpeed(const orvane_control* Control);
ORVANE_API void OrvaneSetControlSpeed(orvane_control* Control, orvane_real32 Speed);
/* 0 loops forever. */
ORVANE_API orvane_int32 OrvaneGetControlLoopCount(const orvane_control* Control);
ORVANE_API void OrvaneSetControlLoopCount(orvane_control* Control, orvane_int32 LoopCount);
ORVANE_API orvane_int32 OrvaneGetControlLoopIndex(orvane_control* Control);
ORVANE_API void OrvaneSetControlLoopIndex(orvane_control* Control, orvane_int32 LoopIndex);
/* Whether the clip wraps before its start and after its end. Either pointer may be null. */
ORVANE_API void OrvaneGetControlLoopState(orvane_control* Control, orvane_bool* UnderflowLoop,
                                          orvane_bool* OverflowLoop);
ORVANE_API orvane_real32 OrvaneGetControlWeight(const orvane_control* Control);
ORVANE_API void OrvaneSetControlWeight(orvane_control* Control, orvane_real32 Weight);
ORVANE_API orvane_bool OrvaneControlIsActive(const orvane_control* Control);
ORVANE_API void OrvaneSetControlActive(orvane_control* Control, orvane_bool Active);
/* 0 when inactive, else the ease multiplier times the weight. */
ORVANE_API orvane_real32 OrvaneGetControlEffectiveWeight(const orvane_control* Control);
ORVANE_API orvane_real32 OrvaneGetControlEaseCurveMultiplier(const orvane_control* Control);
ORVANE_API void OrvaneSetControlEaseIn(orvane_control* Control, orvane_bool EaseIn);
ORVANE_API void OrvaneSetControlEaseOut(orvane_control* Control, orvane_bool EaseOut);
/* Cubic Bezier values V0..V3, each clamped to [0, 1] and stored in 1/255 steps. */
ORVANE_API void OrvaneSetControlEaseInCurve(orvane_control* Control, orvane_real32 StartClock,
                                            orvane_real32 EndClock, orvane_real32 V0,
                                            orvane_real32 V1, orvane_real32 V2, orvane_real32 V3);
ORVANE_API void OrvaneSetControlEaseOutCurve(orvane_control* Control, orvane_real32 StartClock,
                                             orvane_real32 EndClock, orvane_real32 V0,
                                             orvane_real32 V1, orvane_real32 V2, orvane_real32 V3);
/* Return the clock at which the ease ends. */
ORVANE_API orvane_real32 OrvaneEaseControlIn(orvane_control* Control, orvane_real32 Duration,
                                             orvane_bool FromCurrent);
ORVANE_API orvane_real32 OrvaneEaseControlOut(orvane_control* Control, orvane_real32 Duration);
ORVANE_API void OrvaneSetControlForceClampedLooping(orvane_control* Control, orvane_bool Clamp);
ORVANE_API void OrvaneSetControlTargetState(orvane_control* Control, orvane_real32 CurrentClock,
                                            orvane_real32 TargetClock,
                                            orvane_real32 LocalClockAtTarget,
                                            orvane_int32 LoopIndexAtTarget);
ORVANE_API void OrvaneRecenterControlClocks(orvane_control* Control, orvane_real32 Delta);
ORVANE_API void OrvaneRecenterAllControlClocks(orvane_real32 Delta);
ORVANE_API void OrvaneRecenterAllModelInstanceControlClocks(orvane_model_instance* ModelInstance,
                                                            orvane_real32 Delta);
ORVANE_API void** OrvaneGetControlUserDataArray(orvane_control* Control);
ORVANE_API orvane_control* OrvaneGetGlobalControlsBegin(void);
ORVANE_API orvane_control* OrvaneGetGlobalControlsEnd(void);
ORVANE_API orvane_control* OrvaneGetGlobalNextControl(orvane_control* Control);
/* Fraction of the allowed LOD error at which tracks begin to fade to their constants; 0.8 at
 * load, stored clamped to [0, 1]. */
ORVANE_API orvane_real32 OrvaneGetGlobalLODFadingFactor(void);
ORVANE_API void OrvaneSetGlobalLODFadingFactor(orvane_real32 Factor);

/* ---------------------------------------------------------------------------------------- */
/* Animation bindings                                                                       */
/* ---------------------------------------------------------------------------------------- */
/* A binding matches the transform tracks of one track group to the bones of a model's
 * skeleton, once, and stays in a cache keyed by its identifier. Patterns are kept by pointer
 * (compared by text) and models by pointer. The cache is guarded by the library lock. */
typedef struct orvane_animation_binding_identifier {
    const orvane_animation* Animation;
    orvane_int32 SourceTrackGroupIndex;
    const char* TrackPattern; /* "*" by default */
    const char* BonePattern;  /* "*" by default */
    const orvane_model* OnModel;
    const orvane_model* FromBasis; /* null: no basis change */
    const orvane_model* ToBasis;
} orvane_animation_binding_identifier;

/* The twelve counters, in this order. */
typedef struct orvane_animation_binding_cache_status {
    orvane_int32 TotalBindingsCreated;
    orvane_int32 TotalBindingsDestroyed;
    orvane_int32 DirectAcquireCount;
    orvane_int32 IndirectAcquireCount;
    orvane_int32 ReleaseCount;
    orvane_int32 CurrentTotalBindingCount;
    orvane_int32 CurrentUsedBindingCount;
    orvane_int32 CacheHits;
    orvane_int32 CacheMisses;
    orvane_int32 ExplicitFlushCount;
    orvane_int32 ExplicitFlushFrees;
    orvane_int32 OverflowFrees;
} orvane_animation_binding_cache_status;

/* The first track group, from index 0, named ModelName; false leaves the index at the count. */
ORVANE_API orvane_bool OrvaneFindTrackGroupForModel(const orvane_animation* Animation,
                                                    const char* ModelName,
                                                    orvane_int32* TrackGroupIndex);
ORVANE_API void OrvaneMakeDefaultAnimationBindingID(orvane_animation_binding_identifier* ID,
                                                    const orvane_animation* Animation,
                                                    orvane_int32 TrackGroupIndex);
/* The cached binding, built on a miss; null (logged) when the ID names no track group, has no
 * model with a skeleton, or memory runs out. The caller releases it. */
ORVANE_API orvane_animation_binding* OrvaneAcquireAnimationBindingFromID(
    const orvane_animation_binding_identifier* ID);
ORVANE_API orvane_animation_binding* OrvaneAcquireAnimationBinding(
    orvane_animation_binding* Binding);
/* The last release keeps the binding cached while the cache holds no more than the maximum
 * count (0 at load), least recently released evicted first. */
ORVANE_API void OrvaneReleaseAnimationBinding(orvane_animation_binding* Binding);
ORVANE_API orvane_int32 OrvaneGetMaximumAnimationBindingCount(void);
ORVANE_API void OrvaneSetMaximumAnimationBindingCount(orvane_int32 BindingCountMax);
ORVANE_API void OrvaneFlushAllUnusedAnimationBindings(void);
/* Unused bindings of the animation are destroyed; one in use is logged and kept. */
ORVANE_API void OrvaneFlushAllBindingsForAnimation(const orvane_animation* Animation);
ORVANE_API void OrvaneFlushAnimationBinding(orvane_animation_binding* Binding);
/* Iteration reads the cache without holding the lock across calls: do not create or destroy
 * bindings on another thread meanwhile. */
ORVANE_API orvane_animation_binding* OrvaneGetFirstBindingForAnimation(
    const orvane_animation* Animation);
ORVANE_API orvane_animation_binding* OrvaneGetNextBindingForAnimation(
    const orvane_animation* Animation, orvane_animation_binding* Binding);
ORVANE_API orvane_animation_binding* OrvaneGetFirstUnusedAnimationBinding(void);
ORVANE_API orvane_animation_binding* OrvaneGetNextUnusedAnimationBinding(
    orvane_animation_binding* Binding);
ORVANE_API orvane_bool OrvaneIsAnimationUsed(const orvane_animation* Animation);
/* Re-points the binding at a copy of its animation with the same track groups; tracks whose
 * index the new group lacks are unbound (logged). */
ORVANE_API void OrvaneRemapAnimationBindingPointers(orvane_animation_binding* Binding,
                                                    const orvane_animation* NewAnimationPointer);
ORVANE_API void OrvaneRemapAllAnimationBindingPointers(const orvane_animation* OldAnimationPointer,
                                                       const orvane_animation* NewAnimationPointer);
ORVANE_API void OrvaneGetAnimationBindingCacheStatus(orvane_animation_binding_cache_status* Status);
/* The binding's identifier and its track binding (bone) count, for inspection. */
ORVANE_API const orvane_animation_binding_identifier* OrvaneGetAnimationBindingID(
    const orvane_animation_binding* Binding);
ORVANE_API orvane_int32
OrvaneGetAnimationBindingTrackCount(const orvane_animation_binding* Binding);
/* The track index bound to the bone, -1 when none (or the bone is out of range). */
ORVANE_API orvane_int32 OrvaneGetAnimationBindingTrackIndex(const orvane_animation_binding* Binding,
                                                            orvane_int32 TrackBindingIndex);
ORVANE_API orvane_int32 OrvaneGetAnimationBindingUseCount(const orvane_animation_binding* Binding);

/* LOD error values, one per skeleton bone; an index out of range logs and reads 1.9140881e38. */
ORVANE_API orvane_real32 OrvaneGetLODErrorValue(const orvane_animation_binding* Binding,
                                                orvane_int32 TrackBindingIndex);
ORVANE_API void OrvaneSetLODErrorValue(orvane_animation_binding* Binding,
                                       orvane_int32 TrackBindingIndex, orvane_real32 ErrorValue);
ORVANE_API void OrvaneSetAllLODErrorValues(orvane_animation_binding* Binding,
                                           orvane_real32 ErrorValue);
ORVANE_API void OrvaneResetLODErrorValues(orvane_animation_binding* Binding);
ORVANE_API void OrvaneCopyLODErrorValuesToAnimation(orvane_animation_binding* Binding,
                                                    orvane_real32 Scale, orvane_bool OnlyIfGreater);
ORVANE_API void OrvaneCopyLODErrorValuesFromAnimation(orvane_animation_binding* Binding,
                                                      orvane_real32 Scale);
ORVANE_API void OrvaneCopyLODErrorValuesToAllAnimations(orvane_control* Control,
                                                        orvane_real32 Scale,
                                                        orvane_bool OnlyIfGreater);
ORVANE_API void OrvaneCopyLODErrorValuesFromAllAnimations(orvane_control* Control,
                                                          orvane_real32 Scale);

struct orvane_mesh_binding; /* include/orvane/mesh.h */

/* LOD errors measured on a mesh. For each bound, animated track of the binding, every frame of
 * the animation (0, TimeStep, ... up to its Duration; at most 10,000 frames spread evenly, and
 * 1/30 s steps when TimeStep is not positive) is posed twice from identity parents, once with
 * the track replaced by its constant LOD transform; the error is the largest distance, in the
 * skeleton's units, between the two images of any corner of the mesh's bone boxes below that
 * bone, times ErrorScale. Constant tracks get 0. The mesh binding must deform the binding's
 * model's skeleton (its ToSkeleton); otherwise, and for any null argument or an empty binding,
 * logs an error and changes nothing. The third argument is not read. The binding is shared
 * through the cache: do not sample it on another thread meanwhile. */
ORVANE_API void OrvaneCalculateLODErrorValues(orvane_animation_binding* Binding,
                                              const struct orvane_mesh_binding* MeshBinding,
                                              orvane_bool Unused, orvane_real32 ErrorScale);
/* The calculation above for the animation binding of every control playing on the instance. */
ORVANE_API void OrvaneCalculateLODErrorValuesAllBindings(
    orvane_model_instance* ModelInstance, const struct orvane_mesh_binding* MeshBinding,
    orvane_bool Unused, orvane_real32 ErrorScale);

/* Gathering an animation's LOD errors over several models and meshes, into its track groups'
 * LOD error arrays. Begin gives every track group without an array one (remembered, so that
 * Cleanup frees it) and marks every value unmeasured; null for a null animation or no memory.
 * AddMeshBinding plays the animation from time 0 on a new instance of Model, measures every
 * binding on the mesh binding with ErrorScale x ManualScaler and keeps, per track, the larger
 * of that and the stored value. End sets the values no mesh measured to 1.9140881e38.
 * Cleanup frees the arrays Begin allocated (so write or copy the values out first) and the
 * handle; null is ignored. One thread per handle; the animation must not be sampled meanwhile. */
typedef struct orvane_animation_lod_calculation orvane_animation_lod_calculation;
ORVANE_API orvane_animation_lod_calculation* OrvaneCalculateAnimationLODBegin(
    const orvane_animation* Animation, orvane_real32 ManualScaler);
ORVANE_API void OrvaneCalculateAnimationLODAddMeshBinding(
    orvane_animation_lod_calculation* Handle, const orvane_model* Model,
    const struct orvane_mesh_binding* MeshBinding, orvane_real32 ErrorScale);
ORVANE_API void OrvaneCalculateAnimationLODEnd(orvane_animation_lod_calculation* Handle);
ORVANE_API void OrvaneCalculateAnimationLODCleanup(orvane_animation_lod_calculation* Handle);

/* ---------------------------------------------------------------------------------------- */
/* Controlled animations and controlled poses                                               */
/* ---------------------------------------------------------------------------------------- */
enum {
    OrvaneAccumulationNone = 0,
    OrvaneAccumulationConstantLoop = 1,
    OrvaneAccumulationVariableDelta = 2
};

typedef struct orvane_controlled_animation_builder orvane_controlled_animation_builder;

/* A new control at StartTime bound to the instance through the track group named as the
 * instance's model; null (silently) when there is none, null (logged) on other failures. */
ORVANE_API orvane_control* OrvanePlayControlledAnimation(orvane_real32 StartTime,
                                                         const orvane_animation* Animation,
                                                         orvane_model_instance* Model);
ORVANE_API orvane_control* OrvanePlayControlledAnimationBinding(orvane_real32 StartTime,
                                                                const orvane_animation* Animation,
                                                                orvane_animation_binding* Binding,
                                                                orvane_model_instance* Model);
/* Null for a null animation, one that fails the checks above or a StartTime that is not
 * finite (both logged), or no memory. Builders belong to one thread. */
ORVANE_API orvane_controlled_animation_builder* OrvaneBeginControlledAnimation(
    orvane_real32 StartTime, const orvane_animation* Animation);
/* Releases the builder on every path; null on failure (logged). A track group whose binding
 * cannot be built is not bound (logged). */
ORVANE_API orvane_control* OrvaneEndControlledAnimation(
    orvane_controlled_animation_builder* Builder);
ORVANE_API void OrvaneUseExistingControlForAnimation(orvane_controlled_animation_builder* Builder,
                                                     orvane_control* Control);
/* Each setter logs and changes nothing for an index outside [0, track group count). */
ORVANE_API void OrvaneSetTrackMatchRule(orvane_controlled_animation_builder* Builder,
                                        orvane_int32 TrackGroupIndex, const char* TrackPattern,
                                        const char* BonePattern);
ORVANE_API void OrvaneSetTrackGroupTarget(orvane_controlled_animation_builder* Builder,
                                          orvane_int32 TrackGroupIndex,
                                          orvane_model_instance* Target);
ORVANE_API void OrvaneSetTrackGroupBinding(orvane_controlled_animation_builder* Builder,
                                           orvane_int32 TrackGroupIndex,
                                           orvane_animation_binding* Binding);
ORVANE_API void OrvaneSetTrackGroupBasisTransform(orvane_controlled_animation_builder* Builder,
                                                  orvane_int32 TrackGroupIndex,
                                                  const orvane_model* FromModel,
                                                  const orvane_model* ToModel);
/* Masks are read while sampling and must outlive the control. */
ORVANE_API void OrvaneSetTrackGroupTrackMask(orvane_controlled_animation_builder* Builder,
                                             orvane_int32 TrackGroupIndex,
                                             const struct orvane_track_mask* TrackMask);
ORVANE_API void OrvaneSetTrackGroupModelMask(orvane_controlled_animation_builder* Builder,
                                             orvane_int32 TrackGroupIndex,
                                             const struct orvane_track_mask* ModelMask);
ORVANE_API void OrvaneSetTrackGroupAccumulation(orvane_controlled_animation_builder* Builder,
                                                orvane_int32 TrackGroupIndex, orvane_int32 Mode);
/* With CopyValuesOver, the binding nodes made for this track group sample with their own LOD
 * errors: Scale times the track group's stored errors (the binding's own for tracks without
 * one). The animation binding, shared by every instance that plays it, is not changed. */
ORVANE_API void OrvaneSetTrackGroupLOD(orvane_controlled_animation_builder* Builder,
                                       orvane_int32 TrackGroupIndex, orvane_bool CopyValuesOver,
                                       orvane_real32 Scale);
ORVANE_API orvane_animation_binding* OrvaneGetAnimationBindingFromControlBinding(
    orvane_model_control_binding* Binding);
/* Plays Pose (not copied: it must outlive the control) through a new control. A Duration that
 * is negative or not finite, or a StartTime that is not finite, logs an error and gives null. */
ORVANE_API orvane_control* OrvanePlayControlledPose(orvane_real32 StartTime, orvane_real32 Duration,
                                                    const orvane_local_pose* Pose,
                                                    orvane_model_instance* Model,
                                                    const struct orvane_track_mask* ModelMask);
ORVANE_API orvane_local_pose* OrvaneGetLocalPoseFromControlBinding(
    orvane_model_control_binding* Binding);

/* ---------------------------------------------------------------------------------------- */
/* Blend graphs                                                                             */
/* ---------------------------------------------------------------------------------------- */
/* A blend graph is a tree of nodes that combines animation sources into one local pose.
 * Leaves produce poses: every playing control of a model instance, a fixed local pose, or an
 * application callback. Inner nodes combine their children: a masked crossfade of two, or a
 * weighted blend of any number. Each node has at most one parent: a node that already has one
 * is refused as a child (an error), so a node never sits in two trees and a tree never holds
 * a cycle.
 *
 * Sampling draws its intermediate poses from a pose cache. The forms without a cache
 * argument use the calling thread's own cache, which lives until
 * OrvaneFreeBlendDagLocalPoseCache or the thread's end; the WithCache forms use a cache the
 * application made. A pose returned by a sampling stays valid until the next sampling through
 * the same cache, which reuses its memory; once the cache is large enough (after the first
 * frame, or an explicit prime) sampling allocates nothing.
 *
 * Threads: nodes come from a pool guarded by its own lock, so nodes may be created and freed
 * on any thread. A tree must be changed and sampled by one thread at a time; two trees over
 * distinct model instances (with distinct controls) may be sampled on two threads at once.
 * Failures are logged from OrvaneAnimationOrigin and give the results stated below. */
typedef struct orvane_blend_dag_node orvane_blend_dag_node;
typedef struct orvane_blend_dag_pose_cache orvane_blend_dag_pose_cache;

typedef enum orvane_blend_dag_node_type {
    /* Samples every playing control of a model instance. */
    OrvaneDagNodeType_Leaf_AnimationBlend = 0,
    /* A fixed local pose. */
    OrvaneDagNodeType_Leaf_LocalPose = 1,
    /* Application callbacks. */
    OrvaneDagNodeType_Leaf_Callback = 2,
    /* Masked crossfade of exactly two children. */
    OrvaneDagNodeType_Node_Crossfade = 4,
    /* Weighted blend of any number of children. */
    OrvaneDagNodeType_Node_WeightedBlend = 5,
    /* The type of a node that has been freed. */
    OrvaneDagNodeType_Freed = 6
} orvane_blend_dag_node_type;

/* The pose of BoneCount entries (entry i is skeleton bone SparseBoneArray[i] when the array
 * is given); it stays owned by the application and must have at least BoneCount bones. Null
 * fails the sampling. */
typedef orvane_local_pose* (*orvane_blend_dag_sample_callback)(void* UserData,
                                                               orvane_int32 BoneCount,
                                                               orvane_real32 AllowedError,
                                                               const orvane_int32* SparseBoneArray);
typedef void (*orvane_blend_dag_set_clock_callback)(void* UserData, orvane_real32 NewClock);
typedef void (*orvane_blend_dag_motion_vectors_callback)(void* UserData,
                                                         orvane_real32 SecondsElapsed,
                                                         orvane_real32 ResultTranslation[3],
                                                         orvane_real32 ResultRotation[3],
                                                         orvane_bool Inverse);

/* Creation. Every node starts with result weight 1, no result mask and no parent. AutoFree
 * makes the node own the instance, pose or mask: it is freed when replaced or with the node.
 * Null when the pool is out of memory or a required argument is null (logged). */
ORVANE_API orvane_blend_dag_node* OrvaneCreateBlendDagNodeAnimationBlend(
    orvane_model_instance* ModelInstance, orvane_bool AutoFree);
ORVANE_API orvane_blend_dag_node* OrvaneCreateBlendDagNodeLocalPose(orvane_local_pose* LocalPose,
                                                                    orvane_bool AutoFree);
ORVANE_API orvane_blend_dag_node* OrvaneCreateBlendDagNodeCallback(
    orvane_blend_dag_sample_callback SampleCallback,
    orvane_blend_dag_set_clock_callback SetClockCallback,
    orvane_blend_dag_motion_vectors_callback MotionVectorsCallback, void* UserData);
/* Attaches both children when both are given, the one given otherwise. The crossfade weight
 * of bone i is WeightNone + (WeightAll - WeightNone) * mask weight of i (WeightAll without a
 * mask): 0 is child 0, 1 is child 1. The last argument is not read. */
ORVANE_API orvane_blend_dag_node* OrvaneCreateBlendDagNodeCrossfade(
    orvane_blend_dag_node* DagNode0, orvane_blend_dag_node* DagNode1, orvane_real32 WeightNone,
    orvane_real32 WeightAll, const struct orvane_track_mask* TrackMask, orvane_bool AutoFree,
    orvane_int32 BoneCount);
/* QuaternionMode as for OrvaneAccumulateLocalTransform; the last argument is not read. */
ORVANE_API orvane_blend_dag_node* OrvaneCreateBlendDagNodeWeightedBlend(
    const orvane_skeleton* ReferenceSkeleton, orvane_real32 FillThreshold,
    orvane_int32 QuaternionMode, orvane_int32 BoneCount);
/* As above with children; null (logged) for a null array or a child that is refused. */
ORVANE_API orvane_blend_dag_node* OrvaneCreateBlendDagNodeWeightedBlendChildren(
    const orvane_skeleton* ReferenceSkeleton, orvane_real32 FillThreshold,
    orvane_int32 QuaternionMode, orvane_int32 BoneCount, orvane_int32 NumChildren,
    orvane_blend_dag_node** ArrayOfChildren);
/* Releases what the node owns, detaches its children (which stay alive) and the node from
 * its parent, and returns it to the pool. Null is accepted. */
ORVANE_API void OrvaneFreeBlendDagNode(orvane_blend_dag_node* Node);
/* Frees every descendant, depth first, then the node. */
ORVANE_API void OrvaneFreeBlendDagEntireTree(orvane_blend_dag_node* Node);

/* Setters and getters. A type-specific call on a node of another type logs an error and does
 * nothing (getters give null or 0). */
ORVANE_API void OrvaneSetBlendDagNodeAnimationBlend(orvane_blend_dag_node* Node,
                                                    orvane_model_instance* ModelInstance,
                                                    orvane_real32 FillThreshold,
                                                    orvane_bool AutoFree);
ORVANE_API void OrvaneSetBlendDagNodeLocalPose(orvane_blend_dag_node* Node,
                                               orvane_local_pose* LocalPose, orvane_bool AutoFree);
ORVANE_API void OrvaneSetBlendDagNodeCallbacks(
    orvane_blend_dag_node* Node, orvane_blend_dag_sample_callback SampleCallback,
    orvane_blend_dag_set_clock_callback SetClockCallback,
    orvane_blend_dag_motion_vectors_callback MotionVectorsCallback, void* UserData);
ORVANE_API void OrvaneSetBlendDagNodeCrossfade(orvane_blend_dag_node* Node,
                                               orvane_real32 WeightNone, orvane_real32 WeightAll,
                                               const struct orvane_track_mask* TrackMask,
                                               orvane_bool AutoFree);
ORVANE_API void OrvaneSetBlendDagNodeCrossfadeWeights(orvane_blend_dag_node* Node,
                                                      orvane_real32 WeightNone,
                                                      orvane_real32 WeightAll);
ORVANE_API void OrvaneSetBlendDagNodeWeightedBlend(orvane_blend_dag_node* Node,
                                                   const orvane_skeleton* ReferenceSkeleton,
                                                   orvane_real32 FillThreshold,
                                                   orvane_int32 QuaternionMode);
/* Per-bone weights a weighted-blend parent multiplies this node's weight with (null: none). */
ORVANE_API void OrvaneSetBlendDagNodeResultTrackMask(orvane_blend_dag_node* Node,
                                                     const struct orvane_track_mask* TrackMask,
                                                     orvane_bool AutoFree);
ORVANE_API void OrvaneSetBlendDagNodeResultWeight(orvane_blend_dag_node* Node,
                                                  orvane_real32 Weight);
ORVANE_API orvane_real32 OrvaneGetBlendDagNodeResultWeight(const orvane_blend_dag_node* Node);
/* The type; OrvaneDagNodeType_Freed for a null node. */
ORVANE_API orvane_int32 OrvaneGetBlendDagNodeType(const orvane_blend_dag_node* Node);
ORVANE_API orvane_blend_dag_node* OrvaneGetBlendDagNodeParent(const orvane_blend_dag_node* Node);
ORVANE_API const struct orvane_track_mask* OrvaneGetBlendDagNodeResultTrackMask(
    const orvane_blend_dag_node* Node);
ORVANE_API orvane_model_instance* OrvaneGetBlendDagNodeAnimationBlend(
    const orvane_blend_dag_node* Node);
ORVANE_API orvane_local_pose* OrvaneGetBlendDagNodeLocalPose(const orvane_blend_dag_node* Node);
ORVANE_API orvane_blend_dag_sample_callback
OrvaneGetBlendDagNodeCallbackSampleCallback(const orvane_blend_dag_node* Node);
ORVANE_API orvane_blend_dag_set_clock_callback
OrvaneGetBlendDagNodeCallbackSetClockCallback(const orvane_blend_dag_node* Node);
ORVANE_API orvane_blend_dag_motion_vectors_callback
OrvaneGetBlendDagNodeCallbackMotionVectorsCallback(const orvane_blend_dag_node* Node);
ORVANE_API void* OrvaneGetBlendDagNodeCallbackUserData(const orvane_blend_dag_node* Node);
ORVANE_API const struct orvane_track_mask* OrvaneGetBlendDagNodeCrossfadeTrackMask(
    const orvane_blend_dag_node* Node);
ORVANE_API const orvane_skeleton* OrvaneGetBlendDagNodeWeightedBlendSkeleton(
    const orvane_blend_dag_node* Node);
/* True for the three leaf types (below 3); false for null. */
ORVANE_API orvane_bool OrvaneIsBlendDagLeafType(const orvane_blend_dag_node* Node);

/* Children. Child operations on a leaf log an error and do nothing (the count is then -1).
 * A child must be non-null, have no parent and not be the node or one of its ancestors;
 * otherwise the call is refused with an error and nothing changes. */
ORVANE_API orvane_int32 OrvaneGetBlendDagNodeChildrenCount(const orvane_blend_dag_node* Node);
/* Replaces all children; the previous ones are detached. An array listing a node twice is
 * refused. NumChildren 0 clears. */
ORVANE_API void OrvaneSetBlendDagNodeChildren(orvane_blend_dag_node* Node, orvane_int32 NumChildren,
                                              orvane_blend_dag_node** ArrayOfChildren);
/* Copies at most ArraySize children (a warning when they do not all fit); returns the number
 * written. */
ORVANE_API orvane_int32 OrvaneGetBlendDagNodeChildren(const orvane_blend_dag_node* Node,
                                                      orvane_int32 ArraySize,
                                                      orvane_blend_dag_node** ArrayOfChildren);
ORVANE_API void OrvaneClearBlendDagNodeChildren(orvane_blend_dag_node* Node);
/* Replaces entry ChildNumber (in [0, count)); the old child is detached. */
ORVANE_API void OrvaneSetBlendDagNodeChild(orvane_blend_dag_node* Node, orvane_int32 ChildNumber,
                                           orvane_blend_dag_node* Child);
ORVANE_API orvane_blend_dag_node* OrvaneGetBlendDagNodeChild(const orvane_blend_dag_node* Node,
                                                             orvane_int32 ChildNumber);
ORVANE_API void OrvaneAddBlendDagNodeChild(orvane_blend_dag_node* Node,
                                           orvane_blend_dag_node* Child);
/* Removes the child, which must have this node as parent. */
ORVANE_API void OrvaneRemoveBlendDagNodeChild(orvane_blend_dag_node* Node,
                                              orvane_blend_dag_node* Child);

/* The calling thread's pose cache: room for max(PoseCount, 16) poses of BoneCount bones. */
ORVANE_API void OrvanePrimeBlendDagLocalPoseCache(orvane_int32 BoneCount, orvane_int32 PoseCount);
/* Frees the calling thread's pose cache; poses it returned become invalid. */
ORVANE_API void OrvaneFreeBlendDagLocalPoseCache(void);
/* An application-owned cache, for sampling on threads the application does not want to hold
 * a cache, or several results alive at once. Null when memory runs out. */
ORVANE_API orvane_blend_dag_pose_cache* OrvaneNewBlendDagPoseCache(void);
ORVANE_API void OrvaneFreeBlendDagPoseCache(orvane_blend_dag_pose_cache* Cache);
/* False (logged) when memory runs out or the counts are negative. */
ORVANE_API orvane_bool OrvanePrimeBlendDagPoseCache(orvane_blend_dag_pose_cache* Cache,
                                                    orvane_int32 BoneCount, orvane_int32 PoseCount);

/* Samples the tree into a pose of BoneCount entries (entry i is skeleton bone
 * SparseBoneArray[i] when that array is given, else bone i). The result belongs to the cache,
 * to a local-pose leaf or to the application (a callback's pose): read it, do not free it.
 * Null (logged) for a node outside the types, no memory, a crossfade without children, a
 * weighted blend without skeleton, bone or sparse indices outside a skeleton, a child pose
 * with fewer than BoneCount bones, or a callback that returns null. */
ORVANE_API orvane_local_pose* OrvaneSampleBlendDagTreeLODSparse(
    orvane_blend_dag_node* Node, orvane_int32 BoneCount, orvane_real32 AllowedError,
    const orvane_int32* SparseBoneArray);
ORVANE_API orvane_local_pose* OrvaneSampleBlendDagTreeLOD(orvane_blend_dag_node* Node,
                                                          orvane_int32 BoneCount,
                                                          orvane_real32 AllowedError);
ORVANE_API orvane_local_pose* OrvaneSampleBlendDagTree(orvane_blend_dag_node* Node,
                                                       orvane_int32 BoneCount);
ORVANE_API orvane_local_pose* OrvaneSampleBlendDagTreeLODSparseWithCache(
    orvane_blend_dag_pose_cache* Cache, orvane_blend_dag_node* Node, orvane_int32 BoneCount,
    orvane_real32 AllowedError, const orvane_int32* SparseBoneArray);

/* Root motion of the tree over the last SecondsElapsed, blended as the poses are (the mask
 * weight of bone 0 stands for the whole). Translation in model units, rotation as a rotation
 * vector. */
ORVANE_API void OrvaneGetBlendDagTreeMotionVectors(orvane_blend_dag_node* Node,
                                                   orvane_real32 SecondsElapsed,
                                                   orvane_real32 ResultTranslation[3],
                                                   orvane_real32 ResultRotation[3],
                                                   orvane_bool Inverse);
/* Dest = motion * Model; Dest may be Model. */
ORVANE_API void OrvaneUpdateBlendDagTreeMatrix(orvane_blend_dag_node* Node,
                                               orvane_real32 SecondsElapsed,
                                               const orvane_real32 ModelMatrix4x4[16],
                                               orvane_real32 DestMatrix4x4[16],
                                               orvane_bool Inverse);
/* OrvaneSetModelClock for every instance leaf, the clock callback of every callback leaf. */
ORVANE_API void OrvaneSetBlendDagTreeClock(orvane_blend_dag_node* Node, orvane_real32 NewClock);
ORVANE_API void OrvaneBlendDagNodeAnimationBlendFreeCompletedControls(orvane_blend_dag_node* Node);
ORVANE_API void OrvaneBlendDagFreeCompletedControlsEntireTree(orvane_blend_dag_node* Node);

/* A copy of the tree: instance leaves get new instances of the same model (no controls),
 * owned when AutoFreeCreatedModelInstances; owned poses and masks are copied, others shared.
 * DestNodeList[i] receives the copy of SourceNodeList[i] (null when that node is not in the
 * tree). Null on failure, with nothing left allocated; a crossfade with more than two
 * children is refused. */
ORVANE_API orvane_blend_dag_node* OrvaneDuplicateBlendDagTree(
    const orvane_blend_dag_node* Node, const orvane_blend_dag_node** SourceNodeList,
    orvane_blend_dag_node** DestNodeList, orvane_int32 NodeListCount,
    orvane_bool AutoFreeCreatedModelInstances);
/* The first broken rule sets *ReasonFailed and *NodeFailed (either may be null). The tree
 * form checks every child's subtree, in order, before the node. */
ORVANE_API orvane_bool OrvaneIsBlendDagNodeValid(const orvane_blend_dag_node* Node,
                                                 const char** ReasonFailed,
                                                 const orvane_blend_dag_node** NodeFailed);
ORVANE_API orvane_bool OrvaneIsBlendDagTreeValid(const orvane_blend_dag_node* Node,
                                                 const char** ReasonFailed,
                                                 const orvane_blend_dag_node** NodeFailed);
/* 1 for a leaf or a childless node, else 1 + the deepest child; 0 for null. */
ORVANE_API orvane_int32 OrvaneFindBlendDagTreeDepth(const orvane_blend_dag_node* Node);

ORVANE_EXTERN_C_END

#endif /* ORVANE_RUNTIME_H */

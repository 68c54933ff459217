/* Orvane model instances, controls and root motion. */
#ifndef ORVANE_PUBLIC_INSTANCE_H
#define ORVANE_PUBLIC_INSTANCE_H

#include "orvane/common.h"
#include "orvane/math.h"
#include "orvane/types.h"
#include "orvane/local_pose.h"
#include "orvane/world_pose.h"

ORVANE_EXTERN_C_BEGIN

struct orvane_track_mask;

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
 * duration that is not finite logs an error and gives null; a clock, clock shift, ease
 * interval, ease duration, speed or weight that is not finite logs an error and changes
 * nothing. */
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

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_INSTANCE_H */

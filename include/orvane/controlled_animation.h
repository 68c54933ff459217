/* Orvane controlled animations and controlled poses: controls that play an animation or a
 * local pose on model instances. */
#ifndef ORVANE_PUBLIC_CONTROLLED_ANIMATION_H
#define ORVANE_PUBLIC_CONTROLLED_ANIMATION_H

#include "orvane/common.h"
#include "orvane/types.h"
#include "orvane/instance.h"
#include "orvane/animation_binding.h"

ORVANE_EXTERN_C_BEGIN

struct orvane_track_mask;

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
/* Null (logged) for a null animation, one whose content cannot be trusted (a count without its
 * array; a duration, time step, loop or placement that is not finite) or a StartTime that is
 * not finite; null for no memory. Every track group starts untargeted, with the accumulation
 * mode its flags select (bit 1 constant loop, else bit 4 variable delta, else none). Builders
 * belong to one thread. */
ORVANE_API orvane_controlled_animation_builder* OrvaneBeginControlledAnimation(
    orvane_real32 StartTime, const orvane_animation* Animation);
/* Releases the builder on every path; null on failure (logged). A track group whose binding
 * cannot be built is not bound (logged). An existing control keeps its clocks; its nodes go in
 * front of the instances' rings when it plays (active, with a weight), else behind. */
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

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_CONTROLLED_ANIMATION_H */

/* Orvane animation bindings: tracks matched to bones once and cached, and LOD values. */
#ifndef ORVANE_PUBLIC_ANIMATION_BINDING_H
#define ORVANE_PUBLIC_ANIMATION_BINDING_H

#include "orvane/common.h"
#include "orvane/types.h"
#include "orvane/instance.h"

ORVANE_EXTERN_C_BEGIN

struct orvane_track_mask;
struct orvane_mesh_binding;

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

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_ANIMATION_BINDING_H */

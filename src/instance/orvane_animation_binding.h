// Animation bindings: the match of one track group's transform tracks to a model's bones, as
// the controlled animations sample it.
#ifndef ORVANE_ANIMATION_BINDING_H
#define ORVANE_ANIMATION_BINDING_H

#include "core/orvane_private.h"
#include "orvane/animation_binding.h"
#include "orvane/track_sampler.h"

#include <cstddef>
#include <cstdint>

namespace orvane {

// One per skeleton bone, in bone order.
struct TrackBinding {
    int32_t TrackIndex;                         // -1: no track drives the bone
    const orvane_transform_track* SourceTrack;  // null when TrackIndex is -1
    orvane_track_sampler Sampler;               // never null
    int32_t QuaternionMode;
    float LODError;
    orvane_transform LODTransform;
};

}  // namespace orvane

struct orvane_animation_binding {
    orvane_animation_binding_identifier ID;
    void* RebasingMemory;
    size_t RebasingBytes;  // the size of RebasingMemory's block
    int32_t TrackBindingCount;
    orvane::TrackBinding* TrackBindings;
    float LoopTranslation[3];
    float LoopRotation[3];
    // The cache: every binding in key order, and the unused ones, released longest ago first.
    orvane_animation_binding* CacheNext;
    orvane_animation_binding* CachePrevious;
    int32_t UsedBy;
    orvane_animation_binding* UnusedNext;
    orvane_animation_binding* UnusedPrevious;
    bool OnUnusedList;
};

namespace orvane {

// The track group the binding plays.
inline const orvane_track_group* BindingTrackGroup(const orvane_animation_binding& b) {
    return b.ID.Animation->TrackGroups[b.ID.SourceTrackGroupIndex];
}

// Makes the sampling plans of the controlled-animation nodes that play the binding anew, after
// its tracks were re-pointed (tracksChanged) or its LOD errors changed which tracks always show
// their LOD transform. Binding time only; takes the instance lock.
void ReplanAnimationNodes(const orvane_animation_binding* binding, bool tracksChanged);

// The cache counters, for the statistics snapshot.
void GetBindingCacheCounters(orvane_animation_binding_cache_status* status);

}  // namespace orvane

#endif  // ORVANE_ANIMATION_BINDING_H

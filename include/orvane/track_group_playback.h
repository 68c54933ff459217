/* Orvane track group playback: every transform track of a track group sampled into an array of
 * local transforms in one call, with the group's sampling planned once. */
#ifndef ORVANE_PUBLIC_TRACK_GROUP_PLAYBACK_H
#define ORVANE_PUBLIC_TRACK_GROUP_PLAYBACK_H

#include "orvane/common.h"
#include "orvane/types.h"
#include "orvane/track_sampler.h"

ORVANE_EXTERN_C_BEGIN

/* ---------------------------------------------------------------------------------------- */
/* Track group playback                                                                     */
/* ---------------------------------------------------------------------------------------- */
/* A playback holds what sampling a whole track group at successive times can keep from one call
 * to the next: which curves are identities or constants (their values are found once), and the
 * decoded key windows of the moving position and orientation curves, side by side so that a
 * call decodes only the windows whose key changed and interpolates four tracks at a time. It is
 * what a model instance keeps per playing animation, without the instance: for tools, for
 * sampling a clip into a buffer of one's own, and for blending in one's own code.
 *
 * Threads: a playback is used by one caller at a time; distinct playbacks of one track group
 * may sample on several threads at once (the group is only read). Errors log from
 * OrvaneTrackGroupOrigin. */

typedef struct orvane_track_group_playback orvane_track_group_playback;

/* Plans the sampling of every transform track of TrackGroup, which must outlive the playback
 * and keep its curves unchanged while it lives (make a new playback after changing them). The
 * curves are checked here, once: returns null, with an error logged, for a null group, a
 * track count below 0 or tracks missing for it, a curve whose format does not match its data,
 * a knot or control that is not a finite number, knots that run backwards, more tracks than
 * the size of memory can count, or no memory.
 * Release with OrvaneFreeTrackGroupPlayback. */
ORVANE_API orvane_track_group_playback* OrvaneNewTrackGroupPlayback(
    const orvane_track_group* TrackGroup);
/* Releases a playback (null: nothing happens). */
ORVANE_API void OrvaneFreeTrackGroupPlayback(orvane_track_group_playback* Playback);

/* Samples every transform track of the playback's group at Context (the same context as the
 * per-track samplers take): the result for track i is the transform OrvaneSampleTrackUUULocal
 * yields for the track and the context into a transform whose Flags started at 0, to the bit,
 * whatever the times of earlier calls (playback forwards or backwards, jumps, changed looping
 * or duration). Returns the playback's own TransformTrackCount results, valid until the next
 * call or the playback's release; when Results is not null they are also copied to Results[0
 * .. TransformTrackCount - 1] (which may change from one call to the next). Playback and
 * Context must not be null. */
ORVANE_API const orvane_transform* OrvaneSampleTrackGroupPlayback(
    orvane_track_group_playback* Playback, const orvane_track_sample_context* Context,
    orvane_transform* Results);

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_TRACK_GROUP_PLAYBACK_H */

/* Orvane track sampling: the samplers of transform tracks, by the kinds of their three curves. */
#ifndef ORVANE_PUBLIC_TRACK_SAMPLER_H
#define ORVANE_PUBLIC_TRACK_SAMPLER_H

#include "orvane/common.h"
#include "orvane/types.h"
#include "orvane/curve.h"

ORVANE_EXTERN_C_BEGIN

/* ---------------------------------------------------------------------------------------- */
/* Track sampling                                                                           */
/* ---------------------------------------------------------------------------------------- */
/* Curves are checked before they are sampled: a curve whose format, degree, dimension or
 * counts no sampler can read (a hostile or damaged file) is sampled as its identity value,
 * with a warning given once per process. Samplers keep their window buffers on the stack:
 * distinct tracks and instances may be sampled on several threads at once. */

typedef struct orvane_track_sample_context {
    orvane_real32 SampleTime;     /* local time within the animation, seconds */
    orvane_real32 SampleDuration; /* one loop; the duration of the neighbouring loops */
    orvane_bool LoopBefore;       /* the window continues before the start with the curve */
    orvane_bool LoopAfter;        /* the window continues after the end with the curve */
    orvane_int32 FrameIndex;      /* the frame keyframed curves yield (clamped to their count) */
} orvane_track_sample_context;

/* Forms L, then WorldResult = M(L) ParentMatrix and CompositeResult = InverseWorld4x4
 * WorldResult (affine 4x4 products). BoundTrack is the caller's per-track record, passed
 * through and not read by the samplers here. */
typedef void (*orvane_track_sampler)(const orvane_track_sample_context* Context,
                                     const orvane_transform_track* SourceTrack,
                                     const void* BoundTrack,
                                     const orvane_transform* ConstantTransform,
                                     const orvane_real32* InverseWorld4x4,
                                     const orvane_real32* ParentMatrix, orvane_real32* WorldResult,
                                     orvane_real32* CompositeResult);

/* Writes all three components and ORs into Result->Flags (start it at 0): bit 1 unless the
 * position curve is the identity, bit 2 and bit 4 likewise. A sampled orientation is normalised
 * to unit length (exactly, to float rounding: keys far apart blend to a quaternion much shorter
 * than 1, which a single Newton step would leave scaling and shearing); one without length
 * (opposite keys half way) or not a number becomes the identity. Every track sampler, the
 * position-and-orientation sampler and the model instances' sampling paths (local poses and the
 * accelerated world build alike) take their orientations from here, so they agree to rounding.
 * A constant orientation is used as stored. BoundTrack is not used. */
ORVANE_API void OrvaneSampleTrackUUULocal(const orvane_track_sample_context* Context,
                                          const orvane_transform_track* SourceTrack,
                                          const void* BoundTrack, orvane_transform* Result);
/* As OrvaneSampleTrackUUULocal with a caller-owned hint per curve (position, orientation,
 * scale/shear; start them at 0): the knot search starts at the hinted knot, so playback at
 * successive times finds its knots in a step or two. The result does not depend on the hints. */
ORVANE_API void OrvaneSampleTrackUUULocalHinted(const orvane_track_sample_context* Context,
                                                const orvane_transform_track* SourceTrack,
                                                orvane_int32 KnotHints[3],
                                                orvane_transform* Result);
/* A per-instance playback cache for one track: the knot hints, and the decoded windows of
 * degree-1 position and orientation curves in the quantised formats (D3K16uC16u, D3K8uC8u,
 * D4nK16uC15u, D4nK8uC7u, DaK16uC16u, DaK8uC8u) and the compact format (the curves are
 * identified by their data's address). Zero it before first use and whenever the track's
 * curves change. */
typedef struct orvane_track_sample_cache {
    orvane_int32 KnotHints[3];
    orvane_int32 WindowKnots[2];
    const void* WindowCurves[2];
    orvane_real32 WindowTimes[2][2];
    orvane_real32 WindowValues[2][8];
} orvane_track_sample_cache;

/* As OrvaneSampleTrackUUULocal, reusing the cache: the same result, less decoding at
 * successive times (curves the cache does not hold are sampled as without it). */
ORVANE_API void OrvaneSampleTrackUUULocalCached(const orvane_track_sample_context* Context,
                                                const orvane_transform_track* SourceTrack,
                                                orvane_track_sample_cache* Cache,
                                                orvane_transform* Result);
/* Position and orientation only, no flags; keyframed curves yield their first frame. */
ORVANE_API void OrvaneSampleTrackPOLocal(const orvane_track_sample_context* Context,
                                         const orvane_transform_track* SourceTrack,
                                         const void* BoundTrack, orvane_real32 Position[3],
                                         orvane_real32 Orientation[4]);
/* The sampler for the kinds of the track's three curves (identity, constant, animated); the
 * general one for keyframed tracks. A curve that fails the check counts as an identity curve
 * (with the warning, once). Chosen once per bound track; never null. */
ORVANE_API orvane_track_sampler OrvaneGetTrackSamplerFor(const orvane_transform_track* Track);
ORVANE_API orvane_track_sampler OrvaneGetTrackSamplerUUU(void);
/* Ignores the track and uses ConstantTransform as the local transform. */
ORVANE_API orvane_track_sampler OrvaneGetTrackSamplerSSS(void);
ORVANE_API orvane_track_sampler OrvaneGetTrackSamplerIII(void);
/* Identity position and orientation, the scale/shear curve sampled. */
ORVANE_API orvane_track_sampler OrvaneGetTrackSamplerIIU(void);

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_TRACK_SAMPLER_H */

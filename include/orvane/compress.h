/* Orvane animation compression (offline): sampled local transforms of a skeleton's bones into a
 * track group of fitted curves within an object-space error budget. */
#ifndef ORVANE_PUBLIC_COMPRESS_H
#define ORVANE_PUBLIC_COMPRESS_H

#include "orvane/common.h"
#include "orvane/types.h"
#include "orvane/track_group_builder.h"

ORVANE_EXTERN_C_BEGIN

/* ---------------------------------------------------------------------------------------- */
/* Animation compression                                                                    */
/* ---------------------------------------------------------------------------------------- */
/* Turns sampled local transforms of a skeleton's bones into a track group of fitted curves
 * that keeps every bone within an object-space error budget. The error of a bone at a frame
 * is the largest distance between the three points (ShellDistance, 0, 0), (0, ShellDistance,
 * 0) and (0, 0, ShellDistance) carried to object space by the bone's transform composed with
 * its ancestors', once from the samples and once from the curves. Each bone's curves make up
 * for the rounding of its ancestors' curves, so errors do not add up along a chain. Halfway
 * between frames the curves are held to the samples' straight path (lerp, normalised lerp
 * for orientations) within the budget, allowing the bend that smooth paths through the
 * neighbouring frames take there (none next to a cut); a bone answers only for what it adds
 * to what its parents left there, which its curves cannot undo. Controls are solved on the
 * knot times as each format stores them; each component takes the smallest format and degree
 * that holds, plain floats only when no quantised format does. A bone whose local transform the
 * source keeps still (moving its shell and descendants by a twentieth of the budget at most:
 * a joint at rest, an end site) keeps the source's values as constants or identities; its
 * parent then holds the budget at the still bone's shell and its children's origins, and the
 * bone makes up for its parents with curves only when that does not hold. A bone whose offset
 * from its parent the source holds fixed (and whose orientation moves) keeps the offset as a
 * constant whenever its orientation can then make up for its parents' rounding in fewer bytes
 * than a moving position and its orientation would.
 * Threads: a call uses only its own memory; calls on distinct data may run at once. */

/* Reports after each bone; BonesDone of BoneCount. */
typedef void (*orvane_compression_progress_callback)(orvane_int32 BonesDone, orvane_int32 BoneCount,
                                                     void* UserData);

typedef struct orvane_animation_compression_options {
    /* Largest object-space error, in the skeleton's length unit. Default 0.01. */
    orvane_real32 ErrorBudget;
    /* Distance of the three measuring points from each bone, same unit. Default 3. */
    orvane_real32 ShellDistance;
    /* Bit (1 << format) for each curve format (orvane_curve_format) the curves may use; the
     * identity and constant formats reduce still components. Default: every format but
     * DaKeyframes32f. A component that no allowed format can hold within its budget is stored
     * as DaK32fC32f with one knot per sample (exact), whatever this says.
     * The bit 1 << OrvaneCurveFormatDaCompact (not in the default) allows the compact format:
     * a component that is not an identity or a constant takes it (knots every sample or every
     * few samples, each segment's components at the smallest bit depths that hold the budget,
     * about a straight line across the segment where that takes fewer bytes) unless an allowed
     * fitted format is smaller. It also allows the 8-byte constants (D3Constant14s and
     * D4nConstant15u, which their own bits allow as well): a constant position or orientation
     * takes 8 bytes instead of 16 or 20 wherever their rounding keeps the budget. */
    orvane_uint32 AllowedFormats;
    /* Bit (1 << degree) for the degrees 1 to 3 the fits may use. Default: all three. */
    orvane_uint32 AllowedDegrees;
    orvane_compression_progress_callback Progress; /* may be null (the default) */
    void* ProgressUserData;
    /* Per-bone distances of the measuring points (Skeleton->BoneCount values, each at least 0,
     * in the skeleton's length unit; for a skinned bone, the farthest vertex it moves), or
     * null (the default) for ShellDistance at every bone. */
    const orvane_real32* BoneShellDistances;
} orvane_animation_compression_options;

/* What a compression achieved (optional output). */
typedef struct orvane_animation_compression_statistics {
    orvane_real32 MaxError;       /* largest object-space error over all bones and frames */
    orvane_int32 MaxErrorBone;    /* the bone where it occurs */
    orvane_int32 CurveDataBytes;  /* encoded curve data of all tracks (shared records once) */
    orvane_int32 TrackGroupBytes; /* the whole track group block */
    orvane_int32 ExactComponents; /* components stored exactly (no fit met the budget) */
    /* Components left in plain floats (DaK32fC32f): no quantised format held them. */
    orvane_int32 PlainFloatComponents;
    /* Bones whose curves hold every frame but, halfway between frames, miss the budget (beyond
     * what their parents left them) at every tolerance tried. */
    orvane_int32 BonesMissedBetweenFrames;
    orvane_real32 P99Error;  /* 99th percentile of the errors of every bone at every frame */
    orvane_real32 MeanError; /* their mean */
} orvane_animation_compression_statistics;

ORVANE_API void OrvaneGetDefaultAnimationCompressionOptions(
    orvane_animation_compression_options* Options);

/* Compresses SampleCount frames, TimeStep seconds apart, of the samples recorded in Samples:
 * track i holds bone i's local transforms (Skeleton->BoneCount tracks, at least SampleCount
 * frames each). The result has one transform track per bone, named by the bone (the names
 * and Name are kept by pointer and must outlive the group), curves over [0, (SampleCount - 1)
 * TimeStep]; release it with OrvaneFreeBuilderResult. Options may be null (the defaults).
 * Returns null, with an error logged, for a null or unnamed skeleton, parents that are not
 * below their bones, SampleCount below 2, a TimeStep or budget that is not positive, samples
 * that are not finite, or no memory. Statistics may be null. */
ORVANE_API orvane_track_group* OrvaneCompressAnimation(
    const orvane_skeleton* Skeleton, orvane_track_group_sampler* Samples, orvane_int32 SampleCount,
    orvane_real32 TimeStep, const char* Name, const orvane_animation_compression_options* Options,
    orvane_animation_compression_statistics* Statistics);

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_COMPRESS_H */

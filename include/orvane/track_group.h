/* Orvane track groups: track lookups, flags, queries, initial transforms, basis conversion of
 * curves, re-sorting and LOD error space.
 *
 * Threads: queries may run on several threads at once; the operations that change a track group
 * or its curves need exclusive access to it. */
#ifndef ORVANE_PUBLIC_TRACK_GROUP_H
#define ORVANE_PUBLIC_TRACK_GROUP_H

#include "orvane/common.h"
#include "orvane/types.h"
#include "orvane/curve.h"

ORVANE_EXTERN_C_BEGIN

/* ---------------------------------------------------------------------------------------- */
/* Track groups: lookups, flags, queries, initial transforms and basis conversion           */
/* ---------------------------------------------------------------------------------------- */
/* orvane_track_group, orvane_transform_track, orvane_vector_track and orvane_text_track are
 * declared in orvane/types.h. Flags are the low 16 bits of AccumulationFlags, the variable-
 * delta degrees of freedom the high 16 bits (signed).
 *
 * Threads: lookups and queries only read (the name lookups read the process-wide string
 * comparison callback); the operations that change tracks or curves need exclusive access to
 * them. Nothing here keeps process-wide scratch. Errors log from OrvaneTrackGroupOrigin. */

enum {
    OrvaneTrackGroupSortedByName = 2 /* transform tracks in the library's name order */
};

/* Name lookup: bisection when the group is flagged as sorted (the comparison callback, else
 * OrvaneStringDifference), a scan for the first equal name otherwise. Returns false with
 * *TrackIndex = -1 when there is no such track or the group is null. */
ORVANE_API orvane_bool OrvaneFindTrackByName(const orvane_track_group* TrackGroup, const char* Name,
                                             orvane_int32* TrackIndex);
/* The first track whose name, matched against Pattern ('?' one character, '*' any run, other
 * characters compared with letters folded to lower case; a null pattern takes the whole
 * name), yields exactly ProcessedName from its wildcards. Names longer than 1023 characters
 * never match. */
ORVANE_API orvane_bool OrvaneFindTrackByRule(const orvane_track_group* TrackGroup,
                                             const char* ProcessedName, const char* Pattern,
                                             orvane_int32* TrackIndex);
ORVANE_API orvane_bool OrvaneFindVectorTrackByName(const orvane_track_group* TrackGroup,
                                                   const char* Name,
                                                   orvane_int32* VectorTrackIndex);
ORVANE_API orvane_bool OrvaneFindVectorTrackByRule(const orvane_track_group* TrackGroup,
                                                   const char* ProcessedName, const char* Pattern,
                                                   orvane_int32* VectorTrackIndex);

/* *VDADOFs is the high half sign-extended (0xFFFF reads back as -1). */
ORVANE_API void OrvaneGetTrackGroupFlags(const orvane_track_group* TrackGroup, orvane_uint32* Flags,
                                         orvane_uint32* VDADOFs);
ORVANE_API void OrvaneSetTrackGroupFlags(orvane_track_group* TrackGroup, orvane_uint32 Flags,
                                         orvane_uint32 VDADOFs);
ORVANE_API void OrvaneGetTrackGroupInitialPlacement4x4(const orvane_track_group* TrackGroup,
                                                       orvane_real32 Placement4x4[16]);

ORVANE_API orvane_bool OrvaneTransformTrackHasKeyframedCurves(const orvane_transform_track* Track);
/* Not all three curves constant-or-identity. */
ORVANE_API orvane_bool OrvaneTransformTrackIsAnimated(const orvane_transform_track* Track);
ORVANE_API orvane_bool OrvaneTransformTrackIsIdentity(const orvane_transform_track* Track);
/* Knot 0 of each curve, flags by the identity check. A curve with no knot to read (or one
 * that fails the track check of the samplers) gives its identity value. */
ORVANE_API void OrvaneGetTrackInitialTransform(const orvane_transform_track* Track,
                                               orvane_transform* Result);

/* In place on Count values: points by Transform; quaternions q -> Orientation (x) q;
 * matrices M -> R^T S R M with R = R(Orientation), S = ScaleShear. */
ORVANE_API void OrvaneTransformCurve3(const orvane_transform* Transform, orvane_int32 Count,
                                      orvane_real32* Vec3s);
ORVANE_API void OrvaneTransformCurve4(const orvane_transform* Transform, orvane_int32 Count,
                                      orvane_real32* Quaternions);
ORVANE_API void OrvaneTransformCurve3x3(const orvane_transform* Transform, orvane_int32 Count,
                                        orvane_real32* Matrices3x3);
/* Re-expresses the track relative to its initial transform. Every non-identity curve must be
 * DaK32fC32f; otherwise an error is logged and nothing changes. */
ORVANE_API void OrvaneRemoveTrackInitialTransform(orvane_transform_track* Track);

/* True when Linear3x3 is, within LinearTolerance, a signed axis permutation with one common
 * scale: the case in which curves are converted by swizzling their stored values instead of
 * being decoded and re-encoded (the name is historical: true means no decompression is
 * needed). With RoundToTolerance and a true result, Linear3x3 is snapped to that exact form
 * and InverseLinear3x3 recomputed. Affine3 and AffineTolerance are not used. */
ORVANE_API orvane_bool OrvaneBasisConversionRequiresCurveDecompression(
    const orvane_real32 Affine3[3], orvane_real32 Linear3x3[9], orvane_real32 InverseLinear3x3[9],
    orvane_real32 AffineTolerance, orvane_real32 LinearTolerance, orvane_bool RoundToTolerance);
/* v -> Linear3x3 v + Affine3 on every control of a 3-dimensional, non-identity curve, in its
 * own format. A failed temporary allocation leaves the curve unchanged. */
ORVANE_API void OrvaneTransformCurveVec3(const orvane_real32 Affine3[3],
                                         const orvane_real32 Linear3x3[9],
                                         orvane_real32 AffineTolerance,
                                         orvane_real32 LinearTolerance, orvane_curve2* Curve);
ORVANE_API void OrvaneSimilarityTransformCurvePosition(const orvane_real32 Affine3[3],
                                                       const orvane_real32 Linear3x3[9],
                                                       const orvane_real32 InverseLinear3x3[9],
                                                       orvane_real32 AffineTolerance,
                                                       orvane_real32 LinearTolerance,
                                                       orvane_curve2* Curve);
/* q -> quaternion of L R(q) L^-1 (length kept); dimension 4 only. */
ORVANE_API void OrvaneSimilarityTransformCurveQuaternion(const orvane_real32 Affine3[3],
                                                         const orvane_real32 Linear3x3[9],
                                                         const orvane_real32 InverseLinear3x3[9],
                                                         orvane_real32 AffineTolerance,
                                                         orvane_real32 LinearTolerance,
                                                         orvane_curve2* Curve);
/* M -> L M L^-1; dimension 9 only. */
ORVANE_API void OrvaneSimilarityTransformCurveScaleShear(const orvane_real32 Affine3[3],
                                                         const orvane_real32 Linear3x3[9],
                                                         const orvane_real32 InverseLinear3x3[9],
                                                         orvane_real32 AffineTolerance,
                                                         orvane_real32 LinearTolerance,
                                                         orvane_curve2* Curve);
/* Every track's curves, the loop translation, the periodic loop and the initial placement;
 * vector tracks, text tracks and the root motion are left alone. A record that several curves
 * share (the builder shares equal constants) is converted once. */
ORVANE_API void OrvaneSimilarityTransformTrackGroup(orvane_track_group* TrackGroup,
                                                    const orvane_real32 Affine3[3],
                                                    const orvane_real32 Linear3x3[9],
                                                    const orvane_real32 InverseLinear3x3[9],
                                                    orvane_real32 AffineTolerance,
                                                    orvane_real32 LinearTolerance);

/* Largest distance of the vectors from IdentityVector and from the first vector (quaternion
 * mode: |1 - dot|; Euclidean: length; else L1). A null IdentityVector gives an identity
 * difference of 1.9140881e38. */
ORVANE_API void OrvaneGetVectorDifferences(orvane_int32 Dimension, orvane_int32 VectorCount,
                                           const orvane_real32* Vectors,
                                           const orvane_real32* IdentityVector,
                                           orvane_bool Euclidean, orvane_bool QuaternionMode,
                                           orvane_real32* IdentityDifference,
                                           orvane_real32* ConstantDifference);
/* True, with degree 0 and 0 knots, when the controls are the identity within Epsilon; true
 * with degree 0 and 1 knot when they are constant; else false with Degree and KnotCount. */
ORVANE_API orvane_bool OrvaneKnotsAreReducible(
    orvane_int32 Degree, orvane_int32 Dimension, orvane_int32 KnotCount, const orvane_real32* Knots,
    const orvane_real32* Controls, const orvane_real32* IdentityVector, orvane_real32 Epsilon,
    orvane_bool Euclidean, orvane_bool QuaternionMode, orvane_int32* RequiredDegree,
    orvane_int32* RequiredKnotCount);

/* ---------------------------------------------------------------------------------------- */
/* Re-sorting and LOD error space                                                           */
/* ---------------------------------------------------------------------------------------- */
/* Errors log from OrvaneTrackGroupBuilderOrigin. A group belongs to one thread at a time while
 * these change it. */

/* Sorts the transform tracks by name (their LOD errors move with them) and sets
 * OrvaneTrackGroupSortedByName; under a comparison callback, neighbours with the very same
 * name pointer are reported. */
ORVANE_API void OrvaneResortTrackGroup(orvane_track_group* TrackGroup);
/* Gives a group without LOD errors one per transform track (set to 1.9140881e38). */
ORVANE_API void OrvaneAllocateLODErrorSpace(orvane_track_group* TrackGroup);
/* Frees only what OrvaneAllocateLODErrorSpace allocated; errors inside a built or loaded
 * block are detached, not freed. */
ORVANE_API void OrvaneFreeLODErrorSpace(orvane_track_group* TrackGroup);
ORVANE_API void OrvaneSetAllLODErrorSpace(orvane_track_group* TrackGroup, orvane_real32 Value);
ORVANE_API void OrvaneResetLODErrorSpace(orvane_track_group* TrackGroup);

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_TRACK_GROUP_H */

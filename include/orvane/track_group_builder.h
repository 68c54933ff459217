/* Orvane track group builder and sampled animations (offline): track groups from curves, and the
 * sampled local transforms that the fitter and the compressor take. */
#ifndef ORVANE_PUBLIC_TRACK_GROUP_BUILDER_H
#define ORVANE_PUBLIC_TRACK_GROUP_BUILDER_H

#include "orvane/common.h"
#include "orvane/types.h"
#include "orvane/curve.h"

ORVANE_EXTERN_C_BEGIN

/* ---------------------------------------------------------------------------------------- */
/* Track group builder, LOD error space and sampled animations                              */
/* ---------------------------------------------------------------------------------------- */
/* A builder or a sampled animation belongs to one thread at a time. Names and texts are kept
 * as the caller's pointers and must outlive the track group. Errors log from
 * OrvaneTrackGroupBuilderOrigin. */

typedef struct orvane_track_group_builder orvane_track_group_builder;
typedef struct orvane_track_group_sampler orvane_track_group_sampler;

/* The three counts are not used. Null when the allocation failed. */
ORVANE_API orvane_track_group_builder* OrvaneBeginTrackGroup(const char* Name,
                                                             orvane_int32 VectorTrackCount,
                                                             orvane_int32 TransformTrackCount,
                                                             orvane_int32 TextTrackCount,
                                                             orvane_bool IncludeLODErrorSpace);
/* The curve setters encode into the builder; a failed encoding leaves that curve empty. The
 * transform track's "Curve" setters refuse (with an error) a curve whose dimension is not the
 * component's (3, 4, 9), which then stays empty; an identity curve takes the component's
 * dimension. A vector track's Dimension outside [0, 32767] is refused with an error and no
 * track is added. */
ORVANE_API void OrvanePushVectorTrack(orvane_track_group_builder* Builder, const char* Name,
                                      orvane_int32 Degree, orvane_int32 Dimension,
                                      orvane_int32 Unused, orvane_int32 KnotCount,
                                      const orvane_real32* Knots, const orvane_real32* Controls,
                                      orvane_data_type_definition* CurveDataType);
ORVANE_API void OrvanePushVectorTrackCurve(orvane_track_group_builder* Builder, const char* Name,
                                           const orvane_curve2* Source);
ORVANE_API void OrvaneBeginTransformTrack(orvane_track_group_builder* Builder, const char* Name);
/* Without an open transform track these do nothing. */
ORVANE_API void OrvaneSetTransformTrackPosition(orvane_track_group_builder* Builder,
                                                orvane_int32 Degree, orvane_int32 Unused,
                                                orvane_int32 KnotCount, const orvane_real32* Knots,
                                                const orvane_real32* Controls,
                                                orvane_data_type_definition* CurveDataType);
ORVANE_API void OrvaneSetTransformTrackOrientation(orvane_track_group_builder* Builder,
                                                   orvane_int32 Degree, orvane_int32 Unused,
                                                   orvane_int32 KnotCount,
                                                   const orvane_real32* Knots,
                                                   const orvane_real32* Controls,
                                                   orvane_data_type_definition* CurveDataType);
ORVANE_API void OrvaneSetTransformTrackScaleShear(orvane_track_group_builder* Builder,
                                                  orvane_int32 Degree, orvane_int32 Unused,
                                                  orvane_int32 KnotCount,
                                                  const orvane_real32* Knots,
                                                  const orvane_real32* Controls,
                                                  orvane_data_type_definition* CurveDataType);
ORVANE_API void OrvaneSetTransformTrackPositionCurve(orvane_track_group_builder* Builder,
                                                     const orvane_curve2* Source);
ORVANE_API void OrvaneSetTransformTrackOrientationCurve(orvane_track_group_builder* Builder,
                                                        const orvane_curve2* Source);
ORVANE_API void OrvaneSetTransformTrackScaleShearCurve(orvane_track_group_builder* Builder,
                                                       const orvane_curve2* Source);
ORVANE_API void OrvaneEndTransformTrack(orvane_track_group_builder* Builder);
ORVANE_API void OrvaneBeginTextTrack(orvane_track_group_builder* Builder, const char* Name);
ORVANE_API void OrvaneAddTextEntry(orvane_track_group_builder* Builder, orvane_real32 TimeStamp,
                                   const char* Text);
ORVANE_API void OrvaneEndTextTrack(orvane_track_group_builder* Builder);
/* Bytes of the block that OrvaneEndTrackGroupInPlace writes (pointer alignment). */
ORVANE_API orvane_int32 OrvaneGetResultingTrackGroupSize(const orvane_track_group_builder* Builder);
/* Both ends free the builder. Tracks come out sorted by name, AccumulationFlags =
 * OrvaneTrackGroupSortedByName, every LOD error 1.9140881e38, InitialPlacement the identity
 * and LoopTranslation zero. A curve that was never set is left as the identity. Curves share
 * records where nothing is lost: every identity curve of a dimension points at one record, and
 * a transform track's constant curve (D3Constant32f, D4Constant32f, DaConstant32f) whose format
 * and values equal an earlier transform track curve's to the bit points at the earlier record.
 * A caller that rewrites one curve's record in place rewrites every curve that shares it
 * (OrvaneSimilarityTransformTrackGroup converts each record once). */
ORVANE_API orvane_track_group* OrvaneEndTrackGroupInPlace(orvane_track_group_builder* Builder,
                                                          void* Memory);
/* One block, released with OrvaneFreeBuilderResult; null for a null builder or no memory. */
ORVANE_API orvane_track_group* OrvaneEndTrackGroup(orvane_track_group_builder* Builder);

/* TransformCurveCount x SampleCount transforms, recorded one frame at a time. Null when the
 * counts are negative, their product too large, or memory runs out. */
ORVANE_API orvane_track_group_sampler* OrvaneBeginSampledAnimation(orvane_int32 TransformCurveCount,
                                                                   orvane_int32 SampleCount);
ORVANE_API void OrvaneEndSampledAnimation(orvane_track_group_sampler* Sampler);
/* The track's first sample (SampleCount consecutive entries); null for an index out of range. */
ORVANE_API orvane_real32* OrvaneGetPositionSamples(orvane_track_group_sampler* Sampler,
                                                   orvane_int32 TrackIndex);
ORVANE_API orvane_real32* OrvaneGetOrientationSamples(orvane_track_group_sampler* Sampler,
                                                      orvane_int32 TrackIndex);
ORVANE_API orvane_real32* OrvaneGetScaleShearSamples(orvane_track_group_sampler* Sampler,
                                                     orvane_int32 TrackIndex);
/* Stored at the current frame; an index out of range, a frame past SampleCount or a null
 * array logs an error and stores nothing. */
ORVANE_API void OrvaneSetTransformSample(orvane_track_group_sampler* Sampler,
                                         orvane_int32 TrackIndex, const orvane_real32 Position[3],
                                         const orvane_real32 Orientation[4],
                                         const orvane_real32 ScaleShear[9]);
ORVANE_API void OrvanePushSampledFrame(orvane_track_group_sampler* Sampler);

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_TRACK_GROUP_BUILDER_H */

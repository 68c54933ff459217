// Track sampling: the checked one-curve step that every track sampler uses, and the curve
// kinds that choose a sampler. Shared with the track group operations and the builder.
#ifndef ORVANE_TRACK_SAMPLER_H
#define ORVANE_TRACK_SAMPLER_H

#include "core/orvane_private.h"
#include "curve/orvane_compact_curve.h"
#include "orvane/track_sampler.h"

#include <cstdint>

namespace orvane {

// What a curve is to a sampler. Invalid: a curve no sampler can read (format, degree,
// dimension or counts out of range), sampled as its identity value.
enum class CurveKind : uint8_t { Identity, Constant, Animated, Keyframed, Invalid };

// Classifies the curve for dimension D without logging.
CurveKind ClassifyCurve(const orvane_curve2* curve, int32_t dimension);

// ClassifyCurve, with the once-per-process warning for an unreadable curve.
CurveKind ClassifyCurveWarn(const orvane_curve2* curve, int32_t dimension);

// Control value of knot 0 (or frame 0) into out, or the identity for curves with none;
// false when the curve is the identity (or unreadable).
bool CurveFirstValue(const orvane_curve2* curve, int32_t dimension, const float* identity,
                     float* out);

// True when every knot and control the samplers would read from the track's three curves is a
// finite number and the knots never run backwards: the samplers divide by knot spans and blend
// controls, so one such number from a file would reach the poses as NaN. Decodes every knot
// once, through the same checked view as sampling (a curve that view refuses is sampled as its
// identity and counts as usable); bindings call it when they are built, never per frame.
bool TrackCurvesAreFinite(const orvane_transform_track& track);

// The one-curve step at the context's time: keyframed curves yield frame FrameIndex
// (clamped) when byFrame is set and frame 0 otherwise; identity and unreadable curves the
// identity; constants their value; everything else the B-spline through a window built on
// the stack. hint (may be null) is the knot the search starts from, updated; cache (may be
// null) keeps the track's decoded windows of quantised and compact curves. Returns false
// when the result is the identity value of an identity (or unreadable) curve.
bool SampleCurve3(const orvane_curve2& curve, const orvane_track_sample_context& context,
                  bool byFrame, int32_t* hint, float* out,
                  orvane_track_sample_cache* cache = nullptr);
bool SampleCurve4(const orvane_curve2& curve, const orvane_track_sample_context& context,
                  bool byFrame, int32_t* hint, float* out,
                  orvane_track_sample_cache* cache = nullptr);
bool SampleCurve9(const orvane_curve2& curve, const orvane_track_sample_context& context,
                  bool byFrame, int32_t* hint, float* out);

// A track's sampling plan, made once when a track is bound. The curves whose value moves
// with time (animated and keyframed curves) are named by bits: kPlanPosition,
// kPlanOrientation, kPlanScaleShear. PlanTrackSampling returns them and fills fixed with what
// OrvaneSampleTrackUUULocal yields for every other curve (identity, constant and unreadable
// curves, whose values do not depend on the time) and with the flags of the whole result,
// which do not depend on the time either. SamplePlannedTrack then writes the moving curves
// alone, exactly as OrvaneSampleTrackUUULocalCached does, into a transform that holds the
// fixed part: the result equals that of the general sampler to the bit.
inline constexpr uint32_t kPlanPosition = 1, kPlanOrientation = 2, kPlanScaleShear = 4;
uint32_t PlanTrackSampling(const orvane_transform_track& track, orvane_transform* fixed);
void SamplePlannedTrack(const orvane_track_sample_context& context,
                        const orvane_transform_track& track, uint32_t moving,
                        orvane_track_sample_cache* cache, orvane_transform* result);

// The window of knot k (the knot search's index) of a curve of dimension 3 or 4 that reaches
// past either end of the curve, as the B-spline buffers build it for the context: clamped, or
// from the curve itself a duration before or after when looping, with the orientations turned
// to one side. knots and controls are the buffers (kBSplineKnotBufferSize and
// kBSplineControlBufferSize floats); *ti and *pi are set to the window's end knot and its
// controls, with the degree's knots and controls before them. False (pointers unset) when the
// buffers refuse the curve.
bool BuildEndWindow(const orvane_curve2& curve, int32_t dimension,
                    const orvane_track_sample_context& context, int32_t k, int32_t degree,
                    float* knots, float* controls, const float** ti, const float** pi);

// The degree of the batches of dimension D the curve can be a lane of (1 to 3), or 0 when it
// cannot be batched.
int32_t BatchableDegree(const orvane_curve2& curve, int32_t dimension);

}  // namespace orvane

#endif  // ORVANE_TRACK_SAMPLER_H

// Track sampling: the checked one-curve step that every track sampler uses, and the curve
// kinds that choose a sampler. Shared with the track group operations and the builder.
#ifndef ORVANE_TRACK_SAMPLER_H
#define ORVANE_TRACK_SAMPLER_H

#include "core/orvane_private.h"
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
// the stack. hint (may be null) is the knot the search starts from, updated. Returns false
// when the result is the identity value of an identity (or unreadable) curve.
bool SampleCurve3(const orvane_curve2& curve, const orvane_track_sample_context& context,
                  bool byFrame, int32_t* hint, float* out);
bool SampleCurve4(const orvane_curve2& curve, const orvane_track_sample_context& context,
                  bool byFrame, int32_t* hint, float* out);
bool SampleCurve9(const orvane_curve2& curve, const orvane_track_sample_context& context,
                  bool byFrame, int32_t* hint, float* out);

}  // namespace orvane

#endif  // ORVANE_TRACK_SAMPLER_H

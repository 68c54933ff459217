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
// the stack. hint (may be null) is the knot the search starts from, updated. Returns false
// when the result is the identity value of an identity (or unreadable) curve.
bool SampleCurve3(const orvane_curve2& curve, const orvane_track_sample_context& context,
                  bool byFrame, int32_t* hint, float* out);
bool SampleCurve4(const orvane_curve2& curve, const orvane_track_sample_context& context,
                  bool byFrame, int32_t* hint, float* out);
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

// Batched sampling of the moving degree-1 positions (D = 3) or orientations (D = 4) of one
// node, in plain floats (DaK32fC32f), the quantised playback formats (D3K16uC16u,
// D4nK16uC15u) or the compact format. Each lane keeps the window of its curve that the last
// frame used, decoded, in structure-of-arrays rows (window start and end times, the two
// controls per component, and the window's bounds in the curve's own knot units). A frame
// tests four lanes' windows against the time at once, decodes a new window only for the lanes
// whose key changed (one new knot when a window moves on), then interpolates (and normalises,
// D = 4) four lanes per instruction where the processor has SSE. The window test is the knot
// search's own comparison (the time scaled to stored knot units, compared with the window's
// knots), and the arithmetic is that of the per-curve step in the same order (division by the
// interval, a square root and a division for the normalisation), so each lane's value equals
// what SamplePlannedTrack writes to the bit. A lane whose time falls outside the windows that
// batching handles (before the first knot, past the last, in a looping window across the seam,
// or a time that is not a number) is sampled by the per-curve step for that frame.
struct BatchLane {
    const orvane_curve2* curve;
    float* out;                        // D floats of the planned transform
    orvane_track_sample_cache* cache;  // the track's hints and windows for the per-curve step
    float knotScale;                   // quantised formats: stored knot = time * knotScale
    float knotInverse;                 // quantised formats: time = stored knot * knotInverse
    float scales[4], offsets[4];       // quantised formats: the controls' decoding, made once
    int32_t knotCount;
    int32_t window;  // index of the knot that ends the decoded window; -1: none
    uint8_t format;
    CompactCursor compact;  // compact curves: the segment of the knot decoded last
};

struct SampleBatch {
    int32_t count;      // lanes
    int32_t stride;     // floats per row: count rounded up to 4
    int32_t dimension;  // D
    BatchLane* lanes;
    // 2 + 2 D + 4 rows of stride floats: window start and end times, D first and D second
    // controls, then the window test's rows: the scale to knot units, the window's first knot
    // and its last (in knot units), and the last again or -infinity when the window ends on
    // the curve's last knot (the row a looping time tests against).
    float* rows;
};

// Whether the curve can be a lane of a batch of dimension D.
bool CurveIsBatchable(const orvane_curve2& curve, int32_t dimension);
// The bytes of a batch's lanes and rows for count lanes of dimension D; memory for it is
// 16-byte aligned.
size_t SampleBatchBytes(int32_t count, int32_t dimension);
void InitSampleBatch(SampleBatch* batch, void* memory, int32_t count, int32_t dimension);
void SetBatchLane(SampleBatch* batch, int32_t lane, const orvane_curve2& curve, float* out,
                  orvane_track_sample_cache* cache);
void SampleBatch3(const orvane_track_sample_context& context, SampleBatch& batch);
void SampleBatch4(const orvane_track_sample_context& context, SampleBatch& batch);

}  // namespace orvane

#endif  // ORVANE_TRACK_SAMPLER_H

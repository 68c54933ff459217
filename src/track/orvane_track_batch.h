// Batched sampling of the moving curves of one node: the windows of many tracks' positions or
// orientations of one degree kept decoded side by side and evaluated four at a time.
#ifndef ORVANE_TRACK_BATCH_H
#define ORVANE_TRACK_BATCH_H

#include "core/orvane_private.h"
#include "curve/orvane_bspline.h"
#include "curve/orvane_compact_curve.h"
#include "orvane/track_sampler.h"

#include <cstddef>
#include <cstdint>

namespace orvane {

// Batched sampling of the moving positions (D = 3) or orientations (D = 4) of one degree d (1,
// 2 or 3; a batch per degree) of one node, in plain floats (DaK32fC32f), the quantised formats
// of their dimension (D3K16uC16u, D3K8uC8u, D4nK16uC15u, D4nK8uC7u, DaK16uC16u, DaK8uC8u) or the
// compact format. Each lane keeps the window of its curve that the last frame used, decoded, in
// structure-of-arrays rows (the window's 2d knot times and d + 1 controls, and the bounds of the
// interval holding the time in the curve's own knot units). A frame tests four lanes' windows
// against the time at once, decodes a new window only for the lanes whose key changed (degree
// 1: one new knot when a window moves on, the two knots of whole windows of quantised
// orientations four at a time; degrees 2 and 3: the whole window), then evaluates (and
// normalises, D = 4) four lanes per instruction where the processor has SSE. The window test is
// the knot search's own comparison (the time scaled to stored knot units, compared with the
// window's knots), and the arithmetic is that of the per-curve step in the same order (de Boor's
// weights with their divisions, the weighted sum, a square root and a division for the
// normalisation), so each lane's value equals what SamplePlannedTrack writes to the bit. A window
// of degree 2 or 3 that reaches past either end of its curve is the one the per-curve step
// builds with the B-spline buffers. A lane whose time falls outside the windows that batching
// handles (before the first knot, past the last, across the seam of a looping degree-1 curve,
// or a time that is not a number) is sampled by the per-curve step for that frame.
struct BatchLane {
    const orvane_curve2* curve;
    // The curve's record and, for plain and quantised curves, its knots and its controls, kept
    // so that a window's move reads them without going through the curve again.
    const void* data;
    const void* knots;                 // float or uint16_t knots
    const void* controls;              // float controls, or the quantised words of the first knot
    float* out;                        // D floats of the planned transform
    orvane_track_sample_cache* cache;  // the track's hints and windows for the per-curve step
    float knotScale;                   // quantised formats: stored knot = time * knotScale
    float knotInverse;  // quantised formats: time = stored knot * knotInverse; compact: its
                        // CompactKnotInverse
    float scales[4], offsets[4];  // quantised formats: the controls' decoding, made once
    int32_t knotCount;
    int32_t window;  // index of the knot that ends the decoded window; -1: none
    uint8_t format;
    // Quantised formats: the bytes of a stored knot and of a control word (1 or 2; 0 for the
    // other formats), and whether the words are a quaternion's three with its largest component
    // dropped (D4n formats).
    uint8_t knotBytes;
    bool quaternionWords;
    bool endWindow;  // the window reaches past an end of the curve (degree 1: across the seam)
    CompactCursor compact;  // compact curves: the segment of the knot decoded last
};

struct WordFactors {
    alignas(16) float byDropped[4][8];
};

struct SampleBatch {
    int32_t count;      // lanes
    int32_t stride;     // floats per row: count rounded up to 4
    int32_t dimension;  // D
    int32_t degree;     // d
    BatchLane* lanes;
    // 2d + (d + 1) D + 4 rows of stride floats: the window's 2d knot times (degree 1: its start
    // and end), its d + 1 controls of D rows each, then the window test's rows: the scale to
    // knot units, the knots that bound the interval holding the time (in knot units), and the
    // end again or -infinity when the window ends on the curve's last knot (the row a looping
    // time tests against).
    float* rows;
    // Per lane of quantised orientations: per dropped component d, the scales then the offsets
    // of the three stored words in their order (components d + 1, d + 2, d + 3 modulo 4), each
    // padded to four, so that four knots' factors load as four vectors (D = 4 only).
    WordFactors* wordFactors;
    // Whether some lane holds a window reaching past an end of its curve (degree 1: across the
    // seam), and the looping (bit 0 before, bit 1 after) and duration such windows were built
    // for.
    bool endWindows;
    uint8_t endLoops;
    float endDuration;
    float lastTime;  // the time of the last pass (NaN before the first)
};

// The bytes of a batch's lanes, rows and (D = 4) word factors for count lanes of dimension D
// and degree d; memory for it is 16-byte aligned.
size_t SampleBatchBytes(int32_t count, int32_t dimension, int32_t degree = 1);
void InitSampleBatch(SampleBatch* batch, void* memory, int32_t count, int32_t dimension,
                     int32_t degree = 1);
// Makes lane a lane of curve, whose BatchableDegree for the batch's dimension is the batch's
// degree (its format and counts are checked there, not again here); out receives its values.
void SetBatchLane(SampleBatch* batch, int32_t lane, const orvane_curve2& curve, float* out,
                  orvane_track_sample_cache* cache);
void SampleBatch3(const orvane_track_sample_context& context, SampleBatch& batch);
void SampleBatch4(const orvane_track_sample_context& context, SampleBatch& batch);

// The batches of a set of tracks' moving positions and orientations, one per degree.
struct TrackBatches {
    SampleBatch positions[kMaxBSplineDegree];
    SampleBatch orientations[kMaxBSplineDegree];
};

// Where a set of tracks' batches go in a 16-byte aligned block: their lanes, and their offsets
// from the block's start.
struct TrackBatchLayout {
    int32_t lanes[2][kMaxBSplineDegree];  // positions, then orientations; by degree - 1
    size_t at[2][kMaxBSplineDegree];
    size_t end;  // the offset past the last batch
};

// Counts a track's batchable curves into layout.
void CountTrackBatchLanes(const orvane_transform_track& track, TrackBatchLayout& layout);
// Places the counted batches from offset start (rounded up to 16) on.
void PlaceTrackBatches(TrackBatchLayout& layout, size_t start);
// The layout of the batches of tracks(i) for i below count (null: no track) from offset start.
template <class TrackAt>
TrackBatchLayout LayOutTrackBatches(int32_t count, TrackAt tracks, size_t start) {
    TrackBatchLayout layout{};
    for (int32_t i = 0; i < count; ++i)
        if (const orvane_transform_track* track = tracks(i)) CountTrackBatchLanes(*track, layout);
    PlaceTrackBatches(layout, start);
    return layout;
}
// Sets up the batches of layout in block, without lanes yet.
void InitTrackBatches(TrackBatches& batches, char* block, const TrackBatchLayout& layout);
// Plans a track of the laid-out set (PlanTrackSampling into planned) and gives its moving
// batchable curves the next lanes of their batches, writing into planned with cache for their
// per-curve steps. Returns the moving curves left to SamplePlannedTrack; *still is set when no
// curve moves at all.
uint32_t PlanTrackIntoBatches(TrackBatches& batches, const orvane_transform_track& track,
                              orvane_transform* planned, orvane_track_sample_cache* cache,
                              bool* still);
// One pass of every batch at the context's time.
void SampleTrackBatches(const orvane_track_sample_context& context, TrackBatches& batches);

}  // namespace orvane

#endif  // ORVANE_TRACK_BATCH_H

// Track group playback: a whole group's transform tracks sampled in one call, through the
// batches of its moving curves and the fixed values found when it was planned.
#include "orvane/track_group_playback.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "orvane/curve.h"
#include "track/orvane_content_checks.h"
#include "track/orvane_track_batch.h"
#include "track/orvane_track_sampler.h"

struct orvane_track_group_playback {
    const orvane_track_group* group;
    int32_t trackCount;
    // Per track: its result with the fixed curves' values and the flags; the batches and the
    // per-curve steps write the moving curves into it, and a call copies it out whole.
    orvane_transform* planned;
    orvane_track_sample_cache* caches;  // per track
    // The tracks with moving curves left after the batches, and those curves.
    int32_t* sampled;
    uint8_t* moving;
    int32_t sampledCount;
    // The loop durations the batches may take are above this one: longer than every moving
    // curve's span up to its last knot but one by more than rounding (see LoopSpanOf). A
    // shorter loop is sampled track by track, which holds those curves' ends as without
    // looping.
    float shortestLoop;
    orvane::TrackBatches batches;
};

namespace orvane {
namespace {

// The block of a playback: the header, then each array at its alignment, then the batches.
struct PlaybackLayout {
    size_t caches, planned, sampled, moving;
    TrackBatchLayout batches;
};

template <class T>
size_t AlignFor(size_t at) {
    return (at + alignof(T) - 1) & ~(alignof(T) - 1);
}

PlaybackLayout LayOutPlayback(const orvane_track_group& group) {
    const size_t n = size_t(group.TransformTrackCount);
    PlaybackLayout l;
    l.caches = AlignFor<orvane_track_sample_cache>(sizeof(orvane_track_group_playback));
    l.planned = AlignFor<orvane_transform>(l.caches + n * sizeof(orvane_track_sample_cache));
    l.sampled = AlignFor<int32_t>(l.planned + n * sizeof(orvane_transform));
    l.moving = l.sampled + n * sizeof(int32_t);
    l.batches = LayOutTrackBatches(
        group.TransformTrackCount, [&](int32_t i) { return &group.TransformTracks[i]; },
        l.moving + n);
    return l;
}

bool PlaybackGroupIsSound(const orvane_track_group* group) {
    if (group == nullptr) {
        ORVANE_LOG_ERROR(OrvaneTrackGroupOrigin, "TrackGroup is not allowed to be 0");
        return false;
    }
    const int32_t n = group->TransformTrackCount;
    if (n < 0 || (n > 0 && group->TransformTracks == nullptr)) {
        ORVANE_LOG_ERROR(OrvaneTrackGroupOrigin,
                         "TrackGroup has TransformTrackCount %d without the tracks for it", n);
        return false;
    }
    // A bound on a playback's bytes per track (its arrays, and a position and an orientation
    // lane of the largest rows), and on what the alignments and the batches' padding add: the
    // block's size cannot wrap where sizes are 32 bits wide.
    constexpr size_t kMostBytesPerTrack = sizeof(orvane_track_sample_cache) +
                                          sizeof(orvane_transform) + sizeof(int32_t) + 1 +
                                          2 * (sizeof(BatchLane) + sizeof(WordFactors) + 128);
    constexpr size_t kMostFixedBytes = sizeof(orvane_track_group_playback) + 4096;
    size_t bytes = 0;
    if (!CheckedArrayBytes(n, kMostBytesPerTrack, &bytes) || bytes > SIZE_MAX - kMostFixedBytes) {
        ORVANE_LOG_ERROR(OrvaneTrackGroupOrigin,
                         "TrackGroup has TransformTrackCount %d, more than memory can hold", n);
        return false;
    }
    for (int32_t i = 0; i < n; ++i) {
        if (const char* problem = TrackCurvesProblem(group->TransformTracks[i])) {
            ORVANE_LOG_ERROR(OrvaneTrackGroupOrigin, "Transform track %d has %s", i, problem);
            return false;
        }
    }
    return true;
}

// Widens *span to the curve's span from its first knot to its last but one (the knots a
// looping window continues with) and *magnitude to its largest knot, for a moving curve.
void LoopSpanOf(const orvane_curve2& curve, int32_t dimension, double* span, double* magnitude) {
    const CurveKind kind = ClassifyCurve(&curve, dimension);
    if (kind != CurveKind::Animated || OrvaneCurveGetDegree(&curve) < 1) return;
    const int32_t n = OrvaneCurveGetKnotCount(&curve);
    float first = 0.0f, last = 0.0f, controls[9];
    OrvaneCurveExtractKnotValues(&curve, 0, 1, &first, controls, nullptr);
    OrvaneCurveExtractKnotValues(&curve, n > 1 ? n - 2 : 0, 1, &last, controls, nullptr);
    const double s = double(last) - double(first);
    if (s > *span) *span = s;
    const double m = std::fabs(double(first)) > std::fabs(double(last)) ? std::fabs(double(first))
                                                                        : std::fabs(double(last));
    if (m > *magnitude) *magnitude = m;
}

// The duration a loop must exceed for every looping window of the batches to continue strictly
// after its curve's knots: d - span > (magnitude + d) * 2^-20, made once, rounded up to a float.
float ShortestLoop(double span, double magnitude) {
    const double d = (span + magnitude * 0x1p-20) / (1.0 - 0x1p-20);
    const float f = static_cast<float>(d);
    return double(f) < d ? std::nextafter(f, __builtin_huge_valf()) : f;
}

bool LoopFitsBatches(const orvane_track_group_playback& p,
                     const orvane_track_sample_context& context) {
    return !(context.LoopBefore || context.LoopAfter) || context.SampleDuration > p.shortestLoop;
}

}  // namespace
}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API orvane_track_group_playback* OrvaneNewTrackGroupPlayback(
    const orvane_track_group* TrackGroup) {
    if (!PlaybackGroupIsSound(TrackGroup)) return nullptr;
    const orvane_track_group& group = *TrackGroup;
    const PlaybackLayout layout = LayOutPlayback(group);
    constexpr size_t kAlignment = 16;  // the batches' rows
    static_assert(kAlignment >= alignof(orvane_track_group_playback));
    char* block = static_cast<char*>(ORVANE_ALLOCATE(kAlignment, layout.batches.end));
    if (block == nullptr) return nullptr;
    std::memset(block, 0, layout.batches.end);
    auto* p = reinterpret_cast<orvane_track_group_playback*>(block);
    p->group = TrackGroup;
    p->trackCount = group.TransformTrackCount;
    p->caches = reinterpret_cast<orvane_track_sample_cache*>(block + layout.caches);
    p->planned = reinterpret_cast<orvane_transform*>(block + layout.planned);
    p->sampled = reinterpret_cast<int32_t*>(block + layout.sampled);
    p->moving = reinterpret_cast<uint8_t*>(block + layout.moving);
    InitTrackBatches(p->batches, block, layout.batches);
    double loopSpan = 0.0, loopMagnitude = 0.0;
    for (int32_t i = 0; i < p->trackCount; ++i) {
        LoopSpanOf(group.TransformTracks[i].PositionCurve, 3, &loopSpan, &loopMagnitude);
        LoopSpanOf(group.TransformTracks[i].OrientationCurve, 4, &loopSpan, &loopMagnitude);
    }
    p->shortestLoop = ShortestLoop(loopSpan, loopMagnitude);
    for (int32_t i = 0; i < p->trackCount; ++i) {
        bool still = false;
        const uint32_t moving = PlanTrackIntoBatches(p->batches, group.TransformTracks[i],
                                                     &p->planned[i], &p->caches[i], &still);
        if (moving == 0) continue;
        p->sampled[p->sampledCount] = i;
        p->moving[p->sampledCount++] = uint8_t(moving);
    }
    return p;
}

ORVANE_API void OrvaneFreeTrackGroupPlayback(orvane_track_group_playback* Playback) {
    if (Playback != nullptr) ORVANE_DEALLOCATE(Playback);
}

ORVANE_API const orvane_transform* OrvaneSampleTrackGroupPlayback(
    orvane_track_group_playback* Playback, const orvane_track_sample_context* Context,
    orvane_transform* Results) {
    orvane_track_group_playback& p = *Playback;
    const orvane_transform_track* tracks = p.group->TransformTracks;
    if (!LoopFitsBatches(p, *Context)) {
        // A loop shorter than some curve: every track by the per-curve step, which holds such
        // curves' ends (the fixed parts and flags already in each result are written alike).
        for (int32_t i = 0; i < p.trackCount; ++i)
            OrvaneSampleTrackUUULocalCached(Context, &tracks[i], &p.caches[i], &p.planned[i]);
        if (Results != nullptr)
            std::memcpy(Results, p.planned, size_t(p.trackCount) * sizeof(orvane_transform));
        return p.planned;
    }
    SampleTrackBatches(*Context, p.batches);
    for (int32_t k = 0; k < p.sampledCount; ++k) {
        const int32_t i = p.sampled[k];
        SamplePlannedTrack(*Context, tracks[i], p.moving[k], &p.caches[i], &p.planned[i]);
    }
    if (Results != nullptr)
        std::memcpy(Results, p.planned, size_t(p.trackCount) * sizeof(orvane_transform));
    return p.planned;
}

}  // extern "C"

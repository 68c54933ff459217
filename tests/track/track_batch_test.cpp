// Batched sampling against the planned per-track step.
#include <cmath>
#include <cstddef>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "track/orvane_track_batch.h"
#include "track/orvane_track_sampler.h"
#include "track/track_test_support.h"
#include "orvane/curve_builder.h"
#include "orvane/fit.h"
#include "orvane/track_group.h"

using namespace orvane_track_test;
using orvane::kPlanOrientation;
using orvane::kPlanPosition;

namespace {

// A track whose position and orientation move (of the degree, 12 knots) and which has no
// scale/shear, its moving curves in the given formats (null: plain floats).
TrackSource MovingTrack(std::mt19937& rng, float duration,
                        orvane_data_type_definition* const types[3], int degree = 1) {
    TrackSource t;
    t.name = "t";
    const int kinds[3] = {kU, kU, kI}, dimensions[3] = {3, 4, 9};
    for (int c = 0; c < 3; ++c) {
        t.curves[c] = RandomCurve(rng, kinds[c], dimensions[c], degree, 12, duration);
        if (types && kinds[c] == kU) t.curves[c].type = types[c];
    }
    return t;
}

// Batches of many lanes, as a node binds them: plain, quantised (16-bit, 8-bit and of any
// dimension) and compact curves mixed in one batch of three groups of four (the last one
// partial), each lane's value the bits of the planned step over playback (windows moving on),
// random jumps, a pass backwards past both ends, looping and clamped playback in turns
// (windows ending on the last knot, across the seam) and a time that is not a number.
// Position and orientation batches of some lanes, the transforms they write and those of the
// per-curve step, and both sides' caches.
struct Batches {
    struct alignas(16) Block {
        unsigned char bytes[16];
    };
    std::vector<Block> memory3, memory4;
    orvane::SampleBatch batch3, batch4;
    std::vector<orvane_transform> batched, planned;
    std::vector<orvane_track_sample_cache> batchCaches, planCaches;

    explicit Batches(int lanes, int degree = 1)
        : memory3(orvane::SampleBatchBytes(lanes, 3, degree) / 16 + 1),
          memory4(orvane::SampleBatchBytes(lanes, 4, degree) / 16 + 1),
          batched(static_cast<size_t>(lanes)),
          planned(batched),
          batchCaches(static_cast<size_t>(lanes)),
          planCaches(batchCaches) {
        orvane::InitSampleBatch(&batch3, memory3.data(), lanes, 3, degree);
        orvane::InitSampleBatch(&batch4, memory4.data(), lanes, 4, degree);
    }
    // Lane k samples the track's position and orientation.
    void Set(int k, const orvane_transform_track& track) {
        orvane::SetBatchLane(&batch3, k, track.PositionCurve, batched[size_t(k)].Position,
                             &batchCaches[size_t(k)]);
        orvane::SetBatchLane(&batch4, k, track.OrientationCurve, batched[size_t(k)].Orientation,
                             &batchCaches[size_t(k)]);
    }
    // Whether lane k's values are the bits of the per-curve step of its track.
    bool LaneIsThePlannedStep(const orvane_track_sample_context& ctx, int k,
                              const orvane_transform_track& track) {
        const size_t i = size_t(k);
        orvane::SamplePlannedTrack(ctx, track, kPlanPosition | kPlanOrientation, &planCaches[i],
                                   &planned[i]);
        return std::memcmp(planned[i].Position, batched[i].Position, sizeof(float) * 3) == 0 &&
               std::memcmp(planned[i].Orientation, batched[i].Orientation, sizeof(float) * 4) == 0;
    }
};

// Plays the batches over frames: playback from before the start for the first third, random
// jumps around the clip for the second (a time that is not a number half way), then backwards
// past the start; looping and clamped in turns of loopTurn frames, now and then with a longer
// duration. Every lane's value must be the bits of the planned step of its track.
void PlayAgainstThePlannedStep(Batches& b, const std::vector<orvane_transform_track>& tracks,
                               float duration, std::mt19937& rng, int frames, int loopTurn) {
    std::uniform_real_distribution<float> jump(-0.3f, duration + 0.3f);
    for (int frame = 0; frame < frames; ++frame) {
        const float t = frame == frames / 2  ? std::nanf("")
                        : frame < frames / 3 ? float(frame) / 60.0f - 0.2f
                        : frame < 2 * frames / 3
                            ? jump(rng)
                            : duration + 0.2f - float(frame - 2 * frames / 3) / 80.0f;
        const bool loops = (frame / loopTurn) % 2 == 0;
        const auto ctx = Context(t, frame % 37 == 3 ? 1.25f * duration : duration, loops, loops);
        orvane::SampleBatch3(ctx, b.batch3);
        orvane::SampleBatch4(ctx, b.batch4);
        for (size_t k = 0; k < tracks.size(); ++k)
            ASSERT_TRUE(b.LaneIsThePlannedStep(ctx, int(k), tracks[k]))
                << "lane " << k << " frame " << frame << " t " << t;
    }
}

// The quantised formats that playback meets most, for positions and orientations.
orvane_data_type_definition* const* QuantisedTypes() {
    static orvane_data_type_definition* const types[3] = {OrvaneCurveDataD3K16uC16uType,
                                                          OrvaneCurveDataD4nK16uC15uType, nullptr};
    return types;
}

// Formats by turns, as a compressor's choices mix them: plain floats, the 16-bit formats of
// each dimension, the 8-bit ones, and the formats of any dimension (16-bit positions, 8-bit
// orientations, then the other way round).
orvane_data_type_definition* const* TypesByTurns(int k) {
    static orvane_data_type_definition* const eight[3] = {OrvaneCurveDataD3K8uC8uType,
                                                          OrvaneCurveDataD4nK8uC7uType, nullptr};
    static orvane_data_type_definition* const any[2][3] = {
        {OrvaneCurveDataDaK16uC16uType, OrvaneCurveDataDaK8uC8uType, nullptr},
        {OrvaneCurveDataDaK8uC8uType, OrvaneCurveDataDaK16uC16uType, nullptr}};
    switch (k % 5) {
        case 0:
            return nullptr;
        case 1:
            return QuantisedTypes();
        case 2:
            return eight;
        default:
            return any[k % 5 - 3];
    }
}

// count moving tracks of the degree named t0, t1, ..., in the formats by turns.
std::vector<TrackSource> MovingTracks(std::mt19937& rng, float duration, int count,
                                      int degree = 1) {
    std::vector<TrackSource> sources;
    for (int k = 0; k < count; ++k) {
        sources.push_back(MovingTrack(rng, duration, TypesByTurns(k), degree));
        sources.back().name = "t" + std::to_string(k);
    }
    return sources;
}

TEST(TrackSampleBatched, LanesOfMixedFormatsMatchThePlannedStep) {
    std::mt19937 rng(77);
    const float duration = 1.5f;
    GroupPtr g = BuildGroup("g", MovingTracks(rng, duration, 9));
    ASSERT_TRUE(g);
    std::vector<orvane_transform_track> tracks(g->TransformTracks,
                                               g->TransformTracks + g->TransformTrackCount);
    // Two tracks whose curves are fitted in the compact format.
    std::vector<orvane_curve2*> fitted;
    for (int k = 0; k < 2; ++k) {
        const int count = 46;
        const CompactCurves c =
            FitSmoothCompactCurves(count, duration / float(count - 1), k, 1e-5f);
        fitted.push_back(c.position);
        fitted.push_back(c.orientation);
        ASSERT_TRUE(fitted[fitted.size() - 2] && fitted.back());
        orvane_transform_track t = tracks[0];
        t.PositionCurve = *fitted[fitted.size() - 2];
        t.OrientationCurve = *fitted.back();
        tracks.insert(tracks.begin() + 3 + 4 * k, t);
    }
    const int lanes = int(tracks.size());
    ASSERT_EQ(11, lanes);
    Batches b(lanes);
    for (int k = 0; k < lanes; ++k) {
        ASSERT_EQ(1, orvane::BatchableDegree(tracks[size_t(k)].PositionCurve, 3)) << k;
        ASSERT_EQ(1, orvane::BatchableDegree(tracks[size_t(k)].OrientationCurve, 4)) << k;
        b.Set(k, tracks[size_t(k)]);
    }
    PlayAgainstThePlannedStep(b, tracks, duration, rng, 900, 11);
    for (orvane_curve2* c : fitted)
        OrvaneFreeCurve(c);
}

// Windows that move on by one knot nearly every frame (knots 1/50 s apart, frames 1/60 s
// apart), on quantised curves whose stored knots are out of order in places (as a damaged file
// may have them): the moves read no knot outside the curve, and each value is still the bits of
// the planned step (and of the hinted step without a cache), forwards and backwards.
TEST(TrackSampleBatched, OneKnotMovesFindWhatTheSearchFinds) {
    std::mt19937 rng(5);
    const float duration = 1.0f;
    std::vector<TrackSource> sources;
    for (int k = 0; k < 5; ++k) {
        TrackSource t;
        t.name = "t" + std::to_string(k);
        t.curves[0] = RandomCurve(rng, kU, 3, 1, 51, duration);
        t.curves[1] = RandomCurve(rng, kU, 4, 1, 51, duration);
        t.curves[0].type = QuantisedTypes()[0];
        t.curves[1].type = QuantisedTypes()[1];
        t.curves[2] = RandomCurve(rng, kI, 9, 1, 0, duration);
        sources.push_back(t);
    }
    GroupPtr g = BuildGroup("g", sources);
    ASSERT_TRUE(g);
    const int lanes = g->TransformTrackCount;
    // Lanes past the first get knots out of order: two neighbours swapped, and a knot moved past
    // the ones after it.
    for (int k = 1; k < lanes; ++k) {
        for (const orvane_curve2* curve :
             {&g->TransformTracks[k].PositionCurve, &g->TransformTracks[k].OrientationCurve}) {
            // The records are packed: their pointer member is copied out, not referenced.
            const char* record = static_cast<const char*>(curve->CurveData.Object);
            uint16_t* knots;
            const size_t at = curve == &g->TransformTracks[k].PositionCurve
                                  ? offsetof(orvane_curve_data_d3_k16u_c16u, KnotsControls)
                                  : offsetof(orvane_curve_data_d4n_k16u_c15u, KnotsControls);
            std::memcpy(&knots, record + at, sizeof knots);
            std::swap(knots[10 + k], knots[11 + k]);
            knots[30 + k] = knots[34 + k];
            ASSERT_GT(knots[10 + k], knots[11 + k]);
            ASSERT_GT(knots[30 + k], knots[31 + k]);
        }
    }
    Batches b(lanes);
    for (int k = 0; k < lanes; ++k)
        b.Set(k, g->TransformTracks[k]);
    // The hinted sampler without a cache searches and decodes every window afresh: the cached
    // step's moves to the next window must find what its search finds.
    std::vector<int32_t> hints(size_t(lanes) * 3, 0);
    for (int frame = 0; frame < 240; ++frame) {
        const float t = frame < 120 ? float(frame) / 60.0f : duration - float(frame - 120) / 60.0f;
        const auto ctx = Context(t, duration);
        orvane::SampleBatch3(ctx, b.batch3);
        orvane::SampleBatch4(ctx, b.batch4);
        for (int k = 0; k < lanes; ++k) {
            ASSERT_TRUE(b.LaneIsThePlannedStep(ctx, k, g->TransformTracks[k]))
                << "lane " << k << " frame " << frame << " t " << t;
            orvane_transform hinted{};
            OrvaneSampleTrackUUULocalHinted(&ctx, &g->TransformTracks[k], &hints[size_t(k) * 3],
                                            &hinted);
            ASSERT_EQ(0, std::memcmp(hinted.Position, b.planned[size_t(k)].Position, 12))
                << "lane " << k << " frame " << frame << " t " << t;
            ASSERT_EQ(0, std::memcmp(hinted.Orientation, b.planned[size_t(k)].Orientation, 16))
                << "lane " << k << " frame " << frame << " t " << t;
        }
    }
}

// Whole windows decoded after jumps, four orientations' knots at a time: 70 lanes (two passes
// of the batch, the second of six lanes) of curves in the formats by turns, at random times and
// then in playback; every lane's value is the bits of the planned step.
TEST(TrackSampleBatched, WindowsAfterJumpsMatchThePlannedStepOverSeveralPasses) {
    std::mt19937 rng(11);
    const float duration = 2.0f;
    GroupPtr g = BuildGroup("g", MovingTracks(rng, duration, 70));
    ASSERT_TRUE(g);
    const int lanes = g->TransformTrackCount;
    ASSERT_EQ(70, lanes);
    Batches b(lanes);
    for (int k = 0; k < lanes; ++k)
        b.Set(k, g->TransformTracks[k]);
    std::uniform_real_distribution<float> jump(0.0f, duration);
    for (int frame = 0; frame < 300; ++frame) {
        const float t = frame < 200 ? jump(rng) : float(frame - 200) / 60.0f;
        const auto ctx = Context(t, duration, true, true);
        orvane::SampleBatch4(ctx, b.batch4);
        orvane::SampleBatch3(ctx, b.batch3);
        for (int k = 0; k < lanes; ++k)
            ASSERT_TRUE(b.LaneIsThePlannedStep(ctx, k, g->TransformTracks[k]))
                << "lane " << k << " frame " << frame << " t " << t;
    }
}

// Batches of degree 2 and 3: curves of smooth motion in the formats by turns (and of each
// degree a curve of too few knots for a window inside it, which stays unbatched), each lane's
// value the bits of the planned step over playback, random jumps, a pass backwards past both
// ends (windows reaching past the ends, clamped and looping in turns) and a time that is not a
// number.
TEST(TrackSampleBatched, CurvesOfDegreesTwoAndThreeMatchThePlannedStep) {
    for (int degree = 2; degree <= 3; ++degree) {
        SCOPED_TRACE(degree);
        std::mt19937 rng(100u + unsigned(degree));
        const float duration = 1.5f;
        std::vector<TrackSource> sources = MovingTracks(rng, duration, 11, degree);
        // Orientations that turn to the other hemisphere half way: across the loop's seam the
        // window meets keys of both signs, which the buffers' continuity turns to one side.
        for (int k : {1, 2, 3}) {
            std::vector<float>& q = sources[size_t(k)].curves[1].controls;
            for (size_t i = q.size() / 8 * 4; i < q.size(); ++i)
                q[i] = -q[i];
        }
        // Degree d needs 2d knots for a window inside the curve.
        TrackSource few = MovingTrack(rng, duration, QuantisedTypes(), 1);
        few.name = "few";
        few.curves[0] = RandomCurve(rng, kU, 3, degree, 2 * degree - 1, duration);
        few.curves[0].type = QuantisedTypes()[0];
        sources.push_back(few);
        GroupPtr g = BuildGroup("g", sources);
        ASSERT_TRUE(g);
        std::vector<orvane_transform_track> tracks;
        for (int32_t k = 0; k < g->TransformTrackCount; ++k) {
            const orvane_transform_track& t = g->TransformTracks[k];
            if (std::string(t.Name) == "few") {
                EXPECT_EQ(0, orvane::BatchableDegree(t.PositionCurve, 3));
                continue;
            }
            ASSERT_EQ(degree, orvane::BatchableDegree(t.PositionCurve, 3)) << k;
            ASSERT_EQ(degree, orvane::BatchableDegree(t.OrientationCurve, 4)) << k;
            tracks.push_back(t);
        }
        const int lanes = int(tracks.size());
        ASSERT_EQ(11, lanes);
        Batches b(lanes, degree);
        for (int k = 0; k < lanes; ++k)
            b.Set(k, tracks[size_t(k)]);
        PlayAgainstThePlannedStep(b, tracks, duration, rng, 700, 13);
    }
}

}  // namespace

// Track group playback against the per-track general sampler: every track of groups that mix
// curve kinds, formats and degrees, over playback, jumps and passes backwards with the looping,
// duration and frame changing between calls; groups the samplers could not trust; two threads.
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "track/track_test_support.h"
#include "support/log_capture.h"
#include "orvane/curve_builder.h"
#include "orvane/fit.h"
#include "orvane/track_group.h"
#include "orvane/track_group_playback.h"

using namespace orvane_track_test;
using orvane_test::LogCapture;

namespace {

struct PlaybackDeleter {
    void operator()(orvane_track_group_playback* p) const { OrvaneFreeTrackGroupPlayback(p); }
};
using PlaybackPtr = std::unique_ptr<orvane_track_group_playback, PlaybackDeleter>;

const int kDimensions[3] = {3, 4, 9};

// The formats a track's three curves may take, by set: plain floats; 16-bit; 8-bit; any
// dimension; constants in the constant formats.
orvane_data_type_definition* const kFormats[5][3] = {
    {OrvaneCurveDataDaK32fC32fType, OrvaneCurveDataDaK32fC32fType, OrvaneCurveDataDaK32fC32fType},
    {OrvaneCurveDataD3K16uC16uType, OrvaneCurveDataD4nK16uC15uType,
     OrvaneCurveDataD9I3K16uC16uType},
    {OrvaneCurveDataD3K8uC8uType, OrvaneCurveDataD4nK8uC7uType, OrvaneCurveDataD9I1K8uC8uType},
    {OrvaneCurveDataDaK16uC16uType, OrvaneCurveDataDaK8uC8uType, OrvaneCurveDataDaK16uC16uType},
    {OrvaneCurveDataD3Constant32fType, OrvaneCurveDataD4Constant32fType,
     OrvaneCurveDataDaConstant32fType}};

// Every combination of identity, constant and animated curves in every format set, at degrees 1
// to 3 in turn: more than four lanes of each batch a node would make, mixed with tracks that
// the batches do not take (scale/shear curves, degrees past the batches' knot counts).
std::vector<TrackSource> MixedTracks(std::mt19937& rng, float duration) {
    std::vector<TrackSource> tracks;
    for (int set = 0; set < 5; ++set) {
        for (int combination = 0; combination < 27; ++combination) {
            const int kinds[3] = {combination % 3, combination / 3 % 3, combination / 9};
            TrackSource t;
            t.name = "t" + std::to_string(tracks.size());
            const int degree = 1 + (combination + set) % 3;
            for (int c = 0; c < 3; ++c) {
                // Few knots on some curves of degree 3: windows past both ends at once.
                const int knots = combination % 4 == 0 ? 4 : 12;
                t.curves[c] = RandomCurve(rng, kinds[c], kDimensions[c], degree, knots, duration);
                if (kinds[c] == kU && set < 4) t.curves[c].type = kFormats[set][c];
                if (kinds[c] == kS && (set == 4 || combination % 2))
                    t.curves[c].type = kFormats[4][c];
            }
            tracks.push_back(t);
        }
    }
    return tracks;
}

// The general sampler's result for every track.
std::vector<orvane_transform> Expected(const orvane_track_group& g,
                                       const orvane_track_sample_context& ctx) {
    std::vector<orvane_transform> out(size_t(g.TransformTrackCount));
    for (int32_t i = 0; i < g.TransformTrackCount; ++i) {
        out[size_t(i)] = orvane_transform{};
        OrvaneSampleTrackUUULocal(&ctx, &g.TransformTracks[i], nullptr, &out[size_t(i)]);
    }
    return out;
}

// Times that exercise the kept windows: playback past the end, random jumps (some before the
// start, past the end, or not a number), a pass backwards past the start, then the last
// interval again and again.
float TimeOf(int frame, float duration, std::mt19937& rng) {
    std::uniform_real_distribution<float> jump(-0.3f, duration + 0.3f);
    if (frame < 200) return float(frame) / 60.0f - 0.1f;
    if (frame < 300) return frame == 250 ? std::numeric_limits<float>::quiet_NaN() : jump(rng);
    if (frame < 450) return duration + 0.2f - float(frame - 300) / 60.0f;
    return duration * (0.95f + 0.05f * float(frame % 7) / 7.0f);
}

TEST(TrackGroupPlayback, EveryTrackMatchesTheGeneralSamplerToTheBit) {
    std::mt19937 rng(71);
    const float duration = 1.5f;
    GroupPtr g = BuildGroup("g", MixedTracks(rng, duration));
    ASSERT_TRUE(g);
    PlaybackPtr playback(OrvaneNewTrackGroupPlayback(g.get()));
    ASSERT_TRUE(playback);
    const size_t n = size_t(g->TransformTrackCount);
    // Two result arrays in turn, filled with garbage (each call writes its array whole), and
    // every third call none (the playback's own results alone).
    std::vector<orvane_transform> results[2] = {std::vector<orvane_transform>(n),
                                                std::vector<orvane_transform>(n)};
    for (int frame = 0; frame < 500; ++frame) {
        const float t = TimeOf(frame, duration, rng);
        // Looping in runs, now and then clamped at one end only; the duration and the frame
        // change now and then too.
        const bool before = (frame / 7) % 3 != 1, after = (frame / 11) % 3 != 2;
        const float d = frame % 97 == 5 ? duration * 1.25f : duration;
        const auto ctx = Context(t, d, before, after, frame % 13 - 1);
        std::vector<orvane_transform>& r = results[frame % 2];
        std::memset(r.data(), 0x5a, n * sizeof(orvane_transform));
        const bool copied = frame % 3 != 0;
        const orvane_transform* own =
            OrvaneSampleTrackGroupPlayback(playback.get(), &ctx, copied ? r.data() : nullptr);
        ASSERT_NE(nullptr, own);
        const std::vector<orvane_transform> expected = Expected(*g, ctx);
        for (size_t i = 0; i < n; ++i) {
            ASSERT_EQ(0, std::memcmp(&expected[i], &own[i], sizeof(orvane_transform)))
                << "track " << i << " frame " << frame << " t " << t;
            if (copied) {
                ASSERT_EQ(0, std::memcmp(&expected[i], &r[i], sizeof(orvane_transform)))
                    << "track " << i << " frame " << frame << " t " << t;
            }
        }
    }
}

// Keyframed curves follow the context's frame; compact curves (the fitter's) take the batches.
TEST(TrackGroupPlayback, KeyframedAndCompactCurves) {
    orvane_track_group_builder* b = OrvaneBeginTrackGroup("g", 0, 2, 0, false);
    const float frames[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
    OrvaneBeginTransformTrack(b, "a");
    OrvaneSetTransformTrackOrientation(b, 0, 0, 3, nullptr, frames,
                                       OrvaneCurveDataDaKeyframes32fType);
    OrvaneEndTransformTrack(b);
    OrvaneBeginTransformTrack(b, "b");
    OrvaneEndTransformTrack(b);
    GroupPtr g(OrvaneEndTrackGroup(b));
    ASSERT_TRUE(g);
    // Track b gets compact curves fitted to smooth motion.
    const int count = 90;
    const float step = 1.0f / 30.0f, duration = float(count - 1) * step;
    const CompactCurves fitted = FitSmoothCompactCurves(count, step, 0.5, 2e-5f);
    orvane_curve2* position = fitted.position;
    orvane_curve2* orientation = fitted.orientation;
    ASSERT_TRUE(position && orientation);
    int32_t index = -1;
    ASSERT_TRUE(OrvaneFindTrackByName(g.get(), "b", &index));
    g->TransformTracks[index].PositionCurve = *position;
    g->TransformTracks[index].OrientationCurve = *orientation;
    {
        PlaybackPtr playback(OrvaneNewTrackGroupPlayback(g.get()));
        ASSERT_TRUE(playback);
        std::mt19937 rng(5);
        orvane_transform r[2];
        for (int frame = 0; frame < 500; ++frame) {
            const float t = TimeOf(frame, duration, rng);
            const auto ctx = Context(t, duration, frame % 3 != 0, frame % 5 != 0, frame % 5 - 1);
            OrvaneSampleTrackGroupPlayback(playback.get(), &ctx, r);
            const std::vector<orvane_transform> expected = Expected(*g, ctx);
            ASSERT_EQ(0, std::memcmp(expected.data(), r, sizeof r))
                << "frame " << frame << " t " << t;
        }
    }
    OrvaneFreeCurve(position);
    OrvaneFreeCurve(orientation);
}

// A window of degree 2 or 3 that ends on the curve's last knot lies inside the curve while the
// time does not loop on, and reaches past its end when it does: a call that starts looping on
// within that window takes the looping window, as the general sampler does.
TEST(TrackGroupPlayback, WindowsAtTheEndFollowTheLoopingOfEachCall) {
    std::mt19937 rng(73);
    const float duration = 1.0f;
    std::vector<TrackSource> tracks;
    for (int degree = 2; degree <= 3; ++degree) {
        TrackSource t;
        t.name = "d" + std::to_string(degree);
        t.curves[0] = RandomCurve(rng, kU, 3, degree, 8, duration);
        t.curves[1] = RandomCurve(rng, kU, 4, degree, 8, duration);
        t.curves[1].type = OrvaneCurveDataD4nK16uC15uType;
        tracks.push_back(t);
    }
    GroupPtr g = BuildGroup("g", tracks);
    ASSERT_TRUE(g);
    PlaybackPtr playback(OrvaneNewTrackGroupPlayback(g.get()));
    ASSERT_TRUE(playback);
    // Knots every 1/7 s: for degree d the window of the interval that ends on knot 8 - d ends
    // on the last knot. The loop lasts longer than the keys, so that the curve a loop on starts
    // a quarter of a second after its last knot.
    for (int degree = 2; degree <= 3; ++degree) {
        const float t = (float(8 - degree) - 0.5f) / 7.0f;
        for (const bool after : {false, true, false}) {
            const auto ctx = Context(t, duration + 0.25f, true, after);
            const orvane_transform* own =
                OrvaneSampleTrackGroupPlayback(playback.get(), &ctx, nullptr);
            const std::vector<orvane_transform> expected = Expected(*g, ctx);
            for (size_t i = 0; i < expected.size(); ++i)
                EXPECT_EQ(0, std::memcmp(&expected[i], &own[i], sizeof(orvane_transform)))
                    << "track " << i << " degree " << degree << " looping on " << after;
        }
    }
}

TEST(TrackGroupPlayback, RefusesGroupsTheSamplersCouldNotTrust) {
    LogCapture log;
    EXPECT_EQ(nullptr, OrvaneNewTrackGroupPlayback(nullptr));
    EXPECT_EQ(1u, log.errors());
    OrvaneFreeTrackGroupPlayback(nullptr);

    std::mt19937 rng(3);
    std::vector<TrackSource> tracks(3);
    for (size_t i = 0; i < tracks.size(); ++i) {
        tracks[i].name = "t" + std::to_string(i);
        for (int c = 0; c < 2; ++c)
            tracks[i].curves[c] = RandomCurve(rng, kU, kDimensions[c], 1, 6, 1.0f);
        tracks[i].curves[2] = RandomCurve(rng, kI, 9, 1, 0, 1.0f);
    }
    const float nan = std::numeric_limits<float>::quiet_NaN();
    {
        // A control that is not a number in the last track's orientation.
        std::vector<TrackSource> bad = tracks;
        bad[2].curves[1].controls[5] = nan;
        GroupPtr g = BuildGroup("g", bad);
        ASSERT_TRUE(g);
        log.Clear();
        EXPECT_EQ(nullptr, OrvaneNewTrackGroupPlayback(g.get()));
        EXPECT_TRUE(log.Contains("not a finite number"));
    }
    {
        // A frame that is not a number in a keyframed position.
        orvane_track_group_builder* b = OrvaneBeginTrackGroup("g", 0, 1, 0, false);
        const float frames[6] = {1, 2, 3, 4, nan, 6};
        OrvaneBeginTransformTrack(b, "k");
        OrvaneSetTransformTrackPosition(b, 0, 0, 2, nullptr, frames,
                                        OrvaneCurveDataDaKeyframes32fType);
        OrvaneEndTransformTrack(b);
        GroupPtr g(OrvaneEndTrackGroup(b));
        ASSERT_TRUE(g);
        log.Clear();
        EXPECT_EQ(nullptr, OrvaneNewTrackGroupPlayback(g.get()));
        EXPECT_TRUE(log.Contains("not a finite number"));
    }
    {
        // Knots that run backwards.
        std::vector<TrackSource> bad = tracks;
        std::swap(bad[0].curves[0].knots[2], bad[0].curves[0].knots[3]);
        GroupPtr g = BuildGroup("g", bad);
        ASSERT_TRUE(g);
        log.Clear();
        EXPECT_EQ(nullptr, OrvaneNewTrackGroupPlayback(g.get()));
        EXPECT_TRUE(log.Contains("run backwards"));
    }
    GroupPtr g = BuildGroup("g", tracks);
    ASSERT_TRUE(g);
    {
        // A format that does not match its data, and counts without tracks.
        orvane_transform_track saved = g->TransformTracks[1];
        g->TransformTracks[1].OrientationCurve.CurveData.Type = OrvaneCurveDataD3K16uC16uType;
        log.Clear();
        EXPECT_EQ(nullptr, OrvaneNewTrackGroupPlayback(g.get()));
        EXPECT_TRUE(log.Contains("does not match its data"));
        g->TransformTracks[1] = saved;
        orvane_track_group copy = *g;
        copy.TransformTracks = nullptr;
        EXPECT_EQ(nullptr, OrvaneNewTrackGroupPlayback(&copy));
        copy = *g;
        copy.TransformTrackCount = -1;
        EXPECT_EQ(nullptr, OrvaneNewTrackGroupPlayback(&copy));
    }
    // The sound group is taken, and an empty one samples nothing.
    PlaybackPtr playback(OrvaneNewTrackGroupPlayback(g.get()));
    EXPECT_TRUE(playback);
    orvane_track_group empty = *g;
    empty.TransformTrackCount = 0;
    PlaybackPtr none(OrvaneNewTrackGroupPlayback(&empty));
    ASSERT_TRUE(none);
    const auto ctx = Context(0.5f, 1.0f);
    OrvaneSampleTrackGroupPlayback(none.get(), &ctx, nullptr);
}

// Two playbacks of one group on two threads at once, each at its own times.
TEST(TrackGroupPlayback, TwoPlaybacksOfOneGroupOnTwoThreads) {
    std::mt19937 rng(9);
    const float duration = 1.5f;
    GroupPtr g = BuildGroup("g", MixedTracks(rng, duration));
    ASSERT_TRUE(g);
    bool same[2] = {false, false};
    auto play = [&](int k) {
        PlaybackPtr playback(OrvaneNewTrackGroupPlayback(g.get()));
        if (!playback) return;
        std::vector<orvane_transform> r(size_t(g->TransformTrackCount));
        bool ok = true;
        for (int frame = 0; frame < 200 && ok; ++frame) {
            const auto ctx = Context(float(frame) / float(40 + 20 * k), duration, true, true);
            const orvane_transform* own =
                OrvaneSampleTrackGroupPlayback(playback.get(), &ctx, k ? r.data() : nullptr);
            ok = std::memcmp(Expected(*g, ctx).data(), k ? r.data() : own,
                             r.size() * sizeof(orvane_transform)) == 0;
        }
        same[k] = ok;
    };
    std::thread other(play, 1);
    play(0);
    other.join();
    EXPECT_TRUE(same[0]);
    EXPECT_TRUE(same[1]);
}

}  // namespace

// Track sampling: the sampler table, every specialised sampler against the general one,
// local sampling against direct curve evaluation (plain and quantised formats, looping windows
// at both ends), knot hints, damaged curves and sampling on two threads.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <Eigen/Dense>
#include <gtest/gtest.h>

#include "track/orvane_track_batch.h"
#include "track/orvane_track_sampler.h"
#include "track/track_test_support.h"
#include "support/log_capture.h"
#include "orvane/bspline.h"
#include "orvane/curve_builder.h"
#include "orvane/fit.h"
#include "orvane/track_group.h"
#include "orvane/track_group_playback.h"

using namespace orvane_track_test;
using orvane::kPlanOrientation;
using orvane::kPlanPosition;
using orvane::kPlanScaleShear;
using orvane::PlanTrackSampling;
using orvane::SamplePlannedTrack;
using orvane_test::LogCapture;

namespace {

const float* const kIdentities[3] = {OrvaneCurveIdentityPosition, OrvaneCurveIdentityOrientation,
                                     OrvaneCurveIdentityScaleShear};
const int kDims[3] = {3, 4, 9};

TrackSource RandomTrack(std::mt19937& rng, int p, int o, int s, int degree, float duration,
                        orvane_data_type_definition* const types[3] = nullptr) {
    TrackSource t;
    t.name = "t";
    const int kinds[3] = {p, o, s};
    for (int c = 0; c < 3; ++c) {
        t.curves[c] = RandomCurve(rng, kinds[c], kDims[c], degree, 12, duration);
        if (types && kinds[c] == kU) t.curves[c].type = types[c];
    }
    return t;
}

void RandomAffine(std::mt19937& rng, float m[16]) {
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    float q[4] = {u(rng), u(rng), u(rng), u(rng) + 2.0f};
    Normalize4(q);
    orvane_transform t;
    OrvaneMakeIdentity(&t);
    std::memcpy(t.Orientation, q, sizeof q);
    for (int c = 0; c < 3; ++c)
        t.Position[c] = 3.0f * u(rng);
    t.Flags = OrvaneTransformHasPosition | OrvaneTransformHasOrientation;
    OrvaneBuildCompositeTransform4x4(&t, m);
}

void ExpectMatricesNear(const float* a, const float* b, float tolerance) {
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(a[i], b[i], tolerance) << "element " << i;
}

TEST(TrackSamplerChoice, EveryCombinationOfKinds) {
    std::mt19937 rng(11);
    const orvane_track_sampler uuu = OrvaneGetTrackSamplerUUU();
    const orvane_track_sampler iii = OrvaneGetTrackSamplerIII();
    // The combinations with their own sampler: III, SII, UII, SSI, SUI, USI, UUI.
    const int own[] = {0, 9, 18, 12, 15, 21, 24};
    for (int index = 0; index < 27; ++index) {
        SCOPED_TRACE(index);
        const TrackSource source = RandomTrack(rng, index / 9, (index / 3) % 3, index % 3, 1, 1.0f);
        GroupPtr g = BuildGroup("g", {source});
        const orvane_track_sampler sampler = OrvaneGetTrackSamplerFor(&g->TransformTracks[0]);
        ASSERT_NE(sampler, nullptr);
        const bool special = std::find(std::begin(own), std::end(own), index) != std::end(own);
        if (index == 0)
            EXPECT_EQ(sampler, iii);
        else if (special)
            EXPECT_NE(sampler, uuu);
        else
            EXPECT_EQ(sampler, uuu);
    }
    // Keyframed curves always take the general sampler.
    orvane_track_group_builder* b = OrvaneBeginTrackGroup("g", 0, 0, 0, false);
    const float frames[6] = {1, 2, 3, 4, 5, 6};
    OrvaneBeginTransformTrack(b, "k");
    OrvaneSetTransformTrackPosition(b, 0, 0, 2, nullptr, frames, OrvaneCurveDataDaKeyframes32fType);
    OrvaneEndTransformTrack(b);
    GroupPtr g(OrvaneEndTrackGroup(b));
    EXPECT_TRUE(OrvaneTransformTrackHasKeyframedCurves(&g->TransformTracks[0]));
    EXPECT_EQ(OrvaneGetTrackSamplerFor(&g->TransformTracks[0]), uuu);
}

// The reference: the general local sample, its orientation normalised once more by hand,
// composed by hand. Every sampler, specialised or general, agrees with it to rounding (1e-5
// relative), also at a loop seam where the last key of the random walk meets the first.
void ReferenceMatrices(const orvane_track_sample_context& ctx, const orvane_transform_track* track,
                       const float* inverse, const float* parent, float* world, float* composite) {
    orvane_transform local{};
    OrvaneSampleTrackUUULocal(&ctx, track, nullptr, &local);
    if (local.Flags & OrvaneTransformHasOrientation) Normalize4(local.Orientation);
    float m[16];
    OrvaneBuildCompositeTransform4x4(&local, m);
    OrvaneColumnMatrixMultiply4x4(world, m, parent);
    OrvaneColumnMatrixMultiply4x4(composite, inverse, world);
}

void ExpectMatricesClose(const float* a, const float* b, float relative) {
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(a[i], b[i], relative * std::max(1.0f, std::fabs(b[i]))) << "element " << i;
}

TEST(TrackSamplers, SpecialisedSamplersMatchTheGeneralOne) {
    std::mt19937 rng(12);
    const orvane_track_sampler uuu = OrvaneGetTrackSamplerUUU();
    std::uniform_real_distribution<float> time(0.0f, 1.0f);
    for (int index = 0; index < 27; ++index) {
        for (int degree = 0; degree <= 3; ++degree) {
            SCOPED_TRACE(testing::Message() << "kinds " << index << " degree " << degree);
            const TrackSource source =
                RandomTrack(rng, index / 9, (index / 3) % 3, index % 3, degree, 1.0f);
            GroupPtr g = BuildGroup("g", {source});
            const orvane_transform_track* track = &g->TransformTracks[0];
            const orvane_track_sampler sampler = OrvaneGetTrackSamplerFor(track);
            for (int round = 0; round < 10; ++round) {
                float parent[16], inverse[16];
                RandomAffine(rng, parent);
                RandomAffine(rng, inverse);
                const auto ctx = Context(time(rng), 1.0f, round % 2 == 0, round % 3 == 0);
                float w1[16], c1[16], w2[16], c2[16], w3[16], c3[16];
                sampler(&ctx, track, nullptr, nullptr, inverse, parent, w1, c1);
                ReferenceMatrices(ctx, track, inverse, parent, w2, c2);
                ExpectMatricesClose(w1, w2, 1e-5f);
                ExpectMatricesClose(c1, c2, 1e-5f);
                uuu(&ctx, track, nullptr, nullptr, inverse, parent, w3, c3);
                ExpectMatricesClose(w1, w3, 1e-5f);
            }
        }
    }
}

TEST(TrackSamplers, GeneralSamplerComposesTheLocalTransform) {
    std::mt19937 rng(13);
    const TrackSource source = RandomTrack(rng, kU, kU, kU, 2, 1.0f);
    GroupPtr g = BuildGroup("g", {source});
    float parent[16], inverse[16];
    RandomAffine(rng, parent);
    RandomAffine(rng, inverse);
    const auto ctx = Context(0.37f, 1.0f);
    float world[16], composite[16];
    OrvaneGetTrackSamplerUUU()(&ctx, &g->TransformTracks[0], nullptr, nullptr, inverse, parent,
                               world, composite);
    orvane_transform local{};
    OrvaneSampleTrackUUULocal(&ctx, &g->TransformTracks[0], nullptr, &local);
    EXPECT_EQ(local.Flags, 7u);
    float m[16], expectedWorld[16], expectedComposite[16];
    OrvaneBuildCompositeTransform4x4(&local, m);
    OrvaneColumnMatrixMultiply4x4(expectedWorld, m, parent);
    OrvaneColumnMatrixMultiply4x4(expectedComposite, inverse, expectedWorld);
    ExpectMatricesNear(world, expectedWorld, 1e-5f);
    ExpectMatricesNear(composite, expectedComposite, 1e-5f);
}

TEST(TrackSamplers, FixedSamplers) {
    std::mt19937 rng(14);
    const TrackSource source = RandomTrack(rng, kU, kU, kU, 1, 1.0f);
    GroupPtr g = BuildGroup("g", {source});
    float parent[16], inverse[16], world[16], composite[16], expected[16];
    RandomAffine(rng, parent);
    RandomAffine(rng, inverse);
    const auto ctx = Context(0.5f, 1.0f);
    // SSS: the constant transform, whatever the track says.
    orvane_transform constant;
    OrvaneMakeIdentity(&constant);
    constant.Flags = OrvaneTransformHasPosition;
    constant.Position[1] = 2.0f;
    OrvaneGetTrackSamplerSSS()(&ctx, &g->TransformTracks[0], nullptr, &constant, inverse, parent,
                               world, composite);
    float m[16];
    OrvaneBuildCompositeTransform4x4(&constant, m);
    OrvaneColumnMatrixMultiply4x4(expected, m, parent);
    ExpectMatricesNear(world, expected, 1e-5f);
    // III: the parent.
    OrvaneGetTrackSamplerIII()(&ctx, &g->TransformTracks[0], nullptr, nullptr, inverse, parent,
                               world, composite);
    ExpectMatricesNear(world, parent, 0.0f);
    OrvaneColumnMatrixMultiply4x4(expected, inverse, parent);
    ExpectMatricesNear(composite, expected, 1e-5f);
    // IIU: only the scale/shear of the track.
    OrvaneGetTrackSamplerIIU()(&ctx, &g->TransformTracks[0], nullptr, nullptr, inverse, parent,
                               world, composite);
    orvane_transform local{};
    OrvaneSampleTrackUUULocal(&ctx, &g->TransformTracks[0], nullptr, &local);
    OrvaneMakeIdentity(&constant);
    constant.Flags = OrvaneTransformHasScaleShear;
    std::memcpy(constant.ScaleShear, local.ScaleShear, sizeof local.ScaleShear);
    OrvaneBuildCompositeTransform4x4(&constant, m);
    OrvaneColumnMatrixMultiply4x4(expected, m, parent);
    ExpectMatricesNear(world, expected, 1e-5f);
}

void ExpectLocalMatchesEvaluation(const orvane_transform_track& track,
                                  const orvane_track_sample_context& ctx, float tolerance) {
    orvane_transform local{};
    OrvaneSampleTrackUUULocal(&ctx, &track, nullptr, &local);
    const orvane_curve2* curves[3] = {&track.PositionCurve, &track.OrientationCurve,
                                      &track.ScaleShearCurve};
    const float* values[3] = {local.Position, local.Orientation, &local.ScaleShear[0][0]};
    for (int c = 0; c < 3; ++c) {
        float expected[9];
        OrvaneEvaluateCurveAtT(kDims[c], c == 1, ctx.LoopBefore, curves[c], ctx.LoopAfter,
                               ctx.SampleDuration, ctx.SampleTime, expected, kIdentities[c]);
        for (int j = 0; j < kDims[c]; ++j)
            EXPECT_NEAR(values[c][j], expected[j], tolerance) << "curve " << c << " value " << j;
    }
}

TEST(TrackSampleLocal, MatchesDirectEvaluationOfTheCurves) {
    std::mt19937 rng(15);
    orvane_data_type_definition* const floats[3] = {OrvaneCurveDataDaK32fC32fType,
                                                    OrvaneCurveDataDaK32fC32fType,
                                                    OrvaneCurveDataDaK32fC32fType};
    orvane_data_type_definition* const quantised[3] = {OrvaneCurveDataD3K16uC16uType,
                                                       OrvaneCurveDataD4nK16uC15uType,
                                                       OrvaneCurveDataD9I3K8uC8uType};
    orvane_data_type_definition* const anyDimension[3] = {
        OrvaneCurveDataDaK8uC8uType, OrvaneCurveDataDaK16uC16uType, OrvaneCurveDataDaK16uC16uType};
    orvane_data_type_definition* const* sets[3] = {floats, quantised, anyDimension};
    std::uniform_real_distribution<float> time(0.0f, 2.2f);
    for (int set = 0; set < 3; ++set) {
        for (int degree = 0; degree <= 3; ++degree) {
            SCOPED_TRACE(testing::Message() << "set " << set << " degree " << degree);
            const TrackSource source = RandomTrack(rng, kU, kU, kU, degree, 2.0f, sets[set]);
            GroupPtr g = BuildGroup("g", {source});
            for (int round = 0; round < 40; ++round) {
                const auto ctx = Context(time(rng), 2.0f, round & 1, round & 2);
                ExpectLocalMatchesEvaluation(g->TransformTracks[0], ctx, 1e-6f);
            }
            // The window at both ends of the curve, with and without the loop.
            for (int end = 0; end < 4; ++end) {
                const float t = end < 2 ? 0.001f : 1.999f;
                const auto ctx = Context(t, 2.0f, end % 2 == 1, end % 2 == 1);
                ExpectLocalMatchesEvaluation(g->TransformTracks[0], ctx, 1e-6f);
            }
        }
    }
}

TEST(TrackSampleLocal, BeforeTheFirstKnotWithoutALoopYieldsTheFirstKey) {
    // The clamped window has only the first knot there; its spline ratios are 0 / 0.
    std::mt19937 rng(21);
    for (int degree = 1; degree <= 3; ++degree) {
        const TrackSource source = RandomTrack(rng, kU, kU, kI, degree, 1.0f);
        GroupPtr g = BuildGroup("g", {source});
        orvane_transform local{};
        const auto ctx = Context(-0.25f, 1.0f);
        OrvaneSampleTrackUUULocal(&ctx, &g->TransformTracks[0], nullptr, &local);
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(local.Position[j], source.curves[0].controls[size_t(j)]);
        // The orientation is the first key at unit length, as the spline's value is
        // everywhere else.
        const float* q = source.curves[1].controls.data();
        const double length = std::sqrt(double(q[0]) * q[0] + double(q[1]) * q[1] +
                                        double(q[2]) * q[2] + double(q[3]) * q[3]);
        for (int j = 0; j < 4; ++j)
            EXPECT_NEAR(local.Orientation[j], q[j] / length, 1e-7);
    }
}

TEST(TrackSampleLocal, OrientationsHeldAtEitherEndAreUnitLength) {
    // Keys stored at twice unit length: the spline's value is normalised, and so is the key
    // held before the first knot and past the last, on both sides alike and in agreement with
    // curve evaluation (which holds the ends the same way).
    const std::vector<float> knots = {0.5f, 1.0f, 1.5f, 2.0f};
    const std::vector<float> keys = {0, 0, 0, 2, 0, 0, 1.2f, 1.6f, 0, 1.2f, 0, 1.6f, 2, 0, 0, 0};
    for (orvane_data_type_definition* type :
         {OrvaneCurveDataDaK32fC32fType, OrvaneCurveDataDaK16uC16uType}) {
        for (int degree = 1; degree <= 3; ++degree) {
            SCOPED_TRACE(testing::Message() << "degree " << degree);
            TrackSource source;
            source.name = "t";
            source.curves[1].kind = kU;
            source.curves[1].degree = degree;
            source.curves[1].knots = knots;
            source.curves[1].controls = keys;
            source.curves[1].type = type;
            GroupPtr g = BuildGroup("g", {source});
            const orvane_transform_track& track = g->TransformTracks[0];
            // (time, key): before the first knot the first key (0 0 0 2), past the last knot
            // the last key (2 0 0 0), each halved to unit length.
            const struct {
                float t;
                int key;
            } cases[] = {{0.0f, 0}, {0.25f, 0}, {2.0f, 3}, {7.0f, 3}};
            for (const auto& c : cases) {
                SCOPED_TRACE(testing::Message() << "t " << c.t);
                orvane_transform local{};
                const auto ctx = Context(c.t, 2.0f);
                OrvaneSampleTrackUUULocal(&ctx, &track, nullptr, &local);
                float evaluated[4];
                OrvaneEvaluateCurveAtT(4, true, false, &track.OrientationCurve, false, 2.0f, c.t,
                                       evaluated, OrvaneCurveIdentityOrientation);
                for (int j = 0; j < 4; ++j) {
                    const double expected = 0.5 * keys[size_t(4 * c.key + j)];
                    EXPECT_NEAR(local.Orientation[j], expected, 1e-3);
                    EXPECT_NEAR(evaluated[j], expected, 1e-3);
                }
            }
        }
    }
}

TEST(TrackSampleLocal, PastTheLastKnotWithoutALoopHoldsTheLastKey) {
    // The spline would extrapolate there; float and quantised knots alike hold the last key.
    std::mt19937 rng(22);
    orvane_data_type_definition* const quantised[3] = {OrvaneCurveDataD3K16uC16uType,
                                                       OrvaneCurveDataD4nK16uC15uType,
                                                       OrvaneCurveDataD9I3K8uC8uType};
    for (int set = 0; set < 2; ++set) {
        for (int degree = 1; degree <= 3; ++degree) {
            SCOPED_TRACE(testing::Message() << "set " << set << " degree " << degree);
            const TrackSource source =
                RandomTrack(rng, kU, kU, kU, degree, 1.0f, set == 1 ? quantised : nullptr);
            GroupPtr g = BuildGroup("g", {source});
            for (const float t : {1.0f, 1.5f, 9.0f}) {
                const auto ctx = Context(t, 1.0f);
                ExpectLocalMatchesEvaluation(g->TransformTracks[0], ctx, 1e-6f);
            }
            if (set == 0) {
                orvane_transform local{};
                const auto ctx = Context(9.0f, 1.0f);
                OrvaneSampleTrackUUULocal(&ctx, &g->TransformTracks[0], nullptr, &local);
                const std::vector<float>& controls = source.curves[0].controls;
                for (int j = 0; j < 3; ++j)
                    EXPECT_EQ(local.Position[j], controls[controls.size() - 3 + size_t(j)]);
            }
        }
    }
}

TEST(TrackSampleLocal, LoopingWindowsMeetAtTheSeam) {
    // A curve whose last key repeats its first: with the loop on both sides, the value just
    // before the end and just after the start are the same function of time.
    std::mt19937 rng(16);
    for (int degree = 1; degree <= 3; ++degree) {
        SCOPED_TRACE(degree);
        TrackSource source = RandomTrack(rng, kU, kI, kI, degree, 1.0f);
        std::vector<float>& c = source.curves[0].controls;
        const size_t n = c.size() / 3;
        for (int j = 0; j < 3; ++j)
            c[(n - 1) * 3 + j] = c[size_t(j)];
        GroupPtr g = BuildGroup("g", {source});
        orvane_transform a{}, b{}, at{}, bt{};
        auto ctx = Context(1.0f - 1e-4f, 1.0f, true, true);
        OrvaneSampleTrackUUULocal(&ctx, &g->TransformTracks[0], nullptr, &a);
        ctx.SampleTime = 1e-4f;
        OrvaneSampleTrackUUULocal(&ctx, &g->TransformTracks[0], nullptr, &b);
        ctx.SampleTime = 0.0f;
        OrvaneSampleTrackUUULocal(&ctx, &g->TransformTracks[0], nullptr, &at);
        ctx.SampleTime = 1.0f - 1e-6f;
        OrvaneSampleTrackUUULocal(&ctx, &g->TransformTracks[0], nullptr, &bt);
        for (int j = 0; j < 3; ++j) {
            EXPECT_NEAR(at.Position[j], bt.Position[j], 1e-3f);
            EXPECT_NEAR(a.Position[j], b.Position[j], 0.05f);
        }
    }
}

// A loop shorter than the curve (a control playing part of a clip, or a file whose duration
// falls short of its keys) would continue the window with knots that run back into the curve's:
// the ends are then held as without looping, never divided by empty spans.
TEST(TrackSampleLocal, LoopsShorterThanTheCurveHoldTheEndsAsWithoutLooping) {
    TrackSource source;
    source.name = "t";
    source.curves[0].knots = {0.0f, 0.5f, 1.0f};
    source.curves[0].controls = {0, 0, 0, 1, 1, 1, 2, 2, 2};
    source.curves[1].degree = 2;
    source.curves[1].knots = {0.0f, 0.25f, 0.5f, 0.75f, 1.0f};
    for (int i = 0; i < 5; ++i) {
        float q[4] = {0.0f, 0.0f, 0.1f * float(i), 1.0f};
        Normalize4(q);
        source.curves[1].controls.insert(source.curves[1].controls.end(), q, q + 4);
    }
    GroupPtr g = BuildGroup("g", {source});
    const orvane_transform_track& track = g->TransformTracks[0];
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    for (const float duration : {0.5f, 0.25f, 0.0f, -1.0f, NAN}) {
        for (const float t : {-0.5f, 0.0f, 0.1f, 0.5f, 0.9f, 1.0f, 1.5f}) {
            SCOPED_TRACE(testing::Message() << "duration " << duration << " time " << t);
            orvane_transform held{}, looped{};
            const orvane_track_sample_context plain = Context(t, duration, false, false);
            OrvaneSampleTrackUUULocal(&plain, &track, nullptr, &held);
            const orvane_track_sample_context loop = Context(t, duration, true, true);
            OrvaneSampleTrackUUULocal(&loop, &track, nullptr, &looped);
            for (int j = 0; j < 3; ++j)
                EXPECT_EQ(looped.Position[j], held.Position[j]);
            for (int j = 0; j < 4; ++j)
                EXPECT_EQ(looped.Orientation[j], held.Orientation[j]);
            // The group's batched playback agrees.
            orvane_track_group_playback* playback = OrvaneNewTrackGroupPlayback(g.get());
            ASSERT_NE(playback, nullptr);
            const orvane_transform* played =
                OrvaneSampleTrackGroupPlayback(playback, &loop, nullptr);
            for (int j = 0; j < 3; ++j)
                EXPECT_EQ(played->Position[j], held.Position[j]);
            for (int j = 0; j < 4; ++j)
                EXPECT_EQ(played->Orientation[j], held.Orientation[j]);
            OrvaneFreeTrackGroupPlayback(playback);
            const orvane_track_sampler sampler = OrvaneGetTrackSamplerFor(&track);
            float world[16], composite[16];
            sampler(&loop, &track, nullptr, nullptr, identity, identity, world, composite);
            for (int i = 0; i < 16; ++i)
                EXPECT_TRUE(std::isfinite(world[i])) << i;
        }
    }
    // The ends hold the first and the last key; the linear position is the key blend between.
    const float expected[3][2] = {{-0.5f, 0.0f}, {0.25f, 0.5f}, {1.5f, 2.0f}};
    for (const auto& e : expected) {
        orvane_transform r{};
        const orvane_track_sample_context loop = Context(e[0], 0.5f, true, true);
        OrvaneSampleTrackUUULocal(&loop, &track, nullptr, &r);
        EXPECT_FLOAT_EQ(r.Position[1], e[1]) << e[0];
    }
    // Compact curves (their last interval across the seam is decoded in line) alike.
    const CompactCurves fitted = FitSmoothCompactCurves(60, 1.0f / 30.0f, 0.2, 1e-4f);
    ASSERT_TRUE(fitted.position && fitted.orientation);
    orvane_transform_track compact = track;
    compact.PositionCurve = *fitted.position;
    compact.OrientationCurve = *fitted.orientation;
    for (const float t : {-0.1f, 0.0f, 0.5f, 1.9f, 2.0f, 2.1f}) {
        SCOPED_TRACE(t);
        orvane_transform held{}, looped{};
        const orvane_track_sample_context plain = Context(t, 1.0f, false, false);
        OrvaneSampleTrackUUULocal(&plain, &compact, nullptr, &held);
        const orvane_track_sample_context loop = Context(t, 1.0f, true, true);
        OrvaneSampleTrackUUULocal(&loop, &compact, nullptr, &looped);
        EXPECT_EQ(0, std::memcmp(&held, &looped, sizeof held));
    }
    OrvaneFreeCurve(fitted.position);
    OrvaneFreeCurve(fitted.orientation);
    // A loop as long as the curve still continues it: past the end comes the first key again.
    orvane_transform r{};
    const orvane_track_sample_context whole = Context(1.0f, 1.0f, true, true);
    OrvaneSampleTrackUUULocal(&whole, &track, nullptr, &r);
    EXPECT_FLOAT_EQ(r.Position[0], 0.0f);
}

TEST(TrackSampleLocal, FlagsFollowTheCurveKinds) {
    std::mt19937 rng(17);
    GroupPtr constant = BuildGroup("g", {RandomTrack(rng, kI, kS, kI, 1, 1.0f)});
    orvane_transform local{};
    const auto ctx = Context(0.5f, 1.0f);
    OrvaneSampleTrackUUULocal(&ctx, &constant->TransformTracks[0], nullptr, &local);
    EXPECT_EQ(local.Flags, uint32_t(OrvaneTransformHasOrientation));
    GroupPtr identity = BuildGroup("g", {RandomTrack(rng, kU, kI, kS, 1, 1.0f)});
    local = orvane_transform{};
    OrvaneSampleTrackUUULocal(&ctx, &identity->TransformTracks[0], nullptr, &local);
    EXPECT_EQ(local.Flags, uint32_t(OrvaneTransformHasPosition | OrvaneTransformHasScaleShear));
    EXPECT_EQ(local.Orientation[3], 1.0f);
    EXPECT_EQ(local.Orientation[0], 0.0f);
    // Position and orientation alone.
    float p[3], q[4];
    OrvaneSampleTrackPOLocal(&ctx, &identity->TransformTracks[0], nullptr, p, q);
    EXPECT_EQ(q[3], 1.0f);
    for (int j = 0; j < 3; ++j)
        EXPECT_EQ(p[j], local.Position[j]);
}

TEST(TrackSampleLocal, KeyframedCurvesYieldTheirFrameClamped) {
    orvane_track_group_builder* b = OrvaneBeginTrackGroup("g", 0, 0, 0, false);
    const float frames[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    OrvaneBeginTransformTrack(b, "k");
    OrvaneSetTransformTrackPosition(b, 0, 0, 3, nullptr, frames, OrvaneCurveDataDaKeyframes32fType);
    OrvaneEndTransformTrack(b);
    GroupPtr g(OrvaneEndTrackGroup(b));
    for (int frame : {-3, 0, 1, 2, 3, 1000}) {
        orvane_transform local{};
        const auto ctx = Context(0.0f, 1.0f, false, false, frame);
        OrvaneSampleTrackUUULocal(&ctx, &g->TransformTracks[0], nullptr, &local);
        const int expected = frame < 0 ? 0 : frame > 2 ? 2 : frame;
        EXPECT_EQ(local.Position[0], frames[3 * expected]) << frame;
        EXPECT_EQ(local.Flags, uint32_t(OrvaneTransformHasPosition));
    }
}

// Float curves with controls and no knots hold frames too: they count as keyframed, take the
// general sampler and yield the context's frame with the component's bit.
TEST(TrackSampleLocal, FloatCurvesWithoutKnotsAreKeyframed) {
    const float positions[6] = {1, 2, 3, 4, 5, 6};
    const float orientations[8] = {0, 0, 0, 1, 0, 0.6f, 0, 0.8f};
    orvane_curve_data_da_k32f_c32f positionData{}, orientationData{};
    orvane_curve_data_da_identity scaleShearData{};
    scaleShearData.CurveDataHeader.Format = OrvaneCurveFormatDaIdentity;
    scaleShearData.Dimension = 9;
    orvane_transform_track track{};
    track.Name = const_cast<char*>("k");
    OrvaneCurveMakeStaticDaK32fC32f(&track.PositionCurve, &positionData, 0, 0, 3, nullptr, nullptr);
    positionData.ControlCount = 6;
    positionData.Controls = const_cast<float*>(positions);
    OrvaneCurveMakeStaticDaK32fC32f(&track.OrientationCurve, &orientationData, 0, 0, 4, nullptr,
                                    nullptr);
    orientationData.ControlCount = 8;
    orientationData.Controls = const_cast<float*>(orientations);
    track.ScaleShearCurve.CurveData.Type = OrvaneCurveDataDaIdentityType;
    track.ScaleShearCurve.CurveData.Object = &scaleShearData;
    ASSERT_TRUE(OrvaneCurveIsKeyframed(&track.PositionCurve));
    ASSERT_TRUE(OrvaneTransformTrackHasKeyframedCurves(&track));

    EXPECT_EQ(OrvaneGetTrackSamplerFor(&track), OrvaneGetTrackSamplerUUU());
    orvane_transform local{};
    const auto ctx = Context(0.25f, 1.0f, false, false, 1);
    OrvaneSampleTrackUUULocal(&ctx, &track, nullptr, &local);
    EXPECT_EQ(local.Flags, uint32_t(OrvaneTransformHasPosition | OrvaneTransformHasOrientation));
    EXPECT_EQ(local.Position[0], 4.0f);
    EXPECT_EQ(local.Position[2], 6.0f);
    EXPECT_EQ(local.Orientation[1], 0.6f);
    EXPECT_EQ(local.Orientation[3], 0.8f);
    // Position and orientation alone take the first frame.
    float p[3], q[4];
    OrvaneSampleTrackPOLocal(&ctx, &track, nullptr, p, q);
    EXPECT_EQ(p[0], 1.0f);
    EXPECT_EQ(q[3], 1.0f);
    // The initial transform is frame 0.
    orvane_transform initial;
    OrvaneGetTrackInitialTransform(&track, &initial);
    EXPECT_EQ(initial.Position[1], 2.0f);
    EXPECT_TRUE(initial.Flags & OrvaneTransformHasPosition);
}

// The formats of a track's position, orientation and scale/shear curves whose windows the
// per-track cache keeps (the scale/shear's it never keeps).
struct CachedFormats {
    orvane_data_type_definition* sixteenBit[3] = {OrvaneCurveDataD3K16uC16uType,
                                                  OrvaneCurveDataD4nK16uC15uType,
                                                  OrvaneCurveDataD9I1K16uC16uType};
    orvane_data_type_definition* eightBit[3] = {
        OrvaneCurveDataD3K8uC8uType, OrvaneCurveDataD4nK8uC7uType, OrvaneCurveDataD9I1K8uC8uType};
    orvane_data_type_definition* anyDimension[3] = {
        OrvaneCurveDataDaK16uC16uType, OrvaneCurveDataDaK8uC8uType, OrvaneCurveDataD9I1K8uC8uType};
};

TEST(TrackSampleLocal, HintsAndCachesChangeNothingButTheWork) {
    std::mt19937 rng(18);
    orvane_data_type_definition* const quantised[3] = {
        OrvaneCurveDataD3K16uC16uType, OrvaneCurveDataD4nK8uC7uType, OrvaneCurveDataDaK32fC32fType};
    const CachedFormats f;
    orvane_data_type_definition* const* sets[6] = {nullptr,      quantised,  f.sixteenBit,
                                                   f.sixteenBit, f.eightBit, f.anyDimension};
    for (int set = 0; set < 6; ++set) {
        SCOPED_TRACE(set);
        const int degree = set == 3 ? 2 : set >= 4 ? 1 : 1 + set % 2;
        const TrackSource source = RandomTrack(rng, kU, kU, kU, degree, 1.5f, sets[set]);
        GroupPtr g = BuildGroup("g", {source});
        int32_t hints[3] = {0, 0, 0};
        orvane_track_sample_cache cache{};
        std::uniform_real_distribution<float> jump(0.0f, 1.5f);
        for (int frame = 0; frame < 400; ++frame) {
            // Playback, then random jumps and a pass backwards.
            const float t = frame < 200   ? float(frame) / 60.0f
                            : frame < 300 ? jump(rng)
                                          : 1.5f - float(frame - 300) / 70.0f;
            const auto ctx = Context(t, 1.5f, true, true);
            orvane_transform plain{}, hinted{};
            OrvaneSampleTrackUUULocal(&ctx, &g->TransformTracks[0], nullptr, &plain);
            OrvaneSampleTrackUUULocalHinted(&ctx, &g->TransformTracks[0], hints, &hinted);
            ASSERT_EQ(0, std::memcmp(&plain, &hinted, sizeof plain)) << "t " << t;
            orvane_transform cached{};
            OrvaneSampleTrackUUULocalCached(&ctx, &g->TransformTracks[0], &cache, &cached);
            ASSERT_EQ(0, std::memcmp(&plain, &cached, sizeof plain)) << "t " << t;
        }
    }
}

// A window the cache kept serves a later call only where that call's own search and looping
// would take it: each time of the last interval and across the seam, with the context's
// looping changed from one call to the next and the same cache, gives the uncached bits, for
// the 3-vector, quaternion and any-dimension formats in 16 and 8 bits.
TEST(TrackSampleLocal, CachedWindowsFollowEachCallsLooping) {
    std::mt19937 rng(43);
    const CachedFormats f;
    const float duration = 1.5f;
    for (orvane_data_type_definition* const* formats : {f.sixteenBit, f.eightBit, f.anyDimension}) {
        GroupPtr g = BuildGroup("g", {RandomTrack(rng, kU, kU, kS, 1, duration, formats)});
        const orvane_transform_track& track = g->TransformTracks[0];
        orvane_track_sample_cache cache{};
        for (int frame = 0; frame < 120; ++frame) {
            // The last fifth of the clip and a little past its end, each time twice, looping and
            // not in turn.
            const float t = duration * (0.8f + 0.25f * float(frame / 2) / 60.0f);
            for (int loop = 0; loop < 2; ++loop) {
                const bool looping = (frame + loop) % 2 == 1;
                const auto ctx = Context(t, duration, looping, looping);
                orvane_transform plain{}, cached{};
                OrvaneSampleTrackUUULocal(&ctx, &track, nullptr, &plain);
                OrvaneSampleTrackUUULocalCached(&ctx, &track, &cache, &cached);
                ASSERT_EQ(0, std::memcmp(&plain, &cached, sizeof plain))
                    << "t " << t << (looping ? " looping" : "");
            }
        }
    }
}

// The plan made when a track is bound: the fixed curves are taken once, the moving ones sampled
// each frame into the planned transform. Every combination of curve kinds, in plain, quantised
// and constant formats, degrees 1 and 2, with and without loops, over playback (hint and
// window reuse), random jumps and a pass backwards past both ends: the same bits as the
// general sampler with no hint or cache.
TEST(TrackSamplePlanned, MatchesTheGeneralSamplerToTheBit) {
    std::mt19937 rng(41);
    orvane_data_type_definition* const cachedFormats[3] = {OrvaneCurveDataD3K16uC16uType,
                                                           OrvaneCurveDataD4nK16uC15uType,
                                                           OrvaneCurveDataD9I3K16uC16uType};
    orvane_data_type_definition* const eightBit[3] = {
        OrvaneCurveDataD3K8uC8uType, OrvaneCurveDataD4nK8uC7uType, OrvaneCurveDataD9I1K8uC8uType};
    orvane_data_type_definition* const constants[3] = {OrvaneCurveDataD3Constant32fType,
                                                       OrvaneCurveDataD4Constant32fType,
                                                       OrvaneCurveDataDaConstant32fType};
    orvane_data_type_definition* const* sets[4] = {nullptr, cachedFormats, eightBit, nullptr};
    const uint32_t bits[3] = {kPlanPosition, kPlanOrientation, kPlanScaleShear};
    for (int set = 0; set < 4; ++set) {
        for (int combination = 0; combination < 27; ++combination) {
            const int kinds[3] = {combination % 3, combination / 3 % 3, combination / 9};
            const int degree = set == 3 ? 2 : 1;
            SCOPED_TRACE(testing::Message()
                         << "set " << set << " kinds " << kinds[0] << kinds[1] << kinds[2]);
            TrackSource source =
                RandomTrack(rng, kinds[0], kinds[1], kinds[2], degree, 1.5f, sets[set]);
            // Constants in the constant formats on every other combination.
            for (int c = 0; c < 3; ++c)
                if (kinds[c] == kS && combination % 2) source.curves[c].type = constants[c];
            GroupPtr g = BuildGroup("g", {source});
            const orvane_transform_track& track = g->TransformTracks[0];
            orvane_transform planned;
            std::memset(&planned, 0x5a, sizeof planned);
            const uint32_t moving = PlanTrackSampling(track, &planned);
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ((moving & bits[c]) != 0, kinds[c] == kU) << "curve " << c;
            orvane_track_sample_cache cache{};
            std::uniform_real_distribution<float> jump(-0.5f, 2.0f);
            for (int frame = 0; frame < 300; ++frame) {
                const float t = frame < 120   ? float(frame) / 60.0f
                                : frame < 200 ? jump(rng)
                                              : 2.0f - float(frame - 200) / 40.0f;
                const bool loops = (frame / 7) % 2 == 0;
                const auto ctx = Context(t, 1.5f, loops, loops);
                orvane_transform plain{};
                OrvaneSampleTrackUUULocal(&ctx, &track, nullptr, &plain);
                SamplePlannedTrack(ctx, track, moving, &cache, &planned);
                ASSERT_EQ(0, std::memcmp(&plain, &planned, sizeof plain)) << "t " << t;
            }
        }
    }
}

// Compact curves as the fitter makes them (knots every few samples, segments at their own bit
// depths, orientations as three stored components): the hinted and cached per-track steps, the
// planned step and the batched windows give the bits of the plain step, over playback, random
// jumps and a pass backwards past both ends, looping and clamped.
TEST(TrackSampleLocal, CompactCurvesSampleAlikeOnEveryPath) {
    std::mt19937 rng(35);
    const int count = 150;
    const float step = 1.0f / 30.0f, duration = float(count - 1) * step;
    const CompactCurves fitted = FitSmoothCompactCurves(count, step, 0.7, 2e-5f);
    orvane_curve2* position = fitted.position;
    orvane_curve2* orientation = fitted.orientation;
    ASSERT_TRUE(position && orientation);
    orvane_curve_data_da_identity identity{{OrvaneCurveFormatDaIdentity, 0}, 9};
    orvane_transform_track track{};
    track.PositionCurve = *position;
    track.OrientationCurve = *orientation;
    track.ScaleShearCurve.CurveData.Type = OrvaneCurveDataDaIdentityType;
    track.ScaleShearCurve.CurveData.Object = &identity;
    ASSERT_EQ(1, orvane::BatchableDegree(track.PositionCurve, 3));
    ASSERT_EQ(1, orvane::BatchableDegree(track.OrientationCurve, 4));

    // One lane of each dimension, as an instance binds them.
    struct alignas(16) Block {
        unsigned char bytes[16];
    };
    std::vector<Block> memory3(orvane::SampleBatchBytes(1, 3) / 16 + 1),
        memory4(orvane::SampleBatchBytes(1, 4) / 16 + 1);
    orvane::SampleBatch batch3, batch4;
    orvane::InitSampleBatch(&batch3, memory3.data(), 1, 3);
    orvane::InitSampleBatch(&batch4, memory4.data(), 1, 4);
    orvane_transform batched{}, planned{};
    orvane_track_sample_cache batchCache{}, planCache{}, cache{};
    orvane::SetBatchLane(&batch3, 0, track.PositionCurve, batched.Position, &batchCache);
    orvane::SetBatchLane(&batch4, 0, track.OrientationCurve, batched.Orientation, &batchCache);
    int32_t hints[3] = {0, 0, 0};
    std::uniform_real_distribution<float> jump(-0.2f, duration + 0.2f);
    for (int loop = 0; loop < 2; ++loop) {
        for (int frame = 0; frame < 640; ++frame) {
            // Playback past the end, random jumps, backwards past the start, then the last
            // interval (across the seam when looping).
            const float t = frame < 300   ? float(frame) / 60.0f - 0.1f
                            : frame < 400 ? jump(rng)
                            : frame < 600 ? duration + 0.1f - float(frame - 400) / 70.0f
                                          : duration - step * float(frame - 600) / 40.0f;
            const auto ctx = Context(t, duration, loop == 1, loop == 1);
            orvane_transform plain{}, hinted{}, cached{};
            OrvaneSampleTrackUUULocal(&ctx, &track, nullptr, &plain);
            OrvaneSampleTrackUUULocalHinted(&ctx, &track, hints, &hinted);
            OrvaneSampleTrackUUULocalCached(&ctx, &track, &cache, &cached);
            ASSERT_EQ(0, std::memcmp(&plain, &hinted, sizeof plain)) << "t " << t;
            ASSERT_EQ(0, std::memcmp(&plain, &cached, sizeof plain)) << "t " << t;
            // The curves evaluated on their own, through the B-spline buffers.
            float expected[4];
            OrvaneEvaluateCurveAtT(3, false, ctx.LoopBefore, position, ctx.LoopAfter, duration, t,
                                   expected, OrvaneCurveIdentityPosition);
            for (int i = 0; i < 3; ++i)
                ASSERT_NEAR(plain.Position[i], expected[i], 1e-5f * (1.0f + std::fabs(expected[i])))
                    << "t " << t;
            OrvaneEvaluateCurveAtT(4, true, ctx.LoopBefore, orientation, ctx.LoopAfter, duration, t,
                                   expected, OrvaneCurveIdentityOrientation);
            for (int i = 0; i < 4; ++i)
                ASSERT_NEAR(plain.Orientation[i], expected[i], 1e-5f) << "t " << t;
            orvane::SamplePlannedTrack(ctx, track, kPlanPosition | kPlanOrientation, &planCache,
                                       &planned);
            orvane::SampleBatch3(ctx, batch3);
            orvane::SampleBatch4(ctx, batch4);
            for (const orvane_transform* r : {&planned, &batched}) {
                ASSERT_EQ(0, std::memcmp(plain.Position, r->Position, sizeof plain.Position))
                    << "t " << t;
                ASSERT_EQ(0,
                          std::memcmp(plain.Orientation, r->Orientation, sizeof plain.Orientation))
                    << "t " << t;
            }
        }
    }
    OrvaneFreeCurve(position);
    OrvaneFreeCurve(orientation);
}

TEST(TrackSamplePlanned, KeyframedCurvesMoveAndFollowTheFrame) {
    orvane_track_group_builder* b = OrvaneBeginTrackGroup("g", 0, 0, 0, false);
    const float frames[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
    OrvaneBeginTransformTrack(b, "k");
    OrvaneSetTransformTrackOrientation(b, 0, 0, 3, nullptr, frames,
                                       OrvaneCurveDataDaKeyframes32fType);
    OrvaneEndTransformTrack(b);
    GroupPtr g(OrvaneEndTrackGroup(b));
    orvane_transform planned;
    const uint32_t moving = PlanTrackSampling(g->TransformTracks[0], &planned);
    EXPECT_EQ(moving, kPlanOrientation);
    orvane_track_sample_cache cache{};
    for (int frame : {0, 2, 1, 7, -1}) {
        const auto ctx = Context(0.0f, 1.0f, false, false, frame);
        orvane_transform plain{};
        OrvaneSampleTrackUUULocal(&ctx, &g->TransformTracks[0], nullptr, &plain);
        SamplePlannedTrack(ctx, g->TransformTracks[0], moving, &cache, &planned);
        EXPECT_EQ(0, std::memcmp(&plain, &planned, sizeof plain)) << frame;
    }
}

// Curve data as a damaged file might hold it.
struct BadCurve {
    orvane_curve_data_da_k32f_c32f data;
    float knots[2] = {0.0f, 1.0f};
    float controls[8] = {1, 2, 3, 4, 5, 6, 7, 8};
};

TEST(TrackSampleLocal, DamagedCurvesAreSampledAsIdentityWithOneWarning) {
    BadCurve bad[3];
    orvane_transform_track track{};
    track.Name = const_cast<char*>("bad");
    orvane_curve2* curves[3] = {&track.PositionCurve, &track.OrientationCurve,
                                &track.ScaleShearCurve};
    for (int c = 0; c < 3; ++c) {
        bad[c].data = {};
        bad[c].data.CurveDataHeader.Format = OrvaneCurveFormatDaK32fC32f;
        bad[c].data.CurveDataHeader.Degree = 1;
        bad[c].data.KnotCount = 2;
        bad[c].data.Knots = bad[c].knots;
        bad[c].data.ControlCount = 8;
        bad[c].data.Controls = bad[c].controls;
        curves[c]->CurveData.Type = OrvaneCurveDataDaK32fC32fType;
        curves[c]->CurveData.Object = &bad[c].data;
    }
    bad[0].data.CurveDataHeader.Degree = 7;  // no routine, and past the window buffers
    bad[1].data.ControlCount = 6;            // three values per knot for a quaternion
    bad[2].data.CurveDataHeader.Format = 200;
    LogCapture log;
    const auto ctx = Context(0.5f, 1.0f, true, true);
    orvane_transform local{};
    OrvaneSampleTrackUUULocal(&ctx, &track, nullptr, &local);
    EXPECT_EQ(local.Flags, 0u);
    EXPECT_EQ(local.Position[0], 0.0f);
    EXPECT_EQ(local.Orientation[3], 1.0f);
    EXPECT_EQ(local.ScaleShear[1][1], 1.0f);
    EXPECT_LE(log.warnings(), 1u);  // once per process: an earlier test may have used it
    EXPECT_EQ(log.errors(), 0u);
    EXPECT_EQ(OrvaneGetTrackSamplerFor(&track), OrvaneGetTrackSamplerIII());
    float parent[16], inverse[16], world[16], composite[16];
    std::mt19937 rng(19);
    RandomAffine(rng, parent);
    RandomAffine(rng, inverse);
    OrvaneGetTrackSamplerUUU()(&ctx, &track, nullptr, nullptr, inverse, parent, world, composite);
    ExpectMatricesNear(world, parent, 1e-6f);
    orvane_transform initial;
    OrvaneGetTrackInitialTransform(&track, &initial);
    EXPECT_EQ(initial.Flags, 0u);

    // A knot count whose product with the dimension does not fit an int32 (nine values per
    // knot here): refused without the product being formed in 32 bits.
    bad[2].data.CurveDataHeader.Format = OrvaneCurveFormatDaK32fC32f;
    for (int32_t knots : {0x0E38E38F, 0x7FFFFFFF}) {
        bad[2].data.KnotCount = knots;
        bad[2].data.ControlCount = int32_t(uint32_t(knots) * 9u);
        local = {};
        OrvaneSampleTrackUUULocal(&ctx, &track, nullptr, &local);
        EXPECT_EQ(local.ScaleShear[0][0], 1.0f);
        EXPECT_EQ(local.ScaleShear[0][1], 0.0f);
        EXPECT_EQ(local.Flags, 0u);
    }
}

TEST(TrackSampleLocal, DamagedQuantisedCurvesAreSampledAsIdentity) {
    uint16_t words[16] = {0, 100, 200, 300, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    // Counts that do not split into knots and controls, a missing array, an unknown degree.
    const int32_t counts[4] = {7, 8, 8, 0};
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(k);
        orvane_curve_data_d3_k16u_c16u p{};
        p.CurveDataHeader.Format = OrvaneCurveFormatD3K16uC16u;
        p.CurveDataHeader.Degree = k == 2 ? 9 : 1;
        p.OneOverKnotScaleTrunc = 0x4280;  // 64
        p.KnotControlCount = counts[k];
        p.KnotsControls = k == 1 ? nullptr : words;
        orvane_curve_data_d4n_k16u_c15u q{};
        q.CurveDataHeader.Format = OrvaneCurveFormatD4nK16uC15u;
        q.CurveDataHeader.Degree = p.CurveDataHeader.Degree;
        q.OneOverKnotScale = 64.0f;
        q.KnotControlCount = counts[k];
        q.KnotsControls = p.KnotsControls;
        orvane_transform_track track{};
        track.Name = const_cast<char*>("bad");
        track.PositionCurve.CurveData = {OrvaneCurveDataD3K16uC16uType, &p};
        track.OrientationCurve.CurveData = {OrvaneCurveDataD4nK16uC15uType, &q};
        LogCapture log;
        orvane_track_sample_cache cache{};
        for (float t : {0.0f, 0.02f, 0.04f}) {
            const auto ctx = Context(t, 1.0f, false, false);
            orvane_transform plain{}, cached{};
            OrvaneSampleTrackUUULocal(&ctx, &track, nullptr, &plain);
            OrvaneSampleTrackUUULocalCached(&ctx, &track, &cache, &cached);
            EXPECT_EQ(0, std::memcmp(&plain, &cached, sizeof plain));
            EXPECT_EQ(plain.Flags, 0u);
            EXPECT_EQ(plain.Position[0], 0.0f);
            EXPECT_EQ(plain.Orientation[3], 1.0f);
        }
        EXPECT_EQ(log.errors(), 0u);
    }
}

TEST(TrackSamplers, TwoCharactersOnTwoThreads) {
    std::mt19937 rng(20);
    std::vector<TrackSource> a, b;
    for (int i = 0; i < 8; ++i) {
        a.push_back(RandomTrack(rng, kU, kU, i % 3, 1 + i % 3, 1.0f));
        a.back().name = "a" + std::to_string(i);
        b.push_back(RandomTrack(rng, kU, kU, kS, 3 - i % 3, 2.0f));
        b.back().name = "b" + std::to_string(i);
    }
    GroupPtr ga = BuildGroup("a", a), gb = BuildGroup("b", b);
    auto run = [](const orvane_track_group* g, float duration, std::vector<float>* out) {
        for (int frame = 0; frame < 300; ++frame) {
            const auto ctx =
                Context(std::fmod(float(frame) / 60.0f, duration), duration, true, true);
            float parent[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
            for (int i = 0; i < g->TransformTrackCount; ++i) {
                float world[16], composite[16];
                const orvane_transform_track* t = &g->TransformTracks[i];
                OrvaneGetTrackSamplerFor(t)(&ctx, t, nullptr, nullptr, parent, parent, world,
                                            composite);
                out->insert(out->end(), world, world + 16);
                std::memcpy(parent, world, sizeof parent);
            }
        }
    };
    std::vector<float> expectedA, expectedB, gotA, gotB;
    run(ga.get(), 1.0f, &expectedA);
    run(gb.get(), 2.0f, &expectedB);
    std::thread ta(run, ga.get(), 1.0f, &gotA);
    std::thread tb(run, gb.get(), 2.0f, &gotB);
    ta.join();
    tb.join();
    EXPECT_EQ(expectedA, gotA);
    EXPECT_EQ(expectedB, gotB);
}

// ------------------------------------------------------------------------------------------
// The samplers against a reference of their own in double precision: de Boor's algorithm on
// the source keys, the local transform as R(q) S v + p, and the column-vector products
// World = Parent L and Composite = World InverseWorld (the array form's M(L) Parent and
// InverseWorld World). Parents and inverse world matrices carry scale and shear as well.

using Matrix4d = Eigen::Matrix4d;
using Matrix3d = Eigen::Matrix3d;

// A random affine matrix in the library's array layout (each four values a column of the
// column-vector matrix, translation in 12 to 14).
void RandomGeneralAffine(std::mt19937& rng, float m[16]) {
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int column = 0; column < 3; ++column)
        for (int row = 0; row < 3; ++row)
            m[4 * column + row] = (row == column ? 1.5f : 0.0f) + 0.5f * u(rng);
    m[3] = m[7] = m[11] = 0.0f;
    for (int row = 0; row < 3; ++row)
        m[12 + row] = 4.0f * u(rng);
    m[15] = 1.0f;
}

Matrix4d FromArray(const float m[16]) {
    Matrix4d r;
    for (int column = 0; column < 4; ++column)
        for (int row = 0; row < 4; ++row)
            r(row, column) = double(m[4 * column + row]);
    return r;
}

// The B-spline of a source curve at t, for a time whose window lies inside the curve
// (the formulas of the evaluation by degree, in double).
std::vector<double> DeBoor(const CurveSource& c, int dimension, double t) {
    const int n = int(c.knots.size());
    int i = 0;
    while (i < n && !(double(c.knots[size_t(i)]) > t))
        ++i;
    if (i == n) i = n - 1;
    const int d = c.degree;
    EXPECT_GE(i - d, 0);
    EXPECT_LE(i + d - 1, n - 1);
    auto k = [&](int j) { return double(c.knots[size_t(i + j)]); };
    std::vector<double> w(size_t(d) + 1);  // weights of P[-d] .. P[0]
    if (d == 0) {
        w[0] = 1.0;
    } else if (d == 1) {
        const double u = (t - k(-1)) / (k(0) - k(-1));
        w = {1.0 - u, u};
    } else if (d == 2) {
        const double a1 = (t - k(-2)) / (k(0) - k(-2));
        const double a2 = (t - k(-1)) / (k(1) - k(-1));
        const double b = (t - k(-1)) / (k(0) - k(-1));
        w = {(1.0 - a1) * (1.0 - b), a1 * (1.0 - b) + b * (1.0 - a2), b * a2};
    } else {
        const double a1 = (t - k(-3)) / (k(0) - k(-3));
        const double a2 = (t - k(-2)) / (k(1) - k(-2));
        const double a3 = (t - k(-1)) / (k(2) - k(-1));
        const double b1 = (t - k(-2)) / (k(0) - k(-2));
        const double b2 = (t - k(-1)) / (k(1) - k(-1));
        const double cc = (t - k(-1)) / (k(0) - k(-1));
        const double h = (1.0 - cc) * (1.0 - b1);
        const double e = (1.0 - cc) * b1 + cc * (1.0 - b2);
        const double l = cc * b2;
        w = {h * (1.0 - a1), h * a1 + e * (1.0 - a2), e * a2 + l * (1.0 - a3), l * a3};
    }
    std::vector<double> v(size_t(dimension), 0.0);
    for (int j = 0; j <= d; ++j)
        for (int c2 = 0; c2 < dimension; ++c2)
            v[size_t(c2)] +=
                w[size_t(j)] * double(c.controls[size_t((i - d + j) * dimension + c2)]);
    return v;
}

// A curve's value as the samplers document it: the identity value for an identity curve, the
// stored value for a constant, the frame for a keyframed curve (clamped), else the spline, an
// orientation at unit length.
std::vector<double> ReferenceValue(const CurveSource& c, int component, double t, int frame) {
    const int dimension = kDims[component];
    std::vector<double> v(static_cast<size_t>(dimension));
    if (c.kind == kI) {
        for (int j = 0; j < dimension; ++j)
            v[size_t(j)] = double(kIdentities[component][j]);
        return v;
    }
    if (c.type == OrvaneCurveDataDaKeyframes32fType) {
        const int frames = int(c.controls.size()) / dimension;
        const int f = std::clamp(frame, 0, frames - 1);
        for (int j = 0; j < dimension; ++j)
            v[size_t(j)] = double(c.controls[size_t(f * dimension + j)]);
        return v;
    }
    if (c.kind == kS) {
        for (int j = 0; j < dimension; ++j)
            v[size_t(j)] = double(c.controls[size_t(j)]);
        return v;
    }
    v = DeBoor(c, dimension, t);
    if (component == 1 && c.degree > 0) {
        double length = 0.0;
        for (double x : v)
            length += x * x;
        length = std::sqrt(length);
        for (double& x : v)
            x /= length;
    }
    return v;
}

// The local matrix of a position, an orientation (x, y, z, w) and a row-major scale/shear.
Matrix4d LocalMatrix(const std::vector<double>& p, const std::vector<double>& q,
                     const std::vector<double>& s) {
    const Eigen::Quaterniond rotation(q[3], q[0], q[1], q[2]);
    Matrix3d scaleShear;
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column)
            scaleShear(row, column) = s[size_t(3 * row + column)];
    Matrix4d m = Matrix4d::Identity();
    m.topLeftCorner<3, 3>() = rotation.toRotationMatrix() * scaleShear;
    m(0, 3) = p[0];
    m(1, 3) = p[1];
    m(2, 3) = p[2];
    return m;
}

void ExpectMatrixMatches(const float* got, const Matrix4d& expected, double tolerance,
                         const char* what) {
    for (int column = 0; column < 4; ++column)
        for (int row = 0; row < 4; ++row)
            EXPECT_NEAR(double(got[4 * column + row]), expected(row, column),
                        tolerance * std::max(1.0, std::fabs(expected(row, column))))
                << what << " row " << row << " column " << column;
}

// Runs a sampler and compares its two matrices with the reference for the local matrix.
void ExpectSamplerMatches(orvane_track_sampler sampler, const orvane_track_sample_context& ctx,
                          const orvane_transform_track* track, const orvane_transform* constant,
                          const float* parent, const float* inverse, const Matrix4d& local,
                          double tolerance) {
    float world[16], composite[16];
    sampler(&ctx, track, nullptr, constant, inverse, parent, world, composite);
    const Matrix4d expectedWorld = FromArray(parent) * local;
    const Matrix4d expectedComposite = expectedWorld * FromArray(inverse);
    ExpectMatrixMatches(world, expectedWorld, tolerance, "world");
    ExpectMatrixMatches(composite, expectedComposite, tolerance, "composite");
}

TEST(TrackSamplersReference, EveryKindCombinationAndDegreeComposesWithTheParent) {
    std::mt19937 rng(31);
    std::uniform_real_distribution<float> time(0.25f, 0.7f);  // windows inside the 12 knots
    for (int index = 0; index < 27; ++index) {
        for (int degree = 0; degree <= 3; ++degree) {
            SCOPED_TRACE(testing::Message() << "kinds " << index << " degree " << degree);
            const TrackSource source =
                RandomTrack(rng, index / 9, (index / 3) % 3, index % 3, degree, 1.0f);
            GroupPtr g = BuildGroup("g", {source});
            const orvane_transform_track* track = &g->TransformTracks[0];
            const orvane_track_sampler sampler = OrvaneGetTrackSamplerFor(track);
            for (int round = 0; round < 4; ++round) {
                float parent[16], inverse[16];
                RandomGeneralAffine(rng, parent);
                RandomGeneralAffine(rng, inverse);
                const float t = time(rng);
                const auto ctx = Context(t, 1.0f, round & 1, round & 2);
                const Matrix4d local = LocalMatrix(ReferenceValue(source.curves[0], 0, t, 0),
                                                   ReferenceValue(source.curves[1], 1, t, 0),
                                                   ReferenceValue(source.curves[2], 2, t, 0));
                ExpectSamplerMatches(sampler, ctx, track, nullptr, parent, inverse, local, 2e-5);
                ExpectSamplerMatches(OrvaneGetTrackSamplerUUU(), ctx, track, nullptr, parent,
                                     inverse, local, 2e-5);
            }
        }
    }
}

// Constants in each of their formats (one float knot, and the 3-, 4- and any-dimension
// constant records) are used as stored, by the specialised samplers and the general one.
TEST(TrackSamplersReference, ConstantFormatsAreUsedAsStored) {
    std::mt19937 rng(32);
    const float position[3] = {0.5f, -1.25f, 2.0f};
    const float turn[4] = {0.0f, 0.6f, 0.0f, 0.8f};
    const float scaleShear[9] = {1.5f, 0.25f, 0.0f, 0.0f, 0.75f, 0.1f, 0.0f, 0.0f, 2.0f};
    auto constant = [](orvane_data_type_definition* type, const float* values, int n) {
        CurveSource c;
        c.kind = kS;
        c.degree = 0;
        c.knots = {0.0f};
        c.controls.assign(values, values + n);
        c.type = type;
        return c;
    };
    orvane_data_type_definition* const positionTypes[3] = {OrvaneCurveDataDaK32fC32fType,
                                                           OrvaneCurveDataD3Constant32fType,
                                                           OrvaneCurveDataDaConstant32fType};
    orvane_data_type_definition* const orientationTypes[3] = {OrvaneCurveDataDaK32fC32fType,
                                                              OrvaneCurveDataD4Constant32fType,
                                                              OrvaneCurveDataDaConstant32fType};
    for (int f = 0; f < 3; ++f) {
        for (int withScaleShear = 0; withScaleShear < 2; ++withScaleShear) {
            SCOPED_TRACE(testing::Message() << "format " << f << " scale/shear " << withScaleShear);
            TrackSource source;
            source.name = "t";
            source.curves[0] = constant(positionTypes[f], position, 3);
            source.curves[1] = constant(orientationTypes[f], turn, 4);
            if (withScaleShear)
                source.curves[2] = constant(
                    f == 0 ? OrvaneCurveDataDaK32fC32fType : OrvaneCurveDataDaConstant32fType,
                    scaleShear, 9);
            else
                source.curves[2].kind = kI;
            GroupPtr g = BuildGroup("g", {source});
            const orvane_transform_track* track = &g->TransformTracks[0];
            const Matrix4d local = LocalMatrix(ReferenceValue(source.curves[0], 0, 0.0, 0),
                                               ReferenceValue(source.curves[1], 1, 0.0, 0),
                                               ReferenceValue(source.curves[2], 2, 0.0, 0));
            float parent[16], inverse[16];
            RandomGeneralAffine(rng, parent);
            RandomGeneralAffine(rng, inverse);
            const auto ctx = Context(0.3f, 1.0f);
            ExpectSamplerMatches(OrvaneGetTrackSamplerFor(track), ctx, track, nullptr, parent,
                                 inverse, local, 2e-6);
            ExpectSamplerMatches(OrvaneGetTrackSamplerUUU(), ctx, track, nullptr, parent, inverse,
                                 local, 2e-6);
        }
    }
}

// A keyframed track takes the general sampler, which yields the context's frame (clamped to
// the frames there are); the other curves are sampled at the context's time.
TEST(TrackSamplersReference, KeyframedTracksFollowTheFrame) {
    std::mt19937 rng(33);
    TrackSource source = RandomTrack(rng, kU, kU, kI, 2, 1.0f);
    source.curves[1].type = OrvaneCurveDataDaKeyframes32fType;
    source.curves[1].degree = 0;
    source.curves[1].knots.clear();
    source.curves[1].controls.resize(4 * 3);  // three frames of the random walk
    orvane_track_group_builder* b = OrvaneBeginTrackGroup("g", 0, 0, 0, false);
    OrvaneBeginTransformTrack(b, "k");
    SetCurve(b, 0, source.curves[0]);
    OrvaneSetTransformTrackOrientation(b, 0, 0, 3, nullptr, source.curves[1].controls.data(),
                                       OrvaneCurveDataDaKeyframes32fType);
    OrvaneEndTransformTrack(b);
    GroupPtr g(OrvaneEndTrackGroup(b));
    const orvane_transform_track* track = &g->TransformTracks[0];
    const orvane_track_sampler sampler = OrvaneGetTrackSamplerFor(track);
    EXPECT_EQ(sampler, OrvaneGetTrackSamplerUUU());
    for (int frame : {-2, 0, 1, 2, 9}) {
        SCOPED_TRACE(frame);
        float parent[16], inverse[16];
        RandomGeneralAffine(rng, parent);
        RandomGeneralAffine(rng, inverse);
        const float t = 0.45f;
        const auto ctx = Context(t, 1.0f, false, false, frame);
        CurveSource identity;
        identity.kind = kI;
        const Matrix4d local = LocalMatrix(ReferenceValue(source.curves[0], 0, t, frame),
                                           ReferenceValue(source.curves[1], 1, t, frame),
                                           ReferenceValue(identity, 2, t, frame));
        ExpectSamplerMatches(sampler, ctx, track, nullptr, parent, inverse, local, 2e-5);
    }
}

// The fixed samplers: III passes the parent through; SSS composes the constant transform
// whatever the track holds; IIU takes the scale/shear curve alone (its frame when keyframed)
// and passes the parent through when that curve is the identity.
TEST(TrackSamplersReference, FixedSamplers) {
    std::mt19937 rng(34);
    const TrackSource animated = RandomTrack(rng, kU, kU, kU, 3, 1.0f);
    GroupPtr g = BuildGroup("g", {animated});
    const orvane_transform_track* track = &g->TransformTracks[0];
    float parent[16], inverse[16];
    RandomGeneralAffine(rng, parent);
    RandomGeneralAffine(rng, inverse);
    const float t = 0.55f;
    const auto ctx = Context(t, 1.0f);
    const std::vector<double> noPosition = {0, 0, 0}, noOrientation = {0, 0, 0, 1},
                              noScaleShear = {1, 0, 0, 0, 1, 0, 0, 0, 1};

    ExpectSamplerMatches(OrvaneGetTrackSamplerIII(), ctx, track, nullptr, parent, inverse,
                         Matrix4d::Identity(), 1e-6);

    orvane_transform constant;
    constant.Flags =
        OrvaneTransformHasPosition | OrvaneTransformHasOrientation | OrvaneTransformHasScaleShear;
    const float p[3] = {1.0f, -2.0f, 0.5f};
    const float q[4] = {0.48f, 0.0f, -0.6f, 0.64f};
    const float s[9] = {1.2f, 0.3f, 0.0f, -0.1f, 0.9f, 0.0f, 0.2f, 0.0f, 1.1f};
    std::memcpy(constant.Position, p, sizeof p);
    std::memcpy(constant.Orientation, q, sizeof q);
    std::memcpy(constant.ScaleShear, s, sizeof s);
    ExpectSamplerMatches(
        OrvaneGetTrackSamplerSSS(), ctx, track, &constant, parent, inverse,
        LocalMatrix({p[0], p[1], p[2]}, {q[0], q[1], q[2], q[3]}, std::vector<double>(s, s + 9)),
        2e-6);

    ExpectSamplerMatches(
        OrvaneGetTrackSamplerIIU(), ctx, track, nullptr, parent, inverse,
        LocalMatrix(noPosition, noOrientation, ReferenceValue(animated.curves[2], 2, t, 0)), 2e-5);

    // IIU on a track whose scale/shear is the identity, a constant and keyframed.
    TrackSource other = RandomTrack(rng, kU, kU, kI, 1, 1.0f);
    GroupPtr identity = BuildGroup("g", {other});
    ExpectSamplerMatches(OrvaneGetTrackSamplerIIU(), ctx, &identity->TransformTracks[0], nullptr,
                         parent, inverse, Matrix4d::Identity(), 1e-6);
    other.curves[2] = RandomCurve(rng, kS, 9, 0, 1, 1.0f);
    GroupPtr constantScale = BuildGroup("g", {other});
    ExpectSamplerMatches(
        OrvaneGetTrackSamplerIIU(), ctx, &constantScale->TransformTracks[0], nullptr, parent,
        inverse, LocalMatrix(noPosition, noOrientation, ReferenceValue(other.curves[2], 2, t, 0)),
        2e-6);
    const float frames[18] = {2, 0, 0, 0, 2, 0, 0, 0, 2, 1, 0.5f, 0, 0, 1, 0, 0, 0, 3};
    orvane_track_group_builder* b = OrvaneBeginTrackGroup("g", 0, 0, 0, false);
    OrvaneBeginTransformTrack(b, "k");
    OrvaneSetTransformTrackScaleShear(b, 0, 0, 2, nullptr, frames,
                                      OrvaneCurveDataDaKeyframes32fType);
    OrvaneEndTransformTrack(b);
    GroupPtr keyframed(OrvaneEndTrackGroup(b));
    for (int frame : {0, 1, 5}) {
        SCOPED_TRACE(frame);
        const auto frameCtx = Context(t, 1.0f, false, false, frame);
        const float* m = frames + 9 * std::min(frame, 1);
        ExpectSamplerMatches(
            OrvaneGetTrackSamplerIIU(), frameCtx, &keyframed->TransformTracks[0], nullptr, parent,
            inverse, LocalMatrix(noPosition, noOrientation, std::vector<double>(m, m + 9)), 2e-6);
    }
}

// An orientation blend without length (opposite keys half way) is the identity rotation, in the
// local sample, the position-and-orientation sample and the specialised sampler alike.
TEST(TrackSamplersReference, OrientationBlendWithoutLengthIsTheIdentity) {
    TrackSource source;
    source.name = "t";
    const float position[3] = {1.0f, 2.0f, 3.0f};
    source.curves[0].kind = kS;
    source.curves[0].degree = 0;
    source.curves[0].knots = {0.0f};
    source.curves[0].controls.assign(position, position + 3);
    source.curves[1].kind = kU;
    source.curves[1].degree = 1;
    source.curves[1].knots = {0.0f, 1.0f};
    source.curves[1].controls = {0.0f, 0.6f, 0.0f, 0.8f, 0.0f, -0.6f, 0.0f, -0.8f};
    source.curves[2].kind = kI;
    GroupPtr g = BuildGroup("g", {source});
    const orvane_transform_track* track = &g->TransformTracks[0];
    const auto ctx = Context(0.5f, 1.0f);
    orvane_transform local{};
    OrvaneSampleTrackUUULocal(&ctx, track, nullptr, &local);
    EXPECT_EQ(local.Flags, uint32_t(OrvaneTransformHasPosition | OrvaneTransformHasOrientation));
    const float identity[4] = {0.0f, 0.0f, 0.0f, 1.0f};
    for (int j = 0; j < 4; ++j)
        EXPECT_EQ(local.Orientation[j], identity[j]) << j;
    float p[3], q[4];
    OrvaneSampleTrackPOLocal(&ctx, track, nullptr, p, q);
    for (int j = 0; j < 4; ++j)
        EXPECT_EQ(q[j], identity[j]) << j;
    std::mt19937 rng(35);
    float parent[16], inverse[16];
    RandomGeneralAffine(rng, parent);
    RandomGeneralAffine(rng, inverse);
    const Matrix4d local4 = LocalMatrix({1.0, 2.0, 3.0}, {0.0, 0.0, 0.0, 1.0},
                                        {1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0});
    ExpectSamplerMatches(OrvaneGetTrackSamplerFor(track), ctx, track, nullptr, parent, inverse,
                         local4, 2e-6);
    ExpectSamplerMatches(OrvaneGetTrackSamplerUUU(), ctx, track, nullptr, parent, inverse, local4,
                         2e-6);
}

}  // namespace

// The walk of the shared character workload built into track groups: sampled at its key times
// the float curves give back the keys, the quantised ones stay within their quantisation, and
// the samplers' world matrices match the local transforms composed by hand.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "track/track_test_support.h"
#include "orvane_pab_workload.h"
#include "orvane/track_group.h"

using namespace orvane_track_test;

namespace {

using orvane_workload::Workload;

struct Curves {
    std::vector<float> knots[3], controls[3];
};

GroupPtr BuildWalk(const Workload& w, orvane_data_type_definition* const types[3],
                   std::vector<Curves>* keep) {
    const orvane_workload::Clip& clip = w.clips[0];
    keep->assign(w.joints.size(), Curves{});
    orvane_track_group_builder* b = OrvaneBeginTrackGroup("walk", 0, 0, 0, false);
    for (size_t j = 0; j < w.joints.size(); ++j) {
        Curves& c = (*keep)[j];
        const auto& t = clip.tracks[j];
        for (const auto& k : t.translations) {
            c.knots[0].push_back(k.time);
            c.controls[0].insert(c.controls[0].end(), k.value, k.value + 3);
        }
        for (const auto& k : t.rotations) {
            c.knots[1].push_back(k.time);
            c.controls[1].insert(c.controls[1].end(), k.value, k.value + 4);
        }
        OrvaneEnsureQuaternionContinuity(int32_t(c.knots[1].size()), c.controls[1].data());
        for (const auto& k : t.scales) {
            c.knots[2].push_back(k.time);
            const float m[9] = {k.value[0], 0, 0, 0, k.value[1], 0, 0, 0, k.value[2]};
            c.controls[2].insert(c.controls[2].end(), m, m + 9);
        }
        OrvaneBeginTransformTrack(b, w.joints[j].name.c_str());
        OrvaneSetTransformTrackPosition(b, 1, 0, int32_t(c.knots[0].size()), c.knots[0].data(),
                                        c.controls[0].data(), types[0]);
        OrvaneSetTransformTrackOrientation(b, 1, 0, int32_t(c.knots[1].size()), c.knots[1].data(),
                                           c.controls[1].data(), types[1]);
        OrvaneSetTransformTrackScaleShear(b, 1, 0, int32_t(c.knots[2].size()), c.knots[2].data(),
                                          c.controls[2].data(), types[2]);
        OrvaneEndTransformTrack(b);
    }
    return GroupPtr(OrvaneEndTrackGroup(b));
}

const Workload* LoadOrSkip() {
    std::string error;
    const Workload* w = orvane_workload::SharedPabWorkload(&error);
    return w && !w->clips.empty() ? w : nullptr;
}

TEST(TrackWorkload, FloatCurvesGiveBackTheKeys) {
    const Workload* w = LoadOrSkip();
    if (!w) GTEST_SKIP() << "character workload not available";
    orvane_data_type_definition* const types[3] = {OrvaneCurveDataDaK32fC32fType,
                                                   OrvaneCurveDataDaK32fC32fType,
                                                   OrvaneCurveDataDaK32fC32fType};
    std::vector<Curves> keep;
    GroupPtr g = BuildWalk(*w, types, &keep);
    ASSERT_EQ(g->TransformTrackCount, int32_t(w->joints.size()));
    const float duration = w->clips[0].duration;
    for (size_t j = 0; j < w->joints.size(); ++j) {
        int32_t index;
        ASSERT_TRUE(OrvaneFindTrackByName(g.get(), w->joints[j].name.c_str(), &index));
        const Curves& c = keep[j];
        for (size_t k = 1; k + 1 < c.knots[0].size(); ++k) {
            const auto ctx = Context(c.knots[0][k], duration);
            orvane_transform local{};
            OrvaneSampleTrackUUULocal(&ctx, &g->TransformTracks[index], nullptr, &local);
            for (int i = 0; i < 3; ++i)
                ASSERT_NEAR(local.Position[i], c.controls[0][3 * k + size_t(i)], 1e-6f);
            for (int i = 0; i < 4; ++i)
                ASSERT_NEAR(local.Orientation[i], c.controls[1][4 * k + size_t(i)], 1e-5f);
            ASSERT_NEAR(local.ScaleShear[1][1], c.controls[2][9 * k + 4], 1e-6f);
        }
    }
}

TEST(TrackWorkload, QuantisedCurvesStayNearTheFloatOnes) {
    const Workload* w = LoadOrSkip();
    if (!w) GTEST_SKIP() << "character workload not available";
    orvane_data_type_definition* const floats[3] = {OrvaneCurveDataDaK32fC32fType,
                                                    OrvaneCurveDataDaK32fC32fType,
                                                    OrvaneCurveDataDaK32fC32fType};
    orvane_data_type_definition* const quantised[3] = {OrvaneCurveDataD3K16uC16uType,
                                                       OrvaneCurveDataD4nK16uC15uType,
                                                       OrvaneCurveDataD9I3K16uC16uType};
    std::vector<Curves> keepF, keepQ;
    GroupPtr gf = BuildWalk(*w, floats, &keepF);
    GroupPtr gq = BuildWalk(*w, quantised, &keepQ);
    const float duration = w->clips[0].duration;
    float worst = 0.0f;
    for (int frame = 0; frame < 80; ++frame) {
        const auto ctx = Context(duration * float(frame) / 80.0f, duration, true, true);
        for (int32_t i = 0; i < gf->TransformTrackCount; ++i) {
            orvane_transform a{}, b{};
            OrvaneSampleTrackUUULocal(&ctx, &gf->TransformTracks[i], nullptr, &a);
            OrvaneSampleTrackUUULocal(&ctx, &gq->TransformTracks[i], nullptr, &b);
            const float sign = a.Orientation[3] * b.Orientation[3] +
                                           a.Orientation[0] * b.Orientation[0] +
                                           a.Orientation[1] * b.Orientation[1] +
                                           a.Orientation[2] * b.Orientation[2] <
                                       0
                                   ? -1.0f
                                   : 1.0f;
            for (int c = 0; c < 4; ++c)
                worst = std::max(worst, std::fabs(a.Orientation[c] - sign * b.Orientation[c]));
            for (int c = 0; c < 3; ++c)
                worst = std::max(worst, std::fabs(a.Position[c] - b.Position[c]));
        }
    }
    // 16-bit values and knot times: errors of a few 1e-4 over these motions.
    EXPECT_LT(worst, 2e-3f);
}

TEST(TrackWorkload, SamplersWriteTheComposedWorldMatrices) {
    const Workload* w = LoadOrSkip();
    if (!w) GTEST_SKIP() << "character workload not available";
    orvane_data_type_definition* const quantised[3] = {OrvaneCurveDataD3K16uC16uType,
                                                       OrvaneCurveDataD4nK16uC15uType,
                                                       OrvaneCurveDataD9I3K16uC16uType};
    std::vector<Curves> keep;
    GroupPtr g = BuildWalk(*w, quantised, &keep);
    const size_t n = w->joints.size();
    std::vector<float> worlds(n * 16), expected(n * 16);
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    const auto ctx = Context(0.61f, w->clips[0].duration, true, true);
    for (size_t j = 0; j < n; ++j) {
        int32_t index;
        ASSERT_TRUE(OrvaneFindTrackByName(g.get(), w->joints[j].name.c_str(), &index));
        const orvane_transform_track* t = &g->TransformTracks[index];
        const int32_t p = w->joints[j].parent;
        float composite[16];
        OrvaneGetTrackSamplerFor(t)(&ctx, t, nullptr, nullptr, identity,
                                    p < 0 ? identity : &worlds[size_t(p) * 16], &worlds[j * 16],
                                    composite);
        orvane_transform local{};
        OrvaneSampleTrackUUULocal(&ctx, t, nullptr, &local);
        float m[16];
        OrvaneBuildCompositeTransform4x4(&local, m);
        OrvaneColumnMatrixMultiply4x4(&expected[j * 16], m,
                                      p < 0 ? identity : &expected[size_t(p) * 16]);
    }
    for (size_t i = 0; i < n * 16; ++i)
        ASSERT_NEAR(worlds[i], expected[i], 1e-4f) << "joint " << i / 16;
}

}  // namespace

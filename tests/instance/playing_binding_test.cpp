// Playing controlled animations whose animation binding changes under them: remapped to another
// copy of the animation, or given new LOD errors; and the rotation of variable-delta root motion
// across a loop of more than half a turn.
#include <algorithm>
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "instance/instance_test_support.h"
#include "orvane/controlled_animation.h"
#include "orvane/instance.h"

namespace {

using namespace orvane_instance_test;

TEST(PlayingRootMotion, VariableDeltaRotationAcrossTheLoopOfAThreeQuarterTurn) {
    // The root turns steadily by 270 degrees about z over a 3 second clip (keys every 90
    // degrees, each quaternion continuing the last). Stepping 0.1 s across the loop boundary
    // turns it by a few degrees, not by a few degrees and a whole turn.
    Character c(3, 99);
    orvane_track_group_builder* g = OrvaneBeginTrackGroup("Hero", 0, 1, 0, false);
    OrvaneBeginTransformTrack(g, "bone0");
    const float knots[4] = {0.0f, 1.0f, 2.0f, 3.0f};
    float keys[16];
    for (int k = 0; k < 4; ++k) {
        const double half = 0.25 * M_PI * double(k);
        const float q[4] = {0.0f, 0.0f, float(std::sin(half)), float(std::cos(half))};
        std::copy(q, q + 4, keys + 4 * k);
    }
    OrvaneSetTransformTrackOrientation(g, 1, 0, 4, knots, keys, OrvaneCurveDataDaK32fC32fType);
    OrvaneEndTransformTrack(g);
    orvane_track_group* group = OrvaneEndTrackGroup(g);
    orvane_track_group* groups[1] = {group};
    orvane_animation animation = c.animation;
    animation.TrackGroups = groups;
    animation.Duration = 3.0f;
    animation.TimeStep = 1.0f;

    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_controlled_animation_builder* b = OrvaneBeginControlledAnimation(0.0f, &animation);
    OrvaneSetTrackGroupTarget(b, 0, instance);
    OrvaneSetTrackGroupAccumulation(b, 0, OrvaneAccumulationVariableDelta);
    orvane_control* control = OrvaneEndControlledAnimation(b);
    ASSERT_NE(control, nullptr);
    OrvaneSetControlLoopCount(control, 0);

    // The angle of the degree-1 curve at local time t in [0, 3): the keys blended linearly,
    // then read as an angle (the blend's length does not change it).
    auto angleAt = [&](double t) {
        const int k = std::min(int(t), 2);
        const double u = t - k;
        const double z = (1 - u) * keys[4 * k + 2] + u * keys[4 * (k + 1) + 2];
        const double w = (1 - u) * keys[4 * k + 3] + u * keys[4 * (k + 1) + 3];
        return 2.0 * std::atan2(z, w);
    };
    // From local 2.95 of the first loop to 0.05 of the second: the turn left in the first loop
    // and the turn made in the second.
    const double expected = (1.5 * M_PI - angleAt(2.95)) + angleAt(0.05);
    ASSERT_LT(expected, 0.5);
    OrvaneSetModelClock(instance, 3.05f);
    float t[3], r[3];
    OrvaneGetRootMotionVectors(instance, 0.1f, t, r, false);
    EXPECT_NEAR(r[0], 0.0f, 1e-5f);
    EXPECT_NEAR(r[1], 0.0f, 1e-5f);
    EXPECT_NEAR(r[2], expected, 1e-3);
    // Played backwards over the same stretch, the turn is undone.
    OrvaneGetRootMotionVectors(instance, 0.1f, t, r, true);
    EXPECT_NEAR(r[2], -expected, 1e-3);
    // Within a loop, across the key of 180 degrees (where w changes sign).
    OrvaneSetModelClock(instance, 2.05f);
    OrvaneGetRootMotionVectors(instance, 0.1f, t, r, false);
    EXPECT_NEAR(r[2], angleAt(2.05) - angleAt(1.95), 1e-3);
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(control);
    OrvaneFreeBuilderResult(group);
}

}  // namespace

// Playing controlled animations whose animation binding changes under them: remapped to another
// copy of the animation, or given new LOD errors; and the rotation of variable-delta root motion
// across a loop of more than half a turn.
#include <algorithm>
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "instance/instance_test_support.h"
#include "support/log_capture.h"
#include "orvane/animation_binding.h"
#include "orvane/controlled_animation.h"
#include "orvane/instance.h"

namespace {

using namespace orvane_instance_test;

// The three sampling paths of a single playing control: the one-pass blend (no LOD), the
// accumulation (a positive allowed error) and the direct world-pose build.
void ExpectEveryPathPlays(orvane_model_instance* instance, const Character& c,
                          const orvane_track_group* group, float time) {
    const int n = c.BoneCount();
    std::vector<orvane_transform> expected;
    for (int i = 0; i < n; ++i)
        expected.push_back(ReferenceLocal(c.skeleton, group, i, time, 2.0f, false, false));
    PosePtr pose(OrvaneNewLocalPose(n));
    OrvaneSampleModelAnimations(instance, 0, n, pose.get());
    for (int i = 0; i < n; ++i) {
        SCOPED_TRACE(i);
        ExpectTransformNear(*OrvaneGetLocalPoseTransform(pose.get(), i), expected[size_t(i)],
                            1e-5f);
    }
    // An allowed error far below every track's (unbounded) error: every track is sampled.
    OrvaneSampleModelAnimationsLOD(instance, 0, n, pose.get(), 1e-6f);
    for (int i = 0; i < n; ++i) {
        SCOPED_TRACE(i);
        ExpectTransformNear(*OrvaneGetLocalPoseTransform(pose.get(), i), expected[size_t(i)],
                            1e-5f);
    }
    WorldPtr world(OrvaneNewWorldPose(n));
    PosePtr scratch(OrvaneNewLocalPose(n));
    OrvaneSampleModelAnimationsAccelerated(instance, n, nullptr, scratch.get(), world.get());
    const std::vector<double> reference = ReferenceWorld(c.skeleton, expected);
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < 16; ++k)
            EXPECT_NEAR(OrvaneGetWorldPose4x4(world.get(), i)[k], reference[size_t(i) * 16 + k],
                        1e-4)
                << "bone " << i << " element " << k;
}

TEST(PlayingBindingRemap, PlayingControlsSampleTheAnimationTheyWereRemappedTo) {
    // Two animations of the same tracks, the second with a root that strides four times as
    // far: after the remap the playing control shows the second, on every sampling path.
    Character c(6, 3, 2.0f, 1.5f);
    Character far(6, 3, 2.0f, 6.0f);
    orvane_animation first = c.animation, second = c.animation;
    second.TrackGroups = far.groups;
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_control* control = OrvanePlayControlledAnimation(0.0f, &first, instance);
    ASSERT_NE(control, nullptr);
    OrvaneSetModelClock(instance, 0.9f);
    ExpectEveryPathPlays(instance, c, c.group, 0.9f);

    OrvaneRemapAllAnimationBindingPointers(&first, &second);
    orvane_animation_binding* binding =
        OrvaneGetAnimationBindingFromControlBinding(OrvaneModelControlsBegin(instance));
    ASSERT_NE(binding, nullptr);
    EXPECT_EQ(OrvaneGetAnimationBindingID(binding)->Animation, &second);
    EXPECT_EQ(OrvaneGetAnimationBindingUseCount(binding), 1);
    // The first animation's curves may be gone by now: here they hold other values.
    for (int i = 0; i < c.group->TransformTrackCount; ++i)
        c.group->TransformTracks[i].PositionCurve = far.group->TransformTracks[5].PositionCurve;
    ExpectEveryPathPlays(instance, c, far.group, 0.9f);
    OrvaneSetModelClock(instance, 1.3f);
    ExpectEveryPathPlays(instance, c, far.group, 1.3f);
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(control);
}

orvane_allocate_callback gPreviousAllocate = nullptr;
void* RefusingAllocate(const char*, orvane_int32, orvane_uint32, orvane_int32) {
    return nullptr;
}

TEST(PlayingBindingRemap, WithoutMemoryForTheNewPlanTheControlPlaysNothingUntilRemappedAgain) {
    Character c(6, 3, 2.0f, 1.5f);
    Character far(6, 3, 2.0f, 6.0f);
    orvane_animation first = c.animation, second = c.animation;
    second.TrackGroups = far.groups;
    const int n = c.BoneCount();
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_controlled_animation_builder* b = OrvaneBeginControlledAnimation(0.0f, &first);
    OrvaneSetTrackGroupTarget(b, 0, instance);
    OrvaneSetTrackGroupAccumulation(b, 0, OrvaneAccumulationConstantLoop);
    orvane_control* control = OrvaneEndControlledAnimation(b);
    ASSERT_NE(control, nullptr);
    orvane_animation_binding* binding =
        OrvaneGetAnimationBindingFromControlBinding(OrvaneModelControlsBegin(instance));
    OrvaneSetModelClock(instance, 0.9f);

    orvane_deallocate_callback deallocate = nullptr;
    OrvaneGetAllocator(&gPreviousAllocate, &deallocate);
    orvane_test::LogCapture log;
    OrvaneSetAllocator(&RefusingAllocate, deallocate);
    OrvaneRemapAllAnimationBindingPointers(&first, &second);
    OrvaneSetAllocator(gPreviousAllocate, deallocate);
    EXPECT_TRUE(log.Contains("Out of memory for the sampling plan of a remapped animation"));
    EXPECT_EQ(OrvaneGetAnimationBindingID(binding)->Animation, &second);
    // Nothing is sampled: every bone rests.
    PosePtr pose(OrvaneNewLocalPose(n));
    OrvaneSampleModelAnimations(instance, 0, n, pose.get());
    for (int i = 0; i < n; ++i) {
        SCOPED_TRACE(i);
        ExpectTransformNear(*OrvaneGetLocalPoseTransform(pose.get(), i),
                            c.skeleton->Bones[i].Transform, 1e-6f);
    }
    WorldPtr world(OrvaneNewWorldPose(n));
    PosePtr scratch(OrvaneNewLocalPose(n));
    OrvaneSampleModelAnimationsAccelerated(instance, n, nullptr, scratch.get(), world.get());
    EXPECT_NEAR(OrvaneGetWorldPose4x4(world.get(), 0)[12],
                c.skeleton->Bones[0].Transform.Position[0], 1e-6f);
    // The node keeps its binding and its root motion (the new group's loop translation).
    far.group->LoopTranslation[0] = 2.0f;
    float t[3], r[3];
    OrvaneGetRootMotionVectors(instance, 0.5f, t, r, false);
    EXPECT_NEAR(t[0], 0.5f * 2.0f / 2.0f, 1e-6f);
    EXPECT_EQ(OrvaneGetAnimationBindingUseCount(binding), 1);

    // With memory again, the next remap plans it and it plays.
    OrvaneRemapAnimationBindingPointers(binding, &second);
    OrvaneSampleModelAnimations(instance, 0, n, pose.get());
    for (int i = 0; i < n; ++i) {
        SCOPED_TRACE(i);
        ExpectTransformNear(*OrvaneGetLocalPoseTransform(pose.get(), i),
                            ReferenceLocal(c.skeleton, far.group, i, 0.9f, 2.0f, false, false),
                            1e-5f);
    }
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(control);
}

TEST(PlayingBindingLOD, ErrorsSetWhilePlayingDecideEveryPass) {
    // With no allowed error, exactly the tracks of error 0 show their LOD transform (here the
    // first key, as the tracks start at their first knot), whenever the error was set.
    Character c;
    const int n = c.BoneCount();
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_control* control = OrvanePlayControlledAnimation(0.0f, &c.animation, instance);
    ASSERT_NE(control, nullptr);
    orvane_animation_binding* binding =
        OrvaneGetAnimationBindingFromControlBinding(OrvaneModelControlsBegin(instance));
    ASSERT_NE(binding, nullptr);
    OrvaneSetModelClock(instance, 0.9f);
    const orvane_transform sampled =
        ReferenceLocal(c.skeleton, c.group, 1, 0.9f, 2.0f, false, false);
    PosePtr pose(OrvaneNewLocalPose(n));
    auto bone1 = [&]() {
        OrvaneSampleModelAnimations(instance, 0, n, pose.get());
        return OrvaneGetLocalPoseTransform(pose.get(), 1)->Position[0];
    };
    EXPECT_NEAR(bone1(), sampled.Position[0], 1e-6f);
    ASSERT_GT(std::fabs(sampled.Position[0] - c.tracks[1].positions[0]), 1e-3f);

    OrvaneSetLODErrorValue(binding, 1, 0.0f);
    EXPECT_NEAR(bone1(), c.tracks[1].positions[0], 1e-6f);
    OrvaneSetLODErrorValue(binding, 1, 0.25f);
    EXPECT_NEAR(bone1(), sampled.Position[0], 1e-6f);
    OrvaneSetAllLODErrorValues(binding, 0.0f);
    EXPECT_NEAR(bone1(), c.tracks[1].positions[0], 1e-6f);
    OrvaneResetLODErrorValues(binding);
    EXPECT_NEAR(bone1(), sampled.Position[0], 1e-6f);
    // The direct build agrees.
    OrvaneSetLODErrorValue(binding, 1, 0.0f);
    WorldPtr world(OrvaneNewWorldPose(n));
    PosePtr scratch(OrvaneNewLocalPose(n));
    OrvaneSampleModelAnimationsAccelerated(instance, n, nullptr, scratch.get(), world.get());
    std::vector<orvane_transform> locals;
    for (int i = 0; i < n; ++i)
        locals.push_back(ReferenceLocal(c.skeleton, c.group, i, 0.9f, 2.0f, false, false));
    locals[1].Position[0] = c.tracks[1].positions[0];
    locals[1].Position[1] = c.tracks[1].positions[1];
    locals[1].Position[2] = c.tracks[1].positions[2];
    std::copy(c.tracks[1].orientations.begin(), c.tracks[1].orientations.begin() + 4,
              locals[1].Orientation);
    const std::vector<double> reference = ReferenceWorld(c.skeleton, locals);
    for (int k = 12; k < 15; ++k)
        EXPECT_NEAR(OrvaneGetWorldPose4x4(world.get(), 2)[k], reference[2 * 16 + size_t(k)], 1e-4);
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(control);
}

TEST(PlayingRootMotion, VariableDeltaRotationAcrossTheLoopOfAThreeQuarterTurn) {
    // Stepping 0.1 s across the loop boundary turns the root by a few degrees, not by a few
    // degrees and a whole turn.
    TurningRootClip clip;
    ASSERT_NE(clip.control, nullptr);
    orvane_model_instance* instance = clip.instance;
    const float* keys = clip.keys;

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
}

}  // namespace

// Model instances end to end: a character made with the builders is written to a content file,
// loaded, played with OrvanePlayControlledAnimation and sampled into local and world poses,
// against the same pose computed from the source tracks. Also the rings' ordering, the
// accelerated sampler's three cases, freeing completed controls, root motion in both
// accumulation modes across loop boundaries, controlled poses, masks, and refused bindings.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "instance/instance_test_support.h"
#include "orvane/file.h"
#include "orvane/animation_binding.h"
#include "orvane/controlled_animation.h"
#include "orvane/instance.h"
#include "orvane/skeleton.h"
#include "orvane/track_mask.h"
#include "support/log_capture.h"

namespace {

using namespace orvane_instance_test;

void ExpectWorldNear(const orvane_world_pose* pose, const std::vector<double>& reference, int n,
                     double tolerance) {
    for (int i = 0; i < n; ++i) {
        const float* m = OrvaneGetWorldPose4x4(pose, i);
        for (int k = 0; k < 16; ++k)
            EXPECT_NEAR(m[k], reference[size_t(i) * 16 + size_t(k)], tolerance)
                << "bone " << i << " element " << k;
    }
}

TEST(InstanceEndToEnd, LoadedCharacterPlaysLikeItsSourceTracks) {
    Character source;
    LoadedCharacter file(source);
    ASSERT_TRUE(file.ok);
    ASSERT_NE(file.loaded, nullptr);
    ASSERT_EQ(file.loaded->ModelCount, 1);
    ASSERT_EQ(file.loaded->AnimationCount, 1);
    const orvane_model* model = file.loaded->Models[0];
    const orvane_animation* animation = file.loaded->Animations[0];
    const int n = source.BoneCount();
    ASSERT_EQ(model->Skeleton->BoneCount, n);

    orvane_model_instance* instance = OrvaneInstantiateModel(model);
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(OrvaneGetSourceModel(instance), model);
    orvane_control* control = OrvanePlayControlledAnimation(1.0f, animation, instance);
    ASSERT_NE(control, nullptr);
    OrvaneSetControlLoopCount(control, 0);
    PosePtr pose(OrvaneNewLocalPose(n));
    PosePtr scratch(OrvaneNewLocalPose(n));
    WorldPtr world(OrvaneNewWorldPose(n));
    WorldPtr direct(OrvaneNewWorldPose(n));

    for (float clock : {1.0f, 1.37f, 1.5f, 2.2f, 2.99f, 3.0f, 4.25f, 7.9f}) {
        OrvaneSetModelClock(instance, clock);
        const float local = std::fmod(clock - 1.0f, 2.0f);
        EXPECT_NEAR(OrvaneGetControlClampedLocalClock(control), local, 1e-5f) << clock;
        OrvaneSampleModelAnimations(instance, 0, n, pose.get());
        OrvaneBuildWorldPose(model->Skeleton, 0, n, pose.get(), nullptr, world.get());
        OrvaneSampleModelAnimationsAccelerated(instance, n, nullptr, scratch.get(), direct.get());
        std::vector<orvane_transform> reference(static_cast<size_t>(n));
        for (int b = 0; b < n; ++b) {
            reference[size_t(b)] =
                ReferenceLocal(source.skeleton, source.group, b,
                               OrvaneGetControlClampedLocalClock(control), 2.0f, true, true);
            SCOPED_TRACE("clock " + std::to_string(clock) + " bone " + std::to_string(b));
            ExpectTransformNear(*OrvaneGetLocalPoseTransform(pose.get(), b), reference[size_t(b)],
                                2e-5f);
        }
        const std::vector<double> worlds = ReferenceWorld(source.skeleton, reference);
        ExpectWorldNear(world.get(), worlds, n, 1e-4);
        ExpectWorldNear(direct.get(), worlds, n, 1e-4);
    }
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(control);
}

TEST(InstanceEndToEnd, KnotTimesGiveTheSourceKeysOfLinearCurves) {
    Character c;
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_control* control = OrvanePlayControlledAnimation(0.0f, &c.animation, instance);
    ASSERT_NE(control, nullptr);
    const int n = c.BoneCount();
    PosePtr pose(OrvaneNewLocalPose(n));
    for (size_t k = 0; k < c.tracks[1].knots.size(); ++k) {
        OrvaneSetModelClock(instance, c.tracks[1].knots[k]);
        OrvaneSampleModelAnimations(instance, 0, n, pose.get());
        for (const TrackValues& t : c.tracks) {
            int32_t bone;
            ASSERT_TRUE(OrvaneFindBoneByName(c.skeleton, t.name.c_str(), &bone));
            const orvane_transform* got = OrvaneGetLocalPoseTransform(pose.get(), bone);
            for (int j = 0; j < 3; ++j)
                EXPECT_NEAR(got->Position[j], t.positions[k * 3 + size_t(j)], 1e-5f);
            if (t.orientations.empty()) continue;
            float dot = 0;
            for (int j = 0; j < 4; ++j)
                dot += got->Orientation[j] * t.orientations[k * 4 + size_t(j)];
            EXPECT_NEAR(std::fabs(dot), 1.0f, 1e-5f);
        }
        // The untracked bone shows its rest transform.
        ExpectTransformNear(*OrvaneGetLocalPoseTransform(pose.get(), 3),
                            c.skeleton->Bones[3].Transform, 1e-6f);
    }
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(control);
}

TEST(InstanceRings, PlayingBindingsComeFirstAndSamplingStopsAtTheRest) {
    Character c;
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_control* a = OrvanePlayControlledAnimation(0.0f, &c.animation, instance);
    orvane_control* b = OrvanePlayControlledAnimation(0.0f, &c.animation, instance);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    // Newest at the front; both share one animation binding.
    orvane_model_control_binding* first = OrvaneModelControlsBegin(instance);
    EXPECT_EQ(OrvaneGetControlFromBinding(first), b);
    EXPECT_EQ(OrvaneGetControlFromBinding(OrvaneModelControlsNext(first)), a);
    EXPECT_EQ(OrvaneModelControlsNext(OrvaneModelControlsNext(first)),
              OrvaneModelControlsEnd(instance));
    orvane_animation_binding* shared = OrvaneGetAnimationBindingFromControlBinding(first);
    EXPECT_EQ(shared, OrvaneGetAnimationBindingFromControlBinding(OrvaneModelControlsNext(first)));
    EXPECT_EQ(OrvaneGetAnimationBindingUseCount(shared), 2);
    EXPECT_EQ(OrvaneGetModelInstanceFromBinding(OrvaneControlModelsBegin(a)), instance);

    OrvaneSetControlWeight(b, 0.0f);
    EXPECT_EQ(OrvaneGetControlFromBinding(OrvaneModelControlsBegin(instance)), a);
    OrvaneSetControlWeight(b, 0.5f);
    EXPECT_EQ(OrvaneGetControlFromBinding(OrvaneModelControlsBegin(instance)), b);
    OrvaneSetControlActive(a, false);
    OrvaneSetControlActive(a, false);  // no change, no move
    EXPECT_EQ(OrvaneGetControlFromBinding(OrvaneModelControlsBegin(instance)), b);

    // With both parked every bone shows its rest transform.
    OrvaneSetControlActive(b, false);
    const int n = c.BoneCount();
    PosePtr pose(OrvaneNewLocalPose(n));
    OrvaneSetModelClock(instance, 0.7f);
    OrvaneSampleModelAnimations(instance, 0, n, pose.get());
    for (int i = 0; i < n; ++i)
        ExpectTransformNear(*OrvaneGetLocalPoseTransform(pose.get(), i),
                            c.skeleton->Bones[i].Transform, 1e-6f);
    float t[3], r[3];
    OrvaneGetRootMotionVectors(instance, 0.1f, t, r, false);
    EXPECT_EQ(t[0], 0.0f);

    // Sample single plays one control whatever its place in the ring.
    OrvaneSetControlActive(a, true);
    EXPECT_TRUE(OrvaneSampleSingleModelAnimation(instance, a, 0, n, pose.get()));
    ExpectTransformNear(*OrvaneGetLocalPoseTransform(pose.get(), 1),
                        ReferenceLocal(c.skeleton, c.group, 1, 0.7f, 2.0f, false, false), 2e-5f);
    orvane_control* unbound = OrvaneCreateControl(0.0f, 1.0f);
    EXPECT_FALSE(OrvaneSampleSingleModelAnimation(instance, unbound, 0, n, pose.get()));
    OrvaneFreeControl(unbound);

    OrvaneFreeControl(a);
    OrvaneFreeControl(b);
    EXPECT_EQ(OrvaneModelControlsBegin(instance), OrvaneModelControlsEnd(instance));
    OrvaneFreeModelInstance(instance);
}

TEST(InstanceRings, TwoControlsBlendByTheirWeights) {
    Character c;
    const int n = c.BoneCount();
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_control* a = OrvanePlayControlledAnimation(0.0f, &c.animation, instance);
    orvane_control* b = OrvanePlayControlledAnimation(-0.5f, &c.animation, instance);
    OrvaneSetControlWeight(a, 0.6f);
    OrvaneSetControlWeight(b, 0.4f);
    OrvaneSetModelClock(instance, 0.8f);
    PosePtr pose(OrvaneNewLocalPose(n));
    PosePtr scratch(OrvaneNewLocalPose(n));
    WorldPtr world(OrvaneNewWorldPose(n));
    WorldPtr accelerated(OrvaneNewWorldPose(n));
    OrvaneSampleModelAnimations(instance, 0, n, pose.get());
    const orvane_transform ra = ReferenceLocal(c.skeleton, c.group, 2, 0.8f, 2.0f, false, false);
    const orvane_transform rb = ReferenceLocal(c.skeleton, c.group, 2, 1.3f, 2.0f, false, false);
    const orvane_transform* got = OrvaneGetLocalPoseTransform(pose.get(), 2);
    for (int j = 0; j < 3; ++j)
        EXPECT_NEAR(got->Position[j], 0.6f * ra.Position[j] + 0.4f * rb.Position[j], 1e-5f);
    // The accelerated sampler blends through the scratch pose when two play.
    OrvaneBuildWorldPose(c.skeleton, 0, n, pose.get(), nullptr, world.get());
    OrvaneSampleModelAnimationsAccelerated(instance, n, nullptr, scratch.get(), accelerated.get());
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < 16; ++k)
            EXPECT_FLOAT_EQ(OrvaneGetWorldPose4x4(accelerated.get(), i)[k],
                            OrvaneGetWorldPose4x4(world.get(), i)[k]);
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(a);
    OrvaneFreeControl(b);
}

TEST(InstanceAccelerated, RestPoseWhenNothingPlaysAndScratchIsRequired) {
    Character c;
    const int n = c.BoneCount();
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    WorldPtr world(OrvaneNewWorldPose(n));
    WorldPtr rest(OrvaneNewWorldPose(n));
    PosePtr scratch(OrvaneNewLocalPose(n));
    // An unaligned offset is copied before use.
    alignas(16) float storage[20] = {};
    float* offset = storage + 1;
    const float placement[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 3, 4, 5, 1};
    std::copy(placement, placement + 16, offset);
    OrvaneSampleModelAnimationsAccelerated(instance, 100, offset, scratch.get(), world.get());
    OrvaneBuildRestWorldPose(c.skeleton, 0, n, placement, rest.get());
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < 16; ++k)
            EXPECT_FLOAT_EQ(OrvaneGetWorldPose4x4(world.get(), i)[k],
                            OrvaneGetWorldPose4x4(rest.get(), i)[k]);
    orvane_test::LogCapture log;
    OrvaneSampleModelAnimationsAccelerated(instance, n, nullptr, nullptr, world.get());
    EXPECT_TRUE(log.Contains("&Scratch is not allowed to be 0"));
    // A smaller world pose bounds the bones built.
    WorldPtr small(OrvaneNewWorldPose(2));
    orvane_control* control = OrvanePlayControlledAnimation(0.0f, &c.animation, instance);
    OrvaneSampleModelAnimationsAccelerated(instance, n, nullptr, scratch.get(), small.get());
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(control);
}

TEST(InstanceControls, CompletedControlsWithTwoBindingsOnOneInstanceAreFreedOnce) {
    Character c;
    c.groups[1] = c.group;
    c.animation.TrackGroupCount = 2;
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_controlled_animation_builder* b = OrvaneBeginControlledAnimation(0.0f, &c.animation);
    OrvaneSetTrackGroupTarget(b, 0, instance);
    OrvaneSetTrackGroupTarget(b, 1, instance);
    orvane_control* control = OrvaneEndControlledAnimation(b);
    ASSERT_NE(control, nullptr);
    orvane_control* other = OrvanePlayControlledAnimation(0.0f, &c.animation, instance);
    int bindings = 0;
    for (auto* x = OrvaneModelControlsBegin(instance); x != OrvaneModelControlsEnd(instance);
         x = OrvaneModelControlsNext(x))
        ++bindings;
    EXPECT_EQ(bindings, 3);
    OrvaneCompleteControlAt(control, 1.0f);
    OrvaneSetModelClock(instance, 1.5f);
    OrvaneFreeCompletedModelControls(instance);
    EXPECT_EQ(OrvaneGetControlFromBinding(OrvaneModelControlsBegin(instance)), other);
    EXPECT_EQ(OrvaneModelControlsNext(OrvaneModelControlsBegin(instance)),
              OrvaneModelControlsEnd(instance));
    // Freeing the instance frees a control marked free-when-unbound with its last binding.
    OrvaneFreeControlOnceUnused(other);
    OrvaneFreeModelInstance(instance);
}

TEST(InstanceControls, RecentringAnInstanceShiftsEachOfItsControlsOnce) {
    // One control bound twice to the instance (two track groups) and one bound once.
    Character c;
    c.groups[1] = c.group;
    c.animation.TrackGroupCount = 2;
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_controlled_animation_builder* b = OrvaneBeginControlledAnimation(100.0f, &c.animation);
    OrvaneSetTrackGroupTarget(b, 0, instance);
    OrvaneSetTrackGroupTarget(b, 1, instance);
    orvane_control* twice = OrvaneEndControlledAnimation(b);
    ASSERT_NE(twice, nullptr);
    orvane_control* once = OrvanePlayControlledAnimation(100.0f, &c.animation, instance);
    ASSERT_NE(once, nullptr);
    OrvaneCompleteControlAt(twice, 104.0f);
    OrvaneSetModelClock(instance, 100.5f);
    const float local = OrvaneGetControlRawLocalClock(twice);

    OrvaneRecenterAllModelInstanceControlClocks(instance, -100.0f);
    EXPECT_FLOAT_EQ(OrvaneGetControlClock(twice), 0.5f);
    EXPECT_FLOAT_EQ(OrvaneGetControlCompletionClock(twice), 4.0f);
    EXPECT_FLOAT_EQ(OrvaneGetControlClock(once), 0.5f);
    // The application's clock moves on from its recentred value: nothing jumps.
    OrvaneSetModelClock(instance, 0.6f);
    EXPECT_NEAR(OrvaneGetControlRawLocalClock(twice), local + 0.1f, 1e-5f);
    EXPECT_FALSE(OrvaneControlIsComplete(twice));
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(twice);
    OrvaneFreeControl(once);
}

TEST(InstanceControls, BuilderSettersCheckTheirIndex) {
    Character c;
    orvane_test::LogCapture log;
    orvane_controlled_animation_builder* b = OrvaneBeginControlledAnimation(0.0f, &c.animation);
    OrvaneSetTrackGroupAccumulation(b, 1, OrvaneAccumulationVariableDelta);
    EXPECT_TRUE(log.Contains("TrackGroupIndex 1 is out of range [0, 1)"));
    OrvaneSetTrackGroupLOD(b, 0, false, 3.0f);
    // No target: a control without bindings.
    orvane_control* control = OrvaneEndControlledAnimation(b);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(OrvaneControlModelsBegin(control), OrvaneControlModelsEnd(control));
    OrvaneFreeControl(control);

    // An existing control longer than the animation is refused.
    orvane_control* tooLong = OrvaneCreateControl(0.0f, 5.0f);
    b = OrvaneBeginControlledAnimation(0.0f, &c.animation);
    OrvaneUseExistingControlForAnimation(b, tooLong);
    EXPECT_EQ(OrvaneEndControlledAnimation(b), nullptr);
    EXPECT_TRUE(log.Contains("Control->LocalDuration 5"));
    // The message gives the duration and the range it must lie in, in whole seconds.
    EXPECT_TRUE(log.Contains("Control->LocalDuration 5 is out of range [0, 2]"));
    OrvaneFreeControl(tooLong);
}

TEST(InstanceControls, NoTrackGroupForTheModelGivesNullSilently) {
    Character c(4, 3, 2.0f, 1.0f, "Hero");
    orvane_model other = c.model;
    other.Name = const_cast<char*>("Villain");
    orvane_model_instance* instance = OrvaneInstantiateModel(&other);
    orvane_test::LogCapture log;
    EXPECT_EQ(OrvanePlayControlledAnimation(0.0f, &c.animation, instance), nullptr);
    EXPECT_EQ(log.messages().size(), 0u);
    // The name match ignores case.
    other.Name = const_cast<char*>("HERO");
    orvane_control* control = OrvanePlayControlledAnimation(0.0f, &c.animation, instance);
    EXPECT_NE(control, nullptr);
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(control);
}

TEST(InstanceControls, ANodeWhoseBindingFailedIsNeverSampled) {
    Character c;
    // A binding made for a bigger model of the same bone names would index past this one's
    // bones: the node cannot be set up.
    Character big(9, 3);
    orvane_animation_binding_identifier id;
    OrvaneMakeDefaultAnimationBindingID(&id, &c.animation, 0);
    id.OnModel = &big.model;
    orvane_animation_binding* binding = OrvaneAcquireAnimationBindingFromID(&id);
    ASSERT_NE(binding, nullptr);
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_test::LogCapture log;
    orvane_control* control =
        OrvanePlayControlledAnimationBinding(0.0f, &c.animation, binding, instance);
    ASSERT_NE(control, nullptr);
    EXPECT_TRUE(log.Contains("TrackBindingCount 9 is out of range [0, 6]"));
    EXPECT_TRUE(log.Contains("Unable to bind track group"));
    EXPECT_EQ(OrvaneModelControlsBegin(instance), OrvaneModelControlsEnd(instance));
    EXPECT_EQ(OrvaneGetAnimationBindingUseCount(binding), 1);
    OrvaneReleaseAnimationBinding(binding);
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(control);
}

TEST(InstanceSampling, RangesOutsideThePoseAreRefused) {
    Character c;
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_control* control = OrvanePlayControlledAnimation(0.0f, &c.animation, instance);
    PosePtr small(OrvaneNewLocalPose(2));
    orvane_test::LogCapture log;
    OrvaneSampleModelAnimations(instance, 0, c.BoneCount(), small.get());
    EXPECT_EQ(log.errors(), 1u);
    const int32_t sparse[2] = {1, 99};
    OrvaneSampleModelAnimationsLODSparse(instance, 0, 2, small.get(), 0.0f, sparse);
    EXPECT_TRUE(log.Contains("SparseBoneArray[1] 99 is out of range"));
    // A valid sparse pass: entries 0 and 1 are bones 4 and 2.
    const int32_t valid[2] = {4, 2};
    log.Clear();
    OrvaneSetModelClock(instance, 0.5f);
    OrvaneSampleModelAnimationsLODSparse(instance, 0, 2, small.get(), 0.0f, valid);
    EXPECT_EQ(log.errors(), 0u);
    ExpectTransformNear(*OrvaneGetLocalPoseTransform(small.get(), 0),
                        ReferenceLocal(c.skeleton, c.group, 4, 0.5f, 2.0f, false, false), 2e-5f);
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(control);
}

TEST(InstanceSampling, LODReplacesTracksWithinTheAllowedError) {
    Character c;
    const int n = c.BoneCount();
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_control* control = OrvanePlayControlledAnimation(0.0f, &c.animation, instance);
    orvane_animation_binding* binding =
        OrvaneGetAnimationBindingFromControlBinding(OrvaneModelControlsBegin(instance));
    EXPECT_EQ(OrvaneGetLODErrorValue(binding, 1), ORVANE_UNBOUNDED_REAL32);
    OrvaneSetLODErrorValue(binding, 1, 0.5f);
    OrvaneSetModelClock(instance, 0.9f);
    PosePtr pose(OrvaneNewLocalPose(n));
    // Allowed 1.0, fading from 0.8: a track of error 0.5 is replaced by its first key.
    OrvaneSampleModelAnimationsLOD(instance, 0, n, pose.get(), 1.0f);
    EXPECT_NEAR(OrvaneGetLocalPoseTransform(pose.get(), 1)->Position[0], c.tracks[1].positions[0],
                1e-6f);
    // Allowed 0.55: inside the fade band, halfway between sampled and constant... nearly.
    OrvaneSampleModelAnimationsLOD(instance, 0, n, pose.get(), 0.55f);
    const orvane_transform sampled =
        ReferenceLocal(c.skeleton, c.group, 1, 0.9f, 2.0f, false, false);
    const float fadeStart = 0.55f * 0.8f;
    const float t = (0.55f - 0.5f) / (0.55f - fadeStart);
    EXPECT_NEAR(OrvaneGetLocalPoseTransform(pose.get(), 1)->Position[0],
                (1 - t) * sampled.Position[0] + t * c.tracks[1].positions[0], 1e-5f);
    // Allowed below the error: sampled.
    OrvaneSampleModelAnimationsLOD(instance, 0, n, pose.get(), 0.4f);
    EXPECT_NEAR(OrvaneGetLocalPoseTransform(pose.get(), 1)->Position[0], sampled.Position[0],
                1e-5f);
    orvane_test::LogCapture log;
    EXPECT_EQ(OrvaneGetLODErrorValue(binding, n), ORVANE_UNBOUNDED_REAL32);
    EXPECT_EQ(log.errors(), 1u);
    OrvaneResetLODErrorValues(binding);
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(control);
}

TEST(InstanceRootMotion, ConstantLoopAcrossLoopBoundaries) {
    Character c;
    c.group->LoopTranslation[0] = 1.5f;
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_controlled_animation_builder* b = OrvaneBeginControlledAnimation(0.0f, &c.animation);
    OrvaneSetTrackGroupTarget(b, 0, instance);
    OrvaneSetTrackGroupAccumulation(b, 0, OrvaneAccumulationConstantLoop);
    orvane_control* control = OrvaneEndControlledAnimation(b);
    OrvaneSetControlLoopCount(control, 0);
    const float dt = 1.0f / 60.0f;
    float total = 0.0f;
    for (int frame = 1; frame <= 150; ++frame) {
        OrvaneSetModelClock(instance, float(frame) * dt);
        float t[3], r[3];
        OrvaneGetRootMotionVectors(instance, dt, t, r, false);
        EXPECT_NEAR(t[0], dt * 0.75f, 1e-5f) << frame;
        total += t[0];
        float back[3];
        OrvaneGetRootMotionVectors(instance, dt, back, r, true);
        EXPECT_NEAR(back[0], -t[0], 1e-7f);
    }
    EXPECT_NEAR(total, 150 * dt * 0.75f, 1e-3f);
    // The model matrix moves with it.
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    float moved[16];
    OrvaneUpdateModelMatrix(instance, dt, identity, moved, false);
    EXPECT_NEAR(moved[12], dt * 0.75f, 1e-5f);
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(control);
}

TEST(InstanceRootMotion, ConstantLoopFollowsThePeriodicLoopWhenTheGroupHasOne) {
    Character c;
    // A straight loop translation that must not be used once a periodic loop is present.
    c.group->LoopTranslation[0] = 1.5f;
    // A screw about z without radius: 2 units and 0.5 radians a second along and about z.
    orvane_periodic_loop loop{};
    loop.dAngle = 0.5f;
    loop.dZ = 2.0f;
    loop.Axis[2] = 1.0f;
    c.group->PeriodicLoop = &loop;
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_controlled_animation_builder* b = OrvaneBeginControlledAnimation(0.0f, &c.animation);
    OrvaneSetTrackGroupTarget(b, 0, instance);
    OrvaneSetTrackGroupAccumulation(b, 0, OrvaneAccumulationConstantLoop);
    orvane_control* control = OrvaneEndControlledAnimation(b);
    OrvaneSetControlLoopCount(control, 0);
    const float dt = 1.0f / 30.0f;
    for (int frame = 1; frame <= 90; ++frame) {
        OrvaneSetModelClock(instance, float(frame) * dt);
        float t[3], r[3];
        OrvaneGetRootMotionVectors(instance, dt, t, r, false);
        EXPECT_NEAR(t[0], 0.0f, 1e-6f) << frame;
        EXPECT_NEAR(t[1], 0.0f, 1e-6f) << frame;
        EXPECT_NEAR(t[2], 2.0f * dt, 1e-5f) << frame;
        EXPECT_NEAR(r[0], 0.0f, 1e-6f) << frame;
        EXPECT_NEAR(r[1], 0.0f, 1e-6f) << frame;
        EXPECT_NEAR(r[2], 0.5f * dt, 1e-5f) << frame;
        // Played backwards, the same loop runs the other way.
        float back[3], backRotation[3];
        OrvaneGetRootMotionVectors(instance, dt, back, backRotation, true);
        EXPECT_NEAR(back[2], -t[2], 1e-6f) << frame;
        EXPECT_NEAR(backRotation[2], -r[2], 1e-6f) << frame;
    }
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(control);
    c.group->PeriodicLoop = nullptr;
}

TEST(InstanceRootMotion, VariableDeltaAcrossLoopBoundariesAddsTheLoopTranslation) {
    Character c;
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_controlled_animation_builder* b = OrvaneBeginControlledAnimation(0.0f, &c.animation);
    OrvaneSetTrackGroupTarget(b, 0, instance);
    OrvaneSetTrackGroupAccumulation(b, 0, OrvaneAccumulationVariableDelta);
    orvane_control* control = OrvaneEndControlledAnimation(b);
    OrvaneSetControlLoopCount(control, 0);
    const float dt = 1.0f / 60.0f;
    for (int frame = 1; frame <= 260; ++frame) {
        OrvaneSetModelClock(instance, float(frame) * dt);
        float t[3], r[3];
        OrvaneGetRootMotionVectors(instance, dt, t, r, false);
        // The root runs at 0.75 units a second along x, across the wraps at 2 and 4 seconds.
        EXPECT_NEAR(t[0], dt * 0.75f, 2e-5f) << frame;
        EXPECT_LT(std::fabs(t[1]), 0.02f) << frame;
        EXPECT_EQ(r[0], 0.0f);
    }
    // Backwards play gives the motion backwards.
    OrvaneSetControlSpeed(control, -1.0f);
    OrvaneSetModelClock(instance, 260 * dt + dt);
    float t[3], r[3];
    OrvaneGetRootMotionVectors(instance, dt, t, r, false);
    EXPECT_NEAR(t[0], -dt * 0.75f, 2e-5f);
    // The root's motion is taken out of the pose.
    PosePtr pose(OrvaneNewLocalPose(c.BoneCount()));
    OrvaneSampleModelAnimations(instance, 0, c.BoneCount(), pose.get());
    const orvane_transform* root = OrvaneGetLocalPoseTransform(pose.get(), 0);
    EXPECT_EQ(root->Position[0], 0.0f);
    EXPECT_EQ(root->Orientation[3], 1.0f);
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(control);
}

TEST(InstanceControlledPose, PlaysTheGivenPose) {
    Character c;
    const int n = c.BoneCount();
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    PosePtr played(OrvaneNewLocalPose(n));
    for (int i = 0; i < n; ++i) {
        orvane_transform* t = OrvaneGetLocalPoseTransform(played.get(), i);
        *t = c.skeleton->Bones[i].Transform;
        t->Position[0] = 0.25f * float(i);
        t->Flags |= OrvaneTransformHasPosition;
    }
    orvane_control* control = OrvanePlayControlledPose(0.0f, 1.0f, played.get(), instance, nullptr);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(OrvaneGetLocalPoseFromControlBinding(OrvaneModelControlsBegin(instance)),
              played.get());
    EXPECT_EQ(OrvaneGetAnimationBindingFromControlBinding(OrvaneModelControlsBegin(instance)),
              nullptr);
    PosePtr pose(OrvaneNewLocalPose(n));
    OrvaneSampleModelAnimations(instance, 0, n, pose.get());
    for (int i = 0; i < n; ++i)
        ExpectTransformNear(*OrvaneGetLocalPoseTransform(pose.get(), i),
                            *OrvaneGetLocalPoseTransform(played.get(), i), 1e-6f);
    WorldPtr world(OrvaneNewWorldPose(n));
    WorldPtr direct(OrvaneNewWorldPose(n));
    PosePtr scratch(OrvaneNewLocalPose(n));
    OrvaneBuildWorldPose(c.skeleton, 0, n, played.get(), nullptr, world.get());
    OrvaneSampleModelAnimationsAccelerated(instance, n, nullptr, scratch.get(), direct.get());
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < 16; ++k)
            EXPECT_NEAR(OrvaneGetWorldPose4x4(direct.get(), i)[k],
                        OrvaneGetWorldPose4x4(world.get(), i)[k], 1e-5f);
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(control);
}

TEST(InstanceGlobals, InstancesAreListedNewestFirst) {
    Character c;
    orvane_model_instance* a = OrvaneInstantiateModel(&c.model);
    orvane_model_instance* b = OrvaneInstantiateModel(&c.model);
    EXPECT_EQ(OrvaneGetGlobalModelInstancesBegin(), b);
    EXPECT_EQ(OrvaneGetGlobalNextModelInstance(b), a);
    OrvaneFreeModelInstance(b);
    EXPECT_EQ(OrvaneGetGlobalModelInstancesBegin(), a);
    OrvaneFreeModelInstance(a);
    EXPECT_EQ(OrvaneGetGlobalModelInstancesBegin(), OrvaneGetGlobalModelInstancesEnd());
    EXPECT_EQ(OrvaneGetGlobalNextModelInstance(nullptr), nullptr);
    OrvaneFreeModelInstance(nullptr);
    OrvaneFreeControl(nullptr);
}

TEST(InstanceControls, TrackMasksWeighTracksAndModelMasksWeighBones) {
    Character c;
    const int n = c.BoneCount();
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    // The tracks are bone0, bone1, bone2, bone4 and bone5 (bone3 has none): track 3 is bone4's.
    orvane_track_mask* trackMask = OrvaneNewTrackMask(1.0f, 5);
    OrvaneSetTrackMaskBoneWeight(trackMask, 3, 0.0f);
    orvane_track_mask* modelMask = OrvaneNewTrackMask(1.0f, n);
    OrvaneSetTrackMaskBoneWeight(modelMask, 1, 0.0f);
    orvane_controlled_animation_builder* b = OrvaneBeginControlledAnimation(0.0f, &c.animation);
    OrvaneSetTrackGroupTarget(b, 0, instance);
    OrvaneSetTrackGroupTrackMask(b, 0, trackMask);
    OrvaneSetTrackGroupModelMask(b, 0, modelMask);
    orvane_control* control = OrvaneEndControlledAnimation(b);
    OrvaneSetModelClock(instance, 0.7f);
    PosePtr pose(OrvaneNewLocalPose(n));
    OrvaneSampleModelAnimations(instance, 0, n, pose.get());
    for (int i = 0; i < n; ++i) {
        const bool rest = i == 1 || i == 3 || i == 4;
        const orvane_transform expect =
            rest ? c.skeleton->Bones[i].Transform
                 : ReferenceLocal(c.skeleton, c.group, i, 0.7f, 2.0f, false, false);
        SCOPED_TRACE(i);
        ExpectTransformNear(*OrvaneGetLocalPoseTransform(pose.get(), i), expect, 1e-5f);
    }
    // A controlled pose's mask weighs skeleton bones, also through a sparse array.
    OrvaneFreeControl(control);
    PosePtr played(OrvaneNewLocalPose(n));
    for (int i = 0; i < n; ++i) {
        orvane_transform* t = OrvaneGetLocalPoseTransform(played.get(), i);
        *t = c.skeleton->Bones[i].Transform;
        t->Position[0] = 0.25f * float(i) + 1.0f;
        t->Flags |= OrvaneTransformHasPosition;
    }
    orvane_track_mask* poseMask = OrvaneNewTrackMask(1.0f, n);
    OrvaneSetTrackMaskBoneWeight(poseMask, 2, 0.0f);
    control = OrvanePlayControlledPose(0.0f, 1.0f, played.get(), instance, poseMask);
    OrvaneSampleModelAnimations(instance, 0, n, pose.get());
    for (int i = 0; i < n; ++i) {
        SCOPED_TRACE(i);
        ExpectTransformNear(
            *OrvaneGetLocalPoseTransform(pose.get(), i),
            i == 2 ? c.skeleton->Bones[i].Transform : *OrvaneGetLocalPoseTransform(played.get(), i),
            1e-5f);
    }
    const int32_t sparse[3] = {4, 2, 0};
    PosePtr small(OrvaneNewLocalPose(3));
    OrvaneSampleModelAnimationsLODSparse(instance, 0, 3, small.get(), 0.0f, sparse);
    ExpectTransformNear(*OrvaneGetLocalPoseTransform(small.get(), 0),
                        *OrvaneGetLocalPoseTransform(played.get(), 4), 1e-5f);
    ExpectTransformNear(*OrvaneGetLocalPoseTransform(small.get(), 1),
                        c.skeleton->Bones[2].Transform, 1e-5f);
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(control);
    OrvaneFreeTrackMask(trackMask);
    OrvaneFreeTrackMask(modelMask);
    OrvaneFreeTrackMask(poseMask);
}
}  // namespace

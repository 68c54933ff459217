// Controlled animations and controlled poses: the builder's defaults and its use of an existing
// control, the weights below which a binding or a bone contributes nothing, root motion at the
// ends of a clip that does not wrap, the direct world-pose builds, and hostile loop content.
#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "instance/instance_test_support.h"
#include "support/log_capture.h"
#include "orvane/animation_binding.h"
#include "orvane/controlled_animation.h"
#include "orvane/instance.h"
#include "orvane/local_pose.h"
#include "orvane/periodic_loop.h"
#include "orvane/track_group.h"
#include "orvane/track_group_builder.h"
#include "orvane/track_mask.h"

namespace {

using namespace orvane_instance_test;

orvane_control* PlayWithMode(Character& c, orvane_model_instance* instance, float start,
                             int32_t mode) {
    orvane_controlled_animation_builder* b = OrvaneBeginControlledAnimation(start, &c.animation);
    OrvaneSetTrackGroupTarget(b, 0, instance);
    if (mode >= 0) OrvaneSetTrackGroupAccumulation(b, 0, mode);
    return OrvaneEndControlledAnimation(b);
}

void RootMotion(orvane_model_instance* instance, float seconds, float t[3], float r[3]) {
    OrvaneGetRootMotionVectors(instance, seconds, t, r, false);
}

// ---- The builder ----

TEST(ControlledAnimationBuilder, DefaultAccumulationModeFollowsTheTrackGroupFlags) {
    Character c;
    c.group->LoopTranslation[0] = 1.5f;
    const int n = c.BoneCount();
    struct Case {
        uint32_t flags;
        float expectedX, expectedY;  // root motion of 0.1 s at local clock 0.5
        bool rootRemoved;
    };
    // Bit 1 plays the constant loop (1.5 along x over 2 s), else bit 4 the root track's change
    // (its x runs linearly, 1.5 over 2 s, too; its y from 0 at 0 s to 0.1 sin 1.5 at 0.5 s),
    // else nothing. Bit 2 (sorted by name) alone selects no mode.
    const float rise = 0.1f * std::sin(1.5f) * 0.2f;
    const Case cases[] = {{2u, 0.0f, 0.0f, false},
                          {1u | 2u, 0.075f, 0.0f, false},
                          {4u | 2u, 0.075f, rise, true},
                          {1u | 4u, 0.075f, 0.0f, false}};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.flags);
        OrvaneSetTrackGroupFlags(c.group, k.flags, 0);
        orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
        orvane_control* control = PlayWithMode(c, instance, 0.0f, -1);
        ASSERT_NE(control, nullptr);
        OrvaneSetModelClock(instance, 0.5f);
        float t[3], r[3];
        RootMotion(instance, 0.1f, t, r);
        EXPECT_NEAR(t[0], k.expectedX, 1e-5f);
        EXPECT_NEAR(t[1], k.expectedY, 1e-5f);
        PosePtr pose(OrvaneNewLocalPose(n));
        OrvaneSampleModelAnimations(instance, 0, n, pose.get());
        const orvane_transform sampled =
            ReferenceLocal(c.skeleton, c.group, 0, 0.5f, 2.0f, false, false);
        EXPECT_NEAR(OrvaneGetLocalPoseTransform(pose.get(), 0)->Position[0],
                    k.rootRemoved ? 0.0f : sampled.Position[0], 1e-6f);
        OrvaneFreeModelInstance(instance);
        OrvaneFreeControl(control);
    }
    OrvaneSetTrackGroupFlags(c.group, 2u, 0);
}

TEST(ControlledAnimationBuilder, AnExistingControlKeepsItsPlaceByItsActiveBit) {
    Character c;
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_control* playing = OrvanePlayControlledAnimation(0.0f, &c.animation, instance);
    ASSERT_NE(playing, nullptr);
    // An inactive control given to the builder is bound behind the playing one.
    orvane_control* parked = OrvaneCreateControl(0.0f, 1.0f);
    OrvaneSetControlActive(parked, false);
    orvane_controlled_animation_builder* b = OrvaneBeginControlledAnimation(0.0f, &c.animation);
    OrvaneUseExistingControlForAnimation(b, parked);
    OrvaneSetTrackGroupTarget(b, 0, instance);
    EXPECT_EQ(OrvaneEndControlledAnimation(b), parked);
    orvane_model_control_binding* first = OrvaneModelControlsBegin(instance);
    ASSERT_NE(first, OrvaneModelControlsEnd(instance));
    EXPECT_EQ(OrvaneGetControlFromBinding(first), playing);
    EXPECT_EQ(OrvaneGetControlFromBinding(OrvaneModelControlsNext(first)), parked);
    // An active one is bound in front.
    orvane_control* lead = OrvaneCreateControl(0.0f, 2.0f);
    b = OrvaneBeginControlledAnimation(0.0f, &c.animation);
    OrvaneUseExistingControlForAnimation(b, lead);
    OrvaneSetTrackGroupTarget(b, 0, instance);
    EXPECT_EQ(OrvaneEndControlledAnimation(b), lead);
    EXPECT_EQ(OrvaneGetControlFromBinding(OrvaneModelControlsBegin(instance)), lead);
    // Its clock and length are its own: nothing of the builder's start time is applied.
    EXPECT_EQ(OrvaneGetControlLocalDuration(lead), 2.0f);
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(playing);
    OrvaneFreeControl(parked);
    OrvaneFreeControl(lead);
}

TEST(ControlledAnimationBuilder, AnExistingControlOfWeightZeroIsBoundBehindThePlayingOnes) {
    // An active control without weight contributes nothing: bound in front, it would stop every
    // sampling walk before the controls that do play.
    Character c;
    const int n = c.BoneCount();
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_control* playing = OrvanePlayControlledAnimation(0.0f, &c.animation, instance);
    ASSERT_NE(playing, nullptr);
    orvane_control* silent = OrvaneCreateControl(0.0f, 1.0f);
    OrvaneSetControlWeight(silent, 0.0f);
    orvane_controlled_animation_builder* b = OrvaneBeginControlledAnimation(0.0f, &c.animation);
    OrvaneUseExistingControlForAnimation(b, silent);
    OrvaneSetTrackGroupTarget(b, 0, instance);
    OrvaneSetTrackGroupAccumulation(b, 0, OrvaneAccumulationConstantLoop);
    ASSERT_EQ(OrvaneEndControlledAnimation(b), silent);
    EXPECT_EQ(OrvaneGetControlFromBinding(OrvaneModelControlsBegin(instance)), playing);
    OrvaneSetModelClock(instance, 0.7f);
    PosePtr pose(OrvaneNewLocalPose(n));
    OrvaneSampleModelAnimations(instance, 0, n, pose.get());
    for (int i = 0; i < n; ++i) {
        SCOPED_TRACE(i);
        ExpectTransformNear(*OrvaneGetLocalPoseTransform(pose.get(), i),
                            ReferenceLocal(c.skeleton, c.group, i, 0.7f, 2.0f, false, false),
                            1e-5f);
    }
    // Given weight, it moves to the front and plays too.
    OrvaneSetControlWeight(silent, 1.0f);
    EXPECT_EQ(OrvaneGetControlFromBinding(OrvaneModelControlsBegin(instance)), silent);
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(playing);
    OrvaneFreeControl(silent);
}

TEST(ControlledAnimationBuilder, AnExistingControlOfNegativeLengthIsRefused) {
    Character c;
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_control* backwards = OrvaneCreateControl(0.0f, -1.0f);
    ASSERT_NE(backwards, nullptr);
    orvane_test::LogCapture log;
    orvane_controlled_animation_builder* b = OrvaneBeginControlledAnimation(0.0f, &c.animation);
    OrvaneUseExistingControlForAnimation(b, backwards);
    OrvaneSetTrackGroupTarget(b, 0, instance);
    EXPECT_EQ(OrvaneEndControlledAnimation(b), nullptr);
    EXPECT_TRUE(log.Contains("Control->LocalDuration -1 is out of range [0, 2]"));
    EXPECT_EQ(log.errors(), 1u);
    // Nothing was bound.
    EXPECT_EQ(OrvaneModelControlsBegin(instance), OrvaneModelControlsEnd(instance));
    EXPECT_EQ(OrvaneControlModelsBegin(backwards), OrvaneControlModelsEnd(backwards));
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(backwards);
}

TEST(ControlledAnimationBuilder, PlayingAGivenBindingHoldsOneUseOfItUntilTheControlGoes) {
    Character c;
    orvane_animation_binding_identifier id;
    OrvaneMakeDefaultAnimationBindingID(&id, &c.animation, 0);
    id.OnModel = &c.model;
    orvane_animation_binding* binding = OrvaneAcquireAnimationBindingFromID(&id);
    ASSERT_NE(binding, nullptr);
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_control* control =
        OrvanePlayControlledAnimationBinding(0.0f, &c.animation, binding, instance);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(OrvaneGetAnimationBindingUseCount(binding), 2);
    EXPECT_EQ(OrvaneGetAnimationBindingFromControlBinding(OrvaneModelControlsBegin(instance)),
              binding);
    OrvaneFreeControl(control);
    EXPECT_EQ(OrvaneGetAnimationBindingUseCount(binding), 1);
    OrvaneReleaseAnimationBinding(binding);
    OrvaneFreeModelInstance(instance);
}

TEST(ControlledAnimationBuilder, CopiedLODValuesAreTheStoredErrorsScaledForThatControlAlone) {
    Character c;
    const int n = c.BoneCount();
    int32_t track = -1;
    ASSERT_TRUE(OrvaneFindTrackByName(c.group, "bone1", &track));
    ASSERT_GT(c.group->TransformLODErrorCount, track);
    c.group->TransformLODErrors[track] = 0.25f;
    orvane_model_instance* copied = OrvaneInstantiateModel(&c.model);
    orvane_model_instance* plain = OrvaneInstantiateModel(&c.model);
    orvane_model_instance* declined = OrvaneInstantiateModel(&c.model);
    auto play = [&](orvane_model_instance* instance, bool copy) {
        orvane_controlled_animation_builder* b = OrvaneBeginControlledAnimation(0.0f, &c.animation);
        OrvaneSetTrackGroupTarget(b, 0, instance);
        if (copy || instance == declined) OrvaneSetTrackGroupLOD(b, 0, copy, 2.0f);
        return OrvaneEndControlledAnimation(b);
    };
    orvane_control* controls[3] = {play(copied, true), play(plain, false), play(declined, false)};
    for (orvane_model_instance* instance : {copied, plain, declined})
        OrvaneSetModelClock(instance, 0.9f);
    const orvane_transform sampled =
        ReferenceLocal(c.skeleton, c.group, 1, 0.9f, 2.0f, false, false);
    const float first = c.tracks[1].positions[0];
    ASSERT_GT(std::fabs(sampled.Position[0] - first), 1e-3f);
    PosePtr pose(OrvaneNewLocalPose(n));
    auto bone1 = [&](orvane_model_instance* instance, float allowed) {
        OrvaneSampleModelAnimationsLOD(instance, 0, n, pose.get(), allowed);
        return OrvaneGetLocalPoseTransform(pose.get(), 1)->Position[0];
    };
    // Error 2 x 0.25 = 0.5: replaced under an allowed 1.0 (the window starts at 0.8), faded
    // under 0.55 (the window 0.44 to 0.55), sampled under 0.4.
    EXPECT_NEAR(bone1(copied, 1.0f), first, 1e-6f);
    const float f = (0.55f - 0.5f) / (0.55f - 0.44f);
    EXPECT_NEAR(bone1(copied, 0.55f), (1 - f) * sampled.Position[0] + f * first, 1e-5f);
    EXPECT_NEAR(bone1(copied, 0.4f), sampled.Position[0], 1e-6f);
    // The shared binding keeps its own (unbounded) error: the other instances sample.
    EXPECT_NEAR(bone1(plain, 1.0f), sampled.Position[0], 1e-6f);
    EXPECT_NEAR(bone1(declined, 1.0f), sampled.Position[0], 1e-6f);
    orvane_animation_binding* binding =
        OrvaneGetAnimationBindingFromControlBinding(OrvaneModelControlsBegin(copied));
    EXPECT_EQ(OrvaneGetLODErrorValue(binding, 1), ORVANE_UNBOUNDED_REAL32);
    for (orvane_model_instance* instance : {copied, plain, declined})
        OrvaneFreeModelInstance(instance);
    for (orvane_control* control : controls)
        OrvaneFreeControl(control);
}

// ---- Weights ----

// A second control far from the first: a pose 100 units off along x on every bone.
PosePtr FarPose(const Character& c) {
    const int n = c.BoneCount();
    PosePtr far(OrvaneNewLocalPose(n));
    for (int i = 0; i < n; ++i) {
        orvane_transform* t = OrvaneGetLocalPoseTransform(far.get(), i);
        *t = c.skeleton->Bones[i].Transform;
        t->Position[0] += 100.0f;
        t->Flags |= OrvaneTransformHasPosition;
    }
    return far;
}

TEST(ControlledWeights, ControlsOfAThousandthOrLessAddNothing) {
    Character c;
    const int n = c.BoneCount();
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_control* animation = OrvanePlayControlledAnimation(0.0f, &c.animation, instance);
    PosePtr far = FarPose(c);
    orvane_control* pose = OrvanePlayControlledPose(0.0f, 2.0f, far.get(), instance, nullptr);
    ASSERT_NE(pose, nullptr);
    OrvaneSetModelClock(instance, 0.7f);
    PosePtr result(OrvaneNewLocalPose(n));
    // Through the one-pass blend (no LOD) and through the accumulation (an allowed error).
    const float allowed[2] = {0.0f, 1e-6f};
    for (float e : allowed) {
        SCOPED_TRACE(e);
        OrvaneSetControlWeight(pose, 0.0009f);
        OrvaneSampleModelAnimationsLOD(instance, 0, n, result.get(), e);
        for (int i = 0; i < n; ++i) {
            SCOPED_TRACE(i);
            ExpectTransformNear(*OrvaneGetLocalPoseTransform(result.get(), i),
                                ReferenceLocal(c.skeleton, c.group, i, 0.7f, 2.0f, false, false),
                                1e-5f);
        }
        // The animation at a thousandth under the pose: the pose alone.
        OrvaneSetControlWeight(pose, 1.0f);
        OrvaneSetControlWeight(animation, 0.001f);
        OrvaneSampleModelAnimationsLOD(instance, 0, n, result.get(), e);
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(OrvaneGetLocalPoseTransform(result.get(), i)->Position[0],
                      OrvaneGetLocalPoseTransform(far.get(), i)->Position[0])
                << i;
        // Above a thousandth both count.
        OrvaneSetControlWeight(pose, 0.002f);
        OrvaneSetControlWeight(animation, 1.0f);
        OrvaneSampleModelAnimationsLOD(instance, 0, n, result.get(), e);
        const float sampled =
            ReferenceLocal(c.skeleton, c.group, 0, 0.7f, 2.0f, false, false).Position[0];
        const float far0 = OrvaneGetLocalPoseTransform(far.get(), 0)->Position[0];
        EXPECT_NEAR(OrvaneGetLocalPoseTransform(result.get(), 0)->Position[0],
                    (sampled + 0.002f * far0) / 1.002f, 1e-4f);
    }
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(animation);
    OrvaneFreeControl(pose);
}

TEST(ControlledWeights, BonesMaskedToAThousandthOrLessKeepTheirRestTransform) {
    Character c;
    const int n = c.BoneCount();
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_track_mask* modelMask = OrvaneNewTrackMask(1.0f, n);
    OrvaneSetTrackMaskBoneWeight(modelMask, 1, 0.001f);
    OrvaneSetTrackMaskBoneWeight(modelMask, 2, 0.0011f);
    orvane_controlled_animation_builder* b = OrvaneBeginControlledAnimation(0.0f, &c.animation);
    OrvaneSetTrackGroupTarget(b, 0, instance);
    OrvaneSetTrackGroupModelMask(b, 0, modelMask);
    orvane_control* control = OrvaneEndControlledAnimation(b);
    PosePtr far = FarPose(c);
    orvane_control* pose = OrvanePlayControlledPose(0.0f, 2.0f, far.get(), instance, modelMask);
    OrvaneSetControlActive(pose, false);
    OrvaneSetModelClock(instance, 0.7f);
    PosePtr result(OrvaneNewLocalPose(n));
    OrvaneSampleModelAnimations(instance, 0, n, result.get());
    // Bone 1 untouched: the rest transform. Bone 2 at 0.0011 of the sample, filled up to the
    // fill threshold (0.2) from the rest transform.
    ExpectTransformNear(*OrvaneGetLocalPoseTransform(result.get(), 1),
                        c.skeleton->Bones[1].Transform, 1e-6f);
    const float sampled2 =
        ReferenceLocal(c.skeleton, c.group, 2, 0.7f, 2.0f, false, false).Position[0];
    const float rest2 = c.skeleton->Bones[2].Transform.Position[0];
    EXPECT_NEAR(OrvaneGetLocalPoseTransform(result.get(), 2)->Position[0],
                (0.0011f * sampled2 + (0.2f - 0.0011f) * rest2) / 0.2f, 1e-5f);
    // The same mask on the played pose.
    OrvaneSetControlActive(control, false);
    OrvaneSetControlActive(pose, true);
    OrvaneSampleModelAnimations(instance, 0, n, result.get());
    ExpectTransformNear(*OrvaneGetLocalPoseTransform(result.get(), 1),
                        c.skeleton->Bones[1].Transform, 1e-6f);
    EXPECT_NEAR(OrvaneGetLocalPoseTransform(result.get(), 2)->Position[0],
                (0.0011f * (rest2 + 100.0f) + (0.2f - 0.0011f) * rest2) / 0.2f, 1e-4f);
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(control);
    OrvaneFreeControl(pose);
    OrvaneFreeTrackMask(modelMask);
}

// ---- Root motion ----

TEST(ControlledRootMotion, AClipThatDoesNotWrapMovesOnlyWithinItsLength) {
    Character c;
    c.group->LoopTranslation[0] = 1.5f;  // 0.75 a second over the 2 s clip
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    // One loop each: the first from clock 0, the second from clock 2.
    orvane_control* first = PlayWithMode(c, instance, 0.0f, OrvaneAccumulationConstantLoop);
    orvane_control* second = PlayWithMode(c, instance, 2.0f, OrvaneAccumulationConstantLoop);
    float t[3], r[3];
    // 1.8 -> 1.9: the first moves 0.1 s; the second is before its start and counts for nothing.
    OrvaneSetModelClock(instance, 1.9f);
    RootMotion(instance, 0.1f, t, r);
    EXPECT_NEAR(t[0], 0.075f, 2e-6f);
    // 1.9 -> 2.1: the first to its end (0.1 s), the second from its start (0.1 s).
    OrvaneSetModelClock(instance, 2.1f);
    RootMotion(instance, 0.2f, t, r);
    EXPECT_NEAR(t[0], 0.075f, 2e-6f);
    // 2.1 -> 2.3: the first is past its end and counts for nothing; the second moves 0.2 s.
    OrvaneSetModelClock(instance, 2.3f);
    RootMotion(instance, 0.2f, t, r);
    EXPECT_NEAR(t[0], 0.15f, 2e-6f);
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(first);
    OrvaneFreeControl(second);
}

TEST(ControlledRootMotion, NothingWithoutARootTrackOrWithoutLength) {
    // Bone 0 has no track.
    Character c(6, 0);
    c.group->LoopTranslation[0] = 1.5f;
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_control* control = PlayWithMode(c, instance, 0.0f, OrvaneAccumulationConstantLoop);
    ASSERT_NE(control, nullptr);
    OrvaneSetModelClock(instance, 0.5f);
    float t[3] = {9, 9, 9}, r[3] = {9, 9, 9};
    RootMotion(instance, 0.1f, t, r);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(t[i], 0.0f);
        EXPECT_EQ(r[i], 0.0f);
    }
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(control);

    // A control of 0.00001 s or less.
    Character d;
    d.group->LoopTranslation[0] = 1.5f;
    instance = OrvaneInstantiateModel(&d.model);
    control = OrvaneCreateControl(0.0f, 0.00001f);
    OrvaneSetControlLoopCount(control, 0);
    orvane_controlled_animation_builder* b = OrvaneBeginControlledAnimation(0.0f, &d.animation);
    OrvaneUseExistingControlForAnimation(b, control);
    OrvaneSetTrackGroupTarget(b, 0, instance);
    OrvaneSetTrackGroupAccumulation(b, 0, OrvaneAccumulationConstantLoop);
    ASSERT_EQ(OrvaneEndControlledAnimation(b), control);
    OrvaneSetModelClock(instance, 0.5f);
    RootMotion(instance, 0.1f, t, r);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(t[i], 0.0f);
        EXPECT_EQ(r[i], 0.0f);
    }
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(control);
}

TEST(ControlledRootMotion, VariableDeltaMovesInTheFrameOfTheRootAtTheStart) {
    // The root runs 1 unit a second along x while turning about z from 30 to 120 degrees over
    // the 2 s clip. The step is turned by the first key and back by the root's orientation at
    // the step's start: it is seen from the root as it stood then.
    Character c(3, 99);
    orvane_track_group_builder* g = OrvaneBeginTrackGroup("Hero", 0, 1, 0, false);
    OrvaneBeginTransformTrack(g, "bone0");
    const float knots[2] = {0.0f, 2.0f};
    const float positions[6] = {0.0f, 0.0f, 0.0f, 2.0f, 0.0f, 0.0f};
    const double a0 = 30.0 * M_PI / 180.0, a1 = 120.0 * M_PI / 180.0;
    const float keys[8] = {0.0f, 0.0f, float(std::sin(a0 / 2)), float(std::cos(a0 / 2)),
                           0.0f, 0.0f, float(std::sin(a1 / 2)), float(std::cos(a1 / 2))};
    OrvaneSetTransformTrackPosition(g, 1, 0, 2, knots, positions, OrvaneCurveDataDaK32fC32fType);
    OrvaneSetTransformTrackOrientation(g, 1, 0, 2, knots, keys, OrvaneCurveDataDaK32fC32fType);
    OrvaneEndTransformTrack(g);
    orvane_track_group* group = OrvaneEndTrackGroup(g);
    orvane_track_group* groups[1] = {group};
    orvane_animation animation = c.animation;
    animation.TrackGroups = groups;
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_controlled_animation_builder* b = OrvaneBeginControlledAnimation(0.0f, &animation);
    OrvaneSetTrackGroupTarget(b, 0, instance);
    OrvaneSetTrackGroupAccumulation(b, 0, OrvaneAccumulationVariableDelta);
    orvane_control* control = OrvaneEndControlledAnimation(b);
    ASSERT_NE(control, nullptr);
    // The angle of the degree-1 curve at t: the keys blended linearly, read as an angle.
    auto angleAt = [&](double t) {
        const double u = t / 2.0;
        return 2.0 * std::atan2((1 - u) * keys[2] + u * keys[6], (1 - u) * keys[3] + u * keys[7]);
    };
    OrvaneSetModelClock(instance, 1.0f);
    float t[3], r[3];
    OrvaneGetRootMotionVectors(instance, 0.1f, t, r, false);
    const double turn = a0 - angleAt(0.9);  // the first key, then back by the start's
    EXPECT_NEAR(t[0], 0.1 * std::cos(turn), 1e-5);
    EXPECT_NEAR(t[1], 0.1 * std::sin(turn), 1e-5);
    EXPECT_NEAR(t[2], 0.0f, 1e-6f);
    EXPECT_NEAR(r[0], 0.0f, 1e-6f);
    EXPECT_NEAR(r[1], 0.0f, 1e-6f);
    EXPECT_NEAR(r[2], angleAt(1.0) - angleAt(0.9), 1e-5);
    // Inverse: both vectors negated before they are turned.
    OrvaneGetRootMotionVectors(instance, 0.1f, t, r, true);
    EXPECT_NEAR(t[0], -0.1 * std::cos(turn), 1e-5);
    EXPECT_NEAR(t[1], -0.1 * std::sin(turn), 1e-5);
    EXPECT_NEAR(r[2], angleAt(0.9) - angleAt(1.0), 1e-5);
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(control);
    OrvaneFreeBuilderResult(group);
}

// ---- Direct world-pose builds ----

// The world pose the direct build makes of the instance (with Offset and AllowedError), each
// element against the double-precision reference within tolerance(bone) (offset already in it).
template <typename Tolerance>
void ExpectDirectBuild(orvane_model_instance* instance, int n, const float* offset,
                       float allowedError, const std::vector<double>& reference,
                       Tolerance tolerance) {
    WorldPtr world(OrvaneNewWorldPose(n));
    PosePtr scratch(OrvaneNewLocalPose(n));
    OrvaneSampleModelAnimationsAcceleratedLOD(instance, n, offset, scratch.get(), world.get(),
                                              allowedError);
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < 16; ++k)
            EXPECT_NEAR(OrvaneGetWorldPose4x4(world.get(), i)[k], reference[size_t(i) * 16 + k],
                        tolerance(i))
                << "bone " << i << " element " << k;
}

void ExpectDirectBuild(orvane_model_instance* instance, int n,
                       const std::vector<double>& reference) {
    ExpectDirectBuild(instance, n, nullptr, 0.0f, reference, [](int) { return 1e-4; });
}

TEST(ControlledDirectBuild, VariableDeltaBuildsTheRootWithoutItsMotion) {
    Character c;
    const int n = c.BoneCount();
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_control* control = PlayWithMode(c, instance, 0.0f, OrvaneAccumulationVariableDelta);
    OrvaneSetModelClock(instance, 1.3f);
    std::vector<orvane_transform> locals;
    for (int i = 0; i < n; ++i)
        locals.push_back(ReferenceLocal(c.skeleton, c.group, i, 1.3f, 2.0f, false, false));
    OrvaneMakeIdentity(&locals[0]);
    const std::vector<double> reference = ReferenceWorld(c.skeleton, locals);
    ExpectDirectBuild(instance, n, reference);
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(control);
}

TEST(ControlledDirectBuild, SkeletonsOfMoreThanTwoHundredAndFiftySixBonesBuildBoneByBone) {
    // Beyond 256 bones the direct build composes bone by bone; the root's motion is removed
    // there too, and bone 3 (no track) rests.
    Character c(300, 3);
    const int n = c.BoneCount();
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_control* control = PlayWithMode(c, instance, 0.0f, OrvaneAccumulationVariableDelta);
    ASSERT_NE(control, nullptr);
    OrvaneSetModelClock(instance, 0.7f);
    std::vector<orvane_transform> locals;
    for (int i = 0; i < n; ++i)
        locals.push_back(ReferenceLocal(c.skeleton, c.group, i, 0.7f, 2.0f, false, false));
    OrvaneMakeIdentity(&locals[0]);
    const std::vector<double> reference = ReferenceWorld(c.skeleton, locals);
    // The offset moves every bone by 5 along x.
    std::vector<double> moved = reference;
    for (int i = 0; i < n; ++i)
        moved[size_t(i) * 16 + 12] += 5.0;
    const float offset[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, 0, 0, 1};
    ExpectDirectBuild(instance, n, offset, 0.0f, moved, [](int i) { return 1e-5 * (i + 1); });
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(control);
}

TEST(ControlledDirectBuild, APlayedPoseKeepsItsScaleAndShear) {
    Character c;
    const int n = c.BoneCount();
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    PosePtr played(OrvaneNewLocalPose(n));
    std::vector<orvane_transform> locals;
    for (int i = 0; i < n; ++i) {
        orvane_transform* t = OrvaneGetLocalPoseTransform(played.get(), i);
        *t = c.skeleton->Bones[i].Transform;
        if (i == 1 || i == 4) {
            t->ScaleShear[0][0] = 1.5f;
            t->ScaleShear[0][1] = 0.25f;
            t->ScaleShear[2][2] = 0.5f;
            t->Flags |= OrvaneTransformHasScaleShear;
        }
        locals.push_back(*t);
    }
    orvane_control* control = OrvanePlayControlledPose(0.0f, 1.0f, played.get(), instance, nullptr);
    ASSERT_NE(control, nullptr);
    // A played pose is not weighed by the control: a light control builds the pose all the same.
    OrvaneSetControlWeight(control, 0.25f);
    const std::vector<double> reference = ReferenceWorld(c.skeleton, locals);
    ExpectDirectBuild(instance, n, reference);
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(control);
}

TEST(ControlledDirectBuild, TracksFadeTowardsTheirLODTransformWithinTheWindow) {
    // Allowed error 0.55 with the fading factor at 0.8: the window runs from 0.44 to 0.55. Bone
    // 1 (error 0.5) is 5/11 of the way to its LOD transform (its first key), bone 2 (error 0.1)
    // shows its LOD transform, the others (unbounded errors) are sampled.
    Character c;
    const int n = c.BoneCount();
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_control* control = OrvanePlayControlledAnimation(0.0f, &c.animation, instance);
    ASSERT_NE(control, nullptr);
    orvane_animation_binding* binding =
        OrvaneGetAnimationBindingFromControlBinding(OrvaneModelControlsBegin(instance));
    OrvaneSetLODErrorValue(binding, 1, 0.5f);
    OrvaneSetLODErrorValue(binding, 2, 0.1f);
    OrvaneSetModelClock(instance, 0.9f);
    std::vector<orvane_transform> locals;
    for (int i = 0; i < n; ++i)
        locals.push_back(ReferenceLocal(c.skeleton, c.group, i, 0.9f, 2.0f, false, false));
    const double f = (0.55 - 0.5) / (0.55 - 0.44);
    for (int bone = 1; bone <= 2; ++bone) {
        const double k = bone == 1 ? f : 1.0;
        orvane_transform& t = locals[size_t(bone)];
        const TrackValues& track = c.tracks[size_t(bone)];
        for (int i = 0; i < 3; ++i)
            t.Position[i] = float((1 - k) * t.Position[i] + k * track.positions[size_t(i)]);
        double q[4], length = 0;
        for (int i = 0; i < 4; ++i) {
            q[i] = (1 - k) * t.Orientation[i] + k * track.orientations[size_t(i)];
            length += q[i] * q[i];
        }
        for (int i = 0; i < 4; ++i)
            t.Orientation[i] = float(q[i] / std::sqrt(length));
    }
    const std::vector<double> reference = ReferenceWorld(c.skeleton, locals);
    ExpectDirectBuild(instance, n, nullptr, 0.55f, reference, [](int) { return 1e-4; });
    // The accumulation agrees.
    PosePtr pose(OrvaneNewLocalPose(n));
    OrvaneSampleModelAnimationsLOD(instance, 0, n, pose.get(), 0.55f);
    for (int i = 0; i < n; ++i) {
        SCOPED_TRACE(i);
        ExpectTransformNear(*OrvaneGetLocalPoseTransform(pose.get(), i), locals[size_t(i)], 1e-5f);
    }
    OrvaneResetLODErrorValues(binding);
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(control);
}

// ---- Controlled poses ----

TEST(ControlledPose, RefusedArgumentsAreLoggedAndCreateNoControl) {
    Character c;
    const int n = c.BoneCount();
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    PosePtr played(OrvaneNewLocalPose(n));
    orvane_test::LogCapture log;
    const orvane_control* before = OrvaneGetGlobalControlsBegin();
    EXPECT_EQ(OrvanePlayControlledPose(0.0f, 1.0f, nullptr, instance, nullptr), nullptr);
    EXPECT_EQ(OrvanePlayControlledPose(0.0f, 1.0f, played.get(), nullptr, nullptr), nullptr);
    EXPECT_EQ(OrvanePlayControlledPose(0.0f, -1.0f, played.get(), instance, nullptr), nullptr);
    EXPECT_EQ(OrvanePlayControlledPose(0.0f, std::numeric_limits<float>::infinity(), played.get(),
                                       instance, nullptr),
              nullptr);
    EXPECT_EQ(log.errors(), 4u);
    EXPECT_EQ(OrvaneGetGlobalControlsBegin(), before);
    EXPECT_EQ(OrvaneModelControlsBegin(instance), OrvaneModelControlsEnd(instance));
    OrvaneFreeModelInstance(instance);
}

// ---- Hostile content ----

TEST(ControlledHostileContent, APeriodicLoopThatIsNotFiniteIsRefused) {
    Character c;
    orvane_periodic_loop loop{};
    loop.dZ = 1.0f;
    loop.Axis[2] = 1.0f;
    loop.dAngle = std::numeric_limits<float>::quiet_NaN();
    c.group->PeriodicLoop = &loop;
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    {
        orvane_test::LogCapture log;
        orvane_controlled_animation_builder* b = OrvaneBeginControlledAnimation(0.0f, &c.animation);
        EXPECT_EQ(b, nullptr);
        EXPECT_EQ(log.errors(), 1u);
        if (b != nullptr) {
            // Played, it would hand the caller root motion that is not a number.
            OrvaneSetTrackGroupTarget(b, 0, instance);
            OrvaneSetTrackGroupAccumulation(b, 0, OrvaneAccumulationConstantLoop);
            orvane_control* control = OrvaneEndControlledAnimation(b);
            OrvaneSetControlLoopCount(control, 0);
            OrvaneSetModelClock(instance, 0.5f);
            float t[3], r[3];
            RootMotion(instance, 0.1f, t, r);
            for (int i = 0; i < 3; ++i) {
                EXPECT_TRUE(std::isfinite(t[i]));
                EXPECT_TRUE(std::isfinite(r[i]));
            }
            OrvaneFreeControl(control);
        }
    }
    loop.dAngle = 0.5f;
    loop.BasisX[0] = std::numeric_limits<float>::infinity();
    {
        orvane_test::LogCapture log;
        orvane_control* refused = OrvanePlayControlledAnimation(0.0f, &c.animation, instance);
        EXPECT_EQ(refused, nullptr);
        EXPECT_EQ(log.errors(), 1u);
        OrvaneFreeControl(refused);
    }
    // A finite loop plays.
    loop.BasisX[0] = 1.0f;
    orvane_control* control = OrvanePlayControlledAnimation(0.0f, &c.animation, instance);
    EXPECT_NE(control, nullptr);
    OrvaneFreeControl(control);
    OrvaneFreeModelInstance(instance);
    c.group->PeriodicLoop = nullptr;
}

}  // namespace

// Controls: the lazy local clock with its loops forward and back, loop counts, speeds,
// durations, target states, recentring, ease curves, effective weight, completion and the
// global LOD fading factor; root motion vector clipping and application.
#include <cmath>
#include <cstring>

#include <gtest/gtest.h>

#include "orvane/math.h"
#include "orvane/instance.h"

namespace {

struct ControlFixture : ::testing::Test {
    orvane_control* Make(float clock, float duration) {
        orvane_control* c = OrvaneCreateControl(clock, duration);
        made.push_back(c);
        return c;
    }
    ~ControlFixture() override {
        for (orvane_control* c : made)
            OrvaneFreeControl(c);
    }
    std::vector<orvane_control*> made;
};

using ControlClock = ControlFixture;

TEST_F(ControlClock, NewControlStartsActiveAtLocalZeroWithOneLoop) {
    orvane_control* c = Make(3.0f, 2.0f);
    EXPECT_TRUE(OrvaneControlIsActive(c));
    EXPECT_EQ(OrvaneGetControlClock(c), 3.0f);
    EXPECT_EQ(OrvaneGetControlRawLocalClock(c), 0.0f);
    EXPECT_EQ(OrvaneGetControlSpeed(c), 1.0f);
    EXPECT_EQ(OrvaneGetControlWeight(c), 1.0f);
    EXPECT_EQ(OrvaneGetControlLoopCount(c), 1);
    EXPECT_EQ(OrvaneGetControlLocalDuration(c), 2.0f);
    EXPECT_FALSE(OrvaneControlIsComplete(c));
    EXPECT_EQ(OrvaneGetControlEffectiveWeight(c), 1.0f);
}

TEST_F(ControlClock, ForeverLoopingWrapsForwardAndBack) {
    orvane_control* c = Make(0.0f, 2.0f);
    OrvaneSetControlLoopCount(c, 0);
    OrvaneSetControlClock(c, 5.0f);
    EXPECT_EQ(OrvaneGetControlLoopIndex(c), 2);
    EXPECT_FLOAT_EQ(OrvaneGetControlRawLocalClock(c), 1.0f);

    orvane_control* back = Make(0.0f, 2.0f);
    OrvaneSetControlLoopCount(back, 0);
    OrvaneSetControlClock(back, -0.5f);
    EXPECT_EQ(OrvaneGetControlLoopIndex(back), -1);
    EXPECT_FLOAT_EQ(OrvaneGetControlRawLocalClock(back), 1.5f);
    bool before, after;
    OrvaneGetControlLoopState(back, &before, &after);
    EXPECT_TRUE(before);
    EXPECT_TRUE(after);
}

TEST_F(ControlClock, OneLoopRunsPastTheEnd) {
    orvane_control* c = Make(0.0f, 2.0f);
    OrvaneSetControlClock(c, 5.0f);
    EXPECT_EQ(OrvaneGetControlLoopIndex(c), 0);
    EXPECT_FLOAT_EQ(OrvaneGetControlRawLocalClock(c), 5.0f);
    EXPECT_FLOAT_EQ(OrvaneGetControlClampedLocalClock(c), 2.0f);
    EXPECT_FLOAT_EQ(OrvaneGetControlDurationLeft(c), -3.0f);
    bool before = true, after = true;
    OrvaneGetControlLoopState(c, &before, &after);
    EXPECT_FALSE(before);
    EXPECT_FALSE(after);
}

TEST_F(ControlClock, LoopCountClampsTheLoopIndex) {
    orvane_control* c = Make(0.0f, 2.0f);
    OrvaneSetControlLoopCount(c, 3);
    OrvaneSetControlClock(c, 5.0f);
    EXPECT_EQ(OrvaneGetControlLoopIndex(c), 2);
    EXPECT_FLOAT_EQ(OrvaneGetControlRawLocalClock(c), 1.0f);
    EXPECT_FLOAT_EQ(OrvaneGetControlDuration(c), 6.0f);
    EXPECT_FLOAT_EQ(OrvaneGetControlDurationLeft(c), 1.0f);
    // Far past the last loop the index stays at the last one.
    OrvaneSetControlClock(c, 50.0f);
    EXPECT_EQ(OrvaneGetControlLoopIndex(c), 2);
    EXPECT_FLOAT_EQ(OrvaneGetControlRawLocalClock(c), 46.0f);
}

TEST_F(ControlClock, NegativeSpeedCountsLoopsDown) {
    orvane_control* c = Make(0.0f, 2.0f);
    OrvaneSetControlLoopCount(c, 3);
    OrvaneSetControlSpeed(c, -1.0f);
    OrvaneSetControlLoopIndex(c, 2);
    OrvaneSetControlRawLocalClock(c, 0.5f);
    OrvaneSetControlClock(c, 1.0f);
    EXPECT_EQ(OrvaneGetControlLoopIndex(c), 1);
    EXPECT_FLOAT_EQ(OrvaneGetControlRawLocalClock(c), 1.5f);
    EXPECT_FLOAT_EQ(OrvaneGetControlDuration(c), 6.0f);
    // -s * D * LoopIndex - s * L with s = -1.
    EXPECT_FLOAT_EQ(OrvaneGetControlDurationLeft(c), 2.0f + 1.5f);
}

TEST_F(ControlClock, SpeedAppliesToThePendingDelta) {
    orvane_control* c = Make(0.0f, 10.0f);
    OrvaneSetControlClock(c, 1.0f);
    OrvaneSetControlSpeed(c, 2.0f);
    EXPECT_FLOAT_EQ(OrvaneGetControlRawLocalClock(c), 2.0f);
    OrvaneSetControlClockOnly(c, 5.0f);
    EXPECT_FLOAT_EQ(OrvaneGetControlRawLocalClock(c), 2.0f);
    OrvaneSetControlClock(c, 5.5f);
    EXPECT_FLOAT_EQ(OrvaneGetControlRawLocalClock(c), 3.0f);
    OrvaneSetControlSpeed(c, 0.0f);
    EXPECT_EQ(OrvaneGetControlDuration(c), ORVANE_UNBOUNDED_REAL32);
}

TEST_F(ControlClock, ZeroDurationNeverDividesByZero) {
    orvane_control* c = Make(0.0f, 0.0f);
    OrvaneSetControlLoopCount(c, 0);
    OrvaneSetControlClock(c, 3.0f);
    EXPECT_EQ(OrvaneGetControlLoopIndex(c), 0);
    EXPECT_FLOAT_EQ(OrvaneGetControlRawLocalClock(c), 3.0f);
    EXPECT_EQ(OrvaneGetControlClampedLocalClock(c), 0.0f);
}

TEST_F(ControlClock, HugeClocksKeepTheLoopIndexInRange) {
    orvane_control* c = Make(0.0f, 1e-6f);
    OrvaneSetControlLoopCount(c, 0);
    OrvaneSetControlClock(c, 1e30f);
    const int32_t index = OrvaneGetControlLoopIndex(c);
    EXPECT_EQ(index, INT32_MAX);
    EXPECT_TRUE(std::isfinite(OrvaneGetControlRawLocalClock(c)));
}

TEST_F(ControlClock, TargetStateReachesTheTargetWhenAdvanced) {
    orvane_control* c = Make(0.0f, 2.0f);
    OrvaneSetControlLoopCount(c, 0);
    OrvaneSetControlTargetState(c, 10.0f, 13.0f, 0.5f, 4);
    OrvaneSetControlClock(c, 13.0f);
    EXPECT_EQ(OrvaneGetControlLoopIndex(c), 4);
    EXPECT_NEAR(OrvaneGetControlRawLocalClock(c), 0.5f, 1e-5f);
}

TEST_F(ControlClock, RecentringChangesNothingObserved) {
    orvane_control* c = Make(100.0f, 2.0f);
    OrvaneSetControlLoopCount(c, 0);
    OrvaneCompleteControlAt(c, 104.0f);
    OrvaneEaseControlIn(c, 1.0f, false);
    OrvaneSetControlClock(c, 100.5f);
    const float weight = OrvaneGetControlEffectiveWeight(c);
    const float local = OrvaneGetControlRawLocalClock(c);
    OrvaneRecenterControlClocks(c, -100.0f);
    EXPECT_FLOAT_EQ(OrvaneGetControlClock(c), 0.5f);
    EXPECT_FLOAT_EQ(OrvaneGetControlCompletionClock(c), 4.0f);
    EXPECT_FLOAT_EQ(OrvaneGetControlEffectiveWeight(c), weight);
    EXPECT_FLOAT_EQ(OrvaneGetControlRawLocalClock(c), local);
    OrvaneRecenterAllControlClocks(1.0f);
    EXPECT_FLOAT_EQ(OrvaneGetControlClock(c), 1.5f);
}

TEST_F(ControlClock, CompletionIsAFlagTest) {
    orvane_control* c = OrvaneCreateControl(0.0f, 1.0f);
    EXPECT_FALSE(OrvaneFreeControlIfComplete(c));
    OrvaneCompleteControlAt(c, 2.0f);
    EXPECT_TRUE(OrvaneGetControlCompletionCheckFlag(c));
    OrvaneSetControlClock(c, 1.9f);
    EXPECT_FALSE(OrvaneControlIsComplete(c));
    OrvaneSetControlClock(c, 2.0f);
    EXPECT_TRUE(OrvaneControlIsComplete(c));
    OrvaneSetControlCompletionCheckFlag(c, false);
    EXPECT_FALSE(OrvaneControlIsComplete(c));
    OrvaneSetControlCompletionCheckFlag(c, true);
    EXPECT_TRUE(OrvaneFreeControlIfComplete(c));
}

TEST_F(ControlClock, FreeOnceUnusedFreesAnUnboundControlAtOnce) {
    const orvane_control* before = OrvaneGetGlobalControlsBegin();
    orvane_control* c = OrvaneCreateControl(0.0f, 1.0f);
    EXPECT_EQ(OrvaneGetGlobalControlsBegin(), c);
    EXPECT_EQ(OrvaneGetGlobalNextControl(c), before);
    OrvaneFreeControlOnceUnused(c);
    EXPECT_EQ(OrvaneGetGlobalControlsBegin(), before);
    EXPECT_EQ(OrvaneGetGlobalNextControl(nullptr), nullptr);
}

using EaseCurves = ControlFixture;

TEST_F(EaseCurves, DefaultEaseInRisesSmoothly) {
    orvane_control* c = Make(10.0f, 5.0f);
    EXPECT_FLOAT_EQ(OrvaneEaseControlIn(c, 2.0f, false), 12.0f);
    EXPECT_NEAR(OrvaneGetControlEaseCurveMultiplier(c), 0.0f, 1e-6f);
    OrvaneSetControlClock(c, 11.0f);
    EXPECT_NEAR(OrvaneGetControlEaseCurveMultiplier(c), 0.5f, 1e-6f);
    OrvaneSetControlClock(c, 12.0f);
    EXPECT_NEAR(OrvaneGetControlEaseCurveMultiplier(c), 1.0f, 1e-6f);
    OrvaneSetControlClock(c, 20.0f);
    EXPECT_NEAR(OrvaneGetControlEaseCurveMultiplier(c), 1.0f, 1e-6f);
    OrvaneSetControlWeight(c, 0.5f);
    EXPECT_NEAR(OrvaneGetControlEffectiveWeight(c), 0.5f, 1e-6f);
    OrvaneSetControlActive(c, false);
    EXPECT_EQ(OrvaneGetControlEffectiveWeight(c), 0.0f);
}

TEST_F(EaseCurves, EaseOutStartsFromThePresentMultiplier) {
    orvane_control* c = Make(10.0f, 5.0f);
    OrvaneEaseControlIn(c, 2.0f, false);
    OrvaneSetControlClock(c, 11.0f);
    const float m = OrvaneGetControlEaseCurveMultiplier(c);
    EXPECT_FLOAT_EQ(OrvaneEaseControlOut(c, 1.0f), 12.0f);
    // Stored in 1/255 steps.
    EXPECT_NEAR(OrvaneGetControlEaseCurveMultiplier(c), m, 1.0f / 255.0f);
    OrvaneSetControlClock(c, 12.0f);
    EXPECT_NEAR(OrvaneGetControlEaseCurveMultiplier(c), 0.0f, 1e-6f);
}

TEST_F(EaseCurves, EaseOutBeforeEaseInBridgesTheGapLinearly) {
    orvane_control* c = Make(0.0f, 5.0f);
    OrvaneSetControlEaseOutCurve(c, 0.0f, 1.0f, 1.0f, 1.0f, 0.2f, 0.2f);
    OrvaneSetControlEaseInCurve(c, 3.0f, 4.0f, 0.6f, 0.6f, 1.0f, 1.0f);
    OrvaneSetControlEaseIn(c, true);
    OrvaneSetControlEaseOut(c, true);
    OrvaneSetControlClock(c, 2.0f);
    // Halfway between the end of the ease-out (0.2) and the start of the ease-in (0.6).
    EXPECT_NEAR(OrvaneGetControlEaseCurveMultiplier(c), 0.4f, 2.0f / 255.0f);
    OrvaneSetControlClock(c, 5.0f);
    EXPECT_FLOAT_EQ(OrvaneGetControlEaseCurveMultiplier(c), 1.0f);
}

TEST_F(EaseCurves, OutOfRangeValuesAreClampedNotSpilled) {
    orvane_control* c = Make(0.0f, 5.0f);
    // 2.0 would overflow its byte into V1's; clamped it stays 1.0 and V1 stays 0.
    OrvaneSetControlEaseInCurve(c, 0.0f, 1.0f, 2.0f, 0.0f, -1.0f, 0.0f);
    OrvaneSetControlEaseIn(c, true);
    EXPECT_FLOAT_EQ(OrvaneGetControlEaseCurveMultiplier(c), 1.0f);
    OrvaneSetControlClock(c, 1.0f);
    EXPECT_FLOAT_EQ(OrvaneGetControlEaseCurveMultiplier(c), 0.0f);
}

TEST(LODFadingFactor, IsClampedToTheUnitInterval) {
    const float saved = OrvaneGetGlobalLODFadingFactor();
    EXPECT_FLOAT_EQ(saved, 0.8f);
    OrvaneSetGlobalLODFadingFactor(1.5f);
    EXPECT_EQ(OrvaneGetGlobalLODFadingFactor(), 1.0f);
    OrvaneSetGlobalLODFadingFactor(-1.0f);
    EXPECT_EQ(OrvaneGetGlobalLODFadingFactor(), 0.0f);
    OrvaneSetGlobalLODFadingFactor(saved);
}

TEST(RootMotionClipping, DOFsZeroWhatIsNotAllowed) {
    float v[3] = {1, 2, 3};
    EXPECT_TRUE(OrvaneClipPositionDOFs(v, OrvaneYTranslation));
    EXPECT_EQ(v[0], 0.0f);
    EXPECT_EQ(v[1], 2.0f);
    EXPECT_EQ(v[2], 0.0f);
    EXPECT_FALSE(OrvaneClipAngularVelocityDOFs(v, OrvaneAllDOFs & ~uint32_t(56)));
    EXPECT_EQ(v[1], 0.0f);

    float t[3] = {1, 2, 3}, r[3] = {0.1f, 0.2f, 0.3f};
    float at[3], ar[3], dt[3], dr[3];
    OrvaneClipRootMotionVectors(t, r, 0, at, ar, dt, dr);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(at[i], 0.0f);
        EXPECT_EQ(ar[i], 0.0f);
        EXPECT_EQ(dt[i], t[i]);
        EXPECT_EQ(dr[i], r[i]);
    }
}

TEST(RootMotionClipping, OrientationIsRenormalisedAndNeverNaN) {
    float q[4] = {0.5f, 0.5f, 0.5f, 0.5f};
    EXPECT_TRUE(OrvaneClipOrientationDOFs(q, OrvaneZRotation));
    EXPECT_NEAR(q[2], 1.0f / std::sqrt(2.0f), 1e-6f);
    EXPECT_NEAR(q[3], 1.0f / std::sqrt(2.0f), 1e-6f);
    // A half turn about x clipped to z leaves nothing to normalise.
    float half[4] = {1, 0, 0, 0};
    EXPECT_TRUE(OrvaneClipOrientationDOFs(half, OrvaneZRotation));
    EXPECT_EQ(half[3], 1.0f);
    EXPECT_FALSE(std::isnan(half[0]));
    float none[4] = {0.3f, 0.3f, 0.3f, 0.8f};
    EXPECT_FALSE(OrvaneClipOrientationDOFs(none, OrvaneXTranslation));
    EXPECT_EQ(none[3], 1.0f);

    orvane_transform x;
    const float p[3] = {1, 2, 3}, o[4] = {0, 0, 0.6f, 0.8f}, s[9] = {2, 0.1f, 0, 0, 3, 0, 0, 0, 4};
    OrvaneSetTransform(&x, p, o, s);
    OrvaneClipTransformDOFs(&x, OrvaneXTranslation | OrvaneYScaleShear);
    EXPECT_EQ(x.Flags, uint32_t(OrvaneTransformHasPosition | OrvaneTransformHasScaleShear));
    EXPECT_EQ(x.Position[1], 0.0f);
    EXPECT_EQ(x.Orientation[3], 1.0f);
    EXPECT_EQ(x.ScaleShear[0][0], 1.0f);  // column 0 cleared to (1, 0, 0)
    EXPECT_EQ(x.ScaleShear[0][1], 0.1f);  // column 1 kept
    EXPECT_EQ(x.ScaleShear[2][2], 1.0f);
}

TEST(RootMotionApplication, MatrixGetsTheRigidMotionFirst) {
    const float model[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, 0, 0, 1};
    const float t[3] = {1, 0, 0};
    const float r[3] = {0, 0, float(M_PI / 2)};
    float dest[16];
    OrvaneApplyRootMotionVectorsToMatrix(model, t, r, dest);
    // The point (1, 0, 0) rotates to (0, 1, 0), moves by T to (1, 1, 0), then by the model.
    const float v[4] = {1, 0, 0, 1};
    float out[3] = {0, 0, 0};
    for (int c = 0; c < 3; ++c)
        for (int k = 0; k < 4; ++k)
            out[c] += v[k] * dest[k * 4 + c];
    EXPECT_NEAR(out[0], 6.0f, 1e-5f);
    EXPECT_NEAR(out[1], 1.0f, 1e-5f);
    EXPECT_NEAR(out[2], 0.0f, 1e-5f);
    // In place.
    float same[16];
    std::memcpy(same, model, sizeof(same));
    OrvaneApplyRootMotionVectorsToMatrix(same, t, r, same);
    for (int i = 0; i < 16; ++i)
        EXPECT_FLOAT_EQ(same[i], dest[i]);
}

TEST(RootMotionApplication, LocalPoseRootMovesAndTurns) {
    orvane_local_pose* pose = OrvaneNewLocalPose(2);
    orvane_transform* root = OrvaneGetLocalPoseTransform(pose, 0);
    OrvaneMakeIdentity(root);
    root->Position[0] = 1.0f;
    const float t[3] = {0, 2, 0}, r[3] = {0, 0, float(M_PI)};
    OrvaneApplyRootMotionVectorsToLocalPose(pose, t, r);
    EXPECT_FLOAT_EQ(root->Position[1], 2.0f);
    EXPECT_NEAR(root->Orientation[2], 1.0f, 1e-6f);
    EXPECT_NEAR(root->Orientation[3], 0.0f, 1e-6f);
    OrvaneFreeLocalPose(pose);
}

}  // namespace

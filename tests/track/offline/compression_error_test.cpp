// The compressor's error measures: a bone turned away from its samples is off at its shell
// points and, weighed up by kChildWeight, at its children's origins by the chord of the turn
// (2 r sin(angle / 2) at distance r from the axis), at the frames and halfway between them; a
// transform that is not finite never holds a budget.
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "orvane/math.h"
#include "orvane/track_group_builder.h"
#include "orvane/types.h"
#include "track/offline/orvane_compression_error.h"
#include "track/offline/orvane_compression_work.h"

namespace {

using orvane::compression::BoneError;
using orvane::compression::kChildWeight;
using orvane::compression::MidDrift;
using orvane::compression::ShellBends;
using orvane::compression::Work;

constexpr int kFrames = 5;
constexpr float kShell = 3.0f;
constexpr float kChildLength = 10.0f;  // the child's origin on the root's y axis
const float kRootPosition[3] = {1.0f, 2.0f, 3.0f};
const float kIdentityOrientation[4] = {0.0f, 0.0f, 0.0f, 1.0f};
const float kIdentityScale[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};

// The chord that a point r from the axis moves along when turned by the angle.
double Chord(double r, double angle) {
    return 2.0 * r * std::sin(0.5 * angle);
}

// The root's turn about z at frame f (f + 0.5 halfway to the next).
double Angle(double f) {
    return 0.05 * (f + 1.0);
}

// A root and its child, still in the samples; the root's local transforms (work.local,
// work.localMid) turned about its z axis by Angle.
struct TwoBones : ::testing::Test {
    orvane_bone bones[2] = {};
    orvane_skeleton skeleton = {};
    orvane_track_group_sampler* sampler = nullptr;
    std::vector<orvane_transform> rawObject, compObject, rawMid, compMid, local, localMid;
    std::vector<float> shellPoints, shellBend, ranks, frameErrors;
    Work work{};

    void SetUp() override {
        bones[0].ParentIndex = -1;
        bones[1].ParentIndex = 0;
        skeleton.BoneCount = 2;
        skeleton.Bones = bones;
        const float childPosition[3] = {0.0f, kChildLength, 0.0f};
        sampler = OrvaneBeginSampledAnimation(2, kFrames);
        ASSERT_NE(sampler, nullptr);
        for (int f = 0; f < kFrames; ++f) {
            OrvaneSetTransformSample(sampler, 0, kRootPosition, kIdentityOrientation,
                                     kIdentityScale);
            OrvaneSetTransformSample(sampler, 1, childPosition, kIdentityOrientation,
                                     kIdentityScale);
            OrvanePushSampledFrame(sampler);
        }
        orvane_transform root, child;
        OrvaneSetTransform(&root, kRootPosition, kIdentityOrientation, kIdentityScale);
        const float childObject[3] = {kRootPosition[0], kRootPosition[1] + kChildLength,
                                      kRootPosition[2]};
        OrvaneSetTransform(&child, childObject, kIdentityOrientation, kIdentityScale);
        rawObject.assign(2 * kFrames, root);
        rawMid.assign(2 * (kFrames - 1), root);
        for (int f = 0; f < kFrames; ++f)
            rawObject[kFrames + f] = child;
        for (int f = 0; f + 1 < kFrames; ++f)
            rawMid[(kFrames - 1) + f] = child;
        compObject.resize(2 * kFrames);
        compMid.resize(2 * (kFrames - 1));
        local.resize(kFrames);
        localMid.resize(kFrames - 1);
        for (int f = 0; f < kFrames; ++f)
            local[f] = Turned(Angle(f));
        for (int f = 0; f + 1 < kFrames; ++f)
            localMid[f] = Turned(Angle(f + 0.5));
        shellPoints.resize(9 * kFrames);
        shellBend.resize(kFrames);
        ranks.resize(kFrames);
        frameErrors.assign(2 * kFrames, -1.0f);
        work.boneCount = 2;
        work.sampleCount = kFrames;
        work.rawObject = rawObject.data();
        work.compObject = compObject.data();
        work.rawMid = rawMid.data();
        work.compMid = compMid.data();
        work.local = local.data();
        work.localMid = localMid.data();
        work.shellPoints = shellPoints.data();
        work.shellBend = shellBend.data();
        work.ranks = ranks.data();
        work.frameErrors = frameErrors.data();
    }
    void TearDown() override { OrvaneEndSampledAnimation(sampler); }

    static orvane_transform Turned(double angle) {
        const float q[4] = {0.0f, 0.0f, float(std::sin(0.5 * angle)), float(std::cos(0.5 * angle))};
        orvane_transform t;
        OrvaneSetTransform(&t, kRootPosition, q, kIdentityScale);
        return t;
    }
};

TEST_F(TwoBones, TurnCostsItsChordAtTheShellAndWeighedUpAtTheChildren) {
    ShellBends(work, 0, kShell);
    for (int f = 1; f < kFrames; ++f)
        EXPECT_NEAR(shellBend[f], 0.0f, 1e-6f) << "still samples bend nowhere";
    float worstShell = 0.0f, worstMid = 0.0f;
    const float error = BoneError(work, &skeleton, sampler, 0, kShell, &worstShell, &worstMid);
    const double last = Angle(kFrames - 1), lastMid = Angle(kFrames - 1.5);
    EXPECT_NEAR(worstShell, Chord(kShell, last), 1e-5);
    // The child's origin is farther from the axis than the shell and weighs more.
    EXPECT_NEAR(error, kChildWeight * Chord(kChildLength, last), 1e-5);
    EXPECT_NEAR(worstMid, kChildWeight * Chord(kChildLength, lastMid), 1e-5);
    for (int f = 0; f < kFrames; ++f)
        EXPECT_NEAR(frameErrors[f], Chord(kShell, Angle(f)), 1e-5) << "frame " << f;
    EXPECT_EQ(frameErrors[kFrames], -1.0f) << "the child's row is left alone";
    // The compressed object transforms written on the way: the shell halfway between frames
    // drifts by the turn's chord there, without the children.
    EXPECT_NEAR(MidDrift(work, 0, kShell), Chord(kShell, lastMid), 1e-5);
}

TEST_F(TwoBones, NonFiniteTransformNeverHoldsABudget) {
    ShellBends(work, 0, kShell);
    local[2].Position[0] = std::nanf("");
    localMid[1].Orientation[2] = std::nanf("");
    float worstShell = 0.0f, worstMid = 0.0f;
    const float error = BoneError(work, &skeleton, sampler, 0, kShell, &worstShell, &worstMid);
    EXPECT_GE(error, 3.0e38f);
    EXPECT_GE(worstShell, 3.0e38f);
    EXPECT_GE(worstMid, 3.0e38f);
    EXPECT_GE(MidDrift(work, 0, kShell), 3.0e38f);
}

}  // namespace

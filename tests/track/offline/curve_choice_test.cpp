// The compressor's choice of a component's curve: a straight line keeps only its ends and a
// bent one a knot where it turns; a smooth signal comes back within the tolerance at every
// frame, smaller than the samples; with no format allowed the samples come back as they are;
// a still component keeps its value, whichever sign its orientations were stored with; a
// constant takes the nearest remembered one within its radius.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "curve/orvane_curve.h"
#include "orvane/bspline.h"
#include "orvane/curve.h"
#include "orvane/curve_builder.h"
#include "orvane/fit.h"
#include "track/offline/orvane_compression_work.h"
#include "track/offline/orvane_curve_choice.h"

namespace {

using orvane::compression::Choice;
using orvane::compression::ChooseCurve;
using orvane::compression::ExactCurve;
using orvane::compression::Release;
using orvane::compression::RememberConstant;
using orvane::compression::SnapToPool;
using orvane::compression::StillCurve;
using orvane::compression::StillValue;
using orvane::compression::Work;

constexpr int kFrames = 41;
constexpr float kStep = 1.0f / 30.0f;
constexpr uint32_t kDegrees = (1u << 1) | (1u << 2) | (1u << 3);

// The component's value at every frame from the curve, as playing it gives it.
std::vector<float> Played(const orvane_curve2* curve, int dimension) {
    std::vector<float> values(size_t(kFrames) * size_t(dimension));
    for (int f = 0; f < kFrames; ++f)
        OrvaneEvaluateCurveAtT(dimension, false, false, curve, false, float(kFrames - 1) * kStep,
                               float(f) * kStep, &values[size_t(f) * size_t(dimension)], nullptr);
    return values;
}

// The largest distance between two runs of positions.
float Farthest(const std::vector<float>& a, const std::vector<float>& b) {
    float worst = 0.0f;
    for (size_t f = 0; f < a.size() / 3; ++f) {
        const float dx = a[3 * f] - b[3 * f], dy = a[3 * f + 1] - b[3 * f + 1],
                    dz = a[3 * f + 2] - b[3 * f + 2];
        worst = std::max(worst, std::sqrt(dx * dx + dy * dy + dz * dz));
    }
    return worst;
}

// The working memory a position's choice uses, sized as the compressor sizes it, with the
// targets halfway between frames the samples interpolated.
struct PositionChoice : ::testing::Test {
    std::vector<float> samples = std::vector<float>(size_t(kFrames) * 3);
    std::vector<float> controls, ranks, frameTimes, lineKnots, lineControls, chosenKnots, midTarget,
        midBend, fitKnots, newKnots, encodeKnots, storedKnots, decoded;
    std::vector<uint8_t> failed;
    std::vector<double> curveBuffer;
    Work work{};

    void SetUp() override {
        const int32_t maxKnots = OrvaneGetMaximumKnotCountForSampleCount(3, kFrames);
        const size_t knots = 3 * size_t(kFrames) + 8;
        orvane_curve_builder sizing;
        ASSERT_TRUE(orvane::InitializeCurveBuilder(&sizing, OrvaneCurveDataDaK32fC32fType, 3, 9,
                                                   int32_t(knots)));
        work.curveBufferSize = OrvaneGetResultingCurveDataSize(&sizing);
        curveBuffer.resize(size_t(work.curveBufferSize) / sizeof(double) + 1);
        work.curveBuffer = curveBuffer.data();
        work.solver = OrvaneAllocateBSplineSolver(3, kFrames, 9);
        ASSERT_NE(work.solver, nullptr);
        work.sampleCount = kFrames;
        work.timeStep = kStep;
        work.duration = float(kFrames - 1) * kStep;
        work.controls = Sized(controls, size_t(maxKnots) * 9);
        work.ranks = Sized(ranks, size_t(maxKnots));
        work.frameTimes = Sized(frameTimes, kFrames);
        for (int f = 0; f < kFrames; ++f)
            frameTimes[f] = float(f) * kStep;
        work.lineKnots = Sized(lineKnots, kFrames);
        work.lineControls = Sized(lineControls, size_t(kFrames) * 9);
        work.chosenKnots = Sized(chosenKnots, knots);
        work.midTarget[0] = Sized(midTarget, size_t(kFrames - 1) * 3);
        work.midBend = Sized(midBend, kFrames);
        work.fitKnots = Sized(fitKnots, knots);
        work.newKnots = Sized(newKnots, knots);
        work.encodeKnots = Sized(encodeKnots, knots);
        work.storedKnots = Sized(storedKnots, knots + 10) + 5;
        work.decoded = Sized(decoded, knots * 9);
        failed.resize(knots);
        work.failed = failed.data();
        work.scratch.CurveData = {nullptr, nullptr};
    }
    void TearDown() override { OrvaneDeallocateBSplineSolver(work.solver); }

    static float* Sized(std::vector<float>& v, size_t n) {
        v.assign(n, 0.0f);
        return v.data();
    }

    // The samples set, the targets halfway between frames from them.
    void Interpolate() {
        for (size_t i = 0; i < midTarget.size(); ++i)
            midTarget[i] = 0.5f * (samples[i] + samples[i + 3]);
    }

    Choice Choose(float tolerance, uint32_t formats, uint32_t degrees) {
        Interpolate();
        return ChooseCurve(work, 0, samples.data(), tolerance, tolerance, formats, degrees);
    }
};

TEST_F(PositionChoice, PolylineKeepsTheEndsOfAStraightLineAndAKnotWhereItTurns) {
    for (int f = 0; f < kFrames; ++f) {
        samples[3 * f] = 1.0f + 0.5f * float(f);
        samples[3 * f + 1] = -2.0f + 0.25f * float(f);
        samples[3 * f + 2] = 3.0f;
    }
    const uint32_t plain = 1u << OrvaneCurveFormatDaK32fC32f;
    Choice line = Choose(0.001f, plain, 1u << 1);
    ASSERT_NE(line.curve, nullptr);
    EXPECT_FALSE(line.exact);
    EXPECT_EQ(OrvaneCurveGetDegree(line.curve), 1);
    EXPECT_EQ(OrvaneCurveGetKnotCount(line.curve), 2);
    EXPECT_LE(Farthest(Played(line.curve, 3), samples), 1e-4f);
    Release(line);
    EXPECT_EQ(line.curve, nullptr);

    // Turned back at frame 15.
    for (int f = 16; f < kFrames; ++f) {
        samples[3 * f] = samples[3 * 15] - 0.5f * float(f - 15);
        samples[3 * f + 2] = 3.0f + 0.75f * float(f - 15);
    }
    Choice bent = Choose(0.001f, plain, 1u << 1);
    ASSERT_NE(bent.curve, nullptr);
    ASSERT_EQ(OrvaneCurveGetKnotCount(bent.curve), 3);
    float knots[3];
    OrvaneCurveExtractKnotValues(bent.curve, 0, 3, knots, nullptr, nullptr);
    EXPECT_FLOAT_EQ(knots[0], 0.0f);
    EXPECT_NEAR(knots[1], 15.0f * kStep, 1e-6f);
    EXPECT_NEAR(knots[2], float(kFrames - 1) * kStep, 1e-6f);
    EXPECT_LE(Farthest(Played(bent.curve, 3), samples), 1e-4f);
    Release(bent);
}

TEST_F(PositionChoice, SmoothMotionHoldsEveryFrameInFewerBytesThanTheSamples) {
    for (int f = 0; f < kFrames; ++f) {
        const double t = double(f) * kStep;
        samples[3 * f] = float(10.0 * std::sin(3.0 * t));
        samples[3 * f + 1] = float(5.0 * std::cos(2.0 * t) + t);
        samples[3 * f + 2] = float(2.0 * t * t);
    }
    Choice exact = ExactCurve(work, 0, samples.data());
    ASSERT_NE(exact.curve, nullptr);
    const uint32_t formats = 0xFFFFu & ~(1u << OrvaneCurveFormatDaKeyframes32f);
    for (float tolerance : {0.001f, 0.01f, 0.1f}) {
        Choice choice = Choose(tolerance, formats, kDegrees);
        ASSERT_NE(choice.curve, nullptr);
        EXPECT_FALSE(choice.exact) << tolerance;
        EXPECT_LT(choice.bytes, exact.bytes) << tolerance;
        const float played = Farthest(Played(choice.curve, 3), samples);
        EXPECT_LE(played, tolerance * 1.0001f) << tolerance;
        EXPECT_LE(choice.error, tolerance) << tolerance;
        EXPECT_NEAR(choice.error, played, 1e-3f * tolerance) << tolerance;
        Release(choice);
    }
    Release(exact);
}

TEST_F(PositionChoice, NothingAllowedGivesTheSamplesBack) {
    for (int f = 0; f < kFrames; ++f)
        for (int c = 0; c < 3; ++c)
            samples[3 * f + c] = float((f * 7 + c * 3) % 11) - 5.0f;
    Choice choice = Choose(0.5f, 0u, kDegrees);
    ASSERT_NE(choice.curve, nullptr);
    EXPECT_TRUE(choice.exact);
    EXPECT_TRUE(OrvaneCurveIsTypeDaK32fC32f(choice.curve));
    EXPECT_EQ(Played(choice.curve, 3), samples);
    Release(choice);
}

TEST(StillComponent, KeepsItsValueWhicheverSignItsOrientationsHave) {
    const float q[4] = {0.1f, -0.7f, 0.1f, 0.7f};
    const float length = std::sqrt(0.01f + 0.49f + 0.01f + 0.49f);
    std::vector<float> orientations;
    for (int f = 0; f < 6; ++f)
        for (int c = 0; c < 4; ++c)
            orientations.push_back((f % 2 ? -q[c] : q[c]) / length);
    float value[4];
    EXPECT_NEAR(StillValue(orientations.data(), 6, 4, true, value), 0.0f, 1e-6f);
    for (int c = 0; c < 4; ++c)
        EXPECT_NEAR(value[c], q[c] / length, 1e-6f);

    const float position[3] = {1.0f, -2.0f, 0.5f};
    std::vector<float> positions;
    for (int f = 0; f < 5; ++f)
        positions.insert(positions.end(), position, position + 3);
    float still[3];
    EXPECT_EQ(StillValue(positions.data(), 5, 3, false, still), 0.0f);
    Choice constant = StillCurve(0, still, 0.5f);
    ASSERT_NE(constant.curve, nullptr);
    EXPECT_TRUE(OrvaneCurveIsConstantNotIdentity(constant.curve));
    float played[3];
    OrvaneEvaluateCurveAtT(3, false, false, constant.curve, false, 1.0f, 0.5f, played, nullptr);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(played[c], position[c]);
    Release(constant);

    // The identity turned by a full turn is the identity.
    const float turned[4] = {0.0f, 0.0f, 0.0f, -1.0f};
    Choice identity = StillCurve(1, turned, 1e-6f);
    ASSERT_NE(identity.curve, nullptr);
    EXPECT_TRUE(OrvaneCurveIsIdentity(identity.curve));
    Release(identity);
}

// Constants chosen for earlier bones are remembered once each; a later value takes the nearest
// of them within the radius, of its own dimension only, and keeps its own beyond it.
TEST(ConstantPool, GivesTheNearestRememberedConstantWithinTheRadius) {
    std::vector<float> pool(16 * orvane::compression::kPoolStride);
    Work work{};
    work.pool = pool.data();
    work.poolCapacity = 16;
    const float a[3] = {1.0f, 2.0f, 3.0f}, b[3] = {1.0f, 2.0f, 3.5f};
    const float zero = 0.0f;
    for (const float* v : {a, b, a}) {
        Choice c;
        c.curve = [&] {
            orvane_curve_builder* builder =
                OrvaneBeginCurve(OrvaneCurveDataD3Constant32fType, 0, 3, 1);
            OrvanePushCurveKnotArray(builder, &zero);
            OrvanePushCurveControlArray(builder, v);
            return OrvaneEndCurve(builder);
        }();
        ASSERT_NE(c.curve, nullptr);
        RememberConstant(work, c.curve);
        Release(c);
    }
    EXPECT_EQ(work.poolCount, 2);  // a once
    float near[3] = {1.0f, 2.0f, 3.3f};
    EXPECT_TRUE(SnapToPool(work, 3, 0.25f, near));
    EXPECT_EQ(near[2], 3.5f);  // b, 0.2 away, before a, 0.3 away
    float far[3] = {1.0f, 2.0f, 4.0f};
    EXPECT_FALSE(SnapToPool(work, 3, 0.25f, far));
    EXPECT_EQ(far[2], 4.0f);
    float four[4] = {1.0f, 2.0f, 3.0f, 0.0f};
    EXPECT_FALSE(SnapToPool(work, 4, 1.0f, four));  // no constant of dimension 4
}

}  // namespace

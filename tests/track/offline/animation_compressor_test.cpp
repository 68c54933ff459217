// The animation compressor: every bone of synthetic and captured clips stays within its
// object-space budget under the field's metric (computed here from the samples and the
// runtime's track sampling), the options restrict formats and degrees, and bad input is
// refused.
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "orvane.h"
#include "orvane_motion_clip.h"
#include "support/log_capture.h"
#include "testing/data_path.h"

using orvane_test::LogCapture;
using orvane_workload::CompressionInput;
using orvane_workload::ErrorReport;
using orvane_workload::SampledMotion;

namespace {

// A chain of four bones, 10 cm apart, swinging and travelling, with a still fourth bone.
SampledMotion Chain(int frames) {
    SampledMotion m;
    m.name = "chain";
    m.timeStep = 1.0f / 60.0f;
    m.frameCount = frames;
    m.boneNames = {"root", "upper", "lower", "tip"};
    m.parents = {-1, 0, 1, 2};
    const size_t entries = size_t(frames) * 4;
    m.positions.resize(entries * 3);
    m.orientations.resize(entries * 4);
    m.scales.assign(entries * 3, 1.0f);
    for (int f = 0; f < frames; ++f) {
        const float t = float(f) * m.timeStep;
        for (int b = 0; b < 4; ++b) {
            float* p = &m.positions[m.at(f, b) * 3];
            float* q = &m.orientations[m.at(f, b) * 4];
            p[0] = b == 0 ? 40.0f * t : 0.0f;
            p[1] = b == 0 ? 90.0f + 2.0f * std::sin(6.0f * t) : 10.0f;
            p[2] = 0.0f;
            const float angle = b == 3 ? 0.0f : 0.6f * std::sin(3.0f * t + float(b));
            q[0] = std::sin(0.5f * angle);
            q[1] = 0.0f;
            q[2] = b == 1 ? 0.3f * std::sin(0.5f * angle) : 0.0f;
            q[3] = std::cos(0.5f * angle);
            const float length = std::sqrt(q[0] * q[0] + q[2] * q[2] + q[3] * q[3]);
            for (int c = 0; c < 4; ++c)
                q[c] /= length;
        }
    }
    return m;
}

struct Compressed {
    orvane_track_group* group = nullptr;
    orvane_animation_compression_statistics stats{};
    ~Compressed() { OrvaneFreeBuilderResult(group); }
};

void Compress(const SampledMotion& motion, const orvane_animation_compression_options* options,
              Compressed* out) {
    CompressionInput input(motion);
    out->group =
        OrvaneCompressAnimation(&input.skeleton, input.sampler, motion.frameCount, motion.timeStep,
                                motion.name.c_str(), options, &out->stats);
}

void ProgressCounter(orvane_int32 done, orvane_int32 count, void* user) {
    auto* calls = static_cast<std::vector<int>*>(user);
    calls->push_back(done);
    EXPECT_EQ(count, 4);
}

TEST(Compressor, ChainStaysWithinBudgetAndReducesStillComponents) {
    const SampledMotion motion = Chain(240);
    orvane_animation_compression_options options;
    OrvaneGetDefaultAnimationCompressionOptions(&options);
    EXPECT_FLOAT_EQ(options.ErrorBudget, 0.01f);
    EXPECT_FLOAT_EQ(options.ShellDistance, 3.0f);
    std::vector<int> calls;
    options.Progress = ProgressCounter;
    options.ProgressUserData = &calls;
    Compressed c;
    Compress(motion, &options, &c);
    ASSERT_NE(c.group, nullptr);
    EXPECT_EQ(calls, (std::vector<int>{1, 2, 3, 4}));
    ASSERT_EQ(c.group->TransformTrackCount, 4);
    const ErrorReport report = orvane_workload::MeasureError(motion, c.group, 3.0f);
    ASSERT_TRUE(report.tracksFound);
    EXPECT_LE(report.maximum, 0.01f);
    EXPECT_NEAR(report.maximum, c.stats.MaxError, 1e-4f);
    EXPECT_EQ(c.stats.ExactComponents, 0);
    EXPECT_GT(c.stats.CurveDataBytes, 0);
    // Scale is the identity everywhere; the tip does not turn.
    int32_t tip = -1;
    ASSERT_TRUE(OrvaneFindTrackByName(c.group, "tip", &tip));
    for (int32_t i = 0; i < 4; ++i)
        EXPECT_TRUE(OrvaneCurveIsIdentity(&c.group->TransformTracks[i].ScaleShearCurve));
    // The raw size over the curves: well compressed for such smooth motion.
    const double raw = 4.0 * 240.0 * 10.0 * 4.0;
    EXPECT_GT(raw / double(c.stats.CurveDataBytes), 10.0);
}

TEST(Compressor, OptionsRestrictFormatsAndDegrees) {
    const SampledMotion motion = Chain(120);
    orvane_animation_compression_options options;
    OrvaneGetDefaultAnimationCompressionOptions(&options);
    options.ErrorBudget = 0.05f;
    options.AllowedFormats =
        (1u << OrvaneCurveFormatDaK32fC32f) | (1u << OrvaneCurveFormatDaIdentity) |
        (1u << OrvaneCurveFormatD3Constant32f) | (1u << OrvaneCurveFormatD4Constant32f);
    options.AllowedDegrees = 1u << 2;
    Compressed c;
    Compress(motion, &options, &c);
    ASSERT_NE(c.group, nullptr);
    for (int32_t i = 0; i < c.group->TransformTrackCount; ++i) {
        const orvane_transform_track& track = c.group->TransformTracks[i];
        for (const orvane_curve2* curve :
             {&track.PositionCurve, &track.OrientationCurve, &track.ScaleShearCurve}) {
            if (OrvaneCurveIsConstantOrIdentity(curve)) continue;
            EXPECT_TRUE(OrvaneCurveIsTypeDaK32fC32f(curve));
            EXPECT_EQ(OrvaneCurveGetDegree(curve), 2);
        }
    }
    EXPECT_LE(orvane_workload::MeasureError(motion, c.group, 3.0f).maximum, 0.05f);
}

TEST(Compressor, BadInputIsRefused) {
    SampledMotion motion = Chain(10);
    CompressionInput input(motion);
    LogCapture log;
    EXPECT_EQ(OrvaneCompressAnimation(nullptr, input.sampler, 10, 0.1f, "x", nullptr, nullptr),
              nullptr);
    EXPECT_EQ(
        OrvaneCompressAnimation(&input.skeleton, input.sampler, 1, 0.1f, "x", nullptr, nullptr),
        nullptr);
    EXPECT_EQ(
        OrvaneCompressAnimation(&input.skeleton, input.sampler, 10, 0.0f, "x", nullptr, nullptr),
        nullptr);
    input.bones[2].ParentIndex = 3;
    EXPECT_EQ(
        OrvaneCompressAnimation(&input.skeleton, input.sampler, 10, 0.1f, "x", nullptr, nullptr),
        nullptr);
    input.bones[2].ParentIndex = 1;
    input.bones[1].Name = nullptr;
    EXPECT_EQ(
        OrvaneCompressAnimation(&input.skeleton, input.sampler, 10, 0.1f, "x", nullptr, nullptr),
        nullptr);
    input.bones[1].Name = const_cast<char*>("upper");
    OrvaneGetPositionSamples(input.sampler, 2)[4] = std::nanf("");
    EXPECT_EQ(
        OrvaneCompressAnimation(&input.skeleton, input.sampler, 10, 0.1f, "x", nullptr, nullptr),
        nullptr);
    EXPECT_EQ(log.errors(), 6u);
}

void ExpectWithinBudget(const SampledMotion& motion, float budget) {
    orvane_animation_compression_options options;
    OrvaneGetDefaultAnimationCompressionOptions(&options);
    options.ErrorBudget = budget;
    Compressed c;
    Compress(motion, &options, &c);
    ASSERT_NE(c.group, nullptr) << motion.name;
    const ErrorReport report = orvane_workload::MeasureError(motion, c.group, 3.0f);
    ASSERT_TRUE(report.tracksFound);
    EXPECT_LE(report.maximum, budget)
        << motion.name << " bone " << report.worstBone << " frame " << report.worstFrame;
    const double raw = double(motion.boneCount()) * motion.frameCount * 10.0 * 4.0;
    std::printf("%s at %.3f cm: ratio %.1f:1 (curve data), max %.4f cm, 99th %.4f cm\n",
                motion.name.c_str(), double(budget), raw / double(c.stats.CurveDataBytes),
                double(report.maximum), double(report.percentile99));
}

TEST(CompressorOnCapture, WalkBvhStaysWithinBudget) {
    if (!orvane_workload::CanLoadBvh())
        GTEST_SKIP() << "this build reads no BVH (assimp, which reads it, was not found)";
    ORVANE_SKIP_WITHOUT_DATA(orvane_data::Path("assets/bvh/cmu/walk.bvh"));
    SampledMotion motion;
    std::string error;
    ASSERT_TRUE(orvane_workload::LoadBvh(orvane_data::Path("assets/bvh/cmu/walk.bvh"),
                                         orvane_workload::kCmuUnitToCm, &motion, &error))
        << error;
    ASSERT_EQ(motion.boneCount(), 31);
    ASSERT_EQ(motion.frameCount, 344);
    ExpectWithinBudget(motion, 0.01f);
}

TEST(CompressorOnCapture, WalkAndJogStayWithinBudget) {
    ORVANE_SKIP_WITHOUT_DATA(orvane_data::Path("pab_walk_jog_arnaud4.json"));
    std::string error;
    const std::vector<SampledMotion> motions = orvane_workload::PabMotions(&error);
    ASSERT_EQ(motions.size(), 2u) << error;
    for (const SampledMotion& motion : motions)
        ExpectWithinBudget(motion, 0.05f);
}

}  // namespace

// The animation compressor: every bone of synthetic and captured clips stays within its
// object-space budget under the field's metric (computed here from the samples and the
// runtime's track sampling), at the frames and halfway between them (against an Eigen
// evaluator in double precision); a looser budget never costs more bytes; plain floats stay
// rare; a bone that the source holds still keeps the source's values; the compressed group
// survives a file; the options restrict formats and degrees and set per-bone shell distances;
// bad input is refused.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include <Eigen/Geometry>
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

// A motion of the bones, its positions and orientations zero and its scales 1, to be set.
SampledMotion Unset(const char* name, float timeStep, int frames,
                    const std::vector<std::string>& names, const std::vector<int32_t>& parents) {
    SampledMotion m;
    m.name = name;
    m.timeStep = timeStep;
    m.frameCount = frames;
    m.boneNames = names;
    m.parents = parents;
    const size_t entries = size_t(frames) * names.size();
    m.positions.resize(entries * 3);
    m.orientations.resize(entries * 4);
    m.scales.assign(entries * 3, 1.0f);
    return m;
}

// With the default options, the budget and compact curves allowed.
void CompressCompact(const SampledMotion& motion, float budget, Compressed* out) {
    orvane_animation_compression_options options;
    OrvaneGetDefaultAnimationCompressionOptions(&options);
    options.ErrorBudget = budget;
    options.AllowedFormats |= 1u << OrvaneCurveFormatDaCompact;
    Compress(motion, &options, out);
}

std::vector<int32_t> BytesAtBudgets(const SampledMotion& motion);

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
    // The identity scale curves share one record, and the curve bytes count every record of the
    // group once.
    std::set<const void*> records;
    int32_t bytes = 0;
    for (int32_t i = 0; i < 4; ++i) {
        const orvane_transform_track& t = c.group->TransformTracks[i];
        const void* scale = t.ScaleShearCurve.CurveData.Object;
        const void* first = c.group->TransformTracks[0].ScaleShearCurve.CurveData.Object;
        EXPECT_EQ(scale, first);
        for (const orvane_curve2* curve :
             {&t.PositionCurve, &t.OrientationCurve, &t.ScaleShearCurve})
            if (records.insert(curve->CurveData.Object).second) {
                orvane_curve_builder* copy = OrvaneBeginCurveCopy(curve);
                bytes += OrvaneGetResultingCurveDataSize(copy);
                OrvaneAbortCurveBuilder(copy);
            }
    }
    EXPECT_EQ(c.stats.CurveDataBytes, bytes);
}

// A bone that the source holds still (a joint between a hip and a leg, turned but never
// moving) below a parent whose capture jitters keeps the source's values, whatever rounding
// its parent leaves; its moving child makes up for that, and every bone stays in budget.
SampledMotion StillJoint(int frames) {
    SampledMotion m;
    m.name = "still joint";
    m.timeStep = 1.0f / 120.0f;
    m.frameCount = frames;
    m.boneNames = {"hips", "joint", "leg"};
    m.parents = {-1, 0, 1};
    const size_t entries = size_t(frames) * 3;
    m.positions.resize(entries * 3);
    m.orientations.resize(entries * 4);
    m.scales.assign(entries * 3, 1.0f);
    uint32_t seed = 12345u;
    auto jitter = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return (float(seed >> 8) / float(1u << 24) - 0.5f) * 4.0e-4f;
    };
    for (int f = 0; f < frames; ++f) {
        const float t = float(f) * m.timeStep;
        const float angles[3] = {0.3f * std::sin(2.0f * t) + jitter(), 0.4f,
                                 0.8f * std::sin(4.0f * t + 1.0f)};
        const float offsets[3][3] = {
            {10.0f * t, 95.0f, 0.0f}, {9.0f, -4.0f, 1.0f}, {0.0f, -20.0f, 0.0f}};
        for (int b = 0; b < 3; ++b) {
            float* p = &m.positions[m.at(f, b) * 3];
            float* q = &m.orientations[m.at(f, b) * 4];
            std::copy_n(offsets[b], 3, p);
            q[0] = b == 1 ? 0.0f : std::sin(0.5f * angles[b]);
            q[1] = b == 1 ? std::sin(0.5f * angles[b]) : 0.0f;
            q[2] = 0.0f;
            q[3] = std::cos(0.5f * angles[b]);
        }
    }
    return m;
}

TEST(Compressor, BoneHeldStillBySourceKeepsItsValues) {
    const SampledMotion motion = StillJoint(360);
    for (const float budget : {0.01f, 0.05f}) {
        orvane_animation_compression_options options;
        OrvaneGetDefaultAnimationCompressionOptions(&options);
        options.ErrorBudget = budget;
        Compressed c;
        Compress(motion, &options, &c);
        ASSERT_NE(c.group, nullptr);
        int32_t joint = -1;
        ASSERT_TRUE(OrvaneFindTrackByName(c.group, "joint", &joint));
        const orvane_transform_track& track = c.group->TransformTracks[joint];
        EXPECT_TRUE(OrvaneCurveIsConstantNotIdentity(&track.PositionCurve)) << budget;
        EXPECT_TRUE(OrvaneCurveIsConstantNotIdentity(&track.OrientationCurve)) << budget;
        EXPECT_TRUE(OrvaneCurveIsIdentity(&track.ScaleShearCurve)) << budget;
        float position[3], orientation[4];
        OrvaneCurveExtractKnotValue(&track.PositionCurve, 0, position, OrvaneCurveIdentityPosition);
        OrvaneCurveExtractKnotValue(&track.OrientationCurve, 0, orientation,
                                    OrvaneCurveIdentityOrientation);
        const float* source = &motion.positions[motion.at(0, 1) * 3];
        for (int k = 0; k < 3; ++k)
            EXPECT_FLOAT_EQ(position[k], source[k]) << budget;
        const float* sourceQ = &motion.orientations[motion.at(0, 1) * 4];
        const float sign = orientation[3] * sourceQ[3] < 0.0f ? -1.0f : 1.0f;
        for (int k = 0; k < 4; ++k)
            EXPECT_NEAR(sign * orientation[k], sourceQ[k], 1e-6f) << budget;
        const ErrorReport report = orvane_workload::MeasureError(motion, c.group, 3.0f);
        ASSERT_TRUE(report.tracksFound);
        EXPECT_LE(report.maximum, budget);
    }
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

// With compact curves allowed, the clips' constant positions and orientations take 8 bytes
// (most of them: the rest keep floats where the rounding would not hold), within the budget;
// the sixteen formats alone never use them.
TEST(CompressorOnCapture, ConstantsTakeEightBytesOnlyWithCompactCurves) {
    ORVANE_SKIP_WITHOUT_DATA(orvane_data::Path("pab_walk_jog_arnaud4.json"));
    std::string error;
    const std::vector<SampledMotion> motions = orvane_workload::PabMotions(&error);
    ASSERT_EQ(motions.size(), 2u) << error;
    for (const SampledMotion& motion : motions) {
        for (const bool compact : {false, true}) {
            Compressed c;
            orvane_animation_compression_options options;
            OrvaneGetDefaultAnimationCompressionOptions(&options);
            options.ErrorBudget = 0.05f;
            if (compact) options.AllowedFormats |= 1u << OrvaneCurveFormatDaCompact;
            Compress(motion, &options, &c);
            ASSERT_NE(c.group, nullptr);
            int packed = 0, floats = 0, beyond = 0;
            for (int32_t i = 0; i < c.group->TransformTrackCount; ++i) {
                const orvane_transform_track& t = c.group->TransformTracks[i];
                for (const orvane_curve2* curve : {&t.PositionCurve, &t.OrientationCurve}) {
                    const int f =
                        static_cast<const orvane_curve_data_header*>(curve->CurveData.Object)
                            ->Format;
                    packed +=
                        f == OrvaneCurveFormatD3Constant14s || f == OrvaneCurveFormatD4nConstant15u;
                    floats +=
                        f == OrvaneCurveFormatD3Constant32f || f == OrvaneCurveFormatD4Constant32f;
                    beyond += f >= OrvaneCurveFormatCount;
                }
            }
            const ErrorReport report = orvane_workload::MeasureError(motion, c.group, 3.0f);
            ASSERT_TRUE(report.tracksFound);
            EXPECT_LE(report.maximum, options.ErrorBudget) << motion.name;
            if (compact) {
                EXPECT_GE(packed, 4 * floats) << motion.name;
                EXPECT_GT(packed, 30) << motion.name;
            } else {
                EXPECT_EQ(beyond, 0) << motion.name;
            }
        }
    }
}

// How many of the bones (past the root) whose offsets the motion holds fixed keep constant
// positions in the group, and how many there are.
std::pair<int, int> ConstantFixedOffsets(const SampledMotion& motion,
                                         const orvane_track_group* group) {
    int fixed = 0, constant = 0;
    for (int32_t b = 1; b < motion.boneCount(); ++b) {
        bool still = true;
        for (int32_t f = 1; f < motion.frameCount; ++f)
            for (int k = 0; k < 3; ++k)
                still = still && motion.positions[motion.at(f, b) * 3 + size_t(k)] ==
                                     motion.positions[motion.at(0, b) * 3 + size_t(k)];
        if (!still) continue;
        ++fixed;
        const int format =
            *static_cast<const uint8_t*>(group->TransformTracks[b].PositionCurve.CurveData.Object);
        constant += format == OrvaneCurveFormatD3Constant32f ||
                    format == OrvaneCurveFormatD3Constant14s ||
                    format == OrvaneCurveFormatDaIdentity;
    }
    return {constant, fixed};
}

// A capture holds the budget at the frames as the field measures it, and the bones whose
// offsets the capture holds fixed keep constant positions: a curve that makes up for the
// parent's rounding costs more than the parent's deeper bits or the bone's own turn. With
// compact curves each segment's depths come down to what the bone's error allows, up to the
// budget.
TEST(CompressorOnCapture, CaptureHoldsTheBudgetAndFixedOffsetsStayConstant) {
    if (!orvane_workload::CanLoadBvh())
        GTEST_SKIP() << "this build reads no BVH (assimp, which reads it, was not found)";
    ORVANE_SKIP_WITHOUT_DATA(orvane_data::Path("assets/bvh/cmu/walk.bvh"));
    SampledMotion motion;
    std::string error;
    ASSERT_TRUE(orvane_workload::LoadBvh(orvane_data::Path("assets/bvh/cmu/walk.bvh"),
                                         orvane_workload::kCmuUnitToCm, &motion, &error))
        << error;
    for (const bool compact : {false, true}) {
        int constants = 0, fixedOffsets = 0;  // over the budgets
        for (const float budget : {0.01f, 0.015f, 0.02f, 0.05f}) {
            Compressed c;
            orvane_animation_compression_options options;
            OrvaneGetDefaultAnimationCompressionOptions(&options);
            options.ErrorBudget = budget;
            if (compact) options.AllowedFormats |= 1u << OrvaneCurveFormatDaCompact;
            Compress(motion, &options, &c);
            ASSERT_NE(c.group, nullptr);
            const ErrorReport report = orvane_workload::MeasureError(motion, c.group, 3.0f);
            ASSERT_TRUE(report.tracksFound);
            EXPECT_LE(report.maximum, budget)
                << budget << ": bone " << report.worstBone << " frame " << report.worstFrame;
            const auto [constant, fixed] = ConstantFixedOffsets(motion, c.group);
            std::printf("walk.bvh at %.3f cm%s: %d of %d fixed offsets constant\n", double(budget),
                        compact ? " with compact curves" : "", constant, fixed);
            EXPECT_GT(fixed, 20);
            if (compact) {
                EXPECT_GE(constant * 3, fixed * 2) << budget;
            }
            constants += constant;
            fixedOffsets += fixed;
        }
        // Without compact curves, where a constant costs the bone's turn what a curve making
        // up for the parent does not, the two are weighed: five in six fixed offsets or more
        // stay constant over these budgets (about three in four when the curve was always
        // taken).
        // With compact curves, whose fixed offsets keep a constant at a share of the budget,
        // three in four or more (and two in three at each budget).
        if (compact) {
            EXPECT_GE(constants * 4, fixedOffsets * 3);
        } else {
            EXPECT_GE(constants * 6, fixedOffsets * 5);
        }
    }
}

TEST(CompressorOnCapture, LooserBudgetNeverCostsMoreBytesAndPlainFloatsStayRare) {
    ORVANE_SKIP_WITHOUT_DATA(orvane_data::Path("pab_walk_jog_arnaud4.json"));
    std::string error;
    const std::vector<SampledMotion> motions = orvane_workload::PabMotions(&error);
    ASSERT_EQ(motions.size(), 2u) << error;
    for (const SampledMotion& motion : motions) {
        const std::vector<int32_t> bytes = BytesAtBudgets(motion);
        EXPECT_TRUE(std::is_sorted(bytes.rbegin(), bytes.rend()))
            << motion.name << ": " << bytes[0] << " " << bytes[1] << " " << bytes[2];
        orvane_animation_compression_options options;
        OrvaneGetDefaultAnimationCompressionOptions(&options);
        Compressed c;
        Compress(motion, &options, &c);
        ASSERT_NE(c.group, nullptr);
        // At most one component in a hundred in plain floats.
        EXPECT_LE(c.stats.PlainFloatComponents * 100, motion.boneCount() * 3) << motion.name;
    }
}

// The field's metric in double precision, from the samples and the group's tracks (sampled
// as the runtime does): at every frame, and halfway between frames against the samples
// interpolated as uncompressed playback does (lerp, normalised lerp), less the bend that the
// quadratics and the cubic through neighbouring frames' shell points take there (for clips
// without cuts).
struct Measured {
    double atFrames = 0, betweenFrames = 0;
};

Measured MeasureInDouble(const SampledMotion& m, const orvane_track_group* group,
                         const std::vector<float>& shells) {
    const int n = m.boneCount();
    using Affine = Eigen::Transform<double, 3, Eigen::Affine>;
    std::vector<int32_t> tracks(static_cast<size_t>(n));
    for (int b = 0; b < n; ++b)
        EXPECT_TRUE(
            OrvaneFindTrackByName(group, m.boneNames[size_t(b)].c_str(), &tracks[size_t(b)]));
    const float duration = float(m.frameCount - 1) * m.timeStep;
    auto local = [&](int f, int b, double w) {
        const int g = w > 0 ? f + 1 : f;
        const float* p0 = &m.positions[m.at(f, b) * 3];
        const float* p1 = &m.positions[m.at(g, b) * 3];
        const float* q0 = &m.orientations[m.at(f, b) * 4];
        const float* q1 = &m.orientations[m.at(g, b) * 4];
        const float* s0 = &m.scales[m.at(f, b) * 3];
        const float* s1 = &m.scales[m.at(g, b) * 3];
        Eigen::Vector4d a(q0[0], q0[1], q0[2], q0[3]), c(q1[0], q1[1], q1[2], q1[3]);
        if (a.dot(c) < 0) c = -c;
        const Eigen::Vector4d q = ((1 - w) * a + w * c).normalized();
        Affine t = Affine::Identity();
        t.translate(Eigen::Vector3d((1 - w) * p0[0] + w * p1[0], (1 - w) * p0[1] + w * p1[1],
                                    (1 - w) * p0[2] + w * p1[2]));
        t.rotate(Eigen::Quaterniond(q[3], q[0], q[1], q[2]));
        t.scale(Eigen::Vector3d((1 - w) * s0[0] + w * s1[0], (1 - w) * s0[1] + w * s1[1],
                                (1 - w) * s0[2] + w * s1[2]));
        return t;
    };
    auto sampled = [&](double time, int b) {
        orvane_track_sample_context context{};
        context.SampleTime = float(time);
        context.SampleDuration = duration;
        orvane_transform t{};
        OrvaneSampleTrackUUULocal(&context, &group->TransformTracks[tracks[size_t(b)]], nullptr,
                                  &t);
        Affine a = Affine::Identity();
        a.translate(Eigen::Vector3d(t.Position[0], t.Position[1], t.Position[2]));
        a.rotate(Eigen::Quaterniond(t.Orientation[3], t.Orientation[0], t.Orientation[1],
                                    t.Orientation[2]));
        Eigen::Matrix3d s;
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                s(i, j) = t.ScaleShear[i][j];
        a.linear() = a.linear() * s;
        return a;
    };
    // Object transforms of the samples and the curves at frame f + w.
    auto objects = [&](int f, double w, std::vector<Affine>* raw, std::vector<Affine>* curve) {
        for (int b = 0; b < n; ++b) {
            const int parent = m.parents[size_t(b)];
            const Affine r = local(f, b, w);
            const Affine c = sampled((f + w) * double(m.timeStep), b);
            (*raw)[size_t(b)] = parent < 0 ? r : (*raw)[size_t(parent)] * r;
            (*curve)[size_t(b)] = parent < 0 ? c : (*curve)[size_t(parent)] * c;
        }
    };
    auto shellPoints = [&](const Affine& t, double shell) {
        Eigen::Matrix<double, 9, 1> points;
        for (int axis = 0; axis < 3; ++axis)
            points.segment<3>(3 * axis) = t * (shell * Eigen::Vector3d::Unit(axis));
        return points;
    };
    std::vector<std::vector<Eigen::Matrix<double, 9, 1>>> rawPoints(
        static_cast<size_t>(n), std::vector<Eigen::Matrix<double, 9, 1>>(size_t(m.frameCount)));
    std::vector<Affine> raw(static_cast<size_t>(n)), curve(static_cast<size_t>(n));
    Measured result;
    for (int f = 0; f < m.frameCount; ++f) {
        objects(f, 0.0, &raw, &curve);
        for (int b = 0; b < n; ++b) {
            rawPoints[size_t(b)][size_t(f)] = shellPoints(raw[size_t(b)], shells[size_t(b)]);
            const Eigen::Matrix<double, 9, 1> c = shellPoints(curve[size_t(b)], shells[size_t(b)]);
            for (int axis = 0; axis < 3; ++axis)
                result.atFrames = std::max(
                    result.atFrames,
                    (c.segment<3>(3 * axis) - rawPoints[size_t(b)][size_t(f)].segment<3>(3 * axis))
                        .norm());
        }
    }
    for (int f = 0; f + 1 < m.frameCount; ++f) {
        objects(f, 0.5, &raw, &curve);
        for (int b = 0; b < n; ++b) {
            const auto& p = rawPoints[size_t(b)];
            const int j = f + 1;
            double bend = 0.0;
            if (j >= 2)
                bend = std::max(
                    bend, (p[size_t(j - 2)] - 2 * p[size_t(j - 1)] + p[size_t(j)]).norm() / 8);
            if (j + 1 < m.frameCount)
                bend = std::max(
                    bend, (p[size_t(j - 1)] - 2 * p[size_t(j)] + p[size_t(j + 1)]).norm() / 8);
            if (j >= 2 && j + 1 < m.frameCount)
                bend = std::max(
                    bend,
                    (p[size_t(j - 2)] - p[size_t(j - 1)] - p[size_t(j)] + p[size_t(j + 1)]).norm() /
                        16);
            const auto r = shellPoints(raw[size_t(b)], shells[size_t(b)]);
            const auto c = shellPoints(curve[size_t(b)], shells[size_t(b)]);
            for (int axis = 0; axis < 3; ++axis)
                result.betweenFrames =
                    std::max(result.betweenFrames,
                             (c.segment<3>(3 * axis) - r.segment<3>(3 * axis)).norm() - bend);
        }
    }
    return result;
}

// The group's orientation curves in the compact format.
int CompactOrientations(const orvane_track_group& group) {
    int compact = 0;
    for (int32_t t = 0; t < group.TransformTrackCount; ++t)
        compact += *static_cast<const uint8_t*>(
                       group.TransformTracks[t].OrientationCurve.CurveData.Object) ==
                   OrvaneCurveFormatDaCompact;
    return compact;
}

// Every bone of the compressed motion within budget at the frames and halfway between them
// (3 cm shells, in double precision; float evaluation and composition add a little in the
// runtime), and the statistics' spread in order.
void ExpectWithinBudgetInDouble(const SampledMotion& m, const Compressed& c, float budget) {
    const Measured e = MeasureInDouble(m, c.group, std::vector<float>(m.boneNames.size(), 3.0f));
    EXPECT_LE(e.atFrames, budget * 1.01) << budget;
    EXPECT_LE(e.betweenFrames, budget * 1.01) << budget;
    EXPECT_LE(c.stats.MeanError, c.stats.P99Error);
    EXPECT_LE(c.stats.P99Error, c.stats.MaxError);
}

TEST(Compressor, FramesAndHalfwayStayWithinBudgetInDoublePrecision) {
    const SampledMotion motion = Chain(240);
    for (const float budget : {0.01f, 0.05f}) {
        orvane_animation_compression_options options;
        OrvaneGetDefaultAnimationCompressionOptions(&options);
        options.ErrorBudget = budget;
        Compressed c;
        Compress(motion, &options, &c);
        ASSERT_NE(c.group, nullptr);
        ExpectWithinBudgetInDouble(motion, c, budget);
        EXPECT_EQ(c.stats.BonesMissedBetweenFrames, 0);
        EXPECT_EQ(c.stats.PlainFloatComponents, 0);
    }
}

// A deeper chain with capture noise takes compact curves, whose depths come down to what each
// bone and its whole subtree allow: still within budget at the frames and halfway between them
// (in double precision), and the statistics report the error the curves have.
TEST(Compressor, CompactCurvesOnADeepNoisyChainHoldTheBudgetAndReportTheirError) {
    constexpr int kBones = 8, kFrames = 200;
    std::vector<std::string> names;
    std::vector<int32_t> parents;
    for (int b = 0; b < kBones; ++b) {
        names.push_back("bone" + std::to_string(b));
        parents.push_back(b - 1);
    }
    SampledMotion m = Unset("deep", 1.0f / 60.0f, kFrames, names, parents);
    uint32_t noise = 777;
    auto jitter = [&] {
        noise = noise * 1664525u + 1013904223u;
        return 6e-4f * (float(noise >> 8) / float(1 << 24) - 0.5f);
    };
    for (int f = 0; f < kFrames; ++f) {
        const float t = float(f) * m.timeStep;
        for (int b = 0; b < kBones; ++b) {
            float* p = &m.positions[m.at(f, b) * 3];
            float* q = &m.orientations[m.at(f, b) * 4];
            p[0] = b == 0 ? 30.0f * t : 0.0f;
            p[1] = b == 0 ? 80.0f : 12.0f;
            p[2] = 0.0f;
            const float angle = 0.4f * std::sin(2.0f * t + 0.7f * float(b));
            q[0] = std::sin(0.5f * angle) + jitter();
            q[1] = 0.2f * std::sin(0.5f * angle) + jitter();
            q[2] = jitter();
            q[3] = std::cos(0.5f * angle);
            const float length = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
            for (int c = 0; c < 4; ++c)
                q[c] /= length;
        }
    }
    for (const float budget : {0.01f, 0.05f}) {
        Compressed c;
        CompressCompact(m, budget, &c);
        ASSERT_NE(c.group, nullptr);
        EXPECT_GE(CompactOrientations(*c.group), kBones / 2) << budget;

        ExpectWithinBudgetInDouble(m, c, budget);
        // The reported maximum is the curves' own, measured independently in float.
        const ErrorReport report = orvane_workload::MeasureError(m, c.group, 3.0f);
        ASSERT_TRUE(report.tracksFound);
        EXPECT_NEAR(c.stats.MaxError, report.maximum, 0.01f * budget) << budget;
    }
}

// Bones at the same rest values (a hand's fingers, mirrored limbs), a hair apart in the
// source, keep one constant record between them; the statistics count each record once, as
// the group stores it.
TEST(Compressor, BonesAtTheSameRestValuesShareTheirConstants) {
    constexpr int kBones = 6, kFrames = 60;
    SampledMotion m = Unset("hand", 1.0f / 30.0f, kFrames, {"root", "palm", "f1", "f2", "f3", "f4"},
                            {-1, 0, 1, 1, 1, 1});
    for (int f = 0; f < kFrames; ++f) {
        const float t = float(f) * m.timeStep;
        for (int b = 0; b < kBones; ++b) {
            float* p = &m.positions[m.at(f, b) * 3];
            float* q = &m.orientations[m.at(f, b) * 4];
            float* s = &m.scales[m.at(f, b) * 3];
            const float hair = 1e-7f * float(b);  // below any budget
            p[0] = b == 0 ? 20.0f * t : 0.0f;
            p[1] = b == 0 ? 90.0f : 3.0f + hair;
            p[2] = 0.0f;
            const float angle = b <= 1 ? 0.5f * std::sin(4.0f * t + float(b)) : 0.3f;
            q[0] = 0.0f;
            q[1] = 0.0f;
            q[2] = std::sin(0.5f * angle) + (b > 1 ? hair : 0.0f);
            q[3] = std::cos(0.5f * angle);
            const float length = std::sqrt(q[2] * q[2] + q[3] * q[3]);
            q[2] /= length;
            q[3] /= length;
            if (b >= 4) s[1] = -1.0f - hair;  // mirrored
        }
    }
    // With compact curves allowed, the constants take 8 bytes and are shared the same way.
    for (const bool compact : {false, true}) {
        orvane_animation_compression_options options;
        OrvaneGetDefaultAnimationCompressionOptions(&options);
        if (compact) options.AllowedFormats |= 1u << OrvaneCurveFormatDaCompact;
        Compressed c;
        Compress(m, &options, &c);
        ASSERT_NE(c.group, nullptr);
        int32_t finger = -1;
        std::set<const void*> records[3];
        std::set<const void*> all;
        int64_t bytes = 0;
        for (int32_t i = 0; i < c.group->TransformTrackCount; ++i) {
            const orvane_transform_track& t = c.group->TransformTracks[i];
            const orvane_curve2* curves[3] = {&t.PositionCurve, &t.OrientationCurve,
                                              &t.ScaleShearCurve};
            const bool isFinger = t.Name[0] == 'f';
            for (int k = 0; k < 3; ++k) {
                const void* record = curves[k]->CurveData.Object;
                if (isFinger) records[k].insert(record);
                if (!all.insert(record).second) continue;
                orvane_curve_builder* copy = OrvaneBeginCurveCopy(curves[k]);
                ASSERT_NE(copy, nullptr);
                bytes += OrvaneGetResultingCurveDataSize(copy);
                OrvaneAbortCurveBuilder(copy);
            }
            if (isFinger) finger = i;
        }
        ASSERT_GE(finger, 0);
        EXPECT_EQ(records[0].size(), 1u);  // one offset for the four fingers
        EXPECT_EQ(records[1].size(), 1u);  // one turn
        EXPECT_EQ(records[2].size(), 2u);  // the identity and one mirror
        const auto formatOf = [](const void* record) {
            return int(static_cast<const orvane_curve_data_header*>(record)->Format);
        };
        EXPECT_EQ(formatOf(*records[0].begin()),
                  compact ? OrvaneCurveFormatD3Constant14s : OrvaneCurveFormatD3Constant32f);
        EXPECT_EQ(formatOf(*records[1].begin()),
                  compact ? OrvaneCurveFormatD4nConstant15u : OrvaneCurveFormatD4Constant32f);
        EXPECT_EQ(c.stats.CurveDataBytes, bytes);
        const ErrorReport report = orvane_workload::MeasureError(m, c.group, 3.0f);
        ASSERT_TRUE(report.tracksFound);
        EXPECT_LE(report.maximum, options.ErrorBudget);
    }
}

TEST(Compressor, PerBoneShellDistancesAreHeld) {
    const SampledMotion motion = Chain(120);
    const std::vector<float> shells = {1.0f, 20.0f, 3.0f, 0.0f};
    orvane_animation_compression_options options;
    OrvaneGetDefaultAnimationCompressionOptions(&options);
    options.ErrorBudget = 0.02f;
    options.BoneShellDistances = shells.data();
    Compressed c;
    Compress(motion, &options, &c);
    ASSERT_NE(c.group, nullptr);
    const Measured e = MeasureInDouble(motion, c.group, shells);
    EXPECT_LE(e.atFrames, 0.02 * 1.01);
    // A negative distance is refused.
    const std::vector<float> bad = {1.0f, -1.0f, 3.0f, 0.0f};
    options.BoneShellDistances = bad.data();
    LogCapture log;
    Compressed refused;
    Compress(motion, &options, &refused);
    EXPECT_EQ(refused.group, nullptr);
    EXPECT_EQ(log.errors(), 1u);
}

// Curve bytes at budgets from tight to loose.
std::vector<int32_t> BytesAtBudgets(const SampledMotion& motion) {
    std::vector<int32_t> bytes;
    for (const float budget : {0.01f, 0.02f, 0.05f}) {
        orvane_animation_compression_options options;
        OrvaneGetDefaultAnimationCompressionOptions(&options);
        options.ErrorBudget = budget;
        Compressed c;
        Compress(motion, &options, &c);
        EXPECT_NE(c.group, nullptr);
        bytes.push_back(c.stats.CurveDataBytes);
    }
    return bytes;
}

TEST(Compressor, LooserBudgetNeverCostsMoreBytes) {
    const std::vector<int32_t> chain = BytesAtBudgets(Chain(240));
    EXPECT_TRUE(std::is_sorted(chain.rbegin(), chain.rend()))
        << chain[0] << " " << chain[1] << " " << chain[2];
}

// Every track of the two groups samples to the same transforms, at the clip's frames and
// between them.
void ExpectSamePlayback(const orvane_track_group& a, const orvane_track_group& b,
                        const SampledMotion& motion) {
    const float duration = float(motion.frameCount - 1) * motion.timeStep;
    for (int32_t t = 0; t < a.TransformTrackCount; ++t) {
        for (float time = 0.0f; time <= duration; time += 0.37f * motion.timeStep) {
            orvane_track_sample_context context{};
            context.SampleTime = time;
            context.SampleDuration = duration;
            orvane_transform x{}, y{};
            OrvaneSampleTrackUUULocal(&context, &a.TransformTracks[t], nullptr, &x);
            OrvaneSampleTrackUUULocal(&context, &b.TransformTracks[t], nullptr, &y);
            for (int k = 0; k < 3; ++k)
                EXPECT_EQ(x.Position[k], y.Position[k]) << "track " << t;
            for (int k = 0; k < 4; ++k)
                EXPECT_EQ(x.Orientation[k], y.Orientation[k]) << "track " << t;
        }
    }
}

TEST(Compressor, GroupSurvivesAFile) {
    const SampledMotion motion = Chain(120);
    Compressed c;
    Compress(motion, nullptr, &c);
    ASSERT_NE(c.group, nullptr);
    char path[] = "/tmp/orvane_compressed_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    orvane_file_data_tree_writer* writer =
        OrvaneBeginFileDataTreeWriting(OrvaneTrackGroupType, c.group, 0, 0);
    ASSERT_TRUE(OrvaneWriteDataTreeToFile(writer, 0x80000016u, path, 1));
    OrvaneEndFileDataTreeWriting(writer);
    orvane_file* file = OrvaneReadEntireFile(path);
    std::remove(path);
    ASSERT_NE(file, nullptr);
    const orvane_variant tree = OrvaneGetDataTreeFromFile(file);
    const auto* loaded = static_cast<const orvane_track_group*>(tree.Object);
    ASSERT_NE(loaded, nullptr);
    ASSERT_EQ(loaded->TransformTrackCount, c.group->TransformTrackCount);
    // Every track samples to the same transforms as before, at frames and between them.
    ExpectSamePlayback(*c.group, *loaded, motion);
    // The file holds the shared identity record once, and its curves still share it.
    for (int32_t i = 1; i < loaded->TransformTrackCount; ++i) {
        const void* scale = loaded->TransformTracks[i].ScaleShearCurve.CurveData.Object;
        const void* first = loaded->TransformTracks[0].ScaleShearCurve.CurveData.Object;
        EXPECT_EQ(scale, first);
    }
    OrvaneFreeFile(file);
}

// The compact format, on request: moving components take it where it is smaller, the budget
// holds at and between frames as an independent evaluator measures, the curves are no larger
// than in the base formats, and they survive a file of the other byte order.
TEST(Compressor, CompactCurvesHoldTheBudgetAndSurviveAFile) {
    const SampledMotion motion = Chain(240);
    for (const float budget : {0.01f, 0.05f}) {
        orvane_animation_compression_options options;
        OrvaneGetDefaultAnimationCompressionOptions(&options);
        options.ErrorBudget = budget;
        Compressed base;
        Compress(motion, &options, &base);
        options.AllowedFormats |= 1u << OrvaneCurveFormatDaCompact;
        Compressed c;
        Compress(motion, &options, &c);
        ASSERT_NE(c.group, nullptr);
        ASSERT_NE(base.group, nullptr);
        for (int32_t t = 0; t < c.group->TransformTrackCount; ++t) {
            const orvane_transform_track& track = c.group->TransformTracks[t];
            for (const orvane_curve2* curve :
                 {&track.PositionCurve, &track.OrientationCurve, &track.ScaleShearCurve})
                EXPECT_TRUE(OrvaneCurveFormatIsInitializedCorrectly(curve));
        }
        ExpectWithinBudgetInDouble(motion, c, budget);
        EXPECT_LE(c.stats.CurveDataBytes, base.stats.CurveDataBytes) << budget;
    }

    // A capture's noisy motion takes compact curves; the file keeps them.
    SampledMotion capture = motion;
    uint32_t noise = 12345;
    for (float& q : capture.orientations) {
        noise = noise * 1664525u + 1013904223u;
        q += 2e-4f * (float(noise >> 8) / float(1 << 24) - 0.5f);
    }
    for (size_t i = 0; i + 3 < capture.orientations.size(); i += 4) {
        float* q = &capture.orientations[i];
        const float length = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
        for (int k = 0; k < 4; ++k)
            q[k] /= length;
    }
    orvane_animation_compression_options options;
    OrvaneGetDefaultAnimationCompressionOptions(&options);
    options.AllowedFormats |= 1u << OrvaneCurveFormatDaCompact;
    Compressed c;
    Compress(capture, &options, &c);
    ASSERT_NE(c.group, nullptr);
    EXPECT_GT(CompactOrientations(*c.group), 0);
    const uint16_t probe = 1;
    uint8_t little;
    std::memcpy(&little, &probe, 1);
    char path[] = "/tmp/orvane_compact_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    orvane_file_builder* builder =
        OrvaneBeginFile(1, 0x80000016u, OrvaneGetTemporaryDirectory(), "orvane_compact_test");
    ASSERT_NE(builder, nullptr);
    OrvaneSetFileByteOrder(builder,
                           little ? OrvaneBigEndianByteOrder : OrvaneLittleEndianByteOrder);
    orvane_file_data_tree_writer* writer =
        OrvaneBeginFileDataTreeWriting(OrvaneTrackGroupType, c.group, 0, 0);
    ASSERT_TRUE(OrvaneWriteDataTreeToFileBuilder(writer, builder));
    ASSERT_TRUE(OrvaneEndFile(builder, path));
    OrvaneEndFileDataTreeWriting(writer);
    orvane_file* file = OrvaneReadEntireFile(path);
    std::remove(path);
    ASSERT_NE(file, nullptr);
    const orvane_variant tree = OrvaneGetDataTreeFromFile(file);
    auto* loaded = static_cast<orvane_track_group*>(
        OrvaneConvertTree(tree.Type, tree.Object, OrvaneTrackGroupType));
    ASSERT_NE(loaded, nullptr);
    ASSERT_EQ(loaded->TransformTrackCount, c.group->TransformTrackCount);
    ExpectSamePlayback(*c.group, *loaded, capture);
    OrvaneFreeBuilderResult(loaded);
    OrvaneFreeFile(file);
}

}  // namespace

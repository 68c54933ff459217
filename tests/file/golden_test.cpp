// The golden files: the example content as an earlier writer wrote it, in both byte orders,
// uncompressed and with each codec. Each must load without a message and give back the
// example's values member by member, so that a change made to writer and reader together (a
// layout, a codec, a fixup rule) cannot pass unnoticed. testing/write_golden.cpp says how
// and when to regenerate them.
#include <cstdio>
#include <cstring>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "curve/compact_reference.h"
#include "curve/packed_constant_reference.h"
#include "orvane/bspline.h"
#include "orvane/convert.h"
#include "orvane/file.h"
#include "orvane/file_builder.h"
#include "orvane/types.h"
#include "testing/compact_example.h"
#include "testing/example_content.h"
#include "support/example_check.h"
#include "support/log_capture.h"

namespace {

using orvane_example::ExampleContent;
using orvane_test::ExpectExample;
using orvane_test::LogCapture;

class GoldenFiles : public ::testing::TestWithParam<const char*> {};

TEST_P(GoldenFiles, LoadWithTheExampleValues) {
    const std::string path = std::string(ORVANE_GOLDEN_DIR) + "/example_" + GetParam() + ".ovn";
    ExampleContent example;
    ASSERT_TRUE(example.ok());
    LogCapture log;
    EXPECT_TRUE(OrvaneFileCRCIsValid(path.c_str())) << path;
    orvane_file* file = OrvaneReadEntireFile(path.c_str());
    ASSERT_NE(file, nullptr) << path;
    const bool big = std::string(GetParam()).rfind("big", 0) == 0;
    uint16_t probe = 1;
    uint8_t first;
    std::memcpy(&first, &probe, 1);
    EXPECT_EQ(bool(file->ByteReversed), big == (first == 1));
    EXPECT_EQ(OrvaneGetFileTypeTag(file), uint32_t(ORVANE_CURRENT_FILE_TYPE_TAG));
    for (int32_t s = 0; s < file->SectionCount; ++s) {
        const orvane_ovn_section& section = OrvaneGetOVNSectionArray(file->Header)[s];
        if (section.ExpandedSize != 0) {
            EXPECT_NE(file->Sections[s], nullptr) << "section " << s;
        }
    }
    ExpectExample(file, OrvaneGetFileInfo(file), example);
    EXPECT_EQ(log.errors() + log.warnings(), 0u) << log.messages()[0].text;
    OrvaneFreeFile(file);
}

INSTANTIATE_TEST_SUITE_P(OrdersAndCodecs, GoldenFiles,
                         ::testing::Values("little_none", "little_pelma0", "little_pelma1",
                                           "big_none", "big_pelma0", "big_pelma1"));

// A golden file whose root is a transform track: loaded, its track converted; both freed with
// it.
struct TrackFile {
    explicit TrackFile(const std::string& name) {
        file = OrvaneReadEntireFile((std::string(ORVANE_GOLDEN_DIR) + "/" + name).c_str());
        if (file == nullptr) return;
        const orvane_variant root = OrvaneGetDataTreeFromFile(file);
        track = static_cast<orvane_transform_track*>(
            OrvaneConvertTree(root.Type, root.Object, OrvaneTransformTrackType));
    }
    ~TrackFile() {
        if (track) OrvaneFreeBuilderResult(track);
        if (file) OrvaneFreeFile(file);
    }
    TrackFile(const TrackFile&) = delete;
    TrackFile& operator=(const TrackFile&) = delete;

    orvane_file* file = nullptr;
    orvane_transform_track* track = nullptr;
};

// The compact format's golden files: a track of compact curves and a steady track ("line") as
// the writer writes them (layout 5 for both: lines with bands about them, the segment headers
// after the values) and as earlier writers wrote them (layouts 1 and 2, and 3 for the steady
// track: the segment headers ahead of the values). Its curves are recognised, decode as the
// format's description says (an independent reader) and hold the samples they were fitted to within
// the fit's tolerance.
class CompactGoldenFiles : public ::testing::TestWithParam<const char*> {};

TEST_P(CompactGoldenFiles, LoadAndHoldTheirSamples) {
    LogCapture log;
    const TrackFile loaded(std::string("compact_") + GetParam() + ".ovn");
    ASSERT_NE(loaded.file, nullptr) << GetParam();
    const orvane_transform_track* track = loaded.track;
    ASSERT_NE(track, nullptr);
    EXPECT_STREQ(track->Name, "compact");
    const orvane_curve2* curves[2] = {&track->PositionCurve, &track->OrientationCurve};
    const std::string name = GetParam();
    const bool line = name.rfind("line", 0) == 0 || name.rfind("layout3", 0) == 0;
    const int layout = name.rfind("layout", 0) == 0 ? name[6] - '0' : 5;
    const std::vector<float> samples[2] = {
        line ? orvane_example::CompactSteadyPositions() : orvane_example::CompactExamplePositions(),
        line ? orvane_example::CompactSteadyOrientations()
             : orvane_example::CompactExampleOrientations()};
    const float tolerances[2] = {orvane_example::kCompactPositionTolerance,
                                 orvane_example::kCompactOrientationTolerance};
    for (int k = 0; k < 2; ++k) {
        const int d = 3 + k;
        ASSERT_TRUE(OrvaneCurveFormatIsInitializedCorrectly(curves[k]));
        const auto& r =
            *static_cast<const orvane_curve_data_da_compact*>(curves[k]->CurveData.Object);
        EXPECT_EQ(r.CurveDataHeader.Format, OrvaneCurveFormatDaCompact);
        EXPECT_EQ(r.Layout, layout);
        orvane_test::CompactReference reference{r};
        std::vector<float> decoded(size_t(r.KnotCount) * size_t(d));
        OrvaneCurveExtractKnotValues(curves[k], 0, r.KnotCount, nullptr, decoded.data(), nullptr);
        for (int i = 0; i < r.KnotCount; ++i) {
            const std::vector<double> expected = reference.Knot(i);
            for (int c = 0; c < d; ++c) {
                // Float decoding rounds in steps of the curve's range, not of the value.
                const double range = std::fabs(reference.Range(c)) + reference.Range(d + c);
                EXPECT_NEAR(decoded[size_t(i * d + c)], expected[size_t(c)],
                            1e-6 * (1 + std::fabs(expected[size_t(c)]) + range))
                    << i;
            }
        }
        const float duration =
            float(orvane_example::kCompactSamples - 1) * orvane_example::kCompactTimeStep;
        for (int i = 0; i < orvane_example::kCompactSamples; ++i) {
            float value[4];
            OrvaneEvaluateCurveAtT(d, k == 1, false, curves[k], false, duration,
                                   float(i) * orvane_example::kCompactTimeStep, value, nullptr);
            double sum = 0;
            for (int c = 0; c < d; ++c) {
                const double e = value[c] - samples[k][size_t(i * d + c)];
                sum += e * e;
            }
            EXPECT_LE(std::sqrt(sum), tolerances[k] * 1.01 + 2e-7)
                << "curve " << k << " sample " << i;
        }
    }
    EXPECT_EQ(log.errors() + log.warnings(), 0u);
}

INSTANTIATE_TEST_SUITE_P(OrdersAndLayouts, CompactGoldenFiles,
                         ::testing::Values("little", "big", "line_little", "line_big",
                                           "layout1_little", "layout1_big", "layout2_little",
                                           "layout2_big", "layout3_little", "layout3_big"));

// A file of compact curves from before the layouts of their bytes that the reader knows (it
// stored the first segment's start, and its records have no Layout): the file loads, and its curves
// are refused (left unrecognised, as curves of an unknown format are) rather than read with the
// wrong layout.
TEST(CompactGoldenFiles, CurvesOfAnEarlierLayoutAreRefused) {
    LogCapture log;
    const TrackFile loaded("compact_earlier_layout.ovn");
    ASSERT_NE(loaded.file, nullptr);
    const orvane_transform_track* track = loaded.track;
    ASSERT_NE(track, nullptr);
    for (const orvane_curve2* curve : {&track->PositionCurve, &track->OrientationCurve}) {
        EXPECT_FALSE(OrvaneCurveFormatIsInitializedCorrectly(curve));
        EXPECT_NE(static_cast<const orvane_curve_data_header*>(curve->CurveData.Object)->Format,
                  OrvaneCurveFormatDaCompact);
    }
}

// The 8-byte constants' golden files: a track of a constant position and orientation in both
// byte orders. The curves are recognised, hold the words the builder makes of the example's
// values today (each word in the file's byte order) and decode as their description says (an
// independent reader), within the formats' stated errors of the values.
class PackedConstantGoldenFiles : public ::testing::TestWithParam<const char*> {};

TEST_P(PackedConstantGoldenFiles, LoadWithTheirValues) {
    LogCapture log;
    const TrackFile loaded(std::string("constants_") + GetParam() + ".ovn");
    ASSERT_NE(loaded.file, nullptr) << GetParam();
    const orvane_transform_track* track = loaded.track;
    ASSERT_NE(track, nullptr);
    EXPECT_STREQ(track->Name, "constants");
    orvane_example::PackedConstantExample today;
    ASSERT_TRUE(today.ok());
    const orvane_curve2* curves[2] = {&track->PositionCurve, &track->OrientationCurve};
    const orvane_curve2* built[2] = {&today.track.PositionCurve, &today.track.OrientationCurve};
    const int formats[2] = {OrvaneCurveFormatD3Constant14s, OrvaneCurveFormatD4nConstant15u};
    for (int k = 0; k < 2; ++k) {
        ASSERT_TRUE(OrvaneCurveFormatIsInitializedCorrectly(curves[k]));
        const auto& r =
            *static_cast<const orvane_curve_data_d3_constant14s*>(curves[k]->CurveData.Object);
        EXPECT_EQ(r.CurveDataHeader.Format, formats[k]);
        const auto& b =
            *static_cast<const orvane_curve_data_d3_constant14s*>(built[k]->CurveData.Object);
        EXPECT_EQ(std::memcmp(r.Words, b.Words, sizeof r.Words), 0) << k;
        float decoded[4];
        OrvaneCurveExtractKnotValues(curves[k], 0, 1, nullptr, decoded, nullptr);
        double expected[4];
        if (k == 0) {
            orvane_test::ReferencePosition(r.Words, expected);
            for (int c = 0; c < 3; ++c) {
                EXPECT_EQ(double(decoded[c]), expected[c]) << c;
                EXPECT_NEAR(decoded[c], orvane_example::kPackedExamplePosition[c],
                            1234.5678f / 8191.0f)
                    << c;
            }
        } else {
            orvane_test::ReferenceQuaternion(r.Words, expected);
            const float* q = orvane_example::kPackedExampleOrientation;
            const double length = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
            for (int c = 0; c < 4; ++c) {
                EXPECT_NEAR(decoded[c], expected[c], 1e-6) << c;
                EXPECT_NEAR(decoded[c], q[c] / length, 6e-5) << c;
            }
        }
    }
    EXPECT_EQ(log.errors() + log.warnings(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Orders, PackedConstantGoldenFiles, ::testing::Values("little", "big"));

// What the golden files hold is what the writer makes of the example today: written afresh,
// the example loads with the same values (so the golden test checks the files, not a stale
// expectation).
TEST(GoldenFiles, TheExampleWrittenTodayGivesTheSameValues) {
    ExampleContent example;
    ASSERT_TRUE(example.ok());
    const std::string path = std::string(OrvaneGetTemporaryDirectory()) + "orvane_golden_check.ovn";
    for (orvane_file_byte_order order : {OrvaneNativeByteOrder, orvane_example::OtherByteOrder()}) {
        orvane_example::ExampleFileOptions options;
        options.order = order;
        options.compression = OrvanePelma1Compression;
        ASSERT_TRUE(orvane_example::WriteExampleFile(example, path.c_str(), options));
        orvane_file* file = OrvaneReadEntireFile(path.c_str());
        ASSERT_NE(file, nullptr);
        ExpectExample(file, OrvaneGetFileInfo(file), example);
        OrvaneFreeFile(file);
    }
    std::remove(path.c_str());
}

}  // namespace

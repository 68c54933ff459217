// The golden files: the example content as an earlier writer wrote it, in both byte orders,
// uncompressed and with each codec. Each must load without a message and give back the
// example's values member by member, so that a change made to writer and reader together (a
// layout, a codec, a fixup rule) cannot pass unnoticed. testing/write_golden.cpp says how
// and when to regenerate them.
#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "orvane/file.h"
#include "orvane/file_builder.h"
#include "orvane/types.h"
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

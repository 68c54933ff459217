// The file compressor: contents read from part files, the stream written to a file writer.
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "orvane/file.h"
#include "orvane/file_compression.h"
#include "orvane/file_builder.h"
#include "support/log_capture.h"

using orvane_test::LogCapture;

namespace {

using Bytes = std::vector<uint8_t>;

std::string TempPath(const std::string& name) {
    return std::string(OrvaneGetTemporaryDirectory()) + "orvane_compress_test_" +
           std::to_string(getpid()) + "_" + name;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes Pattern(size_t n, uint32_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t((i * seed) / 7 + (i % 13 == 0 ? seed : 0));
    return b;
}

class FileCompressorTest : public ::testing::TestWithParam<int32_t> {
protected:
    void SetUp() override {
        parts_ = {Pattern(4000, 3), Pattern(0, 5), Pattern(1234, 11)};
        for (size_t i = 0; i < parts_.size(); ++i) {
            names_.push_back(TempPath("part" + std::to_string(i)));
            WriteFile(names_.back(), parts_[i]);
        }
        output_ = TempPath("section");
    }
    void TearDown() override {
        for (const auto& n : names_)
            std::remove(n.c_str());
        std::remove(output_.c_str());
    }
    std::vector<Bytes> parts_;
    std::vector<std::string> names_;
    std::string output_;
};

INSTANTIATE_TEST_SUITE_P(Types, FileCompressorTest, ::testing::Values(0, 1, 2));

TEST_P(FileCompressorTest, WritesAStreamThatDecodesToTheParts) {
    orvane_file_writer* writer = OrvaneNewFileWriter(output_.c_str(), true);
    ASSERT_NE(writer, nullptr);
    OrvaneWrite(writer, 3, "pre");  // the stream goes wherever the writer stands
    int32_t expanded = int32_t(parts_[0].size() + parts_[1].size() + parts_[2].size());
    orvane_file_compressor* compressor =
        OrvaneBeginFileCompression(expanded, 3, GetParam(), writer);
    ASSERT_NE(compressor, nullptr);
    std::vector<uint8_t> buffer(100);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_TRUE(OrvaneCompressContentsOfFile(compressor, int32_t(parts_[i].size()),
                                                 names_[i].c_str(), 100, buffer.data()));
    int32_t size = 0;
    EXPECT_TRUE(OrvaneEndFileCompression(compressor, &size));
    OrvaneDeleteFileWriter(writer);

    Bytes file = ReadFile(output_);
    ASSERT_EQ(file.size(), size_t(size) + 3);
    if (GetParam() == 0) {
        EXPECT_EQ(size, expanded);
    } else {
        EXPECT_LT(size, expanded);
    }
    file.resize(file.size() + size_t(OrvaneGetCompressedBytesPaddingSize(GetParam())));
    Bytes out(static_cast<size_t>(expanded));
    int32_t stop1 = int32_t(parts_[0].size()), stop2 = stop1 + int32_t(parts_[1].size());
    ASSERT_TRUE(OrvaneDecompressData(GetParam(), false, size, file.data() + 3, stop1, stop2,
                                     expanded, out.data()));
    Bytes expected = parts_[0];
    expected.insert(expected.end(), parts_[2].begin(), parts_[2].end());
    EXPECT_EQ(out, expected);
}

TEST_P(FileCompressorTest, FailuresAreReportedAndSticky) {
    orvane_file_writer* writer = OrvaneNewFileWriter(output_.c_str(), true);
    ASSERT_NE(writer, nullptr);
    std::vector<uint8_t> buffer(64);
    LogCapture log;
    // A missing part file.
    orvane_file_compressor* compressor = OrvaneBeginFileCompression(100, 1, GetParam(), writer);
    ASSERT_NE(compressor, nullptr);
    EXPECT_FALSE(OrvaneCompressContentsOfFile(compressor, 10, TempPath("missing").c_str(), 64,
                                              buffer.data()));
    EXPECT_FALSE(
        OrvaneCompressContentsOfFile(compressor, 10, names_[0].c_str(), 64, buffer.data()));
    int32_t size = 0;
    EXPECT_FALSE(OrvaneEndFileCompression(compressor, &size));
    EXPECT_EQ(size, -1);
    // A file shorter than announced, and more contents than announced.
    compressor = OrvaneBeginFileCompression(100, 1, GetParam(), writer);
    EXPECT_FALSE(
        OrvaneCompressContentsOfFile(compressor, 5000, names_[0].c_str(), 64, buffer.data()));
    EXPECT_FALSE(OrvaneEndFileCompression(compressor, nullptr));
    compressor = OrvaneBeginFileCompression(100, 1, GetParam(), writer);
    EXPECT_TRUE(OrvaneCompressContentsOfFile(compressor, int32_t(parts_[2].size()),
                                             names_[2].c_str(), 64, buffer.data()));
    EXPECT_FALSE(OrvaneCompressContentsOfFile(compressor, int32_t(parts_[2].size()),
                                              names_[2].c_str(), 64, buffer.data()));
    EXPECT_FALSE(OrvaneEndFileCompression(compressor, nullptr));
    EXPECT_GE(log.errors(), 3u);
    OrvaneDeleteFileWriter(writer);
}

TEST_P(FileCompressorTest, AMissingPartFileFailsEvenForAnEmptyContent) {
    orvane_file_writer* writer = OrvaneNewFileWriter(output_.c_str(), true);
    ASSERT_NE(writer, nullptr);
    std::vector<uint8_t> buffer(64);
    LogCapture log;
    orvane_file_compressor* compressor = OrvaneBeginFileCompression(0, 1, GetParam(), writer);
    ASSERT_NE(compressor, nullptr);
    EXPECT_FALSE(OrvaneCompressContentsOfFile(compressor, 0, TempPath("missing_empty").c_str(), 64,
                                              buffer.data()));
    EXPECT_FALSE(OrvaneEndFileCompression(compressor, nullptr));
    EXPECT_GE(log.errors(), 1u);
    // An empty part file that exists is an empty content.
    compressor = OrvaneBeginFileCompression(0, 1, GetParam(), writer);
    ASSERT_NE(compressor, nullptr);
    EXPECT_TRUE(OrvaneCompressContentsOfFile(compressor, 0, names_[1].c_str(), 64, buffer.data()));
    EXPECT_TRUE(OrvaneEndFileCompression(compressor, nullptr));
    OrvaneDeleteFileWriter(writer);
}

TEST(FileCompressor, RefusesUnrecognizedTypesAndNullWriters) {
    LogCapture log;
    EXPECT_EQ(OrvaneBeginFileCompression(10, 3, 7, nullptr), nullptr);
    EXPECT_TRUE(log.Contains("Unrecognized compression type 7"));
    EXPECT_EQ(OrvaneBeginFileCompression(10, 3, 1, nullptr), nullptr);
    EXPECT_TRUE(log.Contains("Writer is not allowed to be 0"));
    EXPECT_FALSE(OrvaneEndFileCompression(nullptr, nullptr));
}

}  // namespace

// Compression levels: each level's streams through the file builder, recompression and the
// Pelma1 calls, the default level behind the calls without one, and unknown levels.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "file/file_builder_support.h"
#include "orvane/file.h"
#include "orvane/file_compression.h"
#include "orvane/file_builder.h"
#include "orvane/data_tree_writer.h"
#include "support/log_capture.h"

namespace {

using Bytes = std::vector<uint8_t>;
using orvane_test::LogCapture;
using orvane_test::ReadBytes;
using orvane_test::TempName;

constexpr int32_t kLevels[] = {OrvaneFastCompressionLevel, OrvaneDefaultCompressionLevel,
                               OrvaneBestCompressionLevel};

// Section parts with enough structure that the levels choose different parses: floats of a
// smooth surface, 16-bit indices of a grid and a little text.
std::vector<Bytes> Parts() {
    Bytes floats, indices, text;
    for (int j = 0; j < 90; ++j) {
        for (int i = 0; i < 90; ++i) {
            float values[5] = {std::sin(0.1f * float(i)) * float(j), std::cos(0.07f * float(j)),
                               float(i) / 89.0f, float(j) / 89.0f, 1.0f};
            const uint8_t* p = reinterpret_cast<const uint8_t*>(values);
            floats.insert(floats.end(), p, p + sizeof(values));
        }
    }
    for (int j = 0; j + 1 < 90; ++j) {
        for (int i = 0; i + 1 < 90; ++i) {
            uint16_t a = uint16_t(j * 90 + i), quad[6] = {a,
                                                          uint16_t(a + 1),
                                                          uint16_t(a + 90),
                                                          uint16_t(a + 1),
                                                          uint16_t(a + 91),
                                                          uint16_t(a + 90)};
            const uint8_t* p = reinterpret_cast<const uint8_t*>(quad);
            indices.insert(indices.end(), p, p + sizeof(quad));
        }
    }
    for (int n = 0; n < 400; ++n) {
        std::string word = "bone_" + std::to_string(n % 37) + " ";
        text.insert(text.end(), word.begin(), word.end());
    }
    return {floats, indices, text};
}

class CompressionLevels : public ::testing::Test {
protected:
    void TearDown() override {
        for (const auto& p : paths_)
            std::remove(p.c_str());
    }
    std::string Path(const std::string& name) {
        paths_.push_back(TempName("levels_" + std::to_string(paths_.size()) + "_" + name));
        return paths_.back();
    }
    // One section holding the parts, written with the codec at the level (-1: never set).
    std::string Write(int32_t codec, int32_t level) {
        std::string path = Path("file.ovn");
        orvane_file_builder* b =
            OrvaneBeginFile(1, 0x80000016u, OrvaneGetTemporaryDirectory(), "levels");
        EXPECT_NE(b, nullptr);
        OrvaneSetFileSectionFormat(b, 0, codec, 4);
        if (level >= 0) OrvaneSetFileCompressionLevel(b, level);
        const int32_t widths[3] = {4, 2, 1};
        for (int p = 0; p < 3; ++p)
            OrvaneWriteFileChunk(b, 0, widths[p], int32_t(parts_[p].size()), parts_[p].data());
        EXPECT_TRUE(OrvaneEndFile(b, path.c_str()));
        return path;
    }
    void ExpectSection(const std::string& path, int32_t codec) {
        orvane_file* f = OrvaneReadEntireFile(path.c_str());
        ASSERT_NE(f, nullptr);
        ASSERT_NE(f->Sections[0], nullptr);
        Bytes expected;
        for (const Bytes& p : parts_)
            expected.insert(expected.end(), p.begin(), p.end());
        const uint8_t* data = static_cast<const uint8_t*>(f->Sections[0]);
        EXPECT_EQ(Bytes(data, data + expected.size()), expected);
        EXPECT_EQ(OrvaneGetOVNSectionArray(f->Header)[0].Compression, uint32_t(codec));
        OrvaneFreeFile(f);
    }
    std::vector<Bytes> parts_ = Parts();
    std::vector<std::string> paths_;
};

TEST_F(CompressionLevels, EveryLevelOfTheBuilderLoadsBack) {
    for (int32_t codec : {OrvanePelma0Compression, OrvanePelma1Compression}) {
        size_t sizes[3];
        for (int32_t level : kLevels) {
            std::string path = Write(codec, level);
            ExpectSection(path, codec);
            sizes[level] = ReadBytes(path).size();
        }
        // The levels reach the encoder: the fast one gives up some size, the best one none.
        EXPECT_GT(sizes[OrvaneFastCompressionLevel], sizes[OrvaneDefaultCompressionLevel]);
        EXPECT_LE(sizes[OrvaneBestCompressionLevel], sizes[OrvaneDefaultCompressionLevel]);
        // A builder whose level was never set writes the default level.
        EXPECT_EQ(ReadBytes(Write(codec, -1)),
                  ReadBytes(Write(codec, OrvaneDefaultCompressionLevel)));
    }
}

TEST_F(CompressionLevels, RecompressionAtALevelEqualsWritingAtIt) {
    std::string plain = Write(OrvaneNoCompression, -1);
    for (int32_t codec : {OrvanePelma0Compression, OrvanePelma1Compression}) {
        const int32_t mapping[1] = {codec};
        for (int32_t level : kLevels) {
            std::string out = Path("recompressed.ovn");
            ASSERT_TRUE(OrvaneRecompressFileAtLevel(plain.c_str(), out.c_str(), 1, mapping, level));
            EXPECT_EQ(ReadBytes(out), ReadBytes(Write(codec, level)));
        }
        // The call without a level keeps compressing at the default level.
        std::string out = Path("plain_call.ovn");
        ASSERT_TRUE(OrvaneRecompressFile(plain.c_str(), out.c_str(), 1, mapping));
        EXPECT_EQ(ReadBytes(out), ReadBytes(Write(codec, OrvaneDefaultCompressionLevel)));
    }
}

TEST_F(CompressionLevels, UnknownLevelsAreRefused) {
    LogCapture log;
    std::string plain = Write(OrvaneNoCompression, -1);
    std::string out = Path("never.ovn");
    const int32_t mapping[1] = {OrvanePelma1Compression};
    EXPECT_FALSE(OrvaneRecompressFileAtLevel(plain.c_str(), out.c_str(), 1, mapping, 3));
    EXPECT_TRUE(log.Contains("Unrecognized compression level 3"));
    EXPECT_TRUE(ReadBytes(out).empty());  // nothing was written

    orvane_file_writer* writer = OrvaneNewFileWriter(out.c_str(), true);
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(OrvaneBeginFileCompressionAtLevel(10, 3, OrvanePelma0Compression, -1, writer),
              nullptr);
    EXPECT_TRUE(log.Contains("Unrecognized compression level -1"));
    OrvaneDeleteFileWriter(writer);
    EXPECT_EQ(OrvanePelma1BeginSimpleAtLevel(10, 1, 7), nullptr);
    EXPECT_TRUE(log.Contains("Unrecognized compression level 7"));

    // A builder keeps its level when given an unknown one.
    size_t errors = log.errors();
    std::string path = Path("kept.ovn");
    orvane_file_builder* b =
        OrvaneBeginFile(1, 0x80000016u, OrvaneGetTemporaryDirectory(), "levels");
    OrvaneSetFileSectionFormat(b, 0, OrvanePelma1Compression, 4);
    OrvaneSetFileCompressionLevel(b, OrvaneFastCompressionLevel);
    OrvaneSetFileCompressionLevel(b, 42);
    EXPECT_EQ(log.errors(), errors + 1);
    const int32_t widths[3] = {4, 2, 1};
    for (int p = 0; p < 3; ++p)
        OrvaneWriteFileChunk(b, 0, widths[p], int32_t(parts_[p].size()), parts_[p].data());
    ASSERT_TRUE(OrvaneEndFile(b, path.c_str()));
    EXPECT_EQ(ReadBytes(path),
              ReadBytes(Write(OrvanePelma1Compression, OrvaneFastCompressionLevel)));
}

TEST_F(CompressionLevels, Pelma1CallsAtEveryLevel) {
    const Bytes& data = parts_[0];
    for (int32_t level : kLevels) {
        orvane_pelma1_state* state = OrvanePelma1BeginSimpleAtLevel(int32_t(data.size()), 1, level);
        ASSERT_NE(state, nullptr);
        ASSERT_TRUE(OrvanePelma1Compress(state, int32_t(data.size()), data.data()));
        void* stream = nullptr;
        int32_t size = OrvanePelma1End(state, &stream);
        ASSERT_GT(size, 0);
        const size_t bytes = size_t(std::max(size, 0));
        const size_t padding = size_t(std::max(OrvaneGetPelma1DecompressBufferPaddingSize(), 0));
        Bytes padded(bytes + padding, 0);
        std::memcpy(padded.data(), stream, bytes);
        Bytes out(data.size());
        EXPECT_TRUE(
            OrvanePelma1Decompress(false, size, padded.data(), int32_t(out.size()), out.data()));
        EXPECT_EQ(out, data);
        OrvanePelma1FreeSimple(state);
    }
}

}  // namespace

// Rewriting content files: recompression, byte-order conversion and raw images, checked against
// the files they came from and through the loader.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testing/example_content.h"
#include "file/file_builder_support.h"
#include "orvane/file.h"
#include "orvane/file_builder.h"
#include "orvane/data_tree_writer.h"
#include "orvane/types.h"
#include "support/log_capture.h"

namespace {

using Content = orvane_example::ExampleContent;
using orvane_test::LoadedFile;
using orvane_test::LogCapture;
using orvane_test::ReadBytes;
using orvane_test::TempName;

class FileRewrite : public ::testing::Test {
protected:
    void TearDown() override {
        for (auto& p : paths_)
            std::remove(p.c_str());
    }
    std::string Path(const std::string& name) {
        paths_.push_back(TempName("rewrite_" + name));
        return paths_.back();
    }
    // The content in three sections with a few section choices.
    std::string Write(orvane_file_byte_order order, int32_t compression = 0) {
        std::string path = Path(std::to_string(paths_.size()) + ".ovn");
        orvane_file_data_tree_writer* w =
            OrvaneBeginFileDataTreeWriting(OrvaneFileInfoType, content_.info(), 0, 0);
        OrvaneSetFileSectionForObjectsOfType(w, OrvaneStringType, 2);
        OrvaneSetFileSectionForObjectsOfType(w, OrvaneVertexDataType, 1);
        orvane_file_builder* b =
            OrvaneBeginFile(3, 0x80000016u, OrvaneGetTemporaryDirectory(), "rewrite");
        OrvaneSetFileByteOrder(b, order);
        OrvaneSetFileExtraTag(b, 2, 0x5151);
        for (int32_t s = 0; s < 3; ++s)
            OrvaneSetFileSectionFormat(b, s, compression, s == 1 ? 16 : 4);
        EXPECT_TRUE(OrvaneWriteDataTreeToFileBuilder(w, b));
        EXPECT_TRUE(OrvaneEndFile(b, path.c_str()));
        OrvaneEndFileDataTreeWriting(w);
        return path;
    }
    void ExpectContent(const std::string& path, bool reversed) {
        LoadedFile f;
        orvane_test::LoadFile(path, &f);
        ASSERT_TRUE(f.ok);
        EXPECT_EQ(f.reversed, reversed);
        EXPECT_EQ(f.header->CRC, f.CRC());
        EXPECT_EQ(f.header->ExtraTags[2], 0x5151u);
        orvane_test::TreeComparer compare(f);
        compare.Type(OrvaneFileInfoType, static_cast<const uint8_t*>(f.rootType));
        compare.Object(OrvaneFileInfoType, reinterpret_cast<const uint8_t*>(content_.info()),
                       static_cast<const uint8_t*>(f.rootObject));
        orvane_test::CompareWithLoader(path, OrvaneFileInfoType, content_.info());
    }
    Content content_;
    std::vector<std::string> paths_;
};

TEST_F(FileRewrite, RecompressingWithNoMappingReproducesTheFile) {
    for (auto order : {OrvaneLittleEndianByteOrder, OrvaneBigEndianByteOrder}) {
        std::string in = Write(order);
        std::string out = Path("same.ovn");
        ASSERT_TRUE(OrvaneRecompressFile(in.c_str(), out.c_str(), 0, nullptr));
        EXPECT_EQ(ReadBytes(in), ReadBytes(out));
    }
}

TEST_F(FileRewrite, RecompressionWithEachCodecComesBackToTheSameBytes) {
    for (auto order : {OrvaneLittleEndianByteOrder, OrvaneBigEndianByteOrder}) {
        std::string plain = Write(order);
        for (int32_t codec : {1, 2}) {
            std::string packed = Path("packed.ovn");
            const int32_t toCodec[1] = {codec};
            ASSERT_TRUE(OrvaneRecompressFile(plain.c_str(), packed.c_str(), 1, toCodec));
            LoadedFile f;
            orvane_test::LoadFile(packed, &f);
            ASSERT_TRUE(f.ok);
            for (uint32_t i = 0; i < 3; ++i) {
                EXPECT_EQ(f.table[i].Compression, uint32_t(codec));
                EXPECT_LT(f.table[i].DataSize, f.table[i].ExpandedSize);
            }
            ExpectContent(packed, orvane_test::ReversedOnThisHost(order));
            // Written compressed directly, the file is the same.
            EXPECT_EQ(ReadBytes(packed), ReadBytes(Write(order, codec)));
            // Mapping only the codec in use back to none restores the original.
            std::string back = Path("unpacked.ovn");
            int32_t toNone[3] = {0, 0, 0};
            ASSERT_TRUE(OrvaneRecompressFile(packed.c_str(), back.c_str(), 3, toNone));
            EXPECT_EQ(ReadBytes(back), ReadBytes(plain));
            // A mapping that does not reach the codec keeps it.
            std::string kept = Path("kept.ovn");
            ASSERT_TRUE(OrvaneRecompressFile(packed.c_str(), kept.c_str(), codec, toNone));
            EXPECT_EQ(ReadBytes(kept), ReadBytes(packed));
        }
    }
}

TEST_F(FileRewrite, ByteOrderConversionRoundTripsToTheSameBytes) {
    std::string little = Write(OrvaneLittleEndianByteOrder);
    std::string big = Path("big.ovn");
    ASSERT_TRUE(OrvaneConvertFileByteOrder(little.c_str(), big.c_str(), OrvaneBigEndianByteOrder));
    ExpectContent(big, orvane_test::ReversedOnThisHost(OrvaneBigEndianByteOrder));
    // Written big-endian directly, the file is the same.
    EXPECT_EQ(ReadBytes(big), ReadBytes(Write(OrvaneBigEndianByteOrder)));
    std::string back = Path("back.ovn");
    ASSERT_TRUE(OrvaneConvertFileByteOrder(big.c_str(), back.c_str(), OrvaneLittleEndianByteOrder));
    EXPECT_EQ(ReadBytes(back), ReadBytes(little));
    // Converting to the order a file already has changes nothing.
    std::string same = Path("same.ovn");
    ASSERT_TRUE(OrvaneConvertFileByteOrder(big.c_str(), same.c_str(), OrvaneBigEndianByteOrder));
    EXPECT_EQ(ReadBytes(same), ReadBytes(big));
}

TEST_F(FileRewrite, RawImagesLayTheTreeOutWithOffsetsForPointers) {
    std::string in = Write(OrvaneLittleEndianByteOrder);
    std::string raw = Path("raw.bin");
    ASSERT_TRUE(OrvaneConvertFileToRaw(in.c_str(), raw.c_str()));
    std::vector<uint8_t> image = ReadBytes(raw);
    ASSERT_GT(image.size(), 100u);
    auto word = [&](uint32_t at) {
        uint32_t v = 0;
        if (at + 4 <= image.size()) std::memcpy(&v, image.data() + at, 4);
        return v;
    };
    // The file info is the first object; its art tool info's name is an offset to the text.
    uint32_t art = word(0);
    ASSERT_LT(art, image.size());
    uint32_t name = word(art);
    ASSERT_LT(name, image.size());
    EXPECT_STREQ(reinterpret_cast<const char*>(image.data() + name), "Example Modeler");
    EXPECT_EQ(word(12), 1u);  // TextureCount
    uint32_t skeletons = word(32);
    uint32_t skeleton = word(skeletons);
    EXPECT_EQ(word(skeleton + 4), 4u);
    uint32_t bones = word(skeleton + 8);
    EXPECT_STREQ(reinterpret_cast<const char*>(image.data() + word(bones + 2 * 156)), "Neck");
    // The same info written directly.
    std::string direct = Path("direct.bin");
    ASSERT_TRUE(OrvaneConvertFileInfoToRaw(content_.info(), direct.c_str()));
    EXPECT_EQ(ReadBytes(direct), image);
}

TEST_F(FileRewrite, FailuresAreReported) {
    LogCapture log;
    std::string out = Path("out.ovn");
    EXPECT_FALSE(OrvaneRecompressFile("/no/such/file.ovn", out.c_str(), 0, nullptr));
    EXPECT_TRUE(log.Contains("Unable to open /no/such/file.ovn for reading"));
    EXPECT_FALSE(OrvaneConvertFileToRaw("/no/such/file.ovn", out.c_str()));
    EXPECT_TRUE(log.Contains("Unable to read /no/such/file.ovn for raw conversion."));
    EXPECT_FALSE(OrvaneConvertFileInfoToRaw(nullptr, out.c_str()));
    // A damaged file: not a content file, then a truncated one.
    std::string junk = Path("junk.ovn");
    std::FILE* f = std::fopen(junk.c_str(), "wb");
    std::fputs("this is not a content file, not even close to one......", f);
    std::fclose(f);
    log.Clear();
    EXPECT_FALSE(OrvaneRecompressFile(junk.c_str(), out.c_str(), 0, nullptr));
    EXPECT_TRUE(log.Contains("File is not a Orvane file"));
    std::string good = Write(OrvaneLittleEndianByteOrder);
    std::vector<uint8_t> bytes = ReadBytes(good);
    f = std::fopen(junk.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size() / 2, f);
    std::fclose(f);
    EXPECT_FALSE(OrvaneConvertFileByteOrder(junk.c_str(), out.c_str(), OrvaneBigEndianByteOrder));
    EXPECT_FALSE(OrvaneConvertFileByteOrder(good.c_str(), out.c_str(),
                                            static_cast<orvane_file_byte_order>(7)));
    const int32_t unknown[1] = {9};
    log.Clear();
    EXPECT_FALSE(OrvaneRecompressFile(good.c_str(), out.c_str(), 1, unknown));
    EXPECT_TRUE(log.Contains("Unrecognized compression type 9"));
}

}  // namespace

// The file builder: chunk placement and padding, locations, fixups, the laid-out file (header,
// section table, fixup arrays, CRC), raw images, byte order, range errors and temporary files.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "file/file_builder_support.h"
#include "file/offline/orvane_file_builder.h"
#include "orvane/file.h"
#include "orvane/file_builder.h"
#include "orvane/data_tree_writer.h"
#include "support/log_capture.h"

namespace {

using orvane_test::LoadedFile;
using orvane_test::LogCapture;
using orvane_test::ReadBytes;
using orvane_test::TempName;

namespace fs = std::filesystem;

std::string TempDirectory() {
    std::string dir = TempName("tmpdir");
    fs::create_directories(dir);
    return dir;
}

size_t FilesIn(const std::string& dir) {
    size_t n = 0;
    for (auto& entry : fs::directory_iterator(dir)) {
        (void)entry;
        ++n;
    }
    return n;
}

uint32_t U32(const std::vector<uint8_t>& bytes, size_t at) {
    uint32_t v;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
}

class FileBuilderTest : public ::testing::Test {
protected:
    void SetUp() override { dir_ = TempDirectory(); }
    void TearDown() override {
        // Every builder removes its temporary files, whatever happened.
        EXPECT_EQ(FilesIn(dir_), 0u);
        fs::remove_all(dir_);
        for (auto& p : outputs_)
            std::remove(p.c_str());
    }
    orvane_file_builder* Begin(int32_t sections, uint32_t tag = 0x80000016u) {
        return OrvaneBeginFile(sections, tag, dir_.c_str(), "test");
    }
    std::string Output(const std::string& name) {
        outputs_.push_back(TempName(name));
        return outputs_.back();
    }
    std::string dir_;
    std::vector<std::string> outputs_;
};

TEST_F(FileBuilderTest, ChunksArePaddedToTheSectionAlignmentWithinTheirPart) {
    orvane_file_builder* b = Begin(1);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(FilesIn(dir_), 3u);
    OrvaneSetFileSectionFormat(b, 0, 0, 16);
    const char bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    orvane_file_location a = OrvaneWriteFileChunk(b, 0, 1, 3, bytes);
    orvane_file_location c = OrvaneWriteFileChunk(b, 0, 1, 5, bytes);
    EXPECT_EQ(a.SectionIndex, 0);
    EXPECT_EQ(a.BufferIndex, 2);
    EXPECT_EQ(a.Offset, 0);
    EXPECT_EQ(c.BufferIndex, 2);
    EXPECT_EQ(c.Offset, 16);
    // Widths 4 and 0 share part 0, 2 is part 1, mixed widths go to part 2.
    EXPECT_EQ(OrvaneWriteFileChunk(b, 0, 0, 4, bytes).BufferIndex, 0);
    EXPECT_EQ(OrvaneWriteFileChunk(b, 0, 4, 4, bytes).Offset, 16);
    EXPECT_EQ(OrvaneWriteFileChunk(b, 0, 2, 2, bytes).BufferIndex, 1);
    EXPECT_EQ(OrvaneWriteFileChunk(b, 0, 5, 1, bytes).BufferIndex, 2);
    std::string out = Output("padding.ovn");
    ASSERT_TRUE(OrvaneEndFile(b, out.c_str()));
    LoadedFile f;
    orvane_test::LoadFile(out, &f);
    ASSERT_TRUE(f.ok);
    const orvane_ovn_section& s = f.table[0];
    EXPECT_EQ(s.Alignment, 16u);
    EXPECT_EQ(s.Start16Bit, 32u);
    EXPECT_EQ(s.Start8Bit, 48u);
    EXPECT_EQ(s.ExpandedSize, 48u + 48u);
    EXPECT_EQ(s.DataSize, s.ExpandedSize);
    EXPECT_EQ(std::memcmp(f.memory[0].data() + 48, bytes, 3), 0);
    EXPECT_EQ(f.memory[0][48 + 3], 0);  // padding is zero
    EXPECT_EQ(std::memcmp(f.memory[0].data() + 64, bytes, 5), 0);
}

TEST_F(FileBuilderTest, LaysOutHeaderTableFixupsAndDataWithAValidCRC) {
    orvane_file_builder* b = Begin(3, 0x12345678u);
    ASSERT_NE(b, nullptr);
    uint32_t words[10];
    for (uint32_t i = 0; i < 10; ++i)
        words[i] = 0x01010101u * i;
    orvane_file_location head = OrvaneWriteFileChunk(b, 0, 4, 40, words);
    const uint16_t shorts[6] = {1, 2, 3, 4, 5, 6};
    orvane_file_location half = OrvaneWriteFileChunk(b, 0, 2, 12, shorts);
    orvane_file_location text = OrvaneWriteFileChunk(b, 2, 1, 6, "hello");
    // A fixup from (0, 1, 8) in a section whose part 0 holds 40 bytes lives at 48.
    OrvaneMarkFileFixup(b, half, 8, text);
    orvane_file_fixup* moved = OrvaneMarkFileFixup(b, head, 4, head);
    OrvaneAdjustFileFixup(b, moved, OrvaneOffsetFileLocation(b, text, 2));
    OrvaneMarkMarshallingFixup(b, head, OrvaneOffsetFileLocation(b, half, 4), 2);
    OrvaneMarkFileRootObject(b, head, half);
    OrvaneSetFileExtraTag(b, 3, 0xABCD);
    std::string out = Output("layout.ovn");
    ASSERT_TRUE(OrvaneEndFile(b, out.c_str()));

    LoadedFile f;
    orvane_test::LoadFile(out, &f);
    ASSERT_TRUE(f.ok);
    EXPECT_FALSE(f.reversed);
    EXPECT_EQ(std::memcmp(f.bytes.data(), OrvaneOVNFileMV->MagicValue, 16), 0);
    EXPECT_EQ(U32(f.bytes, 16), ORVANE_FILE_HEADER_SIZE(3));
    EXPECT_EQ(U32(f.bytes, 20), 0u);
    EXPECT_EQ(f.header->Version, 6u);
    EXPECT_EQ(f.header->SectionTableOffset, 56u);
    EXPECT_EQ(f.header->SectionCount, 3u);
    EXPECT_EQ(f.header->TypeTag, 0x12345678u);
    EXPECT_EQ(f.header->ExtraTags[3], 0xABCDu);
    EXPECT_EQ(f.header->CRC, f.CRC());
    EXPECT_EQ(f.header->RootTypeReference.Offset, 0u);
    EXPECT_EQ(f.header->RootObjectReference.Offset, 40u);
    // Section 0's fixups start right after the table: 88 + 3 × 44.
    EXPECT_EQ(f.table[0].PointerFixupOffset, 220u);
    EXPECT_EQ(f.table[0].PointerFixupCount, 2u);
    EXPECT_EQ(f.table[0].MarshallingFixupOffset, 244u);
    EXPECT_EQ(f.table[0].DataOffset, 260u);
    auto fixups = f.PointerFixups(0);
    EXPECT_EQ(fixups[0].FromOffset, 48u);
    EXPECT_EQ(fixups[0].To.SectionIndex, 2u);
    EXPECT_EQ(fixups[0].To.Offset, 0u);
    EXPECT_EQ(fixups[1].FromOffset, 4u);
    EXPECT_EQ(fixups[1].To.Offset, 2u);
    auto marshalling = f.MarshallingFixups(0);
    EXPECT_EQ(marshalling[0].Count, 2u);
    EXPECT_EQ(marshalling[0].ObjectOffset, 44u);
    // The empty section keeps its entry and stores nothing.
    EXPECT_EQ(f.table[1].ExpandedSize, 0u);
    EXPECT_EQ(f.table[1].DataSize, 0u);
    EXPECT_EQ(f.table[1].DataOffset, f.table[0].DataOffset + f.table[0].DataSize);
    EXPECT_STREQ(static_cast<const char*>(f.Slot(f.memory[0].data() + 48)), "hello");
    EXPECT_STREQ(static_cast<const char*>(f.Slot(f.memory[0].data() + 4)), "llo");
}

TEST_F(FileBuilderTest, SectionsWithoutFixupsFollowOneAnother) {
    orvane_file_builder* b = Begin(2);
    ASSERT_NE(b, nullptr);
    OrvaneWriteFileChunk(b, 0, 4, 8, "abcdefgh");
    OrvaneWriteFileChunk(b, 1, 1, 3, "xyz");
    std::string out = Output("two.ovn");
    ASSERT_TRUE(OrvaneEndFile(b, out.c_str()));
    LoadedFile f;
    orvane_test::LoadFile(out, &f);
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(f.table[0].DataOffset, 176u);
    EXPECT_EQ(f.table[1].DataOffset, 176u + f.table[0].DataSize);
    // Padded so that a reader's HeaderSize read from offset 32 fits.
    EXPECT_EQ(f.bytes.size(), 32u + ORVANE_FILE_HEADER_SIZE(2));
    EXPECT_EQ(f.bytes[176 + 8 + 4], 0);
}

TEST_F(FileBuilderTest, BigEndianFilesReadBackThroughTheReversedPath) {
    orvane_file_builder* b = Begin(1);
    ASSERT_NE(b, nullptr);
    OrvaneSetFileByteOrder(b, OrvaneBigEndianByteOrder);
    EXPECT_EQ(bool(OrvaneFileIsByteReversed(b)),
              orvane_test::ReversedOnThisHost(OrvaneBigEndianByteOrder));
    const uint32_t words[2] = {0x11223344u, 0xA0B0C0D0u};
    const uint16_t halves[2] = {0x1234, 0xABCD};
    orvane_file_location w = OrvaneWriteFileChunk(b, 0, 4, 8, words);
    OrvaneWriteFileChunk(b, 0, 2, 4, halves);
    orvane_file_location t = OrvaneWriteFileChunk(b, 0, 1, 4, "abc");
    OrvaneMarkFileFixup(b, w, 4, t);
    OrvaneSetFileExtraTag(b, 0, 7);
    // Too late now.
    {
        LogCapture log;
        OrvaneSetFileByteOrder(b, OrvaneLittleEndianByteOrder);
        EXPECT_EQ(log.errors(), 1u);
    }
    std::string out = Output("big.ovn");
    ASSERT_TRUE(OrvaneEndFile(b, out.c_str()));
    LoadedFile f;
    orvane_test::LoadFile(out, &f);
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(f.reversed, orvane_test::ReversedOnThisHost(OrvaneBigEndianByteOrder));
    const uint8_t magic[4] = {0xCA, 0xB0, 0x67, 0xB8};
    EXPECT_EQ(std::memcmp(f.bytes.data(), magic, 4), 0);
    EXPECT_EQ(f.header->ExtraTags[0], 7u);
    EXPECT_EQ(f.header->CRC, f.CRC());
    // Stored big-endian, read back as written.
    EXPECT_EQ(f.stored[0][0], 0x11);
    EXPECT_EQ(f.stored[0][8], 0x12);
    EXPECT_EQ(U32(f.memory[0], 0), 0x11223344u);
    uint16_t h;
    std::memcpy(&h, f.memory[0].data() + 10, 2);
    EXPECT_EQ(h, 0xABCD);
    EXPECT_STREQ(static_cast<const char*>(f.Slot(f.memory[0].data() + 4)), "abc");
}

TEST_F(FileBuilderTest, RawImagesHoldTargetOffsetsInTheirPointerSlots) {
    orvane_file_builder* b = Begin(1);
    ASSERT_NE(b, nullptr);
    OrvaneSetFileSectionFormat(b, 0, 0, 2);
    std::vector<uint8_t> twenty(20, 0xEE);
    orvane_file_location slot = OrvaneWriteFileChunk(b, 0, 4, 20, twenty.data());
    OrvaneWriteFileChunk(b, 0, 2, 6, "\1\2\3\4\5\6");
    orvane_file_location text = OrvaneWriteFileChunk(b, 0, 1, 3, "ab");
    OrvaneMarkFileFixup(b, slot, 8, OrvaneOffsetFileLocation(b, text, 1));
    std::string out = Output("raw.bin");
    ASSERT_TRUE(OrvaneEndFileRaw(b, out.c_str()));
    std::vector<uint8_t> raw = ReadBytes(out);
    // Part 1 at 20, part 2 at 28 after part 1 is aligned to 4; the slot holds 28 + 1.
    ASSERT_GE(raw.size(), 32u);
    EXPECT_EQ(raw[20], 1);
    EXPECT_EQ(raw[28], 'a');
    EXPECT_EQ(U32(raw, 8), 29u);
    EXPECT_EQ(U32(raw, 4), 0xEEEEEEEEu);
    EXPECT_EQ(raw.size() % 4, 0u);
}

TEST_F(FileBuilderTest, RangeErrorsAreReportedAndChangeNothing) {
    LogCapture log;
    orvane_file_builder* b = Begin(2);
    ASSERT_NE(b, nullptr);
    OrvaneSetFileExtraTag(b, 4, 1);
    EXPECT_TRUE(log.Contains("Index 4 is out of range [0, 4)"));
    orvane_file_location l = OrvaneWriteFileChunk(b, 2, 4, 4, "abcd");
    EXPECT_TRUE(log.Contains("InSectionIndex 2 is out of range [0, 2)"));
    EXPECT_EQ(l.SectionIndex, 0);
    EXPECT_EQ(l.Offset, 0);
    OrvaneSetFileSectionFormat(b, -1, 0, 4);
    EXPECT_TRUE(log.Contains("SectionIndex -1 is out of range [0, 2)"));
    orvane_file_fixup* dummy = OrvaneMarkFileFixup(b, {5, 0, 0}, 0, {0, 0, 0});
    EXPECT_TRUE(log.Contains("From.SectionIndex 5 is out of range [0, 2)"));
    OrvaneAdjustFileFixup(b, dummy, {1, 0, 0});  // harmless
    OrvaneMarkFileFixup(b, {0, 0, 0}, 0, {-1, 0, 0});
    EXPECT_TRUE(log.Contains("To.SectionIndex -1 is out of range [0, 2)"));
    OrvaneMarkMarshallingFixup(b, {3, 0, 0}, {0, 0, 0}, 1);
    EXPECT_TRUE(log.Contains("Type.SectionIndex 3 is out of range [0, 2)"));
    OrvaneMarkMarshallingFixup(b, {0, 0, 0}, {3, 0, 0}, 1);
    EXPECT_TRUE(log.Contains("Object.SectionIndex 3 is out of range [0, 2)"));
    // Alignments must be powers of two; 0 is taken as 1.
    OrvaneSetFileSectionFormat(b, 0, 0, 12);
    EXPECT_TRUE(log.Contains("Alignment 12"));
    OrvaneSetFileSectionFormat(b, 1, 0, 0);
    OrvaneWriteFileChunk(b, 1, 1, 3, "abc");
    EXPECT_EQ(OrvaneWriteFileChunk(b, 1, 1, 1, "d").Offset, 3);
    std::string out = Output("ranges.ovn");
    ASSERT_TRUE(OrvaneEndFile(b, out.c_str()));
    LoadedFile f;
    orvane_test::LoadFile(out, &f);
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(f.table[0].PointerFixupCount + f.table[1].PointerFixupCount, 0u);
    EXPECT_EQ(f.table[0].MarshallingFixupCount, 0u);
    EXPECT_EQ(f.table[0].ExpandedSize, 0u);
    EXPECT_EQ(f.header->ExtraTags[0] | f.header->ExtraTags[3], 0u);
}

TEST_F(FileBuilderTest, AFailedWriteFailsTheEndAndLeavesNoTemporaryFiles) {
    LogCapture log;
    orvane_file_builder* b = Begin(1);
    ASSERT_NE(b, nullptr);
    OrvaneWriteFileChunk(b, 0, 4, 8, nullptr);  // cannot be written
    OrvaneWriteFileChunk(b, 0, 4, 4, "abcd");   // skipped, but still placed
    std::string out = Output("failed.ovn");
    EXPECT_FALSE(OrvaneEndFile(b, out.c_str()));
    // A file that cannot be created aborts the builder.
    b = Begin(1);
    ASSERT_NE(b, nullptr);
    EXPECT_FALSE(OrvaneEndFile(b, (dir_ + "/no/such/dir/x.ovn").c_str()));
    EXPECT_FALSE(OrvaneEndFile(nullptr, out.c_str()));
    OrvaneAbortFile(nullptr);
    // Part files that cannot be created: no builder, nothing left behind.
    EXPECT_EQ(OrvaneBeginFile(2, 0, (dir_ + "/missing").c_str(), "x"), nullptr);
}

void WriteText(const std::string& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs(text.c_str(), f);
    std::fclose(f);
}

std::string ReadText(const std::string& path) {
    std::vector<uint8_t> bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// An end that is bound to fail (an earlier write of the data failed, or a section cannot be
// compressed) reports it before it creates the file, so that a file of that name stays as it was.
TEST_F(FileBuilderTest, AnEndBoundToFailLeavesAnExistingFileAsItWas) {
    LogCapture log;
    const std::string out = Output("kept.ovn");
    WriteText(out, "an earlier file");
    orvane_file_builder* b = Begin(1);
    ASSERT_NE(b, nullptr);
    OrvaneWriteFileChunk(b, 0, 4, 8, nullptr);  // cannot be written
    EXPECT_FALSE(OrvaneEndFile(b, out.c_str()));
    EXPECT_EQ(ReadText(out), "an earlier file");
    b = Begin(1);
    ASSERT_NE(b, nullptr);
    OrvaneWriteFileChunk(b, 0, 1, -1, "x");  // cannot be written
    EXPECT_FALSE(OrvaneEndFileRaw(b, out.c_str()));
    EXPECT_EQ(ReadText(out), "an earlier file");
    // The compressed section file cannot be created: a folder holds its name.
    b = Begin(2);
    ASSERT_NE(b, nullptr);
    OrvaneSetFileSectionFormat(b, 1, OrvanePelma1Compression, 4);
    OrvaneWriteFileChunk(b, 0, 4, 8, "abcdefgh");
    OrvaneWriteFileChunk(b, 1, 4, 8, "abcdefgh");
    const std::string blocker = dir_ + "/" + orvane::GetFileBuilderTemporaryBaseName(b) + "_1.ctf";
    fs::create_directory(blocker);
    EXPECT_FALSE(OrvaneEndFile(b, out.c_str()));
    fs::remove(blocker);
    EXPECT_EQ(ReadText(out), "an earlier file");
    // A tree that could not be written whole is not written over the file either.
    const char* text = "text";
    orvane_file_data_tree_writer* writer =
        OrvaneBeginFileDataTreeWriting(OrvaneStringType, &text, 0, 0);
    OrvaneSetFileSectionForObjectsOfType(writer, OrvaneStringType, 3);
    EXPECT_FALSE(OrvaneWriteDataTreeToFile(writer, 0, out.c_str(), 1));
    EXPECT_TRUE(log.Contains("Unable to write tree contents to file buffer"));
    OrvaneEndFileDataTreeWriting(writer);
    EXPECT_EQ(ReadText(out), "an earlier file");
    // Ends that can succeed still replace the file.
    b = Begin(1);
    ASSERT_NE(b, nullptr);
    OrvaneSetFileSectionFormat(b, 0, OrvanePelma0Compression, 4);
    OrvaneWriteFileChunk(b, 0, 4, 8, "abcdefgh");
    ASSERT_TRUE(OrvaneEndFile(b, out.c_str()));
    LoadedFile f;
    orvane_test::LoadFile(out, &f);
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(std::memcmp(f.memory[0].data(), "abcdefgh", 8), 0);
}

TEST_F(FileBuilderTest, TemporaryNamesAreUniquePerBuilder) {
    orvane_file_builder* a = Begin(1);
    orvane_file_builder* b = Begin(1);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_STRNE(orvane::GetFileBuilderTemporaryBaseName(a),
                 orvane::GetFileBuilderTemporaryBaseName(b));
    EXPECT_EQ(FilesIn(dir_), 6u);
    OrvaneWriteFileChunk(a, 0, 4, 4, "AAAA");
    OrvaneWriteFileChunk(b, 0, 4, 4, "BBBB");
    std::string outA = Output("a.ovn"), outB = Output("b.ovn");
    ASSERT_TRUE(OrvaneEndFile(a, outA.c_str()));
    ASSERT_TRUE(OrvaneEndFile(b, outB.c_str()));
    LoadedFile fa, fb;
    orvane_test::LoadFile(outA, &fa);
    orvane_test::LoadFile(outB, &fb);
    ASSERT_TRUE(fa.ok && fb.ok);
    EXPECT_EQ(fa.memory[0][0], 'A');
    EXPECT_EQ(fb.memory[0][0], 'B');
    orvane_file_builder* c = Begin(4);
    ASSERT_NE(c, nullptr);
    OrvaneAbortFile(c);
}

// Temporary names that would be cut to the name buffer's 511 characters would name one file
// for several parts: such a builder is refused, and nothing is created.
TEST_F(FileBuilderTest, TemporaryNamesThatWouldBeCutAreRefused) {
    LogCapture log;
    std::string deep = dir_;
    while (deep.size() < 470)
        deep += "/" + std::string(40, 'd');
    fs::create_directories(deep);
    EXPECT_EQ(OrvaneBeginFile(12, 0, deep.c_str(), "a_rather_long_base_name"), nullptr);
    EXPECT_TRUE(log.Contains("longer than 511 characters"));
    EXPECT_TRUE(fs::is_empty(deep));
    // A base name or a folder longer than the buffer on its own.
    EXPECT_EQ(OrvaneBeginFile(1, 0, dir_.c_str(), std::string(600, 'b').c_str()), nullptr);
    EXPECT_EQ(OrvaneBeginFile(1, 0, (deep + "/" + std::string(100, 'e')).c_str(), "x"), nullptr);
    // Names that fit, however near the limit, work.
    std::string near = dir_;
    while (near.size() < 400)
        near += "/" + std::string(40, 'n');
    fs::create_directories(near);
    orvane_file_builder* b = OrvaneBeginFile(12, 0, near.c_str(), "x");
    ASSERT_NE(b, nullptr);
    for (int32_t s = 0; s < 12; ++s) {
        const uint32_t word = 0x01010101u * uint32_t(s + 1);
        OrvaneWriteFileChunk(b, s, 4, 4, &word);
        OrvaneWriteFileChunk(b, s, 2, 2, &word);
        OrvaneWriteFileChunk(b, s, 1, 1, &word);
    }
    std::string out = Output("near.ovn");
    ASSERT_TRUE(OrvaneEndFile(b, out.c_str()));
    EXPECT_TRUE(fs::is_empty(near));
    LoadedFile f;
    orvane_test::LoadFile(out, &f);
    ASSERT_TRUE(f.ok);
    for (uint32_t s = 0; s < 12; ++s) {
        ASSERT_EQ(f.table[s].ExpandedSize, 12u);
        EXPECT_EQ(f.memory[s][0], s + 1);
        EXPECT_EQ(f.memory[s][4], s + 1);
        EXPECT_EQ(f.memory[s][8], s + 1);
    }
    fs::remove_all(dir_ + "/" + std::string(40, 'd'));
    fs::remove_all(dir_ + "/" + std::string(40, 'n'));
}

// Fixups must lie in the data that was written: a pointer slot wholly inside its part, a target
// inside its part or just past its end. Any other fixup fails the end, which writes nothing
// rather than a file the loader refuses or an image with bytes written outside it.
TEST_F(FileBuilderTest, FixupsOutsideTheWrittenDataFailTheEnd) {
    auto attempt = [&](auto mark, bool raw) {
        LogCapture log;
        orvane_file_builder* b = Begin(2);
        EXPECT_NE(b, nullptr);
        if (b == nullptr) return false;
        const orvane_file_location words = OrvaneWriteFileChunk(b, 0, 4, 8, "abcdefgh");
        const orvane_file_location text = OrvaneWriteFileChunk(b, 1, 1, 3, "xy");
        mark(b, words, text);
        const std::string out = Output("outside.bin");
        orvane_file_writer* writer = OrvaneNewFileWriter(out.c_str(), true);
        EXPECT_NE(writer, nullptr);
        OrvaneWrite(writer, 4, "HEAD");
        const bool ok =
            raw ? OrvaneEndFileRawToWriter(b, writer) : OrvaneEndFileToWriter(b, writer);
        OrvaneDeleteFileWriter(writer);
        const std::vector<uint8_t> bytes = ReadBytes(out);
        EXPECT_GE(bytes.size(), 4u);
        EXPECT_EQ(std::memcmp(bytes.data(), "HEAD", 4), 0);
        EXPECT_LE(bytes.size(), 1000u);
        if (!ok) {
            EXPECT_TRUE(log.Contains("lies outside the written data"));
        }
        return ok;
    };
    using B = orvane_file_builder*;
    using L = orvane_file_location;
    for (bool raw : {false, true}) {
        SCOPED_TRACE(raw ? "raw" : "content");
        // At the edges: the last slot of a part, a target just past a part's end.
        EXPECT_TRUE(attempt(
            [](B b, L w, L t) {
                OrvaneMarkFileFixup(b, w, 4, OrvaneOffsetFileLocation(b, t, 4));
                OrvaneMarkMarshallingFixup(b, w, OrvaneOffsetFileLocation(b, t, 4), 1);
            },
            raw));
        EXPECT_FALSE(attempt([](B b, L w, L t) { OrvaneMarkFileFixup(b, w, 6, t); }, raw));
        EXPECT_FALSE(attempt([](B b, L w, L t) { OrvaneMarkFileFixup(b, w, 100000, t); }, raw));
        EXPECT_FALSE(attempt([](B b, L w, L t) { OrvaneMarkFileFixup(b, w, -8, t); }, raw));
        EXPECT_FALSE(attempt([](B b, L w, L t) { OrvaneMarkFileFixup(b, t, 2, w); }, raw));
        EXPECT_FALSE(attempt(
            [](B b, L w, L t) { OrvaneMarkFileFixup(b, w, 0, OrvaneOffsetFileLocation(b, t, 5)); },
            raw));
        EXPECT_FALSE(attempt(
            [](B b, L w, L t) { OrvaneMarkFileFixup(b, w, 0, OrvaneOffsetFileLocation(b, t, -1)); },
            raw));
        EXPECT_FALSE(attempt(
            [](B b, L w, L) {
                L elsewhere = w;
                elsewhere.BufferIndex = 3;
                OrvaneMarkFileFixup(b, w, 0, elsewhere);
            },
            raw));
        EXPECT_FALSE(attempt(
            [](B b, L w, L t) {
                OrvaneMarkMarshallingFixup(b, w, OrvaneOffsetFileLocation(b, t, 9), 1);
            },
            raw));
        EXPECT_FALSE(attempt([](B b, L w, L t) { OrvaneMarkMarshallingFixup(b, w, t, -1); }, raw));
    }
    // Through a named end, the file is not even created.
    LogCapture log;
    orvane_file_builder* b = Begin(1);
    ASSERT_NE(b, nullptr);
    const orvane_file_location words = OrvaneWriteFileChunk(b, 0, 4, 8, "abcdefgh");
    OrvaneMarkFileFixup(b, words, 8, words);
    const std::string out = Output("outside.ovn");
    std::remove(out.c_str());
    EXPECT_FALSE(OrvaneEndFile(b, out.c_str()));
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(FileBuilderTest, LargeChunksAndManyFixupsPassThroughTheBuffers) {
    orvane_file_builder* b = Begin(1);
    ASSERT_NE(b, nullptr);
    std::vector<uint32_t> big(100000);
    for (uint32_t i = 0; i < big.size(); ++i)
        big[i] = i * 2654435761u;
    orvane_file_location at = OrvaneWriteFileChunk(b, 0, 4, int32_t(big.size() * 4), big.data());
    orvane_file_location small = OrvaneWriteFileChunk(b, 0, 1, 1, "z");
    for (int32_t i = 0; i < 1000; ++i)
        OrvaneMarkFileFixup(b, at, 4 * i, small);
    std::string out = Output("large.ovn");
    ASSERT_TRUE(OrvaneEndFile(b, out.c_str()));
    LoadedFile f;
    orvane_test::LoadFile(out, &f);
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(f.table[0].PointerFixupCount, 1000u);
    EXPECT_EQ(std::memcmp(f.stored[0].data() + 4000, big.data() + 1000, 4 * 99000), 0);
    EXPECT_EQ(*static_cast<const char*>(f.Slot(f.memory[0].data() + 400)), 'z');
}

}  // namespace

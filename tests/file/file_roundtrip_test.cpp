// A small content file written through the file writer in either byte order, then read back
// through a reader with the format primitives in the order the loader uses them: recognition,
// header checks, section reversal, pointer fixups, marshalling, pointer fixups again.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include "orvane/file.h"
#include "orvane/file_compression.h"
#include "orvane/file_builder.h"
#include "orvane/types.h"
#include "support/log_capture.h"

namespace {

// Bytes in the order of a writing machine that is (swap true) or is not of the other order.
struct Bytes {
    explicit Bytes(bool swap_) : swap(swap_) {}
    void U32(uint32_t offset, uint32_t v) {
        Grow(offset + 4);
        if (swap) v = __builtin_bswap32(v);
        std::memcpy(data.data() + offset, &v, 4);
    }
    void U16(uint32_t offset, uint16_t v) {
        Grow(offset + 2);
        if (swap) v = __builtin_bswap16(v);
        std::memcpy(data.data() + offset, &v, 2);
    }
    void Text(uint32_t offset, const char* text) {
        Grow(offset + uint32_t(std::strlen(text)) + 1);
        std::memcpy(data.data() + offset, text, std::strlen(text) + 1);
    }
    void Grow(uint32_t size) {
        if (data.size() < size) data.resize(size);
    }
    bool swap;
    std::vector<uint8_t> data;
};

constexpr uint32_t kMixedObjects = 2;

// Section 0, part by part:
//   32-bit part: type records (root type at 0, Int32 at 160, Real32 ×4 at 224, the mixed type
//                at 288), the root object at 416, three Int32 values at 436;
//   16-bit part: two UInt16 at 448;
//   8-bit part:  names and "hello" from 452, two mixed objects at 488.
// Section 1: four reals.
struct Content {
    explicit Content(bool swap)
        : main(swap), reals(swap), pointerFixups(swap), marshallingFixups(swap) {
        Record(0, OrvaneInt32Member, 452, ~0u, 0);
        Record(32, OrvaneReferenceToArrayMember, 458, 160, 0);
        Record(64, OrvaneStringMember, 465, ~0u, 0);
        Record(96, OrvaneReferenceMember, 470, 224, 0);
        Record(128, OrvaneEndMember, ~0u, ~0u, 0);
        Record(160, OrvaneInt32Member, 477, ~0u, 0);
        Record(192, OrvaneEndMember, ~0u, ~0u, 0);
        Record(224, OrvaneReal32Member, 477, ~0u, 4);
        Record(256, OrvaneEndMember, ~0u, ~0u, 0);
        Record(288, OrvaneUInt16Member, 483, ~0u, 0);  // the mixed type: 2 + 2 + 4 bytes
        Record(320, OrvaneUInt8Member, 485, ~0u, 2);
        Record(352, OrvaneInt32Member, 487, ~0u, 0);
        Record(384, OrvaneEndMember, ~0u, ~0u, 0);
        // The root object: Count, Values (count and slot), Name, Floats.
        main.U32(416, 3);
        main.U32(420, 3);
        Fixup(424, 0, 436);
        Fixup(428, 0, 477);  // "hello"
        Fixup(432, 1, 0);
        main.U32(436, 10);
        main.U32(440, 0xFFFFFFFEu);
        main.U32(444, 0x01020304u);
        main.U16(448, 0x1234);
        main.U16(450, 0xABCD);
        main.Text(452, "Count");   // 452..457
        main.Text(458, "Values");  // 458..464
        main.Text(465, "Name");    // 465..469
        main.Text(470, "Floats");  // 470..476
        main.Text(477, "hello");   // 477..482
        main.Text(483, "A");
        main.Text(485, "B");
        main.Text(487, "C");
        for (uint32_t i = 0; i < kMixedObjects; ++i) {
            uint32_t at = 492 + 8 * i;
            main.U32(at + 4, 0x33445566u + i);
            main.U16(at, uint16_t(0x1122 + i));
            main.data[at + 2] = uint8_t(0xA0 + i);
            main.data[at + 3] = uint8_t(0xB0 + i);
        }
        marshallingFixups.U32(0, kMixedObjects);
        marshallingFixups.U32(4, 492);
        marshallingFixups.U32(8, 0);
        marshallingFixups.U32(12, 288);
        for (uint32_t i = 0; i < 4; ++i) {
            float value = 0.25f * float(i + 1);
            uint32_t bits;
            std::memcpy(&bits, &value, 4);
            reals.U32(4 * i, bits);
        }
    }
    void Record(uint32_t offset, int32_t kind, uint32_t name, uint32_t reference, int32_t width) {
        main.U32(offset, uint32_t(kind));
        main.U32(offset + 4, 0);
        main.U32(offset + 8, 0);
        main.U32(offset + 12, uint32_t(width));
        for (uint32_t o = 16; o < 32; o += 4)
            main.U32(offset + o, 0);
        if (name != ~0u) Fixup(offset + 4, 0, name);
        if (reference != ~0u) Fixup(offset + 8, 0, reference);
    }
    void Fixup(uint32_t from, uint32_t section, uint32_t offset) {
        uint32_t at = uint32_t(pointerFixups.data.size());
        pointerFixups.U32(at, from);
        pointerFixups.U32(at + 4, section);
        pointerFixups.U32(at + 8, offset);
    }
    Bytes main, reals, pointerFixups, marshallingFixups;
};

std::string TempPath(const std::string& name) {
    return std::string(OrvaneGetTemporaryDirectory()) + "orvane_roundtrip_" +
           std::to_string(getpid()) + "_" + name;
}

// Lays the file out as the builder does and writes it through the writer with its CRC.
bool WriteContentFile(const std::string& path, bool swap) {
    Content content(swap);
    const uint32_t sectionCount = 2;
    const uint32_t headerSize = ORVANE_FILE_HEADER_SIZE(sectionCount);
    Bytes table(swap);
    uint32_t offset = headerSize;
    const uint32_t sizes[2] = {uint32_t(content.main.data.size()), 16};
    const uint32_t starts[2][2] = {{448, 452}, {16, 16}};
    const uint32_t pointerCounts[2] = {uint32_t(content.pointerFixups.data.size() / 12), 0};
    const uint32_t marshallingCounts[2] = {1, 0};
    for (uint32_t i = 0; i < sectionCount; ++i) {
        uint32_t e = 44 * i;
        table.U32(e + 0, 0);
        table.U32(e + 8, sizes[i]);
        table.U32(e + 12, sizes[i]);
        table.U32(e + 16, 4);
        table.U32(e + 20, starts[i][0]);
        table.U32(e + 24, starts[i][1]);
        table.U32(e + 28, offset);
        table.U32(e + 32, pointerCounts[i]);
        offset += 12 * pointerCounts[i];
        table.U32(e + 36, offset);
        table.U32(e + 40, marshallingCounts[i]);
        offset += 16 * marshallingCounts[i];
        table.U32(e + 4, offset);
        offset += sizes[i];
    }
    orvane_file_writer* writer = OrvaneNewFileWriter(path.c_str(), true);
    if (writer == nullptr) return false;
    bool ok = OrvaneSeekWriterFromStart(writer, 88) == 88;
    OrvaneBeginWriterCRC(writer);
    auto put = [&](const Bytes& b) {
        ok = ok && OrvaneWrite(writer, int32_t(b.data.size()), b.data.data());
    };
    put(table);
    put(content.pointerFixups);
    put(content.marshallingFixups);
    put(content.main);
    put(content.reals);
    uint32_t crc = OrvaneEndWriterCRC(writer);
    uint32_t total = uint32_t(OrvaneGetWriterPosition(writer));
    Bytes head(swap);
    for (uint32_t w = 0; w < 4; ++w)
        head.U32(4 * w, OrvaneOVNFileMV->MagicValue[w]);
    head.U32(16, headerSize);
    head.U32(20, 0);
    head.U32(24, 0);
    head.U32(28, 0);
    const uint32_t header[14] = {ORVANE_FILE_FORMAT_REVISION,
                                 total,
                                 crc,
                                 56,
                                 sectionCount,
                                 0,
                                 0,
                                 0,
                                 416,
                                 0x80000016u,
                                 1,
                                 2,
                                 3,
                                 4};
    for (uint32_t w = 0; w < 14; ++w)
        head.U32(32 + 4 * w, header[w]);
    ok = ok && OrvaneSeekWriterFromStart(writer, 0) == 0;
    put(head);
    OrvaneDeleteFileWriter(writer);
    return ok;
}

void ReverseWords(std::vector<uint8_t>& block) {
    for (size_t i = 0; i + 4 <= block.size(); i += 4)
        std::reverse(&block[i], &block[i + 4]);
}

int32_t Read(orvane_file_reader* reader, uint32_t position, size_t count, void* buffer) {
    return reader->ReadAtMostCallback(__FILE__, __LINE__, reader, int32_t(position), int32_t(count),
                                      buffer);
}

// Reads the file back with the primitives and checks every value of the content.
void LoadAndCheck(const std::string& path, bool expectReversed) {
    orvane_file_reader* reader =
        OrvaneGetDefaultFileReaderOpenCallback()(__FILE__, __LINE__, path.c_str());
    ASSERT_NE(reader, nullptr);
    orvane_file_magic_record magic;
    ASSERT_EQ(Read(reader, 0, 32, &magic), 32);
    uint32_t headerSize = 0;
    bool reversed = false;
    ASSERT_TRUE(OrvaneIsOrvaneFile(&magic, &headerSize, &reversed));
    EXPECT_EQ(reversed, expectReversed);
    ASSERT_EQ(headerSize, ORVANE_FILE_HEADER_SIZE(2));
    std::vector<uint8_t> block(headerSize);
    ASSERT_EQ(Read(reader, 32, headerSize, block.data()), int32_t(headerSize));
    if (reversed) ReverseWords(block);
    auto* header = reinterpret_cast<orvane_file_header*>(block.data());
    ASSERT_TRUE(OrvaneFileHeaderIsValid(header, headerSize));
    EXPECT_EQ(header->Version, uint32_t(ORVANE_FILE_FORMAT_REVISION));
    EXPECT_EQ(header->TypeTag, 0x80000016u);
    EXPECT_EQ(header->ExtraTags[3], 4u);

    // The CRC covers everything from the section table on, as zlib computes it.
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_EQ(file.size(), header->TotalSize);
    EXPECT_EQ(header->CRC, uint32_t(crc32(0, file.data() + 88, uInt(file.size() - 88))));

    const uint32_t count = header->SectionCount;
    const orvane_ovn_section* table = OrvaneGetOVNSectionArray(header);
    std::vector<std::vector<uint8_t>> memory(count);
    std::vector<void*> bases(count);
    for (uint32_t i = 0; i < count; ++i) {
        const orvane_ovn_section& s = table[i];
        memory[i].resize(s.ExpandedSize);
        ASSERT_EQ(Read(reader, s.DataOffset, s.DataSize, memory[i].data()), int32_t(s.DataSize));
        if (reversed)
            OrvaneReverseSection(s.Start16Bit, s.Start8Bit, s.ExpandedSize, memory[i].data());
        bases[i] = memory[i].data();
    }
    std::vector<void*> pointers(OrvaneGetOVNPointerCount(int32_t(count), table));
    orvane_file_sections sections = {int32_t(count), table, bases.data(), uint32_t(pointers.size()),
                                     pointers.data()};
    auto fixUp = [&](uint32_t i) {
        std::vector<uint8_t> fixups(12 * table[i].PointerFixupCount);
        ASSERT_EQ(Read(reader, table[i].PointerFixupOffset, fixups.size(), fixups.data()),
                  int32_t(fixups.size()));
        if (reversed) ReverseWords(fixups);
        EXPECT_TRUE(OrvaneOVNFixUp(&sections, int32_t(i), table[i].PointerFixupCount,
                                   reinterpret_cast<orvane_ovn_pointer_fixup*>(fixups.data())));
    };
    for (uint32_t i = 0; i < count; ++i)
        fixUp(i);
    for (uint32_t i = 0; i < count; ++i) {
        if (reversed && table[i].MarshallingFixupCount) {
            std::vector<uint8_t> fixups(16 * table[i].MarshallingFixupCount);
            ASSERT_EQ(Read(reader, table[i].MarshallingFixupOffset, fixups.size(), fixups.data()),
                      int32_t(fixups.size()));
            ReverseWords(fixups);
            EXPECT_TRUE(
                OrvaneOVNMarshall(&sections, int32_t(i), table[i].MarshallingFixupCount,
                                  reinterpret_cast<orvane_ovn_marshalling_fixup*>(fixups.data())));
        }
        fixUp(i);
    }
    reader->CloseFileReaderCallback(__FILE__, __LINE__, reader);

    // The root, reached through references and slots only.
    auto* type =
        static_cast<uint8_t*>(OrvaneDecodeOVNReference(&sections, &header->RootTypeReference));
    auto* root =
        static_cast<uint8_t*>(OrvaneDecodeOVNReference(&sections, &header->RootObjectReference));
    ASSERT_EQ(type, memory[0].data());
    ASSERT_EQ(root, memory[0].data() + 416);
    int32_t kind;
    std::memcpy(&kind, type + 32, 4);
    EXPECT_EQ(kind, OrvaneReferenceToArrayMember);
    EXPECT_STREQ(
        static_cast<const char*>(OrvaneDecodeOVNPointerSlot(&sections, type + 36, nullptr)),
        "Values");
    uint8_t* int32Type =
        static_cast<uint8_t*>(OrvaneDecodeOVNPointerSlot(&sections, type + 40, nullptr));
    EXPECT_EQ(int32Type, memory[0].data() + 160);

    uint32_t valueCount;
    std::memcpy(&valueCount, root + 4, 4);
    EXPECT_EQ(valueCount, 3u);
    uint32_t available = 0;
    auto* values =
        static_cast<const uint8_t*>(OrvaneDecodeOVNPointerSlot(&sections, root + 8, &available));
    ASSERT_NE(values, nullptr);
    ASSERT_GE(available, 12u);
    uint32_t v[3];
    std::memcpy(v, values, 12);
    EXPECT_EQ(v[0], 10u);
    EXPECT_EQ(v[1], 0xFFFFFFFEu);
    EXPECT_EQ(v[2], 0x01020304u);
    EXPECT_STREQ(
        static_cast<const char*>(OrvaneDecodeOVNPointerSlot(&sections, root + 12, nullptr)),
        "hello");
    auto* floats =
        static_cast<const uint8_t*>(OrvaneDecodeOVNPointerSlot(&sections, root + 16, &available));
    ASSERT_EQ(floats, memory[1].data());
    EXPECT_EQ(available, 16u);
    float f[4];
    std::memcpy(f, floats, 16);
    EXPECT_EQ(f[0], 0.25f);
    EXPECT_EQ(f[3], 1.0f);

    uint16_t shorts[2];
    std::memcpy(shorts, memory[0].data() + 448, 4);
    EXPECT_EQ(shorts[0], 0x1234);
    EXPECT_EQ(shorts[1], 0xABCD);
    for (uint32_t i = 0; i < kMixedObjects; ++i) {
        const uint8_t* o = memory[0].data() + 492 + 8 * i;
        uint16_t a;
        uint32_t c;
        std::memcpy(&a, o, 2);
        std::memcpy(&c, o + 4, 4);
        EXPECT_EQ(a, 0x1122 + i);
        EXPECT_EQ(o[2], 0xA0 + i);
        EXPECT_EQ(o[3], 0xB0 + i);
        EXPECT_EQ(c, 0x33445566u + i);
    }
}

// The loader's steps with every failure tolerated: what a corrupted file may make the format
// primitives see. Returns false where the loader would give up.
bool LoadTolerantly(const std::vector<uint8_t>& file) {
    orvane_file_reader* reader =
        OrvaneCreateMemoryFileReader(__FILE__, __LINE__, 0, int32_t(file.size()), file.data());
    struct Closer {
        orvane_file_reader* reader;
        ~Closer() { reader->CloseFileReaderCallback(__FILE__, __LINE__, reader); }
    } closer{reader};
    orvane_file_magic_record magic;
    if (Read(reader, 0, 32, &magic) != 32) return false;
    uint32_t headerSize = 0;
    bool reversed = false;
    if (!OrvaneIsOrvaneFile(&magic, &headerSize, &reversed) || headerSize > file.size())
        return false;
    std::vector<uint8_t> block((headerSize + 3) & ~3u);
    if (Read(reader, 32, headerSize, block.data()) != int32_t(headerSize)) return false;
    if (reversed) ReverseWords(block);
    auto* header = reinterpret_cast<orvane_file_header*>(block.data());
    if (!OrvaneFileHeaderIsValid(header, headerSize)) return false;
    const uint32_t count = header->SectionCount;
    const orvane_ovn_section* table = OrvaneGetOVNSectionArray(header);
    std::vector<std::vector<uint8_t>> memory(count);
    std::vector<void*> bases(count);
    for (uint32_t i = 0; i < count; ++i) {
        const orvane_ovn_section& s = table[i];
        // Compressed sections are not this test's business; absurd sizes are the allocator's.
        if (s.Compression != 0 || s.ExpandedSize == 0 || s.ExpandedSize > (1u << 20)) continue;
        memory[i].resize(s.ExpandedSize);
        Read(reader, s.DataOffset, s.DataSize, memory[i].data());
        if (reversed)
            OrvaneReverseSection(s.Start16Bit, s.Start8Bit, s.ExpandedSize, memory[i].data());
        bases[i] = memory[i].data();
    }
    const uint32_t pointerCount = OrvaneGetOVNPointerCount(int32_t(count), table);
    if (pointerCount > (1u << 20)) return false;
    std::vector<void*> pointers(pointerCount);
    orvane_file_sections sections = {int32_t(count), table, bases.data(), pointerCount,
                                     pointers.data()};
    auto fixUp = [&](uint32_t i) {
        if (bases[i] == nullptr || table[i].PointerFixupCount > (1u << 16)) return;
        std::vector<uint8_t> fixups(12 * table[i].PointerFixupCount);
        Read(reader, table[i].PointerFixupOffset, fixups.size(), fixups.data());
        if (reversed) ReverseWords(fixups);
        OrvaneOVNFixUp(&sections, int32_t(i), table[i].PointerFixupCount,
                       reinterpret_cast<orvane_ovn_pointer_fixup*>(fixups.data()));
    };
    for (uint32_t i = 0; i < count; ++i)
        fixUp(i);
    for (uint32_t i = 0; i < count; ++i) {
        if (bases[i] && table[i].MarshallingFixupCount &&
            table[i].MarshallingFixupCount < (1u << 16)) {
            std::vector<uint8_t> fixups(16 * table[i].MarshallingFixupCount);
            Read(reader, table[i].MarshallingFixupOffset, fixups.size(), fixups.data());
            if (reversed) ReverseWords(fixups);
            OrvaneOVNMarshall(&sections, int32_t(i), table[i].MarshallingFixupCount,
                              reinterpret_cast<orvane_ovn_marshalling_fixup*>(fixups.data()));
        }
        fixUp(i);
    }
    // Whatever the slots hold now decodes to null or to an address with its extent.
    for (uint32_t i = 0; i < count; ++i) {
        for (uint32_t at = 0; at + 4 <= memory[i].size(); at += 4) {
            uint32_t available = 0;
            auto* p = static_cast<const uint8_t*>(
                OrvaneDecodeOVNPointerSlot(&sections, memory[i].data() + at, &available));
            if (p == nullptr) continue;
            bool inside = false;
            for (const auto& m : memory)
                inside |= !m.empty() && p >= m.data() && p + available == m.data() + m.size();
            EXPECT_TRUE(inside);
        }
    }
    OrvaneDecodeOVNReference(&sections, &header->RootTypeReference);
    OrvaneDecodeOVNReference(&sections, &header->RootObjectReference);
    return true;
}

TEST(ContentFileRoundTrip, CorruptedFilesAreRefusedOrReadSafely) {
    orvane_test::LogCapture log;
    std::mt19937 random(2026);
    for (bool swap : {false, true}) {
        std::string path = TempPath(swap ? "fuzz_reversed.ovn" : "fuzz_native.ovn");
        ASSERT_TRUE(WriteContentFile(path, swap));
        std::ifstream in(path, std::ios::binary);
        const std::vector<uint8_t> original{std::istreambuf_iterator<char>(in),
                                            std::istreambuf_iterator<char>()};
        std::remove(path.c_str());
        EXPECT_TRUE(LoadTolerantly(original));
        int loaded = 0;
        for (int round = 0; round < 1500; ++round) {
            std::vector<uint8_t> file = original;
            int changes = 1 + int(random() % 4);
            for (int c = 0; c < changes; ++c) {
                // Mostly the header, table and fixups, where offsets and counts live.
                size_t at = random() % 4 ? random() % 600 : random() % file.size();
                file[at % file.size()] = uint8_t(random());
            }
            if (random() % 8 == 0) file.resize(random() % file.size());
            loaded += LoadTolerantly(file);
        }
        EXPECT_GT(loaded, 0);
    }
}

TEST(ContentFileRoundTrip, NativeAndReversedFilesReadTheSame) {
    orvane_test::LogCapture log;
    for (bool swap : {false, true}) {
        std::string path = TempPath(swap ? "reversed.ovn" : "native.ovn");
        ASSERT_TRUE(WriteContentFile(path, swap));
        LoadAndCheck(path, swap);
        std::remove(path.c_str());
    }
    EXPECT_TRUE(log.messages().empty());
}

}  // namespace

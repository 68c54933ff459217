// The content file format: magic records, recognition, header checks, section reversal,
// pointer fixups into the pointer table, references and pointer slots.
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "file/sections_fixture.h"
#include "orvane/file.h"
#include "support/log_capture.h"

using orvane_test::LogCapture;
using orvane_test::Sections;

namespace {

std::vector<uint8_t> BytesOf(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    return {b, b + n};
}

uint32_t Slot(const std::vector<uint8_t>& section, uint32_t offset) {
    uint32_t v;
    std::memcpy(&v, section.data() + offset, 4);
    return v;
}

// --- magic records ------------------------------------------------------------------------

TEST(FileMagic, RecordsHoldTheValuesInBothByteOrders) {
    ASSERT_NE(OrvaneOVNFileMV, nullptr);
    ASSERT_NE(OrvaneReversedOVNFileMV, nullptr);
    EXPECT_EQ(OrvaneOVNFileMV->MagicValue[0], 0xCAB067B8u);
    EXPECT_EQ(OrvaneOVNFileMV->MagicValue[3], 0x1E00195Eu);
    EXPECT_EQ(OrvaneReversedOVNFileMV->MagicValue[0], 0xB867B0CAu);
    EXPECT_EQ(OrvaneOVNFileMV->HeaderSize, 0u);
    EXPECT_EQ(OrvaneReversedOVNFileMV->HeaderFormat, 0u);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    const std::vector<uint8_t> native = {0xB8, 0x67, 0xB0, 0xCA, 0xF8, 0x6D, 0xB1, 0x0F,
                                         0x84, 0x72, 0x8C, 0x7E, 0x5E, 0x19, 0x00, 0x1E};
    const std::vector<uint8_t> reversed = {0xCA, 0xB0, 0x67, 0xB8, 0x0F, 0xB1, 0x6D, 0xF8,
                                           0x7E, 0x8C, 0x72, 0x84, 0x1E, 0x00, 0x19, 0x5E};
    EXPECT_EQ(BytesOf(OrvaneOVNFileMV, 16), native);
    EXPECT_EQ(BytesOf(OrvaneReversedOVNFileMV, 16), reversed);
#endif
}

TEST(FileMagic, RecognitionTellsTheByteOrderAndSwapsTheHeaderSize) {
    orvane_file_magic_record record = *OrvaneOVNFileMV;
    record.HeaderSize = ORVANE_FILE_HEADER_SIZE(3);
    uint32_t headerSize = 0;
    bool reversed = true;
    EXPECT_TRUE(OrvaneIsOrvaneFile(&record, &headerSize, &reversed));
    EXPECT_FALSE(reversed);
    EXPECT_EQ(headerSize, 220u);

    record = *OrvaneReversedOVNFileMV;
    record.HeaderSize = __builtin_bswap32(220u);
    EXPECT_TRUE(OrvaneIsOrvaneFile(&record, &headerSize, &reversed));
    EXPECT_TRUE(reversed);
    EXPECT_EQ(headerSize, 220u);
    EXPECT_TRUE(OrvaneIsOrvaneFile(&record, nullptr, nullptr));

    // One byte off, anywhere in the 16, is not a content file.
    for (int i = 0; i < 16; ++i) {
        orvane_file_magic_record changed = *OrvaneOVNFileMV;
        reinterpret_cast<uint8_t*>(&changed)[i] ^= 0x01;
        EXPECT_FALSE(OrvaneIsOrvaneFile(&changed, &headerSize, &reversed)) << i;
    }
    LogCapture log;
    EXPECT_FALSE(OrvaneIsOrvaneFile(nullptr, &headerSize, &reversed));
    EXPECT_EQ(log.errors(), 1u);
}

// --- standard sections --------------------------------------------------------------------

TEST(StandardSections, NamesAndTheRangeError) {
    EXPECT_STREQ(OrvaneGetStandardSectionName(0), "0 - StandardMainSection");
    EXPECT_STREQ(OrvaneGetStandardSectionName(OrvaneStandardDeformableVertexSection),
                 "3 - StandardDeformableVertexSection");
    EXPECT_STREQ(OrvaneGetStandardSectionName(7), "7 - StandardUnloadedSection");
    LogCapture log;
    EXPECT_STREQ(OrvaneGetStandardSectionName(8), "(non-standard section)");
    ASSERT_EQ(log.errors(), 1u);
    EXPECT_EQ(log.messages()[0].origin, OrvaneFileReadingOrigin);
    EXPECT_NE(log.messages()[0].text.find("): SectionIndex 8 is out of range [0, 8)"),
              std::string::npos);
    EXPECT_STREQ(OrvaneGetStandardSectionName(-1), "(non-standard section)");
    EXPECT_EQ(log.errors(), 2u);
}

// --- section reversal ---------------------------------------------------------------------

TEST(ReverseSection, ReversesEachPartByItsUnits) {
    uint8_t data[11] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    OrvaneReverseSection(8, 10, 11, data);
    const uint8_t expected[11] = {3, 2, 1, 0, 7, 6, 5, 4, 9, 8, 10};
    EXPECT_EQ(BytesOf(data, 11), BytesOf(expected, 11));

    // A 32-bit part whose size is not a multiple of 4 leaves its partial word; the 16-bit part
    // may start at any offset.
    uint8_t odd[9] = {0, 1, 2, 3, 4, 5, 6, 7, 8};
    OrvaneReverseSection(5, 9, 9, odd);
    const uint8_t oddExpected[9] = {3, 2, 1, 0, 4, 6, 5, 8, 7};
    EXPECT_EQ(BytesOf(odd, 9), BytesOf(oddExpected, 9));

    OrvaneReverseSection(0, 0, 0, nullptr);  // an empty section
}

TEST(ReverseSection, RefusesPartsOutOfOrder) {
    LogCapture log;
    uint8_t data[8] = {0, 1, 2, 3, 4, 5, 6, 7};
    OrvaneReverseSection(8, 4, 8, data);
    OrvaneReverseSection(4, 12, 8, data);
    EXPECT_EQ(log.errors(), 2u);
    const uint8_t unchanged[8] = {0, 1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(BytesOf(data, 8), BytesOf(unchanged, 8));
}

// --- header checks ------------------------------------------------------------------------

struct HeaderBlock {
    explicit HeaderBlock(uint32_t sectionCount)
        : words(ORVANE_FILE_HEADER_SIZE(sectionCount) / 4 - 8) {
        header()->Version = ORVANE_FILE_FORMAT_REVISION;
        header()->SectionTableOffset = 56;
        header()->SectionCount = sectionCount;
        uint32_t offset = ORVANE_FILE_HEADER_SIZE(sectionCount);
        for (uint32_t i = 0; i < sectionCount; ++i) {
            orvane_ovn_section& s = section(i);
            s.Alignment = 4;
            s.PointerFixupOffset = offset;
            s.PointerFixupCount = 2;
            offset += 24;
            s.MarshallingFixupOffset = offset;
            s.MarshallingFixupCount = 1;
            offset += 16;
            s.DataOffset = offset;
            s.DataSize = s.ExpandedSize = 40;
            s.Start16Bit = 16;
            s.Start8Bit = 32;
            offset += 40;
        }
        header()->TotalSize = offset;
    }
    orvane_file_header* header() { return reinterpret_cast<orvane_file_header*>(words.data()); }
    orvane_ovn_section& section(uint32_t i) { return OrvaneGetOVNSectionArray(header())[i]; }
    uint32_t size() const { return uint32_t(words.size() * 4); }
    bool Valid() { return OrvaneFileHeaderIsValid(header(), size()); }
    std::vector<uint32_t> words;
};

TEST(FileHeader, AcceptsWhatTheBuilderWrites) {
    HeaderBlock block(3);
    EXPECT_EQ(block.size(), 220u - 32u);
    EXPECT_EQ(reinterpret_cast<char*>(&block.section(0)) - reinterpret_cast<char*>(block.header()),
              56);
    EXPECT_EQ(block.section(0).PointerFixupOffset, 220u);
    EXPECT_TRUE(block.Valid());
    EXPECT_EQ(OrvaneGetOVNPointerCount(3, &block.section(0)), 6u);
    // Empty sections and sections without fixups need no offsets at all.
    block.section(1) = orvane_ovn_section{};
    block.section(1).PointerFixupOffset = 0xFFFFFFFFu;
    EXPECT_TRUE(block.Valid());
}

TEST(FileHeader, RefusesEveryOffsetSizeAndCountThatDoesNotFit) {
    LogCapture log;
    struct Fault {
        const char* what;
        void (*apply)(HeaderBlock&);
    };
    const Fault faults[] = {
        {"table past the block", [](HeaderBlock& b) { b.header()->SectionCount = 4; }},
        {"huge count", [](HeaderBlock& b) { b.header()->SectionCount = 0x80000001u; }},
        {"table offset", [](HeaderBlock& b) { b.header()->SectionTableOffset = 60; }},
        {"unaligned table", [](HeaderBlock& b) { b.header()->SectionTableOffset = 54; }},
        {"16-bit after 8-bit", [](HeaderBlock& b) { b.section(1).Start16Bit = 33; }},
        {"8-bit past end", [](HeaderBlock& b) { b.section(2).Start8Bit = 41; }},
        {"huge section",
         [](HeaderBlock& b) {
             b.section(0).ExpandedSize = 0x7FFFFFFFu;
             b.section(0).Compression = 2;
         }},
        {"alignment", [](HeaderBlock& b) { b.section(0).Alignment = 12; }},
        {"stored size", [](HeaderBlock& b) { b.section(0).DataSize = 39; }},
        {"data past end", [](HeaderBlock& b) { b.section(2).DataOffset += 1; }},
        {"data wraps",
         [](HeaderBlock& b) {
             b.section(2).Compression = 1;
             b.section(2).DataOffset = 0xFFFFFFF0u;
         }},
        {"pointer fixups", [](HeaderBlock& b) { b.section(2).PointerFixupCount = 0x40000000u; }},
        {"marshalling fixups",
         [](HeaderBlock& b) { b.section(2).MarshallingFixupOffset = b.header()->TotalSize; }},
    };
    for (const Fault& fault : faults) {
        HeaderBlock block(3);
        fault.apply(block);
        log.Clear();
        EXPECT_FALSE(block.Valid()) << fault.what;
        EXPECT_EQ(log.errors(), 1u) << fault.what;
    }
    HeaderBlock block(0);
    EXPECT_FALSE(OrvaneFileHeaderIsValid(block.header(), 55));
    EXPECT_FALSE(OrvaneFileHeaderIsValid(nullptr, 100));
}

TEST(FileHeader, PointerCountsThatOverflowAreRefused) {
    // Many sections sharing one fixup array can claim more handles than 32 bits count, and
    // more than the file holds.
    HeaderBlock block(2);
    block.header()->TotalSize = 0xFFFFFFFFu;
    for (uint32_t i = 0; i < 2; ++i) {
        block.section(i).PointerFixupOffset = 0;
        block.section(i).PointerFixupCount = 0x15555555u;  // 12 × this fits 32 bits
    }
    LogCapture log;
    EXPECT_FALSE(block.Valid());
    EXPECT_TRUE(log.Contains("File has more pointer fixups than it can hold"));
    // Apart, halves of them fit the file.
    block.section(0).PointerFixupCount = 0x0AAAAAAAu;
    block.section(1).PointerFixupCount = 0x0AAAAAAAu;
    block.section(1).PointerFixupOffset = 12 * 0x0AAAAAAAu;
    log.Clear();
    EXPECT_TRUE(block.Valid());
    EXPECT_EQ(log.errors(), 0u);
    for (uint32_t i = 0; i < 2; ++i) {
        block.section(i).PointerFixupOffset = 0;
        block.section(i).PointerFixupCount = 0x15555555u;
    }
    EXPECT_EQ(OrvaneGetOVNPointerCount(2, &block.section(0)), 0x2AAAAAAAu);
    std::vector<orvane_ovn_section> many(4, block.section(0));
    EXPECT_EQ(OrvaneGetOVNPointerCount(4, many.data()), 0x55555554u);
    many.resize(13, block.section(0));
    EXPECT_EQ(OrvaneGetOVNPointerCount(13, many.data()), 0xFFFFFFFFu);
}

// --- pointer fixups -----------------------------------------------------------------------

TEST(PointerFixups, WriteHandlesFixedPerFixupAndAddressesIntoTheTable) {
    Sections s({64, 32, 48}, {2, 0, 3});
    ASSERT_EQ(s.pointers.size(), 5u);
    const orvane_ovn_pointer_fixup main[2] = {{0, {2, 16}}, {9, {0, 64}}};  // unaligned slot
    const orvane_ovn_pointer_fixup last[3] = {{0, {1, 4}}, {4, {2, 0}}, {44, {0, 8}}};
    ASSERT_TRUE(OrvaneOVNFixUp(&s.view, 0, 2, main));
    ASSERT_TRUE(OrvaneOVNFixUp(&s.view, 2, 3, last));
    // Section 0's fixups get handles 1 and 2, section 2's (after section 1's none) 3 to 5.
    EXPECT_EQ(Slot(s.memory[0], 0), 1u);
    EXPECT_EQ(Slot(s.memory[0], 9), 2u);
    EXPECT_EQ(Slot(s.memory[2], 0), 3u);
    EXPECT_EQ(Slot(s.memory[2], 4), 4u);
    EXPECT_EQ(Slot(s.memory[2], 44), 5u);
    EXPECT_EQ(s.pointers[0], s.memory[2].data() + 16);
    EXPECT_EQ(s.pointers[1], s.memory[0].data() + 64);  // one past the end is a valid target
    EXPECT_EQ(s.pointers[2], s.memory[1].data() + 4);
    EXPECT_EQ(s.pointers[4], s.memory[0].data() + 8);

    // Applying them again writes the same, even over slots disturbed in between.
    std::memset(s.memory[0].data(), 0xAB, 16);
    ASSERT_TRUE(OrvaneOVNFixUp(&s.view, 0, 2, main));
    EXPECT_EQ(Slot(s.memory[0], 0), 1u);
    EXPECT_EQ(Slot(s.memory[0], 9), 2u);

    uint32_t available = 0;
    EXPECT_EQ(OrvaneDecodeOVNPointerSlot(&s.view, s.memory[0].data(), &available),
              s.memory[2].data() + 16);
    EXPECT_EQ(available, 32u);
    EXPECT_EQ(OrvaneDecodeOVNPointerSlot(&s.view, s.memory[0].data() + 9, &available),
              s.memory[0].data() + 64);
    EXPECT_EQ(available, 0u);
}

TEST(PointerFixups, TargetsInUnloadedSectionsBecomeNull) {
    Sections s({16, 32, 0}, {3, 0, 0});
    s.Unload(1);
    const orvane_ovn_pointer_fixup fixups[3] = {{0, {1, 8}}, {4, {2, 0}}, {8, {0, 12}}};
    std::memset(s.memory[0].data(), 0xEE, 16);
    ASSERT_TRUE(OrvaneOVNFixUp(&s.view, 0, 3, fixups));
    EXPECT_EQ(Slot(s.memory[0], 0), 0u);
    EXPECT_EQ(Slot(s.memory[0], 4), 0u);  // section 2 is empty: never allocated
    EXPECT_EQ(Slot(s.memory[0], 8), 3u);
    EXPECT_EQ(s.pointers[0], nullptr);
    EXPECT_EQ(OrvaneDecodeOVNPointerSlot(&s.view, s.memory[0].data(), nullptr), nullptr);
    EXPECT_EQ(OrvaneDecodeOVNPointerSlot(&s.view, s.memory[0].data() + 8, nullptr),
              s.memory[0].data() + 12);
}

TEST(PointerFixups, SlotsAndTargetsOutsideTheirSectionsAreRefusedUntouched) {
    LogCapture log;
    Sections s({16, 8}, {6, 0});
    std::memset(s.memory[0].data(), 0x77, 16);
    const orvane_ovn_pointer_fixup fixups[6] = {
        {13, {1, 0}},           // slot crosses the end
        {0xFFFFFFFEu, {1, 0}},  // slot offset wraps
        {0, {2, 0}},            // no such section
        {0, {1, 9}},            // target past the end of section 1
        {4, {0xFFFFFFFFu, 0}},  // index that is negative as an int32
        {12, {1, 8}},           // the only good one: target one past the end
    };
    EXPECT_FALSE(OrvaneOVNFixUp(&s.view, 0, 6, fixups));
    EXPECT_EQ(log.errors(), 1u);  // the first fault is named, not every one
    for (uint32_t offset = 0; offset < 12; offset += 4)
        EXPECT_EQ(Slot(s.memory[0], offset), 0x77777777u);
    EXPECT_EQ(Slot(s.memory[0], 12), 6u);
    EXPECT_EQ(s.pointers[5], s.memory[1].data() + 8);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(s.pointers[size_t(i)], nullptr);
}

TEST(PointerFixups, CallsThatDoNotFitTheTableAreRefused) {
    LogCapture log;
    Sections s({16, 16}, {1, 1});
    const orvane_ovn_pointer_fixup two[2] = {{0, {0, 0}}, {4, {0, 0}}};
    EXPECT_FALSE(OrvaneOVNFixUp(&s.view, 0, 2, two));  // more than the section declares
    EXPECT_FALSE(OrvaneOVNFixUp(&s.view, 2, 1, two));  // no section 2
    EXPECT_FALSE(OrvaneOVNFixUp(&s.view, -1, 1, two));
    EXPECT_FALSE(OrvaneOVNFixUp(&s.view, 0, 1, nullptr));
    EXPECT_FALSE(OrvaneOVNFixUp(nullptr, 0, 1, two));
    s.view.PointerCount = 1;  // a table too small for section 1's handle
    EXPECT_FALSE(OrvaneOVNFixUp(&s.view, 1, 1, two));
    s.Refresh();
    s.Unload(1);
    EXPECT_FALSE(OrvaneOVNFixUp(&s.view, 1, 1, two));  // the slot's own section is not loaded
    EXPECT_EQ(log.errors(), 7u);
    EXPECT_TRUE(OrvaneOVNFixUp(&s.view, 0, 0, nullptr));
    EXPECT_EQ(Slot(s.memory[0], 0), 0u);
}

TEST(PointerFixups, RandomFixupsNeverTouchMemoryOutsideTheirSlots) {
    std::mt19937 random(99);
    LogCapture log;
    for (int round = 0; round < 200; ++round) {
        std::vector<uint32_t> sizes, counts;
        int sectionCount = 1 + int(random() % 4);
        for (int i = 0; i < sectionCount; ++i) {
            sizes.push_back(random() % 40);
            counts.push_back(random() % 20);
        }
        Sections s(sizes, counts);
        for (int i = 0; i < sectionCount; ++i) {
            std::vector<orvane_ovn_pointer_fixup> fixups(counts[size_t(i)]);
            for (auto& f : fixups) {
                f.FromOffset = random() % 48;
                f.To.SectionIndex = random() % 6;
                f.To.Offset = random() % 48;
            }
            OrvaneOVNFixUp(&s.view, i, uint32_t(fixups.size()), fixups.data());
        }
        // Every slot that decodes gives an address inside a section, with its extent.
        for (int i = 0; i < sectionCount; ++i) {
            for (uint32_t at = 0; at + 4 <= sizes[size_t(i)]; ++at) {
                uint32_t available = 0;
                auto* p = static_cast<uint8_t*>(OrvaneDecodeOVNPointerSlot(
                    &s.view, s.memory[size_t(i)].data() + at, &available));
                if (p == nullptr) continue;
                bool inside = false;
                for (int k = 0; k < sectionCount; ++k) {
                    uint8_t* base = s.memory[size_t(k)].data();
                    if (sizes[size_t(k)] && p >= base && p <= base + sizes[size_t(k)] &&
                        available == base + sizes[size_t(k)] - p)
                        inside = true;
                }
                EXPECT_TRUE(inside);
            }
        }
    }
}

// --- references ---------------------------------------------------------------------------

TEST(References, DecodeToTheSectionBaseOrNull) {
    Sections s({8, 8, 32});
    orvane_ovn_reference reference = {2, 16};
    EXPECT_EQ(OrvaneDecodeOVNReference(&s.view, &reference), s.memory[2].data() + 16);
    reference.Offset = 32;
    EXPECT_EQ(OrvaneDecodeOVNReference(&s.view, &reference), s.memory[2].data() + 32);
    s.Unload(2);
    reference.Offset = 16;
    EXPECT_EQ(OrvaneDecodeOVNReference(&s.view, &reference), nullptr);

    LogCapture log;
    s.Refresh();
    s.bases[2] = s.memory[2].data();
    reference.Offset = 33;
    EXPECT_EQ(OrvaneDecodeOVNReference(&s.view, &reference), nullptr);
    reference = {3, 0};
    EXPECT_EQ(OrvaneDecodeOVNReference(&s.view, &reference), nullptr);
    EXPECT_TRUE(log.Contains("SectionIndex 3 is out of range [0, 3)"));
    reference = {0xFFFFFFFFu, 0};
    EXPECT_EQ(OrvaneDecodeOVNReference(&s.view, &reference), nullptr);
    EXPECT_EQ(log.errors(), 3u);
}

TEST(References, SlotsOfFreedSectionsOrUnknownHandlesDecodeToNull) {
    Sections s({16, 16}, {2, 0});
    const orvane_ovn_pointer_fixup fixups[2] = {{0, {1, 4}}, {4, {0, 0}}};
    ASSERT_TRUE(OrvaneOVNFixUp(&s.view, 0, 2, fixups));
    s.Unload(1);  // freed after the fixups: the table still holds the old address
    EXPECT_EQ(OrvaneDecodeOVNPointerSlot(&s.view, s.memory[0].data(), nullptr), nullptr);
    const uint32_t unknown = 3;
    uint32_t available = 99;
    EXPECT_EQ(OrvaneDecodeOVNPointerSlot(&s.view, &unknown, &available), nullptr);
    EXPECT_EQ(available, 0u);
    const uint32_t zero = 0;
    EXPECT_EQ(OrvaneDecodeOVNPointerSlot(&s.view, &zero, nullptr), nullptr);
}

}  // namespace

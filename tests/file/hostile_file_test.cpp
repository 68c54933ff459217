// Damaged content files: truncated at every length, every byte flipped, huge counts and sizes,
// fixups and references pointing outside their sections, strings without an end. Each must
// fail cleanly: an error of FileReadingOrigin and a null file, section or tree, never a crash,
// an access out of bounds, a hang or a leak (the sanitizer build and the leak check at exit
// watch for those).
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "file/load_test_support.h"
#include "orvane/file.h"
#include "orvane/file_builder.h"
#include "orvane/data_tree_writer.h"
#include "orvane/types.h"
#include "support/log_capture.h"

namespace {

using orvane_test::FileWord;
using orvane_test::LogCapture;
using orvane_test::SetFileWord;
using orvane_test::TreeFileOptions;

orvane_data_type_definition Member(orvane_member_type kind, const char* name,
                                   orvane_data_type_definition* type = nullptr, int32_t width = 0) {
    return {kind, name, type, width, {0, 0, 0}, 0};
}

#pragma pack(push, 4)
struct Item {
    int32_t Value;
    Item* Next;
    char* Name;
    uint16_t Small[2];
};
struct Root {
    uint32_t Marker;
    int32_t ItemCount;
    Item* Items;
    char* Title;
    int32_t ReferenceCount;
    Item** References;
};
#pragma pack(pop)

constexpr uint32_t kMarker = 0xFEEDF00Du;

orvane_data_type_definition g_itemType[] = {
    Member(OrvaneInt32Member, "Value"), Member(OrvaneReferenceMember, "Next", g_itemType),
    Member(OrvaneStringMember, "Name"), Member(OrvaneUInt16Member, "Small", nullptr, 2),
    Member(OrvaneEndMember, nullptr)};
orvane_data_type_definition g_rootType[] = {
    Member(OrvaneUInt32Member, "Marker"), Member(OrvaneReferenceToArrayMember, "Items", g_itemType),
    Member(OrvaneStringMember, "Title"),
    Member(OrvaneArrayOfReferencesMember, "References", g_itemType),
    Member(OrvaneEndMember, nullptr)};

// A small file with mixed-width objects, a cycle, strings and arrays of both kinds; the items
// array goes to section 1 when itemsApart.
std::vector<uint8_t> SmallFile(orvane_file_byte_order order, bool itemsApart = false) {
    static Item items[3];
    static Item* references[2];
    static Root root;
    const char* names[3] = {"first", "second", "third"};
    for (int i = 0; i < 3; ++i)
        items[i] = {10 * i, &items[(i + 1) % 3], const_cast<char*>(names[i]), {uint16_t(i), 7}};
    references[0] = &items[2];
    references[1] = nullptr;
    root = {kMarker, 3, items, const_cast<char*>("title"), 2, references};
    TreeFileOptions options;
    options.byteOrder = order;
    options.sectionCount = 2;
    options.sectionOfType = {{g_itemType, 1}};
    if (itemsApart) options.sectionOfObject = {{&items[0], 1}};
    return orvane_test::WriteTreeBytes(g_rootType, &root, options);
}

orvane_file_byte_order OtherByteOrder() {
    const uint16_t probe = 1;
    uint8_t first;
    std::memcpy(&first, &probe, 1);
    return first ? OrvaneBigEndianByteOrder : OrvaneLittleEndianByteOrder;
}

bool IsReversed(const std::vector<uint8_t>& file) {
    bool reversed = false;
    OrvaneIsOrvaneFile(reinterpret_cast<const orvane_file_magic_record*>(file.data()), nullptr,
                       &reversed);
    return reversed;
}

// Loads, asks for the tree and the file info, reads every item it can reach, frees.
orvane_variant LoadAndWalk(const std::vector<uint8_t>& bytes, bool* loaded = nullptr) {
    orvane_file* file = OrvaneReadEntireFileFromMemory(int32_t(bytes.size()), bytes.data());
    if (loaded) *loaded = file != nullptr;
    orvane_variant tree = {nullptr, nullptr};
    if (file == nullptr) return tree;
    tree = OrvaneGetDataTreeFromFile(file);
    if (tree.Object != nullptr && OrvaneDataTypesAreEqual(tree.Type, g_rootType)) {
        const Root* root = static_cast<const Root*>(tree.Object);
        volatile size_t sink = 0;
        for (int32_t i = 0; i < root->ItemCount && root->Items; ++i) {
            sink = sink + size_t(root->Items[i].Value) + root->Items[i].Small[1];
            if (root->Items[i].Name) sink = sink + std::strlen(root->Items[i].Name);
        }
        for (int32_t i = 0; i < root->ReferenceCount && root->References; ++i)
            if (root->References[i]) sink = sink + size_t(root->References[i]->Value);
        if (root->Title) sink = sink + std::strlen(root->Title);
    } else {
        OrvaneGetFileInfo(file);
    }
    // Forget a section and bring the tree up to date once more.
    if (file->SectionCount > 0) OrvaneFreeFileSection(file, file->SectionCount - 1);
    OrvaneGetDataTreeFromFile(file);
    OrvaneFreeFile(file);
    return tree;
}

class HostileFiles : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        bytes = SmallFile(GetParam() ? OtherByteOrder() : OrvaneNativeByteOrder);
        ASSERT_GT(bytes.size(), 200u);
        ASSERT_EQ(IsReversed(bytes), GetParam());
        swap = GetParam();
        // The intact file loads without a message.
        LogCapture log;
        orvane_variant tree = LoadAndWalk(bytes);
        ASSERT_NE(tree.Object, nullptr);
        ASSERT_EQ(log.errors(), 0u) << log.messages()[0].text;
    }
    // Byte offset in the file of the first word equal to value in section `section`.
    size_t FindWord(uint32_t section, uint32_t value) const {
        const size_t e = 88 + 44 * size_t(section);
        const uint32_t offset = FileWord(bytes, e + 4, swap);
        const uint32_t size = FileWord(bytes, e + 12, swap);
        for (size_t at = offset; at + 4 <= offset + size_t(size); at += 4)
            if (FileWord(bytes, at, swap) == value) return at;
        return 0;
    }
    std::vector<uint8_t> bytes;
    bool swap = false;
};

TEST_P(HostileFiles, EveryTruncationFailsCleanly) {
    LogCapture log;
    for (size_t length = 0; length < bytes.size(); ++length) {
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + std::ptrdiff_t(length));
        bool loaded = true;
        log.Clear();
        LoadAndWalk(cut, &loaded);
        EXPECT_FALSE(loaded) << length;
        EXPECT_GT(log.errors(), 0u) << length;
        for (const auto& m : log.messages())
            EXPECT_EQ(m.origin, OrvaneFileReadingOrigin) << m.text;
    }
}

TEST_P(HostileFiles, EveryFlippedByteIsSurvived) {
    LogCapture log;
    for (size_t at = 0; at < bytes.size(); ++at) {
        for (uint8_t mask : {uint8_t(0x01), uint8_t(0x80), uint8_t(0xFF)}) {
            std::vector<uint8_t> damaged = bytes;
            damaged[at] ^= mask;
            LoadAndWalk(damaged);
        }
        log.Clear();
    }
}

TEST_P(HostileFiles, DamagedHeaderFieldsAreRefused) {
    struct Case {
        size_t at;
        uint32_t value;
        const char* message;
    };
    const Case cases[] = {
        {16, 0xFFFFFFF0u, "File header size"},       // HeaderSize
        {16, 20, "File header size"},                // shorter than the header
        {20, 1, "unrecognized header format (1)"},   // HeaderFormat
        {36, 0x7FFFFFF0u, "shorter than"},           // TotalSize
        {44, 0x40000000u, "section table"},          // SectionTableOffset
        {48, 0x10000000u, "section table"},          // SectionCount
        {88 + 8, 0x7FFFFFF0u, "stores"},             // DataSize of section 0
        {88 + 12, 0x7FFFFFF0u, ""},                  // ExpandedSize of section 0
        {88 + 28, 0xFFFFFFF0u, "outside the file"},  // PointerFixupOffset
        {88 + 32, 0x40000000u, "outside the file"},  // PointerFixupCount
        {88 + 16, 3, "alignment"},                   // Alignment
        {88 + 20, 0x7FFFFFFFu, "out of order"},      // Start16Bit
    };
    LogCapture log;
    for (const Case& c : cases) {
        std::vector<uint8_t> damaged = bytes;
        SetFileWord(damaged, c.at, c.value, swap);
        log.Clear();
        bool loaded = true;
        LoadAndWalk(damaged, &loaded);
        EXPECT_FALSE(loaded) << c.at;
        EXPECT_TRUE(log.Contains(c.message)) << c.at << " " << log.messages()[0].text;
    }
    std::vector<uint8_t> damaged = bytes;
    damaged[3] ^= 0x40;  // the magic value
    log.Clear();
    EXPECT_EQ(OrvaneReadEntireFileFromMemory(int32_t(damaged.size()), damaged.data()), nullptr);
    EXPECT_TRUE(log.Contains("File is not a Orvane file"));
    EXPECT_EQ(OrvaneReadEntireFileFromMemory(10, damaged.data()), nullptr);
    EXPECT_TRUE(log.Contains("Unable to read magic value"));
}

TEST_P(HostileFiles, SectionsAboveTheSizeLimitStayNull) {
    const uint32_t limit = OrvaneGetFileSectionSizeLimit();
    EXPECT_EQ(limit, 1u << 30);
    OrvaneSetFileSectionSizeLimit(16);
    LogCapture log;
    orvane_file* file = OrvaneReadEntireFileFromMemory(int32_t(bytes.size()), bytes.data());
    OrvaneSetFileSectionSizeLimit(limit);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Sections[0], nullptr);
    EXPECT_TRUE(log.Contains("above the limit of 16"));
    EXPECT_EQ(OrvaneGetDataTreeFromFile(file).Object, nullptr);
    OrvaneFreeFile(file);
}

TEST_P(HostileFiles, RefusedFixupsDropTheirSection) {
    // Section 0's second pointer fixup: its slot, its target section, its target offset.
    const uint32_t fixups = FileWord(bytes, 88 + 28, swap);
    ASSERT_GT(FileWord(bytes, 88 + 32, swap), 1u);
    LogCapture log;
    for (const auto& [field, value] :
         {std::pair<uint32_t, uint32_t>{0, 0xFFFFFFFEu}, {4, 77}, {8, 0x7FFFFFF0u}}) {
        std::vector<uint8_t> damaged = bytes;
        SetFileWord(damaged, fixups + 12 + field, value, swap);
        log.Clear();
        orvane_file* file = OrvaneReadEntireFileFromMemory(int32_t(damaged.size()), damaged.data());
        ASSERT_NE(file, nullptr) << field;
        EXPECT_TRUE(log.Contains("lies outside its sections")) << field;
        EXPECT_TRUE(log.Contains("File section 0 is dropped: its pointer fixups were refused"));
        // The root lives in the dropped section: no tree with holes reaches the caller.
        EXPECT_EQ(file->Sections[0], nullptr);
        // The items' types lived in section 0: in the other byte order they cannot be
        // marshalled either.
        EXPECT_EQ(file->Sections[1] == nullptr, swap);
        EXPECT_EQ(OrvaneGetDataTreeFromFile(file).Object, nullptr);
        OrvaneFreeFile(file);
    }
}

TEST_P(HostileFiles, RefusedMarshallingDropsTheSection) {
    // Marshalling runs on files of the other byte order only.
    if (!swap) GTEST_SKIP();
    int tested = 0;
    for (uint32_t section : {0u, 1u}) {
        const size_t e = 88 + 44 * size_t(section);
        if (FileWord(bytes, e + 40, swap) == 0) continue;  // no marshalling fixups
        const uint32_t fixups = FileWord(bytes, e + 36, swap);
        std::vector<uint8_t> damaged = bytes;
        SetFileWord(damaged, fixups + 8, 77, swap);  // the type's section
        SCOPED_TRACE(testing::Message() << "section " << section);
        ++tested;
        LogCapture log;
        orvane_file* file = OrvaneReadEntireFileFromMemory(int32_t(damaged.size()), damaged.data());
        ASSERT_NE(file, nullptr);
        EXPECT_TRUE(log.Contains("does not fit its sections or has a malformed type"));
        EXPECT_TRUE(log.Contains("its marshalling fixups were refused"));
        EXPECT_EQ(file->Sections[section], nullptr);
        // Section 0 holds the root; section 1 only a referenced item, whose reference now
        // reads as null.
        const orvane_variant tree = OrvaneGetDataTreeFromFile(file);
        if (section == 0) {
            EXPECT_EQ(tree.Object, nullptr);
        } else {
            ASSERT_NE(tree.Object, nullptr);
            EXPECT_EQ(static_cast<const Root*>(tree.Object)->References[0], nullptr);
        }
        OrvaneFreeFile(file);
    }
    EXPECT_GT(tested, 0);
}

TEST_P(HostileFiles, ArraysWithoutTheirDataFailTheTree) {
    const std::vector<uint8_t> apart =
        SmallFile(GetParam() ? OtherByteOrder() : OrvaneNativeByteOrder, true);
    orvane_file* file = OrvaneReadEntireFileFromMemory(int32_t(apart.size()), apart.data());
    ASSERT_NE(file, nullptr);
    ASSERT_NE(OrvaneGetDataTreeFromFile(file).Object, nullptr);
    // The items' section goes: the root still counts three items, so its tree is refused
    // rather than handed out with a count over nothing.
    LogCapture log;
    OrvaneFreeFileSection(file, 1);
    EXPECT_EQ(OrvaneGetDataTreeFromFile(file).Object, nullptr);
    EXPECT_TRUE(log.Contains("Array member Items claims 3 elements but points to no loaded data"));
    OrvaneFreeFile(file);
}

TEST_P(HostileFiles, HugeAndNegativeCountsFailTheTree) {
    const size_t marker = FindWord(0, kMarker);
    ASSERT_NE(marker, 0u);
    ASSERT_EQ(FileWord(bytes, marker + 4, swap), 3u);  // ItemCount
    LogCapture log;
    for (uint32_t count : {1000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        for (size_t field : {size_t(4), size_t(16)}) {  // ItemCount, ReferenceCount
            std::vector<uint8_t> damaged = bytes;
            SetFileWord(damaged, marker + field, count, swap);
            log.Clear();
            orvane_variant tree = LoadAndWalk(damaged);
            EXPECT_EQ(tree.Object, nullptr) << count;
            EXPECT_TRUE(log.Contains("does not fit its file section")) << count;
        }
    }
}

TEST_P(HostileFiles, UnterminatedTextFailsTheTree) {
    // The byte part of section 0 holds the names and the title: fill it without zeros.
    const size_t e = 88;
    const uint32_t offset = FileWord(bytes, e + 4, swap);
    const uint32_t start8 = FileWord(bytes, e + 24, swap);
    const uint32_t size = FileWord(bytes, e + 12, swap);
    ASSERT_LT(start8, size);
    std::vector<uint8_t> damaged = bytes;
    std::memset(damaged.data() + offset + start8, 'x', size - start8);
    LogCapture log;
    orvane_variant tree = LoadAndWalk(damaged);
    EXPECT_EQ(tree.Object, nullptr);
    EXPECT_TRUE(log.Contains("not terminated inside its file section"));
}

TEST_P(HostileFiles, MalformedDescriptionsFailTheTree) {
    // The root description: give its first member an unknown kind, then turn members into
    // inline members without types.
    ASSERT_EQ(FileWord(bytes, 52, swap), 0u);
    const uint32_t offset = FileWord(bytes, 88 + 4, swap) + FileWord(bytes, 56, swap);
    LogCapture log;
    std::vector<uint8_t> damaged = bytes;
    SetFileWord(damaged, offset, 99, swap);
    EXPECT_EQ(LoadAndWalk(damaged).Type, nullptr);
    EXPECT_TRUE(log.Contains("unknown kind 99"));
    log.Clear();
    damaged = bytes;
    SetFileWord(damaged, offset + 32, OrvaneInlineMember, swap);      // "Items" inlines the item
    SetFileWord(damaged, offset + 32 * 4, OrvaneInlineMember, swap);  // terminator: inline
    LoadAndWalk(damaged);
    EXPECT_GT(log.errors(), 0u);
}

TEST_P(HostileFiles, CountsOfObjectsWithoutMembersNeedTheirBytes) {
    // The item description loses its members (its first record becomes the terminator), so
    // the root's items take no bytes at all, and the root then claims 2^24 of them.
    ASSERT_EQ(FileWord(bytes, 52, swap), 0u);
    const uint32_t itemsSlot = FileWord(bytes, 56, swap) + 32 + 8;  // "Items" ReferenceType
    const uint32_t fixups = FileWord(bytes, 88 + 28, swap);
    size_t item = 0;
    for (uint32_t i = 0; i < FileWord(bytes, 88 + 32, swap) && item == 0; ++i) {
        if (FileWord(bytes, fixups + 12 * i, swap) != itemsSlot) continue;
        const uint32_t section = FileWord(bytes, fixups + 12 * i + 4, swap);
        item = FileWord(bytes, 88 + 44 * size_t(section) + 4, swap) +
               FileWord(bytes, fixups + 12 * i + 8, swap);
    }
    ASSERT_NE(item, 0u);
    ASSERT_EQ(FileWord(bytes, item, swap), uint32_t(OrvaneInt32Member));
    const size_t marker = FindWord(0, kMarker);
    ASSERT_NE(marker, 0u);
    std::vector<uint8_t> damaged = bytes;
    SetFileWord(damaged, item, OrvaneEndMember, swap);
    SetFileWord(damaged, marker + 4, 1u << 24, swap);

    LogCapture log;
    orvane_file* file = OrvaneReadEntireFileFromMemory(int32_t(damaged.size()), damaged.data());
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(OrvaneGetDataTreeFromFile(file).Object, nullptr);
    EXPECT_TRUE(log.Contains("Array of 16777216 objects of 0 bytes does not fit its file section"));
    OrvaneFreeFile(file);
}

// The builder writes alignments up to 65536; a larger one in a file only makes every load of
// the section allocate that much more, whatever the section size limit says.
TEST_P(HostileFiles, SectionAlignmentsAboveWhatTheBuilderWritesAreRefused) {
    LogCapture log;
    for (uint32_t alignment : {uint32_t(1) << 17, uint32_t(1) << 30, uint32_t(1) << 31}) {
        std::vector<uint8_t> damaged = bytes;
        SetFileWord(damaged, 88 + 16, alignment, swap);
        log.Clear();
        EXPECT_EQ(OrvaneReadEntireFileFromMemory(int32_t(damaged.size()), damaged.data()), nullptr)
            << alignment;
        EXPECT_TRUE(log.Contains("File section 0 has alignment")) << alignment;
    }
    std::vector<uint8_t> largest = bytes;
    SetFileWord(largest, 88 + 16, 65536, swap);
    log.Clear();
    orvane_file* file = OrvaneReadEntireFileFromMemory(int32_t(largest.size()), largest.data());
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(file->Sections[0]) % 65536, 0u);
    EXPECT_EQ(log.errors(), 0u);
    OrvaneFreeFile(file);
}

// A file of `count` sections made by hand in the byte order of the fixture's file: empty ones,
// or with `filled` each one of 4 bytes, all stored in the same 4 bytes of the file.
std::vector<uint8_t> EmptySectionsFile(uint32_t count, bool swap, bool filled = false) {
    const uint32_t headerSize = 88 + 44 * count;
    std::vector<uint8_t> file(32 + size_t(headerSize) + (filled ? 4 : 0), 0);
    std::memcpy(file.data(), swap ? OrvaneReversedOVNFileMV : OrvaneOVNFileMV, 32);
    SetFileWord(file, 16, headerSize, swap);
    SetFileWord(file, 32, 6, swap);                      // Version
    SetFileWord(file, 36, uint32_t(file.size()), swap);  // TotalSize
    SetFileWord(file, 44, 56, swap);                     // SectionTableOffset
    SetFileWord(file, 48, count, swap);                  // SectionCount
    SetFileWord(file, 68, ORVANE_CURRENT_FILE_TYPE_TAG, swap);
    for (uint32_t i = 0; filled && i < count; ++i) {
        const size_t entry = 88 + 44 * size_t(i);
        SetFileWord(file, entry + 4, 32 + headerSize, swap);  // DataOffset
        for (size_t at : {8, 12, 16, 20, 24})  // DataSize, ExpandedSize, Alignment, starts
            SetFileWord(file, entry + at, 4, swap);
    }
    return file;
}

// The builder writes at most 65536 sections. Per-section work on loading and freeing grows with
// the number of sections, so a file of a million tiny sections would take hours to free.
TEST_P(HostileFiles, SectionCountsAboveWhatTheBuilderWritesAreRefused) {
    LogCapture log;
    std::vector<uint8_t> most = EmptySectionsFile(65536, swap);
    orvane_file* file = OrvaneReadEntireFileFromMemory(int32_t(most.size()), most.data());
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->SectionCount, 65536);
    EXPECT_EQ(log.errors(), 0u);
    OrvaneFreeFile(file);
    // One more section needs a header block larger than the builder ever writes: it is refused
    // before it is read, as are the table's million sections.
    for (uint32_t count : {65537u, 1u << 20}) {
        std::vector<uint8_t> many = EmptySectionsFile(count, swap);
        log.Clear();
        EXPECT_EQ(OrvaneReadEntireFileFromMemory(int32_t(many.size()), many.data()), nullptr)
            << count;
        EXPECT_TRUE(log.Contains("File header size")) << count;
    }
    // A header block that holds the table of 65537 sections is refused when checked.
    std::vector<uint8_t> block = EmptySectionsFile(65537, false);
    block.erase(block.begin(), block.begin() + 32);
    block.resize(56 + 44 * size_t(65537));
    log.Clear();
    EXPECT_FALSE(OrvaneFileHeaderIsValid(reinterpret_cast<const orvane_file_header*>(block.data()),
                                         uint32_t(block.size())));
    EXPECT_TRUE(log.Contains("File has 65537 sections, more than the 65536 allowed"));
}

// A file of the most sections the builder writes loads and frees whole (the free clears the
// pointer table once rather than searching it for each section; its time is a benchmark's
// matter, the leak check at the end of the run holds the release).
TEST_P(HostileFiles, AFileOfTheMostSectionsLoadsAndFrees) {
    std::vector<uint8_t> most = EmptySectionsFile(65536, swap, true);
    orvane_file* file = OrvaneReadEntireFileFromMemory(int32_t(most.size()), most.data());
    ASSERT_NE(file, nullptr);
    ASSERT_NE(file->Sections[65535], nullptr);
    OrvaneFreeFile(file);
}

// Every pointer fixup takes an entry of the pointer table allocated at load. Sections that
// share one fixup array would let a file of a few megabytes ask for gigabytes of table.
TEST_P(HostileFiles, SectionsSharingOneFixupArrayAreRefused) {
    std::vector<uint8_t> shared = bytes;
    const uint32_t count = uint32_t(shared.size() / 12);
    for (size_t entry : {size_t(88), size_t(88 + 44)}) {
        SetFileWord(shared, entry + 28, 0, swap);  // PointerFixupOffset
        SetFileWord(shared, entry + 32, count, swap);
    }
    LogCapture log;
    EXPECT_EQ(OrvaneReadEntireFileFromMemory(int32_t(shared.size()), shared.data()), nullptr);
    EXPECT_TRUE(log.Contains("File has more pointer fixups than it can hold"));
    // One such array alone fits the file: it is read, and its fixups refused one by one.
    std::vector<uint8_t> single = bytes;
    SetFileWord(single, 88 + 28, 0, swap);
    SetFileWord(single, 88 + 32, count - 1, swap);
    SetFileWord(single, 88 + 44 + 32, 0, swap);
    log.Clear();
    orvane_file* file = OrvaneReadEntireFileFromMemory(int32_t(single.size()), single.data());
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(log.Contains("File has more pointer fixups"));
    OrvaneFreeFile(file);
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, HostileFiles, ::testing::Bool());

#pragma pack(push, 4)
struct Samples {
    uint32_t Marker;
    int32_t ValueCount;
    float* Values;
};
#pragma pack(pop)

orvane_data_type_definition g_samplesType[] = {
    Member(OrvaneUInt32Member, "Marker"),
    Member(OrvaneReferenceToArrayMember, "Values", OrvaneReal32Type),
    Member(OrvaneEndMember, nullptr)};

TEST(HostileReferences, ValuesAtAnOddOffsetAreCopiedToTheirAlignment) {
    static float values[6] = {1, 2, 3, 4, 5, 6};
    static Samples samples = {kMarker, 6, values};
    std::vector<uint8_t> bytes = orvane_test::WriteTreeBytes(g_samplesType, &samples);
    ASSERT_GT(bytes.size(), 88u);
    // The fixup of the root's Values slot (root offset + 8) is pointed one byte further on:
    // the reals behind it are still inside the section, but no longer at a multiple of 4.
    ASSERT_EQ(FileWord(bytes, 60, false), 0u);  // the root object's section and offset
    const uint32_t rootOffset = FileWord(bytes, 64, false);
    const uint32_t fixups = FileWord(bytes, 88 + 28, false);
    const uint32_t fixupCount = FileWord(bytes, 88 + 32, false);
    size_t fixup = 0;
    for (uint32_t i = 0; i < fixupCount && fixup == 0; ++i)
        if (FileWord(bytes, fixups + 12 * i, false) == rootOffset + 8) fixup = fixups + 12 * i;
    ASSERT_NE(fixup, 0u);
    const uint32_t target = FileWord(bytes, fixup + 8, false);
    SetFileWord(bytes, fixup + 8, target - 3, false);

    LogCapture log;
    orvane_file* file = OrvaneReadEntireFileFromMemory(int32_t(bytes.size()), bytes.data());
    ASSERT_NE(file, nullptr);
    const orvane_variant tree = OrvaneGetDataTreeFromFile(file);
    ASSERT_NE(tree.Object, nullptr) << (log.messages().empty() ? "" : log.messages()[0].text);
    const auto* root = static_cast<const Samples*>(tree.Object);
    ASSERT_EQ(root->ValueCount, 6);
    ASSERT_NE(root->Values, nullptr);
    // Readers load the reals as reals: the tree hands out an aligned copy of the same bytes.
    EXPECT_EQ(reinterpret_cast<uintptr_t>(root->Values) % alignof(float), 0u);
    const auto* section = static_cast<const uint8_t*>(file->Sections[0]);
    for (int i = 0; i < 6; ++i) {
        float expected;
        std::memcpy(&expected, section + target - 3 + 4 * size_t(i), 4);
        EXPECT_EQ(std::memcmp(&root->Values[i], &expected, 4), 0) << i;
    }
    OrvaneFreeFile(file);
}

}  // namespace

// A file of 10 KB whose arrays point into one another under other counts: converting its root
// to the current layout would copy elements into hundreds of megabytes. The conversion stops at
// a bound on the file's own size with an error, quickly, and gives no file info.
TEST(HostileConversion, ATreeThatMultipliesOnConversionIsRefused) {
    const std::string path =
        std::string(ORVANE_LOAD_CORPUS_DIR) + "/arrays-that-multiply-on-conversion";
    FILE* in = std::fopen(path.c_str(), "rb");
    ASSERT_NE(in, nullptr) << path;
    std::vector<uint8_t> file(1 << 16);
    file.resize(std::fread(file.data(), 1, file.size(), in));
    std::fclose(in);
    ASSERT_GT(file.size(), 1000u);
    LogCapture log;
    orvane_file* loaded = OrvaneReadEntireFileFromMemory(int32_t(file.size()), file.data());
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(OrvaneGetFileInfo(loaded), nullptr);
    EXPECT_TRUE(log.Contains("Converted tree would exceed")) << log.messages().size();
    OrvaneFreeFile(loaded);
}

// Loading content files: whole files in both byte orders and with each codec, the native tree
// (copies kept per section, sharing, cycles, arrays in place), partial loading in several
// orders and into caller memory, freeing and refreshing, the CRC, the type tag.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <zlib.h>

#include "file/load_test_support.h"
#include "orvane/file.h"
#include "orvane/file_builder.h"
#include "orvane/data_tree_writer.h"
#include "orvane/types.h"
#include "orvane/convert.h"
#include "support/example_check.h"
#include "support/log_capture.h"

namespace {

using orvane_test::LogCapture;
using orvane_test::TreeFileOptions;
using orvane_test::WriteTreeBytes;

orvane_data_type_definition Member(orvane_member_type kind, const char* name,
                                   orvane_data_type_definition* type = nullptr, int32_t width = 0) {
    return {kind, name, type, width, {0, 0, 0}, 0};
}
orvane_data_type_definition End() {
    return Member(OrvaneEndMember, nullptr);
}

#pragma pack(push, 4)
struct Node {
    int32_t Value;
    Node* Next;
    char* Name;
};
#pragma pack(pop)

orvane_data_type_definition g_nodeType[] = {Member(OrvaneInt32Member, "Value"),
                                            Member(OrvaneReferenceMember, "Next", g_nodeType),
                                            Member(OrvaneStringMember, "Name"), End()};

// The example content, its objects spread over four sections: the vertices in section 1, the
// skeleton in 2, the curve data in 3, everything else in 0.
struct Content {
    Content() { EXPECT_TRUE(example.ok()); }
    Content(const Content&) = delete;

    TreeFileOptions Options(orvane_file_byte_order order, int32_t compression) const {
        TreeFileOptions options;
        options.byteOrder = order;
        options.compression = compression;
        options.sectionOfType = {{OrvaneSkeletonType, 2}};
        for (orvane_curve2* curve : example.curves)
            options.sectionOfType.push_back({curve->CurveData.Type, 3});
        options.sectionOfObject = {{example.vertices.data(), 1}};
        return options;
    }
    std::vector<uint8_t> Bytes(orvane_file_byte_order order = OrvaneNativeByteOrder,
                               int32_t compression = 0) {
        return WriteTreeBytes(OrvaneFileInfoType, &info, Options(order, compression));
    }

    orvane_example::ExampleContent example;
    orvane_file_info& info = *example.info();
};

constexpr orvane_test::ExampleSections kSections = {2, 1, -1, 3};

orvane_file_byte_order OtherByteOrder() {
    const uint16_t probe = 1;
    uint8_t first;
    std::memcpy(&first, &probe, 1);
    return first ? OrvaneBigEndianByteOrder : OrvaneLittleEndianByteOrder;
}

// Pointer members of packed content records may lie at 4-byte offsets: compare copies.
const void* P(const void* pointer) {
    return pointer;
}

// Every value of the content, read through the loaded file info.
void ExpectContent(const orvane_file* file, const orvane_file_info* info, Content& c,
                   bool curves = true) {
    orvane_test::ExpectExample(file, info, c.example, kSections, curves);
}

class WholeFile : public ::testing::TestWithParam<std::tuple<bool, int32_t>> {};

TEST_P(WholeFile, LoadsEveryValueInTheNativeLayout) {
    const auto [reversed, compression] = GetParam();
    Content content;
    std::vector<uint8_t> bytes =
        content.Bytes(reversed ? OtherByteOrder() : OrvaneNativeByteOrder, compression);
    ASSERT_FALSE(bytes.empty());
    LogCapture log;
    orvane_file* file = OrvaneReadEntireFileFromMemory(int32_t(bytes.size()), bytes.data());
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->ByteReversed, reversed);
    for (int32_t i = 0; i < file->SectionCount; ++i) {
        ASSERT_NE(file->Sections[i], nullptr);
        EXPECT_TRUE(file->SectionMarshalled[i]);
        EXPECT_FALSE(file->SectionInUserMemory[i]);
    }
    orvane_file_info* info = OrvaneGetFileInfo(file);
    ExpectContent(file, info, content);
    EXPECT_EQ(OrvaneGetFileInfo(file), info);
    orvane_variant tree = OrvaneGetDataTreeFromFile(file);
    EXPECT_EQ(tree.Object, info);
    EXPECT_TRUE(OrvaneDataTypesAreEqualWithNames(tree.Type, OrvaneFileInfoType));
    EXPECT_EQ(OrvaneGetFileTypeTag(file), ORVANE_CURRENT_FILE_TYPE_TAG);
    EXPECT_TRUE(log.messages().empty()) << log.messages()[0].text;
    OrvaneFreeFile(file);
}

INSTANTIATE_TEST_SUITE_P(OrdersAndCodecs, WholeFile,
                         ::testing::Combine(::testing::Bool(),
                                            ::testing::Values(OrvaneNoCompression,
                                                              OrvanePelma0Compression,
                                                              OrvanePelma1Compression)));

TEST(FileLoading, ReadsByNameAndFromAReader) {
    Content content;
    const std::string path = orvane_test::LoadTestPath("byname.ovn");
    ASSERT_TRUE(orvane_test::WriteTreeFile(path, OrvaneFileInfoType, &content.info,
                                           content.Options(OtherByteOrder(), 0)));
    orvane_file* file = OrvaneReadEntireFile(path.c_str());
    ASSERT_NE(file, nullptr);
    ExpectContent(file, OrvaneGetFileInfo(file), content);
    OrvaneFreeFile(file);

    orvane_file_reader* reader =
        OrvaneGetDefaultFileReaderOpenCallback()(__FILE__, __LINE__, path.c_str());
    ASSERT_NE(reader, nullptr);
    file = OrvaneReadEntireFileFromReader(reader);
    reader->CloseFileReaderCallback(__FILE__, __LINE__, reader);
    ASSERT_NE(file, nullptr);
    ExpectContent(file, OrvaneGetFileInfo(file), content);
    OrvaneFreeFile(file);
    std::remove(path.c_str());

    LogCapture log;
    EXPECT_EQ(OrvaneReadEntireFile(path.c_str()), nullptr);  // gone: no message of its own
    EXPECT_EQ(log.errors(), 0u);
    EXPECT_EQ(OrvaneReadEntireFile(nullptr), nullptr);
    EXPECT_TRUE(log.Contains("FileName is not allowed to be 0"));
    OrvaneFreeFile(nullptr);
}

// Loading step by step from a memory reader.
struct Partial {
    explicit Partial(const std::vector<uint8_t>& bytes) {
        reader = OrvaneCreateMemoryFileReader(__FILE__, __LINE__, 0, int32_t(bytes.size()),
                                              bytes.data());
        file = OrvaneReadPartialFileFromReader(reader);
    }
    ~Partial() {
        OrvaneFreeFile(file);
        reader->CloseFileReaderCallback(__FILE__, __LINE__, reader);
    }
    void Fixup(const std::vector<int32_t>& order) {
        for (int32_t i : order)
            OrvaneFixupFileSectionPhase1(reader, file, i);
        for (int32_t i : order)
            OrvaneFixupFileSectionPhase2(reader, file, i);
    }
    orvane_file_reader* reader;
    orvane_file* file;
};

// Every section of a partly read file read into one caller block, each right behind the one
// before (its start rounded up to 4 bytes), then fixed up in order. The file points into the
// block, which must outlive it.
struct BackToBackBlock {
    std::vector<uint64_t> words;
    std::vector<size_t> offsets;  // of each section in the block
    uint8_t* base() { return reinterpret_cast<uint8_t*>(words.data()); }
};

[[nodiscard]] BackToBackBlock ReadSectionsBackToBack(Partial& p) {
    BackToBackBlock block;
    const orvane_ovn_section* table = OrvaneGetOVNSectionArray(p.file->Header);
    size_t total = 0;
    for (int32_t i = 0; i < p.file->SectionCount; ++i) {
        block.offsets.push_back(total);
        total += (table[i].ExpandedSize + 3) & ~3u;
    }
    block.words.resize(total / 8 + 1);
    std::vector<int32_t> order;
    for (int32_t i = 0; i < p.file->SectionCount; ++i) {
        OrvaneReadFileSectionInPlace(p.reader, p.file, i, block.base() + block.offsets[size_t(i)]);
        order.push_back(i);
    }
    p.Fixup(order);
    return block;
}

TEST(FileLoading, PartialLoadingInAnyOrderGivesTheWholeFile) {
    Content content;
    for (bool reversed : {false, true}) {
        std::vector<uint8_t> bytes =
            content.Bytes(reversed ? OtherByteOrder() : OrvaneNativeByteOrder);
        for (const std::vector<int32_t>& order :
             {std::vector<int32_t>{3, 2, 1, 0}, {1, 3, 0, 2}, {0, 1, 2, 3}}) {
            Partial p(bytes);
            ASSERT_NE(p.file, nullptr);
            for (int32_t i = 0; i < 4; ++i)
                EXPECT_EQ(p.file->Sections[i], nullptr);
            for (int32_t i : order)
                OrvaneReadFileSection(p.reader, p.file, i);
            p.Fixup(order);
            ExpectContent(p.file, OrvaneGetFileInfo(p.file), content);
        }
    }
}

TEST(FileLoading, SectionsNotLoadedReadAsNullAndCanFollowLater) {
    Content content;
    std::vector<uint8_t> bytes = content.Bytes(OtherByteOrder());
    LogCapture log;
    Partial p(bytes);
    ASSERT_NE(p.file, nullptr);
    for (int32_t i : {0, 1, 3})
        OrvaneReadFileSection(p.reader, p.file, i);
    p.Fixup({0, 1, 3});
    orvane_file_info* info = OrvaneGetFileInfo(p.file);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->Skeletons[0], nullptr);
    EXPECT_EQ(info->Models[0]->Skeleton, nullptr);
    EXPECT_EQ(info->VertexDatas[0]->VertexCount, 8);

    // Section 2 into caller memory; the pointers into it appear once the fixups run again.
    const uint32_t size = OrvaneGetOVNSectionArray(p.file->Header)[2].ExpandedSize;
    std::vector<uint32_t> memory((size + 3) / 4 + 1, 0xAAAAAAAAu);
    OrvaneReadFileSectionInPlace(p.reader, p.file, 2, memory.data());
    EXPECT_EQ(p.file->Sections[2], memory.data());
    EXPECT_TRUE(p.file->SectionInUserMemory[2]);
    p.Fixup({0, 1, 2, 3});
    EXPECT_EQ(OrvaneGetFileInfo(p.file), info);  // copies keep their addresses
    ExpectContent(p.file, info, content);
    EXPECT_EQ(log.errors() + log.warnings(), 0u);

    // Freeing the caller's section forgets it without releasing the memory.
    const std::vector<uint32_t> before = memory;
    OrvaneFreeFileSection(p.file, 2);
    EXPECT_EQ(p.file->Sections[2], nullptr);
    EXPECT_FALSE(p.file->SectionInUserMemory[2]);
    EXPECT_FALSE(p.file->SectionMarshalled[2]);
    EXPECT_EQ(memory, before);
    EXPECT_EQ(OrvaneGetFileInfo(p.file), info);
    EXPECT_EQ(info->Skeletons[0], nullptr);
    EXPECT_EQ(info->Models[0]->Skeleton, nullptr);
}

TEST(FileLoading, SectionsBackToBackInOneCallerBlock) {
    // Where one section ends the next begins: pointers to a section's first byte must still
    // reach that section.
    Content content;
    for (bool reversed : {false, true}) {
        std::vector<uint8_t> bytes =
            content.Bytes(reversed ? OtherByteOrder() : OrvaneNativeByteOrder);
        Partial p(bytes);
        ASSERT_NE(p.file, nullptr);
        ASSERT_EQ(p.file->SectionCount, 4);
        const BackToBackBlock block = ReadSectionsBackToBack(p);
        ExpectContent(p.file, OrvaneGetFileInfo(p.file), content);
    }
}

TEST(FileLoading, AnObjectAtTheFirstByteOfASectionRightBehindAnotherLoads) {
    // A ring of three nodes whose first node (the root) is alone in section 1; section 1 is
    // read right behind section 0 in one caller block, so the root's address is also the end
    // of section 0. The root and the pointers to it must be taken as section 1's.
    Node ring[3];
    for (int i = 0; i < 3; ++i)
        ring[i] = {-1 - i, &ring[(i + 1) % 3], const_cast<char*>("ring")};
    for (bool reversed : {false, true}) {
        TreeFileOptions options;
        options.byteOrder = reversed ? OtherByteOrder() : OrvaneNativeByteOrder;
        options.sectionCount = 2;
        options.sectionOfObject = {{&ring[0], 1}};
        std::vector<uint8_t> bytes = WriteTreeBytes(g_nodeType, ring, options);
        ASSERT_GT(bytes.size(), 88u + 2 * 44u);
        // RootObjectReference at offset 60: section 1, offset 0.
        EXPECT_EQ(orvane_test::FileWord(bytes, 60, reversed), 1u);
        EXPECT_EQ(orvane_test::FileWord(bytes, 64, reversed), 0u);
        const uint32_t size0 = orvane_test::FileWord(bytes, 88 + 12, reversed);
        ASSERT_EQ(size0 % 4, 0u);

        Partial p(bytes);
        ASSERT_NE(p.file, nullptr);
        std::vector<uint64_t> block(bytes.size() / 8 + 1);
        auto* base = reinterpret_cast<uint8_t*>(block.data());
        OrvaneReadFileSectionInPlace(p.reader, p.file, 0, base);
        OrvaneReadFileSectionInPlace(p.reader, p.file, 1, base + size0);
        p.Fixup({0, 1});
        LogCapture log;
        orvane_variant tree = OrvaneGetDataTreeFromFile(p.file);
        EXPECT_EQ(log.errors(), 0u);
        ASSERT_NE(tree.Object, nullptr);
        // Members of the packed records are read by value (a reference to one may be
        // misaligned).
        const Node* root = static_cast<const Node*>(tree.Object);
        const int32_t rootValue = root->Value;
        EXPECT_EQ(rootValue, -1);
        const Node* second = root->Next;
        ASSERT_NE(second, nullptr);
        const int32_t secondValue = second->Value;
        EXPECT_EQ(secondValue, -2);
        const Node* third = second->Next;
        ASSERT_NE(third, nullptr);
        const Node* back = third->Next;
        EXPECT_EQ(back, root);
        const char* name = root->Name;
        EXPECT_STREQ(name, "ring");
        EXPECT_EQ(OrvaneGetFileSectionOfLoadedObject(p.file, base + size0), 1);
    }
}

TEST(FileLoading, FreeingASectionInOneCallerBlockKeepsPointersToTheNextSection) {
    // Section 3 lies right behind section 2 in the caller's block, so the address of section
    // 3's first byte is also the end of section 2. Freeing section 2 must not forget the
    // pointers to section 3's first byte (here a curve's knots, whose loss refuses the tree).
    Content content;
    for (bool reversed : {false, true}) {
        std::vector<uint8_t> bytes =
            content.Bytes(reversed ? OtherByteOrder() : OrvaneNativeByteOrder);
        Partial p(bytes);
        ASSERT_NE(p.file, nullptr);
        ASSERT_EQ(p.file->SectionCount, 4);
        const orvane_ovn_section* table = OrvaneGetOVNSectionArray(p.file->Header);
        ASSERT_EQ(table[2].ExpandedSize % 4, 0u);
        BackToBackBlock block = ReadSectionsBackToBack(p);
        orvane_file_info* before = OrvaneGetFileInfo(p.file);
        ASSERT_NE(before, nullptr);
        const orvane_track_group* group = before->TrackGroups[0];
        std::vector<const void*> curves;
        for (int32_t t = 0; t < group->TransformTrackCount; ++t)
            curves.push_back(group->TransformTracks[t].PositionCurve.CurveData.Object);
        const uint8_t* section3 = block.base() + block.offsets[3];
        size_t intoSection3 = 0;
        for (uint32_t i = 0; i < p.file->PointerCount; ++i)
            intoSection3 += p.file->Pointers[i] == section3;
        ASSERT_GT(intoSection3, 0u);

        LogCapture log;
        OrvaneFreeFileSection(p.file, 2);
        size_t kept = 0;
        for (uint32_t i = 0; i < p.file->PointerCount; ++i)
            kept += p.file->Pointers[i] == section3;
        EXPECT_EQ(kept, intoSection3);
        orvane_file_info* info = OrvaneGetFileInfo(p.file);
        EXPECT_EQ(info, before);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->Skeletons[0], nullptr);
        for (int32_t t = 0; t < group->TransformTrackCount; ++t) {
            EXPECT_EQ(group->TransformTracks[t].PositionCurve.CurveData.Object, curves[size_t(t)]);
            EXPECT_NE(curves[size_t(t)], nullptr);
        }
        EXPECT_EQ(log.errors(), 0u);
    }
}

TEST(FileLoading, FreeingASectionReleasesItsCopiesAndKeepsOthersAndTheirValues) {
    Content content;
    std::vector<uint8_t> bytes = content.Bytes();
    orvane_file* file = OrvaneReadEntireFileFromMemory(int32_t(bytes.size()), bytes.data());
    ASSERT_NE(file, nullptr);
    orvane_file_info* info = OrvaneGetFileInfo(file);
    ASSERT_NE(info, nullptr);
    orvane_transform_track* tracks = info->TrackGroups[0]->TransformTracks;
    const void* curve = tracks[0].PositionCurve.CurveData.Object;
    EXPECT_EQ(OrvaneGetFileSectionOfLoadedObject(file, curve), 3);
    info->Skeletons[0]->Bones[1].ParentIndex = 42;  // the application changes a value
    OrvaneFreeFileSection(file, 3);
    EXPECT_EQ(OrvaneGetFileSectionOfLoadedObject(file, curve), -1);
    EXPECT_EQ(OrvaneGetFileInfo(file), info);
    EXPECT_EQ(info->TrackGroups[0]->TransformTracks, tracks);
    EXPECT_EQ(tracks[0].PositionCurve.CurveData.Object, nullptr);
    // Only pointers are resolved again: values stay as the application left them.
    EXPECT_EQ(info->Skeletons[0]->Bones[1].ParentIndex, 42);
    EXPECT_STREQ(tracks[1].Name, "Spine");
    EXPECT_STREQ(info->Skeletons[0]->Bones[2].Name, "Neck");
    OrvaneFreeAllFileSections(file);
    for (int32_t i = 0; i < file->SectionCount; ++i)
        EXPECT_EQ(file->Sections[i], nullptr);
    EXPECT_EQ(OrvaneGetFileInfo(file), nullptr);
    OrvaneFreeFile(file);
}

TEST(FileLoading, SectionRequestsAreChecked) {
    Content content;
    std::vector<uint8_t> bytes = content.Bytes();
    Partial p(bytes);
    ASSERT_NE(p.file, nullptr);
    LogCapture log;
    OrvaneReadFileSection(p.reader, p.file, 0);
    void* first = p.file->Sections[0];
    OrvaneReadFileSection(p.reader, p.file, 0);
    EXPECT_EQ(p.file->Sections[0], first);
    EXPECT_TRUE(log.Contains("Ignored request to read already populated file section 0"));
    OrvaneReadFileSection(p.reader, p.file, 4);
    EXPECT_TRUE(log.Contains("SectionIndex 4 is out of range [0, 4)"));
    OrvaneFixupFileSectionPhase1(p.reader, p.file, -1);
    EXPECT_TRUE(log.Contains("SectionIndex -1 is out of range [0, 4)"));
    OrvaneFreeFileSection(p.file, 9);
    EXPECT_TRUE(log.Contains("SectionIndex 9 is out of range [0, 4)"));

    // A native file's second phase repeats the pointer fixups only.
    OrvaneFixupFileSectionPhase1(p.reader, p.file, 0);
    const uint32_t size = OrvaneGetOVNSectionArray(p.file->Header)[0].ExpandedSize;
    std::vector<uint8_t> afterPhase1(static_cast<uint8_t*>(first),
                                     static_cast<uint8_t*>(first) + size);
    OrvaneFixupFileSectionPhase2(p.reader, p.file, 0);
    EXPECT_EQ(std::memcmp(afterPhase1.data(), first, size), 0);

    // The section of an address: the first byte of a section is in it, its end is not.
    OrvaneReadFileSection(p.reader, p.file, 1);
    const auto* base = static_cast<const uint8_t*>(p.file->Sections[1]);
    EXPECT_EQ(OrvaneGetFileSectionOfLoadedObject(p.file, base), 1);
    const uint32_t size1 = OrvaneGetOVNSectionArray(p.file->Header)[1].ExpandedSize;
    EXPECT_NE(OrvaneGetFileSectionOfLoadedObject(p.file, base + size1), 1);
    EXPECT_EQ(OrvaneGetFileSectionOfLoadedObject(p.file, &size1), -1);

    orvane_file empty = {};
    EXPECT_EQ(OrvaneGetFileTypeTag(&empty), 0u);
    EXPECT_TRUE(log.Contains("File.Header is not allowed to be 0"));
    EXPECT_EQ(OrvaneGetDataTreeFromFile(&empty).Object, nullptr);
}

TEST(FileLoading, CrcCoversEverythingFromTheSectionTableOn) {
    Content content;
    std::vector<uint8_t> bytes = content.Bytes();
    const std::string path = orvane_test::LoadTestPath("crc.ovn");
    auto write = [&](const std::vector<uint8_t>& b) {
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(b.data(), 1, b.size(), f);
        std::fclose(f);
    };
    write(bytes);
    EXPECT_TRUE(OrvaneFileCRCIsValid(path.c_str()));
    for (size_t at : {size_t(88), size_t(100), bytes.size() / 2, bytes.size() - 1}) {
        std::vector<uint8_t> changed = bytes;
        changed[at] ^= 0x10;
        write(changed);
        EXPECT_FALSE(OrvaneFileCRCIsValid(path.c_str())) << at;
    }
    std::vector<uint8_t> tagged = bytes;
    for (size_t at = 72; at < 88; ++at)
        tagged[at] ^= 0x5A;  // ExtraTags
    write(tagged);
    EXPECT_TRUE(OrvaneFileCRCIsValid(path.c_str()));
    // The CRC starts after the header: header values that loading refuses (TotalSize at 36,
    // SectionCount at 48) do not change it, and the check says so without complaint.
    EXPECT_EQ(orvane_test::FileWord(bytes, 40, false),
              uint32_t(crc32(0, bytes.data() + 88, uInt(bytes.size() - 88))));
    for (size_t at : {size_t(36), size_t(48)}) {
        std::vector<uint8_t> header = bytes;
        orvane_test::SetFileWord(header, at, 0x10000000u, false);
        write(header);
        LogCapture quiet;
        EXPECT_EQ(OrvaneReadEntireFile(path.c_str()), nullptr) << at;
        quiet.Clear();
        EXPECT_TRUE(OrvaneFileCRCIsValid(path.c_str())) << at;
        EXPECT_EQ(quiet.errors(), 0u) << at;
    }
    // A compressed file of the other byte order: its CRC word is read in that order.
    std::vector<uint8_t> other = content.Bytes(OtherByteOrder(), OrvanePelma1Compression);
    EXPECT_EQ(orvane_test::FileWord(other, 40, true),
              uint32_t(crc32(0, other.data() + 88, uInt(other.size() - 88))));
    write(other);
    EXPECT_TRUE(OrvaneFileCRCIsValid(path.c_str()));
    other.back() ^= 1;
    write(other);
    EXPECT_FALSE(OrvaneFileCRCIsValid(path.c_str()));
    std::remove(path.c_str());
    LogCapture log;
    EXPECT_FALSE(OrvaneFileCRCIsValid(path.c_str()));
    EXPECT_TRUE(log.Contains("Unable to open"));
    EXPECT_FALSE(OrvaneFileCRCIsValid(nullptr));
    EXPECT_TRUE(log.Contains("FileName is not allowed to be 0"));
}

TEST(FileLoading, ADifferentTypeTagWarnsAndConverts) {
    Content content;
    TreeFileOptions options = content.Options(OrvaneNativeByteOrder, 0);
    options.typeTag = 0x80000015u;
    std::vector<uint8_t> bytes = WriteTreeBytes(OrvaneFileInfoType, &content.info, options);
    orvane_file* file = OrvaneReadEntireFileFromMemory(int32_t(bytes.size()), bytes.data());
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(OrvaneGetFileTypeTag(file), 0x80000015u);
    LogCapture log;
    orvane_file_info* info = OrvaneGetFileInfo(file);
    EXPECT_TRUE(
        log.Contains("File has run-time type tag of 0x80000015, which doesn't match this "
                     "version of Orvane (0x80000016).  Automatic conversion will be "
                     "attempted."));
    EXPECT_EQ(info, file->ConvertedFileInfo);
    ASSERT_NE(info, nullptr);
    {
        ExpectContent(file, info, content);
        log.Clear();
        EXPECT_EQ(OrvaneGetFileInfo(file), info);
        EXPECT_EQ(log.warnings(), 0u);
    }
    OrvaneFreeFile(file);
}

class EmptyRootType : public ::testing::TestWithParam<bool> {};

TEST_P(EmptyRootType, ARootStoredWithTheEmptyTypeUnderTheCurrentTagIsTheFileInfo) {
    // The writer may store the root's type as the empty description; the current tag still
    // says that the root is a file info in the current layout.
    Content content;
    TreeFileOptions options =
        content.Options(GetParam() ? OtherByteOrder() : OrvaneNativeByteOrder, 0);
    options.treeFlags = OrvaneWriteRootTypeAsEmpty;
    std::vector<uint8_t> bytes = WriteTreeBytes(OrvaneFileInfoType, &content.info, options);
    orvane_file* file = OrvaneReadEntireFileFromMemory(int32_t(bytes.size()), bytes.data());
    ASSERT_NE(file, nullptr);
    LogCapture log;
    orvane_variant root = OrvaneGetDataTreeFromFile(file);
    ASSERT_NE(root.Type, nullptr);
    EXPECT_EQ(root.Type[0].Type, OrvaneEndMember);
    EXPECT_NE(root.Object, nullptr);
    orvane_file_info* info = OrvaneGetFileInfo(file);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(log.warnings(), 0u);
    EXPECT_EQ(file->ConvertedFileInfo, nullptr);
    // What the in-memory tree holds, reached through the file info's own layout.
    const orvane_file_info& source = content.info;
    ASSERT_NE(info->ArtToolInfo, nullptr);
    EXPECT_STREQ(info->ArtToolInfo->FromArtToolName, source.ArtToolInfo->FromArtToolName);
    EXPECT_EQ(info->ArtToolInfo->UnitsPerMeter, source.ArtToolInfo->UnitsPerMeter);
    EXPECT_STREQ(info->FromFileName, source.FromFileName);
    EXPECT_EQ(info->TextureCount, source.TextureCount);
    EXPECT_EQ(info->MeshCount, source.MeshCount);
    EXPECT_EQ(info->ModelCount, source.ModelCount);
    EXPECT_EQ(info->AnimationCount, source.AnimationCount);
    ASSERT_EQ(info->SkeletonCount, source.SkeletonCount);
    for (int32_t s = 0; s < source.SkeletonCount; ++s) {
        const orvane_skeleton* expected = source.Skeletons[s];
        const orvane_skeleton* loaded = info->Skeletons[s];
        ASSERT_NE(loaded, nullptr);
        EXPECT_STREQ(loaded->Name, expected->Name);
        ASSERT_EQ(loaded->BoneCount, expected->BoneCount);
        for (int32_t b = 0; b < expected->BoneCount; ++b) {
            EXPECT_STREQ(loaded->Bones[b].Name, expected->Bones[b].Name);
            EXPECT_EQ(loaded->Bones[b].ParentIndex, expected->Bones[b].ParentIndex);
        }
    }
    EXPECT_EQ(OrvaneGetFileInfo(file), info);
    // Its copies go with the root's section and come back with it.
    OrvaneFreeFileSection(file, 0);
    EXPECT_EQ(OrvaneGetFileInfo(file), nullptr);
    OrvaneFreeFile(file);
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, EmptyRootType, ::testing::Bool());

#pragma pack(push, 4)
struct Chain {
    int32_t NodeCount;
    Node** Nodes;
};
#pragma pack(pop)
orvane_data_type_definition g_chainType[] = {
    Member(OrvaneArrayOfReferencesMember, "Nodes", g_nodeType), End()};

TEST(FileLoading, CyclesAndLongChainsTerminate) {
    // A ring of three nodes, and a chain of many nodes that the loader must follow node by
    // node (listed last to first, so that the writer never follows more than one link).
    std::vector<Node> nodes(20000);
    for (size_t i = 0; i < nodes.size(); ++i)
        nodes[i] = {int32_t(i), i + 1 < nodes.size() ? &nodes[i + 1] : nullptr,
                    const_cast<char*>(i % 2 ? "odd" : "even")};
    std::vector<Node*> lastToFirst;
    for (size_t i = nodes.size(); i-- > 0;)
        lastToFirst.push_back(&nodes[i]);
    Chain chain = {int32_t(nodes.size()), lastToFirst.data()};
    Node ring[3];
    for (int i = 0; i < 3; ++i)
        ring[i] = {-1 - i, &ring[(i + 1) % 3], const_cast<char*>("ring")};
    ring[2].Name = nullptr;
    for (bool isRing : {true, false}) {
        TreeFileOptions options;
        options.sectionCount = 1;
        std::vector<uint8_t> bytes = isRing ? WriteTreeBytes(g_nodeType, ring, options)
                                            : WriteTreeBytes(g_chainType, &chain, options);
        ASSERT_FALSE(bytes.empty());
        orvane_file* file = OrvaneReadEntireFileFromMemory(int32_t(bytes.size()), bytes.data());
        ASSERT_NE(file, nullptr);
        LogCapture log;
        orvane_variant tree = OrvaneGetDataTreeFromFile(file);
        ASSERT_NE(tree.Object, nullptr);
        const Node* first = isRing
                                ? static_cast<const Node*>(tree.Object)
                                : static_cast<const Chain*>(tree.Object)->Nodes[nodes.size() - 1];
        const Node* expected = isRing ? ring : nodes.data();
        size_t count = 0;
        for (const Node* n = first; n != nullptr && count <= nodes.size(); n = n->Next, ++count) {
            if (count && n == first) break;
            EXPECT_EQ(n->Value, expected[count].Value);
        }
        EXPECT_EQ(count, isRing ? 3u : nodes.size());
        // The root is not a file info, whatever the tag says: it is converted into one.
        EXPECT_NE(P(OrvaneGetFileInfo(file)), P(tree.Object));
        EXPECT_TRUE(log.Contains("not laid out as a file info"));
        OrvaneFreeFile(file);
    }
}

}  // namespace

namespace {

// With an array width above 1, an array member's first (count, pointer) unit holds count groups
// of width elements, as the data tree writer writes it and type conversion reads it; the native
// tree must hand out the whole array, or a later reader runs past it.
#pragma pack(push, 4)
struct WideUnit {
    int32_t Count;
    Node** Items;
};
struct Wide {
    WideUnit References[2];  // width 2: only the first unit is used
    int32_t ValueCount;
    int32_t* Values;
    int32_t UnusedCount;
    int32_t* Unused;
};
#pragma pack(pop)

orvane_data_type_definition g_int32Type[] = {Member(OrvaneInt32Member, "Int32"), End()};
orvane_data_type_definition g_wideType[] = {
    Member(OrvaneArrayOfReferencesMember, "References", g_nodeType, 2),
    Member(OrvaneReferenceToArrayMember, "Values", g_int32Type, 2), End()};

TEST(FileLoading, ArrayMembersWiderThanOneHoldCountGroupsOfWidth) {
    Node nodes[4] = {{10, nullptr, nullptr},
                     {11, nullptr, nullptr},
                     {12, nullptr, nullptr},
                     {13, nullptr, nullptr}};
    Node* references[4] = {&nodes[0], &nodes[1], &nodes[2], &nodes[3]};
    int32_t values[6] = {1, 2, 3, 4, 5, 6};
    Wide wide = {{{2, references}, {0, nullptr}}, 3, values, 0, nullptr};
    TreeFileOptions options;
    options.sectionCount = 1;
    std::vector<uint8_t> bytes = WriteTreeBytes(g_wideType, &wide, options);
    ASSERT_FALSE(bytes.empty());
    orvane_file* file = OrvaneReadEntireFileFromMemory(int32_t(bytes.size()), bytes.data());
    ASSERT_NE(file, nullptr);
    orvane_variant tree = OrvaneGetDataTreeFromFile(file);
    ASSERT_NE(tree.Object, nullptr);
    const auto* loaded = static_cast<const Wide*>(tree.Object);
    ASSERT_EQ(loaded->References[0].Count, 2);
    for (int i = 0; i < 4; ++i) {
        ASSERT_NE(loaded->References[0].Items[i], nullptr);
        EXPECT_EQ(loaded->References[0].Items[i]->Value, 10 + i);
    }
    EXPECT_EQ(loaded->References[1].Count, 0);
    EXPECT_EQ(loaded->References[1].Items, nullptr);
    ASSERT_EQ(loaded->ValueCount, 3);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(loaded->Values[i], i + 1);
    EXPECT_EQ(loaded->Unused, nullptr);
    // Conversion reads the same groups: it must not run past what the loader handed out.
    void* converted = OrvaneConvertTree(tree.Type, tree.Object, g_wideType);
    ASSERT_NE(converted, nullptr);
    EXPECT_EQ(static_cast<Wide*>(converted)->References[0].Items[3]->Value, 13);
    OrvaneFreeBuilderResult(converted);
    OrvaneFreeFile(file);
}

}  // namespace

// The data tree writer: trees holding every standard content type, with shared objects,
// variants, extended data, type tables, strings and mixed-width objects, written in both byte
// orders and with each codec, read back with the format primitives and compared member by
// member through the type descriptions; sections, flags, the string callback and the item map.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testing/example_content.h"
#include "file/file_builder_support.h"
#include "file/offline/orvane_file_builder.h"
#include "orvane/file.h"
#include "orvane/file_builder.h"
#include "orvane/data_tree_writer.h"
#include "orvane/types.h"
#include "support/log_capture.h"

namespace {

using orvane_test::LoadedFile;
using orvane_test::LogCapture;
using orvane_test::TempName;
using orvane_test::TreeComparer;

using Content = orvane_example::ExampleContent;
using Def = orvane_data_type_definition;

constexpr Def Member(orvane_member_type kind, const char* name, Def* type = nullptr,
                     int32_t width = 0) {
    return {kind, name, type, width, {0, 0, 0}, 0};
}
constexpr Def End() {
    return Member(OrvaneEndMember, nullptr);
}

struct Case {
    int32_t compression;
    orvane_file_byte_order order;
};

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
    static const char* codecs[] = {"None", "Pelma0", "Pelma1"};
    return std::string(codecs[info.param.compression]) +
           (info.param.order == OrvaneBigEndianByteOrder ? "BigEndian" : "LittleEndian");
}

class TreeRoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(TreeRoundTrip, EveryStandardTypeComesBackMemberByMember) {
    LogCapture log;
    Content content;
    const std::string path = TempName("tree_" + CaseName({GetParam(), 0}) + ".ovn");
    orvane_file_data_tree_writer* writer = OrvaneBeginFileDataTreeWriting(
        OrvaneFileInfoType, content.info(), OrvaneStandardMainSection, OrvaneStandardMainSection);
    ASSERT_NE(writer, nullptr);
    OrvaneSetFileSectionForObjectsOfType(writer, OrvaneStringType,
                                         OrvaneStandardDiscardableSection);
    OrvaneSetFileSectionForObjectsOfType(writer, OrvaneVertexDataType,
                                         OrvaneStandardDeformableVertexSection);
    OrvaneSetFileSectionForObject(writer, content.pixels.data(), OrvaneStandardTextureSection);
    orvane_file_builder* builder = OrvaneBeginFile(OrvaneStandardSectionCount, 0x80000016u,
                                                   OrvaneGetTemporaryDirectory(), "tree");
    ASSERT_NE(builder, nullptr);
    OrvaneSetFileByteOrder(builder, GetParam().order);
    for (int32_t s = 0; s < OrvaneStandardSectionCount; ++s)
        OrvaneSetFileSectionFormat(builder, s, GetParam().compression, s == 3 ? 16 : 4);
    ASSERT_TRUE(OrvaneWriteDataTreeToFileBuilder(writer, builder));
    ASSERT_TRUE(OrvaneEndFile(builder, path.c_str()));
    OrvaneEndFileDataTreeWriting(writer);
    EXPECT_EQ(log.errors(), 0u) << (log.messages().empty() ? "" : log.messages()[0].text);

    LoadedFile f;
    orvane_test::LoadFile(path, &f);
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(f.reversed, orvane_test::ReversedOnThisHost(GetParam().order));
    EXPECT_EQ(f.header->CRC, f.CRC());
    for (uint32_t s = 0; s < f.header->SectionCount; ++s)
        EXPECT_EQ(f.table[s].Compression, f.table[s].ExpandedSize ? uint32_t(GetParam().compression)
                                                                  : f.table[s].Compression);
    TreeComparer compare(f);
    compare.Type(OrvaneFileInfoType, static_cast<const uint8_t*>(f.rootType));
    compare.Object(OrvaneFileInfoType, reinterpret_cast<const uint8_t*>(content.info()),
                   static_cast<const uint8_t*>(f.rootObject));
    EXPECT_GE(compare.objectCount(), 20);
    // And through the library's own loader, into native records.
    orvane_test::CompareWithLoader(path, OrvaneFileInfoType, content.info());

    // Sections as chosen: the vertex data by its type, the pixels by their address (the array
    // follows its object), strings in the discardable section, everything else in main.
    uint32_t available = 0;
    auto sectionOf = [&](const void* address) {
        for (uint32_t s = 0; s < f.header->SectionCount; ++s) {
            const uint8_t* base = f.memory[s].data();
            if (!f.memory[s].empty() && address >= base && address < base + f.table[s].ExpandedSize)
                return int32_t(s);
        }
        return -1;
    };
    const uint8_t* root = static_cast<const uint8_t*>(f.rootObject);
    EXPECT_EQ(sectionOf(root), 0);
    EXPECT_EQ(sectionOf(f.Slot(root + 8)), OrvaneStandardDiscardableSection);  // FromFileName
    const uint8_t* vertexDatas = static_cast<const uint8_t*>(f.Slot(root + 40, &available));
    const uint8_t* vertexData = static_cast<const uint8_t*>(f.Slot(vertexDatas));
    EXPECT_EQ(sectionOf(vertexData), OrvaneStandardDeformableVertexSection);
    // Its vertices are an array of a mixed type: in the 8-bit part, 16-byte aligned there.
    const uint8_t* vertices = static_cast<const uint8_t*>(f.Slot(vertexData + 8));
    EXPECT_EQ(sectionOf(vertices), OrvaneStandardDeformableVertexSection);
    EXPECT_GE(uint32_t(vertices - f.memory[3].data()), f.table[3].Start8Bit);
    EXPECT_EQ(f.table[3].Alignment, 16u);
    EXPECT_GT(f.table[OrvaneStandardTextureSection].ExpandedSize, 0u);
    EXPECT_EQ(f.table[OrvaneStandardTextureSection].ExpandedSize, 64u);
    EXPECT_EQ(f.table[1].ExpandedSize + f.table[2].ExpandedSize + f.table[7].ExpandedSize, 0u);
    std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    CodecsAndByteOrders, TreeRoundTrip,
    ::testing::Values(Case{0, OrvaneLittleEndianByteOrder}, Case{0, OrvaneBigEndianByteOrder},
                      Case{1, OrvaneLittleEndianByteOrder}, Case{1, OrvaneBigEndianByteOrder},
                      Case{2, OrvaneLittleEndianByteOrder}, Case{2, OrvaneBigEndianByteOrder}),
    CaseName);

// Writes the content into a one-section file and loads it.
struct Written {
    explicit Written(Content& content, uint32_t flags = 0,
                     orvane_file_writer_string_callback callback = nullptr, void* user = nullptr,
                     int32_t stringSection = 0) {
        path = TempName("written.ovn");
        writer = OrvaneBeginFileDataTreeWriting(OrvaneFileInfoType, content.info(), 0, 0);
        OrvaneSetFileDataTreeFlags(writer, flags);
        OrvaneSetFileWriterStringCallback(writer, callback, user);
        OrvaneSetFileSectionForObjectsOfType(writer, OrvaneStringType, stringSection);
        ok = OrvaneWriteDataTreeToFile(writer, 0x80000016u, path.c_str(), 3);
        if (ok) orvane_test::LoadFile(path, &file);
    }
    ~Written() {
        OrvaneEndFileDataTreeWriting(writer);
        std::remove(path.c_str());
    }
    std::string path;
    orvane_file_data_tree_writer* writer;
    bool ok;
    LoadedFile file;
};

TEST(FileDataTreeWriter, SharedObjectsAndEqualStringsAreWrittenOnce) {
    Content content;
    Written w(content, 0, nullptr, nullptr, 2);
    ASSERT_TRUE(w.ok && w.file.ok);
    const LoadedFile& f = w.file;
    const uint8_t* root = static_cast<const uint8_t*>(f.rootObject);
    // The mesh through FileInfo.Meshes and through the model's mesh binding.
    const void* mesh = f.Slot(f.Slot(root + 56));
    const uint8_t* model = static_cast<const uint8_t*>(f.Slot(f.Slot(root + 64)));
    const uint8_t* binding = static_cast<const uint8_t*>(f.Slot(model + 4 + 4 + 68 + 4));
    EXPECT_EQ(f.Slot(binding), mesh);
    // "Spine" is a bone name and a text track entry: one chunk; section 2 holds only strings.
    std::string strings(f.memory[2].begin(), f.memory[2].end());
    size_t first = strings.find("Spine");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(strings.find("Spine", first + 1), std::string::npos);
    EXPECT_NE(strings.find("Someone"), std::string::npos);
    TreeComparer compare(f);
    compare.Object(OrvaneFileInfoType, reinterpret_cast<const uint8_t*>(content.info()),
                   static_cast<const uint8_t*>(f.rootObject));
}

TEST(FileDataTreeWriter, AnArrayIsWrittenWholeAfterItsFirstElementWasWrittenAlone) {
    Content content;
    Written w(content);
    ASSERT_TRUE(w.ok && w.file.ok);
    const LoadedFile& f = w.file;
    const uint8_t* root = static_cast<const uint8_t*>(f.rootObject);
    const uint8_t* skeleton = static_cast<const uint8_t*>(f.Slot(f.Slot(root + 32)));
    ASSERT_NE(skeleton, nullptr);
    uint32_t available = 0;
    const uint8_t* bones = static_cast<const uint8_t*>(f.Slot(skeleton + 8, &available));
    const uint32_t boneSize = 4 + 4 + 68 + 64 + 4 + 4 + 8;
    ASSERT_GE(available, 3 * boneSize);
    EXPECT_STREQ(static_cast<const char*>(f.Slot(bones + 2 * boneSize)), "Neck");
    int32_t parent;
    std::memcpy(&parent, bones + 2 * boneSize + 4, 4);
    EXPECT_EQ(parent, 1);
}

TEST(FileDataTreeWriter, FlagsStoreEmptyTypesForTheRootAndForVariants) {
    Content content;
    Written w(content, OrvaneWriteRootTypeAsEmpty | OrvaneWriteVariantTypesAsEmpty);
    ASSERT_TRUE(w.ok && w.file.ok);
    const LoadedFile& f = w.file;
    uint32_t kind;
    std::memcpy(&kind, f.rootType, 4);
    EXPECT_EQ(kind, uint32_t(OrvaneEndMember));
    TreeComparer compare(f);
    compare.typesAsEmptyForVariants = true;
    compare.Object(OrvaneFileInfoType, reinterpret_cast<const uint8_t*>(content.info()),
                   static_cast<const uint8_t*>(f.rootObject));
}

std::map<const char*, uint32_t>* g_ids = nullptr;

uint32_t StringId(void* user, const char* text) {
    auto* ids = static_cast<std::map<std::string, uint32_t>*>(user);
    uint32_t id = ids->emplace(text ? text : "", uint32_t(ids->size() + 1)).first->second;
    (*g_ids)[text] = id;
    return id;
}

TEST(FileDataTreeWriter, AStringCallbackReplacesStringsAndLeavesTheTreeUntouched) {
    Content content;
    std::map<std::string, uint32_t> ids;
    std::map<const char*, uint32_t> byPointer;
    g_ids = &byPointer;
    Written w(content, 0, &StringId, &ids, 2);
    ASSERT_TRUE(w.ok && w.file.ok);
    const LoadedFile& f = w.file;
    EXPECT_EQ(f.table[2].ExpandedSize, 0u);  // no string chunks at all
    TreeComparer compare(f);
    compare.callbackValues = &byPointer;
    compare.Type(OrvaneFileInfoType, static_cast<const uint8_t*>(f.rootType));
    // The track group's flag bit 2 is cleared in the file only.
    EXPECT_EQ(content.trackGroup.AccumulationFlags, 3);
    EXPECT_STREQ(content.bones[1].Name, "Spine");
    EXPECT_STREQ(OrvaneFileInfoType[0].Name, "ArtToolInfo");
    const uint8_t* root = static_cast<const uint8_t*>(f.rootObject);
    const uint8_t* group = static_cast<const uint8_t*>(f.Slot(f.Slot(root + 72)));
    ASSERT_NE(group, nullptr);
    int32_t flags;
    std::memcpy(&flags, group + 4 + 8 + 8 + 8 + 8 + 68, 4);
    EXPECT_EQ(flags, 1);
    // Everything else is as in memory, strings as their ids.
    content.trackGroup.AccumulationFlags = 1;
    compare.Object(OrvaneFileInfoType, reinterpret_cast<const uint8_t*>(content.info()),
                   static_cast<const uint8_t*>(f.rootObject));
    g_ids = nullptr;
}

TEST(FileDataTreeWriter, MixedObjectsGetAMarshallingFixupAndPure32BitOnesNone) {
    Content content;
    Written w(content);
    ASSERT_TRUE(w.ok && w.file.ok);
    const LoadedFile& f = w.file;
    auto fixups = f.MarshallingFixups(0);
    // The vertex array (count 8), the twelve curve data records (each starts with byte
    // fields), and the texture's switchable choice object; the bone array holds only 32-bit
    // members and pointers: none.
    std::map<uint32_t, uint32_t> counts;
    for (auto& m : fixups)
        ++counts[m.Count];
    EXPECT_EQ(counts[8], 1u);
    EXPECT_EQ(counts[1], 13u);
    EXPECT_EQ(fixups.size(), 14u);
    for (auto& m : fixups) {
        EXPECT_GE(m.ObjectOffset, f.table[0].Start8Bit);
        EXPECT_LT(m.Type.Offset, f.table[0].Start16Bit);
    }
}

TEST(FileDataTreeWriter, WritingTwiceWritesEverythingTwice) {
    Content content;
    orvane_file_data_tree_writer* writer =
        OrvaneBeginFileDataTreeWriting(OrvaneFileInfoType, content.info(), 0, 0);
    ASSERT_NE(writer, nullptr);
    std::string paths[2] = {TempName("twice0.ovn"), TempName("twice1.ovn")};
    for (auto& path : paths) {
        orvane_file_builder* b =
            OrvaneBeginFile(1, 0x80000016u, OrvaneGetTemporaryDirectory(), "x");
        ASSERT_TRUE(OrvaneWriteDataTreeToFileBuilder(writer, b));
        ASSERT_TRUE(OrvaneEndFile(b, path.c_str()));
    }
    OrvaneEndFileDataTreeWriting(writer);
    EXPECT_EQ(orvane_test::ReadBytes(paths[0]), orvane_test::ReadBytes(paths[1]));
    for (auto& path : paths) {
        LoadedFile f;
        orvane_test::LoadFile(path, &f);
        ASSERT_TRUE(f.ok);
        TreeComparer compare(f);
        compare.Object(OrvaneFileInfoType, reinterpret_cast<const uint8_t*>(content.info()),
                       static_cast<const uint8_t*>(f.rootObject));
        std::remove(path.c_str());
    }
}

// A root of 140000 distinct objects: the item table grows past its traditional 131072.
TEST(FileDataTreeWriter, TheItemTableGrowsBeyond131072Items) {
    static Def root[] = {Member(OrvaneArrayOfReferencesMember, "Values", nullptr), End()};
    root[0].ReferenceType = OrvaneInt32Type;
    const int32_t n = 140000;
    std::vector<int32_t> values(n);
    std::vector<int32_t*> pointers(n);
    for (int32_t i = 0; i < n; ++i) {
        values[i] = i * 3;
        pointers[i] = &values[i];
    }
#pragma pack(push, 4)
    struct {
        int32_t count;
        int32_t** pointers;
    } object = {n, pointers.data()};
#pragma pack(pop)
    orvane_file_data_tree_writer* writer = OrvaneBeginFileDataTreeWriting(root, &object, 0, 0);
    std::string path = TempName("many.ovn");
    ASSERT_TRUE(OrvaneWriteDataTreeToFile(writer, 0, path.c_str(), 1));
    EXPECT_GT(orvane::GetFileDataTreeWriterItemCount(writer), n);
    OrvaneEndFileDataTreeWriting(writer);
    LoadedFile f;
    orvane_test::LoadFile(path, &f);
    ASSERT_TRUE(f.ok);
    TreeComparer compare(f);
    compare.Object(root, reinterpret_cast<const uint8_t*>(&object),
                   static_cast<const uint8_t*>(f.rootObject));
    EXPECT_EQ(compare.objectCount(), n + 1);
    std::remove(path.c_str());
}

// Writes a tree of the given description into a one-section file and loads it.
struct WrittenTree {
    WrittenTree(Def* type, void* object, orvane_file_writer_string_callback callback = nullptr,
                void* user = nullptr) {
        path = TempName("written_tree.ovn");
        orvane_file_data_tree_writer* writer = OrvaneBeginFileDataTreeWriting(type, object, 0, 0);
        OrvaneSetFileWriterStringCallback(writer, callback, user);
        ok = OrvaneWriteDataTreeToFile(writer, 0, path.c_str(), 1);
        OrvaneEndFileDataTreeWriting(writer);
        if (ok) orvane_test::LoadFile(path, &file);
    }
    ~WrittenTree() { std::remove(path.c_str()); }
    uint32_t Word(const void* at) const {
        uint32_t v;
        std::memcpy(&v, at, 4);
        return v;
    }
    std::string path;
    bool ok;
    LoadedFile file;
};

uint32_t NameHash(void*, const char* text) {
    uint32_t h = 2166136261u;
    for (const char* c = text ? text : ""; *c; ++c)
        h = (h ^ uint8_t(*c)) * 16777619u;
    return h;
}

// Every record of a written description keeps its name, the terminating record's included.
TEST(FileDataTreeWriter, TheTerminatingRecordOfADescriptionKeepsItsName) {
    static Def type[] = {Member(OrvaneInt32Member, "Value"), Member(OrvaneEndMember, "Tail")};
    int32_t value = 7;
    {
        WrittenTree w(type, &value);
        ASSERT_TRUE(w.ok && w.file.ok);
        const uint8_t* records = static_cast<const uint8_t*>(w.file.rootType);
        ASSERT_NE(records, nullptr);
        EXPECT_EQ(w.Word(records + 32), uint32_t(OrvaneEndMember));
        EXPECT_STREQ(static_cast<const char*>(w.file.Slot(records + 4)), "Value");
        EXPECT_STREQ(static_cast<const char*>(w.file.Slot(records + 32 + 4)), "Tail");
    }
    {
        // With a string callback every record's name slot holds the callback's value.
        WrittenTree w(type, &value, &NameHash, nullptr);
        ASSERT_TRUE(w.ok && w.file.ok);
        const uint8_t* records = static_cast<const uint8_t*>(w.file.rootType);
        ASSERT_NE(records, nullptr);
        EXPECT_EQ(w.Word(records + 4), NameHash(nullptr, "Value"));
        EXPECT_EQ(w.Word(records + 32 + 4), NameHash(nullptr, "Tail"));
    }
}

// A pointer that the writer does not follow (an empty array, a reference without a referenced
// type, a variant without a type, a plain member's unused ReferenceType) reads back as null, never
// as some other object of the file.
TEST(FileDataTreeWriter, PointersThatAreNotWrittenReadBackAsNull) {
    static Def type[] = {
        Member(OrvaneStringMember, "Name"),       Member(OrvaneReferenceToArrayMember, "Items"),
        Member(OrvaneReferenceMember, "Untyped"), Member(OrvaneVariantReferenceMember, "Variant"),
        Member(OrvaneInt32Member, "Plain"),       End()};
    type[1].ReferenceType = OrvaneInt32Type;
    type[4].ReferenceType = OrvaneInt32Type;
    int32_t elsewhere[2] = {11, 12};
#pragma pack(push, 4)
    struct {
        const char* name;
        int32_t itemCount;
        int32_t* items;
        void* untyped;
        void* variantType;
        void* variantObject;
        int32_t plain;
    } object = {"root", 0, elsewhere, elsewhere, nullptr, elsewhere, 5};
#pragma pack(pop)
    WrittenTree w(type, &object);
    ASSERT_TRUE(w.ok && w.file.ok);
    const uint8_t* root = static_cast<const uint8_t*>(w.file.rootObject);
    ASSERT_NE(root, nullptr);
    EXPECT_STREQ(static_cast<const char*>(w.file.Slot(root)), "root");
    EXPECT_EQ(w.Word(root + 4), 0u);
    EXPECT_EQ(w.file.Slot(root + 8), nullptr);
    EXPECT_EQ(w.file.Slot(root + 12), nullptr);
    EXPECT_EQ(w.file.Slot(root + 16), nullptr);
    EXPECT_EQ(w.file.Slot(root + 20), nullptr);
    EXPECT_EQ(w.Word(root + 24), 5u);
    const uint8_t* records = static_cast<const uint8_t*>(w.file.rootType);
    ASSERT_NE(records, nullptr);
    EXPECT_EQ(w.file.Slot(records + 4 * 32 + 8), nullptr);
}

// A chunk that the builder refuses leaves the tree incomplete: the write reports it.
TEST(FileDataTreeWriter, AWriteIntoASectionTheBuilderLacksFails) {
    Content content;
    auto attempt = [&](auto configure) {
        LogCapture log;
        orvane_file_data_tree_writer* writer =
            OrvaneBeginFileDataTreeWriting(OrvaneFileInfoType, content.info(), 0, 0);
        configure(writer);
        orvane_file_builder* builder =
            OrvaneBeginFile(2, 0x80000016u, OrvaneGetTemporaryDirectory(), "refused");
        EXPECT_FALSE(OrvaneWriteDataTreeToFileBuilder(writer, builder));
        EXPECT_TRUE(log.Contains("InSectionIndex 5 is out of range [0, 2)"));
        OrvaneAbortFile(builder);
        OrvaneEndFileDataTreeWriting(writer);
    };
    attempt([](orvane_file_data_tree_writer* w) {
        OrvaneSetFileSectionForObjectsOfType(w, OrvaneStringType, 5);
    });
    attempt([&](orvane_file_data_tree_writer* w) {
        OrvaneSetFileSectionForObject(w, &content.skeleton, 5);
    });
    attempt([&](orvane_file_data_tree_writer* w) {
        OrvaneSetFileSectionForObject(w, content.pixels.data(), 5);
    });
    // Descriptions in a section the builder lacks.
    LogCapture log;
    orvane_file_data_tree_writer* writer =
        OrvaneBeginFileDataTreeWriting(OrvaneFileInfoType, content.info(), 5, 0);
    orvane_file_builder* builder =
        OrvaneBeginFile(2, 0x80000016u, OrvaneGetTemporaryDirectory(), "refused");
    EXPECT_FALSE(OrvaneWriteDataTreeToFileBuilder(writer, builder));
    OrvaneAbortFile(builder);
    OrvaneEndFileDataTreeWriting(writer);
    // The same writer into a builder that has the sections succeeds.
    writer = OrvaneBeginFileDataTreeWriting(OrvaneFileInfoType, content.info(), 1, 0);
    builder = OrvaneBeginFile(2, 0x80000016u, OrvaneGetTemporaryDirectory(), "refused");
    EXPECT_TRUE(OrvaneWriteDataTreeToFileBuilder(writer, builder));
    OrvaneAbortFile(builder);
    OrvaneEndFileDataTreeWriting(writer);
}

TEST(FileDataTreeWriter, FailuresAreReported) {
    LogCapture log;
    EXPECT_FALSE(OrvaneWriteDataTreeToFileBuilder(nullptr, nullptr));
    OrvaneEndFileDataTreeWriting(nullptr);
    Content content;
    orvane_file_data_tree_writer* writer =
        OrvaneBeginFileDataTreeWriting(OrvaneFileInfoType, content.info(), 0, 0);
    EXPECT_FALSE(OrvaneWriteDataTreeToFile(writer, 0, "/no/such/dir/file.ovn", 1));
    EXPECT_TRUE(log.Contains("Unable to write buffer to file"));
    // A section that the builder lacks is reported by the builder.
    log.Clear();
    OrvaneEndFileDataTreeWriting(writer);
    writer = OrvaneBeginFileDataTreeWriting(OrvaneFileInfoType, content.info(), 0, 0);
    OrvaneSetFileSectionForObjectsOfType(writer, OrvaneStringType, 5);
    std::string path = TempName("ranges.ovn");
    OrvaneWriteDataTreeToFile(writer, 0, path.c_str(), 1);
    EXPECT_TRUE(log.Contains("InSectionIndex 5 is out of range [0, 1)"));
    OrvaneEndFileDataTreeWriting(writer);
    std::remove(path.c_str());
}

}  // namespace

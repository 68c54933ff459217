// The record accessor and the walks in both layouts, over native records and over 32-byte file
// records whose pointer slots hold handles, including hostile file descriptions.
#include <cstdint>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "orvane/types.h"
#include "types/orvane_type_layout.h"

using namespace orvane;

namespace {

constexpr TypeRecords kNative = TypeRecords::Native();
constexpr int32_t P = static_cast<int32_t>(sizeof(void*));

// A loaded section of 32-byte records whose pointer slots hold 1-based handles into a table of
// native addresses, as a 64-bit loader keeps them.
class FileSection {
public:
    // Appends a record; `name` and `type` go through the handle table. Returns its index.
    int Add(int32_t kind, const char* name, const void* type, int32_t width) {
        unsigned char record[32] = {};
        std::memcpy(record + 0, &kind, 4);
        uint32_t nameHandle = Handle(name), typeHandle = Handle(type);
        std::memcpy(record + 4, &nameHandle, 4);
        std::memcpy(record + 8, &typeHandle, 4);
        std::memcpy(record + 12, &width, 4);
        bytes_.insert(bytes_.end(), record, record + 32);
        return static_cast<int>(bytes_.size() / 32 - 1);
    }
    // Points the ReferenceType slot of record `index` at record `target` of this section.
    void Link(int index, int target) { links_.push_back({index, target}); }
    // Resolves the links once the section has stopped growing.
    void Seal() {
        for (auto [index, target] : links_) {
            uint32_t handle = Handle(Record(target));
            std::memcpy(&bytes_[index * 32 + 8], &handle, 4);
        }
    }
    const void* Record(int index) const { return bytes_.data() + 32 * index; }
    TypeRecords Records() {
        return TypeRecords::File(&FileSection::Resolve, &FileSection::InBounds, this);
    }
    std::vector<unsigned char>& bytes() { return bytes_; }

private:
    uint32_t Handle(const void* p) {
        if (p == nullptr) return 0;
        table_.push_back(p);
        return static_cast<uint32_t>(table_.size());
    }
    static const void* Resolve(void* context, const void* slot) {
        auto* self = static_cast<FileSection*>(context);
        uint32_t handle;
        std::memcpy(&handle, slot, 4);
        if (handle == 0 || handle > self->table_.size()) return nullptr;
        return self->table_[handle - 1];
    }
    static bool InBounds(void* context, const void* record) {
        auto* self = static_cast<FileSection*>(context);
        auto* p = static_cast<const unsigned char*>(record);
        return p >= self->bytes_.data() && p + 32 <= self->bytes_.data() + self->bytes_.size();
    }
    std::vector<unsigned char> bytes_;
    std::vector<const void*> table_;
    std::vector<std::pair<int, int>> links_;
};

TEST(MemberKinds, UnitSizesInBothLayouts) {
    const int32_t file[] = {0, 0, 4, 8, 8, 8, 8, 12, 4, 68, 4, 1, 1, 1, 1, 2, 2, 2, 2, 4, 4};
    const int32_t native[] = {0, 0, P, 4 + P, 4 + P, 2 * P, 4 + P, 2 * P + 4, P, 68, 4,
                              1, 1, 1, 1,     2,     2,     2,     2,         4, 4};
    for (int32_t kind = 0; kind < OrvaneOnePastLastMemberType; ++kind) {
        EXPECT_EQ(MemberUnitSize(kind, DataLayout::File), file[kind]) << kind;
        EXPECT_EQ(MemberUnitSize(kind, DataLayout::Native), native[kind]) << kind;
    }
    EXPECT_EQ(MemberUnitSize(-1, DataLayout::File), 0);
    EXPECT_EQ(MemberUnitSize(21, DataLayout::Native), 0);
    EXPECT_EQ(GetMemberKindInfo(21), nullptr);
}

TEST(MemberKinds, SlotsMatchTheNativeStructs) {
    MemberSlots variant = GetMemberSlots(OrvaneVariantReferenceMember, DataLayout::Native);
    EXPECT_EQ(variant.type, int32_t(offsetof(orvane_variant, Type)));
    EXPECT_EQ(variant.pointer, int32_t(offsetof(orvane_variant, Object)));
    MemberSlots array = GetMemberSlots(OrvaneReferenceToVariantArrayMember, DataLayout::File);
    EXPECT_EQ(array.type, 0);
    EXPECT_EQ(array.count, 4);
    EXPECT_EQ(array.pointer, 8);
    MemberSlots value = GetMemberSlots(OrvaneReal32Member, DataLayout::File);
    EXPECT_EQ(value.count, -1);
    EXPECT_EQ(value.pointer, -1);
    EXPECT_EQ(value.type, -1);
}

// {Int32 a; Inline {Int16 b[2]; String s}; ReferenceToArray c; UInt8 d[3]; Variant v}
struct Mixed {
    orvane_data_type_definition inner[3] = {{OrvaneInt16Member, "b", nullptr, 2, {0, 0, 0}, 0},
                                            {OrvaneStringMember, "s", nullptr, 0, {0, 0, 0}, 0},
                                            {OrvaneEndMember, nullptr, nullptr, 0, {0, 0, 0}, 0}};
    orvane_data_type_definition outer[6] = {
        {OrvaneInt32Member, "a", nullptr, 0, {0, 0, 0}, 0},
        {OrvaneInlineMember, "in", inner, 7, {0, 0, 0}, 0},
        {OrvaneReferenceToArrayMember, "c", OrvaneInt32Type, 0, {0, 0, 0}, 0},
        {OrvaneUInt8Member, "d", nullptr, 3, {0, 0, 0}, 0},
        {OrvaneVariantReferenceMember, "v", nullptr, 0, {0, 0, 0}, 0},
        {OrvaneEndMember, nullptr, nullptr, 0, {0, 0, 0}, 0}};
};

TEST(NativeRecords, SizesOffsetsAndLookupsPerLayout) {
    Mixed m;
    int32_t size = 0;
    ASSERT_TRUE(GetObjectSize(kNative, DataLayout::File, m.outer, &size));
    EXPECT_EQ(size, 4 + (4 + 4) + 8 + 3 + 8);
    ASSERT_TRUE(GetObjectSize(kNative, DataLayout::Native, m.outer, &size));
    EXPECT_EQ(size, 4 + (4 + P) + (4 + P) + 3 + 2 * P);
    int32_t offset = 0;
    ASSERT_TRUE(GetMemberOffset(kNative, DataLayout::Native, m.outer, &m.outer[3], &offset));
    EXPECT_EQ(offset, 4 + 4 + P + 4 + P);
    ASSERT_TRUE(GetMemberOffset(kNative, DataLayout::File, m.outer, &m.outer[5], &offset));
    EXPECT_EQ(offset, 31);
    EXPECT_FALSE(GetMemberOffset(kNative, DataLayout::File, m.outer, &m.inner[0], &offset));
    const void* found = nullptr;
    ASSERT_TRUE(FindMemberByName(kNative, DataLayout::File, m.outer, "v", &found, &offset));
    EXPECT_EQ(found, &m.outer[4]);
    EXPECT_EQ(offset, 23);
    ASSERT_TRUE(FindMemberByName(kNative, DataLayout::File, m.outer, "zz", &found, &offset));
    EXPECT_EQ(found, nullptr);
    int32_t count = 0;
    ASSERT_TRUE(GetTypeRecordCount(kNative, m.outer, &count));
    EXPECT_EQ(count, 6);
    uint32_t flags = 0;
    ASSERT_TRUE(GetObjectMarshalling(kNative, m.outer, &flags));
    EXPECT_EQ(flags, kSwap32Marshalling | kSwap16Marshalling | kByteMarshalling);
}

// The same description as file records: the walks must give the same answers without any
// conversion of the records.
TEST(FileRecords, WalksMatchTheNativeDescription) {
    FileSection section;
    int inner = section.Add(OrvaneInt16Member, "b", nullptr, 2);
    section.Add(OrvaneStringMember, "s", nullptr, 0);
    section.Add(OrvaneEndMember, nullptr, nullptr, 0);
    int elementType = section.Add(OrvaneInt32Member, "Int32", nullptr, 0);
    section.Add(OrvaneEndMember, nullptr, nullptr, 0);
    int outer = section.Add(OrvaneInt32Member, "a", nullptr, 0);
    int in = section.Add(OrvaneInlineMember, "in", nullptr, 7);
    int c = section.Add(OrvaneReferenceToArrayMember, "c", nullptr, 0);
    section.Add(OrvaneUInt8Member, "d", nullptr, 3);
    int v = section.Add(OrvaneVariantReferenceMember, "v", nullptr, 0);
    section.Add(OrvaneEndMember, nullptr, nullptr, 0);
    section.Link(in, inner);
    section.Link(c, elementType);
    section.Seal();
    TypeRecords records = section.Records();
    const void* type = section.Record(outer);

    Mixed m;
    for (DataLayout layout : {DataLayout::File, DataLayout::Native}) {
        int32_t fileSize = 0, nativeSize = 0;
        ASSERT_TRUE(GetObjectSize(records, layout, type, &fileSize));
        ASSERT_TRUE(GetObjectSize(kNative, layout, m.outer, &nativeSize));
        EXPECT_EQ(fileSize, nativeSize);
    }
    EXPECT_STREQ(records.Name(section.Record(v)), "v");
    EXPECT_EQ(records.ReferenceType(section.Record(c)), section.Record(elementType));
    int32_t offset = 0;
    ASSERT_TRUE(GetMemberOffset(records, DataLayout::File, type, section.Record(v), &offset));
    EXPECT_EQ(offset, 23);
    bool pointers = false;
    ASSERT_TRUE(TypeHasPointers(records, section.Record(elementType), &pointers));
    EXPECT_FALSE(pointers);
    ASSERT_TRUE(TypeHasPointers(records, type, &pointers));
    EXPECT_TRUE(pointers);

    // Reverse two file objects: 32-bit members and counts swap as words, 16-bit members as
    // halves, bytes and the variant's pointer slots stay.
    unsigned char data[2][31];
    for (int i = 0; i < 31; ++i)
        data[0][i] = data[1][i] = static_cast<unsigned char>(i);
    ASSERT_TRUE(ReverseObjects(records, DataLayout::File, type, 2, data, sizeof data));
    const unsigned char expected[31] = {3,  2,  1,  0,  5,  4,  7,  6,  8,  9,  10,
                                        11, 15, 14, 13, 12, 19, 18, 17, 16, 20, 21,
                                        22, 23, 24, 25, 26, 27, 28, 29, 30};
    EXPECT_EQ(0, std::memcmp(data[0], expected, 31));
    EXPECT_EQ(0, std::memcmp(data[1], expected, 31));
    // Too little room: nothing is touched.
    EXPECT_FALSE(ReverseObjects(records, DataLayout::File, type, 2, data, 61));
    EXPECT_EQ(0, std::memcmp(data[0], expected, 31));
}

// The cursor that moves objects between layouts: offsets in both, sizes at the end.
TEST(LayoutCursor, GivesBothLayoutsAndEndsAtTheObjectSizes) {
    Mixed m;
    const int32_t fileOffsets[] = {0, 4, 12, 20, 23};
    const int32_t nativeOffsets[] = {0, 4, 8 + P, 12 + 2 * P, 15 + 2 * P};
    LayoutCursor c(kNative, m.outer);
    int i = 0;
    for (; c.Valid(); c.Advance(), ++i) {
        ASSERT_LT(i, 5);
        EXPECT_EQ(c.record, &m.outer[i]);
        EXPECT_EQ(c.kind, m.outer[i].Type);
        EXPECT_EQ(c.fileOffset, fileOffsets[i]);
        EXPECT_EQ(c.nativeOffset, nativeOffsets[i]);
    }
    EXPECT_EQ(i, 5);
    EXPECT_FALSE(c.Failed());
    EXPECT_EQ(c.fileOffset, 31);
    EXPECT_EQ(c.nativeOffset, 15 + 4 * P);

    FileSection section;  // unterminated
    int first = section.Add(OrvaneInt32Member, "x", nullptr, 0);
    LayoutCursor bad(section.Records(), section.Record(first));
    EXPECT_TRUE(bad.Valid());
    bad.Advance();
    EXPECT_FALSE(bad.Valid());
    EXPECT_TRUE(bad.Failed());
}

TEST(FileRecords, HostileDescriptionsFailInsteadOfRunningAway) {
    int32_t size = 0;
    {  // An inline member that embeds its own description.
        FileSection section;
        int self = section.Add(OrvaneInlineMember, "x", nullptr, 0);
        section.Add(OrvaneEndMember, nullptr, nullptr, 0);
        section.Link(self, self);
        section.Seal();
        EXPECT_FALSE(
            GetObjectSize(section.Records(), DataLayout::File, section.Record(self), &size));
        uint32_t flags;
        EXPECT_FALSE(GetObjectMarshalling(section.Records(), section.Record(self), &flags));
    }
    {  // No terminator before the end of the section.
        FileSection section;
        int first = section.Add(OrvaneInt32Member, "x", nullptr, 0);
        section.Add(OrvaneInt32Member, "y", nullptr, 0);
        EXPECT_FALSE(
            GetObjectSize(section.Records(), DataLayout::File, section.Record(first), &size));
        int32_t count = 0;
        EXPECT_FALSE(GetTypeRecordCount(section.Records(), section.Record(first), &count));
    }
    {  // A kind outside the table, a negative width, a width whose size overflows.
        for (auto [kind, width] :
             {std::pair{99, 0}, {OrvaneInt32Member, -1}, {OrvaneTransformMember, 0x7FFFFFFF}}) {
            FileSection section;
            int first = section.Add(kind, "x", nullptr, width);
            section.Add(OrvaneEndMember, nullptr, nullptr, 0);
            EXPECT_FALSE(
                GetObjectSize(section.Records(), DataLayout::File, section.Record(first), &size));
        }
    }
    {  // Forty levels that each embed the next level twice: 2^40 visits unless bounded.
        FileSection section;
        int bottom = section.Add(OrvaneEndMember, nullptr, nullptr, 0);
        int below = bottom;
        for (int level = 0; level < 40; ++level) {
            int a = section.Add(OrvaneInlineMember, "a", nullptr, 0);
            int b = section.Add(OrvaneInlineMember, "b", nullptr, 0);
            section.Add(OrvaneEndMember, nullptr, nullptr, 0);
            section.Link(a, below);
            section.Link(b, below);
            below = a;
        }
        section.Seal();
        EXPECT_FALSE(
            GetObjectSize(section.Records(), DataLayout::File, section.Record(below), &size));
        unsigned char data[4];
        EXPECT_FALSE(
            ReverseObjects(section.Records(), DataLayout::File, section.Record(below), 1, data, 4));
    }
}

TEST(FileRecords, EmptyValuesFollowTheLayout) {
    orvane_data_type_definition type[] = {{OrvaneStringMember, "s", nullptr, 0, {0, 0, 0}, 0},
                                          {OrvaneTransformMember, "t", nullptr, 2, {0, 0, 0}, 0},
                                          {OrvaneEndMember, nullptr, nullptr, 0, {0, 0, 0}, 0}};
    std::vector<unsigned char> object(200, 0xAB);
    int32_t written = 0;
    ASSERT_TRUE(MakeEmptyObject(kNative, DataLayout::File, type, object.data(), &written));
    EXPECT_EQ(written, 4 + 136);
    orvane_transform t[2];
    std::memcpy(t, object.data() + 4, sizeof t);
    for (const orvane_transform& x : t) {
        EXPECT_EQ(x.Flags, 0u);
        EXPECT_EQ(x.Orientation[3], 1.0f);
        EXPECT_EQ(x.ScaleShear[1][1], 1.0f);
        EXPECT_EQ(x.ScaleShear[0][1], 0.0f);
    }
    EXPECT_EQ(object[0], 0);
    EXPECT_EQ(object[140], 0xAB);
}

}  // namespace

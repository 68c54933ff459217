// The variant builder, its results read back through the type queries and the member iterator.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "orvane/types.h"
#include "orvane/variant_builder.h"
#include "support/log_capture.h"
#include "types/orvane_member_iterator.h"

using orvane::MemberIterator;
using orvane_test::LogCapture;

namespace {

constexpr int32_t P = static_cast<int32_t>(sizeof(void*));

class VariantBuilder : public ::testing::Test {
protected:
    void SetUp() override { strings_ = OrvaneNewStringTable(); }
    void TearDown() override { OrvaneFreeStringTable(strings_); }
    orvane_string_table* strings_ = nullptr;
};

TEST_F(VariantBuilder, NoMembersGivesATerminatorAndAFourByteObject) {
    orvane_variant_builder* b = OrvaneBeginVariant(strings_);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(OrvaneGetResultingVariantTypeSize(b), int32_t(sizeof(orvane_data_type_definition)));
    EXPECT_EQ(OrvaneGetResultingVariantObjectSize(b), 4);
    orvane_data_type_definition* type = nullptr;
    void* object = nullptr;
    ASSERT_TRUE(OrvaneEndVariant(b, &type, &object));
    EXPECT_EQ(type->Type, OrvaneEndMember);
    EXPECT_EQ(+type->Name, nullptr);
    EXPECT_EQ(+type->TraversalMark, 0u);
    EXPECT_EQ(OrvaneGetTotalObjectSize(type), 0);
    EXPECT_EQ(*static_cast<orvane_int32*>(object), 0);
    OrvaneFreeBuilderResult(type);
}

TEST_F(VariantBuilder, MembersInOrderWithInternedNamesAndStrings) {
    orvane_variant_builder* b = OrvaneBeginVariant(strings_);
    char text[] = "left";
    EXPECT_EQ(OrvaneAddScalarMember(b, "Weight", 0.5f), b);
    EXPECT_EQ(OrvaneAddStringMember(b, "Tag", text), b);
    EXPECT_EQ(OrvaneAddIntegerMember(b, "Count", 3), b);
    EXPECT_EQ(OrvaneGetResultingVariantObjectSize(b), 8 + P);
    EXPECT_EQ(OrvaneGetResultingVariantTypeSize(b),
              4 * int32_t(sizeof(orvane_data_type_definition)));
    orvane_data_type_definition* type = nullptr;
    void* object = nullptr;
    ASSERT_TRUE(OrvaneEndVariant(b, &type, &object));
    EXPECT_EQ(type[0].Type, OrvaneReal32Member);
    EXPECT_EQ(type[1].Type, OrvaneStringMember);
    EXPECT_EQ(type[2].Type, OrvaneInt32Member);
    EXPECT_EQ(type[3].Type, OrvaneEndMember);
    EXPECT_STREQ(type[0].Name, "Weight");
    EXPECT_STREQ(type[1].Name, "Tag");
    EXPECT_STREQ(type[2].Name, "Count");
    EXPECT_EQ(+type[0].Name, OrvaneMapString(strings_, "Weight"));  // interned
    EXPECT_EQ(OrvaneGetTotalObjectSize(type), 8 + P);

    // Read back through the iterator, which is how the conversion code sees it.
    MemberIterator it = MemberIterator::OverMembers(type, object);
    ASSERT_TRUE(it.Valid());
    float weight;
    std::memcpy(&weight, it.data, 4);
    EXPECT_EQ(weight, 0.5f);
    it.Advance();
    ASSERT_TRUE(it.Valid());
    EXPECT_EQ(it.kind, OrvaneStringMember);
    const char* tag = static_cast<const char*>(it.Pointer());
    EXPECT_STREQ(tag, "left");
    EXPECT_NE(tag, text);
    EXPECT_EQ(tag, OrvaneMapString(strings_, "left"));
    it.Advance();
    int32_t count;
    std::memcpy(&count, it.data, 4);
    EXPECT_EQ(count, 3);
    it.Advance();
    EXPECT_FALSE(it.Valid());
    OrvaneFreeBuilderResult(type);
}

TEST_F(VariantBuilder, ArraysAndReferences) {
    float values[3] = {1, 2, 3};
    orvane_int32 elements[4] = {7, 8, 9, 10};
    orvane_transform target = {};
    orvane_variant_builder* b = OrvaneBeginVariant(strings_);
    OrvaneAddScalarArrayMember(b, "Color", 3, values);
    OrvaneAddReferenceMember(b, "Target", OrvaneTransformType, &target);
    OrvaneAddDynamicArrayMember(b, "Indices", 4, OrvaneInt32Type, elements);
    OrvaneAddScalarArrayMember(b, "Zero", 0, nullptr);
    orvane_data_type_definition* type = nullptr;
    void* object = nullptr;
    ASSERT_TRUE(OrvaneEndVariant(b, &type, &object));
    EXPECT_EQ(type[0].ArrayWidth, 3);
    EXPECT_EQ(+type[1].ReferenceType, OrvaneTransformType);
    EXPECT_EQ(type[2].Type, OrvaneReferenceToArrayMember);
    EXPECT_EQ(+type[2].ReferenceType, OrvaneInt32Type);
    EXPECT_EQ(type[3].ArrayWidth, 0);
    EXPECT_EQ(OrvaneGetTotalObjectSize(type), 12 + P + 4 + P + 4);

    MemberIterator it = MemberIterator::OverMembers(type, object);
    EXPECT_EQ(std::memcmp(it.data, values, 12), 0);
    it.Advance();
    EXPECT_EQ(it.Pointer(), &target);
    EXPECT_EQ(it.SubMembers().kind, OrvaneTransformMember);
    it.Advance();
    EXPECT_EQ(it.Count(), 4);
    EXPECT_EQ(it.ArrayPointer(), elements);
    int sum = 0;
    for (MemberIterator e = it.SubArray(); e.Valid(); e.Advance()) {
        int32_t v;
        std::memcpy(&v, e.data, 4);
        sum += v;
    }
    EXPECT_EQ(sum, 34);
    it.Advance();
    float zero = -1;
    std::memcpy(&zero, it.data, 4);
    EXPECT_EQ(zero, 0.0f);  // a width of 0 still holds one real, written as 0
    OrvaneFreeBuilderResult(type);
}

TEST_F(VariantBuilder, InPlaceNeedsBothMemoriesAndAlwaysReleasesTheBuilder) {
    orvane_variant_builder* b = OrvaneBeginVariant(strings_);
    OrvaneAddIntegerMember(b, "A", 1);
    unsigned char typeMemory[256];
    orvane_data_type_definition* type = reinterpret_cast<orvane_data_type_definition*>(1);
    void* object = &type;
    EXPECT_FALSE(OrvaneEndVariantInPlace(b, typeMemory, &type, nullptr, &object));
    EXPECT_EQ(type, nullptr);
    EXPECT_EQ(object, nullptr);
    // (the leak check at the end of the program proves the builder was freed)

    b = OrvaneBeginVariant(strings_);
    OrvaneAddIntegerMember(b, "A", 41);
    std::memset(typeMemory, 0xCD, sizeof typeMemory);
    orvane_int32 objectMemory = 0;
    ASSERT_EQ(OrvaneGetResultingVariantObjectSize(b), 4);
    ASSERT_TRUE(OrvaneEndVariantInPlace(b, typeMemory, &type, &objectMemory, &object));
    EXPECT_EQ(static_cast<void*>(type), static_cast<void*>(typeMemory));
    EXPECT_EQ(object, &objectMemory);
    EXPECT_EQ(objectMemory, 41);
    // The whole terminator is written, not only its kind.
    EXPECT_EQ(type[1].Type, OrvaneEndMember);
    EXPECT_EQ(+type[1].Name, nullptr);
    EXPECT_EQ(+type[1].ReferenceType, nullptr);
    EXPECT_EQ(+type[1].TraversalMark, 0u);
    EXPECT_FALSE(OrvaneEndVariantInPlace(nullptr, typeMemory, &type, &objectMemory, &object));
    EXPECT_EQ(type, nullptr);
}

TEST_F(VariantBuilder, RefusedAddsLeaveTheBuilderUnchanged) {
    LogCapture log;
    EXPECT_EQ(OrvaneBeginVariant(nullptr), nullptr);
    orvane_variant_builder* b = OrvaneBeginVariant(strings_);
    OrvaneAddIntegerMember(b, "A", 1);
    const int32_t size = OrvaneGetResultingVariantObjectSize(b);
    EXPECT_EQ(OrvaneAddScalarArrayMember(b, "Bad", -2, nullptr), nullptr);
    EXPECT_EQ(OrvaneAddScalarArrayMember(b, "Bad", 2, nullptr), nullptr);
    EXPECT_EQ(OrvaneAddDynamicArrayMember(b, "Bad", -1, OrvaneInt32Type, nullptr), nullptr);
    EXPECT_EQ(OrvaneAddIntegerMember(nullptr, "A", 1), nullptr);
    EXPECT_EQ(log.errors(), 5u);
    EXPECT_EQ(OrvaneGetResultingVariantObjectSize(b), size);
    EXPECT_EQ(OrvaneGetResultingVariantTypeSize(b),
              2 * int32_t(sizeof(orvane_data_type_definition)));
    orvane_data_type_definition* type = nullptr;
    void* object = nullptr;
    ASSERT_TRUE(OrvaneEndVariant(b, &type, &object));
    OrvaneFreeBuilderResult(type);
}

TEST_F(VariantBuilder, FailedAllocationIsReportedAndLeavesTheBuilder) {
    orvane_variant_builder* b = OrvaneBeginVariant(strings_);
    OrvaneAddIntegerMember(b, "Kept", 5);
    orvane_allocate_callback allocate;
    orvane_deallocate_callback deallocate;
    OrvaneGetAllocator(&allocate, &deallocate);
    OrvaneSetAllocator(
        [](const char*, orvane_int32, orvane_uint32, orvane_int32) -> void* { return nullptr; },
        deallocate);
    EXPECT_EQ(OrvaneAddIntegerMember(b, "Kept", 6), nullptr);  // the name is already interned
    orvane_data_type_definition* type = nullptr;
    void* object = nullptr;
    EXPECT_FALSE(OrvaneEndVariant(b, &type, &object));  // no block: the builder is released
    OrvaneSetAllocator(allocate, deallocate);
    EXPECT_EQ(type, nullptr);
    EXPECT_EQ(object, nullptr);
}

int32_t LiveBlocks() {
    int32_t count = 0;
    for (orvane_allocation_header* h = OrvaneAllocationsBegin(); h != OrvaneAllocationsEnd();
         h = OrvaneNextAllocation(h))
        ++count;
    return count;
}

TEST_F(VariantBuilder, EndWithoutATypeOutputIsRefusedAndKeepsNothing) {
    // The block is released through the type pointer: without one it could never be freed.
    ASSERT_NE(OrvaneMapString(strings_, "Weight"), nullptr);
    const int32_t before = LiveBlocks();
    orvane_variant_builder* b = OrvaneBeginVariant(strings_);
    OrvaneAddScalarMember(b, "Weight", 0.5f);
    void* object = &object;
    LogCapture log;
    EXPECT_FALSE(OrvaneEndVariant(b, nullptr, &object));
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(log.errors(), 1u);
    EXPECT_EQ(LiveBlocks(), before);  // the builder and its member are released, nothing made
}

}  // namespace

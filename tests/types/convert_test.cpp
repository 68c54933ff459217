// Member matching and single-object conversion: every numeric rule, text, merge, widths.
#include <cmath>
#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

#include "orvane/types.h"
#include "orvane/convert.h"
#include "types/orvane_type_layout.h"

using orvane::EndRecord;
using orvane::MemberRecord;

namespace {

using Def = orvane_data_type_definition;

// Converts one source value of a kind into one destination value of another, through
// one-member descriptions named alike.
template <typename D, typename S>
D ConvertValue(orvane_member_type sourceKind, S value, orvane_member_type destinationKind) {
    Def source[] = {MemberRecord(sourceKind, "V"), EndRecord()};
    Def destination[] = {MemberRecord(destinationKind, "V"), EndRecord()};
    unsigned char out[16];
    std::memset(out, 0xCD, sizeof out);
    OrvaneConvertSingleObject(source, &value, destination, out);
    D result;
    std::memcpy(&result, out, sizeof result);
    return result;
}

TEST(FindMatchingMember, MatchesByNameIgnoringCaseAndGivesTheMemberData) {
    // Members follow one another without padding.
#pragma pack(push, 1)
    struct S {
        int8_t a;
        int32_t b[2];
        char* c;
        float d;
    } s = {1, {2, 3}, nullptr, 4.0f};
#pragma pack(pop)
    Def type[] = {MemberRecord(OrvaneInt8Member, "Alpha"),
                  MemberRecord(OrvaneInt32Member, "Beta", nullptr, 2),
                  MemberRecord(OrvaneStringMember, "Gamma"),
                  MemberRecord(OrvaneReal32Member, "delta"), EndRecord()};
    orvane_variant m = OrvaneFindMatchingMember(type, &s, "DELTA");
    EXPECT_EQ(m.Type, &type[3]);
    EXPECT_EQ(m.Object, &s.d);
    m = OrvaneFindMatchingMember(type, &s, "beta");
    EXPECT_EQ(m.Object, &s.b);
    m = OrvaneFindMatchingMember(type, nullptr, "Alpha");
    EXPECT_EQ(m.Type, &type[0]);
    EXPECT_EQ(m.Object, nullptr);
    m = OrvaneFindMatchingMember(type, &s, "Epsilon");
    EXPECT_EQ(m.Type, nullptr);
    EXPECT_EQ(m.Object, nullptr);
    EXPECT_EQ(OrvaneFindMatchingMember(nullptr, &s, "Alpha").Type, nullptr);
}

// Without an object the member's address is its offset from address 0: 1 (int8), then 1 + 2 x 4
// (two int32), then that plus the native size of a string pointer.
TEST(FindMatchingMember, WithoutAnObjectGivesTheMemberOffset) {
    Def type[] = {MemberRecord(OrvaneInt8Member, "Alpha"),
                  MemberRecord(OrvaneInt32Member, "Beta", nullptr, 2),
                  MemberRecord(OrvaneStringMember, "Gamma"),
                  MemberRecord(OrvaneReal32Member, "delta"), EndRecord()};
    const uintptr_t pointerSize = sizeof(char*);
    orvane_variant m = OrvaneFindMatchingMember(type, nullptr, "beta");
    EXPECT_EQ(m.Type, &type[1]);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(m.Object), 1u);
    m = OrvaneFindMatchingMember(type, nullptr, "GAMMA");
    EXPECT_EQ(m.Type, &type[2]);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(m.Object), 9u);
    m = OrvaneFindMatchingMember(type, nullptr, "Delta");
    EXPECT_EQ(m.Type, &type[3]);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(m.Object), 9u + pointerSize);
    m = OrvaneFindMatchingMember(type, nullptr, "Epsilon");
    EXPECT_EQ(m.Type, nullptr);
    EXPECT_EQ(m.Object, nullptr);
}

orvane_int32 FirstLetterOnly(const char* a, const char* b) {
    if (!a || !b) return a == b ? 0 : 1;
    return a[0] == b[0] ? 0 : 1;
}

TEST(FindMatchingMember, UsesTheApplicationsComparisonCallback) {
    Def type[] = {MemberRecord(OrvaneInt32Member, "Position"), EndRecord()};
    int32_t value = 5;
    EXPECT_EQ(OrvaneFindMatchingMember(type, &value, "Pos").Type, nullptr);
    EXPECT_EQ(OrvaneFindMatchingMember(type, &value, "POSITION").Type, &type[0]);
    OrvaneSetStringComparisonCallback(&FirstLetterOnly);
    EXPECT_EQ(OrvaneFindMatchingMember(type, &value, "Pos").Type, &type[0]);
    // An installed callback decides alone: no case folding behind its back.
    EXPECT_EQ(OrvaneFindMatchingMember(type, &value, "position").Type, nullptr);
    OrvaneSetStringComparisonCallback(nullptr);
}

TEST(ConvertSingleObject, MatchesNamesAndConvertsKindsAsDocumented) {
#pragma pack(push, 1)
    struct Source {
        int32_t Count;
        float Scale;
    } source = {7, 2.5f};
    struct Destination {
        float count;
        int16_t Scale;
        char* Label;
    } destination;
#pragma pack(pop)
    Def sourceType[] = {MemberRecord(OrvaneInt32Member, "Count"),
                        MemberRecord(OrvaneReal32Member, "Scale"), EndRecord()};
    Def destinationType[] = {MemberRecord(OrvaneReal32Member, "count"),
                             MemberRecord(OrvaneInt16Member, "Scale"),
                             MemberRecord(OrvaneStringMember, "Label"), EndRecord()};
    std::memset(&destination, 0xAB, sizeof destination);
    OrvaneConvertSingleObject(sourceType, &source, destinationType, &destination);
    EXPECT_EQ(destination.count, 7.0f);
    EXPECT_EQ(destination.Scale, 2);         // ties go to even
    EXPECT_EQ(+destination.Label, nullptr);  // read by value: the field is packed
}

TEST(ConvertSingleObject, NormalisedKindsFromReals) {
    EXPECT_EQ((ConvertValue<uint8_t>(OrvaneReal32Member, 0.5f, OrvaneNormalUInt8Member)), 128);
    EXPECT_EQ((ConvertValue<uint8_t>(OrvaneReal32Member, 1.5f, OrvaneNormalUInt8Member)), 127);
    EXPECT_EQ((ConvertValue<uint8_t>(OrvaneReal32Member, 1.0f, OrvaneNormalUInt8Member)), 255);
    EXPECT_EQ((ConvertValue<int8_t>(OrvaneReal32Member, -1.0f, OrvaneBinormalInt8Member)), -127);
    EXPECT_EQ((ConvertValue<int8_t>(OrvaneReal32Member, 0.5f, OrvaneBinormalInt8Member)), 64);
    EXPECT_EQ((ConvertValue<int16_t>(OrvaneReal32Member, -0.5f, OrvaneBinormalInt16Member)),
              -16384);
    EXPECT_EQ((ConvertValue<uint16_t>(OrvaneReal32Member, 1.0f, OrvaneNormalUInt16Member)), 65535);
    // No clamping: 2 x 255 = 510 keeps its low byte.
    EXPECT_EQ((ConvertValue<uint8_t>(OrvaneReal32Member, 2.0f, OrvaneNormalUInt8Member)), 254);
    // A normalised integer source goes through its real value.
    EXPECT_EQ(
        (ConvertValue<uint16_t>(OrvaneNormalUInt8Member, uint8_t(255), OrvaneNormalUInt16Member)),
        65535);
}

TEST(ConvertSingleObject, NormalisedKindsAsIntegersAreTheirSign) {
    EXPECT_EQ((ConvertValue<int32_t>(OrvaneNormalUInt8Member, uint8_t(200), OrvaneInt32Member)), 1);
    EXPECT_EQ((ConvertValue<int32_t>(OrvaneNormalUInt8Member, uint8_t(100), OrvaneInt32Member)), 0);
    EXPECT_EQ((ConvertValue<int32_t>(OrvaneBinormalInt8Member, int8_t(-100), OrvaneInt32Member)),
              -1);
    EXPECT_EQ((ConvertValue<int32_t>(OrvaneBinormalInt8Member, int8_t(63), OrvaneInt32Member)), 0);
    EXPECT_EQ((ConvertValue<int32_t>(OrvaneBinormalInt16Member, int16_t(16384), OrvaneInt32Member)),
              1);
    EXPECT_EQ((ConvertValue<int32_t>(OrvaneNormalUInt16Member, uint16_t(32767), OrvaneInt32Member)),
              0);
    EXPECT_EQ((ConvertValue<int32_t>(OrvaneNormalUInt16Member, uint16_t(32768), OrvaneInt32Member)),
              1);
}

TEST(ConvertSingleObject, NormalisedKindsAsReals) {
    EXPECT_FLOAT_EQ(
        (ConvertValue<float>(OrvaneBinormalInt8Member, int8_t(-127), OrvaneReal32Member)), -1.0f);
    EXPECT_FLOAT_EQ((ConvertValue<float>(OrvaneNormalUInt8Member, uint8_t(51), OrvaneReal32Member)),
                    0.2f);
    EXPECT_FLOAT_EQ(
        (ConvertValue<float>(OrvaneBinormalInt16Member, int16_t(32767), OrvaneReal32Member)), 1.0f);
    EXPECT_FLOAT_EQ(
        (ConvertValue<float>(OrvaneNormalUInt16Member, uint16_t(65535), OrvaneReal32Member)), 1.0f);
}

TEST(ConvertSingleObject, IntegerWidthsSignsAndWrapping) {
    EXPECT_EQ((ConvertValue<uint16_t>(OrvaneInt8Member, int8_t(-1), OrvaneUInt16Member)), 0xFFFF);
    EXPECT_EQ((ConvertValue<int32_t>(OrvaneUInt8Member, uint8_t(200), OrvaneInt32Member)), 200);
    EXPECT_EQ((ConvertValue<int32_t>(OrvaneInt16Member, int16_t(-300), OrvaneInt32Member)), -300);
    EXPECT_EQ((ConvertValue<int32_t>(OrvaneUInt16Member, uint16_t(60000), OrvaneInt32Member)),
              60000);
    EXPECT_EQ((ConvertValue<int16_t>(OrvaneInt32Member, int32_t(70000), OrvaneInt16Member)), 4464);
    EXPECT_EQ((ConvertValue<int8_t>(OrvaneInt32Member, int32_t(-129), OrvaneInt8Member)), 127);
    EXPECT_EQ((ConvertValue<uint32_t>(OrvaneInt32Member, int32_t(-1), OrvaneUInt32Member)),
              0xFFFFFFFFu);
    EXPECT_EQ((ConvertValue<float>(OrvaneUInt32Member, uint32_t(0xFFFFFFFFu), OrvaneReal32Member)),
              4294967296.0f);
    EXPECT_EQ((ConvertValue<float>(OrvaneInt8Member, int8_t(-5), OrvaneReal32Member)), -5.0f);
}

TEST(ConvertSingleObject, RealsRoundToNearestEven) {
    EXPECT_EQ((ConvertValue<int32_t>(OrvaneReal32Member, 3.5f, OrvaneInt32Member)), 4);
    EXPECT_EQ((ConvertValue<int32_t>(OrvaneReal32Member, -2.5f, OrvaneInt32Member)), -2);
    EXPECT_EQ((ConvertValue<int32_t>(OrvaneReal32Member, 2.7f, OrvaneInt32Member)), 3);
    EXPECT_EQ((ConvertValue<uint8_t>(OrvaneReal32Member, 300.0f, OrvaneUInt8Member)), 44);
    // Out of range and not-a-number give the hardware's integer indefinite, without UB.
    EXPECT_EQ((ConvertValue<int32_t>(OrvaneReal32Member, 1e20f, OrvaneInt32Member)), INT32_MIN);
    EXPECT_EQ((ConvertValue<int32_t>(OrvaneReal32Member, std::nanf(""), OrvaneInt32Member)),
              INT32_MIN);
}

TEST(ConvertSingleObject, StringsAsNumbers) {
    const char* text = "3.5";
    EXPECT_EQ((ConvertValue<int32_t>(OrvaneStringMember, text, OrvaneInt32Member)), 4);
    text = "2.5";
    EXPECT_EQ((ConvertValue<int16_t>(OrvaneStringMember, text, OrvaneInt16Member)), 2);
    text = "-7.25";
    EXPECT_EQ((ConvertValue<float>(OrvaneStringMember, text, OrvaneReal32Member)), -7.25f);
    text = "0.5";
    EXPECT_EQ((ConvertValue<uint8_t>(OrvaneStringMember, text, OrvaneNormalUInt8Member)), 128);
    text = nullptr;
    EXPECT_EQ((ConvertValue<int32_t>(OrvaneStringMember, text, OrvaneInt32Member)), 0);
    EXPECT_EQ((ConvertValue<float>(OrvaneStringMember, text, OrvaneReal32Member)), 0.0f);
}

TEST(ConvertSingleObject, NumberIntoStringNeverWritesTextOverTheDestination) {
#pragma pack(push, 4)
    struct Destination {
        char* Text;
        int32_t After;
    } destination = {reinterpret_cast<char*>(&destination), 0x12345678};
#pragma pack(pop)
    int32_t source[2] = {42, 99};
    Def sourceType[] = {MemberRecord(OrvaneInt32Member, "Text"),
                        MemberRecord(OrvaneInt32Member, "After"), EndRecord()};
    Def destinationType[] = {MemberRecord(OrvaneStringMember, "Text"),
                             MemberRecord(OrvaneInt32Member, "After"), EndRecord()};
    OrvaneMergeSingleObject(sourceType, source, destinationType, &destination);
    EXPECT_EQ(destination.Text, nullptr);
    EXPECT_EQ(destination.After, 99);
}

TEST(ConvertSingleObject, ArrayWidthsConvertTheCommonPart) {
    float four[4] = {1, 2, 3, 4};
    float three[3];
    Def width4[] = {MemberRecord(OrvaneReal32Member, "V", nullptr, 4), EndRecord()};
    Def width3[] = {MemberRecord(OrvaneReal32Member, "V", nullptr, 3), EndRecord()};
    OrvaneConvertSingleObject(width4, four, width3, three);
    EXPECT_EQ(three[0], 1.0f);
    EXPECT_EQ(three[2], 3.0f);
    float back[4] = {9, 9, 9, 9};
    OrvaneConvertSingleObject(width3, three, width4, back);
    EXPECT_EQ(back[2], 3.0f);
    EXPECT_EQ(back[3], 0.0f);
    // Across kinds the elements convert one by one.
    int16_t shorts[4] = {9, 9, 9, 9};
    Def shorts4[] = {MemberRecord(OrvaneInt16Member, "V", nullptr, 4), EndRecord()};
    OrvaneConvertSingleObject(width3, three, shorts4, shorts);
    EXPECT_EQ(shorts[0], 1);
    EXPECT_EQ(shorts[2], 3);
    EXPECT_EQ(shorts[3], 0);
}

TEST(ConvertSingleObject, ConvertEmptiesAndMergeKeepsMembersTheSourceLacks) {
#pragma pack(push, 4)
    struct Destination {
        int32_t Kept;
        orvane_transform Pose;
        float Shared;
    };
#pragma pack(pop)
    Def sourceType[] = {MemberRecord(OrvaneReal32Member, "Shared"), EndRecord()};
    Def destinationType[] = {MemberRecord(OrvaneInt32Member, "Kept"),
                             MemberRecord(OrvaneTransformMember, "Pose"),
                             MemberRecord(OrvaneReal32Member, "Shared"), EndRecord()};
    const float shared = 6.5f;
    Destination merged;
    std::memset(&merged, 0, sizeof merged);
    merged.Kept = 17;
    merged.Pose.Position[0] = 3.0f;
    OrvaneMergeSingleObject(sourceType, &shared, destinationType, &merged);
    EXPECT_EQ(merged.Kept, 17);
    EXPECT_EQ(merged.Pose.Position[0], 3.0f);
    EXPECT_EQ(merged.Shared, 6.5f);

    Destination converted = merged;
    OrvaneConvertSingleObject(sourceType, &shared, destinationType, &converted);
    EXPECT_EQ(converted.Kept, 0);
    EXPECT_EQ(converted.Pose.Flags, 0);
    EXPECT_EQ(converted.Pose.Position[0], 0.0f);
    EXPECT_EQ(converted.Pose.Orientation[3], 1.0f);
    EXPECT_EQ(converted.Pose.ScaleShear[0][0], 1.0f);
    EXPECT_EQ(converted.Shared, 6.5f);
}

TEST(ConvertSingleObject, InlineMembersConvertByNameAndReferencesAreCopiedNotFollowed) {
    Def innerSource[] = {MemberRecord(OrvaneInt32Member, "X"), MemberRecord(OrvaneInt32Member, "Y"),
                         EndRecord()};
    Def innerDestination[] = {MemberRecord(OrvaneReal32Member, "y"), EndRecord()};
    Def sourceType[] = {MemberRecord(OrvaneInlineMember, "Inner", innerSource),
                        MemberRecord(OrvaneReferenceMember, "Ref", innerSource),
                        MemberRecord(OrvaneInt32Member, "NotInline"), EndRecord()};
    Def destinationType[] = {MemberRecord(OrvaneReferenceMember, "Ref", innerDestination),
                             MemberRecord(OrvaneInlineMember, "Inner", innerDestination),
                             MemberRecord(OrvaneInlineMember, "NotInline", innerDestination),
                             EndRecord()};
#pragma pack(push, 4)
    struct Source {
        int32_t X, Y;
        void* Ref;
        int32_t NotInline;
    } source = {1, 2, &source, 5};
    struct Destination {
        void* Ref;
        float y;
        float notInline;
    } destination;
#pragma pack(pop)
    std::memset(&destination, 0x7F, sizeof destination);
    OrvaneConvertSingleObject(sourceType, &source, destinationType, &destination);
    EXPECT_EQ(destination.Ref, &source);
    EXPECT_EQ(destination.y, 2.0f);
    EXPECT_EQ(destination.notInline, 0.0f);
}

TEST(ConvertSingleObject, NullSourceLeavesEmptyMembersAndNullDestinationIsIgnored) {
    Def type[] = {MemberRecord(OrvaneInt32Member, "A"), EndRecord()};
    int32_t out = 5;
    OrvaneConvertSingleObject(type, nullptr, type, &out);
    EXPECT_EQ(out, 0);
    out = 5;
    OrvaneMergeSingleObject(type, nullptr, type, &out);
    EXPECT_EQ(out, 5);
    OrvaneConvertSingleObject(type, &out, type, nullptr);
}

}  // namespace

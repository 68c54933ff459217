// The exported queries, fills, comparisons, prefix test and reversal on native descriptions.
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "orvane/types.h"
#include "support/log_capture.h"

using orvane_test::LogCapture;

namespace {

using Def = orvane_data_type_definition;

constexpr Def M(int32_t kind, const char* name, Def* type = nullptr, int32_t width = 0) {
    return {kind, name, type, width, {0, 0, 0}, 0};
}
constexpr Def End() {
    return M(OrvaneEndMember, nullptr);
}

constexpr int32_t P = static_cast<int32_t>(sizeof(void*));

bool AllMarksZero(const Def* type) {
    for (;; ++type) {
        if (type->TraversalMark != 0) return false;
        if (type->Type == OrvaneEndMember) return true;
    }
}

TEST(TypeQueries, NamesAndDeclaredTypeNames) {
    EXPECT_STREQ(OrvaneGetMemberTypeName(OrvaneEndMember), "EndMember");
    EXPECT_STREQ(OrvaneGetMemberTypeName(OrvaneReferenceToVariantArrayMember),
                 "ReferenceToVariantArrayMember");
    EXPECT_STREQ(OrvaneGetMemberTypeName(OrvaneUInt32Member), "UInt32Member");
    EXPECT_STREQ(OrvaneGetMemberCTypeName(OrvaneArrayOfReferencesMember), "void **");
    EXPECT_STREQ(OrvaneGetMemberCTypeName(OrvaneTransformMember), "orvane_transform");
    EXPECT_STREQ(OrvaneGetMemberCTypeName(OrvaneBinormalInt16Member), "orvane_int16");
    EXPECT_STREQ(OrvaneGetMemberCTypeName(OrvaneInlineMember), "");
    EXPECT_EQ(OrvaneGetMemberTypeName(21), nullptr);
    EXPECT_EQ(OrvaneGetMemberCTypeName(-1), nullptr);
}

TEST(TypeQueries, MemberAndObjectSizes) {
    Def inner[] = {M(OrvaneReal32Member, "x", nullptr, 2), M(OrvaneStringMember, "s"), End()};
    Def inlineWide = M(OrvaneInlineMember, "i", inner, 3);
    EXPECT_EQ(OrvaneGetMemberTypeSize(&inlineWide), 8 + P);  // the width is ignored
    EXPECT_EQ(OrvaneGetMemberUnitSize(&inlineWide), 0);
    Def real0 = M(OrvaneReal32Member, "r", nullptr, 0),
        real3 = M(OrvaneReal32Member, "r", nullptr, 3);
    EXPECT_EQ(OrvaneGetMemberTypeSize(&real0), 4);
    EXPECT_EQ(OrvaneGetMemberTypeSize(&real3), 12);
    EXPECT_EQ(OrvaneGetMemberArrayWidth(&real0), 1);
    EXPECT_EQ(OrvaneGetMemberArrayWidth(&real3), 3);
    Def variantArray = M(OrvaneReferenceToVariantArrayMember, "v");
    EXPECT_EQ(OrvaneGetMemberUnitSize(&variantArray), 2 * P + 4);
    EXPECT_EQ(OrvaneGetTotalObjectSize(nullptr), 0);
    EXPECT_EQ(OrvaneGetTotalObjectSize(OrvaneTransformType), 68);
    EXPECT_EQ(OrvaneGetTotalObjectSize(OrvaneTripleType), 12);
    EXPECT_EQ(OrvaneGetTotalTypeSize(nullptr), 0);
    EXPECT_EQ(OrvaneGetTotalTypeSize(OrvaneEmptyType), int32_t(sizeof(Def)));
    EXPECT_EQ(OrvaneGetTotalTypeSize(inner), int32_t(3 * sizeof(Def)));
    if (P == 4) {
        EXPECT_EQ(OrvaneGetTotalTypeSize(OrvaneEmptyType), 32);
    }
}

TEST(TypeQueries, PointersAndMarshalling) {
    Def refNull = M(OrvaneReferenceMember, "r");
    Def refSet = M(OrvaneReferenceMember, "r", OrvaneInt32Type);
    Def str = M(OrvaneStringMember, "s");
    EXPECT_FALSE(OrvaneMemberHasPointers(&refNull));
    EXPECT_TRUE(OrvaneMemberHasPointers(&refSet));
    EXPECT_TRUE(OrvaneMemberHasPointers(&str));
    EXPECT_FALSE(OrvaneTypeHasPointers(nullptr));
    EXPECT_FALSE(OrvaneTypeHasPointers(OrvaneQuadType));
    EXPECT_TRUE(OrvaneTypeHasPointers(OrvaneStringType));
    Def holdsString[] = {M(OrvaneInt32Member, "i"), M(OrvaneInlineMember, "in", OrvaneStringType),
                         End()};
    EXPECT_TRUE(OrvaneTypeHasPointers(holdsString));

    Def mixed[] = {M(OrvaneReal32Member, "r"), M(OrvaneUInt8Member, "u"), End()};
    EXPECT_EQ(OrvaneGetObjectMarshalling(mixed), 5u);
    EXPECT_TRUE(OrvaneIsMixedMarshalling(5));
    EXPECT_FALSE(OrvaneIsMixedMarshalling(4));
    EXPECT_FALSE(OrvaneIsMixedMarshalling(0));
    EXPECT_EQ(OrvaneGetObjectMarshalling(nullptr), 0u);
    Def inlineMixed = M(OrvaneInlineMember, "m", mixed);
    EXPECT_EQ(OrvaneGetMemberMarshalling(&inlineMixed), 5u);
    Def variant = M(OrvaneVariantReferenceMember, "v");
    Def arrayRef = M(OrvaneReferenceToArrayMember, "a", OrvaneInt16Type);
    EXPECT_EQ(OrvaneGetMemberMarshalling(&variant), 0u);
    EXPECT_EQ(OrvaneGetMemberMarshalling(&arrayRef), 4u);
}

TEST(TypeQueries, TypeTables) {
    Def* table[] = {OrvaneInt32Type, OrvaneReal32Type, nullptr};
    Def switchable = M(OrvaneSwitchableTypeMember, "s", reinterpret_cast<Def*>(table));
    EXPECT_EQ(OrvaneGetTypeTableFor(&switchable), table);
    EXPECT_EQ(OrvaneGetTypeTableCount(table), 2);
    EXPECT_EQ(OrvaneGetTypeTableCount(nullptr), 0);
    Def reference = M(OrvaneReferenceMember, "r", OrvaneInt32Type);
    EXPECT_EQ(OrvaneGetTypeTableFor(&reference), nullptr);
}

TEST(EmptyValues, TransformsAreIdentityAndTheRestZero) {
    orvane_transform t;
    std::memset(&t, 0x5A, sizeof t);
    EXPECT_EQ(OrvaneMakeEmptyDataTypeObject(OrvaneTransformType, &t), 68);
    const orvane_transform identity = {
        0, {0, 0, 0}, {0, 0, 0, 1}, {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    EXPECT_EQ(0, std::memcmp(&t, &identity, sizeof t));

    Def inner[] = {M(OrvaneTransformMember, "t"), M(OrvaneInt16Member, "i", nullptr, 3), End()};
    Def outer[] = {M(OrvaneStringMember, "s"), M(OrvaneInlineMember, "in", inner), End()};
    std::vector<unsigned char> object(200, 0xEE);
    int32_t size = OrvaneGetTotalObjectSize(outer);
    EXPECT_EQ(size, P + 68 + 6);
    EXPECT_EQ(OrvaneMakeEmptyDataTypeObject(outer, object.data()), size);
    for (int i = 0; i < P; ++i)
        EXPECT_EQ(object[i], 0);
    std::memcpy(&t, object.data() + P, sizeof t);
    EXPECT_EQ(0, std::memcmp(&t, &identity, sizeof t));
    for (int i = P + 68; i < size; ++i)
        EXPECT_EQ(object[i], 0);
    EXPECT_EQ(object[size], 0xEE);  // nothing past the object
    EXPECT_EQ(OrvaneMakeEmptyDataTypeMember(&outer[1], object.data()), 74);
    EXPECT_EQ(OrvaneMakeEmptyDataTypeObject(nullptr, object.data()), 0);
}

TEST(Equality, NamesWidthsAndLengths) {
    Def a[] = {M(OrvaneInt32Member, "Count"), M(OrvaneReferenceMember, "Ref", OrvaneQuadType),
               End()};
    Def b[] = {M(OrvaneInt32Member, "Number"), M(OrvaneReferenceMember, "Ref", OrvaneQuadType),
               End()};
    EXPECT_TRUE(OrvaneDataTypesAreEqual(a, b));
    EXPECT_FALSE(OrvaneDataTypesAreEqualWithNames(a, b));
    EXPECT_TRUE(OrvaneDataTypesAreEqualWithNames(a, a));
    EXPECT_TRUE(OrvaneDataTypesAreEqualWithNameCallback(a, b, nullptr));
    auto firstLetter = [](const char* x, const char* y) -> orvane_int32 { return x[0] - y[0]; };
    Def c[] = {M(OrvaneInt32Member, "Cat"), M(OrvaneReferenceMember, "Rat", OrvaneQuadType), End()};
    EXPECT_TRUE(OrvaneDataTypesAreEqualWithNameCallback(a, c, firstLetter));

    Def width0[] = {M(OrvaneReal32Member, "r", nullptr, 0), End()};
    Def width1[] = {M(OrvaneReal32Member, "r", nullptr, 1), End()};
    EXPECT_FALSE(OrvaneDataTypesAreEqual(width0, width1));
    Def longer[] = {M(OrvaneInt32Member, "Count"), M(OrvaneReferenceMember, "Ref", OrvaneQuadType),
                    M(OrvaneInt8Member, "x"), End()};
    EXPECT_FALSE(OrvaneDataTypesAreEqual(a, longer));
    EXPECT_FALSE(OrvaneDataTypesAreEqual(longer, a));
    Def otherReference[] = {M(OrvaneInt32Member, "Count"),
                            M(OrvaneReferenceMember, "Ref", OrvaneTripleType), End()};
    EXPECT_FALSE(OrvaneDataTypesAreEqual(a, otherReference));
    EXPECT_TRUE(OrvaneDataTypesAreEqual(nullptr, nullptr));
    EXPECT_FALSE(OrvaneDataTypesAreEqual(a, nullptr));
    EXPECT_FALSE(OrvaneDataTypesAreEqual(nullptr, OrvaneEmptyType));
}

// A list node that points at its own description, and two descriptions that point at each other.
TEST(Equality, SelfAndMutuallyReferencingDescriptionsTerminate) {
    Def node1[3], node2[3];
    node1[0] = M(OrvaneInt32Member, "Value");
    node1[1] = M(OrvaneReferenceMember, "Next", node1);
    node1[2] = End();
    node2[0] = M(OrvaneInt32Member, "Value");
    node2[1] = M(OrvaneReferenceMember, "Next", node2);
    node2[2] = End();
    EXPECT_TRUE(OrvaneDataTypesAreEqualWithNames(node1, node2));
    EXPECT_TRUE(AllMarksZero(node1) && AllMarksZero(node2));
    node2[0].Type = OrvaneUInt32Member;
    EXPECT_FALSE(OrvaneDataTypesAreEqual(node1, node2));

    Def ping[3], pong[3], ping2[3], pong2[3];
    ping[0] = M(OrvaneReferenceToArrayMember, "Pong", pong);
    ping[1] = M(OrvaneReal32Member, "x");
    ping[2] = End();
    pong[0] = M(OrvaneReferenceMember, "Ping", ping);
    pong[1] = End();
    ping2[0] = M(OrvaneReferenceToArrayMember, "Pong", pong2);
    ping2[1] = M(OrvaneReal32Member, "x");
    ping2[2] = End();
    pong2[0] = M(OrvaneReferenceMember, "Ping", ping2);
    pong2[1] = End();
    EXPECT_TRUE(OrvaneDataTypesAreEqual(ping, ping2));
    EXPECT_TRUE(OrvaneDataTypesAreEqual(pong2, pong));
    // A cycle against an unrolled copy that differs two levels down.
    pong2[0].ReferenceType = node1;
    EXPECT_FALSE(OrvaneDataTypesAreEqual(ping, ping2));
    for (const Def* d : {ping, pong, ping2, pong2, node1})
        EXPECT_TRUE(AllMarksZero(d));
}

// Comparisons write nothing, so threads may compare the same descriptions at once.
TEST(Equality, ConcurrentComparisonsOfSharedDescriptions) {
    Def node1[] = {M(OrvaneInt32Member, "Value"), M(OrvaneReferenceMember, "Next"), End()};
    Def node2[] = {M(OrvaneInt32Member, "Value"), M(OrvaneReferenceMember, "Next"), End()};
    node1[1].ReferenceType = node1;
    node2[1].ReferenceType = node2;
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20000; ++i) {
                if (!OrvaneDataTypesAreEqual(t % 2 ? node1 : node2, t % 2 ? node2 : node1)) {
                    ++failures[t];
                }
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int f : failures)
        EXPECT_EQ(f, 0);
}

TEST(Equality, SwitchableMembersPassWithAWarning) {
    Def* table1[] = {OrvaneInt32Type, nullptr};
    Def* table2[] = {OrvaneReal32Type, nullptr};
    Def a[] = {M(OrvaneSwitchableTypeMember, "s", reinterpret_cast<Def*>(table1)), End()};
    Def b[] = {M(OrvaneSwitchableTypeMember, "s", reinterpret_cast<Def*>(table2)), End()};
    LogCapture log;
    EXPECT_TRUE(OrvaneDataTypesAreEqual(a, b));
    EXPECT_TRUE(OrvaneDataTypesAreEqual(a, b));
    ASSERT_EQ(log.warnings(), 2u);
    EXPECT_EQ(log.messages()[0].text, "SwitchableTypeMember comparison not yet implemented");
    EXPECT_EQ(log.messages()[0].origin, OrvaneNotImplementedOrigin);
}

TEST(Prefix, MatchesKindsWidthsAndReferencedTypes) {
    Def t[] = {M(OrvaneUInt8Member, "Format"), M(OrvaneUInt8Member, "Degree"),
               M(OrvaneReferenceToArrayMember, "Knots", OrvaneReal32Type), End()};
    Def header[] = {M(OrvaneUInt8Member, "A"), M(OrvaneUInt8Member, "B"), End()};
    EXPECT_EQ(OrvaneDataTypeBeginsWith(t, header), &t[2]);
    EXPECT_EQ(OrvaneDataTypeBeginsWith(t, t), &t[3]);
    EXPECT_EQ(OrvaneDataTypeBeginsWith(t, OrvaneEmptyType), &t[0]);
    Def longer[] = {M(OrvaneUInt8Member, "Format"), M(OrvaneUInt8Member, "Degree"),
                    M(OrvaneReferenceToArrayMember, "Knots", OrvaneReal32Type),
                    M(OrvaneInt32Member, "x"), End()};
    EXPECT_EQ(OrvaneDataTypeBeginsWith(t, longer), nullptr);
    Def otherArray[] = {M(OrvaneUInt8Member, "Format"), M(OrvaneUInt8Member, "Degree"),
                        M(OrvaneReferenceToArrayMember, "Knots", OrvaneInt32Type), End()};
    EXPECT_EQ(OrvaneDataTypeBeginsWith(t, otherArray), nullptr);
    Def wide[] = {M(OrvaneUInt8Member, "Format", nullptr, 1), End()};
    EXPECT_EQ(OrvaneDataTypeBeginsWith(t, wide), nullptr);
    EXPECT_EQ(OrvaneDataTypeBeginsWith(nullptr, t), nullptr);
    EXPECT_EQ(OrvaneDataTypeBeginsWith(t, nullptr), nullptr);
}

TEST(Prefix, SwitchableMembersPassWithAWarning) {
    Def* table1[] = {OrvaneInt32Type, nullptr};
    Def* table2[] = {OrvaneTransformType, nullptr};
    Def type[] = {M(OrvaneSwitchableTypeMember, "s", reinterpret_cast<Def*>(table1)),
                  M(OrvaneInt32Member, "after"), End()};
    Def prefix[] = {M(OrvaneSwitchableTypeMember, "other", reinterpret_cast<Def*>(table2)), End()};
    LogCapture log;
    EXPECT_EQ(OrvaneDataTypeBeginsWith(type, prefix), &type[1]);
    ASSERT_EQ(log.warnings(), 1u);
    EXPECT_EQ(log.messages()[0].text, "SwitchableTypeMember comparison not yet implemented");
    EXPECT_EQ(log.messages()[0].origin, OrvaneNotImplementedOrigin);
}

TEST(Reversal, UnitsFollowTheMarshalling) {
    Def inner[] = {M(OrvaneUInt16Member, "h", nullptr, 2), End()};
    Def type[] = {M(OrvaneInt32Member, "i"), M(OrvaneInlineMember, "in", inner),
                  M(OrvaneUInt8Member, "b", nullptr, 2), M(OrvaneStringMember, "s"), End()};
    const int32_t size = OrvaneGetTotalObjectSize(type);
    ASSERT_EQ(size, 4 + 4 + 2 + P);
    std::vector<unsigned char> data(2 * size);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i);
    std::vector<unsigned char> expected = data;
    for (int object = 0; object < 2; ++object) {
        unsigned char* e = expected.data() + object * size;
        std::swap(e[0], e[3]);
        std::swap(e[1], e[2]);
        std::swap(e[4], e[5]);
        std::swap(e[6], e[7]);
    }
    OrvaneReverseTypeArray(type, 2, data.data());
    EXPECT_EQ(data, expected);
    OrvaneReverseTypeArray(nullptr, 5, data.data());  // an empty type advances nothing
    OrvaneReverseTypeArray(type, 0, nullptr);
    EXPECT_EQ(data, expected);
}

}  // namespace

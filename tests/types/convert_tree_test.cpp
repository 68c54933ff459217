// Tree conversion: sizing against use, in place and allocated, sharing, arrays, cycles, old
// and new curves, failures.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "orvane/curve.h"
#include "orvane/types.h"
#include "orvane/convert.h"
#include "support/log_capture.h"
#include "types/orvane_convert.h"
#include "types/orvane_type_layout.h"

using orvane::EndRecord;
using orvane::MemberRecord;
using orvane_test::LogCapture;

namespace {

using Def = orvane_data_type_definition;

#pragma pack(push, 4)
struct LeafV1 {
    int32_t Value;
    int32_t Number;  // becomes text
};
struct LeafV2 {
    char* Number;
    float Value;
    int32_t Extra;
};
struct NodeV1 {
    int32_t Id;
    NodeV1* Next;
    LeafV1* Leaf;
    int32_t LeafCount;
    LeafV1* Leaves;
    int32_t RefCount;
    LeafV1** Refs;
    char* Name;
};
struct NodeV2 {
    char* Name;
    NodeV2* Next;
    float Id;
    LeafV2* Leaf;
    int32_t LeafCount;
    LeafV2* Leaves;  // width 2 in the destination description
    int32_t RefCount;
    LeafV2** Refs;
};
#pragma pack(pop)

// Descriptions of the two versions. Self references are patched in SetUp.
struct Types {
    Def leafV1[3] = {MemberRecord(OrvaneInt32Member, "Value"),
                     MemberRecord(OrvaneInt32Member, "Number"), EndRecord()};
    Def leafV2[4] = {MemberRecord(OrvaneStringMember, "Number"),
                     MemberRecord(OrvaneReal32Member, "Value"),
                     MemberRecord(OrvaneInt32Member, "Extra"), EndRecord()};
    Def nodeV1[8];
    Def nodeV2[8];
    Types(int32_t leafWidth = 1) {
        Def v1[] = {MemberRecord(OrvaneInt32Member, "Id"),
                    MemberRecord(OrvaneReferenceMember, "Next", nodeV1),
                    MemberRecord(OrvaneReferenceMember, "Leaf", leafV1),
                    MemberRecord(OrvaneReferenceToArrayMember, "Leaves", leafV1),
                    MemberRecord(OrvaneArrayOfReferencesMember, "Refs", leafV1),
                    MemberRecord(OrvaneStringMember, "Name"),
                    EndRecord(),
                    EndRecord()};
        Def v2[] = {MemberRecord(OrvaneStringMember, "Name"),
                    MemberRecord(OrvaneReferenceMember, "Next", nodeV2),
                    MemberRecord(OrvaneReal32Member, "Id"),
                    MemberRecord(OrvaneReferenceMember, "Leaf", leafV2),
                    MemberRecord(OrvaneReferenceToArrayMember, "Leaves", leafV2, leafWidth),
                    MemberRecord(OrvaneArrayOfReferencesMember, "Refs", leafV2),
                    EndRecord(),
                    EndRecord()};
        std::memcpy(nodeV1, v1, sizeof v1);
        std::memcpy(nodeV2, v2, sizeof v2);
    }
};

// Converts in place into a buffer of exactly the announced size followed by guard bytes, and
// checks that the guard survived.
struct Converted {
    std::vector<unsigned char> buffer;
    int32_t size = 0;
    void* root = nullptr;
    bool GuardIntact() const {
        for (size_t i = size_t(size); i < buffer.size(); ++i)
            if (buffer[i] != 0xEE) return false;
        return true;
    }
    bool Inside(const void* p) const {
        auto* b = static_cast<const unsigned char*>(p);
        return b >= buffer.data() && b < buffer.data() + size;
    }
};

Converted ConvertGuarded(const Def* sourceType, const void* root, const Def* destinationType) {
    Converted c;
    c.size = OrvaneGetConvertedTreeSize(sourceType, root, destinationType);
    c.buffer.assign(size_t(c.size) + 256, 0xEE);
    // Keep pointer alignment for the block.
    c.root = OrvaneConvertTreeInPlace(sourceType, root, destinationType, c.buffer.data());
    return c;
}

TEST(ConvertTree, UnchangedTypesShareEverythingBelowTheRoot) {
    Types t;
    LeafV1 leaf = {3, 4};
    NodeV1 next = {2, nullptr, nullptr, 0, nullptr, 0, nullptr, nullptr};
    NodeV1 root = {1, &next, &leaf, 0, nullptr, 0, nullptr, const_cast<char*>("root")};
    const int32_t rootSize = OrvaneGetTotalObjectSize(t.nodeV1);
    EXPECT_EQ(OrvaneGetConvertedTreeSize(t.nodeV1, &root, t.nodeV1), rootSize);
    Converted c = ConvertGuarded(t.nodeV1, &root, t.nodeV1);
    ASSERT_EQ(+c.root, c.buffer.data());
    auto* copy = static_cast<NodeV1*>(c.root);
    EXPECT_EQ(+copy->Next, &next);
    EXPECT_EQ(+copy->Leaf, &leaf);
    EXPECT_STREQ(copy->Name, "root");
    EXPECT_TRUE(c.GuardIntact());
}

TEST(ConvertTree, ConvertsMembersReferencesAndTextWithinTheAnnouncedSize) {
    Types t;
    LeafV1 shared = {10, -7};
    LeafV1 leaves[2] = {{20, 123456}, {30, 0}};
    LeafV1* refs[3] = {&shared, nullptr, &leaves[0]};
    NodeV1 next = {2, nullptr, &shared, 0, nullptr, 0, nullptr, const_cast<char*>("next")};
    NodeV1 root = {1, &next, &shared, 2, leaves, 3, refs, const_cast<char*>("root")};

    Converted c = ConvertGuarded(t.nodeV1, &root, t.nodeV2);
    ASSERT_NE(+c.root, nullptr);
    EXPECT_TRUE(c.GuardIntact());
    auto* r = static_cast<NodeV2*>(c.root);
    EXPECT_STREQ(r->Name, "root");  // strings are shared with the source
    EXPECT_EQ(+r->Id, 1.0f);
    ASSERT_TRUE(c.Inside(r->Next));
    EXPECT_EQ(+r->Next->Id, 2.0f);
    EXPECT_EQ(+r->Next->Next, nullptr);
    // One copy of the shared leaf, reached from three places.
    ASSERT_TRUE(c.Inside(r->Leaf));
    EXPECT_EQ(+r->Next->Leaf, +r->Leaf);
    ASSERT_EQ(+r->RefCount, 3);
    EXPECT_EQ(+r->Refs[0], +r->Leaf);
    EXPECT_EQ(+r->Refs[1], nullptr);
    EXPECT_EQ(+r->Leaf->Value, 10.0f);
    EXPECT_EQ(+r->Leaf->Extra, 0);
    ASSERT_TRUE(c.Inside(r->Leaf->Number));
    EXPECT_STREQ(r->Leaf->Number, "-7");
    ASSERT_EQ(+r->LeafCount, 2);
    ASSERT_TRUE(c.Inside(r->Leaves));
    EXPECT_EQ(+r->Leaves[1].Value, 30.0f);
    EXPECT_STREQ(r->Leaves[0].Number, "123456");
    EXPECT_STREQ(r->Leaves[1].Number, "0");
    // The array element that a reference converted earlier still holds a converted element.
    ASSERT_TRUE(c.Inside(r->Refs[2]));
    EXPECT_EQ(+r->Refs[2]->Value, 20.0f);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(r->Refs) % sizeof(void*), 0u);
}

TEST(ConvertTree, ArrayElementsAreConvertedEvenWhenAReferenceReachedThemFirst) {
    Types t;
    LeafV1 leaves[3] = {{1, 1}, {2, 2}, {3, 3}};
    // The single reference is converted before the array and points at its middle element.
    NodeV1 root = {1, nullptr, &leaves[1], 3, leaves, 0, nullptr, nullptr};
    Converted c = ConvertGuarded(t.nodeV1, &root, t.nodeV2);
    auto* r = static_cast<NodeV2*>(c.root);
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(c.GuardIntact());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(+r->Leaves[i].Value, float(i + 1));
        EXPECT_EQ(std::string(r->Leaves[i].Number), std::to_string(i + 1));
    }
    EXPECT_EQ(+r->Leaf->Value, 2.0f);
}

TEST(ConvertTree, WiderDestinationArraysHaveEmptyExtraSlots) {
    Types t(2);
    LeafV1 leaves[2] = {{5, 6}, {7, 8}};
    NodeV1 root = {1, nullptr, nullptr, 2, leaves, 0, nullptr, nullptr};
    Converted c = ConvertGuarded(t.nodeV1, &root, t.nodeV2);
    auto* r = static_cast<NodeV2*>(c.root);
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(c.GuardIntact());
    ASSERT_EQ(+r->LeafCount, 2);
    EXPECT_EQ(+r->Leaves[0].Value, 5.0f);
    EXPECT_EQ(+r->Leaves[1].Value, 0.0f);
    EXPECT_EQ(+r->Leaves[1].Number, nullptr);
    EXPECT_EQ(+r->Leaves[2].Value, 7.0f);
    EXPECT_EQ(+r->Leaves[3].Number, nullptr);
}

// An array of unchanged elements whose groups change width is regrouped in the converted tree:
// sharing the source array would read past its end (wider groups) or mix up its groups.
TEST(ConvertTree, ArraysOfUnchangedElementsAreRegroupedWhenTheirWidthChanges) {
#pragma pack(push, 4)
    struct Holder {
        int32_t Count;
        int32_t* Values;
    };
#pragma pack(pop)
    Def narrow[] = {MemberRecord(OrvaneReferenceToArrayMember, "Values", OrvaneInt32Type, 1),
                    EndRecord()};
    Def wide[] = {MemberRecord(OrvaneReferenceToArrayMember, "Values", OrvaneInt32Type, 2),
                  EndRecord()};

    int32_t two[2] = {1, 2};
    Holder source = {2, two};
    Converted widened = ConvertGuarded(narrow, &source, wide);
    auto* w = static_cast<Holder*>(widened.root);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(widened.GuardIntact());
    ASSERT_EQ(+w->Count, 2);
    ASSERT_TRUE(widened.Inside(w->Values));
    EXPECT_EQ(w->Values[0], 1);
    EXPECT_EQ(w->Values[1], 0);
    EXPECT_EQ(w->Values[2], 2);
    EXPECT_EQ(w->Values[3], 0);

    int32_t four[4] = {1, 2, 3, 4};
    source = {2, four};
    Converted narrowed = ConvertGuarded(wide, &source, narrow);
    auto* n = static_cast<Holder*>(narrowed.root);
    ASSERT_NE(n, nullptr);
    EXPECT_TRUE(narrowed.GuardIntact());
    ASSERT_EQ(+n->Count, 2);
    ASSERT_TRUE(narrowed.Inside(n->Values));
    EXPECT_EQ(n->Values[0], 1);
    EXPECT_EQ(n->Values[1], 3);

    // Arrays of references regroup the same way.
    Def narrowRefs[] = {MemberRecord(OrvaneArrayOfReferencesMember, "Values", OrvaneInt32Type, 1),
                        EndRecord()};
    Def wideRefs[] = {MemberRecord(OrvaneArrayOfReferencesMember, "Values", OrvaneInt32Type, 2),
                      EndRecord()};
#pragma pack(push, 4)
    struct RefHolder {
        int32_t Count;
        int32_t** Entries;
    };
#pragma pack(pop)
    int32_t* entries[2] = {&two[0], &two[1]};
    RefHolder refs = {2, entries};
    Converted regrouped = ConvertGuarded(narrowRefs, &refs, wideRefs);
    auto* r = static_cast<RefHolder*>(regrouped.root);
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(regrouped.GuardIntact());
    ASSERT_EQ(+r->Count, 2);
    ASSERT_TRUE(regrouped.Inside(r->Entries));
    ASSERT_TRUE(regrouped.Inside(r->Entries[0]));
    EXPECT_EQ(*r->Entries[0], 1);
    EXPECT_EQ(+r->Entries[1], nullptr);
    ASSERT_TRUE(regrouped.Inside(r->Entries[2]));
    EXPECT_EQ(*r->Entries[2], 2);
    EXPECT_EQ(+r->Entries[3], nullptr);

    // With equal widths the array is still shared with the source.
    source = {2, two};
    Converted same = ConvertGuarded(narrow, &source, narrow);
    auto* s = static_cast<Holder*>(same.root);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(+s->Values, two);
}

TEST(ConvertTree, ArraysWithoutElementsOrPointersBecomeEmpty) {
    Types t;
    LeafV1 leaf = {1, 2};
    NodeV1 root = {1, nullptr, nullptr, 4, nullptr, -3, reinterpret_cast<LeafV1**>(&leaf), nullptr};
    Converted c = ConvertGuarded(t.nodeV1, &root, t.nodeV2);
    auto* r = static_cast<NodeV2*>(c.root);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(+r->LeafCount, 0);
    EXPECT_EQ(+r->Leaves, nullptr);
    EXPECT_EQ(+r->RefCount, 0);
    EXPECT_EQ(+r->Refs, nullptr);
}

TEST(ConvertTree, AllocatedAndInPlaceResultsAgree) {
    Types t;
    LeafV1 shared = {10, 11};
    LeafV1* refs[2] = {&shared, &shared};
    NodeV1 root = {1, nullptr, &shared, 1, &shared, 2, refs, nullptr};
    auto* allocated = static_cast<NodeV2*>(OrvaneConvertTree(t.nodeV1, &root, t.nodeV2));
    ASSERT_NE(allocated, nullptr);
    Converted c = ConvertGuarded(t.nodeV1, &root, t.nodeV2);
    auto* inPlace = static_cast<NodeV2*>(c.root);
    EXPECT_EQ(+allocated->Leaf->Value, +inPlace->Leaf->Value);
    EXPECT_STREQ(allocated->Leaf->Number, "11");
    EXPECT_EQ(+allocated->Refs[0], +allocated->Refs[1]);
    EXPECT_EQ(+allocated->Refs[0], +allocated->Leaf);
    // Same layout: each pointer sits at the same offset from its block's start.
    auto offset = [](const void* p, const void* base) {
        return static_cast<const char*>(p) - static_cast<const char*>(base);
    };
    EXPECT_EQ(offset(allocated->Leaves, allocated), offset(inPlace->Leaves, inPlace));
    EXPECT_EQ(offset(allocated->Refs, allocated), offset(inPlace->Refs, inPlace));
    OrvaneFreeBuilderResult(allocated);
    EXPECT_EQ(OrvaneConvertTree(t.nodeV1, nullptr, t.nodeV2), nullptr);
    EXPECT_EQ(OrvaneGetConvertedTreeSize(t.nodeV1, nullptr, t.nodeV2), 0);
}

TEST(ConvertTree, CyclesTerminateAndStayCycles) {
    Types t;
    NodeV1 a = {1, nullptr, nullptr, 0, nullptr, 0, nullptr, nullptr};
    NodeV1 b = {2, &a, nullptr, 0, nullptr, 0, nullptr, nullptr};
    a.Next = &b;
    Converted c = ConvertGuarded(t.nodeV1, &a, t.nodeV2);
    auto* r = static_cast<NodeV2*>(c.root);
    ASSERT_NE(r, nullptr);
    const int32_t objectSize = OrvaneGetTotalObjectSize(t.nodeV2);
    const int32_t P = int32_t(sizeof(void*));
    EXPECT_EQ(+c.size, (objectSize + P - 1) / P * P + objectSize);  // copies start aligned
    EXPECT_EQ(+r->Next->Next, r);
    EXPECT_EQ(+r->Next->Id, 2.0f);
    EXPECT_TRUE(c.GuardIntact());
}

// Node { Children: ReferenceToArray of Node }: a child whose Children is the array that holds
// it forms a cycle through an array.
TEST(ConvertTree, CyclesThroughArraysTerminate) {
#pragma pack(push, 4)
    struct ListV1 {
        int32_t Id;
        int32_t ChildCount;
        ListV1* Children;
    };
    struct ListV2 {
        float Id;
        int32_t ChildCount;
        ListV2* Children;
    };
#pragma pack(pop)
    Def v1[3], v2[3];
    Def a[] = {MemberRecord(OrvaneInt32Member, "Id"),
               MemberRecord(OrvaneReferenceToArrayMember, "Children", v1), EndRecord()};
    Def b[] = {MemberRecord(OrvaneReal32Member, "Id"),
               MemberRecord(OrvaneReferenceToArrayMember, "Children", v2), EndRecord()};
    std::memcpy(v1, a, sizeof a);
    std::memcpy(v2, b, sizeof b);
    ListV1 children[2];
    children[0] = {1, 2, children};
    children[1] = {2, 0, nullptr};
    ListV1 root = {0, 2, children};
    Converted c = ConvertGuarded(v1, &root, v2);
    auto* r = static_cast<ListV2*>(c.root);
    ASSERT_NE(r, nullptr);
    EXPECT_TRUE(c.GuardIntact());
    EXPECT_EQ(+r->Children[0].Id, 1.0f);
    EXPECT_EQ(+r->Children[0].Children, +r->Children);
    EXPECT_EQ(+r->Children[1].Id, 2.0f);
}

TEST(ConvertTree, HeavySharingIsConvertedOncePerObject) {
    // 40 levels, each node referring twice to the next: 2^40 paths, 40 objects.
#pragma pack(push, 4)
    struct Pair {
        int32_t Id;
        Pair* Left;
        Pair* Right;
    };
#pragma pack(pop)
    Def v1[4], v2[4];
    Def a[] = {MemberRecord(OrvaneInt32Member, "Id"),
               MemberRecord(OrvaneReferenceMember, "Left", v1),
               MemberRecord(OrvaneReferenceMember, "Right", v1), EndRecord()};
    Def b[] = {MemberRecord(OrvaneInt16Member, "Id"),
               MemberRecord(OrvaneReferenceMember, "Left", v2),
               MemberRecord(OrvaneReferenceMember, "Right", v2), EndRecord()};
    std::memcpy(v1, a, sizeof a);
    std::memcpy(v2, b, sizeof b);
    std::vector<Pair> nodes(40);
    for (int i = 0; i < 40; ++i) {
        Pair* next = i + 1 < 40 ? &nodes[size_t(i) + 1] : nullptr;
        nodes[size_t(i)] = {i, next, next};
    }
    Converted c = ConvertGuarded(v1, nodes.data(), v2);
    ASSERT_NE(+c.root, nullptr);
    EXPECT_TRUE(c.GuardIntact());
    const int32_t objectSize = OrvaneGetTotalObjectSize(v2);
    const int32_t stride =
        (objectSize + int32_t(sizeof(void*)) - 1) / int32_t(sizeof(void*)) * int32_t(sizeof(void*));
    EXPECT_EQ(+c.size, 39 * stride + objectSize);
}

TEST(ConvertTree, TooDeepChainsFailCleanly) {
    Types t;
    std::vector<NodeV1> chain(orvane::kMaxConversionDepth + 10);
    for (size_t i = 0; i < chain.size(); ++i)
        chain[i] = {int32_t(i), i + 1 < chain.size() ? &chain[i + 1] : nullptr,
                    nullptr,    0,
                    nullptr,    0,
                    nullptr,    nullptr};
    LogCapture log;
    EXPECT_EQ(OrvaneGetConvertedTreeSize(t.nodeV1, chain.data(), t.nodeV2), 0);
    EXPECT_EQ(OrvaneConvertTree(t.nodeV1, chain.data(), t.nodeV2), nullptr);
    EXPECT_GE(log.errors(), 1u);

    // A chain well inside the limit converts.
    chain[200].Next = nullptr;
    Converted c = ConvertGuarded(t.nodeV1, chain.data(), t.nodeV2);
    ASSERT_NE(+c.root, nullptr);
    EXPECT_TRUE(c.GuardIntact());
}

TEST(ConvertTree, TextFromRealsNormalisedAndUnsignedNumbers) {
#pragma pack(push, 1)
    struct Source {
        float A;
        uint32_t B;
        uint8_t C;
        int16_t D;
    } source = {1.5f, 0xFFFFFFFFu, 255, -300};
#pragma pack(pop)
    Def sourceType[] = {MemberRecord(OrvaneReal32Member, "A"),
                        MemberRecord(OrvaneUInt32Member, "B"),
                        MemberRecord(OrvaneNormalUInt8Member, "C"),
                        MemberRecord(OrvaneInt16Member, "D"), EndRecord()};
    Def destinationType[] = {
        MemberRecord(OrvaneStringMember, "A"), MemberRecord(OrvaneStringMember, "B"),
        MemberRecord(OrvaneStringMember, "C"), MemberRecord(OrvaneStringMember, "D"), EndRecord()};
    Converted c = ConvertGuarded(sourceType, &source, destinationType);
    auto* texts = static_cast<char**>(c.root);
    ASSERT_NE(texts, nullptr);
    EXPECT_TRUE(c.GuardIntact());
    EXPECT_STREQ(texts[0], "1.500000");
    EXPECT_STREQ(texts[1], "4294967295");
    EXPECT_STREQ(texts[2], "1.000000");
    EXPECT_STREQ(texts[3], "-300");
    // Each text takes whole 4-byte units after the root.
    EXPECT_EQ(+c.size, 4 * int32_t(sizeof(char*)) + 12 + 12 + 12 + 8);
}

TEST(ConvertTree, FixUpRedirectsPointersOnlyToCopiesOfTheExpectedType) {
    Types t;
#pragma pack(push, 4)
    struct Source {
        LeafV1* R1;
        LeafV1* R2;
        orvane_variant V;
    };
    struct Destination {
        LeafV2* R1;
        LeafV2* R2;
        orvane_variant V;
    };
#pragma pack(pop)
    // R2 declares the destination layout on both sides, so its pointer is copied and only the
    // fix-up walk aims it at the copy; the variant names the source layout and keeps its object.
    Def sourceType[] = {MemberRecord(OrvaneReferenceMember, "R1", t.leafV1),
                        MemberRecord(OrvaneReferenceMember, "R2", t.leafV2),
                        MemberRecord(OrvaneVariantReferenceMember, "V"), EndRecord()};
    Def destinationType[] = {MemberRecord(OrvaneReferenceMember, "R1", t.leafV2),
                             MemberRecord(OrvaneReferenceMember, "R2", t.leafV2),
                             MemberRecord(OrvaneVariantReferenceMember, "V"), EndRecord()};
    LeafV1 x = {4, 5};
    Source source = {&x, &x, {t.leafV1, &x}};
    Converted c = ConvertGuarded(sourceType, &source, destinationType);
    auto* d = static_cast<Destination*>(c.root);
    ASSERT_NE(d, nullptr);
    ASSERT_TRUE(c.Inside(d->R1));
    EXPECT_EQ(+d->R1->Value, 4.0f);
    EXPECT_EQ(+d->R2, +d->R1);
    EXPECT_EQ(+d->V.Type, +t.leafV1);
    EXPECT_EQ(+d->V.Object, &x);
}

TEST(ConvertTree, SwitchableMembersConvertThroughTheirTables) {
    Types t;
    orvane_data_type_definition* sourceTable[] = {t.nodeV1, t.leafV1, nullptr};
    orvane_data_type_definition* destinationTable[] = {t.nodeV2, t.leafV2, nullptr};
#pragma pack(push, 4)
    struct Holder {
        int32_t Index;
        void* Object;
        int32_t Other;
        void* OtherObject;
    };
#pragma pack(pop)
    Def sourceType[] = {
        MemberRecord(OrvaneSwitchableTypeMember, "S", reinterpret_cast<Def*>(sourceTable)),
        MemberRecord(OrvaneSwitchableTypeMember, "Bad", reinterpret_cast<Def*>(sourceTable)),
        EndRecord()};
    Def destinationType[] = {
        MemberRecord(OrvaneSwitchableTypeMember, "S", reinterpret_cast<Def*>(destinationTable)),
        MemberRecord(OrvaneSwitchableTypeMember, "Bad", reinterpret_cast<Def*>(destinationTable)),
        EndRecord()};
    LeafV1 leaf = {8, 9};
    Holder source = {1, &leaf, 7, &leaf};
    LogCapture log;  // equality of switchable members warns
    Converted c = ConvertGuarded(sourceType, &source, destinationType);
    auto* h = static_cast<Holder*>(c.root);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(+h->Index, 1);
    ASSERT_TRUE(c.Inside(h->Object));
    EXPECT_EQ(+static_cast<LeafV2*>(h->Object)->Value, 8.0f);
    EXPECT_STREQ(static_cast<LeafV2*>(h->Object)->Number, "9");
    EXPECT_EQ(+h->Other, 7);
    EXPECT_EQ(+h->OtherObject, nullptr);  // no type at index 7
    EXPECT_TRUE(c.GuardIntact());
}

// ---------------------------------------------------------------------------------------------
// Curves
// ---------------------------------------------------------------------------------------------

#pragma pack(push, 4)
struct OldCurveInts {  // knots stored as 16-bit integers: they need converting
    int32_t Degree;
    int32_t KnotCount;
    int16_t* Knots;
    int32_t ControlCount;
    float* Controls;
};
struct OldTrack {
    char* Name;
    orvane_old_curve PositionCurve;
    OldCurveInts OrientationCurve;
    orvane_old_curve ScaleShearCurve;
};
#pragma pack(pop)

class OldCurves : public ::testing::Test {
protected:
    // Elements convert member by member, so the element member carries the name of the
    // destination element type's member.
    Def int16Array_[2] = {MemberRecord(OrvaneInt16Member, "Real32"), EndRecord()};
    Def oldInts_[6] = {MemberRecord(OrvaneInt32Member, "Degree"),
                       MemberRecord(OrvaneReferenceToArrayMember, "Knots", int16Array_),
                       MemberRecord(OrvaneReferenceToArrayMember, "Controls", OrvaneReal32Type),
                       EndRecord()};
    Def oldTrack_[5] = {MemberRecord(OrvaneStringMember, "Name"),
                        MemberRecord(OrvaneInlineMember, "PositionCurve", OrvaneOldCurveType),
                        MemberRecord(OrvaneInlineMember, "OrientationCurve", oldInts_),
                        MemberRecord(OrvaneInlineMember, "ScaleShearCurve", OrvaneOldCurveType),
                        EndRecord()};
    float knots_[3] = {0.0f, 0.5f, 1.0f};
    float controls_[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    int16_t intKnots_[2] = {0, 2};
    float quats_[8] = {0, 0, 0, 1, 0, 0, 1, 0};
    OldTrack track_ = {const_cast<char*>("Hips"),
                       {2, 3, knots_, 9, controls_},
                       {1, 2, intKnots_, 8, quats_},
                       {0, 0, nullptr, 0, nullptr}};
};

TEST_F(OldCurves, BecomeDaK32fC32fCurvesWithTheSameKnotsAndControls) {
    Converted c = ConvertGuarded(oldTrack_, &track_, OrvaneTransformTrackType);
    auto* t = static_cast<orvane_transform_track*>(c.root);
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(c.GuardIntact());
    EXPECT_STREQ(t->Name, "Hips");

    const orvane_curve2& position = t->PositionCurve;
    ASSERT_EQ(+position.CurveData.Type, OrvaneCurveDataDaK32fC32fType);
    ASSERT_TRUE(c.Inside(position.CurveData.Object));
    EXPECT_TRUE(OrvaneCurveFormatIsInitializedCorrectly(&position));
    auto* p = OrvaneCurveGetContentsOfDaK32fC32f(&position);
    EXPECT_EQ(+p->CurveDataHeader.Format, OrvaneCurveFormatDaK32fC32f);
    EXPECT_EQ(+p->CurveDataHeader.Degree, 2);
    EXPECT_EQ(+p->KnotCount, 3);
    EXPECT_EQ(+p->Knots, knots_);  // unchanged element type: shared
    EXPECT_EQ(+p->ControlCount, 9);
    EXPECT_EQ(+p->Controls, controls_);
    EXPECT_EQ(OrvaneCurveGetDimension(&position), 3);

    // Integer knots are converted into the block.
    auto* o = OrvaneCurveGetContentsOfDaK32fC32f(&t->OrientationCurve);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(+o->KnotCount, 2);
    ASSERT_TRUE(c.Inside(o->Knots));
    EXPECT_EQ(+o->Knots[1], 2.0f);
    EXPECT_EQ(+o->ControlCount, 8);
    EXPECT_EQ(OrvaneCurveGetDimension(&t->OrientationCurve), 4);

    // A curve without knots becomes an empty DaK32fC32f curve.
    auto* s = OrvaneCurveGetContentsOfDaK32fC32f(&t->ScaleShearCurve);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(+s->KnotCount, 0);
    EXPECT_EQ(+s->ControlCount, 0);
}

TEST_F(OldCurves, AllocatedConversionMatches) {
    auto* t = static_cast<orvane_transform_track*>(
        OrvaneConvertTree(oldTrack_, &track_, OrvaneTransformTrackType));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(OrvaneCurveGetKnotCount(&t->PositionCurve), 3);
    EXPECT_EQ(OrvaneCurveGetKnotCount(&t->OrientationCurve), 2);
    OrvaneFreeBuilderResult(t);
}

TEST(NewCurves, AreReinitialisedEvenWhenTheirTypesAreUnchanged) {
    // A copy of the library's track description: equal, but holding curves, so converted.
    float knots[2] = {0, 1};
    float controls[2] = {5, 6};
    orvane_curve_data_da_k32f_c32f data = {};
    orvane_transform_track track = {};
    track.Name = const_cast<char*>("Root");
    OrvaneCurveMakeStaticDaK32fC32f(&track.PositionCurve, &data, 2, 1, 1, knots, controls);
    data.CurveDataHeader.Format = 200;  // stale format code
    const int32_t size =
        OrvaneGetConvertedTreeSize(OrvaneTransformTrackType, &track, OrvaneTransformTrackType);
    EXPECT_EQ(size, OrvaneGetTotalObjectSize(OrvaneTransformTrackType));
    auto* t = static_cast<orvane_transform_track*>(
        OrvaneConvertTree(OrvaneTransformTrackType, &track, OrvaneTransformTrackType));
    ASSERT_NE(t, nullptr);
    EXPECT_NE(t, &track);
    EXPECT_EQ(+t->PositionCurve.CurveData.Object, &data);
    EXPECT_EQ(+data.CurveDataHeader.Format, OrvaneCurveFormatDaK32fC32f);
    EXPECT_TRUE(OrvaneCurveFormatIsInitializedCorrectly(&t->PositionCurve));
    OrvaneFreeBuilderResult(t);
}

}  // namespace

namespace {

// A hostile file may reference one object under two unrelated types. Each reference must get a
// copy laid out for its own type: a shared copy would be read with the wrong layout.
TEST(ConvertTree, OneObjectUnderTwoTypesGetsACopyPerType) {
#pragma pack(push, 4)
    struct Source {
        int32_t* First;
        int32_t* Second;
    };
    struct Small {
        float X;
    };
    struct Large {
        float X;
        float Y;
        char* Name;
    };
    struct Destination {
        Small* First;
        Large* Second;
    };
#pragma pack(pop)
    Def smallV1[] = {MemberRecord(OrvaneInt32Member, "X"), EndRecord()};
    Def largeV1[] = {MemberRecord(OrvaneInt32Member, "X"), MemberRecord(OrvaneInt32Member, "Y"),
                     EndRecord()};
    Def smallV2[] = {MemberRecord(OrvaneReal32Member, "X"), EndRecord()};
    Def largeV2[] = {MemberRecord(OrvaneReal32Member, "X"), MemberRecord(OrvaneReal32Member, "Y"),
                     MemberRecord(OrvaneStringMember, "Name"), EndRecord()};
    Def sourceType[] = {MemberRecord(OrvaneReferenceMember, "First", smallV1),
                        MemberRecord(OrvaneReferenceMember, "Second", largeV1), EndRecord()};
    Def destinationType[] = {MemberRecord(OrvaneReferenceMember, "First", smallV2),
                             MemberRecord(OrvaneReferenceMember, "Second", largeV2), EndRecord()};
    int32_t shared[2] = {3, 4};
    Source source = {shared, shared};
    auto* result =
        static_cast<Destination*>(OrvaneConvertTree(sourceType, &source, destinationType));
    ASSERT_NE(result, nullptr);
    ASSERT_NE(result->First, nullptr);
    ASSERT_NE(result->Second, nullptr);
    EXPECT_NE(static_cast<void*>(result->First), static_cast<void*>(result->Second));
    EXPECT_FLOAT_EQ(result->First->X, 3.0f);
    EXPECT_FLOAT_EQ(result->Second->X, 3.0f);
    EXPECT_FLOAT_EQ(result->Second->Y, 4.0f);
    EXPECT_EQ(result->Second->Name, nullptr);
    OrvaneFreeBuilderResult(result);
}

}  // namespace

#if defined(__linux__)
namespace {

// Descriptions at an address whose bits 5 and up do not fit a positive 32-bit value: the
// equality results of more type pairs than the conversion keeps at once must still be stored
// inside the conversion's own bookkeeping.
TEST(ConvertTree, ManyTypePairsAtHighAddressesConvert) {
    constexpr int kLeaves = 48;
    constexpr uintptr_t kWanted = uintptr_t(0x3000000000);
    constexpr size_t kBytes = 1 << 16;
    void* mapped = mmap(reinterpret_cast<void*>(kWanted), kBytes, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    if (mapped == MAP_FAILED) GTEST_SKIP() << "address range not available";
    if (mapped != reinterpret_cast<void*>(kWanted)) {
        munmap(mapped, kBytes);
        GTEST_SKIP() << "address range not available";
    }
    // One source leaf description per reference, each at its own high address.
    auto* leafTypes = static_cast<Def*>(mapped);
    for (int i = 0; i < kLeaves; ++i) {
        leafTypes[2 * i] = MemberRecord(OrvaneInt32Member, "V");
        leafTypes[2 * i + 1] = EndRecord();
    }
    Def leafV2[] = {MemberRecord(OrvaneReal32Member, "V"), EndRecord()};
    std::vector<std::string> names;
    for (int i = 0; i < kLeaves; ++i)
        names.push_back("R" + std::to_string(i));
    std::vector<Def> sourceType;
    std::vector<Def> destinationType;
    for (int i = 0; i < kLeaves; ++i) {
        sourceType.push_back(
            MemberRecord(OrvaneReferenceMember, names[i].c_str(), &leafTypes[2 * i]));
        destinationType.push_back(MemberRecord(OrvaneReferenceMember, names[i].c_str(), leafV2));
    }
    sourceType.push_back(EndRecord());
    destinationType.push_back(EndRecord());
    int32_t values[kLeaves];
    int32_t* source[kLeaves];
    for (int i = 0; i < kLeaves; ++i) {
        values[i] = 100 + i;
        source[i] = &values[i];
    }

    Converted c = ConvertGuarded(sourceType.data(), source, destinationType.data());
    ASSERT_NE(+c.root, nullptr);
    EXPECT_TRUE(c.GuardIntact());
    float* const* result = static_cast<float* const*>(c.root);
    for (int i = 0; i < kLeaves; ++i) {
        ASSERT_TRUE(c.Inside(result[i])) << i;
        EXPECT_EQ(*result[i], float(100 + i)) << i;
    }
    auto* allocated =
        static_cast<float**>(OrvaneConvertTree(sourceType.data(), source, destinationType.data()));
    ASSERT_NE(allocated, nullptr);
    for (int i = 0; i < kLeaves; ++i)
        EXPECT_EQ(*allocated[i], float(100 + i)) << i;
    OrvaneFreeBuilderResult(allocated);
    munmap(mapped, kBytes);
}

}  // namespace
#endif

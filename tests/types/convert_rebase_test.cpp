// Pointer rebasing: a tree built in one block, copied byte for byte into another and rebased
// there, must point into the copy exactly once per pointer.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "orvane/types.h"
#include "orvane/convert.h"
#include "types/orvane_type_layout.h"

using orvane::EndRecord;
using orvane::MemberRecord;

namespace {

using Def = orvane_data_type_definition;

#pragma pack(push, 4)
struct Leaf {
    char* Label;
    int32_t Value;
};
struct Root {
    char* Name;
    Root* Self;
    Leaf* First;
    int32_t LeafCount;
    Leaf* Leaves;
    int32_t RefCount;
    Leaf** Refs;
    orvane_variant Extra;
    char* Missing;
};
struct Extra {
    float Weight;
    Leaf* Link;
};
struct Block {
    Def extraType[3];  // reached through the variant: rebased with the tree
    Def leafType[3];   // what extraType refers to
    Root root;
    Leaf leaves[2];
    Leaf* refs[3];
    Extra extra;
    char text[64];
};
#pragma pack(pop)

class Rebase : public ::testing::Test {
protected:
    void SetUp() override {
        Def leaf[] = {MemberRecord(OrvaneStringMember, "Label"),
                      MemberRecord(OrvaneInt32Member, "Value"), EndRecord()};
        std::memcpy(leafDescription_, leaf, sizeof leaf);
        Def root[] = {MemberRecord(OrvaneStringMember, "Name"),
                      MemberRecord(OrvaneReferenceMember, "Self", rootDescription_),
                      MemberRecord(OrvaneReferenceMember, "First", leafDescription_),
                      MemberRecord(OrvaneReferenceToArrayMember, "Leaves", leafDescription_),
                      MemberRecord(OrvaneArrayOfReferencesMember, "Refs", leafDescription_),
                      MemberRecord(OrvaneVariantReferenceMember, "Extra"),
                      MemberRecord(OrvaneStringMember, "Missing"),
                      EndRecord()};
        std::memcpy(rootDescription_, root, sizeof root);
        Build(original_.get());
        std::memcpy(static_cast<void*>(copy_.get()), original_.get(), sizeof(Block));
        offset_ =
            reinterpret_cast<intptr_t>(copy_.get()) - reinterpret_cast<intptr_t>(original_.get());
    }

    static void Build(Block* b) {
        std::memset(static_cast<void*>(b), 0, sizeof(Block));
        std::memcpy(b->text, "root\0a\0b\0Weight\0Link\0Label\0Value", 33);
        char* root = b->text;
        char* a = b->text + 5;
        char* bee = b->text + 7;
        b->leaves[0] = {a, 1};
        b->leaves[1] = {bee, 2};
        b->refs[0] = &b->leaves[0];
        b->refs[1] = &b->leaves[0];
        b->refs[2] = nullptr;
        b->leafType[0] = MemberRecord(OrvaneStringMember, b->text + 21);
        b->leafType[1] = MemberRecord(OrvaneInt32Member, b->text + 27);
        b->leafType[2] = EndRecord();
        b->extraType[0] = MemberRecord(OrvaneReal32Member, b->text + 9);
        b->extraType[1] = MemberRecord(OrvaneReferenceMember, b->text + 16, b->leafType);
        b->extraType[2] = EndRecord();
        b->extra = {0.5f, &b->leaves[1]};
        b->root = {root,      &b->root, &b->leaves[0], 2,
                   b->leaves, 3,        b->refs,       {b->extraType, &b->extra},
                   nullptr};
    }

    bool InCopy(const void* p) const {
        auto* c = reinterpret_cast<const char*>(copy_.get());
        auto* q = static_cast<const char*>(p);
        return q >= c && q < c + sizeof(Block);
    }

    Def leafDescription_[3];
    Def rootDescription_[8];
    std::unique_ptr<Block> original_ = std::make_unique<Block>();
    std::unique_ptr<Block> copy_ = std::make_unique<Block>();
    intptr_t offset_ = 0;
};

TEST_F(Rebase, MovesEveryPointerOnceAndStringsWhenAsked) {
    Block& b = *copy_;
    ASSERT_TRUE(OrvaneRebasePointers(rootDescription_, &b.root, offset_, true));
    EXPECT_EQ(+b.root.Self, +&b.root);
    EXPECT_EQ(+b.root.First, +&b.leaves[0]);
    EXPECT_EQ(+b.root.Leaves, +b.leaves);
    EXPECT_EQ(+b.root.Refs, +b.refs);
    EXPECT_EQ(+b.refs[0], +&b.leaves[0]);
    EXPECT_EQ(+b.refs[1], +&b.leaves[0]);
    EXPECT_EQ(+b.refs[2], nullptr);
    EXPECT_STREQ(b.root.Name, "root");
    EXPECT_TRUE(InCopy(b.root.Name));
    EXPECT_TRUE(InCopy(b.leaves[0].Label));
    EXPECT_STREQ(b.leaves[1].Label, "b");
    EXPECT_TRUE(InCopy(b.leaves[1].Label));
    EXPECT_EQ(+b.root.Missing, nullptr);
    // The variant, its description (names and referenced description) and its object.
    EXPECT_EQ(+b.root.Extra.Type, +b.extraType);
    EXPECT_EQ(+b.root.Extra.Object, +&b.extra);
    EXPECT_STREQ(b.extraType[1].Name, "Link");
    EXPECT_TRUE(InCopy(b.extraType[1].Name));
    EXPECT_EQ(+b.extraType[1].ReferenceType, +b.leafType);
    EXPECT_TRUE(InCopy(b.leafType[0].Name));
    EXPECT_EQ(+b.extra.Link, +&b.leaves[1]);
    EXPECT_EQ(+b.extraType[0].TraversalMark, 0u);
}

TEST_F(Rebase, LeavesStringsAloneWithoutTheFlag) {
    Block& b = *copy_;
    ASSERT_TRUE(OrvaneRebasePointers(rootDescription_, &b.root, offset_, false));
    EXPECT_EQ(+b.root.First, +&b.leaves[0]);
    EXPECT_EQ(+b.root.Name, +original_->root.Name);
    EXPECT_EQ(+b.leaves[0].Label, +original_->leaves[0].Label);
    EXPECT_EQ(+b.extraType[1].Name, +original_->extraType[1].Name);
    EXPECT_EQ(+b.extra.Link, +&b.leaves[1]);
}

struct Calls {
    std::vector<uintptr_t> seen;
};

char* Replace(void* user, uintptr_t stored) {
    static char replaced[] = "replaced";
    static_cast<Calls*>(user)->seen.push_back(stored);
    return replaced;
}

TEST_F(Rebase, CallbackReplacesEveryStringIncludingNullOnes) {
    Block& b = *copy_;
    Calls calls;
    ASSERT_TRUE(
        OrvaneRebasePointersStringCallback(rootDescription_, &b.root, offset_, &Replace, &calls));
    EXPECT_EQ(+b.root.First, +&b.leaves[0]);
    EXPECT_STREQ(b.root.Name, "replaced");
    EXPECT_STREQ(b.root.Missing, "replaced");
    EXPECT_STREQ(b.leaves[0].Label, "replaced");
    EXPECT_STREQ(b.extraType[0].Name, "replaced");
    // Strings: Name, Missing, two labels; names: two in each of the two descriptions.
    EXPECT_EQ(calls.seen.size(), 8u);
    size_t nulls = 0;
    for (uintptr_t value : calls.seen)
        nulls += value == 0;
    EXPECT_EQ(nulls, 1u);
}

TEST_F(Rebase, ObjectWithoutPointersAndZeroOffsetAreHarmless) {
    int32_t value = 5;
    EXPECT_TRUE(OrvaneRebasePointers(OrvaneInt32Type, &value, 0x1000, true));
    EXPECT_EQ(value, 5);
    Block& o = *original_;
    ASSERT_TRUE(OrvaneRebasePointers(rootDescription_, &o.root, 0, true));
    EXPECT_EQ(+o.root.Self, +&o.root);
    EXPECT_EQ(+o.refs[1], +&o.leaves[0]);
    EXPECT_TRUE(OrvaneRebasePointers(rootDescription_, nullptr, 0x1000, true));
}

// Members embedded in place and arrays whose element type travels with them are walked too.
TEST(RebaseEmbedded, InlineMembersAndVariantArraysAreFollowed) {
#pragma pack(push, 4)
    struct Inner {
        char* Text;
        int32_t* Target;
    };
    struct Element {
        char* Label;
    };
    struct Outer {
        Inner Embedded;
        Def* ElementType;
        int32_t ElementCount;
        Element* Elements;
    };
    struct Image {
        Def elementType[2];
        Outer outer;
        Element elements[2];
        char text[16];
        int32_t target;
    };
#pragma pack(pop)
    static Def inner[] = {MemberRecord(OrvaneStringMember, "Text"),
                          MemberRecord(OrvaneReferenceMember, "Target", OrvaneInt32Type),
                          EndRecord()};
    static Def outer[] = {MemberRecord(OrvaneInlineMember, "Embedded", inner),
                          MemberRecord(OrvaneReferenceToVariantArrayMember, "Elements"),
                          EndRecord()};
    auto original = std::make_unique<Image>();
    Image& o = *original;
    std::memset(static_cast<void*>(&o), 0, sizeof o);
    std::memcpy(o.text, "one\0Label", 10);
    o.elementType[0] = MemberRecord(OrvaneStringMember, o.text + 4);
    o.elementType[1] = EndRecord();
    o.outer = {{o.text, &o.target}, o.elementType, 2, o.elements};
    o.elements[0].Label = o.text;
    o.elements[1].Label = nullptr;

    auto copy = std::make_unique<Image>();
    std::memcpy(static_cast<void*>(copy.get()), &o, sizeof o);
    const intptr_t offset = reinterpret_cast<intptr_t>(copy.get()) - reinterpret_cast<intptr_t>(&o);
    Image& c = *copy;
    ASSERT_TRUE(OrvaneRebasePointers(outer, &c.outer, offset, true));
    EXPECT_EQ(+c.outer.Embedded.Text, +c.text);
    EXPECT_EQ(+c.outer.Embedded.Target, +&c.target);
    EXPECT_EQ(+c.outer.ElementType, +c.elementType);
    EXPECT_EQ(+c.outer.ElementCount, 2);
    EXPECT_EQ(+c.outer.Elements, +c.elements);
    EXPECT_EQ(+c.elements[0].Label, +c.text);
    EXPECT_EQ(+c.elements[1].Label, nullptr);
    EXPECT_EQ(+c.elementType[0].Name, +(c.text + 4));
    EXPECT_STREQ(c.elementType[0].Name, "Label");
}

}  // namespace

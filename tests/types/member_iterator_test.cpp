// The member iterator over the standard descriptions and over a small content tree.
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "orvane/types.h"
#include "support/log_capture.h"
#include "types/orvane_member_iterator.h"
#include "types/orvane_type_layout.h"

using namespace orvane;
using orvane_test::LogCapture;

namespace {

using Def = orvane_data_type_definition;

TEST(MemberIterator, MeshMembersAndTheirSlots) {
    orvane_morph_target targets[2] = {};
    orvane_mesh mesh = {};
    mesh.MorphTargetCount = 2;
    mesh.MorphTargets = targets;
    const int32_t kinds[] = {8, 2, 3, 2, 3, 3, 5};
    int i = 0;
    for (MemberIterator it = MemberIterator::OverMembers(OrvaneMeshType, &mesh); it.Valid();
         it.Advance(), ++i) {
        ASSERT_LT(i, 7);
        EXPECT_EQ(it.kind, kinds[i]);
        EXPECT_EQ(it.remaining, 1);
        if (i == 2) {
            EXPECT_EQ(it.countSlot, static_cast<void*>(&mesh.MorphTargetCount));
            EXPECT_EQ(it.arraySlot, static_cast<void*>(&mesh.MorphTargets));
            EXPECT_EQ(it.pointerSlot, nullptr);
            EXPECT_EQ(it.subType, OrvaneMorphTargetType);
            EXPECT_EQ(it.Count(), 2);
            EXPECT_EQ(it.ArrayPointer(), targets);
        }
        if (i == 6) {
            EXPECT_EQ(it.typeSlot, static_cast<void*>(&mesh.ExtendedData.Type));
            EXPECT_EQ(it.pointerSlot, static_cast<void*>(&mesh.ExtendedData.Object));
        }
    }
    EXPECT_EQ(i, 7);
}

// Over every standard description: one item per member, at the offset the layout walk computes,
// with every slot inside the member's storage.
TEST(MemberIterator, EveryStandardDescription) {
    std::vector<const Def*> types;
    for (int i = 0; i < OrvaneGetDefinedTypeCount(); ++i)
        types.push_back(+OrvaneDefinedTypes[i].Type);
    for (const Def* t : {OrvaneFileInfoType, OrvaneOldCurveType, OrvaneTransformType,
                         OrvaneTripleType, OrvaneEmptyType}) {
        types.push_back(t);
    }
    for (const Def* type : types) {
        std::vector<unsigned char> object(OrvaneGetTotalObjectSize(type) + 1);
        OrvaneMakeEmptyDataTypeObject(type, object.data());
        int32_t records = 0;
        ASSERT_TRUE(GetTypeRecordCount(TypeRecords::Native(), type, &records));
        int members = 0;
        for (MemberIterator it = MemberIterator::OverMembers(type, object.data()); it.Valid();
             it.Advance(), ++members) {
            const Def* record = type + members;
            EXPECT_EQ(it.member, record);
            int32_t offset = -1;
            ASSERT_TRUE(
                GetMemberOffset(TypeRecords::Native(), DataLayout::Native, type, record, &offset));
            EXPECT_EQ(it.data, object.data() + offset);
            EXPECT_EQ(it.stride, OrvaneGetMemberTypeSize(record));
            for (void* slot : {it.countSlot, it.pointerSlot, it.arraySlot, it.typeSlot}) {
                if (slot == nullptr) continue;
                auto* p = static_cast<unsigned char*>(slot);
                EXPECT_GE(p, it.data);
                EXPECT_LE(p + 4, it.data + it.stride);
            }
            // Empty members hold no pointers and empty arrays.
            EXPECT_EQ(it.Pointer(), nullptr);
            EXPECT_EQ(it.ArrayPointer(), nullptr);
        }
        EXPECT_EQ(members, records - 1) << (type->Name ? type->Name : "");
    }
}

TEST(MemberIterator, CountIsScaledByTheArrayWidthButNotStored) {
    orvane_int32 values[6] = {1, 2, 3, 4, 5, 6};
    Def type[] = {MemberRecord(OrvaneReferenceToArrayMember, "Pairs", OrvaneInt32Type, 2),
                  EndRecord()};
#pragma pack(push, 4)
    struct {
        orvane_int32 count;
        orvane_int32* values;
    } object = {3, values};
#pragma pack(pop)
    MemberIterator it = MemberIterator::OverMembers(type, &object);
    EXPECT_EQ(it.Count(), 6);
    EXPECT_EQ(it.StoredCount(), 3);
    int visited = 0, sum = 0;
    for (MemberIterator e = it.SubArray(); e.Valid(); e.Advance(), ++visited) {
        EXPECT_EQ(e.mode, kArrayElements);
        EXPECT_EQ(e.stride, 4);
        sum += *reinterpret_cast<orvane_int32*>(e.data);
    }
    EXPECT_EQ(visited, 6);
    EXPECT_EQ(sum, 21);
    EXPECT_EQ(object.count, 3);
}

TEST(MemberIterator, SwitchableVariantAndIllegalRequests) {
    Def* table[] = {OrvaneInt32Type, OrvaneTransformType, nullptr};
    Def type[] = {MemberRecord(OrvaneSwitchableTypeMember, "S", reinterpret_cast<Def*>(table)),
                  MemberRecord(OrvaneVariantReferenceMember, "V"), EndRecord()};
    orvane_transform target = {};
    orvane_int32 number = 5;
#pragma pack(push, 4)
    struct {
        orvane_int32 index;
        void* object;
        orvane_variant variant;
    } object = {1, &target, {OrvaneInt32Type, &number}};
#pragma pack(pop)
    MemberIterator it = MemberIterator::OverMembers(type, &object);
    EXPECT_EQ(it.subType, OrvaneTransformType);
    EXPECT_EQ(it.SubMembers().kind, OrvaneTransformMember);
    EXPECT_EQ(it.SubMembers().data, reinterpret_cast<unsigned char*>(&target));
    object.index = 7;  // outside the table
    EXPECT_EQ(MemberIterator::OverMembers(type, &object).subType, nullptr);
    it.Advance();
    EXPECT_EQ(it.Type(), OrvaneInt32Type);
    EXPECT_EQ(it.subType, OrvaneInt32Type);
    EXPECT_EQ(it.SubMembers().data, reinterpret_cast<unsigned char*>(&number));
    it.SetType(OrvaneReal32Type);  // writes go through the slot
    EXPECT_EQ(+object.variant.Type, OrvaneReal32Type);

    LogCapture log;
    EXPECT_FALSE(it.SubArray().Valid());  // a variant is not an array
    ASSERT_EQ(log.errors(), 1u);
    EXPECT_NE(log.messages()[0].text.find("Illegal iterator type (1) in IterateOverSubMembers"),
              std::string::npos);
    EXPECT_EQ(log.messages()[0].origin, OrvaneMemberIteratorOrigin);
    MemberIterator elements =
        MemberIterator::OverArray(kArrayElements, OrvaneInt32Type, 1, &number);
    EXPECT_FALSE(elements.SubMembers().Valid());
    EXPECT_NE(log.messages()[1].text.find("Illegal iterator type (2)"), std::string::npos);
    EXPECT_FALSE(it.ElementMembers().Valid());  // over an object's members: empty, no message
    EXPECT_EQ(log.errors(), 2u);
}

// A small content tree walked through references, arrays of pointers and variant arrays,
// collecting every string it reaches; shared objects are reached once per reference.
void CollectStrings(MemberIterator it, std::vector<std::string>* out, int depth = 0) {
    ASSERT_LT(depth, 16);
    for (; it.Valid(); it.Advance()) {
        switch (it.kind) {
            case OrvaneStringMember:
                if (it.Pointer()) out->push_back(static_cast<const char*>(it.Pointer()));
                break;
            case OrvaneInlineMember:
            case OrvaneReferenceMember:
            case OrvaneVariantReferenceMember:
                CollectStrings(it.SubMembers(), out, depth + 1);
                break;
            case OrvaneReferenceToArrayMember:
            case OrvaneArrayOfReferencesMember:
            case OrvaneReferenceToVariantArrayMember:
                for (MemberIterator e = it.SubArray(); e.Valid(); e.Advance()) {
                    CollectStrings(e.ElementMembers(), out, depth + 1);
                }
                break;
            default:
                break;
        }
    }
}

TEST(MemberIterator, WalksAContentTree) {
    char root[] = "root", hips[] = "hips", spine[] = "spine", skin[] = "skin", tag[] = "tag";
    orvane_bone bones[2] = {};
    bones[0].Name = root;
    bones[0].ParentIndex = -1;
    bones[1].Name = hips;
    bones[1].ExtendedData = {OrvaneStringType, nullptr};
    char* extra = spine;
    bones[1].ExtendedData.Object = &extra;
    orvane_skeleton skeleton = {nullptr, 2, bones};
    orvane_skeleton* skeletons[2] = {&skeleton, nullptr};
    char* names[1] = {tag};
    orvane_vertex_data vertices = {};
    vertices.VertexType = OrvaneStringType;  // a variant array of strings
    vertices.VertexCount = 1;
    vertices.Vertices = names;
    orvane_mesh mesh = {};
    mesh.Name = skin;
    mesh.PrimaryVertexData = &vertices;
    orvane_mesh* meshes[1] = {&mesh};
    orvane_file_info info = {};
    info.SkeletonCount = 2;
    info.Skeletons = skeletons;
    info.MeshCount = 1;
    info.Meshes = meshes;
    std::vector<std::string> found;
    CollectStrings(MemberIterator::OverMembers(OrvaneFileInfoType, &info), &found);
    EXPECT_EQ(found, (std::vector<std::string>{"root", "hips", "spine", "skin", "tag"}));
}

}  // namespace

// Skeletons: the builder's order and remapping, cycles, lookups and skeleton-relative
// transforms.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "pose/skeleton_test_support.h"
#include "support/log_capture.h"
#include "orvane/skeleton.h"

namespace {

using namespace orvane_test;

const float kZero3[3] = {0, 0, 0};
const float kIdentityQ[4] = {0, 0, 0, 1};
const float kIdentityS[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};

// Adds a bone whose local position is (tag, 0, 0), so that the output order can be read back.
void AddTagged(orvane_skeleton_builder* b, float tag) {
    const float p[3] = {tag, 0, 0};
    OrvaneAddBone(b, p, kIdentityQ, kIdentityS, p, kIdentityQ, kIdentityS);
}

TEST(SkeletonBuilder, SortsParentsBeforeChildren) {
    orvane_skeleton_builder* b = OrvaneBeginSkeleton(3);
    for (int i = 0; i < 3; ++i)
        AddTagged(b, float(i + 1));
    OrvaneSetBoneParent(b, 0, 2);
    OrvaneSetBoneParent(b, 2, 1);
    int32_t remap[3] = {-7, -7, -7};
    SkeletonPtr s(OrvaneEndSkeleton(b, remap));
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->BoneCount, 3);
    EXPECT_EQ(s->Name, nullptr);
    const float tags[3] = {2, 3, 1};
    const int32_t parents[3] = {-1, 0, 1};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(s->Bones[i].Transform.Position[0], tags[i]);
        EXPECT_EQ(s->Bones[i].ParentIndex, parents[i]);
        EXPECT_EQ(s->Bones[i].Name, nullptr);
        EXPECT_EQ(s->Bones[i].LightInfo, nullptr);
    }
    EXPECT_EQ(remap[0], 2);
    EXPECT_EQ(remap[1], 0);
    EXPECT_EQ(remap[2], 1);
}

TEST(SkeletonBuilder, RootsComeFirstInTheirOrderOfAddition) {
    orvane_skeleton_builder* b = OrvaneBeginSkeleton(4);
    for (int i = 0; i < 4; ++i)
        AddTagged(b, float(i));
    OrvaneSetBoneParent(b, 1, 0);
    OrvaneSetBoneParent(b, 2, 3);
    SkeletonPtr s(OrvaneEndSkeleton(b, nullptr));
    ASSERT_NE(s, nullptr);
    const float tags[4] = {0, 3, 1, 2};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(s->Bones[i].Transform.Position[0], tags[i]);
}

TEST(SkeletonBuilder, CapacityAndCountsOfBones) {
    LogCapture log;
    orvane_skeleton_builder* b = OrvaneBeginSkeleton(2);
    for (int i = 0; i < 3; ++i)
        AddTagged(b, float(i));
    EXPECT_TRUE(log.Contains("AddBone called after all allotted bones were already used"));
    SkeletonPtr s(OrvaneEndSkeleton(b, nullptr));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->BoneCount, 2);

    // Fewer bones than the capacity: the size and the skeleton count only those added.
    b = OrvaneBeginSkeleton(10);
    AddTagged(b, 1);
    const int32_t one = OrvaneGetResultingSkeletonSize(b);
    AddTagged(b, 2);
    const int32_t two = OrvaneGetResultingSkeletonSize(b);
    EXPECT_EQ(two - one, int32_t(sizeof(orvane_bone)));
    std::vector<char> memory(size_t(two) + 16);
    void* place = memory.data() + (8 - reinterpret_cast<uintptr_t>(memory.data()) % 8) % 8;
    orvane_skeleton* inPlace = OrvaneEndSkeletonInPlace(b, place, nullptr);
    ASSERT_EQ(static_cast<void*>(inPlace), place);
    EXPECT_EQ(inPlace->BoneCount, 2);
    EXPECT_LE(reinterpret_cast<char*>(inPlace->Bones + 2), static_cast<char*>(place) + two);

    EXPECT_EQ(OrvaneEndSkeleton(nullptr, nullptr), nullptr);
    EXPECT_EQ(OrvaneEndSkeletonInPlace(nullptr, place, nullptr), nullptr);
    EXPECT_EQ(OrvaneBeginSkeleton(-1), nullptr);
    // Null memory frees the builder and gives no skeleton (the leak check would notice).
    EXPECT_EQ(OrvaneEndSkeletonInPlace(OrvaneBeginSkeleton(1), nullptr, nullptr), nullptr);
}

TEST(SkeletonBuilder, NullComponentsAddNothing) {
    LogCapture log;
    orvane_skeleton_builder* b = OrvaneBeginSkeleton(3);
    const float p[3] = {7, 0, 0};
    OrvaneAddBone(b, nullptr, kIdentityQ, kIdentityS, p, kIdentityQ, kIdentityS);
    EXPECT_TRUE(log.Contains("LocalPosition is not allowed to be 0"));
    OrvaneAddBone(b, p, kIdentityQ, kIdentityS, p, nullptr, kIdentityS);
    EXPECT_TRUE(log.Contains("WorldOrientation is not allowed to be 0"));
    OrvaneAddBone(b, p, kIdentityQ, kIdentityS, p, kIdentityQ, nullptr);
    EXPECT_EQ(log.errors(), 3u);
    AddTagged(b, 1);
    SkeletonPtr s(OrvaneEndSkeleton(b, nullptr));
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->BoneCount, 1);
    EXPECT_EQ(s->Bones[0].Transform.Position[0], 1.0f);
}

TEST(SkeletonBuilder, ParentIndicesAreChecked) {
    LogCapture log;
    orvane_skeleton_builder* b = OrvaneBeginSkeleton(3);
    for (int i = 0; i < 3; ++i)
        AddTagged(b, float(i));
    OrvaneSetBoneParent(b, 1, 3);
    EXPECT_TRUE(log.Contains("SetBoneParent parent index (3) is out of specified bone domain (3)"));
    OrvaneSetBoneParent(b, 3, 0);
    EXPECT_TRUE(log.Contains("SetBoneParent bone index (3) is out of specified bone domain (3)"));
    OrvaneSetBoneParent(b, -1, 0);
    OrvaneSetBoneParent(b, 1, -2);
    EXPECT_EQ(log.errors(), 4u);
    OrvaneSetBoneParent(b, 1, 0);
    OrvaneSetBoneParent(b, 1, -1);  // a root again
    log.Clear();
    SkeletonPtr s(OrvaneEndSkeleton(b, nullptr));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(log.errors(), 0u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(s->Bones[i].ParentIndex, -1);
}

TEST(SkeletonBuilder, CyclesAndMissingParentsGiveNoSkeleton) {
    LogCapture log;
    orvane_skeleton_builder* b = OrvaneBeginSkeleton(4);
    for (int i = 0; i < 4; ++i)
        AddTagged(b, float(i));
    OrvaneSetBoneParent(b, 1, 2);
    OrvaneSetBoneParent(b, 2, 3);
    OrvaneSetBoneParent(b, 3, 1);
    EXPECT_EQ(OrvaneEndSkeleton(b, nullptr), nullptr);
    EXPECT_TRUE(log.Contains("Circular parenting chain located at bone"));

    log.Clear();
    b = OrvaneBeginSkeleton(4);
    AddTagged(b, 0);
    AddTagged(b, 1);
    OrvaneSetBoneParent(b, 1, 3);  // within the capacity, never added
    EXPECT_EQ(OrvaneEndSkeleton(b, nullptr), nullptr);
    EXPECT_TRUE(log.Contains("never added"));

    // A bone that is its own parent.
    b = OrvaneBeginSkeleton(1);
    AddTagged(b, 0);
    OrvaneSetBoneParent(b, 0, 0);
    EXPECT_EQ(OrvaneEndSkeleton(b, nullptr), nullptr);
}

TEST(SkeletonBuilder, LongChainsNeedNoRecursion) {
    // Added leaf first: every bone's ancestors are written on its behalf.
    const int n = 100000;
    orvane_skeleton_builder* b = OrvaneBeginSkeleton(n);
    for (int i = 0; i < n; ++i)
        AddTagged(b, float(i));
    for (int i = 0; i < n - 1; ++i)
        OrvaneSetBoneParent(b, i, i + 1);
    std::vector<int32_t> remap(n);
    SkeletonPtr s(OrvaneEndSkeleton(b, remap.data()));
    ASSERT_NE(s, nullptr);
    for (int i = 0; i < n; ++i) {
        ASSERT_EQ(remap[i], n - 1 - i);
        ASSERT_EQ(s->Bones[i].ParentIndex, i - 1);
    }
}

// On random forests added in shuffled order: the order rule, the remapping, the transforms
// carried over and the inverse world transforms.
TEST(SkeletonBuilder, RandomForestsKeepTheirHierarchy) {
    Random random(11);
    for (int round = 0; round < 50; ++round) {
        const int n = 1 + random.Index(80);
        Forest f = RandomForest(random, n, AllFlagSets(), 1 + random.Index(4));
        std::vector<int32_t> remap;
        SkeletonPtr s = BuildSkeleton(f, &remap);
        ASSERT_NE(s, nullptr);
        ASSERT_EQ(s->BoneCount, n);
        std::vector<bool> seen(n, false);
        for (int i = 0; i < n; ++i) {
            ASSERT_GE(remap[i], 0);
            ASSERT_LT(remap[i], n);
            EXPECT_FALSE(seen[remap[i]]);
            seen[remap[i]] = true;
            const orvane_bone& bone = s->Bones[remap[i]];
            EXPECT_LT(bone.ParentIndex, remap[i]);
            EXPECT_EQ(bone.ParentIndex, f.parent[i] == -1 ? -1 : remap[f.parent[i]]);
            EXPECT_EQ(0, std::memcmp(&bone.Transform, &f.local[i], sizeof(orvane_transform)));
            // The inverse world transform undoes the world transform given to the builder.
            orvane_transform w = ForestWorld(f, i);
            if (FromColumns4(&bone.InverseWorldTransform[0][0]).topLeftCorner<3, 3>().isZero(0)) {
                // Singular in single precision: the zero inverse of a singular matrix.
                EXPECT_LT(std::fabs(MatrixOf(w).topLeftCorner<3, 3>().determinant()),
                          1e-4 * std::pow(std::max(1.0, MaxAbs(MatrixOf(w))), 3));
                continue;
            }
            const Mat4 product = MatrixOf(w) * FromColumns4(&bone.InverseWorldTransform[0][0]);
            const double scale =
                std::max(1.0, MaxAbs(MatrixOf(w))) *
                std::max(1.0, MaxAbs(FromColumns4(&bone.InverseWorldTransform[0][0])));
            EXPECT_LT((product - Mat4::Identity()).cwiseAbs().maxCoeff() / scale, 1e-5);
        }
        // Roots first, in their order of addition.
        int32_t roots = 0;
        for (int i = 0; i < n; ++i)
            if (f.parent[i] == -1) {
                EXPECT_EQ(remap[i], roots++);
            }
    }
}

TEST(SkeletonBuilder, SingularWorldTransformGivesZeroInverse) {
    orvane_skeleton_builder* b = OrvaneBeginSkeleton(1);
    const float p[3] = {1, 2, 3};
    const float singular[9] = {1, 0, 0, 0, 1, 0, 0, 0, 0};
    OrvaneAddBone(b, kZero3, kIdentityQ, kIdentityS, p, kIdentityQ, singular);
    SkeletonPtr s(OrvaneEndSkeleton(b, nullptr));
    ASSERT_NE(s, nullptr);
    const float* m = &s->Bones[0].InverseWorldTransform[0][0];
    for (int k = 0; k < 15; ++k)
        EXPECT_EQ(m[k], 0.0f) << k;
    EXPECT_EQ(m[15], 1.0f);
    // Bit for bit as an emptied bone: no negative zeros in the translation either.
    const float expected[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    EXPECT_EQ(0, std::memcmp(m, expected, sizeof expected));
}

TEST(SkeletonBuilder, FlagsComeFromTheIdentityCheck) {
    orvane_skeleton_builder* b = OrvaneBeginSkeleton(2);
    const float near[3] = {0.0001f, 0, 0};
    const float far[3] = {1, 0, 0};
    OrvaneAddBone(b, near, kIdentityQ, kIdentityS, near, kIdentityQ, kIdentityS);
    OrvaneAddBone(b, far, kIdentityQ, kIdentityS, far, kIdentityQ, kIdentityS);
    SkeletonPtr s(OrvaneEndSkeleton(b, nullptr));
    EXPECT_EQ(s->Bones[0].Transform.Flags, 0u);
    EXPECT_EQ(s->Bones[0].Transform.Position[0], 0.0001f);  // the value is kept
    EXPECT_EQ(s->Bones[1].Transform.Flags, uint32_t(OrvaneTransformHasPosition));
}

orvane_int32 CompareIgnoringUnderscores(const char* a, const char* b) {
    std::string x, y;
    for (; a && *a; ++a)
        if (*a != '_') x += *a;
    for (; b && *b; ++b)
        if (*b != '_') y += *b;
    return x == y ? 0 : 1;
}

TEST(Skeleton, FindsBonesByName) {
    orvane_skeleton_builder* b = OrvaneBeginSkeleton(3);
    for (int i = 0; i < 3; ++i)
        AddTagged(b, float(i));
    SkeletonPtr s(OrvaneEndSkeleton(b, nullptr));
    char names[3][16] = {"Hips", "Left_Arm", "Hips"};
    for (int i = 0; i < 3; ++i)
        s->Bones[i].Name = names[i];
    int32_t index = -5;
    EXPECT_TRUE(OrvaneFindBoneByName(s.get(), "Hips", &index));
    EXPECT_EQ(index, 0);  // the first match
    EXPECT_FALSE(OrvaneFindBoneByName(s.get(), "hips", &index));
    EXPECT_EQ(index, 3);  // the bone count after a failed search
    EXPECT_TRUE(OrvaneFindBoneByNameLowercase(s.get(), "left_arm", &index));
    EXPECT_EQ(index, 1);
    EXPECT_FALSE(OrvaneFindBoneByName(s.get(), nullptr, &index));
    index = -5;
    EXPECT_FALSE(OrvaneFindBoneByName(nullptr, "Hips", &index));
    EXPECT_EQ(index, -5);

    OrvaneSetStringComparisonCallback(&CompareIgnoringUnderscores);
    EXPECT_TRUE(OrvaneFindBoneByName(s.get(), "LeftArm", &index));
    EXPECT_EQ(index, 1);
    EXPECT_FALSE(
        OrvaneFindBoneByNameLowercase(s.get(), "leftarm", &index));  // the callback decides
    OrvaneSetStringComparisonCallback(nullptr);
    EXPECT_FALSE(OrvaneFindBoneByName(s.get(), "LeftArm", &index));
}

TEST(Skeleton, RelativeTransformsInPlaceAndOutOfPlaceAgree) {
    Random random(12);
    for (int round = 0; round < 20; ++round) {
        const int n = 1 + random.Index(40);
        SkeletonPtr s = BuildSkeleton(RandomForest(random, n, AllFlagSets(), 2));
        std::vector<orvane_transform> packed(n);
        OrvaneBuildSkeletonRelativeTransforms(sizeof(orvane_bone), &s->Bones[0].Transform,
                                              sizeof(orvane_bone), &s->Bones[0].ParentIndex, n,
                                              sizeof(orvane_transform), packed.data());
        for (int i = 0; i < n; ++i) {
            orvane_transform one;
            OrvaneBuildSkeletonRelativeTransform(sizeof(orvane_bone), &s->Bones[0].Transform,
                                                 sizeof(orvane_bone), &s->Bones[0].ParentIndex, i,
                                                 &one);
            // The same products in another grouping: equal up to rounding.
            Mat4 a = MatrixOf(one), b = MatrixOf(packed[i]);
            EXPECT_LT((a - b).cwiseAbs().maxCoeff() / std::max(1.0, MaxAbs(a)), 1e-5);
            // And both equal the chain multiplied out in double precision.
            Mat4 chain = Mat4::Identity();
            for (int b2 = i; b2 != -1; b2 = s->Bones[b2].ParentIndex)
                chain = MatrixOf(s->Bones[b2].Transform) * chain;
            EXPECT_LT((a - chain).cwiseAbs().maxCoeff() / std::max(1.0, MaxAbs(chain)), 1e-4);
        }
        // In place on the bone array.
        OrvaneBuildSkeletonRelativeTransforms(sizeof(orvane_bone), &s->Bones[0].Transform,
                                              sizeof(orvane_bone), &s->Bones[0].ParentIndex, n,
                                              sizeof(orvane_bone), &s->Bones[0].Transform);
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(0, std::memcmp(&s->Bones[i].Transform, &packed[i], sizeof(orvane_transform)))
                << i;
    }
}

TEST(Skeleton, RelativeTransformsRefuseBrokenParentIndices) {
    LogCapture log;
    orvane_transform t[3];
    for (auto& x : t)
        OrvaneMakeIdentity(&x);
    t[1].Position[0] = 5;
    t[1].Flags = OrvaneTransformHasPosition;
    int32_t parents[3] = {-1, 2, 1};  // 1 -> 2 -> 1: a loop
    orvane_transform out[3];
    std::memset(out, 0x55, sizeof out);
    OrvaneBuildSkeletonRelativeTransforms(sizeof(orvane_transform), t, 4, parents, 3,
                                          sizeof(orvane_transform), out);
    EXPECT_TRUE(log.Contains("does not precede it"));
    EXPECT_EQ(out[0].Flags, 0x55555555u);  // nothing written
    orvane_transform one;
    OrvaneBuildSkeletonRelativeTransform(sizeof(orvane_transform), t, 4, parents, 2, &one);
    EXPECT_EQ(one.Flags, 0u);  // the identity
    EXPECT_EQ(log.errors(), 2u);
    parents[1] = 0;
    parents[2] = 7;
    OrvaneBuildSkeletonRelativeTransform(sizeof(orvane_transform), t, 4, parents, 2, &one);
    EXPECT_EQ(log.errors(), 3u);
    parents[2] = 1;
    OrvaneBuildSkeletonRelativeTransform(sizeof(orvane_transform), t, 4, parents, 2, &one);
    EXPECT_EQ(log.errors(), 3u);
    EXPECT_EQ(one.Position[0], 5.0f);
}

}  // namespace

// The shared character workload: what the benchmarks and data-driven tests rely on.
#include <vector>

#include <gtest/gtest.h>

#include "orvane/skeleton.h"
#include "orvane/skeleton_builder.h"
#include "orvane/world_pose.h"
#include "orvane_pab_workload.h"
#include "testing/data_path.h"

namespace {

TEST(SkeletonWorkload, ReadsTheCharacter) {
    ORVANE_SKIP_WITHOUT_DATA(orvane_workload::PabWorkloadPath());
    std::string error;
    const orvane_workload::Workload* w = orvane_workload::SharedPabWorkload(&error);
    ASSERT_NE(w, nullptr) << error;
    ASSERT_EQ(w->joints.size(), 67u);
    EXPECT_EQ(w->joints[0].name, "Hips");
    EXPECT_EQ(w->joints[0].parent, -1);
    for (size_t i = 0; i < w->joints.size(); ++i)
        EXPECT_LT(w->joints[i].parent, static_cast<int32_t>(i));
    ASSERT_EQ(w->clips.size(), 2u);
    const orvane_workload::Clip* walk = w->FindClip("walk");
    const orvane_workload::Clip* jog = w->FindClip("jog");
    ASSERT_NE(walk, nullptr);
    ASSERT_NE(jog, nullptr);
    EXPECT_NEAR(walk->duration, 1.3333f, 1e-3f);
    ASSERT_EQ(walk->tracks.size(), 67u);
    EXPECT_EQ(walk->tracks[0].rotations.size(), 41u);
    EXPECT_EQ(jog->tracks[0].rotations.size(), 25u);
    EXPECT_EQ(walk->tracks[0].translations.back().time, walk->tracks[0].rotations.back().time);
    EXPECT_EQ(w->mesh.vertexCount, 3934);
    EXPECT_EQ(w->mesh.influenceCount, 4);
    EXPECT_EQ(w->mesh.positions.size(), 3u * 3934u);
    EXPECT_EQ(w->mesh.jointRemaps.size(), 54u);
    EXPECT_EQ(w->mesh.inverseBindPoses.size(), 54u);
    EXPECT_EQ(w->mesh.inverseBindPoses[0][15], 1.0f);
}

TEST(SkeletonWorkload, MissingFileFailsWithAReason) {
    orvane_workload::Workload w;
    std::string error;
    EXPECT_FALSE(orvane_workload::LoadPabWorkload("/nonexistent/pab.json", &w, &error));
    EXPECT_NE(error.find("cannot open"), std::string::npos);
}

}  // namespace

namespace {

// The character's skeleton through the builder, from its rest pose: the file lists parents
// first under one root, so the order is kept, and the rest world pose carries every bone's
// inverse world transform back to the identity.
TEST(SkeletonWorkload, BuildsTheCharacterSkeleton) {
    ORVANE_SKIP_WITHOUT_DATA(orvane_workload::PabWorkloadPath());
    const orvane_workload::Workload* w = orvane_workload::SharedPabWorkload();
    ASSERT_NE(w, nullptr);
    const int32_t n = int32_t(w->joints.size());
    std::vector<orvane_transform> local(n), world(n);
    for (int32_t i = 0; i < n; ++i) {
        const auto& j = w->joints[i];
        const float s[9] = {j.scale[0], 0, 0, 0, j.scale[1], 0, 0, 0, j.scale[2]};
        OrvaneSetTransformWithIdentityCheck(&local[i], j.translation, j.rotation, s);
        world[i] = local[i];
        if (j.parent >= 0) OrvanePreMultiplyBy(&world[i], &world[j.parent]);
    }
    orvane_skeleton_builder* b = OrvaneBeginSkeleton(n);
    for (int32_t i = 0; i < n; ++i)
        OrvaneAddBone(b, local[i].Position, local[i].Orientation, &local[i].ScaleShear[0][0],
                      world[i].Position, world[i].Orientation, &world[i].ScaleShear[0][0]);
    for (int32_t i = 0; i < n; ++i)
        if (w->joints[i].parent >= 0) OrvaneSetBoneParent(b, i, w->joints[i].parent);
    std::vector<int32_t> remap(n);
    orvane_skeleton* skeleton = OrvaneEndSkeleton(b, remap.data());
    ASSERT_NE(skeleton, nullptr);
    for (int32_t i = 0; i < n; ++i) {
        EXPECT_EQ(remap[i], i);
        skeleton->Bones[i].Name = const_cast<char*>(w->joints[i].name.c_str());
    }
    int32_t index;
    EXPECT_TRUE(OrvaneFindBoneByName(skeleton, w->joints[30].name.c_str(), &index));
    EXPECT_EQ(index, 30);
    orvane_world_pose* pose = OrvaneNewWorldPose(n);
    OrvaneBuildRestWorldPose(skeleton, 0, n, nullptr, pose);
    for (int32_t i = 0; i < n; ++i) {
        const float* c = OrvaneGetWorldPoseComposite4x4(pose, i);
        for (int k = 0; k < 16; ++k)
            EXPECT_NEAR(c[k], k % 5 == 0 ? 1.0f : 0.0f, 2e-5) << "bone " << i << " element " << k;
    }
    OrvaneFreeWorldPose(pose);
    OrvaneFreeBuilderResult(skeleton);
}

}  // namespace

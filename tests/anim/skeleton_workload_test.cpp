// The shared character workload: what the benchmarks and data-driven tests rely on.
#include <gtest/gtest.h>

#include "orvane_pab_workload.h"

namespace {

TEST(SkeletonWorkload, ReadsTheCharacter) {
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

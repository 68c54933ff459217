// The demo character: what it is made of, that it survives a file, and that it moves as a
// person would (feet on the ground, arms and legs swinging, the wave's feet still).
#include "demo_character.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "frame.h"

namespace {

using orvane_tool::Character;
using orvane_tool::CharacterOptions;
using orvane_tool::DemoCharacter;

class DemoCharacterTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string problem;
        character = DemoCharacter::Build(&problem);
        ASSERT_TRUE(character) << problem;
    }

    // The posed mesh's lowest and highest points and its extent along each axis.
    struct Extent {
        float lo[3] = {1e30f, 1e30f, 1e30f}, hi[3] = {-1e30f, -1e30f, -1e30f};
    };
    static Extent Measure(const Character& c) {
        Extent e;
        const orvane_tool::PosedMesh& mesh = c.Mesh(0);
        for (int32_t v = 0; v < mesh.vertexCount; ++v)
            for (int k = 0; k < 3; ++k) {
                e.lo[k] = std::min(e.lo[k], mesh.positions[size_t(v) * 3 + size_t(k)]);
                e.hi[k] = std::max(e.hi[k], mesh.positions[size_t(v) * 3 + size_t(k)]);
            }
        return e;
    }

    std::unique_ptr<Character> Play(const char* clip, float weight = 1) {
        CharacterOptions options;
        options.clips.push_back({clip, weight});
        std::string problem;
        std::unique_ptr<Character> c = Character::Create(character->info(), options, &problem);
        EXPECT_TRUE(c) << problem;
        return c;
    }

    std::unique_ptr<DemoCharacter> character;
};

TEST_F(DemoCharacterTest, IsAHumanoidSkeletonWithASkinnedMeshOfAFewThousandVertices) {
    const orvane_skeleton* s = character->skeleton();
    ASSERT_GE(s->BoneCount, 20);
    std::set<std::string> names;
    for (int32_t b = 0; b < s->BoneCount; ++b) {
        ASSERT_NE(s->Bones[b].Name, nullptr);
        names.insert(s->Bones[b].Name);
        EXPECT_LT(s->Bones[b].ParentIndex, b);
        EXPECT_EQ(s->Bones[b].ParentIndex < 0, b == 0) << s->Bones[b].Name;
    }
    EXPECT_EQ(names.size(), size_t(s->BoneCount));
    for (const char* part :
         {"Pelvis", "Spine1", "Neck", "Head", "LeftClavicle", "LeftUpperArm", "LeftForearm",
          "LeftHand", "RightThigh", "RightCalf", "RightFoot", "RightToe"})
        EXPECT_TRUE(names.count(part)) << part;

    const orvane_file_info* info = character->info();
    ASSERT_EQ(info->MeshCount, 1);
    const orvane_vertex_data* data = info->Meshes[0]->PrimaryVertexData;
    EXPECT_GE(data->VertexCount, 2000);
    EXPECT_LE(data->VertexCount, 10000);
    EXPECT_EQ(OrvaneGetVertexBoneCount(data->VertexType), 4);
    EXPECT_EQ(info->Meshes[0]->BoneBindingCount, s->BoneCount);
    // Every vertex: a finite position (the poles of each segment too), weights of valid bones
    // summing to one exactly, a unit normal, UVs inside the texture; some vertices blend three
    // bones (the shoulders), some four (the spine).
    const auto* v = static_cast<const orvane_pwnt3432_vertex*>(data->Vertices);
    int three = 0, four = 0;
    for (int32_t i = 0; i < data->VertexCount; ++i) {
        for (float p : v[i].Position)
            ASSERT_TRUE(std::isfinite(p)) << "vertex " << i;
        int sum = 0, used = 0;
        for (int k = 0; k < 4; ++k) {
            sum += v[i].BoneWeights[k];
            used += v[i].BoneWeights[k] != 0;
            if (v[i].BoneWeights[k]) {
                ASSERT_LT(v[i].BoneIndices[k], s->BoneCount);
            }
        }
        ASSERT_EQ(sum, 255) << i;
        three += used == 3;
        four += used == 4;
        const float* n = v[i].Normal;
        ASSERT_NEAR(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 1.0f, 1e-3f) << i;
        for (float uv : v[i].TextureCoordinates0) {
            ASSERT_GE(uv, 0.0f);
            ASSERT_LE(uv, 1.0f);
        }
    }
    EXPECT_GT(three, 0);
    EXPECT_GT(four, 0);
    // Every triangle indexes the vertices; the figure has a texture on its material.
    const orvane_tri_topology* t = info->Meshes[0]->PrimaryTopology;
    EXPECT_GE(t->IndexCount / 3, 2000);
    for (int32_t i = 0; i < t->IndexCount; ++i)
        ASSERT_LT(t->Indices[i], data->VertexCount);
    ASSERT_EQ(info->Meshes[0]->MaterialBindingCount, 1);
    ASSERT_NE(info->Meshes[0]->MaterialBindings[0].Material->Texture, nullptr);
}

TEST_F(DemoCharacterTest, ClipsAreCompressedWithinTheBudget) {
    ASSERT_EQ(character->clips().size(), 2u);
    for (const orvane_tool::DemoClipReport& c : character->clips()) {
        EXPECT_GT(c.maxError, 0.0f) << c.name;  // fitted, not stored exactly
        EXPECT_LE(c.maxError, DemoCharacter::kErrorBudget) << c.name;
        EXPECT_EQ(c.exactComponents, 0) << c.name;
        EXPECT_LT(c.curveBytes * 4, c.sampleBytes) << c.name;
    }
    const orvane_file_info* info = character->info();
    ASSERT_EQ(info->AnimationCount, 2);
    EXPECT_STREQ(info->Animations[0]->Name, "Walk");
    EXPECT_STREQ(info->Animations[1]->Name, "Wave");
    for (int32_t a = 0; a < 2; ++a)
        EXPECT_EQ(info->Animations[a]->TrackGroups[0]->TransformTrackCount,
                  character->skeleton()->BoneCount);
    // The walk carries its root motion: one loop's travel, played as variable deltas.
    const orvane_track_group* walk = info->Animations[0]->TrackGroups[0];
    EXPECT_NEAR(walk->LoopTranslation[2], 1.3f, 1e-5f);
    uint32_t flags = 0, dofs = 0;
    OrvaneGetTrackGroupFlags(walk, &flags, &dofs);
    EXPECT_TRUE(flags & 4);
}

TEST_F(DemoCharacterTest, SurvivesACompressedFile) {
    const std::string path = std::string(OrvaneGetTemporaryDirectory()) + "demo_character_test.ovn";
    ASSERT_TRUE(
        character->Write(path.c_str(), OrvanePelma1Compression, OrvaneDefaultCompressionLevel));
    orvane_file* file = OrvaneReadEntireFile(path.c_str());
    ASSERT_NE(file, nullptr);
    const orvane_file_info* loaded = OrvaneGetFileInfo(file);
    ASSERT_NE(loaded, nullptr);
    const orvane_file_info* built = character->info();
    ASSERT_EQ(loaded->SkeletonCount, 1);
    EXPECT_EQ(loaded->Skeletons[0]->BoneCount, built->Skeletons[0]->BoneCount);
    const orvane_vertex_data* a = built->VertexDatas[0];
    const orvane_vertex_data* b = loaded->Meshes[0]->PrimaryVertexData;
    ASSERT_EQ(b->VertexCount, a->VertexCount);
    EXPECT_EQ(std::memcmp(a->Vertices, b->Vertices,
                          size_t(a->VertexCount) * sizeof(orvane_pwnt3432_vertex)),
              0);
    EXPECT_EQ(loaded->Models[0]->MeshBindings[0].Mesh, loaded->Meshes[0]);
    const orvane_texture* texture = loaded->Meshes[0]->MaterialBindings[0].Material->Texture;
    ASSERT_NE(texture, nullptr);
    EXPECT_GT(texture->Width, 0);
    OrvaneFreeFile(file);
    std::remove(path.c_str());
}

TEST_F(DemoCharacterTest, WalksWithItsFeetOnTheGroundAndMovesForward) {
    std::unique_ptr<Character> walk = Play("Walk");
    ASSERT_TRUE(walk);
    EXPECT_DOUBLE_EQ(walk->Duration(), 1.0);
    float stride = 0;
    for (int f = 0; f <= 30; ++f) {
        walk->Pose(f / 30.0);
        const Extent e = Measure(*walk);
        // The lowest point (a sole) touches the ground; the head bobs below its standing
        // height (1.86) by less than a tenth.
        EXPECT_NEAR(e.lo[1], 0.0f, 0.025f) << f;
        EXPECT_GT(e.hi[1], 1.76f) << f;
        EXPECT_LT(e.hi[1], 1.87f) << f;
        stride = std::max(stride, e.hi[2] - e.lo[2]);
    }
    // The legs and arms swing well beyond the standing figure's depth.
    EXPECT_GT(stride, 0.6f);
    float travel[3];
    EXPECT_NEAR(walk->RootMotionDistance(travel), 1.3, 0.01);
    EXPECT_NEAR(travel[2], 1.3f, 0.01f);
}

TEST_F(DemoCharacterTest, WavesWithTheRightHandOverTheHeadAndTheFeetStill) {
    std::unique_ptr<Character> wave = Play("Wave");
    ASSERT_TRUE(wave);
    float lowest = 1e30f, highest = -1e30f, left = 1e30f;
    for (int f = 0; f <= 60; ++f) {
        wave->Pose(f / 30.0);
        const Extent e = Measure(*wave);
        lowest = std::min(lowest, e.lo[1]);
        highest = std::max(highest, e.hi[1]);
        left = std::min(left, e.lo[0]);  // the figure's right is -X
        EXPECT_NEAR(e.lo[1], 0.0f, 0.04f) << f;
    }
    EXPECT_GT(highest, 2.0f);  // the hand is raised above the head (1.86)
    EXPECT_LT(left, -0.3f);
    EXPECT_NEAR(wave->RootMotionDistance(), 0.0, 1e-6);
}

TEST_F(DemoCharacterTest, TheBlendLiesBetweenTheClips) {
    CharacterOptions options;
    options.clips = {{"Walk", 0.5f}, {"Wave", 0.5f}};
    std::string problem;
    std::unique_ptr<Character> both = Character::Create(character->info(), options, &problem);
    ASSERT_TRUE(both) << problem;
    std::unique_ptr<Character> wave = Play("Wave"), walk = Play("Walk");
    ASSERT_TRUE(wave && walk);
    for (double t : {0.25, 0.5, 1.25}) {
        both->Pose(t);
        wave->Pose(t);
        walk->Pose(t);
        // Half a raised arm: out to the side further than the walk's, lower than the wave's.
        EXPECT_LT(Measure(*both).hi[1], Measure(*wave).hi[1] - 0.1f) << t;
        EXPECT_LT(Measure(*both).lo[0], Measure(*walk).lo[0] - 0.1f) << t;
    }
}

}  // namespace

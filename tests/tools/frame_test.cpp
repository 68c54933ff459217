// The tool's frame on a figure built in code: a root and an arm, a skinned mesh (one vertex on
// each bone, one shared half and half), a rigid mesh on the arm, a textured material, and two
// clips (the arm bending 90 degrees over a second, and the arm held still). Skinned places are
// checked against the rotation worked by hand.
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "frame.h"

namespace {

using orvane_tool::Character;
using orvane_tool::CharacterOptions;

constexpr float kPi = 3.14159265358979f;

struct Figure {
    orvane_skeleton* skeleton = nullptr;
    orvane_model model{};
    orvane_model_mesh_binding meshBindings[2] = {};
    orvane_model* modelPointer = &model;
    orvane_track_group* bendGroup = nullptr;
    orvane_track_group* stillGroup = nullptr;
    orvane_animation bend{}, still{};
    orvane_animation* animations[2] = {&bend, &still};
    // The skinned mesh.
    std::vector<orvane_pwn343_vertex> skinnedVertices;
    orvane_vertex_data skinnedData{};
    int32_t skinnedIndices[3] = {0, 1, 2};
    orvane_tri_material_group skinnedGroup = {0, 0, 1};
    orvane_tri_topology skinnedTopology{};
    orvane_bone_binding skinnedBones[2] = {};
    orvane_mesh skinned{};
    // The rigid mesh, with texture coordinates and a texture.
    std::vector<orvane_pnt332_vertex> rigidVertices;
    orvane_vertex_data rigidData{};
    int32_t rigidIndices[3] = {0, 1, 2};
    orvane_tri_material_group rigidGroup = {0, 0, 1};
    orvane_tri_topology rigidTopology{};
    orvane_bone_binding rigidBone{};
    orvane_texture* texture = nullptr;
    orvane_material material{};
    orvane_material_binding materialBinding{};
    orvane_mesh rigid{};
    orvane_file_info info{};

    Figure() {
        orvane_skeleton_builder* b = OrvaneBeginSkeleton(2);
        const float zero[3] = {0, 0, 0}, arm[3] = {1, 0, 0}, q[4] = {0, 0, 0, 1};
        const float s[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
        OrvaneAddBone(b, zero, q, s, zero, q, s);
        OrvaneAddBone(b, arm, q, s, arm, q, s);
        OrvaneSetBoneParent(b, 1, 0);
        skeleton = OrvaneEndSkeleton(b, nullptr);
        skeleton->Name = const_cast<char*>("Figure");
        skeleton->Bones[0].Name = const_cast<char*>("Root");
        skeleton->Bones[1].Name = const_cast<char*>("Arm");

        bendGroup = Group(kPi / 2);
        stillGroup = Group(0.0f);
        Animation(&bend, "Bend", &bendGroup);
        Animation(&still, "Still", &stillGroup);

        // Vertex 0 on the arm, 1 on the root, 2 half and half (128 / 127).
        skinnedVertices.resize(3);
        Vertex(&skinnedVertices[0], 2, 0, 0, 0, 1, 255, 0);
        Vertex(&skinnedVertices[1], 0, 1, 0, 0, 0, 255, 1);
        Vertex(&skinnedVertices[2], 1.5f, 0, 0, 0, 1, 128, 0);
        skinnedData.VertexType = OrvanePWN343VertexType;
        skinnedData.VertexCount = 3;
        skinnedData.Vertices = skinnedVertices.data();
        Topology(&skinnedTopology, skinnedIndices, &skinnedGroup);
        skinnedBones[0].BoneName = const_cast<char*>("Arm");
        skinnedBones[1].BoneName = const_cast<char*>("Root");
        skinned.Name = const_cast<char*>("Body");
        skinned.PrimaryVertexData = &skinnedData;
        skinned.PrimaryTopology = &skinnedTopology;
        skinned.BoneBindingCount = 2;
        skinned.BoneBindings = skinnedBones;

        rigidVertices.resize(3);
        for (int v = 0; v < 3; ++v) {
            rigidVertices[size_t(v)] = {
                {float(v) + 1.0f, 0, 0}, {0, 1, 0}, {0.25f * float(v), 0.5f}};
        }
        rigidData.VertexType = OrvanePNT332VertexType;
        rigidData.VertexCount = 3;
        rigidData.Vertices = rigidVertices.data();
        Topology(&rigidTopology, rigidIndices, &rigidGroup);
        rigidBone.BoneName = const_cast<char*>("Arm");
        const uint8_t pixels[16] = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 9, 8, 7, 255};
        orvane_texture_builder* t = OrvaneBeginRawTexture(2, 2, OrvaneRGBA8888PixelFormat, 4);
        OrvaneEncodeImage(t, 2, 2, 8, 1, pixels);
        texture = OrvaneEndTexture(t);
        material.Name = const_cast<char*>("Skin");
        material.Texture = texture;
        materialBinding.Material = &material;
        rigid.Name = const_cast<char*>("Hand");
        rigid.PrimaryVertexData = &rigidData;
        rigid.PrimaryTopology = &rigidTopology;
        rigid.BoneBindingCount = 1;
        rigid.BoneBindings = &rigidBone;
        rigid.MaterialBindingCount = 1;
        rigid.MaterialBindings = &materialBinding;

        meshBindings[0].Mesh = &skinned;
        meshBindings[1].Mesh = &rigid;
        model.Name = const_cast<char*>("Figure");
        model.Skeleton = skeleton;
        OrvaneMakeIdentity(&model.InitialPlacement);
        model.MeshBindingCount = 2;
        model.MeshBindings = meshBindings;
        info.ModelCount = 1;
        info.Models = &modelPointer;
        info.AnimationCount = 2;
        info.Animations = animations;
    }
    ~Figure() {
        OrvaneFlushAllBindingsForAnimation(&bend);
        OrvaneFlushAllBindingsForAnimation(&still);
        OrvaneFreeBuilderResult(bendGroup);
        OrvaneFreeBuilderResult(stillGroup);
        OrvaneFreeBuilderResult(texture);
        OrvaneFreeBuilderResult(skeleton);
    }
    Figure(const Figure&) = delete;
    Figure& operator=(const Figure&) = delete;

    // The arm turning about z from 0 to `angle` over one second; the root still.
    static orvane_track_group* Group(float angle) {
        orvane_track_group_builder* g = OrvaneBeginTrackGroup("Figure", 0, 2, 0, false);
        constexpr int kKeys = 5;  // knots at every quarter second
        float knots[kKeys], still[4 * kKeys], turn[4 * kKeys], place[3 * kKeys];
        for (int k = 0; k < kKeys; ++k) {
            const float u = float(k) / float(kKeys - 1);
            knots[k] = u;
            const float a = angle * u;
            const float q0[4] = {0, 0, 0, 1}, q1[4] = {0, 0, std::sin(a / 2), std::cos(a / 2)};
            const float p[3] = {1, 0, 0};
            std::memcpy(&still[4 * k], q0, sizeof(q0));
            std::memcpy(&turn[4 * k], q1, sizeof(q1));
            std::memcpy(&place[3 * k], p, sizeof(p));
        }
        OrvaneBeginTransformTrack(g, "Root");
        OrvaneSetTransformTrackOrientation(g, 1, 0, kKeys, knots, still,
                                           OrvaneCurveDataDaK32fC32fType);
        OrvaneEndTransformTrack(g);
        OrvaneBeginTransformTrack(g, "Arm");
        OrvaneSetTransformTrackPosition(g, 1, 0, kKeys, knots, place,
                                        OrvaneCurveDataDaK32fC32fType);
        OrvaneSetTransformTrackOrientation(g, 1, 0, kKeys, knots, turn,
                                           OrvaneCurveDataDaK32fC32fType);
        OrvaneEndTransformTrack(g);
        return OrvaneEndTrackGroup(g);
    }
    static void Animation(orvane_animation* a, const char* name, orvane_track_group** group) {
        a->Name = const_cast<char*>(name);
        a->Duration = 1.0f;
        a->TimeStep = 0.5f;
        a->Oversampling = 1.0f;
        a->TrackGroupCount = 1;
        a->TrackGroups = group;
    }
    static void Vertex(orvane_pwn343_vertex* v, float x, float y, float z, float nx, float ny,
                       uint8_t w0, uint8_t i0) {
        std::memset(v, 0, sizeof(*v));
        v->Position[0] = x, v->Position[1] = y, v->Position[2] = z;
        v->Normal[0] = nx, v->Normal[1] = ny;
        v->BoneWeights[0] = w0;
        v->BoneWeights[1] = uint8_t(255 - w0);
        v->BoneIndices[0] = i0;
        v->BoneIndices[1] = uint8_t(1 - i0);
    }
    static void Topology(orvane_tri_topology* t, int32_t* indices, orvane_tri_material_group* g) {
        std::memset(t, 0, sizeof(*t));
        t->GroupCount = 1;
        t->Groups = g;
        t->IndexCount = 3;
        t->Indices = indices;
    }
};

// Where a point fixed to the arm goes when the arm has turned by `angle` about z.
void OnArm(const float p[3], float angle, float out[3]) {
    const float x = p[0] - 1.0f, y = p[1];
    out[0] = 1.0f + x * std::cos(angle) - y * std::sin(angle);
    out[1] = x * std::sin(angle) + y * std::cos(angle);
    out[2] = p[2];
}

void ExpectNear3(const float* got, const float* want, const char* what) {
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(got[k], want[k], 1e-4f) << what << " component " << k;
}

// The clips are not cycles (the bend does not come back), so by default they play once and
// hold their last pose: a looping clip wraps its last segment towards its first key.
std::unique_ptr<Character> Make(const Figure& f, std::vector<orvane_tool::ClipChoice> clips,
                                std::string* problem = nullptr, bool loop = false) {
    CharacterOptions options;
    options.clips = std::move(clips);
    options.loop = loop;
    std::string ignored;
    return Character::Create(&f.info, options, problem ? problem : &ignored);
}

TEST(Frame, SkinsEveryVertexToTheBonesPlaces) {
    Figure f;
    std::string problem;
    auto c = Make(f, {}, &problem);
    ASSERT_TRUE(c) << problem;
    ASSERT_EQ(c->ClipNames().size(), 1u);
    EXPECT_EQ(c->ClipNames()[0], "Bend");  // the first clip for the model
    EXPECT_DOUBLE_EQ(c->Duration(), 1.0);
    ASSERT_EQ(c->MeshCount(), 2);
    EXPECT_EQ(c->BoneCount(), 2);
    for (float t : {0.0f, 0.25f, 0.5f, 0.75f}) {  // at the knots: no nlerp error
        c->Pose(t);
        const float angle = t * kPi / 2;
        const orvane_tool::PosedMesh& body = c->Mesh(0);
        EXPECT_FALSE(body.rigid);
        float want[3];
        const float p0[3] = {2, 0, 0};
        OnArm(p0, angle, want);
        ExpectNear3(&body.positions[0], want, "the arm's vertex");
        const float n0[3] = {-std::sin(angle), std::cos(angle), 0};
        ExpectNear3(&body.normals[0], n0, "the arm's normal");
        const float p1[3] = {0, 1, 0};
        ExpectNear3(&body.positions[3], p1, "the root's vertex");
        // Half and half: the blend of the two bones' places by the byte weights.
        const float p2[3] = {1.5f, 0, 0};
        OnArm(p2, angle, want);
        const float wa = 128.0f / 255.0f;
        const float blend[3] = {wa * want[0] + (1 - wa) * 1.5f, wa * want[1], 0};
        ExpectNear3(&body.positions[6], blend, "the shared vertex");
        // Its normal, blended by the two matrices, comes out unit length between the two.
        const float* n2 = &body.normals[6];
        EXPECT_NEAR(n2[0] * n2[0] + n2[1] * n2[1] + n2[2] * n2[2], 1.0f, 1e-5f);
        const float nb[2] = {-wa * std::sin(angle), wa * std::cos(angle) + (1 - wa)};
        const float nl = std::sqrt(nb[0] * nb[0] + nb[1] * nb[1]);
        const float unit[3] = {nb[0] / nl, nb[1] / nl, 0};
        ExpectNear3(n2, unit, "the shared normal");

        const orvane_tool::PosedMesh& hand = c->Mesh(1);
        EXPECT_TRUE(hand.rigid);
        for (int v = 0; v < 3; ++v) {
            const float p[3] = {float(v) + 1.0f, 0, 0};
            OnArm(p, angle, want);
            ExpectNear3(&hand.positions[size_t(3 * v)], want, "the rigid mesh");
        }
    }
}

TEST(Frame, MeshDataIsCopiedOnceWithTextureAndCoordinates) {
    Figure f;
    auto c = Make(f, {{"Still", 1.0f}});
    ASSERT_TRUE(c);
    const orvane_tool::PosedMesh& body = c->Mesh(0);
    EXPECT_EQ(body.name, "Body");
    EXPECT_EQ(body.vertexCount, 3);
    EXPECT_EQ(body.indices, (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_TRUE(body.uvs.empty());
    EXPECT_TRUE(body.textureRGBA.empty());
    const orvane_tool::PosedMesh& hand = c->Mesh(1);
    EXPECT_EQ(hand.uvs, (std::vector<float>{0, 0.5f, 0.25f, 0.5f, 0.5f, 0.5f}));
    ASSERT_EQ(hand.textureWidth, 2);
    ASSERT_EQ(hand.textureHeight, 2);
    EXPECT_EQ(hand.textureRGBA,
              (std::vector<uint8_t>{255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 9, 8, 7, 255}));
}

TEST(Frame, BlendsClipsByWeight) {
    Figure f;
    auto alone = Make(f, {{"Bend", 1.0f}});
    auto withZero = Make(f, {{"Bend", 1.0f}, {"Still", 0.0f}});
    auto half = Make(f, {{"Bend", 0.5f}, {"Still", 0.5f}});
    ASSERT_TRUE(alone && withZero && half);
    for (float t : {0.25f, 0.75f}) {
        alone->Pose(t);
        withZero->Pose(t);
        half->Pose(t);
        // A clip at weight 0 takes no part: the same bits as the clip alone.
        EXPECT_EQ(alone->Mesh(0).positions, withZero->Mesh(0).positions);
        EXPECT_EQ(alone->Mesh(0).normals, withZero->Mesh(0).normals);
        // Equal weights of a turn and no turn: half the turn (quaternions blended and
        // normalised give the half angle exactly for two rotations about one axis).
        float want[3];
        const float p0[3] = {2, 0, 0};
        OnArm(p0, t * kPi / 4, want);
        ExpectNear3(&half->Mesh(0).positions[0], want, "the half blend");
    }
}

TEST(Frame, LoopsAndPosesAtAnyTime) {
    Figure f;
    auto c = Make(f, {{"Bend", 1.0f}}, nullptr, true);
    auto fresh = Make(f, {{"Bend", 1.0f}}, nullptr, true);
    ASSERT_TRUE(c && fresh);
    c->Pose(0.25);
    const std::vector<float> first = c->Mesh(0).positions;
    c->Pose(2.25);  // two loops later
    for (size_t i = 0; i < first.size(); ++i)
        EXPECT_NEAR(c->Mesh(0).positions[i], first[i], 1e-4f);
    float want[3];
    const float p0[3] = {2, 0, 0};
    OnArm(p0, 0.25f * kPi / 2, want);
    ExpectNear3(&c->Mesh(0).positions[0], want, "a loop later");
    c->Pose(0.6);  // back in time: as a character posed there first
    fresh->Pose(0.6);
    EXPECT_EQ(c->Mesh(0).positions, fresh->Mesh(0).positions);
    // Played once, the clip holds its last pose.
    auto once = Make(f, {{"Bend", 1.0f}});
    ASSERT_TRUE(once);
    once->Pose(3.0);
    OnArm(p0, kPi / 2, want);
    ExpectNear3(&once->Mesh(0).positions[0], want, "past the end");
}

TEST(Frame, PosingAllocatesNothing) {
    Figure f;
    orvane_tool::CountLibraryAllocations();
    auto c = Make(f, {{"Bend", 0.7f}, {"Still", 0.3f}});
    ASSERT_TRUE(c);
    c->Pose(0.0);
    const uint64_t before = orvane_tool::LibraryAllocationCount();
    orvane_tool::StageTimes times;
    for (int frame = 1; frame <= 200; ++frame)
        c->Pose(frame / 60.0, &times);
    EXPECT_EQ(orvane_tool::LibraryAllocationCount(), before);
    EXPECT_GT(times.sampling, 0);
    EXPECT_GT(times.deformation, 0);
    // The counter does count: a new character allocates.
    auto other = Make(f, {{"Bend", 1.0f}});
    EXPECT_GT(orvane_tool::LibraryAllocationCount(), before);
}

TEST(Frame, RootMotionOfALoopingClipIsMeasured) {
    Figure f;
    // The bend as a constant loop that carries the figure 2 units along z per cycle.
    OrvaneSetTrackGroupFlags(f.bendGroup, 1, 0);
    f.bendGroup->LoopTranslation[2] = 2.0f;
    auto c = Make(f, {{"Bend", 1.0f}}, nullptr, true);
    ASSERT_TRUE(c);
    EXPECT_DOUBLE_EQ(c->RootMotionDistance(), 0.0);
    c->Pose(0.25);
    c->Pose(0.5);
    float v[3];
    EXPECT_NEAR(c->RootMotionDistance(v), 1.0, 1e-5);
    EXPECT_NEAR(v[2], 1.0f, 1e-5f);
    c->Pose(1.5);  // across the loop
    EXPECT_NEAR(c->RootMotionDistance(), 3.0, 1e-4);
    c->Pose(0.1);  // a step back counts from the start again
    EXPECT_NEAR(c->RootMotionDistance(), 0.2, 1e-5);
    // Played once, the motion stops with the clip.
    auto once = Make(f, {{"Bend", 1.0f}});
    ASSERT_TRUE(once);
    once->Pose(0.5);
    once->Pose(1.5);
    EXPECT_NEAR(once->RootMotionDistance(), 2.0, 1e-4);
    // Positions stay in the model's space: root motion is measured, not applied.
    const float p1[3] = {0, 1, 0};
    ExpectNear3(&c->Mesh(0).positions[3], p1, "the root's vertex");
}

TEST(Frame, RefusesWhatItCannotPlay) {
    Figure f;
    std::string problem;
    CharacterOptions options;
    options.model = 1;
    EXPECT_FALSE(Character::Create(&f.info, options, &problem));
    EXPECT_NE(problem.find("model 1 is not in the file"), std::string::npos) << problem;
    options.model = -1;
    EXPECT_FALSE(Character::Create(&f.info, options, &problem));
    EXPECT_FALSE(Character::Create(nullptr, CharacterOptions{}, &problem));
    EXPECT_FALSE(Make(f, {{"Jump", 1.0f}}, &problem));
    EXPECT_NE(problem.find("no animation is named \"Jump\""), std::string::npos) << problem;
    EXPECT_FALSE(Make(f, {{"Bend", -0.5f}}, &problem));
    EXPECT_FALSE(Make(f, {{"Bend", std::nanf("")}}, &problem));
    EXPECT_FALSE(Make(f, {{"Bend", INFINITY}}, &problem));
    EXPECT_NE(problem.find("weight"), std::string::npos) << problem;

    // A triangle corner past the vertices.
    f.skinnedIndices[2] = 3;
    EXPECT_FALSE(Make(f, {}, &problem));
    EXPECT_NE(problem.find("past its 3 vertices"), std::string::npos) << problem;
    f.skinnedIndices[2] = 2;
    // A vertex naming a bone binding the mesh does not have (the library logs it).
    f.skinnedVertices[1].BoneIndices[0] = 5;
    EXPECT_FALSE(Make(f, {}, &problem));
    EXPECT_NE(problem.find("cannot be bound"), std::string::npos) << problem;
    f.skinnedVertices[1].BoneIndices[0] = 1;
    // A model without a skeleton.
    f.model.Skeleton = nullptr;
    EXPECT_FALSE(Make(f, {}, &problem));
    f.model.Skeleton = f.skeleton;
    EXPECT_TRUE(Make(f, {}, &problem)) << problem;
}

TEST(Frame, PlaysATrackGroupNamedOtherThanTheModel) {
    Figure f;
    // As importers write them: the group named after the clip.
    f.stillGroup->Name = const_cast<char*>("Still");
    std::string problem;
    auto c = Make(f, {{"Still", 1.0f}}, &problem);
    ASSERT_TRUE(c) << problem;
    c->Pose(0.5);
    const float p0[3] = {2, 0, 0};
    ExpectNear3(&c->Mesh(0).positions[0], p0, "the held arm");
}

}  // namespace

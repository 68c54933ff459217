// Basis conversion of a small character built through the library's builders: a skeleton, two
// meshes sharing one vertex data and topology, a model binding one mesh twice, and two
// animations sharing a track group. Converted from the art tool's Z-up axes into Y-up (and
// centimetres) and back, the content must keep its shape: vertices, bones, sampled animation
// and skinned vertices all equal to the original mapped through the linear part, every shared
// object converted once, and a mirroring basis reversing the winding when asked to.
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "orvane/basis_conversion.h"
#include "orvane/track_group_builder.h"
#include "orvane/track_sampler.h"
#include "orvane/mesh.h"
#include "orvane/mesh_builder.h"
#include "orvane/skeleton_builder.h"
#include "support/log_capture.h"

namespace {

struct Free {
    void operator()(void* p) const { OrvaneFreeBuilderResult(p); }
};

constexpr int kBones = 3;
const char* const kBoneNames[kBones] = {"hip", "knee", "toe"};

// The art tool's axes: right x, up z, back -y; one unit per metre.
const float kToolRight[3] = {1, 0, 0}, kToolUp[3] = {0, 0, 1}, kToolBack[3] = {0, -1, 0};
// The application's: y up, z back, centimetres.
const float kAppRight[3] = {1, 0, 0}, kAppUp[3] = {0, 1, 0}, kAppBack[3] = {0, 0, 1};
const float kZero[3] = {0, 0, 0};

struct Character {
    std::unique_ptr<orvane_skeleton, Free> skeleton;
    std::unique_ptr<orvane_track_group, Free> group;
    std::vector<orvane_pwn343_vertex> vertices;
    orvane_vertex_data vertexData{};
    std::vector<int32_t> indices;
    orvane_tri_topology topology{};
    std::vector<orvane_bone_binding> boneBindings;
    orvane_mesh meshes[2]{};
    orvane_model_mesh_binding meshBindings[3]{};
    orvane_model model{};
    orvane_track_group* groups[3]{};
    orvane_animation animations[2]{};
    orvane_art_tool_info tool{};
    orvane_skeleton* skeletons[2]{};
    orvane_mesh* meshList[2]{};
    orvane_model* models[2]{};
    orvane_animation* animationList[2]{};
    orvane_vertex_data* vertexDatas[1]{};
    orvane_file_info file{};

    Character() {
        // A leg: hip at 1 m height, knee below it, toe in front (the tool's y is forward).
        const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
        const float q[4] = {0, 0, 0, 1};
        const float local[kBones][3] = {{0.1f, 0.2f, 1.0f}, {0, 0, -0.5f}, {0, -0.2f, -0.45f}};
        orvane_skeleton_builder* b = OrvaneBeginSkeleton(kBones);
        float world[3] = {0, 0, 0};
        for (int i = 0; i < kBones; ++i) {
            for (int k = 0; k < 3; ++k)
                world[k] += local[i][k];
            OrvaneAddBone(b, local[i], q, identity, world, q, identity);
            OrvaneSetBoneParent(b, i, i - 1);
        }
        skeleton.reset(OrvaneEndSkeleton(b, nullptr));
        for (int i = 0; i < kBones; ++i)
            skeleton->Bones[i].Name = const_cast<char*>(kBoneNames[i]);

        // Each bone's track: its rest position, the knee swinging between two orientations.
        orvane_track_group_builder* g = OrvaneBeginTrackGroup("walk", 0, kBones, 0, false);
        for (int i = 0; i < kBones; ++i) {
            OrvaneBeginTransformTrack(g, kBoneNames[i]);
            const float knots[2] = {0, 1};
            float positions[6];
            for (int k = 0; k < 3; ++k)
                positions[k] = positions[3 + k] = local[i][k];
            positions[3] += 0.05f * float(i);
            OrvaneSetTransformTrackPosition(g, 1, 0, 2, knots, positions,
                                            OrvaneCurveDataDaK32fC32fType);
            const float s = std::sin(0.4f), c = std::cos(0.4f);
            const float orientations[8] = {0, 0, 0, 1, s, 0, 0, c};
            OrvaneSetTransformTrackOrientation(g, 1, 0, 2, knots, orientations,
                                               OrvaneCurveDataDaK32fC32fType);
            OrvaneEndTransformTrack(g);
        }
        group.reset(OrvaneEndTrackGroup(g));
        group->InitialPlacement.Flags = OrvaneTransformHasPosition;
        group->InitialPlacement.Position[1] = 2.0f;

        // Two triangles skinned to the knee and the toe.
        const float corners[6][3] = {{0.1f, 0.3f, 0.4f},   {0.2f, 0.1f, 0.5f}, {0.0f, 0.2f, 0.6f},
                                     {0.1f, -0.1f, 0.05f}, {0.3f, 0.0f, 0.1f}, {0.2f, 0.1f, 0.0f}};
        for (int v = 0; v < 6; ++v) {
            orvane_pwn343_vertex x{};
            std::memcpy(x.Position, corners[v], sizeof(x.Position));
            x.BoneWeights[0] = 255;
            x.BoneIndices[0] = v < 3 ? 0 : 1;
            x.Normal[0] = 0.6f;
            x.Normal[2] = 0.8f;
            vertices.push_back(x);
        }
        vertexData.VertexType = OrvanePWN343VertexType;
        vertexData.VertexCount = int32_t(vertices.size());
        vertexData.Vertices = vertices.data();
        indices = {0, 1, 2, 3, 4, 5};
        topology.IndexCount = int32_t(indices.size());
        topology.Indices = indices.data();
        for (int i = 1; i < kBones; ++i) {
            orvane_bone_binding bb{};
            bb.BoneName = const_cast<char*>(kBoneNames[i]);
            const float lo[3] = {-0.1f, -0.2f, -0.3f}, hi[3] = {0.1f, 0.2f, 0.3f};
            std::memcpy(bb.OBBMin, lo, sizeof(lo));
            std::memcpy(bb.OBBMax, hi, sizeof(hi));
            boneBindings.push_back(bb);
        }
        for (auto& mesh : meshes) {
            mesh.PrimaryVertexData = &vertexData;
            mesh.PrimaryTopology = &topology;
        }
        // Only the first mesh carries the bone bindings, so that each box is met once.
        meshes[0].BoneBindingCount = int32_t(boneBindings.size());
        meshes[0].BoneBindings = boneBindings.data();
        meshBindings[0].Mesh = &meshes[0];
        meshBindings[1].Mesh = &meshes[0];
        meshBindings[2].Mesh = &meshes[1];
        model.Skeleton = skeleton.get();
        OrvaneMakeIdentity(&model.InitialPlacement);
        model.InitialPlacement.Flags = OrvaneTransformHasPosition;
        model.InitialPlacement.Position[0] = 3.0f;
        model.MeshBindingCount = 3;
        model.MeshBindings = meshBindings;
        groups[0] = groups[1] = groups[2] = group.get();
        animations[0].TrackGroupCount = 1;
        animations[0].TrackGroups = groups;
        animations[1].TrackGroupCount = 2;
        animations[1].TrackGroups = groups + 1;

        tool.UnitsPerMeter = 1.0f;
        std::memcpy(tool.RightVector, kToolRight, sizeof(kToolRight));
        std::memcpy(tool.UpVector, kToolUp, sizeof(kToolUp));
        std::memcpy(tool.BackVector, kToolBack, sizeof(kToolBack));
        skeletons[0] = skeletons[1] = skeleton.get();
        meshList[0] = &meshes[0];
        meshList[1] = &meshes[1];
        models[0] = models[1] = &model;
        animationList[0] = &animations[0];
        animationList[1] = &animations[1];
        vertexDatas[0] = &vertexData;
        file.ArtToolInfo = &tool;
        file.SkeletonCount = 2;
        file.Skeletons = skeletons;
        file.MeshCount = 2;
        file.Meshes = meshList;
        file.ModelCount = 2;
        file.Models = models;
        file.AnimationCount = 2;
        file.Animations = animationList;
        file.VertexDataCount = 1;
        file.VertexDatas = vertexDatas;
        file.TrackGroupCount = 1;
        file.TrackGroups = groups;
    }
    Character(const Character&) = delete;

    // World positions of the bones with the animation sampled at time t, and the vertices
    // skinned by that pose through the mesh binding's skinning matrices.
    struct Frame {
        std::vector<float> bones, skinned;
    };
    Frame Sample(float t) {
        orvane_local_pose* local = OrvaneNewLocalPose(kBones);
        orvane_world_pose* world = OrvaneNewWorldPose(kBones);
        for (int i = 0; i < kBones; ++i) {
            // The builder sorts the tracks by name: find each bone's.
            for (int k = 0; k < group->TransformTrackCount; ++k) {
                if (std::strcmp(group->TransformTracks[k].Name, kBoneNames[i]) != 0) continue;
                orvane_track_sample_context context{t, 1.0f, false, false, 0};
                orvane_transform* r = OrvaneGetLocalPoseTransform(local, i);
                r->Flags = 0;
                OrvaneSampleTrackUUULocal(&context, &group->TransformTracks[k], nullptr, r);
            }
        }
        OrvaneBuildWorldPose(skeleton.get(), 0, kBones, local, nullptr, world);
        Frame f;
        for (int i = 0; i < kBones; ++i) {
            const float* m = OrvaneGetWorldPose4x4(world, i);
            f.bones.insert(f.bones.end(), m + 12, m + 15);
        }
        orvane_mesh_binding* binding =
            OrvaneNewMeshBinding(&meshes[0], skeleton.get(), skeleton.get());
        EXPECT_NE(binding, nullptr);
        float matrices[2 * 16];
        OrvaneBuildMeshBinding4x4ArrayFromMatrices(binding, OrvaneGetWorldPose4x4Array(world),
                                                   kBones, 0, 2, matrices);
        // Each vertex by its bone's skinning matrix (row vectors, translation in 12..14).
        for (const auto& v : vertices) {
            const float* m = matrices + 16 * v.BoneIndices[0];
            for (int k = 0; k < 3; ++k)
                f.skinned.push_back(v.Position[0] * m[k] + v.Position[1] * m[4 + k] +
                                    v.Position[2] * m[8 + k] + m[12 + k]);
        }
        OrvaneFreeMeshBinding(binding);
        OrvaneFreeWorldPose(world);
        OrvaneFreeLocalPose(local);
        return f;
    }
};

// Points of a list mapped through a row-major 3x3.
std::vector<float> Mapped(const std::vector<float>& points, const float m[9]) {
    std::vector<float> r(points.size());
    for (size_t i = 0; i + 2 < points.size(); i += 3)
        for (int k = 0; k < 3; ++k)
            r[i + k] =
                m[3 * k] * points[i] + m[3 * k + 1] * points[i + 1] + m[3 * k + 2] * points[i + 2];
    return r;
}
void ExpectNear(const std::vector<float>& a, const std::vector<float>& b, float tolerance) {
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i)
        EXPECT_NEAR(a[i], b[i], tolerance) << "at " << i;
}
std::vector<float> Positions(const Character& c) {
    std::vector<float> p;
    for (auto& v : c.vertices)
        p.insert(p.end(), v.Position, v.Position + 3);
    return p;
}

struct Conversion {
    float affine[3], linear[9], inverse[9];
};
Conversion ToApplication(const orvane_file_info& file, const float* back = kAppBack) {
    Conversion c;
    EXPECT_TRUE(OrvaneComputeBasisConversion(&file, 100.0f, kZero, kAppRight, kAppUp, back,
                                             c.affine, c.linear, c.inverse));
    return c;
}

TEST(BasisConversion, ComputedConversions) {
    Character c;
    float a[3], l[9], i[9];
    // Equal bases: the identity.
    ASSERT_TRUE(OrvaneComputeBasisConversion(&c.file, 1.0f, kZero, kToolRight, kToolUp, kToolBack,
                                             a, l, i));
    for (int k = 0; k < 9; ++k)
        EXPECT_EQ(l[k], k % 4 == 0 ? 1.0f : 0.0f);
    for (int k = 0; k < 9; ++k)
        EXPECT_EQ(i[k], k % 4 == 0 ? 1.0f : 0.0f);
    EXPECT_EQ(a[0], 0.0f);
    // 100 units per metre from 1: Linear scaled by 100, the origin difference not.
    const float origin[3] = {1, 2, 3};
    c.tool.Origin[2] = 0.5f;
    ASSERT_TRUE(OrvaneComputeBasisConversion(&c.file, 100.0f, origin, kToolRight, kToolUp,
                                             kToolBack, a, l, i));
    EXPECT_EQ(l[0], 100.0f);
    EXPECT_EQ(l[4], 100.0f);
    EXPECT_FLOAT_EQ(i[8], 0.01f);
    EXPECT_EQ(a[2], 2.5f);
    // Z-up to Y-up: the tool's up (z) becomes y, its back (-y) becomes z.
    Conversion y = ToApplication(c.file);
    const float up[3] = {0, 0, 1};
    float mapped[3];
    for (int r = 0; r < 3; ++r)
        mapped[r] = y.linear[3 * r + 2] * up[2];
    EXPECT_EQ(mapped[1], 100.0f);
    EXPECT_EQ(y.linear[3 * 2 + 1], -100.0f);  // tool y (forward) -> app -z
}

TEST(BasisConversion, GeneralAxesGiveTheScaledProductOfTheBases) {
    // Skewed, unnormalised axes on both sides, so that rows and columns cannot be mistaken for
    // each other: Linear = D S (desired / tool units), D's columns the desired axes, S's rows
    // the tool's.
    orvane_art_tool_info tool{};
    tool.UnitsPerMeter = 2.5f;
    const float toolAxes[3][3] = {{1.0f, 0.2f, 0.1f}, {0.3f, 1.0f, 0.2f}, {0.1f, -0.2f, 1.0f}};
    std::memcpy(tool.RightVector, toolAxes[0], sizeof(toolAxes[0]));
    std::memcpy(tool.UpVector, toolAxes[1], sizeof(toolAxes[1]));
    std::memcpy(tool.BackVector, toolAxes[2], sizeof(toolAxes[2]));
    const float toolOrigin[3] = {1.0f, 2.0f, 3.0f};
    std::memcpy(tool.Origin, toolOrigin, sizeof(toolOrigin));
    orvane_file_info file{};
    file.ArtToolInfo = &tool;
    const float right[3] = {0.0f, 1.0f, 0.1f}, up[3] = {0.2f, 0.0f, 1.0f},
                back[3] = {1.0f, 0.3f, 0.0f}, origin[3] = {5.0f, 4.5f, -7.0f};
    float a[3], l[9], i[9];
    ASSERT_TRUE(OrvaneComputeBasisConversion(&file, 10.0f, origin, right, up, back, a, l, i));

    double expected[3][3], d[3][3], s[3][3];
    for (int r = 0; r < 3; ++r) {
        d[r][0] = right[r];
        d[r][1] = up[r];
        d[r][2] = back[r];
        for (int c = 0; c < 3; ++c)
            s[r][c] = toolAxes[r][c];
    }
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            expected[r][c] = 4.0 * (d[r][0] * s[0][c] + d[r][1] * s[1][c] + d[r][2] * s[2][c]);
    for (int k = 0; k < 9; ++k)
        EXPECT_NEAR(l[k], expected[k / 3][k % 3], 1e-5) << k;
    // The inverse, row-major: Linear * InverseLinear is the identity.
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            double sum = 0.0;
            for (int k = 0; k < 3; ++k)
                sum += expected[r][k] * i[3 * k + c];
            EXPECT_NEAR(sum, r == c ? 1.0 : 0.0, 1e-5) << r << ", " << c;
        }
    // The plain difference of the origins.
    EXPECT_EQ(a[0], 4.0f);
    EXPECT_EQ(a[1], 2.5f);
    EXPECT_EQ(a[2], -10.0f);
}

TEST(BasisConversion, RefusesMissingAndDegenerateBases) {
    orvane_test::LogCapture log;
    Character c;
    float a[3] = {7, 7, 7}, l[9], i[9];
    auto compute = [&](float units, const float* up) {
        return OrvaneComputeBasisConversion(&c.file, units, kZero, kAppRight, up, kAppBack, a, l,
                                            i);
    };
    c.file.ArtToolInfo = nullptr;
    EXPECT_FALSE(compute(1, kAppUp));
    EXPECT_TRUE(log.Contains("FileInfo.ArtToolInfo is not allowed to be 0"));
    c.file.ArtToolInfo = &c.tool;
    c.tool.UnitsPerMeter = 0.0f;
    EXPECT_FALSE(compute(1, kAppUp));
    c.tool.UnitsPerMeter = std::nanf("");
    EXPECT_FALSE(compute(1, kAppUp));
    c.tool.UnitsPerMeter = 1.0f;
    EXPECT_FALSE(compute(0, kAppUp));     // desired units 0
    EXPECT_FALSE(compute(1, kAppRight));  // the desired axes are degenerate
    std::memcpy(c.tool.UpVector, c.tool.RightVector, sizeof(c.tool.UpVector));
    EXPECT_FALSE(compute(1, kAppUp));  // the file's axes are degenerate
    EXPECT_EQ(log.errors(), 6u);
    EXPECT_EQ(a[0], 7.0f);
    EXPECT_FALSE(
        OrvaneComputeBasisConversion(nullptr, 1, kZero, kAppRight, kAppUp, kAppBack, a, l, i));
}

TEST(BasisConversion, FileRoundTripKeepsShapeAndConvertsSharedObjectsOnce) {
    Character c;
    const std::vector<float> positions = Positions(c);
    const Character::Frame before = c.Sample(0.5f);
    const orvane_transform placement = c.model.InitialPlacement;
    const float boxMax = c.boneBindings[0].OBBMax[2];

    Conversion to = ToApplication(c.file);
    ASSERT_TRUE(
        OrvaneTransformFile(&c.file, to.affine, to.linear, to.inverse, 0.0001f, 0.0001f,
                            OrvaneBasisRenormalizeDirections | OrvaneBasisReverseMirroredWinding));
    // The shared vertex data once (not twice for two meshes), winding kept (no mirror).
    ExpectNear(Positions(c), Mapped(positions, to.linear), 1e-4f);
    EXPECT_EQ(c.indices, (std::vector<int32_t>{0, 1, 2, 3, 4, 5}));
    EXPECT_NEAR(c.vertices[0].Normal[1], 0.8f, 1e-6);  // tool z -> app y, renormalised
    // The model's placement once although the file lists the model twice.
    EXPECT_FLOAT_EQ(c.model.InitialPlacement.Position[0], 300.0f);
    // Bone boxes: the tool's z extent becomes the y extent.
    EXPECT_FLOAT_EQ(c.boneBindings[0].OBBMax[1], boxMax * 100.0f);
    // Skeleton (listed twice) and track group (shared by both animations, twice by one)
    // once: sampled bones and skinned vertices are the originals mapped through Linear.
    const Character::Frame after = c.Sample(0.5f);
    ExpectNear(after.bones, Mapped(before.bones, to.linear), 1e-3f);
    ExpectNear(after.skinned, Mapped(before.skinned, to.linear), 1e-3f);
    EXPECT_FLOAT_EQ(c.group->InitialPlacement.Position[2], -200.0f);

    // And back into the tool's basis.
    orvane_art_tool_info app{};
    app.UnitsPerMeter = 100.0f;
    std::memcpy(app.RightVector, kAppRight, sizeof(kAppRight));
    std::memcpy(app.UpVector, kAppUp, sizeof(kAppUp));
    std::memcpy(app.BackVector, kAppBack, sizeof(kAppBack));
    orvane_file_info appFile{};
    appFile.ArtToolInfo = &app;
    Conversion back;
    ASSERT_TRUE(OrvaneComputeBasisConversion(&appFile, 1.0f, kZero, kToolRight, kToolUp, kToolBack,
                                             back.affine, back.linear, back.inverse));
    ASSERT_TRUE(OrvaneTransformFile(&c.file, back.affine, back.linear, back.inverse, 0.0001f,
                                    0.0001f, OrvaneBasisRenormalizeDirections));
    ExpectNear(Positions(c), positions, 1e-5f);
    const Character::Frame again = c.Sample(0.5f);
    ExpectNear(again.bones, before.bones, 1e-5f);
    ExpectNear(again.skinned, before.skinned, 1e-5f);
    EXPECT_NEAR(c.model.InitialPlacement.Position[0], placement.Position[0], 1e-6);
}

TEST(BasisConversion, MirroringBasisReversesTheSharedTopologyOnceWhenAsked) {
    const float mirrored[3] = {0, 0, -1};
    for (bool reverse : {false, true}) {
        Character c;
        Conversion m = ToApplication(c.file, mirrored);
        ASSERT_TRUE(
            OrvaneTransformFile(&c.file, m.affine, m.linear, m.inverse, 0.0001f, 0.0001f,
                                reverse ? uint32_t(OrvaneBasisReverseMirroredWinding) : 0u));
        const std::vector<int32_t> reversed = {2, 1, 0, 5, 4, 3};
        EXPECT_EQ(c.indices, reverse ? reversed : std::vector<int32_t>({0, 1, 2, 3, 4, 5}));
    }
    // The model path visits the mesh bound twice, and the other mesh sharing the topology,
    // once each: the topology is reversed exactly once.
    Character c;
    Conversion m = ToApplication(c.file, mirrored);
    ASSERT_TRUE(OrvaneTransformModel(&c.model, m.affine, m.linear, m.inverse, 0.0001f, 0.0001f,
                                     OrvaneBasisReverseMirroredWinding));
    EXPECT_EQ(c.indices, (std::vector<int32_t>{2, 1, 0, 5, 4, 3}));
    EXPECT_FLOAT_EQ(c.vertices[0].Position[0], 10.0f);
}

TEST(BasisConversion, SingleObjectsAndResorting) {
    Character c;
    const std::vector<float> positions = Positions(c);
    Conversion to = ToApplication(c.file);
    // A mesh alone: its vertex data once although the morph target list names it too.
    orvane_morph_target target{nullptr, &c.vertexData};
    c.meshes[1].MorphTargetCount = 1;
    c.meshes[1].MorphTargets = &target;
    ASSERT_TRUE(OrvaneTransformMesh(&c.meshes[1], to.affine, to.linear, to.inverse, 0, 0, 0));
    ExpectNear(Positions(c), Mapped(positions, to.linear), 1e-4f);
    // An animation naming one track group twice converts it once.
    const float y = c.group->InitialPlacement.Position[1];
    ASSERT_TRUE(
        OrvaneTransformAnimation(&c.animations[1], to.affine, to.linear, to.inverse, 0, 0, 0));
    EXPECT_FLOAT_EQ(c.group->InitialPlacement.Position[2], -100.0f * y);
    // Null objects are nothing to do; null matrices are refused.
    EXPECT_TRUE(OrvaneTransformSkeleton(nullptr, to.affine, to.linear, to.inverse, 0, 0, 0));
    {
        orvane_test::LogCapture log;
        EXPECT_FALSE(
            OrvaneTransformSkeleton(c.skeleton.get(), nullptr, to.linear, to.inverse, 0, 0, 0));
        EXPECT_EQ(log.errors(), 1u);
    }
    OrvaneResortAllFileTrackGroups(&c.file);
    OrvaneResortAllAnimationTrackGroups(nullptr);
    for (int k = 1; k < c.group->TransformTrackCount; ++k)
        EXPECT_LT(
            std::strcmp(c.group->TransformTracks[k - 1].Name, c.group->TransformTracks[k].Name), 0);
}

TEST(BasisConversion, MorphCurvesOfThePrimaryVertexData) {
    Character c;
    // Two annotation sets of one curve each: a position offset and a normal offset.
    orvane_data_type_definition annotation[2] = {};
    annotation[0].Type = OrvaneInlineMember;
    annotation[0].Name = "Curve";
    annotation[0].ReferenceType = OrvaneCurve2Type;
    orvane_curve_data_d3_constant32f data[2] = {};
    const float offsets[2][3] = {{0.0f, 1.0f, 2.0f}, {0.6f, 0.0f, 0.8f}};
    orvane_curve2 curves[2];
    for (int i = 0; i < 2; ++i) {
        std::memcpy(data[i].Controls, offsets[i], sizeof(offsets[i]));
        curves[i].CurveData.Type = OrvaneCurveDataD3Constant32fType;
        curves[i].CurveData.Object = &data[i];
        OrvaneCurveInitializeFormat(&curves[i]);
    }
    orvane_vertex_annotation_set sets[3] = {};
    const char* names[3] = {"VertexMorphCurvePosition", "VertexMorphCurveNormal", "Other"};
    for (int i = 0; i < 3; ++i) {
        sets[i].Name = const_cast<char*>(names[i]);
        sets[i].VertexAnnotationType = annotation;
        sets[i].VertexAnnotationCount = 1;
        sets[i].VertexAnnotations = &curves[i < 2 ? i : 0];
    }
    c.vertexData.VertexAnnotationSetCount = 2;
    c.vertexData.VertexAnnotationSets = sets;
    Conversion to = ToApplication(c.file);
    ASSERT_TRUE(OrvaneTransformFile(&c.file, to.affine, to.linear, to.inverse, 0.0001f, 0.0001f,
                                    OrvaneBasisRenormalizeDirections));
    // Positions scale with the units (tool y -> app -z, z -> y); normals only turn, through
    // the normalised rows of the inverse transpose. Each set once for two meshes.
    const orvane_curve_data_d3_constant32f* p =
        static_cast<const orvane_curve_data_d3_constant32f*>(curves[0].CurveData.Object);
    const orvane_curve_data_d3_constant32f* n =
        static_cast<const orvane_curve_data_d3_constant32f*>(curves[1].CurveData.Object);
    EXPECT_NEAR(p->Controls[0], 0.0f, 1e-4);
    EXPECT_NEAR(p->Controls[1], 200.0f, 1e-3);
    EXPECT_NEAR(p->Controls[2], -100.0f, 1e-3);
    EXPECT_NEAR(n->Controls[0], 0.6f, 1e-5);
    EXPECT_NEAR(n->Controls[1], 0.8f, 1e-5);
    EXPECT_NEAR(n->Controls[2], 0.0f, 1e-5);
}

TEST(BasisConversion, MorphCurveSetsTakeTheMatrixTheirNameCallsFor) {
    // A shear, so that Linear and the transpose of its inverse move (1, 1, 0) differently:
    // Linear gives (2, 1, 0), transpose(InverseLinear) gives (1, 0, 0).
    const float linear[9] = {1, 1, 0, 0, 1, 0, 0, 0, 1};
    const float inverse[9] = {1, -1, 0, 0, 1, 0, 0, 0, 1};
    const float affine[3] = {10, 20, 30};
    const char* const names[5] = {"VertexMorphCurvePosition", "VertexMorphCurveTangent",
                                  "VertexMorphCurveBinormal", "VertexMorphCurveNormal",
                                  "VertexMorphCurveTangentBinormalCross"};
    for (bool renormalise : {false, true}) {
        orvane_data_type_definition annotation[2] = {};
        annotation[0].Type = OrvaneInlineMember;
        annotation[0].Name = "Curve";
        annotation[0].ReferenceType = OrvaneCurve2Type;
        orvane_curve_data_d3_constant32f data[5] = {};
        orvane_curve2 curves[5];
        orvane_vertex_annotation_set sets[5] = {};
        for (int i = 0; i < 5; ++i) {
            data[i].Controls[0] = 1.0f;
            data[i].Controls[1] = 1.0f;
            curves[i].CurveData.Type = OrvaneCurveDataD3Constant32fType;
            curves[i].CurveData.Object = &data[i];
            OrvaneCurveInitializeFormat(&curves[i]);
            sets[i].Name = const_cast<char*>(names[i]);
            sets[i].VertexAnnotationType = annotation;
            sets[i].VertexAnnotationCount = 1;
            sets[i].VertexAnnotations = &curves[i];
        }
        orvane_vertex_data vertexData{};
        vertexData.VertexAnnotationSetCount = 5;
        vertexData.VertexAnnotationSets = sets;
        orvane_mesh mesh{};
        mesh.PrimaryVertexData = &vertexData;
        ASSERT_TRUE(
            OrvaneTransformMesh(&mesh, affine, linear, inverse, 0.0001f, 0.0001f,
                                renormalise ? uint32_t(OrvaneBasisRenormalizeDirections) : 0u));
        auto controls = [&](int i) {
            const auto* d =
                static_cast<const orvane_curve_data_d3_constant32f*>(curves[i].CurveData.Object);
            return std::vector<float>(d->Controls, d->Controls + 3);
        };
        // Positions: Linear and the translation, never renormalised.
        ExpectNear(controls(0), {12.0f, 21.0f, 30.0f}, 1e-5f);
        // Tangents and binormals: Linear without the translation; renormalised, its rows
        // have unit length: (1, 1, 0) / sqrt(2) and (0, 1, 0).
        const float r = 1.0f / std::sqrt(2.0f);
        const std::vector<float> tangent =
            renormalise ? std::vector<float>{2.0f * r, 1.0f, 0.0f} : std::vector<float>{2, 1, 0};
        ExpectNear(controls(1), tangent, 1e-5f);
        ExpectNear(controls(2), tangent, 1e-5f);
        // Normals and the tangent-binormal cross: the transpose of the inverse, whose rows
        // (1, 0, 0) and (-1, 1, 0) (scaled to unit length when renormalised) give (1, 0, 0).
        const std::vector<float> normal = {1.0f, 0.0f, 0.0f};
        ExpectNear(controls(3), normal, 1e-5f);
        ExpectNear(controls(4), normal, 1e-5f);
    }
}

}  // namespace

// Meshes, topologies and mesh bindings: queries on null and empty parts, index conversion,
// winding inversion with the side map, material remapping, bounding boxes, bindings onto the
// same and onto a transferred skeleton, and the skinning matrices.
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "orvane/math.h"
#include "orvane/mesh.h"
#include "orvane/mesh_builder.h"
#include "support/log_capture.h"

namespace {

using orvane_test::LogCapture;

TEST(MeshQueries, NullAndEmptyParts) {
    EXPECT_EQ(OrvaneGetMeshVertexCount(nullptr), 0);
    EXPECT_EQ(OrvaneGetMeshVertices(nullptr), nullptr);
    EXPECT_EQ(OrvaneGetMeshTriangleGroups(nullptr), nullptr);
    orvane_mesh mesh = {};
    char name[] = "Empty";
    mesh.Name = name;
    EXPECT_EQ(OrvaneGetMeshVertexType(&mesh), nullptr);
    EXPECT_EQ(OrvaneGetMeshTriangleGroupCount(&mesh), 0);
    EXPECT_EQ(OrvaneGetMeshIndexCount(&mesh), 0);
    EXPECT_TRUE(OrvaneMeshIsRigid(&mesh));
    orvane_tri_topology topology = {};
    mesh.PrimaryTopology = &topology;
    EXPECT_EQ(OrvaneGetMeshBytesPerIndex(&mesh), 0);
    EXPECT_EQ(OrvaneGetMeshIndexCount(&mesh), 0);
    EXPECT_EQ(OrvaneGetMeshIndices(&mesh), nullptr);
    LogCapture log;
    int32_t dest[3] = {7, 7, 7};
    OrvaneCopyMeshIndices(&mesh, 4, dest);
    EXPECT_TRUE(log.Contains("Mesh \"Empty\" has no indices."));
    OrvaneCopyMeshVertices(&mesh, OrvanePN33VertexType, dest);
    EXPECT_TRUE(log.Contains("Mesh \"Empty\" has no vertices."));
    EXPECT_EQ(OrvaneGetMeshMorphVertexCount(&mesh, 0), 0);
    EXPECT_TRUE(log.Contains("MorphTargetIndex 0 is out of range [0, 0)"));
    EXPECT_EQ(log.errors(), 3u);
    for (const auto& m : log.messages())
        EXPECT_EQ(m.origin, OrvaneMeshOrigin);
    EXPECT_EQ(dest[0], 7);
}

TEST(MeshQueries, VerticesIndicesAndMorphTargets) {
    orvane_pn33_vertex vertices[3] = {
        {{1, 2, 3}, {0, 0, 1}}, {{4, 5, 6}, {0, 1, 0}}, {{7, 8, 9}, {1, 0, 0}}};
    orvane_vertex_data data = {};
    data.VertexType = OrvanePN33VertexType;
    data.VertexCount = 3;
    data.Vertices = vertices;
    orvane_p3_vertex morphed[3] = {{{9, 9, 9}}, {{8, 8, 8}}, {{7, 7, 7}}};
    orvane_vertex_data morphData = {};
    morphData.VertexType = OrvaneP3VertexType;
    morphData.VertexCount = 3;
    morphData.Vertices = morphed;
    char smile[] = "Smile";
    orvane_morph_target target = {smile, &morphData};
    int16_t indices16[6] = {0, 1, 2, 2, 1, 0};
    orvane_tri_material_group groups[1] = {{0, 0, 2}};
    orvane_tri_topology topology = {};
    topology.Index16Count = 6;
    topology.Indices16 = indices16;
    topology.GroupCount = 1;
    topology.Groups = groups;
    orvane_mesh mesh = {};
    mesh.PrimaryVertexData = &data;
    mesh.PrimaryTopology = &topology;
    mesh.MorphTargetCount = 1;
    mesh.MorphTargets = &target;

    EXPECT_EQ(OrvaneGetMeshVertexCount(&mesh), 3);
    EXPECT_EQ(OrvaneGetMeshVertexType(&mesh), OrvanePN33VertexType);
    EXPECT_EQ(OrvaneGetMeshBytesPerIndex(&mesh), 2);
    EXPECT_EQ(OrvaneGetMeshTriangleCount(&mesh), 2);
    EXPECT_EQ(OrvaneGetMeshIndices(&mesh), indices16);
    EXPECT_EQ(OrvaneGetMeshTriangleGroupCount(&mesh), 1);
    EXPECT_EQ(OrvaneGetMeshMorphTargetCount(&mesh), 1);
    EXPECT_EQ(OrvaneGetMeshMorphVertexType(&mesh, 0), OrvaneP3VertexType);
    EXPECT_EQ(OrvaneGetMeshMorphVertices(&mesh, 0), morphed);

    uint8_t bytes[6];
    OrvaneCopyMeshIndices(&mesh, 1, bytes);
    EXPECT_EQ(bytes[3], 2);
    orvane_p3_vertex positions[3];
    OrvaneCopyMeshVertices(&mesh, OrvaneP3VertexType, positions);
    EXPECT_EQ(positions[2].Position[1], 8.0f);
    orvane_pn33_vertex fromMorph[3];
    OrvaneCopyMeshMorphVertices(&mesh, 0, OrvanePN33VertexType, fromMorph);
    EXPECT_EQ(fromMorph[1].Position[0], 8.0f);
    EXPECT_EQ(fromMorph[1].Normal[0], 0.0f);

    int32_t indices32[3] = {2, 1, 0};
    topology.IndexCount = 3;
    topology.Indices = indices32;
    EXPECT_EQ(OrvaneGetMeshBytesPerIndex(&mesh), 4);
    EXPECT_EQ(OrvaneGetMeshIndexCount(&mesh), 3);
}

TEST(Indices, Conversions) {
    const uint32_t wide[2] = {70000, 5};
    uint16_t narrow[2];
    OrvaneConvertIndices(2, 4, wide, 2, narrow);
    EXPECT_EQ(narrow[0], 4464);
    EXPECT_EQ(narrow[1], 5);
    const uint16_t top[1] = {65535};
    uint32_t widened[1];
    OrvaneConvertIndices(1, 2, top, 4, widened);
    EXPECT_EQ(widened[0], 65535u);
    uint8_t bytes[2];
    OrvaneConvertIndices(2, 4, wide, 1, bytes);
    EXPECT_EQ(bytes[0], 70000 & 0xFF);
    uint32_t copy[2] = {};
    OrvaneConvertIndices(2, 4, wide, 4, copy);
    EXPECT_EQ(copy[0], 70000u);

    LogCapture log;
    uint32_t untouched[1] = {9};
    OrvaneConvertIndices(1, 3, wide, 4, untouched);
    EXPECT_TRUE(log.Contains("Illegal value for FromBytesPerIndex (3)"));
    OrvaneConvertIndices(1, 4, wide, 8, untouched);
    EXPECT_TRUE(log.Contains("Illegal value for ToBytesPerIndex (8)"));
    EXPECT_EQ(untouched[0], 9u);
}

TEST(Topology, InvertingWindingRewritesTheSideMap) {
    // Two triangles sharing the edge 1-2: triangle 0 = (0, 1, 2), triangle 1 = (2, 1, 3).
    int32_t indices[7] = {0, 1, 2, 2, 1, 3, 99};
    int16_t indices16[3] = {0, 1, 2};
    // Side 1 of triangle 0 (1->2) meets side 0 of triangle 1 (2->1), and the reverse.
    int32_t sides[6] = {-1, 4 * 1 + 0, -1, 4 * 0 + 1, -1, -1};
    orvane_tri_topology topology = {};
    topology.IndexCount = 7;
    topology.Indices = indices;
    topology.Index16Count = 3;
    topology.Indices16 = indices16;
    topology.SideToNeighborCount = 6;
    topology.SideToNeighborMap = sides;
    OrvaneInvertTriTopologyWinding(&topology);
    EXPECT_EQ(std::vector<int32_t>(indices, indices + 7),
              (std::vector<int32_t>{2, 1, 0, 3, 1, 2, 99}));
    EXPECT_EQ(std::vector<int16_t>(indices16, indices16 + 3), (std::vector<int16_t>{2, 1, 0}));
    // Triangle 0 is now (2, 1, 0): its side 0 (2->1) meets triangle 1's new side 1 (1->2).
    EXPECT_EQ(std::vector<int32_t>(sides, sides + 6),
              (std::vector<int32_t>{4 * 1 + 1, -1, -1, -1, 4 * 0 + 0, -1}));
    OrvaneInvertTriTopologyWinding(&topology);
    EXPECT_EQ(std::vector<int32_t>(sides, sides + 6),
              (std::vector<int32_t>{-1, 4 * 1 + 0, -1, 4 * 0 + 1, -1, -1}));
    OrvaneInvertTriTopologyWinding(nullptr);
}

TEST(Topology, MaterialRemapWarnsAboutOutOfRangeGroups) {
    orvane_tri_material_group groups[3] = {{0, 0, 1}, {1, 1, 1}, {5, 2, 1}};
    orvane_tri_topology topology = {};
    topology.GroupCount = 3;
    topology.Groups = groups;
    const int32_t remap[2] = {7, 8};
    LogCapture log;
    OrvaneRemapTopologyMaterials(&topology, 2, remap);
    EXPECT_EQ(groups[0].MaterialIndex, 7);
    EXPECT_EQ(groups[1].MaterialIndex, 8);
    EXPECT_EQ(groups[2].MaterialIndex, 5);
    EXPECT_EQ(log.warnings(), 1u);
    EXPECT_TRUE(
        log.Contains("tri_topology material group had out-of-range index 5 during "
                     "remapping"));
}

TEST(Topology, BoundingBoxOfTheTransformedCorners) {
    float lo[3] = {0, 0, 0}, hi[3] = {1, 2, 3};
    const float affine[3] = {10, 0, 0};
    const float rotate[9] = {0, -1, 0, 1, 0, 0, 0, 0, 1};  // x -> y, y -> -x
    OrvaneTransformBoundingBox(affine, rotate, lo, hi);
    EXPECT_FLOAT_EQ(lo[0], 8.0f);
    EXPECT_FLOAT_EQ(hi[0], 10.0f);
    EXPECT_FLOAT_EQ(lo[1], 0.0f);
    EXPECT_FLOAT_EQ(hi[1], 1.0f);
    EXPECT_FLOAT_EQ(hi[2], 3.0f);
}

// ---- bindings ----

struct SkeletonFixture {
    std::vector<orvane_bone> bones;
    std::vector<std::string> names;
    orvane_skeleton skeleton{};
    SkeletonFixture(std::vector<std::string> boneNames, float offset)
        : names(std::move(boneNames)) {
        bones.resize(names.size());
        for (size_t i = 0; i < names.size(); ++i) {
            orvane_bone& bone = bones[i];
            std::memset(&bone, 0, sizeof(bone));
            bone.Name = names[i].data();
            bone.ParentIndex = static_cast<int32_t>(i) - 1;
            OrvaneMakeIdentity(&bone.Transform);
            float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -offset * float(i), 0, 0, 1};
            m[1] = 0.1f * float(i);  // a shear, so that the block product is visible
            std::memcpy(bone.InverseWorldTransform, m, sizeof(m));
        }
        skeleton.BoneCount = static_cast<int32_t>(bones.size());
        skeleton.Bones = bones.data();
    }
};

struct MeshFixture {
    std::vector<orvane_bone_binding> bindings;
    std::vector<std::string> names;
    std::vector<orvane_pwn343_vertex> vertices;
    orvane_vertex_data data{};
    orvane_mesh mesh{};
    explicit MeshFixture(std::vector<std::string> boneNames) : names(std::move(boneNames)) {
        bindings.resize(names.size());
        for (size_t i = 0; i < names.size(); ++i) {
            std::memset(&bindings[i], 0, sizeof(bindings[i]));
            bindings[i].BoneName = names[i].data();
        }
        vertices.resize(4);
        for (size_t v = 0; v < vertices.size(); ++v)
            vertices[v] = {
                {float(v), 0, 0}, {255, 0, 0, 0}, {uint8_t(v % names.size()), 0, 0, 0}, {0, 0, 1}};
        data.VertexType = OrvanePWN343VertexType;
        data.VertexCount = static_cast<int32_t>(vertices.size());
        data.Vertices = vertices.data();
        mesh.PrimaryVertexData = &data;
        mesh.BoneBindingCount = static_cast<int32_t>(bindings.size());
        mesh.BoneBindings = bindings.data();
    }
};

// World matrices that translate alone, by the given offsets.
std::vector<float> Translations(const std::vector<std::array<float, 3>>& offsets) {
    std::vector<float> world;
    for (const auto& t : offsets) {
        const float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, t[0], t[1], t[2], 1};
        world.insert(world.end(), m, m + 16);
    }
    return world;
}

TEST(MeshBinding, SameSkeletonSharesOneIndexArray) {
    SkeletonFixture skeleton({"root", "hip", "knee"}, 1.0f);
    MeshFixture mesh({"knee", "root"});
    EXPECT_FALSE(OrvaneMeshIsRigid(&mesh.mesh));
    const int32_t size =
        OrvaneGetResultingMeshBindingSize(&mesh.mesh, &skeleton.skeleton, &skeleton.skeleton);
    EXPECT_EQ(size, static_cast<int32_t>(8 * sizeof(void*) + 2 * 64 + 2 * 4));
    orvane_mesh_binding* binding =
        OrvaneNewMeshBinding(&mesh.mesh, &skeleton.skeleton, &skeleton.skeleton);
    ASSERT_NE(binding, nullptr);
    EXPECT_FALSE(OrvaneMeshBindingIsTransferred(binding));
    EXPECT_EQ(OrvaneGetMeshBindingBoneCount(binding), 2);
    EXPECT_EQ(OrvaneGetMeshBindingSourceMesh(binding), &mesh.mesh);
    EXPECT_EQ(OrvaneGetMeshBindingFromBoneIndices(binding),
              OrvaneGetMeshBindingToBoneIndices(binding));
    EXPECT_EQ(OrvaneGetMeshBindingToBoneIndices(binding)[0], 2);
    EXPECT_EQ(OrvaneGetMeshBindingToBoneIndices(binding)[1], 0);
    EXPECT_EQ(OrvaneGetMeshBinding4x4ArraySize(binding, 2), 128);

    // World matrices: translations 100, 200, 300 along y.
    const std::vector<float> worlds = Translations({{0, 100, 0}, {0, 200, 0}, {0, 300, 0}});
    const float* world = worlds.data();
    float matrices[2 * 16];
    OrvaneBuildMeshBinding4x4ArrayFromMatrices(binding, world, 3, 0, 2, matrices);
    for (int i = 0; i < 2; ++i) {
        const int bone = OrvaneGetMeshBindingToBoneIndices(binding)[i];
        float expected[16];
        OrvaneColumnMatrixMultiply4x3(expected, &skeleton.bones[bone].InverseWorldTransform[0][0],
                                      world + 16 * bone);
        for (int e = 0; e < 16; ++e)
            EXPECT_EQ(matrices[16 * i + e], expected[e]) << i << "/" << e;
    }
    EXPECT_FLOAT_EQ(matrices[12], -2.0f);
    EXPECT_FLOAT_EQ(matrices[13], 300.0f);
    EXPECT_FLOAT_EQ(matrices[1], 0.2f);
    EXPECT_EQ(matrices[15], 1.0f);
    OrvaneFreeMeshBinding(binding);
}

TEST(MeshBinding, SizesThatDoNotFitAnInt32AreRefused) {
    orvane_test::LogCapture log;
    EXPECT_EQ(OrvaneGetMeshBinding4x4ArraySize(nullptr, 33554431), 2147483584);
    EXPECT_EQ(log.errors(), 0u);
    // 2^25 and 2^26 + 1 bones: 2^31 and 2^32 + 64 bytes.
    EXPECT_EQ(OrvaneGetMeshBinding4x4ArraySize(nullptr, 33554432), 0);
    EXPECT_EQ(OrvaneGetMeshBinding4x4ArraySize(nullptr, 67108865), 0);
    EXPECT_EQ(OrvaneGetMeshBinding4x4ArraySize(nullptr, INT32_MAX), 0);
    EXPECT_TRUE(log.Contains("BoneCount 67108865 is out of range [0, 33554431]"));
    EXPECT_EQ(OrvaneGetMeshBinding4x4ArraySize(nullptr, -5), 0);

    // A mesh claiming more bone bindings than a binding's size can say.
    orvane_mesh mesh{};
    std::vector<orvane_bone_binding> one(1);
    mesh.BoneBindings = one.data();
    mesh.BoneBindingCount = INT32_MAX;
    orvane_skeleton a{}, b{};
    EXPECT_EQ(OrvaneGetResultingMeshBindingSize(&mesh, &a, &b), 0);
    EXPECT_EQ(OrvaneGetResultingMeshBindingSize(&mesh, &a, &a), 0);
}

TEST(MeshBinding, TransferredSkeletonLooksUpBothSides) {
    SkeletonFixture from({"root", "hip", "knee"}, 1.0f);
    SkeletonFixture to({"knee", "extra", "root", "hip"}, 2.0f);
    MeshFixture mesh({"hip", "knee", "root"});
    const int32_t size =
        OrvaneGetResultingMeshBindingSize(&mesh.mesh, &from.skeleton, &to.skeleton);
    EXPECT_EQ(size, static_cast<int32_t>(8 * sizeof(void*) + 3 * 64 + 2 * 3 * 4));
    std::vector<uint64_t> memory((size + 7) / 8);
    orvane_mesh_binding* binding =
        OrvaneNewMeshBindingInPlace(&mesh.mesh, &from.skeleton, &to.skeleton, memory.data());
    ASSERT_EQ(static_cast<void*>(binding), static_cast<void*>(memory.data()));
    EXPECT_TRUE(OrvaneMeshBindingIsTransferred(binding));
    const int32_t* fromIndices = OrvaneGetMeshBindingFromBoneIndices(binding);
    const int32_t* toIndices = OrvaneGetMeshBindingToBoneIndices(binding);
    EXPECT_EQ(std::vector<int32_t>(fromIndices, fromIndices + 3), (std::vector<int32_t>{1, 2, 0}));
    EXPECT_EQ(std::vector<int32_t>(toIndices, toIndices + 3), (std::vector<int32_t>{3, 0, 2}));
    float world[4 * 16];
    for (int b = 0; b < 4; ++b) {
        float m[16] = {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, float(b), 0, 0, 1};
        std::memcpy(world + 16 * b, m, sizeof(m));
    }
    float matrices[16];
    OrvaneBuildMeshBinding4x4ArrayFromMatrices(binding, world, 4, 1, 1, matrices);
    float expected[16];
    OrvaneColumnMatrixMultiply4x3(expected, &from.bones[2].InverseWorldTransform[0][0],
                                  world + 16 * 0);
    EXPECT_EQ(std::memcmp(matrices, expected, sizeof(expected)), 0);
}

TEST(MeshBinding, MatrixRangesAndShortWorldPoses) {
    SkeletonFixture skeleton({"a", "b", "c"}, 1.0f);
    MeshFixture mesh({"a", "b", "c"});
    orvane_mesh_binding* binding =
        OrvaneNewMeshBinding(&mesh.mesh, &skeleton.skeleton, &skeleton.skeleton);
    ASSERT_NE(binding, nullptr);
    float world[3 * 16] = {};
    std::vector<float> matrices(3 * 16, 42.0f);
    OrvaneBuildMeshBinding4x4ArrayFromMatrices(binding, world, 3, 2, 1, matrices.data());
    EXPECT_EQ(matrices[15], 1.0f);
    EXPECT_EQ(matrices[16], 42.0f);
    std::fill(matrices.begin(), matrices.end(), 42.0f);
    LogCapture log;
    OrvaneBuildMeshBinding4x4ArrayFromMatrices(binding, world, 3, 2, 2, matrices.data());
    EXPECT_TRUE(log.Contains("FirstBoneIndex + BoneCount 4 is out of range [0, 4)"));
    OrvaneBuildMeshBinding4x4ArrayFromMatrices(binding, world, 3, 3, 0, matrices.data());
    EXPECT_TRUE(log.Contains("FirstBoneIndex 3 is out of range [0, 3)"));
    OrvaneBuildMeshBinding4x4ArrayFromMatrices(binding, world, 3, -1, 1, matrices.data());
    EXPECT_TRUE(log.Contains("FirstBoneIndex -1 is out of range [0, 3)"));
    // World matrices of a smaller skeleton than the binding's.
    OrvaneBuildMeshBinding4x4ArrayFromMatrices(binding, world, 2, 0, 3, matrices.data());
    EXPECT_TRUE(log.Contains("ToBoneIndex 2 is out of range [0, 2)"));
    EXPECT_EQ(log.errors(), 4u);
    for (const auto& m : log.messages())
        EXPECT_EQ(m.origin, OrvaneMeshBindingOrigin);
    for (float value : matrices)
        ASSERT_EQ(value, 42.0f);
    OrvaneFreeMeshBinding(binding);
}

TEST(MeshBinding, AnEndWithinTheBonesIsNoErrorEvenBeforeTheFirstBone) {
    SkeletonFixture skeleton({"a", "b", "c"}, 1.0f);
    MeshFixture mesh({"a", "b", "c"});
    orvane_mesh_binding* binding =
        OrvaneNewMeshBinding(&mesh.mesh, &skeleton.skeleton, &skeleton.skeleton);
    ASSERT_NE(binding, nullptr);
    float world[3 * 16] = {};
    std::vector<float> matrices(3 * 16, 42.0f);
    LogCapture log;
    // First bone 2 and a count of -1 end at bone 1, inside [0, 3]: no matrix and no message.
    OrvaneBuildMeshBinding4x4ArrayFromMatrices(binding, world, 3, 2, -1, matrices.data());
    // First bone 1 and a count of -1 end at bone 0, the lowest end there is.
    OrvaneBuildMeshBinding4x4ArrayFromMatrices(binding, world, 3, 1, -1, matrices.data());
    EXPECT_EQ(log.messages().size(), 0u);
    // An end below 0 is out of range.
    OrvaneBuildMeshBinding4x4ArrayFromMatrices(binding, world, 3, 1, -2, matrices.data());
    EXPECT_TRUE(log.Contains("FirstBoneIndex + BoneCount -1 is out of range [0, 4)"));
    EXPECT_EQ(log.errors(), 1u);
    for (float value : matrices)
        ASSERT_EQ(value, 42.0f);
    OrvaneFreeMeshBinding(binding);
}

TEST(MeshBinding, MatricesFromAWorldPose) {
    SkeletonFixture skeleton({"root", "hip", "knee"}, 1.0f);
    for (int b = 0; b < 3; ++b) {
        const float position[3] = {0.5f * b, 1.0f, -0.25f * b};
        const float orientation[4] = {0.0f, 0.38268343f, 0.0f, 0.92387953f};
        const float scale[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
        OrvaneSetTransform(&skeleton.bones[b].Transform, position, orientation, scale);
    }
    MeshFixture mesh({"knee", "hip"});
    orvane_mesh_binding* binding =
        OrvaneNewMeshBinding(&mesh.mesh, &skeleton.skeleton, &skeleton.skeleton);
    ASSERT_NE(binding, nullptr);
    orvane_world_pose* pose = OrvaneNewWorldPose(3);
    OrvaneBuildRestWorldPose(&skeleton.skeleton, 0, 3, nullptr, pose);
    float fromPose[32], fromMatrices[32];
    OrvaneBuildMeshBinding4x4Array(binding, pose, 0, 2, fromPose);
    OrvaneBuildMeshBinding4x4ArrayFromMatrices(binding, OrvaneGetWorldPose4x4Array(pose), 3, 0, 2,
                                               fromMatrices);
    EXPECT_EQ(std::memcmp(fromPose, fromMatrices, sizeof(fromPose)), 0);
    float expected[16];
    OrvaneColumnMatrixMultiply4x3(expected, &skeleton.bones[2].InverseWorldTransform[0][0],
                                  OrvaneGetWorldPose4x4(pose, 2));
    EXPECT_EQ(std::memcmp(fromPose, expected, sizeof(expected)), 0);
    // A pose of fewer bones than the skeleton lacks "knee".
    orvane_world_pose* small = OrvaneNewWorldPose(2);
    OrvaneBuildRestWorldPose(&skeleton.skeleton, 0, 2, nullptr, small);
    LogCapture log;
    float untouched[32] = {};
    OrvaneBuildMeshBinding4x4Array(binding, small, 0, 2, untouched);
    EXPECT_TRUE(log.Contains("ToBoneIndex 2 is out of range [0, 2)"));
    EXPECT_EQ(untouched[15], 0.0f);
    OrvaneBuildMeshBinding4x4Array(binding, nullptr, 0, 2, untouched);
    EXPECT_EQ(log.errors(), 2u);
    OrvaneFreeWorldPose(small);
    OrvaneFreeWorldPose(pose);
    OrvaneFreeMeshBinding(binding);
}

// Subnormal numbers in a skeleton's inverse world matrices count as 0 (each product of one
// would cost the processor an assist every frame); every other bone's matrix is the exact
// product.
TEST(MeshBinding, SubnormalInverseElementsCountAsZero) {
    SkeletonFixture skeleton({"root", "hip", "knee", "toe"}, 1.0f);
    skeleton.bones[1].InverseWorldTransform[0][1] = 1.0e-39f;
    skeleton.bones[1].InverseWorldTransform[3][2] = -3.0e-40f;
    MeshFixture mesh({"toe", "hip", "knee", "root"});
    orvane_mesh_binding* binding =
        OrvaneNewMeshBinding(&mesh.mesh, &skeleton.skeleton, &skeleton.skeleton);
    ASSERT_NE(binding, nullptr);
    // Translations alone: the subnormal element's product is then the whole sum of its
    // element, and shows when it is kept.
    const std::vector<float> worlds =
        Translations({{0, 2, 3}, {0.5f, 2, 3}, {1, 2, 3}, {1.5f, 2, 3}});
    const float* world = worlds.data();
    float matrices[4 * 16];
    OrvaneBuildMeshBinding4x4ArrayFromMatrices(binding, world, 4, 0, 4, matrices);
    for (int i = 0; i < 4; ++i) {
        const int bone = OrvaneGetMeshBindingToBoneIndices(binding)[i];
        float inverse[16];
        std::memcpy(inverse, &skeleton.bones[bone].InverseWorldTransform[0][0], sizeof inverse);
        for (float& v : inverse)
            if (std::fpclassify(v) == FP_SUBNORMAL) v = 0.0f;
        float expected[16];
        OrvaneColumnMatrixMultiply4x3(expected, inverse, world + 16 * bone);
        EXPECT_EQ(std::memcmp(matrices + 16 * i, expected, sizeof expected), 0) << i;
    }
    // The flushed product differs from the exact one only below the smallest normal number.
    float exact[16];
    OrvaneColumnMatrixMultiply4x3(exact, &skeleton.bones[1].InverseWorldTransform[0][0],
                                  world + 16);
    for (int e = 0; e < 16; ++e)
        EXPECT_LE(std::fabs(matrices[16 + e] - exact[e]), 1.2e-38f) << e;
    OrvaneFreeMeshBinding(binding);
}

// The binding keeps the inverse matrices the skeleton held when it was built: a later change
// to the skeleton shows only in a new binding.
TEST(MeshBinding, InverseMatricesAreThoseOfTheSkeletonWhenBound) {
    SkeletonFixture skeleton({"root", "hip"}, 1.0f);
    MeshFixture mesh({"hip", "root"});
    orvane_mesh_binding* before =
        OrvaneNewMeshBinding(&mesh.mesh, &skeleton.skeleton, &skeleton.skeleton);
    ASSERT_NE(before, nullptr);
    float original[16];
    std::memcpy(original, &skeleton.bones[1].InverseWorldTransform[0][0], sizeof original);
    skeleton.bones[1].InverseWorldTransform[3][0] += 5.0f;
    orvane_mesh_binding* after =
        OrvaneNewMeshBinding(&mesh.mesh, &skeleton.skeleton, &skeleton.skeleton);
    ASSERT_NE(after, nullptr);
    const std::vector<float> worlds = Translations({{1, 2, 3}, {4, 5, 6}});
    float a[2 * 16], b[2 * 16], expected[16];
    OrvaneBuildMeshBinding4x4ArrayFromMatrices(before, worlds.data(), 2, 0, 2, a);
    OrvaneBuildMeshBinding4x4ArrayFromMatrices(after, worlds.data(), 2, 0, 2, b);
    OrvaneColumnMatrixMultiply4x3(expected, original, worlds.data() + 16);
    EXPECT_EQ(std::memcmp(a, expected, sizeof expected), 0);
    OrvaneColumnMatrixMultiply4x3(expected, &skeleton.bones[1].InverseWorldTransform[0][0],
                                  worlds.data() + 16);
    EXPECT_EQ(std::memcmp(b, expected, sizeof expected), 0);
    EXPECT_EQ(std::memcmp(a + 16, b + 16, 16 * sizeof(float)), 0);  // the root is unchanged
    OrvaneFreeMeshBinding(before);
    OrvaneFreeMeshBinding(after);
}

// General matrices, in every lane of the vector kernels: each skinning matrix is the column
// product of its bone's inverse matrix and world matrix to the bit, signed zeros included (a
// kernel that adds a zero translation to a row that has none turns -0 into 0).
TEST(MeshBinding, GeneralMatricesGiveTheColumnProductToTheBit) {
    const int n = 9;
    std::vector<std::string> names;
    for (int i = 0; i < n; ++i)
        names.push_back("bone" + std::to_string(i));
    SkeletonFixture skeleton(names, 1.0f);
    std::mt19937 rng(23);
    std::uniform_real_distribution<float> value(-2.0f, 2.0f);
    // Affine matrices with a few exact zeros of either sign among the elements.
    auto fill = [&](float* m) {
        for (int e = 0; e < 16; ++e)
            m[e] = e % 4 == 3 ? (e == 15 ? 1.0f : 0.0f) : value(rng);
        for (int z = 0; z < 3; ++z)
            m[std::uniform_int_distribution<int>(0, 3)(rng) * 4 + z] = z == 1 ? 0.0f : -0.0f;
    };
    std::vector<float> worlds(size_t(n) * 16);
    for (int i = 0; i < n; ++i) {
        fill(&skeleton.bones[size_t(i)].InverseWorldTransform[0][0]);
        fill(&worlds[size_t(i) * 16]);
    }
    // A third row of -0 against positive world elements: its first element is a sum of -0s.
    for (int e = 0; e < 3; ++e) {
        skeleton.bones[4].InverseWorldTransform[2][e] = -0.0f;
        worlds[4 * 16 + 4 * size_t(e)] = 1.5f;
    }
    MeshFixture mesh({"bone3", "bone0", "bone8", "bone4", "bone4", "bone1", "bone7"});
    orvane_mesh_binding* binding =
        OrvaneNewMeshBinding(&mesh.mesh, &skeleton.skeleton, &skeleton.skeleton);
    ASSERT_NE(binding, nullptr);
    const int count = OrvaneGetMeshBindingBoneCount(binding);
    std::vector<float> matrices(size_t(count) * 16);
    OrvaneBuildMeshBinding4x4ArrayFromMatrices(binding, worlds.data(), n, 0, count,
                                               matrices.data());
    for (int i = 0; i < count; ++i) {
        const int bone = OrvaneGetMeshBindingToBoneIndices(binding)[i];
        float expected[16];
        OrvaneColumnMatrixMultiply4x3(expected,
                                      &skeleton.bones[size_t(bone)].InverseWorldTransform[0][0],
                                      &worlds[size_t(bone) * 16]);
        EXPECT_EQ(std::memcmp(&matrices[size_t(i) * 16], expected, sizeof expected), 0)
            << "matrix " << i;
    }
    // That element stays -0.
    EXPECT_TRUE(std::signbit(matrices[3 * 16 + 8]));
    OrvaneFreeMeshBinding(binding);
}

TEST(MeshBinding, MissingBonesAndDamagedMeshes) {
    SkeletonFixture skeleton({"a", "b"}, 1.0f);
    {
        MeshFixture mesh({"b", "nowhere"});
        LogCapture log;
        orvane_mesh_binding* binding =
            OrvaneNewMeshBinding(&mesh.mesh, &skeleton.skeleton, &skeleton.skeleton);
        ASSERT_NE(binding, nullptr);
        EXPECT_EQ(OrvaneGetMeshBindingToBoneIndices(binding)[1], 0);
        EXPECT_EQ(log.warnings(), 1u);
        EXPECT_TRUE(log.Contains("\"nowhere\""));
        OrvaneFreeMeshBinding(binding);
    }
    {
        // A vertex names bone binding 5 of a mesh that has two.
        MeshFixture mesh({"a", "b"});
        mesh.vertices[3].BoneIndices[2] = 5;
        LogCapture log;
        EXPECT_EQ(OrvaneNewMeshBinding(&mesh.mesh, &skeleton.skeleton, &skeleton.skeleton),
                  nullptr);
        EXPECT_GE(log.errors(), 1u);
        EXPECT_TRUE(log.Contains("Vertex 3 has bone index 5"));
    }
    {
        // Bound bones cannot be looked up in a skeleton without bones.
        MeshFixture mesh({"a"});
        orvane_skeleton empty = {};
        LogCapture log;
        EXPECT_EQ(OrvaneNewMeshBinding(&mesh.mesh, &empty, &empty), nullptr);
        EXPECT_EQ(log.errors(), 1u);
    }
    {
        // A rigid mesh without bone bindings binds to anything.
        orvane_mesh rigid = {};
        orvane_skeleton empty = {};
        orvane_mesh_binding* binding = OrvaneNewMeshBinding(&rigid, &empty, &skeleton.skeleton);
        ASSERT_NE(binding, nullptr);
        EXPECT_TRUE(OrvaneMeshIsRigid(&rigid));
        EXPECT_EQ(OrvaneGetMeshBindingBoneCount(binding), 0);
        OrvaneFreeMeshBinding(binding);
    }
    LogCapture log;
    {
        MeshFixture mesh({"a"});
        // Two bytes past an aligned block: misaligned for the pointers of any host.
        alignas(8) unsigned char memory[128];
        EXPECT_EQ(OrvaneNewMeshBindingInPlace(&mesh.mesh, &skeleton.skeleton, &skeleton.skeleton,
                                              memory + 2),
                  nullptr);
        EXPECT_TRUE(log.Contains("is not aligned to " + std::to_string(alignof(void*)) + " bytes"));
    }
    EXPECT_EQ(OrvaneNewMeshBinding(nullptr, &skeleton.skeleton, &skeleton.skeleton), nullptr);
    EXPECT_TRUE(log.Contains("Mesh is not allowed to be 0"));
}

}  // namespace

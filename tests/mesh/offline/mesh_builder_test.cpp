// The mesh builder: welding of corners within the tolerances (a cube's 24 corners), weight
// selection and the exact one-norm, corner data at the layout's precision, material groups,
// side adjacency of closed and open meshes, the ending blocks, refused indices and capacities,
// and two builders on two threads.
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "orvane/mesh.h"
#include "orvane/mesh_builder.h"
#include "support/log_capture.h"
#include "types/orvane_type_layout.h"

namespace {

using orvane_test::LogCapture;

struct Built {
    orvane_vertex_data* data = nullptr;
    orvane_tri_topology* topology = nullptr;
    Built() = default;
    Built(const Built&) = delete;
    Built& operator=(const Built&) = delete;
    ~Built() {
        OrvaneFreeBuilderResult(data);
        OrvaneFreeBuilderResult(topology);
    }
    bool End(orvane_mesh_builder* builder) { return OrvaneEndMesh(builder, &data, &topology); }
};

// The unit cube: corner i has coordinates of its bits; faces as two triangles each, wound
// outwards.
const float kCubeCorners[8][3] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0},
                                  {0, 0, 1}, {1, 0, 1}, {0, 1, 1}, {1, 1, 1}};
struct Face {
    int32_t quad[4];
    float normal[3];
};
const Face kCubeFaces[6] = {{{0, 2, 3, 1}, {0, 0, -1}}, {{4, 5, 7, 6}, {0, 0, 1}},
                            {{0, 1, 5, 4}, {0, -1, 0}}, {{2, 6, 7, 3}, {0, 1, 0}},
                            {{0, 4, 6, 2}, {-1, 0, 0}}, {{1, 3, 7, 5}, {1, 0, 0}}};

enum class CubeNormals { PerFace, Smooth };
enum class CubeUvs { None, PerFace, Shared };

void PushCubeVertices(orvane_mesh_builder* b) {
    for (const auto& p : kCubeCorners) {
        OrvaneSetPosition(b, p[0], p[1], p[2]);
        OrvanePushVertex(b);
    }
}

void PushCubeTriangles(orvane_mesh_builder* b, CubeNormals normals, CubeUvs uvs) {
    const float quadUv[4][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
    const int32_t halves[2][3] = {{0, 1, 2}, {0, 2, 3}};
    for (int32_t f = 0; f < 6; ++f) {
        const Face& face = kCubeFaces[f];
        for (const auto& half : halves) {
            for (int32_t corner = 0; corner < 3; ++corner) {
                const int32_t q = half[corner], v = face.quad[q];
                OrvaneSetVertexIndex(b, corner, v);
                if (normals == CubeNormals::PerFace) {
                    OrvaneSetNormal(b, corner, face.normal[0], face.normal[1], face.normal[2]);
                } else {
                    const float* p = kCubeCorners[v];
                    const float s = 1.0f / std::sqrt(3.0f);
                    OrvaneSetNormal(b, corner, (2 * p[0] - 1) * s, (2 * p[1] - 1) * s,
                                    (2 * p[2] - 1) * s);
                }
                if (uvs == CubeUvs::PerFace) {
                    // Each face its own tile of the texture.
                    const float uv[2] = {quadUv[q][0] + 2.0f * f, quadUv[q][1]};
                    OrvaneSetChannel(b, corner, 0, uv);
                }
                if (uvs == CubeUvs::Shared) {
                    const float uv[2] = {kCubeCorners[v][0], kCubeCorners[v][1]};
                    OrvaneSetChannel(b, corner, 0, uv);
                }
            }
            OrvanePushTriangle(b);
        }
    }
}

int32_t CubeVertexCount(const orvane_data_type_definition* layout, CubeNormals normals, CubeUvs uvs,
                        float normalTolerance = 0.001f) {
    orvane_mesh_builder* b = OrvaneBeginMesh(8, 12, 1, 0, layout);
    if (b == nullptr) return -1;
    OrvaneSetNormalTolerance(b, normalTolerance);
    PushCubeVertices(b);
    PushCubeTriangles(b, normals, uvs);
    const int32_t count = OrvaneGetResultingVertexCount(b);
    OrvaneAbortMesh(b);
    return count;
}

TEST(MeshBuilderWelding, CubeCornersWeldByTheirData) {
    EXPECT_EQ(CubeVertexCount(OrvanePN33VertexType, CubeNormals::PerFace, CubeUvs::None), 24);
    EXPECT_EQ(CubeVertexCount(OrvanePN33VertexType, CubeNormals::PerFace, CubeUvs::None, 2.0f), 8);
    EXPECT_EQ(CubeVertexCount(OrvanePN33VertexType, CubeNormals::Smooth, CubeUvs::None), 8);
    EXPECT_EQ(CubeVertexCount(OrvanePNT332VertexType, CubeNormals::Smooth, CubeUvs::Shared), 8);
    // Same normals, texture coordinates that differ per face.
    EXPECT_EQ(CubeVertexCount(OrvanePNT332VertexType, CubeNormals::Smooth, CubeUvs::PerFace), 24);
    // A layout without normals drops them before welding.
    EXPECT_EQ(CubeVertexCount(OrvanePT32VertexType, CubeNormals::PerFace, CubeUvs::Shared), 8);
}

TEST(MeshBuilderWelding, RingAndOriginalVertices) {
    orvane_mesh_builder* b = OrvaneBeginMesh(8, 12, 1, 0, OrvanePN33VertexType);
    ASSERT_NE(b, nullptr);
    PushCubeVertices(b);
    PushCubeTriangles(b, CubeNormals::PerFace, CubeUvs::None);
    const int32_t count = OrvaneGetResultingVertexCount(b);
    ASSERT_EQ(count, 24);
    const int32_t* next = OrvaneGetResultingCoincidentVertexMap(b);
    const auto* vertices = static_cast<const orvane_pn33_vertex*>(OrvaneGetResultingVertices(b));
    std::vector<int> ringSize(8, 0);
    for (int32_t s = 0; s < count; ++s) {
        const int32_t original = OrvaneGetOriginalVertex(b, s);
        ASSERT_GE(original, 0);
        ASSERT_LT(original, 8);
        ++ringSize[original];
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(vertices[s].Position[i], kCubeCorners[original][i]) << "slot " << s;
        // Following the ring from a base vertex returns to it.
        if (s < 8) {
            int32_t at = next[s], steps = 1;
            while (at != s && steps < count)
                at = next[at], ++steps;
            EXPECT_EQ(at, s);
            EXPECT_EQ(steps, 3);
        }
    }
    for (int n : ringSize)
        EXPECT_EQ(n, 3);
    {
        LogCapture log;
        EXPECT_EQ(OrvaneGetOriginalVertex(b, count), -1);
        EXPECT_EQ(OrvaneGetOriginalVertex(b, -1), -1);
        EXPECT_EQ(log.errors(), 2u);
    }
    OrvaneAbortMesh(b);
}

// Two corners of one base vertex whose members differ by `offset` in one direction.
int32_t PairCount(void (*set)(orvane_mesh_builder*, float), float offset) {
    orvane_mesh_builder* b = OrvaneBeginMesh(3, 2, 1, 0, OrvanePNGBT33332VertexType);
    for (int v = 0; v < 3; ++v) {
        OrvaneSetPosition(b, static_cast<float>(v), 0, 0);
        OrvanePushVertex(b);
    }
    set(b, 0.5f);
    for (int t = 0; t < 2; ++t) {
        for (int32_t c = 0; c < 3; ++c) {
            OrvaneSetVertexIndex(b, c, c);
            OrvaneSetNormal(b, c, 0, 0, 1);
            OrvaneSetTangent(b, c, 1, 0, 0);
            const float uv[2] = {0.25f, 0.5f};
            OrvaneSetChannel(b, c, 0, uv);
        }
        if (t == 1) {
            OrvaneSetNormal(b, 0, 0, offset, 1);
            OrvaneSetTangent(b, 1, 1, offset, 0);
            const float uv[2] = {0.25f + offset, 0.5f};
            OrvaneSetChannel(b, 2, 0, uv);
        }
        OrvanePushTriangle(b);
    }
    const int32_t count = OrvaneGetResultingVertexCount(b);
    OrvaneAbortMesh(b);
    return count;
}

TEST(MeshBuilderWelding, TolerancesAtAndAroundTheirLimits) {
    auto normalOnly = +[](orvane_mesh_builder* b, float t) {
        OrvaneSetNormalTolerance(b, t);
        OrvaneSetTangentTolerance(b, 1);
        OrvaneSetChannelTolerance(b, 0, 1);
    };
    auto tangentOnly = +[](orvane_mesh_builder* b, float t) {
        OrvaneSetNormalTolerance(b, 1);
        OrvaneSetTangentTolerance(b, t);
        OrvaneSetChannelTolerance(b, 0, 1);
    };
    auto channelOnly = +[](orvane_mesh_builder* b, float t) {
        OrvaneSetNormalTolerance(b, 1);
        OrvaneSetTangentTolerance(b, 1);
        OrvaneSetChannelTolerance(b, 0, t);
    };
    // 0.5 and 0.25 are exact in binary: a distance equal to the tolerance welds.
    EXPECT_EQ(PairCount(normalOnly, 0.5f), 3);
    EXPECT_EQ(PairCount(normalOnly, 0.5001f), 4);
    EXPECT_EQ(PairCount(tangentOnly, 0.5f), 3);
    EXPECT_EQ(PairCount(tangentOnly, 0.5001f), 4);
    EXPECT_EQ(PairCount(channelOnly, 0.5f), 3);
    EXPECT_EQ(PairCount(channelOnly, 0.5001f), 4);
    // Defaults of 0.001.
    auto defaults = +[](orvane_mesh_builder*, float) {};
    EXPECT_EQ(PairCount(defaults, 0.0009f), 3);
    EXPECT_EQ(PairCount(defaults, 0.0011f), 6);  // each corner differs in one member
}

// A layout whose colour channel is bytes: corners compare at the layout's precision.
orvane_data_type_definition g_byteColourLayout[] = {
    orvane::MemberRecord(OrvaneReal32Member, "Position", nullptr, 3),
    orvane::MemberRecord(OrvaneReal32Member, "Normal", nullptr, 3),
    orvane::MemberRecord(OrvaneUInt8Member, "DiffuseColor0", nullptr, 4), orvane::EndRecord()};

int32_t ColourPairCount(float first, float second, std::vector<uint8_t>* colours = nullptr) {
    orvane_mesh_builder* b = OrvaneBeginMesh(3, 2, 1, 0, g_byteColourLayout);
    for (int v = 0; v < 3; ++v) {
        OrvaneSetPosition(b, static_cast<float>(v), 1, 0);
        OrvanePushVertex(b);
    }
    EXPECT_EQ(OrvaneGetChannelComponentCount(b, 0), 4);
    for (float value : {first, second}) {
        for (int32_t c = 0; c < 3; ++c) {
            OrvaneSetVertexIndex(b, c, c);
            const float colour[4] = {value, 0, 0, 255};
            OrvaneSetChannel(b, c, 0, colour);
        }
        OrvanePushTriangle(b);
    }
    const int32_t count = OrvaneGetResultingVertexCount(b);
    if (colours) {
        const auto* bytes = static_cast<const uint8_t*>(OrvaneGetResultingVertices(b));
        for (int32_t s = 0; s < count; ++s)
            colours->push_back(bytes[28 * s + 24]);
    }
    OrvaneAbortMesh(b);
    return count;
}

TEST(MeshBuilderWelding, CornersCompareAtTheLayoutsPrecision) {
    std::vector<uint8_t> colours;
    EXPECT_EQ(ColourPairCount(10.2f, 9.8f, &colours), 3);
    EXPECT_EQ(colours, (std::vector<uint8_t>{10, 10, 10}));
    EXPECT_EQ(ColourPairCount(10.2f, 11.2f), 6);
}

orvane_int32 BuildSingleVertex(const orvane_data_type_definition* layout, int32_t bones,
                               const std::vector<std::pair<int32_t, float>>& weights,
                               std::vector<uint8_t>* bytes) {
    orvane_mesh_builder* b = OrvaneBeginMesh(1, 0, 1, bones, layout);
    if (b == nullptr) return -1;
    OrvaneSetPosition(b, 1, 2, 3);
    for (const auto& [bone, weight] : weights)
        OrvaneAddWeight(b, bone, weight);
    OrvanePushVertex(b);
    const int32_t size = OrvaneGetTotalObjectSize(layout);
    const auto* v = static_cast<const uint8_t*>(OrvaneGetResultingVertices(b));
    bytes->assign(v, v + size);
    OrvaneAbortMesh(b);
    return size;
}

TEST(MeshBuilderWeights, HeaviestBonesWithExactOneNorm) {
    std::vector<uint8_t> bytes;
    // Equal weights keep the lower bone first.
    BuildSingleVertex(OrvanePWN323VertexType, 8, {{3, 0.2f}, {1, 0.5f}, {7, 0.5f}}, &bytes);
    orvane_pwn323_vertex v;
    std::memcpy(&v, bytes.data(), sizeof(v));
    EXPECT_EQ(v.Position[2], 3.0f);
    EXPECT_EQ(v.BoneIndices[0], 1);
    EXPECT_EQ(v.BoneIndices[1], 7);
    EXPECT_EQ(v.BoneWeights[0], 128);
    EXPECT_EQ(v.BoneWeights[1], 127);
    // Weights added twice to a bone accumulate; four places of five bones.
    BuildSingleVertex(OrvanePWN343VertexType, 5,
                      {{0, 0.1f}, {4, 0.3f}, {2, 0.2f}, {2, 0.2f}, {1, 0.05f}, {3, 0.05f}}, &bytes);
    orvane_pwn343_vertex w;
    std::memcpy(&w, bytes.data(), sizeof(w));
    EXPECT_EQ(w.BoneIndices[0], 2);
    EXPECT_EQ(w.BoneIndices[1], 4);
    EXPECT_EQ(w.BoneIndices[2], 0);
    EXPECT_EQ(w.BoneIndices[3], 1);  // bone 3 ties with 1 and stays behind it
    EXPECT_EQ(w.BoneWeights[0] + w.BoneWeights[1] + w.BoneWeights[2] + w.BoneWeights[3], 255);
    // No weight at all: bone 0 carries the vertex.
    BuildSingleVertex(OrvanePWN343VertexType, 4, {}, &bytes);
    std::memcpy(&w, bytes.data(), sizeof(w));
    EXPECT_EQ(w.BoneWeights[0], 255);
    EXPECT_EQ(w.BoneIndices[0], 0);
    // One bone: a 32-bit index and no weight.
    BuildSingleVertex(OrvanePWN313VertexType, 40, {{30, 0.4f}, {33, 0.6f}}, &bytes);
    orvane_pwn313_vertex r;
    std::memcpy(&r, bytes.data(), sizeof(r));
    EXPECT_EQ(r.BoneIndices, 33u);
}

// Weights whose sum does not fit a real keep their proportions: 3e38 and 1e38 are 3/4 and 1/4
// (191.25 and 63.75 of 255, rounded to 191 and 64); an infinite weight takes the whole vertex.
TEST(MeshBuilderWeights, HugeWeightsKeepTheirProportions) {
    std::vector<uint8_t> bytes;
    orvane_pwn323_vertex v;
    BuildSingleVertex(OrvanePWN323VertexType, 4, {{2, 1e38f}, {1, 3e38f}}, &bytes);
    std::memcpy(&v, bytes.data(), sizeof(v));
    EXPECT_EQ(v.BoneIndices[0], 1);
    EXPECT_EQ(v.BoneIndices[1], 2);
    EXPECT_EQ(v.BoneWeights[0], 191);
    EXPECT_EQ(v.BoneWeights[1], 64);

    BuildSingleVertex(OrvanePWN323VertexType, 4,
                      {{1, 0.5f}, {3, std::numeric_limits<float>::infinity()}}, &bytes);
    std::memcpy(&v, bytes.data(), sizeof(v));
    EXPECT_EQ(v.BoneIndices[0], 3);
    EXPECT_EQ(v.BoneWeights[0], 255);
    EXPECT_EQ(v.BoneWeights[1], 0);
}

TEST(MeshBuilderWeights, BoneIndicesOutsideTheCountAreRefused) {
    std::vector<uint8_t> bytes;
    LogCapture log;
    BuildSingleVertex(OrvanePWN323VertexType, 4, {{4, 0.9f}, {-1, 0.9f}, {2, 0.1f}}, &bytes);
    EXPECT_EQ(log.errors(), 2u);
    EXPECT_TRUE(log.Contains("BoneIndex 4 is out of range [0, 4)"));
    orvane_pwn323_vertex v;
    std::memcpy(&v, bytes.data(), sizeof(v));
    EXPECT_EQ(v.BoneIndices[0], 2);
    EXPECT_EQ(v.BoneWeights[0], 255);
}

TEST(MeshBuilderWeights, LayoutsWiderThanTheIntermediateAreRefused) {
    static orvane_data_type_definition wide[] = {
        orvane::MemberRecord(OrvaneReal32Member, "Position", nullptr, 3),
        orvane::MemberRecord(OrvaneUInt8Member, "BoneWeights", nullptr, 300),
        orvane::MemberRecord(OrvaneUInt8Member, "BoneIndices", nullptr, 300), orvane::EndRecord()};
    LogCapture log;
    EXPECT_EQ(OrvaneBeginMesh(1, 1, 1, 300, wide), nullptr);
    EXPECT_EQ(log.errors(), 1u);
}

void PushTriangle(orvane_mesh_builder* b, int32_t v0, int32_t v1, int32_t v2) {
    OrvaneSetVertexIndex(b, 0, v0);
    OrvaneSetVertexIndex(b, 1, v1);
    OrvaneSetVertexIndex(b, 2, v2);
    OrvanePushTriangle(b);
}

orvane_mesh_builder* BeginGrid(int32_t vertices, int32_t triangles, int32_t materials) {
    orvane_mesh_builder* b =
        OrvaneBeginMesh(vertices, triangles, materials, 0, OrvanePN33VertexType);
    for (int32_t v = 0; v < vertices; ++v) {
        OrvaneSetPosition(b, static_cast<float>(v % 3), static_cast<float>(v / 3), 0);
        OrvanePushVertex(b);
    }
    return b;
}

TEST(MeshBuilderMaterials, GroupsInMaterialOrderLatestFirst) {
    orvane_mesh_builder* b = BeginGrid(6, 3, 3);
    OrvaneSetMaterial(b, 2);
    PushTriangle(b, 0, 1, 3);
    OrvaneSetMaterial(b, 0);
    PushTriangle(b, 1, 4, 3);
    OrvaneSetMaterial(b, 2);
    PushTriangle(b, 1, 2, 4);
    Built out;
    ASSERT_TRUE(out.End(b));
    const orvane_tri_topology& t = *out.topology;
    ASSERT_EQ(t.GroupCount, 2);
    EXPECT_EQ(t.Groups[0].MaterialIndex, 0);
    EXPECT_EQ(t.Groups[0].TriFirst, 0);
    EXPECT_EQ(t.Groups[0].TriCount, 1);
    EXPECT_EQ(t.Groups[1].MaterialIndex, 2);
    EXPECT_EQ(t.Groups[1].TriFirst, 1);
    EXPECT_EQ(t.Groups[1].TriCount, 2);
    ASSERT_EQ(t.IndexCount, 9);
    const std::vector<int32_t> indices(t.Indices, t.Indices + 9);
    EXPECT_EQ(indices, (std::vector<int32_t>{1, 4, 3, 1, 2, 4, 0, 1, 3}));
    EXPECT_EQ(t.Index16Count, 0);
    // The map names output triangles: vertex 0 only in the last, 2 only in the middle one.
    ASSERT_EQ(t.VertexToTriangleCount, 6);
    EXPECT_EQ(t.VertexToTriangleMap[0], 2);
    EXPECT_EQ(t.VertexToTriangleMap[2], 1);
    EXPECT_EQ(t.VertexToTriangleMap[5], -1);
    EXPECT_EQ(t.VertexToVertexMap[5], -1);
    EXPECT_EQ(t.VertexToVertexMap[0], 0);
}

TEST(MeshBuilderMaterials, IndicesOutsideTheCountsAreRefused) {
    orvane_mesh_builder* b = BeginGrid(6, 2, 2);
    LogCapture log;
    OrvaneSetMaterial(b, 2);
    OrvaneSetMaterial(b, -1);
    EXPECT_TRUE(log.Contains("MaterialIndex 2 is out of range [0, 2)"));
    OrvaneSetMaterial(b, 1);
    OrvaneSetVertexIndex(b, 3, 0);
    OrvaneSetVertexIndex(b, 0, 6);
    OrvaneSetNormal(b, -1, 0, 0, 1);
    OrvaneSetChannel(b, 0, 0, nullptr);  // PN33 has no channels
    EXPECT_EQ(OrvaneGetChannelComponentCount(b, 0), 0);
    OrvaneSetChannelTolerance(b, 256, 1);
    EXPECT_EQ(log.errors(), 8u);
    // The refused index leaves corner 0 without a vertex: the triangle is refused.
    OrvaneSetVertexIndex(b, 1, 1);
    OrvaneSetVertexIndex(b, 2, 2);
    OrvanePushTriangle(b);
    EXPECT_TRUE(log.Contains("corner 0 has no vertex index"));
    PushTriangle(b, 0, 1, 3);
    PushTriangle(b, 1, 4, 3);
    PushTriangle(b, 1, 2, 4);  // beyond the two triangles begun with
    EXPECT_TRUE(log.Contains("Triangle 2 refused"));
    OrvaneSetPosition(b, 9, 9, 9);
    OrvanePushVertex(b);  // beyond the six vertices
    EXPECT_TRUE(log.Contains("Vertex 6 pushed beyond the 6"));
    Built out;
    ASSERT_TRUE(out.End(b));
    EXPECT_EQ(out.topology->IndexCount, 6);
    ASSERT_EQ(out.topology->GroupCount, 1);
    EXPECT_EQ(out.topology->Groups[0].MaterialIndex, 1);
    EXPECT_EQ(out.data->VertexCount, 6);
}

// A triangle may only use base vertices already pushed: the slot of a later one holds no
// position yet, and pushing it afterwards would wipe the corner data welded into it.
TEST(MeshBuilderMaterials, CornersNeedPushedBaseVertices) {
    orvane_mesh_builder* b = OrvaneBeginMesh(3, 2, 1, 0, OrvanePN33VertexType);
    for (int32_t v = 0; v < 2; ++v) {
        OrvaneSetPosition(b, static_cast<float>(v), 1, 0);
        OrvanePushVertex(b);
    }
    LogCapture log;
    OrvaneSetNormal(b, 2, 0, 0, 1);
    PushTriangle(b, 0, 1, 2);
    EXPECT_TRUE(log.Contains("BaseVertexIndex 2 names a vertex not pushed yet (2 pushed)"));
    EXPECT_TRUE(log.Contains("corner 2 has no vertex index"));
    OrvaneSetPosition(b, 5, 6, 7);
    OrvanePushVertex(b);
    OrvaneSetNormal(b, 2, 0, 0, 1);
    PushTriangle(b, 0, 1, 2);
    EXPECT_EQ(log.errors(), 2u);
    Built out;
    ASSERT_TRUE(out.End(b));
    ASSERT_EQ(out.topology->IndexCount, 3);
    ASSERT_EQ(out.data->VertexCount, 3);
    orvane_pn33_vertex v;
    std::memcpy(&v, static_cast<const char*>(out.data->Vertices) + 2 * sizeof v, sizeof v);
    EXPECT_EQ(v.Position[0], 5.0f);
    EXPECT_EQ(v.Position[2], 7.0f);
    EXPECT_EQ(v.Normal[2], 1.0f);
}

// Every side names a side whose base-vertex pair is its own, and the names form rings.
void ExpectConsistentSides(const orvane_tri_topology& t, const std::vector<int32_t>& original) {
    const int32_t triangles = t.IndexCount / 3;
    ASSERT_EQ(t.SideToNeighborCount, 3 * triangles);
    for (int32_t k = 0; k < 3 * triangles; ++k) {
        const int32_t key = t.SideToNeighborMap[k];
        const int32_t other = 3 * (key >> 2) + (key & 3);
        ASSERT_GE(key & 3, 0);
        ASSERT_LT(key & 3, 3);
        ASSERT_LT(other, 3 * triangles);
        auto pair = [&](int32_t side) {
            const int32_t tri = side / 3, s = side % 3;
            int32_t a = original[t.Indices[3 * tri + s]];
            int32_t b = original[t.Indices[3 * tri + (s + 1) % 3]];
            return std::make_pair(std::min(a, b), std::max(a, b));
        };
        EXPECT_EQ(pair(k), pair(other));
    }
}

TEST(MeshBuilderAdjacency, SharedSidesNameEachOtherLoneSidesThemselves) {
    orvane_mesh_builder* b = BeginGrid(6, 3, 1);
    PushTriangle(b, 0, 1, 3);  // shares 1-3 with the next
    PushTriangle(b, 1, 4, 3);
    PushTriangle(b, 2, 5, 2);  // degenerate, far away: sides 0 and 1 share 2-5
    Built out;
    ASSERT_TRUE(out.End(b));
    const int32_t* sides = out.topology->SideToNeighborMap;
    // Output order is reverse push order for one material: (2,5,2), (1,4,3), (0,1,3).
    EXPECT_EQ(sides[0], 4 * 0 + 1);
    EXPECT_EQ(sides[1], 4 * 0 + 0);
    EXPECT_EQ(sides[2], 4 * 0 + 2);
    EXPECT_EQ(sides[3 * 1 + 2], 4 * 2 + 1);  // side 3-1 of (1,4,3)
    EXPECT_EQ(sides[3 * 2 + 1], 4 * 1 + 2);  // side 1-3 of (0,1,3)
    EXPECT_EQ(sides[3 * 1 + 0], 4 * 1 + 0);
    EXPECT_EQ(sides[3 * 2 + 0], 4 * 2 + 0);
    EXPECT_EQ(sides[3 * 2 + 2], 4 * 2 + 2);
}

TEST(MeshBuilderAdjacency, ClosedCubeThroughSplitVertices) {
    orvane_mesh_builder* b = OrvaneBeginMesh(8, 12, 1, 0, OrvanePN33VertexType);
    PushCubeVertices(b);
    PushCubeTriangles(b, CubeNormals::PerFace, CubeUvs::None);
    std::vector<int32_t> original;
    for (int32_t s = 0; s < OrvaneGetResultingVertexCount(b); ++s)
        original.push_back(OrvaneGetOriginalVertex(b, s));
    Built out;
    ASSERT_TRUE(out.End(b));
    ASSERT_EQ(out.data->VertexCount, 24);
    ExpectConsistentSides(*out.topology, original);
    // Closed: no side names itself, and partners name each other.
    const int32_t* sides = out.topology->SideToNeighborMap;
    for (int32_t k = 0; k < 36; ++k) {
        const int32_t other = 3 * (sides[k] >> 2) + (sides[k] & 3);
        EXPECT_NE(other, k);
        EXPECT_EQ(sides[other], 4 * (k / 3) + k % 3);
    }
}

TEST(MeshBuilderAdjacency, OpenGridBorderSidesNameThemselves) {
    // A 3 x 3 grid of vertices, 8 triangles: 8 border sides and 8 inner pairs.
    orvane_mesh_builder* b = OrvaneBeginMesh(9, 8, 1, 0, OrvanePN33VertexType);
    for (int32_t v = 0; v < 9; ++v) {
        OrvaneSetPosition(b, static_cast<float>(v % 3), static_cast<float>(v / 3), 0);
        OrvanePushVertex(b);
    }
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 2; ++x) {
            const int32_t v = 3 * y + x;
            PushTriangle(b, v, v + 1, v + 4);
            PushTriangle(b, v, v + 4, v + 3);
        }
    std::vector<int32_t> original;
    for (int32_t s = 0; s < OrvaneGetResultingVertexCount(b); ++s)
        original.push_back(OrvaneGetOriginalVertex(b, s));
    Built out;
    ASSERT_TRUE(out.End(b));
    ExpectConsistentSides(*out.topology, original);
    int self = 0;
    for (int32_t k = 0; k < 24; ++k)
        self += out.topology->SideToNeighborMap[k] == 4 * (k / 3) + k % 3;
    EXPECT_EQ(self, 8);
}

TEST(MeshBuilderEnding, BlocksInPlaceCarryLayoutNamesAndMaps) {
    orvane_mesh_builder* b = OrvaneBeginMesh(8, 12, 1, 0, OrvanePNT332VertexType);
    const char* names[] = {"P", "N", "map1"};
    {
        LogCapture log;
        OrvaneSetVertexChannelComponentNames(b, 2, names);
        EXPECT_TRUE(log.Contains(
            "ChannelCount == GetVertexComponentCount(Builder.VertexType) was not true"));
        ASSERT_EQ(log.messages().size(), 1u);
        EXPECT_EQ(log.messages()[0].origin, OrvaneVertexLayoutOrigin);
    }
    OrvaneSetVertexChannelComponentNames(b, 3, names);
    PushCubeVertices(b);
    PushCubeTriangles(b, CubeNormals::PerFace, CubeUvs::PerFace);
    const int32_t dataSize = OrvaneGetResultingVertexDataSize(b);
    const int32_t topologySize = OrvaneGetResultingTopologySize(b);
    ASSERT_GT(dataSize, 24 * static_cast<int32_t>(sizeof(orvane_pnt332_vertex)));
    ASSERT_GT(topologySize, 36 * 4 * 2);
    std::vector<uint64_t> dataMemory((dataSize + 7) / 8), topologyMemory((topologySize + 7) / 8);
    std::vector<orvane_pnt332_vertex> expected(24);
    std::memcpy(expected.data(), OrvaneGetResultingVertices(b), sizeof(orvane_pnt332_vertex) * 24);
    orvane_vertex_data* data = nullptr;
    orvane_tri_topology* topology = nullptr;
    OrvaneEndMeshInPlace(b, dataMemory.data(), &data, topologyMemory.data(), &topology);
    ASSERT_EQ(static_cast<void*>(data), dataMemory.data());
    ASSERT_EQ(static_cast<void*>(topology), topologyMemory.data());
    EXPECT_TRUE(OrvaneDataTypesAreEqualWithNames(data->VertexType, OrvanePNT332VertexType));
    // The names are the block's own copies (records are packed: read the pointers by value).
    const char* copiedName = data->VertexType[0].Name;
    const char* layoutName = OrvanePNT332VertexType[0].Name;
    EXPECT_NE(copiedName, layoutName);
    ASSERT_EQ(data->VertexCount, 24);
    EXPECT_EQ(std::memcmp(data->Vertices, expected.data(), sizeof(orvane_pnt332_vertex) * 24), 0);
    ASSERT_EQ(data->VertexComponentNameCount, 3);
    EXPECT_STREQ(data->VertexComponentNames[2], "map1");
    EXPECT_EQ(data->VertexAnnotationSetCount, 0);
    EXPECT_EQ(topology->VertexToVertexCount, 24);
    EXPECT_EQ(topology->BonesForTriangleCount, 0);
    EXPECT_EQ(topology->TriAnnotationSetCount, 0);
    EXPECT_STREQ(OrvaneGetVertexComponentToolName("TextureCoordinates0", data), "map1");
}

// The names are the builder's own from the moment they are set: the caller's texts may go
// before the mesh ends, and a later call replaces the earlier names.
TEST(MeshBuilderEnding, ComponentNamesAreCopiedWhenSet) {
    orvane_mesh_builder* b = BeginGrid(3, 1, 1);
    {
        std::vector<std::string> texts = {"first", "second"};
        const char* names[] = {texts[0].c_str(), texts[1].c_str()};
        OrvaneSetVertexChannelComponentNames(b, 2, names);
        texts[0].assign(texts[0].size(), '?');
        texts[1] = "overwritten and longer than before";
    }
    PushTriangle(b, 0, 1, 2);
    Built out;
    ASSERT_TRUE(out.End(b));
    ASSERT_EQ(out.data->VertexComponentNameCount, 2);
    EXPECT_STREQ(out.data->VertexComponentNames[0], "first");
    EXPECT_STREQ(out.data->VertexComponentNames[1], "second");

    b = BeginGrid(3, 1, 1);
    const char* early[] = {"a", "b"};
    const char* late[] = {"position", nullptr};
    OrvaneSetVertexChannelComponentNames(b, 2, early);
    OrvaneSetVertexChannelComponentNames(b, 2, late);
    Built again;
    ASSERT_TRUE(again.End(b));
    EXPECT_STREQ(again.data->VertexComponentNames[0], "position");
    EXPECT_STREQ(again.data->VertexComponentNames[1], "");
}

TEST(MeshBuilderEnding, NullAndMisalignedMemoryGiveNullOutputs) {
    orvane_vertex_data* data = reinterpret_cast<orvane_vertex_data*>(1);
    orvane_tri_topology* topology = reinterpret_cast<orvane_tri_topology*>(1);
    OrvaneEndMeshInPlace(nullptr, nullptr, &data, nullptr, &topology);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(topology, nullptr);
    EXPECT_FALSE(OrvaneEndMesh(nullptr, &data, &topology));
    orvane_mesh_builder* b = BeginGrid(3, 1, 1);
    PushTriangle(b, 0, 1, 2);
    std::vector<uint64_t> memory(256);
    LogCapture log;
    // Misaligned for the pointers of any host.
    OrvaneEndMeshInPlace(b, reinterpret_cast<char*>(memory.data()) + 2, &data, nullptr, &topology);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(topology, nullptr);
    EXPECT_EQ(log.errors(), 1u);
    // Empty meshes end too.
    Built empty;
    EXPECT_TRUE(empty.End(OrvaneBeginMesh(0, 0, 0, 0, OrvanePN33VertexType)));
    EXPECT_EQ(empty.topology->IndexCount, 0);
    EXPECT_EQ(empty.data->VertexCount, 0);
    // Bad beginnings.
    EXPECT_EQ(OrvaneBeginMesh(-1, 0, 0, 0, OrvanePN33VertexType), nullptr);
    EXPECT_EQ(OrvaneBeginMesh(1, 1, 1, 0, nullptr), nullptr);
    EXPECT_EQ(OrvaneBeginMesh(INT32_MAX, INT32_MAX, 1, 0, OrvanePN33VertexType), nullptr);
}

// The generic (converting) path through the builder's scratch vertex, on two threads at once.
std::vector<uint8_t> BuildColouredCube() {
    orvane_mesh_builder* b = OrvaneBeginMesh(8, 12, 1, 0, g_byteColourLayout);
    PushCubeVertices(b);
    const int32_t halves[2][3] = {{0, 1, 2}, {0, 2, 3}};
    for (int repeat = 0; repeat < 1; ++repeat)
        for (int f = 0; f < 6; ++f)
            for (const auto& half : halves) {
                for (int32_t c = 0; c < 3; ++c) {
                    OrvaneSetVertexIndex(b, c, kCubeFaces[f].quad[half[c]]);
                    const float* n = kCubeFaces[f].normal;
                    OrvaneSetNormal(b, c, n[0], n[1], n[2]);
                    const float colour[4] = {40.0f * f, 3.0f * half[c], 7, 255};
                    OrvaneSetChannel(b, c, 0, colour);
                }
                OrvanePushTriangle(b);
            }
    Built out;
    EXPECT_TRUE(out.End(b));
    const auto* bytes = static_cast<const uint8_t*>(out.data->Vertices);
    std::vector<uint8_t> result(bytes, bytes + 28 * out.data->VertexCount);
    result.insert(result.end(), reinterpret_cast<uint8_t*>(out.topology->Indices),
                  reinterpret_cast<uint8_t*>(out.topology->Indices + out.topology->IndexCount));
    return result;
}

TEST(MeshBuilderThreads, TwoBuildersAtOnce) {
    const std::vector<uint8_t> expected = BuildColouredCube();
    std::vector<uint8_t> results[2];
    bool same[2] = {true, true};
    std::thread threads[2];
    for (int i = 0; i < 2; ++i)
        threads[i] = std::thread([&, i] {
            for (int n = 0; n < 200; ++n) {
                results[i] = BuildColouredCube();
                same[i] = same[i] && results[i] == expected;
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_TRUE(same[0]);
    EXPECT_TRUE(same[1]);
}

}  // namespace

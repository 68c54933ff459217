// Building meshes from their triangles, on the characters of the project's data read with assimp:
//
//   Build/<character>             every assimp vertex pushed as a base vertex with its weights,
//                                 every face's corners (normal, texture coordinates) welded
//                                 into the skinned layout OrvanePWNGBT343332VertexType, ended
//                                 into vertex data and a topology (groups, maps, adjacency)
//   BuildWithTangents/<character> the same with OrvaneGenerateTangentSpaceFromUVs before the end
//   PlainHashWeld/<character>     baseline: the same corners welded by exact value in a
//                                 std::unordered_map keyed on (base vertex, normal, UV), writing
//                                 an index per corner and a vertex per new key
//
// Counters: corners per second (corners_per_s) and vertices per second (vertices_per_s, base
// vertices pushed). Characters: 0 = CesiumMan (4,672 triangles), 1 = the FBX character
// arnaud.fbx (6,670 triangles).
#include <array>
#include <cstring>
#include <unordered_map>
#include <vector>

#include <benchmark/benchmark.h>

#include "mesh_builder_assets.h"
#include "orvane/mesh.h"
#include "orvane/mesh_builder.h"

namespace {

const char* const kCharacters[2] = {"gltf/CesiumMan/CesiumMan.glb", "fbx/pab/arnaud.fbx"};

const orvane_test::AssetMesh& Character(int64_t index) {
    static const std::array<orvane_test::AssetMesh, 2> meshes = {
        orvane_test::LoadAssetMesh(kCharacters[0], false),
        orvane_test::LoadAssetMesh(kCharacters[1], false)};
    return meshes[static_cast<size_t>(index)];
}

void SetCounters(benchmark::State& state, const orvane_test::AssetMesh& mesh) {
    const double corners = 3.0 * static_cast<double>(mesh.triangles.size());
    state.counters["corners_per_s"] =
        benchmark::Counter(corners, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["vertices_per_s"] = benchmark::Counter(
        static_cast<double>(mesh.positions.size()), benchmark::Counter::kIsIterationInvariantRate);
}

void Build(benchmark::State& state, bool tangents) {
    const orvane_test::AssetMesh& mesh = Character(state.range(0));
    if (mesh.positions.empty()) {
        state.SkipWithError("cannot read the character");
        return;
    }
    int32_t vertices = 0;
    for (auto _ : state) {
        orvane_mesh_builder* b = orvane_test::BuildAssetMesh(mesh, OrvanePWNGBT343332VertexType);
        if (tangents) OrvaneGenerateTangentSpaceFromUVs(b);
        orvane_vertex_data* data = nullptr;
        orvane_tri_topology* topology = nullptr;
        if (!OrvaneEndMesh(b, &data, &topology)) {
            state.SkipWithError("the build failed");
            return;
        }
        vertices = data->VertexCount;
        benchmark::DoNotOptimize(topology->SideToNeighborMap[0]);
        OrvaneFreeBuilderResult(data);
        OrvaneFreeBuilderResult(topology);
    }
    state.counters["output_vertices"] = vertices;
    SetCounters(state, mesh);
}

void BM_Build(benchmark::State& state) {
    Build(state, false);
}
void BM_BuildWithTangents(benchmark::State& state) {
    Build(state, true);
}

struct CornerKey {
    int32_t base;
    float normal[3], uv[2];
    bool operator==(const CornerKey& o) const { return std::memcmp(this, &o, sizeof(*this)) == 0; }
};
struct CornerHash {
    size_t operator()(const CornerKey& k) const {
        uint32_t words[6];
        std::memcpy(words, &k, sizeof(words));
        uint64_t h = 1469598103934665603ull;
        for (uint32_t w : words)
            h = (h ^ w) * 1099511628211ull;
        return static_cast<size_t>(h);
    }
};

void BM_PlainHashWeld(benchmark::State& state) {
    const orvane_test::AssetMesh& mesh = Character(state.range(0));
    if (mesh.positions.empty()) {
        state.SkipWithError("cannot read the character");
        return;
    }
    for (auto _ : state) {
        std::unordered_map<CornerKey, int32_t, CornerHash> map;
        map.reserve(mesh.positions.size() * 2);
        std::vector<orvane_pwngbt343332_vertex> vertices;
        vertices.reserve(mesh.positions.size() * 2);
        std::vector<int32_t> indices;
        indices.reserve(mesh.triangles.size() * 3);
        for (const auto& t : mesh.triangles)
            for (int32_t v : t) {
                CornerKey key{};
                key.base = v;
                std::memcpy(key.normal, mesh.normals[v].data(), 12);
                std::memcpy(key.uv, mesh.uvs[v].data(), 8);
                auto [at, added] = map.try_emplace(key, static_cast<int32_t>(vertices.size()));
                if (added) {
                    orvane_pwngbt343332_vertex out{};
                    std::memcpy(out.Position, mesh.positions[v].data(), 12);
                    std::memcpy(out.Normal, key.normal, 12);
                    std::memcpy(out.TextureCoordinates0, key.uv, 8);
                    vertices.push_back(out);
                }
                indices.push_back(at->second);
            }
        benchmark::DoNotOptimize(indices.data());
        benchmark::DoNotOptimize(vertices.data());
    }
    SetCounters(state, mesh);
}

BENCHMARK(BM_Build)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BuildWithTangents)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainHashWeld)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

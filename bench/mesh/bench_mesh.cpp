// Skinning and skinning matrices on the peer workload (data/pab_walk_jog_arnaud4.json):
// 3,934 vertices with exactly 4 influences, positions and normals, 54 skinning matrices.
//
//   SkinPWN343ToPN33/<offset>     the registry's deformer for OrvanePWN343VertexType into
//                                 OrvanePN33VertexType (path: best = AVX2/FMA here, sse,
//                                 generic = scalar), output buffer displaced by <offset> bytes
//   SkinPWNT3432ToPNT332/<offset> the accelerated pair the registry offers for the same data
//                                 (texture coordinates added as the 2-word tail), best and SSE
//   PlainScalarSkinning/<offset>  baseline: a plain scalar loop over the same PWN343 data
//   MemcpyFloor/<offset>          memcpy of 56 bytes per vertex (28 read, 28 written: the bytes
//                                 one PWN343 -> PN33 vertex streams), the bandwidth floor
//   SkinningMatrices              54 matrices from a world pose: inverse bind pose x world
//                                 matrix, OrvaneBuildMeshBinding4x4Array
//   PlainSkinningMatrices         baseline: the same products in a plain scalar loop
//
// Figures are ns per vertex (the ns_per_vertex counter) or ns per 54 matrices. Flush-to-zero
// and denormals-are-zero stay off (the inverse bind poses hold a subnormal value). The world
// matrices are the skeleton's rest pose composed in model space (the benchmark's own
// composition for skinning, the library's rest world pose for the matrices); the vertex bone
// indices are the workload's mesh-joint indices, so matrices are used directly (no index table).
#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "mesh/orvane_deformer.h"
#include "orvane/math.h"
#include "orvane/mesh.h"
#include "orvane/deformer.h"
#include "orvane/mesh_builder.h"
#include "orvane_pab_workload.h"

namespace {

struct SkinningData {
    int32_t vertexCount = 0;
    std::vector<orvane_pwn343_vertex> pwn343;
    std::vector<orvane_pwnt3432_vertex> pwnt3432;
    std::vector<float> world;     // skeleton joints x 16, rest pose in model space
    std::vector<float> skinning;  // mesh joints x 16
    std::vector<std::string> jointNames;
    std::vector<orvane_bone> bones;  // the skeleton, inverse world = the joint's bind inverse
    orvane_skeleton skeleton{};
    std::vector<orvane_bone_binding> boneBindings;
    orvane_vertex_data vertexData{};
    orvane_mesh mesh{};
    orvane_mesh_binding* binding = nullptr;
    orvane_world_pose* pose = nullptr;  // the rest pose, built by the library
    std::vector<int32_t> remaps;
    std::vector<std::array<float, 16>> inverseBinds;
    bool ok = false;
};

const SkinningData& Data() {
    static SkinningData d = [] {
        SkinningData d;
        const orvane_workload::Workload* w = orvane_workload::SharedPabWorkload();
        if (w == nullptr) return d;
        const auto& m = w->mesh;
        d.vertexCount = m.vertexCount;
        d.remaps = m.jointRemaps;
        d.inverseBinds = m.inverseBindPoses;
        // Rest pose in model space: world = local x parent world (row vectors).
        const size_t joints = w->joints.size();
        d.world.resize(joints * 16);
        for (size_t j = 0; j < joints; ++j) {
            const auto& joint = w->joints[j];
            const float scale[9] = {joint.scale[0], 0, 0, 0, joint.scale[1], 0, 0, 0,
                                    joint.scale[2]};
            orvane_transform t;
            OrvaneSetTransform(&t, joint.translation, joint.rotation, scale);
            float local[16];
            OrvaneBuildCompositeTransform4x4(&t, local);
            if (joint.parent < 0)
                std::memcpy(&d.world[16 * j], local, sizeof(local));
            else
                OrvaneColumnMatrixMultiply4x3(&d.world[16 * j], local, &d.world[16 * joint.parent]);
        }
        // The skeleton and mesh records a binding reads.
        d.jointNames.resize(joints);
        d.bones.resize(joints);
        for (size_t j = 0; j < joints; ++j) {
            d.jointNames[j] = w->joints[j].name;
            std::memset(&d.bones[j], 0, sizeof(orvane_bone));
            d.bones[j].Name = d.jointNames[j].data();
            d.bones[j].ParentIndex = w->joints[j].parent;
            const auto& joint = w->joints[j];
            const float scale[9] = {joint.scale[0], 0, 0, 0, joint.scale[1], 0, 0, 0,
                                    joint.scale[2]};
            OrvaneSetTransform(&d.bones[j].Transform, joint.translation, joint.rotation, scale);
            const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
            std::memcpy(d.bones[j].InverseWorldTransform, identity, sizeof(identity));
        }
        const size_t meshJoints = m.jointRemaps.size();
        d.boneBindings.resize(meshJoints);
        for (size_t k = 0; k < meshJoints; ++k) {
            std::memset(&d.boneBindings[k], 0, sizeof(orvane_bone_binding));
            d.boneBindings[k].BoneName = d.jointNames[m.jointRemaps[k]].data();
            std::memcpy(d.bones[m.jointRemaps[k]].InverseWorldTransform,
                        m.inverseBindPoses[k].data(), 64);
        }
        d.skeleton.BoneCount = static_cast<int32_t>(joints);
        d.skeleton.Bones = d.bones.data();
        // Vertices: weights quantised to bytes and made to sum to exactly 255.
        d.pwn343.resize(m.vertexCount);
        for (int32_t v = 0; v < m.vertexCount; ++v) {
            orvane_pwn343_vertex& x = d.pwn343[v];
            std::memcpy(x.Position, &m.positions[3 * v], 12);
            std::memcpy(x.Normal, &m.normals[3 * v], 12);
            for (int k = 0; k < 4; ++k) {
                x.BoneWeights[k] =
                    static_cast<uint8_t>(std::lround(m.jointWeights[4 * v + k] * 255.0f));
                x.BoneIndices[k] = static_cast<uint8_t>(m.jointIndices[4 * v + k]);
            }
            OrvaneEnsureExactOneNorm(&OrvanePWN343VertexType[1], x.BoneWeights);
        }
        d.vertexData.VertexType = OrvanePWN343VertexType;
        d.vertexData.VertexCount = m.vertexCount;
        d.vertexData.Vertices = d.pwn343.data();
        d.mesh.PrimaryVertexData = &d.vertexData;
        d.mesh.BoneBindingCount = static_cast<int32_t>(meshJoints);
        d.mesh.BoneBindings = d.boneBindings.data();
        d.binding = OrvaneNewMeshBinding(&d.mesh, &d.skeleton, &d.skeleton);
        if (d.binding == nullptr) return d;
        d.pose = OrvaneNewWorldPose(d.skeleton.BoneCount);
        OrvaneBuildRestWorldPose(&d.skeleton, 0, d.skeleton.BoneCount, nullptr, d.pose);
        d.skinning.resize(meshJoints * 16);
        OrvaneBuildMeshBinding4x4ArrayFromMatrices(
            d.binding, d.world.data(), static_cast<int32_t>(joints), 0,
            static_cast<int32_t>(meshJoints), d.skinning.data());
        d.pwnt3432.resize(m.vertexCount);
        OrvaneConvertVertexLayouts(m.vertexCount, OrvanePWN343VertexType, d.pwn343.data(),
                                   OrvanePWNT3432VertexType, d.pwnt3432.data());
        d.ok = true;
        return d;
    }();
    return d;
}

// A 64-byte aligned block with the usable part displaced by offset bytes.
struct Block {
    std::vector<uint8_t> storage;
    uint8_t* at;
    Block(size_t bytes, size_t offset) : storage(bytes + offset + 64) {
        const auto base = reinterpret_cast<uintptr_t>(storage.data());
        at = storage.data() + (64 - base % 64) % 64 + offset;
    }
};

void PerVertex(benchmark::State& state, int32_t vertices) {
    state.counters["ns_per_vertex"] = benchmark::Counter(
        static_cast<double>(vertices) * static_cast<double>(state.iterations()) / 1e9,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

template <typename Source>
void Skin(benchmark::State& state, const orvane_data_type_definition* from,
          const orvane_data_type_definition* to, const std::vector<Source>& source,
          size_t destVertexBytes, orvane::DeformerPath path) {
    const SkinningData& d = Data();
    if (!d.ok) {
        state.SkipWithError("workload not available");
        return;
    }
    orvane::SetDeformerPath(path);
    orvane_mesh_deformer* deformer = OrvaneNewMeshDeformer(from, to, 2);
    if (deformer == nullptr) {
        state.SkipWithError("no deformer");
        return;
    }
    state.SetLabel(OrvaneMeshDeformerIsAccelerated(deformer) ? "accelerated entry"
                                                             : "generic entry");
    Block matrices(d.skinning.size() * 4, 0);
    std::memcpy(matrices.at, d.skinning.data(), d.skinning.size() * 4);
    Block dest(destVertexBytes * d.vertexCount, static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        OrvaneDeformVertices(deformer, nullptr, reinterpret_cast<const float*>(matrices.at),
                             d.vertexCount, source.data(), dest.at);
        benchmark::DoNotOptimize(dest.at);
        benchmark::ClobberMemory();
    }
    PerVertex(state, d.vertexCount);
    OrvaneFreeMeshDeformer(deformer);
    orvane::SetDeformerPath(orvane::DeformerPath::Best);
}

void SkinPWN343ToPN33(benchmark::State& state, orvane::DeformerPath path) {
    Skin(state, OrvanePWN343VertexType, OrvanePN33VertexType, Data().pwn343,
         sizeof(orvane_pn33_vertex), path);
}

void SkinPWNT3432ToPNT332(benchmark::State& state, orvane::DeformerPath path) {
    Skin(state, OrvanePWNT3432VertexType, OrvanePNT332VertexType, Data().pwnt3432,
         sizeof(orvane_pnt332_vertex), path);
}

// The baseline: what a straightforward scalar skinning loop does with the same data.
void PlainScalarSkinning(benchmark::State& state) {
    const SkinningData& d = Data();
    if (!d.ok) {
        state.SkipWithError("workload not available");
        return;
    }
    Block dest(sizeof(orvane_pn33_vertex) * d.vertexCount, static_cast<size_t>(state.range(0)));
    auto* out = reinterpret_cast<orvane_pn33_vertex*>(dest.at);
    const float* matrices = d.skinning.data();
    for (auto _ : state) {
        for (int32_t v = 0; v < d.vertexCount; ++v) {
            const orvane_pwn343_vertex& x = d.pwn343[v];
            float b[16] = {};
            for (int k = 0; k < 4; ++k) {
                const float w = x.BoneWeights[k] / 255.0f;
                const float* m = matrices + 16 * x.BoneIndices[k];
                for (int i = 0; i < 16; ++i)
                    b[i] += w * m[i];
            }
            for (int c = 0; c < 3; ++c) {
                out[v].Position[c] = x.Position[0] * b[c] + x.Position[1] * b[4 + c] +
                                     x.Position[2] * b[8 + c] + b[12 + c];
                out[v].Normal[c] =
                    x.Normal[0] * b[c] + x.Normal[1] * b[4 + c] + x.Normal[2] * b[8 + c];
            }
        }
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    PerVertex(state, d.vertexCount);
}

void MemcpyFloor(benchmark::State& state) {
    const SkinningData& d = Data();
    if (!d.ok) {
        state.SkipWithError("workload not available");
        return;
    }
    const size_t bytes = 28u * d.vertexCount;
    Block dest(bytes, static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        std::memcpy(dest.at, d.pwn343.data(), bytes);
        benchmark::DoNotOptimize(dest.at);
        benchmark::ClobberMemory();
    }
    PerVertex(state, d.vertexCount);
}

void SkinningMatrices(benchmark::State& state) {
    const SkinningData& d = Data();
    if (!d.ok) {
        state.SkipWithError("workload not available");
        return;
    }
    std::vector<float> out(d.skinning.size());
    const int32_t count = d.mesh.BoneBindingCount;
    for (auto _ : state) {
        OrvaneBuildMeshBinding4x4Array(d.binding, d.pose, 0, count, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}

void PlainSkinningMatrices(benchmark::State& state) {
    const SkinningData& d = Data();
    if (!d.ok) {
        state.SkipWithError("workload not available");
        return;
    }
    std::vector<float> out(d.skinning.size());
    const size_t count = d.remaps.size();
    for (auto _ : state) {
        for (size_t k = 0; k < count; ++k) {
            const float* a = d.inverseBinds[k].data();
            const float* b = OrvaneGetWorldPose4x4(d.pose, d.remaps[k]);
            float* r = &out[16 * k];
            for (int i = 0; i < 4; ++i) {
                for (int j = 0; j < 3; ++j)
                    r[4 * i + j] = a[4 * i] * b[j] + a[4 * i + 1] * b[4 + j] +
                                   a[4 * i + 2] * b[8 + j] + (i == 3 ? b[12 + j] : 0.0f);
                r[4 * i + 3] = i == 3 ? 1.0f : 0.0f;
            }
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}

// Output offsets within 4 KiB of the inputs (multiples of 16 so the accelerated routines keep
// their aligned path).
void Offsets(benchmark::internal::Benchmark* b) {
    for (int offset : {0, 16, 48, 272, 1040, 2064, 3088})
        b->Arg(offset);
}

BENCHMARK_CAPTURE(SkinPWN343ToPN33, best, orvane::DeformerPath::Best)->Apply(Offsets);
BENCHMARK_CAPTURE(SkinPWN343ToPN33, sse, orvane::DeformerPath::Sse)->Apply(Offsets);
BENCHMARK_CAPTURE(SkinPWN343ToPN33, generic, orvane::DeformerPath::Generic)->Apply(Offsets);
BENCHMARK_CAPTURE(SkinPWNT3432ToPNT332, best, orvane::DeformerPath::Best)->Apply(Offsets);
BENCHMARK_CAPTURE(SkinPWNT3432ToPNT332, sse, orvane::DeformerPath::Sse)->Apply(Offsets);
BENCHMARK(PlainScalarSkinning)->Apply(Offsets);
BENCHMARK(MemcpyFloor)->Apply(Offsets);
BENCHMARK(SkinningMatrices);
BENCHMARK(PlainSkinningMatrices);

}  // namespace

BENCHMARK_MAIN();

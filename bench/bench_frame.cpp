// The whole frame of a character on the peer workload (data/pab_walk_jog_arnaud4.json):
// the walk and the jog blended 0.6/0.4 at the same phase (the jog's speed scaled to the walk's
// length) through controls, the world pose of the 67 joints, 54 skinning matrices and 3,934
// vertices skinned with positions and normals (OrvanePWN343VertexType into OrvanePN33VertexType,
// the deformer the registry picks). Time advances 1/60 s per frame. The argument picks the
// curves: 0 float keys, 1 the quantised formats, 2 the compact format (see
// orvane_character_bench.h; the compact curves only for the sampling stage).
//
//   WholeFrame/<q>         the frame through the library: OrvaneSetModelClock,
//                          OrvaneSampleModelAnimations, OrvaneBuildWorldPoseNoComposite,
//                          OrvaneBuildMeshBinding4x4Array, OrvaneDeformVertices
//   WholeFrameThreads/<q>  the same with one character per thread (instances, controls, poses
//                          and buffers of its own), 1 and 2 threads: items_per_second is
//                          characters per second over all threads (wall clock);
//                          characters_per_busy_second the same over each thread's CPU time
//   Stage*/<q>             each stage of WholeFrame alone, the frame's parts
//   FramePerCall/<q>       the frame's stages each timed on its own in every frame (a pair of
//                          clock reads per stage, as the peer's frame harness times its jobs):
//                          per-frame median, mean, 10th and 90th percentiles of sampling (the
//                          clock, both animations and their blend), world_pose,
//                          skinning_matrices, deformation, animation (sampling and world pose)
//                          and frame (all four), and clock_pair_ns, what an empty pair reads
//   PlainFrame/<q>         baseline: the same stages in plain loops: the curves sampled one
//                          track at a time (OrvaneSampleTrackUUULocalHinted), blended (lerp,
//                          sign-corrected nlerp) and composed with the exported matrix
//                          products, the skinning matrices and the skinning in scalar loops
//
// Flush-to-zero and denormals-are-zero stay off (the inverse bind poses hold a subnormal).
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <time.h>

#include <benchmark/benchmark.h>

#include "orvane/controlled_animation.h"
#include "orvane/skeleton.h"
#include "orvane/track_sampler.h"
#include "orvane/core.h"
#include "orvane/math.h"
#include "orvane/mesh.h"
#include "orvane/deformer.h"
#include "orvane/mesh_builder.h"
#include "orvane_character_bench.h"
#include "orvane_pab_workload.h"

namespace {

using namespace orvane_character_bench;

// The workload's skeleton with the mesh's inverse bind poses, its model and its skinned mesh.
struct Skinned {
    std::string error;
    std::vector<orvane_bone> bones;
    orvane_skeleton skeleton{};
    orvane_model model{};
    std::vector<orvane_pwn343_vertex> vertices;
    std::vector<orvane_bone_binding> boneBindings;
    orvane_vertex_data vertexData{};
    orvane_mesh mesh{};
    orvane_mesh_binding* binding = nullptr;
    std::vector<int32_t> boundBone;  // skeleton bone of each bone binding
    bool ok = false;

    Skinned() {
        const Character& c = Get();
        const orvane_workload::Workload* w = orvane_workload::SharedPabWorkload(&error);
        if (c.skeleton == nullptr || w == nullptr) {
            if (error.empty()) error = c.error;
            return;
        }
        const int32_t n = c.skeleton->BoneCount;
        bones.assign(c.skeleton->Bones, c.skeleton->Bones + n);
        skeleton = {const_cast<char*>("arnaud"), n, bones.data()};
        model = c.model;  // named as the track groups, so the clips bind to it
        model.Skeleton = &skeleton;

        const auto& m = w->mesh;
        boneBindings.resize(m.jointRemaps.size());
        for (size_t k = 0; k < m.jointRemaps.size(); ++k) {
            const std::string& name = w->joints[size_t(m.jointRemaps[k])].name;
            int32_t bone = -1;
            if (!OrvaneFindBoneByName(&skeleton, name.c_str(), &bone)) {
                error = "the mesh names a joint the skeleton lacks";
                return;
            }
            std::memset(&boneBindings[k], 0, sizeof(orvane_bone_binding));
            boneBindings[k].BoneName = bones[size_t(bone)].Name;
            std::memcpy(bones[size_t(bone)].InverseWorldTransform, m.inverseBindPoses[k].data(),
                        64);
            boundBone.push_back(bone);
        }
        vertices.resize(size_t(m.vertexCount));
        for (int32_t v = 0; v < m.vertexCount; ++v) {
            orvane_pwn343_vertex& x = vertices[size_t(v)];
            std::memcpy(x.Position, &m.positions[size_t(3 * v)], 12);
            std::memcpy(x.Normal, &m.normals[size_t(3 * v)], 12);
            for (int k = 0; k < 4; ++k) {
                x.BoneWeights[k] =
                    static_cast<uint8_t>(std::lround(m.jointWeights[size_t(4 * v + k)] * 255.0f));
                x.BoneIndices[k] = static_cast<uint8_t>(m.jointIndices[size_t(4 * v + k)]);
            }
            OrvaneEnsureExactOneNorm(&OrvanePWN343VertexType[1], x.BoneWeights);
        }
        vertexData.VertexType = OrvanePWN343VertexType;
        vertexData.VertexCount = m.vertexCount;
        vertexData.Vertices = vertices.data();
        mesh.Name = const_cast<char*>("arnaud");
        mesh.PrimaryVertexData = &vertexData;
        mesh.BoneBindingCount = int32_t(boneBindings.size());
        mesh.BoneBindings = boneBindings.data();
        binding = OrvaneNewMeshBinding(&mesh, &skeleton, &skeleton);
        if (binding == nullptr) {
            error = "the mesh cannot be bound";
            return;
        }
        ok = true;
    }
};

const Skinned& GetSkinned() {
    static const Skinned s;
    return s;
}

bool SkinnedReady(benchmark::State& state) {
    if (!Ready(state)) return false;
    if (GetSkinned().ok) return true;
    state.SkipWithError(GetSkinned().error.c_str());
    return false;
}

// 64-byte aligned floats, zeroed.
struct Floats {
    float* at;
    explicit Floats(size_t count) {
        const size_t bytes = (count * sizeof(float) + 63) / 64 * 64;
        at = static_cast<float*>(std::aligned_alloc(64, bytes));
        std::memset(at, 0, bytes);
    }
    ~Floats() { std::free(at); }
    Floats(const Floats&) = delete;
    Floats& operator=(const Floats&) = delete;
};

// One character's frame: everything it writes is its own.
struct Frame {
    const Skinned& s = GetSkinned();
    orvane_model_instance* instance = nullptr;
    orvane_control* controls[2] = {nullptr, nullptr};
    orvane_local_pose* local = nullptr;
    orvane_world_pose* world = nullptr;
    orvane_mesh_deformer* deformer = nullptr;
    int32_t boneCount = 0, matrixCount = 0, vertexCount = 0;
    Floats matrices, deformed;
    float clock = 0.0f;

    explicit Frame(int quantised)
        : matrices(GetSkinned().boneBindings.size() * 16),
          deformed(GetSkinned().vertices.size() * 6) {
        const Character& c = Get();
        boneCount = s.skeleton.BoneCount;
        matrixCount = s.mesh.BoneBindingCount;
        vertexCount = s.vertexData.VertexCount;
        instance = OrvaneInstantiateModel(&s.model);
        for (int k = 0; k < 2; ++k) {
            controls[k] =
                OrvanePlayControlledAnimation(0.0f, &c.animations[quantised][k], instance);
            OrvaneSetControlLoopCount(controls[k], 0);
        }
        OrvaneSetControlWeight(controls[0], 0.6f);
        OrvaneSetControlWeight(controls[1], 0.4f);
        OrvaneSetControlSpeed(
            controls[1], c.animations[quantised][1].Duration / c.animations[quantised][0].Duration);
        local = OrvaneNewLocalPose(boneCount);
        world = OrvaneNewWorldPose(boneCount);
        deformer = OrvaneNewMeshDeformer(OrvanePWN343VertexType, OrvanePN33VertexType,
                                         OrvanePositionNormalDeformation);
    }
    ~Frame() {
        OrvaneFreeMeshDeformer(deformer);
        OrvaneFreeControl(controls[0]);
        OrvaneFreeControl(controls[1]);
        OrvaneFreeModelInstance(instance);
        OrvaneFreeLocalPose(local);
        OrvaneFreeWorldPose(world);
    }
    bool ok() const { return instance && controls[0] && controls[1] && local && world && deformer; }

    void Advance() {
        clock += kFrame;
        if (clock > 600.0f) {
            // Keeps the clock's float steps even over long runs.
            OrvaneRecenterAllModelInstanceControlClocks(instance, -600.0f);
            clock -= 600.0f;
        }
        OrvaneSetModelClock(instance, clock);
    }
    void Sample() { OrvaneSampleModelAnimations(instance, 0, boneCount, local); }
    void WorldPose() {
        OrvaneBuildWorldPoseNoComposite(&s.skeleton, 0, boneCount, local, nullptr, world);
    }
    void SkinningMatrices() {
        OrvaneBuildMeshBinding4x4Array(s.binding, world, 0, matrixCount, matrices.at);
    }
    void Deform() {
        OrvaneDeformVertices(deformer, nullptr, matrices.at, vertexCount, s.vertices.data(),
                             deformed.at);
    }
    void Whole() {
        Advance();
        Sample();
        WorldPose();
        SkinningMatrices();
        Deform();
    }
};

double ThreadCpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

bool FrameReady(benchmark::State& state, const Frame& f) {
    if (f.ok()) return true;
    state.SkipWithError("the frame cannot be set up");
    return false;
}

void Label(benchmark::State& state, const Frame& f) {
    state.SetLabel(OrvaneMeshDeformerIsAccelerated(f.deformer) ? "accelerated deformer"
                                                               : "generic deformer");
}

void WholeFrame(benchmark::State& state) {
    if (!SkinnedReady(state)) return;
    Frame f(int(state.range(0)));
    if (!FrameReady(state, f)) return;
    Label(state, f);
    for (auto _ : state) {
        f.Whole();
        benchmark::DoNotOptimize(f.deformed.at);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

// Each thread poses a character of its own; the set-up of the instances and controls takes
// the library's lock, the frames take none.
void WholeFrameThreads(benchmark::State& state) {
    if (!SkinnedReady(state)) return;
    Frame f(int(state.range(0)));
    if (!FrameReady(state, f)) return;
    // Threads at different points of the cycle, as characters of a crowd would be.
    f.clock = 0.1f * float(state.thread_index());
    const double cpuStart = ThreadCpuSeconds();
    for (auto _ : state) {
        f.Whole();
        benchmark::DoNotOptimize(f.deformed.at);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    // Summed over the threads: the characters per second the threads reach while they run,
    // which on a machine whose other core is busy differs from items_per_second (wall clock).
    state.counters["characters_per_busy_second"] =
        double(state.iterations()) / std::max(ThreadCpuSeconds() - cpuStart, 1e-9);
}

void StageSampling(benchmark::State& state) {
    if (!SkinnedReady(state)) return;
    Frame f(int(state.range(0)));
    if (!FrameReady(state, f)) return;
    for (auto _ : state) {
        f.Advance();
        f.Sample();
        benchmark::ClobberMemory();
    }
}

void StageWorldPose(benchmark::State& state) {
    if (!SkinnedReady(state)) return;
    Frame f(int(state.range(0)));
    if (!FrameReady(state, f)) return;
    f.Advance();
    f.Sample();
    for (auto _ : state) {
        f.WorldPose();
        benchmark::ClobberMemory();
    }
}

void StageSkinningMatrices(benchmark::State& state) {
    if (!SkinnedReady(state)) return;
    Frame f(int(state.range(0)));
    if (!FrameReady(state, f)) return;
    f.Advance();
    f.Sample();
    f.WorldPose();
    for (auto _ : state) {
        f.SkinningMatrices();
        benchmark::ClobberMemory();
    }
}

void StageDeformation(benchmark::State& state) {
    if (!SkinnedReady(state)) return;
    Frame f(int(state.range(0)));
    if (!FrameReady(state, f)) return;
    Label(state, f);
    f.Advance();
    f.Sample();
    f.WorldPose();
    f.SkinningMatrices();
    for (auto _ : state) {
        f.Deform();
        benchmark::DoNotOptimize(f.deformed.at);
        benchmark::ClobberMemory();
    }
}

// 500 frames of warm-up, then 10,000 frames, each stage between its own clock reads.
void FramePerCall(benchmark::State& state) {
    if (!SkinnedReady(state)) return;
    Frame f(int(state.range(0)));
    if (!FrameReady(state, f)) return;
    Label(state, f);
    CallTimes sampling, worldPose, skinningMatrices, deformation, animation, frame;
    for (auto _ : state) {
        for (int i = 0; i < kWarmUpFrames + kTimedFrames; ++i) {
            const StageClock::time_point t0 = StageClock::now();
            f.Advance();
            f.Sample();
            const StageClock::time_point t1 = StageClock::now();
            f.WorldPose();
            const StageClock::time_point t2 = StageClock::now();
            f.SkinningMatrices();
            const StageClock::time_point t3 = StageClock::now();
            f.Deform();
            const StageClock::time_point t4 = StageClock::now();
            benchmark::DoNotOptimize(f.deformed.at);
            benchmark::ClobberMemory();
            if (i < kWarmUpFrames) continue;
            const double a = Nanoseconds(t0, t1), b = Nanoseconds(t1, t2), c = Nanoseconds(t2, t3),
                         d = Nanoseconds(t3, t4);
            sampling.Add(a);
            worldPose.Add(b);
            skinningMatrices.Add(c);
            deformation.Add(d);
            animation.Add(a + b);
            frame.Add(a + b + c + d);
        }
    }
    sampling.Report(state, "sampling");
    worldPose.Report(state, "world_pose");
    skinningMatrices.Report(state, "skinning_matrices");
    deformation.Report(state, "deformation");
    animation.Report(state, "animation");
    frame.Report(state, "frame");
    state.counters["clock_pair_ns"] = ClockPairNanoseconds();
}

// ---- The baseline ----

void PlainFrame(benchmark::State& state) {
    if (!SkinnedReady(state)) return;
    const Character& c = Get();
    const Skinned& s = GetSkinned();
    const int q = int(state.range(0));
    const int32_t n = s.skeleton.BoneCount;
    std::vector<int32_t> hints[2] = {std::vector<int32_t>(size_t(n) * 3, 0),
                                     std::vector<int32_t>(size_t(n) * 3, 0)};
    std::vector<float> worlds(size_t(n) * 16), skinning(s.boneBindings.size() * 16);
    std::vector<orvane_pn33_vertex> out(s.vertices.size());
    const float walk = c.animations[q][0].Duration, jog = c.animations[q][1].Duration;
    float clock = 0.0f;
    for (auto _ : state) {
        clock += kFrame;
        if (clock > 600.0f) clock -= 600.0f;
        const orvane_track_sample_context a = ContextAt(clock, walk);
        const orvane_track_sample_context b = ContextAt(clock * jog / walk, jog);
        for (int32_t i = 0; i < n; ++i) {
            orvane_transform ta, tb;
            SampleBone(c, q, 0, i, a, &hints[0][size_t(i) * 3], &ta);
            SampleBone(c, q, 1, i, b, &hints[1][size_t(i) * 3], &tb);
            const orvane_transform t = BlendPlain(ta, 0.6f, tb, 0.4f);
            float m[16];
            OrvaneBuildCompositeTransform4x4(&t, m);
            const int32_t parent = s.skeleton.Bones[i].ParentIndex;
            if (parent < 0)
                std::memcpy(&worlds[size_t(i) * 16], m, sizeof(m));
            else
                OrvaneColumnMatrixMultiply4x3(&worlds[size_t(i) * 16], m,
                                              &worlds[size_t(parent) * 16]);
        }
        for (size_t k = 0; k < s.boundBone.size(); ++k) {
            const float* x = &s.bones[size_t(s.boundBone[k])].InverseWorldTransform[0][0];
            const float* y = &worlds[size_t(s.boundBone[k]) * 16];
            float* r = &skinning[16 * k];
            for (int i = 0; i < 4; ++i) {
                for (int j = 0; j < 3; ++j)
                    r[4 * i + j] = x[4 * i] * y[j] + x[4 * i + 1] * y[4 + j] +
                                   x[4 * i + 2] * y[8 + j] + (i == 3 ? y[12 + j] : 0.0f);
                r[4 * i + 3] = i == 3 ? 1.0f : 0.0f;
            }
        }
        for (size_t v = 0; v < s.vertices.size(); ++v) {
            const orvane_pwn343_vertex& x = s.vertices[v];
            float m[16] = {};
            for (int k = 0; k < 4; ++k) {
                const float w = x.BoneWeights[k] / 255.0f;
                const float* b = &skinning[16 * size_t(x.BoneIndices[k])];
                for (int i = 0; i < 16; ++i)
                    m[i] += w * b[i];
            }
            for (int k = 0; k < 3; ++k) {
                out[v].Position[k] = x.Position[0] * m[k] + x.Position[1] * m[4 + k] +
                                     x.Position[2] * m[8 + k] + m[12 + k];
                out[v].Normal[k] =
                    x.Normal[0] * m[k] + x.Normal[1] * m[4 + k] + x.Normal[2] * m[8 + k];
            }
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

void Curves(benchmark::internal::Benchmark* b) {
    b->ArgName("quantised")->Arg(0)->Arg(1);
}

BENCHMARK(WholeFrame)->Apply(Curves);
BENCHMARK(PlainFrame)->Apply(Curves);
BENCHMARK(StageSampling)->Apply(Curves)->Arg(2);
BENCHMARK(StageWorldPose)->Apply(Curves);
BENCHMARK(StageSkinningMatrices)->Apply(Curves);
BENCHMARK(StageDeformation)->Apply(Curves);
BENCHMARK(WholeFrameThreads)->Apply(Curves)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(FramePerCall)->Apply(Curves)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();

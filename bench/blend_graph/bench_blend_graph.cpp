// The blend graph on the character workload (data/pab_walk_jog_arnaud4.json): the
// 67-joint skeleton with its walk (1.333 s) and jog (0.8 s), built as the instance benchmark
// builds them (degree-1 curves, float or quantised formats). Time advances 1/60 s per frame.
//
// - GraphCrossfade: a crossfade (weight 0.4) of two instances, one playing the walk, one the
//   jog at the walk's phase, sampled through OrvaneSampleBlendDagTree.
// - DirectCrossfade: the baseline: the same two instances sampled with
//   OrvaneSampleModelAnimations into two poses and blended by hand (lerp, sign-corrected
//   nlerp) into a third.
// - GraphWeighted3 / DirectWeighted3: a weighted blend (0.5, 0.3, 0.2) of three instances
//   (walk, jog, walk half a cycle later) through the graph, and sampled directly then
//   accumulated and normalised by hand.
// The graph benchmarks count the library's allocations per frame ("allocs").
#include <atomic>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "orvane/blend_graph.h"
#include "orvane/controlled_animation.h"
#include "orvane/core.h"
#include "orvane/math.h"
#include "orvane_character_bench.h"
#include "orvane_pab_workload.h"

namespace {

using namespace orvane_character_bench;

std::atomic<int64_t> gAllocations{0};
orvane_allocate_callback gAllocate = nullptr;
orvane_deallocate_callback gDeallocate = nullptr;

void* CountingAllocate(const char* file, int32_t line, uint32_t alignment, int32_t size) {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
    return gAllocate(file, line, alignment, size);
}

// Instances of the character, each playing one clip; clip 1 (the jog) at the walk's phase.
struct Scene {
    std::vector<orvane_model_instance*> instances;
    std::vector<orvane_control*> controls;
    std::vector<orvane_local_pose*> poses;
    orvane_local_pose* result = nullptr;

    Scene(int quantised, const std::vector<int>& clips, const std::vector<float>& starts) {
        const Character& c = Get();
        for (size_t k = 0; k < clips.size(); ++k) {
            orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
            orvane_control* control = OrvanePlayControlledAnimation(
                starts[k], &c.animations[quantised][clips[k]], instance);
            OrvaneSetControlLoopCount(control, 0);
            if (clips[k] == 1)
                OrvaneSetControlSpeed(control, c.animations[quantised][1].Duration /
                                                   c.animations[quantised][0].Duration);
            instances.push_back(instance);
            controls.push_back(control);
            poses.push_back(OrvaneNewLocalPose(c.skeleton->BoneCount));
        }
        result = OrvaneNewLocalPose(c.skeleton->BoneCount);
    }
    ~Scene() {
        for (size_t k = 0; k < instances.size(); ++k) {
            OrvaneFreeModelInstance(instances[k]);
            OrvaneFreeControl(controls[k]);
            OrvaneFreeLocalPose(poses[k]);
        }
        OrvaneFreeLocalPose(result);
    }
};

float Advance(float* clock) {
    *clock += kFrame;
    if (*clock > 600.0f) *clock -= 600.0f;
    return *clock;
}

void RunGraph(benchmark::State& state, orvane_blend_dag_node* root) {
    const int32_t n = Get().skeleton->BoneCount;
    float clock = 0.0f;
    // The first frame sizes the pose cache; the measured frames allocate nothing after it.
    OrvaneSetBlendDagTreeClock(root, Advance(&clock));
    OrvaneSampleBlendDagTree(root, n);
    OrvaneGetAllocator(&gAllocate, &gDeallocate);
    OrvaneSetAllocator(&CountingAllocate, gDeallocate);
    gAllocations = 0;
    for (auto _ : state) {
        OrvaneSetBlendDagTreeClock(root, Advance(&clock));
        const orvane_local_pose* pose = OrvaneSampleBlendDagTree(root, n);
        benchmark::DoNotOptimize(OrvaneGetLocalPoseTransform(pose, n - 1)->Position[0]);
    }
    OrvaneSetAllocator(gAllocate, gDeallocate);
    state.counters["allocs"] =
        benchmark::Counter(double(gAllocations.load()), benchmark::Counter::kAvgIterations);
    OrvaneFreeBlendDagEntireTree(root);
    OrvaneFreeBlendDagLocalPoseCache();
}

void GraphCrossfade(benchmark::State& state) {
    if (!Ready(state)) return;
    Scene s(int(state.range(0)), {0, 1}, {0.0f, 0.0f});
    orvane_blend_dag_node* root = OrvaneCreateBlendDagNodeCrossfade(
        OrvaneCreateBlendDagNodeAnimationBlend(s.instances[0], false),
        OrvaneCreateBlendDagNodeAnimationBlend(s.instances[1], false), 0.0f, 0.4f, nullptr, false,
        0);
    RunGraph(state, root);
}

void GraphWeighted3(benchmark::State& state) {
    if (!Ready(state)) return;
    Scene s(int(state.range(0)), {0, 1, 0}, {0.0f, 0.0f, -0.667f});
    const float weights[3] = {0.5f, 0.3f, 0.2f};
    orvane_blend_dag_node* children[3];
    for (int k = 0; k < 3; ++k) {
        children[k] = OrvaneCreateBlendDagNodeAnimationBlend(s.instances[size_t(k)], false);
        OrvaneSetBlendDagNodeResultWeight(children[k], weights[k]);
    }
    RunGraph(state, OrvaneCreateBlendDagNodeWeightedBlendChildren(
                        Get().skeleton, 0.2f, OrvaneQuaternionBlendDirect, 0, 3, children));
}

void SampleDirect(Scene& s, float clock) {
    const int32_t n = Get().skeleton->BoneCount;
    for (size_t k = 0; k < s.instances.size(); ++k) {
        OrvaneSetModelClock(s.instances[k], clock);
        OrvaneSampleModelAnimations(s.instances[k], 0, n, s.poses[k]);
    }
}

void DirectCrossfade(benchmark::State& state) {
    if (!Ready(state)) return;
    Scene s(int(state.range(0)), {0, 1}, {0.0f, 0.0f});
    const int32_t n = Get().skeleton->BoneCount;
    float clock = 0.0f;
    const float t = 0.4f, u = 0.6f;
    for (auto _ : state) {
        SampleDirect(s, Advance(&clock));
        for (int32_t i = 0; i < n; ++i) {
            const orvane_transform& a = *OrvaneGetLocalPoseTransform(s.poses[0], i);
            const orvane_transform& b = *OrvaneGetLocalPoseTransform(s.poses[1], i);
            *OrvaneGetLocalPoseTransform(s.result, i) = BlendPlain(a, u, b, t);
        }
        benchmark::DoNotOptimize(OrvaneGetLocalPoseTransform(s.result, n - 1)->Position[0]);
    }
}

void DirectWeighted3(benchmark::State& state) {
    if (!Ready(state)) return;
    Scene s(int(state.range(0)), {0, 1, 0}, {0.0f, 0.0f, -0.667f});
    const int32_t n = Get().skeleton->BoneCount;
    const float weights[3] = {0.5f, 0.3f, 0.2f};
    float clock = 0.0f;
    for (auto _ : state) {
        SampleDirect(s, Advance(&clock));
        for (int32_t i = 0; i < n; ++i) {
            orvane_transform& r = *OrvaneGetLocalPoseTransform(s.result, i);
            r = {};
            for (int c = 0; c < 3; ++c) {
                const orvane_transform& a = *OrvaneGetLocalPoseTransform(s.poses[size_t(c)], i);
                const float w = weights[c];
                r.Flags |= a.Flags;
                for (int k = 0; k < 3; ++k)
                    r.Position[k] += w * a.Position[k];
                for (int k = 0; k < 4; ++k)
                    r.Orientation[k] += w * a.Orientation[k];
                for (int k = 0; k < 3; ++k)
                    for (int m = 0; m < 3; ++m)
                        r.ScaleShear[k][m] += w * a.ScaleShear[k][m];
            }
            float l = 0.0f;
            for (float v : r.Orientation)
                l += v * v;
            const float inv = 1.0f / std::sqrt(l);
            for (float& v : r.Orientation)
                v *= inv;
        }
        benchmark::DoNotOptimize(OrvaneGetLocalPoseTransform(s.result, n - 1)->Position[0]);
    }
}

void Args(benchmark::internal::Benchmark* b) {
    b->ArgName("quantised")->Arg(0)->Arg(1);
}

BENCHMARK(GraphCrossfade)->Apply(Args);
BENCHMARK(DirectCrossfade)->Apply(Args);
BENCHMARK(GraphWeighted3)->Apply(Args);
BENCHMARK(DirectWeighted3)->Apply(Args);

}  // namespace

BENCHMARK_MAIN();

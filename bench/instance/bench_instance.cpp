// A frame of animation through model instances, on the character workload
// (data/pab_walk_jog_arnaud4.json): the 67-joint skeleton and its walk (1.333 s) and
// jog (0.8 s), keys at 30 Hz, built with the track group builder into degree-1 curves
// (DaK32fC32f floats, or the quantised D3K16uC16u / D4nK16uC15u / D9I3K16uC16u formats),
// identity and constant curves reduced as a compressor would. Time advances 1/60 s per frame.
//
// - TwoClips: one instance playing the walk (weight 0.6) and the jog (weight 0.4) at the same
//   phase (the jog's speed is scaled to the walk's length), through OrvaneSetModelClock,
//   OrvaneSampleModelAnimations and OrvaneBuildWorldPose.
// - Accelerated: the walk alone through OrvaneSampleModelAnimationsAccelerated.
// - PlainTwoClips / PlainSingle: the baselines: the same curves sampled with
//   OrvaneSampleTrackUUULocalHinted (knot hints kept per joint), blended (lerp, sign-corrected
//   nlerp) and composed into world and composite matrices with the exported matrix products,
//   without controls, bindings or poses.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "orvane/controlled_animation.h"
#include "orvane/track_sampler.h"
#include "orvane/core.h"
#include "orvane/math.h"
#include "orvane_character_bench.h"
#include "orvane_pab_workload.h"

namespace {

using namespace orvane_character_bench;

struct Frame {
    orvane_model_instance* instance = nullptr;
    orvane_control* controls[2] = {nullptr, nullptr};
    orvane_local_pose* pose = nullptr;
    orvane_world_pose* world = nullptr;

    Frame(int quantised, bool two) {
        const Character& c = Get();
        const int32_t n = c.skeleton->BoneCount;
        instance = OrvaneInstantiateModel(&c.model);
        for (int k = 0; k < (two ? 2 : 1); ++k) {
            controls[k] =
                OrvanePlayControlledAnimation(0.0f, &c.animations[quantised][k], instance);
            OrvaneSetControlLoopCount(controls[k], 0);
        }
        if (two) {
            OrvaneSetControlWeight(controls[0], 0.6f);
            OrvaneSetControlWeight(controls[1], 0.4f);
            // The jog at the walk's phase.
            OrvaneSetControlSpeed(controls[1], c.animations[quantised][1].Duration /
                                                   c.animations[quantised][0].Duration);
        }
        pose = OrvaneNewLocalPose(n);
        world = OrvaneNewWorldPose(n);
    }
    ~Frame() {
        OrvaneFreeModelInstance(instance);
        OrvaneFreeControl(controls[0]);
        OrvaneFreeControl(controls[1]);
        OrvaneFreeLocalPose(pose);
        OrvaneFreeWorldPose(world);
    }
};

// One frame on, the instance's clock recentred now and then so that its float steps stay even
// over long runs.
void AdvanceClock(orvane_model_instance* instance, float* clock) {
    *clock += kFrame;
    if (*clock > 600.0f) {
        OrvaneRecenterAllModelInstanceControlClocks(instance, -600.0f);
        *clock -= 600.0f;
    }
    OrvaneSetModelClock(instance, *clock);
}

void TwoClips(benchmark::State& state) {
    if (!Ready(state)) return;
    Frame f(int(state.range(0)), true);
    const orvane_skeleton* s = Get().skeleton;
    float clock = 0.0f;
    for (auto _ : state) {
        AdvanceClock(f.instance, &clock);
        OrvaneSampleModelAnimations(f.instance, 0, s->BoneCount, f.pose);
        OrvaneBuildWorldPose(s, 0, s->BoneCount, f.pose, nullptr, f.world);
        benchmark::DoNotOptimize(OrvaneGetWorldPose4x4Array(f.world)[16 * 66 + 12]);
    }
}

void Accelerated(benchmark::State& state) {
    if (!Ready(state)) return;
    Frame f(int(state.range(0)), false);
    const orvane_skeleton* s = Get().skeleton;
    float clock = 0.0f;
    for (auto _ : state) {
        AdvanceClock(f.instance, &clock);
        OrvaneSampleModelAnimationsAccelerated(f.instance, s->BoneCount, nullptr, f.pose, f.world);
        benchmark::DoNotOptimize(OrvaneGetWorldPose4x4Array(f.world)[16 * 66 + 12]);
    }
}

// ---- The baselines ----

void Compose(const orvane_skeleton* s, int32_t i, const orvane_transform& t, float* worlds,
             float* composites) {
    float m[16];
    OrvaneBuildCompositeTransform4x4(&t, m);
    const orvane_bone& bone = s->Bones[i];
    float* world = worlds + 16 * i;
    if (bone.ParentIndex < 0)
        std::copy(m, m + 16, world);
    else
        OrvaneColumnMatrixMultiply4x3(world, m, worlds + 16 * bone.ParentIndex);
    OrvaneColumnMatrixMultiply4x3(composites + 16 * i, &bone.InverseWorldTransform[0][0], world);
}

struct Plain {
    std::vector<int32_t> hints[2];
    std::vector<float> worlds, composites;
    explicit Plain(int32_t n) : worlds(size_t(n) * 16), composites(size_t(n) * 16) {
        hints[0].assign(size_t(n) * 3, 0);
        hints[1].assign(size_t(n) * 3, 0);
    }
};

void PlainTwoClips(benchmark::State& state) {
    if (!Ready(state)) return;
    const Character& c = Get();
    const int q = int(state.range(0));
    const orvane_skeleton* s = c.skeleton;
    const int32_t n = s->BoneCount;
    Plain p(n);
    const float walk = c.animations[q][0].Duration, jog = c.animations[q][1].Duration;
    float clock = 0.0f;
    for (auto _ : state) {
        clock += kFrame;
        if (clock > 600.0f) clock -= 600.0f;
        const orvane_track_sample_context a = ContextAt(clock, walk);
        const orvane_track_sample_context b = ContextAt(clock * jog / walk, jog);
        for (int32_t i = 0; i < n; ++i) {
            orvane_transform ta, tb;
            SampleBone(c, q, 0, i, a, &p.hints[0][size_t(i) * 3], &ta);
            SampleBone(c, q, 1, i, b, &p.hints[1][size_t(i) * 3], &tb);
            const orvane_transform t = BlendPlain(ta, 0.6f, tb, 0.4f);
            Compose(s, i, t, p.worlds.data(), p.composites.data());
        }
        benchmark::DoNotOptimize(p.worlds[16 * 66 + 12]);
    }
}

void PlainSingle(benchmark::State& state) {
    if (!Ready(state)) return;
    const Character& c = Get();
    const int q = int(state.range(0));
    const orvane_skeleton* s = c.skeleton;
    const int32_t n = s->BoneCount;
    Plain p(n);
    const float walk = c.animations[q][0].Duration;
    float clock = 0.0f;
    for (auto _ : state) {
        clock += kFrame;
        if (clock > 600.0f) clock -= 600.0f;
        const orvane_track_sample_context a = ContextAt(clock, walk);
        for (int32_t i = 0; i < n; ++i) {
            orvane_transform t;
            SampleBone(c, q, 0, i, a, &p.hints[0][size_t(i) * 3], &t);
            Compose(s, i, t, p.worlds.data(), p.composites.data());
        }
        benchmark::DoNotOptimize(p.worlds[16 * 66 + 12]);
    }
}

void Args(benchmark::internal::Benchmark* b) {
    b->ArgName("quantised")->Arg(0)->Arg(1);
}

BENCHMARK(TwoClips)->Apply(Args);
BENCHMARK(PlainTwoClips)->Apply(Args);
BENCHMARK(Accelerated)->Apply(Args);
BENCHMARK(PlainSingle)->Apply(Args);

}  // namespace

BENCHMARK_MAIN();

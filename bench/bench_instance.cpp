// A frame of animation through model instances, on the character workload
// (../shared/data/pab_walk_jog_arnaud4.json): the 67-joint skeleton and its walk (1.333 s) and
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

#include "orvane/anim.h"
#include "orvane/core.h"
#include "orvane/math.h"
#include "orvane/runtime.h"
#include "orvane_pab_workload.h"

namespace {

using orvane_workload::Clip;
using orvane_workload::Workload;

constexpr float kFrame = 1.0f / 60.0f;

template <int N>
void Flatten(const std::vector<orvane_workload::Key<N>>& keys, std::vector<float>* knots,
             std::vector<float>* controls) {
    knots->clear();
    controls->clear();
    for (const auto& k : keys) {
        knots->push_back(k.time);
        for (int c = 0; c < N; ++c)
            controls->push_back(k.value[c]);
    }
}

void SetReduced(orvane_track_group_builder* b, int component, int dimension,
                const std::vector<float>& knots, const std::vector<float>& controls,
                orvane_data_type_definition* type, const float* identity) {
    int32_t degree = 1, count = int32_t(knots.size());
    OrvaneKnotsAreReducible(1, dimension, count, knots.data(), controls.data(), identity, 1e-5f,
                            true, false, &degree, &count);
    if (count == 0) return;
    if (count == 1) {
        type = OrvaneCurveDataDaK32fC32fType;
        degree = 0;
    }
    auto set = component == 0   ? OrvaneSetTransformTrackPosition
               : component == 1 ? OrvaneSetTransformTrackOrientation
                                : OrvaneSetTransformTrackScaleShear;
    set(b, degree, 0, count, knots.data(), controls.data(), type);
}

orvane_track_group* BuildGroup(const Workload& w, const Clip& clip, const char* name,
                               bool quantised) {
    orvane_track_group_builder* b =
        OrvaneBeginTrackGroup(name, 0, int32_t(w.joints.size()), 0, false);
    std::vector<float> knots, controls, scales;
    for (size_t j = 0; j < w.joints.size(); ++j) {
        const auto& track = clip.tracks[j];
        OrvaneBeginTransformTrack(b, w.joints[j].name.c_str());
        Flatten(track.translations, &knots, &controls);
        SetReduced(b, 0, 3, knots, controls,
                   quantised ? OrvaneCurveDataD3K16uC16uType : OrvaneCurveDataDaK32fC32fType,
                   OrvaneCurveIdentityPosition);
        Flatten(track.rotations, &knots, &controls);
        OrvaneEnsureQuaternionContinuity(int32_t(knots.size()), controls.data());
        SetReduced(b, 1, 4, knots, controls,
                   quantised ? OrvaneCurveDataD4nK16uC15uType : OrvaneCurveDataDaK32fC32fType,
                   OrvaneCurveIdentityOrientation);
        Flatten(track.scales, &knots, &controls);
        scales.assign(knots.size() * 9, 0.0f);
        for (size_t k = 0; k < knots.size(); ++k)
            for (int c = 0; c < 3; ++c)
                scales[k * 9 + size_t(c) * 4] = controls[k * 3 + size_t(c)];
        SetReduced(b, 2, 9, knots, scales,
                   quantised ? OrvaneCurveDataD9I3K16uC16uType : OrvaneCurveDataDaK32fC32fType,
                   OrvaneCurveIdentityScaleShear);
        OrvaneEndTransformTrack(b);
    }
    return OrvaneEndTrackGroup(b);
}

struct Character {
    std::string error;
    std::vector<std::string> names;
    orvane_skeleton* skeleton = nullptr;
    orvane_model model{};
    orvane_track_group* groups[2][2] = {};  // [quantised][walk, jog]
    orvane_animation animations[2][2] = {};
    std::vector<int32_t> trackOfBone[2][2];

    Character() {
        const Workload* w = orvane_workload::SharedPabWorkload(&error);
        if (!w || w->clips.size() < 2) return;
        const int32_t n = int32_t(w->joints.size());
        std::vector<orvane_transform> local(static_cast<size_t>(n)), rest(static_cast<size_t>(n));
        for (int32_t i = 0; i < n; ++i) {
            const auto& j = w->joints[size_t(i)];
            const float s[9] = {j.scale[0], 0, 0, 0, j.scale[1], 0, 0, 0, j.scale[2]};
            OrvaneSetTransformWithIdentityCheck(&local[size_t(i)], j.translation, j.rotation, s);
            rest[size_t(i)] = local[size_t(i)];
            if (j.parent >= 0) OrvanePreMultiplyBy(&rest[size_t(i)], &rest[size_t(j.parent)]);
        }
        orvane_skeleton_builder* b = OrvaneBeginSkeleton(n);
        for (int32_t i = 0; i < n; ++i)
            OrvaneAddBone(b, local[size_t(i)].Position, local[size_t(i)].Orientation,
                          &local[size_t(i)].ScaleShear[0][0], rest[size_t(i)].Position,
                          rest[size_t(i)].Orientation, &rest[size_t(i)].ScaleShear[0][0]);
        for (int32_t i = 0; i < n; ++i)
            if (w->joints[size_t(i)].parent >= 0)
                OrvaneSetBoneParent(b, i, w->joints[size_t(i)].parent);
        std::vector<int32_t> remap(static_cast<size_t>(n));
        skeleton = OrvaneEndSkeleton(b, remap.data());
        names.resize(size_t(n));
        for (int32_t i = 0; i < n; ++i) {
            names[size_t(i)] = w->joints[size_t(i)].name;
            skeleton->Bones[remap[size_t(i)]].Name = const_cast<char*>(names[size_t(i)].c_str());
        }
        model.Name = const_cast<char*>("arnaud");
        model.Skeleton = skeleton;
        OrvaneMakeIdentity(&model.InitialPlacement);
        for (int q = 0; q < 2; ++q) {
            for (int c = 0; c < 2; ++c) {
                const Clip& clip = w->clips[size_t(c)];
                groups[q][c] = BuildGroup(*w, clip, "arnaud", q == 1);
                orvane_animation& a = animations[q][c];
                a.Name = const_cast<char*>(clip.name.c_str());
                a.Duration = clip.duration;
                a.TimeStep = 1.0f / 30.0f;
                a.Oversampling = 1.0f;
                a.TrackGroupCount = 1;
                a.TrackGroups = &groups[q][c];
                for (int32_t bone = 0; bone < n; ++bone) {
                    int32_t index = -1;
                    OrvaneFindTrackByName(groups[q][c], skeleton->Bones[bone].Name, &index);
                    trackOfBone[q][c].push_back(index);
                }
            }
        }
    }
};

const Character& Get() {
    static const Character c;
    return c;
}

bool Ready(benchmark::State& state) {
    if (Get().skeleton) return true;
    state.SkipWithError(Get().error.c_str());
    return false;
}

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

void TwoClips(benchmark::State& state) {
    if (!Ready(state)) return;
    Frame f(int(state.range(0)), true);
    const orvane_skeleton* s = Get().skeleton;
    float clock = 0.0f;
    for (auto _ : state) {
        clock += kFrame;
        if (clock > 600.0f) {
            // Keeps the clock's float steps even over long runs.
            OrvaneRecenterAllModelInstanceControlClocks(f.instance, -600.0f);
            clock -= 600.0f;
        }
        OrvaneSetModelClock(f.instance, clock);
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
        clock += kFrame;
        if (clock > 600.0f) {
            // Keeps the clock's float steps even over long runs.
            OrvaneRecenterAllModelInstanceControlClocks(f.instance, -600.0f);
            clock -= 600.0f;
        }
        OrvaneSetModelClock(f.instance, clock);
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

orvane_track_sample_context ContextAt(float t, float duration) {
    orvane_track_sample_context c{};
    c.SampleTime = std::fmod(t, duration);
    c.SampleDuration = duration;
    c.LoopBefore = c.LoopAfter = true;
    return c;
}

void SampleBone(const Character& c, int q, int k, int32_t bone,
                const orvane_track_sample_context& x, int32_t* hints, orvane_transform* out) {
    const int32_t track = c.trackOfBone[q][k][size_t(bone)];
    if (track < 0) {
        *out = c.skeleton->Bones[bone].Transform;
        return;
    }
    out->Flags = 0;
    OrvaneSampleTrackUUULocalHinted(&x, &c.groups[q][k]->TransformTracks[track], hints, out);
}

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
            orvane_transform ta, tb, t;
            SampleBone(c, q, 0, i, a, &p.hints[0][size_t(i) * 3], &ta);
            SampleBone(c, q, 1, i, b, &p.hints[1][size_t(i) * 3], &tb);
            t.Flags = ta.Flags | tb.Flags;
            for (int k = 0; k < 3; ++k)
                t.Position[k] = 0.6f * ta.Position[k] + 0.4f * tb.Position[k];
            const float dot =
                ta.Orientation[0] * tb.Orientation[0] + ta.Orientation[1] * tb.Orientation[1] +
                ta.Orientation[2] * tb.Orientation[2] + ta.Orientation[3] * tb.Orientation[3];
            const float wb = dot < 0.0f ? -0.4f : 0.4f;
            float l = 0.0f;
            for (int k = 0; k < 4; ++k) {
                t.Orientation[k] = 0.6f * ta.Orientation[k] + wb * tb.Orientation[k];
                l += t.Orientation[k] * t.Orientation[k];
            }
            const float r = 1.0f / std::sqrt(l);
            for (float& v : t.Orientation)
                v *= r;
            for (int k = 0; k < 3; ++k)
                for (int m = 0; m < 3; ++m)
                    t.ScaleShear[k][m] = 0.6f * ta.ScaleShear[k][m] + 0.4f * tb.ScaleShear[k][m];
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

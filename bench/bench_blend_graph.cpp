// The blend graph on the character workload (../shared/data/pab_walk_jog_arnaud4.json): the
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
            orvane_transform& r = *OrvaneGetLocalPoseTransform(s.result, i);
            r.Flags = a.Flags | b.Flags;
            for (int k = 0; k < 3; ++k)
                r.Position[k] = u * a.Position[k] + t * b.Position[k];
            const float dot =
                a.Orientation[0] * b.Orientation[0] + a.Orientation[1] * b.Orientation[1] +
                a.Orientation[2] * b.Orientation[2] + a.Orientation[3] * b.Orientation[3];
            const float tb = dot < 0.0f ? -t : t;
            float l = 0.0f;
            for (int k = 0; k < 4; ++k) {
                r.Orientation[k] = u * a.Orientation[k] + tb * b.Orientation[k];
                l += r.Orientation[k] * r.Orientation[k];
            }
            const float inv = 1.0f / std::sqrt(l);
            for (float& v : r.Orientation)
                v *= inv;
            for (int k = 0; k < 3; ++k)
                for (int m = 0; m < 3; ++m)
                    r.ScaleShear[k][m] = u * a.ScaleShear[k][m] + t * b.ScaleShear[k][m];
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

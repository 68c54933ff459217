// The character workload of the instance and blend-graph benchmarks: the 67-joint skeleton of
// data/pab_walk_jog_arnaud4.json built with the skeleton builder, and its walk and jog
// built with the track group builder into degree-1 curves (kind 0 float, 1 quantised, 2 the
// compact format fitted within 1e-3 cm and 2e-5 of a unit quaternion), identity and constant
// curves reduced as a compressor would.
#ifndef ORVANE_CHARACTER_BENCH_H
#define ORVANE_CHARACTER_BENCH_H

#include <algorithm>
#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "orvane/curve_builder.h"
#include "orvane/fit.h"
#include "orvane/skeleton_builder.h"
#include "orvane/track_group.h"
#include "orvane/track_group_builder.h"
#include "orvane/track_sampler.h"
#include "orvane/core.h"
#include "orvane/math.h"
#include "orvane_pab_workload.h"

namespace orvane_character_bench {

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

// Kinds of curves: float keys, the quantised formats, the compact format.
constexpr int kCurveKinds = 3;

inline void SetReduced(orvane_track_group_builder* b, int component, int dimension,
                       const std::vector<float>& knots, const std::vector<float>& controls,
                       orvane_data_type_definition* type, const float* identity,
                       bool compact = false) {
    int32_t degree = 1, count = int32_t(knots.size());
    OrvaneKnotsAreReducible(1, dimension, count, knots.data(), controls.data(), identity, 1e-5f,
                            true, false, &degree, &count);
    if (count == 0) return;
    if (count == 1) {
        type = OrvaneCurveDataDaK32fC32fType;
        degree = 0;
    }
    if (compact && count > 1 && component < 2 && knots.size() > 1) {
        // The keys are evenly spaced: the compact fit takes them as they are.
        const int32_t n = int32_t(knots.size());
        const float step = (knots[size_t(n - 1)] - knots[0]) / float(n - 1);
        orvane_curve2* curve = OrvaneFitCompactCurve(dimension, component == 1, n, controls.data(),
                                                     step, component == 1 ? 2e-5f : 1e-3f, nullptr);
        if (curve) {
            if (component == 0)
                OrvaneSetTransformTrackPositionCurve(b, curve);
            else
                OrvaneSetTransformTrackOrientationCurve(b, curve);
            OrvaneFreeCurve(curve);
            return;
        }
    }
    auto set = component == 0   ? OrvaneSetTransformTrackPosition
               : component == 1 ? OrvaneSetTransformTrackOrientation
                                : OrvaneSetTransformTrackScaleShear;
    set(b, degree, 0, count, knots.data(), controls.data(), type);
}

inline orvane_track_group* BuildGroup(const Workload& w, const Clip& clip, const char* name,
                                      int kind) {
    const bool quantised = kind == 1, compact = kind == 2;
    orvane_track_group_builder* b =
        OrvaneBeginTrackGroup(name, 0, int32_t(w.joints.size()), 0, false);
    std::vector<float> knots, controls, scales;
    for (size_t j = 0; j < w.joints.size(); ++j) {
        const auto& track = clip.tracks[j];
        OrvaneBeginTransformTrack(b, w.joints[j].name.c_str());
        Flatten(track.translations, &knots, &controls);
        SetReduced(b, 0, 3, knots, controls,
                   quantised ? OrvaneCurveDataD3K16uC16uType : OrvaneCurveDataDaK32fC32fType,
                   OrvaneCurveIdentityPosition, compact);
        Flatten(track.rotations, &knots, &controls);
        OrvaneEnsureQuaternionContinuity(int32_t(knots.size()), controls.data());
        SetReduced(b, 1, 4, knots, controls,
                   quantised ? OrvaneCurveDataD4nK16uC15uType : OrvaneCurveDataDaK32fC32fType,
                   OrvaneCurveIdentityOrientation, compact);
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
    orvane_track_group* groups[kCurveKinds][2] = {};  // [kind][walk, jog]
    orvane_animation animations[kCurveKinds][2] = {};
    std::vector<int32_t> trackOfBone[kCurveKinds][2];

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
        for (int q = 0; q < kCurveKinds; ++q) {
            for (int c = 0; c < 2; ++c) {
                const Clip& clip = w->clips[size_t(c)];
                groups[q][c] = BuildGroup(*w, clip, "arnaud", q);
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

inline const Character& Get() {
    static const Character c;
    return c;
}

inline bool Ready(benchmark::State& state) {
    if (Get().skeleton) return true;
    state.SkipWithError(Get().error.c_str());
    return false;
}

// ---- The plain baselines' parts: the curves sampled, blended and composed without controls,
// bindings or poses ----

inline orvane_track_sample_context ContextAt(float t, float duration) {
    orvane_track_sample_context c{};
    c.SampleTime = std::fmod(t, duration);
    c.SampleDuration = duration;
    c.LoopBefore = c.LoopAfter = true;
    return c;
}

// Clip k of curve kind q sampled for the bone (its rest transform when no track drives it).
inline void SampleBone(const Character& c, int q, int k, int32_t bone,
                       const orvane_track_sample_context& x, int32_t* hints,
                       orvane_transform* out) {
    const int32_t track = c.trackOfBone[q][k][size_t(bone)];
    if (track < 0) {
        *out = c.skeleton->Bones[bone].Transform;
        return;
    }
    out->Flags = 0;
    OrvaneSampleTrackUUULocalHinted(&x, &c.groups[q][k]->TransformTracks[track], hints, out);
}

// wa a + wb b: positions and scale/shear lerped, orientations sign-corrected and normalised.
inline orvane_transform BlendPlain(const orvane_transform& a, float wa, const orvane_transform& b,
                                   float wb) {
    orvane_transform t;
    t.Flags = a.Flags | b.Flags;
    for (int k = 0; k < 3; ++k)
        t.Position[k] = wa * a.Position[k] + wb * b.Position[k];
    const float dot = a.Orientation[0] * b.Orientation[0] + a.Orientation[1] * b.Orientation[1] +
                      a.Orientation[2] * b.Orientation[2] + a.Orientation[3] * b.Orientation[3];
    const float signedWb = dot < 0.0f ? -wb : wb;
    float l = 0.0f;
    for (int k = 0; k < 4; ++k) {
        t.Orientation[k] = wa * a.Orientation[k] + signedWb * b.Orientation[k];
        l += t.Orientation[k] * t.Orientation[k];
    }
    const float r = 1.0f / std::sqrt(l);
    for (float& v : t.Orientation)
        v *= r;
    for (int k = 0; k < 3; ++k)
        for (int m = 0; m < 3; ++m)
            t.ScaleShear[k][m] = wa * a.ScaleShear[k][m] + wb * b.ScaleShear[k][m];
    return t;
}

// Per-call times in the manner of the peer's frame harness: each timed call between its own pair
// of steady-clock reads, after kWarmUpFrames calls of warm-up; the figures are the median, mean,
// 10th and 90th percentiles of kTimedFrames calls. Beside a benchmark's mean per iteration,
// these show a workload whose calls cost two different amounts (a frame that moves key windows
// and one that does not) as the peer's figures show it.
constexpr int kWarmUpFrames = 500;
constexpr int kTimedFrames = 10000;

using StageClock = std::chrono::steady_clock;

inline double Nanoseconds(StageClock::time_point a, StageClock::time_point b) {
    return double(std::chrono::duration_cast<std::chrono::nanoseconds>(b - a).count());
}

struct CallTimes {
    std::vector<double> ns;
    CallTimes() { ns.reserve(kTimedFrames); }
    void Add(double t) { ns.push_back(t); }
    // Counters <name>_median, <name>_mean, <name>_p10 and <name>_p90, in nanoseconds.
    void Report(benchmark::State& state, const std::string& name) {
        if (ns.empty()) return;
        double sum = 0.0;
        for (double t : ns)
            sum += t;
        std::vector<double> v = ns;
        std::sort(v.begin(), v.end());
        const size_t n = v.size();
        state.counters[name + "_median"] = n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
        state.counters[name + "_mean"] = sum / double(n);
        state.counters[name + "_p10"] = v[n / 10];
        state.counters[name + "_p90"] = v[n * 9 / 10];
    }
};

// The median of an empty pair of clock reads: what every timed call's figure includes.
inline double ClockPairNanoseconds() {
    CallTimes empty;
    for (int i = 0; i < kTimedFrames; ++i) {
        const StageClock::time_point a = StageClock::now();
        const StageClock::time_point b = StageClock::now();
        empty.Add(Nanoseconds(a, b));
    }
    std::sort(empty.ns.begin(), empty.ns.end());
    return empty.ns[empty.ns.size() / 2];
}

}  // namespace orvane_character_bench

#endif  // ORVANE_CHARACTER_BENCH_H

// Track sampling on the character workload (data/pab_walk_jog_arnaud4.json): the walk
// (1.333 s) and the jog (0.8 s), 67 joints, keys at 30 Hz, built into track groups with the
// track group builder three times: degree-1 curves in DaK32fC32f, in the quantised formats
// (D3K16uC16u positions, D4nK16uC15u orientations, D9I3K16uC16u scales), and in the compact
// format (fitted within 1e-3 cm and 2e-5 of a unit quaternion). Curves whose keys are
// the identity or a constant within 1e-5 are reduced to identity or one-knot curves, as a
// compressor would.
//
// Per pose (one iteration), all 67 tracks are sampled at successive playback times (a frame at
// 60 Hz of the walk's phase, looping: the walk steps 1/60 s, the jog 0.8/1.333 of that, as the
// character's frame plays them side by side) or at random times:
// - Local: 67 transforms through a track group playback (OrvaneSampleTrackGroupPlayback, its own
//   results: "PlaybackCached" and "Random"), and into 67 transforms one track at a time through
//   OrvaneSampleTrackUUULocal with a per-instance knot hint per curve ("PlaybackHinted"), with the
//   per-track cache of hints and decoded windows ("PlaybackTrackCached"), with neither ("Playback",
//   and "RandomTrack" at random times).
// - PerCall: the track group playback timed call by call, 500 calls of warm-up, then 10,000,
//   each between its own pair of clock reads as the peer's frame harness times its sampling
//   ("PlaybackPerCall" at playback times, "RandomPerCall" at random times): counters
//   call_median, call_mean, call_p10, call_p90 and clock_pair_ns (an empty pair).
// - World: each track's sampler from OrvaneGetTrackSamplerFor writing world and composite
//   matrices, parents first.
// - Baseline: linear interpolation of the raw keys (binary search, lerp, normalised lerp) into
//   67 transforms, with the previous key index kept per joint for playback.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "orvane/track_group.h"
#include "orvane/track_group_playback.h"
#include "orvane/track_sampler.h"
#include "orvane/core.h"
#include "orvane_character_bench.h"
#include "orvane_pab_workload.h"

namespace {

using orvane_workload::Clip;
using orvane_workload::Workload;

constexpr int kRandomTimes = 4096;

struct BuiltClip {
    const Clip* clip = nullptr;
    orvane_track_group* group = nullptr;
    std::vector<int32_t> trackOfJoint;  // index into the group's sorted tracks
    std::vector<int32_t> parents;
};

BuiltClip Build(const Workload& w, const Clip& clip, int kind) {
    BuiltClip out;
    out.clip = &clip;
    out.group = orvane_character_bench::BuildGroup(w, clip, clip.name.c_str(), kind);
    for (size_t j = 0; j < w.joints.size(); ++j) {
        int32_t index = -1;
        OrvaneFindTrackByName(out.group, w.joints[j].name.c_str(), &index);
        out.trackOfJoint.push_back(index);
        out.parents.push_back(w.joints[j].parent);
    }
    return out;
}

struct Clips {
    bool ok = false;
    BuiltClip walk[3], jog[3];  // float, quantised, compact
};

const Clips& SharedClips() {
    static const Clips clips = [] {
        Clips c;
        std::string error;
        const Workload* w = orvane_workload::SharedPabWorkload(&error);
        if (w == nullptr || w->clips.size() < 2) {
            std::fprintf(stderr, "workload: %s\n", error.c_str());
            return c;
        }
        c.ok = true;
        for (int q = 0; q < 3; ++q) {
            c.walk[q] = Build(*w, w->clips[0], q);
            c.jog[q] = Build(*w, w->clips[1], q);
            c.ok = c.ok && c.walk[q].group && c.jog[q].group;
        }
        return c;
    }();
    return clips;
}

const BuiltClip* Pick(benchmark::State& state, int clip, int quantised) {
    const Clips& c = SharedClips();
    if (!c.ok) {
        state.SkipWithError("the character workload could not be read");
        return nullptr;
    }
    return clip == 0 ? &c.walk[quantised] : &c.jog[quantised];
}

std::vector<float> RandomTimes(float duration) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(0.0f, duration);
    std::vector<float> t(kRandomTimes);
    for (float& v : t)
        v = u(rng);
    return t;
}

// Successive playback times at the walk's phase, a frame at 60 Hz apart, wrapping at the
// clip's end.
struct Playback {
    float t = 0.0f;
    float duration;
    float step;
    explicit Playback(float d)
        : duration(d), step(1.0f / 60.0f * d / SharedClips().walk[0].clip->duration) {}
    float Next() {
        t += step;
        if (t >= duration) t -= duration;
        return t;
    }
};

orvane_track_sample_context ContextAt(float t, float duration) {
    orvane_track_sample_context ctx{};
    ctx.SampleTime = t;
    ctx.SampleDuration = duration;
    ctx.LoopBefore = true;
    ctx.LoopAfter = true;
    return ctx;
}

void Local(benchmark::State& state, int clip, int quantised, int mode) {
    const BuiltClip* c = Pick(state, clip, quantised);
    if (!c) return;
    const orvane_track_group* g = c->group;
    const float duration = c->clip->duration;
    std::vector<orvane_transform> pose(size_t(g->TransformTrackCount));
    std::vector<int32_t> hints(size_t(g->TransformTrackCount) * 3, 0);
    std::vector<orvane_track_sample_cache> caches(size_t(g->TransformTrackCount),
                                                  orvane_track_sample_cache{});
    orvane_track_group_playback* group = mode >= 4 ? OrvaneNewTrackGroupPlayback(g) : nullptr;
    if (mode >= 4 && group == nullptr) {
        state.SkipWithError("the clip's playback could not be made");
        return;
    }
    const bool random = mode == 2 || mode == 5;
    const std::vector<float> times = RandomTimes(duration);
    Playback playback(duration);
    size_t i = 0;
    for (auto _ : state) {
        const float t = random ? times[i++ & (kRandomTimes - 1)] : playback.Next();
        const orvane_track_sample_context ctx = ContextAt(t, duration);
        if (group != nullptr) {
            // The playback's own results: the pose, without a copy.
            benchmark::DoNotOptimize(OrvaneSampleTrackGroupPlayback(group, &ctx, nullptr));
            benchmark::ClobberMemory();
            continue;
        }
        for (int32_t k = 0; k < g->TransformTrackCount; ++k) {
            orvane_transform& out = pose[size_t(k)];
            out.Flags = 0;
            if (mode == 3)
                OrvaneSampleTrackUUULocalCached(&ctx, &g->TransformTracks[k], &caches[size_t(k)],
                                                &out);
            else if (mode == 0)
                OrvaneSampleTrackUUULocalHinted(&ctx, &g->TransformTracks[k], &hints[size_t(k) * 3],
                                                &out);
            else
                OrvaneSampleTrackUUULocal(&ctx, &g->TransformTracks[k], nullptr, &out);
        }
        benchmark::DoNotOptimize(pose.data());
        benchmark::ClobberMemory();
    }
    OrvaneFreeTrackGroupPlayback(group);
}

void LocalPerCall(benchmark::State& state, int clip, int quantised, int random) {
    const BuiltClip* c = Pick(state, clip, quantised);
    if (!c) return;
    const float duration = c->clip->duration;
    orvane_track_group_playback* group = OrvaneNewTrackGroupPlayback(c->group);
    if (group == nullptr) {
        state.SkipWithError("the clip's playback could not be made");
        return;
    }
    using namespace orvane_character_bench;
    const std::vector<float> times = RandomTimes(duration);
    Playback playback(duration);
    CallTimes calls;
    for (auto _ : state) {
        for (int i = 0; i < kWarmUpFrames + kTimedFrames; ++i) {
            const float t = random ? times[size_t(i) & (kRandomTimes - 1)] : playback.Next();
            const orvane_track_sample_context ctx = ContextAt(t, duration);
            const StageClock::time_point t0 = StageClock::now();
            benchmark::DoNotOptimize(OrvaneSampleTrackGroupPlayback(group, &ctx, nullptr));
            const StageClock::time_point t1 = StageClock::now();
            benchmark::ClobberMemory();
            if (i >= kWarmUpFrames) calls.Add(Nanoseconds(t0, t1));
        }
    }
    calls.Report(state, "call");
    state.counters["clock_pair_ns"] = ClockPairNanoseconds();
    OrvaneFreeTrackGroupPlayback(group);
}

void World(benchmark::State& state, int clip, int quantised, int random) {
    const BuiltClip* c = Pick(state, clip, quantised);
    if (!c) return;
    const orvane_track_group* g = c->group;
    const size_t n = c->trackOfJoint.size();
    std::vector<orvane_track_sampler> samplers(n);
    for (size_t j = 0; j < n; ++j)
        samplers[j] = OrvaneGetTrackSamplerFor(&g->TransformTracks[c->trackOfJoint[j]]);
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    std::vector<float> worlds(n * 16), composites(n * 16);
    const float duration = c->clip->duration;
    const std::vector<float> times = RandomTimes(duration);
    Playback playback(duration);
    size_t i = 0;
    for (auto _ : state) {
        const float t = random ? times[i++ & (kRandomTimes - 1)] : playback.Next();
        const orvane_track_sample_context ctx = ContextAt(t, duration);
        for (size_t j = 0; j < n; ++j) {
            const int32_t parent = c->parents[j];
            const float* parentMatrix = parent < 0 ? identity : &worlds[size_t(parent) * 16];
            samplers[j](&ctx, &g->TransformTracks[c->trackOfJoint[j]], nullptr, nullptr, identity,
                        parentMatrix, &worlds[j * 16], &composites[j * 16]);
        }
        benchmark::DoNotOptimize(worlds.data());
        benchmark::DoNotOptimize(composites.data());
        benchmark::ClobberMemory();
    }
}

// The baseline: the raw keys, interpolated linearly.
template <int N>
int32_t KeyBefore(const std::vector<orvane_workload::Key<N>>& keys, float t, int32_t* cache) {
    const int32_t n = int32_t(keys.size());
    int32_t k = cache ? *cache : 0;
    if (!(k >= 0 && k + 1 < n && keys[size_t(k)].time <= t && t < keys[size_t(k) + 1].time)) {
        if (cache && k + 2 < n && keys[size_t(k) + 1].time <= t && t < keys[size_t(k) + 2].time) {
            ++k;
        } else {
            int32_t low = 0, high = n - 1;
            while (high - low > 1) {
                const int32_t mid = (low + high) / 2;
                if (keys[size_t(mid)].time <= t)
                    low = mid;
                else
                    high = mid;
            }
            k = low;
        }
    }
    if (cache) *cache = k;
    return k;
}

template <int N>
void Lerp(const std::vector<orvane_workload::Key<N>>& keys, float t, int32_t* cache, float* out) {
    if (keys.size() == 1) {
        for (int c = 0; c < N; ++c)
            out[c] = keys[0].value[c];
        return;
    }
    const int32_t k = KeyBefore(keys, t, cache);
    const auto& a = keys[size_t(k)];
    const auto& b = keys[size_t(k) + 1];
    float u = (t - a.time) / (b.time - a.time);
    u = u < 0.0f ? 0.0f : (u > 1.0f ? 1.0f : u);
    for (int c = 0; c < N; ++c)
        out[c] = a.value[c] + u * (b.value[c] - a.value[c]);
}

void Baseline(benchmark::State& state, int clip, int random) {
    const BuiltClip* c = Pick(state, clip, 0);
    if (!c) return;
    const Clip& raw = *c->clip;
    const size_t n = raw.tracks.size();
    std::vector<orvane_transform> pose(n);
    std::vector<int32_t> cache(n * 3, 0);
    const std::vector<float> times = RandomTimes(raw.duration);
    Playback playback(raw.duration);
    size_t i = 0;
    for (auto _ : state) {
        const float t = random ? times[i++ & (kRandomTimes - 1)] : playback.Next();
        for (size_t j = 0; j < n; ++j) {
            orvane_transform& out = pose[j];
            const auto& track = raw.tracks[j];
            int32_t* jc = random ? nullptr : &cache[j * 3];
            Lerp(track.translations, t, jc, out.Position);
            Lerp(track.rotations, t, jc ? jc + 1 : nullptr, out.Orientation);
            const float l = 1.0f / std::sqrt(out.Orientation[0] * out.Orientation[0] +
                                             out.Orientation[1] * out.Orientation[1] +
                                             out.Orientation[2] * out.Orientation[2] +
                                             out.Orientation[3] * out.Orientation[3]);
            for (float& q : out.Orientation)
                q *= l;
            float s[3];
            Lerp(track.scales, t, jc ? jc + 2 : nullptr, s);
            out.ScaleShear[0][0] = s[0];
            out.ScaleShear[1][1] = s[1];
            out.ScaleShear[2][2] = s[2];
            out.Flags = 7;
        }
        benchmark::DoNotOptimize(pose.data());
        benchmark::ClobberMemory();
    }
}

void RegisterAll() {
    const char* clips[2] = {"Walk", "Jog"};
    const char* formats[3] = {"Float", "Quantised", "Compact"};
    for (int clip = 0; clip < 2; ++clip) {
        const std::string c = clips[clip];
        benchmark::RegisterBenchmark(("BM_" + c + "Baseline/Playback").c_str(), Baseline, clip, 0);
        benchmark::RegisterBenchmark(("BM_" + c + "Baseline/Random").c_str(), Baseline, clip, 1);
        for (int q = 0; q < 3; ++q) {
            const std::string f = formats[q];
            benchmark::RegisterBenchmark(("BM_" + c + "Local" + f + "/PlaybackHinted").c_str(),
                                         Local, clip, q, 0);
            benchmark::RegisterBenchmark(("BM_" + c + "Local" + f + "/PlaybackCached").c_str(),
                                         Local, clip, q, 4);
            benchmark::RegisterBenchmark(("BM_" + c + "Local" + f + "/PlaybackTrackCached").c_str(),
                                         Local, clip, q, 3);
            benchmark::RegisterBenchmark(("BM_" + c + "Local" + f + "/Playback").c_str(), Local,
                                         clip, q, 1);
            benchmark::RegisterBenchmark(("BM_" + c + "Local" + f + "/Random").c_str(), Local, clip,
                                         q, 5);
            benchmark::RegisterBenchmark(("BM_" + c + "Local" + f + "/RandomTrack").c_str(), Local,
                                         clip, q, 2);
            benchmark::RegisterBenchmark(("BM_" + c + "Local" + f + "/PlaybackPerCall").c_str(),
                                         LocalPerCall, clip, q, 0)
                ->Iterations(1);
            benchmark::RegisterBenchmark(("BM_" + c + "Local" + f + "/RandomPerCall").c_str(),
                                         LocalPerCall, clip, q, 1)
                ->Iterations(1);
            benchmark::RegisterBenchmark(("BM_" + c + "World" + f + "/Playback").c_str(), World,
                                         clip, q, 0);
            benchmark::RegisterBenchmark(("BM_" + c + "World" + f + "/Random").c_str(), World, clip,
                                         q, 1);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    RegisterAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

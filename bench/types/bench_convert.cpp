// Tree conversion throughput: a root holding a few thousand pointer-holding objects, each with a
// small array and a number that becomes text, converted to a changed layout. Baseline: memcpy of
// as many bytes as the converted tree occupies, in the same run.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <benchmark/benchmark.h>

#include "orvane/core.h"
#include "orvane/types.h"
#include "orvane/convert.h"
#include "types/orvane_type_layout.h"

using orvane::EndRecord;
using orvane::MemberRecord;

namespace {

using Def = orvane_data_type_definition;

#pragma pack(push, 4)
struct KeyV1 {
    int32_t Time;
    float Value[3];
};
struct TrackV1 {
    char* Name;
    int32_t Index;
    float Weight;
    int32_t KeyCount;
    KeyV1* Keys;
};
struct RootV1 {
    int32_t TrackCount;
    TrackV1** Tracks;
};
#pragma pack(pop)

struct Scene {
    Def keyV1[3] = {MemberRecord(OrvaneInt32Member, "Time"),
                    MemberRecord(OrvaneReal32Member, "Value", nullptr, 3), EndRecord()};
    Def keyV2[3] = {MemberRecord(OrvaneReal32Member, "Value", nullptr, 4),
                    MemberRecord(OrvaneReal32Member, "Time"), EndRecord()};
    Def trackV1[5] = {MemberRecord(OrvaneStringMember, "Name"),
                      MemberRecord(OrvaneInt32Member, "Index"),
                      MemberRecord(OrvaneReal32Member, "Weight"),
                      MemberRecord(OrvaneReferenceToArrayMember, "Keys", keyV1), EndRecord()};
    Def trackV2[6] = {MemberRecord(OrvaneStringMember, "Name"),
                      MemberRecord(OrvaneStringMember, "Index"),
                      MemberRecord(OrvaneNormalUInt16Member, "Weight"),
                      MemberRecord(OrvaneReferenceToArrayMember, "Keys", keyV2),
                      MemberRecord(OrvaneTransformMember, "Rest"),
                      EndRecord()};
    Def rootV1[2] = {MemberRecord(OrvaneArrayOfReferencesMember, "Tracks", trackV1), EndRecord()};
    Def rootV2[2] = {MemberRecord(OrvaneArrayOfReferencesMember, "Tracks", trackV2), EndRecord()};

    std::vector<KeyV1> keys;
    std::vector<TrackV1> tracks;
    std::vector<TrackV1*> pointers;
    RootV1 root{};
    static constexpr int kTracks = 4000;
    static constexpr int kKeysPerTrack = 4;
    // Objects converted: the root, the tracks and their keys.
    static constexpr int kObjects = 1 + kTracks * (1 + kKeysPerTrack);

    Scene() {
        keys.resize(size_t(kTracks) * kKeysPerTrack);
        tracks.resize(kTracks);
        pointers.resize(kTracks);
        for (int i = 0; i < kTracks; ++i) {
            for (int k = 0; k < kKeysPerTrack; ++k)
                keys[size_t(i) * kKeysPerTrack + k] = {k, {float(i), float(k), 1.0f}};
            tracks[size_t(i)] = {const_cast<char*>("track"), i, 0.5f, kKeysPerTrack,
                                 &keys[size_t(i) * kKeysPerTrack]};
            pointers[size_t(i)] = &tracks[size_t(i)];
        }
        root = {kTracks, pointers.data()};
    }
};

Scene& TheScene() {
    static Scene scene;
    return scene;
}

void BM_ConvertTree(benchmark::State& state) {
    Scene& s = TheScene();
    for (auto _ : state) {
        void* tree = OrvaneConvertTree(s.rootV1, &s.root, s.rootV2);
        benchmark::DoNotOptimize(tree);
        OrvaneFreeBuilderResult(tree);
    }
    state.SetItemsProcessed(state.iterations() * Scene::kObjects);
    state.SetBytesProcessed(state.iterations() *
                            OrvaneGetConvertedTreeSize(s.rootV1, &s.root, s.rootV2));
}
BENCHMARK(BM_ConvertTree)->Unit(benchmark::kMicrosecond);

void BM_GetConvertedTreeSize(benchmark::State& state) {
    Scene& s = TheScene();
    for (auto _ : state)
        benchmark::DoNotOptimize(OrvaneGetConvertedTreeSize(s.rootV1, &s.root, s.rootV2));
    state.SetItemsProcessed(state.iterations() * Scene::kObjects);
}
BENCHMARK(BM_GetConvertedTreeSize)->Unit(benchmark::kMicrosecond);

// Baseline: copying as many bytes as the converted tree occupies into a fresh block.
void BM_MemcpyBaseline(benchmark::State& state) {
    Scene& s = TheScene();
    const int32_t size = OrvaneGetConvertedTreeSize(s.rootV1, &s.root, s.rootV2);
    std::vector<unsigned char> source(size_t(size), 0x5A);
    for (auto _ : state) {
        void* destination = std::malloc(source.size());
        std::memcpy(destination, source.data(), source.size());
        benchmark::DoNotOptimize(destination);
        std::free(destination);
    }
    state.SetItemsProcessed(state.iterations() * Scene::kObjects);
    state.SetBytesProcessed(state.iterations() * size);
}
BENCHMARK(BM_MemcpyBaseline)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();

// Loading a content file of about 70 MB from memory: large vertex and index arrays and some
// 15,000 small pointer-holding objects (bones, transform tracks, curves). Compared with a plain
// memcpy of the same bytes in the same run; the widening pass (building the native tree) is
// also timed alone, in objects per second, and so are the checks that the content passes once
// before it is played (those of instantiating its models and binding its animations), to be
// read as a fraction of the load.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <benchmark/benchmark.h>

#include "track/orvane_content_checks.h"
#include "content_workload.h"
#include "file/orvane_native_tree.h"
#include "orvane/file.h"
#include "orvane/types.h"

namespace {

using orvane_bench::kPointerObjects;

// The content's file image, with the vertices and indices in sections of their own.
struct BigFile {
    const std::vector<uint8_t>& bytes = orvane_bench::BigFileBytes();
};

const BigFile& File() {
    static BigFile file;
    return file;
}

void BM_MemcpyBaseline(benchmark::State& state) {
    const std::vector<uint8_t>& bytes = File().bytes;
    std::vector<uint8_t> copy(bytes.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), bytes.data(), bytes.size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}
BENCHMARK(BM_MemcpyBaseline)->Unit(benchmark::kMillisecond);

// The same copy into memory that is fresh each time, as a loaded section's is: the page faults
// of a new 50 MB block are part of any load.
void BM_MemcpyIntoFreshMemoryBaseline(benchmark::State& state) {
    const std::vector<uint8_t>& bytes = File().bytes;
    for (auto _ : state) {
        void* copy = std::malloc(bytes.size());
        std::memcpy(copy, bytes.data(), bytes.size());
        benchmark::DoNotOptimize(copy);
        benchmark::ClobberMemory();
        std::free(copy);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}
BENCHMARK(BM_MemcpyIntoFreshMemoryBaseline)->Unit(benchmark::kMillisecond);

void BM_ReadEntireFileFromMemoryAndGetFileInfo(benchmark::State& state) {
    const std::vector<uint8_t>& bytes = File().bytes;
    for (auto _ : state) {
        orvane_file* file = OrvaneReadEntireFileFromMemory(int32_t(bytes.size()), bytes.data());
        orvane_file_info* info = OrvaneGetFileInfo(file);
        if (info == nullptr || info->SkeletonCount != 1) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(info);
        OrvaneFreeFile(file);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}
BENCHMARK(BM_ReadEntireFileFromMemoryAndGetFileInfo)->Unit(benchmark::kMillisecond);

// The same load with every section read into memory the caller keeps (and has touched before):
// what the loader itself costs beside the page faults of new memory.
void BM_LoadIntoCallerMemoryAndGetFileInfo(benchmark::State& state) {
    const std::vector<uint8_t>& bytes = File().bytes;
    std::vector<std::vector<uint64_t>> memory;
    for (auto _ : state) {
        orvane_file_reader* reader = OrvaneCreateMemoryFileReader(
            __FILE__, __LINE__, 0, int32_t(bytes.size()), bytes.data());
        orvane_file* file = OrvaneReadPartialFileFromReader(reader);
        const orvane_ovn_section* table = OrvaneGetOVNSectionArray(file->Header);
        memory.resize(size_t(file->SectionCount));
        for (int32_t i = 0; i < file->SectionCount; ++i) {
            memory[size_t(i)].resize(table[i].ExpandedSize / 8 + 1);
            OrvaneReadFileSectionInPlace(reader, file, i, memory[size_t(i)].data());
        }
        for (int32_t i = 0; i < file->SectionCount; ++i)
            OrvaneFixupFileSectionPhase1(reader, file, i);
        for (int32_t i = 0; i < file->SectionCount; ++i)
            OrvaneFixupFileSectionPhase2(reader, file, i);
        reader->CloseFileReaderCallback(__FILE__, __LINE__, reader);
        orvane_file_info* info = OrvaneGetFileInfo(file);
        if (info == nullptr || info->SkeletonCount != 1) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(info);
        OrvaneFreeFile(file);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}
BENCHMARK(BM_LoadIntoCallerMemoryAndGetFileInfo)->Unit(benchmark::kMillisecond);

// The native tree built from scratch on a loaded file, each time.
void BM_WideningPass(benchmark::State& state) {
    const std::vector<uint8_t>& bytes = File().bytes;
    orvane_file* file = OrvaneReadEntireFileFromMemory(int32_t(bytes.size()), bytes.data());
    for (auto _ : state) {
        orvane::FreeNativeTree(file);
        orvane_variant root;
        if (!orvane::UpdateNativeTree(file, &root)) state.SkipWithError("widening failed");
        benchmark::DoNotOptimize(root.Object);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kPointerObjects);
    OrvaneFreeFile(file);
}
BENCHMARK(BM_WideningPass)->Unit(benchmark::kMillisecond);

// The checks of every model (with its skeleton) and animation of a loaded file, as the calls
// that first bind them (instantiating a model, binding or playing an animation, binding a
// mesh to a skeleton) make them.
void BM_ContentChecks(benchmark::State& state) {
    const std::vector<uint8_t>& bytes = File().bytes;
    orvane_file* file = OrvaneReadEntireFileFromMemory(int32_t(bytes.size()), bytes.data());
    const orvane_file_info* info = OrvaneGetFileInfo(file);
    if (info == nullptr) state.SkipWithError("load failed");
    int64_t checked = 0;
    for (auto _ : state) {
        if (info == nullptr) break;
        bool sound = true;
        for (int32_t m = 0; m < info->ModelCount; ++m)
            sound = orvane::ModelIsSound(info->Models[m], OrvaneAnimationOrigin) && sound;
        for (int32_t a = 0; a < info->AnimationCount; ++a)
            sound = orvane::AnimationIsSound(info->Animations[a], OrvaneAnimationOrigin) && sound;
        if (!sound) state.SkipWithError("the content was refused");
        benchmark::DoNotOptimize(sound);
        checked += info->ModelCount + info->AnimationCount;
    }
    state.SetItemsProcessed(checked);
    OrvaneFreeFile(file);
}
BENCHMARK(BM_ContentChecks)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

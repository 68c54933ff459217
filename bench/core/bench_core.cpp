// Core services: allocation, the formatter, CRC-32 and timing blocks, each beside a baseline
// measured in the same run (malloc/free, snprintf, zlib's crc32, two raw time-stamp reads).
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>
#include <zlib.h>

#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "diag/orvane_timing.h"
#include "platform/orvane_platform.h"
#include "orvane/file.h"

namespace {

// Allocation: a mix of small sizes, each block freed right away (the common pattern of builders
// and scratch buffers).
void BM_TrackedAllocateFree(benchmark::State& state) {
    size_t size = 16;
    for (auto _ : state) {
        void* p = ORVANE_ALLOCATE(16, size);
        benchmark::DoNotOptimize(p);
        ORVANE_DEALLOCATE(p);
        size = (size * 7 + 13) & 1023;
    }
}
BENCHMARK(BM_TrackedAllocateFree);

void BM_MallocFree(benchmark::State& state) {
    size_t size = 16;
    for (auto _ : state) {
        void* p = std::malloc(size);
        benchmark::DoNotOptimize(p);
        std::free(p);
        size = (size * 7 + 13) & 1023;
    }
}
BENCHMARK(BM_MallocFree);

// Formatting a typical message: module and line prefix, a string and two integers.
void BM_FormatText(benchmark::State& state) {
    char buffer[512];
    int i = 0;
    for (auto _ : state) {
        int32_t n = orvane::FormatText(sizeof buffer, buffer,
                                       "%s(%d): SectionIndex %d is out of range [0, %d) at 0x%x",
                                       "orvane_file.cpp", 1234, i, 8, 0xBEEF);
        benchmark::DoNotOptimize(n);
        ++i;
    }
}
BENCHMARK(BM_FormatText);

void BM_Snprintf(benchmark::State& state) {
    char buffer[512];
    int i = 0;
    for (auto _ : state) {
        int n = std::snprintf(buffer, sizeof buffer,
                              "%s(%d): SectionIndex %d is out of range [0, %d) at 0x%x",
                              "orvane_file.cpp", 1234, i, 8, 0xBEEF);
        benchmark::DoNotOptimize(n);
        ++i;
    }
}
BENCHMARK(BM_Snprintf);

void BM_FormatTextReal(benchmark::State& state) {
    char buffer[128];
    double v = 1234.5678;
    for (auto _ : state) {
        benchmark::DoNotOptimize(orvane::FormatText(sizeof buffer, buffer, "%f", v));
        v += 0.001;
    }
}
BENCHMARK(BM_FormatTextReal);

void BM_SnprintfReal(benchmark::State& state) {
    char buffer[128];
    double v = 1234.5678;
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::snprintf(buffer, sizeof buffer, "%f", v));
        v += 0.001;
    }
}
BENCHMARK(BM_SnprintfReal);

const std::vector<unsigned char>& Megabyte() {
    static std::vector<unsigned char> data = [] {
        std::vector<unsigned char> d(1 << 20);
        std::mt19937 random(42);
        for (auto& b : d)
            b = static_cast<unsigned char>(random());
        return d;
    }();
    return data;
}

void BM_OrvaneCrc32(benchmark::State& state) {
    const auto& data = Megabyte();
    for (auto _ : state) {
        uint32_t crc;
        OrvaneBeginCRC32(&crc);
        OrvaneAddToCRC32(&crc, static_cast<uint32_t>(data.size()), data.data());
        OrvaneEndCRC32(&crc);
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}
BENCHMARK(BM_OrvaneCrc32);

void BM_ZlibCrc32(benchmark::State& state) {
    const auto& data = Megabyte();
    for (auto _ : state) {
        benchmark::DoNotOptimize(crc32(0, data.data(), static_cast<uInt>(data.size())));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}
BENCHMARK(BM_ZlibCrc32);

void BM_TimingBlockEnterLeave(benchmark::State& state) {
    for (auto _ : state) {
        ORVANE_TIMING_BLOCK("BenchmarkBlock");
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_TimingBlockEnterLeave);

// The floor under any timing block: the two time-stamp reads it needs.
void BM_TwoTimeStampReads(benchmark::State& state) {
    for (auto _ : state) {
        uint64_t a = orvane::platform::ReadTimeStampCounter();
        benchmark::ClobberMemory();
        uint64_t b = orvane::platform::ReadTimeStampCounter();
        benchmark::DoNotOptimize(b - a);
    }
}
BENCHMARK(BM_TwoTimeStampReads);

}  // namespace

BENCHMARK_MAIN();

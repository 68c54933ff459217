// Writing a content file of about 50 MB (the loading benchmark's content: large vertex and
// index arrays and some 15,000 small pointer-holding objects) through the data tree writer and
// the file builder, with no compression and with each codec, beside writing the same number of
// bytes with plain fwrite in the same run. Throughput is in bytes of expanded section data.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include <benchmark/benchmark.h>

#include "content_workload.h"
#include "orvane/file.h"
#include "orvane/file_builder.h"
#include "orvane/data_tree_writer.h"
#include "orvane/types.h"

namespace {

std::string Temp(const char* name) {
    return std::string(OrvaneGetTemporaryDirectory()) + "orvane_bench_write_" +
           std::to_string(getpid()) + "_" + name;
}

orvane_example::ExampleContent& Content() {
    return orvane_bench::BigContent();
}

// Writes the content in three sections (main, vertices, indices); returns the expanded bytes.
int64_t WriteContent(const std::string& path, int32_t codec) {
    orvane_example::ExampleContent& c = Content();
    orvane_file_data_tree_writer* writer =
        OrvaneBeginFileDataTreeWriting(OrvaneFileInfoType, c.info(), 0, 0);
    OrvaneSetFileSectionForObject(writer, c.vertices.data(), 1);
    OrvaneSetFileSectionForObject(writer, c.indices.data(), 2);
    orvane_file_builder* builder =
        OrvaneBeginFile(3, 0x80000016u, OrvaneGetTemporaryDirectory(), "bench_write");
    for (int32_t s = 0; s < 3; ++s)
        OrvaneSetFileSectionFormat(builder, s, codec, 4);
    bool ok =
        OrvaneWriteDataTreeToFileBuilder(writer, builder) && OrvaneEndFile(builder, path.c_str());
    OrvaneEndFileDataTreeWriting(writer);
    if (!ok) return -1;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return -1;
    std::vector<uint8_t> head(88 + 3 * 44);
    size_t got = std::fread(head.data(), 1, head.size(), f);
    std::fclose(f);
    if (got != head.size()) return -1;
    int64_t expanded = 0;
    for (int s = 0; s < 3; ++s) {
        uint32_t size;
        std::memcpy(&size, head.data() + 88 + 44 * s + 12, 4);
        expanded += size;
    }
    return expanded;
}

int64_t ExpandedBytes() {
    static const int64_t bytes = [] {
        std::string path = Temp("size.ovn");
        int64_t n = WriteContent(path, 0);
        std::remove(path.c_str());
        return n;
    }();
    return bytes;
}

// The baseline: the same number of bytes, already laid out in memory, written with fwrite.
void BM_FwriteBaseline(benchmark::State& state) {
    const int64_t size = ExpandedBytes();
    std::vector<uint8_t> bytes(size_t(size > 0 ? size : 1), 0x5A);
    std::string path = Temp("fwrite.bin");
    for (auto _ : state) {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        benchmark::DoNotOptimize(std::fwrite(bytes.data(), 1, bytes.size(), f));
        std::fclose(f);
    }
    std::remove(path.c_str());
    state.SetBytesProcessed(int64_t(state.iterations()) * size);
}
BENCHMARK(BM_FwriteBaseline)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WriteContentFile(benchmark::State& state) {
    const int32_t codec = int32_t(state.range(0));
    std::string path = Temp("tree.ovn");
    int64_t bytes = 0;
    for (auto _ : state) {
        bytes = WriteContent(path, codec);
        if (bytes < 0) {
            state.SkipWithError("writing failed");
            break;
        }
    }
    if (bytes > 0) {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        std::fseek(f, 0, SEEK_END);
        state.counters["ratio"] = double(std::ftell(f)) / double(bytes);
        std::fclose(f);
    }
    std::remove(path.c_str());
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
    state.SetLabel(codec == 0 ? "none" : codec == 1 ? "pelma0" : "pelma1");
}
BENCHMARK(BM_WriteContentFile)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);

}  // namespace

BENCHMARK_MAIN();

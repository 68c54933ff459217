// File streams and format primitives, each beside a baseline in the same program:
//   - writing 4 MiB in 64 KiB chunks with the running CRC, against the same writes without it;
//   - zlib's crc32 over the same bytes, against the library's CRC-32;
//   - pointer fixups into the pointer table, against storing the same 32-bit values directly;
//   - marshalling objects of mixed widths through file-layout type records, against a
//     hand-written swap of the same layout.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include <benchmark/benchmark.h>
#include <zlib.h>

#include "core/orvane_string.h"
#include "orvane/file.h"
#include "orvane/file_compression.h"
#include "orvane/file_builder.h"
#include "orvane/types.h"

namespace {

constexpr int32_t kChunk = 64 * 1024;
constexpr int32_t kChunks = 64;

std::vector<uint8_t> RandomBytes(size_t n) {
    std::vector<uint8_t> bytes(n);
    std::mt19937 random(5);
    for (auto& b : bytes)
        b = uint8_t(random());
    return bytes;
}

void Write(benchmark::State& state, bool crc) {
    std::string path = std::string(OrvaneGetTemporaryDirectory()) + "orvane_bench_" +
                       std::to_string(getpid()) + ".bin";
    std::vector<uint8_t> chunk = RandomBytes(kChunk);
    for (auto _ : state) {
        orvane_file_writer* writer = OrvaneNewFileWriter(path.c_str(), true);
        if (crc) OrvaneBeginWriterCRC(writer);
        for (int i = 0; i < kChunks; ++i)
            OrvaneWrite(writer, kChunk, chunk.data());
        if (crc) benchmark::DoNotOptimize(OrvaneEndWriterCRC(writer));
        OrvaneDeleteFileWriter(writer);
    }
    std::remove(path.c_str());
    state.SetBytesProcessed(int64_t(state.iterations()) * kChunk * kChunks);
}

void BM_WriteBaseline(benchmark::State& state) {
    Write(state, false);
}
void BM_WriteWithCrc(benchmark::State& state) {
    Write(state, true);
}
BENCHMARK(BM_WriteBaseline);
BENCHMARK(BM_WriteWithCrc);

void BM_CrcBaselineZlib(benchmark::State& state) {
    std::vector<uint8_t> bytes = RandomBytes(kChunk);
    for (auto _ : state)
        benchmark::DoNotOptimize(crc32(0, bytes.data(), uInt(bytes.size())));
    state.SetBytesProcessed(int64_t(state.iterations()) * kChunk);
}
void BM_CrcLibrary(benchmark::State& state) {
    std::vector<uint8_t> bytes = RandomBytes(kChunk);
    for (auto _ : state)
        benchmark::DoNotOptimize(orvane::Crc32Update(~0u, bytes.data(), bytes.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * kChunk);
}
BENCHMARK(BM_CrcBaselineZlib);
BENCHMARK(BM_CrcLibrary);

// 100000 slots in a 1 MiB section pointing into a second section, in random order.
struct FixupSetup {
    static constexpr uint32_t kCount = 100000;
    FixupSetup() : data(1 << 20), target(1 << 20), table(2), pointers(kCount), fixups(kCount) {
        std::mt19937 random(3);
        for (uint32_t i = 0; i < kCount; ++i)
            fixups[i] = {uint32_t(random() % ((1u << 20) / 4)) * 4,
                         {1, uint32_t(random() % (1u << 20))}};
        table[0].ExpandedSize = table[1].ExpandedSize = 1 << 20;
        table[0].PointerFixupCount = kCount;
        bases[0] = data.data();
        bases[1] = target.data();
        sections = {2, table.data(), bases, kCount, pointers.data()};
    }
    std::vector<uint8_t> data, target;
    std::vector<orvane_ovn_section> table;
    std::vector<void*> pointers;
    std::vector<orvane_ovn_pointer_fixup> fixups;
    void* bases[2];
    orvane_file_sections sections;
};

void BM_FixupBaselineStore(benchmark::State& state) {
    FixupSetup s;
    for (auto _ : state) {
        for (uint32_t i = 0; i < FixupSetup::kCount; ++i) {
            uint32_t value = s.fixups[i].To.Offset;
            std::memcpy(s.data.data() + s.fixups[i].FromOffset, &value, 4);
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * FixupSetup::kCount);
}
void BM_FixupLibrary(benchmark::State& state) {
    FixupSetup s;
    for (auto _ : state) {
        OrvaneOVNFixUp(&s.sections, 0, FixupSetup::kCount, s.fixups.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * FixupSetup::kCount);
}
BENCHMARK(BM_FixupBaselineStore);
BENCHMARK(BM_FixupLibrary);

// 20000 objects {UInt16 a; UInt8 b[2]; Int32 c; Real32 d[3]} (20 bytes) behind their file
// records in section 0.
struct MarshallSetup {
    static constexpr uint32_t kObjects = 20000;
    static constexpr uint32_t kSize = 20;
    MarshallSetup() : types(160), objects(kObjects * kSize), table(2) {
        const int32_t kinds[5] = {OrvaneUInt16Member, OrvaneUInt8Member, OrvaneInt32Member,
                                  OrvaneReal32Member, OrvaneEndMember};
        const int32_t widths[5] = {0, 2, 0, 3, 0};
        for (int i = 0; i < 5; ++i) {
            std::memcpy(types.data() + 32 * i, &kinds[i], 4);
            std::memcpy(types.data() + 32 * i + 12, &widths[i], 4);
        }
        table[0].ExpandedSize = uint32_t(types.size());
        table[1].ExpandedSize = uint32_t(objects.size());
        bases[0] = types.data();
        bases[1] = objects.data();
        sections = {2, table.data(), bases, 0, nullptr};
        fixup = {kObjects, 0, {0, 0}};
    }
    std::vector<uint8_t> types, objects;
    std::vector<orvane_ovn_section> table;
    void* bases[2];
    orvane_file_sections sections;
    orvane_ovn_marshalling_fixup fixup;
};

void BM_MarshallBaselineHandWritten(benchmark::State& state) {
    MarshallSetup s;
    for (auto _ : state) {
        uint8_t* o = s.objects.data();
        for (uint32_t i = 0; i < MarshallSetup::kObjects; ++i, o += MarshallSetup::kSize) {
            uint16_t a;
            std::memcpy(&a, o, 2);
            a = __builtin_bswap16(a);
            std::memcpy(o, &a, 2);
            for (int w = 0; w < 4; ++w) {
                uint32_t v;
                std::memcpy(&v, o + 4 + 4 * w, 4);
                v = __builtin_bswap32(v);
                std::memcpy(o + 4 + 4 * w, &v, 4);
            }
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * MarshallSetup::kObjects);
}
void BM_MarshallLibrary(benchmark::State& state) {
    MarshallSetup s;
    for (auto _ : state) {
        OrvaneOVNMarshall(&s.sections, 1, 1, &s.fixup);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * MarshallSetup::kObjects);
}
BENCHMARK(BM_MarshallBaselineHandWritten);
BENCHMARK(BM_MarshallLibrary);

}  // namespace

BENCHMARK_MAIN();

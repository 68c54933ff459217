// Section compression against zlib, on three kinds of section data generated here:
// - vertices: a smooth mesh (a 160 x 160 grid on a bumpy torus), 32-byte vertices of position,
//   normal and texture coordinates as floats (819,200 bytes);
// - curves: 400 quantised curves, each 16-bit knots followed by 16-bit controls of three
//   channels sampled from smooth motion with a little noise (about 600 KB);
// - indices: the grid's triangle list as 16-bit and as 32-bit indices (about 300 KB and 600 KB);
// - content: the file benchmarks' content file of about 50 MB, written uncompressed by the
//   file builder and compressed here as one block.
// Every benchmark reports the compression ratio (original / compressed) as "ratio" and the
// original bytes per second, so that both codecs at each of their levels and zlib levels 1, 6
// and 9 compare in one run.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include <benchmark/benchmark.h>
#include <zlib.h>

#include "content_workload.h"
#include "file/offline/orvane_pelma_encode.h"
#include "orvane/file.h"

namespace {

using Bytes = std::vector<uint8_t>;

template <typename T>
void Append(Bytes* out, const T& value) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&value);
    out->insert(out->end(), p, p + sizeof(T));
}

constexpr int kGrid = 160;

Bytes VertexCorpus() {
    Bytes out;
    const float pi2 = 6.2831853f;
    for (int j = 0; j < kGrid; ++j) {
        for (int i = 0; i < kGrid; ++i) {
            float u = float(i) / (kGrid - 1), v = float(j) / (kGrid - 1);
            float a = u * pi2, b = v * pi2;
            float r = 0.35f + 0.03f * std::sin(5 * a) * std::cos(3 * b);
            float cx = std::cos(a), sx = std::sin(a), cy = std::cos(b), sy = std::sin(b);
            float px = (1 + r * cy) * cx, py = (1 + r * cy) * sx, pz = r * sy;
            float nx = cy * cx, ny = cy * sx, nz = sy;
            for (float f : {px, py, pz, nx, ny, nz, u, v})
                Append(&out, f);
        }
    }
    return out;
}

Bytes CurveCorpus() {
    Bytes out;
    std::mt19937 rng(11);
    std::normal_distribution<float> noise(0.0f, 1.5f);
    for (int curve = 0; curve < 400; ++curve) {
        int knots = 60 + int(rng() % 80);
        float phase = float(rng() % 1000) / 100.0f, speed = 0.05f + float(rng() % 100) / 1000.0f;
        for (int k = 0; k < knots; ++k)
            Append(&out, uint16_t(k * 2 + (k > 0 ? rng() % 2 : 0)));
        for (int k = 0; k < knots; ++k) {
            for (int c = 0; c < 3; ++c) {
                float x = std::sin(phase + float(c) + speed * float(k)) * 20000.0f + 32768.0f +
                          noise(rng);
                Append(&out, uint16_t(std::lround(x)));
            }
        }
    }
    return out;
}

template <typename Index>
Bytes IndexCorpus() {
    Bytes out;
    for (int j = 0; j + 1 < kGrid; ++j) {
        for (int i = 0; i + 1 < kGrid; ++i) {
            Index a = Index(j * kGrid + i), b = Index(a + 1), c = Index(a + kGrid),
                  d = Index(c + 1);
            for (Index x : {a, b, c, b, d, c})
                Append(&out, x);
        }
    }
    return out;
}

Bytes PelmaCompress(orvane::PelmaCodec codec, orvane::PelmaLevel level, const Bytes& data) {
    orvane::PelmaEncoder* encoder = orvane::NewPelmaEncoder(codec, int64_t(data.size()), 1, level);
    orvane::PelmaEncodeContent(encoder, data.data(), int64_t(data.size()));
    const uint8_t* stream = nullptr;
    int64_t size = orvane::PelmaFinish(encoder, &stream);
    Bytes out(stream, stream + size);
    orvane::FreePelmaEncoder(encoder);
    return out;
}

Bytes ZlibCompress(int level, const Bytes& data) {
    uLongf size = compressBound(uLong(data.size()));
    Bytes out(size);
    compress2(out.data(), &size, data.data(), uLong(data.size()), level);
    out.resize(size);
    return out;
}

// A codec and its level: Pelma levels 0 fast, 1 default, 2 best; zlib levels as zlib counts.
struct Codec {
    enum Family { Pelma0, Pelma1, Zlib } family;
    int level;
};

Bytes CompressWith(Codec codec, const Bytes& data) {
    if (codec.family == Codec::Zlib) return ZlibCompress(codec.level, data);
    return PelmaCompress(
        codec.family == Codec::Pelma0 ? orvane::PelmaCodec::Pelma0 : orvane::PelmaCodec::Pelma1,
        orvane::PelmaLevel(codec.level), data);
}

bool DecompressWith(Codec codec, const Bytes& stream, Bytes* out) {
    if (codec.family == Codec::Zlib) {
        uLongf size = uLongf(out->size());
        return uncompress(out->data(), &size, stream.data(), uLong(stream.size())) == Z_OK;
    }
    return OrvaneDecompressDataChunk(
        codec.family == Codec::Pelma0 ? OrvanePelma0Compression : OrvanePelma1Compression, false,
        int32_t(stream.size()), stream.data(), int32_t(out->size()), out->data());
}

void Compress(benchmark::State& state, Codec codec, const Bytes* data) {
    size_t compressed = 0;
    for (auto _ : state) {
        Bytes stream = CompressWith(codec, *data);
        compressed = stream.size();
        benchmark::DoNotOptimize(stream.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data->size()));
    state.counters["ratio"] = double(data->size()) / double(compressed);
}

void Decompress(benchmark::State& state, Codec codec, const Bytes* data) {
    Bytes stream = CompressWith(codec, *data);
    Bytes out(data->size());
    for (auto _ : state) {
        if (!DecompressWith(codec, stream, &out)) state.SkipWithError("decoding failed");
        benchmark::DoNotOptimize(out.data());
    }
    if (out != *data) state.SkipWithError("round trip differs");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data->size()));
    state.counters["ratio"] = double(data->size()) / double(stream.size());
}

// The bytes of the content file in its three sections (main, vertices, indices), as the file
// builder writes them without compression.
Bytes ContentCorpus() {
    return orvane_bench::BigFileBytes();
}

const Bytes& Corpus(int which) {
    static const Bytes corpora[] = {VertexCorpus(), CurveCorpus(), IndexCorpus<uint16_t>(),
                                    IndexCorpus<uint32_t>(), ContentCorpus()};
    return corpora[which];
}

int Register() {
    const char* corpusNames[] = {"vertices", "curves", "indices16", "indices32", "content"};
    struct Named {
        const char* name;
        Codec codec;
    };
    const Named codecs[] = {{"Pelma0-fast", {Codec::Pelma0, 0}},
                            {"Pelma0-default", {Codec::Pelma0, 1}},
                            {"Pelma0-best", {Codec::Pelma0, 2}},
                            {"Pelma1-fast", {Codec::Pelma1, 0}},
                            {"Pelma1-default", {Codec::Pelma1, 1}},
                            {"Pelma1-best", {Codec::Pelma1, 2}},
                            {"zlib1", {Codec::Zlib, 1}},
                            {"zlib6", {Codec::Zlib, 6}},
                            {"zlib9", {Codec::Zlib, 9}}};
    for (int c = 0; c < 5; ++c) {
        for (const Named& k : codecs) {
            std::string name = std::string(corpusNames[c]) + "/" + k.name;
            auto* compress = benchmark::RegisterBenchmark(("Compress/" + name).c_str(), Compress,
                                                          k.codec, &Corpus(c));
            auto* decompress = benchmark::RegisterBenchmark(("Decompress/" + name).c_str(),
                                                            Decompress, k.codec, &Corpus(c));
            for (auto* b : {compress, decompress}) {
                b->Unit(benchmark::kMillisecond);
                if (c == 4) b->Iterations(2);  // 50 MB: two passes are plenty
            }
        }
    }
    return 0;
}

const int registered = Register();

}  // namespace

BENCHMARK_MAIN();

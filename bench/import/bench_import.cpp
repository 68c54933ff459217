// Import of each shared asset: the whole import beside assimp's reading of the same file (the
// baseline, measured in the same run), with the shares spent reading, fitting and writing and
// the written size beside the source's.
#include <assimp/config.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <assimp/Importer.hpp>
#include <cstdlib>
#include <string>

#include "orvane/file.h"
#include "orvane/import.h"
#include "testing/data_path.h"

namespace {

struct Asset {
    const char* name;
    const char* file;
    const char* clips;
};

const Asset kAssets[] = {
    {"Fox", "gltf/Fox/Fox.glb", nullptr},
    {"CesiumMan", "gltf/CesiumMan/CesiumMan.glb", nullptr},
    {"Arnaud+walk", "fbx/pab/arnaud.fbx", "fbx/pab/walk.fbx"},
    {"Testwuson", "x/Testwuson/Testwuson.X", nullptr},
    {"ColladaWalk", "collada/pab_walk/walk.dae", nullptr},
    {"Bvh", "bvh/cmu/walk.bvh", nullptr},
};

std::string Path(const char* relative) {
    return orvane_data::Path(std::string("assets/") + relative);
}

double FileSize(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? double(st.st_size) : 0;
}

void ReadOnly(benchmark::State& state, const Asset* asset) {
    for (auto _ : state) {
        for (const char* f : {asset->file, asset->clips}) {
            if (!f) continue;
            Assimp::Importer importer;
            importer.SetPropertyBool(AI_CONFIG_IMPORT_FBX_PRESERVE_PIVOTS, false);
            const aiScene* scene = importer.ReadFile(
                Path(f), aiProcess_Triangulate | aiProcess_LimitBoneWeights |
                             aiProcess_JoinIdenticalVertices | aiProcess_GenSmoothNormals);
            benchmark::DoNotOptimize(scene);
        }
    }
}

void Import(benchmark::State& state, const Asset* asset, int codec) {
    const std::string in = Path(asset->file);
    const std::string clips = asset->clips ? Path(asset->clips) : "";
    const char* files[1] = {clips.c_str()};
    const std::string out = std::string(OrvaneGetTemporaryDirectory()) + "orvane_bench_import.ovn";
    orvane_import_options options;
    OrvaneGetDefaultImportOptions(&options);
    options.ToleranceCentimeters = 0.1f;
    options.Codec = codec;
    options.AnimationFileCount = asset->clips ? 1 : 0;
    options.AnimationFiles = files;
    orvane_import_summary summary = {};
    double read = 0, fit = 0, write = 0, total = 0;
    for (auto _ : state) {
        if (!OrvaneImportFile(in.c_str(), out.c_str(), &options, &summary)) {
            state.SkipWithError(summary.Error);
            return;
        }
        read += summary.ReadSeconds;
        fit += summary.FitSeconds;
        write += summary.WriteSeconds;
        total += summary.TotalSeconds;
    }
    state.counters["read%"] = 100 * read / total;
    state.counters["fit%"] = 100 * fit / total;
    state.counters["write%"] = 100 * write / total;
    state.counters["out_bytes"] = summary.OutputBytes;
    state.counters["src_bytes"] = FileSize(in) + (asset->clips ? FileSize(clips) : 0);
    state.counters["size_ratio"] = summary.OutputBytes / state.counters["src_bytes"];
    std::remove(out.c_str());
}

const int kRegistered = [] {
    for (const Asset& a : kAssets) {
        benchmark::RegisterBenchmark((std::string("AssimpRead/") + a.name).c_str(), ReadOnly, &a)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("Import/") + a.name).c_str(), Import, &a,
                                     int(OrvaneImportPelma1))
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("ImportUncompressed/") + a.name).c_str(), Import,
                                     &a, int(OrvaneImportNoCompression))
            ->Unit(benchmark::kMillisecond);
    }
    return 0;
}();

}  // namespace

BENCHMARK_MAIN();

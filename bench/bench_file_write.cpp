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

#include "orvane/file.h"
#include "orvane/types.h"

namespace {

orvane_data_type_definition Member(orvane_member_type kind, const char* name,
                                   orvane_data_type_definition* type = nullptr, int32_t width = 0) {
    return {kind, name, type, width, {0, 0, 0}, 0};
}

#pragma pack(push, 4)
struct Vertex {
    float Position[3];
    float Normal[3];
};
struct CurveData {
    int32_t Degree;
    int32_t KnotCount;
    float* Knots;
    int32_t ControlCount;
    float* Controls;
};
#pragma pack(pop)

orvane_data_type_definition g_vertexType[] = {Member(OrvaneReal32Member, "Position", nullptr, 3),
                                              Member(OrvaneReal32Member, "Normal", nullptr, 3),
                                              Member(OrvaneEndMember, nullptr)};
orvane_data_type_definition g_real32Type[] = {Member(OrvaneReal32Member, "Real32"),
                                              Member(OrvaneEndMember, nullptr)};
orvane_data_type_definition g_curveType[] = {
    Member(OrvaneInt32Member, "Degree"),
    Member(OrvaneReferenceToArrayMember, "Knots", g_real32Type),
    Member(OrvaneReferenceToArrayMember, "Controls", g_real32Type),
    Member(OrvaneEndMember, nullptr)};

constexpr int kVertexCount = 2000000;
constexpr int kIndexCount = 500000;
constexpr int kBoneCount = 5000;
constexpr int kTrackCount = 5000;

std::string Temp(const char* name) {
    return std::string(OrvaneGetTemporaryDirectory()) + "orvane_bench_write_" +
           std::to_string(getpid()) + "_" + name;
}

struct BigContent {
    BigContent() {
        vertices.resize(kVertexCount);
        for (int i = 0; i < kVertexCount; ++i)
            vertices[i] = {{float(i), 1.0f, 2.0f}, {0.0f, 0.0f, 1.0f}};
        indices.resize(kIndexCount);
        for (int i = 0; i < kIndexCount; ++i)
            indices[i] = i % kVertexCount;
        names.resize(kBoneCount);
        bones.resize(kBoneCount);
        for (int i = 0; i < kBoneCount; ++i) {
            names[i] = "bone" + std::to_string(i);
            std::memset(&bones[i], 0, sizeof(orvane_bone));
            bones[i].Name = names[i].data();
            bones[i].ParentIndex = i - 1;
            bones[i].Transform.Orientation[3] = 1.0f;
        }
        skeleton = {const_cast<char*>("Rig"), kBoneCount, bones.data()};
        skeletons[0] = &skeleton;
        knots.assign(8, 0.5f);
        curves.resize(kTrackCount);
        tracks.resize(kTrackCount);
        for (int i = 0; i < kTrackCount; ++i) {
            curves[i] = {3, 8, knots.data(), 8, knots.data()};
            std::memset(&tracks[i], 0, sizeof(orvane_transform_track));
            tracks[i].Name = names[i % kBoneCount].data();
            tracks[i].PositionCurve.CurveData = {g_curveType, &curves[i]};
        }
        std::memset(&group, 0, sizeof group);
        group.Name = const_cast<char*>("Walk");
        group.TransformTrackCount = kTrackCount;
        group.TransformTracks = tracks.data();
        groups[0] = &group;
        std::memset(&vertexData, 0, sizeof vertexData);
        vertexData.VertexType = g_vertexType;
        vertexData.VertexCount = kVertexCount;
        vertexData.Vertices = vertices.data();
        vertexDatas[0] = &vertexData;
        std::memset(&topology, 0, sizeof topology);
        topology.IndexCount = kIndexCount;
        topology.Indices = indices.data();
        topologies[0] = &topology;
        std::memset(&info, 0, sizeof info);
        info.SkeletonCount = 1;
        info.Skeletons = skeletons;
        info.VertexDataCount = 1;
        info.VertexDatas = vertexDatas;
        info.TriTopologyCount = 1;
        info.TriTopologies = topologies;
        info.TrackGroupCount = 1;
        info.TrackGroups = groups;
    }
    std::vector<Vertex> vertices;
    std::vector<int32_t> indices;
    std::vector<std::string> names;
    std::vector<orvane_bone> bones;
    orvane_skeleton skeleton;
    orvane_skeleton* skeletons[1];
    std::vector<float> knots;
    std::vector<CurveData> curves;
    std::vector<orvane_transform_track> tracks;
    orvane_track_group group;
    orvane_track_group* groups[1];
    orvane_vertex_data vertexData;
    orvane_vertex_data* vertexDatas[1];
    orvane_tri_topology topology;
    orvane_tri_topology* topologies[1];
    orvane_file_info info;
};

BigContent& Content() {
    static BigContent content;
    return content;
}

// Writes the content in three sections (main, vertices, indices); returns the expanded bytes.
int64_t WriteContent(const std::string& path, int32_t codec) {
    BigContent& c = Content();
    orvane_file_data_tree_writer* writer =
        OrvaneBeginFileDataTreeWriting(OrvaneFileInfoType, &c.info, 0, 0);
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

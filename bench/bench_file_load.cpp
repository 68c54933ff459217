// Loading a content file of about 50 MB from memory: large vertex and index arrays and some
// 15,000 small pointer-holding objects (bones, transform tracks, curves). Compared with a plain
// memcpy of the same bytes in the same run; the widening pass (building the native tree) is
// also timed alone, in objects per second.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <benchmark/benchmark.h>

#include "../tests/file/load_test_support.h"
#include "file/orvane_native_tree.h"
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
constexpr int kPointerObjects = kBoneCount + kTrackCount + kTrackCount;

struct BigFile {
    BigFile() {
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
        orvane_test::TreeFileOptions options;
        options.sectionOfObject = {{vertices.data(), 1}, {indices.data(), 2}};
        bytes = orvane_test::WriteTreeBytes(OrvaneFileInfoType, &info, options);
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
    std::vector<uint8_t> bytes;
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

}  // namespace

BENCHMARK_MAIN();

// The content of the file benchmarks: a file info of about 50 MB with large vertex and index
// arrays and some 15,000 small pointer-holding objects (bones, transform tracks, curves), built
// in memory once. The loading and writing benchmarks measure the same file.
#ifndef ORVANE_BENCH_CONTENT_WORKLOAD_H
#define ORVANE_BENCH_CONTENT_WORKLOAD_H

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "orvane/types.h"

namespace orvane_bench {

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

}  // namespace orvane_bench

#endif  // ORVANE_BENCH_CONTENT_WORKLOAD_H

// The character workload shared by the benchmarks and the data-driven tests: the 67-joint
// skeleton, the walk and jog clips and the skinned mesh of
// data/pab_walk_jog_arnaud4.json, read into plain structs. The reader checks what it
// reads (counts, parent indices, key sizes) so that a damaged file fails with a message instead of
// handing out short arrays.
#ifndef ORVANE_BENCH_PAB_WORKLOAD_H
#define ORVANE_BENCH_PAB_WORKLOAD_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace orvane_workload {

struct Joint {
    std::string name;
    int32_t parent = -1;  // lower than the joint's own index, -1 for a root
    float translation[3] = {0, 0, 0};
    float rotation[4] = {0, 0, 0, 1};  // x, y, z, w
    float scale[3] = {1, 1, 1};
};

template <int N>
struct Key {
    float time = 0;  // seconds from the clip's start
    float value[N] = {};
};

// The keys of one joint, each list in increasing time.
struct JointTrack {
    std::vector<Key<3>> translations;
    std::vector<Key<4>> rotations;  // x, y, z, w
    std::vector<Key<3>> scales;
};

struct Clip {
    std::string name;
    float duration = 0;              // seconds
    std::vector<JointTrack> tracks;  // one per skeleton joint, in joint order
};

struct Mesh {
    int32_t vertexCount = 0;
    int32_t influenceCount = 0;         // influences per vertex (4 in this workload)
    std::vector<float> positions;       // vertexCount x 3
    std::vector<float> normals;         // vertexCount x 3
    std::vector<int32_t> jointIndices;  // vertexCount x influenceCount, into jointRemaps
    std::vector<float> jointWeights;    // vertexCount x influenceCount
    std::vector<int32_t> jointRemaps;   // mesh joint -> skeleton joint
    // One per mesh joint, in the library's 4x4 layout: groups of four are the columns of the
    // column-vector matrix, translation in elements 12..14.
    std::vector<std::array<float, 16>> inverseBindPoses;
};

struct Workload {
    std::vector<Joint> joints;
    std::vector<Clip> clips;  // the walk, then the jog
    Mesh mesh;

    const Clip* FindClip(const std::string& name) const;
};

// pab_walk_jog_arnaud4.json in the project's data folder (testing/data_path.h).
std::string PabWorkloadPath();

// Reads and checks the file. On failure returns false with the reason in *error (when given).
bool LoadPabWorkload(const std::string& path, Workload* workload, std::string* error);

// The workload at PabWorkloadPath(), read once per process (thread-safe); null when it could
// not be read, with the reason in *error (when given).
const Workload* SharedPabWorkload(std::string* error = nullptr);

}  // namespace orvane_workload

#endif  // ORVANE_BENCH_PAB_WORKLOAD_H

#include "orvane_pab_workload.h"

#include "testing/data_path.h"

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace orvane_workload {

namespace {

using nlohmann::json;

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what);
}

const json& Field(const json& object, const char* name, const std::string& where) {
    if (!object.is_object() || !object.contains(name)) Fail(where + ": no \"" + name + "\"");
    return object.at(name);
}

void ReadFloats(const json& array, float* out, size_t n, const std::string& where) {
    if (!array.is_array() || array.size() != n)
        Fail(where + ": expected " + std::to_string(n) + " numbers");
    for (size_t i = 0; i < n; ++i) {
        if (!array[i].is_number()) Fail(where + ": not a number");
        out[i] = array[i].get<float>();
    }
}

template <typename T>
std::vector<T> ReadNumbers(const json& array, size_t expected, const std::string& where) {
    if (!array.is_array() || array.size() != expected)
        Fail(where + ": expected " + std::to_string(expected) + " numbers, got " +
             std::to_string(array.is_array() ? array.size() : 0));
    std::vector<T> out(expected);
    for (size_t i = 0; i < expected; ++i) {
        if (!array[i].is_number()) Fail(where + ": not a number");
        out[i] = array[i].get<T>();
    }
    return out;
}

// Keys are stored as [time, v0, v1, ...].
template <int N>
std::vector<Key<N>> ReadKeys(const json& array, const std::string& where) {
    if (!array.is_array() || array.empty()) Fail(where + ": expected a non-empty key list");
    std::vector<Key<N>> keys(array.size());
    for (size_t k = 0; k < array.size(); ++k) {
        float values[N + 1];
        ReadFloats(array[k], values, N + 1, where + "[" + std::to_string(k) + "]");
        keys[k].time = values[0];
        for (int i = 0; i < N; ++i)
            keys[k].value[i] = values[i + 1];
        if (k > 0 && keys[k].time < keys[k - 1].time) Fail(where + ": times decrease");
    }
    return keys;
}

void ReadSkeleton(const json& root, Workload* w) {
    const json& joints = Field(Field(root, "skeleton", "root"), "joints", "skeleton");
    if (!joints.is_array() || joints.empty()) Fail("skeleton.joints: expected a non-empty list");
    w->joints.resize(joints.size());
    for (size_t i = 0; i < joints.size(); ++i) {
        const std::string where = "skeleton.joints[" + std::to_string(i) + "]";
        Joint& j = w->joints[i];
        j.name = Field(joints[i], "name", where).get<std::string>();
        j.parent = Field(joints[i], "parent", where).get<int32_t>();
        if (j.parent < -1 || j.parent >= static_cast<int32_t>(i))
            Fail(where + ": parent " + std::to_string(j.parent) + " does not precede the joint");
        ReadFloats(Field(joints[i], "t", where), j.translation, 3, where + ".t");
        ReadFloats(Field(joints[i], "r", where), j.rotation, 4, where + ".r");
        ReadFloats(Field(joints[i], "s", where), j.scale, 3, where + ".s");
    }
}

void ReadClips(const json& root, Workload* w) {
    const json& clips = Field(root, "animations", "root");
    if (!clips.is_array()) Fail("animations: expected a list");
    for (size_t c = 0; c < clips.size(); ++c) {
        const std::string where = "animations[" + std::to_string(c) + "]";
        Clip clip;
        clip.name = Field(clips[c], "name", where).get<std::string>();
        clip.duration = Field(clips[c], "duration", where).get<float>();
        const json& tracks = Field(clips[c], "tracks", where);
        if (!tracks.is_array() || tracks.size() != w->joints.size())
            Fail(where + ".tracks: expected one track per joint");
        clip.tracks.resize(tracks.size());
        for (size_t t = 0; t < tracks.size(); ++t) {
            const std::string tw = where + ".tracks[" + std::to_string(t) + "]";
            clip.tracks[t].translations = ReadKeys<3>(Field(tracks[t], "t", tw), tw + ".t");
            clip.tracks[t].rotations = ReadKeys<4>(Field(tracks[t], "r", tw), tw + ".r");
            clip.tracks[t].scales = ReadKeys<3>(Field(tracks[t], "s", tw), tw + ".s");
        }
        w->clips.push_back(std::move(clip));
    }
}

void ReadMesh(const json& root, Workload* w) {
    const json& mesh = Field(root, "mesh", "root");
    Mesh& m = w->mesh;
    m.vertexCount = Field(mesh, "vertices", "mesh").get<int32_t>();
    m.influenceCount = Field(mesh, "influences", "mesh").get<int32_t>();
    if (m.vertexCount < 0 || m.vertexCount > (1 << 24) || m.influenceCount < 1 ||
        m.influenceCount > 16)
        Fail("mesh: implausible vertex or influence count");
    const size_t v = static_cast<size_t>(m.vertexCount);
    const size_t vi = v * static_cast<size_t>(m.influenceCount);
    m.positions = ReadNumbers<float>(Field(mesh, "positions", "mesh"), 3 * v, "mesh.positions");
    m.normals = ReadNumbers<float>(Field(mesh, "normals", "mesh"), 3 * v, "mesh.normals");
    m.jointIndices =
        ReadNumbers<int32_t>(Field(mesh, "joint_indices", "mesh"), vi, "mesh.joint_indices");
    m.jointWeights =
        ReadNumbers<float>(Field(mesh, "joint_weights", "mesh"), vi, "mesh.joint_weights");
    const json& remaps = Field(mesh, "joint_remaps", "mesh");
    m.jointRemaps =
        ReadNumbers<int32_t>(remaps, remaps.is_array() ? remaps.size() : 0, "mesh.joint_remaps");
    for (int32_t r : m.jointRemaps)
        if (r < 0 || r >= static_cast<int32_t>(w->joints.size()))
            Fail("mesh.joint_remaps: joint " + std::to_string(r) + " out of range");
    for (int32_t index : m.jointIndices)
        if (index < 0 || index >= static_cast<int32_t>(m.jointRemaps.size()))
            Fail("mesh.joint_indices: index " + std::to_string(index) + " out of range");
    const json& poses = Field(mesh, "inverse_bind_poses", "mesh");
    if (!poses.is_array() || poses.size() != m.jointRemaps.size())
        Fail("mesh.inverse_bind_poses: expected one per remapped joint");
    m.inverseBindPoses.resize(poses.size());
    for (size_t i = 0; i < poses.size(); ++i)
        ReadFloats(poses[i], m.inverseBindPoses[i].data(), 16,
                   "mesh.inverse_bind_poses[" + std::to_string(i) + "]");
}

}  // namespace

const Clip* Workload::FindClip(const std::string& name) const {
    for (const Clip& c : clips)
        if (c.name == name) return &c;
    return nullptr;
}

std::string PabWorkloadPath() {
    return orvane_data::Path("pab_walk_jog_arnaud4.json");
}

bool LoadPabWorkload(const std::string& path, Workload* workload, std::string* error) {
    try {
        std::ifstream in(path, std::ios::binary);
        if (!in) Fail("cannot open " + path);
        json root = json::parse(in);
        Workload w;
        ReadSkeleton(root, &w);
        ReadClips(root, &w);
        ReadMesh(root, &w);
        *workload = std::move(w);
        return true;
    } catch (const std::exception& e) {
        if (error) *error = path + ": " + e.what();
        return false;
    }
}

const Workload* SharedPabWorkload(std::string* error) {
    static std::once_flag once;
    static Workload workload;
    static bool loaded = false;
    static std::string reason;
    std::call_once(once, [] { loaded = LoadPabWorkload(PabWorkloadPath(), &workload, &reason); });
    if (!loaded && error) *error = reason;
    return loaded ? &workload : nullptr;
}

}  // namespace orvane_workload

// Small glTF 2.0 scenes for the import tests: a node hierarchy and one animation whose channels
// the test chooses (interpolation, key times and values), written as .gltf with an embedded
// buffer or as .glb.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace gltf_writer {

struct Node {
    std::string name;
    int parent = -1;
    float translation[3] = {0, 0, 0};
    float rotation[4] = {0, 0, 0, 1};
    float scale[3] = {1, 1, 1};
};

struct Channel {
    int node = 0;
    std::string path;           // "translation", "rotation" or "scale"
    std::string interpolation;  // "LINEAR", "STEP" or "CUBICSPLINE"
    std::vector<float> times;
    // Per key the value (3 or 4 components); for CUBICSPLINE in-tangent, value, out-tangent.
    std::vector<float> values;
};

inline std::string Base64(const std::string& bytes) {
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = unsigned(uint8_t(bytes[i])) << 16 |
                           unsigned(uint8_t(bytes[i + 1])) << 8 | unsigned(uint8_t(bytes[i + 2]));
        for (int s = 18; s >= 0; s -= 6)
            out.push_back(digits[(v >> s) & 63]);
    }
    if (i < bytes.size()) {
        unsigned v = unsigned(uint8_t(bytes[i])) << 16;
        if (i + 1 < bytes.size()) v |= unsigned(uint8_t(bytes[i + 1])) << 8;
        out.push_back(digits[(v >> 18) & 63]);
        out.push_back(digits[(v >> 12) & 63]);
        out.push_back(i + 1 < bytes.size() ? digits[(v >> 6) & 63] : '=');
        out.push_back('=');
    }
    return out;
}

// A mesh that a node holds, without a skin (it moves rigidly with its node).
struct RigidMesh {
    int node = 0;
    std::vector<float> positions;   // x, y, z per vertex, in the node's space
    std::vector<uint16_t> indices;  // three per triangle
};

// Writes the scene to Path (.glb when Binary); false when the file cannot be written.
inline bool Write(const std::string& path, const std::vector<Node>& nodes,
                  const std::vector<Channel>& channels, bool binary,
                  const std::string& clipName = "Clip", const RigidMesh* mesh = nullptr) {
    using nlohmann::json;
    json gltf;
    gltf["asset"] = {{"version", "2.0"}};
    json jnodes = json::array();
    for (size_t i = 0; i < nodes.size(); ++i) {
        const Node& n = nodes[i];
        json j = {{"name", n.name},
                  {"translation", {n.translation[0], n.translation[1], n.translation[2]}},
                  {"rotation", {n.rotation[0], n.rotation[1], n.rotation[2], n.rotation[3]}},
                  {"scale", {n.scale[0], n.scale[1], n.scale[2]}}};
        json children = json::array();
        for (size_t c = 0; c < nodes.size(); ++c)
            if (nodes[c].parent == int(i)) children.push_back(c);
        if (!children.empty()) j["children"] = children;
        jnodes.push_back(j);
    }
    gltf["nodes"] = jnodes;
    json roots = json::array();
    for (size_t i = 0; i < nodes.size(); ++i)
        if (nodes[i].parent < 0) roots.push_back(i);
    gltf["scenes"] = json::array({{{"nodes", roots}}});
    gltf["scene"] = 0;

    std::string buffer;
    json views = json::array(), accessors = json::array(), samplers = json::array(),
         jchannels = json::array();
    auto add = [&](const std::vector<float>& v, const char* type, bool bounds) {
        const size_t offset = buffer.size();
        buffer.append(reinterpret_cast<const char*>(v.data()), v.size() * sizeof(float));
        views.push_back({{"buffer", 0}, {"byteOffset", offset}, {"byteLength", v.size() * 4}});
        const size_t n = std::string(type) == "SCALAR" ? 1 : std::string(type) == "VEC3" ? 3 : 4;
        json a = {{"bufferView", views.size() - 1},
                  {"componentType", 5126},
                  {"count", v.size() / n},
                  {"type", type}};
        if (bounds && !v.empty()) {
            a["min"] = {v.front()};
            a["max"] = {v.back()};
        }
        accessors.push_back(a);
        return accessors.size() - 1;
    };
    for (const Channel& c : channels) {
        const size_t input = add(c.times, "SCALAR", true);
        const size_t output = add(c.values, c.path == "rotation" ? "VEC4" : "VEC3", false);
        samplers.push_back(
            {{"input", input}, {"output", output}, {"interpolation", c.interpolation}});
        jchannels.push_back(
            {{"sampler", samplers.size() - 1}, {"target", {{"node", c.node}, {"path", c.path}}}});
    }
    if (mesh) {
        const size_t positions = add(mesh->positions, "VEC3", false);
        json lo = {1e30, 1e30, 1e30}, hi = {-1e30, -1e30, -1e30};
        for (size_t v = 0; v + 2 < mesh->positions.size(); v += 3)
            for (size_t k = 0; k < 3; ++k) {
                lo[k] = std::min(lo[k].get<double>(), double(mesh->positions[v + k]));
                hi[k] = std::max(hi[k].get<double>(), double(mesh->positions[v + k]));
            }
        accessors[positions]["min"] = lo;
        accessors[positions]["max"] = hi;
        const size_t offset = buffer.size();
        buffer.append(reinterpret_cast<const char*>(mesh->indices.data()),
                      mesh->indices.size() * sizeof(uint16_t));
        while (buffer.size() % 4)
            buffer.push_back('\0');
        views.push_back({{"buffer", 0},
                         {"byteOffset", offset},
                         {"byteLength", mesh->indices.size() * sizeof(uint16_t)}});
        accessors.push_back({{"bufferView", views.size() - 1},
                             {"componentType", 5123},
                             {"count", mesh->indices.size()},
                             {"type", "SCALAR"}});
        gltf["meshes"] =
            json::array({{{"primitives", json::array({{{"attributes", {{"POSITION", positions}}},
                                                       {"indices", accessors.size() - 1}}})}}});
        gltf["nodes"][size_t(mesh->node)]["mesh"] = 0;
    }
    gltf["animations"] =
        json::array({{{"name", clipName}, {"samplers", samplers}, {"channels", jchannels}}});
    gltf["bufferViews"] = views;
    gltf["accessors"] = accessors;
    if (binary) {
        gltf["buffers"] = json::array({{{"byteLength", buffer.size()}}});
    } else {
        gltf["buffers"] =
            json::array({{{"byteLength", buffer.size()},
                          {"uri", "data:application/octet-stream;base64," + Base64(buffer)}}});
    }
    std::string text = gltf.dump();
    std::ofstream out(path, std::ios::binary);
    if (!binary) {
        out << text;
        return bool(out);
    }
    while (text.size() % 4)
        text.push_back(' ');
    while (buffer.size() % 4)
        buffer.push_back('\0');
    auto word = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    word(0x46546C67u);
    word(2);
    word(uint32_t(12 + 8 + text.size() + 8 + buffer.size()));
    word(uint32_t(text.size()));
    word(0x4E4F534Au);
    out << text;
    word(uint32_t(buffer.size()));
    word(0x004E4942u);
    out << buffer;
    return bool(out);
}

}  // namespace gltf_writer

// Reads a glTF 2.0 file's node hierarchy and animation channels with nlohmann-json. Offline
// code: working data in standard containers; the JSON library's exceptions stay in here.
#include "orvane_gltf_animation.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

namespace orvane_import {

namespace {

using nlohmann::json;

// Larger files are not glTF content anyone animates with.
constexpr size_t kMaxFileBytes = size_t(1) << 31;

bool ReadBytes(const std::string& path, std::string* bytes) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return false;
    const std::streamoff size = in.tellg();
    if (size < 0 || uint64_t(size) > kMaxFileBytes) return false;
    in.seekg(0);
    bytes->resize(size_t(size));
    return size == 0 || bool(in.read(bytes->data(), size));
}

bool Base64(const std::string& text, size_t from, std::string* out) {
    unsigned bits = 0;
    int count = 0;
    for (size_t i = from; i < text.size(); ++i) {
        const char c = text[i];
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        else if (c == '=')
            break;
        else
            return false;
        bits = (bits << 6) | unsigned(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out->push_back(char((bits >> count) & 0xff));
        }
    }
    return true;
}

size_t Index(const json& value, size_t limit, const char* what) {
    if (!value.is_number_integer() || value.get<int64_t>() < 0 ||
        uint64_t(value.get<int64_t>()) >= limit)
        throw std::runtime_error(std::string("bad ") + what + " index");
    return size_t(value.get<int64_t>());
}

// An accessor's elements as floats: float components, or the normalised integer types that
// rotations may use.
std::vector<float> Accessor(const json& gltf, const std::vector<std::string>& buffers,
                            const json& index, int components) {
    const json& accessors = gltf.at("accessors");
    const json& a = accessors.at(Index(index, accessors.size(), "accessor"));
    const std::string type = a.at("type").get<std::string>();
    const int n = type == "SCALAR" ? 1 : type == "VEC3" ? 3 : type == "VEC4" ? 4 : 0;
    if (n != components) throw std::runtime_error("accessor of type " + type + " unexpected");
    if (a.contains("sparse")) throw std::runtime_error("sparse animation data is not supported");
    const int componentType = a.at("componentType").get<int>();
    const bool normalized = a.value("normalized", false);
    size_t size;
    switch (componentType) {
        case 5126:
            size = 4;
            break;
        case 5122:
        case 5123:
            size = 2;
            break;
        case 5120:
        case 5121:
            size = 1;
            break;
        default:
            throw std::runtime_error("accessor component type unsupported");
    }
    if (componentType != 5126 && !normalized)
        throw std::runtime_error("integer animation data must be normalised");
    const json& countValue = a.at("count");
    if (!countValue.is_number_integer() || countValue.get<int64_t>() < 1 ||
        countValue.get<int64_t>() > (int64_t(1) << 26))
        throw std::runtime_error("bad accessor count");
    const size_t count = size_t(countValue.get<int64_t>());
    std::vector<float> out(count * size_t(n), 0.0f);
    if (!a.contains("bufferView")) return out;  // all zeros, as glTF says
    const json& views = gltf.at("bufferViews");
    const json& view = views.at(Index(a.at("bufferView"), views.size(), "buffer view"));
    const size_t buffer = Index(view.at("buffer"), buffers.size(), "buffer");
    const std::string& data = buffers[buffer];
    const uint64_t viewOffset = view.value("byteOffset", uint64_t(0));
    const uint64_t viewLength = view.at("byteLength").get<uint64_t>();
    const uint64_t offset = a.value("byteOffset", uint64_t(0));
    const uint64_t element = size * size_t(n);
    const uint64_t stride =
        view.value("byteStride", uint64_t(0)) ? view.value("byteStride", uint64_t(0)) : element;
    if (viewOffset > data.size() || viewLength > data.size() - viewOffset || stride < element ||
        stride > 252 || offset > viewLength || (count - 1) * stride + element > viewLength - offset)
        throw std::runtime_error("accessor outside its buffer");
    const char* base = data.data() + viewOffset + offset;
    for (size_t i = 0; i < count; ++i)
        for (int c = 0; c < n; ++c) {
            const char* p = base + i * stride + size_t(c) * size;
            float v = 0;
            if (componentType == 5126) {
                std::memcpy(&v, p, 4);
            } else if (componentType == 5123) {
                uint16_t u;
                std::memcpy(&u, p, 2);
                v = float(u / 65535.0);
            } else if (componentType == 5122) {
                int16_t s;
                std::memcpy(&s, p, 2);
                v = float(std::max(s / 32767.0, -1.0));
            } else if (componentType == 5121) {
                v = float(uint8_t(*p) / 255.0);
            } else {
                v = float(std::max(int8_t(*p) / 127.0, -1.0));
            }
            if (!std::isfinite(v)) throw std::runtime_error("animation data is not finite");
            out[i * size_t(n) + size_t(c)] = v;
        }
    return out;
}

void Read(const std::string& path, GltfAnimation* out) {
    std::string bytes;
    if (!ReadBytes(path, &bytes)) throw std::runtime_error("cannot be read");
    std::string text, bin;
    if (bytes.size() >= 12 && std::memcmp(bytes.data(), "glTF", 4) == 0) {
        size_t at = 12;
        while (bytes.size() - at >= 8) {
            uint32_t length, type;
            std::memcpy(&length, bytes.data() + at, 4);
            std::memcpy(&type, bytes.data() + at + 4, 4);
            if (length > bytes.size() - at - 8) throw std::runtime_error("truncated chunk");
            if (type == 0x4E4F534Au && text.empty()) text = bytes.substr(at + 8, length);
            if (type == 0x004E4942u && bin.empty()) bin = bytes.substr(at + 8, length);
            at += 8 + size_t(length);
        }
    } else {
        text.swap(bytes);
    }
    const json gltf = json::parse(text, nullptr, false);
    if (gltf.is_discarded() || !gltf.is_object()) throw std::runtime_error("not glTF JSON");

    const std::string folder = path.substr(0, path.rfind('/') + 1);
    std::vector<std::string> buffers;
    for (const json& b : gltf.value("buffers", json::array())) {
        std::string data;
        if (!b.contains("uri")) {
            data = bin;
        } else {
            const std::string uri = b.at("uri").get<std::string>();
            const size_t comma = uri.find(',');
            if (uri.rfind("data:", 0) == 0) {
                if (comma == std::string::npos || uri.find(";base64") > comma ||
                    !Base64(uri, comma + 1, &data))
                    throw std::runtime_error("bad data URI");
            } else if (uri.find("..") != std::string::npos || uri.find(':') != std::string::npos ||
                       uri.empty() || uri[0] == '/' || !ReadBytes(folder + uri, &data)) {
                throw std::runtime_error("buffer " + uri + " cannot be read");
            }
        }
        buffers.push_back(std::move(data));
    }

    const json& nodes = gltf.value("nodes", json::array());
    out->children.assign(nodes.size(), {});
    for (const json& n : nodes) {
        const json& name = n.contains("name") ? n.at("name") : json("");
        out->names.push_back(name.is_string() ? name.get<std::string>() : std::string());
    }
    std::vector<int> parent(nodes.size(), -1);
    for (size_t i = 0; i < nodes.size(); ++i)
        for (const json& c : nodes[i].value("children", json::array())) {
            const size_t child = Index(c, nodes.size(), "node");
            if (parent[child] >= 0 || child == i) throw std::runtime_error("not a node tree");
            parent[child] = int(i);
            out->children[i].push_back(int(child));
        }
    // A node that is its own ancestor: a walk up from it meets it again.
    for (size_t i = 0; i < nodes.size(); ++i) {
        size_t steps = 0;
        for (int p = parent[i]; p >= 0; p = parent[size_t(p)])
            if (++steps > nodes.size()) throw std::runtime_error("the node hierarchy has a cycle");
    }
    const json& scenes = gltf.value("scenes", json::array());
    if (!scenes.empty()) {
        const size_t scene = Index(gltf.value("scene", json(0)), scenes.size(), "scene");
        for (const json& n : scenes[scene].value("nodes", json::array())) {
            const size_t root = Index(n, nodes.size(), "node");
            if (parent[root] >= 0) throw std::runtime_error("a scene root has a parent");
            out->roots.push_back(int(root));
        }
    }

    for (const json& a : gltf.value("animations", json::array())) {
        GltfClip clip;
        clip.name = a.value("name", "");
        const json& samplers = a.at("samplers");
        for (const json& c : a.at("channels")) {
            const json& target = c.at("target");
            const std::string p = target.at("path").get<std::string>();
            if (p != "translation" && p != "rotation" && p != "scale") continue;
            if (!target.contains("node")) continue;
            GltfChannel channel;
            channel.node = int(Index(target.at("node"), nodes.size(), "node"));
            channel.path = p == "translation" ? GltfPath::Translation
                           : p == "rotation"  ? GltfPath::Rotation
                                              : GltfPath::Scale;
            channel.components = channel.path == GltfPath::Rotation ? 4 : 3;
            const json& s = samplers.at(Index(c.at("sampler"), samplers.size(), "sampler"));
            const std::string mode = s.value("interpolation", "LINEAR");
            if (mode != "LINEAR" && mode != "STEP" && mode != "CUBICSPLINE")
                throw std::runtime_error("interpolation " + mode + " unknown");
            channel.interpolation = mode == "STEP"          ? GltfInterpolation::Step
                                    : mode == "CUBICSPLINE" ? GltfInterpolation::CubicSpline
                                                            : GltfInterpolation::Linear;
            channel.times = Accessor(gltf, buffers, s.at("input"), 1);
            channel.values = Accessor(gltf, buffers, s.at("output"), channel.components);
            const size_t perKey = size_t(channel.components) *
                                  (channel.interpolation == GltfInterpolation::CubicSpline ? 3 : 1);
            if (channel.values.size() != channel.times.size() * perKey)
                throw std::runtime_error("a sampler's input and output counts differ");
            for (size_t k = 0; k < channel.times.size(); ++k)
                if (!(channel.times[k] >= 0) || !std::isfinite(channel.times[k]) ||
                    (k > 0 && !(channel.times[k] > channel.times[k - 1])))
                    throw std::runtime_error("key times are not increasing");
            clip.channels.push_back(std::move(channel));
        }
        out->clips.push_back(std::move(clip));
    }
}

}  // namespace

bool ReadGltfAnimation(const char* path, GltfAnimation* out, std::string* error) {
    *out = {};
    try {
        Read(path, out);
    } catch (const std::exception& e) {
        *error = e.what();
        *out = {};
        return false;
    }
    return true;
}

}  // namespace orvane_import

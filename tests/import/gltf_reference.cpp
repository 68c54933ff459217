// The tests' own glTF 2.0 evaluator (see gltf_reference.h): plain double-precision code that
// follows the glTF 2.0 text (Animations, Appendix C: interpolation), sharing nothing with the
// importer.
#include "gltf_reference.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

namespace gltf_reference {

using nlohmann::json;

Matrix Identity() {
    return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
}

Matrix Multiply(const Matrix& a, const Matrix& b) {
    Matrix m{};
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) {
            double sum = 0;
            for (int k = 0; k < 4; ++k)
                sum += a[k * 4 + r] * b[c * 4 + k];
            m[c * 4 + r] = sum;
        }
    return m;
}

Matrix Compose(const double t[3], const double r[4], const double s[3]) {
    const double x = r[0], y = r[1], z = r[2], w = r[3];
    const double rot[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)},
                              {2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)},
                              {2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)}};
    Matrix m = Identity();
    for (int c = 0; c < 3; ++c)
        for (int row = 0; row < 3; ++row)
            m[c * 4 + row] = rot[row][c] * s[c];
    m[12] = t[0], m[13] = t[1], m[14] = t[2];
    return m;
}

std::array<double, 3> TransformPoint(const Matrix& m, const double p[3]) {
    std::array<double, 3> out{};
    for (int r = 0; r < 3; ++r)
        out[size_t(r)] = m[r] * p[0] + m[4 + r] * p[1] + m[8 + r] * p[2] + m[12 + r];
    return out;
}

namespace {

bool ReadFile(const std::string& path, std::string* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool DecodeBase64(const std::string& text, std::string* out) {
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    unsigned bits = 0;
    int count = 0;
    for (char c : text) {
        if (c == '=') break;
        const int v = value(c);
        if (v < 0) return false;
        bits = (bits << 6) | unsigned(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out->push_back(char((bits >> count) & 0xff));
        }
    }
    return true;
}

// Reads an accessor as doubles (normalized integers mapped as the glTF text says).
bool ReadAccessor(const json& gltf, const std::vector<std::string>& buffers, int index,
                  std::vector<double>* values, int* components, std::string* error) {
    const json& accessors = gltf.at("accessors");
    if (index < 0 || size_t(index) >= accessors.size()) return *error = "bad accessor", false;
    const json& a = accessors[size_t(index)];
    const std::string type = a.at("type");
    const int n = type == "SCALAR" ? 1
                  : type == "VEC2" ? 2
                  : type == "VEC3" ? 3
                  : type == "VEC4" ? 4
                  : type == "MAT4" ? 16
                                   : 0;
    if (n == 0) return *error = "unsupported accessor type " + type, false;
    if (a.contains("sparse")) return *error = "sparse accessors are not evaluated", false;
    const int componentType = a.at("componentType");
    const bool normalized = a.value("normalized", false);
    const size_t count = a.at("count");
    const size_t size = componentType == 5126 || componentType == 5125   ? 4
                        : componentType == 5122 || componentType == 5123 ? 2
                                                                         : 1;
    *components = n;
    values->assign(count * size_t(n), 0.0);
    if (!a.contains("bufferView")) return true;
    const json& view = gltf.at("bufferViews").at(size_t(a.at("bufferView")));
    const size_t buffer = view.at("buffer");
    if (buffer >= buffers.size()) return *error = "bad buffer", false;
    const size_t offset = size_t(view.value("byteOffset", 0)) + size_t(a.value("byteOffset", 0));
    const size_t stride = view.value("byteStride", 0) ? size_t(view.at("byteStride")) : size * n;
    const std::string& data = buffers[buffer];
    if (count > 0 && offset + (count - 1) * stride + size * size_t(n) > data.size())
        return *error = "accessor outside its buffer", false;
    for (size_t i = 0; i < count; ++i)
        for (int c = 0; c < n; ++c) {
            const char* p = data.data() + offset + i * stride + size_t(c) * size;
            double v = 0;
            switch (componentType) {
                case 5126: {
                    float f;
                    std::memcpy(&f, p, 4);
                    v = f;
                    break;
                }
                case 5125: {
                    uint32_t u;
                    std::memcpy(&u, p, 4);
                    v = u;
                    break;
                }
                case 5123: {
                    uint16_t u;
                    std::memcpy(&u, p, 2);
                    v = normalized ? u / 65535.0 : u;
                    break;
                }
                case 5122: {
                    int16_t s;
                    std::memcpy(&s, p, 2);
                    v = normalized ? std::max(s / 32767.0, -1.0) : s;
                    break;
                }
                case 5121: {
                    uint8_t u;
                    std::memcpy(&u, p, 1);
                    v = normalized ? u / 255.0 : u;
                    break;
                }
                case 5120: {
                    int8_t s;
                    std::memcpy(&s, p, 1);
                    v = normalized ? std::max(s / 127.0, -1.0) : s;
                    break;
                }
                default:
                    return *error = "bad component type", false;
            }
            (*values)[i * size_t(n) + size_t(c)] = v;
        }
    return true;
}

void Normalize4(double* q) {
    const double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    if (n > 0)
        for (int k = 0; k < 4; ++k)
            q[k] /= n;
}

}  // namespace

bool Document::Load(const std::string& path, std::string* error) {
    std::string bytes;
    if (!ReadFile(path, &bytes)) return *error = "cannot read " + path, false;
    std::string text, bin;
    if (bytes.size() >= 12 && std::memcmp(bytes.data(), "glTF", 4) == 0) {
        size_t at = 12;
        while (at + 8 <= bytes.size()) {
            uint32_t length, type;
            std::memcpy(&length, bytes.data() + at, 4);
            std::memcpy(&type, bytes.data() + at + 4, 4);
            if (at + 8 + length > bytes.size()) return *error = "truncated chunk", false;
            if (type == 0x4E4F534Au) text = bytes.substr(at + 8, length);
            if (type == 0x004E4942u) bin = bytes.substr(at + 8, length);
            at += 8 + length;
        }
    } else {
        text = bytes;
    }
    const json gltf = json::parse(text, nullptr, false);
    if (gltf.is_discarded()) return *error = "not JSON", false;
    try {
        const std::string folder = path.substr(0, path.rfind('/') + 1);
        std::vector<std::string> buffers;
        for (const json& b : gltf.value("buffers", json::array())) {
            std::string data;
            if (!b.contains("uri")) {
                data = bin;
            } else {
                const std::string uri = b.at("uri");
                const size_t comma = uri.find(',');
                if (uri.rfind("data:", 0) == 0 && comma != std::string::npos) {
                    if (!DecodeBase64(uri.substr(comma + 1), &data))
                        return *error = "bad base64", false;
                } else if (!ReadFile(folder + uri, &data)) {
                    return *error = "cannot read " + uri, false;
                }
            }
            buffers.push_back(data);
        }
        const json& nodes_ = gltf.value("nodes", json::array());
        nodes.resize(nodes_.size());
        for (size_t i = 0; i < nodes_.size(); ++i) {
            const json& n = nodes_[i];
            Node& node = nodes[i];
            node.name = n.value("name", "");
            if (n.contains("matrix")) {
                node.hasMatrix = true;
                for (int k = 0; k < 16; ++k)
                    node.matrix[size_t(k)] = n["matrix"][size_t(k)];
            }
            for (int k = 0; k < 3 && n.contains("translation"); ++k)
                node.translation[k] = n["translation"][size_t(k)];
            for (int k = 0; k < 4 && n.contains("rotation"); ++k)
                node.rotation[k] = n["rotation"][size_t(k)];
            for (int k = 0; k < 3 && n.contains("scale"); ++k)
                node.scale[k] = n["scale"][size_t(k)];
            for (const json& c : n.value("children", json::array())) {
                const int child = c;
                if (child < 0 || size_t(child) >= nodes_.size()) return *error = "bad child", false;
                node.children.push_back(child);
            }
        }
        for (size_t i = 0; i < nodes.size(); ++i)
            for (int c : nodes[i].children)
                nodes[size_t(c)].parent = int(i);
        for (const json& s : gltf.value("skins", json::array())) {
            Skin skin;
            for (const json& j : s.at("joints"))
                skin.joints.push_back(j);
            skin.inverseBind.assign(skin.joints.size(), Identity());
            if (s.contains("inverseBindMatrices")) {
                std::vector<double> v;
                int n = 0;
                if (!ReadAccessor(gltf, buffers, s["inverseBindMatrices"], &v, &n, error))
                    return false;
                for (size_t j = 0; j < skin.joints.size() && (j + 1) * 16 <= v.size(); ++j)
                    std::copy(v.begin() + long(j * 16), v.begin() + long(j * 16 + 16),
                              skin.inverseBind[j].begin());
            }
            skins.push_back(skin);
        }
        const json& meshes = gltf.value("meshes", json::array());
        for (size_t i = 0; i < nodes_.size(); ++i) {
            const json& n = nodes_[i];
            if (!n.contains("mesh") || !n.contains("skin")) continue;
            for (const json& prim : meshes.at(size_t(n["mesh"])).at("primitives")) {
                const json& attributes = prim.at("attributes");
                if (!attributes.contains("JOINTS_0") || !attributes.contains("WEIGHTS_0")) continue;
                SkinnedPrimitive p;
                p.node = int(i);
                p.skin = n["skin"];
                int components = 0;
                std::vector<double> joints;
                if (!ReadAccessor(gltf, buffers, attributes["POSITION"], &p.positions, &components,
                                  error) ||
                    !ReadAccessor(gltf, buffers, attributes["JOINTS_0"], &joints, &components,
                                  error) ||
                    !ReadAccessor(gltf, buffers, attributes["WEIGHTS_0"], &p.weights, &components,
                                  error))
                    return false;
                for (double j : joints)
                    p.joints.push_back(int(j));
                skinned.push_back(p);
            }
        }
        for (const json& a : gltf.value("animations", json::array())) {
            Animation animation;
            animation.name = a.value("name", "");
            for (const json& s : a.at("samplers")) {
                Sampler sampler;
                const std::string mode = s.value("interpolation", "LINEAR");
                sampler.interpolation = mode == "STEP"          ? Interpolation::Step
                                        : mode == "CUBICSPLINE" ? Interpolation::CubicSpline
                                                                : Interpolation::Linear;
                int n = 0;
                if (!ReadAccessor(gltf, buffers, s.at("input"), &sampler.input, &n, error))
                    return false;
                if (!ReadAccessor(gltf, buffers, s.at("output"), &sampler.output,
                                  &sampler.components, error))
                    return false;
                if (!sampler.input.empty())
                    animation.duration = std::max(animation.duration, sampler.input.back());
                animation.samplers.push_back(sampler);
            }
            for (const json& c : a.at("channels")) {
                Channel channel;
                channel.sampler = c.at("sampler");
                const json& target = c.at("target");
                channel.node = target.value("node", -1);
                const std::string p = target.at("path");
                channel.path = p == "translation" ? Path::Translation
                               : p == "rotation"  ? Path::Rotation
                               : p == "scale"     ? Path::Scale
                                                  : Path::Weights;
                if (channel.sampler < 0 || size_t(channel.sampler) >= animation.samplers.size())
                    return *error = "bad sampler", false;
                // Weights carry one value per morph target and key.
                Sampler& sampler = animation.samplers[size_t(channel.sampler)];
                if (channel.path == Path::Weights && !sampler.input.empty()) {
                    const size_t per = sampler.interpolation == Interpolation::CubicSpline ? 3 : 1;
                    sampler.components = int(sampler.output.size() / (sampler.input.size() * per));
                }
                animation.channels.push_back(channel);
            }
            animations.push_back(animation);
        }
    } catch (const json::exception& e) {
        return *error = e.what(), false;
    }
    return true;
}

std::vector<double> Document::Evaluate(const Sampler& s, Path path, double time) const {
    const size_t n = s.input.size();
    const size_t d = size_t(s.components);
    const bool cubic = s.interpolation == Interpolation::CubicSpline;
    // Element e of key k: for cubic samplers the value is the middle of three elements.
    auto at = [&](size_t k, size_t element) {
        return &s.output[(cubic ? 3 * k + element : k) * d];
    };
    std::vector<double> out(d, 0.0);
    if (n == 0) return out;
    const double* v;
    if (time <= s.input[0] || n == 1) {
        v = at(0, 1);
        out.assign(v, v + d);
        return out;
    }
    if (time >= s.input[n - 1]) {
        v = at(n - 1, 1);
        out.assign(v, v + d);
        return out;
    }
    size_t k = size_t(std::upper_bound(s.input.begin(), s.input.end(), time) - s.input.begin()) - 1;
    const double t0 = s.input[k], t1 = s.input[k + 1], td = t1 - t0;
    const double u = (time - t0) / td;
    const double* a = at(k, 1);
    const double* b = at(k + 1, 1);
    switch (s.interpolation) {
        case Interpolation::Step:
            out.assign(a, a + d);
            break;
        case Interpolation::Linear:
            if (path == Path::Rotation && d == 4) {
                double q1[4] = {b[0], b[1], b[2], b[3]};
                double dot = a[0] * q1[0] + a[1] * q1[1] + a[2] * q1[2] + a[3] * q1[3];
                if (dot < 0) {
                    dot = -dot;
                    for (double& c : q1)
                        c = -c;
                }
                double wa = 1 - u, wb = u;
                if (dot < 1 - 1e-12) {
                    const double theta = std::acos(std::min(dot, 1.0));
                    wa = std::sin((1 - u) * theta) / std::sin(theta);
                    wb = std::sin(u * theta) / std::sin(theta);
                }
                for (size_t c = 0; c < 4; ++c)
                    out[c] = wa * a[c] + wb * q1[c];
                Normalize4(out.data());
            } else {
                for (size_t c = 0; c < d; ++c)
                    out[c] = (1 - u) * a[c] + u * b[c];
            }
            break;
        case Interpolation::CubicSpline: {
            const double* outTangent = at(k, 2);
            const double* inTangent = at(k + 1, 0);
            const double u2 = u * u, u3 = u2 * u;
            for (size_t c = 0; c < d; ++c)
                out[c] = (2 * u3 - 3 * u2 + 1) * a[c] + td * (u3 - 2 * u2 + u) * outTangent[c] +
                         (-2 * u3 + 3 * u2) * b[c] + td * (u3 - u2) * inTangent[c];
            if (path == Path::Rotation && d == 4) Normalize4(out.data());
            break;
        }
    }
    return out;
}

std::vector<Matrix> Document::Locals(int animation, double time) const {
    std::vector<Matrix> locals(nodes.size());
    std::vector<Node> posed = nodes;
    std::vector<bool> moved(nodes.size(), false);
    if (animation >= 0 && size_t(animation) < animations.size()) {
        const Animation& a = animations[size_t(animation)];
        for (const Channel& c : a.channels) {
            if (c.node < 0 || size_t(c.node) >= nodes.size() || c.path == Path::Weights) continue;
            const std::vector<double> v = Evaluate(a.samplers[size_t(c.sampler)], c.path, time);
            Node& node = posed[size_t(c.node)];
            double* target = c.path == Path::Translation ? node.translation
                             : c.path == Path::Rotation  ? node.rotation
                                                         : node.scale;
            std::copy(v.begin(), v.end(), target);
            moved[size_t(c.node)] = true;
        }
    }
    for (size_t i = 0; i < nodes.size(); ++i) {
        const Node& n = posed[i];
        locals[i] =
            n.hasMatrix && !moved[i] ? n.matrix : Compose(n.translation, n.rotation, n.scale);
    }
    return locals;
}

std::vector<Matrix> Document::Worlds(int animation, double time) const {
    const std::vector<Matrix> locals = Locals(animation, time);
    std::vector<Matrix> worlds(nodes.size());
    std::vector<bool> done(nodes.size(), false);
    // Parents first, whatever the order of the node array.
    for (size_t i = 0; i < nodes.size(); ++i) {
        std::vector<size_t> chain;
        for (size_t j = i; !done[j]; j = size_t(nodes[j].parent)) {
            chain.push_back(j);
            if (nodes[j].parent < 0) break;
        }
        for (size_t c = chain.size(); c-- > 0;) {
            const size_t j = chain[c];
            worlds[j] = nodes[j].parent < 0 ? locals[j]
                                            : Multiply(worlds[size_t(nodes[j].parent)], locals[j]);
            done[j] = true;
        }
    }
    return worlds;
}

std::vector<std::array<double, 3>> Document::SkinVertices(const SkinnedPrimitive& primitive,
                                                          const std::vector<Matrix>& worlds) const {
    const gltf_reference::Skin& skin = skins.at(size_t(primitive.skin));
    std::vector<Matrix> joint(skin.joints.size());
    for (size_t j = 0; j < skin.joints.size(); ++j)
        joint[j] = Multiply(worlds.at(size_t(skin.joints[j])), skin.inverseBind[j]);
    const size_t count = primitive.positions.size() / 3;
    std::vector<std::array<double, 3>> out(count, {0, 0, 0});
    for (size_t v = 0; v < count; ++v) {
        double sum = 0;
        for (int k = 0; k < 4; ++k)
            sum += primitive.weights[4 * v + size_t(k)];
        for (int k = 0; k < 4; ++k) {
            const double w = primitive.weights[4 * v + size_t(k)];
            if (w == 0 || sum <= 0) continue;
            const std::array<double, 3> p = TransformPoint(
                joint.at(size_t(primitive.joints[4 * v + size_t(k)])), &primitive.positions[3 * v]);
            for (int c = 0; c < 3; ++c)
                out[v][size_t(c)] += w / sum * p[size_t(c)];
        }
    }
    return out;
}

}  // namespace gltf_reference

// The animation of a glTF 2.0 file as its file states it: each channel's key times, values
// (with in- and out-tangents for cubic splines) and interpolation, which the general scene
// reader does not keep. Private to the importer.
#pragma once

#include <string>
#include <vector>

namespace orvane_import {

enum class GltfPath { Translation, Rotation, Scale };
enum class GltfInterpolation { Step, Linear, CubicSpline };

struct GltfChannel {
    int node = -1;
    GltfPath path = GltfPath::Translation;
    GltfInterpolation interpolation = GltfInterpolation::Linear;
    int components = 3;        // 3, or 4 for rotations (x, y, z, w)
    std::vector<float> times;  // seconds, strictly increasing, at least one
    // components values per key; for cubic splines three groups per key: in-tangent, value,
    // out-tangent. All finite.
    std::vector<float> values;
};

struct GltfClip {
    std::string name;
    std::vector<GltfChannel> channels;  // translation, rotation and scale channels only
};

struct GltfAnimation {
    std::vector<std::string> names;          // per node, empty where the file names none
    std::vector<std::vector<int>> children;  // per node, in the file's order
    std::vector<int> roots;                  // the nodes of the scene shown
    std::vector<GltfClip> clips;             // in the file's order
};

// Reads the nodes and animations of Path (.gltf with embedded or neighbouring buffers, or
// .glb). Everything read is checked: accessors inside their buffers, counts that match, key
// times finite and increasing, values finite, node indices in range and a hierarchy without
// cycles. False with Error set when the file cannot be read or is not sound.
bool ReadGltfAnimation(const char* path, GltfAnimation* out, std::string* error);

}  // namespace orvane_import

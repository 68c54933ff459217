// An evaluator of glTF 2.0 scenes written for the tests, independent of the importer: it reads
// .gltf and .glb files with nlohmann-json, and evaluates the node hierarchy and the TRS channels
// of an animation (LINEAR with spherical interpolation of rotations along the shorter arc, STEP,
// and CUBICSPLINE as the glTF 2.0 Hermite form, tangents scaled by the key interval) in double
// precision at any time, giving node and joint world matrices. Morph weights are not evaluated.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace gltf_reference {

// Column-major 4x4 matrix that multiplies column vectors (translation in elements 12 to 14).
using Matrix = std::array<double, 16>;

Matrix Identity();
Matrix Multiply(const Matrix& a, const Matrix& b);  // a * b: b applied first
// T * R * S of a translation, a unit quaternion (x, y, z, w) and a scale.
Matrix Compose(const double t[3], const double r[4], const double s[3]);
std::array<double, 3> TransformPoint(const Matrix& m, const double p[3]);

enum class Path { Translation, Rotation, Scale, Weights };
enum class Interpolation { Linear, Step, CubicSpline };

struct Sampler {
    std::vector<double> input;   // key times, seconds
    std::vector<double> output;  // values; three per key (in-tangent, value, out-tangent) for cubic
    int components = 0;          // 3 or 4 (weights: the morph target count)
    Interpolation interpolation = Interpolation::Linear;
};

struct Channel {
    int node = -1;
    Path path = Path::Translation;
    int sampler = -1;
};

struct Animation {
    std::string name;
    std::vector<Sampler> samplers;
    std::vector<Channel> channels;
    double duration = 0;  // the largest key time of its samplers
};

struct Node {
    std::string name;
    int parent = -1;
    std::vector<int> children;
    bool hasMatrix = false;
    Matrix matrix = Identity();
    double translation[3] = {0, 0, 0};
    double rotation[4] = {0, 0, 0, 1};
    double scale[3] = {1, 1, 1};
};

struct Skin {
    std::vector<int> joints;
    std::vector<Matrix> inverseBind;  // one per joint (identity when the file gives none)
};

// One primitive of a skinned mesh: positions and four influences per vertex.
struct SkinnedPrimitive {
    int node = -1;  // the node that holds the mesh
    int skin = -1;
    std::vector<double> positions;  // three per vertex
    std::vector<int> joints;        // four per vertex: indices into the skin's joints
    std::vector<double> weights;    // four per vertex
};

struct Document {
    std::vector<Node> nodes;
    std::vector<Animation> animations;
    std::vector<Skin> skins;
    std::vector<SkinnedPrimitive> skinned;

    // Reads Path (.gltf with data: URIs or files beside it, or .glb); false with Error set.
    bool Load(const std::string& path, std::string* error);

    // Value of one sampler at Time (keys held before the first and after the last key).
    std::vector<double> Evaluate(const Sampler& sampler, Path path, double time) const;
    // Local matrices of every node at Time of the animation (-1: the rest pose).
    std::vector<Matrix> Locals(int animation, double time) const;
    // World matrices of every node (parents applied), same arguments.
    std::vector<Matrix> Worlds(int animation, double time) const;
    // Skinned vertex positions of Primitive for node world matrices Worlds: the weighted sum of
    // joint world times inverse bind matrix times position, weights divided by their sum.
    std::vector<std::array<double, 3>> SkinVertices(const SkinnedPrimitive& primitive,
                                                    const std::vector<Matrix>& worlds) const;
};

}  // namespace gltf_reference

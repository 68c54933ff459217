// The importer's working state, shared by its scene part (skeleton, meshes, materials,
// textures, writing: orvane_import.cpp) and its animation part (clips: orvane_import_clips.cpp).
// Private to the importer.
#pragma once

#include <assimp/scene.h>

#include <cstdarg>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "orvane/import.h"
#include "orvane/mesh.h"
#include "orvane/track_group.h"
#include "orvane/types.h"
#include "orvane_gltf_animation.h"

namespace orvane_import {

// A decomposed transform in Orvane's conventions (quaternion x, y, z, w; row-major 3x3).
struct Pose {
    float position[3] = {0, 0, 0};
    float orientation[4] = {0, 0, 0, 1};
    float scaleShear[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
};

// The transform of M, its quaternion normalised (the identity for a degenerate one).
Pose Decompose(const aiMatrix4x4& m);
// Every element finite.
bool Finite(const aiMatrix4x4& m);
// The node's local transform at Time (ticks) from its channel, as assimp's own evaluation
// does: keys clamped at both ends, linear position and scale, spherical orientation.
aiMatrix4x4 ChannelTransform(const aiNodeAnim* channel, double time, const aiMatrix4x4& rest);
// The last part of a path, and its extension in lower case.
std::string BaseName(const char* path);
std::string Extension(const char* path);

struct Bone {
    std::string name;
    const aiNode* node = nullptr;
    int parent = -1;
    bool hasOffset = false;
    aiMatrix4x4 offset;      // inverse bind matrix
    aiMatrix4x4 bindWorld;   // rest world transform
    aiMatrix4x4 nodeGlobal;  // the node hierarchy's global transform
};

struct MeshOut {
    std::string name;
    orvane_vertex_data* vertexData = nullptr;
    orvane_tri_topology* topology = nullptr;
    std::vector<std::string> boneNames;
    std::vector<orvane_bone_binding> boneBindings;
    orvane_material_binding materialBinding = {nullptr};
    orvane_mesh mesh = {};
};

struct ClipOut {
    std::string name;
    orvane_track_group* group = nullptr;
    orvane_animation animation = {};
    float maxError = 0;
    ~ClipOut() { OrvaneFreeBuilderResult(group); }
};

// What a clip's root motion has travelled up to the latest frame.
struct RootTravel {
    bool started = false;
    double start[3] = {0, 0, 0};  // the chosen bone's horizontal position at the first frame
    double heading0 = 0, heading = 0, raw = 0;  // its heading, unwrapped from frame to frame
    Pose last;                                  // the root motion bone's latest transform
};

// A clip as keyed channels, each on a bone (its node field holds the bone's index).
struct KeyedClip {
    std::string name;
    float duration = 0;  // seconds
    float timeStep = 0;  // the frame time of its keys' grid, 0 for the finest key spacing
    std::vector<orvane_import::GltfChannel> channels;
};

// The part of the tolerance that the compressor may use at its measuring points: a vertex
// between them can move by a little more than the largest of the three.
constexpr float kMeasuredShare = 0.75f;

struct Import {
    const orvane_import_options* options = nullptr;
    orvane_import_summary* summary = nullptr;
    std::string error;

    std::vector<Bone> bones;
    std::map<std::string, int> boneByName;
    orvane_skeleton* skeleton = nullptr;
    std::vector<int> remap;  // builder index -> skeleton index
    std::string skeletonName;
    float height = 1;
    float lo[3] = {1e30f, 1e30f, 1e30f}, hi[3] = {-1e30f, -1e30f, -1e30f};  // rest extent
    // Per bone (builder order), in its own units of the written content: how far from its
    // joint the farthest vertex it moves lies (0 when it moves none).
    std::vector<float> reach;
    int rootMotionBone = -1;  // the bone whose travel a clip's root motion takes (builder order)
    float unitsPerMeter = 1;
    // The change into the requested basis, applied to the rest pose, the meshes and every
    // sample before fitting, so that the tolerance holds in the written content.
    bool convert = false;
    float affine[3] = {0, 0, 0}, linear[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1},
          inverse[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    float scale = 1;

    std::vector<std::unique_ptr<MeshOut>> meshes;
    // Scene materials first (index = the scene's), then one per texture they map.
    std::vector<std::unique_ptr<std::string>> names;
    std::vector<std::unique_ptr<orvane_material>> materials;
    std::vector<std::unique_ptr<orvane_material_map>> maps;
    std::vector<orvane_material*> materialPointers;
    std::vector<orvane_texture*> textures;
    std::map<std::string, orvane_material*> textureMaterials;
    int sceneMaterials = 0;
    std::vector<std::unique_ptr<ClipOut>> clips;

    std::string toolName, fromFileName, modelName;
    orvane_art_tool_info art = {};
    orvane_exporter_info exporter = {};
    orvane_model model = {};
    orvane_model* modelPointer = &model;
    std::vector<orvane_model_mesh_binding> meshBindings;

    ~Import() {
        for (auto& m : meshes) {
            OrvaneFreeBuilderResult(m->vertexData);
            OrvaneFreeBuilderResult(m->topology);
        }
        OrvaneFreeBuilderResult(skeleton);
        for (orvane_texture* t : textures)
            OrvaneFreeBuilderResult(t);
    }

    void Grow(const aiVector3D& p) {
        const float v[3] = {p.x, p.y, p.z};
        for (int k = 0; k < 3; ++k)
            lo[k] = std::min(lo[k], v[k]), hi[k] = std::max(hi[k], v[k]);
        height = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2], 1e-6f}) * scale;
    }

    char* Keep(const std::string& text) {
        names.push_back(std::make_unique<std::string>(text));
        return names.back()->data();
    }

    bool Fail(int line, const char* format, ...) __attribute__((format(printf, 3, 4))) {
        char text[512];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        if (error.empty()) error = text;
        orvane_log_callback log = OrvaneGetLogCallback();
        if (log.Function) {
            char prefixed[600];
            std::snprintf(prefixed, sizeof prefixed, "%s(%d): %s", "orvane_import", line, text);
            log.Function(OrvaneErrorMessage, OrvaneApplicationOrigin, prefixed, log.UserData);
        }
        return false;
    }

    void Report(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        if (!options->Report) return;
        char text[512];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        options->Report(text, options->UserData);
    }

    void Progress(const char* step, int done, int total) {
        if (options->Progress) options->Progress(step, done, total, options->UserData);
    }

    bool BuildSkeleton(const aiScene* scene, bool skipMeshes);
    bool BuildMesh(const aiScene* scene, const aiMesh* mesh, const aiNode* node);
    void Materials(const aiScene* scene, const char* path);
    orvane_material* TextureMaterial(const aiScene* scene, const char* path, const aiString& file);
    bool BuildClip(const aiAnimation* animation, const aiScene* source,
                   const std::string& fallbackName, const char* sourcePath);
    // glTF clips as the file keeps them (each channel's keys and interpolation).
    orvane_import::GltfAnimation gltf;
    std::map<const aiNode*, int> gltfNode;  // the file's node of each scene node
    bool ReadGltf(const aiScene* scene, const char* path);
    bool BuildExactClip(const KeyedClip& source, const std::vector<aiMatrix4x4>& still,
                        const char* why);
    bool ExactClip(const KeyedClip& source, const std::vector<aiMatrix4x4>& still, const char* why,
                   std::unique_ptr<ClipOut>* out, std::string* line);
    double ClipDistance(const orvane_track_group* candidate, const orvane_track_group* reference,
                        const std::vector<double>& times, float duration,
                        const std::vector<float>& shells) const;
    KeyedClip GltfKeyedClip(const orvane_import::GltfClip& source, const std::string& fallback);
    std::vector<double> CarriedReach() const;
    void TakeOutTravel(std::vector<Pose>* local, RootTravel* travel, bool repeatLast) const;
    std::vector<float> ShellDistances() const;
    std::string LoopText(const std::vector<Pose>& first, const std::vector<Pose>& last) const;
    void ArtToolInfo(const aiScene* scene, const char* path);
    bool PrepareBasis();
    bool Write(const char* path);
};

}  // namespace orvane_import

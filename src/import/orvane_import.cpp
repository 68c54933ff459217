// The importer: an art-tool scene (through assimp) becomes an Orvane content file.
//
// Offline code: it runs once per asset on a developer's machine, so it keeps its working data
// in standard containers (assimp allocates through the C++ heap as well); everything that ends
// up in the file goes through the run-time library's builders, which use the library allocator.
#include "orvane/import.h"

#include <assimp/config.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <assimp/Importer.hpp>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "orvane/basis_conversion.h"
#include "orvane/compress.h"
#include "orvane/curve.h"
#include "orvane/curve_builder.h"
#include "orvane/track_group_builder.h"
#include "orvane/track_group.h"
#include "orvane/track_sampler.h"
#include "orvane/skeleton_builder.h"
#include "orvane/core.h"
#include "orvane/file.h"
#include "orvane/file_builder.h"
#include "orvane/data_tree_writer.h"
#include "orvane/math.h"
#include "orvane/mesh.h"
#include "orvane/mesh_builder.h"
#include "orvane/texture.h"
#include "orvane/texture_builder.h"
#include "orvane/types.h"
#include "orvane_exact_curves.h"
#include "orvane_gltf_animation.h"

extern "C" {
// stb_image, as Debian's libstb builds it.
unsigned char* stbi_load(const char* filename, int* x, int* y, int* comp, int req_comp);
unsigned char* stbi_load_from_memory(const unsigned char* buffer, int len, int* x, int* y,
                                     int* comp, int req_comp);
void stbi_image_free(void* retval_from_stbi_load);
const char* stbi_failure_reason(void);
}

namespace {

using orvane_import::ChannelCurve;
using orvane_import::Constant;
using orvane_import::CurveDataBytes;
using orvane_import::ExactCurve;
using orvane_import::HoldIfStill;
using orvane_import::KeepLastIntervalWhenLooping;
using orvane_import::ScaleShear;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

const unsigned kReadFlags = aiProcess_Triangulate | aiProcess_LimitBoneWeights |
                            aiProcess_JoinIdenticalVertices | aiProcess_GenSmoothNormals;

// A decomposed transform in Orvane's conventions (quaternion x, y, z, w; row-major 3x3).
struct Pose {
    float position[3] = {0, 0, 0};
    float orientation[4] = {0, 0, 0, 1};
    float scaleShear[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
};

Pose Decompose(const aiMatrix4x4& m) {
    aiVector3D s, t;
    aiQuaternion r;
    m.Decompose(s, r, t);
    Pose p;
    p.position[0] = t.x, p.position[1] = t.y, p.position[2] = t.z;
    const float n = std::sqrt(r.x * r.x + r.y * r.y + r.z * r.z + r.w * r.w);
    const float k = n > 0 ? 1 / n : 0;
    p.orientation[0] = r.x * k, p.orientation[1] = r.y * k, p.orientation[2] = r.z * k;
    p.orientation[3] = n > 0 ? r.w * k : 1;
    p.scaleShear[0] = s.x, p.scaleShear[4] = s.y, p.scaleShear[8] = s.z;
    return p;
}

bool Finite(const aiMatrix4x4& m) {
    const float* f = &m.a1;
    for (int i = 0; i < 16; ++i)
        if (!std::isfinite(f[i])) return false;
    return true;
}

// The node's local transform at Time (ticks) from its channel, as assimp's own evaluation
// does: keys clamped at both ends, linear position and scale, spherical orientation.
template <typename Key, typename Value>
Value Interpolate(const Key* keys, unsigned count, double time, Value fallback) {
    if (count == 0) return fallback;
    if (count == 1 || time <= keys[0].mTime) return keys[0].mValue;
    if (time >= keys[count - 1].mTime) return keys[count - 1].mValue;
    unsigned hi = unsigned(std::upper_bound(keys, keys + count, time,
                                            [](double t, const Key& k) { return t < k.mTime; }) -
                           keys);
    const Key& a = keys[hi - 1];
    const Key& b = keys[hi];
    const double span = b.mTime - a.mTime;
    const float f = span > 0 ? float((time - a.mTime) / span) : 0.0f;
    if constexpr (std::is_same_v<Value, aiQuaternion>) {
        aiQuaternion out;
        aiQuaternion::Interpolate(out, a.mValue, b.mValue, f);
        return out.Normalize();
    } else {
        return a.mValue + (b.mValue - a.mValue) * f;
    }
}

aiMatrix4x4 ChannelTransform(const aiNodeAnim* channel, double time, const aiMatrix4x4& rest) {
    aiVector3D s0, t0;
    aiQuaternion r0;
    rest.Decompose(s0, r0, t0);
    const aiVector3D t = Interpolate(channel->mPositionKeys, channel->mNumPositionKeys, time, t0);
    const aiQuaternion r = Interpolate(channel->mRotationKeys, channel->mNumRotationKeys, time, r0);
    const aiVector3D s = Interpolate(channel->mScalingKeys, channel->mNumScalingKeys, time, s0);
    return aiMatrix4x4(s, r, t);
}

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

std::string BaseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

std::string Extension(const char* path) {
    std::string base = BaseName(path);
    size_t dot = base.rfind('.');
    std::string ext = dot == std::string::npos ? "" : base.substr(dot + 1);
    for (char& c : ext)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

// The skeleton mesh that the BVH reader makes up for a scene without meshes is no content.
bool IsMadeUpSkeletonMesh(const aiScene* scene, const aiMesh* mesh) {
    if (mesh->mMaterialIndex >= scene->mNumMaterials) return false;
    aiString name;
    scene->mMaterials[mesh->mMaterialIndex]->Get(AI_MATKEY_NAME, name);
    return std::strcmp(name.C_Str(), "SkeletonMaterial") == 0;
}

void CollectNodes(const aiNode* node, std::vector<const aiNode*>* order,
                  std::map<const aiNode*, aiMatrix4x4>* global, const aiMatrix4x4& parent) {
    const aiMatrix4x4 g = parent * node->mTransformation;
    (*global)[node] = g;
    order->push_back(node);
    for (unsigned i = 0; i < node->mNumChildren; ++i)
        CollectNodes(node->mChildren[i], order, global, g);
}

bool Import::BuildSkeleton(const aiScene* scene, bool skipMeshes) {
    std::vector<const aiNode*> order;
    std::map<const aiNode*, aiMatrix4x4> global;
    CollectNodes(scene->mRootNode, &order, &global, aiMatrix4x4());

    // Bones: nodes that a mesh binds, nodes that a clip moves, nodes that hold a mesh, and
    // every ancestor of those, so that bone world transforms are the nodes' global ones.
    std::map<std::string, aiMatrix4x4> offsets;
    std::map<const aiNode*, bool> wanted;
    std::map<std::string, const aiNode*> nodeByName;
    for (const aiNode* n : order)
        nodeByName.emplace(n->mName.C_Str(), n);
    for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
        const aiMesh* mesh = scene->mMeshes[m];
        if (skipMeshes && IsMadeUpSkeletonMesh(scene, mesh)) continue;
        for (unsigned b = 0; b < mesh->mNumBones; ++b) {
            const aiBone* bone = mesh->mBones[b];
            offsets.emplace(bone->mName.C_Str(), bone->mOffsetMatrix);
            auto it = nodeByName.find(bone->mName.C_Str());
            if (it != nodeByName.end()) wanted[it->second] = true;
        }
    }
    for (const aiNode* n : order) {
        for (unsigned i = 0; i < n->mNumMeshes; ++i) {
            if (n->mMeshes[i] >= scene->mNumMeshes) continue;
            const aiMesh* mesh = scene->mMeshes[n->mMeshes[i]];
            if (skipMeshes && IsMadeUpSkeletonMesh(scene, mesh)) continue;
            if (mesh->mNumBones == 0) wanted[n] = true;
        }
    }
    for (unsigned a = 0; a < scene->mNumAnimations; ++a) {
        const aiAnimation* anim = scene->mAnimations[a];
        for (unsigned c = 0; c < anim->mNumChannels; ++c) {
            auto it = nodeByName.find(anim->mChannels[c]->mNodeName.C_Str());
            if (it != nodeByName.end()) wanted[it->second] = true;
        }
    }
    if (wanted.empty()) wanted[scene->mRootNode] = true;
    for (auto& [node, flag] : std::map<const aiNode*, bool>(wanted))
        for (const aiNode* p = node->mParent; p; p = p->mParent)
            wanted[p] = true;

    std::map<const aiNode*, int> index;
    for (const aiNode* n : order) {
        if (!wanted.count(n)) continue;
        Bone bone;
        bone.name = n->mName.C_Str();
        if (bone.name.empty() || boneByName.count(bone.name))
            bone.name.append(1, '#').append(std::to_string(bones.size()));
        bone.node = n;
        bone.parent = n->mParent && index.count(n->mParent) ? index[n->mParent] : -1;
        bone.nodeGlobal = global[n];
        auto off = offsets.find(n->mName.C_Str());
        if (off != offsets.end() && Finite(off->second)) {
            bone.hasOffset = true;
            bone.offset = off->second;
            bone.bindWorld = aiMatrix4x4(off->second).Inverse();
        } else {
            bone.bindWorld = bone.parent >= 0
                                 ? bones[size_t(bone.parent)].bindWorld * n->mTransformation
                                 : n->mTransformation;
        }
        index[n] = int(bones.size());
        boneByName[bone.name] = int(bones.size());
        bones.push_back(bone);
    }
    if (options->RootMotionBone) {
        // Root motion: a bone of its own above every root carries the chosen bone's travel
        // (its horizontal movement and its heading), which playing with root motion takes out
        // of the pose and puts into the model's placement.
        auto chosen = boneByName.find(options->RootMotionBone);
        if (chosen == boneByName.end())
            return Fail(__LINE__, "root motion: \"%s\" is not a bone", options->RootMotionBone);
        rootMotionBone = chosen->second + 1;
        Bone travel;
        travel.name = "RootMotion";
        while (boneByName.count(travel.name))
            travel.name += "#";
        for (Bone& b : bones)
            b.parent = b.parent < 0 ? 0 : b.parent + 1;
        bones.insert(bones.begin(), travel);
        boneByName.clear();
        for (size_t i = 0; i < bones.size(); ++i)
            boneByName[bones[i].name] = int(i);
    }
    if (bones.size() > 0x7fff)
        return Fail(__LINE__, "%zu bones are more than a skeleton holds", bones.size());

    orvane_skeleton_builder* builder = OrvaneBeginSkeleton(int(bones.size()));
    if (!builder) return Fail(__LINE__, "no memory for the skeleton builder");
    for (size_t i = 0; i < bones.size(); ++i) {
        const Bone& b = bones[i];
        aiMatrix4x4 local = b.bindWorld;
        if (b.parent >= 0) local = aiMatrix4x4(bones[size_t(b.parent)].bindWorld).Inverse() * local;
        const Pose l = Decompose(local);
        const Pose w = Decompose(b.bindWorld);
        OrvaneAddBone(builder, l.position, l.orientation, l.scaleShear, w.position, w.orientation,
                      w.scaleShear);
        OrvaneSetBoneParent(builder, int(i), b.parent);
    }
    remap.assign(bones.size(), -1);
    skeleton = OrvaneEndSkeleton(builder, remap.data());
    if (!skeleton) return Fail(__LINE__, "the skeleton cannot be built");
    skeletonName = scene->mRootNode->mName.length ? scene->mRootNode->mName.C_Str() : "Skeleton";
    skeleton->Name = skeletonName.data();
    for (size_t i = 0; i < bones.size(); ++i)
        skeleton->Bones[remap[i]].Name = bones[i].name.data();

    // The character's extent (the meshes add theirs as they are built).
    for (const Bone& b : bones)
        Grow(aiVector3D(b.bindWorld.a4, b.bindWorld.b4, b.bindWorld.c4));
    reach.assign(bones.size(), 0.0f);
    if (convert && !OrvaneTransformSkeleton(skeleton, affine, linear, inverse, 1e-6f, 1e-6f, 0))
        return Fail(__LINE__, "the skeleton cannot be converted into the requested basis");
    Report("skeleton \"%s\": %d bones, %zu with inverse bind matrices", skeleton->Name,
           skeleton->BoneCount, offsets.size());
    return true;
}

// A material that holds the texture a scene material maps: embedded in the scene or in a file
// beside it, decoded to RGBA and encoded raw or S3TC. Null (after a report) when it cannot be
// read; textures shared by several materials are built once.
orvane_material* Import::TextureMaterial(const aiScene* scene, const char* path,
                                         const aiString& file) {
    const std::string key = file.C_Str();
    auto known = textureMaterials.find(key);
    if (known != textureMaterials.end()) return known->second;
    textureMaterials[key] = nullptr;

    int width = 0, height = 0, channels = 0;
    unsigned char* pixels = nullptr;
    std::vector<unsigned char> texels;
    std::string name = key;
    if (const aiTexture* embedded = scene->GetEmbeddedTexture(file.C_Str())) {
        if (embedded->mFilename.length) name = embedded->mFilename.C_Str();
        if (embedded->mHeight == 0) {
            if (embedded->mWidth > 0 && embedded->mWidth < 0x7fffffffu)
                pixels =
                    stbi_load_from_memory(reinterpret_cast<const unsigned char*>(embedded->pcData),
                                          int(embedded->mWidth), &width, &height, &channels, 4);
        } else if (embedded->mWidth < 65536 && embedded->mHeight < 65536) {
            width = int(embedded->mWidth);
            height = int(embedded->mHeight);
            texels.resize(size_t(width) * size_t(height) * 4);
            for (size_t i = 0; i < size_t(width) * size_t(height); ++i) {
                const aiTexel& t = embedded->pcData[i];
                texels[4 * i] = t.r, texels[4 * i + 1] = t.g, texels[4 * i + 2] = t.b;
                texels[4 * i + 3] = t.a;
            }
        }
    } else {
        std::string beside = path;
        const size_t slash = beside.rfind('/');
        beside = slash == std::string::npos ? "" : beside.substr(0, slash + 1);
        std::string relative = key;
        std::replace(relative.begin(), relative.end(), '\\', '/');
        if (relative.rfind("file://", 0) == 0) relative = relative.substr(7);
        pixels = stbi_load((relative[0] == '/' ? relative : beside + relative).c_str(), &width,
                           &height, &channels, 4);
        if (!pixels) {
            // Exporters often keep the artist's absolute path: try the name alone.
            const size_t last = relative.rfind('/');
            if (last != std::string::npos)
                pixels = stbi_load((beside + relative.substr(last + 1)).c_str(), &width, &height,
                                   &channels, 4);
        }
    }
    const unsigned char* rgba = pixels ? pixels : texels.empty() ? nullptr : texels.data();
    if (!rgba || width <= 0 || height <= 0) {
        Report("texture \"%s\": cannot be read (%s), left out", key.c_str(),
               pixels || !texels.empty() ? "empty" : stbi_failure_reason());
        if (pixels) stbi_image_free(pixels);
        return nullptr;
    }
    orvane_texture_builder* builder =
        options->TextureEncoding == OrvaneImportS3TCTextures
            ? OrvaneBeginBestMatchS3TCTexture(width, height)
            : OrvaneBeginRawTexture(width, height, OrvaneRGBA8888PixelFormat, 4);
    if (builder) OrvaneEncodeImage(builder, width, height, width * 4, 1, rgba);
    orvane_texture* texture = builder ? OrvaneEndTexture(builder) : nullptr;
    if (pixels) stbi_image_free(pixels);
    if (!texture) {
        Report("texture \"%s\": cannot be encoded, left out", key.c_str());
        return nullptr;
    }
    texture->FromFileName = Keep(name);
    textures.push_back(texture);
    materials.push_back(std::make_unique<orvane_material>());
    orvane_material* holder = materials.back().get();
    *holder = {};
    holder->Name = texture->FromFileName;
    holder->Texture = texture;
    textureMaterials[key] = holder;
    Report("texture \"%s\": %d x %d, %s, %d bytes of pixels", name.c_str(), width, height,
           options->TextureEncoding == OrvaneImportS3TCTextures ? "S3TC" : "raw RGBA8888",
           texture->ImageCount && texture->Images[0].MIPLevelCount
               ? texture->Images[0].MIPLevels[0].PixelByteCount
               : 0);
    return holder;
}

void Import::Materials(const aiScene* scene, const char* path) {
    sceneMaterials = int(scene->mNumMaterials);
    for (unsigned i = 0; i < scene->mNumMaterials; ++i) {
        aiString name;
        scene->mMaterials[i]->Get(AI_MATKEY_NAME, name);
        materials.push_back(std::make_unique<orvane_material>());
        *materials.back() = {};
        materials.back()->Name = Keep(name.length ? name.C_Str() : "Material" + std::to_string(i));
    }
    for (unsigned i = 0; i < scene->mNumMaterials; ++i) {
        aiString file;
        const aiMaterial* m = scene->mMaterials[i];
        if (m->GetTexture(aiTextureType_DIFFUSE, 0, &file) != AI_SUCCESS &&
            m->GetTexture(aiTextureType_BASE_COLOR, 0, &file) != AI_SUCCESS)
            continue;
        orvane_material* holder = TextureMaterial(scene, path, file);
        if (!holder) continue;
        maps.push_back(std::make_unique<orvane_material_map>());
        maps.back()->Usage = const_cast<char*>("DiffuseColor");
        maps.back()->Map = holder;
        materials[i]->MapCount = 1;
        materials[i]->Maps = maps.back().get();
    }
    for (auto& m : materials)
        materialPointers.push_back(m.get());
}

bool Import::BuildMesh(const aiScene* scene, const aiMesh* mesh, const aiNode* node) {
    auto out = std::make_unique<MeshOut>();
    out->name = mesh->mName.length ? mesh->mName.C_Str() : "Mesh" + std::to_string(meshes.size());
    const bool skinned = mesh->mNumBones > 0;
    const bool uv = mesh->HasTextureCoords(0);

    // Influences per vertex, for the smallest layout that holds them.
    std::vector<std::vector<std::pair<int, float>>> weights(mesh->mNumVertices);
    int boneCount = 0;
    if (skinned) {
        for (unsigned b = 0; b < mesh->mNumBones; ++b) {
            const aiBone* bone = mesh->mBones[b];
            out->boneNames.push_back(bone->mName.C_Str());
            for (unsigned w = 0; w < bone->mNumWeights; ++w) {
                const aiVertexWeight& vw = bone->mWeights[w];
                if (vw.mVertexId < mesh->mNumVertices && vw.mWeight > 0 &&
                    std::isfinite(vw.mWeight))
                    weights[vw.mVertexId].push_back({int(b), vw.mWeight});
            }
        }
        boneCount = int(mesh->mNumBones);
    } else {
        // A rigid mesh moves with the bone of its node.
        auto it = boneByName.find(node->mName.C_Str());
        if (it == boneByName.end())
            return Fail(__LINE__, "mesh \"%s\": its node is not a bone", out->name.c_str());
        out->boneNames.push_back(bones[size_t(it->second)].name);
        boneCount = 1;
    }
    size_t influences = 1;
    for (auto& w : weights)
        influences = std::max(influences, w.size());
    orvane_data_type_definition* layout;
    if (!skinned)
        layout = uv ? OrvanePNT332VertexType : OrvanePN33VertexType;
    else if (influences <= 1)
        layout = uv ? OrvanePWNT3132VertexType : OrvanePWN313VertexType;
    else if (influences <= 2)
        layout = uv ? OrvanePWNT3232VertexType : OrvanePWN323VertexType;
    else
        layout = uv ? OrvanePWNT3432VertexType : OrvanePWN343VertexType;
    const int layoutBones = !skinned ? 0 : influences <= 1 ? 1 : influences <= 2 ? 2 : 4;
    if (layoutBones > 1 && boneCount > 256)
        return Fail(__LINE__, "mesh \"%s\": %d bones is more than byte bone indices hold",
                    out->name.c_str(), boneCount);

    // A rigid mesh's vertices are in its node's space; the bone's rest world transform takes
    // them to the model's rest space, where skinning expects them.
    aiMatrix4x4 toRest;
    if (!skinned) toRest = bones[size_t(boneByName[node->mName.C_Str()])].bindWorld;
    aiMatrix3x3 normalToRest = aiMatrix3x3(toRest).Inverse().Transpose();

    int triangles = 0;
    for (unsigned f = 0; f < mesh->mNumFaces; ++f)
        triangles += mesh->mFaces[f].mNumIndices == 3;
    orvane_mesh_builder* b =
        OrvaneBeginMesh(int(mesh->mNumVertices), triangles, 1, boneCount, layout);
    if (!b) return Fail(__LINE__, "mesh \"%s\": the mesh builder cannot start", out->name.c_str());
    // Where each bone's motion is seen: its vertices' distances from its joint, in its own
    // units (a rigid mesh's vertices are in its bone's space already).
    std::vector<int> meshBone(size_t(boneCount), -1);
    std::vector<aiMatrix4x4> toBone(static_cast<size_t>(boneCount));
    for (int i = 0; i < boneCount; ++i) {
        auto it = boneByName.find(out->boneNames[size_t(i)]);
        if (it == boneByName.end()) continue;
        meshBone[size_t(i)] = it->second;
        const Bone& bone = bones[size_t(it->second)];
        if (skinned)
            toBone[size_t(i)] =
                bone.hasOffset ? bone.offset : aiMatrix4x4(bone.bindWorld).Inverse();
    }
    for (unsigned v = 0; v < mesh->mNumVertices; ++v) {
        const aiVector3D p = toRest * mesh->mVertices[v];
        Grow(p);
        auto seen = [&](int i) {
            if (meshBone[size_t(i)] < 0) return;
            const float d = (toBone[size_t(i)] * mesh->mVertices[v]).Length() * scale;
            if (std::isfinite(d))
                reach[size_t(meshBone[size_t(i)])] =
                    std::max(reach[size_t(meshBone[size_t(i)])], d);
        };
        if (skinned)
            for (auto& [bone, w] : weights[v])
                seen(bone);
        else
            seen(0);
        OrvaneSetPosition(b, p.x, p.y, p.z);
        // Weights that do not sum to one, or more of them than the layout holds, are reduced
        // by weight and renormalised by the builder.
        if (skinned)
            for (auto& [bone, w] : weights[v])
                OrvaneAddWeight(b, bone, w);
        else
            OrvaneAddWeight(b, 0, 1);
        OrvanePushVertex(b);
    }
    for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
        const aiFace& face = mesh->mFaces[f];
        if (face.mNumIndices != 3) continue;
        bool ok = true;
        for (int c = 0; c < 3; ++c)
            ok = ok && face.mIndices[c] < mesh->mNumVertices;
        if (!ok) continue;
        for (int c = 0; c < 3; ++c) {
            const unsigned i = face.mIndices[c];
            OrvaneSetVertexIndex(b, c, int(i));
            aiVector3D n =
                mesh->HasNormals() ? normalToRest * mesh->mNormals[i] : aiVector3D(0, 0, 1);
            const float len = n.Length();
            if (len > 0 && std::isfinite(len)) n /= len;
            OrvaneSetNormal(b, c, n.x, n.y, n.z);
            if (uv) {
                const float t[2] = {mesh->mTextureCoords[0][i].x, mesh->mTextureCoords[0][i].y};
                OrvaneSetChannel(b, c, 0, t);
            }
        }
        OrvanePushTriangle(b);
    }
    if (!OrvaneEndMesh(b, &out->vertexData, &out->topology))
        return Fail(__LINE__, "mesh \"%s\": the mesh cannot be built", out->name.c_str());

    // Bone bindings with each bone's box in its own rest space.
    out->boneBindings.resize(size_t(boneCount));
    for (int i = 0; i < boneCount; ++i) {
        orvane_bone_binding& bb = out->boneBindings[size_t(i)];
        bb = {};
        bb.BoneName = out->boneNames[size_t(i)].data();
        for (int k = 0; k < 3; ++k)
            bb.OBBMin[k] = 1e30f, bb.OBBMax[k] = -1e30f;
    }
    for (unsigned v = 0; v < mesh->mNumVertices; ++v) {
        auto grow = [&](int bone, const aiMatrix4x4& toBone) {
            const aiVector3D p = toBone * mesh->mVertices[v];
            orvane_bone_binding& bb = out->boneBindings[size_t(bone)];
            const float q[3] = {p.x, p.y, p.z};
            for (int k = 0; k < 3; ++k)
                bb.OBBMin[k] = std::min(bb.OBBMin[k], q[k]),
                bb.OBBMax[k] = std::max(bb.OBBMax[k], q[k]);
        };
        if (skinned)
            for (auto& [bone, w] : weights[v])
                grow(bone, mesh->mBones[bone]->mOffsetMatrix);
        else
            grow(0, aiMatrix4x4());
    }
    for (auto& bb : out->boneBindings)
        if (bb.OBBMin[0] > bb.OBBMax[0])
            for (int k = 0; k < 3; ++k)
                bb.OBBMin[k] = bb.OBBMax[k] = 0;

    out->mesh.Name = out->name.data();
    out->mesh.BoneBindingCount = boneCount;
    out->mesh.BoneBindings = out->boneBindings.data();
    out->mesh.PrimaryVertexData = out->vertexData;
    out->mesh.PrimaryTopology = out->topology;
    if (convert &&
        !OrvaneTransformMesh(&out->mesh, affine, linear, inverse, 1e-6f, 1e-6f,
                             OrvaneBasisRenormalizeDirections | OrvaneBasisReverseMirroredWinding))
        return Fail(__LINE__, "mesh \"%s\": cannot be converted into the requested basis",
                    out->name.c_str());
    out->mesh.PrimaryVertexData = out->vertexData;
    out->mesh.PrimaryTopology = out->topology;
    out->mesh.BoneBindingCount = boneCount;
    out->mesh.BoneBindings = out->boneBindings.data();
    if (mesh->mMaterialIndex < materials.size()) {
        out->materialBinding.Material = materials[mesh->mMaterialIndex].get();
        out->mesh.MaterialBindingCount = 1;
        out->mesh.MaterialBindings = &out->materialBinding;
    }
    Report(
        "mesh \"%s\": %d vertices (%u in the source), %d triangles, %d bone bindings, %s, "
        "%d bone%s per vertex",
        out->name.c_str(), out->vertexData->VertexCount, mesh->mNumVertices, triangles, boneCount,
        skinned ? "skinned" : "rigid", layoutBones ? layoutBones : 1, layoutBones > 1 ? "s" : "");
    (void)scene;
    meshes.push_back(std::move(out));
    return true;
}

// The rate of a frame grid that holds every key of the clip (each within a thousandth of a
// frame, as frame times stored in single precision round): the finest key spacing's, or the
// whole rate near it when that grid holds the keys too. 0 when no grid up to MaximumRate holds
// them all; -1 when no two keys are apart (a one-frame clip).
double KeyGridRate(const aiAnimation* animation, double ticksPerSecond, double maximumRate) {
    std::vector<double> times;
    for (unsigned c = 0; c < animation->mNumChannels; ++c) {
        const aiNodeAnim* ch = animation->mChannels[c];
        for (unsigned k = 0; k < ch->mNumPositionKeys; ++k)
            times.push_back(ch->mPositionKeys[k].mTime / ticksPerSecond);
        for (unsigned k = 0; k < ch->mNumRotationKeys; ++k)
            times.push_back(ch->mRotationKeys[k].mTime / ticksPerSecond);
        for (unsigned k = 0; k < ch->mNumScalingKeys; ++k)
            times.push_back(ch->mScalingKeys[k].mTime / ticksPerSecond);
    }
    std::sort(times.begin(), times.end());
    double step = 0;
    for (size_t k = 1; k < times.size(); ++k) {
        const double d = times[k] - times[k - 1];
        if (d > 1e-7 && (step == 0 || d < step)) step = d;
    }
    if (step == 0) return -1;
    auto holds = [&](double rate) {
        if (!(rate <= maximumRate)) return false;
        for (double t : times) {
            const double frame = t * rate;
            if (std::fabs(frame - std::round(frame)) > 1e-3) return false;
        }
        return true;
    };
    const double rate = 1 / step;
    if (holds(std::round(rate))) return std::round(rate);
    return holds(rate) ? rate : 0;
}

// A clip's name: its own, unless it is missing or is the name of one of the many nodes it
// moves (a reader that gathers a file's per-node animations into one clip names it after the
// first of them, a camera say), then Fallback (the file's name).
std::string ClipName(const aiAnimation* animation, const std::string& fallback) {
    const std::string own = animation->mName.C_Str();
    if (own.empty()) return fallback;
    if (animation->mNumChannels > 1)
        for (unsigned c = 0; c < animation->mNumChannels; ++c)
            if (own == animation->mChannels[c]->mNodeName.C_Str()) return fallback;
    return own;
}

// The scene reader's keys of a channel as a linear keyed channel (its own evaluation blends
// linearly, orientations along the arc); keys at or before the one they follow are dropped.
orvane_import::GltfChannel KeyedChannel(const aiNodeAnim* ch, orvane_import::GltfPath path,
                                        double ticksPerSecond, int bone) {
    orvane_import::GltfChannel out;
    out.node = bone;
    out.path = path;
    out.interpolation = orvane_import::GltfInterpolation::Linear;
    out.components = path == orvane_import::GltfPath::Rotation ? 4 : 3;
    auto add = [&](double ticks, const float* v) {
        const float t = float(ticks / ticksPerSecond);
        if (!out.times.empty() && !(t > out.times.back())) return;
        out.times.push_back(t);
        out.values.insert(out.values.end(), v, v + out.components);
    };
    if (path == orvane_import::GltfPath::Translation)
        for (unsigned k = 0; k < ch->mNumPositionKeys; ++k) {
            const aiVector3D& p = ch->mPositionKeys[k].mValue;
            const float v[3] = {p.x, p.y, p.z};
            add(ch->mPositionKeys[k].mTime, v);
        }
    else if (path == orvane_import::GltfPath::Rotation)
        for (unsigned k = 0; k < ch->mNumRotationKeys; ++k) {
            const aiQuaternion& q = ch->mRotationKeys[k].mValue;
            const float v[4] = {q.x, q.y, q.z, q.w};
            add(ch->mRotationKeys[k].mTime, v);
        }
    else
        for (unsigned k = 0; k < ch->mNumScalingKeys; ++k) {
            const aiVector3D& s = ch->mScalingKeys[k].mValue;
            const float v[3] = {s.x, s.y, s.z};
            add(ch->mScalingKeys[k].mTime, v);
        }
    return out;
}

bool AllFinite(const std::vector<float>& values) {
    for (float v : values)
        if (!std::isfinite(v)) return false;
    return true;
}

bool Import::BuildClip(const aiAnimation* animation, const aiScene* source,
                       const std::string& fallbackName, const char* sourcePath) {
    const std::string name = ClipName(animation, fallbackName);
    // assimp leaves the rate 0 where a format has none: its own evaluation then takes 25.
    const double tps = animation->mTicksPerSecond > 0 ? animation->mTicksPerSecond : 25.0;
    if (!std::isfinite(animation->mDuration) || animation->mDuration < 0 || !std::isfinite(tps))
        return Fail(__LINE__, "clip \"%s\": bad duration", name.c_str());
    double duration = animation->mDuration / tps;

    // Channels matched to the bones by name; bones without one keep their node's transform in
    // the clip's own scene (clips stored apart), else their rest transform.
    std::vector<const aiNodeAnim*> channel(bones.size(), nullptr);
    std::vector<aiMatrix4x4> still(bones.size());
    int matched = 0;
    for (unsigned c = 0; c < animation->mNumChannels; ++c) {
        auto it = boneByName.find(animation->mChannels[c]->mNodeName.C_Str());
        if (it == boneByName.end()) continue;
        if (!channel[size_t(it->second)]) ++matched;
        channel[size_t(it->second)] = animation->mChannels[c];
    }
    if (matched == 0) {
        Report("animation \"%s\": no channel matches a bone, skipped", name.c_str());
        return true;
    }
    for (size_t i = 0; i < bones.size(); ++i) {
        if (!bones[i].node) continue;  // the root motion bone rests at the origin
        const aiNode* own = source->mRootNode->FindNode(bones[i].node->mName);
        still[i] = own ? own->mTransformation : bones[i].node->mTransformation;
    }

    // The keys as the file's reader blends them (linearly, orientations along the arc): the
    // clip itself where they lie off every frame grid, else the reference that the compressed
    // curves are checked against between their samples.
    KeyedClip keyed;
    keyed.name = name;
    keyed.duration = float(duration);
    for (size_t i = 0; i < bones.size(); ++i) {
        if (!channel[i]) continue;
        for (auto path : {orvane_import::GltfPath::Translation, orvane_import::GltfPath::Rotation,
                          orvane_import::GltfPath::Scale}) {
            orvane_import::GltfChannel ch = KeyedChannel(channel[i], path, tps, int(i));
            if (ch.times.empty()) continue;
            if (!AllFinite(ch.values) || !std::isfinite(ch.times.back()))
                return Fail(__LINE__, "clip \"%s\": keys that are not finite", name.c_str());
            keyed.duration = std::max(keyed.duration, ch.times.back());
            keyed.channels.push_back(std::move(ch));
        }
    }
    double rate = KeyGridRate(animation, tps, double(options->MaximumSampleRate));
    if (rate == 0) return BuildExactClip(keyed, still, "linear keys off any frame grid");
    // A clip without two keys apart takes the file's own frame time where it has one.
    if (rate < 0) rate = tps <= double(options->MaximumSampleRate) ? tps : 30;
    // Samples between keys where a turn between two keys is wide (above a tenth of a radian of
    // half angle, more than captures and baked clips turn in a frame) and blending the samples
    // would leave the arc the file's reader follows (by what it moves the farthest vertex the
    // bone carries, within a quarter of the tolerance): every key stays a sample. Motion
    // capture's frames are its data: one sample each.
    if (Extension(sourcePath) != "bvh") {
        const std::vector<double> carried = CarriedReach();
        const double allowed = 0.25 * double(summary->ToleranceUsed);
        int split = 1;
        for (size_t i = 0; i < bones.size(); ++i) {
            const aiNodeAnim* ch = channel[i];
            if (!ch) continue;
            const double lever = std::max(carried[i], allowed);
            for (unsigned k = 1; k < ch->mNumRotationKeys; ++k) {
                const aiQuaternion& a = ch->mRotationKeys[k - 1].mValue;
                const aiQuaternion& b = ch->mRotationKeys[k].mValue;
                const double dot = std::fabs(double(a.x) * b.x + double(a.y) * b.y +
                                             double(a.z) * b.z + double(a.w) * b.w);
                const double half = std::acos(std::min(1.0, dot));
                if (half <= 0.1) continue;
                const double frames = std::max(
                    1.0, std::round((ch->mRotationKeys[k].mTime - ch->mRotationKeys[k - 1].mTime) /
                                    tps * rate));
                int parts = 1;
                while (parts < 64 && orvane_import::BlendAngleError(half / parts) * lever > allowed)
                    ++parts;
                split = std::max(split, int(std::ceil(parts / frames)));
            }
        }
        while (split > 1 && rate * split > double(options->MaximumSampleRate))
            --split;
        rate *= split;
    }
    // Intervals of the clip at that rate: a whole number when the clip's end falls on a frame
    // (up to the rounding of a frame time stored as a float, a BVH's 0.041666668 s, which must
    // not add an interval); a clip that ends between frames holds its end to the next frame.
    const double intervals = duration * rate;
    const double whole = std::round(intervals);
    const double count = std::fabs(intervals - whole) <= 1e-3 ? whole : std::ceil(intervals);
    if (count > 1e6) return Fail(__LINE__, "clip \"%s\": too long", name.c_str());
    const double step = 1 / rate;
    const int samples = std::max(2, int(count) + 1);
    duration = count * step;
    // Looping plays a curve's last knot as its first: one sample more, past the end and never
    // played, repeats the first frame so that the last frame keeps its interval.
    const int frames = count >= 1 ? samples + 1 : samples;

    orvane_track_group_sampler* sampler = OrvaneBeginSampledAnimation(skeleton->BoneCount, frames);
    if (!sampler) return Fail(__LINE__, "clip \"%s\": no memory for its samples", name.c_str());
    std::vector<Pose> previous(bones.size()), first(bones.size()), last(bones.size());
    RootTravel travel;
    for (int f = 0; f < frames; ++f) {
        const double t =
            (f < samples ? std::min(f * step, double(animation->mDuration) / tps) : 0) * tps;
        std::vector<Pose> local(bones.size());
        for (size_t i = 0; i < bones.size(); ++i) {
            const aiMatrix4x4 m = channel[i] ? ChannelTransform(channel[i], t, still[i]) : still[i];
            local[i] = Decompose(m);
            if (convert) {
                static const float none[3] = {0, 0, 0};
                OrvaneInPlaceSimilarityTransform(bones[i].parent < 0 ? affine : none, linear,
                                                 inverse, local[i].position, local[i].orientation,
                                                 local[i].scaleShear);
            }
        }
        // The loop's extra sample repeats the first frame, but the travel keeps its end: the
        // clip's travel per loop is its last key less its first.
        if (rootMotionBone >= 0) TakeOutTravel(&local, &travel, f >= samples);
        // Samples go in skeleton order: track i is skeleton bone i.
        std::vector<Pose> frame(bones.size());
        for (size_t i = 0; i < bones.size(); ++i) {
            Pose p = local[i];
            // Neighbouring samples on the same side of the quaternion sphere.
            if (f > 0) {
                const float* q = previous[i].orientation;
                float dot = 0;
                for (int k = 0; k < 4; ++k)
                    dot += q[k] * p.orientation[k];
                if (dot < 0)
                    for (float& k : p.orientation)
                        k = -k;
            }
            previous[i] = p;
            if (f == 0) first[i] = p;
            if (f == samples - 1) last[i] = p;
            frame[size_t(remap[i])] = p;
        }
        for (size_t i = 0; i < bones.size(); ++i)
            OrvaneSetTransformSample(sampler, int(i), frame[i].position, frame[i].orientation,
                                     frame[i].scaleShear);
        OrvanePushSampledFrame(sampler);
    }

    orvane_animation_compression_options compression;
    OrvaneGetDefaultAnimationCompressionOptions(&compression);
    compression.ErrorBudget = kMeasuredShare * summary->ToleranceUsed;
    const std::vector<float> shells = ShellDistances();
    compression.ShellDistances = shells.data();
    struct ProgressState {
        Import* self;
        std::string step;
    } state = {this, "animation " + name};
    compression.Progress = [](int done, int total, void* user) {
        auto* s = static_cast<ProgressState*>(user);
        s->self->Progress(s->step.c_str(), done, total);
    };
    compression.ProgressUserData = &state;

    // The keys' own blend, which the compressed curves must follow between their samples too.
    keyed.timeStep = float(step);
    std::unique_ptr<ClipOut> reference;
    std::string referenceLine;
    if (!ExactClip(keyed, still, "the compressed curves left the keys' blend", &reference,
                   &referenceLine)) {
        OrvaneEndSampledAnimation(sampler);
        return false;
    }
    std::vector<double> times;
    for (int f = 0; f < samples; ++f) {
        times.push_back(f * step);
        if (f + 1 < samples) times.push_back((f + 0.5) * step);
    }
    // Compressed, then checked at every sample and half way between samples. Curves that leave
    // the keys' blend by more than the tolerance are made again with straight segments, 16-bit
    // knot times and a quarter of the budget, and where those leave it as well the keys are
    // kept as they are.
    std::unique_ptr<ClipOut> clip;
    orvane_animation_compression_statistics stats = {};
    double between = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt == 1) {
            // Knots on the samples: 8-bit knot times fall between samples of a long clip.
            compression.ErrorBudget *= 0.25f;
            compression.AllowedDegrees = 1u << 1;
            compression.AllowedFormats &=
                ~((1u << OrvaneCurveFormatDaK8uC8u) | (1u << OrvaneCurveFormatD4nK8uC7u) |
                  (1u << OrvaneCurveFormatD3K8uC8u) | (1u << OrvaneCurveFormatD9I1K8uC8u) |
                  (1u << OrvaneCurveFormatD9I3K8uC8u));
        }
        clip = std::make_unique<ClipOut>();
        clip->name = name;
        clip->group = OrvaneCompressAnimation(skeleton, sampler, frames, float(step),
                                              clip->name.c_str(), &compression, &stats);
        if (!clip->group) {
            OrvaneEndSampledAnimation(sampler);
            return Fail(__LINE__, "clip \"%s\": the compressor failed", name.c_str());
        }
        clip->maxError = stats.MaxError;
        between = reference
                      ? ClipDistance(clip->group, reference->group, times, float(duration), shells)
                      : 0;
        if (between <= double(summary->ToleranceUsed)) break;
    }
    OrvaneEndSampledAnimation(sampler);
    if (between > double(summary->ToleranceUsed)) {
        Report(
            "animation \"%s\": compressed, %g from the keys' blend between samples "
            "(tolerance %g): the keys are kept instead",
            name.c_str(), between, double(summary->ToleranceUsed));
        Report("%s", referenceLine.c_str());
        clips.push_back(std::move(reference));
        return true;
    }
    clip->maxError = std::max(clip->maxError, float(between));
    std::string motion = "no root motion";
    if (rootMotionBone >= 0) {
        last[0] = first[0];  // the travel leaves the pose when played with root motion
        // Played with root motion by default: the root motion bone's change each frame moves
        // the model, and leaves the pose.
        uint32_t flags = 0, dofs = 0;
        OrvaneGetTrackGroupFlags(clip->group, &flags, &dofs);
        OrvaneSetTrackGroupFlags(clip->group, flags | 4, dofs);
        const Pose& end = travel.last;
        for (int k = 0; k < 3; ++k)
            clip->group->LoopTranslation[k] = end.position[k];
        char text[160];
        std::snprintf(text, sizeof text,
                      "root motion from \"%s\": %.4g file units, turning %.3g degrees",
                      bones[size_t(rootMotionBone)].name.c_str(),
                      std::sqrt(double(end.position[0]) * end.position[0] +
                                double(end.position[1]) * end.position[1] +
                                double(end.position[2]) * end.position[2]),
                      (travel.heading - travel.heading0) * 180 / M_PI);
        motion = text;
    }
    clip->animation.Name = clip->name.data();
    clip->animation.Duration = float(duration);
    clip->animation.TimeStep = float(step);
    clip->animation.Oversampling = 1;
    clip->animation.TrackGroupCount = 1;
    clip->animation.TrackGroups = &clip->group;
    // The group was built with the clip's name pointer; keep it on the stable copy.
    clip->group->Name = clip->name.data();
    Report(
        "animation \"%s\": %.3f s, %d samples at %.6g/s, one on each key (%g ticks/s), %d of "
        "%d bones moved, max error %g of %g at the joints and farthest vertices, at and "
        "between samples (file units), %d bytes of curves (%d of them plain floats); %s; %s",
        name.c_str(), duration, samples, rate, tps, matched, skeleton->BoneCount,
        double(clip->maxError), double(summary->ToleranceUsed), stats.CurveDataBytes,
        stats.ExactComponents, LoopText(first, last).c_str(), motion.c_str());
    clips.push_back(std::move(clip));
    return true;
}

// Pairs the scene reader's nodes with the glTF file's (the reader keeps the file's hierarchy
// and child order; several scene roots hang under a root of its own).
bool PairNodes(const aiNode* node, int index, const orvane_import::GltfAnimation& file,
               std::map<const aiNode*, int>* pairs) {
    const std::vector<int>& children = file.children[size_t(index)];
    if (node->mNumChildren != children.size()) return false;
    const std::string& name = file.names[size_t(index)];
    if (!name.empty() && name != node->mName.C_Str()) return false;
    (*pairs)[node] = index;
    for (unsigned i = 0; i < node->mNumChildren; ++i)
        if (!PairNodes(node->mChildren[i], children[i], file, pairs)) return false;
    return true;
}

bool Import::ReadGltf(const aiScene* scene, const char* path) {
    std::string why;
    if (!orvane_import::ReadGltfAnimation(path, &gltf, &why)) {
    } else if (gltf.clips.size() != scene->mNumAnimations) {
        why = "the scene reader sees another number of clips";
    } else {
        bool paired = false;
        if (gltf.roots.size() == 1) {
            paired = PairNodes(scene->mRootNode, gltf.roots[0], gltf, &gltfNode);
        } else if (scene->mRootNode->mNumChildren == gltf.roots.size()) {
            paired = true;
            for (size_t r = 0; r < gltf.roots.size() && paired; ++r)
                paired = PairNodes(scene->mRootNode->mChildren[r], gltf.roots[r], gltf, &gltfNode);
        }
        if (paired) return true;
        why = "its nodes do not pair with the scene reader's";
    }
    gltf = {};
    gltfNode.clear();
    Report("glTF animation sampled through the scene reader: %s", why.c_str());
    return false;
}

// Per bone (builder order), in its own units: the farthest vertex that its motion carries,
// its own or a descendant's, bounded through the joints between them (without any vertex:
// 3 cm around each joint).
std::vector<double> Import::CarriedReach() const {
    // Content without a mesh is seen at its joints and 3 cm around them, as the compressor
    // measures it.
    bool anyVertex = false;
    for (float r : reach)
        anyVertex = anyVertex || r > 0;
    std::vector<double> carried(reach.begin(), reach.end());
    if (!anyVertex)
        for (double& c : carried)
            c = 0.03 * unitsPerMeter;
    for (size_t i = bones.size(); i-- > 0;) {
        const int p = bones[i].parent;
        if (p < 0) continue;
        const Pose local =
            Decompose(aiMatrix4x4(bones[size_t(p)].bindWorld).Inverse() * bones[i].bindWorld);
        const double joint = std::sqrt(double(local.position[0]) * local.position[0] +
                                       double(local.position[1]) * local.position[1] +
                                       double(local.position[2]) * local.position[2]) *
                             scale;
        carried[size_t(p)] = std::max(carried[size_t(p)], joint + carried[i]);
    }
    return carried;
}

// Moves the chosen bone's travel since the first frame (its horizontal movement, and its turn
// about the up axis, about where it stood) into the root motion bone, and takes it out of the
// bones below: every bone stays where it was in object space. With RepeatLast the root motion
// bone keeps the latest travel (the loop's extra sample).
void Import::TakeOutTravel(std::vector<Pose>* local, RootTravel* travel, bool repeatLast) const {
    std::vector<Pose>& l = *local;
    if (repeatLast) {
        l[0] = travel->last;
        return;
    }
    auto matrix = [](const Pose& p) {
        const aiQuaternion q(p.orientation[3], p.orientation[0], p.orientation[1],
                             p.orientation[2]);
        return aiMatrix4x4(aiVector3D(p.scaleShear[0], p.scaleShear[4], p.scaleShear[8]), q,
                           aiVector3D(p.position[0], p.position[1], p.position[2]));
    };
    aiMatrix4x4 object;
    for (int b = rootMotionBone; b > 0; b = bones[size_t(b)].parent)
        object = matrix(l[size_t(b)]) * object;
    const Pose o = Decompose(object);
    double up[3] = {art.UpVector[0], art.UpVector[1], art.UpVector[2]};
    const double n = std::sqrt(up[0] * up[0] + up[1] * up[1] + up[2] * up[2]);
    for (double& u : up)
        u = n > 0 ? u / n : 0;
    double h[3], height = 0, twist = 0;
    for (int k = 0; k < 3; ++k) {
        height += o.position[k] * up[k];
        twist += o.orientation[k] * up[k];
    }
    for (int k = 0; k < 3; ++k)
        h[k] = o.position[k] - height * up[k];
    const double raw = 2 * std::atan2(twist, double(o.orientation[3]));
    if (!travel->started) {
        travel->started = true;
        std::copy(h, h + 3, travel->start);
        travel->heading0 = travel->heading = travel->raw = raw;
    } else {
        double d = raw - travel->raw;
        while (d > M_PI)
            d -= 2 * M_PI;
        while (d < -M_PI)
            d += 2 * M_PI;
        travel->heading += d;
        travel->raw = raw;
    }
    const double turn = travel->heading - travel->heading0;
    Pose m;
    for (int k = 0; k < 3; ++k)
        m.orientation[k] = float(up[k] * std::sin(turn / 2));
    m.orientation[3] = float(std::cos(turn / 2));
    const aiMatrix4x4 rotation = matrix(m);
    const aiVector3D turned =
        rotation *
        aiVector3D(float(travel->start[0]), float(travel->start[1]), float(travel->start[2]));
    m.position[0] = float(h[0] - turned.x);
    m.position[1] = float(h[1] - turned.y);
    m.position[2] = float(h[2] - turned.z);
    const aiMatrix4x4 back = aiMatrix4x4(matrix(m)).Inverse();
    for (size_t i = 1; i < l.size(); ++i)
        if (bones[i].parent == 0) l[i] = Decompose(back * matrix(l[i]));
    l[0] = m;
    travel->last = m;
}

// The compressor's measuring distance per bone (skeleton order): the farthest vertex the bone
// moves; for a bone without vertices the tolerance itself (its children's joints are measured
// as well), or 3 cm when the content has no mesh at all (motion capture).
std::vector<float> Import::ShellDistances() const {
    bool anyVertex = false;
    for (float r : reach)
        anyVertex = anyVertex || r > 0;
    const float without = anyVertex ? summary->ToleranceUsed : 0.03f * unitsPerMeter;
    std::vector<float> shells(bones.size(), without);
    for (size_t i = 0; i < bones.size(); ++i)
        if (reach[i] > 0) shells[size_t(remap[i])] = std::max(reach[i], summary->ToleranceUsed);
    return shells;
}

// Whether a clip ends where it starts: looped, it plays to its last key and jumps back to its
// first, by what its bones' joints and farthest vertices move (file units).
std::string Import::LoopText(const std::vector<Pose>& first, const std::vector<Pose>& last) const {
    const std::vector<double> carried = CarriedReach();
    double jump = 0;
    for (size_t i = 0; i < first.size() && i < last.size(); ++i) {
        double d = 0, dot = 0;
        for (int k = 0; k < 3; ++k)
            d += double(first[i].position[k] - last[i].position[k]) *
                 (first[i].position[k] - last[i].position[k]);
        for (int k = 0; k < 4; ++k)
            dot += double(first[i].orientation[k]) * last[i].orientation[k];
        const double angle = 2 * std::acos(std::min(1.0, std::fabs(dot)));
        jump = std::max(jump, std::sqrt(d) + angle * carried[i]);
    }
    char text[160];
    if (jump <= double(summary->ToleranceUsed))
        std::snprintf(text, sizeof text, "loops seamlessly (ends where it starts)");
    else
        std::snprintf(text, sizeof text,
                      "looped, plays to its end and jumps back (by up to %.4g file units)", jump);
    return text;
}

// The values at a clip's first and last knots (before the loop's extra knot).
void EndValues(const ExactCurve& position, const ExactCurve& orientation, Pose* first, Pose* last) {
    std::copy_n(position.controls.begin(), 3, first->position);
    std::copy_n(position.controls.end() - 3, 3, last->position);
    std::copy_n(orientation.controls.begin(), 4, first->orientation);
    std::copy_n(orientation.controls.end() - 4, 4, last->orientation);
}

// A glTF clip on the skeleton's bones (channels of nodes that are not bones are dropped).
KeyedClip Import::GltfKeyedClip(const orvane_import::GltfClip& source,
                                const std::string& fallback) {
    KeyedClip out;
    out.name = source.name.empty() ? fallback : source.name;
    std::map<int, int> boneOfNode;
    for (size_t i = 0; i < bones.size(); ++i) {
        auto it = gltfNode.find(bones[i].node);
        if (it != gltfNode.end()) boneOfNode[it->second] = int(i);
    }
    for (const orvane_import::GltfChannel& ch : source.channels) {
        out.duration = std::max(out.duration, ch.times.back());
        auto it = boneOfNode.find(ch.node);
        if (it == boneOfNode.end()) continue;
        out.channels.push_back(ch);
        out.channels.back().node = it->second;
    }
    return out;
}

// A clip whose every key stays at its time with its channel's interpolation: its curves go into
// the track group unfitted (float knots and controls), so it plays as the file defines. Still
// holds each bone's transform where no channel moves it; Why says in the report why the clip
// is kept this way.
bool Import::ExactClip(const KeyedClip& source, const std::vector<aiMatrix4x4>& still,
                       const char* why, std::unique_ptr<ClipOut>* out, std::string* line) {
    using orvane_import::GltfPath;
    auto clip = std::make_unique<ClipOut>();
    clip->name = source.name;
    const float duration = source.duration;
    double spacing = 0;
    int counts[3] = {0, 0, 0};
    for (const orvane_import::GltfChannel& ch : source.channels) {
        for (size_t k = 1; k < ch.times.size(); ++k) {
            const double d = double(ch.times[k]) - ch.times[k - 1];
            if (spacing == 0 || d < spacing) spacing = d;
        }
        ++counts[int(ch.interpolation)];
    }
    // The budget is shared along the longest chain of bones: each bone's rotation blend may
    // move the farthest vertex it carries (its own or its descendants') by a quarter of its
    // share, and each of its three curves, where it barely moves, may be held still at a cost
    // of a quarter more.
    int depth = 1;
    for (size_t i = 0; i < bones.size(); ++i) {
        int d = 1;
        for (int p = bones[i].parent; p >= 0; p = bones[size_t(p)].parent)
            ++d;
        depth = std::max(depth, d);
    }
    const std::vector<double> carried = CarriedReach();
    const double share = kMeasuredShare * double(summary->ToleranceUsed) / depth;
    const double stillBudget = 0.25 * share;

    std::vector<const orvane_import::GltfChannel*> channels(bones.size() * 3, nullptr);
    int matched = 0;
    for (const orvane_import::GltfChannel& ch : source.channels)
        if (ch.node >= 0 && size_t(ch.node) < bones.size()) {
            matched += !channels[3 * size_t(ch.node)] && !channels[3 * size_t(ch.node) + 1] &&
                       !channels[3 * size_t(ch.node) + 2];
            channels[3 * size_t(ch.node) + size_t(ch.path)] = &ch;
        }
    if (matched == 0) return true;

    orvane_track_group_builder* builder =
        OrvaneBeginTrackGroup(clip->name.c_str(), 0, int(bones.size()), 0, false);
    if (!builder)
        return Fail(__LINE__, "clip \"%s\": no memory for its tracks", clip->name.c_str());
    double error = 0;
    std::vector<Pose> first(bones.size()), last(bones.size());
    for (size_t i = 0; i < bones.size(); ++i) {
        const Pose rest = Decompose(still[i]);
        const auto* t = channels[3 * i + size_t(GltfPath::Translation)];
        const auto* r = channels[3 * i + size_t(GltfPath::Rotation)];
        const auto* s = channels[3 * i + size_t(GltfPath::Scale)];
        const double lever = std::max(carried[i], 1e-6);
        // A rotation's blend off its arc is an angle: never more than a milliradian.
        const double angleBudget = std::min(1e-3, 0.25 * share / lever);
        double angleError = 0;
        ExactCurve position =
            t ? ChannelCurve(*t, duration, angleBudget, &angleError) : Constant(rest.position, 3);
        ExactCurve orientation = r ? ChannelCurve(*r, duration, angleBudget, &angleError)
                                   : Constant(rest.orientation, 4);
        ExactCurve scaleShear = s ? ScaleShear(ChannelCurve(*s, duration, angleBudget, &angleError))
                                  : Constant(rest.scaleShear, 9);
        // Curves whose every value lies this close to one (baked matrices leave scales that
        // wander by 1e-7) are held at it: for a position the distance itself, for a scale or
        // an orientation what it moves the farthest vertex by.
        const double held = std::max({HoldIfStill(&position, 1, stillBudget),
                                      HoldIfStill(&orientation, 2 * lever, stillBudget),
                                      HoldIfStill(&scaleShear, lever, stillBudget)});
        error = std::max(error, angleError * lever + 3 * held);
        if (convert) {
            // The change of basis is linear (affine for a root's position) in every control, so
            // the curves stay exact in the new basis. Orientations come back from it with a sign
            // of their own: each takes the sign that keeps its dot product with the one before
            // (an orthogonal map keeps dot products), so blends between them are unchanged.
            static const float none[3] = {0, 0, 0};
            for (size_t k = 0; k < position.knots.size(); ++k)
                OrvaneInPlaceSimilarityTransformPosition(bones[i].parent < 0 ? affine : none,
                                                         linear, &position.controls[3 * k]);
            const std::vector<float> before = orientation.controls;
            for (size_t k = 0; k < orientation.knots.size(); ++k) {
                float* q = &orientation.controls[4 * k];
                OrvaneInPlaceSimilarityTransformOrientation(linear, inverse, q);
                if (k == 0) continue;
                float was = 0, is = 0;
                for (int c = 0; c < 4; ++c) {
                    was += before[4 * (k - 1) + size_t(c)] * before[4 * k + size_t(c)];
                    is += q[c - 4] * q[c];
                }
                if ((was < 0) != (is < 0))
                    for (int c = 0; c < 4; ++c)
                        q[c] = -q[c];
            }
            for (size_t k = 0; k < scaleShear.knots.size(); ++k)
                OrvaneInPlaceSimilarityTransformScaleShear(linear, inverse,
                                                           &scaleShear.controls[9 * k]);
        }
        EndValues(position, orientation, &first[i], &last[i]);
        for (ExactCurve* c : {&position, &orientation, &scaleShear})
            KeepLastIntervalWhenLooping(c, duration);
        OrvaneBeginTransformTrack(builder, bones[i].name.c_str());
        auto type = [](const ExactCurve& c, orvane_data_type_definition* constant) {
            return c.knots.size() == 1 ? constant : OrvaneCurveDataDaK32fC32fType;
        };
        OrvaneSetTransformTrackPosition(builder, position.degree, 0, int(position.knots.size()),
                                        position.knots.data(), position.controls.data(),
                                        type(position, OrvaneCurveDataD3Constant32fType));
        OrvaneSetTransformTrackOrientation(
            builder, orientation.degree, 0, int(orientation.knots.size()), orientation.knots.data(),
            orientation.controls.data(), type(orientation, OrvaneCurveDataD4Constant32fType));
        OrvaneSetTransformTrackScaleShear(
            builder, scaleShear.degree, 0, int(scaleShear.knots.size()), scaleShear.knots.data(),
            scaleShear.controls.data(), type(scaleShear, OrvaneCurveDataDaConstant32fType));
        OrvaneEndTransformTrack(builder);
    }
    clip->group = OrvaneEndTrackGroup(builder);
    if (!clip->group)
        return Fail(__LINE__, "clip \"%s\": no memory for its tracks", clip->name.c_str());
    int bytes = 0;
    for (int k = 0; k < clip->group->TransformTrackCount; ++k) {
        const orvane_transform_track& track = clip->group->TransformTracks[k];
        bytes += CurveDataBytes(&track.PositionCurve) + CurveDataBytes(&track.OrientationCurve) +
                 CurveDataBytes(&track.ScaleShearCurve);
    }
    clip->maxError = float(error * depth);
    clip->animation.Name = clip->name.data();
    clip->animation.Duration = duration;
    clip->animation.TimeStep = source.timeStep > 0 ? source.timeStep
                               : spacing > 0       ? float(spacing)
                                                   : 1.0f / 30;
    clip->animation.Oversampling = 1;
    clip->animation.TrackGroupCount = 1;
    clip->animation.TrackGroups = &clip->group;
    clip->group->Name = clip->name.data();
    char text[512];
    std::snprintf(text, sizeof text,
                  "animation \"%s\": %.3f s, keys kept (%s: %d step, %d linear, %d cubic "
                  "channels), %d of %d bones moved, max error %g of %g at the farthest vertices "
                  "(file units), %d bytes of curves; %s",
                  clip->name.c_str(), double(duration), why, counts[0], counts[1], counts[2],
                  matched, skeleton->BoneCount, double(clip->maxError),
                  double(summary->ToleranceUsed), bytes, LoopText(first, last).c_str());
    *line = text;
    *out = std::move(clip);
    return true;
}

bool Import::BuildExactClip(const KeyedClip& source, const std::vector<aiMatrix4x4>& still,
                            const char* why) {
    std::unique_ptr<ClipOut> clip;
    std::string line;
    if (!ExactClip(source, still, why, &clip, &line)) return false;
    if (!clip) {
        Report("animation \"%s\": no channel matches a bone, skipped", source.name.c_str());
        return true;
    }
    if (rootMotionBone >= 0) line += "; no root motion (taken from sampled clips only)";
    Report("%s", line.c_str());
    clips.push_back(std::move(clip));
    return true;
}

// The largest distance, over Times and the bones, between where Candidate and Reference put
// each bone's joint and its three measuring points (Shells, skeleton order), in object space.
double Import::ClipDistance(const orvane_track_group* candidate,
                            const orvane_track_group* reference, const std::vector<double>& times,
                            float duration, const std::vector<float>& shells) const {
    const int count = skeleton->BoneCount;
    std::vector<int> a(static_cast<size_t>(count), -1), b(a);
    for (int i = 0; i < count; ++i) {
        OrvaneFindTrackByName(candidate, skeleton->Bones[i].Name, &a[size_t(i)]);
        OrvaneFindTrackByName(reference, skeleton->Bones[i].Name, &b[size_t(i)]);
    }
    std::vector<aiMatrix4x4> worldA(static_cast<size_t>(count)), worldB(worldA);
    auto local = [&](const orvane_track_group* group, int track, int bone, float t) {
        orvane_transform l = skeleton->Bones[bone].Transform;
        if (track >= 0) {
            orvane_track_sample_context context = {};
            context.SampleTime = t;
            context.SampleDuration = duration;
            l = {};
            OrvaneSampleTrackUUULocal(&context, &group->TransformTracks[track], nullptr, &l);
        }
        float m[16];
        OrvaneBuildCompositeTransform4x4(&l, m);
        aiMatrix4x4 out;
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c)
                out[r][c] = m[c * 4 + r];
        return out;
    };
    double worst = 0;
    for (double time : times) {
        const float t = float(std::min(time, double(duration)));
        for (int i = 0; i < count; ++i) {
            const int parent = skeleton->Bones[i].ParentIndex;
            const aiMatrix4x4 la = local(candidate, a[size_t(i)], i, t);
            const aiMatrix4x4 lb = local(reference, b[size_t(i)], i, t);
            worldA[size_t(i)] = parent >= 0 ? worldA[size_t(parent)] * la : la;
            worldB[size_t(i)] = parent >= 0 ? worldB[size_t(parent)] * lb : lb;
            // The root motion bone is seen only through the bones below it.
            if (rootMotionBone >= 0 && i == remap[0]) continue;
            for (int k = 0; k < 4; ++k) {
                aiVector3D p(0, 0, 0);
                if (k < 3) p[unsigned(k)] = shells[size_t(i)];
                worst = std::max(worst,
                                 double((worldA[size_t(i)] * p - worldB[size_t(i)] * p).Length()));
            }
        }
    }
    return worst;
}

void Import::ArtToolInfo(const aiScene* scene, const char* path) {
    const std::string ext = Extension(path);
    toolName = ext == "glb" || ext == "gltf" ? "glTF"
               : ext == "fbx"                ? "FBX"
               : ext == "dae"                ? "COLLADA"
               : ext == "x"                  ? "DirectX X"
               : ext == "bvh"                ? "BVH"
                                             : ext;
    art = {};
    art.FromArtToolName = toolName.data();
    unitsPerMeter = 1;
    int up = 1, upSign = 1, front = 2, frontSign = 1, coord = 0, coordSign = 1;
    if (scene->mMetaData) {
        double factor = 0;
        if (scene->mMetaData->Get("UnitScaleFactor", factor) && factor > 0 && std::isfinite(factor))
            unitsPerMeter = float(100.0 / factor);  // FBX: centimetres per unit
        float ffactor = 0;
        if (factor == 0 && scene->mMetaData->Get("UnitScaleFactor", ffactor) && ffactor > 0 &&
            std::isfinite(ffactor))
            unitsPerMeter = 100.0f / ffactor;
        scene->mMetaData->Get("UpAxis", up);
        scene->mMetaData->Get("UpAxisSign", upSign);
        scene->mMetaData->Get("FrontAxis", front);
        scene->mMetaData->Get("FrontAxisSign", frontSign);
        scene->mMetaData->Get("CoordAxis", coord);
        scene->mMetaData->Get("CoordAxisSign", coordSign);
    }
    auto axis = [](float* v, int a, int sign) {
        v[0] = v[1] = v[2] = 0;
        v[a >= 0 && a < 3 ? a : 0] = sign < 0 ? -1.0f : 1.0f;
    };
    axis(art.RightVector, coord, coordSign);
    axis(art.UpVector, up, upSign);
    axis(art.BackVector, front, frontSign);
    // Axes that do not make a basis (missing or contradictory metadata): Y up, right-handed.
    const float* r = art.RightVector;
    const float* u = art.UpVector;
    const float* k = art.BackVector;
    const float det = r[0] * (u[1] * k[2] - u[2] * k[1]) - r[1] * (u[0] * k[2] - u[2] * k[0]) +
                      r[2] * (u[0] * k[1] - u[1] * k[0]);
    if (std::fabs(det) < 0.5f) {
        axis(art.RightVector, 0, 1);
        axis(art.UpVector, 1, 1);
        axis(art.BackVector, 2, 1);
    }
    // A source without a unit (or with a wrong one) means what the caller says it means.
    if (options->SourceUnitsPerMeter > 0) unitsPerMeter = options->SourceUnitsPerMeter;
    art.UnitsPerMeter = unitsPerMeter;
    exporter = {const_cast<char*>("orvane import"), 2, 6, 0, 1};
    fromFileName = BaseName(path);
}

bool Import::PrepareBasis() {
    const bool axes = options->Right[0] || options->Right[1] || options->Right[2] ||
                      options->Up[0] || options->Up[1] || options->Up[2] || options->Back[0] ||
                      options->Back[1] || options->Back[2];
    if (!axes && !(options->UnitsPerMeter > 0)) return true;
    orvane_file_info source = {};
    source.ArtToolInfo = &art;
    const float origin[3] = {0, 0, 0};
    const float units = options->UnitsPerMeter > 0 ? options->UnitsPerMeter : unitsPerMeter;
    if (!OrvaneComputeBasisConversion(
            &source, units, origin, axes ? options->Right : art.RightVector,
            axes ? options->Up : art.UpVector, axes ? options->Back : art.BackVector, affine,
            linear, inverse))
        return Fail(__LINE__, "the requested axes and units make no basis");
    convert = true;
    scale = units / unitsPerMeter;
    // The written content is in the requested basis: its art tool info says so.
    unitsPerMeter = units;
    art.UnitsPerMeter = units;
    if (axes) {
        for (int k = 0; k < 3; ++k) {
            art.RightVector[k] = options->Right[k];
            art.UpVector[k] = options->Up[k];
            art.BackVector[k] = options->Back[k];
        }
    }
    return true;
}

bool Import::Write(const char* path) {
    std::vector<orvane_mesh*> meshPointers;
    std::vector<orvane_vertex_data*> vertexDatas;
    std::vector<orvane_tri_topology*> topologies;
    for (auto& m : meshes) {
        meshPointers.push_back(&m->mesh);
        vertexDatas.push_back(m->vertexData);
        topologies.push_back(m->topology);
        meshBindings.push_back({&m->mesh});
    }
    std::vector<orvane_track_group*> groups;
    std::vector<orvane_animation*> animations;
    for (auto& c : clips) {
        groups.push_back(c->group);
        animations.push_back(&c->animation);
    }
    modelName = skeletonName;
    // A track group is named after the model it animates: that is how a control playing the
    // clip on an instance of the model finds its tracks.
    for (auto& c : clips)
        c->group->Name = modelName.data();
    model = {};
    model.Name = modelName.data();
    model.Skeleton = skeleton;
    model.InitialPlacement.Orientation[3] = 1;
    for (int i = 0; i < 3; ++i)
        model.InitialPlacement.ScaleShear[i][i] = 1;
    model.MeshBindingCount = int(meshBindings.size());
    model.MeshBindings = meshBindings.data();

    orvane_file_info info = {};
    info.ArtToolInfo = &art;
    info.ExporterInfo = &exporter;
    info.FromFileName = fromFileName.data();
    info.TextureCount = int(textures.size());
    info.Textures = textures.data();
    info.MaterialCount = int(materialPointers.size());
    info.Materials = materialPointers.data();
    info.SkeletonCount = 1;
    info.Skeletons = &skeleton;
    info.VertexDataCount = int(vertexDatas.size());
    info.VertexDatas = vertexDatas.data();
    info.TriTopologyCount = int(topologies.size());
    info.TriTopologies = topologies.data();
    info.MeshCount = int(meshPointers.size());
    info.Meshes = meshPointers.data();
    info.ModelCount = 1;
    info.Models = &modelPointer;
    info.TrackGroupCount = int(groups.size());
    info.TrackGroups = groups.data();
    info.AnimationCount = int(animations.size());
    info.Animations = animations.data();

    Progress("writing", 0, 1);
    orvane_file_data_tree_writer* writer = OrvaneBeginFileDataTreeWriting(
        OrvaneFileInfoType, &info, OrvaneStandardMainSection, OrvaneStandardMainSection);
    orvane_file_builder* builder =
        OrvaneBeginFile(OrvaneStandardSectionCount, ORVANE_CURRENT_FILE_TYPE_TAG,
                        OrvaneGetTemporaryDirectory(), "orvane_import");
    if (!writer || !builder) {
        OrvaneEndFileDataTreeWriting(writer);
        OrvaneAbortFile(builder);
        return Fail(__LINE__, "%s: cannot start writing", path);
    }
    OrvaneSetFileSectionForObjectsOfType(writer, OrvaneVertexDataType,
                                         OrvaneStandardDeformableVertexSection);
    OrvaneSetFileSectionForObjectsOfType(writer, OrvaneTextureType, OrvaneStandardTextureSection);
    for (auto* t : topologies)
        if (t->Indices)
            OrvaneSetFileSectionForObject(writer, t->Indices, OrvaneStandardDeformableIndexSection);
    const int codec = options->Codec == OrvaneImportNoCompression ? OrvaneNoCompression
                      : options->Codec == OrvaneImportPelma0      ? OrvanePelma0Compression
                                                                  : OrvanePelma1Compression;
    for (int s = 0; s < OrvaneStandardSectionCount; ++s)
        OrvaneSetFileSectionFormat(builder, s, orvane_compression_type(codec), 4);
    // A failed write takes away only what it left itself, never a file that was there before.
    FILE* before = std::fopen(path, "rb");
    const bool existed = before != nullptr;
    if (before) std::fclose(before);
    const bool written = OrvaneWriteDataTreeToFileBuilder(writer, builder);
    const bool ended = written ? OrvaneEndFile(builder, path) : (OrvaneAbortFile(builder), false);
    OrvaneEndFileDataTreeWriting(writer);
    if (!written || !ended) {
        if (!existed) std::remove(path);
        return Fail(__LINE__, "%s: cannot be written", path);
    }
    Progress("writing", 1, 1);
    return true;
}

const aiScene* ReadScene(Assimp::Importer* importer, const char* path) {
    importer->SetPropertyBool(AI_CONFIG_IMPORT_FBX_PRESERVE_PIVOTS, false);
    // Scenes of bones alone stay so: no made-up meshes that mark the bones.
    importer->SetPropertyBool(AI_CONFIG_IMPORT_NO_SKELETON_MESHES, true);
    importer->SetPropertyInteger(AI_CONFIG_PP_LBW_MAX_WEIGHTS, 4);
    return importer->ReadFile(path, kReadFlags);
}

}  // namespace

extern "C" {

ORVANE_IMPORT_API void OrvaneGetDefaultImportOptions(orvane_import_options* Options) {
    if (!Options) return;
    *Options = {};
    Options->ToleranceCentimeters = 0.1f;
    Options->Codec = OrvaneImportPelma1;
    Options->MaximumSampleRate = 240;
}

ORVANE_IMPORT_API orvane_bool OrvaneImportFile(const char* InputPath, const char* OutputPath,
                                               const orvane_import_options* Options,
                                               orvane_import_summary* Summary) {
    const Clock::time_point start = Clock::now();
    orvane_import_options defaults;
    OrvaneGetDefaultImportOptions(&defaults);
    orvane_import_summary localSummary;
    Import im;
    im.options = Options ? Options : &defaults;
    im.summary = Summary ? Summary : &localSummary;
    *im.summary = {};
    auto finish = [&](bool ok) {
        im.summary->TotalSeconds = Seconds(start);
        std::snprintf(im.summary->Error, sizeof im.summary->Error, "%s",
                      ok ? "" : im.error.c_str());
        return ok;
    };
    if (!InputPath || !OutputPath) return finish(im.Fail(__LINE__, "no input or output path"));
    const orvane_import_options& o = *im.options;
    if (!(o.ToleranceCentimeters > 0) || !std::isfinite(o.ToleranceCentimeters) ||
        !(o.MaximumSampleRate >= 1) || !std::isfinite(o.MaximumSampleRate) || o.UnitsPerMeter < 0 ||
        !std::isfinite(o.UnitsPerMeter) || o.SourceUnitsPerMeter < 0 ||
        !std::isfinite(o.SourceUnitsPerMeter) || o.AnimationFileCount < 0 ||
        (o.AnimationFileCount > 0 && !o.AnimationFiles) || o.Codec < 0 || o.Codec > 2)
        return finish(im.Fail(__LINE__, "an import option is out of range"));

    im.Progress("reading", 0, 1);
    Clock::time_point t = Clock::now();
    Assimp::Importer importer;
    const aiScene* scene = ReadScene(&importer, InputPath);
    im.summary->ReadSeconds += Seconds(t);
    if (!scene || !scene->mRootNode)
        return finish(
            im.Fail(__LINE__, "%s: cannot be read: %s", InputPath, importer.GetErrorString()));
    im.Progress("reading", 1, 1);

    // The readers make up a skeleton mesh for scenes without meshes: no content in motion
    // capture, nor in a scene that holds nothing else; kept elsewhere (a rigidly skinned
    // stand-in for the character).
    bool onlyMadeUp = scene->mNumMeshes > 0;
    for (unsigned m = 0; m < scene->mNumMeshes; ++m)
        onlyMadeUp = onlyMadeUp && IsMadeUpSkeletonMesh(scene, scene->mMeshes[m]);
    const bool skipMadeUp =
        Extension(InputPath) == "bvh" || (onlyMadeUp && scene->mNumAnimations == 0);
    int meshCount = 0;
    for (unsigned m = 0; m < scene->mNumMeshes; ++m)
        meshCount += !(skipMadeUp && IsMadeUpSkeletonMesh(scene, scene->mMeshes[m]));
    if (meshCount == 0 && scene->mNumAnimations == 0 && o.AnimationFileCount == 0)
        return finish(im.Fail(__LINE__, "%s: holds no mesh and no animation to import", InputPath));

    im.ArtToolInfo(scene, InputPath);
    if (!im.PrepareBasis()) return finish(false);
    if (!im.BuildSkeleton(scene, skipMadeUp)) return finish(false);
    // The tolerance is asked in centimetres, the fit works in the output's units.
    im.summary->ToleranceUsed = o.ToleranceCentimeters * 0.01f * im.unitsPerMeter;
    im.Materials(scene, InputPath);

    // Every mesh where a node holds it (a mesh held by two nodes is imported twice).
    std::vector<std::pair<const aiMesh*, const aiNode*>> instances;
    std::vector<const aiNode*> stack = {scene->mRootNode};
    while (!stack.empty()) {
        const aiNode* n = stack.back();
        stack.pop_back();
        for (unsigned i = 0; i < n->mNumMeshes; ++i)
            if (n->mMeshes[i] < scene->mNumMeshes) {
                const aiMesh* mesh = scene->mMeshes[n->mMeshes[i]];
                if (!(skipMadeUp && IsMadeUpSkeletonMesh(scene, mesh)))
                    instances.push_back({mesh, n});
            }
        for (unsigned i = n->mNumChildren; i-- > 0;)
            stack.push_back(n->mChildren[i]);
    }
    for (size_t i = 0; i < instances.size(); ++i) {
        im.Progress("meshes", int(i), int(instances.size()));
        if (!im.BuildMesh(scene, instances[i].first, instances[i].second)) return finish(false);
    }

    im.summary->CharacterHeight = im.height;
    im.Report(
        "extent %g (bones and every vertex at rest, file units); tolerance %g cm = %g file "
        "units (%g per metre), measured at each bone's farthest vertex",
        double(im.height), double(o.ToleranceCentimeters), double(im.summary->ToleranceUsed),
        double(im.unitsPerMeter));

    t = Clock::now();
    const std::string extension = Extension(InputPath);
    const bool exact = (extension == "gltf" || extension == "glb") && scene->mNumAnimations > 0 &&
                       im.ReadGltf(scene, InputPath);
    for (unsigned a = 0; a < scene->mNumAnimations; ++a) {
        std::string fallback = BaseName(InputPath);
        fallback = fallback.substr(0, fallback.rfind('.'));
        if (scene->mNumAnimations > 1) fallback += std::to_string(a);
        // A glTF clip whose channels are all linear is what the scene reader plays too: it is
        // sampled on its keys' grid and compressed like any other (keys off every grid are
        // kept as they are); step and cubic channels are kept as the file defines them.
        bool linear = exact;
        if (exact)
            for (const orvane_import::GltfChannel& ch : im.gltf.clips[a].channels)
                linear = linear && ch.interpolation == orvane_import::GltfInterpolation::Linear;
        if (exact && !linear) {
            std::vector<aiMatrix4x4> still;
            for (const Bone& b : im.bones)
                still.push_back(b.node ? b.node->mTransformation : aiMatrix4x4());
            if (!im.BuildExactClip(im.GltfKeyedClip(im.gltf.clips[a], fallback), still,
                                   "glTF interpolation"))
                return finish(false);
        } else if (!im.BuildClip(scene->mAnimations[a], scene, fallback, InputPath)) {
            return finish(false);
        }
    }
    double fitSeconds = Seconds(t);
    for (int f = 0; f < o.AnimationFileCount; ++f) {
        const char* path = o.AnimationFiles[f];
        if (!path) return finish(im.Fail(__LINE__, "an animation file path is null"));
        Clock::time_point r = Clock::now();
        Assimp::Importer other;
        const aiScene* clips = ReadScene(&other, path);
        im.summary->ReadSeconds += Seconds(r);
        if (!clips || !clips->mRootNode)
            return finish(
                im.Fail(__LINE__, "%s: cannot be read: %s", path, other.GetErrorString()));
        if (clips->mNumAnimations == 0)
            return finish(im.Fail(__LINE__, "%s: holds no animation", path));
        r = Clock::now();
        for (unsigned a = 0; a < clips->mNumAnimations; ++a) {
            std::string stem = BaseName(path);
            stem = stem.substr(0, stem.rfind('.'));
            const std::string fallback =
                clips->mNumAnimations > 1 ? stem + std::to_string(a) : stem;
            if (!im.BuildClip(clips->mAnimations[a], clips, fallback, path)) return finish(false);
        }
        fitSeconds += Seconds(r);
    }
    im.summary->FitSeconds = fitSeconds;

    for (auto& c : im.clips)
        im.summary->MaxAnimationError = std::max(im.summary->MaxAnimationError, c->maxError);
    if (im.summary->MaxAnimationError > im.summary->ToleranceUsed && !o.KeepGoing) {
        return finish(im.Fail(__LINE__,
                              "an animation's error %g is above the tolerance %g (file units); "
                              "nothing written (keep going to write it anyway)",
                              double(im.summary->MaxAnimationError),
                              double(im.summary->ToleranceUsed)));
    }

    t = Clock::now();
    if (!im.Write(OutputPath)) return finish(false);
    im.summary->WriteSeconds = Seconds(t);

    im.summary->BoneCount = im.skeleton->BoneCount;
    im.summary->MeshCount = int(im.meshes.size());
    for (auto& m : im.meshes)
        im.summary->VertexCount += m->vertexData->VertexCount;
    im.summary->MaterialCount = int(im.materials.size());
    im.summary->AnimationCount = int(im.clips.size());
    if (FILE* f = std::fopen(OutputPath, "rb")) {
        std::fseek(f, 0, SEEK_END);
        im.summary->OutputBytes = int(std::ftell(f));
        std::fclose(f);
    }
    return finish(true);
}

}  // extern "C"

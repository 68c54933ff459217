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
#include "orvane_gltf_animation.h"
#include "orvane_importer.h"

extern "C" {
// stb_image, as Debian's libstb builds it.
unsigned char* stbi_load(const char* filename, int* x, int* y, int* comp, int req_comp);
unsigned char* stbi_load_from_memory(const unsigned char* buffer, int len, int* x, int* y,
                                     int* comp, int req_comp);
void stbi_image_free(void* retval_from_stbi_load);
const char* stbi_failure_reason(void);
}

namespace orvane_import {

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

using Clock = std::chrono::steady_clock;

static double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

const unsigned kReadFlags = aiProcess_Triangulate | aiProcess_LimitBoneWeights |
                            aiProcess_JoinIdenticalVertices | aiProcess_GenSmoothNormals;

// The skeleton mesh that the BVH reader makes up for a scene without meshes is no content.
static bool IsMadeUpSkeletonMesh(const aiScene* scene, const aiMesh* mesh) {
    if (mesh->mMaterialIndex >= scene->mNumMaterials) return false;
    aiString name;
    scene->mMaterials[mesh->mMaterialIndex]->Get(AI_MATKEY_NAME, name);
    return std::strcmp(name.C_Str(), "SkeletonMaterial") == 0;
}

static void CollectNodes(const aiNode* node, std::vector<const aiNode*>* order,
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
    // Cameras and lights that a clip moves are the scene's, not the character's.
    std::map<std::string, bool> staging;
    for (unsigned c = 0; c < scene->mNumCameras; ++c)
        staging[scene->mCameras[c]->mName.C_Str()] = true;
    for (unsigned l = 0; l < scene->mNumLights; ++l)
        staging[scene->mLights[l]->mName.C_Str()] = true;
    for (unsigned a = 0; a < scene->mNumAnimations; ++a) {
        const aiAnimation* anim = scene->mAnimations[a];
        for (unsigned c = 0; c < anim->mNumChannels; ++c) {
            const char* name = anim->mChannels[c]->mNodeName.C_Str();
            auto it = nodeByName.find(name);
            if (it != nodeByName.end() && !staging.count(name)) wanted[it->second] = true;
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

// Pairs the scene reader's nodes with the glTF file's (the reader keeps the file's hierarchy
// and child order; several scene roots hang under a root of its own).
static bool PairNodes(const aiNode* node, int index, const orvane_import::GltfAnimation& file,
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

static const aiScene* ReadScene(Assimp::Importer* importer, const char* path) {
    importer->SetPropertyBool(AI_CONFIG_IMPORT_FBX_PRESERVE_PIVOTS, false);
    // Scenes of bones alone stay so: no made-up meshes that mark the bones.
    importer->SetPropertyBool(AI_CONFIG_IMPORT_NO_SKELETON_MESHES, true);
    importer->SetPropertyInteger(AI_CONFIG_PP_LBW_MAX_WEIGHTS, 4);
    return importer->ReadFile(path, kReadFlags);
}

}  // namespace orvane_import

using namespace orvane_import;

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

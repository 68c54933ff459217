// The characters of the project's data read with assimp as plain arrays, and fed to the mesh
// builder the way an exporter would: every assimp vertex is a base vertex with its bone weights,
// every face pushes its corners' normals and first texture coordinates. Used by the builder tests
// and benchmark.
#ifndef ORVANE_TESTS_MESH_BUILDER_ASSETS_H
#define ORVANE_TESTS_MESH_BUILDER_ASSETS_H

#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <array>
#include <assimp/Importer.hpp>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "orvane/mesh.h"
#include "orvane/mesh_builder.h"
#include "testing/data_path.h"

namespace orvane_test {

struct AssetMesh {
    std::vector<std::array<float, 3>> positions, normals, tangents;
    std::vector<std::array<float, 2>> uvs;
    std::vector<std::vector<std::pair<int, float>>> weights;  // per vertex: bone, weight
    std::vector<std::array<int32_t, 3>> triangles;
    int bones = 0;
};

inline std::string AssetPath(const char* relative) {
    return orvane_data::Path(std::string("assets/") + relative);
}

// The first mesh of the file; empty when the file cannot be read. Tangents are assimp's own
// (aiProcess_CalcTangentSpace) when asked for.
inline AssetMesh LoadAssetMesh(const char* relative, bool withTangents) {
    AssetMesh out;
    Assimp::Importer importer;
    unsigned flags =
        aiProcess_Triangulate | aiProcess_LimitBoneWeights | aiProcess_JoinIdenticalVertices;
    if (withTangents) flags |= aiProcess_CalcTangentSpace;
    const aiScene* scene = importer.ReadFile(AssetPath(relative), flags);
    if (scene == nullptr || scene->mNumMeshes == 0) return out;
    const aiMesh* mesh = scene->mMeshes[0];
    const unsigned n = mesh->mNumVertices;
    out.positions.resize(n);
    out.normals.resize(n);
    out.uvs.resize(n);
    out.weights.resize(n);
    if (withTangents && mesh->mTangents) out.tangents.resize(n);
    for (unsigned v = 0; v < n; ++v) {
        const aiVector3D& p = mesh->mVertices[v];
        out.positions[v] = {p.x, p.y, p.z};
        if (mesh->mNormals)
            out.normals[v] = {mesh->mNormals[v].x, mesh->mNormals[v].y, mesh->mNormals[v].z};
        if (mesh->mTextureCoords[0])
            out.uvs[v] = {mesh->mTextureCoords[0][v].x, mesh->mTextureCoords[0][v].y};
        if (!out.tangents.empty())
            out.tangents[v] = {mesh->mTangents[v].x, mesh->mTangents[v].y, mesh->mTangents[v].z};
    }
    out.bones = static_cast<int>(mesh->mNumBones);
    for (unsigned b = 0; b < mesh->mNumBones; ++b)
        for (unsigned w = 0; w < mesh->mBones[b]->mNumWeights; ++w) {
            const aiVertexWeight& weight = mesh->mBones[b]->mWeights[w];
            if (weight.mVertexId < n)
                out.weights[weight.mVertexId].push_back({static_cast<int>(b), weight.mWeight});
        }
    for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
        const aiFace& face = mesh->mFaces[f];
        if (face.mNumIndices != 3) continue;
        out.triangles.push_back({static_cast<int32_t>(face.mIndices[0]),
                                 static_cast<int32_t>(face.mIndices[1]),
                                 static_cast<int32_t>(face.mIndices[2])});
    }
    return out;
}

// Base vertices and triangles pushed into a new builder of the layout (one material).
inline orvane_mesh_builder* BuildAssetMesh(const AssetMesh& mesh,
                                           const orvane_data_type_definition* layout) {
    orvane_mesh_builder* builder =
        OrvaneBeginMesh(static_cast<int32_t>(mesh.positions.size()),
                        static_cast<int32_t>(mesh.triangles.size()), 1, mesh.bones, layout);
    if (builder == nullptr) return nullptr;
    for (size_t v = 0; v < mesh.positions.size(); ++v) {
        OrvaneSetPosition(builder, mesh.positions[v][0], mesh.positions[v][1],
                          mesh.positions[v][2]);
        for (const auto& [bone, weight] : mesh.weights[v])
            OrvaneAddWeight(builder, bone, weight);
        OrvanePushVertex(builder);
    }
    for (const auto& triangle : mesh.triangles) {
        for (int32_t corner = 0; corner < 3; ++corner) {
            const int32_t v = triangle[corner];
            OrvaneSetVertexIndex(builder, corner, v);
            OrvaneSetNormal(builder, corner, mesh.normals[v][0], mesh.normals[v][1],
                            mesh.normals[v][2]);
            OrvaneSetChannel(builder, corner, 0, mesh.uvs[v].data());
        }
        OrvanePushTriangle(builder);
    }
    return builder;
}

}  // namespace orvane_test

#endif  // ORVANE_TESTS_MESH_BUILDER_ASSETS_H

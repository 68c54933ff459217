// Every shared asset imported, loaded back and compared with assimp's own data: the rest pose,
// bone world positions at several times of every clip, skinned vertex positions, the clips'
// object-space error, and byte-identical output for the same input.
#include <assimp/config.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <assimp/Importer.hpp>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/wait.h>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "import_support.h"
#include "orvane.h"
#include "orvane/import.h"
#include "testing/data_path.h"

namespace {

std::string DataDir() {
    return orvane_data::Directory();
}

std::string TempPath(const std::string& name) {
    return std::string(OrvaneGetTemporaryDirectory()) + "orvane_import_test_" + name;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Asset {
    const char* name;
    const char* file;
    const char* clipFile;  // clips stored apart, or null
    int meshes;
    int clips;
    float rate;      // the clip's own sampling rate, frames per second
    int textures;    // embedded or beside the file
    int influences;  // bones per vertex of the smallest layout that holds the source's
};

const Asset kAssets[] = {
    // glTF keys in milliseconds (24 frames a second here), .X in 4800ths, FBX and COLLADA in
    // frames of 30 a second, BVH one tick per frame.
    {"Fox", "gltf/Fox/Fox.glb", nullptr, 1, 3, 24, 1, 4},
    {"CesiumMan", "gltf/CesiumMan/CesiumMan.glb", nullptr, 1, 1, 24, 1, 4},
    {"Arnaud", "fbx/pab/arnaud.fbx", "fbx/pab/walk.fbx", 1, 1, 30, 0, 4},
    {"Testwuson", "x/Testwuson/Testwuson.X", nullptr, 1, 3, 30, 0, 4},
    // Bones and a clip without a mesh: no made-up mesh marking the bones.
    {"ColladaWalk", "collada/pab_walk/walk.dae", nullptr, 0, 1, 30, 0, 1},
    {"Bvh", "bvh/cmu/walk.bvh", nullptr, 0, 1, 120, 0, 0},
};

const aiScene* Read(Assimp::Importer* importer, const std::string& path) {
    importer->SetPropertyBool(AI_CONFIG_IMPORT_FBX_PRESERVE_PIVOTS, false);
    importer->SetPropertyBool(AI_CONFIG_IMPORT_NO_SKELETON_MESHES, true);
    return importer->ReadFile(
        path, aiProcess_Triangulate | aiProcess_LimitBoneWeights | aiProcess_JoinIdenticalVertices);
}

// assimp's evaluation of a node's local transform at Ticks: keys clamped, positions and
// scales linear, orientations spherical.
template <typename Key, typename Value>
Value At(const Key* keys, unsigned n, double ticks, Value rest) {
    if (n == 0) return rest;
    if (ticks <= keys[0].mTime) return keys[0].mValue;
    for (unsigned k = 1; k < n; ++k) {
        if (ticks <= keys[k].mTime) {
            const double span = keys[k].mTime - keys[k - 1].mTime;
            const float f = span > 0 ? float((ticks - keys[k - 1].mTime) / span) : 0;
            if constexpr (std::is_same_v<Value, aiQuaternion>) {
                aiQuaternion q;
                aiQuaternion::Interpolate(q, keys[k - 1].mValue, keys[k].mValue, f);
                return q.Normalize();
            } else {
                return keys[k - 1].mValue + (keys[k].mValue - keys[k - 1].mValue) * f;
            }
        }
    }
    return keys[n - 1].mValue;
}

// Node globals of the character's scene with the clip's channels (matched by name) applied;
// nodes without a channel take their transform in the clip's scene where it has the node.
struct Reference {
    const aiScene* scene;
    const aiScene* clipScene;
    const aiAnimation* clip;
    double ticks;
    std::map<std::string, aiMatrix4x4> global;

    void Walk(const aiNode* node, const aiMatrix4x4& parent) {
        aiMatrix4x4 local = node->mTransformation;
        if (clipScene) {
            if (const aiNode* own = clipScene->mRootNode->FindNode(node->mName))
                local = own->mTransformation;
        }
        if (clip) {
            for (unsigned c = 0; c < clip->mNumChannels; ++c) {
                const aiNodeAnim* ch = clip->mChannels[c];
                if (ch->mNodeName != node->mName) continue;
                aiVector3D s0, t0;
                aiQuaternion r0;
                local.Decompose(s0, r0, t0);
                local = aiMatrix4x4(At(ch->mScalingKeys, ch->mNumScalingKeys, ticks, s0),
                                    At(ch->mRotationKeys, ch->mNumRotationKeys, ticks, r0),
                                    At(ch->mPositionKeys, ch->mNumPositionKeys, ticks, t0));
            }
        }
        const aiMatrix4x4 g = parent * local;
        global.emplace(node->mName.C_Str(), g);
        for (unsigned i = 0; i < node->mNumChildren; ++i)
            Walk(node->mChildren[i], g);
    }
};

// Arrays of pointers in a loaded file are 4-byte aligned: read their entries by value.
using import_support::Entry;

aiMatrix4x4 FromColumns(const float* a) {
    aiMatrix4x4 m;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m[r][c] = a[c * 4 + r];
    return m;
}

// Bone world matrices of the loaded skeleton, from the clip's tracks at Seconds (or the rest
// pose without a clip).
std::vector<aiMatrix4x4> OurWorld(const orvane_skeleton* skeleton, const orvane_animation* clip,
                                  float seconds) {
    std::vector<aiMatrix4x4> world(size_t(skeleton->BoneCount));
    for (int i = 0; i < skeleton->BoneCount; ++i) {
        const orvane_bone& bone = skeleton->Bones[i];
        orvane_transform local = bone.Transform;
        if (clip) {
            const orvane_track_group* group = Entry(clip->TrackGroups, 0);
            int track = -1;
            if (OrvaneFindTrackByName(group, bone.Name, &track)) {
                orvane_track_sample_context context = {};
                context.SampleTime = seconds;
                context.SampleDuration = clip->Duration;
                local = {};
                OrvaneSampleTrackUUULocal(&context, &group->TransformTracks[track], nullptr,
                                          &local);
            }
        }
        float m[16];
        OrvaneBuildCompositeTransform4x4(&local, m);
        const aiMatrix4x4 l = FromColumns(m);
        world[size_t(i)] = bone.ParentIndex >= 0 ? world[size_t(bone.ParentIndex)] * l : l;
    }
    return world;
}

struct Loaded {
    orvane_file* file = nullptr;
    orvane_file_info* info = nullptr;
    ~Loaded() { OrvaneFreeFile(file); }
};

class ImportAsset : public ::testing::TestWithParam<Asset> {};

TEST_P(ImportAsset, MatchesTheSourceScene) {
    const Asset& asset = GetParam();
    const std::string dir = DataDir() + "/assets/";
    const std::string source = dir + asset.file;
    const std::string clipSource = asset.clipFile ? dir + asset.clipFile : "";
    ORVANE_SKIP_WITHOUT_DATA(source);
    const char* clipFiles[1] = {clipSource.c_str()};

    orvane_import_options options;
    OrvaneGetDefaultImportOptions(&options);
    options.ToleranceCentimeters = 0.1f;
    // Uncompressed sections keep the raw textures quick to write; the codecs have their own
    // tests, and the basis test below writes with the default one.
    options.Codec = OrvaneImportNoCompression;
    options.AnimationFileCount = asset.clipFile ? 1 : 0;
    options.AnimationFiles = clipFiles;
    const std::string out = TempPath(std::string(asset.name) + ".ovn");
    const std::string again = TempPath(std::string(asset.name) + "_again.ovn");
    orvane_import_summary summary;
    ASSERT_TRUE(OrvaneImportFile(source.c_str(), out.c_str(), &options, &summary)) << summary.Error;
    EXPECT_EQ(summary.MeshCount, asset.meshes);
    EXPECT_EQ(summary.AnimationCount, asset.clips);
    // Every clip within the requested object-space tolerance.
    EXPECT_LE(summary.MaxAnimationError, summary.ToleranceUsed * 1.0001f);

    // The same input gives the same bytes.
    ASSERT_TRUE(OrvaneImportFile(source.c_str(), again.c_str(), &options, nullptr));
    const std::string bytes = ReadBytes(out);
    EXPECT_FALSE(bytes.empty());
    EXPECT_TRUE(bytes == ReadBytes(again)) << "two imports of " << asset.file << " differ";
    std::remove(again.c_str());

#ifdef ORVANE_TOOL_PATH
    const std::string verify = std::string(ORVANE_TOOL_PATH) + " verify " + out + " >/dev/null";
    EXPECT_EQ(std::system(verify.c_str()), 0) << verify;
#endif

    Loaded loaded;
    loaded.file = OrvaneReadEntireFile(out.c_str());
    ASSERT_NE(loaded.file, nullptr);
    loaded.info = OrvaneGetFileInfo(loaded.file);
    ASSERT_NE(loaded.info, nullptr);
    const orvane_file_info& info = *loaded.info;
    ASSERT_EQ(info.SkeletonCount, 1);
    ASSERT_EQ(info.ModelCount, 1);
    EXPECT_EQ(info.MeshCount, asset.meshes);
    EXPECT_EQ(Entry(info.Models, 0)->MeshBindingCount, asset.meshes);
    ASSERT_EQ(info.AnimationCount, asset.clips);
    EXPECT_EQ(info.TextureCount, asset.textures);
    for (int t = 0; t < info.TextureCount; ++t) {
        EXPECT_GT(Entry(info.Textures, t)->Width, 0);
        EXPECT_EQ(Entry(info.Textures, t)->Encoding, OrvaneRawTextureEncoding);
    }
    if (asset.textures) {
        ASSERT_GT(Entry(info.Meshes, 0)->MaterialBindingCount, 0);
        const orvane_material* m = Entry(info.Meshes, 0)->MaterialBindings[0].Material;
        ASSERT_EQ(m->MapCount, 1);
        EXPECT_STREQ(m->Maps[0].Usage, "DiffuseColor");
        const orvane_texture* mapped = m->Maps[0].Map->Texture;  // a packed member: by value
        EXPECT_EQ(mapped, Entry(info.Textures, 0));
    }
    // The smallest standard layout for the influences present: one bone has an index and no
    // weights (the COLLADA walk's rigid skinning), more have a weight per bone.
    for (int m = 0; m < info.MeshCount; ++m) {
        int weights = -1, indices = -1;
        for (const orvane_data_type_definition* d = OrvaneGetMeshVertexType(Entry(info.Meshes, m));
             d->Type != OrvaneEndMember; ++d) {
            const int width = d->ArrayWidth > 1 ? d->ArrayWidth : 1;
            if (!std::strcmp(d->Name, "BoneWeights")) weights = width;
            if (!std::strcmp(d->Name, "BoneIndices")) indices = width;
        }
        EXPECT_EQ(indices, asset.influences);
        EXPECT_EQ(weights, asset.influences > 1 ? asset.influences : -1);
    }
    // Skinning weights end normalised (CesiumMan's do not sum to one in the source).
    for (int m = 0; m < info.MeshCount; ++m) {
        const orvane_mesh* mesh = Entry(info.Meshes, m);
        std::vector<orvane_pwn343_vertex> v(static_cast<size_t>(OrvaneGetMeshVertexCount(mesh)));
        OrvaneCopyMeshVertices(mesh, OrvanePWN343VertexType, v.data());
        for (const orvane_pwn343_vertex& x : v) {
            const int sum =
                x.BoneWeights[0] + x.BoneWeights[1] + x.BoneWeights[2] + x.BoneWeights[3];
            ASSERT_TRUE(sum == 255 || sum == 0) << mesh->Name << ": weights sum to " << sum;
        }
    }
    // No helper nodes of the FBX reader's pivot emulation.
    for (int i = 0; i < Entry(info.Skeletons, 0)->BoneCount; ++i)
        EXPECT_EQ(std::strstr(Entry(info.Skeletons, 0)->Bones[i].Name, "$AssimpFbx$"), nullptr)
            << Entry(info.Skeletons, 0)->Bones[i].Name;
    const orvane_skeleton* skeleton = Entry(info.Skeletons, 0);
    const float height = summary.CharacterHeight;
    ASSERT_GT(height, 0);

    Assimp::Importer importer, clipImporter;
    const aiScene* scene = Read(&importer, source);
    ASSERT_NE(scene, nullptr);
    const aiScene* clipScene = asset.clipFile ? Read(&clipImporter, clipSource) : scene;
    ASSERT_NE(clipScene, nullptr);

    // Rest pose: every bone a mesh binds sits where its inverse bind matrix puts it.
    std::map<std::string, aiMatrix4x4> offsets;
    for (unsigned m = 0; m < scene->mNumMeshes; ++m)
        for (unsigned b = 0; b < scene->mMeshes[m]->mNumBones; ++b)
            offsets.emplace(scene->mMeshes[m]->mBones[b]->mName.C_Str(),
                            scene->mMeshes[m]->mBones[b]->mOffsetMatrix);
    const std::vector<aiMatrix4x4> rest = OurWorld(skeleton, nullptr, 0);
    int bound = 0;
    for (int i = 0; i < skeleton->BoneCount; ++i) {
        auto it = offsets.find(skeleton->Bones[i].Name);
        if (asset.meshes == 0 || it == offsets.end()) continue;
        const aiMatrix4x4 bind = aiMatrix4x4(it->second).Inverse();
        const aiVector3D d = aiVector3D(bind.a4, bind.b4, bind.c4) -
                             aiVector3D(rest[size_t(i)].a4, rest[size_t(i)].b4, rest[size_t(i)].c4);
        EXPECT_LE(d.Length(), 0.001f * height) << "rest pose of " << skeleton->Bones[i].Name;
        ++bound;
    }
    if (asset.meshes) {
        EXPECT_EQ(size_t(bound), offsets.size());
    }

    // Animated poses at several times of every clip.
    for (int a = 0; a < info.AnimationCount; ++a) {
        const orvane_animation* clip = Entry(info.Animations, a);
        const aiAnimation* source_clip = clipScene->mAnimations[a];
        const double tps = source_clip->mTicksPerSecond > 0 ? source_clip->mTicksPerSecond : 25;
        EXPECT_NEAR(clip->Duration, source_clip->mDuration / tps, 1e-4) << clip->Name;
        int32_t group = -1;
        EXPECT_TRUE(OrvaneFindTrackGroupForModel(clip, Entry(info.Models, 0)->Name, &group))
            << clip->Name << ": a control on the model finds its track group";
        if (clip->Duration > 0) {
            // The clip's own rate, or a whole multiple of it where wide turns between keys
            // take samples between them (the COLLADA walk's camera).
            const double perFrame = 1 / (clip->TimeStep * asset.rate);
            EXPECT_NEAR(perFrame, std::max(1.0, std::round(perFrame)), 0.02) << clip->Name;
        } else {
            // A zero-length clip (Testwuson's Bind) holds its one pose.
            EXPECT_GT(clip->TimeStep, 0);
            EXPECT_EQ(std::string(clip->Name), "Wuson_Bind");
        }
        // At 0%, 10%, ... 100% of the clip and half way between samples near a third and
        // two thirds of it; skinned vertices at the first two of those.
        const int frames =
            clip->TimeStep > 0 ? int(std::lround(clip->Duration / clip->TimeStep)) : 0;
        std::vector<float> instants;
        for (int i = 0; i <= 10; ++i)
            instants.push_back(clip->Duration * float(i) / 10);
        for (int frame : {frames / 3, (2 * frames) / 3})
            if (frame < frames) instants.push_back((float(frame) + 0.5f) * clip->TimeStep);
        float worstJoint = 0, worstSkinned = 0;
        for (float instant : instants) {
            const float seconds = std::min(instant, clip->Duration);
            const bool skin = instant == instants[1] || instant == instants[2];
            Reference ref = {
                scene, asset.clipFile ? clipScene : nullptr, source_clip, seconds * tps, {}};
            ref.Walk(scene->mRootNode, aiMatrix4x4());
            const std::vector<aiMatrix4x4> world = OurWorld(skeleton, clip, seconds);
            float worst = 0;
            for (int i = 0; i < skeleton->BoneCount; ++i) {
                auto it = ref.global.find(skeleton->Bones[i].Name);
                if (it == ref.global.end()) continue;
                const aiMatrix4x4& g = it->second;
                const aiVector3D d =
                    aiVector3D(g.a4, g.b4, g.c4) -
                    aiVector3D(world[size_t(i)].a4, world[size_t(i)].b4, world[size_t(i)].c4);
                worst = std::max(worst, d.Length());
            }
            // The tolerance, and the float rounding of positions far from the origin.
            EXPECT_LE(worst, summary.ToleranceUsed * 1.0001f + 2e-6f * height)
                << clip->Name << " at " << seconds << " s";
            worstJoint = std::max(worstJoint, worst);

            // Skinned vertices: assimp's weights (normalised here) against the file's.
            for (int m = 0; m < info.MeshCount && skin; ++m) {
                const orvane_mesh* mesh = Entry(info.Meshes, m);
                const aiMesh* src = scene->mMeshes[m];
                std::map<std::tuple<float, float, float>, unsigned> byPosition;
                for (unsigned v = 0; v < src->mNumVertices; ++v)
                    byPosition.emplace(std::make_tuple(src->mVertices[v].x, src->mVertices[v].y,
                                                       src->mVertices[v].z),
                                       v);
                std::vector<std::vector<std::pair<unsigned, float>>> weights(src->mNumVertices);
                for (unsigned b = 0; b < src->mNumBones; ++b)
                    for (unsigned w = 0; w < src->mBones[b]->mNumWeights; ++w)
                        weights[src->mBones[b]->mWeights[w].mVertexId].push_back(
                            {b, src->mBones[b]->mWeights[w].mWeight});
                const int count = OrvaneGetMeshVertexCount(mesh);
                std::vector<orvane_pwn343_vertex> ours(static_cast<size_t>(count));
                OrvaneCopyMeshVertices(mesh, OrvanePWN343VertexType, ours.data());
                // One bone per vertex has an index and no weight.
                std::vector<orvane_pwn313_vertex> single(static_cast<size_t>(count));
                OrvaneCopyMeshVertices(mesh, OrvanePWN313VertexType, single.data());
                for (size_t v = 0; v < ours.size(); ++v) {
                    const orvane_uint8* w = ours[v].BoneWeights;
                    if (w[0] + w[1] + w[2] + w[3] == 0) {
                        ours[v].BoneWeights[0] = 255;
                        ours[v].BoneIndices[0] = orvane_uint8(single[v].BoneIndices);
                    }
                }
                std::vector<int> bindingBone(size_t(mesh->BoneBindingCount), -1);
                for (int b = 0; b < mesh->BoneBindingCount; ++b)
                    OrvaneFindBoneByName(skeleton, mesh->BoneBindings[b].BoneName,
                                         &bindingBone[size_t(b)]);
                int matched = 0;
                float worstVertex = 0;
                for (const orvane_pwn343_vertex& v : ours) {
                    auto it = byPosition.find(
                        std::make_tuple(v.Position[0], v.Position[1], v.Position[2]));
                    if (it == byPosition.end()) continue;
                    ++matched;
                    const aiVector3D p(v.Position[0], v.Position[1], v.Position[2]);
                    aiVector3D expected(0, 0, 0), got(0, 0, 0);
                    float sum = 0;
                    for (auto& [b, w] : weights[it->second]) {
                        expected += w * (ref.global[src->mBones[b]->mName.C_Str()] *
                                         src->mBones[b]->mOffsetMatrix * p);
                        sum += w;
                    }
                    if (sum > 0) expected /= sum;
                    for (int k = 0; k < 4; ++k) {
                        if (v.BoneWeights[k] == 0) continue;
                        const int bone = bindingBone[v.BoneIndices[k]];
                        ASSERT_GE(bone, 0);
                        const aiMatrix4x4 inverse =
                            FromColumns(&skeleton->Bones[bone].InverseWorldTransform[0][0]);
                        got += (v.BoneWeights[k] / 255.0f) * (world[size_t(bone)] * inverse * p);
                    }
                    worstVertex = std::max(worstVertex, (got - expected).Length());
                }
                EXPECT_GE(matched, count * 9 / 10);
                // The file's weights are rounded to 8 bits; a skinning fault shows above this.
                EXPECT_LE(worstVertex, 0.005f * height) << mesh->Name << " in " << clip->Name;
                worstSkinned = std::max(worstSkinned, worstVertex);
            }
        }
        std::printf(
            "[ measure  ] %s, clip %s: largest joint error %g, largest skinned vertex "
            "error %g (8-bit weights), tolerance %g, extent %g\n",
            asset.file, clip->Name, double(worstJoint), double(worstSkinned),
            double(summary.ToleranceUsed), double(height));
    }
    std::remove(out.c_str());
}

INSTANTIATE_TEST_SUITE_P(SharedAssets, ImportAsset, ::testing::ValuesIn(kAssets),
                         [](const ::testing::TestParamInfo<Asset>& info) {
                             return std::string(info.param.name);
                         });

// A motion capture clip of N frames plays N samples, one on each frame: its time step is the
// file's frame time, and at every frame's time the joints are where that frame puts them.
void ExpectFramesPlayAtTheirTimes(const std::string& source, int frames, float frameTime) {
    orvane_import_options options;
    OrvaneGetDefaultImportOptions(&options);
    options.Codec = OrvaneImportNoCompression;
    const std::string out = TempPath("frames.ovn");
    orvane_import_summary summary;
    ASSERT_TRUE(OrvaneImportFile(source.c_str(), out.c_str(), &options, &summary)) << summary.Error;
    Loaded loaded;
    loaded.file = OrvaneReadEntireFile(out.c_str());
    ASSERT_NE(loaded.file, nullptr);
    loaded.info = OrvaneGetFileInfo(loaded.file);
    ASSERT_NE(loaded.info, nullptr);
    ASSERT_EQ(loaded.info->AnimationCount, 1);
    const orvane_animation* clip = Entry(loaded.info->Animations, 0);
    const orvane_skeleton* skeleton = Entry(loaded.info->Skeletons, 0);
    EXPECT_NEAR(clip->TimeStep, frameTime, 1e-6f * frameTime) << source;
    EXPECT_NEAR(clip->Duration, (frames - 1) * double(frameTime), 1e-5) << source;
    EXPECT_EQ(std::lround(clip->Duration / clip->TimeStep) + 1, frames) << source;

    Assimp::Importer importer;
    const aiScene* scene = Read(&importer, source);
    ASSERT_NE(scene, nullptr);
    ASSERT_EQ(scene->mNumAnimations, 1u);
    // The error allowed is the budget, and the rounding of float positions of this size.
    const float allowed = summary.ToleranceUsed * 1.0001f + 2e-7f * summary.CharacterHeight;
    float worst = 0;
    int worstFrame = -1;
    for (int f = 0; f < frames; ++f) {
        Reference ref = {scene, nullptr, scene->mAnimations[0], double(f), {}};
        ref.Walk(scene->mRootNode, aiMatrix4x4());
        const std::vector<aiMatrix4x4> world = OurWorld(skeleton, clip, float(f) * frameTime);
        for (int i = 0; i < skeleton->BoneCount; ++i) {
            auto it = ref.global.find(skeleton->Bones[i].Name);
            if (it == ref.global.end()) continue;
            const aiMatrix4x4& g = it->second;
            const float d =
                (aiVector3D(g.a4, g.b4, g.c4) -
                 aiVector3D(world[size_t(i)].a4, world[size_t(i)].b4, world[size_t(i)].c4))
                    .Length();
            if (d > worst) worst = d, worstFrame = f;
        }
    }
    EXPECT_LE(worst, allowed) << source << ": frame " << worstFrame << " (budget "
                              << summary.ToleranceUsed << ")";
    std::printf("[ measure  ] %s: %d frames, largest joint error at a frame %g (budget %g)\n",
                source.c_str(), frames, worst, summary.ToleranceUsed);
    std::remove(out.c_str());
}

TEST(Import, MotionCaptureFramesPlayAtTheirTimes) {
    const std::string walk = DataDir() + "/assets/bvh/cmu/walk.bvh";
    ORVANE_SKIP_WITHOUT_DATA(walk);
    {
        // The frame count and time as the file states them.
        std::ifstream in(walk);
        std::string line;
        int frames = 0;
        float frameTime = 0;
        while (std::getline(in, line)) {
            if (line.rfind("Frames:", 0) == 0) frames = std::atoi(line.c_str() + 7);
            if (line.rfind("Frame Time:", 0) == 0) {
                frameTime = std::strtof(line.c_str() + 11, nullptr);
                break;
            }
        }
        ASSERT_EQ(frames, 344);
        ExpectFramesPlayAtTheirTimes(walk, frames, frameTime);
    }
    // 230 frames at 24 a second, whose frame time rounds up as a float (0.041666668 s): the
    // clip still has 230 samples. The joints turn and move by a different amount each frame.
    const std::string made = TempPath("frames24.bvh");
    {
        std::ofstream f(made);
        f << "HIERARCHY\nROOT Hips\n{\n OFFSET 0 0 0\n CHANNELS 6 Xposition Yposition Zposition "
             "Zrotation Xrotation Yrotation\n JOINT Chest\n {\n  OFFSET 0 30 0\n  CHANNELS 3 "
             "Zrotation Xrotation Yrotation\n  JOINT Head\n  {\n   OFFSET 0 40 0\n   CHANNELS 3 "
             "Zrotation Xrotation Yrotation\n   End Site\n   {\n    OFFSET 0 20 0\n   }\n  }\n "
             "}\n}\nMOTION\nFrames: 230\nFrame Time: 0.041666668\n";
        for (int i = 0; i < 230; ++i) {
            const double a = i * 0.37;
            f << 3 * i + 5 * std::sin(a) << " " << 90 + 4 * std::cos(2 * a) << " " << i * 0.5 << " "
              << 25 * std::sin(a) << " " << 10 * std::cos(a * 1.3) << " " << 40 * std::sin(a) << " "
              << 35 * std::sin(0.8 * a) << " " << 5 << " " << 20 * std::cos(a) << " "
              << 30 * std::cos(1.7 * a) << " " << 15 * std::sin(a) << " " << 0 << "\n";
        }
    }
    ExpectFramesPlayAtTheirTimes(made, 230, 0.041666668f);
    std::remove(made.c_str());
}

TEST(Import, RefusesWhatCannotBeImported) {
    orvane_import_summary summary;
    const std::string out = TempPath("refused.ovn");
    // A file the scene reader cannot read.
    const std::string junk = TempPath("junk.gltf");
    {
        std::ofstream f(junk);
        f << "{ not a scene";
    }
    EXPECT_FALSE(OrvaneImportFile(junk.c_str(), out.c_str(), nullptr, &summary));
    EXPECT_NE(summary.Error[0], 0);
    EXPECT_FALSE(OrvaneImportFile("/nonexistent/file.fbx", out.c_str(), nullptr, &summary));
    // A scene with nothing to import: a lone empty node.
    const std::string empty = TempPath("empty.dae");
    {
        std::ofstream f(empty);
        f << "<?xml version=\"1.0\"?><COLLADA xmlns=\"http://www.collada.org/2005/11/"
             "COLLADASchema\" version=\"1.4.1\"><library_visual_scenes><visual_scene id=\"s\">"
             "<node id=\"n\"/></visual_scene></library_visual_scenes><scene><instance_visual_"
             "scene url=\"#s\"/></scene></COLLADA>";
    }
    EXPECT_FALSE(OrvaneImportFile(empty.c_str(), out.c_str(), nullptr, &summary));
    EXPECT_NE(std::strstr(summary.Error, "no mesh"), nullptr) << summary.Error;
    // Options out of range.
    orvane_import_options options;
    OrvaneGetDefaultImportOptions(&options);
    options.ToleranceCentimeters = -1;
    const std::string fox = DataDir() + "/assets/gltf/Fox/Fox.glb";
    EXPECT_FALSE(OrvaneImportFile(fox.c_str(), out.c_str(), &options, &summary));
    EXPECT_FALSE(OrvaneImportFile(nullptr, out.c_str(), nullptr, nullptr));
    // An output that cannot be written.
    OrvaneGetDefaultImportOptions(&options);
    options.ToleranceCentimeters = 5;
    EXPECT_FALSE(OrvaneImportFile(fox.c_str(), "/nonexistent/dir/fox.ovn", &options, &summary));
    EXPECT_NE(std::strstr(summary.Error, "cannot"), nullptr) << summary.Error;
    std::remove(junk.c_str());
    std::remove(empty.c_str());
    std::remove(out.c_str());
}

TEST(Import, EncodesTexturesAsS3TC) {
    const std::string fox = DataDir() + "/assets/gltf/Fox/Fox.glb";
    ORVANE_SKIP_WITHOUT_DATA(fox);
    orvane_import_options options;
    OrvaneGetDefaultImportOptions(&options);
    options.ToleranceCentimeters = 5;
    options.TextureEncoding = OrvaneImportS3TCTextures;
    options.Codec = OrvaneImportNoCompression;
    const std::string out = TempPath("fox_s3tc.ovn");
    ASSERT_TRUE(OrvaneImportFile(fox.c_str(), out.c_str(), &options, nullptr));
    Loaded loaded;
    loaded.file = OrvaneReadEntireFile(out.c_str());
    ASSERT_NE(loaded.file, nullptr);
    loaded.info = OrvaneGetFileInfo(loaded.file);
    ASSERT_NE(loaded.info, nullptr);
    ASSERT_EQ(loaded.info->TextureCount, 1);
    const orvane_texture* t = Entry(loaded.info->Textures, 0);
    EXPECT_EQ(t->Encoding, OrvaneS3TCTextureEncoding);
    EXPECT_EQ(t->Width, 1024);
    // Decoded back close to the source colours: not all black, not all one value.
    std::vector<orvane_uint8> rgba(size_t(t->Width) * size_t(t->Height) * 4);
    ASSERT_TRUE(OrvaneCopyTextureImage(t, 0, 0, OrvaneRGBA8888PixelFormat, t->Width, t->Height,
                                       t->Width * 4, rgba.data()));
    EXPECT_NE(*std::max_element(rgba.begin(), rgba.end()),
              *std::min_element(rgba.begin(), rgba.end()));
    std::remove(out.c_str());
}

#ifdef ORVANE_TOOL_PATH
std::string RunCommand(const std::string& command, int* status) {
    std::string text;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) {
        *status = -1;
        return text;
    }
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, p))
        text += buffer;
    const int rc = pclose(p);
    *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return text;
}

// The command: a summary line per object, the clip file matched by bone name, and exit status
// 1 with a clear message for what cannot be imported.
TEST(ImportCommand, ImportsAndRefuses) {
    const std::string dir = DataDir() + "/assets/fbx/pab/";
    ORVANE_SKIP_WITHOUT_DATA(dir + "arnaud.fbx");
    const std::string out = TempPath("command.ovn");
    int status = -1;
    std::string text =
        RunCommand(std::string(ORVANE_TOOL_PATH) + " import " + dir + "arnaud.fbx -o " + out +
                       " --tolerance 1 --codec pelma0 --axes x,z,-y " +
                       "--units-per-meter 100 --anim " + dir + "walk.fbx",
                   &status);
    EXPECT_EQ(status, 0) << text;
    EXPECT_NE(text.find("skeleton \""), std::string::npos) << text;
    EXPECT_NE(text.find("mesh \"Generic_Man_LR_polySurface1\""), std::string::npos) << text;
    EXPECT_NE(text.find("animation \"walk\""), std::string::npos) << text;
    text = RunCommand(std::string(ORVANE_TOOL_PATH) + " verify " + out, &status);
    EXPECT_EQ(status, 0) << text;

    text =
        RunCommand(std::string(ORVANE_TOOL_PATH) + " import /nonexistent.fbx -o " + out, &status);
    EXPECT_EQ(status, 1);
    // Checked before any work, with the operating system's reason, once.
    EXPECT_NE(text.find("/nonexistent.fbx: No such file or directory"), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    text = RunCommand(std::string(ORVANE_TOOL_PATH) + " import " + dir + "arnaud.fbx --codec zip",
                      &status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(text.find("usage"), std::string::npos) << text;
    text = RunCommand(std::string(ORVANE_TOOL_PATH) + " import " + dir + "arnaud.fbx --axes x,y",
                      &status);
    EXPECT_EQ(status, 1);
    std::remove(out.c_str());
}
#endif

// Z-up centimetres: the rest pose turns and scales with the basis.
TEST(Import, ConvertsIntoTheRequestedBasis) {
    const std::string fox = DataDir() + "/assets/x/Testwuson/Testwuson.X";
    ORVANE_SKIP_WITHOUT_DATA(fox);
    orvane_import_options options;
    OrvaneGetDefaultImportOptions(&options);
    options.ToleranceCentimeters = 1;
    const std::string plain = TempPath("plain.ovn"), zup = TempPath("zup.ovn");
    ASSERT_TRUE(OrvaneImportFile(fox.c_str(), plain.c_str(), &options, nullptr));
    const float right[3] = {1, 0, 0}, up[3] = {0, 0, 1}, back[3] = {0, -1, 0};
    std::memcpy(options.Right, right, sizeof right);
    std::memcpy(options.Up, up, sizeof up);
    std::memcpy(options.Back, back, sizeof back);
    options.UnitsPerMeter = 100;
    ASSERT_TRUE(OrvaneImportFile(fox.c_str(), zup.c_str(), &options, nullptr));
    Loaded a, b;
    a.file = OrvaneReadEntireFile(plain.c_str());
    b.file = OrvaneReadEntireFile(zup.c_str());
    ASSERT_TRUE(a.file && b.file);
    a.info = OrvaneGetFileInfo(a.file);
    b.info = OrvaneGetFileInfo(b.file);
    ASSERT_TRUE(a.info && b.info);
    const orvane_skeleton* sa = Entry(a.info->Skeletons, 0);
    const orvane_skeleton* sb = Entry(b.info->Skeletons, 0);
    ASSERT_EQ(sa->BoneCount, sb->BoneCount);
    const std::vector<aiMatrix4x4> wa = OurWorld(sa, nullptr, 0), wb = OurWorld(sb, nullptr, 0);
    for (int i = 0; i < sa->BoneCount; ++i) {
        // Y up becomes Z up, Z back becomes -Y back, metres become centimetres.
        EXPECT_NEAR(wb[size_t(i)].a4, 100 * wa[size_t(i)].a4,
                    1e-2f + 1e-4f * std::fabs(wb[size_t(i)].a4));
        EXPECT_NEAR(wb[size_t(i)].c4, 100 * wa[size_t(i)].b4,
                    1e-2f + 1e-4f * std::fabs(wb[size_t(i)].c4));
        EXPECT_NEAR(wb[size_t(i)].b4, -100 * wa[size_t(i)].c4,
                    1e-2f + 1e-4f * std::fabs(wb[size_t(i)].b4));
    }
    EXPECT_EQ(b.info->ArtToolInfo->UnitsPerMeter, 100.0f);
    // The clips were fitted in the new basis: poses agree within both tolerances (1 cm).
    ASSERT_EQ(a.info->AnimationCount, b.info->AnimationCount);
    for (int c = 0; c < a.info->AnimationCount; ++c) {
        const float t = Entry(a.info->Animations, c)->Duration * 0.5f;
        const std::vector<aiMatrix4x4> pa = OurWorld(sa, Entry(a.info->Animations, c), t);
        const std::vector<aiMatrix4x4> pb = OurWorld(sb, Entry(b.info->Animations, c), t);
        for (int i = 0; i < sa->BoneCount; ++i) {
            const aiVector3D expected(100 * pa[size_t(i)].a4, -100 * pa[size_t(i)].c4,
                                      100 * pa[size_t(i)].b4);
            const aiVector3D got(pb[size_t(i)].a4, pb[size_t(i)].b4, pb[size_t(i)].c4);
            EXPECT_LE((got - expected).Length(), 2.01f) << sb->Bones[i].Name;
        }
    }
    std::remove(plain.c_str());
    std::remove(zup.c_str());
}

}  // namespace

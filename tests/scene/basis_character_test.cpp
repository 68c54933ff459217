// Basis conversion of the shared walk/jog character (skeleton, skinned mesh and the walk clip,
// built through the library's builders) from its art tool's Y-up metres into Z-up centimetres
// and back: the sampled skeleton and the skinned mesh must come out as the originals mapped
// through the linear part, and the round trip must give the originals back.
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "orvane/basis_conversion.h"
#include "orvane/track_group_builder.h"
#include "orvane/track_sampler.h"
#include "orvane/mesh.h"
#include "orvane/mesh_builder.h"
#include "orvane/skeleton.h"
#include "orvane/skeleton_builder.h"
#include "orvane_pab_workload.h"
#include "testing/data_path.h"

namespace {

struct Free {
    void operator()(void* p) const { OrvaneFreeBuilderResult(p); }
};

struct CharacterContent {
    const orvane_workload::Workload* w;
    std::unique_ptr<orvane_skeleton, Free> skeleton;
    std::unique_ptr<orvane_track_group, Free> group;
    std::vector<orvane_pn33_vertex> vertices;
    orvane_vertex_data vertexData{};
    orvane_mesh mesh{};
    orvane_mesh* meshes[1]{};
    orvane_skeleton* skeletons[1]{};
    orvane_track_group* groups[1]{};
    orvane_animation animation{};
    orvane_animation* animations[1]{};
    orvane_art_tool_info tool{};
    orvane_file_info file{};

    explicit CharacterContent(const orvane_workload::Workload* workload) : w(workload) {
        const int n = int(w->joints.size());
        orvane_skeleton_builder* b = OrvaneBeginSkeleton(n);
        std::vector<orvane_transform> world(n);
        for (int i = 0; i < n; ++i) {
            const auto& j = w->joints[i];
            const float scale[9] = {j.scale[0], 0, 0, 0, j.scale[1], 0, 0, 0, j.scale[2]};
            orvane_transform local;
            OrvaneSetTransformWithIdentityCheck(&local, j.translation, j.rotation, scale);
            if (j.parent < 0) {
                world[i] = local;
            } else {
                OrvaneMultiply(&world[i], &world[j.parent], &local);
            }
            OrvaneAddBone(b, j.translation, j.rotation, scale, world[i].Position,
                          world[i].Orientation, &world[i].ScaleShear[0][0]);
            OrvaneSetBoneParent(b, i, j.parent);
        }
        std::vector<int32_t> remap(n);
        skeleton.reset(OrvaneEndSkeleton(b, remap.data()));
        for (int i = 0; i < n; ++i)
            skeleton->Bones[remap[i]].Name = const_cast<char*>(w->joints[i].name.c_str());

        // The walk as linear curves through its keys.
        const orvane_workload::Clip* walk = w->FindClip("walk");
        orvane_track_group_builder* g = OrvaneBeginTrackGroup("walk", 0, n, 0, false);
        for (int i = 0; i < n; ++i) {
            const auto& track = walk->tracks[i];
            OrvaneBeginTransformTrack(g, w->joints[i].name.c_str());
            std::vector<float> knots, controls;
            for (const auto& k : track.translations) {
                knots.push_back(k.time);
                controls.insert(controls.end(), k.value, k.value + 3);
            }
            OrvaneSetTransformTrackPosition(g, 1, 0, int32_t(knots.size()), knots.data(),
                                            controls.data(), OrvaneCurveDataDaK32fC32fType);
            knots.clear();
            controls.clear();
            for (const auto& k : track.rotations) {
                knots.push_back(k.time);
                controls.insert(controls.end(), k.value, k.value + 4);
            }
            OrvaneSetTransformTrackOrientation(g, 1, 0, int32_t(knots.size()), knots.data(),
                                               controls.data(), OrvaneCurveDataDaK32fC32fType);
            OrvaneEndTransformTrack(g);
        }
        group.reset(OrvaneEndTrackGroup(g));

        for (int v = 0; v < w->mesh.vertexCount; ++v) {
            orvane_pn33_vertex x;
            std::memcpy(x.Position, &w->mesh.positions[3 * v], sizeof(x.Position));
            std::memcpy(x.Normal, &w->mesh.normals[3 * v], sizeof(x.Normal));
            vertices.push_back(x);
        }
        vertexData.VertexType = OrvanePN33VertexType;
        vertexData.VertexCount = int32_t(vertices.size());
        vertexData.Vertices = vertices.data();
        mesh.PrimaryVertexData = &vertexData;

        meshes[0] = &mesh;
        skeletons[0] = skeleton.get();
        groups[0] = group.get();
        animation.TrackGroupCount = 1;
        animation.TrackGroups = groups;
        animations[0] = &animation;
        tool.UnitsPerMeter = 1.0f;
        tool.RightVector[0] = 1;
        tool.UpVector[1] = 1;
        tool.BackVector[2] = 1;
        file.ArtToolInfo = &tool;
        file.SkeletonCount = 1;
        file.Skeletons = skeletons;
        file.MeshCount = 1;
        file.Meshes = meshes;
        file.AnimationCount = 1;
        file.Animations = animations;
    }

    // Bone positions of the walk at time t and the mesh skinned by that pose (its four
    // influences, through the world pose's composite matrices).
    void Sample(float t, std::vector<float>* bones, std::vector<float>* skinned) const {
        const int n = skeleton->BoneCount;
        orvane_local_pose* local = OrvaneNewLocalPose(n);
        orvane_world_pose* world = OrvaneNewWorldPose(n);
        for (int i = 0; i < n; ++i) {
            orvane_transform* r = OrvaneGetLocalPoseTransform(local, i);
            *r = skeleton->Bones[i].Transform;
            for (int k = 0; k < group->TransformTrackCount; ++k) {
                if (std::strcmp(group->TransformTracks[k].Name, skeleton->Bones[i].Name) != 0)
                    continue;
                orvane_track_sample_context context{t, 1.3333f, false, false, 0};
                r->Flags = 0;
                OrvaneSampleTrackUUULocal(&context, &group->TransformTracks[k], nullptr, r);
            }
        }
        OrvaneBuildWorldPose(skeleton.get(), 0, n, local, nullptr, world);
        bones->clear();
        for (int i = 0; i < n; ++i) {
            const float* m = OrvaneGetWorldPose4x4(world, i);
            bones->insert(bones->end(), m + 12, m + 15);
        }
        // Mesh joints name skeleton joints by the workload's order; find them by name.
        std::vector<int32_t> bone(w->mesh.jointRemaps.size());
        for (size_t j = 0; j < bone.size(); ++j)
            OrvaneFindBoneByName(skeleton.get(), w->joints[w->mesh.jointRemaps[j]].name.c_str(),
                                 &bone[j]);
        skinned->clear();
        const int influences = w->mesh.influenceCount;
        for (const orvane_pn33_vertex& v : vertices) {
            const size_t index = &v - vertices.data();
            float out[3] = {0, 0, 0};
            for (int k = 0; k < influences; ++k) {
                const float weight = w->mesh.jointWeights[index * influences + k];
                const float* c = OrvaneGetWorldPoseComposite4x4(
                    world, bone[w->mesh.jointIndices[index * influences + k]]);
                for (int a = 0; a < 3; ++a)
                    out[a] += weight * (v.Position[0] * c[a] + v.Position[1] * c[4 + a] +
                                        v.Position[2] * c[8 + a] + c[12 + a]);
            }
            skinned->insert(skinned->end(), out, out + 3);
        }
        OrvaneFreeWorldPose(world);
        OrvaneFreeLocalPose(local);
    }
};

std::vector<float> Mapped(const std::vector<float>& points, const float m[9]) {
    std::vector<float> r(points.size());
    for (size_t i = 0; i + 2 < points.size(); i += 3)
        for (int k = 0; k < 3; ++k)
            r[i + k] =
                m[3 * k] * points[i] + m[3 * k + 1] * points[i + 1] + m[3 * k + 2] * points[i + 2];
    return r;
}

double LargestDifference(const std::vector<float>& a, const std::vector<float>& b) {
    double d = 0;
    for (size_t i = 0; i < a.size(); ++i)
        d = std::max(d, double(std::fabs(a[i] - b[i])));
    return d;
}

TEST(BasisConversionCharacter, WalkJogCharacterIntoZUpCentimetresAndBack) {
    ORVANE_SKIP_WITHOUT_DATA(orvane_workload::PabWorkloadPath());
    std::string error;
    const orvane_workload::Workload* w = orvane_workload::SharedPabWorkload(&error);
    ASSERT_NE(w, nullptr) << error;
    CharacterContent c(w);
    std::vector<float> bones, skinned;
    c.Sample(0.55f, &bones, &skinned);
    std::vector<float> positions;
    for (auto& v : c.vertices)
        positions.insert(positions.end(), v.Position, v.Position + 3);

    const float zero[3] = {0, 0, 0}, right[3] = {1, 0, 0}, up[3] = {0, 0, 1}, back[3] = {0, -1, 0};
    float affine[3], linear[9], inverse[9];
    ASSERT_TRUE(OrvaneComputeBasisConversion(&c.file, 100.0f, zero, right, up, back, affine, linear,
                                             inverse));
    ASSERT_TRUE(
        OrvaneTransformFile(&c.file, affine, linear, inverse, 0.0001f, 0.0001f,
                            OrvaneBasisRenormalizeDirections | OrvaneBasisReverseMirroredWinding));
    std::vector<float> bonesAfter, skinnedAfter, positionsAfter;
    for (auto& v : c.vertices)
        positionsAfter.insert(positionsAfter.end(), v.Position, v.Position + 3);
    c.Sample(0.55f, &bonesAfter, &skinnedAfter);
    // Centimetres now: a hundredth of a millimetre.
    EXPECT_LT(LargestDifference(positionsAfter, Mapped(positions, linear)), 1e-3);
    EXPECT_LT(LargestDifference(bonesAfter, Mapped(bones, linear)), 1e-3);
    EXPECT_LT(LargestDifference(skinnedAfter, Mapped(skinned, linear)), 1e-3);
    // The character stands along +z now.
    EXPECT_GT(bonesAfter[3 * 5 + 2], 50.0f);

    orvane_art_tool_info app{};
    app.UnitsPerMeter = 100.0f;
    std::memcpy(app.RightVector, right, sizeof(right));
    std::memcpy(app.UpVector, up, sizeof(up));
    std::memcpy(app.BackVector, back, sizeof(back));
    orvane_file_info appFile{};
    appFile.ArtToolInfo = &app;
    const float yUp[3] = {0, 1, 0}, zBack[3] = {0, 0, 1};
    ASSERT_TRUE(OrvaneComputeBasisConversion(&appFile, 1.0f, zero, right, yUp, zBack, affine,
                                             linear, inverse));
    ASSERT_TRUE(OrvaneTransformFile(&c.file, affine, linear, inverse, 0.0001f, 0.0001f,
                                    OrvaneBasisRenormalizeDirections));
    std::vector<float> bonesBack, skinnedBack, positionsBack;
    for (auto& v : c.vertices)
        positionsBack.insert(positionsBack.end(), v.Position, v.Position + 3);
    c.Sample(0.55f, &bonesBack, &skinnedBack);
    EXPECT_LT(LargestDifference(positionsBack, positions), 1e-5);
    EXPECT_LT(LargestDifference(bonesBack, bones), 1e-5);
    EXPECT_LT(LargestDifference(skinnedBack, skinned), 1e-5);
}

}  // namespace

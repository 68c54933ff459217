// A small character for the instance, binding and control tests: a named chain skeleton, a
// model, and an animation whose track group drives it, all made with the library's builders.
#ifndef ORVANE_TESTS_ANIM_INSTANCE_TEST_SUPPORT_H
#define ORVANE_TESTS_ANIM_INSTANCE_TEST_SUPPORT_H

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "orvane/skeleton_builder.h"
#include "orvane/track_group.h"
#include "orvane/track_group_builder.h"
#include "orvane/track_sampler.h"
#include "orvane/world_pose.h"
#include "orvane/core.h"
#include "orvane/file.h"
#include "orvane/data_tree_writer.h"
#include "orvane/math.h"
#include "orvane/types.h"
#include "orvane/controlled_animation.h"
#include "orvane/instance.h"

namespace orvane_instance_test {

inline void Quaternion(float axisZ, float angle, float q[4]) {
    // About (0, sin, cos)-ish axis mixed with z, normalised.
    const float ax[3] = {0.3f, axisZ, 1.0f};
    const float l = std::sqrt(ax[0] * ax[0] + ax[1] * ax[1] + ax[2] * ax[2]);
    const float s = std::sin(angle / 2) / l;
    q[0] = ax[0] * s;
    q[1] = ax[1] * s;
    q[2] = ax[2] * s;
    q[3] = std::cos(angle / 2);
}

// The source values of one bone's track: degree-1 position and orientation curves over
// knots 0, d/4, ... d.
struct TrackValues {
    std::string name;
    std::vector<float> knots;
    std::vector<float> positions;     // 3 per knot
    std::vector<float> orientations;  // 4 per knot
};

struct Character {
    std::vector<std::string> names;
    orvane_skeleton* skeleton = nullptr;
    orvane_model model{};
    orvane_track_group* group = nullptr;
    orvane_track_group* groups[2] = {nullptr, nullptr};
    orvane_animation animation{};
    std::vector<TrackValues> tracks;
    std::vector<char*> namePointers;

    Character(const Character&) = delete;
    Character& operator=(const Character&) = delete;

    // boneCount bones in a chain; every bone but `untracked` has a track. The root moves
    // forward by `rootStride` along x over the clip.
    explicit Character(int boneCount = 6, int untracked = 3, float duration = 2.0f,
                       float rootStride = 1.5f, const char* modelName = "Hero") {
        names.resize(size_t(boneCount));
        for (int i = 0; i < boneCount; ++i)
            names[size_t(i)] = "bone" + std::to_string(i);
        orvane_skeleton_builder* b = OrvaneBeginSkeleton(boneCount);
        orvane_transform world;
        OrvaneMakeIdentity(&world);
        for (int i = 0; i < boneCount; ++i) {
            orvane_transform local;
            float p[3] = {0.0f, i == 0 ? 0.0f : 1.0f, 0.0f};
            float q[4];
            Quaternion(0.1f * float(i), 0.2f + 0.1f * float(i), q);
            const float s[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
            OrvaneSetTransformWithIdentityCheck(&local, p, q, s);
            OrvanePostMultiplyBy(&world, &local);
            OrvaneAddBone(b, local.Position, local.Orientation, &local.ScaleShear[0][0],
                          world.Position, world.Orientation, &world.ScaleShear[0][0]);
            if (i > 0) OrvaneSetBoneParent(b, i, i - 1);
        }
        skeleton = OrvaneEndSkeleton(b, nullptr);
        for (int i = 0; i < boneCount; ++i)
            skeleton->Bones[i].Name = const_cast<char*>(names[size_t(i)].c_str());
        skeleton->Name = const_cast<char*>("HeroSkeleton");
        model.Name = const_cast<char*>(modelName);
        model.Skeleton = skeleton;
        OrvaneMakeIdentity(&model.InitialPlacement);

        orvane_track_group_builder* g = OrvaneBeginTrackGroup(modelName, 0, boneCount, 0, true);
        for (int i = 0; i < boneCount; ++i) {
            if (i == untracked) continue;
            TrackValues t;
            t.name = names[size_t(i)];
            const int n = 5;
            for (int k = 0; k < n; ++k) {
                const float u = float(k) / float(n - 1);
                t.knots.push_back(duration * u);
                if (i == 0) {
                    t.positions.insert(t.positions.end(),
                                       {rootStride * u, 0.1f * std::sin(6.0f * u), 0.0f});
                } else {
                    t.positions.insert(t.positions.end(),
                                       {0.1f * std::sin(3.0f * u + float(i)), 1.0f, 0.05f * u});
                }
                float q[4];
                Quaternion(0.1f * float(i), 0.2f + 0.1f * float(i) + 0.6f * std::sin(5.0f * u), q);
                t.orientations.insert(t.orientations.end(), q, q + 4);
            }
            OrvaneBeginTransformTrack(g, names[size_t(i)].c_str());
            OrvaneSetTransformTrackPosition(g, 1, 0, n, t.knots.data(), t.positions.data(),
                                            OrvaneCurveDataDaK32fC32fType);
            // The root's orientation stays the identity curve, so that its root motion is a
            // plain translation.
            if (i != 0) {
                OrvaneSetTransformTrackOrientation(g, 1, 0, n, t.knots.data(),
                                                   t.orientations.data(),
                                                   OrvaneCurveDataDaK32fC32fType);
            } else {
                t.orientations.clear();
            }
            OrvaneEndTransformTrack(g);
            tracks.push_back(std::move(t));
        }
        group = OrvaneEndTrackGroup(g);
        groups[0] = group;
        animation.Name = const_cast<char*>("Walk");
        animation.Duration = duration;
        animation.TimeStep = duration / 4.0f;
        animation.Oversampling = 1.0f;
        animation.TrackGroupCount = 1;
        animation.TrackGroups = groups;
    }

    ~Character() {
        OrvaneFreeBuilderResult(group);
        OrvaneFreeBuilderResult(skeleton);
    }

    int BoneCount() const { return skeleton->BoneCount; }
};

struct PoseDeleter {
    void operator()(orvane_local_pose* p) const { OrvaneFreeLocalPose(p); }
};
using PosePtr = std::unique_ptr<orvane_local_pose, PoseDeleter>;

struct WorldDeleter {
    void operator()(orvane_world_pose* p) const { OrvaneFreeWorldPose(p); }
};
using WorldPtr = std::unique_ptr<orvane_world_pose, WorldDeleter>;

// The reference local transform of bone i of `skeleton` from `group`: its track sampled at t
// (or the rest transform without a track).
inline orvane_transform ReferenceLocal(const orvane_skeleton* skeleton,
                                       const orvane_track_group* group, int bone, float t,
                                       float duration, bool before, bool after) {
    int32_t index = -1;
    if (!OrvaneFindTrackByName(group, skeleton->Bones[bone].Name, &index))
        return skeleton->Bones[bone].Transform;
    orvane_track_sample_context c{};
    c.SampleTime = t;
    c.SampleDuration = duration;
    c.LoopBefore = before;
    c.LoopAfter = after;
    orvane_transform r;
    r.Flags = 0;
    OrvaneSampleTrackUUULocal(&c, &group->TransformTracks[index], nullptr, &r);
    return r;
}

inline void ExpectTransformNear(const orvane_transform& a, const orvane_transform& b,
                                float tolerance) {
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(a.Position[i], b.Position[i], tolerance) << "position " << i;
    const float dot = a.Orientation[0] * b.Orientation[0] + a.Orientation[1] * b.Orientation[1] +
                      a.Orientation[2] * b.Orientation[2] + a.Orientation[3] * b.Orientation[3];
    const float sign = dot < 0.0f ? -1.0f : 1.0f;
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(a.Orientation[i], sign * b.Orientation[i], tolerance) << "orientation " << i;
}

// World matrices composed in double precision from local transforms (bone order, parents
// first): World(i) = M(local i) * World(parent).
inline std::vector<double> ReferenceWorld(const orvane_skeleton* skeleton,
                                          const std::vector<orvane_transform>& locals) {
    const int n = skeleton->BoneCount;
    std::vector<double> worlds(size_t(n) * 16);
    for (int i = 0; i < n; ++i) {
        float m[16];
        OrvaneBuildCompositeTransform4x4(&locals[size_t(i)], m);
        double* w = &worlds[size_t(i) * 16];
        const int p = skeleton->Bones[i].ParentIndex;
        if (p < 0) {
            for (int k = 0; k < 16; ++k)
                w[k] = m[k];
            continue;
        }
        const double* pw = &worlds[size_t(p) * 16];
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) {
                double s = 0;
                for (int k = 0; k < 4; ++k)
                    s += double(m[r * 4 + k]) * pw[k * 4 + c];
                w[r * 4 + c] = s;
            }
    }
    return worlds;
}

// The character's skeleton, model, track group and animation written into one file with the
// data tree writer and loaded back, as an application meets them; the file is removed again.
struct LoadedCharacter {
    explicit LoadedCharacter(Character& c) {
        skeletons[0] = c.skeleton;
        models[0] = &c.model;
        groups[0] = c.group;
        animations[0] = &c.animation;
        info.SkeletonCount = 1;
        info.Skeletons = skeletons;
        info.ModelCount = 1;
        info.Models = models;
        info.TrackGroupCount = 1;
        info.TrackGroups = groups;
        info.AnimationCount = 1;
        info.Animations = animations;
        static int serial = 0;
        path = (std::filesystem::temp_directory_path() /
                ("orvane_character_" + std::to_string(getpid()) + "_" + std::to_string(serial++) +
                 ".ovn"))
                   .string();
        orvane_file_data_tree_writer* writer =
            OrvaneBeginFileDataTreeWriting(OrvaneFileInfoType, &info, 0, 0);
        ok = OrvaneWriteDataTreeToFile(writer, ORVANE_CURRENT_FILE_TYPE_TAG, path.c_str(), 1);
        OrvaneEndFileDataTreeWriting(writer);
        if (ok) file = OrvaneReadEntireFile(path.c_str());
        loaded = file ? OrvaneGetFileInfo(file) : nullptr;
        if (loaded && loaded->ModelCount == 1 && loaded->AnimationCount == 1) {
            model = loaded->Models[0];
            animation = loaded->Animations[0];
        }
    }
    ~LoadedCharacter() {
        OrvaneFreeFile(file);
        std::remove(path.c_str());
    }
    LoadedCharacter(const LoadedCharacter&) = delete;
    LoadedCharacter& operator=(const LoadedCharacter&) = delete;

    orvane_skeleton* skeletons[1];
    orvane_model* models[1];
    orvane_track_group* groups[1];
    orvane_animation* animations[1];
    orvane_file_info info{};
    std::string path;
    bool ok = false;
    orvane_file* file = nullptr;
    orvane_file_info* loaded = nullptr;
    const orvane_model* model = nullptr;
    const orvane_animation* animation = nullptr;
};

// A root that turns steadily by 270 degrees about z over a 3 second clip (keys every 90
// degrees, each quaternion continuing the last, on a degree-1 curve of plain floats), played on
// an instance of a three-bone character with variable-delta root motion and endless loops.
struct TurningRootClip {
    Character c{3, 99};
    float keys[16];
    orvane_track_group* group = nullptr;
    orvane_track_group* groups[1] = {nullptr};
    orvane_animation animation{};
    orvane_model_instance* instance = nullptr;
    orvane_control* control = nullptr;

    TurningRootClip(const TurningRootClip&) = delete;
    TurningRootClip& operator=(const TurningRootClip&) = delete;

    TurningRootClip() {
        orvane_track_group_builder* g = OrvaneBeginTrackGroup("Hero", 0, 1, 0, false);
        OrvaneBeginTransformTrack(g, "bone0");
        const float knots[4] = {0.0f, 1.0f, 2.0f, 3.0f};
        for (int k = 0; k < 4; ++k) {
            const double half = 0.25 * M_PI * double(k);
            const float q[4] = {0.0f, 0.0f, float(std::sin(half)), float(std::cos(half))};
            std::memcpy(keys + 4 * k, q, sizeof q);
        }
        OrvaneSetTransformTrackOrientation(g, 1, 0, 4, knots, keys, OrvaneCurveDataDaK32fC32fType);
        OrvaneEndTransformTrack(g);
        group = OrvaneEndTrackGroup(g);
        groups[0] = group;
        animation = c.animation;
        animation.TrackGroups = groups;
        animation.Duration = 3.0f;
        animation.TimeStep = 1.0f;
        instance = OrvaneInstantiateModel(&c.model);
        orvane_controlled_animation_builder* b = OrvaneBeginControlledAnimation(0.0f, &animation);
        OrvaneSetTrackGroupTarget(b, 0, instance);
        OrvaneSetTrackGroupAccumulation(b, 0, OrvaneAccumulationVariableDelta);
        control = OrvaneEndControlledAnimation(b);
        if (control != nullptr) OrvaneSetControlLoopCount(control, 0);
    }
    ~TurningRootClip() {
        OrvaneFreeModelInstance(instance);
        OrvaneFreeControl(control);
        OrvaneFreeBuilderResult(group);
    }
};

}  // namespace orvane_instance_test

#endif  // ORVANE_TESTS_ANIM_INSTANCE_TEST_SUPPORT_H

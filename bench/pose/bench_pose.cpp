// World-pose composition on the 67-joint character of the peer workload
// (data/pab_walk_jog_arnaud4.json): the skeleton is built with the skeleton builder from the
// workload's rest pose, and the local pose is frame 10 of the walk (rotations and translations,
// scale flags clear), then the same frame with a small scale/shear on every joint. Beside each
// exported build, in the same run: a plain scalar loop that composes the same matrices (the
// baseline), and each per-bone path's walk. One iteration builds all 67 joints, so the reported
// time is nanoseconds per pose.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "pose/orvane_local_pose.h"
#include "pose/orvane_world_pose.h"
#include "math/orvane_math_internal.h"
#include "orvane/skeleton_builder.h"
#include "orvane/world_pose.h"
#include "orvane_pab_workload.h"

namespace {

struct Character {
    orvane_skeleton* skeleton = nullptr;
    orvane_local_pose* rigid = nullptr;   // rotations and translations
    orvane_local_pose* scaled = nullptr;  // the same with scale/shear on every joint
    orvane_world_pose* world = nullptr;
    std::string error;

    Character() {
        const orvane_workload::Workload* w = orvane_workload::SharedPabWorkload(&error);
        if (!w) return;
        const int32_t n = int32_t(w->joints.size());
        // Rest world transforms (rest) in the file's order (parents first).
        std::vector<orvane_transform> local(n), rest(n);
        for (int32_t i = 0; i < n; ++i) {
            const auto& j = w->joints[i];
            const float s[9] = {j.scale[0], 0, 0, 0, j.scale[1], 0, 0, 0, j.scale[2]};
            OrvaneSetTransformWithIdentityCheck(&local[i], j.translation, j.rotation, s);
            rest[i] = local[i];
            if (j.parent >= 0) OrvanePreMultiplyBy(&rest[i], &rest[j.parent]);
        }
        orvane_skeleton_builder* b = OrvaneBeginSkeleton(n);
        for (int32_t i = 0; i < n; ++i)
            OrvaneAddBone(b, local[i].Position, local[i].Orientation, &local[i].ScaleShear[0][0],
                          rest[i].Position, rest[i].Orientation, &rest[i].ScaleShear[0][0]);
        for (int32_t i = 0; i < n; ++i)
            if (w->joints[i].parent >= 0) OrvaneSetBoneParent(b, i, w->joints[i].parent);
        std::vector<int32_t> remap(n);
        skeleton = OrvaneEndSkeleton(b, remap.data());
        const orvane_workload::Clip* walk = w->FindClip("walk");
        rigid = OrvaneNewLocalPose(n);
        scaled = OrvaneNewLocalPose(n);
        world = OrvaneNewWorldPose(n);
        for (int32_t i = 0; i < n; ++i) {
            const auto& track = walk->tracks[i];
            const float* t = track.translations[10 % track.translations.size()].value;
            const float* r = track.rotations[10 % track.rotations.size()].value;
            const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
            const float shear[9] = {1.02f, 0.01f, 0, 0, 0.98f, 0.02f, 0.01f, 0, 1.01f};
            orvane_transform* a = OrvaneGetLocalPoseTransform(rigid, remap[i]);
            OrvaneSetTransformWithIdentityCheck(a, t, r, identity);
            orvane_transform* c = OrvaneGetLocalPoseTransform(scaled, remap[i]);
            OrvaneSetTransformWithIdentityCheck(c, t, r, shear);
        }
    }
};

const Character& Get() {
    static const Character c;
    return c;
}

bool Ready(benchmark::State& state) {
    if (Get().skeleton) return true;
    state.SkipWithError(Get().error.c_str());
    return false;
}

const orvane_local_pose* PoseFor(int64_t scaled) {
    return scaled ? Get().scaled : Get().rigid;
}

void BM_BuildWorldPoseNoComposite(benchmark::State& state) {
    if (!Ready(state)) return;
    const Character& c = Get();
    const orvane_local_pose* pose = PoseFor(state.range(0));
    for (auto _ : state) {
        OrvaneBuildWorldPoseNoComposite(c.skeleton, 0, c.skeleton->BoneCount, pose, nullptr,
                                        c.world);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BuildWorldPoseNoComposite)->ArgName("scaled")->Arg(0)->Arg(1);

void BM_BuildWorldPose(benchmark::State& state) {
    if (!Ready(state)) return;
    const Character& c = Get();
    const orvane_local_pose* pose = PoseFor(state.range(0));
    for (auto _ : state) {
        OrvaneBuildWorldPose(c.skeleton, 0, c.skeleton->BoneCount, pose, nullptr, c.world);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BuildWorldPose)->ArgName("scaled")->Arg(0)->Arg(1);

// The baseline: per joint the transform's 4x4 matrix, then its product with the parent's
// world matrix (and the composite), with the library's plain scalar kernels.
void BM_ScalarLoop(benchmark::State& state) {
    if (!Ready(state)) return;
    const Character& c = Get();
    const orvane_local_pose* pose = PoseFor(state.range(0));
    const bool composites = state.range(1) != 0;
    const orvane_bone* bones = c.skeleton->Bones;
    const int32_t n = c.skeleton->BoneCount;
    float* worlds = OrvaneGetWorldPose4x4Array(c.world);
    float* composite = OrvaneGetWorldPoseComposite4x4Array(c.world);
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    for (auto _ : state) {
        for (int32_t i = 0; i < n; ++i) {
            float m[16];
            orvane::scalar::BuildCompositeTransform4x4(pose->Bones[i].Transform, m);
            const int32_t p = bones[i].ParentIndex;
            orvane::scalar::ColumnMatrixMultiply4x3(worlds + 16 * i, m,
                                                    p < 0 ? identity : worlds + 16 * p);
            if (composites)
                orvane::scalar::ColumnMatrixMultiply4x3(
                    composite + 16 * i, &bones[i].InverseWorldTransform[0][0], worlds + 16 * i);
        }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ScalarLoop)->ArgNames({"scaled", "composite"})->ArgsProduct({{0, 1}, {0, 1}});

// Each path's walk directly, without the exported entry's checks.
void BM_Path(benchmark::State& state) {
    if (!Ready(state)) return;
    const auto* r = orvane::WorldPoseRoutinesFor(orvane::WorldPosePath(state.range(0)));
    if (!r) {
        state.SkipWithError("path not available on this processor");
        return;
    }
    const Character& c = Get();
    const orvane_local_pose* pose = PoseFor(state.range(1));
    const bool composites = state.range(2) != 0;
    const orvane::WorldPoseSource source = {
        reinterpret_cast<const char*>(&pose->Bones[0].Transform), sizeof(orvane_local_pose_bone),
        nullptr};
    alignas(16) const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    state.SetLabel(r->name);
    for (auto _ : state) {
        r->buildRange(c.skeleton->Bones, 0, c.skeleton->BoneCount, source, identity,
                      OrvaneGetWorldPose4x4Array(c.world),
                      composites ? OrvaneGetWorldPoseComposite4x4Array(c.world) : nullptr);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Path)
    ->ArgNames({"path", "scaled", "composite"})
    ->ArgsProduct({{0, 1, 2}, {0, 1}, {0, 1}});

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::printf("world-pose path chosen: %s\n", orvane::ChosenWorldPoseRoutines().name);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

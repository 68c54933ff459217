// LOD errors measured on mesh bone boxes, against a reference measurement in double precision
// that poses the whole skeleton twice per frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "instance_test_support.h"
#include "support/log_capture.h"
#include "orvane/mesh.h"
#include "orvane/animation_binding.h"
#include "orvane/controlled_animation.h"
#include "orvane/instance.h"
#include "orvane/skeleton.h"
#include "orvane/track_group.h"

namespace {

using orvane_instance_test::Character;
using orvane_instance_test::ReferenceLocal;
using orvane_instance_test::ReferenceWorld;

constexpr float kUnbounded = 1.9140881e38f;

// A mesh with one bone box per named bone and no vertices: the LOD calculation reads only the
// boxes and the binding's bone indices.
struct BoxMesh {
    std::vector<orvane_bone_binding> boxes;
    orvane_mesh mesh{};
    BoxMesh(const Character& c, std::vector<int> bones) {
        for (int b : bones) {
            orvane_bone_binding box{};
            box.BoneName = c.skeleton->Bones[b].Name;
            const float h = 0.2f + 0.05f * float(b);
            const float lo[3] = {-h, -0.1f, -2 * h}, hi[3] = {h, 0.9f, h};
            std::copy(lo, lo + 3, box.OBBMin);
            std::copy(hi, hi + 3, box.OBBMax);
            boxes.push_back(box);
        }
        mesh.Name = const_cast<char*>("Boxes");
        mesh.BoneBindingCount = int32_t(boxes.size());
        mesh.BoneBindings = boxes.data();
    }
};

struct MeshBindingDeleter {
    void operator()(orvane_mesh_binding* b) const { OrvaneFreeMeshBinding(b); }
};
using MeshBindingPtr = std::unique_ptr<orvane_mesh_binding, MeshBindingDeleter>;

// The error of replacing bone t's track by `constant`: the largest corner distance over the
// animation's frames, for boxes on bones at or below t in index order.
double ReferenceError(const Character& c, const BoxMesh& m, int t,
                      const orvane_transform& constant) {
    const int n = int(c.animation.Duration / c.animation.TimeStep + 0.5f);
    double worst = 0;
    for (int f = 0; f <= n; ++f) {
        const float time = float(f) * c.animation.TimeStep;
        std::vector<orvane_transform> locals;
        for (int b = 0; b < c.BoneCount(); ++b)
            locals.push_back(
                ReferenceLocal(c.skeleton, c.group, b, time, c.animation.Duration, false, false));
        const std::vector<double> a = ReferenceWorld(c.skeleton, locals);
        locals[size_t(t)] = constant;
        const std::vector<double> r = ReferenceWorld(c.skeleton, locals);
        for (const orvane_bone_binding& box : m.boxes) {
            int32_t bone = -1;
            OrvaneFindBoneByName(c.skeleton, box.BoneName, &bone);
            if (bone < t) continue;
            for (int corner = 0; corner < 8; ++corner) {
                const double p[3] = {(corner & 1) ? box.OBBMax[0] : box.OBBMin[0],
                                     (corner & 2) ? box.OBBMax[1] : box.OBBMin[1],
                                     (corner & 4) ? box.OBBMax[2] : box.OBBMin[2]};
                double d = 0;
                for (int k = 0; k < 3; ++k) {
                    const double* wa = &a[size_t(bone) * 16];
                    const double* wr = &r[size_t(bone) * 16];
                    const double x =
                        p[0] * wa[k] + p[1] * wa[4 + k] + p[2] * wa[8 + k] + wa[12 + k];
                    const double y =
                        p[0] * wr[k] + p[1] * wr[4 + k] + p[2] * wr[8 + k] + wr[12 + k];
                    d += (x - y) * (x - y);
                }
                worst = std::max(worst, d);
            }
        }
    }
    return std::sqrt(worst);
}

struct Played {
    orvane_model_instance* instance = nullptr;
    orvane_control* control = nullptr;
    orvane_animation_binding* binding = nullptr;
    explicit Played(Character& c) {
        instance = OrvaneInstantiateModel(&c.model);
        control = OrvanePlayControlledAnimation(0.0f, &c.animation, instance);
        if (control != nullptr)
            binding =
                OrvaneGetAnimationBindingFromControlBinding(OrvaneModelControlsBegin(instance));
    }
    ~Played() {
        OrvaneFreeControl(control);
        OrvaneFreeModelInstance(instance);
    }
};

TEST(AnimationLOD, MeasuredErrorsMatchTheReference) {
    Character c(6, 3);
    BoxMesh boxes(c, {0, 1, 2, 4, 5});
    MeshBindingPtr mb(OrvaneNewMeshBinding(&boxes.mesh, c.skeleton, c.skeleton));
    ASSERT_TRUE(mb);
    Played played(c);
    ASSERT_NE(played.binding, nullptr);

    OrvaneCalculateLODErrorValues(played.binding, mb.get(), 0, 2.0f);
    for (int t = 0; t < c.BoneCount(); ++t) {
        const float error = OrvaneGetLODErrorValue(played.binding, t);
        int32_t track = -1;
        if (!OrvaneFindTrackByName(c.group, c.skeleton->Bones[t].Name, &track)) {
            EXPECT_EQ(error, kUnbounded) << "an untracked bone keeps the unbounded error";
            continue;
        }
        orvane_transform constant;
        OrvaneGetTrackInitialTransform(&c.group->TransformTracks[track], &constant);
        const double expected = 2.0 * ReferenceError(c, boxes, t, constant);
        EXPECT_GT(expected, 1e-3) << "every track of the test clip moves a box (bone " << t << ")";
        EXPECT_NEAR(error, expected, 1e-4 + 1e-4 * expected) << "bone " << t;
    }
}

TEST(AnimationLOD, OnlyBoxesOnTheTrackOrAfterItCount) {
    Character c(6, 3);
    BoxMesh boxes(c, {1});  // a box on bone 1 only
    MeshBindingPtr mb(OrvaneNewMeshBinding(&boxes.mesh, c.skeleton, c.skeleton));
    Played played(c);
    OrvaneCalculateLODErrorValues(played.binding, mb.get(), 0, 1.0f);
    EXPECT_GT(OrvaneGetLODErrorValue(played.binding, 0), 0.0f);
    EXPECT_GT(OrvaneGetLODErrorValue(played.binding, 1), 0.0f);
    EXPECT_EQ(OrvaneGetLODErrorValue(played.binding, 2), 0.0f);
    EXPECT_EQ(OrvaneGetLODErrorValue(played.binding, 5), 0.0f);
}

TEST(AnimationLOD, RefusesAMeshOnAnotherSkeletonAndNullArguments) {
    Character c(6, 3), other(6, 3);
    BoxMesh boxes(other, {0, 1});
    MeshBindingPtr foreign(OrvaneNewMeshBinding(&boxes.mesh, other.skeleton, other.skeleton));
    Played played(c);
    OrvaneSetAllLODErrorValues(played.binding, 7.0f);
    OrvaneCalculateLODErrorValues(played.binding, foreign.get(), 0, 1.0f);
    OrvaneCalculateLODErrorValues(played.binding, nullptr, 0, 1.0f);
    OrvaneCalculateLODErrorValues(nullptr, foreign.get(), 0, 1.0f);
    for (int t = 0; t < c.BoneCount(); ++t)
        EXPECT_EQ(OrvaneGetLODErrorValue(played.binding, t), 7.0f) << "unchanged, bone " << t;
}

TEST(AnimationLOD, HostileTimingsStayBoundedAndFinite) {
    Character c(6, 3);
    BoxMesh boxes(c, {0, 5});
    MeshBindingPtr mb(OrvaneNewMeshBinding(&boxes.mesh, c.skeleton, c.skeleton));
    Played played(c);
    for (float step : {0.0f, -1.0f, std::nanf("")}) {
        c.animation.TimeStep = step;
        OrvaneCalculateLODErrorValues(played.binding, mb.get(), 0, 1.0f);
        EXPECT_TRUE(std::isfinite(OrvaneGetLODErrorValue(played.binding, 0))) << step;
    }
    c.animation.TimeStep = 1e-30f;  // would be 10^30 frames
    OrvaneCalculateLODErrorValues(played.binding, mb.get(), 0, 1.0f);
    EXPECT_TRUE(std::isfinite(OrvaneGetLODErrorValue(played.binding, 0)));
}

TEST(AnimationLOD, AnimationCalculationKeepsTheLargestErrorOverMeshes) {
    Character c(6, 3);
    // The group as a loaded file without LOD errors would have it.
    c.group->TransformLODErrors = nullptr;
    c.group->TransformLODErrorCount = 0;
    BoxMesh small(c, {4}), large(c, {0, 1, 2, 4, 5});
    MeshBindingPtr smallBinding(OrvaneNewMeshBinding(&small.mesh, c.skeleton, c.skeleton));
    MeshBindingPtr largeBinding(OrvaneNewMeshBinding(&large.mesh, c.skeleton, c.skeleton));

    // The expected values: the larger mesh's errors, one binding at a time.
    std::vector<float> expected(size_t(c.group->TransformTrackCount));
    {
        Played played(c);
        OrvaneCalculateLODErrorValues(played.binding, largeBinding.get(), 0, 3.0f);
        for (int t = 0; t < c.BoneCount(); ++t) {
            const int32_t track = OrvaneGetAnimationBindingTrackIndex(played.binding, t);
            if (track >= 0) expected[size_t(track)] = OrvaneGetLODErrorValue(played.binding, t);
        }
    }

    orvane_animation_lod_calculation* lod = OrvaneCalculateAnimationLODBegin(&c.animation, 1.5f);
    ASSERT_NE(lod, nullptr);
    ASSERT_EQ(c.group->TransformLODErrorCount, c.group->TransformTrackCount);
    OrvaneCalculateAnimationLODAddMeshBinding(lod, &c.model, smallBinding.get(), 2.0f);
    OrvaneCalculateAnimationLODAddMeshBinding(lod, &c.model, largeBinding.get(), 2.0f);
    OrvaneCalculateAnimationLODEnd(lod);
    for (int32_t i = 0; i < c.group->TransformTrackCount; ++i)
        EXPECT_NEAR(c.group->TransformLODErrors[i], expected[size_t(i)],
                    1e-5f * (1.0f + expected[size_t(i)]))
            << "track " << i;
    OrvaneCalculateAnimationLODCleanup(lod);
    EXPECT_TRUE(c.group->TransformLODErrors == nullptr) << "Cleanup frees what Begin allocated";
    EXPECT_EQ(c.group->TransformLODErrorCount, 0);
}

TEST(AnimationLOD, UnmeasuredValuesEndUnboundedAndStoredArraysStay) {
    Character c(6, 3);
    float* const stored = c.group->TransformLODErrors;  // built with the group
    orvane_animation_lod_calculation* lod = OrvaneCalculateAnimationLODBegin(&c.animation, 1.0f);
    ASSERT_NE(lod, nullptr);
    EXPECT_TRUE(c.group->TransformLODErrors == stored);
    EXPECT_EQ(c.group->TransformLODErrors[0], -31415.0f) << "Begin marks every value unmeasured";
    OrvaneCalculateAnimationLODEnd(lod);
    for (int32_t i = 0; i < c.group->TransformLODErrorCount; ++i)
        EXPECT_EQ(c.group->TransformLODErrors[i], kUnbounded);
    OrvaneCalculateAnimationLODCleanup(lod);
    EXPECT_TRUE(c.group->TransformLODErrors == stored) << "an array Begin did not make is kept";
    EXPECT_EQ(OrvaneCalculateAnimationLODBegin(nullptr, 1.0f), nullptr);
    OrvaneCalculateAnimationLODCleanup(nullptr);
}

TEST(AnimationLOD, AnAnimationWhoseCountsHaveNoArraysIsRefused) {
    Character c(6, 3);
    orvane_test::LogCapture log;
    orvane_animation noGroups = c.animation;
    noGroups.TrackGroupCount = 3;
    noGroups.TrackGroups = nullptr;
    EXPECT_EQ(OrvaneCalculateAnimationLODBegin(&noGroups, 1.0f), nullptr);
    EXPECT_TRUE(log.Contains("Animation.TrackGroupCount 3 has no track group array"));
    // A group that claims LOD errors it does not hold.
    orvane_track_group group = *c.group;
    group.TransformLODErrorCount = 4;
    group.TransformLODErrors = nullptr;
    orvane_track_group* groups[1] = {&group};
    orvane_animation noErrors = c.animation;
    noErrors.TrackGroups = groups;
    log.Clear();
    EXPECT_EQ(OrvaneCalculateAnimationLODBegin(&noErrors, 1.0f), nullptr);
    EXPECT_TRUE(log.Contains("Track group 0 has a count without its array"));
}

TEST(AnimationLOD, TheFrameCountIsRoundedInSinglePrecision) {
    // Duration 0.5 s in 0.2 s steps: 0.5 / 0.2 + 0.5 is 3 in single precision, so the frames are
    // 0, 0.2, 0.4 and 0.6 (the clip's end). Bone 1 holds still until 0.4 s and then moves by
    // one unit: only the last frame sees it, and its box corners all move by exactly 1.
    Character c(3, 99);
    orvane_track_group_builder* g = OrvaneBeginTrackGroup("Hero", 0, 1, 0, false);
    OrvaneBeginTransformTrack(g, "bone1");
    const float knots[3] = {0.0f, 0.4f, 0.5f};
    const float positions[9] = {0, 1, 0, 0, 1, 0, 0, 2, 0};
    OrvaneSetTransformTrackPosition(g, 1, 0, 3, knots, positions, OrvaneCurveDataDaK32fC32fType);
    OrvaneEndTransformTrack(g);
    orvane_track_group* group = OrvaneEndTrackGroup(g);
    orvane_track_group* groups[1] = {group};
    orvane_animation animation = c.animation;
    animation.TrackGroups = groups;
    animation.Duration = 0.5f;
    animation.TimeStep = 0.2f;
    BoxMesh boxes(c, {1});
    MeshBindingPtr mb(OrvaneNewMeshBinding(&boxes.mesh, c.skeleton, c.skeleton));
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_control* control = OrvanePlayControlledAnimation(0.0f, &animation, instance);
    ASSERT_NE(control, nullptr);
    orvane_animation_binding* binding =
        OrvaneGetAnimationBindingFromControlBinding(OrvaneModelControlsBegin(instance));
    OrvaneCalculateLODErrorValues(binding, mb.get(), 0, 2.0f);
    EXPECT_NEAR(OrvaneGetLODErrorValue(binding, 1), 2.0f, 1e-5f);
    OrvaneFreeControl(control);
    OrvaneFreeModelInstance(instance);
    OrvaneFreeBuilderResult(group);
}

}  // namespace

// Sampling through model instances with the plan made when a control is bound (fixed curves
// taken once, the moving degree-1 positions and orientations sampled in batches): the pose
// equals the one made track by track with the public sampler and the public accumulation, for
// plain and quantised curves, looping and clamped controls, playback and jumps, one and two
// controls; and instances of one binding sampled on two threads agree with one thread.
#include <cmath>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "instance/instance_test_support.h"
#include "orvane/controlled_animation.h"
#include "orvane/instance.h"
#include "orvane/local_pose.h"

using namespace orvane_instance_test;

namespace {

// The character's tracks again, in one format per component, with tracks that mix fixed and
// moving curves and tracks of every quaternion mode: bone 1's position is a constant, bone 2's
// orientation the identity curve, bone 4's keys are negated (the far side of its rest
// orientation), bone 5's last two keys are negated (first and last key on opposite sides),
// bones 6 and 7 hold constants only (7 on the far side).
struct Clip {
    orvane_track_group* group = nullptr;
    orvane_track_group* groups[1] = {nullptr};
    orvane_animation animation{};

    Clip(const Character& c, orvane_data_type_definition* positions,
         orvane_data_type_definition* orientations) {
        orvane_track_group_builder* g = OrvaneBeginTrackGroup("Hero", 0, c.BoneCount(), 0, true);
        const float zero = 0.0f;
        for (const TrackValues& t : c.tracks) {
            const int n = int(t.knots.size());
            std::vector<float> q = t.orientations;
            if (t.name == "bone4")
                for (float& v : q)
                    v = -v;
            if (t.name == "bone5")
                for (size_t k = q.size() - 8; k < q.size(); ++k)
                    q[k] = -q[k];
            OrvaneBeginTransformTrack(g, t.name.c_str());
            if (t.name == "bone6" || t.name == "bone7") {
                float first[4] = {q[0], q[1], q[2], q[3]};
                if (t.name == "bone7")
                    for (float& v : first)
                        v = -v;
                OrvaneSetTransformTrackPosition(g, 0, 0, 1, &zero, t.positions.data(),
                                                OrvaneCurveDataDaK32fC32fType);
                OrvaneSetTransformTrackOrientation(g, 0, 0, 1, &zero, first,
                                                   OrvaneCurveDataDaK32fC32fType);
                OrvaneEndTransformTrack(g);
                continue;
            }
            if (t.name == "bone1") {
                const float constant[3] = {0.25f, 1.0f, -0.5f};
                OrvaneSetTransformTrackPosition(g, 0, 0, 1, &zero, constant,
                                                OrvaneCurveDataDaK32fC32fType);
            } else {
                OrvaneSetTransformTrackPosition(g, 1, 0, n, t.knots.data(), t.positions.data(),
                                                positions);
            }
            if (!q.empty() && t.name != "bone2")
                OrvaneSetTransformTrackOrientation(g, 1, 0, n, t.knots.data(), q.data(),
                                                   orientations);
            OrvaneEndTransformTrack(g);
        }
        group = OrvaneEndTrackGroup(g);
        groups[0] = group;
        animation.Name = const_cast<char*>("Clip");
        animation.Duration = c.animation.Duration;
        animation.TimeStep = c.animation.TimeStep;
        animation.Oversampling = 1.0f;
        animation.TrackGroupCount = 1;
        animation.TrackGroups = groups;
    }
    ~Clip() { OrvaneFreeBuilderResult(group); }
    Clip(const Clip&) = delete;
    Clip& operator=(const Clip&) = delete;
};

// The pose made track by track: each control's tracks sampled at its clamped local time with
// its loop state, accumulated with its effective weight in the neighbourhood mode (which is
// what every binding's mode gives for these keys: the same sign as the rest orientation's
// hemisphere), then the pass closed.
void ReferencePose(const Character& c, const orvane_track_group* group,
                   const std::vector<orvane_control*>& controls, orvane_local_pose* pose) {
    const int n = c.BoneCount();
    OrvaneBeginLocalPoseAccumulation(pose, 0, n, nullptr);
    for (orvane_control* control : controls) {
        const float w = OrvaneGetControlEffectiveWeight(control);
        if (w <= 0.001f) continue;
        orvane_bool before = false, after = false;
        OrvaneGetControlLoopState(control, &before, &after);
        orvane_track_sample_context ctx{};
        ctx.SampleTime = OrvaneGetControlClampedLocalClock(control);
        ctx.SampleDuration = OrvaneGetControlLocalDuration(control);
        ctx.LoopBefore = before;
        ctx.LoopAfter = after;
        for (int i = 0; i < n; ++i) {
            int32_t index = -1;
            if (!OrvaneFindTrackByName(group, c.skeleton->Bones[i].Name, &index)) continue;
            orvane_transform t;
            t.Flags = 0;
            OrvaneSampleTrackUUULocal(&ctx, &group->TransformTracks[index], nullptr, &t);
            OrvaneAccumulateLocalTransform(pose, i, i, w, c.skeleton,
                                           OrvaneQuaternionBlendNeighborhood, &t);
        }
    }
    OrvaneEndLocalPoseAccumulation(pose, 0, n, c.skeleton, nullptr);
}

void ExpectPosesEqual(const orvane_local_pose* a, const orvane_local_pose* b, int n) {
    for (int i = 0; i < n; ++i) {
        const orvane_transform* x = OrvaneGetLocalPoseTransform(a, i);
        const orvane_transform* y = OrvaneGetLocalPoseTransform(b, i);
        EXPECT_EQ(x->Flags, y->Flags) << "bone " << i;
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(x->Position[k], y->Position[k]) << "bone " << i << " position " << k;
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(x->Orientation[k], y->Orientation[k]) << "bone " << i << " orientation " << k;
    }
}

struct Format {
    const char* name;
    orvane_data_type_definition* positions;
    orvane_data_type_definition* orientations;
};

const Format kFormats[] = {
    {"float", OrvaneCurveDataDaK32fC32fType, OrvaneCurveDataDaK32fC32fType},
    {"quantised", OrvaneCurveDataD3K16uC16uType, OrvaneCurveDataD4nK16uC15uType},
    {"8-bit", OrvaneCurveDataD3K8uC8uType, OrvaneCurveDataD4nK8uC7uType},
    {"mixed", OrvaneCurveDataD3K16uC16uType, OrvaneCurveDataDaK32fC32fType},
    {"compact", OrvaneCurveDataDaCompactType, OrvaneCurveDataDaCompactType},
};

TEST(InstanceSamplingPlan, PosesEqualTrackByTrackSamplingAndAccumulation) {
    Character c(12, 3, 2.0f);
    const int n = c.BoneCount();
    for (const Format& format : kFormats) {
        SCOPED_TRACE(format.name);
        Clip clip(c, format.positions, format.orientations);
        for (int controlCount = 1; controlCount <= 2; ++controlCount) {
            SCOPED_TRACE(controlCount);
            orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
            std::vector<orvane_control*> controls;
            controls.push_back(OrvanePlayControlledAnimation(0.0f, &clip.animation, instance));
            OrvaneSetControlLoopCount(controls[0], 0);  // loops for ever
            if (controlCount == 2) {
                // Faster, starting later, and played twice only: clamped before and after.
                controls.push_back(OrvanePlayControlledAnimation(0.3f, &clip.animation, instance));
                OrvaneSetControlLoopCount(controls[1], 2);
                OrvaneSetControlSpeed(controls[1], 1.3f);
                OrvaneSetControlWeight(controls[0], 0.6f);
                OrvaneSetControlWeight(controls[1], 0.4f);
            }
            ASSERT_TRUE(controls.back() != nullptr);
            PosePtr got(OrvaneNewLocalPose(n)), expected(OrvaneNewLocalPose(n));
            std::vector<int32_t> identity(static_cast<size_t>(n));
            for (int i = 0; i < n; ++i)
                identity[size_t(i)] = i;
            std::mt19937 rng(7);
            std::uniform_real_distribution<float> jump(-1.0f, 7.0f);
            for (int frame = 0; frame < 500; ++frame) {
                // Playback over several loops, then jumps, then playback backwards.
                const float clock = frame < 360   ? float(frame) / 60.0f
                                    : frame < 430 ? jump(rng)
                                                  : 3.0f - float(frame - 430) / 50.0f;
                OrvaneSetModelClock(instance, clock);
                OrvaneSampleModelAnimations(instance, 0, n, got.get());
                ReferencePose(c, clip.group, controls, expected.get());
                SCOPED_TRACE(clock);
                ExpectPosesEqual(got.get(), expected.get(), n);
                // The per-bone pass (a sparse range takes it) gives the same pose.
                OrvaneSampleModelAnimationsLODSparse(instance, 0, n, expected.get(), 0.0f,
                                                     identity.data());
                ExpectPosesEqual(got.get(), expected.get(), n);
                if (HasFailure()) break;
            }
            OrvaneFreeModelInstance(instance);
            for (orvane_control* control : controls)
                OrvaneFreeControl(control);
            if (HasFailure()) return;
        }
    }
}

// The one-pass blend that a dense range without LOD takes gives the pose the accumulation gives
// (a sparse range of the same bones takes it), to the bit, scale/shear included: three
// controls, one with scale/shear on some bones (moving on one, constant on another, absent
// elsewhere, so that entries switch from the implicit identity sum to a held one), total
// weights above and below the fill threshold, whole and partial ranges; and one control alone.
TEST(InstanceSamplingPlan, OnePassBlendEqualsTheAccumulation) {
    Character c(12, 3, 2.0f);
    const int n = c.BoneCount();
    Clip plain(c, OrvaneCurveDataD3K16uC16uType, OrvaneCurveDataD4nK16uC15uType);
    orvane_track_group* scaledGroup = nullptr;
    {
        orvane_track_group_builder* g = OrvaneBeginTrackGroup("Hero", 0, n, 0, true);
        const float knots[2] = {0.0f, c.animation.Duration};
        const float stretch[18] = {1.2f, 0.1f, 0.0f, 0.0f, 0.9f, 0.0f, 0.0f, 0.0f, 1.0f,
                                   0.8f, 0.0f, 0.2f, 0.0f, 1.1f, 0.0f, 0.0f, 0.0f, 1.3f};
        const float zero = 0.0f;
        for (const TrackValues& t : c.tracks) {
            const int k = int(t.knots.size());
            OrvaneBeginTransformTrack(g, t.name.c_str());
            OrvaneSetTransformTrackPosition(g, 1, 0, k, t.knots.data(), t.positions.data(),
                                            OrvaneCurveDataDaK32fC32fType);
            OrvaneSetTransformTrackOrientation(g, 1, 0, k, t.knots.data(), t.orientations.data(),
                                               OrvaneCurveDataDaK32fC32fType);
            if (t.name == "bone3")
                OrvaneSetTransformTrackScaleShear(g, 1, 0, 2, knots, stretch,
                                                  OrvaneCurveDataDaK32fC32fType);
            if (t.name == "bone5")
                OrvaneSetTransformTrackScaleShear(g, 0, 0, 1, &zero, stretch + 9,
                                                  OrvaneCurveDataDaK32fC32fType);
            OrvaneEndTransformTrack(g);
        }
        scaledGroup = OrvaneEndTrackGroup(g);
    }
    ASSERT_NE(scaledGroup, nullptr);
    orvane_track_group* scaledGroups[1] = {scaledGroup};
    orvane_animation scaled = plain.animation;
    scaled.TrackGroups = scaledGroups;

    std::vector<int32_t> identity(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        identity[size_t(i)] = i;
    const float weightSets[2][3] = {{0.6f, 0.3f, 0.25f}, {0.05f, 0.07f, 0.04f}};
    for (const auto& weights : weightSets) {
        SCOPED_TRACE(weights[0]);
        orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
        orvane_control* controls[3] = {
            OrvanePlayControlledAnimation(0.0f, &plain.animation, instance),
            OrvanePlayControlledAnimation(0.2f, &scaled, instance),
            OrvanePlayControlledAnimation(0.5f, &plain.animation, instance)};
        for (int k = 0; k < 3; ++k) {
            ASSERT_NE(controls[k], nullptr);
            OrvaneSetControlLoopCount(controls[k], 0);
            OrvaneSetControlWeight(controls[k], weights[k]);
        }
        OrvaneSetControlSpeed(controls[2], 0.7f);
        PosePtr got(OrvaneNewLocalPose(n)), expected(OrvaneNewLocalPose(n));
        for (int frame = 0; frame < 120; ++frame) {
            OrvaneSetModelClock(instance, float(frame) / 37.0f);
            const int first = frame % 3 == 2 ? 2 : 0;
            OrvaneSampleModelAnimations(instance, first, n - first, got.get());
            OrvaneSampleModelAnimationsLODSparse(instance, first, n - first, expected.get(), 0.0f,
                                                 identity.data());
            SCOPED_TRACE(frame);
            for (int i = first; i < n; ++i) {
                const orvane_transform* x = OrvaneGetLocalPoseTransform(got.get(), i);
                const orvane_transform* y = OrvaneGetLocalPoseTransform(expected.get(), i);
                ASSERT_EQ(0, std::memcmp(x, y, sizeof *x)) << "bone " << i;
            }
            // One control alone, the scaled one.
            ASSERT_TRUE(OrvaneSampleSingleModelAnimation(instance, controls[1], first, n - first,
                                                         got.get()));
            ASSERT_TRUE(OrvaneSampleSingleModelAnimationLODSparse(
                instance, controls[1], first, n - first, expected.get(), 0.0f, identity.data()));
            for (int i = first; i < n; ++i) {
                const orvane_transform* x = OrvaneGetLocalPoseTransform(got.get(), i);
                const orvane_transform* y = OrvaneGetLocalPoseTransform(expected.get(), i);
                ASSERT_EQ(0, std::memcmp(x, y, sizeof *x)) << "alone, bone " << i;
            }
        }
        OrvaneFreeModelInstance(instance);
        for (orvane_control* control : controls)
            OrvaneFreeControl(control);
    }
    OrvaneFreeBuilderResult(scaledGroup);
}

// A clip that holds one pose: every tracked bone's first key plus offset, as constants (bone 6
// with a constant scale/shear as well).
struct PoseClip {
    orvane_track_group* group = nullptr;
    orvane_track_group* groups[1] = {nullptr};
    orvane_animation animation{};

    PoseClip(const Character& c, float offset) {
        orvane_track_group_builder* g = OrvaneBeginTrackGroup("Hero", 0, c.BoneCount(), 0, true);
        const float zero = 0.0f;
        const float stretch[9] = {1.1f, 0.05f, 0.0f, 0.0f, 0.95f, 0.0f, 0.1f, 0.0f, 1.2f};
        for (const TrackValues& t : c.tracks) {
            OrvaneBeginTransformTrack(g, t.name.c_str());
            const float p[3] = {t.positions[0] + offset, t.positions[1], t.positions[2] - offset};
            OrvaneSetTransformTrackPosition(g, 0, 0, 1, &zero, p, OrvaneCurveDataDaK32fC32fType);
            if (!t.orientations.empty())
                OrvaneSetTransformTrackOrientation(g, 0, 0, 1, &zero, t.orientations.data(),
                                                   OrvaneCurveDataDaK32fC32fType);
            if (t.name == "bone6")
                OrvaneSetTransformTrackScaleShear(g, 0, 0, 1, &zero, stretch,
                                                  OrvaneCurveDataDaK32fC32fType);
            OrvaneEndTransformTrack(g);
        }
        group = OrvaneEndTrackGroup(g);
        groups[0] = group;
        animation.Name = const_cast<char*>("Pose");
        animation.Duration = c.animation.Duration;
        animation.TimeStep = c.animation.TimeStep;
        animation.TrackGroupCount = 1;
        animation.TrackGroups = groups;
    }
    ~PoseClip() { OrvaneFreeBuilderResult(group); }
    PoseClip(const PoseClip&) = delete;
    PoseClip& operator=(const PoseClip&) = delete;
};

// The bones whose every control holds still are remembered from one frame to the next while
// the controls, their weights, the fill threshold and the range repeat; the poses stay those
// of the accumulation frame after frame as each of these changes: weights held and changed,
// a fill threshold above the weights, a partial range, a control replaced by one that holds
// another pose (its node may reuse the memory of the one it replaces), and one control alone.
// Sampling takes no memory for the memo: it is made when the controls are bound.
TEST(InstanceSamplingPlan, RememberedStillBonesEqualTheAccumulation) {
    Character c(12, 3, 2.0f);
    const int n = c.BoneCount();
    Clip moving(c, OrvaneCurveDataD3K16uC16uType, OrvaneCurveDataD4nK16uC15uType);
    PoseClip still(c, 0.5f), other(c, -0.75f);
    std::vector<int32_t> identity(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        identity[size_t(i)] = i;
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_control* a = OrvanePlayControlledAnimation(0.0f, &moving.animation, instance);
    orvane_control* b = OrvanePlayControlledAnimation(0.0f, &still.animation, instance);
    ASSERT_TRUE(a && b);
    OrvaneSetControlLoopCount(a, 0);
    OrvaneSetControlLoopCount(b, 0);
    OrvaneSetControlWeight(a, 0.6f);
    OrvaneSetControlWeight(b, 0.3f);
    PosePtr got(OrvaneNewLocalPose(n)), expected(OrvaneNewLocalPose(n));
    auto compare = [&](int first, const char* what) {
        for (int i = first; i < n; ++i) {
            const orvane_transform* x = OrvaneGetLocalPoseTransform(got.get(), i);
            const orvane_transform* y = OrvaneGetLocalPoseTransform(expected.get(), i);
            ASSERT_EQ(0, std::memcmp(x, y, sizeof *x)) << what << ", bone " << i;
        }
    };
    // Both controls for 90 frames, then the still one alone for 90 (a memo serves one kind of
    // call at a time: calls that alternate blend every bone).
    // Sampling never allocates: the memo is made when the controls are bound.
    void* marker = OrvaneBeginAllocationCheck();
    for (int frame = 0; frame < 180; ++frame) {
        SCOPED_TRACE(frame);
        if (frame == 5) {
            EXPECT_TRUE(OrvaneEndAllocationCheck(marker));
        }
        OrvaneSetModelClock(instance, float(frame) / 50.0f);
        const int phase = frame % 90;
        if (phase == 15) OrvaneSetControlWeight(frame < 90 ? a : b, 0.45f);
        if (phase == 16) OrvaneSetControlWeight(frame < 90 ? a : b, 0.5f);
        if (phase == 30 || phase == 40) {
            OrvaneSetLocalPoseFillThreshold(got.get(), phase == 30 ? 1.5f : 0.2f);
            OrvaneSetLocalPoseFillThreshold(expected.get(), phase == 30 ? 1.5f : 0.2f);
        }
        if (phase == 60) {
            OrvaneFreeControl(b);
            b = OrvanePlayControlledAnimation(
                0.0f, frame < 90 ? &other.animation : &still.animation, instance);
            ASSERT_NE(b, nullptr);
            OrvaneSetControlLoopCount(b, 0);
            OrvaneSetControlWeight(b, 0.3f);
        }
        const int first = phase >= 50 && phase < 58 ? 3 : 0;
        if (frame < 90) {
            OrvaneSampleModelAnimations(instance, first, n - first, got.get());
            OrvaneSampleModelAnimationsLODSparse(instance, first, n - first, expected.get(), 0.0f,
                                                 identity.data());
            compare(first, "both");
        } else {
            // The still control alone: every bone held.
            ASSERT_TRUE(OrvaneSampleSingleModelAnimation(instance, b, first, n - first, got.get()));
            ASSERT_TRUE(OrvaneSampleSingleModelAnimationLODSparse(
                instance, b, first, n - first, expected.get(), 0.0f, identity.data()));
            compare(first, "alone");
        }
    }
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(a);
    OrvaneFreeControl(b);
}

// Two instances playing one binding (the binding and its track group shared, each node's plan
// and windows its own), one per thread, at different times: each thread's poses equal those of
// the same instance sampled alone.
TEST(InstanceSamplingPlan, InstancesOfOneBindingOnTwoThreads) {
    Character c(12, 3, 2.0f);
    const int n = c.BoneCount();
    Clip clip(c, OrvaneCurveDataD3K16uC16uType, OrvaneCurveDataD4nK16uC15uType);
    constexpr int kFrames = 400;
    auto run = [&](float start, std::vector<float>* out) {
        orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
        orvane_control* control = OrvanePlayControlledAnimation(0.0f, &clip.animation, instance);
        OrvaneSetControlLoopCount(control, 0);
        PosePtr pose(OrvaneNewLocalPose(n));
        for (int frame = 0; frame < kFrames; ++frame) {
            OrvaneSetModelClock(instance, start + float(frame) / 60.0f);
            OrvaneSampleModelAnimations(instance, 0, n, pose.get());
            for (int i = 0; i < n; ++i) {
                const orvane_transform* t = OrvaneGetLocalPoseTransform(pose.get(), i);
                out->insert(out->end(), t->Position, t->Position + 3);
                out->insert(out->end(), t->Orientation, t->Orientation + 4);
            }
        }
        OrvaneFreeModelInstance(instance);
        OrvaneFreeControl(control);
    };
    // The set-up (instances, controls) takes the library's lock; the frames take none.
    std::vector<float> alone[2], together[2];
    run(0.0f, &alone[0]);
    run(0.7f, &alone[1]);
    std::thread a([&] { run(0.0f, &together[0]); });
    std::thread b([&] { run(0.7f, &together[1]); });
    a.join();
    b.join();
    for (int k = 0; k < 2; ++k) {
        ASSERT_EQ(alone[k].size(), together[k].size());
        EXPECT_EQ(0,
                  std::memcmp(alone[k].data(), together[k].data(), alone[k].size() * sizeof(float)))
            << "thread " << k;
    }
}

}  // namespace

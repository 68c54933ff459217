// Content checked once where it meets the run time: models at instantiation, animations when a
// binding or a controlled animation is made, with what files can carry (parent indices far out
// of range, durations that are not numbers); and what the per-frame paths then owe each other:
// one instance's controlled animation leaves another's sampling alone, and the accelerated
// world build agrees with the track samplers.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

#include "instance/instance_test_support.h"
#include "orvane/file.h"
#include "orvane/animation_binding.h"
#include "orvane/controlled_animation.h"
#include "orvane/instance.h"
#include "support/log_capture.h"

namespace {

using namespace orvane_instance_test;

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInfinity = std::numeric_limits<float>::infinity();

using Loaded = LoadedCharacter;

bool AllFinite(const float* values, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (!std::isfinite(values[i])) return false;
    return true;
}

TEST(ContentChecks, AParentIndexFromAFileIsRefusedWhenTheModelIsInstantiated) {
    Character c(4, 99);
    const int32_t original = c.skeleton->Bones[1].ParentIndex;
    c.skeleton->Bones[1].ParentIndex = 67108864;
    Loaded file(c);
    c.skeleton->Bones[1].ParentIndex = original;
    ASSERT_NE(file.model, nullptr);
    ASSERT_EQ(file.model->Skeleton->Bones[1].ParentIndex, 67108864);

    orvane_test::LogCapture log;
    // Nothing that samples (a controlled pose built straight into the world pose among them)
    // can be bound to the model: it has no instance.
    EXPECT_EQ(OrvaneInstantiateModel(file.model), nullptr);
    EXPECT_TRUE(log.Contains("Bone 1 has parent index 67108864, which does not precede it"));
    // Nor is an animation binding made for it.
    orvane_animation_binding_identifier id;
    OrvaneMakeDefaultAnimationBindingID(&id, file.animation, 0);
    id.OnModel = file.model;
    log.Clear();
    EXPECT_EQ(OrvaneAcquireAnimationBindingFromID(&id), nullptr);
    EXPECT_TRUE(log.Contains("which does not precede it"));

    // A parent at or after its own bone, and a bone array missing for its count, alike.
    for (int32_t parent : {1, 2, -2}) {
        c.skeleton->Bones[1].ParentIndex = parent;
        log.Clear();
        EXPECT_EQ(OrvaneInstantiateModel(&c.model), nullptr) << parent;
        EXPECT_EQ(log.errors(), 1u);
    }
    c.skeleton->Bones[1].ParentIndex = original;
    orvane_bone* bones = c.skeleton->Bones;
    c.skeleton->Bones = nullptr;
    EXPECT_EQ(OrvaneInstantiateModel(&c.model), nullptr);
    c.skeleton->Bones = bones;

    // The intact model plays a controlled pose through the accelerated path.
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    ASSERT_NE(instance, nullptr);
    PosePtr played(OrvaneNewLocalPose(c.BoneCount()));
    PosePtr scratch(OrvaneNewLocalPose(c.BoneCount()));
    WorldPtr world(OrvaneNewWorldPose(c.BoneCount()));
    // Nothing accumulated: the pass leaves the rest pose.
    OrvaneBeginLocalPoseAccumulation(played.get(), 0, c.BoneCount(), nullptr);
    OrvaneEndLocalPoseAccumulation(played.get(), 0, c.BoneCount(), c.skeleton, nullptr);
    orvane_control* control = OrvanePlayControlledPose(0.0f, 1.0f, played.get(), instance, nullptr);
    ASSERT_NE(control, nullptr);
    OrvaneSampleModelAnimationsAccelerated(instance, c.BoneCount(), nullptr, scratch.get(),
                                           world.get());
    EXPECT_TRUE(AllFinite(OrvaneGetWorldPose4x4Array(world.get()), size_t(c.BoneCount()) * 16));
    OrvaneFreeControl(control);
    OrvaneFreeModelInstance(instance);
}

TEST(ContentChecks, RestTransformsThatAreNotFiniteAreRefused) {
    Character c(4, 99);
    orvane_test::LogCapture log;
    const float saved = c.skeleton->Bones[2].Transform.Orientation[1];
    c.skeleton->Bones[2].Transform.Orientation[1] = kNaN;
    EXPECT_EQ(OrvaneInstantiateModel(&c.model), nullptr);
    EXPECT_TRUE(log.Contains("Bone 2 has a transform that is not finite"));
    c.skeleton->Bones[2].Transform.Orientation[1] = saved;
    c.skeleton->Bones[3].InverseWorldTransform[3][1] = kInfinity;
    EXPECT_EQ(OrvaneInstantiateModel(&c.model), nullptr);
    c.skeleton->Bones[3].InverseWorldTransform[3][1] = 0.0f;
    c.model.InitialPlacement.Position[0] = kNaN;
    EXPECT_EQ(OrvaneInstantiateModel(&c.model), nullptr);
    EXPECT_EQ(log.errors(), 3u);
}

// A knot or control that is not a finite number, or knots that run backwards, in a loaded
// file: the binding leaves that track unbound (its bone shows the rest pose) with an error,
// and every pose stays finite.
TEST(ContentChecks, CurveValuesThatAreNotFiniteLeaveTheirTrackUnbound) {
    Character c(4, 99);
    auto track = [&](const char* name) -> orvane_transform_track& {
        for (int32_t k = 0; k < c.group->TransformTrackCount; ++k)
            if (std::strcmp(c.group->TransformTracks[k].Name, name) == 0)
                return c.group->TransformTracks[k];
        ADD_FAILURE() << name;
        return c.group->TransformTracks[0];
    };
    orvane_curve_data_da_k32f_c32f* position =
        OrvaneCurveGetContentsOfDaK32fC32f(&track("bone1").PositionCurve);
    orvane_curve_data_da_k32f_c32f* orientation =
        OrvaneCurveGetContentsOfDaK32fC32f(&track("bone2").OrientationCurve);
    ASSERT_NE(position, nullptr);
    ASSERT_NE(orientation, nullptr);
    ASSERT_GE(orientation->KnotCount, 3);
    position->Controls[4] = kNaN;
    std::swap(orientation->Knots[1], orientation->Knots[2]);
    Loaded file(c);
    ASSERT_NE(file.model, nullptr);
    ASSERT_NE(file.animation, nullptr);

    orvane_model_instance* instance = OrvaneInstantiateModel(file.model);
    ASSERT_NE(instance, nullptr);
    orvane_test::LogCapture log;
    orvane_control* control = OrvanePlayControlledAnimation(0.0f, file.animation, instance);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(log.errors(), 2u);
    EXPECT_TRUE(
        log.Contains("Track 1 for bone \"bone1\" has a knot or control that is not a "
                     "finite number"));
    const int32_t n = c.BoneCount();
    PosePtr local(OrvaneNewLocalPose(n));
    WorldPtr world(OrvaneNewWorldPose(n));
    for (float t : {0.0f, 0.3f, 0.75f, 1.9f}) {
        OrvaneSetModelClock(instance, t);
        OrvaneSampleModelAnimations(instance, 0, n, local.get());
        for (int32_t b = 0; b < n; ++b)
            EXPECT_TRUE(AllFinite(&OrvaneGetLocalPoseTransform(local.get(), b)->Position[0], 3 + 4))
                << "bone " << b << " at " << t;
        for (int32_t b : {1, 2})
            EXPECT_EQ(std::memcmp(OrvaneGetLocalPoseTransform(local.get(), b)->Position,
                                  file.model->Skeleton->Bones[b].Transform.Position, 28),
                      0)
                << "bone " << b << " is not at rest";
        OrvaneSampleModelAnimationsAccelerated(instance, n, nullptr, local.get(), world.get());
        EXPECT_TRUE(AllFinite(OrvaneGetWorldPose4x4Array(world.get()), size_t(n) * 16));
    }
    OrvaneFreeControl(control);
    OrvaneFreeModelInstance(instance);
}

TEST(ContentChecks, ADurationThatIsNotANumberIsRefusedBeforeAnythingPlays) {
    Character c(4, 99);
    c.animation.Duration = kNaN;
    Loaded file(c);
    c.animation.Duration = 2.0f;
    ASSERT_NE(file.model, nullptr);
    ASSERT_NE(file.animation, nullptr);
    ASSERT_TRUE(std::isnan(file.animation->Duration));

    orvane_model_instance* instance = OrvaneInstantiateModel(file.model);
    ASSERT_NE(instance, nullptr);
    orvane_test::LogCapture log;
    EXPECT_EQ(OrvanePlayControlledAnimation(0.0f, file.animation, instance), nullptr);
    EXPECT_TRUE(log.Contains("is not a finite time of at least 0"));
    EXPECT_EQ(OrvaneBeginControlledAnimation(0.0f, file.animation), nullptr);
    orvane_animation_binding_identifier id;
    OrvaneMakeDefaultAnimationBindingID(&id, file.animation, 0);
    id.OnModel = file.model;
    EXPECT_EQ(OrvaneAcquireAnimationBindingFromID(&id), nullptr);
    EXPECT_EQ(OrvaneModelControlsBegin(instance), OrvaneModelControlsEnd(instance));

    // Looping, sampled in every form: the rest pose, finite.
    const int32_t n = c.BoneCount();
    PosePtr local(OrvaneNewLocalPose(n));
    WorldPtr world(OrvaneNewWorldPose(n));
    OrvaneSetModelClock(instance, 0.75f);
    OrvaneSampleModelAnimations(instance, 0, n, local.get());
    EXPECT_EQ(std::memcmp(&OrvaneGetLocalPoseTransform(local.get(), 1)->Position,
                          &file.model->Skeleton->Bones[1].Transform.Position, 12),
              0);
    OrvaneSampleModelAnimationsAccelerated(instance, n, nullptr, local.get(), world.get());
    EXPECT_TRUE(AllFinite(OrvaneGetWorldPose4x4Array(world.get()), size_t(n) * 16));
    OrvaneFreeModelInstance(instance);

    // The other reals a clock divides by or shifts with, in code-built content.
    for (float bad : {kInfinity, -1.0f, kNaN}) {
        c.animation.Duration = bad;
        EXPECT_EQ(OrvaneBeginControlledAnimation(0.0f, &c.animation), nullptr) << bad;
        c.animation.Duration = 2.0f;
        c.animation.TimeStep = bad;
        EXPECT_EQ(OrvaneBeginControlledAnimation(0.0f, &c.animation), nullptr) << bad;
        c.animation.TimeStep = 0.5f;
    }
    c.group->LoopTranslation[2] = kNaN;
    EXPECT_EQ(OrvaneBeginControlledAnimation(0.0f, &c.animation), nullptr);
    c.group->LoopTranslation[2] = 0.0f;
    c.group->TransformLODErrors[0] = kNaN;
    EXPECT_EQ(OrvaneBeginControlledAnimation(0.0f, &c.animation), nullptr);
    c.group->TransformLODErrors[0] = ORVANE_UNBOUNDED_REAL32;
    c.animation.TrackGroupCount = 2;  // a count without its array
    c.animation.TrackGroups = nullptr;
    EXPECT_EQ(OrvaneBeginControlledAnimation(0.0f, &c.animation), nullptr);
    c.animation.TrackGroupCount = 1;
    c.animation.TrackGroups = c.groups;
    orvane_controlled_animation_builder* builder =
        OrvaneBeginControlledAnimation(0.0f, &c.animation);
    ASSERT_NE(builder, nullptr);
    OrvaneFreeControl(OrvaneEndControlledAnimation(builder));

    // Controls and controlled poses refuse such values from the caller too.
    log.Clear();
    EXPECT_EQ(OrvaneCreateControl(0.0f, kNaN), nullptr);
    EXPECT_EQ(OrvaneCreateControl(kInfinity, 1.0f), nullptr);
    EXPECT_EQ(log.errors(), 2u);
    instance = OrvaneInstantiateModel(&c.model);
    EXPECT_EQ(OrvanePlayControlledPose(0.0f, kNaN, local.get(), instance, nullptr), nullptr);
    EXPECT_EQ(OrvanePlayControlledPose(0.0f, -1.0f, local.get(), instance, nullptr), nullptr);
    orvane_control* control = OrvaneCreateControl(0.0f, 1.0f);
    OrvaneSetControlSpeed(control, kNaN);
    OrvaneSetControlWeight(control, kInfinity);
    EXPECT_EQ(OrvaneGetControlSpeed(control), 1.0f);
    EXPECT_EQ(OrvaneGetControlWeight(control), 1.0f);
    EXPECT_EQ(log.errors(), 6u);
    OrvaneFreeControl(control);
    OrvaneFreeModelInstance(instance);
}

// LOD values copied for one instance's controlled animation stay with its nodes.
TEST(ContentChecks, CopiedLODValuesBelongToTheirOwnInstance) {
    Character c;
    const int32_t n = c.BoneCount();
    for (int32_t t = 0; t < c.group->TransformLODErrorCount; ++t)
        c.group->TransformLODErrors[t] = 0.25f;
    orvane_model_instance* x = OrvaneInstantiateModel(&c.model);
    orvane_model_instance* y = OrvaneInstantiateModel(&c.model);
    orvane_control* played = OrvanePlayControlledAnimation(0.0f, &c.animation, y);
    ASSERT_NE(played, nullptr);
    orvane_animation_binding* shared =
        OrvaneGetAnimationBindingFromControlBinding(OrvaneModelControlsBegin(y));
    PosePtr before(OrvaneNewLocalPose(n));
    PosePtr after(OrvaneNewLocalPose(n));
    PosePtr own(OrvaneNewLocalPose(n));
    OrvaneSetModelClock(y, 0.9f);
    OrvaneSampleModelAnimationsLOD(y, 0, n, before.get(), 0.5f);
    std::vector<float> errors;
    for (int32_t b = 0; b < n; ++b)
        errors.push_back(OrvaneGetLODErrorValue(shared, b));

    orvane_controlled_animation_builder* builder =
        OrvaneBeginControlledAnimation(0.0f, &c.animation);
    OrvaneSetTrackGroupTarget(builder, 0, x);
    OrvaneSetTrackGroupLOD(builder, 0, true, 1.0f);
    orvane_control* copied = OrvaneEndControlledAnimation(builder);
    ASSERT_NE(copied, nullptr);
    // The same cached binding, unchanged.
    EXPECT_EQ(OrvaneGetAnimationBindingFromControlBinding(OrvaneModelControlsBegin(x)), shared);
    for (int32_t b = 0; b < n; ++b)
        EXPECT_EQ(OrvaneGetLODErrorValue(shared, b), errors[size_t(b)]) << "bone " << b;

    OrvaneSampleModelAnimationsLOD(y, 0, n, after.get(), 0.5f);
    for (int32_t b = 0; b < n; ++b)
        EXPECT_EQ(
            std::memcmp(OrvaneGetLocalPoseTransform(before.get(), b),
                        OrvaneGetLocalPoseTransform(after.get(), b), sizeof(orvane_transform)),
            0)
            << "bone " << b;
    // X samples with its copied errors: every track of error 0.25 is its constant at 0.5.
    OrvaneSetModelClock(x, 0.9f);
    OrvaneSampleModelAnimationsLOD(x, 0, n, own.get(), 0.5f);
    EXPECT_NEAR(OrvaneGetLocalPoseTransform(own.get(), 1)->Position[0], c.tracks[1].positions[0],
                1e-6f);
    EXPECT_NE(OrvaneGetLocalPoseTransform(after.get(), 1)->Position[0], c.tracks[1].positions[0]);
    OrvaneFreeControl(copied);
    OrvaneFreeControl(played);
    OrvaneFreeModelInstance(x);
    OrvaneFreeModelInstance(y);
}

// Two bones, each a root: bone0 with an orientation curve only, bone1 with an animated
// scale/shear too (the general sampler), both turning 140 degrees about z over [0, 1].
struct FarKeys {
    orvane_skeleton* skeleton = nullptr;
    orvane_track_group* group = nullptr;
    orvane_track_group* groups[1] = {nullptr};
    orvane_model model{};
    orvane_animation animation{};
    char names[2][8] = {"bone0", "bone1"};

    FarKeys() {
        orvane_skeleton_builder* b = OrvaneBeginSkeleton(2);
        const float p[3] = {0, 0, 0}, q[4] = {0, 0, 0, 1}, s[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
        for (int i = 0; i < 2; ++i)
            OrvaneAddBone(b, p, q, s, p, q, s);
        skeleton = OrvaneEndSkeleton(b, nullptr);
        for (int i = 0; i < 2; ++i)
            skeleton->Bones[i].Name = names[i];
        model.Name = const_cast<char*>("Far");
        model.Skeleton = skeleton;
        OrvaneMakeIdentity(&model.InitialPlacement);
        const float half = 70.0f * 3.14159265f / 180.0f;
        const float knots[2] = {0.0f, 1.0f};
        const float orientations[8] = {0, 0, 0, 1, 0, 0, std::sin(half), std::cos(half)};
        const float scales[18] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 0, 0, 0, 1, 0, 0, 0, 1};
        orvane_track_group_builder* g = OrvaneBeginTrackGroup("Far", 0, 2, 0, false);
        for (int i = 0; i < 2; ++i) {
            OrvaneBeginTransformTrack(g, names[i]);
            OrvaneSetTransformTrackOrientation(g, 1, 0, 2, knots, orientations,
                                               OrvaneCurveDataDaK32fC32fType);
            if (i == 1)
                OrvaneSetTransformTrackScaleShear(g, 1, 0, 2, knots, scales,
                                                  OrvaneCurveDataDaK32fC32fType);
            OrvaneEndTransformTrack(g);
        }
        group = OrvaneEndTrackGroup(g);
        groups[0] = group;
        animation.Name = const_cast<char*>("Turn");
        animation.Duration = 1.0f;
        animation.TimeStep = 0.5f;
        animation.Oversampling = 1.0f;
        animation.TrackGroupCount = 1;
        animation.TrackGroups = groups;
    }
    ~FarKeys() {
        OrvaneFreeBuilderResult(group);
        OrvaneFreeBuilderResult(skeleton);
    }
    FarKeys(const FarKeys&) = delete;
    FarKeys& operator=(const FarKeys&) = delete;
};

TEST(ContentChecks, TheAcceleratedBuildAgreesWithTheTrackSamplersForKeysFarApart) {
    FarKeys f;
    orvane_model_instance* instance = OrvaneInstantiateModel(&f.model);
    orvane_control* control = OrvanePlayControlledAnimation(0.0f, &f.animation, instance);
    ASSERT_NE(control, nullptr);
    OrvaneSetModelClock(instance, 0.5f);
    PosePtr local(OrvaneNewLocalPose(2));
    PosePtr scratch(OrvaneNewLocalPose(2));
    WorldPtr accelerated(OrvaneNewWorldPose(2));
    WorldPtr built(OrvaneNewWorldPose(2));
    OrvaneSampleModelAnimationsAccelerated(instance, 2, nullptr, scratch.get(), accelerated.get());
    OrvaneSampleModelAnimations(instance, 0, 2, local.get());
    OrvaneBuildWorldPose(f.skeleton, 0, 2, local.get(), nullptr, built.get());

    // Half way, a turn of 70 degrees about z: the exact rotation's first element.
    const double expected = std::cos(70.0 * 3.14159265358979 / 180.0);
    orvane_track_sample_context context{};
    context.SampleTime = 0.5f;
    context.SampleDuration = 1.0f;
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    for (int32_t b = 0; b < 2; ++b) {
        SCOPED_TRACE("bone " + std::to_string(b));
        const orvane_transform_track* track = &f.group->TransformTracks[b];
        float world[16], composite[16];
        OrvaneGetTrackSamplerFor(track)(&context, track, nullptr, &f.skeleton->Bones[b].Transform,
                                        identity, identity, world, composite);
        orvane_transform sampled;
        sampled.Flags = 0;
        OrvaneSampleTrackUUULocal(&context, track, nullptr, &sampled);
        const float* q = sampled.Orientation;
        EXPECT_NEAR(std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]), 1.0, 2e-7);
        const float* a = OrvaneGetWorldPose4x4(accelerated.get(), b);
        const float* l = OrvaneGetWorldPose4x4(built.get(), b);
        EXPECT_NEAR(world[0], expected, 1e-6);
        for (int k = 0; k < 16; ++k) {
            EXPECT_NEAR(a[k], world[k], 1e-6f) << "element " << k;
            EXPECT_NEAR(l[k], world[k], 1e-6f) << "element " << k;
        }
    }
    OrvaneFreeControl(control);
    OrvaneFreeModelInstance(instance);
}

}  // namespace

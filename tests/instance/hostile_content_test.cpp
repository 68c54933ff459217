// Damaged content on the playing paths: what a file can get wrong inside a track group or a
// skeleton that the loader cannot see, and that bindings must refuse once so that sampling,
// root motion and LOD measurement never read past what the file holds.
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "instance/instance_test_support.h"
#include "support/log_capture.h"
#include "orvane/animation_binding.h"
#include "orvane/controlled_animation.h"
#include "orvane/instance.h"

namespace {

using namespace orvane_instance_test;

orvane_curve_data_header* HeaderOf(orvane_curve2& curve) {
    return static_cast<orvane_curve_data_header*>(curve.CurveData.Object);
}

int32_t TrackOf(const Character& c, const char* name) {
    int32_t index = -1;
    EXPECT_TRUE(OrvaneFindTrackByName(c.group, name, &index));
    return index;
}

// Samples every form of the instance at a few clocks; the poses must stay finite.
void PlayEveryForm(orvane_model_instance* instance, const Character& c) {
    const int32_t bones = c.BoneCount();
    PosePtr local(OrvaneNewLocalPose(bones));
    WorldPtr world(OrvaneNewWorldPose(bones));
    for (float clock : {0.0f, 0.7f, 5.0f, -1.0f}) {
        OrvaneSetModelClock(instance, clock);
        OrvaneSampleModelAnimations(instance, 0, bones, local.get());
        OrvaneBuildWorldPose(c.skeleton, 0, bones, local.get(), nullptr, world.get());
        OrvaneSampleModelAnimationsAccelerated(instance, bones, nullptr, local.get(), world.get());
        const float* m = OrvaneGetWorldPose4x4Array(world.get());
        for (int32_t i = 0; i < 16 * bones; ++i)
            ASSERT_TRUE(std::isfinite(m[i])) << "clock " << clock << " element " << i;
        float t[3], r[3];
        OrvaneGetRootMotionVectors(instance, 0.1f, t, r, false);
    }
}

TEST(HostileTrackGroup, ACurveWhoseFormatDisagreesWithItsDataLeavesItsTrackUnbound) {
    Character c(4, 99);
    // A file whose types match the library's keeps the format numbers it holds: here bone2's
    // float position curve claims to be a quantised scale/shear record, whose scales and
    // offsets lie past the float record's end.
    const int32_t damaged = TrackOf(c, "bone2");
    ASSERT_GE(damaged, 0);
    orvane_curve2& curve = c.group->TransformTracks[damaged].PositionCurve;
    ASSERT_TRUE(OrvaneCurveFormatIsInitializedCorrectly(&curve));
    HeaderOf(curve)->Format = OrvaneCurveFormatD9I3K8uC8u;
    ASSERT_FALSE(OrvaneCurveFormatIsInitializedCorrectly(&curve));

    orvane_animation_binding_identifier id;
    OrvaneMakeDefaultAnimationBindingID(&id, &c.animation, 0);
    id.OnModel = &c.model;
    orvane_test::LogCapture log;
    orvane_animation_binding* b = OrvaneAcquireAnimationBindingFromID(&id);
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(log.Contains("does not match its data"));
    EXPECT_EQ(OrvaneGetAnimationBindingTrackIndex(b, 2), -1);
    EXPECT_EQ(OrvaneGetAnimationBindingTrackIndex(b, 1), TrackOf(c, "bone1"));
    OrvaneReleaseAnimationBinding(b);

    // Played, the damaged bone holds its rest transform and the others move.
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_control* control = OrvanePlayControlledAnimation(0.0f, &c.animation, instance);
    ASSERT_NE(control, nullptr);
    PlayEveryForm(instance, c);
    PosePtr local(OrvaneNewLocalPose(c.BoneCount()));
    OrvaneSetModelClock(instance, 0.7f);
    OrvaneSampleModelAnimations(instance, 0, c.BoneCount(), local.get());
    const orvane_transform* rest = &c.skeleton->Bones[2].Transform;
    const orvane_transform* posed = OrvaneGetLocalPoseTransform(local.get(), 2);
    for (int k = 0; k < 3; ++k)
        EXPECT_FLOAT_EQ(posed->Position[k], rest->Position[k]);
    OrvaneFreeControl(control);
    OrvaneFreeModelInstance(instance);
    OrvaneFlushAllBindingsForAnimation(&c.animation);
}

TEST(HostileTrackGroup, ARemapOntoADamagedCurveLeavesItsTrackUnbound) {
    // A playing control whose binding is remapped onto another copy of the animation in which
    // bone2's position curve is damaged: that track is refused as a new binding would refuse
    // it, and the others follow the new copy.
    Character c(4, 99);
    Character other(4, 99);
    orvane_animation first = c.animation, second = c.animation;
    second.TrackGroups = other.groups;
    const int32_t damaged = TrackOf(other, "bone2");
    ASSERT_GE(damaged, 0);
    orvane_curve2& curve = other.group->TransformTracks[damaged].PositionCurve;
    HeaderOf(curve)->Format = OrvaneCurveFormatD9I3K8uC8u;
    ASSERT_FALSE(OrvaneCurveFormatIsInitializedCorrectly(&curve));

    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_control* control = OrvanePlayControlledAnimation(0.0f, &first, instance);
    ASSERT_NE(control, nullptr);
    orvane_animation_binding* b =
        OrvaneGetAnimationBindingFromControlBinding(OrvaneModelControlsBegin(instance));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(OrvaneGetAnimationBindingTrackIndex(b, 2), damaged);
    orvane_test::LogCapture log;
    OrvaneRemapAllAnimationBindingPointers(&first, &second);
    EXPECT_TRUE(
        log.Contains("Track 2 for bone \"bone2\" has a curve whose format does not "
                     "match its data; left unbound"));
    EXPECT_EQ(OrvaneGetAnimationBindingTrackIndex(b, 2), -1);
    EXPECT_EQ(OrvaneGetAnimationBindingTrackIndex(b, 1), TrackOf(other, "bone1"));
    PlayEveryForm(instance, c);
    PosePtr local(OrvaneNewLocalPose(c.BoneCount()));
    OrvaneSetModelClock(instance, 0.7f);
    OrvaneSampleModelAnimations(instance, 0, c.BoneCount(), local.get());
    const orvane_transform* rest = &c.skeleton->Bones[2].Transform;
    const orvane_transform* posed = OrvaneGetLocalPoseTransform(local.get(), 2);
    for (int k = 0; k < 3; ++k)
        EXPECT_FLOAT_EQ(posed->Position[k], rest->Position[k]);
    OrvaneFreeControl(control);
    OrvaneFreeModelInstance(instance);
}

}  // namespace

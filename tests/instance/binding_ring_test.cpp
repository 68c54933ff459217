// The instance's ring of bindings through a binding kind of the test's own, whose callbacks
// record what the library asks of them: the order of playing bindings, where the sampling walks
// stop, which entry the accelerated sampler takes, root motion's weighting, and the release of
// bindings when an instance or control goes.
#include <deque>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "instance/instance_test_support.h"
#include "instance/orvane_model_instance.h"
#include "orvane/instance.h"
#include "orvane/local_pose.h"
#include "orvane/world_pose.h"

namespace {

// What one binding of the recording kind adds to root motion.
struct Tag {
    char name;
    float weight;
    float translation[3];
    float rotation[3];
};

std::string gCalls;

orvane::ControlBindingCallbacks RecordingKind();

const Tag& TagOf(orvane_model_control_binding* b) {
    return *static_cast<const Tag*>(b->Payload[0]);
}

const orvane::ControlBindingCallbacks& Kind() {
    static const orvane::ControlBindingCallbacks kind = RecordingKind();
    return kind;
}

orvane::ControlBindingCallbacks RecordingKind() {
    orvane::ControlBindingCallbacks k{};
    k.InitializeBinding = [](orvane_model_control_binding* b, const void* data) {
        b->Payload[0] = const_cast<void*>(data);
        return true;
    };
    k.AccumulateBindingState = [](orvane_model_control_binding* b, int32_t, int32_t,
                                  orvane_local_pose*, float, const int32_t*) {
        gCalls += 'a';
        gCalls += TagOf(b).name;
    };
    k.BuildDirect = [](orvane_model_control_binding* b, int32_t, const float*, orvane_world_pose*,
                       float) {
        gCalls += 'd';
        gCalls += TagOf(b).name;
    };
    k.AccumulateRootMotion = [](orvane_model_control_binding* b, float, float* total, float t[3],
                                float r[3], bool) {
        const Tag& tag = TagOf(b);
        for (int i = 0; i < 3; ++i) {
            t[i] += tag.weight * tag.translation[i];
            r[i] += tag.weight * tag.rotation[i];
        }
        *total += tag.weight;
    };
    k.ReleaseBinding = [](orvane_model_control_binding* b) {
        gCalls += 'r';
        gCalls += TagOf(b).name;
    };
    return k;
}

struct BindingRing : ::testing::Test {
    BindingRing() {
        instance = OrvaneInstantiateModel(&character.model);
        pose = OrvaneNewLocalPose(6);
        world = OrvaneNewWorldPose(6);
        gCalls.clear();
    }
    ~BindingRing() override {
        OrvaneFreeModelInstance(instance);
        for (orvane_control* c : controls)
            OrvaneFreeControl(c);
        OrvaneFreeLocalPose(pose);
        OrvaneFreeWorldPose(world);
    }
    // The binding keeps a pointer to its tag until it is released, which may be in the
    // fixture's teardown: the fixture keeps a copy of the tag that lives as long.
    orvane_control* Bind(const Tag& tag) {
        const Tag& kept = tags.emplace_back(tag);
        orvane_control* c = OrvaneCreateControl(0.0f, 1.0f);
        controls.push_back(c);
        EXPECT_NE(orvane::BindControlToModel(&Kind(), c, instance, true, &kept), nullptr);
        return c;
    }
    std::string Sampled() {
        gCalls.clear();
        OrvaneSampleModelAnimations(instance, 0, 6, pose);
        return gCalls;
    }
    std::string Order() {
        std::string order;
        for (orvane_model_control_binding* b = OrvaneModelControlsBegin(instance);
             b != OrvaneModelControlsEnd(instance); b = OrvaneModelControlsNext(b))
            order += TagOf(b).name;
        return order;
    }

    orvane_instance_test::Character character;
    orvane_model_instance* instance = nullptr;
    orvane_local_pose* pose = nullptr;
    orvane_world_pose* world = nullptr;
    std::vector<orvane_control*> controls;
    std::deque<Tag> tags;  // stable addresses as tags are added
};

TEST_F(BindingRing, PlayingBindingsLeadAndTheWalksStopAtTheFirstThatIsNot) {
    const Tag a{'A', 1, {}, {}}, b{'B', 1, {}, {}}, c{'C', 1, {}, {}};
    orvane_control* ca = Bind(a);
    orvane_control* cb = Bind(b);
    Bind(c);
    EXPECT_EQ(Order(), "CBA");
    EXPECT_EQ(Sampled(), "aCaBaA");
    // Weight 1 to 0: to the back, and the walk stops there.
    OrvaneSetControlWeight(cb, 0.0f);
    EXPECT_EQ(Order(), "CAB");
    EXPECT_EQ(Sampled(), "aCaA");
    // Between two non-zero weights nothing moves.
    OrvaneSetControlWeight(ca, 0.5f);
    EXPECT_EQ(Order(), "CAB");
    // Back to a weight: to the front.
    OrvaneSetControlWeight(cb, 2.0f);
    EXPECT_EQ(Order(), "BCA");
    // The active bit set to what it is moves nothing; cleared, to the back.
    OrvaneSetControlActive(cb, true);
    EXPECT_EQ(Order(), "BCA");
    OrvaneSetControlActive(cb, false);
    EXPECT_EQ(Order(), "CAB");
    EXPECT_EQ(Sampled(), "aCaA");
    // Inactive with weight 0, made active: still not playing, so it stays behind.
    OrvaneSetControlWeight(cb, 0.0f);
    OrvaneSetControlActive(cb, true);
    EXPECT_EQ(Order(), "CAB");
    EXPECT_EQ(Sampled(), "aCaA");
}

TEST_F(BindingRing, SampleSingleFindsTheBindingAndSamplesItOnlyWhenPlaying) {
    const Tag a{'A', 1, {}, {}}, b{'B', 1, {}, {}};
    orvane_control* ca = Bind(a);
    Bind(b);
    gCalls.clear();
    EXPECT_TRUE(OrvaneSampleSingleModelAnimation(instance, ca, 0, 6, pose));
    EXPECT_EQ(gCalls, "aA");
    OrvaneSetControlActive(ca, false);
    gCalls.clear();
    EXPECT_TRUE(OrvaneSampleSingleModelAnimation(instance, ca, 0, 6, pose));
    EXPECT_EQ(gCalls, "");
    orvane_control* unbound = OrvaneCreateControl(0.0f, 1.0f);
    controls.push_back(unbound);
    EXPECT_FALSE(OrvaneSampleSingleModelAnimation(instance, unbound, 0, 6, pose));
    EXPECT_EQ(gCalls, "");
}

TEST_F(BindingRing, AcceleratedSamplingBuildsDirectlyForOnePlayingBinding) {
    const Tag a{'A', 1, {}, {}}, b{'B', 1, {}, {}};
    orvane_control* ca = Bind(a);
    orvane_control* cb = Bind(b);
    gCalls.clear();
    OrvaneSampleModelAnimationsAccelerated(instance, 6, nullptr, pose, world);
    EXPECT_EQ(gCalls, "aBaA");
    OrvaneSetControlWeight(ca, 0.0f);
    gCalls.clear();
    OrvaneSampleModelAnimationsAccelerated(instance, 6, nullptr, pose, world);
    EXPECT_EQ(gCalls, "dB");
    OrvaneSetControlActive(cb, false);
    gCalls.clear();
    OrvaneSampleModelAnimationsAccelerated(instance, 6, nullptr, pose, world);
    EXPECT_EQ(gCalls, "");
}

TEST_F(BindingRing, RootMotionIsNormalisedOnlyAboveAThousandth) {
    // Two bindings of weight 0.00025: a total of 0.0005, returned as summed.
    const Tag a{'A', 0.00025f, {4, 0, 0}, {0, 0, 1}}, b{'B', 0.00025f, {0, 8, 0}, {0, 1, 0}};
    orvane_control* ca = Bind(a);
    orvane_control* cb = Bind(b);
    float t[3], r[3];
    OrvaneGetRootMotionVectors(instance, 0.1f, t, r, false);
    EXPECT_FLOAT_EQ(t[0], 0.001f);
    EXPECT_FLOAT_EQ(t[1], 0.002f);
    EXPECT_FLOAT_EQ(r[1], 0.00025f);
    EXPECT_FLOAT_EQ(r[2], 0.00025f);
    // Nothing playing: zero vectors, whatever they held before.
    OrvaneSetControlActive(ca, false);
    OrvaneSetControlActive(cb, false);
    OrvaneGetRootMotionVectors(instance, 0.1f, t, r, false);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(t[i], 0.0f);
        EXPECT_EQ(r[i], 0.0f);
    }
}

TEST_F(BindingRing, RootMotionAboveAThousandthIsTheWeightedMean) {
    const Tag a{'A', 1.0f, {4, 0, 0}, {0, 0, 1}}, b{'B', 3.0f, {0, 8, 0}, {0, 1, 0}};
    Bind(a);
    Bind(b);
    float t[3], r[3];
    OrvaneGetRootMotionVectors(instance, 0.1f, t, r, false);
    EXPECT_FLOAT_EQ(t[0], 1.0f);
    EXPECT_FLOAT_EQ(t[1], 6.0f);
    EXPECT_FLOAT_EQ(r[1], 0.75f);
    EXPECT_FLOAT_EQ(r[2], 0.25f);
}

TEST_F(BindingRing, FreeingTheInstanceReleasesItsBindingsAndFreesControlsLeftUnbound) {
    const Tag a{'A', 1, {}, {}}, b{'B', 1, {}, {}};
    orvane_control* ca = Bind(a);
    orvane_control* cb = Bind(b);
    OrvaneFreeControlOnceUnused(cb);
    controls.pop_back();  // freed with its last binding
    gCalls.clear();
    OrvaneFreeModelInstance(instance);
    instance = nullptr;
    EXPECT_EQ(gCalls, "rBrA");
    // The control without the flag stays, with an empty ring.
    EXPECT_EQ(OrvaneControlModelsBegin(ca), OrvaneControlModelsEnd(ca));
    bool listed = false;
    for (orvane_control* c = OrvaneGetGlobalControlsBegin(); c != OrvaneGetGlobalControlsEnd();
         c = OrvaneGetGlobalNextControl(c)) {
        EXPECT_NE(c, cb);
        listed = listed || c == ca;
    }
    EXPECT_TRUE(listed);
}

}  // namespace

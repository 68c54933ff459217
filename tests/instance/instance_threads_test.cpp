// Two characters on two threads: each samples its own instance with its own control into its
// own poses, while a third thread creates, binds and frees controls on another instance (some
// with LOD values copied from the animation for that instance alone). The results must equal
// those of a single-threaded run.
#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "instance/instance_test_support.h"
#include "orvane/controlled_animation.h"
#include "orvane/instance.h"

namespace {

using namespace orvane_instance_test;

// The world matrices of `frames` frames of one instance, sampled both ways.
std::vector<float> Play(orvane_model_instance* instance, int n, int frames, float phase) {
    PosePtr pose(OrvaneNewLocalPose(n));
    PosePtr scratch(OrvaneNewLocalPose(n));
    WorldPtr world(OrvaneNewWorldPose(n));
    WorldPtr direct(OrvaneNewWorldPose(n));
    std::vector<float> out;
    out.reserve(size_t(frames) * size_t(n) * 16 * 2);
    for (int f = 0; f < frames; ++f) {
        OrvaneSetModelClock(instance, phase + float(f) / 60.0f);
        OrvaneSampleModelAnimations(instance, 0, n, pose.get());
        OrvaneBuildWorldPose(OrvaneGetSourceSkeleton(instance), 0, n, pose.get(), nullptr,
                             world.get());
        OrvaneSampleModelAnimationsAccelerated(instance, n, nullptr, scratch.get(), direct.get());
        const float* w = OrvaneGetWorldPose4x4Array(world.get());
        const float* d = OrvaneGetWorldPose4x4Array(direct.get());
        out.insert(out.end(), w, w + 16 * n);
        out.insert(out.end(), d, d + 16 * n);
        // With an allowed error above the track group's stored errors, which only the other
        // instance's nodes copied.
        OrvaneSampleModelAnimationsAcceleratedLOD(instance, n, nullptr, scratch.get(), direct.get(),
                                                  0.5f);
        out.insert(out.end(), d, d + 16 * n);
        float t[3], r[3];
        OrvaneGetRootMotionVectors(instance, 1.0f / 60.0f, t, r, false);
        out.insert(out.end(), t, t + 3);
    }
    return out;
}

TEST(InstanceThreads, TwoInstancesSampleWhileAThirdThreadBindsAndFrees) {
    Character c;
    for (int32_t t = 0; t < c.group->TransformLODErrorCount; ++t)
        c.group->TransformLODErrors[t] = 0.25f;
    const int n = c.BoneCount();
    const int frames = 400;
    orvane_model_instance* a = OrvaneInstantiateModel(&c.model);
    orvane_model_instance* b = OrvaneInstantiateModel(&c.model);
    orvane_model_instance* busy = OrvaneInstantiateModel(&c.model);
    orvane_control* ca = OrvanePlayControlledAnimation(0.0f, &c.animation, a);
    orvane_control* cb = OrvanePlayControlledAnimation(0.0f, &c.animation, b);
    ASSERT_NE(ca, nullptr);
    ASSERT_NE(cb, nullptr);
    OrvaneSetControlLoopCount(ca, 0);
    OrvaneSetControlLoopCount(cb, 0);

    // The single-threaded reference, from controls of their own.
    orvane_model_instance* ra = OrvaneInstantiateModel(&c.model);
    orvane_model_instance* rb = OrvaneInstantiateModel(&c.model);
    orvane_control* cra = OrvanePlayControlledAnimation(0.0f, &c.animation, ra);
    orvane_control* crb = OrvanePlayControlledAnimation(0.0f, &c.animation, rb);
    OrvaneSetControlLoopCount(cra, 0);
    OrvaneSetControlLoopCount(crb, 0);
    const std::vector<float> expectA = Play(ra, n, frames, 0.0f);
    const std::vector<float> expectB = Play(rb, n, frames, 0.3f);
    OrvaneFreeControl(cra);
    OrvaneFreeControl(crb);
    OrvaneFreeModelInstance(ra);
    OrvaneFreeModelInstance(rb);

    std::atomic<bool> stop{false};
    std::atomic<int> churned{0};
    std::thread churn([&] {
        while (!stop.load()) {
            orvane_control* x = OrvanePlayControlledAnimation(0.0f, &c.animation, busy);
            orvane_control* y = OrvaneCreateControl(0.0f, 1.0f);
            orvane_controlled_animation_builder* builder =
                OrvaneBeginControlledAnimation(0.0f, &c.animation);
            OrvaneSetTrackGroupTarget(builder, 0, busy);
            OrvaneSetTrackGroupLOD(builder, 0, true, 1.0f);
            OrvaneFreeControl(OrvaneEndControlledAnimation(builder));
            OrvaneSetControlWeight(x, 0.0f);
            OrvaneSetControlWeight(x, 1.0f);
            OrvaneFreeControl(y);
            OrvaneFreeControlOnceUnused(x);
            if (churned.fetch_add(1) % 3 == 0) {
                OrvaneFreeModelInstance(busy);
                busy = OrvaneInstantiateModel(&c.model);
            }
        }
    });
    std::vector<float> gotA, gotB;
    std::thread ta([&] { gotA = Play(a, n, frames, 0.0f); });
    std::thread tb([&] { gotB = Play(b, n, frames, 0.3f); });
    ta.join();
    tb.join();
    stop.store(true);
    churn.join();
    EXPECT_GT(churned.load(), 0);
    ASSERT_EQ(gotA.size(), expectA.size());
    ASSERT_EQ(gotB.size(), expectB.size());
    for (size_t i = 0; i < gotA.size(); ++i)
        ASSERT_EQ(gotA[i], expectA[i]) << i;
    for (size_t i = 0; i < gotB.size(); ++i)
        ASSERT_EQ(gotB[i], expectB[i]) << i;
    OrvaneFreeModelInstance(a);
    OrvaneFreeModelInstance(b);
    OrvaneFreeModelInstance(busy);
    OrvaneFreeControl(ca);
    OrvaneFreeControl(cb);
}

}  // namespace

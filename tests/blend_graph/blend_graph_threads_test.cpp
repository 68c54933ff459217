// Blend graphs on several threads: two graphs over distinct instances sampled at once, each
// through its thread's own pose cache, and nodes created and freed from two threads.
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "blend_graph/blend_graph_test_support.h"
#include "instance/instance_test_support.h"
#include "orvane/blend_graph.h"
#include "orvane/controlled_animation.h"
#include "orvane/instance.h"

namespace {

using orvane_blend_graph_test::Blend;
using orvane_instance_test::Character;
using orvane_instance_test::PosePtr;

// One character's frame loop: a crossfade of two instances of the model checked against
// sampling the instances directly and blending by hand.
void SampleFrames(const Character* c, float phase, int frames, int* mismatches) {
    const int n = c->BoneCount();
    orvane_model_instance* a = OrvaneInstantiateModel(&c->model);
    orvane_model_instance* b = OrvaneInstantiateModel(&c->model);
    orvane_control* ca = OrvanePlayControlledAnimation(0.0f, &c->animation, a);
    orvane_control* cb = OrvanePlayControlledAnimation(phase, &c->animation, b);
    OrvaneSetControlLoopCount(ca, 0);
    OrvaneSetControlLoopCount(cb, 0);
    orvane_blend_dag_node* root = OrvaneCreateBlendDagNodeCrossfade(
        OrvaneCreateBlendDagNodeAnimationBlend(a, true),
        OrvaneCreateBlendDagNodeAnimationBlend(b, true), 0.0f, 0.4f, nullptr, false, 0);
    PosePtr pa(OrvaneNewLocalPose(n)), pb(OrvaneNewLocalPose(n));
    for (int f = 0; f < frames; ++f) {
        const float clock = 0.013f * float(f);
        OrvaneSetBlendDagTreeClock(root, clock);
        const orvane_local_pose* r = OrvaneSampleBlendDagTree(root, n);
        OrvaneSampleModelAnimations(a, 0, n, pa.get());
        OrvaneSampleModelAnimations(b, 0, n, pb.get());
        for (int i = 0; r != nullptr && i < n; ++i) {
            const orvane_transform e = Blend(*OrvaneGetLocalPoseTransform(pa.get(), i),
                                             *OrvaneGetLocalPoseTransform(pb.get(), i), 0.4);
            const orvane_transform& got = *OrvaneGetLocalPoseTransform(r, i);
            for (int k = 0; k < 3; ++k)
                if (std::fabs(got.Position[k] - e.Position[k]) > 1e-5f) ++*mismatches;
        }
        if (r == nullptr) ++*mismatches;
    }
    OrvaneFreeBlendDagEntireTree(root);
    OrvaneFreeControl(ca);
    OrvaneFreeControl(cb);
    OrvaneFreeBlendDagLocalPoseCache();
}

TEST(BlendGraphThreads, TwoGraphsOverDistinctInstancesSampleOnTwoThreadsAtOnce) {
    Character c;
    int mismatches[2] = {0, 0};
    std::thread first(SampleFrames, &c, -0.3f, 400, &mismatches[0]);
    std::thread second(SampleFrames, &c, -0.9f, 400, &mismatches[1]);
    first.join();
    second.join();
    EXPECT_EQ(mismatches[0], 0);
    EXPECT_EQ(mismatches[1], 0);
}

TEST(BlendGraphThreads, NodesAreCreatedAndFreedFromTwoThreads) {
    Character c;
    auto churn = [&c](int rounds) {
        std::vector<orvane_blend_dag_node*> nodes;
        for (int r = 0; r < rounds; ++r) {
            for (int k = 0; k < 50; ++k)
                nodes.push_back(OrvaneCreateBlendDagNodeWeightedBlend(c.skeleton, 0.2f, 0, 0));
            for (size_t k = 1; k < nodes.size(); ++k)
                OrvaneAddBlendDagNodeChild(nodes[0], nodes[k]);
            OrvaneFreeBlendDagEntireTree(nodes[0]);
            nodes.clear();
        }
    };
    std::thread first(churn, 200);
    std::thread second(churn, 200);
    first.join();
    second.join();
}

}  // namespace

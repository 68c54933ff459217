// The blend graph's pose cache: priming with the default count, and samplings started from
// inside a sampling on the same cache.
#include <atomic>

#include <gtest/gtest.h>

#include "blend_graph/blend_graph_test_support.h"
#include "blend_graph/orvane_blend_graph.h"
#include "instance/instance_test_support.h"
#include "support/log_capture.h"

namespace {

using orvane_blend_graph_test::Blend;
using orvane_blend_graph_test::ExpectNear;
using orvane_blend_graph_test::Varied;
using orvane_blend_graph_test::VariedPose;
using orvane_instance_test::Character;
using Node = orvane_blend_dag_node;

constexpr int kBones = 6;

Node* Leaf(int seed) {
    return OrvaneCreateBlendDagNodeLocalPose(VariedPose(kBones, seed), true);
}

std::atomic<int> gAllocations{0};
orvane_allocate_callback gPreviousAllocate = nullptr;
orvane_deallocate_callback gPreviousDeallocate = nullptr;

void* CountingAllocate(const char* file, int32_t line, uint32_t alignment, int32_t size) {
    gAllocations.fetch_add(1);
    return gPreviousAllocate(file, line, alignment, size);
}

// Allocations made by `f`.
template <typename F>
int AllocationsOf(F f) {
    OrvaneGetAllocator(&gPreviousAllocate, &gPreviousDeallocate);
    OrvaneSetAllocator(&CountingAllocate, gPreviousDeallocate);
    gAllocations = 0;
    f();
    const int counted = gAllocations.load();
    OrvaneSetAllocator(gPreviousAllocate, gPreviousDeallocate);
    return counted;
}

TEST(BlendGraphCache, ANegativePoseCountPrimesTheDefaultSixteenPoses) {
    Character c;
    // Seven inner blends of two poses under one blend: eight scratch poses, fewer than sixteen.
    Node* root = OrvaneCreateBlendDagNodeWeightedBlend(c.skeleton, 0.2f, 0, 0);
    for (int i = 0; i < 7; ++i) {
        Node* inner = OrvaneCreateBlendDagNodeWeightedBlend(c.skeleton, 0.2f, 0, 0);
        OrvaneAddBlendDagNodeChild(inner, Leaf(i));
        OrvaneAddBlendDagNodeChild(inner, Leaf(i + 1));
        OrvaneAddBlendDagNodeChild(root, inner);
    }
    OrvaneFreeBlendDagLocalPoseCache();
    {
        orvane_test::LogCapture log;
        OrvanePrimeBlendDagLocalPoseCache(kBones, -3);
        EXPECT_EQ(log.errors(), 0u);
    }
    const orvane_local_pose* result = nullptr;
    EXPECT_EQ(AllocationsOf([&] { result = OrvaneSampleBlendDagTree(root, kBones); }), 0);
    EXPECT_NE(result, nullptr);
    // The same for a cache of the application's.
    orvane_blend_dag_pose_cache* cache = OrvaneNewBlendDagPoseCache();
    ASSERT_NE(cache, nullptr);
    EXPECT_TRUE(OrvanePrimeBlendDagPoseCache(cache, kBones, -1));
    EXPECT_EQ(AllocationsOf([&] {
                  result = OrvaneSampleBlendDagTreeLODSparseWithCache(cache, root, kBones, 0.0f,
                                                                      nullptr);
              }),
              0);
    EXPECT_NE(result, nullptr);
    // A negative bone count is still refused.
    orvane_test::LogCapture log;
    EXPECT_FALSE(OrvanePrimeBlendDagPoseCache(cache, -1, 4));
    EXPECT_EQ(log.errors(), 1u);
    OrvaneFreeBlendDagPoseCache(cache);
    OrvaneFreeBlendDagEntireTree(root);
    OrvaneFreeBlendDagLocalPoseCache();
}

// A sample callback that samples a second tree through the same thread cache; with `freeCache`
// it also tries to free that cache before returning.
struct Nested {
    Node* tree = nullptr;
    bool freeCache = false;
};

orvane_local_pose* SampleNested(void* user, int32_t bones, float, const int32_t*) {
    auto* n = static_cast<Nested*>(user);
    orvane_local_pose* pose = OrvaneSampleBlendDagTree(n->tree, bones);
    if (n->freeCache) OrvaneFreeBlendDagLocalPoseCache();
    return pose;
}

TEST(BlendGraphCache, ASamplingInsideASamplingKeepsTheOuterPoses) {
    Character c;
    Nested nested;
    nested.tree =
        OrvaneCreateBlendDagNodeCrossfade(Leaf(1), Leaf(2), 0.0f, 0.5f, nullptr, false, 0);
    // The outer blend takes its pose before its children run; the callback's sampling must
    // not build its poses over it.
    Node* root = OrvaneCreateBlendDagNodeWeightedBlend(c.skeleton, 0.0f, 0, 0);
    OrvaneAddBlendDagNodeChild(root, Leaf(0));
    OrvaneAddBlendDagNodeChild(
        root, OrvaneCreateBlendDagNodeCallback(&SampleNested, nullptr, nullptr, &nested));
    for (int pass = 0; pass < 2; ++pass) {
        nested.freeCache = pass == 1;
        orvane_test::LogCapture log;
        const orvane_local_pose* r = OrvaneSampleBlendDagTree(root, kBones);
        ASSERT_NE(r, nullptr) << pass;
        // Two children of weight 1: the even mix of the leaf and the inner crossfade.
        for (int i = 0; i < kBones; ++i)
            ExpectNear(*OrvaneGetLocalPoseTransform(r, i),
                       Blend(Varied(i, 0), Blend(Varied(i, 1), Varied(i, 2), 0.5), 0.5), 1e-4f);
        // Freeing the cache from inside its own sampling is refused.
        EXPECT_EQ(log.errors(), pass == 1 ? 1u : 0u);
    }
    OrvaneFreeBlendDagEntireTree(root);
    OrvaneFreeBlendDagEntireTree(nested.tree);
    OrvaneFreeBlendDagLocalPoseCache();
}

}  // namespace

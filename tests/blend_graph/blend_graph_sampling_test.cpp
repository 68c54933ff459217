// Blend graph sampling: crossfades at their ends and between, with masks (the exported ones
// included), weighted blends against a direct accumulation, callbacks, sparse bone arrays,
// instance leaves, the refusals of broken trees, root motion, clocks, completed controls and
// the pose cache's reuse and silence once primed.
#include <atomic>

#include <vector>

#include <gtest/gtest.h>

#include "blend_graph/blend_graph_test_support.h"
#include "blend_graph/orvane_blend_graph.h"
#include "instance/instance_test_support.h"
#include "support/log_capture.h"
#include "orvane/controlled_animation.h"

namespace {

using orvane_blend_graph_test::Blend;
using orvane_blend_graph_test::ExpectNear;
using orvane_blend_graph_test::Varied;
using orvane_blend_graph_test::VariedPose;
using orvane_instance_test::Character;
using orvane_instance_test::PosePtr;
using Node = orvane_blend_dag_node;

constexpr int kBones = 6;

const orvane_transform& At(const orvane_local_pose* p, int i) {
    return *OrvaneGetLocalPoseTransform(p, i);
}

struct Graph {
    Node* root = nullptr;
    ~Graph() {
        OrvaneFreeBlendDagEntireTree(root);
        OrvaneFreeBlendDagLocalPoseCache();
    }
};

Node* Leaf(int seed, int bones = kBones) {
    return OrvaneCreateBlendDagNodeLocalPose(VariedPose(bones, seed), true);
}

TEST(BlendGraphSampling, CrossfadeWithoutMaskAtItsEndsGivesAChildAndBetweenBlends) {
    Graph g;
    Node* a = Leaf(0);
    Node* b = Leaf(1);
    g.root = OrvaneCreateBlendDagNodeCrossfade(a, b, 0.0f, 0.0f, nullptr, false, 0);
    std::vector<orvane_transform> before;
    for (int i = 0; i < kBones; ++i)
        before.push_back(At(OrvaneGetBlendDagNodeLocalPose(a), i));
    EXPECT_EQ(OrvaneSampleBlendDagTree(g.root, kBones), OrvaneGetBlendDagNodeLocalPose(a));
    OrvaneSetBlendDagNodeCrossfadeWeights(g.root, 0.0f, 1.0f);
    EXPECT_EQ(OrvaneSampleBlendDagTree(g.root, kBones), OrvaneGetBlendDagNodeLocalPose(b));
    // Without a mask WeightNone is not read.
    OrvaneSetBlendDagNodeCrossfadeWeights(g.root, 0.9f, 0.3f);
    const orvane_local_pose* r = OrvaneSampleBlendDagTree(g.root, kBones);
    ASSERT_NE(r, nullptr);
    EXPECT_NE(r, OrvaneGetBlendDagNodeLocalPose(a));
    for (int i = 0; i < kBones; ++i)
        ExpectNear(At(r, i), Blend(Varied(i, 0), Varied(i, 1), 0.3), 1e-5f);
    // The children's poses are not touched.
    for (int i = 0; i < kBones; ++i)
        ExpectNear(At(OrvaneGetBlendDagNodeLocalPose(a), i), before[size_t(i)], 0.0f);
}

TEST(BlendGraphSampling, CrossfadeWithAMaskBlendsEachBoneByItsWeight) {
    Graph g;
    orvane_track_mask* mask = OrvaneNewTrackMask(0.0f, kBones);
    for (int i = 0; i < kBones; ++i)
        OrvaneSetTrackMaskBoneWeight(mask, i, float(i) / float(kBones - 1));
    g.root = OrvaneCreateBlendDagNodeCrossfade(Leaf(0), Leaf(1), 0.2f, 0.8f, mask, true, 0);
    const orvane_local_pose* r = OrvaneSampleBlendDagTree(g.root, kBones);
    ASSERT_NE(r, nullptr);
    for (int i = 0; i < kBones; ++i) {
        const double t = 0.2 + 0.6 * double(i) / double(kBones - 1);
        ExpectNear(At(r, i), Blend(Varied(i, 0), Varied(i, 1), t), 1e-5f);
    }
    // With a mask, the ends need both weights there.
    Node* b = OrvaneGetBlendDagNodeChild(g.root, 1);
    OrvaneSetBlendDagNodeCrossfadeWeights(g.root, 1.0f, 1.0f);
    EXPECT_EQ(OrvaneSampleBlendDagTree(g.root, kBones), OrvaneGetBlendDagNodeLocalPose(b));
    OrvaneSetBlendDagNodeCrossfadeWeights(g.root, 0.0f, 1.0f);
    r = OrvaneSampleBlendDagTree(g.root, kBones);
    ExpectNear(At(r, 0), Varied(0, 0), 1e-6f);
    ExpectNear(At(r, kBones - 1), Varied(kBones - 1, 1), 1e-6f);
}

TEST(BlendGraphSampling, TheExportedMasksWorkInCrossfadesAndWeightedBlends) {
    Character c;
    Graph g;
    g.root = OrvaneCreateBlendDagNodeCrossfade(Leaf(0), Leaf(1), 0.25f, 0.75f,
                                               OrvaneIdentityTrackMask, false, 0);
    const orvane_local_pose* r = OrvaneSampleBlendDagTree(g.root, kBones);
    ASSERT_NE(r, nullptr);
    for (int i = 0; i < kBones; ++i)
        ExpectNear(At(r, i), Blend(Varied(i, 0), Varied(i, 1), 0.75), 1e-5f);
    OrvaneSetBlendDagNodeCrossfade(g.root, 0.25f, 0.75f, OrvaneNullTrackMask, false);
    r = OrvaneSampleBlendDagTree(g.root, kBones);
    for (int i = 0; i < kBones; ++i)
        ExpectNear(At(r, i), Blend(Varied(i, 0), Varied(i, 1), 0.25), 1e-5f);
    // As result masks: the null mask takes its child out of a weighted blend.
    Node* w = OrvaneCreateBlendDagNodeWeightedBlend(c.skeleton, 0.0f, 0, 0);
    Node* keep = Leaf(2);
    Node* drop = Leaf(3);
    OrvaneSetBlendDagNodeResultTrackMask(keep, OrvaneIdentityTrackMask, false);
    OrvaneSetBlendDagNodeResultTrackMask(drop, OrvaneNullTrackMask, false);
    OrvaneAddBlendDagNodeChild(w, keep);
    OrvaneAddBlendDagNodeChild(w, drop);
    r = OrvaneSampleBlendDagTree(w, kBones);
    ASSERT_NE(r, nullptr);
    for (int i = 0; i < kBones; ++i)
        ExpectNear(At(r, i), Varied(i, 2), 1e-6f);
    OrvaneFreeBlendDagEntireTree(w);
}

TEST(BlendGraphSampling, CrossfadeModifiesWhicheverChildPoseIsScratch) {
    Character c;
    Graph g;
    // Child 0 scratch (a blend of one pose with itself), child 1 a fixed pose, and the other
    // way round: both give the same blend, and the fixed poses stay as they were.
    auto inner = [&](int seed) {
        Node* w = OrvaneCreateBlendDagNodeWeightedBlend(c.skeleton, 0.0f, 0, 0);
        OrvaneAddBlendDagNodeChild(w, Leaf(seed));
        OrvaneAddBlendDagNodeChild(w, Leaf(seed));
        return w;
    };
    for (int order = 0; order < 2; ++order) {
        Node* first = order == 0 ? inner(0) : Leaf(0);
        Node* second = order == 0 ? Leaf(1) : inner(1);
        OrvaneFreeBlendDagEntireTree(g.root);
        g.root = OrvaneCreateBlendDagNodeCrossfade(first, second, 0.0f, 0.4f, nullptr, false, 0);
        // The fixed pose as it is before sampling (a copy, not a recomputation: a compiler may
        // fuse the recomputation's multiply-adds differently on hosts that have them).
        Node* fixed = order == 0 ? second : first;
        std::vector<orvane_transform> before;
        for (int i = 0; i < kBones; ++i)
            before.push_back(At(OrvaneGetBlendDagNodeLocalPose(fixed), i));
        const orvane_local_pose* r = OrvaneSampleBlendDagTree(g.root, kBones);
        ASSERT_NE(r, nullptr);
        for (int i = 0; i < kBones; ++i)
            ExpectNear(At(r, i), Blend(Varied(i, 0), Varied(i, 1), 0.4), 2e-5f);
        for (int i = 0; i < kBones; ++i) {
            ExpectNear(before[size_t(i)], Varied(i, 1 - order), 1e-7f);
            ExpectNear(At(OrvaneGetBlendDagNodeLocalPose(fixed), i), before[size_t(i)], 0.0f);
        }
    }
}

TEST(BlendGraphSampling, WeightedBlendOfThreeMatchesADirectAccumulation) {
    Character c;
    for (int mode = 0; mode < 3; ++mode) {
        Graph g;
        g.root = OrvaneCreateBlendDagNodeWeightedBlend(c.skeleton, 0.2f, mode, 0);
        const float weights[3] = {0.5f, 0.3f, 0.2f};
        orvane_track_mask* mask = OrvaneNewTrackMask(1.0f, kBones);
        OrvaneSetTrackMaskBoneWeight(mask, 1, 0.0f);
        OrvaneSetTrackMaskBoneWeight(mask, 4, 0.5f);
        std::vector<orvane_local_pose*> poses;
        for (int k = 0; k < 3; ++k) {
            Node* leaf = Leaf(k + 4);
            OrvaneSetBlendDagNodeResultWeight(leaf, weights[k]);
            if (k == 2) OrvaneSetBlendDagNodeResultTrackMask(leaf, mask, true);
            OrvaneAddBlendDagNodeChild(g.root, leaf);
            poses.push_back(OrvaneGetBlendDagNodeLocalPose(leaf));
        }
        // A child below the weight threshold is skipped altogether, even when it would fail.
        Node* ignored =
            OrvaneCreateBlendDagNodeCrossfade(nullptr, nullptr, 0, 1, nullptr, false, 0);
        OrvaneSetBlendDagNodeResultWeight(ignored, 0.0005f);
        OrvaneAddBlendDagNodeChild(g.root, ignored);
        PosePtr direct(OrvaneNewLocalPose(kBones));
        OrvaneSetLocalPoseFillThreshold(direct.get(), 0.2f);
        OrvaneBeginLocalPoseAccumulation(direct.get(), 0, kBones, nullptr);
        for (int k = 0; k < 3; ++k)
            for (int i = 0; i < kBones; ++i)
                OrvaneAccumulateLocalTransform(
                    direct.get(), i, i,
                    weights[k] * (k == 2 ? OrvaneGetTrackMaskBoneWeight(mask, i) : 1.0f),
                    c.skeleton, mode, &At(poses[size_t(k)], i));
        OrvaneEndLocalPoseAccumulation(direct.get(), 0, kBones, c.skeleton, nullptr);
        const orvane_local_pose* r = OrvaneSampleBlendDagTree(g.root, kBones);
        ASSERT_NE(r, nullptr) << mode;
        for (int i = 0; i < kBones; ++i)
            ExpectNear(At(r, i), At(direct.get(), i), 1e-6f);
    }
}

TEST(BlendGraphSampling, WeightedBlendOfOneIsItsChildAndAZeroWeightAddsNothing) {
    Character c;
    Graph g;
    Node* a = Leaf(0);
    g.root = OrvaneCreateBlendDagNodeWeightedBlend(c.skeleton, 0.2f, 0, 0);
    OrvaneAddBlendDagNodeChild(g.root, a);
    EXPECT_EQ(OrvaneSampleBlendDagTree(g.root, kBones), OrvaneGetBlendDagNodeLocalPose(a));
    Node* b = Leaf(1);
    OrvaneSetBlendDagNodeResultWeight(b, 0.0f);
    OrvaneAddBlendDagNodeChild(g.root, b);
    const orvane_local_pose* r = OrvaneSampleBlendDagTree(g.root, kBones);
    for (int i = 0; i < kBones; ++i)
        ExpectNear(At(r, i), Varied(i, 0), 1e-6f);
    // Without children: the rest pose.
    OrvaneClearBlendDagNodeChildren(g.root);
    OrvaneFreeBlendDagNode(a);
    OrvaneFreeBlendDagNode(b);
    r = OrvaneSampleBlendDagTree(g.root, kBones);
    for (int i = 0; i < kBones; ++i)
        ExpectNear(At(r, i), c.skeleton->Bones[i].Transform, 1e-6f);
}

struct CallbackState {
    orvane_local_pose* pose = nullptr;
    int32_t boneCount = -1;
    float allowedError = -1.0f;
    const int32_t* sparse = nullptr;
    float clock = -1.0f;
    int samples = 0;
};

orvane_local_pose* SampleCallback(void* user, int32_t bones, float error, const int32_t* sparse) {
    auto* s = static_cast<CallbackState*>(user);
    s->boneCount = bones;
    s->allowedError = error;
    s->sparse = sparse;
    ++s->samples;
    return s->pose;
}

void ClockCallback(void* user, float clock) {
    static_cast<CallbackState*>(user)->clock = clock;
}

void MotionCallback(void* user, float seconds, float t[3], float r[3], bool inverse) {
    const float v = static_cast<CallbackState*>(user)->allowedError + seconds;
    for (int k = 0; k < 3; ++k) {
        t[k] = (inverse ? -1.0f : 1.0f) * v * float(k + 1);
        r[k] = 0.1f * float(k);
    }
}

TEST(BlendGraphSampling, CallbacksReceiveTheSamplingArgumentsAndTheirPoseIsUsedAsIs) {
    Graph g;
    CallbackState s;
    PosePtr pose(VariedPose(kBones + 2, 5));
    s.pose = pose.get();
    Node* cb =
        OrvaneCreateBlendDagNodeCallback(&SampleCallback, &ClockCallback, &MotionCallback, &s);
    EXPECT_EQ(OrvaneGetBlendDagNodeCallbackSampleCallback(cb), &SampleCallback);
    EXPECT_EQ(OrvaneGetBlendDagNodeCallbackSetClockCallback(cb), &ClockCallback);
    EXPECT_EQ(OrvaneGetBlendDagNodeCallbackMotionVectorsCallback(cb), &MotionCallback);
    EXPECT_EQ(OrvaneGetBlendDagNodeCallbackUserData(cb), &s);
    g.root = OrvaneCreateBlendDagNodeCrossfade(Leaf(0), cb, 0.0f, 0.5f, nullptr, false, 0);
    const int32_t sparse[kBones] = {5, 4, 3, 2, 1, 0};
    const orvane_local_pose* r = OrvaneSampleBlendDagTreeLODSparse(g.root, kBones, 0.125f, sparse);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(s.boneCount, kBones);
    EXPECT_FLOAT_EQ(s.allowedError, 0.125f);
    EXPECT_EQ(s.sparse, sparse);
    EXPECT_EQ(OrvaneGetLocalPoseBoneCount(r), kBones);
    // The callback's larger pose is read for the first entries; the leaf pose by sparse index.
    for (int i = 0; i < kBones; ++i)
        ExpectNear(At(r, i), Blend(Varied(sparse[i], 0), Varied(i, 5), 0.5), 1e-5f);
    // A callback that gives nothing fails the sampling.
    s.pose = nullptr;
    EXPECT_EQ(OrvaneSampleBlendDagTree(g.root, kBones), nullptr);
    OrvaneSetBlendDagTreeClock(g.root, 3.5f);
    EXPECT_FLOAT_EQ(s.clock, 3.5f);
}

TEST(BlendGraphSampling, SparseArraysSelectBonesOfPosesMasksAndTheReferenceSkeleton) {
    Character c;
    Graph g;
    const int32_t sparse[3] = {4, 2, 0};
    orvane_track_mask* mask = OrvaneNewTrackMask(1.0f, kBones);
    OrvaneSetTrackMaskBoneWeight(mask, 2, 0.0f);
    g.root = OrvaneCreateBlendDagNodeWeightedBlend(c.skeleton, 0.0f, 0, 0);
    Node* a = Leaf(0);
    Node* b = Leaf(1);
    OrvaneSetBlendDagNodeResultTrackMask(b, mask, true);
    OrvaneAddBlendDagNodeChild(g.root, a);
    OrvaneAddBlendDagNodeChild(g.root, b);
    const orvane_local_pose* r = OrvaneSampleBlendDagTreeLODSparse(g.root, 3, 0.0f, sparse);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(OrvaneGetLocalPoseBoneCount(r), 3);
    // Entry 1 is skeleton bone 2, which the mask takes out of child b.
    ExpectNear(At(r, 0), Blend(Varied(4, 0), Varied(4, 1), 0.5), 1e-5f);
    ExpectNear(At(r, 1), Varied(2, 0), 1e-6f);
    ExpectNear(At(r, 2), Blend(Varied(0, 0), Varied(0, 1), 0.5), 1e-5f);
    // A sparse entry outside a pose or skeleton fails instead of reading past it.
    const int32_t bad[3] = {kBones, 2, 0};
    orvane_test::LogCapture log;
    EXPECT_EQ(OrvaneSampleBlendDagTreeLODSparse(g.root, 3, 0.0f, bad), nullptr);
    EXPECT_GE(log.errors(), 1u);
}

orvane_control* PlayWithRootMotion(const Character& c, float start,
                                   orvane_model_instance* instance) {
    orvane_controlled_animation_builder* b = OrvaneBeginControlledAnimation(start, &c.animation);
    OrvaneSetTrackGroupTarget(b, 0, instance);
    OrvaneSetTrackGroupAccumulation(b, 0, OrvaneAccumulationVariableDelta);
    return OrvaneEndControlledAnimation(b);
}

TEST(BlendGraphSampling, InstanceLeavesSampleTheirControls) {
    Character c;
    Graph g;
    orvane_model_instance* walk = OrvaneInstantiateModel(&c.model);
    orvane_model_instance* late = OrvaneInstantiateModel(&c.model);
    orvane_control* c0 = PlayWithRootMotion(c, 0.0f, walk);
    orvane_control* c1 = PlayWithRootMotion(c, -0.7f, late);
    OrvaneSetControlLoopCount(c0, 0);
    OrvaneSetControlLoopCount(c1, 0);
    Node* a = OrvaneCreateBlendDagNodeAnimationBlend(walk, true);
    Node* b = OrvaneCreateBlendDagNodeAnimationBlend(late, true);
    g.root = OrvaneCreateBlendDagNodeCrossfade(a, b, 0.0f, 0.35f, nullptr, false, 0);
    OrvaneSetBlendDagTreeClock(g.root, 0.6f);
    EXPECT_FLOAT_EQ(OrvaneGetControlClock(c0), 0.6f);
    EXPECT_FLOAT_EQ(OrvaneGetControlClock(c1), 0.6f);
    PosePtr pa(OrvaneNewLocalPose(kBones)), pb(OrvaneNewLocalPose(kBones));
    OrvaneSampleModelAnimations(walk, 0, kBones, pa.get());
    OrvaneSampleModelAnimations(late, 0, kBones, pb.get());
    const orvane_local_pose* r = OrvaneSampleBlendDagTree(g.root, kBones);
    ASSERT_NE(r, nullptr);
    for (int i = 0; i < kBones; ++i)
        ExpectNear(At(r, i), Blend(At(pa.get(), i), At(pb.get(), i), 0.35), 1e-5f);
    // Root motion: the leaves' vectors blended by the crossfade weight.
    float ta[3], ra[3], tb[3], rb[3], t[3], rot[3];
    OrvaneGetRootMotionVectors(walk, 0.1f, ta, ra, false);
    OrvaneGetRootMotionVectors(late, 0.1f, tb, rb, false);
    OrvaneGetBlendDagTreeMotionVectors(g.root, 0.1f, t, rot, false);
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(t[k], 0.65f * ta[k] + 0.35f * tb[k], 1e-6f);
        EXPECT_NEAR(rot[k], 0.65f * ra[k] + 0.35f * rb[k], 1e-6f);
    }
    EXPECT_GT(std::fabs(ta[0]), 1e-3f);
    // Completed controls go through the tree.
    OrvaneCompleteControlAt(c1, 0.8f);
    OrvaneSetBlendDagTreeClock(g.root, 1.0f);
    OrvaneBlendDagFreeCompletedControlsEntireTree(g.root);
    EXPECT_EQ(OrvaneModelControlsBegin(late), OrvaneModelControlsEnd(late));
    EXPECT_NE(OrvaneModelControlsBegin(walk), OrvaneModelControlsEnd(walk));
    OrvaneFreeBlendDagEntireTree(g.root);
    g.root = nullptr;
    OrvaneFreeControl(c0);
}

TEST(BlendGraphSampling, RootMotionOfWeightedBlendsIsNormalisedAndChecksItsArguments) {
    Character c;
    Graph g;
    CallbackState s1, s2;
    s1.allowedError = 1.0f;
    s2.allowedError = 3.0f;
    g.root = OrvaneCreateBlendDagNodeWeightedBlend(c.skeleton, 0.2f, 0, 0);
    Node* a = OrvaneCreateBlendDagNodeCallback(&SampleCallback, nullptr, &MotionCallback, &s1);
    Node* b = OrvaneCreateBlendDagNodeCallback(&SampleCallback, nullptr, &MotionCallback, &s2);
    OrvaneSetBlendDagNodeResultWeight(a, 3.0f);
    OrvaneSetBlendDagNodeResultWeight(b, 1.0f);
    OrvaneAddBlendDagNodeChild(g.root, a);
    OrvaneAddBlendDagNodeChild(g.root, b);
    OrvaneAddBlendDagNodeChild(g.root, Leaf(0));  // zero motion, weight 1
    float t[3], r[3];
    OrvaneGetBlendDagTreeMotionVectors(g.root, 0.0f, t, r, false);
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(t[k], (3.0f * 1.0f + 1.0f * 3.0f) * float(k + 1) / 5.0f, 1e-5f);
    OrvaneGetBlendDagTreeMotionVectors(g.root, 0.0f, t, r, true);
    EXPECT_NEAR(t[0], -6.0f / 5.0f, 1e-5f);
    float model[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}, dest[16];
    orvane_test::LogCapture log;
    OrvaneGetBlendDagTreeMotionVectors(g.root, 0.0f, t, nullptr, false);
    EXPECT_TRUE(log.Contains("ResultRotation is not allowed to be 0"));
    OrvaneGetBlendDagTreeMotionVectors(g.root, 0.0f, nullptr, r, false);
    EXPECT_TRUE(log.Contains("ResultTranslation is not allowed to be 0"));
    OrvaneUpdateBlendDagTreeMatrix(g.root, 0.0f, nullptr, dest, false);
    EXPECT_TRUE(log.Contains("ModelMatrix4x4 is not allowed to be 0"));
    OrvaneUpdateBlendDagTreeMatrix(g.root, 0.0f, model, nullptr, false);
    EXPECT_TRUE(log.Contains("DestMatrix4x4 is not allowed to be 0"));
    OrvaneFreeBlendDagNode(a);
    OrvaneFreeBlendDagNode(b);
    // Pose leaves move nothing: the matrix is kept.
    OrvaneAddBlendDagNodeChild(g.root, Leaf(1));
    OrvaneUpdateBlendDagTreeMatrix(g.root, 0.5f, model, dest, false);
    for (int k = 0; k < 16; ++k)
        EXPECT_FLOAT_EQ(dest[k], model[k]);
}

TEST(BlendGraphSampling, BrokenTreesFailWithAnErrorInsteadOfReadingPastTheirPoses) {
    Character c;
    Graph g;
    orvane_test::LogCapture log;
    // A crossfade without children.
    g.root = OrvaneCreateBlendDagNodeCrossfade(nullptr, nullptr, 0.0f, 0.5f, nullptr, false, 0);
    EXPECT_EQ(OrvaneSampleBlendDagTree(g.root, kBones), nullptr);
    EXPECT_GE(log.errors(), 1u);
    // A child pose with fewer bones than sampled, in a crossfade and in a weighted blend.
    OrvaneAddBlendDagNodeChild(g.root, Leaf(0, 2));
    OrvaneAddBlendDagNodeChild(g.root, Leaf(1));
    log.Clear();
    EXPECT_EQ(OrvaneSampleBlendDagTree(g.root, kBones), nullptr);
    EXPECT_TRUE(log.Contains("A child pose has 2 bones, fewer than 6"));
    Node* w = OrvaneCreateBlendDagNodeWeightedBlend(c.skeleton, 0.2f, 0, 0);
    OrvaneAddBlendDagNodeChild(w, Leaf(1));
    OrvaneAddBlendDagNodeChild(w, Leaf(2, 3));
    EXPECT_EQ(OrvaneSampleBlendDagTree(w, kBones), nullptr);
    // More bones than the blend's skeleton.
    EXPECT_EQ(OrvaneSampleBlendDagTree(w, kBones + 1), nullptr);
    // A blend whose skeleton was taken away (by hand: the setter refuses null).
    w->WeightedBlend.ReferenceSkeleton = nullptr;
    log.Clear();
    EXPECT_EQ(OrvaneSampleBlendDagTree(w, 2), nullptr);
    EXPECT_TRUE(log.Contains("WeightedBlend node has a NULL skeleton"));
    // An instance leaf asked for more bones than its model has.
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    Node* leaf = OrvaneCreateBlendDagNodeAnimationBlend(instance, true);
    EXPECT_EQ(OrvaneSampleBlendDagTree(leaf, kBones + 1), nullptr);
    EXPECT_NE(OrvaneSampleBlendDagTree(leaf, kBones), nullptr);
    OrvaneFreeBlendDagEntireTree(w);
    OrvaneFreeBlendDagNode(leaf);
    EXPECT_EQ(OrvaneSampleBlendDagTree(nullptr, kBones), nullptr);
}

std::atomic<int> gAllocations{0};
orvane_allocate_callback gPreviousAllocate = nullptr;
orvane_deallocate_callback gPreviousDeallocate = nullptr;

void* CountingAllocate(const char* file, int32_t line, uint32_t alignment, int32_t size) {
    gAllocations.fetch_add(1);
    return gPreviousAllocate(file, line, alignment, size);
}

TEST(BlendGraphSampling, SamplingReusesTheCacheAndAllocatesNothingOncePrimed) {
    Character c;
    Graph g;
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_control* control = OrvanePlayControlledAnimation(0.0f, &c.animation, instance);
    orvane_track_mask* mask = OrvaneNewTrackMask(0.5f, kBones);
    Node* x = OrvaneCreateBlendDagNodeCrossfade(
        OrvaneCreateBlendDagNodeAnimationBlend(instance, true), Leaf(1), 0.2f, 0.6f, mask, true, 0);
    g.root = OrvaneCreateBlendDagNodeWeightedBlend(c.skeleton, 0.2f, 2, 0);
    OrvaneAddBlendDagNodeChild(g.root, x);
    OrvaneAddBlendDagNodeChild(g.root, Leaf(2));
    // Twenty scratch poses in one frame: more than the default sixteen, so the cache grows once.
    for (int i = 0; i < 20; ++i) {
        Node* inner = OrvaneCreateBlendDagNodeWeightedBlend(c.skeleton, 0.2f, 0, 0);
        OrvaneAddBlendDagNodeChild(inner, Leaf(i));
        OrvaneAddBlendDagNodeChild(inner, Leaf(i + 1));
        OrvaneAddBlendDagNodeChild(g.root, inner);
    }
    OrvanePrimeBlendDagLocalPoseCache(kBones, 4);
    // The first frame grows the cache; from the second on a frame's poses fit in one block.
    ASSERT_NE(OrvaneSampleBlendDagTree(g.root, kBones), nullptr);
    const orvane_local_pose* first = OrvaneSampleBlendDagTree(g.root, kBones);
    ASSERT_NE(first, nullptr);
    OrvaneGetAllocator(&gPreviousAllocate, &gPreviousDeallocate);
    OrvaneSetAllocator(&CountingAllocate, gPreviousDeallocate);
    gAllocations = 0;
    const orvane_local_pose* later = nullptr;
    for (int frame = 0; frame < 10; ++frame) {
        OrvaneSetBlendDagTreeClock(g.root, 0.5f + 0.01f * float(frame));
        later = OrvaneSampleBlendDagTree(g.root, kBones);
    }
    const int counted = gAllocations.load();
    OrvaneSetAllocator(gPreviousAllocate, gPreviousDeallocate);
    EXPECT_EQ(counted, 0);
    // The same memory serves every frame.
    EXPECT_EQ(later, first);
    OrvaneFreeControl(control);
}

TEST(BlendGraphSampling, AnApplicationCacheKeepsItsResultApartFromTheThreadCache) {
    Character c;
    Graph g;
    g.root = OrvaneCreateBlendDagNodeCrossfade(Leaf(0), Leaf(1), 0.0f, 0.5f, nullptr, false, 0);
    orvane_blend_dag_pose_cache* cache = OrvaneNewBlendDagPoseCache();
    ASSERT_TRUE(OrvanePrimeBlendDagPoseCache(cache, kBones, 2));
    const orvane_local_pose* mine =
        OrvaneSampleBlendDagTreeLODSparseWithCache(cache, g.root, kBones, 0.0f, nullptr);
    OrvaneSetBlendDagNodeCrossfadeWeights(g.root, 0.0f, 0.25f);
    const orvane_local_pose* thread = OrvaneSampleBlendDagTree(g.root, kBones);
    ASSERT_TRUE(mine && thread);
    EXPECT_NE(mine, thread);
    ExpectNear(At(mine, 2), Blend(Varied(2, 0), Varied(2, 1), 0.5), 1e-5f);
    ExpectNear(At(thread, 2), Blend(Varied(2, 0), Varied(2, 1), 0.25), 1e-5f);
    EXPECT_FALSE(OrvanePrimeBlendDagPoseCache(cache, -1, 2));
    OrvaneFreeBlendDagPoseCache(cache);
}

}  // namespace

namespace {

TEST(BlendGraphSampling, ASecondSamplingOverwritesTheFirstResult) {
    Graph g;
    g.root = OrvaneCreateBlendDagNodeCrossfade(Leaf(0), Leaf(1), 0.0f, 0.5f, nullptr, false, 0);
    OrvaneSampleBlendDagTree(g.root, kBones);
    const orvane_local_pose* first = OrvaneSampleBlendDagTree(g.root, kBones);
    const orvane_transform kept = At(first, 3);
    OrvaneSetBlendDagNodeCrossfadeWeights(g.root, 0.0f, 0.25f);
    const orvane_local_pose* second = OrvaneSampleBlendDagTree(g.root, kBones);
    EXPECT_EQ(second, first);
    EXPECT_NE(At(first, 3).Position[0], kept.Position[0]);
}

TEST(BlendGraphSampling, CrossfadeRootMotionUsesTheMaskWeightOfTheRoot) {
    Graph g;
    CallbackState s1, s2;
    s1.allowedError = 1.0f;  // translation (1, 2, 3) over no time
    s2.allowedError = 3.0f;  // translation (3, 6, 9)
    Node* a = OrvaneCreateBlendDagNodeCallback(&SampleCallback, nullptr, &MotionCallback, &s1);
    Node* b = OrvaneCreateBlendDagNodeCallback(&SampleCallback, nullptr, &MotionCallback, &s2);
    orvane_track_mask* mask = OrvaneNewTrackMask(1.0f, kBones);
    OrvaneSetTrackMaskBoneWeight(mask, 0, 0.5f);
    // g = (1 - 0.5) * 0.2 + 0.5 * 0.6 = 0.4
    g.root = OrvaneCreateBlendDagNodeCrossfade(a, b, 0.2f, 0.6f, mask, true, 0);
    float t[3], r[3];
    OrvaneGetBlendDagTreeMotionVectors(g.root, 0.0f, t, r, false);
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(t[k], (0.6f * 1.0f + 0.4f * 3.0f) * float(k + 1), 1e-5f);
    // Without a mask WeightAll alone decides; at its ends only one child moves.
    OrvaneSetBlendDagNodeCrossfade(g.root, 0.9f, 1.0f, nullptr, false);
    OrvaneGetBlendDagTreeMotionVectors(g.root, 0.0f, t, r, false);
    EXPECT_NEAR(t[0], 3.0f, 1e-6f);
    OrvaneSetBlendDagNodeCrossfadeWeights(g.root, 0.9f, 0.0005f);
    OrvaneGetBlendDagTreeMotionVectors(g.root, 0.0f, t, r, false);
    EXPECT_NEAR(t[0], 1.0f, 1e-6f);
    float model[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}, dest[16];
    OrvaneUpdateBlendDagTreeMatrix(g.root, 0.0f, model, dest, false);
    EXPECT_NEAR(dest[12], 1.0f, 1e-5f);
    EXPECT_NEAR(dest[13], 2.0f, 1e-5f);
    EXPECT_NEAR(dest[14], 3.0f, 1e-5f);
}

}  // namespace

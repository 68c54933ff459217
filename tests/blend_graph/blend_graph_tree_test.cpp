// Blend graph structure: creation, type checks, children management with every refusal,
// ownership, freeing whole trees, validation reasons, depth and duplication.
#include <gtest/gtest.h>

#include "blend_graph/blend_graph_test_support.h"
#include "blend_graph/orvane_blend_graph.h"
#include "instance/instance_test_support.h"
#include "support/log_capture.h"

namespace {

using orvane_blend_graph_test::VariedPose;
using orvane_instance_test::Character;
using Node = orvane_blend_dag_node;

Node* PoseLeaf(int bones = 4, int seed = 0) {
    return OrvaneCreateBlendDagNodeLocalPose(VariedPose(bones, seed), true);
}

Node* Blend(const Character& c) {
    return OrvaneCreateBlendDagNodeWeightedBlend(c.skeleton, 0.2f, OrvaneQuaternionBlendDirect, 0);
}

std::vector<Node*> Children(const Node* n) {
    std::vector<Node*> out(size_t(OrvaneGetBlendDagNodeChildrenCount(n)));
    OrvaneGetBlendDagNodeChildren(n, int32_t(out.size()), out.data());
    return out;
}

TEST(BlendGraphTree, CreatedNodesStartWithWeightOneAndNoParent) {
    Character c;
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    Node* a = OrvaneCreateBlendDagNodeAnimationBlend(instance, true);
    Node* p = PoseLeaf();
    Node* w = Blend(c);
    ASSERT_TRUE(a && p && w);
    EXPECT_EQ(OrvaneGetBlendDagNodeType(a), OrvaneDagNodeType_Leaf_AnimationBlend);
    EXPECT_EQ(OrvaneGetBlendDagNodeType(p), OrvaneDagNodeType_Leaf_LocalPose);
    EXPECT_EQ(OrvaneGetBlendDagNodeType(w), OrvaneDagNodeType_Node_WeightedBlend);
    EXPECT_FLOAT_EQ(OrvaneGetBlendDagNodeResultWeight(a), 1.0f);
    EXPECT_EQ(OrvaneGetBlendDagNodeParent(a), nullptr);
    EXPECT_EQ(OrvaneGetBlendDagNodeResultTrackMask(a), nullptr);
    EXPECT_EQ(OrvaneGetBlendDagNodeAnimationBlend(a), instance);
    EXPECT_EQ(OrvaneGetBlendDagNodeWeightedBlendSkeleton(w), c.skeleton);
    EXPECT_TRUE(OrvaneIsBlendDagLeafType(a));
    EXPECT_TRUE(OrvaneIsBlendDagLeafType(p));
    EXPECT_FALSE(OrvaneIsBlendDagLeafType(w));
    EXPECT_FALSE(OrvaneIsBlendDagLeafType(nullptr));
    Node* x = OrvaneCreateBlendDagNodeCrossfade(a, p, 0.25f, 0.75f, nullptr, false, 0);
    EXPECT_EQ(Children(x), (std::vector<Node*>{a, p}));
    EXPECT_EQ(OrvaneGetBlendDagNodeParent(p), x);
    EXPECT_EQ(OrvaneGetBlendDagNodeCrossfadeTrackMask(x), nullptr);
    // Only one given: only that one attached; none given: none.
    Node* one = OrvaneCreateBlendDagNodeCrossfade(nullptr, w, 0, 1, nullptr, false, 0);
    EXPECT_EQ(Children(one), (std::vector<Node*>{w}));
    Node* none = OrvaneCreateBlendDagNodeCrossfade(nullptr, nullptr, 0, 1, nullptr, false, 0);
    EXPECT_EQ(OrvaneGetBlendDagNodeChildrenCount(none), 0);
    OrvaneFreeBlendDagEntireTree(x);
    OrvaneFreeBlendDagEntireTree(one);
    OrvaneFreeBlendDagNode(none);
}

TEST(BlendGraphTree, CreationRefusesMissingArguments) {
    orvane_test::LogCapture log;
    EXPECT_EQ(OrvaneCreateBlendDagNodeAnimationBlend(nullptr, false), nullptr);
    EXPECT_TRUE(log.Contains("ModelInstance != NULL was not true"));
    EXPECT_EQ(OrvaneCreateBlendDagNodeLocalPose(nullptr, false), nullptr);
    EXPECT_TRUE(log.Contains("LocalPose != NULL was not true"));
    EXPECT_EQ(OrvaneCreateBlendDagNodeCallback(nullptr, nullptr, nullptr, nullptr), nullptr);
    EXPECT_TRUE(log.Contains("SampleCallback != NULL was not true"));
    EXPECT_EQ(OrvaneCreateBlendDagNodeWeightedBlend(nullptr, 0.2f, 0, 0), nullptr);
    EXPECT_TRUE(log.Contains("ReferenceSkeleton != NULL was not true"));
    Character c;
    EXPECT_EQ(OrvaneCreateBlendDagNodeWeightedBlendChildren(c.skeleton, 0.2f, 0, 0, 2, nullptr),
              nullptr);
    EXPECT_TRUE(log.Contains("ArrayOfChildren is not allowed to be 0"));
}

TEST(BlendGraphTree, SettersRefuseANullArgumentAndKeepWhatTheNodeHad) {
    Character c;
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    Node* a = OrvaneCreateBlendDagNodeAnimationBlend(instance, true);
    orvane_local_pose* pose = VariedPose(4, 1);
    Node* p = OrvaneCreateBlendDagNodeLocalPose(pose, true);
    auto sample = [](void*, orvane_int32, orvane_real32,
                     const orvane_int32*) -> orvane_local_pose* { return nullptr; };
    int userData = 0;
    Node* cb = OrvaneCreateBlendDagNodeCallback(sample, nullptr, nullptr, &userData);
    Node* w = Blend(c);
    ASSERT_TRUE(a && p && cb && w);
    orvane_test::LogCapture log;
    OrvaneSetBlendDagNodeAnimationBlend(a, nullptr, 0.5f, false);
    EXPECT_TRUE(log.Contains("ModelInstance != NULL was not true"));
    EXPECT_EQ(OrvaneGetBlendDagNodeAnimationBlend(a), instance);
    // The pose the node owns is neither freed nor replaced.
    OrvaneSetBlendDagNodeLocalPose(p, nullptr, false);
    EXPECT_TRUE(log.Contains("LocalPose != NULL was not true"));
    EXPECT_EQ(OrvaneGetBlendDagNodeLocalPose(p), pose);
    EXPECT_NE(OrvaneGetLocalPoseTransform(pose, 3), nullptr);
    OrvaneSetBlendDagNodeCallbacks(cb, nullptr, nullptr, nullptr, nullptr);
    EXPECT_TRUE(log.Contains("SampleCallback != NULL was not true"));
    EXPECT_EQ(OrvaneGetBlendDagNodeCallbackUserData(cb), &userData);
    OrvaneSetBlendDagNodeWeightedBlend(w, nullptr, 0.1f, 0);
    EXPECT_TRUE(log.Contains("ReferenceSkeleton != NULL was not true"));
    EXPECT_EQ(OrvaneGetBlendDagNodeWeightedBlendSkeleton(w), c.skeleton);
    EXPECT_EQ(log.messages().size(), 4u);
    for (Node* n : {a, p, cb, w})
        OrvaneFreeBlendDagNode(n);
}

TEST(BlendGraphTree, TypeSpecificCallsOnTheWrongTypeLogAndDoNothing) {
    Character c;
    Node* p = PoseLeaf();
    Node* w = Blend(c);
    orvane_test::LogCapture log;
    EXPECT_EQ(OrvaneGetBlendDagNodeAnimationBlend(p), nullptr);
    EXPECT_TRUE(log.Contains("Node->Type == DagNodeType_Leaf_AnimationBlend was not true"));
    EXPECT_EQ(OrvaneGetBlendDagNodeLocalPose(w), nullptr);
    EXPECT_TRUE(log.Contains("Node->Type == DagNodeType_Leaf_LocalPose was not true"));
    EXPECT_EQ(OrvaneGetBlendDagNodeCallbackUserData(p), nullptr);
    EXPECT_TRUE(log.Contains("Node->Type == DagNodeType_Leaf_Callback was not true"));
    OrvaneSetBlendDagNodeCrossfadeWeights(w, 0.5f, 0.5f);
    EXPECT_TRUE(log.Contains("Node->Type == DagNodeType_Node_Crossfade was not true"));
    EXPECT_EQ(OrvaneGetBlendDagNodeWeightedBlendSkeleton(p), nullptr);
    EXPECT_TRUE(log.Contains("Node->Type == DagNodeType_Node_WeightedBlend was not true"));
    log.Clear();
    EXPECT_EQ(OrvaneGetBlendDagNodeChildrenCount(p), -1);
    EXPECT_TRUE(log.Contains("!IsBlendDagLeafType ( Node ) was not true"));
    log.Clear();
    OrvaneAddBlendDagNodeChild(p, w);
    EXPECT_TRUE(log.Contains("!IsBlendDagLeafType ( Node ) was not true"));
    EXPECT_EQ(OrvaneGetBlendDagNodeParent(w), nullptr);
    for (const auto& m : log.messages())
        EXPECT_EQ(m.origin, OrvaneAnimationOrigin);
    OrvaneFreeBlendDagNode(p);
    OrvaneFreeBlendDagNode(w);
}

TEST(BlendGraphTree, ChildrenAreSetAddedReplacedAndRemovedWithTheirParentLinks) {
    Character c;
    Node* w = Blend(c);
    Node* k[4] = {PoseLeaf(4, 0), PoseLeaf(4, 1), PoseLeaf(4, 2), PoseLeaf(4, 3)};
    OrvaneSetBlendDagNodeChildren(w, 2, k);
    EXPECT_EQ(Children(w), (std::vector<Node*>{k[0], k[1]}));
    OrvaneAddBlendDagNodeChild(w, k[2]);
    EXPECT_EQ(Children(w), (std::vector<Node*>{k[0], k[1], k[2]}));
    EXPECT_EQ(OrvaneGetBlendDagNodeParent(k[2]), w);
    OrvaneSetBlendDagNodeChild(w, 1, k[3]);
    EXPECT_EQ(Children(w), (std::vector<Node*>{k[0], k[3], k[2]}));
    EXPECT_EQ(OrvaneGetBlendDagNodeParent(k[1]), nullptr);
    EXPECT_EQ(OrvaneGetBlendDagNodeParent(k[3]), w);
    EXPECT_EQ(OrvaneGetBlendDagNodeChild(w, 2), k[2]);
    OrvaneRemoveBlendDagNodeChild(w, k[0]);
    EXPECT_EQ(Children(w), (std::vector<Node*>{k[3], k[2]}));
    EXPECT_EQ(OrvaneGetBlendDagNodeParent(k[0]), nullptr);
    // Setting anew detaches the previous children; a present child may be given again.
    Node* again[2] = {k[2], k[1]};
    OrvaneSetBlendDagNodeChildren(w, 2, again);
    EXPECT_EQ(Children(w), (std::vector<Node*>{k[2], k[1]}));
    EXPECT_EQ(OrvaneGetBlendDagNodeParent(k[3]), nullptr);
    OrvaneRemoveBlendDagNodeChild(w, k[2]);
    OrvaneRemoveBlendDagNodeChild(w, k[1]);
    EXPECT_EQ(OrvaneGetBlendDagNodeChildrenCount(w), 0);
    OrvaneSetBlendDagNodeChildren(w, 3, k);
    OrvaneClearBlendDagNodeChildren(w);
    EXPECT_EQ(OrvaneGetBlendDagNodeChildrenCount(w), 0);
    for (Node* n : k)
        EXPECT_EQ(OrvaneGetBlendDagNodeParent(n), nullptr);
    // A short array gets what fits, with a warning.
    OrvaneSetBlendDagNodeChildren(w, 3, k);
    orvane_test::LogCapture log;
    Node* out[2] = {};
    EXPECT_EQ(OrvaneGetBlendDagNodeChildren(w, 2, out), 2);
    EXPECT_EQ(out[1], k[1]);
    EXPECT_EQ(log.warnings(), 1u);
    EXPECT_TRUE(
        log.Contains("GetBlendDagNodeChildren: Array not large enough to hold all children"));
    OrvaneFreeBlendDagEntireTree(w);
    OrvaneFreeBlendDagNode(k[3]);
}

TEST(BlendGraphTree, AChildWithAParentOrThatWouldCloseALoopIsRefused) {
    Character c;
    Node* first = Blend(c);
    Node* second = Blend(c);
    Node* leaf = PoseLeaf();
    Node* other = PoseLeaf();
    OrvaneAddBlendDagNodeChild(first, leaf);
    orvane_test::LogCapture log;
    // Already in a tree: refused everywhere, and left where it was.
    OrvaneAddBlendDagNodeChild(second, leaf);
    EXPECT_TRUE(log.Contains("Child->ParentNode == NULL was not true"));
    Node* list[2] = {other, leaf};
    log.Clear();
    OrvaneSetBlendDagNodeChildren(second, 2, list);
    EXPECT_TRUE(log.Contains("SetBlendDagNodeChildren: Child 1 is invalid"));
    EXPECT_EQ(OrvaneGetBlendDagNodeChildrenCount(second), 0);
    EXPECT_EQ(OrvaneGetBlendDagNodeParent(other), nullptr);
    EXPECT_EQ(OrvaneGetBlendDagNodeParent(leaf), first);
    // Null entries and a node listed twice are refused as a whole.
    Node* nulls[2] = {other, nullptr};
    log.Clear();
    OrvaneSetBlendDagNodeChildren(second, 2, nulls);
    EXPECT_TRUE(log.Contains("SetBlendDagNodeChildren: Child 1 is invalid"));
    Node* twice[2] = {other, other};
    log.Clear();
    OrvaneSetBlendDagNodeChildren(second, 2, twice);
    EXPECT_TRUE(log.Contains("SetBlendDagNodeChildren: Child 1 is invalid"));
    EXPECT_EQ(OrvaneGetBlendDagNodeChildrenCount(second), 0);
    // A node cannot become its own descendant.
    OrvaneAddBlendDagNodeChild(second, first);
    log.Clear();
    OrvaneAddBlendDagNodeChild(first, second);
    EXPECT_TRUE(log.errors() >= 1u);
    OrvaneAddBlendDagNodeChild(first, first);
    EXPECT_EQ(OrvaneGetBlendDagNodeChildrenCount(first), 1);
    // Single-child operations check their arguments.
    log.Clear();
    OrvaneAddBlendDagNodeChild(first, nullptr);
    EXPECT_TRUE(log.Contains("Child != NULL was not true"));
    OrvaneSetBlendDagNodeChild(first, 1, other);
    EXPECT_TRUE(log.Contains("ChildNumber < Node->NumChildNodes was not true"));
    EXPECT_EQ(OrvaneGetBlendDagNodeChild(first, 5), nullptr);
    OrvaneSetBlendDagNodeChild(first, -1, other);
    EXPECT_EQ(OrvaneGetBlendDagNodeParent(other), nullptr);
    log.Clear();
    OrvaneRemoveBlendDagNodeChild(first, other);
    EXPECT_TRUE(log.Contains("Child->ParentNode == Node was not true"));
    // Once removed, the child is no longer this node's.
    OrvaneAddBlendDagNodeChild(first, other);
    OrvaneRemoveBlendDagNodeChild(first, other);
    log.Clear();
    OrvaneRemoveBlendDagNodeChild(first, other);
    EXPECT_TRUE(log.Contains("Child->ParentNode == Node was not true"));
    OrvaneFreeBlendDagEntireTree(second);
    OrvaneFreeBlendDagNode(other);
}

TEST(BlendGraphTree, FreeingANodeDetachesItAndFreesWhatItOwns) {
    Character c;
    void* marker = OrvaneBeginAllocationCheck();
    Node* w = Blend(c);
    orvane_local_pose* shared = VariedPose(4, 1);
    Node* owned = PoseLeaf();
    Node* unowned = OrvaneCreateBlendDagNodeLocalPose(shared, false);
    Node* x = OrvaneCreateBlendDagNodeCrossfade(owned, unowned, 0.0f, 0.5f,
                                                OrvaneNewTrackMask(0.5f, 4), true, 0);
    OrvaneAddBlendDagNodeChild(w, x);
    OrvaneSetBlendDagNodeResultTrackMask(x, OrvaneNewTrackMask(1.0f, 4), true);
    // Replacing an owned mask frees the old one; the exported masks are never freed.
    OrvaneSetBlendDagNodeResultTrackMask(x, OrvaneNewTrackMask(0.5f, 4), true);
    OrvaneSetBlendDagNodeResultTrackMask(w, OrvaneIdentityTrackMask, true);
    OrvaneFreeBlendDagNode(x);
    EXPECT_EQ(OrvaneGetBlendDagNodeChildrenCount(w), 0);
    EXPECT_EQ(OrvaneGetBlendDagNodeParent(owned), nullptr);
    EXPECT_EQ(OrvaneGetBlendDagNodeParent(unowned), nullptr);
    // Replacing an owned pose frees it; the unowned pose stays the caller's.
    OrvaneSetBlendDagNodeLocalPose(owned, VariedPose(4, 2), true);
    OrvaneFreeBlendDagNode(owned);
    OrvaneFreeBlendDagNode(unowned);
    OrvaneFreeBlendDagNode(w);
    OrvaneFreeLocalPose(shared);
    EXPECT_TRUE(OrvaneEndAllocationCheck(marker));
}

TEST(BlendGraphTree, FreeingAnEntireTreeFreesEveryNodeAndOwnedInstance) {
    Character c;
    void* marker = OrvaneBeginAllocationCheck();
    Node* root = Blend(c);
    for (int i = 0; i < 3; ++i) {
        Node* x = OrvaneCreateBlendDagNodeCrossfade(
            OrvaneCreateBlendDagNodeAnimationBlend(OrvaneInstantiateModel(&c.model), true),
            PoseLeaf(4, i), 0.3f, 0.6f, nullptr, false, 0);
        OrvaneAddBlendDagNodeChild(root, x);
    }
    EXPECT_EQ(OrvaneFindBlendDagTreeDepth(root), 3);
    OrvaneFreeBlendDagEntireTree(root);
    EXPECT_TRUE(OrvaneEndAllocationCheck(marker));
}

TEST(BlendGraphTree, ValidationNamesTheFirstBrokenRuleAndItsNode) {
    Character c;
    const char* reason = nullptr;
    const Node* failed = nullptr;
    Node* x = OrvaneCreateBlendDagNodeCrossfade(PoseLeaf(), nullptr, 0, 1, nullptr, false, 0);
    EXPECT_FALSE(OrvaneIsBlendDagNodeValid(x, &reason, &failed));
    EXPECT_STREQ(reason, "Crossfade node does not have exactly two children");
    EXPECT_EQ(failed, x);
    OrvaneAddBlendDagNodeChild(x, PoseLeaf());
    EXPECT_TRUE(OrvaneIsBlendDagTreeValid(x, &reason, &failed));
    OrvaneAddBlendDagNodeChild(x, PoseLeaf());
    EXPECT_FALSE(OrvaneIsBlendDagTreeValid(x, &reason, nullptr));
    EXPECT_STREQ(reason, "Crossfade node does not have exactly two children");
    // The subtrees are checked before the node, in order. The leaves are broken by hand, as
    // memory corruption would leave them: the setters refuse null.
    Node* w = Blend(c);
    Node* callback = OrvaneCreateBlendDagNodeCallback(
        [](void*, int32_t, float, const int32_t*) -> orvane_local_pose* { return nullptr; },
        nullptr, nullptr, nullptr);
    callback->Callback.SampleCallback = nullptr;
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    Node* anim = OrvaneCreateBlendDagNodeAnimationBlend(instance, false);
    anim->AnimationBlend.ModelInstance = nullptr;
    Node* pose = PoseLeaf();
    OrvaneFreeLocalPose(pose->LocalPose.LocalPose);
    pose->LocalPose.LocalPose = nullptr;
    pose->LocalPose.OwnsLocalPose = false;
    Node* list[4] = {x, callback, anim, pose};
    OrvaneSetBlendDagNodeChildren(w, 4, list);
    EXPECT_FALSE(OrvaneIsBlendDagTreeValid(w, &reason, &failed));
    EXPECT_STREQ(reason, "Crossfade node does not have exactly two children");
    EXPECT_EQ(failed, x);
    OrvaneFreeBlendDagNode(OrvaneGetBlendDagNodeChild(x, 2));
    EXPECT_FALSE(OrvaneIsBlendDagTreeValid(w, &reason, &failed));
    EXPECT_STREQ(reason, "Callback node has a NULL SampleCallback");
    EXPECT_EQ(failed, callback);
    EXPECT_FALSE(OrvaneIsBlendDagNodeValid(anim, &reason, &failed));
    EXPECT_STREQ(reason, "AnimationBlend node has a NULL ModelInstance");
    EXPECT_FALSE(OrvaneIsBlendDagNodeValid(pose, &reason, &failed));
    EXPECT_STREQ(reason, "LocalPose node has a NULL LocalPose");
    // The node-level rules on records broken by hand in the same way.
    w->WeightedBlend.ReferenceSkeleton = nullptr;
    EXPECT_FALSE(OrvaneIsBlendDagNodeValid(w, &reason, &failed));
    EXPECT_STREQ(reason, "WeightedBlend node has a NULL skeleton");
    OrvaneSetBlendDagNodeWeightedBlend(w, c.skeleton, 0.2f, 0);
    EXPECT_TRUE(OrvaneIsBlendDagNodeValid(w, nullptr, nullptr));
    OrvaneFreeBlendDagEntireTree(w);
    OrvaneFreeModelInstance(instance);
}

TEST(BlendGraphTree, ANullChildIsReportedBeforeABrokenBackLinkWhereverItSits) {
    Character c;
    const char* reason = nullptr;
    const Node* failed = nullptr;
    Node* w = Blend(c);
    Node* other = Blend(c);
    Node* first = PoseLeaf();
    Node* second = PoseLeaf();
    Node* list[2] = {first, second};
    OrvaneSetBlendDagNodeChildren(w, 2, list);
    // Broken by hand, as memory corruption would leave it: the first child names another
    // parent and the second entry is null.
    first->ParentNode = other;
    w->ChildNodes[1] = nullptr;
    EXPECT_FALSE(OrvaneIsBlendDagNodeValid(w, &reason, &failed));
    EXPECT_STREQ(reason, "Node has a NULL child");
    EXPECT_EQ(failed, w);
    EXPECT_FALSE(OrvaneIsBlendDagTreeValid(w, &reason, &failed));
    EXPECT_STREQ(reason, "Node has a NULL child");
    EXPECT_EQ(failed, w);
    // With the entry back, the back link is what remains broken.
    w->ChildNodes[1] = second;
    EXPECT_FALSE(OrvaneIsBlendDagNodeValid(w, &reason, &failed));
    EXPECT_STREQ(reason, "A child node does not point back to its parent");
    first->ParentNode = w;
    EXPECT_TRUE(OrvaneIsBlendDagTreeValid(w, &reason, &failed));
    OrvaneFreeBlendDagEntireTree(w);
    OrvaneFreeBlendDagNode(other);
}

TEST(BlendGraphTree, DepthCountsTheLongestPath) {
    Character c;
    Node* leaf = PoseLeaf();
    EXPECT_EQ(OrvaneFindBlendDagTreeDepth(leaf), 1);
    Node* w = Blend(c);
    EXPECT_EQ(OrvaneFindBlendDagTreeDepth(w), 1);
    OrvaneAddBlendDagNodeChild(w, leaf);
    OrvaneAddBlendDagNodeChild(w, PoseLeaf());
    EXPECT_EQ(OrvaneFindBlendDagTreeDepth(w), 2);
    Node* x = OrvaneCreateBlendDagNodeCrossfade(PoseLeaf(), w, 0, 1, nullptr, false, 0);
    EXPECT_EQ(OrvaneFindBlendDagTreeDepth(x), 3);
    EXPECT_EQ(OrvaneFindBlendDagTreeDepth(nullptr), 0);
    OrvaneFreeBlendDagEntireTree(x);
}

TEST(BlendGraphTree, DuplicationCopiesTheTreeAndMapsListedNodes) {
    Character c;
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_local_pose* shared = VariedPose(4, 3);
    Node* anim = OrvaneCreateBlendDagNodeAnimationBlend(instance, true);
    OrvaneSetBlendDagNodeAnimationBlend(anim, instance, 0.4f, true);
    Node* owned = PoseLeaf(4, 1);
    Node* unowned = OrvaneCreateBlendDagNodeLocalPose(shared, false);
    orvane_track_mask* mask = OrvaneNewTrackMask(0.25f, 4);
    OrvaneSetTrackMaskBoneWeight(mask, 2, 0.75f);
    Node* x = OrvaneCreateBlendDagNodeCrossfade(owned, unowned, 0.1f, 0.9f, mask, true, 0);
    OrvaneSetBlendDagNodeResultWeight(x, 0.5f);
    OrvaneSetBlendDagNodeResultTrackMask(x, OrvaneNewTrackMask(0.5f, 4), true);
    Node* root = OrvaneCreateBlendDagNodeWeightedBlend(c.skeleton, 0.3f,
                                                       OrvaneQuaternionBlendNeighborhood, 0);
    OrvaneAddBlendDagNodeChild(root, anim);
    OrvaneAddBlendDagNodeChild(root, x);
    const Node* sources[3] = {x, unowned, anim};
    Node* dests[3] = {};
    Node* copy = OrvaneDuplicateBlendDagTree(root, sources, dests, 3, true);
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(OrvaneIsBlendDagTreeValid(copy, nullptr, nullptr));
    EXPECT_EQ(OrvaneFindBlendDagTreeDepth(copy), 3);
    const std::vector<Node*> top = Children(copy);
    ASSERT_EQ(top.size(), 2u);
    EXPECT_EQ(dests[2], top[0]);
    EXPECT_EQ(dests[0], top[1]);
    EXPECT_EQ(dests[1], Children(top[1])[1]);
    // A new instance of the same model; the same weights; owned data copied, the rest shared.
    orvane_model_instance* copied = OrvaneGetBlendDagNodeAnimationBlend(dests[2]);
    EXPECT_NE(copied, instance);
    EXPECT_EQ(OrvaneGetSourceModel(copied), &c.model);
    EXPECT_FLOAT_EQ(OrvaneGetBlendDagNodeResultWeight(dests[0]), 0.5f);
    EXPECT_NE(OrvaneGetBlendDagNodeCrossfadeTrackMask(dests[0]), mask);
    EXPECT_FLOAT_EQ(
        OrvaneGetTrackMaskBoneWeight(OrvaneGetBlendDagNodeCrossfadeTrackMask(dests[0]), 2), 0.75f);
    EXPECT_NE(OrvaneGetBlendDagNodeResultTrackMask(dests[0]),
              OrvaneGetBlendDagNodeResultTrackMask(x));
    EXPECT_EQ(OrvaneGetBlendDagNodeLocalPose(dests[1]), shared);
    EXPECT_NE(OrvaneGetBlendDagNodeLocalPose(Children(dests[0])[0]),
              OrvaneGetBlendDagNodeLocalPose(owned));
    EXPECT_EQ(OrvaneGetBlendDagNodeWeightedBlendSkeleton(copy), c.skeleton);
    // Both trees free on their own.
    OrvaneFreeBlendDagEntireTree(root);
    OrvaneFreeBlendDagEntireTree(copy);
    OrvaneFreeLocalPose(shared);
}

TEST(BlendGraphTree, DuplicationRefusesBadListsAndOversizedCrossfadesWithoutLeaking) {
    Character c;
    Node* x = OrvaneCreateBlendDagNodeCrossfade(PoseLeaf(), PoseLeaf(), 0, 0.5f, nullptr, false, 0);
    orvane_test::LogCapture log;
    Node* dest[1];
    EXPECT_EQ(OrvaneDuplicateBlendDagTree(x, nullptr, dest, 1, true), nullptr);
    EXPECT_TRUE(log.Contains("SourceNodeList is not allowed to be 0"));
    const Node* source[1] = {x};
    EXPECT_EQ(OrvaneDuplicateBlendDagTree(x, source, nullptr, 1, true), nullptr);
    EXPECT_TRUE(log.Contains("DestNodeList is not allowed to be 0"));
    void* marker = OrvaneBeginAllocationCheck();
    Node* root = Blend(c);
    OrvaneAddBlendDagNodeChild(
        root, OrvaneCreateBlendDagNodeAnimationBlend(OrvaneInstantiateModel(&c.model), false));
    OrvaneAddBlendDagNodeChild(root, x);
    OrvaneAddBlendDagNodeChild(x, PoseLeaf());
    EXPECT_EQ(OrvaneDuplicateBlendDagTree(root, source, dest, 1, false), nullptr);
    EXPECT_EQ(dest[0], nullptr);
    OrvaneRemoveBlendDagNodeChild(root, x);
    OrvaneFreeBlendDagEntireTree(x);
    orvane_model_instance* instance =
        OrvaneGetBlendDagNodeAnimationBlend(OrvaneGetBlendDagNodeChild(root, 0));
    OrvaneFreeBlendDagEntireTree(root);
    OrvaneFreeModelInstance(instance);
    EXPECT_TRUE(OrvaneEndAllocationCheck(marker));
}

}  // namespace

// Blend graph nodes: their guarded pool, the type-specific setters and getters with
// ownership, children management that keeps every node in at most one tree, freeing,
// validation, depth, clocks, completed controls and duplication.
#include "blend_graph/orvane_blend_graph.h"

#include "pose/orvane_local_pose.h"
#include "core/orvane_log.h"
#include "core/orvane_memory.h"

#include <cstring>
#include <mutex>

namespace orvane {
namespace {

struct NodePool {
    std::mutex lock;
    orvane_fixed_allocator allocator;
    NodePool() {
        OrvaneInitializeFixedAllocator(&allocator, int32_t(sizeof(orvane_blend_dag_node)));
    }
};

NodePool& Pool() {
    static NodePool pool;
    return pool;
}

orvane_blend_dag_node* NewNode(int32_t type) {
    void* memory;
    {
        NodePool& pool = Pool();
        std::lock_guard<std::mutex> guard(pool.lock);
        memory = OrvaneAllocateFixed(&pool.allocator);
    }
    if (memory == nullptr) return nullptr;
    std::memset(memory, 0, sizeof(orvane_blend_dag_node));
    auto* node = static_cast<orvane_blend_dag_node*>(memory);
    node->Weight = 1.0f;
    node->Type = type;
    return node;
}

void ReturnNode(orvane_blend_dag_node* node) {
    node->Type = OrvaneDagNodeType_Freed;
    NodePool& pool = Pool();
    std::lock_guard<std::mutex> guard(pool.lock);
    OrvaneDeallocateFixed(&pool.allocator, node);
}

void FreeMask(const orvane_track_mask* mask) {
    // The exported masks are static data, whatever flag they were set with.
    if (mask == nullptr || mask == OrvaneIdentityTrackMask || mask == OrvaneNullTrackMask) return;
    OrvaneFreeTrackMask(const_cast<orvane_track_mask*>(mask));
}

#define ORVANE_CHECK_TYPE(node, type, result)                                                \
    do {                                                                                     \
        ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, node, result);                          \
        if ((node)->Type != Orvane##type) {                                                  \
            ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "Node->Type == " #type " was not true"); \
            return result;                                                                   \
        }                                                                                    \
    } while (0)

#define ORVANE_CHECK_INNER(node, result)                                                          \
    do {                                                                                          \
        ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, node, result);                               \
        if (IsLeafType((node)->Type)) {                                                           \
            ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "!IsBlendDagLeafType ( Node ) was not true"); \
            return result;                                                                        \
        }                                                                                         \
    } while (0)

#define ORVANE_REQUIRE(condition, result)                                        \
    do {                                                                         \
        if (!(condition)) {                                                      \
            ORVANE_LOG_ERROR(OrvaneAnimationOrigin, #condition " was not true"); \
            return result;                                                       \
        }                                                                        \
    } while (0)

// A node, or one of its ancestors, taken as a child would close a loop.
bool IsSelfOrAncestor(const orvane_blend_dag_node* node, const orvane_blend_dag_node* candidate) {
    for (const orvane_blend_dag_node* n = node; n != nullptr; n = n->ParentNode)
        if (n == candidate) return true;
    return false;
}

// Child checks shared by the single-child operations, in the order the messages name them.
bool ChildIsAcceptable(const orvane_blend_dag_node* Node, const orvane_blend_dag_node* Child) {
    ORVANE_REQUIRE(Child != NULL, false);
    ORVANE_REQUIRE(Child->ParentNode == NULL, false);
    if (IsSelfOrAncestor(Node, Child)) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "Child would make the tree a cycle");
        return false;
    }
    return true;
}

void DetachChildren(orvane_blend_dag_node* node) {
    for (int32_t i = 0; i < node->NumChildNodes; ++i)
        if (node->ChildNodes[i] != nullptr && node->ChildNodes[i]->ParentNode == node)
            node->ChildNodes[i]->ParentNode = nullptr;
}

void AttachChildren(orvane_blend_dag_node* node) {
    for (int32_t i = 0; i < node->NumChildNodes; ++i)
        node->ChildNodes[i]->ParentNode = node;
}

// Replaces the array with a copy of `count` entries of `children` (already checked).
bool ReplaceChildren(orvane_blend_dag_node* node, int32_t count,
                     orvane_blend_dag_node* const* children) {
    orvane_blend_dag_node** array = nullptr;
    if (count > 0) {
        array = ORVANE_ALLOCATE_ARRAY(orvane_blend_dag_node*, count);
        if (array == nullptr) return false;
        for (int32_t i = 0; i < count; ++i)
            array[i] = children[i];
    }
    DetachChildren(node);
    ORVANE_DEALLOCATE(node->ChildNodes);
    node->ChildNodes = array;
    node->NumChildNodes = count;
    AttachChildren(node);
    return true;
}

void ReleaseOwned(orvane_blend_dag_node* node) {
    switch (node->Type) {
        case OrvaneDagNodeType_Leaf_AnimationBlend:
            if (node->AnimationBlend.OwnsModelInstance)
                OrvaneFreeModelInstance(node->AnimationBlend.ModelInstance);
            break;
        case OrvaneDagNodeType_Leaf_LocalPose:
            if (node->LocalPose.OwnsLocalPose) OrvaneFreeLocalPose(node->LocalPose.LocalPose);
            break;
        case OrvaneDagNodeType_Node_Crossfade:
            if (node->Crossfade.OwnsTrackMask) FreeMask(node->Crossfade.TrackMask);
            break;
        default:
            break;
    }
    if (node->OwnsResultTrackMask) FreeMask(node->ResultTrackMask);
    node->OwnsResultTrackMask = false;
    node->ResultTrackMask = nullptr;
}

void DetachFromParent(orvane_blend_dag_node* node) {
    orvane_blend_dag_node* parent = node->ParentNode;
    if (parent == nullptr) return;
    for (int32_t i = 0; i < parent->NumChildNodes; ++i) {
        if (parent->ChildNodes[i] != node) continue;
        for (int32_t k = i + 1; k < parent->NumChildNodes; ++k)
            parent->ChildNodes[k - 1] = parent->ChildNodes[k];
        if (--parent->NumChildNodes == 0) {
            ORVANE_DEALLOCATE(parent->ChildNodes);
            parent->ChildNodes = nullptr;
        }
        break;
    }
    node->ParentNode = nullptr;
}

const orvane_track_mask* CopyMaskIfOwned(const orvane_track_mask* mask, bool owned, bool* failed) {
    if (!owned || mask == nullptr || mask == OrvaneIdentityTrackMask || mask == OrvaneNullTrackMask)
        return mask;
    orvane_track_mask* copy = OrvaneCopyTrackMask(mask);
    if (copy == nullptr) *failed = true;
    return copy;
}

struct DuplicateContext {
    const orvane_blend_dag_node** sources;
    orvane_blend_dag_node** dests;
    int32_t count;
    bool ownInstances;
};

// Instances made for a failed copy are freed with it, whether or not the copy owns them.
void FreeFailedCopy(orvane_blend_dag_node* node) {
    if (node == nullptr) return;
    while (node->NumChildNodes > 0)
        FreeFailedCopy(node->ChildNodes[node->NumChildNodes - 1]);
    if (node->Type == OrvaneDagNodeType_Leaf_AnimationBlend) {
        OrvaneFreeModelInstance(node->AnimationBlend.ModelInstance);
        node->AnimationBlend.OwnsModelInstance = false;
    }
    OrvaneFreeBlendDagNode(node);
}

orvane_blend_dag_node* Duplicate(const orvane_blend_dag_node* source, const DuplicateContext& c) {
    if (source == nullptr) return nullptr;
    orvane_blend_dag_node* copy = nullptr;
    bool failed = false;
    switch (source->Type) {
        case OrvaneDagNodeType_Leaf_AnimationBlend: {
            const orvane_model_instance* instance = source->AnimationBlend.ModelInstance;
            orvane_model_instance* created =
                instance ? OrvaneInstantiateModel(OrvaneGetSourceModel(instance)) : nullptr;
            if (created == nullptr) {
                ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "Could not instantiate the model to copy");
                return nullptr;
            }
            copy = NewNode(source->Type);
            if (copy == nullptr) {
                OrvaneFreeModelInstance(created);
                return nullptr;
            }
            copy->AnimationBlend.ModelInstance = created;
            copy->AnimationBlend.FillThreshold = source->AnimationBlend.FillThreshold;
            copy->AnimationBlend.OwnsModelInstance = c.ownInstances;
            break;
        }
        case OrvaneDagNodeType_Leaf_LocalPose: {
            orvane_local_pose* pose = source->LocalPose.LocalPose;
            const bool owned = source->LocalPose.OwnsLocalPose && pose != nullptr;
            if (owned) {
                orvane_local_pose* p = OrvaneNewLocalPose(OrvaneGetLocalPoseBoneCount(pose));
                if (p == nullptr) return nullptr;
                OrvaneCopyLocalPose(pose, p);
                OrvaneSetLocalPoseFillThreshold(p, OrvaneGetLocalPoseFillThreshold(pose));
                pose = p;
            }
            copy = NewNode(source->Type);
            if (copy == nullptr) {
                if (owned) OrvaneFreeLocalPose(pose);
                return nullptr;
            }
            copy->LocalPose.LocalPose = pose;
            copy->LocalPose.OwnsLocalPose = owned;
            break;
        }
        case OrvaneDagNodeType_Leaf_Callback:
            copy = NewNode(source->Type);
            if (copy == nullptr) return nullptr;
            copy->Callback = source->Callback;
            break;
        case OrvaneDagNodeType_Node_Crossfade:
            if (source->NumChildNodes > 2) {
                ORVANE_LOG_ERROR(OrvaneAnimationOrigin,
                                 "Crossfade node does not have exactly two children");
                return nullptr;
            }
            copy = NewNode(source->Type);
            if (copy == nullptr) return nullptr;
            copy->Crossfade = source->Crossfade;
            copy->Crossfade.TrackMask = CopyMaskIfOwned(source->Crossfade.TrackMask,
                                                        source->Crossfade.OwnsTrackMask, &failed);
            if (failed) copy->Crossfade.OwnsTrackMask = false;
            break;
        case OrvaneDagNodeType_Node_WeightedBlend:
            copy = NewNode(source->Type);
            if (copy == nullptr) return nullptr;
            copy->WeightedBlend = source->WeightedBlend;
            break;
        default:
            ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "Unknown node type %d", source->Type);
            return nullptr;
    }
    copy->Weight = source->Weight;
    copy->ResultTrackMask =
        CopyMaskIfOwned(source->ResultTrackMask, source->OwnsResultTrackMask, &failed);
    copy->OwnsResultTrackMask = source->OwnsResultTrackMask && copy->ResultTrackMask != nullptr;
    if (!failed && !IsLeafType(source->Type)) {
        for (int32_t i = 0; i < source->NumChildNodes && !failed; ++i) {
            orvane_blend_dag_node* child = Duplicate(source->ChildNodes[i], c);
            if (child == nullptr) {
                failed = true;
                break;
            }
            OrvaneAddBlendDagNodeChild(copy, child);
            if (child->ParentNode != copy) {
                FreeFailedCopy(child);
                failed = true;
            }
        }
    }
    if (failed) {
        FreeFailedCopy(copy);
        return nullptr;
    }
    for (int32_t i = 0; i < c.count; ++i)
        if (c.sources[i] == source) c.dests[i] = copy;
    return copy;
}

}  // namespace
}  // namespace orvane

using namespace orvane;

// ---- Creation and freeing ----

ORVANE_API orvane_blend_dag_node* OrvaneCreateBlendDagNodeAnimationBlend(
    orvane_model_instance* ModelInstance, orvane_bool AutoFree) {
    ORVANE_REQUIRE(ModelInstance != NULL, nullptr);
    orvane_blend_dag_node* node = NewNode(OrvaneDagNodeType_Leaf_AnimationBlend);
    if (node == nullptr) return nullptr;
    OrvaneSetBlendDagNodeAnimationBlend(node, ModelInstance, kDefaultFillThreshold, AutoFree);
    return node;
}

ORVANE_API orvane_blend_dag_node* OrvaneCreateBlendDagNodeLocalPose(orvane_local_pose* LocalPose,
                                                                    orvane_bool AutoFree) {
    ORVANE_REQUIRE(LocalPose != NULL, nullptr);
    orvane_blend_dag_node* node = NewNode(OrvaneDagNodeType_Leaf_LocalPose);
    if (node == nullptr) return nullptr;
    OrvaneSetBlendDagNodeLocalPose(node, LocalPose, AutoFree);
    return node;
}

ORVANE_API orvane_blend_dag_node* OrvaneCreateBlendDagNodeCallback(
    orvane_blend_dag_sample_callback SampleCallback,
    orvane_blend_dag_set_clock_callback SetClockCallback,
    orvane_blend_dag_motion_vectors_callback MotionVectorsCallback, void* UserData) {
    ORVANE_REQUIRE(SampleCallback != NULL, nullptr);
    orvane_blend_dag_node* node = NewNode(OrvaneDagNodeType_Leaf_Callback);
    if (node == nullptr) return nullptr;
    OrvaneSetBlendDagNodeCallbacks(node, SampleCallback, SetClockCallback, MotionVectorsCallback,
                                   UserData);
    return node;
}

ORVANE_API orvane_blend_dag_node* OrvaneCreateBlendDagNodeCrossfade(
    orvane_blend_dag_node* DagNode0, orvane_blend_dag_node* DagNode1, orvane_real32 WeightNone,
    orvane_real32 WeightAll, const orvane_track_mask* TrackMask, orvane_bool AutoFree,
    orvane_int32) {
    orvane_blend_dag_node* node = NewNode(OrvaneDagNodeType_Node_Crossfade);
    if (node == nullptr) return nullptr;
    OrvaneSetBlendDagNodeCrossfade(node, WeightNone, WeightAll, TrackMask, AutoFree);
    orvane_blend_dag_node* children[2] = {DagNode0, DagNode1};
    if (DagNode0 && DagNode1)
        OrvaneSetBlendDagNodeChildren(node, 2, children);
    else if (DagNode0 || DagNode1)
        OrvaneSetBlendDagNodeChildren(node, 1, DagNode0 ? &children[0] : &children[1]);
    return node;
}

ORVANE_API orvane_blend_dag_node* OrvaneCreateBlendDagNodeWeightedBlend(
    const orvane_skeleton* ReferenceSkeleton, orvane_real32 FillThreshold,
    orvane_int32 QuaternionMode, orvane_int32) {
    ORVANE_REQUIRE(ReferenceSkeleton != NULL, nullptr);
    orvane_blend_dag_node* node = NewNode(OrvaneDagNodeType_Node_WeightedBlend);
    if (node == nullptr) return nullptr;
    OrvaneSetBlendDagNodeWeightedBlend(node, ReferenceSkeleton, FillThreshold, QuaternionMode);
    return node;
}

ORVANE_API orvane_blend_dag_node* OrvaneCreateBlendDagNodeWeightedBlendChildren(
    const orvane_skeleton* ReferenceSkeleton, orvane_real32 FillThreshold,
    orvane_int32 QuaternionMode, orvane_int32 BoneCount, orvane_int32 NumChildren,
    orvane_blend_dag_node** ArrayOfChildren) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, ArrayOfChildren, nullptr);
    orvane_blend_dag_node* node = OrvaneCreateBlendDagNodeWeightedBlend(
        ReferenceSkeleton, FillThreshold, QuaternionMode, BoneCount);
    if (node == nullptr) return nullptr;
    OrvaneSetBlendDagNodeChildren(node, NumChildren, ArrayOfChildren);
    if (node->NumChildNodes != NumChildren) {
        OrvaneFreeBlendDagNode(node);
        return nullptr;
    }
    return node;
}

ORVANE_API void OrvaneFreeBlendDagNode(orvane_blend_dag_node* Node) {
    if (Node == nullptr) return;
    if (Node->Type == OrvaneDagNodeType_Freed) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "Node has already been freed");
        return;
    }
    ReleaseOwned(Node);
    if (!IsLeafType(Node->Type)) {
        DetachChildren(Node);
        ORVANE_DEALLOCATE(Node->ChildNodes);
        Node->ChildNodes = nullptr;
        Node->NumChildNodes = 0;
    }
    DetachFromParent(Node);
    ReturnNode(Node);
}

ORVANE_API void OrvaneFreeBlendDagEntireTree(orvane_blend_dag_node* Node) {
    if (Node == nullptr) return;
    // Each freed child leaves the array, so the last entry is always the next one.
    while (!IsLeafType(Node->Type) && Node->NumChildNodes > 0)
        OrvaneFreeBlendDagEntireTree(Node->ChildNodes[Node->NumChildNodes - 1]);
    OrvaneFreeBlendDagNode(Node);
}

// ---- Type-specific setters and getters ----

ORVANE_API void OrvaneSetBlendDagNodeAnimationBlend(orvane_blend_dag_node* Node,
                                                    orvane_model_instance* ModelInstance,
                                                    orvane_real32 FillThreshold,
                                                    orvane_bool AutoFree) {
    ORVANE_CHECK_TYPE(Node, DagNodeType_Leaf_AnimationBlend, );
    ORVANE_REQUIRE(ModelInstance != NULL, );
    orvane_blend_dag_animation_blend& a = Node->AnimationBlend;
    if (a.OwnsModelInstance && a.ModelInstance != ModelInstance)
        OrvaneFreeModelInstance(a.ModelInstance);
    a.ModelInstance = ModelInstance;
    a.FillThreshold = FillThreshold;
    a.OwnsModelInstance = AutoFree;
}

ORVANE_API void OrvaneSetBlendDagNodeLocalPose(orvane_blend_dag_node* Node,
                                               orvane_local_pose* LocalPose, orvane_bool AutoFree) {
    ORVANE_CHECK_TYPE(Node, DagNodeType_Leaf_LocalPose, );
    ORVANE_REQUIRE(LocalPose != NULL, );
    orvane_blend_dag_local_pose& l = Node->LocalPose;
    if (l.OwnsLocalPose && l.LocalPose != LocalPose) OrvaneFreeLocalPose(l.LocalPose);
    l.LocalPose = LocalPose;
    l.OwnsLocalPose = AutoFree;
}

ORVANE_API void OrvaneSetBlendDagNodeCallbacks(
    orvane_blend_dag_node* Node, orvane_blend_dag_sample_callback SampleCallback,
    orvane_blend_dag_set_clock_callback SetClockCallback,
    orvane_blend_dag_motion_vectors_callback MotionVectorsCallback, void* UserData) {
    ORVANE_CHECK_TYPE(Node, DagNodeType_Leaf_Callback, );
    ORVANE_REQUIRE(SampleCallback != NULL, );
    Node->Callback.SampleCallback = SampleCallback;
    Node->Callback.SetClockCallback = SetClockCallback;
    Node->Callback.MotionVectorsCallback = MotionVectorsCallback;
    Node->Callback.UserData = UserData;
}

ORVANE_API void OrvaneSetBlendDagNodeCrossfade(orvane_blend_dag_node* Node,
                                               orvane_real32 WeightNone, orvane_real32 WeightAll,
                                               const orvane_track_mask* TrackMask,
                                               orvane_bool AutoFree) {
    ORVANE_CHECK_TYPE(Node, DagNodeType_Node_Crossfade, );
    orvane_blend_dag_crossfade& c = Node->Crossfade;
    if (c.OwnsTrackMask && c.TrackMask != TrackMask) FreeMask(c.TrackMask);
    c.WeightNone = WeightNone;
    c.WeightAll = WeightAll;
    c.TrackMask = TrackMask;
    c.OwnsTrackMask = AutoFree;
}

ORVANE_API void OrvaneSetBlendDagNodeCrossfadeWeights(orvane_blend_dag_node* Node,
                                                      orvane_real32 WeightNone,
                                                      orvane_real32 WeightAll) {
    ORVANE_CHECK_TYPE(Node, DagNodeType_Node_Crossfade, );
    Node->Crossfade.WeightNone = WeightNone;
    Node->Crossfade.WeightAll = WeightAll;
}

ORVANE_API void OrvaneSetBlendDagNodeWeightedBlend(orvane_blend_dag_node* Node,
                                                   const orvane_skeleton* ReferenceSkeleton,
                                                   orvane_real32 FillThreshold,
                                                   orvane_int32 QuaternionMode) {
    ORVANE_CHECK_TYPE(Node, DagNodeType_Node_WeightedBlend, );
    ORVANE_REQUIRE(ReferenceSkeleton != NULL, );
    Node->WeightedBlend.ReferenceSkeleton = ReferenceSkeleton;
    Node->WeightedBlend.FillThreshold = FillThreshold;
    Node->WeightedBlend.QuaternionMode = QuaternionMode;
}

ORVANE_API void OrvaneSetBlendDagNodeResultTrackMask(orvane_blend_dag_node* Node,
                                                     const orvane_track_mask* TrackMask,
                                                     orvane_bool AutoFree) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Node, );
    if (Node->OwnsResultTrackMask && Node->ResultTrackMask != TrackMask)
        FreeMask(Node->ResultTrackMask);
    Node->ResultTrackMask = TrackMask;
    Node->OwnsResultTrackMask = AutoFree;
}

ORVANE_API void OrvaneSetBlendDagNodeResultWeight(orvane_blend_dag_node* Node,
                                                  orvane_real32 Weight) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Node, );
    Node->Weight = Weight;
}

ORVANE_API orvane_real32 OrvaneGetBlendDagNodeResultWeight(const orvane_blend_dag_node* Node) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Node, 0.0f);
    return Node->Weight;
}

ORVANE_API orvane_int32 OrvaneGetBlendDagNodeType(const orvane_blend_dag_node* Node) {
    return Node ? Node->Type : int32_t(OrvaneDagNodeType_Freed);
}

ORVANE_API orvane_blend_dag_node* OrvaneGetBlendDagNodeParent(const orvane_blend_dag_node* Node) {
    return Node ? Node->ParentNode : nullptr;
}

ORVANE_API const orvane_track_mask* OrvaneGetBlendDagNodeResultTrackMask(
    const orvane_blend_dag_node* Node) {
    return Node ? Node->ResultTrackMask : nullptr;
}

ORVANE_API orvane_model_instance* OrvaneGetBlendDagNodeAnimationBlend(
    const orvane_blend_dag_node* Node) {
    ORVANE_CHECK_TYPE(Node, DagNodeType_Leaf_AnimationBlend, nullptr);
    return Node->AnimationBlend.ModelInstance;
}

ORVANE_API orvane_local_pose* OrvaneGetBlendDagNodeLocalPose(const orvane_blend_dag_node* Node) {
    ORVANE_CHECK_TYPE(Node, DagNodeType_Leaf_LocalPose, nullptr);
    return Node->LocalPose.LocalPose;
}

ORVANE_API orvane_blend_dag_sample_callback
OrvaneGetBlendDagNodeCallbackSampleCallback(const orvane_blend_dag_node* Node) {
    ORVANE_CHECK_TYPE(Node, DagNodeType_Leaf_Callback, nullptr);
    return Node->Callback.SampleCallback;
}

ORVANE_API orvane_blend_dag_set_clock_callback
OrvaneGetBlendDagNodeCallbackSetClockCallback(const orvane_blend_dag_node* Node) {
    ORVANE_CHECK_TYPE(Node, DagNodeType_Leaf_Callback, nullptr);
    return Node->Callback.SetClockCallback;
}

ORVANE_API orvane_blend_dag_motion_vectors_callback
OrvaneGetBlendDagNodeCallbackMotionVectorsCallback(const orvane_blend_dag_node* Node) {
    ORVANE_CHECK_TYPE(Node, DagNodeType_Leaf_Callback, nullptr);
    return Node->Callback.MotionVectorsCallback;
}

ORVANE_API void* OrvaneGetBlendDagNodeCallbackUserData(const orvane_blend_dag_node* Node) {
    ORVANE_CHECK_TYPE(Node, DagNodeType_Leaf_Callback, nullptr);
    return Node->Callback.UserData;
}

ORVANE_API const orvane_track_mask* OrvaneGetBlendDagNodeCrossfadeTrackMask(
    const orvane_blend_dag_node* Node) {
    ORVANE_CHECK_TYPE(Node, DagNodeType_Node_Crossfade, nullptr);
    return Node->Crossfade.TrackMask;
}

ORVANE_API const orvane_skeleton* OrvaneGetBlendDagNodeWeightedBlendSkeleton(
    const orvane_blend_dag_node* Node) {
    ORVANE_CHECK_TYPE(Node, DagNodeType_Node_WeightedBlend, nullptr);
    return Node->WeightedBlend.ReferenceSkeleton;
}

ORVANE_API orvane_bool OrvaneIsBlendDagLeafType(const orvane_blend_dag_node* Node) {
    return Node != nullptr && IsLeafType(Node->Type);
}

// ---- Children ----

ORVANE_API orvane_int32 OrvaneGetBlendDagNodeChildrenCount(const orvane_blend_dag_node* Node) {
    ORVANE_CHECK_INNER(Node, -1);
    return Node->NumChildNodes;
}

ORVANE_API void OrvaneSetBlendDagNodeChildren(orvane_blend_dag_node* Node, orvane_int32 NumChildren,
                                              orvane_blend_dag_node** ArrayOfChildren) {
    ORVANE_CHECK_INNER(Node, );
    if (NumChildren < 0) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "NumChildren %d is negative", NumChildren);
        return;
    }
    if (NumChildren > 0) ORVANE_REQUIRE(ArrayOfChildren != NULL, );
    // Checked as a whole first: a refused entry leaves the node as it was, so no child is
    // ever linked into two trees or into its own subtree.
    for (int32_t i = 0; i < NumChildren; ++i) {
        orvane_blend_dag_node* child = ArrayOfChildren[i];
        bool valid = child != nullptr && child->Type != OrvaneDagNodeType_Freed &&
                     (child->ParentNode == nullptr || child->ParentNode == Node) &&
                     !IsSelfOrAncestor(Node, child);
        for (int32_t k = 0; valid && k < i; ++k)
            valid = ArrayOfChildren[k] != child;
        if (!valid) {
            ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "SetBlendDagNodeChildren: Child %i is invalid",
                             i);
            return;
        }
    }
    if (!ReplaceChildren(Node, NumChildren, ArrayOfChildren))
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "Out of memory for %d children", NumChildren);
}

ORVANE_API orvane_int32 OrvaneGetBlendDagNodeChildren(const orvane_blend_dag_node* Node,
                                                      orvane_int32 ArraySize,
                                                      orvane_blend_dag_node** ArrayOfChildren) {
    ORVANE_CHECK_INNER(Node, 0);
    if (ArraySize > 0) ORVANE_REQUIRE(ArrayOfChildren != NULL, 0);
    int32_t count = Node->NumChildNodes;
    if (ArraySize < count) {
        ORVANE_LOG_WARNING(OrvaneAnimationOrigin,
                           "GetBlendDagNodeChildren: Array not large enough to hold all children");
        count = ArraySize < 0 ? 0 : ArraySize;
    }
    for (int32_t i = 0; i < count; ++i)
        ArrayOfChildren[i] = Node->ChildNodes[i];
    return count;
}

ORVANE_API void OrvaneClearBlendDagNodeChildren(orvane_blend_dag_node* Node) {
    ORVANE_CHECK_INNER(Node, );
    DetachChildren(Node);
    ORVANE_DEALLOCATE(Node->ChildNodes);
    Node->ChildNodes = nullptr;
    Node->NumChildNodes = 0;
}

ORVANE_API void OrvaneSetBlendDagNodeChild(orvane_blend_dag_node* Node, orvane_int32 ChildNumber,
                                           orvane_blend_dag_node* Child) {
    ORVANE_CHECK_INNER(Node, );
    ORVANE_REQUIRE(ChildNumber < Node->NumChildNodes, );
    if (ChildNumber < 0) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "ChildNumber %d is negative", ChildNumber);
        return;
    }
    if (!ChildIsAcceptable(Node, Child)) return;
    orvane_blend_dag_node* old = Node->ChildNodes[ChildNumber];
    if (old != nullptr && old->ParentNode == Node) old->ParentNode = nullptr;
    Node->ChildNodes[ChildNumber] = Child;
    AttachChildren(Node);
}

ORVANE_API orvane_blend_dag_node* OrvaneGetBlendDagNodeChild(const orvane_blend_dag_node* Node,
                                                             orvane_int32 ChildNumber) {
    ORVANE_CHECK_INNER(Node, nullptr);
    ORVANE_REQUIRE(ChildNumber < Node->NumChildNodes, nullptr);
    if (ChildNumber < 0) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "ChildNumber %d is negative", ChildNumber);
        return nullptr;
    }
    return Node->ChildNodes[ChildNumber];
}

ORVANE_API void OrvaneAddBlendDagNodeChild(orvane_blend_dag_node* Node,
                                           orvane_blend_dag_node* Child) {
    ORVANE_CHECK_INNER(Node, );
    if (!ChildIsAcceptable(Node, Child)) return;
    const int32_t count = Node->NumChildNodes;
    auto** array = ORVANE_ALLOCATE_ARRAY(orvane_blend_dag_node*, count + 1);
    if (array == nullptr) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "Out of memory for %d children", count + 1);
        return;
    }
    for (int32_t i = 0; i < count; ++i)
        array[i] = Node->ChildNodes[i];
    array[count] = Child;
    ORVANE_DEALLOCATE(Node->ChildNodes);
    Node->ChildNodes = array;
    Node->NumChildNodes = count + 1;
    AttachChildren(Node);
}

ORVANE_API void OrvaneRemoveBlendDagNodeChild(orvane_blend_dag_node* Node,
                                              orvane_blend_dag_node* Child) {
    ORVANE_CHECK_INNER(Node, );
    ORVANE_REQUIRE(Child != NULL, );
    ORVANE_REQUIRE(Child->ParentNode == Node, );
    for (int32_t i = 0; i < Node->NumChildNodes; ++i) {
        if (Node->ChildNodes[i] == Child) {
            DetachFromParent(Child);
            AttachChildren(Node);
            return;
        }
    }
    ORVANE_LOG_ERROR(OrvaneAnimationOrigin,
                     "RemoveBlendDagNodeChild couldn't find the specified child");
}

// ---- Clocks and completed controls ----

ORVANE_API void OrvaneSetBlendDagTreeClock(orvane_blend_dag_node* Node, orvane_real32 NewClock) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Node, );
    switch (Node->Type) {
        case OrvaneDagNodeType_Leaf_AnimationBlend:
            if (Node->AnimationBlend.ModelInstance)
                OrvaneSetModelClock(Node->AnimationBlend.ModelInstance, NewClock);
            break;
        case OrvaneDagNodeType_Leaf_Callback:
            if (Node->Callback.SetClockCallback)
                Node->Callback.SetClockCallback(Node->Callback.UserData, NewClock);
            break;
        case OrvaneDagNodeType_Node_Crossfade:
        case OrvaneDagNodeType_Node_WeightedBlend:
            for (int32_t i = 0; i < Node->NumChildNodes; ++i)
                OrvaneSetBlendDagTreeClock(Node->ChildNodes[i], NewClock);
            break;
        default:
            break;
    }
}

ORVANE_API void OrvaneBlendDagNodeAnimationBlendFreeCompletedControls(orvane_blend_dag_node* Node) {
    ORVANE_CHECK_TYPE(Node, DagNodeType_Leaf_AnimationBlend, );
    if (Node->AnimationBlend.ModelInstance)
        OrvaneFreeCompletedModelControls(Node->AnimationBlend.ModelInstance);
}

ORVANE_API void OrvaneBlendDagFreeCompletedControlsEntireTree(orvane_blend_dag_node* Node) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Node, );
    if (Node->Type == OrvaneDagNodeType_Leaf_AnimationBlend) {
        OrvaneBlendDagNodeAnimationBlendFreeCompletedControls(Node);
    } else if (!IsLeafType(Node->Type)) {
        for (int32_t i = 0; i < Node->NumChildNodes; ++i)
            OrvaneBlendDagFreeCompletedControlsEntireTree(Node->ChildNodes[i]);
    }
}

// ---- Validation, depth and duplication ----

ORVANE_API orvane_bool OrvaneIsBlendDagNodeValid(const orvane_blend_dag_node* Node,
                                                 const char** ReasonFailed,
                                                 const orvane_blend_dag_node** NodeFailed) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Node, false);
    const char* reason = nullptr;
    switch (Node->Type) {
        case OrvaneDagNodeType_Leaf_AnimationBlend:
            if (!Node->AnimationBlend.ModelInstance)
                reason = "AnimationBlend node has a NULL ModelInstance";
            break;
        case OrvaneDagNodeType_Leaf_LocalPose:
            if (!Node->LocalPose.LocalPose) reason = "LocalPose node has a NULL LocalPose";
            break;
        case OrvaneDagNodeType_Leaf_Callback:
            if (!Node->Callback.SampleCallback) reason = "Callback node has a NULL SampleCallback";
            break;
        case OrvaneDagNodeType_Node_Crossfade:
            if (Node->NumChildNodes != 2)
                reason = "Crossfade node does not have exactly two children";
            break;
        case OrvaneDagNodeType_Node_WeightedBlend:
            if (!Node->WeightedBlend.ReferenceSkeleton)
                reason = "WeightedBlend node has a NULL skeleton";
            break;
        default:
            reason = "Unknown node type";
            break;
    }
    if (reason == nullptr && IsLeafType(Node->Type)) {
        if (Node->NumChildNodes != 0 || Node->ChildNodes != nullptr)
            reason = "Leaf type node has children";
    } else if (reason == nullptr) {
        // A null child anywhere in the array is reported before a broken back link.
        for (int32_t i = 0; i < Node->NumChildNodes && reason == nullptr; ++i)
            if (Node->ChildNodes[i] == nullptr) reason = "Node has a NULL child";
        for (int32_t i = 0; i < Node->NumChildNodes && reason == nullptr; ++i)
            if (Node->ChildNodes[i]->ParentNode != Node)
                reason = "A child node does not point back to its parent";
    }
    if (reason == nullptr) return true;
    if (ReasonFailed) *ReasonFailed = reason;
    if (NodeFailed) *NodeFailed = Node;
    return false;
}

ORVANE_API orvane_bool OrvaneIsBlendDagTreeValid(const orvane_blend_dag_node* Node,
                                                 const char** ReasonFailed,
                                                 const orvane_blend_dag_node** NodeFailed) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Node, false);
    if (!IsLeafType(Node->Type)) {
        for (int32_t i = 0; i < Node->NumChildNodes; ++i) {
            const orvane_blend_dag_node* child = Node->ChildNodes[i];
            // A null child is the node's own fault, reported below.
            if (child != nullptr && child->ParentNode == Node &&
                !OrvaneIsBlendDagTreeValid(child, ReasonFailed, NodeFailed))
                return false;
        }
    }
    return OrvaneIsBlendDagNodeValid(Node, ReasonFailed, NodeFailed);
}

ORVANE_API orvane_int32 OrvaneFindBlendDagTreeDepth(const orvane_blend_dag_node* Node) {
    if (Node == nullptr) return 0;
    int32_t deepest = 0;
    if (!IsLeafType(Node->Type)) {
        for (int32_t i = 0; i < Node->NumChildNodes; ++i) {
            const int32_t d = OrvaneFindBlendDagTreeDepth(Node->ChildNodes[i]);
            if (d > deepest) deepest = d;
        }
    }
    return 1 + deepest;
}

ORVANE_API orvane_blend_dag_node* OrvaneDuplicateBlendDagTree(
    const orvane_blend_dag_node* Node, const orvane_blend_dag_node** SourceNodeList,
    orvane_blend_dag_node** DestNodeList, orvane_int32 NodeListCount,
    orvane_bool AutoFreeCreatedModelInstances) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Node, nullptr);
    if (NodeListCount > 0) {
        ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, SourceNodeList, nullptr);
        ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, DestNodeList, nullptr);
    }
    const DuplicateContext c{SourceNodeList, DestNodeList, NodeListCount < 0 ? 0 : NodeListCount,
                             AutoFreeCreatedModelInstances};
    for (int32_t i = 0; i < c.count; ++i)
        DestNodeList[i] = nullptr;
    orvane_blend_dag_node* copy = Duplicate(Node, c);
    if (copy == nullptr)
        for (int32_t i = 0; i < c.count; ++i)
            DestNodeList[i] = nullptr;
    return copy;
}

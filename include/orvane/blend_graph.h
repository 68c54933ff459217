/* Orvane blend graphs: trees of nodes that combine animation sources into one local pose. */
#ifndef ORVANE_PUBLIC_BLEND_GRAPH_H
#define ORVANE_PUBLIC_BLEND_GRAPH_H

#include "orvane/common.h"
#include "orvane/types.h"
#include "orvane/local_pose.h"
#include "orvane/instance.h"

ORVANE_EXTERN_C_BEGIN

struct orvane_track_mask;

/* ---------------------------------------------------------------------------------------- */
/* Blend graphs                                                                             */
/* ---------------------------------------------------------------------------------------- */
/* A blend graph is a tree of nodes that combines animation sources into one local pose.
 * Leaves produce poses: every playing control of a model instance, a fixed local pose, or an
 * application callback. Inner nodes combine their children: a masked crossfade of two, or a
 * weighted blend of any number. Each node has at most one parent: a node that already has one
 * is refused as a child (an error), so a node never sits in two trees and a tree never holds
 * a cycle.
 *
 * Sampling draws its intermediate poses from a pose cache. The forms without a cache
 * argument use the calling thread's own cache, which lives until
 * OrvaneFreeBlendDagLocalPoseCache or the thread's end; the WithCache forms use a cache the
 * application made. A pose returned by a sampling stays valid until the next sampling through
 * the same cache, which reuses its memory; once the cache is large enough (after the first
 * frame, or an explicit prime) sampling allocates nothing. A sample callback may itself
 * sample a tree through the same cache: those poses are taken after the enclosing sampling's,
 * which stay intact. Priming or freeing a cache while a sampling through it is under way is
 * refused with an error.
 *
 * Threads: nodes come from a pool guarded by its own lock, so nodes may be created and freed
 * on any thread. A tree must be changed and sampled by one thread at a time; two trees over
 * distinct model instances (with distinct controls) may be sampled on two threads at once.
 * Failures are logged from OrvaneAnimationOrigin and give the results stated below. */
typedef struct orvane_blend_dag_node orvane_blend_dag_node;
typedef struct orvane_blend_dag_pose_cache orvane_blend_dag_pose_cache;

typedef enum orvane_blend_dag_node_type {
    /* Samples every playing control of a model instance. */
    OrvaneDagNodeType_Leaf_AnimationBlend = 0,
    /* A fixed local pose. */
    OrvaneDagNodeType_Leaf_LocalPose = 1,
    /* Application callbacks. */
    OrvaneDagNodeType_Leaf_Callback = 2,
    /* Masked crossfade of exactly two children. */
    OrvaneDagNodeType_Node_Crossfade = 4,
    /* Weighted blend of any number of children. */
    OrvaneDagNodeType_Node_WeightedBlend = 5,
    /* The type of a node that has been freed. */
    OrvaneDagNodeType_Freed = 6
} orvane_blend_dag_node_type;

/* The pose of BoneCount entries (entry i is skeleton bone SparseBoneArray[i] when the array
 * is given); it stays owned by the application and must have at least BoneCount bones. Null
 * fails the sampling. */
typedef orvane_local_pose* (*orvane_blend_dag_sample_callback)(void* UserData,
                                                               orvane_int32 BoneCount,
                                                               orvane_real32 AllowedError,
                                                               const orvane_int32* SparseBoneArray);
typedef void (*orvane_blend_dag_set_clock_callback)(void* UserData, orvane_real32 NewClock);
typedef void (*orvane_blend_dag_motion_vectors_callback)(void* UserData,
                                                         orvane_real32 SecondsElapsed,
                                                         orvane_real32 ResultTranslation[3],
                                                         orvane_real32 ResultRotation[3],
                                                         orvane_bool Inverse);

/* Creation. Every node starts with result weight 1, no result mask and no parent. AutoFree
 * makes the node own the instance, pose or mask: it is freed when replaced or with the node.
 * Null when the pool is out of memory or a required argument is null (logged). */
ORVANE_API orvane_blend_dag_node* OrvaneCreateBlendDagNodeAnimationBlend(
    orvane_model_instance* ModelInstance, orvane_bool AutoFree);
ORVANE_API orvane_blend_dag_node* OrvaneCreateBlendDagNodeLocalPose(orvane_local_pose* LocalPose,
                                                                    orvane_bool AutoFree);
ORVANE_API orvane_blend_dag_node* OrvaneCreateBlendDagNodeCallback(
    orvane_blend_dag_sample_callback SampleCallback,
    orvane_blend_dag_set_clock_callback SetClockCallback,
    orvane_blend_dag_motion_vectors_callback MotionVectorsCallback, void* UserData);
/* Attaches both children when both are given, the one given otherwise. The crossfade weight
 * of bone i is WeightNone + (WeightAll - WeightNone) * mask weight of i (WeightAll without a
 * mask): 0 is child 0, 1 is child 1. The last argument is not read. */
ORVANE_API orvane_blend_dag_node* OrvaneCreateBlendDagNodeCrossfade(
    orvane_blend_dag_node* DagNode0, orvane_blend_dag_node* DagNode1, orvane_real32 WeightNone,
    orvane_real32 WeightAll, const struct orvane_track_mask* TrackMask, orvane_bool AutoFree,
    orvane_int32 BoneCount);
/* QuaternionMode as for OrvaneAccumulateLocalTransform; the last argument is not read. */
ORVANE_API orvane_blend_dag_node* OrvaneCreateBlendDagNodeWeightedBlend(
    const orvane_skeleton* ReferenceSkeleton, orvane_real32 FillThreshold,
    orvane_int32 QuaternionMode, orvane_int32 BoneCount);
/* As above with children; null (logged) for a null array or a child that is refused. */
ORVANE_API orvane_blend_dag_node* OrvaneCreateBlendDagNodeWeightedBlendChildren(
    const orvane_skeleton* ReferenceSkeleton, orvane_real32 FillThreshold,
    orvane_int32 QuaternionMode, orvane_int32 BoneCount, orvane_int32 NumChildren,
    orvane_blend_dag_node** ArrayOfChildren);
/* Releases what the node owns, detaches its children (which stay alive) and the node from
 * its parent, and returns it to the pool. Null is accepted. */
ORVANE_API void OrvaneFreeBlendDagNode(orvane_blend_dag_node* Node);
/* Frees every descendant, depth first, then the node. */
ORVANE_API void OrvaneFreeBlendDagEntireTree(orvane_blend_dag_node* Node);

/* Setters and getters. A type-specific call on a node of another type logs an error and does
 * nothing (getters give null or 0). */
ORVANE_API void OrvaneSetBlendDagNodeAnimationBlend(orvane_blend_dag_node* Node,
                                                    orvane_model_instance* ModelInstance,
                                                    orvane_real32 FillThreshold,
                                                    orvane_bool AutoFree);
ORVANE_API void OrvaneSetBlendDagNodeLocalPose(orvane_blend_dag_node* Node,
                                               orvane_local_pose* LocalPose, orvane_bool AutoFree);
ORVANE_API void OrvaneSetBlendDagNodeCallbacks(
    orvane_blend_dag_node* Node, orvane_blend_dag_sample_callback SampleCallback,
    orvane_blend_dag_set_clock_callback SetClockCallback,
    orvane_blend_dag_motion_vectors_callback MotionVectorsCallback, void* UserData);
ORVANE_API void OrvaneSetBlendDagNodeCrossfade(orvane_blend_dag_node* Node,
                                               orvane_real32 WeightNone, orvane_real32 WeightAll,
                                               const struct orvane_track_mask* TrackMask,
                                               orvane_bool AutoFree);
ORVANE_API void OrvaneSetBlendDagNodeCrossfadeWeights(orvane_blend_dag_node* Node,
                                                      orvane_real32 WeightNone,
                                                      orvane_real32 WeightAll);
ORVANE_API void OrvaneSetBlendDagNodeWeightedBlend(orvane_blend_dag_node* Node,
                                                   const orvane_skeleton* ReferenceSkeleton,
                                                   orvane_real32 FillThreshold,
                                                   orvane_int32 QuaternionMode);
/* Per-bone weights a weighted-blend parent multiplies this node's weight with (null: none). */
ORVANE_API void OrvaneSetBlendDagNodeResultTrackMask(orvane_blend_dag_node* Node,
                                                     const struct orvane_track_mask* TrackMask,
                                                     orvane_bool AutoFree);
ORVANE_API void OrvaneSetBlendDagNodeResultWeight(orvane_blend_dag_node* Node,
                                                  orvane_real32 Weight);
ORVANE_API orvane_real32 OrvaneGetBlendDagNodeResultWeight(const orvane_blend_dag_node* Node);
/* The type; OrvaneDagNodeType_Freed for a null node. */
ORVANE_API orvane_int32 OrvaneGetBlendDagNodeType(const orvane_blend_dag_node* Node);
ORVANE_API orvane_blend_dag_node* OrvaneGetBlendDagNodeParent(const orvane_blend_dag_node* Node);
ORVANE_API const struct orvane_track_mask* OrvaneGetBlendDagNodeResultTrackMask(
    const orvane_blend_dag_node* Node);
ORVANE_API orvane_model_instance* OrvaneGetBlendDagNodeAnimationBlend(
    const orvane_blend_dag_node* Node);
ORVANE_API orvane_local_pose* OrvaneGetBlendDagNodeLocalPose(const orvane_blend_dag_node* Node);
ORVANE_API orvane_blend_dag_sample_callback
OrvaneGetBlendDagNodeCallbackSampleCallback(const orvane_blend_dag_node* Node);
ORVANE_API orvane_blend_dag_set_clock_callback
OrvaneGetBlendDagNodeCallbackSetClockCallback(const orvane_blend_dag_node* Node);
ORVANE_API orvane_blend_dag_motion_vectors_callback
OrvaneGetBlendDagNodeCallbackMotionVectorsCallback(const orvane_blend_dag_node* Node);
ORVANE_API void* OrvaneGetBlendDagNodeCallbackUserData(const orvane_blend_dag_node* Node);
ORVANE_API const struct orvane_track_mask* OrvaneGetBlendDagNodeCrossfadeTrackMask(
    const orvane_blend_dag_node* Node);
ORVANE_API const orvane_skeleton* OrvaneGetBlendDagNodeWeightedBlendSkeleton(
    const orvane_blend_dag_node* Node);
/* True for the three leaf types (below 3); false for null. */
ORVANE_API orvane_bool OrvaneIsBlendDagLeafType(const orvane_blend_dag_node* Node);

/* Children. Child operations on a leaf log an error and do nothing (the count is then -1).
 * A child must be non-null, have no parent and not be the node or one of its ancestors;
 * otherwise the call is refused with an error and nothing changes. */
ORVANE_API orvane_int32 OrvaneGetBlendDagNodeChildrenCount(const orvane_blend_dag_node* Node);
/* Replaces all children; the previous ones are detached. An array listing a node twice is
 * refused. NumChildren 0 clears. */
ORVANE_API void OrvaneSetBlendDagNodeChildren(orvane_blend_dag_node* Node, orvane_int32 NumChildren,
                                              orvane_blend_dag_node** ArrayOfChildren);
/* Copies at most ArraySize children (a warning when they do not all fit); returns the number
 * written. */
ORVANE_API orvane_int32 OrvaneGetBlendDagNodeChildren(const orvane_blend_dag_node* Node,
                                                      orvane_int32 ArraySize,
                                                      orvane_blend_dag_node** ArrayOfChildren);
ORVANE_API void OrvaneClearBlendDagNodeChildren(orvane_blend_dag_node* Node);
/* Replaces entry ChildNumber (in [0, count)); the old child is detached. */
ORVANE_API void OrvaneSetBlendDagNodeChild(orvane_blend_dag_node* Node, orvane_int32 ChildNumber,
                                           orvane_blend_dag_node* Child);
ORVANE_API orvane_blend_dag_node* OrvaneGetBlendDagNodeChild(const orvane_blend_dag_node* Node,
                                                             orvane_int32 ChildNumber);
ORVANE_API void OrvaneAddBlendDagNodeChild(orvane_blend_dag_node* Node,
                                           orvane_blend_dag_node* Child);
/* Removes the child, which must have this node as parent. */
ORVANE_API void OrvaneRemoveBlendDagNodeChild(orvane_blend_dag_node* Node,
                                              orvane_blend_dag_node* Child);

/* The calling thread's pose cache: room for max(PoseCount, 16) poses of BoneCount bones. */
ORVANE_API void OrvanePrimeBlendDagLocalPoseCache(orvane_int32 BoneCount, orvane_int32 PoseCount);
/* Frees the calling thread's pose cache; poses it returned become invalid. */
ORVANE_API void OrvaneFreeBlendDagLocalPoseCache(void);
/* An application-owned cache, for sampling on threads the application does not want to hold
 * a cache, or several results alive at once. Null when memory runs out. */
ORVANE_API orvane_blend_dag_pose_cache* OrvaneNewBlendDagPoseCache(void);
ORVANE_API void OrvaneFreeBlendDagPoseCache(orvane_blend_dag_pose_cache* Cache);
/* Room for max(PoseCount, 16) poses as above. False (logged) when memory runs out or
 * BoneCount is negative. */
ORVANE_API orvane_bool OrvanePrimeBlendDagPoseCache(orvane_blend_dag_pose_cache* Cache,
                                                    orvane_int32 BoneCount, orvane_int32 PoseCount);

/* Samples the tree into a pose of BoneCount entries (entry i is skeleton bone
 * SparseBoneArray[i] when that array is given, else bone i). The result belongs to the cache,
 * to a local-pose leaf or to the application (a callback's pose): read it, do not free it.
 * Null (logged) for a node outside the types, no memory, a crossfade without children, a
 * weighted blend without skeleton, bone or sparse indices outside a skeleton, a child pose
 * with fewer than BoneCount bones, or a callback that returns null. */
ORVANE_API orvane_local_pose* OrvaneSampleBlendDagTreeLODSparse(
    orvane_blend_dag_node* Node, orvane_int32 BoneCount, orvane_real32 AllowedError,
    const orvane_int32* SparseBoneArray);
ORVANE_API orvane_local_pose* OrvaneSampleBlendDagTreeLOD(orvane_blend_dag_node* Node,
                                                          orvane_int32 BoneCount,
                                                          orvane_real32 AllowedError);
ORVANE_API orvane_local_pose* OrvaneSampleBlendDagTree(orvane_blend_dag_node* Node,
                                                       orvane_int32 BoneCount);
ORVANE_API orvane_local_pose* OrvaneSampleBlendDagTreeLODSparseWithCache(
    orvane_blend_dag_pose_cache* Cache, orvane_blend_dag_node* Node, orvane_int32 BoneCount,
    orvane_real32 AllowedError, const orvane_int32* SparseBoneArray);

/* Root motion of the tree over the last SecondsElapsed, blended as the poses are (the mask
 * weight of bone 0 stands for the whole). Translation in model units, rotation as a rotation
 * vector. */
ORVANE_API void OrvaneGetBlendDagTreeMotionVectors(orvane_blend_dag_node* Node,
                                                   orvane_real32 SecondsElapsed,
                                                   orvane_real32 ResultTranslation[3],
                                                   orvane_real32 ResultRotation[3],
                                                   orvane_bool Inverse);
/* Dest = motion * Model; Dest may be Model. */
ORVANE_API void OrvaneUpdateBlendDagTreeMatrix(orvane_blend_dag_node* Node,
                                               orvane_real32 SecondsElapsed,
                                               const orvane_real32 ModelMatrix4x4[16],
                                               orvane_real32 DestMatrix4x4[16],
                                               orvane_bool Inverse);
/* OrvaneSetModelClock for every instance leaf, the clock callback of every callback leaf. */
ORVANE_API void OrvaneSetBlendDagTreeClock(orvane_blend_dag_node* Node, orvane_real32 NewClock);
ORVANE_API void OrvaneBlendDagNodeAnimationBlendFreeCompletedControls(orvane_blend_dag_node* Node);
ORVANE_API void OrvaneBlendDagFreeCompletedControlsEntireTree(orvane_blend_dag_node* Node);

/* A copy of the tree: instance leaves get new instances of the same model (no controls),
 * owned when AutoFreeCreatedModelInstances; owned poses and masks are copied, others shared.
 * DestNodeList[i] receives the copy of SourceNodeList[i] (null when that node is not in the
 * tree). Null on failure, with nothing left allocated; a crossfade with more than two
 * children is refused. */
ORVANE_API orvane_blend_dag_node* OrvaneDuplicateBlendDagTree(
    const orvane_blend_dag_node* Node, const orvane_blend_dag_node** SourceNodeList,
    orvane_blend_dag_node** DestNodeList, orvane_int32 NodeListCount,
    orvane_bool AutoFreeCreatedModelInstances);
/* The first broken rule sets *ReasonFailed and *NodeFailed (either may be null). The tree
 * form checks every child's subtree, in order, before the node. */
ORVANE_API orvane_bool OrvaneIsBlendDagNodeValid(const orvane_blend_dag_node* Node,
                                                 const char** ReasonFailed,
                                                 const orvane_blend_dag_node** NodeFailed);
ORVANE_API orvane_bool OrvaneIsBlendDagTreeValid(const orvane_blend_dag_node* Node,
                                                 const char** ReasonFailed,
                                                 const orvane_blend_dag_node** NodeFailed);
/* 1 for a leaf or a childless node, else 1 + the deepest child; 0 for null. */
ORVANE_API orvane_int32 OrvaneFindBlendDagTreeDepth(const orvane_blend_dag_node* Node);

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_BLEND_GRAPH_H */

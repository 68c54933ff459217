// The blend graph node record and its pose cache, shared by the node module and the sampling
// module.
#ifndef ORVANE_BLEND_GRAPH_H
#define ORVANE_BLEND_GRAPH_H

#include "core/orvane_private.h"
#include "orvane/blend_graph.h"
#include "orvane/track_mask.h"

#include <cstddef>
#include <cstdint>

// The type-specific part, one member per type. Pointers keep their native size.
struct orvane_blend_dag_animation_blend {
    orvane_model_instance* ModelInstance;
    float FillThreshold;
    bool OwnsModelInstance;
};
struct orvane_blend_dag_local_pose {
    orvane_local_pose* LocalPose;
    bool OwnsLocalPose;
};
struct orvane_blend_dag_callback {
    orvane_blend_dag_sample_callback SampleCallback;
    orvane_blend_dag_set_clock_callback SetClockCallback;
    orvane_blend_dag_motion_vectors_callback MotionVectorsCallback;
    void* UserData;
};
struct orvane_blend_dag_crossfade {
    float WeightNone;
    float WeightAll;
    const orvane_track_mask* TrackMask;
    bool OwnsTrackMask;
};
struct orvane_blend_dag_weighted_blend {
    const orvane_skeleton* ReferenceSkeleton;
    int32_t QuaternionMode;
    float FillThreshold;
};

struct orvane_blend_dag_node {
    orvane_blend_dag_node* ParentNode;
    int32_t NumChildNodes;
    orvane_blend_dag_node** ChildNodes;  // exactly NumChildNodes long, null when empty
    float Weight;
    const orvane_track_mask* ResultTrackMask;
    bool OwnsResultTrackMask;
    int32_t Type;
    union {
        orvane_blend_dag_animation_blend AnimationBlend;
        orvane_blend_dag_local_pose LocalPose;
        orvane_blend_dag_callback Callback;
        orvane_blend_dag_crossfade Crossfade;
        orvane_blend_dag_weighted_blend WeightedBlend;
    };
};

// A chain of memory blocks, newest first; poses are built in place one after another.
struct orvane_blend_dag_pose_block {
    orvane_blend_dag_pose_block* Next;
    size_t Capacity;  // bytes
    size_t Used;      // bytes
    unsigned char* Memory;
};

struct orvane_blend_dag_pose_cache {
    orvane_blend_dag_pose_block* First;
    // Samplings under way through this cache: more than one when a sample callback samples
    // another tree through it.
    int32_t SamplingDepth;
};

namespace orvane {

inline bool IsLeafType(int32_t type) {
    return type >= 0 && type < 3;
}

// The weight of a mask at a bone through the same rule as OrvaneGetTrackMaskBoneWeight: masks
// without a weight array (the exported identity and null masks) give their default.
inline float MaskWeight(const orvane_track_mask* mask, int32_t bone) {
    if (bone >= 0 && bone < mask->BoneCount && mask->BoneWeights != nullptr)
        return mask->BoneWeights[bone];
    return mask->DefaultWeight;
}

}  // namespace orvane

#endif  // ORVANE_BLEND_GRAPH_H

// The local pose record, for the modules that sample, blend and compose poses.
#ifndef ORVANE_LOCAL_POSE_H
#define ORVANE_LOCAL_POSE_H

#include "core/orvane_private.h"
#include "orvane/local_pose.h"

#include <cstdint>

// One entry per bone. An entry belongs to the current pass exactly when its TraversalID
// equals the pose's, so opening a pass never clears the entries.
struct orvane_local_pose_bone {
    float Weight;                // total weight accumulated in the entry's last pass
    int32_t Count;               // transforms accumulated in that pass
    orvane_transform Transform;  // while a pass is open: the weighted sum
    int32_t TraversalID;
};

struct orvane_local_pose {
    int32_t BoneCount;
    orvane_local_pose_bone* Bones;  // right after the header, in the same block
    float FillThreshold;
    int32_t TraversalID;
};

namespace orvane {

inline constexpr float kDefaultFillThreshold = 0.2f;

// The accumulation step of OrvaneAccumulateLocalTransform with the orientation weight
// already signed and the indices already checked; for samplers that check once per binding.
// The scale/shear sum of an entry whose flag is clear is not kept until End (End writes the
// identity), so a caller must not read it before the pass is closed.
void AccumulateUnchecked(orvane_local_pose& pose, orvane_local_pose_bone& entry, float weight,
                         float orientationWeight, const orvane_transform& transform);

// The orientation weight of the neighbourhood mode: negated when the incoming orientation
// lies on the far side of the rest orientation.
inline float NeighborhoodWeight(float weight, const float rest[4], const float incoming[4]) {
    const float dot = rest[0] * incoming[0] + rest[1] * incoming[1] + rest[2] * incoming[2] +
                      rest[3] * incoming[3];
    return dot < 0.0f ? -weight : weight;
}

}  // namespace orvane

#endif  // ORVANE_LOCAL_POSE_H

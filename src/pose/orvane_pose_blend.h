// The blend of several sources straight into a local pose, in one pass over the bones: per bone
// the weighted sums of every source stay in registers and the entry is written once, finished.
// The result is the one an accumulation pass (begin, each source's transforms accumulated in
// turn, end) leaves, to the bit: the same products and sums in the same order.
#ifndef ORVANE_POSE_BLEND_H
#define ORVANE_POSE_BLEND_H

#include "core/orvane_private.h"
#include "orvane/local_pose.h"

#include <cstdint>

namespace orvane {

// How a source's orientation weight takes its sign for one bone: as the track binding's
// quaternion mode says (OrvaneQuaternionBlend*), or fixed in advance (kBlendSignFixed, for a
// transform that never changes).
inline constexpr int32_t kBlendSignFixed = -1;

// The most sources one pass blends.
inline constexpr int32_t kMostBlendSources = 8;

struct BlendSourceBone {
    const orvane_transform* transform;  // null: the source leaves the bone alone
    // The orientation weight's sign, except in the neighbourhood mode (where the transform's
    // side of the rest orientation sets it): fixed in advance, -1 inverted, 1 direct.
    float sign;
    int32_t mode;  // an OrvaneQuaternionBlend* mode or kBlendSignFixed
};

struct BlendSource {
    float weight;                  // above 0
    int32_t boneCount;             // bones [0, boneCount) have entries in bones
    const BlendSourceBone* bones;  // in pose order
};

// Opens an accumulation pass on pose, blends the sources (at most kMostBlendSources) in order into
// bones [firstBone, end) and closes the pass there (bones no source touches show the skeleton's
// rest transform). The range lies within the pose and the skeleton, and the sources' transforms are
// valid: the caller checked them once.
void BlendSourcesIntoPose(orvane_local_pose& pose, const orvane_skeleton& skeleton,
                          int32_t firstBone, int32_t end, const BlendSource* sources,
                          int32_t sourceCount);

}  // namespace orvane

#endif  // ORVANE_POSE_BLEND_H

// The blend of several sources straight into a local pose, in one pass over the bones: per bone
// the weighted sums of every source stay in registers and the entry is written once, finished.
// The result is the one an accumulation pass (begin, each source's transforms accumulated in
// turn, end) leaves, to the bit: the same products and sums in the same order.
#ifndef ORVANE_POSE_BLEND_H
#define ORVANE_POSE_BLEND_H

#include "core/orvane_private.h"
#include "orvane/local_pose.h"
#include "pose/orvane_local_pose.h"

#include <cstddef>
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
    // Per bone below boneCount, whether its transform (and sign) never change while the source
    // lives; null: none is known to be fixed.
    const uint8_t* fixed;
    // Names the source for the memo: no other source, before or after, has the same serial.
    // 0: the source is not remembered.
    uint64_t serial;
};

// What a pass finished for the bones whose every source is fixed, kept from one call to the
// next for sources, weights, fill threshold and range that repeat: such a bone's entry is then
// copied instead of blended again. It is filled on the second call with the same key (a key
// that changes every call costs the comparison alone). One memo serves one skeleton and one
// caller at a time.
struct BlendMemo {
    int32_t boneCount;  // the entries' capacity: the skeleton's bones
    int32_t sourceCount;
    uint64_t serials[kMostBlendSources];
    float weights[kMostBlendSources];
    float threshold;
    int32_t firstBone, end;
    bool filled;                      // the entries hold the finished bones for the key
    uint8_t* fixed;                   // per bone: every source fixed when filled
    orvane_local_pose_bone* entries;  // per bone
};

// The bytes of a memo for boneCount bones (16-byte aligned memory), and its setting up there.
size_t BlendMemoBytes(int32_t boneCount);
BlendMemo* InitBlendMemo(void* memory, int32_t boneCount);

// Opens an accumulation pass on pose, blends the sources (at most kMostBlendSources) in order into
// bones [firstBone, end) and closes the pass there (bones no source touches show the skeleton's
// rest transform). The range lies within the pose and the skeleton, and the sources' transforms are
// valid: the caller checked them once. memo (may be null) is the caller's memo for the
// skeleton; the result is the same with or without it.
void BlendSourcesIntoPose(orvane_local_pose& pose, const orvane_skeleton& skeleton,
                          int32_t firstBone, int32_t end, const BlendSource* sources,
                          int32_t sourceCount, BlendMemo* memo = nullptr);

}  // namespace orvane

#endif  // ORVANE_POSE_BLEND_H

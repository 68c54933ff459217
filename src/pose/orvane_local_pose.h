// The local pose record, for the modules that sample, blend and compose poses.
#ifndef ORVANE_LOCAL_POSE_H
#define ORVANE_LOCAL_POSE_H

#include "core/orvane_private.h"
#include "orvane/local_pose.h"
#include "math/orvane_math_internal.h"

#include <cmath>
#include <cstring>

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

// The accumulation step, in line for the samplers' per-bone loops.
namespace accumulation {

inline constexpr uint32_t kScaleShear = OrvaneTransformHasScaleShear;

// Within a pass the scale/shear sum of an entry is held only once a contribution with
// scale/shear has arrived (the entry's flag says so); until then it is implicitly the entry's
// weight times the identity, and End writes the identity itself. Most tracks have no
// scale/shear, and the nine multiply-adds per contribution were a third of the work.
[[gnu::always_inline]] inline void MaterialiseScaleShear(float* s, float weight) {
    s[0] = weight, s[1] = 0.0f, s[2] = 0.0f;
    s[3] = 0.0f, s[4] = weight, s[5] = 0.0f;
    s[6] = 0.0f, s[7] = 0.0f, s[8] = weight;
}

// Adds a contribution to an entry already touched in the pass. Eager keeps the identity
// sums of flagless entries as well (the public single accumulation, whose caller may read
// the sums before End). The loops are unrolled so that the sums stay in registers between
// the loads and the stores.
// Orientations move as one 16-byte vector, positions as three single floats: the samplers
// store them that way just before they are accumulated, and a load that spans stores of
// another width cannot be forwarded from the store buffer.
using Float4 = float __attribute__((vector_size(16)));

[[gnu::always_inline]] inline Float4 Load4(const float* p) {
    Float4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

[[gnu::always_inline]] inline void Store4(float* p, Float4 v) {
    std::memcpy(p, &v, sizeof v);
}

// The nine scale/shear sums of the public accumulation as two 4-wide steps and one single:
// the same products and sums per element, in a third of the instructions. The samplers keep
// the single-float loop, whose freshly stored inputs a wider load could not forward.
[[gnu::always_inline]] inline void AddScaleShear9(float* s, float weight, const float* ts) {
    Store4(s, Load4(s) + weight * Load4(ts));
    Store4(s + 4, Load4(s + 4) + weight * Load4(ts + 4));
    s[8] += weight * ts[8];
}

[[gnu::always_inline]] inline void ScaleShear9(float* s, float weight, const float* ts) {
    Store4(s, weight * Load4(ts));
    Store4(s + 4, weight * Load4(ts + 4));
    s[8] = weight * ts[8];
}

template <bool Eager>
[[gnu::always_inline]] inline void AddScaled(orvane_local_pose_bone& e, float weight,
                                             float orientationWeight, const orvane_transform& t) {
    orvane_transform& sum = e.Transform;
    const uint32_t had = sum.Flags, adds = t.Flags;
    sum.Flags = had | adds;
    const float p0 = t.Position[0], p1 = t.Position[1], p2 = t.Position[2];
    sum.Position[0] += weight * p0;
    sum.Position[1] += weight * p1;
    sum.Position[2] += weight * p2;
    Store4(sum.Orientation, Load4(sum.Orientation) + orientationWeight * Load4(t.Orientation));
    float* s = ScaleShearOf(sum);
    const float* ts = ScaleShearOf(t);
    if (adds & kScaleShear) {
        if (!(had & kScaleShear)) MaterialiseScaleShear(s, e.Weight);
        if constexpr (Eager) {
            AddScaleShear9(s, weight, ts);
        } else {
#pragma GCC unroll 9
            for (int i = 0; i < 9; ++i)
                s[i] += weight * ts[i];
        }
    } else if (had & kScaleShear) {
        s[0] += weight;
        s[4] += weight;
        s[8] += weight;
    } else if (Eager) {
        AddScaleShear9(s, weight, ts);
    }
}

template <bool Eager>
[[gnu::always_inline]] inline void Accumulate(orvane_local_pose& pose, orvane_local_pose_bone& e,
                                              float weight, float orientationWeight,
                                              const orvane_transform& t) {
    if (e.TraversalID == pose.TraversalID) {
        AddScaled<Eager>(e, weight, orientationWeight, t);
        e.Count += 1;
        e.Weight += weight;
        return;
    }
    const uint32_t flags = t.Flags;
    const float p0 = t.Position[0], p1 = t.Position[1], p2 = t.Position[2];
    e.Transform.Flags = flags;
    float* s = ScaleShearOf(e.Transform);
    const float* ts = ScaleShearOf(t);
    if (weight == 1.0f) {
        // A copy of the transform (its scale/shear only when it has one, or for the public
        // accumulation).
        e.Transform.Position[0] = p0;
        e.Transform.Position[1] = p1;
        e.Transform.Position[2] = p2;
        if (Eager || (flags & kScaleShear)) std::memcpy(s, ts, 9 * sizeof(float));
    } else {
        e.Transform.Position[0] = weight * p0;
        e.Transform.Position[1] = weight * p1;
        e.Transform.Position[2] = weight * p2;
        if constexpr (Eager) {
            ScaleShear9(s, weight, ts);
        } else if (flags & kScaleShear) {
#pragma GCC unroll 9
            for (int i = 0; i < 9; ++i)
                s[i] = weight * ts[i];
        }
    }
    Store4(e.Transform.Orientation, orientationWeight * Load4(t.Orientation));
    e.Weight = weight;
    e.Count = 1;
    e.TraversalID = pose.TraversalID;
}

// The factor that brings a quaternion of squared length s2 to unit length. Near unit length
// two Newton steps of 1/sqrt from 1 replace the square root.
inline float NormalisingFactor(float s2) {
    if (s2 >= 0.9f && s2 <= 1.1f) {
        const float a = 3.0f - s2;
        return a * (12.0f - s2 * (a * a)) * 0.0625f;
    }
    return 1.0f / std::sqrt(s2);
}

}  // namespace accumulation

// Closes one entry touched in the pass that is open: the fill toward the rest transform below
// the pose's fill threshold, the division by the weight and the orientation's normalisation.
void FinishLocalPoseEntry(const orvane_local_pose& pose, orvane_local_pose_bone& e,
                          const orvane_transform& rest);

// The accumulation step of OrvaneAccumulateLocalTransform with the orientation weight
// already signed and the indices already checked; for samplers that check once per binding.
// The scale/shear sum of an entry whose flag is clear is not kept until End (End writes the
// identity), so a caller must not read it before the pass is closed.
[[gnu::always_inline]] inline void AccumulateUnchecked(orvane_local_pose& pose,
                                                       orvane_local_pose_bone& entry, float weight,
                                                       float orientationWeight,
                                                       const orvane_transform& transform) {
    accumulation::Accumulate<false>(pose, entry, weight, orientationWeight, transform);
}

// The orientation weight of the neighbourhood mode: negated when the incoming orientation
// lies on the far side of the rest orientation.
inline float NeighborhoodWeight(float weight, const float rest[4], const float incoming[4]) {
    const float dot = rest[0] * incoming[0] + rest[1] * incoming[1] + rest[2] * incoming[2] +
                      rest[3] * incoming[3];
    return dot < 0.0f ? -weight : weight;
}

}  // namespace orvane

#endif  // ORVANE_LOCAL_POSE_H

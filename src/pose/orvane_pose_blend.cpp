// The one-pass blend of several sources into a local pose.
#include "pose/orvane_pose_blend.h"

#include "pose/orvane_local_pose.h"
#include "pose/orvane_skeleton.h"

namespace orvane {
namespace {

using namespace accumulation;

// The orientation weight of a source's transform t for a bone resting at rest.
[[gnu::always_inline]] inline float OrientationWeight(const BlendSourceBone& b, float weight,
                                                      const orvane_transform& rest,
                                                      const orvane_transform& t) {
    if (b.mode == kBlendSignFixed) return b.sign * weight;
    if (b.mode == OrvaneQuaternionBlendInverted) return -weight;
    if (b.mode == OrvaneQuaternionBlendNeighborhood)
        return NeighborhoodWeight(weight, rest.Orientation, t.Orientation);
    return weight;
}

// The blend of N sources (N 0: sourceCount of them). The sources' fields are copied into locals
// first: read through the pointer they would be read again for every bone, since the entries'
// stores might alias them.
template <int N>
void BlendRange(orvane_local_pose& pose, const orvane_skeleton& skeleton, int32_t firstBone,
                int32_t end, const BlendSource* sources, int32_t sourceCount) {
    const int32_t n = N > 0 ? N : sourceCount;
    float weights[kMostBlendSources];
    int32_t boneCounts[kMostBlendSources];
    const BlendSourceBone* bones[kMostBlendSources];
    for (int32_t k = 0; k < n; ++k) {
        weights[k] = sources[k].weight;
        boneCounts[k] = sources[k].boneCount;
        bones[k] = sources[k].bones;
    }
    const int32_t id = pose.TraversalID;
    const float threshold = pose.FillThreshold;
    for (int32_t i = firstBone; i < end; ++i) {
        orvane_local_pose_bone& e = pose.Bones[i];
        const orvane_transform& rest = RestTransform(skeleton, i);
        // The sums, as the accumulation keeps them: the first contribution scaled, the others
        // added in the sources' order.
        float weight = 0.0f, p0 = 0.0f, p1 = 0.0f, p2 = 0.0f;
        Float4 q = {0.0f, 0.0f, 0.0f, 0.0f};
        uint32_t flags = 0;
        int32_t count = 0;
        for (int32_t k = 0; k < n; ++k) {
            if (i >= boneCounts[k]) continue;
            const BlendSourceBone& b = bones[k][i];
            if (b.transform == nullptr) continue;
            const orvane_transform& t = *b.transform;
            const float w = weights[k];
            const float ow = OrientationWeight(b, w, rest, t);
            flags |= t.Flags;
            if (count == 0) {
                p0 = w * t.Position[0];
                p1 = w * t.Position[1];
                p2 = w * t.Position[2];
                q = ow * Load4(t.Orientation);
                weight = w;
            } else {
                p0 += w * t.Position[0];
                p1 += w * t.Position[1];
                p2 += w * t.Position[2];
                q += ow * Load4(t.Orientation);
                weight += w;
            }
            ++count;
        }
        if (count == 0) {
            e.Transform = rest;
            continue;
        }
        if (flags & kScaleShear) {
            // Scale/shear sums (rare): the entry accumulates them as a pass would.
            for (int32_t k = 0; k < n; ++k) {
                if (i >= boneCounts[k] || bones[k][i].transform == nullptr) continue;
                const orvane_transform& t = *bones[k][i].transform;
                AccumulateUnchecked(pose, e, weights[k],
                                    OrientationWeight(bones[k][i], weights[k], rest, t), t);
            }
            FinishLocalPoseEntry(pose, e, rest);
            continue;
        }
        e.Weight = weight;
        e.Count = count;
        e.TraversalID = id;
        orvane_transform& r = e.Transform;
        r.Flags = flags;
        const float s2 = q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3];
        if (!(weight >= threshold && weight != 0.0f && s2 > 0.0f)) {
            // A fill toward the rest transform, or nothing to normalise by.
            r.Position[0] = p0;
            r.Position[1] = p1;
            r.Position[2] = p2;
            Store4(r.Orientation, q);
            FinishLocalPoseEntry(pose, e, rest);
            continue;
        }
        if (!(count == 1 && weight == 1.0f)) {
            const float inverse = 1.0f / weight;
            p0 *= inverse;
            p1 *= inverse;
            p2 *= inverse;
        }
        r.Position[0] = p0;
        r.Position[1] = p1;
        r.Position[2] = p2;
        Store4(r.Orientation, q * NormalisingFactor(s2));
        MaterialiseScaleShear(ScaleShearOf(r), 1.0f);
    }
}

}  // namespace

void BlendSourcesIntoPose(orvane_local_pose& pose, const orvane_skeleton& skeleton,
                          int32_t firstBone, int32_t end, const BlendSource* sources,
                          int32_t sourceCount) {
    // The pass opens as OrvaneBeginLocalPoseAccumulation opens it.
    uint32_t next = static_cast<uint32_t>(pose.TraversalID) + 1u;
    if (next == 0xFFFFFFFFu) next = 0;
    pose.TraversalID = static_cast<int32_t>(next);
    if (sourceCount == 1)
        BlendRange<1>(pose, skeleton, firstBone, end, sources, 1);
    else if (sourceCount == 2)
        BlendRange<2>(pose, skeleton, firstBone, end, sources, 2);
    else
        BlendRange<0>(pose, skeleton, firstBone, end, sources, sourceCount);
}

}  // namespace orvane

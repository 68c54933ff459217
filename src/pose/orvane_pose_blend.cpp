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

}  // namespace

void BlendSourcesIntoPose(orvane_local_pose& pose, const orvane_skeleton& skeleton,
                          int32_t firstBone, int32_t end, const BlendSource* sources,
                          int32_t sourceCount) {
    // The pass opens as OrvaneBeginLocalPoseAccumulation opens it.
    uint32_t next = static_cast<uint32_t>(pose.TraversalID) + 1u;
    if (next == 0xFFFFFFFFu) next = 0;
    pose.TraversalID = static_cast<int32_t>(next);
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
        for (int32_t k = 0; k < sourceCount; ++k) {
            const BlendSource& source = sources[k];
            if (i >= source.boneCount) continue;
            const BlendSourceBone& b = source.bones[i];
            if (b.transform == nullptr) continue;
            const orvane_transform& t = *b.transform;
            const float w = source.weight;
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
            for (int32_t k = 0; k < sourceCount; ++k) {
                const BlendSource& source = sources[k];
                if (i >= source.boneCount || source.bones[i].transform == nullptr) continue;
                const orvane_transform& t = *source.bones[i].transform;
                AccumulateUnchecked(pose, e, source.weight,
                                    OrientationWeight(source.bones[i], source.weight, rest, t), t);
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

}  // namespace orvane

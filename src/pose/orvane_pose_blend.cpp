// The one-pass blend of several sources into a local pose.
#include "pose/orvane_pose_blend.h"

#include "pose/orvane_local_pose.h"
#include "pose/orvane_skeleton.h"

#include <cstring>

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

// The sources' fields in locals: read through the pointer they would be read again for every
// bone, since the entries' stores might alias them.
struct SourceFields {
    float weights[kMostBlendSources];
    int32_t boneCounts[kMostBlendSources];
    const BlendSourceBone* bones[kMostBlendSources];
};

// Blends bone i of N sources (N 0: n of them) into its entry and finishes it. Returns false when
// no source touches the bone (the entry's transform is then the rest transform, the rest of the
// entry as it was).
template <int N>
[[gnu::always_inline]] inline bool BlendBone(orvane_local_pose& pose, const SourceFields& f,
                                             int32_t n, int32_t i, const orvane_transform& rest) {
    orvane_local_pose_bone& e = pose.Bones[i];
    // The sums, as the accumulation keeps them: the first contribution scaled, the others
    // added in the sources' order.
    float weight = 0.0f, p0 = 0.0f, p1 = 0.0f, p2 = 0.0f;
    Float4 q = {0.0f, 0.0f, 0.0f, 0.0f};
    uint32_t flags = 0;
    int32_t count = 0;
    for (int32_t k = 0; k < (N > 0 ? N : n); ++k) {
        if (i >= f.boneCounts[k]) continue;
        const BlendSourceBone& b = f.bones[k][i];
        if (b.transform == nullptr) continue;
        const orvane_transform& t = *b.transform;
        const float w = f.weights[k];
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
        return false;
    }
    if (flags & kScaleShear) {
        // Scale/shear sums (rare): the entry accumulates them as a pass would.
        for (int32_t k = 0; k < (N > 0 ? N : n); ++k) {
            if (i >= f.boneCounts[k] || f.bones[k][i].transform == nullptr) continue;
            const orvane_transform& t = *f.bones[k][i].transform;
            AccumulateUnchecked(pose, e, f.weights[k],
                                OrientationWeight(f.bones[k][i], f.weights[k], rest, t), t);
        }
        FinishLocalPoseEntry(pose, e, rest);
        return true;
    }
    e.Weight = weight;
    e.Count = count;
    e.TraversalID = pose.TraversalID;
    orvane_transform& r = e.Transform;
    r.Flags = flags;
    const float s2 = q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3];
    if (!(weight >= pose.FillThreshold && weight != 0.0f && s2 > 0.0f)) {
        // A fill toward the rest transform, or nothing to normalise by.
        r.Position[0] = p0;
        r.Position[1] = p1;
        r.Position[2] = p2;
        Store4(r.Orientation, q);
        FinishLocalPoseEntry(pose, e, rest);
        return true;
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
    return true;
}

// How a pass uses the memo: not at all, to fill it, or to copy from it.
enum class MemoUse { kNone, kFill, kCopy };

template <int N>
void BlendRange(orvane_local_pose& pose, const orvane_skeleton& skeleton, int32_t firstBone,
                int32_t end, const BlendSource* sources, int32_t sourceCount, BlendMemo* memo,
                MemoUse use) {
    const int32_t n = N > 0 ? N : sourceCount;
    SourceFields f;
    for (int32_t k = 0; k < n; ++k) {
        f.weights[k] = sources[k].weight;
        f.boneCounts[k] = sources[k].boneCount;
        f.bones[k] = sources[k].bones;
    }
    if (use == MemoUse::kCopy) {
        const int32_t id = pose.TraversalID;
        const uint8_t* fixed = memo->fixed;
        const orvane_local_pose_bone* entries = memo->entries;
        for (int32_t i = firstBone; i < end; ++i) {
            if (fixed[i]) {
                orvane_local_pose_bone& e = pose.Bones[i];
                e = entries[i];
                e.TraversalID = id;
                continue;
            }
            BlendBone<N>(pose, f, n, i, RestTransform(skeleton, i));
        }
        return;
    }
    for (int32_t i = firstBone; i < end; ++i) {
        const bool whole = BlendBone<N>(pose, f, n, i, RestTransform(skeleton, i));
        if (use == MemoUse::kFill && memo->fixed[i]) {
            // A bone no source touches keeps the rest of its entry: it is blended each time.
            if (whole)
                memo->entries[i] = pose.Bones[i];
            else
                memo->fixed[i] = 0;
        }
    }
}

// Whether two numbers are the same bits (a weight of -0 or a NaN is not another's).
inline bool SameBits(float a, float b) {
    uint32_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y;
}

// Whether the memo's key is the call's; it becomes the call's key when it is not.
bool SameKey(BlendMemo& m, const orvane_local_pose& pose, int32_t firstBone, int32_t end,
             const BlendSource* sources, int32_t sourceCount) {
    bool same = m.sourceCount == sourceCount && m.firstBone == firstBone && m.end == end &&
                SameBits(m.threshold, pose.FillThreshold);
    for (int32_t k = 0; same && k < sourceCount; ++k)
        same = m.serials[k] == sources[k].serial && sources[k].serial != 0 &&
               SameBits(m.weights[k], sources[k].weight);
    if (same) return true;
    m.sourceCount = sourceCount;
    m.firstBone = firstBone;
    m.end = end;
    m.threshold = pose.FillThreshold;
    for (int32_t k = 0; k < sourceCount; ++k) {
        m.serials[k] = sources[k].serial;
        m.weights[k] = sources[k].weight;
    }
    m.filled = false;
    return false;
}

// The bones of the range whose every source is fixed (a source that leaves a bone alone counts
// as fixed for it).
void MarkFixedBones(BlendMemo& m, int32_t firstBone, int32_t end, const BlendSource* sources,
                    int32_t sourceCount) {
    for (int32_t i = firstBone; i < end; ++i) {
        uint8_t fixed = 1;
        for (int32_t k = 0; k < sourceCount && fixed; ++k) {
            const BlendSource& s = sources[k];
            if (i < s.boneCount && s.bones[i].transform != nullptr)
                fixed = s.fixed != nullptr && s.fixed[i] != 0;
        }
        m.fixed[i] = fixed;
    }
}

template <int N>
void Blend(orvane_local_pose& pose, const orvane_skeleton& skeleton, int32_t firstBone, int32_t end,
           const BlendSource* sources, int32_t sourceCount, BlendMemo* memo) {
    MemoUse use = MemoUse::kNone;
    if (memo != nullptr && sourceCount > 0 && end <= memo->boneCount) {
        if (!SameKey(*memo, pose, firstBone, end, sources, sourceCount)) {
            use = MemoUse::kNone;
        } else if (memo->filled) {
            use = MemoUse::kCopy;
        } else {
            MarkFixedBones(*memo, firstBone, end, sources, sourceCount);
            memo->filled = true;
            use = MemoUse::kFill;
        }
    }
    BlendRange<N>(pose, skeleton, firstBone, end, sources, sourceCount, memo, use);
}

}  // namespace

void BlendSourcesIntoPose(orvane_local_pose& pose, const orvane_skeleton& skeleton,
                          int32_t firstBone, int32_t end, const BlendSource* sources,
                          int32_t sourceCount, BlendMemo* memo) {
    // The pass opens as OrvaneBeginLocalPoseAccumulation opens it.
    uint32_t next = static_cast<uint32_t>(pose.TraversalID) + 1u;
    if (next == 0xFFFFFFFFu) next = 0;
    pose.TraversalID = static_cast<int32_t>(next);
    if (sourceCount == 1)
        Blend<1>(pose, skeleton, firstBone, end, sources, 1, memo);
    else if (sourceCount == 2)
        Blend<2>(pose, skeleton, firstBone, end, sources, 2, memo);
    else
        Blend<0>(pose, skeleton, firstBone, end, sources, sourceCount, memo);
}

// The memo's header, rounded up to the entries' 16-byte alignment.
constexpr size_t kMemoHeaderBytes = (sizeof(BlendMemo) + 15) & ~size_t(15);

size_t BlendMemoBytes(int32_t boneCount) {
    return kMemoHeaderBytes + size_t(boneCount) * (sizeof(orvane_local_pose_bone) + 1);
}

BlendMemo* InitBlendMemo(void* memory, int32_t boneCount) {
    std::memset(memory, 0, BlendMemoBytes(boneCount));
    auto* m = static_cast<BlendMemo*>(memory);
    char* base = static_cast<char*>(memory);
    m->boneCount = boneCount;
    m->sourceCount = -1;  // no call's key
    m->entries = reinterpret_cast<orvane_local_pose_bone*>(base + kMemoHeaderBytes);
    m->fixed = reinterpret_cast<uint8_t*>(m->entries + boneCount);
    return m;
}

}  // namespace orvane

// Object-space error measures of the animation compressor: how far a bone's curves leave its
// shell points and its children's origins from the samples, at the frames and halfway between
// them, and the compact curves' bit depths lowered to what that error allows.
#include "track/offline/orvane_compression_error.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "core/orvane_memory.h"
#include "curve/offline/orvane_curve_fitter.h"
#include "math/orvane_math_internal.h"
#include "orvane/math.h"
#include "orvane/track_group_builder.h"
#include "track/offline/orvane_segment_depths.h"

namespace orvane {
namespace compression {

void ShellPoints(const orvane_transform& t, float shell, float* points) {
    // OrvaneTransformPoint's operations, with the rotation's matrix made once for the three.
    float r[9];
    scalar::RotationMatrix(r, t.Orientation);
    for (int axis = 0; axis < 3; ++axis) {
        float point[3] = {0.0f, 0.0f, 0.0f};
        point[axis] = shell;
        float scaled[3];
        Transform3x3(scaled, ScaleShearOf(t), point);
        float* out = points + 3 * axis;
        Transform3x3(out, r, scaled);
        out[0] += t.Position[0];
        out[1] += t.Position[1];
        out[2] += t.Position[2];
    }
}

namespace {

// The bone's error halfway between frames f and f + 1 for its local transform there: at the
// shell points, and at its children's origins (weighed up as at the frames), each beyond the
// bend that smooth paths through the neighbouring frames take there; its object transform
// into *object.
float MidErrorAt(Work& work, const orvane_skeleton* skeleton, orvane_track_group_sampler* samples,
                 int32_t bone, float shell, int32_t f, const orvane_transform& local,
                 orvane_transform* object) {
    const int32_t parent = skeleton->Bones[bone].ParentIndex;
    const int32_t count = work.sampleCount;
    const size_t mids = size_t(count - 1);
    if (parent < 0)
        *object = local;
    else
        OrvaneMultiply(object, &work.compMid[size_t(parent) * mids + size_t(f)], &local);
    float worst = 0.0f;
    float a[9], b[9];
    ShellPoints(*object, shell, a);
    ShellPoints(work.rawMid[size_t(bone) * mids + size_t(f)], shell, b);
    const float bend = work.shellBend[f + 1];
    for (int axis = 0; axis < 3; ++axis) {
        float e = Distance(3, a + 3 * axis, b + 3 * axis) - bend;
        if (!(e <= 3.0e38f)) e = 3.0e38f;
        if (e > worst) worst = e;
    }
    for (int32_t child = bone + 1; child < skeleton->BoneCount; ++child) {
        if (skeleton->Bones[child].ParentIndex != bone) continue;
        const float* p = OrvaneGetPositionSamples(samples, child) + 3 * size_t(f);
        const float offset[3] = {0.5f * (p[0] + p[3]), 0.5f * (p[1] + p[4]), 0.5f * (p[2] + p[5])};
        float c[3];
        OrvaneTransformPoint(c, object, offset);
        const orvane_transform* childRaw = work.rawObject + size_t(child) * size_t(count);
        float around[12];
        const int32_t first = f > 0 ? f - 1 : 0;
        const int32_t last = f + 2 < count ? f + 2 : count - 1;
        for (int32_t g = first; g <= last; ++g)
            Copy32(3, childRaw[g].Position, around + 3 * (g - first));
        const float childBend = MidpointBend(around, last - first + 1, 3, f + 1 - first);
        const float e =
            kChildWeight *
            (Distance(3, c, work.rawMid[size_t(child) * mids + size_t(f)].Position) - childBend);
        if (e > worst) worst = e;
    }
    return worst;
}

// The bone's object-space error at frame f for its local transform there: at the three shell
// points (*atShell; the raw ones into rawPoints), and at the origins of its children (weighed
// up, leaving the children a part of the budget: a child that stays constant cannot make up
// for more; *atChildren); its object transform into *object. Returns the larger.
float FrameErrorAt(Work& work, const orvane_skeleton* skeleton, orvane_track_group_sampler* samples,
                   int32_t bone, float shell, int32_t f, const orvane_transform& local,
                   orvane_transform* object, float* rawPoints, float* atShell, float* atChildren) {
    const int32_t parent = skeleton->Bones[bone].ParentIndex;
    const int32_t count = work.sampleCount;
    if (parent < 0)
        *object = local;
    else
        OrvaneMultiply(object, &work.compObject[size_t(parent) * size_t(count) + size_t(f)],
                       &local);
    float a[9];
    ShellPoints(*object, shell, a);
    ShellPoints(work.rawObject[size_t(bone) * size_t(count) + size_t(f)], shell, rawPoints);
    float worst = 0.0f;
    for (int axis = 0; axis < 3; ++axis) {
        float e = Distance(3, a + 3 * axis, rawPoints + 3 * axis);
        if (!(e <= 3.0e38f)) e = 3.0e38f;  // not finite: never within a budget
        if (e > worst) worst = e;
    }
    *atShell = worst;
    float children = 0.0f;
    for (int32_t child = bone + 1; child < skeleton->BoneCount; ++child) {
        if (skeleton->Bones[child].ParentIndex != bone) continue;
        const float* offset = OrvaneGetPositionSamples(samples, child) + 3 * size_t(f);
        float c[3];
        OrvaneTransformPoint(c, object, offset);
        const float* d = work.rawObject[size_t(child) * size_t(count) + size_t(f)].Position;
        const float e = kChildWeight * Distance(3, c, d);
        if (e > children) children = e;
    }
    *atChildren = children;
    return children > worst ? children : worst;
}

}  // namespace

void ShellBends(Work& work, int32_t bone, float shell) {
    const int32_t count = work.sampleCount;
    for (int32_t f = 0; f < count; ++f)
        ShellPoints(work.rawObject[size_t(bone) * size_t(count) + size_t(f)], shell,
                    work.shellPoints + 9 * size_t(f));
    const int32_t steps = count - 1;
    float* distances = work.ranks;
    for (int32_t i = 0; i < steps; ++i)
        distances[i] =
            Distance(9, work.shellPoints + 9 * size_t(i), work.shellPoints + 9 * size_t(i + 1));
    const int32_t rank = steps * 9 / 10;
    std::nth_element(distances, distances + rank, distances + steps);
    const float cut = 8.0f * distances[rank];
    for (int32_t j = 1; j < count; ++j) {
        bool nearCut = false;
        for (int32_t i = j - 2 > 0 ? j - 2 : 0; i < j + 1 && i + 1 < count; ++i)
            nearCut = nearCut || Distance(9, work.shellPoints + 9 * size_t(i),
                                          work.shellPoints + 9 * size_t(i + 1)) > cut;
        work.shellBend[j] = nearCut ? 0.0f : MidpointBend(work.shellPoints, count, 9, j);
    }
}

float MidError(Work& work, const orvane_skeleton* skeleton, orvane_track_group_sampler* samples,
               int32_t bone, float shell) {
    const size_t mids = size_t(work.sampleCount - 1);
    float worst = 0.0f;
    for (int32_t f = 0; f + 1 < work.sampleCount; ++f) {
        orvane_transform object;
        const float e =
            MidErrorAt(work, skeleton, samples, bone, shell, f, work.localMid[f], &object);
        work.compMid[size_t(bone) * mids + size_t(f)] = object;
        if (e > worst) worst = e;
    }
    return worst;
}

float MidDrift(Work& work, int32_t bone, float shell) {
    const size_t mids = size_t(work.sampleCount - 1);
    float worst = 0.0f;
    for (size_t f = 0; f < mids; ++f) {
        float a[9], b[9];
        ShellPoints(work.compMid[size_t(bone) * mids + f], shell, a);
        ShellPoints(work.rawMid[size_t(bone) * mids + f], shell, b);
        for (int axis = 0; axis < 3; ++axis) {
            float e = Distance(3, a + 3 * axis, b + 3 * axis);
            if (!(e <= 3.0e38f)) e = 3.0e38f;
            if (e > worst) worst = e;
        }
    }
    return worst;
}

void StraightMidLocals(Work& work) {
    const float* p = work.target[0];
    const float* q = work.target[1];
    const float* s = work.target[2];
    for (int32_t f = 0; f + 1 < work.sampleCount; ++f) {
        float position[3], orientation[4], scaleShear[9];
        for (int c = 0; c < 3; ++c)
            position[c] = 0.5f * (p[3 * f + c] + p[3 * (f + 1) + c]);
        for (int c = 0; c < 9; ++c)
            scaleShear[c] = 0.5f * (s[9 * f + c] + s[9 * (f + 1) + c]);
        float length = 0.0f;
        for (int c = 0; c < 4; ++c) {
            orientation[c] = 0.5f * (q[4 * f + c] + q[4 * (f + 1) + c]);
            length += orientation[c] * orientation[c];
        }
        const float inverse = length > 0.0f ? 1.0f / std::sqrt(length) : 0.0f;
        for (int c = 0; c < 4; ++c)
            orientation[c] *= inverse;
        if (!(length > 0.0f)) orientation[3] = 1.0f;
        OrvaneSetTransform(&work.localMid[f], position, orientation, scaleShear);
    }
}

float BoneError(Work& work, const orvane_skeleton* skeleton, orvane_track_group_sampler* samples,
                int32_t bone, float shell, float* worstShell, float* worstMid) {
    const int32_t count = work.sampleCount;
    const size_t row = size_t(bone) * size_t(count);
    float worst = 0.0f, worstAtShell = 0.0f;
    for (int32_t f = 0; f < count; ++f) {
        float atFrame = 0.0f, atChildren = 0.0f;
        const float e = FrameErrorAt(work, skeleton, samples, bone, shell, f, work.local[f],
                                     &work.compObject[row + size_t(f)],
                                     work.shellPoints + 9 * size_t(f), &atFrame, &atChildren);
        work.frameErrors[row + size_t(f)] = atFrame;
        if (atFrame > worstAtShell) worstAtShell = atFrame;
        if (e > worst) worst = e;
    }
    const float worstAtMid = MidError(work, skeleton, samples, bone, shell);
    *worstShell = worstAtShell;
    *worstMid = worstAtMid;
    return worst > worstAtShell ? worst : worstAtShell;
}

orvane_curve2* LowerCompactDepths(Work& work, const orvane_skeleton* skeleton,
                                  orvane_track_group_sampler* samples, int32_t bone, float shell,
                                  int component, const orvane_curve2* curve, float budget,
                                  float midBudget, float driftBudget) {
    const int32_t count = work.sampleCount;
    if (count < 2) return nullptr;
    // The children's origins no farther off than now: they make up for the bone's rounding
    // there, which would cost them more.
    float childLimit = 0.0f;
    for (int32_t f = 0; f < count; ++f) {
        orvane_transform object;
        float rawPoints[9], atShell, atChildren;
        FrameErrorAt(work, skeleton, samples, bone, shell, f, work.local[f], &object, rawPoints,
                     &atShell, &atChildren);
        if (atChildren > childLimit) childLimit = atChildren;
    }
    auto holds = [&](int32_t f, bool mid, const float* value) {
        orvane_transform object;
        if (!mid) {
            float rawPoints[9], atShell, atChildren;
            return FrameErrorAt(work, skeleton, samples, bone, shell, f,
                                WithComponent(work.local[f], component, value), &object, rawPoints,
                                &atShell, &atChildren) <= budget &&
                   atChildren <= childLimit;
        }
        if (!(MidErrorAt(work, skeleton, samples, bone, shell, f,
                         WithComponent(work.localMid[f], component, value), &object) <= midBudget))
            return false;
        float a[9], b[9];
        ShellPoints(object, shell, a);
        ShellPoints(work.rawMid[size_t(bone) * size_t(count - 1) + size_t(f)], shell, b);
        for (int axis = 0; axis < 3; ++axis)
            if (!(Distance(3, a + 3 * axis, b + 3 * axis) <= driftBudget)) return false;
        return true;
    };
    return LowerSegmentDepths(work.target[component], count, work.timeStep, component, curve,
                              holds);
}

}  // namespace compression
}  // namespace orvane

// Object-space error measures of the animation compressor: how far a bone's curves leave its
// shell points and its children's origins from the samples, at the frames and halfway between
// them, and the compact curves' bit depths lowered to what that error allows.
#include "track/offline/orvane_compression_error.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "core/orvane_memory.h"
#include "curve/orvane_compact_curve.h"
#include "curve/offline/orvane_compact_fit.h"
#include "curve/offline/orvane_curve_fitter.h"
#include "orvane/math.h"
#include "orvane/track_group_builder.h"

namespace orvane {
namespace compression {
void ShellPoints(const orvane_transform& t, float shell, float* points) {
    for (int axis = 0; axis < 3; ++axis) {
        float point[3] = {0.0f, 0.0f, 0.0f};
        point[axis] = shell;
        OrvaneTransformPoint(points + 3 * axis, &t, point);
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
    const auto* r = static_cast<const DaCompact*>(curve->CurveData.Object);
    const int32_t count = work.sampleCount;
    const int32_t m = r->KnotCount, d = r->Dimension, length = r->SegmentLength;
    const bool quaternion = CompactIsQuaternion(r->Packing);
    if (m < 2 || count < 2 || d != kDimensions[component]) return nullptr;
    const int32_t stored = CompactStoredComponents(r->Packing, d);
    const int32_t segments = CompactSegmentCount(m, length);
    const size_t partBytes = size_t(8 * d) + 4 * size_t(CompactStartCount(segments)) +
                             size_t(segments) * size_t(CompactHeaderBytes(stored)) +
                             kCompactSpareBytes;
    const size_t valueBytes =
        size_t(length) * size_t(stored) * size_t(kCompactMaxBits) / 8 + kCompactSpareBytes;
    const size_t floats = 2 * size_t(m) * size_t(d) + size_t(length) * size_t(d);
    auto* block = static_cast<uint8_t*>(ORVANE_ALLOCATE(
        4, 4 * floats + partBytes + valueBytes + size_t(segments) * size_t(stored)));
    if (block == nullptr) return nullptr;
    float* knots = reinterpret_cast<float*>(block);  // before rounding
    float* decoded = knots + size_t(m) * size_t(d);  // as the curve decodes them now
    float* trial = decoded + size_t(m) * size_t(d);  // one segment's, as a trial decodes them
    uint8_t* parts = block + 4 * floats;
    uint8_t* values = parts + partBytes;
    uint8_t* depths = values + valueBytes;
    CompactKnotsFor(work.target[component], count, d, quaternion, m, knots);
    DecodeCompactKnots(r, 0, m, decoded);
    DaCompact scratch{};
    scratch.Dimension = int16_t(d);
    scratch.KnotCount = m;
    scratch.Packing = r->Packing;
    scratch.SegmentLength = uint8_t(length);
    scratch.Bytes = parts;
    scratch.ByteCount = int32_t(partBytes);
    PrepareCompact(&scratch, knots);

    // The component at x samples from the start, from the decoded knots (the segment's own
    // from the trial): the straight path between knots, normalised for quaternions.
    const double perSample = double(m - 1) / double(count - 1);
    auto valueAt = [&](double x, int32_t first, int32_t last, float* out) {
        const double at = x * perSample;
        int32_t k = int32_t(at);
        if (k > m - 2) k = m - 2;
        const float u = float(at - double(k));
        const float* a = k >= first && k <= last ? trial + size_t(k - first) * size_t(d)
                                                 : decoded + size_t(k) * size_t(d);
        const float* b = k + 1 >= first && k + 1 <= last ? trial + size_t(k + 1 - first) * size_t(d)
                                                         : decoded + size_t(k + 1) * size_t(d);
        CompactBetween(a, b, u, d, quaternion, out);
    };
    // The local transform with the component replaced.
    auto withValue = [&](const orvane_transform& t, const float* value) {
        float position[3], orientation[4], scaleShear[9];
        Copy32(3, component == 0 ? value : t.Position, position);
        Copy32(4, component == 1 ? value : t.Orientation, orientation);
        Copy32(9, component == 2 ? value : &t.ScaleShear[0][0], scaleShear);
        orvane_transform result;
        OrvaneSetTransform(&result, position, orientation, scaleShear);
        return result;
    };
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
    bool lowered = false;
    for (int32_t s = 0; s < segments; ++s) {
        const int32_t first = s * length;
        const int32_t last = first + length < m ? first + length - 1 : m - 1;
        // The frames whose values the segment's knots reach.
        const double span = double(count - 1) / double(m - 1);
        int32_t lowFrame = int32_t(std::floor(double(first - 1) * span));
        int32_t highFrame = int32_t(std::ceil(double(last + 1) * span));
        lowFrame = lowFrame < 0 ? 0 : lowFrame;
        highFrame = highFrame > count - 1 ? count - 1 : highFrame;
        CompactSegment view;
        ViewCompactSegment(r, s, &view);
        uint8_t* chosen = depths + size_t(s) * size_t(stored);
        for (int32_t j = 0; j < stored; ++j)
            chosen[j] = view.bits[j];
        auto holds = [&](const uint8_t* tried) {
            EncodeCompactSegment(&scratch, knots, s, tried, values, 0);
            CompactSegment v;
            ViewCompactSegmentAt(&scratch, s, 0, &v);
            for (int32_t k = first; k <= last; ++k)
                DecodeCompactSegmentKnot(v, values, k - first,
                                         trial + size_t(k - first) * size_t(d));
            float value[9], rawPoints[9];
            for (int32_t f = lowFrame; f <= highFrame; ++f) {
                valueAt(double(f), first, last, value);
                const orvane_transform local = withValue(work.local[f], value);
                orvane_transform object;
                float atShell, atChildren;
                if (!(FrameErrorAt(work, skeleton, samples, bone, shell, f, local, &object,
                                   rawPoints, &atShell, &atChildren) <= budget) ||
                    !(atChildren <= childLimit))
                    return false;
                if (f == highFrame) break;
                valueAt(double(f) + 0.5, first, last, value);
                const orvane_transform mid = withValue(work.localMid[f], value);
                if (!(MidErrorAt(work, skeleton, samples, bone, shell, f, mid, &object) <=
                      midBudget))
                    return false;
                float a[9], b[9];
                ShellPoints(object, shell, a);
                ShellPoints(work.rawMid[size_t(bone) * size_t(count - 1) + size_t(f)], shell, b);
                for (int axis = 0; axis < 3; ++axis)
                    if (!(Distance(3, a + 3 * axis, b + 3 * axis) <= driftBudget)) return false;
            }
            return true;
        };
        uint8_t tried[kCompactMaxDimension];
        for (int32_t j = 0; j < stored; ++j) {
            while (chosen[j] > 0) {
                for (int32_t i = 0; i < stored; ++i)
                    tried[i] = chosen[i];
                --tried[j];
                if (!holds(tried)) break;
                --chosen[j];
                lowered = true;
                Copy32(size_t(last - first + 1) * size_t(d), trial,
                       decoded + size_t(first) * size_t(d));
            }
        }
    }
    orvane_curve2* result = nullptr;
    if (lowered)
        result = BuildCompactCurve(knots, m, d, r->Packing, length, depths, count, work.timeStep);
    ORVANE_DEALLOCATE(block);
    return result;
}

}  // namespace compression
}  // namespace orvane

// The compressor's last pass: compact curves' bit depths lowered against the error of whole
// subtrees, once every bone's curves are chosen.
#include "track/offline/orvane_subtree_lowering.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "core/orvane_memory.h"
#include "orvane/bspline.h"
#include "orvane/curve_builder.h"
#include "orvane/math.h"
#include "track/offline/orvane_compression_error.h"
#include "track/offline/orvane_curve_choice.h"
#include "track/offline/orvane_segment_depths.h"

namespace orvane {
namespace compression {
namespace {

bool IsCompactCurve(const orvane_curve2* curve) {
    return curve && curve->CurveData.Object &&
           *static_cast<const uint8_t*>(curve->CurveData.Object) == OrvaneCurveFormatDaCompact;
}

// One pass's state: the raw shell points, the errors the chosen curves leave (the allowance of
// a point already past its budget), and the object transforms of the subtree being tried.
struct Pass {
    Work& work;
    const orvane_skeleton* skeleton;
    float limit;
    int32_t count;
    size_t mids;
    float* rawShell = nullptr;            // boneCount x count x 9
    float* rawMidShell = nullptr;         // boneCount x mids x 9
    float* midErrors = nullptr;           // boneCount x mids: beyond the bend
    float* drifts = nullptr;              // boneCount x mids: no bend
    orvane_transform* objects = nullptr;  // boneCount: the subtree's, at one time
    uint8_t* inSubtree = nullptr;         // boneCount
    int32_t* subtree = nullptr;           // the bone's descendants, in order
    int32_t subtreeCount = 0;

    // A bone's errors at frame f (mid: halfway between f and f + 1) for its object transform
    // in objects: at the shell points (beyond the bend halfway between frames), and halfway
    // between frames without the bend.
    void Errors(int32_t bone, int32_t f, bool mid, float* shellError, float* drift) const {
        float points[9];
        ShellPoints(objects[bone], work.shells[bone], points);
        const float* raw = mid ? rawMidShell + (size_t(bone) * mids + size_t(f)) * 9
                               : rawShell + (size_t(bone) * size_t(count) + size_t(f)) * 9;
        const float bend = mid ? work.bendAll[size_t(bone) * size_t(count) + size_t(f) + 1] : 0.0f;
        float worst = 0.0f, worstDrift = 0.0f;
        for (int axis = 0; axis < 3; ++axis) {
            float d = Distance(3, points + 3 * axis, raw + 3 * axis);
            if (!(d <= 3.0e38f)) d = 3.0e38f;  // not finite: never within a budget
            worstDrift = std::max(worstDrift, d);
            worst = std::max(worst, d - bend);
        }
        *shellError = worst;
        *drift = worstDrift;
    }

    // Whether the bone's errors are within its budgets, or no worse than the chosen curves'.
    bool Holds(int32_t bone, int32_t f, bool mid) const {
        float error, drift;
        Errors(bone, f, mid, &error, &drift);
        if (!mid)
            return error <= std::max(limit, work.frameErrors[size_t(bone) * size_t(count) + f]);
        const size_t at = size_t(bone) * mids + size_t(f);
        return error <= std::max(work.midBudgets[bone], midErrors[at]) &&
               drift <= std::max(work.driftBudgets[bone], drifts[at]);
    }

    // The bone's object transform at the time from its local one and its parent's (the
    // subtree's being tried, or the chosen).
    void Place(int32_t bone, int32_t f, bool mid, const orvane_transform& local) {
        const int32_t parent = skeleton->Bones[bone].ParentIndex;
        if (parent < 0) {
            objects[bone] = local;
            return;
        }
        const orvane_transform& p =
            inSubtree[parent] ? objects[parent]
            : mid             ? work.compMid[size_t(parent) * mids + size_t(f)]
                              : work.compObject[size_t(parent) * size_t(count) + size_t(f)];
        OrvaneMultiply(&objects[bone], &p, &local);
    }

    const orvane_transform& LocalOf(int32_t bone, int32_t f, bool mid) const {
        return mid ? work.localMidAll[size_t(bone) * mids + size_t(f)]
                   : work.localAll[size_t(bone) * size_t(count) + size_t(f)];
    }

    // Whether the bone (with this local transform at the time) and its subtree hold there.
    bool SubtreeHolds(int32_t bone, int32_t f, bool mid, const orvane_transform& local) {
        Place(bone, f, mid, local);
        if (!Holds(bone, f, mid)) return false;
        for (int32_t i = 0; i < subtreeCount; ++i) {
            const int32_t d = subtree[i];
            Place(d, f, mid, LocalOf(d, f, mid));
            if (!Holds(d, f, mid)) return false;
        }
        return true;
    }

    // The subtree's object transforms and errors at the time made the chosen ones.
    void Commit(int32_t bone, int32_t f, bool mid, const orvane_transform& local) {
        Place(bone, f, mid, local);
        for (int32_t i = -1; i < subtreeCount; ++i) {
            const int32_t d = i < 0 ? bone : subtree[i];
            if (i >= 0) Place(d, f, mid, LocalOf(d, f, mid));
            float error, drift;
            Errors(d, f, mid, &error, &drift);
            if (mid) {
                const size_t at = size_t(d) * mids + size_t(f);
                work.compMid[at] = objects[d];
                midErrors[at] = error;
                drifts[at] = drift;
            } else {
                const size_t at = size_t(d) * size_t(count) + size_t(f);
                work.compObject[at] = objects[d];
                work.frameErrors[at] = error;
            }
        }
    }

    int32_t Lower(orvane_curve2** curves, int32_t bone, int component);
};

// The bone's compact curve of the component with its segments' depths lowered while the
// subtree holds; returns the bytes saved.
int32_t Pass::Lower(orvane_curve2** curves, int32_t bone, int component) {
    orvane_curve2*& curve = curves[3 * size_t(bone) + size_t(component)];
    orvane_curve2* lower = LowerSegmentDepths(
        TargetOf(work, bone, component), count, work.timeStep, component, curve,
        [&](int32_t f, bool mid, const float* value) {
            return SubtreeHolds(bone, f, mid,
                                WithComponent(LocalOf(bone, f, mid), component, value));
        });
    if (lower == nullptr) return 0;
    const int32_t before = ChoiceBytes(curve), after = ChoiceBytes(lower);
    // The curve as the samplers evaluate it, checked over every frame before it replaces the
    // chosen one.
    bool holdsEverywhere = after < before;
    for (int32_t h = 0; holdsEverywhere && h < 2 * count - 1; ++h) {
        float value[9];
        OrvaneEvaluateCurveAtT(kDimensions[component], component == 1, false, lower, false,
                               work.duration, 0.5f * float(h) * work.timeStep, value,
                               IdentityOf(component));
        const bool mid = h & 1;
        orvane_transform& local = mid ? work.localMid[h / 2] : work.local[h / 2];
        local = WithComponent(LocalOf(bone, h / 2, mid), component, value);
        holdsEverywhere = SubtreeHolds(bone, h / 2, mid, local);
    }
    if (!holdsEverywhere) {
        OrvaneFreeCurve(lower);
        return 0;
    }
    OrvaneFreeCurve(curve);
    curve = lower;
    for (int32_t f = 0; f < count; ++f) {
        work.localAll[size_t(bone) * size_t(count) + size_t(f)] = work.local[f];
        Commit(bone, f, false, work.local[f]);
    }
    for (size_t f = 0; f < mids; ++f) {
        work.localMidAll[size_t(bone) * mids + f] = work.localMid[f];
        Commit(bone, int32_t(f), true, work.localMid[f]);
    }
    return before - after;
}

}  // namespace

int32_t LowerSubtreeDepths(Work& work, const orvane_skeleton* skeleton, orvane_curve2** curves,
                           float limit) {
    const int32_t n = work.boneCount, count = work.sampleCount;
    if (n <= 0 || count < 2) return 0;
    const size_t mids = size_t(count - 1);
    SetAggregateAlignment(16);
    Pass pass{work, skeleton, limit, count, mids};
    AggregateAllocate(&pass.objects, size_t(n) * sizeof(orvane_transform));
    AggregateAllocate(&pass.rawShell, size_t(n) * size_t(count) * 9 * sizeof(float));
    AggregateAllocate(&pass.rawMidShell, size_t(n) * mids * 9 * sizeof(float));
    AggregateAllocate(&pass.midErrors, size_t(n) * mids * sizeof(float));
    AggregateAllocate(&pass.drifts, size_t(n) * mids * sizeof(float));
    AggregateAllocate(&pass.subtree, size_t(n) * sizeof(int32_t));
    AggregateAllocate(&pass.inSubtree, size_t(n));
    void* block = ORVANE_AGGREGATE_END();
    if (block == nullptr) return 0;
    for (int32_t b = 0; b < n; ++b) {
        for (int32_t f = 0; f < count; ++f) {
            const size_t at = size_t(b) * size_t(count) + size_t(f);
            ShellPoints(work.rawObject[at], work.shells[b], pass.rawShell + at * 9);
        }
        for (size_t f = 0; f < mids; ++f) {
            const size_t at = size_t(b) * mids + f;
            ShellPoints(work.rawMid[at], work.shells[b], pass.rawMidShell + at * 9);
            pass.objects[b] = work.compMid[at];
            pass.Errors(b, int32_t(f), true, &pass.midErrors[at], &pass.drifts[at]);
        }
    }
    int32_t saved = 0;
    for (int32_t b = 0; b < n; ++b) {
        const orvane_curve2* const* own = curves + 3 * size_t(b);
        if (!IsCompactCurve(own[0]) && !IsCompactCurve(own[1]) && !IsCompactCurve(own[2])) continue;
        std::fill(pass.inSubtree, pass.inSubtree + n, uint8_t(0));
        pass.inSubtree[b] = 1;
        pass.subtreeCount = 0;
        for (int32_t d = b + 1; d < n; ++d) {
            const int32_t parent = skeleton->Bones[d].ParentIndex;
            if (parent < 0 || !pass.inSubtree[parent]) continue;
            pass.inSubtree[d] = 1;
            pass.subtree[pass.subtreeCount++] = d;
        }
        // The orientation first: it moves the subtree most.
        for (int c : {1, 0, 2})
            if (IsCompactCurve(own[c])) saved += pass.Lower(curves, b, c);
    }
    ORVANE_DEALLOCATE(block);
    return saved;
}

}  // namespace compression
}  // namespace orvane

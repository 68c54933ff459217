// The compressor's lowering of a compact curve's bit depths, segment by segment: each stored
// component's depth comes down one bit at a time while a check of the frames and the times
// halfway between them that the segment's knots reach still holds. The two passes that lower
// depths (a bone's own, orvane_compression_error.cpp, and the one over whole subtrees,
// orvane_subtree_lowering.cpp) differ only in that check.
#ifndef ORVANE_SEGMENT_DEPTHS_H
#define ORVANE_SEGMENT_DEPTHS_H

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "core/orvane_memory.h"
#include "curve/orvane_compact_curve.h"
#include "curve/offline/orvane_compact_fit.h"
#include "orvane/math.h"
#include "orvane/types.h"
#include "track/offline/orvane_compression_work.h"

namespace orvane {
namespace compression {

// The transform t with component c (position, orientation, scale/shear) replaced by value.
inline orvane_transform WithComponent(const orvane_transform& t, int component,
                                      const float* value) {
    float position[3], orientation[4], scaleShear[9];
    Copy32(3, component == 0 ? value : t.Position, position);
    Copy32(4, component == 1 ? value : t.Orientation, orientation);
    Copy32(9, component == 2 ? value : &t.ScaleShear[0][0], scaleShear);
    orvane_transform result;
    OrvaneSetTransform(&result, position, orientation, scaleShear);
    return result;
}

// The compact curve `curve` (fitted to `targets`, count samples timeStep apart, of the
// component) with each segment's depths lowered while holds(f, mid, value) is true at every
// frame f its knots reach (mid: halfway between f and f + 1), value being the component there
// as the lowered curve gives it. Returns the new curve, or null when no depth came lower (or
// without memory).
template <typename Holds>
orvane_curve2* LowerSegmentDepths(const float* targets, int32_t count, float timeStep,
                                  int component, const orvane_curve2* curve, Holds&& holds) {
    const auto* r = static_cast<const DaCompact*>(curve->CurveData.Object);
    const int32_t m = r->KnotCount, d = r->Dimension, length = r->SegmentLength;
    const bool quaternion = CompactIsQuaternion(r->Packing);
    if (m < 2 || count < 2 || d != kDimensions[component] || length < 1 ||
        (CompactHeaderLayout(r->Layout) != kCompactLayout && !CompactHasLines(r->Layout)))
        return nullptr;
    // Trials lay out the headers as layout 2 or 3 does, ahead of values of their own.
    const int32_t layout = CompactHeaderLayout(r->Layout);
    const int32_t stored = CompactStoredComponents(r->Packing, d);
    const int32_t segments = CompactSegmentCount(m, length);
    const size_t partBytes = size_t(8 * d) + 4 * size_t(CompactStartCount(segments)) +
                             size_t(CompactHeadersBytes(layout, r->Packing, stored, segments)) +
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
    CompactKnotsFor(targets, count, d, quaternion, m, knots);
    DecodeCompactKnots(r, 0, m, decoded);
    DaCompact scratch{};
    scratch.Dimension = int16_t(d);
    scratch.KnotCount = m;
    scratch.Packing = r->Packing;
    scratch.SegmentLength = uint8_t(length);
    scratch.Layout = int16_t(layout);
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
        auto segmentHolds = [&](const uint8_t* tried) {
            EncodeCompactSegment(&scratch, knots, s, tried, values, 0);
            CompactSegment v;
            ViewCompactSegmentAt(&scratch, s, 0, &v);
            for (int32_t k = first; k <= last; ++k)
                DecodeCompactSegmentKnot(v, values, k - first,
                                         trial + size_t(k - first) * size_t(d));
            float value[9];
            for (int32_t f = lowFrame; f <= highFrame; ++f) {
                valueAt(double(f), first, last, value);
                if (!holds(f, false, value)) return false;
                if (f == highFrame) break;
                valueAt(double(f) + 0.5, first, last, value);
                if (!holds(f, true, value)) return false;
            }
            return true;
        };
        uint8_t tried[kCompactMaxDimension];
        for (int32_t j = 0; j < stored; ++j) {
            while (chosen[j] > 0) {
                for (int32_t i = 0; i < stored; ++i)
                    tried[i] = chosen[i];
                --tried[j];
                if (!segmentHolds(tried)) break;
                --chosen[j];
                lowered = true;
                Copy32(size_t(last - first + 1) * size_t(d), trial,
                       decoded + size_t(first) * size_t(d));
            }
        }
    }
    orvane_curve2* result = lowered
                                ? BuildCompactCurve(knots, m, d, r->Packing, length, depths, count,
                                                    timeStep, CompactHeadersLastOf(layout))
                                : nullptr;
    ORVANE_DEALLOCATE(block);
    return result;
}

}  // namespace compression
}  // namespace orvane

#endif  // ORVANE_SEGMENT_DEPTHS_H

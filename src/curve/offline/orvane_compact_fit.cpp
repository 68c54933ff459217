// Fitting samples with the compact curve format: per segment the smallest bit depth within the
// tolerance (found by encoding the segment and reading it back), per curve the segment length
// that gives the fewest bytes.
#include "curve/offline/orvane_compact_fit.h"

#include <cmath>
#include <cstddef>
#include <cstring>

#include "core/orvane_memory.h"
#include "curve/orvane_compact_curve.h"
#include "curve/orvane_curve_private.h"
#include "orvane/curve_builder.h"

namespace orvane {
namespace {

constexpr int32_t kSegmentLengths[] = {8, 16, 32};
constexpr int32_t kShortestSegment = 8;

// The smallest depth per segment that holds the tolerance; returns the bits of all values.
int64_t ChooseDepths(DaCompact& r, const float* samples, float tolerance, uint8_t* depths,
                     uint8_t* values, bool* missed) {
    PrepareCompact(&r, samples, nullptr);
    const int32_t stored = CompactStoredComponents(r.Packing, r.Dimension);
    const int32_t segments = CompactSegmentCount(r.KnotCount, r.SegmentLength);
    auto error = [&](int32_t segment, int32_t bits) {
        EncodeCompactSegment(&r, samples, segment, bits, values, 0);
        return CompactSegmentError(&r, samples, segment, values, 0);
    };
    int64_t total = 0;
    for (int32_t s = 0; s < segments; ++s) {
        int32_t low = 0, high = kCompactMaxBits;
        if (!(error(s, high) <= tolerance)) {
            *missed = true;
            low = high;
        }
        while (low < high) {
            const int32_t middle = (low + high) / 2;
            if (error(s, middle) <= tolerance)
                high = middle;
            else
                low = middle + 1;
        }
        depths[s] = uint8_t(low);
        const int32_t first = s * r.SegmentLength;
        const int32_t knots =
            r.KnotCount - first < r.SegmentLength ? r.KnotCount - first : r.SegmentLength;
        total += int64_t(knots) * stored * low;
    }
    return total;
}

}  // namespace

CompactFit FitCompactCurve(const float* samples, int32_t count, int32_t dimension, bool quaternion,
                           float interval, float tolerance) {
    CompactFit fit;
    if (count < 1 || dimension < 1 || dimension > kCompactMaxDimension ||
        (quaternion && dimension != 4))
        return fit;
    const int32_t packing = quaternion ? kCompactQuaternion : kCompactComponents;
    const int32_t stored = CompactStoredComponents(packing, dimension);
    const int32_t mostSegments = CompactSegmentCount(count, kShortestSegment);
    const int32_t longest = kSegmentLengths[sizeof kSegmentLengths / sizeof(int32_t) - 1];
    // Working storage: ranges, the headers of the most segments, depths for two lengths, and
    // the values of one segment at the deepest depth.
    const size_t headerBytes = size_t(mostSegments) * size_t(1 + 2 * stored);
    const size_t valueBytes =
        size_t(longest) * size_t(stored) * size_t(kCompactMaxBits) / 8 + kCompactSpareBytes;
    const size_t bytes =
        sizeof(float) * size_t(2 * dimension) + headerBytes + 2 * size_t(mostSegments) + valueBytes;
    auto* work = static_cast<uint8_t*>(ORVANE_ALLOCATE(4, bytes));
    if (work == nullptr) return fit;
    float* ranges = reinterpret_cast<float*>(work);
    uint8_t* headers = work + sizeof(float) * size_t(2 * dimension);
    uint8_t* depths = headers + headerBytes;
    uint8_t* best = depths + mostSegments;
    uint8_t* values = best + mostSegments;

    int64_t bestBytes = INT64_MAX;
    int32_t bestLength = 0;
    bool bestMissed = false;
    for (int32_t length : kSegmentLengths) {
        DaCompact r{};  // over the working storage, for trying depths
        r.Dimension = int16_t(dimension);
        r.KnotCount = count;
        r.Packing = uint8_t(packing);
        r.SegmentLength = uint8_t(length);
        r.Ranges = ranges;
        r.SegmentHeaders = headers;
        bool missed = false;
        const int64_t bits = ChooseDepths(r, samples, tolerance, depths, values, &missed);
        const int32_t segments = CompactSegmentCount(count, length);
        const int64_t size = (bits + 7) / 8 + int64_t(segments) * (1 + 2 * stored) +
                             4 * int64_t(CompactStartCount(segments));
        if (size < bestBytes) {
            bestBytes = size;
            bestLength = length;
            bestMissed = missed;
            std::memcpy(best, depths, size_t(segments));
        }
    }

    const CompactSizes sizes = CompactSizesFor(count, dimension, packing, bestLength, best);
    if (sizes.fits) {
        SetAggregateAlignment(4);
        orvane_curve2* curve = nullptr;
        DaCompact* r = nullptr;
        AggregateAllocate(&curve, sizeof(orvane_curve2));
        AggregateAllocate(&r, sizeof(DaCompact));
        AggregateAllocateArrayMember(r, offsetof(DaCompact, RangeCount),
                                     offsetof(DaCompact, Ranges), 2 * dimension, sizeof(float));
        AggregateAllocateArrayMember(r, offsetof(DaCompact, SegmentStartCount),
                                     offsetof(DaCompact, SegmentStarts), sizes.starts,
                                     sizeof(int32_t));
        AggregateAllocateArrayMember(r, offsetof(DaCompact, SegmentHeaderCount),
                                     offsetof(DaCompact, SegmentHeaders), sizes.headerBytes, 1);
        AggregateAllocateArrayMember(r, offsetof(DaCompact, ValueByteCount),
                                     offsetof(DaCompact, Values), sizes.valueBytes, 1);
        if (ORVANE_AGGREGATE_END() != nullptr) {
            curve->CurveData.Type = OrvaneCurveDataDaCompactType;
            curve->CurveData.Object = r;
            r->CurveDataHeader.Format = uint8_t(OrvaneCurveFormatDaCompact);
            r->CurveDataHeader.Degree = 1;
            r->Dimension = int16_t(dimension);
            r->KnotInterval = count > 1 ? interval : 0.0f;
            r->KnotCount = count;
            r->Packing = uint8_t(packing);
            r->SegmentLength = uint8_t(bestLength);
            r->Padding = 0;
            EncodeCompact(r, samples, best);
            fit.curve = curve;
            fit.missed = bestMissed;
        }
    }
    ORVANE_DEALLOCATE(work);
    if (fit.curve == nullptr) return fit;

    orvane_curve_builder* builder = OrvaneBeginCurveCopy(fit.curve);
    fit.bytes = builder ? OrvaneGetResultingCurveDataSize(builder) : 0;
    if (builder) OrvaneAbortCurveBuilder(builder);
    // The error as the curve decodes, knot by knot.
    const auto* r = static_cast<const DaCompact*>(fit.curve->CurveData.Object);
    for (int32_t k = 0; k < count; ++k) {
        float decoded[kCompactMaxDimension];
        DecodeCompactKnots(r, k, 1, decoded);
        float sum = 0.0f;
        for (int32_t c = 0; c < dimension; ++c) {
            const float e = decoded[c] - samples[int64_t(k) * dimension + c];
            sum += e * e;
        }
        const float distance = std::sqrt(sum);
        if (!(distance <= fit.error)) fit.error = distance;
    }
    return fit;
}

}  // namespace orvane

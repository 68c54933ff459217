// Fitting samples with the compact curve format: knots every sample or every few samples (when
// the straight path across the skipped ones holds), per segment the smallest bit depth within
// what is left of the tolerance (found by encoding the segment and reading it back), per curve
// the spacing and segment length that give the fewest bytes.
#include "curve/offline/orvane_compact_fit.h"

#include <cmath>
#include <cstddef>
#include <cstring>

#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "curve/orvane_compact_curve.h"
#include "curve/orvane_curve_private.h"
#include "orvane/curve_builder.h"

namespace orvane {
namespace {

constexpr int32_t kSegmentLengths[] = {8, 16, 32, 64, 128};
constexpr int32_t kShortestSegment = 8;
constexpr int32_t kLongestSegment = 128;
// Knot spacings tried, in samples.
constexpr int32_t kSpacings[] = {1, 2, 3, 4};
// The share of the tolerance that skipping samples may use; the rest is for the rounding.
constexpr float kSpacingShare = 0.6f;
// Quaternion curves of at most this many knots also try the unit range (no range stored):
// the range's bytes weigh on short curves, and on longer ones the coarser sub-ranges cost more
// than they save.
constexpr int32_t kUnitRangeKnots = 128;
// Layout 3's lines are not tried on segments shorter than this: their header bits outweigh
// what the lines save.
constexpr int32_t kShortestLineSegment = 16;

float Distance(const float* a, const float* b, int32_t d) {
    float sum = 0.0f;
    for (int32_t c = 0; c < d; ++c) {
        const float e = a[c] - b[c];
        sum += e * e;
    }
    return std::sqrt(sum);
}

// Knot k of m spread evenly over samples 0 .. count - 1 sits at sample k * (count - 1) / (m - 1).
double KnotSample(int32_t k, int32_t m, int32_t count) {
    return m > 1 ? double(k) * double(count - 1) / double(m - 1) : 0.0;
}

// The knots of an m-knot curve through the samples' straight path; returns the largest
// distance of a sample from the knots' path.
float Resample(const float* samples, int32_t count, int32_t d, bool quaternion, int32_t m,
               float* knots) {
    for (int32_t k = 0; k < m; ++k) {
        const double at = KnotSample(k, m, count);
        int32_t i = int32_t(at);
        if (i >= count - 1) i = count - 2 < 0 ? 0 : count - 2;
        const float u = float(at - double(i));
        if (count == 1)
            std::memcpy(knots, samples, size_t(d) * 4);
        else
            CompactBetween(samples + int64_t(i) * d, samples + int64_t(i + 1) * d, u, d, quaternion,
                           knots + int64_t(k) * d);
    }
    float worst = 0.0f;
    for (int32_t j = 0; j < count && m > 1; ++j) {
        const double at = double(j) * double(m - 1) / double(count - 1);
        int32_t k = int32_t(at);
        if (k >= m - 1) k = m - 2;
        float value[kCompactMaxDimension];
        CompactBetween(knots + int64_t(k) * d, knots + int64_t(k + 1) * d, float(at - double(k)), d,
                       quaternion, value);
        const float e = Distance(value, samples + int64_t(j) * d, d);
        if (!(e <= worst)) worst = e;
    }
    return worst;
}

// The depths that hold the tolerance with the fewest bits, per segment and component: every
// component rounded to about the same step (the largest step that holds), then each
// component's depth lowered while the segment still holds. Returns the bits of all values.
int64_t ChooseDepths(DaCompact& r, const float* knots, float tolerance, uint8_t* depths,
                     float* targets, bool* missed) {
    PrepareCompact(&r, knots);
    const int32_t stored = CompactStoredComponents(r.Packing, r.Dimension);
    const int32_t segments = CompactSegmentCount(r.KnotCount, r.SegmentLength);
    constexpr int32_t kLevels = 2 * kCompactMaxBits + 8;
    int32_t hint = -1;  // the level the segment before took
    int64_t total = 0;
    for (int32_t s = 0; s < segments; ++s) {
        uint8_t* chosen = depths + int64_t(s) * stored;
        CompactSegmentTargetsOf(&r, knots, s, targets);
        // The first trial sets the segment's sub-ranges (or lines and bands); the others keep
        // them.
        bool rangesSet = false;
        auto error = [&](const uint8_t* trial) {
            const float e = CompactSegmentTrialError(&r, targets, s, trial, tolerance, rangesSet);
            rangesSet = true;
            return e;
        };
        uint8_t trial[kCompactMaxDimension] = {};
        float spans[kCompactMaxDimension];
        const bool still = error(trial) <= tolerance;  // also sets the segment's sub-ranges
        for (int32_t j = 0; j < stored; ++j)
            spans[j] = CompactSegmentSpan(&r, s, j);
        // The depths that round each component by at most 2^(-level / 2) * tolerance (half a
        // step of b bits, or the whole span at 0 bits).
        auto depthsFor = [&](int32_t level, uint8_t* out) {
            const float most = tolerance * std::exp2(-0.5f * float(level));
            for (int32_t j = 0; j < stored; ++j) {
                int32_t b = 0;
                while (b < kCompactMaxBits &&
                       (b == 0 ? spans[j] : 0.5f * spans[j] / float((1u << b) - 1u)) > most)
                    ++b;
                out[j] = uint8_t(b);
            }
        };
        if (still) {
            for (int32_t j = 0; j < stored; ++j)
                chosen[j] = 0;
        } else {
            // The smallest level that holds, searched from the level of the segment before
            // (neighbouring segments move alike): steps of 1, 2, 4, ... away from it bracket
            // the answer, then halving the bracket finds it. Without a level before, or when
            // no level up from it holds, the bracket is the whole range.
            int32_t low = 0, high = kLevels;
            auto holds = [&](int32_t level) {
                depthsFor(level, trial);
                return error(trial) <= tolerance;
            };
            if (hint >= 0 && hint < kLevels) {
                if (holds(hint)) {
                    high = hint;
                    for (int32_t step = 1;; step *= 2) {
                        const int32_t below = high - step;
                        if (below < 0) break;
                        if (!holds(below)) {
                            low = below + 1;
                            break;
                        }
                        high = below;
                    }
                } else {
                    low = hint + 1;
                    for (int32_t step = 1;; step *= 2) {
                        const int32_t above = hint + step;
                        if (above >= kLevels) break;
                        if (holds(above)) {
                            high = above;
                            break;
                        }
                        low = above + 1;
                    }
                }
            }
            if (high == kLevels && !holds(kLevels)) {
                *missed = true;
                low = high;
            }
            while (low < high) {
                const int32_t middle = (low + high) / 2;
                depthsFor(middle, trial);
                if (error(trial) <= tolerance)
                    high = middle;
                else
                    low = middle + 1;
            }
            depthsFor(low, chosen);
            hint = low;
            // Each component as shallow as the segment allows.
            for (int32_t j = 0; j < stored && !*missed; ++j) {
                while (chosen[j] > 0) {
                    for (int32_t i = 0; i < stored; ++i)
                        trial[i] = chosen[i];
                    --trial[j];
                    if (!(error(trial) <= tolerance)) break;
                    --chosen[j];
                }
            }
        }
        int32_t knotBits = 0;
        for (int32_t j = 0; j < stored; ++j)
            knotBits += chosen[j];
        const int32_t first = s * r.SegmentLength;
        const int32_t knotsHere =
            r.KnotCount - first < r.SegmentLength ? r.KnotCount - first : r.SegmentLength;
        total += int64_t(knotsHere) * knotBits;
    }
    return total;
}

}  // namespace

void CompactKnotsFor(const float* samples, int32_t count, int32_t dimension, bool quaternion,
                     int32_t knotCount, float* knots) {
    if (knotCount == count)
        std::memcpy(knots, samples, size_t(count) * size_t(dimension) * 4);
    else
        Resample(samples, count, dimension, quaternion, knotCount, knots);
}

orvane_curve2* BuildCompactCurve(const float* knots, int32_t knotCount, int32_t dimension,
                                 int32_t packing, int32_t segmentLength, const uint8_t* depths,
                                 int32_t count, float interval, int32_t layout) {
    const CompactSizes sizes =
        CompactSizesFor(knotCount, dimension, packing, segmentLength, depths, layout);
    if (!sizes.fits) return nullptr;
    SetAggregateAlignment(4);
    orvane_curve2* curve = nullptr;
    DaCompact* r = nullptr;
    AggregateAllocate(&curve, sizeof(orvane_curve2));
    AggregateAllocate(&r, sizeof(DaCompact));
    AggregateAllocateArrayMember(r, offsetof(DaCompact, ByteCount), offsetof(DaCompact, Bytes),
                                 sizes.bytes, 1);
    if (ORVANE_AGGREGATE_END() == nullptr) return nullptr;
    curve->CurveData.Type = OrvaneCurveDataDaCompactType;
    curve->CurveData.Object = r;
    r->CurveDataHeader.Format = uint8_t(OrvaneCurveFormatDaCompact);
    r->CurveDataHeader.Degree = 1;
    r->Dimension = int16_t(dimension);
    r->KnotInterval =
        knotCount > 1 ? float(double(interval) * double(count - 1) / double(knotCount - 1)) : 0.0f;
    r->KnotCount = knotCount;
    r->Packing = uint8_t(packing);
    r->SegmentLength = uint8_t(segmentLength);
    r->Layout = int16_t(layout);
    std::memset(r->Bytes, 0, size_t(sizes.bytes));
    EncodeCompact(r, knots, depths);
    return curve;
}

void CompactBetween(const float* a, const float* b, float u, int32_t d, bool quaternion,
                    float* out) {
    float sum = 0.0f;
    for (int32_t c = 0; c < d; ++c) {
        out[c] = a[c] + (b[c] - a[c]) * u;
        sum += out[c] * out[c];
    }
    if (quaternion && sum > 0.0f) {
        const float inverse = 1.0f / std::sqrt(sum);
        for (int32_t c = 0; c < d; ++c)
            out[c] *= inverse;
    }
}

CompactFit FitCompactCurve(const float* samples, int32_t count, int32_t dimension, bool quaternion,
                           float interval, float tolerance) {
    CompactFit fit;
    if (count < 1 || dimension < 1 || dimension > kCompactMaxDimension ||
        (quaternion && dimension != 4))
        return fit;
    const int32_t d = dimension;
    const int32_t stored = CompactStoredComponents(quaternion ? kCompactQuaternion : 0, d);
    // Working storage: knots for two spacings (the one tried and the best), the ranges, starts
    // and headers of the most segments, depths for two choices, and one segment's values as
    // stored (the targets its depth trials meet).
    const int32_t mostSegments = CompactSegmentCount(count, kShortestSegment);
    const size_t knotFloats = size_t(count) * size_t(d);
    const size_t partBytes =
        size_t(8 * d) + 4 * size_t(CompactStartCount(mostSegments)) +
        size_t(CompactHeadersBytes(kCompactLineLayout, kCompactQuaternion, stored, mostSegments)) +
        kCompactSpareBytes;
    const size_t depthBytes = size_t(mostSegments) * size_t(stored);
    const size_t targetFloats = size_t(kLongestSegment) * size_t(d);
    const size_t bytes = 8 * knotFloats + 4 * targetFloats + partBytes + 2 * depthBytes + 16;
    auto* work = static_cast<uint8_t*>(ORVANE_ALLOCATE(4, bytes));
    if (work == nullptr) return fit;
    float* trialKnots = reinterpret_cast<float*>(work);
    float* bestKnots = trialKnots + knotFloats;
    float* targets = bestKnots + knotFloats;
    uint8_t* parts = work + 8 * knotFloats + 4 * targetFloats;
    uint8_t* depths = parts + partBytes;
    uint8_t* best = depths + depthBytes;

    int64_t bestBytes = INT64_MAX;
    int32_t bestLength = 0, bestKnotCount = 0, bestPacking = 0, bestLayout = kCompactLayout;
    bool bestMissed = false;
    // Quaternions with their curve's range stored, or in the unit range (no range stored, the
    // segments' sub-ranges in coarser steps): the smaller.
    const int32_t packings[2] = {quaternion ? kCompactQuaternion : kCompactComponents,
                                 kCompactQuaternionInUnitRange};
    for (int32_t spacing : kSpacings) {
        int32_t m = count;
        const float* knots = samples;
        float rest = tolerance;
        if (spacing > 1) {
            if (count <= 2 * spacing) break;
            m = (count - 1 + spacing / 2) / spacing + 1;
            const float skipped = Resample(samples, count, d, quaternion, m, trialKnots);
            if (!(skipped <= kSpacingShare * tolerance)) break;  // wider spacings skip more
            knots = trialKnots;
            // Normalising after the lerp can stretch a knot's rounding a little.
            rest = (tolerance - skipped) * (quaternion ? 0.98f : 1.0f);
        }
        for (int32_t packing : packings) {
            if (packing == kCompactQuaternionInUnitRange && (!quaternion || m > kUnitRangeKnots))
                break;
            for (int32_t length : kSegmentLengths) {
                for (int32_t layout : {kCompactLayout, kCompactLineLayout}) {
                    if (layout == kCompactLineLayout && length < kShortestLineSegment) continue;
                    DaCompact r{};  // over the working storage, for trying depths
                    r.Dimension = int16_t(d);
                    r.KnotCount = m;
                    r.Packing = uint8_t(packing);
                    r.SegmentLength = uint8_t(length);
                    r.Layout = int16_t(layout);
                    r.Bytes = parts;
                    r.ByteCount = int32_t(partBytes);
                    bool missed = false;
                    const int64_t bits = ChooseDepths(r, knots, rest, depths, targets, &missed);
                    const int32_t segments = CompactSegmentCount(m, length);
                    // Headers and range counted as layout 1 stores them, as the compressor compares
                    // curves (see its ChoiceBytes): by layout 2's smaller sizes the choice tips to
                    // shorter segments and stored ranges, and captures came out larger once the
                    // compressor had lowered their depths (up to 4% on the CMU walk). Layout 3's
                    // lines count what they add to layout 2's headers.
                    const int64_t size =
                        (bits + 7) / 8 + CompactRangeBytes(kCompactFirstLayout, packing, d) +
                        CompactHeadersBytes(kCompactFirstLayout, packing, stored, segments) +
                        4 * int64_t(CompactStartCount(segments)) +
                        CompactHeadersBytes(layout, packing, stored, segments) -
                        CompactHeadersBytes(kCompactLayout, packing, stored, segments);
                    if (size < bestBytes && (!missed || bestLength == 0)) {
                        bestBytes = size;
                        bestLength = length;
                        bestKnotCount = m;
                        bestPacking = packing;
                        bestLayout = layout;
                        bestMissed = missed;
                        std::memcpy(best, depths, size_t(segments) * size_t(stored));
                        if (knots != bestKnots)
                            std::memcpy(bestKnots, knots, size_t(m) * size_t(d) * 4);
                    }
                }
            }
        }
    }

    if (bestLength > 0) {
        fit.curve = BuildCompactCurve(bestKnots, bestKnotCount, d, bestPacking, bestLength, best,
                                      count, interval, CompactHeadersLastOf(bestLayout));
        fit.missed = bestMissed;
    }
    if (fit.curve == nullptr) {
        ORVANE_DEALLOCATE(work);
        return fit;
    }
    orvane_curve_builder* builder = OrvaneBeginCurveCopy(fit.curve);
    fit.bytes = builder ? OrvaneGetResultingCurveDataSize(builder) : 0;
    if (builder) OrvaneAbortCurveBuilder(builder);

    // The error as the curve decodes, at every sample.
    const auto* r = static_cast<const DaCompact*>(fit.curve->CurveData.Object);
    const int32_t m = r->KnotCount;
    float* decoded = trialKnots;
    DecodeCompactKnots(r, 0, m, decoded);
    for (int32_t j = 0; j < count; ++j) {
        float value[kCompactMaxDimension];
        if (m == 1) {
            std::memcpy(value, decoded, size_t(d) * 4);
        } else {
            const double at = double(j) * double(m - 1) / double(count - 1);
            int32_t k = int32_t(at);
            if (k >= m - 1) k = m - 2;
            CompactBetween(decoded + int64_t(k) * d, decoded + int64_t(k + 1) * d,
                           float(at - double(k)), d, quaternion, value);
        }
        const float e = Distance(value, samples + int64_t(j) * d, d);
        if (!(e <= fit.error)) fit.error = e;
    }
    if (!(fit.error <= tolerance)) fit.missed = true;
    ORVANE_DEALLOCATE(work);
    return fit;
}

}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API orvane_curve2* OrvaneFitCompactCurve(orvane_int32 Dimension, orvane_bool Quaternion,
                                                orvane_int32 Count, const orvane_real32* Samples,
                                                orvane_real32 TimeStep, orvane_real32 Tolerance,
                                                orvane_real32* Error) {
    if (Error) *Error = 0.0f;
    ORVANE_CHECK_NOT_NULL(OrvaneCurveOrigin, Samples, nullptr);
    if (Count < 1 || Dimension < 1 || Dimension > kCompactMaxDimension ||
        (Quaternion && Dimension != 4) || !(TimeStep > 0.0f) || !std::isfinite(TimeStep) ||
        !(Tolerance > 0.0f) || !std::isfinite(Tolerance)) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin,
                         "No compact curve fits %d samples of dimension %d%s, %g s apart, "
                         "within %g",
                         int(Count), int(Dimension), Quaternion ? " (quaternions)" : "",
                         double(TimeStep), double(Tolerance));
        return nullptr;
    }
    for (int64_t i = 0; i < int64_t(Count) * Dimension; ++i)
        if (!std::isfinite(Samples[i])) {
            // (The library's messages take 32-bit numbers: the sample, then the component.)
            ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Sample %d, component %d, is not finite",
                             int(i / Dimension), int(i % Dimension));
            return nullptr;
        }
    CompactFit fit =
        FitCompactCurve(Samples, Count, Dimension, Quaternion != 0, TimeStep, Tolerance);
    if (fit.curve == nullptr) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Out of memory fitting a compact curve");
        return nullptr;
    }
    if (fit.missed) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin,
                         "The samples leave a compact curve by %g, more than the tolerance %g",
                         double(fit.error), double(Tolerance));
        OrvaneFreeCurve(fit.curve);
        return nullptr;
    }
    if (Error) *Error = fit.error;
    return fit.curve;
}

}  // extern "C"

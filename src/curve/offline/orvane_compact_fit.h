// Fitting samples with the compact curve format: each segment at the smallest bit depth that
// keeps its samples within a tolerance, at the segment length that makes the curve smallest.
#ifndef ORVANE_COMPACT_FIT_H
#define ORVANE_COMPACT_FIT_H

#include <cstdint>

#include "orvane/types.h"

namespace orvane {

struct CompactFit {
    orvane_curve2* curve = nullptr;  // one block (OrvaneFreeCurve), or null without memory
    int32_t bytes = 0;               // the data record and its arrays
    float error = 0.0f;              // largest distance from a sample at a knot
    bool missed = false;             // some segment misses the tolerance at 24 bits
};

// `count` samples of `dimension` values (unit quaternions, sign-continuous, when `quaternion`),
// `interval` seconds apart, as a degree-1 curve over the same time (a knot every sample, or
// every few samples where the straight path across the others holds). The error of a sample is
// its Euclidean distance (over the quaternion's four components) from the curve at its time.
CompactFit FitCompactCurve(const float* samples, int32_t count, int32_t dimension, bool quaternion,
                           float interval, float tolerance);

// The straight path between two knots a and b of d components at u in [0, 1]: their lerp,
// normalised for quaternions (the sampler's degree-1 curve).
void CompactBetween(const float* a, const float* b, float u, int32_t d, bool quaternion,
                    float* out);

// The knots a compact curve of `knotCount` knots holds for the samples before rounding: the
// samples themselves (as many knots as samples), or knots on their straight path.
void CompactKnotsFor(const float* samples, int32_t count, int32_t dimension, bool quaternion,
                     int32_t knotCount, float* knots);

// A compact curve of the given knots (spread evenly over `count` samples `interval` apart),
// packing, segment length, bit depths (per segment, per stored component) and layout (2 to 5);
// null without memory or when it would not fit its byte count.
orvane_curve2* BuildCompactCurve(const float* knots, int32_t knotCount, int32_t dimension,
                                 int32_t packing, int32_t segmentLength, const uint8_t* depths,
                                 int32_t count, float interval, int32_t layout);

}  // namespace orvane

#endif  // ORVANE_COMPACT_FIT_H

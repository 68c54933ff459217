// B-spline evaluation: the sampler tables for the track samplers, which dispatch without
// checks.
#ifndef ORVANE_BSPLINE_H
#define ORVANE_BSPLINE_H

#include <array>

#include "core/orvane_private.h"
#include "orvane/bspline.h"

namespace orvane {

constexpr int kMaxBSplineDegree = 3;
constexpr int kMaxBSplineDimension = 9;
// Window buffers large enough for any curve the samplers accept.
constexpr int kBSplineKnotBufferSize = 2 * kMaxBSplineDegree;
constexpr int kBSplineControlBufferSize = 2 * kMaxBSplineDegree * kMaxBSplineDimension;

// Indexed by degree * 10 + dimension; null where there is no routine.
extern const std::array<orvane_bspline_sampler, 40> kBSplineSamplers;
extern const std::array<orvane_bspline_sampler, 40> kBSplineSamplersNormalizing;

// Negates each of the first count quaternions whose dot product with the (already
// corrected) one before it is negative.
void MakeQuaternionsContinuous(float* quaternions, int count);

// A curve that does not loop holds its first knot's value before that knot and its last
// knot's value after the last one; the spline itself would divide 0/0 on the repeated front
// knots and extrapolate past the back. For the window that OrvaneConstructBSplineBuffers built
// at KnotIndex of a curve of n knots and degree >= 1: when t lies at or before the first knot
// and the front was clamped (clampFront), or at or after the last knot and the back was
// clamped (clampBack), writes that knot's control (normalised like the sampler when
// normalize) and returns true; otherwise returns false and the caller samples the window.
// Only windows with KnotIndex < degree or KnotIndex + degree >= n can reach an end, so
// callers test that first and interior windows pay nothing.
bool HoldCurveEnd(int32_t degree, int32_t dimension, bool normalize, bool clampFront,
                  bool clampBack, int32_t knotIndex, int32_t knotCount, const float* ti,
                  const float* pi, float t, float* result);

}  // namespace orvane

#endif  // ORVANE_BSPLINE_H

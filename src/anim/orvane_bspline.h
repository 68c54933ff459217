// B-spline evaluation: the sampler tables for the track samplers, which dispatch without
// checks.
#ifndef ORVANE_BSPLINE_H
#define ORVANE_BSPLINE_H

#include "core/orvane_private.h"
#include "orvane/anim.h"

namespace orvane {

constexpr int kMaxBSplineDegree = 3;
constexpr int kMaxBSplineDimension = 9;
// Window buffers large enough for any curve the samplers accept.
constexpr int kBSplineKnotBufferSize = 2 * kMaxBSplineDegree;
constexpr int kBSplineControlBufferSize = 2 * kMaxBSplineDegree * kMaxBSplineDimension;

// Indexed by degree * 10 + dimension; null where there is no routine.
extern const orvane_bspline_sampler kBSplineSamplers[40];
extern const orvane_bspline_sampler kBSplineSamplersNormalizing[40];

// Negates each of the first count quaternions whose dot product with the (already
// corrected) one before it is negative.
void MakeQuaternionsContinuous(float* quaternions, int count);

}  // namespace orvane

#endif  // ORVANE_BSPLINE_H

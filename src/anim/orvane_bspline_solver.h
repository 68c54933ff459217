// Least-squares B-spline fitting: access to the solver's last encoded curve for the modules
// that keep fitted curves in their own storage (the animation compressor).
#ifndef ORVANE_BSPLINE_SOLVER_H
#define ORVANE_BSPLINE_SOLVER_H

#include "core/orvane_private.h"
#include "orvane/anim.h"

#include <cstdint>

namespace orvane {

// The curve that the last OrvaneFitBSplineToSamples call encoded, in the format it was asked
// for and with knots in sample units (not scaled by the time step); null before the first
// fit or after a refused one. It lives in the solver and is overwritten by the next fit.
const orvane_curve2* LastFittedCurve(const orvane_bspline_solver* solver);

// The basis weights of the d + 1 controls i - d .. i at time t for the knot interval that
// ends at knots[i], with knots[-d .. i + d - 1] readable (the fit extends its knot arrays by
// clamping, as the evaluation does). The same real32 expressions as the samplers.
void BSplineWeights(int32_t degree, const float* knotsAtI, float t, float* weights);

}  // namespace orvane

#endif  // ORVANE_BSPLINE_SOLVER_H

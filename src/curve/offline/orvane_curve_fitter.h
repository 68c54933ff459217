// Least-squares B-spline fitting: the solve on caller-chosen knots, for the animation
// compressor's own knot selection.
#ifndef ORVANE_CURVE_FITTER_H
#define ORVANE_CURVE_FITTER_H

#include "core/orvane_private.h"
#include "orvane/fit.h"

#include <cstdint>

namespace orvane {

// The least-squares controls of a spline of degree on the given knots (in sample units,
// increasing, first 0 and last sampleCount - 1, at most the solver's maximum) through the
// samples, as OrvaneFitBSplineToSamples solves them, into controls (knotCount x dimension).
// False, with nothing written, for arguments beyond the solver's maxima.
bool SolveControlsForKnots(orvane_bspline_solver* solver, int32_t sampleCount, const float* samples,
                           int32_t dimension, int32_t degree, const float* knots, int32_t knotCount,
                           float* controls);

}  // namespace orvane

#endif  // ORVANE_CURVE_FITTER_H

// Least-squares B-spline fitting: the solve on caller-chosen knots, for the animation
// compressor's own knot selection.
#ifndef ORVANE_CURVE_FITTER_H
#define ORVANE_CURVE_FITTER_H

#include "core/orvane_private.h"
#include "orvane/fit.h"

#include <cstdint>

namespace orvane {

// The least-squares controls of a spline of degree on the given knots (in sample units,
// increasing, first 0, at most the solver's maximum; a last knot before sampleCount - 1 holds
// its control to the end, as the evaluation does) through the samples, as
// OrvaneFitBSplineToSamples solves them, into controls (knotCount x dimension). False, with
// nothing written, for arguments beyond the solver's maxima. With pinFirst, control 0 (the
// value at the start, which the clamped start leaves to few samples) is the first sample and
// the others are solved around it.
bool SolveControlsForKnots(orvane_bspline_solver* solver, int32_t sampleCount, const float* samples,
                           int32_t dimension, int32_t degree, const float* knots, int32_t knotCount,
                           float* controls, bool pinFirst = false);

// The knot times that a curve of the format (orvane_curve_format) stores for knots given in
// the unit the curve is encoded in, divided by unit: the times the evaluation will use. The
// plain-float format keeps them; the quantised formats round them to their grid of 65,535 or
// 255 steps over the last knot. False when the format stores no knot times, or when two
// distinct knots fall on one stored value (the format cannot hold this knot vector).
bool StoredKnotTimes(int format, int32_t knotCount, const float* knots, float unit, float* out);

// Bytes a quantised or plain-float format spends per stored knot time (4, 2 or 1); 0 for the
// identity, constant and keyframe formats.
int32_t KnotTimeBytes(int format);

// The value at time t (sample units) of a spline of degree over decoded knots (sample units,
// increasing, n of them, readable degree + 1 entries past both ends: extend them with
// ExtendStoredKnots) and decoded controls, in the interval that ends at knot i, as the
// evaluation computes it: held at the end controls outside the knots, normalised when asked.
void EvaluateStored(int32_t degree, int32_t dimension, bool normalize, const float* knots,
                    int32_t n, const float* controls, int32_t i, float t, float* result);

// How far a smooth path through the samples may leave the straight line between samples
// j - 1 and j at its midpoint: the largest of the offsets that the quadratics through three
// neighbouring samples and the cubic through four take there. The offset between samples
// beyond this (and the budget) is a swing of the curve.
float MidpointBend(const float* samples, int32_t sampleCount, int32_t dimension, int32_t j);

// Repeats the first and last knot degree + 1 times past both ends.
void ExtendStoredKnots(float* knots, int32_t n, int32_t degree);

}  // namespace orvane

#endif  // ORVANE_CURVE_FITTER_H

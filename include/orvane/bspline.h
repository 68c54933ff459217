/* Orvane B-spline evaluation: the evaluation windows and routines per degree and dimension, knot
 * search, and the evaluation of whole curves at a time. Every routine here is pure (any thread). */
#ifndef ORVANE_PUBLIC_BSPLINE_H
#define ORVANE_PUBLIC_BSPLINE_H

#include "orvane/common.h"
#include "orvane/types.h"
#include "orvane/curve.h"

ORVANE_EXTERN_C_BEGIN

/* ---------------------------------------------------------------------------------------- */
/* B-spline evaluation                                                                      */
/* ---------------------------------------------------------------------------------------- */

/* A window: ti[-d to d-1] are the 2d knots and pi[-d*D to D-1] the d + 1 control vectors
 * around the knot interval that contains t. Every routine here is pure (any thread).
 *
 * The sampler routines OrvaneSampleBSpline<degree>x<dimension> (and the normalising forms
 * ...n) evaluate de Boor's algorithm on a window at time t (seconds) and write dimension
 * values to Result. They do no checks: ti, pi and Result must be valid, and t is meant to lie
 * in [ti[-1], ti[0]] (outside it the polynomial of that interval is extrapolated; a window
 * whose ti[-1] equals ti[0] divides 0 by 0). The curve evaluators below keep t in the curve's
 * time domain; callers that build windows themselves should do the same. */
typedef void (*orvane_bspline_sampler)(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);

ORVANE_API void OrvaneSampleBSpline0x1(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline0x2(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline0x3(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline0x4(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline0x9(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline1x1(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline1x2(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline1x3(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline1x4(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline1x9(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline2x1(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline2x2(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline2x3(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline2x4(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline2x9(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline3x1(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline3x2(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline3x3(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline3x4(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline3x9(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
/* The normalising forms: the weighted sum scaled to unit length, exactly (to float rounding;
 * a sum without length, or one that is not finite, is left as it is). */
ORVANE_API void OrvaneSampleBSpline1x3n(const orvane_real32* ti, const orvane_real32* pi,
                                        orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline1x4n(const orvane_real32* ti, const orvane_real32* pi,
                                        orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline2x3n(const orvane_real32* ti, const orvane_real32* pi,
                                        orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline2x4n(const orvane_real32* ti, const orvane_real32* pi,
                                        orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline3x3n(const orvane_real32* ti, const orvane_real32* pi,
                                        orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline3x4n(const orvane_real32* ti, const orvane_real32* pi,
                                        orvane_real32 t, orvane_real32* Result);

/* Checks, then calls the routine for Degree and Dimension (the normalising one when Normalize):
 * a Degree outside [0, 4) logs "%s(%d): Degree %d is out of range [0, %d)", a Dimension
 * outside [0, 10) "%s(%d): Dimension %d is out of range [0, %d)", a pair without a routine
 * "%s(%d): Unrecognized degree/dimension combination (%d/%d)"; Result is then not written.
 * Degree 0 never renormalises. */
ORVANE_API void OrvaneSampleBSpline(orvane_int32 Degree, orvane_int32 Dimension,
                                    orvane_bool Normalize, const orvane_real32* ti,
                                    const orvane_real32* pi, orvane_real32 t,
                                    orvane_real32* Result);
/* No checks: the caller guarantees a degree and dimension that have a routine. */
ORVANE_API void OrvaneUncheckedSampleBSpline(orvane_int32 Degree, orvane_int32 Dimension,
                                             const orvane_real32* ti, const orvane_real32* pi,
                                             orvane_real32 t, orvane_real32* Result);
/* The same from the normalising table. */
ORVANE_API void OrvaneUncheckedSampleBSplineN(orvane_int32 Degree, orvane_int32 Dimension,
                                              const orvane_real32* ti, const orvane_real32* pi,
                                              orvane_real32 t, orvane_real32* Result);

/* First index with Knots[index] > t, else KnotCount - 1 (0 for no knots or null Knots). Knots
 * must ascend; a NaN t gives KnotCount - 1. */
ORVANE_API orvane_int32 OrvaneFindKnot(orvane_int32 KnotCount, const orvane_real32* Knots,
                                       orvane_real32 t);
/* The same; StartingIndex is not used. */
ORVANE_API orvane_int32 OrvaneFindCloseKnot(orvane_int32 KnotCount, const orvane_real32* Knots,
                                            orvane_real32 t, orvane_int32 StartingIndex);

/* Builds the window around KnotIndex (clamped into the curve). KnotBuffer holds 2 * degree
 * values and ControlBuffer 2 * degree * Dimension (at least Dimension). Returns true when the
 * window was extended past either end of the curve: by clamping (no neighbour), from an
 * identity neighbour (IdentityVector, zeros when null, at steps of its duration) or from the
 * prior and after curves (looping: the neighbour's knots shifted by the durations, its
 * repeated last knot skipped). A neighbour of another dimension or without knots is treated
 * as absent (with an error); so is, silently and for that end only, one whose shifted knots
 * would not keep the window's knots strictly rising (a duration no longer than the neighbour's span
 * up to its last knot but one, 0, negative or NaN) or would not be finite: that end is clamped
 * as without a neighbour. An identity or knot-less curve yields a window of identity values. A
 * rejected curve, a Dimension outside [0, 10), a degree above 3 or a Dimension other than the
 * curve's logs an error and returns false with *ti and *pi at the buffers. Writes only the caller's
 * buffers. */
ORVANE_API orvane_bool OrvaneConstructBSplineBuffers(
    orvane_int32 Dimension, const orvane_curve2* PriorCurve, const orvane_curve2* Curve,
    const orvane_curve2* AfterCurve, orvane_real32 PriorCurveDuration, orvane_real32 CurveDuration,
    orvane_real32 AfterCurveDuration, orvane_int32 KnotIndex, orvane_real32* KnotBuffer,
    orvane_real32* ControlBuffer, orvane_real32** ti, orvane_real32** pi,
    const orvane_real32* IdentityVector);

/* Evaluates Curve at time t (seconds on the curve's own knot values) into Result, which
 * receives Dimension values (0 to 9, and the curve's own dimension unless it is an identity
 * curve). The time domain is the whole real line:
 * - between the first and the last knot, the B-spline (degree 0 holds each control over the
 *   interval that ends at its knot);
 * - before the first knot, the value at the first knot, unless BackwardsLoop: then the
 *   curve continues periodically backwards with period CurveDuration;
 * - after the last knot, the value at the last knot, unless ForwardsLoop: then the curve
 *   continues periodically forwards (its last knot repeats its first);
 * - a loop whose CurveDuration is not longer than the curve's span from its first knot to its
 *   last but one (or is 0, negative or NaN) has no periodic continuation: that end is held as
 *   without looping;
 * - a NaN t reads the last interval and yields NaN values.
 * An identity curve yields the first Dimension values of IdentityVector (zeros when null), a
 * constant its control, a keyframed curve its first frame. Normalize (dimension 3 or 4, degree
 * above 0) renormalises exactly, as the normalising B-spline forms do; with Dimension 4 a
 * window continued past an end is made sign-continuous first. A null, unrecognised or mismatched
 * curve, an out-of-range degree or dimension logs an error and leaves Result unchanged. Reads only
 * the curve; safe from any number of threads. */
ORVANE_API void OrvaneEvaluateCurveAtT(orvane_int32 Dimension, orvane_bool Normalize,
                                       orvane_bool BackwardsLoop, const orvane_curve2* Curve,
                                       orvane_bool ForwardsLoop, orvane_real32 CurveDuration,
                                       orvane_real32 t, orvane_real32* Result,
                                       const orvane_real32* IdentityVector);
/* OrvaneEvaluateCurveAtT with the knot index given: KnotIndex should be
 * OrvaneCurveFindKnot(Curve, t) (a previous frame's index is fine while t stays in its
 * interval); an index equal to the knot count is lowered by one, others are clamped into the
 * curve. Times outside the knots behave as in OrvaneEvaluateCurveAtT when KnotIndex is the
 * first or last interval's. */
ORVANE_API void OrvaneEvaluateCurveAtKnotIndex(orvane_int32 Dimension, orvane_bool Normalize,
                                               orvane_bool BackwardsLoop,
                                               const orvane_curve2* Curve, orvane_bool ForwardsLoop,
                                               orvane_real32 CurveDuration, orvane_int32 KnotIndex,
                                               orvane_real32 t, orvane_real32* Result,
                                               const orvane_real32* IdentityVector);

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_BSPLINE_H */

/* Orvane curve fitting (offline): B-spline curves fitted to samples within an error, and periodic
 * loops fitted to a clip's start and end placements. */
#ifndef ORVANE_PUBLIC_FIT_H
#define ORVANE_PUBLIC_FIT_H

#include "orvane/common.h"
#include "orvane/types.h"
#include "orvane/curve.h"
#include "orvane/periodic_loop.h"

ORVANE_EXTERN_C_BEGIN

/* ---------------------------------------------------------------------------------------- */
/* Curve fitting                                                                            */
/* ---------------------------------------------------------------------------------------- */
/* ---------------------------------------------------------------------------------------- */
/* A solver holds all the working memory of fits up to its maxima, so repeated fits allocate
 * nothing. Threads: a solver belongs to one thread at a time; distinct solvers may fit on
 * several threads at once (nothing is shared between calls). */

typedef struct orvane_bspline_solver orvane_bspline_solver;

/* SolverFlags bits of OrvaneFitBSplineToSamples and OrvaneGetSquaredErrorOverCurve. */
typedef enum orvane_bspline_solver_flags {
    /* Samples are quaternions: evaluation renormalises, the error at a sample s against the
     * curve value c is (1 - s . c)^2. */
    OrvaneFitQuaternionMode = 1,
    /* Degree + 1 knots at a sample that differs from a neighbour by more than C0Threshold. */
    OrvaneFitBreakAtJumps = 2,
    /* Degree knots at a sample whose second difference exceeds C1Threshold. */
    OrvaneFitBreakAtKinks = 4,
    /* Degree - 1 extra knots at 0.125-sample steps just after the first knot. */
    OrvaneFitDenseStartKnots = 16,
    /* The first and last controls are the first and last samples. */
    OrvaneFitPinEnds = 32,
    /* The refinement also measures the curve halfway between samples, against the straight
     * path between the two samples (normalised in quaternion mode), allowing the bend that
     * smooth paths through the neighbouring samples take there: a curve that meets every
     * sample but swings between them inserts knots as a missed sample does. */
    OrvaneFitCheckMidpoints = 64
} orvane_bspline_solver_flags;

typedef struct orvane_bspline_error_result {
    orvane_int32 MaxErrorKnotIndex;   /* -1 when no sample has an error above 0 */
    orvane_int32 MaxErrorSampleIndex; /* -1 likewise */
    orvane_real32 MaxSquaredError;
    orvane_real32 TotalSquaredError;
} orvane_bspline_error_result;

/* MaxDegree 0 to 3, MaxSampleCount at least 2, MaxDimension 0 to 9 (the dimensions the
 * B-spline evaluation knows; fits of dimension 5 to 8 are refused by the fit). Null, with an
 * error logged, for other maxima or when the allocation fails. */
ORVANE_API orvane_bspline_solver* OrvaneAllocateBSplineSolver(orvane_int32 MaxDegree,
                                                              orvane_int32 MaxSampleCount,
                                                              orvane_int32 MaxDimension);
ORVANE_API void OrvaneDeallocateBSplineSolver(orvane_bspline_solver* Solver);

/* Fits a B-spline of Degree to SampleCount evenly spaced samples of Dimension reals each
 * (sample i at time i during the fit), inserting knots until every sample is within
 * ErrorThreshold (a distance in sample units, or the quaternion error above) of the curve as
 * encoded in CurveDataType (null: DaK32fC32f), so quantisation is part of the test. The
 * controls are solved on the knot times the format stores (quantised formats round knots to a
 * grid over the last knot), so the rounding of the knots costs nothing; samples past a last
 * knot that rounded down see the last control held, as the evaluation holds it.
 * KnotsOut and ControlsOut must hold the solver's maximum knot count
 * (OrvaneGetMaximumKnotCountForSampleCount of its maxima) times 1 and times Dimension reals;
 * they receive the encoded curve's decoded knots (multiplied by TimeStep, so they are in the
 * caller's time unit) and controls. *AchievedTolerance is false when a sample could not be
 * brought within the tolerance, the knots reached the maximum, or the encoded size exceeded
 * MaximumCurveSizeInBytes (when above 0); *CurveSizeInBytes is then -1, else the encoded data
 * size. Both may be null. Returns the knot count; 0, with an error logged, for a null solver
 * or arrays, SampleCount below 2 or above the solver's maximum, Degree or Dimension above the
 * solver's maxima, a Dimension the evaluation cannot sample, a sample value that is not finite
 * or an ErrorThreshold that is not a number. */
ORVANE_API orvane_int32 OrvaneFitBSplineToSamples(
    orvane_bspline_solver* Solver, orvane_real32 TimeStep, orvane_int32 SampleCount,
    const orvane_real32* Samples, orvane_uint32 SolverFlags, orvane_real32 ErrorThreshold,
    orvane_real32 C0Threshold, orvane_real32 C1Threshold, orvane_int32 Dimension,
    orvane_int32 Degree, orvane_data_type_definition* CurveDataType, orvane_real32* KnotsOut,
    orvane_real32* ControlsOut, orvane_int32 MaximumCurveSizeInBytes,
    orvane_bool* AchievedTolerance, orvane_int32* CurveSizeInBytes);

/* Squared errors of Curve against SampleCount samples spread evenly over [0, Duration]
 * (sample 0 is not measured). Curve values come from the evaluation with IdentityVector
 * (renormalised in OrvaneFitQuaternionMode). Returns -1, -1, 0, 0 for a curve that matches
 * every sample, and also, with an error logged, for null arguments, a Dimension outside 1 to 9
 * or a curve (other than an identity) of another dimension. Any thread. */
ORVANE_API orvane_bspline_error_result OrvaneGetSquaredErrorOverCurve(
    orvane_uint32 SolverFlags, orvane_int32 Degree, orvane_int32 Dimension, orvane_real32 Duration,
    const orvane_curve2* Curve, orvane_int32 SampleCount, const orvane_real32* Samples,
    const orvane_real32* IdentityVector);

/* (MaxDegree + 1) x MaxSampleCount: the most knots a fitted curve of that many samples can
 * have. No checks; a product beyond the int32 range saturates at its end. */
ORVANE_API orvane_int32 OrvaneGetMaximumKnotCountForSampleCount(orvane_int32 MaxDegree,
                                                                orvane_int32 MaxSampleCount);

/* Fits Count samples of Dimension values (1 to 16), TimeStep seconds apart, with a curve of the
 * compact format (orvane_curve_data_da_compact, degree 1 over [0, (Count - 1) TimeStep]): knots
 * every sample or every few samples (where the straight path across the others holds), each
 * segment's components at the smallest bit depths that keep every sample within Tolerance of
 * the curve at its time (the Euclidean distance over the components). With Quaternion set the
 * samples are unit quaternions (Dimension 4, neighbouring samples on the same side) and the
 * curve stores three components of each. Returns the curve in one block (release it with
 * OrvaneFreeCurve), and in *Error (may be null) the largest distance of a sample from it; null,
 * with an error logged, for arguments no curve can fit (a count below 1, a dimension outside
 * 1 to 16, a quaternion of another dimension, a time step or tolerance that is not positive,
 * samples that are not finite), no memory, or samples that 24 bits a component cannot hold.
 * Threads: a call uses only its own memory. */
ORVANE_API orvane_curve2* OrvaneFitCompactCurve(orvane_int32 Dimension, orvane_bool Quaternion,
                                                orvane_int32 Count, const orvane_real32* Samples,
                                                orvane_real32 TimeStep, orvane_real32 Tolerance,
                                                orvane_real32* Error);
/* ---------------------------------------------------------------------------------------- */
/* Periodic loops                                                                           */
/* ---------------------------------------------------------------------------------------- */
/* Any thread; arguments are not checked for null. */

/* The loop that carries the start placement to the end placement in Seconds (rates per
 * second when Seconds > 0, else per loop). Stepping the start placement by the result over
 * Seconds gives the end placement. With no relative rotation the axis is the direction of
 * the displacement (a pure translation), or (0, 0, 1) when the placements are equal. */
ORVANE_API void OrvaneFitPeriodicLoop(const orvane_real32 StartPosition[3],
                                      const orvane_real32 StartOrientation[4],
                                      const orvane_real32 EndPosition[3],
                                      const orvane_real32 EndOrientation[4], orvane_real32 Seconds,
                                      orvane_periodic_loop* Loop);

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_FIT_H */

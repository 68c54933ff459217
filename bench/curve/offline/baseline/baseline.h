// The animation compressor and curve fitter as they were before bones that the source holds
// still kept its values: the baseline that the compression benchmarks measure beside the
// library's in the same run. Same arguments and results as
// OrvaneCompressAnimation and OrvaneFitBSplineToSamples.
#ifndef ORVANE_BENCH_BASELINE_H
#define ORVANE_BENCH_BASELINE_H

#include <cstdint>

#include "orvane.h"

typedef struct baseline_bspline_solver baseline_bspline_solver;

namespace orvane_baseline {
bool SolveControlsForKnots(baseline_bspline_solver* solver, int32_t sampleCount,
                           const float* samples, int32_t dimension, int32_t degree,
                           const float* knots, int32_t knotCount, float* controls,
                           bool pinFirst = false);
bool StoredKnotTimes(int format, int32_t knotCount, const float* knots, float unit, float* out);
int32_t KnotTimeBytes(int format);
void EvaluateStored(int32_t degree, int32_t dimension, bool normalize, const float* knots,
                    int32_t n, const float* controls, int32_t i, float t, float* result);
float MidpointBend(const float* samples, int32_t sampleCount, int32_t dimension, int32_t j);
void ExtendStoredKnots(float* knots, int32_t n, int32_t degree);
}  // namespace orvane_baseline

extern "C" {
orvane_int32 BaselineGetMaximumKnotCountForSampleCount(orvane_int32 MaxDegree,
                                                       orvane_int32 MaxSampleCount);
baseline_bspline_solver* BaselineAllocateBSplineSolver(orvane_int32 MaxDegree,
                                                       orvane_int32 MaxSampleCount,
                                                       orvane_int32 MaxDimension);
void BaselineDeallocateBSplineSolver(baseline_bspline_solver* Solver);
orvane_int32 BaselineFitBSplineToSamples(
    baseline_bspline_solver* Solver, orvane_real32 TimeStep, orvane_int32 SampleCount,
    const orvane_real32* Samples, orvane_uint32 SolverFlags, orvane_real32 ErrorThreshold,
    orvane_real32 C0Threshold, orvane_real32 C1Threshold, orvane_int32 Dimension,
    orvane_int32 Degree, orvane_data_type_definition* CurveDataType, orvane_real32* KnotsOut,
    orvane_real32* ControlsOut, orvane_int32 MaximumCurveSizeInBytes,
    orvane_bool* AchievedTolerance, orvane_int32* CurveSizeInBytes);
orvane_bspline_error_result BaselineGetSquaredErrorOverCurve(
    orvane_uint32 SolverFlags, orvane_int32 Degree, orvane_int32 Dimension, orvane_real32 Duration,
    const orvane_curve2* Curve, orvane_int32 SampleCount, const orvane_real32* Samples,
    const orvane_real32* IdentityVector);
void BaselineGetDefaultAnimationCompressionOptions(orvane_animation_compression_options* Options);
orvane_track_group* BaselineCompressAnimation(const orvane_skeleton* Skeleton,
                                              orvane_track_group_sampler* Samples,
                                              orvane_int32 SampleCount, orvane_real32 TimeStep,
                                              const char* Name,
                                              const orvane_animation_compression_options* Options,
                                              orvane_animation_compression_statistics* Statistics);
}

#endif  // ORVANE_BENCH_BASELINE_H

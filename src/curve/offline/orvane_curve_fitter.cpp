// Least-squares B-spline fitting: initial knots, the banded normal equations and their
// Cholesky factor, encoding in any curve format, refinement by midpoint insertion, and the
// squared error of a curve over samples.
#include "curve/offline/orvane_curve_fitter.h"

#include <cmath>
#include <cstddef>
#include <bit>
#include <cstring>

#include "curve/orvane_bspline.h"
#include "curve/orvane_bspline_weights.h"
#include "curve/orvane_curve.h"
#include "core/orvane_private.h"
#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "diag/orvane_timing.h"

struct orvane_bspline_solver {
    int32_t MaxDegree;
    int32_t MaxSampleCount;
    int32_t MaxDimension;
    int32_t MaxKnotCount;
    int32_t KnotCapacity;  // entries of each knot array from index 0
    // Two knot arrays that swap roles after each refinement; each is readable MaxDegree + 1
    // entries before index 0 (the front of the clamped extension).
    float* Knots[2];
    int32_t* SampleIntervals;  // per sample, the knot that ends its interval
    uint8_t* Degenerate;       // per row of the normal equations, a pivot left unscaled
    float* Basis;              // per sample, the weights of its d + 1 controls
    float* Band;               // the normal equations, d + 1 entries per row
    float* Evaluation;         // one curve value and one reference, MaxDimension reals each
    float* ZeroIdentity;       // MaxDimension zeros for extraction
    orvane_curve2 Curve;       // the last encoded curve, data in CurveBuffer
    bool HasCurve;
    void* CurveBuffer;
    int32_t CurveBufferSize;
};

namespace orvane {
namespace {

constexpr float kPivotFloor = 0.00001f;

// Clamps the knot vector past both ends as the evaluation's windows do, so the fit solves
// for the curve that will be evaluated.
void ExtendKnots(float* knots, int32_t n, int32_t degree) {
    for (int32_t j = 1; j <= degree + 1; ++j) {
        knots[-j] = knots[0];
        knots[n - 1 + j] = knots[n - 1];
    }
}

// Quantised knots may coincide: a sample at or past such a pair takes the nearest interval of
// positive length (extrapolating a little) rather than dividing by zero.
inline int32_t PositiveInterval(const float* knots, int32_t n, int32_t j) {
    int32_t k = j;
    while (k > 1 && !(knots[k] > knots[k - 1]))
        --k;
    while (k < n - 1 && !(knots[k] > knots[k - 1]))
        ++k;
    return k;
}

// The interval of each sample: the first knot after it (the last knot for the last sample),
// as the evaluation's knot search finds it. A sample on a repeated knot (a jump) thus belongs
// to the piece that starts there, which is the value the curve will be sampled at.
void AssignIntervals(const float* knots, int32_t n, int32_t sampleCount, int32_t* intervals) {
    int32_t j = n > 1 ? 1 : 0;
    for (int32_t i = 0; i < sampleCount; ++i) {
        const float x = float(i);
        while (j < n - 1 && x >= knots[j])
            ++j;
        intervals[i] = PositiveInterval(knots, n, j);
    }
}

// Weights of controls interval - d .. interval, folded so that a control before the first
// (which the evaluation clamps to control 0) adds to control 0.
int32_t FoldedRow(int32_t degree, const float* weights, int32_t interval, int32_t* columns,
                  float* values) {
    int32_t count = 0;
    for (int32_t c = 0; c <= degree; ++c) {
        int32_t column = interval - degree + c;
        if (column < 0) column = 0;
        if (count > 0 && columns[count - 1] == column) {
            values[count - 1] += weights[c];
        } else {
            columns[count] = column;
            values[count] = weights[c];
            ++count;
        }
    }
    return count;
}

// Normal equations A^T A (upper band, d + 1 entries per row) and A^T b into rhs.
void BuildNormalEquations(orvane_bspline_solver* solver, int32_t n, int32_t sampleCount,
                          const float* samples, int32_t dimension, int32_t degree, float* rhs) {
    ORVANE_TIMING_BLOCK("BuildATAAndATb");
    const int32_t width = degree + 1;
    float* band = solver->Band;
    SetReal32(size_t(n) * size_t(width), 0.0f, band);
    SetReal32(size_t(n) * size_t(dimension), 0.0f, rhs);
    int32_t columns[4];
    float values[4];
    for (int32_t i = 0; i < sampleCount; ++i) {
        const int32_t interval = solver->SampleIntervals[i];
        const float* w = solver->Basis + size_t(i) * size_t(width);
        const int32_t count = FoldedRow(degree, w, interval, columns, values);
        const float* s = samples + size_t(i) * size_t(dimension);
        for (int32_t a = 0; a < count; ++a) {
            const int32_t row = columns[a];
            float* bandRow = band + size_t(row) * size_t(width);
            for (int32_t b = a; b < count; ++b)
                bandRow[columns[b] - row] += values[a] * values[b];
            float* r = rhs + size_t(row) * size_t(dimension);
            for (int32_t c = 0; c < dimension; ++c)
                r[c] += values[a] * s[c];
        }
    }
}

// U^T U = A in place: the diagonal holds 1 / sqrt(pivot); a pivot at or below the floor is
// left as it is, its row unscaled and marked, and it takes no part in later rows.
void CholeskyFactor(orvane_bspline_solver* solver, int32_t n, int32_t degree) {
    ORVANE_TIMING_BLOCK("SymmetricBandDiagonalCholeskyFactor");
    const int32_t width = degree + 1;
    float* band = solver->Band;
    uint8_t* degenerate = solver->Degenerate;
    for (int32_t i = 0; i < n; ++i) {
        float* row = band + size_t(i) * size_t(width);
        for (int32_t k = 0; k < width && i + k < n; ++k) {
            const int32_t j = i + k;
            float sum = row[k];
            const int32_t first = j - degree > 0 ? j - degree : 0;
            for (int32_t m = first; m < i; ++m) {
                if (degenerate[m]) continue;
                const float* above = band + size_t(m) * size_t(width);
                sum -= above[i - m] * above[j - m];
            }
            row[k] = sum;
        }
        const float pivot = row[0];
        if (!(pivot > kPivotFloor)) {
            degenerate[i] = 1;
            continue;
        }
        degenerate[i] = 0;
        const float inverse = 1.0f / std::sqrt(pivot);
        row[0] = inverse;
        for (int32_t k = 1; k < width; ++k)
            row[k] *= inverse;
    }
}

// Forward and back substitution for all columns at once; rhs becomes the solution.
void CholeskySolve(const orvane_bspline_solver* solver, int32_t n, int32_t degree,
                   int32_t dimension, float* x) {
    ORVANE_TIMING_BLOCK("SymmetricBandDiagonalCholeskySolve");
    const int32_t width = degree + 1;
    const float* band = solver->Band;
    const uint8_t* degenerate = solver->Degenerate;
    const size_t D = size_t(dimension);
    for (int32_t i = 0; i < n; ++i) {
        if (degenerate[i]) continue;
        float* xi = x + size_t(i) * D;
        const int32_t first = i - degree > 0 ? i - degree : 0;
        for (int32_t m = first; m < i; ++m) {
            if (degenerate[m]) continue;
            const float u = band[size_t(m) * size_t(width) + size_t(i - m)];
            const float* xm = x + size_t(m) * D;
            for (size_t c = 0; c < D; ++c)
                xi[c] -= u * xm[c];
        }
        const float inverse = band[size_t(i) * size_t(width)];
        for (size_t c = 0; c < D; ++c)
            xi[c] *= inverse;
    }
    for (int32_t i = n - 1; i >= 0; --i) {
        float* xi = x + size_t(i) * D;
        if (degenerate[i]) {
            // A control no sample determines follows its successor; the last keeps its
            // right-hand side.
            if (i + 1 < n) Copy32(D, xi + D, xi);
            continue;
        }
        const float* row = band + size_t(i) * size_t(width);
        for (int32_t k = 1; k < width && i + k < n; ++k) {
            const float* xk = x + size_t(i + k) * D;
            for (size_t c = 0; c < D; ++c)
                xi[c] -= row[k] * xk[c];
        }
        for (size_t c = 0; c < D; ++c)
            xi[c] *= row[0];
    }
}

// Squared error of a sample against a curve value (normalised first in quaternion mode).
inline float SampleError(bool quaternion, int32_t dimension, const float* s, const float* c) {
    if (quaternion) {
        float dot = 0.0f;
        for (int32_t k = 0; k < dimension; ++k)
            dot += s[k] * c[k];
        const float e = 1.0f - dot;
        return e * e;
    }
    float sum = 0.0f;
    for (int32_t k = 0; k < dimension; ++k) {
        const float d = s[k] - c[k];
        sum += d * d;
    }
    return sum;
}

// The renormalisation of the evaluation's normalising samplers: exactly to unit length.
inline void NormalizeLikeSamplers(int32_t dimension, float* v) {
    float length2 = 0.0f;
    for (int32_t k = 0; k < dimension; ++k)
        length2 += v[k] * v[k];
    if (!(length2 > 0.0f && length2 < 3.0e38f)) return;
    const float factor = 1.0f / std::sqrt(length2);
    for (int32_t k = 0; k < dimension; ++k)
        v[k] *= factor;
}

// The curve value at time t in the interval that ends at knot i, from decoded knots (extended)
// and controls: the evaluation's window arithmetic, clamped at both ends.
void EvaluateDecoded(int32_t degree, int32_t dimension, bool normalize, const float* knots,
                     int32_t n, const float* controls, int32_t i, float t, float* result) {
    // The evaluation holds the end controls outside the knots.
    if (t > knots[n - 1]) t = knots[n - 1];
    if (t < knots[0]) t = knots[0];
    float w[4];
    BSplineWeights(degree, knots + i, t, w);
    for (int32_t c = 0; c < dimension; ++c)
        result[c] = 0.0f;
    for (int32_t j = 0; j <= degree; ++j) {
        int32_t control = i - degree + j;
        if (control < 0) control = 0;
        if (control > n - 1) control = n - 1;
        const float* p = controls + size_t(control) * size_t(dimension);
        for (int32_t c = 0; c < dimension; ++c)
            result[c] += w[j] * p[c];
    }
    if (normalize && degree > 0) NormalizeLikeSamplers(dimension, result);
}

}  // namespace

float MidpointBend(const float* samples, int32_t sampleCount, int32_t dimension, int32_t j) {
    const size_t D = size_t(dimension);
    auto at = [&](int32_t i, size_t c) { return samples[size_t(i) * D + c]; };
    float left = 0.0f, right = 0.0f, cubic = 0.0f;
    for (size_t c = 0; c < D; ++c) {
        if (j >= 2) {
            const float b = (at(j - 2, c) - 2.0f * at(j - 1, c) + at(j, c)) * 0.125f;
            left += b * b;
        }
        if (j + 1 < sampleCount) {
            const float b = (at(j - 1, c) - 2.0f * at(j, c) + at(j + 1, c)) * 0.125f;
            right += b * b;
        }
        if (j >= 2 && j + 1 < sampleCount) {
            const float b = (at(j - 2, c) - at(j - 1, c) - at(j, c) + at(j + 1, c)) * 0.0625f;
            cubic += b * b;
        }
    }
    const float largest =
        left > right ? (left > cubic ? left : cubic) : (right > cubic ? right : cubic);
    return std::sqrt(largest);
}

namespace {

struct RefineResult {
    int32_t newCount;
    bool inserted;
    bool unreachable;
};

// One pass over the samples against the encoded curve, decoded into knots (extended) and
// controls; midpoints of the intervals that hold the worst sample above the tolerance go into
// newKnots.
RefineResult Refine(orvane_bspline_solver* solver, const float* knots, int32_t n,
                    const float* controls, int32_t sampleCount, const float* samples,
                    bool quaternion, bool midpoints, float errorThreshold, int32_t dimension,
                    int32_t degree, float* newKnots) {
    const float tolerance = errorThreshold * errorThreshold;
    float* value = solver->Evaluation;
    RefineResult result{0, false, false};
    int32_t inserted = 0;
    int32_t out = 0;
    newKnots[out++] = knots[0];

    int32_t i = n > 1 ? 1 : 0;
    float intervalMax = tolerance;
    bool candidate = false;
    auto closeInterval = [&](int32_t interval) {
        if (candidate) {
            newKnots[out++] = 0.5f * (knots[interval - 1] + knots[interval]);
            ++inserted;
            result.inserted = true;
        }
        if (interval > 0) newKnots[out++] = knots[interval];
        candidate = false;
        intervalMax = tolerance;
    };
    // Every sample from the second, and (above degree 0) the midpoint before each, where the
    // curve must not swing away from the straight path between the samples (normalised in
    // quaternion mode) by more than the tolerance plus the bend that a smooth path through
    // the neighbouring samples takes there.
    float* between = solver->Evaluation + dimension;
    const int32_t step = midpoints && degree > 0 ? 1 : 2;
    const size_t D = size_t(dimension);
    for (int32_t h = step; h < 2 * sampleCount - 1; h += step) {
        const int32_t j = (h + 1) / 2;
        const float x = 0.5f * float(h);
        while (i < n - 1 && x >= knots[i]) {
            closeInterval(i);
            ++i;
        }
        EvaluateDecoded(degree, dimension, quaternion, knots, n, controls,
                        PositiveInterval(knots, n, i), x, value);
        const float* reference = samples + size_t(j) * D;
        float error;
        if (h & 1) {
            const float* before = reference - D;
            for (size_t c = 0; c < D; ++c)
                between[c] = 0.5f * (before[c] + reference[c]);
            const float bend = MidpointBend(samples, sampleCount, dimension, j);
            if (quaternion) NormalizeLikeSamplers(dimension, between);
            float d = std::sqrt(SampleError(false, dimension, between, value)) - bend;
            d = d > 0.0f ? d : 0.0f;
            // For unit quaternions 1 - s.c is half the squared distance.
            error = quaternion ? 0.25f * d * d * d * d : d * d;
        } else {
            error = SampleError(quaternion, dimension, reference, value);
        }
        if (!(error > intervalMax)) continue;
        if (i < 1) {
            result.unreachable = true;
            continue;
        }
        const float length = knots[i] - knots[i - 1];
        const bool afterRepeat = i == 1 || (i >= 2 && knots[i - 2] == knots[i - 1]);
        const float needed = afterRepeat ? 6.0f : 3.0f;
        const bool room = n + inserted + (candidate ? 0 : 1) < solver->MaxKnotCount;
        // Samples walk the intervals as the knot search does, so only the last sample can sit
        // on its interval's end knot; it may split that interval like any other.
        if (length >= needed && room) {
            candidate = true;
            intervalMax = error;
        } else {
            result.unreachable = true;
        }
    }
    // The last interval, and any knots after the last sample.
    for (; i < n; ++i)
        closeInterval(i);
    result.newCount = out;
    return result;
}

// Initial knots: the ends, dense start knots, and breaks at jumps and kinks.
int32_t InitialKnots(float* knots, int32_t sampleCount, const float* samples, uint32_t flags,
                     float c0, float c1, int32_t dimension, int32_t degree) {
    int32_t n = 0;
    const float last = float(sampleCount - 1);
    knots[n++] = 0.0f;
    if (flags & OrvaneFitDenseStartKnots) {
        for (int32_t k = 1; k <= degree - 1; ++k)
            knots[n++] = float(k) * 0.125f;
    }
    const float c0Squared = c0 * c0;
    const float c1Squared = c1 * c1;
    const size_t D = size_t(dimension);
    for (int32_t i = 1; i + 1 < sampleCount; ++i) {
        const float* previous = samples + size_t(i - 1) * D;
        const float* current = samples + size_t(i) * D;
        const float* next = samples + size_t(i + 1) * D;
        float before = 0.0f, after = 0.0f, second = 0.0f;
        for (size_t c = 0; c < D; ++c) {
            const float a = current[c] - previous[c];
            const float b = next[c] - current[c];
            const float s = 2.0f * current[c] - previous[c] - next[c];
            before += a * a;
            after += b * b;
            second += s * s;
        }
        const float first = before > after ? before : after;
        int32_t multiplicity = 0;
        if ((flags & OrvaneFitBreakAtKinks) && c1Squared < second) multiplicity = degree;
        if ((flags & OrvaneFitBreakAtJumps) && c0Squared < first) multiplicity = degree + 1;
        // Dense start knots lie below 1, so every break time is after the knots so far.
        for (int32_t m = 0; m < multiplicity; ++m)
            knots[n++] = float(i);
    }
    knots[n++] = last;
    if (n == 2) {
        const int32_t count = degree == 0 ? 2 : degree + 1;
        for (int32_t j = 0; j < count; ++j)
            knots[j] = float(j) * last / float(count - 1);
        n = count;
    }
    return n;
}

// Encodes the knots and controls in the requested format into the solver's curve buffer;
// the data size, or -1 when the format cannot hold this curve.
int32_t Encode(orvane_bspline_solver* solver, orvane_data_type_definition* type, int32_t degree,
               int32_t dimension, int32_t n, const float* knots, const float* controls) {
    solver->HasCurve = false;
    orvane_curve_builder builder;
    if (!InitializeCurveBuilder(&builder, type, degree, dimension, n)) return -1;
    if (builder.FormatIndex < 0) return -1;
    builder.Knots = knots;
    builder.Controls = controls;
    const int32_t size = OrvaneGetResultingCurveDataSize(&builder);
    if (size <= 0 || size > solver->CurveBufferSize) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Fitted curve does not fit the solver's buffer");
        return -1;
    }
    if (OrvaneEndCurveDataInPlace(&builder, &solver->Curve, solver->CurveBuffer) == nullptr)
        return -1;
    solver->HasCurve = true;
    return size;
}

// Decodes the encoded curve into knots and controls; knots the format does not store keep
// the values they had (the solver's knots).
int32_t Decode(const orvane_bspline_solver* solver, int32_t n, float* knots, float* controls) {
    const orvane_curve2* curve = &solver->Curve;
    int32_t stored = OrvaneCurveGetKnotCount(curve);
    if (stored > n) stored = n;
    if (stored < 1) stored = 1;
    OrvaneCurveExtractKnotValues(curve, 0, stored, knots, controls, solver->ZeroIdentity);
    return stored;
}

// The controls of the least-squares fit to the samples (sample i at time i) over the n knots,
// which must leave room for the extension past both ends.
void LeastSquaresControls(orvane_bspline_solver* solver, float* knots, int32_t n,
                          int32_t sampleCount, const float* samples, int32_t dimension,
                          int32_t degree, float* controls, bool pinFirst = false) {
    ExtendKnots(knots, n, degree);
    AssignIntervals(knots, n, sampleCount, solver->SampleIntervals);
    const int32_t width = degree + 1;
    // Samples past the last knot (a quantised last knot that rounded down) see the last
    // control held, as the evaluation holds it.
    for (int32_t i = 0; i < sampleCount; ++i) {
        const float x = float(i) < knots[n - 1] ? float(i) : knots[n - 1];
        BSplineWeights(degree, knots + solver->SampleIntervals[i], x,
                       solver->Basis + size_t(i) * size_t(width));
    }
    BuildNormalEquations(solver, n, sampleCount, samples, dimension, degree, controls);
    if (pinFirst) {
        // Control 0 = sample 0: its column moves to the right-hand side, its row becomes
        // the identity.
        float* band = solver->Band;
        for (int32_t r = 1; r < width && r < n; ++r) {
            for (int32_t c = 0; c < dimension; ++c)
                controls[size_t(r) * size_t(dimension) + size_t(c)] -= band[r] * samples[c];
            band[r] = 0.0f;
        }
        band[0] = 1.0f;
        for (int32_t c = 0; c < dimension; ++c)
            controls[c] = samples[c];
    }
    CholeskyFactor(solver, n, degree);
    CholeskySolve(solver, n, degree, dimension, controls);
}

// Whether the encoded curve of a single value (a constant, or an identity with the zero
// vector the fit hands back for it) is within the tolerance of samples 1 .. sampleCount - 1,
// measured as the refinement measures them.
bool SingleValueHoldsSamples(orvane_bspline_solver* solver, int32_t sampleCount,
                             const float* samples, bool quaternion, float errorThreshold,
                             int32_t dimension) {
    const float tolerance = errorThreshold * errorThreshold;
    float* value = solver->Evaluation;
    const float duration = float(sampleCount - 1);
    for (int32_t j = 1; j < sampleCount; ++j) {
        OrvaneEvaluateCurveAtKnotIndex(dimension, quaternion, false, &solver->Curve, false,
                                       duration, 0, float(j), value, solver->ZeroIdentity);
        const float error =
            SampleError(quaternion, dimension, samples + size_t(j) * size_t(dimension), value);
        if (error > tolerance) return false;
    }
    return true;
}

bool SamplerExists(int32_t degree, int32_t dimension, bool normalize) {
    if (dimension == 0) return true;
    if (dimension < 0 || dimension > kMaxBSplineDimension) return false;
    return (normalize ? kBSplineSamplersNormalizing : kBSplineSamplers)[degree * 10 + dimension] !=
           nullptr;
}

}  // namespace

namespace {

// The knot scale a format stores: formats 8 and 9 keep it whole, the others its top 16 bits
// (the low 16 bits of the mantissa cut).
[[gnu::noinline]] float StoredKnotScale(int format, float scale) {
    if (format == OrvaneCurveFormatD4nK16uC15u || format == OrvaneCurveFormatD4nK8uC7u)
        return scale;
    uint32_t bits;
    std::memcpy(&bits, &scale, 4);
    bits &= 0xFFFF0000u;
    float truncated;
    std::memcpy(&truncated, &bits, 4);
    return truncated;
}

}  // namespace

int32_t KnotTimeBytes(int format) {
    switch (format) {
        case OrvaneCurveFormatDaK32fC32f:
            return 4;
        case OrvaneCurveFormatDaK16uC16u:
        case OrvaneCurveFormatD4nK16uC15u:
        case OrvaneCurveFormatD3K16uC16u:
        case OrvaneCurveFormatD9I1K16uC16u:
        case OrvaneCurveFormatD9I3K16uC16u:
            return 2;
        case OrvaneCurveFormatDaK8uC8u:
        case OrvaneCurveFormatD4nK8uC7u:
        case OrvaneCurveFormatD3K8uC8u:
        case OrvaneCurveFormatD9I1K8uC8u:
        case OrvaneCurveFormatD9I3K8uC8u:
            return 1;
        default:
            return 0;
    }
}

bool StoredKnotTimes(int format, int32_t knotCount, const float* knots, float unit, float* out) {
    const int32_t bytes = KnotTimeBytes(format);
    if (bytes == 0 || knotCount < 1 || !(unit > 0.0f)) return false;
    if (bytes == 4) {
        for (int32_t i = 0; i < knotCount; ++i)
            out[i] = knots[i] / unit;
        return true;
    }
    // The codecs' grid: N steps over the last knot, the scale's low mantissa bits cut where
    // the format keeps only its top 16 bits, round to nearest (ties to even), clamped.
    const int32_t steps = bytes == 2 ? 65535 : 255;
    float whole = float(steps) / knots[knotCount - 1];
    if (!(whole > 0.0f) || !std::isfinite(whole)) whole = float(steps);
    const float scale = StoredKnotScale(format, whole);
    const float inverse = 1.0f / scale;
    int32_t previous = -1;
    for (int32_t i = 0; i < knotCount; ++i) {
        const float v = scale * knots[i];
        const int32_t q = !(v > 0.0f) ? 0 : v > float(steps) ? steps : int32_t(std::nearbyint(v));
        if (i > 0 && q == previous && knots[i] > knots[i - 1]) return false;
        previous = q;
        out[i] = inverse * float(q) / unit;
    }
    return true;
}

void EvaluateStored(int32_t degree, int32_t dimension, bool normalize, const float* knots,
                    int32_t n, const float* controls, int32_t i, float t, float* result) {
    EvaluateDecoded(degree, dimension, normalize, knots, n, controls, i, t, result);
}

void ExtendStoredKnots(float* knots, int32_t n, int32_t degree) {
    ExtendKnots(knots, n, degree);
}

bool SolveControlsForKnots(orvane_bspline_solver* solver, int32_t sampleCount, const float* samples,
                           int32_t dimension, int32_t degree, const float* knots, int32_t knotCount,
                           float* controls, bool pinFirst) {
    if (solver == nullptr || sampleCount < 2 || sampleCount > solver->MaxSampleCount ||
        dimension < 0 || dimension > solver->MaxDimension || degree < 0 ||
        degree > solver->MaxDegree || knotCount < 2 || knotCount > solver->MaxKnotCount)
        return false;
    float* k = solver->Knots[0];
    Copy32(size_t(knotCount), knots, k);
    LeastSquaresControls(solver, k, knotCount, sampleCount, samples, dimension, degree, controls,
                         pinFirst);
    return true;
}

}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API orvane_int32 OrvaneGetMaximumKnotCountForSampleCount(orvane_int32 MaxDegree,
                                                                orvane_int32 MaxSampleCount) {
    // Worked in 64 bits: a product beyond int32 saturates rather than wrapping into a small
    // or negative count (no solver is made that large).
    const int64_t count = (int64_t(MaxDegree) + 1) * int64_t(MaxSampleCount);
    if (count > INT32_MAX) return INT32_MAX;
    if (count < INT32_MIN) return INT32_MIN;
    return orvane_int32(count);
}

ORVANE_API orvane_bspline_solver* OrvaneAllocateBSplineSolver(orvane_int32 MaxDegree,
                                                              orvane_int32 MaxSampleCount,
                                                              orvane_int32 MaxDimension) {
    if (MaxDegree < 0 || MaxDegree > kMaxBSplineDegree) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "MaxDegree %d is out of range [0, %d)", int(MaxDegree),
                         kMaxBSplineDegree + 1);
        return nullptr;
    }
    if (MaxDimension < 0 || MaxDimension > kMaxBSplineDimension) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "MaxDimension %d is out of range [0, %d)",
                         int(MaxDimension), kMaxBSplineDimension + 1);
        return nullptr;
    }
    const int64_t width = MaxDegree + 1;
    // Every buffer is indexed in int32 (and the curve builder counts in int32): the largest
    // knot capacity times the widest control vector must stay well inside it.
    if (MaxSampleCount < 2 ||
        int64_t(MaxSampleCount) * width * (MaxDimension + 4) > INT32_MAX / 8) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "MaxSampleCount %d is out of range [2, %d]",
                         int(MaxSampleCount), int(INT32_MAX / 8 / (width * (MaxDimension + 4))));
        return nullptr;
    }
    const int32_t maxKnots = OrvaneGetMaximumKnotCountForSampleCount(MaxDegree, MaxSampleCount);
    const int32_t capacity = maxKnots + 2 * int32_t(width) + 1;

    // The curve buffer holds the largest record of any format: the plain float one.
    orvane_curve_builder sizing;
    if (!InitializeCurveBuilder(&sizing, OrvaneCurveDataDaK32fC32fType, MaxDegree, MaxDimension,
                                capacity))
        return nullptr;
    const int32_t curveBytes = OrvaneGetResultingCurveDataSize(&sizing);
    if (curveBytes <= 0) return nullptr;

    orvane_bspline_solver* solver = nullptr;
    float* knots0 = nullptr;
    float* knots1 = nullptr;
    int32_t* intervals = nullptr;
    uint8_t* degenerate = nullptr;
    float* basis = nullptr;
    float* band = nullptr;
    float* evaluation = nullptr;
    float* zeros = nullptr;
    void* curveBuffer = nullptr;
    const size_t knotFloats = size_t(capacity) + size_t(width);
    const size_t front = size_t(width * width);
    SetAggregateAlignment(alignof(std::max_align_t));
    AggregateAllocate(&solver, sizeof(orvane_bspline_solver));
    AggregateAllocate(&knots0, knotFloats * sizeof(float));
    AggregateAllocate(&knots1, knotFloats * sizeof(float));
    AggregateAllocate(&intervals, size_t(capacity) * sizeof(int32_t));
    AggregateAllocate(&degenerate, size_t(capacity));
    AggregateAllocate(
        &basis,
        (size_t(width) * (size_t(MaxSampleCount) + 2 * size_t(width)) + front) * sizeof(float));
    AggregateAllocate(&band, (size_t(width) * size_t(capacity) + front) * sizeof(float));
    AggregateAllocate(&evaluation, 2 * size_t(MaxDimension + 1) * sizeof(float));
    AggregateAllocate(&zeros, size_t(MaxDimension + 1) * sizeof(float));
    AggregateAllocate(&curveBuffer, size_t(curveBytes));
    if (ORVANE_AGGREGATE_END() == nullptr) return nullptr;

    solver->MaxDegree = MaxDegree;
    solver->MaxSampleCount = MaxSampleCount;
    solver->MaxDimension = MaxDimension;
    solver->MaxKnotCount = maxKnots;
    solver->KnotCapacity = capacity;
    solver->Knots[0] = knots0 + width;
    solver->Knots[1] = knots1 + width;
    solver->SampleIntervals = intervals;
    solver->Degenerate = degenerate;
    solver->Basis = basis + front;
    solver->Band = band + front;
    solver->Evaluation = evaluation;
    solver->ZeroIdentity = zeros;
    SetReal32(size_t(MaxDimension + 1), 0.0f, zeros);
    solver->Curve.CurveData = {nullptr, nullptr};
    solver->HasCurve = false;
    solver->CurveBuffer = curveBuffer;
    solver->CurveBufferSize = curveBytes;
    return solver;
}

ORVANE_API void OrvaneDeallocateBSplineSolver(orvane_bspline_solver* Solver) {
    if (Solver) ORVANE_DEALLOCATE(Solver);
}

ORVANE_API orvane_int32 OrvaneFitBSplineToSamples(
    orvane_bspline_solver* Solver, orvane_real32 TimeStep, orvane_int32 SampleCount,
    const orvane_real32* Samples, orvane_uint32 SolverFlags, orvane_real32 ErrorThreshold,
    orvane_real32 C0Threshold, orvane_real32 C1Threshold, orvane_int32 Dimension,
    orvane_int32 Degree, orvane_data_type_definition* CurveDataType, orvane_real32* KnotsOut,
    orvane_real32* ControlsOut, orvane_int32 MaximumCurveSizeInBytes,
    orvane_bool* AchievedTolerance, orvane_int32* CurveSizeInBytes) {
    ORVANE_TIMING_BLOCK("FitBSplineToSamples");
    orvane_bool achievedLocal;
    orvane_int32 sizeLocal;
    if (AchievedTolerance == nullptr) AchievedTolerance = &achievedLocal;
    if (CurveSizeInBytes == nullptr) CurveSizeInBytes = &sizeLocal;
    *AchievedTolerance = true;
    *CurveSizeInBytes = -1;
    ORVANE_CHECK_NOT_NULL(OrvaneCurveOrigin, Solver, 0);
    Solver->HasCurve = false;
    if (SampleCount < 2 || SampleCount > Solver->MaxSampleCount) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "SampleCount %d is out of range [2, %d]",
                         int(SampleCount), int(Solver->MaxSampleCount));
        *AchievedTolerance = false;
        return 0;
    }
    if (Dimension < 0 || Dimension > Solver->MaxDimension) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Dimension %d is out of range [0, %d]", int(Dimension),
                         int(Solver->MaxDimension));
        *AchievedTolerance = false;
        return 0;
    }
    if (Degree < 0 || Degree > Solver->MaxDegree) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Degree %d is out of range [0, %d]", int(Degree),
                         int(Solver->MaxDegree));
        *AchievedTolerance = false;
        return 0;
    }
    const bool quaternion = (SolverFlags & OrvaneFitQuaternionMode) != 0;
    if (!SamplerExists(Degree, Dimension, quaternion)) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Unrecognized degree/dimension combination (%d/%d)",
                         int(Degree), int(Dimension));
        *AchievedTolerance = false;
        return 0;
    }
    if ((Samples == nullptr && Dimension > 0) || KnotsOut == nullptr ||
        (ControlsOut == nullptr && Dimension > 0)) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Samples, KnotsOut and ControlsOut are required");
        *AchievedTolerance = false;
        return 0;
    }
    // Values that are not numbers would reach the controls and, compared against the
    // tolerance, pass every test: refused once here.
    if (std::isnan(ErrorThreshold)) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "ErrorThreshold is not a number");
        *AchievedTolerance = false;
        return 0;
    }
    const size_t valueCount = size_t(SampleCount) * size_t(Dimension);
    for (size_t v = 0; v < valueCount; ++v) {
        if (!std::isfinite(Samples[v])) {
            ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Sample %d holds a value that is not finite",
                             int(v / size_t(Dimension)));
            *AchievedTolerance = false;
            return 0;
        }
    }
    if (CurveDataType == nullptr) CurveDataType = OrvaneCurveDataDaK32fC32fType;

    int32_t current = 0;
    float* knots = Solver->Knots[current];
    int32_t n = InitialKnots(knots, SampleCount, Samples, SolverFlags, C0Threshold, C1Threshold,
                             Dimension, Degree);
    int32_t encodedKnots = n;
    orvane_curve_builder probe;
    const int format = InitializeCurveBuilder(&probe, CurveDataType, Degree, Dimension, 2)
                           ? int(probe.FormatIndex)
                           : -1;
    for (;;) {
        // The controls are solved on the knot times the format will store: rounding the
        // knots after the solve would move every sample's weights.
        float* solveKnots = knots;
        if (KnotTimeBytes(format) < 4 && KnotTimeBytes(format) > 0 &&
            StoredKnotTimes(format, n, knots, 1.0f, Solver->Knots[1 - current]))
            solveKnots = Solver->Knots[1 - current];
        LeastSquaresControls(Solver, solveKnots, n, SampleCount, Samples, Dimension, Degree,
                             ControlsOut);
        if (SolverFlags & OrvaneFitPinEnds) {
            Copy32(size_t(Dimension), Samples, ControlsOut);
            Copy32(size_t(Dimension), Samples + size_t(SampleCount - 1) * size_t(Dimension),
                   ControlsOut + size_t(n - 1) * size_t(Dimension));
        }
        const int32_t size =
            Encode(Solver, CurveDataType, Degree, Dimension, n, knots, ControlsOut);
        if (size < 0) {
            *AchievedTolerance = false;
            *CurveSizeInBytes = -1;
            // Nothing was encoded: hand back the float solution.
            for (int32_t k = 0; k < n; ++k)
                KnotsOut[k] = knots[k] * TimeStep;
            return n;
        }
        *CurveSizeInBytes = size;
        encodedKnots = n;
        if ((MaximumCurveSizeInBytes > 0 && size > MaximumCurveSizeInBytes) ||
            n >= Solver->MaxKnotCount) {
            *AchievedTolerance = false;
            *CurveSizeInBytes = -1;
            break;
        }
        // The encoded (possibly quantised) knots and controls are what the test measures.
        Copy32(size_t(n), knots, KnotsOut);
        const int32_t stored = Decode(Solver, n, KnotsOut, ControlsOut);
        if (stored != n) {
            // A format that keeps a single value has nothing to refine: it holds the samples
            // within the tolerance or it cannot.
            if (!SingleValueHoldsSamples(Solver, SampleCount, Samples, quaternion, ErrorThreshold,
                                         Dimension)) {
                *AchievedTolerance = false;
                *CurveSizeInBytes = -1;
            }
            break;
        }
        Copy32(size_t(n), KnotsOut, knots);
        ExtendKnots(knots, n, Degree);
        float* refinedKnots = Solver->Knots[1 - current];
        const RefineResult refined =
            Refine(Solver, knots, n, ControlsOut, SampleCount, Samples, quaternion,
                   (SolverFlags & OrvaneFitCheckMidpoints) != 0, ErrorThreshold, Dimension, Degree,
                   refinedKnots);
        if (!refined.inserted) {
            if (refined.unreachable) {
                *AchievedTolerance = false;
                *CurveSizeInBytes = -1;
            }
            break;
        }
        current = 1 - current;
        knots = Solver->Knots[current];
        n = refined.newCount;
        // The grid follows the last knot: keep it at the last sample so that it does not
        // drift with each rounding.
        knots[n - 1] = float(SampleCount - 1);
    }
    const int32_t count = Decode(Solver, encodedKnots, KnotsOut, ControlsOut);
    if (OrvaneCurveGetKnotCount(&Solver->Curve) == 0) {
        // Formats without stored knot values (keyframes) keep the solver's knots.
        Copy32(size_t(encodedKnots), knots, KnotsOut);
    }
    for (int32_t k = 0; k < count; ++k)
        KnotsOut[k] *= TimeStep;
    return count;
}

ORVANE_API orvane_bspline_error_result OrvaneGetSquaredErrorOverCurve(
    orvane_uint32 SolverFlags, orvane_int32 Degree, orvane_int32 Dimension, orvane_real32 Duration,
    const orvane_curve2* Curve, orvane_int32 SampleCount, const orvane_real32* Samples,
    const orvane_real32* IdentityVector) {
    (void)Degree;  // the curve's own degree decides the evaluation
    orvane_bspline_error_result result{-1, -1, 0.0f, 0.0f};
    ORVANE_CHECK_NOT_NULL(OrvaneCurveOrigin, Curve, result);
    ORVANE_CHECK_NOT_NULL(OrvaneCurveOrigin, Samples, result);
    if (Dimension < 1 || Dimension > kMaxBSplineDimension) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Dimension %d is out of range [1, %d]", int(Dimension),
                         kMaxBSplineDimension);
        return result;
    }
    if (CurveFormatOf(Curve) == nullptr) return result;
    // A curve of another dimension cannot be evaluated at any sample: said once here rather
    // than by the evaluation at every sample. An identity takes the argument's dimension.
    if (!OrvaneCurveIsIdentity(Curve) && OrvaneCurveGetDimension(Curve) != Dimension) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Curve and argument dimensions do not match");
        return result;
    }
    const bool quaternion = (SolverFlags & OrvaneFitQuaternionMode) != 0;
    // One value of the largest dimension, on this call's stack: calls on several threads at
    // once do not share it.
    float value[kMaxBSplineDimension];
    int32_t knot = 0;
    for (int32_t i = 1; i < SampleCount; ++i) {
        const float t = SampleCount > 1 ? float(i) * Duration / float(SampleCount - 1) : 0.0f;
        knot = OrvaneCurveFindCloseKnot(Curve, t, knot);
        for (int32_t c = 0; c < Dimension; ++c)
            value[c] = 0.0f;
        OrvaneEvaluateCurveAtKnotIndex(Dimension, quaternion, false, Curve, false, Duration, knot,
                                       t, value, IdentityVector);
        const float error =
            SampleError(quaternion, Dimension, Samples + size_t(i) * size_t(Dimension), value);
        result.TotalSquaredError += error;
        if (error > result.MaxSquaredError) {
            result.MaxSquaredError = error;
            result.MaxErrorKnotIndex = knot;
            result.MaxErrorSampleIndex = i;
        }
    }
    return result;
}

}  // extern "C"

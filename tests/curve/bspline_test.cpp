// B-spline evaluation against an independent Cox-de Boor evaluator, the knot search, window
// construction at both ends with and without looping, and curve evaluation.
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "orvane/bspline.h"
#include "orvane/curve_builder.h"
#include "orvane/fit.h"
#include "support/log_capture.h"

using orvane_test::LogCapture;

namespace {

// Cox-de Boor recursion in double precision, 0/0 taken as 0.
double Basis(const std::vector<double>& u, int i, int p, double t) {
    if (p == 0) return (u[size_t(i)] <= t && t < u[size_t(i + 1)]) ? 1.0 : 0.0;
    double left = 0, right = 0;
    const double dl = u[size_t(i + p)] - u[size_t(i)];
    const double dr = u[size_t(i + p + 1)] - u[size_t(i + 1)];
    if (dl > 0) left = (t - u[size_t(i)]) / dl * Basis(u, i, p - 1, t);
    if (dr > 0) right = (u[size_t(i + p + 1)] - t) / dr * Basis(u, i + 1, p - 1, t);
    return left + right;
}

// A whole spline: control x belongs to knot x and its basis function spans knots x - 1 ..
// x + degree, so the knot vector is the knots with one pad in front and one behind.
std::vector<double> Evaluate(const std::vector<double>& knots, const std::vector<double>& controls,
                             int dimension, int degree, double t) {
    std::vector<double> u;
    u.push_back(knots.front() - 1);
    u.insert(u.end(), knots.begin(), knots.end());
    u.push_back(knots.back() + 1);
    std::vector<double> result(size_t(dimension), 0.0);
    const int n = int(knots.size());
    for (int x = 0; x + degree + 1 < n + 2; ++x) {
        const double b = Basis(u, x, degree, t);
        if (b == 0) continue;
        for (int c = 0; c < dimension; ++c)
            result[size_t(c)] += b * controls[size_t(x * dimension + c)];
    }
    return result;
}

using Sampler = orvane_bspline_sampler;
const Sampler kPlain[4][5] = {
    {OrvaneSampleBSpline0x1, OrvaneSampleBSpline0x2, OrvaneSampleBSpline0x3, OrvaneSampleBSpline0x4,
     OrvaneSampleBSpline0x9},
    {OrvaneSampleBSpline1x1, OrvaneSampleBSpline1x2, OrvaneSampleBSpline1x3, OrvaneSampleBSpline1x4,
     OrvaneSampleBSpline1x9},
    {OrvaneSampleBSpline2x1, OrvaneSampleBSpline2x2, OrvaneSampleBSpline2x3, OrvaneSampleBSpline2x4,
     OrvaneSampleBSpline2x9},
    {OrvaneSampleBSpline3x1, OrvaneSampleBSpline3x2, OrvaneSampleBSpline3x3, OrvaneSampleBSpline3x4,
     OrvaneSampleBSpline3x9}};
const int kDims[5] = {1, 2, 3, 4, 9};

TEST(BSplineSamplers, EveryRoutineMatchesCoxDeBoorOnNonUniformKnots) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> gap(0.05f, 2.0f), value(-4.0f, 4.0f), unit(0.0f, 1.0f);
    for (int degree = 0; degree < 4; ++degree) {
        for (int di = 0; di < 5; ++di) {
            const int D = kDims[di];
            for (int round = 0; round < 50; ++round) {
                // Window knots k[-d .. d-1] and controls P[-d .. 0].
                std::vector<float> k(size_t(std::max(2 * degree, 2)));
                float x = value(rng);
                for (float& v : k)
                    v = x, x += gap(rng);
                std::vector<float> p(size_t((degree + 1) * D));
                for (float& v : p)
                    v = value(rng);
                const float* ti = k.data() + degree;
                const float* pi = p.data() + degree * D;
                const float t = degree == 0 ? 0.0f : ti[-1] + unit(rng) * (ti[0] - ti[-1]);

                float direct[9], checked[9];
                kPlain[degree][di](ti, pi, t, direct);
                OrvaneSampleBSpline(degree, D, false, ti, pi, t, checked);
                if (degree == 0) {
                    for (int c = 0; c < D; ++c)
                        EXPECT_EQ(direct[c], pi[c]);
                    continue;
                }
                // The whole window as a spline: d + 1 controls over the 2d knots.
                std::vector<double> knots(k.begin(), k.end()), controls(p.begin(), p.end());
                // Pad so that control j of the window sits at knot j of the vector.
                std::vector<double> u(knots);
                u.insert(u.begin(), u.front() - 1);
                std::vector<double> expected(size_t(D), 0.0);
                for (int j = 0; j <= degree; ++j) {
                    std::vector<double> full(u);
                    full.push_back(u.back() + 1);
                    const double b = Basis(full, j, degree, t);
                    for (int c = 0; c < D; ++c)
                        expected[size_t(c)] += b * controls[size_t(j * D + c)];
                }
                for (int c = 0; c < D; ++c) {
                    EXPECT_NEAR(direct[c], expected[size_t(c)],
                                2e-5 * (1 + std::fabs(expected[size_t(c)])))
                        << "degree " << degree << " dimension " << D;
                    EXPECT_EQ(direct[c], checked[c]);
                }
            }
        }
    }
}

TEST(BSplineSamplers, WeightsFormAPartitionOfUnity) {
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> gap(0.01f, 3.0f), unit(0.0f, 1.0f);
    for (int degree = 1; degree < 4; ++degree) {
        for (int round = 0; round < 100; ++round) {
            float k[6], p[4 * 9];
            float x = 0;
            for (float& v : k)
                v = x, x += gap(rng);
            for (int j = 0; j <= degree; ++j)
                for (int c = 0; c < 9; ++c)
                    p[j * 9 + c] = float(c) - 3.5f;
            const float* ti = k + degree;
            const float t = ti[-1] + unit(rng) * (ti[0] - ti[-1]);
            float r[9];
            kPlain[degree][4](ti, p + degree * 9, t, r);
            for (int c = 0; c < 9; ++c)
                EXPECT_NEAR(r[c], float(c) - 3.5f, 1e-5f);
        }
    }
}

TEST(BSplineSamplers, WorkedExamples) {
    const float k1[2] = {0, 2}, p1[2] = {10, 20};
    float r;
    OrvaneSampleBSpline1x1(k1 + 1, p1 + 1, 0.5f, &r);
    EXPECT_FLOAT_EQ(r, 12.5f);

    // Uniform knots, at the start of the interval: 1/2 1/2 0 and 1/6 2/3 1/6 0.
    const float k[6] = {0, 1, 2, 3, 4, 5};
    for (int j = 0; j < 3; ++j) {
        float p[3] = {0, 0, 0};
        p[j] = 1;
        OrvaneSampleBSpline2x1(k + 2, p + 2, 1.0f, &r);
        EXPECT_NEAR(r, (j == 2 ? 0.0f : 0.5f), 1e-6f);
    }
    const float expected3[4] = {1.0f / 6, 2.0f / 3, 1.0f / 6, 0};
    for (int j = 0; j < 4; ++j) {
        float p[4] = {0, 0, 0, 0};
        p[j] = 1;
        OrvaneSampleBSpline3x1(k + 3, p + 3, 2.0f, &r);
        EXPECT_NEAR(r, expected3[j], 1e-6f);
    }
}

TEST(BSplineSamplers, NormalisingFormsScaleToUnitLength) {
    std::mt19937 rng(2);
    std::normal_distribution<float> noise(0.0f, 0.02f);
    const Sampler plain[3][2] = {{OrvaneSampleBSpline1x3, OrvaneSampleBSpline1x4},
                                 {OrvaneSampleBSpline2x3, OrvaneSampleBSpline2x4},
                                 {OrvaneSampleBSpline3x3, OrvaneSampleBSpline3x4}};
    const Sampler normal[3][2] = {{OrvaneSampleBSpline1x3n, OrvaneSampleBSpline1x4n},
                                  {OrvaneSampleBSpline2x3n, OrvaneSampleBSpline2x4n},
                                  {OrvaneSampleBSpline3x3n, OrvaneSampleBSpline3x4n}};
    const float k[6] = {0, 0.5f, 1.5f, 2, 3.5f, 4};
    for (int degree = 1; degree < 4; ++degree) {
        for (int di = 0; di < 2; ++di) {
            const int D = di == 0 ? 3 : 4;
            // Unit vectors, nearby and (from the second degree on) one far from the others: their
            // blend is short of unit length, the far one's by much.
            float p[16];
            for (int j = 0; j <= degree; ++j) {
                float len = 0;
                for (int c = 0; c < D; ++c)
                    p[j * D + c] = 0.5f + noise(rng), len += p[j * D + c] * p[j * D + c];
                for (int c = 0; c < D; ++c)
                    p[j * D + c] /= std::sqrt(len);
            }
            if (degree > 1)
                for (int c = 0; c < D; ++c)
                    p[c] = c == 0 ? 1.0f : 0.0f;
            const float t = k[degree - 1] + 0.37f * (k[degree] - k[degree - 1]);
            float a[4], b[4], c4[4];
            plain[degree - 1][di](k + degree, p + degree * D, t, a);
            normal[degree - 1][di](k + degree, p + degree * D, t, b);
            OrvaneSampleBSpline(degree, D, true, k + degree, p + degree * D, t, c4);
            float len2 = 0, nlen2 = 0;
            for (int c = 0; c < D; ++c)
                len2 += a[c] * a[c], nlen2 += b[c] * b[c];
            for (int c = 0; c < D; ++c) {
                EXPECT_NEAR(b[c], a[c] / std::sqrt(double(len2)), 2e-7f);
                EXPECT_EQ(b[c], c4[c]);
            }
            EXPECT_NEAR(std::sqrt(nlen2), 1.0f, 2e-7f);
        }
    }
}

TEST(BSplineSamplers, CheckedDispatchReportsWhatHasNoRoutine) {
    const float k[6] = {}, p[36] = {};
    float r[10];
    LogCapture log;
    OrvaneSampleBSpline(4, 3, false, k, p, 0, r);
    EXPECT_TRUE(log.Contains("Degree 4 is out of range [0, 4)"));
    OrvaneSampleBSpline(1, 10, false, k, p, 0, r);
    EXPECT_TRUE(log.Contains("Dimension 10 is out of range [0, 10)"));
    OrvaneSampleBSpline(1, 5, false, k, p, 0, r);
    EXPECT_TRUE(log.Contains("Unrecognized degree/dimension combination (1/5)"));
    OrvaneSampleBSpline(2, 9, true, k, p, 0, r);
    EXPECT_TRUE(log.Contains("Unrecognized degree/dimension combination (2/9)"));
    EXPECT_EQ(log.errors(), 4u);
    EXPECT_EQ(OrvaneGetMaximumKnotCountForSampleCount(3, 100), 400);
}

TEST(BSplineKnots, FindKnotExamplesAndHostileTimes) {
    const float k[3] = {0, 1, 2};
    EXPECT_EQ(OrvaneFindKnot(3, k, 0.0f), 1);
    EXPECT_EQ(OrvaneFindKnot(3, k, 1.0f), 2);
    EXPECT_EQ(OrvaneFindKnot(3, k, 1.5f), 2);
    EXPECT_EQ(OrvaneFindKnot(3, k, 2.0f), 2);
    EXPECT_EQ(OrvaneFindKnot(3, k, 7.0f), 2);
    EXPECT_EQ(OrvaneFindKnot(3, k, -1.0f), 0);
    EXPECT_EQ(OrvaneFindKnot(0, k, 1.0f), 0);
    EXPECT_EQ(OrvaneFindCloseKnot(3, k, 1.5f, 0), 2);
    const float repeated[6] = {0, 1, 1, 1, 2, 3};
    EXPECT_EQ(OrvaneFindKnot(6, repeated, 1.0f), 4);
    EXPECT_EQ(OrvaneFindKnot(6, repeated, 0.5f), 1);
    for (float t : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                    -std::numeric_limits<float>::infinity()}) {
        const int32_t i = OrvaneFindKnot(6, repeated, t);
        EXPECT_GE(i, 0);
        EXPECT_LT(i, 6);
    }
}

struct CurveDeleter {
    void operator()(orvane_curve2* c) const { OrvaneFreeCurve(c); }
};
using CurvePtr = std::unique_ptr<orvane_curve2, CurveDeleter>;

CurvePtr Build(orvane_data_type_definition* type, int degree, int dimension,
               const std::vector<float>& knots, const std::vector<float>& controls) {
    orvane_curve_builder* b = OrvaneBeginCurve(type, degree, dimension, int(knots.size()));
    OrvanePushCurveKnotArray(b, knots.data());
    OrvanePushCurveControlArray(b, controls.data());
    return CurvePtr(OrvaneEndCurve(b));
}

TEST(BSplineWindows, StartOfACurveClampsOrLoops) {
    const std::vector<float> knots = {0, 1, 2, 3, 4};
    const std::vector<float> controls = {10, 11, 12, 13, 14};
    CurvePtr curve = Build(OrvaneCurveDataDaK32fC32fType, 2, 1, knots, controls);
    float kb[6], cb[6], *ti, *pi;
    // Knot index 1, degree 2: the window needs knots -1 .. 2.
    ASSERT_TRUE(OrvaneConstructBSplineBuffers(1, nullptr, curve.get(), nullptr, 4, 4, 4, 1, kb, cb,
                                              &ti, &pi, nullptr));
    EXPECT_EQ(ti, kb + 2);
    EXPECT_EQ(pi, cb + 2);
    EXPECT_EQ(kb[0], 0.0f);  // the first knot and control repeat
    EXPECT_EQ(cb[0], 10.0f);
    EXPECT_EQ(kb[1], 0.0f);
    EXPECT_EQ(kb[2], 1.0f);
    EXPECT_EQ(kb[3], 2.0f);

    // Looping with duration 4: the last knot (4) repeats the first and is skipped.
    ASSERT_TRUE(OrvaneConstructBSplineBuffers(1, curve.get(), curve.get(), curve.get(), 4, 4, 4, 0,
                                              kb, cb, &ti, &pi, nullptr));
    EXPECT_EQ(kb[0], 2.0f - 4.0f);
    EXPECT_EQ(cb[0], 12.0f);
    EXPECT_EQ(kb[1], 3.0f - 4.0f);
    EXPECT_EQ(cb[1], 13.0f);
    EXPECT_EQ(kb[2], 0.0f);
    EXPECT_EQ(cb[2], 10.0f);
    EXPECT_EQ(kb[3], 1.0f);

    // Inside the curve the float format is read in place.
    EXPECT_FALSE(OrvaneConstructBSplineBuffers(1, nullptr, curve.get(), nullptr, 4, 4, 4, 2, kb, cb,
                                               &ti, &pi, nullptr));
    auto* data = OrvaneCurveGetContentsOfDaK32fC32f(curve.get());
    EXPECT_EQ(ti, data->Knots + 2);
    EXPECT_EQ(pi, data->Controls + 2);
}

TEST(BSplineWindows, EndOfACurveClampsLoopsOrMeetsAnIdentity) {
    const std::vector<float> knots = {0, 1, 2, 3, 4};
    const std::vector<float> controls = {10, 11, 12, 13, 14};
    CurvePtr curve = Build(OrvaneCurveDataDaK32fC32fType, 2, 1, knots, controls);
    float kb[4], cb[4], *ti, *pi;
    ASSERT_TRUE(OrvaneConstructBSplineBuffers(1, nullptr, curve.get(), nullptr, 4, 4, 4, 4, kb, cb,
                                              &ti, &pi, nullptr));
    EXPECT_EQ(kb[1], 3.0f);
    EXPECT_EQ(kb[2], 4.0f);
    EXPECT_EQ(kb[3], 4.0f);
    EXPECT_EQ(cb[3], 14.0f);

    // Looping: knot 4 is the next period's knot 0, then knot 1 + 4.
    ASSERT_TRUE(OrvaneConstructBSplineBuffers(1, curve.get(), curve.get(), curve.get(), 4, 4, 4, 4,
                                              kb, cb, &ti, &pi, nullptr));
    EXPECT_EQ(kb[1], 3.0f);
    EXPECT_EQ(kb[2], 4.0f);
    EXPECT_EQ(cb[2], 10.0f);
    EXPECT_EQ(kb[3], 5.0f);
    EXPECT_EQ(cb[3], 11.0f);

    // Identity neighbours continue with the identity vector at steps of their duration.
    orvane_curve_data_da_identity identityData = {{OrvaneCurveFormatDaIdentity, 0}, 1};
    orvane_curve2 identity = {{OrvaneCurveDataDaIdentityType, &identityData}};
    const float one = 1.0f;
    ASSERT_TRUE(OrvaneConstructBSplineBuffers(1, &identity, curve.get(), &identity, 0.5f, 4, 0.25f,
                                              4, kb, cb, &ti, &pi, &one));
    EXPECT_EQ(kb[1], 3.0f);
    EXPECT_EQ(kb[2], 3.25f);  // the curve's last knot gives way to the neighbour
    EXPECT_EQ(cb[2], 1.0f);
    EXPECT_EQ(kb[3], 3.5f);
    ASSERT_TRUE(OrvaneConstructBSplineBuffers(1, &identity, curve.get(), nullptr, 0.5f, 4, 0.25f, 0,
                                              kb, cb, &ti, &pi, &one));
    EXPECT_EQ(kb[0], -1.0f);
    EXPECT_EQ(kb[1], -0.5f);
    EXPECT_EQ(cb[0], 1.0f);
    EXPECT_EQ(cb[2], 10.0f);
}

TEST(BSplineWindows, ARefusedNeighbourClampsLikeNoNeighbour) {
    // A neighbour of another dimension cannot feed the window: it is reported and the window
    // is the clamped one, which still ends on the curve's own last knot (dropping that knot, as
    // for a looping neighbour, would leave a window whose two knots are equal: 0 / 0).
    const std::vector<float> knots = {0, 1, 2, 3, 4};
    const std::vector<float> controls = {10, 11, 12, 13, 14};
    const std::vector<float> pairs = {0, 0, 1, 1, 2, 2};
    CurvePtr curve = Build(OrvaneCurveDataDaK32fC32fType, 1, 1, knots, controls);
    CurvePtr other = Build(OrvaneCurveDataDaK32fC32fType, 1, 2, {0, 1, 2}, pairs);
    ASSERT_TRUE(curve && other);
    for (int degree = 1; degree <= 3; ++degree) {
        SCOPED_TRACE(testing::Message() << "degree " << degree);
        OrvaneCurveGetContentsOfDaK32fC32f(curve.get())->CurveDataHeader.Degree =
            orvane_uint8(degree);
        float kb[6], cb[6], *ti, *pi;
        LogCapture log;
        // Extended past the end for degrees 2 and 3; for degree 1 the window lies in the curve.
        EXPECT_EQ(OrvaneConstructBSplineBuffers(1, other.get(), curve.get(), other.get(), 1, 4, 1,
                                                4, kb, cb, &ti, &pi, nullptr),
                  degree > 1);
        EXPECT_TRUE(log.Contains("does not fit a window of dimension 1"));
        // The window the clamped curve gives: knots 4 - d .. 4, then 4 repeated.
        for (int j = -degree; j < degree; ++j) {
            const int knot = std::min(4 + j, 4);
            EXPECT_EQ(ti[j], float(knot)) << "knot " << j;
            if (j <= 0) {
                EXPECT_EQ(pi[j], controls[size_t(knot)]) << "control " << j;
            }
        }
        // Sampled at a time in the last interval, the value is the spline's there.
        float r = 0;
        OrvaneSampleBSpline(degree, 1, false, ti, pi, 3.5f, &r);
        EXPECT_TRUE(std::isfinite(r));
        if (degree == 1) {
            EXPECT_EQ(r, 13.5f);
        }
    }
}

TEST(BSplineWindows, ALoopNoLongerThanTheCurveClampsLikeNoLoop) {
    // Knots 0..4 looping with the curve itself: the borrowed knots run on strictly after the
    // curve's last knot but one (3) only when the duration exceeds 3. Shorter, zero, negative
    // or NaN durations would put them back among the curve's own; that end is clamped instead.
    const std::vector<float> knots = {0, 1, 2, 3, 4};
    const std::vector<float> controls = {10, 11, 12, 13, 14};
    CurvePtr curve = Build(OrvaneCurveDataDaK32fC32fType, 1, 1, knots, controls);
    ASSERT_TRUE(curve);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (int degree = 1; degree <= 3; ++degree) {
        OrvaneCurveGetContentsOfDaK32fC32f(curve.get())->CurveDataHeader.Degree =
            orvane_uint8(degree);
        for (float duration : {0.0f, -1.0f, 2.0f, 3.0f, nan}) {
            for (int index = 0; index <= 4; ++index) {
                SCOPED_TRACE(testing::Message() << "degree " << degree << " duration " << duration
                                                << " knot index " << index);
                float kb[6], cb[6], *ti, *pi;
                OrvaneConstructBSplineBuffers(1, curve.get(), curve.get(), curve.get(), duration,
                                              duration, duration, index, kb, cb, &ti, &pi, nullptr);
                // The clamped window: knot j is the curve's knot index + j, held at 0 and 4.
                for (int j = -degree; j < degree; ++j) {
                    const int knot = std::clamp(index + j, 0, 4);
                    EXPECT_EQ(ti[j], float(knot)) << "knot " << j;
                    if (j <= 0) {
                        EXPECT_EQ(pi[j], controls[size_t(knot)]) << "control " << j;
                    }
                }
                // Inside its interval the window's value is finite.
                if (index > 0) {
                    float r = nan;
                    OrvaneSampleBSpline(degree, 1, false, ti, pi, float(index) - 0.5f, &r);
                    EXPECT_TRUE(std::isfinite(r));
                }
            }
        }
        // A duration a little longer than the span still loops: the last knot gives way to
        // the first one 3.5 on.
        float kb[6], cb[6], *ti, *pi;
        ASSERT_TRUE(OrvaneConstructBSplineBuffers(1, curve.get(), curve.get(), curve.get(), 3.5f,
                                                  3.5f, 3.5f, 4, kb, cb, &ti, &pi, nullptr));
        EXPECT_EQ(ti[-1], 3.0f);
        EXPECT_EQ(ti[0], 3.5f);
        EXPECT_EQ(pi[0], 10.0f);
    }

    // Identity neighbours step by their durations: a zero step, or one so long that three steps
    // overflow, clamps too; one long step still continues.
    orvane_curve_data_da_identity identityData = {{OrvaneCurveFormatDaIdentity, 0}, 1};
    orvane_curve2 identity = {{OrvaneCurveDataDaIdentityType, &identityData}};
    const float one = 1.0f;
    const float unbounded = 1.9140881e38f;
    OrvaneCurveGetContentsOfDaK32fC32f(curve.get())->CurveDataHeader.Degree = 3;
    float kb[6], cb[6], *ti, *pi;
    OrvaneConstructBSplineBuffers(1, &identity, curve.get(), nullptr, 0.0f, 4, 0, 0, kb, cb, &ti,
                                  &pi, &one);
    EXPECT_EQ(ti[-3], 0.0f);
    EXPECT_EQ(pi[-3], 10.0f);
    OrvaneConstructBSplineBuffers(1, &identity, curve.get(), nullptr, unbounded, 4, 0, 0, kb, cb,
                                  &ti, &pi, &one);
    EXPECT_EQ(ti[-3], 0.0f);
    EXPECT_EQ(ti[-1], 0.0f);
    EXPECT_EQ(pi[-1], 10.0f);
    OrvaneCurveGetContentsOfDaK32fC32f(curve.get())->CurveDataHeader.Degree = 1;
    OrvaneConstructBSplineBuffers(1, &identity, curve.get(), nullptr, unbounded, 4, 0, 0, kb, cb,
                                  &ti, &pi, &one);
    EXPECT_EQ(ti[-1], -unbounded);
    EXPECT_EQ(pi[-1], 1.0f);
}

TEST(BSplineWindows, ARejectedCurveLeavesThePointersAtTheBuffers) {
    // The documented failure result: false, an error, and *ti and *pi at the caller's buffers
    // (never left as whatever the caller's pointers held).
    orvane_curve2 empty = {{OrvaneCurveDataDaK32fC32fType, nullptr}};
    orvane_curve_data_da_identity identityData = {{99, 0}, 1};
    orvane_curve2 unknown = {{OrvaneCurveDataDaIdentityType, &identityData}};
    for (const orvane_curve2* curve :
         {static_cast<const orvane_curve2*>(nullptr), static_cast<const orvane_curve2*>(&empty),
          static_cast<const orvane_curve2*>(&unknown)}) {
        float kb[6] = {}, cb[6] = {};
        float* ti = nullptr;
        float* pi = nullptr;
        LogCapture log;
        EXPECT_FALSE(OrvaneConstructBSplineBuffers(1, nullptr, curve, nullptr, 1, 1, 1, 0, kb, cb,
                                                   &ti, &pi, nullptr));
        EXPECT_EQ(ti, kb);
        EXPECT_EQ(pi, cb);
        EXPECT_TRUE(log.Contains("Curve"));
    }
}

TEST(BSplineWindows, ADimensionOutsideTheSamplersIsRefused) {
    // An identity curve fills Dimension identity values per entry: a negative Dimension would
    // be a copy of about 2^64 values. Dimensions have routines up to 9.
    orvane_curve_data_da_identity identityData = {{OrvaneCurveFormatDaIdentity, 2}, 3};
    orvane_curve2 identity = {{OrvaneCurveDataDaIdentityType, &identityData}};
    for (int dimension : {-1, -100, 10}) {
        float kb[4] = {}, cb[40] = {};
        float* ti = nullptr;
        float* pi = nullptr;
        LogCapture log;
        EXPECT_FALSE(OrvaneConstructBSplineBuffers(dimension, nullptr, &identity, nullptr, 1, 1, 1,
                                                   0, kb, cb, &ti, &pi, nullptr));
        EXPECT_TRUE(
            log.Contains("Dimension " + std::to_string(dimension) + " is out of range [0, 10)"));
        EXPECT_EQ(ti, kb);
        EXPECT_EQ(pi, cb);
        for (float c : cb)
            EXPECT_EQ(c, 0.0f);
    }
}

// The curve as one spline: clamped ends repeat the first and last knot, looping ends continue
// periodically with the repeated last knot dropped.
void ExtendedSpline(const std::vector<float>& k, const std::vector<float>& p, int D, int degree,
                    bool loop, std::vector<double>* knots, std::vector<double>* controls) {
    const int n = int(k.size());
    knots->clear();
    controls->clear();
    auto push = [&](double knot, int index) {
        knots->push_back(knot);
        for (int c = 0; c < D; ++c)
            controls->push_back(p[size_t(index * D + c)]);
    };
    if (!loop) {
        for (int e = 0; e < degree; ++e)
            push(k[0], 0);
        for (int i = 0; i < n; ++i)
            push(k[size_t(i)], i);
        for (int e = 0; e < degree; ++e)
            push(k[size_t(n - 1)], n - 1);
        return;
    }
    const int m = n - 1;
    const double T = k[size_t(n - 1)] - k[0];
    for (int e = -degree - 1; e < m + degree + 1; ++e) {
        const int wraps = e >= 0 ? e / m : -((-e + m - 1) / m);
        const int index = e - wraps * m;
        push(k[size_t(index)] + wraps * T, index);
    }
}

TEST(BSplineCurves, EvaluationMatchesCoxDeBoorWithAndWithoutLooping) {
    std::mt19937 rng(21);
    std::uniform_real_distribution<float> gap(0.05f, 0.5f), value(-2.0f, 2.0f), unit(0.0f, 1.0f);
    for (int degree = 0; degree < 4; ++degree) {
        for (int D : {1, 2, 3, 4, 9}) {
            for (bool loop : {false, true}) {
                SCOPED_TRACE(testing::Message() << "degree " << degree << " dimension " << D
                                                << (loop ? " looping" : ""));
                const int n = 3 + int(rng() % 12);
                std::vector<float> k(static_cast<size_t>(n)), p(static_cast<size_t>(n * D));
                float x = 0;
                for (float& v : k)
                    v = x, x += gap(rng);
                for (float& v : p)
                    v = value(rng);
                // A looping curve ends where it starts.
                if (loop) std::copy(p.begin(), p.begin() + D, p.end() - D);
                CurvePtr curve = Build(OrvaneCurveDataDaK32fC32fType, degree, D, k, p);
                std::vector<double> knots, controls;
                ExtendedSpline(k, p, D, degree, loop, &knots, &controls);
                const float duration = k.back();
                // Inside the knots, then before the first and past the last: a curve that
                // does not loop holds its end values there.
                for (int s = 0; s < 44; ++s) {
                    float t = unit(rng) * duration * 0.9999f;
                    double at = t;
                    if (s >= 40) {
                        const float outside[4] = {-0.5f, -1e6f, duration + 0.5f, 1e6f};
                        t = outside[s - 40];
                        if (loop) continue;
                        // Just inside the last knot: the reference's intervals are half open.
                        at = s < 42 ? double(k.front()) : double(k.back()) - 1e-9;
                        // Degree 0: each control holds up to its own knot.
                        if (degree == 0 && s < 42) at = double(k.front()) - 1e-9;
                    }
                    SCOPED_TRACE(testing::Message() << "t " << t);
                    float r[9];
                    OrvaneEvaluateCurveAtT(D, false, loop, curve.get(), loop, duration, t, r,
                                           OrvaneCurveIdentityShear);
                    const std::vector<double> e = Evaluate(knots, controls, D, degree, at);
                    for (int c = 0; c < D; ++c)
                        EXPECT_NEAR(r[c], e[size_t(c)], 5e-5 * (1 + std::fabs(e[size_t(c)])));
                }
            }
        }
    }
}

TEST(BSplineCurves, NonLoopingCurvesHoldTheirEndValuesOutsideTheirKnots) {
    // Knots 0..4, controls 1..15 in three dimensions: the end values are (1 2 3) and
    // (13 14 15), where the spline itself would give 0/0 before the start and extrapolate
    // (28, 80.5 and 327 at t = 9 for degrees 1 to 3) past the end.
    std::vector<float> k = {0, 1, 2, 3, 4}, p(15);
    for (size_t i = 0; i < p.size(); ++i)
        p[i] = float(i + 1);
    for (int degree = 0; degree < 4; ++degree) {
        CurvePtr curve = Build(OrvaneCurveDataDaK32fC32fType, degree, 3, k, p);
        // Degree 0 holds each control up to its own knot, so at knot 0 it is already on the
        // second control.
        for (float t : {-1.0f, -0.001f, degree == 0 ? -1e-6f : 0.0f}) {
            float r[3];
            OrvaneEvaluateCurveAtT(3, false, false, curve.get(), false, 4, t, r, nullptr);
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(r[c], float(1 + c)) << "degree " << degree << " t " << t;
        }
        for (float t : {4.0f, 4.001f, 9.0f, 1e30f, std::numeric_limits<float>::infinity()}) {
            float r[3];
            OrvaneEvaluateCurveAtT(3, false, false, curve.get(), false, 4, t, r, nullptr);
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(r[c], float(13 + c)) << "degree " << degree << " t " << t;
        }
        // Only the end that does not loop is held.
        float r[3];
        OrvaneEvaluateCurveAtT(3, false, false, curve.get(), true, 4, 9.0f, r, nullptr);
        if (degree > 0) {
            EXPECT_NE(r[0], 13.0f) << "degree " << degree;
        }
    }
    // One knot in a quantised format: the window repeats the knot at both ends.
    std::vector<float> one = {2}, value = {0.25f, 0.5f};
    CurvePtr single = Build(OrvaneCurveDataDaK16uC16uType, 2, 2, one, value);
    ASSERT_TRUE(single);
    for (float t : {1.0f, 2.0f, 3.0f}) {
        float r[2];
        OrvaneEvaluateCurveAtT(2, false, false, single.get(), false, 2, t, r, nullptr);
        EXPECT_NEAR(r[0], 0.25f, 1e-3f) << "t " << t;
        EXPECT_NEAR(r[1], 0.5f, 1e-3f) << "t " << t;
    }
}

TEST(BSplineCurves, ALoopNoLongerThanTheCurveHoldsItsEndsAsWithoutLooping) {
    // A looping evaluation whose duration does not reach past the curve's last knot but one
    // has no periodic continuation to take: the curve is evaluated as if it did not loop.
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> gap(0.05f, 0.5f), value(-2.0f, 2.0f), unit(0.0f, 1.0f);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (int degree = 1; degree < 4; ++degree) {
        for (int D : {1, 3, 4, 9}) {
            const int n = 4 + int(rng() % 8);
            std::vector<float> k(static_cast<size_t>(n)), p(static_cast<size_t>(n * D));
            float x = 0;
            for (float& v : k)
                v = x, x += gap(rng);
            for (float& v : p)
                v = value(rng);
            CurvePtr curve = Build(OrvaneCurveDataDaK32fC32fType, degree, D, k, p);
            ASSERT_TRUE(curve);
            std::vector<double> knots, controls;
            ExtendedSpline(k, p, D, degree, false, &knots, &controls);
            const float span = k[size_t(n - 2)];
            for (float duration : {0.0f, -span, 0.5f * span, span, nan}) {
                for (int s = 0; s < 24; ++s) {
                    float t = unit(rng) * k.back() * 0.9999f;
                    double at = t;
                    if (s >= 20) {
                        const float outside[4] = {-0.25f, -1e6f, k.back() + 0.25f, 1e6f};
                        t = outside[s - 20];
                        at = s < 22 ? double(k.front()) : double(k.back()) - 1e-9;
                    }
                    SCOPED_TRACE(testing::Message() << "degree " << degree << " dimension " << D
                                                    << " duration " << duration << " t " << t);
                    float r[9];
                    OrvaneEvaluateCurveAtT(D, false, true, curve.get(), true, duration, t, r,
                                           OrvaneCurveIdentityShear);
                    const std::vector<double> e = Evaluate(knots, controls, D, degree, at);
                    for (int c = 0; c < D; ++c)
                        EXPECT_NEAR(r[c], e[size_t(c)], 5e-5 * (1 + std::fabs(e[size_t(c)])));
                    if (D == 4) {
                        OrvaneEvaluateCurveAtT(D, true, true, curve.get(), true, duration, t, r,
                                               OrvaneCurveIdentityOrientation);
                        for (int c = 0; c < D; ++c)
                            EXPECT_TRUE(std::isfinite(r[c]));
                    }
                }
            }
        }
    }
}

TEST(BSplineCurves, QuantisedKnotsThatMeetAtTheEndHoldTheLastControl) {
    // The last two knots, a millionth apart, quantise to the same 16-bit knot. A time the knot
    // search places at or past that knot is at the end of the curve, whose value is the last
    // control, also where the decoded knot lies a rounding above the time (0.849505186 against
    // 0.849505246 here); the window's empty last interval would give 0/0.
    const float last = 0.8495f;
    const std::vector<float> knots = {0, last * 0.5f, last * (1 - 1e-6f), last};
    const std::vector<float> controls = {0, 100, 200, 65535};
    for (int degree = 1; degree <= 3; ++degree) {
        CurvePtr curve = Build(OrvaneCurveDataDaK16uC16uType, degree, 1, knots, controls);
        ASSERT_TRUE(curve);
        float decoded[4];
        OrvaneCurveExtractKnotValues(curve.get(), 0, 4, decoded, nullptr, nullptr);
        ASSERT_EQ(decoded[2], decoded[3]);
        float t = 0.8494f;
        for (int step = 0; step < 4000; ++step, t = std::nextafter(t, 1.0f)) {
            if (OrvaneCurveFindKnot(curve.get(), t) != 3) continue;
            float r = -1;
            OrvaneEvaluateCurveAtT(1, false, false, curve.get(), false, last, t, &r, nullptr);
            ASSERT_EQ(r, 65535.0f) << "degree " << degree << " t " << t;
        }
    }
}

TEST(BSplineCurves, OneKnotCurvesGiveTheirControlLoopingOrNot) {
    // A curve of one knot repeats its control in every window, clamped or looping; a looping
    // window used to end on the knot itself twice (0 / 0).
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<float> one = {2};
    const std::vector<float> pair = {0.25f, 0.5f};
    const std::vector<float> quaternion = {0.0f, 0.6f, 0.0f, 0.8f};
    for (int degree = 0; degree <= 3; ++degree) {
        CurvePtr da = Build(OrvaneCurveDataDaK16uC16uType, degree, 2, one, pair);
        CurvePtr q = Build(OrvaneCurveDataD4nK16uC15uType, degree, 4, one, quaternion);
        ASSERT_TRUE(da && q);
        for (int loops = 0; loops < 4; ++loops) {
            for (float duration : {0.0f, 1.0f, 2.0f, nan}) {
                for (float t : {-1.0f, 1.0f, 2.0f, 2.5f, 1e6f}) {
                    SCOPED_TRACE(testing::Message() << "degree " << degree << " loops " << loops
                                                    << " duration " << duration << " t " << t);
                    float r[4] = {nan, nan, nan, nan};
                    OrvaneEvaluateCurveAtT(2, false, loops & 1, da.get(), loops & 2, duration, t, r,
                                           nullptr);
                    EXPECT_NEAR(r[0], 0.25f, 1e-3f);
                    EXPECT_NEAR(r[1], 0.5f, 1e-3f);
                    OrvaneEvaluateCurveAtT(4, true, loops & 1, q.get(), loops & 2, duration, t, r,
                                           OrvaneCurveIdentityOrientation);
                    for (int c = 0; c < 4; ++c)
                        EXPECT_NEAR(r[c], quaternion[size_t(c)], 1e-4f) << "component " << c;
                }
            }
        }
    }
}

TEST(BSplineCurves, QuantisedCurvesEvaluateLikeTheirFloatConversion) {
    std::mt19937 rng(4);
    std::uniform_real_distribution<float> gap(0.05f, 0.5f), value(-2.0f, 2.0f), unit(0.0f, 1.0f);
    struct Case {
        orvane_data_type_definition* type;
        int dimension;
    };
    const Case cases[] = {{OrvaneCurveDataDaK16uC16uType, 2},   {OrvaneCurveDataDaK8uC8uType, 4},
                          {OrvaneCurveDataD3K16uC16uType, 3},   {OrvaneCurveDataD3K8uC8uType, 3},
                          {OrvaneCurveDataD4nK16uC15uType, 4},  {OrvaneCurveDataD4nK8uC7uType, 4},
                          {OrvaneCurveDataD9I1K16uC16uType, 9}, {OrvaneCurveDataD9I3K8uC8uType, 9}};
    for (const Case& cs : cases) {
        for (int degree = 0; degree < 4; ++degree) {
            const int n = 12, D = cs.dimension;
            std::vector<float> k(static_cast<size_t>(n)), p(static_cast<size_t>(n * D));
            float x = 0;
            for (float& v : k)
                v = x, x += gap(rng);
            for (float& v : p)
                v = value(rng);
            CurvePtr curve = Build(cs.type, degree, D, k, p);
            ASSERT_TRUE(curve);
            CurvePtr plain(OrvaneCurveConvertToDaK32fC32f(curve.get(), nullptr));
            const bool normalize = D == 4;
            for (bool loop : {false, true}) {
                for (int s = 0; s < 32; ++s) {
                    // The last two times lie outside the knots, where a curve that does not
                    // loop holds its end values in every format.
                    float t = unit(rng) * k.back() * 0.999f;
                    if (s >= 30) {
                        if (loop) continue;
                        t = s == 30 ? -1.0f : k.back() + 1.0f;
                    }
                    float a[9], b[9];
                    OrvaneEvaluateCurveAtT(D, normalize, loop, curve.get(), loop, k.back(), t, a,
                                           nullptr);
                    OrvaneEvaluateCurveAtT(D, normalize, loop, plain.get(), loop, k.back(), t, b,
                                           nullptr);
                    // Degree 0 jumps at knots, where the integer and float searches may
                    // round differently.
                    if (degree == 0 &&
                        OrvaneCurveFindKnot(curve.get(), t) != OrvaneCurveFindKnot(plain.get(), t))
                        continue;
                    for (int c = 0; c < D; ++c)
                        EXPECT_NEAR(a[c], b[c], 2e-3f * (1 + std::fabs(b[c]))) << "t " << t;
                    if (s >= 30) {
                        float end[9];
                        OrvaneCurveExtractKnotValue(plain.get(), s == 30 ? 0 : n - 1, end, nullptr);
                        // Degree 0 never renormalises; a quaternion window made
                        // sign-continuous may hold the end with the other sign.
                        float length2 = 0;
                        for (int c = 0; c < D; ++c)
                            length2 += end[c] * end[c];
                        const bool normalized = normalize && degree > 0;
                        const float factor = normalized ? 1 / std::sqrt(length2) : 1.0f;
                        const float sign =
                            (normalized && b[0] * end[0] * factor < 0) ? -1.0f : 1.0f;
                        for (int c = 0; c < D; ++c)
                            EXPECT_FLOAT_EQ(b[c], sign * end[c] * factor) << "degree " << degree;
                    }
                }
            }
        }
    }
}

TEST(BSplineCurves, LoopingQuaternionsAreMadeSignContinuous) {
    // Rotations about z that step forward a little per knot; the last stored quaternions are
    // written with the opposite sign, as a fitter working per frame may leave them.
    const int n = 9;
    std::vector<float> k(n), q(size_t(4 * n));
    for (int i = 0; i < n; ++i) {
        k[size_t(i)] = float(i);
        const float angle = 0.2f * float(i < n - 1 ? i : 0);
        const float sign = i >= n - 3 ? -1.0f : 1.0f;
        q[size_t(4 * i + 2)] = sign * std::sin(angle / 2);
        q[size_t(4 * i + 3)] = sign * std::cos(angle / 2);
    }
    CurvePtr curve = Build(OrvaneCurveDataDaK32fC32fType, 3, 4, k, q);
    for (float t : {0.1f, 0.5f, 7.5f, 7.9f}) {
        float r[4];
        OrvaneEvaluateCurveAtT(4, true, true, curve.get(), true, float(n - 1), t, r, nullptr);
        const float length = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2] + r[3] * r[3]);
        EXPECT_NEAR(length, 1.0f, 2e-2f) << "t " << t;
    }
}

TEST(BSplineCurves, ConstantsIdentitiesAndBrokenCurves) {
    const float value[3] = {1, 2, 3};
    orvane_curve_data_d3_constant32f constant = {{OrvaneCurveFormatD3Constant32f, 2}, 0, {1, 2, 3}};
    orvane_curve2 c = {{OrvaneCurveDataD3Constant32fType, &constant}};
    float r[3] = {};
    OrvaneEvaluateCurveAtT(3, false, true, &c, true, 1, 0.3f, r, nullptr);
    EXPECT_EQ(r[0], value[0]);
    EXPECT_EQ(r[2], value[2]);

    orvane_curve_data_da_identity identity = {{OrvaneCurveFormatDaIdentity, 0}, 3};
    orvane_curve2 ic = {{OrvaneCurveDataDaIdentityType, &identity}};
    OrvaneEvaluateCurveAtT(3, false, false, &ic, false, 1, 0.3f, r, OrvaneCurveIdentityScale);
    EXPECT_EQ(r[1], 1.0f);

    // A degree the window buffers cannot hold is refused, not read.
    float knots[4] = {0, 1, 2, 3}, controls[12] = {};
    orvane_curve_data_da_k32f_c32f data;
    orvane_curve2 bad;
    OrvaneCurveMakeStaticDaK32fC32f(&bad, &data, 4, 3, 3, knots, controls);
    data.CurveDataHeader.Degree = 9;
    LogCapture log;
    OrvaneEvaluateCurveAtT(3, false, false, &bad, false, 3, 1.5f, r, nullptr);
    EXPECT_TRUE(log.Contains("Degree 9 is out of range"));
    data.CurveDataHeader.Degree = 3;
    log.Clear();
    OrvaneEvaluateCurveAtT(4, false, false, &bad, false, 3, 1.5f, r, nullptr);
    EXPECT_TRUE(log.Contains("Curve and argument dimensions do not match"));
    // Times that are not numbers still pick a knot inside the curve.
    log.Clear();
    OrvaneEvaluateCurveAtT(3, false, false, &bad, false, 3, std::numeric_limits<float>::quiet_NaN(),
                           r, nullptr);
    EXPECT_EQ(log.errors(), 0u);
}

}  // namespace

// B-spline fitting: initial knots, least squares against a dense Eigen reference, refinement
// to a tolerance in plain and quantised formats, quaternion fits, size limits and refusals,
// and the squared error over a curve.
#include <algorithm>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

#include <Eigen/Dense>
#include <gtest/gtest.h>

#include "curve/offline/orvane_curve_fitter.h"
#include "orvane/bspline.h"
#include "orvane/curve_builder.h"
#include "orvane/fit.h"
#include "support/log_capture.h"

using orvane_test::LogCapture;

namespace {

struct Fit {
    std::vector<float> knots;
    std::vector<float> controls;
    int32_t count = 0;
    bool achieved = false;
    int32_t size = 0;
};

class Solver {
public:
    Solver(int degree, int samples, int dimension)
        : solver_(OrvaneAllocateBSplineSolver(degree, samples, dimension)),
          maxKnots_(OrvaneGetMaximumKnotCountForSampleCount(degree, samples)),
          dimension_(dimension) {}
    ~Solver() { OrvaneDeallocateBSplineSolver(solver_); }
    Solver(const Solver&) = delete;
    Solver& operator=(const Solver&) = delete;

    Fit Run(const std::vector<float>& samples, int dimension, int degree, float tolerance,
            uint32_t flags = 0, orvane_data_type_definition* type = nullptr, float timeStep = 1.0f,
            int32_t maxSize = 0, float c0 = 0.0f, float c1 = 0.0f) {
        Fit fit;
        fit.knots.assign(size_t(maxKnots_), -99.0f);
        fit.controls.assign(size_t(maxKnots_) * size_t(std::max(dimension_, 1)), -99.0f);
        orvane_bool achieved = false;
        fit.count = OrvaneFitBSplineToSamples(
            solver_, timeStep, int32_t(samples.size()) / dimension, samples.data(), flags,
            tolerance, c0, c1, dimension, degree, type, fit.knots.data(), fit.controls.data(),
            maxSize, &achieved, &fit.size);
        fit.achieved = achieved;
        fit.knots.resize(size_t(fit.count));
        fit.controls.resize(size_t(fit.count) * size_t(dimension));
        return fit;
    }
    orvane_bspline_solver* get() { return solver_; }

private:
    orvane_bspline_solver* solver_;
    int32_t maxKnots_;
    int dimension_;
};

// A float curve over the fit's outputs (kept alive by the caller's vectors).
struct StaticCurve {
    orvane_curve2 curve;
    orvane_curve_data_da_k32f_c32f data;
    StaticCurve(const Fit& fit, int degree, int dimension) {
        OrvaneCurveMakeStaticDaK32fC32f(&curve, &data, fit.count, degree, dimension,
                                        fit.knots.data(), fit.controls.data());
    }
};

std::vector<float> Sample(const orvane_curve2* curve, int dimension, int count, float step,
                          bool normalize = false) {
    std::vector<float> out(size_t(count) * size_t(dimension));
    for (int i = 0; i < count; ++i)
        OrvaneEvaluateCurveAtT(dimension, normalize, false, curve, false, step * (count - 1),
                               step * float(i), out.data() + size_t(i) * size_t(dimension),
                               nullptr);
    return out;
}

float MaxDistance(const Fit& fit, int degree, int dimension, const std::vector<float>& samples,
                  float step) {
    StaticCurve c(fit, degree, dimension);
    const int count = int(samples.size()) / dimension;
    const std::vector<float> values = Sample(&c.curve, dimension, count, step);
    float worst = 0.0f;
    for (int i = 0; i < count; ++i) {
        float sum = 0.0f;
        for (int k = 0; k < dimension; ++k) {
            const float d = values[size_t(i * dimension + k)] - samples[size_t(i * dimension + k)];
            sum += d * d;
        }
        worst = std::max(worst, std::sqrt(sum));
    }
    return worst;
}

std::vector<float> Wave(int count, int dimension) {
    std::vector<float> s(size_t(count) * size_t(dimension));
    for (int i = 0; i < count; ++i)
        for (int k = 0; k < dimension; ++k)
            s[size_t(i * dimension + k)] =
                3.0f * std::sin(0.05f * float(i) * float(k + 1) + float(k)) + 0.02f * float(i);
    return s;
}

TEST(FitInitialKnots, StraightLineOfDegreeOneNeedsOnlyItsEnds) {
    Solver solver(3, 64, 3);
    std::vector<float> s;
    for (int i = 0; i < 40; ++i)
        for (int k = 0; k < 3; ++k)
            s.push_back(1.5f * float(i) * float(k + 1) - 4.0f);
    const Fit fit = solver.Run(s, 3, 1, 1e-4f);
    ASSERT_EQ(fit.count, 2);
    EXPECT_TRUE(fit.achieved);
    EXPECT_FLOAT_EQ(fit.knots[0], 0.0f);
    EXPECT_FLOAT_EQ(fit.knots[1], 39.0f);
    EXPECT_NEAR(fit.controls[3 + 2], s[39 * 3 + 2], 1e-3f);
}

TEST(FitInitialKnots, JumpGetsDegreePlusOneKnotsBeforeTheFirstSolve) {
    Solver solver(3, 64, 1);
    std::vector<float> s(30);
    for (int i = 0; i < 30; ++i)
        s[size_t(i)] = i <= 10 ? 0.0f : 5.0f;
    // A size limit below any curve stops the fit after the first solve.
    const Fit fit = solver.Run(s, 1, 3, 1e-3f, OrvaneFitBreakAtJumps, nullptr, 1.0f, 1, 1.0f);
    EXPECT_FALSE(fit.achieved);
    EXPECT_EQ(fit.size, -1);
    EXPECT_EQ(std::count(fit.knots.begin(), fit.knots.end(), 10.0f), 4);
    EXPECT_EQ(fit.knots.front(), 0.0f);
    EXPECT_EQ(fit.knots.back(), 29.0f);
    // Without the flag there is no break.
    const Fit plain = solver.Run(s, 1, 3, 1e-3f, 0, nullptr, 1.0f, 1, 1.0f);
    EXPECT_EQ(plain.count, 4);
}

TEST(FitInitialKnots, KinksAndDenseStartKnots) {
    Solver solver(3, 64, 1);
    std::vector<float> s(30);
    for (int i = 0; i < 30; ++i)
        s[size_t(i)] = float(std::abs(i - 15));
    const Fit kink = solver.Run(s, 1, 3, 1e-3f, OrvaneFitBreakAtKinks, nullptr, 1.0f, 1, 0, 1.0f);
    EXPECT_EQ(std::count(kink.knots.begin(), kink.knots.end(), 15.0f), 3);
    const Fit dense = solver.Run(s, 1, 3, 1e-3f, OrvaneFitDenseStartKnots, nullptr, 1.0f, 1);
    ASSERT_EQ(dense.count, 4);
    EXPECT_FLOAT_EQ(dense.knots[1], 0.125f);
    EXPECT_FLOAT_EQ(dense.knots[2], 0.25f);
}

TEST(FitLeastSquares, FirstSolveMatchesADenseReference) {
    // Tolerance too loose for refinement: the result is the least-squares curve on the initial
    // knots. The reference builds the design matrix from the library's own evaluation of
    // unit controls, and solves it densely in double precision.
    const int count = 41, dimension = 2;
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 0.3f);
    std::vector<float> s = Wave(count, dimension);
    for (float& v : s)
        v += noise(random);
    for (int degree = 1; degree <= 3; ++degree) {
        Solver solver(3, count, dimension);
        const Fit fit = solver.Run(s, dimension, degree, 1e6f);
        ASSERT_EQ(fit.count, degree + 1);
        const int n = fit.count;
        Eigen::MatrixXd A(count, n);
        for (int j = 0; j < n; ++j) {
            std::vector<float> unit(size_t(n), 0.0f);
            unit[size_t(j)] = 1.0f;
            orvane_curve2 curve;
            orvane_curve_data_da_k32f_c32f data;
            OrvaneCurveMakeStaticDaK32fC32f(&curve, &data, n, degree, 1, fit.knots.data(),
                                            unit.data());
            const std::vector<float> column = Sample(&curve, 1, count, 1.0f);
            for (int i = 0; i < count; ++i)
                A(i, j) = column[size_t(i)];
        }
        Eigen::MatrixXd b(count, dimension);
        for (int i = 0; i < count; ++i)
            for (int k = 0; k < dimension; ++k)
                b(i, k) = s[size_t(i * dimension + k)];
        const Eigen::MatrixXd x = A.colPivHouseholderQr().solve(b);
        for (int j = 0; j < n; ++j)
            for (int k = 0; k < dimension; ++k)
                EXPECT_NEAR(fit.controls[size_t(j * dimension + k)], x(j, k), 2e-3)
                    << "degree " << degree << " control " << j;
    }
}

TEST(FitLeastSquares, KnownSplineIsRecoveredExactly) {
    const int count = 31, dimension = 3;
    std::mt19937 random(3);
    std::uniform_real_distribution<float> value(-5.0f, 5.0f);
    for (int degree = 0; degree <= 3; ++degree) {
        const int n = degree == 0 ? 2 : degree + 1;
        std::vector<float> knots(static_cast<size_t>(n));
        std::vector<float> controls(static_cast<size_t>(n * dimension));
        for (int j = 0; j < n; ++j)
            knots[size_t(j)] = float(j) * 30.0f / float(n - 1);
        for (float& c : controls)
            c = value(random);
        orvane_curve2 curve;
        orvane_curve_data_da_k32f_c32f data;
        OrvaneCurveMakeStaticDaK32fC32f(&curve, &data, n, degree, dimension, knots.data(),
                                        controls.data());
        const std::vector<float> s = Sample(&curve, dimension, count, 1.0f);
        Solver solver(3, count, dimension);
        const Fit fit = solver.Run(s, dimension, degree, 1e-3f);
        ASSERT_EQ(fit.count, n) << "degree " << degree;
        EXPECT_TRUE(fit.achieved);
        // Degree 0's first control holds over no sample; every other one is recovered.
        for (int j = degree == 0 ? 1 : 0; j < n; ++j)
            for (int k = 0; k < dimension; ++k)
                EXPECT_NEAR(fit.controls[size_t(j * dimension + k)],
                            controls[size_t(j * dimension + k)], 1e-3f)
                    << "degree " << degree << " control " << j;
    }
}

TEST(FitLeastSquares, ChosenKnotsRecoverASplineOnThem) {
    // Non-uniform knots with a dense start, as the compressor chooses them.
    const std::vector<float> knots = {0.0f, 0.4f, 0.8f, 5.0f, 9.0f, 17.0f, 22.0f, 40.0f};
    const int n = int(knots.size()), dimension = 2, count = 41;
    std::vector<float> controls(static_cast<size_t>(n * dimension));
    for (int j = 0; j < n * dimension; ++j)
        controls[size_t(j)] = std::sin(float(j) * 1.7f) * 4.0f;
    orvane_curve2 curve;
    orvane_curve_data_da_k32f_c32f data;
    OrvaneCurveMakeStaticDaK32fC32f(&curve, &data, n, 3, dimension, knots.data(), controls.data());
    const std::vector<float> s = Sample(&curve, dimension, count, 1.0f);
    Solver solver(3, count, dimension);
    std::vector<float> solved(controls.size(), 0.0f);
    ASSERT_TRUE(orvane::SolveControlsForKnots(solver.get(), count, s.data(), dimension, 3,
                                              knots.data(), n, solved.data()));
    // The first knots' controls are pinned by few samples: compare the curves, not them.
    const Fit result{knots, solved, n, true, 0};
    StaticCurve fitted(result, 3, dimension);
    const std::vector<float> again = Sample(&fitted.curve, dimension, count, 1.0f);
    for (size_t i = 0; i < s.size(); ++i)
        EXPECT_NEAR(again[i], s[i], 2e-3f) << i;
    EXPECT_FALSE(orvane::SolveControlsForKnots(solver.get(), count + 1, s.data(), dimension, 3,
                                               knots.data(), n, solved.data()));
    EXPECT_FALSE(orvane::SolveControlsForKnots(solver.get(), count, s.data(), 3, 3, knots.data(), n,
                                               solved.data()));
}

TEST(FitRefinement, EveryDegreeReachesTheToleranceAndScalesKnotsByTheTimeStep) {
    const int count = 121, dimension = 3;
    const std::vector<float> s = Wave(count, dimension);
    const float step = 1.0f / 30.0f;
    for (int degree = 1; degree <= 3; ++degree) {
        // Knots come no closer than 1.5 samples: a polyline needs a looser tolerance.
        const float tolerance = degree == 1 ? 0.05f : 0.01f;
        Solver solver(3, count, dimension);
        const Fit fit =
            solver.Run(s, dimension, degree, tolerance, OrvaneFitDenseStartKnots, nullptr, step);
        EXPECT_TRUE(fit.achieved) << "degree " << degree;
        EXPECT_GT(fit.count, degree + 1);
        EXPECT_LT(fit.count, count);
        EXPECT_FLOAT_EQ(fit.knots.back(), 120.0f * step);
        EXPECT_TRUE(std::is_sorted(fit.knots.begin(), fit.knots.end()));
        EXPECT_LE(MaxDistance(fit, degree, dimension, s, step), tolerance * 1.01f)
            << "degree " << degree;
        // The same error through the library's measure.
        StaticCurve c(fit, degree, dimension);
        const orvane_bspline_error_result e = OrvaneGetSquaredErrorOverCurve(
            0, degree, dimension, 120.0f * step, &c.curve, count, s.data(), nullptr);
        EXPECT_LE(e.MaxSquaredError, tolerance * tolerance * 1.02f);
        EXPECT_GE(e.TotalSquaredError, e.MaxSquaredError);
    }
}

TEST(FitRefinement, PinnedEndsHoldTheEndSamples) {
    const int count = 50;
    const std::vector<float> s = Wave(count, 2);
    Solver solver(3, count, 2);
    const Fit fit = solver.Run(s, 2, 3, 0.05f, OrvaneFitPinEnds);
    EXPECT_EQ(fit.controls[0], s[0]);
    EXPECT_EQ(fit.controls[1], s[1]);
    EXPECT_EQ(fit.controls[size_t(fit.count * 2 - 1)], s.back());
}

TEST(FitQuantised, QuantisationIsPartOfTheErrorTest) {
    const int count = 121;
    const std::vector<float> s = Wave(count, 3);
    Solver solver(3, count, 3);
    // Reachable with 16-bit controls: the decoded (quantised) curve meets the tolerance.
    for (orvane_data_type_definition* type :
         {OrvaneCurveDataDaK16uC16uType, OrvaneCurveDataD3K16uC16uType}) {
        const Fit fit = solver.Run(s, 3, 3, 0.005f, OrvaneFitDenseStartKnots, type);
        EXPECT_TRUE(fit.achieved);
        EXPECT_GT(fit.size, 0);
        EXPECT_LE(MaxDistance(fit, 3, 3, s, 1.0f), 0.00505f);
    }
    // 8-bit controls over a range of about 8 step by 0.03: a tolerance of 0.05 holds ...
    const Fit coarse =
        solver.Run(s, 3, 3, 0.05f, OrvaneFitDenseStartKnots, OrvaneCurveDataD3K8uC8uType);
    EXPECT_TRUE(coarse.achieved);
    EXPECT_LE(MaxDistance(coarse, 3, 3, s, 1.0f), 0.0505f);
    // ... and 0.001 cannot: the fit ends, reports it and hands back the encoded curve.
    const Fit fine = solver.Run(s, 3, 3, 0.001f, 0, OrvaneCurveDataD3K8uC8uType);
    EXPECT_FALSE(fine.achieved);
    EXPECT_EQ(fine.size, -1);
    EXPECT_GT(fine.count, 4);
}

TEST(FitQuantised, SizeLimitStopsAtOnceWithTheFirstCurve) {
    const std::vector<float> s = Wave(60, 3);
    Solver solver(3, 60, 3);
    const Fit fit = solver.Run(s, 3, 3, 1e-4f, 0, OrvaneCurveDataDaK16uC16uType, 0.5f, 10);
    EXPECT_FALSE(fit.achieved);
    EXPECT_EQ(fit.size, -1);
    ASSERT_EQ(fit.count, 4);
    EXPECT_FLOAT_EQ(fit.knots[3], 59.0f * 0.5f);
    for (float c : fit.controls)
        EXPECT_GT(c, -99.0f);
}

// Quaternions along a random smooth path, made sign-continuous.
std::vector<float> RandomRotations(int count, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    float axis[3][3];
    for (auto& a : axis)
        for (float& c : a)
            c = u(random);
    std::vector<float> q(size_t(count) * 4);
    for (int i = 0; i < count; ++i) {
        const float t = float(i) / float(count - 1);
        float v[3];
        for (int k = 0; k < 3; ++k)
            v[k] = axis[0][k] * std::sin(2.0f * t) + axis[1][k] * t + axis[2][k] * t * t;
        const float angle = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        const float s = angle > 0 ? std::sin(angle * 0.5f) / angle : 0.5f;
        float* o = q.data() + size_t(i) * 4;
        o[0] = v[0] * s;
        o[1] = v[1] * s;
        o[2] = v[2] * s;
        o[3] = std::cos(angle * 0.5f);
    }
    OrvaneEnsureQuaternionContinuity(count, q.data());
    return q;
}

TEST(FitQuaternions, RandomRotationsFitWithinTolerance) {
    const int count = 150;
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        const std::vector<float> q = RandomRotations(count, seed);
        Solver solver(3, count, 4);
        for (orvane_data_type_definition* type :
             {static_cast<orvane_data_type_definition*>(nullptr), OrvaneCurveDataD4nK16uC15uType}) {
            const float tolerance = 1e-6f;  // on (1 - s . c)^2: about 0.16 degrees
            const Fit fit = solver.Run(q, 4, 3, tolerance,
                                       OrvaneFitQuaternionMode | OrvaneFitDenseStartKnots, type);
            EXPECT_TRUE(fit.achieved) << "seed " << seed;
            StaticCurve c(fit, 3, 4);
            const orvane_bspline_error_result e =
                OrvaneGetSquaredErrorOverCurve(OrvaneFitQuaternionMode, 3, 4, float(count - 1),
                                               &c.curve, count, q.data(), nullptr);
            EXPECT_LE(e.MaxSquaredError, tolerance * tolerance * 1.01f) << "seed " << seed;
        }
    }
}

TEST(FitRefusals, CountsAboveTheSolversMaximaAreRefused) {
    Solver solver(2, 20, 3);
    const std::vector<float> s = Wave(40, 9);
    LogCapture log;
    EXPECT_EQ(solver.Run(std::vector<float>(s.begin(), s.begin() + 21 * 3), 3, 2, 0.1f).count, 0);
    EXPECT_EQ(solver.Run(std::vector<float>(s.begin(), s.begin() + 10 * 4), 4, 2, 0.1f).count, 0);
    EXPECT_EQ(solver.Run(std::vector<float>(s.begin(), s.begin() + 10 * 3), 3, 3, 0.1f).count, 0);
    EXPECT_EQ(solver.Run(std::vector<float>(s.begin(), s.begin() + 3), 3, 2, 0.1f).count, 0);
    EXPECT_EQ(log.errors(), 4u);
    EXPECT_EQ(OrvaneAllocateBSplineSolver(4, 10, 3), nullptr);
    EXPECT_EQ(OrvaneAllocateBSplineSolver(3, 1, 3), nullptr);
    EXPECT_EQ(OrvaneAllocateBSplineSolver(3, 10, 10), nullptr);
    EXPECT_EQ(OrvaneAllocateBSplineSolver(3, INT32_MAX / 2, 9), nullptr);
    // The knot count for sizing the output arrays saturates instead of wrapping.
    EXPECT_EQ(OrvaneGetMaximumKnotCountForSampleCount(3, 25), 100);
    EXPECT_EQ(OrvaneGetMaximumKnotCountForSampleCount(3, INT32_MAX / 2), INT32_MAX);
    EXPECT_EQ(OrvaneGetMaximumKnotCountForSampleCount(INT32_MAX, 2), INT32_MAX);
    // Dimensions without a sampler cannot be evaluated, so cannot be fitted.
    Solver wide(3, 20, 9);
    EXPECT_EQ(wide.Run(std::vector<float>(size_t(20 * 6), 1.0f), 6, 3, 0.1f).count, 0);
    EXPECT_EQ(OrvaneFitBSplineToSamples(nullptr, 1, 10, s.data(), 0, 0.1f, 0, 0, 3, 3, nullptr,
                                        nullptr, nullptr, 0, nullptr, nullptr),
              0);
}

TEST(FitRefusals, SamplesOrToleranceThatAreNotNumbersAreRefused) {
    // A sample that is not finite would leave controls that are not either, and its error,
    // which compares false against the tolerance, would pass as met.
    const int count = 40;
    std::vector<float> s = Wave(count, 3);
    Solver solver(3, count, 3);
    for (const float bad : {std::nanf(""), INFINITY, -INFINITY}) {
        s[size_t(17 * 3 + 1)] = bad;
        LogCapture log;
        const Fit fit = solver.Run(s, 3, 3, 0.01f);
        EXPECT_EQ(fit.count, 0);
        EXPECT_FALSE(fit.achieved);
        EXPECT_EQ(fit.size, -1);
        EXPECT_EQ(log.errors(), 1u);
    }
    s = Wave(count, 3);
    LogCapture log;
    const Fit fit = solver.Run(s, 3, 3, std::nanf(""));
    EXPECT_EQ(fit.count, 0);
    EXPECT_FALSE(fit.achieved);
    EXPECT_EQ(log.errors(), 1u);
}

TEST(FitThreads, SolversFitOnSeveralThreadsAtOnce) {
    const int count = 200;
    const std::vector<float> s = Wave(count, 3);
    Solver reference(3, count, 3);
    const Fit expected = reference.Run(s, 3, 3, 0.002f, 0, OrvaneCurveDataDaK16uC16uType);
    std::vector<Fit> results(4);
    std::vector<std::thread> threads;
    for (auto& result : results)
        threads.emplace_back([&s, &result] {
            Solver solver(3, count, 3);
            for (int repeat = 0; repeat < 5; ++repeat)
                result = solver.Run(s, 3, 3, 0.002f, 0, OrvaneCurveDataDaK16uC16uType);
        });
    for (auto& t : threads)
        t.join();
    for (const Fit& r : results) {
        EXPECT_EQ(r.knots, expected.knots);
        EXPECT_EQ(r.controls, expected.controls);
    }
}

int g_fitAllocations = 0;

TEST(FitMemory, RepeatedFitsAllocateNothing) {
    // The solver holds all working memory: with an allocator that counts and refuses every
    // request, fits in the plain, quantised, quaternion and constant formats still succeed.
    const int count = 90;
    const std::vector<float> s = Wave(count, 3);
    const std::vector<float> q = RandomRotations(count, 9);
    Solver solver(3, count, 4);
    orvane_allocate_callback allocate;
    orvane_deallocate_callback deallocate;
    OrvaneGetAllocator(&allocate, &deallocate);
    g_fitAllocations = 0;
    OrvaneSetAllocator(
        [](const char*, orvane_int32, orvane_uint32, orvane_int32) -> void* {
            ++g_fitAllocations;
            return nullptr;
        },
        deallocate);
    const Fit plain = solver.Run(s, 3, 3, 0.01f, OrvaneFitDenseStartKnots);
    const Fit packed =
        solver.Run(s, 3, 3, 0.005f, OrvaneFitDenseStartKnots, OrvaneCurveDataD3K16uC16uType);
    const Fit turning =
        solver.Run(q, 4, 3, 1e-6f, OrvaneFitQuaternionMode | OrvaneFitDenseStartKnots,
                   OrvaneCurveDataD4nK16uC15uType);
    const Fit constant = solver.Run(s, 3, 1, 10.0f, 0, OrvaneCurveDataD3Constant32fType);
    OrvaneSetAllocator(allocate, deallocate);
    EXPECT_EQ(g_fitAllocations, 0);
    EXPECT_TRUE(plain.achieved);
    EXPECT_TRUE(packed.achieved);
    EXPECT_TRUE(turning.achieved);
    EXPECT_TRUE(constant.achieved);
    EXPECT_GT(plain.count, 4);
    EXPECT_GT(packed.count, 3);
    EXPECT_GT(turning.count, 4);
    EXPECT_EQ(constant.count, 1);
}

TEST(FitSquaredError, MatchingCurveReportsNoError) {
    const float knots[3] = {0.0f, 1.0f, 2.0f};
    const float controls[3] = {0.0f, 2.0f, 4.0f};
    orvane_curve2 curve;
    orvane_curve_data_da_k32f_c32f data;
    OrvaneCurveMakeStaticDaK32fC32f(&curve, &data, 3, 1, 1, knots, controls);
    const float samples[5] = {0.0f, 1.0f, 2.0f, 3.0f, 4.0f};
    orvane_bspline_error_result e =
        OrvaneGetSquaredErrorOverCurve(0, 1, 1, 2.0f, &curve, 5, samples, nullptr);
    EXPECT_EQ(e.MaxErrorKnotIndex, -1);
    EXPECT_EQ(e.MaxErrorSampleIndex, -1);
    EXPECT_EQ(e.MaxSquaredError, 0.0f);
    EXPECT_EQ(e.TotalSquaredError, 0.0f);
    // One sample off by 0.5, sample 0 never measured.
    const float off[5] = {9.0f, 1.0f, 2.0f, 3.5f, 4.0f};
    e = OrvaneGetSquaredErrorOverCurve(0, 1, 1, 2.0f, &curve, 5, off, nullptr);
    EXPECT_EQ(e.MaxErrorSampleIndex, 3);
    EXPECT_EQ(e.MaxErrorKnotIndex, 2);
    EXPECT_FLOAT_EQ(e.MaxSquaredError, 0.25f);
    EXPECT_FLOAT_EQ(e.TotalSquaredError, 0.25f);
    LogCapture log;
    e = OrvaneGetSquaredErrorOverCurve(0, 1, 12, 2.0f, &curve, 5, off, nullptr);
    EXPECT_EQ(e.MaxErrorSampleIndex, -1);
    EXPECT_EQ(log.errors(), 1u);
}

TEST(FitSquaredError, CurveOfAnotherDimensionIsRefusedOnce) {
    // A curve of dimension 3 measured as dimension 2 cannot be evaluated at any sample: one
    // error, not one per sample, and no errors measured against values never written.
    const float knots[2] = {0.0f, 1.0f};
    const float controls[6] = {0.0f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f};
    orvane_curve2 curve;
    orvane_curve_data_da_k32f_c32f data;
    OrvaneCurveMakeStaticDaK32fC32f(&curve, &data, 2, 1, 3, knots, controls);
    std::vector<float> samples(200, 7.0f);
    LogCapture log;
    const orvane_bspline_error_result e =
        OrvaneGetSquaredErrorOverCurve(0, 1, 2, 1.0f, &curve, 100, samples.data(), nullptr);
    EXPECT_EQ(log.errors(), 1u);
    EXPECT_EQ(e.MaxErrorSampleIndex, -1);
    EXPECT_EQ(e.MaxErrorKnotIndex, -1);
    EXPECT_EQ(e.TotalSquaredError, 0.0f);
    // An identity curve has no dimension of its own and takes the argument's.
    orvane_curve2 identity;
    orvane_curve_data_da_k32f_c32f empty;
    OrvaneCurveMakeStaticDaK32fC32f(&identity, &empty, 0, 1, 0, nullptr, nullptr);
    std::vector<float> zeros(200, 0.0f);
    const orvane_bspline_error_result none =
        OrvaneGetSquaredErrorOverCurve(0, 1, 2, 1.0f, &identity, 100, zeros.data(), nullptr);
    EXPECT_EQ(log.errors(), 1u);
    EXPECT_EQ(none.MaxErrorSampleIndex, -1);
}

}  // namespace

namespace {

// Encodes knots (and zero controls) in a format and reads the knot times back as the
// evaluation will see them.
std::vector<float> DecodedKnots(orvane_data_type_definition* type, int dimension,
                                const std::vector<float>& knots) {
    const int n = int(knots.size());
    std::vector<float> controls(size_t(n) * size_t(dimension), 0.0f);
    for (int i = 0; i < n; ++i)
        if (dimension == 4) controls[size_t(i) * 4 + 3] = 1.0f;
    orvane_curve_builder* b = OrvaneBeginCurve(type, 1, dimension, n);
    OrvanePushCurveKnotArray(b, knots.data());
    OrvanePushCurveControlArray(b, controls.data());
    orvane_curve2* curve = OrvaneEndCurve(b);
    std::vector<float> out(static_cast<size_t>(n));
    OrvaneCurveExtractKnotValues(curve, 0, n, out.data(), nullptr, nullptr);
    OrvaneFreeCurve(curve);
    return out;
}

}  // namespace

TEST(FitStoredKnots, TimesAreThoseTheFormatsDecode) {
    std::mt19937 random(5);
    std::uniform_real_distribution<float> gap(0.01f, 0.2f);
    std::vector<float> knots = {0.0f};
    for (int i = 1; i < 40; ++i)
        knots.push_back(knots.back() + gap(random));
    const float unit = 1.0f / 30.0f;
    const struct {
        orvane_data_type_definition* type;
        int format;
        int dimension;
    } formats[] = {
        {OrvaneCurveDataDaK32fC32fType, OrvaneCurveFormatDaK32fC32f, 3},
        {OrvaneCurveDataDaK16uC16uType, OrvaneCurveFormatDaK16uC16u, 2},
        {OrvaneCurveDataDaK8uC8uType, OrvaneCurveFormatDaK8uC8u, 2},
        {OrvaneCurveDataD4nK16uC15uType, OrvaneCurveFormatD4nK16uC15u, 4},
        {OrvaneCurveDataD4nK8uC7uType, OrvaneCurveFormatD4nK8uC7u, 4},
        {OrvaneCurveDataD3K16uC16uType, OrvaneCurveFormatD3K16uC16u, 3},
        {OrvaneCurveDataD3K8uC8uType, OrvaneCurveFormatD3K8uC8u, 3},
        {OrvaneCurveDataD9I1K16uC16uType, OrvaneCurveFormatD9I1K16uC16u, 9},
        {OrvaneCurveDataD9I3K8uC8uType, OrvaneCurveFormatD9I3K8uC8u, 9},
    };
    for (const auto& f : formats) {
        const std::vector<float> decoded = DecodedKnots(f.type, f.dimension, knots);
        std::vector<float> stored(knots.size());
        ASSERT_TRUE(orvane::StoredKnotTimes(f.format, int32_t(knots.size()), knots.data(), unit,
                                            stored.data()))
            << f.format;
        for (size_t i = 0; i < knots.size(); ++i)
            EXPECT_FLOAT_EQ(stored[i] * unit, decoded[i]) << "format " << f.format << " knot " << i;
    }
    // Two knots closer than a step of the 8-bit grid fall on one stored value.
    const std::vector<float> close = {0.0f, 0.001f, 1.0f};
    std::vector<float> out(3);
    EXPECT_FALSE(
        orvane::StoredKnotTimes(OrvaneCurveFormatD3K8uC8u, 3, close.data(), 1.0f, out.data()));
    EXPECT_TRUE(
        orvane::StoredKnotTimes(OrvaneCurveFormatD3K16uC16u, 3, close.data(), 1.0f, out.data()));
    EXPECT_FALSE(
        orvane::StoredKnotTimes(OrvaneCurveFormatDaIdentity, 3, close.data(), 1.0f, out.data()));
}

TEST(FitStoredKnots, ControlsSolvedOnStoredKnotsHoldWhereRoundedKnotsDoNot) {
    // Fast motion with a knot at every sample in a 16-bit format: rounding the knots after
    // the solve moves every sample's weights by up to half a step of the grid; solving on the
    // stored knot times leaves only the controls' rounding.
    const int count = 400;
    const float step = 1.0f / 120.0f;
    std::vector<float> s(size_t(count) * 3);
    for (int i = 0; i < count; ++i)
        for (int k = 0; k < 3; ++k)
            s[size_t(i * 3 + k)] = 40.0f * std::sin(0.9f * float(i) + float(k));
    std::vector<float> frames(static_cast<size_t>(count)), seconds(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        frames[size_t(i)] = float(i);
        seconds[size_t(i)] = float(i) * step;
    }
    std::vector<float> stored(static_cast<size_t>(count));
    ASSERT_TRUE(orvane::StoredKnotTimes(OrvaneCurveFormatD3K16uC16u, count, seconds.data(), step,
                                        stored.data()));
    Solver solver(1, count, 3);
    auto errorOf = [&](const std::vector<float>& solveKnots) {
        std::vector<float> controls(size_t(count) * 3);
        EXPECT_TRUE(orvane::SolveControlsForKnots(solver.get(), count, s.data(), 3, 1,
                                                  solveKnots.data(), count, controls.data()));
        orvane_curve_builder* b = OrvaneBeginCurve(OrvaneCurveDataD3K16uC16uType, 1, 3, count);
        OrvanePushCurveKnotArray(b, seconds.data());
        OrvanePushCurveControlArray(b, controls.data());
        orvane_curve2* curve = OrvaneEndCurve(b);
        const std::vector<float> values = Sample(curve, 3, count, step);
        OrvaneFreeCurve(curve);
        double worst = 0.0;
        for (size_t i = 0; i < s.size(); i += 3)
            worst = std::max(worst, std::sqrt(std::pow(double(values[i] - s[i]), 2) +
                                              std::pow(double(values[i + 1] - s[i + 1]), 2) +
                                              std::pow(double(values[i + 2] - s[i + 2]), 2)));
        return worst;
    };
    const double onStored = errorOf(stored);
    const double onUnrounded = errorOf(frames);
    // The controls' rounding: 80 cm over 65,535 steps, half a step per component, and the
    // float solve.
    EXPECT_LE(onStored, 2.0 * 0.5 * 80.0 / 65535.0 * std::sqrt(3.0));
    EXPECT_GT(onUnrounded, 2.0 * onStored) << onUnrounded;
}

// The largest miss of a fitted curve halfway between samples, beyond the bend allowed there
// (the largest offset from the chord of the quadratics and the cubic through neighbouring
// samples), computed here in double precision.
double WorstMidpointMiss(const Fit& fit, int degree, const std::vector<float>& s) {
    const int count = int(s.size());
    StaticCurve c(fit, degree, 1);
    auto at = [&](int i) { return double(s[size_t(i)]); };
    double worst = 0.0;
    for (int j = 1; j < count; ++j) {
        float value = 0.0f;
        OrvaneEvaluateCurveAtT(1, false, false, &c.curve, false, float(count - 1), float(j) - 0.5f,
                               &value, nullptr);
        double bend = 0.0;
        if (j >= 2) bend = std::max(bend, std::fabs(at(j - 2) - 2 * at(j - 1) + at(j)) / 8);
        if (j + 1 < count) bend = std::max(bend, std::fabs(at(j - 1) - 2 * at(j) + at(j + 1)) / 8);
        if (j >= 2 && j + 1 < count)
            bend = std::max(bend, std::fabs(at(j - 2) - at(j - 1) - at(j) + at(j + 1)) / 16);
        worst = std::max(worst, std::fabs(double(value) - 0.5 * (at(j - 1) + at(j))) - bend);
    }
    return worst;
}

TEST(FitRefinement, MidpointsAreMeasuredWhenAsked) {
    // A step eased over eight samples: a cubic with few knots rings around it between the
    // samples. Measured halfway too, the fit adds knots there, and holds the tolerance
    // halfway whenever it reports that it reached it.
    const int count = 61;
    std::vector<float> s(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const float u = std::clamp(float(i - 26) / 8.0f, 0.0f, 1.0f);
        s[size_t(i)] = 10.0f * u * u * (3.0f - 2.0f * u);
    }
    Solver solver(3, count, 1);
    for (const float tolerance : {0.05f, 0.1f, 0.2f}) {
        const Fit atSamples = solver.Run(s, 1, 3, tolerance);
        const Fit checked = solver.Run(s, 1, 3, tolerance, OrvaneFitCheckMidpoints);
        EXPECT_GE(checked.count, atSamples.count) << tolerance;
        if (checked.achieved) {
            EXPECT_LE(WorstMidpointMiss(checked, 3, s), tolerance * 1.01) << tolerance;
        }
    }
    const Fit loose = solver.Run(s, 1, 3, 0.1f, OrvaneFitCheckMidpoints);
    EXPECT_TRUE(loose.achieved);
    EXPECT_LE(WorstMidpointMiss(loose, 3, s), 0.1 * 1.01);
}

TEST(FitSingleValueFormats, SamplesThatVaryMissTheToleranceOfAConstant) {
    // A ramp from 0 to 3 cannot be held by one value within 0.01: the constant formats keep a
    // single control, and the fit measures the samples against it like any other curve.
    const int count = 30;
    std::vector<float> ramp(size_t(count) * 3);
    for (int i = 0; i < count; ++i)
        for (int k = 0; k < 3; ++k)
            ramp[size_t(i * 3 + k)] = float(i) * 0.1f + float(k);
    Solver solver(3, count, 3);
    for (orvane_data_type_definition* type :
         {OrvaneCurveDataDaConstant32fType, OrvaneCurveDataD3Constant32fType}) {
        const Fit fit = solver.Run(ramp, 3, 3, 0.01f, 0, type);
        EXPECT_FALSE(fit.achieved);
        EXPECT_EQ(fit.size, -1);
        EXPECT_EQ(fit.count, 1);
    }
    // Samples that are one value fit it.
    const std::vector<float> still = {1.5f, -2.0f, 0.25f};
    std::vector<float> flat;
    for (int i = 0; i < count; ++i)
        flat.insert(flat.end(), still.begin(), still.end());
    const Fit constant = solver.Run(flat, 3, 3, 0.01f, 0, OrvaneCurveDataD3Constant32fType);
    EXPECT_TRUE(constant.achieved);
    EXPECT_GT(constant.size, 0);
    ASSERT_EQ(constant.count, 1);
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(constant.controls[size_t(k)], still[size_t(k)], 1e-5f);
}

TEST(FitSingleValueFormats, OnlyZeroSamplesFitAnIdentity) {
    // The identity format's value, as the fit hands it back, is the zero vector.
    const int count = 20;
    Solver solver(3, count, 2);
    const Fit zeros = solver.Run(std::vector<float>(size_t(count) * 2, 0.0f), 2, 3, 1e-3f, 0,
                                 OrvaneCurveDataDaIdentityType);
    EXPECT_TRUE(zeros.achieved);
    EXPECT_GT(zeros.size, 0);
    std::vector<float> moving(size_t(count) * 2, 0.0f);
    moving[size_t(count)] = 0.5f;  // one sample off zero, halfway through
    const Fit moved = solver.Run(moving, 2, 3, 1e-3f, 0, OrvaneCurveDataDaIdentityType);
    EXPECT_FALSE(moved.achieved);
    EXPECT_EQ(moved.size, -1);
}

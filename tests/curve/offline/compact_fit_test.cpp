// Fitting with the compact format: every knot within the tolerance as an independent reader
// decodes it, fewer bytes for looser tolerances and stiller motion, quaternions on either side.
#include <cmath>
#include <algorithm>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "curve/compact_reference.h"
#include "curve/offline/orvane_compact_fit.h"
#include "curve/orvane_compact_curve.h"
#include "orvane/fit.h"
#include "support/log_capture.h"
#include "orvane/curve_builder.h"

namespace {

// A captured joint: a slow swing with a little tremor, sign-continuous.
std::vector<float> Joint(int count, double amplitude, uint32_t seed, bool negate) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> tremor(0.0, 0.002);
    std::vector<float> q(size_t(4 * count));
    for (int k = 0; k < count; ++k) {
        const double t = k / 30.0;
        const double angle = amplitude * std::sin(1.7 * t) + tremor(rng);
        double axis[3] = {std::cos(0.3 * t), 0.4, std::sin(0.5 * t)};
        const double n = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
        const double s = std::sin(0.5 * angle) * (negate ? -1 : 1);
        for (int c = 0; c < 3; ++c)
            q[size_t(4 * k + c)] = float(axis[c] / n * s);
        q[size_t(4 * k + 3)] = float(std::cos(0.5 * angle) * (negate ? -1 : 1));
    }
    return q;
}

// The largest distance of a sample from the curve at its time, as an independent reader
// decodes the knots and a degree-1 curve (normalised for quaternions) joins them.
double WorstDistance(const orvane::CompactFit& fit, const std::vector<float>& samples, int d,
                     double interval, bool quaternion) {
    const auto& r = *static_cast<const orvane_curve_data_da_compact*>(fit.curve->CurveData.Object);
    orvane_test::CompactReference reference{r};
    const int count = int(samples.size()) / d;
    double worst = 0;
    for (int j = 0; j < count; ++j) {
        const double at = j * interval / r.KnotInterval;
        const int k = std::min(int(at), r.KnotCount - 2);
        const double u = at - k;
        const std::vector<double> a = reference.Knot(k), b = reference.Knot(k + 1);
        std::vector<double> v(static_cast<size_t>(d), 0.0);
        double length = 0;
        for (int c = 0; c < d; ++c) {
            v[size_t(c)] = a[size_t(c)] + (b[size_t(c)] - a[size_t(c)]) * u;
            length += v[size_t(c)] * v[size_t(c)];
        }
        double sum = 0;
        for (int c = 0; c < d; ++c) {
            const double value = quaternion ? v[size_t(c)] / std::sqrt(length) : v[size_t(c)];
            const double e = value - samples[size_t(j * d + c)];
            sum += e * e;
        }
        worst = std::max(worst, std::sqrt(sum));
    }
    return worst;
}

TEST(CompactFit, EveryKnotHoldsTheToleranceAndLooserCostsLess) {
    for (bool negate : {false, true}) {
        const int count = 301;
        const std::vector<float> q = Joint(count, 1.2, 1, negate);
        int32_t previous = 0;
        for (float tolerance : {1e-5f, 1e-4f, 1e-3f, 1e-2f}) {
            orvane::CompactFit fit =
                orvane::FitCompactCurve(q.data(), count, 4, true, 1.0f / 30, tolerance);
            ASSERT_NE(fit.curve, nullptr);
            EXPECT_FALSE(fit.missed);
            EXPECT_TRUE(OrvaneCurveFormatIsInitializedCorrectly(fit.curve));
            const double worst = WorstDistance(fit, q, 4, 1.0 / 30, true);
            EXPECT_LE(worst, tolerance * 1.0001 + 2e-7) << tolerance;  // float decoding
            EXPECT_NEAR(fit.error, worst, 2e-6);
            if (previous) {
                EXPECT_LT(fit.bytes, previous) << tolerance;
            }
            previous = fit.bytes;
            OrvaneFreeCurve(fit.curve);
        }
    }
}

TEST(CompactFit, PositionsAndStillCurves) {
    const int count = 200;
    std::vector<float> moving(size_t(3 * count)), still(size_t(3 * count));
    for (int k = 0; k < count; ++k)
        for (int c = 0; c < 3; ++c) {
            moving[size_t(3 * k + c)] = float(10 * std::sin(0.05 * k * (c + 1)) + 3 * c);
            still[size_t(3 * k + c)] = float(c) + (k % 2) * 1e-6f;
        }
    orvane::CompactFit a = orvane::FitCompactCurve(moving.data(), count, 3, false, 0.01f, 1e-3f);
    orvane::CompactFit b = orvane::FitCompactCurve(still.data(), count, 3, false, 0.01f, 1e-3f);
    ASSERT_NE(a.curve, nullptr);
    ASSERT_NE(b.curve, nullptr);
    EXPECT_LE(WorstDistance(a, moving, 3, 0.01, false), 1e-3 * 1.0001);
    EXPECT_LE(WorstDistance(b, still, 3, 0.01, false), 1e-3 * 1.0001);
    // Still values take no bits: the record, ranges and segment headers alone.
    const auto& r = *static_cast<const orvane_curve_data_da_compact*>(b.curve->CurveData.Object);
    const orvane_test::CompactReference ref{r};
    EXPECT_EQ(r.ByteCount, ref.ValuesAt() + ref.HeaderBytes());
    EXPECT_LT(b.bytes, a.bytes / 4);
    OrvaneFreeCurve(a.curve);
    OrvaneFreeCurve(b.curve);
}

// Motion that keeps on across a segment (a capture at 120 per second, a walk's root) takes a line
// per segment and component, with a band as wide as its wobble about the line: fewer bytes than
// the segment's whole sub-range at the same tolerance, every sample within it as an independent
// reader decodes the curve. Wobble alone (no drift) keeps the sub-ranges.
TEST(CompactFit, SteadyMotionTakesLinesAndWobbleKeepsRanges) {
    const int count = 360;
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0.0, 0.01);
    std::vector<float> drift(size_t(3 * count)), wobble(size_t(3 * count));
    for (int k = 0; k < count; ++k)
        for (int c = 0; c < 3; ++c) {
            const double w = 0.05 * std::sin(0.3 * k + c) + noise(rng);
            drift[size_t(3 * k + c)] = float((c + 1) * 0.4 * k + w);
            wobble[size_t(3 * k + c)] = float(w);
        }
    const float tolerance = 2e-3f, step = 1.0f / 120;
    orvane::CompactFit a = orvane::FitCompactCurve(drift.data(), count, 3, false, step, tolerance);
    orvane::CompactFit b = orvane::FitCompactCurve(wobble.data(), count, 3, false, step, tolerance);
    ASSERT_NE(a.curve, nullptr);
    ASSERT_NE(b.curve, nullptr);
    EXPECT_FALSE(a.missed);
    const auto& r = *static_cast<const orvane_curve_data_da_compact*>(a.curve->CurveData.Object);
    const auto& w = *static_cast<const orvane_curve_data_da_compact*>(b.curve->CurveData.Object);
    EXPECT_EQ(r.Layout, orvane::kCompactLineHeadersLastLayout);
    EXPECT_EQ(w.Layout, orvane::kCompactHeadersLastLayout);
    EXPECT_TRUE(OrvaneCurveFormatIsInitializedCorrectly(a.curve));
    EXPECT_LE(WorstDistance(a, drift, 3, step, false), tolerance * 1.0001 + 1e-5);
    // The drift costs the lines' header bits and the rounding of their ends, not the bits of its
    // range: less than 1.7 times the wobble's bytes (the sub-ranges alone take 2.1 times).
    EXPECT_LT(a.bytes * 10, b.bytes * 17);
    OrvaneFreeCurve(a.curve);
    OrvaneFreeCurve(b.curve);
}

}  // namespace

// Arguments no curve fits are refused with a message that names what is wrong, and a sample
// that is not a number names its sample and component.
TEST(CompactFit, RefusesWhatNoCurveFits) {
    const std::vector<float> good = {0.0f, 1.0f, 2.0f, 1.0f, 2.0f, 3.0f, 2.0f, 3.0f, 4.0f};
    for (int bad = 0; bad < 5; ++bad) {
        std::vector<float> samples = good;
        int dimension = 3, count = 3;
        float step = 0.1f, tolerance = 1e-3f;
        if (bad == 0) count = 0;
        if (bad == 1) dimension = 17;
        if (bad == 2) step = 0.0f;
        if (bad == 3) tolerance = std::nanf("");
        if (bad == 4) samples[7] = std::nanf("");
        orvane_test::LogCapture log;
        float error = -1.0f;
        EXPECT_EQ(
            OrvaneFitCompactCurve(dimension, false, count, samples.data(), step, tolerance, &error),
            nullptr)
            << "case " << bad;
        EXPECT_EQ(log.errors(), 1u) << "case " << bad;
        EXPECT_EQ(error, 0.0f);
        if (bad == 4) {
            EXPECT_NE(log.messages().back().text.find("Sample 2, component 1, is not finite"),
                      std::string::npos)
                << log.messages().back().text;
        }
    }
    {
        orvane_test::LogCapture log;  // quaternions have four components
        EXPECT_EQ(OrvaneFitCompactCurve(3, true, 3, good.data(), 0.1f, 1e-3f, nullptr), nullptr);
        EXPECT_EQ(log.errors(), 1u);
    }
    orvane_curve2* curve = OrvaneFitCompactCurve(3, false, 3, good.data(), 0.1f, 1e-3f, nullptr);
    ASSERT_NE(curve, nullptr);
    OrvaneFreeCurve(curve);
}

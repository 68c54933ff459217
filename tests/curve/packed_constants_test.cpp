// The 8-byte constants (D3Constant14s, D4nConstant15u): decoded as their description in
// orvane/curve.h says (by a reader written here from that description), every word pattern a
// finite value, each encoding within its stated error, and the curve operations (builder,
// extraction, evaluation, swizzling, track sampling) agreeing on the value.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>

#include <gtest/gtest.h>

#include "curve/packed_constant_reference.h"
#include "orvane/bspline.h"
#include "orvane/curve.h"
#include "orvane/curve_builder.h"
#include "orvane/track_sampler.h"
#include "orvane/math.h"

namespace {

using orvane_test::ReferenceDroppedIndex;
using orvane_test::ReferencePosition;
using orvane_test::ReferenceQuaternion;

// A curve of the format holding value (one control), or, with value null, built with no knot.
orvane_curve2* Build(orvane_data_type_definition* type, int dimension, const float* value) {
    orvane_curve_builder* b = OrvaneBeginCurve(type, 0, dimension, value ? 1 : 0);
    if (b == nullptr) return nullptr;
    const float zero = 0.0f;
    if (value) {
        OrvanePushCurveKnotArray(b, &zero);
        OrvanePushCurveControlArray(b, value);
    }
    return OrvaneEndCurve(b);
}

uint16_t* WordsOf(orvane_curve2* curve) {
    return static_cast<orvane_curve_data_d3_constant14s*>(curve->CurveData.Object)->Words;
}

TEST(PackedConstants, EveryWordPatternDecodesAsDescribedToAFiniteValue) {
    orvane_curve2* position = Build(OrvaneCurveDataD3Constant14sType, 3, nullptr);
    orvane_curve2* orientation = Build(OrvaneCurveDataD4nConstant15uType, 4, nullptr);
    ASSERT_NE(position, nullptr);
    ASSERT_NE(orientation, nullptr);
    std::mt19937 random(7);
    // Every exponent with the mantissas' ends and middles, then random words.
    for (int i = 0; i < 64 * 9 + 4000; ++i) {
        uint16_t w[3];
        if (i < 64 * 9) {
            const int e = i / 9;
            const uint16_t ends[3] = {0, 8192, 16383};
            for (int c = 0; c < 3; ++c)
                w[c] = uint16_t(ends[(i / (c == 0   ? 1
                                           : c == 1 ? 3
                                                    : 9)) %
                                     3] |
                                ((e >> (2 * c)) & 3) << 14);
        } else {
            for (auto& word : w)
                word = uint16_t(random());
        }
        std::memcpy(WordsOf(position), w, sizeof w);
        std::memcpy(WordsOf(orientation), w, sizeof w);
        float p[3], q[4];
        OrvaneCurveExtractKnotValues(position, 0, 1, nullptr, p, nullptr);
        OrvaneCurveExtractKnotValues(orientation, 0, 1, nullptr, q, nullptr);
        double rp[3], rq[4];
        ReferencePosition(w, rp);
        ReferenceQuaternion(w, rq);
        for (int c = 0; c < 3; ++c) {
            ASSERT_TRUE(std::isfinite(p[c]));
            ASSERT_EQ(double(p[c]), rp[c]) << i;  // exact: a 14-bit number times a power of two
        }
        // The dropped component, a square root, is compared by its square (float rounding of
        // the others' squares moves a root near 0 by more than it moves them).
        const int dropped = ReferenceDroppedIndex(w);
        for (int c = 0; c < 4; ++c) {
            ASSERT_TRUE(std::isfinite(q[c]));
            if (c == dropped) {
                ASSERT_NEAR(double(q[c]) * q[c], rq[c] * rq[c], 1e-6) << i;
                ASSERT_FALSE(q[c] * rq[c] < 0) << i;
            } else {
                ASSERT_NEAR(q[c], rq[c], 4e-7) << i;
            }
        }
    }
    OrvaneFreeCurve(position);
    OrvaneFreeCurve(orientation);
}

TEST(PackedConstants, EncodingHoldsItsStatedError) {
    std::mt19937 random(11);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (int i = 0; i < 3000; ++i) {
        // Positions of every magnitude from 1e-6 to 1e9.
        const float magnitude = std::pow(10.0f, -6.0f + 15.0f * (unit(random) + 1.0f) / 2.0f);
        float value[3];
        float largest = 0;
        for (float& v : value) {
            v = magnitude * unit(random);
            largest = std::max(largest, std::fabs(v));
        }
        orvane_curve2* position = Build(OrvaneCurveDataD3Constant14sType, 3, value);
        ASSERT_NE(position, nullptr);
        EXPECT_EQ(static_cast<const orvane_curve_data_header*>(position->CurveData.Object)->Format,
                  OrvaneCurveFormatD3Constant14s);
        float p[3];
        OrvaneCurveExtractKnotValues(position, 0, 1, nullptr, p, nullptr);
        for (int c = 0; c < 3; ++c)
            ASSERT_LE(std::fabs(p[c] - value[c]), largest / 8191.0f * 1.0001f + 1e-13f) << i;
        OrvaneFreeCurve(position);

        float q[4];
        double n = 0;
        for (float& v : q) {
            v = unit(random);
            n += double(v) * v;
        }
        for (float& v : q)
            v = float(v / std::sqrt(n));
        orvane_curve2* orientation = Build(OrvaneCurveDataD4nConstant15uType, 4, q);
        ASSERT_NE(orientation, nullptr);
        float d[4];
        OrvaneCurveExtractKnotValues(orientation, 0, 1, nullptr, d, nullptr);
        double error = 0, length = 0;
        for (int c = 0; c < 4; ++c) {
            error += (double(d[c]) - q[c]) * (double(d[c]) - q[c]);
            length += double(d[c]) * d[c];
        }
        // Three components within 2.2e-5 each; the dropped one follows from them.
        EXPECT_LE(std::sqrt(error), 6e-5) << i;
        EXPECT_NEAR(length, 1.0, 2e-6) << i;
        OrvaneFreeCurve(orientation);
    }
}

TEST(PackedConstants, OutOfRangeValuesAreHeldAtTheLimitAndNoControlIsTheIdentity) {
    const float huge[3] = {3e9f, -3e9f, NAN};
    orvane_curve2* position = Build(OrvaneCurveDataD3Constant14sType, 3, huge);
    float p[3];
    OrvaneCurveExtractKnotValues(position, 0, 1, nullptr, p, nullptr);
    EXPECT_EQ(p[0], 8191.0f * 262144.0f);
    EXPECT_EQ(p[1], -8191.0f * 262144.0f);
    EXPECT_EQ(p[2], 0.0f);
    OrvaneFreeCurve(position);

    orvane_curve2* empty[2] = {Build(OrvaneCurveDataD3Constant14sType, 3, nullptr),
                               Build(OrvaneCurveDataD4nConstant15uType, 4, nullptr)};
    float values[2][4];
    for (int k = 0; k < 2; ++k) {
        ASSERT_NE(empty[k], nullptr);
        OrvaneCurveExtractKnotValues(empty[k], 0, 1, nullptr, values[k], nullptr);
        OrvaneFreeCurve(empty[k]);
    }
    EXPECT_EQ(values[0][0], 0.0f);
    EXPECT_EQ(values[0][1], 0.0f);
    EXPECT_EQ(values[0][2], 0.0f);
    EXPECT_NEAR(values[1][3], 1.0f, 1e-6f);
    EXPECT_NEAR(values[1][0], 0.0f, 3e-5f);
}

// A track of the two sampled at any time, through evaluation, extraction and the track
// sampler, gives one value; swizzling moves it as it moves floats.
TEST(PackedConstants, CurveOperationsAndTheTrackSamplerAgree) {
    const float position[3] = {-12.5f, 93.25f, 0.3f};
    const float q[4] = {0.3f, -0.8f, 0.1f, 0.5f};  // the largest component negative
    orvane_curve2* p = Build(OrvaneCurveDataD3Constant14sType, 3, position);
    orvane_curve2* o = Build(OrvaneCurveDataD4nConstant15uType, 4, q);
    orvane_curve2* s = OrvaneEndCurve(OrvaneBeginCurve(OrvaneCurveDataDaIdentityType, 0, 9, 0));
    ASSERT_TRUE(p && o && s);
    EXPECT_TRUE(OrvaneCurveIsConstantOrIdentity(p));
    EXPECT_TRUE(OrvaneCurveIsConstantOrIdentity(o));
    EXPECT_FALSE(OrvaneCurveIsIdentity(o));
    EXPECT_EQ(OrvaneCurveGetKnotCount(p), 1);
    EXPECT_EQ(OrvaneCurveGetDimension(o), 4);
    orvane_curve_builder* copy = OrvaneBeginCurveCopy(p);
    EXPECT_EQ(OrvaneGetResultingCurveDataSize(copy), 8);
    OrvaneAbortCurveBuilder(copy);

    float pv[3], ov[4];
    OrvaneCurveExtractKnotValues(p, 0, 1, nullptr, pv, nullptr);
    OrvaneCurveExtractKnotValues(o, 0, 1, nullptr, ov, nullptr);
    EXPECT_LT(ov[1], -0.8f / std::sqrt(0.99f) + 1e-4f);  // the sign is kept

    char name[] = "packed";
    orvane_transform_track track{};
    track.Name = name;
    track.PositionCurve = *p;
    track.OrientationCurve = *o;
    track.ScaleShearCurve = *s;
    for (const float t : {-1.0f, 0.0f, 0.37f, 5.0f}) {
        float e[4];
        OrvaneEvaluateCurveAtT(3, false, false, p, false, 1.0f, t, e, nullptr);
        EXPECT_EQ(std::memcmp(e, pv, sizeof pv), 0) << t;
        OrvaneEvaluateCurveAtT(4, true, false, o, false, 1.0f, t, e, nullptr);
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(e[c], ov[c], 1e-6f) << t;

        orvane_track_sample_context context{};
        context.SampleTime = t;
        context.SampleDuration = 1.0f;
        orvane_transform result{};
        OrvaneSampleTrackUUULocal(&context, &track, nullptr, &result);
        EXPECT_EQ(std::memcmp(result.Position, pv, sizeof pv), 0) << t;
        EXPECT_EQ(std::memcmp(result.Orientation, ov, sizeof ov), 0) << t;
    }

    // z, -x, y (and its quaternion counterpart) and an offset.
    const float scales[4] = {1, -1, 1, 1};
    const float offsets[4] = {2, 0, -1, 0};
    const int32_t swizzles[4] = {2, 0, 1, 3};
    OrvaneCurveScaleOffsetSwizzle(p, 3, scales, offsets, swizzles);
    OrvaneCurveScaleOffsetSwizzle(o, 4, scales, offsets, swizzles);
    float ps[3], os[4];
    OrvaneCurveExtractKnotValues(p, 0, 1, nullptr, ps, nullptr);
    OrvaneCurveExtractKnotValues(o, 0, 1, nullptr, os, nullptr);
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(ps[c], scales[c] * pv[swizzles[c]] + offsets[c], 93.25f / 8191.0f) << c;
    for (int c = 0; c < 4; ++c)
        EXPECT_NEAR(os[c], scales[c] * ov[swizzles[c]], 6e-5f) << c;
    for (orvane_curve2* c : {p, o, s})
        OrvaneFreeCurve(c);
}

}  // namespace

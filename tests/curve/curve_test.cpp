// Curves: encoding and decoding of every format, the worked examples, swizzling, the builder
// and the conversion to plain floats.
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "curve/orvane_curve.h"
#include "orvane/bspline.h"
#include "orvane/curve_builder.h"
#include "support/log_capture.h"

using orvane_test::LogCapture;

namespace {

struct CurveDeleter {
    void operator()(orvane_curve2* c) const { OrvaneFreeCurve(c); }
};
using CurvePtr = std::unique_ptr<orvane_curve2, CurveDeleter>;

orvane_data_type_definition* const kTypes[16] = {
    OrvaneCurveDataDaKeyframes32fType, OrvaneCurveDataDaK32fC32fType,
    OrvaneCurveDataDaIdentityType,     OrvaneCurveDataDaConstant32fType,
    OrvaneCurveDataD3Constant32fType,  OrvaneCurveDataD4Constant32fType,
    OrvaneCurveDataDaK16uC16uType,     OrvaneCurveDataDaK8uC8uType,
    OrvaneCurveDataD4nK16uC15uType,    OrvaneCurveDataD4nK8uC7uType,
    OrvaneCurveDataD3K16uC16uType,     OrvaneCurveDataD3K8uC8uType,
    OrvaneCurveDataD9I1K16uC16uType,   OrvaneCurveDataD9I3K16uC16uType,
    OrvaneCurveDataD9I1K8uC8uType,     OrvaneCurveDataD9I3K8uC8uType};

// Dimension each format is exercised with (any-dimension formats get 5).
const int kDimensions[16] = {5, 5, 5, 5, 3, 4, 5, 5, 4, 4, 3, 3, 9, 9, 9, 9};

CurvePtr Build(int format, int degree, int dimension, int knotCount, const float* knots,
               const float* controls) {
    orvane_curve_builder* b = OrvaneBeginCurve(kTypes[format], degree, dimension, knotCount);
    if (!b) return nullptr;
    if (knots) OrvanePushCurveKnotArray(b, knots);
    if (controls) OrvanePushCurveControlArray(b, controls);
    return CurvePtr(OrvaneEndCurve(b));
}

template <typename R>
R* Data(const CurvePtr& c) {
    return static_cast<R*>(c->CurveData.Object);
}

// Random control vectors shaped for the format: uniform or diagonal 3x3 scales for the D9
// formats, unit quaternions for D4n.
std::vector<float> RandomControls(std::mt19937& rng, int format, int n, int d) {
    std::uniform_real_distribution<float> u(-3.0f, 5.0f);
    std::vector<float> c(size_t(n) * size_t(d), 0.0f);
    for (int i = 0; i < n; ++i) {
        float* v = &c[size_t(i) * size_t(d)];
        if (format == 12 || format == 14) {
            v[0] = v[4] = v[8] = u(rng);
        } else if (format == 13 || format == 15) {
            v[0] = u(rng), v[4] = u(rng), v[8] = u(rng);
        } else if (format == 8 || format == 9) {
            float len = 0;
            for (int j = 0; j < 4; ++j)
                v[j] = u(rng), len += v[j] * v[j];
            for (int j = 0; j < 4; ++j)
                v[j] /= std::sqrt(len);
        } else {
            for (int j = 0; j < d; ++j)
                v[j] = u(rng);
        }
    }
    return c;
}

std::vector<float> RandomKnots(std::mt19937& rng, int n) {
    std::uniform_real_distribution<float> step(0.01f, 0.2f);
    std::vector<float> k(static_cast<size_t>(n));
    float t = 0;
    for (int i = 0; i < n; ++i)
        k[size_t(i)] = t, t += step(rng);
    return k;
}

int QuantisedMax(int format) {
    switch (format) {
        case 6:
        case 10:
        case 12:
        case 13:
            return 65535;
        case 7:
        case 11:
        case 14:
        case 15:
            return 255;
        case 8:
            return 32767;
        case 9:
            return 127;
        default:
            return 0;
    }
}

TEST(CurveFormats, EveryFormatRoundTripsWithinHalfAQuantisationStep) {
    // Bounds: float formats are exact. Quantised knots lie within half a step of the
    // truncated knot scale (0.5 / s', s' within 2^-7 of N / L). Quantised controls lie within
    // half a step, (max - min) / N / 2 per component. Quaternions: the three stored components
    // within half a table step (entry 0 at worst: sqrt 2 / N / 2), the recomputed one within
    // five such steps (its square root magnifies at most 2 sqrt(3) times when it is the
    // largest, at least 1/2).
    std::mt19937 rng(7);
    for (int format = 0; format < 16; ++format) {
        for (int round = 0; round < 20; ++round) {
            SCOPED_TRACE(testing::Message() << "format " << format << " round " << round);
            const int d = kDimensions[format];
            int n = std::uniform_int_distribution<int>(2, 40)(rng);
            if (format >= 2 && format <= 5) n = 1;
            if (format == 2) n = 0;
            std::vector<float> knots = RandomKnots(rng, std::max(n, 1));
            std::vector<float> controls = RandomControls(rng, format, std::max(n, 1), d);
            // Keyframes carry no knots, which only degree 0 allows.
            const int degree = format == 0 ? 0 : 2;
            CurvePtr curve =
                Build(format, degree, d, n, format == 0 ? nullptr : knots.data(), controls.data());
            ASSERT_TRUE(curve);
            ASSERT_EQ(OrvaneCurveGetKnotCount(curve.get()), format == 2 ? 0 : n);
            ASSERT_EQ(OrvaneCurveGetDimension(curve.get()), format == 2 ? 0 : d);
            ASSERT_EQ(OrvaneCurveGetDegree(curve.get()), degree);
            ASSERT_TRUE(OrvaneCurveFormatIsInitializedCorrectly(curve.get()));
            if (format == 2) {
                float v[5];
                OrvaneCurveExtractKnotValues(curve.get(), 0, 1, nullptr, v,
                                             OrvaneCurveIdentityShear);
                for (float x : v)
                    EXPECT_EQ(x, 0.0f);
                continue;
            }
            std::vector<float> outKnots(size_t(n), -1.0f), outControls(size_t(n * d));
            OrvaneCurveExtractKnotValues(curve.get(), 0, n, outKnots.data(), outControls.data(),
                                         nullptr);
            const int N = QuantisedMax(format);
            const float last = knots[size_t(n - 1)];
            for (int i = 0; i < n && format != 0; ++i) {
                const float bound = N == 0 || (format >= 3 && format <= 5)
                                        ? 0.0f
                                        : 0.5f * last /
                                                  float(format == 8   ? 65535
                                                        : format == 9 ? 255
                                                                      : N) *
                                                  1.01f +
                                              1e-6f;
                if (format >= 3 && format <= 5)
                    EXPECT_EQ(outKnots[size_t(i)], 0.0f);
                else
                    EXPECT_NEAR(outKnots[size_t(i)], knots[size_t(i)], bound);
            }
            for (int j = 0; j < d; ++j) {
                float lo = 1e30f, hi = -1e30f, mag = 0;
                for (int i = 0; i < n; ++i) {
                    const float v = controls[size_t(i * d + j)];
                    lo = std::min(lo, v), hi = std::max(hi, v), mag = std::max(mag, std::fabs(v));
                }
                float bound = 0.0f;
                if (format == 8 || format == 9)
                    bound = 5.0f * 0.5f * 1.4142135f / float(N) + 1e-6f;
                else if (N != 0)
                    bound = 0.5f * (hi - lo) / float(N) * 1.001f + 2e-6f * (1.0f + mag);
                for (int i = 0; i < n; ++i)
                    EXPECT_NEAR(outControls[size_t(i * d + j)], controls[size_t(i * d + j)], bound)
                        << "knot " << i << " component " << j;
            }
        }
    }
}

TEST(CurveFormats, KnotScaleTruncationAndTiesToEven) {
    const float knots[3] = {0.0f, 0.5f, 1.0f};
    const float controls[3] = {1.0f, 2.0f, 3.0f};
    CurvePtr c16 = Build(6, 1, 1, 3, knots, controls);
    auto* r16 = Data<orvane_curve_data_da_k16u_c16u>(c16);
    EXPECT_EQ(r16->OneOverKnotScaleTrunc, 0x477F);  // 65535.0 truncated to 65280.0
    ASSERT_EQ(r16->KnotControlCount, 6);
    EXPECT_EQ(r16->KnotsControls[0], 0);
    EXPECT_EQ(r16->KnotsControls[1], 32640);
    EXPECT_EQ(r16->KnotsControls[2], 65280);
    float decoded[3];
    OrvaneCurveExtractKnotValues(c16.get(), 0, 3, decoded, nullptr, nullptr);
    EXPECT_EQ(decoded[0], 0.0f);
    EXPECT_EQ(decoded[1], 0.5f);
    EXPECT_EQ(decoded[2], 1.0f);

    CurvePtr c8 = Build(7, 1, 1, 3, knots, controls);
    auto* r8 = Data<orvane_curve_data_da_k8u_c8u>(c8);
    EXPECT_EQ(r8->OneOverKnotScaleTrunc, 0x437F);  // 255.0 is exact
    EXPECT_EQ(r8->KnotsControls[0], 0);
    EXPECT_EQ(r8->KnotsControls[1], 128);  // 127.5 ties to even
    EXPECT_EQ(r8->KnotsControls[2], 255);
}

TEST(CurveFormats, ConstantComponentStoresUnitScaleAndItsValue) {
    const float knots[3] = {0, 1, 2};
    const float controls[9] = {4, 1, -2, 4, 2, -2, 4, 3, -2};
    CurvePtr c = Build(10, 1, 3, 3, knots, controls);
    auto* r = Data<orvane_curve_data_d3_k16u_c16u>(c);
    EXPECT_EQ(r->ControlScales[0], 1.0f);
    EXPECT_EQ(r->ControlOffsets[0], 4.0f);
    EXPECT_EQ(r->ControlScales[2], 1.0f);
    EXPECT_EQ(r->ControlOffsets[2], -2.0f);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(r->KnotsControls[3 + 3 * i], 0);
        EXPECT_EQ(r->KnotsControls[3 + 3 * i + 2], 0);
    }
    EXPECT_EQ(r->KnotsControls[3 + 1], 0);
    EXPECT_EQ(r->KnotsControls[3 + 3 * 2 + 1], 65535);
}

TEST(CurveFormats, QuaternionIdentityDropsW) {
    const float knots[1] = {0};
    const float q[4] = {0, 0, 0, 1};
    for (int format : {8, 9}) {
        CurvePtr c = Build(format, 0, 4, 1, knots, q);
        ASSERT_TRUE(c);
        const uint32_t flag = format == 8 ? 0x8000u : 0x80u;
        uint32_t w[3];
        uint16_t entries;
        if (format == 8) {
            auto* r = Data<orvane_curve_data_d4n_k16u_c15u>(c);
            for (int k = 0; k < 3; ++k)
                w[k] = r->KnotsControls[1 + k];
            entries = r->ScaleOffsetTableEntries;
        } else {
            auto* r = Data<orvane_curve_data_d4n_k8u_c7u>(c);
            for (int k = 0; k < 3; ++k)
                w[k] = r->KnotsControls[1 + k];
            entries = r->ScaleOffsetTableEntries;
        }
        EXPECT_EQ(w[0], 0u);  // x = 0 through entry 7 (offset 0), sign clear
        EXPECT_EQ(w[1], flag);
        EXPECT_EQ(w[2], flag);
        EXPECT_EQ(entries, 0x0777);  // x, y, z entry 7; w dropped everywhere: entry 0
        float out[4];
        OrvaneCurveExtractKnotValue(c.get(), 0, out, nullptr);
        EXPECT_EQ(out[0], 0.0f);
        EXPECT_EQ(out[1], 0.0f);
        EXPECT_EQ(out[2], 0.0f);
        EXPECT_EQ(out[3], 1.0f);
    }
}

TEST(CurveFormats, NegativeLargestQuaternionComponentKeepsItsSign) {
    const float knots[2] = {0, 1};
    const float q[8] = {0.1f, -0.9f, 0.2f, 0.3f, 0.2f, -0.8f, -0.1f, 0.4f};
    CurvePtr c = Build(8, 1, 4, 2, knots, q);
    auto* r = Data<orvane_curve_data_d4n_k16u_c15u>(c);
    // Dropped index 1: w1's top bit clear, w2's set; w0's top bit marks the negative value.
    EXPECT_TRUE(r->KnotsControls[2] & 0x8000);
    EXPECT_FALSE(r->KnotsControls[3] & 0x8000);
    EXPECT_TRUE(r->KnotsControls[4] & 0x8000);
    float out[8];
    OrvaneCurveExtractKnotValues(c.get(), 0, 2, nullptr, out, nullptr);
    for (int i = 0; i < 2; ++i) {
        float len = 0;
        for (int j = 0; j < 4; ++j)
            len += q[4 * i + j] * q[4 * i + j];
        for (int j = 0; j < 4; ++j)
            EXPECT_NEAR(out[4 * i + j], q[4 * i + j] / std::sqrt(len), 1e-4f);
    }
    EXPECT_LT(out[1], 0.0f);
}

TEST(CurveFormats, CorruptQuaternionWordsDecodeToRealValues) {
    // Every stored value at its maximum through entry 0: the three squares exceed one.
    uint16_t words[4] = {0, 0x7FFF, 0x7FFF, 0x7FFF};
    orvane_curve_data_d4n_k16u_c15u r = {};
    r.CurveDataHeader.Format = 8;
    r.OneOverKnotScale = 1.0f;
    r.KnotControlCount = 4;
    r.KnotsControls = words;
    orvane_curve2 c = {{OrvaneCurveDataD4nK16uC15uType, &r}};
    float out[4];
    OrvaneCurveExtractKnotValue(&c, 0, out, nullptr);
    for (float v : out)
        EXPECT_FALSE(std::isnan(v));
}

// The swizzled curve decodes to the transform of the original's decoded values.
TEST(CurveFormats, SwizzleMatchesDecodeTransformAndReencode) {
    std::mt19937 rng(11);
    for (int format = 0; format < 16; ++format) {
        if (format == 2) continue;
        SCOPED_TRACE(testing::Message() << "format " << format);
        const int d = kDimensions[format];
        const int n = (format >= 3 && format <= 5) ? 1 : 12;
        std::vector<float> knots = RandomKnots(rng, n);
        std::vector<float> controls = RandomControls(rng, format, n, d);
        CurvePtr curve = Build(format, 1, d, n, knots.data(), controls.data());
        std::vector<float> before(size_t(n * d)), after(size_t(n * d));
        OrvaneCurveExtractKnotValues(curve.get(), 0, n, nullptr, before.data(), nullptr);

        float scales[16], offsets[16];
        int32_t swizzles[16];
        for (int j = 0; j < d; ++j)
            swizzles[j] = d - 1 - j;  // a reversal
        for (int j = 0; j < d; ++j)
            scales[j] = j % 2 ? -1.5f : 2.0f, offsets[j] = 0.25f * j;
        if (format == 8 || format == 9) {
            const int32_t perm[4] = {2, 0, 3, 1};
            for (int j = 0; j < 4; ++j)
                swizzles[j] = perm[j], offsets[j] = 0, scales[j] = j == 1 ? -1.0f : 1.0f;
        }
        if (format == 13 || format == 15) {
            for (int j = 0; j < 9; ++j)
                swizzles[j] = j;
            swizzles[0] = 8, swizzles[8] = 0, swizzles[4] = 1;  // position 4 takes a zero
        }
        OrvaneCurveScaleOffsetSwizzle(curve.get(), d, scales, offsets, swizzles);
        OrvaneCurveExtractKnotValues(curve.get(), 0, n, nullptr, after.data(), nullptr);
        for (int i = 0; i < n; ++i) {
            const float* b = &before[size_t(i * d)];
            const float* a = &after[size_t(i * d)];
            for (int j = 0; j < d; ++j) {
                float expected;
                if (format == 12 || format == 14) {
                    if (j % 4 != 0) continue;
                    expected = scales[0] * b[0] + offsets[0];
                } else if (format == 13 || format == 15) {
                    if (j % 4 != 0) continue;
                    const int s = swizzles[j];
                    expected = scales[j] * (s % 4 == 0 ? b[s] : 0.0f) + offsets[j];
                } else {
                    expected = scales[j] * b[swizzles[j]] + offsets[j];
                }
                EXPECT_NEAR(a[j], expected, 1e-5f * (1.0f + std::fabs(expected)))
                    << "knot " << i << " component " << j;
            }
        }
    }
}

TEST(CurveFormats, NegatingWFlipsTheQuaternionSign) {
    const float knots[3] = {0, 1, 2};
    const float q[12] = {0, 0, 0, 1, 0.6f, 0, 0, 0.8f, 0, 0.8f, 0, -0.6f};
    const float scales[4] = {1, 1, 1, -1}, offsets[4] = {};
    const int32_t swizzles[4] = {0, 1, 2, 3};
    for (int format : {8, 9}) {
        CurvePtr c = Build(format, 1, 4, 3, knots, q);
        float before[12], after[12];
        OrvaneCurveExtractKnotValues(c.get(), 0, 3, nullptr, before, nullptr);
        OrvaneCurveScaleOffsetSwizzle(c.get(), 4, scales, offsets, swizzles);
        OrvaneCurveExtractKnotValues(c.get(), 0, 3, nullptr, after, nullptr);
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j)
                EXPECT_EQ(after[4 * i + j], before[4 * i + j]);
            EXPECT_EQ(after[4 * i + 3], -before[4 * i + 3]);
        }
    }
}

TEST(CurveFormats, SwizzleRejectsOutOfRangeSwizzles) {
    const float knots[2] = {0, 1};
    const float controls[6] = {1, 2, 3, 4, 5, 6};
    CurvePtr c = Build(10, 1, 3, 2, knots, controls);
    const float scales[3] = {1, 1, 1}, offsets[3] = {};
    const int32_t swizzles[3] = {0, 7, 1};
    LogCapture log;
    OrvaneCurveScaleOffsetSwizzle(c.get(), 3, scales, offsets, swizzles);
    EXPECT_EQ(log.errors(), 1u);
    float out[3];
    OrvaneCurveExtractKnotValue(c.get(), 1, out, nullptr);
    EXPECT_NEAR(out[1], 5.0f, 1e-4f);
}

TEST(CurveKnots, SearchFindsTheNextKnotAndStaysInsideTheCurve) {
    const float knots[4] = {0, 0.25f, 0.5f, 1.0f};
    const float controls[4] = {0, 1, 2, 3};
    for (int format : {1, 6, 7}) {
        SCOPED_TRACE(format);
        CurvePtr c = Build(format, 1, 1, 4, knots, controls);
        // 8-bit knots store 0.25 as 64 / 255: search at the decoded knot times.
        float k[4];
        OrvaneCurveExtractKnotValues(c.get(), 0, 4, k, nullptr, nullptr);
        if (format == 7) {
            EXPECT_EQ(OrvaneCurveFindKnot(c.get(), k[1] + 1e-4f), 2);
            EXPECT_EQ(OrvaneCurveFindKnot(c.get(), k[2] - 1e-3f), 2);
        } else {
            EXPECT_EQ(k[1], 0.25f);
        }
        EXPECT_EQ(OrvaneCurveFindKnot(c.get(), 0.0f), 1);
        if (format != 7) {
            EXPECT_EQ(OrvaneCurveFindKnot(c.get(), 0.25f), 2);
        }
        EXPECT_EQ(OrvaneCurveFindKnot(c.get(), 0.3f), 2);
        EXPECT_EQ(OrvaneCurveFindKnot(c.get(), 1.0f), 3);
        EXPECT_EQ(OrvaneCurveFindKnot(c.get(), 50.0f), 3);  // no wrap past the stored width
        EXPECT_EQ(OrvaneCurveFindKnot(c.get(), -1.0f), 0);
        EXPECT_EQ(OrvaneCurveFindCloseKnot(c.get(), 0.3f, 0), 2);
        for (float t :
             {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
              -std::numeric_limits<float>::infinity()}) {
            const int32_t k = OrvaneCurveFindKnot(c.get(), t);
            EXPECT_GE(k, 0);
            EXPECT_LT(k, 4);
        }
    }
}

TEST(CurvePredicates, FloatCurvesClassifyByTheirCounts) {
    orvane_curve_data_da_k32f_c32f data = {};
    orvane_curve2 c;
    float values[6] = {1, 2, 3, 4, 5, 6};
    OrvaneCurveMakeStaticDaK32fC32f(&c, &data, 0, 0, 0, nullptr, nullptr);
    EXPECT_TRUE(OrvaneCurveIsIdentity(&c));
    EXPECT_TRUE(OrvaneCurveIsConstantOrIdentity(&c));
    EXPECT_FALSE(OrvaneCurveIsConstantNotIdentity(&c));
    EXPECT_FALSE(OrvaneCurveIsKeyframed(&c));

    OrvaneCurveMakeStaticDaK32fC32f(&c, &data, 1, 0, 3, values, values);
    EXPECT_TRUE(OrvaneCurveIsConstantNotIdentity(&c));
    EXPECT_EQ(OrvaneCurveGetDimension(&c), 3);
    EXPECT_TRUE(OrvaneCurveIsTypeDaK32fC32f(&c));
    EXPECT_EQ(OrvaneCurveGetContentsOfDaK32fC32f(&c), &data);

    // No knots but controls: keyframed, and every knot-wise query must survive the missing
    // divisor.
    data.KnotCount = 0;
    data.ControlCount = 6;
    EXPECT_TRUE(OrvaneCurveIsKeyframed(&c));
    EXPECT_EQ(OrvaneCurveGetDimension(&c), 0);
    EXPECT_EQ(OrvaneCurveGetKnotCount(&c), 0);
    EXPECT_EQ(OrvaneCurveFindKnot(&c, 0.5f), 0);
    EXPECT_EQ(OrvaneGetResultingDaK32fC32fCurveSize(&c),
              int32_t(sizeof(orvane_curve2) + sizeof(orvane_curve_data_da_k32f_c32f)));
    float out[3] = {};
    LogCapture log;
    OrvaneEvaluateCurveAtT(3, false, false, &c, false, 1.0f, 0.5f, out, nullptr);
    EXPECT_EQ(log.errors(), 1u);  // dimension mismatch, nothing read

    orvane_curve_data_da_identity identity = {{2, 0}, 3};
    orvane_curve2 ic = {{OrvaneCurveDataDaIdentityType, &identity}};
    EXPECT_TRUE(OrvaneCurveIsIdentity(&ic));
    EXPECT_EQ(OrvaneCurveGetDimension(&ic), 0);  // although Dimension is 3
}

TEST(CurvePredicates, FormatsPastTheTableAreRejectedEverywhere) {
    for (int format : {16, 200, 255}) {
        orvane_curve_data_da_k32f_c32f data = {};
        data.CurveDataHeader.Format = uint8_t(format);
        orvane_curve2 c = {{OrvaneCurveDataDaK32fC32fType, &data}};
        LogCapture log;
        EXPECT_FALSE(OrvaneCurveFormatIsInitializedCorrectly(&c));
        EXPECT_FALSE(OrvaneCurveIsIdentity(&c));
        EXPECT_FALSE(OrvaneCurveIsConstantOrIdentity(&c));
        EXPECT_FALSE(OrvaneCurveIsKeyframed(&c));
        EXPECT_EQ(OrvaneCurveGetKnotCount(&c), 0);
        EXPECT_EQ(OrvaneCurveGetDimension(&c), 0);
        EXPECT_EQ(OrvaneCurveFindKnot(&c, 1.0f), 0);
        float out[9];
        OrvaneCurveExtractKnotValues(&c, 0, 1, out, out, nullptr);
        OrvaneEvaluateCurveAtT(3, false, false, &c, false, 1.0f, 0.5f, out, nullptr);
        EXPECT_EQ(OrvaneBeginCurveCopy(&c), nullptr);
        EXPECT_EQ(OrvaneCurveConvertToDaK32fC32f(&c, nullptr), nullptr);
        EXPECT_GE(log.errors(), 6u);
        EXPECT_TRUE(log.Contains("is out of range [0, 16)"));

        OrvaneCurveInitializeFormat(&c);  // recognition restores the real format
        EXPECT_EQ(data.CurveDataHeader.Format, 1);
        EXPECT_TRUE(OrvaneCurveFormatIsInitializedCorrectly(&c));
    }
}

TEST(CurvePredicates, UnknownDescriptionsInitialiseTo255) {
    orvane_data_type_definition other[] = {
        {OrvaneInt32Member, "Something", nullptr, 0, {0, 0, 0}, 0},
        {OrvaneEndMember, nullptr, nullptr, 0, {0, 0, 0}, 0}};
    orvane_curve_data_header header = {1, 0};
    orvane_curve2 c = {{other, &header}};
    OrvaneCurveInitializeFormat(&c);
    EXPECT_EQ(header.Format, 255);
    EXPECT_FALSE(OrvaneCurveFormatIsInitializedCorrectly(&c));
}

TEST(CurveBuilder, ReportsEachFailureAndFreesOwnedBuilders) {
    orvane_data_type_definition other[] = {
        {OrvaneInt32Member, "Something", nullptr, 0, {0, 0, 0}, 0},
        {OrvaneEndMember, nullptr, nullptr, 0, {0, 0, 0}, 0}};
    LogCapture log;
    // A copy of a curve whose data type is no format fails the way a type of no format does:
    // the builder carries the fault to End, which reports it and frees the builder.
    int32_t data = 0;
    const orvane_curve2 strange = {{other, &data}};
    orvane_curve_builder* b = OrvaneBeginCurveCopy(&strange);
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(
        log.Contains("Invalid format specified for a orvane_curve2 - creating this curve "
                     "will fail"));
    log.Clear();
    EXPECT_EQ(OrvaneEndCurve(b), nullptr);
    EXPECT_TRUE(log.Contains("Invalid format specified for a orvane_curve2 - returning NULL"));

    log.Clear();
    b = OrvaneBeginCurve(OrvaneCurveDataD3K16uC16uType, 1, 3, 4);
    EXPECT_EQ(OrvaneEndCurve(b), nullptr);
    EXPECT_TRUE(
        log.Contains("Need either a source curve to copy, or both knot and control "
                     "arrays - returning NULL"));

    log.Clear();
    const float controls[12] = {};
    b = OrvaneBeginCurve(OrvaneCurveDataD3K16uC16uType, 1, 3, 4);
    OrvanePushCurveControlArray(b, controls);
    EXPECT_EQ(OrvaneEndCurve(b), nullptr);
    EXPECT_TRUE(log.Contains("Unknown curve type - returning NULL"));

    log.Clear();
    EXPECT_EQ(OrvaneEndCurve(nullptr), nullptr);
    EXPECT_TRUE(log.Contains("Invalid curve_builder address - returning NULL"));

    log.Clear();
    b = OrvaneBeginCurve(OrvaneCurveDataD3K16uC16uType, 1, 3, 1);
    orvane_curve2 target = {{OrvaneCurveDataD3K16uC16uType, &target}};
    EXPECT_EQ(OrvaneEndCurveDataInPlace(b, &target, nullptr), nullptr);
    EXPECT_EQ(target.CurveData.Object, nullptr);  // cleared first
    EXPECT_TRUE(log.Contains("Out of memory or invalid address for curve - returning NULL"));

    log.Clear();
    EXPECT_EQ(OrvaneBeginCurve(OrvaneCurveDataD3K16uC16uType, 1, 3, -5), nullptr);
    EXPECT_EQ(OrvaneBeginCurve(OrvaneCurveDataD3K16uC16uType, 7, 3, 5), nullptr);
    EXPECT_EQ(OrvaneBeginCurve(OrvaneCurveDataDaK16uC16uType, 1, 30000, 0x7FFFFFF), nullptr);
    EXPECT_EQ(log.errors(), 3u);
}

int LiveBlocks() {
    int count = 0;
    for (orvane_allocation_header* h = OrvaneAllocationsBegin(); h != OrvaneAllocationsEnd();
         h = OrvaneNextAllocation(h))
        ++count;
    return count;
}

// A type that is none of the formats still gives a builder: its sizes are 0 and every End
// refuses it, freeing the builder.
TEST(CurveBuilder, ATypeOfNoFormatFailsAtTheEnd) {
    orvane_data_type_definition other[] = {
        {OrvaneInt32Member, "Something", nullptr, 0, {0, 0, 0}, 0},
        {OrvaneEndMember, nullptr, nullptr, 0, {0, 0, 0}, 0}};
    const float knots[2] = {0, 1};
    const float controls[6] = {1, 2, 3, 4, 5, 6};
    const int before = LiveBlocks();
    for (orvane_data_type_definition* type :
         {other, static_cast<orvane_data_type_definition*>(nullptr)}) {
        LogCapture log;
        orvane_curve_builder* b = OrvaneBeginCurve(type, 1, 3, 2);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(log.errors(), 1u);
        EXPECT_TRUE(
            log.Contains("Invalid format specified for a orvane_curve2 - creating this "
                         "curve will fail"));
        OrvanePushCurveKnotArray(b, knots);
        OrvanePushCurveControlArray(b, controls);
        log.Clear();
        EXPECT_EQ(OrvaneGetResultingCurveSize(b), 0);
        EXPECT_EQ(OrvaneGetResultingCurveDataSize(b), 0);
        EXPECT_EQ(log.errors(), 2u);
        EXPECT_TRUE(
            log.Contains("Invalid format specified for a orvane_curve2 - returning size of 0"));
        log.Clear();
        EXPECT_EQ(OrvaneEndCurve(b), nullptr);
        EXPECT_EQ(log.errors(), 1u);
        EXPECT_TRUE(log.Contains("Invalid format specified for a orvane_curve2 - returning NULL"));
        EXPECT_EQ(LiveBlocks(), before);

        // In place: the given curve is cleared and the builder freed.
        b = OrvaneBeginCurve(type, 1, 3, 2);
        ASSERT_NE(b, nullptr);
        uint32_t memory[64];
        orvane_curve2 target = {{OrvaneCurveDataD3K16uC16uType, &target}};
        log.Clear();
        EXPECT_EQ(OrvaneEndCurveDataInPlace(b, &target, memory), nullptr);
        EXPECT_EQ(target.CurveData.Object, nullptr);
        EXPECT_TRUE(log.Contains("Invalid format specified for a orvane_curve2 - returning NULL"));
        EXPECT_EQ(LiveBlocks(), before);

        OrvaneAbortCurveBuilder(OrvaneBeginCurve(type, 0, 1, 1));
        EXPECT_EQ(LiveBlocks(), before);
    }
}

TEST(CurveBuilder, SetAllKnotValuesChecksBeforeChanging) {
    const float knots[2] = {0, 1};
    const float controls[6] = {1, 2, 3, 4, 5, 6};
    CurvePtr c = Build(1, 1, 3, 2, knots, controls);
    const float other[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    LogCapture log;
    OrvaneCurveSetAllKnotValues(c.get(), 2, 4, other, other);
    EXPECT_TRUE(log.Contains("Curve and argument dimensions do not match"));
    OrvaneCurveSetAllKnotValues(c.get(), 3, 3, other, other);
    EXPECT_TRUE(log.Contains("Curve and argument knot counts do not match"));
    auto* r = Data<orvane_curve_data_da_k32f_c32f>(c);
    EXPECT_EQ(r->Controls[5], 6.0f);
    OrvaneCurveSetAllKnotValues(c.get(), 2, 3, other, other);
    EXPECT_EQ(r->Controls[5], 9.0f);
}

TEST(CurveBuilder, CopiesInPlaceAndConvertsToFloats) {
    std::mt19937 rng(3);
    for (int format = 0; format < 16; ++format) {
        SCOPED_TRACE(format);
        const int d = kDimensions[format];
        const int n = format == 2 ? 0 : (format >= 3 && format <= 5) ? 1 : 9;
        std::vector<float> knots = RandomKnots(rng, std::max(n, 1));
        std::vector<float> controls = RandomControls(rng, format, std::max(n, 1), d);
        const int degree = format == 0 ? 0 : 3;
        CurvePtr source =
            Build(format, degree, d, n, format == 0 ? nullptr : knots.data(), controls.data());
        ASSERT_TRUE(source);

        orvane_curve_builder* b = OrvaneBeginCurveCopy(source.get());
        const int32_t dataSize = OrvaneGetResultingCurveDataSize(b);
        std::vector<uint32_t> memory(size_t(dataSize) / 4 + 1);
        orvane_curve2 copy;
        ASSERT_EQ(OrvaneEndCurveDataInPlace(b, &copy, memory.data()), &copy);
        EXPECT_EQ(OrvaneCurveGetKnotCount(&copy), OrvaneCurveGetKnotCount(source.get()));
        EXPECT_EQ(OrvaneCurveGetDegree(&copy), degree);
        const int count = std::max(n, 1);
        std::vector<float> a(static_cast<size_t>(count * d)), c = a, ka(static_cast<size_t>(count)),
                                                              kc = ka;
        if (format != 2) {
            OrvaneCurveExtractKnotValues(source.get(), 0, count, ka.data(), a.data(), nullptr);
            OrvaneCurveExtractKnotValues(&copy, 0, count, kc.data(), c.data(), nullptr);
            EXPECT_EQ(a, c);
            if (format != 0) {
                EXPECT_EQ(ka, kc);
            }
        }

        CurvePtr plain(OrvaneCurveConvertToDaK32fC32f(source.get(), OrvaneCurveIdentityShear));
        ASSERT_TRUE(plain);
        EXPECT_EQ(OrvaneGetResultingDaK32fC32fCurveSize(source.get()),
                  int32_t(sizeof(orvane_curve2) + sizeof(orvane_curve_data_da_k32f_c32f)) +
                      4 * n * (OrvaneCurveGetDimension(source.get()) + 1));
        EXPECT_TRUE(OrvaneCurveIsTypeDaK32fC32f(plain.get()));
        EXPECT_EQ(OrvaneCurveGetDegree(plain.get()), degree);
        EXPECT_EQ(OrvaneCurveIsIdentity(plain.get()), format == 2);
        if (format != 2 && format != 0) {
            auto* r = Data<orvane_curve_data_da_k32f_c32f>(plain);
            EXPECT_EQ(std::vector<float>(r->Knots, r->Knots + n),
                      std::vector<float>(ka.begin(), ka.begin() + n));
            EXPECT_EQ(std::vector<float>(r->Controls, r->Controls + n * d), a);
        }
    }
}

}  // namespace

namespace {

TEST(CurvePredicates, RecognitionComparesDescriptionsNotAddresses) {
    // A file's own copy of a description (same layout and names) is recognised; a copy with a
    // renamed member is not.
    std::vector<orvane_data_type_definition> copy(OrvaneCurveDataD3K8uC8uType,
                                                  OrvaneCurveDataD3K8uC8uType + 6);
    orvane_curve_data_header header = {0, 1};
    orvane_curve2 c = {{copy.data(), &header}};
    OrvaneCurveInitializeFormat(&c);
    EXPECT_EQ(header.Format, 11);
    EXPECT_TRUE(OrvaneCurveFormatIsInitializedCorrectly(&c));
    copy[2].Name = "Scales";
    OrvaneCurveInitializeFormat(&c);
    EXPECT_EQ(header.Format, 255);
}

}  // namespace

namespace {

TEST(CurveBuilder, BuildersInCallerStorageAreLeftAlone) {
    const float knots[3] = {0, 0.5f, 1};
    const float controls[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    orvane_curve_builder builder;
    ASSERT_TRUE(orvane::InitializeCurveBuilder(&builder, OrvaneCurveDataD3K8uC8uType, 2, 3, 3));
    builder.Knots = knots;
    builder.Controls = controls;
    const int32_t size = OrvaneGetResultingCurveDataSize(&builder);
    EXPECT_EQ(size, int32_t(sizeof(orvane_curve_data_d3_k8u_c8u)) + 12);
    std::vector<uint32_t> memory(size_t(size) / 4 + 1);
    orvane_curve2 curve;
    LogCapture log;
    ASSERT_EQ(OrvaneEndCurveDataInPlace(&builder, &curve, memory.data()), &curve);
    EXPECT_EQ(curve.CurveData.Object, memory.data());
    EXPECT_TRUE(log.messages().empty());  // no attempt to free the caller's storage
    EXPECT_EQ(builder.FormatIndex, OrvaneCurveFormatD3K8uC8u);
    float out[3];
    EXPECT_EQ(OrvaneCurveExtractKnotValue(&curve, 2, out, nullptr), 1.0f);
    EXPECT_NEAR(out[2], 9.0f, 0.5f * 6.0f / 255.0f + 1e-5f);
}

}  // namespace

namespace {

// Identity and constant curves hold one value for all time: a range of any length yields it
// for every knot asked for, and only a single knot asked of an identity gets a knot value.
TEST(CurveKnots, IdentitiesAndConstantsGiveTheirValueForEveryKnotAskedFor) {
    orvane_curve_data_da_identity identity = {{OrvaneCurveFormatDaIdentity, 0}, 3};
    orvane_curve2 ic = {{OrvaneCurveDataDaIdentityType, &identity}};
    LogCapture log;
    float knots[3] = {-7, -7, -7};
    float controls[9] = {};
    OrvaneCurveExtractKnotValues(&ic, 0, 3, knots, controls, OrvaneCurveIdentityScale);
    for (float k : knots)
        EXPECT_EQ(k, -7.0f);  // no knot value unless exactly one knot is asked for
    for (float c : controls)
        EXPECT_EQ(c, 1.0f);
    OrvaneCurveExtractKnotValues(&ic, 0, 1, knots, controls, OrvaneCurveIdentityNormal);
    EXPECT_EQ(knots[0], 0.0f);
    EXPECT_EQ(controls[0], 0.0f);
    EXPECT_EQ(controls[2], 1.0f);

    orvane_curve_data_d4_constant32f constant = {
        {OrvaneCurveFormatD4Constant32f, 1}, 0, {0.5f, -1, 2, 4}};
    orvane_curve2 cc = {{OrvaneCurveDataD4Constant32fType, &constant}};
    float ck[2] = {-7, -7};
    float cv[8] = {};
    OrvaneCurveExtractKnotValues(&cc, 0, 2, ck, cv, nullptr);
    EXPECT_EQ(ck[0], 0.0f);
    EXPECT_EQ(ck[1], 0.0f);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(cv[4 * i + 0], 0.5f);
        EXPECT_EQ(cv[4 * i + 1], -1.0f);
        EXPECT_EQ(cv[4 * i + 2], 2.0f);
        EXPECT_EQ(cv[4 * i + 3], 4.0f);
    }
    EXPECT_EQ(log.errors(), 0u);
}

}  // namespace

namespace {

// Quaternion curves take only the signs of the scales, and uniform 3x3 scales only the first
// scale and offset: the arrays those curves do not read may be left out.
TEST(CurveFormats, SwizzleArraysACurveDoesNotReadMayBeNull) {
    const float knots[2] = {0, 1};
    const float q[8] = {0, 0, 0, 1, 0.6f, 0, 0, 0.8f};
    const float flipW[4] = {1, 1, 1, -1};
    const int32_t identity[4] = {0, 1, 2, 3};
    LogCapture log;
    CurvePtr quaternion = Build(8, 1, 4, 2, knots, q);
    OrvaneCurveScaleOffsetSwizzle(quaternion.get(), 4, flipW, nullptr, identity);
    float out[8];
    OrvaneCurveExtractKnotValues(quaternion.get(), 0, 2, nullptr, out, nullptr);
    EXPECT_EQ(out[3], -1.0f);
    EXPECT_NEAR(out[7], -0.8f, 1e-4f);
    EXPECT_NEAR(out[4], 0.6f, 1e-4f);

    float scale[18] = {};
    scale[0] = scale[4] = scale[8] = 2.0f;
    scale[9] = scale[13] = scale[17] = 4.0f;
    CurvePtr uniform = Build(12, 1, 9, 2, knots, scale);
    const float scales[9] = {0.5f, 1, 1, 1, 1, 1, 1, 1, 1};
    const float offsets[9] = {1, 0, 0, 0, 0, 0, 0, 0, 0};
    OrvaneCurveScaleOffsetSwizzle(uniform.get(), 9, scales, offsets, nullptr);
    float m[18];
    OrvaneCurveExtractKnotValues(uniform.get(), 0, 2, nullptr, m, nullptr);
    EXPECT_NEAR(m[0], 2.0f, 1e-4f);  // 0.5 * 2 + 1
    EXPECT_NEAR(m[8], 2.0f, 1e-4f);
    EXPECT_NEAR(m[9], 3.0f, 1e-4f);  // 0.5 * 4 + 1
    EXPECT_EQ(m[1], 0.0f);
    EXPECT_EQ(log.errors(), 0u);
}

}  // namespace

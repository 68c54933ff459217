// Matrix and quaternion utilities, against Eigen in double precision.
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "math/orvane_math_internal.h"
#include "math_test_support.h"

using namespace orvane_test;

namespace {

constexpr int kRandomCases = 400;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::array<float, 16> RandomMatrix4(Random& random) {
    std::array<float, 16> m;
    for (float& f : m)
        f = random.Uniform(-3.0f, 3.0f);
    return m;
}

Mat3 RowMajor(const std::array<float, 9>& m) {
    return FromRowMajor3(m.data());
}

// ---------------------------------------------------------------------------------------------

TEST(MatrixProducts, ColumnMatrixMultiply4x4IsTheRowMajorProduct) {
    Random random(101);
    for (int n = 0; n < kRandomCases; ++n) {
        auto a = RandomMatrix4(random), b = RandomMatrix4(random);
        float r[16];
        OrvaneColumnMatrixMultiply4x4(r, a.data(), b.data());
        Eigen::Matrix4d expected = Eigen::Map<const RowMajor4>(a.data()).cast<double>() *
                                   Eigen::Map<const RowMajor4>(b.data()).cast<double>();
        // Tolerance: 1e-6 of the largest possible sum (4 * 3 * 3).
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 4; ++j)
                EXPECT_NEAR(r[4 * i + j], expected(i, j), 36e-6);
        }
        // In place on either side.
        auto aa = a, bb = b;
        OrvaneColumnMatrixMultiply4x4(aa.data(), aa.data(), b.data());
        OrvaneColumnMatrixMultiply4x4(bb.data(), a.data(), bb.data());
        EXPECT_EQ(0, std::memcmp(aa.data(), r, 64));
        EXPECT_EQ(0, std::memcmp(bb.data(), r, 64));
    }
}

TEST(MatrixProducts, TranslateThenRotate) {
    const float translate[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1};
    orvane_transform quarter;
    const float p[3] = {0, 0, 0}, q[4] = {0, 0, float(std::sqrt(0.5)), float(std::sqrt(0.5))},
                s[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    OrvaneSetTransform(&quarter, p, q, s);
    float rotate[16], r[16];
    OrvaneBuildCompositeTransform4x4(&quarter, rotate);
    OrvaneColumnMatrixMultiply4x4(r, translate, rotate);
    EXPECT_NEAR(r[12], -2.0f, 1e-6);
    EXPECT_NEAR(r[13], 1.0f, 1e-6);
    EXPECT_NEAR(r[14], 3.0f, 1e-6);
    OrvaneColumnMatrixMultiply4x3(r, translate, rotate);
    EXPECT_NEAR(r[12], -2.0f, 1e-6);
    EXPECT_NEAR(r[13], 1.0f, 1e-6);
}

TEST(MatrixProducts, ColumnMatrixMultiply4x3IsTheAffineProduct) {
    Random random(102);
    for (int n = 0; n < kRandomCases; ++n) {
        auto a = RandomMatrix4(random), b = RandomMatrix4(random);
        for (int i : {3, 7, 11, 15}) {
            a[i] = kNaN;  // never read
            b[i] = kNaN;
        }
        float r[16];
        OrvaneColumnMatrixMultiply4x3(r, a.data(), b.data());
        // As Eigen affine transforms (column vectors): apply A, then B.
        Eigen::Affine3d ta, tb;
        ta.matrix() = FromColumns4(a.data());
        tb.matrix() = FromColumns4(b.data());
        ta.makeAffine();
        tb.makeAffine();
        Eigen::Matrix4d expected = (tb * ta).matrix();
        EXPECT_LE(MaxAbs(FromColumns4(r) - expected), 36e-6) << n;
        EXPECT_EQ(r[3], 0.0f);
        EXPECT_EQ(r[7], 0.0f);
        EXPECT_EQ(r[11], 0.0f);
        EXPECT_EQ(r[15], 1.0f);
        auto aa = a, bb = b;
        OrvaneColumnMatrixMultiply4x3(aa.data(), aa.data(), b.data());
        OrvaneColumnMatrixMultiply4x3(bb.data(), a.data(), bb.data());
        EXPECT_EQ(0, std::memcmp(aa.data(), r, 64));
        EXPECT_EQ(0, std::memcmp(bb.data(), r, 64));
    }
}

TEST(MatrixProducts, ThreeByThreeProducts) {
    Random random(103);
    for (int n = 0; n < kRandomCases; ++n) {
        auto a = random.ScaleShear(), b = random.ScaleShear();
        float r[9], t[9];
        orvane::Multiply3x3(r, a.data(), b.data());
        orvane::TransposeMultiply3x3(t, a.data(), b.data());
        // Tolerance: 1e-6 relative to the entries of |A| |B|.
        double tol = 1e-6 * (1 + MaxAbs(RowMajor(a).cwiseAbs() * RowMajor(b).cwiseAbs()));
        EXPECT_LE(MaxAbs(FromRowMajor3(r) - RowMajor(a) * RowMajor(b)), tol);
        EXPECT_LE(MaxAbs(FromRowMajor3(t) - RowMajor(a).transpose() * RowMajor(b)), tol);
        orvane::Multiply3x3(a.data(), a.data(), b.data());  // in place
        EXPECT_EQ(0, std::memcmp(a.data(), r, 36));
    }
}

// ---------------------------------------------------------------------------------------------

TEST(MatrixInverse, Invert3x3MatchesEigen) {
    Random random(111);
    for (int n = 0; n < kRandomCases; ++n) {
        auto s = random.ScaleShear();
        float r[9];
        ASSERT_TRUE(orvane::Invert3x3(r, s.data()));
        Mat3 expected = RowMajor(s).inverse();
        // Tolerance: 1e-6 times the condition number, relative to the inverse's entries.
        double tol = 1e-6 * Condition(RowMajor(s)) * (1 + MaxAbs(expected));
        EXPECT_LE(MaxAbs(FromRowMajor3(r) - expected), tol) << n;
        orvane::Invert3x3(s.data(), s.data());  // in place
        EXPECT_EQ(0, std::memcmp(s.data(), r, 36));
    }
}

TEST(MatrixInverse, SingularGivesZeroAndFalse) {
    const float rank2[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};  // determinant exactly 0 in floats
    float r[9];
    for (float& f : r)
        f = kNaN;
    EXPECT_FALSE(orvane::Invert3x3(r, rank2));
    for (float f : r)
        EXPECT_EQ(f, 0.0f);

    float m[16] = {1, 2, 3, kNaN, 4, 5, 6, kNaN, 7, 8, 9, kNaN, 1, 1, 1, kNaN}, d[16];
    for (float& f : d)
        f = kNaN;
    EXPECT_FALSE(orvane::InvertAffine4x4(d, m));
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(d[i], 0.0f) << i;
    EXPECT_EQ(d[15], 1.0f);
}

TEST(MatrixInverse, InvertAffine4x4MatchesEigen) {
    Random random(112);
    for (int n = 0; n < kRandomCases; ++n) {
        orvane_transform t = random.Transform();
        float m[16], d[16];
        OrvaneBuildCompositeTransform4x4(&t, m);
        m[3] = m[7] = m[11] = m[15] = kNaN;  // not read
        ASSERT_TRUE(orvane::InvertAffine4x4(d, m));
        Mat4 expected = MatrixOf(t).inverse();
        double cond = Condition(MatrixOf(t).topLeftCorner<3, 3>());
        EXPECT_LE(MaxAbs(FromColumns4(d) - expected), 1e-6 * cond * (1 + MaxAbs(expected))) << n;
        EXPECT_EQ(d[3], 0.0f);
        EXPECT_EQ(d[15], 1.0f);
    }
}

// ---------------------------------------------------------------------------------------------

TEST(Quaternions, MatrixOfQuaternionMatchesEigen) {
    Random random(121);
    for (int n = 0; n < kRandomCases; ++n) {
        auto q = random.UnitQuaternion();
        float m[9];
        OrvaneMatrixEqualsQuaternion3x3(m, q.data());
        EXPECT_LE(MaxAbs(FromRowMajor3(m) - FromQuaternion(q.data()).toRotationMatrix()), 1e-6);
        // Not normalised: R(k q) = I + k^2 (R(q) - I).
        const float k = 2.0f;
        const float kq[4] = {k * q[0], k * q[1], k * q[2], k * q[3]};
        float mk[9];
        OrvaneMatrixEqualsQuaternion3x3(mk, kq);
        Mat3 expected = Mat3::Identity() + k * k * (FromRowMajor3(m) - Mat3::Identity());
        EXPECT_LE(MaxAbs(FromRowMajor3(mk) - expected), 1e-5);
    }
}

TEST(Quaternions, QuaternionOfMatrixRoundTripsIncludingHalfTurns) {
    Random random(122);
    std::vector<std::array<float, 4>> cases;
    for (int n = 0; n < kRandomCases; ++n)
        cases.push_back(random.UnitQuaternion());
    const float h = float(std::sqrt(0.5));
    for (auto q : {std::array<float, 4>{1, 0, 0, 0},
                   {0, 1, 0, 0},
                   {0, 0, 1, 0},
                   {h, h, 0, 0},
                   {0, h, h, 0},
                   {h, 0, -h, 0},
                   {0, 0, 0, 1},
                   {0, 0, 0, -1}}) {
        cases.push_back(q);
    }
    for (const auto& q : cases) {
        float m[9], r[4];
        OrvaneMatrixEqualsQuaternion3x3(m, q.data());
        OrvaneQuaternionEqualsMatrix3x3(r, m);
        double dot = 0;
        for (int i = 0; i < 4; ++i)
            dot += double(r[i]) * q[i];
        double sign = dot < 0 ? -1 : 1;
        // Tolerance: 1e-5 per component (the branches divide by s >= 1).
        for (int i = 0; i < 4; ++i) {
            EXPECT_NEAR(r[i], sign * q[i], 1e-5)
                << q[0] << " " << q[1] << " " << q[2] << " " << q[3];
        }
        // And Eigen's conversion of the same matrix agrees up to sign.
        Eigen::Quaterniond e(FromRowMajor3(m));
        EXPECT_NEAR(std::fabs(e.coeffs().dot(Eigen::Vector4d(r[0], r[1], r[2], r[3]))), 1.0, 1e-5);
    }
}

TEST(Quaternions, ProductsAndRotationMatchEigen) {
    Random random(123);
    for (int n = 0; n < kRandomCases; ++n) {
        auto a = random.UnitQuaternion(), b = random.UnitQuaternion();
        auto v = random.Vector(4.0f);
        Eigen::Quaterniond ea = FromQuaternion(a.data()), eb = FromQuaternion(b.data());
        float r[4], c[4], rv[3];
        orvane::QuaternionMultiply(r, a.data(), b.data());
        orvane::ConjugateMultiply(c, a.data(), b.data());
        Eigen::Vector4d product = (ea * eb).coeffs();  // x, y, z, w
        Eigen::Vector4d conjugate = (ea.conjugate() * eb).coeffs();
        for (int i = 0; i < 4; ++i) {
            EXPECT_NEAR(r[i], product[i], 1e-6);
            EXPECT_NEAR(c[i], conjugate[i], 1e-6);
        }
        orvane::RotateVector(rv, a.data(), v.data());
        Vec3 expected = ea * Vec3(v[0], v[1], v[2]);
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(rv[i], expected[i], 4e-6 * 4);
    }
}

TEST(Quaternions, RotationVectorBetween) {
    Random random(124);
    for (int n = 0; n < kRandomCases; ++n) {
        auto a = random.UnitQuaternion(), b = random.UnitQuaternion();
        float r[3];
        orvane::RotationVectorBetween(r, a.data(), b.data());
        Eigen::Quaterniond d = FromQuaternion(a.data()).conjugate() * FromQuaternion(b.data());
        // Eigen's angle-axis takes the short way; the library keeps the sign of d.w, so
        // compare with the reference built from d itself.
        double s = d.vec().norm();
        double angle = 2 * std::atan2(s, d.w());
        Vec3 expected = s > 0 ? Vec3(d.vec() * (angle / s)) : Vec3::Zero();
        ExpectNear(r, expected, 3, 1e-4);
        if (d.w() >= 0 && s > 1e-3) {
            Eigen::AngleAxisd aa(d);
            Vec3 e = aa.axis() * aa.angle();
            for (int i = 0; i < 3; ++i)
                EXPECT_NEAR(r[i], e[i], 1e-4);
        }
    }
    const float identity[4] = {0, 0, 0, 1}, minusIdentity[4] = {0, 0, 0, -1};
    float r[3];
    orvane::RotationVectorBetween(r, identity, identity);
    for (float f : r)
        EXPECT_EQ(f, 0.0f);
    orvane::RotationVectorBetween(r, identity, minusIdentity);
    for (float f : r)
        EXPECT_EQ(f, 0.0f);  // no vector part: zero, not NaN
    // A negative w gives an angle above pi (no shortest path).
    const float turned[4] = {0, 0, std::sin(2.0f), std::cos(2.0f)};  // 4 rad about z
    orvane::RotationVectorBetween(r, identity, turned);
    EXPECT_NEAR(r[2], 4.0f, 1e-5);
}

TEST(Quaternions, Continuity) {
    float q[12] = {0, 0, 0, 1, 0, 0, 0, -1, 0, 0, 0, 1};
    OrvaneEnsureQuaternionContinuity(3, q);
    for (int n = 0; n < 3; ++n) {
        EXPECT_EQ(q[4 * n + 3], 1.0f);
    }
    Random random(125);
    std::vector<float> sequence, original;
    for (int n = 0; n < 200; ++n) {
        auto u = random.UnitQuaternion();
        sequence.insert(sequence.end(), u.begin(), u.end());
    }
    sequence[0] = -std::fabs(sequence[0]);
    original = sequence;
    OrvaneEnsureQuaternionContinuity(200, sequence.data());
    EXPECT_EQ(0, std::memcmp(sequence.data(), original.data(), 16));  // the first stays
    for (int n = 1; n < 200; ++n) {
        const float* p = &sequence[4 * (n - 1)];
        const float* c = &sequence[4 * n];
        EXPECT_GE(p[0] * c[0] + p[1] * c[1] + p[2] * c[2] + p[3] * c[3], 0.0f);
        bool same = std::memcmp(c, &original[4 * n], 16) == 0;
        bool negated = c[0] == -original[4 * n] && c[3] == -original[4 * n + 3];
        EXPECT_TRUE(same || negated);
    }
    OrvaneEnsureQuaternionContinuity(0, nullptr);
    OrvaneEnsureQuaternionContinuity(-1, nullptr);
}

// ---------------------------------------------------------------------------------------------

// Reference polar factor: for M = U S V^T, Q = U V^T, of Source or of Source * diag(1, 1, -1)
// when the determinant is negative (the library's convention).
Mat3 ReferenceRotation(const Mat3& source) {
    Mat3 m = source;
    if (m.determinant() < 0) m.col(2) = -m.col(2);
    Eigen::JacobiSVD<Mat3> svd(m, Eigen::ComputeFullU | Eigen::ComputeFullV);
    return svd.matrixU() * svd.matrixV().transpose();
}

TEST(PolarDecomposition, DiagonalCases) {
    float q[9], s[9];
    const float scale[9] = {2, 0, 0, 0, 3, 0, 0, 0, 4};
    EXPECT_TRUE(OrvanePolarDecompose(scale, 1e-6f, q, s));
    for (int i = 0; i < 9; ++i) {
        EXPECT_NEAR(q[i], orvane::kIdentityScaleShear[i], 1e-6);
        EXPECT_NEAR(s[i], scale[i], 1e-6);
    }
    const float mirror[9] = {1, 0, 0, 0, 1, 0, 0, 0, -1};
    EXPECT_TRUE(OrvanePolarDecompose(mirror, 1e-6f, q, s));
    for (int i = 0; i < 9; ++i) {
        EXPECT_NEAR(q[i], orvane::kIdentityScaleShear[i], 1e-6);
        EXPECT_NEAR(s[i], mirror[i], 1e-6);
    }
}

TEST(PolarDecomposition, MatchesTheSvdPolarFactor) {
    Random random(131);
    for (int n = 0; n < kRandomCases; ++n) {
        orvane_transform t = random.Transform();
        float m[9];
        OrvaneBuildCompositeTransform(&t, 3, m);  // columns of R S: the transpose, still fine
        Mat3 source = FromRowMajor3(m);
        float q[9], s[9];
        ASSERT_TRUE(OrvanePolarDecompose(m, 1e-5f, q, s)) << n;
        Mat3 eq = FromRowMajor3(q), es = FromRowMajor3(s);
        // Tolerance: 1e-5 times the condition number for the factor, 1e-5 relative for the
        // reconstruction.
        double cond = Condition(source);
        EXPECT_LE(MaxAbs(eq - ReferenceRotation(source)), 1e-5 * cond) << n << " cond " << cond;
        EXPECT_LE(MaxAbs(eq.transpose() * eq - Mat3::Identity()), 1e-5 * cond);
        EXPECT_GT(eq.determinant(), 0.0);
        EXPECT_LE(MaxAbs(eq * es - source), 1e-5 * (1 + MaxAbs(source)) * cond);
    }
}

TEST(PolarDecomposition, SingularSourceGivesIdentityAndFalse) {
    const float flat[9] = {1, 2, 0, 3, 4, 0, 5, 6, 0};
    float q[9], s[9];
    for (float& f : q)
        f = kNaN;
    for (float& f : s)
        f = kNaN;
    EXPECT_FALSE(OrvanePolarDecompose(flat, 1e-5f, q, s));
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(q[i], orvane::kIdentityScaleShear[i]);
        EXPECT_EQ(s[i], flat[i]);  // Source = Q S still holds
    }
    const float zero[9] = {};
    EXPECT_FALSE(OrvanePolarDecompose(zero, 1e-5f, q, s));
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(s[i], 0.0f);
}

TEST(PolarDecomposition, UnreachableToleranceReportsFalse) {
    const float m[9] = {2, 1, 0, 0, 3, 0, 1, 0, 4};
    float q[9], s[9];
    EXPECT_FALSE(OrvanePolarDecompose(m, 0.0f, q, s));  // the distance never goes below 0
    for (float f : q)
        EXPECT_TRUE(std::isfinite(f));
}

// ---------------------------------------------------------------------------------------------

TEST(SimilarityInPlace, IdentityBasisKeepsAnyQuaternion) {
    const float id[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    Random random(141);
    for (int n = 0; n < 100; ++n) {
        auto u = random.UnitQuaternion();
        float k = random.Uniform(0.1f, 5.0f);
        float q[4] = {k * u[0], k * u[1], k * u[2], k * u[3]};
        float before[4];
        std::memcpy(before, q, 16);
        OrvaneInPlaceSimilarityTransformOrientation(id, id, q);
        double sign = q[0] * before[0] + q[1] * before[1] + q[2] * before[2] + q[3] * before[3];
        for (int i = 0; i < 4; ++i) {
            EXPECT_NEAR(q[i], (sign < 0 ? -1 : 1) * before[i], 1e-5 * k);
        }
    }
}

TEST(SimilarityInPlace, IdentityBasisKeepsTheQuaternionsSign) {
    // Negative w and half turns (w = 0) included: the quaternion comes back as it was, not
    // negated.
    const float id[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    Random random(143);
    for (int n = 0; n < kRandomCases; ++n) {
        auto u = random.UnitQuaternion();
        float k = random.Uniform(0.1f, 5.0f);
        float q[4] = {k * u[0], k * u[1], k * u[2], k * u[3]};
        float before[4];
        std::memcpy(before, q, 16);
        OrvaneInPlaceSimilarityTransformOrientation(id, id, q);
        for (int i = 0; i < 4; ++i)
            EXPECT_NEAR(q[i], before[i], 1e-5 * k) << "case " << n << " element " << i;
    }
    float halfTurn[4] = {-2.0f, 0.0f, 0.0f, 0.0f};
    OrvaneInPlaceSimilarityTransformOrientation(id, id, halfTurn);
    EXPECT_NEAR(halfTurn[0], -2.0f, 1e-6);
    float negative[4] = {0.0f, 0.0f, 0.0f, -1.0f};
    OrvaneInPlaceSimilarityTransformOrientation(id, id, negative);
    EXPECT_NEAR(negative[3], -1.0f, 1e-6);
}

TEST(SimilarityInPlace, RotatedBasisConjugatesTheQuaternion) {
    // For a rotation L = R(l) the new quaternion is l q l^-1 (its w unchanged), whatever the
    // sign of w.
    Random random(144);
    for (int n = 0; n < kRandomCases; ++n) {
        auto lq = random.UnitQuaternion();
        float l[9], li[9];
        OrvaneMatrixEqualsQuaternion3x3(l, lq.data());
        const float lc[4] = {-lq[0], -lq[1], -lq[2], lq[3]};
        OrvaneMatrixEqualsQuaternion3x3(li, lc);
        auto u = random.UnitQuaternion();
        if (std::fabs(u[3]) < 1e-3f) continue;  // the sign of a half turn is a tie
        const float k = random.Uniform(0.5f, 2.0f);
        float q[4] = {k * u[0], k * u[1], k * u[2], k * u[3]};
        Eigen::Quaterniond expected = FromQuaternion(lq.data()) * FromQuaternion(u.data()) *
                                      FromQuaternion(lq.data()).conjugate();
        OrvaneInPlaceSimilarityTransformOrientation(l, li, q);
        const double want[4] = {k * expected.x(), k * expected.y(), k * expected.z(),
                                k * expected.w()};
        ExpectNear(q, want, 4, 2e-5 * k);
    }
}

TEST(SimilarityInPlace, TurnPastAHalfTurnStaysContinuous) {
    // Controls of a turn about z to 330 degrees, sign-continuous, moved to a basis turned a
    // quarter about x: the results stay sign-continuous (no control is negated on its own).
    const float s = std::sqrt(0.5f);
    const float lq[4] = {s, 0.0f, 0.0f, s};
    const float lc[4] = {-s, 0.0f, 0.0f, s};
    float l[9], li[9];
    OrvaneMatrixEqualsQuaternion3x3(l, lq);
    OrvaneMatrixEqualsQuaternion3x3(li, lc);
    float previous[4] = {0, 0, 0, 0};
    for (int k = 0; k < 12; ++k) {
        const float half = 0.5f * float(k) * 30.0f * 3.14159265f / 180.0f;
        float q[4] = {0.0f, 0.0f, std::sin(half), std::cos(half)};
        OrvaneInPlaceSimilarityTransformOrientation(l, li, q);
        // z goes to -y under a quarter turn about x; w is kept.
        EXPECT_NEAR(q[1], -std::sin(half), 1e-5) << "control " << k;
        EXPECT_NEAR(q[3], std::cos(half), 1e-5) << "control " << k;
        if (k > 0) {
            const float dot =
                q[0] * previous[0] + q[1] * previous[1] + q[2] * previous[2] + q[3] * previous[3];
            EXPECT_GT(dot, 0.0f) << "control " << k;
        }
        std::memcpy(previous, q, sizeof q);
    }
}

TEST(SimilarityInPlace, PositionScaleShearAndAffineMatrix) {
    Random random(142);
    for (int n = 0; n < kRandomCases; ++n) {
        auto lq = random.UnitQuaternion();
        float l[9], li[9];
        OrvaneMatrixEqualsQuaternion3x3(l, lq.data());
        for (int i = 0; i < 3; ++i)
            l[3 * i] *= -2.0f;  // a mirrored, scaled basis
        orvane::Invert3x3(li, l);
        auto a = random.Vector(3.0f);
        Mat3 el = FromRowMajor3(l), eli = FromRowMajor3(li);

        orvane_transform t = random.Transform();
        auto p = std::array<float, 3>{t.Position[0], t.Position[1], t.Position[2]};
        OrvaneInPlaceSimilarityTransformPosition(a.data(), l, p.data());
        Vec3 ep = el * Vec3(t.Position[0], t.Position[1], t.Position[2]) + Vec3(a[0], a[1], a[2]);
        ExpectNear(p.data(), ep, 3, 1e-4);
        float m[16];
        OrvaneBuildCompositeTransform4x4(&t, m);
        m[3] = 7.0f;  // untouched
        Mat4 before = FromColumns4(m);
        OrvaneInPlaceSimilarityTransform4x3(a.data(), l, li, m);
        EXPECT_EQ(m[3], 7.0f);
        EXPECT_EQ(m[15], 1.0f);
        Mat3 block = el * before.topLeftCorner<3, 3>() * eli;
        Vec3 translation = el * before.block<3, 1>(0, 3) + Vec3(a[0], a[1], a[2]);
        Mat4 after = FromColumns4(m);
        double tol = 1e-5 * (1 + MaxAbs(block) + translation.norm());
        EXPECT_LE(MaxAbs(after.topLeftCorner<3, 3>() - block), tol) << n;
        EXPECT_LE((after.block<3, 1>(0, 3) - translation).cwiseAbs().maxCoeff(), tol) << n;

        // The combined form equals the three steps.
        orvane_transform u = t, v = t;
        OrvaneInPlaceSimilarityTransform(a.data(), l, li, u.Position, u.Orientation,
                                         &u.ScaleShear[0][0]);
        OrvaneSimilarityTransform(&v, a.data(), l, li);
        EXPECT_EQ(0, std::memcmp(&u, &v, sizeof(u)));
        EXPECT_EQ(0, std::memcmp(u.Position, p.data(), 12));
    }
}

}  // namespace

// The transform record and its operations, against Eigen in double precision.
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>

#include <gtest/gtest.h>

#include "math/orvane_math_internal.h"
#include "math_test_support.h"

using namespace orvane_test;

namespace {

constexpr int kRandomCases = 400;

orvane_transform Make(std::array<float, 3> p, std::array<float, 4> q, std::array<float, 9> s) {
    orvane_transform t;
    OrvaneSetTransform(&t, p.data(), q.data(), s.data());
    return t;
}

void FillWithGarbage(void* p, size_t n) {
    std::memset(p, 0xFF, n);
}  // NaN in every float

bool AllFinite(const orvane_transform& t) {
    const float* f = t.Position;
    for (int i = 0; i < 16; ++i) {
        if (!std::isfinite(f[i])) return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------

TEST(TransformRecord, IdentityCheckSumsDistancesAndKeepsValues) {
    const float q[4] = {0, 0, 0, 1};
    const float s[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    orvane_transform t;
    const float small[3] = {0.0009f, 0, 0};
    OrvaneSetTransformWithIdentityCheck(&t, small, q, s);
    EXPECT_EQ(t.Flags, 0u);
    EXPECT_EQ(t.Position[0], 0.0009f);  // not snapped to zero
    const float spread[3] = {0.0006f, 0.0006f, 0};
    OrvaneSetTransformWithIdentityCheck(&t, spread, q, s);
    EXPECT_EQ(t.Flags, unsigned(OrvaneTransformHasPosition));

    const float negated[4] = {0, 0, 0, -1};
    OrvaneSetTransformWithIdentityCheck(&t, small, negated, s);
    EXPECT_EQ(t.Flags, unsigned(OrvaneTransformHasOrientation));
    const float nearQ[4] = {0.00004f, 0, 0.00004f, 1.00003f};  // L1 0.00011
    OrvaneSetTransformWithIdentityCheck(&t, small, nearQ, s);
    EXPECT_EQ(t.Flags, unsigned(OrvaneTransformHasOrientation));
    const float nearQ2[4] = {0.00002f, 0, 0.00002f, 1.00002f};
    OrvaneSetTransformWithIdentityCheck(&t, small, nearQ2, s);
    EXPECT_EQ(t.Flags, 0u);

    float s2[9];
    std::memcpy(s2, s, sizeof(s));
    s2[4] = 1.0005f;
    s2[5] = 0.0006f;  // L1 0.0011
    OrvaneSetTransformWithIdentityCheck(&t, small, q, s2);
    EXPECT_EQ(t.Flags, unsigned(OrvaneTransformHasScaleShear));
    s2[5] = 0.0f;
    OrvaneSetTransformWithIdentityCheck(&t, small, q, s2);
    EXPECT_EQ(t.Flags, 0u);
    EXPECT_EQ(t.ScaleShear[1][1], 1.0005f);

    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float nanPosition[3] = {nan, 0, 0};
    const float nanQ[4] = {0, nan, 0, 1};
    float nanS[9];
    std::memcpy(nanS, s, sizeof(s));
    nanS[8] = nan;
    OrvaneSetTransformWithIdentityCheck(&t, nanPosition, nanQ, nanS);
    EXPECT_EQ(t.Flags, 7u);

    OrvaneSetTransform(&t, orvane::kIdentityPosition, q, s);
    EXPECT_EQ(t.Flags, 7u);  // unconditional
}

TEST(TransformRecord, IdentityAndZero) {
    orvane_transform t;
    FillWithGarbage(&t, sizeof(t));
    OrvaneMakeIdentity(&t);
    EXPECT_EQ(t.Flags, 0u);
    EXPECT_EQ(0, std::memcmp(t.Orientation, orvane::kIdentityOrientation, 16));
    EXPECT_EQ(0, std::memcmp(t.ScaleShear, orvane::kIdentityScaleShear, 36));
    EXPECT_EQ(0, std::memcmp(t.Position, orvane::kIdentityPosition, 12));
    OrvaneZeroTransform(&t);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&t);
    for (size_t i = 0; i < sizeof(t); ++i)
        ASSERT_EQ(bytes[i], 0) << i;  // w is 0 too
}

// ---------------------------------------------------------------------------------------------

TEST(TransformRecord, DeterminantOfScaleShearAlone) {
    Random random(11);
    for (int n = 0; n < kRandomCases; ++n) {
        orvane_transform t = random.Transform();
        Mat3 s = FromRowMajor3(&t.ScaleShear[0][0]);
        // Tolerance: 1e-6 of the product of the row norms (Hadamard's bound on |det|).
        double bound = s.row(0).norm() * s.row(1).norm() * s.row(2).norm();
        EXPECT_NEAR(OrvaneGetTransformDeterminant(&t), s.determinant(), 1e-6 * bound);
    }
}

TEST(TransformRecord, VectorAndPointTransforms) {
    Random random(12);
    for (int n = 0; n < kRandomCases; ++n) {
        orvane_transform t = random.Transform();
        auto v = random.Vector(5.0f);
        Mat4 m = MatrixOf(t);
        Vec3 vd(v[0], v[1], v[2]);
        Vec3 linear = m.topLeftCorner<3, 3>() * vd;
        Vec3 point = linear + m.topRightCorner<3, 1>();
        Vec3 transposed = m.topLeftCorner<3, 3>().transpose() * vd;
        // Tolerance: 1e-5 relative to the magnitudes involved.
        double tol = 1e-5 * (1.0 + MaxAbs(m) * vd.norm());
        float d[3], in[3];
        OrvaneTransformVector(d, &t, v.data());
        ExpectNear(d, linear, 3, tol);
        OrvaneTransformPoint(d, &t, v.data());
        ExpectNear(d, point, 3, tol);
        std::memcpy(in, v.data(), 12);
        OrvaneTransformVectorInPlace(in, &t);
        ExpectNear(in, linear, 3, tol);
        std::memcpy(in, v.data(), 12);
        OrvaneTransformPointInPlace(in, &t);
        ExpectNear(in, point, 3, tol);
        std::memcpy(in, v.data(), 12);
        OrvaneTransformVectorInPlaceTransposed(in, &t);
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(in[i], transposed[i], tol);
    }
}

TEST(TransformRecord, TransposedUndoesAnOrthonormalLinearPart) {
    Random random(13);
    for (int n = 0; n < 100; ++n) {
        auto q = random.UnitQuaternion();
        auto o = random.UnitQuaternion();
        float s[9];
        OrvaneMatrixEqualsQuaternion3x3(s, o.data());  // orthonormal scale/shear
        orvane_transform t =
            Make(random.Vector(3.0f), q, {s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[8]});
        auto v = random.Vector(5.0f);
        float d[3] = {v[0], v[1], v[2]};
        OrvaneTransformVectorInPlaceTransposed(d, &t);
        OrvaneTransformVectorInPlace(d, &t);
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(d[i], v[i], 1e-5);
    }
}

// ---------------------------------------------------------------------------------------------

TEST(TransformProduct, MatchesTheProductOfTheAffineMaps) {
    Random random(21);
    for (int n = 0; n < kRandomCases; ++n) {
        orvane_transform a = random.Transform(), b = random.Transform(), r;
        OrvaneMultiply(&r, &a, &b);
        Mat4 expected = MatrixOf(a) * MatrixOf(b);
        // Tolerance: 1e-5 relative to the largest entry of the factors' product.
        double tol = 1e-5 * (1.0 + MaxAbs(MatrixOf(a).cwiseAbs() * MatrixOf(b).cwiseAbs()));
        EXPECT_LE(MaxAbs(MatrixOf(r) - expected), tol) << n;
        Eigen::Quaterniond q = FromQuaternion(a.Orientation) * FromQuaternion(b.Orientation);
        EXPECT_NEAR(r.Orientation[0], q.x(), 1e-6);
        EXPECT_NEAR(r.Orientation[1], q.y(), 1e-6);
        EXPECT_NEAR(r.Orientation[2], q.z(), 1e-6);
        EXPECT_NEAR(r.Orientation[3], q.w(), 1e-6);
    }
}

TEST(TransformProduct, OrientationIsThePlainProduct) {
    // Not normalised, sign not changed: two unnormalised half turns about z give w = -4.
    orvane_transform a = Make({0, 0, 0}, {0, 0, 2, 0}, {1, 0, 0, 0, 1, 0, 0, 0, 1}), r;
    OrvaneMultiply(&r, &a, &a);
    EXPECT_EQ(r.Orientation[3], -4.0f);
    EXPECT_EQ(r.Orientation[2], 0.0f);
}

TEST(TransformProduct, FlagsAreCombined) {
    orvane_transform i, r;
    OrvaneMakeIdentity(&i);
    OrvaneMultiply(&r, &i, &i);
    EXPECT_EQ(r.Flags, 0u);
    EXPECT_EQ(0, std::memcmp(&r, &i, sizeof(r)));
    orvane_transform p = i, os = i;
    p.Flags = 1;
    p.Position[1] = 2.0f;
    os.Flags = 6;
    OrvaneMultiply(&r, &p, &os);
    EXPECT_EQ(r.Flags, 7u);
}

TEST(TransformProduct, AliasedAndPrePostForms) {
    Random random(22);
    for (int n = 0; n < 50; ++n) {
        orvane_transform a = random.Transform(), b = random.Transform(), expected, t;
        OrvaneMultiply(&expected, &a, &b);
        t = a;
        OrvaneMultiply(&t, &t, &b);
        EXPECT_EQ(0, std::memcmp(&t, &expected, sizeof(t)));
        t = b;
        OrvaneMultiply(&t, &a, &t);
        EXPECT_EQ(0, std::memcmp(&t, &expected, sizeof(t)));
        t = b;
        OrvanePreMultiplyBy(&t, &a);
        EXPECT_EQ(0, std::memcmp(&t, &expected, sizeof(t)));
        t = a;
        OrvanePostMultiplyBy(&t, &b);
        EXPECT_EQ(0, std::memcmp(&t, &expected, sizeof(t)));
    }
}

// ---------------------------------------------------------------------------------------------

TEST(TransformInverse, InvertsTheAffineMap) {
    Random random(31);
    for (int n = 0; n < kRandomCases; ++n) {
        orvane_transform t = random.Transform(), inverse, product;
        OrvaneBuildInverse(&inverse, &t);
        Mat4 m = MatrixOf(t);
        // Tolerance: 1e-6 times the condition number, relative to the inverse's entries.
        double cond = Condition(m.topLeftCorner<3, 3>());
        Mat4 expected = m.inverse();
        EXPECT_LE(MaxAbs(MatrixOf(inverse) - expected), 1e-6 * cond * (1.0 + MaxAbs(expected)))
            << n << " cond " << cond;
        // Conjugate orientation, exactly.
        EXPECT_EQ(inverse.Orientation[0], -t.Orientation[0]);
        EXPECT_EQ(inverse.Orientation[3], t.Orientation[3]);

        OrvaneMultiply(&product, &t, &inverse);
        double tol = 1e-6 * cond * (1.0 + MaxAbs(m)) * (1.0 + MaxAbs(expected));
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(product.Position[i], 0.0, tol);
        double w = product.Orientation[3] < 0 ? -1.0 : 1.0;
        for (int i = 0; i < 4; ++i) {
            EXPECT_NEAR(product.Orientation[i], w * orvane::kIdentityOrientation[i], 1e-6);
        }
        ExpectNear((&product.ScaleShear[0][0]), orvane::kIdentityScaleShear, 9, tol);
    }
}

TEST(TransformInverse, FlagsAreRecomputed) {
    orvane_transform t = Make({0, 0, 0}, {0, 0, 0, 1}, {1, 0, 0, 0, 1, 0, 0, 0, 1}), inverse;
    EXPECT_EQ(t.Flags, 7u);
    OrvaneBuildInverse(&inverse, &t);
    EXPECT_EQ(inverse.Flags, 0u);
    t = Make({1, 0, 0}, {0, 0, 0, 1}, {2, 0, 0, 0, 1, 0, 0, 0, 1});
    OrvaneBuildInverse(&inverse, &t);
    EXPECT_EQ(inverse.Flags, unsigned(OrvaneTransformHasPosition | OrvaneTransformHasScaleShear));
    EXPECT_FLOAT_EQ(inverse.Position[0], -0.5f);
    EXPECT_FLOAT_EQ(inverse.ScaleShear[0][0], 0.5f);
}

TEST(TransformInverse, SingularScaleShearGivesTheDocumentedZeroInverse) {
    // A bone scaled flat: no inverse exists. The result must be defined (zero scale/shear,
    // zero position, the conjugate orientation), not whatever the memory held.
    const float q[4] = {0.6f, 0.0f, 0.0f, 0.8f};
    for (const auto& s :
         {std::array<float, 9>{0, 0, 0, 0, 1, 0, 0, 0, 1},
          std::array<float, 9>{1, 2, 3, 2, 4, 6, 0, 0, 1}, std::array<float, 9>{}}) {
        orvane_transform t = Make({1, 2, 3}, {q[0], q[1], q[2], q[3]}, s), inverse;
        ASSERT_EQ(OrvaneGetTransformDeterminant(&t), 0.0f);
        FillWithGarbage(&inverse, sizeof(inverse));
        OrvaneBuildInverse(&inverse, &t);
        ASSERT_TRUE(AllFinite(inverse));
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(inverse.Position[i], 0.0f);
        for (int i = 0; i < 9; ++i)
            EXPECT_EQ((&inverse.ScaleShear[0][0])[i], 0.0f);
        EXPECT_EQ(inverse.Orientation[0], -0.6f);
        EXPECT_EQ(inverse.Orientation[3], 0.8f);
        EXPECT_EQ(inverse.Flags,
                  unsigned(OrvaneTransformHasOrientation | OrvaneTransformHasScaleShear));
    }
}

// ---------------------------------------------------------------------------------------------

TEST(TransformBlend, EndsReturnTheInputsWithUnitOrientation) {
    Random random(41);
    for (int n = 0; n < 100; ++n) {
        orvane_transform a = random.Transform(), b = random.Transform(), r;
        for (float& c : a.Orientation)
            c *= 3.0f;  // blending normalises
        OrvaneLinearBlendTransform(&r, &a, 0.0f, &b);
        EXPECT_EQ(r.Flags, 7u);
        EXPECT_EQ(0, std::memcmp(r.Position, a.Position, 12));
        EXPECT_EQ(0, std::memcmp(r.ScaleShear, a.ScaleShear, 36));
        for (int i = 0; i < 4; ++i)
            EXPECT_NEAR(r.Orientation[i], a.Orientation[i] / 3.0f, 1e-6);
        OrvaneLinearBlendTransform(&r, &a, 1.0f, &b);
        EXPECT_EQ(0, std::memcmp(r.Position, b.Position, 12));
        EXPECT_EQ(0, std::memcmp(r.ScaleShear, b.ScaleShear, 36));
        for (int i = 0; i < 4; ++i)
            EXPECT_NEAR(r.Orientation[i], b.Orientation[i], 1e-6);
    }
}

TEST(TransformBlend, ComponentWiseWithoutHemisphereCorrection) {
    orvane_transform a = Make({0, 0, 0}, {0, 0, 0, 1}, {1, 0, 0, 0, 1, 0, 0, 0, 1});
    orvane_transform b = Make({4, 0, -2}, {0, 0, 0.6f, -0.8f}, {3, 0, 0, 0, 1, 1, 0, 0, 1});
    orvane_transform r;
    OrvaneLinearBlendTransform(&r, &a, 0.25f, &b);
    EXPECT_FLOAT_EQ(r.Position[0], 1.0f);
    EXPECT_FLOAT_EQ(r.Position[2], -0.5f);
    EXPECT_FLOAT_EQ(r.ScaleShear[0][0], 1.5f);
    EXPECT_FLOAT_EQ(r.ScaleShear[1][2], 0.25f);
    // (0, 0, 0.15, 0.75 - 0.2) normalised: b's sign is not flipped towards a.
    double len = std::sqrt(0.15 * 0.15 + 0.55 * 0.55);
    EXPECT_NEAR(r.Orientation[2], 0.15 / len, 1e-6);
    EXPECT_NEAR(r.Orientation[3], 0.55 / len, 1e-6);
}

TEST(TransformBlend, ClearFlagsGiveIdentityComponents) {
    orvane_transform a, b, r;
    OrvaneMakeIdentity(&a);
    OrvaneMakeIdentity(&b);
    FillWithGarbage(&r, sizeof(r));
    OrvaneLinearBlendTransform(&r, &a, 0.3f, &b);
    EXPECT_EQ(0, std::memcmp(&r, &a, sizeof(r)));
    // Only the position flag set: orientation and scale/shear are the identity values.
    b.Flags = OrvaneTransformHasPosition;
    b.Position[0] = 10.0f;
    OrvaneLinearBlendTransform(&r, &a, 0.3f, &b);
    EXPECT_EQ(r.Flags, unsigned(OrvaneTransformHasPosition));
    EXPECT_FLOAT_EQ(r.Position[0], 3.0f);
    EXPECT_EQ(0, std::memcmp(r.Orientation, orvane::kIdentityOrientation, 16));
    EXPECT_EQ(0, std::memcmp(r.ScaleShear, orvane::kIdentityScaleShear, 36));
}

TEST(TransformBlend, OppositeOrientationsHalfWayGiveTheIdentity) {
    // q and -q at t = 0.5 sum to zero: dividing by the length would produce NaN.
    orvane_transform a = Make({0, 0, 0}, {0.5f, 0.5f, 0.5f, 0.5f}, {1, 0, 0, 0, 1, 0, 0, 0, 1});
    orvane_transform b = Make({0, 0, 0}, {-0.5f, -0.5f, -0.5f, -0.5f}, {1, 0, 0, 0, 1, 0, 0, 0, 1});
    orvane_transform r;
    OrvaneLinearBlendTransform(&r, &a, 0.5f, &b);
    ASSERT_TRUE(AllFinite(r));
    EXPECT_EQ(0, std::memcmp(r.Orientation, orvane::kIdentityOrientation, 16));
    EXPECT_EQ(r.Flags, 7u);
}

// ---------------------------------------------------------------------------------------------

// A change of basis: a rotation times a uniform scale, optionally mirrored.
struct Basis {
    float linear[9], inverse[9], affine[3];
};
Basis RandomBasis(Random& random, bool mirror) {
    Basis b;
    auto q = random.UnitQuaternion();
    float r[9];
    OrvaneMatrixEqualsQuaternion3x3(r, q.data());
    float k = random.Uniform(0.5f, 3.0f);
    Mat3 l = FromRowMajor3(r) * k;
    if (mirror) l.col(2) = -l.col(2);
    Mat3 li = l.inverse();
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            b.linear[3 * i + j] = float(l(i, j));
            b.inverse[3 * i + j] = float(li(i, j));
        }
    }
    auto a = random.Vector(5.0f);
    std::memcpy(b.affine, a.data(), 12);
    return b;
}

TEST(TransformBasis, SimilarityTransformConjugatesTheLinearPart) {
    Random random(51);
    for (int n = 0; n < kRandomCases; ++n) {
        Basis basis = RandomBasis(random, n % 2 == 1);
        orvane_transform t = random.Transform();
        float length = random.Uniform(0.5f, 2.0f);
        for (float& c : t.Orientation)
            c *= length;
        t.Flags = 5;  // left alone
        orvane_transform before = t;
        OrvaneSimilarityTransform(&t, basis.affine, basis.linear, basis.inverse);
        EXPECT_EQ(t.Flags, 5u);
        Mat3 l = FromRowMajor3(basis.linear), li = FromRowMajor3(basis.inverse);
        Vec3 p = l * Vec3(before.Position[0], before.Position[1], before.Position[2]) +
                 Vec3(basis.affine[0], basis.affine[1], basis.affine[2]);
        ExpectNear(t.Position, p, 3, 1e-4 * (1 + p.norm()));
        Mat3 s = l * FromRowMajor3(&before.ScaleShear[0][0]) * li;
        EXPECT_LE(MaxAbs(FromRowMajor3(&t.ScaleShear[0][0]) - s), 1e-5 * (1 + MaxAbs(s)));
        // The orientation keeps its length and turns into L R L^-1.
        Eigen::Quaterniond q = FromQuaternion(t.Orientation);
        EXPECT_NEAR(q.norm(), length, 1e-5 * length);
        Mat3 r = l * FromQuaternion(before.Orientation).normalized().toRotationMatrix() * li;
        EXPECT_LE(MaxAbs(q.normalized().toRotationMatrix() - r), 1e-5) << n;
    }
}

TEST(TransformBasis, ZeroOrientationStaysZero) {
    orvane_transform t;
    OrvaneZeroTransform(&t);
    Random random(52);
    Basis basis = RandomBasis(random, true);
    OrvaneSimilarityTransform(&t, basis.affine, basis.linear, basis.inverse);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(t.Orientation[i], 0.0f);
    for (int i = 0; i < 3; ++i)
        EXPECT_FLOAT_EQ(t.Position[i], basis.affine[i]);
}

// ---------------------------------------------------------------------------------------------

TEST(TransformComposite, MatricesMatchTheAffineMap) {
    Random random(61);
    for (int n = 0; n < kRandomCases; ++n) {
        orvane_transform t = random.Transform();
        Mat4 expected = MatrixOf(t);
        double tol = 1e-6 * (1.0 + MaxAbs(expected));
        float m4[16], m3[12], c[3 * 7];
        OrvaneBuildCompositeTransform4x4(&t, m4);
        EXPECT_LE(MaxAbs(FromColumns4(m4) - expected), tol) << n;
        EXPECT_EQ(m4[3], 0.0f);
        EXPECT_EQ(m4[7], 0.0f);
        EXPECT_EQ(m4[11], 0.0f);
        EXPECT_EQ(m4[15], 1.0f);
        OrvaneBuildCompositeTransform4x3(&t, m3);
        for (int j = 0; j < 4; ++j) {
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(m3[3 * j + i], m4[4 * j + i]);
        }
        for (float& f : c)
            f = -7.0f;
        OrvaneBuildCompositeTransform(&t, 7, c);
        for (int j = 0; j < 3; ++j) {
            for (int i = 0; i < 3; ++i)
                EXPECT_NEAR(c[7 * j + i], expected(i, j), tol);
            for (int i = 3; i < 7 && 7 * j + i < 21; ++i)
                EXPECT_EQ(c[7 * j + i], -7.0f);
        }
    }
}

TEST(TransformComposite, IdentityTranslationAndClearScaleShearFlag) {
    orvane_transform t;
    OrvaneMakeIdentity(&t);
    float m[16];
    OrvaneBuildCompositeTransform4x4(&t, m);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(m[i], i % 5 == 0 ? 1.0f : 0.0f);
    t.Position[0] = 1.0f;
    t.Position[1] = 2.0f;
    t.Position[2] = 3.0f;
    t.Flags = OrvaneTransformHasPosition;
    OrvaneBuildCompositeTransform4x4(&t, m);
    const float expected[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(m[i], expected[i]);
    // With the flag clear the stored scale/shear is not applied (whatever it holds).
    t.ScaleShear[0][0] = 5.0f;
    OrvaneBuildCompositeTransform4x4(&t, m);
    EXPECT_EQ(m[0], 1.0f);
    t.Flags |= OrvaneTransformHasScaleShear;
    OrvaneBuildCompositeTransform4x4(&t, m);
    EXPECT_EQ(m[0], 5.0f);
    float c[9];
    t.Flags = 0;  // the 3x3 form never consults flags
    OrvaneBuildCompositeTransform(&t, 3, c);
    EXPECT_EQ(c[0], 5.0f);
}

// ---------------------------------------------------------------------------------------------

#if ORVANE_MATH_HAS_SSE
// The SSE kernels perform the scalar operations in the same order; they are required to agree
// within 1e-6 relative to each value's magnitude (in practice they agree to the bit, up to the
// sign of zeros).
void ExpectClose(const float* a, const float* b, int n) {
    for (int i = 0; i < n; ++i) {
        ASSERT_NEAR(a[i], b[i], 1e-6f * std::fmax(1.0f, std::fabs(a[i]))) << "element " << i;
    }
}

TEST(TransformKernels, SseAgreesWithScalar) {
    Random random(71);
    for (int n = 0; n < 2000; ++n) {
        orvane_transform a = random.Transform(), b = random.Transform();
        if (n % 3 == 0) a.Flags = OrvaneTransformHasPosition | OrvaneTransformHasOrientation;
        for (float& c : b.Orientation)
            c *= random.Uniform(0.5f, 2.0f);  // unnormalised too
        orvane_transform rs, rv;
        orvane::scalar::Multiply(rs, a, b);
        orvane::sse::Multiply(rv, a, b);
        EXPECT_EQ(rs.Flags, rv.Flags);
        ExpectClose(rs.Position, rv.Position, 16);

        float ms[16], mv[16];
        orvane::scalar::BuildCompositeTransform4x4(a, ms);
        orvane::sse::BuildCompositeTransform4x4(a, mv);
        ExpectClose(ms, mv, 16);

        float r9s[9], r9v[9];
        orvane::scalar::RotationMatrix(r9s, b.Orientation);
        orvane::sse::RotationMatrix(r9v, b.Orientation);
        ExpectClose(r9s, r9v, 9);

        float qs[4], qv[4];
        orvane::scalar::QuaternionMultiply(qs, a.Orientation, b.Orientation);
        orvane::sse::QuaternionMultiply(qv, a.Orientation, b.Orientation);
        ExpectClose(qs, qv, 4);

        float x[16], y[16], ps[16], pv[16];
        for (float& f : x)
            f = random.Uniform(-3.0f, 3.0f);
        for (float& f : y)
            f = random.Uniform(-3.0f, 3.0f);
        orvane::scalar::ColumnMatrixMultiply4x3(ps, x, y);
        orvane::sse::ColumnMatrixMultiply4x3(pv, x, y);
        ExpectClose(ps, pv, 16);
        orvane::scalar::ColumnMatrixMultiply4x4(ps, x, y);
        orvane::sse::ColumnMatrixMultiply4x4(pv, x, y);
        ExpectClose(ps, pv, 16);
    }
}
#endif

}  // namespace

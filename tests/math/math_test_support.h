// Seeded random inputs and conversions to Eigen (in double precision, the reference).
#ifndef ORVANE_TESTS_MATH_TEST_SUPPORT_H
#define ORVANE_TESTS_MATH_TEST_SUPPORT_H

#include <array>
#include <cmath>
#include <random>

#include <Eigen/Dense>
#include <Eigen/Geometry>
#include <gtest/gtest.h>

#include "orvane/math.h"

namespace orvane_test {

using Mat3 = Eigen::Matrix3d;
using Mat4 = Eigen::Matrix4d;
using Vec3 = Eigen::Vector3d;
using RowMajor3 = Eigen::Matrix<float, 3, 3, Eigen::RowMajor>;
using RowMajor4 = Eigen::Matrix<float, 4, 4, Eigen::RowMajor>;

// A row-major 3x3 as a column-vector matrix.
inline Mat3 FromRowMajor3(const float* m) {
    return Eigen::Map<const RowMajor3>(m).cast<double>();
}
// The library's 4x4 layout (one column per group of four) as a column-vector matrix.
inline Mat4 FromColumns4(const float* m) {
    return Eigen::Map<const Eigen::Matrix4f>(m).cast<double>();
}
inline Eigen::Quaterniond FromQuaternion(const float* q) {
    return Eigen::Quaterniond(q[3], q[0], q[1], q[2]);
}

// The affine map of a transform as a column-vector 4x4: R(q) S v + P.
inline Mat4 MatrixOf(const orvane_transform& t) {
    Mat4 m = Mat4::Identity();
    Eigen::Quaterniond q = FromQuaternion(t.Orientation);
    // R(q) of the unnormalised formula: the normalised rotation only for unit q.
    m.topLeftCorner<3, 3>() = q.toRotationMatrix() * FromRowMajor3(&t.ScaleShear[0][0]);
    m.topRightCorner<3, 1>() = Vec3(t.Position[0], t.Position[1], t.Position[2]);
    return m;
}

// Compares n floats with a reference read by [i] (an array or an Eigen vector).
template <typename Reference>
void ExpectNear(const float* got, const Reference& want, int n, double tol) {
    for (int i = 0; i < n; ++i)
        EXPECT_NEAR(got[i], want[i], tol) << "element " << i;
}

inline double MaxAbs(const Eigen::MatrixXd& m) {
    return m.cwiseAbs().maxCoeff();
}

// Random inputs: unit quaternions (a share of them exact half turns, w = 0), and scale/shear
// matrices that include near-singular ones and negative determinants.
class Random {
public:
    explicit Random(unsigned seed) : engine_(seed) {}

    float Uniform(float lo, float hi) {
        return std::uniform_real_distribution<float>(lo, hi)(engine_);
    }
    int Index(int n) { return std::uniform_int_distribution<int>(0, n - 1)(engine_); }

    std::array<float, 4> UnitQuaternion() {
        std::array<float, 4> q;
        double len;
        do {
            for (float& c : q)
                c = Uniform(-1.0f, 1.0f);
            len = std::sqrt(double(q[0]) * q[0] + double(q[1]) * q[1] + double(q[2]) * q[2] +
                            double(q[3]) * q[3]);
        } while (len < 0.1);
        if (Index(5) == 0) {
            // A half turn about a random axis.
            double axis =
                std::sqrt(double(q[0]) * q[0] + double(q[1]) * q[1] + double(q[2]) * q[2]);
            for (int i = 0; i < 3; ++i)
                q[i] = float(q[i] / axis);
            q[3] = 0.0f;
            return q;
        }
        for (float& c : q)
            c = float(c / len);
        return q;
    }

    std::array<float, 3> Vector(float range) {
        return {Uniform(-range, range), Uniform(-range, range), Uniform(-range, range)};
    }

    // Kinds: 0 near identity scale, 1 general, 2 with a mirror, 3 near-singular.
    std::array<float, 9> ScaleShear() {
        std::array<float, 9> s;
        int kind = Index(4);
        for (int i = 0; i < 9; ++i)
            s[i] = (i % 4 == 0 ? Uniform(0.5f, 2.0f) : Uniform(-0.3f, 0.3f));
        if (kind == 1) {
            for (float& c : s)
                c = Uniform(-2.0f, 2.0f);
        } else if (kind == 2) {
            for (int i = 0; i < 3; ++i)
                s[3 * i + 2] = -s[3 * i + 2];
        } else if (kind == 3) {
            // Third row nearly the sum of the first two.
            float e = Uniform(1e-4f, 1e-3f);
            for (int j = 0; j < 3; ++j)
                s[6 + j] = s[j] + s[3 + j] + (j == 0 ? e : 0.0f);
        }
        return s;
    }

    orvane_transform Transform() {
        auto p = Vector(10.0f);
        auto q = UnitQuaternion();
        auto s = ScaleShear();
        orvane_transform t;
        OrvaneSetTransform(&t, p.data(), q.data(), s.data());
        return t;
    }

private:
    std::mt19937 engine_;
};

// Condition number of a 3x3 (infinite when singular).
inline double Condition(const Mat3& m) {
    Eigen::JacobiSVD<Mat3> svd(m);
    auto sv = svd.singularValues();
    return sv(2) == 0.0 ? INFINITY : sv(0) / sv(2);
}

}  // namespace orvane_test

#endif  // ORVANE_TESTS_MATH_TEST_SUPPORT_H

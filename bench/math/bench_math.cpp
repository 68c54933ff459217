// The per-bone math kernels, scalar and SSE, beside their Eigen equivalents in the same run.
// Every benchmark walks 256 prepared inputs so that nothing is hoisted out of the loop; each
// iteration is one operation, so the reported time is nanoseconds per operation.
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include <Eigen/Dense>
#include <Eigen/Geometry>
#include <benchmark/benchmark.h>

#include "math/orvane_math_internal.h"

namespace {

constexpr int kCount = 256;

struct Inputs {
    std::vector<orvane_transform> transforms;
    std::vector<std::array<float, 16>> matrices;  // affine, library layout
    std::vector<std::array<float, 4>> quaternions;
    // The same values as Eigen types.
    std::vector<Eigen::Affine3f> affines;
    std::vector<Eigen::Quaternionf> eigenQuaternions;
    std::vector<Eigen::Matrix3f> eigenScaleShears;
    std::vector<Eigen::Vector3f> eigenPositions;

    Inputs() {
        std::mt19937 engine(7);
        std::uniform_real_distribution<float> u(-1.0f, 1.0f);
        for (int n = 0; n < kCount; ++n) {
            float q[4] = {u(engine), u(engine), u(engine), u(engine)};
            float len = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
            for (float& c : q)
                c /= len;
            float p[3] = {10 * u(engine), 10 * u(engine), 10 * u(engine)};
            float s[9];
            for (int i = 0; i < 9; ++i)
                s[i] = (i % 4 == 0 ? 1.0f : 0.0f) + 0.2f * u(engine);
            orvane_transform t;
            OrvaneSetTransform(&t, p, q, s);
            transforms.push_back(t);
            std::array<float, 16> m;
            OrvaneBuildCompositeTransform4x4(&t, m.data());
            matrices.push_back(m);
            quaternions.push_back({q[0], q[1], q[2], q[3]});
            Eigen::Affine3f a;
            a.matrix() = Eigen::Map<const Eigen::Matrix4f>(m.data());
            affines.push_back(a);
            eigenQuaternions.emplace_back(q[3], q[0], q[1], q[2]);
            eigenScaleShears.push_back(
                Eigen::Map<const Eigen::Matrix<float, 3, 3, Eigen::RowMajor>>(s));
            eigenPositions.emplace_back(p[0], p[1], p[2]);
        }
    }
};

const Inputs& Data() {
    static const Inputs inputs;
    return inputs;
}

// ---------------------------------------------------------------------------------------------
// Transform product

template <void (*Multiply)(orvane_transform&, const orvane_transform&, const orvane_transform&)>
void BM_TransformMultiply(benchmark::State& state) {
    const orvane_transform* t = Data().transforms.data();
    orvane_transform out[kCount];
    int i = 0;
    for (auto _ : state) {
        Multiply(out[i], t[i], t[(i + 1) & (kCount - 1)]);
        i = (i + 1) & (kCount - 1);
    }
    benchmark::DoNotOptimize(out);
}
void ExportedMultiply(orvane_transform& r, const orvane_transform& a, const orvane_transform& b) {
    OrvaneMultiply(&r, &a, &b);
}
BENCHMARK(BM_TransformMultiply<orvane::scalar::Multiply>)->Name("Multiply/scalar");
#if ORVANE_MATH_HAS_SSE
BENCHMARK(BM_TransformMultiply<orvane::sse::Multiply>)->Name("Multiply/sse");
#endif
BENCHMARK(BM_TransformMultiply<ExportedMultiply>)->Name("Multiply/exported");

void BM_EigenAffineProduct(benchmark::State& state) {
    const Eigen::Affine3f* a = Data().affines.data();
    Eigen::Affine3f out[kCount];
    int i = 0;
    for (auto _ : state) {
        out[i] = a[i] * a[(i + 1) & (kCount - 1)];
        i = (i + 1) & (kCount - 1);
    }
    benchmark::DoNotOptimize(out);
}
BENCHMARK(BM_EigenAffineProduct)->Name("Multiply/eigen_affine3f");

// The same decomposed product written with Eigen types: what the transform product computes.
struct EigenTransform {
    Eigen::Vector3f p;
    Eigen::Quaternionf q;
    Eigen::Matrix3f s;
};
void BM_EigenDecomposedProduct(benchmark::State& state) {
    const auto& d = Data();
    EigenTransform out[kCount];
    int i = 0;
    for (auto _ : state) {
        int j = (i + 1) & (kCount - 1);
        const Eigen::Quaternionf& qa = d.eigenQuaternions[i];
        const Eigen::Quaternionf& qb = d.eigenQuaternions[j];
        Eigen::Matrix3f rb = qb.toRotationMatrix();
        out[i].s.noalias() =
            rb.transpose() * (d.eigenScaleShears[i] * (rb * d.eigenScaleShears[j]));
        out[i].p.noalias() = qa.toRotationMatrix() * (d.eigenScaleShears[i] * d.eigenPositions[j]);
        out[i].p += d.eigenPositions[i];
        out[i].q = qa * qb;
        i = j;
    }
    benchmark::DoNotOptimize(out);
}
BENCHMARK(BM_EigenDecomposedProduct)->Name("Multiply/eigen_decomposed");

// ---------------------------------------------------------------------------------------------
// 4x4 composite of a transform

template <void (*Build)(const orvane_transform&, float*)>
void BM_Composite4x4(benchmark::State& state) {
    const orvane_transform* t = Data().transforms.data();
    alignas(16) float out[kCount][16];
    int i = 0;
    for (auto _ : state) {
        Build(t[i], out[i]);
        i = (i + 1) & (kCount - 1);
    }
    benchmark::DoNotOptimize(out);
}
void ExportedComposite(const orvane_transform& t, float* m) {
    OrvaneBuildCompositeTransform4x4(&t, m);
}
BENCHMARK(BM_Composite4x4<orvane::scalar::BuildCompositeTransform4x4>)->Name("Composite4x4/scalar");
#if ORVANE_MATH_HAS_SSE
BENCHMARK(BM_Composite4x4<orvane::sse::BuildCompositeTransform4x4>)->Name("Composite4x4/sse");
#endif
BENCHMARK(BM_Composite4x4<ExportedComposite>)->Name("Composite4x4/exported");

void BM_EigenComposite(benchmark::State& state) {
    const auto& d = Data();
    Eigen::Affine3f out[kCount];
    int i = 0;
    for (auto _ : state) {
        out[i].linear().noalias() =
            d.eigenQuaternions[i].toRotationMatrix() * d.eigenScaleShears[i];
        out[i].translation() = d.eigenPositions[i];
        out[i].makeAffine();
        i = (i + 1) & (kCount - 1);
    }
    benchmark::DoNotOptimize(out);
}
BENCHMARK(BM_EigenComposite)->Name("Composite4x4/eigen");

// ---------------------------------------------------------------------------------------------
// Affine 4x4 product

template <void (*Multiply)(float*, const float*, const float*)>
void BM_Matrix4x3(benchmark::State& state) {
    const std::array<float, 16>* m = Data().matrices.data();
    alignas(16) float out[kCount][16];
    int i = 0;
    for (auto _ : state) {
        Multiply(out[i], m[i].data(), m[(i + 1) & (kCount - 1)].data());
        i = (i + 1) & (kCount - 1);
    }
    benchmark::DoNotOptimize(out);
}
BENCHMARK(BM_Matrix4x3<orvane::scalar::ColumnMatrixMultiply4x3>)->Name("Matrix4x3/scalar");
#if ORVANE_MATH_HAS_SSE
BENCHMARK(BM_Matrix4x3<orvane::sse::ColumnMatrixMultiply4x3>)->Name("Matrix4x3/sse");
#endif
BENCHMARK(BM_Matrix4x3<OrvaneColumnMatrixMultiply4x3>)->Name("Matrix4x3/exported");
// Eigen equivalent: the same affine product (apply the first, then the second).
void BM_EigenMatrix4x3(benchmark::State& state) {
    const Eigen::Affine3f* a = Data().affines.data();
    Eigen::Affine3f out[kCount];
    int i = 0;
    for (auto _ : state) {
        out[i] = a[(i + 1) & (kCount - 1)] * a[i];
        i = (i + 1) & (kCount - 1);
    }
    benchmark::DoNotOptimize(out);
}
BENCHMARK(BM_EigenMatrix4x3)->Name("Matrix4x3/eigen_affine3f");

// ---------------------------------------------------------------------------------------------
// R(q)

template <void (*Rotation)(float*, const float*)>
void BM_RotationMatrix(benchmark::State& state) {
    const std::array<float, 4>* q = Data().quaternions.data();
    float out[kCount][9];
    int i = 0;
    for (auto _ : state) {
        Rotation(out[i], q[i].data());
        i = (i + 1) & (kCount - 1);
    }
    benchmark::DoNotOptimize(out);
}
BENCHMARK(BM_RotationMatrix<orvane::scalar::RotationMatrix>)->Name("RotationMatrix/scalar");
#if ORVANE_MATH_HAS_SSE
BENCHMARK(BM_RotationMatrix<orvane::sse::RotationMatrix>)->Name("RotationMatrix/sse");
#endif
BENCHMARK(BM_RotationMatrix<OrvaneMatrixEqualsQuaternion3x3>)->Name("RotationMatrix/exported");
void BM_EigenRotationMatrix(benchmark::State& state) {
    const Eigen::Quaternionf* q = Data().eigenQuaternions.data();
    Eigen::Matrix3f out[kCount];
    int i = 0;
    for (auto _ : state) {
        out[i] = q[i].toRotationMatrix();
        i = (i + 1) & (kCount - 1);
    }
    benchmark::DoNotOptimize(out);
}
BENCHMARK(BM_EigenRotationMatrix)->Name("RotationMatrix/eigen");

// ---------------------------------------------------------------------------------------------
// Quaternion product

template <void (*Product)(float*, const float*, const float*)>
void BM_QuaternionProduct(benchmark::State& state) {
    const std::array<float, 4>* q = Data().quaternions.data();
    float out[kCount][4];
    int i = 0;
    for (auto _ : state) {
        Product(out[i], q[i].data(), q[(i + 1) & (kCount - 1)].data());
        i = (i + 1) & (kCount - 1);
    }
    benchmark::DoNotOptimize(out);
}
BENCHMARK(BM_QuaternionProduct<orvane::scalar::QuaternionMultiply>)
    ->Name("QuaternionProduct/scalar");
#if ORVANE_MATH_HAS_SSE
BENCHMARK(BM_QuaternionProduct<orvane::sse::QuaternionMultiply>)->Name("QuaternionProduct/sse");
#endif
void BM_EigenQuaternionProduct(benchmark::State& state) {
    const Eigen::Quaternionf* q = Data().eigenQuaternions.data();
    Eigen::Quaternionf out[kCount];
    int i = 0;
    for (auto _ : state) {
        out[i] = q[i] * q[(i + 1) & (kCount - 1)];
        i = (i + 1) & (kCount - 1);
    }
    benchmark::DoNotOptimize(out);
}
BENCHMARK(BM_EigenQuaternionProduct)->Name("QuaternionProduct/eigen");

}  // namespace

BENCHMARK_MAIN();

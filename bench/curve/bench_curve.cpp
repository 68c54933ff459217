// Curve evaluation on the per-frame path: OrvaneEvaluateCurveAtT per format, degree and
// dimension on a 300-knot curve at random times, and OrvaneFindKnot on 1,000 knots. The
// baseline, measured in the same run, is a plain linear interpolation of uncompressed
// keyframes of the same dimension.
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "orvane/bspline.h"
#include "orvane/curve_builder.h"

namespace {

constexpr int kKnots = 300;
constexpr int kTimes = 1024;

std::vector<float> RandomTimes(float duration) {
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> u(0.0f, duration);
    std::vector<float> times(kTimes);
    for (float& t : times)
        t = u(rng);
    return times;
}

void Baseline(benchmark::State& state, int dimension) {
    const float step = 1.0f / 30.0f;
    std::mt19937 rng(2);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<float> frames(size_t(kKnots * dimension));
    for (float& v : frames)
        v = u(rng);
    const std::vector<float> times = RandomTimes(step * float(kKnots - 1) * 0.999f);
    float result[9];
    size_t i = 0;
    for (auto _ : state) {
        const float t = times[i++ & (kTimes - 1)];
        const float f = t / step;
        const int frame = int(f);
        const float w = f - float(frame);
        const float* a = &frames[size_t(frame * dimension)];
        const float* b = a + dimension;
        for (int c = 0; c < dimension; ++c)
            result[c] = a[c] + w * (b[c] - a[c]);
        benchmark::DoNotOptimize(result);
    }
}

struct Format {
    const char* name;
    orvane_data_type_definition* const* type;
    int dimensions[3];
};

void Evaluate(benchmark::State& state, orvane_data_type_definition* type, int degree,
              int dimension) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<float> knots(kKnots), controls(size_t(kKnots * dimension), 0.0f);
    for (int i = 0; i < kKnots; ++i)
        knots[size_t(i)] = float(i) / 30.0f;
    for (int i = 0; i < kKnots; ++i) {
        float* v = &controls[size_t(i * dimension)];
        if (dimension == 9) {
            v[0] = 1 + 0.1f * u(rng), v[4] = 1 + 0.1f * u(rng), v[8] = 1 + 0.1f * u(rng);
        } else if (dimension == 4) {
            float len = 0;
            for (int c = 0; c < 4; ++c)
                v[c] = u(rng), len += v[c] * v[c];
            for (int c = 0; c < 4; ++c)
                v[c] /= std::sqrt(len);
        } else {
            for (int c = 0; c < dimension; ++c)
                v[c] = u(rng);
        }
    }
    orvane_curve_builder* builder = OrvaneBeginCurve(type, degree, dimension, kKnots);
    OrvanePushCurveKnotArray(builder, knots.data());
    OrvanePushCurveControlArray(builder, controls.data());
    orvane_curve2* curve = OrvaneEndCurve(builder);
    if (curve == nullptr) {
        state.SkipWithError("curve could not be built");
        return;
    }
    const std::vector<float> times = RandomTimes(knots.back());
    const bool normalize = dimension == 4;
    float result[9];
    size_t i = 0;
    for (auto _ : state) {
        OrvaneEvaluateCurveAtT(dimension, normalize, false, curve, false, knots.back(),
                               times[i++ & (kTimes - 1)], result, OrvaneCurveIdentityScaleShear);
        benchmark::DoNotOptimize(result);
    }
    OrvaneFreeCurve(curve);
}

void FindKnot(benchmark::State& state) {
    std::vector<float> knots(1000);
    for (int i = 0; i < 1000; ++i)
        knots[size_t(i)] = float(i) / 30.0f;
    const std::vector<float> times = RandomTimes(knots.back());
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(OrvaneFindKnot(1000, knots.data(), times[i++ & (kTimes - 1)]));
    }
}

}  // namespace

int main(int argc, char** argv) {
    for (int dimension : {3, 4, 9}) {
        benchmark::RegisterBenchmark(
            ("Baseline/LinearKeyframes/D" + std::to_string(dimension)).c_str(), Baseline,
            dimension);
    }
    const Format formats[] = {
        {"DaK32fC32f", &OrvaneCurveDataDaK32fC32fType, {3, 4, 9}},
        {"DaK16uC16u", &OrvaneCurveDataDaK16uC16uType, {3, 4, 9}},
        {"DaK8uC8u", &OrvaneCurveDataDaK8uC8uType, {3, 4, 9}},
        {"D4nK16uC15u", &OrvaneCurveDataD4nK16uC15uType, {4, 0, 0}},
        {"D4nK8uC7u", &OrvaneCurveDataD4nK8uC7uType, {4, 0, 0}},
        {"D3K16uC16u", &OrvaneCurveDataD3K16uC16uType, {3, 0, 0}},
        {"D3K8uC8u", &OrvaneCurveDataD3K8uC8uType, {3, 0, 0}},
        {"D9I1K16uC16u", &OrvaneCurveDataD9I1K16uC16uType, {9, 0, 0}},
        {"D9I3K16uC16u", &OrvaneCurveDataD9I3K16uC16uType, {9, 0, 0}},
        {"D9I1K8uC8u", &OrvaneCurveDataD9I1K8uC8uType, {9, 0, 0}},
        {"D9I3K8uC8u", &OrvaneCurveDataD9I3K8uC8uType, {9, 0, 0}},
    };
    for (const Format& format : formats) {
        for (int dimension : format.dimensions) {
            if (dimension == 0) continue;
            for (int degree = 1; degree <= 3; ++degree) {
                const std::string name = std::string("EvaluateCurveAtT/") + format.name + "/D" +
                                         std::to_string(dimension) + "/degree" +
                                         std::to_string(degree);
                benchmark::RegisterBenchmark(name.c_str(), Evaluate, *format.type, degree,
                                             dimension);
            }
        }
    }
    benchmark::RegisterBenchmark("FindKnot/1000", FindKnot);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

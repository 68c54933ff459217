// De Boor's weights of a B-spline window, written once for the curve evaluator, the track
// sampler and the curve fitter: k points at the knot that ends the interval holding t (k[-d] ..
// k[d - 1] are read), and w[j] weighs control P[j - d], so that the value on [k[-1], k[0]) is
// w[0] P[-d] + ... + w[d] P[0].
#ifndef ORVANE_BSPLINE_WEIGHTS_H
#define ORVANE_BSPLINE_WEIGHTS_H

#include <cstdint>

namespace orvane {

// T is float, or a vector of floats (GCC vector extensions) that weighs several windows at once
// with the same operations.
template <int Degree, typename T>
[[gnu::always_inline]] inline void BSplineWeights(const T* k, T t, T* w) {
    static_assert(Degree >= 0 && Degree <= 3, "degrees 0 to 3");
    if constexpr (Degree == 0) {
        w[0] = 1.0f;
    } else if constexpr (Degree == 1) {
        const T u = (t - k[-1]) / (k[0] - k[-1]);
        w[0] = 1.0f - u;
        w[1] = u;
    } else if constexpr (Degree == 2) {
        const T a1 = (t - k[-2]) / (k[0] - k[-2]);
        const T a2 = (t - k[-1]) / (k[1] - k[-1]);
        const T b = (t - k[-1]) / (k[0] - k[-1]);
        w[0] = (1.0f - a1) * (1.0f - b);
        w[1] = a1 * (1.0f - b) + b * (1.0f - a2);
        w[2] = b * a2;
    } else {
        const T a1 = (t - k[-3]) / (k[0] - k[-3]);
        const T a2 = (t - k[-2]) / (k[1] - k[-2]);
        const T a3 = (t - k[-1]) / (k[2] - k[-1]);
        const T b1 = (t - k[-2]) / (k[0] - k[-2]);
        const T b2 = (t - k[-1]) / (k[1] - k[-1]);
        const T c1 = (t - k[-1]) / (k[0] - k[-1]);
        const T h = (1.0f - c1) * (1.0f - b1);
        const T e = (1.0f - c1) * b1 + c1 * (1.0f - b2);
        const T l = c1 * b2;
        w[0] = h * (1.0f - a1);
        w[1] = h * a1 + e * (1.0f - a2);
        w[2] = e * a2 + l * (1.0f - a3);
        w[3] = l * a3;
    }
}

// The weights for a degree known only at run time (above 3 counts as 3).
inline void BSplineWeights(int32_t degree, const float* k, float t, float* w) {
    switch (degree) {
        case 0:
            BSplineWeights<0>(k, t, w);
            break;
        case 1:
            BSplineWeights<1>(k, t, w);
            break;
        case 2:
            BSplineWeights<2>(k, t, w);
            break;
        default:
            BSplineWeights<3>(k, t, w);
            break;
    }
}

// The value on the window, v = w[0] P[-Degree] + ... + w[Degree] P[0] with P[j] = p + j * D,
// summed in that order; degree 0 copies P[0].
template <int Degree, int D>
[[gnu::always_inline]] inline void BSplineValue(const float* k, const float* p, float t, float* v) {
    if constexpr (Degree == 0) {
#pragma GCC unroll 9
        for (int c = 0; c < D; ++c)
            v[c] = p[c];
    } else {
        float w[Degree + 1];
        BSplineWeights<Degree>(k, t, w);
        const float* first = p - Degree * D;
#pragma GCC unroll 9
        for (int c = 0; c < D; ++c) {
            float sum = w[0] * first[c];
#pragma GCC unroll 4
            for (int j = 1; j <= Degree; ++j)
                sum += w[j] * first[j * D + c];
            v[c] = sum;
        }
    }
}

}  // namespace orvane

#endif  // ORVANE_BSPLINE_WEIGHTS_H

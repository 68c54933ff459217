// The steps the track samplers share on a window of a curve: the hinted knot search and the
// evaluation of a window's B-spline with de Boor's algorithm, its operations in the order of the
// exported B-spline routines so that every sampler agrees with them to the bit.
#ifndef ORVANE_WINDOW_EVALUATION_H
#define ORVANE_WINDOW_EVALUATION_H

#include <cmath>
#include <cstdint>
#include <cstring>

#include "curve/orvane_bspline_weights.h"
#include "curve/orvane_knot_search.h"

namespace orvane {

// Squared lengths from here on (infinite or past it) are not normalised but replaced.
inline constexpr float kUnboundedSquare = 3.0e38f;

// The same index, trying the hinted knot and the one after it first: at playback rates the
// time moves by less than a knot interval per frame.
template <typename K, typename V>
inline int32_t SearchKnots(const K* knots, int32_t count, V key, int32_t* hint) {
    int32_t k;
    const int32_t h = hint ? *hint : -1;
    if (h >= 1 && h < count && !(knots[h - 1] > key)) {
        if (knots[h] > key)
            k = h;
        else if (h + 1 >= count)
            k = count - 1;
        else if (knots[h + 1] > key)
            k = h + 1;
        else {
            // Further on: knots closer than a frame apart pass two or three a frame. Galloping
            // from the hint brackets the answer in a few steps, then the search ends in the
            // bracket.
            int32_t low = h + 2, step = 1;
            if (low >= count) {
                k = count - 1;
            } else {
                while (low + step < count && !(knots[low + step - 1] > key)) {
                    low += step;
                    step *= 2;
                }
                const int32_t span = low + step < count ? step : count - low;
                k = low + UpperBoundKnot(knots + low, span, key);
            }
        }
        if (k >= count) k = count - 1;
    } else if (h == 0 && knots[0] > key) {
        k = 0;
    } else {
        k = UpperBoundKnot(knots, count, key);
    }
    if (hint) *hint = k;
    return k;
}

// Orientations are stored as one 16-byte vector, as the pose accumulation loads them.
template <int D>
[[gnu::always_inline]] inline void StoreValues(const float* v, float* r) {
    if constexpr (D == 4) {
        using Float4 = float __attribute__((vector_size(16)));
        const Float4 x = {v[0], v[1], v[2], v[3]};
        std::memcpy(r, &x, sizeof x);
    } else {
#pragma GCC unroll 9
        for (int c = 0; c < D; ++c)
            r[c] = v[c];
    }
}

// The value is built in locals and stored once: the normalisation reads it back, and a vector
// load of values just written by single stores stalls on the store buffer.
//
// g++ at -O3 cannot see that the curve format's extractor (called through a table) fills the
// control points this reads, and warns that they may be uninitialised; every caller fills
// them first.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
template <int Degree, int D, bool Normalize>
[[gnu::always_inline]] inline void Evaluate(const float* k, const float* p, float t, float* r) {
    float v[D];
    BSplineValue<Degree, D>(k, p, t, v);
    if constexpr (Normalize) {
        // Exactly to unit length: keys far apart blend to a quaternion well inside the unit
        // sphere (0.82 long half way between keys 140 degrees apart), which one Newton step
        // from length 1 leaves 0.95 long, a matrix that scales and shears. A blend without
        // length (opposite keys half way, or one that is not a number) becomes the identity.
        float length2 = 0.0f;
#pragma GCC unroll 9
        for (int c = 0; c < D; ++c)
            length2 += v[c] * v[c];
        if (length2 > 0.0f && length2 < kUnboundedSquare) {
            const float factor = 1.0f / std::sqrt(length2);
#pragma GCC unroll 9
            for (int c = 0; c < D; ++c)
                v[c] *= factor;
        } else {
#pragma GCC unroll 9
            for (int c = 0; c < D; ++c)
                v[c] = c == 3 ? 1.0f : 0.0f;
        }
    }
    StoreValues<D>(v, r);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

template <int D, bool Normalize>
[[gnu::always_inline]] inline void EvaluateDegree(int32_t degree, const float* k, const float* p,
                                                  float t, float* r) {
    switch (degree) {
        case 0:
            Evaluate<0, D, false>(k, p, t, r);
            break;
        case 1:
            Evaluate<1, D, Normalize>(k, p, t, r);
            break;
        case 2:
            Evaluate<2, D, Normalize>(k, p, t, r);
            break;
        default:
            Evaluate<3, D, Normalize>(k, p, t, r);
            break;
    }
}

}  // namespace orvane

#endif  // ORVANE_WINDOW_EVALUATION_H

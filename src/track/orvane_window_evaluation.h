// The steps the track samplers share on a window of a curve (the hinted knot search is in
// curve/orvane_knot_search.h): the evaluation of a window's B-spline with de Boor's algorithm, its
// operations in the order of the exported B-spline routines so that every sampler agrees with them
// to the bit.
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

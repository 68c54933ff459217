// AVX2/FMA skinning kernels. Matrices are blended as two 8-wide registers, rows 0-1 and rows
// 2-3, so blending four bones is eight loads and eight products or fused multiply-adds per
// vertex, half the loads of 4-wide rows; each weight is made from its byte in a register (no
// trip through memory), and three or four slots sum as two pairs, two short chains that the
// next vertices overlap. The blend is then split into its four rows, and a point or direction
// is three fused multiply-adds of its coordinates, each broadcast straight from the vertex.
//
// Every function here is compiled for AVX2 and FMA while the rest of the library stays baseline
// x86-64: nothing in this file may run unless ProcessorHasAvx2Fma() (the kernel table is the
// only way in, and the routines consult the processor test first). Results differ from the
// scalar kernels only by the rounding of fused operations and of the summation order (a few
// units in the last place of the largest term). Loads and stores are unaligned and stay within
// each vertex.
#include "mesh/orvane_deformer.h"

#include "math/orvane_math_internal.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ORVANE_AVX2 __attribute__((target("avx2,fma")))
#endif

namespace orvane {

#if defined(__x86_64__) || defined(__i386__)
namespace {

// The vertex loop (and Load3, Store3), compiled for AVX2 and FMA like the operations it
// inlines.
ORVANE_BEGIN_AVX2_FMA
#include "mesh/orvane_deformer_walk.h"
ORVANE_END_AVX2_FMA

// Rows 0-1 and rows 2-3 of a matrix.
struct Halves {
    __m256 r01, r23;
};

// Slot K's weighted matrix added into the blend (slot 0 sets it), then the next slots.
template <int K, int Bones, bool Indirect>
ORVANE_AVX2 inline void Accumulate(Halves& b, const uint8_t* weights, const uint8_t* bones,
                                   const int32_t* table, const float* matrices) {
    if constexpr (K < Bones) {
        const float* M = MatrixFor<Indirect>(matrices, table, bones[K]);
        const __m256 w = _mm256_set1_ps(float(weights[K]) * kWeightScale);
        if constexpr (K == 0) {
            b.r01 = _mm256_mul_ps(w, _mm256_loadu_ps(M));
            b.r23 = _mm256_mul_ps(w, _mm256_loadu_ps(M + 8));
        } else {
            b.r01 = _mm256_fmadd_ps(w, _mm256_loadu_ps(M), b.r01);
            b.r23 = _mm256_fmadd_ps(w, _mm256_loadu_ps(M + 8), b.r23);
        }
        Accumulate<K + 1, Bones, Indirect>(b, weights, bones, table, matrices);
    }
}

// The blend of the first Used weighted bones of a vertex of two or four.
template <int Bones, bool Indirect, int Used>
ORVANE_AVX2 inline Halves BlendHalves(const uint8_t* vertex, const int32_t* table,
                                      const float* matrices) {
    Halves b;
    if constexpr (Used <= 2) {
        Accumulate<0, Used, Indirect>(b, vertex + 12, vertex + 12 + Bones, table, matrices);
    } else {
        // Slots 0-1 and 2-3 (or 2) as two sums added at the end: two short chains.
        Halves c;
        Accumulate<0, 2, Indirect>(b, vertex + 12, vertex + 12 + Bones, table, matrices);
        Accumulate<0, Used - 2, Indirect>(c, vertex + 14, vertex + 14 + Bones, table, matrices);
        b.r01 = _mm256_add_ps(b.r01, c.r01);
        b.r23 = _mm256_add_ps(b.r23, c.r23);
    }
    return b;
}

// A blended matrix as its four rows, for the transforms: each coordinate is broadcast from
// the vertex (a load, no shuffle) and multiplied into its row, three fused operations per
// point or direction.
struct Rows {
    __m128 r0, r1, r2, r3;
};

ORVANE_AVX2 inline Rows RowsOf(const Halves& h) {
    return {_mm256_castps256_ps128(h.r01), _mm256_extractf128_ps(h.r01, 1),
            _mm256_castps256_ps128(h.r23), _mm256_extractf128_ps(h.r23, 1)};
}

ORVANE_AVX2 inline Rows LoadRows(const float* M) {
    return {_mm_loadu_ps(M), _mm_loadu_ps(M + 4), _mm_loadu_ps(M + 8), _mm_loadu_ps(M + 12)};
}

ORVANE_AVX2 inline __m128 Coordinate(const uint8_t* p, int k) {
    return _mm_broadcast_ss(reinterpret_cast<const float*>(p) + k);
}

// (x, y, z) times rows 0-2, plus row 3 for a point: x·r0 + (y·r1 + (z·r2 + r3)).
ORVANE_AVX2 inline __m128 ApplyRows(const Rows& m, const uint8_t* p, __m128 last) {
    __m128 sum = _mm_fmadd_ps(Coordinate(p, 2), m.r2, last);
    sum = _mm_fmadd_ps(Coordinate(p, 1), m.r1, sum);
    return _mm_fmadd_ps(Coordinate(p, 0), m.r0, sum);
}

// The operations of the AVX2 loop. A point is (x, y, z, 1), a direction (x, y, z, 0); each
// reads exactly the three floats at p.
struct Avx2Ops {
    using Matrix = Rows;
    ORVANE_AVX2 static Rows Load(const float* M) { return LoadRows(M); }
    template <int Bones, bool Indirect, int Used>
    ORVANE_AVX2 static Rows Blend(const uint8_t* vertex, const int32_t* table,
                                  const float* matrices) {
        if constexpr (Bones == 1) {
            uint32_t bone;
            std::memcpy(&bone, vertex + 12, 4);
            return LoadRows(MatrixFor<Indirect>(matrices, table, bone));
        } else {
            return RowsOf(BlendHalves<Bones, Indirect, Used>(vertex, table, matrices));
        }
    }
    ORVANE_AVX2 static __m128 Point(const Rows& m, const uint8_t* p) {
        return ApplyRows(m, p, m.r3);
    }
    ORVANE_AVX2 static __m128 Direction(const Rows& m, const uint8_t* p) {
        return ApplyRows(m, p, _mm_setzero_ps());
    }
    ORVANE_AVX2 static __m128 LastDirection(const Rows& m, const uint8_t* p) {
        return ApplyRows(m, p, _mm_setzero_ps());
    }
    ORVANE_AVX2 static void Finish() { _mm256_zeroupper(); }
};

struct Avx2Path {
    template <int Bones, int Dirs, bool Indirect>
    static constexpr DeformKernel kKernel = &DeformVertices<Avx2Ops, Bones, Dirs, Indirect>;
};

}  // namespace

DeformKernel Avx2DeformKernel(int bones, int dirs, bool indirect) {
    return SelectDeformKernel<Avx2Path>(bones, dirs, indirect);
}

#else

DeformKernel Avx2DeformKernel(int, int, bool) {
    return nullptr;
}

#endif

}  // namespace orvane

// AVX2/FMA skinning kernels. A matrix is two 8-wide registers, rows 0-1 and rows 2-3, so
// blending four bones is eight loads and eight fused multiply-adds per vertex, half the loads of
// 4-wide rows; a point or direction is one multiply-add of (x x x x y y y y) with rows 0-1 and
// (z z z z w w w w) with rows 2-3, whose halves summed are the result.
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

ORVANE_AVX2 inline Halves LoadHalves(const float* M) {
    return {_mm256_loadu_ps(M), _mm256_loadu_ps(M + 8)};
}

// v = (x, y, z, w): x·row0 + y·row1 + z·row2 + w·row3. Points pass w = 1, directions w = 0.
ORVANE_AVX2 inline __m128 Apply(const Halves& m, __m128 v) {
    const __m256 wide = _mm256_castps128_ps256(v);
    const __m256 xy = _mm256_permutevar8x32_ps(wide, _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1));
    const __m256 zw = _mm256_permutevar8x32_ps(wide, _mm256_setr_epi32(2, 2, 2, 2, 3, 3, 3, 3));
    const __m256 sum = _mm256_fmadd_ps(xy, m.r01, _mm256_mul_ps(zw, m.r23));
    return _mm_add_ps(_mm256_castps256_ps128(sum), _mm256_extractf128_ps(sum, 1));
}

ORVANE_AVX2 inline __m128 Load4(const uint8_t* p) {
    return _mm_loadu_ps(reinterpret_cast<const float*>(p));
}

ORVANE_AVX2 inline __m128 WithW1(__m128 v) {
    return _mm_blend_ps(v, _mm_set1_ps(1.0f), 8);
}

ORVANE_AVX2 inline __m128 WithW0(__m128 v) {
    return _mm_blend_ps(v, _mm_setzero_ps(), 8);
}

// The weight bytes of a vertex as reals in every lane K and K + 4 for slot K, scaled once.
template <int Bones>
ORVANE_AVX2 inline __m256 Weights(const uint8_t* bytes) {
    int32_t packed = 0;
    std::memcpy(&packed, bytes, Bones);
    const __m128i wide = _mm_cvtepu8_epi32(_mm_cvtsi32_si128(packed));
    const __m128 w = _mm_mul_ps(_mm_cvtepi32_ps(wide), _mm_set1_ps(kWeightScale));
    return _mm256_set_m128(w, w);
}

// Slot K's weighted matrix added into the blend (slot 0 sets it), then the next slots.
template <int K, int Bones, bool Indirect>
ORVANE_AVX2 inline void Accumulate(Halves& b, __m256 weights, const uint8_t* bones,
                                   const int32_t* table, const float* matrices) {
    if constexpr (K < Bones) {
        const float* M = MatrixFor<Indirect>(matrices, table, bones[K]);
        const __m256 w = _mm256_permute_ps(weights, _MM_SHUFFLE(K, K, K, K));
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

template <int Bones, bool Indirect>
ORVANE_AVX2 inline Halves BlendHalves(const uint8_t* vertex, const int32_t* table,
                                      const float* matrices) {
    if constexpr (Bones == 1) {
        uint32_t bone;
        std::memcpy(&bone, vertex + 12, 4);
        return LoadHalves(MatrixFor<Indirect>(matrices, table, bone));
    } else {
        Halves b;
        Accumulate<0, Bones, Indirect>(b, Weights<Bones>(vertex + 12), vertex + 12 + Bones, table,
                                       matrices);
        return b;
    }
}

// The operations of the AVX2 loop. A point is (x, y, z, 1), a direction (x, y, z, 0).
struct Avx2Ops {
    using Matrix = Halves;
    ORVANE_AVX2 static Halves Load(const float* M) { return LoadHalves(M); }
    template <int Bones, bool Indirect>
    ORVANE_AVX2 static Halves Blend(const uint8_t* vertex, const int32_t* table,
                                    const float* matrices) {
        return BlendHalves<Bones, Indirect>(vertex, table, matrices);
    }
    ORVANE_AVX2 static __m128 Point(const Halves& m, const uint8_t* p) {
        return Apply(m, WithW1(Load4(p)));
    }
    ORVANE_AVX2 static __m128 Direction(const Halves& m, const uint8_t* p) {
        return Apply(m, WithW0(Load4(p)));
    }
    // Load3 leaves the fourth lane 0.
    ORVANE_AVX2 static __m128 LastDirection(const Halves& m, const uint8_t* p) {
        return Apply(m, Load3(p));
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

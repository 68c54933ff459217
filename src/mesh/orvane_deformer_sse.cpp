// SSE skinning kernels: one vertex at a time with 4-wide rows. The blended matrix is four
// registers (rows 0..3; column 3 is carried along and never stored), each output is a sum of
// coordinate-broadcasts times rows.
//
// Loads and stores are unaligned (as fast as aligned ones on every processor that runs this
// code when the data is aligned) and never touch a byte outside the vertex: three-real fields
// are read and written as 8 + 4 bytes. Off x86 the kernel table is empty and the registry's
// accelerated routines fall back to the generic ones.
#include "mesh/orvane_deformer.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orvane {

#if defined(__SSE2__)
namespace {

#include "mesh/orvane_deformer_walk.h"

struct Rows {
    __m128 r0, r1, r2, r3;
};

inline Rows LoadRows(const float* M) {
    return {_mm_loadu_ps(M), _mm_loadu_ps(M + 4), _mm_loadu_ps(M + 8), _mm_loadu_ps(M + 12)};
}

inline __m128 TransformDirection(const Rows& m, __m128 v) {
    const __m128 x = _mm_shuffle_ps(v, v, 0x00);
    const __m128 y = _mm_shuffle_ps(v, v, 0x55);
    const __m128 z = _mm_shuffle_ps(v, v, 0xAA);
    return _mm_add_ps(_mm_add_ps(_mm_mul_ps(x, m.r0), _mm_mul_ps(y, m.r1)), _mm_mul_ps(z, m.r2));
}

inline __m128 TransformPoint(const Rows& m, __m128 v) {
    return _mm_add_ps(TransformDirection(m, v), m.r3);
}

// The weight bytes of a vertex as reals in lanes 0 .. Bones - 1, scaled once for all slots.
template <int Bones>
inline __m128 Weights(const uint8_t* bytes) {
    int32_t packed = 0;
    std::memcpy(&packed, bytes, Bones);
    const __m128i zero = _mm_setzero_si128();
    const __m128i wide =
        _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(packed), zero), zero);
    return _mm_mul_ps(_mm_cvtepi32_ps(wide), _mm_set1_ps(kWeightScale));
}

template <int K>
inline __m128 Lane(__m128 v) {
    return _mm_shuffle_ps(v, v, _MM_SHUFFLE(K, K, K, K));
}

// Slot K's weighted matrix added into the rows (slot 0 sets them), then the next slots.
template <int K, int Bones, bool Indirect>
inline void Accumulate(Rows& b, __m128 weights, const uint8_t* bones, const int32_t* table,
                       const float* matrices) {
    if constexpr (K < Bones) {
        const float* M = MatrixFor<Indirect>(matrices, table, bones[K]);
        const __m128 w = Lane<K>(weights);
        const __m128 m0 = _mm_mul_ps(w, _mm_loadu_ps(M));
        const __m128 m1 = _mm_mul_ps(w, _mm_loadu_ps(M + 4));
        const __m128 m2 = _mm_mul_ps(w, _mm_loadu_ps(M + 8));
        const __m128 m3 = _mm_mul_ps(w, _mm_loadu_ps(M + 12));
        if constexpr (K == 0) {
            b = {m0, m1, m2, m3};
        } else {
            b.r0 = _mm_add_ps(b.r0, m0);
            b.r1 = _mm_add_ps(b.r1, m1);
            b.r2 = _mm_add_ps(b.r2, m2);
            b.r3 = _mm_add_ps(b.r3, m3);
        }
        Accumulate<K + 1, Bones, Indirect>(b, weights, bones, table, matrices);
    }
}

template <int Bones, bool Indirect, int Used>
inline Rows BlendedRows(const uint8_t* vertex, const int32_t* table, const float* matrices) {
    if constexpr (Bones == 1) {
        uint32_t bone;
        std::memcpy(&bone, vertex + 12, 4);
        return LoadRows(MatrixFor<Indirect>(matrices, table, bone));
    } else {
        const uint8_t* bones = vertex + 12 + Bones;
        const __m128 weights = Weights<Bones>(vertex + 12);
        Rows b;
        Accumulate<0, Used, Indirect>(b, weights, bones, table, matrices);
        return b;
    }
}

// The operations of the SSE loop.
struct SseOps {
    using Matrix = Rows;
    static Rows Load(const float* M) { return LoadRows(M); }
    template <int Bones, bool Indirect, int Used>
    static Rows Blend(const uint8_t* vertex, const int32_t* table, const float* matrices) {
        return BlendedRows<Bones, Indirect, Used>(vertex, table, matrices);
    }
    static __m128 Point(const Rows& m, const uint8_t* p) {
        return TransformPoint(m, _mm_loadu_ps(reinterpret_cast<const float*>(p)));
    }
    static __m128 Direction(const Rows& m, const uint8_t* p) {
        return TransformDirection(m, _mm_loadu_ps(reinterpret_cast<const float*>(p)));
    }
    static __m128 LastDirection(const Rows& m, const uint8_t* p) {
        return TransformDirection(m, Load3(p));
    }
    static void Finish() {}
};

struct SsePath {
    template <int Bones, int Dirs, bool Indirect>
    static constexpr DeformKernel kKernel = &DeformVertices<SseOps, Bones, Dirs, Indirect>;
};

}  // namespace

DeformKernel SseDeformKernel(int bones, int dirs, bool indirect) {
    return SelectDeformKernel<SsePath>(bones, dirs, indirect);
}

#else

DeformKernel SseDeformKernel(int, int, bool) {
    return nullptr;
}

#endif

}  // namespace orvane

// AVX2/FMA skinning kernels: two vertices at a time, one per 128-bit half of each register, so
// a blended row of both vertices is one fused multiply-add per bone and each output one chain
// of three. An odd last vertex runs the same arithmetic 4 wide.
//
// Every function here is compiled for AVX2 and FMA while the rest of the library stays baseline
// x86-64: nothing in this file may run unless ProcessorHasAvx2Fma() (the kernel table is the
// only way in, and the routines consult the processor test first). Results differ from the
// scalar kernels only by the rounding of fused operations (a few units in the last place of the
// largest term). Loads and stores are unaligned and stay within each vertex.
#include "mesh/orvane_deformer.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ORVANE_AVX2 __attribute__((target("avx2,fma")))
#endif

namespace orvane {

#if defined(__x86_64__) || defined(__i386__)
namespace {

ORVANE_AVX2 inline __m128 Load3(const uint8_t* p) {
    const __m128 xy = _mm_castpd_ps(_mm_load_sd(reinterpret_cast<const double*>(p)));
    const __m128 z = _mm_load_ss(reinterpret_cast<const float*>(p + 8));
    return _mm_movelh_ps(xy, z);
}

ORVANE_AVX2 inline void Store3(uint8_t* p, __m128 v) {
    _mm_storel_pi(reinterpret_cast<__m64*>(p), v);
    _mm_store_ss(reinterpret_cast<float*>(p + 8), _mm_movehl_ps(v, v));
}

ORVANE_AVX2 inline __m256 Pair(__m128 low, __m128 high) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(low), high, 1);
}

ORVANE_AVX2 inline __m256 LoadPair(const float* low, const float* high) {
    return Pair(_mm_loadu_ps(low), _mm_loadu_ps(high));
}

struct Rows2 {
    __m256 r0, r1, r2, r3;
};
struct Rows1 {
    __m128 r0, r1, r2, r3;
};

ORVANE_AVX2 inline __m256 Direction2(const Rows2& m, __m256 v) {
    const __m256 x = _mm256_permute_ps(v, 0x00);
    const __m256 y = _mm256_permute_ps(v, 0x55);
    const __m256 z = _mm256_permute_ps(v, 0xAA);
    return _mm256_fmadd_ps(x, m.r0, _mm256_fmadd_ps(y, m.r1, _mm256_mul_ps(z, m.r2)));
}

ORVANE_AVX2 inline __m256 Point2(const Rows2& m, __m256 v) {
    const __m256 x = _mm256_permute_ps(v, 0x00);
    const __m256 y = _mm256_permute_ps(v, 0x55);
    const __m256 z = _mm256_permute_ps(v, 0xAA);
    return _mm256_fmadd_ps(x, m.r0, _mm256_fmadd_ps(y, m.r1, _mm256_fmadd_ps(z, m.r2, m.r3)));
}

ORVANE_AVX2 inline __m128 Direction1(const Rows1& m, __m128 v) {
    const __m128 x = _mm_permute_ps(v, 0x00);
    const __m128 y = _mm_permute_ps(v, 0x55);
    const __m128 z = _mm_permute_ps(v, 0xAA);
    return _mm_fmadd_ps(x, m.r0, _mm_fmadd_ps(y, m.r1, _mm_mul_ps(z, m.r2)));
}

ORVANE_AVX2 inline __m128 Point1(const Rows1& m, __m128 v) {
    const __m128 x = _mm_permute_ps(v, 0x00);
    const __m128 y = _mm_permute_ps(v, 0x55);
    const __m128 z = _mm_permute_ps(v, 0xAA);
    return _mm_fmadd_ps(x, m.r0, _mm_fmadd_ps(y, m.r1, _mm_fmadd_ps(z, m.r2, m.r3)));
}

ORVANE_AVX2 inline Rows1 LoadRows1(const float* M) {
    return {_mm_loadu_ps(M), _mm_loadu_ps(M + 4), _mm_loadu_ps(M + 8), _mm_loadu_ps(M + 12)};
}

ORVANE_AVX2 inline Rows2 LoadRows2(const float* a, const float* b) {
    return {LoadPair(a, b), LoadPair(a + 4, b + 4), LoadPair(a + 8, b + 8),
            LoadPair(a + 12, b + 12)};
}

template <int Bones, bool Indirect>
ORVANE_AVX2 inline Rows2 Blend2(const uint8_t* a, const uint8_t* b, const int32_t* table,
                                const float* matrices) {
    if constexpr (Bones == 1) {
        uint32_t boneA, boneB;
        std::memcpy(&boneA, a + 12, 4);
        std::memcpy(&boneB, b + 12, 4);
        return LoadRows2(MatrixFor<Indirect>(matrices, table, boneA),
                         MatrixFor<Indirect>(matrices, table, boneB));
    } else {
        Rows2 r;
        for (int k = 0; k < Bones; ++k) {
            const float* Ma = MatrixFor<Indirect>(matrices, table, a[12 + Bones + k]);
            const float* Mb = MatrixFor<Indirect>(matrices, table, b[12 + Bones + k]);
            const __m256 w =
                Pair(_mm_set1_ps(a[12 + k] * kWeightScale), _mm_set1_ps(b[12 + k] * kWeightScale));
            if (k == 0) {
                r.r0 = _mm256_mul_ps(w, LoadPair(Ma, Mb));
                r.r1 = _mm256_mul_ps(w, LoadPair(Ma + 4, Mb + 4));
                r.r2 = _mm256_mul_ps(w, LoadPair(Ma + 8, Mb + 8));
                r.r3 = _mm256_mul_ps(w, LoadPair(Ma + 12, Mb + 12));
            } else {
                r.r0 = _mm256_fmadd_ps(w, LoadPair(Ma, Mb), r.r0);
                r.r1 = _mm256_fmadd_ps(w, LoadPair(Ma + 4, Mb + 4), r.r1);
                r.r2 = _mm256_fmadd_ps(w, LoadPair(Ma + 8, Mb + 8), r.r2);
                r.r3 = _mm256_fmadd_ps(w, LoadPair(Ma + 12, Mb + 12), r.r3);
            }
        }
        return r;
    }
}

template <int Bones, bool Indirect>
ORVANE_AVX2 inline Rows1 Blend1(const uint8_t* a, const int32_t* table, const float* matrices) {
    if constexpr (Bones == 1) {
        uint32_t bone;
        std::memcpy(&bone, a + 12, 4);
        return LoadRows1(MatrixFor<Indirect>(matrices, table, bone));
    } else {
        Rows1 r;
        for (int k = 0; k < Bones; ++k) {
            const float* M = MatrixFor<Indirect>(matrices, table, a[12 + Bones + k]);
            const __m128 w = _mm_set1_ps(a[12 + k] * kWeightScale);
            if (k == 0) {
                r.r0 = _mm_mul_ps(w, _mm_loadu_ps(M));
                r.r1 = _mm_mul_ps(w, _mm_loadu_ps(M + 4));
                r.r2 = _mm_mul_ps(w, _mm_loadu_ps(M + 8));
                r.r3 = _mm_mul_ps(w, _mm_loadu_ps(M + 12));
            } else {
                r.r0 = _mm_fmadd_ps(w, _mm_loadu_ps(M), r.r0);
                r.r1 = _mm_fmadd_ps(w, _mm_loadu_ps(M + 4), r.r1);
                r.r2 = _mm_fmadd_ps(w, _mm_loadu_ps(M + 8), r.r2);
                r.r3 = _mm_fmadd_ps(w, _mm_loadu_ps(M + 12), r.r3);
            }
        }
        return r;
    }
}

template <int Bones, int Dirs, bool Indirect>
ORVANE_AVX2 void Avx2Kernel(int32_t count, const uint8_t* source, uint8_t* dest,
                            const int32_t* table, const float* matrices, int32_t tailWords) {
    constexpr int kBoneBytes = Bones == 0 ? 0 : Bones == 1 ? 4 : 2 * Bones;
    constexpr int kSourcePrefix = SourcePrefixBytes(Bones, Dirs);
    constexpr int kDestPrefix = DestPrefixBytes(Dirs);
    const size_t tailBytes = static_cast<size_t>(tailWords) * 4;
    const size_t sourceStride = kSourcePrefix + tailBytes;
    const size_t destStride = kDestPrefix + tailBytes;
    Rows1 rigid1{};
    Rows2 rigid2{};
    if constexpr (Bones == 0) {
        rigid1 = LoadRows1(MatrixFor<Indirect>(matrices, table, 0));
        rigid2 = {Pair(rigid1.r0, rigid1.r0), Pair(rigid1.r1, rigid1.r1),
                  Pair(rigid1.r2, rigid1.r2), Pair(rigid1.r3, rigid1.r3)};
    }
    int32_t v = 0;
    for (; v + 2 <= count; v += 2) {
        const uint8_t* a = source;
        const uint8_t* b = source + sourceStride;
        uint8_t* da = dest;
        uint8_t* db = dest + destStride;
        Rows2 m;
        if constexpr (Bones == 0)
            m = rigid2;
        else
            m = Blend2<Bones, Indirect>(a, b, table, matrices);
        const __m256 p = Point2(m, Pair(Load3(a), Load3(b)));
        Store3(da, _mm256_castps256_ps128(p));
        Store3(db, _mm256_extractf128_ps(p, 1));
        for (int k = 0; k < Dirs; ++k) {
            const int at = 12 + kBoneBytes + 12 * k;
            const __m256 d = Direction2(m, Pair(Load3(a + at), Load3(b + at)));
            Store3(da + 12 + 12 * k, _mm256_castps256_ps128(d));
            Store3(db + 12 + 12 * k, _mm256_extractf128_ps(d, 1));
        }
        CopyTailWords(da + kDestPrefix, a + kSourcePrefix, tailWords);
        CopyTailWords(db + kDestPrefix, b + kSourcePrefix, tailWords);
        source += 2 * sourceStride;
        dest += 2 * destStride;
    }
    if (v < count) {
        Rows1 m;
        if constexpr (Bones == 0)
            m = rigid1;
        else
            m = Blend1<Bones, Indirect>(source, table, matrices);
        Store3(dest, Point1(m, Load3(source)));
        for (int k = 0; k < Dirs; ++k)
            Store3(dest + 12 + 12 * k, Direction1(m, Load3(source + 12 + kBoneBytes + 12 * k)));
        CopyTailWords(dest + kDestPrefix, source + kSourcePrefix, tailWords);
    }
    _mm256_zeroupper();
}

template <int Bones>
constexpr DeformKernel kAvx2Row[3][2] = {
    {&Avx2Kernel<Bones, 1, false>, &Avx2Kernel<Bones, 1, true>},
    {&Avx2Kernel<Bones, 2, false>, &Avx2Kernel<Bones, 2, true>},
    {&Avx2Kernel<Bones, 3, false>, &Avx2Kernel<Bones, 3, true>}};

}  // namespace

DeformKernel Avx2DeformKernel(int bones, int dirs, bool indirect) {
    switch (BoneSlot(bones)) {
        case 0:
            return kAvx2Row<1>[dirs - 1][indirect];
        case 1:
            return kAvx2Row<2>[dirs - 1][indirect];
        case 2:
            return kAvx2Row<4>[dirs - 1][indirect];
        default:
            return kAvx2Row<0>[dirs - 1][indirect];
    }
}

#else

DeformKernel Avx2DeformKernel(int, int, bool) {
    return nullptr;
}

#endif

}  // namespace orvane

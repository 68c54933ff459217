// The AVX2/FMA world-pose path, chosen at run time on processors that have both. The products
// are fused multiply-adds, so results differ from the generic path by rounding only: each
// element within a few units in the last place of the largest term that it sums (the tests
// hold every element to 1e-5 of the matrices' magnitude).
//
// Only this module is compiled for AVX2 and FMA: the library's headers are included before
// the target switch so that no inline function of theirs is emitted here with those
// instructions, and everything defined after it stays internal to this module.
#include "pose/orvane_world_pose.h"

#include "math/orvane_math_internal.h"

#if ORVANE_MATH_HAS_SSE && !defined(ORVANE_WORLD_POSE_GENERIC_ONLY)
#define ORVANE_WORLD_POSE_HAS_AVX2 1
#include <immintrin.h>

ORVANE_BEGIN_AVX2_FMA

namespace orvane {
namespace {

#include "pose/orvane_world_pose_walk.h"

// A matrix as two registers: rows 0 and 1, rows 2 and 3. Two rows per instruction halve
// the multiply-adds and coefficient shuffles of a product.
struct Matrix {
    __m256 r01, r23;
};

inline __m128 KeepXYZ(__m128 v) {
    return _mm_blend_ps(v, _mm_setzero_ps(), 8);
}
// Fourth column 0, 0, 0 (and 1 in the translation row).
inline Matrix Clean(__m256 r01, __m256 r23) {
    return {_mm256_blend_ps(r01, _mm256_setzero_ps(), 0x88),
            _mm256_blend_ps(r23, _mm256_setr_ps(0, 0, 0, 0, 0, 0, 0, 1), 0x88)};
}
template <int I>
inline __m128 Splat(__m128 v) {
    return _mm_permute_ps(v, _MM_SHUFFLE(I, I, I, I));
}
template <int I>
inline __m256 Splat(__m256 v) {
    return _mm256_permute_ps(v, _MM_SHUFFLE(I, I, I, I));
}
// Exactly three floats; the masked lane is never read, so a lone float[3] is safe.
inline __m128 Load3(const float* p) {
    return _mm_maskload_ps(p, _mm_setr_epi32(-1, -1, -1, 0));
}

// The rows of the right-hand factor, each in both halves, and its translation row in the
// upper half only: what the products of two rows at a time multiply by.
struct Factor {
    __m256 b0, b1, b2, b3;
};
inline Factor FactorOf(const float* b) {
    return {_mm256_broadcast_ps(reinterpret_cast<const __m128*>(b)),
            _mm256_broadcast_ps(reinterpret_cast<const __m128*>(b + 4)),
            _mm256_broadcast_ps(reinterpret_cast<const __m128*>(b + 8)),
            _mm256_insertf128_ps(_mm256_setzero_ps(), _mm_loadu_ps(b + 12), 1)};
}
inline Factor FactorOf(const Matrix& m) {
    return {_mm256_permute2f128_ps(m.r01, m.r01, 0x00), _mm256_permute2f128_ps(m.r01, m.r01, 0x11),
            _mm256_permute2f128_ps(m.r23, m.r23, 0x00), _mm256_permute2f128_ps(m.r23, m.r23, 0x18)};
}

// The affine product of a01 = (row 0, row 1) and a23 = (row 2, translation) with b: each
// element a0 b0 + a1 b1 + a2 b2 (+ b3 in the translation row), fused.
inline Matrix Product(__m256 a01, __m256 a23, const Factor& b) {
    __m256 r01 = _mm256_mul_ps(Splat<0>(a01), b.b0);
    r01 = _mm256_fmadd_ps(Splat<1>(a01), b.b1, r01);
    r01 = _mm256_fmadd_ps(Splat<2>(a01), b.b2, r01);
    __m256 r23 = _mm256_fmadd_ps(Splat<0>(a23), b.b0, b.b3);
    r23 = _mm256_fmadd_ps(Splat<1>(a23), b.b1, r23);
    r23 = _mm256_fmadd_ps(Splat<2>(a23), b.b2, r23);
    return Clean(r01, r23);
}

// The operations of RotationColumns on one quaternion (__m128) or two, one in each half
// (__m256): the same instructions per half, so each half's columns are its quaternion's alone.
inline __m128 Add(__m128 a, __m128 b) {
    return _mm_add_ps(a, b);
}
inline __m256 Add(__m256 a, __m256 b) {
    return _mm256_add_ps(a, b);
}
inline __m128 Xor(__m128 a, __m128 b) {
    return _mm_xor_ps(a, b);
}
inline __m256 Xor(__m256 a, __m256 b) {
    return _mm256_xor_ps(a, b);
}
inline __m128 Fmadd(__m128 a, __m128 b, __m128 c) {
    return _mm_fmadd_ps(a, b, c);
}
inline __m256 Fmadd(__m256 a, __m256 b, __m256 c) {
    return _mm256_fmadd_ps(a, b, c);
}
template <int I>
inline __m128 Permute(__m128 v) {
    return _mm_permute_ps(v, I);
}
template <int I>
inline __m256 Permute(__m256 v) {
    return _mm256_permute_ps(v, I);
}
inline __m256 KeepXYZ(__m256 v) {
    return _mm256_blend_ps(v, _mm256_setzero_ps(), 0x88);
}
// Four lanes, in each half.
template <class V>
inline V Lanes(float a, float b, float c, float d) {
    if constexpr (sizeof(V) == 16)
        return _mm_setr_ps(a, b, c, d);
    else
        return _mm256_setr_ps(a, b, c, d, a, b, c, d);
}

// The columns of R(q) (rows of the local matrix), fourth lanes zero.
template <class V>
inline void RotationColumns(V q, V* c0, V* c1, V* c2) {
    const V q2 = Add(q, q);
    const V x2 = Splat<0>(q2), y2 = Splat<1>(q2), z2 = Splat<2>(q2);
    const V yxww = Permute<_MM_SHUFFLE(3, 3, 0, 1)>(q);
    const V zwxx = Permute<_MM_SHUFFLE(0, 0, 3, 2)>(q);
    const V wzyy = Permute<_MM_SHUFFLE(1, 1, 2, 3)>(q);
    // column 0 = e0 + 2y (-y, x, -w) + 2z (-z, w, x)
    // column 1 = e1 + 2x (y, -x, w) + 2z (-w, -z, y)
    // column 2 = e2 + 2x (z, -w, -x) + 2y (w, z, -y)
    const V n0 = Xor(yxww, Lanes<V>(-0.0f, 0.0f, -0.0f, 0.0f));
    const V n1 = Xor(zwxx, Lanes<V>(-0.0f, 0.0f, 0.0f, 0.0f));
    const V n2 = Xor(yxww, Lanes<V>(0.0f, -0.0f, 0.0f, 0.0f));
    const V n3 = Xor(wzyy, Lanes<V>(-0.0f, -0.0f, 0.0f, 0.0f));
    const V n4 = Xor(zwxx, Lanes<V>(0.0f, -0.0f, -0.0f, 0.0f));
    const V n5 = Xor(wzyy, Lanes<V>(0.0f, 0.0f, -0.0f, 0.0f));
    *c0 = KeepXYZ(Fmadd(y2, n0, Fmadd(z2, n1, Lanes<V>(1, 0, 0, 0))));
    *c1 = KeepXYZ(Fmadd(x2, n2, Fmadd(z2, n3, Lanes<V>(0, 1, 0, 0))));
    *c2 = KeepXYZ(Fmadd(x2, n4, Fmadd(y2, n5, Lanes<V>(0, 0, 1, 0))));
}

// The matrix operations of this path; MatrixKernel builds the per-bone entry points on them.
struct Avx2Matrices {
    static Matrix Load(const float* m) { return {_mm256_loadu_ps(m), _mm256_loadu_ps(m + 8)}; }
    static void Store(float* m, const Matrix& a) {
        _mm256_storeu_ps(m, a.r01);
        _mm256_storeu_ps(m + 8, a.r23);
    }
    static void StoreComposite(const float* iw, const Matrix& w, float* composite) {
        Store(composite, Product(_mm256_loadu_ps(iw), _mm256_loadu_ps(iw + 8), FactorOf(w)));
    }

    static Matrix WorldPositionOrientationM(const float* position, const float* orientation,
                                            const float* parent) {
        return WorldPositionOrientationF(position, orientation, FactorOf(parent));
    }
    static Matrix WorldFullM(const orvane_transform& t, const float* parent) {
        return WorldFullF(t, FactorOf(parent));
    }
    static Matrix WorldPositionM(const float* position, const float* parent) {
        return WorldPositionF(position, FactorOf(parent));
    }

    // The same with the parent's matrix as a factor, loaded or kept in registers.
    static Matrix WorldPositionOrientationF(const float* position, const float* orientation,
                                            const Factor& parent) {
        __m128 c0, c1, c2;
        RotationColumns(_mm_loadu_ps(orientation), &c0, &c1, &c2);
        return Product(_mm256_set_m128(c1, c0), _mm256_set_m128(Load3(position), c2), parent);
    }
    static Matrix WorldFullF(const orvane_transform& t, const Factor& parent) {
        __m128 c0, c1, c2;
        RotationColumns(_mm_loadu_ps(t.Orientation), &c0, &c1, &c2);
        // Row j of the local matrix: the sum over k of column k of R times S[k][j].
        const float* s = &t.ScaleShear[0][0];
        const __m128 m0 = _mm_fmadd_ps(
            c2, _mm_broadcast_ss(s + 6),
            _mm_fmadd_ps(c1, _mm_broadcast_ss(s + 3), _mm_mul_ps(c0, _mm_broadcast_ss(s))));
        const __m128 m1 = _mm_fmadd_ps(
            c2, _mm_broadcast_ss(s + 7),
            _mm_fmadd_ps(c1, _mm_broadcast_ss(s + 4), _mm_mul_ps(c0, _mm_broadcast_ss(s + 1))));
        const __m128 m2 = _mm_fmadd_ps(
            c2, _mm_broadcast_ss(s + 8),
            _mm_fmadd_ps(c1, _mm_broadcast_ss(s + 5), _mm_mul_ps(c0, _mm_broadcast_ss(s + 2))));
        return Product(_mm256_set_m128(m1, m0), _mm256_set_m128(Load3(t.Position), m2), parent);
    }
    static Matrix WorldPositionF(const float* position, const Factor& parent) {
        // Rows 0..2 are the parent's; the translation row is t * parent + parent row 3.
        const __m128 t = Load3(position);
        const __m128 p0 = _mm256_castps256_ps128(parent.b0);
        const __m128 p1 = _mm256_castps256_ps128(parent.b1);
        const __m128 p2 = _mm256_castps256_ps128(parent.b2);
        __m128 r3 = _mm_fmadd_ps(Splat<0>(t), p0, _mm256_extractf128_ps(parent.b3, 1));
        r3 = _mm_fmadd_ps(Splat<1>(t), p1, r3);
        r3 = _mm_fmadd_ps(Splat<2>(t), p2, r3);
        r3 = _mm_blend_ps(r3, _mm_set1_ps(1.0f), 8);
        return {_mm256_set_m128(p1, p0), _mm256_set_m128(r3, p2)};
    }
    static Matrix WorldIdentityF(const Factor& parent) {
        return {_mm256_blend_ps(parent.b0, parent.b1, 0xF0),
                _mm256_blend_ps(parent.b2, parent.b3, 0xF0)};
    }
};

using Avx2Kernel = MatrixKernel<Avx2Matrices>;

// Whether WorldOf takes a transform with these flags through its rotation (and position) alone.
inline bool TakesRotation(uint32_t flags) {
    return !(flags & OrvaneTransformHasScaleShear) && flags != OrvaneTransformHasPosition &&
           flags != 0;
}

// A bone's world matrix from its local transform and its parent's matrix as a factor, chosen
// by the transform's flags as the walk chooses.
inline Matrix WorldOf(const orvane_transform& t, const Factor& parent) {
    if (t.Flags & OrvaneTransformHasScaleShear) return Avx2Matrices::WorldFullF(t, parent);
    if (t.Flags == OrvaneTransformHasPosition)
        return Avx2Matrices::WorldPositionF(t.Position, parent);
    if (t.Flags == 0) return Avx2Matrices::WorldIdentityF(parent);
    return Avx2Matrices::WorldPositionOrientationF(t.Position, t.Orientation, parent);
}

// The walk without composite matrices, for this path: a bone whose parent is the bone before
// it (the run of a chain) takes the parent's matrix from registers instead of reloading what
// was just stored.
template <>
int32_t KernelBuildRange<Avx2Kernel>(const orvane_bone* bones, int32_t first, int32_t end,
                                     const WorldPoseSource& source, const float* offset,
                                     float* worlds, float* composites) {
    if (composites)
        return KernelWalk<Avx2Kernel, true>(bones, first, end, source, offset, worlds, composites);
    Matrix last{};
    for (int32_t i = first; i < end; ++i) {
        const int32_t p = bones[i].ParentIndex;
        if (!ParentPrecedes(p, i)) [[unlikely]]
            return i;
        const orvane_transform& t = SourceTransform(bones, source, i);
        const Factor parent = p >= 0 && p == i - 1 && i > first
                                  ? FactorOf(last)
                                  : FactorOf(p < 0 ? offset : worlds + 16 * size_t(p));
        if (i + 1 < end && TakesRotation(t.Flags)) {
            // Two bones in a row that both rotate (most of a posed skeleton): their rotations'
            // columns in one pass of two halves, then each product as the walk makes it.
            const int32_t p2 = bones[i + 1].ParentIndex;
            const orvane_transform& t2 = SourceTransform(bones, source, i + 1);
            if (ParentPrecedes(p2, i + 1) && TakesRotation(t2.Flags)) {
                __m256 c0, c1, c2;
                RotationColumns(
                    _mm256_set_m128(_mm_loadu_ps(t2.Orientation), _mm_loadu_ps(t.Orientation)), &c0,
                    &c1, &c2);
                const __m256 positions = _mm256_set_m128(Load3(t2.Position), Load3(t.Position));
                last = Product(_mm256_permute2f128_ps(c0, c1, 0x20),
                               _mm256_permute2f128_ps(c2, positions, 0x20), parent);
                Avx2Matrices::Store(worlds + 16 * size_t(i), last);
                const Factor parent2 =
                    p2 == i ? FactorOf(last) : FactorOf(p2 < 0 ? offset : worlds + 16 * size_t(p2));
                last = Product(_mm256_permute2f128_ps(c0, c1, 0x31),
                               _mm256_permute2f128_ps(c2, positions, 0x31), parent2);
                Avx2Matrices::Store(worlds + 16 * size_t(i + 1), last);
                ++i;
                continue;
            }
        }
        last = WorldOf(t, parent);
        Avx2Matrices::Store(worlds + 16 * size_t(i), last);
    }
    return end;
}

// Constant-initialised: no code of this module runs before the path is chosen.
constexpr WorldPoseRoutines kAvx2 = MakeRoutines<Avx2Kernel>(WorldPosePath::AVX2, "avx2");

}  // namespace
}  // namespace orvane

ORVANE_END_AVX2_FMA

namespace orvane {
const WorldPoseRoutines* Avx2WorldPoseRoutines() {
    return &kAvx2;
}
}  // namespace orvane

#else

namespace orvane {
const WorldPoseRoutines* Avx2WorldPoseRoutines() {
    return nullptr;
}
}  // namespace orvane

#endif

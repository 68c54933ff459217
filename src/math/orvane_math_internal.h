// The small linear-algebra kernel beneath transforms, poses and basis conversion.
//
// 3x3 matrices are nine floats, row-major, multiplying column vectors; 4x4 matrices are sixteen
// floats with one column of the column-vector matrix per group of four (translation in 12..14);
// quaternions are x, y, z, w with Hamilton products. Every function here may be called with its
// destination equal to one of its sources: inputs are read before anything is written.
//
// The per-bone kernels (transform product, 4x4 composite, affine 4x4 product, R(q), quaternion
// product) have a scalar form in orvane::scalar and, on x86-64, an SSE form in orvane::sse; the
// plain names in orvane pick the SSE form where there is one. Both forms perform the same
// operations in the same order, so they agree to the last bit except for the sign of zeros.
#ifndef ORVANE_MATH_INTERNAL_H
#define ORVANE_MATH_INTERNAL_H

#include "core/orvane_private.h"
#include "orvane/math.h"

#include <cstdint>
#include <cstring>

// ORVANE_MATH_NO_SSE builds the scalar kernels on x86-64 too, to test the other platforms' path.
#if defined(__x86_64__) && !defined(ORVANE_MATH_NO_SSE)
#include <emmintrin.h>
#define ORVANE_MATH_HAS_SSE 1
#else
#define ORVANE_MATH_HAS_SSE 0
#endif

// Between these two, every function defined is compiled for AVX2 and FMA: the modules of the
// AVX2 paths put them around their own code (and around the shared loops they instantiate), after
// the library's headers, so that no inline function of those is emitted with those
// instructions.
#if defined(__clang__)
#define ORVANE_BEGIN_AVX2_FMA \
    _Pragma("clang attribute push(__attribute__((target(\"avx2,fma\"))), apply_to = function)")
#define ORVANE_END_AVX2_FMA _Pragma("clang attribute pop")
#else
#define ORVANE_BEGIN_AVX2_FMA _Pragma("GCC push_options") _Pragma("GCC target(\"avx2,fma\")")
#define ORVANE_END_AVX2_FMA _Pragma("GCC pop_options")
#endif

namespace orvane {

static_assert(sizeof(orvane_transform) == 68, "transforms are stored as 68 bytes in files");

// The identity values that clear flags stand for.
inline constexpr float kIdentityPosition[3] = {0.0f, 0.0f, 0.0f};
inline constexpr float kIdentityOrientation[4] = {0.0f, 0.0f, 0.0f, 1.0f};
inline constexpr float kIdentityScaleShear[9] = {1.0f, 0.0f, 0.0f, 0.0f, 1.0f,
                                                 0.0f, 0.0f, 0.0f, 1.0f};

inline float* ScaleShearOf(orvane_transform& t) {
    return &t.ScaleShear[0][0];
}
inline const float* ScaleShearOf(const orvane_transform& t) {
    return &t.ScaleShear[0][0];
}

// ---------------------------------------------------------------------------------------------
// 3x3 matrices and vectors

// dest = op(a) * b, op(a) being a (TransposeA false) or its transpose. Every operand is read
// into locals before dest is written (dest may be a or b), and the loops unroll completely:
// loops over the arrays themselves keep the operands in memory and reload them as vectors
// right after scalar stores, which stalls store forwarding.
template <bool TransposeA>
inline void Product3x3(float dest[9], const float a[9], const float b[9]) {
    const float x[9] = {a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8]};
    const float y[9] = {b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8]};
#pragma GCC unroll 3
    for (int i = 0; i < 3; ++i) {
        // Row i of op(a): elements r[0], r[s], r[2s].
        const float* r = TransposeA ? x + i : x + 3 * i;
        constexpr int s = TransposeA ? 3 : 1;
#pragma GCC unroll 3
        for (int j = 0; j < 3; ++j)
            dest[3 * i + j] = r[0] * y[j] + r[s] * y[3 + j] + r[2 * s] * y[6 + j];
    }
}

// dest = a * b
inline void Multiply3x3(float dest[9], const float a[9], const float b[9]) {
    Product3x3<false>(dest, a, b);
}

// dest = transpose(a) * b
inline void TransposeMultiply3x3(float dest[9], const float a[9], const float b[9]) {
    Product3x3<true>(dest, a, b);
}

// dest = op(m) * v, op(m) being m (TransposeM false) or its transpose; v is read first, m as
// each element of dest is written.
template <bool TransposeM>
inline void Apply3x3(float dest[3], const float m[9], const float v[3]) {
    const float x = v[0], y = v[1], z = v[2];
    constexpr int s = TransposeM ? 3 : 1;
#pragma GCC unroll 3
    for (int i = 0; i < 3; ++i) {
        const float* r = TransposeM ? m + i : m + 3 * i;
        dest[i] = r[0] * x + r[s] * y + r[2 * s] * z;
    }
}

// dest = m * v
inline void Transform3x3(float dest[3], const float m[9], const float v[3]) {
    Apply3x3<false>(dest, m, v);
}

// dest = transpose(m) * v
inline void TransposeTransform3x3(float dest[3], const float m[9], const float v[3]) {
    Apply3x3<true>(dest, m, v);
}

inline float Determinant3x3(const float s[9]) {
    return (s[4] * s[8] - s[5] * s[7]) * s[0] - (s[3] * s[8] - s[5] * s[6]) * s[1] +
           (s[3] * s[7] - s[4] * s[6]) * s[2];
}

// dest = source^-1 by the adjugate over the determinant. A determinant of exactly 0 has no
// inverse: dest becomes the zero matrix and the result is false.
bool Invert3x3(float dest[9], const float source[9]);

// Inverts an affine 4x4 matrix: the 3x3 block as Invert3x3 does (zero block and false when
// singular), elements 3, 7, 11 = 0 and 15 = 1, translation = -(t * block^-1) with t the source
// translation as a row vector.
bool InvertAffine4x4(float dest[16], const float source[16]);

// ---------------------------------------------------------------------------------------------
// Quaternions

namespace scalar {

// dest = R(q), q not normalised.
inline void RotationMatrix(float dest[9], const float q[4]) {
    float x = q[0], y = q[1], z = q[2], w = q[3];
    dest[0] = 1.0f - 2.0f * (y * y + z * z);
    dest[1] = 2.0f * (x * y - z * w);
    dest[2] = 2.0f * (x * z + y * w);
    dest[3] = 2.0f * (x * y + z * w);
    dest[4] = 1.0f - 2.0f * (x * x + z * z);
    dest[5] = 2.0f * (y * z - x * w);
    dest[6] = 2.0f * (x * z - y * w);
    dest[7] = 2.0f * (y * z + x * w);
    dest[8] = 1.0f - 2.0f * (x * x + y * y);
}

// dest = a (x) b: b's rotation first, then a's. The four terms of each component are summed in
// two pairs, the grouping the SSE form uses.
inline void QuaternionMultiply(float dest[4], const float a[4], const float b[4]) {
    float ax = a[0], ay = a[1], az = a[2], aw = a[3];
    float bx = b[0], by = b[1], bz = b[2], bw = b[3];
    dest[0] = (ax * bw - az * by) + (ay * bz + aw * bx);
    dest[1] = (ay * bw - ax * bz) + (az * bx + aw * by);
    dest[2] = (az * bw - ay * bx) + (ax * by + aw * bz);
    dest[3] = (aw * bw - ax * bx) - (az * bz + ay * by);
}

// Result = A o B (B first); the three 3x3 products are taken in the order Rb * Sb, then
// Sa * that, then Rb^T * that, so that Ra * Rb * Result.ScaleShear = Ra * Sa * Rb * Sb.
inline void Multiply(orvane_transform& result, const orvane_transform& a,
                     const orvane_transform& b) {
    float ra[9], rb[9], s[9], p[3], q[4];
    RotationMatrix(ra, a.Orientation);
    RotationMatrix(rb, b.Orientation);
    Multiply3x3(s, rb, ScaleShearOf(b));
    Multiply3x3(s, ScaleShearOf(a), s);
    TransposeMultiply3x3(s, rb, s);
    Transform3x3(p, ScaleShearOf(a), b.Position);
    Transform3x3(p, ra, p);
    p[0] += a.Position[0];
    p[1] += a.Position[1];
    p[2] += a.Position[2];
    QuaternionMultiply(q, a.Orientation, b.Orientation);
    // Element by element: a block copy would reload the scalar results as vectors.
    result.Flags = a.Flags | b.Flags;
    for (int i = 0; i < 3; ++i)
        result.Position[i] = p[i];
    for (int i = 0; i < 4; ++i)
        result.Orientation[i] = q[i];
    float* rs = ScaleShearOf(result);
    for (int i = 0; i < 9; ++i)
        rs[i] = s[i];
}

// The 4x4 matrix of a transform; the scale/shear product is skipped when its flag is clear.
inline void BuildCompositeTransform4x4(const orvane_transform& t, float dest[16]) {
    float m[9];
    RotationMatrix(m, t.Orientation);
    if (t.Flags & OrvaneTransformHasScaleShear) Multiply3x3(m, m, ScaleShearOf(t));
    for (int j = 0; j < 3; ++j) {
        dest[4 * j] = m[j];
        dest[4 * j + 1] = m[3 + j];
        dest[4 * j + 2] = m[6 + j];
        dest[4 * j + 3] = 0.0f;
    }
    dest[12] = t.Position[0];
    dest[13] = t.Position[1];
    dest[14] = t.Position[2];
    dest[15] = 1.0f;
}

// Row-major array product of two affine 4x4 matrices (apply a, then b); elements 3, 7, 11, 15
// of the inputs are not read.
inline void ColumnMatrixMultiply4x3(float result[16], const float a[16], const float b[16]) {
    float x[16], y[16];  // copies, so that result may be a or b
    std::memcpy(x, a, sizeof(x));
    std::memcpy(y, b, sizeof(y));
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 3; ++j) {
            result[4 * i + j] = x[4 * i] * y[j] + x[4 * i + 1] * y[4 + j] + x[4 * i + 2] * y[8 + j];
        }
        result[4 * i + 3] = 0.0f;
    }
    result[12] += y[12];
    result[13] += y[13];
    result[14] += y[14];
    result[15] = 1.0f;
}

// Row-major array product of two general 4x4 matrices.
inline void ColumnMatrixMultiply4x4(float result[16], const float a[16], const float b[16]) {
    float x[16], y[16];
    std::memcpy(x, a, sizeof(x));
    std::memcpy(y, b, sizeof(y));
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            result[4 * i + j] = x[4 * i] * y[j] + x[4 * i + 1] * y[4 + j] +
                                x[4 * i + 2] * y[8 + j] + x[4 * i + 3] * y[12 + j];
        }
    }
}

}  // namespace scalar

#if ORVANE_MATH_HAS_SSE
namespace sse {

// Lane helpers. Shuffle<a, b, c, d> picks lanes a, b, c, d of v (pshufd: it does not need its
// destination to be a copy of the source).
template <int A, int B, int C, int D>
inline __m128 Shuffle(__m128 v) {
    return _mm_castsi128_ps(_mm_shuffle_epi32(_mm_castps_si128(v), _MM_SHUFFLE(D, C, B, A)));
}
template <int I>
inline __m128 Splat(__m128 v) {
    return Shuffle<I, I, I, I>(v);
}
// Flips the sign of the lanes whose flag is set.
template <bool A, bool B, bool C, bool D>
inline __m128 Negate(__m128 v) {
    const __m128 mask =
        _mm_setr_ps(A ? -0.0f : 0.0f, B ? -0.0f : 0.0f, C ? -0.0f : 0.0f, D ? -0.0f : 0.0f);
    return _mm_xor_ps(v, mask);
}
inline __m128 KeepXYZ(__m128 v) {
    return _mm_and_ps(v, _mm_castsi128_ps(_mm_setr_epi32(-1, -1, -1, 0)));
}
// Reads exactly three floats (the fourth lane is 0), for the ends of records.
inline __m128 Load3(const float* p) {
    // The 64-bit integer load is the one declared for addresses of any alignment.
    __m128 xy = _mm_castsi128_ps(_mm_loadu_si64(p));
    return _mm_movelh_ps(xy, _mm_load_ss(p + 2));
}
// Writes the rows of a 3x3 matrix (fourth lanes ignored) to nine floats.
inline void StoreRows3x3(float dest[9], __m128 r0, __m128 r1, __m128 r2) {
    // The last four floats are (r1.z, r2.x, r2.y, r2.z).
    __m128 t = _mm_shuffle_ps(r1, r2, _MM_SHUFFLE(0, 0, 2, 2));
    __m128 tail = _mm_shuffle_ps(t, r2, _MM_SHUFFLE(2, 1, 2, 0));
    _mm_storeu_ps(dest, r0);
    _mm_storeu_ps(dest + 3, r1);
    _mm_storeu_ps(dest + 5, tail);
}

// The rows of R(q), written as e_i + 2a * (..) + 2b * (..) so that every lane performs the
// operations of the scalar formula in the same order.
struct Rows {
    __m128 r0, r1, r2;
};
inline Rows RotationRows(__m128 q) {
    __m128 q2 = _mm_add_ps(q, q);
    __m128 x2 = Splat<0>(q2), y2 = Splat<1>(q2), z2 = Splat<2>(q2);
    // row 0 = e0 + 2y (-y, x, w) + 2z (-z, -w, x)
    __m128 r0 =
        _mm_add_ps(_mm_mul_ps(y2, Negate<true, false, false, false>(Shuffle<1, 0, 3, 3>(q))),
                   _mm_mul_ps(z2, Negate<true, true, false, false>(Shuffle<2, 3, 0, 0>(q))));
    // row 1 = e1 + 2x (y, -x, -w) + 2z (w, -z, y)
    __m128 r1 =
        _mm_add_ps(_mm_mul_ps(x2, Negate<false, true, true, false>(Shuffle<1, 0, 3, 3>(q))),
                   _mm_mul_ps(z2, Negate<false, true, false, false>(Shuffle<3, 2, 1, 1>(q))));
    // row 2 = e2 + 2x (z, w, -x) + 2y (-w, z, -y)
    __m128 r2 =
        _mm_add_ps(_mm_mul_ps(x2, Negate<false, false, true, false>(Shuffle<2, 3, 0, 0>(q))),
                   _mm_mul_ps(y2, Negate<true, false, true, false>(Shuffle<3, 2, 1, 1>(q))));
    return {_mm_add_ps(r0, _mm_setr_ps(1.0f, 0.0f, 0.0f, 0.0f)),
            _mm_add_ps(r1, _mm_setr_ps(0.0f, 1.0f, 0.0f, 0.0f)),
            _mm_add_ps(r2, _mm_setr_ps(0.0f, 0.0f, 1.0f, 0.0f))};
}
// The columns of R(q) (fourth lanes 0).
inline Rows RotationColumns(__m128 q) {
    __m128 q2 = _mm_add_ps(q, q);
    __m128 x2 = Splat<0>(q2), y2 = Splat<1>(q2), z2 = Splat<2>(q2);
    // column 0 = e0 + 2y (-y, x, -w) + 2z (-z, w, x)
    __m128 c0 =
        _mm_add_ps(_mm_mul_ps(y2, Negate<true, false, true, false>(Shuffle<1, 0, 3, 3>(q))),
                   _mm_mul_ps(z2, Negate<true, false, false, false>(Shuffle<2, 3, 0, 0>(q))));
    // column 1 = e1 + 2x (y, -x, w) + 2z (-w, -z, y)
    __m128 c1 =
        _mm_add_ps(_mm_mul_ps(x2, Negate<false, true, false, false>(Shuffle<1, 0, 3, 3>(q))),
                   _mm_mul_ps(z2, Negate<true, true, false, false>(Shuffle<3, 2, 1, 1>(q))));
    // column 2 = e2 + 2x (z, -w, -x) + 2y (w, z, -y)
    __m128 c2 =
        _mm_add_ps(_mm_mul_ps(x2, Negate<false, true, true, false>(Shuffle<2, 3, 0, 0>(q))),
                   _mm_mul_ps(y2, Negate<false, false, true, false>(Shuffle<3, 2, 1, 1>(q))));
    return {KeepXYZ(_mm_add_ps(c0, _mm_setr_ps(1.0f, 0.0f, 0.0f, 0.0f))),
            KeepXYZ(_mm_add_ps(c1, _mm_setr_ps(0.0f, 1.0f, 0.0f, 0.0f))),
            KeepXYZ(_mm_add_ps(c2, _mm_setr_ps(0.0f, 0.0f, 1.0f, 0.0f)))};
}

inline __m128 QuaternionProduct(__m128 a, __m128 b) {
    // Lanes x, y, z of a (x) b are a_i bw - a_k b_j + a_j b_k + aw b_i for the cyclic (i, j, k);
    // lane w is aw bw - ax bx - (az bz + ay by). The fourth lanes of the shuffles are chosen so
    // that the same two pairs give w once the last lane of the second pair is negated.
    __m128 first = _mm_sub_ps(_mm_mul_ps(a, Splat<3>(b)),
                              _mm_mul_ps(Shuffle<2, 0, 1, 0>(a), Shuffle<1, 2, 0, 0>(b)));
    __m128 second = _mm_add_ps(_mm_mul_ps(Shuffle<1, 2, 0, 2>(a), Shuffle<2, 0, 1, 2>(b)),
                               _mm_mul_ps(Shuffle<3, 3, 3, 1>(a), Shuffle<0, 1, 2, 1>(b)));
    return _mm_add_ps(first, Negate<false, false, false, true>(second));
}

inline void RotationMatrix(float dest[9], const float q[4]) {
    Rows r = RotationRows(_mm_loadu_ps(q));
    StoreRows3x3(dest, r.r0, r.r1, r.r2);
}

inline void QuaternionMultiply(float dest[4], const float a[4], const float b[4]) {
    _mm_storeu_ps(dest, QuaternionProduct(_mm_loadu_ps(a), _mm_loadu_ps(b)));
}

inline void Multiply(orvane_transform& result, const orvane_transform& a,
                     const orvane_transform& b) {
    // Everything is read before anything is written, so result may be a or b. A record's
    // last row is read as (S5, S6, S7, S8) to stay inside its 68 bytes.
    const float* sa = ScaleShearOf(a);
    const float* sb = ScaleShearOf(b);
    __m128 qa = _mm_loadu_ps(a.Orientation);
    __m128 qb = _mm_loadu_ps(b.Orientation);
    __m128 pa = _mm_loadu_ps(a.Position);  // fourth lane is Orientation.x, never used
    __m128 pb = _mm_loadu_ps(b.Position);
    __m128 sb0 = _mm_loadu_ps(sb), sb1 = _mm_loadu_ps(sb + 3);
    __m128 sb2 = Shuffle<1, 2, 3, 3>(_mm_loadu_ps(sb + 5));
    __m128 sa0 = _mm_loadu_ps(sa), sa1 = _mm_loadu_ps(sa + 3);
    __m128 sa2 = Shuffle<1, 2, 3, 3>(_mm_loadu_ps(sa + 5));
    uint32_t flags = a.Flags | b.Flags;

    Rows rb = RotationRows(qb);
    __m128 b00 = Splat<0>(rb.r0), b01 = Splat<1>(rb.r0), b02 = Splat<2>(rb.r0);
    __m128 b10 = Splat<0>(rb.r1), b11 = Splat<1>(rb.r1), b12 = Splat<2>(rb.r1);
    __m128 b20 = Splat<0>(rb.r2), b21 = Splat<1>(rb.r2), b22 = Splat<2>(rb.r2);
    // X = Rb * Sb
    __m128 x0 =
        _mm_add_ps(_mm_add_ps(_mm_mul_ps(b00, sb0), _mm_mul_ps(b01, sb1)), _mm_mul_ps(b02, sb2));
    __m128 x1 =
        _mm_add_ps(_mm_add_ps(_mm_mul_ps(b10, sb0), _mm_mul_ps(b11, sb1)), _mm_mul_ps(b12, sb2));
    __m128 x2 =
        _mm_add_ps(_mm_add_ps(_mm_mul_ps(b20, sb0), _mm_mul_ps(b21, sb1)), _mm_mul_ps(b22, sb2));
    // Y = Sa * X, and u = Sa * Pb in every lane from the same broadcasts.
    __m128 pbx = Splat<0>(pb), pby = Splat<1>(pb), pbz = Splat<2>(pb);
    __m128 y[3], u[3];
    const __m128 sar[3] = {sa0, sa1, sa2};
    for (int i = 0; i < 3; ++i) {
        __m128 s0 = Splat<0>(sar[i]), s1 = Splat<1>(sar[i]), s2 = Splat<2>(sar[i]);
        y[i] = _mm_add_ps(_mm_add_ps(_mm_mul_ps(s0, x0), _mm_mul_ps(s1, x1)), _mm_mul_ps(s2, x2));
        u[i] =
            _mm_add_ps(_mm_add_ps(_mm_mul_ps(s0, pbx), _mm_mul_ps(s1, pby)), _mm_mul_ps(s2, pbz));
    }
    // Z = Rb^T * Y
    __m128 z0 =
        _mm_add_ps(_mm_add_ps(_mm_mul_ps(b00, y[0]), _mm_mul_ps(b10, y[1])), _mm_mul_ps(b20, y[2]));
    __m128 z1 =
        _mm_add_ps(_mm_add_ps(_mm_mul_ps(b01, y[0]), _mm_mul_ps(b11, y[1])), _mm_mul_ps(b21, y[2]));
    __m128 z2 =
        _mm_add_ps(_mm_add_ps(_mm_mul_ps(b02, y[0]), _mm_mul_ps(b12, y[1])), _mm_mul_ps(b22, y[2]));
    // P = Ra * u + Pa
    Rows ca = RotationColumns(qa);
    __m128 p = _mm_add_ps(_mm_add_ps(_mm_mul_ps(ca.r0, u[0]), _mm_mul_ps(ca.r1, u[1])),
                          _mm_mul_ps(ca.r2, u[2]));
    p = _mm_add_ps(p, pa);
    __m128 q = QuaternionProduct(qa, qb);

    result.Flags = flags;
    _mm_storeu_ps(result.Position, p);  // its fourth lane is overwritten next
    _mm_storeu_ps(result.Orientation, q);
    StoreRows3x3(ScaleShearOf(result), z0, z1, z2);
}

inline void BuildCompositeTransform4x4(const orvane_transform& t, float dest[16]) {
    Rows c = RotationColumns(_mm_loadu_ps(t.Orientation));
    __m128 p = _mm_loadu_ps(t.Position);
    if (t.Flags & OrvaneTransformHasScaleShear) {
        // Column j of R * S is the sum over k of column k of R times S[k][j].
        const float* s = ScaleShearOf(t);
        __m128 s0 = _mm_loadu_ps(s), s1 = _mm_loadu_ps(s + 3);
        __m128 s2 = Shuffle<1, 2, 3, 3>(_mm_loadu_ps(s + 5));
        Rows m;
        m.r0 =
            _mm_add_ps(_mm_add_ps(_mm_mul_ps(c.r0, Splat<0>(s0)), _mm_mul_ps(c.r1, Splat<0>(s1))),
                       _mm_mul_ps(c.r2, Splat<0>(s2)));
        m.r1 =
            _mm_add_ps(_mm_add_ps(_mm_mul_ps(c.r0, Splat<1>(s0)), _mm_mul_ps(c.r1, Splat<1>(s1))),
                       _mm_mul_ps(c.r2, Splat<1>(s2)));
        m.r2 =
            _mm_add_ps(_mm_add_ps(_mm_mul_ps(c.r0, Splat<2>(s0)), _mm_mul_ps(c.r1, Splat<2>(s1))),
                       _mm_mul_ps(c.r2, Splat<2>(s2)));
        c = m;
    }
    _mm_storeu_ps(dest, c.r0);
    _mm_storeu_ps(dest + 4, c.r1);
    _mm_storeu_ps(dest + 8, c.r2);
    _mm_storeu_ps(dest + 12, _mm_or_ps(KeepXYZ(p), _mm_setr_ps(0.0f, 0.0f, 0.0f, 1.0f)));
}

inline void ColumnMatrixMultiply4x3(float result[16], const float a[16], const float b[16]) {
    // b is read whole before the first store, and row i of a just before row i of the result,
    // so result may be a or b.
    __m128 b0 = _mm_loadu_ps(b), b1 = _mm_loadu_ps(b + 4), b2 = _mm_loadu_ps(b + 8);
    __m128 b3 = KeepXYZ(_mm_loadu_ps(b + 12));
    for (int i = 0; i < 4; ++i) {
        __m128 ai = _mm_loadu_ps(a + 4 * i);
        __m128 r =
            _mm_add_ps(_mm_add_ps(_mm_mul_ps(Splat<0>(ai), b0), _mm_mul_ps(Splat<1>(ai), b1)),
                       _mm_mul_ps(Splat<2>(ai), b2));
        if (i == 3) {
            r = _mm_or_ps(KeepXYZ(_mm_add_ps(r, b3)), _mm_setr_ps(0.0f, 0.0f, 0.0f, 1.0f));
        } else {
            r = KeepXYZ(r);
        }
        _mm_storeu_ps(result + 4 * i, r);
    }
}

inline void ColumnMatrixMultiply4x4(float result[16], const float a[16], const float b[16]) {
    __m128 b0 = _mm_loadu_ps(b), b1 = _mm_loadu_ps(b + 4), b2 = _mm_loadu_ps(b + 8);
    __m128 b3 = _mm_loadu_ps(b + 12);
    for (int i = 0; i < 4; ++i) {
        __m128 ai = _mm_loadu_ps(a + 4 * i);
        __m128 r =
            _mm_add_ps(_mm_add_ps(_mm_mul_ps(Splat<0>(ai), b0), _mm_mul_ps(Splat<1>(ai), b1)),
                       _mm_mul_ps(Splat<2>(ai), b2));
        _mm_storeu_ps(result + 4 * i, _mm_add_ps(r, _mm_mul_ps(Splat<3>(ai), b3)));
    }
}

}  // namespace sse
#endif  // ORVANE_MATH_HAS_SSE

#if ORVANE_MATH_HAS_SSE
namespace kernel = sse;
#else
namespace kernel = scalar;
#endif

inline void RotationMatrix(float dest[9], const float q[4]) {
    kernel::RotationMatrix(dest, q);
}
inline void QuaternionMultiply(float dest[4], const float a[4], const float b[4]) {
    kernel::QuaternionMultiply(dest, a, b);
}
inline void MultiplyTransforms(orvane_transform& result, const orvane_transform& a,
                               const orvane_transform& b) {
    kernel::Multiply(result, a, b);
}
inline void BuildCompositeTransform4x4(const orvane_transform& t, float dest[16]) {
    kernel::BuildCompositeTransform4x4(t, dest);
}
inline void ColumnMatrixMultiply4x3(float result[16], const float a[16], const float b[16]) {
    kernel::ColumnMatrixMultiply4x3(result, a, b);
}
inline void ColumnMatrixMultiply4x4(float result[16], const float a[16], const float b[16]) {
    kernel::ColumnMatrixMultiply4x4(result, a, b);
}

// dest = conj(a) (x) b, conj(a) = (-x, -y, -z, w): the rotation from a to b in a's frame.
inline void ConjugateMultiply(float dest[4], const float a[4], const float b[4]) {
    const float c[4] = {-a[0], -a[1], -a[2], a[3]};
    scalar::QuaternionMultiply(dest, c, b);
}

// dest = R(q) * v, q not normalised.
inline void RotateVector(float dest[3], const float q[4], const float v[3]) {
    float r[9];
    scalar::RotationMatrix(r, q);
    Transform3x3(dest, r, v);
}

// dest = the quaternion of a rotation matrix (the branch on the trace, then on the largest
// diagonal element).
void QuaternionFromMatrix(float dest[4], const float m[9]);

// The rotation vector (axis times angle) that turns a into b: d = conj(a) (x) b, angle
// 2 atan2(|d.xyz|, d.w), without shortest-path correction; zero when d has no vector part.
void RotationVectorBetween(float result[3], const float a[4], const float b[4]);

// The flags the identity check gives to these components.
uint32_t IdentityFlags(const float position[3], const float orientation[4],
                       const float scaleShear[9]);

// Linear * R(q / |q|) * InverseLinear back to a quaternion, scaled to |q|.
void SimilarityTransformOrientation(const float linear[9], const float inverseLinear[9],
                                    float orientation[4]);

}  // namespace orvane

#endif  // ORVANE_MATH_INTERNAL_H

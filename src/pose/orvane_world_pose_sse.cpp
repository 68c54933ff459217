// The SSE world-pose path (x86 baseline): one matrix row per register. Every lane performs
// the generic path's operations in the same order, so both give the same bits.
#include "pose/orvane_world_pose.h"

#include "math/orvane_math_internal.h"

#if ORVANE_MATH_HAS_SSE && !defined(ORVANE_WORLD_POSE_GENERIC_ONLY)

namespace orvane {
namespace {

#include "pose/orvane_world_pose_walk.h"

using sse::Splat;

struct Matrix {
    __m128 r0, r1, r2, r3;
};

// Exactly three floats (fourth lane 0); the 8-byte load has no alignment requirement.
inline __m128 Load3(const float* p) {
    const __m128 xy = _mm_castsi128_ps(_mm_loadu_si64(p));
    return _mm_movelh_ps(xy, _mm_load_ss(p + 2));
}

inline __m128 Row(__m128 a, const Matrix& b) {
    return _mm_add_ps(_mm_add_ps(_mm_mul_ps(Splat<0>(a), b.r0), _mm_mul_ps(Splat<1>(a), b.r1)),
                      _mm_mul_ps(Splat<2>(a), b.r2));
}
inline __m128 TranslationRow(__m128 t, const Matrix& b) {
    __m128 r = _mm_add_ps(Row(t, b), b.r3);
    return _mm_or_ps(sse::KeepXYZ(r), _mm_setr_ps(0.0f, 0.0f, 0.0f, 1.0f));
}

// The affine product of the local rows m0..m2 and translation t with the parent.
inline Matrix Product(__m128 m0, __m128 m1, __m128 m2, __m128 t, const Matrix& parent) {
    return {sse::KeepXYZ(Row(m0, parent)), sse::KeepXYZ(Row(m1, parent)),
            sse::KeepXYZ(Row(m2, parent)), TranslationRow(t, parent)};
}

inline sse::Rows FullRows(const orvane_transform& t) {
    sse::Rows c = sse::RotationColumns(_mm_loadu_ps(t.Orientation));
    const float* s = ScaleShearOf(t);
    // Row j of the local matrix is column j of R * S: the sum over k of column k of R times
    // S[k][j]. The last row is read as (S5, S6, S7, S8) to stay inside the record.
    __m128 s0 = _mm_loadu_ps(s), s1 = _mm_loadu_ps(s + 3);
    __m128 s2 = sse::Shuffle<1, 2, 3, 3>(_mm_loadu_ps(s + 5));
    sse::Rows m;
    m.r0 = _mm_add_ps(_mm_add_ps(_mm_mul_ps(c.r0, Splat<0>(s0)), _mm_mul_ps(c.r1, Splat<0>(s1))),
                      _mm_mul_ps(c.r2, Splat<0>(s2)));
    m.r1 = _mm_add_ps(_mm_add_ps(_mm_mul_ps(c.r0, Splat<1>(s0)), _mm_mul_ps(c.r1, Splat<1>(s1))),
                      _mm_mul_ps(c.r2, Splat<1>(s2)));
    m.r2 = _mm_add_ps(_mm_add_ps(_mm_mul_ps(c.r0, Splat<2>(s0)), _mm_mul_ps(c.r1, Splat<2>(s1))),
                      _mm_mul_ps(c.r2, Splat<2>(s2)));
    return m;
}

// The matrix operations of this path; MatrixKernel builds the per-bone entry points on them.
struct SseMatrices {
    static Matrix Load(const float* m) {
        return {_mm_loadu_ps(m), _mm_loadu_ps(m + 4), _mm_loadu_ps(m + 8), _mm_loadu_ps(m + 12)};
    }
    static void Store(float* m, const Matrix& a) {
        _mm_storeu_ps(m, a.r0);
        _mm_storeu_ps(m + 4, a.r1);
        _mm_storeu_ps(m + 8, a.r2);
        _mm_storeu_ps(m + 12, a.r3);
    }
    static void StoreComposite(const float* inverseWorld, const Matrix& world, float* composite) {
        Matrix iw = Load(inverseWorld);
        Store(composite, Product(iw.r0, iw.r1, iw.r2, iw.r3, world));
    }

    static Matrix WorldPositionOrientationM(const float* position, const float* orientation,
                                            const float* parent) {
        sse::Rows c = sse::RotationColumns(_mm_loadu_ps(orientation));
        return Product(c.r0, c.r1, c.r2, Load3(position), Load(parent));
    }
    static Matrix WorldFullM(const orvane_transform& t, const float* parent) {
        sse::Rows m = FullRows(t);
        return Product(m.r0, m.r1, m.r2, Load3(t.Position), Load(parent));
    }
    static Matrix WorldPositionM(const float* position, const float* parent) {
        Matrix p = Load(parent);
        p.r3 = TranslationRow(Load3(position), p);
        return p;
    }
};

using SseKernel = MatrixKernel<SseMatrices>;

// Constant-initialised: no code of this module runs before the path is chosen.
constexpr WorldPoseRoutines kSse = MakeRoutines<SseKernel>(WorldPosePath::SSE, "sse");

}  // namespace

const WorldPoseRoutines* SseWorldPoseRoutines() {
    return &kSse;
}

}  // namespace orvane

#else

namespace orvane {
const WorldPoseRoutines* SseWorldPoseRoutines() {
    return nullptr;
}
}  // namespace orvane

#endif

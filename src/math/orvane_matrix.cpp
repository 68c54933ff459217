// Matrix and quaternion utilities: inverses, quaternion <-> matrix, continuity, polar
// decomposition and the in-place changes of basis.
#include <cmath>
#include <cstring>

#include "math/orvane_math_internal.h"

namespace orvane {

bool Invert3x3(float dest[9], const float s[9]) {
    const float det = Determinant3x3(s);
    if (det == 0.0f) {
        // No inverse exists; a zero matrix is at least a defined answer, and callers that
        // care see false.
        std::memset(dest, 0, 9 * sizeof(float));
        return false;
    }
    const float f = 1.0f / det;
    const float r[9] = {
        (s[4] * s[8] - s[5] * s[7]) * f, (s[2] * s[7] - s[1] * s[8]) * f,
        (s[1] * s[5] - s[2] * s[4]) * f, (s[5] * s[6] - s[3] * s[8]) * f,
        (s[0] * s[8] - s[2] * s[6]) * f, (s[2] * s[3] - s[0] * s[5]) * f,
        (s[3] * s[7] - s[4] * s[6]) * f, (s[1] * s[6] - s[0] * s[7]) * f,
        (s[0] * s[4] - s[1] * s[3]) * f,
    };
    std::memcpy(dest, r, sizeof(r));
    return true;
}

bool InvertAffine4x4(float dest[16], const float source[16]) {
    const float block[9] = {source[0], source[1], source[2], source[4], source[5],
                            source[6], source[8], source[9], source[10]};
    const float t[3] = {source[12], source[13], source[14]};
    float inverse[9];
    bool regular = Invert3x3(inverse, block);
    // Translation = -(t * B^-1), t a row vector: the transpose product.
    float p[3];
    TransposeTransform3x3(p, inverse, t);
    const float r[16] = {inverse[0], inverse[1], inverse[2], 0.0f,       inverse[3], inverse[4],
                         inverse[5], 0.0f,       inverse[6], inverse[7], inverse[8], 0.0f,
                         -p[0],      -p[1],      -p[2],      1.0f};
    std::memcpy(dest, r, sizeof(r));
    return regular;
}

void QuaternionFromMatrix(float dest[4], const float m[9]) {
    auto at = [m](int row, int column) { return m[3 * row + column]; };
    const float trace = at(0, 0) + at(1, 1) + at(2, 2);
    float q[4];
    if (trace > 0.0f) {
        float s = std::sqrt(trace + 1.0f);
        q[3] = 0.5f * s;
        float f = 0.5f / s;
        q[0] = f * (at(2, 1) - at(1, 2));
        q[1] = f * (at(0, 2) - at(2, 0));
        q[2] = f * (at(1, 0) - at(0, 1));
    } else {
        // Build from the largest diagonal element; it keeps s at least 1 for any matrix.
        int i = 0;
        if (at(1, 1) > at(0, 0)) i = 1;
        if (at(2, 2) > at(i, i)) i = 2;
        int j = (i + 1) % 3;
        int k = (i + 2) % 3;
        float s = std::sqrt(at(i, i) - (at(k, k) + at(j, j)) + 1.0f);
        q[i] = 0.5f * s;
        float f = 0.5f / s;
        q[j] = f * (at(j, i) + at(i, j));
        q[k] = f * (at(k, i) + at(i, k));
        q[3] = f * (at(k, j) - at(j, k));
    }
    std::memcpy(dest, q, sizeof(q));
}

void RotationVectorBetween(float result[3], const float a[4], const float b[4]) {
    float d[4];
    ConjugateMultiply(d, a, b);
    const float s = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    const float angle = 2.0f * std::atan2(s, d[3]);
    const float f = s != 0.0f ? angle / s : angle;
    result[0] = f * d[0];
    result[1] = f * d[1];
    result[2] = f * d[2];
}

void SimilarityTransformOrientation(const float linear[9], const float inverseLinear[9],
                                    float orientation[4]) {
    const float n = std::sqrt(orientation[0] * orientation[0] + orientation[1] * orientation[1] +
                              orientation[2] * orientation[2] + orientation[3] * orientation[3]);
    // A zero quaternion (an empty accumulation) has no rotation to re-express; dividing by its
    // length would only fill it with NaN.
    if (n == 0.0f) return;
    const float unit[4] = {orientation[0] / n, orientation[1] / n, orientation[2] / n,
                           orientation[3] / n};
    float m[9];
    scalar::RotationMatrix(m, unit);
    Multiply3x3(m, linear, m);
    Multiply3x3(m, m, inverseLinear);
    float q[4];
    QuaternionFromMatrix(q, m);
    // The matrix gives the rotation up to the quaternion's sign. A change of basis keeps the
    // rotation's angle, so the new w is the old one up to sign: keep the old sign (the vector
    // parts decide for half turns), so that the identity basis gives the quaternion back and
    // the controls of a curve stay sign-continuous.
    float agreement = q[3] * unit[3];
    if (agreement == 0.0f) agreement = q[0] * unit[0] + q[1] * unit[1] + q[2] * unit[2];
    const float scale = agreement < 0.0f ? -n : n;
    for (int i = 0; i < 4; ++i)
        orientation[i] = scale * q[i];
}

}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API void OrvaneColumnMatrixMultiply4x4(orvane_real32 Result[16], const orvane_real32 A[16],
                                              const orvane_real32 B[16]) {
    ColumnMatrixMultiply4x4(Result, A, B);
}

ORVANE_API void OrvaneColumnMatrixMultiply4x3(orvane_real32 Result[16], const orvane_real32 A[16],
                                              const orvane_real32 B[16]) {
    ColumnMatrixMultiply4x3(Result, A, B);
}

ORVANE_API void OrvaneMatrixEqualsQuaternion3x3(orvane_real32 Dest[9],
                                                const orvane_real32 Quaternion[4]) {
    RotationMatrix(Dest, Quaternion);
}

ORVANE_API void OrvaneQuaternionEqualsMatrix3x3(orvane_real32 Dest[4],
                                                const orvane_real32 Matrix[9]) {
    QuaternionFromMatrix(Dest, Matrix);
}

ORVANE_API void OrvaneEnsureQuaternionContinuity(orvane_int32 QuaternionCount,
                                                 orvane_real32* Quaternions) {
    float previous[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    for (orvane_int32 n = 0; n < QuaternionCount; ++n) {
        float* q = Quaternions + 4 * static_cast<ptrdiff_t>(n);
        float dot =
            q[0] * previous[0] + q[1] * previous[1] + q[2] * previous[2] + q[3] * previous[3];
        if (dot < 0.0f) {
            for (int i = 0; i < 4; ++i)
                q[i] = -q[i];
        }
        std::memcpy(previous, q, sizeof(previous));
    }
}

ORVANE_API orvane_bool OrvanePolarDecompose(const orvane_real32 Source3x3[9],
                                            orvane_real32 Tolerance, orvane_real32 Q3x3[9],
                                            orvane_real32 S3x3[9]) {
    float source[9];  // Q3x3 or S3x3 may be the source
    std::memcpy(source, Source3x3, sizeof(source));
    float q[9];
    std::memcpy(q, source, sizeof(q));
    if (Determinant3x3(q) < 0.0f) {
        // Q = Source * diag(1, 1, -1): the iteration then finds a proper rotation and the
        // reflection stays in S.
        q[2] = -q[2];
        q[5] = -q[5];
        q[8] = -q[8];
    }
    bool converged = false;
    for (int iteration = 0; iteration < 1000 && !converged; ++iteration) {
        float inverse[9];
        if (!Invert3x3(inverse, q)) {
            // A singular matrix has no unique rotation factor; the identity keeps
            // Source = Q * S exact.
            std::memcpy(Q3x3, kIdentityScaleShear, sizeof(kIdentityScaleShear));
            std::memcpy(S3x3, source, sizeof(source));
            return false;
        }
        // T = (Q + Q^-T) / 2
        float t[9];
        float distance = 0.0f;
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                t[3 * i + j] = 0.5f * (q[3 * i + j] + inverse[3 * j + i]);
                distance += std::fabs(t[3 * i + j] - q[3 * i + j]);
            }
        }
        std::memcpy(q, t, sizeof(q));
        converged = distance < Tolerance;
    }
    float s[9];
    TransposeMultiply3x3(s, q, source);
    std::memcpy(Q3x3, q, sizeof(q));
    std::memcpy(S3x3, s, sizeof(s));
    return converged;
}

ORVANE_API void OrvaneInPlaceSimilarityTransformPosition(const orvane_real32 Affine3[3],
                                                         const orvane_real32 Linear3x3[9],
                                                         orvane_real32 Position[3]) {
    Transform3x3(Position, Linear3x3, Position);
    Position[0] += Affine3[0];
    Position[1] += Affine3[1];
    Position[2] += Affine3[2];
}

ORVANE_API void OrvaneInPlaceSimilarityTransformOrientation(const orvane_real32 Linear3x3[9],
                                                            const orvane_real32 InverseLinear3x3[9],
                                                            orvane_real32 Orientation[4]) {
    SimilarityTransformOrientation(Linear3x3, InverseLinear3x3, Orientation);
}

ORVANE_API void OrvaneInPlaceSimilarityTransformScaleShear(const orvane_real32 Linear3x3[9],
                                                           const orvane_real32 InverseLinear3x3[9],
                                                           orvane_real32 ScaleShear[9]) {
    Multiply3x3(ScaleShear, Linear3x3, ScaleShear);
    Multiply3x3(ScaleShear, ScaleShear, InverseLinear3x3);
}

ORVANE_API void OrvaneInPlaceSimilarityTransform(const orvane_real32 Affine3[3],
                                                 const orvane_real32 Linear3x3[9],
                                                 const orvane_real32 InverseLinear3x3[9],
                                                 orvane_real32 Position[3],
                                                 orvane_real32 Orientation[4],
                                                 orvane_real32 ScaleShear[9]) {
    OrvaneInPlaceSimilarityTransformPosition(Affine3, Linear3x3, Position);
    OrvaneInPlaceSimilarityTransformOrientation(Linear3x3, InverseLinear3x3, Orientation);
    OrvaneInPlaceSimilarityTransformScaleShear(Linear3x3, InverseLinear3x3, ScaleShear);
}

ORVANE_API void OrvaneInPlaceSimilarityTransform4x3(const orvane_real32 Affine3[3],
                                                    const orvane_real32 Linear3x3[9],
                                                    const orvane_real32 InverseLinear3x3[9],
                                                    orvane_real32 Matrix4x4[16]) {
    float s[9];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            s[3 * i + j] = Matrix4x4[4 * j + i];
    }
    float t[3] = {Matrix4x4[12], Matrix4x4[13], Matrix4x4[14]};
    OrvaneInPlaceSimilarityTransformPosition(Affine3, Linear3x3, t);
    OrvaneInPlaceSimilarityTransformScaleShear(Linear3x3, InverseLinear3x3, s);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            Matrix4x4[4 * j + i] = s[3 * i + j];
    }
    Matrix4x4[12] = t[0];
    Matrix4x4[13] = t[1];
    Matrix4x4[14] = t[2];
}

}  // extern "C"

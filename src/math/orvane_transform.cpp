// The transform record: identity check, products, blend, inverse, change of basis and the
// composite matrices that poses and skinning use.
#include <cmath>
#include <cstddef>
#include <cstring>

#include "math/orvane_math_internal.h"

namespace orvane {

static_assert(offsetof(orvane_transform, Flags) == 0);
static_assert(offsetof(orvane_transform, Position) == 4);
static_assert(offsetof(orvane_transform, Orientation) == 16);
static_assert(offsetof(orvane_transform, ScaleShear) == 32);

namespace {

// Sum of absolute differences; a NaN makes it NaN, which is never below a tolerance.
template <int N>
float L1Distance(const float* a, const float* b) {
    float d = 0.0f;
    for (int i = 0; i < N; ++i)
        d += std::fabs(a[i] - b[i]);
    return d;
}

void SetComponents(orvane_transform& t, const float position[3], const float orientation[4],
                   const float scaleShear[9]) {
    // memmove: callers may pass a transform's own components back in.
    std::memmove(t.Position, position, 3 * sizeof(float));
    std::memmove(t.Orientation, orientation, 4 * sizeof(float));
    std::memmove(ScaleShearOf(t), scaleShear, 9 * sizeof(float));
}

}  // namespace

uint32_t IdentityFlags(const float position[3], const float orientation[4],
                       const float scaleShear[9]) {
    uint32_t flags = 0;
    if (!(L1Distance<3>(position, kIdentityPosition) < 0.001f)) {
        flags |= OrvaneTransformHasPosition;
    }
    if (!(L1Distance<4>(orientation, kIdentityOrientation) < 0.0001f)) {
        flags |= OrvaneTransformHasOrientation;
    }
    if (!(L1Distance<9>(scaleShear, kIdentityScaleShear) < 0.001f)) {
        flags |= OrvaneTransformHasScaleShear;
    }
    return flags;
}

}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API void OrvaneSetTransform(orvane_transform* Result, const orvane_real32 Position[3],
                                   const orvane_real32 Orientation[4],
                                   const orvane_real32 ScaleShear[9]) {
    SetComponents(*Result, Position, Orientation, ScaleShear);
    Result->Flags =
        OrvaneTransformHasPosition | OrvaneTransformHasOrientation | OrvaneTransformHasScaleShear;
}

ORVANE_API void OrvaneSetTransformWithIdentityCheck(orvane_transform* Result,
                                                    const orvane_real32 Position[3],
                                                    const orvane_real32 Orientation[4],
                                                    const orvane_real32 ScaleShear[9]) {
    SetComponents(*Result, Position, Orientation, ScaleShear);
    Result->Flags = IdentityFlags(Result->Position, Result->Orientation, ScaleShearOf(*Result));
}

ORVANE_API void OrvaneMakeIdentity(orvane_transform* Result) {
    Result->Flags = 0;
    SetComponents(*Result, kIdentityPosition, kIdentityOrientation, kIdentityScaleShear);
}

ORVANE_API void OrvaneZeroTransform(orvane_transform* Result) {
    std::memset(Result, 0, sizeof(*Result));
}

ORVANE_API orvane_real32 OrvaneGetTransformDeterminant(const orvane_transform* Transform) {
    return Determinant3x3(ScaleShearOf(*Transform));
}

ORVANE_API void OrvaneTransformVectorInPlace(orvane_real32 Dest[3],
                                             const orvane_transform* Transform) {
    Transform3x3(Dest, ScaleShearOf(*Transform), Dest);
    RotateVector(Dest, Transform->Orientation, Dest);
}

ORVANE_API void OrvaneTransformVectorInPlaceTransposed(orvane_real32 Dest[3],
                                                       const orvane_transform* Transform) {
    // R(conjugate) is the transpose of R.
    float r[9];
    scalar::RotationMatrix(r, Transform->Orientation);
    TransposeTransform3x3(Dest, r, Dest);
    TransposeTransform3x3(Dest, ScaleShearOf(*Transform), Dest);
}

ORVANE_API void OrvaneTransformVector(orvane_real32 Dest[3], const orvane_transform* Transform,
                                      const orvane_real32 Source[3]) {
    Transform3x3(Dest, ScaleShearOf(*Transform), Source);
    RotateVector(Dest, Transform->Orientation, Dest);
}

ORVANE_API void OrvaneTransformPointInPlace(orvane_real32 Dest[3],
                                            const orvane_transform* Transform) {
    OrvaneTransformVectorInPlace(Dest, Transform);
    Dest[0] += Transform->Position[0];
    Dest[1] += Transform->Position[1];
    Dest[2] += Transform->Position[2];
}

ORVANE_API void OrvaneTransformPoint(orvane_real32 Dest[3], const orvane_transform* Transform,
                                     const orvane_real32 Source[3]) {
    OrvaneTransformVector(Dest, Transform, Source);
    Dest[0] += Transform->Position[0];
    Dest[1] += Transform->Position[1];
    Dest[2] += Transform->Position[2];
}

ORVANE_API void OrvaneMultiply(orvane_transform* Result, const orvane_transform* A,
                               const orvane_transform* B) {
    MultiplyTransforms(*Result, *A, *B);
}

ORVANE_API void OrvanePreMultiplyBy(orvane_transform* Transform, const orvane_transform* By) {
    orvane_transform t;
    MultiplyTransforms(t, *By, *Transform);
    *Transform = t;
}

ORVANE_API void OrvanePostMultiplyBy(orvane_transform* Transform, const orvane_transform* By) {
    orvane_transform t;
    MultiplyTransforms(t, *Transform, *By);
    *Transform = t;
}

ORVANE_API void OrvaneLinearBlendTransform(orvane_transform* Result, const orvane_transform* A,
                                           orvane_real32 t, const orvane_transform* B) {
    const float u = 1.0f - t;
    uint32_t flags = A->Flags | B->Flags;
    orvane_transform r;
    r.Flags = flags;
    if (flags & OrvaneTransformHasPosition) {
        for (int i = 0; i < 3; ++i)
            r.Position[i] = u * A->Position[i] + t * B->Position[i];
    } else {
        std::memcpy(r.Position, kIdentityPosition, sizeof(r.Position));
    }
    if (flags & OrvaneTransformHasOrientation) {
        float q[4];
        for (int i = 0; i < 4; ++i)
            q[i] = u * A->Orientation[i] + t * B->Orientation[i];
        float lengthSquared = q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3];
        if (lengthSquared != 0.0f) {
            float length = std::sqrt(lengthSquared);
            for (int i = 0; i < 4; ++i)
                r.Orientation[i] = q[i] / length;
        } else {
            // Opposite orientations blended half-way cancel out: there is no direction left
            // to normalise, so the blend settles on the identity rather than 0/0.
            std::memcpy(r.Orientation, kIdentityOrientation, sizeof(r.Orientation));
        }
    } else {
        std::memcpy(r.Orientation, kIdentityOrientation, sizeof(r.Orientation));
    }
    const float* sa = ScaleShearOf(*A);
    const float* sb = ScaleShearOf(*B);
    float* s = ScaleShearOf(r);
    if (flags & OrvaneTransformHasScaleShear) {
        for (int i = 0; i < 9; ++i)
            s[i] = u * sa[i] + t * sb[i];
    } else {
        std::memcpy(s, kIdentityScaleShear, sizeof(kIdentityScaleShear));
    }
    *Result = r;
}

ORVANE_API void OrvaneBuildInverse(orvane_transform* Result, const orvane_transform* Source) {
    const float q[4] = {-Source->Orientation[0], -Source->Orientation[1], -Source->Orientation[2],
                        Source->Orientation[3]};
    float r[9];  // R(q) = R(Source)^T
    scalar::RotationMatrix(r, q);
    float inverse[9];
    Invert3x3(inverse, ScaleShearOf(*Source));  // zero when singular
    float s[9];
    Multiply3x3(s, inverse, r);
    TransposeMultiply3x3(s, r, s);
    const float minusP[3] = {-Source->Position[0], -Source->Position[1], -Source->Position[2]};
    float p[3];
    Transform3x3(p, s, minusP);
    Transform3x3(p, r, p);
    OrvaneSetTransformWithIdentityCheck(Result, p, q, s);
}

ORVANE_API void OrvaneSimilarityTransform(orvane_transform* Transform,
                                          const orvane_real32 Affine3[3],
                                          const orvane_real32 Linear3x3[9],
                                          const orvane_real32 InverseLinear3x3[9]) {
    OrvaneInPlaceSimilarityTransform(Affine3, Linear3x3, InverseLinear3x3, Transform->Position,
                                     Transform->Orientation, ScaleShearOf(*Transform));
}

ORVANE_API void OrvaneBuildCompositeTransform(const orvane_transform* Transform,
                                              orvane_int32 Stride, orvane_real32* Composite3x3) {
    float m[9];
    scalar::RotationMatrix(m, Transform->Orientation);
    Multiply3x3(m, m, ScaleShearOf(*Transform));
    const ptrdiff_t stride = Stride;
    for (int j = 0; j < 3; ++j) {
        float* column = Composite3x3 + j * stride;
        column[0] = m[j];
        column[1] = m[3 + j];
        column[2] = m[6 + j];
    }
}

ORVANE_API void OrvaneBuildCompositeTransform4x4(const orvane_transform* Transform,
                                                 orvane_real32 Composite4x4[16]) {
    BuildCompositeTransform4x4(*Transform, Composite4x4);
}

ORVANE_API void OrvaneBuildCompositeTransform4x3(const orvane_transform* Transform,
                                                 orvane_real32 Composite4x3[12]) {
    float m[16];
    BuildCompositeTransform4x4(*Transform, m);
    for (int j = 0; j < 4; ++j) {
        Composite4x3[3 * j] = m[4 * j];
        Composite4x3[3 * j + 1] = m[4 * j + 1];
        Composite4x3[3 * j + 2] = m[4 * j + 2];
    }
}

}  // extern "C"

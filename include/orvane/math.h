/* Orvane math: the transform record and matrix and quaternion utilities. */
#ifndef ORVANE_MATH_H
#define ORVANE_MATH_H

#include "orvane/common.h"

ORVANE_EXTERN_C_BEGIN

/* Which components of a transform differ from identity. */
typedef enum orvane_transform_flags {
    OrvaneTransformHasPosition = 1,
    OrvaneTransformHasOrientation = 2,
    OrvaneTransformHasScaleShear = 4
} orvane_transform_flags;

/* A placement: v -> R(Orientation) * (ScaleShear * v) + Position. 68 bytes, no padding, the
 * same layout in memory and in content files. A clear flag means the component holds its
 * identity value. */
typedef struct orvane_transform {
    orvane_uint32 Flags;
    orvane_real32 Position[3];
    orvane_real32 Orientation[4];   /* x, y, z, w */
    orvane_real32 ScaleShear[3][3]; /* row-major */
} orvane_transform;

/* ---------------------------------------------------------------------------------------- */
/* Transforms                                                                               */
/* ---------------------------------------------------------------------------------------- */
/* Everything here is real32 arithmetic on caller storage: nothing allocates, nothing keeps
 * state, and every function may run on any thread. Arguments are not checked for null.
 * 3x3 matrices are nine reals, row-major, multiplying column vectors. 4x4 matrices are sixteen
 * reals, one column of the column-vector matrix per group of four, translation in 12..14 (read
 * as a row-major array, the matrix for row vectors: v * M). 4x3 matrices are the same without
 * the fourth entry of each group. Quaternions are x, y, z, w with Hamilton products. */

/* Copies the components; Flags = all three bits. */
ORVANE_API void OrvaneSetTransform(orvane_transform* Result, const orvane_real32 Position[3],
                                   const orvane_real32 Orientation[4],
                                   const orvane_real32 ScaleShear[9]);
/* Copies the components unchanged and sets each flag unless the component's L1 distance from
 * identity is below 0.001 (position, scale/shear) or 0.0001 (orientation). (0, 0, 0, -1) and
 * NaN count as different from identity. */
ORVANE_API void OrvaneSetTransformWithIdentityCheck(orvane_transform* Result,
                                                    const orvane_real32 Position[3],
                                                    const orvane_real32 Orientation[4],
                                                    const orvane_real32 ScaleShear[9]);
/* Flags 0, position 0, orientation (0, 0, 0, 1), scale/shear the identity matrix. */
ORVANE_API void OrvaneMakeIdentity(orvane_transform* Result);
/* All 17 words zero, Orientation included: the start of a weighted accumulation. */
ORVANE_API void OrvaneZeroTransform(orvane_transform* Result);
/* Determinant of ScaleShear alone. */
ORVANE_API orvane_real32 OrvaneGetTransformDeterminant(const orvane_transform* Transform);

/* The vector and point transforms compute with the stored values whatever the flags say.
 * Dest must not overlap Source (use the in-place forms). */
ORVANE_API void OrvaneTransformVectorInPlace(orvane_real32 Dest[3],
                                             const orvane_transform* Transform);
/* Dest = ScaleShear^T * (R(conjugate) * Dest): the transpose of the linear part. */
ORVANE_API void OrvaneTransformVectorInPlaceTransposed(orvane_real32 Dest[3],
                                                       const orvane_transform* Transform);
/* Dest = R(Orientation) * (ScaleShear * Source): the linear part, no position. */
ORVANE_API void OrvaneTransformVector(orvane_real32 Dest[3], const orvane_transform* Transform,
                                      const orvane_real32 Source[3]);
/* Dest = R(Orientation) * (ScaleShear * Dest) + Position. */
ORVANE_API void OrvaneTransformPointInPlace(orvane_real32 Dest[3],
                                            const orvane_transform* Transform);
/* Dest = R(Orientation) * (ScaleShear * Source) + Position. */
ORVANE_API void OrvaneTransformPoint(orvane_real32 Dest[3], const orvane_transform* Transform,
                                     const orvane_real32 Source[3]);

/* Result = A o B (B applied first); Flags = A.Flags | B.Flags; the orientation is the plain
 * Hamilton product (no normalisation, no sign change). Result may be A or B. */
ORVANE_API void OrvaneMultiply(orvane_transform* Result, const orvane_transform* A,
                               const orvane_transform* B);
/* Transform = By o Transform. */
ORVANE_API void OrvanePreMultiplyBy(orvane_transform* Transform, const orvane_transform* By);
/* Transform = Transform o By. */
ORVANE_API void OrvanePostMultiplyBy(orvane_transform* Transform, const orvane_transform* By);
/* Component-wise blend from A (t = 0) to B (t = 1); the blended quaternion is normalised
 * without hemisphere correction. When it has zero length (opposite inputs at t = 0.5) the
 * identity orientation is stored. */
ORVANE_API void OrvaneLinearBlendTransform(orvane_transform* Result, const orvane_transform* A,
                                           orvane_real32 t, const orvane_transform* B);
/* Result = Source^-1, flags recomputed by the identity check. A singular ScaleShear
 * (determinant exactly 0) has no inverse: its inverse is taken as the zero matrix, so Result
 * has a zero ScaleShear and a zero Position and maps every point to the origin. */
ORVANE_API void OrvaneBuildInverse(orvane_transform* Result, const orvane_transform* Source);
/* Re-expresses Transform in the basis x -> Linear3x3 * x + Affine3 (InverseLinear3x3 is the
 * inverse of Linear3x3). The quaternion keeps its length; a zero quaternion stays zero. Flags
 * are left unchanged. */
ORVANE_API void OrvaneSimilarityTransform(orvane_transform* Transform,
                                          const orvane_real32 Affine3[3],
                                          const orvane_real32 Linear3x3[9],
                                          const orvane_real32 InverseLinear3x3[9]);
/* Writes the columns of R(Orientation) * ScaleShear at Composite3x3[0..2],
 * [Stride..Stride+2] and [2 Stride..2 Stride+2] (Stride in reals). Flags are not consulted. */
ORVANE_API void OrvaneBuildCompositeTransform(const orvane_transform* Transform,
                                              orvane_int32 Stride, orvane_real32* Composite3x3);
/* The 4x4 matrix of the transform; R(Orientation) alone when the scale/shear flag is clear. */
ORVANE_API void OrvaneBuildCompositeTransform4x4(const orvane_transform* Transform,
                                                 orvane_real32 Composite4x4[16]);
/* The same matrix without its fourth row: 12 reals, four columns of three (translation in
 * elements 9 to 11). */
ORVANE_API void OrvaneBuildCompositeTransform4x3(const orvane_transform* Transform,
                                                 orvane_real32 Composite4x3[12]);

/* ---------------------------------------------------------------------------------------- */
/* Matrices and quaternions                                                                 */
/* ---------------------------------------------------------------------------------------- */

/* Result = A x B as row-major arrays (apply A, then B). Result may be A or B. */
ORVANE_API void OrvaneColumnMatrixMultiply4x4(orvane_real32 Result[16], const orvane_real32 A[16],
                                              const orvane_real32 B[16]);
/* The same for affine matrices: elements 3, 7, 11 and 15 of A and B are not used, those of
 * Result are set to 0, 0, 0, 1. Result may be A or B. */
ORVANE_API void OrvaneColumnMatrixMultiply4x3(orvane_real32 Result[16], const orvane_real32 A[16],
                                              const orvane_real32 B[16]);
/* Dest = R(Quaternion), the quaternion not normalised. */
ORVANE_API void OrvaneMatrixEqualsQuaternion3x3(orvane_real32 Dest[9],
                                                const orvane_real32 Quaternion[4]);
/* Dest = the quaternion of a rotation matrix. */
ORVANE_API void OrvaneQuaternionEqualsMatrix3x3(orvane_real32 Dest[4],
                                                const orvane_real32 Matrix[9]);
/* Negates each quaternion whose dot product with the one before it is negative. */
ORVANE_API void OrvaneEnsureQuaternionContinuity(orvane_int32 QuaternionCount,
                                                 orvane_real32* Quaternions);
/* Source = Q * S with Q a proper rotation (a reflection ends up in S). Returns true when the
 * iteration converged to Tolerance (L1 change of Q per step). A singular Source (a zero
 * determinant met during the iteration) gives Q = identity, S = Source and false. */
ORVANE_API orvane_bool OrvanePolarDecompose(const orvane_real32 Source3x3[9],
                                            orvane_real32 Tolerance, orvane_real32 Q3x3[9],
                                            orvane_real32 S3x3[9]);
/* Position = Linear3x3 * Position + Affine3. */
ORVANE_API void OrvaneInPlaceSimilarityTransformPosition(const orvane_real32 Affine3[3],
                                                         const orvane_real32 Linear3x3[9],
                                                         orvane_real32 Position[3]);
/* Orientation = |q| * quaternion of (Linear * R(q / |q|) * InverseLinear), with the sign of q's
 * w kept (so the identity basis leaves q unchanged and sequences stay sign-continuous); a zero
 * quaternion is left as it is. */
ORVANE_API void OrvaneInPlaceSimilarityTransformOrientation(const orvane_real32 Linear3x3[9],
                                                            const orvane_real32 InverseLinear3x3[9],
                                                            orvane_real32 Orientation[4]);
/* ScaleShear = Linear3x3 * ScaleShear * InverseLinear3x3. */
ORVANE_API void OrvaneInPlaceSimilarityTransformScaleShear(const orvane_real32 Linear3x3[9],
                                                           const orvane_real32 InverseLinear3x3[9],
                                                           orvane_real32 ScaleShear[9]);
/* The three above in order. */
ORVANE_API void OrvaneInPlaceSimilarityTransform(const orvane_real32 Affine3[3],
                                                 const orvane_real32 Linear3x3[9],
                                                 const orvane_real32 InverseLinear3x3[9],
                                                 orvane_real32 Position[3],
                                                 orvane_real32 Orientation[4],
                                                 orvane_real32 ScaleShear[9]);
/* Re-expresses an affine 4x4 matrix: translation t -> Linear * t + Affine, 3x3 block (as a
 * column-vector matrix) B -> Linear * B * InverseLinear. Elements 3, 7, 11, 15 are untouched. */
ORVANE_API void OrvaneInPlaceSimilarityTransform4x3(const orvane_real32 Affine3[3],
                                                    const orvane_real32 Linear3x3[9],
                                                    const orvane_real32 InverseLinear3x3[9],
                                                    orvane_real32 Matrix4x4[16]);

ORVANE_EXTERN_C_END

#endif /* ORVANE_MATH_H */

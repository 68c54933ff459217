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

ORVANE_EXTERN_C_END

#endif /* ORVANE_MATH_H */

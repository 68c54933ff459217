/* Orvane ray intersection tests against boxes, spheres, planes and triangles. */
#ifndef ORVANE_PUBLIC_RAY_TESTS_H
#define ORVANE_PUBLIC_RAY_TESTS_H

#include "orvane/common.h"
#include "orvane/math.h"
#include "orvane/types.h"

ORVANE_EXTERN_C_BEGIN

/* ---------------------------------------------------------------------------------------- */
/* Ray intersection tests                                                                   */
/* ---------------------------------------------------------------------------------------- */
/* A ray is an origin and a direction (3 reals each); hits are reported as ray parameters t,
 * the hit point being Origin + t * Direction. Nothing allocates or logs; every function may run
 * on any thread. Results of the 32-bit forms: 0 no hit, 1 a hit at t >= 0, -1 a hit behind the
 * origin only. */

/* An oriented box's entry and exit. */
typedef struct orvane_box_intersection {
    orvane_real32 EntryT;
    orvane_real32 EntryNormal[3];
    orvane_real32 ExitT;
    orvane_real32 ExitNormal[3];
} orvane_box_intersection;

typedef struct orvane_triangle_intersection {
    orvane_real32 T;
    orvane_real32 U;        /* weight of corner B */
    orvane_real32 V;        /* weight of corner C */
    orvane_real32 EdgeU[3]; /* B - A */
    orvane_real32 EdgeV[3]; /* C - A */
    orvane_bool Backfacing; /* the ray meets the side the winding A, B, C faces away from */
} orvane_triangle_intersection;

/* The plane n . x + D = 0. 0 when n . d is exactly 0 (T not written); else T = -(n . o + D) /
 * (n . d) is written. */
ORVANE_API orvane_int32 OrvaneRayIntersectsPlaneAt(const orvane_real32 Normal[3], orvane_real32 D,
                                                   const orvane_real32 Origin[3],
                                                   const orvane_real32 Direction[3],
                                                   orvane_real32* T);
/* Whether the line meets the sphere; Direction must be of unit length. */
ORVANE_API orvane_bool OrvaneRayIntersectsSphere(const orvane_real32 Center[3],
                                                 orvane_real32 Radius,
                                                 const orvane_real32 Origin[3],
                                                 const orvane_real32 Direction[3]);
/* Direction must be of unit length. Both parameters are written on a hit (TNear negative when
 * the origin is inside); 1 when either is >= 0. */
ORVANE_API orvane_int32 OrvaneRayIntersectsSphereAt(const orvane_real32 Center[3],
                                                    orvane_real32 Radius,
                                                    const orvane_real32 Origin[3],
                                                    const orvane_real32 Direction[3],
                                                    orvane_real32* TNear, orvane_real32* TFar);
/* Oriented box: columns 0..2 of Box4x4 are the box's axes, elements 12..14 its origin; Min and
 * Max are corners in box coordinates. True when the slabs overlap with entry <= exit and either
 * is >= 0.
 * OrvaneRayIntersectsBox is the quick form: its corners are measured along the raw axis vectors
 * (it agrees with the At form only for unit axes) and a ray parallel to a face is never
 * rejected by that face alone, so it may accept a ray that passes beside the box.
 * OrvaneRayIntersectsBoxAt measures the corners in the box's own units also for scaled
 * (orthogonal) axes, rejects a parallel ray whose origin lies outside a face, and always
 * writes the entry and exit parameters (+-3.4028235e38 when no face set them) and the face
 * normals (raw axes, negated for minimum faces) that set them. */
ORVANE_API orvane_bool OrvaneRayIntersectsBox(const orvane_real32 Box4x4[16],
                                              const orvane_real32 Min[3],
                                              const orvane_real32 Max[3],
                                              const orvane_real32 Origin[3],
                                              const orvane_real32 Direction[3]);
ORVANE_API orvane_bool OrvaneRayIntersectsBoxAt(const orvane_real32 Box4x4[16],
                                                const orvane_real32 Min[3],
                                                const orvane_real32 Max[3],
                                                const orvane_real32 Origin[3],
                                                const orvane_real32 Direction[3],
                                                orvane_box_intersection* Result);
/* Both sides of the triangle count. Hits exactly on an edge or a corner are misses (strict
 * barycentric tests). The whole record is written on a hit (also one behind the origin) and
 * left untouched on a miss. */
ORVANE_API orvane_int32 OrvaneRayIntersectsTriangleAt(const orvane_real32 A[3],
                                                      const orvane_real32 B[3],
                                                      const orvane_real32 C[3],
                                                      const orvane_real32 Origin[3],
                                                      const orvane_real32 Direction[3],
                                                      orvane_triangle_intersection* Result);

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_RAY_TESTS_H */

/* Orvane camera: a caller-owned camera record, its matrices and the allowed LOD error. */
#ifndef ORVANE_PUBLIC_CAMERA_H
#define ORVANE_PUBLIC_CAMERA_H

#include "orvane/common.h"
#include "orvane/math.h"
#include "orvane/types.h"

ORVANE_EXTERN_C_BEGIN

/* ---------------------------------------------------------------------------------------- */
/* Camera                                                                                   */
/* ---------------------------------------------------------------------------------------- */
/* A caller-owned record. 4x4 matrices use the layout of the math header (one column of the
 * column-vector matrix per group of four, translation in 12..14). Camera space: x right, y up,
 * z backwards (the camera looks along -z). Nothing here allocates or keeps state: distinct
 * cameras may be used from different threads at once. Camera arguments are not checked for
 * null. */
typedef struct orvane_camera {
    orvane_real32 PhysicalAspectRatio;  /* display width over height, physical units */
    orvane_real32 ScreenAspectRatio;    /* screen resolution width over height */
    orvane_real32 WindowAspectRatio;    /* window width over height */
    orvane_real32 VerticalFieldOfView;  /* radians, in (0, pi) */
    orvane_real32 NearPlane;            /* distance of the near clip plane, not 0 */
    orvane_real32 FarPlane;             /* 0: infinitely far */
    orvane_real32 InfiniteDepthEpsilon; /* used only when FarPlane is 0 */
    orvane_int32 DepthRangeMode;        /* 1: depth maps to -1..1; any other value: 0..1 */
    orvane_bool
        UseOrientationQuaternion; /* true: OrientationQuaternion, false: OrientationMatrix */
    orvane_real32 OrientationQuaternion[4]; /* x, y, z, w */
    orvane_real32 OrientationMatrix[9];     /* row-major */
    orvane_real32 Position[3];
    orvane_real32 ElevationAzimuthRoll[3];  /* radians: about x, about y, about z */
    orvane_real32 Offset[3];                /* applied in camera space after the rotation */
    orvane_real32 View4x4[16];              /* world to camera */
    orvane_real32 InverseView4x4[16];       /* camera to world */
    orvane_real32 Projection4x4[16];        /* camera to clip space */
    orvane_real32 InverseProjection4x4[16]; /* clip to camera space */
} orvane_camera;

/* Aspect ratios 1.33, 1.33 and 1.0, a 60 degree field of view, planes 4 and 1000, epsilon 0,
 * depth range mode 1, the identity orientation (quaternion in use), position, angles and offset
 * 0; then builds the matrices. */
ORVANE_API void OrvaneInitializeDefaultCamera(orvane_camera* Camera);
/* PhysicalAspectRatio = the given ratio, ScreenAspectRatio = ScreenWidth / ScreenHeight,
 * WindowAspectRatio = WindowWidth / WindowHeight (sizes as reals, so that 1920 / 1080 is not
 * cut to 1). The matrices are not rebuilt. A size or ratio that is not positive is refused
 * with an error and the camera is left unchanged; the result is then false. */
ORVANE_API orvane_bool OrvaneSetCameraAspectRatios(
    orvane_camera* Camera, orvane_real32 PhysicalAspectRatio, orvane_real32 ScreenWidth,
    orvane_real32 ScreenHeight, orvane_real32 WindowWidth, orvane_real32 WindowHeight);
/* Rebuilds View4x4, InverseView4x4, Projection4x4 and InverseProjection4x4. A projection that
 * has no inverse (NearPlane 0, NearPlane equal to FarPlane, a field of view outside (0, pi), an
 * aspect ratio that is not positive or an epsilon that zeroes the depth row) is refused with an
 * error: the view matrices are rebuilt, the projection matrices keep their previous values and
 * the result is false. */
ORVANE_API orvane_bool OrvaneBuildCameraMatrices(orvane_camera* Camera);
/* Position += x * right + y * up + z * back, the directions from the current InverseView4x4.
 * The matrices are not rebuilt. */
ORVANE_API void OrvaneMoveCameraRelative(orvane_camera* Camera, orvane_real32 X, orvane_real32 Y,
                                         orvane_real32 Z);
/* The translation of InverseView4x4, and its rotation columns 0, 1, 2 (and their negations). */
ORVANE_API void OrvaneGetCameraLocation(const orvane_camera* Camera, orvane_real32 Result[3]);
ORVANE_API void OrvaneGetCameraRight(const orvane_camera* Camera, orvane_real32 Result[3]);
ORVANE_API void OrvaneGetCameraUp(const orvane_camera* Camera, orvane_real32 Result[3]);
ORVANE_API void OrvaneGetCameraBack(const orvane_camera* Camera, orvane_real32 Result[3]);
ORVANE_API void OrvaneGetCameraLeft(const orvane_camera* Camera, orvane_real32 Result[3]);
ORVANE_API void OrvaneGetCameraDown(const orvane_camera* Camera, orvane_real32 Result[3]);
ORVANE_API void OrvaneGetCameraForward(const orvane_camera* Camera, orvane_real32 Result[3]);
/* Window points are (x, y, depth): x in [0, width] to the right, y in [0, height] in the
 * direction of clip space's y (no flip), depth the normalised device depth, -1 (near) to 1
 * (far) in depth range mode 1 and 0 to 1 otherwise, so that the two conversions are inverses
 * of each other in both modes. A width or height that is not positive is refused with an
 * error; a point that has no finite image (on or a subnormal distance from the camera plane,
 * or at infinity) gives false without a message. Result is written only when the result is
 * true, and then holds finite values. */
ORVANE_API orvane_bool OrvaneWindowSpaceToWorldSpace(const orvane_camera* Camera,
                                                     orvane_real32 Width, orvane_real32 Height,
                                                     const orvane_real32 WindowSpacePoint[3],
                                                     orvane_real32 Result[3]);
ORVANE_API orvane_bool OrvaneWorldSpaceToWindowSpace(const orvane_camera* Camera,
                                                     orvane_real32 Width, orvane_real32 Height,
                                                     const orvane_real32 WorldSpacePoint[3],
                                                     orvane_real32 Result[3]);
/* Origin = the camera location; Direction = the unit direction through the window point
 * (MouseX, MouseY) on the near plane, (0, 0, 0) when shorter than 0.00001. A width or height
 * that is not positive is refused with an error, and false is returned with nothing written. */
ORVANE_API orvane_bool OrvaneGetPickingRay(const orvane_camera* Camera, orvane_real32 Width,
                                           orvane_real32 Height, orvane_real32 MouseX,
                                           orvane_real32 MouseY, orvane_real32 Origin[3],
                                           orvane_real32 Direction[3]);
/* XBasis = the camera's right vector; YBasis = normalise(PlaneNormal x u), zero when shorter
 * than 0.00001, with u = (PointOnPlane - camera location) x camera up when ScreenOrthogonal is
 * set, else the camera's right vector. */
ORVANE_API void OrvaneGetCameraRelativePlanarBases(
    const orvane_camera* Camera, orvane_bool ScreenOrthogonal, const orvane_real32 PlaneNormal[3],
    const orvane_real32 PointOnPlane[3], orvane_real32 XBasis[3], orvane_real32 YBasis[3]);
/* 1.33 when width / height (in float arithmetic) <= 1.4, 1.56 up to 1.6, else 1.78. A height
 * that is not positive is refused with an error and gives 1.33. */
ORVANE_API orvane_real32 OrvaneGetMostLikelyPhysicalAspectRatio(orvane_real32 ScreenWidth,
                                                                orvane_real32 ScreenHeight);
/* The world-space error that covers ErrorInPixels at Distance:
 * tan(fov / 2) * ErrorInPixels * Distance / (ViewportHeightInPixels / 2). A viewport height
 * that is not positive is refused with an error and gives 0. */
ORVANE_API orvane_real32 OrvaneFindAllowedLODError(orvane_real32 ErrorInPixels,
                                                   orvane_int32 ViewportHeightInPixels,
                                                   orvane_real32 VerticalFieldOfView,
                                                   orvane_real32 Distance);

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_CAMERA_H */

/* Orvane scene utilities: the camera, ray intersection tests, inverse kinematics and the change
 * of basis of loaded content. */
#ifndef ORVANE_SCENE_H
#define ORVANE_SCENE_H

#include "orvane/common.h"
#include "orvane/math.h"
#include "orvane/runtime.h"
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
 * error; a point that has no image (on the camera plane, or at infinity) gives false without a
 * message. Result is written only when the result is true. */
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

/* ---------------------------------------------------------------------------------------- */
/* Inverse kinematics                                                                       */
/* ---------------------------------------------------------------------------------------- */
/* Both solvers pull the end bone towards DesiredPosition (world space) by changing the
 * orientations of its ancestors in LocalPose, and leave WorldPose rebuilt from LocalPose (all
 * bones, Offset4x4 above the roots; a null offset is the identity). LocalPose and WorldPose
 * cover at least the skeleton's bones, and WorldPose must be up to date with LocalPose on
 * entry. Each turn rotates a bone so that the direction from its joint to the end bone
 * becomes the direction to the target: the bone's Orientation becomes Orientation (x) turn and
 * its orientation flag is set. A turn that has no direction (the end on the joint, the target
 * on the joint, or the two directions opposite) is not made. Arguments are checked once per
 * call: a null skeleton or pose, a pose smaller than the skeleton, a bone index outside
 * [0, bone count) or a skeleton whose parents do not precede their children is refused with
 * an error, and nothing is written. Distinct poses may be solved on different threads. */

/* Cyclic coordinate descent over the end bone's first LinkCount ancestors (fewer when a root
 * comes first), IterationCount passes from the end bone's parent upwards, the world pose
 * rebuilt after each turn. Timed as "IKUpdate". False when the arguments were refused; true
 * otherwise, also when nothing was to be done (IterationCount or LinkCount below 1, a root end
 * bone). */
ORVANE_API orvane_bool OrvaneIKUpdate(orvane_int32 LinkCount, orvane_int32 EndBoneIndex,
                                      const orvane_real32 DesiredPosition[3],
                                      orvane_int32 IterationCount, const orvane_skeleton* Skeleton,
                                      const orvane_real32* Offset4x4, orvane_local_pose* LocalPose,
                                      orvane_world_pose* WorldPose);

/* Analytic two-bone solver: the end bone's parent (the middle joint) bends in the plane
 * through the upper joint (the middle bone's parent) spanned by the target direction and
 * (target direction x BendPlaneNormal). Only the upper and middle bones' orientations and
 * flags change. Targets out of reach give a straight limb pointing at the target; the bend
 * height squared E is softened below SofteningThreshold * L1^2 (L1 the upper bone's length)
 * to threshold + (E - threshold) * SofteningScale, never below 0. Returns true when solved;
 * false, with the poses unchanged, when the arguments are refused, the target lies on the
 * upper joint (closer than 1e-4), the target direction is parallel to BendPlaneNormal while
 * the limb must bend, or a turn has no direction. */
ORVANE_API orvane_bool OrvaneIKUpdate2Bone(
    orvane_int32 EndBoneIndex, const orvane_real32 DesiredPosition[3],
    const orvane_real32 BendPlaneNormal[3], const orvane_skeleton* Skeleton,
    const orvane_real32* Offset4x4, orvane_local_pose* LocalPose, orvane_world_pose* WorldPose,
    orvane_real32 SofteningThreshold, orvane_real32 SofteningScale);

/* ---------------------------------------------------------------------------------------- */
/* Basis conversion                                                                         */
/* ---------------------------------------------------------------------------------------- */
/* A change of basis is three caller-owned arrays: Affine3 (a translation), Linear3x3 (row-major)
 * and InverseLinear3x3 (its inverse). A point x maps to Linear3x3 x + Affine3, a direction to
 * Linear3x3 v, a normal to transpose(InverseLinear3x3) n. The transform operations rewrite the
 * content in place and visit each object once per call however often it is referenced (a vertex
 * data or topology shared by meshes, a track group shared by animations, a mesh bound twice).
 * Null objects met on the way are skipped. They return false only when an argument array is
 * null or memory for the set of visited objects runs out (then an error is logged and the
 * content may be partly converted). The tolerances go to the curve transforms (anim.h), which
 * use them to store a transformed curve more simply. One object tree must not be converted
 * from two threads at once. */

/* Flags of the transform operations. */
typedef enum orvane_basis_conversion_flags {
    /* Renormalise transformed normals, tangents and binormals (and the rows of the matrices
     * applied to normal and tangent morph curves). */
    OrvaneBasisRenormalizeDirections = 1,
    /* When the determinant of Linear3x3 is negative (a mirroring basis), reverse the winding of
     * each mesh's primary topology so that front faces stay front faces. */
    OrvaneBasisReverseMirroredWinding = 2
} orvane_basis_conversion_flags;

/* Linear = D S (desired units per meter / ArtToolInfo.UnitsPerMeter), D with the desired right,
 * up and back vectors as columns, S with the art tool's as rows; InverseLinear its inverse;
 * Affine = DesiredOrigin - ArtToolInfo.Origin (not mapped through Linear). False with an error,
 * and nothing written, when the file info or its ArtToolInfo is null, UnitsPerMeter is not a
 * positive finite number, or the result has no inverse (degenerate axes, desired units 0). */
ORVANE_API orvane_bool OrvaneComputeBasisConversion(
    const orvane_file_info* FileInfo, orvane_real32 DesiredUnitsPerMeter,
    const orvane_real32 DesiredOrigin3[3], const orvane_real32 DesiredRight3[3],
    const orvane_real32 DesiredUp3[3], const orvane_real32 DesiredBack3[3],
    orvane_real32 ResultAffine3[3], orvane_real32 ResultLinear3x3[9],
    orvane_real32 ResultInverseLinear3x3[9]);
/* Every bone's Transform (the similarity transform of math.h) and InverseWorldTransform. */
ORVANE_API orvane_bool OrvaneTransformSkeleton(orvane_skeleton* Skeleton,
                                               const orvane_real32 Affine3[3],
                                               const orvane_real32 Linear3x3[9],
                                               const orvane_real32 InverseLinear3x3[9],
                                               orvane_real32 AffineTolerance,
                                               orvane_real32 LinearTolerance, orvane_uint32 Flags);
/* The primary vertex data (vertices and the "VertexMorphCurve..." annotation sets), the vertex
 * data of every morph target, the primary topology's winding (see the flags) and every bone
 * binding's OBBMin/OBBMax box. */
ORVANE_API orvane_bool OrvaneTransformMesh(orvane_mesh* Mesh, const orvane_real32 Affine3[3],
                                           const orvane_real32 Linear3x3[9],
                                           const orvane_real32 InverseLinear3x3[9],
                                           orvane_real32 AffineTolerance,
                                           orvane_real32 LinearTolerance, orvane_uint32 Flags);
/* The model's skeleton, the mesh of every mesh binding and its InitialPlacement. */
ORVANE_API orvane_bool OrvaneTransformModel(orvane_model* Model, const orvane_real32 Affine3[3],
                                            const orvane_real32 Linear3x3[9],
                                            const orvane_real32 InverseLinear3x3[9],
                                            orvane_real32 AffineTolerance,
                                            orvane_real32 LinearTolerance, orvane_uint32 Flags);
/* Every track group (OrvaneSimilarityTransformTrackGroup). */
ORVANE_API orvane_bool OrvaneTransformAnimation(orvane_animation* Animation,
                                                const orvane_real32 Affine3[3],
                                                const orvane_real32 Linear3x3[9],
                                                const orvane_real32 InverseLinear3x3[9],
                                                orvane_real32 AffineTolerance,
                                                orvane_real32 LinearTolerance, orvane_uint32 Flags);
/* Every skeleton, every mesh, every model's InitialPlacement (models' skeletons and meshes are
 * reached through the file's own lists) and every animation. The file's TrackGroups, VertexDatas
 * and TriTopologies lists are not visited: they change through the meshes and animations that
 * use them. */
ORVANE_API orvane_bool OrvaneTransformFile(orvane_file_info* FileInfo,
                                           const orvane_real32 Affine3[3],
                                           const orvane_real32 Linear3x3[9],
                                           const orvane_real32 InverseLinear3x3[9],
                                           orvane_real32 AffineTolerance,
                                           orvane_real32 LinearTolerance, orvane_uint32 Flags);
/* OrvaneResortTrackGroup on every track group of the animation, or of every animation of the
 * file. Null objects are skipped. */
ORVANE_API void OrvaneResortAllAnimationTrackGroups(orvane_animation* Animation);
ORVANE_API void OrvaneResortAllFileTrackGroups(orvane_file_info* FileInfo);

ORVANE_EXTERN_C_END

#endif /* ORVANE_SCENE_H */

/* Orvane basis conversion: loaded content re-expressed in another coordinate system. */
#ifndef ORVANE_PUBLIC_BASIS_CONVERSION_H
#define ORVANE_PUBLIC_BASIS_CONVERSION_H

#include "orvane/common.h"
#include "orvane/math.h"
#include "orvane/types.h"

ORVANE_EXTERN_C_BEGIN

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

#endif /* ORVANE_PUBLIC_BASIS_CONVERSION_H */

/* Orvane mesh deformers: skinning of vertices of many layouts by a world pose's matrices, with
 * generic and processor-specific routines.
 *
 * Threads: a built deformer may be read by several threads at once. The deformer registry is
 * built once, race-free. */
#ifndef ORVANE_PUBLIC_DEFORMER_H
#define ORVANE_PUBLIC_DEFORMER_H

#include "orvane/common.h"
#include "orvane/types.h"
#include "orvane/vertex_layout.h"

ORVANE_EXTERN_C_BEGIN

/* ---- Mesh deformers ---- */

/* What a deformer moves: positions and normals, also tangents, also binormals. */
typedef enum orvane_deformation_type {
    OrvanePositionNormalDeformation = 2,
    OrvanePositionNormalTangentDeformation = 3,
    OrvanePositionNormalTangentBinormalDeformation = 4
} orvane_deformation_type;

/* A skinning routine for one pair of layouts. Opaque; owned by the caller. */
typedef struct orvane_mesh_deformer orvane_mesh_deformer;

/* The first registry entry that accepts the pair, or null (no message) when none does. On
 * processors with SSE the exact accelerated entries (source layouts with T, into PNT332,
 * PNGT3332, PNGBT33332, and the rigid ones) come first; the generic entries accept layouts that
 * begin with theirs and copy equal-sized tails of whole 32-bit words (a tail of another layout
 * but the same size is warned about). Layouts that the type system cannot size (a member of
 * unknown kind or negative width) match no generic entry. */
ORVANE_API orvane_mesh_deformer* OrvaneNewMeshDeformer(
    const orvane_data_type_definition* SourceLayout, const orvane_data_type_definition* DestLayout,
    orvane_int32 DeformationType);
ORVANE_API void OrvaneFreeMeshDeformer(orvane_mesh_deformer* Deformer);
/* Deforms Count vertices from Source into Dest (they must not overlap) with Matrices4x4
 * (16 reals per matrix, row vectors, translation in 12..14). With MatrixIndices, a vertex's
 * bone index b uses matrix MatrixIndices[b]; without, matrix b. Rigid layouts use matrix
 * MatrixIndices[0] or 0. The caller guarantees that every bone index (and table entry) names a
 * matrix it passes: OrvaneVertexBoneIndicesAreInRange checks loaded vertices once. Count <= 0
 * does nothing. Never allocates. */
ORVANE_API void OrvaneDeformVertices(const orvane_mesh_deformer* Deformer,
                                     const orvane_int32* MatrixIndices,
                                     const orvane_real32* Matrices4x4, orvane_int32 Count,
                                     const void* Source, void* Dest);
/* The deformer's fields: 32-bit words copied after each vertex's deformed part, the source
 * layout's object size, and whether it is an exact (accelerated) entry. */
ORVANE_API orvane_int32 OrvaneGetMeshDeformerTailCopyWords(const orvane_mesh_deformer* Deformer);
ORVANE_API orvane_int32 OrvaneGetMeshDeformerSourceVertexSize(const orvane_mesh_deformer* Deformer);
ORVANE_API orvane_bool OrvaneMeshDeformerIsAccelerated(const orvane_mesh_deformer* Deformer);

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_DEFORMER_H */

/* Orvane mesh builder (offline): run-time vertices and topologies from an art tool's description,
 * with tangent frames. */
#ifndef ORVANE_PUBLIC_MESH_BUILDER_H
#define ORVANE_PUBLIC_MESH_BUILDER_H

#include "orvane/common.h"
#include "orvane/types.h"
#include "orvane/vertex_layout.h"

ORVANE_EXTERN_C_BEGIN

/* ---- Mesh builder ---- */

/* Builds run-time vertices and a topology from an art tool's description: base vertices
 * (position and bone weights, one per position of the tool), then triangles whose corners carry
 * normals, tangent frames and channels (the layout's members other than the seven spatial
 * ones: texture coordinates, colours ...). Corners of one base vertex that agree within the
 * tolerances share a vertex; the others split it. Triangles are grouped by material; the
 * coincident ring, vertex-to-triangle map and side adjacency come with the topology.
 *
 * Capacities: VertexCount base vertices, TriangleCount triangles, MaterialCount materials and
 * BoneCount bones, as given to OrvaneBeginMesh. Every index outside them (bone, channel,
 * corner, base vertex, material, slot) and every push beyond them logs an error and changes
 * nothing (a refused triangle is dropped).
 *
 * Threads: a builder is used by one thread at a time; distinct builders may run on several
 * threads at once (all their scratch is their own). */
typedef struct orvane_mesh_builder orvane_mesh_builder;

/* Layouts with more than ORVANE_MAX_BONES_PER_VERTEX bones per vertex are refused. Null (after
 * an error) for a null layout, negative counts or sizes too large, or when memory runs out
 * (nothing is left allocated). Tolerances start at 0.001 (tangent merging at 0.25). */
ORVANE_API orvane_mesh_builder* OrvaneBeginMesh(orvane_int32 VertexCount,
                                                orvane_int32 TriangleCount,
                                                orvane_int32 MaterialCount, orvane_int32 BoneCount,
                                                const orvane_data_type_definition* VertexLayout);
/* Releases the builder without producing anything; null does nothing. */
ORVANE_API void OrvaneAbortMesh(orvane_mesh_builder* Builder);

/* Largest distance (Euclidean, per member) at which two corners count as equal. */
ORVANE_API void OrvaneSetNormalTolerance(orvane_mesh_builder* Builder, orvane_real32 Tolerance);
ORVANE_API void OrvaneSetTangentTolerance(orvane_mesh_builder* Builder, orvane_real32 Tolerance);
ORVANE_API void OrvaneSetBinormalTolerance(orvane_mesh_builder* Builder, orvane_real32 Tolerance);
ORVANE_API void OrvaneSetTangentBinormalCrossTolerance(orvane_mesh_builder* Builder,
                                                       orvane_real32 Tolerance);
/* Frames of coincident vertices merge when |T.T'| and |B.B'| both exceed it. */
ORVANE_API void OrvaneSetTangentMergingTolerance(orvane_mesh_builder* Builder,
                                                 orvane_real32 Tolerance);
/* Channels number the layout's non-spatial members in order, from 0 to
 * OrvaneGetVertexChannelCount - 1 (at most 256 have a tolerance of their own). */
ORVANE_API void OrvaneSetChannelTolerance(orvane_mesh_builder* Builder, orvane_int32 ChannelIndex,
                                          orvane_real32 Tolerance);
/* The art tool's names, one per layout component (OrvaneGetVertexComponentCount); the builder
 * copies them (a null name ends as an empty text) and a later call replaces them. Another count
 * logs an error and changes nothing. */
ORVANE_API void OrvaneSetVertexChannelComponentNames(orvane_mesh_builder* Builder,
                                                     orvane_int32 Count, const char** Names);

/* The pending base vertex: position, then weights (added to the bone's sum); push gives it the
 * next base index. Pushing keeps the layout's bone count of the heaviest bones (equal weights:
 * the lower bone first), scales them to sum to one (no weight at all: bone 0 gets 1) and
 * quantises them to an exact one-norm. */
ORVANE_API void OrvaneSetPosition(orvane_mesh_builder* Builder, orvane_real32 X, orvane_real32 Y,
                                  orvane_real32 Z);
ORVANE_API void OrvaneAddWeight(orvane_mesh_builder* Builder, orvane_int32 BoneIndex,
                                orvane_real32 Weight);
ORVANE_API void OrvanePushVertex(orvane_mesh_builder* Builder);

/* The pending triangle: per corner (0 to 2) its base vertex, which must have been pushed
 * already, and its corner data. A corner without a base vertex refuses the triangle. */
ORVANE_API void OrvaneSetVertexIndex(orvane_mesh_builder* Builder, orvane_int32 Corner,
                                     orvane_int32 BaseVertexIndex);
ORVANE_API void OrvaneSetNormal(orvane_mesh_builder* Builder, orvane_int32 Corner, orvane_real32 X,
                                orvane_real32 Y, orvane_real32 Z);
ORVANE_API void OrvaneSetTangent(orvane_mesh_builder* Builder, orvane_int32 Corner, orvane_real32 X,
                                 orvane_real32 Y, orvane_real32 Z);
ORVANE_API void OrvaneSetBinormal(orvane_mesh_builder* Builder, orvane_int32 Corner,
                                  orvane_real32 X, orvane_real32 Y, orvane_real32 Z);
ORVANE_API void OrvaneSetTangentBinormalCross(orvane_mesh_builder* Builder, orvane_int32 Corner,
                                              orvane_real32 X, orvane_real32 Y, orvane_real32 Z);
/* The channel member's width (reals that OrvaneSetChannel reads); 0 for a bad index. */
ORVANE_API orvane_int32 OrvaneGetChannelComponentCount(const orvane_mesh_builder* Builder,
                                                       orvane_int32 ChannelIndex);
ORVANE_API void OrvaneSetChannel(orvane_mesh_builder* Builder, orvane_int32 Corner,
                                 orvane_int32 ChannelIndex, const orvane_real32* Values);
/* Applies to the triangles pushed from now on (initially material 0). */
ORVANE_API void OrvaneSetMaterial(orvane_mesh_builder* Builder, orvane_int32 MaterialIndex);
ORVANE_API void OrvanePushTriangle(orvane_mesh_builder* Builder);

/* The base vertex that slot SlotIndex was made from; -1 (after an error) outside the slots in
 * use. */
ORVANE_API orvane_int32 OrvaneGetOriginalVertex(const orvane_mesh_builder* Builder,
                                                orvane_int32 SlotIndex);

/* Replaces every vertex's "Tangent", "Binormal" and "TangentBinormalCross" by a frame made
 * from positions and "TextureCoordinates0", splitting vertices whose triangles disagree in
 * handedness (mirrored texture seams) and merging the frames of coincident vertices. Call it
 * after the last triangle. */
ORVANE_API void OrvaneGenerateTangentSpaceFromUVs(orvane_mesh_builder* Builder);

/* Tangent frames for an indexed mesh. Vertices (VertexLayout) are read for "Position",
 * "Normal" and "TextureCoordinates0" (U, V). Output: VertexFrames, 9 reals per vertex
 * (tangent, binormal, normal, orthonormal; zero where texture coordinates are degenerate).
 * TriangleScratch holds 9 reals per triangle. CoincidentNext (the ring of vertices that share
 * a base vertex) and VertexToTriangle (one triangle using each vertex, -1 for none) are read
 * and updated; Indices may be re-pointed to new vertices, appended after VertexCount (copies
 * of the vertex they split). Returns the new vertex count, or -1 (after an error) for bad
 * arguments: null arrays, negative counts, an index outside the vertices.
 * OrvaneBuildTangentSpace takes the vertex arrays (Vertices, VertexFrames, CoincidentNext,
 * VertexToTriangle) to hold VertexCount + 3 x TriangleCount vertices, the most a split can
 * need; WithCapacity takes their capacity in vertices, and a split beyond it logs an error and
 * leaves the corner on its vertex. Reentrant; allocates scratch of its own. */
ORVANE_API orvane_int32 OrvaneBuildTangentSpace(
    orvane_int32 TriangleCount, orvane_int32* Indices, orvane_real32* TriangleScratch,
    orvane_int32 VertexCount, const orvane_data_type_definition* VertexLayout, void* Vertices,
    orvane_real32* VertexFrames, orvane_int32* CoincidentNext, orvane_int32* VertexToTriangle,
    orvane_real32 MergingTolerance);
ORVANE_API orvane_int32 OrvaneBuildTangentSpaceWithCapacity(
    orvane_int32 TriangleCount, orvane_int32* Indices, orvane_real32* TriangleScratch,
    orvane_int32 VertexCount, orvane_int32 VertexCapacity,
    const orvane_data_type_definition* VertexLayout, void* Vertices, orvane_real32* VertexFrames,
    orvane_int32* CoincidentNext, orvane_int32* VertexToTriangle, orvane_real32 MergingTolerance);

/* The builder's current state: slots in use, the vertex store, the coincident ring and the
 * vertex-to-triangle map (slot arrays, valid until the next push or the end). */
ORVANE_API orvane_int32 OrvaneGetResultingVertexCount(const orvane_mesh_builder* Builder);
ORVANE_API void* OrvaneGetResultingVertices(const orvane_mesh_builder* Builder);
ORVANE_API orvane_int32* OrvaneGetResultingCoincidentVertexMap(const orvane_mesh_builder* Builder);
ORVANE_API orvane_int32* OrvaneGetResultingVertexToTriangleMap(const orvane_mesh_builder* Builder);

/* Bytes of the two output blocks; 0 for a null builder. */
ORVANE_API orvane_int32 OrvaneGetResultingVertexDataSize(const orvane_mesh_builder* Builder);
ORVANE_API orvane_int32 OrvaneGetResultingTopologySize(const orvane_mesh_builder* Builder);
/* Writes the vertex data (layout copy, vertices, component names) and the topology (one group
 * per used material in material order, indices grouped so, the coincident ring, the
 * vertex-to-triangle map and the side adjacency) into pointer-aligned memories of the two sizes,
 * and releases the builder. Null or misaligned memory: the outputs are null (the builder is
 * still released). Triangle numbers in both maps are those of the output. A side's entry names
 * the side (4 x triangle + side) of the next triangle sharing its base-vertex pair, the last
 * naming the first, so a side without a partner names itself. */
ORVANE_API void OrvaneEndMeshInPlace(orvane_mesh_builder* Builder, void* VertexDataMemory,
                                     orvane_vertex_data** VertexData, void* TopologyMemory,
                                     orvane_tri_topology** Topology);
/* The same into two blocks it allocates (free each with OrvaneFreeBuilderResult). False, with
 * null outputs, when memory runs out or the builder is null; the builder is released. */
ORVANE_API orvane_bool OrvaneEndMesh(orvane_mesh_builder* Builder, orvane_vertex_data** VertexData,
                                     orvane_tri_topology** Topology);

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_MESH_BUILDER_H */

/* Orvane meshes: mesh queries, topologies and mesh bindings.
 *
 * Threads: every operation here may run on several threads at once on distinct meshes,
 * topologies and bindings. A built mesh binding may be read by several threads at once. */
#ifndef ORVANE_MESH_H
#define ORVANE_MESH_H

#include "orvane/common.h"
#include "orvane/math.h"
#include "orvane/types.h"
#include "orvane/vertex_layout.h"
#include "orvane/world_pose.h"

ORVANE_EXTERN_C_BEGIN

/* ---- Meshes ---- */

/* Queries take a mesh; a null mesh or missing sub-object gives 0 or null. */
ORVANE_API orvane_int32 OrvaneGetMeshMorphTargetCount(const orvane_mesh* Mesh);
ORVANE_API orvane_int32 OrvaneGetMeshTriangleGroupCount(const orvane_mesh* Mesh);
ORVANE_API orvane_tri_material_group* OrvaneGetMeshTriangleGroups(const orvane_mesh* Mesh);
ORVANE_API orvane_data_type_definition* OrvaneGetMeshVertexType(const orvane_mesh* Mesh);
ORVANE_API orvane_int32 OrvaneGetMeshVertexCount(const orvane_mesh* Mesh);
ORVANE_API void* OrvaneGetMeshVertices(const orvane_mesh* Mesh);
/* Morph target queries: an index outside [0, count) logs an error and gives null or 0. */
ORVANE_API orvane_data_type_definition* OrvaneGetMeshMorphVertexType(const orvane_mesh* Mesh,
                                                                     orvane_int32 MorphTargetIndex);
ORVANE_API orvane_int32 OrvaneGetMeshMorphVertexCount(const orvane_mesh* Mesh,
                                                      orvane_int32 MorphTargetIndex);
ORVANE_API void* OrvaneGetMeshMorphVertices(const orvane_mesh* Mesh, orvane_int32 MorphTargetIndex);
/* Convert every vertex into Dest (OrvaneGetMeshVertexCount objects of DestType). A mesh
 * without vertices logs an error and writes nothing. */
ORVANE_API void OrvaneCopyMeshVertices(const orvane_mesh* Mesh,
                                       const orvane_data_type_definition* DestType, void* Dest);
ORVANE_API void OrvaneCopyMeshMorphVertices(const orvane_mesh* Mesh, orvane_int32 MorphTargetIndex,
                                            const orvane_data_type_definition* DestType,
                                            void* Dest);
/* Fewer than 2 bone bindings. */
ORVANE_API orvane_bool OrvaneMeshIsRigid(const orvane_mesh* Mesh);
/* The 32-bit index array when it is not empty, else the 16-bit one. */
ORVANE_API orvane_int32 OrvaneGetMeshIndexCount(const orvane_mesh* Mesh);
ORVANE_API orvane_int32 OrvaneGetMeshTriangleCount(const orvane_mesh* Mesh);
/* 4, 2, or 0 without indices. */
ORVANE_API orvane_int32 OrvaneGetMeshBytesPerIndex(const orvane_mesh* Mesh);
ORVANE_API void* OrvaneGetMeshIndices(const orvane_mesh* Mesh);
/* Writes OrvaneGetMeshIndexCount indices of BytesPerIndex (1, 2 or 4) bytes into Dest. */
ORVANE_API void OrvaneCopyMeshIndices(const orvane_mesh* Mesh, orvane_int32 BytesPerIndex,
                                      void* Dest);

/* ---- Topologies and indices ---- */

/* Reverses every triangle (first and third corner swapped) in both index arrays and rewrites
 * the side-to-neighbour map to match. */
ORVANE_API void OrvaneInvertTriTopologyWinding(orvane_tri_topology* Topology);
/* MaterialIndex m of each group becomes Remap[m] when m is in [0, RemapCount); other indices
 * stay and are warned about. */
ORVANE_API void OrvaneRemapTopologyMaterials(orvane_tri_topology* Topology, orvane_int32 RemapCount,
                                             const orvane_int32* Remap);
/* Widths 1, 2, 4. Widening zero-extends; narrowing keeps the low bytes. Another width logs an
 * error and writes nothing. */
ORVANE_API void OrvaneConvertIndices(orvane_int32 IndexCount, orvane_int32 FromBytesPerIndex,
                                     const void* FromIndices, orvane_int32 ToBytesPerIndex,
                                     void* ToIndices);
/* Replaces the box by the bounds of its 8 corners mapped by p -> L p + Affine3. */
ORVANE_API void OrvaneTransformBoundingBox(const orvane_real32 Affine3[3],
                                           const orvane_real32 Linear3x3[9], orvane_real32 Min[3],
                                           orvane_real32 Max[3]);

/* ---- Mesh bindings ---- */

/* Ties the mesh's bone bindings (by BoneName) to bones of ToSkeleton, whose world pose deforms
 * it, and of FromSkeleton, whose bind pose its vertices are in (a transferred binding when the
 * two differ). Opaque; one block. A built binding is read-only and may be shared by threads. */
typedef struct orvane_mesh_binding orvane_mesh_binding;

/* Bytes of the block: the record, then BoneCount copies of inverse world matrices (64 bytes
 * each), then BoneCount int32 indices, then BoneCount more for a transferred binding. 0 for a
 * null mesh, or when the size does not fit an int32. */
ORVANE_API orvane_int32 OrvaneGetResultingMeshBindingSize(const orvane_mesh* Mesh,
                                                          const orvane_skeleton* FromSkeleton,
                                                          const orvane_skeleton* ToSkeleton);
/* Builds into Memory (pointer-aligned, OrvaneGetResultingMeshBindingSize bytes). Null, after
 * an error, for null arguments, a skinned mesh bound to a skeleton without bones or to one
 * that fails the skeleton checks of model instances (runtime.h: parents in order, finite
 * rest transforms and inverse world matrices), or a mesh whose vertices name bone bindings
 * it does not have (damaged data). A bone name the skeleton lacks binds to bone 0 with a
 * warning. */
ORVANE_API orvane_mesh_binding* OrvaneNewMeshBindingInPlace(const orvane_mesh* Mesh,
                                                            const orvane_skeleton* FromSkeleton,
                                                            const orvane_skeleton* ToSkeleton,
                                                            void* Memory);
ORVANE_API orvane_mesh_binding* OrvaneNewMeshBinding(const orvane_mesh* Mesh,
                                                     const orvane_skeleton* FromSkeleton,
                                                     const orvane_skeleton* ToSkeleton);
ORVANE_API void OrvaneFreeMeshBinding(orvane_mesh_binding* Binding);
ORVANE_API orvane_bool OrvaneMeshBindingIsTransferred(const orvane_mesh_binding* Binding);
ORVANE_API const orvane_mesh* OrvaneGetMeshBindingSourceMesh(const orvane_mesh_binding* Binding);
ORVANE_API orvane_int32 OrvaneGetMeshBindingBoneCount(const orvane_mesh_binding* Binding);
ORVANE_API const orvane_skeleton* OrvaneGetMeshBindingFromSkeleton(
    const orvane_mesh_binding* Binding);
ORVANE_API const orvane_int32* OrvaneGetMeshBindingFromBoneIndices(
    const orvane_mesh_binding* Binding);
ORVANE_API const orvane_skeleton* OrvaneGetMeshBindingToSkeleton(
    const orvane_mesh_binding* Binding);
ORVANE_API const orvane_int32* OrvaneGetMeshBindingToBoneIndices(
    const orvane_mesh_binding* Binding);
/* BoneCount x 64 bytes; 0 (with an error logged) when that does not fit an int32. */
ORVANE_API orvane_int32 OrvaneGetMeshBinding4x4ArraySize(const orvane_mesh_binding* Binding,
                                                         orvane_int32 BoneCount);
/* The skinning matrices of binding bones [FirstBone, FirstBone + BoneCount) from a world pose
 * of ToSkeleton: for each bone binding i, InverseWorldTransform(FromSkeleton bone) x
 * World(ToSkeleton bone), the affine product for row vectors, written as the next 16 reals of
 * Dest4x4 (OrvaneGetMeshBinding4x4ArraySize bytes). They carry a bind-pose vertex to its posed
 * place and are what OrvaneDeformVertices takes, without an index table. FirstBone outside
 * [0, binding bone count), an end outside [0, binding bone count], or a world pose that lacks
 * a bound bone (smaller than ToSkeleton) logs an error and writes nothing. Each matrix is
 * OrvaneColumnMatrixMultiply4x3's product to the bit, except that subnormal numbers (below
 * 1.2e-38 in magnitude) in an inverse world matrix count as 0: a product of one costs the
 * processor a slow assist every frame, and what it would add to an element is below 1.2e-38
 * times the world matrix's largest element. The inverse world matrices are those FromSkeleton
 * held when the binding was built (the binding keeps a copy, read in bone order): a skeleton
 * changed later needs a new binding. Distinct bindings and destinations may be built on several
 * threads at once. */
ORVANE_API void OrvaneBuildMeshBinding4x4Array(const orvane_mesh_binding* Binding,
                                               const orvane_world_pose* WorldPose,
                                               orvane_int32 FirstBone, orvane_int32 BoneCount,
                                               orvane_real32* Dest4x4);
/* The same from WorldMatrixCount world matrices (16 reals each) indexed by ToSkeleton bone. */
ORVANE_API void OrvaneBuildMeshBinding4x4ArrayFromMatrices(const orvane_mesh_binding* Binding,
                                                           const orvane_real32* WorldMatrices,
                                                           orvane_int32 WorldMatrixCount,
                                                           orvane_int32 FirstBone,
                                                           orvane_int32 BoneCount,
                                                           orvane_real32* Dest4x4);

ORVANE_EXTERN_C_END

#endif /* ORVANE_MESH_H */

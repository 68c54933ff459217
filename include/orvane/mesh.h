/* Orvane meshes and skinning: vertex layouts, mesh queries, topologies, mesh bindings and the
 * mesh deformers.
 *
 * A vertex layout is a type description (orvane/types.h) whose members are named channels:
 * "Position", "BoneWeights", "BoneIndices", "Normal", "Tangent", "Binormal",
 * "TangentBinormalCross" (the seven spatial members), "TextureCoordinates<n>",
 * "DiffuseColor<n>", "SpecularColor<n>". The standard layouts below are named by a letter code
 * (P position, W bone influence, N normal, G tangent, B binormal, T texture coordinates 0,
 * X tangent-binormal cross) followed by each letter's component count; W's digit is the number
 * of bones per vertex. Each layout has a struct of the same layout.
 *
 * Threads: every operation here may run on several threads at once on distinct vertex arrays,
 * meshes, topologies, bindings and deformers. A built mesh binding or deformer may be read by
 * several threads at once. Nothing here keeps state between calls except the deformer
 * registry (built once, race-free) and the once-per-process flags of warnings.
 */
#ifndef ORVANE_MESH_H
#define ORVANE_MESH_H

#include "orvane/common.h"
#include "orvane/runtime.h"
#include "orvane/types.h"

ORVANE_EXTERN_C_BEGIN

#pragma pack(push, 4)

/* ---- Standard vertex layouts (the struct of each Orvane...VertexType) ---- */

typedef struct orvane_p3_vertex {
    orvane_real32 Position[3];
} orvane_p3_vertex;
typedef struct orvane_pt32_vertex {
    orvane_real32 Position[3];
    orvane_real32 TextureCoordinates0[2];
} orvane_pt32_vertex;
typedef struct orvane_pn33_vertex {
    orvane_real32 Position[3];
    orvane_real32 Normal[3];
} orvane_pn33_vertex;
typedef struct orvane_png333_vertex {
    orvane_real32 Position[3];
    orvane_real32 Normal[3];
    orvane_real32 Tangent[3];
} orvane_png333_vertex;
typedef struct orvane_pngt3332_vertex {
    orvane_real32 Position[3];
    orvane_real32 Normal[3];
    orvane_real32 Tangent[3];
    orvane_real32 TextureCoordinates0[2];
} orvane_pngt3332_vertex;
typedef struct orvane_pnt332_vertex {
    orvane_real32 Position[3];
    orvane_real32 Normal[3];
    orvane_real32 TextureCoordinates0[2];
} orvane_pnt332_vertex;
typedef struct orvane_pngb3333_vertex {
    orvane_real32 Position[3];
    orvane_real32 Normal[3];
    orvane_real32 Tangent[3];
    orvane_real32 Binormal[3];
} orvane_pngb3333_vertex;
typedef struct orvane_pnt333_vertex {
    orvane_real32 Position[3];
    orvane_real32 Normal[3];
    orvane_real32 TextureCoordinates0[3];
} orvane_pnt333_vertex;
typedef struct orvane_pngbt33332_vertex {
    orvane_real32 Position[3];
    orvane_real32 Normal[3];
    orvane_real32 Tangent[3];
    orvane_real32 Binormal[3];
    orvane_real32 TextureCoordinates0[2];
} orvane_pngbt33332_vertex;
typedef struct orvane_pngbt33333_vertex {
    orvane_real32 Position[3];
    orvane_real32 Normal[3];
    orvane_real32 Tangent[3];
    orvane_real32 Binormal[3];
    orvane_real32 TextureCoordinates0[3];
} orvane_pngbt33333_vertex;

/* Skinned layouts: one bone has a 32-bit index and no weight; two and four bones have weight
 * bytes (0..255 for 0..1) and index bytes. Bone indices number the mesh's bone bindings. */
#define ORVANE_SKINNED_VERTEX_1(name, extra) \
    typedef struct name {                    \
        orvane_real32 Position[3];           \
        orvane_uint32 BoneIndices;           \
        orvane_real32 Normal[3];             \
        extra                                \
    } name;
#define ORVANE_SKINNED_VERTEX_N(name, n, extra) \
    typedef struct name {                       \
        orvane_real32 Position[3];              \
        orvane_uint8 BoneWeights[n];            \
        orvane_uint8 BoneIndices[n];            \
        orvane_real32 Normal[3];                \
        extra                                   \
    } name;
#define ORVANE_SKINNED_FAMILY(stem1, stem2, stem4, extra) \
    ORVANE_SKINNED_VERTEX_1(stem1, extra)                 \
    ORVANE_SKINNED_VERTEX_N(stem2, 2, extra)              \
    ORVANE_SKINNED_VERTEX_N(stem4, 4, extra)

ORVANE_SKINNED_FAMILY(orvane_pwn313_vertex, orvane_pwn323_vertex, orvane_pwn343_vertex, )
ORVANE_SKINNED_FAMILY(orvane_pwng3133_vertex, orvane_pwng3233_vertex, orvane_pwng3433_vertex,
                      orvane_real32 Tangent[3];)
ORVANE_SKINNED_FAMILY(orvane_pwngt31332_vertex, orvane_pwngt32332_vertex, orvane_pwngt34332_vertex,
                      orvane_real32 Tangent[3];
                      orvane_real32 TextureCoordinates0[2];)
ORVANE_SKINNED_FAMILY(orvane_pwngb31333_vertex, orvane_pwngb32333_vertex, orvane_pwngb34333_vertex,
                      orvane_real32 Tangent[3];
                      orvane_real32 Binormal[3];)
ORVANE_SKINNED_FAMILY(orvane_pwnt3132_vertex, orvane_pwnt3232_vertex, orvane_pwnt3432_vertex,
                      orvane_real32 TextureCoordinates0[2];)
ORVANE_SKINNED_FAMILY(orvane_pwngbt313332_vertex, orvane_pwngbt323332_vertex,
                      orvane_pwngbt343332_vertex, orvane_real32 Tangent[3];
                      orvane_real32 Binormal[3]; orvane_real32 TextureCoordinates0[2];)

#undef ORVANE_SKINNED_FAMILY
#undef ORVANE_SKINNED_VERTEX_N
#undef ORVANE_SKINNED_VERTEX_1

typedef struct orvane_gbx333_vertex {
    orvane_real32 Tangent[3];
    orvane_real32 Binormal[3];
    orvane_real32 TangentBinormalCross[3];
} orvane_gbx333_vertex;

/* The widest form of a vertex's bone influences: at most 256 bones per vertex. */
#define ORVANE_MAX_BONES_PER_VERTEX 256
typedef struct orvane_vertex_weight_arrays {
    orvane_real32 BoneWeights[ORVANE_MAX_BONES_PER_VERTEX];
    orvane_uint32 BoneIndices[ORVANE_MAX_BONES_PER_VERTEX];
} orvane_vertex_weight_arrays;

#pragma pack(pop)

ORVANE_API extern orvane_data_type_definition* const OrvaneP3VertexType;
ORVANE_API extern orvane_data_type_definition* const OrvanePT32VertexType;
ORVANE_API extern orvane_data_type_definition* const OrvanePN33VertexType;
ORVANE_API extern orvane_data_type_definition* const OrvanePNG333VertexType;
ORVANE_API extern orvane_data_type_definition* const OrvanePNGT3332VertexType;
ORVANE_API extern orvane_data_type_definition* const OrvanePNT332VertexType;
ORVANE_API extern orvane_data_type_definition* const OrvanePNGB3333VertexType;
ORVANE_API extern orvane_data_type_definition* const OrvanePNT333VertexType;
ORVANE_API extern orvane_data_type_definition* const OrvanePNGBT33332VertexType;
ORVANE_API extern orvane_data_type_definition* const OrvanePNGBT33333VertexType;
ORVANE_API extern orvane_data_type_definition* const OrvanePWN313VertexType;
ORVANE_API extern orvane_data_type_definition* const OrvanePWN323VertexType;
ORVANE_API extern orvane_data_type_definition* const OrvanePWN343VertexType;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNG3133VertexType;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNG3233VertexType;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNG3433VertexType;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNGT31332VertexType;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNGT32332VertexType;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNGT34332VertexType;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNGB31333VertexType;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNGB32333VertexType;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNGB34333VertexType;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNT3132VertexType;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNT3232VertexType;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNT3432VertexType;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNGBT313332VertexType;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNGBT323332VertexType;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNGBT343332VertexType;
ORVANE_API extern orvane_data_type_definition* const OrvaneGBX333VertexType;
ORVANE_API extern orvane_data_type_definition* const OrvaneVertexWeightArraysType;

/* ---- Vertex operations ---- */

/* Converts Count vertices member by member (by name, as OrvaneConvertSingleObject), then
 * mends two cases for each real destination member with a matching source member: quantised
 * directions (a NormalUInt8 "Normal", "Tangent" or "Binormal") map 0..255 to -1..1, and 16-bit
 * texture coordinates (an Int16 "TextureCoordinates<n>") are fixed point with 12 fractional
 * bits. Strides are the layouts' object sizes. A null type or a Count <= 0 does nothing. */
ORVANE_API void OrvaneConvertVertexLayouts(orvane_int32 Count,
                                           const orvane_data_type_definition* SourceType,
                                           const void* Source,
                                           const orvane_data_type_definition* DestType, void* Dest);
/* Makes quantised weights sum to exactly their full scale (127, 255, 32767 or 65535 by
 * kind), adding one unit at a time from the first weight on, or removing from the last one
 * back. Real weights are left alone; other kinds log an error and change nothing. A width of
 * 0 is one value, as everywhere in the type system. */
ORVANE_API void OrvaneEnsureExactOneNorm(const orvane_data_type_definition* WeightsMember,
                                         void* Weights);
/* Scales each vertex's "BoneWeights" to sum to one, re-quantises them and applies the exact
 * one-norm. Vertices without weights are left alone. At most the first 256 weights are
 * scaled. */
ORVANE_API void OrvaneOneNormalizeWeights(orvane_int32 Count,
                                          const orvane_data_type_definition* Type, void* Vertices);
/* Position p -> L p + Affine3; Tangent, Binormal -> L v; Normal, TangentBinormalCross ->
 * transpose(InverseLinear) v (L and its inverse row-major). With Renormalize, the four
 * directions are scaled to unit length (zero when shorter than 0.00001). */
ORVANE_API void OrvaneTransformVertices(orvane_int32 Count, const orvane_data_type_definition* Type,
                                        void* Vertices, const orvane_real32 Affine3[3],
                                        const orvane_real32 Linear3x3[9],
                                        const orvane_real32 InverseLinear3x3[9],
                                        orvane_bool Renormalize);
/* Scales the four directions of each vertex to unit length (zero when shorter than 0.00001
 * or equal). */
ORVANE_API void OrvaneNormalizeVertices(orvane_int32 Count, const orvane_data_type_definition* Type,
                                        void* Vertices);

/* Channel names: the base name followed by the index in decimal, at most 64 bytes written
 * (terminator included): Buffer must hold 64 bytes. */
#define ORVANE_MAX_VERTEX_CHANNEL_NAME 64
ORVANE_API void OrvaneGetVertexTextureCoordinatesName(orvane_int32 Index, char* Buffer);
ORVANE_API void OrvaneGetVertexDiffuseColorName(orvane_int32 Index, char* Buffer);
ORVANE_API void OrvaneGetVertexSpecularColorName(orvane_int32 Index, char* Buffer);
/* True when Name is exactly (case-sensitively) one of the seven spatial member names. */
ORVANE_API orvane_bool OrvaneIsSpatialVertexMember(const char* Name);
/* The width of the member matching "BoneWeights", else of the one matching "BoneIndices"
 * (a width of 0 counts as 1), else 0. Names match as conversion matches them. */
ORVANE_API orvane_int32 OrvaneGetVertexBoneCount(const orvane_data_type_definition* Type);
/* Members that are not spatial. */
ORVANE_API orvane_int32 OrvaneGetVertexChannelCount(const orvane_data_type_definition* Type);
/* Members not named exactly "BoneWeights"; 0 for a null type. */
ORVANE_API orvane_int32 OrvaneGetVertexComponentCount(const orvane_data_type_definition* Type);
/* Index of the first member whose name matches, or -1. */
ORVANE_API orvane_int32 OrvaneGetVertexComponentIndex(const char* ComponentName,
                                                      const orvane_data_type_definition* Type);
/* The art tool's name for the member (VertexComponentNames by member index), or null. */
ORVANE_API const char* OrvaneGetVertexComponentToolName(const char* ComponentName,
                                                        const orvane_vertex_data* VertexData);
/* Converts vertex Index of VertexData into Dest of layout As. Null As or Dest: error, nothing
 * written; an index outside [0, VertexCount): error, Dest emptied. */
ORVANE_API void OrvaneGetSingleVertex(const orvane_vertex_data* VertexData, orvane_int32 Index,
                                      const orvane_data_type_definition* As, void* Dest);
/* Write three reals into the vertex's "Position", "Normal", "DiffuseColor<ColorIndex>" or
 * "TextureCoordinates<ChannelIndex>" member (converted to its kind; only as many values as it
 * holds); nothing when the layout lacks the member. */
ORVANE_API void OrvaneSetVertexPosition(const orvane_data_type_definition* Type, void* Vertex,
                                        const orvane_real32 Position[3]);
ORVANE_API void OrvaneSetVertexNormal(const orvane_data_type_definition* Type, void* Vertex,
                                      const orvane_real32 Normal[3]);
ORVANE_API void OrvaneSetVertexColor(const orvane_data_type_definition* Type, void* Vertex,
                                     orvane_int32 ColorIndex, const orvane_real32 Color[3]);
ORVANE_API void OrvaneSetVertexUVW(const orvane_data_type_definition* Type, void* Vertex,
                                   orvane_int32 ChannelIndex, const orvane_real32 UVW[3]);
/* True when every bone index of the Count vertices lies in [0, BoneCount): the "BoneIndices"
 * member (any integer kind), and the bytes that a deformer reads as bone indices in a layout
 * that begins like a skinned standard layout (deformers match kinds and widths, not names).
 * True for layouts without bone indices. A damaged index logs an error naming the vertex.
 * Mesh bindings make this check once, so that a deformer never reads outside the matrix
 * array; applications that skin loaded vertices with matrices of their own make it once per
 * vertex array. */
ORVANE_API orvane_bool OrvaneVertexBoneIndicesAreInRange(orvane_int32 Count,
                                                         const orvane_data_type_definition* Type,
                                                         const void* Vertices,
                                                         orvane_int32 BoneCount);

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

/* Bytes of the block: the record, then BoneCount int32 indices, then BoneCount more for a
 * transferred binding. 0 for a null mesh, or when the size does not fit an int32. */
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
 * a bound bone (smaller than ToSkeleton) logs an error and writes nothing. */
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
 * but the same size is warned about). */
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
/* The art tool's names, one per layout component (OrvaneGetVertexComponentCount); copied into
 * the vertex data at the end. Another count logs an error and changes nothing. The texts are
 * read when the mesh ends and must live until then. */
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

/* The pending triangle: per corner (0 to 2) its base vertex and its corner data. A corner
 * without a base vertex refuses the triangle. */
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

#endif /* ORVANE_MESH_H */

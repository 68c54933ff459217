/* Orvane vertex layouts: the standard layouts and the operations on vertices of any layout.
 *
 * A vertex layout is a type description (orvane/types.h) whose members are named channels:
 * "Position", "BoneWeights", "BoneIndices", "Normal", "Tangent", "Binormal",
 * "TangentBinormalCross" (the seven spatial members), "TextureCoordinates<n>",
 * "DiffuseColor<n>", "SpecularColor<n>". The standard layouts below are named by a letter code
 * (P position, W bone influence, N normal, G tangent, B binormal, T texture coordinates 0,
 * X tangent-binormal cross) followed by each letter's component count; W's digit is the number
 * of bones per vertex. Each layout has a struct of the same layout.
 *
 * Threads: every operation here may run on several threads at once on distinct vertex arrays. */
#ifndef ORVANE_PUBLIC_VERTEX_LAYOUT_H
#define ORVANE_PUBLIC_VERTEX_LAYOUT_H

#include "orvane/common.h"
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
 * 0 is one value, as everywhere in the type system; a negative width changes nothing. */
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

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_VERTEX_LAYOUT_H */

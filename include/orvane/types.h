/* Orvane data type system: type descriptions, the content schema and the standard content
 * descriptions, model and material lookups. */
#ifndef ORVANE_TYPES_H
#define ORVANE_TYPES_H

#include "orvane/common.h"
#include "orvane/core.h"
#include "orvane/math.h"

ORVANE_EXTERN_C_BEGIN

/* Content records are declared with 4-byte packing so that members follow one another
 * directly, exactly as their type descriptions lay them out: a description's member offsets
 * must equal the struct's field offsets on every host, including 64-bit hosts where natural
 * alignment would pad before each pointer. */
#pragma pack(push, 4)

/* The kinds of members; the numeric values are stored in content files. */
typedef enum orvane_member_type {
    OrvaneEndMember = 0,
    OrvaneInlineMember = 1,
    OrvaneReferenceMember = 2,
    OrvaneReferenceToArrayMember = 3,
    OrvaneArrayOfReferencesMember = 4,
    OrvaneVariantReferenceMember = 5,
    OrvaneSwitchableTypeMember = 6,
    OrvaneReferenceToVariantArrayMember = 7,
    OrvaneStringMember = 8,
    OrvaneTransformMember = 9,
    OrvaneReal32Member = 10,
    OrvaneInt8Member = 11,
    OrvaneUInt8Member = 12,
    OrvaneBinormalInt8Member = 13,
    OrvaneNormalUInt8Member = 14,
    OrvaneInt16Member = 15,
    OrvaneUInt16Member = 16,
    OrvaneBinormalInt16Member = 17,
    OrvaneNormalUInt16Member = 18,
    OrvaneInt32Member = 19,
    OrvaneUInt32Member = 20,
    OrvaneOnePastLastMemberType = 21
} orvane_member_type;

/* One member record of a type description; a description is an array of them ending with an
 * OrvaneEndMember record. In memory the pointers are native; in content files the record is
 * 32 bytes with 4-byte pointer slots. */
typedef struct orvane_data_type_definition {
    orvane_int32 Type; /* an orvane_member_type */
    const char* Name;
    struct orvane_data_type_definition* ReferenceType;
    orvane_int32 ArrayWidth; /* 0 and 1 both mean one value */
    orvane_int32 Extra[3];   /* reserved, zero */
    uintptr_t TraversalMark; /* zero at rest */
} orvane_data_type_definition;

/* A typed object reference: the layout of a variant member. */
typedef struct orvane_variant {
    orvane_data_type_definition* Type;
    void* Object;
} orvane_variant;

/* ---------------------------------------------------------------------------------------- */
/* The content schema: one struct per content kind, in the layout its Orvane...Type          */
/* description gives (native pointers; 4-byte packing). Strings are zero-terminated; an      */
/* array member is a count followed by a pointer.                                            */
/* ---------------------------------------------------------------------------------------- */

typedef struct orvane_art_tool_info {
    char* FromArtToolName;
    orvane_int32 ArtToolMajorRevision;
    orvane_int32 ArtToolMinorRevision;
    orvane_real32 UnitsPerMeter;
    orvane_real32 Origin[3];
    orvane_real32 RightVector[3];
    orvane_real32 UpVector[3];
    orvane_real32 BackVector[3];
} orvane_art_tool_info;

typedef struct orvane_exporter_info {
    char* ExporterName;
    orvane_int32 ExporterMajorRevision;
    orvane_int32 ExporterMinorRevision;
    orvane_int32 ExporterCustomization;
    orvane_int32 ExporterBuildNumber;
} orvane_exporter_info;

typedef struct orvane_pixel_layout {
    orvane_int32 BytesPerPixel;
    orvane_int32 ShiftForComponent[4];
    orvane_int32 BitsForComponent[4];
} orvane_pixel_layout;

typedef struct orvane_texture_mip_level {
    orvane_int32 Stride; /* bytes per row */
    orvane_int32 PixelByteCount;
    orvane_uint8* Pixels;
} orvane_texture_mip_level;

typedef struct orvane_texture_image {
    orvane_int32 MIPLevelCount;
    orvane_texture_mip_level* MIPLevels;
} orvane_texture_image;

typedef struct orvane_texture {
    char* FromFileName;
    orvane_int32 TextureType;
    orvane_int32 Width;
    orvane_int32 Height;
    orvane_int32 Encoding;
    orvane_int32 SubFormat;
    orvane_pixel_layout Layout;
    orvane_int32 ImageCount;
    orvane_texture_image* Images;
    orvane_variant ExtendedData;
} orvane_texture;

struct orvane_material;

typedef struct orvane_material_map {
    char* Usage; /* the channel name */
    struct orvane_material* Map;
} orvane_material_map;

typedef struct orvane_material {
    char* Name;
    orvane_int32 MapCount;
    orvane_material_map* Maps;
    orvane_texture* Texture;
    orvane_variant ExtendedData;
} orvane_material;

typedef struct orvane_light_info {
    orvane_variant ExtendedData;
} orvane_light_info;

typedef struct orvane_camera_info {
    orvane_variant ExtendedData;
} orvane_camera_info;

typedef struct orvane_bone {
    char* Name;
    orvane_int32 ParentIndex;   /* below the bone's own index; -1 for a root */
    orvane_transform Transform; /* rest transform relative to the parent */
    orvane_real32 InverseWorldTransform[4][4];
    orvane_light_info* LightInfo;
    orvane_camera_info* CameraInfo;
    orvane_variant ExtendedData;
} orvane_bone;

typedef struct orvane_skeleton {
    char* Name;
    orvane_int32 BoneCount;
    orvane_bone* Bones;
} orvane_skeleton;

typedef struct orvane_vertex_annotation_set {
    char* Name;
    orvane_data_type_definition* VertexAnnotationType;
    orvane_int32 VertexAnnotationCount;
    void* VertexAnnotations;
    orvane_int32 IndicesMapFromVertexToAnnotation;
    orvane_int32 VertexAnnotationIndexCount;
    orvane_int32* VertexAnnotationIndices;
} orvane_vertex_annotation_set;

typedef struct orvane_vertex_data {
    orvane_data_type_definition* VertexType;
    orvane_int32 VertexCount;
    void* Vertices;
    orvane_int32 VertexComponentNameCount;
    char** VertexComponentNames;
    orvane_int32 VertexAnnotationSetCount;
    orvane_vertex_annotation_set* VertexAnnotationSets;
} orvane_vertex_data;

typedef struct orvane_tri_material_group {
    orvane_int32 MaterialIndex;
    orvane_int32 TriFirst;
    orvane_int32 TriCount;
} orvane_tri_material_group;

typedef struct orvane_tri_annotation_set {
    char* Name;
    orvane_data_type_definition* TriAnnotationType;
    orvane_int32 TriAnnotationCount;
    void* TriAnnotations;
    orvane_int32 IndicesMapFromTriToAnnotation;
    orvane_int32 TriAnnotationIndexCount;
    orvane_int32* TriAnnotationIndices;
} orvane_tri_annotation_set;

typedef struct orvane_tri_topology {
    orvane_int32 GroupCount;
    orvane_tri_material_group* Groups;
    orvane_int32 IndexCount;
    orvane_int32* Indices;
    orvane_int32 Index16Count;
    orvane_int16* Indices16;
    orvane_int32 VertexToVertexCount;
    orvane_int32* VertexToVertexMap;
    orvane_int32 VertexToTriangleCount;
    orvane_int32* VertexToTriangleMap;
    orvane_int32 SideToNeighborCount;
    orvane_int32* SideToNeighborMap;
    orvane_int32 BonesForTriangleCount;
    orvane_int32* BonesForTriangle;
    orvane_int32 TriangleToBoneCount;
    orvane_int32* TriangleToBoneIndices;
    orvane_int32 TriAnnotationSetCount;
    orvane_tri_annotation_set* TriAnnotationSets;
} orvane_tri_topology;

typedef struct orvane_morph_target {
    char* ScalarName;
    orvane_vertex_data* VertexData;
} orvane_morph_target;

typedef struct orvane_material_binding {
    orvane_material* Material;
} orvane_material_binding;

typedef struct orvane_bone_binding {
    char* BoneName;
    orvane_real32 OBBMin[3];
    orvane_real32 OBBMax[3];
    orvane_int32 TriangleCount;
    orvane_int32* TriangleIndices;
} orvane_bone_binding;

typedef struct orvane_mesh {
    char* Name;
    orvane_vertex_data* PrimaryVertexData;
    orvane_int32 MorphTargetCount;
    orvane_morph_target* MorphTargets;
    orvane_tri_topology* PrimaryTopology;
    orvane_int32 MaterialBindingCount;
    orvane_material_binding* MaterialBindings;
    orvane_int32 BoneBindingCount;
    orvane_bone_binding* BoneBindings;
    orvane_variant ExtendedData;
} orvane_mesh;

typedef struct orvane_model_mesh_binding {
    orvane_mesh* Mesh;
} orvane_model_mesh_binding;

typedef struct orvane_model {
    char* Name;
    orvane_skeleton* Skeleton;
    orvane_transform InitialPlacement;
    orvane_int32 MeshBindingCount;
    orvane_model_mesh_binding* MeshBindings;
} orvane_model;

/* A curve: a variant whose type is one of the curve data formats. */
typedef struct orvane_curve2 {
    orvane_variant CurveData;
} orvane_curve2;

/* The earlier curve layout, read only when converting old files. */
typedef struct orvane_old_curve {
    orvane_int32 Degree;
    orvane_int32 KnotCount;
    orvane_real32* Knots;
    orvane_int32 ControlCount;
    orvane_real32* Controls;
} orvane_old_curve;

typedef struct orvane_vector_track {
    char* Name;
    orvane_int32 Dimension;
    orvane_curve2 ValueCurve;
} orvane_vector_track;

typedef struct orvane_transform_track {
    char* Name;
    orvane_curve2 PositionCurve;
    orvane_curve2 OrientationCurve;
    orvane_curve2 ScaleShearCurve;
} orvane_transform_track;

typedef struct orvane_text_track_entry {
    orvane_real32 TimeStamp;
    char* Text;
} orvane_text_track_entry;

typedef struct orvane_text_track {
    char* Name;
    orvane_int32 EntryCount;
    orvane_text_track_entry* Entries;
} orvane_text_track;

typedef struct orvane_periodic_loop {
    orvane_real32 Radius;
    orvane_real32 dAngle;
    orvane_real32 dZ;
    orvane_real32 BasisX[3];
    orvane_real32 BasisY[3];
    orvane_real32 Axis[3];
} orvane_periodic_loop;

typedef struct orvane_track_group {
    char* Name;
    orvane_int32 VectorTrackCount;
    orvane_vector_track* VectorTracks;
    orvane_int32 TransformTrackCount;
    orvane_transform_track* TransformTracks;
    orvane_int32 TransformLODErrorCount;
    orvane_real32* TransformLODErrors;
    orvane_int32 TextTrackCount;
    orvane_text_track* TextTracks;
    orvane_transform InitialPlacement;
    orvane_int32 AccumulationFlags;
    orvane_real32 LoopTranslation[3];
    orvane_periodic_loop* PeriodicLoop;
    orvane_transform_track* RootMotion;
    orvane_variant ExtendedData;
} orvane_track_group;

typedef struct orvane_animation {
    char* Name;
    orvane_real32 Duration;
    orvane_real32 TimeStep;
    orvane_real32 Oversampling;
    orvane_int32 TrackGroupCount;
    orvane_track_group** TrackGroups;
} orvane_animation;

/* The root object of a content file. */
typedef struct orvane_file_info {
    orvane_art_tool_info* ArtToolInfo;
    orvane_exporter_info* ExporterInfo;
    char* FromFileName;
    orvane_int32 TextureCount;
    orvane_texture** Textures;
    orvane_int32 MaterialCount;
    orvane_material** Materials;
    orvane_int32 SkeletonCount;
    orvane_skeleton** Skeletons;
    orvane_int32 VertexDataCount;
    orvane_vertex_data** VertexDatas;
    orvane_int32 TriTopologyCount;
    orvane_tri_topology** TriTopologies;
    orvane_int32 MeshCount;
    orvane_mesh** Meshes;
    orvane_int32 ModelCount;
    orvane_model** Models;
    orvane_int32 TrackGroupCount;
    orvane_track_group** TrackGroups;
    orvane_int32 AnimationCount;
    orvane_animation** Animations;
    orvane_variant ExtendedData;
} orvane_file_info;

/* An entry of OrvaneDefinedTypes: a catalogue of the standard content descriptions. */
typedef struct orvane_defined_type_entry {
    orvane_uint32 Tag; /* 0x10001 upwards */
    const char* Name;  /* lower-case name, "mesh" */
    orvane_data_type_definition* Type;
} orvane_defined_type_entry;

#pragma pack(pop)

/* ---------------------------------------------------------------------------------------- */
/* Type descriptions                                                                        */
/* ---------------------------------------------------------------------------------------- */

/* Two layouts. Objects in memory use the native layout, which every query below answers for:
 * with P = sizeof(void*), a ReferenceMember or StringMember takes P bytes, a
 * ReferenceToArrayMember, ArrayOfReferencesMember or SwitchableTypeMember 4 + P (count or
 * index, then pointer), a VariantReferenceMember 2P (type, then object) and a
 * ReferenceToVariantArrayMember 2P + 4 (type, count, pointer); a description record is
 * sizeof(orvane_data_type_definition) bytes. Content files keep the 32-bit layout (4-byte
 * pointer slots, 32-byte records); the file code converts between the two. The marshalling
 * flags describe the file bytes.
 *
 * Descriptions are never written to by the library: comparisons keep their bookkeeping on the
 * caller's stack, so any thread may query or compare any description at any time, and
 * TraversalMark stays zero. */

/* How a member's file bytes are swapped for the other byte order (a bit set). */
typedef enum orvane_marshalling {
    OrvaneNoMarshalling = 0,     /* pointers, strings, variants */
    OrvaneByteMarshalling = 1,   /* single bytes */
    OrvaneSwap16Marshalling = 2, /* 16-bit units */
    OrvaneSwap32Marshalling = 4  /* 32-bit units */
} orvane_marshalling;

/* Returns 0 when two member names count as equal (the convention of OrvaneStringDifference). */
typedef orvane_int32 (*orvane_member_name_comparison)(const char* A, const char* B);

/* Unit size of the member's kind, ignoring the array width. */
ORVANE_API orvane_int32 OrvaneGetMemberUnitSize(const orvane_data_type_definition* Member);
/* Bytes the member occupies: an InlineMember the object size of its type (its width is
 * ignored), any other member unit size x OrvaneGetMemberArrayWidth. */
ORVANE_API orvane_int32 OrvaneGetMemberTypeSize(const orvane_data_type_definition* Member);
/* Sum of the member sizes; 0 for a null type. */
ORVANE_API orvane_int32 OrvaneGetTotalObjectSize(const orvane_data_type_definition* Type);
/* Bytes of the description itself, terminator included:
 * sizeof(orvane_data_type_definition) x (members + 1); 0 for a null type. */
ORVANE_API orvane_int32 OrvaneGetTotalTypeSize(const orvane_data_type_definition* Type);
/* "Real32Member", and the declared type name "orvane_real32"; null outside 0..20. */
ORVANE_API const char* OrvaneGetMemberTypeName(orvane_int32 Type);
ORVANE_API const char* OrvaneGetMemberCTypeName(orvane_int32 Type);
/* True when the member holds a pointer (references, strings, arrays, variants, switchable
 * members; an InlineMember when its type does). */
ORVANE_API orvane_bool OrvaneMemberHasPointers(const orvane_data_type_definition* Member);
/* True when any member of Type does; false for a null type. */
ORVANE_API orvane_bool OrvaneTypeHasPointers(const orvane_data_type_definition* Type);
/* orvane_marshalling flags of a member (an InlineMember: of its type) and of a whole object. */
ORVANE_API orvane_uint32 OrvaneGetMemberMarshalling(const orvane_data_type_definition* Member);
ORVANE_API orvane_uint32 OrvaneGetObjectMarshalling(const orvane_data_type_definition* Type);
/* True when more than one flag is set. */
ORVANE_API orvane_bool OrvaneIsMixedMarshalling(orvane_uint32 Marshalling);
/* Write the empty value (identity transforms, zeros elsewhere) and return the bytes written. */
ORVANE_API orvane_int32 OrvaneMakeEmptyDataTypeMember(const orvane_data_type_definition* Member,
                                                      void* MemberStorage);
ORVANE_API orvane_int32 OrvaneMakeEmptyDataTypeObject(const orvane_data_type_definition* Type,
                                                      void* Object);
/* ArrayWidth, or 1 when it is 0. */
ORVANE_API orvane_int32 OrvaneGetMemberArrayWidth(const orvane_data_type_definition* Member);
/* The null-terminated type table of a SwitchableTypeMember; null for other kinds. */
ORVANE_API orvane_data_type_definition** OrvaneGetTypeTableFor(
    const orvane_data_type_definition* Member);
/* Entries before the null terminator; 0 for a null table. */
ORVANE_API orvane_int32 OrvaneGetTypeTableCount(orvane_data_type_definition* const* TypeTable);

/* Structural equality: equal kinds and raw array widths (0 and 1 differ), referenced
 * descriptions equal in turn; self-referencing descriptions are handled. Names are compared
 * with the callback (WithNameCallback; null compares none), exactly (WithNames) or not at all. */
ORVANE_API orvane_bool OrvaneDataTypesAreEqualWithNameCallback(
    const orvane_data_type_definition* A, const orvane_data_type_definition* B,
    orvane_member_name_comparison NameCallback);
ORVANE_API orvane_bool OrvaneDataTypesAreEqualWithNames(const orvane_data_type_definition* A,
                                                        const orvane_data_type_definition* B);
ORVANE_API orvane_bool OrvaneDataTypesAreEqual(const orvane_data_type_definition* A,
                                               const orvane_data_type_definition* B);
/* The member of Type that follows a matched prefix (names not compared), or null. */
ORVANE_API orvane_data_type_definition* OrvaneDataTypeBeginsWith(
    const orvane_data_type_definition* Type, const orvane_data_type_definition* Prefix);
/* Byte-reverses Count native objects of Type at Data, member by member. */
ORVANE_API void OrvaneReverseTypeArray(const orvane_data_type_definition* Type, orvane_int32 Count,
                                       void* Data);

/* Plain element types. */
ORVANE_API extern orvane_data_type_definition* const OrvaneEmptyType;
ORVANE_API extern orvane_data_type_definition* const OrvaneStringType;
ORVANE_API extern orvane_data_type_definition* const OrvaneInt16Type;
ORVANE_API extern orvane_data_type_definition* const OrvaneInt32Type;
ORVANE_API extern orvane_data_type_definition* const OrvaneUInt8Type;
ORVANE_API extern orvane_data_type_definition* const OrvaneUInt16Type;
ORVANE_API extern orvane_data_type_definition* const OrvaneUInt32Type;
ORVANE_API extern orvane_data_type_definition* const OrvaneReal32Type;
ORVANE_API extern orvane_data_type_definition* const OrvaneTripleType;
ORVANE_API extern orvane_data_type_definition* const OrvaneQuadType;
ORVANE_API extern orvane_data_type_definition* const OrvaneTransformType;

/* The catalogue of the standard content descriptions: OrvaneGetDefinedTypeCount (32) entries,
 * tags 0x10001 to 0x10020, no terminator. */
ORVANE_API extern const orvane_defined_type_entry OrvaneDefinedTypes[];
ORVANE_API orvane_int32 OrvaneGetDefinedTypeCount(void);

/* ---------------------------------------------------------------------------------------- */
/* Standard content descriptions (each a pointer to the first member record)                */
/* ---------------------------------------------------------------------------------------- */

ORVANE_API extern orvane_data_type_definition* const OrvaneFileInfoType;
ORVANE_API extern orvane_data_type_definition* const OrvaneArtToolInfoType;
ORVANE_API extern orvane_data_type_definition* const OrvaneExporterInfoType;
ORVANE_API extern orvane_data_type_definition* const OrvaneTextureType;
ORVANE_API extern orvane_data_type_definition* const OrvanePixelLayoutType;
ORVANE_API extern orvane_data_type_definition* const OrvaneTextureImageType;
ORVANE_API extern orvane_data_type_definition* const OrvaneTextureMIPLevelType;
ORVANE_API extern orvane_data_type_definition* const OrvaneMaterialType;
ORVANE_API extern orvane_data_type_definition* const OrvaneMaterialMapType;
ORVANE_API extern orvane_data_type_definition* const OrvaneSkeletonType;
ORVANE_API extern orvane_data_type_definition* const OrvaneBoneType;
ORVANE_API extern orvane_data_type_definition* const OrvaneLightInfoType;
ORVANE_API extern orvane_data_type_definition* const OrvaneCameraInfoType;
ORVANE_API extern orvane_data_type_definition* const OrvaneVertexDataType;
ORVANE_API extern orvane_data_type_definition* const OrvaneVertexAnnotationSetType;
ORVANE_API extern orvane_data_type_definition* const OrvaneTriTopologyType;
ORVANE_API extern orvane_data_type_definition* const OrvaneTriMaterialGroupType;
ORVANE_API extern orvane_data_type_definition* const OrvaneTriAnnotationSetType;
ORVANE_API extern orvane_data_type_definition* const OrvaneMeshType;
ORVANE_API extern orvane_data_type_definition* const OrvaneMorphTargetType;
ORVANE_API extern orvane_data_type_definition* const OrvaneMaterialBindingType;
ORVANE_API extern orvane_data_type_definition* const OrvaneBoneBindingType;
ORVANE_API extern orvane_data_type_definition* const OrvaneModelType;
ORVANE_API extern orvane_data_type_definition* const OrvaneModelMeshBindingType;
ORVANE_API extern orvane_data_type_definition* const OrvaneTrackGroupType;
ORVANE_API extern orvane_data_type_definition* const OrvaneVectorTrackType;
ORVANE_API extern orvane_data_type_definition* const OrvaneTransformTrackType;
ORVANE_API extern orvane_data_type_definition* const OrvaneTextTrackType;
ORVANE_API extern orvane_data_type_definition* const OrvaneTextTrackEntryType;
ORVANE_API extern orvane_data_type_definition* const OrvanePeriodicLoopType;
ORVANE_API extern orvane_data_type_definition* const OrvaneAnimationType;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurve2Type;
ORVANE_API extern orvane_data_type_definition* const OrvaneOldCurveType;

/* ---- Model and material lookups ---- */

/* The texture types that a material map's Usage names (the channel names that art tools'
 * exporters write, compared without regard to ASCII case). 0 matches no channel. */
typedef enum orvane_material_texture_type {
    OrvaneAmbientColorTexture = 1,
    OrvaneDiffuseColorTexture = 2,
    OrvaneSpecularColorTexture = 3,
    OrvaneSelfIlluminationTexture = 4,
    OrvaneOpacityTexture = 5,
    OrvaneBumpHeightTexture = 6,
    OrvaneReflectionTexture = 7,
    OrvaneRefractionTexture = 8,
    OrvaneDisplacementTexture = 9
} orvane_material_texture_type;

/* Writes the 4x4 matrix of the model's InitialPlacement (translation in elements 12 to 14). */
ORVANE_API void OrvaneGetModelInitialPlacement4x4(const orvane_model* Model,
                                                  orvane_real32* Placement4x4);
/* The lookups follow the material's maps in order; a map leads to the first material with a
 * texture found depth first below its Map. The material's own Texture counts only when reached
 * through a map. Null for a null material or when nothing matches. Each material below a map is
 * searched once, so maps that share materials or loop back on themselves never hang. */
ORVANE_API orvane_texture* OrvaneGetMaterialTextureByType(const orvane_material* Material,
                                                          orvane_material_texture_type Type);
/* The first material with a texture reached through a map whose Usage equals ChannelName,
 * ignoring case. */
ORVANE_API orvane_material* OrvaneGetTexturedMaterialByChannelName(const orvane_material* Material,
                                                                   const char* ChannelName);
/* That material's texture, or null. */
ORVANE_API orvane_texture* OrvaneGetMaterialTextureByChannelName(const orvane_material* Material,
                                                                 const char* ChannelName);

/* ---- end of model and material lookups ---- */

ORVANE_EXTERN_C_END

#endif /* ORVANE_TYPES_H */

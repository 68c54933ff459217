// The library's static descriptions: the plain element types and the content schema, whose
// member names are the names by which conversion matches members. Every record array is
// constant-initialized, so the descriptions are valid before any code runs. They are not const:
// records refer to one another through non-const ReferenceType pointers.
#include "types/orvane_type_layout.h"

namespace orvane {
namespace {

constexpr auto Int32 = OrvaneInt32Member;
constexpr auto Real32 = OrvaneReal32Member;
constexpr auto String = OrvaneStringMember;
constexpr auto Reference = OrvaneReferenceMember;
constexpr auto Array = OrvaneReferenceToArrayMember;
constexpr auto References = OrvaneArrayOfReferencesMember;
constexpr auto Variant = OrvaneVariantReferenceMember;
constexpr auto VariantArray = OrvaneReferenceToVariantArrayMember;
constexpr auto Inline = OrvaneInlineMember;
constexpr auto Transform = OrvaneTransformMember;

using Record = orvane_data_type_definition;

// Descriptions refer to one another in every direction, so all are declared first.
extern Record g_fileInfo[], g_artToolInfo[], g_exporterInfo[], g_texture[], g_pixelLayout[],
    g_textureImage[], g_textureMIPLevel[], g_material[], g_materialMap[], g_skeleton[], g_bone[],
    g_lightInfo[], g_cameraInfo[], g_vertexData[], g_vertexAnnotationSet[], g_triTopology[],
    g_triMaterialGroup[], g_triAnnotationSet[], g_mesh[], g_morphTarget[], g_materialBinding[],
    g_boneBinding[], g_model[], g_modelMeshBinding[], g_trackGroup[], g_vectorTrack[],
    g_transformTrack[], g_textTrack[], g_textTrackEntry[], g_periodicLoop[], g_animation[],
    g_curve2[], g_oldCurve[];

// Plain element types, for arrays of plain values (a ReferenceToArrayMember of OrvaneInt32Type
// is an array of 32-bit integers).
Record g_emptyType[] = {EndRecord()};
Record g_stringType[] = {MemberRecord(String, "String"), EndRecord()};
Record g_int16Type[] = {MemberRecord(OrvaneInt16Member, "Int16"), EndRecord()};
Record g_int32Type[] = {MemberRecord(Int32, "Int32"), EndRecord()};
Record g_uint8Type[] = {MemberRecord(OrvaneUInt8Member, "UInt8"), EndRecord()};
Record g_uint16Type[] = {MemberRecord(OrvaneUInt16Member, "UInt16"), EndRecord()};
Record g_uint32Type[] = {MemberRecord(OrvaneUInt32Member, "UInt32"), EndRecord()};
Record g_real32Type[] = {MemberRecord(Real32, "Real32"), EndRecord()};
Record g_tripleType[] = {MemberRecord(Real32, "Real32", nullptr, 3), EndRecord()};
Record g_quadType[] = {MemberRecord(Real32, "Real32", nullptr, 4), EndRecord()};
Record g_transformType[] = {MemberRecord(Transform, "Transform"), EndRecord()};

Record g_fileInfo[] = {MemberRecord(Reference, "ArtToolInfo", g_artToolInfo),
                       MemberRecord(Reference, "ExporterInfo", g_exporterInfo),
                       MemberRecord(String, "FromFileName"),
                       MemberRecord(References, "Textures", g_texture),
                       MemberRecord(References, "Materials", g_material),
                       MemberRecord(References, "Skeletons", g_skeleton),
                       MemberRecord(References, "VertexDatas", g_vertexData),
                       MemberRecord(References, "TriTopologies", g_triTopology),
                       MemberRecord(References, "Meshes", g_mesh),
                       MemberRecord(References, "Models", g_model),
                       MemberRecord(References, "TrackGroups", g_trackGroup),
                       MemberRecord(References, "Animations", g_animation),
                       MemberRecord(Variant, "ExtendedData"),
                       EndRecord()};

Record g_artToolInfo[] = {MemberRecord(String, "FromArtToolName"),
                          MemberRecord(Int32, "ArtToolMajorRevision"),
                          MemberRecord(Int32, "ArtToolMinorRevision"),
                          MemberRecord(Real32, "UnitsPerMeter"),
                          MemberRecord(Real32, "Origin", nullptr, 3),
                          MemberRecord(Real32, "RightVector", nullptr, 3),
                          MemberRecord(Real32, "UpVector", nullptr, 3),
                          MemberRecord(Real32, "BackVector", nullptr, 3),
                          EndRecord()};

Record g_exporterInfo[] = {
    MemberRecord(String, "ExporterName"),         MemberRecord(Int32, "ExporterMajorRevision"),
    MemberRecord(Int32, "ExporterMinorRevision"), MemberRecord(Int32, "ExporterCustomization"),
    MemberRecord(Int32, "ExporterBuildNumber"),   EndRecord()};

Record g_texture[] = {MemberRecord(String, "FromFileName"),
                      MemberRecord(Int32, "TextureType"),
                      MemberRecord(Int32, "Width"),
                      MemberRecord(Int32, "Height"),
                      MemberRecord(Int32, "Encoding"),
                      MemberRecord(Int32, "SubFormat"),
                      MemberRecord(Inline, "Layout", g_pixelLayout),
                      MemberRecord(Array, "Images", g_textureImage),
                      MemberRecord(Variant, "ExtendedData"),
                      EndRecord()};

Record g_pixelLayout[] = {MemberRecord(Int32, "BytesPerPixel"),
                          MemberRecord(Int32, "ShiftForComponent", nullptr, 4),
                          MemberRecord(Int32, "BitsForComponent", nullptr, 4), EndRecord()};

Record g_textureImage[] = {MemberRecord(Array, "MIPLevels", g_textureMIPLevel), EndRecord()};

Record g_textureMIPLevel[] = {MemberRecord(Int32, "Stride"),
                              MemberRecord(Array, "Pixels", g_uint8Type), EndRecord()};

Record g_material[] = {MemberRecord(String, "Name"), MemberRecord(Array, "Maps", g_materialMap),
                       MemberRecord(Reference, "Texture", g_texture),
                       MemberRecord(Variant, "ExtendedData"), EndRecord()};

Record g_materialMap[] = {MemberRecord(String, "Usage"), MemberRecord(Reference, "Map", g_material),
                          EndRecord()};

Record g_skeleton[] = {MemberRecord(String, "Name"), MemberRecord(Array, "Bones", g_bone),
                       EndRecord()};

Record g_bone[] = {MemberRecord(String, "Name"),
                   MemberRecord(Int32, "ParentIndex"),
                   MemberRecord(Transform, "Transform"),
                   MemberRecord(Real32, "InverseWorldTransform", nullptr, 16),
                   MemberRecord(Reference, "LightInfo", g_lightInfo),
                   MemberRecord(Reference, "CameraInfo", g_cameraInfo),
                   MemberRecord(Variant, "ExtendedData"),
                   EndRecord()};

Record g_lightInfo[] = {MemberRecord(Variant, "ExtendedData"), EndRecord()};

Record g_cameraInfo[] = {MemberRecord(Variant, "ExtendedData"), EndRecord()};

Record g_vertexData[] = {MemberRecord(VariantArray, "Vertices"),
                         MemberRecord(Array, "VertexComponentNames", g_stringType),
                         MemberRecord(Array, "VertexAnnotationSets", g_vertexAnnotationSet),
                         EndRecord()};

Record g_vertexAnnotationSet[] = {
    MemberRecord(String, "Name"), MemberRecord(VariantArray, "VertexAnnotations"),
    MemberRecord(Int32, "IndicesMapFromVertexToAnnotation"),
    MemberRecord(Array, "VertexAnnotationIndices", g_int32Type), EndRecord()};

Record g_triTopology[] = {MemberRecord(Array, "Groups", g_triMaterialGroup),
                          MemberRecord(Array, "Indices", g_int32Type),
                          MemberRecord(Array, "Indices16", g_int16Type),
                          MemberRecord(Array, "VertexToVertexMap", g_int32Type),
                          MemberRecord(Array, "VertexToTriangleMap", g_int32Type),
                          MemberRecord(Array, "SideToNeighborMap", g_int32Type),
                          MemberRecord(Array, "BonesForTriangle", g_int32Type),
                          MemberRecord(Array, "TriangleToBoneIndices", g_int32Type),
                          MemberRecord(Array, "TriAnnotationSets", g_triAnnotationSet),
                          EndRecord()};

Record g_triMaterialGroup[] = {MemberRecord(Int32, "MaterialIndex"),
                               MemberRecord(Int32, "TriFirst"), MemberRecord(Int32, "TriCount"),
                               EndRecord()};

Record g_triAnnotationSet[] = {
    MemberRecord(String, "Name"), MemberRecord(VariantArray, "TriAnnotations"),
    MemberRecord(Int32, "IndicesMapFromTriToAnnotation"),
    MemberRecord(Array, "TriAnnotationIndices", g_int32Type), EndRecord()};

Record g_mesh[] = {MemberRecord(String, "Name"),
                   MemberRecord(Reference, "PrimaryVertexData", g_vertexData),
                   MemberRecord(Array, "MorphTargets", g_morphTarget),
                   MemberRecord(Reference, "PrimaryTopology", g_triTopology),
                   MemberRecord(Array, "MaterialBindings", g_materialBinding),
                   MemberRecord(Array, "BoneBindings", g_boneBinding),
                   MemberRecord(Variant, "ExtendedData"),
                   EndRecord()};

Record g_morphTarget[] = {MemberRecord(String, "ScalarName"),
                          MemberRecord(Reference, "VertexData", g_vertexData), EndRecord()};

Record g_materialBinding[] = {MemberRecord(Reference, "Material", g_material), EndRecord()};

Record g_boneBinding[] = {MemberRecord(String, "BoneName"),
                          MemberRecord(Real32, "OBBMin", nullptr, 3),
                          MemberRecord(Real32, "OBBMax", nullptr, 3),
                          MemberRecord(Array, "TriangleIndices", g_int32Type), EndRecord()};

Record g_model[] = {MemberRecord(String, "Name"), MemberRecord(Reference, "Skeleton", g_skeleton),
                    MemberRecord(Transform, "InitialPlacement"),
                    MemberRecord(Array, "MeshBindings", g_modelMeshBinding), EndRecord()};

Record g_modelMeshBinding[] = {MemberRecord(Reference, "Mesh", g_mesh), EndRecord()};

Record g_trackGroup[] = {MemberRecord(String, "Name"),
                         MemberRecord(Array, "VectorTracks", g_vectorTrack),
                         MemberRecord(Array, "TransformTracks", g_transformTrack),
                         MemberRecord(Array, "TransformLODErrors", g_real32Type),
                         MemberRecord(Array, "TextTracks", g_textTrack),
                         MemberRecord(Transform, "InitialPlacement"),
                         MemberRecord(Int32, "AccumulationFlags"),
                         MemberRecord(Real32, "LoopTranslation", nullptr, 3),
                         MemberRecord(Reference, "PeriodicLoop", g_periodicLoop),
                         MemberRecord(Reference, "RootMotion", g_transformTrack),
                         MemberRecord(Variant, "ExtendedData"),
                         EndRecord()};

Record g_vectorTrack[] = {MemberRecord(String, "Name"), MemberRecord(Int32, "Dimension"),
                          MemberRecord(Inline, "ValueCurve", g_curve2), EndRecord()};

Record g_transformTrack[] = {MemberRecord(String, "Name"),
                             MemberRecord(Inline, "PositionCurve", g_curve2),
                             MemberRecord(Inline, "OrientationCurve", g_curve2),
                             MemberRecord(Inline, "ScaleShearCurve", g_curve2), EndRecord()};

Record g_textTrack[] = {MemberRecord(String, "Name"),
                        MemberRecord(Array, "Entries", g_textTrackEntry), EndRecord()};

Record g_textTrackEntry[] = {MemberRecord(Real32, "TimeStamp"), MemberRecord(String, "Text"),
                             EndRecord()};

Record g_periodicLoop[] = {MemberRecord(Real32, "Radius"),
                           MemberRecord(Real32, "dAngle"),
                           MemberRecord(Real32, "dZ"),
                           MemberRecord(Real32, "BasisX", nullptr, 3),
                           MemberRecord(Real32, "BasisY", nullptr, 3),
                           MemberRecord(Real32, "Axis", nullptr, 3),
                           EndRecord()};

Record g_animation[] = {MemberRecord(String, "Name"),
                        MemberRecord(Real32, "Duration"),
                        MemberRecord(Real32, "TimeStep"),
                        MemberRecord(Real32, "Oversampling"),
                        MemberRecord(References, "TrackGroups", g_trackGroup),
                        EndRecord()};

Record g_curve2[] = {MemberRecord(Variant, "CurveData"), EndRecord()};

Record g_oldCurve[] = {MemberRecord(Int32, "Degree"), MemberRecord(Array, "Knots", g_real32Type),
                       MemberRecord(Array, "Controls", g_real32Type), EndRecord()};

}  // namespace
}  // namespace orvane

using namespace orvane;

extern "C" {

orvane_data_type_definition* const OrvaneEmptyType = g_emptyType;
orvane_data_type_definition* const OrvaneStringType = g_stringType;
orvane_data_type_definition* const OrvaneInt16Type = g_int16Type;
orvane_data_type_definition* const OrvaneInt32Type = g_int32Type;
orvane_data_type_definition* const OrvaneUInt8Type = g_uint8Type;
orvane_data_type_definition* const OrvaneUInt16Type = g_uint16Type;
orvane_data_type_definition* const OrvaneUInt32Type = g_uint32Type;
orvane_data_type_definition* const OrvaneReal32Type = g_real32Type;
orvane_data_type_definition* const OrvaneTripleType = g_tripleType;
orvane_data_type_definition* const OrvaneQuadType = g_quadType;
orvane_data_type_definition* const OrvaneTransformType = g_transformType;

orvane_data_type_definition* const OrvaneFileInfoType = g_fileInfo;
orvane_data_type_definition* const OrvaneArtToolInfoType = g_artToolInfo;
orvane_data_type_definition* const OrvaneExporterInfoType = g_exporterInfo;
orvane_data_type_definition* const OrvaneTextureType = g_texture;
orvane_data_type_definition* const OrvanePixelLayoutType = g_pixelLayout;
orvane_data_type_definition* const OrvaneTextureImageType = g_textureImage;
orvane_data_type_definition* const OrvaneTextureMIPLevelType = g_textureMIPLevel;
orvane_data_type_definition* const OrvaneMaterialType = g_material;
orvane_data_type_definition* const OrvaneMaterialMapType = g_materialMap;
orvane_data_type_definition* const OrvaneSkeletonType = g_skeleton;
orvane_data_type_definition* const OrvaneBoneType = g_bone;
orvane_data_type_definition* const OrvaneLightInfoType = g_lightInfo;
orvane_data_type_definition* const OrvaneCameraInfoType = g_cameraInfo;
orvane_data_type_definition* const OrvaneVertexDataType = g_vertexData;
orvane_data_type_definition* const OrvaneVertexAnnotationSetType = g_vertexAnnotationSet;
orvane_data_type_definition* const OrvaneTriTopologyType = g_triTopology;
orvane_data_type_definition* const OrvaneTriMaterialGroupType = g_triMaterialGroup;
orvane_data_type_definition* const OrvaneTriAnnotationSetType = g_triAnnotationSet;
orvane_data_type_definition* const OrvaneMeshType = g_mesh;
orvane_data_type_definition* const OrvaneMorphTargetType = g_morphTarget;
orvane_data_type_definition* const OrvaneMaterialBindingType = g_materialBinding;
orvane_data_type_definition* const OrvaneBoneBindingType = g_boneBinding;
orvane_data_type_definition* const OrvaneModelType = g_model;
orvane_data_type_definition* const OrvaneModelMeshBindingType = g_modelMeshBinding;
orvane_data_type_definition* const OrvaneTrackGroupType = g_trackGroup;
orvane_data_type_definition* const OrvaneVectorTrackType = g_vectorTrack;
orvane_data_type_definition* const OrvaneTransformTrackType = g_transformTrack;
orvane_data_type_definition* const OrvaneTextTrackType = g_textTrack;
orvane_data_type_definition* const OrvaneTextTrackEntryType = g_textTrackEntry;
orvane_data_type_definition* const OrvanePeriodicLoopType = g_periodicLoop;
orvane_data_type_definition* const OrvaneAnimationType = g_animation;
orvane_data_type_definition* const OrvaneCurve2Type = g_curve2;
orvane_data_type_definition* const OrvaneOldCurveType = g_oldCurve;

const orvane_defined_type_entry OrvaneDefinedTypes[] = {
    {0x10001, "animation", g_animation},
    {0x10002, "art_tool_info", g_artToolInfo},
    {0x10003, "curve2", g_curve2},
    {0x10004, "exporter_info", g_exporterInfo},
    {0x10005, "material_map", g_materialMap},
    {0x10006, "material", g_material},
    {0x10007, "bone_binding", g_boneBinding},
    {0x10008, "material_binding", g_materialBinding},
    {0x10009, "morph_target", g_morphTarget},
    {0x1000a, "mesh", g_mesh},
    {0x1000b, "model_mesh_binding", g_modelMeshBinding},
    {0x1000c, "model", g_model},
    {0x1000d, "periodic_loop", g_periodicLoop},
    {0x1000e, "pixel_layout", g_pixelLayout},
    {0x1000f, "light_info", g_lightInfo},
    {0x10010, "camera_info", g_cameraInfo},
    {0x10011, "bone", g_bone},
    {0x10012, "skeleton", g_skeleton},
    {0x10013, "strings", g_stringType},
    {0x10014, "texture_mip_level", g_textureMIPLevel},
    {0x10015, "texture_image", g_textureImage},
    {0x10016, "texture", g_texture},
    {0x10017, "vector_track", g_vectorTrack},
    {0x10018, "transform_track", g_transformTrack},
    {0x10019, "text_track_entry", g_textTrackEntry},
    {0x1001a, "text_track", g_textTrack},
    {0x1001b, "track_group", g_trackGroup},
    {0x1001c, "tri_material_group", g_triMaterialGroup},
    {0x1001d, "tri_annotation_set", g_triAnnotationSet},
    {0x1001e, "tri_topology", g_triTopology},
    {0x1001f, "vertex_annotation_set", g_vertexAnnotationSet},
    {0x10020, "vertex_data", g_vertexData},
};
static_assert(sizeof(OrvaneDefinedTypes) / sizeof(OrvaneDefinedTypes[0]) == 32);

ORVANE_API orvane_int32 OrvaneGetDefinedTypeCount(void) {
    return static_cast<orvane_int32>(sizeof(OrvaneDefinedTypes) / sizeof(OrvaneDefinedTypes[0]));
}

}  // extern "C"

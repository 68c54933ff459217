// The library's static descriptions: the plain element types and the content schema, whose
// member names are the names by which conversion matches members. Every record array is
// constant-initialized, so the descriptions are valid before any code runs. They are not const:
// records refer to one another through non-const ReferenceType pointers.
#include "types/orvane_standard_types.h"

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

}  // namespace

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

Record g_fileInfoType[] = {MemberRecord(Reference, "ArtToolInfo", g_artToolInfoType),
                           MemberRecord(Reference, "ExporterInfo", g_exporterInfoType),
                           MemberRecord(String, "FromFileName"),
                           MemberRecord(References, "Textures", g_textureType),
                           MemberRecord(References, "Materials", g_materialType),
                           MemberRecord(References, "Skeletons", g_skeletonType),
                           MemberRecord(References, "VertexDatas", g_vertexDataType),
                           MemberRecord(References, "TriTopologies", g_triTopologyType),
                           MemberRecord(References, "Meshes", g_meshType),
                           MemberRecord(References, "Models", g_modelType),
                           MemberRecord(References, "TrackGroups", g_trackGroupType),
                           MemberRecord(References, "Animations", g_animationType),
                           MemberRecord(Variant, "ExtendedData"),
                           EndRecord()};

Record g_artToolInfoType[] = {MemberRecord(String, "FromArtToolName"),
                              MemberRecord(Int32, "ArtToolMajorRevision"),
                              MemberRecord(Int32, "ArtToolMinorRevision"),
                              MemberRecord(Real32, "UnitsPerMeter"),
                              MemberRecord(Real32, "Origin", nullptr, 3),
                              MemberRecord(Real32, "RightVector", nullptr, 3),
                              MemberRecord(Real32, "UpVector", nullptr, 3),
                              MemberRecord(Real32, "BackVector", nullptr, 3),
                              EndRecord()};

Record g_exporterInfoType[] = {
    MemberRecord(String, "ExporterName"),         MemberRecord(Int32, "ExporterMajorRevision"),
    MemberRecord(Int32, "ExporterMinorRevision"), MemberRecord(Int32, "ExporterCustomization"),
    MemberRecord(Int32, "ExporterBuildNumber"),   EndRecord()};

Record g_textureType[] = {MemberRecord(String, "FromFileName"),
                          MemberRecord(Int32, "TextureType"),
                          MemberRecord(Int32, "Width"),
                          MemberRecord(Int32, "Height"),
                          MemberRecord(Int32, "Encoding"),
                          MemberRecord(Int32, "SubFormat"),
                          MemberRecord(Inline, "Layout", g_pixelLayoutType),
                          MemberRecord(Array, "Images", g_textureImageType),
                          MemberRecord(Variant, "ExtendedData"),
                          EndRecord()};

Record g_pixelLayoutType[] = {MemberRecord(Int32, "BytesPerPixel"),
                              MemberRecord(Int32, "ShiftForComponent", nullptr, 4),
                              MemberRecord(Int32, "BitsForComponent", nullptr, 4), EndRecord()};

Record g_textureImageType[] = {MemberRecord(Array, "MIPLevels", g_textureMIPLevelType),
                               EndRecord()};

Record g_textureMIPLevelType[] = {MemberRecord(Int32, "Stride"),
                                  MemberRecord(Array, "Pixels", g_uint8Type), EndRecord()};

Record g_materialType[] = {MemberRecord(String, "Name"),
                           MemberRecord(Array, "Maps", g_materialMapType),
                           MemberRecord(Reference, "Texture", g_textureType),
                           MemberRecord(Variant, "ExtendedData"), EndRecord()};

Record g_materialMapType[] = {MemberRecord(String, "Usage"),
                              MemberRecord(Reference, "Map", g_materialType), EndRecord()};

Record g_skeletonType[] = {MemberRecord(String, "Name"), MemberRecord(Array, "Bones", g_boneType),
                           EndRecord()};

Record g_boneType[] = {MemberRecord(String, "Name"),
                       MemberRecord(Int32, "ParentIndex"),
                       MemberRecord(Transform, "Transform"),
                       MemberRecord(Real32, "InverseWorldTransform", nullptr, 16),
                       MemberRecord(Reference, "LightInfo", g_lightInfoType),
                       MemberRecord(Reference, "CameraInfo", g_cameraInfoType),
                       MemberRecord(Variant, "ExtendedData"),
                       EndRecord()};

Record g_lightInfoType[] = {MemberRecord(Variant, "ExtendedData"), EndRecord()};

Record g_cameraInfoType[] = {MemberRecord(Variant, "ExtendedData"), EndRecord()};

Record g_vertexDataType[] = {MemberRecord(VariantArray, "Vertices"),
                             MemberRecord(Array, "VertexComponentNames", g_stringType),
                             MemberRecord(Array, "VertexAnnotationSets", g_vertexAnnotationSetType),
                             EndRecord()};

Record g_vertexAnnotationSetType[] = {
    MemberRecord(String, "Name"), MemberRecord(VariantArray, "VertexAnnotations"),
    MemberRecord(Int32, "IndicesMapFromVertexToAnnotation"),
    MemberRecord(Array, "VertexAnnotationIndices", g_int32Type), EndRecord()};

Record g_triTopologyType[] = {MemberRecord(Array, "Groups", g_triMaterialGroupType),
                              MemberRecord(Array, "Indices", g_int32Type),
                              MemberRecord(Array, "Indices16", g_int16Type),
                              MemberRecord(Array, "VertexToVertexMap", g_int32Type),
                              MemberRecord(Array, "VertexToTriangleMap", g_int32Type),
                              MemberRecord(Array, "SideToNeighborMap", g_int32Type),
                              MemberRecord(Array, "BonesForTriangle", g_int32Type),
                              MemberRecord(Array, "TriangleToBoneIndices", g_int32Type),
                              MemberRecord(Array, "TriAnnotationSets", g_triAnnotationSetType),
                              EndRecord()};

Record g_triMaterialGroupType[] = {MemberRecord(Int32, "MaterialIndex"),
                                   MemberRecord(Int32, "TriFirst"), MemberRecord(Int32, "TriCount"),
                                   EndRecord()};

Record g_triAnnotationSetType[] = {
    MemberRecord(String, "Name"), MemberRecord(VariantArray, "TriAnnotations"),
    MemberRecord(Int32, "IndicesMapFromTriToAnnotation"),
    MemberRecord(Array, "TriAnnotationIndices", g_int32Type), EndRecord()};

Record g_meshType[] = {MemberRecord(String, "Name"),
                       MemberRecord(Reference, "PrimaryVertexData", g_vertexDataType),
                       MemberRecord(Array, "MorphTargets", g_morphTargetType),
                       MemberRecord(Reference, "PrimaryTopology", g_triTopologyType),
                       MemberRecord(Array, "MaterialBindings", g_materialBindingType),
                       MemberRecord(Array, "BoneBindings", g_boneBindingType),
                       MemberRecord(Variant, "ExtendedData"),
                       EndRecord()};

Record g_morphTargetType[] = {MemberRecord(String, "ScalarName"),
                              MemberRecord(Reference, "VertexData", g_vertexDataType), EndRecord()};

Record g_materialBindingType[] = {MemberRecord(Reference, "Material", g_materialType), EndRecord()};

Record g_boneBindingType[] = {MemberRecord(String, "BoneName"),
                              MemberRecord(Real32, "OBBMin", nullptr, 3),
                              MemberRecord(Real32, "OBBMax", nullptr, 3),
                              MemberRecord(Array, "TriangleIndices", g_int32Type), EndRecord()};

Record g_modelType[] = {MemberRecord(String, "Name"),
                        MemberRecord(Reference, "Skeleton", g_skeletonType),
                        MemberRecord(Transform, "InitialPlacement"),
                        MemberRecord(Array, "MeshBindings", g_modelMeshBindingType), EndRecord()};

Record g_modelMeshBindingType[] = {MemberRecord(Reference, "Mesh", g_meshType), EndRecord()};

Record g_trackGroupType[] = {MemberRecord(String, "Name"),
                             MemberRecord(Array, "VectorTracks", g_vectorTrackType),
                             MemberRecord(Array, "TransformTracks", g_transformTrackType),
                             MemberRecord(Array, "TransformLODErrors", g_real32Type),
                             MemberRecord(Array, "TextTracks", g_textTrackType),
                             MemberRecord(Transform, "InitialPlacement"),
                             MemberRecord(Int32, "AccumulationFlags"),
                             MemberRecord(Real32, "LoopTranslation", nullptr, 3),
                             MemberRecord(Reference, "PeriodicLoop", g_periodicLoopType),
                             MemberRecord(Reference, "RootMotion", g_transformTrackType),
                             MemberRecord(Variant, "ExtendedData"),
                             EndRecord()};

Record g_vectorTrackType[] = {MemberRecord(String, "Name"), MemberRecord(Int32, "Dimension"),
                              MemberRecord(Inline, "ValueCurve", g_curve2Type), EndRecord()};

Record g_transformTrackType[] = {
    MemberRecord(String, "Name"), MemberRecord(Inline, "PositionCurve", g_curve2Type),
    MemberRecord(Inline, "OrientationCurve", g_curve2Type),
    MemberRecord(Inline, "ScaleShearCurve", g_curve2Type), EndRecord()};

Record g_textTrackType[] = {MemberRecord(String, "Name"),
                            MemberRecord(Array, "Entries", g_textTrackEntryType), EndRecord()};

Record g_textTrackEntryType[] = {MemberRecord(Real32, "TimeStamp"), MemberRecord(String, "Text"),
                                 EndRecord()};

Record g_periodicLoopType[] = {MemberRecord(Real32, "Radius"),
                               MemberRecord(Real32, "dAngle"),
                               MemberRecord(Real32, "dZ"),
                               MemberRecord(Real32, "BasisX", nullptr, 3),
                               MemberRecord(Real32, "BasisY", nullptr, 3),
                               MemberRecord(Real32, "Axis", nullptr, 3),
                               EndRecord()};

Record g_animationType[] = {MemberRecord(String, "Name"),
                            MemberRecord(Real32, "Duration"),
                            MemberRecord(Real32, "TimeStep"),
                            MemberRecord(Real32, "Oversampling"),
                            MemberRecord(References, "TrackGroups", g_trackGroupType),
                            EndRecord()};

Record g_curve2Type[] = {MemberRecord(Variant, "CurveData"), EndRecord()};

Record g_oldCurveType[] = {MemberRecord(Int32, "Degree"),
                           MemberRecord(Array, "Knots", g_real32Type),
                           MemberRecord(Array, "Controls", g_real32Type), EndRecord()};

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

orvane_data_type_definition* const OrvaneFileInfoType = g_fileInfoType;
orvane_data_type_definition* const OrvaneArtToolInfoType = g_artToolInfoType;
orvane_data_type_definition* const OrvaneExporterInfoType = g_exporterInfoType;
orvane_data_type_definition* const OrvaneTextureType = g_textureType;
orvane_data_type_definition* const OrvanePixelLayoutType = g_pixelLayoutType;
orvane_data_type_definition* const OrvaneTextureImageType = g_textureImageType;
orvane_data_type_definition* const OrvaneTextureMIPLevelType = g_textureMIPLevelType;
orvane_data_type_definition* const OrvaneMaterialType = g_materialType;
orvane_data_type_definition* const OrvaneMaterialMapType = g_materialMapType;
orvane_data_type_definition* const OrvaneSkeletonType = g_skeletonType;
orvane_data_type_definition* const OrvaneBoneType = g_boneType;
orvane_data_type_definition* const OrvaneLightInfoType = g_lightInfoType;
orvane_data_type_definition* const OrvaneCameraInfoType = g_cameraInfoType;
orvane_data_type_definition* const OrvaneVertexDataType = g_vertexDataType;
orvane_data_type_definition* const OrvaneVertexAnnotationSetType = g_vertexAnnotationSetType;
orvane_data_type_definition* const OrvaneTriTopologyType = g_triTopologyType;
orvane_data_type_definition* const OrvaneTriMaterialGroupType = g_triMaterialGroupType;
orvane_data_type_definition* const OrvaneTriAnnotationSetType = g_triAnnotationSetType;
orvane_data_type_definition* const OrvaneMeshType = g_meshType;
orvane_data_type_definition* const OrvaneMorphTargetType = g_morphTargetType;
orvane_data_type_definition* const OrvaneMaterialBindingType = g_materialBindingType;
orvane_data_type_definition* const OrvaneBoneBindingType = g_boneBindingType;
orvane_data_type_definition* const OrvaneModelType = g_modelType;
orvane_data_type_definition* const OrvaneModelMeshBindingType = g_modelMeshBindingType;
orvane_data_type_definition* const OrvaneTrackGroupType = g_trackGroupType;
orvane_data_type_definition* const OrvaneVectorTrackType = g_vectorTrackType;
orvane_data_type_definition* const OrvaneTransformTrackType = g_transformTrackType;
orvane_data_type_definition* const OrvaneTextTrackType = g_textTrackType;
orvane_data_type_definition* const OrvaneTextTrackEntryType = g_textTrackEntryType;
orvane_data_type_definition* const OrvanePeriodicLoopType = g_periodicLoopType;
orvane_data_type_definition* const OrvaneAnimationType = g_animationType;
orvane_data_type_definition* const OrvaneCurve2Type = g_curve2Type;
orvane_data_type_definition* const OrvaneOldCurveType = g_oldCurveType;

const orvane_defined_type_entry OrvaneDefinedTypes[] = {
    {0x10001, "animation", g_animationType},
    {0x10002, "art_tool_info", g_artToolInfoType},
    {0x10003, "curve2", g_curve2Type},
    {0x10004, "exporter_info", g_exporterInfoType},
    {0x10005, "material_map", g_materialMapType},
    {0x10006, "material", g_materialType},
    {0x10007, "bone_binding", g_boneBindingType},
    {0x10008, "material_binding", g_materialBindingType},
    {0x10009, "morph_target", g_morphTargetType},
    {0x1000a, "mesh", g_meshType},
    {0x1000b, "model_mesh_binding", g_modelMeshBindingType},
    {0x1000c, "model", g_modelType},
    {0x1000d, "periodic_loop", g_periodicLoopType},
    {0x1000e, "pixel_layout", g_pixelLayoutType},
    {0x1000f, "light_info", g_lightInfoType},
    {0x10010, "camera_info", g_cameraInfoType},
    {0x10011, "bone", g_boneType},
    {0x10012, "skeleton", g_skeletonType},
    {0x10013, "strings", g_stringType},
    {0x10014, "texture_mip_level", g_textureMIPLevelType},
    {0x10015, "texture_image", g_textureImageType},
    {0x10016, "texture", g_textureType},
    {0x10017, "vector_track", g_vectorTrackType},
    {0x10018, "transform_track", g_transformTrackType},
    {0x10019, "text_track_entry", g_textTrackEntryType},
    {0x1001a, "text_track", g_textTrackType},
    {0x1001b, "track_group", g_trackGroupType},
    {0x1001c, "tri_material_group", g_triMaterialGroupType},
    {0x1001d, "tri_annotation_set", g_triAnnotationSetType},
    {0x1001e, "tri_topology", g_triTopologyType},
    {0x1001f, "vertex_annotation_set", g_vertexAnnotationSetType},
    {0x10020, "vertex_data", g_vertexDataType},
};
static_assert(sizeof(OrvaneDefinedTypes) / sizeof(OrvaneDefinedTypes[0]) == 32);

ORVANE_API orvane_int32 OrvaneGetDefinedTypeCount(void) {
    return static_cast<orvane_int32>(sizeof(OrvaneDefinedTypes) / sizeof(OrvaneDefinedTypes[0]));
}

}  // extern "C"

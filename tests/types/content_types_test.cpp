// The content schema: every standard description against its public struct (native offsets
// and sizes) and against the sizes objects take in content files, and the catalogue.
#include <cstddef>
#include <cstring>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "orvane/types.h"
#include "types/layout_check.h"

using orvane_test::ExpectLayout;
using orvane_test::FieldOffset;

namespace {

// offsetof on the packed public structs is what the check is about.
#pragma GCC diagnostic ignored "-Winvalid-offsetof"

TEST(ContentSchema, EveryDescriptionMatchesItsStructAndFileSize) {
    ExpectLayout("OrvaneFileInfoType", OrvaneFileInfoType, 92, sizeof(orvane_file_info),
                 {ORVANE_FIELD(orvane_file_info, ArtToolInfo),
                  ORVANE_FIELD(orvane_file_info, ExporterInfo),
                  ORVANE_FIELD(orvane_file_info, FromFileName),
                  {"Textures", offsetof(orvane_file_info, TextureCount)},
                  {"Materials", offsetof(orvane_file_info, MaterialCount)},
                  {"Skeletons", offsetof(orvane_file_info, SkeletonCount)},
                  {"VertexDatas", offsetof(orvane_file_info, VertexDataCount)},
                  {"TriTopologies", offsetof(orvane_file_info, TriTopologyCount)},
                  {"Meshes", offsetof(orvane_file_info, MeshCount)},
                  {"Models", offsetof(orvane_file_info, ModelCount)},
                  {"TrackGroups", offsetof(orvane_file_info, TrackGroupCount)},
                  {"Animations", offsetof(orvane_file_info, AnimationCount)},
                  ORVANE_FIELD(orvane_file_info, ExtendedData)});
    ExpectLayout("OrvaneArtToolInfoType", OrvaneArtToolInfoType, 64, sizeof(orvane_art_tool_info),
                 {ORVANE_FIELD(orvane_art_tool_info, FromArtToolName),
                  ORVANE_FIELD(orvane_art_tool_info, ArtToolMajorRevision),
                  ORVANE_FIELD(orvane_art_tool_info, ArtToolMinorRevision),
                  ORVANE_FIELD(orvane_art_tool_info, UnitsPerMeter),
                  ORVANE_FIELD(orvane_art_tool_info, Origin),
                  ORVANE_FIELD(orvane_art_tool_info, RightVector),
                  ORVANE_FIELD(orvane_art_tool_info, UpVector),
                  ORVANE_FIELD(orvane_art_tool_info, BackVector)});
    ExpectLayout("OrvaneExporterInfoType", OrvaneExporterInfoType, 20, sizeof(orvane_exporter_info),
                 {ORVANE_FIELD(orvane_exporter_info, ExporterName),
                  ORVANE_FIELD(orvane_exporter_info, ExporterMajorRevision),
                  ORVANE_FIELD(orvane_exporter_info, ExporterMinorRevision),
                  ORVANE_FIELD(orvane_exporter_info, ExporterCustomization),
                  ORVANE_FIELD(orvane_exporter_info, ExporterBuildNumber)});
    ExpectLayout("OrvaneTextureType", OrvaneTextureType, 76, sizeof(orvane_texture),
                 {ORVANE_FIELD(orvane_texture, FromFileName),
                  ORVANE_FIELD(orvane_texture, TextureType),
                  ORVANE_FIELD(orvane_texture, Width),
                  ORVANE_FIELD(orvane_texture, Height),
                  ORVANE_FIELD(orvane_texture, Encoding),
                  ORVANE_FIELD(orvane_texture, SubFormat),
                  ORVANE_FIELD(orvane_texture, Layout),
                  {"Images", offsetof(orvane_texture, ImageCount)},
                  ORVANE_FIELD(orvane_texture, ExtendedData)});
    ExpectLayout("OrvanePixelLayoutType", OrvanePixelLayoutType, 36, sizeof(orvane_pixel_layout),
                 {ORVANE_FIELD(orvane_pixel_layout, BytesPerPixel),
                  ORVANE_FIELD(orvane_pixel_layout, ShiftForComponent),
                  ORVANE_FIELD(orvane_pixel_layout, BitsForComponent)});
    ExpectLayout("OrvaneTextureImageType", OrvaneTextureImageType, 8, sizeof(orvane_texture_image),
                 {{"MIPLevels", offsetof(orvane_texture_image, MIPLevelCount)}});
    ExpectLayout("OrvaneTextureMIPLevelType", OrvaneTextureMIPLevelType, 12,
                 sizeof(orvane_texture_mip_level),
                 {ORVANE_FIELD(orvane_texture_mip_level, Stride),
                  {"Pixels", offsetof(orvane_texture_mip_level, PixelByteCount)}});
    ExpectLayout("OrvaneMaterialType", OrvaneMaterialType, 24, sizeof(orvane_material),
                 {ORVANE_FIELD(orvane_material, Name),
                  {"Maps", offsetof(orvane_material, MapCount)},
                  ORVANE_FIELD(orvane_material, Texture),
                  ORVANE_FIELD(orvane_material, ExtendedData)});
    ExpectLayout(
        "OrvaneMaterialMapType", OrvaneMaterialMapType, 8, sizeof(orvane_material_map),
        {ORVANE_FIELD(orvane_material_map, Usage), ORVANE_FIELD(orvane_material_map, Map)});
    ExpectLayout(
        "OrvaneSkeletonType", OrvaneSkeletonType, 12, sizeof(orvane_skeleton),
        {ORVANE_FIELD(orvane_skeleton, Name), {"Bones", offsetof(orvane_skeleton, BoneCount)}});
    ExpectLayout(
        "OrvaneBoneType", OrvaneBoneType, 156, sizeof(orvane_bone),
        {ORVANE_FIELD(orvane_bone, Name), ORVANE_FIELD(orvane_bone, ParentIndex),
         ORVANE_FIELD(orvane_bone, Transform), ORVANE_FIELD(orvane_bone, InverseWorldTransform),
         ORVANE_FIELD(orvane_bone, LightInfo), ORVANE_FIELD(orvane_bone, CameraInfo),
         ORVANE_FIELD(orvane_bone, ExtendedData)});
    ExpectLayout("OrvaneLightInfoType", OrvaneLightInfoType, 8, sizeof(orvane_light_info),
                 {ORVANE_FIELD(orvane_light_info, ExtendedData)});
    ExpectLayout("OrvaneCameraInfoType", OrvaneCameraInfoType, 8, sizeof(orvane_camera_info),
                 {ORVANE_FIELD(orvane_camera_info, ExtendedData)});
    ExpectLayout(
        "OrvaneVertexDataType", OrvaneVertexDataType, 28, sizeof(orvane_vertex_data),
        {{"Vertices", offsetof(orvane_vertex_data, VertexType)},
         {"VertexComponentNames", offsetof(orvane_vertex_data, VertexComponentNameCount)},
         {"VertexAnnotationSets", offsetof(orvane_vertex_data, VertexAnnotationSetCount)}});
    ExpectLayout(
        "OrvaneVertexAnnotationSetType", OrvaneVertexAnnotationSetType, 28,
        sizeof(orvane_vertex_annotation_set),
        {ORVANE_FIELD(orvane_vertex_annotation_set, Name),
         {"VertexAnnotations", offsetof(orvane_vertex_annotation_set, VertexAnnotationType)},
         ORVANE_FIELD(orvane_vertex_annotation_set, IndicesMapFromVertexToAnnotation),
         {"VertexAnnotationIndices",
          offsetof(orvane_vertex_annotation_set, VertexAnnotationIndexCount)}});
    ExpectLayout("OrvaneTriTopologyType", OrvaneTriTopologyType, 72, sizeof(orvane_tri_topology),
                 {{"Groups", offsetof(orvane_tri_topology, GroupCount)},
                  {"Indices", offsetof(orvane_tri_topology, IndexCount)},
                  {"Indices16", offsetof(orvane_tri_topology, Index16Count)},
                  {"VertexToVertexMap", offsetof(orvane_tri_topology, VertexToVertexCount)},
                  {"VertexToTriangleMap", offsetof(orvane_tri_topology, VertexToTriangleCount)},
                  {"SideToNeighborMap", offsetof(orvane_tri_topology, SideToNeighborCount)},
                  {"BonesForTriangle", offsetof(orvane_tri_topology, BonesForTriangleCount)},
                  {"TriangleToBoneIndices", offsetof(orvane_tri_topology, TriangleToBoneCount)},
                  {"TriAnnotationSets", offsetof(orvane_tri_topology, TriAnnotationSetCount)}});
    ExpectLayout("OrvaneTriMaterialGroupType", OrvaneTriMaterialGroupType, 12,
                 sizeof(orvane_tri_material_group),
                 {ORVANE_FIELD(orvane_tri_material_group, MaterialIndex),
                  ORVANE_FIELD(orvane_tri_material_group, TriFirst),
                  ORVANE_FIELD(orvane_tri_material_group, TriCount)});
    ExpectLayout(
        "OrvaneTriAnnotationSetType", OrvaneTriAnnotationSetType, 28,
        sizeof(orvane_tri_annotation_set),
        {ORVANE_FIELD(orvane_tri_annotation_set, Name),
         {"TriAnnotations", offsetof(orvane_tri_annotation_set, TriAnnotationType)},
         ORVANE_FIELD(orvane_tri_annotation_set, IndicesMapFromTriToAnnotation),
         {"TriAnnotationIndices", offsetof(orvane_tri_annotation_set, TriAnnotationIndexCount)}});
    ExpectLayout("OrvaneMeshType", OrvaneMeshType, 44, sizeof(orvane_mesh),
                 {ORVANE_FIELD(orvane_mesh, Name),
                  ORVANE_FIELD(orvane_mesh, PrimaryVertexData),
                  {"MorphTargets", offsetof(orvane_mesh, MorphTargetCount)},
                  ORVANE_FIELD(orvane_mesh, PrimaryTopology),
                  {"MaterialBindings", offsetof(orvane_mesh, MaterialBindingCount)},
                  {"BoneBindings", offsetof(orvane_mesh, BoneBindingCount)},
                  ORVANE_FIELD(orvane_mesh, ExtendedData)});
    ExpectLayout("OrvaneMorphTargetType", OrvaneMorphTargetType, 8, sizeof(orvane_morph_target),
                 {ORVANE_FIELD(orvane_morph_target, ScalarName),
                  ORVANE_FIELD(orvane_morph_target, VertexData)});
    ExpectLayout("OrvaneMaterialBindingType", OrvaneMaterialBindingType, 4,
                 sizeof(orvane_material_binding),
                 {ORVANE_FIELD(orvane_material_binding, Material)});
    ExpectLayout("OrvaneBoneBindingType", OrvaneBoneBindingType, 36, sizeof(orvane_bone_binding),
                 {ORVANE_FIELD(orvane_bone_binding, BoneName),
                  ORVANE_FIELD(orvane_bone_binding, OBBMin),
                  ORVANE_FIELD(orvane_bone_binding, OBBMax),
                  {"TriangleIndices", offsetof(orvane_bone_binding, TriangleCount)}});
    ExpectLayout("OrvaneModelType", OrvaneModelType, 84, sizeof(orvane_model),
                 {ORVANE_FIELD(orvane_model, Name),
                  ORVANE_FIELD(orvane_model, Skeleton),
                  ORVANE_FIELD(orvane_model, InitialPlacement),
                  {"MeshBindings", offsetof(orvane_model, MeshBindingCount)}});
    ExpectLayout("OrvaneModelMeshBindingType", OrvaneModelMeshBindingType, 4,
                 sizeof(orvane_model_mesh_binding),
                 {ORVANE_FIELD(orvane_model_mesh_binding, Mesh)});
    ExpectLayout("OrvaneTrackGroupType", OrvaneTrackGroupType, 136, sizeof(orvane_track_group),
                 {ORVANE_FIELD(orvane_track_group, Name),
                  {"VectorTracks", offsetof(orvane_track_group, VectorTrackCount)},
                  {"TransformTracks", offsetof(orvane_track_group, TransformTrackCount)},
                  {"TransformLODErrors", offsetof(orvane_track_group, TransformLODErrorCount)},
                  {"TextTracks", offsetof(orvane_track_group, TextTrackCount)},
                  ORVANE_FIELD(orvane_track_group, InitialPlacement),
                  ORVANE_FIELD(orvane_track_group, AccumulationFlags),
                  ORVANE_FIELD(orvane_track_group, LoopTranslation),
                  ORVANE_FIELD(orvane_track_group, PeriodicLoop),
                  ORVANE_FIELD(orvane_track_group, RootMotion),
                  ORVANE_FIELD(orvane_track_group, ExtendedData)});
    ExpectLayout(
        "OrvaneVectorTrackType", OrvaneVectorTrackType, 16, sizeof(orvane_vector_track),
        {ORVANE_FIELD(orvane_vector_track, Name), ORVANE_FIELD(orvane_vector_track, Dimension),
         ORVANE_FIELD(orvane_vector_track, ValueCurve)});
    ExpectLayout("OrvaneTransformTrackType", OrvaneTransformTrackType, 28,
                 sizeof(orvane_transform_track),
                 {ORVANE_FIELD(orvane_transform_track, Name),
                  ORVANE_FIELD(orvane_transform_track, PositionCurve),
                  ORVANE_FIELD(orvane_transform_track, OrientationCurve),
                  ORVANE_FIELD(orvane_transform_track, ScaleShearCurve)});
    ExpectLayout("OrvaneTextTrackType", OrvaneTextTrackType, 12, sizeof(orvane_text_track),
                 {ORVANE_FIELD(orvane_text_track, Name),
                  {"Entries", offsetof(orvane_text_track, EntryCount)}});
    ExpectLayout("OrvaneTextTrackEntryType", OrvaneTextTrackEntryType, 8,
                 sizeof(orvane_text_track_entry),
                 {ORVANE_FIELD(orvane_text_track_entry, TimeStamp),
                  ORVANE_FIELD(orvane_text_track_entry, Text)});
    ExpectLayout(
        "OrvanePeriodicLoopType", OrvanePeriodicLoopType, 48, sizeof(orvane_periodic_loop),
        {ORVANE_FIELD(orvane_periodic_loop, Radius), ORVANE_FIELD(orvane_periodic_loop, dAngle),
         ORVANE_FIELD(orvane_periodic_loop, dZ), ORVANE_FIELD(orvane_periodic_loop, BasisX),
         ORVANE_FIELD(orvane_periodic_loop, BasisY), ORVANE_FIELD(orvane_periodic_loop, Axis)});
    ExpectLayout("OrvaneAnimationType", OrvaneAnimationType, 24, sizeof(orvane_animation),
                 {ORVANE_FIELD(orvane_animation, Name),
                  ORVANE_FIELD(orvane_animation, Duration),
                  ORVANE_FIELD(orvane_animation, TimeStep),
                  ORVANE_FIELD(orvane_animation, Oversampling),
                  {"TrackGroups", offsetof(orvane_animation, TrackGroupCount)}});
    ExpectLayout("OrvaneCurve2Type", OrvaneCurve2Type, 8, sizeof(orvane_curve2),
                 {ORVANE_FIELD(orvane_curve2, CurveData)});
    ExpectLayout("OrvaneOldCurveType", OrvaneOldCurveType, 20, sizeof(orvane_old_curve),
                 {ORVANE_FIELD(orvane_old_curve, Degree),
                  {"Knots", offsetof(orvane_old_curve, KnotCount)},
                  {"Controls", offsetof(orvane_old_curve, ControlCount)}});
}

TEST(ContentSchema, ElementTypes) {
    ExpectLayout("OrvaneEmptyType", OrvaneEmptyType, 0, 0, {});
    ExpectLayout("OrvaneStringType", OrvaneStringType, 4, sizeof(char*), {{"String", 0}});
    ExpectLayout("OrvaneInt16Type", OrvaneInt16Type, 2, 2, {{"Int16", 0}});
    ExpectLayout("OrvaneInt32Type", OrvaneInt32Type, 4, 4, {{"Int32", 0}});
    ExpectLayout("OrvaneUInt8Type", OrvaneUInt8Type, 1, 1, {{"UInt8", 0}});
    ExpectLayout("OrvaneUInt16Type", OrvaneUInt16Type, 2, 2, {{"UInt16", 0}});
    ExpectLayout("OrvaneUInt32Type", OrvaneUInt32Type, 4, 4, {{"UInt32", 0}});
    ExpectLayout("OrvaneReal32Type", OrvaneReal32Type, 4, 4, {{"Real32", 0}});
    ExpectLayout("OrvaneTripleType", OrvaneTripleType, 12, 12, {{"Real32", 0}});
    ExpectLayout("OrvaneQuadType", OrvaneQuadType, 16, 16, {{"Real32", 0}});
    ExpectLayout("OrvaneTransformType", OrvaneTransformType, 68, sizeof(orvane_transform),
                 {{"Transform", 0}});
    EXPECT_EQ(OrvaneTripleType->ArrayWidth, 3);
    EXPECT_EQ(OrvaneQuadType->ArrayWidth, 4);
}

TEST(ContentSchema, KindsAndReferencedTypes) {
    // Spot checks of the parts the layout check does not see.
    EXPECT_EQ(OrvaneFileInfoType[3].Type, OrvaneArrayOfReferencesMember);
    EXPECT_EQ(+OrvaneFileInfoType[3].ReferenceType, OrvaneTextureType);
    EXPECT_EQ(OrvaneFileInfoType[12].Type, OrvaneVariantReferenceMember);
    EXPECT_EQ(OrvaneTextureType[6].Type, OrvaneInlineMember);
    EXPECT_EQ(+OrvaneTextureType[6].ReferenceType, OrvanePixelLayoutType);
    EXPECT_EQ(+OrvaneTextureMIPLevelType[1].ReferenceType, OrvaneUInt8Type);
    EXPECT_EQ(OrvaneVertexDataType[0].Type, OrvaneReferenceToVariantArrayMember);
    EXPECT_EQ(+OrvaneVertexDataType[1].ReferenceType, OrvaneStringType);
    EXPECT_EQ(+OrvaneTriTopologyType[2].ReferenceType, OrvaneInt16Type);
    EXPECT_EQ(OrvaneBoneType[3].ArrayWidth, 16);
    EXPECT_EQ(+OrvaneTrackGroupType[9].ReferenceType, OrvaneTransformTrackType);
    EXPECT_EQ(+OrvaneTransformTrackType[2].ReferenceType, OrvaneCurve2Type);
    EXPECT_EQ(+OrvaneAnimationType[4].ReferenceType, OrvaneTrackGroupType);
    EXPECT_EQ(+OrvaneOldCurveType[1].ReferenceType, OrvaneReal32Type);
    // Nothing in the schema is written to by a comparison.
    EXPECT_TRUE(OrvaneDataTypesAreEqualWithNames(OrvaneFileInfoType, OrvaneFileInfoType));
    for (int i = 0; i < OrvaneGetDefinedTypeCount(); ++i) {
        for (const orvane_data_type_definition* m = OrvaneDefinedTypes[i].Type;; ++m) {
            EXPECT_EQ(+m->TraversalMark, 0u);
            for (int32_t e : m->Extra)
                EXPECT_EQ(e, 0);
            if (m->Type == OrvaneEndMember) break;
        }
    }
}

TEST(ContentSchema, MarshallingOfTheSchema) {
    // Objects with only 32-bit units go into the 32-bit part of a section; none of the standard
    // content objects mixes widths.
    EXPECT_EQ(OrvaneGetObjectMarshalling(OrvaneBoneType), uint32_t(OrvaneSwap32Marshalling));
    EXPECT_EQ(OrvaneGetObjectMarshalling(OrvaneTextureType), uint32_t(OrvaneSwap32Marshalling));
    EXPECT_EQ(OrvaneGetObjectMarshalling(OrvaneCurve2Type), uint32_t(OrvaneNoMarshalling));
    EXPECT_EQ(OrvaneGetObjectMarshalling(OrvaneUInt8Type), uint32_t(OrvaneByteMarshalling));
    EXPECT_FALSE(OrvaneTypeHasPointers(OrvanePeriodicLoopType));
    EXPECT_FALSE(OrvaneTypeHasPointers(OrvaneTriMaterialGroupType));
    EXPECT_TRUE(OrvaneTypeHasPointers(OrvaneVectorTrackType));
    EXPECT_TRUE(OrvaneTypeHasPointers(OrvaneTextureImageType));
}

TEST(DefinedTypes, TheCatalogue) {
    ASSERT_EQ(OrvaneGetDefinedTypeCount(), 32);
    std::set<std::string> names;
    for (int i = 0; i < 32; ++i) {
        EXPECT_EQ(OrvaneDefinedTypes[i].Tag, 0x10001u + i);
        ASSERT_NE(+OrvaneDefinedTypes[i].Type, nullptr);
        names.insert(OrvaneDefinedTypes[i].Name);
    }
    EXPECT_EQ(names.size(), 32u);
    EXPECT_STREQ(OrvaneDefinedTypes[0].Name, "animation");
    EXPECT_EQ(+OrvaneDefinedTypes[0].Type, OrvaneAnimationType);
    EXPECT_STREQ(OrvaneDefinedTypes[2].Name, "curve2");
    EXPECT_EQ(+OrvaneDefinedTypes[2].Type, OrvaneCurve2Type);
    EXPECT_STREQ(OrvaneDefinedTypes[18].Name, "strings");
    EXPECT_EQ(+OrvaneDefinedTypes[18].Type, OrvaneStringType);
    EXPECT_STREQ(OrvaneDefinedTypes[31].Name, "vertex_data");
    EXPECT_EQ(+OrvaneDefinedTypes[31].Type, OrvaneVertexDataType);
}

}  // namespace

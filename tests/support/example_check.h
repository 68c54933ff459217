// Checks of the example content as a loaded file gives it back, member by member: shared by
// the golden files' test and the loading tests.
#ifndef ORVANE_TESTS_EXAMPLE_CHECK_H
#define ORVANE_TESTS_EXAMPLE_CHECK_H

#include <cstdint>
#include <cstring>

#include <gtest/gtest.h>

#include "orvane/bspline.h"
#include "orvane/file.h"
#include "orvane/types.h"
#include "orvane/convert.h"
#include "testing/example_content.h"

namespace orvane_test {

// Packed content records may hold pointers at 4-byte offsets: compare copies.
inline const void* P(const void* pointer) {
    return pointer;
}

template <typename T>
inline bool SameBytes(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// Every knot and control of a loaded curve against the example's, and the curve evaluated
// across its time range (and past both ends).
inline void ExpectCurve(const orvane_curve2& loaded, const orvane_curve2* expected, int dimension,
                        bool normalize, const orvane_real32* identity) {
    if (expected == nullptr) {
        EXPECT_EQ(P(loaded.CurveData.Object), nullptr);
        return;
    }
    ASSERT_NE(P(loaded.CurveData.Object), nullptr);
    EXPECT_TRUE(OrvaneDataTypesAreEqualWithNames(loaded.CurveData.Type, expected->CurveData.Type));
    EXPECT_TRUE(OrvaneCurveFormatIsInitializedCorrectly(&loaded));
    EXPECT_EQ(OrvaneCurveGetDegree(&loaded), OrvaneCurveGetDegree(expected));
    EXPECT_EQ(OrvaneCurveGetDimension(&loaded), OrvaneCurveGetDimension(expected));
    const int32_t knots = OrvaneCurveGetKnotCount(expected);
    ASSERT_EQ(OrvaneCurveGetKnotCount(&loaded), knots);
    for (int32_t k = 0; k < knots; ++k) {
        float a[9] = {}, b[9] = {};
        const float ka = OrvaneCurveExtractKnotValue(&loaded, k, a, identity);
        const float kb = OrvaneCurveExtractKnotValue(expected, k, b, identity);
        EXPECT_EQ(ka, kb) << "knot " << k;
        for (int c = 0; c < dimension; ++c)
            EXPECT_EQ(a[c], b[c]) << "knot " << k << " component " << c;
    }
    for (float t = -0.25f; t <= 1.75f; t += 0.125f) {
        float a[9] = {}, b[9] = {};
        OrvaneEvaluateCurveAtT(dimension, normalize, false, &loaded, false, 1.5f, t, a, identity);
        OrvaneEvaluateCurveAtT(dimension, normalize, false, expected, false, 1.5f, t, b, identity);
        for (int c = 0; c < dimension; ++c)
            EXPECT_EQ(a[c], b[c]) << "t " << t << " component " << c;
    }
}

// Where a file put the example's parts, for the checks that know (-1: not checked).
struct ExampleSections {
    int32_t skeleton = -1;
    int32_t vertices = OrvaneStandardDeformableVertexSection;
    int32_t indices = OrvaneStandardDeformableIndexSection;
    int32_t curves = -1;
};

// Every value of the example content, read through a loaded file info. Curves are compared
// knot by knot unless `curves` is false.
inline void ExpectExample(const orvane_file* file, const orvane_file_info* info,
                          orvane_example::ExampleContent& e,
                          const ExampleSections& sections = ExampleSections(), bool curves = true) {
    ASSERT_NE(P(info), nullptr);
    const orvane_file_info& x = *e.info();
    EXPECT_STREQ(info->FromFileName, "example.scene");

    ASSERT_NE(P(info->ArtToolInfo), nullptr);
    EXPECT_STREQ(info->ArtToolInfo->FromArtToolName, "Example Modeler");
    EXPECT_EQ(info->ArtToolInfo->ArtToolMajorRevision, 4);
    EXPECT_EQ(info->ArtToolInfo->ArtToolMinorRevision, 2);
    EXPECT_EQ(info->ArtToolInfo->UnitsPerMeter, 1.0f);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(info->ArtToolInfo->Origin[i], e.art.Origin[i]);
        EXPECT_EQ(info->ArtToolInfo->RightVector[i], e.art.RightVector[i]);
        EXPECT_EQ(info->ArtToolInfo->UpVector[i], e.art.UpVector[i]);
        EXPECT_EQ(info->ArtToolInfo->BackVector[i], e.art.BackVector[i]);
    }
    ASSERT_NE(P(info->ExporterInfo), nullptr);
    EXPECT_STREQ(info->ExporterInfo->ExporterName, "orvane example");
    EXPECT_EQ(info->ExporterInfo->ExporterMajorRevision, 2);
    EXPECT_EQ(info->ExporterInfo->ExporterMinorRevision, 6);
    EXPECT_EQ(info->ExporterInfo->ExporterCustomization, 0);
    EXPECT_EQ(info->ExporterInfo->ExporterBuildNumber, 13);
    // The texture, its MIP levels and its switchable extended data.
    ASSERT_EQ(info->TextureCount, 1);
    const orvane_texture* texture = info->Textures[0];
    ASSERT_NE(P(texture), nullptr);
    EXPECT_STREQ(texture->FromFileName, "wood.tga");
    EXPECT_EQ(texture->Width, 4);
    EXPECT_EQ(texture->Height, 4);
    EXPECT_EQ(texture->Layout.BytesPerPixel, 4);
    EXPECT_EQ(texture->Layout.ShiftForComponent[3], 24);
    ASSERT_EQ(texture->ImageCount, 1);
    ASSERT_EQ(texture->Images[0].MIPLevelCount, 2);
    for (int level = 0; level < 2; ++level) {
        const orvane_texture_mip_level& mip = texture->Images[0].MIPLevels[level];
        ASSERT_EQ(mip.PixelByteCount, level ? 16 : 64);
        EXPECT_EQ(
            std::memcmp(mip.Pixels, e.pixels.data() + (level ? 48 : 0), size_t(mip.PixelByteCount)),
            0);
    }
    // (Descriptions with switchable members are not compared: the comparison warns.)
    ASSERT_NE(P(texture->ExtendedData.Type), nullptr);
    EXPECT_EQ(texture->ExtendedData.Type[0].Type, OrvaneSwitchableTypeMember);
    EXPECT_STREQ(texture->ExtendedData.Type[1].Name, "FirstBone");
    const auto* choice = static_cast<const orvane_example::Choice*>(texture->ExtendedData.Object);
    ASSERT_NE(P(choice), nullptr);
    EXPECT_EQ(choice->Index, 1);
    EXPECT_EQ(P(choice->Object), P(info->ArtToolInfo));
    EXPECT_EQ(choice->Small, -5);
    ASSERT_EQ(info->MaterialCount, 2);
    EXPECT_STREQ(info->Materials[0]->Name, "Detail");
    EXPECT_STREQ(info->Materials[1]->Name, "Base");
    ASSERT_EQ(info->Materials[1]->MapCount, 1);
    EXPECT_STREQ(info->Materials[1]->Maps[0].Usage, "Diffuse");
    EXPECT_EQ(P(info->Materials[1]->Maps[0].Map), P(info->Materials[0]));
    EXPECT_EQ(P(info->Materials[0]->Texture), P(texture));

    // The skeleton, bone by bone.
    ASSERT_EQ(info->SkeletonCount, 1);
    const orvane_skeleton* skeleton = info->Skeletons[0];
    ASSERT_NE(P(skeleton), nullptr);
    EXPECT_STREQ(skeleton->Name, "Biped");
    if (sections.skeleton >= 0) {
        EXPECT_EQ(OrvaneGetFileSectionOfLoadedObject(file, skeleton), sections.skeleton);
    }
    ASSERT_EQ(skeleton->BoneCount, 4);
    const char* names[4] = {"Hips", "Spine", "Neck", "Head"};
    for (int i = 0; i < 4; ++i) {
        const orvane_bone& bone = skeleton->Bones[i];
        EXPECT_STREQ(bone.Name, names[i]);
        EXPECT_EQ(bone.ParentIndex, i - 1);
        EXPECT_TRUE(SameBytes(bone.Transform, e.bones[size_t(i)].Transform)) << i;
        EXPECT_EQ(bone.Transform.Position[1], i ? 0.25f : 1.0f);
        EXPECT_EQ(std::memcmp(bone.InverseWorldTransform, e.bones[size_t(i)].InverseWorldTransform,
                              sizeof bone.InverseWorldTransform),
                  0);
        EXPECT_EQ(P(bone.LightInfo) != nullptr, i == 2);
        EXPECT_EQ(P(bone.CameraInfo) != nullptr, i == 1);
        EXPECT_EQ(P(bone.ExtendedData.Object), nullptr);
    }

    // The vertices in their own section, used in place; the indices in theirs.
    ASSERT_EQ(info->VertexDataCount, 1);
    const orvane_vertex_data* vd = info->VertexDatas[0];
    ASSERT_NE(P(vd), nullptr);
    EXPECT_TRUE(OrvaneDataTypesAreEqualWithNames(vd->VertexType, orvane_example::g_vertexType));
    ASSERT_EQ(vd->VertexCount, 8);
    if (sections.vertices >= 0) {
        EXPECT_EQ(OrvaneGetFileSectionOfLoadedObject(file, vd->Vertices), sections.vertices);
    }
    const auto* vertices = static_cast<const orvane_example::Vertex*>(vd->Vertices);
    for (int i = 0; i < 8; ++i) {
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(vertices[i].Position[c], e.vertices[size_t(i)].Position[c]);
            EXPECT_EQ(vertices[i].Normal[c], e.vertices[size_t(i)].Normal[c]);
        }
        for (int c = 0; c < 4; ++c) {
            EXPECT_EQ(vertices[i].BoneIndices[c], e.vertices[size_t(i)].BoneIndices[c]);
            EXPECT_EQ(vertices[i].BoneWeights[c], e.vertices[size_t(i)].BoneWeights[c]);
        }
    }
    EXPECT_EQ(vertices[3].Position[0], 0.5f);
    EXPECT_EQ(vertices[3].Position[1], 2.0f);
    EXPECT_EQ(vertices[3].BoneIndices[0], 3);
    EXPECT_EQ(vertices[3].BoneWeights[1], 55);

    ASSERT_EQ(info->TriTopologyCount, 1);
    const orvane_tri_topology* topology = info->TriTopologies[0];
    ASSERT_NE(P(topology), nullptr);
    ASSERT_EQ(topology->GroupCount, 1);
    EXPECT_EQ(topology->Groups[0].MaterialIndex, 0);
    EXPECT_EQ(topology->Groups[0].TriFirst, 0);
    EXPECT_EQ(topology->Groups[0].TriCount, 12);
    ASSERT_EQ(topology->IndexCount, 36);
    if (sections.indices >= 0) {
        EXPECT_EQ(OrvaneGetFileSectionOfLoadedObject(file, topology->Indices), sections.indices);
    }
    for (int i = 0; i < 36; ++i)
        EXPECT_EQ(topology->Indices[i], e.indices[size_t(i)]) << i;
    ASSERT_EQ(topology->Index16Count, 6);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(topology->Indices16[i], e.indices16[i]) << i;
    EXPECT_EQ(topology->Indices16[1], 2);
    EXPECT_EQ(topology->Indices16[5], 3);

    // The mesh and the model share what the file info holds.
    ASSERT_EQ(info->MeshCount, 1);
    const orvane_mesh* mesh = info->Meshes[0];
    ASSERT_NE(P(mesh), nullptr);
    EXPECT_STREQ(mesh->Name, "Box");
    EXPECT_EQ(P(mesh->PrimaryVertexData), P(vd));
    EXPECT_EQ(P(mesh->PrimaryTopology), P(topology));
    ASSERT_EQ(mesh->MorphTargetCount, 1);
    EXPECT_STREQ(mesh->MorphTargets[0].ScalarName, "Smile");
    EXPECT_EQ(P(mesh->MorphTargets[0].VertexData), P(vd));
    ASSERT_EQ(mesh->MaterialBindingCount, 1);
    EXPECT_EQ(P(mesh->MaterialBindings[0].Material), P(info->Materials[1]));
    ASSERT_EQ(mesh->BoneBindingCount, 1);
    EXPECT_STREQ(mesh->BoneBindings[0].BoneName, "Head");
    ASSERT_EQ(vd->VertexAnnotationSetCount, 1);
    EXPECT_STREQ(vd->VertexAnnotationSets[0].Name, "Weights");
    ASSERT_EQ(vd->VertexComponentNameCount, 2);
    EXPECT_STREQ(vd->VertexComponentNames[1], "BoneIndices");
    ASSERT_EQ(info->ModelCount, 1);
    const orvane_model* model = info->Models[0];
    ASSERT_NE(P(model), nullptr);
    EXPECT_STREQ(model->Name, "Example");
    EXPECT_EQ(P(model->Skeleton), P(skeleton));
    EXPECT_TRUE(SameBytes(model->InitialPlacement, e.model.InitialPlacement));
    ASSERT_EQ(model->MeshBindingCount, 1);
    EXPECT_EQ(P(model->MeshBindings[0].Mesh), P(mesh));

    // The animation and every curve of its tracks.
    ASSERT_EQ(info->TrackGroupCount, 1);
    const orvane_track_group* group = info->TrackGroups[0];
    ASSERT_NE(P(group), nullptr);
    EXPECT_STREQ(group->Name, "Nod");
    EXPECT_TRUE(SameBytes(group->InitialPlacement, e.trackGroup.InitialPlacement));
    ASSERT_EQ(group->TransformTrackCount, 4);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(testing::Message() << "track " << i);
        const orvane_transform_track& track = group->TransformTracks[i];
        const orvane_transform_track& source = e.tracks[size_t(i)];
        EXPECT_STREQ(track.Name, names[i]);
        if (sections.curves >= 0 && track.PositionCurve.CurveData.Object) {
            EXPECT_EQ(
                OrvaneGetFileSectionOfLoadedObject(file, track.PositionCurve.CurveData.Object),
                sections.curves);
        }
        if (!curves) continue;
        auto expected = [](const orvane_curve2& c) { return c.CurveData.Object ? &c : nullptr; };
        ExpectCurve(track.PositionCurve, expected(source.PositionCurve), 3, false,
                    OrvaneCurveIdentityPosition);
        ExpectCurve(track.OrientationCurve, expected(source.OrientationCurve), 4, true,
                    OrvaneCurveIdentityOrientation);
        ExpectCurve(track.ScaleShearCurve, expected(source.ScaleShearCurve), 9, false,
                    OrvaneCurveIdentityScaleShear);
    }
    ASSERT_EQ(group->TextTrackCount, 1);
    ASSERT_EQ(group->TextTracks[0].EntryCount, 2);
    EXPECT_STREQ(group->TextTracks[0].Entries[1].Text, "Spine");
    EXPECT_EQ(group->TextTracks[0].Entries[1].TimeStamp, 1.0f);
    ASSERT_EQ(group->TransformLODErrorCount, 2);
    EXPECT_EQ(group->TransformLODErrors[0], 0.01f);
    EXPECT_EQ(group->AccumulationFlags, 3);
    ASSERT_NE(P(group->PeriodicLoop), nullptr);
    EXPECT_EQ(group->PeriodicLoop->Radius, 1.0f);
    ASSERT_NE(P(group->RootMotion), nullptr);
    EXPECT_STREQ(group->RootMotion->Name, "Hips");
    ASSERT_EQ(group->VectorTrackCount, 1);
    EXPECT_STREQ(group->VectorTracks[0].Name, "Blink");
    if (curves) {
        ExpectCurve(group->VectorTracks[0].ValueCurve, &e.vectorTrack.ValueCurve, 1, false,
                    nullptr);
    }
    ASSERT_EQ(info->AnimationCount, 1);
    const orvane_animation* animation = info->Animations[0];
    ASSERT_NE(P(animation), nullptr);
    EXPECT_STREQ(animation->Name, "Nod");
    EXPECT_EQ(animation->Duration, 1.5f);
    EXPECT_EQ(animation->TimeStep, 1.0f / 30);
    EXPECT_EQ(animation->Oversampling, 1.0f);
    ASSERT_EQ(animation->TrackGroupCount, 1);
    EXPECT_EQ(P(animation->TrackGroups[0]), P(group));

    // The extended data, member by member through its description.
    ASSERT_NE(P(info->ExtendedData.Type), nullptr);
    EXPECT_TRUE(OrvaneDataTypesAreEqualWithNames(info->ExtendedData.Type, x.ExtendedData.Type));
    const void* extended = info->ExtendedData.Object;
    ASSERT_NE(P(extended), nullptr);
    const orvane_variant comment =
        OrvaneFindMatchingMember(info->ExtendedData.Type, extended, "Comment");
    ASSERT_NE(P(comment.Object), nullptr);
    const char* text;
    std::memcpy(&text, comment.Object, sizeof text);
    EXPECT_STREQ(text, "built by the orvane example");
    const orvane_variant revision =
        OrvaneFindMatchingMember(info->ExtendedData.Type, extended, "SceneRevision");
    ASSERT_NE(P(revision.Object), nullptr);
    int32_t revisionValue;
    std::memcpy(&revisionValue, revision.Object, 4);
    EXPECT_EQ(revisionValue, 3);
    const orvane_variant tint = OrvaneFindMatchingMember(info->ExtendedData.Type, extended, "Tint");
    ASSERT_NE(P(tint.Object), nullptr);
    float tintValues[3];
    std::memcpy(tintValues, tint.Object, sizeof tintValues);
    EXPECT_EQ(tintValues[0], 0.8f);
    EXPECT_EQ(tintValues[1], 0.6f);
    EXPECT_EQ(tintValues[2], 0.4f);
    const orvane_variant main =
        OrvaneFindMatchingMember(info->ExtendedData.Type, extended, "MainModel");
    ASSERT_NE(P(main.Object), nullptr);
    const void* mainModel;
    std::memcpy(&mainModel, main.Object, sizeof mainModel);
    EXPECT_EQ(mainModel, P(model));
}

}  // namespace orvane_test

#endif  // ORVANE_TESTS_EXAMPLE_CHECK_H

// The golden files: the example content as an earlier writer wrote it, in both byte orders,
// uncompressed and with each codec. Each must load without a message and give back the
// example's values member by member, so that a change made to writer and reader together (a
// layout, a codec, a fixup rule) cannot pass unnoticed. testing/write_golden.cpp says how
// and when to regenerate them.
#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "orvane/anim.h"
#include "orvane/file.h"
#include "orvane/types.h"
#include "testing/example_content.h"
#include "support/log_capture.h"

namespace {

using orvane_example::ExampleContent;
using orvane_test::LogCapture;

// Packed content records may hold pointers at 4-byte offsets: compare copies.
const void* P(const void* pointer) {
    return pointer;
}

template <typename T>
bool SameBytes(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// Every knot and control of a loaded curve against the example's, and the curve evaluated
// across its time range (and past both ends).
void ExpectCurve(const orvane_curve2& loaded, const orvane_curve2* expected, int dimension,
                 bool normalize, const orvane_real32* identity) {
    if (expected == nullptr) {
        EXPECT_EQ(loaded.CurveData.Object, nullptr);
        return;
    }
    ASSERT_NE(loaded.CurveData.Object, nullptr);
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

void ExpectExample(const orvane_file* file, const orvane_file_info* info, ExampleContent& e) {
    ASSERT_NE(info, nullptr);
    const orvane_file_info& x = *e.info();
    EXPECT_STREQ(info->FromFileName, "example.scene");

    ASSERT_NE(info->ArtToolInfo, nullptr);
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
    ASSERT_NE(info->ExporterInfo, nullptr);
    EXPECT_STREQ(info->ExporterInfo->ExporterName, "orvane example");
    EXPECT_EQ(info->ExporterInfo->ExporterMajorRevision, 2);
    EXPECT_EQ(info->ExporterInfo->ExporterMinorRevision, 6);
    EXPECT_EQ(info->ExporterInfo->ExporterCustomization, 0);
    EXPECT_EQ(info->ExporterInfo->ExporterBuildNumber, 13);
    EXPECT_EQ(info->TextureCount, 0);
    EXPECT_EQ(info->MaterialCount, 0);

    // The skeleton, bone by bone.
    ASSERT_EQ(info->SkeletonCount, 1);
    const orvane_skeleton* skeleton = info->Skeletons[0];
    ASSERT_NE(skeleton, nullptr);
    EXPECT_STREQ(skeleton->Name, "Biped");
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
        EXPECT_EQ(P(bone.LightInfo), nullptr);
        EXPECT_EQ(P(bone.CameraInfo), nullptr);
        EXPECT_EQ(P(bone.ExtendedData.Object), nullptr);
    }

    // The vertices in their own section, used in place; the indices in theirs.
    ASSERT_EQ(info->VertexDataCount, 1);
    const orvane_vertex_data* vd = info->VertexDatas[0];
    ASSERT_NE(vd, nullptr);
    EXPECT_TRUE(OrvaneDataTypesAreEqualWithNames(vd->VertexType, orvane_example::g_vertexType));
    ASSERT_EQ(vd->VertexCount, 8);
    EXPECT_EQ(OrvaneGetFileSectionOfLoadedObject(file, vd->Vertices),
              OrvaneStandardDeformableVertexSection);
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
    ASSERT_NE(topology, nullptr);
    ASSERT_EQ(topology->GroupCount, 1);
    EXPECT_EQ(topology->Groups[0].MaterialIndex, 0);
    EXPECT_EQ(topology->Groups[0].TriFirst, 0);
    EXPECT_EQ(topology->Groups[0].TriCount, 12);
    ASSERT_EQ(topology->IndexCount, 36);
    EXPECT_EQ(OrvaneGetFileSectionOfLoadedObject(file, topology->Indices),
              OrvaneStandardDeformableIndexSection);
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
    ASSERT_NE(mesh, nullptr);
    EXPECT_STREQ(mesh->Name, "Box");
    EXPECT_EQ(P(mesh->PrimaryVertexData), P(vd));
    EXPECT_EQ(P(mesh->PrimaryTopology), P(topology));
    EXPECT_EQ(mesh->MorphTargetCount, 0);
    ASSERT_EQ(info->ModelCount, 1);
    const orvane_model* model = info->Models[0];
    ASSERT_NE(model, nullptr);
    EXPECT_STREQ(model->Name, "Example");
    EXPECT_EQ(P(model->Skeleton), P(skeleton));
    EXPECT_TRUE(SameBytes(model->InitialPlacement, e.model.InitialPlacement));
    ASSERT_EQ(model->MeshBindingCount, 1);
    EXPECT_EQ(P(model->MeshBindings[0].Mesh), P(mesh));

    // The animation and every curve of its tracks.
    ASSERT_EQ(info->TrackGroupCount, 1);
    const orvane_track_group* group = info->TrackGroups[0];
    ASSERT_NE(group, nullptr);
    EXPECT_STREQ(group->Name, "Nod");
    EXPECT_TRUE(SameBytes(group->InitialPlacement, e.trackGroup.InitialPlacement));
    ASSERT_EQ(group->TransformTrackCount, 4);
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(testing::Message() << "track " << i);
        const orvane_transform_track& track = group->TransformTracks[i];
        const orvane_transform_track& source = e.tracks[size_t(i)];
        EXPECT_STREQ(track.Name, names[i]);
        auto expected = [](const orvane_curve2& c) { return c.CurveData.Object ? &c : nullptr; };
        ExpectCurve(track.PositionCurve, expected(source.PositionCurve), 3, false,
                    OrvaneCurveIdentityPosition);
        ExpectCurve(track.OrientationCurve, expected(source.OrientationCurve), 4, true,
                    OrvaneCurveIdentityOrientation);
        ExpectCurve(track.ScaleShearCurve, expected(source.ScaleShearCurve), 9, false,
                    OrvaneCurveIdentityScaleShear);
    }
    ASSERT_EQ(info->AnimationCount, 1);
    const orvane_animation* animation = info->Animations[0];
    ASSERT_NE(animation, nullptr);
    EXPECT_STREQ(animation->Name, "Nod");
    EXPECT_EQ(animation->Duration, 1.5f);
    EXPECT_EQ(animation->TimeStep, 1.0f / 30);
    EXPECT_EQ(animation->Oversampling, 1.0f);
    ASSERT_EQ(animation->TrackGroupCount, 1);
    EXPECT_EQ(P(animation->TrackGroups[0]), P(group));

    // The extended data, member by member through its description.
    ASSERT_NE(info->ExtendedData.Type, nullptr);
    EXPECT_TRUE(OrvaneDataTypesAreEqualWithNames(info->ExtendedData.Type, x.ExtendedData.Type));
    const void* extended = info->ExtendedData.Object;
    ASSERT_NE(extended, nullptr);
    const orvane_variant comment =
        OrvaneFindMatchingMember(info->ExtendedData.Type, extended, "Comment");
    ASSERT_NE(comment.Object, nullptr);
    const char* text;
    std::memcpy(&text, comment.Object, sizeof text);
    EXPECT_STREQ(text, "built by the orvane example");
    const orvane_variant revision =
        OrvaneFindMatchingMember(info->ExtendedData.Type, extended, "SceneRevision");
    ASSERT_NE(revision.Object, nullptr);
    int32_t revisionValue;
    std::memcpy(&revisionValue, revision.Object, 4);
    EXPECT_EQ(revisionValue, 3);
    const orvane_variant tint = OrvaneFindMatchingMember(info->ExtendedData.Type, extended, "Tint");
    ASSERT_NE(tint.Object, nullptr);
    float tintValues[3];
    std::memcpy(tintValues, tint.Object, sizeof tintValues);
    EXPECT_EQ(tintValues[0], 0.8f);
    EXPECT_EQ(tintValues[1], 0.6f);
    EXPECT_EQ(tintValues[2], 0.4f);
    const orvane_variant main =
        OrvaneFindMatchingMember(info->ExtendedData.Type, extended, "MainModel");
    ASSERT_NE(main.Object, nullptr);
    const void* mainModel;
    std::memcpy(&mainModel, main.Object, sizeof mainModel);
    EXPECT_EQ(mainModel, P(model));
}

class GoldenFiles : public ::testing::TestWithParam<const char*> {};

TEST_P(GoldenFiles, LoadWithTheExampleValues) {
    const std::string path = std::string(ORVANE_GOLDEN_DIR) + "/example_" + GetParam() + ".ovn";
    ExampleContent example;
    ASSERT_TRUE(example.ok());
    LogCapture log;
    EXPECT_TRUE(OrvaneFileCRCIsValid(path.c_str())) << path;
    orvane_file* file = OrvaneReadEntireFile(path.c_str());
    ASSERT_NE(file, nullptr) << path;
    const bool big = std::string(GetParam()).rfind("big", 0) == 0;
    uint16_t probe = 1;
    uint8_t first;
    std::memcpy(&first, &probe, 1);
    EXPECT_EQ(bool(file->ByteReversed), big == (first == 1));
    EXPECT_EQ(OrvaneGetFileTypeTag(file), uint32_t(ORVANE_CURRENT_FILE_TYPE_TAG));
    for (int32_t s = 0; s < file->SectionCount; ++s) {
        const orvane_ovn_section& section = OrvaneGetOVNSectionArray(file->Header)[s];
        if (section.ExpandedSize != 0) {
            EXPECT_NE(file->Sections[s], nullptr) << "section " << s;
        }
    }
    ExpectExample(file, OrvaneGetFileInfo(file), example);
    EXPECT_EQ(log.errors() + log.warnings(), 0u) << log.messages()[0].text;
    OrvaneFreeFile(file);
}

INSTANTIATE_TEST_SUITE_P(OrdersAndCodecs, GoldenFiles,
                         ::testing::Values("little_none", "little_pelma0", "little_pelma1",
                                           "big_none", "big_pelma0", "big_pelma1"));

// What the golden files hold is what the writer makes of the example today: written afresh,
// the example loads with the same values (so the golden test checks the files, not a stale
// expectation).
TEST(GoldenFiles, TheExampleWrittenTodayGivesTheSameValues) {
    ExampleContent example;
    ASSERT_TRUE(example.ok());
    const std::string path = std::string(OrvaneGetTemporaryDirectory()) + "orvane_golden_check.ovn";
    for (orvane_file_byte_order order : {OrvaneNativeByteOrder, orvane_example::OtherByteOrder()}) {
        orvane_example::ExampleFileOptions options;
        options.order = order;
        options.compression = OrvanePelma1Compression;
        ASSERT_TRUE(orvane_example::WriteExampleFile(example, path.c_str(), options));
        orvane_file* file = OrvaneReadEntireFile(path.c_str());
        ASSERT_NE(file, nullptr);
        ExpectExample(file, OrvaneGetFileInfo(file), example);
        OrvaneFreeFile(file);
    }
    std::remove(path.c_str());
}

}  // namespace

// Test content: a file info with every standard content type, shared objects, variants,
// extended data from the variant builder, a type table, equal strings and mixed-width objects.
#ifndef ORVANE_TESTS_FILE_BUILDER_CONTENT_H
#define ORVANE_TESTS_FILE_BUILDER_CONTENT_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "orvane/types.h"

namespace orvane_test {

using Def = orvane_data_type_definition;

constexpr Def Member(orvane_member_type kind, const char* name, Def* type = nullptr,
                     int32_t width = 0) {
    return {kind, name, type, width, {0, 0, 0}, 0};
}
constexpr Def End() {
    return Member(OrvaneEndMember, nullptr);
}

// A vertex of mixed widths: 32-bit reals, bytes and a 16-bit value.
#pragma pack(push, 4)
struct Vertex {
    float Position[3];
    uint8_t BoneIndices[4];
    uint8_t BoneWeights[4];
    int16_t Extra[2];
};
// Curve data with a byte header, a 16-bit field and arrays: mixed, with pointers.
struct CurveData {
    uint8_t Format;
    uint8_t Degree;
    uint16_t Scale;
    int32_t KnotCount;
    float* Knots;
    int32_t ControlCount;
    float* Controls;
};
// Extended data with a switchable member and a reference into an array.
struct Choice {
    int32_t Index;
    void* Object;
    orvane_bone* FirstBone;
    int8_t Small;
};
#pragma pack(pop)

inline Def g_vertexType[] = {Member(OrvaneReal32Member, "Position", nullptr, 3),
                             Member(OrvaneUInt8Member, "BoneIndices", nullptr, 4),
                             Member(OrvaneNormalUInt8Member, "BoneWeights", nullptr, 4),
                             Member(OrvaneInt16Member, "Extra", nullptr, 2), End()};
inline Def g_realType[] = {Member(OrvaneReal32Member, "Real32"), End()};
inline Def g_curveType[] = {Member(OrvaneUInt8Member, "Format"),
                            Member(OrvaneUInt8Member, "Degree"),
                            Member(OrvaneUInt16Member, "Scale"),
                            Member(OrvaneReferenceToArrayMember, "Knots", g_realType),
                            Member(OrvaneReferenceToArrayMember, "Controls", g_realType),
                            End()};
inline Def* g_choiceTable[3] = {nullptr, nullptr, nullptr};
inline Def g_choiceType[] = {
    Member(OrvaneSwitchableTypeMember, "Choice", reinterpret_cast<Def*>(g_choiceTable)),
    Member(OrvaneReferenceMember, "FirstBone", nullptr), Member(OrvaneInt8Member, "Small"), End()};

inline orvane_transform Placement(float x) {
    orvane_transform t = {};
    t.Flags = OrvaneTransformHasPosition;
    t.Position[0] = x;
    t.Position[1] = -x;
    t.Orientation[3] = 1;
    for (int i = 0; i < 3; ++i)
        t.ScaleShear[i][i] = 1;
    return t;
}

// A file info with every standard content type, built from plain storage.
struct Content {
    Content() {
        g_choiceTable[0] = OrvaneExporterInfoType;
        g_choiceTable[1] = OrvaneArtToolInfoType;
        g_choiceType[1].ReferenceType = OrvaneBoneType;

        art = {name("Modeler"), 3, 1, 100.0f, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
        exporter = {name("Exporter"), 2, 6, 0, 1234};

        pixels.assign(64, 0);
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = uint8_t(i * 7);
        mips[0] = {16, 64, pixels.data()};
        mips[1] = {8, 16, pixels.data() + 48};
        image = {2, mips};
        texture = {name("wood.tga"),
                   0,
                   4,
                   4,
                   1,
                   0,
                   {4, {0, 8, 16, 24}, {8, 8, 8, 8}},
                   1,
                   &image,
                   {g_choiceType, &textureChoice}};
        // The first bone is met here, as a single object, before its skeleton's bone array.
        textureChoice = {1, &art, bones, -5};

        materials[0] = {name("Detail"), 0, nullptr, &texture, {nullptr, nullptr}};
        maps[0] = {name("Diffuse"), &materials[0]};
        materials[1] = {name("Base"), 1, maps, &texture, {nullptr, nullptr}};
        materialPointers[0] = &materials[0];
        materialPointers[1] = &materials[1];

        for (int i = 0; i < 3; ++i) {
            bones[i] = {};
            bones[i].Name = name(i == 0 ? "Root" : i == 1 ? "Spine" : "Head");
            bones[i].ParentIndex = i - 1;
            bones[i].Transform = Placement(float(i));
            for (int r = 0; r < 4; ++r)
                bones[i].InverseWorldTransform[r][r] = 1.0f + float(i);
        }
        bones[2].LightInfo = &light;
        bones[1].CameraInfo = &camera;
        light = {{OrvaneExporterInfoType, &exporter}};  // shared with the file info's
        camera = {{nullptr, nullptr}};
        skeleton = {name("Skeleton"), 3, bones};
        skeletonPointer = &skeleton;

        for (int i = 0; i < 4; ++i)
            vertices[i] = {{float(i), float(i) * 0.5f, -1.0f},
                           {uint8_t(i), 1, 2, 3},
                           {255, 0, 0, 0},
                           {int16_t(-i), int16_t(1000 + i)}};
        componentNames[0] = name("Position");
        componentNames[1] = name("BoneIndices");
        annotationIndices[0] = 3;
        annotationIndices[1] = 1;
        annotations[0] = 0.5f;
        annotations[1] = 0.25f;
        annotationSet = {name("Weights"), g_realType, 2, annotations, 1, 2, annotationIndices};
        vertexData = {g_vertexType, 4, vertices, 2, componentNames, 1, &annotationSet};
        vertexDataPointer = &vertexData;

        groups[0] = {0, 0, 2};
        for (int i = 0; i < 6; ++i) {
            indices[i] = i % 4;
            indices16[i] = int16_t(0x0102 * (i + 1));
        }
        topology = {};
        topology.GroupCount = 1;
        topology.Groups = groups;
        topology.IndexCount = 6;
        topology.Indices = indices;
        topology.Index16Count = 6;
        topology.Indices16 = indices16;
        topologyPointer = &topology;

        morph = {name("Smile"), &vertexData};
        materialBinding = {&materials[1]};
        boneBinding = {name("Head"), {-1, -1, -1}, {1, 1, 1}, 2, indices};
        mesh = {name("Body"), &vertexData,       1, &morph, &topology, 1, &materialBinding, 1,
                &boneBinding, {nullptr, nullptr}};
        meshPointer = &mesh;
        meshBinding = {&mesh};  // the mesh again, through the model
        model = {name("Hero"), &skeleton, Placement(3), 1, &meshBinding};
        modelPointer = &model;

        for (int i = 0; i < 4; ++i) {
            knots[i] = float(i);
            controls[i] = float(i) * 2;
        }
        curves[0] = {1, 3, 0x1234, 4, knots, 4, controls};
        curves[1] = {2, 0, 0xFFFE, 1, knots, 4, controls};  // shares the knots
        vectorTrack = {name("Blink"), 1, {{g_curveType, &curves[0]}}};
        transformTracks[0] = {name("Root"),
                              {{g_curveType, &curves[0]}},
                              {{g_curveType, &curves[1]}},
                              {{nullptr, nullptr}}};
        transformTracks[1] = {name("Spine"),
                              {{g_curveType, &curves[1]}},
                              {{nullptr, nullptr}},
                              {{g_curveType, &curves[0]}}};
        lodErrors[0] = 0.01f;
        lodErrors[1] = ORVANE_UNBOUNDED_REAL32;
        entries[0] = {0.0f, name("start")};
        entries[1] = {1.0f, name("Spine")};  // equal text to a bone's name
        textTrack = {name("Events"), 2, entries};
        loop = {1.0f, 0.5f, 0.25f, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
        trackGroup = {};
        trackGroup.Name = name("Walk");
        trackGroup.VectorTrackCount = 1;
        trackGroup.VectorTracks = &vectorTrack;
        trackGroup.TransformTrackCount = 2;
        trackGroup.TransformTracks = transformTracks;
        trackGroup.TransformLODErrorCount = 2;
        trackGroup.TransformLODErrors = lodErrors;
        trackGroup.TextTrackCount = 1;
        trackGroup.TextTracks = &textTrack;
        trackGroup.InitialPlacement = Placement(1);
        trackGroup.AccumulationFlags = 3;
        trackGroup.PeriodicLoop = &loop;
        trackGroup.RootMotion = &transformTracks[0];
        trackGroupPointer = &trackGroup;
        animation = {name("Walk"), 2.0f, 1.0f / 30, 1.0f, 1, &trackGroupPointer};
        animationPointer = &animation;

        // Extended data from the variant builder, with a reference to a shared object.
        strings = OrvaneNewStringTable();
        orvane_variant_builder* v = OrvaneBeginVariant(strings);
        OrvaneAddScalarMember(v, "Scale", 2.5f);
        OrvaneAddIntegerMember(v, "Revision", 7);
        OrvaneAddStringMember(v, "Author", "Someone");
        OrvaneAddReferenceMember(v, "Exporter", OrvaneExporterInfoType, &exporter);
        OrvaneAddDynamicArrayMember(v, "Weights", 2, OrvaneReal32Type, annotations);
        EXPECT_TRUE(OrvaneEndVariant(v, &extendedType, &extendedObject));

        info = {};
        info.ArtToolInfo = &art;
        info.ExporterInfo = &exporter;
        info.FromFileName = name("scene.max");
        texturePointer = &texture;
        info.TextureCount = 1;
        info.Textures = &texturePointer;
        info.MaterialCount = 2;
        info.Materials = materialPointers;
        info.SkeletonCount = 1;
        info.Skeletons = &skeletonPointer;
        info.VertexDataCount = 1;
        info.VertexDatas = &vertexDataPointer;
        info.TriTopologyCount = 1;
        info.TriTopologies = &topologyPointer;
        info.MeshCount = 1;
        info.Meshes = &meshPointer;
        info.ModelCount = 1;
        info.Models = &modelPointer;
        info.TrackGroupCount = 1;
        info.TrackGroups = &trackGroupPointer;
        info.AnimationCount = 1;
        info.Animations = &animationPointer;
        info.ExtendedData = {extendedType, extendedObject};
    }
    ~Content() {
        OrvaneFreeBuilderResult(extendedType);
        OrvaneFreeStringTable(strings);
    }
    Content(const Content&) = delete;
    Content& operator=(const Content&) = delete;

    char* name(const char* text) {
        names.push_back(std::make_unique<std::string>(text));
        return names.back()->data();
    }

    std::vector<std::unique_ptr<std::string>> names;
    orvane_art_tool_info art;
    orvane_exporter_info exporter;
    std::vector<uint8_t> pixels;
    orvane_texture_mip_level mips[2];
    orvane_texture_image image;
    orvane_texture texture;
    orvane_texture* texturePointer;
    Choice textureChoice;
    orvane_material materials[2];
    orvane_material* materialPointers[2];
    orvane_material_map maps[1];
    orvane_bone bones[3];
    orvane_light_info light;
    orvane_camera_info camera;
    orvane_skeleton skeleton;
    orvane_skeleton* skeletonPointer;
    Vertex vertices[4];
    char* componentNames[2];
    int32_t annotationIndices[2];
    float annotations[2];
    orvane_vertex_annotation_set annotationSet;
    orvane_vertex_data vertexData;
    orvane_vertex_data* vertexDataPointer;
    orvane_tri_material_group groups[1];
    int32_t indices[6];
    int16_t indices16[6];
    orvane_tri_topology topology;
    orvane_tri_topology* topologyPointer;
    orvane_morph_target morph;
    orvane_material_binding materialBinding;
    orvane_bone_binding boneBinding;
    orvane_mesh mesh;
    orvane_mesh* meshPointer;
    orvane_model_mesh_binding meshBinding;
    orvane_model model;
    orvane_model* modelPointer;
    float knots[4];
    float controls[4];
    CurveData curves[2];
    orvane_vector_track vectorTrack;
    orvane_transform_track transformTracks[2];
    float lodErrors[2];
    orvane_text_track_entry entries[2];
    orvane_text_track textTrack;
    orvane_periodic_loop loop;
    orvane_track_group trackGroup;
    orvane_track_group* trackGroupPointer;
    orvane_animation animation;
    orvane_animation* animationPointer;
    orvane_string_table* strings;
    Def* extendedType = nullptr;
    void* extendedObject = nullptr;
    orvane_file_info info;
};

}  // namespace orvane_test

#endif  // ORVANE_TESTS_FILE_BUILDER_CONTENT_H

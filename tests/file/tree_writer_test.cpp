// The data tree writer: trees holding every standard content type, with shared objects,
// variants, extended data, type tables, strings and mixed-width objects, written in both byte
// orders and with each codec, read back with the format primitives and compared member by
// member through the type descriptions; sections, flags, the string callback and the item map.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "file/file_builder_support.h"
#include "file/orvane_file_builder.h"
#include "orvane/file.h"
#include "orvane/types.h"
#include "support/log_capture.h"

namespace {

using orvane_test::LoadedFile;
using orvane_test::LogCapture;
using orvane_test::TempName;
using orvane_test::TreeComparer;

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

Def g_vertexType[] = {Member(OrvaneReal32Member, "Position", nullptr, 3),
                      Member(OrvaneUInt8Member, "BoneIndices", nullptr, 4),
                      Member(OrvaneNormalUInt8Member, "BoneWeights", nullptr, 4),
                      Member(OrvaneInt16Member, "Extra", nullptr, 2), End()};
Def g_realType[] = {Member(OrvaneReal32Member, "Real32"), End()};
Def g_curveType[] = {Member(OrvaneUInt8Member, "Format"),
                     Member(OrvaneUInt8Member, "Degree"),
                     Member(OrvaneUInt16Member, "Scale"),
                     Member(OrvaneReferenceToArrayMember, "Knots", g_realType),
                     Member(OrvaneReferenceToArrayMember, "Controls", g_realType), End()};
Def* g_choiceTable[3] = {nullptr, nullptr, nullptr};
Def g_choiceType[] = {Member(OrvaneSwitchableTypeMember, "Choice",
                             reinterpret_cast<Def*>(g_choiceTable)),
                      Member(OrvaneReferenceMember, "FirstBone", nullptr),
                      Member(OrvaneInt8Member, "Small"), End()};

orvane_transform Placement(float x) {
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
        texture = {name("wood.tga"), 0, 4, 4, 1, 0, {4, {0, 8, 16, 24}, {8, 8, 8, 8}}, 1, &image,
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
        mesh = {name("Body"), &vertexData, 1, &morph, &topology, 1, &materialBinding, 1,
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

struct Case {
    int32_t compression;
    orvane_file_byte_order order;
};

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
    static const char* codecs[] = {"None", "Pelma0", "Pelma1"};
    return std::string(codecs[info.param.compression]) +
           (info.param.order == OrvaneBigEndianByteOrder ? "BigEndian" : "LittleEndian");
}

class TreeRoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(TreeRoundTrip, EveryStandardTypeComesBackMemberByMember) {
    LogCapture log;
    Content content;
    const std::string path = TempName("tree_" + CaseName({GetParam(), 0}) + ".ovn");
    orvane_file_data_tree_writer* writer = OrvaneBeginFileDataTreeWriting(
        OrvaneFileInfoType, &content.info, OrvaneStandardMainSection, OrvaneStandardMainSection);
    ASSERT_NE(writer, nullptr);
    OrvaneSetFileSectionForObjectsOfType(writer, OrvaneStringType, OrvaneStandardDiscardableSection);
    OrvaneSetFileSectionForObjectsOfType(writer, OrvaneVertexDataType,
                                         OrvaneStandardDeformableVertexSection);
    OrvaneSetFileSectionForObject(writer, content.pixels.data(), OrvaneStandardTextureSection);
    orvane_file_builder* builder = OrvaneBeginFile(OrvaneStandardSectionCount, 0x80000016u,
                                                   OrvaneGetTemporaryDirectory(), "tree");
    ASSERT_NE(builder, nullptr);
    OrvaneSetFileByteOrder(builder, GetParam().order);
    for (int32_t s = 0; s < OrvaneStandardSectionCount; ++s)
        OrvaneSetFileSectionFormat(builder, s, GetParam().compression, s == 3 ? 16 : 4);
    ASSERT_TRUE(OrvaneWriteDataTreeToFileBuilder(writer, builder));
    ASSERT_TRUE(OrvaneEndFile(builder, path.c_str()));
    OrvaneEndFileDataTreeWriting(writer);
    EXPECT_EQ(log.errors(), 0u) << (log.messages().empty() ? "" : log.messages()[0].text);

    LoadedFile f;
    orvane_test::LoadFile(path, &f);
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(f.reversed, GetParam().order == OrvaneBigEndianByteOrder);
    EXPECT_EQ(f.header->CRC, f.CRC());
    for (uint32_t s = 0; s < f.header->SectionCount; ++s)
        EXPECT_EQ(f.table[s].Compression,
                  f.table[s].ExpandedSize ? uint32_t(GetParam().compression) : f.table[s].Compression);
    TreeComparer compare(f);
    compare.Type(OrvaneFileInfoType, static_cast<const uint8_t*>(f.rootType));
    compare.Object(OrvaneFileInfoType, reinterpret_cast<const uint8_t*>(&content.info),
                   static_cast<const uint8_t*>(f.rootObject));
    EXPECT_GE(compare.objectCount(), 20);
    // And through the library's own loader, into native records.
    orvane_test::CompareWithLoader(path, OrvaneFileInfoType, &content.info);

    // Sections as chosen: the vertex data by its type, the pixels by their address (the array
    // follows its object), strings in the discardable section, everything else in main.
    uint32_t available = 0;
    auto sectionOf = [&](const void* address) {
        for (uint32_t s = 0; s < f.header->SectionCount; ++s) {
            const uint8_t* base = f.memory[s].data();
            if (!f.memory[s].empty() && address >= base && address < base + f.table[s].ExpandedSize)
                return int32_t(s);
        }
        return -1;
    };
    const uint8_t* root = static_cast<const uint8_t*>(f.rootObject);
    EXPECT_EQ(sectionOf(root), 0);
    EXPECT_EQ(sectionOf(f.Slot(root + 8)), OrvaneStandardDiscardableSection);  // FromFileName
    const uint8_t* vertexDatas = static_cast<const uint8_t*>(f.Slot(root + 40, &available));
    const uint8_t* vertexData = static_cast<const uint8_t*>(f.Slot(vertexDatas));
    EXPECT_EQ(sectionOf(vertexData), OrvaneStandardDeformableVertexSection);
    // Its vertices are an array of a mixed type: in the 8-bit part, 16-byte aligned there.
    const uint8_t* vertices = static_cast<const uint8_t*>(f.Slot(vertexData + 8));
    EXPECT_EQ(sectionOf(vertices), OrvaneStandardDeformableVertexSection);
    EXPECT_GE(uint32_t(vertices - f.memory[3].data()), f.table[3].Start8Bit);
    EXPECT_EQ(f.table[3].Alignment, 16u);
    EXPECT_GT(f.table[OrvaneStandardTextureSection].ExpandedSize, 0u);
    EXPECT_EQ(f.table[OrvaneStandardTextureSection].ExpandedSize, 64u);
    EXPECT_EQ(f.table[1].ExpandedSize + f.table[2].ExpandedSize + f.table[7].ExpandedSize, 0u);
    std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(CodecsAndByteOrders, TreeRoundTrip,
                         ::testing::Values(Case{0, OrvaneLittleEndianByteOrder},
                                           Case{0, OrvaneBigEndianByteOrder}),
                         CaseName);

// Writes the content into a one-section file and loads it.
struct Written {
    explicit Written(Content& content, uint32_t flags = 0,
                     orvane_file_writer_string_callback callback = nullptr, void* user = nullptr,
                     int32_t stringSection = 0) {
        path = TempName("written.ovn");
        writer = OrvaneBeginFileDataTreeWriting(OrvaneFileInfoType, &content.info, 0, 0);
        OrvaneSetFileDataTreeFlags(writer, flags);
        OrvaneSetFileWriterStringCallback(writer, callback, user);
        OrvaneSetFileSectionForObjectsOfType(writer, OrvaneStringType, stringSection);
        ok = OrvaneWriteDataTreeToFile(writer, 0x80000016u, path.c_str(), 3);
        if (ok) orvane_test::LoadFile(path, &file);
    }
    ~Written() {
        OrvaneEndFileDataTreeWriting(writer);
        std::remove(path.c_str());
    }
    std::string path;
    orvane_file_data_tree_writer* writer;
    bool ok;
    LoadedFile file;
};

TEST(FileDataTreeWriter, SharedObjectsAndEqualStringsAreWrittenOnce) {
    Content content;
    Written w(content, 0, nullptr, nullptr, 2);
    ASSERT_TRUE(w.ok && w.file.ok);
    const LoadedFile& f = w.file;
    const uint8_t* root = static_cast<const uint8_t*>(f.rootObject);
    // The mesh through FileInfo.Meshes and through the model's mesh binding.
    const void* mesh = f.Slot(f.Slot(root + 56));
    const uint8_t* model = static_cast<const uint8_t*>(f.Slot(f.Slot(root + 64)));
    const uint8_t* binding = static_cast<const uint8_t*>(f.Slot(model + 4 + 4 + 68 + 4));
    EXPECT_EQ(f.Slot(binding), mesh);
    // "Spine" is a bone name and a text track entry: one chunk; section 2 holds only strings.
    std::string strings(f.memory[2].begin(), f.memory[2].end());
    size_t first = strings.find("Spine");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(strings.find("Spine", first + 1), std::string::npos);
    EXPECT_NE(strings.find("Someone"), std::string::npos);
    TreeComparer compare(f);
    compare.Object(OrvaneFileInfoType, reinterpret_cast<const uint8_t*>(&content.info),
                   static_cast<const uint8_t*>(f.rootObject));
}

TEST(FileDataTreeWriter, AnArrayIsWrittenWholeAfterItsFirstElementWasWrittenAlone) {
    Content content;
    Written w(content);
    ASSERT_TRUE(w.ok && w.file.ok);
    const LoadedFile& f = w.file;
    const uint8_t* root = static_cast<const uint8_t*>(f.rootObject);
    const uint8_t* skeleton = static_cast<const uint8_t*>(f.Slot(f.Slot(root + 32)));
    ASSERT_NE(skeleton, nullptr);
    uint32_t available = 0;
    const uint8_t* bones = static_cast<const uint8_t*>(f.Slot(skeleton + 8, &available));
    const uint32_t boneSize = 4 + 4 + 68 + 64 + 4 + 4 + 8;
    ASSERT_GE(available, 3 * boneSize);
    EXPECT_STREQ(static_cast<const char*>(f.Slot(bones + 2 * boneSize)), "Head");
    int32_t parent;
    std::memcpy(&parent, bones + 2 * boneSize + 4, 4);
    EXPECT_EQ(parent, 1);
}

TEST(FileDataTreeWriter, FlagsStoreEmptyTypesForTheRootAndForVariants) {
    Content content;
    Written w(content, OrvaneWriteRootTypeAsEmpty | OrvaneWriteVariantTypesAsEmpty);
    ASSERT_TRUE(w.ok && w.file.ok);
    const LoadedFile& f = w.file;
    uint32_t kind;
    std::memcpy(&kind, f.rootType, 4);
    EXPECT_EQ(kind, uint32_t(OrvaneEndMember));
    TreeComparer compare(f);
    compare.typesAsEmptyForVariants = true;
    compare.Object(OrvaneFileInfoType, reinterpret_cast<const uint8_t*>(&content.info),
                   static_cast<const uint8_t*>(f.rootObject));
}

std::map<const char*, uint32_t>* g_ids = nullptr;

uint32_t StringId(void* user, const char* text) {
    auto* ids = static_cast<std::map<std::string, uint32_t>*>(user);
    uint32_t id = ids->emplace(text ? text : "", uint32_t(ids->size() + 1)).first->second;
    (*g_ids)[text] = id;
    return id;
}

TEST(FileDataTreeWriter, AStringCallbackReplacesStringsAndLeavesTheTreeUntouched) {
    Content content;
    std::map<std::string, uint32_t> ids;
    std::map<const char*, uint32_t> byPointer;
    g_ids = &byPointer;
    Written w(content, 0, &StringId, &ids, 2);
    ASSERT_TRUE(w.ok && w.file.ok);
    const LoadedFile& f = w.file;
    EXPECT_EQ(f.table[2].ExpandedSize, 0u);  // no string chunks at all
    TreeComparer compare(f);
    compare.callbackValues = &byPointer;
    compare.Type(OrvaneFileInfoType, static_cast<const uint8_t*>(f.rootType));
    // The track group's flag bit 2 is cleared in the file only.
    EXPECT_EQ(content.trackGroup.AccumulationFlags, 3);
    EXPECT_STREQ(content.bones[1].Name, "Spine");
    EXPECT_STREQ(OrvaneFileInfoType[0].Name, "ArtToolInfo");
    const uint8_t* root = static_cast<const uint8_t*>(f.rootObject);
    const uint8_t* group = static_cast<const uint8_t*>(f.Slot(f.Slot(root + 72)));
    ASSERT_NE(group, nullptr);
    int32_t flags;
    std::memcpy(&flags, group + 4 + 8 + 8 + 8 + 8 + 68, 4);
    EXPECT_EQ(flags, 1);
    // Everything else is as in memory, strings as their ids.
    content.trackGroup.AccumulationFlags = 1;
    compare.Object(OrvaneFileInfoType, reinterpret_cast<const uint8_t*>(&content.info),
                   static_cast<const uint8_t*>(f.rootObject));
    g_ids = nullptr;
}

TEST(FileDataTreeWriter, MixedObjectsGetAMarshallingFixupAndPure32BitOnesNone) {
    Content content;
    Written w(content);
    ASSERT_TRUE(w.ok && w.file.ok);
    const LoadedFile& f = w.file;
    auto fixups = f.MarshallingFixups(0);
    // The vertex array (count 4), two curves, the extended choice object and the bone array
    // (the bones hold only 32-bit members and pointers: none).
    std::map<uint32_t, uint32_t> counts;
    for (auto& m : fixups)
        ++counts[m.Count];
    EXPECT_EQ(counts[4], 1u);
    EXPECT_EQ(counts[1], 3u);
    EXPECT_EQ(fixups.size(), 4u);
    for (auto& m : fixups) {
        EXPECT_GE(m.ObjectOffset, f.table[0].Start8Bit);
        EXPECT_LT(m.Type.Offset, f.table[0].Start16Bit);
    }
}

TEST(FileDataTreeWriter, WritingTwiceWritesEverythingTwice) {
    Content content;
    orvane_file_data_tree_writer* writer =
        OrvaneBeginFileDataTreeWriting(OrvaneFileInfoType, &content.info, 0, 0);
    ASSERT_NE(writer, nullptr);
    std::string paths[2] = {TempName("twice0.ovn"), TempName("twice1.ovn")};
    for (auto& path : paths) {
        orvane_file_builder* b = OrvaneBeginFile(1, 0x80000016u, OrvaneGetTemporaryDirectory(), "x");
        ASSERT_TRUE(OrvaneWriteDataTreeToFileBuilder(writer, b));
        ASSERT_TRUE(OrvaneEndFile(b, path.c_str()));
    }
    OrvaneEndFileDataTreeWriting(writer);
    EXPECT_EQ(orvane_test::ReadBytes(paths[0]), orvane_test::ReadBytes(paths[1]));
    for (auto& path : paths) {
        LoadedFile f;
        orvane_test::LoadFile(path, &f);
        ASSERT_TRUE(f.ok);
        TreeComparer compare(f);
        compare.Object(OrvaneFileInfoType, reinterpret_cast<const uint8_t*>(&content.info),
                       static_cast<const uint8_t*>(f.rootObject));
        std::remove(path.c_str());
    }
}

// A root of 140000 distinct objects: the item table grows past its traditional 131072.
TEST(FileDataTreeWriter, TheItemTableGrowsBeyond131072Items) {
    static Def root[] = {Member(OrvaneArrayOfReferencesMember, "Values", nullptr), End()};
    root[0].ReferenceType = OrvaneInt32Type;
    const int32_t n = 140000;
    std::vector<int32_t> values(n);
    std::vector<int32_t*> pointers(n);
    for (int32_t i = 0; i < n; ++i) {
        values[i] = i * 3;
        pointers[i] = &values[i];
    }
#pragma pack(push, 4)
    struct {
        int32_t count;
        int32_t** pointers;
    } object = {n, pointers.data()};
#pragma pack(pop)
    orvane_file_data_tree_writer* writer = OrvaneBeginFileDataTreeWriting(root, &object, 0, 0);
    std::string path = TempName("many.ovn");
    ASSERT_TRUE(OrvaneWriteDataTreeToFile(writer, 0, path.c_str(), 1));
    EXPECT_GT(orvane::GetFileDataTreeWriterItemCount(writer), n);
    OrvaneEndFileDataTreeWriting(writer);
    LoadedFile f;
    orvane_test::LoadFile(path, &f);
    ASSERT_TRUE(f.ok);
    TreeComparer compare(f);
    compare.Object(root, reinterpret_cast<const uint8_t*>(&object),
                   static_cast<const uint8_t*>(f.rootObject));
    EXPECT_EQ(compare.objectCount(), n + 1);
    std::remove(path.c_str());
}

TEST(FileDataTreeWriter, FailuresAreReported) {
    LogCapture log;
    EXPECT_FALSE(OrvaneWriteDataTreeToFileBuilder(nullptr, nullptr));
    OrvaneEndFileDataTreeWriting(nullptr);
    Content content;
    orvane_file_data_tree_writer* writer =
        OrvaneBeginFileDataTreeWriting(OrvaneFileInfoType, &content.info, 0, 0);
    EXPECT_FALSE(OrvaneWriteDataTreeToFile(writer, 0, "/no/such/dir/file.ovn", 1));
    EXPECT_TRUE(log.Contains("Unable to write buffer to file"));
    // A section that the builder lacks is reported by the builder.
    log.Clear();
    OrvaneEndFileDataTreeWriting(writer);
    writer = OrvaneBeginFileDataTreeWriting(OrvaneFileInfoType, &content.info, 0, 0);
    OrvaneSetFileSectionForObjectsOfType(writer, OrvaneStringType, 5);
    std::string path = TempName("ranges.ovn");
    OrvaneWriteDataTreeToFile(writer, 0, path.c_str(), 1);
    EXPECT_TRUE(log.Contains("InSectionIndex 5 is out of range [0, 1)"));
    OrvaneEndFileDataTreeWriting(writer);
    std::remove(path.c_str());
}

}  // namespace

// The example content, built through the public interface.
#include "testing/example_content.h"

#include <cmath>
#include <cstring>

#include "orvane/core.h"
#include "orvane/curve.h"
#include "orvane/curve_builder.h"

namespace orvane_example {

orvane_data_type_definition g_vertexType[] = {
    {OrvaneReal32Member, "Position", nullptr, 3, {0, 0, 0}, 0},
    {OrvaneReal32Member, "Normal", nullptr, 3, {0, 0, 0}, 0},
    {OrvaneUInt8Member, "BoneIndices", nullptr, 4, {0, 0, 0}, 0},
    {OrvaneNormalUInt8Member, "BoneWeights", nullptr, 4, {0, 0, 0}, 0},
    {OrvaneEndMember, nullptr, nullptr, 0, {0, 0, 0}, 0}};

orvane_data_type_definition g_realType[] = {
    {OrvaneReal32Member, "Real32", nullptr, 0, {0, 0, 0}, 0},
    {OrvaneEndMember, nullptr, nullptr, 0, {0, 0, 0}, 0}};

namespace {
orvane_data_type_definition* g_choiceTable[3] = {nullptr, nullptr, nullptr};
}  // namespace

orvane_data_type_definition g_choiceType[] = {
    {OrvaneSwitchableTypeMember,
     "Choice",
     reinterpret_cast<orvane_data_type_definition*>(g_choiceTable),
     0,
     {0, 0, 0},
     0},
    {OrvaneReferenceMember, "FirstBone", nullptr, 0, {0, 0, 0}, 0},
    {OrvaneInt8Member, "Small", nullptr, 0, {0, 0, 0}, 0},
    {OrvaneEndMember, nullptr, nullptr, 0, {0, 0, 0}, 0}};

namespace {

orvane_transform Identity() {
    orvane_transform t = {};
    t.Orientation[3] = 1;
    for (int i = 0; i < 3; ++i)
        t.ScaleShear[i][i] = 1;
    return t;
}

orvane_transform Translation(float x, float y, float z) {
    orvane_transform t = Identity();
    t.Flags = OrvaneTransformHasPosition;
    t.Position[0] = x;
    t.Position[1] = y;
    t.Position[2] = z;
    return t;
}

const char* const kFirstBoneNames[4] = {"Hips", "Spine", "Neck", "Head"};
const int32_t kBox[36] = {0, 2, 1, 1, 2, 3, 4, 5, 6, 5, 7, 6, 0, 1, 4, 1, 5, 4,
                          2, 6, 3, 3, 6, 7, 0, 4, 2, 2, 4, 6, 1, 3, 5, 3, 7, 5};

// Key values of the curves: a rising, swaying position and a nod about x.
const float kKnots[4] = {0, 0.5f, 1, 1.5f};
const float kPositions[12] = {0, 1, 0, 0, 1.1f, 0.2f, 0, 1, 0.4f, 0, 0.9f, 0.6f};
const float kRotations[16] = {0,    0, 0, 1,     0.1f, 0, 0, 0.995f,
                              0.2f, 0, 0, 0.98f, 0.1f, 0, 0, 0.995f};
const float kScaleShear[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
const float kLean[4] = {0.05f, 0, 0, 0.9987f};
const float kStretch[36] = {1,    0, 0, 0, 1,    0, 0, 0, 1, 1.1f, 0, 0, 0, 0.9f, 0, 0, 0, 1,
                            1.2f, 0, 0, 0, 0.8f, 0, 0, 0, 1, 1,    0, 0, 0, 1,    0, 0, 0, 1};

}  // namespace

orvane_curve2 ExampleContent::Curve(orvane_data_type_definition* format, int32_t degree,
                                    int32_t dimension, int32_t knotCount, const float* knots,
                                    const float* controls) {
    const orvane_curve2 none = {{nullptr, nullptr}};
    orvane_curve_builder* builder = OrvaneBeginCurve(format, degree, dimension, knotCount);
    if (builder == nullptr) {
        ok_ = false;
        return none;
    }
    OrvanePushCurveKnotArray(builder, knots);
    OrvanePushCurveControlArray(builder, controls);
    orvane_curve2* curve = OrvaneEndCurve(builder);
    if (curve == nullptr) {
        ok_ = false;
        return none;
    }
    curves.push_back(curve);
    return *curve;
}

ExampleContent::ExampleContent(const ExampleSize& size) : size_(size) {
    ok_ = size.vertices >= 8 && size.indices >= 0 && size.bones >= 4 && size.tracks >= 4;
    if (!ok_) return;
    art = {const_cast<char*>("Example Modeler"),
           4,
           2,
           1.0f,
           {0, 0, 0},
           {1, 0, 0},
           {0, 1, 0},
           {0, 0, 1}};
    exporter = {const_cast<char*>("orvane example"), 2, 6, 0, 13};

    boneNames.resize(size_t(size.bones));
    bones.resize(size_t(size.bones));
    for (int32_t i = 0; i < size.bones; ++i) {
        boneNames[size_t(i)] = i < 4 ? kFirstBoneNames[i] : "Bone" + std::to_string(i);
        orvane_bone& bone = bones[size_t(i)];
        std::memset(&bone, 0, sizeof bone);
        bone.Name = boneNames[size_t(i)].data();
        bone.ParentIndex = i - 1;
        bone.Transform = i ? Translation(0, 0.25f, 0) : Translation(0, 1, 0);
        for (int r = 0; r < 4; ++r)
            bone.InverseWorldTransform[r][r] = 1;
        bone.InverseWorldTransform[3][1] = -(1 + 0.25f * float(i));
    }
    light = {{OrvaneExporterInfoType, &exporter}};  // shared with the file info's
    camera = {{nullptr, nullptr}};
    bones[2].LightInfo = &light;
    bones[1].CameraInfo = &camera;
    skeleton = {const_cast<char*>("Biped"), size.bones, bones.data()};
    skeletonPointer_ = &skeleton;

    // Boxes side by side: corner i & 7 of box i / 8.
    vertices.resize(size_t(size.vertices));
    const float n = 1.0f / std::sqrt(3.0f);
    for (int32_t i = 0; i < size.vertices; ++i) {
        const int32_t c = i & 7;
        const float x = ((c & 1) ? 0.5f : -0.5f) + float(i / 8), y = (c & 2) ? 2.0f : 0.0f,
                    z = (c & 4) ? 0.5f : -0.5f;
        vertices[size_t(i)] = {{x, y, z},
                               {(c & 1) ? n : -n, (c & 2) ? n : -n, (c & 4) ? n : -n},
                               {uint8_t((c & 2) ? 3 : 0), uint8_t(i % size.bones), 0, 0},
                               {200, 55, 0, 0}};
    }
    std::memset(&vertexData_, 0, sizeof vertexData_);
    vertexData_.VertexType = g_vertexType;
    vertexData_.VertexCount = size.vertices;
    vertexData_.Vertices = vertices.data();
    componentNames_[0] = const_cast<char*>("Position");
    componentNames_[1] = const_cast<char*>("BoneIndices");
    vertexData_.VertexComponentNameCount = 2;
    vertexData_.VertexComponentNames = componentNames_;
    annotationSet_ = {
        const_cast<char*>("Weights"), g_realType, 2, annotations_, 1, 2, annotationIndices_};
    vertexData_.VertexAnnotationSetCount = 1;
    vertexData_.VertexAnnotationSets = &annotationSet_;
    vertexDataPointer_ = &vertexData_;

    indices.resize(size_t(size.indices));
    const int32_t boxes = size.vertices / 8;
    for (int32_t i = 0; i < size.indices; ++i)
        indices[size_t(i)] = kBox[i % 36] + 8 * ((i / 36) % boxes);
    group_ = {0, 0, size.indices / 3};
    std::memset(&topology_, 0, sizeof topology_);
    topology_.GroupCount = 1;
    topology_.Groups = &group_;
    topology_.IndexCount = size.indices;
    topology_.Indices = indices.data();
    topology_.Index16Count = 6;
    topology_.Indices16 = indices16;
    topologyPointer_ = &topology_;

    std::memset(&mesh, 0, sizeof mesh);
    mesh.Name = const_cast<char*>("Box");
    mesh.PrimaryVertexData = &vertexData_;
    mesh.PrimaryTopology = &topology_;
    morph_ = {const_cast<char*>("Smile"), &vertexData_};
    mesh.MorphTargetCount = 1;
    mesh.MorphTargets = &morph_;
    meshPointer_ = &mesh;
    meshBinding_ = {&mesh};
    model = {const_cast<char*>("Example"), &skeleton, Identity(), 1, &meshBinding_};
    modelPointer_ = &model;

    // The first tracks hold curves in many formats: full-precision and quantised keys,
    // normalised quaternions, constants, keyframes and the identity; the others a float
    // position each.
    const orvane_curve2 none = {{nullptr, nullptr}};
    tracks.resize(size_t(size.tracks));
    for (orvane_transform_track& track : tracks)
        std::memset(&track, 0, sizeof track);
    tracks[0] = {boneNames[0].data(),
                 Curve(OrvaneCurveDataDaK32fC32fType, 3, 3, 4, kKnots, kPositions),
                 Curve(OrvaneCurveDataD4nK16uC15uType, 3, 4, 4, kKnots, kRotations),
                 Curve(OrvaneCurveDataDaIdentityType, 0, 9, 0, nullptr, nullptr)};
    tracks[1] = {boneNames[1].data(),
                 Curve(OrvaneCurveDataD3Constant32fType, 0, 3, 1, kKnots, kPositions),
                 Curve(OrvaneCurveDataD4nK8uC7uType, 3, 4, 4, kKnots, kRotations),
                 Curve(OrvaneCurveDataD9I1K16uC16uType, 1, 9, 4, kKnots, kStretch)};
    tracks[2] = {boneNames[2].data(),
                 Curve(OrvaneCurveDataD3K16uC16uType, 3, 3, 4, kKnots, kPositions),
                 Curve(OrvaneCurveDataD4Constant32fType, 0, 4, 1, kKnots, kLean),
                 Curve(OrvaneCurveDataDaConstant32fType, 0, 9, 1, kKnots, kScaleShear)};
    tracks[3] = {boneNames[3].data(),
                 Curve(OrvaneCurveDataD3K8uC8uType, 3, 3, 4, kKnots, kPositions),
                 Curve(OrvaneCurveDataDaKeyframes32fType, 0, 4, 4, kKnots, kRotations), none};
    const float blink[2] = {0, 1};
    vectorTrack = {const_cast<char*>("Blink"), 1,
                   Curve(OrvaneCurveDataDaK32fC32fType, 1, 1, 2, kKnots, blink)};
    const bool firstBuilt = curves.size() == 12;
    for (int32_t i = 4; i < size.tracks; ++i) {
        tracks[size_t(i)].Name = boneNames[size_t(i % size.bones)].data();
        tracks[size_t(i)].PositionCurve =
            Curve(OrvaneCurveDataDaK32fC32fType, 3, 3, 4, kKnots, kPositions);
    }
    std::memset(&trackGroup, 0, sizeof trackGroup);
    trackGroup.Name = const_cast<char*>("Nod");
    trackGroup.TransformTrackCount = size.tracks;
    trackGroup.TransformTracks = tracks.data();
    trackGroup.InitialPlacement = Identity();
    trackGroup.VectorTrackCount = 1;
    trackGroup.VectorTracks = &vectorTrack;
    lodErrors[0] = 0.01f;
    lodErrors[1] = ORVANE_UNBOUNDED_REAL32;
    trackGroup.TransformLODErrorCount = 2;
    trackGroup.TransformLODErrors = lodErrors;
    entries[0] = {0.0f, const_cast<char*>("start")};
    entries[1] = {1.0f, const_cast<char*>("Spine")};  // equal text to a bone's name
    textTrack = {const_cast<char*>("Events"), 2, entries};
    trackGroup.TextTrackCount = 1;
    trackGroup.TextTracks = &textTrack;
    trackGroup.AccumulationFlags = 3;
    loop = {1.0f, 0.5f, 0.25f, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    trackGroup.PeriodicLoop = &loop;
    trackGroup.RootMotion = &tracks[0];
    trackGroupPointer_ = &trackGroup;
    animation = {const_cast<char*>("Nod"), 1.5f, 1.0f / 30, 1.0f, 1, &trackGroupPointer_};
    animationPointer_ = &animation;

    // A texture of two MIP levels whose extended data switches between two types and refers
    // to the first bone before the skeleton's bone array is reached.
    g_choiceTable[0] = OrvaneExporterInfoType;
    g_choiceTable[1] = OrvaneArtToolInfoType;
    g_choiceType[1].ReferenceType = OrvaneBoneType;
    pixels.resize(64);
    for (size_t i = 0; i < pixels.size(); ++i)
        pixels[i] = uint8_t(i * 7);
    mips_[0] = {16, 64, pixels.data()};
    mips_[1] = {8, 16, pixels.data() + 48};
    image_ = {2, mips_};
    textureChoice = {1, &art, bones.data(), -5};
    texture = {
        const_cast<char*>("wood.tga"), 0, 4, 4, 1, 0, {4, {0, 8, 16, 24}, {8, 8, 8, 8}}, 1, &image_,
        {g_choiceType, &textureChoice}};
    texturePointer_ = &texture;
    materials[0] = {const_cast<char*>("Detail"), 0, nullptr, &texture, {nullptr, nullptr}};
    maps[0] = {const_cast<char*>("Diffuse"), &materials[0]};
    materials[1] = {const_cast<char*>("Base"), 1, maps, &texture, {nullptr, nullptr}};
    materialPointers_[0] = &materials[0];
    materialPointers_[1] = &materials[1];
    materialBinding_ = {&materials[1]};
    boneBinding_ = {boneNames[3].data(), {-1, -1, -1}, {1, 1, 1}, 2, indices.data()};
    mesh.MaterialBindingCount = 1;
    mesh.MaterialBindings = &materialBinding_;
    mesh.BoneBindingCount = 1;
    mesh.BoneBindings = &boneBinding_;

    strings_ = OrvaneNewStringTable();
    orvane_variant_builder* v = OrvaneBeginVariant(strings_);
    const float tint[3] = {0.8f, 0.6f, 0.4f};
    OrvaneAddStringMember(v, "Comment", "built by the orvane example");
    OrvaneAddIntegerMember(v, "SceneRevision", 3);
    OrvaneAddScalarArrayMember(v, "Tint", 3, tint);
    OrvaneAddReferenceMember(v, "MainModel", OrvaneModelType, &model);
    OrvaneAddScalarMember(v, "Scale", 2.5f);
    OrvaneAddStringMember(v, "Author", "Someone");
    OrvaneAddReferenceMember(v, "Exporter", OrvaneExporterInfoType, &exporter);
    OrvaneAddDynamicArrayMember(v, "Weights", 2, OrvaneReal32Type, annotations_);
    const bool extended = OrvaneEndVariant(v, &extendedType, &extendedObject);

    std::memset(&info_, 0, sizeof info_);
    info_.ArtToolInfo = &art;
    info_.ExporterInfo = &exporter;
    info_.FromFileName = const_cast<char*>("example.scene");
    info_.TextureCount = 1;
    info_.Textures = &texturePointer_;
    info_.MaterialCount = 2;
    info_.Materials = materialPointers_;
    info_.SkeletonCount = 1;
    info_.Skeletons = &skeletonPointer_;
    info_.VertexDataCount = 1;
    info_.VertexDatas = &vertexDataPointer_;
    info_.TriTopologyCount = 1;
    info_.TriTopologies = &topologyPointer_;
    info_.MeshCount = 1;
    info_.Meshes = &meshPointer_;
    info_.ModelCount = 1;
    info_.Models = &modelPointer_;
    info_.TrackGroupCount = 1;
    info_.TrackGroups = &trackGroupPointer_;
    info_.AnimationCount = 1;
    info_.Animations = &animationPointer_;
    info_.ExtendedData = {extendedType, extendedObject};
    ok_ = ok_ && firstBuilt && extended && strings_ != nullptr;
}

ExampleContent::~ExampleContent() {
    for (orvane_curve2* curve : curves)
        OrvaneFreeCurve(curve);
    if (extendedType != nullptr) OrvaneFreeBuilderResult(extendedType);
    if (strings_ != nullptr) OrvaneFreeStringTable(strings_);
}

bool WriteExampleFile(ExampleContent& content, const char* path,
                      const ExampleFileOptions& options) {
    if (!content.ok()) return false;
    orvane_file_data_tree_writer* writer = OrvaneBeginFileDataTreeWriting(
        OrvaneFileInfoType, content.info(), OrvaneStandardMainSection, OrvaneStandardMainSection);
    orvane_file_builder* builder =
        OrvaneBeginFile(OrvaneStandardSectionCount, ORVANE_CURRENT_FILE_TYPE_TAG,
                        OrvaneGetTemporaryDirectory(), "orvane_example");
    if (writer == nullptr || builder == nullptr) {
        OrvaneEndFileDataTreeWriting(writer);
        OrvaneAbortFile(builder);
        return false;
    }
    OrvaneSetFileByteOrder(builder, options.order);
    OrvaneSetFileSectionForObjectsOfType(writer, OrvaneVertexDataType,
                                         OrvaneStandardDeformableVertexSection);
    OrvaneSetFileSectionForObject(writer, content.vertices.data(),
                                  OrvaneStandardDeformableVertexSection);
    OrvaneSetFileSectionForObject(writer, content.indices.data(),
                                  OrvaneStandardDeformableIndexSection);
    for (int32_t s = 0; s < OrvaneStandardSectionCount; ++s)
        OrvaneSetFileSectionFormat(builder, s, options.compression, 4);
    OrvaneSetFileCompressionLevel(builder, options.level);
    const bool written = OrvaneWriteDataTreeToFileBuilder(writer, builder);
    const bool ended = OrvaneEndFile(builder, path);
    OrvaneEndFileDataTreeWriting(writer);
    return written && ended;
}

orvane_file_byte_order OtherByteOrder() {
    const uint16_t probe = 1;
    uint8_t first;
    std::memcpy(&first, &probe, 1);
    return first ? OrvaneBigEndianByteOrder : OrvaneLittleEndianByteOrder;
}

}  // namespace orvane_example

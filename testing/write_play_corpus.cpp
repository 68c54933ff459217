// Writes the seed corpus of the playing fuzz target: small uncompressed content files, each a
// skinned character that can be played at once. A skeleton of a few bones, a PWN343 mesh of a
// few triangles skinned to several of them, a rigid PN33 mesh on one bone, and two clips whose
// tracks use float, quantised, constant and identity curves (one clip with root
// motion). Every character is written in both byte orders, as play_<name>_<order>.ovn in the
// directory given, and the arm once more with each of the damages a file can carry past the
// loader (a parent index far out of range, reals that are not numbers or infinite), as
// play_arm_<damage>.ovn:
//   cmake --build build --target orvane_write_play_corpus
//   build/tests/orvane_write_play_corpus tests/fuzz/corpus/play
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "orvane/controlled_animation.h"
#include "orvane/skeleton_builder.h"
#include "orvane/track_group_builder.h"
#include "orvane/core.h"
#include "orvane/file.h"
#include "orvane/file_builder.h"
#include "orvane/data_tree_writer.h"
#include "orvane/math.h"
#include "orvane/mesh.h"
#include "orvane/mesh_builder.h"
#include "orvane/types.h"

namespace {

constexpr int kKeys = 5;

struct Character {
    std::string name;
    std::vector<std::string> boneNames;
    orvane_skeleton* skeleton = nullptr;
    std::vector<orvane_track_group*> groups;  // one per clip
    std::vector<orvane_animation> clips;
    std::vector<orvane_animation*> clipPointers;
    std::vector<orvane_pwn343_vertex> skinnedVertices;
    std::vector<int32_t> skinnedIndices;
    orvane_vertex_data skinnedData{};
    orvane_tri_material_group skinnedGroup{};
    orvane_tri_topology skinnedTopology{};
    std::vector<orvane_bone_binding> skinnedBones;
    orvane_mesh skinned{};
    std::vector<orvane_pn33_vertex> rigidVertices;
    int32_t rigidIndices[3] = {0, 1, 2};
    orvane_vertex_data rigidData{};
    orvane_tri_material_group rigidGroup{};
    orvane_tri_topology rigidTopology{};
    orvane_bone_binding rigidBone{};
    orvane_mesh rigid{};
    orvane_mesh* meshPointers[2] = {&skinned, &rigid};
    orvane_model_mesh_binding meshBindings[2] = {};
    orvane_model model{};
    orvane_model* modelPointer = &model;
    orvane_file_info info{};

    Character(const Character&) = delete;
    Character& operator=(const Character&) = delete;
    Character() = default;
    ~Character() {
        for (orvane_animation& clip : clips)
            OrvaneFlushAllBindingsForAnimation(&clip);
        for (orvane_track_group* group : groups)
            OrvaneFreeBuilderResult(group);
        OrvaneFreeBuilderResult(skeleton);
    }
};

void Quaternion(float angle, int axis, float* q) {
    q[0] = q[1] = q[2] = 0;
    q[axis] = std::sin(angle / 2);
    q[3] = std::cos(angle / 2);
}

// A clip that swings every bone about its own axis; `quantised` picks the compact formats.
orvane_track_group* Clip(const Character& c, bool quantised, bool rootMotion) {
    orvane_track_group_builder* g =
        OrvaneBeginTrackGroup(c.name.c_str(), 0, int32_t(c.boneNames.size()), 0, true);
    if (g == nullptr) return nullptr;
    float knots[kKeys];
    for (int k = 0; k < kKeys; ++k)
        knots[k] = 0.25f * float(k);
    for (size_t b = 0; b < c.boneNames.size(); ++b) {
        float turn[4 * kKeys], place[3 * kKeys], stretch[9 * kKeys];
        for (int k = 0; k < kKeys; ++k) {
            const float u = knots[k];
            Quaternion(0.6f * std::sin(3 * u + float(b)), int(b % 3), &turn[4 * k]);
            place[3 * k] = b == 0 ? 0.8f * u : 0;
            place[3 * k + 1] = b == 0 ? 0.05f * std::sin(6 * u) : 0.5f;
            place[3 * k + 2] = 0;
            for (int e = 0; e < 9; ++e)
                stretch[9 * k + e] = e % 4 == 0 ? 1.0f + 0.1f * u * float(e == 0) : 0.0f;
        }
        OrvaneBeginTransformTrack(g, c.boneNames[b].c_str());
        switch ((b + (quantised ? 2 : 0)) % 4) {
            case 0:
                OrvaneSetTransformTrackPosition(g, 3, 0, kKeys, knots, place,
                                                OrvaneCurveDataDaK32fC32fType);
                OrvaneSetTransformTrackOrientation(g, 3, 0, kKeys, knots, turn,
                                                   OrvaneCurveDataDaK32fC32fType);
                break;
            case 1:
                OrvaneSetTransformTrackPosition(g, 0, 0, 1, knots, place,
                                                OrvaneCurveDataD3Constant32fType);
                OrvaneSetTransformTrackOrientation(g, 0, 0, 1, knots, turn,
                                                   OrvaneCurveDataD4Constant32fType);
                OrvaneSetTransformTrackScaleShear(g, 1, 0, kKeys, knots, stretch,
                                                  OrvaneCurveDataDaK16uC16uType);
                break;
            case 2:
                OrvaneSetTransformTrackPosition(g, 3, 0, kKeys, knots, place,
                                                OrvaneCurveDataD3K16uC16uType);
                OrvaneSetTransformTrackOrientation(g, 3, 0, kKeys, knots, turn,
                                                   OrvaneCurveDataD4nK16uC15uType);
                OrvaneSetTransformTrackScaleShear(g, 1, 0, kKeys, knots, stretch,
                                                  OrvaneCurveDataD9I1K16uC16uType);
                break;
            default:
                OrvaneSetTransformTrackPosition(g, 2, 0, kKeys, knots, place,
                                                OrvaneCurveDataD3K8uC8uType);
                OrvaneSetTransformTrackOrientation(g, 2, 0, kKeys, knots, turn,
                                                   OrvaneCurveDataD4nK8uC7uType);
                OrvaneSetTransformTrackScaleShear(g, 1, 0, kKeys, knots, stretch,
                                                  OrvaneCurveDataD9I3K8uC8uType);
                break;
        }
        OrvaneEndTransformTrack(g);
    }
    orvane_track_group* group = OrvaneEndTrackGroup(g);
    if (group != nullptr && rootMotion && group->TransformTrackCount > 0) {
        for (int32_t t = 0; t < group->TransformTrackCount; ++t)
            if (c.boneNames[0] == group->TransformTracks[t].Name)
                group->RootMotion = &group->TransformTracks[t];
        group->AccumulationFlags |= OrvaneAccumulationVariableDelta;
    }
    return group;
}

void Topology(orvane_tri_topology* t, int32_t count, int32_t* indices,
              orvane_tri_material_group* group) {
    *group = {0, 0, count / 3};
    std::memset(t, 0, sizeof(*t));
    t->GroupCount = 1;
    t->Groups = group;
    t->IndexCount = count;
    t->Indices = indices;
}

// A chain of `bones` bones up the y axis; the skinned strip runs along it, each vertex on two
// neighbouring bones, and the rigid triangle sits on the last bone.
bool Build(Character& c, const char* name, int32_t bones) {
    c.name = name;
    orvane_skeleton_builder* b = OrvaneBeginSkeleton(bones);
    if (b == nullptr) return false;
    const float q[4] = {0, 0, 0, 1}, s[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    for (int32_t i = 0; i < bones; ++i) {
        const float local[3] = {0, i ? 0.5f : 1.0f, 0}, world[3] = {0, 1.0f + 0.5f * float(i), 0};
        OrvaneAddBone(b, local, q, s, world, q, s);
        OrvaneSetBoneParent(b, i, i - 1);
        c.boneNames.push_back(i == 0 ? "Root" : "Bone" + std::to_string(i));
    }
    std::vector<int32_t> remap(static_cast<size_t>(bones));
    c.skeleton = OrvaneEndSkeleton(b, remap.data());
    if (c.skeleton == nullptr) return false;
    c.skeleton->Name = const_cast<char*>(c.name.c_str());
    for (int32_t i = 0; i < bones; ++i)
        c.skeleton->Bones[remap[size_t(i)]].Name =
            const_cast<char*>(c.boneNames[size_t(i)].c_str());

    c.groups.push_back(Clip(c, false, true));
    c.groups.push_back(Clip(c, true, false));
    const char* clipNames[2] = {"Walk", "Wave"};
    c.clips.resize(2);
    for (size_t k = 0; k < 2; ++k) {
        if (c.groups[k] == nullptr) return false;
        c.clips[k] = {const_cast<char*>(clipNames[k]), 1.0f, 0.25f, 1.0f, 1, &c.groups[k]};
        c.clipPointers.push_back(&c.clips[k]);
    }

    // Two vertices per bone, on the bone and halfway to its parent.
    for (int32_t i = 0; i < bones; ++i) {
        for (int side = 0; side < 2; ++side) {
            orvane_pwn343_vertex v;
            std::memset(&v, 0, sizeof v);
            v.Position[0] = side ? 0.2f : -0.2f;
            v.Position[1] = 1.0f + 0.5f * float(i);
            v.Normal[2] = 1;
            v.BoneIndices[0] = uint8_t(i);
            v.BoneIndices[1] = uint8_t(i ? i - 1 : 0);
            v.BoneWeights[0] = side ? 255 : 160;
            v.BoneWeights[1] = uint8_t(255 - v.BoneWeights[0]);
            c.skinnedVertices.push_back(v);
        }
    }
    for (int32_t i = 0; i + 1 < bones; ++i) {
        const int32_t a = 2 * i, quad[6] = {a, a + 1, a + 2, a + 1, a + 3, a + 2};
        c.skinnedIndices.insert(c.skinnedIndices.end(), quad, quad + 6);
    }
    c.skinnedData.VertexType = OrvanePWN343VertexType;
    c.skinnedData.VertexCount = int32_t(c.skinnedVertices.size());
    c.skinnedData.Vertices = c.skinnedVertices.data();
    Topology(&c.skinnedTopology, int32_t(c.skinnedIndices.size()), c.skinnedIndices.data(),
             &c.skinnedGroup);
    c.skinnedBones.resize(size_t(bones));
    for (int32_t i = 0; i < bones; ++i) {
        orvane_bone_binding& bone = c.skinnedBones[size_t(i)];
        bone = {const_cast<char*>(c.boneNames[size_t(i)].c_str()),
                {-0.2f, 0.5f * float(i) + 0.75f, -0.1f},
                {0.2f, 0.5f * float(i) + 1.25f, 0.1f},
                0,
                nullptr};
    }
    c.skinned.Name = const_cast<char*>("Body");
    c.skinned.PrimaryVertexData = &c.skinnedData;
    c.skinned.PrimaryTopology = &c.skinnedTopology;
    c.skinned.BoneBindingCount = bones;
    c.skinned.BoneBindings = c.skinnedBones.data();

    for (int v = 0; v < 3; ++v)
        c.rigidVertices.push_back({{0.1f * float(v), 0.1f * float(v == 2), 0}, {0, 0, 1}});
    c.rigidData.VertexType = OrvanePN33VertexType;
    c.rigidData.VertexCount = 3;
    c.rigidData.Vertices = c.rigidVertices.data();
    Topology(&c.rigidTopology, 3, c.rigidIndices, &c.rigidGroup);
    c.rigidBone = {
        const_cast<char*>(c.boneNames.back().c_str()), {0, 0, 0}, {0.2f, 0.1f, 0}, 0, nullptr};
    c.rigid.Name = const_cast<char*>("Hat");
    c.rigid.PrimaryVertexData = &c.rigidData;
    c.rigid.PrimaryTopology = &c.rigidTopology;
    c.rigid.BoneBindingCount = 1;
    c.rigid.BoneBindings = &c.rigidBone;

    c.meshBindings[0].Mesh = &c.skinned;
    c.meshBindings[1].Mesh = &c.rigid;
    c.model.Name = const_cast<char*>(c.name.c_str());
    c.model.Skeleton = c.skeleton;
    OrvaneMakeIdentity(&c.model.InitialPlacement);
    c.model.MeshBindingCount = 2;
    c.model.MeshBindings = c.meshBindings;

    c.info.SkeletonCount = 1;
    c.info.Skeletons = &c.skeleton;
    c.info.MeshCount = 2;
    c.info.Meshes = c.meshPointers;
    c.info.ModelCount = 1;
    c.info.Models = &c.modelPointer;
    c.info.TrackGroupCount = 2;
    c.info.TrackGroups = c.groups.data();
    c.info.AnimationCount = 2;
    c.info.Animations = c.clipPointers.data();
    return true;
}

bool Write(Character& c, const char* path, orvane_file_byte_order order) {
    orvane_file_data_tree_writer* writer = OrvaneBeginFileDataTreeWriting(
        OrvaneFileInfoType, &c.info, OrvaneStandardMainSection, OrvaneStandardMainSection);
    orvane_file_builder* builder =
        OrvaneBeginFile(OrvaneStandardSectionCount, ORVANE_CURRENT_FILE_TYPE_TAG,
                        OrvaneGetTemporaryDirectory(), "orvane_play_corpus");
    if (writer == nullptr || builder == nullptr) {
        OrvaneEndFileDataTreeWriting(writer);
        OrvaneAbortFile(builder);
        return false;
    }
    OrvaneSetFileByteOrder(builder, order);
    OrvaneSetFileSectionForObjectsOfType(writer, OrvaneVertexDataType,
                                         OrvaneStandardDeformableVertexSection);
    for (int32_t s = 0; s < OrvaneStandardSectionCount; ++s)
        OrvaneSetFileSectionFormat(builder, s, OrvaneNoCompression, 4);
    const bool written = OrvaneWriteDataTreeToFileBuilder(writer, builder);
    const bool ended = written ? OrvaneEndFile(builder, path) : (OrvaneAbortFile(builder), false);
    OrvaneEndFileDataTreeWriting(writer);
    return written && ended;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    struct Shape {
        const char* name;
        int32_t bones;
    };
    const Shape shapes[3] = {{"pair", 2}, {"arm", 4}, {"spine", 6}};
    struct Order {
        const char* name;
        orvane_file_byte_order order;
    };
    const Order orders[2] = {{"little", OrvaneLittleEndianByteOrder},
                             {"big", OrvaneBigEndianByteOrder}};
    for (const Shape& shape : shapes) {
        Character c;
        if (!Build(c, shape.name, shape.bones)) {
            std::fprintf(stderr, "the %s character cannot be built\n", shape.name);
            return 1;
        }
        for (const Order& order : orders) {
            const std::string path =
                std::string(argv[1]) + "/play_" + shape.name + "_" + order.name + ".ovn";
            if (!Write(c, path.c_str(), order.order)) {
                std::fprintf(stderr, "%s cannot be written\n", path.c_str());
                return 1;
            }
            std::printf("wrote %s\n", path.c_str());
        }
    }
    // Damages, each written alone and undone.
    Character arm;
    if (!Build(arm, "arm", 4)) return 1;
    struct Damage {
        const char* name;
        float* real;
        float value;
        int32_t* integer;
        int32_t number;
    };
    const float nan = std::nanf("");
    const float infinity = HUGE_VALF;
    const Damage damages[] = {
        {"far-parent", nullptr, 0, &arm.skeleton->Bones[1].ParentIndex, 67108864},
        {"nan-duration", &arm.clips[0].Duration, nan, nullptr, 0},
        {"infinite-duration", &arm.clips[1].Duration, infinity, nullptr, 0},
        {"nan-time-step", &arm.clips[0].TimeStep, nan, nullptr, 0},
        {"nan-rest-orientation", &arm.skeleton->Bones[2].Transform.Orientation[3], nan, nullptr, 0},
        {"infinite-loop", &arm.groups[1]->LoopTranslation[0], infinity, nullptr, 0},
    };
    for (const Damage& d : damages) {
        float savedReal = d.real ? *d.real : 0.0f;
        int32_t savedInteger = d.integer ? *d.integer : 0;
        if (d.real) *d.real = d.value;
        if (d.integer) *d.integer = d.number;
        const std::string path = std::string(argv[1]) + "/play_arm_" + d.name + ".ovn";
        const bool written = Write(arm, path.c_str(), OrvaneLittleEndianByteOrder);
        if (d.real) *d.real = savedReal;
        if (d.integer) *d.integer = savedInteger;
        if (!written) {
            std::fprintf(stderr, "%s cannot be written\n", path.c_str());
            return 1;
        }
        std::printf("wrote %s\n", path.c_str());
    }
    return 0;
}

// The demo character, built through the public builders.
#include "demo_character.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace orvane_tool {

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr float kDegree = kPi / 180;

struct V3 {
    float x = 0, y = 0, z = 0;
};
V3 operator+(V3 a, V3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
V3 operator-(V3 a, V3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
V3 operator*(V3 a, float s) {
    return {a.x * s, a.y * s, a.z * s};
}
float Dot(V3 a, V3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
V3 Cross(V3 a, V3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
V3 Normalised(V3 a) {
    const float n = std::sqrt(Dot(a, a));
    return n > 0 ? a * (1 / n) : V3{0, 1, 0};
}

struct Q {
    float x = 0, y = 0, z = 0, w = 1;
};
// a then b applied to a vector: the product a * b rotates by b first.
Q operator*(Q a, Q b) {
    return {a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
            a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
            a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w,
            a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z};
}
Q AboutX(float degrees) {
    const float h = 0.5f * degrees * kDegree;
    return {std::sin(h), 0, 0, std::cos(h)};
}
Q AboutY(float degrees) {
    const float h = 0.5f * degrees * kDegree;
    return {0, std::sin(h), 0, std::cos(h)};
}
Q AboutZ(float degrees) {
    const float h = 0.5f * degrees * kDegree;
    return {0, 0, std::sin(h), std::cos(h)};
}

// The skeleton, parents first, at rest: every bone unrotated, so a bone's rest transform is the
// offset from its parent's joint to its own.
enum Bone {
    kRoot,
    kPelvis,
    kSpine1,
    kSpine2,
    kChest,
    kNeck,
    kHead,
    kLeftClavicle,
    kLeftUpperArm,
    kLeftForearm,
    kLeftHand,
    kRightClavicle,
    kRightUpperArm,
    kRightForearm,
    kRightHand,
    kLeftThigh,
    kLeftCalf,
    kLeftFoot,
    kLeftToe,
    kRightThigh,
    kRightCalf,
    kRightFoot,
    kRightToe,
    kBoneCount
};

struct BoneDefinition {
    const char* name;
    int parent;
    V3 joint;  // rest position in the model's space
};

const BoneDefinition kBones[kBoneCount] = {
    {"Root", -1, {0, 0, 0}},
    {"Pelvis", kRoot, {0, 1.0f, 0}},
    {"Spine1", kPelvis, {0, 1.1f, 0}},
    {"Spine2", kSpine1, {0, 1.25f, 0}},
    {"Chest", kSpine2, {0, 1.4f, 0}},
    {"Neck", kChest, {0, 1.52f, 0}},
    {"Head", kNeck, {0, 1.62f, 0}},
    {"LeftClavicle", kChest, {0.03f, 1.47f, 0}},
    {"LeftUpperArm", kLeftClavicle, {0.19f, 1.45f, 0}},
    {"LeftForearm", kLeftUpperArm, {0.19f, 1.17f, 0}},
    {"LeftHand", kLeftForearm, {0.19f, 0.91f, 0}},
    {"RightClavicle", kChest, {-0.03f, 1.47f, 0}},
    {"RightUpperArm", kRightClavicle, {-0.19f, 1.45f, 0}},
    {"RightForearm", kRightUpperArm, {-0.19f, 1.17f, 0}},
    {"RightHand", kRightForearm, {-0.19f, 0.91f, 0}},
    {"LeftThigh", kPelvis, {0.1f, 0.95f, 0}},
    {"LeftCalf", kLeftThigh, {0.1f, 0.51f, 0}},
    {"LeftFoot", kLeftCalf, {0.1f, 0.08f, 0}},
    {"LeftToe", kLeftFoot, {0.1f, 0.03f, 0.12f}},
    {"RightThigh", kPelvis, {-0.1f, 0.95f, 0}},
    {"RightCalf", kRightThigh, {-0.1f, 0.51f, 0}},
    {"RightFoot", kRightCalf, {-0.1f, 0.08f, 0}},
    {"RightToe", kRightFoot, {-0.1f, 0.03f, 0.12f}},
};

V3 RestOffset(int bone) {
    const BoneDefinition& b = kBones[bone];
    return b.parent < 0 ? b.joint : b.joint - kBones[b.parent].joint;
}

// ---------------------------------------------------------------------------------------------
// Motion: joint angles as sines of the clip's phase, so both clips loop without a seam.
// ---------------------------------------------------------------------------------------------

struct LocalPose {
    V3 position[kBoneCount];
    Q orientation[kBoneCount];
    LocalPose() {
        for (int b = 0; b < kBoneCount; ++b)
            position[b] = RestOffset(b);
    }
};

constexpr float kWalkSeconds = 1.0f;
constexpr float kWalkSpeed = 1.3f;  // metres per second along +Z
constexpr float kWaveSeconds = 2.0f;
// How far the hips drop while the legs are apart, so that a foot stays on the ground.
constexpr float kWalkDrop = 0.04f;

LocalPose Walk(float t) {
    LocalPose p;
    const float phase = 2 * kPi * t / kWalkSeconds;
    const float s = std::sin(phase), c = std::cos(phase), c2 = std::cos(2 * phase);
    p.position[kRoot] = {0, 0, kWalkSpeed * t};
    // The hips drop while the legs are apart (by up to 2 kWalkDrop) and shift over the
    // supporting foot.
    p.position[kPelvis] = {0.02f * s, 1.0f - kWalkDrop * (1 - c2), 0};
    p.orientation[kPelvis] = AboutY(-6 * s) * AboutZ(2 * c2);
    p.orientation[kSpine1] = AboutX(4) * AboutY(3 * s);
    p.orientation[kSpine2] = AboutY(3 * s);
    p.orientation[kChest] = AboutY(2 * s) * AboutX(1 * c2);
    p.orientation[kNeck] = AboutY(-2 * s);
    p.orientation[kHead] = AboutX(-3 + 2 * c2) * AboutY(-1 * s);
    for (int side = 0; side < 2; ++side) {
        // The right side runs half a cycle behind the left.
        const float ls = side ? -s : s, lc = side ? -c : c;
        const float mirror = side ? -1.0f : 1.0f;
        const float thigh = -25 * ls;  // negative swings the foot forward
        const float swing = std::max(0.0f, std::cos(phase + (side ? kPi : 0) + 0.3f));
        const float knee = 5 + 50 * swing * swing;
        const int thighBone = side ? kRightThigh : kLeftThigh;
        p.orientation[thighBone] = AboutX(thigh) * AboutZ(mirror * 2);
        p.orientation[thighBone + 1] = AboutX(knee);
        p.orientation[thighBone + 2] = AboutX(-0.6f * (thigh + knee) + 8 * std::max(0.0f, -lc));
        p.orientation[thighBone + 3] = AboutX(-10 * std::max(0.0f, -lc));
        const int armBone = side ? kRightUpperArm : kLeftUpperArm;
        p.orientation[armBone - 1] = AboutZ(mirror * 2 * c2);
        p.orientation[armBone] = AboutZ(mirror * 6) * AboutX(20 * ls);
        p.orientation[armBone + 1] = AboutX(-15 - 12 * (1 - ls));
        p.orientation[armBone + 2] = AboutX(-5 * ls) * AboutZ(mirror * 5);
    }
    return p;
}

LocalPose Wave(float t) {
    LocalPose p;
    const float phase = 2 * kPi * t / kWaveSeconds;
    const float s = std::sin(phase), s2 = std::sin(2 * phase);
    // Two waves of the hand per loop, the hand lagging the forearm.
    const float wave = std::sin(2 * phase), lag = std::sin(2 * phase - 0.8f);
    p.position[kPelvis] = {0.015f * s, 1.0f, 0};
    p.orientation[kPelvis] = AboutZ(2 * s);
    p.orientation[kSpine1] = AboutZ(-1.5f * s);
    p.orientation[kSpine2] = AboutZ(-1.5f * s) * AboutX(1.5f * s2);
    p.orientation[kChest] = AboutZ(-2 * s) * AboutX(1.5f * s2);
    p.orientation[kNeck] = AboutY(-8);
    p.orientation[kHead] = AboutY(-10) * AboutZ(-6 + 3 * s);
    p.orientation[kRightClavicle] = AboutZ(-10);
    p.orientation[kRightUpperArm] = AboutZ(-140 + 5 * wave) * AboutX(-10);
    p.orientation[kRightForearm] = AboutZ(-35 + 25 * wave);
    p.orientation[kRightHand] = AboutZ(-10 * lag);
    p.orientation[kLeftUpperArm] = AboutZ(4) * AboutX(3 * s);
    p.orientation[kLeftForearm] = AboutX(-10 - 3 * s2);
    // The legs lean against the hips' sway so that the feet stay put.
    const float lean = std::atan2(0.015f * s, 0.87f) / kDegree;
    p.orientation[kLeftThigh] = AboutZ(-2 * s - lean);
    p.orientation[kRightThigh] = AboutZ(-2 * s - lean);
    p.orientation[kLeftFoot] = AboutZ(lean);
    p.orientation[kRightFoot] = AboutZ(lean);
    return p;
}

struct ClipDefinition {
    const char* name;
    float seconds;
    LocalPose (*pose)(float t);
    bool rootMotion;
};

const ClipDefinition kClips[2] = {{"Walk", kWalkSeconds, Walk, true},
                                  {"Wave", kWaveSeconds, Wave, false}};

// ---------------------------------------------------------------------------------------------
// The body: tapered rounded segments, each skinned along its axis to the bones whose stretch
// of the axis it spans.
// ---------------------------------------------------------------------------------------------

enum Band { kFaceBand, kSkinBand, kShirtBand, kTrousersBand, kShoesBand, kBandCount };

struct Region {
    int bone;
    V3 start;  // where along the axis the bone takes over from the region before it
};

struct Segment {
    V3 a, b;           // the tips
    float ra, rb;      // radii at the tips' ends of the body
    float wide, deep;  // cross-section scales along the frame's first and second axes
    Band band;
    std::vector<Region> regions;  // in order along the axis; the first one's start is unused
    float blend = 0.05f;          // half the length, in metres, over which two regions blend
};

V3 J(int bone) {
    return kBones[bone].joint;
}

std::vector<Segment> Body() {
    std::vector<Segment> body = {
        {{0, 0.86f, 0},
         {0, 1.1f, 0},
         0.16f,
         0.15f,
         1,
         0.72f,
         kTrousersBand,
         {{kPelvis, {}}, {kSpine1, J(kSpine1)}}},
        {{0, 1.02f, 0},
         {0, 1.52f, 0},
         0.15f,
         0.18f,
         1,
         0.62f,
         kShirtBand,
         {{kPelvis, {}}, {kSpine1, J(kSpine1)}, {kSpine2, J(kSpine2)}, {kChest, J(kChest)}}},
        {{0, 1.46f, 0},
         {0, 1.66f, 0},
         0.05f,
         0.045f,
         1,
         1,
         kSkinBand,
         {{kChest, {}}, {kNeck, J(kNeck)}, {kHead, J(kHead)}}},
        {{0, 1.59f, 0.01f},
         {0, 1.86f, 0.0f},
         0.1f,
         0.095f,
         0.9f,
         1,
         kFaceBand,
         {{kNeck, {}}, {kHead, J(kHead)}}},
    };
    // The spine bends as one: each of its bones reaches into its neighbours' stretches, so
    // the middle of the back follows four bones.
    body[1].blend = 0.2f;
    for (int side = 0; side < 2; ++side) {
        const float m = side ? -1.0f : 1.0f;
        const int arm = side ? kRightClavicle : kLeftClavicle;
        const int leg = side ? kRightThigh : kLeftThigh;
        body.push_back({{m * 0.19f, 1.5f, 0},
                        {m * 0.19f, 1.14f, 0},
                        0.055f,
                        0.042f,
                        1,
                        1,
                        kShirtBand,
                        {{kChest, {}},
                         {arm, J(arm) + V3{0, 0.04f, 0}},
                         {arm + 1, J(arm + 1)},
                         {arm + 2, J(arm + 2)}}});
        body.push_back({{m * 0.19f, 1.2f, 0},
                        {m * 0.19f, 0.9f, 0},
                        0.04f,
                        0.032f,
                        1,
                        1,
                        kSkinBand,
                        {{arm + 1, {}}, {arm + 2, J(arm + 2)}, {arm + 3, J(arm + 3)}}});
        body.push_back({{m * 0.19f, 0.94f, 0.005f},
                        {m * 0.19f, 0.72f, 0.01f},
                        0.04f,
                        0.03f,
                        0.45f,
                        1,
                        kSkinBand,
                        {{arm + 2, {}}, {arm + 3, J(arm + 3)}}});
        body.push_back({{m * 0.1f, 1.0f, 0},
                        {m * 0.1f, 0.47f, 0},
                        0.085f,
                        0.055f,
                        1,
                        1,
                        kTrousersBand,
                        {{kPelvis, {}}, {leg, J(leg)}, {leg + 1, J(leg + 1)}}});
        body.push_back({{m * 0.1f, 0.55f, 0},
                        {m * 0.1f, 0.06f, 0},
                        0.055f,
                        0.04f,
                        1,
                        1,
                        kTrousersBand,
                        {{leg, {}}, {leg + 1, J(leg + 1)}, {leg + 2, J(leg + 2)}}});
        body.push_back(
            {{m * 0.1f, 0.055f, -0.06f},
             {m * 0.1f, 0.035f, 0.22f},
             0.05f,
             0.042f,
             0.8f,
             0.6f,
             kShoesBand,
             {{leg + 1, {}}, {leg + 2, J(leg + 2) + V3{0, 0, -0.02f}}, {leg + 3, J(leg + 3)}}});
    }
    return body;
}

constexpr int kRings = 14;   // rings between the two poles of a segment
constexpr int kAround = 16;  // vertices around a ring (one more where the texture wraps)

float SmoothStep(float u) {
    u = std::min(1.0f, std::max(0.0f, 0.5f * (u + 1)));
    return u * u * (3 - 2 * u);
}

// The texture: five bands of 16 rows, one per kind of surface, in the top half; the bottom
// half mirrors the top, so the figure looks the same whichever way a renderer reads V.
constexpr int kTextureWidth = 64, kTextureHeight = 160, kBandRows = 16;

float BandV(Band band, float along) {
    return (float(kBandRows * int(band)) + 1 + (kBandRows - 2) * along) / kTextureHeight;
}

std::vector<uint8_t> TexturePixels() {
    std::vector<uint8_t> rgba(size_t(kTextureWidth) * kTextureHeight * 4);
    auto set = [&](int x, int y, int r, int g, int b) {
        uint8_t* p = &rgba[(size_t(y) * kTextureWidth + size_t(x)) * 4];
        p[0] = uint8_t(r), p[1] = uint8_t(g), p[2] = uint8_t(b), p[3] = 255;
    };
    for (int y = 0; y < kTextureHeight / 2; ++y) {
        const int band = std::min(y / kBandRows, int(kBandCount) - 1);
        const int row = y % kBandRows;
        for (int x = 0; x < kTextureWidth; ++x) {
            int r = 225, g = 180, b = 150;  // skin
            if (band == kFaceBand) {
                // The face looks along +Z, a quarter turn before the seam (u = 0.75).
                const int dx = x - 48;
                const bool eye =
                    (row == 8 || row == 9) && (std::abs(dx + 3) <= 1 || std::abs(dx - 3) <= 1);
                const bool mouth = row == 5 && std::abs(dx) <= 2;
                const bool hair = row >= 14 || (row >= 9 && std::abs(x - 16) <= 13);
                if (eye) r = 30, g = 30, b = 40;
                if (mouth) r = 170, g = 70, b = 70;
                if (hair) r = 70, g = 45, b = 25;
            } else if (band == kShirtBand) {
                const bool stripe = (row / 2) % 2 == 0;
                r = stripe ? 70 : 50, g = stripe ? 110 : 80, b = stripe ? 200 : 160;
            } else if (band == kTrousersBand) {
                const int grain = ((x * 7 + y * 13) % 5) * 2;
                r = 55 + grain, g = 58 + grain, b = 70 + grain;
            } else if (band == kShoesBand) {
                r = 95, g = 60, b = 35;
                if (row <= 2) r = 40, g = 30, b = 25;  // the sole
            }
            set(x, y, r, g, b);
            set(x, kTextureHeight - 1 - y, r, g, b);
        }
    }
    return rgba;
}

}  // namespace

// Everything the file info points at.
struct DemoCharacter::Parts {
    std::vector<orvane_track_group*> groups;  // from the compressor
    std::vector<orvane_animation> animations;
    std::vector<orvane_animation*> animationPointers;
    orvane_vertex_data* vertexData = nullptr;
    orvane_tri_topology* topology = nullptr;
    orvane_texture* texture = nullptr;
    std::vector<orvane_bone_binding> boneBindings;
    orvane_material textureMaterial{};
    orvane_material_map map{};
    orvane_material material{};
    orvane_material* materialPointers[2] = {nullptr, nullptr};
    orvane_material_binding materialBinding{};
    orvane_mesh mesh{};
    orvane_mesh* meshPointer = &mesh;
    orvane_model_mesh_binding meshBinding{};
    orvane_model model{};
    orvane_model* modelPointer = &model;
    orvane_art_tool_info art{};
    orvane_exporter_info exporter{};

    ~Parts() {
        for (orvane_track_group* g : groups)
            OrvaneFreeBuilderResult(g);
        OrvaneFreeBuilderResult(vertexData);
        OrvaneFreeBuilderResult(topology);
        OrvaneFreeBuilderResult(texture);
    }
};

DemoCharacter::DemoCharacter() : parts_(std::make_unique<Parts>()) {}

DemoCharacter::~DemoCharacter() {
    parts_.reset();
    OrvaneFreeBuilderResult(skeleton_);
}

int32_t DemoCharacter::vertexCount() const {
    return parts_->vertexData ? parts_->vertexData->VertexCount : 0;
}

int32_t DemoCharacter::triangleCount() const {
    return parts_->topology ? parts_->topology->IndexCount / 3 : 0;
}

std::unique_ptr<DemoCharacter> DemoCharacter::Build(std::string* problem) {
    std::unique_ptr<DemoCharacter> self(new DemoCharacter());
    Parts& parts = *self->parts_;
    auto fail = [&](const char* what) {
        *problem = what;
        return nullptr;
    };

    // Skeleton.
    orvane_skeleton_builder* sb = OrvaneBeginSkeleton(kBoneCount);
    if (!sb) return fail("the skeleton builder cannot start");
    const float identity[4] = {0, 0, 0, 1};
    const float unit[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    for (int b = 0; b < kBoneCount; ++b) {
        const V3 local = RestOffset(b), world = kBones[b].joint;
        const float l[3] = {local.x, local.y, local.z}, w[3] = {world.x, world.y, world.z};
        OrvaneAddBone(sb, l, identity, unit, w, identity, unit);
        OrvaneSetBoneParent(sb, b, kBones[b].parent);
    }
    int32_t remap[kBoneCount];
    self->skeleton_ = OrvaneEndSkeleton(sb, remap);
    if (!self->skeleton_) return fail("the skeleton cannot be built");
    self->skeleton_->Name = const_cast<char*>("Figure");
    for (int b = 0; b < kBoneCount; ++b) {
        // Parents come before their children here already, so the order is kept.
        if (remap[b] != b) return fail("the skeleton builder reordered the bones");
        self->skeleton_->Bones[b].Name = const_cast<char*>(kBones[b].name);
    }

    // Clips: sampled per frame, compressed, played with root motion where the root moves.
    for (const ClipDefinition& clip : kClips) {
        const int frames = int(std::lround(clip.seconds * kFramesPerSecond)) + 1;
        const float step = clip.seconds / float(frames - 1);
        orvane_track_group_sampler* sampler = OrvaneBeginSampledAnimation(kBoneCount, frames);
        if (!sampler) return fail("no memory for the samples");
        for (int f = 0; f < frames; ++f) {
            const LocalPose pose = clip.pose(float(f) * step);
            for (int b = 0; b < kBoneCount; ++b) {
                const V3& p = pose.position[b];
                const Q& q = pose.orientation[b];
                const float position[3] = {p.x, p.y, p.z}, orientation[4] = {q.x, q.y, q.z, q.w};
                OrvaneSetTransformSample(sampler, b, position, orientation, unit);
            }
            OrvanePushSampledFrame(sampler);
        }
        orvane_animation_compression_options options;
        OrvaneGetDefaultAnimationCompressionOptions(&options);
        options.ErrorBudget = kErrorBudget;
        options.ShellDistance = kShellDistance;
        orvane_animation_compression_statistics stats = {};
        // Named as the model it animates, so that controls on the model's instances find it.
        orvane_track_group* group = OrvaneCompressAnimation(self->skeleton_, sampler, frames, step,
                                                            "Figure", &options, &stats);
        OrvaneEndSampledAnimation(sampler);
        if (!group) return fail("the compressor failed on a clip");
        parts.groups.push_back(group);
        if (clip.rootMotion) {
            uint32_t flags = 0, dofs = 0;
            OrvaneGetTrackGroupFlags(group, &flags, &dofs);
            OrvaneSetTrackGroupFlags(group, flags | 4, dofs);  // variable-delta root motion
            const LocalPose end = clip.pose(clip.seconds), start = clip.pose(0);
            const V3 travel = end.position[kRoot] - start.position[kRoot];
            group->LoopTranslation[0] = travel.x;
            group->LoopTranslation[1] = travel.y;
            group->LoopTranslation[2] = travel.z;
        }
        orvane_animation animation = {};
        animation.Name = const_cast<char*>(clip.name);
        animation.Duration = clip.seconds;
        animation.TimeStep = step;
        animation.Oversampling = 1;
        animation.TrackGroupCount = 1;
        parts.animations.push_back(animation);
        DemoClipReport report;
        report.name = clip.name;
        report.duration = clip.seconds;
        report.frames = frames;
        report.maxError = stats.MaxError;
        report.maxErrorBone = stats.MaxErrorBone;
        report.curveBytes = stats.CurveDataBytes;
        report.groupBytes = stats.TrackGroupBytes;
        report.sampleBytes = frames * kBoneCount * 7 * int32_t(sizeof(float));
        report.exactComponents = stats.ExactComponents;
        self->reports_.push_back(report);
    }
    for (size_t i = 0; i < parts.animations.size(); ++i) {
        parts.animations[i].TrackGroups = &parts.groups[i];
        parts.animationPointers.push_back(&parts.animations[i]);
    }

    // Mesh.
    const std::vector<Segment> body = Body();
    const int perSegment = kRings * (kAround + 1) + 2;
    const int trianglesPerSegment = 2 * kAround * (kRings - 1) + 2 * kAround;
    const int vertexTotal = perSegment * int(body.size());
    orvane_mesh_builder* mb = OrvaneBeginMesh(vertexTotal, trianglesPerSegment * int(body.size()),
                                              1, kBoneCount, OrvanePWNT3432VertexType);
    if (!mb) return fail("the mesh builder cannot start");
    std::vector<V3> positions(static_cast<size_t>(vertexTotal)),
        normals(static_cast<size_t>(vertexTotal));
    std::vector<float> along(static_cast<size_t>(vertexTotal));
    std::vector<float> boneWeights(size_t(vertexTotal) * kBoneCount, 0.0f);
    int base = 0;
    for (const Segment& seg : body) {
        const V3 axis = seg.b - seg.a;
        const float length = std::sqrt(Dot(axis, axis));
        const V3 dir = axis * (1 / length);
        const V3 ref = std::fabs(dir.y) > 0.7f ? V3{0, 0, 1} : V3{0, 1, 0};
        const V3 e1 = Normalised(Cross(dir, ref)), e2 = Cross(dir, e1);
        // Vertex k of the segment: the poles are 0 and 1, ring r's vertex i is 2 + r (A + 1) + i.
        auto index = [&](int ring, int i) { return base + 2 + ring * (kAround + 1) + i; };
        auto place = [&](int k, float s, float theta) {
            const float z = 0.5f * length * (1 - std::cos(kPi * s));
            const float f = z / length;
            // sin(pi) rounds to a tiny negative float, whose fractional power is NaN: the far
            // pole is clamped to radius 0.
            const float radius = (seg.ra + (seg.rb - seg.ra) * f) *
                                 std::pow(std::max(0.0f, std::sin(kPi * s)), 0.45f);
            positions[size_t(k)] = seg.a + dir * z + e1 * (radius * seg.wide * std::cos(theta)) +
                                   e2 * (radius * seg.deep * std::sin(theta));
            along[size_t(k)] = f;
        };
        place(base, 0, 0);
        place(base + 1, 1, 0);
        for (int r = 0; r < kRings; ++r)
            for (int i = 0; i <= kAround; ++i)
                place(index(r, i), float(r + 1) / float(kRings + 1), 2 * kPi * float(i) / kAround);
        // Normals across the grid's neighbours; the poles look along the axis.
        normals[size_t(base)] = dir * -1;
        normals[size_t(base + 1)] = dir;
        for (int r = 0; r < kRings; ++r)
            for (int i = 0; i <= kAround; ++i) {
                const int prev = (i + kAround - 1) % kAround, next = (i + 1) % kAround;
                const V3 lower =
                    r == 0 ? positions[size_t(base)] : positions[size_t(index(r - 1, i))];
                const V3 upper = r == kRings - 1 ? positions[size_t(base + 1)]
                                                 : positions[size_t(index(r + 1, i))];
                V3 n = Cross(positions[size_t(index(r, next))] - positions[size_t(index(r, prev))],
                             upper - lower);
                const V3 out = positions[size_t(index(r, i))] -
                               (seg.a + dir * Dot(positions[size_t(index(r, i))] - seg.a, dir));
                if (Dot(n, out) < 0) n = n * -1;
                normals[size_t(index(r, i))] = Normalised(n);
            }
        // Weights: each bone owns a stretch of the axis; neighbours blend over twice the
        // segment's blend.
        for (int k = base; k < base + perSegment; ++k) {
            const float x = Dot(positions[size_t(k)] - seg.a, dir);
            for (size_t g = 0; g < seg.regions.size(); ++g) {
                const float lo =
                    g == 0 ? 0.0f
                           : SmoothStep((x - Dot(seg.regions[g].start - seg.a, dir)) / seg.blend);
                const float hi =
                    g + 1 == seg.regions.size()
                        ? 0.0f
                        : SmoothStep((x - Dot(seg.regions[g + 1].start - seg.a, dir)) / seg.blend);
                const float w = (g == 0 ? 1.0f : lo) - hi;
                if (w > 0.01f)
                    boneWeights[size_t(k) * kBoneCount + size_t(seg.regions[g].bone)] += w;
            }
        }
        base += perSegment;
    }
    for (int k = 0; k < vertexTotal; ++k) {
        const V3& p = positions[size_t(k)];
        OrvaneSetPosition(mb, p.x, p.y, p.z);
        for (int b = 0; b < kBoneCount; ++b)
            if (boneWeights[size_t(k) * kBoneCount + size_t(b)] > 0)
                OrvaneAddWeight(mb, b, boneWeights[size_t(k) * kBoneCount + size_t(b)]);
        OrvanePushVertex(mb);
    }
    base = 0;
    for (const Segment& seg : body) {
        auto index = [&](int ring, int i) { return base + 2 + ring * (kAround + 1) + i; };
        auto corner = [&](int c, int k, float u) {
            OrvaneSetVertexIndex(mb, c, k);
            const V3& n = normals[size_t(k)];
            OrvaneSetNormal(mb, c, n.x, n.y, n.z);
            const float uv[2] = {u, BandV(seg.band, along[size_t(k)])};
            OrvaneSetChannel(mb, c, 0, uv);
        };
        // Corners as (vertex, u); faces wind counter-clockwise seen from outside.
        auto triangle = [&](int k0, float u0, int k1, float u1, int k2, float u2) {
            const V3 face = Cross(positions[size_t(k1)] - positions[size_t(k0)],
                                  positions[size_t(k2)] - positions[size_t(k0)]);
            if (Dot(face, normals[size_t(k0)] + normals[size_t(k1)] + normals[size_t(k2)]) < 0) {
                std::swap(k1, k2);
                std::swap(u1, u2);
            }
            corner(0, k0, u0);
            corner(1, k1, u1);
            corner(2, k2, u2);
            OrvanePushTriangle(mb);
        };
        for (int i = 0; i < kAround; ++i) {
            const float u0 = float(i) / kAround, u1 = float(i + 1) / kAround, um = 0.5f * (u0 + u1);
            triangle(base, um, index(0, i), u0, index(0, i + 1), u1);
            triangle(base + 1, um, index(kRings - 1, i), u0, index(kRings - 1, i + 1), u1);
            for (int r = 0; r + 1 < kRings; ++r) {
                triangle(index(r, i), u0, index(r + 1, i), u0, index(r + 1, i + 1), u1);
                triangle(index(r, i), u0, index(r + 1, i + 1), u1, index(r, i + 1), u1);
            }
        }
        base += perSegment;
    }
    if (!OrvaneEndMesh(mb, &parts.vertexData, &parts.topology))
        return fail("the mesh cannot be built");

    // Each bone's box, in its own rest space, around the vertices it moves.
    parts.boneBindings.resize(kBoneCount);
    for (int b = 0; b < kBoneCount; ++b) {
        orvane_bone_binding& binding = parts.boneBindings[size_t(b)];
        binding = {};
        binding.BoneName = const_cast<char*>(kBones[b].name);
        bool any = false;
        for (int k = 0; k < vertexTotal; ++k) {
            if (boneWeights[size_t(k) * kBoneCount + size_t(b)] <= 0) continue;
            const V3 p = positions[size_t(k)] - kBones[b].joint;
            const float q[3] = {p.x, p.y, p.z};
            for (int c = 0; c < 3; ++c) {
                binding.OBBMin[c] = any ? std::min(binding.OBBMin[c], q[c]) : q[c];
                binding.OBBMax[c] = any ? std::max(binding.OBBMax[c], q[c]) : q[c];
            }
            any = true;
        }
    }

    // A small generated texture, raw RGBA, on the one material.
    const std::vector<uint8_t> pixels = TexturePixels();
    orvane_texture_builder* tb =
        OrvaneBeginRawTexture(kTextureWidth, kTextureHeight, OrvaneRGBA8888PixelFormat, 4);
    if (tb)
        OrvaneEncodeImage(tb, kTextureWidth, kTextureHeight, kTextureWidth * 4, 1, pixels.data());
    parts.texture = tb ? OrvaneEndTexture(tb) : nullptr;
    if (!parts.texture) return fail("the texture cannot be built");
    parts.texture->FromFileName = const_cast<char*>("figure.png");
    parts.textureMaterial.Name = const_cast<char*>("figure.png");
    parts.textureMaterial.Texture = parts.texture;
    parts.map.Usage = const_cast<char*>("DiffuseColor");
    parts.map.Map = &parts.textureMaterial;
    parts.material.Name = const_cast<char*>("Figure");
    parts.material.MapCount = 1;
    parts.material.Maps = &parts.map;
    parts.material.Texture = parts.texture;
    parts.materialPointers[0] = &parts.material;
    parts.materialPointers[1] = &parts.textureMaterial;
    parts.materialBinding.Material = &parts.material;

    parts.mesh.Name = const_cast<char*>("Body");
    parts.mesh.PrimaryVertexData = parts.vertexData;
    parts.mesh.PrimaryTopology = parts.topology;
    parts.mesh.MaterialBindingCount = 1;
    parts.mesh.MaterialBindings = &parts.materialBinding;
    parts.mesh.BoneBindingCount = kBoneCount;
    parts.mesh.BoneBindings = parts.boneBindings.data();
    parts.meshBinding.Mesh = &parts.mesh;
    parts.model.Name = const_cast<char*>("Figure");
    parts.model.Skeleton = self->skeleton_;
    parts.model.InitialPlacement.Orientation[3] = 1;
    for (int i = 0; i < 3; ++i)
        parts.model.InitialPlacement.ScaleShear[i][i] = 1;
    parts.model.MeshBindingCount = 1;
    parts.model.MeshBindings = &parts.meshBinding;

    parts.art = {
        const_cast<char*>("orvane demo"), 1, 0, 1.0f, {0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    parts.exporter = {const_cast<char*>("orvane demo"), 2, 6, 0, 21};

    orvane_file_info& info = self->info_;
    info = {};
    info.ArtToolInfo = &parts.art;
    info.ExporterInfo = &parts.exporter;
    info.FromFileName = const_cast<char*>("figure.demo");
    info.TextureCount = 1;
    info.Textures = &parts.texture;
    info.MaterialCount = 2;
    info.Materials = parts.materialPointers;
    info.SkeletonCount = 1;
    info.Skeletons = &self->skeleton_;
    info.VertexDataCount = 1;
    info.VertexDatas = &parts.vertexData;
    info.TriTopologyCount = 1;
    info.TriTopologies = &parts.topology;
    info.MeshCount = 1;
    info.Meshes = &parts.meshPointer;
    info.ModelCount = 1;
    info.Models = &parts.modelPointer;
    info.TrackGroupCount = int32_t(parts.groups.size());
    info.TrackGroups = parts.groups.data();
    info.AnimationCount = int32_t(parts.animationPointers.size());
    info.Animations = parts.animationPointers.data();
    return self;
}

bool DemoCharacter::Write(const char* path, int32_t compression, int32_t level) {
    orvane_file_data_tree_writer* writer = OrvaneBeginFileDataTreeWriting(
        OrvaneFileInfoType, &info_, OrvaneStandardMainSection, OrvaneStandardMainSection);
    orvane_file_builder* builder =
        OrvaneBeginFile(OrvaneStandardSectionCount, ORVANE_CURRENT_FILE_TYPE_TAG,
                        OrvaneGetTemporaryDirectory(), "orvane_demo");
    if (!writer || !builder) {
        OrvaneEndFileDataTreeWriting(writer);
        OrvaneAbortFile(builder);
        return false;
    }
    OrvaneSetFileSectionForObjectsOfType(writer, OrvaneVertexDataType,
                                         OrvaneStandardDeformableVertexSection);
    OrvaneSetFileSectionForObjectsOfType(writer, OrvaneTextureType, OrvaneStandardTextureSection);
    OrvaneSetFileSectionForObject(writer, parts_->topology->Indices,
                                  OrvaneStandardDeformableIndexSection);
    for (int32_t s = 0; s < OrvaneStandardSectionCount; ++s)
        OrvaneSetFileSectionFormat(builder, s, orvane_compression_type(compression), 4);
    OrvaneSetFileCompressionLevel(builder, level);
    FILE* before = std::fopen(path, "rb");
    const bool existed = before != nullptr;
    if (before) std::fclose(before);
    const bool written = OrvaneWriteDataTreeToFileBuilder(writer, builder);
    const bool ended = written ? OrvaneEndFile(builder, path) : (OrvaneAbortFile(builder), false);
    OrvaneEndFileDataTreeWriting(writer);
    if (!(written && ended) && !existed) std::remove(path);
    return written && ended;
}

}  // namespace orvane_tool

// Clips whose keys are not one per frame of a whole rate, and clips played looped: imported,
// loaded and played against an evaluator of the test's own (keys blended linearly, orientations
// along the shorter arc, held before the first key and after the last), at every key, half way
// between keys and at 0%, 10%, ... 100% of each clip.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "import_support.h"
#include "gltf_writer.h"
#include "orvane.h"
#include "orvane/import.h"

namespace {

using import_support::Entry;

std::string TempPath(const std::string& name) {
    return std::string(::testing::TempDir()) + "orvane_keyed_" + name;
}

// One bone's keys: times in seconds; rotations as an angle (radians) about Z.
struct Keys {
    std::vector<double> positionTimes;
    std::vector<std::array<double, 3>> positions;
    std::vector<double> rotationTimes;
    std::vector<double> angles;
};

// The evaluator: a chain of three bones (Root at its keys, Tip one unit up Root's Y axis, both
// turning about Z by their keys, End one unit up Tip's Y). Returns the Tip's and End's joints.
struct Points {
    double joint[3];
    double end[3];
};

double Blend(const std::vector<double>& times, const std::vector<double>& values, double t) {
    if (t <= times.front()) return values.front();
    if (t >= times.back()) return values.back();
    size_t k = 1;
    while (times[k] < t)
        ++k;
    const double u = (t - times[k - 1]) / (times[k] - times[k - 1]);
    return values[k - 1] + u * (values[k] - values[k - 1]);  // one axis: slerp is linear in angle
}

Points Expected(const Keys& root, const Keys& tip, double t) {
    std::vector<double> x, y, z;
    for (auto& p : root.positions)
        x.push_back(p[0]), y.push_back(p[1]), z.push_back(p[2]);
    const double px = Blend(root.positionTimes, x, t), py = Blend(root.positionTimes, y, t),
                 pz = Blend(root.positionTimes, z, t);
    const double a = Blend(root.rotationTimes, root.angles, t);
    const double b = a + Blend(tip.rotationTimes, tip.angles, t);
    Points out;
    out.joint[0] = px - std::sin(a), out.joint[1] = py + std::cos(a), out.joint[2] = pz;
    out.end[0] = out.joint[0] - std::sin(b), out.end[1] = out.joint[1] + std::cos(b);
    out.end[2] = pz;
    return out;
}

// The same chain as a DirectX .X scene (keys in ticks of TicksPerSecond; quaternions w, x, y,
// z). The format is left-handed: its reader flips z and the sense of turns.
std::string XScene(const Keys& root, const Keys& tip, int ticksPerSecond) {
    std::string s = "xof 0303txt 0032\n";
    const char* matrix = "1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,%s,0.0,1.0;;";
    char rootMatrix[120], tipMatrix[120];
    std::snprintf(rootMatrix, sizeof rootMatrix, matrix, "0.0");
    std::snprintf(tipMatrix, sizeof tipMatrix, matrix, "1.0");
    s += std::string("Frame Root {\n FrameTransformMatrix {\n  ") + rootMatrix + "\n }\n";
    s += std::string(" Frame Tip {\n  FrameTransformMatrix {\n   ") + tipMatrix + "\n  }\n";
    s +=
        std::string("  Frame End {\n   FrameTransformMatrix {\n    ") + tipMatrix + "\n   }\n  }\n";
    s += " }\n}\n";
    s += "AnimTicksPerSecond {\n " + std::to_string(ticksPerSecond) + ";\n}\n";
    s += "AnimationSet Clip {\n";
    auto animation = [&](const char* name, const Keys& k, bool moves) {
        char line[200];
        s += std::string(" Animation {\n  { ") + name + " }\n";
        s += "  AnimationKey { 0; " + std::to_string(k.rotationTimes.size()) + ";\n";
        for (size_t i = 0; i < k.rotationTimes.size(); ++i) {
            std::snprintf(line, sizeof line, "   %ld;4;%.9f,0.000000000,0.000000000,%.9f;;%s\n",
                          std::lround(k.rotationTimes[i] * ticksPerSecond),
                          std::cos(k.angles[i] / 2), -std::sin(k.angles[i] / 2),
                          i + 1 < k.rotationTimes.size() ? "," : ";");
            s += line;
        }
        s += "  }\n";
        if (moves) {
            s += "  AnimationKey { 2; " + std::to_string(k.positionTimes.size()) + ";\n";
            for (size_t i = 0; i < k.positionTimes.size(); ++i) {
                std::snprintf(line, sizeof line, "   %ld;3;%.9f,%.9f,%.9f;;%s\n",
                              std::lround(k.positionTimes[i] * ticksPerSecond), k.positions[i][0],
                              k.positions[i][1], -k.positions[i][2],
                              i + 1 < k.positionTimes.size() ? "," : ";");
                s += line;
            }
            s += "  }\n";
        }
        s += " }\n";
    };
    animation("Root", root, true);
    animation("Tip", tip, false);
    Keys still;
    still.rotationTimes = {0};
    still.angles = {0};
    animation("End", still, false);  // a joint of the clip, as motion capture's end sites
    s += "}\n";
    return s;
}

struct Imported {
    orvane_file* file = nullptr;
    const orvane_skeleton* skeleton = nullptr;
    const orvane_animation* clip = nullptr;
    orvane_import_summary summary = {};
    std::string report;
    ~Imported() { OrvaneFreeFile(file); }
};

void Import(const std::string& path, Imported* out, float sourceUnitsPerMeter = 0,
            const char* rootMotionBone = nullptr) {
    orvane_import_options options;
    OrvaneGetDefaultImportOptions(&options);
    options.SourceUnitsPerMeter = sourceUnitsPerMeter;
    options.RootMotionBone = rootMotionBone;
    options.Report = [](const char* line, void* user) {
        *static_cast<std::string*>(user) += std::string(line) + "\n";
    };
    options.UserData = &out->report;
    const std::string written = path + ".ovn";
    ASSERT_TRUE(OrvaneImportFile(path.c_str(), written.c_str(), &options, &out->summary))
        << out->summary.Error;
    out->file = OrvaneReadEntireFile(written.c_str());
    std::remove(written.c_str());
    ASSERT_NE(out->file, nullptr);
    const orvane_file_info* info = OrvaneGetFileInfo(out->file);
    ASSERT_EQ(info->AnimationCount, 1);
    out->skeleton = Entry(info->Skeletons, 0);
    out->clip = Entry(info->Animations, 0);
}

// The played Tip and End joints at Seconds, looping or not.
Points Played(const Imported& im, float seconds, bool looping) {
    const orvane_track_group* group = Entry(im.clip->TrackGroups, 0);
    std::vector<std::array<double, 16>> world(size_t(im.skeleton->BoneCount));
    Points out = {};
    for (int i = 0; i < im.skeleton->BoneCount; ++i) {
        const orvane_bone& bone = im.skeleton->Bones[i];
        orvane_transform local = bone.Transform;
        int track = -1;
        if (OrvaneFindTrackByName(group, bone.Name, &track)) {
            orvane_track_sample_context context = {};
            context.SampleTime = seconds;
            context.SampleDuration = im.clip->Duration;
            context.LoopBefore = context.LoopAfter = looping;
            local = {};
            OrvaneSampleTrackUUULocal(&context, &group->TransformTracks[track], nullptr, &local);
        }
        float m[16];
        OrvaneBuildCompositeTransform4x4(&local, m);
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) {
                double v = 0;
                for (int k = 0; k < 4; ++k)
                    v += (bone.ParentIndex >= 0 ? world[size_t(bone.ParentIndex)][size_t(k * 4 + r)]
                                                : (k == r ? 1.0 : 0.0)) *
                         m[c * 4 + k];
                world[size_t(i)][size_t(c * 4 + r)] = v;  // column-major, as the library builds it
            }
        double* target = !std::strcmp(bone.Name, "Tip")   ? out.joint
                         : !std::strcmp(bone.Name, "End") ? out.end
                                                          : nullptr;
        if (target)
            for (int k = 0; k < 3; ++k)
                target[k] = world[size_t(i)][size_t(12 + k)];
    }
    return out;
}

double Distance(const double* a, const double* b) {
    return std::sqrt((a[0] - b[0]) * (a[0] - b[0]) + (a[1] - b[1]) * (a[1] - b[1]) +
                     (a[2] - b[2]) * (a[2] - b[2]));
}

// Times to check: every key, half way between keys, and 0%, 10%, ... 100% of the clip.
std::vector<double> CheckTimes(const Keys& root, const Keys& tip, double duration) {
    std::vector<double> keys;
    for (const Keys* k : {&root, &tip}) {
        keys.insert(keys.end(), k->positionTimes.begin(), k->positionTimes.end());
        keys.insert(keys.end(), k->rotationTimes.begin(), k->rotationTimes.end());
    }
    std::sort(keys.begin(), keys.end());
    std::vector<double> times = keys;
    for (size_t i = 1; i < keys.size(); ++i)
        times.push_back((keys[i - 1] + keys[i]) / 2);
    for (int i = 0; i <= 10; ++i)
        times.push_back(duration * i / 10);
    return times;
}

double WorstError(const Imported& im, const Keys& root, const Keys& tip) {
    double worst = 0;
    for (double t : CheckTimes(root, tip, im.clip->Duration)) {
        if (t > im.clip->Duration) continue;
        const Points want = Expected(root, tip, t);
        const Points got = Played(im, float(t), false);
        worst = std::max({worst, Distance(want.joint, got.joint), Distance(want.end, got.end)});
    }
    return worst;
}

bool WriteText(const std::string& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary);
    f << text;
    return bool(f);
}

Keys Bone(std::vector<double> rotationTimes, std::vector<double> angles,
          std::vector<double> positionTimes = {},
          std::vector<std::array<double, 3>> positions = {}) {
    Keys k;
    k.rotationTimes = std::move(rotationTimes);
    k.angles = std::move(angles);
    k.positionTimes = std::move(positionTimes);
    k.positions = std::move(positions);
    if (k.positionTimes.empty()) {
        k.positionTimes = {0};
        k.positions = {{0, 0, 0}};
    }
    return k;
}

TEST(KeyedImport, KeysOffEveryFrameGridPlayAtTheirOwnTimes) {
    // Keys rounded to milliseconds of 24 frames a second, and a bone keyed at other times.
    const Keys root = Bone({0, 0.7, 2.083}, {0, 0.9, -0.4}, {0.042, 1.042, 2.083},
                           {{{0, 0, 0}}, {{0.5, 0.2, 0}}, {{0.1, -0.3, 0.2}}});
    const Keys tip = Bone({0.042, 1.042, 1.5, 2.083}, {0.3, -0.8, 1.2, 0.1});
    const std::string path = TempPath("off_grid.x");
    ASSERT_TRUE(WriteText(path, XScene(root, tip, 1000)));
    Imported im;
    Import(path, &im);
    std::remove(path.c_str());
    ASSERT_NE(im.clip, nullptr);
    EXPECT_NEAR(im.clip->Duration, 2.083, 1e-6);
    EXPECT_LE(WorstError(im, root, tip), im.summary.ToleranceUsed) << im.report;
    EXPECT_NE(im.report.find("keys kept"), std::string::npos) << im.report;
}

TEST(KeyedImport, KeysOfAnUnevenRateAreSampledOnTheirOwnGrid) {
    // 37.5 keys a second (two ticks of 75): no whole rate near it holds the keys.
    std::vector<double> times, angles;
    for (int k = 0; k < 12; ++k) {
        times.push_back(k * 2 / 75.0);
        angles.push_back(std::sin(k * 0.7) * 1.2);
    }
    const Keys root = Bone(times, angles);
    const Keys tip = Bone(times, std::vector<double>(angles.rbegin(), angles.rend()));
    const std::string path = TempPath("rate_37_5.x");
    ASSERT_TRUE(WriteText(path, XScene(root, tip, 75)));
    Imported im;
    Import(path, &im);
    std::remove(path.c_str());
    ASSERT_NE(im.clip, nullptr);
    // Samples on the keys' own grid (and between them where the turns are wide).
    const double perKey = (1 / 37.5) / im.clip->TimeStep;
    EXPECT_NEAR(perKey, std::round(perKey), 1e-4) << im.report;
    EXPECT_NEAR(im.clip->Duration, 11 * 2 / 75.0, 1e-6);
    for (double t : CheckTimes(root, tip, im.clip->Duration)) {
        const Points want = Expected(root, tip, t);
        const Points got = Played(im, float(t), false);
        EXPECT_LE(Distance(want.end, got.end), im.summary.ToleranceUsed) << "at " << t;
    }
}

TEST(KeyedImport, LoopedClipsPlayTheirLastInterval) {
    // Two keys a second apart: on a frame grid (sampled and compressed) and off it (kept).
    for (const int ticks : {1, 1000}) {
        const Keys root = Bone({0, ticks == 1 ? 1.0 : 0.999}, {0, 1.5});
        const Keys tip = Bone({0, ticks == 1 ? 1.0 : 0.999}, {0.4, -0.6});
        const std::string path = TempPath("two_keys.x");
        ASSERT_TRUE(WriteText(path, XScene(root, tip, ticks)));
        Imported im;
        Import(path, &im);
        std::remove(path.c_str());
        ASSERT_NE(im.clip, nullptr);
        const double duration = im.clip->Duration;
        for (double u : {0.0, 0.25, 0.5, 0.75, 0.99}) {
            const Points want = Expected(root, tip, u * duration);
            const Points looped = Played(im, float(u * duration), true);
            EXPECT_LE(Distance(want.end, looped.end), 2 * im.summary.ToleranceUsed)
                << "looped at " << u << " of the clip, " << ticks << " ticks a second\n"
                << im.report;
        }
        // Played without looping it ends on its last key.
        const Points want = Expected(root, tip, duration);
        const Points end = Played(im, float(duration), false);
        EXPECT_LE(Distance(want.end, end.end), im.summary.ToleranceUsed);
        EXPECT_NE(im.report.find("jumps back"), std::string::npos) << im.report;
    }
}

TEST(KeyedImport, GltfClipsOfEachInterpolationLoopOverTheirWholeLength) {
    for (const char* interpolation : {"LINEAR", "CUBICSPLINE", "STEP"}) {
        std::vector<gltf_writer::Node> nodes(2);
        nodes[0].name = "Root";
        nodes[1].name = "Tip";
        nodes[1].parent = 0;
        nodes[1].translation[1] = 1;
        gltf_writer::Channel channel;
        channel.node = 0;
        channel.path = "rotation";
        channel.interpolation = interpolation;
        channel.times = {0, 1};
        const bool cubic = channel.interpolation == "CUBICSPLINE";
        const float half = 0.75f;  // half of a 1.5 radian turn about Z
        const std::vector<std::vector<float>> keys = {{0, 0, 0, 1},
                                                      {0, 0, std::sin(half), std::cos(half)}};
        for (const auto& q : keys) {
            if (cubic) channel.values.insert(channel.values.end(), 4, 0.0f);
            channel.values.insert(channel.values.end(), q.begin(), q.end());
            if (cubic) channel.values.insert(channel.values.end(), 4, 0.0f);
        }
        const std::string path = TempPath("two_keys.gltf");
        // The tip is a joint of the clip too (a key of its own).
        gltf_writer::Channel tipChannel;
        tipChannel.node = 1;
        tipChannel.path = "translation";
        tipChannel.interpolation = "LINEAR";
        tipChannel.times = {0};
        tipChannel.values = {0, 1, 0};
        ASSERT_TRUE(gltf_writer::Write(path, nodes, {channel, tipChannel}, false));
        Imported im;
        Import(path, &im);
        std::remove(path.c_str());
        ASSERT_NE(im.clip, nullptr);
        // Half way through, looped: the turn is under way (a step still holds its first key).
        const Points mid = Played(im, 0.5f, true);
        const Points start = Played(im, 0.0f, true);
        if (channel.interpolation == "STEP") {
            EXPECT_LE(Distance(mid.joint, start.joint), 1e-5) << interpolation;
        } else {
            EXPECT_GT(Distance(mid.joint, start.joint), 0.3) << interpolation << " froze\n"
                                                             << im.report;
        }
        // Just before the end, looped, it is near its last key, not back at its first (a step
        // holds its first key until the last).
        const Points late = Played(im, 0.999f, true);
        const Points last = Played(im, channel.interpolation == "STEP" ? 0.999f : 1.0f, false);
        EXPECT_LE(Distance(late.joint, last.joint), 0.01) << interpolation;
    }
}

TEST(KeyedImport, TheSourceUnitDeclaresWithoutRescaling) {
    const Keys root = Bone({0, 1}, {0, 1});
    const Keys tip = Bone({0, 1}, {0, -1});
    const std::string path = TempPath("unit.x");
    ASSERT_TRUE(WriteText(path, XScene(root, tip, 30)));
    Imported metres, centimetres;
    Import(path, &metres);
    Import(path, &centimetres, 100);
    std::remove(path.c_str());
    // 0.1 cm is 0.001 of a metre, or 0.1 of a centimetre unit; the bones are where they were.
    EXPECT_NEAR(metres.summary.ToleranceUsed, 0.001f, 1e-7f);
    EXPECT_NEAR(centimetres.summary.ToleranceUsed, 0.1f, 1e-6f);
    const orvane_file_info* info = OrvaneGetFileInfo(centimetres.file);
    EXPECT_FLOAT_EQ(info->ArtToolInfo->UnitsPerMeter, 100.0f);
    EXPECT_FLOAT_EQ(centimetres.skeleton->Bones[1].Transform.Position[1], 1.0f);
}

TEST(KeyedImport, RootMotionMovesTheModelAndKeepsThePoseInPlace) {
    // The root walks 2 units along x (and 0.3 up and down) and turns a quarter about the up
    // axis (Y), on a frame grid of 10 a second.
    std::vector<double> times, angles;
    std::vector<std::array<double, 3>> positions;
    for (int k = 0; k <= 10; ++k) {
        times.push_back(k / 10.0);
        angles.push_back(0.2 * std::sin(k * 0.9));
        positions.push_back({{0.2 * k, 0.3 * std::sin(k * 1.3), 0}});
    }
    const Keys root = Bone(times, angles, times, positions);
    const Keys tip = Bone(times, std::vector<double>(angles.rbegin(), angles.rend()));
    const std::string path = TempPath("root_motion.x");
    ASSERT_TRUE(WriteText(path, XScene(root, tip, 10)));
    Imported im;
    Import(path, &im, 0, "Root");
    std::remove(path.c_str());
    ASSERT_NE(im.clip, nullptr);
    ASSERT_EQ(im.skeleton->BoneCount, 4) << im.report;
    EXPECT_STREQ(im.skeleton->Bones[0].Name, "RootMotion");
    // Object space as before: the root motion bone and what is left of the root compose to
    // the root's own motion.
    EXPECT_LE(WorstError(im, root, tip), im.summary.ToleranceUsed) << im.report;
    const orvane_track_group* group = Entry(im.clip->TrackGroups, 0);
    uint32_t flags = 0, dofs = 0;
    OrvaneGetTrackGroupFlags(group, &flags, &dofs);
    EXPECT_NE(flags & 4u, 0u) << "played with variable-delta root motion by default";
    // Played on an instance, the model travels as the root did, up and down left in the pose.
    const orvane_file_info* info = OrvaneGetFileInfo(im.file);
    orvane_model_instance* instance = OrvaneInstantiateModel(Entry(info->Models, 0));
    ASSERT_NE(instance, nullptr);
    orvane_control* control = OrvanePlayControlledAnimation(0.0f, im.clip, instance);
    ASSERT_NE(control, nullptr);
    float model[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    for (int f = 1; f <= 10; ++f) {
        OrvaneSetModelClock(instance, f * 0.1f);
        OrvaneUpdateModelMatrix(instance, 0.1f, model, model, false);
    }
    EXPECT_NEAR(model[12], 2.0f, 0.01f) << "the model travels along x";
    EXPECT_NEAR(model[13], 0.0f, 1e-4f) << "height stays in the pose";
    OrvaneFreeControl(control);
    OrvaneFreeModelInstance(instance);
    EXPECT_NE(im.report.find("root motion from \"Root\""), std::string::npos) << im.report;
}

TEST(KeyedImport, ARigidMeshFarFromItsNodeStaysWithinTheTolerance) {
    // A box 4 to 6 units out along x of a node that turns about Z (24 keys a second): the
    // tolerance holds at its vertices, not only at the node's joint.
    std::vector<gltf_writer::Node> nodes(1);
    nodes[0].name = "Arm";
    gltf_writer::Channel channel;
    channel.path = "rotation";
    channel.interpolation = "LINEAR";
    std::vector<double> times, angles;
    for (int k = 0; k < 12; ++k) {
        times.push_back(k / 24.0);
        angles.push_back(0.6 * std::sin(k * 0.5) + 0.013 * k * k);
        channel.times.push_back(float(times.back()));
        const float h = float(angles.back() / 2);
        channel.values.insert(channel.values.end(), {0, 0, std::sin(h), std::cos(h)});
    }
    gltf_writer::RigidMesh box;
    for (int v = 0; v < 8; ++v)
        box.positions.insert(box.positions.end(),
                             {v & 1 ? 6.0f : 4.0f, v & 2 ? 0.5f : -0.5f, v & 4 ? 0.5f : -0.5f});
    box.indices = {0, 1, 3, 0, 3, 2, 4, 6, 7, 4, 7, 5, 0, 4, 5, 0, 5, 1,
                   2, 3, 7, 2, 7, 6, 0, 2, 6, 0, 6, 4, 1, 5, 7, 1, 7, 3};
    const std::string path = TempPath("rigid.gltf");
    ASSERT_TRUE(gltf_writer::Write(path, nodes, {channel}, false, "Swing", &box));
    Imported im;
    Import(path, &im);
    std::remove(path.c_str());
    ASSERT_NE(im.clip, nullptr);
    ASSERT_EQ(im.skeleton->BoneCount, 1);
    EXPECT_GE(im.summary.CharacterHeight, 6.0f) << "the extent holds the rigid mesh";
    const orvane_track_group* group = Entry(im.clip->TrackGroups, 0);
    double worst = 0;
    for (int i = 0; i <= 22; ++i) {
        const double t = times.back() * i / 22;  // keys and half way between them
        size_t k = 1;
        while (k + 1 < times.size() && times[k] < t)
            ++k;
        const double u = std::clamp((t - times[k - 1]) / (times[k] - times[k - 1]), 0.0, 1.0);
        const double a = angles[k - 1] + u * (angles[k] - angles[k - 1]);
        orvane_track_sample_context context = {};
        context.SampleTime = float(t);
        context.SampleDuration = im.clip->Duration;
        orvane_transform local = {};
        OrvaneSampleTrackUUULocal(&context, &group->TransformTracks[0], nullptr, &local);
        float m[16];
        OrvaneBuildCompositeTransform4x4(&local, m);
        for (size_t v = 0; v < box.positions.size(); v += 3) {
            const double x = box.positions[v], y = box.positions[v + 1], z = box.positions[v + 2];
            const double want[3] = {x * std::cos(a) - y * std::sin(a),
                                    x * std::sin(a) + y * std::cos(a), z};
            double got[3];
            for (int r = 0; r < 3; ++r)
                got[r] = m[r] * x + m[4 + r] * y + m[8 + r] * z + m[12 + r];
            worst = std::max(worst, Distance(want, got));
        }
    }
    EXPECT_LE(worst, im.summary.ToleranceUsed) << im.report;
}

}  // namespace

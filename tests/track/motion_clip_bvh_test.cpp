// The BVH reader of the compression tests and benchmarks (bench/support): bones, parents,
// frames and transforms against values read from the files' text, with the rotations composed
// here from the Euler angles as quaternions.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <numbers>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "orvane_motion_clip.h"
#include "testing/data_path.h"

using orvane_workload::SampledMotion;

namespace {

#define ORVANE_SKIP_WITHOUT_BVH()                                                   \
    do {                                                                            \
        if (!orvane_workload::CanLoadBvh())                                         \
            GTEST_SKIP() << "this build reads no BVH (assimp, which reads it, was " \
                            "not found)";                                           \
    } while (0)

std::string TempPath(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/orvane_bvh_" + std::to_string(::getpid()) +
           "_" + name;
}

std::string WriteTemp(const char* name, const std::string& text) {
    const std::string path = TempPath(name);
    std::ofstream(path) << text;
    return path;
}

// Rotations about x, y or z (axis 0 to 2) by degrees, composed in the order given: the
// quaternion product q1 q2 q3, x y z w.
struct Euler {
    int axis;
    double degrees;
};
void Compose(std::initializer_list<Euler> angles, double q[4]) {
    q[0] = q[1] = q[2] = 0;
    q[3] = 1;
    for (const Euler& e : angles) {
        const double half = e.degrees * std::numbers::pi / 360.0;
        double b[4] = {0, 0, 0, std::cos(half)};
        b[e.axis] = std::sin(half);
        const double a[4] = {q[0], q[1], q[2], q[3]};
        q[0] = a[3] * b[0] + a[0] * b[3] + a[1] * b[2] - a[2] * b[1];
        q[1] = a[3] * b[1] - a[0] * b[2] + a[1] * b[3] + a[2] * b[0];
        q[2] = a[3] * b[2] + a[0] * b[1] - a[1] * b[0] + a[2] * b[3];
        q[3] = a[3] * b[3] - a[0] * b[0] - a[1] * b[1] - a[2] * b[2];
    }
}

void ExpectPosition(const SampledMotion& m, int frame, int bone, double x, double y, double z) {
    const float* p = &m.positions[m.at(frame, bone) * 3];
    EXPECT_NEAR(p[0], x, 1e-4) << "frame " << frame << " bone " << bone;
    EXPECT_NEAR(p[1], y, 1e-4) << "frame " << frame << " bone " << bone;
    EXPECT_NEAR(p[2], z, 1e-4) << "frame " << frame << " bone " << bone;
}

// The same rotation: q or -q.
void ExpectOrientation(const SampledMotion& m, int frame, int bone, const double q[4]) {
    const float* r = &m.orientations[m.at(frame, bone) * 4];
    const double dot = r[0] * q[0] + r[1] * q[1] + r[2] * q[2] + r[3] * q[3];
    const double sign = dot < 0 ? -1 : 1;
    for (int c = 0; c < 4; ++c)
        EXPECT_NEAR(r[c], sign * q[c], 1e-5) << "frame " << frame << " bone " << bone << " " << c;
}

void ExpectUnitScales(const SampledMotion& m) {
    for (float s : m.scales)
        ASSERT_EQ(s, 1.0f);
}

// Two joints below a root with an offset and six channels; end sites on both leaves. The
// second joint lists its angles in another order and has no end site of its own.
const char kSmall[] = R"(HIERARCHY
ROOT Pelvis
{
  OFFSET 1.5 -2 3
  CHANNELS 6 Xposition Yposition Zposition Zrotation Xrotation Yrotation
  JOINT Spine
  {
    OFFSET 0 10 0
    CHANNELS 3 Xrotation Yrotation Zrotation
    End Site
    {
      OFFSET 0 5 0
    }
  }
  JOINT Leg
  {
    OFFSET -4 0 0.5
    CHANNELS 3 Yrotation Zrotation Xrotation
    JOINT Foot
    {
      OFFSET 0 -8 0
      CHANNELS 3 Zrotation Yrotation Xrotation
    }
  }
}
MOTION
Frames: 3
Frame Time: 0.04
0 0 0 0 0 0 0 0 0 0 0 0 0 0 0
10 20 -30 90 45 -10 5 -15 25 30 60 -90 1 2 3
-1.25 0.5 2 170 -170 120 0 0 180 -45 0 0 0 0 0
)";

TEST(BvhReader, SmallFileMatchesItsText) {
    ORVANE_SKIP_WITHOUT_BVH();
    const std::string path = WriteTemp("small.bvh", kSmall);
    SampledMotion m;
    std::string error;
    ASSERT_TRUE(orvane_workload::LoadBvh(path, 2.0f, &m, &error)) << error;
    std::remove(path.c_str());

    EXPECT_EQ(m.name, path.substr(path.find_last_of('/') + 1));
    ASSERT_EQ(m.boneCount(), 4);  // the end sites are not bones
    EXPECT_EQ(m.boneNames, (std::vector<std::string>{"Pelvis", "Spine", "Leg", "Foot"}));
    EXPECT_EQ(m.parents, (std::vector<int32_t>{-1, 0, 0, 2}));
    ASSERT_EQ(m.frameCount, 3);
    EXPECT_NEAR(m.timeStep, 0.04f, 1e-7f);
    ASSERT_EQ(m.positions.size(), 3u * 4 * 3);
    ASSERT_EQ(m.orientations.size(), 3u * 4 * 4);
    ASSERT_EQ(m.scales.size(), 3u * 4 * 3);
    ExpectUnitScales(m);

    // The root's position is its offset plus its channels, in units of 2 cm; the joints keep
    // their offsets.
    ExpectPosition(m, 0, 0, 3, -4, 6);
    ExpectPosition(m, 1, 0, 23, 36, -54);
    ExpectPosition(m, 2, 0, 0.5, -3, 10);
    for (int f = 0; f < 3; ++f) {
        ExpectPosition(m, f, 1, 0, 20, 0);
        ExpectPosition(m, f, 2, -8, 0, 1);
        ExpectPosition(m, f, 3, 0, -16, 0);
    }

    double q[4];
    for (int b = 0; b < 4; ++b) {
        Compose({}, q);
        ExpectOrientation(m, 0, b, q);
    }
    Compose({{2, 90}, {0, 45}, {1, -10}}, q);
    ExpectOrientation(m, 1, 0, q);
    Compose({{0, 5}, {1, -15}, {2, 25}}, q);
    ExpectOrientation(m, 1, 1, q);
    Compose({{1, 30}, {2, 60}, {0, -90}}, q);
    ExpectOrientation(m, 1, 2, q);
    Compose({{2, 1}, {1, 2}, {0, 3}}, q);
    ExpectOrientation(m, 1, 3, q);
    Compose({{2, 170}, {0, -170}, {1, 120}}, q);
    ExpectOrientation(m, 2, 0, q);
    Compose({{2, 180}}, q);
    ExpectOrientation(m, 2, 1, q);
    Compose({{1, -45}}, q);
    ExpectOrientation(m, 2, 2, q);
}

TEST(BvhReader, CmuWalkMatchesItsText) {
    ORVANE_SKIP_WITHOUT_BVH();
    const std::string path = orvane_data::Path("assets/bvh/cmu/walk.bvh");
    ORVANE_SKIP_WITHOUT_DATA(path);
    SampledMotion m;
    std::string error;
    ASSERT_TRUE(orvane_workload::LoadBvh(path, orvane_workload::kCmuUnitToCm, &m, &error)) << error;
    EXPECT_EQ(m.name, "walk.bvh");
    ASSERT_EQ(m.boneCount(), 31);
    ASSERT_EQ(m.frameCount, 344);
    EXPECT_NEAR(m.timeStep, 0.0083333f, 1e-9f);
    EXPECT_EQ(m.boneNames[0], "Hips");
    EXPECT_EQ(m.boneNames[1], "LHipJoint");
    EXPECT_EQ(m.boneNames[5], "LeftToeBase");
    EXPECT_EQ(m.boneNames[6], "RHipJoint");  // after LeftToeBase's end site
    EXPECT_EQ(m.boneNames[11], "LowerBack");
    EXPECT_EQ(m.parents[0], -1);
    EXPECT_EQ(m.parents[2], 1);
    EXPECT_EQ(m.parents[6], 0);
    EXPECT_EQ(m.parents[11], 0);
    ExpectUnitScales(m);

    const double unit = orvane_workload::kCmuUnitToCm;
    // Frame 0: 10.4194 16.7048 -30.1003 for the root, then zero angles but LeftUpLeg's
    // Zrotation of -21.
    ExpectPosition(m, 0, 0, 10.4194 * unit, 16.7048 * unit, -30.1003 * unit);
    double q[4];
    Compose({}, q);
    ExpectOrientation(m, 0, 0, q);
    ExpectOrientation(m, 0, 1, q);
    Compose({{2, -21}}, q);
    ExpectOrientation(m, 0, 2, q);
    // LeftUpLeg's OFFSET 1.65674 -1.80282 0.62477, in every frame.
    ExpectPosition(m, 0, 2, 1.65674 * unit, -1.80282 * unit, 0.62477 * unit);
    ExpectPosition(m, 343, 2, 1.65674 * unit, -1.80282 * unit, 0.62477 * unit);
    // Frame 100: the root at 9.4619 17.1086 -13.1364 turned Z -2.3252, Y 2.0638, X -4.3510;
    // LeftUpLeg Z -19.7932, Y -0.6682, X -8.4419; LeftLeg Z 13.2015, Y 18.8537, X 69.7502.
    ExpectPosition(m, 100, 0, 9.4619 * unit, 17.1086 * unit, -13.1364 * unit);
    Compose({{2, -2.3252}, {1, 2.0638}, {0, -4.3510}}, q);
    ExpectOrientation(m, 100, 0, q);
    Compose({{2, -19.7932}, {1, -0.6682}, {0, -8.4419}}, q);
    ExpectOrientation(m, 100, 2, q);
    Compose({{2, 13.2015}, {1, 18.8537}, {0, 69.7502}}, q);
    ExpectOrientation(m, 100, 3, q);

    // Successive frames of a bone stay in one hemisphere, as the compressor's input should.
    for (int b = 0; b < m.boneCount(); ++b)
        for (int f = 1; f < m.frameCount; ++f) {
            const float* a = &m.orientations[m.at(f - 1, b) * 4];
            const float* c = &m.orientations[m.at(f, b) * 4];
            ASSERT_GE(a[0] * c[0] + a[1] * c[1] + a[2] * c[2] + a[3] * c[3], 0.0f)
                << "bone " << b << " frame " << f;
        }
}

TEST(BvhReader, BadFilesAreRefused) {
    ORVANE_SKIP_WITHOUT_BVH();
    SampledMotion m;
    m.name = "untouched";
    std::string error;
    EXPECT_FALSE(orvane_workload::LoadBvh(TempPath("absent.bvh"), 1.0f, &m, &error));
    EXPECT_NE(error.find("absent.bvh"), std::string::npos) << error;

    // Only faults found after the hierarchy: assimp 5.2.5 leaks the nodes it has built when
    // it refuses a file inside the hierarchy (an unknown channel, say), which the sanitizer
    // builds report.
    const std::string text = kSmall;
    const size_t frames = text.find("Frames: 3");
    const size_t lastLine = text.rfind("-1.25");
    const struct {
        const char* name;
        std::string text;
    } bad[] = {
        {"short.bvh", text.substr(0, lastLine) + "-1.25 0.5 2 170\n"},
        {"one_frame.bvh", text.substr(0, frames) + "Frames: 1\nFrame Time: 0.04\n" +
                              "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"},
        {"no_time.bvh",
         text.substr(0, frames) + "Frames: 2\nFrame Time: 0\n" + text.substr(text.find("0 0 0 0"))},
        {"no_motion.bvh", text.substr(0, text.find("MOTION"))},
        {"not_a_number.bvh", std::string(text).replace(text.find("10 20 -30"), 2, "xx")},
    };
    for (const auto& file : bad) {
        const std::string path = WriteTemp(file.name, file.text);
        error.clear();
        EXPECT_FALSE(orvane_workload::LoadBvh(path, 1.0f, &m, &error)) << file.name;
        EXPECT_FALSE(error.empty()) << file.name;
        std::remove(path.c_str());
    }
    EXPECT_EQ(m.name, "untouched");
}

}  // namespace

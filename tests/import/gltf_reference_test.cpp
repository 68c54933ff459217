// The tests' glTF evaluator against values worked out by hand: each interpolation on
// translation, rotation and scale, keys at uneven times, before the first and after the last
// key, and world transforms down a hierarchy, read from .gltf and from .glb.
#include "gltf_reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "gltf_writer.h"
#include "orvane.h"
#include "testing/data_path.h"

namespace {

const double kS = std::sqrt(0.5);

// Root turned 90 degrees about z, scaled by 2, at (1, 0, 0); a child at (0, 2, 0) whose
// translation, rotation and scale are animated with Interpolation; a grandchild at (1, 0, 0).
std::vector<gltf_writer::Node> Nodes() {
    std::vector<gltf_writer::Node> nodes(3);
    nodes[0].name = "root";
    nodes[0].translation[0] = 1;
    nodes[0].rotation[2] = float(kS), nodes[0].rotation[3] = float(kS);
    nodes[0].scale[0] = nodes[0].scale[1] = nodes[0].scale[2] = 2;
    nodes[1].name = "child";
    nodes[1].parent = 0;
    nodes[1].translation[1] = 2;
    nodes[2].name = "tip";
    nodes[2].parent = 1;
    nodes[2].translation[0] = 1;
    return nodes;
}

std::vector<gltf_writer::Channel> Channels(const std::string& interpolation) {
    const float s = float(kS);
    std::vector<gltf_writer::Channel> c(3);
    c[0] = {1, "translation", interpolation, {0, 0.25f, 1}, {0, 0, 0, 1, 2, 3, 3, 2, 1}};
    // The third key is the second's far side: the shorter arc turns on to 135 degrees.
    c[1] = {
        1, "rotation", interpolation, {0.1f, 0.5f, 1.2f}, {0, 0, 0, 1, 0, 0, s, s, 0, 0, -1, 0}};
    c[2] = {1, "scale", interpolation, {0, 0.25f, 1}, {1, 1, 1, 2, 2, 2, 1, 3, 1}};
    if (interpolation == "CUBICSPLINE") {
        c[0].values = {0, 0, 0,  0, 0, 0, 4, 0, 0,          // key 0: in, value, out
                       0, 4, 0,  1, 2, 3, 2, 0, 0,          // key 1
                       0, 0, -2, 3, 2, 1, 0, 0, 0};         // key 2
        c[1].values = {0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0,  // out-tangent turns about z
                       0, 0, 0, 0, 0, 0, s, s, 0, 0, 0, 0,  //
                       0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0};
        c[2].values = {0, 0, 0, 1, 1, 1, 0, 0, 0,  //
                       0, 0, 0, 2, 2, 2, 0, 0, 0,  //
                       0, 0, 0, 1, 3, 1, 0, 0, 0};
    }
    return c;
}

gltf_reference::Document Load(const std::string& interpolation, bool binary) {
    const std::string path = std::string(OrvaneGetTemporaryDirectory()) + "orvane_gltf_reference_" +
                             interpolation + (binary ? ".glb" : ".gltf");
    EXPECT_TRUE(gltf_writer::Write(path, Nodes(), Channels(interpolation), binary));
    gltf_reference::Document doc;
    std::string error;
    EXPECT_TRUE(doc.Load(path, &error)) << error;
    std::remove(path.c_str());
    return doc;
}

void ExpectNear(const std::vector<double>& got, std::vector<double> want, double tolerance = 1e-6) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_NEAR(got[i], want[i], tolerance) << "component " << i;
}

std::vector<double> LocalOf(const gltf_reference::Document& doc, gltf_reference::Path path,
                            double time) {
    const gltf_reference::Animation& a = doc.animations[0];
    for (const gltf_reference::Channel& c : a.channels)
        if (c.path == path) return doc.Evaluate(a.samplers[size_t(c.sampler)], path, time);
    return {};
}

using gltf_reference::Path;

TEST(GltfReference, ReadsTheSceneFromGltfAndGlb) {
    for (bool binary : {false, true}) {
        const gltf_reference::Document doc = Load("LINEAR", binary);
        ASSERT_EQ(doc.nodes.size(), 3u);
        EXPECT_EQ(doc.nodes[2].name, "tip");
        EXPECT_EQ(doc.nodes[2].parent, 1);
        EXPECT_EQ(doc.nodes[1].parent, 0);
        ASSERT_EQ(doc.animations.size(), 1u);
        EXPECT_EQ(doc.animations[0].name, "Clip");
        EXPECT_FLOAT_EQ(float(doc.animations[0].duration), 1.2f);
        EXPECT_EQ(doc.animations[0].channels.size(), 3u);
    }
}

TEST(GltfReference, LinearInterpolatesAndTurnsAlongTheShorterArc) {
    const gltf_reference::Document doc = Load("LINEAR", false);
    ExpectNear(LocalOf(doc, Path::Translation, 0.125), {0.5, 1, 1.5});
    ExpectNear(LocalOf(doc, Path::Translation, 0.625), {2, 2, 2});
    ExpectNear(LocalOf(doc, Path::Translation, 1.1), {3, 2, 1});  // held after the last key
    ExpectNear(LocalOf(doc, Path::Scale, 0.625), {1.5, 2.5, 1.5});
    const double pi = std::acos(-1.0);
    ExpectNear(LocalOf(doc, Path::Rotation, 0.05), {0, 0, 0, 1});  // held before the first key
    ExpectNear(LocalOf(doc, Path::Rotation, 0.3), {0, 0, std::sin(pi / 8), std::cos(pi / 8)});
    // From 90 degrees to the far side of 180: halfway is 135 degrees, not 45 back.
    ExpectNear(LocalOf(doc, Path::Rotation, 0.85),
               {0, 0, std::sin(3 * pi / 8), std::cos(3 * pi / 8)}, 1e-6);
    // Slerp keeps a constant angular speed: a quarter of the way is 22.5 degrees.
    ExpectNear(LocalOf(doc, Path::Rotation, 0.2), {0, 0, std::sin(pi / 16), std::cos(pi / 16)});
}

TEST(GltfReference, StepHoldsEachKeyToTheNext) {
    const gltf_reference::Document doc = Load("STEP", true);
    ExpectNear(LocalOf(doc, Path::Translation, 0.2), {0, 0, 0});
    ExpectNear(LocalOf(doc, Path::Translation, 0.25), {1, 2, 3});
    ExpectNear(LocalOf(doc, Path::Translation, 0.99), {1, 2, 3});
    ExpectNear(LocalOf(doc, Path::Translation, 1.0), {3, 2, 1});
    ExpectNear(LocalOf(doc, Path::Rotation, 0.49), {0, 0, 0, 1});
    ExpectNear(LocalOf(doc, Path::Rotation, 0.5), {0, 0, kS, kS});
    ExpectNear(LocalOf(doc, Path::Scale, 0.7), {2, 2, 2});
}

TEST(GltfReference, CubicSplineIsTheHermiteFormWithTangentsScaledByTheInterval) {
    const gltf_reference::Document doc = Load("CUBICSPLINE", false);
    // Halfway through the 0.25 s interval: (v0 + v1) / 2 + 0.25 (b0 - a1) / 8.
    ExpectNear(LocalOf(doc, Path::Translation, 0.125), {0.625, 0.875, 1.5});
    // A quarter into it: weights 0.84375, 0.140625, 0.15625, -0.046875.
    ExpectNear(LocalOf(doc, Path::Translation, 0.0625), {0.296875, 0.265625, 0.46875});
    // Halfway through the 0.75 s interval.
    ExpectNear(LocalOf(doc, Path::Translation, 0.625), {2.1875, 2, 2.1875});
    ExpectNear(LocalOf(doc, Path::Translation, 0.25), {1, 2, 3});
    ExpectNear(LocalOf(doc, Path::Scale, 0.125), {1.5, 1.5, 1.5});
    // Rotation halfway through 0.4 s: (q0 + q1) / 2 + 0.4 b0 / 8, normalised.
    double q[4] = {0, 0, 0.5 * kS + 0.05, 0.5 + 0.5 * kS};
    const double n = std::sqrt(q[2] * q[2] + q[3] * q[3]);
    ExpectNear(LocalOf(doc, Path::Rotation, 0.3), {0, 0, q[2] / n, q[3] / n});
}

TEST(GltfReference, WorldTransformsComposeDownTheHierarchy) {
    const gltf_reference::Document doc = Load("LINEAR", true);
    const double pi = std::acos(-1.0);
    const std::vector<gltf_reference::Matrix> rest = doc.Worlds(-1, 0);
    // Rest: the child at root + R(90) (2 (0, 2, 0)) = (1 - 4, 0, 0).
    EXPECT_NEAR(rest[1][12], -3, 1e-6);
    EXPECT_NEAR(rest[1][13], 0, 1e-6);
    const std::vector<gltf_reference::Matrix> world = doc.Worlds(0, 0.85);
    // At 0.85 s the child is at (2.6, 2, 1.4), turned 135 degrees, scaled (1.2, 2.8, 1.2): the
    // tip's (1, 0, 0) becomes (1.2 cos 135, 1.2 sin 135, 0) in the child, then the root's
    // scale 2, turn of 90 degrees and offset.
    const double cx = 2.6 + 1.2 * std::cos(3 * pi / 4), cy = 2 + 1.2 * std::sin(3 * pi / 4);
    const double want[3] = {1 - 2 * cy, 2 * cx, 2 * 1.4};
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(world[2][size_t(12 + k)], want[k], 1e-5) << k;
    const double origin[3] = {0, 0, 0};
    const std::array<double, 3> p = gltf_reference::TransformPoint(world[1], origin);
    EXPECT_NEAR(p[0], 1 - 2 * 2, 1e-6);
    EXPECT_NEAR(p[1], 2 * 2.6, 1e-6);
}

TEST(GltfReference, ReadsTheProjectsGltfAssets) {
    for (const char* file : {"assets/gltf/Fox/Fox.glb", "assets/gltf/CesiumMan/CesiumMan.glb"}) {
        const std::string path = orvane_data::Path(file);
        ORVANE_SKIP_WITHOUT_DATA(path);
        gltf_reference::Document doc;
        std::string error;
        ASSERT_TRUE(doc.Load(path, &error)) << file << ": " << error;
        ASSERT_EQ(doc.skins.size(), 1u) << file;
        EXPECT_FALSE(doc.animations.empty()) << file;
        // At rest every joint's world matrix times its inverse bind matrix is the same matrix
        // (the skinned mesh's own placement): the hierarchy composes as the skin was bound.
        const std::vector<gltf_reference::Matrix> world = doc.Worlds(-1, 0);
        const gltf_reference::Skin& skin = doc.skins[0];
        ASSERT_FALSE(skin.joints.empty());
        const gltf_reference::Matrix first =
            gltf_reference::Multiply(world[size_t(skin.joints[0])], skin.inverseBind[0]);
        double worst = 0;
        for (size_t j = 0; j < skin.joints.size(); ++j) {
            const gltf_reference::Matrix m =
                gltf_reference::Multiply(world[size_t(skin.joints[j])], skin.inverseBind[j]);
            for (int k = 0; k < 16; ++k)
                worst = std::max(worst, std::fabs(m[size_t(k)] - first[size_t(k)]));
        }
        EXPECT_LT(worst, 1e-3) << file;
    }
}

}  // namespace

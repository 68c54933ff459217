// The camera against Eigen in double precision: view and projection matrices, their inverses,
// window <-> world round trips, picking rays and the refused configurations.
#include <cmath>
#include <random>

#include <Eigen/Dense>
#include <Eigen/Geometry>
#include <gtest/gtest.h>

#include "orvane/camera.h"
#include "support/log_capture.h"

namespace {

using Mat4 = Eigen::Matrix4d;
using Vec3 = Eigen::Vector3d;

Mat4 FromColumns4(const float* m) {
    return Eigen::Map<const Eigen::Matrix4f>(m).cast<double>();
}

// A camera with a random orientation, angles, offset and position.
orvane_camera RandomCamera(std::mt19937& rng, int depthMode, bool infinite) {
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    orvane_camera c;
    OrvaneInitializeDefaultCamera(&c);
    Eigen::Quaternionf q(unit(rng), unit(rng), unit(rng), unit(rng));
    q.normalize();
    c.OrientationQuaternion[0] = q.x();
    c.OrientationQuaternion[1] = q.y();
    c.OrientationQuaternion[2] = q.z();
    c.OrientationQuaternion[3] = q.w();
    for (int i = 0; i < 3; ++i) {
        c.Position[i] = 20.0f * unit(rng);
        c.ElevationAzimuthRoll[i] = 3.0f * unit(rng);
        c.Offset[i] = 5.0f * unit(rng);
    }
    c.DepthRangeMode = depthMode;
    c.NearPlane = 0.5f;
    c.FarPlane = infinite ? 0.0f : 200.0f;
    c.InfiniteDepthEpsilon = infinite ? 1e-6f : 0.0f;
    c.VerticalFieldOfView = 0.4f + 1.2f * (unit(rng) + 1.0f) * 0.5f;
    EXPECT_TRUE(OrvaneSetCameraAspectRatios(&c, 1.78f, 1920, 1080, 800, 600));
    EXPECT_TRUE(OrvaneBuildCameraMatrices(&c));
    return c;
}

TEST(Camera, DefaultCameraHasIdentityViewAndTheStatedProjection) {
    orvane_camera c;
    OrvaneInitializeDefaultCamera(&c);
    for (int i = 0; i < 16; ++i) {
        const float identity = (i % 5 == 0) ? 1.0f : 0.0f;
        EXPECT_EQ(c.View4x4[i], identity) << i;
        EXPECT_EQ(c.InverseView4x4[i], identity) << i;
    }
    const float p11 = 1.0f / std::tan(1.0471976f / 2.0f);
    EXPECT_NEAR(c.Projection4x4[5], p11, 1e-6);
    EXPECT_NEAR(c.Projection4x4[0], p11, 1e-6);
    EXPECT_EQ(c.Projection4x4[11], -1.0f);  // row 3, column 2
    EXPECT_NEAR(c.Projection4x4[10], (4.0 + 1000.0) / (4.0 - 1000.0), 1e-6);
    EXPECT_NEAR(c.Projection4x4[14], 2.0 * 4.0 * 1000.0 / (4.0 - 1000.0), 1e-4);
    Mat4 product = FromColumns4(c.Projection4x4) * FromColumns4(c.InverseProjection4x4);
    EXPECT_TRUE(product.isApprox(Mat4::Identity(), 1e-6)) << product;

    float v[3];
    OrvaneGetCameraForward(&c, v);
    EXPECT_EQ(Vec3(v[0], v[1], v[2]), Vec3(0, 0, -1));
    OrvaneGetCameraLeft(&c, v);
    EXPECT_EQ(Vec3(v[0], v[1], v[2]), Vec3(-1, 0, 0));
    OrvaneGetCameraDown(&c, v);
    EXPECT_EQ(Vec3(v[0], v[1], v[2]), Vec3(0, -1, 0));
}

TEST(Camera, MoveRelativeChangesPositionButNotTheMatrices) {
    orvane_camera c;
    OrvaneInitializeDefaultCamera(&c);
    OrvaneMoveCameraRelative(&c, 0, 0, -1);
    EXPECT_EQ(Vec3(c.Position[0], c.Position[1], c.Position[2]), Vec3(0, 0, -1));
    float location[3];
    OrvaneGetCameraLocation(&c, location);
    EXPECT_EQ(location[2], 0.0f);
    OrvaneBuildCameraMatrices(&c);
    OrvaneGetCameraLocation(&c, location);
    EXPECT_EQ(location[2], -1.0f);
}

TEST(Camera, ViewMatricesFollowTheOrientationAnglesAndOffset) {
    std::mt19937 rng(7);
    for (int n = 0; n < 200; ++n) {
        orvane_camera c = RandomCamera(rng, 1, false);
        Eigen::Quaterniond q(c.OrientationQuaternion[3], c.OrientationQuaternion[0],
                             c.OrientationQuaternion[1], c.OrientationQuaternion[2]);
        const double e = c.ElevationAzimuthRoll[0], a = c.ElevationAzimuthRoll[1],
                     r = c.ElevationAzimuthRoll[2];
        Eigen::Matrix3d m = q.toRotationMatrix() * Eigen::AngleAxisd(a, Vec3::UnitY()) *
                            Eigen::AngleAxisd(e, Vec3::UnitX()) *
                            Eigen::AngleAxisd(r, Vec3::UnitZ()).toRotationMatrix();
        Vec3 position(c.Position[0], c.Position[1], c.Position[2]);
        Vec3 offset(c.Offset[0], c.Offset[1], c.Offset[2]);
        Mat4 inverse = Mat4::Identity();
        inverse.topLeftCorner<3, 3>() = m;
        inverse.topRightCorner<3, 1>() = m * offset + position;
        EXPECT_TRUE(FromColumns4(c.InverseView4x4).isApprox(inverse, 1e-5));
        Mat4 product = FromColumns4(c.View4x4) * FromColumns4(c.InverseView4x4);
        EXPECT_TRUE(product.isApprox(Mat4::Identity(), 1e-5)) << product;

        // The orientation matrix path gives the same camera.
        orvane_camera d = c;
        d.UseOrientationQuaternion = false;
        Eigen::Matrix3f o = q.toRotationMatrix().cast<float>();
        for (int i = 0; i < 9; ++i)
            d.OrientationMatrix[i] = o(i / 3, i % 3);
        OrvaneBuildCameraMatrices(&d);
        EXPECT_TRUE(FromColumns4(d.View4x4).isApprox(FromColumns4(c.View4x4), 1e-5));
    }
}

TEST(Camera, ProjectionInversesHoldInEveryDepthMode) {
    std::mt19937 rng(11);
    for (int mode : {0, 1}) {
        for (bool infinite : {false, true}) {
            orvane_camera c = RandomCamera(rng, mode, infinite);
            Mat4 product = FromColumns4(c.Projection4x4) * FromColumns4(c.InverseProjection4x4);
            EXPECT_TRUE(product.isApprox(Mat4::Identity(), 1e-5))
                << "mode " << mode << " infinite " << infinite << "\n"
                << product;
        }
    }
    orvane_camera c;
    OrvaneInitializeDefaultCamera(&c);
    c.FarPlane = 0.0f;
    c.InfiniteDepthEpsilon = 0.25f;
    ASSERT_TRUE(OrvaneBuildCameraMatrices(&c));
    EXPECT_EQ(c.Projection4x4[10], 0.25f - 1.0f);
}

TEST(Camera, ProjectionElementsFollowTheDepthRangeMode) {
    // Every element of the projection and of its inverse, from the plane distances, the field
    // of view and the three aspect ratios; mode 1 maps depth to -1..1, any other mode to 0..1.
    for (int mode : {0, 1, 2}) {
        for (bool infinite : {false, true}) {
            orvane_camera c;
            OrvaneInitializeDefaultCamera(&c);
            c.DepthRangeMode = mode;
            c.PhysicalAspectRatio = 1.6f;
            c.ScreenAspectRatio = 1.25f;
            c.WindowAspectRatio = 0.8f;
            c.VerticalFieldOfView = 0.9f;
            c.NearPlane = 0.75f;
            c.FarPlane = infinite ? 0.0f : 300.0f;
            c.InfiniteDepthEpsilon = 0.125f;
            ASSERT_TRUE(OrvaneBuildCameraMatrices(&c));
            const double t = std::tan(0.45), n = 0.75, f = 300.0, e = 0.125;
            Mat4 p = Mat4::Zero();
            p(0, 0) = 1.25 / (t * 0.8 * 1.6);
            p(1, 1) = 1.0 / t;
            p(3, 2) = -1.0;
            if (mode == 1) {
                p(2, 2) = infinite ? e - 1.0 : (n + f) / (n - f);
                p(2, 3) = infinite ? n * (e - 2.0) : 2.0 * n * f / (n - f);
            } else {
                p(2, 2) = infinite ? e - 1.0 : f / (n - f);
                p(2, 3) = infinite ? (e - 1.0) * n : n * f / (n - f);
            }
            Mat4 inverse = Mat4::Zero();
            inverse(0, 0) = 1.0 / p(0, 0);
            inverse(1, 1) = 1.0 / p(1, 1);
            inverse(2, 3) = 1.0 / p(3, 2);
            inverse(3, 2) = 1.0 / p(2, 3);
            inverse(3, 3) = -p(2, 2) / (p(2, 3) * p(3, 2));
            const Mat4 projection = FromColumns4(c.Projection4x4);
            const Mat4 inverseProjection = FromColumns4(c.InverseProjection4x4);
            for (int r = 0; r < 4; ++r)
                for (int k = 0; k < 4; ++k) {
                    EXPECT_NEAR(projection(r, k), p(r, k), 1e-5 * (1.0 + std::fabs(p(r, k))))
                        << "mode " << mode << " infinite " << infinite << " at " << r << k;
                    EXPECT_NEAR(inverseProjection(r, k), inverse(r, k),
                                1e-5 * (1.0 + std::fabs(inverse(r, k))))
                        << "mode " << mode << " infinite " << infinite << " at " << r << k;
                }
        }
    }
}

TEST(Camera, WindowWorldRoundTripsInBothDepthModes) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int mode : {0, 1}) {
        for (bool infinite : {false, true}) {
            for (int n = 0; n < 300; ++n) {
                orvane_camera c = RandomCamera(rng, mode, infinite);
                const float width = 800, height = 600;
                // Depths strictly inside the clip range of the mode.
                const float lowest = mode == 1 ? -1.0f : 0.0f;
                const float z = lowest + (1.0f - lowest) * (0.05f + 0.9f * unit(rng));
                const float window[3] = {width * unit(rng), height * unit(rng),
                                         infinite ? lowest + 0.5f * (z - lowest) : z};
                float world[3], back[3];
                ASSERT_TRUE(OrvaneWindowSpaceToWorldSpace(&c, width, height, window, world));
                ASSERT_TRUE(OrvaneWorldSpaceToWindowSpace(&c, width, height, world, back));
                EXPECT_NEAR(back[0], window[0], 2e-2) << mode;
                EXPECT_NEAR(back[1], window[1], 2e-2) << mode;
                EXPECT_NEAR(back[2], window[2], 2e-3) << mode;

                // And world -> window -> world for a point in front of the camera.
                float forward[3], location[3];
                OrvaneGetCameraForward(&c, forward);
                OrvaneGetCameraLocation(&c, location);
                const float point[3] = {location[0] + 10 * forward[0] + unit(rng),
                                        location[1] + 10 * forward[1] + unit(rng),
                                        location[2] + 10 * forward[2] + unit(rng)};
                float w[3], p[3];
                ASSERT_TRUE(OrvaneWorldSpaceToWindowSpace(&c, width, height, point, w));
                ASSERT_TRUE(OrvaneWindowSpaceToWorldSpace(&c, width, height, w, p));
                for (int i = 0; i < 3; ++i)
                    EXPECT_NEAR(p[i], point[i], 5e-3) << mode;
            }
        }
    }
}

TEST(Camera, NearAndFarPlanesMapToTheEndsOfTheDepthRange) {
    for (int mode : {0, 1}) {
        orvane_camera c;
        OrvaneInitializeDefaultCamera(&c);
        c.DepthRangeMode = mode;
        OrvaneBuildCameraMatrices(&c);
        float w[3];
        const float nearPoint[3] = {0, 0, -4}, farPoint[3] = {0, 0, -1000};
        ASSERT_TRUE(OrvaneWorldSpaceToWindowSpace(&c, 640, 480, nearPoint, w));
        EXPECT_NEAR(w[2], mode == 1 ? -1.0f : 0.0f, 1e-5);
        EXPECT_NEAR(w[0], 320.0f, 1e-4);
        EXPECT_NEAR(w[1], 240.0f, 1e-4);
        ASSERT_TRUE(OrvaneWorldSpaceToWindowSpace(&c, 640, 480, farPoint, w));
        EXPECT_NEAR(w[2], 1.0f, 1e-5);
    }
}

TEST(Camera, PointsWithoutAFiniteImageAreRefusedWithoutWritingNotNumbers) {
    // A point a subnormal distance in front of the camera plane: its clip w is about 1e-39, so
    // its depth, and 0 / w for the centre's x and y, have no finite value in float arithmetic.
    orvane_camera c;
    OrvaneInitializeDefaultCamera(&c);
    const float nearlyOnPlane[3] = {0.0f, 0.0f, -1e-39f};
    float out[3] = {7, 7, 7};
    EXPECT_FALSE(OrvaneWorldSpaceToWindowSpace(&c, 640, 480, nearlyOnPlane, out));
    for (float v : out)
        EXPECT_EQ(v, 7.0f);

    // The window direction: a camera whose near plane is so far away that the inverse
    // projection's w of a far window point becomes subnormal.
    c.NearPlane = 1e33f;
    c.FarPlane = 0.0f;
    ASSERT_TRUE(OrvaneBuildCameraMatrices(&c));
    // w = (1 - z) / (2 n) in depth mode 1 with a zero epsilon.
    const float window[3] = {320.0f, 240.0f, 1.0f - 1.0f / 16777216.0f};
    EXPECT_FALSE(OrvaneWindowSpaceToWorldSpace(&c, 640, 480, window, out));
    for (float v : out)
        EXPECT_EQ(v, 7.0f);
    // A point well inside the range still converts.
    const float middle[3] = {320.0f, 240.0f, 0.0f};
    ASSERT_TRUE(OrvaneWindowSpaceToWorldSpace(&c, 640, 480, middle, out));
    for (float v : out)
        EXPECT_TRUE(std::isfinite(v));
}

TEST(Camera, PickingRaysPassThroughTheWindowPoint) {
    orvane_camera c;
    OrvaneInitializeDefaultCamera(&c);
    float origin[3], direction[3];
    ASSERT_TRUE(OrvaneGetPickingRay(&c, 640, 480, 320, 240, origin, direction));
    EXPECT_EQ(Vec3(direction[0], direction[1], direction[2]), Vec3(0, 0, -1));
    EXPECT_EQ(Vec3(origin[0], origin[1], origin[2]), Vec3(0, 0, 0));

    std::mt19937 rng(5);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int n = 0; n < 300; ++n) {
        orvane_camera r = RandomCamera(rng, n & 1, false);
        r.Offset[0] = r.Offset[1] = r.Offset[2] = 0.0f;  // the ray starts at the location
        OrvaneBuildCameraMatrices(&r);
        const float x = 800 * unit(rng), y = 600 * unit(rng);
        ASSERT_TRUE(OrvaneGetPickingRay(&r, 800, 600, x, y, origin, direction));
        Vec3 d(direction[0], direction[1], direction[2]);
        EXPECT_NEAR(d.norm(), 1.0, 1e-5);
        // A point along the ray lands on the same window point.
        const float point[3] = {origin[0] + 30 * direction[0], origin[1] + 30 * direction[1],
                                origin[2] + 30 * direction[2]};
        float w[3];
        ASSERT_TRUE(OrvaneWorldSpaceToWindowSpace(&r, 800, 600, point, w));
        EXPECT_NEAR(w[0], x, 1e-2);
        EXPECT_NEAR(w[1], y, 1e-2);
    }
}

TEST(Camera, PlanarBasesAndSmallHelpers) {
    orvane_camera c;
    OrvaneInitializeDefaultCamera(&c);
    const float normal[3] = {0, 1, 0}, point[3] = {0, 0, -10};
    float x[3], y[3];
    OrvaneGetCameraRelativePlanarBases(&c, false, normal, point, x, y);
    EXPECT_EQ(Vec3(x[0], x[1], x[2]), Vec3(1, 0, 0));
    EXPECT_EQ(Vec3(y[0], y[1], y[2]), Vec3(0, 0, -1));  // (0,1,0) x (1,0,0)
    OrvaneGetCameraRelativePlanarBases(&c, true, normal, point, x, y);
    // u = (0,0,-10) x (0,1,0) = (10,0,0): the same direction.
    EXPECT_NEAR(y[2], -1.0f, 1e-6);
    const float parallel[3] = {1, 0, 0};
    OrvaneGetCameraRelativePlanarBases(&c, false, parallel, point, x, y);
    EXPECT_EQ(Vec3(y[0], y[1], y[2]), Vec3(0, 0, 0));

    EXPECT_EQ(OrvaneGetMostLikelyPhysicalAspectRatio(1920, 1080), 1.78f);
    EXPECT_EQ(OrvaneGetMostLikelyPhysicalAspectRatio(1280, 1024), 1.33f);
    EXPECT_EQ(OrvaneGetMostLikelyPhysicalAspectRatio(1440, 960), 1.56f);
    EXPECT_NEAR(OrvaneFindAllowedLODError(2.0f, 1000, 1.0471976f, 50.0f),
                std::tan(0.5235988) * 2.0 * 50.0 / 500.0, 1e-6);

    EXPECT_TRUE(OrvaneSetCameraAspectRatios(&c, 1.78f, 1920, 1080, 1024, 768));
    EXPECT_NEAR(c.ScreenAspectRatio, 1920.0 / 1080.0, 1e-6);
    EXPECT_NEAR(c.WindowAspectRatio, 1024.0 / 768.0, 1e-6);
}

TEST(Camera, RefusesProjectionsWithoutAnInverseAndZeroWindows) {
    orvane_test::LogCapture log;
    orvane_camera c;
    OrvaneInitializeDefaultCamera(&c);
    const orvane_camera good = c;
    auto refused = [&](auto change) {
        orvane_camera d = good;
        change(d);
        size_t before = log.errors();
        EXPECT_FALSE(OrvaneBuildCameraMatrices(&d));
        EXPECT_EQ(log.errors(), before + 1);
        for (int i = 0; i < 16; ++i) {
            EXPECT_EQ(d.Projection4x4[i], good.Projection4x4[i]);
            EXPECT_TRUE(std::isfinite(d.InverseProjection4x4[i]));
        }
    };
    refused([](orvane_camera& d) { d.NearPlane = d.FarPlane = 10.0f; });
    refused([](orvane_camera& d) { d.NearPlane = 0.0f; });
    refused([](orvane_camera& d) { d.NearPlane = 0.0f, d.FarPlane = 0.0f; });
    refused([](orvane_camera& d) { d.VerticalFieldOfView = 0.0f; });
    refused([](orvane_camera& d) { d.WindowAspectRatio = 0.0f; });
    refused([](orvane_camera& d) { d.FarPlane = 0.0f, d.InfiniteDepthEpsilon = 2.0f; });

    float out[3] = {7, 7, 7};
    const float p[3] = {1, 2, 3};
    log.Clear();
    EXPECT_FALSE(OrvaneWindowSpaceToWorldSpace(&c, 0, 480, p, out));
    EXPECT_FALSE(OrvaneWorldSpaceToWindowSpace(&c, 640, 0, p, out));
    float dir[3];
    EXPECT_FALSE(OrvaneGetPickingRay(&c, 0, 0, 1, 1, out, dir));
    EXPECT_EQ(out[0], 7.0f);
    EXPECT_FALSE(OrvaneSetCameraAspectRatios(&c, 1.33f, 640, 0, 640, 480));
    EXPECT_EQ(c.ScreenAspectRatio, good.ScreenAspectRatio);
    EXPECT_EQ(OrvaneFindAllowedLODError(1, 0, 1, 1), 0.0f);
    EXPECT_EQ(log.errors(), 5u);
    // A point on the camera plane has no window position.
    const float onPlane[3] = {1, 0, 0};
    EXPECT_FALSE(OrvaneWorldSpaceToWindowSpace(&c, 640, 480, onPlane, out));
}

}  // namespace

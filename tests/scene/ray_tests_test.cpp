// Every ray test against an independent reference on random cases (double precision, computed
// another way: sphere by sampling the closest approach, box by transforming into box
// coordinates, triangle by plane intersection and barycentric areas), plus the edge cases.
#include <cmath>
#include <cstring>
#include <random>

#include <Eigen/Dense>
#include <gtest/gtest.h>

#include "orvane/ray_tests.h"

namespace {

using Vec3 = Eigen::Vector3d;
using Vec3f = Eigen::Vector3f;

Vec3 V(const float* p) {
    return Vec3(p[0], p[1], p[2]);
}

struct Rng {
    std::mt19937 engine{1234};
    float operator()(float lo, float hi) {
        return std::uniform_real_distribution<float>(lo, hi)(engine);
    }
    Vec3f Vector(float range) {
        return Vec3f((*this)(-range, range), (*this)(-range, range), (*this)(-range, range));
    }
    Vec3f Unit() { return Vector(1.0f).normalized(); }
};

TEST(RayPlane, MatchesTheLineEquationAndRefusesParallelRays) {
    Rng rng;
    int hits = 0;
    for (int n = 0; n < 5000; ++n) {
        Vec3f normal = rng.Unit(), origin = rng.Vector(10), direction = rng.Vector(1);
        const float d = rng(-5, 5);
        float t = -99;
        const int r =
            OrvaneRayIntersectsPlaneAt(normal.data(), d, origin.data(), direction.data(), &t);
        ASSERT_NE(r, 0);
        Vec3 hit = V(origin.data()) + double(t) * V(direction.data());
        EXPECT_NEAR(V(normal.data()).dot(hit) + d, 0.0, 1e-3 * (1 + std::fabs(t)));
        EXPECT_EQ(r, t >= 0 ? 1 : -1);
        hits += r == 1;
    }
    EXPECT_GT(hits, 1000);
    const float normal[3] = {0, 0, 1}, origin[3] = {1, 2, 0}, direction[3] = {1, 1, 0};
    float t = 42;
    EXPECT_EQ(OrvaneRayIntersectsPlaneAt(normal, 0, origin, direction, &t), 0);
    EXPECT_EQ(t, 42.0f);
}

TEST(RaySphere, AgreesWithTheClosestApproach) {
    Rng rng;
    int counts[3] = {};
    for (int n = 0; n < 10000; ++n) {
        Vec3f center = rng.Vector(5), origin = rng.Vector(5), direction = rng.Unit();
        const float radius = rng(0.1f, 3.0f);
        // Reference: distance from the centre to the line, and the parameters of the chord.
        Vec3 c = V(center.data()), o = V(origin.data()), d = V(direction.data()).normalized();
        const double along = (c - o).dot(d);
        const double distance = (o + along * d - c).norm();
        if (std::fabs(distance - radius) < 1e-3) continue;  // grazing: float may go either way
        const bool meets = distance < radius;
        EXPECT_EQ(OrvaneRayIntersectsSphere(center.data(), radius, origin.data(), direction.data()),
                  meets);
        float tNear = 99, tFar = 99;
        const int r = OrvaneRayIntersectsSphereAt(center.data(), radius, origin.data(),
                                                  direction.data(), &tNear, &tFar);
        ++counts[r + 1];
        if (!meets) {
            EXPECT_EQ(r, 0);
            EXPECT_EQ(tNear, 99.0f);
            continue;
        }
        const double half = std::sqrt(double(radius) * radius - distance * distance);
        EXPECT_NEAR(tNear, along - half, 2e-3 * (1 + radius));
        EXPECT_NEAR(tFar, along + half, 2e-3 * (1 + radius));
        EXPECT_EQ(r, (along + half >= 0) ? 1 : -1);
    }
    EXPECT_GT(counts[0], 200);
    EXPECT_GT(counts[1], 2000);
    EXPECT_GT(counts[2], 300);

    const float center[3] = {0, 0, -5}, inside[3] = {0, 0, -5}, outside[3] = {0, 0, 0};
    const float forward[3] = {0, 0, 1}, back[3] = {0, 0, -1};
    float tNear, tFar;
    EXPECT_EQ(OrvaneRayIntersectsSphereAt(center, 1, outside, forward, &tNear, &tFar), -1);
    EXPECT_EQ(tNear, -6.0f);
    EXPECT_EQ(tFar, -4.0f);
    EXPECT_EQ(OrvaneRayIntersectsSphereAt(center, 1, outside, back, &tNear, &tFar), 1);
    EXPECT_EQ(tNear, 4.0f);
    EXPECT_EQ(OrvaneRayIntersectsSphereAt(center, 1, inside, forward, &tNear, &tFar), 1);
    EXPECT_EQ(tNear, -1.0f);
    EXPECT_EQ(tFar, 1.0f);
}

// A random oriented box with orthogonal, scaled axes.
struct Box {
    float matrix[16];
    float min[3], max[3];
    Eigen::Matrix3d axes;  // columns
    Vec3 origin;
};

Box RandomBox(Rng& rng, bool unitAxes) {
    Box b{};
    Eigen::Matrix3f rotation =
        Eigen::Quaternionf(
            Eigen::Vector4f(rng(-1, 1), rng(-1, 1), rng(-1, 1), rng(-1, 1)).normalized())
            .toRotationMatrix();
    Vec3f origin = rng.Vector(3);
    for (int i = 0; i < 3; ++i) {
        const float scale = unitAxes ? 1.0f : rng(0.3f, 3.0f);
        for (int k = 0; k < 3; ++k)
            b.matrix[4 * i + k] = rotation(k, i) * scale;
        b.matrix[12 + i] = origin[i];
        b.min[i] = rng(-2, 0.5f);
        b.max[i] = b.min[i] + rng(0.1f, 3.0f);
    }
    b.matrix[15] = 1;
    for (int i = 0; i < 3; ++i)
        b.axes.col(i) = V(b.matrix + 4 * i);
    b.origin = V(b.matrix + 12);
    return b;
}

// Reference: the ray in box coordinates (x = c + A u), clipped against [min, max] in double.
struct Clip {
    bool hit;
    double entry, exit;
    int entryFace, exitFace;  // 2 i maximum face, 2 i + 1 minimum face
    double margin;            // distance of the decision from a tie
};
Clip ReferenceClip(const Box& b, const Vec3& o, const Vec3& d) {
    Eigen::Matrix3d inverse = b.axes.inverse();
    Vec3 uo = inverse * (o - b.origin), ud = inverse * d;
    Clip c{false, -1e300, 1e300, -1, -1, 1e300};
    for (int i = 0; i < 3; ++i) {
        double t0 = (b.min[i] - uo[i]) / ud[i], t1 = (b.max[i] - uo[i]) / ud[i];
        int f0 = 2 * i + 1, f1 = 2 * i;
        if (t0 > t1) std::swap(t0, t1), std::swap(f0, f1);
        if (t0 > c.entry) c.entry = t0, c.entryFace = f0;
        if (t1 < c.exit) c.exit = t1, c.exitFace = f1;
    }
    c.hit = c.entry <= c.exit && c.exit >= 0;
    c.margin = std::min(std::fabs(c.exit - c.entry), std::fabs(c.exit));
    return c;
}

TEST(RayBox, AtFormAgreesWithClippingInBoxCoordinates) {
    Rng rng;
    int hits = 0;
    for (int n = 0; n < 10000; ++n) {
        Box b = RandomBox(rng, false);
        Vec3f origin = rng.Vector(6), direction = rng.Vector(1);
        // Half the rays aim near the box so that hits and near misses are both common.
        if (n & 1) direction = Vec3f(b.matrix + 12) + rng.Vector(2) - origin;
        Clip ref = ReferenceClip(b, V(origin.data()), V(direction.data()));
        if (ref.margin < 1e-3) continue;
        orvane_box_intersection r;
        const bool got =
            OrvaneRayIntersectsBoxAt(b.matrix, b.min, b.max, origin.data(), direction.data(), &r);
        ASSERT_EQ(got, ref.hit) << n;
        hits += got;
        // Nearly parallel slabs give parameters too large to compare in float.
        if (std::fabs(ref.entry) > 1e4 || std::fabs(ref.exit) > 1e4) continue;
        EXPECT_NEAR(r.EntryT, ref.entry, 1e-3 * (1 + std::fabs(ref.entry)));
        EXPECT_NEAR(r.ExitT, ref.exit, 1e-3 * (1 + std::fabs(ref.exit)));
        Vec3 entryNormal = b.axes.col(ref.entryFace / 2) * ((ref.entryFace & 1) ? -1 : 1);
        Vec3 exitNormal = b.axes.col(ref.exitFace / 2) * ((ref.exitFace & 1) ? -1 : 1);
        EXPECT_TRUE(V(r.EntryNormal).isApprox(entryNormal, 1e-5)) << n;
        EXPECT_TRUE(V(r.ExitNormal).isApprox(exitNormal, 1e-5)) << n;
    }
    EXPECT_GT(hits, 1000);
}

TEST(RayBox, QuickFormAgreesForUnitAxes) {
    Rng rng;
    int hits = 0;
    for (int n = 0; n < 10000; ++n) {
        Box b = RandomBox(rng, true);
        Vec3f origin = rng.Vector(6), direction = rng.Vector(1);
        // Half the rays aim near the box so that hits and near misses are both common.
        if (n & 1) direction = Vec3f(b.matrix + 12) + rng.Vector(2) - origin;
        Clip ref = ReferenceClip(b, V(origin.data()), V(direction.data()));
        if (ref.margin < 1e-3) continue;
        const bool got =
            OrvaneRayIntersectsBox(b.matrix, b.min, b.max, origin.data(), direction.data());
        ASSERT_EQ(got, ref.hit) << n;
        hits += got;
    }
    EXPECT_GT(hits, 1000);
}

TEST(RayBox, ParallelRays) {
    const float box[16] = {2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 1, 1, 1, 1};
    const float min[3] = {-1, -1, -1}, max[3] = {1, 1, 1};  // world [-1, 3]^3
    const float along[3] = {1, 0, 0};
    orvane_box_intersection r;
    // From inside, along an axis: parallel to four faces, between all of them.
    const float inside[3] = {1, 1, 1};
    EXPECT_TRUE(OrvaneRayIntersectsBoxAt(box, min, max, inside, along, &r));
    EXPECT_FLOAT_EQ(r.EntryT, -2.0f);
    EXPECT_FLOAT_EQ(r.ExitT, 2.0f);
    EXPECT_EQ(V(r.ExitNormal), Vec3(2, 0, 0));
    EXPECT_EQ(V(r.EntryNormal), Vec3(-2, 0, 0));
    // Beside the box, parallel to its y faces: the At form rejects it; the quick form (whose
    // raw corners are [-1, 3] along y here too) skips the parallel faces and accepts it.
    const float beside[3] = {-5, 3.5f, 1};
    EXPECT_FALSE(OrvaneRayIntersectsBoxAt(box, min, max, beside, along, &r));
    EXPECT_EQ(r.EntryT, 3.4028235e38f);
    EXPECT_EQ(r.ExitT, -3.4028235e38f);
    EXPECT_TRUE(OrvaneRayIntersectsBox(box, min, max, beside, along));
    const float below[3] = {-5, -1.5f, 1};
    EXPECT_FALSE(OrvaneRayIntersectsBoxAt(box, min, max, below, along, &r));
    // Box behind the ray.
    const float away[3] = {-1, 0, 0};
    const float right[3] = {5, 1, 1};
    EXPECT_FALSE(OrvaneRayIntersectsBoxAt(box, min, max, right, along, &r));
    EXPECT_TRUE(OrvaneRayIntersectsBoxAt(box, min, max, right, away, &r));
    EXPECT_FLOAT_EQ(r.EntryT, 2.0f);
}

TEST(RayTriangle, AgreesWithPlaneAndAreaReference) {
    Rng rng;
    int counts[3] = {};
    for (int n = 0; n < 20000; ++n) {
        Vec3f a = rng.Vector(3), b = rng.Vector(3), c = rng.Vector(3);
        Vec3f origin = rng.Vector(5), direction = rng.Vector(1);
        // Reference: intersect the plane, then barycentric weights by signed areas.
        Vec3 A = V(a.data()), B = V(b.data()), C = V(c.data()), O = V(origin.data()),
             D = V(direction.data());
        Vec3 normal = (B - A).cross(C - A);
        const double denom = normal.dot(D);
        if (std::fabs(denom) < 1e-3 * normal.norm() * D.norm()) continue;
        const double t = normal.dot(A - O) / denom;
        Vec3 p = O + t * D;
        const double area = normal.squaredNorm();
        const double weightB = normal.dot((p - A).cross(C - A)) / area;
        const double weightC = normal.dot((B - A).cross(p - A)) / area;
        const double margin =
            std::min({std::fabs(weightB), std::fabs(weightC), std::fabs(1 - weightB - weightC)});
        if (margin < 1e-3) continue;
        const bool inside = weightB > 0 && weightC > 0 && weightB + weightC < 1;
        orvane_triangle_intersection r;
        const int got = OrvaneRayIntersectsTriangleAt(a.data(), b.data(), c.data(), origin.data(),
                                                      direction.data(), &r);
        ++counts[got + 1];
        if (!inside) {
            EXPECT_EQ(got, 0) << n;
            continue;
        }
        ASSERT_NE(got, 0) << n;
        EXPECT_EQ(Vec3f(r.EdgeU), b - a);
        EXPECT_EQ(Vec3f(r.EdgeV), c - a);
        EXPECT_EQ(got, t >= 0 ? 1 : -1);
        EXPECT_NEAR(r.T, t, 1e-3 * (1 + std::fabs(t)));
        EXPECT_NEAR(r.U, weightB, 1e-3);
        EXPECT_NEAR(r.V, weightC, 1e-3);
        EXPECT_EQ(r.Backfacing, denom > 0);  // the ray runs along the normal: the back side
    }
    EXPECT_GT(counts[0], 300);
    EXPECT_GT(counts[2], 300);
    EXPECT_GT(counts[1], 5000);
}

TEST(RayTriangle, EdgesAndCornersAreMisses) {
    const float a[3] = {0, 0, 0}, b[3] = {1, 0, 0}, c[3] = {0, 1, 0};
    const float down[3] = {0, 0, -1}, flat[3] = {1, 1, 0};
    orvane_triangle_intersection r;
    auto through = [&](float x, float y) {
        const float origin[3] = {x, y, 1};
        return OrvaneRayIntersectsTriangleAt(a, b, c, origin, down, &r);
    };
    EXPECT_EQ(through(0, 0), 0);        // corner A
    EXPECT_EQ(through(1, 0), 0);        // corner B
    EXPECT_EQ(through(0.5f, 0), 0);     // edge AB
    EXPECT_EQ(through(0, 0.5f), 0);     // edge AC
    EXPECT_EQ(through(0.5f, 0.5f), 0);  // edge BC
    EXPECT_EQ(through(0.25f, 0.25f), 1);
    EXPECT_FLOAT_EQ(r.T, 1.0f);
    EXPECT_FLOAT_EQ(r.U, 0.25f);
    EXPECT_FLOAT_EQ(r.V, 0.25f);
    EXPECT_FALSE(r.Backfacing);  // counter-clockwise seen from above: the front
    const float below[3] = {0.25f, 0.25f, -1}, up[3] = {0, 0, 1};
    EXPECT_EQ(OrvaneRayIntersectsTriangleAt(a, b, c, below, up, &r), 1);
    EXPECT_TRUE(r.Backfacing);
    EXPECT_EQ(OrvaneRayIntersectsTriangleAt(a, b, c, below, down, &r), -1);
    EXPECT_FLOAT_EQ(r.T, -1.0f);
    const float origin[3] = {0.2f, 0.2f, 0};
    // A miss, here a ray in the triangle's plane, leaves the record as it was.
    std::memset(&r, 0x5A, sizeof(r));
    orvane_triangle_intersection untouched = r;
    EXPECT_EQ(OrvaneRayIntersectsTriangleAt(a, b, c, origin, flat, &r), 0);
    EXPECT_EQ(std::memcmp(&r, &untouched, sizeof(r)), 0);
    EXPECT_EQ(through(0.5f, 0), 0);
    EXPECT_EQ(std::memcmp(&r, &untouched, sizeof(r)), 0);
}

}  // namespace

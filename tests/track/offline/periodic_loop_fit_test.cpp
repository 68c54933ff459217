// Periodic loops: a fitted loop carries the start placement to the end placement, composes
// as a screw motion, and stays sound without rotation or without motion.
#include <cmath>
#include <cstring>
#include <random>

#include <Eigen/Geometry>
#include <gtest/gtest.h>

#include "orvane/fit.h"
#include "orvane/math.h"

namespace {

struct Placement {
    float p[3];
    float q[4];
};

Placement RandomPlacement(std::mt19937& random) {
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    Placement r;
    for (float& c : r.p)
        c = 5.0f * u(random);
    float length = 0.0f;
    for (float& c : r.q) {
        c = u(random);
        length += c * c;
    }
    length = std::sqrt(length);
    for (float& c : r.q)
        c /= length;
    return r;
}

// Orientations compare up to sign.
void ExpectSamePlacement(const Placement& a, const Placement& b, float tolerance) {
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(a.p[c], b.p[c], tolerance) << "position " << c;
    float dot = 0.0f;
    for (int c = 0; c < 4; ++c)
        dot += a.q[c] * b.q[c];
    EXPECT_NEAR(std::fabs(dot), 1.0f, tolerance);
}

bool AllFinite(const orvane_periodic_loop& loop) {
    const float* f = &loop.Radius;
    for (int i = 0; i < 12; ++i)
        if (!std::isfinite(f[i])) return false;
    return true;
}

TEST(PeriodicLoop, SteppingTheStartByTheFittedLoopGivesTheEnd) {
    std::mt19937 random(11);
    for (int trial = 0; trial < 200; ++trial) {
        const Placement start = RandomPlacement(random);
        const Placement end = RandomPlacement(random);
        const float seconds = trial % 5 == 0 ? 0.0f : 0.25f + 0.01f * float(trial);
        orvane_periodic_loop loop;
        OrvaneFitPeriodicLoop(start.p, start.q, end.p, end.q, seconds, &loop);
        ASSERT_TRUE(AllFinite(loop));
        Placement stepped = start;
        OrvaneStepPeriodicLoop(&loop, seconds > 0 ? seconds : 1.0f, stepped.p, stepped.q);
        ExpectSamePlacement(stepped, end, 2e-4f);
    }
}

TEST(PeriodicLoop, TwoHalfStepsMakeOneWholeStep) {
    std::mt19937 random(5);
    const Placement start = RandomPlacement(random);
    const Placement end = RandomPlacement(random);
    orvane_periodic_loop loop;
    OrvaneFitPeriodicLoop(start.p, start.q, end.p, end.q, 2.0f, &loop);
    Placement whole = start, halves = start;
    OrvaneStepPeriodicLoop(&loop, 2.0f, whole.p, whole.q);
    OrvaneStepPeriodicLoop(&loop, 1.0f, halves.p, halves.q);
    OrvaneStepPeriodicLoop(&loop, 1.0f, halves.p, halves.q);
    ExpectSamePlacement(whole, halves, 1e-4f);
    // Three loops on, from a different placement, keep the same relative motion.
    float log[3];
    OrvaneComputePeriodicLoopLog(&loop, 2.0f, log);
    const float angle = std::sqrt(log[0] * log[0] + log[1] * log[1] + log[2] * log[2]);
    EXPECT_NEAR(angle, loop.dAngle * 2.0f, 1e-5f);
    float vector[3];
    OrvaneComputePeriodicLoopVector(&loop, 0.0f, vector);
    for (float v : vector)
        EXPECT_EQ(v, 0.0f);
}

TEST(PeriodicLoop, PureTranslationLoopsAlongItsDirection) {
    const float q[4] = {0.0f, 0.0f, std::sin(0.4f), std::cos(0.4f)};
    const Placement start = {{1.0f, 2.0f, 3.0f}, {q[0], q[1], q[2], q[3]}};
    const Placement end = {{4.0f, 6.0f, 3.0f}, {q[0], q[1], q[2], q[3]}};
    orvane_periodic_loop loop;
    OrvaneFitPeriodicLoop(start.p, start.q, end.p, end.q, 0.5f, &loop);
    ASSERT_TRUE(AllFinite(loop));
    EXPECT_EQ(loop.dAngle, 0.0f);
    EXPECT_EQ(loop.Radius, 0.0f);
    EXPECT_NEAR(loop.dZ, 10.0f, 1e-4f);  // 5 units in half a second
    const float axisLength = std::sqrt(loop.Axis[0] * loop.Axis[0] + loop.Axis[1] * loop.Axis[1] +
                                       loop.Axis[2] * loop.Axis[2]);
    EXPECT_NEAR(axisLength, 1.0f, 1e-5f);
    Placement stepped = start;
    OrvaneStepPeriodicLoop(&loop, 0.5f, stepped.p, stepped.q);
    ExpectSamePlacement(stepped, end, 1e-4f);
}

TEST(PeriodicLoop, StillClipLoopsInPlaceAboutAFixedAxis) {
    const Placement still = {{1.0f, -2.0f, 0.5f}, {0.0f, 0.0f, 0.0f, 1.0f}};
    orvane_periodic_loop loop;
    OrvaneFitPeriodicLoop(still.p, still.q, still.p, still.q, 1.0f, &loop);
    ASSERT_TRUE(AllFinite(loop));
    EXPECT_EQ(loop.Axis[0], 0.0f);
    EXPECT_EQ(loop.Axis[1], 0.0f);
    EXPECT_EQ(loop.Axis[2], 1.0f);
    EXPECT_EQ(loop.dZ, 0.0f);
    Placement stepped = still;
    OrvaneStepPeriodicLoop(&loop, 1.0f, stepped.p, stepped.q);
    ExpectSamePlacement(stepped, still, 0.0f);
}

TEST(PeriodicLoop, SmallTurnWithoutDisplacementHasNoRadius) {
    const Placement start = {{0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f, 1.0f}};
    const Placement end = {{0.0f, 0.0f, 0.0f}, {0.0f, std::sin(0.3f), 0.0f, std::cos(0.3f)}};
    orvane_periodic_loop loop;
    OrvaneFitPeriodicLoop(start.p, start.q, end.p, end.q, 1.0f, &loop);
    EXPECT_NEAR(loop.dAngle, 0.6f, 1e-5f);
    EXPECT_NEAR(loop.Axis[1], 1.0f, 1e-6f);
    EXPECT_LE(loop.Radius, 0.0001f);
    for (float b : loop.BasisX)
        EXPECT_EQ(b, 0.0f);
}

TEST(PeriodicLoop, TurnsOfMoreThanAHalfTurnKeepTheirAngleAndSign) {
    // The end orientation is a turn of 240 degrees about z from the start: the relative
    // quaternion has a negative w, and its angle 2 atan2(|v|, w) is 240 degrees, not the
    // 120 degrees of the opposite quaternion.
    const float half = 2.0f * 3.14159265f / 3.0f;  // half of 240 degrees
    const Placement start = {{1.0f, 2.0f, 3.0f}, {0.0f, 0.0f, 0.0f, 1.0f}};
    const Placement end = {{1.5f, 2.0f, 4.0f}, {0.0f, 0.0f, std::sin(half), std::cos(half)}};
    orvane_periodic_loop loop;
    OrvaneFitPeriodicLoop(start.p, start.q, end.p, end.q, 2.0f, &loop);
    ASSERT_TRUE(AllFinite(loop));
    EXPECT_NEAR(loop.dAngle, 2.0f * half / 2.0f, 1e-5f);  // per second over 2 seconds
    EXPECT_NEAR(loop.Axis[0], 0.0f, 1e-6f);
    EXPECT_NEAR(loop.Axis[1], 0.0f, 1e-6f);
    EXPECT_NEAR(loop.Axis[2], 1.0f, 1e-6f);
    EXPECT_NEAR(loop.dZ, 0.5f, 1e-5f);
    float log[3];
    OrvaneComputePeriodicLoopLog(&loop, 2.0f, log);
    EXPECT_NEAR(log[2], 2.0f * half, 1e-5f);
    // Stepping the start by the loop gives the end, the quaternion's sign included.
    Placement stepped = start;
    OrvaneStepPeriodicLoop(&loop, 2.0f, stepped.p, stepped.q);
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(stepped.p[c], end.p[c], 1e-4f) << "position " << c;
    for (int c = 0; c < 4; ++c)
        EXPECT_NEAR(stepped.q[c], end.q[c], 1e-5f) << "orientation " << c;
}

TEST(PeriodicLoop, SteppedOrientationKeepsTheSignOfTheEnd) {
    std::mt19937 random(23);
    for (int trial = 0; trial < 100; ++trial) {
        const Placement start = RandomPlacement(random);
        const Placement end = RandomPlacement(random);
        orvane_periodic_loop loop;
        OrvaneFitPeriodicLoop(start.p, start.q, end.p, end.q, 1.0f, &loop);
        Placement stepped = start;
        OrvaneStepPeriodicLoop(&loop, 1.0f, stepped.p, stepped.q);
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(stepped.q[c], end.q[c], 2e-4f) << "trial " << trial << " component " << c;
    }
}

TEST(PeriodicLoop, StartOrientationsNotQuiteUnitStillStepToTheEnd) {
    // Stored orientations are often a little off unit length. The step rotates the loop's
    // displacement by the start orientation as it is, so the fit measures the displacement
    // back through that same rotation.
    std::mt19937 random(31);
    for (const float scale : {0.99f, 0.999f, 1.001f, 1.01f}) {
        for (int trial = 0; trial < 20; ++trial) {
            Placement start = RandomPlacement(random);
            Placement end = RandomPlacement(random);
            for (int c = 0; c < 4; ++c) {
                start.q[c] *= scale;
                end.q[c] *= scale;
            }
            orvane_periodic_loop loop;
            OrvaneFitPeriodicLoop(start.p, start.q, end.p, end.q, 1.5f, &loop);
            ASSERT_TRUE(AllFinite(loop));
            Placement stepped = start;
            OrvaneStepPeriodicLoop(&loop, 1.5f, stepped.p, stepped.q);
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(stepped.p[c], end.p[c], 2e-4f)
                    << "scale " << scale << " trial " << trial << " position " << c;
            for (int c = 0; c < 4; ++c)
                EXPECT_NEAR(stepped.q[c], end.q[c], 2e-4f)
                    << "scale " << scale << " trial " << trial << " orientation " << c;
        }
    }
}

TEST(PeriodicLoop, StoredLoopMeansAHelixAndAScrewStep) {
    // A loop as a file stores it (not fitted): the vector is the helix
    // t dZ Axis + Radius ((cos a - 1) BasisX + sin a BasisY), a = t dAngle, the log is a Axis,
    // and a step moves the position by the vector rotated into the placement and turns the
    // orientation by a about Axis on its right. The reference works in double precision.
    const Eigen::Vector3d axis = Eigen::Vector3d(1.0, 2.0, 2.0).normalized();
    const Eigen::Vector3d x = Eigen::Vector3d(2.0, -1.0, 0.0).normalized();
    const Eigen::Vector3d y = axis.cross(x);
    orvane_periodic_loop loop;
    loop.Radius = 1.75f;
    loop.dAngle = 0.8f;
    loop.dZ = -0.3f;
    for (int c = 0; c < 3; ++c) {
        loop.BasisX[c] = float(x[c]);
        loop.BasisY[c] = float(y[c]);
        loop.Axis[c] = float(axis[c]);
    }
    const double t = 1.3;
    const double a = t * double(loop.dAngle);
    const Eigen::Vector3d helix = t * double(loop.dZ) * axis +
                                  double(loop.Radius) * ((std::cos(a) - 1.0) * x + std::sin(a) * y);
    float vector[3], log[3];
    OrvaneComputePeriodicLoopVector(&loop, float(t), vector);
    OrvaneComputePeriodicLoopLog(&loop, float(t), log);
    for (int c = 0; c < 3; ++c) {
        EXPECT_NEAR(vector[c], helix[c], 1e-5) << c;
        EXPECT_NEAR(log[c], a * axis[c], 1e-5) << c;
    }
    const Eigen::Quaterniond start(
        Eigen::AngleAxisd(0.7, Eigen::Vector3d(0.0, 1.0, 1.0).normalized()));
    const Eigen::Vector3d startPosition(4.0, -2.0, 0.5);
    const Eigen::Quaterniond end = start * Eigen::Quaterniond(Eigen::AngleAxisd(a, axis));
    const Eigen::Vector3d endPosition = startPosition + start * helix;
    float p[3] = {float(startPosition.x()), float(startPosition.y()), float(startPosition.z())};
    float q[4] = {float(start.x()), float(start.y()), float(start.z()), float(start.w())};
    OrvaneStepPeriodicLoop(&loop, float(t), p, q);
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(p[c], endPosition[c], 1e-5) << c;
    EXPECT_NEAR(q[0], end.x(), 1e-6);
    EXPECT_NEAR(q[1], end.y(), 1e-6);
    EXPECT_NEAR(q[2], end.z(), 1e-6);
    EXPECT_NEAR(q[3], end.w(), 1e-6);
}

TEST(PeriodicLoop, ZeroClearsEveryByte) {
    orvane_periodic_loop loop;
    std::memset(&loop, 0xAB, sizeof loop);
    OrvaneZeroPeriodicLoop(&loop);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&loop);
    ASSERT_EQ(sizeof loop, 48u);
    for (size_t i = 0; i < sizeof loop; ++i)
        EXPECT_EQ(bytes[i], 0);
}

}  // namespace

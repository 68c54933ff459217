// The chain and two-bone solvers on random limbs: reachable targets are met, bone lengths are
// kept, unreachable targets straighten the limb, and unsolvable or refused calls leave both
// poses exactly as they were.
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include <Eigen/Dense>
#include <Eigen/Geometry>
#include <gtest/gtest.h>

#include "orvane/ik.h"
#include "orvane/skeleton_builder.h"
#include "support/log_capture.h"

namespace {

struct Deleter {
    void operator()(orvane_local_pose* p) const { OrvaneFreeLocalPose(p); }
    void operator()(orvane_world_pose* p) const { OrvaneFreeWorldPose(p); }
    void operator()(orvane_skeleton* p) const { OrvaneFreeBuilderResult(p); }
};

struct V3 {
    double x, y, z;
};
V3 Sub(const float* a, const float* b) {
    return {double(a[0]) - b[0], double(a[1]) - b[1], double(a[2]) - b[2]};
}
double Length(V3 v) {
    return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
}

// A chain of bones 0 <- 1 <- ... <- n-1 hanging from a root at the origin, with random rest
// orientations and bone lengths between 0.5 and 1.5, its local pose at rest and its world pose.
struct Limb {
    std::unique_ptr<orvane_skeleton, Deleter> skeleton;
    std::unique_ptr<orvane_local_pose, Deleter> local;
    std::unique_ptr<orvane_world_pose, Deleter> world;
    float offset[16];

    const float* Position(int bone) const { return OrvaneGetWorldPose4x4(world.get(), bone) + 12; }
    orvane_transform& Local(int bone) { return *OrvaneGetLocalPoseTransform(local.get(), bone); }
    void Rebuild() {
        OrvaneBuildWorldPose(skeleton.get(), 0, skeleton->BoneCount, local.get(), offset,
                             world.get());
    }
};

void RandomQuaternion(std::mt19937& rng, float q[4]) {
    std::normal_distribution<float> g;
    float n = 0;
    for (int i = 0; i < 4; ++i)
        q[i] = g(rng), n += q[i] * q[i];
    n = 1.0f / std::sqrt(n);
    for (int i = 0; i < 4; ++i)
        q[i] *= n;
}

// Lengths, when given, are those of bones 1 to n-1 instead of random ones.
Limb MakeLimb(std::mt19937& rng, int n, bool withOffset = true,
              const std::vector<float>* lengths = nullptr) {
    std::uniform_real_distribution<float> length(0.5f, 1.5f);
    orvane_skeleton_builder* builder = OrvaneBeginSkeleton(n);
    std::vector<orvane_transform> world(n);
    const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    for (int i = 0; i < n; ++i) {
        float q[4], p[3] = {i == 0 ? 0.0f : (lengths ? (*lengths)[i - 1] : length(rng)), 0, 0};
        RandomQuaternion(rng, q);
        orvane_transform local;
        OrvaneSetTransform(&local, p, q, identity);
        if (i == 0) {
            world[i] = local;
        } else {
            OrvaneMultiply(&world[i], &world[i - 1], &local);
        }
        OrvaneAddBone(builder, p, q, identity, world[i].Position, world[i].Orientation,
                      &world[i].ScaleShear[0][0]);
        OrvaneSetBoneParent(builder, i, i - 1);
    }
    Limb limb;
    limb.skeleton.reset(OrvaneEndSkeleton(builder, nullptr));
    limb.local.reset(OrvaneNewLocalPose(n));
    limb.world.reset(OrvaneNewWorldPose(n));
    for (int i = 0; i < n; ++i)
        limb.Local(i) = limb.skeleton->Bones[i].Transform;
    orvane_transform placement;
    float q[4], p[3] = {1, 2, 3};
    RandomQuaternion(rng, q);
    OrvaneSetTransform(&placement, p, q, identity);
    if (!withOffset) OrvaneMakeIdentity(&placement);
    OrvaneBuildCompositeTransform4x4(&placement, limb.offset);
    limb.Rebuild();
    return limb;
}

// Byte images of both poses, to prove that a call changed nothing.
struct Snapshot {
    std::vector<orvane_transform> local;
    std::vector<float> world;
    explicit Snapshot(Limb& limb) {
        const int n = limb.skeleton->BoneCount;
        for (int i = 0; i < n; ++i)
            local.push_back(limb.Local(i));
        const float* w = OrvaneGetWorldPose4x4Array(limb.world.get());
        world.assign(w, w + 16 * n);
    }
    bool Same(Limb& limb) const {
        Snapshot now(limb);
        return std::memcmp(now.local.data(), local.data(), local.size() * sizeof(local[0])) == 0 &&
               now.world == world;
    }
};

TEST(TwoBoneIK, ReachesReachableTargetsAndKeepsBoneLengths) {
    std::mt19937 rng(17);
    std::uniform_real_distribution<float> unit(-1, 1);
    int solved = 0;
    for (int n = 0; n < 2000; ++n) {
        Limb limb = MakeLimb(rng, 4);
        const float *h = limb.Position(1), *m = limb.Position(2), *f = limb.Position(3);
        const double l1 = Length(Sub(m, h)), l2 = Length(Sub(f, m));
        // A target at a reachable distance in a random direction.
        float dir[3] = {unit(rng), unit(rng), unit(rng)};
        const double dl = Length({dir[0], dir[1], dir[2]});
        std::uniform_real_distribution<double> reach(std::fabs(l1 - l2) + 0.05, l1 + l2 - 0.05);
        const double r = reach(rng);
        const float target[3] = {float(h[0] + r * dir[0] / dl), float(h[1] + r * dir[1] / dl),
                                 float(h[2] + r * dir[2] / dl)};
        float normal[3] = {unit(rng), unit(rng), unit(rng)};
        const orvane_transform endBefore = limb.Local(3), rootBefore = limb.Local(0);
        ASSERT_TRUE(OrvaneIKUpdate2Bone(3, target, normal, limb.skeleton.get(), limb.offset,
                                        limb.local.get(), limb.world.get(), 0.0f, 0.0f));
        ++solved;
        EXPECT_LT(Length(Sub(limb.Position(3), target)), 1e-4) << n;
        EXPECT_NEAR(Length(Sub(limb.Position(2), limb.Position(1))), l1, 1e-4);
        EXPECT_NEAR(Length(Sub(limb.Position(3), limb.Position(2))), l2, 1e-4);
        EXPECT_EQ(std::memcmp(&endBefore, &limb.Local(3), sizeof(endBefore)), 0);
        EXPECT_EQ(std::memcmp(&rootBefore, &limb.Local(0), sizeof(rootBefore)), 0);
        // The world pose is the full rebuild of the new local pose.
        Snapshot solvedPose(limb);
        limb.Rebuild();
        EXPECT_TRUE(solvedPose.Same(limb));
        // The knee lies on the side of the bend direction (target direction x normal).
        V3 d = Sub(target, h), k = Sub(limb.Position(2), h);
        V3 bend = {d.y * normal[2] - d.z * normal[1], d.z * normal[0] - d.x * normal[2],
                   d.x * normal[1] - d.y * normal[0]};
        EXPECT_GE(k.x * bend.x + k.y * bend.y + k.z * bend.z, -1e-4);
    }
    EXPECT_EQ(solved, 2000);
}

TEST(TwoBoneIK, StraightensTowardsUnreachableTargets) {
    std::mt19937 rng(23);
    for (int n = 0; n < 500; ++n) {
        Limb limb = MakeLimb(rng, 3, n & 1);
        const float* h = limb.Position(0);
        const double l1 = Length(Sub(limb.Position(1), h));
        const double l2 = Length(Sub(limb.Position(2), limb.Position(1)));
        const float target[3] = {h[0] + 10.0f, h[1] - 3.0f, h[2] + 1.0f};
        const float normal[3] = {0, 0, 1};
        ASSERT_TRUE(OrvaneIKUpdate2Bone(2, target, normal, limb.skeleton.get(), limb.offset,
                                        limb.local.get(), limb.world.get(), 0.0f, 1.0f));
        // The end lies on the line to the target, at the full length of the limb.
        V3 d = Sub(target, h), e = Sub(limb.Position(2), h);
        const double dl = Length(d);
        const double along = (d.x * e.x + d.y * e.y + d.z * e.z) / dl;
        EXPECT_NEAR(along, l1 + l2, 1e-4);
        EXPECT_NEAR(Length(e), l1 + l2, 1e-4);
    }
}

TEST(TwoBoneIK, SofteningKeepsTheKneeBentNearFullReach) {
    std::mt19937 rng(29);
    Limb limb = MakeLimb(rng, 3, false);
    const float* h = limb.Position(0);
    const double l1 = Length(Sub(limb.Position(1), h));
    const double l2 = Length(Sub(limb.Position(2), limb.Position(1)));
    const double r = l1 + l2 + 1.0;  // out of reach
    const float target[3] = {float(h[0] + r), h[1], h[2]};
    const float normal[3] = {0, 0, 1};
    ASSERT_TRUE(OrvaneIKUpdate2Bone(2, target, normal, limb.skeleton.get(), limb.offset,
                                    limb.local.get(), limb.world.get(), 0.1f, 0.5f));
    // E = F + (E - F) / 2 with E < 0 may stay positive: the knee is off the line.
    V3 k = Sub(limb.Position(1), h);
    const double s = ((l1 * l1 - l2 * l2) / (r * r) + 1) / 2;
    const double e = l1 * l1 - s * s * r * r, soft = l1 * l1 * 0.1;
    const double expected = std::max(0.0, soft + (e - soft) * 0.5);
    EXPECT_NEAR(std::hypot(k.y, k.z), std::sqrt(expected), 1e-4);
}

// The middle joint goes towards b + sqrt(E / |n|^2) n (b = h + s d on the line to the target,
// n = d x BendPlaneNormal, E the softened squared bend height) at the upper bone's length, and
// the lower bone then points at the target, for targets near and beyond full reach.
TEST(TwoBoneIK, MiddleJointFollowsTheSoftenedBendHeight) {
    using Eigen::Vector3d;
    std::mt19937 rng(53);
    std::uniform_real_distribution<double> unit(-1, 1), positive(0, 1);
    auto vec = [](const float* p) { return Vector3d(p[0], p[1], p[2]); };
    int solved = 0;
    for (int n = 0; n < 500; ++n) {
        Limb limb = MakeLimb(rng, 4, n & 1);
        const Vector3d h = vec(limb.Position(1)), m = vec(limb.Position(2)),
                       f = vec(limb.Position(3));
        const double l1 = (m - h).norm(), l2 = (f - m).norm();
        Vector3d direction(unit(rng), unit(rng), unit(rng));
        if (direction.norm() < 0.1) continue;
        direction.normalize();
        const double reach = std::fabs(l1 - l2) + 0.05 + (l1 + l2) * 1.5 * positive(rng);
        const Vector3d desired = h + reach * direction;
        const Vector3d bendNormal(unit(rng), unit(rng), unit(rng));
        const float threshold = float(0.3 * positive(rng)), scale = float(positive(rng));

        const Vector3d d = desired - h;
        const double dd = d.squaredNorm();
        const double s = ((l1 * l1 - l2 * l2) / dd + 1) / 2;
        const Vector3d base = h + s * d, bend = d.cross(bendNormal);
        double e = l1 * l1 - s * s * dd;
        const double soft = l1 * l1 * threshold;
        if (e < soft) e = std::max(0.0, soft + (e - soft) * scale);
        if (bend.squaredNorm() < 1e-3 * dd) continue;
        const Vector3d knee = base + std::sqrt(e / bend.squaredNorm()) * bend;
        const Vector3d middle = h + l1 * (knee - h).normalized();
        const Vector3d end = middle + l2 * (desired - middle).normalized();

        const float target[3] = {float(desired[0]), float(desired[1]), float(desired[2])};
        const float normal[3] = {float(bendNormal[0]), float(bendNormal[1]), float(bendNormal[2])};
        ASSERT_TRUE(OrvaneIKUpdate2Bone(3, target, normal, limb.skeleton.get(), limb.offset,
                                        limb.local.get(), limb.world.get(), threshold, scale))
            << n;
        EXPECT_LT((vec(limb.Position(2)) - middle).norm(), 2e-4) << n;
        EXPECT_LT((vec(limb.Position(3)) - end).norm(), 2e-4) << n;
        ++solved;
    }
    EXPECT_GT(solved, 400);
}

TEST(TwoBoneIK, ZeroLengthBonesTurnOnlyTheBoneThatHasALength) {
    std::mt19937 rng(43);
    std::uniform_real_distribution<float> unit(-1, 1);
    const float normal[3] = {0, 0, 1};
    for (int n = 0; n < 200; ++n) {
        // The end bone on the middle joint: the end is where the middle joint goes, at L1 from
        // the upper joint, and the bend height (L1^2 - D^2)^2 / (4 D^2) below zero is raised to
        // 0: the upper bone points at the target.
        {
            const std::vector<float> lengths = {1.25f, 0.0f};
            Limb limb = MakeLimb(rng, 3, n & 1, &lengths);
            const float* h = limb.Position(0);
            const double l1 = Length(Sub(limb.Position(1), h));
            const float dir[3] = {unit(rng), unit(rng), unit(rng)};
            const double dl = Length({dir[0], dir[1], dir[2]});
            if (dl < 0.1) continue;
            const double r = l1 * (0.3 + 1.4 * (unit(rng) + 1) / 2);
            const float target[3] = {float(h[0] + r * dir[0] / dl), float(h[1] + r * dir[1] / dl),
                                     float(h[2] + r * dir[2] / dl)};
            const orvane_transform middleBefore = limb.Local(1), endBefore = limb.Local(2);
            ASSERT_TRUE(OrvaneIKUpdate2Bone(2, target, normal, limb.skeleton.get(), limb.offset,
                                            limb.local.get(), limb.world.get(), 0.0f, 0.0f))
                << n;
            const V3 expected = {h[0] + l1 * dir[0] / dl, h[1] + l1 * dir[1] / dl,
                                 h[2] + l1 * dir[2] / dl};
            const float* e = limb.Position(2);
            EXPECT_LT(Length({e[0] - expected.x, e[1] - expected.y, e[2] - expected.z}), 1e-4) << n;
            EXPECT_LT(Length(Sub(limb.Position(1), e)), 1e-5) << n;
            // The middle bone's turn is the identity: its orientation is as it was.
            for (int k = 0; k < 4; ++k)
                EXPECT_NEAR(limb.Local(1).Orientation[k], middleBefore.Orientation[k], 1e-6);
            EXPECT_NE(limb.Local(1).Flags & OrvaneTransformHasOrientation, 0);
            EXPECT_EQ(std::memcmp(&endBefore, &limb.Local(2), sizeof(endBefore)), 0);
        }
        // The middle joint on the upper joint: the upper bone's turn is the identity, and the
        // lower bone points at the target.
        {
            const std::vector<float> lengths = {0.0f, 0.75f};
            Limb limb = MakeLimb(rng, 3, n & 1, &lengths);
            const float* h = limb.Position(0);
            const double l2 = Length(Sub(limb.Position(2), limb.Position(1)));
            const float target[3] = {h[0] + 2 * unit(rng), h[1] + 2 * unit(rng),
                                     h[2] + 2 * unit(rng)};
            const V3 d = Sub(target, h);
            const double dl = Length(d);
            if (dl < 0.1) continue;
            const orvane_transform upperBefore = limb.Local(0);
            ASSERT_TRUE(OrvaneIKUpdate2Bone(2, target, normal, limb.skeleton.get(), limb.offset,
                                            limb.local.get(), limb.world.get(), 0.0f, 0.0f))
                << n;
            const V3 expected = {h[0] + l2 * d.x / dl, h[1] + l2 * d.y / dl, h[2] + l2 * d.z / dl};
            const float* e = limb.Position(2);
            EXPECT_LT(Length({e[0] - expected.x, e[1] - expected.y, e[2] - expected.z}), 1e-4) << n;
            for (int k = 0; k < 4; ++k)
                EXPECT_NEAR(limb.Local(0).Orientation[k], upperBefore.Orientation[k], 1e-6);
        }
    }
}

TEST(TwoBoneIK, UnsolvableAndRefusedCallsChangeNothing) {
    orvane_test::LogCapture log;
    std::mt19937 rng(31);
    Limb limb = MakeLimb(rng, 4);
    const Snapshot before(limb);
    const float normal[3] = {0, 0, 1};
    auto call = [&](int end, const float* target, const float* n) {
        return OrvaneIKUpdate2Bone(end, target, n, limb.skeleton.get(), limb.offset,
                                   limb.local.get(), limb.world.get(), 0, 0);
    };
    // The target on the upper joint.
    float onJoint[3];
    std::memcpy(onJoint, limb.Position(1), sizeof(onJoint));
    EXPECT_FALSE(call(3, onJoint, normal));
    EXPECT_EQ(log.errors(), 0u);
    // The target along the bend plane's normal, the limb needing to bend.
    const float* h = limb.Position(1);
    const double l1 = Length(Sub(limb.Position(2), h));
    const double l2 = Length(Sub(limb.Position(3), limb.Position(2)));
    const float reach = float(0.5 * (std::fabs(l1 - l2) + l1 + l2));
    const float along[3] = {h[0], h[1], h[2] + reach};
    EXPECT_FALSE(call(3, along, normal));
    const float zero[3] = {0, 0, 0};
    const float target[3] = {h[0] + 0.5f, h[1] + 0.5f, h[2]};
    EXPECT_FALSE(call(3, target, zero));
    EXPECT_TRUE(before.Same(limb));
    EXPECT_EQ(log.errors(), 0u);

    // Bad indices, end bone included, and chains that run out of parents.
    EXPECT_FALSE(call(4, target, normal));
    EXPECT_FALSE(call(-1, target, normal));
    EXPECT_TRUE(log.Contains("EndBoneIndex 4 is out of range [0, 4)"));
    EXPECT_FALSE(call(0, target, normal));
    EXPECT_TRUE(log.Contains("L2BoneIndex -1 is out of range [0, 4)"));
    EXPECT_FALSE(call(1, target, normal));
    EXPECT_TRUE(log.Contains("L1BoneIndex -1 is out of range [0, 4)"));
    EXPECT_FALSE(OrvaneIKUpdate2Bone(3, target, normal, nullptr, nullptr, limb.local.get(),
                                     limb.world.get(), 0, 0));
    std::unique_ptr<orvane_world_pose, Deleter> small(OrvaneNewWorldPose(2));
    EXPECT_FALSE(OrvaneIKUpdate2Bone(3, target, normal, limb.skeleton.get(), nullptr,
                                     limb.local.get(), small.get(), 0, 0));
    EXPECT_EQ(log.errors(), 6u);
    // A hostile parent index.
    limb.skeleton->Bones[2].ParentIndex = 3;
    EXPECT_FALSE(call(3, target, normal));
    EXPECT_FALSE(OrvaneIKUpdate(2, 3, target, 5, limb.skeleton.get(), nullptr, limb.local.get(),
                                limb.world.get()));
    limb.skeleton->Bones[2].ParentIndex = 1;
    EXPECT_TRUE(before.Same(limb));
}

TEST(ChainIK, ConvergesOnChainsOfThreeToTenBones) {
    std::mt19937 rng(37);
    for (int bones = 3; bones <= 10; ++bones) {
        for (int n = 0; n < 40; ++n) {
            Limb limb = MakeLimb(rng, bones + 1);  // bone 0 is the fixed root
            const int end = bones;
            // A reachable target: where the end lands under another random pose of the chain.
            Limb other = MakeLimb(rng, 1);
            std::vector<orvane_transform> rest;
            for (int i = 0; i <= bones; ++i)
                rest.push_back(limb.Local(i));
            for (int i = 1; i < bones; ++i)
                RandomQuaternion(rng, limb.Local(i).Orientation);
            limb.Rebuild();
            float target[3];
            std::memcpy(target, limb.Position(end), sizeof(target));
            for (int i = 0; i <= bones; ++i)
                limb.Local(i) = rest[i];
            limb.Rebuild();
            const Snapshot start(limb);
            double lengths[16];
            for (int i = 1; i <= bones; ++i)
                lengths[i] = Length(Sub(limb.Position(i), limb.Position(i - 1)));

            ASSERT_TRUE(OrvaneIKUpdate(bones - 1, end, target, 200, limb.skeleton.get(),
                                       limb.offset, limb.local.get(), limb.world.get()));
            EXPECT_LT(Length(Sub(limb.Position(end), target)), 1e-3)
                << bones << " bones, case " << n;
            for (int i = 1; i <= bones; ++i)
                EXPECT_NEAR(Length(Sub(limb.Position(i), limb.Position(i - 1))), lengths[i], 1e-4);
            // The root and the end bone's own local transform are not turned.
            EXPECT_EQ(std::memcmp(&start.local[0], &limb.Local(0), sizeof(orvane_transform)), 0);
            EXPECT_EQ(std::memcmp(&start.local[end], &limb.Local(end), sizeof(orvane_transform)),
                      0);
        }
    }
}

// The chain solver's documented walk in double precision: world matrices composed from the
// local transforms under the offset, and for each link from the end bone's parent upwards the
// shortest turn of the direction to the end onto the direction to the target, both expressed
// in the link's world frame, applied after the link's orientation.
TEST(ChainIK, EachPassTurnsTheLinksFromTheEndUpwardsInTheirOwnFrames) {
    using Eigen::Matrix4d;
    using Eigen::Quaterniond;
    using Eigen::Vector3d;
    std::mt19937 rng(47);
    std::uniform_real_distribution<float> unit(-1, 1);
    for (int n = 0; n < 100; ++n) {
        const int bones = 6;
        Limb limb = MakeLimb(rng, bones);
        const int end = bones - 1, links = 3, passes = 2;
        const float target[3] = {1 + 3 * unit(rng), 2 + 3 * unit(rng), 3 + 3 * unit(rng)};

        std::vector<Quaterniond> q(bones);
        std::vector<Vector3d> t(bones);
        for (int i = 0; i < bones; ++i) {
            const orvane_transform& l = limb.Local(i);
            q[i] =
                Quaterniond(l.Orientation[3], l.Orientation[0], l.Orientation[1], l.Orientation[2]);
            t[i] = Vector3d(l.Position[0], l.Position[1], l.Position[2]);
        }
        const Matrix4d offset = Eigen::Map<const Eigen::Matrix4f>(limb.offset).cast<double>();
        auto world = [&]() {
            std::vector<Matrix4d> w(bones);
            for (int i = 0; i < bones; ++i) {
                Matrix4d local = Matrix4d::Identity();
                local.topLeftCorner<3, 3>() = q[i].toRotationMatrix();
                local.topRightCorner<3, 1>() = t[i];
                w[i] = (i == 0 ? offset : w[i - 1]) * local;
            }
            return w;
        };
        const Vector3d desired(target[0], target[1], target[2]);
        for (int pass = 0; pass < passes; ++pass) {
            for (int k = end - 1; k >= end - links; --k) {
                const std::vector<Matrix4d> w = world();
                const Eigen::Matrix3d frame = w[k].topLeftCorner<3, 3>();
                const Vector3d p = w[k].topRightCorner<3, 1>();
                const Vector3d e = w[end].topRightCorner<3, 1>();
                const Vector3d a = frame.transpose() * (e - p),
                               b = frame.transpose() * (desired - p);
                q[k] = q[k] * Quaterniond::FromTwoVectors(a, b);
            }
        }

        ASSERT_TRUE(OrvaneIKUpdate(links, end, target, passes, limb.skeleton.get(), limb.offset,
                                   limb.local.get(), limb.world.get()));
        for (int i = 0; i < bones; ++i) {
            const orvane_transform& l = limb.Local(i);
            const double sign = q[i].w() * l.Orientation[3] < 0 ? -1.0 : 1.0;
            EXPECT_NEAR(l.Orientation[0], sign * q[i].x(), 1e-4) << n << " bone " << i;
            EXPECT_NEAR(l.Orientation[1], sign * q[i].y(), 1e-4) << n << " bone " << i;
            EXPECT_NEAR(l.Orientation[2], sign * q[i].z(), 1e-4) << n << " bone " << i;
            EXPECT_NEAR(l.Orientation[3], sign * q[i].w(), 1e-4) << n << " bone " << i;
        }
        const Vector3d e = world()[end].topRightCorner<3, 1>();
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(limb.Position(end)[k], e[k], 1e-4) << n;
    }
}

TEST(ChainIK, NothingToDo) {
    std::mt19937 rng(41);
    Limb limb = MakeLimb(rng, 5);
    const Snapshot before(limb);
    const float target[3] = {5, 5, 5};
    auto call = [&](int links, int end, int iterations) {
        return OrvaneIKUpdate(links, end, target, iterations, limb.skeleton.get(), limb.offset,
                              limb.local.get(), limb.world.get());
    };
    EXPECT_TRUE(call(3, 4, 0));
    EXPECT_TRUE(call(3, 4, -2));
    EXPECT_TRUE(call(0, 4, 5));
    EXPECT_TRUE(call(-1, 4, 5));
    EXPECT_TRUE(call(3, 0, 5));  // a root end bone
    EXPECT_TRUE(before.Same(limb));
    {
        orvane_test::LogCapture log;
        EXPECT_FALSE(call(3, 5, 5));
        EXPECT_EQ(log.errors(), 1u);
    }
    // The target on the end bone's parent joint: that link has no direction and is skipped,
    // and nothing becomes NaN.
    float onJoint[3];
    std::memcpy(onJoint, limb.Position(3), sizeof(onJoint));
    EXPECT_TRUE(OrvaneIKUpdate(1, 4, onJoint, 3, limb.skeleton.get(), limb.offset, limb.local.get(),
                               limb.world.get()));
    EXPECT_TRUE(before.Same(limb));
    EXPECT_TRUE(OrvaneIKUpdate(4, 4, onJoint, 3, limb.skeleton.get(), limb.offset, limb.local.get(),
                               limb.world.get()));
    for (int i = 0; i < 5; ++i)
        for (int k = 0; k < 4; ++k)
            EXPECT_TRUE(std::isfinite(limb.Local(i).Orientation[k]));
}

}  // namespace

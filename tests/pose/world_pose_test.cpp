// World poses: the composition against a double-precision reference, every per-bone path
// against the generic one, the range checks, sparse and rest builds, and concurrent builds.
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "pose/orvane_local_pose.h"
#include "pose/orvane_world_pose.h"
#include "pose/skeleton_test_support.h"
#include "support/log_capture.h"

namespace {

using namespace orvane_test;

struct PoseDeleter {
    void operator()(orvane_local_pose* p) const { OrvaneFreeLocalPose(p); }
    void operator()(orvane_world_pose* p) const { OrvaneFreeWorldPose(p); }
};
using LocalPosePtr = std::unique_ptr<orvane_local_pose, PoseDeleter>;
using WorldPosePtr = std::unique_ptr<orvane_world_pose, PoseDeleter>;

// A local pose holding the given transforms.
LocalPosePtr PoseOf(const std::vector<orvane_transform>& local) {
    LocalPosePtr pose(OrvaneNewLocalPose(int32_t(local.size())));
    for (size_t i = 0; i < local.size(); ++i)
        *OrvaneGetLocalPoseTransform(pose.get(), int32_t(i)) = local[i];
    return pose;
}

// A random skeleton and a random local pose for it, both drawn from the flag sets given.
struct Scene {
    SkeletonPtr skeleton;
    std::vector<orvane_transform> local;
};
Scene RandomScene(Random& random, int n, const std::vector<uint32_t>& flags, int roots = 1) {
    Scene s;
    s.skeleton = BuildSkeleton(RandomForest(random, n, flags, roots));
    for (int i = 0; i < n; ++i)
        s.local.push_back(RandomLocal(random, flags[random.Index(int(flags.size()))]));
    return s;
}

void RandomOffset(Random& random, float offset[16]) {
    orvane_transform t = random.Transform();
    OrvaneBuildCompositeTransform4x4(&t, offset);
}

TEST(WorldPose, LayoutAndAccessors) {
    WorldPosePtr pose(OrvaneNewWorldPose(5));
    ASSERT_NE(pose, nullptr);
    EXPECT_EQ(OrvaneGetWorldPoseBoneCount(pose.get()), 5);
    float* world = OrvaneGetWorldPose4x4Array(pose.get());
    float* composite = OrvaneGetWorldPoseComposite4x4Array(pose.get());
    EXPECT_EQ(reinterpret_cast<uintptr_t>(world) % 16, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(composite) % 16, 0u);
    EXPECT_EQ(OrvaneGetWorldPose4x4(pose.get(), 4), world + 64);
    EXPECT_EQ(OrvaneGetWorldPoseComposite4x4(pose.get(), 4), composite + 64);
    EXPECT_EQ(OrvaneGetWorldPose4x4(pose.get(), 5), nullptr);
    EXPECT_EQ(OrvaneGetWorldPoseComposite4x4(pose.get(), 5), nullptr);
    EXPECT_EQ(OrvaneGetWorldPose4x4(pose.get(), -1), nullptr);
    // Both arrays end inside the block.
    const int32_t size = OrvaneGetResultingWorldPoseSize(5);
    EXPECT_LE(reinterpret_cast<char*>(composite + 80), reinterpret_cast<char*>(pose.get()) + size);
    EXPECT_EQ(OrvaneGetResultingWorldPoseSize(-1), 0);
    EXPECT_EQ(OrvaneNewWorldPoseInPlace(3, nullptr), nullptr);
}

// A bone count whose block does not fit the int32 size has size 0, and no pose is built for
// it, in place (the memory, sized by that 0, stays untouched) or not.
TEST(WorldPose, CountsBeyondTheSizeRangeBuildNoPose) {
    // Two 64-byte matrices per bone after the header (at most 32 bytes with its padding).
    constexpr int32_t kLargest = (INT32_MAX - 32) / 128;
    EXPECT_GT(OrvaneGetResultingWorldPoseSize(kLargest), 0);
    EXPECT_EQ(OrvaneGetResultingWorldPoseSize(kLargest + 1), 0);
    LogCapture log;
    alignas(16) unsigned char memory[64];
    std::memset(memory, 0xA5, sizeof memory);
    for (int32_t count : {kLargest + 1, INT32_MAX}) {
        log.Clear();
        EXPECT_EQ(OrvaneNewWorldPoseInPlace(count, memory), nullptr) << count;
        EXPECT_EQ(log.errors(), 1u) << count;
        EXPECT_TRUE(log.Contains("BoneCount " + std::to_string(count) + " is out of range [0, " +
                                 std::to_string(kLargest) + "]"))
            << count;
        log.Clear();
        EXPECT_EQ(OrvaneNewWorldPose(count), nullptr) << count;
        EXPECT_EQ(log.errors(), 1u) << count;
    }
    for (unsigned char byte : memory)
        ASSERT_EQ(byte, 0xA5);
}

TEST(WorldPose, UnalignedInPlaceMemoryIsWarnedAbout) {
    LogCapture log;
    alignas(16) char memory[2048];
    EXPECT_EQ(OrvaneNewWorldPoseInPlace(3, memory + 2), nullptr);  // not even pointer-aligned
    EXPECT_TRUE(log.Contains("is not aligned to " + std::to_string(alignof(void*)) + " bytes"));
    log.Clear();
    orvane_world_pose* pose = OrvaneNewWorldPoseInPlace(3, memory + 8);
    ASSERT_NE(pose, nullptr);
    EXPECT_EQ(log.warnings(), 2u);
    EXPECT_TRUE(log.Contains("world_pose WorldTransformBuffer is unaligned"));
    EXPECT_TRUE(log.Contains("world_pose CompositeTransformBuffer is unaligned"));
    log.Clear();
    ASSERT_NE(OrvaneNewWorldPoseInPlace(3, memory), nullptr);
    EXPECT_EQ(log.warnings(), 0u);
}

TEST(WorldPose, IdentityLocalPoseGivesInverseWorldAsComposite) {
    Random random(1);
    Scene scene = RandomScene(random, 12, AllFlagSets(), 2);
    std::vector<orvane_transform> identity(12);
    for (auto& t : identity)
        OrvaneMakeIdentity(&t);
    LocalPosePtr local = PoseOf(identity);
    WorldPosePtr world(OrvaneNewWorldPose(12));
    OrvaneBuildWorldPose(scene.skeleton.get(), 0, 12, local.get(), nullptr, world.get());
    for (int i = 0; i < 12; ++i) {
        const float* w = OrvaneGetWorldPose4x4(world.get(), i);
        const float* c = OrvaneGetWorldPoseComposite4x4(world.get(), i);
        for (int k = 0; k < 16; ++k) {
            EXPECT_EQ(w[k], (k % 5 == 0) ? 1.0f : 0.0f);
            EXPECT_NEAR(c[k], (&scene.skeleton->Bones[i].InverseWorldTransform[0][0])[k], 1e-6);
        }
    }
}

TEST(WorldPose, RootTranslationFollowsTheOffset) {
    Forest f;
    f.parent = {-1};
    f.local.resize(1);
    OrvaneMakeIdentity(&f.local[0]);
    SkeletonPtr skeleton = BuildSkeleton(f);
    orvane_transform t;
    OrvaneMakeIdentity(&t);
    t.Position[0] = 1;
    t.Position[1] = 2;
    t.Position[2] = 3;
    t.Flags = OrvaneTransformHasPosition;
    LocalPosePtr local = PoseOf({t});
    float offset[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 10, 0, 0, 1};
    WorldPosePtr world(OrvaneNewWorldPose(1));
    OrvaneBuildWorldPose(skeleton.get(), 0, 1, local.get(), offset, world.get());
    const float* w = OrvaneGetWorldPose4x4(world.get(), 0);
    EXPECT_EQ(w[12], 11.0f);
    EXPECT_EQ(w[13], 2.0f);
    EXPECT_EQ(w[14], 3.0f);
    EXPECT_EQ(w[15], 1.0f);
}

// The build against the reference on random skeletons, rigid and with scale/shear, with every
// combination of identity flags, offsets aligned and not, on every available path.
TEST(WorldPose, MatchesTheReferenceOnRandomSkeletons) {
    Random random(2);
    for (int round = 0; round < 40; ++round) {
        const auto& flags = round % 2 ? AllFlagSets() : RigidFlagSets();
        const int n = 1 + random.Index(40);
        Scene scene = RandomScene(random, n, flags, 1 + random.Index(3));
        ASSERT_NE(scene.skeleton, nullptr);
        LocalPosePtr local = PoseOf(scene.local);
        alignas(16) float storage[20];
        float* offset = storage + (round % 4);  // misaligned every other round
        RandomOffset(random, offset);
        const float* usedOffset = round % 3 == 0 ? nullptr : offset;
        ReferencePose ref = ReferenceWorldPose(*scene.skeleton, scene.local, usedOffset);
        WorldPosePtr world(OrvaneNewWorldPose(n));
        OrvaneBuildWorldPose(scene.skeleton.get(), 0, n, local.get(), usedOffset, world.get());
        for (int i = 0; i < n; ++i) {
            EXPECT_LT(RelativeError(OrvaneGetWorldPose4x4(world.get(), i), ref.world[i]), 2e-5)
                << "round " << round << " bone " << i;
            EXPECT_LT(
                RelativeError(OrvaneGetWorldPoseComposite4x4(world.get(), i), ref.composite[i]),
                2e-5)
                << "round " << round << " bone " << i;
        }
        WorldPosePtr worldOnly(OrvaneNewWorldPose(n));
        OrvaneBuildWorldPoseNoComposite(scene.skeleton.get(), 0, n, local.get(), usedOffset,
                                        worldOnly.get());
        OrvaneBuildCompositeFromWorldPose(scene.skeleton.get(), 0, n, worldOnly.get());
        EXPECT_EQ(0, std::memcmp(OrvaneGetWorldPose4x4Array(world.get()),
                                 OrvaneGetWorldPose4x4Array(worldOnly.get()), 64 * size_t(n)));
        EXPECT_EQ(
            0, std::memcmp(OrvaneGetWorldPoseComposite4x4Array(world.get()),
                           OrvaneGetWorldPoseComposite4x4Array(worldOnly.get()), 64 * size_t(n)));
    }
}

// Runs one path's range routine into fresh arrays.
struct PathResult {
    std::vector<float> world, composite;
};
PathResult RunPath(const orvane::WorldPoseRoutines& r, const orvane_skeleton& s,
                   const orvane_local_pose& local, const float* offset, bool composites) {
    PathResult out;
    out.world.assign(16 * size_t(s.BoneCount), -99.0f);
    out.composite.assign(16 * size_t(s.BoneCount), -99.0f);
    orvane::WorldPoseSource source = {reinterpret_cast<const char*>(&local.Bones[0].Transform),
                                      sizeof(orvane_local_pose_bone), nullptr};
    r.buildRange(s.Bones, 0, s.BoneCount, source, offset, out.world.data(),
                 composites ? out.composite.data() : nullptr);
    return out;
}

// The products are affine: elements 3, 7, 11 and 15 of the offset are not read, and every
// matrix written ends its columns with 0, 0, 0 and 1.
TEST(WorldPose, OffsetsFourthColumnIsNotRead) {
    Random random(16);
    Scene scene = RandomScene(random, 24, AllFlagSets(), 3);
    LocalPosePtr local = PoseOf(scene.local);
    float clean[16];
    RandomOffset(random, clean);
    ReferencePose ref = ReferenceWorldPose(*scene.skeleton, scene.local, clean);
    float dirty[16];
    std::memcpy(dirty, clean, sizeof dirty);
    dirty[3] = 5.0f;
    dirty[7] = -3.0f;
    dirty[11] = std::numeric_limits<float>::quiet_NaN();
    dirty[15] = 9.0f;
    WorldPosePtr world(OrvaneNewWorldPose(24)), worldOnly(OrvaneNewWorldPose(24));
    OrvaneBuildWorldPose(scene.skeleton.get(), 0, 24, local.get(), dirty, world.get());
    OrvaneBuildWorldPoseNoComposite(scene.skeleton.get(), 0, 24, local.get(), dirty,
                                    worldOnly.get());
    for (int i = 0; i < 24; ++i) {
        for (const float* m :
             {OrvaneGetWorldPose4x4(world.get(), i), OrvaneGetWorldPoseComposite4x4(world.get(), i),
              OrvaneGetWorldPose4x4(worldOnly.get(), i)}) {
            EXPECT_EQ(m[3], 0.0f) << i;
            EXPECT_EQ(m[7], 0.0f) << i;
            EXPECT_EQ(m[11], 0.0f) << i;
            EXPECT_EQ(m[15], 1.0f) << i;
        }
        EXPECT_LT(RelativeError(OrvaneGetWorldPose4x4(world.get(), i), ref.world[i]), 2e-5) << i;
        EXPECT_LT(RelativeError(OrvaneGetWorldPose4x4(worldOnly.get(), i), ref.world[i]), 2e-5)
            << i;
        EXPECT_LT(CompositeError(OrvaneGetWorldPoseComposite4x4(world.get(), i), ref.composite[i],
                                 ref.world[i], orvane::InverseWorldOf(scene.skeleton->Bones[i])),
                  2e-5)
            << i;
    }
}

// Composites from world matrices the caller wrote: only bones [FirstBone, FirstBone +
// BoneCount) are written, each the affine product of its inverse world transform and its world
// matrix (whose fourth column is not read).
TEST(WorldPose, CompositesFromWorldMatricesCoverTheirRangeOnly) {
    Random random(17);
    Scene scene = RandomScene(random, 10, AllFlagSets(), 2);
    WorldPosePtr world(OrvaneNewWorldPose(10));
    float* w = OrvaneGetWorldPose4x4Array(world.get());
    float* c = OrvaneGetWorldPoseComposite4x4Array(world.get());
    for (int i = 0; i < 10; ++i) {
        orvane_transform t = random.Transform();
        OrvaneBuildCompositeTransform4x4(&t, w + 16 * i);
        w[16 * i + 3] = 7.0f;
        w[16 * i + 15] = 3.0f;
    }
    std::fill(c, c + 160, -99.0f);
    LogCapture log;
    OrvaneBuildCompositeFromWorldPose(scene.skeleton.get(), 3, 4, world.get());
    EXPECT_EQ(log.errors(), 0u);
    for (int i = 0; i < 10; ++i) {
        if (i < 3 || i >= 7) {
            for (int k = 0; k < 16; ++k)
                ASSERT_EQ(c[16 * i + k], -99.0f) << i;
            continue;
        }
        Mat4 affine = FromColumns4(w + 16 * i);
        affine.row(3) << 0, 0, 0, 1;
        const float* inverseWorld = orvane::InverseWorldOf(scene.skeleton->Bones[i]);
        EXPECT_LT(
            CompositeError(c + 16 * i, affine * FromColumns4(inverseWorld), affine, inverseWorld),
            2e-6)
            << i;
        EXPECT_EQ(c[16 * i + 3], 0.0f);
        EXPECT_EQ(c[16 * i + 15], 1.0f);
    }
}

// Each build writes the matrices of its range and nothing else; the builds without composites
// leave every composite matrix as it was.
TEST(WorldPose, BuildsWriteTheirRangeOnly) {
    Random random(18);
    Scene scene = RandomScene(random, 12, AllFlagSets(), 2);
    LocalPosePtr local = PoseOf(scene.local);
    std::vector<int32_t> sparse(12), reverse(12, -1);
    LocalPosePtr sparsePose(OrvaneNewLocalPose(0));
    WorldPosePtr world(OrvaneNewWorldPose(12));
    float* w = OrvaneGetWorldPose4x4Array(world.get());
    float* c = OrvaneGetWorldPoseComposite4x4Array(world.get());
    constexpr int kFirst = 2, kCount = 5;
    for (int build = 0; build < 5; ++build) {
        std::fill(w, w + 192, -99.0f);
        std::fill(c, c + 192, -99.0f);
        // The bones before the range count as built.
        for (int i = 0; i < kFirst; ++i)
            for (int k = 0; k < 16; ++k)
                w[16 * i + k] = (k % 5 == 0) ? 1.0f : 0.0f;
        const bool composites = build < 3;
        if (build == 0)
            OrvaneBuildWorldPose(scene.skeleton.get(), kFirst, kCount, local.get(), nullptr,
                                 world.get());
        else if (build == 1)
            OrvaneBuildWorldPoseSparse(scene.skeleton.get(), kFirst, kCount, sparse.data(),
                                       reverse.data(), sparsePose.get(), nullptr, world.get());
        else if (build == 2)
            OrvaneBuildRestWorldPose(scene.skeleton.get(), kFirst, kCount, nullptr, world.get());
        else if (build == 3)
            OrvaneBuildWorldPoseNoComposite(scene.skeleton.get(), kFirst, kCount, local.get(),
                                            nullptr, world.get());
        else
            OrvaneBuildWorldPoseNoCompositeSparse(scene.skeleton.get(), kFirst, kCount,
                                                  sparse.data(), reverse.data(), sparsePose.get(),
                                                  nullptr, world.get());
        for (int i = kFirst; i < 12; ++i) {
            const bool inRange = i < kFirst + kCount;
            for (int k = 0; k < 16; ++k) {
                EXPECT_EQ(w[16 * i + k] == -99.0f, !inRange) << "build " << build << " bone " << i;
                EXPECT_EQ(c[16 * i + k] == -99.0f, !(inRange && composites))
                    << "build " << build << " bone " << i;
            }
        }
        for (int k = 0; k < 16 * kFirst; ++k)
            ASSERT_EQ(c[k], -99.0f) << "build " << build;
    }
}

// R(q) is built from the stored quaternion without normalising it, on every path.
TEST(WorldPose, OrientationsAreNotNormalised) {
    Random random(19);
    Scene scene = RandomScene(random, 16, AllFlagSets(), 2);
    for (int i = 0; i < 16; ++i) {
        orvane_transform& t = scene.local[i];
        uint32_t flags = OrvaneTransformHasOrientation | uint32_t(i % 2);
        if (i % 3 == 0) flags |= OrvaneTransformHasScaleShear;
        t = RandomLocal(random, flags);
        const float length = i % 2 ? 0.5f : 1.25f;
        for (float& q : t.Orientation)
            q *= length;
    }
    LocalPosePtr local = PoseOf(scene.local);
    alignas(16) float offset[16];
    RandomOffset(random, offset);
    ReferencePose ref = ReferenceWorldPose(*scene.skeleton, scene.local, offset);
    for (int p = 0; p < orvane::kWorldPosePathCount; ++p) {
        const orvane::WorldPoseRoutines* path =
            orvane::WorldPoseRoutinesFor(orvane::WorldPosePath(p));
        if (path == nullptr) continue;
        for (bool composites : {true, false}) {
            PathResult got = RunPath(*path, *scene.skeleton, *local, offset, composites);
            for (int i = 0; i < 16; ++i) {
                EXPECT_LT(RelativeError(&got.world[16 * size_t(i)], ref.world[i]), 2e-5)
                    << path->name << " bone " << i;
                if (composites) {
                    EXPECT_LT(CompositeError(&got.composite[16 * size_t(i)], ref.composite[i],
                                             ref.world[i],
                                             orvane::InverseWorldOf(scene.skeleton->Bones[i])),
                              2e-5)
                        << path->name << " bone " << i;
                }
            }
        }
    }
}

TEST(WorldPose, EveryPathAgreesWithTheGenericOne) {
    const orvane::WorldPoseRoutines* generic =
        orvane::WorldPoseRoutinesFor(orvane::WorldPosePath::Generic);
    ASSERT_NE(generic, nullptr);
    std::vector<const orvane::WorldPoseRoutines*> paths;
    for (auto p : {orvane::WorldPosePath::SSE, orvane::WorldPosePath::AVX2})
        if (auto* r = orvane::WorldPoseRoutinesFor(p)) paths.push_back(r);
#if defined(__x86_64__)
    EXPECT_NE(orvane::WorldPoseRoutinesFor(orvane::WorldPosePath::SSE), nullptr);
#endif
    Random random(3);
    for (int round = 0; round < 30; ++round) {
        Scene scene = RandomScene(random, 1 + random.Index(60), AllFlagSets(), 2);
        LocalPosePtr local = PoseOf(scene.local);
        alignas(16) float offset[16];
        RandomOffset(random, offset);
        // Each path's world matrices are the same bits with and without composites (the walk
        // without them may keep a chain's matrices in registers).
        for (const auto* path : paths) {
            PathResult with = RunPath(*path, *scene.skeleton, *local, offset, true);
            PathResult without = RunPath(*path, *scene.skeleton, *local, offset, false);
            EXPECT_EQ(0, std::memcmp(with.world.data(), without.world.data(),
                                     with.world.size() * sizeof(float)))
                << path->name;
        }
        for (bool composites : {true, false}) {
            PathResult want = RunPath(*generic, *scene.skeleton, *local, offset, composites);
            for (const auto* path : paths) {
                PathResult got = RunPath(*path, *scene.skeleton, *local, offset, composites);
                // SSE repeats the generic operations lane by lane; AVX2 fuses them.
                const double tolerance = path->path == orvane::WorldPosePath::SSE ? 0.0 : 1e-5;
                for (int i = 0; i < scene.skeleton->BoneCount; ++i) {
                    for (int k = 0; k < 16; ++k) {
                        const size_t e = 16 * size_t(i) + k;
                        double scale = 1.0;
                        for (int m = 0; m < 16; ++m)
                            scale = std::max(scale, double(std::fabs(want.world[16 * i + m])));
                        EXPECT_LE(std::fabs(got.world[e] - want.world[e]), tolerance * scale)
                            << path->name << " bone " << i << " element " << k;
                        if (composites) {
                            double cs = 1.0;
                            for (int m = 0; m < 16; ++m)
                                cs = std::max(cs, double(std::fabs(want.composite[16 * i + m])));
                            EXPECT_LE(std::fabs(got.composite[e] - want.composite[e]),
                                      tolerance * cs)
                                << path->name << " bone " << i << " element " << k;
                        }
                    }
                }
                // Without composites the composite array is not written.
                if (!composites) {
                    EXPECT_EQ(got.composite[0], -99.0f);
                }
            }
        }
        // The per-bone entry points agree with the walk.
        for (const auto* path : paths) {
            const orvane_bone& bone = scene.skeleton->Bones[0];
            float world[16], composite[16], alone[16];
            orvane::BuildBone(*path, scene.local[0], offset, orvane::InverseWorldOf(bone),
                              composite, world);
            path->buildBoneWorld(scene.local[0], offset, alone);
            EXPECT_EQ(0, std::memcmp(world, alone, sizeof world)) << path->name;
            path->buildBoneComposite(orvane::InverseWorldOf(bone), world, alone);
            EXPECT_EQ(0, std::memcmp(composite, alone, sizeof composite)) << path->name;
        }
    }
}

TEST(WorldPose, ChosenPathIsOneOfTheAvailable) {
    const orvane::WorldPoseRoutines& chosen = orvane::ChosenWorldPoseRoutines();
    EXPECT_EQ(orvane::WorldPoseRoutinesFor(chosen.path), &chosen);
    EXPECT_EQ(&orvane::ChosenWorldPoseRoutines(), &chosen);
    // A path forced through the environment is taken when this processor has it.
    if (const char* forced = std::getenv("ORVANE_WORLD_POSE_PATH")) {
        for (int p = 0; p < orvane::kWorldPosePathCount; ++p) {
            const auto* r = orvane::WorldPoseRoutinesFor(orvane::WorldPosePath(p));
            if (r && std::string(r->name) == forced) {
                EXPECT_EQ(&chosen, r);
            }
        }
    }
}

TEST(WorldPose, RangesAreCheckedBeforeAnythingIsWritten) {
    Random random(4);
    Scene scene = RandomScene(random, 6, AllFlagSets());
    LocalPosePtr local = PoseOf(scene.local);
    WorldPosePtr world(OrvaneNewWorldPose(6));
    float* w = OrvaneGetWorldPose4x4Array(world.get());
    std::fill(w, w + 96, 5.0f);
    LogCapture log;
    OrvaneBuildWorldPose(scene.skeleton.get(), 0, 7, local.get(), nullptr, world.get());
    EXPECT_TRUE(log.Contains("OnePastLastBone 7 is out of range [0, 6]"));
    OrvaneBuildWorldPose(scene.skeleton.get(), -1, 3, local.get(), nullptr, world.get());
    OrvaneBuildWorldPoseNoComposite(scene.skeleton.get(), 2, 5, local.get(), nullptr, world.get());
    OrvaneBuildRestWorldPose(scene.skeleton.get(), 0, 7, nullptr, world.get());
    OrvaneBuildCompositeFromWorldPose(scene.skeleton.get(), 3, 4, world.get());
    EXPECT_EQ(log.errors(), 5u);
    for (int k = 0; k < 96; ++k)
        ASSERT_EQ(w[k], 5.0f);

    // A world pose smaller than the local pose, and a skeleton smaller than both.
    WorldPosePtr small(OrvaneNewWorldPose(4));
    log.Clear();
    OrvaneBuildWorldPose(scene.skeleton.get(), 0, 5, local.get(), nullptr, small.get());
    EXPECT_TRUE(log.Contains("OnePastLastBone 5 is out of range [0, 4]"));
    LocalPosePtr big(OrvaneNewLocalPose(9));
    WorldPosePtr bigWorld(OrvaneNewWorldPose(9));
    log.Clear();
    OrvaneBuildWorldPose(scene.skeleton.get(), 0, 9, big.get(), nullptr, bigWorld.get());
    EXPECT_TRUE(log.Contains("OnePastLastBone 9 is out of range [0, 6]"));
    // An empty range is fine.
    log.Clear();
    OrvaneBuildWorldPose(scene.skeleton.get(), 6, 0, local.get(), nullptr, world.get());
    EXPECT_EQ(log.errors(), 0u);
}

// FirstBone + BoneCount past the int32 range is reported with its true value, not wrapped.
TEST(WorldPose, RangeEndPastTheInt32RangeIsReportedUnwrapped) {
    Random random(15);
    Scene scene = RandomScene(random, 6, AllFlagSets());
    LocalPosePtr local = PoseOf(scene.local);
    WorldPosePtr world(OrvaneNewWorldPose(6));
    LogCapture log;
    OrvaneBuildWorldPose(scene.skeleton.get(), INT32_MAX, 1, local.get(), nullptr, world.get());
    EXPECT_TRUE(log.Contains("OnePastLastBone 2147483648 is out of range [0, 6]"));
    log.Clear();
    OrvaneBuildRestWorldPose(scene.skeleton.get(), INT32_MAX, INT32_MAX, nullptr, world.get());
    EXPECT_TRUE(log.Contains("OnePastLastBone 4294967294 is out of range [0, 6]"));
    log.Clear();
    OrvaneBuildCompositeFromWorldPose(scene.skeleton.get(), 5, INT32_MAX, world.get());
    EXPECT_TRUE(log.Contains("OnePastLastBone 2147483652 is out of range [0, 6]"));
    EXPECT_EQ(log.errors(), 1u);
}

TEST(WorldPose, BrokenParentOrderIsRefused) {
    Random random(5);
    Scene scene = RandomScene(random, 5, AllFlagSets());
    LocalPosePtr local = PoseOf(scene.local);
    // What the bones before the broken one come to.
    WorldPosePtr expected(OrvaneNewWorldPose(5));
    OrvaneBuildWorldPose(scene.skeleton.get(), 0, 3, local.get(), nullptr, expected.get());
    WorldPosePtr world(OrvaneNewWorldPose(5));
    float* w = OrvaneGetWorldPose4x4Array(world.get());
    float* c = OrvaneGetWorldPoseComposite4x4Array(world.get());
    LogCapture log;
    for (int32_t bad : {3, 4, 7, -2, 1 << 30, INT32_MAX, INT32_MIN}) {
        scene.skeleton->Bones[3].ParentIndex = bad;
        for (int build = 0; build < 4; ++build) {
            log.Clear();
            std::fill(w, w + 80, 5.0f);
            std::fill(c, c + 80, 5.0f);
            if (build == 0)
                OrvaneBuildWorldPose(scene.skeleton.get(), 0, 5, local.get(), nullptr, world.get());
            else if (build == 1)
                OrvaneBuildWorldPoseNoComposite(scene.skeleton.get(), 0, 5, local.get(), nullptr,
                                                world.get());
            else if (build == 2)
                OrvaneBuildRestWorldPose(scene.skeleton.get(), 0, 5, nullptr, world.get());
            else
                OrvaneBuildWorldPose(scene.skeleton.get(), 3, 2, local.get(), nullptr, world.get());
            EXPECT_EQ(log.errors(), 1u) << bad << " build " << build;
            EXPECT_TRUE(log.Contains("Bone 3 has parent index")) << bad << " build " << build;
            // The walk stops at the broken bone: it and the bones after it are not written.
            for (int k = 48; k < 80; ++k) {
                ASSERT_EQ(w[k], 5.0f) << bad << " build " << build;
                ASSERT_EQ(c[k], 5.0f) << bad << " build " << build;
            }
            if (build == 0) {
                EXPECT_EQ(0, std::memcmp(w, OrvaneGetWorldPose4x4Array(expected.get()), 48 * 4));
            }
        }
    }
    // A range below the broken bone is still built.
    log.Clear();
    OrvaneBuildWorldPose(scene.skeleton.get(), 0, 3, local.get(), nullptr, world.get());
    EXPECT_EQ(log.errors(), 0u);
}

TEST(WorldPose, PartialRangesTakeEarlierBonesAsBuilt) {
    Random random(6);
    Scene scene = RandomScene(random, 20, AllFlagSets());
    LocalPosePtr local = PoseOf(scene.local);
    WorldPosePtr whole(OrvaneNewWorldPose(20)), parts(OrvaneNewWorldPose(20));
    OrvaneBuildWorldPose(scene.skeleton.get(), 0, 20, local.get(), nullptr, whole.get());
    OrvaneBuildWorldPose(scene.skeleton.get(), 0, 7, local.get(), nullptr, parts.get());
    OrvaneBuildWorldPose(scene.skeleton.get(), 7, 13, local.get(), nullptr, parts.get());
    EXPECT_EQ(0, std::memcmp(OrvaneGetWorldPose4x4Array(whole.get()),
                             OrvaneGetWorldPose4x4Array(parts.get()), 64 * 20));
    EXPECT_EQ(0, std::memcmp(OrvaneGetWorldPoseComposite4x4Array(whole.get()),
                             OrvaneGetWorldPoseComposite4x4Array(parts.get()), 64 * 20));
}

TEST(WorldPose, RestBuildUsesTheSkeletonsTransforms) {
    Random random(7);
    Scene scene = RandomScene(random, 25, AllFlagSets(), 2);
    std::vector<orvane_transform> rest;
    for (int i = 0; i < 25; ++i)
        rest.push_back(scene.skeleton->Bones[i].Transform);
    float offset[16];
    RandomOffset(random, offset);
    ReferencePose ref = ReferenceWorldPose(*scene.skeleton, rest, offset);
    WorldPosePtr world(OrvaneNewWorldPose(25));
    OrvaneBuildRestWorldPose(scene.skeleton.get(), 0, 25, offset, world.get());
    for (int i = 0; i < 25; ++i)
        EXPECT_LT(RelativeError(OrvaneGetWorldPose4x4(world.get(), i), ref.world[i]), 2e-5);
    // Without an offset the rest world matrices undo the inverse world transforms.
    OrvaneBuildRestWorldPose(scene.skeleton.get(), 0, 25, nullptr, world.get());
    ref = ReferenceWorldPose(*scene.skeleton, rest, nullptr);
    for (int i = 0; i < 25; ++i)
        EXPECT_LT(CompositeError(OrvaneGetWorldPoseComposite4x4(world.get(), i), Mat4::Identity(),
                                 ref.world[i], orvane::InverseWorldOf(scene.skeleton->Bones[i])),
                  1e-4)
            << i;
}

TEST(WorldPose, SparseBuildTakesRestTransformsForMissingBones) {
    Random random(8);
    for (int round = 0; round < 10; ++round) {
        const int n = 2 + random.Index(30);
        Scene scene = RandomScene(random, n, AllFlagSets(), 2);
        std::vector<int32_t> sparse(n), reverse(n);
        int32_t count = OrvaneSparseBoneArrayCreateSingleBone(scene.skeleton.get(), n - 1,
                                                              sparse.data(), reverse.data());
        count = OrvaneSparseBoneArrayAddBone(scene.skeleton.get(), random.Index(n), count,
                                             sparse.data(), reverse.data());
        ASSERT_TRUE(OrvaneSparseBoneArrayIsValid(n, count, sparse.data(), reverse.data()));
        LocalPosePtr local(OrvaneNewLocalPose(count));
        std::vector<orvane_transform> expected(n);
        for (int b = 0; b < n; ++b) {
            expected[b] = scene.skeleton->Bones[b].Transform;
            if (reverse[b] >= 0) {
                expected[b] = scene.local[b];
                *OrvaneGetLocalPoseTransform(local.get(), reverse[b]) = scene.local[b];
            }
        }
        ReferencePose ref = ReferenceWorldPose(*scene.skeleton, expected, nullptr);
        WorldPosePtr world(OrvaneNewWorldPose(n)), worldOnly(OrvaneNewWorldPose(n));
        OrvaneBuildWorldPoseSparse(scene.skeleton.get(), 0, n, sparse.data(), reverse.data(),
                                   local.get(), nullptr, world.get());
        OrvaneBuildWorldPoseNoCompositeSparse(scene.skeleton.get(), 0, n, sparse.data(),
                                              reverse.data(), local.get(), nullptr,
                                              worldOnly.get());
        for (int i = 0; i < n; ++i) {
            EXPECT_LT(RelativeError(OrvaneGetWorldPose4x4(world.get(), i), ref.world[i]), 2e-5);
            EXPECT_LT(
                CompositeError(OrvaneGetWorldPoseComposite4x4(world.get(), i), ref.composite[i],
                               ref.world[i], orvane::InverseWorldOf(scene.skeleton->Bones[i])),
                2e-5);
        }
        EXPECT_EQ(0, std::memcmp(OrvaneGetWorldPose4x4Array(world.get()),
                                 OrvaneGetWorldPose4x4Array(worldOnly.get()), 64 * size_t(n)));
        // A reverse entry beyond the sparse pose is refused.
        LogCapture log;
        reverse[0] = count;
        OrvaneBuildWorldPoseSparse(scene.skeleton.get(), 0, n, sparse.data(), reverse.data(),
                                   local.get(), nullptr, world.get());
        EXPECT_TRUE(log.Contains("SparseBoneArrayReverse[0] is out of range"));
    }
}

// Distinct poses built from several threads at once, the first builds of the process among
// them, give what one thread gives.
TEST(WorldPose, DistinctPosesBuildConcurrently) {
    Random random(9);
    Scene scene = RandomScene(random, 67, AllFlagSets(), 1);
    LocalPosePtr local = PoseOf(scene.local);
    WorldPosePtr want(OrvaneNewWorldPose(67));
    OrvaneBuildWorldPose(scene.skeleton.get(), 0, 67, local.get(), nullptr, want.get());
    constexpr int kThreads = 4;
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            LocalPosePtr mine(OrvaneNewLocalPose(67));
            WorldPosePtr world(OrvaneNewWorldPose(67));
            for (int round = 0; round < 200; ++round) {
                OrvaneBeginLocalPoseAccumulation(mine.get(), 0, 67, nullptr);
                for (int b = 0; b < 67; ++b)
                    OrvaneAccumulateLocalTransform(mine.get(), b, b, 1.0f, scene.skeleton.get(), 0,
                                                   &scene.local[b]);
                OrvaneEndLocalPoseAccumulation(mine.get(), 0, 67, scene.skeleton.get(), nullptr);
                // One accumulation of weight 1 is the transform itself, up to the normalisation
                // of an orientation that was already unit length.
                OrvaneCopyLocalPose(local.get(), mine.get());
                OrvaneBuildWorldPose(scene.skeleton.get(), 0, 67, mine.get(), nullptr, world.get());
                if (std::memcmp(OrvaneGetWorldPoseComposite4x4Array(world.get()),
                                OrvaneGetWorldPoseComposite4x4Array(want.get()), 64 * 67) != 0)
                    ++mismatches;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(mismatches.load(), 0);
}

// Hosts without processes of their own (WebAssembly) have no death tests.
#if GTEST_HAS_DEATH_TEST
// The first builds of a process, from several threads at the same moment: run in a fresh
// child process so that the one-time choice of the routines has not happened yet.
void FirstBuildsRaceAndExit() {
    Random random(10);
    Scene scene = RandomScene(random, 30, AllFlagSets(), 1);
    LocalPosePtr local = PoseOf(scene.local);
    constexpr int kThreads = 4;
    std::atomic<int> waiting{kThreads};
    std::vector<WorldPosePtr> worlds;
    for (int t = 0; t < kThreads; ++t)
        worlds.emplace_back(OrvaneNewWorldPose(30));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            waiting.fetch_sub(1);
            while (waiting.load() > 0) {
            }
            OrvaneBuildWorldPose(scene.skeleton.get(), 0, 30, local.get(), nullptr,
                                 worlds[t].get());
        });
    }
    for (auto& t : threads)
        t.join();
    int mismatches = 0;
    for (int t = 1; t < kThreads; ++t)
        mismatches +=
            std::memcmp(OrvaneGetWorldPoseComposite4x4Array(worlds[0].get()),
                        OrvaneGetWorldPoseComposite4x4Array(worlds[t].get()), 64 * 30) != 0;
    worlds.clear();
    local.reset();
    scene.skeleton.reset();
    std::exit(mismatches == 0 ? 0 : 1);
}

TEST(WorldPoseDeathTest, FirstBuildsFromSeveralThreadsAtOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(FirstBuildsRaceAndExit(), ::testing::ExitedWithCode(0), "");
}
#endif

}  // namespace

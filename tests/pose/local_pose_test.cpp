// Local poses: accumulation and its end-of-pass rules, the world matrix of one bone, the
// attachment offset, the modulation composite, copies and sparse bone arrays.
#include <cmath>
#include <cstring>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "pose/orvane_local_pose.h"
#include "pose/skeleton_test_support.h"
#include "orvane/local_pose.h"
#include "orvane/track_mask.h"
#include "support/log_capture.h"

namespace {

using namespace orvane_test;

struct PoseDeleter {
    void operator()(orvane_local_pose* p) const { OrvaneFreeLocalPose(p); }
};
using LocalPosePtr = std::unique_ptr<orvane_local_pose, PoseDeleter>;

// A chain of n bones with random rest transforms (all components present).
SkeletonPtr RandomChain(Random& random, int n) {
    Forest f;
    for (int i = 0; i < n; ++i) {
        f.parent.push_back(i - 1);
        f.local.push_back(RandomLocal(random, 7));
    }
    return BuildSkeleton(f);
}

orvane_transform Rest(const orvane_skeleton& s, int b) {
    return s.Bones[b].Transform;
}

void ExpectTransformNear(const orvane_transform& got, const orvane_transform& want, double tol) {
    EXPECT_EQ(got.Flags, want.Flags);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(got.Position[i], want.Position[i], tol) << "position " << i;
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(got.Orientation[i], want.Orientation[i], tol) << "orientation " << i;
    for (int i = 0; i < 9; ++i)
        EXPECT_NEAR((&got.ScaleShear[0][0])[i], (&want.ScaleShear[0][0])[i], tol)
            << "scale/shear " << i;
}

class LocalPoseTest : public ::testing::Test {
protected:
    Random random{21};
    SkeletonPtr skeleton = RandomChain(random, 4);
    LocalPosePtr pose{OrvaneNewLocalPose(4)};

    void Accumulate(int bone, float weight, int mode, const orvane_transform& t) {
        OrvaneAccumulateLocalTransform(pose.get(), bone, bone, weight, skeleton.get(), mode, &t);
    }
    void Begin() { OrvaneBeginLocalPoseAccumulation(pose.get(), 0, 4, nullptr); }
    void End() { OrvaneEndLocalPoseAccumulation(pose.get(), 0, 4, skeleton.get(), nullptr); }
    const orvane_transform& At(int bone) { return *OrvaneGetLocalPoseTransform(pose.get(), bone); }
};

TEST_F(LocalPoseTest, CreationAndAccessors) {
    EXPECT_EQ(OrvaneGetLocalPoseBoneCount(pose.get()), 4);
    EXPECT_FLOAT_EQ(OrvaneGetLocalPoseFillThreshold(pose.get()), 0.2f);
    OrvaneSetLocalPoseFillThreshold(pose.get(), 0.5f);
    EXPECT_FLOAT_EQ(OrvaneGetLocalPoseFillThreshold(pose.get()), 0.5f);
    EXPECT_EQ(OrvaneNewLocalPoseInPlace(4, nullptr), nullptr);
    EXPECT_EQ(OrvaneGetResultingLocalPoseSize(-1), 0);
    std::vector<char> memory(size_t(OrvaneGetResultingLocalPoseSize(3)) + 8);
    void* place = memory.data() + (8 - reinterpret_cast<uintptr_t>(memory.data()) % 8) % 8;
    orvane_local_pose* inPlace = OrvaneNewLocalPoseInPlace(3, place);
    ASSERT_EQ(static_cast<void*>(inPlace), place);
    EXPECT_LE(reinterpret_cast<char*>(inPlace->Bones + 3),
              static_cast<char*>(place) + OrvaneGetResultingLocalPoseSize(3));
    LogCapture log;
    EXPECT_EQ(OrvaneGetLocalPoseTransform(pose.get(), 4), nullptr);
    EXPECT_EQ(OrvaneGetLocalPoseTransform(pose.get(), -1), nullptr);
    EXPECT_TRUE(log.Contains("BoneIndex 4 is out of range [0, 4)"));
}

// A count whose block does not fit an int32 has the size 0: building it in memory sized by
// that 0 must write nothing, and the allocating form must not ask for the block either.
TEST(LocalPoseSize, CountsBeyondTheSizeRangeBuildNoPose) {
    int32_t largest =
        (INT32_MAX - OrvaneGetResultingLocalPoseSize(0)) / int32_t(sizeof(orvane_local_pose_bone));
    while (OrvaneGetResultingLocalPoseSize(largest) == 0)
        --largest;
    EXPECT_GT(
        int64_t(OrvaneGetResultingLocalPoseSize(largest)) + int64_t(sizeof(orvane_local_pose_bone)),
        int64_t(INT32_MAX));
    EXPECT_EQ(OrvaneGetResultingLocalPoseSize(largest + 1), 0);
    LogCapture log;
    alignas(16) unsigned char memory[64];
    std::memset(memory, 0xA5, sizeof memory);
    for (int32_t count : {largest + 1, INT32_MAX}) {
        log.Clear();
        EXPECT_EQ(OrvaneNewLocalPoseInPlace(count, memory), nullptr) << count;
        EXPECT_TRUE(log.Contains("BoneCount " + std::to_string(count) + " is out of range [0, " +
                                 std::to_string(largest) + "]"))
            << count;
        log.Clear();
        EXPECT_EQ(OrvaneNewLocalPose(count), nullptr) << count;
        EXPECT_EQ(log.errors(), 1u) << count;
    }
    for (unsigned char byte : memory)
        ASSERT_EQ(byte, 0xA5);
}

TEST_F(LocalPoseTest, OneFullWeightIsTheTransformItself) {
    orvane_transform t = RandomLocal(random, 7);
    Begin();
    Accumulate(1, 1.0f, OrvaneQuaternionBlendDirect, t);
    End();
    ExpectTransformNear(At(1), t, 2e-7);
}

TEST_F(LocalPoseTest, LightBonesAreFilledFromTheRestPose) {
    orvane_transform t = RandomLocal(random, 7);
    Begin();
    Accumulate(2, 0.1f, OrvaneQuaternionBlendDirect, t);
    End();
    const orvane_transform rest = Rest(*skeleton, 2);
    orvane_transform want;
    for (int i = 0; i < 3; ++i)
        want.Position[i] = (0.1f * t.Position[i] + 0.1f * rest.Position[i]) / 0.2f;
    for (int i = 0; i < 9; ++i)
        (&want.ScaleShear[0][0])[i] =
            (0.1f * (&t.ScaleShear[0][0])[i] + 0.1f * (&rest.ScaleShear[0][0])[i]) / 0.2f;
    double len = 0;
    float q[4];
    for (int i = 0; i < 4; ++i) {
        q[i] = 0.1f * t.Orientation[i] + 0.1f * rest.Orientation[i];
        len += double(q[i]) * q[i];
    }
    for (int i = 0; i < 4; ++i)
        want.Orientation[i] = float(q[i] / std::sqrt(len));
    want.Flags = t.Flags | rest.Flags;
    ExpectTransformNear(At(2), want, 1e-5);
    EXPECT_FLOAT_EQ(pose->Bones[2].Weight, 0.2f);
    EXPECT_EQ(pose->Bones[2].Count, 2);
}

TEST_F(LocalPoseTest, UntouchedBonesShowTheRestPose) {
    orvane_transform t = RandomLocal(random, 7);
    Begin();
    Accumulate(0, 1.0f, OrvaneQuaternionBlendDirect, t);
    End();
    Begin();
    End();
    for (int b = 0; b < 4; ++b)
        EXPECT_EQ(0, std::memcmp(&At(b), &skeleton->Bones[b].Transform, sizeof(orvane_transform)));
    // Entries of a fresh pose belong to no pass, even before the first is opened.
    LocalPosePtr fresh(OrvaneNewLocalPose(4));
    OrvaneEndLocalPoseAccumulation(fresh.get(), 0, 4, skeleton.get(), nullptr);
    for (int b = 0; b < 4; ++b)
        EXPECT_EQ(0, std::memcmp(OrvaneGetLocalPoseTransform(fresh.get(), b),
                                 &skeleton->Bones[b].Transform, sizeof(orvane_transform)));
}

TEST_F(LocalPoseTest, QuaternionModes) {
    orvane_transform t = RandomLocal(random, 7);
    Begin();
    Accumulate(0, 1.0f, OrvaneQuaternionBlendInverted, t);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(At(0).Orientation[i], -t.Orientation[i]);
    End();
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(At(0).Orientation[i], -t.Orientation[i], 2e-7);

    // The neighbourhood mode adds q and -q alike; the direct mode cancels them.
    orvane_transform negated = t;
    for (float& c : negated.Orientation)
        c = -c;
    Begin();
    Accumulate(1, 0.5f, OrvaneQuaternionBlendNeighborhood, t);
    orvane_transform first = At(1);
    Begin();
    Accumulate(1, 0.5f, OrvaneQuaternionBlendNeighborhood, negated);
    EXPECT_EQ(0, std::memcmp(first.Orientation, At(1).Orientation, sizeof first.Orientation));
    Accumulate(1, 0.5f, OrvaneQuaternionBlendNeighborhood, t);
    for (int i = 0; i < 4; ++i)
        EXPECT_FLOAT_EQ(At(1).Orientation[i], 2 * first.Orientation[i]);
    Begin();
    Accumulate(3, 0.5f, OrvaneQuaternionBlendDirect, t);
    Accumulate(3, 0.5f, OrvaneQuaternionBlendDirect, negated);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(At(3).Orientation[i], 0.0f);
    // Closing the pass leaves no zero-length orientation: the bone takes its rest orientation.
    End();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(At(3).Orientation[i], skeleton->Bones[3].Transform.Orientation[i]);
    // Unknown modes act as the direct one.
    Begin();
    Accumulate(2, 1.0f, 17, negated);
    EXPECT_EQ(0, std::memcmp(At(2).Orientation, negated.Orientation, sizeof negated.Orientation));
}

// The weighted mean of the contributions and the rest fill, in doubles, with a clear
// scale/shear flag read as the identity.
orvane_transform MeanOf(const std::vector<std::pair<float, orvane_transform>>& parts,
                        const orvane_transform& rest, float threshold) {
    std::vector<std::pair<float, orvane_transform>> all = parts;
    double total = 0;
    for (const auto& [w, t] : parts)
        total += w;
    if (total < threshold) all.push_back({float(threshold - total), rest});
    double p[3] = {}, q[4] = {}, s[9] = {}, sum = 0;
    orvane_transform want;
    want.Flags = 0;
    for (const auto& [w, t] : all) {
        want.Flags |= t.Flags;
        sum += w;
        for (int i = 0; i < 3; ++i)
            p[i] += double(w) * t.Position[i];
        for (int i = 0; i < 4; ++i)
            q[i] += double(w) * t.Orientation[i];
        for (int i = 0; i < 9; ++i) {
            const double identity = i % 4 == 0 ? 1.0 : 0.0;
            s[i] +=
                w * (t.Flags & OrvaneTransformHasScaleShear ? (&t.ScaleShear[0][0])[i] : identity);
        }
    }
    const double len = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    for (int i = 0; i < 3; ++i)
        want.Position[i] = float(p[i] / sum);
    for (int i = 0; i < 4; ++i)
        want.Orientation[i] = float(q[i] / len);
    for (int i = 0; i < 9; ++i)
        (&want.ScaleShear[0][0])[i] = float(s[i] / sum);
    return want;
}

TEST_F(LocalPoseTest, SamplerAccumulationMixesScaleShearFlagsInAnyOrder) {
    // Rest transforms without scale/shear, so that fills and untouched components meet both.
    Forest f;
    for (int i = 0; i < 4; ++i) {
        f.parent.push_back(i - 1);
        f.local.push_back(RandomLocal(random, i == 3 ? 7 : 3));
    }
    SkeletonPtr flat = BuildSkeleton(f);
    const uint32_t orders[][3] = {{3, 3, 3}, {3, 7, 3}, {7, 3, 3}, {3, 3, 7}, {7, 7, 3}};
    const float weights[][3] = {{0.3f, 0.5f, 0.2f}, {0.05f, 0.05f, 0.02f}, {0.6f, 0.3f, 0.6f}};
    for (const auto& flags : orders) {
        for (const auto& w : weights) {
            for (int b = 0; b < 4; ++b) {
                std::vector<std::pair<float, orvane_transform>> parts;
                for (int k = 0; k < 3; ++k) {
                    orvane_transform t = RandomLocal(random, flags[k]);
                    // Flagless scale/shear must not be read by the sampler path.
                    if (!(flags[k] & OrvaneTransformHasScaleShear))
                        for (int i = 0; i < 9; ++i)
                            (&t.ScaleShear[0][0])[i] = 1e30f;
                    parts.push_back({w[k], t});
                }
                // The same orientation hemisphere, so that the direct sum is the mean.
                for (auto& [wk, t] : parts) {
                    const float* r = parts[0].second.Orientation;
                    const float dot = r[0] * t.Orientation[0] + r[1] * t.Orientation[1] +
                                      r[2] * t.Orientation[2] + r[3] * t.Orientation[3];
                    if (dot < 0)
                        for (float& c : t.Orientation)
                            c = -c;
                }
                const orvane_transform rest = Rest(*flat, b);
                if (rest.Orientation[0] * parts[0].second.Orientation[0] +
                        rest.Orientation[1] * parts[0].second.Orientation[1] +
                        rest.Orientation[2] * parts[0].second.Orientation[2] +
                        rest.Orientation[3] * parts[0].second.Orientation[3] <
                    0)
                    for (auto& [wk, t] : parts)
                        for (float& c : t.Orientation)
                            c = -c;
                OrvaneBeginLocalPoseAccumulation(pose.get(), 0, 4, nullptr);
                for (const auto& [wk, t] : parts)
                    orvane::AccumulateUnchecked(*pose, pose->Bones[b], wk, wk, t);
                OrvaneEndLocalPoseAccumulation(pose.get(), 0, 4, flat.get(), nullptr);
                ExpectTransformNear(At(b), MeanOf(parts, rest, 0.2f), 2e-5);
            }
        }
    }
    // A single flagless contribution of full weight ends with an exact identity.
    orvane_transform t = RandomLocal(random, 3);
    OrvaneBeginLocalPoseAccumulation(pose.get(), 0, 4, nullptr);
    orvane::AccumulateUnchecked(*pose, pose->Bones[0], 0.7f, 0.7f, t);
    orvane::AccumulateUnchecked(*pose, pose->Bones[0], 0.3f, 0.3f, t);
    OrvaneEndLocalPoseAccumulation(pose.get(), 0, 4, flat.get(), nullptr);
    const float identity[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    EXPECT_EQ(0, std::memcmp(At(0).ScaleShear, identity, sizeof identity));
}

TEST_F(LocalPoseTest, PublicAccumulationKeepsItsSumsBeforeEnd) {
    const orvane_transform t = RandomLocal(random, 3);
    Begin();
    Accumulate(0, 0.25f, OrvaneQuaternionBlendDirect, t);
    Accumulate(0, 0.5f, OrvaneQuaternionBlendDirect, t);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ((&At(0).ScaleShear[0][0])[i], i % 4 == 0 ? 0.75f : 0.0f) << i;
    // A sampler contribution with scale/shear joins the sums of the public one.
    const orvane_transform scaled = RandomLocal(random, 7);
    orvane::AccumulateUnchecked(*pose, pose->Bones[0], 0.25f, 0.25f, scaled);
    for (int i = 0; i < 9; ++i)
        EXPECT_FLOAT_EQ((&At(0).ScaleShear[0][0])[i],
                        (i % 4 == 0 ? 0.75f : 0.0f) + 0.25f * (&scaled.ScaleShear[0][0])[i])
            << i;
}

TEST_F(LocalPoseTest, PublicSumsAreTheWeightedSumsOfEachComponent) {
    // Any mix of flags, first touches of weight 1 and of other weights: the open pass holds,
    // exactly, the single-precision sum of each weighted component in arrival order.
    const uint32_t flagSets[] = {3, 7, 7, 3, 7, 1, 7};
    const float weights[] = {0.3f, 1.0f, 0.45f, 0.125f, 0.7f, 0.6f, 0.2f};
    for (int first = 0; first < 7; ++first) {
        Begin();
        orvane_transform want{};
        float scale[9] = {};
        bool scaled = false;
        for (int k = 0; k < 4; ++k) {
            const int j = (first + k) % 7;
            const orvane_transform t = RandomLocal(random, flagSets[j]);
            const float w = weights[j];
            Accumulate(1, w, OrvaneQuaternionBlendDirect, t);
            const float* ts = &t.ScaleShear[0][0];
            const bool adds = (t.Flags & OrvaneTransformHasScaleShear) != 0;
            if (k == 0) {
                want.Flags = t.Flags;
                for (int i = 0; i < 3; ++i)
                    want.Position[i] = w == 1.0f ? t.Position[i] : w * t.Position[i];
                for (int i = 0; i < 4; ++i)
                    want.Orientation[i] = w * t.Orientation[i];
                for (int i = 0; i < 9; ++i)
                    scale[i] = w == 1.0f ? ts[i] : w * ts[i];
                scaled = adds;
                continue;
            }
            want.Flags |= t.Flags;
            for (int i = 0; i < 3; ++i)
                want.Position[i] += w * t.Position[i];
            for (int i = 0; i < 4; ++i)
                want.Orientation[i] += w * t.Orientation[i];
            if (adds && !scaled) {
                // Until a scaled contribution arrives the sum is the weight times the identity.
                float total = 0;
                for (int m = 0; m < k; ++m)
                    total += weights[(first + m) % 7];
                for (int i = 0; i < 9; ++i)
                    scale[i] = i % 4 == 0 ? total : 0.0f;
            }
            for (int i = 0; i < 9; ++i)
                scale[i] += adds || !scaled ? w * ts[i] : (i % 4 == 0 ? w : 0.0f);
            scaled = scaled || adds;
        }
        const orvane_transform& got = At(1);
        EXPECT_EQ(got.Flags, want.Flags) << first;
        EXPECT_EQ(0, std::memcmp(got.Position, want.Position, sizeof want.Position)) << first;
        EXPECT_EQ(0, std::memcmp(got.Orientation, want.Orientation, sizeof want.Orientation))
            << first;
        EXPECT_EQ(0, std::memcmp(&got.ScaleShear[0][0], scale, sizeof scale)) << first;
        End();
    }
}

TEST(LocalPoseEnd, AWholeRangeEndsAsEachEntryEndedAlone) {
    // A range is closed four entries at a time where it can be; closing every entry on its
    // own must give the same bits, whatever mix of courses the entries take.
    Random random{34};
    constexpr int kBones = 23;
    SkeletonPtr skeleton = RandomChain(random, kBones);
    LocalPosePtr grouped{OrvaneNewLocalPose(kBones)}, single{OrvaneNewLocalPose(kBones)};
    for (int round = 0; round < 200; ++round) {
        OrvaneBeginLocalPoseAccumulation(grouped.get(), 0, kBones, nullptr);
        OrvaneBeginLocalPoseAccumulation(single.get(), 0, kBones, nullptr);
        for (int b = 0; b < kBones; ++b) {
            // Mostly the common course; now and then an untouched, light, scaled, cancelled
            // or far from unit entry.
            const int course = random.Index(10);
            if (course == 0) continue;
            orvane_transform t = RandomLocal(random, course == 1 ? 7 : 3);
            float w0 = course == 2 ? 0.05f : random.Uniform(0.2f, 1.0f);
            float w1 = random.Uniform(0.0f, 0.8f);
            if (course == 3) w0 = 1.0f, w1 = 0.0f;
            if (course == 4)
                for (float& c : t.Orientation)
                    c *= 3.0f;
            orvane_transform u = RandomLocal(random, 3);
            if (course == 5) {
                u = t;
                w1 = w0;
            }
            const int mode =
                course == 5 ? OrvaneQuaternionBlendInverted : OrvaneQuaternionBlendNeighborhood;
            for (orvane_local_pose* p : {grouped.get(), single.get()}) {
                OrvaneAccumulateLocalTransform(p, b, b, w0, skeleton.get(),
                                               OrvaneQuaternionBlendDirect, &t);
                if (w1 > 0.0f)
                    OrvaneAccumulateLocalTransform(p, b, b, w1, skeleton.get(), mode, &u);
            }
        }
        OrvaneEndLocalPoseAccumulation(grouped.get(), 0, kBones, skeleton.get(), nullptr);
        for (int b = 0; b < kBones; ++b)
            OrvaneEndLocalPoseAccumulation(single.get(), b, 1, skeleton.get(), nullptr);
        for (int b = 0; b < kBones; ++b)
            ASSERT_EQ(0, std::memcmp(&grouped->Bones[b], &single->Bones[b],
                                     sizeof(orvane_local_pose_bone)))
                << "round " << round << " bone " << b;
    }
}

TEST_F(LocalPoseTest, FillThresholdOfOnePullsToFullWeight) {
    OrvaneSetLocalPoseFillThreshold(pose.get(), 1.0f);
    orvane_transform t = RandomLocal(random, 7);
    Begin();
    Accumulate(0, 0.3f, OrvaneQuaternionBlendDirect, t);
    Accumulate(0, 0.2f, OrvaneQuaternionBlendDirect, t);
    Accumulate(1, 1.5f, OrvaneQuaternionBlendDirect, t);
    End();
    EXPECT_FLOAT_EQ(pose->Bones[0].Weight, 1.0f);
    EXPECT_FLOAT_EQ(pose->Bones[1].Weight, 1.5f);  // heavier bones are left alone
    const orvane_transform rest = Rest(*skeleton, 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(At(0).Position[i], 0.5f * t.Position[i] + 0.5f * rest.Position[i], 1e-5);
    ExpectTransformNear(At(1), t, 1e-6);
}

TEST_F(LocalPoseTest, ZeroTotalWeightGivesTheRestTransform) {
    OrvaneSetLocalPoseFillThreshold(pose.get(), 0.0f);
    orvane_transform t = RandomLocal(random, 7);
    Begin();
    Accumulate(0, 0.0f, OrvaneQuaternionBlendDirect, t);
    Accumulate(1, 0.5f, OrvaneQuaternionBlendDirect, t);
    Accumulate(1, -0.5f, OrvaneQuaternionBlendDirect, t);
    End();
    for (int b : {0, 1}) {
        EXPECT_EQ(0, std::memcmp(&At(b), &skeleton->Bones[b].Transform, sizeof(orvane_transform)))
            << b;
        for (float c : At(b).Position)
            EXPECT_TRUE(std::isfinite(c));
    }
}

TEST_F(LocalPoseTest, NormalisationUsesNewtonNearUnitLength) {
    orvane_transform t = RandomLocal(random, 7);
    for (float scale : {0.96f, 1.04f, 0.5f, 3.0f}) {
        orvane_transform scaled = t;
        for (float& c : scaled.Orientation)
            c *= scale;
        Begin();
        Accumulate(0, 1.0f, OrvaneQuaternionBlendDirect, scaled);
        End();
        double len = 0;
        for (float c : At(0).Orientation)
            len += double(c) * c;
        // Two Newton steps from 1 leave an error of the order of (1 - s2)^3.
        EXPECT_NEAR(std::sqrt(len), 1.0, 2e-4) << scale;
    }
}

TEST_F(LocalPoseTest, NearUnitOrientationsTakeTheDocumentedNewtonEstimate) {
    // Near unit length the factor is (3 - s2) * (12 - s2 * (3 - s2)^2) * 0.0625, the square
    // formed first: the same bits whether an entry is closed alone or four at a time.
    orvane_transform t = RandomLocal(random, 3);
    int checked = 0;
    for (int step = 0; step < 400; ++step) {
        const float scale = 0.951f + 0.00025f * float(step);
        orvane_transform scaled = t;
        for (float& c : scaled.Orientation)
            c *= scale;
        const float* q = scaled.Orientation;
        const float s2 = q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3];
        if (!(s2 >= 0.9f && s2 <= 1.1f)) continue;
        const float a = 3.0f - s2;
        const float square = a * a;
        const float factor = a * (12.0f - s2 * square) * 0.0625f;
        Begin();
        for (int b = 0; b < 4; ++b)
            Accumulate(b, 1.0f, OrvaneQuaternionBlendDirect, scaled);
        End();  // the four entries together
        Begin();
        Accumulate(1, 1.0f, OrvaneQuaternionBlendDirect, scaled);
        OrvaneEndLocalPoseAccumulation(pose.get(), 1, 1, skeleton.get(), nullptr);  // alone
        for (int b = 0; b < 4; ++b)
            for (int i = 0; i < 4; ++i)
                ASSERT_EQ(At(b).Orientation[i], q[i] * factor)
                    << "scale " << scale << " bone " << b << " component " << i;
        ++checked;
    }
    EXPECT_GT(checked, 300);
}

TEST_F(LocalPoseTest, RangesAndIndicesAreChecked) {
    LogCapture log;
    orvane_transform t = RandomLocal(random, 7);
    Begin();
    Accumulate(4, 1.0f, OrvaneQuaternionBlendDirect, t);
    Accumulate(-1, 1.0f, OrvaneQuaternionBlendDirect, t);
    EXPECT_TRUE(log.Contains("LocalPoseBoneIndex 4 is out of range [0, 4)"));
    OrvaneAccumulateLocalTransform(pose.get(), 0, 9, 1.0f, skeleton.get(),
                                   OrvaneQuaternionBlendNeighborhood, &t);
    EXPECT_TRUE(log.Contains("SkeletonBoneIndex 9 is out of range [0, 4)"));
    OrvaneAccumulateLocalTransform(pose.get(), 0, 0, 1.0f, nullptr,
                                   OrvaneQuaternionBlendNeighborhood, &t);
    EXPECT_EQ(log.errors(), 4u);

    Accumulate(0, 1.0f, OrvaneQuaternionBlendDirect, t);
    orvane_transform before = At(0);
    log.Clear();
    // A first bone one past the last is out of range even for an empty range.
    OrvaneEndLocalPoseAccumulation(pose.get(), 4, 0, skeleton.get(), nullptr);
    EXPECT_TRUE(log.Contains("FirstBone 4 is out of range [0, 4)"));
    EXPECT_EQ(log.errors(), 1u);
    OrvaneEndLocalPoseAccumulation(pose.get(), 4, 1, skeleton.get(), nullptr);
    EXPECT_EQ(log.errors(), 2u);
    OrvaneEndLocalPoseAccumulation(pose.get(), 1, 4, skeleton.get(), nullptr);
    EXPECT_TRUE(log.Contains("FirstBone + BoneCount 5 is out of range [0, 4]"));
    OrvaneEndLocalPoseAccumulation(pose.get(), 0, 0, skeleton.get(), nullptr);  // nothing to do
    OrvaneEndLocalPoseAccumulation(pose.get(), 3, 0, skeleton.get(), nullptr);  // nothing to do
    EXPECT_EQ(log.errors(), 3u);
    // A pose larger than the skeleton, and sparse entries outside it.
    LocalPosePtr big(OrvaneNewLocalPose(6));
    OrvaneEndLocalPoseAccumulation(big.get(), 0, 6, skeleton.get(), nullptr);
    const int32_t sparse[4] = {3, 2, 7, 0};
    OrvaneEndLocalPoseAccumulation(pose.get(), 0, 4, skeleton.get(), sparse);
    EXPECT_TRUE(log.Contains("SparseBoneArray[2] is out of range"));
    OrvaneEndLocalPoseAccumulation(pose.get(), 0, 4, nullptr, nullptr);
    EXPECT_EQ(log.errors(), 6u);
    EXPECT_EQ(0, std::memcmp(&At(0), &before, sizeof before));
}

TEST_F(LocalPoseTest, AnEmptyPoseHasNoFirstBoneToEndAt) {
    // No first bone lies in [0, 0): closing a pass on a pose without bones is out of range,
    // even over an empty range.
    LocalPosePtr empty(OrvaneNewLocalPose(0));
    ASSERT_NE(empty, nullptr);
    OrvaneBeginLocalPoseAccumulation(empty.get(), 0, 0, nullptr);
    LogCapture log;
    OrvaneEndLocalPoseAccumulation(empty.get(), 0, 0, skeleton.get(), nullptr);
    EXPECT_EQ(log.errors(), 1u);
    EXPECT_TRUE(log.Contains("FirstBone 0 is out of range [0, 0)"));
}

TEST_F(LocalPoseTest, WorldMatrixAndAttachmentOffset) {
    std::vector<orvane_transform> local;
    Begin();
    for (int b = 0; b < 4; ++b) {
        local.push_back(RandomLocal(random, 7));
        Accumulate(b, 1.0f, OrvaneQuaternionBlendDirect, local.back());
    }
    End();
    for (int b = 0; b < 4; ++b)
        local[b] = At(b);
    float offset[16];
    orvane_transform o = random.Transform();
    OrvaneBuildCompositeTransform4x4(&o, offset);
    ReferencePose ref = ReferenceWorldPose(*skeleton, local, offset);
    for (int b = 0; b < 4; ++b) {
        float m[16], inverse[16];
        OrvaneGetWorldMatrixFromLocalPose(skeleton.get(), b, pose.get(), offset, m, nullptr,
                                          nullptr);
        EXPECT_LT(RelativeError(m, ref.world[b]), 2e-5) << b;
        OrvaneGetAttachmentOffset(skeleton.get(), b, pose.get(), offset, inverse, nullptr, nullptr);
        const Mat4 product = FromColumns4(m) * FromColumns4(inverse);
        EXPECT_LT((product - Mat4::Identity()).cwiseAbs().maxCoeff() /
                      (MaxAbs(FromColumns4(m)) * MaxAbs(FromColumns4(inverse))),
                  1e-5);
    }
    // Sparse: bones 3, 1 and 0 present (descending); bone 2 is missing and shows its rest.
    LocalPosePtr sparsePose(OrvaneNewLocalPose(3));
    const int32_t reverse[4] = {2, 1, -1, 0};
    for (int b : {0, 1, 3})
        *OrvaneGetLocalPoseTransform(sparsePose.get(), reverse[b]) = local[b];
    std::vector<orvane_transform> expected = local;
    expected[2] = Rest(*skeleton, 2);
    ReferencePose sparseRef = ReferenceWorldPose(*skeleton, expected, nullptr);
    float m[16];
    OrvaneGetWorldMatrixFromLocalPose(skeleton.get(), 3, sparsePose.get(), nullptr, m, nullptr,
                                      reverse);
    EXPECT_LT(RelativeError(m, sparseRef.world[3]), 2e-5);

    LogCapture log;
    OrvaneGetWorldMatrixFromLocalPose(skeleton.get(), 4, pose.get(), nullptr, m, nullptr, nullptr);
    EXPECT_TRUE(log.Contains("BoneIndex 4 is out of range [0, 4)"));
    for (int k = 0; k < 16; ++k)
        EXPECT_EQ(m[k], k % 5 == 0 ? 1.0f : 0.0f);
    const int32_t badReverse[4] = {2, 1, -1, 5};
    OrvaneGetWorldMatrixFromLocalPose(skeleton.get(), 3, sparsePose.get(), nullptr, m, nullptr,
                                      badReverse);
    EXPECT_TRUE(log.Contains("BoneIndex 5 is out of range [0, 3)"));
    skeleton->Bones[2].ParentIndex = 2;
    OrvaneGetAttachmentOffset(skeleton.get(), 3, pose.get(), nullptr, m, nullptr, nullptr);
    EXPECT_TRUE(log.Contains("does not precede it"));
    EXPECT_EQ(log.errors(), 3u);
    for (int k = 0; k < 16; ++k)
        EXPECT_EQ(m[k], k % 5 == 0 ? 1.0f : 0.0f);
}

TEST_F(LocalPoseTest, SingularWorldMatrixHasAZeroAttachmentOffset) {
    orvane_transform flat;
    OrvaneMakeIdentity(&flat);
    flat.ScaleShear[2][2] = 0.0f;
    flat.Position[0] = 4.0f;
    flat.Flags = OrvaneTransformHasPosition | OrvaneTransformHasScaleShear;
    Begin();
    Accumulate(0, 1.0f, OrvaneQuaternionBlendDirect, flat);
    End();
    float m[16];
    std::fill(m, m + 16, 9.0f);
    OrvaneGetAttachmentOffset(skeleton.get(), 0, pose.get(), nullptr, m, nullptr, nullptr);
    for (int k = 0; k < 15; ++k)
        EXPECT_EQ(m[k], 0.0f) << k;
    EXPECT_EQ(m[15], 1.0f);
}

TEST_F(LocalPoseTest, ModulationComposite) {
    LocalPosePtr other(OrvaneNewLocalPose(4));
    std::vector<orvane_transform> a, b;
    for (int i = 0; i < 4; ++i) {
        a.push_back(RandomLocal(random, 7));
        b.push_back(RandomLocal(random, 7));
        *OrvaneGetLocalPoseTransform(pose.get(), i) = a[i];
        *OrvaneGetLocalPoseTransform(other.get(), i) = b[i];
    }
    // Uniform half blend; a mask is ignored when both weights agree.
    alignas(8) static const char opaqueMask[64] = {};
    const auto* mask = reinterpret_cast<const orvane_track_mask*>(opaqueMask);
    OrvaneModulationCompositeLocalPose(pose.get(), 0.5f, 0.5f, mask, other.get());
    for (int i = 0; i < 4; ++i) {
        for (int k = 0; k < 3; ++k)
            EXPECT_FLOAT_EQ(At(i).Position[k], 0.5f * b[i].Position[k] + 0.5f * a[i].Position[k]);
        double len = 0;
        for (float c : At(i).Orientation)
            len += double(c) * c;
        EXPECT_NEAR(len, 1.0, 1e-5);
    }
    // Full weight without a mask copies the composite pose.
    OrvaneModulationCompositeLocalPose(pose.get(), 0.0f, 1.0f, nullptr, other.get());
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(0, std::memcmp(&At(i), &b[i], sizeof(orvane_transform)));
    // Below 0.001 nothing changes.
    OrvaneModulationCompositeLocalPose(pose.get(), 0.3f, 0.0005f, nullptr,
                                       b.empty() ? nullptr : pose.get());
    // Opposite orientations blend on the base's side: back to the base.
    orvane_transform q = At(0), minus = q;
    for (float& c : minus.Orientation)
        c = -c;
    *OrvaneGetLocalPoseTransform(other.get(), 0) = minus;
    OrvaneModulationCompositeLocalPose(pose.get(), 0.5f, 0.5f, nullptr, other.get());
    for (int k = 0; k < 4; ++k)
        EXPECT_NEAR(At(0).Orientation[k], q.Orientation[k], 1e-6);

    LogCapture log;
    LocalPosePtr small(OrvaneNewLocalPose(3));
    OrvaneModulationCompositeLocalPose(pose.get(), 0.5f, 0.5f, nullptr, small.get());
    EXPECT_TRUE(log.Contains("GetLocalPoseBoneCount(CompositePose) 3 must be 4"));
    // A mask of another bone count is refused.
    orvane_track_mask* wrong = OrvaneNewTrackMask(1.0f, 3);
    OrvaneModulationCompositeLocalPose(pose.get(), 0.2f, 0.7f, wrong, other.get());
    OrvaneFreeTrackMask(wrong);
    EXPECT_TRUE(log.Contains("Mask->BoneCount 3 must be 4"));
    EXPECT_EQ(log.errors(), 2u);
}

TEST_F(LocalPoseTest, CopyKeepsEntriesWhole) {
    orvane_transform t = RandomLocal(random, 7);
    Begin();
    Accumulate(2, 0.7f, OrvaneQuaternionBlendDirect, t);
    LocalPosePtr bigger(OrvaneNewLocalPose(6));
    OrvaneCopyLocalPose(pose.get(), bigger.get());
    EXPECT_EQ(0, std::memcmp(pose->Bones, bigger->Bones, 4 * sizeof(orvane_local_pose_bone)));
    LogCapture log;
    LocalPosePtr smaller(OrvaneNewLocalPose(3));
    OrvaneCopyLocalPose(pose.get(), smaller.get());
    EXPECT_TRUE(log.Contains("must be at least 4"));
}

// Sparse arrays on random skeletons: descending order, ancestors present, the two arrays
// consistent, and expansion back to a whole pose.
TEST(SparseBoneArray, RandomSkeletons) {
    Random random(22);
    for (int round = 0; round < 40; ++round) {
        const int n = 1 + random.Index(50);
        SkeletonPtr s = BuildSkeleton(RandomForest(random, n, AllFlagSets(), 1 + random.Index(3)));
        std::vector<int32_t> sparse(n, -9), reverse(n, -9);
        const int first = random.Index(n);
        int32_t count =
            OrvaneSparseBoneArrayCreateSingleBone(s.get(), first, sparse.data(), reverse.data());
        int depth = 1;
        for (int b = first; s->Bones[b].ParentIndex != -1; b = s->Bones[b].ParentIndex)
            ++depth;
        EXPECT_EQ(count, depth);
        std::set<int32_t> wanted;
        for (int b = first; b != -1; b = s->Bones[b].ParentIndex)
            wanted.insert(b);
        for (int k = 0; k < 1 + random.Index(6); ++k) {
            const int bone = random.Index(n);
            const int32_t before = count;
            count =
                OrvaneSparseBoneArrayAddBone(s.get(), bone, count, sparse.data(), reverse.data());
            if (wanted.count(bone)) {
                EXPECT_EQ(count, before);
            }
            for (int b = bone; b != -1; b = s->Bones[b].ParentIndex)
                wanted.insert(b);
        }
        ASSERT_EQ(count, int32_t(wanted.size()));
        ASSERT_TRUE(OrvaneSparseBoneArrayIsValid(n, count, sparse.data(), reverse.data()));
        for (int i = 1; i < count; ++i)
            EXPECT_GT(sparse[i - 1], sparse[i]);
        for (int i = 0; i < count; ++i)
            EXPECT_TRUE(wanted.count(sparse[i]));

        LocalPosePtr sparsePose(OrvaneNewLocalPose(count)), whole(OrvaneNewLocalPose(n));
        for (int i = 0; i < count; ++i)
            *OrvaneGetLocalPoseTransform(sparsePose.get(), i) = RandomLocal(random, 7);
        OrvaneSparseBoneArrayExpand(s.get(), sparsePose.get(), count, sparse.data(), reverse.data(),
                                    n, whole.get());
        for (int b = 0; b < n; ++b) {
            const orvane_transform& want =
                reverse[b] == -1 ? s->Bones[b].Transform : sparsePose->Bones[reverse[b]].Transform;
            EXPECT_EQ(0,
                      std::memcmp(OrvaneGetLocalPoseTransform(whole.get(), b), &want, sizeof want));
        }
    }
}

TEST(SparseBoneArray, ChecksAndMessages) {
    Random random(23);
    SkeletonPtr s = RandomChain(random, 4);
    int32_t sparse[4], reverse[4];
    EXPECT_EQ(OrvaneSparseBoneArrayCreateSingleBone(s.get(), 0, sparse, reverse), 1);
    LogCapture log;
    EXPECT_EQ(OrvaneSparseBoneArrayCreateSingleBone(s.get(), 4, sparse, reverse), 0);
    EXPECT_EQ(OrvaneSparseBoneArrayAddBone(s.get(), -1, 1, sparse, reverse), 1);
    EXPECT_EQ(OrvaneSparseBoneArrayAddBone(s.get(), 2, 5, sparse, reverse), 5);
    EXPECT_EQ(log.errors(), 3u);
    EXPECT_EQ(OrvaneSparseBoneArrayAddBone(s.get(), 2, 1, sparse, reverse), 3);

    log.Clear();
    int32_t a[3] = {2, 1, 0}, r[4] = {2, 1, 0, -1};
    EXPECT_TRUE(OrvaneSparseBoneArrayIsValid(4, 3, a, r));
    a[1] = 4;
    EXPECT_FALSE(OrvaneSparseBoneArrayIsValid(4, 3, a, r));
    EXPECT_TRUE(log.Contains("SparseBoneArray[1] is out of range"));
    a[1] = 3;
    EXPECT_FALSE(OrvaneSparseBoneArrayIsValid(4, 3, a, r));
    EXPECT_TRUE(log.Contains("SparseBoneArrayReverse[3] should be 1"));
    a[1] = 1;
    r[3] = 7;
    EXPECT_FALSE(OrvaneSparseBoneArrayIsValid(4, 3, a, r));
    EXPECT_TRUE(log.Contains("SparseBoneArrayReverse[3] is out of range"));
    r[3] = 1;
    EXPECT_FALSE(OrvaneSparseBoneArrayIsValid(4, 3, a, r));
    EXPECT_TRUE(log.Contains("SparseBoneArray[1] should be 3"));

    LocalPosePtr sparsePose(OrvaneNewLocalPose(3)), whole(OrvaneNewLocalPose(4));
    log.Clear();
    r[3] = -1;
    OrvaneSparseBoneArrayExpand(s.get(), sparsePose.get(), 3, a, r, 5, whole.get());
    EXPECT_TRUE(log.Contains("BoneCount 5 is out of range [0, 4]"));
    OrvaneSparseBoneArrayExpand(s.get(), sparsePose.get(), 4, a, r, 4, whole.get());
    EXPECT_TRUE(log.Contains("SparseBoneCount 4 is out of range [0, 3]"));
    r[0] = 3;
    OrvaneSparseBoneArrayExpand(s.get(), sparsePose.get(), 3, a, r, 4, whole.get());
    EXPECT_TRUE(log.Contains("SparseBoneArrayReverse[0] is out of range"));
    EXPECT_EQ(log.errors(), 3u);
}

TEST(SparseBoneArray, ExpandingAPoseIntoItselfIsRefusedUnlessEveryBoneKeepsItsEntry) {
    // Bones 3 and 0 of a chain held in entries 0 and 1: written in place, entry 0 would be
    // overwritten by bone 0's transform before bone 3 reads it.
    Random random(25);
    SkeletonPtr s = RandomChain(random, 4);
    LocalPosePtr pose(OrvaneNewLocalPose(4));
    std::vector<orvane_transform> held;
    for (int i = 0; i < 4; ++i) {
        held.push_back(RandomLocal(random, 7));
        *OrvaneGetLocalPoseTransform(pose.get(), i) = held[i];
    }
    const int32_t sparse[2] = {3, 0}, reverse[4] = {1, -1, -1, 0};
    LogCapture log;
    OrvaneSparseBoneArrayExpand(s.get(), pose.get(), 2, sparse, reverse, 4, pose.get());
    EXPECT_EQ(log.errors(), 1u);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(0, std::memcmp(OrvaneGetLocalPoseTransform(pose.get(), i), &held[i],
                                 sizeof(orvane_transform)))
            << i;
    // Bones 2, 1 and 0 in entries 0, 1 and 2: bones 0 and 2 trade entries, as refused.
    const int32_t traded[3] = {2, 1, 0}, tradedReverse[4] = {2, 1, 0, -1};
    OrvaneSparseBoneArrayExpand(s.get(), pose.get(), 3, traded, tradedReverse, 4, pose.get());
    EXPECT_EQ(log.errors(), 2u);
    // Bone 0 alone, in entry 0: every present bone keeps its entry, the others take their rest
    // transforms.
    const int32_t own[1] = {0}, ownReverse[4] = {0, -1, -1, -1};
    OrvaneSparseBoneArrayExpand(s.get(), pose.get(), 1, own, ownReverse, 4, pose.get());
    EXPECT_EQ(log.errors(), 2u);
    EXPECT_EQ(0, std::memcmp(OrvaneGetLocalPoseTransform(pose.get(), 0), &held[0],
                             sizeof(orvane_transform)));
    for (int i = 1; i < 4; ++i)
        EXPECT_EQ(0, std::memcmp(OrvaneGetLocalPoseTransform(pose.get(), i), &s->Bones[i].Transform,
                                 sizeof(orvane_transform)))
            << i;
}

TEST(SparseBoneArray, AddingToADamagedArrayChangesNothing) {
    // Bone 1 claims a place it does not hold: adding bone 3 (whose chain reaches bone 1) is
    // refused before anything moves, and the count stays the initial one.
    Random random(24);
    SkeletonPtr s = RandomChain(random, 4);
    int32_t sparse[4] = {1, 0, -7, -7}, reverse[4] = {1, 5, -1, -1};
    const int32_t sparseBefore[4] = {1, 0, -7, -7}, reverseBefore[4] = {1, 5, -1, -1};
    LogCapture log;
    EXPECT_EQ(OrvaneSparseBoneArrayAddBone(s.get(), 3, 2, sparse, reverse), 2);
    EXPECT_TRUE(log.Contains("SparseBoneArrayReverse[1] is out of range"));
    EXPECT_EQ(log.errors(), 1u);
    EXPECT_EQ(0, std::memcmp(sparse, sparseBefore, sizeof sparse));
    EXPECT_EQ(0, std::memcmp(reverse, reverseBefore, sizeof reverse));
    // A reverse entry in range that names another bone's place is as damaged.
    reverse[1] = 1;
    EXPECT_EQ(OrvaneSparseBoneArrayAddBone(s.get(), 3, 2, sparse, reverse), 2);
    EXPECT_EQ(log.errors(), 2u);
    EXPECT_EQ(0, std::memcmp(sparse, sparseBefore, sizeof sparse));
    // Four places listed and two bones said to be missing: there is no room for them.
    int32_t full[4] = {3, 2, 1, 0}, fullReverse[4] = {3, 2, -1, -1};
    EXPECT_EQ(OrvaneSparseBoneArrayAddBone(s.get(), 3, 4, full, fullReverse), 4);
    EXPECT_TRUE(log.Contains("SparseBoneArray is full (4 bones)"));
    EXPECT_EQ(fullReverse[3], -1);
}

}  // namespace

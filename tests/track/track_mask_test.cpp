// Track masks: weights and their defaults, the exported masks, masks from track groups, chains
// up and down (with damaged parent indices), and extraction from the bones' extended data.
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "track/track_test_support.h"
#include "support/log_capture.h"
#include "orvane/diag.h"
#include "orvane/local_pose.h"
#include "orvane/track_mask.h"

using namespace orvane_track_test;
using orvane_test::LogCapture;

namespace {

struct MaskFree {
    void operator()(orvane_track_mask* m) const { OrvaneFreeTrackMask(m); }
};
using MaskPtr = std::unique_ptr<orvane_track_mask, MaskFree>;

// A skeleton of bones named b0, b1 ... with the given parents.
struct TestSkeleton {
    std::vector<std::string> names;
    std::vector<orvane_bone> bones;
    orvane_skeleton skeleton{};
    explicit TestSkeleton(const std::vector<int>& parents) {
        names.resize(parents.size());
        bones.resize(parents.size());
        for (size_t i = 0; i < parents.size(); ++i) {
            names[i] = std::string(1, 'b').append(std::to_string(i));
            bones[i] = orvane_bone{};
            bones[i].Name = const_cast<char*>(names[i].c_str());
            bones[i].ParentIndex = parents[i];
            OrvaneMakeIdentity(&bones[i].Transform);
        }
        skeleton.Name = const_cast<char*>("s");
        skeleton.BoneCount = int32_t(parents.size());
        skeleton.Bones = bones.data();
    }
};

TEST(TrackMask, WeightsDefaultsAndRange) {
    MaskPtr m(OrvaneNewTrackMask(0.25f, 3));
    ASSERT_TRUE(m);
    EXPECT_EQ(OrvaneGetTrackMaskBoneWeight(m.get(), 2), 0.25f);
    OrvaneSetTrackMaskBoneWeight(m.get(), 1, 0.75f);
    EXPECT_EQ(OrvaneGetTrackMaskBoneWeight(m.get(), 1), 0.75f);
    m->DefaultWeight = 0.5f;
    EXPECT_EQ(OrvaneGetTrackMaskBoneWeight(m.get(), 3), 0.5f);
    EXPECT_EQ(OrvaneGetTrackMaskBoneWeight(m.get(), -1), 0.5f);
    LogCapture log;
    OrvaneSetTrackMaskBoneWeight(m.get(), 3, 1.0f);
    OrvaneSetTrackMaskBoneWeight(m.get(), -4, 1.0f);
    EXPECT_EQ(log.errors(), 2u);
    EXPECT_NE(log.messages()[0].text.find("BoneIndex 3 is out-of-bounds (only 3 bones"),
              std::string::npos);
    EXPECT_EQ(OrvaneNewTrackMask(1.0f, -1), nullptr);
}

TEST(TrackMask, ExportedMasks) {
    for (int i : {0, 1, 66, 100000}) {
        EXPECT_EQ(OrvaneGetTrackMaskBoneWeight(OrvaneIdentityTrackMask, i), 1.0f);
        EXPECT_EQ(OrvaneGetTrackMaskBoneWeight(OrvaneNullTrackMask, i), 0.0f);
    }
}

TEST(TrackMask, CopyAndInvert) {
    MaskPtr m(OrvaneNewTrackMask(0.2f, 4));
    OrvaneSetTrackMaskBoneWeight(m.get(), 0, 0.9f);
    MaskPtr c(OrvaneCopyTrackMask(m.get()));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->BoneCount, 4);
    EXPECT_EQ(c->DefaultWeight, 0.2f);
    EXPECT_EQ(OrvaneGetTrackMaskBoneWeight(c.get(), 0), 0.9f);
    OrvaneInvertTrackMask(c.get());
    EXPECT_FLOAT_EQ(OrvaneGetTrackMaskBoneWeight(c.get(), 0), 0.1f);
    EXPECT_FLOAT_EQ(OrvaneGetTrackMaskBoneWeight(c.get(), 5), 0.2f);  // default not inverted
    OrvaneInvertTrackMask(c.get());
    EXPECT_FLOAT_EQ(OrvaneGetTrackMaskBoneWeight(c.get(), 0), 0.9f);
}

TEST(TrackMask, FromTrackGroupByTrackKind) {
    std::mt19937 rng(41);
    TestSkeleton s({-1, 0, 1, 1});
    std::vector<TrackSource> tracks(4);
    tracks[0].name = "b0";  // identity
    tracks[1].name = "b1";  // constant
    tracks[1].curves[0] = RandomCurve(rng, kS, 3, 0, 1, 1.0f);
    tracks[2].name = "b2";  // animated
    tracks[2].curves[1] = RandomCurve(rng, kU, 4, 1, 4, 1.0f);
    tracks[3].name = "nobody";
    GroupPtr g = BuildGroup("g", tracks);
    MaskPtr m(OrvaneNewTrackMask(-1.0f, 4));
    OrvaneSetSkeletonTrackMaskFromTrackGroup(m.get(), &s.skeleton, g.get(), 0.1f, 0.2f, 0.3f);
    EXPECT_EQ(OrvaneGetTrackMaskBoneWeight(m.get(), 0), 0.1f);
    EXPECT_EQ(OrvaneGetTrackMaskBoneWeight(m.get(), 1), 0.2f);
    EXPECT_EQ(OrvaneGetTrackMaskBoneWeight(m.get(), 2), 0.3f);
    EXPECT_EQ(OrvaneGetTrackMaskBoneWeight(m.get(), 3), -1.0f);  // no track: unchanged
}

// Completed entries of the named timing block (0 before its first use).
int32_t CounterEntries(const char* name) {
    for (int32_t i = 0; i < OrvaneGetCounterCount(); ++i) {
        orvane_counter_results r{};
        OrvaneGetCounterResults(i, &r);
        if (r.Name != nullptr && std::strcmp(r.Name, name) == 0) return r.Count;
    }
    return 0;
}

TEST(TrackMask, FromTrackGroupLooksBonesUpAsTheSkeletonDoes) {
    // Each track's bone is found by the skeleton's own lookup, which is timed as such.
    TestSkeleton s({-1, 0, 1});
    std::vector<TrackSource> tracks(3);
    tracks[0].name = "b2";
    tracks[1].name = "b0";
    tracks[2].name = "elsewhere";
    GroupPtr g = BuildGroup("g", tracks);
    MaskPtr m(OrvaneNewTrackMask(0.5f, 3));
    const int32_t before = CounterEntries("FindBoneByName");
    OrvaneSetSkeletonTrackMaskFromTrackGroup(m.get(), &s.skeleton, g.get(), 1.0f, 2.0f, 3.0f);
    EXPECT_EQ(CounterEntries("FindBoneByName"), before + 3);
    EXPECT_EQ(m->BoneWeights[0], 1.0f);
    EXPECT_EQ(m->BoneWeights[1], 0.5f);
    EXPECT_EQ(m->BoneWeights[2], 1.0f);
}

TEST(TrackMask, ChainUpwards) {
    TestSkeleton s({-1, 0, 1, 2, 1, 4});
    MaskPtr m(OrvaneNewTrackMask(0.0f, 6));
    OrvaneSetSkeletonTrackMaskChainUpwards(m.get(), &s.skeleton, 5, 1.0f);
    const float expected[6] = {1, 1, 0, 0, 1, 1};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(m->BoneWeights[i], expected[i]) << i;
    LogCapture log;
    OrvaneSetSkeletonTrackMaskChainUpwards(m.get(), &s.skeleton, 6, 1.0f);
    EXPECT_EQ(log.errors(), 1u);
}

TEST(TrackMask, ChainUpwardsFromABonePastAShortMaskSetsTheAncestorsItHolds) {
    // Bone 5's chain is 5, 4, 1, 0; the mask holds bones 0 to 2 only.
    TestSkeleton s({-1, 0, 1, 2, 1, 4});
    MaskPtr m(OrvaneNewTrackMask(0.0f, 3));
    LogCapture log;
    OrvaneSetSkeletonTrackMaskChainUpwards(m.get(), &s.skeleton, 5, 1.0f);
    EXPECT_EQ(m->BoneWeights[0], 1.0f);
    EXPECT_EQ(m->BoneWeights[1], 1.0f);
    EXPECT_EQ(m->BoneWeights[2], 0.0f);
    // Bones 5 and 4 cannot be stored, and say so as the setter does.
    ASSERT_EQ(log.errors(), 2u);
    EXPECT_NE(log.messages()[0].text.find("BoneIndex 5 is out-of-bounds (only 3 bones"),
              std::string::npos);
    EXPECT_NE(log.messages()[1].text.find("BoneIndex 4 is out-of-bounds (only 3 bones"),
              std::string::npos);
}

TEST(TrackMask, ChainDownwardsReachesScatteredDescendantsOnly) {
    // Bone 1's descendants are 3, 5 and 6, interleaved with bone 2's.
    TestSkeleton s({-1, 0, 0, 1, 2, 3, 1, 4});
    MaskPtr m(OrvaneNewTrackMask(0.0f, 8));
    OrvaneSetSkeletonTrackMaskChainDownwards(m.get(), &s.skeleton, 1, 0.5f);
    const float expected[8] = {0, 0.5f, 0, 0.5f, 0, 0.5f, 0.5f, 0};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(m->BoneWeights[i], expected[i]) << i;
}

TEST(TrackMask, ChainDownwardsIgnoresMarkerLikeWeights) {
    // A weight that a marker-based walk would take for part of the chain.
    TestSkeleton s({-1, 0, 0, 2});
    MaskPtr m(OrvaneNewTrackMask(0.0f, 4));
    m->BoneWeights[2] = -12345.0f;
    OrvaneSetSkeletonTrackMaskChainDownwards(m.get(), &s.skeleton, 1, 1.0f);
    EXPECT_EQ(m->BoneWeights[1], 1.0f);
    EXPECT_EQ(m->BoneWeights[2], -12345.0f);
    EXPECT_EQ(m->BoneWeights[3], 0.0f);
}

TEST(TrackMask, DamagedParentsEndTheWalks) {
    // Bone 2 names itself, bone 3 a later bone, bone 4 one past the end.
    TestSkeleton s({-1, 0, 2, 4, 99});
    MaskPtr m(OrvaneNewTrackMask(0.0f, 5));
    OrvaneSetSkeletonTrackMaskChainUpwards(m.get(), &s.skeleton, 3, 1.0f);
    EXPECT_EQ(m->BoneWeights[3], 1.0f);
    EXPECT_EQ(m->BoneWeights[4], 0.0f);
    OrvaneSetSkeletonTrackMaskChainDownwards(m.get(), &s.skeleton, 0, 0.5f);
    EXPECT_EQ(m->BoneWeights[0], 0.5f);
    EXPECT_EQ(m->BoneWeights[1], 0.5f);
    EXPECT_EQ(m->BoneWeights[2], 0.0f);
    // A mask shorter than the skeleton is never written past its end.
    MaskPtr shortMask(OrvaneNewTrackMask(0.0f, 2));
    OrvaneSetSkeletonTrackMaskChainDownwards(shortMask.get(), &s.skeleton, 0, 1.0f);
    EXPECT_EQ(shortMask->BoneWeights[1], 1.0f);
}

// Extended data holding one real32 member named "Weight" (and an int one named "Level").
struct Extended {
    float weight;
    int32_t level;
};

TEST(TrackMask, ExtractFromExtendedData) {
    TestSkeleton s({-1, 0, 1, 0});
    orvane_data_type_definition type[3] = {};
    type[0].Type = OrvaneReal32Member;
    type[0].Name = "Weight";
    type[1].Type = OrvaneInt32Member;
    type[1].Name = "Level";
    type[2].Type = OrvaneEndMember;
    Extended data[2] = {{0.75f, 3}, {0.25f, 1}};
    s.bones[1].ExtendedData = {type, &data[0]};
    s.bones[3].ExtendedData = {type, &data[1]};
    MaskPtr m(OrvaneNewTrackMask(0.0f, 4));
    EXPECT_EQ(OrvaneExtractTrackMask(m.get(), 4, &s.skeleton, "Weight", 0.5f, false), 1);
    const float plain[4] = {0.5f, 0.75f, 0.5f, 0.25f};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(m->BoneWeights[i], plain[i]) << i;
    EXPECT_EQ(m->DefaultWeight, 0.5f);
    EXPECT_EQ(OrvaneExtractTrackMask(m.get(), 4, &s.skeleton, "weight", 0.5f, true), 1);
    EXPECT_EQ(m->BoneWeights[2], 0.75f);  // from its parent
    EXPECT_EQ(OrvaneExtractTrackMask(m.get(), 4, &s.skeleton, "Level", 0.0f, false), 1);
    EXPECT_EQ(m->BoneWeights[1], 3.0f);
    EXPECT_EQ(OrvaneExtractTrackMask(m.get(), 4, &s.skeleton, "Missing", 0.125f, false), 2);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(m->BoneWeights[i], 0.125f);
    s.bones[0].ExtendedData = {type, &data[0]};
    s.bones[2].ExtendedData = {type, &data[0]};
    EXPECT_EQ(OrvaneExtractTrackMask(m.get(), 4, &s.skeleton, "Weight", 0.0f, false), 0);
    LogCapture log;
    EXPECT_EQ(OrvaneExtractTrackMask(m.get(), 5, &s.skeleton, "Weight", 0.0f, false), 2);
    MaskPtr shortMask(OrvaneNewTrackMask(0.0f, 2));
    EXPECT_EQ(OrvaneExtractTrackMask(shortMask.get(), 3, &s.skeleton, "Weight", 0.0f, false), 2);
    EXPECT_EQ(log.errors(), 2u);
}

}  // namespace

namespace {

struct PoseFree {
    void operator()(orvane_local_pose* p) const { OrvaneFreeLocalPose(p); }
};
using PosePtr = std::unique_ptr<orvane_local_pose, PoseFree>;

PosePtr PoseAt(int bones, float x) {
    PosePtr pose(OrvaneNewLocalPose(bones));
    for (int i = 0; i < bones; ++i) {
        orvane_transform* t = OrvaneGetLocalPoseTransform(pose.get(), i);
        OrvaneMakeIdentity(t);
        t->Flags = OrvaneTransformHasPosition;
        t->Position[0] = x;
    }
    return pose;
}

TEST(TrackMaskComposite, MaskWeightsEachBone) {
    PosePtr base = PoseAt(3, 0.0f), over = PoseAt(3, 10.0f);
    MaskPtr m(OrvaneNewTrackMask(0.0f, 3));
    OrvaneSetTrackMaskBoneWeight(m.get(), 1, 0.5f);
    OrvaneSetTrackMaskBoneWeight(m.get(), 2, 1.0f);
    OrvaneModulationCompositeLocalPose(base.get(), 0.2f, 1.0f, m.get(), over.get());
    // t = 0.2 + 0.8 m
    EXPECT_FLOAT_EQ(OrvaneGetLocalPoseTransform(base.get(), 0)->Position[0], 2.0f);
    EXPECT_FLOAT_EQ(OrvaneGetLocalPoseTransform(base.get(), 1)->Position[0], 6.0f);
    EXPECT_FLOAT_EQ(OrvaneGetLocalPoseTransform(base.get(), 2)->Position[0], 10.0f);
}

TEST(TrackMaskComposite, SparseEntriesReadTheirBonesWeights) {
    PosePtr base = PoseAt(2, 0.0f), over = PoseAt(2, 10.0f);
    MaskPtr m(OrvaneNewTrackMask(0.25f, 5));
    OrvaneSetTrackMaskBoneWeight(m.get(), 4, 1.0f);
    const int32_t sparse[2] = {4, 9};  // bone 9 is past the mask: its default weight
    OrvaneModulationCompositeLocalPoseSparse(base.get(), 0.0f, 1.0f, m.get(), over.get(), sparse);
    EXPECT_FLOAT_EQ(OrvaneGetLocalPoseTransform(base.get(), 0)->Position[0], 10.0f);
    EXPECT_FLOAT_EQ(OrvaneGetLocalPoseTransform(base.get(), 1)->Position[0], 2.5f);
}

TEST(TrackMaskComposite, ExportedMasksAndMismatchedCounts) {
    PosePtr base = PoseAt(3, 0.0f), over = PoseAt(3, 10.0f);
    OrvaneModulationCompositeLocalPose(base.get(), 0.0f, 1.0f, OrvaneIdentityTrackMask, over.get());
    EXPECT_FLOAT_EQ(OrvaneGetLocalPoseTransform(base.get(), 2)->Position[0], 10.0f);
    PosePtr base2 = PoseAt(3, 0.0f);
    OrvaneModulationCompositeLocalPose(base2.get(), 0.0f, 1.0f, OrvaneNullTrackMask, over.get());
    EXPECT_FLOAT_EQ(OrvaneGetLocalPoseTransform(base2.get(), 2)->Position[0], 0.0f);
    MaskPtr m(OrvaneNewTrackMask(1.0f, 2));
    LogCapture log;
    OrvaneModulationCompositeLocalPose(base2.get(), 0.0f, 1.0f, m.get(), over.get());
    EXPECT_EQ(log.errors(), 1u);
    EXPECT_FLOAT_EQ(OrvaneGetLocalPoseTransform(base2.get(), 0)->Position[0], 0.0f);
}

}  // namespace

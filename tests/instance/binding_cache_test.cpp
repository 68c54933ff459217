// Animation bindings: cache hits and misses, sharing, the unused list and its eviction order,
// the counters, flushing, iteration and remapping; track matching by name and by pattern,
// quaternion modes, constant tracks and LOD values, loop motion, basis rebasing.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include <Eigen/Geometry>
#include <gtest/gtest.h>

#include "instance/instance_test_support.h"
#include "support/log_capture.h"
#include "orvane/animation_binding.h"
#include "orvane/controlled_animation.h"
#include "orvane/instance.h"

namespace {

using namespace orvane_instance_test;

orvane_animation_binding_cache_status Status() {
    orvane_animation_binding_cache_status s;
    OrvaneGetAnimationBindingCacheStatus(&s);
    return s;
}

orvane_animation_binding_identifier IdFor(const Character& c) {
    orvane_animation_binding_identifier id;
    OrvaneMakeDefaultAnimationBindingID(&id, &c.animation, 0);
    id.OnModel = &c.model;
    return id;
}

struct MaximumGuard {
    explicit MaximumGuard(int32_t m) : saved(OrvaneGetMaximumAnimationBindingCount()) {
        OrvaneSetMaximumAnimationBindingCount(m);
    }
    ~MaximumGuard() {
        OrvaneSetMaximumAnimationBindingCount(saved);
        OrvaneFlushAllUnusedAnimationBindings();
    }
    int32_t saved;
};

TEST(BindingCache, DefaultMaximumDestroysOnLastRelease) {
    Character c;
    EXPECT_EQ(OrvaneGetMaximumAnimationBindingCount(), 0);
    const auto before = Status();
    const orvane_animation_binding_identifier id = IdFor(c);
    orvane_animation_binding* b = OrvaneAcquireAnimationBindingFromID(&id);
    ASSERT_NE(b, nullptr);
    orvane_animation_binding* again = OrvaneAcquireAnimationBindingFromID(&id);
    EXPECT_EQ(again, b);
    EXPECT_EQ(OrvaneGetAnimationBindingUseCount(b), 2);
    auto s = Status();
    EXPECT_EQ(s.TotalBindingsCreated - before.TotalBindingsCreated, 1);
    EXPECT_EQ(s.CacheMisses - before.CacheMisses, 1);
    EXPECT_EQ(s.CacheHits - before.CacheHits, 1);
    EXPECT_EQ(s.IndirectAcquireCount - before.IndirectAcquireCount, 2);
    EXPECT_EQ(s.CurrentUsedBindingCount - before.CurrentUsedBindingCount, 1);
    EXPECT_TRUE(OrvaneIsAnimationUsed(&c.animation));
    OrvaneReleaseAnimationBinding(again);
    OrvaneReleaseAnimationBinding(b);
    s = Status();
    EXPECT_EQ(s.ReleaseCount - before.ReleaseCount, 2);
    EXPECT_EQ(s.TotalBindingsDestroyed - before.TotalBindingsDestroyed, 1);
    EXPECT_EQ(s.OverflowFrees - before.OverflowFrees, 1);
    EXPECT_EQ(s.CurrentTotalBindingCount, before.CurrentTotalBindingCount);
    EXPECT_EQ(OrvaneGetFirstBindingForAnimation(&c.animation), nullptr);
    EXPECT_FALSE(OrvaneIsAnimationUsed(&c.animation));
}

TEST(BindingCache, PositiveMaximumKeepsReleasedBindingsAndEvictsTheOldestFirst) {
    MaximumGuard guard(10);
    Character c;
    orvane_animation_binding_identifier ids[3] = {IdFor(c), IdFor(c), IdFor(c)};
    ids[1].TrackPattern = "bone*";
    ids[1].BonePattern = "bone*";
    ids[2].TrackPattern = "*";
    ids[2].BonePattern = "bone?";
    orvane_animation_binding* b[3];
    for (int i = 0; i < 3; ++i) {
        b[i] = OrvaneAcquireAnimationBindingFromID(&ids[i]);
        ASSERT_NE(b[i], nullptr);
    }
    EXPECT_NE(b[0], b[1]);
    EXPECT_NE(b[1], b[2]);
    // Iteration by animation visits all three in key order.
    int count = 0;
    for (orvane_animation_binding* x = OrvaneGetFirstBindingForAnimation(&c.animation); x;
         x = OrvaneGetNextBindingForAnimation(&c.animation, x))
        ++count;
    EXPECT_EQ(count, 3);
    // Released in the order 1, 0, 2.
    OrvaneReleaseAnimationBinding(b[1]);
    OrvaneReleaseAnimationBinding(b[0]);
    OrvaneReleaseAnimationBinding(b[2]);
    EXPECT_EQ(OrvaneGetFirstUnusedAnimationBinding(), b[1]);
    EXPECT_EQ(OrvaneGetNextUnusedAnimationBinding(b[1]), b[0]);
    EXPECT_EQ(OrvaneGetNextUnusedAnimationBinding(b[0]), b[2]);
    // A hit takes the binding off the unused list; released again it goes to the back.
    const auto before = Status();
    EXPECT_EQ(OrvaneAcquireAnimationBindingFromID(&ids[1]), b[1]);
    EXPECT_EQ(Status().CacheHits - before.CacheHits, 1);
    EXPECT_EQ(OrvaneGetFirstUnusedAnimationBinding(), b[0]);
    OrvaneReleaseAnimationBinding(b[1]);
    // Shrinking the cache evicts from the front: 0, then 2, keeping 1.
    const int32_t others = Status().CurrentTotalBindingCount - 3;
    OrvaneSetMaximumAnimationBindingCount(others + 1);
    EXPECT_EQ(OrvaneGetFirstUnusedAnimationBinding(), b[1]);
    EXPECT_EQ(OrvaneGetNextUnusedAnimationBinding(b[1]), nullptr);
    EXPECT_EQ(Status().OverflowFrees - before.OverflowFrees, 2);
    const auto flushed = Status();
    OrvaneFlushAllUnusedAnimationBindings();
    EXPECT_EQ(Status().ExplicitFlushCount - flushed.ExplicitFlushCount, 1);
    EXPECT_GE(Status().ExplicitFlushFrees - flushed.ExplicitFlushFrees, 1);
    EXPECT_EQ(OrvaneGetFirstBindingForAnimation(&c.animation), nullptr);
}

TEST(BindingCache, FlushingABindingInUseIsRefused) {
    MaximumGuard guard(10);
    Character c;
    const orvane_animation_binding_identifier id = IdFor(c);
    orvane_animation_binding* b = OrvaneAcquireAnimationBindingFromID(&id);
    orvane_test::LogCapture log;
    OrvaneFlushAnimationBinding(b);
    EXPECT_TRUE(
        log.Contains("FlushAnimationBinding() tried to flush an animation still in use (Walk)"));
    OrvaneFlushAllBindingsForAnimation(&c.animation);
    EXPECT_TRUE(log.Contains(
        "FlushAllBindingsForAnimation() tried to flush an animation still in use (Walk)"));
    EXPECT_EQ(OrvaneGetFirstBindingForAnimation(&c.animation), b);
    OrvaneReleaseAnimationBinding(b);
    OrvaneFlushAllBindingsForAnimation(&c.animation);
    EXPECT_EQ(OrvaneGetFirstBindingForAnimation(&c.animation), nullptr);
}

TEST(BindingCache, BadIdentifiersAreRefused) {
    Character c;
    orvane_test::LogCapture log;
    orvane_animation_binding_identifier id = IdFor(c);
    id.SourceTrackGroupIndex = 1;
    EXPECT_EQ(OrvaneAcquireAnimationBindingFromID(&id), nullptr);
    EXPECT_TRUE(log.Contains("SourceTrackGroupIndex 1 is out of range [0, 1)"));
    id = IdFor(c);
    id.OnModel = nullptr;  // the default identifier names no model
    EXPECT_EQ(OrvaneAcquireAnimationBindingFromID(&id), nullptr);
    EXPECT_EQ(OrvaneGetFirstBindingForAnimation(&c.animation), nullptr);
    // A default identifier needs somewhere to go.
    log.Clear();
    OrvaneMakeDefaultAnimationBindingID(nullptr, &c.animation, 0);
    EXPECT_TRUE(log.Contains("ID is not allowed to be 0"));
    int32_t index = -5;
    EXPECT_FALSE(OrvaneFindTrackGroupForModel(&c.animation, "Nobody", &index));
    EXPECT_EQ(index, 1);
    EXPECT_TRUE(OrvaneFindTrackGroupForModel(&c.animation, "hero", &index));
    EXPECT_EQ(index, 0);
}

TEST(BindingBuild, TracksMatchBonesByNameAndUnmatchedBonesAreUnbound) {
    Character c(6, 3);
    const orvane_animation_binding_identifier id = IdFor(c);
    orvane_animation_binding* b = OrvaneAcquireAnimationBindingFromID(&id);
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(OrvaneGetAnimationBindingTrackCount(b), 6);
    for (int i = 0; i < 6; ++i) {
        const int32_t t = OrvaneGetAnimationBindingTrackIndex(b, i);
        if (i == 3) {
            EXPECT_EQ(t, -1);
            continue;
        }
        ASSERT_GE(t, 0);
        EXPECT_STREQ(c.group->TransformTracks[t].Name, c.names[size_t(i)].c_str());
    }
    EXPECT_EQ(OrvaneGetAnimationBindingTrackIndex(b, 6), -1);
    EXPECT_EQ(OrvaneGetAnimationBindingID(b)->OnModel, &c.model);
    OrvaneReleaseAnimationBinding(b);
}

TEST(BindingBuild, PatternsMatchTheCapturedPartOfTheName) {
    // Tracks named "L_boneN" drive bones "boneN" through the rule track "L_*", bone "*".
    Character c(4, 99);
    std::vector<std::string> names = {"L_bone0", "L_bone1", "L_bone2", "L_bone3"};
    orvane_track_group_builder* g = OrvaneBeginTrackGroup("Hero", 0, 4, 0, false);
    const float knot = 0.0f;
    for (int i = 0; i < 4; ++i) {
        OrvaneBeginTransformTrack(g, names[size_t(i)].c_str());
        const float p[3] = {float(i), 0, 0};
        OrvaneSetTransformTrackPosition(g, 0, 0, 1, &knot, p, OrvaneCurveDataDaK32fC32fType);
        OrvaneEndTransformTrack(g);
    }
    orvane_track_group* group = OrvaneEndTrackGroup(g);
    orvane_track_group* groups[1] = {group};
    orvane_animation animation = c.animation;
    animation.TrackGroups = groups;
    orvane_animation_binding_identifier id;
    OrvaneMakeDefaultAnimationBindingID(&id, &animation, 0);
    id.OnModel = &c.model;
    orvane_animation_binding* plain = OrvaneAcquireAnimationBindingFromID(&id);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(OrvaneGetAnimationBindingTrackIndex(plain, 1), -1);
    id.TrackPattern = "L_*";
    id.BonePattern = "*";
    orvane_animation_binding* ruled = OrvaneAcquireAnimationBindingFromID(&id);
    ASSERT_NE(ruled, nullptr);
    for (int i = 0; i < 4; ++i) {
        const int32_t t = OrvaneGetAnimationBindingTrackIndex(ruled, i);
        ASSERT_GE(t, 0);
        const char* name = group->TransformTracks[t].Name;
        EXPECT_EQ(name, names[size_t(i)]);
        // Constant tracks are exact at LOD error 0.
        EXPECT_EQ(OrvaneGetLODErrorValue(ruled, i), 0.0f);
    }
    OrvaneReleaseAnimationBinding(plain);
    OrvaneReleaseAnimationBinding(ruled);
    OrvaneFreeBuilderResult(group);
}

TEST(BindingCache, PatternsAreKeptByTheBindingNotBorrowedFromTheCaller) {
    // A binding kept in the cache is found again by the patterns it was made with, whatever
    // became of the strings the caller passed.
    MaximumGuard guard(10);
    Character c;
    std::vector<char> trackPattern = {'b', 'o', 'n', 'e', '*', 0};
    std::vector<char> bonePattern = {'b', 'o', 'n', 'e', '*', 0};
    orvane_animation_binding_identifier id = IdFor(c);
    id.TrackPattern = trackPattern.data();
    id.BonePattern = bonePattern.data();
    orvane_animation_binding* b = OrvaneAcquireAnimationBindingFromID(&id);
    ASSERT_NE(b, nullptr);
    // Bone "boneN" captures "N", which names track "boneN".
    EXPECT_EQ(OrvaneGetAnimationBindingTrackIndex(b, 1), 1);
    OrvaneReleaseAnimationBinding(b);
    const char* other = "zzzz*";
    std::copy(other, other + 6, trackPattern.begin());
    bonePattern[0] = 'q';
    EXPECT_STREQ(OrvaneGetAnimationBindingID(b)->TrackPattern, "bone*");
    EXPECT_STREQ(OrvaneGetAnimationBindingID(b)->BonePattern, "bone*");

    const orvane_animation_binding_cache_status before = Status();
    orvane_animation_binding_identifier again = IdFor(c);
    again.TrackPattern = "bone*";
    again.BonePattern = "bone*";
    orvane_animation_binding* found = OrvaneAcquireAnimationBindingFromID(&again);
    EXPECT_EQ(found, b);
    const orvane_animation_binding_cache_status after = Status();
    EXPECT_EQ(after.CacheHits, before.CacheHits + 1);
    EXPECT_EQ(after.CacheMisses, before.CacheMisses);
    OrvaneReleaseAnimationBinding(found);
    // The default identifier's shared "*" is kept as it is.
    const orvane_animation_binding_identifier plain = IdFor(c);
    orvane_animation_binding* p = OrvaneAcquireAnimationBindingFromID(&plain);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(OrvaneGetAnimationBindingID(p)->TrackPattern, plain.TrackPattern);
    OrvaneReleaseAnimationBinding(p);
}

TEST(BindingBuild, KeyframedTracksAreWarnedAboutAndLeftUnbound) {
    Character c(3, 99);
    orvane_track_group_builder* g = OrvaneBeginTrackGroup("Hero", 0, 1, 0, false);
    OrvaneBeginTransformTrack(g, "bone1");
    const float keys[6] = {0, 0, 0, 1, 1, 1};
    const float knots[2] = {0, 1};
    OrvaneSetTransformTrackPosition(g, 0, 0, 2, knots, keys, OrvaneCurveDataDaKeyframes32fType);
    OrvaneEndTransformTrack(g);
    orvane_track_group* group = OrvaneEndTrackGroup(g);
    orvane_track_group* groups[1] = {group};
    orvane_animation animation = c.animation;
    animation.TrackGroups = groups;
    orvane_animation_binding_identifier id;
    OrvaneMakeDefaultAnimationBindingID(&id, &animation, 0);
    id.OnModel = &c.model;
    orvane_test::LogCapture log;
    orvane_animation_binding* b = OrvaneAcquireAnimationBindingFromID(&id);
    ASSERT_NE(b, nullptr);
    if (OrvaneTransformTrackHasKeyframedCurves(&group->TransformTracks[0])) {
        EXPECT_TRUE(log.Contains("has keyframed animation tracks"));
        EXPECT_EQ(OrvaneGetAnimationBindingTrackIndex(b, 1), -1);
    }
    OrvaneReleaseAnimationBinding(b);
    OrvaneFreeBuilderResult(group);
}

TEST(BindingBuild, LoopRotationTurnsTheWayTheRootTurned) {
    // The root turns steadily by 270 degrees about z over a 3 second clip. Its loop rotation is
    // that turn, not the quarter turn back that reaches the same orientation.
    TurningRootClip clip;
    ASSERT_NE(clip.control, nullptr);
    orvane_model_instance* instance = clip.instance;
    // One whole loop back from local clock 0.5 of the second loop: the same point of the clip,
    // so the motion is exactly one loop's rotation.
    OrvaneSetModelClock(instance, 3.5f);
    float t[3], r[3];
    OrvaneGetRootMotionVectors(instance, 3.0f, t, r, false);
    EXPECT_NEAR(r[0], 0.0f, 1e-5f);
    EXPECT_NEAR(r[1], 0.0f, 1e-5f);
    EXPECT_NEAR(r[2], 1.5f * float(M_PI), 1e-4f);
}

TEST(BindingLOD, ValuesCopyToAndFromTheAnimationWithinItsArray) {
    Character c;
    // Packed pointer members are read by value.
    const float* errors = c.group->TransformLODErrors;
    ASSERT_NE(errors, nullptr);
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_control* control = OrvanePlayControlledAnimation(0.0f, &c.animation, instance);
    orvane_animation_binding* b =
        OrvaneGetAnimationBindingFromControlBinding(OrvaneModelControlsBegin(instance));
    OrvaneSetAllLODErrorValues(b, 2.0f);
    OrvaneCopyLODErrorValuesToAllAnimations(control, 1.5f, false);
    const int32_t t1 = OrvaneGetAnimationBindingTrackIndex(b, 1);
    EXPECT_FLOAT_EQ(c.group->TransformLODErrors[t1], 3.0f);
    OrvaneSetLODErrorValue(b, 1, 1.0f);
    OrvaneCopyLODErrorValuesToAnimation(b, 1.0f, true);  // 1.0 is not greater than 3.0
    EXPECT_FLOAT_EQ(c.group->TransformLODErrors[t1], 3.0f);
    OrvaneCopyLODErrorValuesFromAllAnimations(control, 0.5f);
    EXPECT_FLOAT_EQ(OrvaneGetLODErrorValue(b, 1), 1.5f);
    // A short error array (a damaged file) is read only where it reaches.
    c.group->TransformLODErrorCount = t1;
    OrvaneSetLODErrorValue(b, 1, 7.0f);
    OrvaneCopyLODErrorValuesFromAnimation(b, 1.0f);
    EXPECT_FLOAT_EQ(OrvaneGetLODErrorValue(b, 1), 7.0f);
    orvane_test::LogCapture log;
    OrvaneSetLODErrorValue(b, -1, 1.0f);
    EXPECT_TRUE(log.Contains("TrackBindingIndex -1 is out of range"));
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(control);
}

TEST(BindingRemap, BindingsFollowACopyOfTheirAnimation) {
    MaximumGuard guard(10);
    Character c;
    const orvane_animation_binding_identifier id = IdFor(c);
    orvane_animation_binding* b = OrvaneAcquireAnimationBindingFromID(&id);
    orvane_animation copy = c.animation;
    OrvaneRemapAllAnimationBindingPointers(&c.animation, &copy);
    EXPECT_EQ(OrvaneGetAnimationBindingID(b)->Animation, &copy);
    EXPECT_EQ(OrvaneGetFirstBindingForAnimation(&c.animation), nullptr);
    EXPECT_EQ(OrvaneGetFirstBindingForAnimation(&copy), b);
    orvane_test::LogCapture log;
    OrvaneRemapAnimationBindingPointers(b, nullptr);
    EXPECT_TRUE(log.Contains("NewAnimationPointer is not allowed to be 0"));
    // A copy with fewer tracks leaves the missing ones unbound.
    orvane_track_group shorter = *c.group;
    shorter.TransformTrackCount = 1;
    orvane_track_group* groups[1] = {&shorter};
    orvane_animation small = c.animation;
    small.TrackGroups = groups;
    OrvaneRemapAnimationBindingPointers(b, &small);
    int bound = 0;
    for (int i = 0; i < OrvaneGetAnimationBindingTrackCount(b); ++i)
        bound += OrvaneGetAnimationBindingTrackIndex(b, i) >= 0;
    EXPECT_EQ(bound, 1);
    OrvaneReleaseAnimationBinding(b);
}

TEST(BindingRemap, TracksUsedAsTheyAreFollowTheNewAnimationInARebasedBinding) {
    MaximumGuard guard(10);
    Character c;
    const int n = c.BoneCount();
    // The target basis has only the first two bones (with the same rest transforms), so only
    // their tracks are rebased; the others are used as they are.
    Character firstTwo(2, 99);
    const int32_t trackCount = c.group->TransformTrackCount;
    std::vector<orvane_transform_track> oldTracks(c.group->TransformTracks,
                                                  c.group->TransformTracks + trackCount);
    std::vector<orvane_transform_track> newTracks = oldTracks;
    orvane_track_group oldGroup = *c.group, newGroup = *c.group;
    oldGroup.TransformTracks = oldTracks.data();
    newGroup.TransformTracks = newTracks.data();
    orvane_track_group* oldGroups[1] = {&oldGroup};
    orvane_track_group* newGroups[1] = {&newGroup};
    orvane_animation oldAnimation = c.animation, newAnimation = c.animation;
    oldAnimation.TrackGroups = oldGroups;
    newAnimation.TrackGroups = newGroups;

    orvane_animation_binding_identifier id;
    OrvaneMakeDefaultAnimationBindingID(&id, &oldAnimation, 0);
    id.OnModel = &c.model;
    id.FromBasis = &c.model;
    id.ToBasis = &firstTwo.model;
    orvane_animation_binding* binding = OrvaneAcquireAnimationBindingFromID(&id);
    ASSERT_NE(binding, nullptr);
    OrvaneRemapAnimationBindingPointers(binding, &newAnimation);

    // The old animation's tracks are gone: here, replaced by a still track far away.
    orvane_track_group_builder* g = OrvaneBeginTrackGroup("Elsewhere", 0, 1, 0, false);
    OrvaneBeginTransformTrack(g, "still");
    const float knot = 0.0f, far[3] = {100.0f, 100.0f, 100.0f};
    OrvaneSetTransformTrackPosition(g, 0, 0, 1, &knot, far, OrvaneCurveDataDaK32fC32fType);
    OrvaneEndTransformTrack(g);
    orvane_track_group* still = OrvaneEndTrackGroup(g);
    for (orvane_transform_track& t : oldTracks)
        t.PositionCurve = still->TransformTracks[0].PositionCurve;

    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_control* control =
        OrvanePlayControlledAnimationBinding(0.0f, &newAnimation, binding, instance);
    ASSERT_NE(control, nullptr);
    OrvaneSetModelClock(instance, 0.63f);
    PosePtr pose(OrvaneNewLocalPose(n));
    OrvaneSampleModelAnimations(instance, 0, n, pose.get());
    for (int i : {0, 1, 2, 4, 5}) {
        SCOPED_TRACE(i);
        ExpectTransformNear(*OrvaneGetLocalPoseTransform(pose.get(), i),
                            ReferenceLocal(c.skeleton, c.group, i, 0.63f, 2.0f, false, false),
                            1e-4f);
    }
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(control);
    OrvaneReleaseAnimationBinding(binding);
    OrvaneFreeBuilderResult(still);
}

TEST(BindingRebase, OneBasisMissingRebasesNothingAndReportsNothing) {
    // Only bones found in both bases' skeletons are rebased: with one basis missing there are
    // none, and the binding plays the tracks as they are.
    Character c;
    orvane_model noSkeleton = c.model;
    noSkeleton.Skeleton = nullptr;
    const orvane_animation_binding_identifier plainId = IdFor(c);
    orvane_animation_binding* plain = OrvaneAcquireAnimationBindingFromID(&plainId);
    ASSERT_NE(plain, nullptr);
    for (int form = 0; form < 3; ++form) {
        SCOPED_TRACE(form);
        orvane_animation_binding_identifier id = IdFor(c);
        id.FromBasis = form == 0 ? &c.model : nullptr;
        id.ToBasis = form == 1 ? &c.model : (form == 2 ? &noSkeleton : nullptr);
        if (form == 2) id.FromBasis = &c.model;
        orvane_test::LogCapture log;
        orvane_animation_binding* b = OrvaneAcquireAnimationBindingFromID(&id);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(log.messages().size(), 0u);
        EXPECT_NE(b, plain);
        for (int i = 0; i < c.BoneCount(); ++i)
            EXPECT_EQ(OrvaneGetAnimationBindingTrackIndex(b, i),
                      OrvaneGetAnimationBindingTrackIndex(plain, i));
        OrvaneReleaseAnimationBinding(b);
    }
    OrvaneReleaseAnimationBinding(plain);
}

TEST(BindingRebase, IdenticalBasesLeaveThePoseUnchanged) {
    // Rebasing from a model onto itself multiplies by the identity.
    Character c;
    const int n = c.BoneCount();
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_model twin = c.model;
    orvane_controlled_animation_builder* b = OrvaneBeginControlledAnimation(0.0f, &c.animation);
    OrvaneSetTrackGroupTarget(b, 0, instance);
    OrvaneSetTrackGroupBasisTransform(b, 0, &c.model, &twin);
    orvane_control* control = OrvaneEndControlledAnimation(b);
    ASSERT_NE(control, nullptr);
    OrvaneSetModelClock(instance, 0.63f);
    PosePtr pose(OrvaneNewLocalPose(n));
    OrvaneSampleModelAnimations(instance, 0, n, pose.get());
    for (int i : {0, 1, 2, 4}) {
        SCOPED_TRACE(i);
        ExpectTransformNear(*OrvaneGetLocalPoseTransform(pose.get(), i),
                            ReferenceLocal(c.skeleton, c.group, i, 0.63f, 2.0f, false, false),
                            1e-4f);
    }
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(control);
}

TEST(BindingRebase, TracksFollowTheChangeOfBasisBetweenTheRestPoses) {
    // The target basis differs from the source by a rigid offset X after each bone's rest
    // transform (To = From o X), so each track's basis transform is X and a rebased sample
    // maps v to S(X(v)): position S.P + R(S.q) X.P, orientation S.q X.q.
    Character c;
    Character target;
    const int n = c.BoneCount();
    const float xq[4] = {0.0f, std::sin(0.35f), 0.0f, std::cos(0.35f)};  // 0.7 rad about y
    const float xp[3] = {0.25f, -0.5f, 0.75f};
    orvane_transform x;
    const float identityScale[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    OrvaneSetTransformWithIdentityCheck(&x, xp, xq, identityScale);
    for (int i = 0; i < n; ++i) {
        orvane_transform rest = c.skeleton->Bones[i].Transform;
        OrvanePostMultiplyBy(&rest, &x);
        target.skeleton->Bones[i].Transform = rest;
    }
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_controlled_animation_builder* b = OrvaneBeginControlledAnimation(0.0f, &c.animation);
    OrvaneSetTrackGroupTarget(b, 0, instance);
    OrvaneSetTrackGroupBasisTransform(b, 0, &c.model, &target.model);
    orvane_control* control = OrvaneEndControlledAnimation(b);
    ASSERT_NE(control, nullptr);
    PosePtr pose(OrvaneNewLocalPose(n));
    for (float t : {0.0f, 0.5f, 1.0f}) {  // knot times of every curve
        SCOPED_TRACE(t);
        OrvaneSetModelClock(instance, t);
        OrvaneSampleModelAnimations(instance, 0, n, pose.get());
        for (int i : {0, 1, 2, 4}) {
            SCOPED_TRACE(i);
            const orvane_transform s =
                ReferenceLocal(c.skeleton, c.group, i, t, 2.0f, false, false);
            const Eigen::Quaterniond sq(s.Orientation[3], s.Orientation[0], s.Orientation[1],
                                        s.Orientation[2]);
            const Eigen::Quaterniond q(xq[3], xq[0], xq[1], xq[2]);
            const Eigen::Vector3d p = Eigen::Vector3d(s.Position[0], s.Position[1], s.Position[2]) +
                                      sq * Eigen::Vector3d(xp[0], xp[1], xp[2]);
            const Eigen::Quaterniond r = sq * q;
            orvane_transform expected;
            const float ep[3] = {float(p.x()), float(p.y()), float(p.z())};
            const float eq[4] = {float(r.x()), float(r.y()), float(r.z()), float(r.w())};
            OrvaneSetTransformWithIdentityCheck(&expected, ep, eq, identityScale);
            ExpectTransformNear(*OrvaneGetLocalPoseTransform(pose.get(), i), expected, 1e-4f);
        }
    }
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(control);
}

TEST(BindingRebase, ABasisThatOverflowsLeavesItsTrackAsItIs) {
    // A basis bone whose rest orientation is finite but far from unit length (a damaged file)
    // makes a basis change of infinities; its track is played as it is, and reported, rather
    // than rebased into values that are not numbers.
    Character c;
    Character damaged;
    const int n = c.BoneCount();
    orvane_transform rest = damaged.skeleton->Bones[1].Transform;
    rest.Orientation[0] = 1e30f;
    damaged.skeleton->Bones[1].Transform = rest;
    orvane_model_instance* instance = OrvaneInstantiateModel(&c.model);
    orvane_controlled_animation_builder* b = OrvaneBeginControlledAnimation(0.0f, &c.animation);
    OrvaneSetTrackGroupTarget(b, 0, instance);
    OrvaneSetTrackGroupBasisTransform(b, 0, &damaged.model, &c.model);
    orvane_test::LogCapture log;
    orvane_control* control = OrvaneEndControlledAnimation(b);
    ASSERT_NE(control, nullptr);
    EXPECT_TRUE(log.Contains("bone1"));
    OrvaneSetModelClock(instance, 0.63f);
    PosePtr pose(OrvaneNewLocalPose(n));
    OrvaneSampleModelAnimations(instance, 0, n, pose.get());
    for (int i : {0, 1, 2, 4}) {
        SCOPED_TRACE(i);
        const orvane_transform got = *OrvaneGetLocalPoseTransform(pose.get(), i);
        ExpectTransformNear(got, ReferenceLocal(c.skeleton, c.group, i, 0.63f, 2.0f, false, false),
                            1e-4f);
        for (int k = 0; k < 9; ++k)
            EXPECT_TRUE(std::isfinite(got.ScaleShear[k / 3][k % 3])) << k;
    }
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(control);
}

}  // namespace

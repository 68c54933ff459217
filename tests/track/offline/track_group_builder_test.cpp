// The track group builder: order, layout, flags, LOD errors, text tracks, re-sorting and the
// sampled-animation buffers.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "track/track_test_support.h"
#include "support/log_capture.h"
#include "orvane/curve_builder.h"
#include "orvane/track_group.h"

using namespace orvane_track_test;
using orvane_test::LogCapture;

namespace {

constexpr float kUnbounded = 1.9140881e38f;

std::vector<TrackSource> Tracks(std::mt19937& rng, const std::vector<const char*>& names) {
    std::vector<TrackSource> tracks;
    for (const char* name : names) {
        TrackSource t;
        t.name = name;
        t.curves[0] = RandomCurve(rng, kU, 3, 1, 5, 1.0f);
        t.curves[1] = RandomCurve(rng, kU, 4, 2, 6, 1.0f);
        t.curves[2] = RandomCurve(rng, kI, 9, 0, 0, 1.0f);
        tracks.push_back(t);
    }
    return tracks;
}

int32_t Offset(const void* base, const void* p) {
    return int32_t(static_cast<const char*>(p) - static_cast<const char*>(base));
}

TEST(TrackGroupBuilder, TracksComeOutInNameOrderWithTheSortedFlag) {
    std::mt19937 rng(1);
    const auto tracks = Tracks(rng, {"c", "a", "b"});
    GroupPtr g = BuildGroup("walk", tracks);
    ASSERT_TRUE(g);
    ASSERT_EQ(g->TransformTrackCount, 3);
    EXPECT_STREQ(g->TransformTracks[0].Name, "a");
    EXPECT_STREQ(g->TransformTracks[1].Name, "b");
    EXPECT_STREQ(g->TransformTracks[2].Name, "c");
    EXPECT_EQ(g->AccumulationFlags, 2);
    EXPECT_STREQ(g->Name, "walk");
    EXPECT_EQ(+g->PeriodicLoop, nullptr);
    EXPECT_EQ(+g->RootMotion, nullptr);
    EXPECT_EQ(+g->ExtendedData.Type, nullptr);
    EXPECT_EQ(g->InitialPlacement.Flags, 0u);
    EXPECT_EQ(g->InitialPlacement.Orientation[3], 1.0f);
    EXPECT_EQ(g->LoopTranslation[0], 0.0f);
    // The curves were copied with their values: "a" is the second track pushed.
    const orvane_curve_data_da_k32f_c32f* p =
        OrvaneCurveGetContentsOfDaK32fC32f(&g->TransformTracks[0].PositionCurve);
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(p->ControlCount, 15);
    EXPECT_EQ(0, std::memcmp(p->Controls, tracks[1].curves[0].controls.data(), 15 * 4));
    EXPECT_TRUE(OrvaneCurveIsIdentity(&g->TransformTracks[0].ScaleShearCurve));
}

TEST(TrackGroupBuilder, EqualNamesAreAllKeptInPushOrder) {
    std::mt19937 rng(2);
    auto tracks = Tracks(rng, {"x", "x", "a"});
    tracks[0].curves[0] = RandomCurve(rng, kS, 3, 0, 1, 1.0f);
    GroupPtr g = BuildGroup("g", tracks);
    ASSERT_EQ(g->TransformTrackCount, 3);
    EXPECT_STREQ(g->TransformTracks[1].Name, "x");
    EXPECT_TRUE(OrvaneCurveIsConstantOrIdentity(&g->TransformTracks[1].PositionCurve));
    EXPECT_FALSE(OrvaneCurveIsConstantOrIdentity(&g->TransformTracks[2].PositionCurve));
}

TEST(TrackGroupBuilder, BlockIsSelfContainedAndSizedAsReported) {
    std::mt19937 rng(3);
    const auto tracks = Tracks(rng, {"hip", "knee", "foot", "toe"});
    orvane_track_group_builder* b = OrvaneBeginTrackGroup("g", 0, 0, 0, true);
    const float vk[3] = {0.0f, 0.5f, 1.0f};
    const float vc[6] = {1, 2, 3, 4, 5, 6};
    OrvanePushVectorTrack(b, "morph", 1, 2, 0, 3, vk, vc, OrvaneCurveDataDaK32fC32fType);
    for (const TrackSource& t : tracks) {
        OrvaneBeginTransformTrack(b, t.name.c_str());
        for (int c = 0; c < 3; ++c)
            SetCurve(b, c, t.curves[c]);
        OrvaneEndTransformTrack(b);
    }
    OrvaneBeginTextTrack(b, "events");
    OrvaneAddTextEntry(b, 0.9f, "late");
    OrvaneAddTextEntry(b, 0.1f, "early");
    OrvaneAddTextEntry(b, 0.5f, "middle");
    OrvaneEndTextTrack(b);
    const int32_t size = OrvaneGetResultingTrackGroupSize(b);
    ASSERT_GT(size, int32_t(sizeof(orvane_track_group)));
    std::vector<uint64_t> memory(size_t(size) / 8 + 2, 0xABABABABABABABABull);
    orvane_track_group* g = OrvaneEndTrackGroupInPlace(b, memory.data());
    ASSERT_EQ(static_cast<void*>(g), memory.data());
    // The word after the block is untouched; every array lies inside the block.
    EXPECT_EQ(memory[size_t(size) / 8 + 1], 0xABABABABABABABABull);
    auto inside = [&](const void* p) {
        const int32_t o = Offset(g, p);
        return o >= 0 && o < size;
    };
    ASSERT_EQ(g->VectorTrackCount, 1);
    EXPECT_EQ(g->VectorTracks[0].Dimension, 2);
    EXPECT_TRUE(inside(g->VectorTracks));
    EXPECT_TRUE(inside(g->VectorTracks[0].ValueCurve.CurveData.Object));
    ASSERT_EQ(g->TransformTrackCount, 4);
    ASSERT_EQ(g->TransformLODErrorCount, 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(g->TransformLODErrors[i], kUnbounded);
        EXPECT_TRUE(inside(g->TransformTracks[i].OrientationCurve.CurveData.Object));
        EXPECT_EQ(
            reinterpret_cast<uintptr_t>(g->TransformTracks[i].PositionCurve.CurveData.Object) %
                alignof(void*),
            0u);
    }
    ASSERT_EQ(g->TextTrackCount, 1);
    ASSERT_EQ(g->TextTracks[0].EntryCount, 3);
    EXPECT_STREQ(g->TextTracks[0].Entries[0].Text, "late");
    EXPECT_STREQ(g->TextTracks[0].Entries[1].Text, "early");
    EXPECT_STREQ(g->TextTracks[0].Entries[2].Text, "middle");
    EXPECT_EQ(g->TextTracks[0].Entries[1].TimeStamp, 0.1f);
    EXPECT_TRUE(inside(g->TextTracks[0].Entries));
}

TEST(TrackGroupBuilder, LODErrorsOnlyWhenAsked) {
    std::mt19937 rng(4);
    const auto tracks = Tracks(rng, {"a", "b"});
    GroupPtr without = BuildGroup("g", tracks, false);
    EXPECT_EQ(without->TransformLODErrorCount, 0);
    EXPECT_EQ(+without->TransformLODErrors, nullptr);
    GroupPtr with = BuildGroup("g", tracks, true);
    ASSERT_EQ(with->TransformLODErrorCount, 2);
    EXPECT_EQ(with->TransformLODErrors[1], kUnbounded);
}

TEST(TrackGroupBuilder, MissingCurvesBecomeIdentityCurves) {
    orvane_track_group_builder* b = OrvaneBeginTrackGroup("g", 0, 0, 0, false);
    OrvaneBeginTransformTrack(b, "only-position");
    const float k[2] = {0.0f, 1.0f};
    const float c[6] = {0, 0, 0, 1, 2, 3};
    OrvaneSetTransformTrackPosition(b, 1, 0, 2, k, c, OrvaneCurveDataD3K16uC16uType);
    OrvaneEndTransformTrack(b);
    // Setters with no open track do nothing.
    OrvaneSetTransformTrackPosition(b, 1, 0, 2, k, c, OrvaneCurveDataDaK32fC32fType);
    GroupPtr g(OrvaneEndTrackGroup(b));
    ASSERT_EQ(g->TransformTrackCount, 1);
    const orvane_transform_track& t = g->TransformTracks[0];
    EXPECT_EQ(OrvaneCurveGetKnotCount(&t.PositionCurve), 2);
    EXPECT_TRUE(OrvaneCurveIsIdentity(&t.OrientationCurve));
    EXPECT_TRUE(OrvaneCurveIsIdentity(&t.ScaleShearCurve));
    EXPECT_EQ(OrvaneGetTrackSamplerFor(&t), OrvaneGetTrackSamplerFor(&t));
}

// Identity curves hold no values: every identity curve of a dimension, set as such or never set,
// points at one record of that dimension, and more of them cost the group their track records
// alone.
TEST(TrackGroupBuilder, IdentityCurvesShareOneRecordPerDimension) {
    std::mt19937 rng(9);
    auto build = [&](int identityTracks) {
        orvane_track_group_builder* b = OrvaneBeginTrackGroup("g", 0, 0, 0, false);
        OrvanePushVectorTrack(b, "unset", 1, 3, 0, 0, nullptr, nullptr, nullptr);
        OrvaneBeginTransformTrack(b, "moving");
        SetCurve(b, 0, RandomCurve(rng, kU, 3, 1, 5, 1.0f));
        SetCurve(b, 1, RandomCurve(rng, kU, 4, 1, 5, 1.0f));
        OrvaneEndTransformTrack(b);
        for (int i = 0; i < identityTracks; ++i) {
            OrvaneBeginTransformTrack(b, ("still" + std::to_string(i)).c_str());
            // Every other track sets its identity curves; the others leave them unset.
            if (i % 2 == 0)
                for (int c = 0; c < 3; ++c) {
                    CurveSource identity;
                    identity.kind = kI;
                    identity.type = OrvaneCurveDataDaIdentityType;
                    SetCurve(b, c, identity);
                }
            OrvaneEndTransformTrack(b);
        }
        const int32_t size = OrvaneGetResultingTrackGroupSize(b);
        return std::make_pair(GroupPtr(OrvaneEndTrackGroup(b)), size);
    };
    const auto [g, size] = build(6);
    ASSERT_EQ(g->TransformTrackCount, 7);
    const void* shared[3] = {nullptr, nullptr, nullptr};
    for (int32_t i = 0; i < g->TransformTrackCount; ++i) {
        const orvane_transform_track& t = g->TransformTracks[i];
        const orvane_curve2* curves[3] = {&t.PositionCurve, &t.OrientationCurve,
                                          &t.ScaleShearCurve};
        for (int c = 0; c < 3; ++c) {
            if (!OrvaneCurveIsIdentity(curves[c])) continue;
            EXPECT_EQ(static_cast<const orvane_curve_data_da_identity*>(curves[c]->CurveData.Object)
                          ->Dimension,
                      c == 0   ? 3
                      : c == 1 ? 4
                               : 9);
            const void* record = curves[c]->CurveData.Object;
            if (shared[c] == nullptr) shared[c] = record;
            EXPECT_EQ(record, shared[c]) << t.Name << " " << c;
        }
    }
    // The vector track's unset curve of dimension 3 is the positions' record. (Records are
    // packed: the pointer is copied out before it is compared.)
    const void* vector = g->VectorTracks[0].ValueCurve.CurveData.Object;
    EXPECT_EQ(vector, shared[0]);
    EXPECT_NE(shared[0], shared[1]);
    EXPECT_NE(shared[1], shared[2]);
    const auto [more, moreSize] = build(10);
    EXPECT_EQ(moreSize - size, int32_t(4 * sizeof(orvane_transform_track)));
}

// Transform tracks' constant curves equal to the bit share one record (bones at the same rest
// values); a value one bit apart keeps its own, and so does a vector track. A similarity
// transform converts a shared record once: every track that shares it comes out scaled once,
// not once per track, and the vector track as it was.
TEST(TrackGroupBuilder, EqualConstantsShareOneRecordConvertedOnce) {
    const float position[3] = {1.0f, 2.0f, 3.0f};
    float apart[3] = {1.0f, 2.0f, 3.0f};
    uint32_t bits;
    std::memcpy(&bits, &apart[2], sizeof bits);
    ++bits;
    std::memcpy(&apart[2], &bits, sizeof bits);
    const float other[3] = {4.0f, 5.0f, 6.0f};
    const float turn[4] = {0.0f, 0.0f, 0.6f, 0.8f};
    const float mirror[9] = {1, 0, 0, 0, -1, 0, 0, 0, 1};
    auto constant = [](orvane_data_type_definition* type, const float* values, int n) {
        CurveSource c;
        c.kind = kS;
        c.degree = 0;
        c.knots = {0.0f};
        c.controls.assign(values, values + n);
        c.type = type;
        return c;
    };
    auto build = [&](const float* second) {
        orvane_track_group_builder* b = OrvaneBeginTrackGroup("g", 0, 0, 0, false);
        const float time = 0.0f;
        OrvanePushVectorTrack(b, "v", 0, 3, 0, 1, &time, position,
                              OrvaneCurveDataD3Constant32fType);
        const float* positions[3] = {position, second, other};
        for (int i = 0; i < 3; ++i) {
            OrvaneBeginTransformTrack(b, ("bone" + std::to_string(i)).c_str());
            SetCurve(b, 0, constant(OrvaneCurveDataD3Constant32fType, positions[i], 3));
            SetCurve(b, 1, constant(OrvaneCurveDataD4Constant32fType, turn, 4));
            SetCurve(b, 2, constant(OrvaneCurveDataDaConstant32fType, mirror, 9));
            OrvaneEndTransformTrack(b);
        }
        const int32_t size = OrvaneGetResultingTrackGroupSize(b);
        return std::make_pair(GroupPtr(OrvaneEndTrackGroup(b)), size);
    };
    const auto [g, size] = build(position);
    ASSERT_EQ(g->TransformTrackCount, 3);
    const orvane_transform_track* t = g->TransformTracks;
    const void* p0 = t[0].PositionCurve.CurveData.Object;
    const void* p1 = t[1].PositionCurve.CurveData.Object;
    const void* p2 = t[2].PositionCurve.CurveData.Object;
    EXPECT_EQ(p0, p1);
    EXPECT_NE(p0, p2);
    // A vector track keeps its own record: transforms of the tracks leave it alone.
    const void* vector = g->VectorTracks[0].ValueCurve.CurveData.Object;
    EXPECT_NE(vector, p0);
    for (int i = 1; i < 3; ++i) {
        const void* q = t[i].OrientationCurve.CurveData.Object;
        const void* s = t[i].ScaleShearCurve.CurveData.Object;
        const void* q0 = t[0].OrientationCurve.CurveData.Object;
        const void* s0 = t[0].ScaleShearCurve.CurveData.Object;
        EXPECT_EQ(q, q0) << i;
        EXPECT_EQ(s, s0) << i;
    }
    // Two tracks with positions a bit apart keep a record each.
    const auto [unshared, unsharedSize] = build(apart);
    EXPECT_LT(size, unsharedSize);
    EXPECT_NE(unshared->TransformTracks[0].PositionCurve.CurveData.Object,
              unshared->TransformTracks[1].PositionCurve.CurveData.Object);

    const float zero[3] = {0, 0, 0};
    const float linear[9] = {2, 0, 0, 0, 2, 0, 0, 0, 2};
    const float inverse[9] = {0.5f, 0, 0, 0, 0.5f, 0, 0, 0, 0.5f};
    OrvaneSimilarityTransformTrackGroup(g.get(), zero, linear, inverse, 1e-4f, 1e-4f);
    for (int i = 0; i < 3; ++i) {
        float p[3], q[4], m[9];
        OrvaneCurveExtractKnotValue(&t[i].PositionCurve, 0, p, nullptr);
        OrvaneCurveExtractKnotValue(&t[i].OrientationCurve, 0, q, nullptr);
        OrvaneCurveExtractKnotValue(&t[i].ScaleShearCurve, 0, m, nullptr);
        const float* source = i == 2 ? other : position;
        for (int c = 0; c < 3; ++c)
            EXPECT_FLOAT_EQ(p[c], 2.0f * source[c]) << i << " " << c;
        for (int c = 0; c < 4; ++c)
            EXPECT_FLOAT_EQ(q[c], turn[c]) << i << " " << c;
        for (int c = 0; c < 9; ++c)
            EXPECT_FLOAT_EQ(m[c], mirror[c]) << i << " " << c;
    }
    float v[3];
    OrvaneCurveExtractKnotValue(&g->VectorTracks[0].ValueCurve, 0, v, nullptr);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(v[c], position[c]) << c;
}

TEST(TrackGroupBuilder, CurveCopiesKeepTheirFormat) {
    const float k[3] = {0.0f, 0.5f, 1.0f};
    const float q[12] = {0, 0, 0, 1, 0, 0.7071068f, 0, 0.7071068f, 0, 1, 0, 0};
    orvane_curve_builder* cb = OrvaneBeginCurve(OrvaneCurveDataD4nK16uC15uType, 1, 4, 3);
    OrvanePushCurveKnotArray(cb, k);
    OrvanePushCurveControlArray(cb, q);
    orvane_curve2* source = OrvaneEndCurve(cb);
    orvane_track_group_builder* b = OrvaneBeginTrackGroup("g", 0, 0, 0, false);
    OrvaneBeginTransformTrack(b, "t");
    OrvaneSetTransformTrackOrientationCurve(b, source);
    OrvaneEndTransformTrack(b);
    OrvanePushVectorTrackCurve(b, "v", source);
    OrvaneFreeCurve(source);
    GroupPtr g(OrvaneEndTrackGroup(b));
    const auto* h = static_cast<const orvane_curve_data_header*>(
        g->TransformTracks[0].OrientationCurve.CurveData.Object);
    EXPECT_EQ(h->Format, OrvaneCurveFormatD4nK16uC15u);
    EXPECT_EQ(g->VectorTracks[0].Dimension, 4);
    float value[4];
    OrvaneCurveExtractKnotValue(&g->VectorTracks[0].ValueCurve, 1, value, nullptr);
    EXPECT_NEAR(value[1], 0.7071068f, 1e-4f);
}

// A transform track's curves have dimensions 3, 4 and 9: a copied curve of another dimension is
// refused with an error and the component stays the identity; an identity curve copied in
// becomes the identity of the component's dimension.
TEST(TrackGroupBuilder, CopiedCurvesOfAnotherDimensionAreRefused) {
    const float k[2] = {0.0f, 1.0f};
    const float c[6] = {1, 2, 3, 4, 5, 6};
    orvane_curve_builder* cb = OrvaneBeginCurve(OrvaneCurveDataDaK32fC32fType, 1, 3, 2);
    OrvanePushCurveKnotArray(cb, k);
    OrvanePushCurveControlArray(cb, c);
    orvane_curve2* three = OrvaneEndCurve(cb);
    cb = OrvaneBeginCurve(OrvaneCurveDataDaIdentityType, 0, 3, 0);
    orvane_curve2* identityThree = OrvaneEndCurve(cb);
    ASSERT_NE(three, nullptr);
    ASSERT_NE(identityThree, nullptr);

    orvane_track_group_builder* b = OrvaneBeginTrackGroup("g", 0, 0, 0, false);
    OrvaneBeginTransformTrack(b, "t");
    LogCapture log;
    OrvaneSetTransformTrackPositionCurve(b, three);
    EXPECT_EQ(log.errors(), 0u);
    OrvaneSetTransformTrackOrientationCurve(b, three);
    EXPECT_EQ(log.errors(), 1u);
    OrvaneSetTransformTrackScaleShearCurve(b, three);
    EXPECT_EQ(log.errors(), 2u);
    OrvaneEndTransformTrack(b);
    OrvaneBeginTransformTrack(b, "u");
    OrvaneSetTransformTrackPositionCurve(b, identityThree);
    OrvaneSetTransformTrackOrientationCurve(b, identityThree);
    OrvaneSetTransformTrackScaleShearCurve(b, identityThree);
    OrvaneEndTransformTrack(b);
    EXPECT_EQ(log.errors(), 2u);
    OrvaneFreeCurve(three);
    OrvaneFreeCurve(identityThree);
    GroupPtr g(OrvaneEndTrackGroup(b));
    ASSERT_EQ(g->TransformTrackCount, 2);

    const orvane_transform_track& t = g->TransformTracks[0];
    EXPECT_EQ(OrvaneCurveGetKnotCount(&t.PositionCurve), 2);
    EXPECT_TRUE(OrvaneCurveIsIdentity(&t.OrientationCurve));
    EXPECT_TRUE(OrvaneCurveIsIdentity(&t.ScaleShearCurve));
    const int expected[3] = {3, 4, 9};
    for (int i = 0; i < 2; ++i) {
        const orvane_transform_track& track = g->TransformTracks[i];
        const orvane_curve2* curves[3] = {&track.PositionCurve, &track.OrientationCurve,
                                          &track.ScaleShearCurve};
        for (int component = 0; component < 3; ++component) {
            if (!OrvaneCurveIsIdentity(curves[component])) continue;
            const auto* record = static_cast<const orvane_curve_data_da_identity*>(
                curves[component]->CurveData.Object);
            const int dimension = record->Dimension;
            EXPECT_EQ(dimension, expected[component]) << track.Name << " " << component;
        }
    }
    // The samplers read the group without a complaint.
    LogCapture sampling;
    EXPECT_EQ(OrvaneGetTrackSamplerFor(&g->TransformTracks[1]), OrvaneGetTrackSamplerIII());
    orvane_transform local{};
    const orvane_track_sample_context ctx = Context(0.5f, 1.0f);
    OrvaneSampleTrackUUULocal(&ctx, &t, nullptr, &local);
    EXPECT_EQ(local.Flags, uint32_t(OrvaneTransformHasPosition));
    EXPECT_EQ(sampling.warnings(), 0u);
}

// A vector track's dimension is one a curve can have, 0 to 32767: another is refused with an
// error and no track is added (its identity record could not hold it).
TEST(TrackGroupBuilder, VectorTracksOfAnImpossibleDimensionAreRefused) {
    const float k[2] = {0.0f, 1.0f};
    const float c[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    orvane_track_group_builder* b = OrvaneBeginTrackGroup("g", 0, 0, 0, false);
    LogCapture log;
    OrvanePushVectorTrack(b, "negative", 1, -3, 0, 2, k, c, OrvaneCurveDataDaK32fC32fType);
    OrvanePushVectorTrack(b, "huge", 1, 40000, 0, 2, k, c, OrvaneCurveDataDaK32fC32fType);
    EXPECT_GE(log.errors(), 2u);
    EXPECT_TRUE(log.Contains("Dimension -3 is out of range [0, 32768)"));
    EXPECT_TRUE(log.Contains("Dimension 40000 is out of range [0, 32768)"));
    OrvanePushVectorTrack(b, "pair", 1, 4, 0, 2, k, c, OrvaneCurveDataDaK32fC32fType);
    GroupPtr g(OrvaneEndTrackGroup(b));
    ASSERT_EQ(g->VectorTrackCount, 1);
    EXPECT_STREQ(g->VectorTracks[0].Name, "pair");
    EXPECT_EQ(g->VectorTracks[0].Dimension, 4);
}

// Setting a component again replaces it; a track begun while another is open leaves the first
// in the group with what it was given; entries and setters with no open track are dropped.
TEST(TrackGroupBuilder, RepeatedAndUnmatchedCallsKeepWhatWasGiven) {
    const float k[2] = {0.0f, 1.0f};
    const float first[6] = {1, 1, 1, 2, 2, 2};
    const float second[6] = {5, 6, 7, 8, 9, 10};
    orvane_track_group_builder* b = OrvaneBeginTrackGroup("g", 0, 0, 0, false);
    OrvaneBeginTransformTrack(b, "b");
    OrvaneSetTransformTrackPosition(b, 1, 0, 2, k, first, OrvaneCurveDataDaK32fC32fType);
    OrvaneSetTransformTrackPosition(b, 1, 0, 2, k, second, OrvaneCurveDataDaK32fC32fType);
    OrvaneBeginTransformTrack(b, "a");  // "b" was never ended
    OrvaneSetTransformTrackPosition(b, 1, 0, 2, k, first, OrvaneCurveDataDaK32fC32fType);
    OrvaneEndTransformTrack(b);
    OrvaneEndTransformTrack(b);
    OrvaneSetTransformTrackPosition(b, 1, 0, 2, k, second, OrvaneCurveDataDaK32fC32fType);
    OrvaneBeginTextTrack(b, "events");
    OrvaneAddTextEntry(b, 0.5f, "kept");
    OrvaneEndTextTrack(b);
    OrvaneAddTextEntry(b, 0.7f, "dropped");
    OrvaneEndTextTrack(b);
    GroupPtr g(OrvaneEndTrackGroup(b));
    ASSERT_EQ(g->TransformTrackCount, 2);
    EXPECT_STREQ(g->TransformTracks[0].Name, "a");
    EXPECT_STREQ(g->TransformTracks[1].Name, "b");
    float p[3];
    OrvaneCurveExtractKnotValue(&g->TransformTracks[0].PositionCurve, 1, p, nullptr);
    EXPECT_EQ(p[0], 2.0f);
    OrvaneCurveExtractKnotValue(&g->TransformTracks[1].PositionCurve, 1, p, nullptr);
    EXPECT_EQ(p[0], 8.0f);
    EXPECT_TRUE(OrvaneCurveIsIdentity(&g->TransformTracks[1].OrientationCurve));
    ASSERT_EQ(g->TextTrackCount, 1);
    ASSERT_EQ(g->TextTracks[0].EntryCount, 1);
    EXPECT_STREQ(g->TextTracks[0].Entries[0].Text, "kept");
}

TEST(TrackGroupResort, SortsTracksAndMovesTheirLODErrors) {
    std::mt19937 rng(5);
    const auto tracks = Tracks(rng, {"a", "b", "c", "d"});
    GroupPtr g = BuildGroup("g", tracks, true);
    // Reverse the tracks by hand and give each its own error.
    std::reverse(g->TransformTracks, g->TransformTracks + 4);
    for (int i = 0; i < 4; ++i)
        g->TransformLODErrors[i] = float(10 + (g->TransformTracks[i].Name[0] - 'a'));
    g->AccumulationFlags = 0;
    OrvaneResortTrackGroup(g.get());
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(g->TransformTracks[i].Name[0], 'a' + i);
        EXPECT_EQ(g->TransformLODErrors[i], float(10 + i));
    }
    EXPECT_EQ(g->AccumulationFlags, 2);
    // Already sorted: nothing moves.
    const orvane_transform_track* before = g->TransformTracks;
    OrvaneResortTrackGroup(g.get());
    EXPECT_EQ(+g->TransformTracks, before);
    EXPECT_STREQ(g->TransformTracks[0].Name, "a");
}

int32_t CaseFold(const char* a, const char* b) {
    for (;; ++a, ++b) {
        const int ca = std::tolower(static_cast<unsigned char>(*a));
        const int cb = std::tolower(static_cast<unsigned char>(*b));
        if (ca != cb || ca == 0) return ca - cb;
    }
}

TEST(TrackGroupResort, ReportsDuplicateNamesUnderACallback) {
    std::mt19937 rng(6);
    auto tracks = Tracks(rng, {"b", "a"});
    GroupPtr g = BuildGroup("g", tracks);
    g->TransformTracks[0].Name = g->TransformTracks[1].Name;
    LogCapture log;
    OrvaneSetStringComparisonCallback(CaseFold);
    OrvaneResortTrackGroup(g.get());
    OrvaneSetStringComparisonCallback(nullptr);
    EXPECT_EQ(log.warnings(), 1u);
}

TEST(LODErrorSpace, AllocateSetResetAndFree) {
    std::mt19937 rng(7);
    const auto tracks = Tracks(rng, {"a", "b", "c"});
    GroupPtr g = BuildGroup("g", tracks, false);
    OrvaneAllocateLODErrorSpace(g.get());
    ASSERT_EQ(g->TransformLODErrorCount, 3);
    float* errors = g->TransformLODErrors;
    EXPECT_EQ(errors[2], kUnbounded);
    OrvaneSetAllLODErrorSpace(g.get(), 0.25f);
    EXPECT_EQ(errors[0], 0.25f);
    // A second allocation keeps what is there.
    OrvaneAllocateLODErrorSpace(g.get());
    EXPECT_EQ(+g->TransformLODErrors, errors);
    OrvaneResetLODErrorSpace(g.get());
    EXPECT_EQ(errors[1], kUnbounded);
    OrvaneFreeLODErrorSpace(g.get());
    EXPECT_EQ(g->TransformLODErrorCount, 0);
    EXPECT_EQ(+g->TransformLODErrors, nullptr);
}

TEST(LODErrorSpace, ErrorsInsideTheBlockAreDetachedNotFreed) {
    std::mt19937 rng(8);
    const auto tracks = Tracks(rng, {"a", "b"});
    GroupPtr g = BuildGroup("g", tracks, true);
    OrvaneFreeLODErrorSpace(g.get());  // would free an interior pointer if taken literally
    EXPECT_EQ(g->TransformLODErrorCount, 0);
    EXPECT_EQ(+g->TransformLODErrors, nullptr);
}

TEST(SampledAnimation, SamplesLandPerTrackAndFrame) {
    orvane_track_group_sampler* s = OrvaneBeginSampledAnimation(2, 3);
    ASSERT_NE(s, nullptr);
    for (int frame = 0; frame < 3; ++frame) {
        for (int track = 0; track < 2; ++track) {
            const float p[3] = {float(track), float(frame), 0};
            const float q[4] = {0, 0, 0, float(10 * track + frame)};
            float m[9] = {};
            m[8] = float(frame);
            OrvaneSetTransformSample(s, track, p, q, m);
        }
        OrvanePushSampledFrame(s);
    }
    EXPECT_EQ(OrvaneGetPositionSamples(s, 1)[3 * 2 + 1], 2.0f);
    EXPECT_EQ(OrvaneGetOrientationSamples(s, 1)[4 * 1 + 3], 11.0f);
    EXPECT_EQ(OrvaneGetScaleShearSamples(s, 0)[9 * 2 + 8], 2.0f);
    EXPECT_EQ(OrvaneGetPositionSamples(s, 2), nullptr);
    {
        // Past the last frame and out of range: refused, nothing written.
        LogCapture log;
        const float z[9] = {};
        OrvaneSetTransformSample(s, 0, z, z, z);
        OrvaneSetTransformSample(s, 5, z, z, z);
        EXPECT_EQ(log.errors(), 2u);
    }
    EXPECT_EQ(OrvaneGetPositionSamples(s, 0)[3 * 2 + 1], 2.0f);
    OrvaneEndSampledAnimation(s);
    LogCapture log;
    EXPECT_EQ(OrvaneBeginSampledAnimation(-1, 3), nullptr);
    EXPECT_EQ(OrvaneBeginSampledAnimation(1 << 20, 1 << 20), nullptr);
}

// A missing position, orientation or scale/shear is an error: nothing of the sample is stored.
TEST(SampledAnimation, MissingArraysAreRefused) {
    orvane_track_group_sampler* s = OrvaneBeginSampledAnimation(1, 1);
    ASSERT_NE(s, nullptr);
    const float p[3] = {1, 2, 3};
    const float q[4] = {0, 0, 0, 1};
    const float m[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    {
        LogCapture log;
        OrvaneSetTransformSample(s, 0, nullptr, q, m);
        OrvaneSetTransformSample(s, 0, p, nullptr, m);
        OrvaneSetTransformSample(s, 0, p, q, nullptr);
        EXPECT_EQ(log.errors(), 3u);
        EXPECT_TRUE(log.Contains("Position is not allowed to be 0"));
        EXPECT_TRUE(log.Contains("Orientation is not allowed to be 0"));
        EXPECT_TRUE(log.Contains("ScaleShear is not allowed to be 0"));
    }
    EXPECT_EQ(OrvaneGetPositionSamples(s, 0)[0], 0.0f);
    EXPECT_EQ(OrvaneGetOrientationSamples(s, 0)[3], 0.0f);
    OrvaneSetTransformSample(s, 0, p, q, m);
    EXPECT_EQ(OrvaneGetPositionSamples(s, 0)[2], 3.0f);
    OrvaneEndSampledAnimation(s);
}

}  // namespace

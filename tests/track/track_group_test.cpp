// Track groups: lookups on sorted and unsorted groups, flags, initial transforms, basis
// conversion (the swizzle path against decoding), the whole-group similarity transform and
// the reducibility tests.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "track/track_test_support.h"
#include "support/log_capture.h"
#include "orvane/curve_builder.h"
#include "orvane/track_group.h"

using namespace orvane_track_test;
using orvane_test::LogCapture;

namespace {

std::vector<TrackSource> Named(std::mt19937& rng, const std::vector<std::string>& names) {
    std::vector<TrackSource> tracks;
    for (const std::string& name : names) {
        TrackSource t;
        t.name = name;
        t.curves[0] = RandomCurve(rng, kU, 3, 1, 4, 1.0f);
        tracks.push_back(t);
    }
    return tracks;
}

TEST(TrackLookup, SortedGroupFindsEveryTrackByBisection) {
    std::mt19937 rng(31);
    std::vector<std::string> names;
    for (int i = 0; i < 37; ++i)
        names.push_back("bone" + std::to_string(1000 + 7 * i));
    std::shuffle(names.begin(), names.end(), rng);
    const auto tracks = Named(rng, names);
    GroupPtr g = BuildGroup("g", tracks);
    ASSERT_TRUE(g->AccumulationFlags & OrvaneTrackGroupSortedByName);
    for (int i = 0; i < g->TransformTrackCount; ++i) {
        int32_t index = -2;
        EXPECT_TRUE(OrvaneFindTrackByName(g.get(), g->TransformTracks[i].Name, &index));
        EXPECT_EQ(index, i);
    }
    int32_t index = 5;
    EXPECT_FALSE(OrvaneFindTrackByName(g.get(), "bone1001", &index));  // between two names
    EXPECT_EQ(index, -1);
    EXPECT_FALSE(OrvaneFindTrackByName(g.get(), "a", &index));
    EXPECT_FALSE(OrvaneFindTrackByName(g.get(), "z", &index));
    EXPECT_FALSE(OrvaneFindTrackByName(nullptr, "bone1000", &index));
    EXPECT_EQ(index, -1);
}

TEST(TrackLookup, UnsortedGroupScansForTheFirstEqualName) {
    std::mt19937 rng(32);
    const auto tracks = Named(rng, {"b", "a", "a2"});
    GroupPtr g = BuildGroup("g", tracks);
    // Unsort: c, a, a, with the flag cleared.
    g->AccumulationFlags = 0;
    g->TransformTracks[0].Name = const_cast<char*>("c");
    g->TransformTracks[2].Name = const_cast<char*>("a");
    std::swap(g->TransformTracks[0], g->TransformTracks[2]);  // a, b... then rename
    g->TransformTracks[1].Name = const_cast<char*>("a");
    // Names now: a, a, c.
    int32_t index;
    EXPECT_TRUE(OrvaneFindTrackByName(g.get(), "a", &index));
    EXPECT_EQ(index, 0);
    EXPECT_TRUE(OrvaneFindTrackByName(g.get(), "c", &index));
    EXPECT_EQ(index, 2);
    EXPECT_FALSE(OrvaneFindTrackByName(g.get(), "b", &index));
}

int32_t CaseFold(const char* a, const char* b) {
    for (;; ++a, ++b) {
        const int ca = std::tolower(static_cast<unsigned char>(*a));
        const int cb = std::tolower(static_cast<unsigned char>(*b));
        if (ca != cb || ca == 0) return ca - cb;
    }
}

TEST(TrackLookup, ComparisonCallbackDecidesOrderAndEquality) {
    std::mt19937 rng(33);
    OrvaneSetStringComparisonCallback(CaseFold);
    const auto tracks = Named(rng, {"Knee", "ankle", "HIP"});
    GroupPtr g = BuildGroup("g", tracks);
    EXPECT_STREQ(g->TransformTracks[0].Name, "ankle");
    EXPECT_STREQ(g->TransformTracks[1].Name, "HIP");
    int32_t index;
    EXPECT_TRUE(OrvaneFindTrackByName(g.get(), "knee", &index));
    EXPECT_EQ(index, 2);
    g->AccumulationFlags = 0;
    EXPECT_TRUE(OrvaneFindTrackByName(g.get(), "hip", &index));
    EXPECT_EQ(index, 1);
    OrvaneSetStringComparisonCallback(nullptr);
    EXPECT_FALSE(OrvaneFindTrackByName(g.get(), "hip", &index));
}

TEST(TrackLookup, ByRuleMatchesWildcardsInAnyCase) {
    std::mt19937 rng(34);
    const auto tracks = Named(rng, {"Bip01 L Thigh", "Bip01 R Thigh", "Root"});
    GroupPtr g = BuildGroup("g", tracks);
    int32_t index;
    EXPECT_TRUE(OrvaneFindTrackByRule(g.get(), "R Thigh", "bip01 *", &index));
    EXPECT_STREQ(g->TransformTracks[index].Name, "Bip01 R Thigh");
    EXPECT_TRUE(OrvaneFindTrackByRule(g.get(), "Root", nullptr, &index));
    EXPECT_STREQ(g->TransformTracks[index].Name, "Root");
    EXPECT_TRUE(OrvaneFindTrackByRule(g.get(), "LT", "bip01 ? ?high", &index));
    EXPECT_STREQ(g->TransformTracks[index].Name, "Bip01 L Thigh");
    EXPECT_FALSE(OrvaneFindTrackByRule(g.get(), "X", "bip01 *", &index));
    EXPECT_EQ(index, -1);
    // A name too long for the capture never matches and never overruns it.
    std::string longName(5000, 'x');
    auto longTracks = Named(rng, {longName});
    GroupPtr lg = BuildGroup("g", longTracks);
    EXPECT_FALSE(OrvaneFindTrackByRule(lg.get(), longName.c_str(), "*", &index));
}

TEST(TrackLookup, VectorTracksByNameAndRule) {
    orvane_track_group_builder* b = OrvaneBeginTrackGroup("g", 0, 0, 0, false);
    const float k[2] = {0, 1}, c[2] = {0, 1};
    OrvanePushVectorTrack(b, "morph_smile", 1, 1, 0, 2, k, c, OrvaneCurveDataDaK32fC32fType);
    OrvanePushVectorTrack(b, "morph_blink", 1, 1, 0, 2, k, c, OrvaneCurveDataDaK32fC32fType);
    GroupPtr g(OrvaneEndTrackGroup(b));
    int32_t index;
    EXPECT_TRUE(OrvaneFindVectorTrackByName(g.get(), "morph_smile", &index));
    EXPECT_STREQ(g->VectorTracks[index].Name, "morph_smile");
    EXPECT_TRUE(OrvaneFindVectorTrackByRule(g.get(), "blink", "MORPH_*", &index));
    EXPECT_STREQ(g->VectorTracks[index].Name, "morph_blink");
    EXPECT_FALSE(OrvaneFindVectorTrackByName(g.get(), "morph", &index));
}

TEST(TrackGroupFlags, HalvesAndSignExtension) {
    orvane_track_group g{};
    OrvaneSetTrackGroupFlags(&g, 2, 0xFFFF);
    uint32_t flags, dofs;
    OrvaneGetTrackGroupFlags(&g, &flags, &dofs);
    EXPECT_EQ(flags, 2u);
    EXPECT_EQ(int32_t(dofs), -1);
    OrvaneSetTrackGroupFlags(&g, 5, 0x0123);
    OrvaneGetTrackGroupFlags(&g, &flags, &dofs);
    EXPECT_EQ(flags, 5u);
    EXPECT_EQ(dofs, 0x123u);
}

TEST(TrackQueries, KindsAndInitialTransform) {
    std::mt19937 rng(35);
    std::vector<TrackSource> tracks(3);
    tracks[0].name = "identity";
    tracks[1].name = "constant";
    tracks[1].curves[0] = RandomCurve(rng, kS, 3, 0, 1, 1.0f);
    tracks[1].curves[1] = RandomCurve(rng, kS, 4, 0, 1, 1.0f);
    tracks[2].name = "moving";
    tracks[2].curves[1] = RandomCurve(rng, kU, 4, 1, 5, 1.0f);
    GroupPtr g = BuildGroup("g", tracks);
    int32_t i, c, m;
    ASSERT_TRUE(OrvaneFindTrackByName(g.get(), "identity", &i));
    ASSERT_TRUE(OrvaneFindTrackByName(g.get(), "constant", &c));
    ASSERT_TRUE(OrvaneFindTrackByName(g.get(), "moving", &m));
    EXPECT_TRUE(OrvaneTransformTrackIsIdentity(&g->TransformTracks[i]));
    EXPECT_FALSE(OrvaneTransformTrackIsAnimated(&g->TransformTracks[c]));
    EXPECT_FALSE(OrvaneTransformTrackIsIdentity(&g->TransformTracks[c]));
    EXPECT_TRUE(OrvaneTransformTrackIsAnimated(&g->TransformTracks[m]));
    orvane_transform initial;
    OrvaneGetTrackInitialTransform(&g->TransformTracks[m], &initial);
    EXPECT_EQ(initial.Flags & OrvaneTransformHasPosition, 0u);
    EXPECT_EQ(initial.Orientation[0], tracks[2].curves[1].controls[0]);
    OrvaneGetTrackInitialTransform(&g->TransformTracks[c], &initial);
    EXPECT_EQ(initial.Position[1], tracks[1].curves[0].controls[1]);
}

TEST(TrackInitialTransform, RemovedFromFloatTracksRefusedForCompressedOnes) {
    std::mt19937 rng(36);
    TrackSource t;
    t.name = "t";
    t.curves[0] = RandomCurve(rng, kU, 3, 1, 5, 1.0f);
    t.curves[1] = RandomCurve(rng, kU, 4, 1, 5, 1.0f);
    GroupPtr g = BuildGroup("g", {t});
    orvane_transform_track& track = g->TransformTracks[0];
    OrvaneRemoveTrackInitialTransform(&track);
    // The first key becomes the identity.
    orvane_transform initial;
    OrvaneGetTrackInitialTransform(&track, &initial);
    EXPECT_EQ(initial.Flags, 0u);

    TrackSource q = t;
    q.curves[0].type = OrvaneCurveDataD3K16uC16uType;
    GroupPtr gq = BuildGroup("g", {q});
    const orvane_curve_data_da_k32f_c32f* o =
        OrvaneCurveGetContentsOfDaK32fC32f(&gq->TransformTracks[0].OrientationCurve);
    const std::vector<float> before(o->Controls, o->Controls + o->ControlCount);
    LogCapture log;
    OrvaneRemoveTrackInitialTransform(&gq->TransformTracks[0]);
    ASSERT_EQ(log.errors(), 1u);
    EXPECT_NE(log.messages()[0].text.find("compressed position curve"), std::string::npos);
    EXPECT_EQ(before, std::vector<float>(o->Controls, o->Controls + o->ControlCount));
}

// Evaluates a curve at its knots through the plain-float conversion.
std::vector<float> Decoded(const orvane_curve2* curve, int dimension) {
    const int n = OrvaneCurveGetKnotCount(curve);
    std::vector<float> controls(size_t(n) * size_t(dimension));
    OrvaneCurveExtractKnotValues(curve, 0, n, nullptr, controls.data(), nullptr);
    return controls;
}

struct CurveFree {
    void operator()(orvane_curve2* c) const { OrvaneFreeCurve(c); }
};

std::unique_ptr<orvane_curve2, CurveFree> MakeCurve(orvane_data_type_definition* type,
                                                    int dimension, const CurveSource& s) {
    orvane_curve_builder* b = OrvaneBeginCurve(type, s.degree, dimension, int(s.knots.size()));
    OrvanePushCurveKnotArray(b, s.knots.data());
    OrvanePushCurveControlArray(b, s.controls.data());
    return std::unique_ptr<orvane_curve2, CurveFree>(OrvaneEndCurve(b));
}

TEST(BasisConversion, SwizzleTestAcceptsSignedPermutationsWithOneScale) {
    float flip[9] = {0, 0, 2, 2, 0, 0, 0, -2, 0};
    float inverse[9];
    EXPECT_TRUE(
        OrvaneBasisConversionRequiresCurveDecompression(nullptr, flip, inverse, 0, 1e-4f, false));
    float uneven[9] = {1, 0, 0, 0, 2, 0, 0, 0, 1};
    EXPECT_FALSE(
        OrvaneBasisConversionRequiresCurveDecompression(nullptr, uneven, inverse, 0, 1e-4f, false));
    const float c = std::cos(0.7853982f), s = std::sin(0.7853982f);
    float rotation[9] = {c, -s, 0, s, c, 0, 0, 0, 1};
    EXPECT_FALSE(OrvaneBasisConversionRequiresCurveDecompression(nullptr, rotation, inverse, 0,
                                                                 1e-4f, false));
    float nearly[9] = {0, 1.00001f, 0.00002f, -1, 0, 0, 0, 0, 0.99999f};
    EXPECT_TRUE(
        OrvaneBasisConversionRequiresCurveDecompression(nullptr, nearly, inverse, 0, 1e-3f, true));
    // Every dominant entry takes row 0's magnitude with its own sign; the rest become 0.
    const float m = 1.00001f;
    const float snapped[9] = {0, m, 0, -m, 0, 0, 0, 0, m};
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(nearly[i], snapped[i]);
    EXPECT_FLOAT_EQ(inverse[1], -1.0f / m);
    EXPECT_FLOAT_EQ(inverse[3], 1.0f / m);
}

// The swizzle path (scales and offsets changed in place) against decoding, transforming and
// re-encoding: the decoded values of both agree within the quantisation of the format.
TEST(BasisConversion, SwizzlePathAgreesWithDecodeAndReencode) {
    std::mt19937 rng(37);
    const float linear[9] = {0, 0, 2, 2, 0, 0, 0, -2, 0};
    float inverseLinear[9] = {0, 0.5f, 0, 0, 0, -0.5f, 0.5f, 0, 0};
    const float affine[3] = {1, -2, 3};
    struct Case {
        orvane_data_type_definition* type;
        int dimension;
        float tolerance;
    };
    const Case cases[] = {
        {OrvaneCurveDataD3K16uC16uType, 3, 2e-3f},   {OrvaneCurveDataDaK32fC32fType, 3, 1e-5f},
        {OrvaneCurveDataD4nK16uC15uType, 4, 2e-3f},  {OrvaneCurveDataDaK16uC16uType, 4, 2e-3f},
        {OrvaneCurveDataD9I3K16uC16uType, 9, 2e-3f}, {OrvaneCurveDataDaK32fC32fType, 9, 1e-5f}};
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message() << "dimension " << k.dimension);
        CurveSource s = RandomCurve(rng, kU, k.dimension, 1, 9, 1.0f);
        if (k.dimension == 9)
            for (size_t i = 0; i < s.controls.size(); ++i)
                if (i % 9 != 0 && i % 9 != 4 && i % 9 != 8) s.controls[i] = 0.0f;
        auto curve = MakeCurve(k.type, k.dimension, s);
        const std::vector<float> original = Decoded(curve.get(), k.dimension);
        if (k.dimension == 3)
            OrvaneSimilarityTransformCurvePosition(affine, linear, inverseLinear, 0, 1e-4f,
                                                   curve.get());
        else if (k.dimension == 4)
            OrvaneSimilarityTransformCurveQuaternion(affine, linear, inverseLinear, 0, 1e-4f,
                                                     curve.get());
        else
            OrvaneSimilarityTransformCurveScaleShear(affine, linear, inverseLinear, 0, 1e-4f,
                                                     curve.get());
        const std::vector<float> swizzled = Decoded(curve.get(), k.dimension);
        for (size_t i = 0; i < original.size(); i += size_t(k.dimension)) {
            float expected[9];
            std::memcpy(expected, &original[i], size_t(k.dimension) * 4);
            if (k.dimension == 3)
                OrvaneInPlaceSimilarityTransformPosition(affine, linear, expected);
            else if (k.dimension == 4)
                OrvaneInPlaceSimilarityTransformOrientation(linear, inverseLinear, expected);
            else
                OrvaneInPlaceSimilarityTransformScaleShear(linear, inverseLinear, expected);
            // Quaternions q and -q are the same rotation.
            const float sign = k.dimension == 4 && expected[3] * swizzled[i + 3] < 0 ? -1.0f : 1.0f;
            for (int j = 0; j < k.dimension; ++j)
                EXPECT_NEAR(swizzled[i + size_t(j)], sign * expected[j],
                            k.tolerance * std::max(1.0f, std::fabs(expected[j])));
        }
    }
}

TEST(BasisConversion, RotationDecodesAndReencodes) {
    std::mt19937 rng(38);
    const float c = std::cos(0.7853982f), s = std::sin(0.7853982f);
    const float linear[9] = {c, -s, 0, s, c, 0, 0, 0, 1};
    const float affine[3] = {0, 0, 0};
    CurveSource src = RandomCurve(rng, kU, 3, 2, 7, 1.0f);
    auto curve = MakeCurve(OrvaneCurveDataD3K16uC16uType, 3, src);
    const std::vector<float> before = Decoded(curve.get(), 3);
    OrvaneTransformCurveVec3(affine, linear, 0, 1e-4f, curve.get());
    const auto* h = static_cast<const orvane_curve_data_header*>(curve->CurveData.Object);
    EXPECT_EQ(h->Format, OrvaneCurveFormatD3K16uC16u);
    const std::vector<float> after = Decoded(curve.get(), 3);
    for (size_t i = 0; i < before.size(); i += 3) {
        float v[3];
        std::memcpy(v, &before[i], sizeof v);
        OrvaneInPlaceSimilarityTransformPosition(affine, linear, v);
        for (int j = 0; j < 3; ++j)
            EXPECT_NEAR(after[i + size_t(j)], v[j], 2e-3f);
    }
    LogCapture log;
    orvane_curve_data_da_identity identity{};
    identity.CurveDataHeader.Format = OrvaneCurveFormatDaIdentity;
    orvane_curve2 idCurve{{OrvaneCurveDataDaIdentityType, &identity}};
    OrvaneTransformCurveVec3(affine, linear, 0, 1e-4f, &idCurve);
    OrvaneSimilarityTransformCurveQuaternion(affine, linear, linear, 0, 1e-4f, curve.get());
    EXPECT_EQ(log.errors(), 2u);
}

TEST(BasisConversion, WholeGroupMovesPlacementLoopAndPeriodicLoop) {
    std::mt19937 rng(39);
    TrackSource t;
    t.name = "t";
    t.curves[0] = RandomCurve(rng, kU, 3, 1, 4, 1.0f);
    GroupPtr g = BuildGroup("g", {t});
    const float linear[9] = {0, 0, 1, 1, 0, 0, 0, 1, 0};
    const float inverse[9] = {0, 1, 0, 0, 0, 1, 1, 0, 0};
    const float affine[3] = {5, 0, 0};
    g->LoopTranslation[0] = 1.0f;
    orvane_periodic_loop loop{};
    loop.Radius = 2.0f;
    loop.dZ = 3.0f;
    loop.BasisX[0] = 2.0f;
    loop.BasisY[1] = 1.0f;
    g->PeriodicLoop = &loop;
    const std::vector<float> before = Decoded(&g->TransformTracks[0].PositionCurve, 3);
    OrvaneSimilarityTransformTrackGroup(g.get(), affine, linear, inverse, 0, 1e-4f);
    EXPECT_EQ(g->LoopTranslation[1], 1.0f);
    EXPECT_EQ(loop.BasisX[1], 1.0f);
    EXPECT_EQ(loop.Radius, 4.0f);
    EXPECT_EQ(loop.dZ, 0.0f);  // a zero axis stays zero
    EXPECT_EQ(loop.Axis[0], 0.0f);
    EXPECT_EQ(g->InitialPlacement.Position[0], 5.0f);
    // Tracks move with the basis but not the placement offset.
    const std::vector<float> after = Decoded(&g->TransformTracks[0].PositionCurve, 3);
    EXPECT_FLOAT_EQ(after[1], before[0]);
    EXPECT_FLOAT_EQ(after[2], before[1]);
    EXPECT_FLOAT_EQ(after[0], before[2]);
    g->PeriodicLoop = nullptr;
}

// A basis vector that comes out too short to normalise becomes zero; the loop's rise and
// radius still scale by the lengths the transform gave them.
TEST(BasisConversion, PeriodicLoopScalesByTheTransformedLengths) {
    orvane_track_group g{};
    OrvaneMakeIdentity(&g.InitialPlacement);
    orvane_periodic_loop loop{};
    loop.Radius = 2.0f;
    loop.dZ = 3.0f;
    loop.BasisX[0] = 1.0f;
    loop.BasisY[1] = 1.0f;
    loop.Axis[2] = 1.0f;
    g.PeriodicLoop = &loop;
    // Scales x by 4 and z by 1/200000, so that the axis comes out 5e-6 long.
    const float linear[9] = {4, 0, 0, 0, 1, 0, 0, 0, 5e-6f};
    const float inverse[9] = {0.25f, 0, 0, 0, 1, 0, 0, 0, 200000.0f};
    const float affine[3] = {0, 0, 0};
    OrvaneSimilarityTransformTrackGroup(&g, affine, linear, inverse, 0, 1e-4f);
    EXPECT_EQ(loop.Axis[2], 0.0f);
    EXPECT_FLOAT_EQ(loop.dZ, 3.0f * 5e-6f);
    EXPECT_EQ(loop.BasisX[0], 1.0f);
    EXPECT_EQ(loop.Radius, 8.0f);
}

TEST(Reducibility, IdentityConstantAndAnimated) {
    const float near[8] = {0, 0, 0, 1, 0.00001f, 0, 0, 1};
    int32_t degree, knots;
    EXPECT_TRUE(OrvaneKnotsAreReducible(2, 4, 2, nullptr, near, OrvaneCurveIdentityOrientation,
                                        1e-3f, true, false, &degree, &knots));
    EXPECT_EQ(degree, 0);
    EXPECT_EQ(knots, 0);
    const float same[6] = {3, 4, 5, 3, 4, 5};
    EXPECT_TRUE(OrvaneKnotsAreReducible(2, 3, 2, nullptr, same, OrvaneCurveIdentityPosition, 1e-3f,
                                        true, false, &degree, &knots));
    EXPECT_EQ(knots, 1);
    const float moving[6] = {3, 4, 5, 3, 4, 6};
    EXPECT_FALSE(OrvaneKnotsAreReducible(2, 3, 2, nullptr, moving, OrvaneCurveIdentityPosition,
                                         1e-3f, false, false, &degree, &knots));
    EXPECT_EQ(degree, 2);
    EXPECT_EQ(knots, 2);
    float id, constant;
    OrvaneGetVectorDifferences(3, 2, moving, nullptr, true, false, &id, &constant);
    EXPECT_EQ(id, 1.9140881e38f);
    EXPECT_FLOAT_EQ(constant, 1.0f);
    OrvaneGetVectorDifferences(4, 2, near, OrvaneCurveIdentityOrientation, false, true, &id,
                               &constant);
    EXPECT_NEAR(id, 0.0f, 1e-6f);
}

}  // namespace

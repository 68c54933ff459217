// Vertex layouts: the standard descriptions against their structs, conversion with its
// fix-ups, exact one-norm and weight normalisation, spatial transforms, names and queries,
// single-vertex access and the setters.
#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "mesh/orvane_vertex_layout.h"
#include "orvane/mesh.h"
#include "orvane/mesh_builder.h"
#include "support/log_capture.h"
#include "types/layout_check.h"

namespace {

using orvane_test::LogCapture;

#define ORVANE_EXPECT_VERTEX(Type, Struct, ...) \
    orvane_test::ExpectLayout(#Type, Type, sizeof(Struct), sizeof(Struct), {__VA_ARGS__})
#define F(Struct, field) ORVANE_FIELD(Struct, field)

TEST(VertexLayouts, UnskinnedMatchTheirStructs) {
    ORVANE_EXPECT_VERTEX(OrvaneP3VertexType, orvane_p3_vertex, F(orvane_p3_vertex, Position));
    ORVANE_EXPECT_VERTEX(OrvanePT32VertexType, orvane_pt32_vertex, F(orvane_pt32_vertex, Position),
                         F(orvane_pt32_vertex, TextureCoordinates0));
    ORVANE_EXPECT_VERTEX(OrvanePN33VertexType, orvane_pn33_vertex, F(orvane_pn33_vertex, Position),
                         F(orvane_pn33_vertex, Normal));
    ORVANE_EXPECT_VERTEX(OrvanePNG333VertexType, orvane_png333_vertex,
                         F(orvane_png333_vertex, Position), F(orvane_png333_vertex, Normal),
                         F(orvane_png333_vertex, Tangent));
    ORVANE_EXPECT_VERTEX(OrvanePNGT3332VertexType, orvane_pngt3332_vertex,
                         F(orvane_pngt3332_vertex, Position), F(orvane_pngt3332_vertex, Normal),
                         F(orvane_pngt3332_vertex, Tangent),
                         F(orvane_pngt3332_vertex, TextureCoordinates0));
    ORVANE_EXPECT_VERTEX(OrvanePNT332VertexType, orvane_pnt332_vertex,
                         F(orvane_pnt332_vertex, Position), F(orvane_pnt332_vertex, Normal),
                         F(orvane_pnt332_vertex, TextureCoordinates0));
    ORVANE_EXPECT_VERTEX(OrvanePNGB3333VertexType, orvane_pngb3333_vertex,
                         F(orvane_pngb3333_vertex, Position), F(orvane_pngb3333_vertex, Normal),
                         F(orvane_pngb3333_vertex, Tangent), F(orvane_pngb3333_vertex, Binormal));
    ORVANE_EXPECT_VERTEX(OrvanePNT333VertexType, orvane_pnt333_vertex,
                         F(orvane_pnt333_vertex, Position), F(orvane_pnt333_vertex, Normal),
                         F(orvane_pnt333_vertex, TextureCoordinates0));
    ORVANE_EXPECT_VERTEX(
        OrvanePNGBT33332VertexType, orvane_pngbt33332_vertex, F(orvane_pngbt33332_vertex, Position),
        F(orvane_pngbt33332_vertex, Normal), F(orvane_pngbt33332_vertex, Tangent),
        F(orvane_pngbt33332_vertex, Binormal), F(orvane_pngbt33332_vertex, TextureCoordinates0));
    ORVANE_EXPECT_VERTEX(
        OrvanePNGBT33333VertexType, orvane_pngbt33333_vertex, F(orvane_pngbt33333_vertex, Position),
        F(orvane_pngbt33333_vertex, Normal), F(orvane_pngbt33333_vertex, Tangent),
        F(orvane_pngbt33333_vertex, Binormal), F(orvane_pngbt33333_vertex, TextureCoordinates0));
    ORVANE_EXPECT_VERTEX(OrvaneGBX333VertexType, orvane_gbx333_vertex,
                         F(orvane_gbx333_vertex, Tangent), F(orvane_gbx333_vertex, Binormal),
                         F(orvane_gbx333_vertex, TangentBinormalCross));
    ORVANE_EXPECT_VERTEX(OrvaneVertexWeightArraysType, orvane_vertex_weight_arrays,
                         F(orvane_vertex_weight_arrays, BoneWeights),
                         F(orvane_vertex_weight_arrays, BoneIndices));
}

// One-bone layouts have a single index; two and four bones weights then indices.
#define SKINNED_ONE(Type, S, ...) \
    ORVANE_EXPECT_VERTEX(Type, S, F(S, Position), F(S, BoneIndices), F(S, Normal), ##__VA_ARGS__)
#define SKINNED_N(Type, S, ...)                                                         \
    ORVANE_EXPECT_VERTEX(Type, S, F(S, Position), F(S, BoneWeights), F(S, BoneIndices), \
                         F(S, Normal), ##__VA_ARGS__)

TEST(VertexLayouts, SkinnedMatchTheirStructs) {
    SKINNED_ONE(OrvanePWN313VertexType, orvane_pwn313_vertex);
    SKINNED_N(OrvanePWN323VertexType, orvane_pwn323_vertex);
    SKINNED_N(OrvanePWN343VertexType, orvane_pwn343_vertex);
    SKINNED_ONE(OrvanePWNG3133VertexType, orvane_pwng3133_vertex,
                F(orvane_pwng3133_vertex, Tangent));
    SKINNED_N(OrvanePWNG3233VertexType, orvane_pwng3233_vertex, F(orvane_pwng3233_vertex, Tangent));
    SKINNED_N(OrvanePWNG3433VertexType, orvane_pwng3433_vertex, F(orvane_pwng3433_vertex, Tangent));
    SKINNED_ONE(OrvanePWNGT31332VertexType, orvane_pwngt31332_vertex,
                F(orvane_pwngt31332_vertex, Tangent),
                F(orvane_pwngt31332_vertex, TextureCoordinates0));
    SKINNED_N(OrvanePWNGT32332VertexType, orvane_pwngt32332_vertex,
              F(orvane_pwngt32332_vertex, Tangent),
              F(orvane_pwngt32332_vertex, TextureCoordinates0));
    SKINNED_N(OrvanePWNGT34332VertexType, orvane_pwngt34332_vertex,
              F(orvane_pwngt34332_vertex, Tangent),
              F(orvane_pwngt34332_vertex, TextureCoordinates0));
    SKINNED_ONE(OrvanePWNGB31333VertexType, orvane_pwngb31333_vertex,
                F(orvane_pwngb31333_vertex, Tangent), F(orvane_pwngb31333_vertex, Binormal));
    SKINNED_N(OrvanePWNGB32333VertexType, orvane_pwngb32333_vertex,
              F(orvane_pwngb32333_vertex, Tangent), F(orvane_pwngb32333_vertex, Binormal));
    SKINNED_N(OrvanePWNGB34333VertexType, orvane_pwngb34333_vertex,
              F(orvane_pwngb34333_vertex, Tangent), F(orvane_pwngb34333_vertex, Binormal));
    SKINNED_ONE(OrvanePWNT3132VertexType, orvane_pwnt3132_vertex,
                F(orvane_pwnt3132_vertex, TextureCoordinates0));
    SKINNED_N(OrvanePWNT3232VertexType, orvane_pwnt3232_vertex,
              F(orvane_pwnt3232_vertex, TextureCoordinates0));
    SKINNED_N(OrvanePWNT3432VertexType, orvane_pwnt3432_vertex,
              F(orvane_pwnt3432_vertex, TextureCoordinates0));
    SKINNED_ONE(OrvanePWNGBT313332VertexType, orvane_pwngbt313332_vertex,
                F(orvane_pwngbt313332_vertex, Tangent), F(orvane_pwngbt313332_vertex, Binormal),
                F(orvane_pwngbt313332_vertex, TextureCoordinates0));
    SKINNED_N(OrvanePWNGBT323332VertexType, orvane_pwngbt323332_vertex,
              F(orvane_pwngbt323332_vertex, Tangent), F(orvane_pwngbt323332_vertex, Binormal),
              F(orvane_pwngbt323332_vertex, TextureCoordinates0));
    SKINNED_N(OrvanePWNGBT343332VertexType, orvane_pwngbt343332_vertex,
              F(orvane_pwngbt343332_vertex, Tangent), F(orvane_pwngbt343332_vertex, Binormal),
              F(orvane_pwngbt343332_vertex, TextureCoordinates0));
    // Widths and kinds of the bone data.
    EXPECT_EQ(OrvanePWN313VertexType[1].Type, OrvaneUInt32Member);
    EXPECT_EQ(OrvanePWN343VertexType[1].Type, OrvaneNormalUInt8Member);
    EXPECT_EQ(OrvanePWN343VertexType[1].ArrayWidth, 4);
    EXPECT_EQ(OrvanePWN343VertexType[2].Type, OrvaneUInt8Member);
    EXPECT_EQ(OrvanePWN323VertexType[2].ArrayWidth, 2);
}

// ---- conversion ----

TEST(ConvertVertexLayouts, QuantisedWeightsBecomeRealsOverFullScale) {
    orvane_pwn343_vertex source = {{1, 2, 3}, {255, 128, 0, 51}, {1, 2, 3, 4}, {0, 0, 1}};
    orvane_data_type_definition real[] = {
        {OrvaneReal32Member, "Position", nullptr, 3, {0, 0, 0}, 0},
        {OrvaneReal32Member, "BoneWeights", nullptr, 4, {0, 0, 0}, 0},
        {OrvaneEndMember, nullptr, nullptr, 0, {0, 0, 0}, 0}};
    float dest[7] = {};
    OrvaneConvertVertexLayouts(1, OrvanePWN343VertexType, &source, real, dest);
    EXPECT_FLOAT_EQ(dest[0], 1.0f);
    EXPECT_FLOAT_EQ(dest[3], 1.0f);
    EXPECT_FLOAT_EQ(dest[4], 128.0f / 255.0f);
    EXPECT_FLOAT_EQ(dest[5], 0.0f);
    EXPECT_FLOAT_EQ(dest[6], 51.0f / 255.0f);
}

TEST(ConvertVertexLayouts, QuantisedDirectionsMapToMinusOneToOne) {
    orvane_data_type_definition packed[] = {
        {OrvaneReal32Member, "Position", nullptr, 3, {0, 0, 0}, 0},
        {OrvaneNormalUInt8Member, "Normal", nullptr, 3, {0, 0, 0}, 0},
        {OrvaneUInt8Member, "Pad", nullptr, 1, {0, 0, 0}, 0},
        {OrvaneEndMember, nullptr, nullptr, 0, {0, 0, 0}, 0}};
    struct {
        float p[3];
        uint8_t n[3];
        uint8_t pad;
    } source[2] = {{{1, 2, 3}, {255, 128, 0}, 0}, {{4, 5, 6}, {0, 255, 255}, 0}};
    orvane_pn33_vertex dest[2];
    OrvaneConvertVertexLayouts(2, packed, source, OrvanePN33VertexType, dest);
    EXPECT_FLOAT_EQ(dest[0].Normal[0], 1.0f);
    EXPECT_NEAR(dest[0].Normal[1], 0.0039f, 1e-4f);
    EXPECT_FLOAT_EQ(dest[0].Normal[2], -1.0f);
    EXPECT_FLOAT_EQ(dest[1].Position[2], 6.0f);
    EXPECT_FLOAT_EQ(dest[1].Normal[0], -1.0f);
}

TEST(ConvertVertexLayouts, SixteenBitTextureCoordinatesAreFixedPoint) {
    orvane_data_type_definition packed[] = {
        {OrvaneReal32Member, "Position", nullptr, 3, {0, 0, 0}, 0},
        {OrvaneInt16Member, "TextureCoordinates0", nullptr, 2, {0, 0, 0}, 0},
        {OrvaneEndMember, nullptr, nullptr, 0, {0, 0, 0}, 0}};
    struct {
        float p[3];
        int16_t uv[2];
    } source = {{0, 0, 0}, {4096, 2048}};
    orvane_pt32_vertex dest;
    OrvaneConvertVertexLayouts(1, packed, &source, OrvanePT32VertexType, &dest);
    EXPECT_FLOAT_EQ(dest.TextureCoordinates0[0], 1.0f);
    EXPECT_FLOAT_EQ(dest.TextureCoordinates0[1], 0.5f);
}

TEST(ConvertVertexLayouts, NormalisedByteTextureCoordinatesAreNotScaledTwice) {
    orvane_data_type_definition packed[] = {
        {OrvaneReal32Member, "Position", nullptr, 3, {0, 0, 0}, 0},
        {OrvaneNormalUInt8Member, "TextureCoordinates0", nullptr, 2, {0, 0, 0}, 0},
        {OrvaneUInt16Member, "Pad", nullptr, 1, {0, 0, 0}, 0},
        {OrvaneEndMember, nullptr, nullptr, 0, {0, 0, 0}, 0}};
    struct {
        float p[3];
        uint8_t uv[2];
        uint16_t pad;
    } source = {{0, 0, 0}, {255, 51}, 0};
    orvane_pt32_vertex dest;
    OrvaneConvertVertexLayouts(1, packed, &source, OrvanePT32VertexType, &dest);
    EXPECT_FLOAT_EQ(dest.TextureCoordinates0[0], 1.0f);
    EXPECT_FLOAT_EQ(dest.TextureCoordinates0[1], 0.2f);
}

TEST(ConvertVertexLayouts, FixUpsTouchOnlyConvertedValues) {
    // A 2-wide quantised normal into a 3-wide real one: the third value stays empty (0), not -1.
    orvane_data_type_definition packed[] = {
        {OrvaneReal32Member, "Position", nullptr, 3, {0, 0, 0}, 0},
        {OrvaneNormalUInt8Member, "Normal", nullptr, 2, {0, 0, 0}, 0},
        {OrvaneUInt16Member, "Pad", nullptr, 1, {0, 0, 0}, 0},
        {OrvaneEndMember, nullptr, nullptr, 0, {0, 0, 0}, 0}};
    struct {
        float p[3];
        uint8_t n[2];
        uint16_t pad;
    } source = {{0, 0, 0}, {255, 0}, 0};
    orvane_pn33_vertex dest;
    OrvaneConvertVertexLayouts(1, packed, &source, OrvanePN33VertexType, &dest);
    EXPECT_FLOAT_EQ(dest.Normal[0], 1.0f);
    EXPECT_FLOAT_EQ(dest.Normal[1], -1.0f);
    EXPECT_FLOAT_EQ(dest.Normal[2], 0.0f);
}

TEST(ConvertVertexLayouts, EveryChannelOfAWideLayoutIsFixedUp) {
    // Seventy 16-bit texture coordinate channels: each one is fixed point, the last as much as
    // the first.
    constexpr int kChannels = 70, kVertices = 3;
    std::vector<std::string> names;
    for (int i = 0; i < kChannels; ++i)
        names.push_back("TextureCoordinates" + std::to_string(i));
    std::vector<orvane_data_type_definition> packed, real;
    for (int i = 0; i < kChannels; ++i) {
        packed.push_back({OrvaneInt16Member, names[i].c_str(), nullptr, 2, {0, 0, 0}, 0});
        real.push_back({OrvaneReal32Member, names[i].c_str(), nullptr, 2, {0, 0, 0}, 0});
    }
    packed.push_back({OrvaneEndMember, nullptr, nullptr, 0, {0, 0, 0}, 0});
    real.push_back({OrvaneEndMember, nullptr, nullptr, 0, {0, 0, 0}, 0});
    std::vector<int16_t> source(2 * kChannels * kVertices);
    for (size_t i = 0; i < source.size(); ++i)
        source[i] = static_cast<int16_t>(1024 * (i % 8));
    std::vector<float> dest(source.size(), -7.0f);
    OrvaneConvertVertexLayouts(kVertices, packed.data(), source.data(), real.data(), dest.data());
    for (size_t i = 0; i < dest.size(); ++i)
        ASSERT_EQ(dest[i], 0.25f * static_cast<float>(i % 8)) << "value " << i;
}

// ---- one-norm ----

TEST(EnsureExactOneNorm, SpreadsTheCorrectionOneUnitAtATime) {
    const orvane_data_type_definition w4 = {
        OrvaneNormalUInt8Member, "BoneWeights", nullptr, 4, {0, 0, 0}, 0};
    const orvane_data_type_definition w2 = {
        OrvaneNormalUInt8Member, "BoneWeights", nullptr, 2, {0, 0, 0}, 0};
    uint8_t a[4] = {100, 100, 50, 0};
    OrvaneEnsureExactOneNorm(&w4, a);
    EXPECT_EQ(std::vector<int>(a, a + 4), (std::vector<int>{102, 101, 51, 1}));
    uint8_t b[2] = {200, 100};
    OrvaneEnsureExactOneNorm(&w2, b);
    EXPECT_EQ(std::vector<int>(b, b + 2), (std::vector<int>{178, 77}));
    uint8_t zero[4] = {0, 0, 0, 0};
    OrvaneEnsureExactOneNorm(&w4, zero);
    EXPECT_EQ(std::vector<int>(zero, zero + 4), (std::vector<int>{64, 64, 64, 63}));
}

TEST(EnsureExactOneNorm, OtherKinds) {
    const orvane_data_type_definition w16 = {
        OrvaneNormalUInt16Member, "BoneWeights", nullptr, 2, {0, 0, 0}, 0};
    uint16_t a[2] = {30000, 30000};
    OrvaneEnsureExactOneNorm(&w16, a);
    EXPECT_EQ(a[0] + a[1], 65535);
    EXPECT_EQ(a[0], 32768);
    const orvane_data_type_definition real = {
        OrvaneReal32Member, "BoneWeights", nullptr, 2, {0, 0, 0}, 0};
    float r[2] = {0.25f, 0.25f};
    OrvaneEnsureExactOneNorm(&real, r);
    EXPECT_EQ(r[0], 0.25f);
    // A width of 0 is one value.
    const orvane_data_type_definition one = {
        OrvaneNormalUInt8Member, "BoneWeights", nullptr, 0, {0, 0, 0}, 0};
    uint8_t single[2] = {7, 9};
    OrvaneEnsureExactOneNorm(&one, single);
    EXPECT_EQ(single[0], 255);
    EXPECT_EQ(single[1], 9);

    LogCapture log;
    const orvane_data_type_definition bad = {
        OrvaneInt32Member, "BoneWeights", nullptr, 2, {0, 0, 0}, 0};
    int32_t i[2] = {1, 2};
    OrvaneEnsureExactOneNorm(&bad, i);
    EXPECT_EQ(i[0], 1);
    EXPECT_EQ(log.errors(), 1u);
    EXPECT_TRUE(log.Contains("EnsureExactOneNorm called on unsupported type 19"));
    EXPECT_EQ(log.messages()[0].origin, OrvaneMeshOrigin);
}

TEST(EnsureExactOneNorm, NegativeWidthHasNothingToCorrect) {
    // Such a member describes no storage: the call returns and changes nothing.
    const orvane_data_type_definition negative = {
        OrvaneNormalUInt8Member, "BoneWeights", nullptr, -1, {0, 0, 0}, 0};
    uint8_t untouched[2] = {7, 9};
    OrvaneEnsureExactOneNorm(&negative, untouched);
    EXPECT_EQ(untouched[0], 7);
    EXPECT_EQ(untouched[1], 9);
}

TEST(EnsureExactOneNorm, EveryValueOfAWideSixteenBitMember) {
    // 300 values of 300: the sum 90000 is 24465 above full scale, taken one unit at a time from
    // the last value back: 81 whole passes and 165 values of the next one.
    constexpr int kWidth = 300;
    const orvane_data_type_definition wide = {
        OrvaneNormalUInt16Member, "BoneWeights", nullptr, kWidth, {0, 0, 0}, 0};
    std::vector<uint16_t> values(kWidth, 300);
    OrvaneEnsureExactOneNorm(&wide, values.data());
    int64_t sum = 0;
    for (uint16_t value : values)
        sum += value;
    EXPECT_EQ(sum, 65535);
    EXPECT_EQ(values[0], 300 - 81);
    EXPECT_EQ(values[kWidth - 166], 300 - 81);
    EXPECT_EQ(values[kWidth - 165], 300 - 82);
    EXPECT_EQ(values[kWidth - 1], 300 - 82);
}

TEST(OneNormalizeWeights, ScalesRequantisesAndCorrects) {
    orvane_pwn343_vertex v[3] = {{{0, 0, 0}, {10, 10, 20, 0}, {0, 1, 2, 3}, {0, 0, 1}},
                                 {{0, 0, 0}, {0, 0, 0, 0}, {4, 5, 6, 7}, {0, 0, 1}},
                                 {{0, 0, 0}, {255, 255, 255, 255}, {0, 0, 0, 0}, {0, 0, 1}}};
    OrvaneOneNormalizeWeights(3, OrvanePWN343VertexType, v);
    for (const auto& vertex : v) {
        int sum = 0;
        for (uint8_t w : vertex.BoneWeights)
            sum += w;
        EXPECT_EQ(sum, 255);
    }
    EXPECT_NEAR(v[0].BoneWeights[0], 64, 1);
    EXPECT_NEAR(v[0].BoneWeights[2], 128, 1);
    EXPECT_EQ(v[0].BoneWeights[3], 0);
    EXPECT_EQ(std::vector<int>(v[1].BoneWeights, v[1].BoneWeights + 4),
              (std::vector<int>{64, 64, 64, 63}));
    EXPECT_EQ(v[1].BoneIndices[3], 7);  // indices survive the round trip
    EXPECT_EQ(v[2].BoneWeights[0] + 0, 64);
    // No weights: nothing happens.
    orvane_pn33_vertex rigid = {{1, 2, 3}, {4, 5, 6}};
    OrvaneOneNormalizeWeights(1, OrvanePN33VertexType, &rigid);
    EXPECT_EQ(rigid.Normal[2], 6.0f);
}

// ---- transforms ----

TEST(TransformVertices, ScaleMovesDirectionsAsTheirKindsRequire) {
    orvane_png333_vertex v = {{1, 2, 3}, {0, 0, 1}, {1, 0, 0}};
    const float affine[3] = {10, 20, 30};
    const float scale[9] = {2, 0, 0, 0, 2, 0, 0, 0, 2};
    const float inverse[9] = {0.5f, 0, 0, 0, 0.5f, 0, 0, 0, 0.5f};
    orvane_png333_vertex copy = v;
    OrvaneTransformVertices(1, OrvanePNG333VertexType, &copy, affine, scale, inverse, false);
    EXPECT_FLOAT_EQ(copy.Position[0], 12.0f);
    EXPECT_FLOAT_EQ(copy.Position[2], 36.0f);
    EXPECT_FLOAT_EQ(copy.Tangent[0], 2.0f);
    EXPECT_FLOAT_EQ(copy.Normal[2], 0.5f);
    copy = v;
    OrvaneTransformVertices(1, OrvanePNG333VertexType, &copy, affine, scale, inverse, true);
    EXPECT_FLOAT_EQ(copy.Tangent[0], 1.0f);
    EXPECT_FLOAT_EQ(copy.Normal[2], 1.0f);
}

TEST(TransformVertices, RowAndColumnConventions) {
    // L rotates x to y; normals use the transpose of the inverse (here L itself).
    const float affine[3] = {0, 0, 0};
    const float L[9] = {0, -1, 0, 1, 0, 0, 0, 0, 1};
    const float I[9] = {0, 1, 0, -1, 0, 0, 0, 0, 1};
    orvane_pngb3333_vertex v = {{1, 0, 0}, {1, 0, 0}, {1, 0, 0}, {0, 0, 0}};
    OrvaneTransformVertices(1, OrvanePNGB3333VertexType, &v, affine, L, I, false);
    EXPECT_FLOAT_EQ(v.Position[1], 1.0f);
    EXPECT_FLOAT_EQ(v.Tangent[1], 1.0f);
    EXPECT_FLOAT_EQ(v.Normal[1], 1.0f);
    EXPECT_FLOAT_EQ(v.Binormal[0], 0.0f);
}

TEST(NormalizeVertices, UnitLengthOrZero) {
    orvane_pngb3333_vertex v = {{5, 5, 5}, {0, 3, 4}, {0.000001f, 0, 0}, {0, 0, 2}};
    OrvaneNormalizeVertices(1, OrvanePNGB3333VertexType, &v);
    EXPECT_FLOAT_EQ(v.Position[0], 5.0f);
    EXPECT_FLOAT_EQ(v.Normal[1], 0.6f);
    EXPECT_FLOAT_EQ(v.Normal[2], 0.8f);
    EXPECT_EQ(v.Tangent[0], 0.0f);
    EXPECT_FLOAT_EQ(v.Binormal[2], 1.0f);
}

// ---- names and queries ----

TEST(VertexQueries, NamesAndCounts) {
    char name[ORVANE_MAX_VERTEX_CHANNEL_NAME];
    OrvaneGetVertexTextureCoordinatesName(3, name);
    EXPECT_STREQ(name, "TextureCoordinates3");
    OrvaneGetVertexDiffuseColorName(12, name);
    EXPECT_STREQ(name, "DiffuseColor12");
    OrvaneGetVertexSpecularColorName(0, name);
    EXPECT_STREQ(name, "SpecularColor0");
    EXPECT_TRUE(OrvaneIsSpatialVertexMember("TangentBinormalCross"));
    EXPECT_FALSE(OrvaneIsSpatialVertexMember("normal"));
    EXPECT_FALSE(OrvaneIsSpatialVertexMember("TextureCoordinates0"));
    EXPECT_FALSE(OrvaneIsSpatialVertexMember(nullptr));

    EXPECT_EQ(OrvaneGetVertexBoneCount(OrvanePWN343VertexType), 4);
    EXPECT_EQ(OrvaneGetVertexBoneCount(OrvanePWN323VertexType), 2);
    EXPECT_EQ(OrvaneGetVertexBoneCount(OrvanePWN313VertexType), 1);  // width 0 is one bone
    EXPECT_EQ(OrvaneGetVertexBoneCount(OrvanePN33VertexType), 0);
    EXPECT_EQ(OrvaneGetVertexComponentCount(OrvanePWN343VertexType), 3);
    EXPECT_EQ(OrvaneGetVertexComponentCount(nullptr), 0);
    EXPECT_EQ(OrvaneGetVertexChannelCount(OrvanePNT332VertexType), 1);
    EXPECT_EQ(OrvaneGetVertexChannelCount(OrvanePWNGBT343332VertexType), 1);
    EXPECT_EQ(OrvaneGetVertexComponentIndex("normal", OrvanePN33VertexType), 1);
    EXPECT_EQ(OrvaneGetVertexComponentIndex("Tangent", OrvanePN33VertexType), -1);
}

TEST(VertexQueries, ToolNames) {
    char pos[] = "P", nrm[] = "N";
    char* names[] = {pos, nrm};
    orvane_vertex_data data = {};
    data.VertexType = OrvanePNT332VertexType;
    data.VertexComponentNameCount = 2;
    data.VertexComponentNames = names;
    EXPECT_STREQ(OrvaneGetVertexComponentToolName("Normal", &data), "N");
    EXPECT_EQ(OrvaneGetVertexComponentToolName("TextureCoordinates0", &data), nullptr);
    EXPECT_EQ(OrvaneGetVertexComponentToolName("Missing", &data), nullptr);
}

TEST(SingleVertex, GetConvertsAndChecks) {
    orvane_pn33_vertex vertices[2] = {{{1, 2, 3}, {0, 1, 0}}, {{4, 5, 6}, {0, 0, 1}}};
    orvane_vertex_data data = {};
    data.VertexType = OrvanePN33VertexType;
    data.VertexCount = 2;
    data.Vertices = vertices;
    orvane_p3_vertex p = {{9, 9, 9}};
    OrvaneGetSingleVertex(&data, 1, OrvaneP3VertexType, &p);
    EXPECT_EQ(p.Position[0], 4.0f);

    LogCapture log;
    OrvaneGetSingleVertex(&data, 2, OrvaneP3VertexType, &p);
    EXPECT_EQ(p.Position[0], 0.0f);
    EXPECT_TRUE(log.Contains("VertexIndex 2 is out of range [0, 2)"));
    OrvaneGetSingleVertex(&data, 0, nullptr, &p);
    EXPECT_TRUE(log.Contains("As is not allowed to be 0"));
    OrvaneGetSingleVertex(&data, 0, OrvaneP3VertexType, nullptr);
    EXPECT_TRUE(log.Contains("Dest is not allowed to be 0"));
    EXPECT_EQ(log.errors(), 3u);
    for (const auto& m : log.messages())
        EXPECT_EQ(m.origin, OrvaneVertexLayoutOrigin);
}

TEST(SingleVertex, Setters) {
    orvane_pngbt33333_vertex v = {};
    const float p[3] = {1, 2, 3}, n[3] = {0, 0, 1}, uvw[3] = {0.25f, 0.5f, 0.75f};
    OrvaneSetVertexPosition(OrvanePNGBT33333VertexType, &v, p);
    OrvaneSetVertexNormal(OrvanePNGBT33333VertexType, &v, n);
    OrvaneSetVertexUVW(OrvanePNGBT33333VertexType, &v, 0, uvw);
    EXPECT_EQ(v.Position[2], 3.0f);
    EXPECT_EQ(v.Normal[2], 1.0f);
    EXPECT_EQ(v.TextureCoordinates0[2], 0.75f);
    // Channel 1 does not exist; a 2-wide member takes two of the three values.
    OrvaneSetVertexUVW(OrvanePNGBT33333VertexType, &v, 1, p);
    EXPECT_EQ(v.TextureCoordinates0[0], 0.25f);
    orvane_pt32_vertex t = {};
    OrvaneSetVertexUVW(OrvanePT32VertexType, &t, 0, uvw);
    EXPECT_EQ(t.TextureCoordinates0[1], 0.5f);
    struct {
        float p[3];
        float c[3];
    } colored = {};
    const orvane_data_type_definition type[] = {
        {OrvaneReal32Member, "Position", nullptr, 3, {0, 0, 0}, 0},
        {OrvaneReal32Member, "DiffuseColor2", nullptr, 3, {0, 0, 0}, 0},
        {OrvaneEndMember, nullptr, nullptr, 0, {0, 0, 0}, 0}};
    OrvaneSetVertexColor(type, &colored, 2, n);
    EXPECT_EQ(colored.c[2], 1.0f);
}

TEST(SingleVertex, SettersRunOnSeveralThreadsAtOnce) {
    // The one-member description each setter merges through is per call.
    constexpr int kThreads = 4, kVertices = 2000;
    std::vector<std::vector<orvane_pnt333_vertex>> buffers(
        kThreads, std::vector<orvane_pnt333_vertex>(kVertices));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kVertices; ++i) {
                const float value[3] = {float(t), float(i), 1.0f};
                if (t % 2)
                    OrvaneSetVertexNormal(OrvanePNT333VertexType, &buffers[t][i], value);
                else
                    OrvaneSetVertexUVW(OrvanePNT333VertexType, &buffers[t][i], 0, value);
            }
        });
    for (auto& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kVertices; ++i) {
            const auto& v = buffers[t][i];
            const float* written = t % 2 ? v.Normal : v.TextureCoordinates0;
            const float* other = t % 2 ? v.TextureCoordinates0 : v.Normal;
            ASSERT_EQ(written[0], float(t));
            ASSERT_EQ(written[1], float(i));
            ASSERT_EQ(other[1], 0.0f);
        }
}

TEST(BoneIndexCheck, FindsDamagedIndices) {
    orvane_pwn343_vertex v[2] = {{{0, 0, 0}, {255, 0, 0, 0}, {0, 1, 2, 3}, {0, 0, 1}},
                                 {{0, 0, 0}, {255, 0, 0, 0}, {0, 1, 2, 9}, {0, 0, 1}}};
    EXPECT_TRUE(OrvaneVertexBoneIndicesAreInRange(2, OrvanePWN343VertexType, v, 10));
    LogCapture log;
    // A slot of weight 0 still selects a matrix.
    EXPECT_FALSE(OrvaneVertexBoneIndicesAreInRange(2, OrvanePWN343VertexType, v, 9));
    EXPECT_TRUE(log.Contains("Vertex 1 has bone index 9, out of range [0, 9)"));
    orvane_pwn313_vertex one = {{0, 0, 0}, 0xFFFFFFFFu, {0, 0, 1}};
    EXPECT_FALSE(OrvaneVertexBoneIndicesAreInRange(1, OrvanePWN313VertexType, &one, 4));
    EXPECT_TRUE(OrvaneVertexBoneIndicesAreInRange(1, OrvanePN33VertexType, &one, 0));
    // Deformers match by kinds and widths, so a layout that renames the index member is still
    // read there, and checked there.
    orvane_data_type_definition renamed[5];
    std::memcpy(renamed, OrvanePWN343VertexType, sizeof(renamed));
    renamed[2].Name = "Influences";
    log.Clear();
    EXPECT_FALSE(OrvaneVertexBoneIndicesAreInRange(2, renamed, v, 9));
    EXPECT_TRUE(log.Contains("Vertex 1 has bone index 9"));
    EXPECT_TRUE(OrvaneVertexBoneIndicesAreInRange(2, renamed, v, 10));
}

}  // namespace

// Textures and the texture builder: names and sizes, raw / S3TC / Quib chains built and copied
// back, and textures with hostile sizes, strides and byte counts refused.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "orvane/texture.h"
#include "orvane/texture_builder.h"
#include "support/log_capture.h"
#include "texture_test_support.h"

namespace {

using orvane_test::Image;
using orvane_test::LogCapture;

TEST(Texture, NamesLayoutsAndSizes) {
    EXPECT_STREQ(OrvaneGetTextureTypeName(0), "Color map");
    EXPECT_STREQ(OrvaneGetTextureTypeName(1), "Cube map");
    EXPECT_STREQ(OrvaneGetTextureTypeName(7), "Unknown texture type");
    EXPECT_STREQ(OrvaneGetTextureEncodingName(0), "User-defined texture format");
    EXPECT_STREQ(OrvaneGetTextureEncodingName(1), "Raw texture format");
    EXPECT_STREQ(OrvaneGetTextureEncodingName(2), "S3TC format");
    EXPECT_STREQ(OrvaneGetTextureEncodingName(3), "Quib texture format");
    EXPECT_STREQ(OrvaneGetTextureEncodingName(-1), "Unknown texture format");
    EXPECT_STREQ(OrvaneGetS3TCTextureFormatName(0), "S3TC RGB555 (DXT1)");
    EXPECT_STREQ(OrvaneGetS3TCTextureFormatName(1), "S3TC RGBA5551 (DXT1 with alpha)");
    EXPECT_STREQ(OrvaneGetS3TCTextureFormatName(2), "S3TC RGBA8888, mapped alpha (DXT2/3)");
    EXPECT_STREQ(OrvaneGetS3TCTextureFormatName(3), "S3TC RGBA8888, interpolated alpha (DXT4/5)");
    EXPECT_STREQ(OrvaneGetS3TCTextureFormatName(4), "Unknown S3TC texture format");
    EXPECT_EQ(OrvaneGetS3TCPixelLayout(0), OrvaneBGR565PixelFormat);
    EXPECT_EQ(OrvaneGetS3TCPixelLayout(1), OrvaneBGRA5551PixelFormat);
    EXPECT_EQ(OrvaneGetS3TCPixelLayout(9), OrvaneBGRA8888PixelFormat);
    EXPECT_EQ(OrvaneGetS3TCImageSize(0, 8, 8), 32);
    EXPECT_EQ(OrvaneGetS3TCImageSize(3, 8, 8), 64);
    EXPECT_EQ(OrvaneGetS3TCImageSize(0, 2, 2), 8);  // one padded block
    EXPECT_EQ(OrvaneGetRawImageSize(OrvaneRGB888PixelFormat, 12, 3, 5), 60);
    EXPECT_EQ(OrvaneGetQuibPixelLayout(1), OrvaneRGBA8888PixelFormat);
    EXPECT_EQ(OrvaneGetQuibPixelLayout(0), OrvaneRGB888PixelFormat);
    LogCapture log;
    EXPECT_EQ(OrvaneGetS3TCImageSize(4, 8, 8), 0);
    EXPECT_TRUE(log.Contains("Unrecognized S3TC texture format (4)"));
    EXPECT_EQ(OrvaneGetS3TCImageSize(0, 100000, 100000), 0);
}

// A texture made by the builder, freed at scope end.
struct Built {
    orvane_texture* texture;
    explicit Built(orvane_texture* t) : texture(t) {}
    ~Built() {
        if (texture) OrvaneFreeBuilderResult(texture);
    }
};

TEST(TextureBuilder, RawChainIsConvertedPaddedAndCopiedBack) {
    Image image = orvane_test::RandomImage(3, 5, 21);
    orvane_texture_builder* builder = OrvaneBeginRawTexture(3, 5, OrvaneRGBA8888PixelFormat, 16);
    ASSERT_NE(builder, nullptr);
    OrvaneEncodeImage(builder, 3, 5, 12, 3, image.rgba.data());
    int32_t size = OrvaneGetResultingTextureSize(builder);
    std::vector<uint64_t> memory(size_t(size) / 8 + 1);
    orvane_texture* texture = OrvaneEndTextureInPlace(builder, memory.data());
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->Encoding, OrvaneRawTextureEncoding);
    ASSERT_EQ(texture->ImageCount, 1);
    ASSERT_EQ(texture->Images[0].MIPLevelCount, 3);
    const orvane_texture_mip_level* levels = texture->Images[0].MIPLevels;
    EXPECT_EQ(levels[0].Stride, 16);  // 3 x 4 bytes rounded up to 16
    EXPECT_EQ(levels[0].PixelByteCount, 80);
    EXPECT_EQ(levels[1].Stride, 16);  // 1 x 2
    EXPECT_EQ(levels[1].PixelByteCount, 32);
    EXPECT_EQ(levels[2].PixelByteCount, 0);  // 0 x 1: past the halvings
    std::vector<uint8_t> out(image.rgba.size());
    ASSERT_TRUE(
        OrvaneCopyTextureImage(texture, 0, 0, OrvaneRGBA8888PixelFormat, 3, 5, 12, out.data()));
    EXPECT_EQ(out, image.rgba);
    // Another layout on the way out.
    std::vector<uint8_t> bgr(3 * 5 * 3);
    ASSERT_TRUE(
        OrvaneCopyTextureImage(texture, 0, 0, OrvaneBGR888PixelFormat, 3, 5, 9, bgr.data()));
    EXPECT_EQ(bgr[0], image.rgba[2]);
    EXPECT_EQ(bgr[2], image.rgba[0]);
    // The empty level cannot be copied as the 1 x 1 level a copy expects.
    LogCapture log;
    EXPECT_FALSE(
        OrvaneCopyTextureImage(texture, 0, 2, OrvaneRGBA8888PixelFormat, 1, 1, 4, out.data()));
    EXPECT_EQ(log.errors(), 1u);
}

TEST(TextureBuilder, S3TCChainDecodesEveryLevelInFull) {
    ORVANE_SKIP_WITHOUT_REAL_TEXTURES();
    const auto& textures = orvane_test::RealTextures();
    ASSERT_FALSE(textures.empty());
    Image image = orvane_test::Crop(textures[0], 30, 22);  // not a multiple of 4
    for (int32_t subFormat = 0; subFormat < 4; ++subFormat) {
        orvane_texture_builder* builder = OrvaneBeginS3TCTexture(30, 22, subFormat);
        OrvaneEncodeImage(builder, 30, 22, 30 * 4, 5, image.rgba.data());
        Built built(OrvaneEndTexture(builder));
        ASSERT_NE(built.texture, nullptr);
        const orvane_texture& texture = *built.texture;
        EXPECT_EQ(texture.SubFormat, subFormat);
        ASSERT_EQ(texture.Images[0].MIPLevelCount, 5);
        for (int32_t level = 0; level < 5; ++level) {
            int32_t w = 30 >> level, h = 22 >> level;  // 30x22 ... 1x1
            EXPECT_EQ(texture.Images[0].MIPLevels[level].PixelByteCount,
                      OrvaneGetS3TCImageSize(subFormat, w, h));
            std::vector<uint8_t> out(size_t(w) * h * 4, 0x33);
            ASSERT_TRUE(OrvaneCopyTextureImage(&texture, 0, level, OrvaneRGBA8888PixelFormat, w, h,
                                               w * 4, out.data()));
            if (level == 0) {
                double psnr = orvane_test::Psnr(out.data(), image.rgba.data(), size_t(w) * h, 3);
                EXPECT_GT(psnr, 28.0) << "subformat " << subFormat;
            }
        }
    }
}

TEST(TextureBuilder, BestMatchDecidesOnceAndOpaqueStaysExplicit) {
    Image image = orvane_test::RandomImage(16, 16, 4);
    for (size_t i = 3; i < image.rgba.size(); i += 4)
        image.rgba[i] = 255;
    orvane_texture_builder* builder = OrvaneBeginBestMatchS3TCTexture(16, 16);
    OrvaneEncodeImage(builder, 16, 16, 64, 2, image.rgba.data());
    Built opaque(OrvaneEndTexture(builder));
    ASSERT_NE(opaque.texture, nullptr);
    EXPECT_EQ(opaque.texture->SubFormat, 2);
    EXPECT_EQ(opaque.texture->Images[0].MIPLevels[0].Stride, 64);

    for (int32_t i = 0; i < 256; ++i)
        image.rgba[size_t(i) * 4 + 3] = uint8_t(i);
    builder = OrvaneBeginBestMatchS3TCTexture(16, 16);
    OrvaneEncodeImage(builder, 16, 16, 64, 1, image.rgba.data());
    OrvaneEncodeImage(builder, 16, 16, 64, 1, image.rgba.data());
    Built ramp(OrvaneEndTexture(builder));
    ASSERT_NE(ramp.texture, nullptr);
    EXPECT_EQ(ramp.texture->SubFormat, 3);
    ASSERT_EQ(ramp.texture->ImageCount, 2);
    std::vector<uint8_t> out(image.rgba.size());
    ASSERT_TRUE(OrvaneCopyTextureImage(ramp.texture, 1, 0, OrvaneRGBA8888PixelFormat, 16, 16, 64,
                                       out.data()));
    for (int32_t i = 0; i < 256; ++i)
        EXPECT_NEAR(out[size_t(i) * 4 + 3], i, 4);
}

TEST(TextureBuilder, S3TCBuilderGivenTheBestMatchValueDecidesLikeTheBestMatchBuilder) {
    Image image = orvane_test::RandomImage(8, 8, 12);
    for (int32_t i = 0; i < 64; ++i)
        image.rgba[size_t(i) * 4 + 3] = uint8_t(i * 4);
    orvane_texture_builder* generic = OrvaneBeginS3TCTexture(8, 8, OrvaneS3TCBestMatch);
    ASSERT_NE(generic, nullptr);
    orvane_texture_builder* bestMatch = OrvaneBeginBestMatchS3TCTexture(8, 8);
    ASSERT_NE(bestMatch, nullptr);
    OrvaneEncodeImage(generic, 8, 8, 32, 2, image.rgba.data());
    OrvaneEncodeImage(bestMatch, 8, 8, 32, 2, image.rgba.data());
    Built fromGeneric(OrvaneEndTexture(generic));
    Built fromBestMatch(OrvaneEndTexture(bestMatch));
    ASSERT_NE(fromGeneric.texture, nullptr);
    ASSERT_NE(fromBestMatch.texture, nullptr);
    const orvane_texture& a = *fromGeneric.texture;
    const orvane_texture& b = *fromBestMatch.texture;
    // A ramp of alpha: one of the two 16-byte alpha encodings, the same one either way.
    EXPECT_TRUE(a.SubFormat == 2 || a.SubFormat == 3);
    EXPECT_EQ(a.SubFormat, b.SubFormat);
    EXPECT_TRUE(OrvanePixelLayoutsAreEqual(&a.Layout, OrvaneBGRA8888PixelFormat));
    ASSERT_EQ(a.ImageCount, 1);
    ASSERT_EQ(a.Images[0].MIPLevelCount, 2);
    for (int32_t level = 0; level < 2; ++level) {
        const orvane_texture_mip_level ours = a.Images[0].MIPLevels[level];
        const orvane_texture_mip_level theirs = b.Images[0].MIPLevels[level];
        EXPECT_EQ(ours.Stride, theirs.Stride);
        ASSERT_EQ(ours.PixelByteCount, level == 0 ? 64 : 16);
        ASSERT_EQ(ours.PixelByteCount, theirs.PixelByteCount);
        EXPECT_EQ(0, std::memcmp(ours.Pixels, theirs.Pixels, size_t(ours.PixelByteCount)));
    }
}

TEST(TextureBuilder, QuibChainAndScalingFilterWarning) {
    ORVANE_SKIP_WITHOUT_REAL_TEXTURES();
    Image image = orvane_test::Crop(orvane_test::RealTextures().at(0), 64, 48);
    orvane_texture_builder* builder = OrvaneBeginQuibTexture(64, 48, 8, 0);
    LogCapture log;
    OrvaneSetImageScalingFilter(builder, 1, 2);
    EXPECT_TRUE(
        log.Contains("Image scaler does not currently support different filters for "
                     "upsampling and downsampling"));
    EXPECT_EQ(log.warnings(), 1u);
    OrvaneEncodeImage(builder, 64, 48, 64 * 4, 3, image.rgba.data());
    Built built(OrvaneEndTexture(builder));
    ASSERT_NE(built.texture, nullptr);
    const orvane_texture& texture = *built.texture;
    EXPECT_TRUE(OrvanePixelLayoutsAreEqual(&texture.Layout, OrvaneRGB888PixelFormat));
    EXPECT_FALSE(OrvaneTextureHasAlpha(&texture));
    orvane_pixel_layout recommended;
    EXPECT_TRUE(OrvaneGetRecommendedPixelLayout(&texture, &recommended));
    EXPECT_TRUE(OrvanePixelLayoutsAreEqual(&recommended, OrvaneRGB888PixelFormat));
    EXPECT_LE(texture.Images[0].MIPLevels[0].PixelByteCount,
              OrvaneGetMaximumQuibImageSize(64, 48, 0, 8));
    EXPECT_EQ(texture.Images[0].MIPLevels[0].Stride, 0);
    std::vector<uint8_t> out(size_t(64) * 48 * 4);
    ASSERT_TRUE(
        OrvaneCopyTextureImage(&texture, 0, 0, OrvaneRGBA8888PixelFormat, 64, 48, 256, out.data()));
    EXPECT_GT(orvane_test::Psnr(out.data(), image.rgba.data(), 64 * 48, 3), 24.0);
    // A wrong destination size is refused without writing.
    log.Clear();
    std::vector<uint8_t> untouched(out.size(), 0x11);
    EXPECT_FALSE(OrvaneCopyTextureImage(&texture, 0, 1, OrvaneRGBA8888PixelFormat, 64, 48, 256,
                                        untouched.data()));
    EXPECT_TRUE(log.Contains("Automatic rescaling not supported"));
    for (uint8_t b : untouched)
        ASSERT_EQ(b, 0x11);
}

// A one-level raw texture over caller storage, for damaging field by field.
struct HandMade {
    std::vector<uint8_t> pixels = std::vector<uint8_t>(64, 0x42);
    orvane_texture_mip_level level = {16, 64, nullptr};
    orvane_texture_image image = {1, nullptr};
    orvane_texture texture = {};
    HandMade() {
        level.Pixels = pixels.data();
        image.MIPLevels = &level;
        texture.Width = 4;
        texture.Height = 4;
        texture.Encoding = OrvaneRawTextureEncoding;
        texture.Layout = *OrvaneRGBA8888PixelFormat;
        texture.ImageCount = 1;
        texture.Images = &image;
    }
    bool Copy(int32_t mip = 0, int32_t w = 4, int32_t h = 4) {
        std::vector<uint8_t> out(size_t(w) * h * 4 + 64);
        return OrvaneCopyTextureImage(&texture, 0, mip, OrvaneRGBA8888PixelFormat, w, h, w * 4,
                                      out.data());
    }
};

TEST(Texture, HostileTexturesAreRefused) {
    {
        HandMade t;
        EXPECT_TRUE(t.Copy());
    }
    LogCapture log;
    {
        HandMade t;
        t.level.PixelByteCount = 63;
        EXPECT_FALSE(t.Copy());
    }
    {
        HandMade t;
        t.level.Stride = 8;
        EXPECT_FALSE(t.Copy());
    }
    {
        HandMade t;
        t.level.Stride = -16;
        EXPECT_FALSE(t.Copy());
    }
    {
        HandMade t;
        t.level.Pixels = nullptr;
        EXPECT_FALSE(t.Copy());
    }
    {
        HandMade t;
        t.texture.Layout.BytesPerPixel = 9;
        EXPECT_FALSE(t.Copy());
    }
    {
        HandMade t;
        t.texture.Layout.ShiftForComponent[0] = 33;
        EXPECT_FALSE(t.Copy());
    }
    {
        HandMade t;
        t.texture.Width = 65536;
        t.texture.Height = 65536;
        EXPECT_FALSE(t.Copy());
    }
    {
        HandMade t;
        t.texture.Width = -4;
        EXPECT_FALSE(t.Copy());
    }
    {
        HandMade t;
        t.texture.ImageCount = 2;
        // Forty level records, only the first of which holds pixels.
        std::vector<orvane_texture_mip_level> levels(40, orvane_texture_mip_level{0, 0, nullptr});
        levels[0] = t.level;
        t.image.MIPLevels = levels.data();
        t.image.MIPLevelCount = 40;
        EXPECT_FALSE(t.Copy(1));
        EXPECT_FALSE(t.Copy(39, 1, 1));
    }  // level 1 and 39: no data
    {
        HandMade t;
        t.texture.Images = nullptr;
        EXPECT_FALSE(t.Copy());
    }
    {
        HandMade t;
        EXPECT_FALSE(t.Copy(-1));
        EXPECT_FALSE(t.Copy(1));
    }
    EXPECT_TRUE(log.Contains("MIPIndex -1 is out of range [0, 1)"));
    {
        HandMade t;
        t.texture.Encoding = OrvaneS3TCTextureEncoding;
        t.texture.SubFormat = 7;
        EXPECT_FALSE(t.Copy());
    }
    EXPECT_TRUE(log.Contains("Unrecognized S3 texture format (7)"));
    {
        HandMade t;
        t.texture.Encoding = OrvaneS3TCTextureEncoding;
        t.texture.SubFormat = 3;
        t.level.PixelByteCount = 15;
        EXPECT_FALSE(t.Copy());
    }
    {
        HandMade t;
        t.texture.Encoding = OrvaneQuibTextureEncoding;
        EXPECT_FALSE(t.Copy());
    }
    {
        HandMade t;
        t.texture.Encoding = OrvaneUserTextureEncoding;
        EXPECT_FALSE(t.Copy());
    }
    LogCapture quiet;
    {
        HandMade t;
        EXPECT_FALSE(OrvaneCopyTextureImage(&t.texture, 1, 0, OrvaneRGBA8888PixelFormat, 4, 4, 16,
                                            t.pixels.data()));
    }
    EXPECT_TRUE(quiet.Contains("ImageIndex 1 is out of range [0, 1)"));
}

TEST(TextureBuilder, RefusedArgumentsAddNothing) {
    LogCapture log;
    EXPECT_EQ(OrvaneBeginRawTexture(0, 4, OrvaneRGBA8888PixelFormat, 4), nullptr);
    EXPECT_EQ(OrvaneBeginS3TCTexture(4, 4, 9), nullptr);
    EXPECT_EQ(OrvaneBeginQuibTexture(70000, 70000, 8, 0), nullptr);
    EXPECT_EQ(OrvaneEndTexture(nullptr), nullptr);
    orvane_texture_builder* builder = OrvaneBeginRawTexture(4, 4, OrvaneRGB565PixelFormat, 0);
    ASSERT_NE(builder, nullptr);
    uint8_t pixels[64] = {};
    OrvaneEncodeImage(builder, 4, 4, 16, 0, pixels);
    OrvaneEncodeImage(builder, 4, 4, 16, 33, pixels);
    OrvaneEncodeImage(builder, 4, 4, 8, 1, pixels);
    OrvaneEncodeImage(builder, 4, 4, 16, 1, nullptr);
    Built built(OrvaneEndTexture(builder));
    ASSERT_NE(built.texture, nullptr);
    EXPECT_EQ(built.texture->ImageCount, 0);
    EXPECT_GE(log.errors(), 7u);
}

}  // namespace

// The texture builder's MIP chains level by level: which image each level is made from, with
// which filter, and what the level records hold; the finished block's order.
#include <gtest/gtest.h>

#include <vector>

#include "orvane/texture.h"
#include "orvane/texture_builder.h"
#include "support/log_capture.h"
#include "texture_test_support.h"

namespace {

// A member of a record packed to 4 bytes, by value: the test macros take their arguments by
// reference, which a pointer member at a 4-byte offset may not be bound to.
template <class T>
T Value(T value) {
    return value;
}

using orvane_test::Image;
using orvane_test::LogCapture;

struct Built {
    orvane_texture* texture;
    explicit Built(orvane_texture* t) : texture(t) {}
    ~Built() {
        if (texture) OrvaneFreeBuilderResult(texture);
    }
};

std::vector<uint8_t> Scaled(int32_t filter, const Image& image, int32_t w, int32_t h) {
    std::vector<uint8_t> out(size_t(w) * h * 4);
    OrvaneScaleImage(filter, image.width, image.height, image.width * 4, image.rgba.data(), w, h,
                     w * 4, out.data());
    return out;
}

std::vector<uint8_t> LevelBytes(const orvane_texture& texture, int32_t image, int32_t level) {
    const orvane_texture_mip_level& l = texture.Images[image].MIPLevels[level];
    return std::vector<uint8_t>(l.Pixels, l.Pixels + l.PixelByteCount);
}

// Every level past the first is scaled from the full image, not from the level before it.
TEST(TextureBuilderChain, LevelsAreScaledFromTheFullImage) {
    Image image = orvane_test::RandomImage(16, 8, 77);
    orvane_texture_builder* builder = OrvaneBeginRawTexture(16, 8, OrvaneRGBA8888PixelFormat, 1);
    ASSERT_NE(builder, nullptr);
    OrvaneEncodeImage(builder, 16, 8, 64, 4, image.rgba.data());
    Built built(OrvaneEndTexture(builder));
    ASSERT_NE(built.texture, nullptr);
    const orvane_texture& texture = *built.texture;
    ASSERT_EQ(texture.Images[0].MIPLevelCount, 4);
    EXPECT_EQ(LevelBytes(texture, 0, 0), image.rgba);
    EXPECT_EQ(LevelBytes(texture, 0, 1), Scaled(0, image, 8, 4));
    EXPECT_EQ(LevelBytes(texture, 0, 2), Scaled(0, image, 4, 2));
    EXPECT_EQ(LevelBytes(texture, 0, 3), Scaled(0, image, 2, 1));
    EXPECT_EQ(texture.Images[0].MIPLevels[3].Stride, 8);
}

// An image of another size than the texture is scaled for level 0 too; scaling uses the
// downsampling filter whichever way it goes.
TEST(TextureBuilderChain, ScalingUsesTheDownsamplingFilter) {
    Image image = orvane_test::RandomImage(6, 5, 78);
    orvane_texture_builder* builder = OrvaneBeginRawTexture(12, 10, OrvaneRGBA8888PixelFormat, 1);
    ASSERT_NE(builder, nullptr);
    {
        LogCapture log;
        OrvaneSetImageScalingFilter(builder, 0, 2);
        ASSERT_EQ(log.messages().size(), 1u);
        EXPECT_EQ(log.messages()[0].type, OrvaneWarningMessage);
        EXPECT_EQ(log.messages()[0].origin, OrvaneNotImplementedOrigin);
        EXPECT_EQ(log.messages()[0].text,
                  "Image scaler does not currently support different filters for upsampling and "
                  "downsampling");
    }
    OrvaneEncodeImage(builder, 6, 5, 24, 3, image.rgba.data());
    Built built(OrvaneEndTexture(builder));
    ASSERT_NE(built.texture, nullptr);
    const orvane_texture& texture = *built.texture;
    EXPECT_EQ(LevelBytes(texture, 0, 0), Scaled(2, image, 12, 10));
    EXPECT_EQ(LevelBytes(texture, 0, 1), image.rgba);  // 6 x 5: the image itself
    EXPECT_EQ(LevelBytes(texture, 0, 2), Scaled(2, image, 3, 2));
}

// S3TC level records: the stride is half the level source's stride for the 8-byte blocks and
// the whole stride for the 16-byte ones.
TEST(TextureBuilderChain, S3TCLevelStridesFollowTheSource) {
    Image image = orvane_test::RandomImage(16, 16, 79);
    const int32_t sourceStride = 16 * 4 + 12;  // padded rows
    std::vector<uint8_t> padded(size_t(sourceStride) * 16);
    for (int32_t y = 0; y < 16; ++y)
        std::memcpy(padded.data() + size_t(y) * sourceStride, image.rgba.data() + y * 64, 64);
    for (int32_t subFormat = 0; subFormat < 4; ++subFormat) {
        SCOPED_TRACE(subFormat);
        orvane_texture_builder* builder = OrvaneBeginS3TCTexture(16, 16, subFormat);
        ASSERT_NE(builder, nullptr);
        OrvaneEncodeImage(builder, 16, 16, sourceStride, 2, padded.data());
        Built built(OrvaneEndTexture(builder));
        ASSERT_NE(built.texture, nullptr);
        const orvane_texture_mip_level* levels = built.texture->Images[0].MIPLevels;
        EXPECT_TRUE(OrvanePixelLayoutsAreEqual(&built.texture->Layout,
                                               OrvaneGetS3TCPixelLayout(subFormat)));
        int32_t blockBytes = subFormat < 2 ? 8 : 16;
        EXPECT_EQ(levels[0].Stride, subFormat < 2 ? sourceStride / 2 : sourceStride);
        EXPECT_EQ(levels[0].PixelByteCount, 16 * blockBytes);
        EXPECT_EQ(levels[1].Stride, subFormat < 2 ? 8 * 4 / 2 : 8 * 4);  // scaled: 8 x 4 bytes
        EXPECT_EQ(levels[1].PixelByteCount, 4 * blockBytes);
    }
}

// The finished block: the record, then the images in encoding order with their levels.
TEST(TextureBuilderChain, FinishedTextureKeepsImagesInOrder) {
    Image first = orvane_test::RandomImage(4, 2, 80), second = orvane_test::RandomImage(4, 2, 81);
    orvane_texture_builder* builder = OrvaneBeginRawTexture(4, 2, OrvaneBGR565PixelFormat, 4);
    ASSERT_NE(builder, nullptr);
    OrvaneEncodeImage(builder, 4, 2, 16, 1, first.rgba.data());
    OrvaneEncodeImage(builder, 4, 2, 16, 2, second.rgba.data());
    int32_t size = OrvaneGetResultingTextureSize(builder);
    std::vector<uint64_t> memory(size_t(size) / 8 + 1, 0x5a5a5a5a5a5a5a5aull);
    orvane_texture* texture = OrvaneEndTextureInPlace(builder, memory.data());
    ASSERT_EQ(static_cast<void*>(texture), static_cast<void*>(memory.data()));
    EXPECT_EQ(Value(texture->FromFileName), nullptr);
    EXPECT_EQ(Value(texture->ExtendedData.Type), nullptr);
    EXPECT_EQ(Value(texture->ExtendedData.Object), nullptr);
    EXPECT_EQ(texture->TextureType, OrvaneColorMapTextureType);
    EXPECT_EQ(texture->Width, 4);
    EXPECT_EQ(texture->Height, 2);
    EXPECT_EQ(texture->Encoding, OrvaneRawTextureEncoding);
    EXPECT_TRUE(OrvanePixelLayoutsAreEqual(&texture->Layout, OrvaneBGR565PixelFormat));
    ASSERT_EQ(texture->ImageCount, 2);
    EXPECT_EQ(texture->Images[0].MIPLevelCount, 1);
    EXPECT_EQ(texture->Images[1].MIPLevelCount, 2);
    auto* bytes = reinterpret_cast<const uint8_t*>(memory.data());
    const uint8_t* end = bytes + size;
    EXPECT_GT(reinterpret_cast<const uint8_t*>(texture->Images), bytes);
    EXPECT_GT(reinterpret_cast<const uint8_t*>(texture->Images[0].MIPLevels),
              reinterpret_cast<const uint8_t*>(texture->Images));
    EXPECT_EQ(Value(texture->Images[1].MIPLevels), texture->Images[0].MIPLevels + 1);
    const orvane_texture_mip_level* levels = texture->Images[0].MIPLevels;
    EXPECT_GE(Value(levels[0].Pixels), reinterpret_cast<const uint8_t*>(levels + 3));
    EXPECT_EQ(Value(levels[1].Pixels), levels[0].Pixels + levels[0].PixelByteCount);
    EXPECT_EQ(Value(levels[2].Pixels), levels[1].Pixels + levels[1].PixelByteCount);
    EXPECT_LE(levels[2].Pixels + levels[2].PixelByteCount, end);
    EXPECT_EQ(levels[0].Stride, 8);
    EXPECT_EQ(levels[2].Stride, 4);  // 2 x 2 bytes, already a multiple of 4
    std::vector<uint8_t> expected(16);
    OrvaneConvertPixelFormat(4, 2, OrvaneRGBA8888PixelFormat, 16, second.rgba.data(),
                             OrvaneBGR565PixelFormat, 8, expected.data());
    EXPECT_EQ(std::vector<uint8_t>(levels[1].Pixels, levels[1].Pixels + 16), expected);
    OrvaneConvertPixelFormat(4, 2, OrvaneRGBA8888PixelFormat, 16, first.rgba.data(),
                             OrvaneBGR565PixelFormat, 8, expected.data());
    EXPECT_EQ(std::vector<uint8_t>(levels[0].Pixels, levels[0].Pixels + 16), expected);
}

// Copying checks the image index, then the MIP index, then the size, and a size mismatch is a
// plain warning that writes nothing.
TEST(TextureBuilderChain, CopyReportsIndicesAndSizes) {
    Image image = orvane_test::RandomImage(8, 4, 82);
    orvane_texture_builder* builder = OrvaneBeginRawTexture(8, 4, OrvaneRGB888PixelFormat, 1);
    OrvaneEncodeImage(builder, 8, 4, 32, 4, image.rgba.data());
    Built built(OrvaneEndTexture(builder));
    ASSERT_NE(built.texture, nullptr);
    std::vector<uint8_t> out(256, 0x99);
    LogCapture log;
    EXPECT_FALSE(OrvaneCopyTextureImage(built.texture, 1, 7, OrvaneRGBA8888PixelFormat, 8, 4, 32,
                                        out.data()));
    ASSERT_EQ(log.messages().size(), 1u);
    EXPECT_EQ(log.messages()[0].type, OrvaneErrorMessage);
    EXPECT_EQ(log.messages()[0].origin, OrvaneTextureOrigin);
    EXPECT_NE(log.messages()[0].text.find("): ImageIndex 1 is out of range [0, 1)"),
              std::string::npos);
    log.Clear();
    EXPECT_FALSE(OrvaneCopyTextureImage(built.texture, 0, 4, OrvaneRGBA8888PixelFormat, 8, 4, 32,
                                        out.data()));
    ASSERT_EQ(log.messages().size(), 1u);
    EXPECT_NE(log.messages()[0].text.find("): MIPIndex 4 is out of range [0, 4)"),
              std::string::npos);
    log.Clear();
    EXPECT_FALSE(OrvaneCopyTextureImage(built.texture, 0, 1, OrvaneRGBA8888PixelFormat, 8, 4, 32,
                                        out.data()));
    ASSERT_EQ(log.messages().size(), 1u);
    EXPECT_EQ(log.messages()[0].type, OrvaneWarningMessage);
    EXPECT_EQ(log.messages()[0].origin, OrvaneNotImplementedOrigin);
    EXPECT_EQ(log.messages()[0].text, "Automatic rescaling not supported");
    for (uint8_t b : out)
        ASSERT_EQ(b, 0x99);
    // Level 2 is 2 x 1; level 3 is 1 x 0 in store but copies as 1 x 1 would.
    log.Clear();
    ASSERT_TRUE(OrvaneCopyTextureImage(built.texture, 0, 2, OrvaneRGBA8888PixelFormat, 2, 1, 8,
                                       out.data()));
    std::vector<uint8_t> level = Scaled(0, image, 2, 1);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(out[size_t(i) * 4 + 0], level[size_t(i) * 4 + 0]);
        EXPECT_EQ(out[size_t(i) * 4 + 2], level[size_t(i) * 4 + 2]);
        EXPECT_EQ(out[size_t(i) * 4 + 3], 0);  // RGB888 has no alpha
    }
    EXPECT_TRUE(log.messages().empty());
}

TEST(TextureBuilderChain, RecommendedLayouts) {
    orvane_texture texture = {};
    orvane_pixel_layout layout = {};
    texture.Encoding = OrvaneS3TCTextureEncoding;
    texture.SubFormat = 1;
    texture.Layout = *OrvaneRGB888PixelFormat;
    ASSERT_TRUE(OrvaneGetRecommendedPixelLayout(&texture, &layout));
    EXPECT_TRUE(OrvanePixelLayoutsAreEqual(&layout, OrvaneBGRA5551PixelFormat));
    texture.Encoding = OrvaneRawTextureEncoding;
    ASSERT_TRUE(OrvaneGetRecommendedPixelLayout(&texture, &layout));
    EXPECT_TRUE(OrvanePixelLayoutsAreEqual(&layout, OrvaneRGB888PixelFormat));
    texture.Encoding = OrvaneQuibTextureEncoding;
    texture.Layout = *OrvaneRGBA8888PixelFormat;
    ASSERT_TRUE(OrvaneGetRecommendedPixelLayout(&texture, &layout));
    EXPECT_TRUE(OrvanePixelLayoutsAreEqual(&layout, OrvaneRGBA8888PixelFormat));
    EXPECT_TRUE(OrvaneTextureHasAlpha(&texture));
    texture.Encoding = OrvaneUserTextureEncoding;
    EXPECT_FALSE(OrvaneGetRecommendedPixelLayout(&texture, &layout));
    texture.Encoding = 9;
    EXPECT_FALSE(OrvaneGetRecommendedPixelLayout(&texture, &layout));
}

// The Quib builder's layout follows the alpha flag and the flags become the subformat.
TEST(TextureBuilderChain, QuibBuilderTakesItsLayoutFromTheFlags) {
    Image image = orvane_test::RandomImage(8, 8, 83);
    orvane_texture_builder* builder = OrvaneBeginQuibTexture(8, 8, 2, 1);
    ASSERT_NE(builder, nullptr);
    OrvaneEncodeImage(builder, 8, 8, 32, 1, image.rgba.data());
    Built built(OrvaneEndTexture(builder));
    ASSERT_NE(built.texture, nullptr);
    EXPECT_EQ(built.texture->Encoding, OrvaneQuibTextureEncoding);
    EXPECT_EQ(built.texture->SubFormat, 1);
    EXPECT_TRUE(OrvanePixelLayoutsAreEqual(&built.texture->Layout, OrvaneRGBA8888PixelFormat));
    EXPECT_EQ(built.texture->Images[0].MIPLevels[0].Stride, 0);
    EXPECT_GT(built.texture->Images[0].MIPLevels[0].PixelByteCount, 0);
    EXPECT_LE(built.texture->Images[0].MIPLevels[0].PixelByteCount,
              OrvaneGetMaximumQuibImageSize(8, 8, 1, 2));
}

// Levels past the last halving of one side have no pixels, but their records still describe
// rows of the level's width: the raw stride is padded as for any level, and an S3TC level's
// stride follows its (empty) scaled source.
TEST(TextureBuilderChain, EmptyLevelsKeepTheirRowStrides) {
    Image image = orvane_test::RandomImage(8, 2, 84);
    orvane_texture_builder* raw = OrvaneBeginRawTexture(8, 2, OrvaneRGB888PixelFormat, 16);
    ASSERT_NE(raw, nullptr);
    OrvaneEncodeImage(raw, 8, 2, 32, 4, image.rgba.data());
    Built rawBuilt(OrvaneEndTexture(raw));
    ASSERT_NE(rawBuilt.texture, nullptr);
    const orvane_texture_mip_level* levels = rawBuilt.texture->Images[0].MIPLevels;
    ASSERT_EQ(rawBuilt.texture->Images[0].MIPLevelCount, 4);
    EXPECT_EQ(levels[0].Stride, 32);  // 8 x 3 bytes padded to 16
    EXPECT_EQ(levels[1].Stride, 16);  // 4 x 1: 12 bytes padded
    EXPECT_EQ(levels[2].Stride, 16);  // 2 x 0: 6 bytes padded, no rows
    EXPECT_EQ(levels[2].PixelByteCount, 0);
    EXPECT_EQ(levels[3].Stride, 16);  // 1 x 0
    EXPECT_EQ(levels[3].PixelByteCount, 0);

    for (int32_t subFormat : {0, 3}) {
        SCOPED_TRACE(subFormat);
        orvane_texture_builder* s3tc = OrvaneBeginS3TCTexture(8, 2, subFormat);
        ASSERT_NE(s3tc, nullptr);
        OrvaneEncodeImage(s3tc, 8, 2, 32, 3, image.rgba.data());
        Built built(OrvaneEndTexture(s3tc));
        ASSERT_NE(built.texture, nullptr);
        const orvane_texture_mip_level* l = built.texture->Images[0].MIPLevels;
        EXPECT_EQ(l[0].Stride, subFormat == 0 ? 16 : 32);  // the caller's image
        EXPECT_EQ(l[1].Stride, subFormat == 0 ? 8 : 16);   // scaled to 4 x 1
        EXPECT_EQ(l[2].Stride, subFormat == 0 ? 4 : 8);    // 2 x 0
        EXPECT_EQ(l[2].PixelByteCount, 0);
    }
}

}  // namespace

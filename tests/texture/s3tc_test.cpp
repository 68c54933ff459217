// S3TC against libsquish: block decoding equal on random blocks of every subformat, encoding
// error on the real textures within 1.1 x libsquish's cluster fit, and whole images of any
// size (partial edge blocks, levels below 4 x 4) encoded and decoded in full.
#include <gtest/gtest.h>

#include <squish.h>

#include <cmath>
#include <random>
#include <vector>

#include "orvane/texture.h"
#include "texture/offline/orvane_s3tc_encoder.h"
#include "texture_test_support.h"

namespace {

using orvane_test::Image;

void RandomBlock(std::mt19937& rng, uint8_t* block, int bytes) {
    for (int i = 0; i < bytes; ++i)
        block[i] = uint8_t(rng());
}

TEST(S3TC, DecodersEqualLibsquishOnRandomBlocks) {
    std::mt19937 rng(11);
    for (int trial = 0; trial < 20000; ++trial) {
        uint8_t block[16], ours[64], theirs[64];
        RandomBlock(rng, block, 16);
        if (trial % 4 == 0) {  // equal end points and both orders occur often enough
            block[2] = block[0];
            block[3] = block[1];
        }
        // DXT1 with the transparent colour: all four bytes of every pixel agree.
        orvane::DecodeDXT1Block(block, true, ours);
        squish::Decompress(theirs, block, squish::kDxt1);
        ASSERT_EQ(0, std::memcmp(ours, theirs, 64)) << "DXT1a trial " << trial;
        // DXT1 without alpha: colours agree, alpha is opaque.
        orvane::DecodeDXT1Block(block, false, ours);
        for (int p = 0; p < 16; ++p) {
            ASSERT_EQ(0, std::memcmp(ours + p * 4, theirs + p * 4, 3)) << "DXT1 trial " << trial;
            ASSERT_EQ(ours[p * 4 + 3], 255);
        }
        orvane::DecodeDXT3Block(block, ours);
        squish::Decompress(theirs, block, squish::kDxt3);
        ASSERT_EQ(0, std::memcmp(ours, theirs, 64)) << "DXT3 trial " << trial;
        orvane::DecodeDXT5Block(block, ours);
        squish::Decompress(theirs, block, squish::kDxt5);
        ASSERT_EQ(0, std::memcmp(ours, theirs, 64)) << "DXT5 trial " << trial;
    }
}

// The public path: a hand-made S3TC texture of random blocks copied out as RGBA8888.
TEST(S3TC, CopiedTexturesEqualLibsquish) {
    std::mt19937 rng(5);
    const int32_t width = 12, height = 8;
    for (int32_t subFormat = 1; subFormat < 4; ++subFormat) {
        int32_t bytes = OrvaneGetS3TCImageSize(subFormat, width, height);
        std::vector<uint8_t> blocks(static_cast<size_t>(bytes));
        RandomBlock(rng, blocks.data(), bytes);
        orvane_texture_mip_level level = {width * 4, bytes, blocks.data()};
        orvane_texture_image image = {1, &level};
        orvane_texture texture = {};
        texture.Width = width;
        texture.Height = height;
        texture.Encoding = OrvaneS3TCTextureEncoding;
        texture.SubFormat = subFormat;
        texture.Layout = *OrvaneGetS3TCPixelLayout(subFormat);
        texture.ImageCount = 1;
        texture.Images = &image;
        std::vector<uint8_t> ours(size_t(width) * height * 4), theirs(ours.size());
        ASSERT_TRUE(OrvaneCopyTextureImage(&texture, 0, 0, OrvaneRGBA8888PixelFormat, width, height,
                                           width * 4, ours.data()));
        int flags = subFormat == 1 ? squish::kDxt1 : subFormat == 2 ? squish::kDxt3 : squish::kDxt5;
        squish::DecompressImage(theirs.data(), width, height, blocks.data(), flags);
        // Decoding goes through BGRA8888 at full precision, whatever the recommended layout.
        EXPECT_EQ(ours, theirs) << "subformat " << subFormat;
    }
}

double Rmse(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int channels) {
    double sum = 0;
    size_t n = 0;
    for (size_t i = 0; i < a.size(); i += 4)
        for (int c = 0; c < channels; ++c, ++n) {
            double d = double(a[i + c]) - b[i + c];
            sum += d * d;
        }
    return std::sqrt(sum / double(n));
}

std::vector<uint8_t> ToRgba(const std::vector<uint8_t>& bgra) {
    std::vector<uint8_t> rgba(bgra);
    for (size_t i = 0; i < rgba.size(); i += 4)
        std::swap(rgba[i], rgba[i + 2]);
    return rgba;
}

TEST(S3TC, EncoderErrorWithinLibsquishOnRealTextures) {
    ORVANE_SKIP_WITHOUT_REAL_TEXTURES();
    const auto& textures = orvane_test::RealTextures();
    ASSERT_GE(textures.size(), 2u);
    for (const auto& full : textures) {
        Image image = orvane_test::Crop(full, 256, 256);
        for (int32_t subFormat = 0; subFormat < 4; ++subFormat) {
            SCOPED_TRACE(image.name + " subformat " + std::to_string(subFormat));
            int32_t bytes = OrvaneGetS3TCImageSize(subFormat, image.width, image.height);
            std::vector<uint8_t> blocks(static_cast<size_t>(bytes)), decoded(image.rgba.size());
            orvane::EncodeS3TCImage(subFormat, image.width, image.height, image.width * 4,
                                    image.rgba.data(), blocks.data());
            orvane::DecodeS3TCImage(subFormat, image.width, image.height, blocks.data(),
                                    image.width * 4, decoded.data());
            int channels = subFormat == 0 ? 3 : 4;
            double ours = Rmse(ToRgba(decoded), image.rgba, channels);

            int flags = (subFormat < 2    ? squish::kDxt1
                         : subFormat == 2 ? squish::kDxt3
                                          : squish::kDxt5) |
                        squish::kColourClusterFit;
            std::vector<uint8_t> theirBlocks(static_cast<size_t>(bytes)), theirs(image.rgba.size());
            squish::CompressImage(image.rgba.data(), image.width, image.height, theirBlocks.data(),
                                  flags);
            squish::DecompressImage(theirs.data(), image.width, image.height, theirBlocks.data(),
                                    flags);
            double reference = Rmse(theirs, image.rgba, channels);
            RecordProperty(image.name + " sub" + std::to_string(subFormat),
                           std::to_string(ours) + " vs " + std::to_string(reference));
            std::printf("  %s subformat %d: RMSE %.3f, libsquish %.3f (%.3fx)\n",
                        image.name.c_str(), subFormat, ours, reference, ours / reference);
            EXPECT_LE(ours, 1.1 * reference);
        }
    }
}

TEST(S3TC, EveryPixelOfAnyImageSizeIsEncoded) {
    // A smooth image whose every pixel differs: a pixel left out of encoding would decode far
    // from its source.
    for (int32_t width : {1, 2, 3, 5, 6, 9}) {
        for (int32_t height : {1, 2, 4, 7}) {
            Image image;
            image.width = width;
            image.height = height;
            image.rgba.resize(size_t(width) * height * 4);
            for (int32_t y = 0; y < height; ++y)
                for (int32_t x = 0; x < width; ++x) {
                    uint8_t* p = &image.rgba[(size_t(y) * width + x) * 4];
                    // Colours on one line (what a block can hold), distinct per pixel.
                    int32_t t = x * 5 + y * 3;
                    p[0] = uint8_t(40 + 4 * t);
                    p[1] = uint8_t(200 - 3 * t);
                    p[2] = uint8_t(90 + 2 * t);
                    p[3] = uint8_t(255 - 5 * t);
                }
            for (int32_t subFormat = 0; subFormat < 4; ++subFormat) {
                int32_t bytes = OrvaneGetS3TCImageSize(subFormat, width, height);
                ASSERT_EQ(bytes, ((width + 3) / 4) * ((height + 3) / 4) * (subFormat < 2 ? 8 : 16));
                std::vector<uint8_t> blocks(static_cast<size_t>(bytes));
                std::vector<uint8_t> decoded(image.rgba.size(), 0);
                orvane::EncodeS3TCImage(subFormat, width, height, width * 4, image.rgba.data(),
                                        blocks.data());
                orvane::DecodeS3TCImage(subFormat, width, height, blocks.data(), width * 4,
                                        decoded.data());
                std::vector<uint8_t> rgba = ToRgba(decoded);
                for (size_t i = 0; i < rgba.size(); ++i) {
                    bool transparent = subFormat == 1 && image.rgba[i | 3] < 128;
                    if (transparent) {
                        ASSERT_EQ(rgba[i], 0);  // the transparent colour is black, alpha 0
                        continue;
                    }
                    if (i % 4 == 3 && subFormat < 2) continue;
                    ASSERT_NEAR(rgba[i], image.rgba[i], 24)
                        << width << "x" << height << " subformat " << subFormat << " byte " << i;
                }
            }
        }
    }
}

TEST(S3TC, BestAlphaPicksTheSmallerError) {
    Image opaque = orvane_test::RandomImage(8, 8, 1);
    for (size_t i = 3; i < opaque.rgba.size(); i += 4)
        opaque.rgba[i] = 255;
    std::vector<uint8_t> blocks(4 * 16);
    EXPECT_EQ(orvane::EncodeS3TCImageBestAlpha(8, 8, 32, opaque.rgba.data(), blocks.data()), 2);
    // Smooth alpha ramps are what interpolated alpha is for.
    Image ramp = opaque;
    for (int32_t i = 0; i < 64; ++i)
        ramp.rgba[size_t(i) * 4 + 3] = uint8_t(100 + i);
    EXPECT_EQ(orvane::EncodeS3TCImageBestAlpha(8, 8, 32, ramp.rgba.data(), blocks.data()), 3);
    std::vector<uint8_t> decoded(ramp.rgba.size());
    orvane::DecodeS3TCImage(3, 8, 8, blocks.data(), 32, decoded.data());
    for (int32_t i = 0; i < 64; ++i)
        EXPECT_NEAR(decoded[size_t(i) * 4 + 3], 100 + i, 2);
}

}  // namespace

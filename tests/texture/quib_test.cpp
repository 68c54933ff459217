// The Quib wavelet codec: it decodes what it encodes, keeps within its maximum size and the
// requested ratio, reaches useful PSNR on the real textures, and refuses damaged streams.
#include <gtest/gtest.h>

#include <vector>

#include "orvane/texture.h"
#include "orvane/texture_builder.h"
#include "support/log_capture.h"
#include "texture_test_support.h"

namespace {

using orvane_test::Image;

struct Coded {
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> decoded;
    double psnr = 0;
};

Coded RoundTrip(const Image& image, int32_t ratio, int32_t flags) {
    Coded coded;
    int32_t maximum = OrvaneGetMaximumQuibImageSize(image.width, image.height, flags, ratio);
    coded.bytes.resize(size_t(maximum));
    int32_t written =
        OrvaneQuibCompressTexture(image.width, image.height, image.width * 4, image.rgba.data(),
                                  flags, ratio, coded.bytes.data());
    EXPECT_GT(written, 0);
    EXPECT_LE(written, maximum);
    coded.bytes.resize(size_t(written));
    coded.decoded.resize(image.rgba.size());
    EXPECT_TRUE(OrvaneQuibDecompressTexture(image.width, image.height, flags, written,
                                            coded.bytes.data(), OrvaneRGBA8888PixelFormat,
                                            image.width * 4, coded.decoded.data()));
    coded.psnr = orvane_test::Psnr(coded.decoded.data(), image.rgba.data(),
                                   size_t(image.width) * image.height, (flags & 1) ? 4 : 3);
    return coded;
}

TEST(Quib, RealTexturesAtEightAndSixteenToOne) {
    ORVANE_SKIP_WITHOUT_REAL_TEXTURES();
    const auto& textures = orvane_test::RealTextures();
    ASSERT_GE(textures.size(), 2u);
    for (const auto& texture : textures) {
        Image image = orvane_test::Crop(texture, 512, 512);
        Coded eight = RoundTrip(image, 8, 0), sixteen = RoundTrip(image, 16, 0);
        size_t raw = size_t(image.width) * image.height * 3;
        std::printf("  %s %dx%d: 8:1 %zu bytes PSNR %.2f dB, 16:1 %zu bytes PSNR %.2f dB\n",
                    image.name.c_str(), image.width, image.height, eight.bytes.size(), eight.psnr,
                    sixteen.bytes.size(), sixteen.psnr);
        EXPECT_LE(eight.bytes.size(), raw / 8);
        EXPECT_LE(sixteen.bytes.size(), raw / 16);
        EXPECT_GT(eight.psnr, 30.0) << image.name;
        EXPECT_GT(sixteen.psnr, 27.0) << image.name;
        EXPECT_GT(eight.psnr, sixteen.psnr);
    }
}

TEST(Quib, RatioOneIsNearLosslessAndAlphaIsCoded) {
    ORVANE_SKIP_WITHOUT_REAL_TEXTURES();
    Image image = orvane_test::Crop(orvane_test::RealTextures().at(0), 96, 80);
    for (size_t i = 0; i < image.rgba.size(); i += 4)
        image.rgba[i + 3] = uint8_t(i / 37);
    Coded coded = RoundTrip(image, 1, 1);
    EXPECT_GT(coded.psnr, 48.0);
    Coded opaque = RoundTrip(image, 4, 0);
    for (size_t i = 3; i < opaque.decoded.size(); i += 4)
        ASSERT_EQ(opaque.decoded[i], 255);
}

TEST(Quib, OddAndTinySizesRoundTrip) {
    for (auto [w, h] : {std::pair{1, 1}, {2, 3}, {7, 5}, {17, 33}, {100, 3}, {33, 65}}) {
        Image image = orvane_test::RandomImage(w, h, uint32_t(w * 100 + h));
        Coded coded = RoundTrip(image, 1, 1);
        EXPECT_GT(coded.psnr, 40.0) << w << "x" << h;
        RoundTrip(image, 30, 0);  // decodes; the quality of noise at 30:1 is not the point
    }
}

TEST(Quib, SinglePixelsOfEveryGreyRoundTrip) {
    // One coefficient per channel in the lowest planes: the fewest visits a stream can have.
    for (int grey = 120; grey <= 136; ++grey) {
        Image image;
        image.width = image.height = 1;
        image.rgba = {uint8_t(grey), uint8_t(grey), uint8_t(grey), uint8_t(grey)};
        for (int32_t flags : {0, 1}) {
            Coded coded = RoundTrip(image, 1, flags);
            for (int c = 0; c < (flags ? 4 : 3); ++c)
                EXPECT_NEAR(coded.decoded[c], grey, 1);
        }
    }
}

TEST(Quib, DamagedStreamsAreRefusedOrStayInBounds) {
    ORVANE_SKIP_WITHOUT_REAL_TEXTURES();
    Image image = orvane_test::Crop(orvane_test::RealTextures().at(0), 64, 64);
    Coded coded = RoundTrip(image, 8, 0);
    std::vector<uint8_t> out(image.rgba.size());
    orvane_test::LogCapture log;
    // Wrong size, wrong flags, a cut header, a bad magic.
    EXPECT_FALSE(OrvaneQuibDecompressTexture(64, 32, 0, int32_t(coded.bytes.size()),
                                             coded.bytes.data(), OrvaneRGBA8888PixelFormat, 256,
                                             out.data()));
    EXPECT_FALSE(OrvaneQuibDecompressTexture(64, 64, 1, int32_t(coded.bytes.size()),
                                             coded.bytes.data(), OrvaneRGBA8888PixelFormat, 256,
                                             out.data()));
    EXPECT_FALSE(OrvaneQuibDecompressTexture(64, 64, 0, 10, coded.bytes.data(),
                                             OrvaneRGBA8888PixelFormat, 256, out.data()));
    std::vector<uint8_t> bad = coded.bytes;
    bad[0] = 'X';
    EXPECT_FALSE(OrvaneQuibDecompressTexture(64, 64, 0, int32_t(bad.size()), bad.data(),
                                             OrvaneRGBA8888PixelFormat, 256, out.data()));
    bad = coded.bytes;
    bad[14] = 0xff;  // an impossible number of coded coefficients
    bad[15] = 0xff;
    bad[16] = 0xff;
    bad[17] = 0x7f;
    EXPECT_FALSE(OrvaneQuibDecompressTexture(64, 64, 0, int32_t(bad.size()), bad.data(),
                                             OrvaneRGBA8888PixelFormat, 256, out.data()));
    EXPECT_EQ(log.errors(), 5u);
    // Cut or scrambled coder bytes decode to some image without reading past the data (ASan).
    std::mt19937 rng(3);
    for (int trial = 0; trial < 20; ++trial) {
        bad = coded.bytes;
        for (size_t i = 40; i < bad.size(); i += 1 + rng() % 7)
            bad[i] = uint8_t(rng());
        std::vector<uint8_t> cut(bad.begin(), bad.begin() + 40 + rng() % (bad.size() - 40));
        OrvaneQuibDecompressTexture(64, 64, 0, int32_t(cut.size()), cut.data(),
                                    OrvaneRGBA8888PixelFormat, 256, out.data());
    }
}

}  // namespace

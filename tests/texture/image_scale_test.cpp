// Image scaling against stb_image_resize, for the filters both define alike (the tent and the
// Mitchell-Netravali cubic; stb's box is a scale-dependent trapezoid). stb maps pixel centres
// with a scale and a shift; the library maps index i to i / scale with scale = (m - 1) /
// (n - 1), which stb reproduces with shift 0.5 scale - 0.5. Edges are mirrored differently,
// so only pixels whose taps stay inside the image are compared.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "orvane/texture.h"
#include "stb_image_resize.h"
#include "support/log_capture.h"
#include "texture_test_support.h"

namespace {

double Scale(int32_t n, int32_t m) {
    return (n == 1 || m == 1) ? double(m) / n : double(m - 1) / double(n - 1);
}

// Destination indices whose taps lie within [0, n).
bool Interior(int32_t i, int32_t n, int32_t m, double radius) {
    double scale = Scale(n, m);
    double x = i / scale;
    double h = scale < 1 ? radius / scale : radius;
    return std::floor(x - h) >= 0 && std::ceil(x + h) <= n - 1;
}

struct Comparison {
    int compared = 0;
    int maxDifference = 0;
};

Comparison CompareWithStb(const orvane_test::Image& image, int32_t filter, int32_t m, int32_t mh) {
    std::vector<uint8_t> ours(size_t(m) * mh * 4), theirs(size_t(m) * mh * 4);
    OrvaneScaleImage(filter, image.width, image.height, image.width * 4, image.rgba.data(), m, mh,
                     m * 4, ours.data());
    float sx = float(Scale(image.width, m)), sy = float(Scale(image.height, mh));
    stbir_filter stbFilter = filter == 0 ? STBIR_FILTER_MITCHELL : STBIR_FILTER_TRIANGLE;
    int ok = stbir_resize_subpixel(image.rgba.data(), image.width, image.height, image.width * 4,
                                   theirs.data(), m, mh, m * 4, STBIR_TYPE_UINT8, 4,
                                   STBIR_ALPHA_CHANNEL_NONE, 0, STBIR_EDGE_CLAMP, STBIR_EDGE_CLAMP,
                                   stbFilter, stbFilter, STBIR_COLORSPACE_LINEAR, nullptr, sx, sy,
                                   0.5f * sx - 0.5f, 0.5f * sy - 0.5f);
    EXPECT_TRUE(ok);
    double radius = filter == 0 ? 2.0 : 1.0;
    Comparison result;
    for (int32_t y = 0; y < mh; ++y) {
        if (!Interior(y, image.height, mh, radius)) continue;
        for (int32_t x = 0; x < m; ++x) {
            if (!Interior(x, image.width, m, radius)) continue;
            for (int c = 0; c < 4; ++c) {
                size_t i = (size_t(y) * m + x) * 4 + c;
                int d = std::abs(int(ours[i]) - int(theirs[i]));
                result.maxDifference = d > result.maxDifference ? d : result.maxDifference;
            }
            ++result.compared;
        }
    }
    return result;
}

TEST(ImageScale, MatchesStbOnRandomImages) {
    const int32_t sizes[][4] = {
        {64, 48, 33, 20}, {40, 40, 97, 61}, {31, 17, 16, 9}, {20, 30, 20, 30}, {128, 16, 37, 50}};
    uint32_t seed = 1;
    for (const auto& s : sizes) {
        orvane_test::Image image = orvane_test::RandomImage(s[0], s[1], seed++);
        for (int32_t filter = 0; filter < 2; ++filter) {
            SCOPED_TRACE(testing::Message() << s[0] << "x" << s[1] << " -> " << s[2] << "x" << s[3]
                                            << " filter " << filter);
            Comparison c = CompareWithStb(image, filter, s[2], s[3]);
            EXPECT_GT(c.compared, 0);
            EXPECT_LE(c.maxDifference, 1);
        }
    }
}

TEST(ImageScale, MatchesStbOnRealTextures) {
    ORVANE_SKIP_WITHOUT_REAL_TEXTURES();
    const auto& textures = orvane_test::RealTextures();
    ASSERT_GE(textures.size(), 2u) << "textures of the shared glTF assets";
    for (const auto& texture : textures) {
        orvane_test::Image image = orvane_test::Crop(texture, 256, 256);
        for (int32_t filter = 0; filter < 2; ++filter) {
            SCOPED_TRACE(texture.name);
            Comparison half = CompareWithStb(image, filter, image.width / 2, image.height / 2);
            EXPECT_LE(half.maxDifference, 1);
            Comparison up =
                CompareWithStb(image, filter, image.width * 3 / 2 + 1, image.height + 7);
            EXPECT_LE(up.maxDifference, 1);
        }
    }
}

TEST(ImageScale, BoxAtSameSizeCopiesAndSmallCases) {
    orvane_test::Image image = orvane_test::RandomImage(13, 7, 9);
    std::vector<uint8_t> out(image.rgba.size());
    for (int32_t filter = 0; filter < 3; ++filter) {
        OrvaneScaleImage(filter, 13, 7, 13 * 4, image.rgba.data(), 13, 7, 13 * 4, out.data());
        // At equal sizes every filter is centred on its own pixel; the cubic still blurs.
        if (filter != 0) {
            EXPECT_EQ(out, image.rgba) << "filter " << filter;
        }
    }
    // 1 x 1 up: scale m / n, a flat image.
    const uint8_t one[4] = {10, 20, 30, 40};
    std::vector<uint8_t> up(5 * 3 * 4);
    OrvaneScaleImage(1, 1, 1, 4, one, 5, 3, 20, up.data());
    for (size_t i = 0; i < up.size(); ++i)
        EXPECT_EQ(up[i], one[i % 4]);
    // 2 -> 1 with the box: scale 1/2, centre 0, half-width 1: taps -1 (mirrored to 1) and 0
    // weigh 1/2 each, tap 1 sits on the box's open edge.
    const uint8_t two[8] = {0, 100, 200, 255, 100, 0, 0, 255};
    uint8_t down[4];
    OrvaneScaleImage(2, 2, 1, 8, two, 1, 1, 4, down);
    EXPECT_EQ(down[0], 50);
    EXPECT_EQ(down[3], 255);
}

TEST(ImageScale, RefusesBadArguments) {
    orvane_test::LogCapture log;
    uint8_t pixels[64] = {};
    uint8_t out[64];
    std::memset(out, 0x77, sizeof out);
    OrvaneScaleImage(3, 2, 2, 8, pixels, 2, 2, 8, out);
    OrvaneScaleImage(-1, 2, 2, 8, pixels, 2, 2, 8, out);
    EXPECT_TRUE(log.Contains("Invalid pixel filter specified (-1)"));
    OrvaneScaleImage(0, 0, 2, 8, pixels, 2, 2, 8, out);  // empty source
    OrvaneScaleImage(0, 4, 2, 8, pixels, 2, 2, 8, out);  // short stride
    EXPECT_EQ(log.errors(), 4u);
    for (uint8_t b : out)
        EXPECT_EQ(b, 0x77);
}

}  // namespace

// Pixel layouts: stock tables and layouts from component widths, conversion against a per-component
// model, round trips between every pair of layouts, row bounds, and the GameCube swizzles.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "orvane/texture.h"
#include "support/log_capture.h"
#include "texture/orvane_pixel_layout.h"
#include "texture_test_support.h"

namespace {

struct NamedLayout {
    const char* name;
    orvane_pixel_layout layout;
};

std::vector<NamedLayout> StockLayouts() {
    return {{"RGB555", *OrvaneRGB555PixelFormat},     {"RGB565", *OrvaneRGB565PixelFormat},
            {"RGBA5551", *OrvaneRGBA5551PixelFormat}, {"RGBA4444", *OrvaneRGBA4444PixelFormat},
            {"RGB888", *OrvaneRGB888PixelFormat},     {"RGBA8888", *OrvaneRGBA8888PixelFormat},
            {"ARGB8888", *OrvaneARGB8888PixelFormat}, {"BGR555", *OrvaneBGR555PixelFormat},
            {"BGR565", *OrvaneBGR565PixelFormat},     {"BGRA5551", *OrvaneBGRA5551PixelFormat},
            {"BGRA4444", *OrvaneBGRA4444PixelFormat}, {"BGR888", *OrvaneBGR888PixelFormat},
            {"BGRA8888", *OrvaneBGRA8888PixelFormat}};
}

// Every stock layout plus one-byte layouts, which the stock set lacks.
std::vector<NamedLayout> AllLayouts() {
    std::vector<NamedLayout> layouts = StockLayouts();
    NamedLayout rgb332{"RGB332", {}}, alpha8{"A8", {}}, bgr233{"BGR233", {}};
    OrvaneSetStockRGBASpecification(&rgb332.layout, 3, 3, 2, 0);
    OrvaneSetStockRGBASpecification(&alpha8.layout, 0, 0, 0, 8);
    OrvaneSetStockBGRASpecification(&bgr233.layout, 3, 3, 2, 0);
    layouts.push_back(rgb332);
    layouts.push_back(alpha8);
    layouts.push_back(bgr233);
    return layouts;
}

uint32_t Read(const uint8_t* p, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v |= uint32_t(p[i]) << (8 * i);
    return v;
}

uint32_t Component(uint32_t pixel, const orvane_pixel_layout& l, int c) {
    int bits = l.BitsForComponent[c];
    if (bits == 0) return 0;
    return uint32_t((uint64_t(pixel) >> l.ShiftForComponent[c]) & ((uint64_t(1) << bits) - 1));
}

// The model: each destination component holds the top bits of the source component, low bits
// zero; absent source components are 0.
uint32_t ModelConvert(uint32_t pixel, const orvane_pixel_layout& from,
                      const orvane_pixel_layout& to) {
    uint64_t out = 0;
    for (int c = 0; c < 4; ++c) {
        int b = from.BitsForComponent[c], d = to.BitsForComponent[c];
        if (b == 0 || d == 0) continue;
        uint64_t v = Component(pixel, from, c);
        v = b >= d ? v >> (b - d) : v << (d - b);
        out |= v << to.ShiftForComponent[c];
    }
    return uint32_t(out);
}

TEST(PixelLayout, StockTablesAndSpecification) {
    orvane_pixel_layout layout;
    EXPECT_EQ(OrvaneSetStockRGBASpecification(&layout, 5, 6, 5, 0), 2);
    EXPECT_TRUE(OrvanePixelLayoutsAreEqual(&layout, OrvaneRGB565PixelFormat));
    EXPECT_FALSE(OrvanePixelLayoutHasAlpha(&layout));
    EXPECT_EQ(OrvaneSetStockBGRASpecification(&layout, 8, 8, 8, 8), 4);
    EXPECT_TRUE(OrvanePixelLayoutsAreEqual(&layout, OrvaneBGRA8888PixelFormat));
    EXPECT_EQ(OrvaneSetStockBGRASpecification(&layout, 5, 5, 5, 1), 2);
    EXPECT_TRUE(OrvanePixelLayoutsAreEqual(&layout, OrvaneBGRA5551PixelFormat));
    EXPECT_TRUE(OrvanePixelLayoutHasAlpha(&layout));
    EXPECT_EQ(OrvaneSetStockRGBASpecification(&layout, 8, 8, 8, 0), 3);
    EXPECT_TRUE(OrvanePixelLayoutsAreEqual(&layout, OrvaneRGB888PixelFormat));
    const int32_t bits[4] = {8, 8, 8, 8}, argb[4] = {3, 0, 1, 2};
    EXPECT_EQ(OrvaneSetStockSpecification(&layout, bits, argb), 4);
    EXPECT_TRUE(OrvanePixelLayoutsAreEqual(&layout, OrvaneARGB8888PixelFormat));
    OrvaneSwapRGBAToBGRA(&layout);
    EXPECT_EQ(layout.ShiftForComponent[0], 24);
    EXPECT_EQ(layout.ShiftForComponent[2], 8);
    orvane_pixel_layout rgba = *OrvaneRGBA8888PixelFormat;
    OrvaneSwapRGBAToBGRA(&rgba);
    EXPECT_TRUE(OrvanePixelLayoutsAreEqual(&rgba, OrvaneBGRA8888PixelFormat));
    EXPECT_FALSE(OrvanePixelLayoutsAreEqual(OrvaneRGB555PixelFormat, OrvaneBGR555PixelFormat));

    orvane_test::LogCapture log;
    const int32_t twice[4] = {0, 0, 1, 2};
    EXPECT_EQ(OrvaneSetStockSpecification(&layout, bits, twice), 0);
    EXPECT_EQ(OrvaneSetStockRGBASpecification(&layout, 16, 16, 8, 0), 0);
    EXPECT_EQ(log.errors(), 2u);
}

TEST(PixelLayout, ConversionKeepsTopBitsWithoutReplication) {
    // RGBA8888 -> RGB565 keeps the top 5, 6, 5 bits.
    const uint8_t rgba[4] = {0xff, 0x87, 0x13, 0x40};
    uint16_t out = 0;
    OrvaneConvertPixelFormat(1, 1, OrvaneRGBA8888PixelFormat, 4, rgba, OrvaneRGB565PixelFormat, 2,
                             &out);
    EXPECT_EQ(out, uint16_t((0xff >> 3) | (0x87 >> 2) << 5 | (0x13 >> 3) << 11));
    // RGB888 -> RGBA8888 gives alpha 0; 565 -> 8888 leaves the low bits 0.
    const uint8_t rgb[6] = {1, 2, 3, 4, 5, 6};
    uint8_t wide[8];
    std::memset(wide, 0xcc, sizeof wide);
    OrvaneConvertPixelFormat(2, 1, OrvaneRGB888PixelFormat, 6, rgb, OrvaneRGBA8888PixelFormat, 8,
                             wide);
    EXPECT_EQ(wide[3], 0);
    EXPECT_EQ(wide[7], 0);
    EXPECT_EQ(wide[4], 4);
    uint16_t white = 0xffff;
    uint8_t expanded[4];
    OrvaneConvertPixelFormat(1, 1, OrvaneRGB565PixelFormat, 2, &white, OrvaneRGBA8888PixelFormat, 4,
                             expanded);
    EXPECT_EQ(expanded[0], 0xf8);
    EXPECT_EQ(expanded[1], 0xfc);
    EXPECT_EQ(expanded[2], 0xf8);
    EXPECT_EQ(expanded[3], 0x00);
}

TEST(PixelLayout, EveryPairMatchesTheModelAndRoundTrips) {
    const auto layouts = AllLayouts();
    std::mt19937 rng(7);
    const int32_t width = 37, height = 5;
    for (const auto& from : layouts) {
        const int32_t sb = from.layout.BytesPerPixel;
        std::vector<uint8_t> source(size_t(width) * height * sb);
        for (auto& b : source)
            b = uint8_t(rng());
        for (const auto& to : layouts) {
            SCOPED_TRACE(std::string(from.name) + " -> " + to.name);
            const int32_t db = to.layout.BytesPerPixel;
            std::vector<uint8_t> dest(size_t(width) * height * db, 0xcd);
            OrvaneConvertPixelFormat(width, height, &from.layout, width * sb, source.data(),
                                     &to.layout, width * db, dest.data());
            // The portable kernels agree with whichever path this processor takes.
            std::vector<uint8_t> portable(dest.size(), 0xcd);
            orvane::ConvertPixelsPortable(width, height, from.layout, width * sb, source.data(),
                                          to.layout, width * db, portable.data());
            EXPECT_EQ(portable, dest);
            std::vector<uint8_t> back(source.size(), 0xcd);
            OrvaneConvertPixelFormat(width, height, &to.layout, width * db, dest.data(),
                                     &from.layout, width * sb, back.data());
            int failures = 0;
            for (int32_t i = 0; i < width * height && failures < 3; ++i) {
                uint32_t v = Read(&source[size_t(i) * sb], sb);
                uint32_t got = Read(&dest[size_t(i) * db], db);
                uint32_t expected = ModelConvert(v, from.layout, to.layout);
                if (got != expected) ++failures;
                EXPECT_EQ(got, expected) << "pixel " << i;
                // Round trip: each component survives with min(bits) top bits.
                uint32_t r = Read(&back[size_t(i) * sb], sb);
                for (int c = 0; c < 4; ++c) {
                    int b = from.layout.BitsForComponent[c], d = to.layout.BitsForComponent[c];
                    uint32_t original = Component(v, from.layout, c);
                    uint32_t kept =
                        d == 0 ? 0 : (b > d ? (original >> (b - d)) << (b - d) : original);
                    if (Component(r, from.layout, c) != kept) ++failures;
                    EXPECT_EQ(Component(r, from.layout, c), kept) << "pixel " << i << " c " << c;
                }
            }
        }
    }
}

TEST(PixelLayout, OverlappingDestinationComponentsCombine) {
    // Valid, if odd: red and green share the low byte, which then holds both ORed.
    orvane_pixel_layout shared = {4, {0, 0, 16, 24}, {8, 8, 8, 8}};
    orvane_test::Image image = orvane_test::RandomImage(19, 2, 23);
    std::vector<uint8_t> out(image.rgba.size());
    OrvaneConvertPixelFormat(19, 2, OrvaneRGBA8888PixelFormat, 76, image.rgba.data(), &shared, 76,
                             out.data());
    for (size_t i = 0; i < image.rgba.size(); i += 4) {
        uint32_t v = Read(&image.rgba[i], 4);
        EXPECT_EQ(Read(&out[i], 4), ModelConvert(v, *OrvaneRGBA8888PixelFormat, shared));
        EXPECT_EQ(out[i], image.rgba[i] | image.rgba[i + 1]);
    }
}

// The documented conversion, component by component: the shift amount (d + c) - (s + b) lines
// the top bits up, the mask keeps destination bits max(d, d + c - b) to d + c - 1; components
// absent on either side add nothing, and the terms of overlapping components combine.
uint32_t FormulaConvert(uint32_t pixel, const orvane_pixel_layout& from,
                        const orvane_pixel_layout& to) {
    uint64_t out = 0;
    for (int i = 0; i < 4; ++i) {
        int s = from.ShiftForComponent[i], b = from.BitsForComponent[i];
        int d = to.ShiftForComponent[i], c = to.BitsForComponent[i];
        if (c < 1) continue;
        int amount = (d + c) - (s + b);
        uint64_t moved = amount >= 0 ? uint64_t(pixel) << amount : uint64_t(pixel) >> -amount;
        uint64_t mask = 0;
        for (int bit = std::max(d, d + c - b); bit <= d + c - 1; ++bit)
            mask |= uint64_t(1) << bit;
        out |= moved & mask;
    }
    return uint32_t(out);
}

// A valid layout of 1 to 4 bytes with components anywhere in the pixel, overlapping or absent.
orvane_pixel_layout RandomLayout(std::mt19937& rng) {
    orvane_pixel_layout layout{};
    layout.BytesPerPixel = int32_t(1 + rng() % 4);
    const int32_t pixelBits = layout.BytesPerPixel * 8;
    for (int i = 0; i < 4; ++i) {
        if (rng() % 4 == 0) continue;  // absent
        layout.BitsForComponent[i] = int32_t(1 + rng() % uint32_t(pixelBits));
        layout.ShiftForComponent[i] =
            int32_t(rng() % uint32_t(pixelBits - layout.BitsForComponent[i] + 1));
    }
    return layout;
}

TEST(PixelLayout, RandomLayoutsFollowTheComponentFormula) {
    std::mt19937 rng(11);
    for (int trial = 0; trial < 3000; ++trial) {
        const orvane_pixel_layout from = RandomLayout(rng);
        // Now and then the same layout on both sides.
        const orvane_pixel_layout to = rng() % 5 == 0 ? from : RandomLayout(rng);
        const int32_t width = int32_t(1 + rng() % 20), height = 2;
        const int32_t sb = from.BytesPerPixel, db = to.BytesPerPixel;
        std::vector<uint8_t> source(size_t(width) * height * sb);
        for (auto& b : source)
            b = uint8_t(rng());
        std::vector<uint8_t> dest(size_t(width) * height * db, 0xcd);
        std::vector<uint8_t> portable(dest.size(), 0xcd);
        OrvaneConvertPixelFormat(width, height, &from, width * sb, source.data(), &to, width * db,
                                 dest.data());
        orvane::ConvertPixelsPortable(width, height, from, width * sb, source.data(), to,
                                      width * db, portable.data());
        for (int32_t i = 0; i < width * height; ++i) {
            const uint32_t expected = FormulaConvert(Read(&source[size_t(i) * sb], sb), from, to);
            ASSERT_EQ(Read(&dest[size_t(i) * db], db), expected)
                << "trial " << trial << " pixel " << i;
            ASSERT_EQ(Read(&portable[size_t(i) * db], db), expected)
                << "trial " << trial << " pixel " << i;
        }
    }
}

TEST(PixelLayout, ConvertingToTheSameLayoutClearsBitsNoComponentCovers) {
    // Widths that add up to 32 bits, but red and green share the low byte: the top byte belongs
    // to no component and comes out 0.
    const orvane_pixel_layout shared = {4, {0, 0, 8, 16}, {8, 8, 8, 8}};
    const uint8_t pixels[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    uint8_t out[8];
    std::memset(out, 0xcd, sizeof out);
    OrvaneConvertPixelFormat(2, 1, &shared, 8, pixels, &shared, 8, out);
    const uint8_t expected[8] = {0x11, 0x22, 0x33, 0x00, 0x55, 0x66, 0x77, 0x00};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(out[i], expected[i]) << "byte " << i;
}

TEST(PixelLayout, ConversionNeverTouchesBytesPastARow) {
    // Rows with a guard gap between them: the gap bytes must survive for every width, layout
    // pair (one-byte layouts included) and direction.
    const auto layouts = AllLayouts();
    const int32_t height = 3, guard = 5;
    for (const auto& from : layouts) {
        for (const auto& to : layouts) {
            for (int32_t width : {1, 2, 3, 4, 5, 6, 8, 9, 15, 16, 17}) {
                int32_t sb = from.layout.BytesPerPixel, db = to.layout.BytesPerPixel;
                int32_t sourceStride = width * sb + guard, destStride = width * db + guard;
                std::vector<uint8_t> source(size_t(sourceStride) * height, 0x5a);
                std::vector<uint8_t> dest(size_t(destStride) * height, 0xa5);
                // The last row ends the buffer exactly: ASan catches any overrun there.
                std::vector<uint8_t> tightSource(source.begin(), source.end() - guard);
                std::vector<uint8_t> tightDest(dest.begin(), dest.end() - guard);
                OrvaneConvertPixelFormat(width, height, &from.layout, sourceStride,
                                         tightSource.data(), &to.layout, destStride,
                                         tightDest.data());
                std::vector<uint8_t> portableDest(tightDest.size(), 0xa5);
                orvane::ConvertPixelsPortable(width, height, from.layout, sourceStride,
                                              tightSource.data(), to.layout, destStride,
                                              portableDest.data());
                for (int32_t y = 0; y + 1 < height; ++y)
                    for (int32_t g = 0; g < guard; ++g)
                        ASSERT_TRUE(tightDest[size_t(y) * destStride + width * db + g] == 0xa5 &&
                                    portableDest[size_t(y) * destStride + width * db + g] == 0xa5)
                            << from.name << " -> " << to.name << " width " << width;
            }
        }
    }
}

TEST(PixelLayout, NegativeStridesWalkRowsUpwards) {
    orvane_test::Image image = orvane_test::RandomImage(9, 4, 17);
    std::vector<uint8_t> flipped(size_t(9) * 4 * 3);
    // The destination's first row is the last in memory: the image comes out upside down.
    OrvaneConvertPixelFormat(9, 4, OrvaneRGBA8888PixelFormat, 36, image.rgba.data(),
                             OrvaneBGR888PixelFormat, -27, flipped.data() + 27 * 3);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 9; ++x) {
            const uint8_t* s = &image.rgba[(size_t(y) * 9 + x) * 4];
            const uint8_t* d = &flipped[(size_t(3 - y) * 9 + x) * 3];
            EXPECT_EQ(d[0], s[2]);
            EXPECT_EQ(d[1], s[1]);
            EXPECT_EQ(d[2], s[0]);
        }
}

TEST(PixelLayout, RefusesInvalidLayoutsAndGeometry) {
    orvane_test::LogCapture log;
    uint8_t pixels[64] = {};
    orvane_pixel_layout bad = *OrvaneRGBA8888PixelFormat;
    bad.ShiftForComponent[3] = 40;  // from a file: past the pixel
    OrvaneConvertPixelFormat(1, 1, &bad, 4, pixels, OrvaneRGBA8888PixelFormat, 4, pixels + 8);
    bad = *OrvaneRGBA8888PixelFormat;
    bad.BytesPerPixel = 5;
    OrvaneConvertPixelFormat(1, 1, OrvaneRGBA8888PixelFormat, 4, pixels, &bad, 4, pixels + 8);
    OrvaneConvertPixelFormat(4, 2, OrvaneRGBA8888PixelFormat, 8, pixels, OrvaneRGBA8888PixelFormat,
                             16, pixels + 32);  // stride shorter than a row
    OrvaneConvertPixelFormat(-1, 1, OrvaneRGBA8888PixelFormat, 4, pixels, OrvaneRGBA8888PixelFormat,
                             4, pixels + 8);
    OrvaneConvertPixelFormat(65536, 65536, OrvaneRGBA8888PixelFormat, 262144, pixels,
                             OrvaneRGBA8888PixelFormat, 262144, pixels + 8);
    EXPECT_EQ(log.errors(), 5u);
    for (uint8_t b : pixels)
        EXPECT_EQ(b, 0);
}

TEST(PixelLayout, GameCubeSwizzles) {
    const int32_t width = 10, height = 9;  // 2 x 2 tiles; the rest is ignored
    orvane_test::Image image = orvane_test::RandomImage(width, height, 3);
    std::vector<uint8_t> tiles(4 * 64 + 16, 0xee);
    OrvaneARGB8888SwizzleNGC(width, height, width * 4, image.rgba.data(), tiles.data());
    for (int32_t ty = 0; ty < 2; ++ty)
        for (int32_t tx = 0; tx < 2; ++tx)
            for (int32_t p = 0; p < 16; ++p) {
                const uint8_t* pixel =
                    &image.rgba[(size_t(ty * 4 + p / 4) * width + tx * 4 + p % 4) * 4];
                const uint8_t* tile = &tiles[size_t(ty * 2 + tx) * 64];
                EXPECT_EQ(tile[p * 2], pixel[0]);
                EXPECT_EQ(tile[p * 2 + 1], pixel[1]);
                EXPECT_EQ(tile[32 + p * 2], pixel[2]);
                EXPECT_EQ(tile[32 + p * 2 + 1], pixel[3]);
            }
    for (size_t i = 4 * 64; i < tiles.size(); ++i)
        EXPECT_EQ(tiles[i], 0xee);

    std::vector<uint8_t> tiles16(4 * 32 + 16, 0xee);
    OrvaneAll16SwizzleNGC(width, height, width * 2, image.rgba.data(), tiles16.data());
    for (int32_t t = 0; t < 4; ++t)
        for (int32_t r = 0; r < 4; ++r)
            EXPECT_EQ(
                0, std::memcmp(&tiles16[size_t(t) * 32 + r * 8],
                               &image.rgba[size_t((t / 2) * 4 + r) * width * 2 + (t % 2) * 8], 8));
    for (size_t i = 4 * 32; i < tiles16.size(); ++i)
        EXPECT_EQ(tiles16[i], 0xee);
}

}  // namespace

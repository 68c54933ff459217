// PNG and GIF files of the render command, read back through libpng's and giflib's readers.
#include <gtest/gtest.h>

#include <gif_lib.h>
#include <png.h>

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image_io.h"

namespace orvane_tool {
namespace {

std::string TempPath(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/orvane_image_io_" +
           std::to_string(::getpid()) + "_" + name;
}

Image Gradient(int w, int h, int phase) {
    Image image;
    image.Resize(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = image.Pixel(x, y);
            p[0] = uint8_t((x * 255) / (w - 1));
            p[1] = uint8_t((y * 255) / (h - 1));
            p[2] = uint8_t(2 * (x + y) + phase);
            p[3] = uint8_t(255 - x);
        }
    return image;
}

TEST(ImageFiles, PngRoundTripsExactly) {
    const Image image = Gradient(37, 23, 0);
    const std::string path = TempPath("round.png");
    std::string problem;
    ASSERT_TRUE(WritePng(path, image, &problem)) << problem;

    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&png, path.c_str())) << png.message;
    EXPECT_EQ(png.width, 37u);
    EXPECT_EQ(png.height, 23u);
    png.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(png));
    ASSERT_TRUE(png_image_finish_read(&png, nullptr, pixels.data(), 0, nullptr)) << png.message;
    EXPECT_EQ(pixels, image.rgba);
    std::remove(path.c_str());
}

TEST(ImageFiles, PngFailuresAreReported) {
    std::string problem;
    EXPECT_FALSE(WritePng("/nonexistent-dir/x.png", Gradient(4, 4, 0), &problem));
    EXPECT_NE(problem.find("/nonexistent-dir/x.png"), std::string::npos) << problem;
    problem.clear();
    EXPECT_FALSE(WritePng(TempPath("empty.png"), Image(), &problem));
    EXPECT_FALSE(problem.empty());
}

// A GIF read back through giflib's reader, closed when it goes.
struct ReadGif {
    GifFileType* gif = nullptr;
    explicit ReadGif(const std::string& path) {
        int error = 0;
        gif = DGifOpenFileName(path.c_str(), &error);
        if (gif != nullptr && DGifSlurp(gif) != GIF_OK) {
            DGifCloseFile(gif, &error);
            gif = nullptr;
        }
    }
    ~ReadGif() {
        int error = 0;
        if (gif != nullptr) DGifCloseFile(gif, &error);
    }
    // The colour of a pixel of a frame, through the global palette.
    const GifColorType& Color(int frame, int x, int y) const {
        const SavedImage& image = gif->SavedImages[frame];
        return gif->SColorMap->Colors[image.RasterBits[y * image.ImageDesc.Width + x]];
    }
};

TEST(ImageFiles, GifKeepsFewColoursExactly) {
    // 99 colours besides the background, so every one can have its own palette entry.
    Image image;
    image.Resize(10, 10);
    for (int i = 0; i < 100; ++i) {
        uint8_t* p = &image.rgba[size_t(i) * 4];
        p[0] = uint8_t(16 + (i % 10) * 24);
        p[1] = uint8_t(16 + (i / 10) * 24);
        p[2] = uint8_t(i == 0 ? 3 : 200 + i % 7);
        p[3] = 255;
    }
    const std::string path = TempPath("few.gif");
    std::string problem;
    ASSERT_TRUE(WriteGif(path, {image, image}, 5, &problem)) << problem;
    ReadGif read(path);
    ASSERT_NE(read.gif, nullptr);
    ASSERT_NE(read.gif->SColorMap, nullptr);
    EXPECT_LE(read.gif->SColorMap->ColorCount, 256);
    ASSERT_EQ(read.gif->ImageCount, 2);
    for (int f = 0; f < 2; ++f)
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 10; ++x) {
                const GifColorType& c = read.Color(f, x, y);
                const uint8_t* p = image.Pixel(x, y);
                ASSERT_EQ(c.Red, p[0]) << x << "," << y;
                ASSERT_EQ(c.Green, p[1]) << x << "," << y;
                ASSERT_EQ(c.Blue, p[2]) << x << "," << y;
            }
    std::remove(path.c_str());
}

TEST(ImageFiles, GifOfOnlyTheBackgroundIsExact) {
    // No colour but the background: nothing for the quantiser, one palette entry in use.
    Image image;
    image.Resize(6, 5);
    for (int i = 0; i < 30; ++i)
        std::memcpy(&image.rgba[size_t(i) * 4], "\x0a\x14\x1e\xff", 4);
    const std::string path = TempPath("flat.gif");
    std::string problem;
    ASSERT_TRUE(WriteGif(path, {image, image, image}, 5, &problem)) << problem;
    ReadGif read(path);
    ASSERT_NE(read.gif, nullptr);
    ASSERT_EQ(read.gif->ImageCount, 3);
    ASSERT_NE(read.gif->SColorMap, nullptr);
    EXPECT_LE(read.gif->SColorMap->ColorCount, 2);
    for (int f = 0; f < 3; ++f)
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 6; ++x) {
                const GifColorType& c = read.Color(f, x, y);
                ASSERT_EQ(c.Red, 10);
                ASSERT_EQ(c.Green, 20);
                ASSERT_EQ(c.Blue, 30);
            }
    std::remove(path.c_str());
}

TEST(ImageFiles, GifHoldsEveryFrameWithItsDelayAndLoops) {
    std::vector<Image> frames;
    for (int f = 0; f < 3; ++f) {
        Image frame = Gradient(64, 48, f * 10);
        for (int x = 0; x < 64; ++x)  // a flat background row, which must stay exact
            std::memcpy(frame.Pixel(x, 0), "\x0a\x14\x1e\xff", 4);
        frames.push_back(frame);
    }
    const std::string path = TempPath("anim.gif");
    std::string problem;
    ASSERT_TRUE(WriteGif(path, frames, 7, &problem)) << problem;

    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    ASSERT_NE(gif, nullptr) << GifErrorString(error);
    ASSERT_EQ(DGifSlurp(gif), GIF_OK);
    EXPECT_EQ(gif->SWidth, 64);
    EXPECT_EQ(gif->SHeight, 48);
    ASSERT_EQ(gif->ImageCount, 3);
    const ColorMapObject* map = gif->SColorMap;
    ASSERT_NE(map, nullptr);
    EXPECT_LE(map->ColorCount, 256);  // the gradients hold thousands of colours
    bool loops = false;
    // Extensions before the first image are kept with it.
    for (int i = 0; i < gif->SavedImages[0].ExtensionBlockCount; ++i) {
        const ExtensionBlock& block = gif->SavedImages[0].ExtensionBlocks[i];
        loops |= block.Function == APPLICATION_EXT_FUNC_CODE && block.ByteCount == 11 &&
                 std::memcmp(block.Bytes, "NETSCAPE2.0", 11) == 0;
    }
    EXPECT_TRUE(loops);
    for (int f = 0; f < 3; ++f) {
        GraphicsControlBlock control;
        ASSERT_EQ(DGifSavedExtensionToGCB(gif, f, &control), GIF_OK);
        EXPECT_EQ(control.DelayTime, 7);
        const SavedImage& image = gif->SavedImages[f];
        ASSERT_EQ(image.ImageDesc.Width, 64);
        ASSERT_EQ(image.ImageDesc.Height, 48);
        double error2 = 0;
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x) {
                const int index = image.RasterBits[y * 64 + x];
                ASSERT_LT(index, map->ColorCount);
                const GifColorType c = map->Colors[index];
                const uint8_t* p = frames[size_t(f)].Pixel(x, y);
                if (y == 0) {
                    ASSERT_EQ(c.Red, 10);
                    ASSERT_EQ(c.Green, 20);
                    ASSERT_EQ(c.Blue, 30);
                }
                error2 += (c.Red - p[0]) * (c.Red - p[0]) + (c.Green - p[1]) * (c.Green - p[1]) +
                          (c.Blue - p[2]) * (c.Blue - p[2]);
            }
        // Root mean square error per channel of giflib's median cut (over 5-bit colour cells,
        // splitting the widest box) to 255 colours on smooth images: about 11 to 13 here,
        // where a palette mapped one entry off would be several times that.
        EXPECT_LT(std::sqrt(error2 / (48 * 64 * 3)), 16.0) << f;
    }
    DGifCloseFile(gif, &error);
    std::remove(path.c_str());
}

TEST(ImageFiles, GifFailuresAreReported) {
    std::string problem;
    EXPECT_FALSE(WriteGif(TempPath("none.gif"), {}, 5, &problem));
    EXPECT_FALSE(problem.empty());
    problem.clear();
    EXPECT_FALSE(
        WriteGif(TempPath("mixed.gif"), {Gradient(8, 8, 0), Gradient(8, 9, 0)}, 5, &problem));
    EXPECT_FALSE(problem.empty());
    problem.clear();
    EXPECT_FALSE(WriteGif("/nonexistent-dir/x.gif", {Gradient(8, 8, 0)}, 5, &problem));
    EXPECT_NE(problem.find("/nonexistent-dir/x.gif"), std::string::npos) << problem;
}

}  // namespace
}  // namespace orvane_tool

// PNG and GIF output of the render command (see image_io.h).
#include "image_io.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

#include <gif_lib.h>
#include <png.h>

namespace orvane_tool {

namespace {

bool Valid(const Image& image) {
    return image.width > 0 && image.height > 0 &&
           image.rgba.size() == size_t(image.width) * size_t(image.height) * 4;
}

}  // namespace

bool WritePng(const std::string& path, const Image& image, std::string* problem) {
    if (!Valid(image)) {
        *problem = "the image is empty";
        return false;
    }
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = png_uint_32(image.width);
    png.height = png_uint_32(image.height);
    png.format = PNG_FORMAT_RGBA;
    if (!png_image_write_to_file(&png, path.c_str(), 0, image.rgba.data(),
                                 png_int_32(image.width) * 4, nullptr)) {
        *problem = path + ": " + png.message;
        png_image_free(&png);
        return false;
    }
    png_image_free(&png);
    return true;
}

bool WriteGif(const std::string& path, const std::vector<Image>& frames, int delayCentiseconds,
              std::string* problem) {
    if (frames.empty() || !Valid(frames[0])) {
        *problem = "there are no frames";
        return false;
    }
    const int w = frames[0].width, h = frames[0].height;
    if (w > 65535 || h > 65535) {
        *problem = "the frames are too large for a GIF";
        return false;
    }
    for (const Image& frame : frames)
        if (!Valid(frame) || frame.width != w || frame.height != h) {
            *problem = "the frames differ in size";
            return false;
        }
    delayCentiseconds = std::clamp(delayCentiseconds, 1, 65535);

    // giflib's quantiser counts pixels in an int.
    if (size_t(w) * size_t(h) * frames.size() > size_t(INT_MAX)) {
        *problem = "the frames hold too many pixels for a GIF";
        return false;
    }

    // The background colour is entry 0; every other pixel of every frame goes to the quantiser
    // as one long row, so that all frames share the palette.
    const uint8_t* background = frames[0].rgba.data();
    std::vector<GifByteType> red, green, blue;
    for (const Image& frame : frames)
        for (size_t i = 0; i < frame.rgba.size(); i += 4) {
            const uint8_t* p = &frame.rgba[i];
            if (std::memcmp(p, background, 3) == 0) continue;
            red.push_back(p[0]);
            green.push_back(p[1]);
            blue.push_back(p[2]);
        }
    GifColorType colors[256];
    std::memset(colors, 0, sizeof colors);
    colors[0] = {background[0], background[1], background[2]};
    int colorCount = 1;
    std::vector<GifByteType> quantized(red.size());
    if (!red.empty()) {  // giflib's quantiser needs at least one pixel
        int size = 255;
        if (GifQuantizeBuffer(unsigned(red.size()), 1, &size, red.data(), green.data(), blue.data(),
                              quantized.data(), colors + 1) != GIF_OK) {
            *problem = "out of memory while choosing the GIF's colours";
            return false;
        }
        // giflib's entries are averages of 5-bit colour cells; each becomes the mean of the
        // pixels it stands for, so that colours are not shifted and a few flat colours are exact.
        std::vector<uint64_t> sums(size_t(size) * 4, 0);
        for (size_t i = 0; i < quantized.size(); ++i) {
            uint64_t* sum = &sums[size_t(quantized[i]) * 4];
            sum[0] += red[i];
            sum[1] += green[i];
            sum[2] += blue[i];
            ++sum[3];
        }
        for (int i = 0; i < size; ++i) {
            const uint64_t* sum = &sums[size_t(i) * 4];
            if (sum[3] == 0) continue;
            colors[i + 1] = {GifByteType((sum[0] + sum[3] / 2) / sum[3]),
                             GifByteType((sum[1] + sum[3] / 2) / sum[3]),
                             GifByteType((sum[2] + sum[3] / 2) / sum[3])};
        }
        colorCount += size;
    }

    int error = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
    if (gif == nullptr) {
        *problem = path + ": " + GifErrorString(error);
        return false;
    }
    ColorMapObject* map = GifMakeMapObject(1 << GifBitSize(colorCount), colors);
    bool ok = map != nullptr;
    if (ok) {
        EGifSetGifVersion(gif, true);
        ok = EGifPutScreenDesc(gif, w, h, 8, 0, map) == GIF_OK;
    }
    // The application extension that makes viewers loop the animation for ever.
    static const char kLoopName[] = "NETSCAPE2.0";
    static const GifByteType kLoopForever[3] = {1, 0, 0};
    ok = ok && EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
         EGifPutExtensionBlock(gif, 11, kLoopName) == GIF_OK &&
         EGifPutExtensionBlock(gif, 3, kLoopForever) == GIF_OK &&
         EGifPutExtensionTrailer(gif) == GIF_OK;
    std::vector<GifPixelType> line(static_cast<size_t>(w));
    size_t next = 0;  // the quantiser's index of the next pixel that is not the background
    for (size_t f = 0; ok && f < frames.size(); ++f) {
        GraphicsControlBlock control;
        control.DisposalMode = DISPOSE_DO_NOT;
        control.UserInputFlag = false;
        control.DelayTime = delayCentiseconds;
        control.TransparentColor = NO_TRANSPARENT_COLOR;
        GifByteType extension[4];
        EGifGCBToExtension(&control, extension);
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension) == GIF_OK &&
             EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr) == GIF_OK;
        for (int y = 0; ok && y < h; ++y) {
            for (int x = 0; x < w; ++x)
                line[size_t(x)] = std::memcmp(frames[f].Pixel(x, y), background, 3) == 0
                                      ? GifPixelType(0)
                                      : GifPixelType(quantized[next++] + 1);
            ok = EGifPutLine(gif, line.data(), w) == GIF_OK;
        }
    }
    if (!ok) *problem = path + ": " + GifErrorString(gif->Error);
    if (EGifCloseFile(gif, &error) != GIF_OK && ok) {
        ok = false;
        *problem = path + ": " + GifErrorString(error);
    }
    GifFreeMapObject(map);
    return ok;
}

}  // namespace orvane_tool

// PNG and GIF output of the render command (see image_io.h).
#include "image_io.h"

#include <algorithm>
#include <cstring>

#include <gif_lib.h>
#include <png.h>

namespace orvane_tool {

namespace {

constexpr int kBins = 1 << 15;  // 5 bits of each of red, green and blue

int BinOf(const uint8_t* p) {
    return (p[0] >> 3) << 10 | (p[1] >> 3) << 5 | (p[2] >> 3);
}

int Channel(int bin, int c) {
    return (bin >> (10 - 5 * c)) & 31;
}

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

Palette MedianCutPalette(const std::vector<Image>& frames, int maxColors, const uint8_t* reserved) {
    Palette palette;
    maxColors = std::clamp(maxColors, 2, 256);
    std::vector<uint32_t> counts(kBins, 0);
    std::vector<uint64_t> sums(size_t(kBins) * 3, 0);
    for (const Image& frame : frames) {
        if (!Valid(frame)) continue;
        for (size_t i = 0; i < frame.rgba.size(); i += 4) {
            const uint8_t* p = &frame.rgba[i];
            if (reserved && std::memcmp(p, reserved, 3) == 0) continue;
            const int bin = BinOf(p);
            if (counts[size_t(bin)] != UINT32_MAX) ++counts[size_t(bin)];
            for (int c = 0; c < 3; ++c)
                sums[size_t(bin) * 3 + size_t(c)] += p[c];
        }
    }
    if (reserved) {
        std::memcpy(palette.rgb[0], reserved, 3);
        palette.count = 1;
    }

    struct Entry {
        int bin;
        uint32_t count;
    };
    std::vector<Entry> entries;
    for (int bin = 0; bin < kBins; ++bin)
        if (counts[size_t(bin)] != 0) entries.push_back({bin, counts[size_t(bin)]});
    struct Cut {
        size_t begin, end;
        uint64_t total;
        int channel, range;
    };
    auto measure = [&](size_t begin, size_t end) {
        Cut cut{begin, end, 0, 0, -1};
        int lo[3] = {31, 31, 31}, hi[3] = {0, 0, 0};
        for (size_t i = begin; i < end; ++i) {
            cut.total += entries[i].count;
            for (int c = 0; c < 3; ++c) {
                lo[c] = std::min(lo[c], Channel(entries[i].bin, c));
                hi[c] = std::max(hi[c], Channel(entries[i].bin, c));
            }
        }
        for (int c = 0; c < 3; ++c)
            if (hi[c] - lo[c] > cut.range) {
                cut.range = hi[c] - lo[c];
                cut.channel = c;
            }
        return cut;
    };
    std::vector<Cut> cuts;
    if (!entries.empty()) cuts.push_back(measure(0, entries.size()));
    while (int(cuts.size()) + palette.count < maxColors) {
        // The box to split: the widest, weighted by how many pixels it holds.
        int chosen = -1;
        double best = 0;
        for (size_t i = 0; i < cuts.size(); ++i) {
            const double score =
                double(cuts[i].range) * double(cuts[i].range) * double(cuts[i].total);
            if (cuts[i].end - cuts[i].begin >= 2 && cuts[i].range > 0 && score > best) {
                best = score;
                chosen = int(i);
            }
        }
        if (chosen < 0) break;
        const Cut cut = cuts[size_t(chosen)];
        const int c = cut.channel;
        std::sort(
            entries.begin() + long(cut.begin), entries.begin() + long(cut.end),
            [c](const Entry& a, const Entry& b) { return Channel(a.bin, c) < Channel(b.bin, c); });
        uint64_t running = 0;
        size_t middle = cut.begin + 1;
        for (size_t i = cut.begin; i + 1 < cut.end; ++i) {
            running += entries[i].count;
            middle = i + 1;
            if (running * 2 >= cut.total) break;
        }
        cuts[size_t(chosen)] = measure(cut.begin, middle);
        cuts.push_back(measure(middle, cut.end));
    }
    for (const Cut& cut : cuts) {
        uint64_t sum[3] = {0, 0, 0}, pixels = 0;
        for (size_t i = cut.begin; i < cut.end; ++i) {
            const size_t bin = size_t(entries[i].bin);
            for (int c = 0; c < 3; ++c)
                sum[c] += sums[bin * 3 + size_t(c)];
            pixels += counts[bin];
        }
        for (int c = 0; c < 3; ++c)
            palette.rgb[palette.count][c] = uint8_t(pixels ? (sum[c] + pixels / 2) / pixels : 0);
        ++palette.count;
    }
    if (palette.count == 0) palette.count = 1;  // no pixels at all: one black entry
    return palette;
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

    uint8_t background[3];
    std::memcpy(background, frames[0].rgba.data(), 3);
    const Palette palette = MedianCutPalette(frames, 256, background);
    // Nearest palette entry of every colour bin that occurs.
    std::vector<int16_t> nearest(kBins, -1);
    GifColorType colors[256];
    std::memset(colors, 0, sizeof colors);
    for (int i = 0; i < palette.count; ++i)
        colors[i] = {palette.rgb[i][0], palette.rgb[i][1], palette.rgb[i][2]};
    auto indexOf = [&](const uint8_t* p) -> GifPixelType {
        if (std::memcmp(p, background, 3) == 0) return 0;
        int16_t& known = nearest[size_t(BinOf(p))];
        if (known < 0) {
            const int r = (p[0] & ~7) + 4, g = (p[1] & ~7) + 4, b = (p[2] & ~7) + 4;
            int best = 0, bestDistance = 1 << 30;
            for (int i = 0; i < palette.count; ++i) {
                const int dr = r - palette.rgb[i][0], dg = g - palette.rgb[i][1],
                          db = b - palette.rgb[i][2];
                const int d = 2 * dr * dr + 4 * dg * dg + 3 * db * db;
                if (d < bestDistance) {
                    bestDistance = d;
                    best = i;
                }
            }
            known = int16_t(best);
        }
        return GifPixelType(known);
    };

    int error = 0;
    GifFileType* gif = EGifOpenFileName(path.c_str(), false, &error);
    if (gif == nullptr) {
        *problem = path + ": " + GifErrorString(error);
        return false;
    }
    ColorMapObject* map = GifMakeMapObject(256, colors);
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
                line[size_t(x)] = indexOf(frames[f].Pixel(x, y));
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

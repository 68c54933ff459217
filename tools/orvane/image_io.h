// Image files of the render command: RGBA PNGs through libpng and animated GIFs through giflib.
#ifndef ORVANE_TOOL_IMAGE_IO_H
#define ORVANE_TOOL_IMAGE_IO_H

#include <cstdint>
#include <string>
#include <vector>

#include "raster.h"

namespace orvane_tool {

// Writes an 8-bit RGBA PNG; false with the reason in *problem.
bool WritePng(const std::string& path, const Image& image, std::string* problem);

// A palette of up to 256 colours, 8-bit RGB.
struct Palette {
    int count = 0;
    uint8_t rgb[256][3] = {};
};

// A palette for all the frames by median cut over their colours (reduced to 5 bits a channel),
// with `reserved` (when given) as entry 0 exactly, so a flat background stays exact. At most
// maxColors (2 to 256) entries.
Palette MedianCutPalette(const std::vector<Image>& frames, int maxColors,
                         const uint8_t* reserved = nullptr);

// Writes the frames (all of one size) as a looping animated GIF with one global palette made by
// MedianCutPalette, reserving the colour of the first frame's top-left pixel (the background),
// each frame shown for delayCentiseconds (1 to 65535); false with the reason in *problem.
bool WriteGif(const std::string& path, const std::vector<Image>& frames, int delayCentiseconds,
              std::string* problem);

}  // namespace orvane_tool

#endif  // ORVANE_TOOL_IMAGE_IO_H

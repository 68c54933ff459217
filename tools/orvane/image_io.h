// Image files of the render command: RGBA PNGs through libpng and animated GIFs through giflib.
#ifndef ORVANE_TOOL_IMAGE_IO_H
#define ORVANE_TOOL_IMAGE_IO_H

#include <string>
#include <vector>

#include "raster.h"

namespace orvane_tool {

// Writes an 8-bit RGBA PNG; false with the reason in *problem.
bool WritePng(const std::string& path, const Image& image, std::string* problem);

// Writes the frames (all of one size) as a looping animated GIF, each frame shown for
// delayCentiseconds (1 to 65535); false with the reason in *problem. The frames share one global
// palette: the colour of the first frame's top-left pixel (the background) as entry 0 exactly,
// so that a flat background stays exact, and up to 255 colours for the other pixels of all
// frames from giflib's median-cut quantiser. giflib's quantiser keeps state in a global, so
// this must not run on two threads at once.
bool WriteGif(const std::string& path, const std::vector<Image>& frames, int delayCentiseconds,
              std::string* problem);

}  // namespace orvane_tool

#endif  // ORVANE_TOOL_IMAGE_IO_H

// Pixel layouts: checks and the conversion of pixel rectangles between layouts.
#ifndef ORVANE_PIXEL_LAYOUT_H
#define ORVANE_PIXEL_LAYOUT_H

#include <cstdint>

#include "orvane/texture.h"

namespace orvane {

// True when the layout's fields describe components that fit its pixel; logs nothing.
bool PixelLayoutIsValid(const orvane_pixel_layout& layout);
// Logs an error naming what and returns false when the layout is null or invalid.
bool CheckPixelLayout(const orvane_pixel_layout* layout, const char* what);

// True when a width x height image of bytesPerPixel pixels and this stride can be addressed
// (sizes non-negative, |stride| >= a row, width x height x 4 within int32); logs an error
// naming what otherwise.
bool CheckImageGeometry(int32_t width, int32_t height, int32_t bytesPerPixel, int32_t stride,
                        const char* what);

// The conversion without argument checks: layouts valid, geometry checked.
void ConvertPixels(int32_t width, int32_t height, const orvane_pixel_layout& sourceLayout,
                   int64_t sourceStride, const uint8_t* source,
                   const orvane_pixel_layout& destLayout, int64_t destStride, uint8_t* dest);

// The same through the kernels every x86-64 processor has, whatever this one has: lets the
// tests check both paths on any machine.
void ConvertPixelsPortable(int32_t width, int32_t height, const orvane_pixel_layout& sourceLayout,
                           int64_t sourceStride, const uint8_t* source,
                           const orvane_pixel_layout& destLayout, int64_t destStride,
                           uint8_t* dest);

}  // namespace orvane

#endif  // ORVANE_PIXEL_LAYOUT_H

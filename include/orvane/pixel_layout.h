/* Orvane pixel layouts: stock layouts, pixel conversion, image scaling and GameCube tiling.
 *
 * A pixel is a little-endian unsigned integer of BytesPerPixel (1 to 4) bytes; component i
 * (red, green, blue, alpha) occupies BitsForComponent[i] bits starting at ShiftForComponent[i].
 * A layout is valid when BytesPerPixel is 1 to 4 and every component has 0 to 32 bits, a
 * shift of 0 or more and ends within the pixel. Operations that take a layout refuse an invalid
 * one with an error (origin OrvaneTextureOrigin) and do nothing.
 *
 * Strides are signed byte distances from one row to the next; a stride's magnitude must be at
 * least a row's bytes. Widths and heights are pixels, 0 or more; an image whose byte size
 * (width x height x 4) does not fit a signed 32-bit integer is refused.
 *
 * Threads: every operation works on its arguments only and may run on several threads at once
 * for distinct objects; the stock layouts are read-only.
 *
 * orvane_pixel_layout, orvane_texture, orvane_texture_image and orvane_texture_mip_level are
 * declared in orvane/types.h. */
#ifndef ORVANE_PUBLIC_PIXEL_LAYOUT_H
#define ORVANE_PUBLIC_PIXEL_LAYOUT_H

#include "orvane/common.h"
#include "orvane/types.h"

ORVANE_EXTERN_C_BEGIN

/* ---------------------------------------------------------------------------------------- */
/* Pixel layouts                                                                            */
/* ---------------------------------------------------------------------------------------- */

/* The stock layouts; the letters list the components from the lowest bits upward. An absent
 * component has 0 bits and shift 0. */
ORVANE_API extern const orvane_pixel_layout* const OrvaneRGB555PixelFormat;
ORVANE_API extern const orvane_pixel_layout* const OrvaneRGB565PixelFormat;
ORVANE_API extern const orvane_pixel_layout* const OrvaneRGBA5551PixelFormat;
ORVANE_API extern const orvane_pixel_layout* const OrvaneRGBA4444PixelFormat;
ORVANE_API extern const orvane_pixel_layout* const OrvaneRGB888PixelFormat;
ORVANE_API extern const orvane_pixel_layout* const OrvaneRGBA8888PixelFormat;
ORVANE_API extern const orvane_pixel_layout* const OrvaneARGB8888PixelFormat;
ORVANE_API extern const orvane_pixel_layout* const OrvaneBGR555PixelFormat;
ORVANE_API extern const orvane_pixel_layout* const OrvaneBGR565PixelFormat;
ORVANE_API extern const orvane_pixel_layout* const OrvaneBGRA5551PixelFormat;
ORVANE_API extern const orvane_pixel_layout* const OrvaneBGRA4444PixelFormat;
ORVANE_API extern const orvane_pixel_layout* const OrvaneBGR888PixelFormat;
ORVANE_API extern const orvane_pixel_layout* const OrvaneBGRA8888PixelFormat;

/* The scaling filters of OrvaneScaleImage. */
typedef enum orvane_pixel_filter_type {
    OrvaneCubicPixelFilter = 0,  /* Mitchell-Netravali, B = C = 1/3, radius 2 */
    OrvaneLinearPixelFilter = 1, /* tent, radius 1 */
    OrvaneBoxPixelFilter = 2     /* box, radius 1/2 */
} orvane_pixel_filter_type;

/* True when all nine fields are equal; false when either is null. */
ORVANE_API orvane_bool OrvanePixelLayoutsAreEqual(const orvane_pixel_layout* A,
                                                  const orvane_pixel_layout* B);
/* True when the layout has alpha bits; false for null. */
ORVANE_API orvane_bool OrvanePixelLayoutHasAlpha(const orvane_pixel_layout* Layout);

/* Fills Layout from component widths (red, green, blue, alpha) and a placement that lists
 * component indices (0 to 3) from the lowest bits upward: each placed component starts where
 * the previous one ended. A component of width 0 gets shift 0. Returns BytesPerPixel
 * ((sum of widths + 7) / 8), or 0 and leaves Layout alone when a width is negative, the sum
 * passes 32 bits or the placement is not a permutation of 0..3. */
ORVANE_API orvane_int32 OrvaneSetStockSpecification(orvane_pixel_layout* Layout,
                                                    const orvane_int32 BitsPerComponent[4],
                                                    const orvane_int32 ComponentPlacement[4]);
/* The stock layout description with placement red, green, blue, alpha. */
ORVANE_API orvane_int32 OrvaneSetStockRGBASpecification(orvane_pixel_layout* Layout,
                                                        orvane_int32 RedBits,
                                                        orvane_int32 GreenBits,
                                                        orvane_int32 BlueBits,
                                                        orvane_int32 AlphaBits);
/* The stock layout description with placement blue, green, red, alpha. */
ORVANE_API orvane_int32 OrvaneSetStockBGRASpecification(orvane_pixel_layout* Layout,
                                                        orvane_int32 RedBits,
                                                        orvane_int32 GreenBits,
                                                        orvane_int32 BlueBits,
                                                        orvane_int32 AlphaBits);
/* Exchanges the red and blue shifts and widths. */
ORVANE_API void OrvaneSwapRGBAToBGRA(orvane_pixel_layout* Layout);

/* Converts a Width x Height rectangle from one layout to another. Each destination component
 * takes the top bits of the source component: a wider source loses its low bits, a narrower
 * one leaves the low destination bits 0, a component the source lacks comes out 0 (so alpha
 * is 0 after converting from a layout without alpha) and bits of no destination component
 * are 0. Exactly BytesPerPixel bytes per pixel are read and written; nothing past the end of
 * a row is touched. The rectangles must not overlap unless they are the same memory with
 * equal pixel sizes and strides. Invalid layouts, null pixels with a non-empty rectangle,
 * negative sizes and strides smaller than a row log an error and write nothing. */
ORVANE_API void OrvaneConvertPixelFormat(orvane_int32 Width, orvane_int32 Height,
                                         const orvane_pixel_layout* SourceLayout,
                                         orvane_int32 SourceStride, const void* SourcePixels,
                                         const orvane_pixel_layout* DestLayout,
                                         orvane_int32 DestStride, void* DestPixels);

/* Resamples a 4-byte-per-pixel image with a separable filter (orvane_pixel_filter_type); each
 * byte of a pixel is an independent channel, rounded and clamped to 0..255. Source index x
 * maps to destination index x * scale, scale = (m - 1) / (n - 1) (m / n when either size is
 * 1); taps outside the source are mirrored. An invalid filter, an empty source with a
 * non-empty destination, null pixels or short strides log an error and write nothing; out of
 * memory writes nothing. Source and destination must not overlap. */
ORVANE_API void OrvaneScaleImage(orvane_int32 Filter, orvane_int32 SourceWidth,
                                 orvane_int32 SourceHeight, orvane_int32 SourceStride,
                                 const void* SourcePixels, orvane_int32 DestWidth,
                                 orvane_int32 DestHeight, orvane_int32 DestStride,
                                 void* DestPixels);

/* Reorder an image into the GameCube's 4 x 4 tiled layout, tiles row-major, band by band. The
 * rightmost Width % 4 columns and bottom Height % 4 rows are ignored. ARGB8888 (bytes A, R, G,
 * B): each tile is 64 bytes, the sixteen A R pairs in pixel order, then the sixteen G B pairs.
 * 16-bit pixels: each tile is 32 bytes, 8 bytes of each of its four rows. Dest receives
 * (Width / 4) x (Height / 4) tiles. */
ORVANE_API void OrvaneARGB8888SwizzleNGC(orvane_int32 Width, orvane_int32 Height,
                                         orvane_int32 SourceStride, const void* SourcePixels,
                                         void* Dest);
ORVANE_API void OrvaneAll16SwizzleNGC(orvane_int32 Width, orvane_int32 Height,
                                      orvane_int32 SourceStride, const void* SourcePixels,
                                      void* Dest);

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_PIXEL_LAYOUT_H */

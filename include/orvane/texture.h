/* Orvane textures: pixel layouts and conversion, image scaling, GameCube tiling, textures,
 * the texture builder (raw, S3TC and Quib wavelet encodings) and the Quib codec.
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
 * for distinct objects; the stock layouts are read-only and the encoders' tables are built at
 * compile time. A builder is used from one thread at a time.
 *
 * orvane_pixel_layout, orvane_texture, orvane_texture_image and orvane_texture_mip_level are
 * declared in orvane/types.h.
 */
#ifndef ORVANE_TEXTURE_H
#define ORVANE_TEXTURE_H

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

/* ---------------------------------------------------------------------------------------- */
/* Textures                                                                                 */
/* ---------------------------------------------------------------------------------------- */

typedef enum orvane_texture_type {
    OrvaneColorMapTextureType = 0,
    OrvaneCubeMapTextureType = 1
} orvane_texture_type;

typedef enum orvane_texture_encoding {
    OrvaneUserTextureEncoding = 0,
    OrvaneRawTextureEncoding = 1,
    OrvaneS3TCTextureEncoding = 2,
    OrvaneQuibTextureEncoding = 3
} orvane_texture_encoding;

typedef enum orvane_s3tc_texture_format {
    OrvaneS3TCBGR565 = 0,                    /* DXT1 */
    OrvaneS3TCBGRA5551 = 1,                  /* DXT1 with 1-bit alpha */
    OrvaneS3TCBGRA8888MappedAlpha = 2,       /* DXT2/3 */
    OrvaneS3TCBGRA8888InterpolatedAlpha = 3, /* DXT4/5 */
    OrvaneS3TCBestMatch = 0xffff             /* the best-match builder before it decides */
} orvane_s3tc_texture_format;

/* Quib flag: the image has alpha. */
#define ORVANE_QUIB_ALPHA_FLAG 1

/* Constant names; unknown values give "Unknown ..." names. */
ORVANE_API const char* OrvaneGetTextureTypeName(orvane_int32 TextureType);
ORVANE_API const char* OrvaneGetTextureEncodingName(orvane_int32 Encoding);
ORVANE_API const char* OrvaneGetS3TCTextureFormatName(orvane_int32 SubFormat);

/* The stock layout of decoded S3TC data: BGR565 for 0, BGRA5551 for 1, BGRA8888 otherwise. */
ORVANE_API const orvane_pixel_layout* OrvaneGetS3TCPixelLayout(orvane_int32 SubFormat);
/* Bytes of an S3TC image: 8 (subformats 0, 1) or 16 (2, 3) per 4 x 4 block, a partial block at
 * the right or bottom edge counting whole. Unknown subformats log an error and give 0, as do
 * negative sizes and sizes whose byte count passes int32. */
ORVANE_API orvane_int32 OrvaneGetS3TCImageSize(orvane_int32 SubFormat, orvane_int32 Width,
                                               orvane_int32 Height);
/* Stride x Height; 0 with an error when negative or past int32. */
ORVANE_API orvane_int32 OrvaneGetRawImageSize(const orvane_pixel_layout* Layout,
                                              orvane_int32 Stride, orvane_int32 Width,
                                              orvane_int32 Height);
/* Copies the layout a texture's pixels are best copied out in (the stored layout for raw and
 * Quib, the S3TC layout of its subformat) and returns true; false for other encodings. */
ORVANE_API orvane_bool OrvaneGetRecommendedPixelLayout(const orvane_texture* Texture,
                                                       orvane_pixel_layout* Layout);
/* Whether the texture's layout has alpha bits. */
ORVANE_API orvane_bool OrvaneTextureHasAlpha(const orvane_texture* Texture);

/* Decodes MIP level MIPIndex of image ImageIndex into DestPixels in DestLayout. The level is
 * max(1, Width >> MIPIndex) x max(1, Height >> MIPIndex); the destination must have that size
 * (otherwise the warning "Automatic rescaling not supported" and false). The texture is
 * checked first (sizes, strides, byte counts, layout, subformat) as data from a file; a level
 * whose stored data cannot hold its pixels, an unknown S3TC subformat, a damaged Quib stream
 * or a user-defined encoding give false. On false nothing is written except, for a damaged
 * Quib stream, a partly written destination. */
ORVANE_API orvane_bool OrvaneCopyTextureImage(const orvane_texture* Texture,
                                              orvane_int32 ImageIndex, orvane_int32 MIPIndex,
                                              const orvane_pixel_layout* DestLayout,
                                              orvane_int32 DestWidth, orvane_int32 DestHeight,
                                              orvane_int32 DestStride, void* DestPixels);

/* ---------------------------------------------------------------------------------------- */
/* Texture builder                                                                          */
/* ---------------------------------------------------------------------------------------- */

typedef struct orvane_texture_builder orvane_texture_builder;

/* Begin a colour-map texture. Null when out of memory or the arguments are refused (sizes
 * below 1 or past int32 bytes, invalid layout, unknown subformat). A raw stride alignment
 * below 1 is taken as 1. A Quib compression ratio below 1 is taken as 1. */
ORVANE_API orvane_texture_builder* OrvaneBeginRawTexture(orvane_int32 Width, orvane_int32 Height,
                                                         const orvane_pixel_layout* Layout,
                                                         orvane_int32 StrideAlignment);
ORVANE_API orvane_texture_builder* OrvaneBeginS3TCTexture(orvane_int32 Width, orvane_int32 Height,
                                                          orvane_int32 SubFormat);
/* Chooses explicit (2) or interpolated (3) alpha, whichever has the smaller alpha error, on
 * the first level it encodes; every later level and image keeps that choice. */
ORVANE_API orvane_texture_builder* OrvaneBeginBestMatchS3TCTexture(orvane_int32 Width,
                                                                   orvane_int32 Height);
ORVANE_API orvane_texture_builder* OrvaneBeginQuibTexture(orvane_int32 Width, orvane_int32 Height,
                                                          orvane_int32 CompressionRatio,
                                                          orvane_int32 Flags);
/* Stores both filters (orvane_pixel_filter_type, default cubic); scaling uses the downsampling
 * filter. An invalid filter logs an error and changes nothing. */
ORVANE_API void OrvaneSetImageScalingFilter(orvane_texture_builder* Builder,
                                            orvane_int32 UpsamplingFilter,
                                            orvane_int32 DownsamplingFilter);
/* Adds one image of MIPLevelCount levels (1 to 32) from RGBA8888 Pixels of Width x Height.
 * Level 0 has the builder's size; each further level halves both sizes (levels past the last
 * halving have width or height 0 and no pixels). Levels whose size differs from the image are
 * scaled from the full image. Refused arguments log an error and add nothing. */
ORVANE_API void OrvaneEncodeImage(orvane_texture_builder* Builder, orvane_int32 Width,
                                  orvane_int32 Height, orvane_int32 Stride,
                                  orvane_int32 MIPLevelCount, const void* Pixels);
/* The bytes OrvaneEndTextureInPlace needs; 0 for null. */
ORVANE_API orvane_int32 OrvaneGetResultingTextureSize(const orvane_texture_builder* Builder);
/* Finish into Memory (at least pointer-aligned, GetResultingTextureSize bytes) or into one new
 * block the caller frees with OrvaneFreeBuilderResult.
 * The builder is freed either way. Null for a null builder (or null Memory, which still frees
 * the builder). */
ORVANE_API orvane_texture* OrvaneEndTextureInPlace(orvane_texture_builder* Builder, void* Memory);
ORVANE_API orvane_texture* OrvaneEndTexture(orvane_texture_builder* Builder);

/* ---------------------------------------------------------------------------------------- */
/* Quib wavelet codec                                                                       */
/* ---------------------------------------------------------------------------------------- */

/* RGBA8888 when AlphaFlag is not 0, RGB888 otherwise. */
ORVANE_API const orvane_pixel_layout* OrvaneGetQuibPixelLayout(orvane_int32 AlphaFlag);
/* The largest number of bytes OrvaneQuibCompressTexture writes for these arguments; 0 for
 * refused sizes. */
ORVANE_API orvane_int32 OrvaneGetMaximumQuibImageSize(orvane_int32 Width, orvane_int32 Height,
                                                      orvane_int32 Flags,
                                                      orvane_int32 CompressionRatio);
/* Compresses RGBA8888 Pixels (alpha coded only when Flags has ORVANE_QUIB_ALPHA_FLAG) to about
 * Width x Height x channels / CompressionRatio bytes (ratio below 1 taken as 1; a ratio of 1
 * is near lossless), never more than OrvaneGetMaximumQuibImageSize. Returns the bytes written
 * to Output, 0 on refused arguments or out of memory. */
ORVANE_API orvane_int32 OrvaneQuibCompressTexture(orvane_int32 Width, orvane_int32 Height,
                                                  orvane_int32 Stride, const void* Pixels,
                                                  orvane_int32 Flags, orvane_int32 CompressionRatio,
                                                  void* Output);
/* Decodes ByteCount bytes of Data into DestPixels (Width x Height in DestLayout). False, with
 * an error, when the stream does not describe an image of this size and these flags, is
 * damaged, or the arguments are refused. A missing alpha channel decodes as 255. */
ORVANE_API orvane_bool OrvaneQuibDecompressTexture(orvane_int32 Width, orvane_int32 Height,
                                                   orvane_int32 Flags, orvane_int32 ByteCount,
                                                   const void* Data,
                                                   const orvane_pixel_layout* DestLayout,
                                                   orvane_int32 DestStride, void* DestPixels);

ORVANE_EXTERN_C_END

#endif /* ORVANE_TEXTURE_H */

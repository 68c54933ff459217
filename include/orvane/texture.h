/* Orvane textures: texture queries and decoding of raw, S3TC and Quib images into any layout.
 *
 * Threads: every operation works on its arguments only and may run on several threads at once. */
#ifndef ORVANE_TEXTURE_H
#define ORVANE_TEXTURE_H

#include "orvane/common.h"
#include "orvane/types.h"
#include "orvane/pixel_layout.h"

ORVANE_EXTERN_C_BEGIN

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
/* Quib wavelet codec                                                                       */
/* ---------------------------------------------------------------------------------------- */

/* RGBA8888 when AlphaFlag is not 0, RGB888 otherwise. */
ORVANE_API const orvane_pixel_layout* OrvaneGetQuibPixelLayout(orvane_int32 AlphaFlag);
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

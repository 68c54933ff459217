/* Orvane texture builder (offline): textures from pixels in raw, S3TC and Quib wavelet encodings,
 * and the Quib encoder.
 *
 * Threads: a builder is used from one thread at a time; the encoders' tables are built at
 * compile time. */
#ifndef ORVANE_PUBLIC_TEXTURE_BUILDER_H
#define ORVANE_PUBLIC_TEXTURE_BUILDER_H

#include "orvane/common.h"
#include "orvane/types.h"
#include "orvane/pixel_layout.h"

ORVANE_EXTERN_C_BEGIN

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
/* OrvaneBeginS3TCTexture takes subformats 0 to 3, or OrvaneS3TCBestMatch, which makes the
 * builder of OrvaneBeginBestMatchS3TCTexture.
 * The best-match builder chooses explicit (2) or interpolated (3) alpha, whichever has the smaller
 * alpha error, on the first level it encodes; every later level and image keeps that choice. */
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
/* Quib wavelet encoder                                                                     */
/* ---------------------------------------------------------------------------------------- */

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

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_TEXTURE_BUILDER_H */

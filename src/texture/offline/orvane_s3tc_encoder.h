// S3TC (DXT1, DXT3, DXT5) encoding: a colour encoder that refines principal-axis end points in
// the quantised 5:6:5 space against the exact decoded palette (orvane_s3tc.h), and explicit and
// interpolated alpha encoders.
#ifndef ORVANE_S3TC_ENCODER_H
#define ORVANE_S3TC_ENCODER_H

#include "texture/orvane_s3tc.h"

namespace orvane {

// Encodes RGBA8888 pixels (bytes R, G, B, A) into S3TCImageBytes bytes. Edge blocks that the
// image covers only partly are padded by repeating the last column and row. subFormat 0..3.
void EncodeS3TCImage(int32_t subFormat, int32_t width, int32_t height, int64_t stride,
                     const uint8_t* rgba, uint8_t* blocks);
// Encodes with whichever DXT3 / DXT5 alpha has the smaller total squared alpha error (DXT3
// when they tie) and returns the subformat chosen (2 or 3).
int32_t EncodeS3TCImageBestAlpha(int32_t width, int32_t height, int64_t stride, const uint8_t* rgba,
                                 uint8_t* blocks);
// Single blocks, for the codec's own tests: 16 pixels row-major, bytes R, G, B, A.
void EncodeDXT1Block(const uint8_t rgba[64], bool transparentAlpha, uint8_t block[8]);
void EncodeDXT3Block(const uint8_t rgba[64], uint8_t block[16]);
void EncodeDXT5Block(const uint8_t rgba[64], uint8_t block[16]);
}  // namespace orvane

#endif  // ORVANE_S3TC_ENCODER_H

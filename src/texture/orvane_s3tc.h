// S3TC (DXT1, DXT3, DXT5) block encoding and decoding of whole images.
#ifndef ORVANE_S3TC_H
#define ORVANE_S3TC_H

#include <cstdint>

namespace orvane {

// Block bytes of a subformat (0..3), 0 for others.
int32_t S3TCBlockBytes(int32_t subFormat);
// Bytes of a width x height image (partial edge blocks count whole); -1 when the subformat is
// unknown or the size passes int32.
int64_t S3TCImageBytes(int32_t subFormat, int32_t width, int32_t height);

// Encodes RGBA8888 pixels (bytes R, G, B, A) into S3TCImageBytes bytes. Edge blocks that the
// image covers only partly are padded by repeating the last column and row. subFormat 0..3.
void EncodeS3TCImage(int32_t subFormat, int32_t width, int32_t height, int64_t stride,
                     const uint8_t* rgba, uint8_t* blocks);
// Encodes with whichever DXT3 / DXT5 alpha has the smaller total squared alpha error (DXT3
// when they tie) and returns the subformat chosen (2 or 3).
int32_t EncodeS3TCImageBestAlpha(int32_t width, int32_t height, int64_t stride, const uint8_t* rgba,
                                 uint8_t* blocks);
// Decodes into BGRA8888 pixels (bytes B, G, R, A). subFormat 0..3; subformat 0 decodes alpha
// as 255, subformat 1 as 0 for the transparent colour.
void DecodeS3TCImage(int32_t subFormat, int32_t width, int32_t height, const uint8_t* blocks,
                     int64_t destStride, uint8_t* bgra);

// Single blocks, for the codec's own tests: 16 pixels row-major, bytes R, G, B, A.
void EncodeDXT1Block(const uint8_t rgba[64], bool transparentAlpha, uint8_t block[8]);
void EncodeDXT3Block(const uint8_t rgba[64], uint8_t block[16]);
void EncodeDXT5Block(const uint8_t rgba[64], uint8_t block[16]);
// Decoded pixels as bytes R, G, B, A.
void DecodeDXT1Block(const uint8_t block[8], bool transparentAlpha, uint8_t rgba[64]);
void DecodeDXT3Block(const uint8_t block[16], uint8_t rgba[64]);
void DecodeDXT5Block(const uint8_t block[16], uint8_t rgba[64]);

}  // namespace orvane

#endif  // ORVANE_S3TC_H

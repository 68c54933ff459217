// The Quib wavelet codec's encoder (the decoder is orvane_quib.h; the model both share is
// orvane_quib_model.h).
#ifndef ORVANE_QUIB_ENCODER_H
#define ORVANE_QUIB_ENCODER_H

#include <cstdint>

#include "texture/orvane_quib.h"

namespace orvane {

// The largest stream for these arguments (sizes checked by the caller); the budget plus the
// header and the coder's flush.
int64_t QuibMaximumBytes(int32_t width, int32_t height, int32_t flags, int32_t ratio);
// Compresses RGBA8888 pixels into output (QuibMaximumBytes bytes); returns the bytes written,
// 0 when out of memory.
int32_t QuibEncode(int32_t width, int32_t height, int64_t stride, const uint8_t* rgba,
                   int32_t flags, int32_t ratio, uint8_t* output);

}  // namespace orvane

#endif  // ORVANE_QUIB_ENCODER_H

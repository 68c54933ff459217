// The Quib wavelet image codec: a CDF 9/7 wavelet over a colour transform, coded bit plane by
// bit plane with an adaptive binary arithmetic coder, cut at the byte budget. This is its
// decoder; the encoder is offline code (offline/orvane_quib_encoder.h).
#ifndef ORVANE_QUIB_H
#define ORVANE_QUIB_H

#include <cstdint>

#include "orvane/texture.h"

namespace orvane {

// Decodes into dest in the given layout (checked by the caller); false with an error when the
// stream does not match the size and flags or is damaged.
bool QuibDecode(int32_t width, int32_t height, int32_t flags, int32_t byteCount,
                const uint8_t* data, const orvane_pixel_layout& layout, int64_t destStride,
                uint8_t* dest);

}  // namespace orvane

#endif  // ORVANE_QUIB_H

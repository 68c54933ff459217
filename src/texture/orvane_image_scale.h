// Separable resampling of 32-bit images.
#ifndef ORVANE_IMAGE_SCALE_H
#define ORVANE_IMAGE_SCALE_H

#include <cstdint>

namespace orvane {

// The scaling without argument checks (filter 0..2, sizes >= 1, geometry checked). Returns
// false when out of memory, having written nothing.
bool ScaleImage32(int32_t filter, int32_t sourceWidth, int32_t sourceHeight, int64_t sourceStride,
                  const uint8_t* source, int32_t destWidth, int32_t destHeight, int64_t destStride,
                  uint8_t* dest);

}  // namespace orvane

#endif  // ORVANE_IMAGE_SCALE_H

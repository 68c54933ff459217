// Track groups: the name order shared by lookups, the builder and re-sorting, and the constant
// substitute of a track.
#ifndef ORVANE_TRACK_GROUP_H
#define ORVANE_TRACK_GROUP_H

#include "core/orvane_private.h"
#include "orvane/types.h"

#include <cstdint>

namespace orvane {

// The library's name order: the installed comparison callback, else OrvaneStringDifference.
int32_t CompareTrackNames(const char* a, const char* b);

// Flags 0, then each non-identity curve's knot 0 value with its bit; identity curves hold the
// identity value without the bit.
void BuildTrackConstantTransform(const orvane_transform_track* track, orvane_transform* result);

}  // namespace orvane

#endif  // ORVANE_TRACK_GROUP_H

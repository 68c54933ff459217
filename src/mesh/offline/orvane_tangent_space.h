// Tangent frames from texture coordinates, shared by the exported entry and the mesh builder.
#ifndef ORVANE_TANGENT_SPACE_H
#define ORVANE_TANGENT_SPACE_H

#include <cstdint>

#include "core/orvane_private.h"
#include "orvane/mesh.h"

namespace orvane {

// Arrays hold vertexCapacity vertices; the result is the new vertex count, or -1 after an
// error (nothing written then).
int32_t BuildTangentFrames(int32_t triangleCount, int32_t* indices, float* triangleFrames,
                           int32_t vertexCount, int32_t vertexCapacity,
                           const orvane_data_type_definition* layout, void* vertices,
                           float* vertexFrames, int32_t* coincidentNext, int32_t* vertexToTriangle,
                           float mergingTolerance);

}  // namespace orvane

#endif  // ORVANE_TANGENT_SPACE_H

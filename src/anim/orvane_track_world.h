// The per-bone world steps the track samplers end with: World = M(local) * Parent and
// Composite = InverseWorld * World, as affine 4x4 products (row-major arrays, the left factor
// applied first). Each form reads only the parts of the local transform it names and equals
// the full form for a transform whose other parts are the identity. Outputs must not alias
// the inputs.
#ifndef ORVANE_TRACK_WORLD_H
#define ORVANE_TRACK_WORLD_H

#include "core/orvane_private.h"
#include "math/orvane_math_internal.h"

namespace orvane {
namespace tracks {

inline void BuildBoneIdentity(const float* parent, const float* inverseWorld, float* composite,
                              float* world) {
    for (int i = 0; i < 16; ++i)
        world[i] = parent[i];
    ColumnMatrixMultiply4x3(composite, inverseWorld, world);
}

inline void BuildBonePosition(const float position[3], const float* parent,
                              const float* inverseWorld, float* composite, float* world) {
    for (int i = 0; i < 12; ++i)
        world[i] = parent[i];
    for (int c = 0; c < 3; ++c)
        world[12 + c] = position[0] * parent[c] + position[1] * parent[4 + c] +
                        position[2] * parent[8 + c] + parent[12 + c];
    world[15] = 1.0f;
    ColumnMatrixMultiply4x3(composite, inverseWorld, world);
}

inline void BuildBonePositionOrientation(const float position[3], const float orientation[4],
                                         const float* parent, const float* inverseWorld,
                                         float* composite, float* world) {
    orvane_transform local;
    local.Flags = OrvaneTransformHasPosition | OrvaneTransformHasOrientation;
    for (int c = 0; c < 3; ++c)
        local.Position[c] = position[c];
    for (int c = 0; c < 4; ++c)
        local.Orientation[c] = orientation[c];
    float m[16];
    BuildCompositeTransform4x4(local, m);
    ColumnMatrixMultiply4x3(world, m, parent);
    ColumnMatrixMultiply4x3(composite, inverseWorld, world);
}

inline void BuildBoneFull(const orvane_transform& local, const float* parent,
                          const float* inverseWorld, float* composite, float* world) {
    float m[16];
    BuildCompositeTransform4x4(local, m);
    ColumnMatrixMultiply4x3(world, m, parent);
    ColumnMatrixMultiply4x3(composite, inverseWorld, world);
}

}  // namespace tracks
}  // namespace orvane

#endif  // ORVANE_TRACK_WORLD_H

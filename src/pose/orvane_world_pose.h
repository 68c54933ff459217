// The world pose record and the per-bone builders that compose it, for the modules that
// write world poses themselves (sampling straight into a world pose) or read its matrices
// (skinning).
//
// Every matrix is sixteen floats in the library's 4x4 layout (read as a row-major array, the
// matrix for row vectors; translation in 12..14). World(i) = M(local i) * parent, and
// Composite(i) = InverseWorld(i) * World(i), both affine products: elements 3, 7, 11 and 15
// of the inputs are not read and those of the outputs are 0, 0, 0, 1. Builders accept any
// alignment (the pose's own arrays are 16-byte aligned; skeleton matrices need not be); the
// outputs must not overlap the inputs.
#ifndef ORVANE_WORLD_POSE_H
#define ORVANE_WORLD_POSE_H

#include "core/orvane_private.h"
#include "orvane/world_pose.h"

#include <cstddef>
#include <cstdint>

struct orvane_local_pose_bone;

struct orvane_world_pose {
    int32_t BoneCount;
    float* WorldTransformBuffer;      // BoneCount x 16, 16-byte aligned
    float* CompositeTransformBuffer;  // BoneCount x 16, 16-byte aligned
};

namespace orvane {

// The per-bone builders. They differ in what they read of the local transform: nothing
// (identity: World = parent), the position, the position and orientation, or everything.
using BuildBoneIdentityFunction = void (*)(const float* parent, const float* inverseWorld,
                                           float* composite, float* world);
using BuildBonePositionFunction = void (*)(const float* position, const float* parent,
                                           const float* inverseWorld, float* composite,
                                           float* world);
using BuildBonePositionOrientationFunction = void (*)(const float* position,
                                                      const float* orientation, const float* parent,
                                                      const float* inverseWorld, float* composite,
                                                      float* world);
using BuildBoneFullFunction = void (*)(const orvane_transform& transform, const float* parent,
                                       const float* inverseWorld, float* composite, float* world);
// World(i) only, choosing by the transform's flags as BuildBone does.
using BuildBoneWorldFunction = void (*)(const orvane_transform& transform, const float* parent,
                                        float* world);
// Composite = InverseWorld * World.
using BuildBoneCompositeFunction = void (*)(const float* inverseWorld, const float* world,
                                            float* composite);

// Where the transforms of a walk come from. Bone i takes entry i of base (stride bytes
// apart); with reverse, entry reverse[i], or the skeleton's rest transform when that is -1.
// The walk's caller has checked every index it implies.
struct WorldPoseSource {
    const char* base;
    size_t stride;
    const int32_t* reverse;
};

// Builds bones [first, end) in increasing order. offset is 16 floats with a clean fourth
// column; composites may be null (world matrices only). Each bone's parent index must be -1 or
// below its own (bones before first count as built): the walk checks it as it reads it, and
// stops at the first bone that breaks it, writing nothing for that bone or any after it.
// Returns that bone's index, or end when every bone was built.
using BuildWorldPoseRangeFunction = int32_t (*)(const orvane_bone* bones, int32_t first,
                                                int32_t end, const WorldPoseSource& source,
                                                const float* offset, float* worlds,
                                                float* composites);

// Whether a bone's parent index lets a walk in index order build it: -1 (a root) or a lower
// index. One unsigned comparison.
inline bool ParentPrecedes(int32_t parent, int32_t bone) {
    return static_cast<uint32_t>(parent) + 1u <= static_cast<uint32_t>(bone);
}

using BuildCompositeRangeFunction = void (*)(const orvane_bone* bones, int32_t first, int32_t end,
                                             const float* worlds, float* composites);

enum class WorldPosePath { Generic = 0, SSE = 1, AVX2 = 2 };
inline constexpr int kWorldPosePathCount = 3;

struct WorldPoseRoutines {
    WorldPosePath path;
    const char* name;  // "generic", "sse", "avx2"
    BuildBoneIdentityFunction buildBoneIdentity;
    BuildBonePositionFunction buildBonePosition;
    BuildBonePositionOrientationFunction buildBonePositionOrientation;
    BuildBoneFullFunction buildBoneFull;
    BuildBoneWorldFunction buildBoneWorld;
    BuildBoneCompositeFunction buildBoneComposite;
    BuildWorldPoseRangeFunction buildRange;
    BuildCompositeRangeFunction buildCompositeRange;
};

// The routines of this process, chosen once (race-free) on first use from the processor:
// AVX2 with FMA where the processor and the operating system support them, else SSE on x86,
// else generic. The environment variable ORVANE_WORLD_POSE_PATH ("generic", "sse", "avx2")
// forces a path at that first use when this build and processor have it; the CMake option
// ORVANE_WORLD_POSE_GENERIC_ONLY builds the generic path alone.
const WorldPoseRoutines& ChosenWorldPoseRoutines();

// The routines of one path, or null when this build or processor lacks it (for tests and
// benchmarks that compare the paths).
const WorldPoseRoutines* WorldPoseRoutinesFor(WorldPosePath path);

// The paths' tables, defined by their own modules; null where not compiled in.
const WorldPoseRoutines* GenericWorldPoseRoutines();
const WorldPoseRoutines* SseWorldPoseRoutines();
const WorldPoseRoutines* Avx2WorldPoseRoutines();

// Builds World(i) and Composite(i) of one bone with the per-bone builder that its flags
// select.
inline void BuildBone(const WorldPoseRoutines& r, const orvane_transform& t, const float* parent,
                      const float* inverseWorld, float* composite, float* world) {
    if (t.Flags & OrvaneTransformHasScaleShear) {
        r.buildBoneFull(t, parent, inverseWorld, composite, world);
    } else if (t.Flags == OrvaneTransformHasPosition) {
        r.buildBonePosition(t.Position, parent, inverseWorld, composite, world);
    } else if (t.Flags == 0) {
        r.buildBoneIdentity(parent, inverseWorld, composite, world);
    } else {
        r.buildBonePositionOrientation(t.Position, t.Orientation, parent, inverseWorld, composite,
                                       world);
    }
}

inline const float* InverseWorldOf(const orvane_bone& bone) {
    return &bone.InverseWorldTransform[0][0];
}

// Matrix arrays of a pose (BoneCount x 16 floats each).
inline float* WorldMatrices(const orvane_world_pose& pose) {
    return pose.WorldTransformBuffer;
}
inline float* CompositeMatrices(const orvane_world_pose& pose) {
    return pose.CompositeTransformBuffer;
}

}  // namespace orvane

#endif  // ORVANE_WORLD_POSE_H

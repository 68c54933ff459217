// The generic world-pose path: plain float arithmetic, the reference for the other paths and
// the path of processors without them. Products are summed in the order of the library's
// affine 4x4 product: ((a0 b0 + a1 b1) + a2 b2) (+ b3 for the translation row).
#include "pose/orvane_world_pose.h"

#include "math/orvane_math_internal.h"

namespace orvane {
namespace {

#include "pose/orvane_world_pose_walk.h"

// m holds the first three rows (12 floats, fourth of each ignored) of the local matrix; the
// translation row is position.
inline void AffineProduct(const float* m, const float* position, const float* parent,
                          float* world) {
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            world[4 * i + j] =
                m[4 * i] * parent[j] + m[4 * i + 1] * parent[4 + j] + m[4 * i + 2] * parent[8 + j];
        world[4 * i + 3] = 0.0f;
    }
    for (int j = 0; j < 3; ++j)
        world[12 + j] = position[0] * parent[j] + position[1] * parent[4 + j] +
                        position[2] * parent[8 + j] + parent[12 + j];
    world[15] = 1.0f;
}

inline void RotationRows(const float* q, float* m) {
    float r[9];
    scalar::RotationMatrix(r, q);
    // Row j of the local matrix is column j of R.
    for (int j = 0; j < 3; ++j) {
        m[4 * j] = r[j];
        m[4 * j + 1] = r[3 + j];
        m[4 * j + 2] = r[6 + j];
        m[4 * j + 3] = 0.0f;
    }
}

inline void FullRows(const orvane_transform& t, float* m) {
    float r[9];
    scalar::RotationMatrix(r, t.Orientation);
    Multiply3x3(r, r, ScaleShearOf(t));
    for (int j = 0; j < 3; ++j) {
        m[4 * j] = r[j];
        m[4 * j + 1] = r[3 + j];
        m[4 * j + 2] = r[6 + j];
        m[4 * j + 3] = 0.0f;
    }
}

struct GenericKernel {
    static void Composite(const float* inverseWorld, const float* world, float* composite) {
        AffineProduct(inverseWorld, inverseWorld + 12, world, composite);
    }
    static void WorldIdentity(const float* parent, float* world) {
        for (int i = 0; i < 16; ++i)
            world[i] = parent[i];
    }
    static void WorldPosition(const float* position, const float* parent, float* world) {
        for (int i = 0; i < 12; ++i)
            world[i] = parent[i];
        for (int j = 0; j < 3; ++j)
            world[12 + j] = position[0] * parent[j] + position[1] * parent[4 + j] +
                            position[2] * parent[8 + j] + parent[12 + j];
        world[15] = 1.0f;
    }
    static void WorldPositionOrientation(const float* position, const float* orientation,
                                         const float* parent, float* world) {
        float m[12];
        RotationRows(orientation, m);
        AffineProduct(m, position, parent, world);
    }
    static void WorldFull(const orvane_transform& t, const float* parent, float* world) {
        float m[12];
        FullRows(t, m);
        AffineProduct(m, t.Position, parent, world);
    }
    static void Identity(const float* parent, const float* inverseWorld, float* composite,
                         float* world) {
        WorldIdentity(parent, world);
        Composite(inverseWorld, world, composite);
    }
    static void Position(const float* position, const float* parent, const float* inverseWorld,
                         float* composite, float* world) {
        WorldPosition(position, parent, world);
        Composite(inverseWorld, world, composite);
    }
    static void PositionOrientation(const float* position, const float* orientation,
                                    const float* parent, const float* inverseWorld,
                                    float* composite, float* world) {
        WorldPositionOrientation(position, orientation, parent, world);
        Composite(inverseWorld, world, composite);
    }
    static void Full(const orvane_transform& t, const float* parent, const float* inverseWorld,
                     float* composite, float* world) {
        WorldFull(t, parent, world);
        Composite(inverseWorld, world, composite);
    }
};

// Constant-initialised: no code of this module runs before the path is chosen.
constexpr WorldPoseRoutines kGeneric =
    MakeRoutines<GenericKernel>(WorldPosePath::Generic, "generic");

}  // namespace

const WorldPoseRoutines* GenericWorldPoseRoutines() {
    return &kGeneric;
}

}  // namespace orvane

// Ray intersection tests for picking and collision: plane, sphere, oriented box, triangle.
#include <cmath>
#include <cstring>

#include "orvane/ray_tests.h"

namespace orvane {
namespace {

constexpr float kLargest = 3.4028235e38f;

inline float Dot(const float a[3], const float b[3]) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// The slab walk shared by both box tests. With Scaled, the face offsets are measured in the
// box's own units (scaled by |a_i|^2) and a ray parallel to a face is rejected when its origin
// lies outside that face; otherwise the offsets are the raw corners and parallel faces are
// skipped.
template <bool Scaled>
bool Slabs(const float box[16], const float min[3], const float max[3], const float origin[3],
           const float direction[3], orvane_box_intersection* result) {
    const float p[3] = {origin[0] - box[12], origin[1] - box[13], origin[2] - box[14]};
    float entry = -kLargest, exit = kLargest;
    int entryFace = -1, exitFace = -1;  // 2 i for a maximum face, 2 i + 1 for a minimum face
    for (int i = 0; i < 3; ++i) {
        const float* axis = box + 4 * i;
        const float scale = Scaled ? Dot(axis, axis) : 1.0f;
        // Along the axis a_i: n . p and n . d for the maximum face; the minimum face has the
        // negated normal.
        const float np = Dot(axis, p);
        const float s = Dot(axis, direction);
        const float maxD = -max[i] * scale;
        const float minD = min[i] * scale;
        if (s != 0.0f) {
            const float inverse = 1.0f / s;
            // Maximum face: normal a_i, offset maxD.
            const float tMax = -(np + maxD) * inverse;
            // Minimum face: normal -a_i, offset minD; -(-np + minD) / -s.
            const float tMin = -(minD - np) * -inverse;
            if (s < 0.0f) {
                // Enters through the maximum face, leaves through the minimum face.
                if (tMax > entry) entry = tMax, entryFace = 2 * i;
                if (tMin < exit) exit = tMin, exitFace = 2 * i + 1;
            } else {
                if (tMin > entry) entry = tMin, entryFace = 2 * i + 1;
                if (tMax < exit) exit = tMax, exitFace = 2 * i;
            }
        } else if (Scaled) {
            // Parallel to both faces: outside either one is a miss. The origin is outside the
            // maximum face when a . p + maxD > 0 and outside the minimum face when
            // -a . p + minD > 0.
            if (np + maxD > 0.0f || minD - np > 0.0f) {
                entry = kLargest;
                exit = -kLargest;
                entryFace = exitFace = -1;
                break;
            }
        }
    }
    if (result) {
        result->EntryT = entry;
        result->ExitT = exit;
        for (int k = 0; k < 3; ++k) {
            result->EntryNormal[k] = 0.0f;
            result->ExitNormal[k] = 0.0f;
        }
        if (entryFace >= 0) {
            const float sign = (entryFace & 1) ? -1.0f : 1.0f;
            for (int k = 0; k < 3; ++k)
                result->EntryNormal[k] = sign * box[4 * (entryFace >> 1) + k];
        }
        if (exitFace >= 0) {
            const float sign = (exitFace & 1) ? -1.0f : 1.0f;
            for (int k = 0; k < 3; ++k)
                result->ExitNormal[k] = sign * box[4 * (exitFace >> 1) + k];
        }
    }
    return entry <= exit && (entry >= 0.0f || exit >= 0.0f);
}

}  // namespace
}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API orvane_int32 OrvaneRayIntersectsPlaneAt(const orvane_real32 normal[3], orvane_real32 d,
                                                   const orvane_real32 origin[3],
                                                   const orvane_real32 direction[3],
                                                   orvane_real32* t) {
    const float s = Dot(normal, direction);
    if (s == 0.0f) return 0;
    const float value = -(Dot(normal, origin) + d) / s;
    *t = value;
    return value >= 0.0f ? 1 : -1;
}

ORVANE_API orvane_bool OrvaneRayIntersectsSphere(const orvane_real32 center[3],
                                                 orvane_real32 radius,
                                                 const orvane_real32 origin[3],
                                                 const orvane_real32 direction[3]) {
    const float w[3] = {center[0] - origin[0], center[1] - origin[1], center[2] - origin[2]};
    const float b = Dot(w, direction);
    return b * b - Dot(w, w) + radius * radius >= 0.0f;
}

ORVANE_API orvane_int32 OrvaneRayIntersectsSphereAt(const orvane_real32 center[3],
                                                    orvane_real32 radius,
                                                    const orvane_real32 origin[3],
                                                    const orvane_real32 direction[3],
                                                    orvane_real32* tNear, orvane_real32* tFar) {
    const float w[3] = {center[0] - origin[0], center[1] - origin[1], center[2] - origin[2]};
    const float b = Dot(w, direction);
    const float discriminant = b * b - Dot(w, w) + radius * radius;
    if (discriminant < 0.0f) return 0;
    const float root = std::sqrt(discriminant);
    const float nearT = b - root, farT = b + root;
    *tNear = nearT;
    *tFar = farT;
    return (nearT >= 0.0f || farT >= 0.0f) ? 1 : -1;
}

ORVANE_API orvane_bool OrvaneRayIntersectsBox(const orvane_real32 box[16],
                                              const orvane_real32 min[3],
                                              const orvane_real32 max[3],
                                              const orvane_real32 origin[3],
                                              const orvane_real32 direction[3]) {
    return Slabs<false>(box, min, max, origin, direction, nullptr);
}

ORVANE_API orvane_bool OrvaneRayIntersectsBoxAt(const orvane_real32 box[16],
                                                const orvane_real32 min[3],
                                                const orvane_real32 max[3],
                                                const orvane_real32 origin[3],
                                                const orvane_real32 direction[3],
                                                orvane_box_intersection* result) {
    return Slabs<true>(box, min, max, origin, direction, result);
}

ORVANE_API orvane_int32 OrvaneRayIntersectsTriangleAt(const orvane_real32 a[3],
                                                      const orvane_real32 b[3],
                                                      const orvane_real32 c[3],
                                                      const orvane_real32 origin[3],
                                                      const orvane_real32 direction[3],
                                                      orvane_triangle_intersection* result) {
    // Plain scalars throughout: with arrays the compiler packs pairs into vectors and spills
    // them for the stores on a hit, which costs more than the whole miss path.
    const float ax = a[0], ay = a[1], az = a[2];
    const float e1x = b[0] - ax, e1y = b[1] - ay, e1z = b[2] - az;
    const float e2x = c[0] - ax, e2y = c[1] - ay, e2z = c[2] - az;
    const float dx = direction[0], dy = direction[1], dz = direction[2];
    const float px = dy * e2z - dz * e2y, py = dz * e2x - dx * e2z, pz = dx * e2y - dy * e2x;
    const float det = e1x * px + e1y * py + e1z * pz;
    if (det == 0.0f) return 0;
    const float inverse = 1.0f / det;
    const float tx = origin[0] - ax, ty = origin[1] - ay, tz = origin[2] - az;
    const float u = (tx * px + ty * py + tz * pz) * inverse;
    if (!(u > 0.0f && u < 1.0f)) return 0;
    const float qx = ty * e1z - tz * e1y, qy = tz * e1x - tx * e1z, qz = tx * e1y - ty * e1x;
    const float v = (dx * qx + dy * qy + dz * qz) * inverse;
    if (!(v > 0.0f && u + v < 1.0f)) return 0;
    const float t = (e2x * qx + e2y * qy + e2z * qz) * inverse;
    // Written on a hit only: a miss leaves the caller's record as it was.
    result->T = t;
    result->U = u;
    result->V = v;
    result->EdgeU[0] = e1x;
    result->EdgeU[1] = e1y;
    result->EdgeU[2] = e1z;
    result->EdgeV[0] = e2x;
    result->EdgeV[1] = e2y;
    result->EdgeV[2] = e2z;
    result->Backfacing = det < 0.0f;
    return t >= 0.0f ? 1 : -1;
}

}  // extern "C"

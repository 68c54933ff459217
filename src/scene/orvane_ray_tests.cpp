// Ray intersection tests for picking and collision: plane, sphere, oriented box, triangle.
#include <cmath>
#include <cstring>

#include "orvane/scene.h"

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
    const float e1[3] = {b[0] - a[0], b[1] - a[1], b[2] - a[2]};
    const float e2[3] = {c[0] - a[0], c[1] - a[1], c[2] - a[2]};
    std::memcpy(result->EdgeU, e1, sizeof(e1));
    std::memcpy(result->EdgeV, e2, sizeof(e2));
    const float d0 = direction[0], d1 = direction[1], d2 = direction[2];
    const float p[3] = {d1 * e2[2] - d2 * e2[1], d2 * e2[0] - d0 * e2[2], d0 * e2[1] - d1 * e2[0]};
    const float det = Dot(e1, p);
    if (det == 0.0f) return 0;
    result->Backfacing = det < 0.0f;
    const float inverse = 1.0f / det;
    const float tv[3] = {origin[0] - a[0], origin[1] - a[1], origin[2] - a[2]};
    const float u = Dot(tv, p) * inverse;
    if (!(u > 0.0f && u < 1.0f)) return 0;
    const float q[3] = {tv[1] * e1[2] - tv[2] * e1[1], tv[2] * e1[0] - tv[0] * e1[2],
                        tv[0] * e1[1] - tv[1] * e1[0]};
    const float v = Dot(direction, q) * inverse;
    if (!(v > 0.0f && u + v < 1.0f)) return 0;
    const float t = Dot(e2, q) * inverse;
    result->T = t;
    result->U = u;
    result->V = v;
    return t >= 0.0f ? 1 : -1;
}

}  // extern "C"

// Fitting a periodic loop: the screw motion that carries a clip's start placement to its end
// placement.
#include <cmath>
#include <cstring>

#include "core/orvane_private.h"
#include "diag/orvane_timing.h"
#include "math/orvane_math_internal.h"
#include "orvane/fit.h"

namespace orvane {
namespace {

// Below this length the relative rotation's vector part is float noise around the identity:
// its axis would be a random direction and the radius it implies unbounded.
constexpr float kNoRotation = 1e-7f;
constexpr float kNoRadius = 0.0001f;
constexpr float kNoDisplacement = 1e-12f;

inline float Dot3(const float a[3], const float b[3]) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

inline void Cross3(float dest[3], const float a[3], const float b[3]) {
    const float x = a[1] * b[2] - a[2] * b[1];
    const float y = a[2] * b[0] - a[0] * b[2];
    const float z = a[0] * b[1] - a[1] * b[0];
    dest[0] = x;
    dest[1] = y;
    dest[2] = z;
}

}  // namespace
}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API void OrvaneFitPeriodicLoop(const orvane_real32 StartPosition[3],
                                      const orvane_real32 StartOrientation[4],
                                      const orvane_real32 EndPosition[3],
                                      const orvane_real32 EndOrientation[4], orvane_real32 Seconds,
                                      orvane_periodic_loop* Loop) {
    ORVANE_TIMING_BLOCK("FitPeriodicLoop");
    OrvaneZeroPeriodicLoop(Loop);
    // The relative rotation r with End = Start (x) r, and the displacement in Start's frame,
    // where the loop vector lives. r keeps its sign: a negative w is a turn of more than half
    // a turn, and stepping by it gives End itself rather than its negation.
    float r[4];
    ConjugateMultiply(r, StartOrientation, EndOrientation);
    const float world[3] = {EndPosition[0] - StartPosition[0], EndPosition[1] - StartPosition[1],
                            EndPosition[2] - StartPosition[2]};
    // The step rotates the loop vector by the rotation matrix of the start orientation as it
    // is, not normalised; for an orientation that is not quite unit that matrix is not quite a
    // rotation, so the displacement is taken back through its inverse rather than its
    // transpose (the transpose when it has none).
    float rotation[9];
    scalar::RotationMatrix(rotation, StartOrientation);
    float back[9];
    float d[3];
    if (Invert3x3(back, rotation))
        Transform3x3(d, back, world);
    else
        TransposeTransform3x3(d, rotation, world);

    const float sine = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
    if (!(sine > kNoRotation)) {
        // No rotation (or a whole turn, which has no axis): the loop is a pure translation
        // along the displacement, or stands still about a fixed axis.
        const float distance = std::sqrt(Dot3(d, d));
        if (distance * distance > kNoDisplacement) {
            for (int c = 0; c < 3; ++c)
                Loop->Axis[c] = d[c] / distance;
            Loop->dZ = distance;
        } else {
            Loop->Axis[2] = 1.0f;
        }
    } else {
        const float angle = 2.0f * std::atan2(sine, r[3]);
        for (int c = 0; c < 3; ++c)
            Loop->Axis[c] = r[c] / sine;
        Loop->dAngle = angle;
        Loop->dZ = Dot3(d, Loop->Axis);
        // The in-plane displacement p is (R(angle) - I) q for the circle's offset q: q is p
        // divided by e^(i angle) - 1 in the plane, whose squared length (the chord factor) is
        // 4 sin^2(angle / 2), taken in that form because 2 (1 - cos) cancels for small angles.
        float p[3];
        for (int c = 0; c < 3; ++c)
            p[c] = d[c] - Loop->dZ * Loop->Axis[c];
        const float half = std::sin(0.5f * angle);
        const float chord = 4.0f * half * half;
        if (chord > 0.0f) {
            float ap[3];
            Cross3(ap, Loop->Axis, p);
            const float cosine = std::cos(angle);
            const float sinAngle = std::sin(angle);
            float q[3];
            for (int c = 0; c < 3; ++c)
                q[c] = ((cosine - 1.0f) * p[c] - sinAngle * ap[c]) / chord;
            const float radius = std::sqrt(Dot3(q, q));
            Loop->Radius = radius;
            if (radius > kNoRadius) {
                for (int c = 0; c < 3; ++c)
                    Loop->BasisX[c] = q[c] / radius;
                Cross3(Loop->BasisY, Loop->Axis, Loop->BasisX);
            }
        }
    }
    if (Seconds > 0.0f) {
        Loop->dAngle /= Seconds;
        Loop->dZ /= Seconds;
    }
}

}  // extern "C"

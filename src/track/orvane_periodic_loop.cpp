// Periodic loops: the screw motion that carries a looping clip's placement from the end of one
// loop to the end of the next, evaluated and stepped (offline/orvane_periodic_loop_fit.cpp fits
// one to a clip).
#include <cmath>
#include <cstring>

#include "core/orvane_private.h"
#include "diag/orvane_timing.h"
#include "math/orvane_math_internal.h"
#include "orvane/periodic_loop.h"

using namespace orvane;

extern "C" {

ORVANE_API void OrvaneZeroPeriodicLoop(orvane_periodic_loop* Loop) {
    std::memset(Loop, 0, sizeof *Loop);
}

ORVANE_API void OrvaneComputePeriodicLoopVector(const orvane_periodic_loop* Loop,
                                                orvane_real32 Seconds, orvane_real32 Result[3]) {
    const float theta = Seconds * Loop->dAngle;
    const float x = Loop->Radius * (std::cos(theta) - 1.0f);
    const float y = Loop->Radius * std::sin(theta);
    const float z = Seconds * Loop->dZ;
    for (int c = 0; c < 3; ++c)
        Result[c] = z * Loop->Axis[c] + x * Loop->BasisX[c] + y * Loop->BasisY[c];
}

ORVANE_API void OrvaneComputePeriodicLoopLog(const orvane_periodic_loop* Loop,
                                             orvane_real32 Seconds, orvane_real32 Result[3]) {
    const float theta = Seconds * Loop->dAngle;
    for (int c = 0; c < 3; ++c)
        Result[c] = theta * Loop->Axis[c];
}

ORVANE_API void OrvaneStepPeriodicLoop(const orvane_periodic_loop* Loop, orvane_real32 Seconds,
                                       orvane_real32 Position[3], orvane_real32 Orientation[4]) {
    float v[3];
    OrvaneComputePeriodicLoopVector(Loop, Seconds, v);
    float world[3];
    RotateVector(world, Orientation, v);
    for (int c = 0; c < 3; ++c)
        Position[c] += world[c];
    const float half = 0.5f * Seconds * Loop->dAngle;
    const float s = std::sin(half);
    const float step[4] = {s * Loop->Axis[0], s * Loop->Axis[1], s * Loop->Axis[2], std::cos(half)};
    float result[4];
    QuaternionMultiply(result, Orientation, step);
    std::memcpy(Orientation, result, sizeof result);
}

}  // extern "C"

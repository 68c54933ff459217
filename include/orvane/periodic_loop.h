/* Orvane periodic loops: the screw motion that carries a looping clip's placement from the end of
 * one loop to the end of the next (offline fitting: orvane/fit.h). */
#ifndef ORVANE_PUBLIC_PERIODIC_LOOP_H
#define ORVANE_PUBLIC_PERIODIC_LOOP_H

#include "orvane/common.h"
#include "orvane/types.h"

ORVANE_EXTERN_C_BEGIN

/* ---------------------------------------------------------------------------------------- */
/* Periodic loops                                                                           */
/* ---------------------------------------------------------------------------------------- */
/* A screw motion (orvane_periodic_loop, orvane/types.h): a rotation of dAngle radians per
 * second about Axis combined with a displacement of dZ per second along it and a circle of
 * Radius in the plane of BasisX and BasisY. Pure functions of their arguments, any thread;
 * arguments are not checked for null. */

/* All 48 bytes zero. */
ORVANE_API void OrvaneZeroPeriodicLoop(orvane_periodic_loop* Loop);
/* The displacement after Seconds in the loop's own frame (a helix from the origin):
 * Seconds dZ Axis + Radius ((cos a - 1) BasisX + sin a BasisY), a = Seconds dAngle. */
ORVANE_API void OrvaneComputePeriodicLoopVector(const orvane_periodic_loop* Loop,
                                                orvane_real32 Seconds, orvane_real32 Result[3]);
/* The rotation vector (axis times angle) of the loop's rotation after Seconds. */
ORVANE_API void OrvaneComputePeriodicLoopLog(const orvane_periodic_loop* Loop,
                                             orvane_real32 Seconds, orvane_real32 Result[3]);
/* Advances a placement in place by Seconds of the loop. */
ORVANE_API void OrvaneStepPeriodicLoop(const orvane_periodic_loop* Loop, orvane_real32 Seconds,
                                       orvane_real32 Position[3], orvane_real32 Orientation[4]);

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_PERIODIC_LOOP_H */

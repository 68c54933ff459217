// The animation compressor's choice of one component's curve (a bone's position, orientation
// or scale/shear, component 0, 1 or 2): the smallest that keeps the component's targets within
// a tolerance, from the identity and a constant through the compact format to B-splines fitted
// on knots at frames in every allowed format and degree; the exact polyline through the samples
// when nothing holds. The fits measure their curves at the frames and halfway between them,
// against work.midTarget (the targets interpolated), and use the fit scratch of the work
// (the solver, the knot and control buffers, the curve buffer); the compressor's driver
// (orvane_animation_compressor.cpp) decides the tolerances and checks the assembled bone.
#ifndef ORVANE_CURVE_CHOICE_H
#define ORVANE_CURVE_CHOICE_H

#include <cstdint>

#include "orvane/types.h"
#include "track/offline/orvane_compression_work.h"

namespace orvane {
namespace compression {

// A component's choice: an encoded curve (owned, from OrvaneEndCurve).
struct Choice {
    orvane_curve2* curve = nullptr;
    int32_t bytes = 0;   // as ChoiceBytes counts them
    float error = 0.0f;  // largest distance from the samples, at the frames
    bool exact = false;
};

// Frees the choice's curve and empties it.
void Release(Choice& choice);

// Whether the mask (of curve formats or degrees) has the bit set.
inline bool Allowed(uint32_t mask, int bit) {
    return (mask >> bit) & 1u;
}

// The component's identity value (3, 4 or 9 values).
const float* IdentityOf(int component);

// Whether the curve is in the compact format.
bool IsCompact(const orvane_curve2* curve);

// The curve's data bytes as the track group stores them (0 without memory).
int32_t DataBytes(const orvane_curve2* curve);
// The bytes by which the compressor compares candidate curves: DataBytes, with a compact
// curve's segment headers and range counted as layout 1 stores them (a byte a header field,
// floats), as the compact fitter compares its choices. The compressor's choices between
// near-equal candidates were settled on those sizes. Compared by layout 2's sizes, the choices
// moved, and captures came out up to 4% larger as often as smaller; counted this way, the
// choices stay, and the captures measured come out smaller by what layout 2 saves.
int32_t ChoiceBytes(const orvane_curve2* curve);

// The smallest curve that keeps the samples (work.sampleCount values of the component's
// dimension) within tolerance at the frames and midTolerance halfway between them: the
// identity, a constant, or a fit in the allowed formats and degrees (bit masks); the exact
// polyline when nothing holds.
Choice ChooseCurve(Work& work, int component, const float* samples, float tolerance,
                   float midTolerance, uint32_t formats, uint32_t degrees);

// The polyline with a knot at every frame through the samples (plain floats): reproduces them
// exactly.
Choice ExactCurve(Work& work, int component, const float* samples);

// The value of the constant remembered in work's pool nearest to value, when it lies within
// radius of it, into value; false when none does.
bool SnapToPool(const Work& work, int dimension, float radius, float* value);

// Remembers the values of a constant curve (of any other curve: nothing) in work's pool.
void RememberConstant(Work& work, const orvane_curve2* curve);

// The middle of the samples' bounding box (orientations on the first one's side, then
// normalised) into value; returns the largest distance of a sample from it.
float StillValue(const float* samples, int32_t count, int dimension, bool quaternion, float* value);

// The 8-byte constant format for the component (positions and orientations) when the formats
// allow it (its own bit, or the compact format's), else -1.
int PackedConstantFormatFor(int component, uint32_t formats);

// The value the 8-byte constant format stores for value (3 or 4 floats) into packed.
void PackedValue(int format, const float* value, float* packed);

// The curve of a still component: the identity when the value is within tolerance of it, else
// the constant, in 8 bytes when the formats allow it and it keeps within packTolerance of the
// value.
Choice StillCurve(int component, const float* value, float tolerance, uint32_t formats = 0,
                  float packTolerance = 0.0f);

}  // namespace compression
}  // namespace orvane

#endif  // ORVANE_CURVE_CHOICE_H

// Exact curves of keyed channels (glTF's, and the scene reader's keys where they lie off any
// frame grid): every key at its time, each channel's interpolation kept. Private to the importer.
#pragma once

#include <vector>

#include "orvane/curve.h"
#include "orvane_gltf_animation.h"

namespace orvane_import {

// A curve ready for the track group builder: Degree, knots, and Dimension controls per knot.
struct ExactCurve {
    int degree = 0;
    int dimension = 3;
    std::vector<float> knots;
    std::vector<float> controls;
};

// One knot holding Value.
ExactCurve Constant(const float* value, int dimension);

// Largest angle (radians) between a unit quaternion blended linearly and renormalised, as
// played, and spherically, between two keys HalfAngle apart.
double BlendAngleError(double halfAngle);

// The curve that plays Channel exactly over [0, Duration] (keys held before the first and after
// the last). STEP: degree 0, each key's value held to the next key. LINEAR: degree 1 through the
// keys; orientations in one hemisphere, with keys added along the arc where the played blend
// would leave the spherical one by more than AngleBudget (radians). CUBICSPLINE: the Hermite
// segments as a cubic B-spline whose knots are the key times, doubled where the tangent runs on
// through the key and tripled where it breaks, so that each segment is its Bezier curve.
// *Error receives the largest angle left by a LINEAR orientation.
ExactCurve ChannelCurve(const GltfChannel& channel, float duration, double angleBudget,
                        double* error);

// Holds C at the middle of its values' range when that moves no point by more than Budget,
// with Lever the distance that a unit change of a value moves a point by; returns the largest
// such move (0 when C is left as it is).
double HoldIfStill(ExactCurve* c, double lever, double budget);

// A scale curve (three values per knot) as scale/shear matrices (nine).
ExactCurve ScaleShear(ExactCurve c);

// Makes C play its last interval when its clip of Duration seconds loops. A looping clip's
// curves are read as if their last knot repeated their first (the window past the end takes
// the curve's start, shifted by the duration), which would replace the last key by the first
// and play the last interval as a blend back to the start. One knot past Duration, holding the
// first control, takes that role: the last key stays where it is, the wrap jumps back, and
// played without looping the curve ends on its last key as before. Constant and step curves
// are left as they are (a step curve's last key already holds to the end).
void KeepLastIntervalWhenLooping(ExactCurve* c, float duration);

// Encoded size of Curve's data, in bytes (0 when it cannot be copied).
int CurveDataBytes(const orvane_curve2* curve);

}  // namespace orvane_import

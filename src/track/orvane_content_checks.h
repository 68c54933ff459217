// The checks that content passes once, where it comes in: the first call that binds a model,
// skeleton or animation to run-time state (instantiating a model, building an animation
// binding, starting a controlled animation, building a mesh binding) refuses what the
// per-frame paths could not trust, with an error logged. The per-frame paths then index
// parents, divide by durations and shift time without checking again.
#ifndef ORVANE_CONTENT_CHECKS_H
#define ORVANE_CONTENT_CHECKS_H

#include "core/orvane_private.h"
#include "orvane/types.h"

#include <cstdint>

namespace orvane {

// The one parent-order rule of skeletons: every bone of [first, end) has parent index -1 or
// a lower index than its own, so walks in bone order read each parent's result before its
// children's and a chain of parents always ends. Logs "Bone %d has parent index %d, which
// does not precede it" from origin on the first that does not.
bool ParentsPrecede(const orvane_bone* bones, int32_t first, int32_t end,
                    orvane_log_message_origin origin);

// What the samplers could not trust in a track's curves, as the text of an error; null when
// there is nothing. A file's curve carries its format number next to its data, and every reader
// picks the record layout by that number: one that disagrees with the data's type would have the
// samplers read one record as another, so that is checked first; then every knot and control
// must be a finite number and the knots must not run backwards.
const char* TrackCurvesProblem(const orvane_transform_track& track);

// Whether every component of the transform is a finite number.
bool TransformIsFinite(const orvane_transform& transform);

// A skeleton the run time trusts: a bone array for its bone count, parents in order, and
// finite rest transforms and inverse world matrices.
bool SkeletonIsSound(const orvane_skeleton* skeleton, orvane_log_message_origin origin);

// A model the run time trusts: its skeleton (when it has one) sound, a finite initial
// placement and a mesh binding array for its count.
bool ModelIsSound(const orvane_model* model, orvane_log_message_origin origin);

// An animation the run time trusts: a finite, non-negative Duration and TimeStep, a finite
// Oversampling, a track group array for its count, and in each track group arrays for its
// counts, a finite loop translation, periodic loop (when it has one) and initial placement and
// no LOD error that is not a number.
bool AnimationIsSound(const orvane_animation* animation, orvane_log_message_origin origin);

// A clip length or clock a control can run on: finite, and for a duration not negative.
bool DurationIsUsable(float duration);

}  // namespace orvane

#endif  // ORVANE_CONTENT_CHECKS_H

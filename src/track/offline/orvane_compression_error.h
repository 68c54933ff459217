// Object-space error measures of the animation compressor. A bone is measured at its three
// shell points (a shell distance along each of its axes) and at its children's origins, in
// object space, against the samples: at the frames, and halfway between them against the
// samples interpolated, allowing the bend that smooth paths through the neighbouring frames
// take there. The measures read the raw object transforms (work.rawObject, work.rawMid), the
// parents' compressed ones (work.compObject, work.compMid) and the bone's local transforms
// (work.local, work.localMid); bones are measured in order, each after its parent.
#ifndef ORVANE_COMPRESSION_ERROR_H
#define ORVANE_COMPRESSION_ERROR_H

#include <cstdint>

#include "orvane/track_group_builder.h"
#include "orvane/types.h"
#include "track/offline/orvane_compression_work.h"

namespace orvane {
namespace compression {

// A bone's turn may move its children's origins by a 1 / kChildWeight share of the budget: a
// child that keeps a constant offset cannot make up for more.
constexpr float kChildWeight = 1.5f;

// The three measuring points of a transform: a shell distance along each of its axes.
void ShellPoints(const orvane_transform& t, float shell, float* points);

// The bend allowed halfway between frames at the bone's raw shell points (into
// work.shellPoints), into work.shellBend: none next to a cut, which the samples' straight
// path crosses.
void ShellBends(Work& work, int32_t bone, float shell);

// The local transforms halfway between frames that curves through the targets with a knot at
// every frame would give (lerped, the orientation normalised), into work.localMid: what the
// bone can reach there whatever its parents did.
void StraightMidLocals(Work& work);

// The bone's largest error halfway between frames for its local transforms there
// (work.localMid): at the shell points, and at its children's origins (weighed up as at the
// frames), each beyond the bend that smooth paths through the neighbouring frames take there.
// Its object transforms there go to work.compMid.
float MidError(Work& work, const orvane_skeleton* skeleton, orvane_track_group_sampler* samples,
               int32_t bone, float shell);

// The largest distance halfway between frames of the bone's shell points (object transforms
// in work.compMid) from those of the samples interpolated, no bend allowed.
float MidDrift(Work& work, int32_t bone, float shell);

// Largest object-space error of the bone over the frames for its local transforms there
// (work.local): at the three shell points, and at the origins of its children (weighed up by
// kChildWeight, leaving the children a part of the budget: a child that stays constant cannot
// make up for more). Halfway between frames, the error as MidError measures it (into
// *worstMid). The bone's compressed object transforms (work.compObject, work.compMid), its
// raw shell points (work.shellPoints) and its error at the shell points per frame
// (work.frameErrors) are written on the way; *worstShell is the largest error at the frames'
// shell points.
float BoneError(Work& work, const orvane_skeleton* skeleton, orvane_track_group_sampler* samples,
                int32_t bone, float shell, float* worstShell, float* worstMid);

// The compact curve `curve` of one of the bone's components with each segment's bit depths
// lowered, component by component, while the bone holds its budget in object space (as
// BoneError measures it) at the frames and halfway between them that the segment's knots
// reach: within budget and midBudget, its children's origins no farther off than its current
// curves leave them anywhere, and its shell halfway between frames within driftBudget of the
// samples interpolated. The fit held the component within a tolerance that the budget's split
// and the largest lever give; the object-space error seldom meets it everywhere. work.local
// and work.localMid hold the bone's transforms from its current curves. Returns the new
// curve, or null when no depth came lower (or without memory).
orvane_curve2* LowerCompactDepths(Work& work, const orvane_skeleton* skeleton,
                                  orvane_track_group_sampler* samples, int32_t bone, float shell,
                                  int component, const orvane_curve2* curve, float budget,
                                  float midBudget, float driftBudget);

}  // namespace compression
}  // namespace orvane

#endif  // ORVANE_COMPRESSION_ERROR_H

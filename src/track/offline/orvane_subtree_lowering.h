// The animation compressor's last pass over compact curves. While the bones are chosen root to
// leaf, a bone's bit depths come down only as far as leaves its children's origins where its
// current curves leave them: the children are not chosen yet, and making up for a parent's
// rounding costs them more than the parent saves. Once every bone is chosen, this pass takes
// the bones again in order and lowers each compact curve's segment depths further while the
// bone and every one of its descendants, with the curves they were given, stay within the
// budget in object space: at the shell points at the frames, and halfway between them beyond
// the bend there and within the drift budget. A point that was already past its budget may not
// get worse.
#ifndef ORVANE_SUBTREE_LOWERING_H
#define ORVANE_SUBTREE_LOWERING_H

#include <cstdint>

#include "orvane/types.h"
#include "track/offline/orvane_compression_work.h"

namespace orvane {
namespace compression {

// curves: boneCount x 3 (position, orientation, scale/shear), owned; a compact curve whose
// depths come lower is replaced (the old one freed). work holds every bone's kept data
// (targetAll, localAll, localMidAll, bendAll, shells, midBudgets, driftBudgets) and, for the
// chosen curves, compObject, compMid and frameErrors; they are kept up to date with the
// replaced curves. limit: the budget at the frames' shell points. Returns the curve bytes
// saved (0 as well without memory, which leaves everything as it was).
int32_t LowerSubtreeDepths(Work& work, const orvane_skeleton* skeleton, orvane_curve2** curves,
                           float limit);

// Where a bone's targets of component c begin in work.targetAll.
inline float* TargetOf(Work& work, int32_t bone, int component) {
    static constexpr int32_t kOffsets[kComponents] = {0, 3, 7};
    const size_t count = size_t(work.sampleCount);
    return work.targetAll + size_t(bone) * count * 16 + count * size_t(kOffsets[component]);
}

}  // namespace compression
}  // namespace orvane

#endif  // ORVANE_SUBTREE_LOWERING_H

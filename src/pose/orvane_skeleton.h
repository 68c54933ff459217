// Checks of a skeleton's hierarchy that the per-bone walks rely on, shared by the poses.
#ifndef ORVANE_SKELETON_H
#define ORVANE_SKELETON_H

#include "core/orvane_private.h"
#include "orvane/types.h"

#include <cstdint>

namespace orvane {

// True when the skeleton is usable by a walk over bones [first, end): a bone array for its
// bone count, end within it, and every bone of the range with a parent index of -1 or lower
// than its own. Otherwise logs an error from origin and returns false. The walks call this
// once per call, never per bone.
bool CheckSkeletonRange(const orvane_skeleton* skeleton, int32_t first, int32_t end,
                        orvane_log_message_origin origin);
// The same without the parent indices, for a walk that checks each as it reads it (and logs
// a bone that breaks the order with ReportParentOrder).
bool CheckSkeletonBounds(const orvane_skeleton* skeleton, int32_t first, int32_t end,
                         orvane_log_message_origin origin);
void ReportParentOrder(const orvane_skeleton& skeleton, int32_t bone,
                       orvane_log_message_origin origin);

// The bone's rest transform; the caller has checked the index.
inline const orvane_transform& RestTransform(const orvane_skeleton& skeleton, int32_t bone) {
    return skeleton.Bones[bone].Transform;
}

}  // namespace orvane

#endif  // ORVANE_SKELETON_H

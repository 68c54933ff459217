/* Orvane inverse kinematics: the one- and two-bone solvers over local and world poses. */
#ifndef ORVANE_PUBLIC_IK_H
#define ORVANE_PUBLIC_IK_H

#include "orvane/common.h"
#include "orvane/math.h"
#include "orvane/types.h"
#include "orvane/local_pose.h"
#include "orvane/world_pose.h"

ORVANE_EXTERN_C_BEGIN

/* ---------------------------------------------------------------------------------------- */
/* Inverse kinematics                                                                       */
/* ---------------------------------------------------------------------------------------- */
/* Both solvers pull the end bone towards DesiredPosition (world space) by changing the
 * orientations of its ancestors in LocalPose, and leave WorldPose rebuilt from LocalPose (all
 * bones, Offset4x4 above the roots; a null offset is the identity). LocalPose and WorldPose
 * cover at least the skeleton's bones, and WorldPose must be up to date with LocalPose on
 * entry. Each turn rotates a bone so that the direction from its joint to the end bone
 * becomes the direction to the target: the bone's Orientation becomes Orientation (x) turn and
 * its orientation flag is set. When the end is on the joint (a zero-length bone) the turn is
 * the identity: the flag is set and the orientation kept. A turn that has no direction (the
 * target on the joint, or the two directions opposite) is not made. Arguments are checked
 * once per call: a null skeleton or pose, a pose smaller than the skeleton, a bone index
 * outside [0, bone count) or a skeleton whose parents do not precede their children is refused
 * with an error, and nothing is written. Distinct poses may be solved on different threads. */

/* Cyclic coordinate descent over the end bone's first LinkCount ancestors (fewer when a root
 * comes first), IterationCount passes from the end bone's parent upwards, the world pose
 * rebuilt after each turn. Timed as "IKUpdate". False when the arguments were refused; true
 * otherwise, also when nothing was to be done (IterationCount or LinkCount below 1, a root end
 * bone). */
ORVANE_API orvane_bool OrvaneIKUpdate(orvane_int32 LinkCount, orvane_int32 EndBoneIndex,
                                      const orvane_real32 DesiredPosition[3],
                                      orvane_int32 IterationCount, const orvane_skeleton* Skeleton,
                                      const orvane_real32* Offset4x4, orvane_local_pose* LocalPose,
                                      orvane_world_pose* WorldPose);

/* Analytic two-bone solver: the end bone's parent (the middle joint) bends in the plane
 * through the upper joint (the middle bone's parent) spanned by the target direction and
 * (target direction x BendPlaneNormal). Only the upper and middle bones' orientations and
 * flags change. Targets out of reach give a straight limb pointing at the target; the bend
 * height squared E is softened below SofteningThreshold * L1^2 (L1 the upper bone's length)
 * to threshold + (E - threshold) * SofteningScale, never below 0. Returns true when solved;
 * false, with the poses unchanged, when the arguments are refused, the target lies on the
 * upper joint (closer than 1e-4), the target direction is parallel to BendPlaneNormal while
 * the limb must bend, or a turn has no direction (the target on the moved middle joint, or a
 * bone pointing exactly away from where it must point). A zero-length upper or lower bone is
 * solved: that bone's turn is the identity. */
ORVANE_API orvane_bool OrvaneIKUpdate2Bone(
    orvane_int32 EndBoneIndex, const orvane_real32 DesiredPosition[3],
    const orvane_real32 BendPlaneNormal[3], const orvane_skeleton* Skeleton,
    const orvane_real32* Offset4x4, orvane_local_pose* LocalPose, orvane_world_pose* WorldPose,
    orvane_real32 SofteningThreshold, orvane_real32 SofteningScale);

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_IK_H */

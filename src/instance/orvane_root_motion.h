// Rotation vectors and the quaternion steps of root motion, shared by the binding kinds.
#ifndef ORVANE_ROOT_MOTION_H
#define ORVANE_ROOT_MOTION_H

#include "core/orvane_private.h"

namespace orvane {

// The rotation vector (axis times radians, the short way round) of a unit quaternion.
void QuaternionToRotationVector(const float q[4], float result[3]);
// The unit quaternion of a rotation vector; the identity for a zero vector.
void RotationVectorToQuaternion(const float r[3], float q[4]);
// v = R(q) v.
void RotateVectorByQuaternion(const float q[4], float v[3]);

}  // namespace orvane

#endif  // ORVANE_ROOT_MOTION_H

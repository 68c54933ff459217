// Inverse kinematics: a cyclic-coordinate-descent chain solver and an analytic two-bone solver
// that turn bones of a local pose and keep the matching world pose built.
#include <cmath>
#include <cstring>

#include "pose/orvane_local_pose.h"
#include "pose/orvane_skeleton.h"
#include "pose/orvane_world_pose.h"
#include "core/orvane_log.h"
#include "diag/orvane_timing.h"
#include "math/orvane_math_internal.h"
#include "orvane/ik.h"

namespace orvane {
namespace {

constexpr orvane_log_message_origin kOrigin = OrvaneInverseKinematicsOrigin;

// Squared lengths below this have no usable direction (1e-6 units, far below any bone).
constexpr float kShortestSquared = 1e-12f;

struct Vec {
    float x, y, z;
};
inline Vec operator-(Vec a, Vec b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec operator+(Vec a, Vec b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec operator*(float s, Vec a) {
    return {s * a.x, s * a.y, s * a.z};
}
inline float Dot(Vec a, Vec b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Vec Cross(Vec a, Vec b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline Vec PositionOf(const float* world) {
    return {world[12], world[13], world[14]};
}
// The vector in the frame of a world matrix: its dot products with the first three columns.
inline Vec InFrame(const float* world, Vec v) {
    return {v.x * world[0] + v.y * world[1] + v.z * world[2],
            v.x * world[4] + v.y * world[5] + v.z * world[6],
            v.x * world[8] + v.y * world[9] + v.z * world[10]};
}

// The rotation that turns direction a onto direction b through their half vector, as a unit
// quaternion. Both are normalised first, so that the turn is exactly the angle between them
// whatever their lengths (the end bone and the target are seldom equally far from a joint).
// A point on the joint (a too short, as for a zero-length bone) does not move under any turn:
// the rotation is the identity, as the half vector b / 2 gives. False, with nothing written,
// when b alone is too short or the two are opposite.
bool HalfVectorRotation(Vec a, Vec b, float rotation[4]) {
    const float aa = Dot(a, a), bb = Dot(b, b);
    if (!(aa > kShortestSquared)) {
        rotation[0] = rotation[1] = rotation[2] = 0.0f;
        rotation[3] = 1.0f;
        return true;
    }
    if (!(bb > kShortestSquared)) return false;
    a = (1.0f / std::sqrt(aa)) * a;
    b = (1.0f / std::sqrt(bb)) * b;
    const Vec h = 0.5f * (a + b);
    const Vec axis = Cross(h, b);
    const float w = Dot(h, b);
    const float length2 = Dot(axis, axis) + w * w;
    // |h| is cos(angle / 2): opposite directions leave no half vector to turn about.
    if (!(length2 > 1e-12f) || !std::isfinite(length2)) return false;
    const float f = 1.0f / std::sqrt(length2);
    rotation[0] = axis.x * f;
    rotation[1] = axis.y * f;
    rotation[2] = axis.z * f;
    rotation[3] = w * f;
    return true;
}

void ApplyRotation(orvane_transform& transform, const float rotation[4]) {
    transform.Flags |= OrvaneTransformHasOrientation;
    QuaternionMultiply(transform.Orientation, transform.Orientation, rotation);
}

// The checks both solvers share, made once per call.
bool CheckPoses(const orvane_skeleton* skeleton, const orvane_local_pose* localPose,
                const orvane_world_pose* worldPose, const float* desired) {
    if (!skeleton) {
        ORVANE_LOG_ERROR(kOrigin, "Skeleton is not allowed to be 0");
        return false;
    }
    if (!localPose || !worldPose || !desired) {
        ORVANE_LOG_ERROR(kOrigin, "%s is not allowed to be 0",
                         !localPose ? "LocalPose" : (!worldPose ? "WorldPose" : "DesiredPosition"));
        return false;
    }
    if (!CheckSkeletonRange(skeleton, 0, skeleton->BoneCount, kOrigin)) return false;
    if (localPose->BoneCount < skeleton->BoneCount || worldPose->BoneCount < skeleton->BoneCount) {
        ORVANE_LOG_ERROR(kOrigin,
                         "Poses of %d and %d bones are smaller than the skeleton's %d bones",
                         localPose->BoneCount, worldPose->BoneCount, skeleton->BoneCount);
        return false;
    }
    return true;
}

bool CheckBoneIndex(const char* name, int32_t index, int32_t count) {
    if (index >= 0 && index < count) return true;
    ORVANE_LOG_ERROR(kOrigin, "%s %d is out of range [0, %d)", name, index, count);
    return false;
}

inline float* WorldOf(orvane_world_pose* pose, int32_t bone) {
    return pose->WorldTransformBuffer + 16 * static_cast<size_t>(bone);
}

// The offset above the roots with a clean fourth column, identity when absent.
void CleanOffset(const float* offset, float clean[16]) {
    static constexpr float kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    std::memcpy(clean, offset ? offset : kIdentity, 16 * sizeof(float));
    clean[3] = clean[7] = clean[11] = 0.0f;
    clean[15] = 1.0f;
}

}  // namespace
}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API orvane_bool OrvaneIKUpdate(orvane_int32 linkCount, orvane_int32 endBoneIndex,
                                      const orvane_real32 desiredPosition[3],
                                      orvane_int32 iterationCount, const orvane_skeleton* skeleton,
                                      const orvane_real32* offset4x4, orvane_local_pose* localPose,
                                      orvane_world_pose* worldPose) {
    ORVANE_TIMING_BLOCK("IKUpdate");
    if (!CheckPoses(skeleton, localPose, worldPose, desiredPosition)) return false;
    if (!CheckBoneIndex("EndBoneIndex", endBoneIndex, skeleton->BoneCount)) return false;
    if (iterationCount <= 0 || linkCount <= 0) return true;
    const orvane_bone* bones = skeleton->Bones;
    const Vec desired = {desiredPosition[0], desiredPosition[1], desiredPosition[2]};
    for (int32_t iteration = 0; iteration < iterationCount; ++iteration) {
        // The parents strictly decrease (checked above), so the walk ends within the skeleton.
        int32_t bone = bones[endBoneIndex].ParentIndex;
        for (int32_t link = 0; link < linkCount && bone >= 0; ++link) {
            const float* world = WorldOf(worldPose, bone);
            const Vec pivot = PositionOf(world);
            const Vec end = PositionOf(WorldOf(worldPose, endBoneIndex));
            float rotation[4];
            if (HalfVectorRotation(InFrame(world, end - pivot), InFrame(world, desired - pivot),
                                   rotation)) {
                ApplyRotation(*OrvaneGetLocalPoseTransform(localPose, bone), rotation);
                OrvaneBuildWorldPose(skeleton, 0, skeleton->BoneCount, localPose, offset4x4,
                                     worldPose);
            }
            bone = bones[bone].ParentIndex;
        }
    }
    return true;
}

ORVANE_API orvane_bool OrvaneIKUpdate2Bone(
    orvane_int32 endBoneIndex, const orvane_real32 desiredPosition[3],
    const orvane_real32 bendPlaneNormal[3], const orvane_skeleton* skeleton,
    const orvane_real32* offset4x4, orvane_local_pose* localPose, orvane_world_pose* worldPose,
    orvane_real32 softeningThreshold, orvane_real32 softeningScale) {
    if (!CheckPoses(skeleton, localPose, worldPose, desiredPosition)) return false;
    if (!bendPlaneNormal) {
        ORVANE_LOG_ERROR(kOrigin, "BendPlaneNormal is not allowed to be 0");
        return false;
    }
    const int32_t count = skeleton->BoneCount;
    if (!CheckBoneIndex("EndBoneIndex", endBoneIndex, count)) return false;
    const int32_t middleBone = skeleton->Bones[endBoneIndex].ParentIndex;
    if (!CheckBoneIndex("L2BoneIndex", middleBone, count)) return false;
    const int32_t upperBone = skeleton->Bones[middleBone].ParentIndex;
    if (!CheckBoneIndex("L1BoneIndex", upperBone, count)) return false;

    float* upperWorld = WorldOf(worldPose, upperBone);
    float* middleWorld = WorldOf(worldPose, middleBone);
    float* endWorld = WorldOf(worldPose, endBoneIndex);
    const Vec desired = {desiredPosition[0], desiredPosition[1], desiredPosition[2]};
    const Vec h = PositionOf(upperWorld), m = PositionOf(middleWorld), f = PositionOf(endWorld);
    const float l1Squared = Dot(h - m, h - m), l2Squared = Dot(m - f, m - f);
    const Vec d = desired - h;
    const float dSquared = Dot(d, d);
    if (!(dSquared >= 1e-8f)) return false;  // the target is on the upper joint

    // Where the middle joint projects onto the line to the target (law of cosines), and how
    // far off that line it bends.
    const float s = ((l1Squared - l2Squared) / dSquared + 1.0f) * 0.5f;
    const Vec base = h + s * d;
    const Vec normal = {bendPlaneNormal[0], bendPlaneNormal[1], bendPlaneNormal[2]};
    const Vec bend = Cross(d, normal);
    float e = l1Squared - s * s * dSquared;
    const float softening = l1Squared * softeningThreshold;
    if (e < softening) e = softening + (e - softening) * softeningScale;
    if (!(e > 0.0f)) e = 0.0f;  // also a negative threshold, and NaN from extreme inputs
    Vec newMiddle = base;
    if (e > 0.0f) {
        const float bendSquared = Dot(bend, bend);
        // The bend plane is undefined when the target lies along its normal.
        if (!(bendSquared > kShortestSquared * dSquared)) return false;
        newMiddle = base + std::sqrt(e / bendSquared) * bend;
    }

    // Turns are computed into copies so that a turn without a direction leaves everything as
    // it was.
    orvane_transform* upperLocal = OrvaneGetLocalPoseTransform(localPose, upperBone);
    orvane_transform* middleLocal = OrvaneGetLocalPoseTransform(localPose, middleBone);
    orvane_transform upper = *upperLocal, middle = *middleLocal;
    float rotation[4];
    if (!HalfVectorRotation(InFrame(upperWorld, m - h), InFrame(upperWorld, newMiddle - h),
                            rotation))
        return false;
    ApplyRotation(upper, rotation);

    // The three bones' world matrices from their new local transforms, into scratch: the pose
    // is written only once both turns exist.
    const WorldPoseRoutines& routines = ChosenWorldPoseRoutines();
    float offset[16];
    CleanOffset(offset4x4, offset);
    const int32_t upperParent = skeleton->Bones[upperBone].ParentIndex;
    const float* upperParentWorld = upperParent >= 0 ? WorldOf(worldPose, upperParent) : offset;
    alignas(16) float upperScratch[16], middleScratch[16], endScratch[16];
    routines.buildBoneWorld(upper, upperParentWorld, upperScratch);
    routines.buildBoneWorld(middle, upperScratch, middleScratch);
    routines.buildBoneWorld(*OrvaneGetLocalPoseTransform(localPose, endBoneIndex), middleScratch,
                            endScratch);
    const Vec movedMiddle = PositionOf(middleScratch), movedEnd = PositionOf(endScratch);
    if (!HalfVectorRotation(InFrame(middleScratch, movedEnd - movedMiddle),
                            InFrame(middleScratch, desired - movedMiddle), rotation))
        return false;
    ApplyRotation(middle, rotation);

    *upperLocal = upper;
    *middleLocal = middle;
    OrvaneBuildWorldPose(skeleton, 0, count, localPose, offset4x4, worldPose);
    return true;
}

}  // extern "C"

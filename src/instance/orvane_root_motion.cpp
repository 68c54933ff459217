// Root motion: the weighted motion vectors of an instance's playing bindings, clipping by
// degrees of freedom, and applying the vectors to a placement matrix or a local pose.
#include "instance/orvane_root_motion.h"

#include "pose/orvane_local_pose.h"
#include "instance/orvane_model_instance.h"
#include "core/orvane_log.h"
#include "diag/orvane_timing.h"
#include "math/orvane_math_internal.h"

#include <cmath>
#include <cstring>

namespace orvane {

void QuaternionToRotationVector(const float q[4], float result[3]) {
    float x = q[0], y = q[1], z = q[2], w = q[3];
    if (w < 0.0f) {
        x = -x;
        y = -y;
        z = -z;
        w = -w;
    }
    const float s = std::sqrt(x * x + y * y + z * z);
    if (!(s > 1e-12f)) {
        // Small angles: the vector part is half the rotation vector.
        result[0] = 2.0f * x;
        result[1] = 2.0f * y;
        result[2] = 2.0f * z;
        return;
    }
    const float angle = 2.0f * std::atan2(s, w);
    const float k = angle / s;
    result[0] = x * k;
    result[1] = y * k;
    result[2] = z * k;
}

void RotationVectorToQuaternion(const float r[3], float q[4]) {
    const float a = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
    if (!(a > 0.0f)) {
        q[0] = q[1] = q[2] = 0.0f;
        q[3] = 1.0f;
        return;
    }
    const float s = std::sin(0.5f * a) / a;
    q[0] = r[0] * s;
    q[1] = r[1] * s;
    q[2] = r[2] * s;
    q[3] = std::cos(0.5f * a);
}

void RotateVectorByQuaternion(const float q[4], float v[3]) {
    float m[9];
    RotationMatrix(m, q);
    float out[3];
    Transform3x3(out, m, v);
    v[0] = out[0];
    v[1] = out[1];
    v[2] = out[2];
}

}  // namespace orvane

using namespace orvane;

namespace {

bool ClipThree(float v[3], uint32_t allowed, uint32_t firstBit) {
    const uint32_t mask = firstBit | (firstBit << 1) | (firstBit << 2);
    if ((allowed & mask) == 0) {
        v[0] = v[1] = v[2] = 0.0f;
        return false;
    }
    for (int i = 0; i < 3; ++i)
        if (!(allowed & (firstBit << i))) v[i] = 0.0f;
    return true;
}

}  // namespace

ORVANE_API void OrvaneGetRootMotionVectors(orvane_model_instance* ModelInstance,
                                           orvane_real32 SecondsElapsed,
                                           orvane_real32 ResultTranslation[3],
                                           orvane_real32 ResultRotation[3], orvane_bool Inverse) {
    for (int i = 0; i < 3; ++i)
        ResultTranslation[i] = ResultRotation[i] = 0.0f;
    if (ModelInstance == nullptr) return;
    float total = 0.0f;
    orvane_model_control_binding* head = &ModelInstance->BindingHead;
    for (orvane_model_control_binding* b = head->ModelNext; b != head; b = b->ModelNext) {
        if (!ControlIsPlaying(*b->Control)) break;
        if (b->Callbacks && b->Callbacks->AccumulateRootMotion)
            b->Callbacks->AccumulateRootMotion(b, SecondsElapsed, &total, ResultTranslation,
                                               ResultRotation, Inverse);
    }
    if (total > 0.001f) {
        for (int i = 0; i < 3; ++i) {
            ResultTranslation[i] /= total;
            ResultRotation[i] /= total;
        }
    }
}

ORVANE_API orvane_bool OrvaneClipPositionDOFs(orvane_real32 Vector[3], orvane_uint32 AllowedDOFs) {
    return ClipThree(Vector, AllowedDOFs, OrvaneXTranslation);
}

ORVANE_API orvane_bool OrvaneClipAngularVelocityDOFs(orvane_real32 Vector[3],
                                                     orvane_uint32 AllowedDOFs) {
    return ClipThree(Vector, AllowedDOFs, OrvaneXRotation);
}

ORVANE_API orvane_bool OrvaneClipOrientationDOFs(orvane_real32 Orientation[4],
                                                 orvane_uint32 AllowedDOFs) {
    const uint32_t mask = OrvaneXRotation | OrvaneYRotation | OrvaneZRotation;
    if ((AllowedDOFs & mask) == 0) {
        Orientation[0] = Orientation[1] = Orientation[2] = 0.0f;
        Orientation[3] = 1.0f;
        return false;
    }
    for (int i = 0; i < 3; ++i)
        if (!(AllowedDOFs & (uint32_t(OrvaneXRotation) << i))) Orientation[i] = 0.0f;
    const float length =
        std::sqrt(Orientation[0] * Orientation[0] + Orientation[1] * Orientation[1] +
                  Orientation[2] * Orientation[2] + Orientation[3] * Orientation[3]);
    if (!(length > 0.0f) || !std::isfinite(length)) {
        // Nothing left to normalise (a rotation about a clipped axis by 180 degrees): no
        // rotation remains, rather than a division by zero.
        Orientation[0] = Orientation[1] = Orientation[2] = 0.0f;
        Orientation[3] = 1.0f;
        return true;
    }
    for (int i = 0; i < 4; ++i)
        Orientation[i] /= length;
    return true;
}

ORVANE_API void OrvaneClipTransformDOFs(orvane_transform* Transform, orvane_uint32 AllowedDOFs) {
    if (!OrvaneClipPositionDOFs(Transform->Position, AllowedDOFs))
        Transform->Flags &= ~uint32_t(OrvaneTransformHasPosition);
    if (!OrvaneClipOrientationDOFs(Transform->Orientation, AllowedDOFs))
        Transform->Flags &= ~uint32_t(OrvaneTransformHasOrientation);
    float* s = ScaleShearOf(*Transform);
    const uint32_t mask = OrvaneXScaleShear | OrvaneYScaleShear | OrvaneZScaleShear;
    if ((AllowedDOFs & mask) == 0) {
        std::memcpy(s, kIdentityScaleShear, sizeof(kIdentityScaleShear));
        Transform->Flags &= ~uint32_t(OrvaneTransformHasScaleShear);
        return;
    }
    for (int column = 0; column < 3; ++column) {
        if (AllowedDOFs & (uint32_t(OrvaneXScaleShear) << column)) continue;
        for (int row = 0; row < 3; ++row)
            s[row * 3 + column] = row == column ? 1.0f : 0.0f;
    }
}

ORVANE_API void OrvaneClipRootMotionVectors(const orvane_real32 Translation[3],
                                            const orvane_real32 Rotation[3],
                                            orvane_uint32 AllowableDOFs,
                                            orvane_real32 AllowedTranslation[3],
                                            orvane_real32 AllowedRotation[3],
                                            orvane_real32 DisallowedTranslation[3],
                                            orvane_real32 DisallowedRotation[3]) {
    const float t[3] = {Translation[0], Translation[1], Translation[2]};
    const float r[3] = {Rotation[0], Rotation[1], Rotation[2]};
    for (int i = 0; i < 3; ++i) {
        AllowedTranslation[i] = DisallowedTranslation[i] = t[i];
        AllowedRotation[i] = DisallowedRotation[i] = r[i];
    }
    OrvaneClipPositionDOFs(AllowedTranslation, AllowableDOFs);
    OrvaneClipAngularVelocityDOFs(AllowedRotation, AllowableDOFs);
    OrvaneClipPositionDOFs(DisallowedTranslation, ~AllowableDOFs);
    OrvaneClipAngularVelocityDOFs(DisallowedRotation, ~AllowableDOFs);
}

ORVANE_API void OrvaneApplyRootMotionVectorsToMatrix(const orvane_real32 ModelMatrix4x4[16],
                                                     const orvane_real32 Translation[3],
                                                     const orvane_real32 Rotation[3],
                                                     orvane_real32 DestMatrix4x4[16]) {
    float q[4];
    RotationVectorToQuaternion(Rotation, q);
    float r[9];
    RotationMatrix(r, q);
    // Column j of the column-vector rotation is group j of the array.
    float m[16];
    for (int column = 0; column < 3; ++column) {
        for (int row = 0; row < 3; ++row)
            m[column * 4 + row] = r[row * 3 + column];
        m[column * 4 + 3] = 0.0f;
    }
    m[12] = Translation[0];
    m[13] = Translation[1];
    m[14] = Translation[2];
    m[15] = 1.0f;
    float model[16];
    std::memcpy(model, ModelMatrix4x4, sizeof(model));
    ColumnMatrixMultiply4x4(DestMatrix4x4, m, model);
}

ORVANE_API void OrvaneApplyRootMotionVectorsToLocalPose(orvane_local_pose* Pose,
                                                        const orvane_real32 Translation[3],
                                                        const orvane_real32 Rotation[3]) {
    orvane_transform* t = OrvaneGetLocalPoseTransform(Pose, 0);
    if (t == nullptr) return;
    for (int i = 0; i < 3; ++i)
        t->Position[i] += Translation[i];
    if (Rotation[0] == 0.0f && Rotation[1] == 0.0f && Rotation[2] == 0.0f) return;
    float q[4];
    RotationVectorToQuaternion(Rotation, q);
    float o[4];
    QuaternionMultiply(o, q, t->Orientation);
    std::memcpy(t->Orientation, o, sizeof(o));
}

ORVANE_API void OrvaneUpdateModelMatrix(orvane_model_instance* ModelInstance,
                                        orvane_real32 SecondsElapsed,
                                        const orvane_real32 ModelMatrix4x4[16],
                                        orvane_real32 DestMatrix4x4[16], orvane_bool Inverse) {
    ORVANE_TIMING_BLOCK("UpdateModelMatrix");
    float t[3], r[3];
    OrvaneGetRootMotionVectors(ModelInstance, SecondsElapsed, t, r, Inverse);
    OrvaneApplyRootMotionVectorsToMatrix(ModelMatrix4x4, t, r, DestMatrix4x4);
}

// The viewer camera: view and projection matrices, window <-> world conversions, picking rays,
// planar bases and the level-of-detail error that stays invisible at a distance.
#include <cmath>
#include <cstring>

#include "core/orvane_log.h"
#include "math/orvane_math_internal.h"
#include "orvane/camera.h"

namespace orvane {
namespace {

// Below this length a direction has no usable orientation.
constexpr float kShortestDirection = 0.00001f;
constexpr float kPi = 3.14159265358979f;

// Element (row, column) of a column-vector 4x4 in the library's layout.
constexpr int At(int row, int column) {
    return 4 * column + row;
}

// dest = m * (v, w) as a column vector.
void Transform4(float dest[4], const float m[16], const float v[3], float w) {
    float r[4];
    for (int i = 0; i < 4; ++i)
        r[i] = m[At(i, 0)] * v[0] + m[At(i, 1)] * v[1] + m[At(i, 2)] * v[2] + m[At(i, 3)] * w;
    std::memcpy(dest, r, sizeof(r));
}

void Cross(float dest[3], const float a[3], const float b[3]) {
    const float r[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2],
                        a[0] * b[1] - a[1] * b[0]};
    std::memcpy(dest, r, sizeof(r));
}

void NormaliseOrZero(float v[3]) {
    const float length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (length < kShortestDirection) {
        v[0] = v[1] = v[2] = 0.0f;
        return;
    }
    const float f = 1.0f / length;
    v[0] *= f;
    v[1] *= f;
    v[2] *= f;
}

void InverseViewColumn(const orvane_camera& camera, int column, float sign, float out[3]) {
    for (int i = 0; i < 3; ++i)
        out[i] = sign * camera.InverseView4x4[4 * column + i];
}

void BuildViewMatrices(orvane_camera& camera) {
    float o[9];
    if (camera.UseOrientationQuaternion) {
        scalar::RotationMatrix(o, camera.OrientationQuaternion);
    } else {
        std::memcpy(o, camera.OrientationMatrix, sizeof(o));
    }
    const float elevation = camera.ElevationAzimuthRoll[0];
    const float azimuth = camera.ElevationAzimuthRoll[1];
    const float roll = camera.ElevationAzimuthRoll[2];
    const float ce = std::cos(elevation), se = std::sin(elevation);
    const float ca = std::cos(azimuth), sa = std::sin(azimuth);
    const float cr = std::cos(roll), sr = std::sin(roll);
    const float ry[9] = {ca, 0.0f, sa, 0.0f, 1.0f, 0.0f, -sa, 0.0f, ca};
    const float rx[9] = {1.0f, 0.0f, 0.0f, 0.0f, ce, -se, 0.0f, se, ce};
    const float rz[9] = {cr, -sr, 0.0f, sr, cr, 0.0f, 0.0f, 0.0f, 1.0f};
    float m[9];
    Multiply3x3(m, o, ry);
    Multiply3x3(m, m, rx);
    Multiply3x3(m, m, rz);

    // View = [M^T | -(M^T position + offset)], inverse view = [M | M offset + position].
    float viewTranslation[3];
    TransposeTransform3x3(viewTranslation, m, camera.Position);
    float inverseTranslation[3];
    Transform3x3(inverseTranslation, m, camera.Offset);
    float* view = camera.View4x4;
    float* inverse = camera.InverseView4x4;
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) {
            view[At(row, column)] = m[3 * column + row];
            inverse[At(row, column)] = m[3 * row + column];
        }
        view[At(3, row)] = 0.0f;
        inverse[At(3, row)] = 0.0f;
        view[At(row, 3)] = -(viewTranslation[row] + camera.Offset[row]);
        inverse[At(row, 3)] = inverseTranslation[row] + camera.Position[row];
    }
    view[15] = 1.0f;
    inverse[15] = 1.0f;
}

// The projection and its inverse, or false (with a message) when the inverse does not exist.
bool BuildProjectionMatrices(orvane_camera& camera) {
    const float fov = camera.VerticalFieldOfView;
    const float n = camera.NearPlane, f = camera.FarPlane, e = camera.InfiniteDepthEpsilon;
    if (!(fov > 0.0f && fov < kPi)) {
        ORVANE_LOG_ERROR(OrvaneApplicationOrigin,
                         "Camera VerticalFieldOfView %f is outside (0, pi): no projection",
                         static_cast<double>(fov));
        return false;
    }
    if (n == 0.0f) {
        ORVANE_LOG_ERROR(OrvaneApplicationOrigin,
                         "Camera NearPlane is not allowed to be 0: no projection");
        return false;
    }
    if (n == f) {
        ORVANE_LOG_ERROR(OrvaneApplicationOrigin,
                         "Camera NearPlane equals FarPlane (%f): no projection",
                         static_cast<double>(n));
        return false;
    }
    if (!(camera.ScreenAspectRatio > 0.0f && camera.WindowAspectRatio > 0.0f &&
          camera.PhysicalAspectRatio > 0.0f)) {
        ORVANE_LOG_ERROR(OrvaneApplicationOrigin,
                         "Camera aspect ratios must be positive (physical %f, screen %f, "
                         "window %f): no projection",
                         static_cast<double>(camera.PhysicalAspectRatio),
                         static_cast<double>(camera.ScreenAspectRatio),
                         static_cast<double>(camera.WindowAspectRatio));
        return false;
    }
    const float t = std::tan(fov * 0.5f);
    float p[16] = {};
    p[At(0, 0)] =
        camera.ScreenAspectRatio / (t * camera.WindowAspectRatio * camera.PhysicalAspectRatio);
    p[At(1, 1)] = 1.0f / t;
    p[At(3, 2)] = -1.0f;
    if (camera.DepthRangeMode == 1) {
        if (f != 0.0f) {
            p[At(2, 2)] = (n + f) / (n - f);
            p[At(2, 3)] = 2.0f * n * f / (n - f);
        } else {
            p[At(2, 2)] = e - 1.0f;
            p[At(2, 3)] = n * (e - 2.0f);
        }
    } else {
        if (f != 0.0f) {
            p[At(2, 2)] = f / (n - f);
            p[At(2, 3)] = n * f / (n - f);
        } else {
            p[At(2, 2)] = e - 1.0f;
            p[At(2, 3)] = (e - 1.0f) * n;
        }
    }
    const float p00 = p[At(0, 0)], p11 = p[At(1, 1)], p22 = p[At(2, 2)], p23 = p[At(2, 3)],
                p32 = p[At(3, 2)];
    // Extreme planes or ratios can still overflow or vanish in float arithmetic.
    if (!(std::isfinite(p00) && std::isfinite(p11) && std::isfinite(p22) && std::isfinite(p23) &&
          p00 != 0.0f && p23 != 0.0f)) {
        ORVANE_LOG_ERROR(OrvaneApplicationOrigin,
                         "Camera planes %f, %f and epsilon %f give a projection without an "
                         "inverse",
                         static_cast<double>(n), static_cast<double>(f), static_cast<double>(e));
        return false;
    }
    float inverse[16] = {};
    inverse[At(0, 0)] = 1.0f / p00;
    inverse[At(1, 1)] = 1.0f / p11;
    inverse[At(2, 3)] = 1.0f / p32;
    inverse[At(3, 2)] = 1.0f / p23;
    inverse[At(3, 3)] = -p22 / (p23 * p32);
    std::memcpy(camera.Projection4x4, p, sizeof(p));
    std::memcpy(camera.InverseProjection4x4, inverse, sizeof(inverse));
    return true;
}

bool CheckWindowSize(float width, float height) {
    if (width > 0.0f && height > 0.0f) return true;
    ORVANE_LOG_ERROR(OrvaneApplicationOrigin, "Window size %f x %f is not positive",
                     static_cast<double>(width), static_cast<double>(height));
    return false;
}

// A converted point is written only when all of it is finite: a w so small that 1 / w
// overflows (a point a subnormal distance from the camera plane, or one beyond the largest
// float) has no image, and 0 * infinity would otherwise reach the caller as NaN.
bool WriteIfFinite(float result[3], float x, float y, float z) {
    if (!(std::isfinite(x) && std::isfinite(y) && std::isfinite(z))) return false;
    result[0] = x;
    result[1] = y;
    result[2] = z;
    return true;
}

}  // namespace
}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API void OrvaneInitializeDefaultCamera(orvane_camera* camera) {
    std::memset(camera, 0, sizeof(*camera));
    camera->PhysicalAspectRatio = 1.33f;
    camera->ScreenAspectRatio = 1.33f;
    camera->WindowAspectRatio = 1.0f;
    camera->VerticalFieldOfView = 1.0471976f;
    camera->NearPlane = 4.0f;
    camera->FarPlane = 1000.0f;
    camera->InfiniteDepthEpsilon = 0.0f;
    camera->DepthRangeMode = 1;
    camera->UseOrientationQuaternion = true;
    camera->OrientationQuaternion[3] = 1.0f;
    camera->OrientationMatrix[0] = camera->OrientationMatrix[4] = camera->OrientationMatrix[8] =
        1.0f;
    OrvaneBuildCameraMatrices(camera);
}

ORVANE_API orvane_bool OrvaneSetCameraAspectRatios(
    orvane_camera* camera, orvane_real32 physicalAspectRatio, orvane_real32 screenWidth,
    orvane_real32 screenHeight, orvane_real32 windowWidth, orvane_real32 windowHeight) {
    if (!(physicalAspectRatio > 0.0f && screenWidth > 0.0f && screenHeight > 0.0f &&
          windowWidth > 0.0f && windowHeight > 0.0f)) {
        ORVANE_LOG_ERROR(OrvaneApplicationOrigin,
                         "Aspect ratio %f, screen %f x %f and window %f x %f must be positive",
                         static_cast<double>(physicalAspectRatio), static_cast<double>(screenWidth),
                         static_cast<double>(screenHeight), static_cast<double>(windowWidth),
                         static_cast<double>(windowHeight));
        return false;
    }
    camera->PhysicalAspectRatio = physicalAspectRatio;
    camera->ScreenAspectRatio = screenWidth / screenHeight;
    camera->WindowAspectRatio = windowWidth / windowHeight;
    return true;
}

ORVANE_API orvane_bool OrvaneBuildCameraMatrices(orvane_camera* camera) {
    BuildViewMatrices(*camera);
    return BuildProjectionMatrices(*camera);
}

ORVANE_API void OrvaneMoveCameraRelative(orvane_camera* camera, orvane_real32 x, orvane_real32 y,
                                         orvane_real32 z) {
    const float* m = camera->InverseView4x4;
    for (int i = 0; i < 3; ++i)
        camera->Position[i] += x * m[i] + y * m[4 + i] + z * m[8 + i];
}

ORVANE_API void OrvaneGetCameraLocation(const orvane_camera* camera, orvane_real32 result[3]) {
    InverseViewColumn(*camera, 3, 1.0f, result);
}
ORVANE_API void OrvaneGetCameraRight(const orvane_camera* camera, orvane_real32 result[3]) {
    InverseViewColumn(*camera, 0, 1.0f, result);
}
ORVANE_API void OrvaneGetCameraUp(const orvane_camera* camera, orvane_real32 result[3]) {
    InverseViewColumn(*camera, 1, 1.0f, result);
}
ORVANE_API void OrvaneGetCameraBack(const orvane_camera* camera, orvane_real32 result[3]) {
    InverseViewColumn(*camera, 2, 1.0f, result);
}
ORVANE_API void OrvaneGetCameraLeft(const orvane_camera* camera, orvane_real32 result[3]) {
    InverseViewColumn(*camera, 0, -1.0f, result);
}
ORVANE_API void OrvaneGetCameraDown(const orvane_camera* camera, orvane_real32 result[3]) {
    InverseViewColumn(*camera, 1, -1.0f, result);
}
ORVANE_API void OrvaneGetCameraForward(const orvane_camera* camera, orvane_real32 result[3]) {
    InverseViewColumn(*camera, 2, -1.0f, result);
}

ORVANE_API orvane_bool OrvaneWindowSpaceToWorldSpace(const orvane_camera* camera,
                                                     orvane_real32 width, orvane_real32 height,
                                                     const orvane_real32 point[3],
                                                     orvane_real32 result[3]) {
    if (!CheckWindowSize(width, height)) return false;
    // The window depth is the device depth itself: the world -> window direction writes it
    // back unchanged, so the two directions stay inverses in both depth modes.
    const float device[3] = {(2.0f * point[0] - width) / width, (2.0f * point[1] - height) / height,
                             point[2]};
    float p[4], q[4];
    Transform4(p, camera->InverseProjection4x4, device, 1.0f);
    Transform4(q, camera->InverseView4x4, p, p[3]);
    if (q[3] == 0.0f || !std::isfinite(q[3])) return false;
    const float f = 1.0f / q[3];
    return WriteIfFinite(result, q[0] * f, q[1] * f, q[2] * f);
}

ORVANE_API orvane_bool OrvaneWorldSpaceToWindowSpace(const orvane_camera* camera,
                                                     orvane_real32 width, orvane_real32 height,
                                                     const orvane_real32 point[3],
                                                     orvane_real32 result[3]) {
    if (!CheckWindowSize(width, height)) return false;
    float v[4], c[4];
    Transform4(v, camera->View4x4, point, 1.0f);
    Transform4(c, camera->Projection4x4, v, v[3]);
    if (c[3] == 0.0f || !std::isfinite(c[3])) return false;
    const float f = 1.0f / c[3];
    return WriteIfFinite(result, (c[0] * f + 1.0f) * width * 0.5f,
                         (c[1] * f + 1.0f) * height * 0.5f, c[2] * f);
}

ORVANE_API orvane_bool OrvaneGetPickingRay(const orvane_camera* camera, orvane_real32 width,
                                           orvane_real32 height, orvane_real32 mouseX,
                                           orvane_real32 mouseY, orvane_real32 origin[3],
                                           orvane_real32 direction[3]) {
    if (!CheckWindowSize(width, height)) return false;
    const float device[3] = {(2.0f * mouseX - width) / width, (2.0f * mouseY - height) / height,
                             -1.0f};
    float p[4];
    Transform4(p, camera->InverseProjection4x4, device, 1.0f);
    const float* m = camera->InverseView4x4;
    float d[3];
    for (int i = 0; i < 3; ++i)
        d[i] = m[i] * p[0] + m[4 + i] * p[1] + m[8 + i] * p[2];
    NormaliseOrZero(d);
    OrvaneGetCameraLocation(camera, origin);
    std::memcpy(direction, d, sizeof(d));
    return true;
}

ORVANE_API void OrvaneGetCameraRelativePlanarBases(
    const orvane_camera* camera, orvane_bool screenOrthogonal, const orvane_real32 planeNormal[3],
    const orvane_real32 pointOnPlane[3], orvane_real32 xBasis[3], orvane_real32 yBasis[3]) {
    float right[3], u[3];
    OrvaneGetCameraRight(camera, right);
    if (screenOrthogonal) {
        float location[3], up[3];
        OrvaneGetCameraLocation(camera, location);
        OrvaneGetCameraUp(camera, up);
        const float toPoint[3] = {pointOnPlane[0] - location[0], pointOnPlane[1] - location[1],
                                  pointOnPlane[2] - location[2]};
        Cross(u, toPoint, up);
    } else {
        std::memcpy(u, right, sizeof(u));
    }
    float y[3];
    Cross(y, planeNormal, u);
    NormaliseOrZero(y);
    std::memcpy(xBasis, right, sizeof(right));
    std::memcpy(yBasis, y, sizeof(y));
}

ORVANE_API orvane_real32 OrvaneGetMostLikelyPhysicalAspectRatio(orvane_real32 screenWidth,
                                                                orvane_real32 screenHeight) {
    if (!(screenHeight > 0.0f)) {
        ORVANE_LOG_ERROR(OrvaneApplicationOrigin, "Screen height %f is not positive",
                         static_cast<double>(screenHeight));
        return 1.33f;
    }
    const float ratio = screenWidth / screenHeight;
    if (ratio <= 1.4f) return 1.33f;
    if (ratio <= 1.6f) return 1.56f;
    return 1.78f;
}

ORVANE_API orvane_real32 OrvaneFindAllowedLODError(orvane_real32 errorInPixels,
                                                   orvane_int32 viewportHeightInPixels,
                                                   orvane_real32 verticalFieldOfView,
                                                   orvane_real32 distance) {
    if (viewportHeightInPixels <= 0) {
        ORVANE_LOG_ERROR(OrvaneApplicationOrigin, "ViewportHeightInPixels %d is not positive",
                         viewportHeightInPixels);
        return 0.0f;
    }
    return std::tan(verticalFieldOfView * 0.5f) * errorInPixels * distance /
           (static_cast<float>(viewportHeightInPixels) * 0.5f);
}

}  // extern "C"

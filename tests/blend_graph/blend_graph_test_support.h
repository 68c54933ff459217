// Helpers of the blend graph tests: local poses filled with known transforms, and a double
// precision reference of the crossfade blend of two entries.
#ifndef ORVANE_TESTS_ANIM_BLEND_GRAPH_TEST_SUPPORT_H
#define ORVANE_TESTS_ANIM_BLEND_GRAPH_TEST_SUPPORT_H

#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "orvane/local_pose.h"
#include "orvane/math.h"

namespace orvane_blend_graph_test {

// A transform that differs for every (bone, seed): position, unit orientation, scale.
inline orvane_transform Varied(int bone, int seed) {
    const float a = 0.3f + 0.17f * float(bone) + 0.71f * float(seed);
    float p[3] = {std::sin(a), 0.5f * std::cos(2.0f * a) + float(seed), 0.25f * float(bone)};
    float q[4] = {std::sin(a) * 0.4f, std::cos(a) * 0.3f, 0.2f, 0.8f + 0.1f * float(seed)};
    const float l = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    for (float& v : q)
        v /= l;
    const float s[9] = {1.0f + 0.1f * float(seed), 0, 0, 0, 1.0f, 0.05f * float(bone), 0, 0,
                        1.0f - 0.05f * float(seed)};
    orvane_transform t;
    OrvaneSetTransformWithIdentityCheck(&t, p, q, s);
    return t;
}

// A pose of `bones` entries holding Varied(i, seed).
inline orvane_local_pose* VariedPose(int bones, int seed) {
    orvane_local_pose* pose = OrvaneNewLocalPose(bones);
    for (int i = 0; i < bones; ++i)
        *OrvaneGetLocalPoseTransform(pose, i) = Varied(i, seed);
    return pose;
}

// (1 - t) * a + t * b: positions and scale/shear linearly, orientations on a's side,
// renormalised.
inline orvane_transform Blend(const orvane_transform& a, const orvane_transform& b, double t) {
    orvane_transform r = a;
    double dot = 0.0;
    for (int k = 0; k < 4; ++k)
        dot += double(a.Orientation[k]) * b.Orientation[k];
    const double s = dot < 0.0 ? -1.0 : 1.0;
    double q[4], l = 0.0;
    for (int k = 0; k < 4; ++k) {
        q[k] = (1.0 - t) * a.Orientation[k] + t * s * b.Orientation[k];
        l += q[k] * q[k];
    }
    for (int k = 0; k < 4; ++k)
        r.Orientation[k] = float(q[k] / std::sqrt(l));
    for (int k = 0; k < 3; ++k)
        r.Position[k] = float((1.0 - t) * a.Position[k] + t * b.Position[k]);
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 3; ++k)
            r.ScaleShear[i][k] = float((1.0 - t) * a.ScaleShear[i][k] + t * b.ScaleShear[i][k]);
    return r;
}

inline void ExpectNear(const orvane_transform& a, const orvane_transform& b, float tolerance) {
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(a.Position[k], b.Position[k], tolerance) << "position " << k;
    double dot = 0.0;
    for (int k = 0; k < 4; ++k)
        dot += double(a.Orientation[k]) * b.Orientation[k];
    const float s = dot < 0.0 ? -1.0f : 1.0f;
    for (int k = 0; k < 4; ++k)
        EXPECT_NEAR(a.Orientation[k], s * b.Orientation[k], tolerance) << "orientation " << k;
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(a.ScaleShear[i][k], b.ScaleShear[i][k], tolerance) << "scale " << i << k;
}

}  // namespace orvane_blend_graph_test

#endif  // ORVANE_TESTS_ANIM_BLEND_GRAPH_TEST_SUPPORT_H

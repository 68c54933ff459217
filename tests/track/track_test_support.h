// Track groups for the track tests, made with the library's own track group builder.
#ifndef ORVANE_TESTS_ANIM_TRACK_TEST_SUPPORT_H
#define ORVANE_TESTS_ANIM_TRACK_TEST_SUPPORT_H

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "orvane/fit.h"
#include "orvane/track_group_builder.h"
#include "orvane/track_sampler.h"
#include "orvane/core.h"

namespace orvane_track_test {

struct GroupDeleter {
    void operator()(orvane_track_group* g) const { OrvaneFreeBuilderResult(g); }
};
using GroupPtr = std::unique_ptr<orvane_track_group, GroupDeleter>;

enum Kind { kI = 0, kS = 1, kU = 2 };

// One curve's source values: knots and controls of the given kind and dimension. Identity
// curves have no knots; constants one; animated curves n random knots in [0, duration].
struct CurveSource {
    int degree = 1;
    int kind = kU;
    std::vector<float> knots;
    std::vector<float> controls;
    orvane_data_type_definition* type = OrvaneCurveDataDaK32fC32fType;
};

inline void Normalize4(float* q) {
    const float l = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    for (int c = 0; c < 4; ++c)
        q[c] /= l;
}

// Values near the identity for dimension 4 (unit quaternions in one hemisphere) and 9 (scales
// around 1), anywhere in [-2, 2] for positions.
inline CurveSource RandomCurve(std::mt19937& rng, int kind, int dimension, int degree, int n,
                               float duration) {
    CurveSource c;
    c.kind = kind;
    c.degree = degree;
    if (kind == kI) return c;
    if (kind == kS) n = 1;
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    c.knots.resize(size_t(n));
    for (int i = 0; i < n; ++i)
        c.knots[size_t(i)] = n == 1 ? 0.0f : duration * float(i) / float(n - 1);
    c.controls.resize(size_t(n) * size_t(dimension));
    for (int i = 0; i < n; ++i) {
        float* v = &c.controls[size_t(i) * size_t(dimension)];
        if (dimension == 4) {
            // A random walk: neighbouring keys within about 20 degrees, as sampled motion is.
            const float* previous = i > 0 ? v - 4 : nullptr;
            for (int j = 0; j < 4; ++j)
                v[j] = (previous ? previous[j] : (j == 3 ? 1.0f : 0.0f)) + 0.15f * u(rng);
            Normalize4(v);
        } else if (dimension == 9) {
            for (int j = 0; j < 9; ++j)
                v[j] = (j % 4 == 0 ? 1.0f : 0.0f) + 0.2f * u(rng);
        } else {
            for (int j = 0; j < dimension; ++j)
                v[j] = 2.0f * u(rng);
        }
    }
    return c;
}

inline void SetCurve(orvane_track_group_builder* b, int component, const CurveSource& c) {
    const float* knots = c.knots.empty() ? nullptr : c.knots.data();
    const float* controls = c.controls.empty() ? nullptr : c.controls.data();
    const int n = int(c.knots.size());
    if (component == 0)
        OrvaneSetTransformTrackPosition(b, c.degree, 0, n, knots, controls, c.type);
    else if (component == 1)
        OrvaneSetTransformTrackOrientation(b, c.degree, 0, n, knots, controls, c.type);
    else
        OrvaneSetTransformTrackScaleShear(b, c.degree, 0, n, knots, controls, c.type);
}

// A transform track description: name and its three curves.
struct TrackSource {
    std::string name;
    CurveSource curves[3];
};

inline GroupPtr BuildGroup(const char* name, const std::vector<TrackSource>& tracks,
                           bool lodErrors = false) {
    orvane_track_group_builder* b =
        OrvaneBeginTrackGroup(name, 0, int(tracks.size()), 0, lodErrors);
    for (const TrackSource& t : tracks) {
        OrvaneBeginTransformTrack(b, t.name.c_str());
        for (int c = 0; c < 3; ++c)
            SetCurve(b, c, t.curves[c]);
        OrvaneEndTransformTrack(b);
    }
    return GroupPtr(OrvaneEndTrackGroup(b));
}

inline orvane_track_sample_context Context(float t, float duration, bool before = false,
                                           bool after = false, int frame = 0) {
    orvane_track_sample_context c{};
    c.SampleTime = t;
    c.SampleDuration = duration;
    c.LoopBefore = before;
    c.LoopAfter = after;
    c.FrameIndex = frame;
    return c;
}

// A position and an orientation curve fitted in the compact format (knots every few samples,
// segments at their own bit depths) to smooth motion of count samples step seconds apart,
// shifted by phase; either is null when its fit fails. Release both with OrvaneFreeCurve.
struct CompactCurves {
    orvane_curve2* position = nullptr;
    orvane_curve2* orientation = nullptr;
};
inline CompactCurves FitSmoothCompactCurves(int count, float step, double phase,
                                            float orientationTolerance) {
    std::vector<float> p(size_t(3 * count)), q(size_t(4 * count));
    for (int i = 0; i < count; ++i) {
        const double t = i * double(step);
        for (int c = 0; c < 3; ++c)
            p[size_t(3 * i + c)] = float(5.0 * std::sin(1.7 * t + c + phase) + 3.0 * c);
        float v[4] = {float(std::sin(t + phase)), float(std::cos(2.0 * t - phase)), 0.3f,
                      float(1.2 + std::sin(3.0 * t))};
        Normalize4(v);
        for (int c = 0; c < 4; ++c)
            q[size_t(4 * i + c)] = v[c];
    }
    CompactCurves curves;
    curves.position = OrvaneFitCompactCurve(3, false, count, p.data(), step, 1e-3f, nullptr);
    curves.orientation =
        OrvaneFitCompactCurve(4, true, count, q.data(), step, orientationTolerance, nullptr);
    return curves;
}

}  // namespace orvane_track_test

#endif  // ORVANE_TESTS_ANIM_TRACK_TEST_SUPPORT_H

// The compact-format example: one transform track whose position and orientation curves are
// compact curves fitted to fixed samples (a swaying rise and a wandering turn, 70 samples at
// 30 per second; or, steady, a straight walk and an even turn with a little tremor, which the
// fit stores as lines with bands about them), for the golden files of the compact format and
// their test; and a track of the 8-byte constants. Header-only and through the public
// interface, as the example content is.
#ifndef ORVANE_COMPACT_EXAMPLE_H
#define ORVANE_COMPACT_EXAMPLE_H

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "orvane/curve_builder.h"
#include "orvane/fit.h"
#include "orvane/types.h"

namespace orvane_example {

constexpr int32_t kCompactSamples = 70;
constexpr float kCompactTimeStep = 1.0f / 30.0f;
constexpr float kCompactPositionTolerance = 1e-3f;
constexpr float kCompactOrientationTolerance = 2e-5f;

inline std::vector<float> CompactExamplePositions() {
    std::vector<float> p(size_t(3 * kCompactSamples));
    for (int k = 0; k < kCompactSamples; ++k) {
        const double t = k * double(kCompactTimeStep);
        p[size_t(3 * k)] = float(4.0 * std::sin(1.3 * t));
        p[size_t(3 * k + 1)] = float(90.0 + 2.5 * t + 0.4 * std::sin(7.0 * t));
        p[size_t(3 * k + 2)] = float(-1.5 * std::cos(2.1 * t));
    }
    return p;
}

// Unit quaternions on one side of the sphere from sample to sample, turning past w = 0 so
// that the dropped component changes from segment to segment.
inline std::vector<float> CompactExampleOrientations() {
    std::vector<float> q(size_t(4 * kCompactSamples));
    for (int k = 0; k < kCompactSamples; ++k) {
        const double t = k * double(kCompactTimeStep);
        double axis[3] = {std::sin(0.9 * t), 0.6, std::cos(1.7 * t)};
        const double n = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
        const double half = 0.2 + 1.1 * t;
        for (int c = 0; c < 3; ++c)
            q[size_t(4 * k + c)] = float(axis[c] / n * std::sin(half));
        q[size_t(4 * k + 3)] = float(std::cos(half));
    }
    return q;
}

// A straight walk (with a small sway) and an even turn about a fixed axis (with a small tremor).
inline std::vector<float> CompactSteadyPositions() {
    std::vector<float> p(size_t(3 * kCompactSamples));
    for (int k = 0; k < kCompactSamples; ++k) {
        const double t = k * double(kCompactTimeStep);
        p[size_t(3 * k)] = float(-30.0 + 140.0 * t + 0.02 * std::sin(11.0 * t));
        p[size_t(3 * k + 1)] = float(95.0 + 0.03 * std::sin(13.0 * t));
        p[size_t(3 * k + 2)] = float(12.0 - 35.0 * t + 0.02 * std::cos(9.0 * t));
    }
    return p;
}

inline std::vector<float> CompactSteadyOrientations() {
    std::vector<float> q(size_t(4 * kCompactSamples));
    for (int k = 0; k < kCompactSamples; ++k) {
        const double t = k * double(kCompactTimeStep);
        const double axis[3] = {0.48, 0.6, 0.64};
        const double half = 0.1 + 0.9 * t + 0.0004 * std::sin(17.0 * t);
        for (int c = 0; c < 3; ++c)
            q[size_t(4 * k + c)] = float(axis[c] * std::sin(half));
        q[size_t(4 * k + 3)] = float(std::cos(half));
    }
    return q;
}

// A transform track that owns its position and orientation curves (taken as given, either
// may be null) and an identity scale/shear.
class ExampleTrack {
public:
    ExampleTrack(const char* name, orvane_curve2* position, orvane_curve2* orientation)
        : position_(position), orientation_(orientation) {
        orvane_curve_builder* b = OrvaneBeginCurve(OrvaneCurveDataDaIdentityType, 0, 9, 0);
        identity_ = b ? OrvaneEndCurve(b) : nullptr;
        std::snprintf(name_, sizeof name_, "%s", name);
        track.Name = name_;
        if (ok()) {
            track.PositionCurve = *position_;
            track.OrientationCurve = *orientation_;
            track.ScaleShearCurve = *identity_;
        }
    }
    ~ExampleTrack() {
        for (orvane_curve2* c : {position_, orientation_, identity_})
            if (c) OrvaneFreeCurve(c);
    }
    ExampleTrack(const ExampleTrack&) = delete;
    ExampleTrack& operator=(const ExampleTrack&) = delete;

    bool ok() const { return position_ && orientation_ && identity_; }

    orvane_transform_track track = {};

private:
    char name_[16] = {};
    orvane_curve2* position_ = nullptr;
    orvane_curve2* orientation_ = nullptr;
    orvane_curve2* identity_ = nullptr;
};

// The track, named "compact": compact position and orientation curves fitted to the samples
// (steady or not).
class CompactExample : public ExampleTrack {
public:
    explicit CompactExample(bool steady = false)
        : ExampleTrack("compact", Fit(steady, false), Fit(steady, true)) {}

private:
    static orvane_curve2* Fit(bool steady, bool orientation) {
        const std::vector<float> v =
            orientation ? (steady ? CompactSteadyOrientations() : CompactExampleOrientations())
                        : (steady ? CompactSteadyPositions() : CompactExamplePositions());
        return OrvaneFitCompactCurve(
            orientation ? 4 : 3, orientation, kCompactSamples, v.data(), kCompactTimeStep,
            orientation ? kCompactOrientationTolerance : kCompactPositionTolerance, nullptr);
    }
};

// The 8-byte constants' example: the track "constants", whose position and orientation curves
// are the 8-byte constants (D3Constant14s, D4nConstant15u) of these values (the orientation,
// normalised, has its largest component negative).
inline constexpr float kPackedExamplePosition[3] = {-1234.5678f, 0.0123f, 93.25f};
inline constexpr float kPackedExampleOrientation[4] = {0.3f, -0.8f, 0.1f, 0.5f};

class PackedConstantExample : public ExampleTrack {
public:
    PackedConstantExample()
        : ExampleTrack("constants",
                       Build(OrvaneCurveDataD3Constant14sType, 3, kPackedExamplePosition),
                       Build(OrvaneCurveDataD4nConstant15uType, 4, kPackedExampleOrientation)) {}

private:
    static orvane_curve2* Build(orvane_data_type_definition* type, int32_t dimension,
                                const float* value) {
        orvane_curve_builder* b = OrvaneBeginCurve(type, 0, dimension, 1);
        if (b == nullptr) return nullptr;
        const float zero = 0.0f;
        OrvanePushCurveKnotArray(b, &zero);
        OrvanePushCurveControlArray(b, value);
        return OrvaneEndCurve(b);
    }
};

}  // namespace orvane_example

#endif  // ORVANE_COMPACT_EXAMPLE_H

// Exact curves of keyed channels: each channel's keys at their times and its interpolation, as
// B-splines the track group builder takes unfitted.
#include "orvane_exact_curves.h"

#include <algorithm>
#include <cmath>

#include "orvane/curve_builder.h"

namespace orvane_import {

ExactCurve Constant(const float* value, int dimension) {
    ExactCurve c;
    c.dimension = dimension;
    c.knots = {0};
    c.controls.assign(value, value + dimension);
    return c;
}

namespace {

// The same curve without the knots that change nothing (exactly): a degree-0 knot between two
// equal values, a degree-1 knot inside a run of three equal values; a curve whose controls are
// all equal becomes a constant.
ExactCurve DropStillKnots(ExactCurve c) {
    const size_t d = size_t(c.dimension);
    auto same = [&](size_t a, size_t b) {
        return std::equal(&c.controls[a * d], &c.controls[a * d] + d, &c.controls[b * d]);
    };
    bool constant = true;
    for (size_t k = 1; k < c.knots.size() && constant; ++k)
        constant = same(0, k);
    if (constant) return Constant(c.controls.data(), c.dimension);
    if (c.degree > 1) return c;
    ExactCurve out;
    out.degree = c.degree;
    out.dimension = c.dimension;
    const size_t n = c.knots.size();
    for (size_t k = 0; k < n; ++k) {
        const bool drop = c.degree == 0 ? k + 1 < n && same(k, k + 1)
                                        : k > 0 && k + 1 < n && same(k - 1, k) && same(k, k + 1);
        if (drop) continue;
        out.knots.push_back(c.knots[k]);
        out.controls.insert(out.controls.end(), &c.controls[k * d], &c.controls[k * d] + d);
    }
    return out;
}

}  // namespace

// Largest angle (radians) between a unit quaternion blended linearly and renormalised, as
// played, and spherically, as glTF's LINEAR defines, between two keys HalfAngle apart.
double BlendAngleError(double halfAngle) {
    double worst = 0;
    for (int i = 1; i < 20; ++i) {
        const double u = i / 20.0;
        const double played = std::atan2(u * std::sin(halfAngle), 1 - u + u * std::cos(halfAngle));
        worst = std::max(worst, 2 * std::fabs(played - u * halfAngle));
    }
    return worst;
}

// The curve that plays Channel exactly over [0, Duration] (keys held before the first and after
// the last). STEP: degree 0, each key's value held to the next key. LINEAR: degree 1 through the
// keys; orientations in one hemisphere, with keys added along the arc where the played blend
// would leave the spherical one by more than AngleBudget. CUBICSPLINE: the Hermite segments as
// a cubic B-spline whose knots are the key times, doubled where the tangent runs on through
// the key and tripled where it breaks, so that each segment is its Bezier curve. *Error receives
// the largest angle left by a LINEAR orientation.
ExactCurve ChannelCurve(const orvane_import::GltfChannel& ch, float duration, double angleBudget,
                        double* error) {
    using orvane_import::GltfInterpolation;
    const size_t n = ch.times.size();
    const int d = ch.components;
    const bool cubic = ch.interpolation == GltfInterpolation::CubicSpline;
    auto value = [&](size_t k) { return &ch.values[(cubic ? 3 * k + 1 : k) * size_t(d)]; };
    if (n == 1) return Constant(value(0), d);
    ExactCurve c;
    c.dimension = d;
    auto push = [&](float t, const float* v) {
        c.knots.push_back(t);
        c.controls.insert(c.controls.end(), v, v + d);
    };
    switch (ch.interpolation) {
        case GltfInterpolation::Step:
            // The value at t is the control of the first knot after t: knot k holds key k + 1's
            // time, and the last key repeats its time.
            c.degree = 0;
            for (size_t k = 0; k < n; ++k)
                push(ch.times[std::min(k + 1, n - 1)], value(k));
            break;
        case GltfInterpolation::Linear: {
            c.degree = 1;
            std::vector<float> previous(value(0), value(0) + d);
            if (ch.times[0] > 0) push(0, previous.data());
            push(ch.times[0], previous.data());
            for (size_t k = 1; k < n; ++k) {
                std::vector<float> next(value(k), value(k) + d);
                if (ch.path == orvane_import::GltfPath::Rotation) {
                    double dot = 0;
                    for (int i = 0; i < 4; ++i)
                        dot += double(previous[size_t(i)]) * next[size_t(i)];
                    if (dot < 0) {
                        for (float& x : next)
                            x = -x;
                        dot = -dot;
                    }
                    double len0 = 0, len1 = 0;
                    for (int i = 0; i < 4; ++i)
                        len0 += double(previous[size_t(i)]) * previous[size_t(i)],
                            len1 += double(next[size_t(i)]) * next[size_t(i)];
                    const double cosine =
                        std::min(1.0, dot / std::sqrt(std::max(len0 * len1, 1e-30)));
                    const double half = std::acos(cosine);
                    int parts = 1;
                    while (parts < 256 && BlendAngleError(half / parts) > angleBudget)
                        ++parts;
                    *error = std::max(*error, BlendAngleError(half / parts));
                    // Points along the arc, as glTF's spherical blend puts them.
                    const double sine = std::sin(half);
                    for (int j = 1; j < parts; ++j) {
                        const double u = double(j) / parts;
                        const double w0 = sine > 1e-9 ? std::sin((1 - u) * half) / sine : 1 - u;
                        const double w1 = sine > 1e-9 ? std::sin(u * half) / sine : u;
                        float q[4];
                        double length = 0;
                        for (int i = 0; i < 4; ++i) {
                            q[i] = float(w0 * previous[size_t(i)] + w1 * next[size_t(i)]);
                            length += double(q[i]) * q[i];
                        }
                        for (float& x : q)
                            x = float(x / std::sqrt(std::max(length, 1e-30)));
                        push(float(ch.times[k - 1] + (double(ch.times[k]) - ch.times[k - 1]) * u),
                             q);
                    }
                }
                push(ch.times[k], next.data());
                previous = next;
            }
            if (ch.times[n - 1] < duration) push(duration, previous.data());
            break;
        }
        case GltfInterpolation::CubicSpline: {
            c.degree = 3;
            // Bezier segments (start, end, four points, and the derivatives in time at both
            // ends), holds before the first and after the last key.
            std::vector<float> points, bounds;
            std::vector<const float*> ends;  // per segment: derivative at its start, at its end
            const std::vector<float> still(size_t(d), 0.0f);
            auto hold = [&](float from, float to, const float* v) {
                bounds.push_back(from), bounds.push_back(to);
                for (int p = 0; p < 4; ++p)
                    points.insert(points.end(), v, v + d);
                ends.push_back(still.data()), ends.push_back(still.data());
            };
            if (ch.times[0] > 0) hold(0, ch.times[0], value(0));
            for (size_t k = 0; k + 1 < n; ++k) {
                const double span = double(ch.times[k + 1]) - ch.times[k];
                const float* v0 = value(k);
                const float* v1 = value(k + 1);
                const float* out = &ch.values[(3 * k + 2) * size_t(d)];
                const float* in = &ch.values[(3 * (k + 1)) * size_t(d)];
                bounds.push_back(ch.times[k]), bounds.push_back(ch.times[k + 1]);
                points.insert(points.end(), v0, v0 + d);
                for (int i = 0; i < d; ++i)
                    points.push_back(float(v0[i] + span * out[i] / 3));
                for (int i = 0; i < d; ++i)
                    points.push_back(float(v1[i] - span * in[i] / 3));
                points.insert(points.end(), v1, v1 + d);
                ends.push_back(out), ends.push_back(in);
            }
            if (ch.times[n - 1] < duration) hold(ch.times[n - 1], duration, value(n - 1));
            // Where the derivative runs on through a key (its in- and out-tangents equal), the
            // knot is doubled and the key's own point left implied (it lies between its two
            // neighbours in the ratio of the segments' lengths); elsewhere the knot is triple.
            const size_t segments = bounds.size() / 2;
            for (int r = 0; r < 3; ++r)
                c.knots.push_back(bounds[0]);
            c.controls.insert(c.controls.end(), points.begin(), points.begin() + d);
            for (size_t s = 0; s < segments; ++s) {
                const bool last = s + 1 == segments;
                const bool smooth =
                    !last && std::equal(ends[2 * s + 1], ends[2 * s + 1] + d, ends[2 * s + 2]);
                for (int r = 0; r < (last ? 1 : smooth ? 2 : 3); ++r)
                    c.knots.push_back(bounds[2 * s + 1]);
                const float* p = &points[s * 4 * size_t(d)];
                c.controls.insert(c.controls.end(), p + d, p + (smooth ? 3 : 4) * d);
            }
            break;
        }
    }
    return DropStillKnots(std::move(c));
}

// Holds C at the middle of its values' range when that moves no point by more than Budget,
// with Lever the distance that a unit change of a value moves a point by; returns the largest
// such move (0 when C is left as it is). Every point of a B-spline lies within the range of
// its controls, so the bound holds between knots too.
double HoldIfStill(ExactCurve* c, double lever, double budget) {
    if (c->knots.size() < 2) return 0;
    const size_t d = size_t(c->dimension);
    std::vector<float> lo(c->controls.begin(), c->controls.begin() + long(d));
    std::vector<float> hi = lo;
    for (size_t k = 1; k < c->knots.size(); ++k)
        for (size_t i = 0; i < d; ++i) {
            lo[i] = std::min(lo[i], c->controls[k * d + i]);
            hi[i] = std::max(hi[i], c->controls[k * d + i]);
        }
    double sum = 0;
    std::vector<float> middle(d);
    for (size_t i = 0; i < d; ++i) {
        const double half = (double(hi[i]) - lo[i]) / 2;
        sum += half * half;
        middle[i] = float((double(hi[i]) + lo[i]) / 2);
    }
    const double move = std::sqrt(sum) * lever;
    if (move > budget) return 0;
    if (c->dimension == 4) {
        double length = 0;
        for (float x : middle)
            length += double(x) * x;
        if (!(length > 0.25)) return 0;
        for (float& x : middle)
            x = float(x / std::sqrt(length));
    }
    *c = Constant(middle.data(), c->dimension);
    return move;
}

// A scale curve (three values per knot) as scale/shear matrices (nine).
ExactCurve ScaleShear(ExactCurve c) {
    std::vector<float> m;
    for (size_t k = 0; k < c.knots.size(); ++k) {
        const float* s = &c.controls[3 * k];
        const float v[9] = {s[0], 0, 0, 0, s[1], 0, 0, 0, s[2]};
        m.insert(m.end(), v, v + 9);
    }
    c.controls = m;
    c.dimension = 9;
    return c;
}

int CurveDataBytes(const orvane_curve2* curve) {
    orvane_curve_builder* b = OrvaneBeginCurveCopy(curve);
    if (!b) return 0;
    const int bytes = OrvaneGetResultingCurveDataSize(b);
    OrvaneAbortCurveBuilder(b);
    return bytes;
}

void KeepLastIntervalWhenLooping(ExactCurve* c, float duration) {
    if (c->degree == 0 || c->knots.size() < 2) return;
    const size_t d = size_t(c->dimension);
    const float end = std::max(c->knots.back(), duration);
    const std::vector<float> first(c->controls.begin(), c->controls.begin() + long(d));
    const std::vector<float> last(c->controls.end() - long(d), c->controls.end());
    // A cubic's window reaches two knots past its interval: the last key's knot is made triple
    // (its control repeated), so that the final segment is read from the curve alone.
    if (c->degree == 3)
        for (int r = 0; r < 2; ++r) {
            c->knots.push_back(end);
            c->controls.insert(c->controls.end(), last.begin(), last.end());
        }
    // Never played (clocks stop at the duration); a step large enough to stay apart from the
    // end in single precision.
    c->knots.push_back(end + std::max(end, 1.0f) * (1.0f / 1024));
    c->controls.insert(c->controls.end(), first.begin(), first.end());
}

}  // namespace orvane_import

// The knot search shared by the curve codecs, the exported B-spline routines and the track
// samplers, so that all of them find the same knot for a time, and its hinted form for playback.
#ifndef ORVANE_KNOT_SEARCH_H
#define ORVANE_KNOT_SEARCH_H

#include <cmath>
#include <cstdint>
#include <cstring>

namespace orvane {

// The first index whose knot is strictly greater than key, else count - 1 (bisection; NaN
// compares false everywhere and ends on the last knot, like any time past the end). It
// terminates and stays in range for any count above 0, sorted knots or not.
//
// The bisection keeps a base and a length, and moves the base by a conditional move rather
// than a branch: at times that jump about (seeking, random access) a branch on each comparison
// is mispredicted half the time, which costs more than the comparisons themselves. On sorted
// knots it finds the index the textbook bisection finds.
template <typename K, typename V>
inline int32_t UpperBoundKnot(const K* knots, int32_t count, V key) {
    int32_t base = 0, length = count;
    while (length > 1) {
        const int32_t half = length / 2;
        base = knots[base + half - 1] > key ? base : base + half;
        length -= half;
    }
    const int32_t index = knots[base] > key ? base : base + 1;
    return index < count ? index : count - 1;
}

// UpperBoundKnot's index when every knot before low is at or before key: galloping on from
// low (steps doubling) brackets the answer in a few steps, then the search ends in the bracket.
template <typename K, typename V>
[[gnu::always_inline]] inline int32_t GallopOn(const K* knots, int32_t count, V key, int32_t low) {
    if (low >= count) return count - 1;
    int32_t step = 1;
    while (low + step < count && !(knots[low + step - 1] > key)) {
        low += step;
        step *= 2;
    }
    const int32_t span = low + step < count ? step : count - low;
    return low + UpperBoundKnot(knots + low, span, key);
}

// UpperBoundKnot's index, starting from where the key would lie if the knots were evenly
// spaced between the first and the last: on knots at or near a regular grid (a knot per
// frame, or per few frames) the guess or its neighbour holds, and two independent loads
// replace a bisection's chain of dependent ones. A guess that misses gallops towards the
// answer and bisects the bracket. It terminates and stays in range for any count above 0,
// sorted knots or not. Kept out of line: inlined into the hinted search, it made playback's
// hot path longer for a branch that playback rarely takes.
template <typename K, typename V>
[[gnu::noinline]] int32_t GuessUpperBoundKnot(const K* knots, int32_t count, V key) {
    if (count < 4) return UpperBoundKnot(knots, count, key);
    const float first = float(knots[0]), last = float(knots[count - 1]);
    const float x = float(key);
    // Outside the knots (or not a number, or knots out of order): the bisection's answer.
    if (!(x >= first && x < last)) return UpperBoundKnot(knots, count, key);
    // Clamped before the conversion: infinite knots make the quotient infinite or NaN.
    float at = (x - first) / (last - first) * float(count - 1);
    at = at >= 0.0f ? at : 0.0f;
    at = at < float(count - 2) ? at : float(count - 2);
    const int32_t g = 1 + int32_t(at);
    if (knots[g - 1] > key) {
        // Earlier: gallop back from g - 1 (a knot past the key) until a knot is not.
        int32_t high = g - 1, step = 1;
        while (high - step >= 0 && knots[high - step] > key) {
            high -= step;
            step *= 2;
        }
        const int32_t low = high - step >= 0 ? high - step : 0;
        return low + UpperBoundKnot(knots + low, high - low + 1, key);
    }
    if (knots[g] > key) return g;
    return GallopOn(knots, count, key, g + 1);
}

// UpperBoundKnot's index, trying the hinted knot and the one after it first (at playback rates
// the time moves by less than a knot interval per frame), then galloping from there; *hint
// (when not null) becomes the index found. Any hint is accepted.
template <typename K, typename V>
inline int32_t SearchKnots(const K* knots, int32_t count, V key, int32_t* hint) {
    int32_t k;
    const int32_t h = hint ? *hint : -1;
    if (h >= 1 && h < count && !(knots[h - 1] > key)) {
        if (knots[h] > key)
            k = h;
        else if (h + 1 >= count)
            k = count - 1;
        else if (knots[h + 1] > key)
            k = h + 1;
        else
            // Further on: knots closer than a frame apart pass two or three a frame.
            k = GallopOn(knots, count, key, h + 2);
        if (k >= count) k = count - 1;
    } else if (h == 0 && knots[0] > key) {
        k = 0;
    } else {
        k = GuessUpperBoundKnot(knots, count, key);
    }
    if (hint) *hint = k;
    return k;
}

// The integer search key of time t for knots stored as Q (uint16_t or uint8_t) scaled by
// scale. Out-of-range times saturate instead of wrapping to the width of the stored knots, so
// a late time still finds the last knot; NaN searches as a time past the end, like the float
// search.
template <typename Q>
inline int32_t QuantisedKey(float scale, float t) {
    constexpr int32_t kMax = sizeof(Q) == 2 ? 65535 : 255;
    const float x = scale * t;
    if (std::isnan(x) || x >= float(kMax)) return kMax;
    if (x < 0.0f) return -1;
    return int32_t(x);
}

// The knot scale of a record that stores only its top 16 bits.
inline float KnotScaleFromTrunc(uint16_t trunc) {
    const uint32_t bits = uint32_t(trunc) << 16;
    float scale;
    std::memcpy(&scale, &bits, 4);
    return scale;
}

}  // namespace orvane

#endif  // ORVANE_KNOT_SEARCH_H

// Batched sampling of a node's moving curves of degrees 1 to 3.
#include "track/orvane_track_batch.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "curve/orvane_bspline.h"
#include "curve/orvane_curve.h"
#include "curve/orvane_knot_search.h"
#include "curve/orvane_quantised_records.h"
#include "curve/orvane_quaternion_words.h"
#include "math/orvane_math_internal.h"
#include "orvane/bspline.h"
#include "orvane/curve.h"
#include "track/orvane_track_sampler.h"
#include "track/orvane_window_evaluation.h"

namespace orvane {
namespace {

using DaK32fC32f = orvane_curve_data_da_k32f_c32f;

constexpr int32_t kBatchRowAlignment = 4;  // floats: one SSE register

inline int32_t BatchStride(int32_t count) {
    return (count + kBatchRowAlignment - 1) / kBatchRowAlignment * kBatchRowAlignment;
}

inline size_t BatchLaneBytes(int32_t count) {
    return (size_t(count) * sizeof(BatchLane) + 15) & ~size_t(15);
}

inline int32_t BatchRowCount(int32_t dimension, int32_t degree) {
    return 2 * degree + (degree + 1) * dimension + 4;
}

// The rows of a batch of degree d: the window's 2d knot times (k[-d] .. k[d - 1]; degree 1:
// its start and end), then its d + 1 controls (P[-d] .. P[0]) of D rows each, then the window
// test's rows (KeyRow).
inline float* Row(const SampleBatch& b, int32_t row) {
    return b.rows + size_t(row) * size_t(b.stride);
}

// The window test's rows, after the controls: the scale from time to knot units, the window's
// first and last knot in those units, and the last knot for a time that loops on.
enum KeyRow { kKeyScale, kKeyLow, kKeyHigh, kKeyHighLooping };
inline float* KeyRowOf(const SampleBatch& b, KeyRow row) {
    return Row(b, 2 * b.degree + (b.degree + 1) * b.dimension + row);
}

constexpr float kInfinity = __builtin_huge_valf();

// A lane without a window: no time passes its test.
void ForgetWindow(SampleBatch& b, BatchLane& l, int32_t j) {
    l.window = -1;
    l.endWindow = false;
    KeyRowOf(b, kKeyLow)[j] = kInfinity;
    KeyRowOf(b, kKeyHigh)[j] = -kInfinity;
    KeyRowOf(b, kKeyHighLooping)[j] = -kInfinity;
}

// The groups one pass of SampleBatchT takes: their windows are brought to the time first,
// then they are interpolated in one run of the same instructions, so that the divisions and
// square roots of one group overlap those of the next.
constexpr int32_t kGroupsPerPass = 16;

// The longest step forward in time (seconds) after which the lanes' windows still serve as the
// knot searches' hints.
constexpr float kHintReach = 0.1f;

// The knots of the whole windows that a pass's quantised orientation lanes take (after a jump,
// a seek or at random times), decoded after the pass's window moves four at a time: each
// knot's square root then overlaps the others' instead of ending a chain of its own. (Windows
// that move on by one knot decode it at once: playback's single knots gained nothing.)
struct PendingKnot {
    int32_t column;  // the lane
    int32_t knot;
    int32_t slot;  // 0: the window's first knot, 1: its last
};
struct PendingKnots {
    int32_t count;
    PendingKnot knots[2 * 4 * kGroupsPerPass];  // two per lane at most
};

// Knot i of a quantised lane whose knots and words are Q: the decoders' operations with the
// lane's factors, made once from the same record.
template <int D, typename Q>
[[gnu::always_inline]] inline void DecodeQuantisedKnot(const BatchLane& l, int32_t i, float* time,
                                                       float* controls) {
    *time = l.knotInverse * float(static_cast<const Q*>(l.knots)[i]);
    if constexpr (D == 4) {
        if (l.quaternionWords) {
            DecodeQuaternionWords(static_cast<const Q*>(l.controls) + 3 * i, l.scales, l.offsets,
                                  controls);
            return;
        }
    }
    const Q* q = static_cast<const Q*>(l.controls) + i * D;
    for (int32_t c = 0; c < D; ++c)
        controls[c] = float(q[c]) * l.scales[c] + l.offsets[c];
}

// Knot i of the lane's curve: its time and its D controls.
template <int D>
[[gnu::always_inline]] inline void DecodeLaneKnot(BatchLane& l, int32_t i, float* time,
                                                  float* controls) {
    if (l.knotBytes == 2) {
        DecodeQuantisedKnot<D, uint16_t>(l, i, time, controls);
    } else if (l.knotBytes == 1) {
        DecodeQuantisedKnot<D, uint8_t>(l, i, time, controls);
    } else if (l.format == OrvaneCurveFormatDaK32fC32f) {
        *time = static_cast<const float*>(l.knots)[i];
        std::memcpy(controls, static_cast<const float*>(l.controls) + int64_t(i) * D,
                    sizeof(float) * D);
    } else {
        // The lane's cursor keeps the segment: a knot within it costs its bits alone.
        PlaceCompactCursor(static_cast<const orvane_curve_data_da_compact*>(l.data), i, &l.compact);
        *time = float(i) * l.knotScale;
        DecodeCompactCursorKnot<D>(l.compact, i, controls);
    }
}

// A whole decoded window into lane j's rows: its two times, then each knot's controls.
template <int D>
[[gnu::always_inline]] inline void StoreWindow(SampleBatch& b, int32_t j, const float* times,
                                               const float* controls) {
    for (int32_t i = 0; i < 2; ++i) {
        Row(b, i)[j] = times[i];
        for (int c = 0; c < D; ++c)
            Row(b, 2 + i * D + c)[j] = controls[i * D + c];
    }
}

// The window of a quantised lane whose knots are K for time t: its end knot k (the knot
// search's index), whether t lies before it, and its knots in stored units; false when no
// window before k holds the time's key.
template <typename K>
[[gnu::always_inline]] inline bool FindQuantisedWindow(const BatchLane& l, float t, int32_t hint,
                                                       int32_t* k, bool* before, float* low,
                                                       float* high) {
    const K* knots = static_cast<const K*>(l.knots);
    const int32_t n = l.knotCount;
    const int32_t key = QuantisedKey<K>(l.knotScale, t);
    // Playback's move, on to the knot after the window's end, tested in line with the hinted
    // search's comparisons for that case. Its test of the knot before the hint always passes
    // here: the window was set for a key at or past that knot and before the hint's, which
    // this key has reached, whatever the order of the knots.
    if (hint >= 1 && hint + 1 < n && !(int32_t(knots[hint]) > key) &&
        int32_t(knots[hint + 1]) > key)
        *k = hint + 1;
    else
        *k = SearchKnots(knots, n, key, &hint);
    if (*k < 1 || int32_t(knots[*k - 1]) > key) return false;
    *before = int32_t(knots[*k]) > key;
    *low = float(knots[*k - 1]);
    *high = float(knots[*k]);
    return true;
}

// The knot search of a lane for time t: the index k of the knot that ends the interval holding
// t (the per-curve step's search, from the hint: the lane's window, or -1 for none), whether t
// lies before it, and the interval's knots in the units the window test compares; false when
// the knot before k does not reach t (before the first knot, or knots out of order).
[[gnu::always_inline]] inline bool FindWindow(const BatchLane& l, float t, int32_t hint, int32_t* k,
                                              bool* before, float* low, float* high) {
    const int32_t n = l.knotCount;
    if (l.knotBytes == 2) return FindQuantisedWindow<uint16_t>(l, t, hint, k, before, low, high);
    if (l.knotBytes == 1) return FindQuantisedWindow<uint8_t>(l, t, hint, k, before, low, high);
    if (l.format == OrvaneCurveFormatDaK32fC32f) {
        const float* knots = static_cast<const float*>(l.knots);
        *k = SearchKnots(knots, n, t, &hint);
        if (*k < 1 || knots[*k - 1] > t) return false;
        *before = knots[*k] > t;
        *low = knots[*k - 1];
        *high = knots[*k];
        return true;
    }
    // Uniform knots: knot i at i times the interval, as the record's knot search has them.
    *k = FindCompactKnotNear(static_cast<const orvane_curve_data_da_compact*>(l.data), t, hint,
                             l.knotInverse);
    *low = float(*k - 1) * l.knotScale;
    *high = float(*k) * l.knotScale;
    if (*k < 1 || *low > t) return false;
    *before = *high > t;
    return true;
}

// Finds the lane's degree-1 window for the time and decodes it into the rows; false when the
// time lies where batching does not reach (the per-curve step samples the lane then). In
// playback that loops on, the last interval and the time after the last knot share one window
// across the seam, as the looping window of the B-spline buffers has it: from the last knot but
// one to the first knot a duration on, towards the first knot's controls (sign-continuous for
// orientations).
template <int D>
bool MoveWindow(SampleBatch& b, BatchLane& l, int32_t j, float t, int32_t hint, bool loopAfter,
                float duration, PendingKnots* pending) {
    const int32_t n = l.knotCount;
    int32_t k = 0;
    bool before = false;            // the time lies before the window's end knot
    float low = 0.0f, high = 0.0f;  // the window's knots in the units the test compares
    if (!FindWindow(l, t, hint, &k, &before, &low, &high)) return false;
    const bool seam = loopAfter && k == n - 1;
    if (seam ? std::isnan(t) : !before) return false;
    float times[2], controls[2 * D];
    if (seam) {
        DecodeLaneKnot<D>(l, n - 2, times, controls);
        DecodeLaneKnot<D>(l, 0, times + 1, controls + D);
        times[1] = times[1] + duration;
        if constexpr (D == 4) MakeQuaternionsContinuous(controls, 2);
        StoreWindow<D>(b, j, times, controls);
        l.window = k;
        KeyRowOf(b, kKeyLow)[j] = low;
        KeyRowOf(b, kKeyHigh)[j] = -kInfinity;
        KeyRowOf(b, kKeyHighLooping)[j] = kInfinity;
        // Its end lies a duration on: it holds for this duration only.
        l.endWindow = true;
        b.endWindows = true;
        return true;
    }
    l.endWindow = false;
    // Playback moves a window on by one knot: its end becomes the new start, and only the new
    // end is decoded.
    if (l.window == k - 1) {
        DecodeLaneKnot<D>(l, k, times, controls);
        Row(b, 0)[j] = Row(b, 1)[j];
        Row(b, 1)[j] = times[0];
        for (int c = 0; c < D; ++c) {
            Row(b, 2 + c)[j] = Row(b, 2 + D + c)[j];
            Row(b, 2 + D + c)[j] = controls[c];
        }
    } else if (D == 4 && pending != nullptr && l.format == OrvaneCurveFormatD4nK16uC15u) {
        // A whole window of a quantised orientation (after a jump): its times now, its
        // controls with the pass's other knots.
        const uint16_t* knots = static_cast<const uint16_t*>(l.knots);
        Row(b, 0)[j] = l.knotInverse * float(knots[k - 1]);
        Row(b, 1)[j] = l.knotInverse * float(knots[k]);
        pending->knots[pending->count++] = {j, k - 1, 0};
        pending->knots[pending->count++] = {j, k, 1};
    } else {
        DecodeLaneKnot<D>(l, k - 1, times, controls);
        DecodeLaneKnot<D>(l, k, times + 1, controls + D);
        StoreWindow<D>(b, j, times, controls);
    }
    l.window = k;
    KeyRowOf(b, kKeyLow)[j] = low;
    KeyRowOf(b, kKeyHigh)[j] = high;
    KeyRowOf(b, kKeyHighLooping)[j] = k == n - 1 ? -kInfinity : high;
    return true;
}

// The lane's window of degree d (the batch's) for the context's time, decoded whole into the
// rows when it changed; false at or past the window's end knot (and before the first), where
// the per-curve step takes another course. A window inside the curve holds its knots and
// controls; one reaching past either end is the one the per-curve step builds there, with the
// B-spline buffers (clamped, or from the curve itself a duration before or after when looping),
// and holds for the context's looping and duration only (see ForgetEndWindows).
template <int D>
bool MoveWindowOfDegree(SampleBatch& b, BatchLane& l, int32_t j, int32_t hint,
                        const orvane_track_sample_context& context) {
    const int32_t d = b.degree;
    // (Set by the search when it succeeds; initialised for compilers that cannot see so.)
    int32_t k = 0;
    bool before = false;
    float low = 0.0f, high = 0.0f;
    if (!FindWindow(l, context.SampleTime, hint, &k, &before, &low, &high) || !before) return false;
    const int32_t start = k - d;
    const bool inside =
        start >= 0 && start + 2 * d <= (context.LoopAfter ? l.knotCount - 1 : l.knotCount);
    // A window kept from a call that looped otherwise may be of the other kind: one ending on
    // the last knot lies inside the curve only while the time does not loop on.
    if (l.window != k || l.endWindow == inside) {
        if (inside) {
            for (int32_t i = 0; i < 2 * d; ++i) {
                float time, controls[D];
                DecodeLaneKnot<D>(l, start + i, &time, controls);
                Row(b, i)[j] = time;
                if (i > d) continue;
                for (int c = 0; c < D; ++c)
                    Row(b, 2 * d + i * D + c)[j] = controls[c];
            }
            l.endWindow = false;
        } else {
            float knots[kBSplineKnotBufferSize], controls[kBSplineControlBufferSize];
            const float* ti = nullptr;
            const float* pi = nullptr;
            // (A curve the buffers refuse: the per-curve step then.)
            if (!BuildEndWindow(*l.curve, D, context, k, d, knots, controls, &ti, &pi))
                return false;
            for (int32_t i = 0; i < 2 * d; ++i)
                Row(b, i)[j] = ti[i - d];
            for (int32_t i = 0; i <= d; ++i)
                for (int c = 0; c < D; ++c)
                    Row(b, 2 * d + i * D + c)[j] = pi[(i - d) * D + c];
            l.endWindow = true;
            b.endWindows = true;
        }
    }
    l.window = k;
    KeyRowOf(b, kKeyLow)[j] = low;
    KeyRowOf(b, kKeyHigh)[j] = high;
    // A window inside the curve that ends on its last knot does not hold for a time that loops
    // on: the window then reaches past the end.
    KeyRowOf(b, kKeyHighLooping)[j] = !l.endWindow && k + d > l.knotCount - 1 ? -kInfinity : high;
    return true;
}

// Windows reaching past a curve's ends depend on the context's looping and duration: when
// either changes, the batch's end windows are forgotten (decoded again when next met).
void ForgetEndWindows(SampleBatch& b, const orvane_track_sample_context& context) {
    const uint8_t loops = uint8_t((context.LoopBefore ? 1 : 0) | (context.LoopAfter ? 2 : 0));
    if (b.endWindows && (loops != b.endLoops || !(context.SampleDuration == b.endDuration))) {
        for (int32_t j = 0; j < b.count; ++j)
            if (b.lanes[j].endWindow) ForgetWindow(b, b.lanes[j], j);
        b.endWindows = false;
    }
    b.endLoops = loops;
    b.endDuration = context.SampleDuration;
}

// The pending knots' controls into their lanes' rows: what DecodeQuaternionWords gives for
// each, the same operations in the same order, four knots per instruction where the processor
// has SSE.
void DecodePendingKnots(SampleBatch& b, const PendingKnots& pending) {
    constexpr uint32_t flag = kFlagBit<uint16_t>;
    for (int32_t first = 0; first < pending.count; first += 4) {
        const int32_t n = pending.count - first < 4 ? pending.count - first : 4;
        const PendingKnot* knots = pending.knots + first;
        const uint16_t* words[4];
        const float* factors[4];
        int32_t dropped[4];
        for (int32_t i = 0; i < 4; ++i) {
            // A short last run repeats its last knot (written twice, the same values).
            const PendingKnot& p = knots[i < n ? i : n - 1];
            words[i] = static_cast<const uint16_t*>(b.lanes[p.column].controls) + 3 * p.knot;
            dropped[i] = 2 * ((words[i][1] & flag) != 0) + ((words[i][2] & flag) != 0);
            factors[i] = b.wordFactors[p.column].byDropped[dropped[i]];
        }
        alignas(16) float values[4][4];  // [stored word, then the dropped component][knot]
#if ORVANE_MATH_HAS_SSE
        __m128 scale[4], offset[4];
        for (int32_t i = 0; i < 4; ++i) {
            scale[i] = _mm_load_ps(factors[i]);
            offset[i] = _mm_load_ps(factors[i] + 4);
        }
        _MM_TRANSPOSE4_PS(scale[0], scale[1], scale[2], scale[3]);
        _MM_TRANSPOSE4_PS(offset[0], offset[1], offset[2], offset[3]);
        const __m128i mask = _mm_set1_epi32(int32_t(flag - 1));
        __m128 sum = _mm_setzero_ps();
        for (int32_t k = 0; k < 3; ++k) {
            const __m128i w = _mm_setr_epi32(words[0][k], words[1][k], words[2][k], words[3][k]);
            const __m128 v = _mm_add_ps(
                _mm_mul_ps(_mm_cvtepi32_ps(_mm_and_si128(w, mask)), scale[k]), offset[k]);
            sum = _mm_add_ps(sum, _mm_mul_ps(v, v));
            _mm_store_ps(values[k], v);
        }
        const __m128 rest = _mm_sub_ps(_mm_set1_ps(1.0f), sum);
        const __m128 root = _mm_and_ps(_mm_cmpgt_ps(rest, _mm_setzero_ps()), _mm_sqrt_ps(rest));
        const __m128i signs = _mm_slli_epi32(
            _mm_and_si128(_mm_setr_epi32(words[0][0], words[1][0], words[2][0], words[3][0]),
                          _mm_set1_epi32(int32_t(flag))),
            16);
        _mm_store_ps(values[3], _mm_xor_ps(root, _mm_castsi128_ps(signs)));
#else
        for (int32_t i = 0; i < 4; ++i) {
            float sum = 0.0f;
            for (int32_t k = 0; k < 3; ++k) {
                const float v = float(words[i][k] & (flag - 1)) * factors[i][k] + factors[i][4 + k];
                values[k][i] = v;
                sum += v * v;
            }
            const float rest = 1.0f - sum;
            const float root = rest > 0.0f ? std::sqrt(rest) : 0.0f;
            values[3][i] = (words[i][0] & flag) ? -root : root;
        }
#endif
        for (int32_t i = 0; i < n; ++i) {
            const PendingKnot& p = knots[i];
            const int32_t row = 2 + 4 * p.slot;
            for (int32_t k = 0; k < 3; ++k)
                Row(b, row + ((dropped[i] + 1 + k) & 3))[p.column] = values[k][i];
            Row(b, row + dropped[i])[p.column] = values[3][i];
        }
    }
}

// The lanes of group g (lanes 4g to 4g + 3) whose decoded window holds the time, as bits.
// The time in knot units is the knot search's key: the same product for quantised knots, whose
// integer part against integer knots compares as the product itself does; the time itself
// (a scale of 1) for knots stored as times. Lanes without a window have an empty interval.
template <int D>
[[gnu::always_inline]] inline uint32_t WindowsHolding(const SampleBatch& b, int32_t g, float t,
                                                      bool loopAfter) {
    const int32_t j = 4 * g;
    const float* scale = KeyRowOf(b, kKeyScale) + j;
    const float* low = KeyRowOf(b, kKeyLow) + j;
    const float* high = KeyRowOf(b, loopAfter ? kKeyHighLooping : kKeyHigh) + j;
#if ORVANE_MATH_HAS_SSE
    const __m128 key = _mm_mul_ps(_mm_load_ps(scale), _mm_set1_ps(t));
    const __m128 holds =
        _mm_and_ps(_mm_cmpge_ps(key, _mm_load_ps(low)), _mm_cmplt_ps(key, _mm_load_ps(high)));
    return uint32_t(_mm_movemask_ps(holds));
#else
    uint32_t bits = 0;
    for (int32_t i = 0; i < 4; ++i) {
        const float key = scale[i] * t;
        if (key >= low[i] && key < high[i]) bits |= 1u << i;
    }
    return bits;
#endif
}

#if ORVANE_MATH_HAS_SSE
// The end of a group's step: its four lanes' values normalised (orientations) and stored to
// the lanes named by bits.
template <int D, bool Normalize>
[[gnu::always_inline]] inline void FinishGroup(const SampleBatch& b, int32_t j, uint32_t bits,
                                               __m128* v) {
    const __m128 one = _mm_set1_ps(1.0f), zero = _mm_setzero_ps();
    if constexpr (Normalize) {
        const __m128 unbounded = _mm_set1_ps(kUnboundedSquare);
        __m128 length2 = _mm_mul_ps(v[0], v[0]);
        for (int c = 1; c < D; ++c)
            length2 = _mm_add_ps(length2, _mm_mul_ps(v[c], v[c]));
        const __m128 usable =
            _mm_and_ps(_mm_cmpgt_ps(length2, zero), _mm_cmplt_ps(length2, unbounded));
        const __m128 factor = _mm_div_ps(one, _mm_sqrt_ps(length2));
        for (int c = 0; c < D; ++c) {
            const __m128 fallback = c == 3 ? one : zero;
            const __m128 scaled = _mm_mul_ps(v[c], factor);
            v[c] = _mm_or_ps(_mm_and_ps(usable, scaled), _mm_andnot_ps(usable, fallback));
        }
    }
    // The four lanes' values transposed in registers and stored straight to the lanes'
    // transforms: orientations as one 16-byte vector, positions as 8 + 4 bytes.
    __m128 r0 = v[0], r1 = v[1], r2 = v[2], r3 = D == 4 ? v[D == 4 ? 3 : 0] : zero;
    _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
    const __m128 rows[4] = {r0, r1, r2, r3};
    for (int32_t i = 0; i < 4; ++i) {
        if (!(bits & (1u << i))) continue;
        float* out = b.lanes[j + i].out;
        if constexpr (D == 4) {
            _mm_storeu_ps(out, rows[i]);
        } else {
            _mm_storel_pi(reinterpret_cast<__m64*>(out), rows[i]);
            _mm_store_ss(out + 2, _mm_movehl_ps(rows[i], rows[i]));
        }
    }
}
#endif

// The values of group g's lanes named by bits from their rows, stored to the lanes'
// transforms: the degree-1 step of Evaluate, operation for operation, four lanes at a time.
template <int D, bool Normalize>
void InterpolateGroup(const SampleBatch& b, int32_t g, float t, uint32_t bits) {
    const int32_t j = 4 * g;
#if ORVANE_MATH_HAS_SSE
    const __m128 time = _mm_set1_ps(t), one = _mm_set1_ps(1.0f);
    const __m128 k0 = _mm_load_ps(Row(b, 0) + j), k1 = _mm_load_ps(Row(b, 1) + j);
    const __m128 u = _mm_div_ps(_mm_sub_ps(time, k0), _mm_sub_ps(k1, k0));
    const __m128 w0 = _mm_sub_ps(one, u);
    __m128 v[D];
    for (int c = 0; c < D; ++c)
        v[c] = _mm_add_ps(_mm_mul_ps(w0, _mm_load_ps(Row(b, 2 + c) + j)),
                          _mm_mul_ps(u, _mm_load_ps(Row(b, 2 + D + c) + j)));
    FinishGroup<D, Normalize>(b, j, bits, v);
#else
    for (int32_t i = 0; i < 4; ++i) {
        if (!(bits & (1u << i))) continue;
        const float k[2] = {Row(b, 0)[j + i], Row(b, 1)[j + i]};
        float p[2 * D], r[D];
        for (int c = 0; c < D; ++c) {
            p[c] = Row(b, 2 + c)[j + i];
            p[D + c] = Row(b, 2 + D + c)[j + i];
        }
        Evaluate<1, D, Normalize>(k + 1, p + D, t, r);
        StoreValues<D>(r, b.lanes[j + i].out);
    }
#endif
}

// The values of group g's lanes named by bits from their rows of degree Degree (2 or 3): the
// step of Evaluate, operation for operation (de Boor's weights, the weighted sum, the
// normalisation), four lanes at a time.
template <int D, int Degree, bool Normalize>
void InterpolateGroupOfDegree(const SampleBatch& b, int32_t g, float t, uint32_t bits) {
    const int32_t j = 4 * g;
    constexpr int32_t kControls = 2 * Degree;  // the first control's row
#if ORVANE_MATH_HAS_SSE
    using Float4 = float __attribute__((vector_size(16)));
    auto load = [&](int32_t row) {
        Float4 x;
        std::memcpy(&x, Row(b, row) + j, sizeof x);
        return x;
    };
    Float4 k[2 * Degree];
    for (int32_t i = 0; i < 2 * Degree; ++i)
        k[i] = load(i);
    const Float4 time = {t, t, t, t};
    Float4 w[Degree + 1];
    BSplineWeights<Degree>(k + Degree, time, w);
    __m128 v[D];
    for (int c = 0; c < D; ++c) {
        Float4 sum = w[0] * load(kControls + c);
        for (int32_t i = 1; i <= Degree; ++i)
            sum += w[i] * load(kControls + i * D + c);
        std::memcpy(&v[c], &sum, sizeof sum);
    }
    FinishGroup<D, Normalize>(b, j, bits, v);
#else
    for (int32_t i = 0; i < 4; ++i) {
        if (!(bits & (1u << i))) continue;
        float k[2 * Degree], p[(Degree + 1) * D], r[D];
        for (int32_t m = 0; m < 2 * Degree; ++m)
            k[m] = Row(b, m)[j + i];
        for (int32_t m = 0; m < (Degree + 1) * D; ++m)
            p[m] = Row(b, kControls + m)[j + i];
        Evaluate<Degree, D, Normalize>(k + Degree, p + Degree * D, t, r);
        StoreValues<D>(r, b.lanes[j + i].out);
    }
#endif
}

template <int D, int Degree, bool Normalize>
void SampleBatchT(const orvane_track_sample_context& context, SampleBatch& b) {
    static_assert(4 * kGroupsPerPass <= 64, "a pass's lanes fit one 64-bit mask");
    const float t = context.SampleTime;
    const bool loopAfter = context.LoopAfter;
    const int32_t groups = b.stride / 4;
    ForgetEndWindows(b, context);
    // After a jump (a seek, random times, a step back) the lanes' windows are no hint to their
    // new knots, and testing them first costs a mispredicted branch or two per lane: the
    // searches start afresh then. (The knots found are the same either way.)
    const bool jumped = !(t >= b.lastTime && t - b.lastTime <= kHintReach);
    b.lastTime = t;
    uint32_t held[kGroupsPerPass];
    for (int32_t first = 0; first < groups; first += kGroupsPerPass) {
        const int32_t last = groups - first < kGroupsPerPass ? groups : first + kGroupsPerPass;
        // The window tests of the pass's groups, then its lanes whose key changed in one run
        // (a new window, or the per-curve step for this frame), so that the varying number of
        // such lanes costs one loop's end instead of one per group.
        uint64_t missing = 0;
        for (int32_t g = first; g < last; ++g) {
            const int32_t lanes = b.count - 4 * g < 4 ? b.count - 4 * g : 4;
            const uint32_t all = (1u << lanes) - 1u;
            held[g - first] = WindowsHolding<D>(b, g, t, loopAfter) & all;
            missing |= uint64_t(all & ~held[g - first]) << (4 * (g - first));
        }
        PendingKnots pending;
        pending.count = 0;
        for (; missing != 0; missing &= missing - 1) {
            const int32_t bit = __builtin_ctzll(missing);
            const int32_t j = 4 * first + bit;
            BatchLane& l = b.lanes[j];
            const int32_t hint = jumped ? -1 : l.window;
            const bool moved =
                Degree == 1 ? MoveWindow<D>(b, l, j, t, hint, loopAfter, context.SampleDuration,
                                            D == 4 ? &pending : nullptr)
                            : MoveWindowOfDegree<D>(b, l, j, hint, context);
            if (moved) {
                held[bit >> 2] |= 1u << (bit & 3);
                continue;
            }
            ForgetWindow(b, l, j);
            if constexpr (D == 3)
                SampleCurve3(*l.curve, context, true, l.cache->KnotHints, l.out, l.cache);
            else
                SampleCurve4(*l.curve, context, true, l.cache->KnotHints + 1, l.out, l.cache);
        }
        if (pending.count > 0) DecodePendingKnots(b, pending);
        for (int32_t g = first; g < last; ++g) {
            if (held[g - first] == 0) continue;
            if constexpr (Degree == 1)
                InterpolateGroup<D, Normalize>(b, g, t, held[g - first]);
            else
                InterpolateGroupOfDegree<D, Degree, Normalize>(b, g, t, held[g - first]);
        }
    }
}

}  // namespace

// The rows' bytes: a multiple of 16 (the stride is a multiple of 4 floats).
inline size_t BatchRowBytes(int32_t count, int32_t dimension, int32_t degree) {
    return size_t(BatchRowCount(dimension, degree)) * size_t(BatchStride(count)) * sizeof(float);
}

namespace {

// A quantised lane's knots, words and factors from its record (checked by BatchableDegree).
template <typename R>
void SetQuantisedLane(BatchLane& l, const R* r) {
    using Q = std::remove_cv_t<std::remove_pointer_t<decltype(r->KnotsControls)>>;
    l.knotBytes = uint8_t(sizeof(Q));
    l.quaternionWords = false;
    l.knotScale = KnotScaleOf(r);
    if constexpr (kQuaternionRecord<R>) {
        l.quaternionWords = true;
        QuaternionScalesOffsets<Q>(r->ScaleOffsetTableEntries, l.scales, l.offsets);
        l.knotCount = r->KnotControlCount / 4;
    } else if constexpr (kAnyDimensionRecord<R>) {
        const int32_t d = r->ControlScaleOffsetCount / 2;
        for (int32_t c = 0; c < d; ++c) {
            l.scales[c] = r->ControlScaleOffsets[c];
            l.offsets[c] = r->ControlScaleOffsets[d + c];
        }
        l.knotCount = r->KnotControlCount / (d + 1);
    } else {
        for (int32_t c = 0; c < 3; ++c) {
            l.scales[c] = r->ControlScales[c];
            l.offsets[c] = r->ControlOffsets[c];
        }
        l.knotCount = r->KnotControlCount / 4;
    }
    l.knotInverse = 1.0f / l.knotScale;
    l.knots = r->KnotsControls;
    l.controls = r->KnotsControls + l.knotCount;
}

}  // namespace

size_t SampleBatchBytes(int32_t count, int32_t dimension, int32_t degree) {
    return BatchLaneBytes(count) + BatchRowBytes(count, dimension, degree) +
           (dimension == 4 ? size_t(count) * sizeof(WordFactors) : 0);
}

void InitSampleBatch(SampleBatch* batch, void* memory, int32_t count, int32_t dimension,
                     int32_t degree) {
    std::memset(memory, 0, SampleBatchBytes(count, dimension, degree));
    batch->count = count;
    batch->stride = BatchStride(count);
    batch->dimension = dimension;
    batch->degree = degree;
    batch->endWindows = false;
    batch->endLoops = 0;
    batch->endDuration = 0.0f;
    batch->lastTime = std::numeric_limits<float>::quiet_NaN();
    batch->lanes = static_cast<BatchLane*>(memory);
    batch->rows = reinterpret_cast<float*>(static_cast<char*>(memory) + BatchLaneBytes(count));
    batch->wordFactors =
        dimension == 4
            ? reinterpret_cast<WordFactors*>(static_cast<char*>(memory) + BatchLaneBytes(count) +
                                             BatchRowBytes(count, dimension, degree))
            : nullptr;
    // Rows of lanes without a window hold knots 1 apart, so that the lanes' arithmetic stays
    // on ordinary numbers, and an empty window that no time passes.
    float* key = KeyRowOf(*batch, kKeyScale);
    for (int32_t j = 0; j < batch->stride; ++j) {
        for (int32_t i = 0; i < 2 * degree; ++i)
            Row(*batch, i)[j] = float(i);
        key[j] = 1.0f;
        key[batch->stride + j] = kInfinity;
        key[2 * batch->stride + j] = -kInfinity;
        key[3 * batch->stride + j] = -kInfinity;
    }
}

void SetBatchLane(SampleBatch* batch, int32_t lane, const orvane_curve2& curve, float* out,
                  orvane_track_sample_cache* cache) {
    BatchLane& l = batch->lanes[lane];
    const void* data = curve.CurveData.Object;
    const auto* header = static_cast<const orvane_curve_data_header*>(data);
    l.curve = &curve;
    l.data = data;
    l.knots = l.controls = nullptr;
    l.out = out;
    l.cache = cache;
    l.format = header->Format;
    l.knotBytes = 0;  // set for quantised formats below
    l.quaternionWords = false;
    l.window = -1;
    l.knotScale = 0.0f;
    l.knotInverse = 0.0f;
    for (int32_t c = 0; c < 4; ++c)
        l.scales[c] = l.offsets[c] = 0.0f;
    // The window test's scale: stored knot units for quantised knots, 1 for knots kept as
    // times.
    float keyScale = 1.0f;
    if (l.format == OrvaneCurveFormatDaK32fC32f) {
        const auto* r = static_cast<const DaK32fC32f*>(data);
        l.knotCount = r->KnotCount;
        l.knots = r->Knots;
        l.controls = r->Controls;
    } else if (l.format == OrvaneCurveFormatDaCompact) {
        const auto* r = static_cast<const orvane_curve_data_da_compact*>(data);
        l.knotCount = r->KnotCount;
        l.knotScale = r->KnotInterval;  // the knots' spacing
        l.knotInverse = CompactKnotInverse(r);
        l.compact.first = -1;
    } else {
        WithQuantisedRecord(l.format, data, [&](const auto* r) { SetQuantisedLane(l, r); });
        if (l.format == OrvaneCurveFormatD4nK16uC15u) {
            WordFactors& f = batch->wordFactors[lane];  // an orientation batch's lane
            for (int32_t d = 0; d < 4; ++d) {
                for (int32_t k = 0; k < 3; ++k) {
                    f.byDropped[d][k] = l.scales[(d + 1 + k) & 3];
                    f.byDropped[d][4 + k] = l.offsets[(d + 1 + k) & 3];
                }
                f.byDropped[d][3] = f.byDropped[d][7] = 0.0f;
            }
        }
        keyScale = l.knotScale;
    }
    KeyRowOf(*batch, kKeyScale)[lane] = keyScale;
    ForgetWindow(*batch, l, lane);
}

namespace {

template <int D, bool Normalize>
void SampleBatchOfDegree(const orvane_track_sample_context& context, SampleBatch& batch) {
    if (batch.degree == 1)
        SampleBatchT<D, 1, Normalize>(context, batch);
    else if (batch.degree == 2)
        SampleBatchT<D, 2, Normalize>(context, batch);
    else
        SampleBatchT<D, 3, Normalize>(context, batch);
}

}  // namespace

void SampleBatch3(const orvane_track_sample_context& context, SampleBatch& batch) {
    SampleBatchOfDegree<3, false>(context, batch);
}

void SampleBatch4(const orvane_track_sample_context& context, SampleBatch& batch) {
    SampleBatchOfDegree<4, true>(context, batch);
}

void CountTrackBatchLanes(const orvane_transform_track& track, TrackBatchLayout& layout) {
    if (const int32_t d = BatchableDegree(track.PositionCurve, 3)) ++layout.lanes[0][d - 1];
    if (const int32_t d = BatchableDegree(track.OrientationCurve, 4)) ++layout.lanes[1][d - 1];
}

void PlaceTrackBatches(TrackBatchLayout& layout, size_t start) {
    constexpr size_t kAlignment = 16;
    size_t at = (start + kAlignment - 1) & ~(kAlignment - 1);
    for (int32_t k = 0; k < 2; ++k) {
        for (int32_t d = 0; d < kMaxBSplineDegree; ++d) {
            layout.at[k][d] = at;
            at += SampleBatchBytes(layout.lanes[k][d], 3 + k, d + 1);
        }
    }
    layout.end = at;
}

void InitTrackBatches(TrackBatches& batches, char* block, const TrackBatchLayout& layout) {
    for (int32_t d = 0; d < kMaxBSplineDegree; ++d) {
        InitSampleBatch(&batches.positions[d], block + layout.at[0][d], layout.lanes[0][d], 3,
                        d + 1);
        InitSampleBatch(&batches.orientations[d], block + layout.at[1][d], layout.lanes[1][d], 4,
                        d + 1);
        // The counts grow back as lanes are set.
        batches.positions[d].count = 0;
        batches.orientations[d].count = 0;
    }
}

uint32_t PlanTrackIntoBatches(TrackBatches& batches, const orvane_transform_track& track,
                              orvane_transform* planned, orvane_track_sample_cache* cache,
                              bool* still) {
    uint32_t moving = PlanTrackSampling(track, planned);
    *still = moving == 0;
    // A moving curve is batchable exactly when it was counted; a batchable curve has two knots
    // or more, so it moves.
    if (const int32_t d = BatchableDegree(track.PositionCurve, 3);
        d > 0 && (moving & kPlanPosition)) {
        SampleBatch& b = batches.positions[d - 1];
        SetBatchLane(&b, b.count++, track.PositionCurve, planned->Position, cache);
        moving &= ~kPlanPosition;
    }
    if (const int32_t d = BatchableDegree(track.OrientationCurve, 4);
        d > 0 && (moving & kPlanOrientation)) {
        SampleBatch& b = batches.orientations[d - 1];
        SetBatchLane(&b, b.count++, track.OrientationCurve, planned->Orientation, cache);
        moving &= ~kPlanOrientation;
    }
    return moving;
}

void SampleTrackBatches(const orvane_track_sample_context& context, TrackBatches& batches) {
    for (SampleBatch& batch : batches.positions)
        if (batch.count) SampleBatch3(context, batch);
    for (SampleBatch& batch : batches.orientations)
        if (batch.count) SampleBatch4(context, batch);
}

}  // namespace orvane

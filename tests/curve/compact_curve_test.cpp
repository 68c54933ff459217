// The compact curve format: encoding at chosen bit depths against a decoder written from the
// record's description, quaternions rebuilt from three components, the uniform knot search,
// swizzling, the builder and conversion, a file in both byte orders, and damaged records.
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "curve/compact_reference.h"
#include "curve/orvane_compact_curve.h"
#include "curve/orvane_curve.h"
#include "file/load_test_support.h"
#include "orvane/bspline.h"
#include "orvane/convert.h"
#include "orvane/curve_builder.h"
#include "orvane/file.h"
#include "support/log_capture.h"

using orvane_test::LogCapture;

namespace {

struct CurveDeleter {
    void operator()(orvane_curve2* c) const { OrvaneFreeCurve(c); }
};
using CurvePtr = std::unique_ptr<orvane_curve2, CurveDeleter>;

// A record over its own bytes, encoded at the given depths by the library's encoder, in a layout
// the encoders write (4, or 5 with a line per segment and component), in one they wrote before
// (2 and 3, the same with the headers ahead of the values) or in the earlier layout of
// whole-byte segment headers.
struct Record {
    orvane_curve_data_da_compact r{};
    std::vector<uint8_t> bytes;
    orvane_curve2 curve{};

    Record(int dimension, int packing, int segmentLength, int knots, float interval,
           const std::vector<uint8_t>& bits, const float* controls,
           int layout = orvane::kCompactHeadersLastLayout) {
        // One depth per segment stands for all its components; otherwise one per component.
        const int stored = packing == 1 ? 3 : dimension;
        const int segments = orvane::CompactSegmentCount(knots, segmentLength);
        std::vector<uint8_t> depths = bits;
        if (int(bits.size()) == segments) {
            depths.clear();
            for (uint8_t b : bits)
                depths.insert(depths.end(), size_t(stored), b);
        }
        const orvane::CompactSizes sizes =
            orvane::CompactSizesFor(knots, dimension, packing, segmentLength, depths.data(),
                                    layout == 1 ? orvane::kCompactLayout : layout);
        // Layout 1's headers and quaternion ranges take more bytes.
        const int64_t extra = layout == 1
                                  ? orvane::CompactLayoutSaving(orvane::kCompactLayout, packing,
                                                                dimension, knots, segmentLength)
                                  : 0;
        bytes.assign(size_t(sizes.bytes + extra), 0);
        r.CurveDataHeader = {OrvaneCurveFormatDaCompact, 1};
        r.Dimension = int16_t(dimension);
        r.KnotInterval = interval;
        r.KnotCount = knots;
        r.Packing = uint8_t(packing);
        r.SegmentLength = uint8_t(segmentLength);
        r.Layout = int16_t(layout);
        r.ByteCount = int32_t(bytes.size());
        r.Bytes = bytes.data();
        orvane::EncodeCompact(&r, controls, depths.data());
        curve.CurveData.Type = OrvaneCurveDataDaCompactType;
        curve.CurveData.Object = &r;
    }
};

// Writes range value i (little-endian) or stored segment start i (that of segment 8 (i + 1)).
void SetRange(orvane_curve_data_da_compact& r, int i, float v) {
    uint32_t w;
    std::memcpy(&w, &v, 4);
    for (int b = 0; b < 4; ++b)
        r.Bytes[4 * i + b] = uint8_t(w >> (8 * b));
}
void SetStart(orvane_curve_data_da_compact& r, int i, int32_t v) {
    const int at = orvane_test::CompactReference{r}.StartsAt() + 4 * i;
    for (int b = 0; b < 4; ++b)
        r.Bytes[at + b] = uint8_t(uint32_t(v) >> (8 * b));
}
void SetDepth(orvane_curve_data_da_compact& r, int segment, int j, int bits) {
    orvane_test::CompactReference{r}.SetDepth(segment, j, bits);
}

std::vector<float> Wave(int knots, int dimension, double speed, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> phase(0, 6.28), amplitude(0.1, 40.0);
    std::vector<float> v(size_t(knots * dimension));
    for (int c = 0; c < dimension; ++c) {
        const double p = phase(rng), a = amplitude(rng), o = amplitude(rng) - 20;
        for (int k = 0; k < knots; ++k)
            v[size_t(k * dimension + c)] = float(o + a * std::sin(p + speed * k * (1 + c)));
    }
    return v;
}

// A rotation turning about a wandering axis, sign-continuous from knot to knot.
std::vector<float> Turning(int knots, double speed, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1, 1);
    std::vector<float> q(size_t(knots * 4));
    const double a0 = u(rng), a1 = u(rng), a2 = u(rng);
    for (int k = 0; k < knots; ++k) {
        const double t = speed * k;
        double axis[3] = {std::sin(a0 + t), std::cos(a1 + 0.7 * t), std::sin(a2 - 0.3 * t) + 0.2};
        const double n = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
        const double half = 0.5 * (2.5 * std::sin(0.5 * t) + 0.3);
        for (int c = 0; c < 3; ++c)
            q[size_t(4 * k + c)] = float(axis[c] / n * std::sin(half));
        q[size_t(4 * k + 3)] = float(std::cos(half));
    }
    return q;
}

TEST(CompactCurve, EncodesEverySegmentDepthWithinHalfAStepOfItsRange) {
    const int d = 3, n = 77, length = 5;  // 16 segments: two stored starts
    const std::vector<float> v = Wave(n, d, 0.07, 1);
    const std::vector<uint8_t> bits = {24, 16, 12, 9, 7, 5, 3, 1, 2, 4, 6, 8, 10, 11, 13, 15};
    Record rec(d, 0, length, n, 1.0f / 30, bits, v.data());
    ASSERT_TRUE(orvane::CompactCurveIsSound(&rec.r));
    orvane_test::CompactReference ref{rec.r};
    std::vector<float> decoded(size_t(n * d));
    orvane::DecodeCompactKnots(&rec.r, 0, n, decoded.data());
    for (int k = 0; k < n; ++k) {
        const std::vector<double> expected = ref.Knot(k);
        for (int c = 0; c < d; ++c) {
            const double value = v[size_t(k * d + c)];
            const float got = decoded[size_t(k * d + c)];
            EXPECT_NEAR(got, expected[size_t(c)], 1e-5 * (1 + std::fabs(value))) << k << " " << c;
            // Each segment's range is rounded outwards to 255ths of the curve's: within the
            // quantisation step of its depth.
            const double range = orvane_test::CompactReference{rec.r}.Range(d + c);
            const double bound = range / ((1u << bits[size_t(k / length)]) - 1) * 0.51 +
                                 range * 2e-7 + 1e-5 * (1 + std::fabs(value));
            EXPECT_NEAR(got, value, bound) << "knot " << k << " component " << c;
        }
    }
    // Extraction in pieces gives the same values as in one go, with uniform knot times.
    float part[5 * d], knots[5];
    OrvaneCurveExtractKnotValues(&rec.curve, 41, 5, knots, part, nullptr);
    for (int i = 0; i < 5; ++i) {
        EXPECT_FLOAT_EQ(knots[i], float(41 + i) * (1.0f / 30));
        for (int c = 0; c < d; ++c)
            EXPECT_EQ(part[i * d + c], decoded[size_t((41 + i) * d + c)]);
    }
}

TEST(CompactCurve, EachComponentHasItsOwnDepth) {
    const int d = 3, n = 30;
    const std::vector<float> v = Wave(n, d, 0.11, 12);
    const std::vector<uint8_t> depths = {4, 12, 20, 0, 7, 24, 3, 3, 1};
    Record rec(d, 0, 10, n, 0.1f, depths, v.data());
    ASSERT_TRUE(orvane::CompactCurveIsSound(&rec.r));
    orvane_test::CompactReference ref{rec.r};
    std::vector<float> out(size_t(n * d));
    orvane::DecodeCompactKnots(&rec.r, 0, n, out.data());
    for (int k = 0; k < n; ++k) {
        const std::vector<double> expected = ref.Knot(k);
        for (int c = 0; c < d; ++c) {
            const int bits = depths[size_t(3 * (k / 10) + c)];
            const double range = ref.Range(d + c);
            const double bound = bits ? range / ((1u << bits) - 1) * 0.51 : range;
            EXPECT_NEAR(out[size_t(k * d + c)], expected[size_t(c)],
                        1e-5 * (1 + std::fabs(expected[size_t(c)])));
            EXPECT_NEAR(out[size_t(k * d + c)], v[size_t(k * d + c)], bound + range * 1e-6 + 1e-5);
        }
    }
}

// An encoder that tries depths writes a segment's values at any bit position of its own
// storage: the bits it writes are those of the segment encoded in place, and every bit before
// and after them stays as it was.
TEST(CompactCurve, ASegmentWrittenAtAnyBitPositionLeavesTheBitsAroundIt) {
    const int d = 3, n = 30;
    const std::vector<float> v = Wave(n, d, 0.11, 12);
    const std::vector<uint8_t> depths = {4, 12, 20, 0, 7, 24, 3, 3, 1};
    Record rec(d, 0, 10, n, 0.1f, depths, v.data());
    const uint8_t* placed = orvane::CompactValues(&rec.r);
    for (int segment = 0; segment < 3; ++segment) {
        const uint8_t* depth = depths.data() + 3 * segment;
        const int knotBits = depth[0] + depth[1] + depth[2];
        orvane::CompactSegment view;
        orvane::ViewCompactSegment(&rec.r, segment, &view);
        for (int64_t position = 0; position < 17; ++position) {
            for (const uint8_t fill : {uint8_t(0x00), uint8_t(0xff), uint8_t(0xa5)}) {
                std::vector<uint8_t> storage(size_t(10 * 48 / 8 + 16), fill);
                orvane::EncodeCompactSegment(&rec.r, v.data(), segment, depth, storage.data(),
                                             position);
                const int64_t end = position + 10 * int64_t(knotBits);
                for (int64_t bit = 0; bit < int64_t(storage.size()) * 8; ++bit) {
                    const int got = (storage[size_t(bit >> 3)] >> (bit & 7)) & 1;
                    int want = (fill >> (bit & 7)) & 1;
                    if (bit >= position && bit < end) {
                        const int64_t from = view.start + (bit - position);
                        want = (placed[from >> 3] >> (from & 7)) & 1;
                    }
                    ASSERT_EQ(got, want) << "segment " << segment << ", position " << position
                                         << ", fill " << int(fill) << ", bit " << bit;
                }
            }
        }
    }
}

// The depth trials of the fitter measure a segment without writing its values: the error they
// give is the one that encoding the segment and reading it back gives, to the bit, and with a
// limit they stop at a knot past it.
TEST(CompactCurve, ADepthTrialMeasuresWhatEncodingWouldStore) {
    std::mt19937 rng(31);
    for (int layout : {2, 3, 4, 5})
        for (int packing = 0; packing <= 2; ++packing) {
            SCOPED_TRACE(testing::Message() << "layout " << layout);
            const int d = packing == 0 ? 3 : 4, n = 45, length = 16;
            const std::vector<float> v =
                packing == 0 ? Wave(n, d, 0.13, 7) : Turning(n, 0.04 * packing, 9 + packing);
            Record rec(d, packing, length, n, 0.1f, std::vector<uint8_t>(3, uint8_t(12)), v.data(),
                       layout);
            const int stored = packing == 0 ? d : 3;
            for (int segment = 0; segment < 3; ++segment) {
                std::vector<float> targets(size_t(length * d));
                orvane::CompactSegmentTargetsOf(&rec.r, v.data(), segment, targets.data());
                for (int trial = 0; trial < 40; ++trial) {
                    uint8_t depths[4] = {};
                    for (int j = 0; j < stored; ++j)
                        depths[j] = uint8_t(rng() % 25);
                    std::vector<uint8_t> values(size_t(length * 3 * 3 + 8));
                    orvane::EncodeCompactSegment(&rec.r, v.data(), segment, depths, values.data(),
                                                 0);
                    const std::vector<uint8_t> header(rec.bytes.begin(), rec.bytes.end());
                    const float encoded =
                        orvane::CompactSegmentError(&rec.r, v.data(), segment, values.data(), 0);
                    const float measured = orvane::CompactSegmentTrialError(
                        &rec.r, targets.data(), segment, depths, 3.0e38f);
                    ASSERT_EQ(measured, encoded)
                        << "packing " << packing << ", segment " << segment;
                    EXPECT_EQ(rec.bytes, header);  // the same header, written by the trial
                    const float limit = 0.5f * encoded;
                    if (encoded > 0.0f) {
                        EXPECT_GT(orvane::CompactSegmentTrialError(&rec.r, targets.data(), segment,
                                                                   depths, limit),
                                  limit);
                    }
                }
            }
        }
}

TEST(CompactCurve, ZeroBitSegmentsAndConstantComponentsHoldTheirValues) {
    const int n = 20;
    std::vector<float> v(size_t(n * 2));
    for (int k = 0; k < n; ++k) {
        v[size_t(2 * k)] = 2.5f;                           // constant over the curve: exact
        v[size_t(2 * k + 1)] = k < 10 ? -1.0f : float(k);  // constant over the first segment
    }
    Record rec(2, 0, 10, n, 0.5f, {0, 8}, v.data());
    std::vector<float> out(size_t(n * 2));
    orvane::DecodeCompactKnots(&rec.r, 0, n, out.data());
    for (int k = 0; k < n; ++k) {
        EXPECT_EQ(out[size_t(2 * k)], 2.5f);
        EXPECT_NEAR(out[size_t(2 * k + 1)], v[size_t(2 * k + 1)], k < 10 ? 1e-6 : 0.04);
    }
}

TEST(CompactCurve, QuaternionsAreRebuiltUnitAndOnTheirOwnSide) {
    // Packing 1 with the curve's range, packing 2 in the unit range.
    for (uint32_t seed = 1; seed <= 12; ++seed) {
        const int n = 90;
        const int packing = seed <= 6 ? 1 : 2;
        std::vector<float> q = Turning(n, 0.05 * ((seed - 1) % 6 + 1), seed);
        if (seed % 2 == 0)  // the other side of the sphere throughout
            for (float& x : q)
                x = -x;
        const uint32_t depth = 10 + (seed - 1) % 6 + 1;
        std::vector<uint8_t> bits(size_t(orvane::CompactSegmentCount(n, 16)), uint8_t(depth));
        Record rec(4, packing, 16, n, 1.0f / 24, bits, q.data());
        // The values, then the headers: no spare bytes.
        const orvane_test::CompactReference sizes{rec.r};
        EXPECT_EQ(rec.r.ByteCount,
                  sizes.ValuesAt() + (n * 3 * int(depth) + 7) / 8 + sizes.HeaderBytes());
        ASSERT_TRUE(orvane::CompactCurveIsSound(&rec.r));
        orvane_test::CompactReference ref{rec.r};
        std::vector<float> out(size_t(4 * n));
        orvane::DecodeCompactKnots(&rec.r, 0, n, out.data());
        for (int k = 0; k < n; ++k) {
            const float* p = &out[size_t(4 * k)];
            const std::vector<double> expected = ref.Knot(k);
            double length = 0, dot = 0;
            for (int c = 0; c < 4; ++c) {
                EXPECT_NEAR(p[c], expected[size_t(c)], 2e-5);
                length += double(p[c]) * p[c];
                dot += double(p[c]) * q[size_t(4 * k + c)];
            }
            EXPECT_NEAR(length, 1.0, 1e-4);
            // The sign-continuous input comes back with its own sign, within the depth's step.
            const double angle = 2 * std::acos(std::min(1.0, dot));
            EXPECT_LT(angle, 8.0 / (1u << depth) + 2e-3) << "seed " << seed << " knot " << k;
        }
    }
}

// Turning twice about one axis, the components that move cover most of the unit range between
// the segments that store them: the range of 16-bit fractions holds them, and each knot comes
// back within its depth's step.
TEST(CompactCurve, TurnsThroughTheWholeUnitRangeKeepTheirRange) {
    const int n = 200;
    std::vector<float> q(size_t(4 * n));
    for (int k = 0; k < n; ++k) {
        const double half = 2.0 * 3.14159265358979 * k / (n - 1);  // two full turns
        q[size_t(4 * k + 0)] = float(0.6 * std::sin(half));
        q[size_t(4 * k + 1)] = 0.0f;
        q[size_t(4 * k + 2)] = float(0.8 * std::sin(half));
        q[size_t(4 * k + 3)] = float(std::cos(half));
    }
    for (int layout : {1, 2, 3, 4, 5}) {
        const int depth = 20;  // a step of about 1e-6: a range that missed a value shows
        Record rec(4, 1, 10, n, 0.01f,
                   std::vector<uint8_t>(size_t(orvane::CompactSegmentCount(n, 10)), depth),
                   q.data(), layout);
        ASSERT_TRUE(orvane::CompactCurveIsSound(&rec.r));
        const orvane_test::CompactReference ref{rec.r};
        double widest = 0;
        for (int c = 0; c < 4; ++c)
            widest = std::max(widest, ref.Range(4 + c));
        EXPECT_GE(widest, 1.2) << "layout " << layout;
        std::vector<float> out(size_t(4 * n));
        orvane::DecodeCompactKnots(&rec.r, 0, n, out.data());
        for (int k = 0; k < n; ++k) {
            double dot = 0;
            for (int c = 0; c < 4; ++c)
                dot += double(out[size_t(4 * k + c)]) * q[size_t(4 * k + c)];
            const double side = dot < 0 ? -1 : 1;  // the same rotation on either side
            for (int c = 0; c < 4; ++c)
                EXPECT_NEAR(out[size_t(4 * k + c)], side * q[size_t(4 * k + c)], 1e-5)
                    << "layout " << layout << " knot " << k << " component " << c;
        }
    }
}

// The samplers' cursor against the segment view (each knot read from its own segment's
// stored start and header): the same bits for every knot, whatever the order the knots are
// asked in (playback, the next segment, a jump into a group of segments, backwards), for all
// depths from 0 to 24 bits, components and quaternions, one to four components, and a stored
// start that leaves a gap after the segment before it, in every layout of the segment headers.
TEST(CompactCurve, TheCursorDecodesEachKnotAsItsSegmentDoes) {
    std::mt19937 rng(35);
    std::uniform_int_distribution<int> depth(0, 24);
    struct Shape {
        int dimension, packing, length, knots;
    };
    const Shape shapes[] = {{1, 0, 3, 100}, {2, 0, 1, 40},    {3, 0, 5, 161}, {4, 0, 16, 90},
                            {4, 1, 7, 150}, {4, 1, 255, 300}, {4, 2, 9, 120}, {4, 2, 255, 260}};
    for (int layout : {1, 2, 3, 4, 5})
        for (const Shape& shape : shapes) {
            SCOPED_TRACE(testing::Message()
                         << "layout " << layout << ": " << shape.dimension << " " << shape.packing
                         << " " << shape.length << " " << shape.knots);
            const int d = shape.dimension, n = shape.knots;
            const int stored = shape.packing >= 1 ? 3 : d;
            const int segments = orvane::CompactSegmentCount(n, shape.length);
            const std::vector<float> v =
                shape.packing >= 1 ? Turning(n, 0.09, uint32_t(n)) : Wave(n, d, 0.13, uint32_t(n));
            std::vector<uint8_t> depths(size_t(segments * stored));
            for (uint8_t& b : depths)
                b = uint8_t(depth(rng));
            depths[0] = 24;
            if (depths.size() > 1) depths[1] = 0;
            Record rec(d, shape.packing, shape.length, n, 0.04f, depths, v.data(), layout);
            ASSERT_TRUE(orvane::CompactCurveIsSound(&rec.r));
            if (segments > 8) {
                // The second group's values moved on by 5 bits: its stored start leaves a gap.
                const orvane_test::CompactReference ref{rec.r};
                const int64_t end = ref.Start(7) + int64_t(shape.length) * ref.KnotBits(7);
                const int64_t total =
                    ref.Start(segments - 1) +
                    int64_t(n - (segments - 1) * shape.length) * ref.KnotBits(segments - 1);
                // The byte goes after the values, ahead of headers that end the bytes.
                const size_t at = ref.HeadersLast() ? size_t(ref.HeadersAt()) : rec.bytes.size();
                rec.bytes.insert(rec.bytes.begin() + ptrdiff_t(at), 1, 0);
                rec.r.Bytes = rec.bytes.data();
                rec.r.ByteCount = int32_t(rec.bytes.size());
                const int values = ref.ValuesAt();
                for (int64_t b = total - 1; b >= end; --b) {
                    const uint8_t* from = rec.r.Bytes + values + b / 8;
                    const int bit = (*from >> (b % 8)) & 1;
                    uint8_t* to = rec.r.Bytes + values + (b + 5) / 8;
                    *to = uint8_t((*to & ~(1 << ((b + 5) % 8))) | (bit << ((b + 5) % 8)));
                }
                for (int g = 1; 8 * g < segments; ++g)
                    SetStart(rec.r, g - 1, int32_t(ref.Start(8 * g) + 5));  // group g's start
                ASSERT_TRUE(orvane::CompactCurveIsSound(&rec.r));
            }
            std::vector<int> order;
            for (int k = 0; k < n; ++k)
                order.push_back(k);  // playback
            for (int k = n - 1; k >= 0; k -= 3)
                order.push_back(k);  // backwards
            std::uniform_int_distribution<int> any(0, n - 1);
            for (int i = 0; i < 200; ++i)
                order.push_back(any(rng));
            orvane::CompactCursor cursor{};
            cursor.first = -1;
            for (int k : order) {
                orvane::CompactSegment segment;
                orvane::ViewCompactSegment(&rec.r, k / shape.length, &segment);
                float expected[16], got[4];
                orvane::DecodeCompactSegmentKnot(segment, orvane::CompactValues(&rec.r),
                                                 k % shape.length, expected);
                orvane::PlaceCompactCursor(&rec.r, k, &cursor);
                switch (d) {
                    case 1:
                        orvane::DecodeCompactCursorKnot<1>(cursor, k, got);
                        break;
                    case 2:
                        orvane::DecodeCompactCursorKnot<2>(cursor, k, got);
                        break;
                    case 3:
                        orvane::DecodeCompactCursorKnot<3>(cursor, k, got);
                        break;
                    default:
                        orvane::DecodeCompactCursorKnot<4>(cursor, k, got);
                        break;
                }
                ASSERT_EQ(0, std::memcmp(expected, got, sizeof(float) * size_t(d))) << "knot " << k;
                // The reader written from the description agrees too.
                const std::vector<double> reference = orvane_test::CompactReference{rec.r}.Knot(k);
                for (int c = 0; c < d; ++c)
                    ASSERT_NEAR(got[c], reference[size_t(c)],
                                1e-5 * (1 + std::fabs(reference[size_t(c)])))
                        << "knot " << k;
            }
            // Windows from anywhere, as the samplers decode them, and the format table's
            // extraction.
            for (int i = 0; i < 50; ++i) {
                const int first = any(rng), count = std::min(n - first, 1 + i % 20);
                std::vector<float> window(size_t(count * d)), knots(static_cast<size_t>(count)),
                    plain(size_t(count * d));
                orvane::DecodeCompactWindow(&rec.r, first, count, knots.data(), window.data());
                orvane::DecodeCompactKnots(&rec.r, first, count, plain.data());
                for (int k = 0; k < count; ++k) {
                    orvane::CompactSegment segment;
                    orvane::ViewCompactSegment(&rec.r, (first + k) / shape.length, &segment);
                    float expected[16];
                    orvane::DecodeCompactSegmentKnot(segment, orvane::CompactValues(&rec.r),
                                                     (first + k) % shape.length, expected);
                    ASSERT_EQ(0, std::memcmp(expected, &window[size_t(k * d)],
                                             sizeof(float) * size_t(d)));
                    ASSERT_EQ(
                        0, std::memcmp(expected, &plain[size_t(k * d)], sizeof(float) * size_t(d)));
                    ASSERT_EQ(knots[size_t(k)], float(first + k) * rec.r.KnotInterval);
                }
            }
        }
}

// The cursor's division by the segment length: every length, knots up to the largest count.
TEST(CompactCurve, KnotSegmentsAreTheQuotientsOfTheLength) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int32_t> any(0, INT32_MAX);
    for (int32_t length = 1; length <= 255; ++length) {
        std::vector<int32_t> knots = {0,
                                      1,
                                      length - 1,
                                      length,
                                      length + 1,
                                      INT32_MAX,
                                      INT32_MAX - 1,
                                      INT32_MAX / length * length,
                                      INT32_MAX / length * length - 1};
        for (int i = 0; i < 2000; ++i)
            knots.push_back(any(rng));
        for (int32_t k : knots)
            ASSERT_EQ(orvane::CompactKnotSegment(k, length), k / length) << k << " / " << length;
    }
}

// The hinted search answers as the plain one for any hint, near or far, and any time.
TEST(CompactCurve, HintedKnotSearchAnswersAsThePlainSearch) {
    std::mt19937 rng(9);
    for (int n : {1, 2, 3, 61}) {
        const std::vector<float> v = Wave(n, 1, 0.1, 3);
        Record rec(1, 0, 16, n, 1.0f / 30, std::vector<uint8_t>(4, 12), v.data());
        std::uniform_real_distribution<float> u(-0.1f, float(n) / 30 + 0.1f);
        std::uniform_int_distribution<int32_t> near(-2, n + 2);
        std::vector<float> times = {0.0f, -0.0f, 1e9f, -1e9f, NAN, INFINITY, -INFINITY};
        for (int i = 0; i < n; ++i) {
            const float knot = float(i) * rec.r.KnotInterval;
            times.insert(times.end(),
                         {knot, std::nextafter(knot, -1.0f), std::nextafter(knot, 9.0f)});
        }
        for (int i = 0; i < 300; ++i)
            times.push_back(u(rng));
        const float inverse = orvane::CompactKnotInverse(&rec.r);
        EXPECT_EQ(inverse > 0.0f, n > 1);
        for (float t : times) {
            const int32_t expected = orvane::FindCompactKnot(&rec.r, t);
            for (int32_t hint : {expected - 1, expected, expected + 1, near(rng), near(rng),
                                 int32_t(-1), INT32_MIN, INT32_MAX}) {
                ASSERT_EQ(orvane::FindCompactKnotNear(&rec.r, t, hint), expected)
                    << "n " << n << " t " << t << " hint " << hint;
                ASSERT_EQ(orvane::FindCompactKnotNear(&rec.r, t, hint, inverse), expected)
                    << "n " << n << " t " << t << " hint " << hint;
            }
        }
    }
}

// The search by a product with the interval's inverse finds FindCompactKnot's knot for long
// curves and awkward intervals too, where the product's rounding moves its guess.
TEST(CompactCurve, KnotSearchByTheInverseFindsThePlainSearchesKnot) {
    std::mt19937 rng(17);
    for (const float interval : {1.0f / 30, 1.0f / 120, 0.1f, 0.7f, 3.3e-5f, 1e-3f}) {
        for (const int32_t n : {2, 3, 1000, 100003, 1 << 22}) {
            orvane_curve_data_da_compact r{};
            r.KnotCount = n;
            r.KnotInterval = interval;
            const float inverse = orvane::CompactKnotInverse(&r);
            ASSERT_GT(inverse, 0.0f);
            std::uniform_int_distribution<int32_t> knot(0, n - 1);
            std::vector<float> times = {0.0f, 1e30f, INFINITY, NAN, -1.0f};
            for (int i = 0; i < 2000; ++i) {
                const float at = float(knot(rng)) * interval;
                times.insert(times.end(), {at, std::nextafter(at, -1.0f), std::nextafter(at, 1e30f),
                                           at + 0.5f * interval});
            }
            for (float t : times)
                ASSERT_EQ(orvane::FindCompactKnotBy(&r, t, inverse), orvane::FindCompactKnot(&r, t))
                    << "interval " << interval << " n " << n << " t " << t;
        }
    }
    orvane_curve_data_da_compact r{};
    r.KnotCount = (1 << 22) + 1;
    r.KnotInterval = 0.01f;
    EXPECT_EQ(orvane::CompactKnotInverse(&r), 0.0f);  // beyond the guess's reach
    r.KnotCount = 10;
    r.KnotInterval = 1e-39f;  // an inverse past the largest float
    EXPECT_EQ(orvane::CompactKnotInverse(&r), 0.0f);
}

TEST(CompactCurve, KnotSearchFindsTheFirstKnotPastTheTime) {
    const int n = 61;
    const std::vector<float> v = Wave(n, 1, 0.1, 3);
    Record rec(1, 0, 16, n, 1.0f / 30, std::vector<uint8_t>(4, 12), v.data());
    float knots[n];
    OrvaneCurveExtractKnotValues(&rec.curve, 0, n, knots, nullptr, nullptr);
    auto expected = [&](float t) {
        for (int i = 0; i < n; ++i)
            if (knots[i] > t) return i;
        return n - 1;
    };
    std::mt19937 rng(4);
    std::uniform_real_distribution<float> u(-0.1f, 2.2f);
    std::vector<float> times = {0.0f, knots[1], knots[30], knots[n - 1], -0.0f, 1e9f};
    for (int i = 0; i < 500; ++i)
        times.push_back(u(rng));
    for (int i = 0; i < n; ++i)
        times.push_back(std::nextafter(knots[i], -1.0f));
    for (float t : times)
        EXPECT_EQ(OrvaneCurveFindKnot(&rec.curve, t), expected(t)) << t;
    EXPECT_EQ(OrvaneCurveFindCloseKnot(&rec.curve, 0.5f, 3), expected(0.5f));
}

TEST(CompactCurve, SwizzlingMovesComponentsAndKeepsTheNumbers) {
    for (int layout : {1, 2, 3, 4, 5}) {
        SCOPED_TRACE(testing::Message() << "layout " << layout);
        const int n = 40;
        const std::vector<float> v = Wave(n, 3, 0.09, 5);
        Record rec(3, 0, 12, n, 0.1f, {14, 9, 20, 6}, v.data(), layout);
        std::vector<float> before(size_t(3 * n)), after(size_t(3 * n));
        orvane::DecodeCompactKnots(&rec.r, 0, n, before.data());
        const float scales[3] = {2.0f, -1.0f, 0.5f}, offsets[3] = {1.0f, 0.0f, -3.0f};
        const int32_t swizzles[3] = {2, 0, 1};
        OrvaneCurveScaleOffsetSwizzle(&rec.curve, 3, scales, offsets, swizzles);
        ASSERT_TRUE(orvane::CompactCurveIsSound(&rec.r));
        orvane::DecodeCompactKnots(&rec.r, 0, n, after.data());
        for (int k = 0; k < n; ++k)
            for (int c = 0; c < 3; ++c) {
                const float expected = scales[c] * before[size_t(3 * k + swizzles[c])] + offsets[c];
                EXPECT_NEAR(after[size_t(3 * k + c)], expected, 2e-5f * (1 + std::fabs(expected)));
            }

        // Quaternions: a permutation with a sign change, as a change of basis makes; in the unit
        // range (packing 2) the numbers of a component whose sign turns are turned over, at every
        // depth down to none.
        for (int packing = 1; packing <= 2; ++packing) {
            std::vector<float> q = Turning(n, 0.08, 6);
            Record quat(4, packing, 12, n, 0.1f, {16, 0, 5, 23}, q.data(), layout);
            before.resize(size_t(4 * n));
            orvane::DecodeCompactKnots(&quat.r, 0, n, before.data());
            const float signs[4] = {1, -1, 1, -1}, zeros[4] = {};
            const int32_t order[4] = {1, 2, 0, 3};
            OrvaneCurveScaleOffsetSwizzle(&quat.curve, 4, signs, zeros, order);
            ASSERT_TRUE(orvane::CompactCurveIsSound(&quat.r));
            after.resize(size_t(4 * n));
            orvane::DecodeCompactKnots(&quat.r, 0, n, after.data());
            orvane_test::CompactReference ref{quat.r};
            for (int k = 0; k < n; ++k) {
                const std::vector<double> expected = ref.Knot(k);
                for (int c = 0; c < 4; ++c) {
                    EXPECT_NEAR(after[size_t(4 * k + c)],
                                signs[c] * before[size_t(4 * k + order[c])], 2e-5f)
                        << "packing " << packing << " knot " << k;
                    EXPECT_NEAR(after[size_t(4 * k + c)], expected[size_t(c)], 2e-5);
                }
            }
        }
    }
}

TEST(CompactCurve, TheBuilderMakesSixteenBitSegmentsOnEvenKnots) {
    const int n = 35, d = 3;
    const std::vector<float> v = Wave(n, d, 0.2, 7);
    std::vector<float> knots(n);
    for (int i = 0; i < n; ++i)
        knots[size_t(i)] = 2.0f * float(i) / float(n - 1);
    orvane_curve_builder* b = OrvaneBeginCurve(OrvaneCurveDataDaCompactType, 1, d, n);
    ASSERT_NE(b, nullptr);
    OrvanePushCurveKnotArray(b, knots.data());
    OrvanePushCurveControlArray(b, v.data());
    CurvePtr curve(OrvaneEndCurve(b));
    ASSERT_NE(curve, nullptr);
    EXPECT_TRUE(OrvaneCurveFormatIsInitializedCorrectly(curve.get()));
    EXPECT_EQ(OrvaneCurveGetKnotCount(curve.get()), n);
    EXPECT_EQ(OrvaneCurveGetDimension(curve.get()), d);
    const auto* r = static_cast<const orvane_curve_data_da_compact*>(curve->CurveData.Object);
    EXPECT_EQ(r->SegmentLength, 16);
    EXPECT_EQ(r->Layout, orvane::kCompactHeadersLastLayout);
    EXPECT_EQ(orvane_test::CompactReference{*r}.Depth(0, 0), 16);

    // The conversion to plain floats and evaluation go through the format's operations.
    CurvePtr plain(OrvaneCurveConvertToDaK32fC32f(curve.get(), nullptr));
    ASSERT_NE(plain, nullptr);
    const auto* f = static_cast<const orvane_curve_data_da_k32f_c32f*>(plain->CurveData.Object);
    for (int k = 0; k < n; ++k) {
        EXPECT_NEAR(f->Knots[k], knots[size_t(k)], 1e-6);
        for (int c = 0; c < d; ++c)
            EXPECT_NEAR(f->Controls[k * d + c], v[size_t(k * d + c)], 80.0 / 65535);
    }
    float a[d], e[d];
    OrvaneEvaluateCurveAtT(d, false, false, curve.get(), false, 2.0f, 0.73f, a, nullptr);
    OrvaneEvaluateCurveAtT(d, false, false, plain.get(), false, 2.0f, 0.73f, e, nullptr);
    for (int c = 0; c < d; ++c)
        EXPECT_NEAR(a[c], e[c], 1e-5f * (1 + std::fabs(e[c])));

    // Re-encoding keeps the layout; a copy holds the same values.
    OrvaneCurveSetAllKnotValues(curve.get(), n, d, knots.data(), v.data());
    CurvePtr copy(OrvaneEndCurve(OrvaneBeginCurveCopy(curve.get())));
    ASSERT_NE(copy, nullptr);
    float x[d], y[d];
    for (int k = 0; k < n; k += 7) {
        OrvaneCurveExtractKnotValue(curve.get(), k, x, nullptr);
        OrvaneCurveExtractKnotValue(copy.get(), k, y, nullptr);
        EXPECT_EQ(0, std::memcmp(x, y, sizeof x));
    }
}

TEST(CompactCurve, ACopyKeepsTheSourcesSegmentsAndDepths) {
    const int n = 45;
    std::vector<float> q = Turning(n, 0.1, 11);
    Record rec(4, 1, 9, n, 0.04f, {3, 19, 0, 7, 12}, q.data());
    orvane_curve_builder* b = OrvaneBeginCurveCopy(&rec.curve);
    ASSERT_NE(b, nullptr);
    const int32_t size = OrvaneGetResultingCurveDataSize(b);
    CurvePtr copy(OrvaneEndCurve(b));
    ASSERT_NE(copy, nullptr);
    const auto* c = static_cast<const orvane_curve_data_da_compact*>(copy->CurveData.Object);
    const int32_t parts = int32_t(sizeof(orvane_curve_data_da_compact)) + c->ByteCount;
    EXPECT_GE(size, parts);
    EXPECT_LE(size, parts + 8);  // alignment of the arrays
    ASSERT_TRUE(orvane::CompactCurveIsSound(c));
    EXPECT_EQ(c->ByteCount, rec.r.ByteCount);
    std::vector<float> a(size_t(4 * n)), e(size_t(4 * n));
    orvane::DecodeCompactKnots(&rec.r, 0, n, e.data());
    orvane::DecodeCompactKnots(c, 0, n, a.data());
    EXPECT_EQ(a, e);
}

orvane_file_byte_order OtherByteOrder() {
    const uint16_t probe = 1;
    uint8_t first;
    std::memcpy(&first, &probe, 1);
    return first ? OrvaneBigEndianByteOrder : OrvaneLittleEndianByteOrder;
}

TEST(CompactCurve, AFileInEitherByteOrderLoadsTheSameValues) {
    const int n = 50;
    std::vector<float> q = Turning(n, 0.06, 9);
    Record rec(4, 1, 16, n, 1.0f / 30, {11, 13, 7, 5}, q.data());
    std::vector<float> expected(size_t(4 * n));
    orvane::DecodeCompactKnots(&rec.r, 0, n, expected.data());
    for (bool reversed : {false, true}) {
        orvane_test::TreeFileOptions options;
        options.byteOrder = reversed ? OtherByteOrder() : OrvaneNativeByteOrder;
        std::vector<uint8_t> bytes =
            orvane_test::WriteTreeBytes(OrvaneCurve2Type, &rec.curve, options);
        ASSERT_FALSE(bytes.empty());
        orvane_file* file = OrvaneReadEntireFileFromMemory(int32_t(bytes.size()), bytes.data());
        ASSERT_NE(file, nullptr);
        orvane_variant tree = OrvaneGetDataTreeFromFile(file);
        auto* curve = static_cast<orvane_curve2*>(
            OrvaneConvertTree(tree.Type, tree.Object, OrvaneCurve2Type));
        ASSERT_NE(curve, nullptr);
        EXPECT_TRUE(OrvaneCurveFormatIsInitializedCorrectly(curve));
        EXPECT_EQ(static_cast<orvane_curve_data_header*>(curve->CurveData.Object)->Format,
                  OrvaneCurveFormatDaCompact);
        std::vector<float> got(size_t(4 * n));
        OrvaneCurveExtractKnotValues(curve, 0, n, nullptr, got.data(), nullptr);
        EXPECT_EQ(got, expected) << (reversed ? "reversed" : "native");
        OrvaneFreeBuilderResult(curve);
        OrvaneFreeFile(file);
    }
}

TEST(CompactCurve, DamagedRecordsAreRefusedWhereTheyComeIn) {
    const int n = 33;
    const std::vector<float> v = Wave(n, 3, 0.1, 10);
    using Damage = void (*)(orvane_curve_data_da_compact&);
    const Damage damages[] = {
        [](orvane_curve_data_da_compact& r) { r.Dimension = 0; },
        [](orvane_curve_data_da_compact& r) { r.Dimension = 17; },
        [](orvane_curve_data_da_compact& r) { r.Packing = 1; },  // a quaternion of 3
        [](orvane_curve_data_da_compact& r) { r.Packing = 2; },  // a quaternion of 3
        [](orvane_curve_data_da_compact& r) { r.Packing = 3; },
        [](orvane_curve_data_da_compact& r) { r.SegmentLength = 0; },
        [](orvane_curve_data_da_compact& r) { r.KnotCount = 1000; },
        [](orvane_curve_data_da_compact& r) { r.KnotCount = -1; },
        [](orvane_curve_data_da_compact& r) { r.KnotInterval = 0.0f; },
        [](orvane_curve_data_da_compact& r) { r.KnotInterval = NAN; },
        [](orvane_curve_data_da_compact& r) { r.KnotInterval = 3e38f; },
        [](orvane_curve_data_da_compact& r) { SetRange(r, 1, INFINITY); },
        [](orvane_curve_data_da_compact& r) { SetRange(r, 4, NAN); },
        [](orvane_curve_data_da_compact& r) { SetRange(r, 0, 3e38f), SetRange(r, 3, 3e38f); },
        [](orvane_curve_data_da_compact& r) { SetDepth(r, 0, 0, 25); },
        [](orvane_curve_data_da_compact& r) { SetDepth(r, 1, 2, 31); },
        [](orvane_curve_data_da_compact& r) { SetDepth(r, 2, 1, 25); },
        [](orvane_curve_data_da_compact& r) { SetStart(r, 0, -8); },
        [](orvane_curve_data_da_compact& r) { SetStart(r, 0, 1 << 30); },
        [](orvane_curve_data_da_compact& r) {  // the last segment passes the end
            SetStart(r, 0, int32_t(orvane_test::CompactReference{r}.Start(8)) + 8);
        },
        [](orvane_curve_data_da_compact& r) {  // the values one byte short
            const orvane_test::CompactReference ref{r};
            if (ref.HeadersLast())
                std::memmove(r.Bytes + ref.HeadersAt() - 1, r.Bytes + ref.HeadersAt(),
                             size_t(ref.HeaderBytes()));
            r.ByteCount -= 1;
        },
        [](orvane_curve_data_da_compact& r) { r.ByteCount = 2; },
        [](orvane_curve_data_da_compact& r) { r.ByteCount = -4; },
        [](orvane_curve_data_da_compact& r) { r.Bytes = nullptr; },
        // Written with the earliest layout of the bytes (segment 0's start stored), or a later
        // one than this reader knows.
        [](orvane_curve_data_da_compact& r) { r.Layout = 0; },
        [](orvane_curve_data_da_compact& r) { r.Layout = 6; },
    };
    // Lines and bands reach 3.5 extents from the low: a range whose values could overflow there.
    const Damage lineDamages[] = {
        [](orvane_curve_data_da_compact& r) { SetRange(r, 0, 2e38f), SetRange(r, 3, 1e38f); },
        [](orvane_curve_data_da_compact& r) { SetRange(r, 5, 1e38f); },
    };
    // The earlier layout's flags byte holds nothing but a quaternion's dropped component and
    // sign.
    const Damage flagsDamages[] = {
        [](orvane_curve_data_da_compact& r) {
            r.Bytes[orvane_test::CompactReference{r}.HeadersAt()] = 1;
        },
        [](orvane_curve_data_da_compact& r) {
            const orvane_test::CompactReference ref{r};
            r.Bytes[ref.HeadersAt() + ref.HeaderBits() / 8] |= 0x20;
        },
    };
    auto refused = [](orvane_curve_data_da_compact& r, orvane_curve2& curve, const char* what) {
        EXPECT_FALSE(orvane::CompactCurveIsSound(&r)) << what;
        EXPECT_FALSE(OrvaneCurveFormatIsInitializedCorrectly(&curve)) << what;
        LogCapture log;
        OrvaneCurveInitializeFormat(&curve);
        EXPECT_EQ(r.CurveDataHeader.Format, 255) << what;
        EXPECT_FALSE(log.messages().empty());
    };
    for (int layout : {1, 2, 3, 4, 5}) {
        SCOPED_TRACE(testing::Message() << "layout " << layout);
        for (size_t i = 0; i < std::size(damages); ++i) {
            // Nine segments: the ninth has a stored start.
            Record rec(3, 0, 4, n, 0.25f, {12, 12, 20, 12, 12, 20, 12, 12, 20}, v.data(), layout);
            ASSERT_TRUE(orvane::CompactCurveIsSound(&rec.r));
            damages[i](rec.r);
            refused(rec.r, rec.curve, ("damage " + std::to_string(i)).c_str());
        }
    }
    for (int layout : {3, 5})
        for (size_t i = 0; i < std::size(lineDamages); ++i) {
            Record rec(3, 0, 4, n, 0.25f, {12, 12, 20, 12, 12, 20, 12, 12, 20}, v.data(), layout);
            ASSERT_TRUE(orvane::CompactCurveIsSound(&rec.r));
            lineDamages[i](rec.r);
            refused(rec.r, rec.curve, ("line damage " + std::to_string(i)).c_str());
        }
    for (size_t i = 0; i < std::size(flagsDamages); ++i) {
        Record rec(3, 0, 4, n, 0.25f, {12, 12, 20, 12, 12, 20, 12, 12, 20}, v.data(), 1);
        ASSERT_TRUE(orvane::CompactCurveIsSound(&rec.r));
        flagsDamages[i](rec.r);
        refused(rec.r, rec.curve, ("flags damage " + std::to_string(i)).c_str());
    }
    // A sound record is recognised.
    Record sound(3, 0, 16, n, 0.25f, {12, 12, 20}, v.data());
    sound.r.CurveDataHeader.Format = 255;
    OrvaneCurveInitializeFormat(&sound.curve);
    EXPECT_EQ(sound.r.CurveDataHeader.Format, OrvaneCurveFormatDaCompact);
}

}  // namespace

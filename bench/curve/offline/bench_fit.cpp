// Curve fitting and animation compression on captured motion.
//
// Workloads: data/assets/bvh/cmu/walk.bvh (31 joints, 344 frames at 120 fps, in cm)
// and the walk and jog of data/pab_walk_jog_arnaud4.json (67 joints, 30 Hz, in cm).
// - Fit/*: one OrvaneFitBSplineToSamples of a 344-sample orientation track of walk.bvh, by
//   format; the baseline in the same run copies the samples into an exact polyline.
// - Compress/clip/budget/baseline: OrvaneCompressAnimation of a whole clip at an error budget
//   (thousandths of a cm); mode 1 runs the compressor as it was before bones that the source
//   holds still kept its values (curve/offline/baseline/, built into this program) in the same
//   run, mode 2 asks for the compact format. Counters: raw_bytes = 10 floats per bone per
//   frame, ratio = that over the curve data (knots, controls, scale and offset tables and record
//   headers), group_ratio the same over the whole track group block; max_cm, p99_cm and mean_cm
//   the field's error metric (3 cm points, object space) at the frames, mid_max_cm halfway
//   between frames against the samples lerped (mid_worst_bone/frame where); part_* the shares
//   of records, knots and controls; fmt_* the share of each format; plain_float_curves of
//   curves; orient_fitted the fitted orientation curves and orient_knots_per_frame their knots
//   per frame; fitted_degree1..3 the fitted curves by degree; bones_missed_between the bones
//   whose curves miss the budget between frames beyond what their parents left;
//   s_per_44bone_min the compression time scaled to a minute of 44 bones at 24 fps. With
//   compact curves: cmp_ranges, cmp_starts, cmp_headers and cmp_value_bytes their parts as
//   shares of the curve bytes, cmp_bits the bits of a stored value on average, cmp_spacingN
//   their curves with a knot every N frames (0: more), cmp_lengthN with N knots a segment,
//   cmp_lines those in layout 3 (a line and a band per segment and component).
// - SamplePose/clip/budget/compact: sampling every track of the compressed group (compact 1:
//   in the compact format) at successive times (the hinted track sampler, as playback does); the
//   baseline in the same run interpolates the raw samples (lerp and normalised lerp). Counter
//   ns_per_bone.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "curve/offline/baseline/baseline.h"
#include "orvane.h"
#include "orvane_motion_clip.h"
#include "testing/data_path.h"

namespace {

using orvane_workload::SampledMotion;

const SampledMotion& Walk() {
    static const SampledMotion motion = [] {
        SampledMotion m;
        std::string error;
        if (!orvane_workload::LoadBvh(orvane_data::Path("assets/bvh/cmu/walk.bvh"),
                                      orvane_workload::kCmuUnitToCm, &m, &error))
            std::fprintf(stderr, "%s\n", error.c_str());
        return m;
    }();
    return motion;
}

const SampledMotion& Pab(int index) {
    static const std::vector<SampledMotion> motions = [] {
        std::string error;
        std::vector<SampledMotion> m = orvane_workload::PabMotions(&error);
        if (m.size() != 2) std::fprintf(stderr, "%s\n", error.c_str());
        return m;
    }();
    static const SampledMotion none;
    return size_t(index) < motions.size() ? motions[size_t(index)] : none;
}

const SampledMotion& Clip(int clip) {
    return clip == 0 ? Walk() : Pab(clip - 1);
}

// False, with the benchmark skipped, when the clip could not be read (the reason was printed):
// its data is absent, or this build reads no BVH (assimp was not found).
bool Usable(benchmark::State& state, const SampledMotion& m) {
    if (m.frameCount >= 2) return true;
    state.SkipWithError("the clip could not be read");
    return false;
}

std::vector<float> OrientationTrack(const SampledMotion& m, int bone) {
    std::vector<float> q(size_t(m.frameCount) * 4);
    for (int f = 0; f < m.frameCount; ++f)
        std::copy_n(&m.orientations[m.at(f, bone) * 4], 4, &q[size_t(f) * 4]);
    OrvaneEnsureQuaternionContinuity(m.frameCount, q.data());
    return q;
}

void FitBaseline(benchmark::State& state) {
    const SampledMotion& m = Walk();
    if (!Usable(state, m)) return;
    const std::vector<float> q = OrientationTrack(m, 2);
    std::vector<float> knots(static_cast<size_t>(m.frameCount));
    for (int f = 0; f < m.frameCount; ++f)
        knots[size_t(f)] = float(f) * m.timeStep;
    for (auto _ : state) {
        orvane_curve_builder* b =
            OrvaneBeginCurve(OrvaneCurveDataD4nK16uC15uType, 1, 4, m.frameCount);
        OrvanePushCurveKnotArray(b, knots.data());
        OrvanePushCurveControlArray(b, q.data());
        orvane_curve2* curve = OrvaneEndCurve(b);
        benchmark::DoNotOptimize(curve);
        OrvaneFreeCurve(curve);
    }
}

void Fit(benchmark::State& state, orvane_data_type_definition* type) {
    const SampledMotion& m = Walk();
    if (!Usable(state, m)) return;
    const std::vector<float> q = OrientationTrack(m, 2);
    orvane_bspline_solver* solver = OrvaneAllocateBSplineSolver(3, m.frameCount, 4);
    const int32_t maxKnots = OrvaneGetMaximumKnotCountForSampleCount(3, m.frameCount);
    std::vector<float> knots(static_cast<size_t>(maxKnots));
    std::vector<float> controls(static_cast<size_t>(maxKnots) * 4);
    int32_t count = 0, size = 0;
    for (auto _ : state) {
        orvane_bool achieved = false;
        count = OrvaneFitBSplineToSamples(solver, m.timeStep, m.frameCount, q.data(),
                                          OrvaneFitDenseStartKnots | OrvaneFitBreakAtJumps, 0.002f,
                                          0.2f, 0.0f, 4, 3, type, knots.data(), controls.data(), 0,
                                          &achieved, &size);
        benchmark::DoNotOptimize(controls.data());
    }
    state.counters["knots"] = double(count);
    state.counters["bytes"] = double(size);
    OrvaneDeallocateBSplineSolver(solver);
}

struct Result {
    orvane_track_group* group = nullptr;
    orvane_animation_compression_statistics stats{};
};

// baseline: the compressor as it was before (curve/offline/baseline/), in the same run.
// compact: the compact format for every moving component.
Result CompressClip(const SampledMotion& m, float budget, bool baseline = false,
                    bool compact = false) {
    orvane_workload::CompressionInput input(m);
    orvane_animation_compression_options options;
    OrvaneGetDefaultAnimationCompressionOptions(&options);
    options.ErrorBudget = budget;
    if (compact) options.AllowedFormats |= 1u << OrvaneCurveFormatDaCompact;
    Result r;
    r.group = (baseline ? BaselineCompressAnimation : OrvaneCompressAnimation)(
        &input.skeleton, input.sampler, m.frameCount, m.timeStep, m.name.c_str(), &options,
        &r.stats);
    return r;
}

// Where the bytes of a group's curves go: per format, and per part (the records with their
// scale and offset tables, the knots, the controls).
struct ByteReport {
    double byFormat[OrvaneCurveFormatTableSize] = {};
    double records = 0, knots = 0, controls = 0;
    int32_t curves = 0, plainFloatCurves = 0;
    // Fitted curves (quantised or plain-float) by degree; the fitted orientation curves and
    // their knots.
    int32_t fittedByDegree[4] = {};
    int32_t fittedOrientations = 0;
    double orientationKnots = 0;
    // Compact curves: bytes of their ranges, segment starts and segment headers; their stored
    // values and bits; their curves by knot spacing (in frames, 1..16, more in 0) and by
    // segment length (8, 16, 32, 64, 128).
    double compactRanges = 0, compactStarts = 0, compactHeaders = 0;
    double compactValues = 0, compactValueBits = 0;
    int32_t compactBySpacing[17] = {};
    int32_t compactLines = 0;  // curves in layout 3
    int32_t compactByLength[5] = {};
};

// The parts of a compact record (see orvane/curve.h for its layout).
void ReportCompact(const orvane_curve_data_da_compact* r, float timeStep, ByteReport* report) {
    const int32_t stored = r->Packing != 0 ? 3 : r->Dimension;
    const int32_t segments = (r->KnotCount - 1) / r->SegmentLength + 1;
    const int32_t starts = (segments - 1) / 8;  // none for the first segment
    // Packing 2 implies its range; layouts 2 and 3 store a quaternion's in 16-bit fractions.
    const int32_t rangeBytes =
        r->Packing == 2 ? 0 : (r->Layout >= 2 && r->Packing == 1 ? 4 : 8) * r->Dimension;
    report->compactRanges += rangeBytes;
    report->compactStarts += 4.0 * starts;
    // Layout 1: whole bytes per segment header (a flags byte, then low, extent and depth per
    // stored component); layout 2: 3 flag bits for quaternions, the 5-bit depths, then the lows
    // and extents; layout 3 the same with a line's ends and a band's width for low and extent;
    // layouts 4 and 5 as 2 and 3.
    const bool bytes = r->Layout == 1;
    const int32_t flagBits = r->Packing != 0 ? 3 : 0;
    const bool lines = r->Layout == 3 || r->Layout == 5;
    const int32_t headerBits = bytes ? 8 * (1 + 3 * stored) : flagBits + (lines ? 29 : 21) * stored;
    report->compactLines += lines ? 1 : 0;
    const int64_t headerBytes = (int64_t(segments) * headerBits + 7) / 8;
    report->compactHeaders += double(headerBytes);
    // Layouts 4 and 5 put the headers after the values, at the end of the bytes.
    const uint8_t* headers =
        r->Layout >= 4 ? r->Bytes + r->ByteCount - headerBytes : r->Bytes + rangeBytes + 4 * starts;
    auto field = [headers](int64_t at, int width) {
        uint32_t v = 0;
        for (int b = 0; b < width; ++b, ++at)
            v |= uint32_t((headers[at / 8] >> (at % 8)) & 1) << b;
        return v;
    };
    for (int32_t s = 0; s < segments; ++s) {
        const int32_t knots =
            std::min<int32_t>(r->SegmentLength, r->KnotCount - s * r->SegmentLength);
        for (int32_t j = 0; j < stored; ++j) {
            const int64_t depthAt =
                int64_t(s) * headerBits + (bytes ? 24 + 24 * j : flagBits + 5 * j);
            report->compactValues += knots;
            report->compactValueBits += double(knots) * field(depthAt, bytes ? 8 : 5);
        }
    }
    const int32_t spacing = r->KnotCount > 1 ? int32_t(std::lround(r->KnotInterval / timeStep)) : 0;
    ++report->compactBySpacing[spacing >= 1 && spacing <= 16 ? spacing : 0];
    for (int l = 0; l < 5; ++l)
        if (r->SegmentLength == 8 << l) ++report->compactByLength[l];
}

ByteReport ReportBytes(const orvane_track_group* group, float timeStep) {
    ByteReport report;
    // Curves that share a record (identity and equal constant records) count it once.
    std::set<const void*> records;
    for (int32_t t = 0; t < group->TransformTrackCount; ++t) {
        const orvane_transform_track& track = group->TransformTracks[t];
        for (const orvane_curve2* curve :
             {&track.PositionCurve, &track.OrientationCurve, &track.ScaleShearCurve}) {
            const bool counted = !records.insert(curve->CurveData.Object).second;
            orvane_curve_builder* b = OrvaneBeginCurveCopy(curve);
            const double bytes = counted ? 0.0 : double(OrvaneGetResultingCurveDataSize(b));
            OrvaneAbortCurveBuilder(b);
            const int format = *static_cast<const uint8_t*>(curve->CurveData.Object);
            const int32_t n = OrvaneCurveGetKnotCount(curve);
            const int32_t d = OrvaneCurveGetDimension(curve);
            const double knotBytes = format == OrvaneCurveFormatDaK32fC32f ? 4.0
                                     : format == OrvaneCurveFormatDaK16uC16u ||
                                             format == OrvaneCurveFormatD4nK16uC15u ||
                                             format == OrvaneCurveFormatD3K16uC16u ||
                                             format == OrvaneCurveFormatD9I1K16uC16u ||
                                             format == OrvaneCurveFormatD9I3K16uC16u
                                         ? 2.0
                                         : 1.0;
            const bool fitted = format == OrvaneCurveFormatDaK32fC32f ||
                                (format >= 6 && format < OrvaneCurveFormatDaCompact);
            const double k = fitted ? knotBytes * n : 0.0;
            const int stored =
                format == OrvaneCurveFormatD4nK16uC15u || format == OrvaneCurveFormatD4nK8uC7u ||
                        format == OrvaneCurveFormatD9I3K16uC16u ||
                        format == OrvaneCurveFormatD9I3K8uC8u
                    ? 3
                : format == OrvaneCurveFormatD9I1K16uC16u || format == OrvaneCurveFormatD9I1K8uC8u
                    ? 1
                    : d;
            const double c = fitted ? knotBytes * n * stored : 0.0;
            if (fitted) {
                ++report.fittedByDegree[OrvaneCurveGetDegree(curve) & 3];
                if (curve == &track.OrientationCurve) {
                    ++report.fittedOrientations;
                    report.orientationKnots += n;
                }
            }
            if (format == OrvaneCurveFormatDaCompact)
                ReportCompact(
                    static_cast<const orvane_curve_data_da_compact*>(curve->CurveData.Object),
                    timeStep, &report);
            report.byFormat[format] += bytes;
            report.knots += k;
            report.controls += c;
            report.records += bytes - k - c;
            ++report.curves;
            if (format == OrvaneCurveFormatDaK32fC32f) ++report.plainFloatCurves;
        }
    }
    return report;
}

void Compress(benchmark::State& state) {
    const SampledMotion& m = Clip(int(state.range(0)));
    if (!Usable(state, m)) return;
    const float budget = float(state.range(1)) / 1000.0f;
    const bool baseline = state.range(2) == 1, compact = state.range(2) == 2;
    Result last;
    double seconds = 0;
    for (auto _ : state) {
        OrvaneFreeBuilderResult(last.group);
        const auto start = std::chrono::steady_clock::now();
        last = CompressClip(m, budget, baseline, compact);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        benchmark::DoNotOptimize(last.group);
    }
    const double raw = double(m.boneCount()) * m.frameCount * 10.0 * 4.0;
    const orvane_workload::ErrorReport report = orvane_workload::MeasureError(m, last.group, 3.0f);
    const ByteReport bytes = ReportBytes(last.group, m.timeStep);
    state.SetLabel(m.name + (baseline ? " baseline" : compact ? " compact" : ""));
    state.counters["raw_bytes"] = raw;
    state.counters["ratio"] = raw / double(last.stats.CurveDataBytes);
    state.counters["group_ratio"] = raw / double(last.stats.TrackGroupBytes);
    state.counters["max_cm"] = double(report.maximum);
    state.counters["p99_cm"] = double(report.percentile99);
    state.counters["mean_cm"] = double(report.mean);
    state.counters["mid_max_cm"] = double(report.midpointMaximum);
    state.counters["mid_worst_bone"] = double(report.midpointWorstBone);
    state.counters["mid_worst_frame"] = double(report.midpointWorstFrame);
    state.counters["budget_cm"] = double(budget);
    // Parts and formats as shares of the curve bytes; plain-float curves of all curves.
    const double total = double(last.stats.CurveDataBytes);
    state.counters["part_records"] = bytes.records / total;
    state.counters["part_knots"] = bytes.knots / total;
    state.counters["part_controls"] = bytes.controls / total;
    state.counters["plain_float_curves"] = double(bytes.plainFloatCurves);
    state.counters["curves"] = double(bytes.curves);
    // Knots of the fitted orientation curves per frame of their clip, and the fitted curves by
    // degree.
    state.counters["orient_fitted"] = double(bytes.fittedOrientations);
    state.counters["orient_knots_per_frame"] =
        bytes.fittedOrientations > 0
            ? bytes.orientationKnots / (double(bytes.fittedOrientations) * m.frameCount)
            : 0.0;
    for (int d = 1; d <= 3; ++d)
        state.counters["fitted_degree" + std::to_string(d)] = double(bytes.fittedByDegree[d]);
    state.counters["bones_missed_between"] = double(last.stats.BonesMissedBetweenFrames);
    static const char* const kNames[OrvaneCurveFormatTableSize] = {
        "DaKeyframes32f", "DaK32fC32f", "DaIdentity",    "DaConstant32f", "D3Constant32f",
        "D4Constant32f",  "DaK16uC16u", "DaK8uC8u",      "D4nK16uC15u",   "D4nK8uC7u",
        "D3K16uC16u",     "D3K8uC8u",   "D9I1K16uC16u",  "D9I3K16uC16u",  "D9I1K8uC8u",
        "D9I3K8uC8u",     "DaCompact",  "D3Constant14s", "D4nConstant15u"};
    for (int f = 0; f < OrvaneCurveFormatTableSize; ++f)
        if (bytes.byFormat[f] > 0)
            state.counters[std::string("fmt_") + kNames[f]] = bytes.byFormat[f] / total;
    if (bytes.compactValues > 0) {
        state.counters["cmp_ranges"] = bytes.compactRanges / total;
        state.counters["cmp_starts"] = bytes.compactStarts / total;
        state.counters["cmp_headers"] = bytes.compactHeaders / total;
        state.counters["cmp_value_bytes"] = bytes.compactValueBits / 8.0 / total;
        state.counters["cmp_bits"] = bytes.compactValueBits / bytes.compactValues;
        state.counters["cmp_lines"] = double(bytes.compactLines);
        for (int s = 0; s <= 16; ++s)
            if (bytes.compactBySpacing[s] > 0)
                state.counters["cmp_spacing" + std::to_string(s)] =
                    double(bytes.compactBySpacing[s]);
        for (int l = 0; l < 5; ++l)
            if (bytes.compactByLength[l] > 0)
                state.counters["cmp_length" + std::to_string(8 << l)] =
                    double(bytes.compactByLength[l]);
    }
    // Compression time scaled to a minute of a 44-bone capture at 24 fps (seconds).
    const double boneFrames = double(m.boneCount()) * double(m.frameCount);
    state.counters["s_per_44bone_min"] =
        seconds / double(state.iterations()) * (44.0 * 24.0 * 60.0) / boneFrames;
    OrvaneFreeBuilderResult(last.group);
}

void SamplePose(benchmark::State& state) {
    const SampledMotion& m = Clip(int(state.range(0)));
    if (!Usable(state, m)) return;
    const float budget = float(state.range(1)) / 1000.0f;
    const bool compact = state.range(2) != 0;
    Result r = CompressClip(m, budget, false, compact);
    const int32_t n = r.group->TransformTrackCount;
    std::vector<orvane_transform> pose(static_cast<size_t>(n));
    std::vector<int32_t> hints(size_t(n) * 3, 0);
    const float duration = float(m.frameCount - 1) * m.timeStep;
    orvane_track_sample_context context{};
    context.SampleDuration = duration;
    float t = 0.0f;
    for (auto _ : state) {
        t += 1.0f / 60.0f;
        if (t > duration) {
            t -= duration;
            std::fill(hints.begin(), hints.end(), 0);
        }
        context.SampleTime = t;
        for (int32_t b = 0; b < n; ++b) {
            pose[size_t(b)].Flags = 0;
            OrvaneSampleTrackUUULocalHinted(&context, &r.group->TransformTracks[b],
                                            &hints[size_t(b) * 3], &pose[size_t(b)]);
        }
        benchmark::DoNotOptimize(pose.data());
    }
    state.SetLabel(m.name + (compact ? " compact" : ""));
    state.counters["ns_per_bone"] = benchmark::Counter(
        double(state.iterations()) * n, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    OrvaneFreeBuilderResult(r.group);
}

// Uncompressed playback: the two raw frames around the time, lerped (orientation
// normalised), into the same pose records.
void SamplePoseBaseline(benchmark::State& state) {
    const SampledMotion& m = Clip(int(state.range(0)));
    if (!Usable(state, m)) return;
    const int32_t n = m.boneCount();
    std::vector<orvane_transform> pose(static_cast<size_t>(n));
    const float duration = float(m.frameCount - 1) * m.timeStep;
    float t = 0.0f;
    for (auto _ : state) {
        t += 1.0f / 60.0f;
        if (t > duration) t -= duration;
        const float x = t / m.timeStep;
        const int32_t f = std::min(int32_t(x), m.frameCount - 2);
        const float w = x - float(f);
        for (int32_t b = 0; b < n; ++b) {
            const float* p0 = &m.positions[m.at(f, b) * 3];
            const float* p1 = &m.positions[m.at(f + 1, b) * 3];
            const float* q0 = &m.orientations[m.at(f, b) * 4];
            const float* q1 = &m.orientations[m.at(f + 1, b) * 4];
            const float* s0 = &m.scales[m.at(f, b) * 3];
            const float* s1 = &m.scales[m.at(f + 1, b) * 3];
            orvane_transform& r = pose[size_t(b)];
            r.Flags = 7;
            for (int c = 0; c < 3; ++c)
                r.Position[c] = p0[c] + w * (p1[c] - p0[c]);
            const float sign =
                q0[0] * q1[0] + q0[1] * q1[1] + q0[2] * q1[2] + q0[3] * q1[3] < 0 ? -1.0f : 1.0f;
            float length = 0.0f;
            for (int c = 0; c < 4; ++c) {
                r.Orientation[c] = q0[c] + w * (sign * q1[c] - q0[c]);
                length += r.Orientation[c] * r.Orientation[c];
            }
            const float inverse = 1.0f / std::sqrt(length);
            for (int c = 0; c < 4; ++c)
                r.Orientation[c] *= inverse;
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    r.ScaleShear[i][j] = i == j ? s0[i] + w * (s1[i] - s0[i]) : 0.0f;
        }
        benchmark::DoNotOptimize(pose.data());
    }
    state.SetLabel(m.name);
    state.counters["ns_per_bone"] = benchmark::Counter(
        double(state.iterations()) * n, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(FitBaseline)->Name("Fit/baseline_exact_polyline");
BENCHMARK_CAPTURE(Fit, DaK32fC32f, OrvaneCurveDataDaK32fC32fType);
BENCHMARK_CAPTURE(Fit, D4nK16uC15u, OrvaneCurveDataD4nK16uC15uType);
// Clip 0 = walk.bvh, 1 = pab walk, 2 = pab jog; the budget in thousandths of a cm.
// The third argument 1 runs the baseline compressor.
BENCHMARK(Compress)
    ->ArgsProduct({{0, 1, 2}, {10, 15, 20, 30, 40, 50}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(SamplePoseBaseline)->Arg(0)->Arg(1)->Arg(2);
BENCHMARK(SamplePose)->ArgsProduct({{0, 1, 2}, {10, 50}, {0, 1}});

}  // namespace

BENCHMARK_MAIN();

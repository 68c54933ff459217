// Track groups: lookups by name and by rule, the flags word, track queries, initial
// transforms, curve transforms, basis conversion of curves and whole groups, and the
// reducibility tests used when compressing.
#include "track/orvane_track_group.h"

#include <cmath>
#include <cstring>
#include <mutex>

#include "track/orvane_track_sampler.h"
#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "core/orvane_string.h"
#include "diag/orvane_timing.h"
#include "math/orvane_math_internal.h"
#include "orvane/track_group.h"

namespace orvane {
namespace {

constexpr float kUnbounded = 1.9140881e38f;

// Rule lookups capture into a buffer on the stack; names that do not fit never match.
constexpr int32_t kCaptureSize = 1024;

template <typename Track>
bool FindByRule(const Track* tracks, int32_t count, const char* processedName, const char* pattern,
                int32_t* index) {
    char captured[kCaptureSize];
    for (int32_t i = 0; i < count; ++i) {
        const char* name = tracks[i].Name;
        if (name == nullptr) continue;
        if (pattern == nullptr) {
            if (StringsAreEqual(name, processedName)) {
                *index = i;
                return true;
            }
            continue;
        }
        if (StringLength(name) >= kCaptureSize) continue;
        if (!WildcardMatch(name, pattern, captured)) continue;
        if (StringsAreEqual(captured, processedName)) {
            *index = i;
            return true;
        }
    }
    *index = -1;
    return false;
}

template <typename Track>
bool ScanByName(const Track* tracks, int32_t count, const char* name, int32_t* index) {
    for (int32_t i = 0; i < count; ++i) {
        if (NamesAreEqual(name, tracks[i].Name)) {
            *index = i;
            return true;
        }
    }
    *index = -1;
    return false;
}

// The dominant column of each row of a signed permutation with a common scale, or false.
bool SwizzleOf(const float* linear, float tolerance, int32_t dominant[3]) {
    for (int r = 0; r < 3; ++r) {
        int best = 0;
        for (int c = 1; c < 3; ++c)
            if (linear[3 * r + c] * linear[3 * r + c] > linear[3 * r + best] * linear[3 * r + best])
                best = c;
        dominant[r] = best;
    }
    if (dominant[0] == dominant[1] || dominant[0] == dominant[2] || dominant[1] == dominant[2])
        return false;
    const float tolerance2 = tolerance * tolerance;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            if (c != dominant[r] && linear[3 * r + c] * linear[3 * r + c] > tolerance2)
                return false;
    float magnitude[3];
    for (int r = 0; r < 3; ++r)
        magnitude[r] = std::fabs(linear[3 * r + dominant[r]]);
    return std::fabs(magnitude[0] - magnitude[1]) <= tolerance &&
           std::fabs(magnitude[0] - magnitude[2]) <= tolerance &&
           std::fabs(magnitude[1] - magnitude[2]) <= tolerance;
}

// Checks shared by the three curve conversions; false (with the message) when the curve
// cannot be converted.
bool ConvertibleCurve(const orvane_curve2* curve, int32_t dimension) {
    if (curve == nullptr) {
        ORVANE_LOG_ERROR(OrvaneTrackGroupOrigin, "Curve is not allowed to be 0");
        return false;
    }
    if (OrvaneCurveIsIdentity(curve)) {
        ORVANE_LOG_ERROR(OrvaneTrackGroupOrigin,
                         "Curve is the identity value - can't transform it");
        return false;
    }
    if (OrvaneCurveGetDimension(curve) != dimension ||
        ClassifyCurve(curve, dimension) == CurveKind::Invalid) {
        ORVANE_LOG_ERROR(OrvaneTrackGroupOrigin, "Curve does not have dimension=%d",
                         int(dimension));
        return false;
    }
    return true;
}

// Decodes every knot, applies change to each control vector and re-encodes in the curve's own
// format. A failed allocation leaves the curve unchanged.
template <typename Change>
void DecodeTransformEncode(orvane_curve2* curve, int32_t dimension, Change change) {
    const int32_t n = OrvaneCurveGetKnotCount(curve);
    if (n <= 0) return;
    const bool keyframed = OrvaneCurveIsKeyframed(curve);
    float* knots = keyframed ? nullptr : ORVANE_ALLOCATE_ARRAY(float, n);
    float* controls = ORVANE_ALLOCATE_ARRAY(float, int64_t(n) * dimension);
    if ((!keyframed && knots == nullptr) || controls == nullptr) {
        ORVANE_DEALLOCATE(knots);
        ORVANE_DEALLOCATE(controls);
        return;
    }
    OrvaneCurveExtractKnotValues(curve, 0, n, knots, controls, nullptr);
    for (int32_t i = 0; i < n; ++i)
        change(controls + int64_t(i) * dimension);
    OrvaneCurveSetAllKnotValues(curve, n, dimension, knots, controls);
    ORVANE_DEALLOCATE(knots);
    ORVANE_DEALLOCATE(controls);
}

void TransformVectorOf(const float* linear, const float* affine, float* v) {
    float r[3];
    Transform3x3(r, linear, v);
    for (int c = 0; c < 3; ++c)
        v[c] = r[c] + affine[c];
}

// Multiplies v by linear and normalises it; a result of length 1e-5 or less becomes zero.
// Returns the length before normalising.
float TransformAndNormalize(const float* linear, float v[3]) {
    float r[3];
    Transform3x3(r, linear, v);
    const float length = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
    for (int c = 0; c < 3; ++c)
        v[c] = length > 0.00001f ? r[c] / length : 0.0f;
    return length;
}

}  // namespace

int32_t CompareTrackNames(const char* a, const char* b) {
    orvane_string_comparison_callback compare = GetStringComparisonCallback();
    if (compare) return compare(a, b);
    return OrvaneStringDifference(a, b);
}

void BuildTrackConstantTransform(const orvane_transform_track* track, orvane_transform* result) {
    result->Flags = 0;
    if (CurveFirstValue(&track->PositionCurve, 3, OrvaneCurveIdentityPosition, result->Position))
        result->Flags |= OrvaneTransformHasPosition;
    if (CurveFirstValue(&track->OrientationCurve, 4, OrvaneCurveIdentityOrientation,
                        result->Orientation))
        result->Flags |= OrvaneTransformHasOrientation;
    if (CurveFirstValue(&track->ScaleShearCurve, 9, OrvaneCurveIdentityScaleShear,
                        &result->ScaleShear[0][0]))
        result->Flags |= OrvaneTransformHasScaleShear;
}

}  // namespace orvane

using namespace orvane;

namespace {

// LOD error arrays that OrvaneAllocateLODErrorSpace handed out: only these may be freed.
struct LODAllocation {
    LODAllocation* next;
    float* errors;
};
std::mutex g_lodMutex;
LODAllocation* g_lodAllocations = nullptr;

}  // namespace

extern "C" {

// ------------------------------------------------------------------------------------------
// Lookups

ORVANE_API orvane_bool OrvaneFindTrackByName(const orvane_track_group* TrackGroup, const char* Name,
                                             orvane_int32* TrackIndex) {
    ORVANE_TIMING_BLOCK("FindTrackByName");
    int32_t unused;
    if (TrackIndex == nullptr) TrackIndex = &unused;
    *TrackIndex = -1;
    if (TrackGroup == nullptr) return false;
    const int32_t count = TrackGroup->TransformTrackCount;
    const orvane_transform_track* tracks = TrackGroup->TransformTracks;
    if (count <= 0 || tracks == nullptr) return false;
    if ((TrackGroup->AccumulationFlags & OrvaneTrackGroupSortedByName) == 0)
        return ScanByName(tracks, count, Name, TrackIndex);
    int32_t base = 0, remaining = count;
    while (remaining >= 1 && base < count) {
        const int32_t half = remaining / 2;
        const int32_t difference = CompareTrackNames(Name, tracks[base + half].Name);
        if (difference == 0) {
            *TrackIndex = base + half;
            return true;
        }
        if (difference > 0) {
            base += half + 1;
            remaining -= half + 1;
        } else {
            remaining = half;
        }
    }
    return false;
}

ORVANE_API orvane_bool OrvaneFindTrackByRule(const orvane_track_group* TrackGroup,
                                             const char* ProcessedName, const char* Pattern,
                                             orvane_int32* TrackIndex) {
    ORVANE_TIMING_BLOCK("FindTrackByRule");
    int32_t unused;
    if (TrackIndex == nullptr) TrackIndex = &unused;
    *TrackIndex = -1;
    if (TrackGroup == nullptr || TrackGroup->TransformTracks == nullptr) return false;
    return FindByRule(TrackGroup->TransformTracks, TrackGroup->TransformTrackCount, ProcessedName,
                      Pattern, TrackIndex);
}

ORVANE_API orvane_bool OrvaneFindVectorTrackByName(const orvane_track_group* TrackGroup,
                                                   const char* Name,
                                                   orvane_int32* VectorTrackIndex) {
    ORVANE_TIMING_BLOCK("FindVectorTrackByName");
    int32_t unused;
    if (VectorTrackIndex == nullptr) VectorTrackIndex = &unused;
    *VectorTrackIndex = -1;
    if (TrackGroup == nullptr || TrackGroup->VectorTracks == nullptr) return false;
    return ScanByName(TrackGroup->VectorTracks, TrackGroup->VectorTrackCount, Name,
                      VectorTrackIndex);
}

ORVANE_API orvane_bool OrvaneFindVectorTrackByRule(const orvane_track_group* TrackGroup,
                                                   const char* ProcessedName, const char* Pattern,
                                                   orvane_int32* VectorTrackIndex) {
    ORVANE_TIMING_BLOCK("FindVectorTrackByRule");
    int32_t unused;
    if (VectorTrackIndex == nullptr) VectorTrackIndex = &unused;
    *VectorTrackIndex = -1;
    if (TrackGroup == nullptr || TrackGroup->VectorTracks == nullptr) return false;
    return FindByRule(TrackGroup->VectorTracks, TrackGroup->VectorTrackCount, ProcessedName,
                      Pattern, VectorTrackIndex);
}

// ------------------------------------------------------------------------------------------
// Flags and queries

ORVANE_API void OrvaneGetTrackGroupFlags(const orvane_track_group* TrackGroup, orvane_uint32* Flags,
                                         orvane_uint32* VDADOFs) {
    ORVANE_CHECK_NOT_NULL(OrvaneTrackGroupOrigin, TrackGroup, );
    const uint32_t word = uint32_t(TrackGroup->AccumulationFlags);
    if (Flags) *Flags = word & 0xFFFFu;
    if (VDADOFs) *VDADOFs = uint32_t(int32_t(int16_t(uint16_t(word >> 16))));
}

ORVANE_API void OrvaneSetTrackGroupFlags(orvane_track_group* TrackGroup, orvane_uint32 Flags,
                                         orvane_uint32 VDADOFs) {
    ORVANE_CHECK_NOT_NULL(OrvaneTrackGroupOrigin, TrackGroup, );
    TrackGroup->AccumulationFlags = int32_t(Flags | (VDADOFs << 16));
}

ORVANE_API void OrvaneGetTrackGroupInitialPlacement4x4(const orvane_track_group* TrackGroup,
                                                       orvane_real32 Placement4x4[16]) {
    ORVANE_CHECK_NOT_NULL(OrvaneTrackGroupOrigin, TrackGroup, );
    OrvaneBuildCompositeTransform4x4(&TrackGroup->InitialPlacement, Placement4x4);
}

ORVANE_API orvane_bool OrvaneTransformTrackHasKeyframedCurves(const orvane_transform_track* Track) {
    return Track && (OrvaneCurveIsKeyframed(&Track->PositionCurve) ||
                     OrvaneCurveIsKeyframed(&Track->OrientationCurve) ||
                     OrvaneCurveIsKeyframed(&Track->ScaleShearCurve));
}

ORVANE_API orvane_bool OrvaneTransformTrackIsAnimated(const orvane_transform_track* Track) {
    return Track && !(OrvaneCurveIsConstantOrIdentity(&Track->PositionCurve) &&
                      OrvaneCurveIsConstantOrIdentity(&Track->OrientationCurve) &&
                      OrvaneCurveIsConstantOrIdentity(&Track->ScaleShearCurve));
}

ORVANE_API orvane_bool OrvaneTransformTrackIsIdentity(const orvane_transform_track* Track) {
    return Track && OrvaneCurveIsIdentity(&Track->PositionCurve) &&
           OrvaneCurveIsIdentity(&Track->OrientationCurve) &&
           OrvaneCurveIsIdentity(&Track->ScaleShearCurve);
}

ORVANE_API void OrvaneGetTrackInitialTransform(const orvane_transform_track* Track,
                                               orvane_transform* Result) {
    ORVANE_CHECK_NOT_NULL(OrvaneTrackGroupOrigin, Track, );
    ORVANE_CHECK_NOT_NULL(OrvaneTrackGroupOrigin, Result, );
    float position[3], orientation[4], scaleShear[9];
    CurveFirstValue(&Track->PositionCurve, 3, OrvaneCurveIdentityPosition, position);
    CurveFirstValue(&Track->OrientationCurve, 4, OrvaneCurveIdentityOrientation, orientation);
    CurveFirstValue(&Track->ScaleShearCurve, 9, OrvaneCurveIdentityScaleShear, scaleShear);
    OrvaneSetTransformWithIdentityCheck(Result, position, orientation, scaleShear);
}

// ------------------------------------------------------------------------------------------
// Curve transforms and the initial transform

ORVANE_API void OrvaneTransformCurve3(const orvane_transform* Transform, orvane_int32 Count,
                                      orvane_real32* Vec3s) {
    for (int32_t i = 0; i < Count; ++i)
        OrvaneTransformPointInPlace(Vec3s + 3 * i, Transform);
}

ORVANE_API void OrvaneTransformCurve4(const orvane_transform* Transform, orvane_int32 Count,
                                      orvane_real32* Quaternions) {
    for (int32_t i = 0; i < Count; ++i)
        QuaternionMultiply(Quaternions + 4 * i, Transform->Orientation, Quaternions + 4 * i);
}

ORVANE_API void OrvaneTransformCurve3x3(const orvane_transform* Transform, orvane_int32 Count,
                                        orvane_real32* Matrices3x3) {
    float r[9];
    RotationMatrix(r, Transform->Orientation);
    float sr[9], rtsr[9];
    Multiply3x3(sr, ScaleShearOf(*Transform), r);
    TransposeMultiply3x3(rtsr, r, sr);
    for (int32_t i = 0; i < Count; ++i)
        Multiply3x3(Matrices3x3 + 9 * i, rtsr, Matrices3x3 + 9 * i);
}

ORVANE_API void OrvaneRemoveTrackInitialTransform(orvane_transform_track* Track) {
    ORVANE_CHECK_NOT_NULL(OrvaneTrackGroupOrigin, Track, );
    orvane_curve2* curves[3] = {&Track->PositionCurve, &Track->OrientationCurve,
                                &Track->ScaleShearCurve};
    const int32_t dimensions[3] = {3, 4, 9};
    bool identity[3];
    for (int c = 0; c < 3; ++c) {
        identity[c] = OrvaneCurveIsIdentity(curves[c]);
        if (identity[c]) continue;
        // The float format is also checked against its dimension: the controls are rewritten
        // in place below.
        if (!OrvaneCurveIsTypeDaK32fC32f(curves[c]) ||
            ClassifyCurve(curves[c], dimensions[c]) == CurveKind::Invalid) {
            if (c == 0)
                ORVANE_LOG_ERROR(OrvaneTrackGroupOrigin,
                                 "Track contains compressed position curve type - can't remove "
                                 "initial transform");
            else if (c == 1)
                ORVANE_LOG_ERROR(OrvaneTrackGroupOrigin,
                                 "Track contains compressed orientation curve type - can't remove "
                                 "initial transform");
            else
                ORVANE_LOG_ERROR(OrvaneTrackGroupOrigin,
                                 "Track contains compressed scale-shear curve type - can't remove "
                                 "initial transform");
            return;
        }
    }
    orvane_transform initial, inverse;
    OrvaneGetTrackInitialTransform(Track, &initial);
    OrvaneBuildInverse(&inverse, &initial);
    for (int c = 0; c < 3; ++c) {
        if (identity[c]) continue;
        orvane_curve_data_da_k32f_c32f* data = OrvaneCurveGetContentsOfDaK32fC32f(curves[c]);
        const int32_t count = data->ControlCount / dimensions[c];
        if (c == 0)
            OrvaneTransformCurve3(&inverse, count, data->Controls);
        else if (c == 1)
            OrvaneTransformCurve4(&inverse, count, data->Controls);
        else
            OrvaneTransformCurve3x3(&inverse, count, data->Controls);
    }
}

// ------------------------------------------------------------------------------------------
// Basis conversion

ORVANE_API orvane_bool OrvaneBasisConversionRequiresCurveDecompression(
    const orvane_real32*, orvane_real32 Linear3x3[9], orvane_real32 InverseLinear3x3[9],
    orvane_real32, orvane_real32 LinearTolerance, orvane_bool RoundToTolerance) {
    ORVANE_CHECK_NOT_NULL(OrvaneTrackGroupOrigin, Linear3x3, false);
    int32_t dominant[3];
    if (!SwizzleOf(Linear3x3, LinearTolerance, dominant)) return false;
    if (RoundToTolerance) {
        const float magnitude = std::fabs(Linear3x3[dominant[0]]);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) {
                float& e = Linear3x3[3 * r + c];
                e = c != dominant[r] ? 0.0f : (e > 0.0f ? magnitude : -magnitude);
            }
        if (InverseLinear3x3) Invert3x3(InverseLinear3x3, Linear3x3);
    }
    return true;
}

ORVANE_API void OrvaneTransformCurveVec3(const orvane_real32 Affine3[3],
                                         const orvane_real32 Linear3x3[9], orvane_real32,
                                         orvane_real32 LinearTolerance, orvane_curve2* Curve) {
    if (!ConvertibleCurve(Curve, 3)) return;
    int32_t dominant[3];
    if (SwizzleOf(Linear3x3, LinearTolerance, dominant)) {
        float scales[3];
        for (int r = 0; r < 3; ++r)
            scales[r] = Linear3x3[3 * r + dominant[r]];
        OrvaneCurveScaleOffsetSwizzle(Curve, 3, scales, Affine3, dominant);
        return;
    }
    DecodeTransformEncode(Curve, 3, [&](float* v) { TransformVectorOf(Linear3x3, Affine3, v); });
}

ORVANE_API void OrvaneSimilarityTransformCurvePosition(
    const orvane_real32 Affine3[3], const orvane_real32 Linear3x3[9], const orvane_real32*,
    orvane_real32 AffineTolerance, orvane_real32 LinearTolerance, orvane_curve2* Curve) {
    OrvaneTransformCurveVec3(Affine3, Linear3x3, AffineTolerance, LinearTolerance, Curve);
}

ORVANE_API void OrvaneSimilarityTransformCurveQuaternion(
    const orvane_real32*, const orvane_real32 Linear3x3[9], const orvane_real32 InverseLinear3x3[9],
    orvane_real32, orvane_real32 LinearTolerance, orvane_curve2* Curve) {
    if (!ConvertibleCurve(Curve, 4)) return;
    int32_t dominant[3];
    if (!SwizzleOf(Linear3x3, LinearTolerance, dominant)) {
        DecodeTransformEncode(Curve, 4, [&](float* q) {
            OrvaneInPlaceSimilarityTransformOrientation(Linear3x3, InverseLinear3x3, q);
        });
        return;
    }
    // Where each axis goes, found by transforming a rotation about it.
    int32_t swizzles[4] = {0, 1, 2, 3};
    float scales[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    const float offsets[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    for (int i = 0; i < 3; ++i) {
        float q[4] = {0.0f, 0.0f, 0.0f, 0.6f};
        q[i] = 0.8f;
        OrvaneInPlaceSimilarityTransformOrientation(Linear3x3, InverseLinear3x3, q);
        if (q[3] < 0.0f)
            for (float& c : q)
                c = -c;
        for (int j = 0; j < 3; ++j)
            if (std::fabs(q[j]) > 0.75f) {
                swizzles[j] = i;
                scales[j] = q[j] > 0.0f ? 1.0f : -1.0f;
            }
    }
    OrvaneCurveScaleOffsetSwizzle(Curve, 4, scales, offsets, swizzles);
}

ORVANE_API void OrvaneSimilarityTransformCurveScaleShear(
    const orvane_real32*, const orvane_real32 Linear3x3[9], const orvane_real32 InverseLinear3x3[9],
    orvane_real32, orvane_real32 LinearTolerance, orvane_curve2* Curve) {
    if (!ConvertibleCurve(Curve, 9)) return;
    int32_t dominant[3];
    if (!SwizzleOf(Linear3x3, LinearTolerance, dominant)) {
        DecodeTransformEncode(Curve, 9, [&](float* m) {
            OrvaneInPlaceSimilarityTransformScaleShear(Linear3x3, InverseLinear3x3, m);
        });
        return;
    }
    int32_t swizzles[9] = {0, 1, 2, 3, 4, 5, 6, 7, 8};
    float scales[9] = {1, 1, 1, 1, 1, 1, 1, 1, 1};
    const float offsets[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 9; ++i) {
        float m[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
        m[i] = 1.0f;
        OrvaneInPlaceSimilarityTransformScaleShear(Linear3x3, InverseLinear3x3, m);
        int found = -1;
        for (int j = 0; j < 9; ++j)
            if (std::fabs(m[j]) > LinearTolerance) found = j;
        if (found >= 0) {
            swizzles[found] = i;
            scales[found] = m[found] > 0.0f ? 1.0f : -1.0f;
        }
    }
    OrvaneCurveScaleOffsetSwizzle(Curve, 9, scales, offsets, swizzles);
}

ORVANE_API void OrvaneSimilarityTransformTrackGroup(orvane_track_group* TrackGroup,
                                                    const orvane_real32 Affine3[3],
                                                    const orvane_real32 Linear3x3[9],
                                                    const orvane_real32 InverseLinear3x3[9],
                                                    orvane_real32, orvane_real32 LinearTolerance) {
    ORVANE_CHECK_NOT_NULL(OrvaneTrackGroupOrigin, TrackGroup, );
    // Tracks are relative to their parents: only the placement moves.
    const float zero[3] = {0.0f, 0.0f, 0.0f};
    const int32_t count = TrackGroup->TransformTracks ? TrackGroup->TransformTrackCount : 0;
    // Whether component c of track i shares its record with a curve converted before it
    // (which converted the record in place, when it still points at it).
    auto recordOf = [&](int32_t i, int c) {
        const orvane_transform_track& t = TrackGroup->TransformTracks[i];
        return (c == 0   ? t.PositionCurve
                : c == 1 ? t.OrientationCurve
                         : t.ScaleShearCurve)
            .CurveData.Object;
    };
    auto convertedBefore = [&](int32_t i, int c) {
        const void* record = recordOf(i, c);
        if (record == nullptr) return false;
        for (int32_t j = 0; j <= i; ++j)
            for (int k = 0; k < 3 && (j < i || k < c); ++k)
                if (recordOf(j, k) == record) return true;
        return false;
    };
    for (int32_t i = 0; i < count; ++i) {
        orvane_transform_track& track = TrackGroup->TransformTracks[i];
        if (!OrvaneCurveIsIdentity(&track.PositionCurve) && !convertedBefore(i, 0))
            OrvaneSimilarityTransformCurvePosition(zero, Linear3x3, InverseLinear3x3, 1.0f,
                                                   LinearTolerance, &track.PositionCurve);
        if (!OrvaneCurveIsIdentity(&track.OrientationCurve) && !convertedBefore(i, 1))
            OrvaneSimilarityTransformCurveQuaternion(zero, Linear3x3, InverseLinear3x3, 1.0f,
                                                     LinearTolerance, &track.OrientationCurve);
        if (!OrvaneCurveIsIdentity(&track.ScaleShearCurve) && !convertedBefore(i, 2))
            OrvaneSimilarityTransformCurveScaleShear(zero, Linear3x3, InverseLinear3x3, 1.0f,
                                                     LinearTolerance, &track.ScaleShearCurve);
    }
    float loop[3];
    Transform3x3(loop, Linear3x3, TrackGroup->LoopTranslation);
    std::memcpy(TrackGroup->LoopTranslation, loop, sizeof loop);
    if (orvane_periodic_loop* periodic = TrackGroup->PeriodicLoop) {
        const float radiusScale = TransformAndNormalize(Linear3x3, periodic->BasisX);
        TransformAndNormalize(Linear3x3, periodic->BasisY);
        const float axisScale = TransformAndNormalize(Linear3x3, periodic->Axis);
        periodic->dZ *= axisScale;
        periodic->Radius *= radiusScale;
    }
    OrvaneSimilarityTransform(&TrackGroup->InitialPlacement, Affine3, Linear3x3, InverseLinear3x3);
}

// ------------------------------------------------------------------------------------------
// Differences and reducibility

ORVANE_API void OrvaneGetVectorDifferences(orvane_int32 Dimension, orvane_int32 VectorCount,
                                           const orvane_real32* Vectors,
                                           const orvane_real32* IdentityVector,
                                           orvane_bool Euclidean, orvane_bool QuaternionMode,
                                           orvane_real32* IdentityDifference,
                                           orvane_real32* ConstantDifference) {
    float identityDifference = 0.0f, constantDifference = 0.0f;
    if (Dimension > 0 && VectorCount > 0 && Vectors != nullptr) {
        const float* first = Vectors;
        for (int32_t i = 0; i < VectorCount; ++i) {
            const float* v = Vectors + int64_t(i) * Dimension;
            float di = 0.0f, dc = 0.0f;
            if (QuaternionMode) {
                float dotI = 0.0f, dotF = 0.0f;
                for (int32_t c = 0; c < Dimension; ++c) {
                    dotI += v[c] * (IdentityVector ? IdentityVector[c] : 0.0f);
                    dotF += v[c] * first[c];
                }
                di = std::fabs(1.0f - dotI);
                dc = std::fabs(1.0f - dotF);
            } else {
                for (int32_t c = 0; c < Dimension; ++c) {
                    const float ei = v[c] - (IdentityVector ? IdentityVector[c] : 0.0f);
                    const float ef = v[c] - first[c];
                    di += Euclidean ? ei * ei : std::fabs(ei);
                    dc += Euclidean ? ef * ef : std::fabs(ef);
                }
            }
            if (di > identityDifference) identityDifference = di;
            if (dc > constantDifference) constantDifference = dc;
        }
        if (Euclidean && !QuaternionMode) {
            identityDifference = std::sqrt(identityDifference);
            constantDifference = std::sqrt(constantDifference);
        }
    }
    if (IdentityVector == nullptr) identityDifference = kUnbounded;
    if (IdentityDifference) *IdentityDifference = identityDifference;
    if (ConstantDifference) *ConstantDifference = constantDifference;
}

ORVANE_API orvane_bool OrvaneKnotsAreReducible(
    orvane_int32 Degree, orvane_int32 Dimension, orvane_int32 KnotCount, const orvane_real32*,
    const orvane_real32* Controls, const orvane_real32* IdentityVector, orvane_real32 Epsilon,
    orvane_bool Euclidean, orvane_bool QuaternionMode, orvane_int32* RequiredDegree,
    orvane_int32* RequiredKnotCount) {
    float identityDifference, constantDifference;
    OrvaneGetVectorDifferences(Dimension, KnotCount, Controls, IdentityVector, Euclidean,
                               QuaternionMode, &identityDifference, &constantDifference);
    int32_t degree = Degree, knots = KnotCount;
    bool reducible = false;
    if (identityDifference < Epsilon) {
        degree = 0;
        knots = 0;
        reducible = true;
    } else if (constantDifference < Epsilon) {
        degree = 0;
        knots = 1;
        reducible = true;
    }
    if (RequiredDegree) *RequiredDegree = degree;
    if (RequiredKnotCount) *RequiredKnotCount = knots;
    return reducible;
}

// ------------------------------------------------------------------------------------------
// Re-sorting and LOD errors (run-time: basis conversion re-sorts, the LOD calculation
// allocates errors)

ORVANE_API void OrvaneResortTrackGroup(orvane_track_group* TrackGroup) {
    ORVANE_CHECK_NOT_NULL(OrvaneTrackGroupBuilderOrigin, TrackGroup, );
    orvane_transform_track* tracks = TrackGroup->TransformTracks;
    const int32_t count = tracks ? TrackGroup->TransformTrackCount : 0;
    // The errors belong to the tracks: they move with them when there is one per track.
    float* errors =
        TrackGroup->TransformLODErrorCount == count ? TrackGroup->TransformLODErrors : nullptr;
    // A stable insertion sort: equal names keep their order, as in the builder's sets, and
    // nothing is allocated.
    for (int32_t i = 1; i < count; ++i) {
        const orvane_transform_track moving = tracks[i];
        const float movingError = errors ? errors[i] : 0.0f;
        int32_t j = i;
        while (j > 0 && CompareTrackNames(tracks[j - 1].Name, moving.Name) > 0) {
            tracks[j] = tracks[j - 1];
            if (errors) errors[j] = errors[j - 1];
            --j;
        }
        tracks[j] = moving;
        if (errors) errors[j] = movingError;
    }
    if (orvane::GetStringComparisonCallback() != nullptr) {
        for (int32_t i = 1; i < count; ++i)
            if (tracks[i].Name == tracks[i - 1].Name)
                ORVANE_LOG_WARNING(OrvaneTrackGroupBuilderOrigin,
                                   "ResortTrackGroup: found duplicate remapped track value - 0x%p",
                                   static_cast<const void*>(tracks[i].Name));
    }
    TrackGroup->AccumulationFlags |= OrvaneTrackGroupSortedByName;
}

ORVANE_API void OrvaneAllocateLODErrorSpace(orvane_track_group* TrackGroup) {
    ORVANE_CHECK_NOT_NULL(OrvaneTrackGroupBuilderOrigin, TrackGroup, );
    if (TrackGroup->TransformLODErrorCount > 0 || TrackGroup->TransformLODErrors != nullptr) return;
    const int32_t count = TrackGroup->TransformTrackCount;
    if (count <= 0) return;
    void* block = ORVANE_ALLOCATE(alignof(LODAllocation),
                                  sizeof(LODAllocation) + sizeof(float) * size_t(count));
    if (block == nullptr) return;
    auto* node = static_cast<LODAllocation*>(block);
    node->errors = reinterpret_cast<float*>(node + 1);
    // Set to unbounded, so that the values are never read uninitialised.
    for (int32_t i = 0; i < count; ++i)
        node->errors[i] = kUnbounded;
    {
        std::lock_guard<std::mutex> lock(g_lodMutex);
        node->next = g_lodAllocations;
        g_lodAllocations = node;
    }
    TrackGroup->TransformLODErrors = node->errors;
    TrackGroup->TransformLODErrorCount = count;
}

ORVANE_API void OrvaneFreeLODErrorSpace(orvane_track_group* TrackGroup) {
    ORVANE_CHECK_NOT_NULL(OrvaneTrackGroupBuilderOrigin, TrackGroup, );
    if (TrackGroup->TransformLODErrorCount <= 0) return;
    LODAllocation* found = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_lodMutex);
        for (LODAllocation** link = &g_lodAllocations; *link; link = &(*link)->next) {
            if ((*link)->errors == TrackGroup->TransformLODErrors) {
                found = *link;
                *link = found->next;
                break;
            }
        }
    }
    // Errors inside a built or loaded block are only detached.
    if (found) ORVANE_DEALLOCATE(found);
    TrackGroup->TransformLODErrorCount = 0;
    TrackGroup->TransformLODErrors = nullptr;
}

ORVANE_API void OrvaneSetAllLODErrorSpace(orvane_track_group* TrackGroup, orvane_real32 Value) {
    ORVANE_CHECK_NOT_NULL(OrvaneTrackGroupBuilderOrigin, TrackGroup, );
    if (TrackGroup->TransformLODErrors == nullptr) return;
    for (int32_t i = 0; i < TrackGroup->TransformLODErrorCount; ++i)
        TrackGroup->TransformLODErrors[i] = Value;
}

ORVANE_API void OrvaneResetLODErrorSpace(orvane_track_group* TrackGroup) {
    OrvaneSetAllLODErrorSpace(TrackGroup, kUnbounded);
}

}  // extern "C"

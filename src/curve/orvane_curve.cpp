// Curve queries and knot access: classification, counts, knot search, extraction of knot
// values, re-encoding and swizzling, all through the format table.
#include <cstring>

#include "curve/orvane_compact_curve.h"
#include "curve/orvane_curve_private.h"
#include "core/orvane_log.h"
#include "core/orvane_memory.h"

using namespace orvane;

extern "C" {

ORVANE_API orvane_data_type_definition* OrvaneCurveGetDataTypeDefinition(
    const orvane_curve2* Curve) {
    return Curve ? Curve->CurveData.Type : nullptr;
}

// The compact format's record holds positions into its own arrays: a record that is not
// sound is left unrecognised, so that no reader takes it.
ORVANE_API void OrvaneCurveInitializeFormat(orvane_curve2* Curve) {
    if (Curve == nullptr || Curve->CurveData.Object == nullptr) return;
    int32_t index = FindFormatIndex(Curve->CurveData.Type);
    if (index == OrvaneCurveFormatDaCompact &&
        !CompactCurveIsSound(static_cast<const DaCompact*>(Curve->CurveData.Object))) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin,
                         "Compact curve data is damaged (counts, ranges, bit depths or segment "
                         "positions) - the curve is not readable");
        index = -1;
    }
    static_cast<orvane_curve_data_header*>(Curve->CurveData.Object)->Format =
        uint8_t(index < 0 ? 255 : index);
}

ORVANE_API orvane_bool OrvaneCurveFormatIsInitializedCorrectly(const orvane_curve2* Curve) {
    const CurveFormat* format = QuietFormatOf(Curve);
    if (!format || !CurveTypesMatch(format->type, Curve->CurveData.Type)) return false;
    return FormatNumber(Curve) != OrvaneCurveFormatDaCompact ||
           CompactCurveIsSound(static_cast<const DaCompact*>(DataOf(Curve)));
}

ORVANE_API orvane_bool OrvaneCurveIsKeyframed(const orvane_curve2* Curve) {
    const CurveFormat* format = QuietFormatOf(Curve);
    if (!format) return false;
    const int32_t f = FormatNumber(Curve);
    if (f == OrvaneCurveFormatDaKeyframes32f) return true;
    if (f != OrvaneCurveFormatDaK32fC32f) return false;
    const DaK32fC32f* r = static_cast<const DaK32fC32f*>(DataOf(Curve));
    return r->KnotCount == 0 && r->ControlCount > 0;
}

ORVANE_API orvane_bool OrvaneCurveIsIdentity(const orvane_curve2* Curve) {
    const CurveFormat* format = QuietFormatOf(Curve);
    if (!format) return false;
    const int32_t f = FormatNumber(Curve);
    if (f == OrvaneCurveFormatDaIdentity) return true;
    if (f != OrvaneCurveFormatDaK32fC32f) return false;
    const DaK32fC32f* r = static_cast<const DaK32fC32f*>(DataOf(Curve));
    return r->KnotCount == 0 && r->ControlCount == 0;
}

ORVANE_API orvane_bool OrvaneCurveIsConstantOrIdentity(const orvane_curve2* Curve) {
    const CurveFormat* format = QuietFormatOf(Curve);
    if (!format) return false;
    const int32_t f = FormatNumber(Curve);
    if (f == OrvaneCurveFormatDaIdentity || IsConstantFormat(f)) return true;
    if (f != OrvaneCurveFormatDaK32fC32f) return false;
    const DaK32fC32f* r = static_cast<const DaK32fC32f*>(DataOf(Curve));
    return r->KnotCount == 1 || (r->KnotCount == 0 && r->ControlCount == 0);
}

ORVANE_API orvane_bool OrvaneCurveIsConstantNotIdentity(const orvane_curve2* Curve) {
    return OrvaneCurveIsConstantOrIdentity(Curve) && !OrvaneCurveIsIdentity(Curve);
}

ORVANE_API orvane_int32 OrvaneCurveGetKnotCount(const orvane_curve2* Curve) {
    const CurveFormat* format = CurveFormatOf(Curve);
    return format ? KnotCountOf(format, Curve) : 0;
}

ORVANE_API orvane_int32 OrvaneCurveGetDimension(const orvane_curve2* Curve) {
    const CurveFormat* format = CurveFormatOf(Curve);
    if (!format || KnotCountOf(format, Curve) == 0) return 0;
    return format->getDimension(DataOf(Curve));
}

ORVANE_API orvane_int32 OrvaneCurveGetDegree(const orvane_curve2* Curve) {
    if (Curve == nullptr || Curve->CurveData.Object == nullptr) return 0;
    return HeaderOf(Curve)->Degree;
}

ORVANE_API orvane_bool OrvaneCurveIsTypeDaK32fC32f(const orvane_curve2* Curve) {
    return QuietFormatOf(Curve) && FormatNumber(Curve) == OrvaneCurveFormatDaK32fC32f;
}

ORVANE_API orvane_curve_data_da_k32f_c32f* OrvaneCurveGetContentsOfDaK32fC32f(
    const orvane_curve2* Curve) {
    if (!OrvaneCurveIsTypeDaK32fC32f(Curve)) return nullptr;
    return static_cast<orvane_curve_data_da_k32f_c32f*>(Curve->CurveData.Object);
}

ORVANE_API orvane_int32 OrvaneCurveFindKnot(const orvane_curve2* Curve, orvane_real32 t) {
    const CurveFormat* format = CurveFormatOf(Curve);
    return format ? format->findKnot(DataOf(Curve), t) : 0;
}

ORVANE_API orvane_int32 OrvaneCurveFindCloseKnot(const orvane_curve2* Curve, orvane_real32 t,
                                                 orvane_int32 KnotHint) {
    const CurveFormat* format = CurveFormatOf(Curve);
    return format ? format->findCloseKnot(DataOf(Curve), t, KnotHint) : 0;
}

ORVANE_API void OrvaneCurveExtractKnotValues(const orvane_curve2* Curve, orvane_int32 KnotIndex,
                                             orvane_int32 KnotCount, orvane_real32* KnotResults,
                                             orvane_real32* ControlResults,
                                             const orvane_real32* IdentityVector) {
    const CurveFormat* format = CurveFormatOf(Curve);
    if (!format) return;
    const int32_t available = ExtractableKnots(format, Curve);
    // Identity and constant formats read nothing per knot: any range yields their value.
    const int32_t f = FormatNumber(Curve);
    const bool oneValue = f == OrvaneCurveFormatDaIdentity || IsConstantFormat(f);
    if (KnotIndex < 0 || KnotCount < 0 || (!oneValue && KnotIndex > available - KnotCount)) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Knots [%d, %d) are out of range [0, %d)",
                         int(KnotIndex), int(KnotIndex + KnotCount), int(available));
        return;
    }
    format->extractKnotValues(DataOf(Curve), KnotIndex, KnotCount, KnotResults, ControlResults,
                              IdentityVector);
}

ORVANE_API orvane_real32 OrvaneCurveExtractKnotValue(const orvane_curve2* Curve,
                                                     orvane_int32 KnotIndex,
                                                     orvane_real32* ControlResult,
                                                     const orvane_real32* IdentityVector) {
    float knot = 0.0f;
    OrvaneCurveExtractKnotValues(Curve, KnotIndex, 1, &knot, ControlResult, IdentityVector);
    return knot;
}

ORVANE_API void OrvaneCurveSetAllKnotValues(orvane_curve2* Curve, orvane_int32 KnotCount,
                                            orvane_int32 Dimension, const orvane_real32* KnotSrc,
                                            const orvane_real32* ControlSrc) {
    const CurveFormat* format = CurveFormatOf(Curve);
    if (!format) return;
    if (Dimension != OrvaneCurveGetDimension(Curve)) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Curve and argument dimensions do not match");
        return;
    }
    if (KnotCount != KnotCountOf(format, Curve)) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Curve and argument knot counts do not match");
        return;
    }
    if (KnotCount > 0 &&
        (ControlSrc == nullptr || (KnotSrc == nullptr && UsesKnotValues(FormatNumber(Curve))))) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Knot or control values are missing");
        return;
    }
    format->setAllKnotValues(Curve->CurveData.Object, KnotCount, Dimension, KnotSrc, ControlSrc);
}

ORVANE_API void OrvaneCurveScaleOffsetSwizzle(orvane_curve2* Curve, orvane_int32 Dimension,
                                              const orvane_real32* Scales,
                                              const orvane_real32* Offsets,
                                              const orvane_int32* Swizzles) {
    const CurveFormat* format = CurveFormatOf(Curve);
    if (!format) return;
    const int32_t f = FormatNumber(Curve);
    if (f == OrvaneCurveFormatDaIdentity) return;
    // The components the operation reads, and the range their swizzles must lie in. Quaternion
    // curves take only the signs of the scales (no offsets); uniform scales take no swizzles.
    const int32_t stored = format->getDimension(DataOf(Curve));
    const bool diagonal = f == OrvaneCurveFormatD9I3K16uC16u || f == OrvaneCurveFormatD9I3K8uC8u;
    const bool uniform = f == OrvaneCurveFormatD9I1K16uC16u || f == OrvaneCurveFormatD9I1K8uC8u;
    const bool quaternion = f == OrvaneCurveFormatD4nK16uC15u || f == OrvaneCurveFormatD4nK8uC7u;
    ORVANE_CHECK_NOT_NULL(OrvaneCurveOrigin, Scales, );
    if (!quaternion) ORVANE_CHECK_NOT_NULL(OrvaneCurveOrigin, Offsets, );
    if (!uniform) ORVANE_CHECK_NOT_NULL(OrvaneCurveOrigin, Swizzles, );
    const int32_t needed = uniform ? 1 : stored;
    if (Dimension > 16 || Dimension < needed) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin,
                         "Dimension %d does not fit a curve of dimension %d (at most 16)",
                         int(Dimension), int(stored));
        return;
    }
    if (!uniform && !diagonal) {
        bool seen[16] = {};
        for (int32_t j = 0; j < stored; ++j) {
            if (Swizzles[j] < 0 || Swizzles[j] >= stored) {
                ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Swizzle %d is out of range [0, %d)",
                                 int(Swizzles[j]), int(stored));
                return;
            }
            seen[Swizzles[j]] = true;
        }
        for (int32_t j = 0; quaternion && j < 4; ++j) {
            if (!seen[j]) {
                ORVANE_LOG_ERROR(OrvaneCurveOrigin,
                                 "Swizzles of a quaternion curve must be a permutation");
                return;
            }
        }
    }
    format->scaleOffsetSwizzle(Curve->CurveData.Object, Dimension, Scales, Offsets, Swizzles);
}

}  // extern "C"

// The curve builder: curves made from knot and control arrays or copied from another curve,
// in one block of their own or in the caller's memory.
#include <cstring>

#include "curve/orvane_curve_private.h"
#include "core/orvane_log.h"
#include "core/orvane_memory.h"

namespace orvane {

bool InitializeCurveBuilder(orvane_curve_builder* builder, orvane_data_type_definition* type,
                            int32_t degree, int32_t dimension, int32_t knotCount) {
    *builder = {.Owned = false,
                .Type = type,
                .FormatIndex = FindFormatIndex(type),
                .Degree = degree,
                .Dimension = dimension,
                .KnotCount = knotCount,
                .Knots = nullptr,
                .Controls = nullptr,
                .Source = nullptr};
    // A type that is none of the formats can never end in a curve: refused here, where the
    // caller can still tell which call was wrong.
    if (builder->FormatIndex < 0) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin,
                         "Invalid format specified for a orvane_curve2 - returning NULL");
        return false;
    }
    if (degree < 0 || degree > 3 || dimension < 0 || dimension > 0x7FFF || knotCount < 0 ||
        int64_t(knotCount) * (int64_t(dimension) + 4) > INT32_MAX / 4) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin,
                         "Degree %d, Dimension %d and KnotCount %d do not make a curve",
                         int(degree), int(dimension), int(knotCount));
        return false;
    }
    return true;
}

}  // namespace orvane

using namespace orvane;

namespace {

int32_t LayoutSize(const orvane_curve_builder* builder, bool withCurve) {
    SetAggregateAlignment(4);
    orvane_curve2* curve = nullptr;
    void* data = nullptr;
    if (withCurve) AggregateAllocate(&curve, sizeof(orvane_curve2));
    kCurveFormats[builder->FormatIndex].layout(builder, &data);
    const size_t size = ORVANE_AGGREGATE_SIZE();
    return size > size_t(INT32_MAX) ? 0 : int32_t(size);
}

// The size a builder asks for, or 0 (logged) when its type is none of the formats.
int32_t ResultingSize(const orvane_curve_builder* builder, bool withCurve) {
    if (builder->FormatIndex < 0) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin,
                         "Invalid format specified for a orvane_curve2 - returning size of 0");
        return 0;
    }
    return LayoutSize(builder, withCurve);
}

void FreeOwned(orvane_curve_builder* builder) {
    if (builder && builder->Owned) ORVANE_DEALLOCATE(builder);
}

orvane_curve2* EndCurve(orvane_curve_builder* builder, orvane_curve2* curve, void* memory,
                        bool dataOnly) {
    if (curve) curve->CurveData = {nullptr, nullptr};
    if (builder == nullptr) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Invalid curve_builder address - returning NULL");
        return nullptr;
    }
    auto fail = [builder]() -> orvane_curve2* {
        FreeOwned(builder);
        return nullptr;
    };
    if (builder->FormatIndex < 0) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin,
                         "Invalid format specified for a orvane_curve2 - returning NULL");
        return fail();
    }
    if (memory == nullptr || (dataOnly && curve == nullptr)) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin,
                         "Out of memory or invalid address for curve - returning NULL");
        return fail();
    }
    const int32_t format = builder->FormatIndex;
    if (builder->Source == nullptr) {
        if (builder->Controls == nullptr && builder->KnotCount != 0) {
            ORVANE_LOG_ERROR(OrvaneCurveOrigin,
                             "Need either a source curve to copy, or both knot and control "
                             "arrays - returning NULL");
            return fail();
        }
        if (builder->Controls && builder->Knots == nullptr && builder->KnotCount != 1 &&
            !(format == OrvaneCurveFormatDaKeyframes32f && builder->Degree == 0)) {
            ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Unknown curve type - returning NULL");
            return fail();
        }
        const int32_t fixed = FixedDimension(format);
        if (builder->Controls && fixed >= 0 && builder->Dimension != fixed) {
            ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Curve and argument dimensions do not match");
            return fail();
        }
    } else if (CurveFormatOf(builder->Source) == nullptr ||
               FormatNumber(builder->Source) != format) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Unknown curve type - returning NULL");
        return fail();
    }

    // Values the fill leaves alone read as zeros.
    const int32_t size = LayoutSize(builder, !dataOnly);
    std::memset(memory, 0, size_t(size));
    SetAggregateAlignment(4);
    orvane_curve2* result = dataOnly ? curve : nullptr;
    void* data = nullptr;
    if (!dataOnly) AggregateAllocate(&result, sizeof(orvane_curve2));
    kCurveFormats[format].layout(builder, &data);
    if (ORVANE_AGGREGATE_END_IN_PLACE(memory) == nullptr || data == nullptr) return fail();

    result->CurveData.Type = builder->Type;
    result->CurveData.Object = data;
    auto* header = static_cast<orvane_curve_data_header*>(data);
    header->Format = uint8_t(format);
    header->Degree = uint8_t(builder->Degree);

    const CurveFormat& row = kCurveFormats[format];
    const float zeroKnot = 0.0f;
    const float* knots = builder->Knots ? builder->Knots : &zeroKnot;
    const bool constant = IsConstantFormat(format);
    if (builder->Source) {
        row.copy(data, DataOf(builder->Source));
    } else if (builder->Controls || (builder->KnotCount == 0 && !constant)) {
        row.setAllKnotValues(data, builder->KnotCount, builder->Dimension, knots,
                             builder->Controls);
    } else if (format == OrvaneCurveFormatD3Constant14s ||
               format == OrvaneCurveFormatD4nConstant15u) {
        // With no control given, the 8-byte constants hold the identity (their zero words
        // would not be one).
        const float identity[4] = {0.0f, 0.0f, 0.0f, 1.0f};
        row.setAllKnotValues(data, 1, builder->Dimension, knots, identity);
    }
    FreeOwned(builder);
    return result;
}

}  // namespace

extern "C" {

ORVANE_API orvane_curve_builder* OrvaneBeginCurve(orvane_data_type_definition* CurveDataType,
                                                  orvane_int32 Degree, orvane_int32 Dimension,
                                                  orvane_int32 KnotCount) {
    orvane_curve_builder local;
    if (FindFormatIndex(CurveDataType) < 0) {
        // The builder still carries the request: its sizes are 0 and its End reports the fault
        // and frees it.
        ORVANE_LOG_ERROR(
            OrvaneCurveOrigin,
            "Invalid format specified for a orvane_curve2 - creating this curve will fail");
        local = {.Owned = false,
                 .Type = CurveDataType,
                 .FormatIndex = -1,
                 .Degree = Degree,
                 .Dimension = Dimension,
                 .KnotCount = KnotCount,
                 .Knots = nullptr,
                 .Controls = nullptr,
                 .Source = nullptr};
    } else if (!InitializeCurveBuilder(&local, CurveDataType, Degree, Dimension, KnotCount)) {
        return nullptr;
    }
    auto* builder = static_cast<orvane_curve_builder*>(
        ORVANE_ALLOCATE(alignof(orvane_curve_builder), sizeof(orvane_curve_builder)));
    if (builder == nullptr) return nullptr;
    *builder = local;
    builder->Owned = true;
    return builder;
}

ORVANE_API orvane_curve_builder* OrvaneBeginCurveCopy(const orvane_curve2* Source) {
    if (CurveFormatOf(Source) == nullptr) return nullptr;
    orvane_curve_builder* builder =
        OrvaneBeginCurve(Source->CurveData.Type, OrvaneCurveGetDegree(Source),
                         OrvaneCurveGetDimension(Source), OrvaneCurveGetKnotCount(Source));
    if (builder) builder->Source = Source;
    return builder;
}

ORVANE_API void OrvanePushCurveKnotArray(orvane_curve_builder* Builder,
                                         const orvane_real32* Knots) {
    ORVANE_CHECK_NOT_NULL(OrvaneCurveOrigin, Builder, );
    Builder->Knots = Knots;
    Builder->Source = nullptr;
}

ORVANE_API void OrvanePushCurveControlArray(orvane_curve_builder* Builder,
                                            const orvane_real32* Controls) {
    ORVANE_CHECK_NOT_NULL(OrvaneCurveOrigin, Builder, );
    Builder->Controls = Controls;
    Builder->Source = nullptr;
}

ORVANE_API orvane_int32 OrvaneGetResultingCurveSize(const orvane_curve_builder* Builder) {
    ORVANE_CHECK_NOT_NULL(OrvaneCurveOrigin, Builder, 0);
    return ResultingSize(Builder, true);
}

ORVANE_API orvane_int32 OrvaneGetResultingCurveDataSize(const orvane_curve_builder* Builder) {
    ORVANE_CHECK_NOT_NULL(OrvaneCurveOrigin, Builder, 0);
    return ResultingSize(Builder, false);
}

ORVANE_API orvane_curve2* OrvaneEndCurveInPlace(orvane_curve_builder* Builder, void* Memory) {
    return EndCurve(Builder, nullptr, Memory, false);
}

ORVANE_API orvane_curve2* OrvaneEndCurveDataInPlace(orvane_curve_builder* Builder,
                                                    orvane_curve2* Curve, void* Memory) {
    return EndCurve(Builder, Curve, Memory, true);
}

ORVANE_API orvane_curve2* OrvaneEndCurve(orvane_curve_builder* Builder) {
    if (Builder == nullptr) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin, "Invalid curve_builder address - returning NULL");
        return nullptr;
    }
    if (Builder->FormatIndex < 0) {
        ORVANE_LOG_ERROR(OrvaneCurveOrigin,
                         "Invalid format specified for a orvane_curve2 - returning NULL");
        FreeOwned(Builder);
        return nullptr;
    }
    void* memory = ORVANE_ALLOCATE(4, size_t(LayoutSize(Builder, true)));
    orvane_curve2* curve = EndCurve(Builder, nullptr, memory, false);
    if (curve == nullptr) ORVANE_DEALLOCATE(memory);
    return curve;
}

ORVANE_API void OrvaneAbortCurveBuilder(orvane_curve_builder* Builder) {
    FreeOwned(Builder);
}

ORVANE_API void OrvaneFreeCurve(orvane_curve2* Curve) {
    ORVANE_DEALLOCATE(Curve);
}

}  // extern "C"

// Conversion of a curve of any format into plain float knots and controls, and float curves
// that wrap the caller's arrays.
#include <cstddef>
#include <cstring>

#include "curve/orvane_curve_private.h"
#include "core/orvane_log.h"
#include "core/orvane_memory.h"

using namespace orvane;

extern "C" {

ORVANE_API orvane_int32 OrvaneGetResultingDaK32fC32fCurveSize(const orvane_curve2* Curve) {
    const CurveFormat* format = CurveFormatOf(Curve);
    if (!format) return 0;
    const int64_t n = KnotCountOf(format, Curve);
    const int64_t d = OrvaneCurveGetDimension(Curve);
    const int64_t size = int64_t(sizeof(orvane_curve2) + sizeof(DaK32fC32f)) + 4 * n * (d + 1);
    return size > INT32_MAX ? 0 : int32_t(size);
}

ORVANE_API orvane_curve2* OrvaneCurveConvertToDaK32fC32fInPlace(
    const orvane_curve2* Curve, void* Memory, const orvane_real32* IdentityVector) {
    const CurveFormat* format = CurveFormatOf(Curve);
    if (!format) return nullptr;
    ORVANE_CHECK_NOT_NULL(OrvaneCurveOrigin, Memory, nullptr);
    const int32_t size = OrvaneGetResultingDaK32fC32fCurveSize(Curve);
    if (size == 0) return nullptr;
    const int32_t n = KnotCountOf(format, Curve);
    const int32_t d = OrvaneCurveGetDimension(Curve);
    // Keyframes carry no knot values: theirs read as zeros.
    std::memset(Memory, 0, size_t(size));
    SetAggregateAlignment(4);
    orvane_curve2* result = nullptr;
    DaK32fC32f* data = nullptr;
    AggregateAllocate(&result, sizeof(orvane_curve2));
    AggregateAllocate(&data, sizeof(DaK32fC32f));
    AggregateAllocateArrayMember(data, offsetof(DaK32fC32f, KnotCount), offsetof(DaK32fC32f, Knots),
                                 n, sizeof(float));
    AggregateAllocateArrayMember(data, offsetof(DaK32fC32f, ControlCount),
                                 offsetof(DaK32fC32f, Controls), n * d, sizeof(float));
    if (ORVANE_AGGREGATE_END_IN_PLACE(Memory) == nullptr) return nullptr;
    result->CurveData.Type = OrvaneCurveDataDaK32fC32fType;
    result->CurveData.Object = data;
    data->CurveDataHeader.Format = OrvaneCurveFormatDaK32fC32f;
    data->CurveDataHeader.Degree = HeaderOf(Curve)->Degree;
    if (n > 0)
        format->extractKnotValues(DataOf(Curve), 0, n, data->Knots, data->Controls, IdentityVector);
    return result;
}

ORVANE_API orvane_curve2* OrvaneCurveConvertToDaK32fC32f(const orvane_curve2* Curve,
                                                         const orvane_real32* IdentityVector) {
    const int32_t size = OrvaneGetResultingDaK32fC32fCurveSize(Curve);
    if (size == 0) return nullptr;
    void* memory = ORVANE_ALLOCATE(4, size_t(size));
    if (memory == nullptr) return nullptr;
    orvane_curve2* curve = OrvaneCurveConvertToDaK32fC32fInPlace(Curve, memory, IdentityVector);
    if (curve == nullptr) ORVANE_DEALLOCATE(memory);
    return curve;
}

ORVANE_API orvane_curve_data_da_k32f_c32f* OrvaneCurveMakeStaticDaK32fC32f(
    orvane_curve2* Curve, void* CurveData, orvane_int32 KnotCount, orvane_int32 Degree,
    orvane_int32 Dimension, const orvane_real32* Knots, const orvane_real32* Controls) {
    ORVANE_CHECK_NOT_NULL(OrvaneCurveOrigin, Curve, nullptr);
    ORVANE_CHECK_NOT_NULL(OrvaneCurveOrigin, CurveData, nullptr);
    auto* data = static_cast<DaK32fC32f*>(CurveData);
    data->CurveDataHeader.Format = OrvaneCurveFormatDaK32fC32f;
    data->CurveDataHeader.Degree = uint8_t(Degree);
    data->Padding = 0;
    data->KnotCount = KnotCount;
    data->Knots = const_cast<float*>(Knots);
    data->ControlCount = KnotCount * Dimension;
    data->Controls = const_cast<float*>(Controls);
    Curve->CurveData.Type = OrvaneCurveDataDaK32fC32fType;
    Curve->CurveData.Object = data;
    return data;
}

}  // extern "C"

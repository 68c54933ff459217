// The quantised records of positions and orientations: the 3-vector (D3K16uC16u, D3K8uC8u),
// quaternion (D4nK16uC15u, D4nK8uC7u) and any-dimension (DaK16uC16u, DaK8uC8u) formats, what
// the samplers read of each the same way, and a call with the record of a curve's format.
#ifndef ORVANE_QUANTISED_RECORDS_H
#define ORVANE_QUANTISED_RECORDS_H

#include "curve/orvane_knot_search.h"
#include "orvane/curve.h"

#include <cstdint>

namespace orvane {

template <typename R>
constexpr bool kQuaternionRecord = requires(const R* r) {
    r->ScaleOffsetTableEntries;
};
template <typename R>
constexpr bool kAnyDimensionRecord = requires(const R* r) {
    r->ControlScaleOffsets;
};

// The record's knot scale: a stored knot is the time times the scale.
template <typename R>
inline float KnotScaleOf(const R* r) {
    if constexpr (kQuaternionRecord<R>)
        return r->OneOverKnotScale;
    else
        return KnotScaleFromTrunc(r->OneOverKnotScaleTrunc);
}

// Calls f with data as the record of format when format is one of the six, and returns true;
// false for any other format (f is not called).
template <typename F>
[[gnu::always_inline]] inline bool WithQuantisedRecord(int32_t format, const void* data, F&& f) {
    switch (format) {
        case OrvaneCurveFormatD3K16uC16u:
            f(static_cast<const orvane_curve_data_d3_k16u_c16u*>(data));
            return true;
        case OrvaneCurveFormatD3K8uC8u:
            f(static_cast<const orvane_curve_data_d3_k8u_c8u*>(data));
            return true;
        case OrvaneCurveFormatD4nK16uC15u:
            f(static_cast<const orvane_curve_data_d4n_k16u_c15u*>(data));
            return true;
        case OrvaneCurveFormatD4nK8uC7u:
            f(static_cast<const orvane_curve_data_d4n_k8u_c7u*>(data));
            return true;
        case OrvaneCurveFormatDaK16uC16u:
            f(static_cast<const orvane_curve_data_da_k16u_c16u*>(data));
            return true;
        case OrvaneCurveFormatDaK8uC8u:
            f(static_cast<const orvane_curve_data_da_k8u_c8u*>(data));
            return true;
        default:
            return false;
    }
}

}  // namespace orvane

#endif  // ORVANE_QUANTISED_RECORDS_H

// What the curve modules share: the descriptions of the sixteen formats (for the format
// table), the checks that recognise a curve's format, and the accessors every operation
// starts with. The modules are the descriptions, the codecs (the format table), the builder,
// the conversion to plain floats and the queries; B-spline evaluation and the builders of
// other modules use orvane_curve.h.
#ifndef ORVANE_CURVE_PRIVATE_H
#define ORVANE_CURVE_PRIVATE_H

#include "curve/orvane_curve.h"

namespace orvane {

extern orvane_data_type_definition g_curveDataHeader[];
extern orvane_data_type_definition g_curveDataDaKeyframes32f[];
extern orvane_data_type_definition g_curveDataDaK32fC32f[];
extern orvane_data_type_definition g_curveDataDaIdentity[];
extern orvane_data_type_definition g_curveDataDaConstant32f[];
extern orvane_data_type_definition g_curveDataD3Constant32f[];
extern orvane_data_type_definition g_curveDataD4Constant32f[];
extern orvane_data_type_definition g_curveDataDaK16uC16u[];
extern orvane_data_type_definition g_curveDataDaK8uC8u[];
extern orvane_data_type_definition g_curveDataD4nK16uC15u[];
extern orvane_data_type_definition g_curveDataD4nK8uC7u[];
extern orvane_data_type_definition g_curveDataD3K16uC16u[];
extern orvane_data_type_definition g_curveDataD3K8uC8u[];
extern orvane_data_type_definition g_curveDataD9I1K16uC16u[];
extern orvane_data_type_definition g_curveDataD9I3K16uC16u[];
extern orvane_data_type_definition g_curveDataD9I1K8uC8u[];
extern orvane_data_type_definition g_curveDataD9I3K8uC8u[];
extern orvane_data_type_definition g_curveDataDaCompact[];
extern orvane_data_type_definition g_curveDataD3Constant14s[];
extern orvane_data_type_definition g_curveDataD4nConstant15u[];

using DaK32fC32f = orvane_curve_data_da_k32f_c32f;

// Identical descriptions match at once; otherwise the layouts and names are compared.
bool CurveTypesMatch(orvane_data_type_definition* a, orvane_data_type_definition* b);
// The format whose description `type` matches, or -1.
int32_t FindFormatIndex(orvane_data_type_definition* type);
// The dimension a fixed-dimension format requires of its controls, or -1.
int32_t FixedDimension(int32_t format);
// Formats whose knots carry values (not keyframes, identities or constants).
bool UsesKnotValues(int32_t format);
// Format of a curve that may be broken, without logging (the predicates answer false).
const CurveFormat* QuietFormatOf(const orvane_curve2* curve);
// Knots a range may touch in a curve with per-knot data (constant and identity curves count
// one, though they give their value for any range).
int32_t ExtractableKnots(const CurveFormat* format, const orvane_curve2* curve);

inline const void* DataOf(const orvane_curve2* curve) {
    return curve->CurveData.Object;
}
inline const orvane_curve_data_header* HeaderOf(const orvane_curve2* curve) {
    return static_cast<const orvane_curve_data_header*>(curve->CurveData.Object);
}
inline int32_t FormatNumber(const orvane_curve2* curve) {
    return HeaderOf(curve)->Format;
}
inline int32_t KnotCountOf(const CurveFormat* format, const orvane_curve2* curve) {
    return format->getKnotCount(DataOf(curve));
}

}  // namespace orvane

#endif  // ORVANE_CURVE_PRIVATE_H

// Curve descriptions: the exported type descriptions of the curve data header, the sixteen
// formats and the extensions (the compact format, the 8-byte constants), and the identity vectors
// identity curves yield.
#include "curve/orvane_curve_private.h"
#include "types/orvane_standard_types.h"

namespace orvane {

orvane_data_type_definition g_curveDataHeader[] = {MemberRecord(OrvaneUInt8Member, "Format"),
                                                   MemberRecord(OrvaneUInt8Member, "Degree"),
                                                   EndRecord()};

orvane_data_type_definition g_curveDataDaKeyframes32f[] = {
    MemberRecord(OrvaneInlineMember, "CurveDataHeader_DaKeyframes32f", g_curveDataHeader),
    MemberRecord(OrvaneInt16Member, "Dimension"),
    MemberRecord(OrvaneReferenceToArrayMember, "Controls", g_real32Type), EndRecord()};

orvane_data_type_definition g_curveDataDaK32fC32f[] = {
    MemberRecord(OrvaneInlineMember, "CurveDataHeader_DaK32fC32f", g_curveDataHeader),
    MemberRecord(OrvaneInt16Member, "Padding"),
    MemberRecord(OrvaneReferenceToArrayMember, "Knots", g_real32Type),
    MemberRecord(OrvaneReferenceToArrayMember, "Controls", g_real32Type), EndRecord()};

orvane_data_type_definition g_curveDataDaIdentity[] = {
    MemberRecord(OrvaneInlineMember, "CurveDataHeader_DaIdentity", g_curveDataHeader),
    MemberRecord(OrvaneInt16Member, "Dimension"), EndRecord()};

orvane_data_type_definition g_curveDataDaConstant32f[] = {
    MemberRecord(OrvaneInlineMember, "CurveDataHeader_DaConstant32f", g_curveDataHeader),
    MemberRecord(OrvaneInt16Member, "Padding"),
    MemberRecord(OrvaneReferenceToArrayMember, "Controls", g_real32Type), EndRecord()};

orvane_data_type_definition g_curveDataD3Constant32f[] = {
    MemberRecord(OrvaneInlineMember, "CurveDataHeader_D3Constant32f", g_curveDataHeader),
    MemberRecord(OrvaneInt16Member, "Padding"),
    MemberRecord(OrvaneReal32Member, "Controls", nullptr, 3), EndRecord()};

orvane_data_type_definition g_curveDataD4Constant32f[] = {
    MemberRecord(OrvaneInlineMember, "CurveDataHeader_D4Constant32f", g_curveDataHeader),
    MemberRecord(OrvaneInt16Member, "Padding"),
    MemberRecord(OrvaneReal32Member, "Controls", nullptr, 4), EndRecord()};

// The quantised formats: the header, the members that scale knots and controls back, then the
// knots and controls in one array of 16- or 8-bit elements.
constexpr orvane_data_type_definition kKnotScaleTrunc =
    MemberRecord(OrvaneUInt16Member, "OneOverKnotScaleTrunc");
constexpr orvane_data_type_definition kControlScaleOffsets =
    MemberRecord(OrvaneReferenceToArrayMember, "ControlScaleOffsets", g_real32Type);
constexpr orvane_data_type_definition kScaleOffsetTableEntries =
    MemberRecord(OrvaneUInt16Member, "ScaleOffsetTableEntries");
constexpr orvane_data_type_definition kOneOverKnotScale =
    MemberRecord(OrvaneReal32Member, "OneOverKnotScale");
constexpr orvane_data_type_definition kControlScales3 =
    MemberRecord(OrvaneReal32Member, "ControlScales", nullptr, 3);
constexpr orvane_data_type_definition kControlOffsets3 =
    MemberRecord(OrvaneReal32Member, "ControlOffsets", nullptr, 3);
constexpr orvane_data_type_definition kControlScale =
    MemberRecord(OrvaneReal32Member, "ControlScale");
constexpr orvane_data_type_definition kControlOffset =
    MemberRecord(OrvaneReal32Member, "ControlOffset");

#define ORVANE_QUANTISED_FORMAT(Name, ElementType, ...)                                        \
    orvane_data_type_definition g_curveData##Name[] = {                                        \
        MemberRecord(OrvaneInlineMember, "CurveDataHeader_" #Name, g_curveDataHeader),         \
        __VA_ARGS__, MemberRecord(OrvaneReferenceToArrayMember, "KnotsControls", ElementType), \
        EndRecord()};

ORVANE_QUANTISED_FORMAT(DaK16uC16u, g_uint16Type, kKnotScaleTrunc, kControlScaleOffsets)
ORVANE_QUANTISED_FORMAT(DaK8uC8u, g_uint8Type, kKnotScaleTrunc, kControlScaleOffsets)
ORVANE_QUANTISED_FORMAT(D4nK16uC15u, g_uint16Type, kScaleOffsetTableEntries, kOneOverKnotScale)
ORVANE_QUANTISED_FORMAT(D4nK8uC7u, g_uint8Type, kScaleOffsetTableEntries, kOneOverKnotScale)
ORVANE_QUANTISED_FORMAT(D3K16uC16u, g_uint16Type, kKnotScaleTrunc, kControlScales3,
                        kControlOffsets3)
ORVANE_QUANTISED_FORMAT(D3K8uC8u, g_uint8Type, kKnotScaleTrunc, kControlScales3, kControlOffsets3)
ORVANE_QUANTISED_FORMAT(D9I1K16uC16u, g_uint16Type, kKnotScaleTrunc, kControlScale, kControlOffset)
ORVANE_QUANTISED_FORMAT(D9I3K16uC16u, g_uint16Type, kKnotScaleTrunc, kControlScales3,
                        kControlOffsets3)
ORVANE_QUANTISED_FORMAT(D9I1K8uC8u, g_uint8Type, kKnotScaleTrunc, kControlScale, kControlOffset)
ORVANE_QUANTISED_FORMAT(D9I3K8uC8u, g_uint8Type, kKnotScaleTrunc, kControlScales3, kControlOffsets3)

#undef ORVANE_QUANTISED_FORMAT

// The compact format: uniform knots, segments with their own sub-ranges and bit depths.
orvane_data_type_definition g_curveDataDaCompact[] = {
    MemberRecord(OrvaneInlineMember, "CurveDataHeader_DaCompact", g_curveDataHeader),
    MemberRecord(OrvaneInt16Member, "Dimension"),
    MemberRecord(OrvaneReal32Member, "KnotInterval"),
    MemberRecord(OrvaneInt32Member, "KnotCount"),
    MemberRecord(OrvaneUInt8Member, "Packing"),
    MemberRecord(OrvaneUInt8Member, "SegmentLength"),
    MemberRecord(OrvaneInt16Member, "Layout"),
    MemberRecord(OrvaneReferenceToArrayMember, "Bytes", g_uint8Type),
    EndRecord()};

// The 8-byte constants: three words after the header.
orvane_data_type_definition g_curveDataD3Constant14s[] = {
    MemberRecord(OrvaneInlineMember, "CurveDataHeader_D3Constant14s", g_curveDataHeader),
    MemberRecord(OrvaneUInt16Member, "Words", nullptr, 3), EndRecord()};

orvane_data_type_definition g_curveDataD4nConstant15u[] = {
    MemberRecord(OrvaneInlineMember, "CurveDataHeader_D4nConstant15u", g_curveDataHeader),
    MemberRecord(OrvaneUInt16Member, "Words", nullptr, 3), EndRecord()};

}  // namespace orvane

extern "C" {
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataHeaderType =
    orvane::g_curveDataHeader;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataDaKeyframes32fType =
    orvane::g_curveDataDaKeyframes32f;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataDaK32fC32fType =
    orvane::g_curveDataDaK32fC32f;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataDaIdentityType =
    orvane::g_curveDataDaIdentity;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataDaConstant32fType =
    orvane::g_curveDataDaConstant32f;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataD3Constant32fType =
    orvane::g_curveDataD3Constant32f;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataD4Constant32fType =
    orvane::g_curveDataD4Constant32f;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataDaK16uC16uType =
    orvane::g_curveDataDaK16uC16u;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataDaK8uC8uType =
    orvane::g_curveDataDaK8uC8u;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataD4nK16uC15uType =
    orvane::g_curveDataD4nK16uC15u;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataD4nK8uC7uType =
    orvane::g_curveDataD4nK8uC7u;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataD3K16uC16uType =
    orvane::g_curveDataD3K16uC16u;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataD3K8uC8uType =
    orvane::g_curveDataD3K8uC8u;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataD9I1K16uC16uType =
    orvane::g_curveDataD9I1K16uC16u;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataD9I3K16uC16uType =
    orvane::g_curveDataD9I3K16uC16u;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataD9I1K8uC8uType =
    orvane::g_curveDataD9I1K8uC8u;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataD9I3K8uC8uType =
    orvane::g_curveDataD9I3K8uC8u;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataDaCompactType =
    orvane::g_curveDataDaCompact;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataD3Constant14sType =
    orvane::g_curveDataD3Constant14s;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataD4nConstant15uType =
    orvane::g_curveDataD4nConstant15u;
}  // extern "C"

namespace {
const float kIdentityPosition[3] = {0, 0, 0};
const float kIdentityNormal[3] = {0, 0, 1};
const float kIdentityOrientation[4] = {0, 0, 0, 1};
const float kIdentityScaleShear[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
const float kIdentityScale[3] = {1, 1, 1};
// Long enough for any fixed-dimension curve a caller may pair it with.
const float kIdentityShear[16] = {};
}  // namespace

extern "C" {
ORVANE_API extern const orvane_real32* const OrvaneCurveIdentityPosition = kIdentityPosition;
ORVANE_API extern const orvane_real32* const OrvaneCurveIdentityNormal = kIdentityNormal;
ORVANE_API extern const orvane_real32* const OrvaneCurveIdentityOrientation = kIdentityOrientation;
ORVANE_API extern const orvane_real32* const OrvaneCurveIdentityScaleShear = kIdentityScaleShear;
ORVANE_API extern const orvane_real32* const OrvaneCurveIdentityScale = kIdentityScale;
ORVANE_API extern const orvane_real32* const OrvaneCurveIdentityShear = kIdentityShear;
}

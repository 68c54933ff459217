/* Orvane animation data: curves in sixteen data formats, the curve builder and B-spline
 * evaluation.
 *
 * A curve (orvane_curve2) refers, through a variant, to a curve data record of one of sixteen
 * formats. Each data record starts with an orvane_curve_data_header whose Format indexes the
 * format table and whose Degree (0 to 3) is the B-spline degree. Counted arrays are an int32
 * count followed by a pointer, as in every content record.
 *
 * orvane_curve2, OrvaneCurve2Type and OrvaneOldCurveType are declared in orvane/types.h.
 *
 * Threads: operations on distinct curves are independent; the format table and the identity
 * vectors are read-only. Encoding and swizzling modify a curve and need exclusive access.
 */
#ifndef ORVANE_ANIM_H
#define ORVANE_ANIM_H

#include "orvane/common.h"
#include "orvane/types.h"

ORVANE_EXTERN_C_BEGIN

#pragma pack(push, 4)

typedef struct orvane_curve_data_header {
    orvane_uint8 Format; /* index into the format table; 255 when unrecognised */
    orvane_uint8 Degree;
} orvane_curve_data_header;

/* 0: keyframes, Dimension values per frame. */
typedef struct orvane_curve_data_da_keyframes32f {
    orvane_curve_data_header CurveDataHeader;
    orvane_int16 Dimension;
    orvane_int32 ControlCount;
    orvane_real32* Controls;
} orvane_curve_data_da_keyframes32f;

/* 1: plain knots and controls; dimension = ControlCount / KnotCount. */
typedef struct orvane_curve_data_da_k32f_c32f {
    orvane_curve_data_header CurveDataHeader;
    orvane_int16 Padding;
    orvane_int32 KnotCount;
    orvane_real32* Knots;
    orvane_int32 ControlCount;
    orvane_real32* Controls;
} orvane_curve_data_da_k32f_c32f;

/* 2: the identity of any dimension; no knots. */
typedef struct orvane_curve_data_da_identity {
    orvane_curve_data_header CurveDataHeader;
    orvane_int16 Dimension;
} orvane_curve_data_da_identity;

/* 3: a constant of any dimension (ControlCount values). */
typedef struct orvane_curve_data_da_constant32f {
    orvane_curve_data_header CurveDataHeader;
    orvane_int16 Padding;
    orvane_int32 ControlCount;
    orvane_real32* Controls;
} orvane_curve_data_da_constant32f;

/* 4, 5: constants of dimension 3 and 4. */
typedef struct orvane_curve_data_d3_constant32f {
    orvane_curve_data_header CurveDataHeader;
    orvane_int16 Padding;
    orvane_real32 Controls[3];
} orvane_curve_data_d3_constant32f;

typedef struct orvane_curve_data_d4_constant32f {
    orvane_curve_data_header CurveDataHeader;
    orvane_int16 Padding;
    orvane_real32 Controls[4];
} orvane_curve_data_d4_constant32f;

/* 6, 7: quantised knots and controls of any dimension d. ControlScaleOffsets holds d scales
 * then d offsets; KnotsControls holds the n knots, then d values per knot. */
typedef struct orvane_curve_data_da_k16u_c16u {
    orvane_curve_data_header CurveDataHeader;
    orvane_uint16 OneOverKnotScaleTrunc; /* top 16 bits of the knot scale */
    orvane_int32 ControlScaleOffsetCount;
    orvane_real32* ControlScaleOffsets;
    orvane_int32 KnotControlCount;
    orvane_uint16* KnotsControls;
} orvane_curve_data_da_k16u_c16u;

typedef struct orvane_curve_data_da_k8u_c8u {
    orvane_curve_data_header CurveDataHeader;
    orvane_uint16 OneOverKnotScaleTrunc;
    orvane_int32 ControlScaleOffsetCount;
    orvane_real32* ControlScaleOffsets;
    orvane_int32 KnotControlCount;
    orvane_uint8* KnotsControls;
} orvane_curve_data_da_k8u_c8u;

/* 8, 9: unit quaternions with one dropped component; three words per knot after the knots. */
typedef struct orvane_curve_data_d4n_k16u_c15u {
    orvane_curve_data_header CurveDataHeader;
    orvane_uint16 ScaleOffsetTableEntries; /* component c's table entry in bits 4c..4c+3 */
    orvane_real32 OneOverKnotScale;
    orvane_int32 KnotControlCount;
    orvane_uint16* KnotsControls;
} orvane_curve_data_d4n_k16u_c15u;

typedef struct orvane_curve_data_d4n_k8u_c7u {
    orvane_curve_data_header CurveDataHeader;
    orvane_uint16 ScaleOffsetTableEntries;
    orvane_real32 OneOverKnotScale;
    orvane_int32 KnotControlCount;
    orvane_uint8* KnotsControls;
} orvane_curve_data_d4n_k8u_c7u;

/* 10, 11: quantised 3-vectors. */
typedef struct orvane_curve_data_d3_k16u_c16u {
    orvane_curve_data_header CurveDataHeader;
    orvane_uint16 OneOverKnotScaleTrunc;
    orvane_real32 ControlScales[3];
    orvane_real32 ControlOffsets[3];
    orvane_int32 KnotControlCount;
    orvane_uint16* KnotsControls;
} orvane_curve_data_d3_k16u_c16u;

typedef struct orvane_curve_data_d3_k8u_c8u {
    orvane_curve_data_header CurveDataHeader;
    orvane_uint16 OneOverKnotScaleTrunc;
    orvane_real32 ControlScales[3];
    orvane_real32 ControlOffsets[3];
    orvane_int32 KnotControlCount;
    orvane_uint8* KnotsControls;
} orvane_curve_data_d3_k8u_c8u;

/* 12, 14: a uniform 3x3 scale, one quantised value per knot. */
typedef struct orvane_curve_data_d9i1_k16u_c16u {
    orvane_curve_data_header CurveDataHeader;
    orvane_uint16 OneOverKnotScaleTrunc;
    orvane_real32 ControlScale;
    orvane_real32 ControlOffset;
    orvane_int32 KnotControlCount;
    orvane_uint16* KnotsControls;
} orvane_curve_data_d9i1_k16u_c16u;

typedef struct orvane_curve_data_d9i1_k8u_c8u {
    orvane_curve_data_header CurveDataHeader;
    orvane_uint16 OneOverKnotScaleTrunc;
    orvane_real32 ControlScale;
    orvane_real32 ControlOffset;
    orvane_int32 KnotControlCount;
    orvane_uint8* KnotsControls;
} orvane_curve_data_d9i1_k8u_c8u;

/* 13, 15: a diagonal 3x3 scale, three quantised values per knot. */
typedef struct orvane_curve_data_d9i3_k16u_c16u {
    orvane_curve_data_header CurveDataHeader;
    orvane_uint16 OneOverKnotScaleTrunc;
    orvane_real32 ControlScales[3];
    orvane_real32 ControlOffsets[3];
    orvane_int32 KnotControlCount;
    orvane_uint16* KnotsControls;
} orvane_curve_data_d9i3_k16u_c16u;

typedef struct orvane_curve_data_d9i3_k8u_c8u {
    orvane_curve_data_header CurveDataHeader;
    orvane_uint16 OneOverKnotScaleTrunc;
    orvane_real32 ControlScales[3];
    orvane_real32 ControlOffsets[3];
    orvane_int32 KnotControlCount;
    orvane_uint8* KnotsControls;
} orvane_curve_data_d9i3_k8u_c8u;

#pragma pack(pop)

/* The format indices stored in orvane_curve_data_header.Format. */
typedef enum orvane_curve_format {
    OrvaneCurveFormatDaKeyframes32f = 0,
    OrvaneCurveFormatDaK32fC32f = 1,
    OrvaneCurveFormatDaIdentity = 2,
    OrvaneCurveFormatDaConstant32f = 3,
    OrvaneCurveFormatD3Constant32f = 4,
    OrvaneCurveFormatD4Constant32f = 5,
    OrvaneCurveFormatDaK16uC16u = 6,
    OrvaneCurveFormatDaK8uC8u = 7,
    OrvaneCurveFormatD4nK16uC15u = 8,
    OrvaneCurveFormatD4nK8uC7u = 9,
    OrvaneCurveFormatD3K16uC16u = 10,
    OrvaneCurveFormatD3K8uC8u = 11,
    OrvaneCurveFormatD9I1K16uC16u = 12,
    OrvaneCurveFormatD9I3K16uC16u = 13,
    OrvaneCurveFormatD9I1K8uC8u = 14,
    OrvaneCurveFormatD9I3K8uC8u = 15,
    OrvaneCurveFormatCount = 16
} orvane_curve_format;

/* Type descriptions of the header and the sixteen data records. */
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataHeaderType;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataDaKeyframes32fType;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataDaK32fC32fType;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataDaIdentityType;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataDaConstant32fType;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataD3Constant32fType;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataD4Constant32fType;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataDaK16uC16uType;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataDaK8uC8uType;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataD4nK16uC15uType;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataD4nK8uC7uType;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataD3K16uC16uType;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataD3K8uC8uType;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataD9I1K16uC16uType;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataD9I3K16uC16uType;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataD9I1K8uC8uType;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataD9I3K8uC8uType;

/* Values that identity curves yield, passed as the IdentityVector of the extraction and
 * evaluation operations. */
ORVANE_API extern const orvane_real32* const OrvaneCurveIdentityPosition;    /* 0 0 0 */
ORVANE_API extern const orvane_real32* const OrvaneCurveIdentityNormal;      /* 0 0 1 */
ORVANE_API extern const orvane_real32* const OrvaneCurveIdentityOrientation; /* 0 0 0 1 */
ORVANE_API extern const orvane_real32* const OrvaneCurveIdentityScaleShear;  /* 3x3 identity */
ORVANE_API extern const orvane_real32* const OrvaneCurveIdentityScale;       /* 1 1 1 */
ORVANE_API extern const orvane_real32* const OrvaneCurveIdentityShear;       /* 16 zeros */

/* ---------------------------------------------------------------------------------------- */
/* Curve queries                                                                            */
/* ---------------------------------------------------------------------------------------- */

/* A curve whose data is missing or whose Format is 16 or more is rejected by every
 * operation: queries answer 0 or false, and the others log an error. */
ORVANE_API orvane_data_type_definition* OrvaneCurveGetDataTypeDefinition(
    const orvane_curve2* Curve);
/* Sets Format from the data's type description (255 when no format matches). */
ORVANE_API void OrvaneCurveInitializeFormat(orvane_curve2* Curve);
ORVANE_API orvane_bool OrvaneCurveFormatIsInitializedCorrectly(const orvane_curve2* Curve);
ORVANE_API orvane_bool OrvaneCurveIsKeyframed(const orvane_curve2* Curve);
ORVANE_API orvane_bool OrvaneCurveIsIdentity(const orvane_curve2* Curve);
ORVANE_API orvane_bool OrvaneCurveIsConstantOrIdentity(const orvane_curve2* Curve);
ORVANE_API orvane_bool OrvaneCurveIsConstantNotIdentity(const orvane_curve2* Curve);
ORVANE_API orvane_int32 OrvaneCurveGetKnotCount(const orvane_curve2* Curve);
/* 0 when the curve has no knots (an identity curve reports 0). */
ORVANE_API orvane_int32 OrvaneCurveGetDimension(const orvane_curve2* Curve);
ORVANE_API orvane_int32 OrvaneCurveGetDegree(const orvane_curve2* Curve);
ORVANE_API orvane_bool OrvaneCurveIsTypeDaK32fC32f(const orvane_curve2* Curve);
ORVANE_API orvane_curve_data_da_k32f_c32f* OrvaneCurveGetContentsOfDaK32fC32f(
    const orvane_curve2* Curve);

/* ---------------------------------------------------------------------------------------- */
/* Knot access                                                                              */
/* ---------------------------------------------------------------------------------------- */

/* The first knot strictly after t, or KnotCount - 1 when there is none. */
ORVANE_API orvane_int32 OrvaneCurveFindKnot(const orvane_curve2* Curve, orvane_real32 t);
ORVANE_API orvane_int32 OrvaneCurveFindCloseKnot(const orvane_curve2* Curve, orvane_real32 t,
                                                 orvane_int32 KnotHint);
/* Decodes KnotCount knots from KnotIndex; either output may be null. The range must lie in
 * the curve (constant and identity curves accept one knot at index 0). */
ORVANE_API void OrvaneCurveExtractKnotValues(const orvane_curve2* Curve, orvane_int32 KnotIndex,
                                             orvane_int32 KnotCount, orvane_real32* KnotResults,
                                             orvane_real32* ControlResults,
                                             const orvane_real32* IdentityVector);
ORVANE_API orvane_real32 OrvaneCurveExtractKnotValue(const orvane_curve2* Curve,
                                                     orvane_int32 KnotIndex,
                                                     orvane_real32* ControlResult,
                                                     const orvane_real32* IdentityVector);
/* Encodes new values; dimension and knot count must match the curve's. */
ORVANE_API void OrvaneCurveSetAllKnotValues(orvane_curve2* Curve, orvane_int32 KnotCount,
                                            orvane_int32 Dimension, const orvane_real32* KnotSrc,
                                            const orvane_real32* ControlSrc);
/* Afterwards value component j = Scales[j] * (old component Swizzles[j]) + Offsets[j]. */
ORVANE_API void OrvaneCurveScaleOffsetSwizzle(orvane_curve2* Curve, orvane_int32 Dimension,
                                              const orvane_real32* Scales,
                                              const orvane_real32* Offsets,
                                              const orvane_int32* Swizzles);

/* ---------------------------------------------------------------------------------------- */
/* Curve builder                                                                            */
/* ---------------------------------------------------------------------------------------- */

typedef struct orvane_curve_builder orvane_curve_builder;

ORVANE_API orvane_curve_builder* OrvaneBeginCurve(orvane_data_type_definition* CurveDataType,
                                                  orvane_int32 Degree, orvane_int32 Dimension,
                                                  orvane_int32 KnotCount);
ORVANE_API orvane_curve_builder* OrvaneBeginCurveCopy(const orvane_curve2* Source);
/* The arrays are kept by pointer and must stay valid until the End call. */
ORVANE_API void OrvanePushCurveKnotArray(orvane_curve_builder* Builder, const orvane_real32* Knots);
ORVANE_API void OrvanePushCurveControlArray(orvane_curve_builder* Builder,
                                            const orvane_real32* Controls);
ORVANE_API orvane_int32 OrvaneGetResultingCurveSize(const orvane_curve_builder* Builder);
ORVANE_API orvane_int32 OrvaneGetResultingCurveDataSize(const orvane_curve_builder* Builder);
ORVANE_API orvane_curve2* OrvaneEndCurveInPlace(orvane_curve_builder* Builder, void* Memory);
ORVANE_API orvane_curve2* OrvaneEndCurveDataInPlace(orvane_curve_builder* Builder,
                                                    orvane_curve2* Curve, void* Memory);
ORVANE_API orvane_curve2* OrvaneEndCurve(orvane_curve_builder* Builder);
ORVANE_API void OrvaneAbortCurveBuilder(orvane_curve_builder* Builder);
ORVANE_API void OrvaneFreeCurve(orvane_curve2* Curve);

/* ---------------------------------------------------------------------------------------- */
/* Conversion to plain floats                                                               */
/* ---------------------------------------------------------------------------------------- */

ORVANE_API orvane_int32 OrvaneGetResultingDaK32fC32fCurveSize(const orvane_curve2* Curve);
ORVANE_API orvane_curve2* OrvaneCurveConvertToDaK32fC32fInPlace(
    const orvane_curve2* Curve, void* Memory, const orvane_real32* IdentityVector);
ORVANE_API orvane_curve2* OrvaneCurveConvertToDaK32fC32f(const orvane_curve2* Curve,
                                                         const orvane_real32* IdentityVector);
/* Wraps the caller's arrays (not copied) in CurveData and makes Curve refer to it. */
ORVANE_API orvane_curve_data_da_k32f_c32f* OrvaneCurveMakeStaticDaK32fC32f(
    orvane_curve2* Curve, void* CurveData, orvane_int32 KnotCount, orvane_int32 Degree,
    orvane_int32 Dimension, const orvane_real32* Knots, const orvane_real32* Controls);

/* ---------------------------------------------------------------------------------------- */
/* B-spline evaluation                                                                      */
/* ---------------------------------------------------------------------------------------- */

/* A window: ti[-d .. d-1] are the 2d knots and pi[-d*D .. D-1] the d + 1 control vectors
 * around the knot interval that contains t. */
typedef void (*orvane_bspline_sampler)(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);

ORVANE_API void OrvaneSampleBSpline0x1(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline0x2(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline0x3(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline0x4(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline0x9(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline1x1(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline1x2(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline1x3(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline1x4(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline1x9(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline2x1(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline2x2(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline2x3(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline2x4(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline2x9(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline3x1(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline3x2(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline3x3(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline3x4(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline3x9(const orvane_real32* ti, const orvane_real32* pi,
                                       orvane_real32 t, orvane_real32* Result);
/* The normalising forms: one Newton step towards unit length after the weighted sum. */
ORVANE_API void OrvaneSampleBSpline1x3n(const orvane_real32* ti, const orvane_real32* pi,
                                        orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline1x4n(const orvane_real32* ti, const orvane_real32* pi,
                                        orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline2x3n(const orvane_real32* ti, const orvane_real32* pi,
                                        orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline2x4n(const orvane_real32* ti, const orvane_real32* pi,
                                        orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline3x3n(const orvane_real32* ti, const orvane_real32* pi,
                                        orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneSampleBSpline3x4n(const orvane_real32* ti, const orvane_real32* pi,
                                        orvane_real32 t, orvane_real32* Result);

ORVANE_API void OrvaneSampleBSpline(orvane_int32 Degree, orvane_int32 Dimension,
                                    orvane_bool Normalize, const orvane_real32* ti,
                                    const orvane_real32* pi, orvane_real32 t,
                                    orvane_real32* Result);
/* No checks: the caller guarantees a degree and dimension that have a routine. */
ORVANE_API void OrvaneUncheckedSampleBSpline(orvane_int32 Degree, orvane_int32 Dimension,
                                             const orvane_real32* ti, const orvane_real32* pi,
                                             orvane_real32 t, orvane_real32* Result);
ORVANE_API void OrvaneUncheckedSampleBSplineN(orvane_int32 Degree, orvane_int32 Dimension,
                                              const orvane_real32* ti, const orvane_real32* pi,
                                              orvane_real32 t, orvane_real32* Result);

/* First index with Knots[index] > t, else KnotCount - 1 (0 for no knots). */
ORVANE_API orvane_int32 OrvaneFindKnot(orvane_int32 KnotCount, const orvane_real32* Knots,
                                       orvane_real32 t);
ORVANE_API orvane_int32 OrvaneFindCloseKnot(orvane_int32 KnotCount, const orvane_real32* Knots,
                                            orvane_real32 t, orvane_int32 StartingIndex);

/* Builds the window around KnotIndex. KnotBuffer holds 2 * degree values and ControlBuffer
 * 2 * degree * Dimension (at least Dimension). Returns true when the window was extended past
 * either end of the curve (by clamping, or from the prior and after curves). */
ORVANE_API orvane_bool OrvaneConstructBSplineBuffers(
    orvane_int32 Dimension, const orvane_curve2* PriorCurve, const orvane_curve2* Curve,
    const orvane_curve2* AfterCurve, orvane_real32 PriorCurveDuration, orvane_real32 CurveDuration,
    orvane_real32 AfterCurveDuration, orvane_int32 KnotIndex, orvane_real32* KnotBuffer,
    orvane_real32* ControlBuffer, orvane_real32** ti, orvane_real32** pi,
    const orvane_real32* IdentityVector);

/* Evaluates Curve at time t (seconds on the curve's own knot values) into Result, which
 * receives Dimension values (0 to 9, and the curve's own dimension unless it is an identity
 * curve). The time domain is the whole real line:
 * - between the first and the last knot, the B-spline (degree 0 holds each control over the
 *   interval that ends at its knot);
 * - before the first knot, the value at the first knot, unless BackwardsLoop: then the
 *   curve continues periodically backwards with period CurveDuration;
 * - after the last knot, the value at the last knot, unless ForwardsLoop: then the curve
 *   continues periodically forwards (its last knot repeats its first);
 * - a NaN t reads the last interval and yields NaN values.
 * An identity curve yields the first Dimension values of IdentityVector (zeros when null), a
 * constant its control, a keyframed curve its first frame. Normalize (dimension 3 or 4, degree
 * above 0) renormalises by one Newton step; with Dimension 4 a window continued past an end
 * is made sign-continuous first. A null, unrecognised or mismatched curve, an out-of-range
 * degree or dimension logs an error and leaves Result unchanged. Reads only the curve; safe
 * from any number of threads. */
ORVANE_API void OrvaneEvaluateCurveAtT(orvane_int32 Dimension, orvane_bool Normalize,
                                       orvane_bool BackwardsLoop, const orvane_curve2* Curve,
                                       orvane_bool ForwardsLoop, orvane_real32 CurveDuration,
                                       orvane_real32 t, orvane_real32* Result,
                                       const orvane_real32* IdentityVector);
/* OrvaneEvaluateCurveAtT with the knot index given: KnotIndex should be
 * OrvaneCurveFindKnot(Curve, t) (a previous frame's index is fine while t stays in its
 * interval); an index equal to the knot count is lowered by one, others are clamped into the
 * curve. Times outside the knots behave as in OrvaneEvaluateCurveAtT when KnotIndex is the
 * first or last interval's. */
ORVANE_API void OrvaneEvaluateCurveAtKnotIndex(orvane_int32 Dimension, orvane_bool Normalize,
                                               orvane_bool BackwardsLoop,
                                               const orvane_curve2* Curve, orvane_bool ForwardsLoop,
                                               orvane_real32 CurveDuration, orvane_int32 KnotIndex,
                                               orvane_real32 t, orvane_real32* Result,
                                               const orvane_real32* IdentityVector);
ORVANE_API orvane_int32 OrvaneGetMaximumKnotCountForSampleCount(orvane_int32 MaxDegree,
                                                                orvane_int32 MaxSampleCount);

ORVANE_EXTERN_C_END

#endif /* ORVANE_ANIM_H */

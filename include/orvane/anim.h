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

/* Type descriptions of the header and the sixteen data records, in format order. A curve's
 * data type is recognised by comparing descriptions (names included), not addresses, so
 * descriptions loaded from a file match these. */
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
 * operation: queries answer 0 or false, and the others log an error. The queries only read
 * the curve and may run on any thread. */
/* The curve's data type (null for a null curve). */
ORVANE_API orvane_data_type_definition* OrvaneCurveGetDataTypeDefinition(
    const orvane_curve2* Curve);
/* Sets Format from the data's type description (255 when no format matches). */
ORVANE_API void OrvaneCurveInitializeFormat(orvane_curve2* Curve);
/* True when Format is the index of the format whose description the data type matches. */
ORVANE_API orvane_bool OrvaneCurveFormatIsInitializedCorrectly(const orvane_curve2* Curve);
/* Format DaKeyframes32f, or a DaK32fC32f curve with controls and no knots. */
ORVANE_API orvane_bool OrvaneCurveIsKeyframed(const orvane_curve2* Curve);
/* Format DaIdentity, or a DaK32fC32f curve without knots and controls. */
ORVANE_API orvane_bool OrvaneCurveIsIdentity(const orvane_curve2* Curve);
/* An identity or a constant format, or a DaK32fC32f curve of one knot or of none and no
 * controls. */
ORVANE_API orvane_bool OrvaneCurveIsConstantOrIdentity(const orvane_curve2* Curve);
/* OrvaneCurveIsConstantOrIdentity and not OrvaneCurveIsIdentity. */
ORVANE_API orvane_bool OrvaneCurveIsConstantNotIdentity(const orvane_curve2* Curve);
/* Knots stored (frames for keyframes, 1 for constants, 0 for the identity); 0 with an error
 * for a rejected curve. */
ORVANE_API orvane_int32 OrvaneCurveGetKnotCount(const orvane_curve2* Curve);
/* 0 when the curve has no knots (an identity curve reports 0). */
ORVANE_API orvane_int32 OrvaneCurveGetDimension(const orvane_curve2* Curve);
/* The header's Degree as stored (0 to 3 in any curve the builder made; files are not
 * trusted: evaluation refuses a degree above 3); 0 for a curve without data. */
ORVANE_API orvane_int32 OrvaneCurveGetDegree(const orvane_curve2* Curve);
/* Format DaK32fC32f. */
ORVANE_API orvane_bool OrvaneCurveIsTypeDaK32fC32f(const orvane_curve2* Curve);
/* The data record of a DaK32fC32f curve, or null for any other. */
ORVANE_API orvane_curve_data_da_k32f_c32f* OrvaneCurveGetContentsOfDaK32fC32f(
    const orvane_curve2* Curve);

/* ---------------------------------------------------------------------------------------- */
/* Knot access                                                                              */
/* ---------------------------------------------------------------------------------------- */

/* The first knot strictly after t (seconds), or KnotCount - 1 when there is none; 0 for a
 * curve without knots (and for a rejected curve). NaN gives KnotCount - 1. */
ORVANE_API orvane_int32 OrvaneCurveFindKnot(const orvane_curve2* Curve, orvane_real32 t);
/* The same result; KnotHint (a previous result) is a hint only and may be anything. */
ORVANE_API orvane_int32 OrvaneCurveFindCloseKnot(const orvane_curve2* Curve, orvane_real32 t,
                                                 orvane_int32 KnotHint);
/* Decodes KnotCount knots from KnotIndex; either output may be null. The range must lie in
 * the curve (constant and identity curves accept one knot at index 0). */
ORVANE_API void OrvaneCurveExtractKnotValues(const orvane_curve2* Curve, orvane_int32 KnotIndex,
                                             orvane_int32 KnotCount, orvane_real32* KnotResults,
                                             orvane_real32* ControlResults,
                                             const orvane_real32* IdentityVector);
/* One knot: its control into ControlResult (may be null) and its knot value as the result (0
 * for keyframes, constants and the identity). A KnotIndex outside the curve logs "%s(%d):
 * Knots [%d, %d) are out of range [0, %d)" and returns 0 without writing. */
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

/* Begin, push the knot and control arrays, then one End call (or Abort), which frees the
 * builder whatever its result. A builder belongs to one thread at a time. Messages have origin
 * OrvaneCurveOrigin. */
typedef struct orvane_curve_builder orvane_curve_builder;

/* A builder for a curve of CurveDataType (one of the sixteen OrvaneCurveData...Type
 * descriptions, compared by content), Degree 0 to 3, Dimension values per control (0 to
 * 32767; fixed by the format for the D3, D4 and D9 formats) and KnotCount knots (at least 0;
 * 1 for constants, frames for keyframes). Fails at once with null: an unknown type logs
 * "%s(%d): Invalid format specified for a orvane_curve2 - returning NULL"; a degree,
 * dimension or knot count out of range (or too large to lay out) logs "%s(%d): Degree %d,
 * Dimension %d and KnotCount %d do not make a curve"; null when memory runs out. */
ORVANE_API orvane_curve_builder* OrvaneBeginCurve(orvane_data_type_definition* CurveDataType,
                                                  orvane_int32 Degree, orvane_int32 Dimension,
                                                  orvane_int32 KnotCount);
/* A builder that copies Source in its own format (its stored values, unchanged); null with an
 * error for a rejected Source. Pushing an array afterwards builds from the arrays instead. */
ORVANE_API orvane_curve_builder* OrvaneBeginCurveCopy(const orvane_curve2* Source);
/* KnotCount knot times in seconds, ascending, and KnotCount x Dimension control values. The
 * arrays are kept by pointer and must stay valid until the End call. A null Builder logs
 * "%s(%d): Builder is not allowed to be 0" and does nothing. Constants need no knot array. */
ORVANE_API void OrvanePushCurveKnotArray(orvane_curve_builder* Builder, const orvane_real32* Knots);
ORVANE_API void OrvanePushCurveControlArray(orvane_curve_builder* Builder,
                                            const orvane_real32* Controls);
/* Bytes OrvaneEndCurveInPlace needs: the orvane_curve2 followed by its data record and arrays
 * (4-byte aligned). 0, with an error, for a null builder. */
ORVANE_API orvane_int32 OrvaneGetResultingCurveSize(const orvane_curve_builder* Builder);
/* Bytes OrvaneEndCurveDataInPlace needs: the data record and its arrays only. */
ORVANE_API orvane_int32 OrvaneGetResultingCurveDataSize(const orvane_curve_builder* Builder);
/* Builds the curve in Memory (OrvaneGetResultingCurveSize bytes, 4-byte aligned, owned by the
 * caller) and returns it at the start of Memory. Null, with an error, when Memory is null,
 * neither a source nor both arrays were given ("%s(%d): Need either a source curve to copy,
 * or both knot and control arrays - returning NULL"), knots are missing where the format needs
 * them ("%s(%d): Unknown curve type - returning NULL"), or the dimension does not fit a fixed
 * format. Quantised formats encode the values with their own precision. */
ORVANE_API orvane_curve2* OrvaneEndCurveInPlace(orvane_curve_builder* Builder, void* Memory);
/* The same, with only the data record in Memory (OrvaneGetResultingCurveDataSize bytes) and
 * Curve (the caller's) made to refer to it; Curve is returned, or null (Curve then refers to
 * nothing). */
ORVANE_API orvane_curve2* OrvaneEndCurveDataInPlace(orvane_curve_builder* Builder,
                                                    orvane_curve2* Curve, void* Memory);
/* The same in one block from the library's allocator, released by OrvaneFreeCurve. */
ORVANE_API orvane_curve2* OrvaneEndCurve(orvane_curve_builder* Builder);
/* Frees the builder without building. Null is ignored. */
ORVANE_API void OrvaneAbortCurveBuilder(orvane_curve_builder* Builder);
/* Releases a curve from OrvaneEndCurve or OrvaneCurveConvertToDaK32fC32f. Null is ignored. */
ORVANE_API void OrvaneFreeCurve(orvane_curve2* Curve);

/* ---------------------------------------------------------------------------------------- */
/* Conversion to plain floats                                                               */
/* ---------------------------------------------------------------------------------------- */

/* Bytes of the DaK32fC32f copy of Curve (curve, record, knots and controls); 0 for a
 * rejected curve. */
ORVANE_API orvane_int32 OrvaneGetResultingDaK32fC32fCurveSize(const orvane_curve2* Curve);
/* The curve decoded into a DaK32fC32f curve of the same degree in Memory (that many bytes,
 * 4-byte aligned); IdentityVector fills an identity curve's controls (zeros when null).
 * Keyframes get knot values of 0. Null, with an error, for a rejected curve or null Memory. */
ORVANE_API orvane_curve2* OrvaneCurveConvertToDaK32fC32fInPlace(
    const orvane_curve2* Curve, void* Memory, const orvane_real32* IdentityVector);
/* The same in one block from the library's allocator, released by OrvaneFreeCurve. */
ORVANE_API orvane_curve2* OrvaneCurveConvertToDaK32fC32f(const orvane_curve2* Curve,
                                                         const orvane_real32* IdentityVector);
/* Wraps the caller's arrays (not copied) in CurveData and makes Curve refer to it. */
ORVANE_API orvane_curve_data_da_k32f_c32f* OrvaneCurveMakeStaticDaK32fC32f(
    orvane_curve2* Curve, void* CurveData, orvane_int32 KnotCount, orvane_int32 Degree,
    orvane_int32 Dimension, const orvane_real32* Knots, const orvane_real32* Controls);

/* ---------------------------------------------------------------------------------------- */
/* B-spline evaluation                                                                      */
/* ---------------------------------------------------------------------------------------- */

/* A window: ti[-d to d-1] are the 2d knots and pi[-d*D to D-1] the d + 1 control vectors
 * around the knot interval that contains t. Every routine here is pure (any thread).
 *
 * The sampler routines OrvaneSampleBSpline<degree>x<dimension> (and the normalising forms
 * ...n) evaluate de Boor's algorithm on a window at time t (seconds) and write dimension
 * values to Result. They do no checks: ti, pi and Result must be valid, and t is meant to lie
 * in [ti[-1], ti[0]] (outside it the polynomial of that interval is extrapolated; a window
 * whose ti[-1] equals ti[0] divides 0 by 0). The curve evaluators below keep t in the curve's
 * time domain; callers that build windows themselves should do the same. */
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
/* The normalising forms: the weighted sum scaled to unit length, exactly (to float rounding;
 * a sum without length, or one that is not finite, is left as it is). */
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

/* Checks, then calls the routine for Degree and Dimension (the normalising one when Normalize):
 * a Degree outside [0, 4) logs "%s(%d): Degree %d is out of range [0, %d)", a Dimension
 * outside [0, 10) "%s(%d): Dimension %d is out of range [0, %d)", a pair without a routine
 * "%s(%d): Unrecognized degree/dimension combination (%d/%d)"; Result is then not written.
 * Degree 0 never renormalises. */
ORVANE_API void OrvaneSampleBSpline(orvane_int32 Degree, orvane_int32 Dimension,
                                    orvane_bool Normalize, const orvane_real32* ti,
                                    const orvane_real32* pi, orvane_real32 t,
                                    orvane_real32* Result);
/* No checks: the caller guarantees a degree and dimension that have a routine. */
ORVANE_API void OrvaneUncheckedSampleBSpline(orvane_int32 Degree, orvane_int32 Dimension,
                                             const orvane_real32* ti, const orvane_real32* pi,
                                             orvane_real32 t, orvane_real32* Result);
/* The same from the normalising table. */
ORVANE_API void OrvaneUncheckedSampleBSplineN(orvane_int32 Degree, orvane_int32 Dimension,
                                              const orvane_real32* ti, const orvane_real32* pi,
                                              orvane_real32 t, orvane_real32* Result);

/* First index with Knots[index] > t, else KnotCount - 1 (0 for no knots or null Knots). Knots
 * must ascend; a NaN t gives KnotCount - 1. */
ORVANE_API orvane_int32 OrvaneFindKnot(orvane_int32 KnotCount, const orvane_real32* Knots,
                                       orvane_real32 t);
/* The same; StartingIndex is not used. */
ORVANE_API orvane_int32 OrvaneFindCloseKnot(orvane_int32 KnotCount, const orvane_real32* Knots,
                                            orvane_real32 t, orvane_int32 StartingIndex);

/* Builds the window around KnotIndex (clamped into the curve). KnotBuffer holds 2 * degree
 * values and ControlBuffer 2 * degree * Dimension (at least Dimension). Returns true when the
 * window was extended past either end of the curve: by clamping (no neighbour), from an
 * identity neighbour (IdentityVector, zeros when null, at steps of its duration) or from the
 * prior and after curves (looping: the neighbour's knots shifted by the durations, its
 * repeated last knot skipped). A neighbour of another dimension or without knots is treated
 * as absent (with an error). An identity or knot-less curve yields a window of identity
 * values. A rejected curve, a degree above 3 or a Dimension other than the curve's logs an
 * error and returns false with *ti and *pi at the buffers. Writes only the caller's
 * buffers. */
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
 * above 0) renormalises exactly, as the normalising B-spline forms do; with Dimension 4 a
 * window continued past an end is made sign-continuous first. A null, unrecognised or mismatched
 * curve, an out-of-range degree or dimension logs an error and leaves Result unchanged. Reads only
 * the curve; safe from any number of threads. */
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
/* (MaxDegree + 1) x MaxSampleCount: the most knots a fitted curve of that many samples can
 * have. No checks. */
ORVANE_API orvane_int32 OrvaneGetMaximumKnotCountForSampleCount(orvane_int32 MaxDegree,
                                                                orvane_int32 MaxSampleCount);

/* ---------------------------------------------------------------------------------------- */
/* Track groups: lookups, flags, queries, initial transforms and basis conversion           */
/* ---------------------------------------------------------------------------------------- */
/* orvane_track_group, orvane_transform_track, orvane_vector_track and orvane_text_track are
 * declared in orvane/types.h. Flags are the low 16 bits of AccumulationFlags, the variable-
 * delta degrees of freedom the high 16 bits (signed).
 *
 * Threads: lookups and queries only read (the name lookups read the process-wide string
 * comparison callback); the operations that change tracks or curves need exclusive access to
 * them. Nothing here keeps process-wide scratch. Errors log from OrvaneTrackGroupOrigin. */

enum {
    OrvaneTrackGroupSortedByName = 2 /* transform tracks in the library's name order */
};

/* Name lookup: bisection when the group is flagged as sorted (the comparison callback, else
 * OrvaneStringDifference), a scan for the first equal name otherwise. Returns false with
 * *TrackIndex = -1 when there is no such track or the group is null. */
ORVANE_API orvane_bool OrvaneFindTrackByName(const orvane_track_group* TrackGroup, const char* Name,
                                             orvane_int32* TrackIndex);
/* The first track whose name, matched against Pattern ('?' one character, '*' any run, other
 * characters compared with letters folded to lower case; a null pattern takes the whole
 * name), yields exactly ProcessedName from its wildcards. Names longer than 1023 characters
 * never match. */
ORVANE_API orvane_bool OrvaneFindTrackByRule(const orvane_track_group* TrackGroup,
                                             const char* ProcessedName, const char* Pattern,
                                             orvane_int32* TrackIndex);
ORVANE_API orvane_bool OrvaneFindVectorTrackByName(const orvane_track_group* TrackGroup,
                                                   const char* Name,
                                                   orvane_int32* VectorTrackIndex);
ORVANE_API orvane_bool OrvaneFindVectorTrackByRule(const orvane_track_group* TrackGroup,
                                                   const char* ProcessedName, const char* Pattern,
                                                   orvane_int32* VectorTrackIndex);

/* *VDADOFs is the high half sign-extended (0xFFFF reads back as -1). */
ORVANE_API void OrvaneGetTrackGroupFlags(const orvane_track_group* TrackGroup, orvane_uint32* Flags,
                                         orvane_uint32* VDADOFs);
ORVANE_API void OrvaneSetTrackGroupFlags(orvane_track_group* TrackGroup, orvane_uint32 Flags,
                                         orvane_uint32 VDADOFs);
ORVANE_API void OrvaneGetTrackGroupInitialPlacement4x4(const orvane_track_group* TrackGroup,
                                                       orvane_real32 Placement4x4[16]);

ORVANE_API orvane_bool OrvaneTransformTrackHasKeyframedCurves(const orvane_transform_track* Track);
/* Not all three curves constant-or-identity. */
ORVANE_API orvane_bool OrvaneTransformTrackIsAnimated(const orvane_transform_track* Track);
ORVANE_API orvane_bool OrvaneTransformTrackIsIdentity(const orvane_transform_track* Track);
/* Knot 0 of each curve, flags by the identity check. A curve with no knot to read (or one
 * that fails the track check of the samplers) gives its identity value. */
ORVANE_API void OrvaneGetTrackInitialTransform(const orvane_transform_track* Track,
                                               orvane_transform* Result);

/* In place on Count values: points by Transform; quaternions q -> Orientation (x) q;
 * matrices M -> R^T S R M with R = R(Orientation), S = ScaleShear. */
ORVANE_API void OrvaneTransformCurve3(const orvane_transform* Transform, orvane_int32 Count,
                                      orvane_real32* Vec3s);
ORVANE_API void OrvaneTransformCurve4(const orvane_transform* Transform, orvane_int32 Count,
                                      orvane_real32* Quaternions);
ORVANE_API void OrvaneTransformCurve3x3(const orvane_transform* Transform, orvane_int32 Count,
                                        orvane_real32* Matrices3x3);
/* Re-expresses the track relative to its initial transform. Every non-identity curve must be
 * DaK32fC32f; otherwise an error is logged and nothing changes. */
ORVANE_API void OrvaneRemoveTrackInitialTransform(orvane_transform_track* Track);

/* True when Linear3x3 is, within LinearTolerance, a signed axis permutation with one common
 * scale: the case in which curves are converted by swizzling their stored values instead of
 * being decoded and re-encoded (the name is historical: true means no decompression is
 * needed). With RoundToTolerance and a true result, Linear3x3 is snapped to that exact form
 * and InverseLinear3x3 recomputed. Affine3 and AffineTolerance are not used. */
ORVANE_API orvane_bool OrvaneBasisConversionRequiresCurveDecompression(
    const orvane_real32 Affine3[3], orvane_real32 Linear3x3[9], orvane_real32 InverseLinear3x3[9],
    orvane_real32 AffineTolerance, orvane_real32 LinearTolerance, orvane_bool RoundToTolerance);
/* v -> Linear3x3 v + Affine3 on every control of a 3-dimensional, non-identity curve, in its
 * own format. A failed temporary allocation leaves the curve unchanged. */
ORVANE_API void OrvaneTransformCurveVec3(const orvane_real32 Affine3[3],
                                         const orvane_real32 Linear3x3[9],
                                         orvane_real32 AffineTolerance,
                                         orvane_real32 LinearTolerance, orvane_curve2* Curve);
ORVANE_API void OrvaneSimilarityTransformCurvePosition(const orvane_real32 Affine3[3],
                                                       const orvane_real32 Linear3x3[9],
                                                       const orvane_real32 InverseLinear3x3[9],
                                                       orvane_real32 AffineTolerance,
                                                       orvane_real32 LinearTolerance,
                                                       orvane_curve2* Curve);
/* q -> quaternion of L R(q) L^-1 (length kept); dimension 4 only. */
ORVANE_API void OrvaneSimilarityTransformCurveQuaternion(const orvane_real32 Affine3[3],
                                                         const orvane_real32 Linear3x3[9],
                                                         const orvane_real32 InverseLinear3x3[9],
                                                         orvane_real32 AffineTolerance,
                                                         orvane_real32 LinearTolerance,
                                                         orvane_curve2* Curve);
/* M -> L M L^-1; dimension 9 only. */
ORVANE_API void OrvaneSimilarityTransformCurveScaleShear(const orvane_real32 Affine3[3],
                                                         const orvane_real32 Linear3x3[9],
                                                         const orvane_real32 InverseLinear3x3[9],
                                                         orvane_real32 AffineTolerance,
                                                         orvane_real32 LinearTolerance,
                                                         orvane_curve2* Curve);
/* Every track's curves, the loop translation, the periodic loop and the initial placement;
 * vector tracks, text tracks and the root motion are left alone. */
ORVANE_API void OrvaneSimilarityTransformTrackGroup(orvane_track_group* TrackGroup,
                                                    const orvane_real32 Affine3[3],
                                                    const orvane_real32 Linear3x3[9],
                                                    const orvane_real32 InverseLinear3x3[9],
                                                    orvane_real32 AffineTolerance,
                                                    orvane_real32 LinearTolerance);

/* Largest distance of the vectors from IdentityVector and from the first vector (quaternion
 * mode: |1 - dot|; Euclidean: length; else L1). A null IdentityVector gives an identity
 * difference of 1.9140881e38. */
ORVANE_API void OrvaneGetVectorDifferences(orvane_int32 Dimension, orvane_int32 VectorCount,
                                           const orvane_real32* Vectors,
                                           const orvane_real32* IdentityVector,
                                           orvane_bool Euclidean, orvane_bool QuaternionMode,
                                           orvane_real32* IdentityDifference,
                                           orvane_real32* ConstantDifference);
/* True, with degree 0 and 0 knots, when the controls are the identity within Epsilon; true
 * with degree 0 and 1 knot when they are constant; else false with Degree and KnotCount. */
ORVANE_API orvane_bool OrvaneKnotsAreReducible(
    orvane_int32 Degree, orvane_int32 Dimension, orvane_int32 KnotCount, const orvane_real32* Knots,
    const orvane_real32* Controls, const orvane_real32* IdentityVector, orvane_real32 Epsilon,
    orvane_bool Euclidean, orvane_bool QuaternionMode, orvane_int32* RequiredDegree,
    orvane_int32* RequiredKnotCount);

/* ---------------------------------------------------------------------------------------- */
/* Track sampling                                                                           */
/* ---------------------------------------------------------------------------------------- */
/* Curves are checked before they are sampled: a curve whose format, degree, dimension or
 * counts no sampler can read (a hostile or damaged file) is sampled as its identity value,
 * with a warning given once per process. Samplers keep their window buffers on the stack:
 * distinct tracks and instances may be sampled on several threads at once. */

typedef struct orvane_track_sample_context {
    orvane_real32 SampleTime;     /* local time within the animation, seconds */
    orvane_real32 SampleDuration; /* one loop; the duration of the neighbouring loops */
    orvane_bool LoopBefore;       /* the window continues before the start with the curve */
    orvane_bool LoopAfter;        /* the window continues after the end with the curve */
    orvane_int32 FrameIndex;      /* the frame keyframed curves yield (clamped to their count) */
} orvane_track_sample_context;

/* Forms L, then WorldResult = M(L) ParentMatrix and CompositeResult = InverseWorld4x4
 * WorldResult (affine 4x4 products). BoundTrack is the caller's per-track record, passed
 * through and not read by the samplers here. */
typedef void (*orvane_track_sampler)(const orvane_track_sample_context* Context,
                                     const orvane_transform_track* SourceTrack,
                                     const void* BoundTrack,
                                     const orvane_transform* ConstantTransform,
                                     const orvane_real32* InverseWorld4x4,
                                     const orvane_real32* ParentMatrix, orvane_real32* WorldResult,
                                     orvane_real32* CompositeResult);

/* Writes all three components and ORs into Result->Flags (start it at 0): bit 1 unless the
 * position curve is the identity, bit 2 and bit 4 likewise. A sampled orientation is normalised
 * to unit length (exactly, to float rounding: keys far apart blend to a quaternion much shorter
 * than 1, which a single Newton step would leave scaling and shearing); one without length
 * (opposite keys half way) or not a number becomes the identity. Every track sampler, the
 * position-and-orientation sampler and the model instances' sampling paths (local poses and the
 * accelerated world build alike) take their orientations from here, so they agree to rounding.
 * A constant orientation is used as stored. BoundTrack is not used. */
ORVANE_API void OrvaneSampleTrackUUULocal(const orvane_track_sample_context* Context,
                                          const orvane_transform_track* SourceTrack,
                                          const void* BoundTrack, orvane_transform* Result);
/* As OrvaneSampleTrackUUULocal with a caller-owned hint per curve (position, orientation,
 * scale/shear; start them at 0): the knot search starts at the hinted knot, so playback at
 * successive times finds its knots in a step or two. The result does not depend on the hints. */
ORVANE_API void OrvaneSampleTrackUUULocalHinted(const orvane_track_sample_context* Context,
                                                const orvane_transform_track* SourceTrack,
                                                orvane_int32 KnotHints[3],
                                                orvane_transform* Result);
/* A per-instance playback cache for one track: the knot hints, and the decoded windows of
 * degree-1 position and orientation curves in the D3K16uC16u and D4nK16uC15u formats (the
 * curves are identified by their data's address). Zero it before first use and whenever the
 * track's curves change. */
typedef struct orvane_track_sample_cache {
    orvane_int32 KnotHints[3];
    orvane_int32 WindowKnots[2];
    const void* WindowCurves[2];
    orvane_real32 WindowTimes[2][2];
    orvane_real32 WindowValues[2][8];
} orvane_track_sample_cache;

/* As OrvaneSampleTrackUUULocal, reusing the cache: the same result, less decoding at
 * successive times. */
ORVANE_API void OrvaneSampleTrackUUULocalCached(const orvane_track_sample_context* Context,
                                                const orvane_transform_track* SourceTrack,
                                                orvane_track_sample_cache* Cache,
                                                orvane_transform* Result);
/* Position and orientation only, no flags; keyframed curves yield their first frame. */
ORVANE_API void OrvaneSampleTrackPOLocal(const orvane_track_sample_context* Context,
                                         const orvane_transform_track* SourceTrack,
                                         const void* BoundTrack, orvane_real32 Position[3],
                                         orvane_real32 Orientation[4]);
/* The sampler for the kinds of the track's three curves (identity, constant, animated); the
 * general one for keyframed tracks. A curve that fails the check counts as an identity curve
 * (with the warning, once). Chosen once per bound track; never null. */
ORVANE_API orvane_track_sampler OrvaneGetTrackSamplerFor(const orvane_transform_track* Track);
ORVANE_API orvane_track_sampler OrvaneGetTrackSamplerUUU(void);
/* Ignores the track and uses ConstantTransform as the local transform. */
ORVANE_API orvane_track_sampler OrvaneGetTrackSamplerSSS(void);
ORVANE_API orvane_track_sampler OrvaneGetTrackSamplerIII(void);
/* Identity position and orientation, the scale/shear curve sampled. */
ORVANE_API orvane_track_sampler OrvaneGetTrackSamplerIIU(void);

/* ---------------------------------------------------------------------------------------- */
/* Track masks                                                                              */
/* ---------------------------------------------------------------------------------------- */
/* Per-bone weights; indices at or past BoneCount read DefaultWeight. A mask is plain data:
 * concurrent reads are safe, writers need exclusive access. Errors log from
 * OrvaneTrackMaskOrigin. */

typedef struct orvane_track_mask {
    orvane_real32 DefaultWeight;
    orvane_int32 BoneCount;
    orvane_real32* BoneWeights;
} orvane_track_mask;

/* Every weight 1 / 0; no weight array (BoneCount 0). Read-only. */
ORVANE_API extern const orvane_track_mask* const OrvaneIdentityTrackMask;
ORVANE_API extern const orvane_track_mask* const OrvaneNullTrackMask;

/* Null when the allocation failed or BoneCount is negative. Free with OrvaneFreeTrackMask. */
ORVANE_API orvane_track_mask* OrvaneNewTrackMask(orvane_real32 DefaultWeight,
                                                 orvane_int32 BoneCount);
/* DefaultWeight for an index outside [0, BoneCount) or a null mask. */
ORVANE_API orvane_real32 OrvaneGetTrackMaskBoneWeight(const orvane_track_mask* Mask,
                                                      orvane_int32 BoneIndex);
/* Logs an error and stores nothing for an index outside [0, BoneCount). */
ORVANE_API void OrvaneSetTrackMaskBoneWeight(orvane_track_mask* Mask, orvane_int32 BoneIndex,
                                             orvane_real32 Weight);
ORVANE_API void OrvaneFreeTrackMask(orvane_track_mask* Mask);
ORVANE_API orvane_track_mask* OrvaneCopyTrackMask(const orvane_track_mask* Mask);
/* w -> 1 - w for every weight; DefaultWeight unchanged. */
ORVANE_API void OrvaneInvertTrackMask(orvane_track_mask* Mask);
/* For each transform track whose bone is found by name: AnimatedValue, else IdentityValue for
 * an identity track, else ConstantValue. Other bones keep their weights. */
ORVANE_API void OrvaneSetSkeletonTrackMaskFromTrackGroup(
    orvane_track_mask* Mask, const orvane_skeleton* Skeleton, const orvane_track_group* TrackGroup,
    orvane_real32 IdentityValue, orvane_real32 ConstantValue, orvane_real32 AnimatedValue);
/* The leaf and every ancestor get Weight. Indices outside the skeleton or the mask log an
 * error; a broken parent chain ends the walk. */
ORVANE_API void OrvaneSetSkeletonTrackMaskChainUpwards(orvane_track_mask* Mask,
                                                       const orvane_skeleton* Skeleton,
                                                       orvane_int32 ChainLeafBoneIndex,
                                                       orvane_real32 Weight);
/* The root and every descendant get Weight, whatever weights the mask held before. */
ORVANE_API void OrvaneSetSkeletonTrackMaskChainDownwards(orvane_track_mask* Mask,
                                                         const orvane_skeleton* Skeleton,
                                                         orvane_int32 ChainRootBoneIndex,
                                                         orvane_real32 Weight);
/* Weight i from the real32-convertible member MaskName of bone i's ExtendedData, else
 * DefaultWeight (or the parent's weight with UseParentForDefault). Returns 0 when every bone
 * had the member, 1 when some did, 2 when none did or the call failed. */
ORVANE_API orvane_int32 OrvaneExtractTrackMask(orvane_track_mask* Mask, orvane_int32 BoneCount,
                                               const orvane_skeleton* Skeleton,
                                               const char* MaskName, orvane_real32 DefaultWeight,
                                               orvane_bool UseParentForDefault);

/* ---------------------------------------------------------------------------------------- */
/* Track group builder, LOD error space and sampled animations                              */
/* ---------------------------------------------------------------------------------------- */
/* A builder or a sampled animation belongs to one thread at a time. Names and texts are kept
 * as the caller's pointers and must outlive the track group. Errors log from
 * OrvaneTrackGroupBuilderOrigin. */

typedef struct orvane_track_group_builder orvane_track_group_builder;
typedef struct orvane_track_group_sampler orvane_track_group_sampler;

/* The three counts are not used. Null when the allocation failed. */
ORVANE_API orvane_track_group_builder* OrvaneBeginTrackGroup(const char* Name,
                                                             orvane_int32 VectorTrackCount,
                                                             orvane_int32 TransformTrackCount,
                                                             orvane_int32 TextTrackCount,
                                                             orvane_bool IncludeLODErrorSpace);
/* The curve setters encode into the builder; a failed encoding leaves that curve empty. */
ORVANE_API void OrvanePushVectorTrack(orvane_track_group_builder* Builder, const char* Name,
                                      orvane_int32 Degree, orvane_int32 Dimension,
                                      orvane_int32 Unused, orvane_int32 KnotCount,
                                      const orvane_real32* Knots, const orvane_real32* Controls,
                                      orvane_data_type_definition* CurveDataType);
ORVANE_API void OrvanePushVectorTrackCurve(orvane_track_group_builder* Builder, const char* Name,
                                           const orvane_curve2* Source);
ORVANE_API void OrvaneBeginTransformTrack(orvane_track_group_builder* Builder, const char* Name);
/* Without an open transform track these do nothing. */
ORVANE_API void OrvaneSetTransformTrackPosition(orvane_track_group_builder* Builder,
                                                orvane_int32 Degree, orvane_int32 Unused,
                                                orvane_int32 KnotCount, const orvane_real32* Knots,
                                                const orvane_real32* Controls,
                                                orvane_data_type_definition* CurveDataType);
ORVANE_API void OrvaneSetTransformTrackOrientation(orvane_track_group_builder* Builder,
                                                   orvane_int32 Degree, orvane_int32 Unused,
                                                   orvane_int32 KnotCount,
                                                   const orvane_real32* Knots,
                                                   const orvane_real32* Controls,
                                                   orvane_data_type_definition* CurveDataType);
ORVANE_API void OrvaneSetTransformTrackScaleShear(orvane_track_group_builder* Builder,
                                                  orvane_int32 Degree, orvane_int32 Unused,
                                                  orvane_int32 KnotCount,
                                                  const orvane_real32* Knots,
                                                  const orvane_real32* Controls,
                                                  orvane_data_type_definition* CurveDataType);
ORVANE_API void OrvaneSetTransformTrackPositionCurve(orvane_track_group_builder* Builder,
                                                     const orvane_curve2* Source);
ORVANE_API void OrvaneSetTransformTrackOrientationCurve(orvane_track_group_builder* Builder,
                                                        const orvane_curve2* Source);
ORVANE_API void OrvaneSetTransformTrackScaleShearCurve(orvane_track_group_builder* Builder,
                                                       const orvane_curve2* Source);
ORVANE_API void OrvaneEndTransformTrack(orvane_track_group_builder* Builder);
ORVANE_API void OrvaneBeginTextTrack(orvane_track_group_builder* Builder, const char* Name);
ORVANE_API void OrvaneAddTextEntry(orvane_track_group_builder* Builder, orvane_real32 TimeStamp,
                                   const char* Text);
ORVANE_API void OrvaneEndTextTrack(orvane_track_group_builder* Builder);
/* Bytes of the block that OrvaneEndTrackGroupInPlace writes (pointer alignment). */
ORVANE_API orvane_int32 OrvaneGetResultingTrackGroupSize(const orvane_track_group_builder* Builder);
/* Both ends free the builder. Tracks come out sorted by name, AccumulationFlags =
 * OrvaneTrackGroupSortedByName, every LOD error 1.9140881e38, InitialPlacement the identity
 * and LoopTranslation zero. A curve that was never set is left as the identity. */
ORVANE_API orvane_track_group* OrvaneEndTrackGroupInPlace(orvane_track_group_builder* Builder,
                                                          void* Memory);
/* One block, released with OrvaneFreeBuilderResult; null for a null builder or no memory. */
ORVANE_API orvane_track_group* OrvaneEndTrackGroup(orvane_track_group_builder* Builder);

/* Sorts the transform tracks by name (their LOD errors move with them) and sets
 * OrvaneTrackGroupSortedByName; under a comparison callback, neighbours with the very same
 * name pointer are reported. */
ORVANE_API void OrvaneResortTrackGroup(orvane_track_group* TrackGroup);
/* Gives a group without LOD errors one per transform track (set to 1.9140881e38). */
ORVANE_API void OrvaneAllocateLODErrorSpace(orvane_track_group* TrackGroup);
/* Frees only what OrvaneAllocateLODErrorSpace allocated; errors inside a built or loaded
 * block are detached, not freed. */
ORVANE_API void OrvaneFreeLODErrorSpace(orvane_track_group* TrackGroup);
ORVANE_API void OrvaneSetAllLODErrorSpace(orvane_track_group* TrackGroup, orvane_real32 Value);
ORVANE_API void OrvaneResetLODErrorSpace(orvane_track_group* TrackGroup);

/* TransformCurveCount x SampleCount transforms, recorded one frame at a time. Null when the
 * counts are negative, their product too large, or memory runs out. */
ORVANE_API orvane_track_group_sampler* OrvaneBeginSampledAnimation(orvane_int32 TransformCurveCount,
                                                                   orvane_int32 SampleCount);
ORVANE_API void OrvaneEndSampledAnimation(orvane_track_group_sampler* Sampler);
/* The track's first sample (SampleCount consecutive entries); null for an index out of range. */
ORVANE_API orvane_real32* OrvaneGetPositionSamples(orvane_track_group_sampler* Sampler,
                                                   orvane_int32 TrackIndex);
ORVANE_API orvane_real32* OrvaneGetOrientationSamples(orvane_track_group_sampler* Sampler,
                                                      orvane_int32 TrackIndex);
ORVANE_API orvane_real32* OrvaneGetScaleShearSamples(orvane_track_group_sampler* Sampler,
                                                     orvane_int32 TrackIndex);
/* Stored at the current frame; an index out of range, or a frame past SampleCount, logs an
 * error and stores nothing. */
ORVANE_API void OrvaneSetTransformSample(orvane_track_group_sampler* Sampler,
                                         orvane_int32 TrackIndex, const orvane_real32 Position[3],
                                         const orvane_real32 Orientation[4],
                                         const orvane_real32 ScaleShear[9]);
ORVANE_API void OrvanePushSampledFrame(orvane_track_group_sampler* Sampler);
/* Curve fitting                                                                            */
/* ---------------------------------------------------------------------------------------- */
/* A solver holds all the working memory of fits up to its maxima, so repeated fits allocate
 * nothing. Threads: a solver belongs to one thread at a time; distinct solvers may fit on
 * several threads at once (nothing is shared between calls). */

typedef struct orvane_bspline_solver orvane_bspline_solver;

/* SolverFlags bits of OrvaneFitBSplineToSamples and OrvaneGetSquaredErrorOverCurve. */
typedef enum orvane_bspline_solver_flags {
    /* Samples are quaternions: evaluation renormalises, the error at a sample s against the
     * curve value c is (1 - s . c)^2. */
    OrvaneFitQuaternionMode = 1,
    /* Degree + 1 knots at a sample that differs from a neighbour by more than C0Threshold. */
    OrvaneFitBreakAtJumps = 2,
    /* Degree knots at a sample whose second difference exceeds C1Threshold. */
    OrvaneFitBreakAtKinks = 4,
    /* Degree - 1 extra knots at 0.125-sample steps just after the first knot. */
    OrvaneFitDenseStartKnots = 16,
    /* The first and last controls are the first and last samples. */
    OrvaneFitPinEnds = 32
} orvane_bspline_solver_flags;

typedef struct orvane_bspline_error_result {
    orvane_int32 MaxErrorKnotIndex;   /* -1 when no sample has an error above 0 */
    orvane_int32 MaxErrorSampleIndex; /* -1 likewise */
    orvane_real32 MaxSquaredError;
    orvane_real32 TotalSquaredError;
} orvane_bspline_error_result;

/* MaxDegree 0 to 3, MaxSampleCount at least 2, MaxDimension 0 to 9 (the dimensions the
 * B-spline evaluation knows; fits of dimension 5 to 8 are refused by the fit). Null, with an
 * error logged, for other maxima or when the allocation fails. */
ORVANE_API orvane_bspline_solver* OrvaneAllocateBSplineSolver(orvane_int32 MaxDegree,
                                                              orvane_int32 MaxSampleCount,
                                                              orvane_int32 MaxDimension);
ORVANE_API void OrvaneDeallocateBSplineSolver(orvane_bspline_solver* Solver);

/* Fits a B-spline of Degree to SampleCount evenly spaced samples of Dimension reals each
 * (sample i at time i during the fit), inserting knots until every sample is within
 * ErrorThreshold (a distance in sample units, or the quaternion error above) of the curve as
 * encoded in CurveDataType (null: DaK32fC32f), so quantisation is part of the test.
 * KnotsOut and ControlsOut must hold the solver's maximum knot count
 * (OrvaneGetMaximumKnotCountForSampleCount of its maxima) times 1 and times Dimension reals;
 * they receive the encoded curve's decoded knots (multiplied by TimeStep, so they are in the
 * caller's time unit) and controls. *AchievedTolerance is false when a sample could not be
 * brought within the tolerance, the knots reached the maximum, or the encoded size exceeded
 * MaximumCurveSizeInBytes (when above 0); *CurveSizeInBytes is then -1, else the encoded data
 * size. Both may be null. Returns the knot count; 0, with an error logged, for a null solver
 * or arrays, SampleCount below 2 or above the solver's maximum, Degree or Dimension above the
 * solver's maxima, or a Dimension the evaluation cannot sample. */
ORVANE_API orvane_int32 OrvaneFitBSplineToSamples(
    orvane_bspline_solver* Solver, orvane_real32 TimeStep, orvane_int32 SampleCount,
    const orvane_real32* Samples, orvane_uint32 SolverFlags, orvane_real32 ErrorThreshold,
    orvane_real32 C0Threshold, orvane_real32 C1Threshold, orvane_int32 Dimension,
    orvane_int32 Degree, orvane_data_type_definition* CurveDataType, orvane_real32* KnotsOut,
    orvane_real32* ControlsOut, orvane_int32 MaximumCurveSizeInBytes,
    orvane_bool* AchievedTolerance, orvane_int32* CurveSizeInBytes);

/* Squared errors of Curve against SampleCount samples spread evenly over [0, Duration]
 * (sample 0 is not measured). Curve values come from the evaluation with IdentityVector
 * (renormalised in OrvaneFitQuaternionMode). Returns -1, -1, 0, 0 for a curve that matches
 * every sample, and also, with an error logged, for null arguments or a Dimension outside
 * 1 to 9. Any thread. */
ORVANE_API orvane_bspline_error_result OrvaneGetSquaredErrorOverCurve(
    orvane_uint32 SolverFlags, orvane_int32 Degree, orvane_int32 Dimension, orvane_real32 Duration,
    const orvane_curve2* Curve, orvane_int32 SampleCount, const orvane_real32* Samples,
    const orvane_real32* IdentityVector);

/* ---------------------------------------------------------------------------------------- */
/* Periodic loops                                                                           */
/* ---------------------------------------------------------------------------------------- */
/* A screw motion (orvane_periodic_loop, orvane/types.h): a rotation of dAngle radians per
 * second about Axis combined with a displacement of dZ per second along it and a circle of
 * Radius in the plane of BasisX and BasisY. Pure functions of their arguments, any thread;
 * arguments are not checked for null. */

/* All 48 bytes zero. */
ORVANE_API void OrvaneZeroPeriodicLoop(orvane_periodic_loop* Loop);
/* The loop that carries the start placement to the end placement in Seconds (rates per
 * second when Seconds > 0, else per loop). Stepping the start placement by the result over
 * Seconds gives the end placement. With no relative rotation the axis is the direction of
 * the displacement (a pure translation), or (0, 0, 1) when the placements are equal. */
ORVANE_API void OrvaneFitPeriodicLoop(const orvane_real32 StartPosition[3],
                                      const orvane_real32 StartOrientation[4],
                                      const orvane_real32 EndPosition[3],
                                      const orvane_real32 EndOrientation[4], orvane_real32 Seconds,
                                      orvane_periodic_loop* Loop);
/* The displacement after Seconds in the loop's own frame (a helix from the origin). */
ORVANE_API void OrvaneComputePeriodicLoopVector(const orvane_periodic_loop* Loop,
                                                orvane_real32 Seconds, orvane_real32 Result[3]);
/* The rotation vector (axis times angle) of the loop's rotation after Seconds. */
ORVANE_API void OrvaneComputePeriodicLoopLog(const orvane_periodic_loop* Loop,
                                             orvane_real32 Seconds, orvane_real32 Result[3]);
/* Advances a placement in place by Seconds of the loop. */
ORVANE_API void OrvaneStepPeriodicLoop(const orvane_periodic_loop* Loop, orvane_real32 Seconds,
                                       orvane_real32 Position[3], orvane_real32 Orientation[4]);

/* ---------------------------------------------------------------------------------------- */
/* Animation compression                                                                    */
/* ---------------------------------------------------------------------------------------- */
/* Turns sampled local transforms of a skeleton's bones into a track group of fitted curves
 * that keeps every bone within an object-space error budget. The error of a bone at a frame
 * is the largest distance between the three points (ShellDistance, 0, 0), (0, ShellDistance,
 * 0) and (0, 0, ShellDistance) carried to object space by the bone's transform composed with
 * its ancestors', once from the samples and once from the curves. Each bone's curves make up
 * for the rounding of its ancestors' curves, so errors do not add up along a chain.
 * Threads: a call uses only its own memory; calls on distinct data may run at once. */

/* Reports after each bone; BonesDone of BoneCount. */
typedef void (*orvane_compression_progress_callback)(orvane_int32 BonesDone, orvane_int32 BoneCount,
                                                     void* UserData);

typedef struct orvane_animation_compression_options {
    /* Largest object-space error, in the skeleton's length unit. Default 0.01. */
    orvane_real32 ErrorBudget;
    /* Distance of the three measuring points from each bone, same unit. Default 3. */
    orvane_real32 ShellDistance;
    /* Bit (1 << format) for each curve format (orvane_curve_format) the curves may use; the
     * identity and constant formats reduce still components. Default: every format but
     * DaKeyframes32f. A component that no allowed format can hold within its budget is stored
     * as DaK32fC32f with one knot per sample (exact), whatever this says. */
    orvane_uint32 AllowedFormats;
    /* Bit (1 << degree) for the degrees 1 to 3 the fits may use. Default: all three. */
    orvane_uint32 AllowedDegrees;
    orvane_compression_progress_callback Progress; /* may be null (the default) */
    void* ProgressUserData;
} orvane_animation_compression_options;

/* What a compression achieved (optional output). */
typedef struct orvane_animation_compression_statistics {
    orvane_real32 MaxError;       /* largest object-space error over all bones and frames */
    orvane_int32 MaxErrorBone;    /* the bone where it occurs */
    orvane_int32 CurveDataBytes;  /* encoded curve data of all tracks */
    orvane_int32 TrackGroupBytes; /* the whole track group block */
    orvane_int32 ExactComponents; /* components stored exactly (no fit met the budget) */
} orvane_animation_compression_statistics;

ORVANE_API void OrvaneGetDefaultAnimationCompressionOptions(
    orvane_animation_compression_options* Options);

/* Compresses SampleCount frames, TimeStep seconds apart, of the samples recorded in Samples:
 * track i holds bone i's local transforms (Skeleton->BoneCount tracks, at least SampleCount
 * frames each). The result has one transform track per bone, named by the bone (the names
 * and Name are kept by pointer and must outlive the group), curves over [0, (SampleCount - 1)
 * TimeStep]; release it with OrvaneFreeBuilderResult. Options may be null (the defaults).
 * Returns null, with an error logged, for a null or unnamed skeleton, parents that are not
 * below their bones, SampleCount below 2, a TimeStep or budget that is not positive, samples
 * that are not finite, or no memory. Statistics may be null. */
ORVANE_API orvane_track_group* OrvaneCompressAnimation(
    const orvane_skeleton* Skeleton, orvane_track_group_sampler* Samples, orvane_int32 SampleCount,
    orvane_real32 TimeStep, const char* Name, const orvane_animation_compression_options* Options,
    orvane_animation_compression_statistics* Statistics);

ORVANE_EXTERN_C_END

#endif /* ORVANE_ANIM_H */

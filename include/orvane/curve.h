/* Orvane curves: the sixteen curve data formats and the compact format, curve queries, knot
 * access and conversion to plain floats.
 *
 * A curve (orvane_curve2) refers, through a variant, to a curve data record of one of sixteen
 * base formats or of the compact format (an extension, number 16). Each data record starts with an
 * orvane_curve_data_header whose Format indexes the format table and whose Degree (0 to 3) is the
 * B-spline degree. Counted arrays are an int32 count followed by a pointer, as in every content
 * record.
 *
 * orvane_curve2, OrvaneCurve2Type and OrvaneOldCurveType are declared in orvane/types.h.
 *
 * Threads: operations on distinct curves are independent; the format table and the identity
 * vectors are read-only. Encoding and swizzling modify a curve and need exclusive access. */
#ifndef ORVANE_PUBLIC_CURVE_H
#define ORVANE_PUBLIC_CURVE_H

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

/* 16: the compact format, "DaCompact". Knots lie on a uniform grid (knot i at time
 * i * KnotInterval, none stored); the knots are cut into segments of SegmentLength knots, and
 * each segment stores its values in its own sub-range of the curve's range, each component at
 * its own bit depth (0 to 24 bits).
 *
 * Packing 0 stores all Dimension components. Packing 1 is a unit quaternion (Dimension 4):
 * each segment drops one component (the same for all its knots) and stores the other three
 * in the order (i + 1) mod 4, (i + 2) mod 4, (i + 3) mod 4 after the dropped index i; the
 * dropped one is the square root of one minus the sum of their squares (0 when that is
 * negative), negated when the segment says so. Packing 2 is Packing 1 with the curve's range
 * implied, none stored: every component's low is -1 and its extent 2.
 *
 * Bytes holds, one after the other (s stored components, S segments; Layouts 4 and 5 put the
 * values ahead of the segment headers, see below):
 * - the curve's range: Dimension lows, then Dimension extents, as little-endian real32 (none
 *   for Packing 2; for Packing 1 in Layouts 2 to 5 in 16384ths, the lows as little-endian int16
 *   and the extents as little-endian uint16);
 * - for every eighth segment after the first (8, 16, ...) the position, in bits from the first
 *   value, of its first value, as little-endian uint32 (segment 0 starts at 0; the seven
 *   segments after one with a start follow one another);
 * - the segment headers, per segment, as Layout says:
 *   - Layout 2: a bit stream (bit n of it is bit n mod 8 of its byte n / 8) of h = 21s bits per
 *     segment, plus 3 for Packings 1 and 2, rounded up to whole bytes at its end; segment i's
 *     header starts at bit i * h. For Packings 1 and 2 it starts with the dropped index (2
 *     bits) and its sign (1 bit, 1: negative); then the bit depth b of every stored component
 *     (5 bits each), then every stored component's low L and extent E in 255ths of that
 *     component's range (8 bits each, L first), all in storing order, each field least
 *     significant bit first;
 *   - Layout 3: as Layout 2 with h = 29s bits per segment (plus 3 for Packings 1 and 2), every
 *     stored component's line start A, line end B and band width W (8 bits each, in that order,
 *     in 255ths of its range) in place of its L and E;
 *   - Layout 1: per segment 1 + 3s bytes: a flags byte, for Packings 1 and 2 the dropped index in
 *     bits 5-6 and its sign (1: negative) in bit 7, its other bits 0 (all of it 0 for Packing 0);
 *     then per stored component, in storing order, L, E and b, a byte each;
 * - the values: per segment, per knot, per stored component in storing order, b bits, least
 *   significant bit first (bit n of the stream is bit n mod 8 of its byte n / 8); at least 4
 *   spare bytes end it.
 * Layout 4 (what the library writes unless Layout 5 is smaller) holds Layout 2's parts, and
 * Layout 5 (where it is smaller) Layout 3's, with the segment headers last: the range, the
 * segment starts, the values, then the headers, which end Bytes (they start at ByteCount less
 * their size in whole bytes) and stand in for the spare bytes; a segment's header takes at least
 * 3 bytes, what a reader of a value's four bytes may need past it. Layouts 2 and 3 are what
 * earlier writers wrote.
 * All of it is bytes, so that a file of either byte order loads it unchanged.
 *
 * A stored number q of a component of range (low m, extent e) decodes as
 *   m + e * (L / 255) + e * (E / 255) * (q / (2^b - 1))      (b = 0: m + e * (L / 255)).
 * In Layouts 3 and 5 the number of the segment's knot k (0 for its first) lies in a band of width
 * w = e * (W / 255) centred on the line from a = m + e * (A / 255) at knot 0 to
 * m + e * (B / 255) at knot SegmentLength - 1, and decodes as
 *   a + (e * ((B - A) / 255) / (SegmentLength - 1)) * k - w / 2 + w * (q / (2^b - 1))
 * (b = 0: the line, a + (e * ((B - A) / 255) / (SegmentLength - 1)) * k; the rise is 0 for a
 * SegmentLength of 1).
 *
 * Loading checks the record and refuses the curve (its Format stays 255) unless: Layout is 1 to
 * 5 (records of the earliest layout of Bytes, Layout 0, which stored segment 0's start, are
 * refused rather than misread), Dimension is 1 to 16 (4 for Packings 1 and 2), Packing is 0, 1
 * or 2, KnotCount at least 1, KnotInterval finite and positive (any finite value for a single
 * knot) with (KnotCount - 1) * KnotInterval finite, SegmentLength at least 1, every range value
 * finite (and low + extent finite; in Layouts 3 and 5 |low| + 4 |extent| within the largest
 * real32, which every decoded number then is), every bit depth at most 24, in Layout 1 the flags
 * bytes' unused bits zero (all of them for Packing 0), and every segment's values inside
 * ByteCount, ahead of the spare bytes (Layouts 1 to 3) or of the headers (Layouts 4 and 5). */
typedef struct orvane_curve_data_da_compact {
    orvane_curve_data_header CurveDataHeader;
    orvane_int16 Dimension;     /* decoded values per knot */
    orvane_real32 KnotInterval; /* seconds between knots */
    orvane_int32 KnotCount;
    /* 0: components as stored; 1: unit quaternion, three stored; 2: the same in the unit
     * range (no range stored) */
    orvane_uint8 Packing;
    orvane_uint8 SegmentLength; /* knots per segment (the last may hold fewer) */
    orvane_int16 Layout;        /* the layout of Bytes described here: 1 to 5 */
    orvane_int32 ByteCount;
    orvane_uint8* Bytes;
} orvane_curve_data_da_compact;

/* 17: a constant position in 8 bytes, "D3Constant14s". Words[c] holds component c: its low
 * 14 bits are the mantissa m plus 8192 (m from -8192 to 8191), its top 2 bits two bits of the
 * shared exponent E (0 to 63): bits 0-1 of E in Words[0], bits 2-3 in Words[1], bits 4-5 in
 * Words[2]. Component c is m * 2^(E - 45), so every record holds finite values (at most
 * 2^31 in magnitude) and loading checks nothing beyond the description. E is the smallest that
 * holds the largest component, whose mantissa then keeps at least 12 bits: every component's
 * error is at most 1 / 8191 of the largest component's magnitude. */
typedef struct orvane_curve_data_d3_constant14s {
    orvane_curve_data_header CurveDataHeader;
    orvane_uint16 Words[3];
} orvane_curve_data_d3_constant14s;

/* 18: a constant unit quaternion in 8 bytes, "D4nConstant15u". The three words of one knot of
 * D4nK16uC15u whose components all take table entry 0 (scale 1.4142135, offset -0.70710677):
 * the largest component is dropped, the other three are stored in the order (i + 1) mod 4,
 * (i + 2) mod 4, (i + 3) mod 4 after the dropped index i, each as (q / 32767) * 1.4142135 -
 * 0.70710677 from its low 15 bits q; the top bits of Words[1] and Words[2] are bits 1 and 0 of
 * i, that of Words[0] the dropped component's sign (1: negative), which is the square root of
 * one minus the sum of the others' squares (0 when that is negative). Every record decodes to
 * finite values; the error of each stored component is at most 2.2e-5. */
typedef struct orvane_curve_data_d4n_constant15u {
    orvane_curve_data_header CurveDataHeader;
    orvane_uint16 Words[3];
} orvane_curve_data_d4n_constant15u;

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
    /* The sixteen base formats: every reader of content files knows them. */
    OrvaneCurveFormatCount = 16,
    /* An extension: files that use it name it in their type descriptions, and a reader that
     * does not know it refuses such a curve as it refuses any unknown format. */
    OrvaneCurveFormatDaCompact = 16,
    /* Extensions of the same kind: constants in 8 bytes, a position (three 14-bit mantissas
     * and a shared exponent) and a unit quaternion (three 15-bit components). */
    OrvaneCurveFormatD3Constant14s = 17,
    OrvaneCurveFormatD4nConstant15u = 18,
    OrvaneCurveFormatTableSize = 19
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
/* The compact format's record ("DaCompact"). Built through the curve builder, it stores 16 bits
 * a component in segments of 16 knots, and takes the knots as evenly spaced from 0 to the last
 * knot given (the compressor chooses its bit depths itself). */
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataDaCompactType;
/* The 8-byte constants' records ("D3Constant14s", "D4nConstant15u"). Built through the curve
 * builder from one control, stored as the nearest value the record holds (a position component
 * beyond 8191 * 2^18 in magnitude as that limit, one that is not a number as 0). */
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataD3Constant14sType;
ORVANE_API extern orvane_data_type_definition* const OrvaneCurveDataD4nConstant15uType;

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
 * the curve, except in constant and identity curves, which give their value for every knot
 * asked for (an identity writes a knot value of 0 only when exactly one knot is asked for). */
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
/* Afterwards value component j = Scales[j] * (old component Swizzles[j]) + Offsets[j].
 * Quaternion (D4n) curves take only the signs of Scales and may pass null Offsets; uniform
 * 3x3 (D9I1) curves take Scales[0] and Offsets[0] only and may pass null Swizzles. */
ORVANE_API void OrvaneCurveScaleOffsetSwizzle(orvane_curve2* Curve, orvane_int32 Dimension,
                                              const orvane_real32* Scales,
                                              const orvane_real32* Offsets,
                                              const orvane_int32* Swizzles);

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

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_CURVE_H */

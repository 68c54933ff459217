/* Orvane curve builder (offline): curves of any of the sixteen formats from knots and controls.
 *
 * Threads: a builder belongs to one thread at a time; distinct builders may run at once. */
#ifndef ORVANE_PUBLIC_CURVE_BUILDER_H
#define ORVANE_PUBLIC_CURVE_BUILDER_H

#include "orvane/common.h"
#include "orvane/types.h"
#include "orvane/curve.h"

ORVANE_EXTERN_C_BEGIN

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
 * 1 for constants, frames for keyframes). An unknown type logs "%s(%d): Invalid format
 * specified for a orvane_curve2 - creating this curve will fail" and still gives a builder:
 * its sizes are 0 and its End logs the invalid format, frees it and returns null. Fails at
 * once with null: a degree, dimension or knot count out of range (or too large to lay out)
 * logs "%s(%d): Degree %d, Dimension %d and KnotCount %d do not make a curve"; null when
 * memory runs out. */
ORVANE_API orvane_curve_builder* OrvaneBeginCurve(orvane_data_type_definition* CurveDataType,
                                                  orvane_int32 Degree, orvane_int32 Dimension,
                                                  orvane_int32 KnotCount);
/* A builder that copies Source in its own format (its stored values, unchanged); null with an
 * error for a rejected Source (a Source whose type is no format fails as OrvaneBeginCurve does).
 * Pushing an array afterwards builds from the arrays instead. */
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

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_CURVE_BUILDER_H */

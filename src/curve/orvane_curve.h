// Curve formats: the per-format operation table and the curve builder's record, for the
// modules that build curves in their own storage (track group builder, curve fitting) and
// for B-spline evaluation.
#ifndef ORVANE_CURVE_H
#define ORVANE_CURVE_H

#include "core/orvane_private.h"
#include "orvane/curve_builder.h"

#include <cstdint>

// The builder. Builders made by OrvaneBeginCurve/OrvaneBeginCurveCopy are owned and freed by
// the End and Abort calls; builders initialised in a caller's storage are left alone.
struct orvane_curve_builder {
    bool Owned;
    orvane_data_type_definition* Type;
    int32_t FormatIndex;  // -1 when the type is not one of the table's formats
    int32_t Degree;
    int32_t Dimension;
    int32_t KnotCount;
    const float* Knots;
    const float* Controls;
    const orvane_curve2* Source;
};

namespace orvane {

// One row of the format table. The operations take the data record; the caller has checked
// the format, and passes knot ranges inside the curve (constant and identity curves accept
// one knot at index 0).
struct CurveFormat {
    orvane_data_type_definition* type;
    const char* name;
    int32_t (*getDimension)(const void* data);  // before the "no knots means 0" rule
    int32_t (*getKnotCount)(const void* data);
    int32_t (*findKnot)(const void* data, float t);
    int32_t (*findCloseKnot)(const void* data, float t, int32_t hint);
    void (*extractKnotValues)(const void* data, int32_t first, int32_t count, float* knots,
                              float* controls, const float* identity);
    void (*setAllKnotValues)(void* data, int32_t knotCount, int32_t dimension, const float* knots,
                             const float* controls);
    // Adds the data record and its arrays to the current aggregate; *data receives the
    // record's offset (then address).
    void (*layout)(const orvane_curve_builder* builder, void** data);
    void (*copy)(void* destination, const void* source);
    void (*scaleOffsetSwizzle)(void* data, int32_t dimension, const float* scales,
                               const float* offsets, const int32_t* swizzles);
};

extern const CurveFormat kCurveFormats[OrvaneCurveFormatTableSize];

// The constant formats: one value, whatever the time.
inline bool IsConstantFormat(int32_t format) {
    return (format >= OrvaneCurveFormatDaConstant32f && format <= OrvaneCurveFormatD4Constant32f) ||
           format == OrvaneCurveFormatD3Constant14s || format == OrvaneCurveFormatD4nConstant15u;
}

// The format row of a curve, or null (with an error logged) when the curve has no data or
// its Format is outside the table.
const CurveFormat* CurveFormatOf(const orvane_curve2* curve);

// Fills a builder that lives in the caller's storage (not owned). Returns false, with an
// error logged, for arguments no curve can have.
bool InitializeCurveBuilder(orvane_curve_builder* builder, orvane_data_type_definition* type,
                            int32_t degree, int32_t dimension, int32_t knotCount);

// Native dimension of the data (a DaIdentity curve's Dimension field included); 0 for a
// curve the table rejects.
int32_t CurveStoredDimension(const orvane_curve2* curve);

}  // namespace orvane

#endif  // ORVANE_CURVE_H

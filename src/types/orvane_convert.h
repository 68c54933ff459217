// Conversion of native objects and object trees between two descriptions of their types, and the
// relocation of every pointer of a tree.
//
// Everything here works on native descriptions (orvane_data_type_definition records) and objects
// in the native layout. File loading builds a native tree of a content file first and then calls
// the exported OrvaneConvertTree when the file was written against another layout of the content
// types.
//
// Members are matched by name; numbers convert between every numeric kind and to and from text;
// sub-objects whose types did not change (and that hold no curves) are shared with the source,
// so a converted tree may point into its source, which must outlive it. Curves in the old layout
// (degree, knots, controls) become DaK32fC32f curves whose arrays stay in the source or in the
// converted block.
//
// Converted trees are laid out root first, depth first; every reservation starts on a
// pointer-size boundary (relative to the block's start) so that pointer arrays inside the block
// are naturally aligned on 64-bit hosts. The sizing pass makes exactly the reservations the
// writing pass makes, text made from numbers included.
#ifndef ORVANE_CONVERT_H
#define ORVANE_CONVERT_H

#include "core/orvane_private.h"
#include "orvane/types.h"
#include "orvane/convert.h"

#include <cstdint>
#include <cstring>

#include "core/orvane_array.h"
#include "core/orvane_memory.h"

namespace orvane {

// Deepest chain of references one conversion follows; a deeper (or hostile, cyclic through
// arrays of unbounded length) tree fails the conversion with an error instead of exhausting the
// stack.
constexpr int32_t kMaxConversionDepth = 1024;

// Bytes the converted tree needs; false (with an error) when the tree cannot be converted: too
// deep, or larger than INT32_MAX bytes, or out of memory for the bookkeeping.
bool GetConvertedTreeSize(const orvane_data_type_definition* sourceType, const void* sourceRoot,
                          const orvane_data_type_definition* destinationType, int32_t* size);

// OrvaneConvertTree with the converted tree limited to limitBytes (at most INT32_MAX): a larger
// tree fails with an error and gives null. The block is released with ORVANE_DEALLOCATE (the
// root is its start).
void* ConvertTreeWithinLimit(const orvane_data_type_definition* sourceType, const void* sourceRoot,
                             const orvane_data_type_definition* destinationType,
                             int64_t limitBytes);

// Member-name equality as conversion uses it: ASCII case-insensitive (the application's string
// comparison callback, when installed, also counts).
bool ConversionNamesMatch(const char* a, const char* b);

}  // namespace orvane

#endif  // ORVANE_CONVERT_H

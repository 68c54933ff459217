/* Orvane type conversion: objects converted between two descriptions of their types. */
#ifndef ORVANE_PUBLIC_CONVERT_H
#define ORVANE_PUBLIC_CONVERT_H

#include "orvane/common.h"
#include "orvane/types.h"

ORVANE_EXTERN_C_BEGIN

/* ---- Type conversion ---- */

/* Conversion of native objects between two descriptions of their types. Members are matched
 * by name (ASCII case-insensitively; names the application's string comparison callback
 * declares equal also match); members the source lacks are left empty, members the
 * destination lacks are dropped; numbers convert between every numeric kind and to and from
 * text. Sub-objects whose types did not change are shared with the source, so a converted
 * tree may point into its source, which must outlive it. Curves in the old layout (Degree,
 * Knots, Controls) become DaK32fC32f curves. A conversion writes the format byte of curve data
 * it reaches (shared data included), and descriptions passed to it must not be compared
 * elsewhere at the same time. */

/* The first member of SourceType named DestinationMemberName: Type is that member record and
 * Object the address of its data in SourceObject (with a null SourceObject: the member's
 * offset in the object, as an address); both null when there is none. */
ORVANE_API orvane_variant OrvaneFindMatchingMember(const orvane_data_type_definition* SourceType,
                                                   const void* SourceObject,
                                                   const char* DestinationMemberName);
/* Member-wise conversion of one object; references are copied when the kinds agree, never
 * followed. Convert empties every destination member first; Merge leaves members the source
 * lacks as they were. A number converted to a string member gives a null string here (there
 * is no text storage). A null DestinationObject does nothing. The result is unspecified. */
ORVANE_API orvane_int32 OrvaneConvertSingleObject(
    const orvane_data_type_definition* SourceType, const void* SourceObject,
    const orvane_data_type_definition* DestinationType, void* DestinationObject);
ORVANE_API orvane_int32 OrvaneMergeSingleObject(const orvane_data_type_definition* SourceType,
                                                const void* SourceObject,
                                                const orvane_data_type_definition* DestinationType,
                                                void* DestinationObject);
/* Bytes the converted tree occupies (objects, converted arrays and text made from numbers);
 * 0 for a null root or a tree that cannot be converted (logged). */
ORVANE_API orvane_int32
OrvaneGetConvertedTreeSize(const orvane_data_type_definition* SourceType, const void* SourceRoot,
                           const orvane_data_type_definition* DestinationType);
/* Converts the tree into Memory (at least OrvaneGetConvertedTreeSize bytes; pointer alignment
 * keeps its pointer arrays aligned) and returns the root, which is Memory; null for a null root
 * or a failure. Shared objects stay shared and cycles terminate. */
ORVANE_API void* OrvaneConvertTreeInPlace(const orvane_data_type_definition* SourceType,
                                          const void* SourceRoot,
                                          const orvane_data_type_definition* DestinationType,
                                          void* Memory);
/* As above into one newly allocated block (released with OrvaneFreeBuilderResult); null for a
 * null root or a failure. */
ORVANE_API void* OrvaneConvertTree(const orvane_data_type_definition* SourceType,
                                   const void* SourceRoot,
                                   const orvane_data_type_definition* DestinationType);

/* Receives a string member's stored value and returns what the member is to hold. */
typedef char* (*orvane_rebase_string_callback)(void* UserData, uintptr_t StoredValue);
/* Adds Offset to every non-null pointer of the tree under Object (not to Object itself), each
 * object once; descriptions reached through variants are rebased with their names. Strings
 * move too when RebaseStrings is set; with the callback form every string member (null ones
 * included) is replaced by the callback's result. False (nothing changed) when out of memory. */
ORVANE_API orvane_bool OrvaneRebasePointers(const orvane_data_type_definition* Type, void* Object,
                                            intptr_t Offset, orvane_bool RebaseStrings);
ORVANE_API orvane_bool OrvaneRebasePointersStringCallback(const orvane_data_type_definition* Type,
                                                          void* Object, intptr_t Offset,
                                                          orvane_rebase_string_callback Callback,
                                                          void* UserData);

/* ---- end of type conversion ---- */

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_CONVERT_H */

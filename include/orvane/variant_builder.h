/* Orvane variant builder (offline): a type description and one object of it, member by member. */
#ifndef ORVANE_PUBLIC_VARIANT_BUILDER_H
#define ORVANE_PUBLIC_VARIANT_BUILDER_H

#include "orvane/common.h"
#include "orvane/core.h"
#include "orvane/types.h"

ORVANE_EXTERN_C_BEGIN

/* ---------------------------------------------------------------------------------------- */
/* Variant builder                                                                          */
/* ---------------------------------------------------------------------------------------- */

/* Assembles, member by member, a type description and one object of it (for example extended
 * data). Names and string values are interned in the string table given at the start, which
 * must outlive the result. Each add returns the builder, or null when the member could not be
 * added (no memory, a negative width or count); the builder is then unchanged and still
 * usable. Ending always releases the builder. */
typedef struct orvane_variant_builder orvane_variant_builder;

/* An empty builder; null when StringTable is null ("%s(%d): StringTable is not allowed to be
 * 0", origin OrvaneMemberIteratorOrigin) or memory runs out. One thread at a time per builder
 * (and per string table). */
ORVANE_API orvane_variant_builder* OrvaneBeginVariant(orvane_string_table* StringTable);
/* The adds append one member named Name (interned; null gives a member without a name) with
 * its value copied now. A null Builder logs "%s(%d): Builder is not allowed to be 0" and
 * returns null. */
/* A Real32Member holding Value. */
ORVANE_API orvane_variant_builder* OrvaneAddScalarMember(orvane_variant_builder* Builder,
                                                         const char* Name, orvane_real32 Value);
/* An Int32Member holding Value. */
ORVANE_API orvane_variant_builder* OrvaneAddIntegerMember(orvane_variant_builder* Builder,
                                                          const char* Name, orvane_int32 Value);
/* Width reals copied from Values; a width of 0 adds one real of value 0. A negative Width
 * ("%s(%d): Width %d is out of range [0, %d)") or null Values with a positive Width is refused
 * (null). */
ORVANE_API orvane_variant_builder* OrvaneAddScalarArrayMember(orvane_variant_builder* Builder,
                                                              const char* Name, orvane_int32 Width,
                                                              const orvane_real32* Values);
/* A StringMember holding the table's copy of Value (null stays null). */
ORVANE_API orvane_variant_builder* OrvaneAddStringMember(orvane_variant_builder* Builder,
                                                         const char* Name, const char* Value);
/* A ReferenceMember to Value, an object of the description Type; neither is copied and both
 * must outlive the result. */
ORVANE_API orvane_variant_builder* OrvaneAddReferenceMember(orvane_variant_builder* Builder,
                                                            const char* Name,
                                                            orvane_data_type_definition* Type,
                                                            void* Value);
/* A ReferenceToArrayMember of Count objects of Type at ArrayEntries (not copied; they must
 * outlive the result). A negative Count ("%s(%d): Count %d is out of range [0, %d)") is
 * refused (null). */
ORVANE_API orvane_variant_builder* OrvaneAddDynamicArrayMember(orvane_variant_builder* Builder,
                                                               const char* Name, orvane_int32 Count,
                                                               orvane_data_type_definition* Type,
                                                               void* ArrayEntries);
/* sizeof(orvane_data_type_definition) x (members + 1). */
ORVANE_API orvane_int32 OrvaneGetResultingVariantTypeSize(const orvane_variant_builder* Builder);
/* The object size, or 4 when it is 0. */
ORVANE_API orvane_int32 OrvaneGetResultingVariantObjectSize(const orvane_variant_builder* Builder);
/* Builds into caller memory of the two sizes above; false (outputs null) when either memory
 * is null. */
ORVANE_API orvane_bool OrvaneEndVariantInPlace(orvane_variant_builder* Builder, void* TypeMemory,
                                               orvane_data_type_definition** ResultType,
                                               void* ObjectMemory, void** ResultObject);
/* Builds into one block, released with OrvaneFreeBuilderResult(*ResultType). A null ResultType
 * ("%s(%d): ResultType is not allowed to be 0") releases the builder and returns false. */
ORVANE_API orvane_bool OrvaneEndVariant(orvane_variant_builder* Builder,
                                        orvane_data_type_definition** ResultType,
                                        void** ResultObject);

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_VARIANT_BUILDER_H */

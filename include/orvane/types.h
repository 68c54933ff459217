/* Orvane data type system: type descriptions, conversion, the content schema, variants. */
#ifndef ORVANE_TYPES_H
#define ORVANE_TYPES_H

#include "orvane/common.h"
#include "orvane/math.h"

ORVANE_EXTERN_C_BEGIN

/* Content records are declared with 4-byte packing so that members follow one another
 * directly, exactly as their type descriptions lay them out: a description's member offsets
 * must equal the struct's field offsets on every host, including 64-bit hosts where natural
 * alignment would pad before each pointer. */
#pragma pack(push, 4)

/* The kinds of members; the numeric values are stored in content files. */
typedef enum orvane_member_type {
    OrvaneEndMember = 0,
    OrvaneInlineMember = 1,
    OrvaneReferenceMember = 2,
    OrvaneReferenceToArrayMember = 3,
    OrvaneArrayOfReferencesMember = 4,
    OrvaneVariantReferenceMember = 5,
    OrvaneSwitchableTypeMember = 6,
    OrvaneReferenceToVariantArrayMember = 7,
    OrvaneStringMember = 8,
    OrvaneTransformMember = 9,
    OrvaneReal32Member = 10,
    OrvaneInt8Member = 11,
    OrvaneUInt8Member = 12,
    OrvaneBinormalInt8Member = 13,
    OrvaneNormalUInt8Member = 14,
    OrvaneInt16Member = 15,
    OrvaneUInt16Member = 16,
    OrvaneBinormalInt16Member = 17,
    OrvaneNormalUInt16Member = 18,
    OrvaneInt32Member = 19,
    OrvaneUInt32Member = 20,
    OrvaneOnePastLastMemberType = 21
} orvane_member_type;

/* One member record of a type description; a description is an array of them ending with an
 * OrvaneEndMember record. In memory the pointers are native; in content files the record is
 * 32 bytes with 4-byte pointer slots. */
typedef struct orvane_data_type_definition {
    orvane_int32 Type; /* an orvane_member_type */
    const char* Name;
    struct orvane_data_type_definition* ReferenceType;
    orvane_int32 ArrayWidth; /* 0 and 1 both mean one value */
    orvane_int32 Extra[3];   /* reserved, zero */
    uintptr_t TraversalMark; /* zero at rest */
} orvane_data_type_definition;

/* A typed object reference: the layout of a variant member. */
typedef struct orvane_variant {
    orvane_data_type_definition* Type;
    void* Object;
} orvane_variant;

#pragma pack(pop)

ORVANE_EXTERN_C_END

#endif /* ORVANE_TYPES_H */

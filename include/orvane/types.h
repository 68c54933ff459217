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

/* An entry of OrvaneDefinedTypes: a catalogue of the standard content descriptions. */
typedef struct orvane_defined_type_entry {
    orvane_uint32 Tag; /* 0x10001 upwards */
    const char* Name;  /* lower-case name, "mesh" */
    orvane_data_type_definition* Type;
} orvane_defined_type_entry;

#pragma pack(pop)

/* ---------------------------------------------------------------------------------------- */
/* Type descriptions                                                                        */
/* ---------------------------------------------------------------------------------------- */

/* Two layouts. Objects in memory use the native layout, which every query below answers for:
 * with P = sizeof(void*), a ReferenceMember or StringMember takes P bytes, a
 * ReferenceToArrayMember, ArrayOfReferencesMember or SwitchableTypeMember 4 + P (count or
 * index, then pointer), a VariantReferenceMember 2P (type, then object) and a
 * ReferenceToVariantArrayMember 2P + 4 (type, count, pointer); a description record is
 * sizeof(orvane_data_type_definition) bytes. Content files keep the 32-bit layout (4-byte
 * pointer slots, 32-byte records); the file code converts between the two. The marshalling
 * flags describe the file bytes.
 *
 * Descriptions are never written to by the library: comparisons keep their bookkeeping on the
 * caller's stack, so any thread may query or compare any description at any time, and
 * TraversalMark stays zero. */

/* How a member's file bytes are swapped for the other byte order (a bit set). */
typedef enum orvane_marshalling {
    OrvaneNoMarshalling = 0,      /* pointers, strings, variants */
    OrvaneByteMarshalling = 1,    /* single bytes */
    OrvaneSwap16Marshalling = 2,  /* 16-bit units */
    OrvaneSwap32Marshalling = 4   /* 32-bit units */
} orvane_marshalling;

/* Returns 0 when two member names count as equal (the convention of OrvaneStringDifference). */
typedef orvane_int32 (*orvane_member_name_comparison)(const char* A, const char* B);

/* Unit size of the member's kind, ignoring the array width. */
ORVANE_API orvane_int32 OrvaneGetMemberUnitSize(const orvane_data_type_definition* Member);
/* Bytes the member occupies: an InlineMember the object size of its type (its width is
 * ignored), any other member unit size x OrvaneGetMemberArrayWidth. */
ORVANE_API orvane_int32 OrvaneGetMemberTypeSize(const orvane_data_type_definition* Member);
/* Sum of the member sizes; 0 for a null type. */
ORVANE_API orvane_int32 OrvaneGetTotalObjectSize(const orvane_data_type_definition* Type);
/* Bytes of the description itself, terminator included:
 * sizeof(orvane_data_type_definition) x (members + 1); 0 for a null type. */
ORVANE_API orvane_int32 OrvaneGetTotalTypeSize(const orvane_data_type_definition* Type);
/* "Real32Member", and the declared type name "orvane_real32"; null outside 0..20. */
ORVANE_API const char* OrvaneGetMemberTypeName(orvane_int32 Type);
ORVANE_API const char* OrvaneGetMemberCTypeName(orvane_int32 Type);
ORVANE_API orvane_bool OrvaneMemberHasPointers(const orvane_data_type_definition* Member);
ORVANE_API orvane_bool OrvaneTypeHasPointers(const orvane_data_type_definition* Type);
/* orvane_marshalling flags of a member (an InlineMember: of its type) and of a whole object. */
ORVANE_API orvane_uint32 OrvaneGetMemberMarshalling(const orvane_data_type_definition* Member);
ORVANE_API orvane_uint32 OrvaneGetObjectMarshalling(const orvane_data_type_definition* Type);
/* True when more than one flag is set. */
ORVANE_API orvane_bool OrvaneIsMixedMarshalling(orvane_uint32 Marshalling);
/* Write the empty value (identity transforms, zeros elsewhere) and return the bytes written. */
ORVANE_API orvane_int32 OrvaneMakeEmptyDataTypeMember(const orvane_data_type_definition* Member,
                                                      void* MemberStorage);
ORVANE_API orvane_int32 OrvaneMakeEmptyDataTypeObject(const orvane_data_type_definition* Type,
                                                      void* Object);
/* ArrayWidth, or 1 when it is 0. */
ORVANE_API orvane_int32 OrvaneGetMemberArrayWidth(const orvane_data_type_definition* Member);
/* The null-terminated type table of a SwitchableTypeMember; null for other kinds. */
ORVANE_API orvane_data_type_definition** OrvaneGetTypeTableFor(
    const orvane_data_type_definition* Member);
ORVANE_API orvane_int32 OrvaneGetTypeTableCount(orvane_data_type_definition* const* TypeTable);

/* Structural equality: equal kinds and raw array widths (0 and 1 differ), referenced
 * descriptions equal in turn; self-referencing descriptions are handled. Names are compared
 * with the callback (WithNameCallback; null compares none), exactly (WithNames) or not at all. */
ORVANE_API orvane_bool OrvaneDataTypesAreEqualWithNameCallback(
    const orvane_data_type_definition* A, const orvane_data_type_definition* B,
    orvane_member_name_comparison NameCallback);
ORVANE_API orvane_bool OrvaneDataTypesAreEqualWithNames(const orvane_data_type_definition* A,
                                                        const orvane_data_type_definition* B);
ORVANE_API orvane_bool OrvaneDataTypesAreEqual(const orvane_data_type_definition* A,
                                               const orvane_data_type_definition* B);
/* The member of Type that follows a matched prefix (names not compared), or null. */
ORVANE_API orvane_data_type_definition* OrvaneDataTypeBeginsWith(
    const orvane_data_type_definition* Type, const orvane_data_type_definition* Prefix);
/* Byte-reverses Count native objects of Type at Data, member by member. */
ORVANE_API void OrvaneReverseTypeArray(const orvane_data_type_definition* Type, orvane_int32 Count,
                                       void* Data);

/* Plain element types. */
ORVANE_API extern orvane_data_type_definition* const OrvaneEmptyType;
ORVANE_API extern orvane_data_type_definition* const OrvaneStringType;
ORVANE_API extern orvane_data_type_definition* const OrvaneInt16Type;
ORVANE_API extern orvane_data_type_definition* const OrvaneInt32Type;
ORVANE_API extern orvane_data_type_definition* const OrvaneUInt8Type;
ORVANE_API extern orvane_data_type_definition* const OrvaneUInt16Type;
ORVANE_API extern orvane_data_type_definition* const OrvaneUInt32Type;
ORVANE_API extern orvane_data_type_definition* const OrvaneReal32Type;
ORVANE_API extern orvane_data_type_definition* const OrvaneTripleType;
ORVANE_API extern orvane_data_type_definition* const OrvaneQuadType;
ORVANE_API extern orvane_data_type_definition* const OrvaneTransformType;

ORVANE_EXTERN_C_END

#endif /* ORVANE_TYPES_H */

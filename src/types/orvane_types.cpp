// The exported queries, comparisons, fills and reversal over native type descriptions, and the
// plain element types.
#include "core/orvane_log.h"
#include "types/orvane_type_layout.h"

namespace orvane {
namespace {

constexpr orvane_data_type_definition Member(orvane_member_type kind, const char* name,
                                             orvane_data_type_definition* type = nullptr,
                                             orvane_int32 width = 0) {
    return {kind, name, type, width, {0, 0, 0}, 0};
}
constexpr orvane_data_type_definition End() {
    return Member(OrvaneEndMember, nullptr);
}

// Plain element types, for arrays of plain values (a ReferenceToArrayMember of
// OrvaneInt32Type is an array of 32-bit integers). Not const: records refer to one another
// through non-const ReferenceType pointers.
orvane_data_type_definition g_emptyType[] = {End()};
orvane_data_type_definition g_stringType[] = {Member(OrvaneStringMember, "String"), End()};
orvane_data_type_definition g_int16Type[] = {Member(OrvaneInt16Member, "Int16"), End()};
orvane_data_type_definition g_int32Type[] = {Member(OrvaneInt32Member, "Int32"), End()};
orvane_data_type_definition g_uint8Type[] = {Member(OrvaneUInt8Member, "UInt8"), End()};
orvane_data_type_definition g_uint16Type[] = {Member(OrvaneUInt16Member, "UInt16"), End()};
orvane_data_type_definition g_uint32Type[] = {Member(OrvaneUInt32Member, "UInt32"), End()};
orvane_data_type_definition g_real32Type[] = {Member(OrvaneReal32Member, "Real32"), End()};
orvane_data_type_definition g_tripleType[] = {Member(OrvaneReal32Member, "Real32", nullptr, 3),
                                              End()};
orvane_data_type_definition g_quadType[] = {Member(OrvaneReal32Member, "Real32", nullptr, 4),
                                            End()};
orvane_data_type_definition g_transformType[] = {Member(OrvaneTransformMember, "Transform"), End()};

constexpr TypeRecords kNative = TypeRecords::Native();

void WarnSwitchableComparison() {
    LogMessage(OrvaneWarningMessage, OrvaneNotImplementedOrigin, "%s",
               "SwitchableTypeMember comparison not yet implemented");
}

}  // namespace
}  // namespace orvane

using namespace orvane;

extern "C" {

orvane_data_type_definition* const OrvaneEmptyType = g_emptyType;
orvane_data_type_definition* const OrvaneStringType = g_stringType;
orvane_data_type_definition* const OrvaneInt16Type = g_int16Type;
orvane_data_type_definition* const OrvaneInt32Type = g_int32Type;
orvane_data_type_definition* const OrvaneUInt8Type = g_uint8Type;
orvane_data_type_definition* const OrvaneUInt16Type = g_uint16Type;
orvane_data_type_definition* const OrvaneUInt32Type = g_uint32Type;
orvane_data_type_definition* const OrvaneReal32Type = g_real32Type;
orvane_data_type_definition* const OrvaneTripleType = g_tripleType;
orvane_data_type_definition* const OrvaneQuadType = g_quadType;
orvane_data_type_definition* const OrvaneTransformType = g_transformType;

ORVANE_API orvane_int32 OrvaneGetMemberUnitSize(const orvane_data_type_definition* Member) {
    return Member ? MemberUnitSize(Member->Type, DataLayout::Native) : 0;
}

ORVANE_API orvane_int32 OrvaneGetMemberTypeSize(const orvane_data_type_definition* Member) {
    return NativeMemberSize(Member);
}

ORVANE_API orvane_int32 OrvaneGetTotalObjectSize(const orvane_data_type_definition* Type) {
    return NativeObjectSize(Type);
}

ORVANE_API orvane_int32 OrvaneGetTotalTypeSize(const orvane_data_type_definition* Type) {
    int32_t count = 0;
    if (!GetTypeRecordCount(kNative, Type, &count)) return 0;
    return count * kNative.RecordSize();
}

ORVANE_API const char* OrvaneGetMemberTypeName(orvane_int32 Type) {
    const MemberKindInfo* info = GetMemberKindInfo(Type);
    return info ? info->name : nullptr;
}

ORVANE_API const char* OrvaneGetMemberCTypeName(orvane_int32 Type) {
    const MemberKindInfo* info = GetMemberKindInfo(Type);
    return info ? info->declaredTypeName : nullptr;
}

ORVANE_API orvane_bool OrvaneMemberHasPointers(const orvane_data_type_definition* Member) {
    bool result = false;
    return Member && MemberHasPointers(kNative, Member, &result) && result;
}

ORVANE_API orvane_bool OrvaneTypeHasPointers(const orvane_data_type_definition* Type) {
    bool result = false;
    return TypeHasPointers(kNative, Type, &result) && result;
}

ORVANE_API orvane_uint32 OrvaneGetMemberMarshalling(const orvane_data_type_definition* Member) {
    uint32_t flags = 0;
    if (Member == nullptr || !GetMemberMarshalling(kNative, Member, &flags)) return 0;
    return flags;
}

ORVANE_API orvane_uint32 OrvaneGetObjectMarshalling(const orvane_data_type_definition* Type) {
    uint32_t flags = 0;
    if (!GetObjectMarshalling(kNative, Type, &flags)) return 0;
    return flags;
}

ORVANE_API orvane_bool OrvaneIsMixedMarshalling(orvane_uint32 Marshalling) {
    return IsMixedMarshalling(Marshalling);
}

ORVANE_API orvane_int32 OrvaneMakeEmptyDataTypeMember(const orvane_data_type_definition* Member,
                                                      void* MemberStorage) {
    int32_t written = 0;
    if (Member == nullptr || MemberStorage == nullptr) return 0;
    MakeEmptyMember(kNative, DataLayout::Native, Member, MemberStorage, &written);
    return written;
}

ORVANE_API orvane_int32 OrvaneMakeEmptyDataTypeObject(const orvane_data_type_definition* Type,
                                                      void* Object) {
    int32_t written = 0;
    if (Object == nullptr) return 0;
    MakeEmptyObject(kNative, DataLayout::Native, Type, Object, &written);
    return written;
}

ORVANE_API orvane_int32 OrvaneGetMemberArrayWidth(const orvane_data_type_definition* Member) {
    return Member ? kNative.ArrayWidth(Member) : 0;
}

ORVANE_API orvane_data_type_definition** OrvaneGetTypeTableFor(
    const orvane_data_type_definition* Member) {
    if (Member == nullptr || Member->Type != OrvaneSwitchableTypeMember) return nullptr;
    // A type table is stored in the ReferenceType field of the record.
    return reinterpret_cast<orvane_data_type_definition**>(Member->ReferenceType);
}

ORVANE_API orvane_int32 OrvaneGetTypeTableCount(orvane_data_type_definition* const* TypeTable) {
    int32_t count = 0;
    if (TypeTable != nullptr) {
        while (TypeTable[count] != nullptr)
            ++count;
    }
    return count;
}

ORVANE_API orvane_bool OrvaneDataTypesAreEqualWithNameCallback(
    const orvane_data_type_definition* A, const orvane_data_type_definition* B,
    orvane_member_name_comparison NameCallback) {
    return DataTypesAreEqual(A, B, NameCallback, nullptr);
}

ORVANE_API orvane_bool OrvaneDataTypesAreEqualWithNames(const orvane_data_type_definition* A,
                                                        const orvane_data_type_definition* B) {
    return DataTypesAreEqual(A, B, &OrvaneStringDifference, nullptr);
}

ORVANE_API orvane_bool OrvaneDataTypesAreEqual(const orvane_data_type_definition* A,
                                               const orvane_data_type_definition* B) {
    return DataTypesAreEqual(A, B, nullptr, nullptr);
}

ORVANE_API orvane_data_type_definition* OrvaneDataTypeBeginsWith(
    const orvane_data_type_definition* Type, const orvane_data_type_definition* Prefix) {
    if (Type == nullptr || Prefix == nullptr) return nullptr;
    for (; Type->Type != OrvaneEndMember && Prefix->Type != OrvaneEndMember; ++Type, ++Prefix) {
        if (Type->Type != Prefix->Type || Type->ArrayWidth != Prefix->ArrayWidth) return nullptr;
        if (Type->Type == OrvaneSwitchableTypeMember) {
            WarnSwitchableComparison();
            continue;
        }
        if (!DataTypesAreEqual(Type->ReferenceType, Prefix->ReferenceType, nullptr, nullptr)) {
            return nullptr;
        }
    }
    if (Prefix->Type != OrvaneEndMember) return nullptr;
    return const_cast<orvane_data_type_definition*>(Type);
}

ORVANE_API void OrvaneReverseTypeArray(const orvane_data_type_definition* Type, orvane_int32 Count,
                                       void* Data) {
    // The caller vouches for the extent of native data.
    ReverseObjects(kNative, DataLayout::Native, Type, Count, Data, SIZE_MAX);
}

}  // extern "C"

// The exported queries, comparisons, fills and reversal over native type descriptions.
#include "core/orvane_log.h"
#include "types/orvane_type_layout.h"

namespace orvane {
namespace {

constexpr TypeRecords kNative = TypeRecords::Native();

void WarnSwitchableComparison() {
    LogMessage(OrvaneWarningMessage, OrvaneNotImplementedOrigin, "%s",
               "SwitchableTypeMember comparison not yet implemented");
}

}  // namespace
}  // namespace orvane

using namespace orvane;

extern "C" {

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

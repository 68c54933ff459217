// The member iterator over native objects, arrays and arrays of pointers.
#include "types/orvane_member_iterator.h"

#include <climits>

#include "core/orvane_log.h"
#include "types/orvane_type_layout.h"

namespace orvane {
namespace {

void LogIllegalMode(int32_t mode) {
    ORVANE_LOG_ERROR(OrvaneMemberIteratorOrigin,
                     "Illegal iterator type (%d) in IterateOverSubMembers", static_cast<int>(mode));
}

}  // namespace

MemberIterator MemberIterator::OverMembers(const orvane_data_type_definition* type, void* object) {
    MemberIterator it;
    it.mode = kObjectMembers;
    it.member = type;
    it.data = static_cast<unsigned char*>(object);
    it.remaining = 1;
    it.SetUp();
    return it;
}

MemberIterator MemberIterator::OverArray(MemberIteratorMode mode,
                                         const orvane_data_type_definition* elementType,
                                         int32_t count, void* first) {
    MemberIterator it;
    it.mode = mode;
    it.member = elementType;
    it.data = static_cast<unsigned char*>(first);
    it.remaining = count > 0 ? count : 0;
    it.SetUp();
    return it;
}

void MemberIterator::SetUp() {
    countSlot = pointerSlot = arraySlot = typeSlot = nullptr;
    subType = nullptr;
    kind = member ? member->Type : OrvaneEndMember;
    stride = mode == kObjectMembers ? NativeMemberSize(member) : NativeObjectSize(member);
    if (member == nullptr || data == nullptr) return;
    if (mode == kPointerEntries) {
        pointerSlot = data;
        subType = const_cast<orvane_data_type_definition*>(member);
        return;
    }
    const MemberSlots slots = GetMemberSlots(kind, DataLayout::Native);
    if (slots.count >= 0) countSlot = data + slots.count;
    if (slots.type >= 0) typeSlot = data + slots.type;
    if (slots.pointer >= 0) {
        switch (kind) {
            case OrvaneReferenceToArrayMember:
            case OrvaneArrayOfReferencesMember:
            case OrvaneReferenceToVariantArrayMember:
                arraySlot = data + slots.pointer;
                break;
            default:
                pointerSlot = data + slots.pointer;
                break;
        }
    }
    switch (kind) {
        case OrvaneSwitchableTypeMember: {
            orvane_data_type_definition** table = OrvaneGetTypeTableFor(member);
            const int32_t index = StoredCount();
            if (index >= 0 && index < OrvaneGetTypeTableCount(table)) subType = table[index];
            break;
        }
        case OrvaneVariantReferenceMember:
        case OrvaneReferenceToVariantArrayMember:
            subType = Load<orvane_data_type_definition*>(typeSlot);
            break;
        default:
            subType = member->ReferenceType;
            break;
    }
}

void MemberIterator::Advance() {
    if (mode == kObjectMembers) {
        if (member == nullptr || kind == OrvaneEndMember) return;
        data += stride;
        ++member;
    } else {
        if (remaining <= 0) return;
        data += mode == kArrayElements ? stride : static_cast<int32_t>(sizeof(void*));
        --remaining;
    }
    SetUp();
}

int32_t MemberIterator::Count() const {
    if (countSlot == nullptr) return 1;
    const int64_t count = static_cast<int64_t>(StoredCount()) * OrvaneGetMemberArrayWidth(member);
    if (count < 0) return 0;
    return count > INT32_MAX ? INT32_MAX : static_cast<int32_t>(count);
}

MemberIterator MemberIterator::SubMembers() const {
    if (mode != kObjectMembers) {
        LogIllegalMode(mode);
        return MemberIterator();
    }
    switch (kind) {
        case OrvaneInlineMember:
            return OverMembers(subType, data);
        case OrvaneReferenceMember:
        case OrvaneVariantReferenceMember:
        case OrvaneSwitchableTypeMember:
            return OverMembers(subType, Pointer());
        default:
            return MemberIterator();
    }
}

MemberIterator MemberIterator::SubArray() const {
    switch (kind) {
        case OrvaneReferenceToArrayMember:
        case OrvaneReferenceToVariantArrayMember:
            return OverArray(kArrayElements, subType, Count(), ArrayPointer());
        case OrvaneArrayOfReferencesMember:
            return OverArray(kPointerEntries, subType, Count(), ArrayPointer());
        default:
            LogIllegalMode(mode);
            return MemberIterator();
    }
}

MemberIterator MemberIterator::ElementMembers() const {
    switch (mode) {
        case kArrayElements:
            return OverMembers(member, data);
        case kPointerEntries:
            return OverMembers(member, Pointer());
        default:
            return MemberIterator();
    }
}

}  // namespace orvane

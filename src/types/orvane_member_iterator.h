// The member iterator: walks the members of a native object, the elements of a native array or
// the entries of an array of pointers, exposing for each item its kind, its type and where its
// count, pointer and type fields live. Tree walks (pointer fix-up after conversion, rebasing)
// are written on it:
//
//   for (MemberIterator it = MemberIterator::OverMembers(type, object); it.Valid(); it.Advance())
//       if (it.kind == OrvaneReferenceMember && it.Pointer()) Visit(it.SubMembers());
//
// Slots sit at native offsets within the member's storage (GetMemberSlots, Native layout):
//   ReferenceMember, StringMember:                  pointer at 0
//   ReferenceToArrayMember, ArrayOfReferencesMember: count at 0, array pointer at 4
//   SwitchableTypeMember:                            count (the index) at 0, pointer at 4
//   VariantReferenceMember:                          type at 0, pointer at P
//   ReferenceToVariantArrayMember:                   type at 0, count at P, array pointer at P + 4
//   an entry of an array of pointers (mode 0):       pointer = the entry itself
// Content records are packed to 4 bytes, so a slot may be misaligned for a pointer: read and
// write slots through the accessors, which copy bytes. A slot the member does not have is null;
// its accessor then reads the neutral value (count 1, pointer null, type SubType) and ignores
// writes, so walks need not test which slots exist. Iterators are plain values; copies are
// independent.
#ifndef ORVANE_MEMBER_ITERATOR_H
#define ORVANE_MEMBER_ITERATOR_H

#include "core/orvane_private.h"
#include "orvane/types.h"

#include <cstdint>
#include <cstring>

namespace orvane {

enum MemberIteratorMode : int32_t {
    kPointerEntries = 0,  // the entries of an array of pointers to objects
    kObjectMembers = 1,   // the members of one object
    kArrayElements = 2,   // the elements of a contiguous array
};

struct MemberIterator {
    int32_t mode = kObjectMembers;
    // kObjectMembers: the current member record; otherwise the element type.
    const orvane_data_type_definition* member = nullptr;
    // The current member's storage, the current element or the current pointer entry.
    unsigned char* data = nullptr;
    // Elements or entries left; 1 over an object's members.
    int32_t remaining = 0;
    // The current member's kind; over arrays the kind of the element type's first member.
    int32_t kind = OrvaneEndMember;
    // The current member's size; over arrays the element type's object size.
    int32_t stride = 0;
    // What the current item refers to: ReferenceType; for a switchable member the type table's
    // entry at the stored index (null when out of range); for the variant kinds the stored
    // type; over an array of pointers the element type.
    orvane_data_type_definition* subType = nullptr;
    void* countSlot = nullptr;
    void* pointerSlot = nullptr;  // single object pointer (reference, string, variant, entry)
    void* arraySlot = nullptr;    // array pointer of the three array kinds
    void* typeSlot = nullptr;

    // Starts over the members of an object.
    static MemberIterator OverMembers(const orvane_data_type_definition* type, void* object);
    // Starts over `count` elements (kArrayElements) or pointer entries (kPointerEntries).
    static MemberIterator OverArray(MemberIteratorMode mode,
                                    const orvane_data_type_definition* elementType, int32_t count,
                                    void* first);

    // A member record is present, its kind is not EndMember, data is not null and items remain.
    bool Valid() const {
        return member != nullptr && kind != OrvaneEndMember && data != nullptr && remaining != 0;
    }
    void Advance();

    // The members of what the current member embeds or points at (inline members, references,
    // variants, switchable members); only over an object's members, otherwise an error and an
    // empty iterator.
    MemberIterator SubMembers() const;
    // The elements (ReferenceToArrayMember, ReferenceToVariantArrayMember) or pointer entries
    // (ArrayOfReferencesMember) of the current member; for any other kind an error and an empty
    // iterator.
    MemberIterator SubArray() const;
    // The members of the current element (over arrays only; empty over an object's members).
    MemberIterator ElementMembers() const;

    // The stored count × the member's array width (the stored count itself is left alone); 1
    // for a member without a count, 0 for a negative stored count.
    int32_t Count() const;
    int32_t StoredCount() const { return countSlot ? Load<int32_t>(countSlot) : 1; }
    void* Pointer() const { return pointerSlot ? Load<void*>(pointerSlot) : nullptr; }
    void SetPointer(void* value) const { Store(pointerSlot, value); }
    void* ArrayPointer() const { return arraySlot ? Load<void*>(arraySlot) : nullptr; }
    void SetArrayPointer(void* value) const { Store(arraySlot, value); }
    orvane_data_type_definition* Type() const {
        return typeSlot ? Load<orvane_data_type_definition*>(typeSlot) : subType;
    }
    void SetType(orvane_data_type_definition* value) const { Store(typeSlot, value); }

private:
    template <typename T>
    static T Load(const void* slot) {
        T value;
        std::memcpy(&value, slot, sizeof value);
        return value;
    }
    template <typename T>
    static void Store(void* slot, T value) {
        if (slot) std::memcpy(slot, &value, sizeof value);
    }
    void SetUp();
};

}  // namespace orvane

#endif  // ORVANE_MEMBER_ITERATOR_H

// Type descriptions in two representations and objects in two layouts.
//
// A type description is an array of member records ending with an OrvaneEndMember record. The
// library meets it in two representations:
//   - native records: orvane_data_type_definition as declared in orvane/types.h (native
//     pointers; what the library's own descriptions and the variant builder produce);
//   - file records: 32-byte records inside a loaded content-file section, fields at offsets
//     Type 0, Name 4, ReferenceType 8, ArrayWidth 12, Extra 16..27, TraversalMark 28, whose
//     4-byte pointer slots hold whatever the file code put there (on 64-bit hosts a slot
//     cannot hold a native pointer, so the file code turns a slot into an address itself).
// TypeRecords hides the difference: every walk below reads records only through it.
//
// Independently of the records, the objects a description describes come in two layouts
// (DataLayout):
//   - Native: what the running library reads and writes in memory. With P = sizeof(void*),
//     ReferenceMember and StringMember take P bytes, ReferenceToArrayMember,
//     ArrayOfReferencesMember and SwitchableTypeMember 4 + P, VariantReferenceMember 2P,
//     ReferenceToVariantArrayMember 2P + 4. The public content structs have this layout.
//   - File: the 32-bit layout of content files: every pointer slot is 4 bytes.
// Members follow one another directly in both layouts (no padding).
//
// Typical uses:
//   native sizes of a library description:   GetObjectSize(TypeRecords::Native(),
//                                                          DataLayout::Native, type, &size)
//   file size of a library description (writer):   ... TypeRecords::Native(), DataLayout::File
//   reversing file objects through the file's own records (loader):
//       TypeRecords records = TypeRecords::File(&Resolve, &InSection, &fileState);
//       ReverseObjects(records, DataLayout::File, type, count, data, bytesAvailable);
//
// Walks over file records treat them as hostile: every record is bounds-checked through the
// accessor before it is read, recursion through InlineMember is depth-limited, the number of
// records one walk may visit is bounded (so a description cannot make a walk exponential), and
// sizes are checked for overflow. A walk that meets a malformed description returns false and
// leaves its outputs unspecified; the walks themselves log nothing, so the caller reports the
// failure in its own words.
//
// Everything here is reentrant: no walk writes into a description.
#ifndef ORVANE_TYPE_LAYOUT_H
#define ORVANE_TYPE_LAYOUT_H

#include "core/orvane_private.h"
#include "orvane/types.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace orvane {

enum class DataLayout : uint8_t {
    Native = 0,
    File = 1,
};

// Bytes of one member record and of one pointer slot in a content file.
constexpr int32_t kFileRecordSize = 32;
constexpr int32_t kFilePointerSize = 4;

constexpr int32_t PointerSize(DataLayout layout) {
    return layout == DataLayout::Native ? static_cast<int32_t>(sizeof(void*)) : kFilePointerSize;
}

// How deep InlineMember may nest, and how many member records a single walk may visit, before
// a description counts as malformed. Real descriptions stay far below both.
constexpr int32_t kMaxInlineDepth = 64;
constexpr int32_t kMaxRecordVisits = 1 << 20;

// Marshalling flags: the units in which a member's file bytes are swapped for the other byte
// order (orvane_marshalling in the public header).
constexpr uint32_t kNoMarshalling = 0;
constexpr uint32_t kByteMarshalling = 1;
constexpr uint32_t kSwap16Marshalling = 2;
constexpr uint32_t kSwap32Marshalling = 4;

// ---------------------------------------------------------------------------------------------
// The member kinds
// ---------------------------------------------------------------------------------------------

// One row of the member kind table. A member's unit size is fixedBytes + pointerSlots × the
// layout's pointer size; InlineMember and EndMember have unit size 0.
struct MemberKindInfo {
    const char* name;              // "ReferenceToArrayMember"
    const char* declaredTypeName;  // "void *"
    int32_t fixedBytes;            // bytes that are not pointer slots (counts, indices, values)
    int32_t pointerSlots;          // pointer slots per unit
    uint32_t marshalling;          // flag of the kind (InlineMember: that of its type, see below)
};

constexpr bool IsValidMemberKind(int32_t kind) {
    return kind >= OrvaneEndMember && kind < OrvaneOnePastLastMemberType;
}
// The plain integer kinds, Int8Member to UInt32Member (not the normalised ones).
constexpr bool IsIntegerMemberKind(int32_t kind) {
    switch (kind) {
        case OrvaneInt8Member:
        case OrvaneUInt8Member:
        case OrvaneInt16Member:
        case OrvaneUInt16Member:
        case OrvaneInt32Member:
        case OrvaneUInt32Member:
            return true;
        default:
            return false;
    }
}
// The row of a kind, or null outside 0..20.
const MemberKindInfo* GetMemberKindInfo(int32_t kind);
// Unit size of a kind in a layout, ignoring the array width; 0 outside 0..20.
int32_t MemberUnitSize(int32_t kind, DataLayout layout);

// Where a member keeps its count, its (array) pointer and its type pointer, as byte offsets
// within the member's storage; -1 where the kind has no such field. Both layouts keep the
// fields in the same order; only the offsets after a pointer differ:
//   ReferenceMember, StringMember:        pointer 0
//   ReferenceToArrayMember,
//   ArrayOfReferencesMember:              count 0, pointer 4
//   SwitchableTypeMember:                 count (the table index) 0, pointer 4
//   VariantReferenceMember:               type 0, pointer P
//   ReferenceToVariantArrayMember:        type 0, count P, pointer P + 4
struct MemberSlots {
    int32_t count;
    int32_t pointer;
    int32_t type;
};
MemberSlots GetMemberSlots(int32_t kind, DataLayout layout);

// Records for static descriptions:
//   orvane_data_type_definition g_curveType[] = {
//       MemberRecord(OrvaneUInt8Member, "Format"),
//       MemberRecord(OrvaneReferenceToArrayMember, "Knots", g_real32Type), EndRecord()};
constexpr orvane_data_type_definition MemberRecord(orvane_member_type kind, const char* name,
                                                   orvane_data_type_definition* type = nullptr,
                                                   orvane_int32 width = 0) {
    return {kind, name, type, width, {0, 0, 0}, 0};
}
constexpr orvane_data_type_definition EndRecord() {
    return MemberRecord(OrvaneEndMember, nullptr);
}

// ---------------------------------------------------------------------------------------------
// The record accessor
// ---------------------------------------------------------------------------------------------

// File records only: turns the 4-byte pointer slot at `slot` (the Name or ReferenceType field
// of a record) into the native address it stands for, or null for a null slot. What the slot
// holds (an address on 32-bit hosts, a handle into a table of fixed-up pointers on 64-bit
// hosts) is the file code's business. Names it returns are read up to their terminator, so it
// must only return names that are terminated inside their memory.
using SlotResolver = const void* (*)(void* context, const void* slot);
// File records only: whether the kFileRecordSize bytes at `record` lie in memory that may be
// read (inside a loaded section). Null means every record is taken as readable.
using RecordBoundsCheck = bool (*)(void* context, const void* record);

class TypeRecords {
public:
    // The library's own representation: orvane_data_type_definition arrays.
    static constexpr TypeRecords Native() { return TypeRecords(); }
    // 32-byte records whose pointer slots `resolve` turns into addresses.
    static TypeRecords File(SlotResolver resolve, RecordBoundsCheck inBounds, void* context) {
        TypeRecords records;
        records.file_ = true;
        records.resolve_ = resolve;
        records.inBounds_ = inBounds;
        records.context_ = context;
        return records;
    }

    bool IsFile() const { return file_; }
    // Bytes from one record to the next.
    int32_t RecordSize() const {
        return file_ ? kFileRecordSize : static_cast<int32_t>(sizeof(orvane_data_type_definition));
    }
    // Whether the record may be read; always true for native records.
    bool Readable(const void* record) const {
        return !file_ || inBounds_ == nullptr || inBounds_(context_, record);
    }

    // Field readers. The record must be Readable.
    int32_t Kind(const void* record) const {
        if (!file_) return Native(record)->Type;
        return ReadInt32(record, 0);
    }
    const char* Name(const void* record) const {
        if (!file_) return Native(record)->Name;
        return static_cast<const char*>(Resolve(record, 4));
    }
    // The referenced description (or, for a SwitchableTypeMember, the type table: an array of
    // native pointers for native records; for file records an array of 4-byte slots that
    // ResolveSlot turns into descriptions).
    const void* ReferenceType(const void* record) const {
        if (!file_) return Native(record)->ReferenceType;
        return Resolve(record, 8);
    }
    // The ArrayWidth field as stored (0 and 1 both mean one value).
    int32_t RawArrayWidth(const void* record) const {
        if (!file_) return Native(record)->ArrayWidth;
        return ReadInt32(record, 12);
    }
    int32_t ArrayWidth(const void* record) const {
        int32_t width = RawArrayWidth(record);
        return width == 0 ? 1 : width;
    }
    const void* Next(const void* record) const {
        return static_cast<const char*>(record) + RecordSize();
    }
    // Resolves any 4-byte slot of the file (entries of a file type table); native records
    // never need it.
    const void* ResolveSlot(const void* slot) const {
        return resolve_ ? resolve_(context_, slot) : nullptr;
    }

private:
    constexpr TypeRecords() = default;
    static const orvane_data_type_definition* Native(const void* record) {
        return static_cast<const orvane_data_type_definition*>(record);
    }
    static int32_t ReadInt32(const void* record, int32_t offset) {
        int32_t value;
        std::memcpy(&value, static_cast<const char*>(record) + offset, sizeof value);
        return value;
    }
    const void* Resolve(const void* record, int32_t offset) const {
        return ResolveSlot(static_cast<const char*>(record) + offset);
    }

    bool file_ = false;
    SlotResolver resolve_ = nullptr;
    RecordBoundsCheck inBounds_ = nullptr;
    void* context_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Walks. A null type is a valid empty description everywhere. All return false for a malformed
// description (unreadable record, kind outside 0..20, an InlineMember without a type, nesting
// or visits past the limits above, a size above INT32_MAX).
// ---------------------------------------------------------------------------------------------

// Bytes one member occupies: for InlineMember the object size of its referenced type (its
// array width ignored), otherwise unit size × array width.
bool GetMemberSize(const TypeRecords& records, DataLayout layout, const void* member,
                   int32_t* size);
// Sum of the member sizes up to the terminator.
bool GetObjectSize(const TypeRecords& records, DataLayout layout, const void* type, int32_t* size);
// Number of records including the terminator (0 for a null type); the description occupies
// count × records.RecordSize() bytes.
bool GetTypeRecordCount(const TypeRecords& records, const void* type, int32_t* count);
// Byte offset of `member` (a record of `type`) within an object of `type`.
bool GetMemberOffset(const TypeRecords& records, DataLayout layout, const void* type,
                     const void* member, int32_t* offset);
// The first member whose name equals `name` (exact comparison) and its byte offset; *member
// is null when there is none (which is not a failure).
bool FindMemberByName(const TypeRecords& records, DataLayout layout, const void* type,
                      const char* name, const void** member, int32_t* offset);

// Marshalling of a member (InlineMember: that of its referenced type) and of a whole object
// (the OR of its members). The flags describe file bytes and do not depend on the layout.
bool GetMemberMarshalling(const TypeRecords& records, const void* member, uint32_t* flags);
bool GetObjectMarshalling(const TypeRecords& records, const void* type, uint32_t* flags);
inline bool IsMixedMarshalling(uint32_t flags) {
    return (flags & (flags - 1)) != 0;
}

// Whether the member / any member holds pointers (InlineMember: its type's members; variant
// kinds and strings: always; other kinds: when ReferenceType is set).
bool MemberHasPointers(const TypeRecords& records, const void* member, bool* result);
bool TypeHasPointers(const TypeRecords& records, const void* type, bool* result);

// Byte-reverses `count` consecutive objects of `type` at `data`, member by member: an
// InlineMember recursively, other members by the 16- or 32-bit units their marshalling names
// (byte and unmarshalled members stay). Fails, touching nothing, when the objects would not fit
// in `available` bytes. With `pointerSlots`, the 32-bit slots of reference, variant reference
// and string members (unmarshalled, since pointer fixups overwrite them) are reversed too: a
// writer that makes a file image in the other byte order keeps its slot markers in that order.
bool ReverseObjects(const TypeRecords& records, DataLayout layout, const void* type, int32_t count,
                    void* data, size_t available, bool pointerSlots = false);

// Writes the empty value of a member / of every member of an object: identity transforms,
// inline objects filled recursively, zero bytes otherwise. *written receives the bytes
// written. The storage must hold the member / object size.
bool MakeEmptyMember(const TypeRecords& records, DataLayout layout, const void* member,
                     void* storage, int32_t* written);
bool MakeEmptyObject(const TypeRecords& records, DataLayout layout, const void* type, void* object,
                     int32_t* written);

// Walks the members of one description (not into inline members) and gives, for each, its
// record and its place in both layouts, for code that moves objects from one layout to the
// other (the loader widening file objects into native ones, the writer narrowing them):
//   LayoutCursor c(records, type);
//   for (; c.Valid(); c.Advance())
//       Move(c.kind, file + c.fileOffset, c.fileSize, native + c.nativeOffset, c.nativeSize);
//   if (c.Failed()) ...  // malformed description
// Once the walk is over without failure, fileOffset and nativeOffset are the object sizes.
class LayoutCursor {
public:
    LayoutCursor(const TypeRecords& records, const void* type);
    bool Valid() const { return record != nullptr; }
    bool Failed() const { return failed_; }
    void Advance();

    const void* record = nullptr;  // the current member; null once the walk is over
    int32_t kind = OrvaneEndMember;
    int32_t fileOffset = 0;
    int32_t fileSize = 0;
    int32_t nativeOffset = 0;
    int32_t nativeSize = 0;

private:
    void Load(const void* next);
    TypeRecords records_;  // a copy: the cursor may outlive the accessor it was given
    int32_t visits_ = 0;
    bool failed_ = false;
};

// Shorthands for the library's own (native) descriptions and native objects. They return 0 /
// false on a malformed description.
int32_t NativeMemberSize(const orvane_data_type_definition* member);
int32_t NativeObjectSize(const orvane_data_type_definition* type);

// ---------------------------------------------------------------------------------------------
// Equality of native descriptions
// ---------------------------------------------------------------------------------------------

using NameComparison = orvane_int32 (*)(const char* a, const char* b);

// Structural equality as the exported comparisons define it: equal kinds, equal raw array
// widths, names equal under `compareNames` when given, referenced descriptions equal
// recursively (a pair already under comparison further up counts as equal, which is what makes
// self-referencing descriptions terminate), SwitchableTypeMember pairs equal with a warning.
// When `excluded` is given, any comparison whose second type is `excluded` is false (type
// conversion uses this to treat everything that holds curves as changed).
//
// Nothing is written into the descriptions: the pairs under comparison live on the caller's
// stack, so any number of threads may compare the same descriptions at once.
bool DataTypesAreEqual(const orvane_data_type_definition* a, const orvane_data_type_definition* b,
                       NameComparison compareNames, const orvane_data_type_definition* excluded);

}  // namespace orvane

#endif  // ORVANE_TYPE_LAYOUT_H

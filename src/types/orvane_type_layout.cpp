// Size, offset, marshalling, reversal and fill walks over type descriptions in either record
// representation and either data layout, and the structural equality of descriptions.
#include "types/orvane_type_layout.h"

#include <climits>

#include "core/orvane_log.h"
#include "core/orvane_memory.h"

namespace orvane {
namespace {

// fixedBytes / pointerSlots / marshalling of every kind. The unit sizes of the 32-bit file
// layout follow (4 bytes per pointer slot): 0 0 4 8 8 8 8 12 4 68 4 1 1 1 1 2 2 2 2 4 4.
constexpr MemberKindInfo kMemberKinds[OrvaneOnePastLastMemberType] = {
    {"EndMember", "", 0, 0, kNoMarshalling},
    {"InlineMember", "", 0, 0, kNoMarshalling},
    {"ReferenceMember", "void *", 0, 1, kNoMarshalling},
    {"ReferenceToArrayMember", "void *", 4, 1, kSwap32Marshalling},
    {"ArrayOfReferencesMember", "void **", 4, 1, kSwap32Marshalling},
    {"VariantReferenceMember", "void *", 0, 2, kNoMarshalling},
    {"SwitchableTypeMember", "void *", 4, 1, kSwap32Marshalling},
    {"ReferenceToVariantArrayMember", "void *", 4, 2, kSwap32Marshalling},
    {"StringMember", "char *", 0, 1, kNoMarshalling},
    {"TransformMember", "orvane_transform", 68, 0, kSwap32Marshalling},
    {"Real32Member", "orvane_real32", 4, 0, kSwap32Marshalling},
    {"Int8Member", "orvane_int8", 1, 0, kByteMarshalling},
    {"UInt8Member", "orvane_uint8", 1, 0, kByteMarshalling},
    {"BinormalInt8Member", "orvane_int8", 1, 0, kByteMarshalling},
    {"NormalUInt8Member", "orvane_uint8", 1, 0, kByteMarshalling},
    {"Int16Member", "orvane_int16", 2, 0, kSwap16Marshalling},
    {"UInt16Member", "orvane_uint16", 2, 0, kSwap16Marshalling},
    {"BinormalInt16Member", "orvane_int16", 2, 0, kSwap16Marshalling},
    {"NormalUInt16Member", "orvane_uint16", 2, 0, kSwap16Marshalling},
    {"Int32Member", "orvane_int32", 4, 0, kSwap32Marshalling},
    {"UInt32Member", "orvane_uint32", 4, 0, kSwap32Marshalling},
};

// One walk: the accessor, the data layout and the visit budget shared by its recursion.
struct Walk {
    const TypeRecords& records;
    DataLayout layout;
    int64_t budget;

    Walk(const TypeRecords& r, DataLayout l, int64_t visits = kMaxRecordVisits)
        : records(r), layout(l), budget(visits) {}

    // Accounts for one record and checks that it may be read.
    bool Visit(const void* record) { return --budget >= 0 && records.Readable(record); }
};

bool ObjectSize(Walk& walk, const void* type, int32_t depth, int64_t* size);

bool MemberSize(Walk& walk, const void* member, int32_t depth, int64_t* size) {
    int32_t kind = walk.records.Kind(member);
    if (!IsValidMemberKind(kind)) return false;
    if (kind == OrvaneInlineMember) {
        return ObjectSize(walk, walk.records.ReferenceType(member), depth + 1, size);
    }
    int32_t width = walk.records.ArrayWidth(member);
    if (width < 0) return false;
    *size = static_cast<int64_t>(MemberUnitSize(kind, walk.layout)) * width;
    return *size <= INT32_MAX;
}

bool ObjectSize(Walk& walk, const void* type, int32_t depth, int64_t* size) {
    *size = 0;
    if (type == nullptr) return true;
    if (depth > kMaxInlineDepth) return false;
    for (const void* member = type;; member = walk.records.Next(member)) {
        if (!walk.Visit(member)) return false;
        if (walk.records.Kind(member) == OrvaneEndMember) return true;
        int64_t memberSize;
        if (!MemberSize(walk, member, depth, &memberSize)) return false;
        *size += memberSize;
        if (*size > INT32_MAX) return false;
    }
}

bool ObjectMarshalling(Walk& walk, const void* type, int32_t depth, uint32_t* flags);

bool MemberMarshalling(Walk& walk, const void* member, int32_t depth, uint32_t* flags) {
    int32_t kind = walk.records.Kind(member);
    if (!IsValidMemberKind(kind)) return false;
    if (kind == OrvaneInlineMember) {
        return ObjectMarshalling(walk, walk.records.ReferenceType(member), depth + 1, flags);
    }
    *flags = kMemberKinds[kind].marshalling;
    return true;
}

bool ObjectMarshalling(Walk& walk, const void* type, int32_t depth, uint32_t* flags) {
    *flags = 0;
    if (type == nullptr) return true;
    if (depth > kMaxInlineDepth) return false;
    for (const void* member = type;; member = walk.records.Next(member)) {
        if (!walk.Visit(member)) return false;
        if (walk.records.Kind(member) == OrvaneEndMember) return true;
        uint32_t memberFlags;
        if (!MemberMarshalling(walk, member, depth, &memberFlags)) return false;
        *flags |= memberFlags;
    }
}

bool TypePointers(Walk& walk, const void* type, int32_t depth, bool* result);

bool MemberPointers(Walk& walk, const void* member, int32_t depth, bool* result) {
    int32_t kind = walk.records.Kind(member);
    if (!IsValidMemberKind(kind)) return false;
    switch (kind) {
        case OrvaneInlineMember:
            return TypePointers(walk, walk.records.ReferenceType(member), depth + 1, result);
        case OrvaneVariantReferenceMember:
        case OrvaneReferenceToVariantArrayMember:
        case OrvaneStringMember:
            *result = true;
            return true;
        default:
            *result = walk.records.ReferenceType(member) != nullptr;
            return true;
    }
}

bool TypePointers(Walk& walk, const void* type, int32_t depth, bool* result) {
    *result = false;
    if (type == nullptr) return true;
    if (depth > kMaxInlineDepth) return false;
    for (const void* member = type;; member = walk.records.Next(member)) {
        if (!walk.Visit(member)) return false;
        if (walk.records.Kind(member) == OrvaneEndMember) return true;
        if (!MemberPointers(walk, member, depth, result)) return false;
        if (*result) return true;
    }
}

// Reversal of one object; the caller has checked that the object fits.
bool ReverseObject(Walk& walk, const void* type, int32_t depth, unsigned char* data,
                   bool pointerSlots) {
    if (type == nullptr) return true;
    if (depth > kMaxInlineDepth) return false;
    for (const void* member = type;; member = walk.records.Next(member)) {
        if (!walk.Visit(member)) return false;
        int32_t kind = walk.records.Kind(member);
        if (kind == OrvaneEndMember) return true;
        int64_t size;
        if (!MemberSize(walk, member, depth, &size)) return false;
        if (kind == OrvaneInlineMember) {
            if (!ReverseObject(walk, walk.records.ReferenceType(member), depth + 1, data,
                               pointerSlots)) {
                return false;
            }
        } else if (kMemberKinds[kind].marshalling == kSwap32Marshalling) {
            Reverse32(static_cast<size_t>(size), data);
        } else if (pointerSlots && walk.layout == DataLayout::File &&
                   (kind == OrvaneReferenceMember || kind == OrvaneVariantReferenceMember ||
                    kind == OrvaneStringMember)) {
            Reverse32(static_cast<size_t>(size), data);
        } else if (kMemberKinds[kind].marshalling == kSwap16Marshalling) {
            Reverse16(static_cast<size_t>(size), data);
        }
        data += size;
    }
}

// The identity transform, the empty value of a TransformMember.
constexpr orvane_transform kIdentityTransform = {
    0, {0, 0, 0}, {0, 0, 0, 1}, {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};

bool EmptyObject(Walk& walk, const void* type, int32_t depth, unsigned char* object,
                 int64_t* written);

bool EmptyMember(Walk& walk, const void* member, int32_t depth, unsigned char* storage,
                 int64_t* written) {
    int32_t kind = walk.records.Kind(member);
    if (kind == OrvaneInlineMember) {
        return EmptyObject(walk, walk.records.ReferenceType(member), depth + 1, storage, written);
    }
    if (!MemberSize(walk, member, depth, written)) return false;
    if (kind == OrvaneTransformMember) {
        for (int64_t offset = 0; offset + 68 <= *written; offset += 68) {
            std::memcpy(storage + offset, &kIdentityTransform, 68);
        }
    } else if (*written > 0) {
        std::memset(storage, 0, static_cast<size_t>(*written));
    }
    return true;
}

bool EmptyObject(Walk& walk, const void* type, int32_t depth, unsigned char* object,
                 int64_t* written) {
    *written = 0;
    if (type == nullptr) return true;
    if (depth > kMaxInlineDepth) return false;
    for (const void* member = type;; member = walk.records.Next(member)) {
        if (!walk.Visit(member)) return false;
        if (walk.records.Kind(member) == OrvaneEndMember) return true;
        int64_t memberWritten;
        if (!EmptyMember(walk, member, depth, object + *written, &memberWritten)) return false;
        *written += memberWritten;
    }
}

bool ToInt32(bool ok, int64_t value, int32_t* out) {
    if (!ok || value > INT32_MAX) return false;
    *out = static_cast<int32_t>(value);
    return true;
}

}  // namespace

static_assert(sizeof(orvane_transform) == 68, "transforms are 68 bytes in both layouts");

const MemberKindInfo* GetMemberKindInfo(int32_t kind) {
    return IsValidMemberKind(kind) ? &kMemberKinds[kind] : nullptr;
}

int32_t MemberUnitSize(int32_t kind, DataLayout layout) {
    if (!IsValidMemberKind(kind)) return 0;
    return kMemberKinds[kind].fixedBytes + kMemberKinds[kind].pointerSlots * PointerSize(layout);
}

MemberSlots GetMemberSlots(int32_t kind, DataLayout layout) {
    const int32_t p = PointerSize(layout);
    switch (kind) {
        case OrvaneReferenceMember:
        case OrvaneStringMember:
            return {-1, 0, -1};
        case OrvaneReferenceToArrayMember:
        case OrvaneArrayOfReferencesMember:
        case OrvaneSwitchableTypeMember:
            return {0, 4, -1};
        case OrvaneVariantReferenceMember:
            return {-1, p, 0};
        case OrvaneReferenceToVariantArrayMember:
            return {p, p + 4, 0};
        default:
            return {-1, -1, -1};
    }
}

bool GetMemberSize(const TypeRecords& records, DataLayout layout, const void* member,
                   int32_t* size) {
    Walk walk(records, layout);
    int64_t value = 0;
    bool ok = walk.Visit(member) && MemberSize(walk, member, 0, &value);
    return ToInt32(ok, value, size);
}

bool GetObjectSize(const TypeRecords& records, DataLayout layout, const void* type, int32_t* size) {
    Walk walk(records, layout);
    int64_t value = 0;
    bool ok = ObjectSize(walk, type, 0, &value);
    return ToInt32(ok, value, size);
}

bool GetTypeRecordCount(const TypeRecords& records, const void* type, int32_t* count) {
    *count = 0;
    if (type == nullptr) return true;
    Walk walk(records, DataLayout::Native);
    for (const void* member = type;; member = records.Next(member)) {
        if (!walk.Visit(member)) return false;
        ++*count;
        if (records.Kind(member) == OrvaneEndMember) return true;
    }
}

bool GetMemberOffset(const TypeRecords& records, DataLayout layout, const void* type,
                     const void* member, int32_t* offset) {
    *offset = 0;
    if (type == nullptr) return false;
    Walk walk(records, layout);
    int64_t sum = 0;
    for (const void* record = type;; record = records.Next(record)) {
        if (!walk.Visit(record)) return false;
        if (record == member) return ToInt32(true, sum, offset);
        if (records.Kind(record) == OrvaneEndMember) return false;
        int64_t size;
        if (!MemberSize(walk, record, 0, &size)) return false;
        sum += size;
        if (sum > INT32_MAX) return false;
    }
}

bool FindMemberByName(const TypeRecords& records, DataLayout layout, const void* type,
                      const char* name, const void** member, int32_t* offset) {
    *member = nullptr;
    *offset = 0;
    if (type == nullptr || name == nullptr) return true;
    Walk walk(records, layout);
    int64_t sum = 0;
    for (const void* record = type;; record = records.Next(record)) {
        if (!walk.Visit(record)) return false;
        if (records.Kind(record) == OrvaneEndMember) return true;
        const char* recordName = records.Name(record);
        if (recordName != nullptr && std::strcmp(recordName, name) == 0) {
            *member = record;
            return ToInt32(true, sum, offset);
        }
        int64_t size;
        if (!MemberSize(walk, record, 0, &size)) return false;
        sum += size;
        if (sum > INT32_MAX) return false;
    }
}

bool GetMemberMarshalling(const TypeRecords& records, const void* member, uint32_t* flags) {
    Walk walk(records, DataLayout::File);
    *flags = 0;
    return walk.Visit(member) && MemberMarshalling(walk, member, 0, flags);
}

bool GetObjectMarshalling(const TypeRecords& records, const void* type, uint32_t* flags) {
    Walk walk(records, DataLayout::File);
    return ObjectMarshalling(walk, type, 0, flags);
}

bool MemberHasPointers(const TypeRecords& records, const void* member, bool* result) {
    Walk walk(records, DataLayout::File);
    *result = false;
    return walk.Visit(member) && MemberPointers(walk, member, 0, result);
}

bool TypeHasPointers(const TypeRecords& records, const void* type, bool* result) {
    Walk walk(records, DataLayout::File);
    return TypePointers(walk, type, 0, result);
}

bool ReverseObjects(const TypeRecords& records, DataLayout layout, const void* type, int32_t count,
                    void* data, size_t available, bool pointerSlots) {
    if (count < 0) return false;
    int32_t size;
    if (!GetObjectSize(records, layout, type, &size)) return false;
    if (size == 0 || count == 0) return true;
    if (data == nullptr || static_cast<uint64_t>(count) * static_cast<uint64_t>(size) > available) {
        return false;
    }
    // Every object walks the same records; the budget grows with the bytes reversed, so that a
    // description with many empty records cannot turn a short array into a long walk.
    Walk walk(records, layout,
              kMaxRecordVisits + 16 * static_cast<int64_t>(count) * static_cast<int64_t>(size));
    auto* bytes = static_cast<unsigned char*>(data);
    for (int32_t i = 0; i < count; ++i) {
        if (!ReverseObject(walk, type, 0, bytes + static_cast<size_t>(i) * size, pointerSlots))
            return false;
    }
    return true;
}

bool MakeEmptyMember(const TypeRecords& records, DataLayout layout, const void* member,
                     void* storage, int32_t* written) {
    Walk walk(records, layout);
    int64_t value = 0;
    *written = 0;
    bool ok = walk.Visit(member) && IsValidMemberKind(records.Kind(member)) &&
              EmptyMember(walk, member, 0, static_cast<unsigned char*>(storage), &value);
    return ToInt32(ok, value, written);
}

bool MakeEmptyObject(const TypeRecords& records, DataLayout layout, const void* type, void* object,
                     int32_t* written) {
    Walk walk(records, layout);
    int64_t value = 0;
    *written = 0;
    bool ok = EmptyObject(walk, type, 0, static_cast<unsigned char*>(object), &value);
    return ToInt32(ok, value, written);
}

LayoutCursor::LayoutCursor(const TypeRecords& records, const void* type) : records_(records) {
    Load(type);
}

void LayoutCursor::Load(const void* next) {
    record = nullptr;
    if (next == nullptr || failed_) return;
    if (++visits_ > kMaxRecordVisits || !records_.Readable(next)) {
        failed_ = true;
        return;
    }
    kind = records_.Kind(next);
    if (kind == OrvaneEndMember) return;
    if (!GetMemberSize(records_, DataLayout::File, next, &fileSize) ||
        !GetMemberSize(records_, DataLayout::Native, next, &nativeSize) ||
        fileOffset > INT32_MAX - fileSize || nativeOffset > INT32_MAX - nativeSize) {
        failed_ = true;
        return;
    }
    record = next;
}

void LayoutCursor::Advance() {
    if (record == nullptr) return;
    fileOffset += fileSize;
    nativeOffset += nativeSize;
    fileSize = nativeSize = 0;
    Load(records_.Next(record));
}

int32_t NativeMemberSize(const orvane_data_type_definition* member) {
    int32_t size = 0;
    if (member == nullptr ||
        !GetMemberSize(TypeRecords::Native(), DataLayout::Native, member, &size)) {
        return 0;
    }
    return size;
}

int32_t NativeObjectSize(const orvane_data_type_definition* type) {
    int32_t size = 0;
    if (!GetObjectSize(TypeRecords::Native(), DataLayout::Native, type, &size)) return 0;
    return size;
}

// ---------------------------------------------------------------------------------------------
// Equality
// ---------------------------------------------------------------------------------------------

namespace {

// Deeper than any real description; a chain of distinct descriptions longer than this compares
// unequal rather than exhausting the stack.
constexpr int32_t kMaxComparisonDepth = 1024;

// A pair of descriptions under comparison: the chain of frames on the stack replaces marks
// written into the records.
struct ComparisonFrame {
    const orvane_data_type_definition* a;
    const orvane_data_type_definition* b;
    const ComparisonFrame* outer;
};

struct Comparison {
    NameComparison compareNames;
    const orvane_data_type_definition* excluded;
    int64_t budget;  // member pairs left; shared descriptions can otherwise make it exponential
};

bool Equal(Comparison& c, const orvane_data_type_definition* a,
           const orvane_data_type_definition* b, const ComparisonFrame* outer, int32_t depth) {
    if (c.excluded != nullptr && b == c.excluded) return false;
    if (a == b) return true;
    if (a == nullptr || b == nullptr) return false;
    for (const ComparisonFrame* f = outer; f != nullptr; f = f->outer) {
        if ((f->a == a && f->b == b) || (f->a == b && f->b == a)) return true;
    }
    if (depth >= kMaxComparisonDepth) return false;
    const ComparisonFrame frame{a, b, outer};
    for (; a->Type != OrvaneEndMember && b->Type != OrvaneEndMember; ++a, ++b) {
        if (--c.budget < 0) return false;
        if (a->Type != b->Type || a->ArrayWidth != b->ArrayWidth) return false;
        if (c.compareNames != nullptr && c.compareNames(a->Name, b->Name) != 0) return false;
        if (a->Type == OrvaneSwitchableTypeMember) {
            LogMessage(OrvaneWarningMessage, OrvaneNotImplementedOrigin, "%s",
                       "SwitchableTypeMember comparison not yet implemented");
            continue;
        }
        if (a->ReferenceType != b->ReferenceType &&
            !Equal(c, a->ReferenceType, b->ReferenceType, &frame, depth + 1)) {
            return false;
        }
        // The excluded type must be found even where both sides share it.
        if (c.excluded != nullptr && b->ReferenceType == c.excluded) return false;
    }
    return a->Type == b->Type;
}

}  // namespace

bool DataTypesAreEqual(const orvane_data_type_definition* a, const orvane_data_type_definition* b,
                       NameComparison compareNames, const orvane_data_type_definition* excluded) {
    Comparison c{compareNames, excluded, kMaxRecordVisits};
    return Equal(c, a, b, nullptr, 0);
}

}  // namespace orvane

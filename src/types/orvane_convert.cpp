// Type conversion: member matching, single objects, trees (sizing, in place, allocated).
#include "types/orvane_convert.h"

#include <climits>
#include <cmath>
#include <cstring>

#include "core/orvane_log.h"
#include "core/orvane_pointer_hash.h"
#include "core/orvane_string.h"
#include "diag/orvane_timing.h"
#include "orvane/convert.h"
#include "orvane/curve.h"
#include "types/orvane_member_iterator.h"
#include "types/orvane_type_layout.h"

namespace orvane {
namespace {

using Type = orvane_data_type_definition;
using Byte = unsigned char;

constexpr int32_t kPointerBytes = static_cast<int32_t>(sizeof(void*));
// Text made from a number is formatted into at most this many bytes, terminator included.
constexpr int32_t kMaxNumberText = 256;
constexpr int32_t kEqualityCacheSize = 32;

template <typename T>
T Load(const void* slot) {
    T value;
    std::memcpy(&value, slot, sizeof value);
    return value;
}
template <typename T>
void Store(void* slot, T value) {
    std::memcpy(slot, &value, sizeof value);
}

// Destinations are null in the sizing pass; cursors over them stay null.
Byte* Advance(Byte* p, int64_t bytes) {
    return p ? p + bytes : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Numbers
// ---------------------------------------------------------------------------------------------

bool IsNumericKind(int32_t kind) {
    return kind >= OrvaneReal32Member && kind <= OrvaneUInt32Member;
}

// A rounded real as a 32-bit integer; not-a-number and values outside the range give the
// processor's "integer indefinite" (INT32_MIN), as the hardware conversion does.
int32_t RoundedToInt32(double rounded) {
    if (!(rounded >= -2147483648.0 && rounded < 2147483648.0)) return INT32_MIN;
    return static_cast<int32_t>(rounded);
}

// The sign of a normalised value: 1 above half scale, -1 below minus half scale, else 0.
int32_t NormalisedSign(int32_t value, int32_t halfScale) {
    return value > halfScale ? 1 : value < -halfScale ? -1 : 0;
}

int32_t AsInteger(int32_t kind, const void* source) {
    switch (kind) {
        case OrvaneInt8Member:
            return Load<int8_t>(source);
        case OrvaneUInt8Member:
            return Load<uint8_t>(source);
        case OrvaneInt16Member:
            return Load<int16_t>(source);
        case OrvaneUInt16Member:
            return Load<uint16_t>(source);
        case OrvaneInt32Member:
            return Load<int32_t>(source);
        case OrvaneUInt32Member:
            return static_cast<int32_t>(Load<uint32_t>(source));
        case OrvaneReal32Member:
            return RoundedToInt32(std::nearbyint(Load<float>(source)));
        case OrvaneBinormalInt8Member:
            return NormalisedSign(Load<int8_t>(source), 127 / 2);
        case OrvaneNormalUInt8Member:
            return NormalisedSign(Load<uint8_t>(source), 255 / 2);
        case OrvaneBinormalInt16Member:
            return NormalisedSign(Load<int16_t>(source), 32767 / 2);
        case OrvaneNormalUInt16Member:
            return NormalisedSign(Load<uint16_t>(source), 65535 / 2);
        case OrvaneStringMember:
            return RoundedToInt32(std::nearbyint(ParseReal(Load<const char*>(source), true)));
        default:
            return 0;
    }
}

float AsReal(int32_t kind, const void* source) {
    switch (kind) {
        case OrvaneReal32Member:
            return Load<float>(source);
        case OrvaneInt8Member:
            return static_cast<float>(Load<int8_t>(source));
        case OrvaneUInt8Member:
            return static_cast<float>(Load<uint8_t>(source));
        case OrvaneInt16Member:
            return static_cast<float>(Load<int16_t>(source));
        case OrvaneUInt16Member:
            return static_cast<float>(Load<uint16_t>(source));
        case OrvaneInt32Member:
            return static_cast<float>(Load<int32_t>(source));
        case OrvaneUInt32Member:
            return static_cast<float>(Load<uint32_t>(source));
        case OrvaneBinormalInt8Member:
            return static_cast<float>(Load<int8_t>(source)) * 0.007874016f;
        case OrvaneNormalUInt8Member:
            return static_cast<float>(Load<uint8_t>(source)) * 0.003921569f;
        case OrvaneBinormalInt16Member:
            return static_cast<float>(Load<int16_t>(source)) * 0.00003051851f;
        case OrvaneNormalUInt16Member:
            return static_cast<float>(Load<uint16_t>(source)) * 0.000015259022f;
        case OrvaneStringMember:
            return static_cast<float>(ParseReal(Load<const char*>(source), true));
        default:
            return 0.0f;
    }
}

// A real scaled to a normalised integer: the product is taken in single precision and rounded
// to the nearest integer, halves away from zero (0.5 x 255 gives 128, 1.5 x 255 gives 383).
int32_t Normalised(float value, float fullScale) {
    const float product = value * fullScale;
    return RoundedToInt32(std::round(static_cast<double>(product)));
}

// Writes one destination element from one source element. Narrow kinds keep the low bits:
// out-of-range values wrap rather than clamp.
void WriteElement(int32_t destinationKind, void* destination, int32_t sourceKind,
                  const void* source) {
    switch (destinationKind) {
        case OrvaneReal32Member:
            Store<float>(destination, AsReal(sourceKind, source));
            break;
        case OrvaneInt8Member:
        case OrvaneUInt8Member:
            Store<uint8_t>(destination, static_cast<uint8_t>(AsInteger(sourceKind, source)));
            break;
        case OrvaneInt16Member:
        case OrvaneUInt16Member:
            Store<uint16_t>(destination, static_cast<uint16_t>(AsInteger(sourceKind, source)));
            break;
        case OrvaneInt32Member:
        case OrvaneUInt32Member:
            Store<int32_t>(destination, AsInteger(sourceKind, source));
            break;
        case OrvaneBinormalInt8Member:
            Store<uint8_t>(destination,
                           static_cast<uint8_t>(Normalised(AsReal(sourceKind, source), 127.0f)));
            break;
        case OrvaneNormalUInt8Member:
            Store<uint8_t>(destination,
                           static_cast<uint8_t>(Normalised(AsReal(sourceKind, source), 255.0f)));
            break;
        case OrvaneBinormalInt16Member:
            Store<uint16_t>(destination, static_cast<uint16_t>(
                                             Normalised(AsReal(sourceKind, source), 32767.0f)));
            break;
        case OrvaneNormalUInt16Member:
            Store<uint16_t>(destination, static_cast<uint16_t>(
                                             Normalised(AsReal(sourceKind, source), 65535.0f)));
            break;
        default:
            break;
    }
}

// The text of a number, or -1 when the source kind has no text (transforms, references,
// variants). Unsigned 32-bit values are written unsigned: 4294967295 reads back as itself,
// not as -1.
int32_t FormatNumber(int32_t kind, const void* source, char* text) {
    if (kind == OrvaneUInt32Member)
        return FormatText(kMaxNumberText, text, "%u",
                          static_cast<unsigned>(Load<uint32_t>(source)));
    if (IsIntegerMemberKind(kind))
        return FormatText(kMaxNumberText, text, "%d", static_cast<int>(AsInteger(kind, source)));
    switch (kind) {
        case OrvaneReal32Member:
        case OrvaneBinormalInt8Member:
        case OrvaneNormalUInt8Member:
        case OrvaneBinormalInt16Member:
        case OrvaneNormalUInt16Member:
            return FormatText(kMaxNumberText, text, "%f",
                              static_cast<double>(AsReal(kind, source)));
        default:
            return -1;
    }
}

// ---------------------------------------------------------------------------------------------
// The conversion context
// ---------------------------------------------------------------------------------------------

// What VisitedObjects maps a source object to: its copies, one per pair of source and
// destination types. A hostile file may reference one object under two unrelated types; each
// reading gets a copy laid out for its own type, so no reference sees a copy of another layout.
struct ConvertedObject {
    Byte* destination;
    const Type* type;
    const Type* sourceType;
    ConvertedObject* next;
};

// Arrays are converted once per (source array, element types, count, widths), so that two
// members sharing one array share its converted copy and a cycle through arrays terminates.
struct ConvertedArray {
    const Type* sourceType;
    const Type* destinationType;
    int32_t kind;
    int32_t count;
    int32_t sourceWidth;
    int32_t destinationWidth;
    Byte* destination;
    ConvertedArray* next;
};

struct TypePair {
    const Type* source;
    const Type* destination;
    bool equal;
};

// A destination member with its size and the source member of the same name with its offset
// in the source object: matching by name is worked out once per pair of types in a tree.
struct MemberPair {
    const Type* destination;
    int32_t size;
    const Type* source;  // null when the source has no member of that name
    int32_t sourceOffset;
};

struct MemberPlan {
    const Type* sourceType;
    const Type* destinationType;
    int32_t count;
    MemberPair* pairs;
    MemberPlan* next;  // other source types for the same destination type
};

struct ConversionContext {
    PointerHash* visitedObjects = nullptr;
    PointerHash* visitedArrays = nullptr;
    PointerHash* plans = nullptr;  // destination type -> its MemberPlans; null for single objects
    MemberPlan* lastPlan = nullptr;
    orvane_memory_arena* records = nullptr;
    bool makeEmpty = true;
    bool writing = false;
    // Single-object conversion: no text storage, and nothing is reserved.
    bool singleObject = false;
    bool failed = false;
    Byte* base = nullptr;
    int64_t used = 0;
    // The most bytes the converted tree may take.
    int64_t limit = INT32_MAX;
    int32_t depth = 0;
    TypePair equalTypes[kEqualityCacheSize];
    int32_t equalTypeCount = 0;

    bool Open() {
        visitedObjects = NewPointerHash();
        visitedArrays = NewPointerHash();
        plans = NewPointerHash();
        records = OrvaneNewMemoryArena();
        return visitedObjects && visitedArrays && plans && records;
    }
    void Close() {
        DeletePointerHash(visitedObjects);
        DeletePointerHash(visitedArrays);
        DeletePointerHash(plans);
        if (records) OrvaneFreeMemoryArena(records);
        visitedObjects = visitedArrays = plans = nullptr;
        lastPlan = nullptr;
        records = nullptr;
    }
};

// Stops the conversion: nothing more is written or reserved.
void Fail(ConversionContext& context) {
    context.failed = true;
    context.writing = false;
}

// Reserves bytes at the reservation point, aligned relative to the start of the block; null
// when sizing (or after a failure).
Byte* Reserve(ConversionContext& context, int64_t bytes, int64_t alignment) {
    if (context.failed) return nullptr;
    const int64_t start = (context.used + alignment - 1) / alignment * alignment;
    if (bytes < 0 || start + bytes > context.limit) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin,
                         "Converted tree would exceed %d bytes; conversion abandoned",
                         static_cast<int>(context.limit));
        Fail(context);
        return nullptr;
    }
    context.used = start + bytes;
    return context.writing ? context.base + start : nullptr;
}

template <typename T>
T* NewRecord(ConversionContext& context) {
    void* memory = OrvaneMemoryArenaPush(context.records, static_cast<orvane_int32>(sizeof(T)));
    if (memory == nullptr) Fail(context);
    return static_cast<T*>(memory);
}

bool EnterLevel(ConversionContext& context) {
    if (context.failed) return false;
    if (++context.depth > kMaxConversionDepth) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin,
                         "Object tree nests deeper than %d levels; conversion abandoned",
                         static_cast<int>(kMaxConversionDepth));
        --context.depth;
        Fail(context);
        return false;
    }
    return true;
}

// Equal types are shared rather than converted; anything holding a curve counts as changed so
// that its curves are re-initialised (or rebuilt from the old layout).
bool TypesAreEqual(ConversionContext& context, const Type* source, const Type* destination) {
    for (int32_t i = 0; i < context.equalTypeCount; ++i) {
        const TypePair& pair = context.equalTypes[i];
        if (pair.source == source && pair.destination == destination) return pair.equal;
    }
    const bool equal = DataTypesAreEqual(source, destination, nullptr, OrvaneCurve2Type);
    const int32_t slot = context.equalTypeCount < kEqualityCacheSize
                             ? context.equalTypeCount++
                             : static_cast<int32_t>((reinterpret_cast<uintptr_t>(source) >> 5) %
                                                    static_cast<uintptr_t>(kEqualityCacheSize));
    context.equalTypes[slot] = {source, destination, equal};
    return equal;
}

bool IsCurveDescription(const Type* type) {
    if (type == nullptr) return false;
    if (type == OrvaneCurve2Type) return true;
    return type[0].Type == OrvaneVariantReferenceMember && type[1].Type == OrvaneEndMember &&
           DataTypesAreEqual(type, OrvaneCurve2Type, OrvaneStringDifference, nullptr);
}

// The member's data address is tracked as a number: without an object it is the member's
// offset (from address 0), which callers use to find where a member lies in a layout.
orvane_variant FindMatch(const Type* sourceType, const void* sourceObject, const char* name) {
    uintptr_t data = reinterpret_cast<uintptr_t>(sourceObject);
    for (const Type* member = sourceType; member && member->Type != OrvaneEndMember; ++member) {
        if (ConversionNamesMatch(member->Name, name))
            return {const_cast<Type*>(member), reinterpret_cast<void*>(data)};
        data += static_cast<uintptr_t>(NativeMemberSize(member));
    }
    return {nullptr, nullptr};
}

const MemberPlan* GetPlan(ConversionContext& context, const Type* sourceType,
                          const Type* destinationType) {
    if (context.plans == nullptr || context.failed) return nullptr;
    MemberPlan* plan = context.lastPlan;
    if (plan && plan->sourceType == sourceType && plan->destinationType == destinationType)
        return plan;
    void* head = nullptr;
    HashedPointerKeyExists(context.plans, destinationType, &head);
    for (plan = static_cast<MemberPlan*>(head); plan; plan = plan->next)
        if (plan->sourceType == sourceType) return context.lastPlan = plan;

    int32_t count = 0;
    for (const Type* member = destinationType; member && member->Type != OrvaneEndMember; ++member)
        ++count;
    plan = NewRecord<MemberPlan>(context);
    MemberPair* pairs =
        count ? static_cast<MemberPair*>(OrvaneMemoryArenaPush(
                    context.records, static_cast<orvane_int32>(sizeof(MemberPair)) * count))
              : nullptr;
    if (plan == nullptr || (count && pairs == nullptr)) {
        Fail(context);
        return nullptr;
    }
    for (int32_t i = 0; i < count; ++i) {
        const Type* member = destinationType + i;
        MemberPair& pair = pairs[i];
        pair = {member, NativeMemberSize(member), nullptr, 0};
        int32_t offset = 0;
        for (const Type* candidate = sourceType; candidate && candidate->Type != OrvaneEndMember;
             ++candidate) {
            if (ConversionNamesMatch(candidate->Name, member->Name)) {
                pair.source = candidate;
                pair.sourceOffset = offset;
                break;
            }
            offset += NativeMemberSize(candidate);
        }
    }
    *plan = {sourceType, destinationType, count, pairs, static_cast<MemberPlan*>(head)};
    SetPointerHashEntry(context.plans, destinationType, plan);
    return context.lastPlan = plan;
}

// Calls visit(destination member, its storage, source member or null, its data or null) for
// each destination member in order, until visit returns false. Storage is null when sizing.
template <typename Visit>
void ForEachMemberPair(ConversionContext& context, const Type* sourceType, const Byte* source,
                       const Type* destinationType, Byte* destination, Visit visit) {
    Byte* d = destination;
    if (const MemberPlan* plan = GetPlan(context, sourceType, destinationType)) {
        for (int32_t i = 0; i < plan->count; ++i) {
            const MemberPair& pair = plan->pairs[i];
            const bool matched = pair.source != nullptr && source != nullptr;
            if (!visit(pair.destination, d, matched ? pair.source : nullptr,
                       matched ? source + pair.sourceOffset : nullptr))
                return;
            d = Advance(d, pair.size);
        }
        return;
    }
    for (const Type* member = destinationType; member && member->Type != OrvaneEndMember;
         ++member) {
        const orvane_variant match =
            source ? FindMatch(sourceType, source, member->Name) : orvane_variant{nullptr, nullptr};
        if (!visit(member, d, match.Type, static_cast<const Byte*>(match.Object))) return;
        d = Advance(d, NativeMemberSize(member));
    }
}

// ---------------------------------------------------------------------------------------------
// Members of one object
// ---------------------------------------------------------------------------------------------

void MakeText(ConversionContext& context, int32_t sourceKind, const Byte* source,
              Byte* destination) {
    char text[kMaxNumberText];
    const int32_t length = FormatNumber(sourceKind, source, text);
    if (length < 0) return;  // no text for this kind: the string stays as emptying left it
    if (context.singleObject) {
        // There is no text storage beside a single object; the string is null rather than
        // text written over the object itself.
        if (context.writing) Store<char*>(destination, nullptr);
        return;
    }
    const int64_t bytes = (static_cast<int64_t>(length) + 1 + 3) / 4 * 4;
    Byte* at = Reserve(context, bytes, 4);
    if (!context.writing || at == nullptr) return;
    std::memset(at, 0, static_cast<size_t>(bytes));
    std::memcpy(at, text, static_cast<size_t>(length));
    Store<char*>(destination, reinterpret_cast<char*>(at));
}

void ConvertMember(ConversionContext& context, const Type* sourceMember, const Byte* source,
                   const Type* destinationMember, Byte* destination) {
    const int32_t sourceKind = sourceMember->Type;
    const int32_t destinationKind = destinationMember->Type;
    if (sourceKind == destinationKind) {
        if (!context.writing) return;
        const int32_t sourceSize = NativeMemberSize(sourceMember);
        const int32_t destinationSize = NativeMemberSize(destinationMember);
        std::memcpy(
            destination, source,
            static_cast<size_t>(sourceSize < destinationSize ? sourceSize : destinationSize));
        return;
    }
    if (destinationKind == OrvaneStringMember) {
        MakeText(context, sourceKind, source, destination);
        return;
    }
    if (!IsNumericKind(destinationKind) || !context.writing) return;
    const int32_t sourceWidth = OrvaneGetMemberArrayWidth(sourceMember);
    const int32_t destinationWidth = OrvaneGetMemberArrayWidth(destinationMember);
    const int32_t n = sourceWidth < destinationWidth ? sourceWidth : destinationWidth;
    const int32_t sourceUnit = MemberUnitSize(sourceKind, DataLayout::Native);
    const int32_t destinationUnit = MemberUnitSize(destinationKind, DataLayout::Native);
    for (int32_t i = 0; i < n; ++i)
        WriteElement(destinationKind, destination + static_cast<int64_t>(i) * destinationUnit,
                     sourceKind, source + static_cast<int64_t>(i) * sourceUnit);
}

void ConvertMembers(ConversionContext& context, const Type* sourceType, const Byte* source,
                    const Type* destinationType, Byte* destination) {
    if (!EnterLevel(context)) return;
    ForEachMemberPair(context, sourceType, source, destinationType, destination,
                      [&](const Type* member, Byte* d, const Type* sourceMember, const Byte* s) {
                          if (context.failed) return false;
                          if (context.makeEmpty && context.writing)
                              OrvaneMakeEmptyDataTypeMember(member, d);
                          if (sourceMember == nullptr) return true;
                          if (sourceMember->Type == OrvaneInlineMember) {
                              if (member->Type == OrvaneInlineMember)
                                  ConvertMembers(context, sourceMember->ReferenceType, s,
                                                 member->ReferenceType, d);
                          } else {
                              ConvertMember(context, sourceMember, s, member, d);
                          }
                          return true;
                      });
    --context.depth;
}

// ---------------------------------------------------------------------------------------------
// Trees
// ---------------------------------------------------------------------------------------------

Byte* ConvertObject(ConversionContext& context, const Type* sourceType, const void* source,
                    const Type* destinationType, Byte* slot, bool intoSlot);
void ConvertReferences(ConversionContext& context, const Type* sourceType, const Byte* source,
                       const Type* destinationType, Byte* destination);

ConvertedArray* FindConvertedArray(ConversionContext& context, const void* array,
                                   const ConvertedArray& key) {
    void* found = nullptr;
    if (!HashedPointerKeyExists(context.visitedArrays, array, &found)) return nullptr;
    for (auto* entry = static_cast<ConvertedArray*>(found); entry; entry = entry->next) {
        if (entry->kind == key.kind && entry->sourceType == key.sourceType &&
            entry->destinationType == key.destinationType && entry->count == key.count &&
            entry->sourceWidth == key.sourceWidth &&
            entry->destinationWidth == key.destinationWidth)
            return entry;
    }
    return nullptr;
}

bool RegisterConvertedArray(ConversionContext& context, const void* array,
                            const ConvertedArray& key, Byte* destination) {
    auto* entry = NewRecord<ConvertedArray>(context);
    if (entry == nullptr) return false;
    *entry = key;
    entry->destination = destination;
    void* head = nullptr;
    entry->next = HashedPointerKeyExists(context.visitedArrays, array, &head)
                      ? static_cast<ConvertedArray*>(head)
                      : nullptr;
    SetPointerHashEntry(context.visitedArrays, array, entry);
    return true;
}

// Bytes of count groups of width elements of size bytes, or -1 past INT32_MAX.
int64_t ArrayBytes(int32_t count, int32_t width, int32_t size) {
    const int64_t elements = static_cast<int64_t>(count) * width;
    if (size != 0 && elements > INT32_MAX / size) return -1;
    return elements * size;
}

void ClearArrayMember(ConversionContext& context, int32_t kind, Byte* destination) {
    if (!context.writing) return;
    const MemberSlots slots = GetMemberSlots(kind, DataLayout::Native);
    Store<int32_t>(destination + slots.count, 0);
    Store<void*>(destination + slots.pointer, nullptr);
}

// ReferenceToArrayMember: every slot of the new array holds a converted element (elements are
// converted into their slots even when a reference elsewhere already converted the same source
// object); slots beyond the source width are empty objects. ArrayOfReferencesMember: every slot
// refers to the converted object; slots beyond the source width are null.
template <orvane_member_type Kind>
void ConvertArrayMember(ConversionContext& context, const Type* sourceMember, const Byte* source,
                        const Type* destinationMember, Byte* destination) {
    const Type* sourceType = sourceMember->ReferenceType;
    const Type* destinationType = destinationMember->ReferenceType;
    // Unchanged elements in unchanged groups are shared with the source; groups of another
    // width are regrouped, since the shared array would hold count x source width elements.
    if (OrvaneGetMemberArrayWidth(sourceMember) == OrvaneGetMemberArrayWidth(destinationMember) &&
        TypesAreEqual(context, sourceType, destinationType))
        return;
    const MemberSlots slots = GetMemberSlots(Kind, DataLayout::Native);
    const int32_t count = Load<int32_t>(source + slots.count);
    const Byte* array = Load<const Byte*>(source + slots.pointer);
    if (count <= 0 || array == nullptr) {
        ClearArrayMember(context, Kind, destination);
        return;
    }
    const ConvertedArray key = {sourceType,
                                destinationType,
                                Kind,
                                count,
                                OrvaneGetMemberArrayWidth(sourceMember),
                                OrvaneGetMemberArrayWidth(destinationMember),
                                nullptr,
                                nullptr};
    Byte* target = nullptr;
    if (ConvertedArray* shared = FindConvertedArray(context, array, key)) {
        target = shared->destination;
    } else if constexpr (Kind == OrvaneReferenceToArrayMember) {
        const int32_t sourceSize = NativeObjectSize(sourceType);
        const int32_t destinationSize = NativeObjectSize(destinationType);
        target = Reserve(context, ArrayBytes(count, key.destinationWidth, destinationSize),
                         kPointerBytes);
        if (context.failed || !RegisterConvertedArray(context, array, key, target)) return;
        if (destinationSize > 0) {
            const Byte* s = array;
            Byte* d = target;
            for (int32_t group = 0; group < count && !context.failed; ++group) {
                for (int32_t i = 0; i < key.sourceWidth; ++i, s += sourceSize) {
                    if (i >= key.destinationWidth) continue;
                    ConvertObject(context, sourceType, s, destinationType, d, true);
                    d = Advance(d, destinationSize);
                }
                for (int32_t i = key.sourceWidth; i < key.destinationWidth; ++i) {
                    if (context.writing) OrvaneMakeEmptyDataTypeObject(destinationType, d);
                    d = Advance(d, destinationSize);
                }
            }
        }
    } else {
        const int64_t bytes = ArrayBytes(count, key.destinationWidth, kPointerBytes);
        target = Reserve(context, bytes, kPointerBytes);
        if (context.failed || !RegisterConvertedArray(context, array, key, target)) return;
        if (context.writing) std::memset(target, 0, static_cast<size_t>(bytes));
        const Byte* s = array;
        Byte* d = target;
        for (int32_t group = 0; group < count && !context.failed; ++group) {
            for (int32_t i = 0; i < key.sourceWidth; ++i, s += kPointerBytes) {
                if (i >= key.destinationWidth) continue;
                Byte* copy = ConvertObject(context, sourceType, Load<const void*>(s),
                                           destinationType, nullptr, false);
                if (context.writing) Store<void*>(d, copy);
                d = Advance(d, kPointerBytes);
            }
            if (key.destinationWidth > key.sourceWidth)
                d = Advance(d, static_cast<int64_t>(key.destinationWidth - key.sourceWidth) *
                                   kPointerBytes);
        }
    }
    if (context.writing) {
        Store<int32_t>(destination + slots.count, count);
        Store<void*>(destination + slots.pointer, target);
    }
}

const Type* TypeTableEntry(const Type* table, int32_t index) {
    auto* entries = reinterpret_cast<Type* const*>(table);
    if (entries == nullptr || index < 0) return nullptr;
    for (int32_t i = 0; entries[i] != nullptr; ++i)
        if (i == index) return entries[i];
    return nullptr;
}

void ConvertSwitchableMember(ConversionContext& context, const Type* sourceMember,
                             const Byte* source, const Type* destinationMember, Byte* destination) {
    const MemberSlots slots = GetMemberSlots(OrvaneSwitchableTypeMember, DataLayout::Native);
    const int32_t index = Load<int32_t>(source + slots.count);
    const Type* sourceType = TypeTableEntry(sourceMember->ReferenceType, index);
    const Type* destinationType = TypeTableEntry(destinationMember->ReferenceType, index);
    if (sourceType == nullptr || destinationType == nullptr) {
        // An index outside either table names no type: the object cannot be used as either.
        if (context.writing) Store<void*>(destination + slots.pointer, nullptr);
        return;
    }
    if (TypesAreEqual(context, sourceType, destinationType)) return;
    Byte* copy = ConvertObject(context, sourceType, Load<const void*>(source + slots.pointer),
                               destinationType, nullptr, false);
    if (context.writing) Store<void*>(destination + slots.pointer, copy);
}

// The source object holds a curve in the old layout (degree, knots, controls); the destination
// curve (at `curve`) gets DaK32fC32f data wrapping the (converted or shared) arrays.
void ConvertOldCurve(ConversionContext& context, const Type* sourceType, const Byte* source,
                     Byte* curve) {
    Byte* data = Reserve(context, static_cast<int64_t>(sizeof(orvane_curve_data_da_k32f_c32f)),
                         kPointerBytes);
    orvane_old_curve old = {};
    ConvertObject(context, sourceType, source, OrvaneOldCurveType,
                  context.writing ? reinterpret_cast<Byte*>(&old) : nullptr, true);
    if (!context.writing || data == nullptr) return;
    int32_t knotCount = old.Knots ? old.KnotCount : 0;
    if (knotCount < 0) knotCount = 0;
    const int32_t controlCount = old.Controls && old.ControlCount > 0 ? old.ControlCount : 0;
    const int32_t dimension = knotCount > 0 ? controlCount / knotCount : 0;
    OrvaneCurveMakeStaticDaK32fC32f(reinterpret_cast<orvane_curve2*>(curve), data, knotCount,
                                    old.Degree, dimension, old.Knots, old.Controls);
}

void ConvertReferences(ConversionContext& context, const Type* sourceType, const Byte* source,
                       const Type* destinationType, Byte* destination) {
    if (source == nullptr || !EnterLevel(context)) return;
    ForEachMemberPair(
        context, sourceType, source, destinationType, destination,
        [&](const Type* member, Byte* d, const Type* sourceMember, const Byte* s) {
            if (context.failed) return false;
            if (sourceMember == nullptr || sourceMember->Type != member->Type) {
                if (!IsCurveDescription(member)) return true;
                ConvertOldCurve(context, sourceType, source, d);
                return false;
            }
            switch (member->Type) {
                case OrvaneInlineMember:
                    if (!TypesAreEqual(context, sourceMember->ReferenceType, member->ReferenceType))
                        ConvertReferences(context, sourceMember->ReferenceType, s,
                                          member->ReferenceType, d);
                    break;
                case OrvaneReferenceMember:
                    if (!TypesAreEqual(context, sourceMember->ReferenceType,
                                       member->ReferenceType)) {
                        Byte* copy = ConvertObject(context, sourceMember->ReferenceType,
                                                   Load<const void*>(s), member->ReferenceType,
                                                   nullptr, false);
                        if (context.writing) Store<void*>(d, copy);
                    }
                    break;
                case OrvaneReferenceToArrayMember:
                    ConvertArrayMember<OrvaneReferenceToArrayMember>(context, sourceMember, s,
                                                                     member, d);
                    break;
                case OrvaneArrayOfReferencesMember:
                    ConvertArrayMember<OrvaneArrayOfReferencesMember>(context, sourceMember, s,
                                                                      member, d);
                    break;
                case OrvaneSwitchableTypeMember:
                    ConvertSwitchableMember(context, sourceMember, s, member, d);
                    break;
                default:
                    break;  // variants keep the source's type and object; plain values
            }
            return true;
        });
    if (context.writing && destination && IsCurveDescription(destinationType))
        OrvaneCurveInitializeFormat(reinterpret_cast<orvane_curve2*>(destination));
    --context.depth;
}

// Converts one object. Objects reached through pointers (intoSlot false) are reserved, entered
// in VisitedObjects and converted once; array elements and the temporary old curve are
// converted into the slot given, every time.
Byte* ConvertObject(ConversionContext& context, const Type* sourceType, const void* source,
                    const Type* destinationType, Byte* slot, bool intoSlot) {
    if (source == nullptr || context.failed) return nullptr;
    Byte* destination = slot;
    if (!intoSlot) {
        void* found = nullptr;
        const bool seen = HashedPointerKeyExists(context.visitedObjects, source, &found);
        for (auto* copy = static_cast<ConvertedObject*>(found); seen && copy; copy = copy->next) {
            if (copy->sourceType == sourceType && copy->type == destinationType)
                return copy->destination;
        }
        destination = Reserve(context, NativeObjectSize(destinationType), kPointerBytes);
        auto* record = NewRecord<ConvertedObject>(context);
        if (context.failed || record == nullptr) return nullptr;
        *record = {destination, destinationType, sourceType, static_cast<ConvertedObject*>(found)};
        SetPointerHashEntry(context.visitedObjects, source, record);
        if (GetHashedPointer(context.visitedObjects, source) != record) {
            Fail(context);
            return nullptr;
        }
    }
    const Byte* s = static_cast<const Byte*>(source);
    ConvertMembers(context, sourceType, s, destinationType, destination);
    ConvertReferences(context, sourceType, s, destinationType, destination);
    return destination;
}

// ---------------------------------------------------------------------------------------------
// Fix-up of pointers still aimed at converted source objects
// ---------------------------------------------------------------------------------------------

struct WalkItem {
    const Type* type;
    Byte* object;
};

class FixUpWalk {
public:
    explicit FixUpWalk(ConversionContext& context) : context_(context) {}
    ~FixUpWalk() {
        DeletePointerHash(objects_);
        DeletePointerHash(arrays_);
    }

    bool Run(const Type* type, Byte* root) {
        objects_ = NewPointerHash();
        arrays_ = NewPointerHash();
        if (!objects_ || !arrays_) return false;
        Visit(type, root);
        WalkItem item;
        while (ok_ && stack_.Pop(&item))
            Walk(item);
        return ok_;
    }

private:
    // Only the converted block is walked: objects shared with the source are left as they are.
    bool InBlock(const void* p) const {
        const Byte* b = static_cast<const Byte*>(p);
        return b >= context_.base && b < context_.base + context_.used;
    }

    // The copy of a converted source object, when the copy has the type this pointer expects.
    void* Redirect(void* pointer, const Type* expected) {
        void* found = nullptr;
        if (pointer == nullptr || !HashedPointerKeyExists(context_.visitedObjects, pointer, &found))
            return pointer;
        for (auto* record = static_cast<const ConvertedObject*>(found); record;
             record = record->next) {
            if (record->type == expected ||
                DataTypesAreEqual(expected, record->type, nullptr, nullptr))
                return record->destination;
        }
        return pointer;
    }

    void Push(const Type* type, Byte* object) {
        if (!stack_.Push({type, object})) ok_ = false;
    }

    void Visit(const Type* type, void* object) {
        if (object == nullptr || type == nullptr || !InBlock(object)) return;
        if (!OrvaneTypeHasPointers(type)) return;
        if (HashedPointerKeyExists(objects_, object, nullptr)) return;
        if (!AddPointerHashEntry(objects_, object, nullptr)) {
            ok_ = false;
            return;
        }
        Push(type, static_cast<Byte*>(object));
    }

    // Arrays in the block are walked once even when several members share them.
    bool FirstVisitOfArray(void* array) {
        if (array == nullptr || !InBlock(array)) return false;
        if (HashedPointerKeyExists(arrays_, array, nullptr)) return false;
        if (!AddPointerHashEntry(arrays_, array, nullptr)) {
            ok_ = false;
            return false;
        }
        return true;
    }

    void Walk(const WalkItem& item) {
        for (MemberIterator it = MemberIterator::OverMembers(item.type, item.object); it.Valid();
             it.Advance()) {
            switch (it.kind) {
                case OrvaneInlineMember:
                    if (OrvaneTypeHasPointers(it.member->ReferenceType))
                        Push(it.member->ReferenceType, it.data);
                    break;
                case OrvaneReferenceMember:
                case OrvaneSwitchableTypeMember:
                case OrvaneVariantReferenceMember: {
                    const Type* type = it.Type();
                    void* pointer = Redirect(it.Pointer(), type);
                    it.SetPointer(pointer);
                    Visit(type, pointer);
                    break;
                }
                case OrvaneReferenceToArrayMember:
                case OrvaneReferenceToVariantArrayMember: {
                    const Type* type = it.Type();
                    void* array = it.ArrayPointer();
                    if (!OrvaneTypeHasPointers(type) || !FirstVisitOfArray(array)) break;
                    const int32_t size = NativeObjectSize(type);
                    const int32_t count = it.Count();
                    for (int32_t i = 0; i < count; ++i)
                        Push(type, static_cast<Byte*>(array) + static_cast<int64_t>(i) * size);
                    break;
                }
                case OrvaneArrayOfReferencesMember: {
                    const Type* type = it.Type();
                    void* array = it.ArrayPointer();
                    if (!FirstVisitOfArray(array)) break;
                    const int32_t count = it.Count();
                    for (int32_t i = 0; i < count; ++i) {
                        Byte* entry =
                            static_cast<Byte*>(array) + static_cast<int64_t>(i) * kPointerBytes;
                        void* pointer = Redirect(Load<void*>(entry), type);
                        Store<void*>(entry, pointer);
                        Visit(type, pointer);
                    }
                    break;
                }
                default:
                    break;
            }
        }
    }

    ConversionContext& context_;
    PointerHash* objects_ = nullptr;
    PointerHash* arrays_ = nullptr;
    Array<WalkItem> stack_;
    bool ok_ = true;
};

// The sizing pass (memory null) or the writing pass. Returns the root's copy (null when
// sizing) and the bytes used; false when the conversion failed.
bool RunTreeConversion(const Type* sourceType, const void* root, const Type* destinationType,
                       Byte* memory, int32_t* used, Byte** result, int64_t limit = INT32_MAX) {
    *used = 0;
    *result = nullptr;
    if (root == nullptr) return true;
    ConversionContext context;
    context.limit = limit < INT32_MAX ? limit : INT32_MAX;
    context.makeEmpty = true;
    context.writing = memory != nullptr;
    context.base = memory;
    bool ok = context.Open();
    if (ok) {
        Byte* copy = ConvertObject(context, sourceType, root, destinationType, nullptr, false);
        ok = !context.failed;
        if (ok && context.writing) {
            FixUpWalk walk(context);
            ok = walk.Run(destinationType, copy);
        }
        *result = copy;
        *used = static_cast<int32_t>(context.used);
    }
    context.Close();
    if (!ok) *result = nullptr;
    return ok;
}

int32_t ConvertSingle(const Type* sourceType, const void* source, const Type* destinationType,
                      void* destination, bool makeEmpty) {
    ConversionContext context;
    context.makeEmpty = makeEmpty;
    context.writing = destination != nullptr;
    context.singleObject = true;
    context.base = static_cast<Byte*>(destination);
    ConvertMembers(context, sourceType, static_cast<const Byte*>(source), destinationType,
                   static_cast<Byte*>(destination));
    return 0;
}

}  // namespace

bool ConversionNamesMatch(const char* a, const char* b) {
    // The application's comparison decides when it has installed one; otherwise member
    // matching folds case.
    if (orvane_string_comparison_callback compare = GetStringComparisonCallback())
        return compare(a, b) == 0;
    return StringsAreEqualLowercase(a, b);
}

bool GetConvertedTreeSize(const orvane_data_type_definition* sourceType, const void* sourceRoot,
                          const orvane_data_type_definition* destinationType, int32_t* size) {
    Byte* unused = nullptr;
    return RunTreeConversion(sourceType, sourceRoot, destinationType, nullptr, size, &unused);
}

void* ConvertTreeWithinLimit(const orvane_data_type_definition* sourceType, const void* sourceRoot,
                             const orvane_data_type_definition* destinationType,
                             int64_t limitBytes) {
    if (sourceRoot == nullptr) return nullptr;
    int32_t size = 0;
    Byte* root = nullptr;
    {
        ORVANE_TIMING_BLOCK("GetConvertedTreeSize");
        if (!RunTreeConversion(sourceType, sourceRoot, destinationType, nullptr, &size, &root,
                               limitBytes))
            return nullptr;
    }
    // Pointer alignment, so that arrays of pointers inside the block are naturally aligned.
    void* memory = ORVANE_ALLOCATE(alignof(void*), size > 0 ? static_cast<size_t>(size) : 4);
    if (memory == nullptr) return nullptr;
    bool converted = false;
    {
        ORVANE_TIMING_BLOCK("ConvertTreeInPlace");
        converted = RunTreeConversion(sourceType, sourceRoot, destinationType,
                                      static_cast<Byte*>(memory), &size, &root, limitBytes);
    }
    if (!converted || root == nullptr) {
        ORVANE_DEALLOCATE(memory);
        return nullptr;
    }
    return root;
}

}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API orvane_variant OrvaneFindMatchingMember(const orvane_data_type_definition* SourceType,
                                                   const void* SourceObject,
                                                   const char* DestinationMemberName) {
    return FindMatch(SourceType, SourceObject, DestinationMemberName);
}

ORVANE_API orvane_int32 OrvaneConvertSingleObject(
    const orvane_data_type_definition* SourceType, const void* SourceObject,
    const orvane_data_type_definition* DestinationType, void* DestinationObject) {
    return ConvertSingle(SourceType, SourceObject, DestinationType, DestinationObject, true);
}

ORVANE_API orvane_int32 OrvaneMergeSingleObject(const orvane_data_type_definition* SourceType,
                                                const void* SourceObject,
                                                const orvane_data_type_definition* DestinationType,
                                                void* DestinationObject) {
    return ConvertSingle(SourceType, SourceObject, DestinationType, DestinationObject, false);
}

ORVANE_API orvane_int32
OrvaneGetConvertedTreeSize(const orvane_data_type_definition* SourceType, const void* SourceRoot,
                           const orvane_data_type_definition* DestinationType) {
    ORVANE_TIMING_BLOCK("GetConvertedTreeSize");
    int32_t size = 0;
    return GetConvertedTreeSize(SourceType, SourceRoot, DestinationType, &size) ? size : 0;
}

ORVANE_API void* OrvaneConvertTreeInPlace(const orvane_data_type_definition* SourceType,
                                          const void* SourceRoot,
                                          const orvane_data_type_definition* DestinationType,
                                          void* Memory) {
    ORVANE_TIMING_BLOCK("ConvertTreeInPlace");
    if (SourceRoot == nullptr) return nullptr;
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, Memory, nullptr);
    int32_t used = 0;
    Byte* root = nullptr;
    RunTreeConversion(SourceType, SourceRoot, DestinationType, static_cast<Byte*>(Memory), &used,
                      &root);
    return root;
}

ORVANE_API void* OrvaneConvertTree(const orvane_data_type_definition* SourceType,
                                   const void* SourceRoot,
                                   const orvane_data_type_definition* DestinationType) {
    ORVANE_TIMING_BLOCK("ConvertTree");
    return ConvertTreeWithinLimit(SourceType, SourceRoot, DestinationType, INT32_MAX);
}

}  // extern "C"

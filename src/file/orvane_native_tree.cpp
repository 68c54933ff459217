// The native tree of a loaded file.
//
// Section memory keeps the file layout: 4-byte pointer slots holding handles. The tree gives
// the application native records instead:
//   - every type description reached becomes a native description, once per file record
//     array (preceded by a NativeTypeInfo with its sizes in both layouts);
//   - objects whose types have pointer slots are copied into their native layout, with every
//     slot resolved through the file's pointer table;
//   - objects without pointer slots (vertex and index arrays above all) and strings are used in
//     place, after checking that they lie inside their section.
// A map from (file address, native type) to the copy keeps shared objects shared and makes
// cycles terminate; the walk runs on explicit work stacks, so long chains of objects cannot
// exhaust the machine stack, and a visit budget proportional to the loaded bytes bounds the
// work a damaged file can cause.
//
// Copies live in per-section arenas. When sections change, the next update walks the tree
// again: copies that exist keep their addresses and get their pointers resolved anew (values
// stay as they are, so changes the application made survive); copies of a freed section are
// released with it and made again if their section returns.
#include "file/orvane_native_tree.h"

#include <cstring>
#include <new>

#include "core/orvane_array.h"
#include "core/orvane_flat_map.h"
#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "diag/orvane_timing.h"
#include "file/orvane_file_format.h"
#include "types/orvane_type_layout.h"

namespace orvane {
namespace {

using Definition = orvane_data_type_definition;

constexpr int32_t kNativePointerSize = static_cast<int32_t>(sizeof(void*));
// Map key tags for what is not an object: native descriptions and type tables. Objects are
// keyed by their native type (aligned, so never 1 or 2); arrays of pointers by type | 3.
constexpr uintptr_t kDescriptionKey = 1;
constexpr uintptr_t kTypeTableKey = 2;
constexpr uintptr_t kPointerArrayTag = 3;
// Copies of the library's own descriptions and type tables (see LibraryDescription).
constexpr uintptr_t kLibraryDescriptionKey = 4;
constexpr uintptr_t kLibraryTypeTableKey = 5;

constexpr size_t kFirstArenaBlock = 64 * 1024;
constexpr size_t kLargestArenaBlock = 4 * 1024 * 1024;
constexpr int64_t kBaseVisitBudget = 1 << 20;

// Precedes the records of every native description.
struct NativeTypeInfo {
    int32_t fileSize;
    int32_t nativeSize;
    int32_t recordCount;
    uint8_t state;  // LayoutState
    uint8_t inPlace;
    uint8_t alignment;  // of the widest value member, at most 4: what an in-place object needs
    uint8_t unused;
};
static_assert(sizeof(NativeTypeInfo) == 16, "records follow at an 8-byte boundary");

enum LayoutState : uint8_t { kLayoutUnknown = 0, kLayoutComputing, kLayoutKnown, kLayoutMalformed };

NativeTypeInfo* InfoOf(const Definition* type) {
    return reinterpret_cast<NativeTypeInfo*>(
        reinterpret_cast<char*>(const_cast<Definition*>(type)) - sizeof(NativeTypeInfo));
}

struct ArenaBlock {
    ArenaBlock* next;
    size_t capacity;
    size_t used;
    size_t unused;
    char* Data() { return reinterpret_cast<char*>(this + 1); }
};
static_assert(sizeof(ArenaBlock) % 16 == 0);

// A map entry: keyed by (file address, type key), holding the copy made for it.
struct EntryKey {
    uintptr_t address;
    uintptr_t type;
};
struct Entry {
    void* native;
    uint32_t remaining;  // elements of the same copy from this one on
    uint32_t generation;
    int32_t section;
};

// Deferred work: filling a copy (or an array of pointers, or a description) from file data.
enum class WorkKind : uint8_t { Objects, PointerArray, Description, TypeTable };

struct Work {
    const unsigned char* source;
    void* destination;
    const Definition* type;
    int32_t count;
    WorkKind kind;
    bool values;  // copy values too (a new copy), not only pointers
};

}  // namespace
}  // namespace orvane

struct orvane_native_tree {
    int32_t sectionCount = 0;
    orvane::ArenaBlock** arenas = nullptr;
    orvane::FlatMap<orvane::EntryKey, orvane::Entry> entries;
    uint32_t generation = 0;
    bool upToDate = false;
    orvane_variant root = {nullptr, nullptr};
    // The root read as a file info of the current layout when the file stores the root's type
    // as the empty description; null otherwise.
    void* rootFileInfo = nullptr;
    orvane::Array<orvane::Work> work;
};

namespace orvane {
namespace {

// ---------------------------------------------------------------------------------------------
// The map
// ---------------------------------------------------------------------------------------------

Entry* FindEntry(orvane_native_tree* tree, uintptr_t address, uintptr_t type) {
    return tree->entries.Find(EntryKey{address, type});
}

// The entry of the key, made when missing (its native pointer null); null when out of memory.
Entry* InsertEntry(orvane_native_tree* tree, uintptr_t address, uintptr_t type) {
    bool added = false;
    Entry* entry = tree->entries.FindOrInsert(EntryKey{address, type}, &added);
    if (entry != nullptr && added) *entry = {nullptr, 0, 0, -1};
    return entry;
}

// ---------------------------------------------------------------------------------------------
// Arenas
// ---------------------------------------------------------------------------------------------

// Zeroed memory kept with the section; null when out of memory.
void* ArenaAllocate(orvane_native_tree* tree, int32_t section, size_t bytes) {
    bytes = (bytes + 7) & ~size_t{7};
    ArenaBlock* head = tree->arenas[section];
    if (head == nullptr || head->capacity - head->used < bytes) {
        size_t capacity = head ? head->capacity * 2 : kFirstArenaBlock;
        if (capacity > kLargestArenaBlock) capacity = kLargestArenaBlock;
        if (capacity < bytes) capacity = bytes;
        auto* block = static_cast<ArenaBlock*>(ORVANE_ALLOCATE(16, sizeof(ArenaBlock) + capacity));
        if (block == nullptr) return nullptr;
        block->capacity = capacity;
        block->used = 0;
        block->unused = 0;
        block->next = head;
        tree->arenas[section] = head = block;
    }
    void* memory = head->Data() + head->used;
    head->used += bytes;
    std::memset(memory, 0, bytes);
    return memory;
}

void FreeArena(orvane_native_tree* tree, int32_t section) {
    ArenaBlock* block = tree->arenas[section];
    while (block != nullptr) {
        ArenaBlock* next = block->next;
        ORVANE_DEALLOCATE(block);
        block = next;
    }
    tree->arenas[section] = nullptr;
}

// ---------------------------------------------------------------------------------------------
// The walk
// ---------------------------------------------------------------------------------------------

struct Builder {
    orvane_native_tree* tree;
    orvane_file_sections sections;
    int32_t hint = 0;
    bool failed = false;
    bool drainingTypes = false;
    int64_t budget = 0;

    // Reports the first fault of an update; the update then only unwinds.
    template <typename... Args>
    void Fail(const char* format, Args... args) {
        if (!failed) LogMessage(OrvaneErrorMessage, OrvaneFileReadingOrigin, format, args...);
        failed = true;
    }
    bool Spend(int64_t visits) {
        budget -= visits;
        if (budget < 0) {
            Fail("%s(%d): File's object tree is too large or too tangled to load",
                 ORVANE_SOURCE_FILE, static_cast<int32_t>(__LINE__));
        }
        return !failed;
    }

    const void* Decode(const void* slot, uint32_t* available) {
        const void* address = DecodePointerSlot(&sections, slot, available, &hint);
        if (address != nullptr && available != nullptr && *available == 0) {
            // The end of one section may be the start of the next when the caller placed
            // them back to back: the address then belongs to the one that starts there.
            for (int32_t i = 0; i < sections.SectionCount; ++i) {
                if (sections.Sections[i] == address && sections.SectionTable[i].ExpandedSize) {
                    *available = sections.SectionTable[i].ExpandedSize;
                    break;
                }
            }
        }
        return address;
    }
    int32_t SectionOf(const void* address, uint32_t extent) {
        return FindLoadedSection(&sections, address, extent, &hint);
    }
    static const void* ResolveRecordSlot(void* self, const void* slot) {
        return static_cast<Builder*>(self)->Decode(slot, nullptr);
    }
    static bool RecordInSection(void* self, const void* record) {
        return static_cast<Builder*>(self)->SectionOf(record, kFileRecordSize) >= 0;
    }

    bool Push(const Work& work) {
        if (!tree->work.Push(work)) Fail("%s(%d): Out of memory", ORVANE_SOURCE_FILE, __LINE__);
        return !failed;
    }

    // Marks an existing entry as reached in this update; true when its copy needs its
    // pointers resolved again.
    bool Reach(Entry* entry) {
        if (entry->generation == tree->generation) return false;
        entry->generation = tree->generation;
        return true;
    }

    Entry* NewEntry(uintptr_t address, uintptr_t type, void* native, uint32_t remaining,
                    int32_t section) {
        Entry* entry = InsertEntry(tree, address, type);
        if (entry == nullptr) {
            Fail("%s(%d): Out of memory", ORVANE_SOURCE_FILE, __LINE__);
            return nullptr;
        }
        entry->native = native;
        entry->remaining = remaining;
        entry->generation = tree->generation;
        entry->section = section;
        return entry;
    }

    // Descriptions ------------------------------------------------------------------------

    Definition* Description(const void* records) {
        if (records == nullptr || failed) return nullptr;
        const uintptr_t key = reinterpret_cast<uintptr_t>(records);
        if (Entry* entry = FindEntry(tree, key, kDescriptionKey)) {
            auto* type = static_cast<Definition*>(entry->native);
            if (Reach(entry)) {
                Push({static_cast<const unsigned char*>(records), type, type,
                      InfoOf(type)->recordCount, WorkKind::Description, false});
                // Its references may lead into sections that changed: they must be current
                // before any object is laid out by it.
                DrainTypes();
            }
            return type;
        }
        const TypeRecords fileRecords =
            TypeRecords::File(&ResolveRecordSlot, &RecordInSection, this);
        int32_t count = 0;
        if (!GetTypeRecordCount(fileRecords, records, &count) || count <= 0 || !Spend(count)) {
            Fail(
                "%s(%d): Type description in file section %d is unterminated or leaves its "
                "section",
                ORVANE_SOURCE_FILE, static_cast<int32_t>(__LINE__), SectionOf(records, 0));
            return nullptr;
        }
        const int32_t section = SectionOf(records, kFileRecordSize);
        Definition* type = NewDescription(section, count);
        if (type == nullptr) return nullptr;
        if (NewEntry(key, kDescriptionKey, type, 1, section) == nullptr) return nullptr;
        Push({static_cast<const unsigned char*>(records), type, type, count, WorkKind::Description,
              true});
        DrainTypes();
        return type;
    }

    // Room for a description of count records, after its layout record, kept with the section.
    Definition* NewDescription(int32_t section, int32_t count) {
        auto* info = static_cast<NativeTypeInfo*>(ArenaAllocate(
            tree, section, sizeof(NativeTypeInfo) + sizeof(Definition) * size_t(count)));
        if (info == nullptr) {
            Fail("%s(%d): Out of memory", ORVANE_SOURCE_FILE, __LINE__);
            return nullptr;
        }
        info->recordCount = count;
        return reinterpret_cast<Definition*>(info + 1);
    }

    // A copy, with its layout record, of one of the library's own descriptions and of the
    // descriptions it refers to, kept with the section given. It reads a root whose file
    // stores the empty description for it under the current type tag: the tag names the
    // root's layout, which the file then does not hold.
    Definition* LibraryDescription(const Definition* type, int32_t section, int32_t depth) {
        if (type == nullptr || failed) return nullptr;
        if (depth > kMaxInlineDepth) {
            Fail("%s(%d): Type description nests references too deeply", ORVANE_SOURCE_FILE,
                 static_cast<int32_t>(__LINE__));
            return nullptr;
        }
        const uintptr_t key = reinterpret_cast<uintptr_t>(type);
        if (Entry* entry = FindEntry(tree, key, kLibraryDescriptionKey))
            return static_cast<Definition*>(entry->native);
        int32_t count = 1;
        while (type[count - 1].Type != OrvaneEndMember)
            ++count;
        Definition* copy = NewDescription(section, count);
        if (copy == nullptr) return nullptr;
        std::memcpy(static_cast<void*>(copy), type, sizeof(Definition) * size_t(count));
        if (NewEntry(key, kLibraryDescriptionKey, copy, 1, section) == nullptr) return nullptr;
        for (int32_t k = 0; k + 1 < count && !failed; ++k) {
            Definition& member = copy[k];
            member.TraversalMark = 0;
            if (member.ReferenceType == nullptr) continue;
            if (member.Type >= OrvaneInlineMember && member.Type <= OrvaneArrayOfReferencesMember) {
                member.ReferenceType = LibraryDescription(member.ReferenceType, section, depth + 1);
            } else if (member.Type == OrvaneSwitchableTypeMember) {
                member.ReferenceType = reinterpret_cast<Definition*>(
                    LibraryTypeTable(reinterpret_cast<Definition* const*>(type[k].ReferenceType),
                                     section, depth + 1));
            } else {
                member.ReferenceType = nullptr;
            }
        }
        return failed ? nullptr : copy;
    }

    Definition** LibraryTypeTable(Definition* const* table, int32_t section, int32_t depth) {
        if (table == nullptr || failed) return nullptr;
        const uintptr_t key = reinterpret_cast<uintptr_t>(table);
        if (Entry* entry = FindEntry(tree, key, kLibraryTypeTableKey))
            return static_cast<Definition**>(entry->native);
        size_t count = 0;
        while (table[count] != nullptr)
            ++count;
        auto* copy = static_cast<Definition**>(
            ArenaAllocate(tree, section, sizeof(Definition*) * (count + 1)));
        if (copy == nullptr) {
            Fail("%s(%d): Out of memory", ORVANE_SOURCE_FILE, __LINE__);
            return nullptr;
        }
        if (NewEntry(key, kLibraryTypeTableKey, copy, uint32_t(count), section) == nullptr)
            return nullptr;
        for (size_t i = 0; i < count && !failed; ++i)
            copy[i] = LibraryDescription(table[i], section, depth);
        copy[count] = nullptr;
        return copy;
    }

    // Fills (or refreshes) a description: its names and references may lie in any section.
    void FillDescription(const Work& work) {
        auto* type = static_cast<Definition*>(work.destination);
        // Inline references may change with the sections: the layout is worked out again.
        InfoOf(type)->state = kLayoutUnknown;
        for (int32_t k = 0; k < work.count && !failed; ++k) {
            const unsigned char* record = work.source + size_t(k) * kFileRecordSize;
            Definition& member = type[k];
            std::memcpy(&member.Type, record, 4);
            std::memcpy(&member.ArrayWidth, record + 12, 4);
            std::memcpy(member.Extra, record + 16, 12);
            member.TraversalMark = 0;
            if (!IsValidMemberKind(member.Type)) {
                Fail("%s(%d): Type description member has the unknown kind %d", ORVANE_SOURCE_FILE,
                     static_cast<int32_t>(__LINE__), member.Type);
                return;
            }
            uint32_t available = 0;
            const void* name = Decode(record + 4, &available);
            if (name != nullptr && std::memchr(name, 0, available) == nullptr) {
                Fail("%s(%d): Member name is not terminated inside its file section",
                     ORVANE_SOURCE_FILE, static_cast<int32_t>(__LINE__));
                return;
            }
            member.Name = static_cast<const char*>(name);
            if (member.Type == OrvaneSwitchableTypeMember) {
                member.ReferenceType = reinterpret_cast<Definition*>(TypeTable(record + 8));
            } else {
                member.ReferenceType = Description(Decode(record + 8, nullptr));
            }
        }
    }

    // A type table: slots up to a null one, as native description pointers.
    Definition** TypeTable(const void* slot) {
        uint32_t available = 0;
        const void* table = Decode(slot, &available);
        if (table == nullptr || failed) return nullptr;
        const uintptr_t key = reinterpret_cast<uintptr_t>(table);
        if (Entry* entry = FindEntry(tree, key, kTypeTableKey)) {
            auto* native = static_cast<Definition**>(entry->native);
            if (Reach(entry)) {
                Push({static_cast<const unsigned char*>(table), native, nullptr,
                      static_cast<int32_t>(entry->remaining), WorkKind::TypeTable, false});
            }
            return native;
        }
        uint32_t count = 0;
        for (;; ++count) {
            if (uint64_t{count} * 4 + 4 > available) {
                Fail("%s(%d): Type table is not terminated inside its file section",
                     ORVANE_SOURCE_FILE, static_cast<int32_t>(__LINE__));
                return nullptr;
            }
            uint32_t word;
            std::memcpy(&word, static_cast<const char*>(table) + 4 * count, 4);
            if (word == 0) break;
        }
        if (!Spend(count)) return nullptr;
        const int32_t section = SectionOf(table, 4 * (count + 1));
        auto* native = static_cast<Definition**>(
            ArenaAllocate(tree, section, sizeof(Definition*) * (size_t(count) + 1)));
        if (native == nullptr) {
            Fail("%s(%d): Out of memory", ORVANE_SOURCE_FILE, __LINE__);
            return nullptr;
        }
        if (NewEntry(key, kTypeTableKey, native, count, section) == nullptr) return nullptr;
        Push({static_cast<const unsigned char*>(table), native, nullptr,
              static_cast<int32_t>(count), WorkKind::TypeTable, true});
        return native;
    }

    void FillTypeTable(const Work& work) {
        auto* native = static_cast<Definition**>(work.destination);
        for (int32_t i = 0; i < work.count && !failed; ++i)
            native[i] = Description(Decode(work.source + 4 * size_t(i), nullptr));
        native[work.count] = nullptr;
    }

    // Runs the description work queued so far, so that a description is complete when the
    // outermost Description call returns.
    void DrainTypes() {
        if (drainingTypes) return;
        drainingTypes = true;
        Array<Work>& stack = tree->work;
        // Object work below belongs to the caller and stays queued; description work is
        // always on top of it.
        while (!failed) {
            if (stack.Empty()) break;
            const Work& top = stack.Back();
            if (top.kind != WorkKind::Description && top.kind != WorkKind::TypeTable) break;
            const Work work = top;
            stack.PopBack();
            if (work.kind == WorkKind::Description)
                FillDescription(work);
            else
                FillTypeTable(work);
        }
        drainingTypes = false;
    }

    // The sizes of a native description in both layouts and whether its objects can be used
    // in place (no pointer slots anywhere, inline members included).
    const NativeTypeInfo* Layout(const Definition* type, int32_t depth = 0) {
        NativeTypeInfo* info = InfoOf(type);
        if (info->state == kLayoutKnown) return info;
        if (info->state != kLayoutUnknown || depth > kMaxInlineDepth) {
            Fail("%s(%d): Type description nests inline members too deeply or in a cycle",
                 ORVANE_SOURCE_FILE, static_cast<int32_t>(__LINE__));
            info->state = kLayoutMalformed;
            return nullptr;
        }
        info->state = kLayoutComputing;
        int64_t fileSize = 0;
        int64_t nativeSize = 0;
        bool inPlace = true;
        int32_t alignment = 1;
        for (const Definition* member = type; member->Type != OrvaneEndMember; ++member) {
            if (member->Type == OrvaneInlineMember) {
                const NativeTypeInfo* inner =
                    member->ReferenceType ? Layout(member->ReferenceType, depth + 1) : nullptr;
                if (inner == nullptr) {
                    Fail("%s(%d): Inline member without a valid type", ORVANE_SOURCE_FILE,
                         static_cast<int32_t>(__LINE__));
                    info->state = kLayoutMalformed;
                    return nullptr;
                }
                fileSize += inner->fileSize;
                nativeSize += inner->nativeSize;
                inPlace = inPlace && inner->inPlace;
                if (inner->alignment > alignment) alignment = inner->alignment;
            } else {
                if (member->ArrayWidth < 0) {
                    Fail("%s(%d): Member has the negative array width %d", ORVANE_SOURCE_FILE,
                         static_cast<int32_t>(__LINE__), member->ArrayWidth);
                    info->state = kLayoutMalformed;
                    return nullptr;
                }
                const int64_t width = member->ArrayWidth == 0 ? 1 : member->ArrayWidth;
                fileSize += width * MemberUnitSize(member->Type, DataLayout::File);
                nativeSize += width * MemberUnitSize(member->Type, DataLayout::Native);
                if (GetMemberKindInfo(member->Type)->pointerSlots > 0) inPlace = false;
                const int32_t unit = MemberUnitSize(member->Type, DataLayout::File);
                if (unit > alignment) alignment = unit < 4 ? unit : 4;
            }
            if (nativeSize > INT32_MAX) {
                Fail("%s(%d): Type description describes objects of more than 2 GiB",
                     ORVANE_SOURCE_FILE, static_cast<int32_t>(__LINE__));
                info->state = kLayoutMalformed;
                return nullptr;
            }
        }
        info->fileSize = static_cast<int32_t>(fileSize);
        info->nativeSize = static_cast<int32_t>(nativeSize);
        info->inPlace = inPlace;
        info->alignment = static_cast<uint8_t>(alignment);
        info->state = kLayoutKnown;
        return info;
    }

    // Objects -----------------------------------------------------------------------------

    // The native form of `count` consecutive objects of `type` at a file address with
    // `available` bytes of its section after it.
    void* Objects(const void* address, uint32_t available, const Definition* type, int64_t count) {
        if (address == nullptr || failed) return nullptr;
        if (type == nullptr) return const_cast<void*>(address);  // untyped: nothing to widen
        const NativeTypeInfo* info = Layout(type);
        if (info == nullptr) return nullptr;
        // Every element takes at least a byte of the section: a count of objects without
        // members is backed by nothing, and readers that walk such an array element by element
        // would otherwise spend work on a count no loaded byte limits.
        const int64_t elementBytes = info->fileSize > 0 ? info->fileSize : 1;
        if (count < 0 || count * elementBytes > available) {
            Fail(
                "%s(%d): Array of %d objects of %d bytes does not fit its file section "
                "(%u bytes left)",
                ORVANE_SOURCE_FILE, static_cast<int32_t>(__LINE__), static_cast<int32_t>(count),
                info->fileSize, available);
            return nullptr;
        }
        // Offsets in a file are byte offsets: reals the readers load as such may only be used
        // where they lie at their own alignment, and are copied into the arena otherwise.
        if (info->inPlace &&
            reinterpret_cast<uintptr_t>(address) % static_cast<uintptr_t>(info->alignment) == 0)
            return const_cast<void*>(address);
        if (count == 0) return nullptr;
        const auto* source = static_cast<const unsigned char*>(address);
        const uintptr_t key = reinterpret_cast<uintptr_t>(type);
        if (Entry* entry = FindEntry(tree, reinterpret_cast<uintptr_t>(address), key);
            entry != nullptr && entry->remaining >= count) {
            void* native = entry->native;
            // Each element may have been reached before on its own: refresh each once.
            for (int64_t i = 0; i < count && !failed; ++i) {
                Entry* element =
                    i == 0
                        ? entry
                        : FindEntry(tree, reinterpret_cast<uintptr_t>(source + i * info->fileSize),
                                    key);
                if (element != nullptr && Reach(element)) {
                    Push({source + i * info->fileSize, element->native, type, 1, WorkKind::Objects,
                          false});
                }
            }
            return native;
        }
        const int32_t section = SectionOf(address, static_cast<uint32_t>(count * info->fileSize));
        auto* native = static_cast<unsigned char*>(
            ArenaAllocate(tree, section, size_t(count) * size_t(info->nativeSize)));
        if (native == nullptr) {
            Fail("%s(%d): Out of memory", ORVANE_SOURCE_FILE, __LINE__);
            return nullptr;
        }
        for (int64_t i = 0; i < count && !failed; ++i) {
            NewEntry(reinterpret_cast<uintptr_t>(source + i * info->fileSize), key,
                     native + i * info->nativeSize, static_cast<uint32_t>(count - i), section);
        }
        Push({source, native, type, static_cast<int32_t>(count), WorkKind::Objects, true});
        return native;
    }

    // An array of `count` pointer slots, each to one object of `type`.
    void* PointerArray(const void* address, uint32_t available, const Definition* type,
                       int64_t count) {
        if (address == nullptr || failed) return nullptr;
        if (count < 0 || count * 4 > available) {
            Fail("%s(%d): Array of %d references does not fit its file section (%u bytes left)",
                 ORVANE_SOURCE_FILE, static_cast<int32_t>(__LINE__), static_cast<int32_t>(count),
                 available);
            return nullptr;
        }
        if (count == 0) return nullptr;
        const uintptr_t key = reinterpret_cast<uintptr_t>(type) | kPointerArrayTag;
        if (Entry* entry = FindEntry(tree, reinterpret_cast<uintptr_t>(address), key);
            entry != nullptr && entry->remaining >= count) {
            if (Reach(entry)) {
                Push({static_cast<const unsigned char*>(address), entry->native, type,
                      static_cast<int32_t>(entry->remaining), WorkKind::PointerArray, false});
            }
            return entry->native;
        }
        const int32_t section = SectionOf(address, static_cast<uint32_t>(count * 4));
        void* native = ArenaAllocate(tree, section, size_t(count) * sizeof(void*));
        if (native == nullptr) {
            Fail("%s(%d): Out of memory", ORVANE_SOURCE_FILE, __LINE__);
            return nullptr;
        }
        if (NewEntry(reinterpret_cast<uintptr_t>(address), key, native,
                     static_cast<uint32_t>(count), section) == nullptr) {
            return nullptr;
        }
        Push({static_cast<const unsigned char*>(address), native, type, static_cast<int32_t>(count),
              WorkKind::PointerArray, true});
        return native;
    }

    void FillPointerArray(const Work& work) {
        if (!Spend(work.count)) return;
        auto* native = static_cast<void**>(work.destination);
        for (int32_t i = 0; i < work.count && !failed; ++i) {
            uint32_t available = 0;
            const void* target = Decode(work.source + 4 * size_t(i), &available);
            native[i] = Objects(target, available, work.type, 1);
        }
    }

    // An array that claims elements must have them: a null pointer (never written, refused
    // by the fixups, or into a section that is not loaded) would leave the application a
    // count to walk over nothing.
    void RequireArrayData(const Definition* member, const void* at, int64_t count) {
        if (count > 0 && at == nullptr) {
            Fail("%s(%d): Array member %s claims %d elements but points to no loaded data",
                 ORVANE_SOURCE_FILE, static_cast<int32_t>(__LINE__),
                 member->Name ? member->Name : "(unnamed)", static_cast<int32_t>(count));
        }
    }

    const char* String(const void* slot) {
        uint32_t available = 0;
        const void* text = Decode(slot, &available);
        if (text != nullptr && std::memchr(text, 0, available) == nullptr) {
            Fail("%s(%d): String is not terminated inside its file section", ORVANE_SOURCE_FILE,
                 static_cast<int32_t>(__LINE__));
            return nullptr;
        }
        return static_cast<const char*>(text);
    }

    static void StorePointer(unsigned char* at, const void* pointer) {
        std::memcpy(at, &pointer, sizeof pointer);
    }
    static int32_t LoadInt32(const unsigned char* at) {
        int32_t value;
        std::memcpy(&value, at, 4);
        return value;
    }

    // Fills one object from its file bytes: pointers always, values when `values`. Returns
    // the bytes consumed in the file layout (the native ones follow from the description).
    void FillObject(const unsigned char* source, unsigned char* destination, const Definition* type,
                    bool values) {
        constexpr int32_t P = kNativePointerSize;
        for (const Definition* member = type; member->Type != OrvaneEndMember && !failed;
             ++member) {
            if (!Spend(1)) return;
            const int32_t kind = member->Type;
            if (kind == OrvaneInlineMember) {
                const NativeTypeInfo* inner = InfoOf(member->ReferenceType);
                FillObject(source, destination, member->ReferenceType, values);
                source += inner->fileSize;
                destination += inner->nativeSize;
                continue;
            }
            const int32_t width = member->ArrayWidth == 0 ? 1 : member->ArrayWidth;
            const Definition* target = member->ReferenceType;
            if (GetMemberKindInfo(kind)->pointerSlots > 0 && !Spend(width)) return;
            for (int32_t w = 0; w < width && !failed; ++w) {
                uint32_t available = 0;
                switch (kind) {
                    case OrvaneReferenceMember: {
                        const void* at = Decode(source, &available);
                        StorePointer(destination, Objects(at, available, target, 1));
                        source += 4;
                        destination += P;
                        break;
                    }
                    case OrvaneStringMember:
                        StorePointer(destination, String(source));
                        source += 4;
                        destination += P;
                        break;
                    case OrvaneReferenceToArrayMember:
                    case OrvaneArrayOfReferencesMember:
                    case OrvaneSwitchableTypeMember: {
                        const int32_t count = LoadInt32(source);
                        if (values) std::memcpy(destination, source, 4);
                        const void* at = Decode(source + 4, &available);
                        if (kind != OrvaneSwitchableTypeMember && w == 0)
                            RequireArrayData(member, at, GroupedCount(count, width));
                        void* pointer = nullptr;
                        if (kind != OrvaneSwitchableTypeMember && w > 0) {
                            // With an array width above 1 the first (count, pointer) unit
                            // holds count groups of width elements, as the writer and type
                            // conversion read it; the other units carry nothing.
                            if (values) std::memset(destination, 0, 4);
                        } else if (kind == OrvaneReferenceToArrayMember) {
                            pointer = Objects(at, available, target, GroupedCount(count, width));
                        } else if (kind == OrvaneArrayOfReferencesMember) {
                            pointer =
                                PointerArray(at, available, target, GroupedCount(count, width));
                        } else {
                            const Definition* selected = Switch(member, count);
                            pointer = selected ? Objects(at, available, selected, 1) : nullptr;
                        }
                        StorePointer(destination + 4, pointer);
                        source += 8;
                        destination += 4 + P;
                        break;
                    }
                    case OrvaneVariantReferenceMember: {
                        const Definition* variantType = Description(Decode(source, nullptr));
                        const void* at = Decode(source + 4, &available);
                        StorePointer(destination, variantType);
                        StorePointer(destination + P, Objects(at, available, variantType, 1));
                        source += 8;
                        destination += 2 * P;
                        break;
                    }
                    case OrvaneReferenceToVariantArrayMember: {
                        const Definition* variantType =
                            w > 0 ? nullptr : Description(Decode(source, nullptr));
                        const int32_t count = LoadInt32(source + 4);
                        if (values) std::memcpy(destination + P, source + 4, 4);
                        if (values && w > 0) std::memset(destination + P, 0, 4);
                        const void* at = Decode(source + 8, &available);
                        if (w == 0) RequireArrayData(member, at, GroupedCount(count, width));
                        StorePointer(destination, variantType);
                        StorePointer(destination + P + 4,
                                     w > 0 ? nullptr
                                           : Objects(at, available, variantType,
                                                     GroupedCount(count, width)));
                        source += 12;
                        destination += 2 * P + 4;
                        break;
                    }
                    default: {
                        // Values: the rest of the member in one copy.
                        const int32_t size = MemberUnitSize(kind, DataLayout::File) * (width - w);
                        if (values) std::memcpy(destination, source, size_t(size));
                        source += size;
                        destination += size;
                        w = width;
                        break;
                    }
                }
            }
        }
    }

    // Elements behind an array member of the given width: count groups of width, or -1 (which
    // no array satisfies) when that does not fit 32 bits.
    static int32_t GroupedCount(int32_t count, int32_t width) {
        const int64_t elements = int64_t{count} * width;
        return elements > INT32_MAX || elements < 0 ? -1 : static_cast<int32_t>(elements);
    }

    // The type a switchable member's index selects, or null when out of its table.
    static const Definition* Switch(const Definition* member, int32_t index) {
        auto* const* table = reinterpret_cast<Definition* const*>(member->ReferenceType);
        if (table == nullptr || index < 0) return nullptr;
        for (int32_t i = 0; i <= index; ++i) {
            if (table[i] == nullptr) return nullptr;
        }
        return table[index];
    }

    void DrainObjects() {
        Array<Work>& stack = tree->work;
        Work work;
        while (!failed && stack.Pop(&work)) {
            switch (work.kind) {
                case WorkKind::Objects: {
                    const NativeTypeInfo* info = InfoOf(work.type);
                    auto* destination = static_cast<unsigned char*>(work.destination);
                    for (int32_t i = 0; i < work.count && !failed; ++i) {
                        FillObject(work.source + size_t(i) * size_t(info->fileSize),
                                   destination + size_t(i) * size_t(info->nativeSize), work.type,
                                   work.values);
                    }
                    break;
                }
                case WorkKind::PointerArray:
                    FillPointerArray(work);
                    break;
                case WorkKind::Description:
                    FillDescription(work);
                    break;
                case WorkKind::TypeTable:
                    FillTypeTable(work);
                    break;
            }
        }
    }
};

orvane_native_tree* NewTree(int32_t sectionCount) {
    const size_t bytes = sizeof(orvane_native_tree) + sizeof(ArenaBlock*) * size_t(sectionCount);
    void* memory = ORVANE_ALLOCATE(alignof(orvane_native_tree), bytes);
    if (memory == nullptr) return nullptr;
    auto* tree = new (memory) orvane_native_tree;
    tree->sectionCount = sectionCount;
    tree->arenas = reinterpret_cast<ArenaBlock**>(tree + 1);
    for (int32_t i = 0; i < sectionCount; ++i)
        tree->arenas[i] = nullptr;
    return tree;
}

}  // namespace

bool UpdateNativeTree(orvane_file* file, orvane_variant* root) {
    *root = {nullptr, nullptr};
    if (file->Header == nullptr) return false;
    orvane_native_tree* tree = file->NativeTree;
    if (tree != nullptr && tree->upToDate) {
        *root = tree->root;
        return true;
    }
    ORVANE_TIMING_BLOCK("BuildNativeTree");
    if (tree == nullptr) {
        tree = file->NativeTree = NewTree(file->SectionCount);
        if (tree == nullptr) return false;
    }
    if (++tree->generation == 0) tree->generation = 1;

    Builder builder;
    builder.tree = tree;
    builder.sections = FileSectionsOf(file);
    builder.budget = kBaseVisitBudget;
    for (int32_t i = 0; i < file->SectionCount; ++i) {
        if (file->Sections[i] != nullptr)
            builder.budget += 16 * int64_t{builder.sections.SectionTable[i].ExpandedSize};
    }
    tree->work.Clear();

    orvane_variant result = {nullptr, nullptr};
    void* rootFileInfo = nullptr;
    const void* typeRecords =
        OrvaneDecodeOVNReference(&builder.sections, &file->Header->RootTypeReference);
    if (typeRecords != nullptr) {
        result.Type = builder.Description(typeRecords);
        const void* object =
            OrvaneDecodeOVNReference(&builder.sections, &file->Header->RootObjectReference);
        const int32_t section = object ? builder.SectionOf(object, 0) : -1;
        if (result.Type != nullptr && section >= 0) {
            const uintptr_t end = reinterpret_cast<uintptr_t>(file->Sections[section]) +
                                  builder.sections.SectionTable[section].ExpandedSize;
            const uint32_t available =
                static_cast<uint32_t>(end - reinterpret_cast<uintptr_t>(object));
            result.Object = builder.Objects(object, available, result.Type, 1);
            // A root stored with the empty description under the current tag is a file info
            // of the current layout (the writer's OrvaneWriteRootTypeAsEmpty).
            if (result.Type[0].Type == OrvaneEndMember &&
                file->Header->TypeTag == ORVANE_CURRENT_FILE_TYPE_TAG) {
                Definition* fileInfoType =
                    builder.LibraryDescription(OrvaneFileInfoType, section, 0);
                if (fileInfoType != nullptr)
                    rootFileInfo = builder.Objects(object, available, fileInfoType, 1);
            }
        }
        builder.DrainObjects();
    }
    tree->work.Clear();
    if (builder.failed) {
        tree->root = {nullptr, nullptr};
        tree->rootFileInfo = nullptr;
        return false;
    }
    tree->rootFileInfo = rootFileInfo;
    tree->root = result;
    tree->upToDate = true;
    *root = result;
    return true;
}

void* NativeRootFileInfo(const orvane_file* file) {
    return file->NativeTree != nullptr && file->NativeTree->upToDate
               ? file->NativeTree->rootFileInfo
               : nullptr;
}

void MarkNativeTreeStale(orvane_file* file) {
    if (file->NativeTree != nullptr) file->NativeTree->upToDate = false;
}

void ReleaseNativeSection(orvane_file* file, int32_t sectionIndex) {
    orvane_native_tree* tree = file->NativeTree;
    if (tree == nullptr || sectionIndex < 0 || sectionIndex >= tree->sectionCount) return;
    tree->upToDate = false;
    if (tree->arenas[sectionIndex] == nullptr) return;
    FreeArena(tree, sectionIndex);
    // The entries of the section go with its copies. Without memory to rebuild the table
    // every copy is forgotten instead, so that no entry outlives its copy.
    if (!tree->entries.RemoveIf([sectionIndex](const EntryKey&, const Entry& e) {
            return e.section != sectionIndex;
        })) {
        for (int32_t i = 0; i < tree->sectionCount; ++i)
            FreeArena(tree, i);
        tree->entries.Clear();
    }
}

void FreeNativeTree(orvane_file* file) {
    orvane_native_tree* tree = file->NativeTree;
    if (tree == nullptr) return;
    for (int32_t i = 0; i < tree->sectionCount; ++i)
        FreeArena(tree, i);
    tree->~orvane_native_tree();
    ORVANE_DEALLOCATE(tree);
    file->NativeTree = nullptr;
}

int32_t FindNativeSection(const orvane_file* file, const void* address) {
    const orvane_native_tree* tree = file->NativeTree;
    if (tree == nullptr) return -1;
    const uintptr_t at = reinterpret_cast<uintptr_t>(address);
    for (int32_t i = 0; i < tree->sectionCount; ++i) {
        for (ArenaBlock* block = tree->arenas[i]; block != nullptr; block = block->next) {
            const uintptr_t begin = reinterpret_cast<uintptr_t>(block->Data());
            if (at >= begin && at - begin < block->used) return i;
        }
    }
    return -1;
}

}  // namespace orvane

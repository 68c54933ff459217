// The data tree writer: walks an object tree through its type descriptions into a file
// builder, once per distinct object, each object narrowed to its 32-bit file image.
#include <cstring>
#include <new>

#include "core/orvane_array.h"
#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "core/orvane_pointer_hash.h"
#include "core/orvane_string.h"
#include "diag/orvane_timing.h"
#include "file/offline/orvane_file_builder.h"
#include "types/orvane_type_layout.h"

namespace {

using Type = orvane_data_type_definition;

// Items come in blocks that are never moved, so that an item's address stays valid while the
// table grows; there is no upper bound on the number of items.
constexpr int32_t kItemsPerBlock = 4096;

struct WriterItem {
    uint32_t stamp;
    orvane_file_location location;
    bool explicitSection;
    int32_t objectsOfTypeSection;  // for items whose address is a type description
    // Arrays: what the latest pass wrote at this address.
    int32_t arrayCount;
    const Type* arrayType;
};

struct ItemBlock {
    ItemBlock* next;
    int32_t used;
    WriterItem items[kItemsPerBlock];
};

}  // namespace

struct orvane_file_data_tree_writer {
    Type* rootType;
    void* rootObject;
    uint32_t pass;
    uint32_t flags;
    int32_t defaultTypeSection;
    int32_t defaultObjectSection;
    ItemBlock* firstBlock;
    ItemBlock* lastBlock;
    int32_t itemCount;
    // Objects, strings, type descriptions and type tables by address; arrays by address in a
    // map of their own, so that an array is never mistaken for a single object that starts at
    // the same address (which would leave its other elements unwritten).
    orvane::PointerHash* items;
    orvane::PointerHash* arrays;
    orvane_file_writer_string_callback stringCallback;
    void* stringUserData;
    // During a pass.
    orvane_file_builder* builder;
    orvane_string_table* strings;
    bool failed;
    orvane::Array<uint8_t> scratch;  // the file image of the object being written
};

namespace orvane {
namespace {

using Writer = orvane_file_data_tree_writer;

constexpr DataLayout kNative = DataLayout::Native;
constexpr DataLayout kFile = DataLayout::File;
constexpr size_t kNativePointer = sizeof(void*);

const TypeRecords kRecords = TypeRecords::Native();

template <typename T>
T Load(const uint8_t* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

void StoreU32(uint8_t* at, uint32_t value) {
    std::memcpy(at, &value, 4);
}

// What a pointer slot holds until its fixup replaces it: null. Not the pointer's own bits,
// which change from run to run, so that the same content always writes the same bytes; and
// never anything else, since a pointer the writer does not follow (an empty array, a member
// without a referenced type) has no fixup and must read back as null.
uint32_t Low32(const void*) {
    return 0;
}

WriterItem* NewItem(Writer* w) {
    if (w->lastBlock == nullptr || w->lastBlock->used == kItemsPerBlock) {
        auto* block =
            static_cast<ItemBlock*>(ORVANE_ALLOCATE(alignof(ItemBlock), sizeof(ItemBlock)));
        if (block == nullptr) return nullptr;
        block->next = nullptr;
        block->used = 0;
        if (w->lastBlock)
            w->lastBlock->next = block;
        else
            w->firstBlock = block;
        w->lastBlock = block;
    }
    ++w->itemCount;
    return &w->lastBlock->items[w->lastBlock->used++];
}

WriterItem* FindItem(Writer* w, const void* address) {
    void* value = nullptr;
    return HashedPointerKeyExists(w->items, address, &value) ? static_cast<WriterItem*>(value)
                                                             : nullptr;
}

// The item of an address; a new one takes its section from the objects-of-type section of its
// type's item (the null item's for no type).
WriterItem* GetItem(Writer* w, const Type* type, const void* address) {
    if (WriterItem* item = FindItem(w, address)) return item;
    WriterItem* typeItem = GetItem(w, nullptr, type);
    if (typeItem == nullptr) return nullptr;
    int32_t section = typeItem->objectsOfTypeSection;
    WriterItem* item = NewItem(w);
    if (item == nullptr || !AddPointerHashEntry(w->items, address, item)) {
        w->failed = true;
        return nullptr;
    }
    *item = {0, {section, 0, 0}, false, w->defaultObjectSection, 0, nullptr};
    return item;
}

// The image buffer, at least `size` bytes; its contents do not survive the next call.
uint8_t* Scratch(Writer* w, size_t size) {
    if (w->scratch.Size() < size && !w->scratch.Resize(size < 256 ? 256 : size)) {
        w->failed = true;
        return nullptr;
    }
    return w->scratch.Data();
}

// Writes a chunk into the builder. A section the builder lacks is refused there (with its
// message) and leaves the tree incomplete, so the write fails.
orvane_file_location Chunk(Writer* w, int32_t section, uint32_t unitWidth, int32_t size,
                           const void* bytes) {
    if (static_cast<uint32_t>(section) >=
        static_cast<uint32_t>(GetFileBuilderSectionCount(w->builder)))
        w->failed = true;
    return OrvaneWriteFileChunk(w->builder, section, unitWidth, size, bytes);
}

void Fixup(Writer* w, orvane_file_location from, int32_t offset, orvane_file_location to) {
    OrvaneMarkFileFixup(w->builder, from, offset, to);
}

// Narrows one native object into its file image: plain values copied, every pointer slot cut
// to 4 bytes holding 0 for a null pointer and 1 otherwise, or the string callback's value for a
// string. Returns false for a malformed description.
bool Narrow(Writer* w, const Type* type, const uint8_t* native, uint8_t* image, int32_t depth) {
    if (depth > kMaxInlineDepth) return false;
    const size_t p = kNativePointer;
    for (const Type* m = type; m && m->Type != OrvaneEndMember; ++m) {
        int32_t nativeSize = 0, fileSize = 0;
        if (!GetMemberSize(kRecords, kNative, m, &nativeSize) ||
            !GetMemberSize(kRecords, kFile, m, &fileSize))
            return false;
        const int32_t width = m->ArrayWidth > 1 ? m->ArrayWidth : 1;
        const uint8_t* n = native;
        uint8_t* f = image;
        switch (m->Type) {
            case OrvaneInlineMember:
                if (!Narrow(w, m->ReferenceType, native, image, depth + 1)) return false;
                break;
            case OrvaneReferenceMember:
                for (int32_t u = 0; u < width; ++u, n += p, f += 4)
                    StoreU32(f, Low32(Load<const void*>(n)));
                break;
            case OrvaneStringMember:
                for (int32_t u = 0; u < width; ++u, n += p, f += 4) {
                    const char* text = Load<const char*>(n);
                    StoreU32(f, w->stringCallback ? w->stringCallback(w->stringUserData, text)
                                                  : Low32(text));
                }
                break;
            case OrvaneReferenceToArrayMember:
            case OrvaneArrayOfReferencesMember:
            case OrvaneSwitchableTypeMember:
                for (int32_t u = 0; u < width; ++u, n += 4 + p, f += 8) {
                    std::memcpy(f, n, 4);
                    StoreU32(f + 4, Low32(Load<const void*>(n + 4)));
                }
                break;
            case OrvaneVariantReferenceMember:
                for (int32_t u = 0; u < width; ++u, n += 2 * p, f += 8) {
                    StoreU32(f, Low32(Load<const void*>(n)));
                    StoreU32(f + 4, Low32(Load<const void*>(n + p)));
                }
                break;
            case OrvaneReferenceToVariantArrayMember:
                for (int32_t u = 0; u < width; ++u, n += 2 * p + 4, f += 12) {
                    StoreU32(f, Low32(Load<const void*>(n)));
                    std::memcpy(f + 4, n + p, 4);
                    StoreU32(f + 8, Low32(Load<const void*>(n + p + 4)));
                }
                break;
            default:
                if (nativeSize != fileSize) return false;
                std::memcpy(image, native, static_cast<size_t>(fileSize));
                break;
        }
        native += nativeSize;
        image += fileSize;
    }
    return true;
}

struct ElementSizes {
    int32_t native;
    int32_t file;
    uint32_t marshalling;
    bool pointers;
};

bool GetSizes(Writer* w, const Type* type, ElementSizes* sizes) {
    if (GetObjectSize(kRecords, kNative, type, &sizes->native) &&
        GetObjectSize(kRecords, kFile, type, &sizes->file) &&
        GetObjectMarshalling(kRecords, type, &sizes->marshalling) &&
        TypeHasPointers(kRecords, type, &sizes->pointers))
        return true;
    ORVANE_LOG_ERROR(OrvaneFileWritingOrigin, "Type description at 0x%p is malformed", type);
    w->failed = true;
    return false;
}

orvane_file_location WriteType(Writer* w, const Type* type);
orvane_file_location WriteObject(Writer* w, const Type* type, const void* object);
void WriteMembers(Writer* w, const Type* type, orvane_file_location at, const uint8_t* data,
                  int32_t depth);

orvane_file_location WriteString(Writer* w, const char* text) {
    WriterItem* item = GetItem(w, OrvaneStringType, text);
    if (item == nullptr) return {0, 0, 0};
    if (item->stamp == w->pass) return item->location;
    item->stamp = w->pass;
    item->location = Chunk(w, item->location.SectionIndex, 1, StringLength(text) + 1, text);
    return item->location;
}

orvane_file_location WriteTypeTable(Writer* w, Type* const* table) {
    WriterItem* item = GetItem(w, nullptr, table);
    if (item == nullptr) return {0, 0, 0};
    if (item->stamp == w->pass) return item->location;
    item->stamp = w->pass;
    const int32_t count = OrvaneGetTypeTableCount(table);
    uint8_t* image = Scratch(w, 4 * (static_cast<size_t>(count) + 1));
    if (image == nullptr) return {0, 0, 0};
    for (int32_t i = 0; i < count; ++i)
        StoreU32(image + 4 * i, Low32(table[i]));
    StoreU32(image + 4 * count, 0);
    orvane_file_location at = Chunk(w, item->location.SectionIndex, 4, 4 * (count + 1), image);
    item->location = at;
    for (int32_t i = 0; i < count; ++i)
        Fixup(w, at, 4 * i, WriteType(w, table[i]));
    return at;
}

orvane_file_location WriteType(Writer* w, const Type* type) {
    WriterItem* item = GetItem(w, nullptr, type);
    if (item == nullptr) return {0, 0, 0};
    if (item->stamp == w->pass) return item->location;
    item->stamp = w->pass;
    int32_t records = 0;
    if (!GetTypeRecordCount(kRecords, type, &records)) {
        ORVANE_LOG_ERROR(OrvaneFileWritingOrigin, "Type description at 0x%p is malformed", type);
        w->failed = true;
        return item->location;
    }
    uint8_t* image = Scratch(w, static_cast<size_t>(records) * kFileRecordSize);
    if (image == nullptr) return item->location;
    for (int32_t k = 0; k < records; ++k) {
        const Type& m = type[k];
        uint8_t* r = image + kFileRecordSize * k;
        StoreU32(r, static_cast<uint32_t>(m.Type));
        StoreU32(r + 4,
                 w->stringCallback ? w->stringCallback(w->stringUserData, m.Name) : Low32(m.Name));
        StoreU32(r + 8, Low32(m.ReferenceType));
        StoreU32(r + 12, static_cast<uint32_t>(m.ArrayWidth));
        std::memcpy(r + 16, m.Extra, 12);
        StoreU32(r + 28, static_cast<uint32_t>(m.TraversalMark));
    }
    orvane_file_location at =
        Chunk(w, item->location.SectionIndex, 4, records * kFileRecordSize, image);
    item->location = at;
    // Every record's name, the terminating record's included; only member records refer to
    // other descriptions.
    for (int32_t k = 0; k < records; ++k) {
        const Type& m = type[k];
        if (!w->stringCallback && m.Name) {
            const char* name = OrvaneMapString(w->strings, m.Name);
            if (name)
                Fixup(w, at, kFileRecordSize * k + 4, WriteString(w, name));
            else
                w->failed = true;
        }
        if (m.ReferenceType == nullptr || k + 1 == records) continue;
        if (m.Type >= OrvaneInlineMember && m.Type <= OrvaneArrayOfReferencesMember)
            Fixup(w, at, kFileRecordSize * k + 8, WriteType(w, m.ReferenceType));
        else if (m.Type == OrvaneSwitchableTypeMember)
            Fixup(w, at, kFileRecordSize * k + 8,
                  WriteTypeTable(w, reinterpret_cast<Type* const*>(m.ReferenceType)));
    }
    return at;
}

// Clears bit value 2 of a track group's AccumulationFlags in its image: with external strings
// the file's readers cannot rely on the names that the flag refers to.
void ApplyTrackGroupRule(Writer* w, const Type* type, uint8_t* image) {
    if (!w->stringCallback || type != OrvaneTrackGroupType) return;
    const void* member = nullptr;
    int32_t offset = 0;
    if (FindMemberByName(kRecords, kFile, type, "AccumulationFlags", &member, &offset) && member)
        StoreU32(image + offset, Load<uint32_t>(image + offset) & ~2u);
}

// Writes count objects (an array, or one object) as one chunk, with their marshalling fixup.
orvane_file_location WriteObjects(Writer* w, const Type* type, int32_t section, int32_t count,
                                  const uint8_t* data, const ElementSizes& sizes) {
    if (int64_t{sizes.file} * count > INT32_MAX) {
        ORVANE_LOG_ERROR(OrvaneFileWritingOrigin, "Array of %d objects of %d bytes is too large",
                         count, sizes.file);
        w->failed = true;
        return {section, 0, 0};
    }
    const int32_t bytes = sizes.file * count;
    const bool mixed = IsMixedMarshalling(sizes.marshalling);
    const bool reverse = mixed && OrvaneFileIsByteReversed(w->builder);
    const uint8_t* chunk = data;
    if (sizes.pointers || sizes.native != sizes.file || reverse || w->stringCallback) {
        uint8_t* image = Scratch(w, static_cast<size_t>(bytes));
        if (image == nullptr) return {section, 0, 0};
        for (int32_t i = 0; i < count; ++i) {
            uint8_t* element = image + static_cast<size_t>(sizes.file) * i;
            if (!Narrow(w, type, data + static_cast<size_t>(sizes.native) * i, element, 0)) {
                ORVANE_LOG_ERROR(OrvaneFileWritingOrigin, "Type description at 0x%p is malformed",
                                 type);
                w->failed = true;
                return {section, 0, 0};
            }
            ApplyTrackGroupRule(w, type, element);
        }
        // A file of the other byte order gets mixed objects as that machine would have
        // written them; the builder reverses pure 32- and 16-bit chunks itself.
        if (reverse)
            ReverseObjects(kRecords, kFile, type, count, image, static_cast<size_t>(bytes), true);
        chunk = image;
    }
    orvane_file_location at = Chunk(w, section, sizes.marshalling, bytes, chunk);
    if (mixed) OrvaneMarkMarshallingFixup(w->builder, WriteType(w, type), at, count);
    return at;
}

orvane_file_location WriteObject(Writer* w, const Type* type, const void* object) {
    // An object written earlier as the first element of an array of its type is that element.
    void* value = nullptr;
    if (HashedPointerKeyExists(w->arrays, object, &value)) {
        auto* array = static_cast<WriterItem*>(value);
        if (array->stamp == w->pass && array->arrayType == type) return array->location;
    }
    WriterItem* item = GetItem(w, type, object);
    if (item == nullptr) return {0, 0, 0};
    if (item->stamp == w->pass) return item->location;
    item->stamp = w->pass;
    ElementSizes sizes;
    if (!GetSizes(w, type, &sizes)) return item->location;
    item->location = WriteObjects(w, type, item->location.SectionIndex, 1,
                                  static_cast<const uint8_t*>(object), sizes);
    if (sizes.pointers)
        WriteMembers(w, type, item->location, static_cast<const uint8_t*>(object), 0);
    return item->location;
}

orvane_file_location WriteArray(Writer* w, const Type* type, int32_t referencingSection,
                                int32_t count, const void* array) {
    void* value = nullptr;
    WriterItem* item = nullptr;
    if (HashedPointerKeyExists(w->arrays, array, &value)) {
        item = static_cast<WriterItem*>(value);
        // The same array met again is shared; met with another type or more elements it is
        // written again, whole.
        if (item->stamp == w->pass && item->arrayType == type && item->arrayCount >= count)
            return item->location;
    } else {
        item = NewItem(w);
        if (item == nullptr || !AddPointerHashEntry(w->arrays, array, item)) {
            w->failed = true;
            return {0, 0, 0};
        }
        *item = {0, {referencingSection, 0, 0}, false, w->defaultObjectSection, 0, nullptr};
    }
    // A section chosen for the address with OrvaneSetFileSectionForObject applies to the array.
    const WriterItem* chosen = FindItem(w, array);
    const int32_t section =
        chosen && chosen->explicitSection ? chosen->location.SectionIndex : referencingSection;
    item->stamp = w->pass;
    item->arrayType = type;
    item->arrayCount = count;
    ElementSizes sizes;
    if (!GetSizes(w, type, &sizes)) return item->location;
    const auto* data = static_cast<const uint8_t*>(array);
    item->location = WriteObjects(w, type, section, count, data, sizes);
    if (sizes.pointers) {
        for (int32_t i = 0; i < count; ++i)
            WriteMembers(w, type,
                         OrvaneOffsetFileLocation(w->builder, item->location, sizes.file * i),
                         data + static_cast<size_t>(sizes.native) * i, 0);
    }
    return item->location;
}

const Type* VariantStoredType(Writer* w, const Type* type) {
    return (w->flags & OrvaneWriteVariantTypesAsEmpty) ? OrvaneEmptyType : type;
}

void WriteMembers(Writer* w, const Type* type, orvane_file_location at, const uint8_t* data,
                  int32_t depth) {
    if (depth > kMaxInlineDepth) {
        w->failed = true;
        return;
    }
    const size_t p = kNativePointer;
    int32_t fileOffset = 0;
    for (const Type* m = type; m && m->Type != OrvaneEndMember && !w->failed; ++m) {
        int32_t nativeSize = 0, fileSize = 0;
        if (!GetMemberSize(kRecords, kNative, m, &nativeSize) ||
            !GetMemberSize(kRecords, kFile, m, &fileSize)) {
            w->failed = true;
            return;
        }
        const orvane_file_location here = OrvaneOffsetFileLocation(w->builder, at, fileOffset);
        const int32_t width = m->ArrayWidth > 1 ? m->ArrayWidth : 1;
        switch (m->Type) {
            case OrvaneInlineMember:
                WriteMembers(w, m->ReferenceType, here, data, depth + 1);
                break;
            case OrvaneReferenceMember:
                for (int32_t u = 0; u < width; ++u) {
                    const void* target = Load<const void*>(data + p * u);
                    if (target && m->ReferenceType)
                        Fixup(w, here, 4 * u, WriteObject(w, m->ReferenceType, target));
                }
                break;
            case OrvaneReferenceToArrayMember: {
                const int64_t n = int64_t{Load<int32_t>(data)} * width;
                const void* array = Load<const void*>(data + 4);
                if (n > 0 && n <= INT32_MAX && array && m->ReferenceType)
                    Fixup(w, here, 4,
                          WriteArray(w, m->ReferenceType, at.SectionIndex, int32_t(n), array));
                break;
            }
            case OrvaneArrayOfReferencesMember: {
                const int64_t n = int64_t{Load<int32_t>(data)} * width;
                const auto* pointers = Load<const uint8_t*>(data + 4);
                if (n <= 0 || n > INT32_MAX / 4 || pointers == nullptr) break;
                uint8_t* image = Scratch(w, 4 * static_cast<size_t>(n));
                if (image == nullptr) break;
                for (int64_t i = 0; i < n; ++i)
                    StoreU32(image + 4 * i, Low32(Load<const void*>(pointers + p * i)));
                orvane_file_location table = Chunk(w, at.SectionIndex, 0, int32_t(4 * n), image);
                Fixup(w, here, 4, table);
                for (int64_t i = 0; i < n && m->ReferenceType; ++i) {
                    const void* target = Load<const void*>(pointers + p * i);
                    if (target)
                        Fixup(w, table, int32_t(4 * i), WriteObject(w, m->ReferenceType, target));
                }
                break;
            }
            case OrvaneVariantReferenceMember: {
                const auto* variantType = Load<const Type*>(data);
                const void* object = Load<const void*>(data + p);
                if (variantType == nullptr) break;
                Fixup(w, here, 0, WriteType(w, VariantStoredType(w, variantType)));
                if (object) Fixup(w, here, 4, WriteObject(w, variantType, object));
                break;
            }
            case OrvaneSwitchableTypeMember: {
                const int32_t index = Load<int32_t>(data);
                const void* object = Load<const void*>(data + 4);
                auto* const* table = reinterpret_cast<Type* const*>(m->ReferenceType);
                if (object == nullptr) break;
                if (index < 0 || index >= OrvaneGetTypeTableCount(table)) {
                    ORVANE_LOG_ERROR(OrvaneFileWritingOrigin,
                                     "Switchable type index %d of member %s is out of range", index,
                                     m->Name);
                    w->failed = true;
                    break;
                }
                Fixup(w, here, 4, WriteObject(w, table[index], object));
                break;
            }
            case OrvaneReferenceToVariantArrayMember: {
                const auto* variantType = Load<const Type*>(data);
                const int64_t n = int64_t{Load<int32_t>(data + p)} * width;
                const void* array = Load<const void*>(data + p + 4);
                if (variantType == nullptr) break;
                Fixup(w, here, 0, WriteType(w, VariantStoredType(w, variantType)));
                if (n > 0 && n <= INT32_MAX && array)
                    Fixup(w, here, 8,
                          WriteArray(w, variantType, at.SectionIndex, int32_t(n), array));
                break;
            }
            case OrvaneStringMember:
                if (w->stringCallback) break;
                for (int32_t u = 0; u < width; ++u) {
                    const char* text = Load<const char*>(data + p * u);
                    const char* mapped = OrvaneMapString(w->strings, text ? text : "");
                    if (mapped == nullptr) {
                        w->failed = true;
                        break;
                    }
                    Fixup(w, here, 4 * u, WriteString(w, mapped));
                }
                break;
            default:
                break;
        }
        data += nativeSize;
        fileOffset += fileSize;
    }
}

void ReleaseItems(Writer* w) {
    for (ItemBlock* block = w->firstBlock; block;) {
        ItemBlock* next = block->next;
        ORVANE_DEALLOCATE(block);
        block = next;
    }
    w->firstBlock = w->lastBlock = nullptr;
    w->itemCount = 0;
}

}  // namespace

int32_t GetFileDataTreeWriterItemCount(const orvane_file_data_tree_writer* writer) {
    return writer ? writer->itemCount : 0;
}

}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API orvane_file_data_tree_writer* OrvaneBeginFileDataTreeWriting(
    orvane_data_type_definition* RootObjectTypeDefinition, void* RootObject,
    orvane_int32 DefaultTypeSectionIndex, orvane_int32 DefaultObjectSectionIndex) {
    auto* w = static_cast<Writer*>(ORVANE_ALLOCATE(alignof(Writer), sizeof(Writer)));
    PointerHash* items = NewPointerHash();
    PointerHash* arrays = NewPointerHash();
    if (w == nullptr || items == nullptr || arrays == nullptr) {
        ORVANE_DEALLOCATE(w);
        DeletePointerHash(items);
        DeletePointerHash(arrays);
        return nullptr;
    }
    std::memset(static_cast<void*>(w), 0, sizeof *w);
    new (&w->scratch) orvane::Array<uint8_t>(ORVANE_SOURCE_FILE, __LINE__, 16);
    w->rootType = RootObjectTypeDefinition;
    w->rootObject = RootObject;
    w->defaultTypeSection = DefaultTypeSectionIndex;
    w->defaultObjectSection = DefaultObjectSectionIndex;
    w->items = items;
    w->arrays = arrays;
    WriterItem* null = NewItem(w);
    if (null == nullptr || !AddPointerHashEntry(items, nullptr, null)) {
        OrvaneEndFileDataTreeWriting(w);
        return nullptr;
    }
    *null = {0, {DefaultTypeSectionIndex, 0, 0}, false, DefaultTypeSectionIndex, 0, nullptr};
    return w;
}

ORVANE_API void OrvaneSetFileDataTreeFlags(orvane_file_data_tree_writer* Writer,
                                           orvane_uint32 Flags) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileWritingOrigin, Writer, );
    Writer->flags = Flags;
}

ORVANE_API void OrvaneSetFileSectionForObjectsOfType(orvane_file_data_tree_writer* Writer,
                                                     const orvane_data_type_definition* Type,
                                                     orvane_int32 SectionIndex) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileWritingOrigin, Writer, );
    if (WriterItem* item = GetItem(Writer, nullptr, Type))
        item->objectsOfTypeSection = SectionIndex;
}

ORVANE_API void OrvaneSetFileSectionForObject(orvane_file_data_tree_writer* Writer,
                                              const void* Object, orvane_int32 SectionIndex) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileWritingOrigin, Writer, );
    if (WriterItem* item = GetItem(Writer, nullptr, Object)) {
        item->location.SectionIndex = SectionIndex;
        item->explicitSection = true;
    }
}

ORVANE_API void OrvaneSetFileWriterStringCallback(orvane_file_data_tree_writer* Writer,
                                                  orvane_file_writer_string_callback Callback,
                                                  void* UserData) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileWritingOrigin, Writer, );
    Writer->stringCallback = Callback;
    Writer->stringUserData = UserData;
}

ORVANE_API orvane_bool OrvaneWriteDataTreeToFileBuilder(orvane_file_data_tree_writer* Writer,
                                                        orvane_file_builder* Builder) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileWritingOrigin, Writer, false);
    ORVANE_CHECK_NOT_NULL(OrvaneFileWritingOrigin, Builder, false);
    ORVANE_TIMING_BLOCK("WriteDataTreeToFileBuilder");
    ++Writer->pass;
    Writer->strings = OrvaneNewStringTable();
    if (Writer->strings == nullptr) {
        ORVANE_LOG_ERROR(OrvaneFileWritingOrigin, "Unable to create file string table builder");
        return false;
    }
    Writer->builder = Builder;
    Writer->failed = false;
    orvane_file_location object = {0, 0, 0};
    if (Writer->rootObject && Writer->rootType)
        object = WriteObject(Writer, Writer->rootType, Writer->rootObject);
    const Type* rootType =
        (Writer->flags & OrvaneWriteRootTypeAsEmpty) ? OrvaneEmptyType : Writer->rootType;
    orvane_file_location type = WriteType(Writer, rootType);
    OrvaneMarkFileRootObject(Builder, type, object);
    OrvaneFreeStringTable(Writer->strings);
    Writer->strings = nullptr;
    Writer->builder = nullptr;
    Writer->scratch.Release();
    return !Writer->failed;
}

ORVANE_API orvane_bool OrvaneWriteDataTreeToFile(orvane_file_data_tree_writer* Writer,
                                                 orvane_uint32 FileTypeTag, const char* FileName,
                                                 orvane_int32 SectionCount) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileWritingOrigin, Writer, false);
    orvane_file_builder* builder =
        OrvaneBeginFile(SectionCount, FileTypeTag, ".", "WriteDataTreeToFile");
    if (builder == nullptr) {
        ORVANE_LOG_ERROR(OrvaneFileWritingOrigin, "Unable to create file writing buffer");
        return false;
    }
    if (!OrvaneWriteDataTreeToFileBuilder(Writer, builder)) {
        // An incomplete tree is not written: a file of that name stays as it was.
        ORVANE_LOG_ERROR(OrvaneFileWritingOrigin, "Unable to write tree contents to file buffer");
        OrvaneAbortFile(builder);
        return false;
    }
    if (!OrvaneEndFile(builder, FileName)) {
        ORVANE_LOG_ERROR(OrvaneFileWritingOrigin, "Unable to write buffer to file");
        return false;
    }
    return true;
}

ORVANE_API void OrvaneEndFileDataTreeWriting(orvane_file_data_tree_writer* Writer) {
    if (Writer == nullptr) return;
    ReleaseItems(Writer);
    DeletePointerHash(Writer->items);
    DeletePointerHash(Writer->arrays);
    Writer->scratch.~Array();
    ORVANE_DEALLOCATE(Writer);
}

}  // extern "C"

// libFuzzer target: hostile content files through OrvaneReadEntireFileFromMemory and
// OrvaneGetFileInfo. Whatever the loader hands out is then read in full through its own native
// descriptions (every byte of every object, every string, every array), so that a native copy
// smaller than its description claims, or a pointer that leads outside loaded memory, is seen
// by the sanitizers. A section is freed and the tree brought up to date once more.
#include <cstdint>
#include <cstring>
#include <set>
#include <utility>

#include "orvane/core.h"
#include "orvane/file.h"
#include "orvane/data_tree_writer.h"
#include "orvane/types.h"
#include "types/orvane_member_iterator.h"

namespace {

struct Reader {
    std::set<std::pair<const void*, const void*>> seen;
    int64_t budget = 1 << 16;
    volatile uint32_t sink = 0;

    void Bytes(const void* at, size_t size) {
        const auto* bytes = static_cast<const uint8_t*>(at);
        uint32_t sum = 0;
        for (size_t i = 0; i < size; ++i)
            sum += bytes[i];
        sink = sink + sum;
    }
    void Text(const char* text) {
        if (text) Bytes(text, std::strlen(text));
    }
    void Type(const orvane_data_type_definition* type, int depth) {
        if (type == nullptr || depth > 16 || !seen.insert({type, nullptr}).second) return;
        for (; type->Type != OrvaneEndMember && --budget > 0; ++type) {
            Text(type->Name);
            if (type->Type != OrvaneSwitchableTypeMember) Type(type->ReferenceType, depth + 1);
        }
    }
    void Objects(const orvane_data_type_definition* type, const uint8_t* object, int64_t count,
                 int depth) {
        if (object == nullptr || type == nullptr || depth > 16) return;
        if (!seen.insert({type, object}).second) return;
        Type(type, depth);
        const int32_t size = OrvaneGetTotalObjectSize(type);
        for (int64_t i = 0; i < count && --budget > 0; ++i)
            Object(type, object + i * size, depth);
    }
    // Every member's bytes, then what it leads to, through the type system's member iterator
    // (which knows where each kind keeps its count, pointer and type in the native layout).
    void Object(const orvane_data_type_definition* type, const uint8_t* object, int depth) {
        for (orvane::MemberIterator it =
                 orvane::MemberIterator::OverMembers(type, const_cast<uint8_t*>(object));
             it.Valid() && --budget > 0; it.Advance()) {
            Bytes(it.data, size_t(it.stride));
            switch (it.kind) {
                case OrvaneInlineMember:
                    Object(it.member->ReferenceType, it.data, depth + 1);
                    break;
                case OrvaneReferenceMember:
                    Objects(it.subType, static_cast<const uint8_t*>(it.Pointer()), 1, depth + 1);
                    break;
                case OrvaneStringMember:
                    Text(static_cast<const char*>(it.Pointer()));
                    break;
                case OrvaneReferenceToArrayMember:
                case OrvaneReferenceToVariantArrayMember:
                    Objects(it.Type(), static_cast<const uint8_t*>(it.ArrayPointer()), it.Count(),
                            depth + 1);
                    break;
                case OrvaneArrayOfReferencesMember:
                    if (it.ArrayPointer() == nullptr) break;
                    for (orvane::MemberIterator entry = it.SubArray();
                         entry.Valid() && --budget > 0; entry.Advance())
                        Objects(it.subType, static_cast<const uint8_t*>(entry.Pointer()), 1,
                                depth + 1);
                    break;
                case OrvaneVariantReferenceMember:
                    Objects(it.Type(), static_cast<const uint8_t*>(it.Pointer()), 1, depth + 1);
                    break;
                default:
                    break;
            }
        }
    }
};

void Quiet(orvane_log_message_type, orvane_log_message_origin, const char*, void*) {}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    orvane_log_callback callback = {&Quiet, nullptr};
    OrvaneSetLogCallback(&callback);
    // Keeps a few bytes claiming a huge section from asking for a gigabyte.
    OrvaneSetFileSectionSizeLimit(1u << 22);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 24)) return 0;
    orvane_file* file = OrvaneReadEntireFileFromMemory(int32_t(size), data);
    if (file == nullptr) return 0;
    orvane_file_info* info = OrvaneGetFileInfo(file);
    orvane_variant tree = OrvaneGetDataTreeFromFile(file);
    {
        Reader reader;
        reader.Objects(tree.Type, static_cast<const uint8_t*>(tree.Object), 1, 0);
        if (info != nullptr)
            reader.Objects(OrvaneFileInfoType, reinterpret_cast<uint8_t*>(info), 1, 0);
    }
    if (file->SectionCount > 1) {
        OrvaneFreeFileSection(file, 1);
        tree = OrvaneGetDataTreeFromFile(file);
        Reader reader;
        reader.Objects(tree.Type, static_cast<const uint8_t*>(tree.Object), 1, 0);
    }
    OrvaneFreeFile(file);
    return 0;
}

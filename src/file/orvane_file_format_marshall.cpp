// Marshalling fixups: objects whose members mix widths, byte-reversed member by member through
// the type descriptions stored in the file, read in the file's own 32-byte record layout.
#include <cstring>

#include "core/orvane_log.h"
#include "file/orvane_file_format.h"
#include "types/orvane_type_layout.h"

namespace orvane {
namespace {

// What the record accessor's callbacks need: the sections, the section last found (records of
// one description mostly lie in one section), and the objects being reversed, which no record
// may overlap: reversing them would otherwise change the description under the walk.
struct MarshallContext {
    const orvane_file_sections* sections;
    int32_t hint;
    uintptr_t objectsBegin;
    uintptr_t objectsEnd;
};

bool OverlapsObjects(const MarshallContext& context, const void* at, uint32_t extent) {
    uintptr_t begin = reinterpret_cast<uintptr_t>(at);
    return begin < context.objectsEnd && context.objectsBegin < begin + extent;
}

const void* ResolveFileSlot(void* opaque, const void* slot) {
    auto* context = static_cast<MarshallContext*>(opaque);
    // Slots of type tables are read through here without a record check of their own.
    if (FindLoadedSection(context->sections, slot, 4, &context->hint) < 0) return nullptr;
    uint32_t available = 0;
    const void* address = DecodePointerSlot(context->sections, slot, &available, &context->hint);
    if (address == nullptr) return nullptr;
    // The accessor may hand the address out as a name, which must end inside its section.
    uint32_t scan = available < kMaxDecodedNameLength ? available : kMaxDecodedNameLength;
    if (std::memchr(address, 0, scan) == nullptr) return nullptr;
    return address;
}

bool FileRecordInBounds(void* opaque, const void* record) {
    auto* context = static_cast<MarshallContext*>(opaque);
    return FindLoadedSection(context->sections, record, kFileRecordSize, &context->hint) >= 0 &&
           !OverlapsObjects(*context, record, kFileRecordSize);
}

}  // namespace
}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API orvane_bool OrvaneOVNMarshall(const orvane_file_sections* Sections,
                                         orvane_int32 SectionIndex, orvane_uint32 FixupCount,
                                         const orvane_ovn_marshalling_fixup* Fixups) {
    if (!CheckFileSections(Sections, SectionIndex)) return false;
    if (FixupCount == 0) return true;
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, Fixups, false);
    char* data = LoadedSectionData(Sections, SectionIndex);
    if (data == nullptr) return false;
    const uint32_t size = Sections->SectionTable[SectionIndex].ExpandedSize;
    MarshallContext context = {Sections, SectionIndex, 0, 0};
    const TypeRecords records = TypeRecords::File(&ResolveFileSlot, &FileRecordInBounds, &context);
    uint32_t refused = 0;
    for (uint32_t j = 0; j < FixupCount; ++j) {
        const orvane_ovn_marshalling_fixup& fixup = Fixups[j];
        const uint32_t typeSection = fixup.Type.SectionIndex;
        const void* type = nullptr;
        int32_t objectSize = 0;
        bool applied = false;
        if (fixup.ObjectOffset <= size && fixup.Count <= INT32_MAX &&
            typeSection < static_cast<uint32_t>(Sections->SectionCount) &&
            Sections->Sections[typeSection] != nullptr &&
            fixup.Type.Offset <= Sections->SectionTable[typeSection].ExpandedSize) {
            type = static_cast<const char*>(Sections->Sections[typeSection]) + fixup.Type.Offset;
            // The object extent is known only from the description; the overlap check of the
            // records needs it first, so it is taken with no objects excluded, then the walk
            // that writes runs with them excluded (and fails if a record lies among them).
            context.objectsBegin = context.objectsEnd = 0;
            if (GetObjectSize(records, DataLayout::File, type, &objectSize)) {
                uint64_t extent = uint64_t{fixup.Count} * static_cast<uint64_t>(objectSize);
                if (extent <= size - fixup.ObjectOffset) {
                    context.objectsBegin = reinterpret_cast<uintptr_t>(data + fixup.ObjectOffset);
                    context.objectsEnd = context.objectsBegin + extent;
                    applied = ReverseObjects(records, DataLayout::File, type,
                                             static_cast<int32_t>(fixup.Count),
                                             data + fixup.ObjectOffset, size - fixup.ObjectOffset);
                }
            }
        }
        if (!applied && refused++ == 0) {
            ORVANE_LOG_ERROR(OrvaneFileReadingOrigin,
                             "Marshalling fixup %u of section %d (%u objects at %u of type %u:%u) "
                             "does not fit its sections or has a malformed type",
                             j, SectionIndex, fixup.Count, fixup.ObjectOffset, typeSection,
                             fixup.Type.Offset);
        }
    }
    return refused == 0;
}

}  // extern "C"

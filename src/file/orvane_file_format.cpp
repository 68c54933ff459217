// The content file format: magic records, recognition, header checks, section reversal, pointer
// fixups into the per-File pointer table, and references.
#include "file/orvane_file_format.h"

#include <cstring>

#include "core/orvane_log.h"
#include "core/orvane_memory.h"

namespace orvane {
namespace {

constexpr uint32_t kMagicWords[4] = {0xCAB067B8u, 0x0FB16DF8u, 0x7E8C7284u, 0x1E00195Eu};

constexpr orvane_file_magic_record kNativeMagic = {
    {kMagicWords[0], kMagicWords[1], kMagicWords[2], kMagicWords[3]}, 0, 0, {0, 0}};
constexpr orvane_file_magic_record kReversedMagic = {
    {__builtin_bswap32(kMagicWords[0]), __builtin_bswap32(kMagicWords[1]),
     __builtin_bswap32(kMagicWords[2]), __builtin_bswap32(kMagicWords[3])},
    0,
    0,
    {0, 0}};

static_assert(sizeof(orvane_file_magic_record) == 32);
static_assert(sizeof(orvane_file_header) == 56);
static_assert(sizeof(orvane_ovn_section) == 44);
static_assert(sizeof(orvane_ovn_reference) == 8);
static_assert(sizeof(orvane_ovn_pointer_fixup) == 12);
static_assert(sizeof(orvane_ovn_marshalling_fixup) == 16);

const char* const kStandardSectionNames[OrvaneStandardSectionCount] = {
    "0 - StandardMainSection",
    "1 - StandardRigidVertexSection",
    "2 - StandardRigidIndexSection",
    "3 - StandardDeformableVertexSection",
    "4 - StandardDeformableIndexSection",
    "5 - StandardTextureSection",
    "6 - StandardDiscardableSection",
    "7 - StandardUnloadedSection"};

// The most sections and the largest section alignment the file builder writes. Loading and
// freeing do work per section for every other section, and a section's block grows with its
// alignment: larger values in a file only serve to make loading slow or large.
constexpr uint32_t kMaxSectionCount = 65536;
constexpr uint32_t kMaxSectionAlignment = 65536;

// Whether [offset, offset + count × unit) lies inside [0, limit), without overflow.
bool RangeFits(uint32_t offset, uint32_t count, uint32_t unit, uint32_t limit) {
    return uint64_t{offset} + uint64_t{count} * unit <= limit;
}

uint64_t FirstHandleOf(const orvane_file_sections* sections, int32_t sectionIndex) {
    uint64_t first = 0;
    for (int32_t i = 0; i < sectionIndex; ++i)
        first += sections->SectionTable[i].PointerFixupCount;
    return first;
}

}  // namespace

int32_t FindLoadedSection(const orvane_file_sections* sections, const void* address,
                          uint32_t extent, int32_t* hint) {
    auto holds = [&](int32_t i) {
        const void* base = sections->Sections[i];
        if (base == nullptr) return false;
        uintptr_t start = reinterpret_cast<uintptr_t>(base);
        uintptr_t at = reinterpret_cast<uintptr_t>(address);
        return at >= start && at - start <= sections->SectionTable[i].ExpandedSize &&
               extent <= sections->SectionTable[i].ExpandedSize - (at - start);
    };
    // Only an address with extent 0 can be held at a section's very end. The caller may have
    // placed another section right there (sections read back to back into one block), and
    // then the address is that section's first byte: a section that holds it inside wins.
    auto inside = [&](int32_t i) {
        return reinterpret_cast<uintptr_t>(address) -
                   reinterpret_cast<uintptr_t>(sections->Sections[i]) <
               sections->SectionTable[i].ExpandedSize;
    };
    if (hint && *hint >= 0 && *hint < sections->SectionCount && holds(*hint) && inside(*hint))
        return *hint;
    int32_t atEnd = -1;
    for (int32_t i = 0; i < sections->SectionCount; ++i) {
        if (!holds(i)) continue;
        if (inside(i)) {
            if (hint) *hint = i;
            return i;
        }
        if (atEnd < 0) atEnd = i;
    }
    if (atEnd >= 0 && hint) *hint = atEnd;
    return atEnd;
}

void* DecodePointerSlot(const orvane_file_sections* sections, const void* slot,
                        uint32_t* bytesAvailable, int32_t* hint) {
    if (bytesAvailable) *bytesAvailable = 0;
    uint32_t handle;
    std::memcpy(&handle, slot, sizeof handle);
    if (handle == 0 || handle > sections->PointerCount || sections->Pointers == nullptr)
        return nullptr;
    void* address = sections->Pointers[handle - 1];
    if (address == nullptr) return nullptr;
    // The section the handle was resolved into may have been freed since.
    int32_t section = FindLoadedSection(sections, address, 0, hint);
    if (section < 0) return nullptr;
    if (bytesAvailable) {
        uintptr_t end = reinterpret_cast<uintptr_t>(sections->Sections[section]) +
                        sections->SectionTable[section].ExpandedSize;
        *bytesAvailable = static_cast<uint32_t>(end - reinterpret_cast<uintptr_t>(address));
    }
    return address;
}

bool CheckFileSections(const orvane_file_sections* sections, int32_t sectionIndex) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, sections, false);
    if (sectionIndex < 0 || sectionIndex >= sections->SectionCount) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin, "SectionIndex %d is out of range [0, %d)",
                         sectionIndex, sections->SectionCount);
        return false;
    }
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, sections->SectionTable, false);
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, sections->Sections, false);
    return true;
}

char* LoadedSectionData(const orvane_file_sections* sections, int32_t sectionIndex) {
    char* data = static_cast<char*>(sections->Sections[sectionIndex]);
    if (data == nullptr)
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin, "File section %d is not loaded", sectionIndex);
    return data;
}

}  // namespace orvane

using namespace orvane;

extern "C" {

extern ORVANE_API const orvane_file_magic_record* const OrvaneOVNFileMV = &kNativeMagic;
extern ORVANE_API const orvane_file_magic_record* const OrvaneReversedOVNFileMV = &kReversedMagic;

ORVANE_API const char* OrvaneGetStandardSectionName(orvane_int32 SectionIndex) {
    if (SectionIndex < 0 || SectionIndex >= OrvaneStandardSectionCount) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin, "SectionIndex %d is out of range [0, %d)",
                         SectionIndex, static_cast<int32_t>(OrvaneStandardSectionCount));
        return "(non-standard section)";
    }
    return kStandardSectionNames[SectionIndex];
}

ORVANE_API orvane_bool OrvaneIsOrvaneFile(const orvane_file_magic_record* MagicRecord,
                                          orvane_uint32* HeaderSize, orvane_bool* Reversed) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, MagicRecord, false);
    bool reversed;
    if (Compare(sizeof kNativeMagic.MagicValue, MagicRecord->MagicValue, kNativeMagic.MagicValue))
        reversed = false;
    else if (Compare(sizeof kReversedMagic.MagicValue, MagicRecord->MagicValue,
                     kReversedMagic.MagicValue))
        reversed = true;
    else
        return false;
    if (Reversed) *Reversed = reversed;
    if (HeaderSize)
        *HeaderSize = reversed ? ByteSwap32(MagicRecord->HeaderSize) : MagicRecord->HeaderSize;
    return true;
}

ORVANE_API orvane_bool OrvaneFileHeaderIsValid(const orvane_file_header* Header,
                                               orvane_uint32 HeaderSize) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, Header, false);
    if (HeaderSize < sizeof(orvane_file_header)) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin,
                         "File header block of %u bytes is shorter than the header (%u)",
                         HeaderSize, static_cast<uint32_t>(sizeof(orvane_file_header)));
        return false;
    }
    if (Header->SectionTableOffset % 4 != 0 ||
        !RangeFits(Header->SectionTableOffset, Header->SectionCount, sizeof(orvane_ovn_section),
                   HeaderSize)) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin,
                         "File section table (%u sections at %u) does not fit the header block "
                         "of %u bytes",
                         Header->SectionCount, Header->SectionTableOffset, HeaderSize);
        return false;
    }
    if (Header->SectionCount > kMaxSectionCount) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin, "File has %u sections, more than the %u allowed",
                         Header->SectionCount, kMaxSectionCount);
        return false;
    }
    const uint32_t total = Header->TotalSize;
    const auto* table = reinterpret_cast<const orvane_ovn_section*>(
        reinterpret_cast<const char*>(Header) + Header->SectionTableOffset);
    for (uint32_t i = 0; i < Header->SectionCount; ++i) {
        const orvane_ovn_section& s = table[i];
        const int32_t index = static_cast<int32_t>(i);
        if (s.ExpandedSize > INT32_MAX - 3u) {
            ORVANE_LOG_ERROR(OrvaneFileReadingOrigin,
                             "File section %d is too large (%u bytes expanded)", index,
                             s.ExpandedSize);
            return false;
        }
        if (s.Start16Bit > s.Start8Bit || s.Start8Bit > s.ExpandedSize) {
            ORVANE_LOG_ERROR(OrvaneFileReadingOrigin,
                             "File section %d has its parts out of order (%u, %u, %u)", index,
                             s.Start16Bit, s.Start8Bit, s.ExpandedSize);
            return false;
        }
        if ((s.Alignment & (s.Alignment - 1)) != 0 || s.Alignment > kMaxSectionAlignment) {
            ORVANE_LOG_ERROR(OrvaneFileReadingOrigin, "File section %d has alignment %u", index,
                             s.Alignment);
            return false;
        }
        if (s.Compression == 0 && s.DataSize != s.ExpandedSize) {
            ORVANE_LOG_ERROR(OrvaneFileReadingOrigin,
                             "File section %d stores %u bytes uncompressed for %u expanded", index,
                             s.DataSize, s.ExpandedSize);
            return false;
        }
        if (s.DataSize != 0 && !RangeFits(s.DataOffset, s.DataSize, 1, total)) {
            ORVANE_LOG_ERROR(OrvaneFileReadingOrigin,
                             "File section %d has its data (%u bytes at %u) outside the file "
                             "(%u bytes)",
                             index, s.DataSize, s.DataOffset, total);
            return false;
        }
        const struct {
            const char* kind;
            uint32_t count, offset, unit;
        } fixups[] = {{"pointer", s.PointerFixupCount, s.PointerFixupOffset,
                       sizeof(orvane_ovn_pointer_fixup)},
                      {"marshalling", s.MarshallingFixupCount, s.MarshallingFixupOffset,
                       sizeof(orvane_ovn_marshalling_fixup)}};
        for (const auto& f : fixups) {
            if (f.count != 0 && !RangeFits(f.offset, f.count, f.unit, total)) {
                ORVANE_LOG_ERROR(OrvaneFileReadingOrigin,
                                 "File section %d has its %s fixups (%u at %u) outside the file "
                                 "(%u bytes)",
                                 index, f.kind, f.count, f.offset, total);
                return false;
            }
        }
    }
    // Every pointer fixup takes a pointer table entry when the file is loaded. The builder
    // writes each section's fixups apart, so the file holds them all; sections that share one
    // array would make a small file ask for a table of gigabytes.
    const uint32_t pointerCount =
        OrvaneGetOVNPointerCount(static_cast<int32_t>(Header->SectionCount), table);
    if (pointerCount == UINT32_MAX ||
        uint64_t{pointerCount} * sizeof(orvane_ovn_pointer_fixup) > total) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin,
                         "File has more pointer fixups than it can hold (%u in %u bytes)",
                         pointerCount, total);
        return false;
    }
    return true;
}

ORVANE_API orvane_ovn_section* OrvaneGetOVNSectionArray(orvane_file_header* Header) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, Header, nullptr);
    return reinterpret_cast<orvane_ovn_section*>(reinterpret_cast<char*>(Header) +
                                                 Header->SectionTableOffset);
}

ORVANE_API void OrvaneReverseSection(orvane_uint32 Start16Bit, orvane_uint32 Start8Bit,
                                     orvane_uint32 End, void* Data) {
    if (Start16Bit > Start8Bit || Start8Bit > End) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin,
                         "Section parts are out of order (%u, %u, %u); nothing reversed",
                         Start16Bit, Start8Bit, End);
        return;
    }
    if (Start8Bit == 0) return;
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, Data, );
    Reverse32(Start16Bit, Data);
    Reverse16(Start8Bit - Start16Bit, static_cast<char*>(Data) + Start16Bit);
}

ORVANE_API orvane_uint32 OrvaneGetOVNPointerCount(orvane_int32 SectionCount,
                                                  const orvane_ovn_section* SectionTable) {
    if (SectionCount <= 0) return 0;
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, SectionTable, 0);
    uint64_t count = 0;
    for (int32_t i = 0; i < SectionCount; ++i)
        count += SectionTable[i].PointerFixupCount;
    return count >= UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(count);
}

ORVANE_API orvane_bool OrvaneOVNFixUp(const orvane_file_sections* Sections,
                                      orvane_int32 SectionIndex, orvane_uint32 FixupCount,
                                      const orvane_ovn_pointer_fixup* Fixups) {
    if (!CheckFileSections(Sections, SectionIndex)) return false;
    if (FixupCount == 0) return true;
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, Fixups, false);
    char* data = LoadedSectionData(Sections, SectionIndex);
    if (data == nullptr) return false;
    const uint64_t first = FirstHandleOf(Sections, SectionIndex);
    if (FixupCount > Sections->SectionTable[SectionIndex].PointerFixupCount ||
        first + FixupCount > Sections->PointerCount || Sections->Pointers == nullptr) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin,
                         "%u pointer fixups of section %d do not fit the pointer table (%u "
                         "entries)",
                         FixupCount, SectionIndex, Sections->PointerCount);
        return false;
    }
    const uint32_t size = Sections->SectionTable[SectionIndex].ExpandedSize;
    uint32_t refused = 0;
    for (uint32_t j = 0; j < FixupCount; ++j) {
        const orvane_ovn_pointer_fixup& fixup = Fixups[j];
        const uint32_t target = fixup.To.SectionIndex;
        if (!RangeFits(fixup.FromOffset, 1, 4, size) ||
            target >= static_cast<uint32_t>(Sections->SectionCount) ||
            fixup.To.Offset > Sections->SectionTable[target].ExpandedSize) {
            if (refused++ == 0) {
                ORVANE_LOG_ERROR(OrvaneFileReadingOrigin,
                                 "Pointer fixup %u of section %d (from %u to %u:%u) lies outside "
                                 "its sections",
                                 j, SectionIndex, fixup.FromOffset, target, fixup.To.Offset);
            }
            continue;
        }
        const uint32_t handle = static_cast<uint32_t>(first + j + 1);
        char* base = static_cast<char*>(Sections->Sections[target]);
        Sections->Pointers[handle - 1] = base ? base + fixup.To.Offset : nullptr;
        const uint32_t slot = base ? handle : 0;
        std::memcpy(data + fixup.FromOffset, &slot, sizeof slot);
    }
    return refused == 0;
}

ORVANE_API void* OrvaneDecodeOVNReference(const orvane_file_sections* Sections,
                                          const orvane_ovn_reference* Reference) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, Sections, nullptr);
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, Reference, nullptr);
    const uint32_t index = Reference->SectionIndex;
    if (index >= static_cast<uint32_t>(Sections->SectionCount < 0 ? 0 : Sections->SectionCount)) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin, "SectionIndex %d is out of range [0, %d)",
                         static_cast<int32_t>(index), Sections->SectionCount);
        return nullptr;
    }
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, Sections->Sections, nullptr);
    char* base = static_cast<char*>(Sections->Sections[index]);
    if (base == nullptr) return nullptr;
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, Sections->SectionTable, nullptr);
    if (Reference->Offset > Sections->SectionTable[index].ExpandedSize) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin,
                         "Offset %u lies past the end of file section %d (%u bytes)",
                         Reference->Offset, static_cast<int32_t>(index),
                         Sections->SectionTable[index].ExpandedSize);
        return nullptr;
    }
    return base + Reference->Offset;
}

ORVANE_API void* OrvaneDecodeOVNPointerSlot(const orvane_file_sections* Sections, const void* Slot,
                                            orvane_uint32* BytesAvailable) {
    if (BytesAvailable) *BytesAvailable = 0;
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, Sections, nullptr);
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, Slot, nullptr);
    if (Sections->SectionCount <= 0 || Sections->Sections == nullptr ||
        Sections->SectionTable == nullptr)
        return nullptr;
    return DecodePointerSlot(Sections, Slot, BytesAvailable, nullptr);
}

}  // extern "C"

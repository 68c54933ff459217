// Loading content files: the header, sections read into library or caller memory, the two
// fixup phases, freeing, the CRC check, and the root as a data tree or a file info.
//
// Everything read from a file is hostile until checked: the header block goes through
// OrvaneFileHeaderIsValid before any of its values is used, the file must really be as long as
// its header says, sections above the size limit are refused, and the fixup primitives check
// every slot and target. What cannot be loaded stays null with an error.
#include <atomic>
#include <cstring>

#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "core/orvane_string.h"
#include "diag/orvane_timing.h"
#include "file/orvane_file_format.h"
#include "file/orvane_native_tree.h"
#include "types/orvane_convert.h"
#include "types/orvane_type_layout.h"
#include "orvane/convert.h"

namespace orvane {
namespace {

constexpr uint32_t kDefaultSectionSizeLimit = 1u << 30;
// The header block is the header and the section table, and the builder writes at most 65536
// sections: a damaged HeaderSize may not ask for more.
constexpr uint32_t kMaxHeaderSize = 88u + 44u * 65536u;
constexpr int32_t kCrcBlockSize = 65536;

std::atomic<uint32_t> g_sectionSizeLimit{kDefaultSectionSizeLimit};

uint32_t RoundUp4(uint32_t n) {
    return (n + 3u) & ~3u;
}

// Reads exactly count bytes at position; readers may return fewer than asked at a time.
bool ReadExactly(orvane_file_reader* reader, uint32_t position, uint32_t count, void* buffer) {
    if (uint64_t{position} + count > uint64_t{INT32_MAX}) return false;
    auto* bytes = static_cast<char*>(buffer);
    while (count > 0) {
        int32_t read = reader->ReadAtMostCallback(ORVANE_SOURCE_FILE, __LINE__, reader,
                                                  static_cast<int32_t>(position),
                                                  static_cast<int32_t>(count), bytes);
        if (read <= 0 || static_cast<uint32_t>(read) > count) return false;
        position += static_cast<uint32_t>(read);
        bytes += read;
        count -= static_cast<uint32_t>(read);
    }
    return true;
}

// Reads the magic record and the header block, byte order corrected and, when `check` is set,
// checked (the CRC check needs no more than the header's own fields and the bytes it covers).
// The block is allocated with its size rounded up to 4 (the tail zeroed) and belongs to the
// caller.
bool ReadHeader(orvane_file_reader* reader, bool* reversed, orvane_file_header** header,
                bool check = true) {
    orvane_file_magic_record magic;
    if (!ReadExactly(reader, 0, sizeof magic, &magic)) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin, "Unable to read magic value");
        return false;
    }
    uint32_t headerSize = 0;
    if (!OrvaneIsOrvaneFile(&magic, &headerSize, reversed)) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin, "File is not a Orvane file");
        return false;
    }
    if (magic.HeaderFormat != 0) {
        uint32_t format = *reversed ? ByteSwap32(magic.HeaderFormat) : magic.HeaderFormat;
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin, "File has an unrecognized header format (%d)",
                         static_cast<int32_t>(format));
        return false;
    }
    if (headerSize < sizeof(orvane_file_header) || headerSize > kMaxHeaderSize) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin, "File header size %u is out of range [%u, %u]",
                         headerSize, static_cast<uint32_t>(sizeof(orvane_file_header)),
                         kMaxHeaderSize);
        return false;
    }
    const uint32_t blockSize = RoundUp4(headerSize);
    auto* block = static_cast<orvane_file_header*>(ORVANE_ALLOCATE(4, blockSize));
    if (block == nullptr) return false;
    std::memset(block, 0, blockSize);
    if (!ReadExactly(reader, sizeof magic, headerSize, block)) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin, "Unable to read file header");
        ORVANE_DEALLOCATE(block);
        return false;
    }
    if (*reversed) Reverse32(blockSize, block);
    if (!check) {
        *header = block;
        return true;
    }
    if (!OrvaneFileHeaderIsValid(block, headerSize)) {
        ORVANE_DEALLOCATE(block);
        return false;
    }
    // Every offset was checked against TotalSize; the file must then really be that long, so
    // that no count in it can claim more than the file holds.
    char last;
    if (block->TotalSize < sizeof magic + headerSize || block->TotalSize > uint32_t{INT32_MAX} ||
        !ReadExactly(reader, block->TotalSize - 1, 1, &last)) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin,
                         "File is shorter than the %u bytes its header gives (or the size is out "
                         "of range)",
                         block->TotalSize);
        ORVANE_DEALLOCATE(block);
        return false;
    }
    *header = block;
    return true;
}

const orvane_ovn_section* SectionTableOf(const orvane_file* file) {
    return OrvaneGetOVNSectionArray(file->Header);
}

// The checks every per-section entry point starts with.
bool CheckSectionRequest(const orvane_file* file, int32_t sectionIndex) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, file, false);
    if (file->Header == nullptr) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin, "File.Header is not allowed to be 0");
        return false;
    }
    if (sectionIndex < 0 || sectionIndex >= file->SectionCount) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin, "SectionIndex %d is out of range [0, %d)",
                         sectionIndex, file->SectionCount);
        return false;
    }
    return true;
}

// Reads `count` fixup records of `unit` bytes at `offset` into a temporary block, in this
// machine's byte order. Null when the count is 0 or the read fails (logged).
void* ReadFixups(orvane_file_reader* reader, const orvane_file* file, int32_t sectionIndex,
                 uint32_t offset, uint32_t count, uint32_t unit) {
    if (count == 0) return nullptr;
    // The header check keeps the array inside TotalSize, which is below 2^31.
    const uint32_t bytes = count * unit;
    void* fixups = ORVANE_ALLOCATE(4, bytes);
    if (fixups == nullptr) return nullptr;
    if (!ReadExactly(reader, offset, bytes, fixups)) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin, "Unable to read the fixups of file section %d",
                         sectionIndex);
        ORVANE_DEALLOCATE(fixups);
        return nullptr;
    }
    if (file->ByteReversed) Reverse32(bytes, fixups);
    return fixups;
}

// A section whose fixups were refused holds slots that resolve nowhere or to the wrong
// place: it is dropped, as if its read had failed, so that no tree built over it has holes.
// Pointers into it from other sections resolve to null from now on.
void RefuseSection(orvane_file* file, int32_t sectionIndex, const char* what) {
    ORVANE_LOG_ERROR(OrvaneFileReadingOrigin, "File section %d is dropped: its %s were refused",
                     sectionIndex, what);
    OrvaneFreeFileSection(file, sectionIndex);
}

// False when the section had fixups and they could not all be applied (the section is then
// dropped).
bool ApplyPointerFixups(orvane_file_reader* reader, orvane_file* file, int32_t sectionIndex) {
    const orvane_ovn_section& section = SectionTableOf(file)[sectionIndex];
    if (file->Sections[sectionIndex] == nullptr || section.PointerFixupCount == 0) return true;
    void* fixups = ReadFixups(reader, file, sectionIndex, section.PointerFixupOffset,
                              section.PointerFixupCount, sizeof(orvane_ovn_pointer_fixup));
    bool applied = false;
    if (fixups != nullptr) {
        const orvane_file_sections sections = FileSectionsOf(file);
        applied = OrvaneOVNFixUp(&sections, sectionIndex, section.PointerFixupCount,
                                 static_cast<const orvane_ovn_pointer_fixup*>(fixups));
        ORVANE_DEALLOCATE(fixups);
    }
    MarkNativeTreeStale(file);
    if (!applied) RefuseSection(file, sectionIndex, "pointer fixups");
    return applied;
}

// The conversion of a root of another layout into the current file info; the block belongs to
// the caller. Objects whose layout did not change stay shared with the native tree. The
// converted tree may take at most 64 times the file's loaded sections and 16 MiB more: a few
// hostile bytes (arrays whose elements refer to one another's memory under other counts) would
// otherwise ask for hundreds of megabytes of copies.
orvane_file_info* ConvertRootToFileInfo(const orvane_file* file, const orvane_variant& root) {
    constexpr int64_t kConversionGrowth = 64;
    constexpr int64_t kConversionAllowance = int64_t{16} << 20;
    const orvane_ovn_section* table = SectionTableOf(file);
    int64_t loaded = 0;
    for (int32_t i = 0; i < file->SectionCount; ++i)
        if (file->Sections[i] != nullptr) loaded += table[i].ExpandedSize;
    return static_cast<orvane_file_info*>(
        ConvertTreeWithinLimit(root.Type, root.Object, OrvaneFileInfoType,
                               kConversionGrowth * loaded + kConversionAllowance));
}

// Whether a loaded section other than `except` holds the byte at `address`.
bool StartsAnotherSection(const orvane_file* file, int32_t except, uintptr_t address) {
    const orvane_ovn_section* table = SectionTableOf(file);
    for (int32_t i = 0; i < file->SectionCount; ++i) {
        const uintptr_t base = reinterpret_cast<uintptr_t>(file->Sections[i]);
        if (i != except && base != 0 && address >= base && address - base < table[i].ExpandedSize)
            return true;
    }
    return false;
}

// Releases a section's memory (unless it is the caller's) and clears its entry and flags. With
// `clearPointers`, the entries of the pointer table that lead into it become null.
void FreeSection(orvane_file* file, int32_t sectionIndex, bool clearPointers) {
    ReleaseNativeSection(file, sectionIndex);
    char* memory = static_cast<char*>(file->Sections[sectionIndex]);
    if (memory != nullptr) {
        // Pointers resolved into the section must not outlive it: memory allocated later at
        // the same address would otherwise be reached through them. A pointer to the section's
        // end may instead be one to the first byte of another section that the caller placed
        // right behind it in one block; that one stays.
        if (clearPointers) {
            const uintptr_t begin = reinterpret_cast<uintptr_t>(memory);
            const uintptr_t end = begin + SectionTableOf(file)[sectionIndex].ExpandedSize;
            const bool endIsAnotherSection = StartsAnotherSection(file, sectionIndex, end);
            for (uint32_t i = 0; i < file->PointerCount; ++i) {
                const uintptr_t at = reinterpret_cast<uintptr_t>(file->Pointers[i]);
                if (at >= begin && (at < end || (at == end && !endIsAnotherSection)))
                    file->Pointers[i] = nullptr;
            }
        }
        if (!file->SectionInUserMemory[sectionIndex]) ORVANE_DEALLOCATE(memory);
    }
    file->Sections[sectionIndex] = nullptr;
    file->SectionMarshalled[sectionIndex] = false;
    file->SectionInUserMemory[sectionIndex] = false;
    MarkNativeTreeStale(file);
}

}  // namespace

orvane_file_sections FileSectionsOf(const orvane_file* file) {
    orvane_file_sections sections;
    sections.SectionCount = file->SectionCount;
    sections.SectionTable = SectionTableOf(file);
    sections.Sections = file->Sections;
    sections.PointerCount = file->PointerCount;
    sections.Pointers = file->Pointers;
    return sections;
}

}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API void OrvaneSetFileSectionSizeLimit(orvane_uint32 MaximumExpandedSize) {
    g_sectionSizeLimit.store(MaximumExpandedSize, std::memory_order_relaxed);
}

ORVANE_API orvane_uint32 OrvaneGetFileSectionSizeLimit(void) {
    return g_sectionSizeLimit.load(std::memory_order_relaxed);
}

ORVANE_API orvane_file* OrvaneReadPartialFileFromReader(orvane_file_reader* Reader) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, Reader, nullptr);
    bool reversed = false;
    orvane_file_header* header = nullptr;
    if (!ReadHeader(Reader, &reversed, &header)) return nullptr;
    if (header->Version != ORVANE_FILE_FORMAT_REVISION) {
        ORVANE_LOG_WARNING(OrvaneFileReadingOrigin,
                           "File is file format revision %d (current version is %d)",
                           static_cast<int32_t>(header->Version), ORVANE_FILE_FORMAT_REVISION);
    }
    const int32_t sectionCount = static_cast<int32_t>(header->SectionCount);
    const uint32_t pointerCount =
        OrvaneGetOVNPointerCount(sectionCount, OrvaneGetOVNSectionArray(header));

    // One block: the record, the section and pointer arrays, then the two flag arrays.
    const uint64_t sectionsAt = (sizeof(orvane_file) + 7u) & ~uint64_t{7};
    const uint64_t pointersAt = sectionsAt + uint64_t{sizeof(void*)} * sectionCount;
    const uint64_t marshalledAt = pointersAt + uint64_t{sizeof(void*)} * pointerCount;
    const uint64_t userMemoryAt = marshalledAt + sectionCount;
    const uint64_t total = userMemoryAt + sectionCount;
    char* block = total > INT32_MAX ? nullptr : static_cast<char*>(ORVANE_ALLOCATE(8, total));
    if (block == nullptr) {
        if (total > INT32_MAX) {
            ORVANE_LOG_ERROR(OrvaneFileReadingOrigin,
                             "File has too many sections or pointers to load (%d, %u)",
                             sectionCount, pointerCount);
        }
        ORVANE_DEALLOCATE(header);
        return nullptr;
    }
    std::memset(block, 0, total);
    auto* file = reinterpret_cast<orvane_file*>(block);
    file->ByteReversed = reversed;
    file->Header = header;
    file->SectionCount = sectionCount;
    file->Sections = reinterpret_cast<void**>(block + sectionsAt);
    file->Pointers = reinterpret_cast<void**>(block + pointersAt);
    file->PointerCount = pointerCount;
    file->SectionMarshalled = reinterpret_cast<orvane_bool*>(block + marshalledAt);
    file->SectionInUserMemory = reinterpret_cast<orvane_bool*>(block + userMemoryAt);
    file->ConvertedFileInfo = nullptr;
    file->NativeTree = nullptr;
    return file;
}

ORVANE_API void OrvaneReadFileSectionInPlace(orvane_file_reader* Reader, orvane_file* File,
                                             orvane_int32 SectionIndex, void* Memory) {
    ORVANE_TIMING_BLOCK("ReadFileSectionInPlace");
    if (!CheckSectionRequest(File, SectionIndex)) return;
    if (File->Sections[SectionIndex] != nullptr) {
        ORVANE_LOG_WARNING(OrvaneFileReadingOrigin,
                           "Ignored request to read already populated file section %d",
                           SectionIndex);
        return;
    }
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, Reader, );
    const orvane_ovn_section& section = SectionTableOf(File)[SectionIndex];
    if (section.ExpandedSize == 0) return;
    const uint32_t limit = OrvaneGetFileSectionSizeLimit();
    if (section.ExpandedSize > limit) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin,
                         "File section %d expands to %u bytes, above the limit of %u", SectionIndex,
                         section.ExpandedSize, limit);
        return;
    }
    const uint32_t size = RoundUp4(section.ExpandedSize);
    char* memory = static_cast<char*>(Memory);
    if (memory == nullptr) {
        memory = static_cast<char*>(
            ORVANE_ALLOCATE(section.Alignment < 4 ? 4 : section.Alignment, size));
        if (memory == nullptr) return;
    }
    bool loaded = false;
    if (section.Compression == OrvaneNoCompression) {
        loaded = ReadExactly(Reader, section.DataOffset, section.DataSize, memory);
        if (!loaded) {
            ORVANE_LOG_ERROR(OrvaneFileReadingOrigin, "Unable to read file section %d",
                             SectionIndex);
        }
    } else {
        const int32_t padding =
            OrvaneGetCompressedBytesPaddingSize(static_cast<int32_t>(section.Compression));
        void* buffer = ORVANE_ALLOCATE(4, uint64_t{section.DataSize} + uint32_t(padding));
        if (buffer != nullptr) {
            if (!ReadExactly(Reader, section.DataOffset, section.DataSize, buffer)) {
                ORVANE_LOG_ERROR(OrvaneFileReadingOrigin, "Unable to read file section %d",
                                 SectionIndex);
            } else {
                std::memset(static_cast<char*>(buffer) + section.DataSize, 0, uint32_t(padding));
                loaded =
                    OrvaneDecompressData(static_cast<int32_t>(section.Compression),
                                         File->ByteReversed, static_cast<int32_t>(section.DataSize),
                                         buffer, static_cast<int32_t>(section.Start16Bit),
                                         static_cast<int32_t>(section.Start8Bit),
                                         static_cast<int32_t>(section.ExpandedSize), memory);
                if (!loaded) {
                    ORVANE_LOG_ERROR(OrvaneFileReadingOrigin,
                                     "Unable to decompress file section %d", SectionIndex);
                }
            }
            ORVANE_DEALLOCATE(buffer);
        }
    }
    if (!loaded) {
        if (Memory == nullptr) ORVANE_DEALLOCATE(memory);
        return;
    }
    std::memset(memory + section.ExpandedSize, 0, size - section.ExpandedSize);
    File->Sections[SectionIndex] = memory;
    File->SectionInUserMemory[SectionIndex] = Memory != nullptr;
    if (File->ByteReversed) {
        OrvaneReverseSection(section.Start16Bit, section.Start8Bit, section.ExpandedSize, memory);
    }
    File->SectionMarshalled[SectionIndex] = !File->ByteReversed;
    MarkNativeTreeStale(File);
}

ORVANE_API void OrvaneReadFileSection(orvane_file_reader* Reader, orvane_file* File,
                                      orvane_int32 SectionIndex) {
    OrvaneReadFileSectionInPlace(Reader, File, SectionIndex, nullptr);
}

ORVANE_API void OrvaneFixupFileSectionPhase1(orvane_file_reader* Reader, orvane_file* File,
                                             orvane_int32 SectionIndex) {
    ORVANE_TIMING_BLOCK("FixupFileSectionPhase1");
    if (!CheckSectionRequest(File, SectionIndex)) return;
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, Reader, );
    ApplyPointerFixups(Reader, File, SectionIndex);
}

ORVANE_API void OrvaneFixupFileSectionPhase2(orvane_file_reader* Reader, orvane_file* File,
                                             orvane_int32 SectionIndex) {
    ORVANE_TIMING_BLOCK("FixupFileSectionPhase2");
    if (!CheckSectionRequest(File, SectionIndex)) return;
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, Reader, );
    const orvane_ovn_section& section = SectionTableOf(File)[SectionIndex];
    // A loaded section without marshalling fixups has nothing left to marshal.
    if (File->Sections[SectionIndex] != nullptr && section.MarshallingFixupCount == 0)
        File->SectionMarshalled[SectionIndex] = true;
    if (File->ByteReversed && File->Sections[SectionIndex] != nullptr &&
        section.MarshallingFixupCount != 0 && !File->SectionMarshalled[SectionIndex]) {
        void* fixups =
            ReadFixups(Reader, File, SectionIndex, section.MarshallingFixupOffset,
                       section.MarshallingFixupCount, sizeof(orvane_ovn_marshalling_fixup));
        bool marshalled = false;
        if (fixups != nullptr) {
            const orvane_file_sections sections = FileSectionsOf(File);
            marshalled =
                OrvaneOVNMarshall(&sections, SectionIndex, section.MarshallingFixupCount,
                                  static_cast<const orvane_ovn_marshalling_fixup*>(fixups));
            ORVANE_DEALLOCATE(fixups);
        }
        if (!marshalled) {
            RefuseSection(File, SectionIndex, "marshalling fixups");
            return;
        }
        File->SectionMarshalled[SectionIndex] = true;
    }
    ApplyPointerFixups(Reader, File, SectionIndex);
}

ORVANE_API orvane_file* OrvaneReadEntireFileFromReader(orvane_file_reader* Reader) {
    ORVANE_TIMING_BLOCK("ReadEntireFileFromReader");
    orvane_file* file = OrvaneReadPartialFileFromReader(Reader);
    if (file == nullptr) return nullptr;
    for (int32_t i = 0; i < file->SectionCount; ++i) {
        file->Sections[i] = nullptr;
        OrvaneReadFileSection(Reader, file, i);
    }
    for (int32_t i = 0; i < file->SectionCount; ++i)
        OrvaneFixupFileSectionPhase1(Reader, file, i);
    for (int32_t i = 0; i < file->SectionCount; ++i)
        OrvaneFixupFileSectionPhase2(Reader, file, i);
    return file;
}

ORVANE_API orvane_file* OrvaneReadEntireFile(const char* FileName) {
    ORVANE_TIMING_BLOCK("ReadEntireFile");
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, FileName, nullptr);
    orvane_file_reader* reader =
        OrvaneGetDefaultFileReaderOpenCallback()(ORVANE_SOURCE_FILE, __LINE__, FileName);
    if (reader == nullptr) return nullptr;
    orvane_file* file = OrvaneReadEntireFileFromReader(reader);
    reader->CloseFileReaderCallback(ORVANE_SOURCE_FILE, __LINE__, reader);
    return file;
}

ORVANE_API orvane_file* OrvaneReadEntireFileFromMemory(orvane_int32 MemorySize,
                                                       const void* Memory) {
    orvane_file_reader* reader =
        OrvaneCreateMemoryFileReader(ORVANE_SOURCE_FILE, __LINE__, 0, MemorySize, Memory);
    if (reader == nullptr) return nullptr;
    orvane_file* file = OrvaneReadEntireFileFromReader(reader);
    reader->CloseFileReaderCallback(ORVANE_SOURCE_FILE, __LINE__, reader);
    return file;
}

ORVANE_API orvane_bool OrvaneFileCRCIsValid(const char* FileName) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, FileName, false);
    orvane_file_reader* reader =
        OrvaneGetDefaultFileReaderOpenCallback()(ORVANE_SOURCE_FILE, __LINE__, FileName);
    if (reader == nullptr) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin, "Unable to open %s for reading", FileName);
        return false;
    }
    bool reversed = false;
    orvane_file_header* header = nullptr;
    bool valid = false;
    // The sizes and counts in the header are not covered by the CRC and are not needed for it:
    // a header that loading would refuse still has its CRC checked.
    if (ReadHeader(reader, &reversed, &header, false)) {
        void* block = ORVANE_ALLOCATE(4, kCrcBlockSize);
        if (block != nullptr) {
            uint32_t crc = 0xFFFFFFFFu;
            uint64_t position = 32u + uint64_t{header->SectionTableOffset};
            while (position <= uint64_t{INT32_MAX}) {
                int32_t read = reader->ReadAtMostCallback(ORVANE_SOURCE_FILE, __LINE__, reader,
                                                          static_cast<int32_t>(position),
                                                          kCrcBlockSize, block);
                if (read <= 0 || read > kCrcBlockSize) break;
                crc = Crc32Update(crc, block, static_cast<size_t>(read));
                position += static_cast<uint32_t>(read);
            }
            valid = ~crc == header->CRC;
            ORVANE_DEALLOCATE(block);
        }
        ORVANE_DEALLOCATE(header);
    }
    reader->CloseFileReaderCallback(ORVANE_SOURCE_FILE, __LINE__, reader);
    return valid;
}

ORVANE_API void OrvaneFreeFileSection(orvane_file* File, orvane_int32 SectionIndex) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, File, );
    if (SectionIndex < 0 || SectionIndex >= File->SectionCount) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin, "SectionIndex %d is out of range [0, %d)",
                         SectionIndex, File->SectionCount);
        return;
    }
    FreeSection(File, SectionIndex, true);
}

ORVANE_API void OrvaneFreeAllFileSections(orvane_file* File) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, File, );
    // Every entry of the pointer table leads into a section or is null: with all sections gone
    // the table is cleared once, not searched once per section.
    if (File->Pointers != nullptr && File->PointerCount != 0)
        std::memset(File->Pointers, 0, sizeof(void*) * size_t{File->PointerCount});
    for (int32_t i = 0; i < File->SectionCount; ++i)
        FreeSection(File, i, false);
}

ORVANE_API void OrvaneFreeFile(orvane_file* File) {
    if (File == nullptr) return;
    OrvaneFreeAllFileSections(File);
    FreeNativeTree(File);
    ORVANE_DEALLOCATE(File->Header);
    OrvaneFreeBuilderResult(File->ConvertedFileInfo);
    ORVANE_DEALLOCATE(File);
}

ORVANE_API orvane_int32 OrvaneGetFileSectionOfLoadedObject(const orvane_file* File,
                                                           const void* Address) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, File, -1);
    if (File->Header == nullptr || File->SectionCount <= 0) return -1;
    const orvane_ovn_section* table = SectionTableOf(File);
    const uintptr_t at = reinterpret_cast<uintptr_t>(Address);
    for (int32_t i = 0; i < File->SectionCount; ++i) {
        const uintptr_t base = reinterpret_cast<uintptr_t>(File->Sections[i]);
        if (base != 0 && at >= base && at - base < table[i].ExpandedSize) return i;
    }
    return FindNativeSection(File, Address);
}

ORVANE_API orvane_variant OrvaneGetDataTreeFromFile(orvane_file* File) {
    orvane_variant root = {nullptr, nullptr};
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, File, root);
    if (File->Header == nullptr) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin, "File.Header is not allowed to be 0");
        return root;
    }
    UpdateNativeTree(File, &root);
    return root;
}

ORVANE_API orvane_uint32 OrvaneGetFileTypeTag(const orvane_file* File) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, File, 0);
    if (File->Header == nullptr) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin, "File.Header is not allowed to be 0");
        return 0;
    }
    return File->Header->TypeTag;
}

ORVANE_API orvane_file_info* OrvaneGetFileInfo(orvane_file* File) {
    orvane_variant root = OrvaneGetDataTreeFromFile(File);
    if (root.Type == nullptr || root.Object == nullptr) return nullptr;
    const uint32_t tag = File->Header->TypeTag;
    if (tag == ORVANE_CURRENT_FILE_TYPE_TAG) {
        // The tag is only a claim: the application reads the root as a file info, which is
        // safe only when the stored description lays it out as one.
        if (DataTypesAreEqual(root.Type, OrvaneFileInfoType, nullptr, nullptr))
            return static_cast<orvane_file_info*>(root.Object);
        // A root stored with the empty description: the tag is all there is to go by.
        if (void* info = NativeRootFileInfo(File)) return static_cast<orvane_file_info*>(info);
    }
    if (File->ConvertedFileInfo == nullptr) {
        if (tag != ORVANE_CURRENT_FILE_TYPE_TAG) {
            ORVANE_LOG_WARNING(OrvaneFileReadingOrigin,
                               "File has run-time type tag of 0x%x, which doesn't match this "
                               "version of Orvane (0x%x).  Automatic conversion will be "
                               "attempted.",
                               tag, ORVANE_CURRENT_FILE_TYPE_TAG);
        } else {
            ORVANE_LOG_WARNING(OrvaneFileReadingOrigin,
                               "File has the current type tag but its root is not laid out as a "
                               "file info.  Automatic conversion will be attempted.");
        }
        File->ConvertedFileInfo = ConvertRootToFileInfo(File, root);
    }
    return File->ConvertedFileInfo;
}

}  // extern "C"

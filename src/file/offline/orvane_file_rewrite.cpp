// Rewriting content files: recompression with other codecs, conversion to the other byte
// order, and raw images of a file info.
#include <bit>
#include <cstring>

#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "diag/orvane_timing.h"
#include "file/offline/orvane_file_builder.h"
#include "file/orvane_file_format.h"
#include "file/orvane_file_stream.h"
#include "orvane/types.h"
#include "types/orvane_type_layout.h"

namespace orvane {
namespace {

// What a rewrite needs of the source: its reader, header block and byte order.
struct Source {
    orvane_file_reader* reader = nullptr;
    uint8_t* headerBlock = nullptr;
    orvane_file_header* header = nullptr;
    orvane_ovn_section* table = nullptr;
    bool reversed = false;
};

int32_t ReadAt(orvane_file_reader* reader, uint32_t position, uint32_t count, void* buffer) {
    if (position > INT32_MAX || count > INT32_MAX) return -1;
    return reader->ReadAtMostCallback(ORVANE_SOURCE_FILE, __LINE__, reader,
                                      static_cast<int32_t>(position), static_cast<int32_t>(count),
                                      buffer);
}

void CloseSource(Source* s) {
    if (s->reader) s->reader->CloseFileReaderCallback(ORVANE_SOURCE_FILE, __LINE__, s->reader);
    ORVANE_DEALLOCATE(s->headerBlock);
    *s = Source();
}

bool OpenSource(const char* name, Source* s) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, name, false);
    s->reader = OrvaneGetDefaultFileReaderOpenCallback()(ORVANE_SOURCE_FILE, __LINE__, name);
    if (s->reader == nullptr) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin, "Unable to open %s for reading", name);
        return false;
    }
    orvane_file_magic_record magic;
    if (ReadAt(s->reader, 0, sizeof magic, &magic) != static_cast<int32_t>(sizeof magic)) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin, "Unable to read magic value");
        CloseSource(s);
        return false;
    }
    uint32_t headerSize = 0;
    if (!OrvaneIsOrvaneFile(&magic, &headerSize, &s->reversed)) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin, "File is not a Orvane file");
        CloseSource(s);
        return false;
    }
    if (magic.HeaderFormat != 0) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin, "File has an unrecognized header format (%d)",
                         static_cast<int32_t>(s->reversed ? ByteSwap32(magic.HeaderFormat)
                                                          : magic.HeaderFormat));
        CloseSource(s);
        return false;
    }
    if (headerSize < sizeof(orvane_file_header) || headerSize > (1u << 24)) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin, "Unable to read file header");
        CloseSource(s);
        return false;
    }
    s->headerBlock = static_cast<uint8_t*>(ORVANE_ALLOCATE(4, headerSize));
    if (s->headerBlock == nullptr ||
        ReadAt(s->reader, 32, headerSize, s->headerBlock) != static_cast<int32_t>(headerSize)) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin, "Unable to read file header");
        CloseSource(s);
        return false;
    }
    if (s->reversed) Reverse32(headerSize, s->headerBlock);
    s->header = reinterpret_cast<orvane_file_header*>(s->headerBlock);
    if (!OrvaneFileHeaderIsValid(s->header, headerSize)) {
        CloseSource(s);
        return false;
    }
    if (s->header->Version != ORVANE_FILE_FORMAT_REVISION)
        ORVANE_LOG_WARNING(OrvaneFileReadingOrigin,
                           "File is file format revision %d (current version is %d)",
                           static_cast<int32_t>(s->header->Version), ORVANE_FILE_FORMAT_REVISION);
    s->table = OrvaneGetOVNSectionArray(s->header);
    return true;
}

// Reads count 32-bit words at position into a new block, in this machine's order.
uint32_t* ReadWords(const Source& s, uint32_t position, uint32_t count) {
    size_t bytes;
    if (!CheckedArrayBytes(count, 4, &bytes) || bytes > INT32_MAX) return nullptr;
    auto* words = static_cast<uint32_t*>(ORVANE_ALLOCATE(4, bytes ? bytes : 4));
    if (words == nullptr) return nullptr;
    if (ReadAt(s.reader, position, static_cast<uint32_t>(bytes), words) !=
        static_cast<int32_t>(bytes)) {
        ORVANE_DEALLOCATE(words);
        return nullptr;
    }
    if (s.reversed) Reverse32(bytes, words);
    return words;
}

// The section's expanded data with its 32- and 16-bit parts in this machine's order (objects of
// mixed widths stay in the file's order); null for an empty section or on failure (logged).
uint8_t* LoadSection(const Source& s, int32_t index, bool* failed) {
    const orvane_ovn_section& e = s.table[index];
    if (e.ExpandedSize == 0) return nullptr;
    const int32_t padding =
        OrvaneGetCompressedBytesPaddingSize(static_cast<int32_t>(e.Compression));
    auto* memory = static_cast<uint8_t*>(ORVANE_ALLOCATE(16, (e.ExpandedSize + 3u) & ~3u));
    auto* stored = static_cast<uint8_t*>(ORVANE_ALLOCATE(16, size_t{e.DataSize} + padding + 4));
    bool ok =
        memory && stored &&
        ReadAt(s.reader, e.DataOffset, e.DataSize, stored) == static_cast<int32_t>(e.DataSize);
    if (ok) {
        std::memset(stored + e.DataSize, 0, static_cast<size_t>(padding) + 4);
        ok = OrvaneDecompressData(
            static_cast<int32_t>(e.Compression), s.reversed, static_cast<int32_t>(e.DataSize),
            stored, static_cast<int32_t>(e.Start16Bit), static_cast<int32_t>(e.Start8Bit),
            static_cast<int32_t>(e.ExpandedSize), memory);
    }
    ORVANE_DEALLOCATE(stored);
    if (!ok) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin, "Unable to read file section %d", index);
        ORVANE_DEALLOCATE(memory);
        *failed = true;
        return nullptr;
    }
    if (s.reversed) OrvaneReverseSection(e.Start16Bit, e.Start8Bit, e.ExpandedSize, memory);
    return memory;
}

orvane_file_location Location(const Source& s, uint32_t section, uint32_t offset) {
    if (section >= s.header->SectionCount)
        return {static_cast<int32_t>(section), 0, static_cast<int32_t>(offset)};
    return SectionOffsetToLocation(static_cast<int32_t>(section), s.table[section], offset);
}

orvane_file_byte_order OrderOf(bool reversed) {
    if (!reversed) return OrvaneNativeByteOrder;
    return std::endian::native == std::endian::little ? OrvaneBigEndianByteOrder
                                                      : OrvaneLittleEndianByteOrder;
}

// Reverses the mixed objects of every marshalling fixup through the file's own descriptions,
// their pointer slots too, as the data tree writer lays them out for the other byte order.
// The descriptions are read from fixed-up copies of the sections, so the slots of the data
// that is written out stay as stored.
struct DescriptionContext {
    const orvane_file_sections* sections;
    int32_t hint;
};

const void* ResolveSlot(void* opaque, const void* slot) {
    auto* c = static_cast<DescriptionContext*>(opaque);
    if (FindLoadedSection(c->sections, slot, 4, &c->hint) < 0) return nullptr;
    return DecodePointerSlot(c->sections, slot, nullptr, &c->hint);
}

bool RecordInSections(void* opaque, const void* record) {
    auto* c = static_cast<DescriptionContext*>(opaque);
    return FindLoadedSection(c->sections, record, kFileRecordSize, &c->hint) >= 0;
}

bool ReverseMixedObjects(const Source& s, uint8_t** data, uint32_t** marshalling) {
    const int32_t count = static_cast<int32_t>(s.header->SectionCount);
    const uint32_t pointerCount = OrvaneGetOVNPointerCount(count, s.table);
    void** copies = ORVANE_ALLOCATE_ARRAY(void*, count);
    void** pointers = ORVANE_ALLOCATE_ARRAY(void*, pointerCount ? pointerCount : 1);
    bool ok = copies && pointers;
    for (int32_t i = 0; ok && i < count; ++i) {
        copies[i] = nullptr;
        if (data[i] == nullptr) continue;
        const uint32_t size = (s.table[i].ExpandedSize + 3u) & ~3u;
        copies[i] = ORVANE_ALLOCATE(16, size);
        ok = copies[i] != nullptr;
        if (ok) std::memcpy(copies[i], data[i], size);
    }
    orvane_file_sections sections = {count, s.table, copies, pointerCount, pointers};
    for (int32_t i = 0; ok && i < count; ++i) {
        if (copies[i] == nullptr || s.table[i].PointerFixupCount == 0) continue;
        uint32_t* fixups =
            ReadWords(s, s.table[i].PointerFixupOffset, 3 * s.table[i].PointerFixupCount);
        ok = fixups && OrvaneOVNFixUp(&sections, i, s.table[i].PointerFixupCount,
                                      reinterpret_cast<orvane_ovn_pointer_fixup*>(fixups));
        ORVANE_DEALLOCATE(fixups);
    }
    DescriptionContext context = {&sections, 0};
    const TypeRecords records = TypeRecords::File(&ResolveSlot, &RecordInSections, &context);
    for (int32_t i = 0; ok && i < count; ++i) {
        const orvane_ovn_section& e = s.table[i];
        for (uint32_t j = 0; ok && j < e.MarshallingFixupCount; ++j) {
            const uint32_t* f = marshalling[i] + 4 * j;
            const orvane_ovn_reference type = {f[2], f[3]};
            const void* description = OrvaneDecodeOVNReference(&sections, &type);
            ok = data[i] != nullptr && description != nullptr && f[1] <= e.ExpandedSize &&
                 f[0] <= INT32_MAX &&
                 ReverseObjects(records, DataLayout::File, description, static_cast<int32_t>(f[0]),
                                data[i] + f[1], e.ExpandedSize - f[1], true);
            if (!ok)
                ORVANE_LOG_ERROR(OrvaneFileReadingOrigin,
                                 "Marshalling fixup %u of section %d cannot be applied", j, i);
        }
    }
    for (int32_t i = 0; copies && i < count; ++i)
        ORVANE_DEALLOCATE(copies[i]);
    ORVANE_DEALLOCATE(copies);
    ORVANE_DEALLOCATE(pointers);
    return ok;
}

// Copies the source's sections, fixups and root into a new file with the codecs mapped and in
// the given byte order (the source's own when keepOrder is set).
bool Rewrite(const char* sourceName, const char* destinationName, int32_t mappingCount,
             const int32_t* mapping, bool keepOrder, orvane_file_byte_order order, int32_t level) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileWritingOrigin, destinationName, false);
    if (level != OrvaneFastCompressionLevel && level != OrvaneDefaultCompressionLevel &&
        level != OrvaneBestCompressionLevel) {
        ORVANE_LOG_ERROR(OrvaneCompressorOrigin, "Unrecognized compression level %d", level);
        return false;
    }
    Source s;
    if (!OpenSource(sourceName, &s)) return false;
    const int32_t count = static_cast<int32_t>(s.header->SectionCount);
    const bool targetReversed = keepOrder ? s.reversed : ByteOrderIsReversed(order);
    orvane_file_builder* builder = OrvaneBeginFile(
        count, s.header->TypeTag, OrvaneGetTemporaryDirectory(), "orvane_recompress");
    if (builder == nullptr) {
        CloseSource(&s);
        return false;
    }
    OrvaneSetFileByteOrder(builder, OrderOf(targetReversed));
    OrvaneSetFileCompressionLevel(builder, level);
    for (int32_t t = 0; t < 4; ++t)
        OrvaneSetFileExtraTag(builder, t, s.header->ExtraTags[t]);

    uint8_t** data = ORVANE_ALLOCATE_ARRAY(uint8_t*, count ? count : 1);
    uint32_t** marshalling = ORVANE_ALLOCATE_ARRAY(uint32_t*, count ? count : 1);
    bool failed = data == nullptr || marshalling == nullptr;
    for (int32_t i = 0; !failed && i < count; ++i)
        data[i] = nullptr, marshalling[i] = nullptr;
    for (int32_t i = 0; !failed && i < count; ++i) {
        const orvane_ovn_section& e = s.table[i];
        int32_t compression = static_cast<int32_t>(e.Compression);
        if (compression >= 0 && compression < mappingCount && mapping)
            compression = mapping[compression];
        if (compression < 0 || compression > 2) {
            ORVANE_LOG_ERROR(OrvaneCompressorOrigin, "Unrecognized compression type %d",
                             compression);
            failed = true;
            break;
        }
        OrvaneSetFileSectionFormat(builder, i, compression,
                                   e.Alignment ? static_cast<int32_t>(e.Alignment) : 1);
        data[i] = LoadSection(s, i, &failed);
        if (e.MarshallingFixupCount) {
            marshalling[i] = ReadWords(s, e.MarshallingFixupOffset, 4 * e.MarshallingFixupCount);
            failed = failed || marshalling[i] == nullptr;
        }
    }
    if (!failed && targetReversed != s.reversed)
        failed = !ReverseMixedObjects(s, data, marshalling);
    for (int32_t i = 0; !failed && i < count; ++i) {
        const orvane_ovn_section& e = s.table[i];
        if (data[i]) {
            OrvaneWriteFileChunk(builder, i, 4, static_cast<int32_t>(e.Start16Bit), data[i]);
            OrvaneWriteFileChunk(builder, i, 2, static_cast<int32_t>(e.Start8Bit - e.Start16Bit),
                                 data[i] + e.Start16Bit);
            OrvaneWriteFileChunk(builder, i, 1, static_cast<int32_t>(e.ExpandedSize - e.Start8Bit),
                                 data[i] + e.Start8Bit);
        }
        if (e.PointerFixupCount) {
            uint32_t* fixups = ReadWords(s, e.PointerFixupOffset, 3 * e.PointerFixupCount);
            failed = fixups == nullptr;
            for (uint32_t j = 0; fixups && j < e.PointerFixupCount; ++j) {
                const uint32_t* f = fixups + 3 * j;
                OrvaneMarkFileFixup(builder, Location(s, static_cast<uint32_t>(i), f[0]), 0,
                                    Location(s, f[1], f[2]));
            }
            ORVANE_DEALLOCATE(fixups);
        }
        for (uint32_t j = 0; marshalling[i] && j < e.MarshallingFixupCount; ++j) {
            const uint32_t* f = marshalling[i] + 4 * j;
            OrvaneMarkMarshallingFixup(builder, Location(s, f[2], f[3]),
                                       Location(s, static_cast<uint32_t>(i), f[1]),
                                       static_cast<int32_t>(f[0]));
        }
    }
    // The root travels with the data: without it the new file would name (0, 0) as its root.
    OrvaneMarkFileRootObject(
        builder,
        Location(s, s.header->RootTypeReference.SectionIndex, s.header->RootTypeReference.Offset),
        Location(s, s.header->RootObjectReference.SectionIndex,
                 s.header->RootObjectReference.Offset));
    for (int32_t i = 0; i < count; ++i) {
        if (data) ORVANE_DEALLOCATE(data[i]);
        if (marshalling) ORVANE_DEALLOCATE(marshalling[i]);
    }
    ORVANE_DEALLOCATE(data);
    ORVANE_DEALLOCATE(marshalling);
    CloseSource(&s);
    if (failed) {
        OrvaneAbortFile(builder);
        return false;
    }
    return OrvaneEndFile(builder, destinationName);
}

}  // namespace
}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API orvane_bool OrvaneRecompressFile(const char* SourceFile, const char* DestFile,
                                            orvane_int32 CompressorMappingCount,
                                            const orvane_int32* CompressorMapping) {
    ORVANE_TIMING_BLOCK("RecompressFile");
    return Rewrite(SourceFile, DestFile, CompressorMappingCount, CompressorMapping, true,
                   OrvaneNativeByteOrder, OrvaneDefaultCompressionLevel);
}

ORVANE_API orvane_bool OrvaneRecompressFileAtLevel(const char* SourceFile, const char* DestFile,
                                                   orvane_int32 CompressorMappingCount,
                                                   const orvane_int32* CompressorMapping,
                                                   orvane_int32 CompressionLevel) {
    ORVANE_TIMING_BLOCK("RecompressFile");
    return Rewrite(SourceFile, DestFile, CompressorMappingCount, CompressorMapping, true,
                   OrvaneNativeByteOrder, CompressionLevel);
}

ORVANE_API orvane_bool OrvaneConvertFileByteOrder(const char* SourceFile, const char* DestFile,
                                                  orvane_file_byte_order ByteOrder) {
    ORVANE_TIMING_BLOCK("ConvertFileByteOrder");
    if (ByteOrder < OrvaneNativeByteOrder || ByteOrder > OrvaneBigEndianByteOrder) {
        ORVANE_LOG_ERROR(OrvaneFileWritingOrigin, "ByteOrder %d is out of range [0, %d)",
                         static_cast<int32_t>(ByteOrder), 3);
        return false;
    }
    return Rewrite(SourceFile, DestFile, 0, nullptr, false, ByteOrder,
                   OrvaneDefaultCompressionLevel);
}

ORVANE_API orvane_bool OrvaneConvertFileInfoToRaw(const orvane_file_info* FileInfo,
                                                  const char* DestFileName) {
    if (FileInfo == nullptr) return false;
    ORVANE_CHECK_NOT_NULL(OrvaneFileWritingOrigin, DestFileName, false);
    orvane_file_writer* writer = OrvaneNewFileWriter(DestFileName, true);
    if (writer == nullptr) return false;
    orvane_file_builder* builder =
        OrvaneBeginFile(1, 0, OrvaneGetTemporaryDirectory(), "raw_writing_buffer");
    if (builder == nullptr) {
        OrvaneDeleteFileWriter(writer);
        return false;
    }
    // The writer only reads the tree.
    orvane_file_data_tree_writer* tree = OrvaneBeginFileDataTreeWriting(
        OrvaneFileInfoType, const_cast<orvane_file_info*>(FileInfo), 0, 0);
    if (tree == nullptr) {
        OrvaneAbortFile(builder);
        OrvaneDeleteFileWriter(writer);
        return false;
    }
    OrvaneSetFileDataTreeFlags(tree, OrvaneWriteRootTypeAsEmpty);
    bool written = OrvaneWriteDataTreeToFileBuilder(tree, builder);
    bool ended = OrvaneEndFileRawToWriter(builder, writer);
    OrvaneEndFileDataTreeWriting(tree);
    OrvaneDeleteFileWriter(writer);
    return written && ended;
}

ORVANE_API orvane_bool OrvaneConvertFileToRaw(const char* SourceFile, const char* DestFileName) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, SourceFile, false);
    orvane_file* file = OrvaneReadEntireFile(SourceFile);
    if (file == nullptr) {
        ORVANE_LOG_WARNING(OrvaneFileReadingOrigin, "Unable to read %s for raw conversion.",
                           SourceFile);
        return false;
    }
    bool converted = OrvaneConvertFileInfoToRaw(OrvaneGetFileInfo(file), DestFileName);
    OrvaneFreeFile(file);
    return converted;
}

}  // extern "C"

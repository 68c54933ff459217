// The file builder: sections collected in temporary part files, pointers kept as fixups
// between locations, and the end that lays out a content file or a raw image.
#include "file/offline/orvane_file_builder.h"

#include <atomic>
#include <bit>
#include <cstring>

#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "core/orvane_string.h"
#include "diag/orvane_timing.h"
#include "file/orvane_file_stream.h"
#include "platform/orvane_platform.h"

namespace {

constexpr int32_t kPartCount = 3;
constexpr int32_t kNameSize = 512;
constexpr int32_t kCopyBufferSize = 65536;
// Chunks are gathered per part before they reach the operating system: a tree writes many
// small objects, and one system call each would dominate the time spent.
constexpr int32_t kPartBufferSize = 32768;
constexpr int32_t kFixupsPerBlock = 256;
// The magic record and the header in front of the section table.
constexpr uint32_t kHeadSize = 88;
constexpr uint32_t kSectionEntrySize = 44;
constexpr uint32_t kPointerFixupSize = 12;
constexpr uint32_t kMarshallingFixupSize = 16;
// Bytes of the content headers at the start of a compressed stream of three contents.
constexpr int32_t kCompressedHeadersSize = 36;

struct PointerFixupRecord {
    orvane_file_location from;
    orvane_file_location to;
    PointerFixupRecord* next;
};

struct MarshallingFixupRecord {
    int32_t count;
    orvane_file_location type;
    orvane_file_location object;
    MarshallingFixupRecord* next;
};

struct PartFile {
    orvane_file_writer* writer;
    int32_t size;
    uint8_t* buffer;  // kPartBufferSize bytes, taken at the first write
    int32_t buffered;
};

struct SectionRecord {
    int32_t compression;
    int32_t alignment;
    PartFile parts[kPartCount];
    PointerFixupRecord* firstPointerFixup;
    PointerFixupRecord* lastPointerFixup;
    int32_t pointerFixupCount;
    MarshallingFixupRecord* firstMarshallingFixup;
    MarshallingFixupRecord* lastMarshallingFixup;
    int32_t marshallingFixupCount;
    orvane_ovn_section entry;             // filled at the end
    int32_t rawPartPosition[kPartCount];  // filled by a raw end
};

}  // namespace

struct orvane_file_fixup {
    PointerFixupRecord record;
};

struct orvane_file_builder {
    int32_t sectionCount;
    uint32_t typeTag;
    uint32_t extraTags[4];
    char directory[kNameSize];
    char baseName[kNameSize];
    orvane_file_location rootType;
    orvane_file_location rootObject;
    bool valid;
    bool reversed;
    bool anythingWritten;
    bool sectionsPrepared;  // part files closed, sizes known, sections compressed
    int32_t compressionLevel;
    orvane_stack_allocator pointerFixups;
    orvane_stack_allocator marshallingFixups;
    SectionRecord* sections;
};

namespace orvane {
namespace {

static_assert(sizeof(orvane_file_fixup) == sizeof(PointerFixupRecord));

// Harmless target of fixups that could not be marked: the caller may still adjust it.
thread_local orvane_file_fixup t_dummyFixup;

void PartFileName(const orvane_file_builder* b, int32_t section, int32_t part,
                  char (&name)[kNameSize]) {
    FormatText(kNameSize, name, "%s/%s_%d_%d.utf", b->directory, b->baseName, section, part);
}

void CompressedFileName(const orvane_file_builder* b, int32_t section, char (&name)[kNameSize]) {
    FormatText(kNameSize, name, "%s/%s_%d.ctf", b->directory, b->baseName, section);
}

bool FileExists(const char* name) {
    platform::FileHandle* handle = platform::OpenFile(name, platform::OpenMode::Read);
    if (handle == nullptr) return false;
    platform::CloseFile(handle);
    return true;
}

// A token for the temporary names that no other builder of this process has (the counter) and
// that another process is most unlikely to hit at the same moment (clock and address); a name
// that exists anyway is skipped when the builder begins.
uint32_t NextTemporaryToken(const void* builder) {
    static std::atomic<uint32_t> counter{0};
    uint64_t mix = static_cast<uint64_t>(platform::MonotonicNanoseconds()) ^
                   (static_cast<uint64_t>(reinterpret_cast<uintptr_t>(builder)) << 7) ^
                   (uint64_t{counter.fetch_add(1, std::memory_order_relaxed)} << 40);
    mix ^= mix >> 33;
    mix *= 0xFF51AFD7ED558CCDull;
    mix ^= mix >> 29;
    return static_cast<uint32_t>(mix);
}

bool FlushPart(orvane_file_builder* b, PartFile& part) {
    if (part.buffered == 0) return true;
    bool ok = part.writer != nullptr && OrvaneWrite(part.writer, part.buffered, part.buffer);
    part.buffered = 0;
    if (!ok) b->valid = false;
    return ok;
}

void AppendToPart(orvane_file_builder* b, PartFile& part, int32_t size, const void* bytes) {
    if (!b->valid || size <= 0) return;
    if (part.buffer == nullptr) {
        part.buffer = static_cast<uint8_t*>(ORVANE_ALLOCATE(16, kPartBufferSize));
        part.buffered = 0;
    }
    if (part.buffer == nullptr) {
        // Unbuffered, then: slower but still correct.
        if (!OrvaneWrite(part.writer, size, bytes)) b->valid = false;
        return;
    }
    const auto* from = static_cast<const uint8_t*>(bytes);
    while (size > 0 && b->valid) {
        if (part.buffered == kPartBufferSize && !FlushPart(b, part)) return;
        if (part.buffered == 0 && size >= kPartBufferSize) {
            // Large chunks go straight through.
            if (!OrvaneWrite(part.writer, size, from)) b->valid = false;
            return;
        }
        int32_t n = kPartBufferSize - part.buffered;
        if (n > size) n = size;
        std::memcpy(part.buffer + part.buffered, from, static_cast<size_t>(n));
        part.buffered += n;
        from += n;
        size -= n;
    }
}

void ClosePartFiles(orvane_file_builder* b) {
    for (int32_t s = 0; s < b->sectionCount; ++s) {
        for (PartFile& part : b->sections[s].parts) {
            if (part.writer != nullptr) FlushPart(b, part);
            OrvaneDeleteFileWriter(part.writer);
            part.writer = nullptr;
            ORVANE_DEALLOCATE(part.buffer);
            part.buffer = nullptr;
        }
    }
}

void DeleteTemporaryFiles(const orvane_file_builder* b) {
    char name[kNameSize];
    for (int32_t s = 0; s < b->sectionCount; ++s) {
        for (int32_t p = 0; p < kPartCount; ++p) {
            PartFileName(b, s, p, name);
            DeleteFile(name);
        }
        CompressedFileName(b, s, name);
        DeleteFile(name);
    }
}

void ReleaseBuilder(orvane_file_builder* b) {
    ClosePartFiles(b);
    DeleteTemporaryFiles(b);
    OrvaneStackCleanUp(&b->pointerFixups);
    OrvaneStackCleanUp(&b->marshallingFixups);
    ORVANE_DEALLOCATE(b);
}

bool SectionInRange(const orvane_file_builder* b, int32_t index) {
    return static_cast<uint32_t>(index) < static_cast<uint32_t>(b->sectionCount);
}

// SectionInRange for an argument of the application's, with an error naming the argument.
bool CheckSectionArgument(const orvane_file_builder* b, int32_t index, const char* name) {
    if (SectionInRange(b, index)) return true;
    ORVANE_LOG_ERROR(OrvaneFileWritingOrigin, "%s %d is out of range [0, %d)", name, index,
                     b->sectionCount);
    return false;
}

// Appends a fixup to the end of a section's list of its kind.
template <typename Record>
void AppendFixup(Record*& first, Record*& last, int32_t& count, Record* record) {
    if (last)
        last->next = record;
    else
        first = record;
    last = record;
    ++count;
}

int32_t PartOfWidth(uint32_t width) {
    if (width == 4 || width == 0) return 0;
    if (width == 2) return 1;
    return 2;
}

// Offset of a location from the start of its section's expanded data.
uint32_t ResolveLocation(const orvane_file_builder* b, orvane_file_location location) {
    if (!SectionInRange(b, location.SectionIndex)) return 0;
    const SectionRecord& s = b->sections[location.SectionIndex];
    uint32_t offset = static_cast<uint32_t>(location.Offset);
    if (location.BufferIndex >= 1) offset += static_cast<uint32_t>(s.parts[0].size);
    if (location.BufferIndex >= 2) offset += static_cast<uint32_t>(s.parts[1].size);
    return offset;
}

// Offset of a location from the start of a raw image.
uint32_t RawPosition(const orvane_file_builder* b, orvane_file_location location) {
    if (!SectionInRange(b, location.SectionIndex)) return 0;
    int32_t part = location.BufferIndex;
    if (part < 0 || part >= kPartCount) part = 2;
    return static_cast<uint32_t>(b->sections[location.SectionIndex].rawPartPosition[part]) +
           static_cast<uint32_t>(location.Offset);
}

// Whether a location lies in the data written to its section: a known part and an offset from 0
// to the part's size less `room` (4 for a pointer slot, 0 for a target, which may sit just past
// the end of its part).
bool LocationInData(const orvane_file_builder* b, orvane_file_location location, int32_t room) {
    if (!SectionInRange(b, location.SectionIndex)) return false;
    if (location.BufferIndex < 0 || location.BufferIndex >= kPartCount) return false;
    const int32_t size = b->sections[location.SectionIndex].parts[location.BufferIndex].size;
    return location.Offset >= 0 && int64_t{location.Offset} + room <= size;
}

void LogFixupOutside(const char* kind, orvane_file_location from, orvane_file_location to) {
    ORVANE_LOG_ERROR(OrvaneFileWritingOrigin,
                     "%s fixup from (%d, %d, %d) to (%d, %d, %d) lies outside the written data",
                     kind, from.SectionIndex, from.BufferIndex, from.Offset, to.SectionIndex,
                     to.BufferIndex, to.Offset);
}

// Checks every fixup against the data written (the part sizes must be final). A fixup outside
// it would make a file that the loader refuses, or write a raw image's slot outside the image;
// the builder becomes invalid instead. True when all are inside.
bool FixupsInsideData(orvane_file_builder* b) {
    if (!b->valid) return false;
    for (int32_t s = 0; s < b->sectionCount; ++s) {
        const SectionRecord& r = b->sections[s];
        for (const PointerFixupRecord* f = r.firstPointerFixup; f; f = f->next) {
            if (!LocationInData(b, f->from, 4) || !LocationInData(b, f->to, 0)) {
                LogFixupOutside("Pointer", f->from, f->to);
                b->valid = false;
                return false;
            }
        }
        for (const MarshallingFixupRecord* f = r.firstMarshallingFixup; f; f = f->next) {
            if (f->count < 0 || !LocationInData(b, f->object, 0) ||
                !LocationInData(b, f->type, 0)) {
                LogFixupOutside("Marshalling", f->object, f->type);
                b->valid = false;
                return false;
            }
        }
    }
    return true;
}

// Writes 32-bit words in the file's byte order.
bool PutWords(orvane_file_writer* writer, const uint32_t* words, int32_t count, bool reversed) {
    uint32_t local[16];
    while (count > 0) {
        int32_t n = count < 16 ? count : 16;
        for (int32_t i = 0; i < n; ++i)
            local[i] = reversed ? ByteSwap32(words[i]) : words[i];
        if (!OrvaneWrite(writer, 4 * n, local)) return false;
        words += n;
        count -= n;
    }
    return true;
}

// How a temporary file's bytes are changed on their way into a file of the other byte order.
enum class StreamReversal { None, AllWords, Headers };

// Appends a file to the writer through the buffer; with a reversal, the stream's 32-bit words
// (all of them, or only its content headers) are reversed on the way.
bool AppendFile(orvane_file_writer* writer, const char* name, uint8_t* buffer,
                StreamReversal reversal, int32_t* copied) {
    if (copied) *copied = 0;
    if (reversal == StreamReversal::None)
        return CopyFileToWriter(writer, name, kCopyBufferSize, buffer, copied);
    orvane_file_reader* reader =
        OrvaneGetDefaultFileReaderOpenCallback()(ORVANE_SOURCE_FILE, __LINE__, name);
    if (reader == nullptr) return false;
    int32_t position = 0;
    bool ok = true;
    for (;;) {
        // Fill the whole buffer (a reader may return less), so that words never straddle two
        // buffers.
        int32_t filled = 0;
        while (filled < kCopyBufferSize) {
            int32_t read =
                reader->ReadAtMostCallback(ORVANE_SOURCE_FILE, __LINE__, reader, position + filled,
                                           kCopyBufferSize - filled, buffer + filled);
            if (read <= 0 || read > kCopyBufferSize - filled) break;
            filled += read;
        }
        if (filled == 0) break;
        if (reversal == StreamReversal::AllWords) {
            Reverse32(static_cast<size_t>(filled), buffer);
        } else if (position < kCompressedHeadersSize) {
            int32_t head = kCompressedHeadersSize - position;
            Reverse32(static_cast<size_t>(head < filled ? head : filled), buffer);
        }
        if (!OrvaneWrite(writer, filled, buffer)) {
            ok = false;
            break;
        }
        position += filled;
        if (filled < kCopyBufferSize) break;
    }
    reader->CloseFileReaderCallback(ORVANE_SOURCE_FILE, __LINE__, reader);
    if (copied) *copied = position;
    return ok;
}

// Computes the part sizes into each section's table entry.
void FillSectionSizes(orvane_file_builder* b) {
    for (int32_t s = 0; s < b->sectionCount; ++s) {
        SectionRecord& r = b->sections[s];
        std::memset(&r.entry, 0, sizeof r.entry);
        r.entry.Compression = static_cast<uint32_t>(r.compression);
        r.entry.Alignment = static_cast<uint32_t>(r.alignment);
        r.entry.Start16Bit = static_cast<uint32_t>(r.parts[0].size);
        r.entry.Start8Bit = static_cast<uint32_t>(r.parts[0].size + r.parts[1].size);
        r.entry.ExpandedSize = r.entry.Start8Bit + static_cast<uint32_t>(r.parts[2].size);
        r.entry.PointerFixupCount = static_cast<uint32_t>(r.pointerFixupCount);
        r.entry.MarshallingFixupCount = static_cast<uint32_t>(r.marshallingFixupCount);
    }
}

// The section compressed into its temporary file; DataSize receives the stored size.
// Uncompressed sections are appended from their part files directly at the end.
bool CompressSection(orvane_file_builder* b, int32_t index, uint8_t* buffer) {
    SectionRecord& r = b->sections[index];
    if (r.entry.ExpandedSize == 0 || r.compression == 0) {
        r.entry.DataSize = r.entry.ExpandedSize;
        return true;
    }
    char name[kNameSize];
    CompressedFileName(b, index, name);
    orvane_file_writer* writer = OrvaneNewFileWriter(name, true);
    if (writer == nullptr) return false;
    orvane_file_compressor* compressor =
        OrvaneBeginFileCompressionAtLevel(static_cast<int32_t>(r.entry.ExpandedSize), kPartCount,
                                          r.compression, b->compressionLevel, writer);
    bool ok = compressor != nullptr;
    for (int32_t p = 0; ok && p < kPartCount; ++p) {
        PartFileName(b, index, p, name);
        ok = OrvaneCompressContentsOfFile(compressor, r.parts[p].size, name, kCopyBufferSize,
                                          buffer);
    }
    int32_t size = -1;
    ok = OrvaneEndFileCompression(compressor, &size) && ok && size >= 0;
    OrvaneDeleteFileWriter(writer);
    r.entry.DataSize = ok ? static_cast<uint32_t>(size) : 0;
    return ok;
}

bool WriteSectionData(orvane_file_builder* b, int32_t index, orvane_file_writer* writer,
                      uint8_t* buffer) {
    SectionRecord& r = b->sections[index];
    if (r.entry.DataSize == 0) return true;
    char name[kNameSize];
    if (r.compression == 0) {
        for (int32_t p = 0; p < kPartCount; ++p) {
            if (r.parts[p].size == 0) continue;
            PartFileName(b, index, p, name);
            int32_t copied = 0;
            if (!AppendFile(writer, name, buffer, StreamReversal::None, &copied) ||
                copied != r.parts[p].size)
                return false;
        }
        return true;
    }
    CompressedFileName(b, index, name);
    StreamReversal reversal = StreamReversal::None;
    if (b->reversed)
        reversal = r.compression == 1 ? StreamReversal::AllWords : StreamReversal::Headers;
    int32_t copied = 0;
    return AppendFile(writer, name, buffer, reversal, &copied) &&
           static_cast<uint32_t>(copied) == r.entry.DataSize;
}

// Closes the part files, computes the section sizes and compresses every section into its
// temporary file (stopping at the first failure), once: everything of an end that comes before
// the first byte of the file. False, with the builder invalid, when any of it failed.
bool PrepareSections(orvane_file_builder* b, uint8_t* buffer) {
    if (b->sectionsPrepared) return b->valid;
    b->sectionsPrepared = true;
    ClosePartFiles(b);
    FillSectionSizes(b);
    bool ok = b->valid && buffer != nullptr;
    for (int32_t s = 0; ok && s < b->sectionCount; ++s)
        ok = CompressSection(b, s, buffer);
    if (!ok) b->valid = false;
    return ok;
}

bool EndToWriter(orvane_file_builder* b, orvane_file_writer* writer) {
    ORVANE_TIMING_BLOCK("EndFileToWriter");
    auto* buffer = static_cast<uint8_t*>(ORVANE_ALLOCATE(16, kCopyBufferSize));
    bool ok = PrepareSections(b, buffer) && FixupsInsideData(b) && writer != nullptr;
    const bool reversed = b->reversed;
    int32_t start = ok ? OrvaneGetWriterPosition(writer) : -1;
    ok = ok && start >= 0 &&
         OrvaneSeekWriterFromCurrentPosition(writer, static_cast<int32_t>(kHeadSize)) >= 0;
    if (ok) OrvaneBeginWriterCRC(writer);

    // The section table, then per section its fixups and its data.
    uint64_t running = kHeadSize + kSectionEntrySize * static_cast<uint64_t>(b->sectionCount);
    for (int32_t s = 0; ok && s < b->sectionCount; ++s) {
        orvane_ovn_section& e = b->sections[s].entry;
        e.PointerFixupOffset = static_cast<uint32_t>(running);
        running += kPointerFixupSize * uint64_t{e.PointerFixupCount};
        e.MarshallingFixupOffset = static_cast<uint32_t>(running);
        e.DataOffset =
            static_cast<uint32_t>(running + kMarshallingFixupSize * e.MarshallingFixupCount);
        running = uint64_t{e.DataOffset} + e.DataSize;
        if (running > INT32_MAX) {
            ORVANE_LOG_ERROR(OrvaneFileWritingOrigin, "File would exceed 2 GB");
            ok = false;
            break;
        }
        static_assert(sizeof(orvane_ovn_section) == kSectionEntrySize);
        uint32_t words[11];
        std::memcpy(words, &e, sizeof words);
        ok = PutWords(writer, words, 11, reversed);
    }
    for (int32_t s = 0; ok && s < b->sectionCount; ++s) {
        const SectionRecord& r = b->sections[s];
        for (const PointerFixupRecord* f = r.firstPointerFixup; ok && f; f = f->next) {
            const uint32_t words[3] = {ResolveLocation(b, f->from),
                                       static_cast<uint32_t>(f->to.SectionIndex),
                                       ResolveLocation(b, f->to)};
            ok = PutWords(writer, words, 3, reversed);
        }
        for (const MarshallingFixupRecord* f = r.firstMarshallingFixup; ok && f; f = f->next) {
            const uint32_t words[4] = {
                static_cast<uint32_t>(f->count), ResolveLocation(b, f->object),
                static_cast<uint32_t>(f->type.SectionIndex), ResolveLocation(b, f->type)};
            ok = PutWords(writer, words, 4, reversed);
        }
        ok = ok && WriteSectionData(b, s, writer, buffer);
    }
    // Readers take HeaderSize bytes from offset 32, which reaches 32 bytes past the section
    // table; a small file is padded with zeros so that this read never comes up short.
    if (ok) {
        const int64_t minimum = 32 + int64_t{ORVANE_FILE_HEADER_SIZE(b->sectionCount)};
        int64_t size = int64_t{OrvaneGetWriterPosition(writer)} - start;
        static const uint8_t zeros[64] = {};
        while (ok && size < minimum) {
            int32_t n = minimum - size < 64 ? static_cast<int32_t>(minimum - size) : 64;
            ok = OrvaneWrite(writer, n, zeros);
            size += n;
        }
    }
    uint32_t crc = writer && OrvaneWriterIsCRCing(writer) ? OrvaneEndWriterCRC(writer) : 0;
    int32_t end = ok ? OrvaneGetWriterPosition(writer) : -1;
    ok = ok && end >= start && OrvaneSeekWriterFromStart(writer, start) == start;
    if (ok) {
        const orvane_file_magic_record* magic =
            reversed ? OrvaneReversedOVNFileMV : OrvaneOVNFileMV;
        // The magic value goes out byte for byte as the constant holds it: the reversed
        // constant, seen in this machine's order, is the native one of the other order.
        uint32_t words[8 + 14];
        for (int32_t i = 0; i < 4; ++i)
            words[i] = reversed ? ByteSwap32(magic->MagicValue[i]) : magic->MagicValue[i];
        words[4] = ORVANE_FILE_HEADER_SIZE(b->sectionCount);
        words[5] = words[6] = words[7] = 0;
        orvane_file_header header = {};
        header.Version = ORVANE_FILE_FORMAT_REVISION;
        header.TotalSize = static_cast<uint32_t>(end - start);
        header.CRC = crc;
        header.SectionTableOffset = 56;
        header.SectionCount = static_cast<uint32_t>(b->sectionCount);
        header.RootTypeReference = {static_cast<uint32_t>(b->rootType.SectionIndex),
                                    ResolveLocation(b, b->rootType)};
        header.RootObjectReference = {static_cast<uint32_t>(b->rootObject.SectionIndex),
                                      ResolveLocation(b, b->rootObject)};
        header.TypeTag = b->typeTag;
        std::memcpy(header.ExtraTags, b->extraTags, sizeof header.ExtraTags);
        static_assert(sizeof header == 56);
        std::memcpy(words + 8, &header, sizeof header);
        ok = PutWords(writer, words, 22, reversed);
    }
    ORVANE_DEALLOCATE(buffer);
    return ok;
}

bool EndRawToWriter(orvane_file_builder* b, orvane_file_writer* writer) {
    ORVANE_TIMING_BLOCK("EndFileRawToWriter");
    ClosePartFiles(b);
    FillSectionSizes(b);
    auto* buffer = static_cast<uint8_t*>(ORVANE_ALLOCATE(16, kCopyBufferSize));
    bool ok = FixupsInsideData(b) && buffer != nullptr && writer != nullptr;
    int32_t start = ok ? OrvaneGetWriterPosition(writer) : -1;
    ok = ok && start >= 0;
    char name[kNameSize];
    for (int32_t s = 0; ok && s < b->sectionCount; ++s) {
        SectionRecord& r = b->sections[s];
        for (int32_t p = 0; ok && p < kPartCount; ++p) {
            int32_t position = OrvaneGetWriterPosition(writer);
            ok = position >= start;
            r.rawPartPosition[p] = position - start;
            if (ok && r.parts[p].size > 0) {
                PartFileName(b, s, p, name);
                int32_t copied = 0;
                ok = AppendFile(writer, name, buffer, StreamReversal::None, &copied) &&
                     copied == r.parts[p].size;
            }
            ok = ok && OrvaneAlignWriter(writer) >= 0;
        }
    }
    int32_t end = ok ? OrvaneGetWriterPosition(writer) : -1;
    ok = ok && end >= start;
    for (int32_t s = 0; ok && s < b->sectionCount; ++s) {
        for (const PointerFixupRecord* f = b->sections[s].firstPointerFixup; ok && f; f = f->next) {
            uint32_t target = RawPosition(b, f->to);
            if (b->reversed) target = ByteSwap32(target);
            ok = OrvaneSeekWriterFromStart(
                     writer, start + static_cast<int32_t>(RawPosition(b, f->from))) >= 0 &&
                 OrvaneWrite(writer, 4, &target);
        }
    }
    ok = ok && OrvaneSeekWriterFromStart(writer, end) == end;
    ORVANE_DEALLOCATE(buffer);
    return ok;
}

}  // namespace

bool ByteOrderIsReversed(orvane_file_byte_order order) {
    constexpr bool kLittle = std::endian::native == std::endian::little;
    if (order == OrvaneLittleEndianByteOrder) return !kLittle;
    if (order == OrvaneBigEndianByteOrder) return kLittle;
    return false;
}

const char* GetFileBuilderTemporaryBaseName(const orvane_file_builder* builder) {
    return builder ? builder->baseName : nullptr;
}

int32_t GetFileBuilderSectionCount(const orvane_file_builder* builder) {
    return builder ? builder->sectionCount : 0;
}

orvane_file_location SectionOffsetToLocation(int32_t section, const orvane_ovn_section& entry,
                                             uint32_t offset) {
    if (offset < entry.Start16Bit) return {section, 0, static_cast<int32_t>(offset)};
    if (offset < entry.Start8Bit)
        return {section, 1, static_cast<int32_t>(offset - entry.Start16Bit)};
    return {section, 2, static_cast<int32_t>(offset - entry.Start8Bit)};
}

}  // namespace orvane

using namespace orvane;

namespace {

// Ends the builder into the writer with the given end, then releases the builder.
bool EndAndRelease(orvane_file_builder* builder, orvane_file_writer* writer,
                   bool (*end)(orvane_file_builder*, orvane_file_writer*)) {
    if (builder == nullptr) return false;
    if (writer == nullptr) {
        ORVANE_LOG_ERROR(OrvaneFileWritingOrigin, "Writer is not allowed to be 0");
        ReleaseBuilder(builder);
        return false;
    }
    bool ok = end(builder, writer);
    ReleaseBuilder(builder);
    return ok;
}

// Creates the file anew and ends the builder into it; the builder is gone either way. An end
// that is bound to fail (a write of the data failed, or for a content file a section could not
// be compressed) fails before the file is created, so that a file of that name stays as it was.
bool EndToNamedFile(orvane_file_builder* builder, const char* fileName, bool raw,
                    orvane_bool (*endToWriter)(orvane_file_builder*, orvane_file_writer*)) {
    if (builder == nullptr) return false;
    if (fileName == nullptr) {
        ORVANE_LOG_ERROR(OrvaneFileWritingOrigin, "FileName is not allowed to be 0");
        OrvaneAbortFile(builder);
        return false;
    }
    bool ready;
    if (raw) {
        ClosePartFiles(builder);
        ready = FixupsInsideData(builder);
    } else {
        auto* buffer = static_cast<uint8_t*>(ORVANE_ALLOCATE(16, kCopyBufferSize));
        ready = PrepareSections(builder, buffer) && FixupsInsideData(builder);
        ORVANE_DEALLOCATE(buffer);
    }
    if (!ready) {
        ORVANE_LOG_ERROR(OrvaneFileWritingOrigin,
                         "%s was left as it was: the data of the file could not be written",
                         fileName);
        OrvaneAbortFile(builder);
        return false;
    }
    orvane_file_writer* writer = OrvaneNewFileWriter(fileName, true);
    if (writer == nullptr) {
        OrvaneAbortFile(builder);
        return false;
    }
    bool ok = endToWriter(builder, writer);
    OrvaneDeleteFileWriter(writer);
    return ok;
}

}  // namespace

extern "C" {

ORVANE_API orvane_file_builder* OrvaneBeginFile(orvane_int32 SectionCount,
                                                orvane_uint32 FileTypeTag,
                                                const char* TemporaryDirectory,
                                                const char* TemporaryFileBaseName) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileWritingOrigin, TemporaryDirectory, nullptr);
    ORVANE_CHECK_NOT_NULL(OrvaneFileWritingOrigin, TemporaryFileBaseName, nullptr);
    if (SectionCount < 0 || SectionCount > 65536) {
        ORVANE_LOG_ERROR(OrvaneFileWritingOrigin, "SectionCount %d is out of range [0, %d]",
                         SectionCount, 65536);
        return nullptr;
    }
    // Names are made in buffers of kNameSize characters; a name cut to fit would be the same
    // for several parts (or builders), which would then write into one another's files.
    if (StringLength(TemporaryDirectory) >= kNameSize ||
        StringLength(TemporaryFileBaseName) >= kNameSize) {
        ORVANE_LOG_ERROR(OrvaneFileWritingOrigin,
                         "Temporary file names in %s would be longer than %d characters",
                         TemporaryDirectory, kNameSize - 1);
        return nullptr;
    }
    orvane_file_builder* b = nullptr;
    SetAggregateAlignment(alignof(orvane_file_builder));
    intptr_t owner = AggregateAllocate(&b, sizeof(orvane_file_builder));
    AggregateAllocateMember(owner, offsetof(orvane_file_builder, sections),
                            sizeof(SectionRecord) * static_cast<size_t>(SectionCount));
    if (ORVANE_AGGREGATE_END() == nullptr) return nullptr;
    SectionRecord* sections = b->sections;
    std::memset(static_cast<void*>(b), 0, sizeof *b);
    b->sections = sections;
    b->sectionCount = SectionCount;
    b->typeTag = FileTypeTag;
    OrvaneStackInitialize(&b->pointerFixups, sizeof(PointerFixupRecord), kFixupsPerBlock);
    OrvaneStackInitialize(&b->marshallingFixups, sizeof(MarshallingFixupRecord), kFixupsPerBlock);
    CopyStringMaxLength(b->directory, kNameSize, TemporaryDirectory);
    for (int32_t s = 0; s < SectionCount; ++s) {
        SectionRecord& r = sections[s];
        std::memset(static_cast<void*>(&r), 0, sizeof r);
        r.alignment = 4;
    }

    char name[kNameSize];
    for (int32_t attempt = 0;; ++attempt) {
        FormatText(kNameSize, b->baseName, "%s_%x", TemporaryFileBaseName, NextTemporaryToken(b));
        PartFileName(b, 0, 0, name);
        if (SectionCount == 0 || !FileExists(name) || attempt == 16) break;
    }
    // The longest name: the last section's last part, formatted without a limit.
    char longest[2 * kNameSize + 64];
    if (SectionCount > 0 &&
        FormatText(static_cast<int32_t>(sizeof longest), longest, "%s/%s_%d_%d.utf", b->directory,
                   b->baseName, SectionCount - 1, kPartCount - 1) > kNameSize - 1) {
        ORVANE_LOG_ERROR(OrvaneFileWritingOrigin,
                         "Temporary file names in %s would be longer than %d characters",
                         TemporaryDirectory, kNameSize - 1);
        OrvaneStackCleanUp(&b->pointerFixups);
        OrvaneStackCleanUp(&b->marshallingFixups);
        ORVANE_DEALLOCATE(b);
        return nullptr;
    }
    for (int32_t s = 0; s < SectionCount; ++s) {
        for (int32_t p = 0; p < kPartCount; ++p) {
            PartFileName(b, s, p, name);
            sections[s].parts[p].writer = OrvaneNewFileWriter(name, true);
            if (sections[s].parts[p].writer == nullptr) {
                ReleaseBuilder(b);
                return nullptr;
            }
        }
    }
    b->compressionLevel = OrvaneDefaultCompressionLevel;
    b->valid = true;
    return b;
}

ORVANE_API void OrvaneSetFileSectionFormat(orvane_file_builder* Builder, orvane_int32 SectionIndex,
                                           orvane_int32 CompressionType, orvane_int32 Alignment) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileWritingOrigin, Builder, );
    if (!CheckSectionArgument(Builder, SectionIndex, "SectionIndex")) return;
    if (Alignment == 0) Alignment = 1;
    if (Alignment < 0 || (Alignment & (Alignment - 1)) != 0 || Alignment > 65536) {
        ORVANE_LOG_ERROR(OrvaneFileWritingOrigin,
                         "Alignment %d of section %d is not a power of two up to 65536", Alignment,
                         SectionIndex);
        return;
    }
    if (CompressionType < 0 || CompressionType > 2) {
        ORVANE_LOG_ERROR(OrvaneCompressorOrigin, "Unrecognized compression type %d",
                         CompressionType);
        return;
    }
    Builder->sections[SectionIndex].compression = CompressionType;
    Builder->sections[SectionIndex].alignment = Alignment;
}

ORVANE_API void OrvaneSetFileCompressionLevel(orvane_file_builder* Builder,
                                              orvane_int32 CompressionLevel) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileWritingOrigin, Builder, );
    if (CompressionLevel != OrvaneFastCompressionLevel &&
        CompressionLevel != OrvaneDefaultCompressionLevel &&
        CompressionLevel != OrvaneBestCompressionLevel) {
        ORVANE_LOG_ERROR(OrvaneCompressorOrigin, "Unrecognized compression level %d",
                         CompressionLevel);
        return;
    }
    Builder->compressionLevel = CompressionLevel;
}

ORVANE_API void OrvaneSetFileByteOrder(orvane_file_builder* Builder,
                                       orvane_file_byte_order ByteOrder) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileWritingOrigin, Builder, );
    if (ByteOrder < OrvaneNativeByteOrder || ByteOrder > OrvaneBigEndianByteOrder) {
        ORVANE_LOG_ERROR(OrvaneFileWritingOrigin, "ByteOrder %d is out of range [0, %d)",
                         static_cast<int32_t>(ByteOrder), 3);
        return;
    }
    if (Builder->anythingWritten) {
        ORVANE_LOG_ERROR(OrvaneFileWritingOrigin,
                         "The byte order cannot change after chunks were written");
        return;
    }
    Builder->reversed = ByteOrderIsReversed(ByteOrder);
}

ORVANE_API orvane_bool OrvaneFileIsByteReversed(const orvane_file_builder* Builder) {
    return Builder != nullptr && Builder->reversed;
}

ORVANE_API orvane_file_location OrvaneWriteFileChunk(orvane_file_builder* Builder,
                                                     orvane_int32 InSectionIndex,
                                                     orvane_uint32 UnitWidth, orvane_int32 Size,
                                                     const void* Bytes) {
    orvane_file_location location = {0, 0, 0};
    ORVANE_CHECK_NOT_NULL(OrvaneFileWritingOrigin, Builder, location);
    if (!CheckSectionArgument(Builder, InSectionIndex, "InSectionIndex")) return location;
    if (Size < 0 || (Size > 0 && Bytes == nullptr)) {
        ORVANE_LOG_ERROR(OrvaneFileWritingOrigin, "Chunk of %d bytes at 0x%p cannot be written",
                         Size, Bytes);
        Builder->valid = false;
        return location;
    }
    SectionRecord& r = Builder->sections[InSectionIndex];
    const int32_t partIndex = PartOfWidth(UnitWidth);
    PartFile& part = r.parts[partIndex];
    location = {InSectionIndex, partIndex, part.size};
    Builder->anythingWritten = true;
    if (!Builder->valid) return location;
    if (int64_t{part.size} + Size + r.alignment > INT32_MAX) {
        ORVANE_LOG_ERROR(OrvaneFileWritingOrigin, "Section %d would exceed 2 GB", InSectionIndex);
        Builder->valid = false;
        return location;
    }
    if (Builder->reversed && partIndex < 2 && Size > 0) {
        // Reversed in pieces through the stack, so that a chunk of any size needs no copy of
        // its own.
        alignas(16) uint8_t piece[4096];
        const auto* from = static_cast<const uint8_t*>(Bytes);
        for (int32_t done = 0; done < Size;) {
            int32_t n = Size - done < 4096 ? Size - done : 4096;
            std::memcpy(piece, from + done, static_cast<size_t>(n));
            if (partIndex == 0)
                Reverse32(static_cast<size_t>(n), piece);
            else
                Reverse16(static_cast<size_t>(n), piece);
            AppendToPart(Builder, part, n, piece);
            done += n;
        }
    } else {
        AppendToPart(Builder, part, Size, Bytes);
    }
    part.size += Size;
    int32_t missing = (r.alignment - part.size % r.alignment) % r.alignment;
    static const uint8_t zeros[64] = {};
    while (missing > 0) {
        int32_t n = missing < 64 ? missing : 64;
        AppendToPart(Builder, part, n, zeros);
        part.size += n;
        missing -= n;
    }
    return location;
}

ORVANE_API orvane_file_location OrvaneOffsetFileLocation(orvane_file_builder*,
                                                         orvane_file_location Location,
                                                         orvane_int32 AdditionalOffset) {
    Location.Offset += AdditionalOffset;
    return Location;
}

ORVANE_API orvane_file_fixup* OrvaneMarkFileFixup(orvane_file_builder* Builder,
                                                  orvane_file_location From,
                                                  orvane_int32 FromOffset,
                                                  orvane_file_location To) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileWritingOrigin, Builder, &t_dummyFixup);
    if (!CheckSectionArgument(Builder, From.SectionIndex, "From.SectionIndex"))
        return &t_dummyFixup;
    if (!CheckSectionArgument(Builder, To.SectionIndex, "To.SectionIndex")) return &t_dummyFixup;
    int32_t index = 0;
    if (!OrvaneNewStackUnit(&Builder->pointerFixups, &index)) {
        Builder->valid = false;
        return &t_dummyFixup;
    }
    auto* record =
        static_cast<PointerFixupRecord*>(OrvaneGetStackUnit(&Builder->pointerFixups, index));
    record->from = From;
    record->from.Offset += FromOffset;
    record->to = To;
    record->next = nullptr;
    SectionRecord& r = Builder->sections[From.SectionIndex];
    AppendFixup(r.firstPointerFixup, r.lastPointerFixup, r.pointerFixupCount, record);
    return reinterpret_cast<orvane_file_fixup*>(record);
}

ORVANE_API void OrvaneAdjustFileFixup(orvane_file_builder* Builder, orvane_file_fixup* Fixup,
                                      orvane_file_location NewTo) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileWritingOrigin, Builder, );
    ORVANE_CHECK_NOT_NULL(OrvaneFileWritingOrigin, Fixup, );
    if (!CheckSectionArgument(Builder, NewTo.SectionIndex, "NewTo.SectionIndex")) return;
    Fixup->record.to = NewTo;
}

ORVANE_API void OrvaneMarkMarshallingFixup(orvane_file_builder* Builder, orvane_file_location Type,
                                           orvane_file_location Object, orvane_int32 ArrayCount) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileWritingOrigin, Builder, );
    if (!CheckSectionArgument(Builder, Type.SectionIndex, "Type.SectionIndex")) return;
    if (!CheckSectionArgument(Builder, Object.SectionIndex, "Object.SectionIndex")) return;
    int32_t index = 0;
    if (!OrvaneNewStackUnit(&Builder->marshallingFixups, &index)) {
        Builder->valid = false;
        return;
    }
    auto* record = static_cast<MarshallingFixupRecord*>(
        OrvaneGetStackUnit(&Builder->marshallingFixups, index));
    record->count = ArrayCount;
    record->type = Type;
    record->object = Object;
    record->next = nullptr;
    SectionRecord& r = Builder->sections[Object.SectionIndex];
    AppendFixup(r.firstMarshallingFixup, r.lastMarshallingFixup, r.marshallingFixupCount, record);
}

ORVANE_API void OrvaneMarkFileRootObject(orvane_file_builder* Builder,
                                         orvane_file_location TypeLocation,
                                         orvane_file_location ObjectLocation) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileWritingOrigin, Builder, );
    Builder->rootType = TypeLocation;
    Builder->rootObject = ObjectLocation;
}

ORVANE_API void OrvaneSetFileExtraTag(orvane_file_builder* Builder, orvane_int32 Index,
                                      orvane_uint32 Value) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileWritingOrigin, Builder, );
    if (Index < 0 || Index >= 4) {
        ORVANE_LOG_ERROR(OrvaneFileWritingOrigin, "Index %d is out of range [0, %d)", Index, 4);
        return;
    }
    Builder->extraTags[Index] = Value;
}

ORVANE_API orvane_bool OrvaneEndFileToWriter(orvane_file_builder* Builder,
                                             orvane_file_writer* Writer) {
    return EndAndRelease(Builder, Writer, &EndToWriter);
}

ORVANE_API orvane_bool OrvaneEndFileRawToWriter(orvane_file_builder* Builder,
                                                orvane_file_writer* Writer) {
    return EndAndRelease(Builder, Writer, &EndRawToWriter);
}

ORVANE_API orvane_bool OrvaneEndFile(orvane_file_builder* Builder, const char* FileName) {
    return EndToNamedFile(Builder, FileName, false, &OrvaneEndFileToWriter);
}

ORVANE_API orvane_bool OrvaneEndFileRaw(orvane_file_builder* Builder, const char* FileName) {
    return EndToNamedFile(Builder, FileName, true, &OrvaneEndFileRawToWriter);
}

ORVANE_API void OrvaneAbortFile(orvane_file_builder* Builder) {
    if (Builder == nullptr) return;
    ReleaseBuilder(Builder);
}

}  // extern "C"

// File readers over operating-system files and over memory, the list of open readers, the
// default open callback, and the file writer with its seeks, alignment and running CRC.
#include "file/orvane_file_stream.h"

#include <atomic>
#include <cerrno>
#include <mutex>

#include "core/orvane_linked_list.h"
#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "core/orvane_string.h"
#include "diag/orvane_timing.h"
#include "platform/orvane_platform.h"

struct orvane_file_writer {
    orvane::platform::FileHandle* Handle;
    bool CRCing;
    // Running state (not complemented) while CRCing; it starts as the state of the CRC of
    // nothing, so that ending a CRC that was never begun gives 0.
    uint32_t CRC;
};

namespace orvane {
namespace {

// The open readers: a circular list through Next and Previous, closed by a sentinel that points
// to itself when the list is empty. Readers are opened and closed on any thread.
orvane_file_reader g_openReaders = {nullptr, 0, nullptr, nullptr, &g_openReaders, &g_openReaders};
std::mutex g_openReadersMutex;

std::atomic<orvane_open_file_reader_callback> g_defaultOpenCallback{
    &OrvaneCreatePlatformFileReader};

struct PlatformFileReader {
    orvane_file_reader Base;
    platform::FileHandle* Handle;
};

struct MemoryFileReader {
    orvane_file_reader Base;
    int32_t Offset;  // file position of the block's first byte
    int32_t Size;
    const void* Memory;
};

void PlatformCloseFileReader(const char* sourceFile, int32_t sourceLine,
                             orvane_file_reader* reader) {
    ORVANE_TIMING_BLOCK("Win32CloseFileReader");
    if (reader == nullptr) return;
    auto* platformReader = reinterpret_cast<PlatformFileReader*>(reader);
    if (!platform::CloseFile(platformReader->Handle))
        LogPlatformError(false, sourceFile, sourceLine, "CloseHandle");
    OrvaneUnlinkFileReader(reader);
    ORVANE_DEALLOCATE(platformReader);
}

int32_t PlatformReadAtMost(const char* sourceFile, int32_t sourceLine, orvane_file_reader* reader,
                           int32_t position, int32_t count, void* buffer) {
    ORVANE_TIMING_BLOCK("Win32ReadAtMost");
    if (reader == nullptr || buffer == nullptr || position < 0 || count <= 0) return 0;
    platform::FileHandle* handle = reinterpret_cast<PlatformFileReader*>(reader)->Handle;
    if (platform::SeekFile(handle, position, platform::SeekOrigin::Start) < 0) {
        LogPlatformError(false, sourceFile, sourceLine, "SetFilePointer");
        return 0;
    }
    int64_t read = platform::ReadFile(handle, buffer, static_cast<size_t>(count));
    if (read < 0) {
        LogPlatformError(false, sourceFile, sourceLine, "ReadFile");
        return 0;
    }
    return static_cast<int32_t>(read);
}

void MemoryCloseFileReader(const char*, int32_t, orvane_file_reader* reader) {
    if (reader == nullptr) return;
    OrvaneUnlinkFileReader(reader);
    ORVANE_DEALLOCATE(reinterpret_cast<MemoryFileReader*>(reader));
}

int32_t MemoryReadAtMost(const char*, int32_t, orvane_file_reader* reader, int32_t position,
                         int32_t count, void* buffer) {
    if (reader == nullptr || buffer == nullptr || count <= 0) return 0;
    const auto* memoryReader = reinterpret_cast<const MemoryFileReader*>(reader);
    // 64-bit arithmetic: position - Offset and the sums below can leave the int32 range.
    int64_t start = int64_t{position} - memoryReader->Offset;
    if (start < 0 || start >= memoryReader->Size) return 0;
    int64_t available = memoryReader->Size - start;
    int64_t n = count < available ? count : available;
    Copy(static_cast<size_t>(n), static_cast<const char*>(memoryReader->Memory) + start, buffer);
    return static_cast<int32_t>(n);
}

// A position as the writer functions report it: -1, with the platform warning of operation,
// when the system failed or the position does not fit the format's 31 bits.
int32_t ReportedPosition(int64_t position, const char* sourceFile, int32_t sourceLine) {
    if (position > INT32_MAX) {
        errno = EOVERFLOW;
        position = -1;
    }
    if (position < 0) {
        LogPlatformError(false, sourceFile, sourceLine, "SetFilePointer");
        return -1;
    }
    return static_cast<int32_t>(position);
}

int32_t SeekWriter(orvane_file_writer* writer, int64_t offset, platform::SeekOrigin origin,
                   int32_t sourceLine) {
    if (writer == nullptr) {
        ORVANE_LOG_ERROR(OrvaneFileWritingOrigin, "Writer is not allowed to be 0");
        return -1;
    }
    return ReportedPosition(platform::SeekFile(writer->Handle, offset, origin), ORVANE_SOURCE_FILE,
                            sourceLine);
}

}  // namespace

void LogPlatformError(bool isError, const char* sourceFile, int32_t sourceLine,
                      const char* operationName) {
    int error = platform::LastError();
    if (error == 0) return;
    char text[256];
    platform::ErrorText(error, text, sizeof text);
    if (text[0] == '\0') CopyString(text, "unknown win32 error");
    ORVANE_LOG(isError ? OrvaneErrorMessage : OrvaneWarningMessage, OrvanePlatformOrigin,
               "%s failed with error \"%s\" at %s(%d)", operationName, text, sourceFile,
               static_cast<int32_t>(sourceLine));
}

bool DeleteFile(const char* fileName) {
    return platform::DeleteFile(fileName);
}

bool CopyFileToWriter(orvane_file_writer* writer, const char* fileName, int32_t bufferSize,
                      void* buffer, int32_t* bytesCopied) {
    if (bytesCopied) *bytesCopied = 0;
    ORVANE_CHECK_NOT_NULL(OrvaneFileWritingOrigin, writer, false);
    ORVANE_CHECK_NOT_NULL(OrvaneFileWritingOrigin, fileName, false);
    ORVANE_CHECK_NOT_NULL(OrvaneFileWritingOrigin, buffer, false);
    if (bufferSize <= 0) {
        ORVANE_LOG_ERROR(OrvaneFileWritingOrigin, "BufferSize %d is not positive", bufferSize);
        return false;
    }
    orvane_file_reader* reader =
        OrvaneGetDefaultFileReaderOpenCallback()(ORVANE_SOURCE_FILE, __LINE__, fileName);
    if (reader == nullptr) return false;
    int32_t position = 0;
    bool copied = true;
    for (;;) {
        int32_t request = INT32_MAX - position < bufferSize ? INT32_MAX - position : bufferSize;
        if (request == 0) {
            // More than 2 GB: positions would no longer fit a reader's int32.
            ORVANE_LOG_ERROR(OrvaneFileWritingOrigin, "%s is too large to copy", fileName);
            copied = false;
            break;
        }
        int32_t read = reader->ReadAtMostCallback(ORVANE_SOURCE_FILE, __LINE__, reader, position,
                                                  request, buffer);
        if (read <= 0) break;
        if (read > request) {
            // An application's reader that claims more than it was asked for cannot be trusted
            // with the rest either.
            ORVANE_LOG_ERROR(OrvaneFileWritingOrigin,
                             "Reader of %s returned %d bytes for a read of %d", fileName, read,
                             request);
            copied = false;
            break;
        }
        position += read;
        if (!OrvaneWrite(writer, read, buffer)) {
            copied = false;
            break;
        }
    }
    reader->CloseFileReaderCallback(ORVANE_SOURCE_FILE, __LINE__, reader);
    if (bytesCopied) *bytesCopied = position;
    return copied;
}

}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API void OrvaneInitializeFileReader(
    const char* SourceFile, orvane_int32 SourceLine,
    orvane_close_file_reader_callback CloseFileReaderCallback,
    orvane_read_at_most_callback ReadAtMostCallback, orvane_file_reader* Reader) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, Reader, );
    Reader->SourceFile = SourceFile;
    Reader->SourceLine = SourceLine;
    Reader->CloseFileReaderCallback = CloseFileReaderCallback;
    Reader->ReadAtMostCallback = ReadAtMostCallback;
    std::lock_guard<std::mutex> lock(g_openReadersMutex);
    LinkAtFront(&g_openReaders, Reader);
}

ORVANE_API orvane_file_reader* OrvaneUnlinkFileReader(orvane_file_reader* Reader) {
    if (Reader == nullptr || Reader == &g_openReaders) return Reader;
    std::lock_guard<std::mutex> lock(g_openReadersMutex);
    if (Reader->Next != nullptr && Reader->Previous != nullptr) Unlink(Reader);
    Reader->Next = nullptr;
    Reader->Previous = nullptr;
    return Reader;
}

ORVANE_API orvane_file_reader* OrvaneCreatePlatformFileReader(const char* SourceFile,
                                                              orvane_int32 SourceLine,
                                                              const char* FileName) {
    ORVANE_TIMING_BLOCK("CreatePlatformFileReader");
    ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, FileName, nullptr);
    platform::FileHandle* handle = platform::OpenFile(FileName, platform::OpenMode::Read);
    if (handle == nullptr) return nullptr;
    auto* reader = static_cast<PlatformFileReader*>(
        ORVANE_ALLOCATE(alignof(PlatformFileReader), sizeof(PlatformFileReader)));
    if (reader == nullptr) {
        platform::CloseFile(handle);
        return nullptr;
    }
    reader->Handle = handle;
    OrvaneInitializeFileReader(SourceFile, SourceLine, &PlatformCloseFileReader,
                               &PlatformReadAtMost, &reader->Base);
    return &reader->Base;
}

ORVANE_API orvane_file_reader* OrvaneCreateMemoryFileReader(const char* SourceFile,
                                                            orvane_int32 SourceLine,
                                                            orvane_int32 Offset, orvane_int32 Size,
                                                            const void* Memory) {
    if (Size < 0) {
        ORVANE_LOG_ERROR(OrvaneFileReadingOrigin, "Size %d is negative", Size);
        return nullptr;
    }
    if (Size > 0) ORVANE_CHECK_NOT_NULL(OrvaneFileReadingOrigin, Memory, nullptr);
    auto* reader = static_cast<MemoryFileReader*>(
        ORVANE_ALLOCATE(alignof(MemoryFileReader), sizeof(MemoryFileReader)));
    if (reader == nullptr) return nullptr;
    reader->Offset = Offset;
    reader->Size = Size;
    reader->Memory = Memory;
    OrvaneInitializeFileReader(SourceFile, SourceLine, &MemoryCloseFileReader, &MemoryReadAtMost,
                               &reader->Base);
    return &reader->Base;
}

ORVANE_API orvane_open_file_reader_callback OrvaneGetDefaultFileReaderOpenCallback(void) {
    return g_defaultOpenCallback.load(std::memory_order_acquire);
}

ORVANE_API void OrvaneSetDefaultFileReaderOpenCallback(orvane_open_file_reader_callback Callback) {
    // Every caller of the default callback calls it unchecked, so null cannot be stored.
    g_defaultOpenCallback.store(Callback ? Callback : &OrvaneCreatePlatformFileReader,
                                std::memory_order_release);
}

ORVANE_API orvane_file_writer* OrvaneNewFileWriter(const char* FileName, orvane_bool Clear) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileWritingOrigin, FileName, nullptr);
    platform::FileHandle* handle = platform::OpenFile(
        FileName, Clear ? platform::OpenMode::WriteTruncate : platform::OpenMode::WriteKeep);
    if (handle == nullptr) {
        LogPlatformError(false, ORVANE_SOURCE_FILE, __LINE__, "CreateFile");
        return nullptr;
    }
    auto* writer = static_cast<orvane_file_writer*>(
        ORVANE_ALLOCATE(alignof(orvane_file_writer), sizeof(orvane_file_writer)));
    if (writer == nullptr) {
        platform::CloseFile(handle);
        return nullptr;
    }
    writer->Handle = handle;
    writer->CRCing = false;
    writer->CRC = 0xFFFFFFFFu;
    return writer;
}

ORVANE_API void OrvaneDeleteFileWriter(orvane_file_writer* Writer) {
    if (Writer == nullptr) return;
    if (!platform::CloseFile(Writer->Handle))
        LogPlatformError(false, ORVANE_SOURCE_FILE, __LINE__, "CloseHandle");
    ORVANE_DEALLOCATE(Writer);
}

ORVANE_API orvane_int32 OrvaneGetWriterPosition(orvane_file_writer* Writer) {
    return SeekWriter(Writer, 0, platform::SeekOrigin::Current, __LINE__);
}

ORVANE_API orvane_int32 OrvaneSeekWriterFromStart(orvane_file_writer* Writer, orvane_int32 Offset) {
    return SeekWriter(Writer, Offset, platform::SeekOrigin::Start, __LINE__);
}

ORVANE_API orvane_int32 OrvaneSeekWriterFromEnd(orvane_file_writer* Writer, orvane_int32 Offset) {
    return SeekWriter(Writer, Offset, platform::SeekOrigin::End, __LINE__);
}

ORVANE_API orvane_int32 OrvaneSeekWriterFromCurrentPosition(orvane_file_writer* Writer,
                                                            orvane_int32 Offset) {
    return SeekWriter(Writer, Offset, platform::SeekOrigin::Current, __LINE__);
}

ORVANE_API orvane_bool OrvaneWrite(orvane_file_writer* Writer, orvane_int32 Count,
                                   const void* Bytes) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileWritingOrigin, Writer, false);
    if (Count < 0) {
        ORVANE_LOG_ERROR(OrvaneFileWritingOrigin, "Count %d is negative", Count);
        return false;
    }
    if (Count == 0) return true;
    ORVANE_CHECK_NOT_NULL(OrvaneFileWritingOrigin, Bytes, false);
    if (Writer->CRCing) Writer->CRC = Crc32Update(Writer->CRC, Bytes, static_cast<size_t>(Count));
    if (platform::WriteFile(Writer->Handle, Bytes, static_cast<size_t>(Count)) != Count) {
        LogPlatformError(false, ORVANE_SOURCE_FILE, __LINE__, "WriteFile");
        return false;
    }
    return true;
}

ORVANE_API void OrvaneBeginWriterCRC(orvane_file_writer* Writer) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileWritingOrigin, Writer, );
    Writer->CRCing = true;
    Writer->CRC = 0xFFFFFFFFu;
}

ORVANE_API orvane_bool OrvaneWriterIsCRCing(orvane_file_writer* Writer) {
    return Writer != nullptr && Writer->CRCing;
}

ORVANE_API orvane_uint32 OrvaneEndWriterCRC(orvane_file_writer* Writer) {
    ORVANE_CHECK_NOT_NULL(OrvaneFileWritingOrigin, Writer, 0);
    Writer->CRCing = false;
    return ~Writer->CRC;
}

ORVANE_API orvane_int32 OrvaneAlignWriter(orvane_file_writer* Writer) {
    int32_t position = OrvaneGetWriterPosition(Writer);
    if (position < 0) return 0;
    int32_t padding = OrvanePredictWriterAlignment(position);
    if (padding == 0) return 0;
    if (Writer->CRCing) {
        static const uint8_t zeros[4] = {0, 0, 0, 0};
        return OrvaneWrite(Writer, padding, zeros) ? padding : 0;
    }
    int32_t aligned = OrvaneSeekWriterFromCurrentPosition(Writer, padding);
    if (aligned < 0) return 0;
    // Skipped bytes past the end only exist once something is written after them; extend the
    // file so that they read as zeros even when nothing follows.
    if (platform::GetFileSize(Writer->Handle) < aligned &&
        !platform::ResizeFile(Writer->Handle, aligned)) {
        LogPlatformError(false, ORVANE_SOURCE_FILE, __LINE__, "SetEndOfFile");
        return 0;
    }
    return padding;
}

ORVANE_API orvane_int32 OrvanePredictWriterAlignment(orvane_int32 Position) {
    int64_t position = Position;
    return static_cast<int32_t>(((position + 3) & ~int64_t{3}) - position);
}

ORVANE_API const char* OrvaneGetTemporaryDirectory(void) {
    // Read once: the environment is not expected to change under a running program, and a
    // buffer rewritten on every call could not be handed out to several threads.
    static const char* const directory = [] {
        static char buffer[512];
        if (!platform::GetTemporaryDirectory(buffer, sizeof buffer)) CopyString(buffer, "/tmp/");
        for (char* c = buffer; *c; ++c)
            if (*c == '\\') *c = '/';
        return buffer;
    }();
    return directory;
}

}  // extern "C"

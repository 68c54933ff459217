// The operating-system layer: heap, files, clocks, processor identification and the
// install-location check. Everything above it is platform-neutral.
#ifndef ORVANE_PLATFORM_H
#define ORVANE_PLATFORM_H

#include "core/orvane_private.h"

#include <cstddef>
#include <cstdint>

namespace orvane::platform {

// Heap. The library's default allocator puts its own header in front of these blocks.
void* HeapAllocate(size_t size);
void HeapFree(void* block);

// Files. Handles are opaque; a null handle is invalid. Every call that fails leaves the
// reason in the thread's errno, which ErrorText turns into text.
struct FileHandle;
enum class OpenMode { Read, WriteKeep, WriteTruncate };
FileHandle* OpenFile(const char* name, OpenMode mode);
// False when the system reports an error on close (data may not have reached the file).
bool CloseFile(FileHandle* file);
// Bytes actually read (0 at the end of the file), or -1 on error.
int64_t ReadFile(FileHandle* file, void* buffer, size_t size);
// Bytes actually written, or -1 on error.
int64_t WriteFile(FileHandle* file, const void* buffer, size_t size);
enum class SeekOrigin { Start, Current, End };
// The new position, or -1 on error.
int64_t SeekFile(FileHandle* file, int64_t offset, SeekOrigin origin);
int64_t GetFileSize(FileHandle* file);
// Sets the file's length; bytes added at the end read as zeros.
bool ResizeFile(FileHandle* file, int64_t size);
bool DeleteFile(const char* name);
// Writes the temporary directory (with a trailing '/') into buffer; false when it does not
// fit. TMPDIR when set, else /tmp.
bool GetTemporaryDirectory(char* buffer, size_t size);
// The last error of this thread as text, written into buffer (always terminated).
int LastError();
void ErrorText(int error, char* buffer, size_t size);

// Clocks.
int64_t MonotonicNanoseconds();
uint32_t TickMilliseconds();  // wraps after about 49 days
void SleepMilliseconds(uint32_t milliseconds);
uint64_t ReadTimeStampCounter();  // rdtsc on x86-64, nanoseconds of the monotonic clock elsewhere
// The rate of ReadTimeStampCounter when it is known without measuring it (1e9 where it counts
// nanoseconds), else 0.
double TimeStampTicksPerSecond();
bool ProcessorHasSSE();  // cpuid leaf 1, EDX bit 25; false off x86
// AVX2 and FMA usable: cpuid leaf 1 reports FMA, AVX and OSXSAVE, the operating system saves
// the vector registers (XGETBV: XMM and YMM state) and leaf 7 reports AVX2. False off x86.
bool ProcessorHasAVX2AndFMA();

// The install-location check: true when one of the system directories is a prefix of the
// module's path (compared character by character, A-Z folded to a-z, no separator check), in
// which case message receives the refusal text. The list ends with a null pointer.
bool IsInstalledInSystemDirectory(const char* modulePath, const char* const* systemDirectories,
                                  char* message, int32_t messageSize);
// The directories that the check compares against. Versioned sonames already keep
// applications apart from stray copies of the library on Linux, so the list is empty and the
// library always loads.
const char* const* SystemDirectories();

}  // namespace orvane::platform

#endif  // ORVANE_PLATFORM_H

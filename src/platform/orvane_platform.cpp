// POSIX implementation of the platform layer.
#include "platform/orvane_platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <x86intrin.h>
#endif

namespace orvane::platform {

void* HeapAllocate(size_t size) {
    return std::malloc(size == 0 ? 1 : size);
}

void HeapFree(void* block) {
    std::free(block);
}

// A handle is the descriptor plus one, so that descriptor 0 is not a null handle.
static int Descriptor(FileHandle* file) {
    return static_cast<int>(reinterpret_cast<intptr_t>(file) - 1);
}

FileHandle* OpenFile(const char* name, OpenMode mode) {
    if (name == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    int flags = O_CLOEXEC;
    switch (mode) {
        case OpenMode::Read:
            flags |= O_RDONLY;
            break;
        case OpenMode::WriteKeep:
            flags |= O_RDWR | O_CREAT;
            break;
        case OpenMode::WriteTruncate:
            flags |= O_RDWR | O_CREAT | O_TRUNC;
            break;
    }
    int fd;
    do {
        fd = ::open(name, flags, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return nullptr;
    if (mode == OpenMode::Read) {
        // Directories open for reading but cannot be read as files.
        struct stat info;
        if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
            ::close(fd);
            errno = EISDIR;
            return nullptr;
        }
    }
    return reinterpret_cast<FileHandle*>(static_cast<intptr_t>(fd) + 1);
}

bool CloseFile(FileHandle* file) {
    // A close interrupted by a signal has still released the descriptor on Linux, so it is
    // never retried.
    return file == nullptr || ::close(Descriptor(file)) == 0;
}

int64_t ReadFile(FileHandle* file, void* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::read(Descriptor(file), static_cast<char*>(buffer) + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

int64_t WriteFile(FileHandle* file, const void* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(Descriptor(file), static_cast<const char*>(buffer) + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        // A file that takes nothing more (write() is allowed to answer 0) would be asked again
        // forever: the short count is the answer, which the writer reports as a failure.
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

int64_t SeekFile(FileHandle* file, int64_t offset, SeekOrigin origin) {
    int whence = origin == SeekOrigin::Start     ? SEEK_SET
                 : origin == SeekOrigin::Current ? SEEK_CUR
                                                 : SEEK_END;
    return static_cast<int64_t>(::lseek(Descriptor(file), static_cast<off_t>(offset), whence));
}

int64_t GetFileSize(FileHandle* file) {
    struct stat info;
    if (::fstat(Descriptor(file), &info) != 0) return -1;
    return static_cast<int64_t>(info.st_size);
}

bool ResizeFile(FileHandle* file, int64_t size) {
    int result;
    do {
        result = ::ftruncate(Descriptor(file), static_cast<off_t>(size));
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

bool DeleteFile(const char* name) {
    return name != nullptr && ::unlink(name) == 0;
}

bool GetTemporaryDirectory(char* buffer, size_t size) {
    const char* directory = std::getenv("TMPDIR");
    if (directory == nullptr || directory[0] == '\0') directory = "/tmp";
    size_t length = std::strlen(directory);
    bool slash = directory[length - 1] == '/';
    if (length + (slash ? 0 : 1) + 1 > size) {
        if (size) buffer[0] = '\0';
        return false;
    }
    std::memcpy(buffer, directory, length);
    if (!slash) buffer[length++] = '/';
    buffer[length] = '\0';
    return true;
}

int LastError() {
    return errno;
}

// The GNU strerror_r returns the text (perhaps a static string instead of the buffer); the
// POSIX one (other C libraries, such as WebAssembly's) returns 0 and fills the buffer.
[[maybe_unused]] static const char* StrerrorText(const char* result, const char*) {
    return result;
}
[[maybe_unused]] static const char* StrerrorText(int result, const char* buffer) {
    return result == 0 ? buffer : "Unknown error";
}

void ErrorText(int error, char* buffer, size_t size) {
    if (size == 0) return;
    char local[256] = {};
    const char* text = StrerrorText(strerror_r(error, local, sizeof local), local);
    size_t length = std::strlen(text);
    if (length >= size) length = size - 1;
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
}

int64_t MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

uint32_t TickMilliseconds() {
    // Some systems (WebAssembly's among them) have no coarse clock and fail the call.
    timespec now{};
    if (clock_gettime(CLOCK_MONOTONIC_COARSE, &now) != 0) clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                                 static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

void SleepMilliseconds(uint32_t milliseconds) {
    timespec request{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&request, &request) != 0 && errno == EINTR) {
    }
}

uint64_t ReadTimeStampCounter() {
#if defined(__x86_64__) || defined(__i386__)
    return __rdtsc();
#else
    return static_cast<uint64_t>(MonotonicNanoseconds());
#endif
}

double TimeStampTicksPerSecond() {
#if defined(__x86_64__) || defined(__i386__)
    return 0.0;  // the processor's own rate, measured
#else
    return 1.0e9;
#endif
}

bool ProcessorHasSSE() {
#if defined(__x86_64__) || defined(__i386__)
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    return (edx & (1u << 25)) != 0;
#else
    return false;
#endif
}

bool ProcessorHasAVX2AndFMA() {
#if defined(__x86_64__) || defined(__i386__)
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    const unsigned fma = 1u << 12, osxsave = 1u << 27, avx = 1u << 28;
    if ((ecx & (fma | osxsave | avx)) != (fma | osxsave | avx)) return false;
    unsigned xcr0Low, xcr0High;
    __asm__ volatile("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
    (void)xcr0High;
    if ((xcr0Low & 6u) != 6u) return false;  // XMM and YMM state saved by the system
    if (__get_cpuid_max(0, nullptr) < 7) return false;
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    return (ebx & (1u << 5)) != 0;
#else
    return false;
#endif
}

static char Fold(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

static bool BeginsWithFolded(const char* s, const char* prefix) {
    for (; *prefix; ++s, ++prefix) {
        if (Fold(*s) != Fold(*prefix)) return false;
    }
    return true;
}

bool IsInstalledInSystemDirectory(const char* modulePath, const char* const* systemDirectories,
                                  char* message, int32_t messageSize) {
    if (modulePath == nullptr || systemDirectories == nullptr) return false;
    for (const char* const* directory = systemDirectories; *directory; ++directory) {
        if (!BeginsWithFolded(modulePath, *directory)) continue;
        const char* name = modulePath;
        for (const char* p = modulePath; *p; ++p) {
            if (*p == '/' || *p == '\\') name = p + 1;
        }
        if (message && messageSize > 0) {
            std::snprintf(message, static_cast<size_t>(messageSize),
                          "%s has been incorrectly installed as %s.  To avoid versioning "
                          "problems, %s must always be installed in an application-specific "
                          "directory, and never in a system directory.",
                          name, modulePath, name);
        }
        return true;
    }
    return false;
}

const char* const* SystemDirectories() {
    static const char* const none[] = {nullptr};
    return none;
}

}  // namespace orvane::platform

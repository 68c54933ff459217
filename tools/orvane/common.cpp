// The orvane tool's shared part: messages, progress and reading a content file's head.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "tool.h"

namespace orvane_tool {

namespace {

int g_libraryErrors = 0;
bool g_quietWarnings = false;
Verbosity g_verbosity = Verbosity::Normal;
std::string g_systemReason, g_firstError, g_firstErrorEver;

bool HostIsLittleEndian() {
    const uint16_t one = 1;
    return *reinterpret_cast<const uint8_t*>(&one) == 1;
}

// A library message without the "module(line): " it begins with.
std::string WithoutPlace(const char* text) {
    const char* colon = std::strstr(text, "): ");
    const char* open = std::strchr(text, '(');
    if (colon && open && open < colon && std::strchr(text, ' ') > colon) return colon + 3;
    return text;
}

std::string Directory(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool WriteAll(int fd, const uint8_t* bytes, size_t count) {
    while (count > 0) {
        const ssize_t written = write(fd, bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        count -= size_t(written);
    }
    return true;
}

}  // namespace

double Now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t at =
        std::min(values.size() - 1, size_t(fraction * double(values.size() - 1) + 0.5));
    return values[at];
}

void SetVerbosity(Verbosity verbosity) {
    g_verbosity = verbosity;
}

Verbosity CurrentVerbosity() {
    return g_verbosity;
}

void PrintLibraryMessage(orvane_log_message_type type, orvane_log_message_origin origin,
                         const char* text, void*) {
    if (type == OrvaneErrorMessage) ++g_libraryErrors;
    if (type != OrvaneErrorMessage && type != OrvaneWarningMessage) return;
    // A failed operating-system call: "... failed with error "REASON" at ...".
    if (origin == OrvanePlatformOrigin) {
        const char* from = std::strstr(text, "with error \"");
        const char* to = from ? std::strstr(from + 12, "\" at ") : nullptr;
        if (to) g_systemReason.assign(from + 12, to);
    } else if (type == OrvaneErrorMessage && g_firstError.empty()) {
        g_firstError = WithoutPlace(text);
    }
    if (type == OrvaneErrorMessage && g_firstErrorEver.empty())
        g_firstErrorEver = WithoutPlace(text);
    if (g_verbosity != Verbosity::Verbose) return;
    if (type == OrvaneWarningMessage && g_quietWarnings) return;
    std::fprintf(stderr, "orvane: library %s: %s\n",
                 type == OrvaneErrorMessage ? "error" : "warning", text);
}

int LibraryErrorCount() {
    return g_libraryErrors;
}

int LibraryErrorStatus(const char* command) {
    if (g_libraryErrors == 0) return 0;
    return Fail("%s: the library reported %d error%s (the first: %s)%s", command, g_libraryErrors,
                g_libraryErrors == 1 ? "" : "s", g_firstErrorEver.c_str(),
                g_verbosity == Verbosity::Verbose ? "" : "; --verbose shows them all");
}

void QuietWarnings(bool quiet) {
    g_quietWarnings = quiet;
}

std::string LibraryReason() {
    return !g_systemReason.empty() ? g_systemReason : g_firstError;
}

std::string LibrarySystemReason() {
    return g_systemReason;
}

void ForgetLibraryReason() {
    g_systemReason.clear();
    g_firstError.clear();
}

// One line on stderr after what stdout already holds: "orvane: <prefix><message>".
static void PrintLine(const char* prefix, const char* format, va_list args) {
    std::fflush(stdout);
    std::fprintf(stderr, "orvane: %s", prefix);
    std::vfprintf(stderr, format, args);
    std::fprintf(stderr, "\n");
}

int Fail(const char* format, ...) {
    va_list args;
    va_start(args, format);
    PrintLine("", format, args);
    va_end(args);
    return 1;
}

void Warn(const char* format, ...) {
    if (g_verbosity == Verbosity::Quiet) return;
    va_list args;
    va_start(args, format);
    PrintLine("warning: ", format, args);
    va_end(args);
}

void Say(const char* format, ...) {
    if (g_verbosity == Verbosity::Quiet) return;
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
}

std::string SystemReason(int error) {
    return std::strerror(error);
}

Progress::Progress(const char* command)
    : command_(command), start_(Now()), terminal_(isatty(2) != 0) {}

Progress::~Progress() {
    if (shown_) std::fprintf(stderr, "\r\033[K");
}

void Progress::Step(const char* what) {
    if (!terminal_ || g_verbosity == Verbosity::Quiet || Now() - start_ < 1.0) return;
    std::fprintf(stderr, "\r\033[K%s: %s (%.1f s)", command_, what, Now() - start_);
    std::fflush(stderr);
    shown_ = true;
}

bool CheckInput(const std::string& path, std::string* problem, int64_t maxBytes) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        *problem = path + ": " + SystemReason(errno);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        *problem = path + ": is a directory, not a file";
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        *problem = path + ": is not a regular file (a device, a FIFO or a socket)";
        return false;
    }
    if (maxBytes > 0 && int64_t(st.st_size) > maxBytes) {
        *problem =
            path + ": is larger than any content file (" + std::to_string(st.st_size) + " bytes)";
        return false;
    }
    if (access(path.c_str(), R_OK) != 0) {
        *problem = path + ": " + SystemReason(errno);
        return false;
    }
    return true;
}

bool CheckContentInput(const std::string& path, bool ignoreCrc, std::string* problem) {
    FileHead head;
    if (!ReadHead(path.c_str(), &head, problem)) return false;
    if (OrvaneFileCRCIsValid(path.c_str())) return true;
    if (!ignoreCrc) {
        *problem = path +
                   ": the CRC does not match the contents: the file is damaged (--ignore-crc uses "
                   "it anyway)";
        return false;
    }
    Warn("%s: the CRC does not match the contents; used anyway (--ignore-crc)", path.c_str());
    return true;
}

bool ReadHead(const char* path, FileHead* head, std::string* problem) {
    if (!CheckInput(path, problem, kLargestContentFile)) return false;
    const std::string name = path;
    FILE* in = std::fopen(path, "rb");
    if (in == nullptr) {
        *problem = name + ": " + SystemReason(errno);
        return false;
    }
    uint8_t magic[32];
    if (std::fread(magic, 1, sizeof magic, in) != sizeof magic) {
        std::fclose(in);
        *problem = name + ": too short for a content file";
        return false;
    }
    uint32_t headerSize = 0;
    if (!OrvaneIsOrvaneFile(reinterpret_cast<const orvane_file_magic_record*>(magic), &headerSize,
                            &head->reversed)) {
        std::fclose(in);
        *problem = name + ": not a content file (unknown magic value)";
        return false;
    }
    struct stat st;
    if (headerSize < sizeof(orvane_file_header) || fstat(fileno(in), &st) != 0 ||
        32 + uint64_t(headerSize) > uint64_t(st.st_size)) {
        std::fclose(in);
        *problem = name + ": the header is cut short";
        return false;
    }
    head->headerBlock.resize(headerSize);
    const bool read = std::fread(head->headerBlock.data(), 1, headerSize, in) == headerSize;
    std::fclose(in);
    if (!read) {
        *problem = name + ": the header cannot be read";
        return false;
    }
    if (head->reversed)
        for (size_t i = 0; i + 4 <= headerSize; i += 4)
            std::swap(head->headerBlock[i], head->headerBlock[i + 3]),
                std::swap(head->headerBlock[i + 1], head->headerBlock[i + 2]);
    head->header = reinterpret_cast<orvane_file_header*>(head->headerBlock.data());
    if (!OrvaneFileHeaderIsValid(head->header, headerSize)) {
        *problem = name + ": the header or section table is damaged";
        return false;
    }
    head->table = OrvaneGetOVNSectionArray(head->header);
    return true;
}

OutputFile::~OutputFile() {
    Discard();
}

void OutputFile::Discard() {
    if (!temporary_.empty()) unlink(temporary_.c_str());
    temporary_.clear();
}

bool OutputFile::Open(const std::string& destination, const std::vector<std::string>& inputs,
                      bool inPlace, std::string* problem) {
    Discard();
    destination_ = name_ = destination;
    intoDevice_ = false;
    if (destination.empty()) {
        *problem = "an output file name is empty";
        return false;
    }
    // Links are followed: the file they lead to is the one replaced, the link stays.
    std::string target = destination;
    struct stat st;
    if (stat(destination.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            *problem = destination + ": is a directory; give a file name";
            return false;
        }
        if (!S_ISREG(st.st_mode) && !S_ISCHR(st.st_mode) && !S_ISFIFO(st.st_mode)) {
            *problem = destination + ": is not a regular file; not replaced";
            return false;
        }
        for (const std::string& input : inputs) {
            struct stat in;
            if (stat(input.c_str(), &in) == 0 && in.st_dev == st.st_dev && in.st_ino == st.st_ino &&
                !inPlace) {
                *problem = destination +
                           (input == destination ? ": is the input"
                                                 : ": is the same file as the input " + input) +
                           "; write the result to another file";
                return false;
            }
        }
        intoDevice_ = !S_ISREG(st.st_mode);
        mode_ = unsigned(st.st_mode & 07777);
        if (access(destination.c_str(), W_OK) != 0) {
            *problem = destination + ": " + SystemReason(errno);
            return false;
        }
        if (char* resolved = realpath(destination.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode_ = unsigned(0666 & ~mask);
    }
    std::string folder = Directory(target);
    if (intoDevice_) {
        const char* tmp = std::getenv("TMPDIR");
        folder = tmp && *tmp ? tmp : "/tmp";
    }
    std::string pattern = folder + "/." + BaseName(target) + ".orvane-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back(0);
    const int fd = mkstemp(name.data());
    if (fd < 0) {
        *problem = destination + ": cannot be written: " + SystemReason(errno);
        return false;
    }
    close(fd);
    temporary_ = name.data();
    destination_ = intoDevice_ ? destination : target;
    return true;
}

bool OutputFile::Commit(std::string* problem) {
    if (temporary_.empty()) {
        *problem = name_ + ": nothing was written";
        return false;
    }
    auto failed = [&](const char* what, int error) {
        *problem = name_ + ": " + what + ": " + SystemReason(error);
        Discard();
        return false;
    };
    const int fd = open(temporary_.c_str(), O_RDWR);
    if (fd < 0) return failed("cannot be written", errno);
    if (intoDevice_) {
        const int out = open(destination_.c_str(), O_WRONLY);
        if (out < 0) {
            const int error = errno;
            close(fd);
            return failed("cannot be opened", error);
        }
        std::vector<uint8_t> buffer(1 << 16);
        bool ok = true;
        int error = 0;
        for (;;) {
            const ssize_t got = read(fd, buffer.data(), buffer.size());
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                ok = false;
                error = errno;
                break;
            }
            if (got == 0) break;
            if (!WriteAll(out, buffer.data(), size_t(got))) {
                ok = false;
                error = errno;
                break;
            }
        }
        close(fd);
        if (close(out) != 0 && ok) ok = false, error = errno;
        if (!ok) return failed("cannot be written", error);
        Discard();
        return true;
    }
    if (fchmod(fd, mode_t(mode_)) != 0 || fsync(fd) != 0) {
        const int error = errno;
        close(fd);
        return failed("cannot be written", error);
    }
    if (close(fd) != 0) return failed("cannot be written", errno);
    if (rename(temporary_.c_str(), destination_.c_str()) != 0)
        return failed("cannot be replaced", errno);
    temporary_.clear();
    // The rename itself is made durable by flushing the folder that holds it.
    const int folder = open(Directory(destination_).c_str(), O_RDONLY | O_DIRECTORY);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return true;
}

int WriteContent(const char* command, const std::string& in, const std::string& out, bool inPlace,
                 bool ignoreCrc, const std::function<bool(const char*)>& write,
                 const char* failure) {
    std::string problem;
    if (!CheckContentInput(in, ignoreCrc, &problem))
        return Fail("%s: %s", command, problem.c_str());
    OutputFile output;
    if (!output.Open(out, {in}, inPlace, &problem)) return Fail("%s: %s", command, problem.c_str());
    ForgetLibraryReason();
    if (!write(output.path().c_str())) {
        output.Discard();
        const std::string system = LibrarySystemReason(), error = LibraryReason();
        if (!system.empty())
            return Fail("%s: %s: cannot be written: %s", command, out.c_str(), system.c_str());
        return Fail("%s: %s: %s%s%s", command, in.c_str(), failure, error.empty() ? "" : ": ",
                    error.c_str());
    }
    if (!output.Commit(&problem)) return Fail("%s: %s", command, problem.c_str());
    return 0;
}

int WriteOutput(const char* command, const std::string& out, const std::vector<std::string>& inputs,
                const std::function<bool(const std::string&, std::string*)>& write) {
    std::string problem;
    OutputFile output;
    if (!output.Open(out, inputs, false, &problem)) return Fail("%s: %s", command, problem.c_str());
    errno = 0;
    if (!write(output.path(), &problem)) {
        const int error = errno;
        // The writer names the temporary file; the user knows the destination.
        const std::string prefix = output.path() + ": ";
        output.Discard();
        std::string reason = problem;
        const size_t at = reason.find(prefix);
        if (at != std::string::npos) reason.erase(at, prefix.size());
        if (error != 0 && reason.find(SystemReason(error)) == std::string::npos)
            reason += " (" + SystemReason(error) + ")";
        return Fail("%s: %s: cannot be written: %s", command, out.c_str(), reason.c_str());
    }
    if (!output.Commit(&problem)) return Fail("%s: %s", command, problem.c_str());
    return 0;
}

const char* CodecName(uint32_t compression) {
    switch (compression) {
        case 0:
            return "none";
        case 1:
            return "pelma0";
        case 2:
            return "pelma1";
        default:
            return "unknown";
    }
}

const char* OrderName(bool reversed) {
    return (HostIsLittleEndian() != reversed) ? "little-endian" : "big-endian";
}

const char* DescribeType(const orvane_data_type_definition* type) {
    if (type == nullptr) return "(none)";
    if (type->Type == OrvaneEndMember) return "(empty description)";
    for (int32_t i = 0; i < OrvaneGetDefinedTypeCount(); ++i)
        if (OrvaneDataTypesAreEqualWithNames(type, OrvaneDefinedTypes[i].Type))
            return OrvaneDefinedTypes[i].Name;
    if (OrvaneDataTypesAreEqualWithNames(type, OrvaneFileInfoType)) return "file_info";
    return "(custom description)";
}

const std::vector<std::string> kLevelNames = {"fast", "default", "best"};

int32_t LevelOf(const std::string& name) {
    if (name == "fast") return OrvaneFastCompressionLevel;
    if (name == "best") return OrvaneBestCompressionLevel;
    return OrvaneDefaultCompressionLevel;
}

}  // namespace orvane_tool

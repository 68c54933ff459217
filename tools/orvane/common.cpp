// The orvane tool's shared part: messages, progress and reading a content file's head.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>

#include <time.h>
#include <unistd.h>

#include "tool.h"

namespace orvane_tool {

namespace {

int g_libraryErrors = 0;
bool g_quietWarnings = false;

double Now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

bool HostIsLittleEndian() {
    const uint16_t one = 1;
    return *reinterpret_cast<const uint8_t*>(&one) == 1;
}

}  // namespace

void PrintLibraryMessage(orvane_log_message_type type, orvane_log_message_origin, const char* text,
                         void*) {
    if (type == OrvaneErrorMessage) ++g_libraryErrors;
    if (type == OrvaneErrorMessage || (type == OrvaneWarningMessage && !g_quietWarnings))
        std::fprintf(stderr, "orvane: %s: %s\n", type == OrvaneErrorMessage ? "error" : "warning",
                     text);
}

int LibraryErrorCount() {
    return g_libraryErrors;
}

void QuietWarnings(bool quiet) {
    g_quietWarnings = quiet;
}

int Fail(const char* format, ...) {
    std::fprintf(stderr, "orvane: ");
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fprintf(stderr, "\n");
    return 1;
}

Progress::Progress(const char* command)
    : command_(command), start_(Now()), terminal_(isatty(2) != 0) {}

Progress::~Progress() {
    if (shown_) std::fprintf(stderr, "\r\033[K");
}

void Progress::Step(const char* what) {
    if (!terminal_ || Now() - start_ < 1.0) return;
    std::fprintf(stderr, "\r\033[K%s: %s (%.1f s)", command_, what, Now() - start_);
    std::fflush(stderr);
    shown_ = true;
}

bool ReadHead(const char* path, FileHead* head, std::string* problem) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *problem = "cannot open the file";
        return false;
    }
    head->bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (head->bytes.size() < 32) {
        *problem = "too short for a content file";
        return false;
    }
    uint32_t headerSize = 0;
    if (!OrvaneIsOrvaneFile(reinterpret_cast<const orvane_file_magic_record*>(head->bytes.data()),
                            &headerSize, &head->reversed)) {
        *problem = "not a content file (unknown magic value)";
        return false;
    }
    if (headerSize < sizeof(orvane_file_header) || 32 + uint64_t(headerSize) > head->bytes.size()) {
        *problem = "the header is cut short";
        return false;
    }
    head->headerBlock.assign(head->bytes.begin() + 32, head->bytes.begin() + 32 + headerSize);
    if (head->reversed)
        for (size_t i = 0; i + 4 <= headerSize; i += 4)
            std::swap(head->headerBlock[i], head->headerBlock[i + 3]),
                std::swap(head->headerBlock[i + 1], head->headerBlock[i + 2]);
    head->header = reinterpret_cast<orvane_file_header*>(head->headerBlock.data());
    if (!OrvaneFileHeaderIsValid(head->header, headerSize)) {
        *problem = "the header or section table is damaged";
        return false;
    }
    head->table = OrvaneGetOVNSectionArray(head->header);
    return true;
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

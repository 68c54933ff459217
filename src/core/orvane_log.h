// Messages and the library's own bounded text formatter.
#ifndef ORVANE_LOG_H
#define ORVANE_LOG_H

#include "core/orvane_private.h"
#include "orvane/core.h"

#include <atomic>
#include <cstdarg>
#include <cstdint>

namespace orvane {

// Formats the message (only when it will be used) and hands it to the log file and the
// callback; records the first message of the highest type. Formats follow FormatText.
void LogMessage(orvane_log_message_type type, orvane_log_message_origin origin, const char* format,
                ...);
void LogMessageV(orvane_log_message_type type, orvane_log_message_origin origin, const char* format,
                 va_list arguments);

// The formatter. It differs from printf: flags, field widths and "*" are read and ignored (no
// output is ever widened); %d %i %u %x %X %o %c take 32-bit arguments; %s a string (null
// writes nothing); %l a 32-bit count then a string, of which at most count characters are
// written; %n stores the count so far; %f a double, digits cut, never rounded; %p a pointer in
// lower-case hexadecimal at full width; %e %E %g %G %C %S write nothing and take nothing; any
// other character after "%" is written as is. Output is cut at size - 1 characters and always
// terminated (when size > 0). Returns the number of characters written.
int32_t FormatText(int32_t size, char* buffer, const char* format, ...);
int32_t FormatTextV(int32_t size, char* buffer, const char* format, va_list arguments);

// Largest message text, in characters.
constexpr int32_t kMaxMessageLength = 32767;

}  // namespace orvane

// Every message that names a place begins with "module(line): ".
#define ORVANE_LOG(type, origin, format, ...)                                     \
    ::orvane::LogMessage((type), (origin), "%s(%d): " format, ORVANE_SOURCE_FILE, \
                         static_cast<int>(__LINE__) __VA_OPT__(, ) __VA_ARGS__)
#define ORVANE_LOG_ERROR(origin, format, ...) \
    ORVANE_LOG(OrvaneErrorMessage, origin, format __VA_OPT__(, ) __VA_ARGS__)
#define ORVANE_LOG_WARNING(origin, format, ...) \
    ORVANE_LOG(OrvaneWarningMessage, origin, format __VA_OPT__(, ) __VA_ARGS__)
// Reported once per process: the format should end with
// "(this message will only appear once)".
#define ORVANE_LOG_WARNING_ONCE(origin, format, ...)                       \
    do {                                                                   \
        static std::atomic<bool> orvaneReported_{false};                   \
        if (!orvaneReported_.exchange(true, std::memory_order_relaxed))    \
            ORVANE_LOG_WARNING(origin, format __VA_OPT__(, ) __VA_ARGS__); \
    } while (0)
// Features that are not implemented: plain text, no source location.
#define ORVANE_LOG_NOT_IMPLEMENTED(text) \
    ::orvane::LogMessage(OrvaneErrorMessage, OrvaneNotImplementedOrigin, "%s", (text))
// Null-argument check with the library's standard wording.
#define ORVANE_CHECK_NOT_NULL(origin, argument, result)                       \
    do {                                                                      \
        if ((argument) == nullptr) {                                          \
            ORVANE_LOG_ERROR(origin, "%s is not allowed to be 0", #argument); \
            return result;                                                    \
        }                                                                     \
    } while (0)

#endif  // ORVANE_LOG_H

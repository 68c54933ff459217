// Messages: the most serious record, filters, the log file and the callback; and the
// library's own bounded text formatter.
#include "core/orvane_log.h"

#include <cmath>
#include <cstring>
#include <mutex>

#include "core/orvane_string.h"
#include "orvane/file.h"

namespace orvane {
namespace {

constexpr int kOriginCount = OrvaneOnePastLastMessageOrigin;
constexpr int32_t kBufferSize = kMaxMessageLength + 1;
constexpr int32_t kFileNameSize = 512;

// Outputs and the most serious record are shared by all threads and serialised by one lock.
// It is recursive so that a callback may log.
std::recursive_mutex g_logMutex;
orvane_log_callback g_callback = {nullptr, nullptr};
char g_logFileName[kFileNameSize];
std::atomic<bool> g_loggingOn{false};  // a callback or a file name is set
std::atomic<uint8_t> g_filtered[kOriginCount];
std::atomic<int32_t> g_mostSeriousType{OrvaneIgnoredMessage};
char g_mostSeriousText[kBufferSize];
thread_local bool t_writingLogFile = false;  // a message logged while writing is not written

void UpdateLoggingOn() {
    g_loggingOn.store(g_callback.Function != nullptr || g_logFileName[0] != '\0',
                      std::memory_order_release);
}

bool Filtered(orvane_log_message_origin origin) {
    return origin >= 0 && origin < kOriginCount &&
           g_filtered[origin].load(std::memory_order_relaxed) != 0;
}

// A message logged while the log file is being written (the writer's own platform warnings,
// an allocation failure) goes only to the callback: writing it to the file would recurse.
void AppendToLogFile(const char* text, int32_t length) {
    if (g_logFileName[0] == '\0' || t_writingLogFile) return;
    t_writingLogFile = true;
    if (orvane_file_writer* file = OrvaneNewFileWriter(g_logFileName, false)) {
        static const char lineFeed = '\n';
        if (OrvaneSeekWriterFromEnd(file, 0) >= 0 && OrvaneWrite(file, length, text))
            OrvaneWrite(file, 1, &lineFeed);
        OrvaneDeleteFileWriter(file);
    }
    t_writingLogFile = false;
}

// Called with the lock held.
void Output(orvane_log_message_type type, orvane_log_message_origin origin, const char* text,
            int32_t length) {
    AppendToLogFile(text, length);
    if (g_callback.Function) g_callback.Function(type, origin, text, g_callback.UserData);
}

// ------------------------------------------------------------------------------------------
// Formatter.

struct Sink {
    char* buffer;
    int32_t size;
    int32_t length;
    void Put(char c) {
        if (size - length >= 2) buffer[length++] = c;
    }
    void Put(const char* s, int64_t count) {
        for (int64_t i = 0; i < count && s[i]; ++i)
            Put(s[i]);
    }
    void PutString(const char* s) {
        if (s)
            while (*s)
                Put(*s++);
    }
    // Digits lowest first, then reversed in place, so that a cut keeps the lowest digits.
    void PutUnsigned(uint64_t value, unsigned base, const char* digits) {
        int32_t start = length;
        do {
            Put(digits[value % base]);
            value /= base;
        } while (value);
        for (int32_t i = start, j = length - 1; i < j; ++i, --j) {
            char t = buffer[i];
            buffer[i] = buffer[j];
            buffer[j] = t;
        }
    }
};

constexpr const char* kLowerDigits = "0123456789abcdef";
constexpr const char* kUpperDigits = "0123456789ABCDEF";

void PutReal(Sink& sink, double value, int precision) {
    if (std::isnan(value)) {
        // A quiet NaN has the top bit of the mantissa set.
        uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        sink.PutString((bits & (uint64_t{1} << 51)) ? "(qnan)" : "(snan)");
        return;
    }
    if (value == 0.0) {
        sink.Put('0');
        sink.Put('.');
        for (int i = 0; i < precision; ++i)
            sink.Put('0');
        return;
    }
    if (value < 0) {
        sink.Put('-');
        value = -value;
    }
    if (std::isinf(value)) {
        sink.PutString("(infinity)");
        return;
    }
    if (value >= 1.0) {
        int32_t start = sink.length;
        // Each digit is the remainder by 10 of the value as it is: rounding it to single
        // precision first could carry into the next digit (9.9999999 would print as 0.999999)
        // or lose digits past the 24th bit.
        for (double rest = value; rest >= 1.0; rest /= 10.0) {
            double digit = std::floor(std::fmod(rest, 10.0));
            int d = static_cast<int>(digit);
            sink.Put(static_cast<char>('0' + (d < 0 ? 0 : d > 9 ? 9 : d)));
        }
        for (int32_t i = start, j = sink.length - 1; i < j; ++i, --j) {
            char t = sink.buffer[i];
            sink.buffer[i] = sink.buffer[j];
            sink.buffer[j] = t;
        }
    } else {
        sink.Put('0');
    }
    sink.Put('.');
    double fraction = std::fmod(value, 1.0);
    if (fraction < 0) fraction = -fraction;
    for (int i = 0; i < precision; ++i) {
        fraction *= 10.0;
        int d = static_cast<int>(std::floor(std::fmod(fraction, 10.0)));
        sink.Put(static_cast<char>('0' + (d < 0 ? 0 : d > 9 ? 9 : d)));
    }
}

}  // namespace

int32_t FormatTextV(int32_t size, char* buffer, const char* format, va_list arguments) {
    if (size <= 0 || buffer == nullptr) return 0;
    Sink sink{buffer, size, 0};
    va_list args;
    va_copy(args, arguments);
    for (const char* f = format; f && *f; ++f) {
        if (*f != '%') {
            sink.Put(*f);
            continue;
        }
        int precision = 6;
        bool converted = false;
        while (!converted) {
            char c = *++f;
            switch (c) {
                case '\0':
                    --f;
                    converted = true;
                    break;
                case '-':
                case '+':
                case ' ':
                case '#':
                case '0':
                    break;
                case '*':
                    (void)va_arg(args, int);
                    break;
                case '1':
                case '2':
                case '3':
                case '4':
                case '5':
                case '6':
                case '7':
                case '8':
                case '9':
                    while (f[1] >= '0' && f[1] <= '9')
                        ++f;
                    break;
                case '.':
                    precision = 0;
                    while (f[1] >= '0' && f[1] <= '9') {
                        ++f;
                        if (precision < 1000) precision = precision * 10 + (*f - '0');
                    }
                    break;
                case 'd':
                case 'i': {
                    int32_t v = va_arg(args, int32_t);
                    if (v < 0) sink.Put('-');
                    sink.PutUnsigned(v < 0 ? uint64_t(-int64_t(v)) : uint64_t(v), 10, kLowerDigits);
                    converted = true;
                    break;
                }
                case 'u':
                    sink.PutUnsigned(va_arg(args, uint32_t), 10, kLowerDigits);
                    converted = true;
                    break;
                case 'x':
                    sink.PutUnsigned(va_arg(args, uint32_t), 16, kLowerDigits);
                    converted = true;
                    break;
                case 'X':
                    sink.PutUnsigned(va_arg(args, uint32_t), 16, kUpperDigits);
                    converted = true;
                    break;
                case 'o':
                    sink.PutUnsigned(va_arg(args, uint32_t), 8, kLowerDigits);
                    converted = true;
                    break;
                case 'p':
                    sink.PutUnsigned(reinterpret_cast<uintptr_t>(va_arg(args, void*)), 16,
                                     kLowerDigits);
                    converted = true;
                    break;
                case 'c':
                    sink.Put(static_cast<char>(va_arg(args, int)));
                    converted = true;
                    break;
                case 's':
                    sink.PutString(va_arg(args, const char*));
                    converted = true;
                    break;
                case 'l': {
                    int32_t count = va_arg(args, int32_t);
                    const char* s = va_arg(args, const char*);
                    if (s) sink.Put(s, count);
                    converted = true;
                    break;
                }
                case 'n':
                    *va_arg(args, int32_t*) = sink.length;
                    converted = true;
                    break;
                case 'f':
                    PutReal(sink, va_arg(args, double), precision);
                    converted = true;
                    break;
                case 'e':
                case 'E':
                case 'g':
                case 'G':
                case 'C':
                case 'S':
                    converted = true;
                    break;
                default:
                    sink.Put(c);
                    converted = true;
                    break;
            }
        }
    }
    va_end(args);
    buffer[sink.length] = '\0';
    return sink.length;
}

int32_t FormatText(int32_t size, char* buffer, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int32_t n = FormatTextV(size, buffer, format, args);
    va_end(args);
    return n;
}

namespace {

// Messages logged while another is being output on the same thread (the log file's platform
// warning, a callback that calls the library) are nested. Each level formats into a buffer of
// its own, so that a nested message never overwrites the text still to be handed to the
// callback. Messages nested deeper than this are dropped, which also ends a callback that would
// log without end.
constexpr int kMaxMessageNesting = 3;
thread_local int t_messageNesting = 0;
thread_local char t_messageTexts[kMaxMessageNesting][kBufferSize];

}  // namespace

void LogMessageV(orvane_log_message_type type, orvane_log_message_origin origin, const char* format,
                 va_list arguments) {
    if (type == OrvaneIgnoredMessage) return;
    // A message that will be neither recorded nor output is not even formatted.
    bool mayBeMoreSerious = type > g_mostSeriousType.load(std::memory_order_acquire);
    if (!mayBeMoreSerious && (Filtered(origin) || !g_loggingOn.load(std::memory_order_acquire)))
        return;
    if (t_messageNesting >= kMaxMessageNesting) return;
    char* text = t_messageTexts[t_messageNesting];
    struct Level {
        Level() { ++t_messageNesting; }
        ~Level() { --t_messageNesting; }
    } level;
    int32_t length = FormatTextV(kBufferSize, text, format, arguments);
    {
        std::lock_guard<std::recursive_mutex> lock(g_logMutex);
        if (type > g_mostSeriousType.load(std::memory_order_relaxed)) {
            g_mostSeriousType.store(type, std::memory_order_release);
            std::memcpy(g_mostSeriousText, text, static_cast<size_t>(length) + 1);
            if (!Filtered(origin)) Output(type, origin, text, length);
        } else if (!Filtered(origin) && g_loggingOn.load(std::memory_order_relaxed)) {
            Output(type, origin, text, length);
        }
    }
}

void LogMessage(orvane_log_message_type type, orvane_log_message_origin origin, const char* format,
                ...) {
    va_list args;
    va_start(args, format);
    LogMessageV(type, origin, format, args);
    va_end(args);
}

}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API void OrvaneSetLogCallback(const orvane_log_callback* Callback) {
    std::lock_guard<std::recursive_mutex> lock(g_logMutex);
    g_callback = Callback ? *Callback : orvane_log_callback{nullptr, nullptr};
    UpdateLoggingOn();
}

ORVANE_API orvane_log_callback OrvaneGetLogCallback(void) {
    std::lock_guard<std::recursive_mutex> lock(g_logMutex);
    return g_callback;
}

ORVANE_API orvane_bool OrvaneSetLogFileName(const char* FileName, orvane_bool Clear) {
    std::lock_guard<std::recursive_mutex> lock(g_logMutex);
    if (FileName == nullptr) {
        g_logFileName[0] = '\0';
        UpdateLoggingOn();
        return true;
    }
    CopyStringMaxLength(g_logFileName, kFileNameSize, FileName);
    UpdateLoggingOn();
    if (g_logFileName[0] == '\0') return true;
    // The platform warning about a file that cannot be opened must not try the file again.
    t_writingLogFile = true;
    orvane_file_writer* file = OrvaneNewFileWriter(g_logFileName, Clear);
    t_writingLogFile = false;
    if (file == nullptr) return false;
    OrvaneDeleteFileWriter(file);
    return true;
}

ORVANE_API orvane_bool OrvaneLogging(void) {
    return g_loggingOn.load(std::memory_order_acquire);
}

ORVANE_API void OrvaneFilterMessage(orvane_log_message_origin Origin, orvane_bool Enabled) {
    if (Origin >= 0 && Origin < kOriginCount) g_filtered[Origin].store(Enabled ? 0 : 1);
}

ORVANE_API void OrvaneFilterAllMessages(orvane_bool Enabled) {
    for (auto& flag : g_filtered)
        flag.store(Enabled ? 0 : 1);
}

ORVANE_API orvane_log_message_type OrvaneGetMostSeriousMessageType(void) {
    return static_cast<orvane_log_message_type>(g_mostSeriousType.load());
}

ORVANE_API const char* OrvaneGetMostSeriousMessage(void) {
    return g_mostSeriousText;
}

ORVANE_API void OrvaneClearMostSeriousMessage(void) {
    std::lock_guard<std::recursive_mutex> lock(g_logMutex);
    g_mostSeriousType.store(OrvaneIgnoredMessage);
    g_mostSeriousText[0] = '\0';
}

}  // extern "C"

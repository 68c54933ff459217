// String operations, number parsing, wildcard matching, name comparison and the version.
#include "core/orvane_string.h"

#include <atomic>
#include <cmath>

#include "core/orvane_log.h"

namespace orvane {
namespace {

std::atomic<orvane_string_comparison_callback> g_comparison{nullptr};

char Fold(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EndsRun(char c) {
    return c == '\0' || c == '*' || c == '?' || c == ';';
}

// Writes into captured what the wildcards of pattern take from name; terminates captured
// whenever the match holds.
bool Match(const char* name, const char* pattern, char* captured) {
    for (;;) {
        char p = *pattern;
        if (p == '\0') {
            *captured = '\0';
            return *name == '\0';
        }
        if (p == '?') {
            if (*name) *captured++ = *name++;
            ++pattern;
            continue;
        }
        if (p != '*') {
            if (*name == '\0' || Fold(*name) != Fold(p)) return false;
            ++name;
            ++pattern;
            continue;
        }
        const char* rest = pattern + 1;
        int32_t runLength = 0;
        while (!EndsRun(rest[runLength]))
            ++runLength;
        if (runLength == 0) {
            while (*name)
                *captured++ = *name++;
            *captured = '\0';
            return true;
        }
        for (; *name; ++name) {
            int32_t k = 0;
            while (k < runLength && name[k] == rest[k])
                ++k;
            if (k == runLength && Match(name, rest, captured)) return true;
            *captured++ = *name;
        }
        pattern = rest;
    }
}

}  // namespace

int32_t StringLength(const char* s) {
    if (s == nullptr) return 0;
    const char* p = s;
    while (*p)
        ++p;
    return static_cast<int32_t>(p - s);
}

bool StringsAreEqual(const char* a, const char* b) {
    if (a == nullptr || b == nullptr) return a == b;
    while (*a && *a == *b)
        ++a, ++b;
    return *a == *b;
}

bool StringBeginsWith(const char* s, const char* prefix) {
    if (s == nullptr || prefix == nullptr) return s == prefix;
    for (; *prefix; ++s, ++prefix)
        if (*s != *prefix) return false;
    return true;
}

bool StringBeginsWithLowercase(const char* s, const char* prefix) {
    if (s == nullptr || prefix == nullptr) return s == prefix;
    for (; *prefix; ++s, ++prefix)
        if (Fold(*s) != Fold(*prefix)) return false;
    return true;
}

bool StringsAreEqualLowercase(const char* a, const char* b) {
    if (a == nullptr || b == nullptr) return a == b;
    while (*a && Fold(*a) == Fold(*b))
        ++a, ++b;
    return Fold(*a) == Fold(*b);
}

void CopyStringMaxLength(char* destination, int32_t size, const char* source) {
    if (destination == nullptr || size <= 0) return;
    int32_t length = StringLength(source);
    int32_t copied = length < size - 1 ? length : size - 1;
    for (int32_t i = 0; i < copied; ++i)
        destination[i] = source[i];
    destination[copied] = '\0';
    if (copied < length) {
        ORVANE_LOG_WARNING(OrvaneStringOrigin,
                           "String overflow in StringEquals (Source is %d characters, but dest "
                           "can only hold %d)",
                           length, size - 1);
    }
}

void CopyString(char* destination, const char* source) {
    if (source == nullptr) {
        *destination = '\0';
        return;
    }
    while ((*destination++ = *source++)) {
    }
}

const char* FindLastSlash(const char* path) {
    if (path == nullptr) return nullptr;
    const char* last = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\') last = p;
    return last;
}

double ParseReal(const char* text, bool allowFraction) {
    if (text == nullptr) return 0.0;
    double sign = 1.0;
    if (*text == '-' || *text == '+') sign = *text++ == '-' ? -1.0 : 1.0;
    double value = 0.0;
    while (*text >= '0' && *text <= '9')
        value = value * 10.0 + (*text++ - '0');
    if (allowFraction && *text == '.') {
        ++text;
        double scale = 0.1;
        while (*text >= '0' && *text <= '9') {
            value += (*text++ - '0') * scale;
            scale *= 0.1;
        }
    }
    return sign * value;
}

int32_t ParseInteger(const char* text) {
    double value = std::nearbyint(ParseReal(text, false));
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

bool WildcardMatch(const char* name, const char* pattern, char* captured) {
    if (name == nullptr) name = "";
    if (pattern == nullptr) {
        CopyString(captured, name);
        return true;
    }
    return Match(name, pattern, captured);
}

namespace {

// The application's callback behind a guard for null names (a name missing from a file): the
// callback is given two strings only, and a null name equals only another null name.
orvane_int32 GuardedComparison(const char* a, const char* b) {
    orvane_string_comparison_callback compare = g_comparison.load(std::memory_order_acquire);
    if (a == nullptr || b == nullptr || compare == nullptr) return OrvaneStringDifference(a, b);
    return compare(a, b);
}

}  // namespace

orvane_string_comparison_callback GetStringComparisonCallback() {
    return g_comparison.load(std::memory_order_acquire) ? &GuardedComparison : nullptr;
}

bool NamesAreEqual(const char* a, const char* b) {
    orvane_string_comparison_callback compare = GetStringComparisonCallback();
    if (compare) return compare(a, b) == 0;
    return StringsAreEqual(a, b);
}

}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API orvane_int32 OrvaneStringDifference(const char* A, const char* B) {
    if (A == nullptr || B == nullptr) return A == B ? 0 : (A == nullptr ? -1 : 1);
    while (*A && *A == *B)
        ++A, ++B;
    return static_cast<signed char>(*A) - static_cast<signed char>(*B);
}

ORVANE_API void OrvaneSetStringComparisonCallback(orvane_string_comparison_callback Callback) {
    g_comparison.store(Callback, std::memory_order_release);
}

ORVANE_API const char* OrvaneGetVersionString(void) {
    return ORVANE_VERSION_STRING;
}

ORVANE_API void OrvaneGetVersion(orvane_int32* Major, orvane_int32* Minor,
                                 orvane_int32* Customization, orvane_int32* Build) {
    if (Major) *Major = ORVANE_VERSION_MAJOR;
    if (Minor) *Minor = ORVANE_VERSION_MINOR;
    if (Customization) *Customization = ORVANE_VERSION_CUSTOMIZATION;
    if (Build) *Build = ORVANE_VERSION_BUILD;
}

ORVANE_API orvane_bool OrvaneVersionsMatch_(orvane_int32 Major, orvane_int32 Minor,
                                            orvane_int32 Customization, orvane_int32 Build) {
    if (Major == ORVANE_VERSION_MAJOR && Minor == ORVANE_VERSION_MINOR &&
        Customization == ORVANE_VERSION_CUSTOMIZATION && Build == ORVANE_VERSION_BUILD) {
        return true;
    }
    ORVANE_LOG_WARNING(OrvaneVersionCheckingOrigin,
                       "Version of DLL (%d.%d.%d.%d) does not match version of .h (%d.%d.%d.%d)",
                       ORVANE_VERSION_MAJOR, ORVANE_VERSION_MINOR, ORVANE_VERSION_CUSTOMIZATION,
                       ORVANE_VERSION_BUILD, Major, Minor, Customization, Build);
    return false;
}

}  // extern "C"

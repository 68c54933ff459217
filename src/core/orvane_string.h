// String operations, number parsing and wildcard matching.
#ifndef ORVANE_STRING_H
#define ORVANE_STRING_H

#include "core/orvane_private.h"
#include "orvane/core.h"

#include <cstddef>
#include <cstdint>

namespace orvane {

int32_t StringLength(const char* s);                 // 0 for null
bool StringsAreEqual(const char* a, const char* b);  // two nulls are equal, one null is not
bool StringBeginsWith(const char* s, const char* prefix);
bool StringBeginsWithLowercase(const char* s, const char* prefix);  // A-Z folded to a-z
bool StringsAreEqualLowercase(const char* a, const char* b);
// Copies at most size - 1 characters and a terminator; warns (StringOrigin) when cut.
void CopyStringMaxLength(char* destination, int32_t size, const char* source);
void CopyString(char* destination, const char* source);
// The position of the last '\\' or '/', or the start of the path when it has none.
const char* FindLastSlash(const char* path);
int32_t ParseInteger(const char* text);
double ParseReal(const char* text, bool allowFraction);
// Matches name against pattern ('?' one character, '*' any run, other characters compared
// with A-Z folded) and writes the characters the wildcards took into captured, which must hold
// at least StringLength(name) + 1 characters.
bool WildcardMatch(const char* name, const char* pattern, char* captured);

// Name equality as lookups use it: the application's comparison callback when one is set,
// exact equality otherwise.
bool NamesAreEqual(const char* a, const char* b);
// The application's comparison callback, or null when none is installed. The function returned
// never passes a null name on to the application: with a null name it compares as
// OrvaneStringDifference does (equal only to another null).
orvane_string_comparison_callback GetStringComparisonCallback();

// CRC-32 of a buffer, continuing from state (not complemented at either end).
uint32_t Crc32Update(uint32_t state, const void* bytes, size_t count);

}  // namespace orvane

#endif  // ORVANE_STRING_H

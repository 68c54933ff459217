// The content file format: helpers shared by the fixup primitives and the marshalling walk.
#ifndef ORVANE_FILE_FORMAT_H
#define ORVANE_FILE_FORMAT_H

#include "core/orvane_private.h"
#include "orvane/file.h"

#include <cstddef>
#include <cstdint>

namespace orvane {

// A name decoded from a slot must end within this many bytes of its section; the cap keeps a
// hostile section without zero bytes from making every decode scan it to its end.
constexpr uint32_t kMaxDecodedNameLength = 1u << 16;

// Finds the loaded section whose bytes [base, base + size] hold [address, address + extent]
// (the end may be reached exactly: a target one past a section's end is valid with extent 0).
// A section that holds the address before its end is preferred to one that ends there.
// hint, when given, is tried first and receives the section found; returns its index or -1.
int32_t FindLoadedSection(const orvane_file_sections* sections, const void* address,
                          uint32_t extent, int32_t* hint);

// The slot's address as OrvaneDecodeOVNPointerSlot gives it, searching from hint (may be null).
void* DecodePointerSlot(const orvane_file_sections* sections, const void* slot,
                        uint32_t* bytesAvailable, int32_t* hint);

// Whether the sections record can be used with SectionIndex: logs an error (FileReadingOrigin)
// and returns false when the record, its arrays or the index are unusable.
bool CheckFileSections(const orvane_file_sections* sections, int32_t sectionIndex);
// The data of a section that CheckFileSections has passed; null, with an error, when the section
// is not loaded.
char* LoadedSectionData(const orvane_file_sections* sections, int32_t sectionIndex);

}  // namespace orvane

#endif  // ORVANE_FILE_FORMAT_H

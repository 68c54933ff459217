// The native tree of a loaded file: native descriptions of the file's type records and native
// copies of the objects whose types hold pointer slots, kept per section (see orvane_file in
// orvane/file.h).
#ifndef ORVANE_NATIVE_TREE_H
#define ORVANE_NATIVE_TREE_H

#include "core/orvane_private.h"
#include "orvane/file.h"

#include <cstdint>

namespace orvane {

// The sections of a file as the format primitives see them.
orvane_file_sections FileSectionsOf(const orvane_file* file);

// Brings the native tree up to date (building it on first use) and gives the root pair: the
// native description of the root type and the native root object. False, with an error
// (FileReadingOrigin) naming what was wrong, when the file's descriptions or objects are
// damaged; the pair is then null.
bool UpdateNativeTree(orvane_file* file, orvane_variant* root);

// After UpdateNativeTree: the root read as a file info of the current layout when the file
// stores the root's type as the empty description under the current type tag; null otherwise.
void* NativeRootFileInfo(const orvane_file* file);

// Sections were read, fixed up or freed: the next request resolves the tree again.
void MarkNativeTreeStale(orvane_file* file);

// Releases the native copies kept with the section and forgets them.
void ReleaseNativeSection(orvane_file* file, int32_t sectionIndex);

// Releases everything the native tree holds; the file's NativeTree becomes null.
void FreeNativeTree(orvane_file* file);

// The section whose native copies hold the address, or -1.
int32_t FindNativeSection(const orvane_file* file, const void* address);

}  // namespace orvane

#endif  // ORVANE_NATIVE_TREE_H

// The file builder's internals that the data tree writer and the rewriting operations share.
#ifndef ORVANE_FILE_BUILDER_H
#define ORVANE_FILE_BUILDER_H

#include "core/orvane_private.h"
#include "orvane/file.h"
#include "orvane/file_builder.h"
#include "orvane/data_tree_writer.h"

#include <cstdint>

namespace orvane {

// Whether a byte order asks for the other order than this machine's.
bool ByteOrderIsReversed(orvane_file_byte_order order);

// A builder's temporary file names: unique per builder, so that builders of one process or of
// several processes can share a directory. Exposed for the tests.
const char* GetFileBuilderTemporaryBaseName(const orvane_file_builder* builder);

// The number of sections a builder was begun with (0 for null).
int32_t GetFileBuilderSectionCount(const orvane_file_builder* builder);

// A section offset as a builder location, by the part it falls in.
orvane_file_location SectionOffsetToLocation(int32_t section, const orvane_ovn_section& entry,
                                             uint32_t offset);

// Items the data tree writer holds (objects, arrays, strings, descriptions, tables, the null
// item). Exposed for the tests.
int32_t GetFileDataTreeWriterItemCount(const orvane_file_data_tree_writer* writer);

}  // namespace orvane

#endif  // ORVANE_FILE_BUILDER_H

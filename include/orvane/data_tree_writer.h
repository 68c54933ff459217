/* Orvane data tree writing (offline): trees of typed objects walked into a file builder, and raw
 * images of file infos. */
#ifndef ORVANE_PUBLIC_DATA_TREE_WRITER_H
#define ORVANE_PUBLIC_DATA_TREE_WRITER_H

#include "orvane/common.h"
#include "orvane/types.h"
#include "orvane/file_builder.h"

ORVANE_EXTERN_C_BEGIN

/* ---- Data tree writing ---- */

/* Walks a tree of typed objects through its type descriptions into a file builder: every
 * distinct object, array, string and description once, as a 32-bit-layout image (4-byte
 * pointer slots, 32-byte description records), every pointer a fixup. The tree is only read,
 * and must not change while a write runs. Messages have origin OrvaneFileWritingOrigin; a
 * null Writer logs "%s(%d): Writer is not allowed to be 0" and the call does nothing (false).
 * A writer and its builder belong to one thread at a time. */

typedef struct orvane_file_data_tree_writer orvane_file_data_tree_writer;
struct orvane_data_type_definition;
struct orvane_file_info;

/* The value to store in a string slot instead of a pointer to the text (for example an index
 * into the application's own string table). */
typedef orvane_uint32 (*orvane_file_writer_string_callback)(void* UserData, const char* String);

/* Flags of OrvaneSetFileDataTreeFlags. */
#define OrvaneWriteRootTypeAsEmpty 1u
#define OrvaneWriteVariantTypesAsEmpty 4u

/* A writer for the tree at RootObject, of the description RootObjectTypeDefinition (either may
 * be null: the file then has a null root). Descriptions go to section
 * DefaultTypeSectionIndex and objects to DefaultObjectSectionIndex unless set otherwise below;
 * section indices are checked by the builder when written. Null when memory runs out. */
ORVANE_API orvane_file_data_tree_writer* OrvaneBeginFileDataTreeWriting(
    struct orvane_data_type_definition* RootObjectTypeDefinition, void* RootObject,
    orvane_int32 DefaultTypeSectionIndex, orvane_int32 DefaultObjectSectionIndex);
/* OrvaneWriteRootTypeAsEmpty writes the root's description as the empty description;
 * OrvaneWriteVariantTypesAsEmpty does so for the descriptions of variant members. Replaces
 * the flags (initially 0). */
ORVANE_API void OrvaneSetFileDataTreeFlags(orvane_file_data_tree_writer* Writer,
                                           orvane_uint32 Flags);
/* Objects whose description is Type (the same address) go to SectionIndex, unless an object
 * has its own section. Set before writing. */
ORVANE_API void OrvaneSetFileSectionForObjectsOfType(orvane_file_data_tree_writer* Writer,
                                                     const struct orvane_data_type_definition* Type,
                                                     orvane_int32 SectionIndex);
/* The object (or array) at Object goes to SectionIndex; what it refers to follows its own
 * rules. Set before writing. */
ORVANE_API void OrvaneSetFileSectionForObject(orvane_file_data_tree_writer* Writer,
                                              const void* Object, orvane_int32 SectionIndex);
/* String slots get Callback(UserData, text) instead of the text (null Callback: the text is
 * written, each distinct text once). */
ORVANE_API void OrvaneSetFileWriterStringCallback(orvane_file_data_tree_writer* Writer,
                                                  orvane_file_writer_string_callback Callback,
                                                  void* UserData);
/* Writes the tree into Builder (in its byte order; objects of mixed member widths get
 * marshalling fixups) and marks the root. False when a description is malformed, a section
 * index is refused or memory runs out (each logged); the builder then holds a partial tree and
 * should be aborted. May be called again for another builder. A null Builder logs an error. */
ORVANE_API orvane_bool OrvaneWriteDataTreeToFileBuilder(orvane_file_data_tree_writer* Writer,
                                                        orvane_file_builder* Builder);
/* The tree written to FileName as a file of SectionCount sections (uncompressed, native byte
 * order) and FileTypeTag, through a builder in the temporary directory. False, with
 * "%s(%d): Unable to create file writing buffer", "%s(%d): Unable to write tree contents to
 * file buffer" or "%s(%d): Unable to write buffer to file", when a step fails; a tree that
 * could not be written whole is not written to FileName at all. */
ORVANE_API orvane_bool OrvaneWriteDataTreeToFile(orvane_file_data_tree_writer* Writer,
                                                 orvane_uint32 FileTypeTag, const char* FileName,
                                                 orvane_int32 SectionCount);
/* Null is allowed. */
ORVANE_API void OrvaneEndFileDataTreeWriting(orvane_file_data_tree_writer* Writer);

/* A loaded file's info (or any file info in memory) as a raw image of one section.
 * @param FileInfo the file info to write (null: false)
 * @param DestFileName the file to write, as DestFile of OrvaneRecompressFile
 * @return true when the whole image was written */
ORVANE_API orvane_bool OrvaneConvertFileInfoToRaw(const struct orvane_file_info* FileInfo,
                                                  const char* DestFileName);
/* Reads SourceFile and writes its file info as a raw image.
 * @param SourceFile the content file to read
 * @param DestFileName the file to write, as DestFile of OrvaneRecompressFile
 * @return true when the file was read and the whole image written */
ORVANE_API orvane_bool OrvaneConvertFileToRaw(const char* SourceFile, const char* DestFileName);

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_DATA_TREE_WRITER_H */

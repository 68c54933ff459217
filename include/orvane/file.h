/* Orvane file loading: content files read whole or section by section, their pointers fixed up,
 * and their root object in the current layout of the standard content types. */
#ifndef ORVANE_FILE_H
#define ORVANE_FILE_H

#include "orvane/common.h"
#include "orvane/types.h"
#include "orvane/file_stream.h"
#include "orvane/file_format.h"
#include "orvane/file_decompression.h"

ORVANE_EXTERN_C_BEGIN

/* ---- File streams and format ---- */
/* ---- File loading ---- */

/* A loaded content file. The library allocates it as one block: this record, then Sections,
 * Pointers, SectionMarshalled and SectionInUserMemory. Everything here is owned by the File
 * and released by OrvaneFreeFile.
 *
 * Section memory keeps the file's own 32-bit layout, with 4-byte pointer slots that hold
 * handles into Pointers (see "Pointer slots" above). What applications use is the native tree:
 * on the first OrvaneGetDataTreeFromFile or OrvaneGetFileInfo after the fixup phases, the
 * loader makes a native description of every type description reached, copies every object
 * whose type has pointer slots into its native layout (pointers resolved through Pointers),
 * and uses arrays without pointer slots, and strings, in place in section memory. Shared
 * objects stay shared and cycles terminate. The copies of objects (and descriptions) that lie
 * in section i are kept with section i: OrvaneGetFileSectionOfLoadedObject answers i for them
 * and OrvaneFreeFileSection(i) releases them. Reading, fixing up or freeing a section makes the
 * next request bring the native tree up to date: copies that still exist keep their addresses
 * (and any values the application changed in them); their pointers are resolved again.
 *
 * A File is used by one thread at a time; different Files may be loaded on different
 * threads. */
typedef struct orvane_native_tree orvane_native_tree;

typedef struct orvane_file {
    orvane_bool ByteReversed;   /* the file is of the other byte order */
    orvane_file_header* Header; /* header and section table, byte order corrected; owned */
    orvane_int32 SectionCount;
    void** Sections; /* memory of each section; null when not loaded or empty */
    /* The section needs no (further) marshalling: true at load for a native file, set after
     * phase 2 for a reversed one. */
    orvane_bool* SectionMarshalled;
    orvane_bool* SectionInUserMemory; /* read into the caller's memory, never released here */
    /* The file info converted to the current layout when the type tag differs; owned. */
    struct orvane_file_info* ConvertedFileInfo;
    /* The pointer table of the sections' pointer slots: one entry per pointer fixup of the
     * file, filled by the fixup phases. */
    orvane_uint32 PointerCount;
    void** Pointers;
    /* The native tree and the native copies kept with each section; null until first built. */
    orvane_native_tree* NativeTree;
} orvane_file;

/* The type tag of the current layout of the standard content types. */
#define ORVANE_CURRENT_FILE_TYPE_TAG 0x80000016u

/* Sections whose ExpandedSize lies above the limit are not loaded (they stay null, with an
 * error). It guards against files that claim huge sections; initially 1 GiB. Process-wide. */
ORVANE_API void OrvaneSetFileSectionSizeLimit(orvane_uint32 MaximumExpandedSize);
/* The limit in bytes. */
ORVANE_API orvane_uint32 OrvaneGetFileSectionSizeLimit(void);

/* Whole files. Each returns null (with an error) when the file is not a content file or its
 * header is damaged (ReadEntireFile also when FileName is null or cannot be opened). A
 * section that cannot be loaded stays null: its read or decompression failed, it is above the
 * size limit, or its pointer or marshalling fixups were refused ("%s(%d): File section %d is
 * dropped: its %s were refused"); pointers into it then read as null, and a tree that needs
 * it is refused by OrvaneGetDataTreeFromFile. The memory is only read; the reader stays open.
 * Different Files may be loaded on different threads at once. */
ORVANE_API orvane_file* OrvaneReadEntireFile(const char* FileName);
ORVANE_API orvane_file* OrvaneReadEntireFileFromMemory(orvane_int32 MemorySize, const void* Memory);
ORVANE_API orvane_file* OrvaneReadEntireFileFromReader(orvane_file_reader* Reader);

/* Loading step by step: OrvaneReadPartialFileFromReader; OrvaneReadFileSection or
 * OrvaneReadFileSectionInPlace for each wanted section; OrvaneFixupFileSectionPhase1 for every
 * loaded section; then OrvaneFixupFileSectionPhase2 for every loaded section. The reader may be
 * closed after that. InPlace memory holds at least ExpandedSize rounded up to 4 bytes, aligned
 * to the section's Alignment, and must outlive the section. */
/* The header only: a File with no section loaded, or null (with an error) as above. A file of
 * another format revision loads with a warning. */
ORVANE_API orvane_file* OrvaneReadPartialFileFromReader(orvane_file_reader* Reader);
/* Reads section SectionIndex into memory of its own (released with the section): decompressed
 * and, in a file of the other byte order, reversed by parts. A missing header ("%s(%d):
 * File.Header is not allowed to be 0"), an index outside [0, SectionCount) ("%s(%d):
 * SectionIndex %d is out of range [0, %d)") or a null Reader logs an error; a section already
 * loaded warns "%s(%d): Ignored request to read already populated file section %d" and keeps
 * its memory. An empty section stays null. A failed read, decompression or allocation, or a
 * section above the size limit, leaves it null (with an error). */
ORVANE_API void OrvaneReadFileSection(orvane_file_reader* Reader, orvane_file* File,
                                      orvane_int32 SectionIndex);
/* The same into the caller's Memory (null: as OrvaneReadFileSection), which the library never
 * releases.
 * @param Reader the reader the File was opened from
 * @param File the File whose section is read
 * @param SectionIndex the section, in [0, SectionCount)
 * @param Memory at least the section's ExpandedSize rounded up to 4 bytes, aligned to its
 *        Alignment; it must outlive the section */
ORVANE_API void OrvaneReadFileSectionInPlace(orvane_file_reader* Reader, orvane_file* File,
                                             orvane_int32 SectionIndex, void* Memory);
/* Resolves the section's pointer slots through the file's pointer table (a pointer into a
 * section not loaded reads as null). The same checks as reading; a section not loaded, or
 * without fixups, is left alone. Fixups that point outside their sections are refused
 * ("%s(%d): Pointer fixup %u of section %d (from %u to %u:%u) lies outside its sections") and
 * the section is dropped: freed and null, so that no tree with holes is built on it. */
ORVANE_API void OrvaneFixupFileSectionPhase1(orvane_file_reader* Reader, orvane_file* File,
                                             orvane_int32 SectionIndex);
/* In a file of the other byte order, reverses the objects of mixed member widths through
 * their type descriptions (which may lie in other sections, hence after phase 1 everywhere);
 * then resolves the pointer slots again. Marshalling fixups that do not fit their sections,
 * or whose descriptions are malformed or not loaded, are refused and the section is dropped
 * as in phase 1. Running it again on a marshalled section only resolves the pointers. */
ORVANE_API void OrvaneFixupFileSectionPhase2(orvane_file_reader* Reader, orvane_file* File,
                                             orvane_int32 SectionIndex);

/* Whether the CRC of everything from the section table on matches the header's.
 * @param FileName the content file to check
 * @return false also when the file cannot be opened or is not a content file (logged) */
ORVANE_API orvane_bool OrvaneFileCRCIsValid(const char* FileName);

/* Releases section SectionIndex (unless it is in the caller's memory) and the native copies
 * kept with it; pointers into it read as null from then on, and the next tree request brings
 * the tree up to date. An index outside [0, SectionCount) logs "%s(%d): SectionIndex %d is out
 * of range [0, %d)"; a null File logs an error. A section not loaded is left alone. */
ORVANE_API void OrvaneFreeFileSection(orvane_file* File, orvane_int32 SectionIndex);
/* OrvaneFreeFileSection for every section. */
ORVANE_API void OrvaneFreeAllFileSections(orvane_file* File);
/* Releases everything the File owns (sections, native tree, header, converted file info) and
 * the File. Null is ignored. */
ORVANE_API void OrvaneFreeFile(orvane_file* File);

/* The section whose memory, or whose native copies, hold Address; -1 when none does. */
ORVANE_API orvane_int32 OrvaneGetFileSectionOfLoadedObject(const orvane_file* File,
                                                           const void* Address);
/* The root as a native description and a native object; both null when the tree cannot be
 * built (damaged descriptions or objects, an array member that claims elements but points to
 * no loaded data, all logged), the object null when its section is not loaded. */
ORVANE_API orvane_variant OrvaneGetDataTreeFromFile(orvane_file* File);
/* The header's TypeTag; 0 with "%s(%d): File.Header is not allowed to be 0" without a
 * header. */
ORVANE_API orvane_uint32 OrvaneGetFileTypeTag(const orvane_file* File);
/* The root in the current layout of the standard content types. With the current type tag
 * the root is used as it stands once its description has been found to match
 * OrvaneFileInfoType, or read with OrvaneFileInfoType when the file stores the root's type as
 * the empty description (OrvaneWriteRootTypeAsEmpty); otherwise (with a warning once per File)
 * it is converted, and the converted tree belongs to the File. Null when there is no root or it
 * cannot be converted. */
ORVANE_API struct orvane_file_info* OrvaneGetFileInfo(orvane_file* File);

ORVANE_EXTERN_C_END

#endif /* ORVANE_FILE_H */

/* Orvane content file format: the magic record, header, section table, fixups and the primitives
 * that read them. */
#ifndef ORVANE_PUBLIC_FILE_FORMAT_H
#define ORVANE_PUBLIC_FILE_FORMAT_H

#include "orvane/common.h"
#include "orvane/types.h"

ORVANE_EXTERN_C_BEGIN

/* ---------------------------------------------------------------------------------------- */
/* The content file format                                                                  */
/* ---------------------------------------------------------------------------------------- */

/* A content file: the magic record at offset 0, the header at 32, the section table at 32 +
 * SectionTableOffset (88 as the builder writes it), then per section its pointer fixups, its
 * marshalling fixups and its stored data. Every field is an unsigned 32-bit integer in the byte
 * order of the writer; OrvaneIsOrvaneFile tells which. */
#pragma pack(push, 4)

typedef struct orvane_ovn_reference {
    orvane_uint32 SectionIndex;
    orvane_uint32 Offset; /* bytes from the start of the section's expanded data */
} orvane_ovn_reference;

typedef struct orvane_file_magic_record {
    orvane_uint32 MagicValue[4];
    orvane_uint32 HeaderSize;   /* bytes of the header block read from offset 32 */
    orvane_uint32 HeaderFormat; /* 0; anything else is refused */
    orvane_uint32 Reserved[2];
} orvane_file_magic_record;

typedef struct orvane_file_header {
    orvane_uint32 Version;            /* ORVANE_FILE_FORMAT_REVISION */
    orvane_uint32 TotalSize;          /* bytes of the whole file */
    orvane_uint32 CRC;                /* CRC-32 from offset 32 + SectionTableOffset to the end */
    orvane_uint32 SectionTableOffset; /* from the start of this header; 56 */
    orvane_uint32 SectionCount;
    orvane_ovn_reference RootTypeReference;
    orvane_ovn_reference RootObjectReference;
    orvane_uint32 TypeTag;
    orvane_uint32 ExtraTags[4];
} orvane_file_header;

typedef struct orvane_ovn_section {
    orvane_uint32 Compression;  /* 0 none, 1 Pelma0, 2 Pelma1 */
    orvane_uint32 DataOffset;   /* file offset of the stored data */
    orvane_uint32 DataSize;     /* stored bytes; ExpandedSize when not compressed */
    orvane_uint32 ExpandedSize; /* bytes in memory; 0: an empty section, never allocated */
    orvane_uint32 Alignment;    /* of the section's memory block */
    orvane_uint32 Start16Bit;   /* [0, Start16Bit) 32-bit units */
    orvane_uint32 Start8Bit;    /* [Start16Bit, Start8Bit) 16-bit units, then bytes */
    orvane_uint32 PointerFixupOffset;
    orvane_uint32 PointerFixupCount; /* orvane_ovn_pointer_fixup entries */
    orvane_uint32 MarshallingFixupOffset;
    orvane_uint32 MarshallingFixupCount; /* orvane_ovn_marshalling_fixup entries */
} orvane_ovn_section;

/* The 4-byte pointer slot at FromOffset in the section's expanded data points at To. */
typedef struct orvane_ovn_pointer_fixup {
    orvane_uint32 FromOffset;
    orvane_ovn_reference To;
} orvane_ovn_pointer_fixup;

/* Count objects of the type description at Type, from ObjectOffset on, mix member widths and
 * are byte-reversed member by member in a file of the other byte order. */
typedef struct orvane_ovn_marshalling_fixup {
    orvane_uint32 Count;
    orvane_uint32 ObjectOffset;
    orvane_ovn_reference Type;
} orvane_ovn_marshalling_fixup;

#pragma pack(pop)

#define ORVANE_FILE_FORMAT_REVISION 6
/* HeaderSize as the builder writes it: header, section table and 32 bytes more. */
#define ORVANE_FILE_HEADER_SIZE(SectionCount) (88u + 44u * (orvane_uint32)(SectionCount))

/* The magic records (MagicValue set, everything else 0) of a file in this machine's byte
 * order and of one in the other order. */
ORVANE_API extern const orvane_file_magic_record* const OrvaneOVNFileMV;
ORVANE_API extern const orvane_file_magic_record* const OrvaneReversedOVNFileMV;

/* The sections that the content writers use by convention; a file may have any number. */
typedef enum orvane_standard_section_index {
    OrvaneStandardMainSection = 0,
    OrvaneStandardRigidVertexSection = 1,
    OrvaneStandardRigidIndexSection = 2,
    OrvaneStandardDeformableVertexSection = 3,
    OrvaneStandardDeformableIndexSection = 4,
    OrvaneStandardTextureSection = 5,
    OrvaneStandardDiscardableSection = 6,
    OrvaneStandardUnloadedSection = 7,
    OrvaneStandardSectionCount = 8
} orvane_standard_section_index;

/* "0 - StandardMainSection" and so on; any other index logs an error and gives
 * "(non-standard section)". */
ORVANE_API const char* OrvaneGetStandardSectionName(orvane_int32 SectionIndex);

/* True when the first 16 bytes are either magic value. Reversed tells which (true: the file
 * is of the other byte order); HeaderSize receives the header size in this machine's order.
 * Either output may be null. HeaderFormat is not looked at. */
ORVANE_API orvane_bool OrvaneIsOrvaneFile(const orvane_file_magic_record* MagicRecord,
                                          orvane_uint32* HeaderSize, orvane_bool* Reversed);

/* Checks a header block of HeaderSize bytes (in this machine's byte order) before anything in
 * it is used: the section table lies inside the block and has at most 65536 sections; in every
 * section 0 <= Start16Bit <= Start8Bit <= ExpandedSize < 2^31, the alignment is 0 or a power of
 * two up to 65536 (the builder's limits), uncompressed data has DataSize == ExpandedSize, and
 * the stored data and both fixup arrays lie inside TotalSize; all pointer fixups of the file
 * together take no more than TotalSize bytes (the builder writes no array twice). Logs an
 * error (FileReadingOrigin) naming the first fault and returns false. */
ORVANE_API orvane_bool OrvaneFileHeaderIsValid(const orvane_file_header* Header,
                                               orvane_uint32 HeaderSize);
/* The first section table entry: Header + SectionTableOffset. Only meaningful for a header
 * that OrvaneFileHeaderIsValid accepted; null for a null header. */
ORVANE_API orvane_ovn_section* OrvaneGetOVNSectionArray(orvane_file_header* Header);

/* Reverses a section's expanded data in place for a file of the other byte order: every
 * 32-bit word in [0, Start16Bit) (a partial last word stays), then every 16-bit word in
 * [Start16Bit, Start8Bit); the bytes from Start8Bit to End stay. Bounds that are out of order
 * (Start16Bit > Start8Bit or Start8Bit > End) are refused with an error and nothing changes. */
ORVANE_API void OrvaneReverseSection(orvane_uint32 Start16Bit, orvane_uint32 Start8Bit,
                                     orvane_uint32 End, void* Data);

/* Pointer slots.
 *
 * Pointers in section data are 4-byte slots, which cannot hold an address on a 64-bit host.
 * On every host the fixups therefore write a handle into each slot, and the addresses live in
 * a pointer table that the loader keeps per File:
 *   - the table has one entry per pointer fixup of the file (OrvaneGetOVNPointerCount); the
 *     handles of section s are consecutive: the j-th fixup of s (from 0) gets the handle
 *     1 + j + the PointerFixupCount of every section before s. Handles are thus fixed per
 *     fixup, and applying the same fixups again (the second fixup phase) writes the same ones;
 *   - the slot receives the handle as a native-order uint32, and Pointers[handle - 1] the
 *     address base of To.SectionIndex + To.Offset, or null when that section is not loaded
 *     (then the slot receives 0 instead of the handle);
 *   - 0 in a slot is null; a slot without a fixup keeps the value stored in the file, which
 *     is read as a handle like any other (never as an address);
 *   - every consumer of file data (the marshalling walk, the loader's widening into native
 *     records) turns a slot into an address only through OrvaneDecodeOVNPointerSlot, which
 *     yields null for 0, for a handle outside the table and for an address that no loaded
 *     section holds (any more), and tells how many bytes of its section follow the address;
 *   - a target may lie one past the end of its section (an empty array), so a consumer
 *     checks the extent of what it reads at an address against those bytes.
 * OrvaneDecodeOVNReference is unchanged: an address computed from a reference. */
typedef struct orvane_file_sections {
    orvane_int32 SectionCount;
    const orvane_ovn_section* SectionTable; /* ExpandedSize and PointerFixupCount per section */
    void* const* Sections;      /* memory of each section; null when not loaded or empty */
    orvane_uint32 PointerCount; /* entries in Pointers */
    void** Pointers;            /* Pointers[handle - 1]: the address the handle stands for */
} orvane_file_sections;

/* The number of pointer table entries a file needs: the sum of its PointerFixupCount values
 * (0xFFFFFFFF when the sum does not fit, which OrvaneFileHeaderIsValid rules out). */
ORVANE_API orvane_uint32 OrvaneGetOVNPointerCount(orvane_int32 SectionCount,
                                                  const orvane_ovn_section* SectionTable);
/* Applies the first FixupCount pointer fixups of section SectionIndex (which must be loaded)
 * as described above. An entry whose slot does not lie inside the section, whose target
 * section index is out of range or whose target offset lies past the end of its section is
 * skipped without touching anything. False, with one error for the first fault, when any
 * entry was skipped or the arguments do not fit the table. */
ORVANE_API orvane_bool OrvaneOVNFixUp(const orvane_file_sections* Sections,
                                      orvane_int32 SectionIndex, orvane_uint32 FixupCount,
                                      const orvane_ovn_pointer_fixup* Fixups);
/* Applies marshalling fixups to section SectionIndex: each entry's Count objects at
 * ObjectOffset are byte-reversed member by member through the type description at Type, which
 * is read in the file's 32-byte record layout with its pointer slots decoded as above (so the
 * pointer fixups of every section that holds descriptions must have run). The objects must lie
 * inside the section and the description inside loaded sections; a malformed description (a
 * bad member kind, a cycle of inline members, records outside the sections) is refused. Each
 * faulty entry is skipped untouched; false, with one error, when any was. */
ORVANE_API orvane_bool OrvaneOVNMarshall(const orvane_file_sections* Sections,
                                         orvane_int32 SectionIndex, orvane_uint32 FixupCount,
                                         const orvane_ovn_marshalling_fixup* Fixups);
/* The address Reference stands for: the memory of its section + Offset; null when that
 * section is not loaded, and (with an error) when the index is out of range or the offset lies
 * past the end of the section. */
ORVANE_API void* OrvaneDecodeOVNReference(const orvane_file_sections* Sections,
                                          const orvane_ovn_reference* Reference);
/* The address the pointer slot at Slot (4 bytes, any alignment) stands for, or null (see
 * above). BytesAvailable (may be null) receives the bytes of the address's section from the
 * address to the section's end, 0 for null. */
ORVANE_API void* OrvaneDecodeOVNPointerSlot(const orvane_file_sections* Sections, const void* Slot,
                                            orvane_uint32* BytesAvailable);

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_FILE_FORMAT_H */

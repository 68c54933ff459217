/* Orvane file subsystem. */
#ifndef ORVANE_FILE_H
#define ORVANE_FILE_H

#include "orvane/common.h"
#include "orvane/types.h"

ORVANE_EXTERN_C_BEGIN

/* ---- File streams and format ---- */

/* Threads: the list of open readers, the default open callback and the temporary directory
 * are process-wide and guarded; a reader, a writer or a loaded File is used by one thread at a
 * time. */

/* ---------------------------------------------------------------------------------------- */
/* File readers                                                                             */
/* ---------------------------------------------------------------------------------------- */

typedef struct orvane_file_reader orvane_file_reader;

/* Releases the reader (and whatever it owns); the reader is unusable afterwards. */
typedef void (*orvane_close_file_reader_callback)(const char* SourceFile, orvane_int32 SourceLine,
                                                  orvane_file_reader* Reader);
/* Reads at most Count bytes at the absolute FilePosition into Buffer and returns the number
 * read: 0 at or beyond the end, on failure, and for a negative position or count. A reader has
 * no current position. */
typedef orvane_int32 (*orvane_read_at_most_callback)(const char* SourceFile,
                                                     orvane_int32 SourceLine,
                                                     orvane_file_reader* Reader,
                                                     orvane_int32 FilePosition, orvane_int32 Count,
                                                     void* Buffer);
/* Opens FileName; null when it cannot be opened. */
typedef orvane_file_reader* (*orvane_open_file_reader_callback)(const char* SourceFile,
                                                                orvane_int32 SourceLine,
                                                                const char* FileName);

/* The common head of every reader. Kinds of reader append their own fields after it. The
 * caller owns the memory; OrvaneInitializeFileReader fills it. Next and Previous belong to the
 * library's list of open readers. */
struct orvane_file_reader {
    const char* SourceFile; /* source file of the code that created the reader (not copied) */
    orvane_int32 SourceLine;
    orvane_close_file_reader_callback CloseFileReaderCallback;
    orvane_read_at_most_callback ReadAtMostCallback;
    orvane_file_reader* Next;
    orvane_file_reader* Previous;
};

/* Fills the head of Reader and links it in at the front of the list of open readers. */
ORVANE_API void OrvaneInitializeFileReader(
    const char* SourceFile, orvane_int32 SourceLine,
    orvane_close_file_reader_callback CloseFileReaderCallback,
    orvane_read_at_most_callback ReadAtMostCallback, orvane_file_reader* Reader);
/* Removes Reader from the list (null and readers that are not linked are allowed), clears its
 * links and returns it. */
ORVANE_API orvane_file_reader* OrvaneUnlinkFileReader(orvane_file_reader* Reader);
/* A reader on an existing operating-system file, opened for reading; null without a message
 * when the file cannot be opened (the caller reports it). */
ORVANE_API orvane_file_reader* OrvaneCreatePlatformFileReader(const char* SourceFile,
                                                              orvane_int32 SourceLine,
                                                              const char* FileName);
/* A reader over Size bytes at Memory that appear at file positions [Offset, Offset + Size).
 * The memory is neither copied nor released and must outlive the reader. Null when out of
 * memory, or (with an error) when Size is negative or Memory is null while Size is not 0. */
ORVANE_API orvane_file_reader* OrvaneCreateMemoryFileReader(const char* SourceFile,
                                                            orvane_int32 SourceLine,
                                                            orvane_int32 Offset, orvane_int32 Size,
                                                            const void* Memory);
/* The callback the loader and the file builder open files by name with; initially
 * OrvaneCreatePlatformFileReader. Setting null restores that initial callback. */
ORVANE_API orvane_open_file_reader_callback OrvaneGetDefaultFileReaderOpenCallback(void);
/* Process-wide: set it before other threads open files. */
ORVANE_API void OrvaneSetDefaultFileReaderOpenCallback(orvane_open_file_reader_callback Callback);

/* ---------------------------------------------------------------------------------------- */
/* File writers                                                                             */
/* ---------------------------------------------------------------------------------------- */

typedef struct orvane_file_writer orvane_file_writer;

/* Opens FileName for writing at position 0. Clear true creates or empties it; false keeps its
 * contents (creating it when missing). Null, with a platform warning, when it cannot be
 * opened.
 * @param FileName the file to open
 * @param Clear true: the file is emptied at once, so that a write that fails later leaves it
 *        partial (write a new name and rename it for an all-or-nothing write)
 * @return the writer, released by OrvaneDeleteFileWriter */
ORVANE_API orvane_file_writer* OrvaneNewFileWriter(const char* FileName, orvane_bool Clear);
/* Closes the file and releases the writer; null is allowed. */
ORVANE_API void OrvaneDeleteFileWriter(orvane_file_writer* Writer);
/* Positions are bytes from the start of the file. Each returns the new position, or -1 (with a
 * warning) when the seek fails or the position does not fit 31 bits. */
ORVANE_API orvane_int32 OrvaneGetWriterPosition(orvane_file_writer* Writer);
/* To Offset bytes from the start, from the end (Offset usually 0 or negative), or from the
 * current position. A seek past the end extends the file only when bytes are written there. */
ORVANE_API orvane_int32 OrvaneSeekWriterFromStart(orvane_file_writer* Writer, orvane_int32 Offset);
ORVANE_API orvane_int32 OrvaneSeekWriterFromEnd(orvane_file_writer* Writer, orvane_int32 Offset);
ORVANE_API orvane_int32 OrvaneSeekWriterFromCurrentPosition(orvane_file_writer* Writer,
                                                            orvane_int32 Offset);
/* True when all Count bytes were written (Count 0 writes nothing and succeeds). While a CRC
 * runs the bytes enter it.
 * @param Writer the writer
 * @param Count the number of bytes (0 or more)
 * @param Bytes Count bytes
 * @return false, with a platform warning naming the system's reason, when the system took
 *         fewer bytes (a full disk, the file-size limit) */
ORVANE_API orvane_bool OrvaneWrite(orvane_file_writer* Writer, orvane_int32 Count,
                                   const void* Bytes);
/* The running CRC: the standard CRC-32 (zlib's) of every byte written from the begin to the
 * end, alignment zeros included; bytes skipped by a seek are not in it. */
ORVANE_API void OrvaneBeginWriterCRC(orvane_file_writer* Writer);
/* True between OrvaneBeginWriterCRC and OrvaneEndWriterCRC. */
ORVANE_API orvane_bool OrvaneWriterIsCRCing(orvane_file_writer* Writer);
/* Stops the CRC and returns it (the CRC of nothing, 0, when none was running). */
ORVANE_API orvane_uint32 OrvaneEndWriterCRC(orvane_file_writer* Writer);
/* Advances the position to the next multiple of 4 and returns by how much (0 to 3). With a
 * CRC running zero bytes are written; otherwise the position moves, and the file is extended
 * with zeros when the new position lies beyond its end, so that skipped bytes always read as
 * zeros. */
ORVANE_API orvane_int32 OrvaneAlignWriter(orvane_file_writer* Writer);
/* Bytes from Position to the next multiple of 4: 0, 3, 2, 1 for 0, 1, 2, 3. */
ORVANE_API orvane_int32 OrvanePredictWriterAlignment(orvane_int32 Position);

/* The system's temporary directory with a trailing "/" ($TMPDIR, else /tmp), read once; a
 * static string. */
ORVANE_API const char* OrvaneGetTemporaryDirectory(void);

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
 * it is used: the section table lies inside the block; in every section 0 <= Start16Bit <=
 * Start8Bit <= ExpandedSize < 2^31, the alignment is 0 or a power of two, uncompressed data
 * has DataSize == ExpandedSize, and the stored data and both fixup arrays lie inside
 * TotalSize. Logs an error (FileReadingOrigin) naming the first fault and returns false. */
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

/* ---- end of file streams and format ---- */

/* ---- File builder ---- */

/* Writes a content file without holding its data in memory: each section is collected, chunk
 * by chunk, in three temporary part files (32-bit units, 16-bit units, bytes), pointers are
 * marked as fixups between locations, and the end lays out header, section table, fixup arrays
 * and (optionally compressed) data. A builder belongs to one thread. */

/* A place in the file being built: a section, one of its three parts (0: 32-bit units, 1:
 * 16-bit units, 2: bytes) and a byte offset in that part. Resolved only at the end. */
typedef struct orvane_file_location {
    orvane_int32 SectionIndex;
    orvane_int32 BufferIndex;
    orvane_int32 Offset;
} orvane_file_location;

typedef struct orvane_file_builder orvane_file_builder;
/* A marked pointer fixup, valid until the builder ends. */
typedef struct orvane_file_fixup orvane_file_fixup;

/* The byte order a builder writes in. A file of the other byte order is read by the loader
 * with every part, fixup array and header reversed back. */
typedef enum orvane_file_byte_order {
    OrvaneNativeByteOrder = 0,
    OrvaneLittleEndianByteOrder = 1,
    OrvaneBigEndianByteOrder = 2
} orvane_file_byte_order;

/* Creates the three part files of every section in TemporaryDirectory, named from
 * TemporaryFileBaseName and a token that is unique to this builder. Null when a part file
 * cannot be created (nothing is left behind) or memory runs out.
 * @param SectionCount the number of sections of the file
 * @param FileTypeTag the header's type tag (ORVANE_CURRENT_FILE_TYPE_TAG for the standard
 *        content types)
 * @param TemporaryDirectory the folder of the part files, ending in "/" (see
 *        OrvaneGetTemporaryDirectory)
 * @param TemporaryFileBaseName the start of the part files' names
 * @return the builder, released by one of the ends or OrvaneAbortFile */
ORVANE_API orvane_file_builder* OrvaneBeginFile(orvane_int32 SectionCount,
                                                orvane_uint32 FileTypeTag,
                                                const char* TemporaryDirectory,
                                                const char* TemporaryFileBaseName);
/* Compression 0 none, 1 Pelma0, 2 Pelma1; Alignment a power of two (0 is taken as 1; others
 * are refused with an error). Chunks already written keep the alignment they were padded to.
 * @param Builder the builder
 * @param SectionIndex the section, in [0, SectionCount)
 * @param CompressionType the section's codec
 * @param Alignment the section's alignment in memory, in bytes */
ORVANE_API void OrvaneSetFileSectionFormat(orvane_file_builder* Builder, orvane_int32 SectionIndex,
                                           orvane_int32 CompressionType, orvane_int32 Alignment);
/* The compression level (orvane_compression_level) of every compressed section of the file;
 * OrvaneDefaultCompressionLevel until it is set. It may be set any time before the end. An
 * unknown level is refused with an error and changes nothing. */
ORVANE_API void OrvaneSetFileCompressionLevel(orvane_file_builder* Builder,
                                              orvane_int32 CompressionLevel);
/* The byte order of the file; only before the first chunk is written (an error otherwise).
 * In a builder of the other byte order, chunks of 32-bit units (width 4 or 0) are reversed
 * by 32-bit words and chunks of 16-bit units by 16-bit words as they are written; byte chunks
 * and chunks of mixed widths are written as given, so a caller reverses mixed objects itself
 * (the data tree writer does so through their descriptions). */
ORVANE_API void OrvaneSetFileByteOrder(orvane_file_builder* Builder,
                                       orvane_file_byte_order ByteOrder);
/* True when the builder writes in the other byte order than this machine's. */
ORVANE_API orvane_bool OrvaneFileIsByteReversed(const orvane_file_builder* Builder);
/* Appends Size bytes to the part that UnitWidth selects (4 or 0: part 0, 2: part 1, anything
 * else: part 2), padded with zeros to the section's alignment; returns the location of the
 * first byte ((0, 0, 0) after a range error).
 * @param Builder the builder
 * @param InSectionIndex the section, in [0, SectionCount)
 * @param UnitWidth the width in bytes of the chunk's units, which selects its part
 * @param Size the number of bytes
 * @param Bytes Size bytes */
ORVANE_API orvane_file_location OrvaneWriteFileChunk(orvane_file_builder* Builder,
                                                     orvane_int32 InSectionIndex,
                                                     orvane_uint32 UnitWidth, orvane_int32 Size,
                                                     const void* Bytes);
/* Location moved AdditionalOffset bytes further into its part (no check that the part is that
 * long: the end checks every fixup). */
ORVANE_API orvane_file_location OrvaneOffsetFileLocation(orvane_file_builder* Builder,
                                                         orvane_file_location Location,
                                                         orvane_int32 AdditionalOffset);
/* The 4-byte pointer slot at From + FromOffset will point at To.
 * @param Builder the builder
 * @param From the location of a written chunk
 * @param FromOffset the slot's offset in bytes from From
 * @param To the location the slot points at
 * @return the fixup, for OrvaneAdjustFileFixup; owned by the builder */
ORVANE_API orvane_file_fixup* OrvaneMarkFileFixup(orvane_file_builder* Builder,
                                                  orvane_file_location From,
                                                  orvane_int32 FromOffset, orvane_file_location To);
/* Makes a fixup from OrvaneMarkFileFixup point at NewTo instead; a null Fixup or a NewTo
 * outside the sections logs an error and changes nothing. */
ORVANE_API void OrvaneAdjustFileFixup(orvane_file_builder* Builder, orvane_file_fixup* Fixup,
                                      orvane_file_location NewTo);
/* ArrayCount objects at Object, of the type description at Type, mix member widths. */
ORVANE_API void OrvaneMarkMarshallingFixup(orvane_file_builder* Builder, orvane_file_location Type,
                                           orvane_file_location Object, orvane_int32 ArrayCount);
/* The root object of the file and the location of its type description (the last call
 * counts). */
ORVANE_API void OrvaneMarkFileRootObject(orvane_file_builder* Builder,
                                         orvane_file_location TypeLocation,
                                         orvane_file_location ObjectLocation);
/* ExtraTags[Index] of the header, Index 0 to 3 (others are refused with an error). The extra
 * tags are outside the CRC. */
ORVANE_API void OrvaneSetFileExtraTag(orvane_file_builder* Builder, orvane_int32 Index,
                                      orvane_uint32 Value);
/* Each end releases the builder and deletes its temporary files, whatever the result. The
 * writer forms leave the writer open (after the header, or after the raw image).
 * @param Builder the builder
 * @param FileName the content file to write, created or emptied first: a failure part way
 *        leaves it partial, so an all-or-nothing write goes to a new name in the same folder
 *        that is then renamed over the destination
 * @return true when the whole file was written */
ORVANE_API orvane_bool OrvaneEndFile(orvane_file_builder* Builder, const char* FileName);
/* OrvaneEndFile into an open writer, from its current position on. */
ORVANE_API orvane_bool OrvaneEndFileToWriter(orvane_file_builder* Builder,
                                             orvane_file_writer* Writer);
/* A raw image: the parts of every section back to back (each aligned to 4), every fixed-up
 * pointer slot holding the offset of its target from the start of the image; no header,
 * fixup arrays or compression.
 * @param Builder the builder
 * @param FileName the file to write, as for OrvaneEndFile
 * @return true when the whole image was written */
ORVANE_API orvane_bool OrvaneEndFileRaw(orvane_file_builder* Builder, const char* FileName);
/* OrvaneEndFileRaw into an open writer, from its current position on. */
ORVANE_API orvane_bool OrvaneEndFileRawToWriter(orvane_file_builder* Builder,
                                                orvane_file_writer* Writer);
/* Null is allowed. */
ORVANE_API void OrvaneAbortFile(orvane_file_builder* Builder);

/* Rewrites a content file with other section codecs: a section of compression c gets
 * CompressorMapping[c] when c < CompressorMappingCount. The file keeps its byte order.
 * @param SourceFile the content file to read (its CRC is not checked: see
 *        OrvaneFileCRCIsValid)
 * @param DestFile the file to write, created or written over from its start: a failure part
 *        way leaves it partial, so an all-or-nothing write goes to a new name in the same
 *        folder that is then renamed over the destination
 * @param CompressorMappingCount the number of entries in CompressorMapping
 * @param CompressorMapping the new compression of each old one, by the old one's value
 * @return true when the whole file was written */
ORVANE_API orvane_bool OrvaneRecompressFile(const char* SourceFile, const char* DestFile,
                                            orvane_int32 CompressorMappingCount,
                                            const orvane_int32* CompressorMapping);
/* As OrvaneRecompressFile, with the compressed sections written at a compression level
 * (orvane_compression_level). False (logged) for an unknown level, before anything is
 * written.
 * @param SourceFile the content file to read
 * @param DestFile the file to write, as for OrvaneRecompressFile
 * @param CompressorMappingCount the number of entries in CompressorMapping
 * @param CompressorMapping the new compression of each old one, by the old one's value
 * @param CompressionLevel an orvane_compression_level
 * @return true when the whole file was written */
ORVANE_API orvane_bool OrvaneRecompressFileAtLevel(const char* SourceFile, const char* DestFile,
                                                   orvane_int32 CompressorMappingCount,
                                                   const orvane_int32* CompressorMapping,
                                                   orvane_int32 CompressionLevel);
/* Rewrites a content file in the given byte order (codecs and sections unchanged); objects of
 * mixed member widths are reversed through the file's own type descriptions.
 * @param SourceFile the content file to read
 * @param DestFile the file to write, as for OrvaneRecompressFile
 * @param ByteOrder the byte order of the written file
 * @return true when the whole file was written */
ORVANE_API orvane_bool OrvaneConvertFileByteOrder(const char* SourceFile, const char* DestFile,
                                                  orvane_file_byte_order ByteOrder);

/* ---- end of file builder ---- */

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
 * file buffer" or "%s(%d): Unable to write buffer to file", when a step fails. */
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

/* ---- end of data tree writing ---- */

/* ---- Section compression ---- */

/* Codecs of a section's Compression field. Any other value is refused with an error
 * (OrvaneCompressorOrigin) "Unrecognized compression type %d". */
typedef enum orvane_compression_type {
    OrvaneNoCompression = 0,
    OrvanePelma0Compression = 1,
    OrvanePelma1Compression = 2
} orvane_compression_type;

/* How hard the compressors of both codecs work. Every level writes the same stream format, so
 * one decoder reads them all at the same speed; only the compressor's speed and the size of its
 * output differ.
 * - Fast: one greedy pass that tries the last offset, one earlier position per three-byte hash
 *   and the latest position of the same two bytes; no priced parse. Several times the speed of
 *   the default level; on typical section data a few percent larger, on very regular data
 *   often smaller.
 * - Default: hash-chain matching with lazy evaluation, then one parse priced by the first
 *   one's statistics with a shallow search. Within about one and a half percent of the best
 *   level's size at one and a half to two and a half times its speed. It is the default
 *   because content pipelines write many files and rewrite them often: the last percent of
 *   size is not worth that much write time there, while a shipping build can still ask for the
 *   best level.
 * - Best: as the default level, with a second and deeper priced parse: the search that every
 *   compression used before levels existed, and the smallest output.
 * The default and best levels also code the fast level's parse of each content and keep it
 * when it is the smaller, so no level writes more than the fast one. The calls without a level
 * compress at the default level. Any other value is refused with an error
 * (OrvaneCompressorOrigin) "Unrecognized compression level %d". */
typedef enum orvane_compression_level {
    OrvaneFastCompressionLevel = 0,
    OrvaneDefaultCompressionLevel = 1,
    OrvaneBestCompressionLevel = 2
} orvane_compression_level;

/* A compressed stream of either codec holds one 12-byte header per content, then the coded
 * bytes of all contents. A section is compressed as three contents (its 32-bit, 16-bit and 8-bit
 * parts); the decoder stops exactly at each part's end.
 *
 * Decoding treats the stream as hostile: it never reads past CompressedSize bytes (bytes past
 * them count as zeros, so the padding below need not be initialised) and never writes past the
 * expanded or output size. A stream that cannot be decoded (a match reaching before the start
 * of the output or past a part's end, a stream ending before the output is complete, an
 * impossible model state) logs an error (OrvaneCompressorOrigin) and gives false; the
 * destination is then partly written. The compressed bytes are never modified. Literal
 * contexts of Pelma1 follow a byte's position in the destination modulo 4, so the same stream
 * decodes identically into memory of any alignment. */

/* Type 0 copies ExpandedSize bytes (CompressedSize must cover them). Types 1 and 2 decode the
 * three contents [0, Stop1), [Stop1, Stop2), [Stop2, ExpandedSize); a part whose stop equals the
 * previous one decodes nothing. Reversed: the stream was written on a machine of the other byte
 * order. */
ORVANE_API orvane_bool OrvaneDecompressData(orvane_int32 CompressionType, orvane_bool Reversed,
                                            orvane_int32 CompressedSize,
                                            const void* CompressedBytes, orvane_int32 Stop1,
                                            orvane_int32 Stop2, orvane_int32 ExpandedSize,
                                            void* Destination);
/* Decodes a stream of a single content (header 0) into OutputSize bytes. */
ORVANE_API orvane_bool OrvaneDecompressDataChunk(orvane_int32 CompressionType, orvane_bool Reversed,
                                                 orvane_int32 CompressedSize,
                                                 const void* CompressedBytes,
                                                 orvane_int32 OutputSize, void* Destination);
/* Bytes a reader allocates after compressed data of the type: 4 for types 1 and 2, else 0. */
ORVANE_API orvane_int32 OrvaneGetCompressedBytesPaddingSize(orvane_int32 CompressionType);

/* Pelma1 for an application's own data: begin with the total size and the number of contents,
 * compress the contents in order, end to get the stream (it belongs to the state and lives until
 * OrvanePelma1FreeSimple). A content of one stream decodes with OrvanePelma1Decompress or
 * OrvaneDecompressDataChunk when it is the only one, with OrvaneDecompressData when there are
 * three. */
typedef struct orvane_pelma1_state orvane_pelma1_state;

/* Null when the arguments are negative or memory runs out. */
ORVANE_API orvane_pelma1_state* OrvanePelma1BeginSimple(orvane_int32 ExpandedSize,
                                                        orvane_int32 ContentsCount);
/* As OrvanePelma1BeginSimple, at a compression level (orvane_compression_level); null (logged)
 * for an unknown level. */
ORVANE_API orvane_pelma1_state* OrvanePelma1BeginSimpleAtLevel(orvane_int32 ExpandedSize,
                                                               orvane_int32 ContentsCount,
                                                               orvane_int32 CompressionLevel);
/* Compresses the next content; the bytes need no padding. False (logged) when every content
 * was already given, after an earlier failure, or when memory runs out; the state then only
 * fails. */
ORVANE_API orvane_bool OrvanePelma1Compress(orvane_pelma1_state* State, orvane_int32 ByteCount,
                                            const void* Bytes);
/* Finishes the stream and returns its size (headers included), or -1 after a failure (the
 * buffer is then null). Contents never given are empty. Calling it again returns the same
 * stream. */
ORVANE_API orvane_int32 OrvanePelma1End(orvane_pelma1_state* State, void** CompressedBuffer);
/* Releases the state and its stream; null is ignored. */
ORVANE_API void OrvanePelma1FreeSimple(orvane_pelma1_state* State);
/* Decodes a single content; false (logged) on an inconsistent stream. */
ORVANE_API orvane_bool OrvanePelma1Decompress(orvane_bool Reversed, orvane_int32 CompressedSize,
                                              const void* CompressedBytes, orvane_int32 OutputSize,
                                              void* Destination);
/* The file compressor: what the file builder drives to store a section. Begin with the section's
 * expanded size, its number of contents (3 for a section) and the type; feed the contents in
 * order, each read from a file; end writes the stream to the writer. */
typedef struct orvane_file_compressor orvane_file_compressor;

/* Null (logged) for an unrecognized type, a null writer, negative sizes, or out of memory. */
ORVANE_API orvane_file_compressor* OrvaneBeginFileCompression(orvane_int32 ExpandedSize,
                                                              orvane_int32 ContentsCount,
                                                              orvane_int32 CompressionType,
                                                              orvane_file_writer* Writer);
/* As OrvaneBeginFileCompression, at a compression level (orvane_compression_level; type 0
 * ignores it); null (logged) for an unknown level. */
ORVANE_API orvane_file_compressor* OrvaneBeginFileCompressionAtLevel(orvane_int32 ExpandedSize,
                                                                     orvane_int32 ContentsCount,
                                                                     orvane_int32 CompressionType,
                                                                     orvane_int32 CompressionLevel,
                                                                     orvane_file_writer* Writer);
/* The next content, ByteCount bytes read from the named file through the default open
 * callback. Type 0 appends the file to the writer through the caller's buffer; the codecs read
 * the whole content into memory of their own and ignore the buffer. False when the file cannot
 * be opened, holds fewer than ByteCount bytes (type 0: a different number of bytes), a write
 * fails, or more contents are given than were announced; every later call then fails too. */
ORVANE_API orvane_bool OrvaneCompressContentsOfFile(orvane_file_compressor* Compressor,
                                                    orvane_int32 ByteCount, const char* FileName,
                                                    orvane_int32 BufferSize, void* Buffer);
/* Writes the codec's stream (headers and coded bytes) to the writer in one write, stores its
 * size (type 0: the bytes copied) in CompressedSize (may be null; -1 on failure) and releases
 * the compressor, which may be null. False when any step of this compressor failed. */
ORVANE_API orvane_bool OrvaneEndFileCompression(orvane_file_compressor* Compressor,
                                                orvane_int32* CompressedSize);

/* Bytes after an input buffer that the compressor may read (8; this library reads none). */
ORVANE_API orvane_int32 OrvaneGetPelma1CompressBufferPaddingSize(void);
/* Bytes after compressed data that a reader allocates for the decoder (4). */
ORVANE_API orvane_int32 OrvaneGetPelma1DecompressBufferPaddingSize(void);

/* ---- end of section compression ---- */

/* ---- File loading ---- */

/* A loaded content file. The library allocates it as one block: this record, then Sections,
 * SectionMarshalled, SectionInUserMemory and Pointers. Everything here is owned by the File
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
 * OrvaneFileInfoType; otherwise (with a warning once per File) it is converted, and the
 * converted tree belongs to the File. Null when there is no root or it cannot be converted. */
ORVANE_API struct orvane_file_info* OrvaneGetFileInfo(orvane_file* File);

/* ---- end of file loading ---- */

ORVANE_EXTERN_C_END

#endif /* ORVANE_FILE_H */

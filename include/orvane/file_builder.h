/* Orvane file builder (offline): content files written section by section, and the rewriting of
 * whole files with other codecs or in the other byte order. */
#ifndef ORVANE_PUBLIC_FILE_BUILDER_H
#define ORVANE_PUBLIC_FILE_BUILDER_H

#include "orvane/common.h"
#include "orvane/types.h"
#include "orvane/file_stream.h"
#include "orvane/file_format.h"
#include "orvane/file_compression.h"

ORVANE_EXTERN_C_BEGIN

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
 * cannot be created (nothing is left behind), when a temporary file's name would be longer than
 * 511 characters (an error), or when memory runs out.
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
 * long: the end checks every fixup, and fails, with an error, when a pointer slot does not lie
 * wholly in its part or a target lies past the end of its part). */
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
 *        that is then renamed over the destination. When the end is bound to fail before it
 *        writes (a write of the data failed earlier, or a section cannot be compressed) it
 *        fails without creating the file, and a file of that name stays as it was
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

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_FILE_BUILDER_H */

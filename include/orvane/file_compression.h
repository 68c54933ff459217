/* Orvane section compression (offline): the encoders of the two section codecs at three levels,
 * for the file builder and for an application's own data. */
#ifndef ORVANE_PUBLIC_FILE_COMPRESSION_H
#define ORVANE_PUBLIC_FILE_COMPRESSION_H

#include "orvane/common.h"
#include "orvane/types.h"
#include "orvane/file_stream.h"
#include "orvane/file_decompression.h"

ORVANE_EXTERN_C_BEGIN

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

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_FILE_COMPRESSION_H */

/* Orvane file subsystem. */
#ifndef ORVANE_FILE_H
#define ORVANE_FILE_H

#include "orvane/common.h"

ORVANE_EXTERN_C_BEGIN

/* ---- Section compression ---- */

/* Codecs of a section's Compression field. Any other value is refused with an error
 * (OrvaneCompressorOrigin) "Unrecognized compression type %d". */
typedef enum orvane_compression_type {
    OrvaneNoCompression = 0,
    OrvanePelma0Compression = 1,
    OrvanePelma1Compression = 2
} orvane_compression_type;

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
ORVANE_API orvane_bool OrvaneDecompressDataChunk(orvane_int32 CompressionType,
                                                 orvane_bool Reversed,
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
                                              const void* CompressedBytes,
                                              orvane_int32 OutputSize, void* Destination);
/* Bytes after an input buffer that the compressor may read (8; this library reads none). */
ORVANE_API orvane_int32 OrvaneGetPelma1CompressBufferPaddingSize(void);
/* Bytes after compressed data that a reader allocates for the decoder (4). */
ORVANE_API orvane_int32 OrvaneGetPelma1DecompressBufferPaddingSize(void);

/* ---- end of section compression ---- */

ORVANE_EXTERN_C_END

#endif /* ORVANE_FILE_H */

/* Orvane section decompression: the decoders of the two section codecs and of the plain copy. */
#ifndef ORVANE_PUBLIC_FILE_DECOMPRESSION_H
#define ORVANE_PUBLIC_FILE_DECOMPRESSION_H

#include "orvane/common.h"
#include "orvane/types.h"

ORVANE_EXTERN_C_BEGIN

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
ORVANE_API orvane_bool OrvaneDecompressDataChunk(orvane_int32 CompressionType, orvane_bool Reversed,
                                                 orvane_int32 CompressedSize,
                                                 const void* CompressedBytes,
                                                 orvane_int32 OutputSize, void* Destination);
/* Bytes a reader allocates after compressed data of the type: 4 for types 1 and 2, else 0. */
ORVANE_API orvane_int32 OrvaneGetCompressedBytesPaddingSize(orvane_int32 CompressionType);
/* Decodes a single content; false (logged) on an inconsistent stream. */
ORVANE_API orvane_bool OrvanePelma1Decompress(orvane_bool Reversed, orvane_int32 CompressedSize,
                                              const void* CompressedBytes, orvane_int32 OutputSize,
                                              void* Destination);
/* Bytes after compressed data that a reader allocates for the decoder (4). */
ORVANE_API orvane_int32 OrvaneGetPelma1DecompressBufferPaddingSize(void);

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_FILE_DECOMPRESSION_H */

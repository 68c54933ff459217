// Section decompression: the exported entry points of both decoders and of the plain copy.
#include "orvane/file.h"

#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "diag/orvane_timing.h"
#include "file/orvane_pelma.h"

namespace orvane {

bool RecognizedCompressionType(int32_t type) {
    if (type == OrvaneNoCompression || type == OrvanePelma0Compression ||
        type == OrvanePelma1Compression)
        return true;
    ORVANE_LOG_ERROR(OrvaneCompressorOrigin, "Unrecognized compression type %d", type);
    return false;
}

namespace {

// Sizes and pointers of a decode call; the stream's contents are checked by the decoder.
bool DecodeArgumentsValid(int32_t compressedSize, const void* compressedBytes, int32_t outputSize,
                          const void* destination) {
    if (compressedSize < 0 || outputSize < 0) {
        ORVANE_LOG_ERROR(OrvaneCompressorOrigin,
                         "Compressed size %d and expanded size %d must not be negative",
                         compressedSize, outputSize);
        return false;
    }
    if (compressedSize > 0) ORVANE_CHECK_NOT_NULL(OrvaneCompressorOrigin, compressedBytes, false);
    if (outputSize > 0) ORVANE_CHECK_NOT_NULL(OrvaneCompressorOrigin, destination, false);
    return true;
}

bool CopyUncompressed(int32_t compressedSize, const void* compressedBytes, int32_t outputSize,
                      void* destination) {
    if (compressedSize < outputSize) {
        ORVANE_LOG_ERROR(OrvaneCompressorOrigin,
                         "Uncompressed data of %d bytes cannot fill %d bytes", compressedSize,
                         outputSize);
        return false;
    }
    Copy(size_t(outputSize), compressedBytes, destination);
    return true;
}

bool Pelma0WithStops(bool reversed, int32_t size, const void* bytes, const int64_t* stops,
                     void* destination) {
    ORVANE_TIMING_BLOCK("Pelma0Decompress w/ stops");
    return PelmaDecode(PelmaCodec::Pelma0, reversed, static_cast<const uint8_t*>(bytes), size, 3,
                       stops, static_cast<uint8_t*>(destination));
}

bool Pelma1WithStops(bool reversed, int32_t size, const void* bytes, const int64_t* stops,
                     void* destination) {
    ORVANE_TIMING_BLOCK("Pelma1Decompress w/ stops");
    return PelmaDecode(PelmaCodec::Pelma1, reversed, static_cast<const uint8_t*>(bytes), size, 3,
                       stops, static_cast<uint8_t*>(destination));
}

bool Pelma0Single(bool reversed, int32_t size, const void* bytes, int32_t outputSize,
                  void* destination) {
    ORVANE_TIMING_BLOCK("Pelma0Decompress");
    int64_t stop = outputSize;
    return PelmaDecode(PelmaCodec::Pelma0, reversed, static_cast<const uint8_t*>(bytes), size, 1,
                       &stop, static_cast<uint8_t*>(destination));
}

bool Pelma1Single(bool reversed, int32_t size, const void* bytes, int32_t outputSize,
                  void* destination) {
    ORVANE_TIMING_BLOCK("Pelma1Decompress");
    int64_t stop = outputSize;
    return PelmaDecode(PelmaCodec::Pelma1, reversed, static_cast<const uint8_t*>(bytes), size, 1,
                       &stop, static_cast<uint8_t*>(destination));
}

}  // namespace
}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API orvane_bool OrvaneDecompressData(orvane_int32 CompressionType, orvane_bool Reversed,
                                            orvane_int32 CompressedSize,
                                            const void* CompressedBytes, orvane_int32 Stop1,
                                            orvane_int32 Stop2, orvane_int32 ExpandedSize,
                                            void* Destination) {
    ORVANE_TIMING_BLOCK("DecompressData");
    if (!RecognizedCompressionType(CompressionType)) return false;
    if (!DecodeArgumentsValid(CompressedSize, CompressedBytes, ExpandedSize, Destination))
        return false;
    if (CompressionType == OrvaneNoCompression)
        return CopyUncompressed(CompressedSize, CompressedBytes, ExpandedSize, Destination);
    if (Stop1 < 0 || Stop1 > Stop2 || Stop2 > ExpandedSize) {
        ORVANE_LOG_ERROR(OrvaneCompressorOrigin,
                         "Stops %d and %d do not divide the expanded size %d into three parts",
                         Stop1, Stop2, ExpandedSize);
        return false;
    }
    const int64_t stops[3] = {Stop1, Stop2, ExpandedSize};
    if (CompressionType == OrvanePelma0Compression)
        return Pelma0WithStops(Reversed, CompressedSize, CompressedBytes, stops, Destination);
    return Pelma1WithStops(Reversed, CompressedSize, CompressedBytes, stops, Destination);
}

ORVANE_API orvane_bool OrvaneDecompressDataChunk(orvane_int32 CompressionType, orvane_bool Reversed,
                                                 orvane_int32 CompressedSize,
                                                 const void* CompressedBytes,
                                                 orvane_int32 OutputSize, void* Destination) {
    ORVANE_TIMING_BLOCK("DecompressDataChunk");
    if (!RecognizedCompressionType(CompressionType)) return false;
    if (!DecodeArgumentsValid(CompressedSize, CompressedBytes, OutputSize, Destination))
        return false;
    if (CompressionType == OrvaneNoCompression)
        return CopyUncompressed(CompressedSize, CompressedBytes, OutputSize, Destination);
    if (CompressionType == OrvanePelma0Compression)
        return Pelma0Single(Reversed, CompressedSize, CompressedBytes, OutputSize, Destination);
    return Pelma1Single(Reversed, CompressedSize, CompressedBytes, OutputSize, Destination);
}

ORVANE_API orvane_int32 OrvaneGetCompressedBytesPaddingSize(orvane_int32 CompressionType) {
    return CompressionType == OrvanePelma0Compression || CompressionType == OrvanePelma1Compression
               ? kPelmaReadPadding
               : 0;
}

ORVANE_API orvane_bool OrvanePelma1Decompress(orvane_bool Reversed, orvane_int32 CompressedSize,
                                              const void* CompressedBytes, orvane_int32 OutputSize,
                                              void* Destination) {
    if (!DecodeArgumentsValid(CompressedSize, CompressedBytes, OutputSize, Destination))
        return false;
    return Pelma1Single(Reversed, CompressedSize, CompressedBytes, OutputSize, Destination);
}

ORVANE_API orvane_int32 OrvaneGetPelma1DecompressBufferPaddingSize(void) {
    return kPelmaReadPadding;
}

}  // extern "C"

// Section compression: the exported entry points of both codecs and of the plain copy.
#include "orvane/file.h"

#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "diag/orvane_timing.h"
#include "file/orvane_pelma.h"

namespace orvane {
namespace {

constexpr int32_t kPelma1CompressPadding = 8;

bool RecognizedType(int32_t type) {
    if (type == OrvaneNoCompression || type == OrvanePelma0Compression ||
        type == OrvanePelma1Compression)
        return true;
    ORVANE_LOG_ERROR(OrvaneCompressorOrigin, "Unrecognized compression type %d", type);
    return false;
}

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

// The state behind the application's Pelma1 calls is the codec's encoder itself.
struct orvane_pelma1_state {
    PelmaEncoder* encoder;
};

extern "C" {

ORVANE_API orvane_bool OrvaneDecompressData(orvane_int32 CompressionType, orvane_bool Reversed,
                                            orvane_int32 CompressedSize,
                                            const void* CompressedBytes, orvane_int32 Stop1,
                                            orvane_int32 Stop2, orvane_int32 ExpandedSize,
                                            void* Destination) {
    ORVANE_TIMING_BLOCK("DecompressData");
    if (!RecognizedType(CompressionType)) return false;
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

ORVANE_API orvane_bool OrvaneDecompressDataChunk(orvane_int32 CompressionType,
                                                 orvane_bool Reversed,
                                                 orvane_int32 CompressedSize,
                                                 const void* CompressedBytes,
                                                 orvane_int32 OutputSize, void* Destination) {
    ORVANE_TIMING_BLOCK("DecompressDataChunk");
    if (!RecognizedType(CompressionType)) return false;
    if (!DecodeArgumentsValid(CompressedSize, CompressedBytes, OutputSize, Destination))
        return false;
    if (CompressionType == OrvaneNoCompression)
        return CopyUncompressed(CompressedSize, CompressedBytes, OutputSize, Destination);
    if (CompressionType == OrvanePelma0Compression)
        return Pelma0Single(Reversed, CompressedSize, CompressedBytes, OutputSize, Destination);
    return Pelma1Single(Reversed, CompressedSize, CompressedBytes, OutputSize, Destination);
}

ORVANE_API orvane_int32 OrvaneGetCompressedBytesPaddingSize(orvane_int32 CompressionType) {
    return CompressionType == OrvanePelma0Compression ||
                   CompressionType == OrvanePelma1Compression
               ? kPelmaReadPadding
               : 0;
}

ORVANE_API orvane_pelma1_state* OrvanePelma1BeginSimple(orvane_int32 ExpandedSize,
                                                        orvane_int32 ContentsCount) {
    if (ExpandedSize < 0 || ContentsCount < 0) {
        ORVANE_LOG_ERROR(OrvaneCompressorOrigin,
                         "Expanded size %d and contents count %d must not be negative",
                         ExpandedSize, ContentsCount);
        return nullptr;
    }
    orvane_pelma1_state* state = static_cast<orvane_pelma1_state*>(
        ORVANE_ALLOCATE(alignof(orvane_pelma1_state), sizeof(orvane_pelma1_state)));
    if (state == nullptr) return nullptr;
    state->encoder = NewPelmaEncoder(PelmaCodec::Pelma1, ExpandedSize, ContentsCount);
    if (state->encoder == nullptr) {
        ORVANE_DEALLOCATE(state);
        return nullptr;
    }
    return state;
}

ORVANE_API orvane_bool OrvanePelma1Compress(orvane_pelma1_state* State, orvane_int32 ByteCount,
                                            const void* Bytes) {
    ORVANE_CHECK_NOT_NULL(OrvaneCompressorOrigin, State, false);
    ORVANE_TIMING_BLOCK("Pelma1Compress");
    return PelmaEncodeContent(State->encoder, static_cast<const uint8_t*>(Bytes), ByteCount);
}

ORVANE_API orvane_int32 OrvanePelma1End(orvane_pelma1_state* State, void** CompressedBuffer) {
    if (CompressedBuffer) *CompressedBuffer = nullptr;
    ORVANE_CHECK_NOT_NULL(OrvaneCompressorOrigin, State, -1);
    const uint8_t* stream = nullptr;
    int64_t size = PelmaFinish(State->encoder, &stream);
    if (size < 0 || size > INT32_MAX) return -1;
    if (CompressedBuffer) *CompressedBuffer = const_cast<uint8_t*>(stream);
    return orvane_int32(size);
}

ORVANE_API void OrvanePelma1FreeSimple(orvane_pelma1_state* State) {
    if (State == nullptr) return;
    FreePelmaEncoder(State->encoder);
    ORVANE_DEALLOCATE(State);
}

ORVANE_API orvane_bool OrvanePelma1Decompress(orvane_bool Reversed, orvane_int32 CompressedSize,
                                              const void* CompressedBytes,
                                              orvane_int32 OutputSize, void* Destination) {
    if (!DecodeArgumentsValid(CompressedSize, CompressedBytes, OutputSize, Destination))
        return false;
    return Pelma1Single(Reversed, CompressedSize, CompressedBytes, OutputSize, Destination);
}

ORVANE_API orvane_int32 OrvaneGetPelma1CompressBufferPaddingSize(void) {
    return kPelma1CompressPadding;
}

ORVANE_API orvane_int32 OrvaneGetPelma1DecompressBufferPaddingSize(void) {
    return kPelmaReadPadding;
}

}  // extern "C"

// Section compression: the exported entry points of both encoders and of the plain copy
// (orvane_decompress.cpp decodes).
#include "orvane/file.h"
#include "orvane/file_compression.h"
#include "orvane/file_builder.h"

#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "diag/orvane_timing.h"
#include "file/orvane_file_stream.h"
#include "file/offline/orvane_pelma_encode.h"

namespace orvane {
namespace {

constexpr int32_t kPelma1CompressPadding = 8;

bool RecognizedLevel(int32_t level) {
    if (level == OrvaneFastCompressionLevel || level == OrvaneDefaultCompressionLevel ||
        level == OrvaneBestCompressionLevel)
        return true;
    ORVANE_LOG_ERROR(OrvaneCompressorOrigin, "Unrecognized compression level %d", level);
    return false;
}

// The sizes and the level that every way of beginning a compression is given.
bool BeginArgumentsValid(int32_t expandedSize, int32_t contentsCount, int32_t level) {
    if (expandedSize < 0 || contentsCount < 0) {
        ORVANE_LOG_ERROR(OrvaneCompressorOrigin,
                         "Expanded size %d and contents count %d must not be negative",
                         expandedSize, contentsCount);
        return false;
    }
    return RecognizedLevel(level);
}

PelmaCodec CodecOf(int32_t type) {
    return type == OrvanePelma0Compression ? PelmaCodec::Pelma0 : PelmaCodec::Pelma1;
}

bool EncodeTimed(PelmaEncoder* encoder, int32_t type, const uint8_t* bytes, int64_t count) {
    if (type == OrvanePelma0Compression) {
        ORVANE_TIMING_BLOCK("Pelma0Compress");
        return PelmaEncodeContent(encoder, bytes, count);
    }
    ORVANE_TIMING_BLOCK("Pelma1Compress");
    return PelmaEncodeContent(encoder, bytes, count);
}

// Reads count bytes at position 0; readers may answer with fewer bytes per call.
bool ReadWhole(orvane_file_reader* reader, int32_t count, uint8_t* buffer) {
    int32_t done = 0;
    while (done < count) {
        int32_t read = reader->ReadAtMostCallback(ORVANE_SOURCE_FILE, __LINE__, reader, done,
                                                  count - done, buffer + done);
        if (read <= 0 || read > count - done) return false;
        done += read;
    }
    return true;
}

}  // namespace
}  // namespace orvane

using namespace orvane;

struct orvane_file_compressor {
    int32_t Type;
    orvane_file_writer* Writer;
    int32_t ContentsCount;
    int32_t ContentsGiven;
    int64_t BytesCopied;    // type 0
    PelmaEncoder* Encoder;  // types 1 and 2
    bool Failed;
};

// The state behind the application's Pelma1 calls is the codec's encoder itself.
struct orvane_pelma1_state {
    PelmaEncoder* encoder;
};

extern "C" {

ORVANE_API orvane_pelma1_state* OrvanePelma1BeginSimpleAtLevel(orvane_int32 ExpandedSize,
                                                               orvane_int32 ContentsCount,
                                                               orvane_int32 CompressionLevel) {
    if (!BeginArgumentsValid(ExpandedSize, ContentsCount, CompressionLevel)) return nullptr;
    orvane_pelma1_state* state = static_cast<orvane_pelma1_state*>(
        ORVANE_ALLOCATE(alignof(orvane_pelma1_state), sizeof(orvane_pelma1_state)));
    if (state == nullptr) return nullptr;
    state->encoder = NewPelmaEncoder(PelmaCodec::Pelma1, ExpandedSize, ContentsCount,
                                     PelmaLevel(CompressionLevel));
    if (state->encoder == nullptr) {
        ORVANE_DEALLOCATE(state);
        return nullptr;
    }
    return state;
}

ORVANE_API orvane_pelma1_state* OrvanePelma1BeginSimple(orvane_int32 ExpandedSize,
                                                        orvane_int32 ContentsCount) {
    return OrvanePelma1BeginSimpleAtLevel(ExpandedSize, ContentsCount,
                                          OrvaneDefaultCompressionLevel);
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

ORVANE_API orvane_file_compressor* OrvaneBeginFileCompressionAtLevel(orvane_int32 ExpandedSize,
                                                                     orvane_int32 ContentsCount,
                                                                     orvane_int32 CompressionType,
                                                                     orvane_int32 CompressionLevel,
                                                                     orvane_file_writer* Writer) {
    if (!RecognizedCompressionType(CompressionType)) return nullptr;
    ORVANE_CHECK_NOT_NULL(OrvaneCompressorOrigin, Writer, nullptr);
    if (!BeginArgumentsValid(ExpandedSize, ContentsCount, CompressionLevel)) return nullptr;
    auto* compressor = static_cast<orvane_file_compressor*>(
        ORVANE_ALLOCATE(alignof(orvane_file_compressor), sizeof(orvane_file_compressor)));
    if (compressor == nullptr) return nullptr;
    *compressor = {CompressionType, Writer, ContentsCount, 0, 0, nullptr, false};
    if (CompressionType != OrvaneNoCompression) {
        compressor->Encoder = NewPelmaEncoder(CodecOf(CompressionType), ExpandedSize, ContentsCount,
                                              PelmaLevel(CompressionLevel));
        if (compressor->Encoder == nullptr) {
            ORVANE_DEALLOCATE(compressor);
            return nullptr;
        }
    }
    return compressor;
}

ORVANE_API orvane_file_compressor* OrvaneBeginFileCompression(orvane_int32 ExpandedSize,
                                                              orvane_int32 ContentsCount,
                                                              orvane_int32 CompressionType,
                                                              orvane_file_writer* Writer) {
    return OrvaneBeginFileCompressionAtLevel(ExpandedSize, ContentsCount, CompressionType,
                                             OrvaneDefaultCompressionLevel, Writer);
}

ORVANE_API orvane_bool OrvaneCompressContentsOfFile(orvane_file_compressor* Compressor,
                                                    orvane_int32 ByteCount, const char* FileName,
                                                    orvane_int32 BufferSize, void* Buffer) {
    ORVANE_CHECK_NOT_NULL(OrvaneCompressorOrigin, Compressor, false);
    if (Compressor->Failed) return false;
    Compressor->Failed = true;  // until this content is done
    ORVANE_CHECK_NOT_NULL(OrvaneCompressorOrigin, FileName, false);
    if (ByteCount < 0) {
        ORVANE_LOG_ERROR(OrvaneCompressorOrigin, "ByteCount %d must not be negative", ByteCount);
        return false;
    }
    if (Compressor->ContentsGiven >= Compressor->ContentsCount) {
        ORVANE_LOG_ERROR(OrvaneCompressorOrigin,
                         "All %d contents of the compressed stream were already given",
                         Compressor->ContentsCount);
        return false;
    }
    ++Compressor->ContentsGiven;
    if (Compressor->Type == OrvaneNoCompression) {
        int32_t copied = 0;
        if (!CopyFileToWriter(Compressor->Writer, FileName, BufferSize, Buffer, &copied)) {
            ORVANE_LOG_ERROR(OrvaneCompressorOrigin, "Unable to copy %s to the writer", FileName);
            return false;
        }
        Compressor->BytesCopied += copied;
        if (copied != ByteCount) {
            // The section entry will announce ByteCount bytes; anything else corrupts the file.
            ORVANE_LOG_ERROR(OrvaneCompressorOrigin, "%s holds %d bytes instead of %d", FileName,
                             copied, ByteCount);
            return false;
        }
        Compressor->Failed = false;
        return true;
    }
    // The file is opened even for an empty content: a missing part file fails as it does for
    // type 0.
    orvane_file_reader* reader =
        OrvaneGetDefaultFileReaderOpenCallback()(ORVANE_SOURCE_FILE, __LINE__, FileName);
    if (reader == nullptr) {
        ORVANE_LOG_ERROR(OrvaneCompressorOrigin, "Unable to open %s", FileName);
        return false;
    }
    uint8_t* bytes = nullptr;
    bool ok = true;
    if (ByteCount > 0) {
        bytes = ORVANE_ALLOCATE_ARRAY(uint8_t, int64_t{ByteCount} + kPelma1CompressPadding);
        ok = bytes != nullptr;
        if (ok && !ReadWhole(reader, ByteCount, bytes)) {
            ORVANE_LOG_ERROR(OrvaneCompressorOrigin, "Unable to read %d bytes from %s", ByteCount,
                             FileName);
            ok = false;
        }
    }
    reader->CloseFileReaderCallback(ORVANE_SOURCE_FILE, __LINE__, reader);
    ok = ok && EncodeTimed(Compressor->Encoder, Compressor->Type, bytes, ByteCount);
    ORVANE_DEALLOCATE(bytes);
    Compressor->Failed = !ok;
    return ok;
}

ORVANE_API orvane_bool OrvaneEndFileCompression(orvane_file_compressor* Compressor,
                                                orvane_int32* CompressedSize) {
    if (CompressedSize) *CompressedSize = -1;
    if (Compressor == nullptr) return false;
    bool ok = !Compressor->Failed;
    int64_t size = Compressor->BytesCopied;
    if (ok && Compressor->Encoder != nullptr) {
        const uint8_t* stream = nullptr;
        size = PelmaFinish(Compressor->Encoder, &stream);
        ok = size >= 0 && size <= INT32_MAX &&
             OrvaneWrite(Compressor->Writer, int32_t(size), stream);
    }
    if (size > INT32_MAX) ok = false;
    if (ok && CompressedSize) *CompressedSize = int32_t(size);
    FreePelmaEncoder(Compressor->Encoder);
    ORVANE_DEALLOCATE(Compressor);
    return ok;
}

ORVANE_API orvane_int32 OrvaneGetPelma1CompressBufferPaddingSize(void) {
    return kPelma1CompressPadding;
}

}  // extern "C"

// Decoding of Pelma0 and Pelma1 streams: the token grammar over the shared models.
//
// The stream is hostile: every value that indexes memory is checked, bytes past the end of the
// stream read as zeros, and a stream that needs more than the reader's padding, reaches before
// the output, or runs past a content's end is refused.
#include <cstring>

#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "file/orvane_pelma.h"
#include "file/orvane_pelma_model.h"

namespace orvane {

using namespace pelma;

namespace {

enum class DecodeError { None, Memory, Model, Offset, Length, Exhausted };

inline void CopyMatch(uint8_t* out, uint64_t offset, uint32_t length) {
    const uint8_t* from = out - offset;
    if (offset >= length) {
        std::memcpy(out, from, length);
    } else {
        for (uint32_t i = 0; i < length; ++i)
            out[i] = from[i];
    }
}

// Copies a decoded match when it lies wholly inside what was decoded and what the part holds:
// an offset before the start of the output or a length past the stop is an inconsistent stream.
inline DecodeError CopyCheckedMatch(uint8_t* destination, int64_t* pos, int64_t stop,
                                    uint64_t offset, uint32_t length) {
    if (offset > uint64_t(*pos)) return DecodeError::Offset;
    if (length > stop - *pos) return DecodeError::Length;
    CopyMatch(destination + *pos, offset, length);
    *pos += length;
    return DecodeError::None;
}

DecodeError DecodeContent0(Pelma0Decoder& shared, const ContentHeader& h, uint8_t* destination,
                           int64_t start, int64_t stop, int64_t* failedAt) {
    Models0 models;
    uint8_t* block = AllocateModels(&models, h, stop - start, false);
    if (block == nullptr) return DecodeError::Memory;
    // A local copy of the coder stays in registers through the loop.
    auto decoder = shared;
    DecodeError error = DecodeError::None;
    uint32_t previous = 0;
    int64_t pos = start;
    const uint64_t lowRange = Min32(h.window, 4);
    while (pos < stop) {
        uint32_t code;
        if (!DecodeSymbol0(models.length[previous], decoder, kLengthSymbols, &code) || code > 64) {
            error = DecodeError::Model;
            break;
        }
        previous = code;
        if (code == 0) {
            uint32_t literal;
            if (!DecodeSymbol0(models.literal, decoder, h.literalRange, &literal) ||
                literal > 255) {
                error = DecodeError::Model;
                break;
            }
            destination[pos++] = uint8_t(literal);
        } else {
            uint32_t length = LengthOfCode(code);
            uint64_t reach = Min64(uint64_t(pos - start), h.window);
            uint32_t q, r;
            if (!DecodeSymbol0(models.low, decoder, lowRange, &q) ||
                !DecodeSymbol0(models.high, decoder, reach / 4 + 1, &r)) {
                error = DecodeError::Model;
                break;
            }
            uint64_t offset = 4 * uint64_t(r) + q + 1;
            error = CopyCheckedMatch(destination, &pos, stop, offset, length);
            if (error != DecodeError::None) break;
        }
        if (decoder.Exhausted()) {
            error = DecodeError::Exhausted;
            break;
        }
    }
    shared = decoder;
    ORVANE_DEALLOCATE(block);
    *failedAt = pos;
    return error;
}

DecodeError DecodeContent1(Pelma1Decoder& shared, const ContentHeader& h, uint8_t* destination,
                           int64_t start, int64_t stop, int64_t* failedAt) {
    Models1 models;
    uint8_t* block = AllocateModels(&models, h, stop - start, false);
    if (block == nullptr) return DecodeError::Memory;
    // A local copy of the coder stays in registers through the loop.
    auto decoder = shared;
    DecodeError error = DecodeError::None;
    uint32_t previous = 0;
    int64_t pos = start;
    const uint64_t lowRange = Min32(h.window + 1, 4);
    while (pos < stop) {
        uint32_t code;
        if (!DecodeSymbol1(models.length[previous], decoder, kLengthSymbols, &code) || code > 64) {
            error = DecodeError::Model;
            break;
        }
        previous = code;
        if (code == 0) {
            uint32_t literal;
            // The section block is aligned to at least 4, so the address's low bits are the
            // position's.
            if (!DecodeSymbol1(models.literal[pos & 3], decoder, h.literalRange, &literal) ||
                literal > 255) {
                error = DecodeError::Model;
                break;
            }
            destination[pos++] = uint8_t(literal);
        } else {
            uint32_t length = LengthOfCode(code);
            uint64_t reach = Min64(uint64_t(pos - start), h.window);
            uint32_t p, middle, high;
            if (!DecodeSymbol1(models.low, decoder, lowRange, &p) ||
                !DecodeSymbol1(models.middle, decoder, reach / 1024 + 1, &middle) ||
                middle >= models.highCount ||
                !DecodeSymbol1(models.high[middle], decoder, reach < 1024 ? reach / 4 + 1 : 256,
                               &high)) {
                error = DecodeError::Model;
                break;
            }
            uint64_t offset = 1024 * uint64_t(middle) + 4 * uint64_t(high) + p + 1;
            error = CopyCheckedMatch(destination, &pos, stop, offset, length);
            if (error != DecodeError::None) break;
        }
        if (decoder.Exhausted()) {
            error = DecodeError::Exhausted;
            break;
        }
    }
    shared = decoder;
    ORVANE_DEALLOCATE(block);
    *failedAt = pos;
    return error;
}

void LogDecodeError(DecodeError error, int32_t content, int64_t position) {
    int32_t at = int32_t(position);
    switch (error) {
        case DecodeError::None:
            break;
        case DecodeError::Memory:
            ORVANE_LOG_ERROR(OrvaneCompressorOrigin, "Unable to allocate the models of content %d",
                             content);
            break;
        case DecodeError::Model:
            ORVANE_LOG_ERROR(OrvaneCompressorOrigin,
                             "Compressed data is corrupt: impossible model state in content %d "
                             "at output byte %d",
                             content, at);
            break;
        case DecodeError::Offset:
            ORVANE_LOG_ERROR(OrvaneCompressorOrigin,
                             "Compressed data is corrupt: a match in content %d reaches before "
                             "the start of the output at output byte %d",
                             content, at);
            break;
        case DecodeError::Length:
            ORVANE_LOG_ERROR(OrvaneCompressorOrigin,
                             "Compressed data is corrupt: a match in content %d runs past its "
                             "end at output byte %d",
                             content, at);
            break;
        case DecodeError::Exhausted:
            ORVANE_LOG_ERROR(OrvaneCompressorOrigin,
                             "Compressed data ends before content %d is complete (output byte "
                             "%d)",
                             content, at);
            break;
    }
}

}  // namespace

bool PelmaDecode(PelmaCodec codec, bool reversed, const uint8_t* bytes, int64_t size,
                 int32_t contentCount, const int64_t* stops, uint8_t* destination) {
    int64_t headerBytes = int64_t{kPelmaContentHeaderBytes} * contentCount;
    if (size < headerBytes) {
        ORVANE_LOG_ERROR(OrvaneCompressorOrigin,
                         "Compressed data of %d bytes cannot hold %d content headers",
                         int32_t(size), contentCount);
        return false;
    }
    Pelma0Decoder decoder0;
    Pelma1Decoder decoder1;
    bool started = false;
    int64_t start = 0;
    for (int32_t i = 0; i < contentCount; ++i) {
        int64_t stop = stops[i];
        if (stop < start) {
            ORVANE_LOG_ERROR(OrvaneCompressorOrigin, "Content %d ends before it starts", i);
            return false;
        }
        if (stop == start) continue;
        // The coder starts at the first content that has tokens; its state runs on after that.
        if (!started) {
            if (codec == PelmaCodec::Pelma0) {
                decoder0.Start(bytes, size, headerBytes, reversed);
            } else {
                decoder1.Start(bytes, size, headerBytes);
            }
            started = true;
        }
        ContentHeader h = UnpackHeader(codec, bytes + kPelmaContentHeaderBytes * i, reversed);
        int64_t failedAt = start;
        DecodeError error = codec == PelmaCodec::Pelma0
                                ? DecodeContent0(decoder0, h, destination, start, stop, &failedAt)
                                : DecodeContent1(decoder1, h, destination, start, stop, &failedAt);
        if (error != DecodeError::None) {
            LogDecodeError(error, i, failedAt);
            return false;
        }
        start = stop;
    }
    return true;
}

}  // namespace orvane

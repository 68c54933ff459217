// The two section codecs, Pelma0 and Pelma1: LZ77 tokens with adaptive models, coded by an
// interval coder on 32-bit words (Pelma0) or a byte-wise range coder (Pelma1).
//
// A stream holds n content headers of three 32-bit words, then the coded tokens of all n
// contents with one coder state running through them. Every content has its own models, built
// from its header, so that a decoder can stop exactly at each content's end. The encoders are
// offline code (offline/orvane_pelma_encode.h); both sides share the models of
// orvane_pelma_model.h and the coders of orvane_pelma_coder.h.
#ifndef ORVANE_PELMA_H
#define ORVANE_PELMA_H

#include "core/orvane_private.h"

#include <cstddef>
#include <cstdint>

namespace orvane {

enum class PelmaCodec : int32_t { Pelma0 = 0, Pelma1 = 1 };

constexpr int32_t kPelmaContentHeaderBytes = 12;
// Bytes after the compressed data that a reader allocates. The decoders here never touch them
// (bytes past the end read as zeros) but a stream may be consumed that far.
constexpr int32_t kPelmaReadPadding = 4;

// Logs an error (CompressorOrigin) and returns false unless type is one of the three section
// codecs (OrvaneNoCompression, OrvanePelma0Compression, OrvanePelma1Compression).
bool RecognizedCompressionType(int32_t type);

// Decodes contentCount contents: content i fills destination[stops[i - 1], stops[i]) (from 0
// for the first). The stops must be non-decreasing. Never reads bytes[size] or beyond and
// never writes past destination[stops[contentCount - 1]]; an inconsistent stream logs an error
// (CompressorOrigin) and returns false, leaving the destination partly written.
bool PelmaDecode(PelmaCodec codec, bool reversed, const uint8_t* bytes, int64_t size,
                 int32_t contentCount, const int64_t* stops, uint8_t* destination);

// Bucket width of the Pelma0 model for n slots (0 below 6 slots); exposed for tests.
uint32_t Pelma0BucketWidth(uint32_t n);

}  // namespace orvane

#endif  // ORVANE_PELMA_H

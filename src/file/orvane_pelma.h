// The two section codecs, Pelma0 and Pelma1: LZ77 tokens with adaptive models, coded by an
// interval coder on 32-bit words (Pelma0) or a byte-wise range coder (Pelma1).
//
// A stream holds n content headers of three 32-bit words, then the coded tokens of all n
// contents with one coder state running through them. Every content has its own models, built
// from its header, so that a decoder can stop exactly at each content's end.
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

// The size of the output buffer a compressor starts with: 9/8 of the data, the headers and a
// little slack. The encoders here grow their buffer when a stream needs more.
int64_t PelmaInitialOutputSize(int64_t expandedSize, int32_t contentCount);

// Decodes contentCount contents: content i fills destination[stops[i - 1], stops[i]) (from 0
// for the first). The stops must be non-decreasing. Never reads bytes[size] or beyond and
// never writes past destination[stops[contentCount - 1]]; an inconsistent stream logs an error
// (CompressorOrigin) and returns false, leaving the destination partly written.
bool PelmaDecode(PelmaCodec codec, bool reversed, const uint8_t* bytes, int64_t size,
                 int32_t contentCount, const int64_t* stops, uint8_t* destination);

// How hard the encoder works; every level writes the same stream format (see
// orvane_compression_level in orvane/file.h for what each one does).
enum class PelmaLevel : int32_t { Fast = 0, Default = 1, Best = 2 };

// Compression of contents one after the other into one stream. Null for negative sizes, an
// unknown level, or when memory runs out.
struct PelmaEncoder;
PelmaEncoder* NewPelmaEncoder(PelmaCodec codec, int64_t expandedSize, int32_t contentCount,
                              PelmaLevel level = PelmaLevel::Default);
// Codes the next content; false (logged) when all contents were already given or memory runs
// out, after which the encoder only fails.
bool PelmaEncodeContent(PelmaEncoder* encoder, const uint8_t* bytes, int64_t count);
// Finishes the coder (once; later calls return the same stream) and returns the stream's size,
// or -1 after a failure. The stream belongs to the encoder. Contents never given stay empty.
int64_t PelmaFinish(PelmaEncoder* encoder, const uint8_t** stream);
void FreePelmaEncoder(PelmaEncoder* encoder);

// Bucket width of the Pelma0 model for n slots (0 below 6 slots); exposed for tests.
uint32_t Pelma0BucketWidth(uint32_t n);

}  // namespace orvane

#endif  // ORVANE_PELMA_H

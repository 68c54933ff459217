// The encoders of the two section codecs (see orvane_pelma.h for the stream they write).
#ifndef ORVANE_PELMA_ENCODE_H
#define ORVANE_PELMA_ENCODE_H

#include "file/orvane_pelma.h"

namespace orvane {

// The size of the output buffer a compressor starts with: 9/8 of the data, the headers and a
// little slack. The encoders here grow their buffer when a stream needs more.
int64_t PelmaInitialOutputSize(int64_t expandedSize, int32_t contentCount);

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

}  // namespace orvane

#endif  // ORVANE_PELMA_ENCODE_H

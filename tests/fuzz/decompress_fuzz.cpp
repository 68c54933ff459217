// libFuzzer target: the section decoders on hostile streams, with and without stops, in both
// byte orders; and, for some inputs, a round trip of the input through the encoders.
//
// Input: byte 0 the mode (bit 0: Pelma1, bit 1: three contents with stops, bit 2: reversed,
// bit 3: round trip instead of decoding, bits 4-5: the compression level of a round trip, 1 fast,
// 2 best, else the default); then three little-endian 16-bit numbers: the expanded
// size, stop 1 and stop 2 (stops are clamped into order); the rest is the compressed stream, or
// the data of a round trip.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "file/offline/orvane_pelma_encode.h"
#include "orvane/file.h"

namespace {

constexpr size_t kPrefix = 7;

int64_t Clamp(int64_t v, int64_t low, int64_t high) {
    return v < low ? low : v > high ? high : v;
}

void RoundTrip(orvane::PelmaCodec codec, orvane::PelmaLevel level, const uint8_t* data,
               int64_t size, int64_t stop1, int64_t stop2) {
    const int64_t stops[3] = {stop1, stop2, size};
    orvane::PelmaEncoder* encoder = orvane::NewPelmaEncoder(codec, size, 3, level);
    if (encoder == nullptr) std::abort();
    int64_t start = 0;
    for (int64_t stop : stops) {
        if (!orvane::PelmaEncodeContent(encoder, data + start, stop - start)) std::abort();
        start = stop;
    }
    const uint8_t* stream = nullptr;
    int64_t streamSize = orvane::PelmaFinish(encoder, &stream);
    if (streamSize < 0) std::abort();
    // Exact-size copies, so that the sanitizer sees any access past them.
    std::vector<uint8_t> compressed(stream, stream + streamSize);
    orvane::FreePelmaEncoder(encoder);
    std::vector<uint8_t> out(static_cast<size_t>(size));
    int32_t type =
        codec == orvane::PelmaCodec::Pelma0 ? OrvanePelma0Compression : OrvanePelma1Compression;
    if (!OrvaneDecompressData(type, false, int32_t(compressed.size()), compressed.data(),
                              int32_t(stop1), int32_t(stop2), int32_t(size), out.data()))
        std::abort();
    if (size != 0 && std::memcmp(out.data(), data, size_t(size)) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kPrefix) return 0;
    uint8_t mode = data[0];
    bool pelma1 = mode & 1, stops = mode & 2, reversed = mode & 4, roundTrip = mode & 8;
    orvane::PelmaCodec codec = pelma1 ? orvane::PelmaCodec::Pelma1 : orvane::PelmaCodec::Pelma0;
    int32_t type = pelma1 ? OrvanePelma1Compression : OrvanePelma0Compression;
    const uint8_t* rest = data + kPrefix;
    int64_t restSize = int64_t(size - kPrefix);
    int64_t expanded = data[1] | data[2] << 8;
    int64_t stop1 = data[3] | data[4] << 8, stop2 = data[5] | data[6] << 8;
    if (roundTrip) expanded = restSize;
    stop1 = Clamp(stop1, 0, expanded);
    stop2 = Clamp(stop2, stop1, expanded);
    if (roundTrip) {
        int levelBits = (mode >> 4) & 3;
        orvane::PelmaLevel level = levelBits == 1   ? orvane::PelmaLevel::Fast
                                   : levelBits == 2 ? orvane::PelmaLevel::Best
                                                    : orvane::PelmaLevel::Default;
        RoundTrip(codec, level, rest, restSize, stop1, stop2);
        return 0;
    }
    std::vector<uint8_t> compressed(rest, rest + restSize);
    std::vector<uint8_t> out(static_cast<size_t>(expanded));
    const uint8_t* bytes = compressed.empty() ? nullptr : compressed.data();
    if (stops) {
        OrvaneDecompressData(type, reversed, int32_t(restSize), bytes, int32_t(stop1),
                             int32_t(stop2), int32_t(expanded), out.data());
    } else {
        OrvaneDecompressDataChunk(type, reversed, int32_t(restSize), bytes, int32_t(expanded),
                                  out.data());
    }
    return 0;
}

// Section compression: round trips of both codecs, stops, byte order, the exported entry
// points, hostile streams, and a decoder written separately from the library's as a check
// that the streams follow the documented format rather than merely the library's own reading.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "file/offline/orvane_pelma_encode.h"
#include "orvane/file.h"
#include "orvane/file_compression.h"
#include "support/log_capture.h"
#include "compress_reference.h"

using orvane_test::LogCapture;

namespace {

using Bytes = std::vector<uint8_t>;

// A codec at one of its levels; it stands for the codec where only that matters.
struct CodecLevel {
    orvane::PelmaCodec codec;
    orvane::PelmaLevel level;
    operator orvane::PelmaCodec() const { return codec; }
};

// Compresses the parts into one stream with the library's encoder.
Bytes Compress(CodecLevel codec, const std::vector<Bytes>& parts) {
    int64_t total = 0;
    for (const Bytes& p : parts)
        total += int64_t(p.size());
    orvane::PelmaEncoder* encoder =
        orvane::NewPelmaEncoder(codec.codec, total, int32_t(parts.size()), codec.level);
    EXPECT_NE(encoder, nullptr);
    for (const Bytes& p : parts)
        EXPECT_TRUE(orvane::PelmaEncodeContent(encoder, p.data(), int64_t(p.size())));
    const uint8_t* stream = nullptr;
    int64_t size = orvane::PelmaFinish(encoder, &stream);
    EXPECT_GE(size, 0);
    Bytes out(stream, stream + size);
    orvane::FreePelmaEncoder(encoder);
    return out;
}

Bytes Concatenate(const std::vector<Bytes>& parts) {
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

int32_t TypeOf(orvane::PelmaCodec codec) {
    return codec == orvane::PelmaCodec::Pelma0 ? OrvanePelma0Compression : OrvanePelma1Compression;
}

// Decodes a three-part stream through the exported entry point; the stream keeps 4 bytes of
// padding that hold garbage, which the decoder must not depend on.
bool DecodeSections(orvane::PelmaCodec codec, bool reversed, Bytes stream,
                    const std::vector<Bytes>& parts, Bytes* out) {
    int32_t size = int32_t(stream.size());
    stream.resize(stream.size() + 4, 0xA5);
    int32_t stop1 = int32_t(parts[0].size());
    int32_t stop2 = stop1 + int32_t(parts[1].size());
    int32_t expanded = stop2 + int32_t(parts[2].size());
    out->assign(size_t(expanded) + 16, 0xEE);
    bool ok = OrvaneDecompressData(TypeOf(codec), reversed, size, stream.data(), stop1, stop2,
                                   expanded, out->data());
    // Nothing past the expanded size is touched.
    for (size_t i = size_t(expanded); i < out->size(); ++i)
        EXPECT_EQ((*out)[i], 0xEE);
    out->resize(size_t(expanded));
    return ok;
}

// Test data ------------------------------------------------------------------------------------

Bytes RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b)
        x = uint8_t(rng());
    return b;
}

template <typename T>
Bytes AsBytes(const std::vector<T>& values) {
    Bytes b(values.size() * sizeof(T));
    std::memcpy(b.data(), values.data(), b.size());
    return b;
}

Bytes VertexFloats(size_t vertices) {
    std::vector<float> v;
    for (size_t i = 0; i < vertices; ++i) {
        float u = float(i % 64) / 63.0f, w = float(i / 64) / 63.0f;
        float x = std::cos(u * 6.2831853f) * (1.0f + 0.3f * w), y = w * 2.0f,
              z = std::sin(u * 6.2831853f) * (1.0f + 0.3f * w);
        v.insert(v.end(),
                 {x, y, z, std::cos(u * 6.2831853f), 0.0f, std::sin(u * 6.2831853f), u, w});
    }
    return AsBytes(v);
}

Bytes Indices16(size_t triangles) {
    std::vector<uint16_t> v;
    for (size_t t = 0; t < triangles; ++t) {
        uint16_t a = uint16_t(t / 2 + (t % 2) * 64), b = uint16_t(a + 1), c = uint16_t(a + 64);
        v.insert(v.end(), {a, b, c});
    }
    return AsBytes(v);
}

Bytes Text(size_t n) {
    static const char* words[] = {"skeleton ",  "bone ", "track ",    "curve ",   "the ",
                                  "animation ", "mesh ", "binding\n", "control ", "pose "};
    std::mt19937 rng(7);
    std::string s;
    while (s.size() < n)
        s += words[rng() % 10];
    s.resize(n);
    return Bytes(s.begin(), s.end());
}

// Copies of earlier stretches from all over a large window: offsets of many distinct values,
// so that the offset models hold thousands of symbols.
Bytes ScatteredCopies(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes b = RandomBytes(4096, seed);
    while (b.size() < n) {
        size_t length = 3 + rng() % 12;
        size_t from = b.size() - 1 - rng() % (b.size() < 120000 ? b.size() - 1 : 120000);
        for (size_t i = 0; i < length; ++i)
            b.push_back(b[from + i]);
        b.push_back(uint8_t(rng()));
    }
    b.resize(n);
    return b;
}

class CodecTest : public ::testing::TestWithParam<CodecLevel> {};

const char* LevelName(orvane::PelmaLevel level) {
    return level == orvane::PelmaLevel::Fast      ? "Fast"
           : level == orvane::PelmaLevel::Default ? "Default"
                                                  : "Best";
}

INSTANTIATE_TEST_SUITE_P(
    Pelma, CodecTest,
    ::testing::Values(CodecLevel{orvane::PelmaCodec::Pelma0, orvane::PelmaLevel::Fast},
                      CodecLevel{orvane::PelmaCodec::Pelma0, orvane::PelmaLevel::Default},
                      CodecLevel{orvane::PelmaCodec::Pelma0, orvane::PelmaLevel::Best},
                      CodecLevel{orvane::PelmaCodec::Pelma1, orvane::PelmaLevel::Fast},
                      CodecLevel{orvane::PelmaCodec::Pelma1, orvane::PelmaLevel::Default},
                      CodecLevel{orvane::PelmaCodec::Pelma1, orvane::PelmaLevel::Best}),
    [](const auto& info) {
        return std::string(info.param.codec == orvane::PelmaCodec::Pelma0 ? "Pelma0" : "Pelma1") +
               LevelName(info.param.level);
    });

// Round trips ----------------------------------------------------------------------------------

TEST_P(CodecTest, RoundTripsTypicalSectionParts) {
    const std::vector<std::vector<Bytes>> cases = {
        {VertexFloats(3000), Indices16(4000), Text(5000)},
        {RandomBytes(20000, 1), RandomBytes(333, 2), RandomBytes(1, 3)},
        {Bytes(), Indices16(10), Bytes()},                  // empty 32-bit and 8-bit parts
        {VertexFloats(100), Bytes(), Text(77)},             // an empty 16-bit part
        {Bytes(), Bytes(), Bytes()},                        // an empty section
        {Bytes(70000, 0x42), Bytes(3, 7), Bytes(1025, 0)},  // long runs and the length table
        // Enough symbols for every model to rescale many times.
        {RandomBytes(90000, 5), Text(60000), VertexFloats(6000)},
        // Offset models of thousands of symbols and several levels of running sums.
        {ScatteredCopies(300000, 6), Bytes(), ScatteredCopies(20000, 8)},
    };
    for (const auto& parts : cases) {
        Bytes stream = Compress(GetParam(), parts);
        Bytes out;
        ASSERT_TRUE(DecodeSections(GetParam(), false, stream, parts, &out));
        EXPECT_EQ(out, Concatenate(parts));
        // The decoder written from the format description agrees.
        Bytes reference;
        ASSERT_TRUE(orvane_test::ReferenceDecode(GetParam() == orvane::PelmaCodec::Pelma1, stream,
                                                 parts, &reference));
        EXPECT_EQ(reference, Concatenate(parts));
    }
}

TEST_P(CodecTest, RoundTripsSingleContents) {
    for (const Bytes& data :
         {Text(12345), VertexFloats(500), RandomBytes(4096, 9), Bytes(1, 5), Bytes()}) {
        Bytes stream = Compress(GetParam(), {data});
        Bytes out(data.size() + 1, 0xEE);
        EXPECT_TRUE(OrvaneDecompressDataChunk(TypeOf(GetParam()), false, int32_t(stream.size()),
                                              stream.data(), int32_t(data.size()), out.data()));
        EXPECT_EQ(out.back(), 0xEE);
        out.pop_back();
        EXPECT_EQ(out, data);
    }
}

TEST_P(CodecTest, HigherLevelsNeverLoseMuchSize) {
    // Each level is at least as good as the one below it, give or take a small margin for
    // parses priced by estimates.
    std::vector<Bytes> parts = {VertexFloats(4000), Indices16(6000), Text(8000)};
    CodecLevel fast{GetParam().codec, orvane::PelmaLevel::Fast};
    CodecLevel best{GetParam().codec, orvane::PelmaLevel::Best};
    size_t mine = Compress(GetParam(), parts).size();
    EXPECT_LE(double(mine), 1.002 * double(Compress(fast, parts).size()));
    EXPECT_LE(double(Compress(best, parts).size()), 1.002 * double(mine));
}

TEST_P(CodecTest, CompressesRedundantData) {
    Bytes text = Text(50000);
    EXPECT_LT(Compress(GetParam(), {text}).size(), text.size() / 4);
    Bytes floats = VertexFloats(4096);
    EXPECT_LT(Compress(GetParam(), {floats}).size(), floats.size() / 2);
    // Incompressible data stays within the documented output size.
    Bytes noise = RandomBytes(100000, 4);
    EXPECT_LE(int64_t(Compress(GetParam(), {noise}).size()),
              orvane::PelmaInitialOutputSize(int64_t(noise.size()), 1));
}

// A stream written on a machine of the other byte order: Pelma0 as a whole is made of words,
// Pelma1 only has word headers.
Bytes Reverse(orvane::PelmaCodec codec, Bytes stream, size_t contents) {
    size_t words = codec == orvane::PelmaCodec::Pelma0 ? stream.size() / 4 : 3 * contents;
    for (size_t w = 0; w < words; ++w)
        std::swap(stream[4 * w], stream[4 * w + 3]),
            std::swap(stream[4 * w + 1], stream[4 * w + 2]);
    return stream;
}

TEST_P(CodecTest, DecodesStreamsOfTheOtherByteOrder) {
    std::vector<Bytes> parts = {VertexFloats(700), Indices16(900), Text(1000)};
    Bytes reversed = Reverse(GetParam(), Compress(GetParam(), parts), 3);
    Bytes out;
    ASSERT_TRUE(DecodeSections(GetParam(), true, reversed, parts, &out));
    EXPECT_EQ(out, Concatenate(parts));
    Bytes single = Reverse(GetParam(), Compress(GetParam(), {parts[2]}), 1);
    Bytes text(parts[2].size());
    EXPECT_TRUE(OrvaneDecompressDataChunk(TypeOf(GetParam()), true, int32_t(single.size()),
                                          single.data(), int32_t(text.size()), text.data()));
    EXPECT_EQ(text, parts[2]);
}

TEST_P(CodecTest, DecodesIntoMemoryOfAnyAlignmentAndLeavesTheStreamAlone) {
    std::vector<Bytes> parts = {VertexFloats(200), Indices16(300), Text(500)};
    Bytes reversed = Reverse(GetParam(), Compress(GetParam(), parts), 3);
    Bytes before = reversed;
    Bytes expected = Concatenate(parts);
    Bytes out(expected.size() + 3);
    int32_t stop1 = int32_t(parts[0].size()), stop2 = stop1 + int32_t(parts[1].size());
    ASSERT_TRUE(OrvaneDecompressData(TypeOf(GetParam()), true, int32_t(reversed.size()),
                                     reversed.data(), stop1, stop2, int32_t(expected.size()),
                                     out.data() + 3));
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin() + 3));
    EXPECT_EQ(reversed, before);
}

// Entry points ---------------------------------------------------------------------------------

TEST(Compression, Pelma1SimpleApiRoundTrips) {
    Bytes data = Text(30000);
    orvane_pelma1_state* state = OrvanePelma1BeginSimple(int32_t(data.size()), 1);
    ASSERT_NE(state, nullptr);
    EXPECT_TRUE(OrvanePelma1Compress(state, int32_t(data.size()), data.data()));
    {
        LogCapture log;
        EXPECT_FALSE(OrvanePelma1Compress(state, 4, data.data()));  // only one content
        EXPECT_EQ(log.errors(), 1u);
    }
    void* buffer = nullptr;
    int32_t size = OrvanePelma1End(state, &buffer);
    ASSERT_GT(size, 12);
    Bytes out(data.size());
    EXPECT_TRUE(OrvanePelma1Decompress(false, size, buffer, int32_t(out.size()), out.data()));
    EXPECT_EQ(out, data);
    OrvanePelma1FreeSimple(state);
    OrvanePelma1FreeSimple(nullptr);
}

TEST(Compression, PaddingSizes) {
    EXPECT_EQ(OrvaneGetCompressedBytesPaddingSize(0), 0);
    EXPECT_EQ(OrvaneGetCompressedBytesPaddingSize(1), 4);
    EXPECT_EQ(OrvaneGetCompressedBytesPaddingSize(2), 4);
    EXPECT_EQ(OrvaneGetCompressedBytesPaddingSize(3), 0);
    EXPECT_EQ(OrvaneGetPelma1CompressBufferPaddingSize(), 8);
    EXPECT_EQ(OrvaneGetPelma1DecompressBufferPaddingSize(), 4);
}

TEST(Compression, NoCompressionCopiesExactlyTheExpandedSize) {
    Bytes data = Text(100);
    Bytes out(120, 0xEE);
    EXPECT_TRUE(OrvaneDecompressData(0, false, 100, data.data(), 10, 20, 90, out.data()));
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + 90, out.begin()));
    EXPECT_EQ(out[90], 0xEE);
    LogCapture log;
    EXPECT_FALSE(OrvaneDecompressData(0, false, 50, data.data(), 0, 0, 90, out.data()));
    EXPECT_EQ(log.errors(), 1u);
}

TEST(Compression, UnrecognizedTypeIsRefused) {
    LogCapture log;
    Bytes out(8);
    EXPECT_FALSE(OrvaneDecompressData(5, false, 0, nullptr, 0, 0, 8, out.data()));
    ASSERT_EQ(log.errors(), 1u);
    EXPECT_EQ(log.messages()[0].origin, OrvaneCompressorOrigin);
    EXPECT_TRUE(log.Contains("): Unrecognized compression type 5"));
    EXPECT_FALSE(OrvaneDecompressDataChunk(-1, false, 0, nullptr, 8, out.data()));
    EXPECT_TRUE(log.Contains("Unrecognized compression type -1"));
}

TEST_P(CodecTest, RefusesStopsOutsideTheSection) {
    Bytes stream = Compress(GetParam(), {Bytes(4, 1), Bytes(4, 2), Bytes(4, 3)});
    Bytes out(12);
    LogCapture log;
    EXPECT_FALSE(OrvaneDecompressData(TypeOf(GetParam()), false, int32_t(stream.size()),
                                      stream.data(), 8, 4, 12, out.data()));
    EXPECT_FALSE(OrvaneDecompressData(TypeOf(GetParam()), false, int32_t(stream.size()),
                                      stream.data(), 4, 13, 12, out.data()));
    EXPECT_EQ(log.errors(), 2u);
}

// Hostile streams ------------------------------------------------------------------------------

TEST_P(CodecTest, TruncatedAndCorruptedStreamsFailCleanly) {
    std::vector<Bytes> parts = {VertexFloats(300), Indices16(300), Text(3000)};
    Bytes stream = Compress(GetParam(), parts);
    Bytes expected = Concatenate(parts);
    LogCapture log;
    // Cut anywhere: either the output is still right (the cut only removed the coder's tail)
    // or the decoder reports an error; it never reads past what it was given (ASan checks).
    for (size_t cut = 0; cut < stream.size(); cut += 1 + cut / 16) {
        Bytes shorter(stream.begin(), stream.begin() + cut);
        Bytes out(expected.size());
        bool ok = OrvaneDecompressData(
            TypeOf(GetParam()), false, int32_t(cut), shorter.empty() ? nullptr : shorter.data(),
            int32_t(parts[0].size()), int32_t(parts[0].size() + parts[1].size()),
            int32_t(expected.size()), out.data());
        if (ok) {
            EXPECT_EQ(out, expected) << cut;
        }
        if (cut + 8 < stream.size()) {
            EXPECT_FALSE(ok) << cut;
        }
    }
    std::mt19937 rng(3);
    for (int trial = 0; trial < 300; ++trial) {
        Bytes damaged = stream;
        for (int flips = 0; flips < 3; ++flips)
            damaged[rng() % damaged.size()] ^= uint8_t(1 + rng() % 255);
        Bytes out(expected.size());
        OrvaneDecompressData(TypeOf(GetParam()), trial % 2 == 1, int32_t(damaged.size()),
                             damaged.data(), int32_t(parts[0].size()),
                             int32_t(parts[0].size() + parts[1].size()), int32_t(expected.size()),
                             out.data());
    }
    for (const auto& m : log.messages())
        EXPECT_EQ(m.origin, OrvaneCompressorOrigin);
}

// The edge cases of the grammar, on streams built by the reference encoder of the test.
TEST_P(CodecTest, MatchOfOffsetOneRepeatsTheLastByte) {
    bool pelma1 = GetParam() == orvane::PelmaCodec::Pelma1;
    // Literal 'x', then a match of offset 1 and length 5.
    Bytes stream = orvane_test::ReferenceEncode(pelma1, {{{0, 'x'}, {5, 1}}}, {6});
    Bytes out(6);
    ASSERT_TRUE(OrvaneDecompressDataChunk(TypeOf(GetParam()), false, int32_t(stream.size()),
                                          stream.data(), 6, out.data()));
    EXPECT_EQ(out, Bytes(6, 'x'));
}

TEST_P(CodecTest, EmptyMiddlePartConsumesNoToken) {
    bool pelma1 = GetParam() == orvane::PelmaCodec::Pelma1;
    Bytes stream = orvane_test::ReferenceEncode(
        pelma1, {{{0, 'a'}, {0, 'b'}, {3, 2}}, {}, {{0, 'z'}, {2, 1}}}, {5, 0, 3});
    Bytes out(8);
    ASSERT_TRUE(OrvaneDecompressData(TypeOf(GetParam()), false, int32_t(stream.size()),
                                     stream.data(), 5, 5, 8, out.data()));
    EXPECT_EQ(std::string(out.begin(), out.end()), "ababazzz");
}

TEST_P(CodecTest, InconsistentTokensAreRefused) {
    bool pelma1 = GetParam() == orvane::PelmaCodec::Pelma1;
    LogCapture log;
    Bytes out(16);
    // A match reaching before the start of the output.
    Bytes before = orvane_test::ReferenceEncode(pelma1, {{{0, 'a'}, {3, 2}}}, {4});
    EXPECT_FALSE(OrvaneDecompressDataChunk(TypeOf(GetParam()), false, int32_t(before.size()),
                                           before.data(), 4, out.data()));
    EXPECT_TRUE(log.Contains("reaches before the start"));
    // A match longer than what is left before the stop.
    Bytes past = orvane_test::ReferenceEncode(pelma1, {{{0, 'a'}, {0, 'b'}, {9, 1}}}, {11});
    EXPECT_FALSE(OrvaneDecompressDataChunk(TypeOf(GetParam()), false, int32_t(past.size()),
                                           past.data(), 6, out.data()));
    EXPECT_TRUE(log.Contains("runs past its end"));
    // A stream that ends long before the output is complete.
    Bytes shortStream = orvane_test::ReferenceEncode(pelma1, {{{0, 'a'}}}, {1});
    shortStream.resize(12);
    EXPECT_FALSE(OrvaneDecompressDataChunk(TypeOf(GetParam()), false, 12, shortStream.data(), 16,
                                           out.data()));
    EXPECT_EQ(log.errors(), 3u);
}

TEST(Compression, BucketWidths) {
    EXPECT_EQ(orvane::Pelma0BucketWidth(5), 0u);
    EXPECT_EQ(orvane::Pelma0BucketWidth(6), 1u);
    EXPECT_EQ(orvane::Pelma0BucketWidth(16), 1u);
    EXPECT_EQ(orvane::Pelma0BucketWidth(17), 1u);  // max(1, 2) ties max(2, 1): the first wins
    EXPECT_EQ(orvane::Pelma0BucketWidth(18), 2u);
    EXPECT_EQ(orvane::Pelma0BucketWidth(257), 16u);
}

}  // namespace

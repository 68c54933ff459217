// Encoding of Pelma0 and Pelma1 streams: the parse of each content, its header measured from
// the parse, and the tokens coded through the shared models.
#include <cstring>

#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "file/offline/orvane_pelma_encode.h"
#include "file/offline/orvane_pelma_match.h"
#include "file/orvane_pelma_model.h"
#include "file/offline/orvane_pelma_price.h"

namespace orvane {

using namespace pelma;

namespace {

// Windows of the encoders: Pelma0 pays for a new offset with a uniform number over the whole
// window, so it looks less far back.
constexpr uint32_t kPelma0Window = 1u << 17;
constexpr uint32_t kPelma1Window = 1u << 20;
// Contents this small are parsed once, lazily.
constexpr int64_t kPricedParseMinimum = 64;

// How hard each level searches: the parse (the one-candidate parse, or hash chains of a depth
// up to a nice length, lazily or not), then the number of priced parses that follow it and
// their chain depth.
struct LevelPlan {
    bool quick;
    uint32_t chainDepth;
    uint32_t niceLength;  // 0: the codec's own
    bool lazy;
    int pricedRounds;
    uint32_t pricedChainDepth;
};

LevelPlan PlanOf(PelmaLevel level) {
    switch (level) {
        case PelmaLevel::Fast:
            return {true, 1, 0, false, 0, 0};
        case PelmaLevel::Default:
            // One priced parse with a shallow search keeps most of the best level's gain.
            return {false, 64, 0, true, 1, 16};
        case PelmaLevel::Best:
            break;
    }
    // Each priced parse starts from the statistics of the one before; a second round still
    // gains about half a percent.
    return {false, 64, 0, true, 2, 32};
}

// What the header needs, gathered from the parse before any symbol is coded.
bool MeasureContent(PelmaCodec codec, const uint8_t* bytes, int64_t count, int64_t base,
                    const PelmaMatch* matches, int64_t matchCount, ContentHeader* h) {
    bool lengthSeen[kLengthModels][kLengthSymbols] = {};
    bool literalSeen[4][256] = {};
    uint32_t window = 0;
    for (int64_t i = 0; i < matchCount; ++i)
        if (matches[i].offset > window) window = matches[i].offset;
    uint64_t offsetSymbols = codec == PelmaCodec::Pelma0 ? window / 4 + 1 : window / 1024 + 1;
    uint8_t* offsetSeen = ORVANE_ALLOCATE_ARRAY(uint8_t, int64_t(offsetSymbols));
    if (offsetSeen == nullptr) return false;
    std::memset(offsetSeen, 0, size_t(offsetSymbols));
    uint32_t previous = 0, largestLiteral = 0, offsetDistinct = 0;
    bool anyLiteral = false;
    int64_t next = 0;
    for (int64_t pos = 0; pos < count;) {
        uint32_t code;
        if (next < matchCount && matches[next].position == pos) {
            const PelmaMatch& match = matches[next++];
            code = CodeOfLength(match.length);
            uint64_t part =
                codec == PelmaCodec::Pelma0 ? (match.offset - 1) / 4 : (match.offset - 1) / 1024;
            offsetDistinct += offsetSeen[part] == 0;
            offsetSeen[part] = 1;
            pos += match.length;
        } else {
            code = 0;
            uint32_t literal = bytes[pos];
            int model = codec == PelmaCodec::Pelma0 ? 0 : int((base + pos) & 3);
            literalSeen[model][literal] = true;
            if (literal > largestLiteral) largestLiteral = literal;
            anyLiteral = true;
            ++pos;
        }
        lengthSeen[previous][code] = true;
        previous = code;
    }
    ORVANE_DEALLOCATE(offsetSeen);
    h->literalRange = anyLiteral ? largestLiteral + 1 : 0;
    h->window = window;
    h->literalCapacity = 0;
    for (auto& seen : literalSeen) {
        uint32_t distinct = 0;
        for (bool s : seen)
            distinct += s;
        if (distinct > h->literalCapacity) h->literalCapacity = distinct;
    }
    h->offsetCapacity = offsetDistinct;
    if (codec == PelmaCodec::Pelma1 && h->offsetCapacity == 0) h->offsetCapacity = 1;
    for (uint32_t c = 0; c < kLengthModels; ++c) {
        uint32_t distinct = 0;
        for (bool s : lengthSeen[c])
            distinct += s;
        uint32_t group = c / 16 > 3 ? 3 : c / 16;
        if (distinct > h->lengthCapacity[group]) h->lengthCapacity[group] = distinct;
    }
    return true;
}

[[gnu::always_inline]] inline bool CodeTokens0(Pelma0Encoder& encoder, Models0& models,
                                               const ContentHeader& h, const uint8_t* bytes,
                                               int64_t count, const PelmaMatch* matches,
                                               int64_t matchCount) {
    uint32_t previous = 0;
    int64_t next = 0;
    const uint32_t lowRange = Min32(h.window, 4);
    for (int64_t pos = 0; pos < count;) {
        if (next < matchCount && matches[next].position == pos) {
            const PelmaMatch& match = matches[next++];
            uint32_t code = CodeOfLength(match.length);
            uint32_t reach = uint32_t(Min64(uint64_t(pos), h.window));
            if (!EncodeSymbol0(models.length[previous], encoder, kLengthSymbols, code) ||
                !EncodeSymbol0(models.low, encoder, lowRange, (match.offset - 1) % 4) ||
                !EncodeSymbol0(models.high, encoder, reach / 4 + 1, (match.offset - 1) / 4))
                return false;
            previous = code;
            pos += match.length;
        } else {
            if (!EncodeSymbol0(models.length[previous], encoder, kLengthSymbols, 0) ||
                !EncodeSymbol0(models.literal, encoder, h.literalRange, bytes[pos]))
                return false;
            previous = 0;
            ++pos;
        }
    }
    return true;
}

// The coder is copied into a local for the loop, so that its registers stay registers.
bool EncodeTokens0(Pelma0Encoder& encoder, Models0& models, const ContentHeader& h,
                   const uint8_t* bytes, int64_t count, const PelmaMatch* matches,
                   int64_t matchCount) {
    Pelma0Encoder local = encoder;
    bool ok = CodeTokens0(local, models, h, bytes, count, matches, matchCount);
    encoder = local;
    return ok;
}

[[gnu::always_inline]] inline bool CodeTokens1(Pelma1Encoder& encoder, Models1& models,
                                               const ContentHeader& h, const uint8_t* bytes,
                                               int64_t count, int64_t base,
                                               const PelmaMatch* matches, int64_t matchCount) {
    uint32_t previous = 0;
    int64_t next = 0;
    const uint32_t lowRange = Min32(h.window + 1, 4);
    for (int64_t pos = 0; pos < count;) {
        if (next < matchCount && matches[next].position == pos) {
            const PelmaMatch& match = matches[next++];
            uint32_t code = CodeOfLength(match.length);
            uint32_t reach = uint32_t(Min64(uint64_t(pos), h.window));
            uint32_t value = match.offset - 1;
            uint32_t middle = value / 1024;
            if (!EncodeSymbol1(models.length[previous], encoder, kLengthSymbols, code) ||
                !EncodeSymbol1(models.low, encoder, lowRange, value % 4) ||
                !EncodeSymbol1(models.middle, encoder, reach / 1024 + 1, middle) ||
                middle >= models.highCount ||
                !EncodeSymbol1(models.high[middle], encoder, reach < 1024 ? reach / 4 + 1 : 256,
                               (value % 1024) / 4))
                return false;
            previous = code;
            pos += match.length;
        } else {
            if (!EncodeSymbol1(models.length[previous], encoder, kLengthSymbols, 0) ||
                !EncodeSymbol1(models.literal[(base + pos) & 3], encoder, h.literalRange,
                               bytes[pos]))
                return false;
            previous = 0;
            ++pos;
        }
    }
    return true;
}

// The coder is copied into a local for the loop, so that its registers stay registers.
bool EncodeTokens1(Pelma1Encoder& encoder, Models1& models, const ContentHeader& h,
                   const uint8_t* bytes, int64_t count, int64_t base, const PelmaMatch* matches,
                   int64_t matchCount) {
    Pelma1Encoder local = encoder;
    bool ok = CodeTokens1(local, models, h, bytes, count, base, matches, matchCount);
    encoder = local;
    return ok;
}

}  // namespace

int64_t PelmaInitialOutputSize(int64_t expandedSize, int32_t contentCount) {
    return (expandedSize * 9 + 7) / 8 + int64_t{kPelmaContentHeaderBytes} * contentCount + 36;
}

struct PelmaEncoder {
    PelmaCodec codec;
    int32_t contentCount;
    int32_t contentsDone;
    int64_t base;  // bytes given so far: the position of the next content in the section
    bool failed;
    bool finished;
    ByteSink sink;
    Pelma0Encoder coder0;
    Pelma1Encoder coder1;

    PelmaLevel level;

    PelmaEncoder(PelmaCodec c, int32_t n, PelmaLevel l)
        : codec(c),
          contentCount(n),
          contentsDone(0),
          base(0),
          failed(false),
          finished(false),
          coder0(&sink),
          coder1(&sink),
          level(l) {}
};

namespace {

// Measures the content's header from the parse and codes its tokens through fresh models.
bool CodeParse(PelmaEncoder* encoder, const uint8_t* bytes, int64_t count,
               const PelmaMatch* matches, int64_t matchCount, ContentHeader* h) {
    *h = ContentHeader();
    if (!MeasureContent(encoder->codec, bytes, count, encoder->base, matches, matchCount, h))
        return false;
    bool ok;
    if (encoder->codec == PelmaCodec::Pelma0) {
        Models0 models;
        uint8_t* block = AllocateModels(&models, *h, count, true);
        ok = block != nullptr &&
             EncodeTokens0(encoder->coder0, models, *h, bytes, count, matches, matchCount);
        ORVANE_DEALLOCATE(block);
    } else {
        Models1 models;
        uint8_t* block = AllocateModels(&models, *h, count, true);
        ok = block != nullptr && EncodeTokens1(encoder->coder1, models, *h, bytes, count,
                                               encoder->base, matches, matchCount);
        ORVANE_DEALLOCATE(block);
    }
    return ok;
}

}  // namespace

PelmaEncoder* NewPelmaEncoder(PelmaCodec codec, int64_t expandedSize, int32_t contentCount,
                              PelmaLevel level) {
    if (contentCount < 0 || expandedSize < 0) return nullptr;
    if (level != PelmaLevel::Fast && level != PelmaLevel::Default && level != PelmaLevel::Best)
        return nullptr;
    void* memory = ORVANE_ALLOCATE(alignof(PelmaEncoder), sizeof(PelmaEncoder));
    if (memory == nullptr) return nullptr;
    PelmaEncoder* encoder = new (memory) PelmaEncoder(codec, contentCount, level);
    int64_t initial = PelmaInitialOutputSize(expandedSize, contentCount);
    if (initial > INT32_MAX / 2) initial = INT32_MAX / 2;
    if (!encoder->sink.Reserve(initial)) {
        FreePelmaEncoder(encoder);
        return nullptr;
    }
    int64_t headerBytes = int64_t{kPelmaContentHeaderBytes} * contentCount;
    if (!encoder->sink.Reserve(headerBytes)) {
        FreePelmaEncoder(encoder);
        return nullptr;
    }
    std::memset(encoder->sink.data, 0, size_t(headerBytes));
    encoder->sink.size = headerBytes;
    return encoder;
}

bool PelmaEncodeContent(PelmaEncoder* encoder, const uint8_t* bytes, int64_t count) {
    if (encoder->failed) return false;
    if (encoder->finished || encoder->contentsDone >= encoder->contentCount) {
        ORVANE_LOG_ERROR(OrvaneCompressorOrigin,
                         "All %d contents of the compressed stream were already given",
                         encoder->contentCount);
        return false;
    }
    if (count < 0 || count > INT32_MAX || (count > 0 && bytes == nullptr)) {
        ORVANE_LOG_ERROR(OrvaneCompressorOrigin, "Content of %d bytes cannot be compressed",
                         int32_t(count));
        encoder->failed = true;
        return false;
    }
    int32_t index = encoder->contentsDone++;
    ContentHeader h;
    bool ok = true;
    if (count > 0) {
        const LevelPlan plan = PlanOf(encoder->level);
        PelmaMatchOptions options;
        if (encoder->codec == PelmaCodec::Pelma0) {
            options = {
                kPelma0Window, plan.chainDepth, plan.niceLength ? plan.niceLength : 192, 6, 6,
                plan.lazy};
        } else {
            options = {
                kPelma1Window, plan.chainDepth, plan.niceLength ? plan.niceLength : 256, 4, 6,
                plan.lazy};
        }
        PelmaMatch* matches = nullptr;
        int64_t matchCount = plan.quick ? FindQuickPelmaMatches(bytes, count, options, &matches)
                                        : FindPelmaMatches(bytes, count, options, &matches);
        if (matchCount >= 0 && count >= kPricedParseMinimum && plan.pricedRounds > 0) {
            PelmaMatchOptions priced = options;
            priced.chainDepth = plan.pricedChainDepth;
            for (int round = 0; round < plan.pricedRounds; ++round)
                ReparseByPrice(encoder->codec, bytes, count, encoder->base, priced, &matches,
                               &matchCount);
        }
        if (matchCount < 0) {
            ok = false;
        } else if (plan.quick || count < kPricedParseMinimum) {
            ok = CodeParse(encoder, bytes, count, matches, matchCount, &h);
        } else {
            // On very regular data the one-candidate parse can beat the priced one (its long
            // matches at repeated offsets cost next to nothing): both are coded from the same
            // coder state and the smaller stays, so that no level writes more than the fast
            // one.
            const Pelma0Encoder start0 = encoder->coder0;
            const Pelma1Encoder start1 = encoder->coder1;
            const int64_t start = encoder->sink.size;
            auto restart = [&] {
                encoder->coder0 = start0;
                encoder->coder1 = start1;
                encoder->sink.size = start;
            };
            ok = CodeParse(encoder, bytes, count, matches, matchCount, &h);
            PelmaMatch* quick = nullptr;
            int64_t quickCount = ok ? FindQuickPelmaMatches(bytes, count, options, &quick) : -1;
            if (quickCount >= 0) {
                const int64_t pricedSize = encoder->sink.size - start;
                restart();
                ContentHeader quickHeader;
                ok = CodeParse(encoder, bytes, count, quick, quickCount, &quickHeader);
                if (ok && encoder->sink.size - start < pricedSize) {
                    h = quickHeader;
                } else if (ok) {
                    restart();
                    ok = CodeParse(encoder, bytes, count, matches, matchCount, &h);
                }
            }
            ORVANE_DEALLOCATE(quick);
        }
        ORVANE_DEALLOCATE(matches);
    }
    if (ok && encoder->sink.failed) ok = false;
    if (!ok) {
        ORVANE_LOG_ERROR(OrvaneCompressorOrigin, "Unable to compress content %d (%d bytes)", index,
                         int32_t(count));
        encoder->failed = true;
        return false;
    }
    PackHeader(encoder->codec, h, encoder->sink.data + kPelmaContentHeaderBytes * index);
    encoder->base += count;
    return true;
}

int64_t PelmaFinish(PelmaEncoder* encoder, const uint8_t** stream) {
    *stream = nullptr;
    if (encoder->failed) return -1;
    if (!encoder->finished) {
        if (encoder->codec == PelmaCodec::Pelma0) {
            encoder->coder0.Finish();
        } else {
            encoder->coder1.Finish();
        }
        encoder->finished = true;
        if (encoder->sink.failed) {
            encoder->failed = true;
            return -1;
        }
    }
    *stream = encoder->sink.data;
    return encoder->sink.size;
}

void FreePelmaEncoder(PelmaEncoder* encoder) {
    if (encoder == nullptr) return;
    ORVANE_DEALLOCATE(encoder->sink.data);
    encoder->~PelmaEncoder();
    ORVANE_DEALLOCATE(encoder);
}

}  // namespace orvane

// The priced parse: token prices from the statistics of a parse, and a dynamic program over the
// positions of a content that finds the cheapest path under them.
#include "file/offline/orvane_pelma_price.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

#include "core/orvane_memory.h"
#include "file/offline/orvane_pelma_finder.h"
#include "file/orvane_pelma_model.h"

namespace orvane {

using namespace pelma;

namespace {

constexpr int32_t kMaxCandidates = 32;
constexpr int64_t kBlock = 1 << 15;

struct Step {
    float cost;
    uint32_t offset;  // 0 for a literal
    uint16_t length;
    uint8_t fromMatch;  // state the step came from: after a literal (0) or a match (1)
};

inline uint32_t LengthCode(uint32_t length) {
    if (length <= 61) return length - 1;
    return length == 128 ? 61 : length == 192 ? 62 : length == 256 ? 63 : 64;
}

// ---- Prices for the second parse ------------------------------------------------------------

// Offsets priced by their parts: Pelma0 low and high part, Pelma1 low, middle and high part
// (the high models pooled over the middle parts).
struct OffsetPrices {
    PelmaCodec codec;
    float low[4];
    float* upper;  // Pelma0: by high part; Pelma1: by middle part
    uint32_t upperCount;
    float unseenUpper;
    float high[256];  // Pelma1
};

float PriceOfOffset(const void* context, uint32_t offset) {
    const OffsetPrices& t = *static_cast<const OffsetPrices*>(context);
    uint32_t v = offset - 1;
    uint32_t upper = t.codec == PelmaCodec::Pelma0 ? v >> 2 : v >> 10;
    float price = t.low[v & 3] + (upper < t.upperCount ? t.upper[upper] : t.unseenUpper);
    if (t.codec == PelmaCodec::Pelma1) price += t.high[(v >> 2) & 255];
    return price;
}

// Bits of a symbol seen count times out of total in an alphabet of the given size, with a
// little probability kept for symbols not seen.
inline float Bits(uint32_t count, uint32_t total, uint32_t alphabet) {
    const double kPrior = 0.4;
    return float(std::log2((total + kPrior * alphabet) / (count + kPrior)));
}

// Prices from the token statistics of a parse. upperCounts must hold upperCount zeros.
void ComputePrices(PelmaCodec codec, const uint8_t* bytes, int64_t count, int64_t base,
                   const PelmaMatch* matches, int64_t matchCount, uint32_t* upperCounts,
                   uint32_t upperCount, OffsetPrices* offsets, PelmaPrices* prices) {
    uint32_t literal[4][256] = {}, length[2][65] = {}, low[4] = {}, high[256] = {};
    uint32_t matchTotal = 0;
    int previousMatch = 0;
    int64_t next = 0;
    for (int64_t pos = 0; pos < count;) {
        if (next < matchCount && matches[next].position == pos) {
            const PelmaMatch& match = matches[next++];
            uint32_t v = match.offset - 1;
            ++length[previousMatch][CodeOfLength(match.length)];
            ++low[v & 3];
            uint32_t upper = codec == PelmaCodec::Pelma0 ? v >> 2 : v >> 10;
            if (upper < upperCount) ++upperCounts[upper];
            ++high[(v >> 2) & 255];
            ++matchTotal;
            previousMatch = 1;
            pos += match.length;
        } else {
            ++length[previousMatch][0];
            ++literal[codec == PelmaCodec::Pelma0 ? 0 : (base + pos) & 3][bytes[pos]];
            previousMatch = 0;
            ++pos;
        }
    }
    for (int c = 0; c < (codec == PelmaCodec::Pelma0 ? 1 : 4); ++c) {
        uint32_t total = 0;
        for (uint32_t n : literal[c])
            total += n;
        for (int b = 0; b < 256; ++b)
            prices->literal[c][b] = Bits(literal[c][b], total, 256);
    }
    if (codec == PelmaCodec::Pelma0)
        for (int c = 1; c < 4; ++c)
            std::memcpy(prices->literal[c], prices->literal[0], 256 * 4);
    for (int s = 0; s < 2; ++s) {
        uint32_t total = 0;
        for (uint32_t n : length[s])
            total += n;
        for (int c = 0; c < 65; ++c)
            prices->length[s][c] = Bits(length[s][c], total, 65);
    }
    offsets->codec = codec;
    for (int q = 0; q < 4; ++q)
        offsets->low[q] = Bits(low[q], matchTotal, 4);
    for (uint32_t u = 0; u < upperCount; ++u)
        offsets->upper[u] = Bits(upperCounts[u], matchTotal, upperCount);
    offsets->upperCount = upperCount;
    offsets->unseenUpper = Bits(0, matchTotal, upperCount);
    for (int h = 0; h < 256; ++h)
        offsets->high[h] = Bits(high[h], matchTotal, 256);
    prices->offset = &PriceOfOffset;
    prices->context = offsets;
}

// A second parse priced by the statistics of the first; the cheaper path replaces the first.
// Keeps the first parse when memory runs short.
}  // namespace

int64_t FindPricedPelmaMatches(const uint8_t* data, int64_t size, int64_t base,
                               const PelmaMatchOptions& options, const PelmaPrices& prices,
                               PelmaMatch** matches) {
    *matches = nullptr;
    if (size < 2) return 0;
    if (size > INT32_MAX) return -1;
    FinderTables tables(size);
    // Two states per position of a block: reached by a literal or by a match.
    Step* steps = ORVANE_ALLOCATE_ARRAY(Step, 2 * (kBlock + 1));
    MatchList list;
    bool ok = tables.Allocated() && steps != nullptr;
    if (ok) {
        Finder finder(data, size, options, tables);
        uint32_t lengths[kMaxCandidates], offsets[kMaxCandidates];
        int startState = 0;
        for (int64_t blockStart = 0; ok && blockStart < size;) {
            int64_t blockEnd = size - blockStart > kBlock ? blockStart + kBlock : size;
            int64_t n = blockEnd - blockStart;
            const float kInfinite = 1e30f;
            for (int64_t i = 0; i <= n; ++i)
                steps[2 * i].cost = steps[2 * i + 1].cost = kInfinite;
            steps[startState].cost = 0;
            for (int64_t i = 0; i < n; ++i) {
                int64_t p = blockStart + i;
                Step* here = steps + 2 * i;
                float best = here[0].cost < here[1].cost ? here[0].cost : here[1].cost;
                if (best >= kInfinite) continue;
                int fromMatch = here[1].cost < here[0].cost ? 1 : 0;
                float literalCost = prices.literal[(base + p) & 3][data[p]];
                for (int s = 0; s < 2; ++s) {
                    float c = here[s].cost + prices.length[s][0] + literalCost;
                    Step& next = steps[2 * (i + 1)];
                    if (c < next.cost) next = {c, 0, 1, uint8_t(s)};
                }
                finder.InsertUpTo(p);
                int32_t count = finder.FindAll(p, lengths, offsets, kMaxCandidates);
                uint32_t shorter = 1;
                for (int32_t k = 0; k < count; ++k) {
                    float offsetCost = prices.offset(prices.context, offsets[k]);
                    uint32_t longest = lengths[k];
                    if (longest > uint32_t(n - i)) longest = uint32_t(n - i);
                    auto relax = [&](uint32_t l) {
                        float c = best + prices.length[fromMatch][LengthCode(l)] + offsetCost;
                        Step& next = steps[2 * (i + l) + 1];
                        if (c < next.cost) next = {c, offsets[k], uint16_t(l), uint8_t(fromMatch)};
                    };
                    for (uint32_t l = shorter + 1; l <= longest && l <= 61; ++l)
                        relax(l);
                    for (uint32_t l : {128u, 192u, 256u, 512u})
                        if (l > shorter && l <= longest) relax(l);
                    shorter = lengths[k];
                }
            }
            // Walk back from the cheaper end state; the steps are then emitted in order.
            int state = steps[2 * n + 1].cost < steps[2 * n].cost ? 1 : 0;
            int endState = state;
            int64_t firstMatch = list.count;
            for (int64_t i = n; i > 0;) {
                const Step& step = steps[2 * i + state];
                if (step.offset != 0)
                    ok = ok && list.Push({uint32_t(blockStart + i - step.length), step.offset,
                                          step.length});
                i -= step.length;
                state = step.fromMatch;
            }
            // The block's matches were pushed last first.
            for (int64_t a = firstMatch, b = list.count - 1; a < b; ++a, --b) {
                PelmaMatch t = list.items[a];
                list.items[a] = list.items[b];
                list.items[b] = t;
            }
            startState = endState;
            blockStart = blockEnd;
        }
    }
    ORVANE_DEALLOCATE(steps);
    return list.Release(ok, matches);
}

void ReparseByPrice(PelmaCodec codec, const uint8_t* bytes, int64_t count, int64_t base,
                    const PelmaMatchOptions& options, PelmaMatch** matches, int64_t* matchCount) {
    uint32_t upperCount =
        codec == PelmaCodec::Pelma0 ? options.window / 4 + 1 : options.window / 1024 + 1;
    uint32_t* upperCounts = ORVANE_ALLOCATE_ARRAY(uint32_t, upperCount);
    float* upperPrices = ORVANE_ALLOCATE_ARRAY(float, upperCount);
    PelmaPrices* prices = ORVANE_ALLOCATE_ARRAY(PelmaPrices, 1);
    OffsetPrices* offsets = ORVANE_ALLOCATE_ARRAY(OffsetPrices, 1);
    if (upperCounts && upperPrices && prices && offsets) {
        std::memset(upperCounts, 0, sizeof(uint32_t) * upperCount);
        offsets->upper = upperPrices;
        ComputePrices(codec, bytes, count, base, *matches, *matchCount, upperCounts, upperCount,
                      offsets, prices);
        PelmaMatch* priced = nullptr;
        int64_t pricedCount = FindPricedPelmaMatches(bytes, count, base, options, *prices, &priced);
        if (pricedCount >= 0) {
            ORVANE_DEALLOCATE(*matches);
            *matches = priced;
            *matchCount = pricedCount;
        }
    }
    ORVANE_DEALLOCATE(upperCounts);
    ORVANE_DEALLOCATE(upperPrices);
    ORVANE_DEALLOCATE(prices);
    ORVANE_DEALLOCATE(offsets);
}

}  // namespace orvane

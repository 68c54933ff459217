// The match finder shared by both section codecs: hash chains over three-byte prefixes, a
// table of the latest position of every two-byte prefix, the last offset tried first, and lazy
// evaluation of the next position. It only picks matches; the codecs decide how to code them.
#ifndef ORVANE_PELMA_MATCH_H
#define ORVANE_PELMA_MATCH_H

#include "core/orvane_private.h"

#include <cstdint>

namespace orvane {

// A match as the token grammar can express it: the length is one of 2 to 61, 128, 192, 256,
// 512, the offset at least 1 and never more than the position.
struct PelmaMatch {
    uint32_t position;
    uint32_t offset;
    uint32_t length;
};

struct PelmaMatchOptions {
    uint32_t window;       // largest offset
    uint32_t chainDepth;   // candidates examined per position
    uint32_t niceLength;   // a match this long ends the search and the lazy look-ahead
    uint32_t offsetCost;   // rough price of a new offset in bits at offset 1
    uint32_t literalCost;  // rough price of a literal in bits
};

// Estimated prices in bits of the tokens of one content, from statistics of an earlier parse.
struct PelmaPrices {
    float literal[4][256];  // by the byte's position in the section modulo 4
    float length[2][65];    // length code after a literal (0) or after a match (1)
    float (*offset)(const void* context, uint32_t offset);
    const void* context;
};

// The longest length of the table that does not exceed length (0 below 2).
uint32_t PelmaUsableLength(uint32_t length);

// Parses data into literals and matches; returns the number of matches, written to *matches in
// position order (an array from the library's allocator that the caller releases; null when
// there are none), or -1 when memory runs out.
int64_t FindPelmaMatches(const uint8_t* data, int64_t size, const PelmaMatchOptions& options,
                         PelmaMatch** matches);

// Parses data by the cheapest path under the prices (dynamic programming over positions,
// in blocks); base is the position of data in the section. Same results as FindPelmaMatches.
int64_t FindPricedPelmaMatches(const uint8_t* data, int64_t size, int64_t base,
                               const PelmaMatchOptions& options, const PelmaPrices& prices,
                               PelmaMatch** matches);

}  // namespace orvane

#endif  // ORVANE_PELMA_MATCH_H

// The lazy parse of both section codecs over the shared finder (orvane_pelma_finder.h): the
// last offset tried first, and lazy evaluation of the next position. It only picks matches; the
// codecs decide how to code them.
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
    bool lazy = true;      // false: the first match found at a position is taken
};

// The longest length of the table that does not exceed length (0 below 2).
uint32_t PelmaUsableLength(uint32_t length);

// Parses data into literals and matches; returns the number of matches, written to *matches in
// position order (an array from the library's allocator that the caller releases; null when
// there are none), or -1 when memory runs out.
int64_t FindPelmaMatches(const uint8_t* data, int64_t size, const PelmaMatchOptions& options,
                         PelmaMatch** matches);

// The fast parse: the last offset, one earlier position per three-byte hash and the latest of
// the same two bytes, the best of them taken at once. Same results as FindPelmaMatches; chainDepth
// and niceLength unused.
int64_t FindQuickPelmaMatches(const uint8_t* data, int64_t size, const PelmaMatchOptions& options,
                              PelmaMatch** matches);

}  // namespace orvane

#endif  // ORVANE_PELMA_MATCH_H

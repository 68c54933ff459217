// The priced parse of the section codecs: prices of tokens from the statistics of an earlier
// parse, and the cheapest path through the data under those prices.
#ifndef ORVANE_PELMA_PRICE_H
#define ORVANE_PELMA_PRICE_H

#include <cstdint>

#include "file/orvane_pelma.h"
#include "file/offline/orvane_pelma_match.h"

namespace orvane {

// Estimated prices in bits of the tokens of one content, from statistics of an earlier parse.
struct PelmaPrices {
    float literal[4][256];  // by the byte's position in the section modulo 4
    float length[2][65];    // length code after a literal (0) or after a match (1)
    float (*offset)(const void* context, uint32_t offset);
    const void* context;
};

// Parses data by the cheapest path under the prices (dynamic programming over positions,
// in blocks); base is the position of data in the section. Same results as FindPelmaMatches.
int64_t FindPricedPelmaMatches(const uint8_t* data, int64_t size, int64_t base,
                               const PelmaMatchOptions& options, const PelmaPrices& prices,
                               PelmaMatch** matches);

// A parse priced by the statistics of *matches replaces it when it is found; the first parse
// stays when memory runs short. base is the position of data in the section.
void ReparseByPrice(PelmaCodec codec, const uint8_t* bytes, int64_t count, int64_t base,
                    const PelmaMatchOptions& options, PelmaMatch** matches, int64_t* matchCount);

}  // namespace orvane

#endif  // ORVANE_PELMA_PRICE_H

// The lazy parse of the section codecs: at each position the best match by estimated gain,
// taken unless the next position offers a clearly better one.
#include "file/orvane_pelma_match.h"

#include <cstring>

#include "core/orvane_memory.h"
#include "file/orvane_pelma_finder.h"

namespace orvane {

using namespace pelma;

uint32_t PelmaUsableLength(uint32_t length) {
    if (length >= 512) return 512;
    if (length >= 256) return 256;
    if (length >= 192) return 192;
    if (length >= 128) return 128;
    if (length >= 61) return 61;
    return length < 2 ? 0 : length;
}

int64_t FindPelmaMatches(const uint8_t* data, int64_t size, const PelmaMatchOptions& options,
                         PelmaMatch** matches) {
    *matches = nullptr;
    if (size < 2) return 0;
    if (size > INT32_MAX) return -1;
    int hashBits = TableBits(size, kMaxHashBits), pairBits = TableBits(size, kMaxPairBits);
    int32_t* head3 = ORVANE_ALLOCATE_ARRAY(int32_t, int64_t{1} << hashBits);
    int32_t* last2 = ORVANE_ALLOCATE_ARRAY(int32_t, int64_t{1} << pairBits);
    int32_t* chain = ORVANE_ALLOCATE_ARRAY(int32_t, size);
    MatchList list;
    bool ok = head3 != nullptr && last2 != nullptr && chain != nullptr;
    if (ok) {
        std::memset(head3, 0xFF, sizeof(int32_t) << hashBits);
        std::memset(last2, 0xFF, sizeof(int32_t) << pairBits);
        Finder finder(data, size, options, head3, hashBits, last2, pairBits, chain);
        uint32_t lastOffset = 0;
        int64_t p = 0;
        while (ok && p + 2 <= size) {
            finder.InsertUpTo(p);
            Candidate current = finder.Find(p, lastOffset);
            if (current.length == 0) {
                ++p;
                continue;
            }
            // Lazy evaluation: a better match one byte later wins over the current one.
            while (current.length < options.niceLength && p + 3 <= size) {
                finder.InsertUpTo(p + 1);
                Candidate next = finder.Find(p + 1, lastOffset);
                if (next.gain <= current.gain + 1) break;
                ++p;
                current = next;
            }
            uint32_t length = PelmaUsableLength(current.length);
            ok = list.Push({uint32_t(p), current.offset, length});
            lastOffset = current.offset;
            p += length;
        }
    }
    ORVANE_DEALLOCATE(head3);
    ORVANE_DEALLOCATE(last2);
    ORVANE_DEALLOCATE(chain);
    if (!ok) {
        ORVANE_DEALLOCATE(list.items);
        return -1;
    }
    *matches = list.items;
    return list.count;
}

}  // namespace orvane

// The lazy parse of the section codecs: at each position the best match by estimated gain,
// taken unless the next position offers a clearly better one.
#include "file/offline/orvane_pelma_match.h"

#include <cstring>

#include "core/orvane_memory.h"
#include "file/offline/orvane_pelma_finder.h"

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
    FinderTables tables(size);
    MatchList list;
    bool ok = tables.Allocated();
    if (ok) {
        Finder finder(data, size, options, tables);
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
            while (options.lazy && current.length < options.niceLength && p + 3 <= size) {
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
    return list.Release(ok, matches);
}

// One candidate per three-byte hash besides the last offset (and, when they find nothing
// longer, the latest position of the same two bytes), taken greedily: the tables stay in the
// processor's caches and every position costs a look-up or two.
int64_t FindQuickPelmaMatches(const uint8_t* data, int64_t size, const PelmaMatchOptions& options,
                              PelmaMatch** matches) {
    *matches = nullptr;
    if (size < 2) return 0;
    if (size > INT32_MAX) return -1;
    constexpr int kQuickHashBits = 15;
    constexpr int kQuickPairBits = 14;
    const int bits = TableBits(size, kQuickHashBits), pairBits = TableBits(size, kQuickPairBits);
    int32_t* head = ORVANE_ALLOCATE_ARRAY(int32_t, int64_t{1} << bits);
    int32_t* pairs = ORVANE_ALLOCATE_ARRAY(int32_t, int64_t{1} << pairBits);
    MatchList list;
    bool ok = head != nullptr && pairs != nullptr;
    if (ok) {
        std::memset(head, 0xFF, sizeof(int32_t) << bits);
        std::memset(pairs, 0xFF, sizeof(int32_t) << pairBits);
        auto insert = [&](int64_t q) {
            if (q + 3 <= size) head[Hash3(data + q, bits)] = int32_t(q);
            if (q + 2 <= size) pairs[Key2(data + q, pairBits)] = int32_t(q);
        };
        uint32_t lastOffset = 0;
        int64_t p = 0;
        while (ok && p + 2 <= size) {
            const int64_t left = size - p;
            const uint32_t limit = left < kMaxLength ? uint32_t(left) : kMaxLength;
            const uint8_t* here = data + p;
            uint32_t bestLength = 0, bestOffset = 0;
            int32_t bestGain = kMinimumGain - 1;
            if (lastOffset != 0 && lastOffset <= p) {
                uint32_t length = CommonLength(here - lastOffset, here, limit);
                int32_t gain = MatchGain(options, length, lastOffset, lastOffset);
                if (gain > bestGain) bestGain = gain, bestLength = length, bestOffset = lastOffset;
            }
            auto consider = [&](int32_t candidate) {
                if (candidate < 0 || uint64_t(p - candidate) > options.window) return;
                uint32_t offset = uint32_t(p - candidate);
                uint32_t length = CommonLength(data + candidate, here, limit);
                int32_t gain = MatchGain(options, length, offset, lastOffset);
                if (gain > bestGain) bestGain = gain, bestLength = length, bestOffset = offset;
            };
            if (limit >= 3) consider(head[Hash3(here, bits)]);
            // Short structured data lives on two-byte matches, which the hash cannot see.
            if (bestLength < 3) consider(pairs[Key2(here, pairBits)]);
            insert(p);
            if (bestLength == 0) {
                ++p;
                continue;
            }
            uint32_t length = PelmaUsableLength(bestLength);
            ok = list.Push({uint32_t(p), bestOffset, length});
            lastOffset = bestOffset;
            for (int64_t q = p + 1; q < p + length; ++q)
                insert(q);
            p += length;
        }
    }
    ORVANE_DEALLOCATE(head);
    ORVANE_DEALLOCATE(pairs);
    return list.Release(ok, matches);
}

}  // namespace orvane

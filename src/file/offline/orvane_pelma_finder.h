// The search structures of the section codecs' match finder: hash chains over three-byte
// prefixes, a table of the latest position of every two-byte prefix, and the candidate search
// that both the lazy parse and the priced parse use.
#ifndef ORVANE_PELMA_FINDER_H
#define ORVANE_PELMA_FINDER_H

#include <cstdint>
#include <cstring>

#include "core/orvane_memory.h"
#include "file/offline/orvane_pelma_match.h"

namespace orvane {
namespace pelma {

// Hash tables grow with the data up to these sizes, so that small contents stay cheap.
constexpr int kMaxHashBits = 17;
constexpr int kMaxPairBits = 16;
constexpr uint32_t kMaxLength = 512;
// A match whose price is not at least this many bits below its literals is not worth taking.
constexpr int32_t kMinimumGain = 1;

inline uint32_t Hash3(const uint8_t* p, int bits) {
    uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    return (v * 2654435761u) >> (32 - bits);
}

// Exact for the full table; candidates are always compared byte by byte anyway.
inline uint32_t Key2(const uint8_t* p, int bits) {
    uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8;
    return bits >= 16 ? v : (v * 2654435761u) >> (32 - bits);
}

inline int TableBits(int64_t size, int maximum) {
    int bits = 10;
    while (bits < maximum && (int64_t{1} << bits) < size)
        ++bits;
    return bits;
}

inline uint32_t BitLength(uint32_t v) {
    return v ? 32 - uint32_t(__builtin_clz(v)) : 0;
}

// Common prefix of a and b, at most limit bytes; a lies before b.
inline uint32_t CommonLength(const uint8_t* a, const uint8_t* b, uint32_t limit) {
    uint32_t n = 0;
    while (n + 8 <= limit) {
        uint64_t x, y;
        std::memcpy(&x, a + n, 8);
        std::memcpy(&y, b + n, 8);
        if (x != y) {
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
            return n + uint32_t(__builtin_ctzll(x ^ y)) / 8;
#else
            return n + uint32_t(__builtin_clzll(x ^ y)) / 8;
#endif
        }
        n += 8;
    }
    while (n < limit && a[n] == b[n])
        ++n;
    return n;
}

// Estimated bits a match saves against coding its bytes as literals.
inline int32_t MatchGain(const PelmaMatchOptions& options, uint32_t length, uint32_t offset,
                         uint32_t lastOffset) {
    uint32_t usable = PelmaUsableLength(length);
    if (usable < 2) return 0;
    int32_t offsetBits = offset == lastOffset ? 2 : int32_t(options.offsetCost + BitLength(offset));
    // Longer matches past the table are split; the rest is found again at the same offset.
    int32_t lengthBits = 4;
    return int32_t(usable) * int32_t(options.literalCost) - lengthBits - offsetBits;
}

// The finder's tables for size bytes (at most INT32_MAX), in memory they own: the heads of the
// three-byte hash chains, the latest position of each two-byte key and the chains, all starting
// empty (-1). Allocated() says whether the memory was had.
struct FinderTables {
    int hashBits;
    int pairBits;
    int32_t* head3;
    int32_t* last2;
    int32_t* chain;

    explicit FinderTables(int64_t size)
        : hashBits(TableBits(size, kMaxHashBits)),
          pairBits(TableBits(size, kMaxPairBits)),
          head3(ORVANE_ALLOCATE_ARRAY(int32_t, int64_t{1} << hashBits)),
          last2(ORVANE_ALLOCATE_ARRAY(int32_t, int64_t{1} << pairBits)),
          chain(ORVANE_ALLOCATE_ARRAY(int32_t, size)) {
        if (!Allocated()) return;
        std::memset(head3, 0xFF, sizeof(int32_t) << hashBits);
        std::memset(last2, 0xFF, sizeof(int32_t) << pairBits);
    }
    ~FinderTables() {
        ORVANE_DEALLOCATE(head3);
        ORVANE_DEALLOCATE(last2);
        ORVANE_DEALLOCATE(chain);
    }
    FinderTables(const FinderTables&) = delete;
    FinderTables& operator=(const FinderTables&) = delete;

    bool Allocated() const { return head3 != nullptr && last2 != nullptr && chain != nullptr; }
};

struct Candidate {
    uint32_t length = 0;
    uint32_t offset = 0;
    int32_t gain = 0;  // estimated bits saved against coding the bytes as literals
};

class Finder {
public:
    Finder(const uint8_t* data, int64_t size, const PelmaMatchOptions& options, int32_t* head3,
           int hashBits, int32_t* last2, int pairBits, int32_t* chain)
        : data_(data),
          size_(size),
          options_(options),
          head3_(head3),
          last2_(last2),
          chain_(chain),
          hashBits_(hashBits),
          pairBits_(pairBits) {}
    Finder(const uint8_t* data, int64_t size, const PelmaMatchOptions& options,
           const FinderTables& tables)
        : Finder(data, size, options, tables.head3, tables.hashBits, tables.last2, tables.pairBits,
                 tables.chain) {}

    // Every position below q enters the search structures.
    void InsertUpTo(int64_t q) {
        for (; inserted_ < q; ++inserted_) {
            const uint8_t* p = data_ + inserted_;
            if (inserted_ + 3 <= size_) {
                uint32_t h = Hash3(p, hashBits_);
                chain_[inserted_] = head3_[h];
                head3_[h] = int32_t(inserted_);
            }
            if (inserted_ + 2 <= size_) last2_[Key2(p, pairBits_)] = int32_t(inserted_);
        }
    }

    // The best match at p among the positions inserted so far.
    Candidate Find(int64_t p, uint32_t lastOffset) const {
        Candidate best;
        int64_t left = size_ - p;
        if (left < 2) return best;
        uint32_t limit = left < kMaxLength ? uint32_t(left) : kMaxLength;
        const uint8_t* here = data_ + p;
        if (lastOffset != 0 && lastOffset <= p) {
            uint32_t length = CommonLength(here - lastOffset, here, limit);
            Consider(length, lastOffset, lastOffset, &best);
        }
        if (limit >= 3) {
            int32_t candidate = head3_[Hash3(here, hashBits_)];
            uint32_t depth = options_.chainDepth;
            while (candidate >= 0 && depth-- != 0) {
                uint64_t offset = uint64_t(p - candidate);
                if (offset > options_.window) break;
                // Only a candidate that could beat the best so far gets a full comparison.
                if (best.length < limit && data_[candidate + best.length] == here[best.length]) {
                    uint32_t length = CommonLength(data_ + candidate, here, limit);
                    Consider(length, uint32_t(offset), lastOffset, &best);
                    if (best.length >= options_.niceLength || best.length == limit) break;
                }
                candidate = chain_[candidate];
            }
        }
        int32_t recent = last2_[Key2(here, pairBits_)];
        if (recent >= 0 && uint64_t(p - recent) <= options_.window && best.length < 3) {
            uint32_t length = CommonLength(data_ + recent, here, limit);
            Consider(length, uint32_t(p - recent), lastOffset, &best);
        }
        return best;
    }

    // Every match at p that is longer than all closer ones: lengths increase along the list.
    int32_t FindAll(int64_t p, uint32_t* lengths, uint32_t* offsets, int32_t capacity) const {
        int64_t left = size_ - p;
        if (left < 2) return 0;
        uint32_t limit = left < kMaxLength ? uint32_t(left) : kMaxLength;
        const uint8_t* here = data_ + p;
        int32_t count = 0;
        uint32_t best = 1;
        auto take = [&](uint32_t length, uint32_t offset) {
            if (length > best && count < capacity) {
                lengths[count] = length;
                offsets[count] = offset;
                ++count;
                best = length;
            }
        };
        int32_t recent = last2_[Key2(here, pairBits_)];
        if (recent >= 0 && uint64_t(p - recent) <= options_.window)
            take(CommonLength(data_ + recent, here, limit), uint32_t(p - recent));
        if (limit >= 3) {
            int32_t candidate = head3_[Hash3(here, hashBits_)];
            uint32_t depth = options_.chainDepth;
            while (candidate >= 0 && depth-- != 0 && best < limit) {
                uint64_t offset = uint64_t(p - candidate);
                if (offset > options_.window) break;
                if (data_[candidate + best] == here[best])
                    take(CommonLength(data_ + candidate, here, limit), uint32_t(offset));
                candidate = chain_[candidate];
            }
        }
        return count;
    }

    int32_t Gain(uint32_t length, uint32_t offset, uint32_t lastOffset) const {
        return MatchGain(options_, length, offset, lastOffset);
    }

private:
    void Consider(uint32_t length, uint32_t offset, uint32_t lastOffset, Candidate* best) const {
        if (length < 2) return;
        int32_t gain = Gain(length, offset, lastOffset);
        if (gain < kMinimumGain) return;
        if (gain > best->gain || (gain == best->gain && length > best->length)) {
            best->length = length;
            best->offset = offset;
            best->gain = gain;
        }
    }

    const uint8_t* data_;
    int64_t size_;
    PelmaMatchOptions options_;
    int32_t* head3_;
    int32_t* last2_;
    int32_t* chain_;
    int hashBits_;
    int pairBits_;
    int64_t inserted_ = 0;
};

// Growable array of matches.
struct MatchList {
    PelmaMatch* items = nullptr;
    int64_t count = 0;
    int64_t capacity = 0;

    bool Push(const PelmaMatch& match) {
        if (count == capacity) {
            int64_t grown = capacity ? capacity * 2 : 256;
            PelmaMatch* bigger = ORVANE_ALLOCATE_ARRAY(PelmaMatch, grown);
            if (bigger == nullptr) return false;
            Copy(size_t(count) * sizeof(PelmaMatch), items, bigger);
            ORVANE_DEALLOCATE(items);
            items = bigger;
            capacity = grown;
        }
        items[count++] = match;
        return true;
    }

    // Hands the matches to the caller, who frees them, and returns their count; when ok is
    // false, frees them and returns -1.
    int64_t Release(bool ok, PelmaMatch** matches) {
        if (!ok) {
            ORVANE_DEALLOCATE(items);
            items = nullptr;
            return -1;
        }
        *matches = items;
        return count;
    }
};

}  // namespace pelma
}  // namespace orvane

#endif  // ORVANE_PELMA_FINDER_H

// The adaptive models of the section codecs and the content headers they are built from.
//
// Encoder and decoder share every model and every update of it, so that an encoder leaves its
// models exactly as a decoder will find them: DecodeSymbol0/1 and EncodeSymbol0/1 are the one
// place where a symbol passes through a model. The search structures inside the models are this
// library's own; only the intervals they find are part of the stream.
#ifndef ORVANE_PELMA_MODEL_H
#define ORVANE_PELMA_MODEL_H

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "file/orvane_pelma_coder.h"

namespace orvane {
namespace pelma {

constexpr uint32_t kLengthModels = 65;
constexpr uint32_t kLengthSymbols = 65;
constexpr uint32_t kPelma0RescaleTotal = 16383;
constexpr uint32_t kLongLengths[4] = {128, 192, 256, 512};

inline uint32_t LengthOfCode(uint32_t code) {
    return code < 61 ? code + 1 : kLongLengths[code - 61];
}

inline uint32_t CodeOfLength(uint32_t length) {
    if (length <= 61) return length - 1;
    return length == 128 ? 61 : length == 192 ? 62 : length == 256 ? 63 : 64;
}

inline uint64_t Min64(uint64_t a, uint64_t b) {
    return a < b ? a : b;
}
inline uint32_t Min32(uint32_t a, uint32_t b) {
    return a < b ? a : b;
}

// ---- Content headers -----------------------------------------------------------------------

struct ContentHeader {
    uint32_t literalRange = 0;     // L: a new literal is a number below L
    uint32_t window = 0;           // W: the largest match offset
    uint32_t literalCapacity = 0;  // D
    uint32_t offsetCapacity = 0;   // Pelma0: high-offset model; Pelma1: middle-offset model
    uint32_t lengthCapacity[4] = {0, 0, 0, 0};

    uint32_t LengthCapacity(uint32_t model) const {
        uint32_t group = model / 16;
        return lengthCapacity[group > 3 ? 3 : group];
    }
};

ContentHeader UnpackHeader(PelmaCodec codec, const uint8_t* p, bool reversed);

void PackHeader(PelmaCodec codec, const ContentHeader& h, uint8_t* p);

// ---- Model memory --------------------------------------------------------------------------

// Carves typed arrays out of one block; with a null base it only measures.
class Carver {
public:
    explicit Carver(uint8_t* base) : base_(base) {}
    template <typename T>
    T* Take(uint64_t count) {
        used_ = (used_ + alignof(T) - 1) & ~uint64_t(alignof(T) - 1);
        T* p = base_ ? reinterpret_cast<T*>(base_ + used_) : nullptr;
        used_ += count * sizeof(T);
        return p;
    }
    uint64_t used() const { return used_; }
    bool filling() const { return base_ != nullptr; }

private:
    uint8_t* base_;
    uint64_t used_ = 0;
};

// ---- Groups of 16 counts -------------------------------------------------------------------

// Tiers of 16-way running sums: enough for 16^8 symbols.
constexpr uint32_t kGroupTiers = 8;

// In a group of 16 inclusive running sums, the last one above rest (all below 2^15): the
// index of the first sum above rest. The sums grow along the group, so the entries above rest
// form the upper run of the mask.
inline uint32_t SelectInGroup(const uint16_t* group, uint32_t rest) {
#if defined(__SSE2__)
    __m128i r = _mm_set1_epi16(int16_t(rest));
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(group));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(group + 8));
    uint32_t above = uint32_t(_mm_movemask_epi8(_mm_cmpgt_epi16(a, r))) |
                     uint32_t(_mm_movemask_epi8(_mm_cmpgt_epi16(b, r))) << 16;
    return above ? uint32_t(__builtin_ctz(above)) / 2 : 15;
#else
    for (uint32_t i = 0; i < 15; ++i)
        if (group[i] > rest) return i;
    return 15;
#endif
}

// Row f holds 1 in the entries from f on: what one more count of entry f adds to the running
// sums of its group.
struct GroupSteps {
    alignas(16) uint16_t row[16][16];
    constexpr GroupSteps() : row{} {
        for (int f = 0; f < 16; ++f)
            for (int e = 0; e < 16; ++e)
                row[f][e] = e >= f ? 1 : 0;
    }
};
inline constexpr GroupSteps kGroupSteps{};

// One more count of entry first in the running sums of a group.
inline void CountInGroup(uint16_t* group, uint32_t first) {
#if defined(__SSE2__)
    const __m128i* step = reinterpret_cast<const __m128i*>(kGroupSteps.row[first]);
    __m128i* p = reinterpret_cast<__m128i*>(group);
    _mm_storeu_si128(p, _mm_add_epi16(_mm_loadu_si128(p), _mm_load_si128(step)));
    _mm_storeu_si128(p + 1, _mm_add_epi16(_mm_loadu_si128(p + 1), _mm_load_si128(step + 1)));
#else
    for (uint32_t e = first; e < 16; ++e)
        ++group[e];
#endif
}

// ---- Pelma0 model --------------------------------------------------------------------------

// Slot 0 is the escape, slots 1..k the symbols, slots past k count 0.
//
// The symbol slots are the leaves of a tree of fan-out 16 (the search structure is ours; only
// the intervals matter). Tier 0 holds, per group of 16 leaves, the running sums of their
// counts; each entry of tier t + 1 stands for a group of tier t, with running sums of those
// groups' totals, up to a tier of one group. Finding a value compares it with one group per
// tier, from the lowest tier whose first group covers all k symbols; counting a symbol adds to
// one group per tier. Every tier has a zero entry before it, so the sum before entry 0 of any
// group can be read as the entry before it and masked.
struct Model0 {
    uint32_t* symbols;
    uint16_t* counts;
    int32_t* slotOf;  // encoder: symbol -> slot, 0 when absent
    uint16_t* sums;   // the tiers, each after its zero entry
    uint32_t tierStart[kGroupTiers];
    uint32_t tierGroups[kGroupTiers];
    uint32_t tiers;
    uint32_t activeTiers;  // tiers that the first group of the top one needs for k symbols
    uint32_t slots;        // array size, escape included
    uint32_t k;
    uint32_t capacity;
    uint32_t total;

    void Plan(Carver& carver, uint32_t capacityValue, uint64_t symbolLimit, uint64_t mapRange);

    // Counts one more for a symbol slot in the tiers; its count changes separately.
    void Add(uint32_t slot) {
        if (slot == 0) return;
        uint32_t i = slot - 1;
        for (uint32_t t = 0; t < tiers; ++t) {
            CountInGroup(sums + tierStart[t] + (i & ~15u), i & 15);
            i >>= 4;
        }
    }
    // The cumulative count below a slot.
    uint32_t Prefix(uint32_t slot) const {
        if (slot == 0) return 0;
        uint32_t i = slot - 1;
        uint32_t s = counts[0];
        for (uint32_t t = 0; t < tiers; ++t) {
            if (i & 15) s += sums[tierStart[t] + i - 1];
            i >>= 4;
        }
        return s;
    }
    // The slot whose interval holds v (v below the total) and its cumulative count. The sums
    // are the library's own, so a descent never leaves the groups that exist; the clamp only
    // keeps that true whatever happens.
    [[gnu::always_inline]] uint32_t Find(uint32_t v, uint32_t* cum) const {
        if (v < counts[0]) {
            *cum = 0;
            return 0;
        }
        uint32_t rest = v - counts[0];
        uint32_t index = 0;
        for (uint32_t t = activeTiers; t-- != 0;) {
            const uint16_t* group = sums + tierStart[t] + 16 * index;
            uint32_t j = SelectInGroup(group, rest);
            rest -= group[int32_t(j) - 1] & (0u - uint32_t(j != 0));
            index = 16 * index + j;
            if (t != 0 && index >= tierGroups[t - 1]) index = tierGroups[t - 1] - 1;
        }
        *cum = v - rest;
        return 1 + index;
    }
    void RebuildTree();
    void UpdateActiveTiers() {
        uint64_t span = 16;
        activeTiers = 1;
        while (span < k && activeTiers < tiers) {
            span *= 16;
            ++activeTiers;
        }
    }

    void Chosen(uint32_t slot) {
        ++counts[slot];
        ++total;
        Add(slot);
    }

    bool AddSymbol(uint32_t symbol) {
        if (k + 1 >= slots) return false;
        ++k;
        symbols[k] = symbol;
        counts[k] = 2;
        total += 2;
        Add(k);
        Add(k);
        UpdateActiveTiers();
        if (slotOf) slotOf[symbol] = int32_t(k);
        if (k == capacity) {
            total -= counts[0];
            counts[0] = 0;
        }
        return true;
    }

    void MoveSlot(uint32_t from, uint32_t to) {
        symbols[to] = symbols[from];
        counts[to] = counts[from];
        if (slotOf) slotOf[symbols[to]] = int32_t(to);
    }
    void SwapSlots(uint32_t a, uint32_t b) {
        uint32_t s = symbols[a];
        uint16_t c = counts[a];
        symbols[a] = symbols[b];
        counts[a] = counts[b];
        symbols[b] = s;
        counts[b] = c;
        if (slotOf) {
            slotOf[symbols[a]] = int32_t(a);
            slotOf[symbols[b]] = int32_t(b);
        }
    }

    // Halves the counts, dropping the symbols seen less than twice, and moves the most frequent
    // symbol to the start of the last bucket.
    void Rescale();
};

template <typename Decoder>
[[gnu::always_inline]] inline bool DecodeSymbol0(Model0& model, Decoder& decoder,
                                                 uint64_t escapeRange, uint32_t* symbol) {
    if (__builtin_expect(model.total > kPelma0RescaleTotal, 0)) model.Rescale();
    if (__builtin_expect(model.total == 0, 0)) return false;
    uint32_t v = decoder.Value(model.total);
    if (__builtin_expect(v >= model.total, 0)) return false;
    uint32_t cum;
    uint32_t slot = model.Find(v, &cum);
    if (__builtin_expect(slot > model.k, 0)) return false;
    decoder.Update(cum, model.counts[slot], model.total);
    model.Chosen(slot);
    if (__builtin_expect(slot != 0, 1)) {
        *symbol = model.symbols[slot];
        return true;
    }
    if (escapeRange > 0xFFFFFFFFu || !decoder.Uniform(uint32_t(escapeRange), symbol)) return false;
    return model.AddSymbol(*symbol);
}

// False when the model cannot express the symbol (an escape that the capacities rule out).
[[gnu::always_inline]] inline bool EncodeSymbol0(Model0& model, Pelma0Encoder& encoder,
                                                 uint32_t escapeRange, uint32_t symbol) {
    if (model.total > kPelma0RescaleTotal) model.Rescale();
    uint32_t slot = uint32_t(model.slotOf[symbol]);
    if (slot == 0 && (model.counts[0] == 0 || symbol >= escapeRange)) return false;
    encoder.Encode(model.Prefix(slot), model.counts[slot], model.total);
    model.Chosen(slot);
    if (slot != 0) return true;
    encoder.Uniform(symbol, escapeRange);
    return model.AddSymbol(symbol);
}

// ---- Pelma1 model --------------------------------------------------------------------------

constexpr uint32_t kIndexedSlots = 12;
constexpr uint32_t kIndexShift = 6;
constexpr uint32_t kIndexCells = kPelma1TableTotal >> kIndexShift;

// Counts with a cumulative table scaled to 2^14 that is rebuilt only now and then; symbols
// added since the last rebuild are reached through the escape.
struct Model1 {
    uint16_t* symbols;
    uint16_t* counts;
    uint16_t* table;  // boundaries 0..m+1
    uint16_t* index;  // decoder: first slot of each 1/256 of the table, once the table is long
    int32_t* slotOf;
    uint32_t slots;
    uint32_t k, m;
    uint32_t capacity;
    uint32_t total;
    uint32_t nextRebuild, interval, largestInterval, threshold;

    void Plan(Carver& carver, uint32_t capacityValue, uint64_t symbolLimit, int64_t largest,
              uint64_t mapRange);

    void Rescale();

    bool Rebuild();

    bool Prepare() {
        if (__builtin_expect(total < nextRebuild, 1)) return true;
        if (nextRebuild >= threshold) Rescale();
        return Rebuild();
    }

    // The table slot holding v: the last slot whose lower boundary is not above it. Short
    // tables are scanned; long ones start from the slot their index gives for v's cell.
    uint32_t Find(uint32_t v) const {
        uint32_t j = m >= kIndexedSlots && index != nullptr ? index[v >> kIndexShift] : 0;
        while (table[j + 1] <= v)
            ++j;
        return j;
    }

    bool AddSymbol(uint32_t symbol) {
        if (k + 1 >= slots) return false;
        ++k;
        symbols[k] = uint16_t(symbol);
        counts[k] = 2;
        total += 2;
        if (slotOf) slotOf[symbol] = int32_t(k);
        if (k == capacity) {
            total -= counts[0];
            counts[0] = 0;
        }
        return true;
    }
};

[[gnu::always_inline]] inline bool DecodeSymbol1(Model1& model, Pelma1Decoder& decoder,
                                                 uint64_t escapeRange, uint32_t* symbol) {
    if (!model.Prepare()) return false;
    uint32_t v = decoder.Value14();
    uint32_t j = model.Find(v);
    decoder.Update14(model.table[j], uint32_t(model.table[j + 1]) - model.table[j]);
    ++model.counts[j];
    ++model.total;
    if (j != 0) {
        *symbol = model.symbols[j];
        return true;
    }
    uint32_t recent = 0;
    if (model.m != model.k && !decoder.Uniform(2, &recent)) return false;
    if (recent == 0) {
        if (escapeRange > 0xFFFFFFFFu || !decoder.Uniform(uint32_t(escapeRange), symbol))
            return false;
        return model.AddSymbol(*symbol);
    }
    uint32_t index;
    if (!decoder.Uniform(model.k - model.m, &index)) return false;
    uint32_t slot = model.m + 1 + index;
    model.counts[slot] += 2;
    model.total += 2;
    *symbol = model.symbols[slot];
    return true;
}

[[gnu::always_inline]] inline bool EncodeSymbol1(Model1& model, Pelma1Encoder& encoder,
                                                 uint32_t escapeRange, uint32_t symbol) {
    if (!model.Prepare()) return false;
    uint32_t slot = uint32_t(model.slotOf[symbol]);
    if (slot != 0 && slot <= model.m) {
        encoder.Encode14(model.table[slot], uint32_t(model.table[slot + 1]) - model.table[slot]);
        ++model.counts[slot];
        ++model.total;
        return true;
    }
    uint32_t escapeWidth = uint32_t(model.table[1]) - model.table[0];
    if (escapeWidth == 0 || (slot == 0 && symbol >= escapeRange)) return false;
    encoder.Encode14(0, escapeWidth);
    ++model.counts[0];
    ++model.total;
    if (slot != 0) {
        encoder.Uniform(1, 2);
        encoder.Uniform(slot - model.m - 1, model.k - model.m);
        model.counts[slot] += 2;
        model.total += 2;
        return true;
    }
    if (model.m != model.k) encoder.Uniform(0, 2);
    encoder.Uniform(symbol, escapeRange);
    return model.AddSymbol(symbol);
}

// ---- Model sets of a content ---------------------------------------------------------------

struct Models0 {
    Model0 length[kLengthModels];
    Model0 literal;
    Model0 low;
    Model0 high;

    // mapped: the encoder's symbol maps are wanted.
    void Plan(Carver& carver, const ContentHeader& h, int64_t contentSize, bool mapped);
};

struct Models1 {
    Model1 length[kLengthModels];
    Model1 literal[4];
    Model1 low;
    Model1 middle;
    Model1* high;
    uint32_t highCount;

    void Plan(Carver& carver, const ContentHeader& h, int64_t contentSize, bool mapped);
};

// The models of a content in one zeroed block from the library's allocator (the caller
// releases it); mapped adds the encoder's symbol maps. Null when memory runs out.
uint8_t* AllocateModels(Models0* models, const ContentHeader& h, int64_t contentSize, bool mapped);
uint8_t* AllocateModels(Models1* models, const ContentHeader& h, int64_t contentSize, bool mapped);

}  // namespace pelma
}  // namespace orvane

#endif  // ORVANE_PELMA_MODEL_H

// Model set-up, rescaling and table rebuilds of both codecs, and the content headers.
#include "file/orvane_pelma_model.h"

#include <cstring>

#include "core/orvane_memory.h"

namespace orvane {
namespace pelma {
namespace {

uint32_t Pelma1HighCapacity(uint32_t window) {
    return window < 1024 ? window / 4 + 1 : 256;
}

// Plans the models twice: once to measure, once into a zeroed block.
template <typename Models>
uint8_t* AllocateBlock(Models* models, const ContentHeader& h, int64_t contentSize, bool mapped) {
    Carver measure(nullptr);
    models->Plan(measure, h, contentSize, mapped);
    if (measure.used() > INT32_MAX) return nullptr;
    uint8_t* block = ORVANE_ALLOCATE_ARRAY(uint8_t, int64_t(measure.used()));
    if (block == nullptr) return nullptr;
    std::memset(block, 0, size_t(measure.used()));
    Carver carve(block);
    models->Plan(carve, h, contentSize, mapped);
    return block;
}

}  // namespace

ContentHeader UnpackHeader(PelmaCodec codec, const uint8_t* p, bool reversed) {
    uint32_t w0 = ReadWord(p, reversed), w1 = ReadWord(p + 4, reversed),
             w2 = ReadWord(p + 8, reversed);
    ContentHeader h;
    h.literalRange = w0 & 0x1FF;
    h.window = w0 >> 9;
    h.literalCapacity = w1 & 0x1FF;
    h.offsetCapacity = codec == PelmaCodec::Pelma0 ? w1 >> 9 : (w1 >> 19) + 1;
    for (int g = 0; g < 4; ++g)
        h.lengthCapacity[g] = (w2 >> (24 - 8 * g)) & 0xFF;
    return h;
}

void PackHeader(PelmaCodec codec, const ContentHeader& h, uint8_t* p) {
    uint32_t w[3];
    w[0] = h.literalRange | h.window << 9;
    w[1] = h.literalCapacity |
           (codec == PelmaCodec::Pelma0 ? h.offsetCapacity << 9 : (h.offsetCapacity - 1) << 19);
    w[2] = 0;
    for (int g = 0; g < 4; ++g)
        w[2] |= h.lengthCapacity[g] << (24 - 8 * g);
    std::memcpy(p, w, 12);
}

void Model0::Plan(Carver& carver, uint32_t capacityValue, uint64_t symbolLimit, uint64_t mapRange) {
    capacity = capacityValue;
    slots = uint32_t(Min64(capacityValue, symbolLimit)) + 1;
    symbols = carver.Take<uint32_t>(slots);
    counts = carver.Take<uint16_t>(slots);
    uint64_t used = 0;
    tiers = 0;
    for (uint64_t entries = slots - 1;;) {
        uint64_t groups = entries ? (entries + 15) / 16 : 1;
        tierStart[tiers] = uint32_t(used + 1);
        tierGroups[tiers] = uint32_t(groups);
        used += 1 + 16 * groups;
        ++tiers;
        if (groups == 1 || tiers == kGroupTiers) break;
        entries = groups;
    }
    sums = carver.Take<uint16_t>(used);
    slotOf = mapRange ? carver.Take<int32_t>(mapRange) : nullptr;
    if (!carver.filling()) return;
    k = 0;
    counts[0] = 3;
    total = 3;
    activeTiers = 1;
}

void Model0::RebuildTree() {
    for (uint32_t t = 0; t < tiers; ++t) {
        uint16_t* tier = sums + tierStart[t];
        for (uint32_t g = 0; g < tierGroups[t]; ++g) {
            uint32_t running = 0;
            for (uint32_t e = 0; e < 16; ++e) {
                uint32_t i = 16 * g + e;
                if (t == 0) {
                    running += i + 1 < slots ? counts[i + 1] : 0;
                } else if (i < tierGroups[t - 1]) {
                    running += sums[tierStart[t - 1] + 16 * i + 15];
                }
                tier[16 * g + e] = uint16_t(running);
            }
        }
    }
    UpdateActiveTiers();
}

void Model0::Rescale() {
    uint32_t width = Pelma0BucketWidth(k + 1);
    counts[0] >>= 1;
    uint32_t best = 0, bestCount = 0;
    for (uint32_t i = 1; i <= k; ++i) {
        while (counts[i] < 2) {
            if (slotOf) slotOf[symbols[i]] = 0;
            if (i == k) break;
            MoveSlot(k, i);
            counts[k] = 0;
            --k;
        }
        if (counts[i] < 2) {  // the last slot went away: the pass ends
            counts[k] = 0;
            --k;
            break;
        }
        counts[i] >>= 1;
        if (counts[i] > bestCount) {
            bestCount = counts[i];
            best = i;
        }
    }
    if (bestCount != 0) {
        uint32_t a = 1;
        if (width != 0) a = k < 15 * width ? k - k % width : 15 * width;
        if (a == 0) a = 1;
        SwapSlots(best, a);
    }
    if (k < capacity && counts[0] == 0) counts[0] = 2;
    total = 0;
    for (uint32_t i = 0; i <= k; ++i)
        total += counts[i];
    RebuildTree();
}

void Model1::Plan(Carver& carver, uint32_t capacityValue, uint64_t symbolLimit, int64_t largest,
                  uint64_t mapRange) {
    capacity = capacityValue;
    slots = uint32_t(Min64(capacityValue, symbolLimit)) + 1;
    symbols = carver.Take<uint16_t>(slots);
    counts = carver.Take<uint16_t>(slots);
    table = carver.Take<uint16_t>(uint64_t(slots) + 1);
    index = !mapRange && slots > kIndexedSlots ? carver.Take<uint16_t>(kIndexCells) : nullptr;
    slotOf = mapRange ? carver.Take<int32_t>(mapRange) : nullptr;
    if (!carver.filling()) return;
    int64_t t = 32 * largest;
    threshold = t < 256 ? 256 : t >= 15168 ? 15160 : uint32_t(t);
    largestInterval =
        2 * largest >= 128 ? uint32_t(Min64(uint64_t(2 * largest), threshold / 2 - 32)) : 128;
    k = m = 0;
    counts[0] = 4;
    total = 4;
    table[0] = 0;
    table[1] = kPelma1TableTotal;
    nextRebuild = 8;
    interval = 4;
}

void Model1::Rescale() {
    counts[0] >>= 1;
    uint32_t best = 0, bestCount = 0;
    for (uint32_t i = 1; i <= k; ++i) {
        while (counts[i] < 2) {
            if (slotOf) slotOf[symbols[i]] = 0;
            if (i == k) break;
            symbols[i] = symbols[k];
            counts[i] = counts[k];
            if (slotOf) slotOf[symbols[i]] = int32_t(i);
            --k;
        }
        if (counts[i] < 2) {
            --k;
            break;
        }
        counts[i] >>= 1;
        if (counts[i] > bestCount) {
            bestCount = counts[i];
            best = i;
        }
    }
    if (k != 0 && best != 0 && best != k) {
        uint16_t s = symbols[best], c = counts[best];
        symbols[best] = symbols[k];
        counts[best] = counts[k];
        symbols[k] = s;
        counts[k] = c;
        if (slotOf) {
            slotOf[symbols[best]] = int32_t(best);
            slotOf[symbols[k]] = int32_t(k);
        }
    }
    if (k < capacity && counts[0] == 0) counts[0] = 1;
    total = 0;
    for (uint32_t i = 0; i <= k; ++i)
        total += counts[i];
}

bool Model1::Rebuild() {
    uint32_t step = total ? (1u << 17) / total : 0;
    if (step == 0) return false;
    uint32_t boundary = 0;
    table[0] = 0;
    for (uint32_t j = 0; j < k; ++j) {
        boundary += step * counts[j] / 8;
        table[j + 1] = uint16_t(boundary);
    }
    table[k + 1] = kPelma1TableTotal;
    m = k;
    if (index != nullptr && m >= kIndexedSlots) {
        uint32_t j = 0;
        for (uint32_t cell = 0; cell < kIndexCells; ++cell) {
            uint32_t v = cell << kIndexShift;
            while (table[j + 1] <= v)
                ++j;
            index[cell] = uint16_t(j);
        }
    }
    if (largestInterval < 2 * interval) {
        nextRebuild = total + largestInterval;
    } else {
        interval *= 2;
        nextRebuild = total + interval;
    }
    return true;
}

void Models0::Plan(Carver& carver, const ContentHeader& h, int64_t contentSize, bool mapped) {
    uint64_t reach = Min64(h.window, uint64_t(contentSize));
    for (uint32_t c = 0; c < kLengthModels; ++c)
        length[c].Plan(carver, h.LengthCapacity(c), kLengthSymbols, mapped ? kLengthSymbols : 0);
    literal.Plan(carver, h.literalCapacity, Min32(h.literalRange, 256), mapped ? 256 : 0);
    uint32_t lowRange = Min32(h.window, 4);
    low.Plan(carver, lowRange, lowRange, mapped ? 4 : 0);
    high.Plan(carver, h.offsetCapacity, reach / 4 + 1, mapped ? reach / 4 + 1 : 0);
}

void Models1::Plan(Carver& carver, const ContentHeader& h, int64_t contentSize, bool mapped) {
    uint64_t reach = Min64(h.window, uint64_t(contentSize));
    for (uint32_t c = 0; c < kLengthModels; ++c)
        length[c].Plan(carver, h.LengthCapacity(c), kLengthSymbols, 64,
                       mapped ? kLengthSymbols : 0);
    for (Model1& model : literal)
        model.Plan(carver, h.literalCapacity, Min32(h.literalRange, 256),
                   int64_t(h.literalRange) - 1, mapped ? 256 : 0);
    uint32_t lowRange = Min32(h.window + 1, 4);
    low.Plan(carver, lowRange, lowRange, int64_t(lowRange) - 1, mapped ? 4 : 0);
    middle.Plan(carver, h.offsetCapacity, reach / 1024 + 1, h.window / 1024,
                mapped ? reach / 1024 + 1 : 0);
    highCount = uint32_t(reach / 1024 + 1);
    high = carver.Take<Model1>(highCount);
    uint32_t highCapacity = Pelma1HighCapacity(h.window);
    int64_t highLargest = h.window < 1024 ? h.window / 4 : 255;
    for (uint32_t i = 0; i < highCount; ++i) {
        Model1 scratch;
        Model1& model = carver.filling() ? high[i] : scratch;
        model.Plan(carver, highCapacity, reach / 4 + 1 < 256 ? reach / 4 + 1 : 256, highLargest,
                   mapped ? 256 : 0);
    }
}

uint8_t* AllocateModels(Models0* models, const ContentHeader& h, int64_t contentSize, bool mapped) {
    return AllocateBlock(models, h, contentSize, mapped);
}

uint8_t* AllocateModels(Models1* models, const ContentHeader& h, int64_t contentSize, bool mapped) {
    return AllocateBlock(models, h, contentSize, mapped);
}

}  // namespace pelma
uint32_t Pelma0BucketWidth(uint32_t n) {
    if (n < 6) return 0;
    uint64_t bestValue = UINT64_MAX;
    uint32_t bestWidth = 1;
    for (uint32_t e = 0; e < 32; ++e) {
        uint64_t w = uint64_t{1} << e;
        uint64_t buckets = (n + w - 1) / w - 1;
        if (buckets > 15) buckets = 15;
        uint64_t rest = n - w * buckets;
        uint64_t value = w > rest ? w : rest;
        if (value < bestValue) {
            bestValue = value;
            bestWidth = uint32_t(w);
        }
        if (w > n) break;
    }
    return bestWidth;
}

}  // namespace orvane

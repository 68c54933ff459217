// Pelma0 and Pelma1: coders, adaptive models, the token grammar and the content headers.
//
// Both directions share one implementation of every model so that the encoder updates its
// models exactly as a decoder will. The decoders treat the stream as hostile: every value that
// indexes memory is checked, bytes past the end of the stream read as zeros, and a stream that
// needs more than the reader's padding, reaches before the output, or runs past a content's end
// is refused.
#include "file/orvane_pelma.h"

#include <cmath>
#include <cstring>

#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "file/orvane_pelma_match.h"

namespace orvane {
namespace {

constexpr uint32_t kLengthModels = 65;
constexpr uint32_t kLengthSymbols = 65;
constexpr uint32_t kMask31 = 0x7FFFFFFFu;
constexpr uint32_t kHalf = 0x40000000u;
constexpr uint32_t kQuarter = 0x20000000u;
constexpr uint32_t kPelma0RescaleTotal = 16383;
constexpr uint32_t kPelma1TableBits = 14;
constexpr uint32_t kPelma1TableTotal = 1u << kPelma1TableBits;
constexpr uint32_t kLongLengths[4] = {128, 192, 256, 512};

// Windows of the encoders: Pelma0 pays for a new offset with a uniform number over the whole
// window, so it looks less far back.
constexpr uint32_t kPelma0Window = 1u << 17;
constexpr uint32_t kPelma1Window = 1u << 20;
// Contents this small are parsed once, lazily.
constexpr int64_t kPricedParseMinimum = 64;
constexpr int kPricedRounds = 2;
constexpr uint32_t kPricedChainDepth = 32;

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

inline uint32_t ReadWord(const uint8_t* p, bool reversed) {
    uint32_t w;
    std::memcpy(&w, p, 4);
    return reversed ? ByteSwap32(w) : w;
}

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

// ---- Output buffer -------------------------------------------------------------------------

struct ByteSink {
    uint8_t* data = nullptr;
    int64_t size = 0;
    int64_t capacity = 0;
    bool failed = false;

    bool Reserve(int64_t more) {
        if (size + more <= capacity) return true;
        if (failed) return false;
        int64_t grown = capacity + capacity / 2 + more + 64;
        uint8_t* bigger = grown > INT32_MAX ? nullptr : ORVANE_ALLOCATE_ARRAY(uint8_t, grown);
        if (bigger == nullptr) {
            failed = true;
            return false;
        }
        Copy(size_t(size), data, bigger);
        ORVANE_DEALLOCATE(data);
        data = bigger;
        capacity = grown;
        return true;
    }
    void PutByte(uint32_t b) {
        if (size < capacity || Reserve(1)) data[size++] = uint8_t(b);
    }
    void PutWord(uint32_t w) {
        if (size + 4 <= capacity || Reserve(4)) {
            std::memcpy(data + size, &w, 4);
            size += 4;
        }
    }
};

// ---- Pelma0 coder: interval coding with 31-bit registers, bits in 32-bit words --------------

inline uint32_t ReverseBits(uint32_t v) {
    v = ((v >> 1) & 0x55555555u) | ((v & 0x55555555u) << 1);
    v = ((v >> 2) & 0x33333333u) | ((v & 0x33333333u) << 2);
    v = ((v >> 4) & 0x0F0F0F0Fu) | ((v & 0x0F0F0F0Fu) << 4);
    return ByteSwap32(v);
}

class Pelma0Decoder {
public:
    void Start(const uint8_t* bytes, int64_t size, int64_t first, bool reversed) {
        bytes_ = bytes;
        size_ = size;
        next_ = first;
        reversed_ = reversed;
        low_ = 0;
        high_ = kMask31;
        code_ = Bits(31);
    }

    // The value under total whose interval holds the code; total or more when the state is
    // impossible.
    uint32_t Value(uint32_t total) const {
        if (code_ < low_ || code_ > high_) return total;
        uint64_t range = uint64_t(high_) - low_ + 1;
        return uint32_t(((uint64_t(code_ - low_) + 1) * total - 1) / range);
    }

    void Update(uint32_t cum, uint32_t freq, uint32_t total) {
        uint64_t range = uint64_t(high_) - low_ + 1;
        high_ = low_ + uint32_t(range * (cum + freq) / total) - 1;
        low_ = low_ + uint32_t(range * cum / total);
        // Shift out all leading bits on which low and high agree at once.
        uint32_t differ = (low_ ^ high_) & kMask31;
        if ((differ & kHalf) == 0) {
            int shift = __builtin_clz(differ | 1) - 1;
            low_ = (low_ << shift) & kMask31;
            high_ = ((high_ << shift) | ((1u << shift) - 1)) & kMask31;
            code_ = ((code_ << shift) | Bits(shift)) & kMask31;
        }
        while ((low_ & kQuarter) && !(high_ & kQuarter)) {
            low_ = (low_ & (kQuarter - 1)) << 1;
            high_ = ((high_ << 1) | (kHalf | 1)) & kMask31;
            code_ = (((code_ ^ kQuarter) << 1) | Bits(1)) & kMask31;
        }
    }

    bool Uniform(uint32_t n, uint32_t* value) {
        if (n == 0) return false;
        uint32_t v = Value(n);
        if (v >= n) return false;
        Update(v, 1, n);
        *value = v;
        return true;
    }

    // True once the decoder has taken words lying wholly past the stream and its padding.
    bool Exhausted() const { return next_ - 4 > size_; }

private:
    uint32_t FetchWord() {
        int64_t at = next_;
        next_ += 4;
        if (at + 4 <= size_) return ReadWord(bytes_ + at, reversed_);
        uint32_t w = 0;
        if (at < size_) std::memcpy(&w, bytes_ + at, size_t(size_ - at));  // a last partial word
        return w;
    }

    // The next n bits (1 to 31), the first one the most significant; the stream gives each
    // word's bits from its least significant up.
    uint32_t Bits(int n) {
        if (count_ < n) {
            buffer_ |= uint64_t(ReverseBits(FetchWord())) << (32 - count_);
            count_ += 32;
        }
        uint32_t v = uint32_t(buffer_ >> (64 - n));
        buffer_ <<= n;
        count_ -= n;
        return v;
    }

    const uint8_t* bytes_ = nullptr;
    int64_t size_ = 0;
    int64_t next_ = 0;
    bool reversed_ = false;
    uint64_t buffer_ = 0;
    int count_ = 0;
    uint32_t low_ = 0, high_ = kMask31, code_ = 0;
};

class Pelma0Encoder {
public:
    explicit Pelma0Encoder(ByteSink* sink) : sink_(sink) {}

    void Encode(uint32_t cum, uint32_t freq, uint32_t total) {
        uint64_t range = uint64_t(high_) - low_ + 1;
        high_ = low_ + uint32_t(range * (cum + freq) / total) - 1;
        low_ = low_ + uint32_t(range * cum / total);
        for (;;) {
            if (((low_ ^ high_) & kHalf) == 0) {
                PutSettled(low_ >> 30);
                low_ = (low_ << 1) & kMask31;
                high_ = ((high_ << 1) | 1) & kMask31;
            } else if ((low_ & kQuarter) && !(high_ & kQuarter)) {
                ++pending_;
                low_ = (low_ & (kQuarter - 1)) << 1;
                high_ = ((high_ << 1) | (kHalf | 1)) & kMask31;
            } else {
                break;
            }
        }
    }
    void Uniform(uint32_t value, uint32_t n) { Encode(value, 1, n); }

    // Two more bits select a quarter inside the interval whatever follows them.
    void Finish() {
        ++pending_;
        PutSettled((low_ >> 29) & 1);
        if (bits_ != 0) sink_->PutWord(word_);
        bits_ = 0;
        word_ = 0;
    }

private:
    void PutBit(uint32_t bit) {
        word_ |= bit << bits_;
        if (++bits_ == 32) {
            sink_->PutWord(word_);
            word_ = 0;
            bits_ = 0;
        }
    }
    void PutSettled(uint32_t bit) {
        PutBit(bit);
        for (; pending_ != 0; --pending_)
            PutBit(bit ^ 1);
    }

    ByteSink* sink_;
    uint32_t low_ = 0, high_ = kMask31;
    uint64_t pending_ = 0;
    uint32_t word_ = 0;
    int bits_ = 0;
};

// ---- Pelma1 coder: byte-wise range coding, 31-bit code and 7 extra bits ---------------------

class Pelma1Decoder {
public:
    void Start(const uint8_t* bytes, int64_t size, int64_t first) {
        bytes_ = bytes;
        size_ = size;
        next_ = first;
        uint32_t b = NextByte();
        code_ = b >> 1;
        range_ = 128;
        pending_ = b & 1;
    }

    uint32_t Value14() {
        Normalize();
        step_ = range_ >> kPelma1TableBits;
        uint32_t v = code_ / step_;
        return v < kPelma1TableTotal ? v : kPelma1TableTotal - 1;
    }
    void Update14(uint32_t cum, uint32_t freq) {
        code_ -= step_ * cum;
        if (cum + freq < kPelma1TableTotal) {
            range_ = step_ * freq;
        } else {
            range_ -= step_ * cum;
        }
    }
    bool Uniform(uint32_t n, uint32_t* value) {
        if (n == 0) return false;
        Normalize();
        uint32_t step = range_ / n;
        uint32_t v = code_ / step;
        if (v > n - 1) v = n - 1;
        code_ -= step * v;
        range_ = v + 1 < n ? step : range_ - step * v;
        *value = v;
        return true;
    }
    bool Exhausted() const { return next_ > size_ + kPelmaReadPadding; }

private:
    uint32_t NextByte() {
        int64_t at = next_++;
        return at < size_ ? bytes_[at] : 0;
    }
    void Normalize() {
        while (range_ <= 0x800000u) {
            range_ <<= 8;
            uint32_t b = NextByte();
            code_ = (((code_ << 1) | pending_) << 7) | (b >> 1);
            pending_ = b & 1;
        }
    }

    const uint8_t* bytes_ = nullptr;
    int64_t size_ = 0;
    int64_t next_ = 0;
    uint32_t code_ = 0, range_ = 0, pending_ = 0, step_ = 1;
};

class Pelma1Encoder {
public:
    explicit Pelma1Encoder(ByteSink* sink) : sink_(sink) {}

    void Encode14(uint32_t cum, uint32_t freq) {
        Normalize();
        uint32_t step = range_ >> kPelma1TableBits;
        Narrow(step, cum, freq, kPelma1TableTotal);
    }
    void Uniform(uint32_t value, uint32_t n) {
        Normalize();
        Narrow(range_ / n, value, 1, n);
    }

    // Settles on a value whose low 22 bits are zero inside the interval: the two bytes that
    // carry its upper bits decide the decoding whatever bytes follow them.
    void Finish() {
        Normalize();
        uint64_t value = (uint64_t(low_) + 0x3FFFFF) & ~uint64_t(0x3FFFFF);
        low_ = uint32_t(value);
        Shift();
        Shift();
        Emit(buffer_);
        for (; help_ != 0; --help_)
            Emit(0xFF);
    }

private:
    void Narrow(uint32_t step, uint32_t cum, uint32_t freq, uint32_t total) {
        uint32_t t = step * cum;
        low_ += t;
        if (cum + freq < total) {
            range_ = step * freq;
        } else {
            range_ -= t;
        }
    }
    void Normalize() {
        while (range_ <= 0x800000u) {
            Shift();
        }
    }
    // One byte leaves the low register; a carry reaches the bytes held back.
    void Shift() {
        if (low_ < (0xFFu << 23)) {
            Emit(buffer_);
            for (; help_ != 0; --help_)
                Emit(0xFF);
            buffer_ = (low_ >> 23) & 0xFF;
        } else if (low_ & 0x80000000u) {
            Emit(buffer_ + 1);
            for (; help_ != 0; --help_)
                Emit(0);
            buffer_ = (low_ >> 23) & 0xFF;
        } else {
            ++help_;
        }
        range_ <<= 8;
        low_ = (low_ << 8) & kMask31;
    }
    // The byte held before the first shift stands above the coder's first interval; it never
    // receives a carry and is not part of the stream.
    void Emit(uint32_t b) {
        if (first_) {
            first_ = false;
            return;
        }
        sink_->PutByte(b & 0xFF);
    }

    ByteSink* sink_;
    uint32_t low_ = 0, range_ = 0x80000000u, buffer_ = 0;
    uint64_t help_ = 0;
    bool first_ = true;
};

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

// ---- Pelma0 model --------------------------------------------------------------------------

// Slot 0 is the escape, slots 1..k the symbols; a Fenwick tree over the counts finds the slot
// of a value (the search structure is ours; only the intervals matter).
struct Model0 {
    uint32_t* symbols;
    uint16_t* counts;
    uint32_t* tree;     // 1-based over slots 0..treeSize-1 (those past the array count 0)
    int32_t* slotOf;    // encoder: symbol -> slot, 0 when absent
    uint32_t slots;     // array size, escape included
    uint32_t treeSize;  // smallest power of two not below slots
    uint32_t k;
    uint32_t capacity;
    uint32_t total;

    void Plan(Carver& carver, uint32_t capacityValue, uint64_t symbolLimit, uint64_t mapRange) {
        capacity = capacityValue;
        slots = uint32_t(Min64(capacityValue, symbolLimit)) + 1;
        symbols = carver.Take<uint32_t>(slots);
        counts = carver.Take<uint16_t>(slots);
        treeSize = 1;
        while (treeSize < slots)
            treeSize *= 2;
        tree = carver.Take<uint32_t>(uint64_t(treeSize) + 1);
        slotOf = mapRange ? carver.Take<int32_t>(mapRange) : nullptr;
        if (!carver.filling()) return;
        k = 0;
        counts[0] = 3;
        total = 3;
        Add(0, 3);
    }

    void Add(uint32_t slot, int32_t delta) {
        for (uint32_t x = slot + 1; x <= treeSize; x += x & (0u - x))
            tree[x] += uint32_t(delta);
    }
    uint32_t Prefix(uint32_t slot) const {
        uint32_t s = 0;
        for (uint32_t x = slot; x != 0; x &= x - 1)
            s += tree[x];
        return s;
    }
    // The slot whose interval holds v (v below the total) and its cumulative count. The tree
    // spans a power of two, so the descent needs no bounds test and no branch per level.
    uint32_t Find(uint32_t v, uint32_t* cum) const {
        uint32_t pos = 0, rest = v;
        for (uint32_t step = treeSize / 2; step != 0; step >>= 1) {
            uint32_t t = tree[pos + step];
            uint32_t take = 0u - uint32_t(t <= rest);
            pos += step & take;
            rest -= t & take;
        }
        *cum = v - rest;
        return pos;
    }
    void RebuildTree() {
        for (uint32_t x = 1; x <= treeSize; ++x)
            tree[x] = x <= slots ? counts[x - 1] : 0;
        for (uint32_t x = 1; x <= treeSize; ++x) {
            uint32_t parent = x + (x & (0u - x));
            if (parent <= treeSize) tree[parent] += tree[x];
        }
    }

    void Chosen(uint32_t slot) {
        ++counts[slot];
        ++total;
        Add(slot, 1);
    }

    bool AddSymbol(uint32_t symbol) {
        if (k + 1 >= slots) return false;
        ++k;
        symbols[k] = symbol;
        counts[k] = 2;
        total += 2;
        Add(k, 2);
        if (slotOf) slotOf[symbol] = int32_t(k);
        if (k == capacity) {
            total -= counts[0];
            Add(0, -int32_t(counts[0]));
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
    void Rescale() {
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
};

template <typename Decoder>
bool DecodeSymbol0(Model0& model, Decoder& decoder, uint64_t escapeRange, uint32_t* symbol) {
    if (model.total > kPelma0RescaleTotal) model.Rescale();
    if (model.total == 0) return false;
    uint32_t v = decoder.Value(model.total);
    if (v >= model.total) return false;
    uint32_t cum;
    uint32_t slot = model.Find(v, &cum);
    if (slot > model.k) return false;
    decoder.Update(cum, model.counts[slot], model.total);
    model.Chosen(slot);
    if (slot != 0) {
        *symbol = model.symbols[slot];
        return true;
    }
    if (escapeRange > 0xFFFFFFFFu || !decoder.Uniform(uint32_t(escapeRange), symbol)) return false;
    return model.AddSymbol(*symbol);
}

// False when the model cannot express the symbol (an escape that the capacities rule out).
bool EncodeSymbol0(Model0& model, Pelma0Encoder& encoder, uint32_t escapeRange, uint32_t symbol) {
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

    void Rescale() {
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

    bool Rebuild() {
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

    bool Prepare() {
        if (total < nextRebuild) return true;
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

bool DecodeSymbol1(Model1& model, Pelma1Decoder& decoder, uint64_t escapeRange, uint32_t* symbol) {
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

bool EncodeSymbol1(Model1& model, Pelma1Encoder& encoder, uint32_t escapeRange, uint32_t symbol) {
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
    void Plan(Carver& carver, const ContentHeader& h, int64_t contentSize, bool mapped) {
        uint64_t reach = Min64(h.window, uint64_t(contentSize));
        for (uint32_t c = 0; c < kLengthModels; ++c)
            length[c].Plan(carver, h.LengthCapacity(c), kLengthSymbols,
                           mapped ? kLengthSymbols : 0);
        literal.Plan(carver, h.literalCapacity, Min32(h.literalRange, 256), mapped ? 256 : 0);
        uint32_t lowRange = Min32(h.window, 4);
        low.Plan(carver, lowRange, lowRange, mapped ? 4 : 0);
        high.Plan(carver, h.offsetCapacity, reach / 4 + 1, mapped ? reach / 4 + 1 : 0);
    }
};

uint32_t Pelma1HighCapacity(uint32_t window) {
    return window < 1024 ? window / 4 + 1 : 256;
}

struct Models1 {
    Model1 length[kLengthModels];
    Model1 literal[4];
    Model1 low;
    Model1 middle;
    Model1* high;
    uint32_t highCount;

    void Plan(Carver& carver, const ContentHeader& h, int64_t contentSize, bool mapped) {
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
};

// Plans the models twice: once to measure, once into a zeroed block.
template <typename Models>
uint8_t* AllocateModels(Models* models, const ContentHeader& h, int64_t contentSize, bool mapped) {
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

// ---- Decoding ------------------------------------------------------------------------------

enum class DecodeError { None, Memory, Model, Offset, Length, Exhausted };

inline void CopyMatch(uint8_t* out, uint64_t offset, uint32_t length) {
    const uint8_t* from = out - offset;
    if (offset >= length) {
        std::memcpy(out, from, length);
    } else {
        for (uint32_t i = 0; i < length; ++i)
            out[i] = from[i];
    }
}

// Copies a decoded match when it lies wholly inside what was decoded and what the part holds:
// an offset before the start of the output or a length past the stop is an inconsistent stream.
inline DecodeError CopyCheckedMatch(uint8_t* destination, int64_t* pos, int64_t stop,
                                    uint64_t offset, uint32_t length) {
    if (offset > uint64_t(*pos)) return DecodeError::Offset;
    if (length > stop - *pos) return DecodeError::Length;
    CopyMatch(destination + *pos, offset, length);
    *pos += length;
    return DecodeError::None;
}

DecodeError DecodeContent0(Pelma0Decoder& decoder, const ContentHeader& h, uint8_t* destination,
                           int64_t start, int64_t stop, int64_t* failedAt) {
    Models0 models;
    uint8_t* block = AllocateModels(&models, h, stop - start, false);
    if (block == nullptr) return DecodeError::Memory;
    DecodeError error = DecodeError::None;
    uint32_t previous = 0;
    int64_t pos = start;
    const uint64_t lowRange = Min32(h.window, 4);
    while (pos < stop) {
        uint32_t code;
        if (!DecodeSymbol0(models.length[previous], decoder, kLengthSymbols, &code) || code > 64) {
            error = DecodeError::Model;
            break;
        }
        previous = code;
        if (code == 0) {
            uint32_t literal;
            if (!DecodeSymbol0(models.literal, decoder, h.literalRange, &literal) ||
                literal > 255) {
                error = DecodeError::Model;
                break;
            }
            destination[pos++] = uint8_t(literal);
        } else {
            uint32_t length = LengthOfCode(code);
            uint64_t reach = Min64(uint64_t(pos - start), h.window);
            uint32_t q, r;
            if (!DecodeSymbol0(models.low, decoder, lowRange, &q) ||
                !DecodeSymbol0(models.high, decoder, reach / 4 + 1, &r)) {
                error = DecodeError::Model;
                break;
            }
            uint64_t offset = 4 * uint64_t(r) + q + 1;
            error = CopyCheckedMatch(destination, &pos, stop, offset, length);
            if (error != DecodeError::None) break;
        }
        if (decoder.Exhausted()) {
            error = DecodeError::Exhausted;
            break;
        }
    }
    ORVANE_DEALLOCATE(block);
    *failedAt = pos;
    return error;
}

DecodeError DecodeContent1(Pelma1Decoder& decoder, const ContentHeader& h, uint8_t* destination,
                           int64_t start, int64_t stop, int64_t* failedAt) {
    Models1 models;
    uint8_t* block = AllocateModels(&models, h, stop - start, false);
    if (block == nullptr) return DecodeError::Memory;
    DecodeError error = DecodeError::None;
    uint32_t previous = 0;
    int64_t pos = start;
    const uint64_t lowRange = Min32(h.window + 1, 4);
    while (pos < stop) {
        uint32_t code;
        if (!DecodeSymbol1(models.length[previous], decoder, kLengthSymbols, &code) || code > 64) {
            error = DecodeError::Model;
            break;
        }
        previous = code;
        if (code == 0) {
            uint32_t literal;
            // The section block is aligned to at least 4, so the address's low bits are the
            // position's.
            if (!DecodeSymbol1(models.literal[pos & 3], decoder, h.literalRange, &literal) ||
                literal > 255) {
                error = DecodeError::Model;
                break;
            }
            destination[pos++] = uint8_t(literal);
        } else {
            uint32_t length = LengthOfCode(code);
            uint64_t reach = Min64(uint64_t(pos - start), h.window);
            uint32_t p, middle, high;
            if (!DecodeSymbol1(models.low, decoder, lowRange, &p) ||
                !DecodeSymbol1(models.middle, decoder, reach / 1024 + 1, &middle) ||
                middle >= models.highCount ||
                !DecodeSymbol1(models.high[middle], decoder, reach < 1024 ? reach / 4 + 1 : 256,
                               &high)) {
                error = DecodeError::Model;
                break;
            }
            uint64_t offset = 1024 * uint64_t(middle) + 4 * uint64_t(high) + p + 1;
            error = CopyCheckedMatch(destination, &pos, stop, offset, length);
            if (error != DecodeError::None) break;
        }
        if (decoder.Exhausted()) {
            error = DecodeError::Exhausted;
            break;
        }
    }
    ORVANE_DEALLOCATE(block);
    *failedAt = pos;
    return error;
}

void LogDecodeError(DecodeError error, int32_t content, int64_t position) {
    int32_t at = int32_t(position);
    switch (error) {
        case DecodeError::None:
            break;
        case DecodeError::Memory:
            ORVANE_LOG_ERROR(OrvaneCompressorOrigin, "Unable to allocate the models of content %d",
                             content);
            break;
        case DecodeError::Model:
            ORVANE_LOG_ERROR(OrvaneCompressorOrigin,
                             "Compressed data is corrupt: impossible model state in content %d "
                             "at output byte %d",
                             content, at);
            break;
        case DecodeError::Offset:
            ORVANE_LOG_ERROR(OrvaneCompressorOrigin,
                             "Compressed data is corrupt: a match in content %d reaches before "
                             "the start of the output at output byte %d",
                             content, at);
            break;
        case DecodeError::Length:
            ORVANE_LOG_ERROR(OrvaneCompressorOrigin,
                             "Compressed data is corrupt: a match in content %d runs past its "
                             "end at output byte %d",
                             content, at);
            break;
        case DecodeError::Exhausted:
            ORVANE_LOG_ERROR(OrvaneCompressorOrigin,
                             "Compressed data ends before content %d is complete (output byte "
                             "%d)",
                             content, at);
            break;
    }
}

// ---- Encoding ------------------------------------------------------------------------------

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

bool EncodeTokens0(Pelma0Encoder& encoder, Models0& models, const ContentHeader& h,
                   const uint8_t* bytes, int64_t count, const PelmaMatch* matches,
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

bool EncodeTokens1(Pelma1Encoder& encoder, Models1& models, const ContentHeader& h,
                   const uint8_t* bytes, int64_t count, int64_t base, const PelmaMatch* matches,
                   int64_t matchCount) {
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

}  // namespace

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

int64_t PelmaInitialOutputSize(int64_t expandedSize, int32_t contentCount) {
    return (expandedSize * 9 + 7) / 8 + int64_t{kPelmaContentHeaderBytes} * contentCount + 36;
}

bool PelmaDecode(PelmaCodec codec, bool reversed, const uint8_t* bytes, int64_t size,
                 int32_t contentCount, const int64_t* stops, uint8_t* destination) {
    int64_t headerBytes = int64_t{kPelmaContentHeaderBytes} * contentCount;
    if (size < headerBytes) {
        ORVANE_LOG_ERROR(OrvaneCompressorOrigin,
                         "Compressed data of %d bytes cannot hold %d content headers",
                         int32_t(size), contentCount);
        return false;
    }
    Pelma0Decoder decoder0;
    Pelma1Decoder decoder1;
    bool started = false;
    int64_t start = 0;
    for (int32_t i = 0; i < contentCount; ++i) {
        int64_t stop = stops[i];
        if (stop < start) {
            ORVANE_LOG_ERROR(OrvaneCompressorOrigin, "Content %d ends before it starts", i);
            return false;
        }
        if (stop == start) continue;
        // The coder starts at the first content that has tokens; its state runs on after that.
        if (!started) {
            if (codec == PelmaCodec::Pelma0) {
                decoder0.Start(bytes, size, headerBytes, reversed);
            } else {
                decoder1.Start(bytes, size, headerBytes);
            }
            started = true;
        }
        ContentHeader h = UnpackHeader(codec, bytes + kPelmaContentHeaderBytes * i, reversed);
        int64_t failedAt = start;
        DecodeError error = codec == PelmaCodec::Pelma0
                                ? DecodeContent0(decoder0, h, destination, start, stop, &failedAt)
                                : DecodeContent1(decoder1, h, destination, start, stop, &failedAt);
        if (error != DecodeError::None) {
            LogDecodeError(error, i, failedAt);
            return false;
        }
        start = stop;
    }
    return true;
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

    PelmaEncoder(PelmaCodec c, int32_t n)
        : codec(c),
          contentCount(n),
          contentsDone(0),
          base(0),
          failed(false),
          finished(false),
          coder0(&sink),
          coder1(&sink) {}
};

PelmaEncoder* NewPelmaEncoder(PelmaCodec codec, int64_t expandedSize, int32_t contentCount) {
    if (contentCount < 0 || expandedSize < 0) return nullptr;
    void* memory = ORVANE_ALLOCATE(alignof(PelmaEncoder), sizeof(PelmaEncoder));
    if (memory == nullptr) return nullptr;
    PelmaEncoder* encoder = new (memory) PelmaEncoder(codec, contentCount);
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
        PelmaMatchOptions options;
        if (encoder->codec == PelmaCodec::Pelma0) {
            options = {kPelma0Window, 64, 192, 6, 6};
        } else {
            options = {kPelma1Window, 64, 256, 4, 6};
        }
        PelmaMatch* matches = nullptr;
        int64_t matchCount = FindPelmaMatches(bytes, count, options, &matches);
        // Each priced parse starts from the statistics of the one before; a second round
        // still gains about half a percent.
        if (matchCount >= 0 && count >= kPricedParseMinimum) {
            PelmaMatchOptions priced = options;
            priced.chainDepth = kPricedChainDepth;
            for (int round = 0; round < kPricedRounds; ++round)
                ReparseByPrice(encoder->codec, bytes, count, encoder->base, priced, &matches,
                               &matchCount);
        }
        ok = matchCount >= 0 &&
             MeasureContent(encoder->codec, bytes, count, encoder->base, matches, matchCount, &h);
        if (ok && encoder->codec == PelmaCodec::Pelma0) {
            Models0 models;
            uint8_t* block = AllocateModels(&models, h, count, true);
            ok = block != nullptr &&
                 EncodeTokens0(encoder->coder0, models, h, bytes, count, matches, matchCount);
            ORVANE_DEALLOCATE(block);
        } else if (ok) {
            Models1 models;
            uint8_t* block = AllocateModels(&models, h, count, true);
            ok = block != nullptr && EncodeTokens1(encoder->coder1, models, h, bytes, count,
                                                   encoder->base, matches, matchCount);
            ORVANE_DEALLOCATE(block);
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

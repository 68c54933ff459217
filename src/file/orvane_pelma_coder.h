// The entropy coders of the section codecs: Pelma0's interval coder with 31-bit registers whose
// bits travel in 32-bit words, and Pelma1's byte-wise range coder with a 31-bit code and 7
// extra bits. Decoders and encoders are inline: they sit in the innermost loops of both
// directions.
//
// The decoders treat the stream as hostile: bytes past the end read as zeros and Exhausted()
// tells when a decoder has gone further than the reader's padding.
#ifndef ORVANE_PELMA_CODER_H
#define ORVANE_PELMA_CODER_H

#include <cstdint>
#include <cstring>

#include "core/orvane_memory.h"
#include "core/orvane_private.h"
#include "file/orvane_pelma.h"

namespace orvane {
namespace pelma {

constexpr uint32_t kMask31 = 0x7FFFFFFFu;
constexpr uint32_t kHalf = 0x40000000u;
constexpr uint32_t kQuarter = 0x20000000u;
constexpr uint32_t kPelma1TableBits = 14;
constexpr uint32_t kPelma1TableTotal = 1u << kPelma1TableBits;

inline uint32_t ReadWord(const uint8_t* p, bool reversed) {
    uint32_t w;
    std::memcpy(&w, p, 4);
    return reversed ? ByteSwap32(w) : w;
}

// The encoders' output: a buffer from the library's allocator that grows when a stream needs
// more than the first estimate. After a failed growth every write is dropped and failed stays.
struct ByteSink {
    uint8_t* data = nullptr;
    int64_t size = 0;
    int64_t capacity = 0;
    bool failed = false;

    bool Reserve(int64_t more);
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

// Reciprocals m(t) = floor((2^64 - 1) / t) + 1 of every total the models can reach: for
// x < 2^47 the high half of x * m(t) is floor(x / t) exactly (the error stays below 1/t).
// Coders look the table up once, when they start.
constexpr uint32_t kReciprocalTotals = 1u << 15;
const uint64_t* Reciprocals();

// floor(range * part / total) through the reciprocals (range * part below 2^47): the one
// rounding that the encoder and the decoder must share. The table comes by reference so that
// its address is read only on the path that uses it, which keeps the decoder's registers as
// they are with the coder's own member.
inline uint32_t ScaledPart(const uint64_t* const& reciprocals, uint64_t range, uint32_t part,
                           uint32_t total) {
    uint64_t x = range * part;
    if (__builtin_expect(total < kReciprocalTotals && total > 1, 1))
        return uint32_t((unsigned __int128)x * reciprocals[total] >> 64);
    return uint32_t(x / total);
}

// The number of underflow steps the interval needs: how far low reads 1 and high reads 0 from
// bit 29 down (low's bit 30 being 0 and high's 1).
inline int UnderflowSteps(uint32_t low, uint32_t high) {
    uint32_t straddle = (low & ~high) << 2;  // bit 29 at the top
    return __builtin_clz(~straddle | 1);
}

class Pelma0Decoder {
public:
    void Start(const uint8_t* bytes, int64_t size, int64_t first, bool reversed) {
        bytes_ = bytes;
        size_ = size;
        next_ = first;
        reversed_ = reversed;
        reciprocals_ = Reciprocals();
        buffer_ = 0;
        count_ = 0;
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

    // Narrows the interval to [cum, cum + freq) of total and renormalises: first every leading
    // bit on which low and high agree, then every underflow step (low 01..., high 10... just
    // below the top bit: the second bit is dropped from all three registers, the code's
    // inverted), all at once and without branches on the data. The models keep freq / total
    // at least 2^-21, so fewer than 31 bits move.
    [[gnu::always_inline]] void Update(uint32_t cum, uint32_t freq, uint32_t total) {
        uint64_t range = uint64_t(high_) - low_ + 1;
        uint32_t high = low_ + Scaled(range, cum + freq, total) - 1;
        uint32_t low = low_ + Scaled(range, cum, total);
        int shift = __builtin_clz(((low ^ high) & kMask31) | 1) - 1;
        low = (low << shift) & kMask31;
        high = ((high << shift) | ((1u << shift) - 1)) & kMask31;
        // Low's top bit is 0 and high's 1 now, so the masks below change nothing for 0 steps.
        int steps = UnderflowSteps(low, high);
        uint32_t flip = (kHalf >> steps) & (0u - uint32_t(steps != 0));
        low_ = (low << steps) & (kMask31 >> 1);
        high_ = ((high << steps) | kHalf | ((1u << steps) - 1)) & kMask31;
        code_ = ((((code_ << shift) ^ flip) << steps) | Bits(shift + steps)) & kMask31;
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
    uint32_t Scaled(uint64_t range, uint32_t part, uint32_t total) const {
        return ScaledPart(reciprocals_, range, part, total);
    }

    uint32_t FetchWord() {
        int64_t at = next_;
        next_ += 4;
        if (__builtin_expect(at + 4 <= size_, 1)) return ReadWord(bytes_ + at, reversed_);
        uint32_t w = 0;
        if (at < size_) std::memcpy(&w, bytes_ + at, size_t(size_ - at));  // a last partial word
        return w;
    }

    // The next n bits (0 to 31), the first one the most significant; the stream gives each
    // word's bits from its least significant up.
    uint32_t Bits(int n) {
        if (count_ < n) {
            buffer_ |= uint64_t(ReverseBits(FetchWord())) << (32 - count_);
            count_ += 32;
        }
        uint32_t v = uint32_t((buffer_ >> 1) >> (63 - n));
        buffer_ <<= n;
        count_ -= n;
        return v;
    }

    const uint8_t* bytes_ = nullptr;
    int64_t size_ = 0;
    int64_t next_ = 0;
    bool reversed_ = false;
    const uint64_t* reciprocals_ = nullptr;
    uint64_t buffer_ = 0;
    int count_ = 0;
    uint32_t low_ = 0, high_ = kMask31, code_ = 0;
};

class Pelma0Encoder {
public:
    explicit Pelma0Encoder(ByteSink* sink) : sink_(sink), reciprocals_(Reciprocals()) {}

    [[gnu::always_inline]] void Encode(uint32_t cum, uint32_t freq, uint32_t total) {
        uint64_t range = uint64_t(high_) - low_ + 1;
        uint32_t high = low_ + Scaled(range, cum + freq, total) - 1;
        uint32_t low = low_ + Scaled(range, cum, total);
        // The leading bits on which low and high agree are settled: the first of them, then
        // the pending opposite bits, then the rest. Short runs, by far the most, go out as one
        // group of bits without a branch on the data (none when shift is 0).
        int shift = __builtin_clz(((low ^ high) & kMask31) | 1) - 1;
        uint32_t settled = ReverseBits(low << 1);  // the first settled bit lowest
        if (__builtin_expect(pending_ + uint64_t(shift) <= 32 &&
                                 (sink_->size + 8 <= sink_->capacity || sink_->Reserve(8)),
                             1)) {
            uint64_t p = pending_;
            uint64_t first = settled & 1;
            uint64_t opposite = (0 - (first ^ 1)) & ((uint64_t{1} << p) - 1);
            uint64_t rest = uint64_t(settled >> 1) & (((uint64_t{1} << shift) - 1) >> 1);
            uint64_t any = 0 - uint64_t(shift != 0);
            PutShort((first | opposite << 1 | rest << (1 + p)) & any,
                     int((uint64_t(shift) + p) & any));
            pending_ = p & ~any;
        } else if (shift != 0) {
            PutSettled(settled & 1);
            if (shift > 1) PutBits(settled >> 1, shift - 1);
        }
        low = (low << shift) & kMask31;
        high = ((high << shift) | ((1u << shift) - 1)) & kMask31;
        // Low's top bit is 0 and high's 1 now, so the masks change nothing for 0 steps.
        int steps = UnderflowSteps(low, high);
        pending_ += uint64_t(steps);
        low_ = (low << steps) & (kMask31 >> 1);
        high_ = ((high << steps) | kHalf | ((1u << steps) - 1)) & kMask31;
    }
    void Uniform(uint32_t value, uint32_t n) { Encode(value, 1, n); }

    // Two more bits select a quarter inside the interval whatever follows them.
    void Finish() {
        ++pending_;
        PutSettled((low_ >> 29) & 1);
        if (bits_ != 0) sink_->PutWord(uint32_t(word_));
        bits_ = 0;
        word_ = 0;
    }

private:
    uint32_t Scaled(uint64_t range, uint32_t part, uint32_t total) const {
        return ScaledPart(reciprocals_, range, part, total);
    }

    // n (up to 32) bits, the lowest first, with room for 8 bytes reserved: the word is stored
    // whether or not it is complete, and kept only when it is.
    void PutShort(uint64_t v, int n) {
        word_ |= v << bits_;
        bits_ += n;
        uint32_t full = uint32_t(bits_ >= 32);
        uint32_t w = uint32_t(word_);
        std::memcpy(sink_->data + sink_->size, &w, 4);
        sink_->size += 4 * full;
        word_ >>= 32 * full;
        bits_ -= int(32 * full);
    }

    // The low n bits of v (n up to 32), the lowest first.
    void PutBits(uint32_t v, int n) {
        if (n < 32) v &= (1u << n) - 1;
        word_ |= uint64_t(v) << bits_;
        bits_ += n;
        if (bits_ >= 32) {
            sink_->PutWord(uint32_t(word_));
            word_ >>= 32;
            bits_ -= 32;
        }
    }
    void PutSettled(uint32_t bit) {
        PutBits(bit, 1);
        uint32_t opposite = bit ? 0 : 0xFFFFFFFFu;
        for (; pending_ >= 32; pending_ -= 32)
            PutBits(opposite, 32);
        if (pending_ != 0) PutBits(opposite, int(pending_));
        pending_ = 0;
    }

    ByteSink* sink_;
    const uint64_t* reciprocals_;
    uint32_t low_ = 0, high_ = kMask31;
    uint64_t pending_ = 0;
    uint64_t word_ = 0;
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

}  // namespace pelma
}  // namespace orvane

#endif  // ORVANE_PELMA_CODER_H

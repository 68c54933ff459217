// A second implementation of the compressed stream format, written for the tests in the most
// literal way: linear searches, one bit or byte at a time, models as plain vectors. Its decoder
// checks that the library writes streams of the documented format; its encoder turns a list of
// tokens into a stream, so that tests can build exactly the token sequences they need.
#ifndef ORVANE_TESTS_COMPRESS_REFERENCE_H
#define ORVANE_TESTS_COMPRESS_REFERENCE_H

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace orvane_test {

// A token: length 0 is a literal of value; otherwise a match of length (from the table) at
// offset value.
struct RefToken {
    uint32_t length;
    uint32_t value;
};

namespace ref {

inline uint32_t LengthOf(uint32_t code) {
    static const uint32_t kLong[4] = {128, 192, 256, 512};
    return code < 61 ? code + 1 : kLong[code - 61];
}
inline uint32_t CodeOf(uint32_t length) {
    for (uint32_t c = 1; c <= 64; ++c)
        if (LengthOf(c) == length) return c;
    return 0;
}

inline uint32_t BucketWidth(uint32_t n) {
    if (n < 6) return 0;
    uint32_t best = 0, bestValue = 0xFFFFFFFF;
    for (uint32_t e = 0;; ++e) {
        uint32_t w = 1u << e;
        uint32_t q = (n + w - 1) / w - 1;
        uint32_t v = std::max(w, n - w * std::min(q, 15u));
        if (v < bestValue) bestValue = v, best = w;
        if (w > n) break;
    }
    return best;
}

// Pelma0 coder ---------------------------------------------------------------------------------

struct P0Decoder {
    std::vector<uint32_t> words;
    size_t bit = 0;
    uint32_t low = 0, high = 0x7FFFFFFF, code = 0;
    uint32_t NextBit() {
        size_t w = bit / 32;
        uint32_t b = w < words.size() ? (words[w] >> (bit % 32)) & 1 : 0;
        ++bit;
        return b;
    }
    void Start() {
        for (int i = 0; i < 31; ++i)
            code = (code << 1) | NextBit();
    }
    uint32_t Get(uint32_t total) {
        return uint32_t(((uint64_t(code) - low + 1) * total - 1) / (uint64_t(high) - low + 1));
    }
    void Update(uint32_t cum, uint32_t freq, uint32_t total) {
        uint64_t range = uint64_t(high) - low + 1;
        high = uint32_t(low + range * (cum + freq) / total - 1);
        low = uint32_t(low + range * cum / total);
        while (((low >> 30) & 1) == ((high >> 30) & 1)) {
            low = (low * 2) & 0x7FFFFFFF;
            high = (high * 2 + 1) & 0x7FFFFFFF;
            code = (code * 2 + NextBit()) & 0x7FFFFFFF;
        }
        while ((low & 0x20000000) && !(high & 0x20000000)) {
            low = ((low & 0x1FFFFFFF) * 2) & 0x7FFFFFFF;
            high = ((high * 2) | 0x40000001) & 0x7FFFFFFF;
            code = (((code ^ 0x20000000) * 2) + NextBit()) & 0x7FFFFFFF;
        }
    }
    uint32_t Uniform(uint32_t n) {
        uint32_t v = Get(n);
        Update(v, 1, n);
        return v;
    }
};

struct P0Encoder {
    std::vector<uint32_t> words;
    uint32_t current = 0;
    int filled = 0;
    uint32_t low = 0, high = 0x7FFFFFFF;
    uint64_t pending = 0;
    void Put(uint32_t b) {
        current |= b << filled;
        if (++filled == 32) words.push_back(current), current = 0, filled = 0;
    }
    void PutWithPending(uint32_t b) {
        Put(b);
        for (; pending; --pending)
            Put(1 - b);
    }
    void Encode(uint32_t cum, uint32_t freq, uint32_t total) {
        uint64_t range = uint64_t(high) - low + 1;
        high = uint32_t(low + range * (cum + freq) / total - 1);
        low = uint32_t(low + range * cum / total);
        while (((low >> 30) & 1) == ((high >> 30) & 1)) {
            PutWithPending((low >> 30) & 1);
            low = (low * 2) & 0x7FFFFFFF;
            high = (high * 2 + 1) & 0x7FFFFFFF;
        }
        while ((low & 0x20000000) && !(high & 0x20000000)) {
            ++pending;
            low = ((low & 0x1FFFFFFF) * 2) & 0x7FFFFFFF;
            high = ((high * 2) | 0x40000001) & 0x7FFFFFFF;
        }
    }
    void Finish() {
        ++pending;
        PutWithPending((low >> 29) & 1);
        if (filled) words.push_back(current);
    }
};

// Pelma0 model: linear search over the slots.
struct P0Model {
    std::vector<uint32_t> symbol{0};
    std::vector<uint32_t> count{3};
    uint32_t capacity = 0;
    uint32_t Total() const {
        uint32_t t = 0;
        for (uint32_t c : count)
            t += c;
        return t;
    }
    uint32_t K() const { return uint32_t(symbol.size() - 1); }
    void Rescale() {
        uint32_t width = BucketWidth(K() + 1);
        count[0] /= 2;
        uint32_t best = 0, bestCount = 0;
        for (uint32_t i = 1; i <= K(); ++i) {
            bool ended = false;
            while (count[i] < 2) {
                if (i == K()) {
                    symbol.pop_back(), count.pop_back();
                    ended = true;
                    break;
                }
                symbol[i] = symbol.back(), count[i] = count.back();
                symbol.pop_back(), count.pop_back();
            }
            if (ended) break;
            count[i] /= 2;
            if (count[i] > bestCount) bestCount = count[i], best = i;
        }
        if (bestCount != 0) {
            uint32_t k = K(), a;
            if (width == 0) {
                a = 1;
            } else {
                a = k < 15 * width ? k / width * width : 15 * width;
                if (a == 0) a = 1;
            }
            std::swap(symbol[best], symbol[a]);
            std::swap(count[best], count[a]);
        }
        if (K() < capacity && count[0] == 0) count[0] = 2;
    }
    void Add(uint32_t s) {
        symbol.push_back(s);
        count.push_back(2);
        if (K() == capacity) count[0] = 0;
    }
    // Decoding; false on an impossible state.
    bool Decode(P0Decoder& d, uint32_t n, uint32_t* out) {
        if (Total() > 16383) Rescale();
        uint32_t total = Total(), v = d.Get(total), cum = 0;
        for (uint32_t j = 0; j < count.size(); ++j) {
            if (v < cum + count[j]) {
                d.Update(cum, count[j], total);
                ++count[j];
                if (j != 0) return *out = symbol[j], true;
                if (n == 0) return false;
                *out = d.Uniform(n);
                Add(*out);
                return true;
            }
            cum += count[j];
        }
        return false;
    }
    void Encode(P0Encoder& e, uint32_t n, uint32_t s) {
        if (Total() > 16383) Rescale();
        uint32_t total = Total(), cum = 0, j = 0;
        for (j = 1; j < symbol.size() && symbol[j] != s; ++j) {
        }
        if (j == symbol.size()) j = 0;
        for (uint32_t i = 0; i < j; ++i)
            cum += count[i];
        e.Encode(cum, count[j], total);
        ++count[j];
        if (j == 0) e.Encode(s, 1, n), Add(s);
    }
};

// Pelma1 coder ---------------------------------------------------------------------------------

struct P1Decoder {
    std::vector<uint8_t> bytes;  // the stream with zeros after it
    size_t at = 0;
    uint32_t code = 0, range = 0, pending = 0, step = 0;
    uint32_t Next() { return at < bytes.size() ? bytes[at++] : (at++, 0); }
    void Start() {
        uint32_t b = Next();
        code = b >> 1, range = 128, pending = b & 1;
    }
    void Normalize() {
        while (range <= 0x800000) {
            range *= 256;
            uint32_t b = Next();
            code = ((code * 2 + pending) * 128) | (b >> 1);
            pending = b & 1;
        }
    }
    uint32_t Get(uint32_t total) {
        Normalize();
        step = range / total;
        return std::min(code / step, total - 1);
    }
    void Update(uint32_t cum, uint32_t freq, uint32_t total) {
        code -= step * cum;
        if (cum + freq < total) {
            range = step * freq;
        } else {
            range -= step * cum;
        }
    }
    uint32_t Uniform(uint32_t n) {
        uint32_t v = Get(n);
        Update(v, 1, n);
        return v;
    }
};

// Schindler-style range encoder whose first (carry-free) byte is left out.
struct P1Encoder {
    std::vector<uint8_t> bytes;
    uint32_t low = 0, range = 0x80000000u, buffer = 0;
    uint64_t help = 0;
    bool first = true;
    void Out(uint32_t b) {
        if (!first) bytes.push_back(uint8_t(b));
        first = false;
    }
    void ShiftByte() {
        if (low < (0xFFu << 23)) {
            Out(buffer);
            for (; help; --help)
                Out(0xFF);
            buffer = (low >> 23) & 0xFF;
        } else if (low & 0x80000000u) {
            Out(buffer + 1);
            for (; help; --help)
                Out(0);
            buffer = (low >> 23) & 0xFF;
        } else {
            ++help;
        }
        range <<= 8;
        low = (low << 8) & 0x7FFFFFFF;
    }
    void Encode(uint32_t cum, uint32_t freq, uint32_t total) {
        while (range <= 0x800000)
            ShiftByte();
        uint32_t r = range / total, t = r * cum;
        low += t;
        range = cum + freq < total ? r * freq : range - t;
    }
    void Finish() {
        while (range <= 0x800000)
            ShiftByte();
        // Five bytes of the low end make the value exact.
        for (int i = 0; i < 5; ++i)
            ShiftByte();
        Out(buffer);
        for (; help; --help)
            Out(0xFF);
    }
};

struct P1Model {
    std::vector<uint32_t> symbol{0};
    std::vector<uint32_t> count{4};
    std::vector<uint32_t> table{0, 16384};
    uint32_t m = 0, capacity = 0, next = 8, interval = 4, largest = 0, threshold = 0;
    void Setup(int64_t a, uint32_t cap) {
        capacity = cap;
        int64_t t = 32 * a;
        threshold = t < 256 ? 256 : (t >= 15168 ? 15160 : uint32_t(t));
        largest = 2 * a >= 128 ? uint32_t(std::min<int64_t>(2 * a, threshold / 2 - 32)) : 128;
    }
    uint32_t Total() const {
        uint32_t t = 0;
        for (uint32_t c : count)
            t += c;
        return t;
    }
    uint32_t K() const { return uint32_t(symbol.size() - 1); }
    void Rescale() {
        count[0] /= 2;
        uint32_t best = 0, bestCount = 0;
        for (uint32_t i = 1; i <= K(); ++i) {
            bool ended = false;
            while (count[i] < 2) {
                if (i == K()) {
                    symbol.pop_back(), count.pop_back();
                    ended = true;
                    break;
                }
                symbol[i] = symbol.back(), count[i] = count.back();
                symbol.pop_back(), count.pop_back();
            }
            if (ended) break;
            count[i] /= 2;
            if (count[i] > bestCount) bestCount = count[i], best = i;
        }
        if (K() != 0 && best != K())
            std::swap(symbol[best], symbol[K()]), std::swap(count[best], count[K()]);
        if (K() < capacity && count[0] == 0) count[0] = 1;
    }
    void Prepare() {
        if (Total() < next) return;
        if (next >= threshold) Rescale();
        uint32_t total = Total(), step = (1u << 17) / total;
        table.assign(K() + 2, 0);
        for (uint32_t j = 0; j < K(); ++j)
            table[j + 1] = table[j] + step * count[j] / 8;
        table[K() + 1] = 16384;
        m = K();
        if (largest < 2 * interval) {
            next = total + largest;
        } else {
            interval *= 2;
            next = total + interval;
        }
    }
    void Add(uint32_t s) {
        symbol.push_back(s);
        count.push_back(2);
        if (K() == capacity) count[0] = 0;
    }
    bool Decode(P1Decoder& d, uint32_t n, uint32_t* out) {
        Prepare();
        uint32_t v = d.Get(16384);
        for (uint32_t j = 0; j <= m; ++j) {
            if (v >= table[j] && v < table[j + 1]) {
                d.Update(table[j], table[j + 1] - table[j], 16384);
                ++count[j];
                if (j != 0) return *out = symbol[j], true;
                if (m == K() || d.Uniform(2) == 0) {
                    if (n == 0) return false;
                    *out = d.Uniform(n);
                    Add(*out);
                    return true;
                }
                uint32_t slot = m + 1 + d.Uniform(K() - m);
                count[slot] += 2;
                return *out = symbol[slot], true;
            }
        }
        return false;
    }
    void Encode(P1Encoder& e, uint32_t n, uint32_t s) {
        Prepare();
        uint32_t j = 1;
        for (; j <= K() && symbol[j] != s; ++j) {
        }
        if (j <= m) {
            e.Encode(table[j], table[j + 1] - table[j], 16384);
            ++count[j];
            return;
        }
        e.Encode(table[0], table[1] - table[0], 16384);
        ++count[0];
        if (j <= K()) {
            e.Encode(1, 1, 2);
            e.Encode(j - m - 1, 1, K() - m);
            count[j] += 2;
            return;
        }
        if (m != K()) e.Encode(0, 1, 2);
        e.Encode(s, 1, n);
        Add(s);
    }
};

struct Header {
    uint32_t L = 0, W = 0, D = 0, offsetCap = 0, lengthCap[4] = {0, 0, 0, 0};
};

// Both codecs' content models, with the per-model largest values of Pelma1.
template <typename Model>
struct ContentModels {
    std::vector<Model> length, literal, high;
    Model low, middle;
};

inline void SetupP0(ContentModels<P0Model>& c, const Header& h) {
    c.length.assign(65, P0Model());
    for (uint32_t i = 0; i < 65; ++i)
        c.length[i].capacity = h.lengthCap[std::min(i / 16, 3u)];
    c.literal.assign(1, P0Model());
    c.literal[0].capacity = h.D;
    c.low.capacity = std::min(h.W, 4u);
    c.high.assign(1, P0Model());
    c.high[0].capacity = h.offsetCap;
}

inline void SetupP1(ContentModels<P1Model>& c, const Header& h) {
    c.length.assign(65, P1Model());
    for (uint32_t i = 0; i < 65; ++i)
        c.length[i].Setup(64, h.lengthCap[std::min(i / 16, 3u)]);
    c.literal.assign(4, P1Model());
    for (auto& m : c.literal)
        m.Setup(int64_t(h.L) - 1, h.D);
    c.low.Setup(std::min(h.W + 1, 4u) - 1, std::min(h.W + 1, 4u));
    c.middle.Setup(h.W / 1024, h.offsetCap);
    c.high.assign(h.W / 1024 + 1, P1Model());
    for (auto& m : c.high)
        m.Setup(h.W < 1024 ? h.W / 4 : 255, h.W < 1024 ? h.W / 4 + 1 : 256);
}

inline Header ReadHeader(bool pelma1, const uint8_t* p) {
    uint32_t w[3];
    std::memcpy(w, p, 12);
    Header h;
    h.L = w[0] & 511, h.W = w[0] >> 9, h.D = w[1] & 511;
    h.offsetCap = pelma1 ? (w[1] >> 19) + 1 : w[1] >> 9;
    for (int g = 0; g < 4; ++g)
        h.lengthCap[g] = (w[2] >> (24 - 8 * g)) & 255;
    return h;
}

}  // namespace ref

// Decodes the contents of a stream (one per part, each as long as its part) into out.
inline bool ReferenceDecode(bool pelma1, const std::vector<uint8_t>& stream,
                            const std::vector<std::vector<uint8_t>>& parts,
                            std::vector<uint8_t>* out) {
    size_t n = parts.size(), headerBytes = 12 * n;
    if (stream.size() < headerBytes) return false;
    out->clear();
    ref::P0Decoder d0;
    ref::P1Decoder d1;
    for (size_t at = headerBytes; at < stream.size(); at += 4) {
        uint32_t w = 0;
        std::memcpy(&w, stream.data() + at, std::min<size_t>(4, stream.size() - at));
        d0.words.push_back(w);
    }
    d1.bytes.assign(stream.begin() + long(headerBytes), stream.end());
    d1.bytes.resize(d1.bytes.size() + 4, 0);
    if (pelma1) {
        d1.Start();
    } else {
        d0.Start();
    }
    for (size_t i = 0; i < n; ++i) {
        ref::Header h = ref::ReadHeader(pelma1, stream.data() + 12 * i);
        ref::ContentModels<ref::P0Model> c0;
        ref::ContentModels<ref::P1Model> c1;
        if (pelma1) {
            ref::SetupP1(c1, h);
        } else {
            ref::SetupP0(c0, h);
        }
        size_t start = out->size(), stop = start + parts[i].size();
        uint32_t previous = 0;
        auto decode = [&](int which, uint32_t index, uint32_t range, uint32_t* v) {
            if (pelma1) {
                ref::P1Model& m = which == 0   ? c1.length[index]
                                  : which == 1 ? c1.literal[index]
                                  : which == 2 ? c1.low
                                  : which == 3 ? c1.middle
                                               : c1.high[index];
                return m.Decode(d1, range, v);
            }
            ref::P0Model& m = which == 0   ? c0.length[index]
                              : which == 1 ? c0.literal[0]
                              : which == 2 ? c0.low
                                           : c0.high[0];
            return m.Decode(d0, range, v);
        };
        while (out->size() < stop) {
            uint32_t code, v;
            if (!decode(0, previous, 65, &code)) return false;
            previous = code;
            size_t done = out->size() - start;
            if (code == 0) {
                if (!decode(1, uint32_t(out->size() & 3), h.L, &v)) return false;
                out->push_back(uint8_t(v));
                continue;
            }
            uint32_t reach = uint32_t(std::min<size_t>(done, h.W)), offset;
            if (pelma1) {
                uint32_t p, mid, hi;
                if (!decode(2, 0, std::min(h.W + 1, 4u), &p) ||
                    !decode(3, 0, reach / 1024 + 1, &mid) || mid >= c1.high.size() ||
                    !decode(4, mid, reach < 1024 ? reach / 4 + 1 : 256, &hi))
                    return false;
                offset = 1024 * mid + 4 * hi + p + 1;
            } else {
                uint32_t q, r;
                if (!decode(2, 0, std::min(h.W, 4u), &q) || !decode(4, 0, reach / 4 + 1, &r))
                    return false;
                offset = 4 * r + q + 1;
            }
            uint32_t length = ref::LengthOf(code);
            if (offset > out->size() || out->size() + length > stop) return false;
            for (uint32_t k = 0; k < length; ++k)
                out->push_back((*out)[out->size() - offset]);
        }
    }
    return true;
}

// Encodes contents given as tokens; sizes[i] is the output size of content i (only used for
// the position of the literal contexts). The header values follow their definitions.
inline std::vector<uint8_t> ReferenceEncode(bool pelma1,
                                            const std::vector<std::vector<RefToken>>& contents,
                                            const std::vector<uint32_t>& sizes) {
    ref::P0Encoder e0;
    ref::P1Encoder e1;
    std::vector<uint8_t> headers;
    uint64_t position = 0;
    for (size_t i = 0; i < contents.size(); ++i) {
        const auto& tokens = contents[i];
        ref::Header h;
        std::vector<std::vector<bool>> lengthSeen(65, std::vector<bool>(65));
        std::vector<std::vector<bool>> literalSeen(4, std::vector<bool>(256));
        std::vector<uint32_t> offsetParts;
        uint32_t previous = 0;
        uint64_t at = position;
        for (const RefToken& t : tokens) {
            uint32_t code = t.length ? ref::CodeOf(t.length) : 0;
            lengthSeen[previous][code] = true;
            previous = code;
            if (code == 0) {
                h.L = std::max(h.L, t.value + 1);
                literalSeen[pelma1 ? at & 3 : 0][t.value] = true;
                ++at;
            } else {
                h.W = std::max(h.W, t.value);
                offsetParts.push_back(pelma1 ? (t.value - 1) / 1024 : (t.value - 1) / 4);
                at += t.length;
            }
        }
        for (const auto& seen : literalSeen)
            h.D = std::max(h.D, uint32_t(std::count(seen.begin(), seen.end(), true)));
        std::sort(offsetParts.begin(), offsetParts.end());
        h.offsetCap =
            uint32_t(std::unique(offsetParts.begin(), offsetParts.end()) - offsetParts.begin());
        if (pelma1 && h.offsetCap == 0) h.offsetCap = 1;
        for (uint32_t c = 0; c < 65; ++c)
            h.lengthCap[std::min(c / 16, 3u)] =
                std::max(h.lengthCap[std::min(c / 16, 3u)],
                         uint32_t(std::count(lengthSeen[c].begin(), lengthSeen[c].end(), true)));
        uint32_t w[3] = {
            h.L | h.W << 9, h.D | (pelma1 ? (h.offsetCap - 1) << 19 : h.offsetCap << 9),
            h.lengthCap[0] << 24 | h.lengthCap[1] << 16 | h.lengthCap[2] << 8 | h.lengthCap[3]};
        headers.insert(headers.end(), reinterpret_cast<uint8_t*>(w),
                       reinterpret_cast<uint8_t*>(w) + 12);

        ref::ContentModels<ref::P0Model> c0;
        ref::ContentModels<ref::P1Model> c1;
        if (pelma1) {
            ref::SetupP1(c1, h);
        } else {
            ref::SetupP0(c0, h);
        }
        previous = 0;
        uint64_t done = 0;
        for (const RefToken& t : tokens) {
            uint32_t code = t.length ? ref::CodeOf(t.length) : 0;
            uint32_t reach = uint32_t(std::min<uint64_t>(done, h.W));
            if (pelma1) {
                c1.length[previous].Encode(e1, 65, code);
                if (code == 0) {
                    c1.literal[(position + done) & 3].Encode(e1, h.L, t.value);
                } else {
                    uint32_t v = t.value - 1;
                    c1.low.Encode(e1, std::min(h.W + 1, 4u), v % 4);
                    c1.middle.Encode(e1, reach / 1024 + 1, v / 1024);
                    c1.high[v / 1024].Encode(e1, reach < 1024 ? reach / 4 + 1 : 256, v % 1024 / 4);
                }
            } else {
                c0.length[previous].Encode(e0, 65, code);
                if (code == 0) {
                    c0.literal[0].Encode(e0, h.L, t.value);
                } else {
                    c0.low.Encode(e0, std::min(h.W, 4u), (t.value - 1) % 4);
                    c0.high[0].Encode(e0, reach / 4 + 1, (t.value - 1) / 4);
                }
            }
            previous = code;
            done += code ? t.length : 1;
        }
        position += sizes[i];
    }
    std::vector<uint8_t> stream = headers;
    if (pelma1) {
        e1.Finish();
        stream.insert(stream.end(), e1.bytes.begin(), e1.bytes.end());
    } else {
        e0.Finish();
        for (uint32_t w : e0.words)
            stream.insert(stream.end(), reinterpret_cast<uint8_t*>(&w),
                          reinterpret_cast<uint8_t*>(&w) + 4);
    }
    return stream;
}

}  // namespace orvane_test

#endif  // ORVANE_TESTS_COMPRESS_REFERENCE_H

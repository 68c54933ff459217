// The Quib wavelet codec. Pixels go through a YCbCr colour transform and a multi-level CDF 9/7
// lifting wavelet (near-orthonormal scaling, so a coefficient's bit plane says what it costs
// in squared error); the coefficients, at a fixed fine quantisation step, are coded bit plane
// by bit plane, coarsest band first, with an adaptive binary range coder. The stream is
// embedded: cutting it at the byte budget leaves the best image that many bytes can carry,
// which is how the compression ratio is honoured exactly.
//
// Stream: "QB", version, channel count, width, height (int32 LE), level count, fraction bits,
// coefficient visits (int32 LE), then per band and channel the top bit plane + 1 (0 when the
// band is all zero), then the range coder's bytes.
#include "texture/orvane_quib.h"

#include <cmath>
#include <cstddef>
#include <cstring>

#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "diag/orvane_timing.h"
#include "texture/orvane_pixel_layout.h"
#include "orvane/texture_builder.h"

namespace orvane {
namespace {

constexpr uint8_t kVersion = 3;
constexpr int32_t kFractionBits = 2;
constexpr int32_t kMaxLevels = 6;
constexpr int32_t kMaxBands = 3 * kMaxLevels + 1;
constexpr int32_t kFixedHeaderBytes = 2 + 1 + 1 + 4 + 4 + 1 + 1 + 4;

int32_t LevelCount(int32_t width, int32_t height) {
    int32_t levels = 0;
    while (levels < kMaxLevels && (width >> levels) >= 16 && (height >> levels) >= 16)
        ++levels;
    return levels;
}

int32_t HeaderBytes(int32_t levels, int32_t channels) {
    return kFixedHeaderBytes + (3 * levels + 1) * channels;
}

// --- Binary range coder (11-bit probabilities, carry propagation through a cache byte). ----

constexpr uint32_t kProbabilityBits = 11;
constexpr uint32_t kProbabilityOne = 1u << kProbabilityBits;
constexpr uint32_t kAdaptShift = 5;
constexpr uint32_t kTop = 1u << 24;

class RangeEncoder {
public:
    RangeEncoder(uint8_t* out, int64_t capacity) : out_(out), capacity_(capacity) {}
    void Encode(uint16_t* probability, uint32_t bit) {
        uint32_t bound = (range_ >> kProbabilityBits) * *probability;
        if (bit == 0) {
            range_ = bound;
            *probability =
                uint16_t(*probability + ((kProbabilityOne - *probability) >> kAdaptShift));
        } else {
            low_ += bound;
            range_ -= bound;
            *probability = uint16_t(*probability - (*probability >> kAdaptShift));
        }
        while (range_ < kTop) {
            range_ <<= 8;
            ShiftLow();
        }
    }
    void Flush() {
        for (int i = 0; i < 5; ++i)
            ShiftLow();
    }
    // Bytes the stream will have if it is flushed now.
    int64_t BytesIfFlushed() const { return written_ + cacheSize_ + 5; }
    int64_t Written() const { return written_; }

private:
    void Put(uint8_t byte) {
        if (written_ < capacity_) out_[written_] = byte;
        ++written_;
    }
    void ShiftLow() {
        if (uint32_t(low_) < 0xff000000u || (low_ >> 32) != 0) {
            uint8_t carry = uint8_t(low_ >> 32);
            if (!first_) Put(uint8_t(cache_ + carry));
            first_ = false;
            for (; cacheSize_ > 0; --cacheSize_)
                Put(uint8_t(0xff + carry));
            cache_ = uint8_t(low_ >> 24);
        } else {
            ++cacheSize_;
        }
        low_ = (low_ & 0x00ffffffu) << 8;
    }
    uint8_t* out_;
    int64_t capacity_;
    int64_t written_ = 0;
    uint64_t low_ = 0;
    uint32_t range_ = 0xffffffffu;
    uint8_t cache_ = 0;
    int64_t cacheSize_ = 0;
    bool first_ = true;
};

class RangeDecoder {
public:
    RangeDecoder(const uint8_t* in, int64_t size) : in_(in), size_(size) {
        for (int i = 0; i < 4; ++i)
            code_ = (code_ << 8) | Next();
    }
    uint32_t Decode(uint16_t* probability) {
        uint32_t bound = (range_ >> kProbabilityBits) * *probability;
        uint32_t bit;
        if (code_ < bound) {
            range_ = bound;
            *probability =
                uint16_t(*probability + ((kProbabilityOne - *probability) >> kAdaptShift));
            bit = 0;
        } else {
            code_ -= bound;
            range_ -= bound;
            *probability = uint16_t(*probability - (*probability >> kAdaptShift));
            bit = 1;
        }
        while (range_ < kTop) {
            range_ <<= 8;
            code_ = (code_ << 8) | Next();
        }
        return bit;
    }

private:
    // Past the end the stream reads as zeros: a cut or damaged stream decodes to some image,
    // never to a read outside the data.
    uint32_t Next() { return position_ < size_ ? in_[position_++] : 0; }
    const uint8_t* in_;
    int64_t size_;
    int64_t position_ = 0;
    uint32_t code_ = 0;
    uint32_t range_ = 0xffffffffu;
};

// --- Wavelet. -------------------------------------------------------------------------------

constexpr float kA = -1.586134342f;
constexpr float kB = -0.05298011854f;
constexpr float kC = 0.8829110762f;
constexpr float kD = 0.4435068522f;
constexpr float kK = 1.149604398f;

// Lifting over n samples spaced `step` apart, symmetric extension at both ends; the result is
// interleaved (low at even, high at odd positions).
inline void Lift(float* x, int32_t n, ptrdiff_t step, int32_t parity, float weight) {
    for (int32_t i = parity; i < n; i += 2) {
        float left = x[(i - 1 >= 0 ? i - 1 : i + 1) * step];
        float right = x[(i + 1 < n ? i + 1 : i - 1) * step];
        x[i * step] += weight * (left + right);
    }
}

void Forward1D(float* x, int32_t n, ptrdiff_t step, float* scratch) {
    if (n < 2) return;
    Lift(x, n, step, 1, kA);
    Lift(x, n, step, 0, kB);
    Lift(x, n, step, 1, kC);
    Lift(x, n, step, 0, kD);
    int32_t lows = (n + 1) / 2;
    for (int32_t i = 0; i < n; ++i) {
        float v = x[i * step];
        if (i % 2 == 0) {
            scratch[i / 2] = v * kK;
        } else {
            scratch[lows + i / 2] = v / kK;
        }
    }
    for (int32_t i = 0; i < n; ++i)
        x[i * step] = scratch[i];
}

void Inverse1D(float* x, int32_t n, ptrdiff_t step, float* scratch) {
    if (n < 2) return;
    int32_t lows = (n + 1) / 2;
    for (int32_t i = 0; i < n; ++i)
        scratch[i] = i % 2 == 0 ? x[(i / 2) * step] / kK : x[(lows + i / 2) * step] * kK;
    for (int32_t i = 0; i < n; ++i)
        x[i * step] = scratch[i];
    Lift(x, n, step, 0, -kD);
    Lift(x, n, step, 1, -kC);
    Lift(x, n, step, 0, -kB);
    Lift(x, n, step, 1, -kA);
}

// The vertical transform lifts whole rows at a time: the same arithmetic as Forward1D and
// Inverse1D down every column, but walking memory row by row.
void LiftRows(float* plane, int32_t stride, int32_t w, int32_t h, int32_t parity, float weight) {
    for (int32_t i = parity; i < h; i += 2) {
        const float* up = plane + size_t(i - 1 >= 0 ? i - 1 : i + 1) * stride;
        const float* down = plane + size_t(i + 1 < h ? i + 1 : i - 1) * stride;
        float* row = plane + size_t(i) * stride;
        for (int32_t x = 0; x < w; ++x)
            row[x] += weight * (up[x] + down[x]);
    }
}

void ForwardColumns(float* plane, int32_t stride, int32_t w, int32_t h, float* scratch) {
    if (h < 2) return;
    LiftRows(plane, stride, w, h, 1, kA);
    LiftRows(plane, stride, w, h, 0, kB);
    LiftRows(plane, stride, w, h, 1, kC);
    LiftRows(plane, stride, w, h, 0, kD);
    const int32_t lows = (h + 1) / 2;
    for (int32_t i = 0; i < h; ++i) {
        const float* row = plane + size_t(i) * stride;
        float* out = scratch + size_t(i % 2 == 0 ? i / 2 : lows + i / 2) * w;
        const float scale = i % 2 == 0 ? kK : 1.0f / kK;
        for (int32_t x = 0; x < w; ++x)
            out[x] = row[x] * scale;
    }
    for (int32_t i = 0; i < h; ++i)
        std::memcpy(plane + size_t(i) * stride, scratch + size_t(i) * w, size_t(w) * 4);
}

void InverseColumns(float* plane, int32_t stride, int32_t w, int32_t h, float* scratch) {
    if (h < 2) return;
    const int32_t lows = (h + 1) / 2;
    for (int32_t i = 0; i < h; ++i) {
        const float* row = plane + size_t(i % 2 == 0 ? i / 2 : lows + i / 2) * stride;
        float* out = scratch + size_t(i) * w;
        const float scale = i % 2 == 0 ? 1.0f / kK : kK;
        for (int32_t x = 0; x < w; ++x)
            out[x] = row[x] * scale;
    }
    for (int32_t i = 0; i < h; ++i)
        std::memcpy(plane + size_t(i) * stride, scratch + size_t(i) * w, size_t(w) * 4);
    LiftRows(plane, stride, w, h, 0, -kD);
    LiftRows(plane, stride, w, h, 1, -kC);
    LiftRows(plane, stride, w, h, 0, -kB);
    LiftRows(plane, stride, w, h, 1, -kA);
}

// scratch holds width x height floats.
void Forward2D(float* plane, int32_t width, int32_t height, int32_t levels, float* scratch) {
    int32_t w = width, h = height;
    for (int32_t level = 0; level < levels; ++level) {
        for (int32_t y = 0; y < h; ++y)
            Forward1D(plane + size_t(y) * width, w, 1, scratch);
        ForwardColumns(plane, width, w, h, scratch);
        w = (w + 1) / 2;
        h = (h + 1) / 2;
    }
}

void Inverse2D(float* plane, int32_t width, int32_t height, int32_t levels, float* scratch) {
    int32_t ws[kMaxLevels + 1], hs[kMaxLevels + 1];
    ws[0] = width;
    hs[0] = height;
    for (int32_t level = 0; level < levels; ++level) {
        ws[level + 1] = (ws[level] + 1) / 2;
        hs[level + 1] = (hs[level] + 1) / 2;
    }
    for (int32_t level = levels - 1; level >= 0; --level) {
        int32_t w = ws[level], h = hs[level];
        InverseColumns(plane, width, w, h, scratch);
        for (int32_t y = 0; y < h; ++y)
            Inverse1D(plane + size_t(y) * width, w, 1, scratch);
    }
}

// --- Bands and coding state. ----------------------------------------------------------------

struct Band {
    int32_t x0, y0, x1, y1;
    int32_t kind;  // 0 the low band, 1 coarse details, 2 the finest details
};

int32_t MakeBands(int32_t width, int32_t height, int32_t levels, Band bands[kMaxBands]) {
    int32_t ws[kMaxLevels + 1], hs[kMaxLevels + 1];
    ws[0] = width;
    hs[0] = height;
    for (int32_t level = 0; level < levels; ++level) {
        ws[level + 1] = (ws[level] + 1) / 2;
        hs[level + 1] = (hs[level] + 1) / 2;
    }
    int32_t count = 0;
    bands[count++] = {0, 0, ws[levels], hs[levels], 0};
    for (int32_t level = levels - 1; level >= 0; --level) {
        int32_t lw = ws[level + 1], lh = hs[level + 1], w = ws[level], h = hs[level];
        int32_t kind = level == 0 ? 2 : 1;
        bands[count++] = {lw, 0, w, lh, kind};
        bands[count++] = {0, lh, lw, h, kind};
        bands[count++] = {lw, lh, w, h, kind};
    }
    return count;
}

constexpr uint8_t kSignificant = 1;
constexpr int32_t kSignificanceContexts = 18;
constexpr uint8_t kRefined = 2;

struct Contexts {
    uint16_t significance[3][3][kSignificanceContexts];  // channel group, band kind, context
    uint16_t sign[3];
    uint16_t refinement[3][2];
    Contexts() {
        for (auto& g : significance)
            for (auto& k : g)
                for (auto& p : k)
                    p = kProbabilityOne / 2;
        for (auto& p : sign)
            p = kProbabilityOne / 2;
        for (auto& g : refinement)
            for (auto& p : g)
                p = kProbabilityOne / 2;
    }
};

inline int32_t ChannelGroup(int32_t channel) {
    return channel == 0 ? 0 : (channel < 3 ? 1 : 2);
}

// The significance context of a coefficient: how many of its four direct and four diagonal
// neighbours in the band are significant, and whether its parent (same place, one level
// coarser, coded earlier in this plane) is.
inline int32_t SignificanceContext(const uint8_t* state, int32_t width, const Band* bands,
                                   int32_t b, int32_t x, int32_t y) {
    const Band& band = bands[b];
    const uint8_t* s = state + size_t(y) * width + x;
    const bool left = x > band.x0, right = x + 1 < band.x1, up = y > band.y0,
               down = y + 1 < band.y1;
    int32_t direct = 0, diagonal = 0;
    if (left) direct += s[-1] & kSignificant;
    if (right) direct += s[1] & kSignificant;
    if (up) direct += s[-width] & kSignificant;
    if (down) direct += s[width] & kSignificant;
    if (up && left) diagonal += s[-width - 1] & kSignificant;
    if (up && right) diagonal += s[-width + 1] & kSignificant;
    if (down && left) diagonal += s[width - 1] & kSignificant;
    if (down && right) diagonal += s[width + 1] & kSignificant;
    int32_t parent = 0;
    if (b >= 4) {
        const Band& coarser = bands[b - 3];
        int32_t px = coarser.x0 + (x - band.x0) / 2, py = coarser.y0 + (y - band.y0) / 2;
        if (px < coarser.x1 && py < coarser.y1)
            parent = state[size_t(py) * width + px] & kSignificant;
    }
    return ((direct < 2 ? direct : 2) * 3 + (diagonal < 2 ? diagonal : 2)) * 2 + parent;
}

// Working memory of one image: float planes for the transform, quantised magnitudes and signs,
// the coding state and a row scratch.
struct Workspace {
    float* planes = nullptr;
    int32_t* magnitudes = nullptr;
    uint8_t* state = nullptr;
    uint8_t* lastPlane = nullptr;
    float* scratch = nullptr;
    void* block = nullptr;
    int32_t height = 0;
    bool Allocate(int32_t width, int32_t imageHeight, int32_t channels) {
        height = imageHeight;
        size_t count = size_t(width) * size_t(height) * size_t(channels);
        // The scratch takes a whole plane (the vertical transform's reordering) or a row.
        size_t longest = size_t(width) * size_t(height);
        if (longest < size_t(width) || longest < size_t(height))
            longest = size_t(width > height ? width : height);
        size_t bytes = count * (4 + 4 + 1 + 1) + longest * 4 + 16;
        auto* memory = static_cast<uint8_t*>(ORVANE_ALLOCATE(4, bytes));
        if (memory == nullptr) return false;
        block = memory;
        planes = reinterpret_cast<float*>(memory);
        magnitudes = reinterpret_cast<int32_t*>(memory + count * 4);
        scratch = reinterpret_cast<float*>(memory + count * 8);
        state = memory + count * 8 + longest * 4;
        lastPlane = state + count;
        std::memset(state, 0, count * 2);
        return true;
    }
    ~Workspace() {
        if (block) ORVANE_DEALLOCATE(block);
    }
};

// Coefficients are coded in blocks of 8 x 8 within a band: while none of a block's
// coefficients is significant, one flag per plane says whether one becomes so, and a block
// that stays quiet costs that flag alone.
constexpr int32_t kBlockSize = 8;
constexpr uint8_t kBlockActive = 4;  // kept in the state of the block's first coefficient

struct BlockContexts {
    uint16_t flag[3][3][3];  // channel group, band kind, active blocks left and above
    BlockContexts() {
        for (auto& g : flag)
            for (auto& k : g)
                for (auto& p : k)
                    p = kProbabilityOne / 2;
    }
};

inline uint32_t CodeBit(RangeEncoder& coder, uint16_t* probability, uint32_t bit) {
    coder.Encode(probability, bit);
    return bit;
}
inline uint32_t CodeBit(RangeDecoder& coder, uint16_t* probability, uint32_t) {
    return coder.Decode(probability);
}

// One routine for both directions, so that the decoder walks exactly the encoder's path. The
// encoder stops before the visit that could overrun its budget and counts its visits (block
// flags and coefficients); the decoder makes that many visits.
template <bool Encoding, typename Coder>
void CodePlanes(Coder& coder, int32_t width, int32_t channels, const Band* bands, int32_t bandCount,
                const uint8_t topPlanes[][4], int32_t maxPlane, Workspace& work, int64_t budget,
                int64_t* visits) {
    const size_t planeSize = size_t(width) * size_t(work.height);
    Contexts contexts;
    BlockContexts blockContexts;
    int64_t count = Encoding ? 0 : *visits;
    auto more = [&]() {
        if constexpr (Encoding) {
            return coder.BytesIfFlushed() + 2 <= budget;
        } else {
            return count > 0;
        }
    };
    auto visited = [&]() {
        if constexpr (Encoding) {
            ++count;
        } else {
            --count;
        }
    };
    bool going = true;
    for (int32_t plane = maxPlane; plane >= 0 && going; --plane) {
        for (int32_t b = 0; b < bandCount && going; ++b) {
            const Band& band = bands[b];
            for (int32_t c = 0; c < channels && going; ++c) {
                if (plane >= topPlanes[b][c]) continue;
                const int32_t group = ChannelGroup(c);
                int32_t* magnitudes = work.magnitudes + c * planeSize;
                uint8_t* state = work.state + c * planeSize;
                uint8_t* lastPlane = work.lastPlane + c * planeSize;
                for (int32_t by = band.y0; by < band.y1 && going; by += kBlockSize) {
                    const int32_t yEnd = by + kBlockSize < band.y1 ? by + kBlockSize : band.y1;
                    for (int32_t bx = band.x0; bx < band.x1 && going; bx += kBlockSize) {
                        const int32_t xEnd = bx + kBlockSize < band.x1 ? bx + kBlockSize : band.x1;
                        uint8_t& blockState = state[size_t(by) * width + bx];
                        if (!(blockState & kBlockActive)) {
                            if (!(going = more())) break;
                            uint32_t flag = 0;
                            if constexpr (Encoding) {
                                for (int32_t y = by; y < yEnd && !flag; ++y)
                                    for (int32_t x = bx; x < xEnd; ++x)
                                        if ((magnitudes[size_t(y) * width + x] & INT32_MAX) >>
                                            plane) {
                                            flag = 1;
                                            break;
                                        }
                            }
                            int32_t near = 0;
                            if (bx > band.x0)
                                near += (state[size_t(by) * width + bx - kBlockSize] &
                                         kBlockActive) != 0;
                            if (by > band.y0)
                                near += (state[size_t(by - kBlockSize) * width + bx] &
                                         kBlockActive) != 0;
                            flag =
                                CodeBit(coder, &blockContexts.flag[group][band.kind][near], flag);
                            visited();
                            if (!flag) continue;
                            blockState |= kBlockActive;
                        }
                        for (int32_t y = by; y < yEnd && going; ++y) {
                            for (int32_t x = bx; x < xEnd; ++x) {
                                if (!(going = more())) break;
                                size_t i = size_t(y) * width + x;
                                uint32_t bit = 0;
                                if constexpr (Encoding) bit = uint32_t(magnitudes[i] >> plane) & 1;
                                if (state[i] & kSignificant) {
                                    int32_t refined = (state[i] & kRefined) ? 1 : 0;
                                    bit = CodeBit(coder, &contexts.refinement[group][refined], bit);
                                    state[i] |= kRefined;
                                } else {
                                    int32_t n = SignificanceContext(state, width, bands, b, x, y);
                                    bit = CodeBit(coder,
                                                  &contexts.significance[group][band.kind][n], bit);
                                    if (bit) {
                                        uint32_t negative = magnitudes[i] < 0 ? 1 : 0;
                                        negative = CodeBit(coder, &contexts.sign[group], negative);
                                        if constexpr (!Encoding) {
                                            if (negative) magnitudes[i] = INT32_MIN;
                                        }
                                        state[i] |= kSignificant;
                                    }
                                }
                                if constexpr (!Encoding) {
                                    magnitudes[i] |= int32_t(bit << plane);
                                    lastPlane[i] = uint8_t(plane);
                                }
                                visited();
                            }
                        }
                    }
                }
            }
        }
    }
    if constexpr (Encoding) *visits = count;
}

void PutInt32(uint8_t* p, int32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(uint32_t(v) >> (8 * i));
}
int32_t GetInt32(const uint8_t* p) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= uint32_t(p[i]) << (8 * i);
    return int32_t(v);
}

inline uint8_t ClampByte(float v) {
    if (v <= 0.0f) return 0;
    if (v >= 255.0f) return 255;
    return uint8_t(v + 0.5f);
}

}  // namespace

int64_t QuibMaximumBytes(int32_t width, int32_t height, int32_t flags, int32_t ratio) {
    int32_t channels = (flags & ORVANE_QUIB_ALPHA_FLAG) ? 4 : 3;
    if (ratio < 1) ratio = 1;
    int64_t budget = int64_t(width) * height * channels / ratio;
    int64_t floor = HeaderBytes(LevelCount(width, height), channels) + 64;
    return budget > floor ? budget : floor;
}

int32_t QuibEncode(int32_t width, int32_t height, int64_t stride, const uint8_t* rgba,
                   int32_t flags, int32_t ratio, uint8_t* output) {
    if (width <= 0 || height <= 0) return 0;
    const int32_t channels = (flags & ORVANE_QUIB_ALPHA_FLAG) ? 4 : 3;
    const int32_t levels = LevelCount(width, height);
    const int64_t budget = QuibMaximumBytes(width, height, flags, ratio);
    const int32_t headerBytes = HeaderBytes(levels, channels);
    Workspace work;
    if (!work.Allocate(width, height, channels)) return 0;
    const size_t planeSize = size_t(width) * size_t(height);

    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = rgba + y * stride;
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t* p = row + size_t(x) * 4;
            float r = p[0], g = p[1], b = p[2];
            size_t i = size_t(y) * width + x;
            work.planes[i] = 0.299f * r + 0.587f * g + 0.114f * b - 128.0f;
            work.planes[planeSize + i] = -0.168736f * r - 0.331264f * g + 0.5f * b;
            work.planes[2 * planeSize + i] = 0.5f * r - 0.418688f * g - 0.081312f * b;
            if (channels == 4) work.planes[3 * planeSize + i] = float(p[3]) - 128.0f;
        }
    }
    Band bands[kMaxBands];
    const int32_t bandCount = MakeBands(width, height, levels, bands);
    uint8_t topPlanes[kMaxBands][4] = {};
    int32_t maxPlane = -1;
    for (int32_t c = 0; c < channels; ++c) {
        float* plane = work.planes + c * planeSize;
        Forward2D(plane, width, height, levels, work.scratch);
        for (int32_t b = 0; b < bandCount; ++b) {
            int32_t top = 0;
            for (int32_t y = bands[b].y0; y < bands[b].y1; ++y) {
                for (int32_t x = bands[b].x0; x < bands[b].x1; ++x) {
                    size_t i = size_t(y) * width + x;
                    float v = plane[i] * float(1 << kFractionBits);
                    int32_t q = int32_t(std::fabs(v) + 0.5f);
                    // The sign lives in the top bit so one array holds the whole coefficient.
                    work.magnitudes[c * planeSize + i] = v < 0 ? q | INT32_MIN : q;
                    while (top < 31 && (q >> top) != 0)
                        ++top;
                }
            }
            topPlanes[b][c] = uint8_t(top);
            if (top - 1 > maxPlane) maxPlane = top - 1;
        }
    }

    RangeEncoder coder(output + headerBytes, budget - headerBytes);
    int64_t visits = 0;
    CodePlanes<true>(coder, width, channels, bands, bandCount, topPlanes, maxPlane, work,
                     budget - headerBytes, &visits);
    coder.Flush();
    if (visits > INT32_MAX) return 0;

    uint8_t* h = output;
    h[0] = 'Q';
    h[1] = 'B';
    h[2] = kVersion;
    h[3] = uint8_t(channels);
    PutInt32(h + 4, width);
    PutInt32(h + 8, height);
    h[12] = uint8_t(levels);
    h[13] = uint8_t(kFractionBits);
    PutInt32(h + 14, int32_t(visits));
    uint8_t* tops = h + kFixedHeaderBytes;
    for (int32_t b = 0; b < bandCount; ++b)
        for (int32_t c = 0; c < channels; ++c)
            *tops++ = topPlanes[b][c];
    return int32_t(headerBytes + coder.Written());
}

bool QuibDecode(int32_t width, int32_t height, int32_t flags, int32_t byteCount,
                const uint8_t* data, const orvane_pixel_layout& layout, int64_t destStride,
                uint8_t* dest) {
    const int32_t channels = (flags & ORVANE_QUIB_ALPHA_FLAG) ? 4 : 3;
    const int32_t levels = LevelCount(width, height);
    const int32_t headerBytes = HeaderBytes(levels, channels);
    if (data == nullptr || byteCount < headerBytes || data[0] != 'Q' || data[1] != 'B' ||
        data[2] != kVersion || data[3] != channels || GetInt32(data + 4) != width ||
        GetInt32(data + 8) != height || data[12] != levels || data[13] != kFractionBits) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin,
                         "Quib data of %d bytes does not hold a %d x %d "
                         "image of %d channels",
                         byteCount, width, height, channels);
        return false;
    }
    const size_t planeSize = size_t(width) * size_t(height);
    int64_t visits = GetInt32(data + 14);
    Band bands[kMaxBands];
    const int32_t bandCount = MakeBands(width, height, levels, bands);
    uint8_t topPlanes[kMaxBands][4] = {};
    int32_t maxPlane = -1;
    const uint8_t* tops = data + kFixedHeaderBytes;
    for (int32_t b = 0; b < bandCount; ++b) {
        for (int32_t c = 0; c < channels; ++c) {
            topPlanes[b][c] = *tops++;
            if (topPlanes[b][c] > 31) visits = -1;
            if (topPlanes[b][c] - 1 > maxPlane) maxPlane = topPlanes[b][c] - 1;
        }
    }
    // Per plane a block costs at most one visit per coefficient, plus one flag in the plane
    // where it wakes.
    if (visits < 0 || visits > int64_t(planeSize) * channels * (maxPlane + 2)) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin, "Quib data of %d bytes is damaged", byteCount);
        return false;
    }
    Workspace work;
    if (!work.Allocate(width, height, channels)) return false;
    std::memset(work.magnitudes, 0, planeSize * channels * 4);

    RangeDecoder coder(data + headerBytes, byteCount - headerBytes);
    CodePlanes<false>(coder, width, channels, bands, bandCount, topPlanes, maxPlane, work, 0,
                      &visits);

    const float unit = 1.0f / float(1 << kFractionBits);
    for (int32_t c = 0; c < channels; ++c) {
        float* plane = work.planes + c * planeSize;
        const int32_t* magnitudes = work.magnitudes + c * planeSize;
        for (size_t i = 0; i < planeSize; ++i) {
            int32_t m = magnitudes[i];
            int32_t q = m & INT32_MAX;
            float v = 0.0f;
            if (q != 0) {
                // The middle of what the uncoded low planes leave open.
                float half = float((1 << work.lastPlane[c * planeSize + i]) >> 1);
                v = (float(q) + half) * unit;
                if (m < 0) v = -v;
            }
            plane[i] = v;
        }
        Inverse2D(plane, width, height, levels, work.scratch);
    }

    // Back to RGBA8888 in the workspace's magnitude memory, then into the caller's layout.
    auto* rgba = reinterpret_cast<uint8_t*>(work.magnitudes);
    for (size_t i = 0; i < planeSize; ++i) {
        float luma = work.planes[i] + 128.0f;
        float cb = work.planes[planeSize + i], cr = work.planes[2 * planeSize + i];
        rgba[i * 4 + 0] = ClampByte(luma + 1.402f * cr);
        rgba[i * 4 + 1] = ClampByte(luma - 0.344136f * cb - 0.714136f * cr);
        rgba[i * 4 + 2] = ClampByte(luma + 1.772f * cb);
        rgba[i * 4 + 3] = channels == 4 ? ClampByte(work.planes[3 * planeSize + i] + 128.0f) : 255;
    }
    ConvertPixels(width, height, *OrvaneRGBA8888PixelFormat, int64_t(width) * 4, rgba, layout,
                  destStride, dest);
    return true;
}

}  // namespace orvane

// ------------------------------------------------------------------------------------------
// Exported entry points.

using namespace orvane;

extern "C" {

ORVANE_API const orvane_pixel_layout* OrvaneGetQuibPixelLayout(orvane_int32 AlphaFlag) {
    return AlphaFlag ? OrvaneRGBA8888PixelFormat : OrvaneRGB888PixelFormat;
}

ORVANE_API orvane_int32 OrvaneGetMaximumQuibImageSize(orvane_int32 Width, orvane_int32 Height,
                                                      orvane_int32 Flags,
                                                      orvane_int32 CompressionRatio) {
    if (Width < 1 || Height < 1 || int64_t(Width) * Height * 4 > INT32_MAX) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin, "Quib image size %d x %d is not supported", Width,
                         Height);
        return 0;
    }
    int64_t bytes = QuibMaximumBytes(Width, Height, Flags, CompressionRatio);
    return bytes > INT32_MAX ? 0 : int32_t(bytes);
}

ORVANE_API orvane_int32 OrvaneQuibCompressTexture(orvane_int32 Width, orvane_int32 Height,
                                                  orvane_int32 Stride, const void* Pixels,
                                                  orvane_int32 Flags, orvane_int32 CompressionRatio,
                                                  void* Output) {
    ORVANE_TIMING_BLOCK("OrvaneQuibCompressTexture");
    if (OrvaneGetMaximumQuibImageSize(Width, Height, Flags, CompressionRatio) == 0) return 0;
    if (!CheckImageGeometry(Width, Height, 4, Stride, "Quib source image")) return 0;
    ORVANE_CHECK_NOT_NULL(OrvaneTextureOrigin, Pixels, 0);
    ORVANE_CHECK_NOT_NULL(OrvaneTextureOrigin, Output, 0);
    return QuibEncode(Width, Height, Stride, static_cast<const uint8_t*>(Pixels), Flags,
                      CompressionRatio, static_cast<uint8_t*>(Output));
}

ORVANE_API orvane_bool OrvaneQuibDecompressTexture(orvane_int32 Width, orvane_int32 Height,
                                                   orvane_int32 Flags, orvane_int32 ByteCount,
                                                   const void* Data,
                                                   const orvane_pixel_layout* DestLayout,
                                                   orvane_int32 DestStride, void* DestPixels) {
    ORVANE_TIMING_BLOCK("OrvaneQuibDecompressTexture");
    if (Width < 1 || Height < 1 || int64_t(Width) * Height * 4 > INT32_MAX) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin, "Quib image size %d x %d is not supported", Width,
                         Height);
        return false;
    }
    if (!CheckPixelLayout(DestLayout, "DestLayout") ||
        !CheckImageGeometry(Width, Height, DestLayout->BytesPerPixel, DestStride,
                            "Destination image"))
        return false;
    ORVANE_CHECK_NOT_NULL(OrvaneTextureOrigin, Data, false);
    ORVANE_CHECK_NOT_NULL(OrvaneTextureOrigin, DestPixels, false);
    return QuibDecode(Width, Height, Flags, ByteCount, static_cast<const uint8_t*>(Data),
                      *DestLayout, DestStride, static_cast<uint8_t*>(DestPixels));
}

}  // extern "C"

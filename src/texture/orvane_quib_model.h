// The Quib codec's coding model, shared by the decoder (orvane_quib.cpp) and the encoder
// (offline/orvane_quib_encoder.cpp) so that the two stay in step: the stream's header, the
// probability adaptation, the wavelet's lifting steps, the bands, the coding contexts and the one
// routine that walks the bit planes in both directions.
#ifndef ORVANE_QUIB_MODEL_H
#define ORVANE_QUIB_MODEL_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/orvane_memory.h"
#include "orvane/texture.h"

namespace orvane {
namespace quib {

constexpr uint8_t kVersion = 3;
constexpr int32_t kFractionBits = 2;
constexpr int32_t kMaxLevels = 6;
constexpr int32_t kMaxBands = 3 * kMaxLevels + 1;
constexpr int32_t kFixedHeaderBytes = 2 + 1 + 1 + 4 + 4 + 1 + 1 + 4;

inline int32_t ChannelCount(int32_t flags) {
    return (flags & ORVANE_QUIB_ALPHA_FLAG) ? 4 : 3;
}

inline int32_t LevelCount(int32_t width, int32_t height) {
    int32_t levels = 0;
    while (levels < kMaxLevels && (width >> levels) >= 16 && (height >> levels) >= 16)
        ++levels;
    return levels;
}

inline int32_t HeaderBytes(int32_t levels, int32_t channels) {
    return kFixedHeaderBytes + (3 * levels + 1) * channels;
}

// --- Binary range coder (11-bit probabilities, carry propagation through a cache byte). ----

constexpr uint32_t kProbabilityBits = 11;
constexpr uint32_t kProbabilityOne = 1u << kProbabilityBits;
constexpr uint32_t kAdaptShift = 5;
constexpr uint32_t kTop = 1u << 24;

// The adaptation after a coded bit, the same on both sides.
inline uint16_t AfterZero(uint16_t probability) {
    return uint16_t(probability + ((kProbabilityOne - probability) >> kAdaptShift));
}
inline uint16_t AfterOne(uint16_t probability) {
    return uint16_t(probability - (probability >> kAdaptShift));
}

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

// The vertical transform lifts whole rows at a time: the same arithmetic as Forward1D and
// Inverse1D down every column, but walking memory row by row.
inline void LiftRows(float* plane, int32_t stride, int32_t w, int32_t h, int32_t parity,
                     float weight) {
    for (int32_t i = parity; i < h; i += 2) {
        const float* up = plane + size_t(i - 1 >= 0 ? i - 1 : i + 1) * stride;
        const float* down = plane + size_t(i + 1 < h ? i + 1 : i - 1) * stride;
        float* row = plane + size_t(i) * stride;
        for (int32_t x = 0; x < w; ++x)
            row[x] += weight * (up[x] + down[x]);
    }
}

// The width and height of the low band after each level (ws[0], hs[0]: the image).
inline void LevelSizes(int32_t width, int32_t height, int32_t levels, int32_t ws[kMaxLevels + 1],
                       int32_t hs[kMaxLevels + 1]) {
    ws[0] = width;
    hs[0] = height;
    for (int32_t level = 0; level < levels; ++level) {
        ws[level + 1] = (ws[level] + 1) / 2;
        hs[level + 1] = (hs[level] + 1) / 2;
    }
}

// --- Bands and coding state. ----------------------------------------------------------------

struct Band {
    int32_t x0, y0, x1, y1;
    int32_t kind;  // 0 the low band, 1 coarse details, 2 the finest details
};

inline int32_t MakeBands(int32_t width, int32_t height, int32_t levels, Band bands[kMaxBands]) {
    int32_t ws[kMaxLevels + 1], hs[kMaxLevels + 1];
    LevelSizes(width, height, levels, ws, hs);
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
// One routine for both directions, so that the decoder walks exactly the encoder's path. The
// encoder stops before the visit that could overrun its budget and counts its visits (block
// flags and coefficients); the decoder makes that many visits. Each side defines, beside its
// coder's class, CodeBit(coder, probability, bit): it codes `bit` and returns it, or decodes
// and returns the bit read (found by argument-dependent lookup when this is instantiated).
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

}  // namespace quib
}  // namespace orvane

#endif  // ORVANE_QUIB_MODEL_H

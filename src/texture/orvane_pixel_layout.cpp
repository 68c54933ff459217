// Pixel layouts: the stock layouts, layouts from component widths, conversion between layouts and
// the GameCube tile swizzles.
#include "texture/orvane_pixel_layout.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

// x86 converts four pixels at a time with SSE2 and eight with AVX2 where the processor has it;
// other hosts convert pixel by pixel.
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ORVANE_PIXEL_SIMD 1
#else
#define ORVANE_PIXEL_SIMD 0
#endif

#include "core/orvane_log.h"

namespace orvane {
namespace {

constexpr orvane_pixel_layout kRGB555 = {2, {0, 5, 10, 0}, {5, 5, 5, 0}};
constexpr orvane_pixel_layout kRGB565 = {2, {0, 5, 11, 0}, {5, 6, 5, 0}};
constexpr orvane_pixel_layout kRGBA5551 = {2, {0, 5, 10, 15}, {5, 5, 5, 1}};
constexpr orvane_pixel_layout kRGBA4444 = {2, {0, 4, 8, 12}, {4, 4, 4, 4}};
constexpr orvane_pixel_layout kRGB888 = {3, {0, 8, 16, 0}, {8, 8, 8, 0}};
constexpr orvane_pixel_layout kRGBA8888 = {4, {0, 8, 16, 24}, {8, 8, 8, 8}};
constexpr orvane_pixel_layout kARGB8888 = {4, {8, 16, 24, 0}, {8, 8, 8, 8}};
constexpr orvane_pixel_layout kBGR555 = {2, {10, 5, 0, 0}, {5, 5, 5, 0}};
constexpr orvane_pixel_layout kBGR565 = {2, {11, 5, 0, 0}, {5, 6, 5, 0}};
constexpr orvane_pixel_layout kBGRA5551 = {2, {10, 5, 0, 15}, {5, 5, 5, 1}};
constexpr orvane_pixel_layout kBGRA4444 = {2, {8, 4, 0, 12}, {4, 4, 4, 4}};
constexpr orvane_pixel_layout kBGR888 = {3, {16, 8, 0, 0}, {8, 8, 8, 0}};
constexpr orvane_pixel_layout kBGRA8888 = {4, {16, 8, 0, 24}, {8, 8, 8, 8}};

// The conversion as up to four terms ((v << left) >> right) & mask. Only components present
// on both sides take part, so both shift counts stay within 0..31; components that move by
// the same shifts share one term (RGB888 to RGBA8888 is a single mask), and unused terms are
// all zero.
struct ComponentMove {
    uint32_t leftShift[4];
    uint32_t rightShift[4];
    uint32_t mask[4];
    int32_t terms;
    // Between 4-byte layouts of whole, byte-aligned components the conversion moves bytes:
    // destination byte j takes source byte bytes[j], or 0 when bytes[j] is negative.
    bool moveBytes;
    int8_t bytes[4];
};

void PlanByteMoves(const orvane_pixel_layout& from, const orvane_pixel_layout& to,
                   ComponentMove* move) {
    move->moveBytes = false;
    if (from.BytesPerPixel != 4 || to.BytesPerPixel != 4) return;
    int8_t bytes[4] = {-1, -1, -1, -1};
    for (int i = 0; i < 4; ++i) {
        int32_t s = from.ShiftForComponent[i], b = from.BitsForComponent[i];
        int32_t d = to.ShiftForComponent[i], c = to.BitsForComponent[i];
        if (c == 0) continue;
        if (c != 8 || d % 8 != 0 || bytes[d / 8] != -1) return;  // overlaps OR together
        if (b == 0) {
            bytes[d / 8] = -2;  // comes out 0
            continue;
        }
        if (b != 8 || s % 8 != 0) return;
        bytes[d / 8] = int8_t(s / 8);
    }
    for (int j = 0; j < 4; ++j)
        move->bytes[j] = bytes[j];
    move->moveBytes = true;
}

ComponentMove PlanConversion(const orvane_pixel_layout& from, const orvane_pixel_layout& to) {
    ComponentMove move = {};
    for (int i = 0; i < 4; ++i) {
        int32_t s = from.ShiftForComponent[i], b = from.BitsForComponent[i];
        int32_t d = to.ShiftForComponent[i], c = to.BitsForComponent[i];
        if (b < 1 || c < 1) continue;
        int32_t amount = (d + c) - (s + b);
        uint32_t left = amount >= 0 ? uint32_t(amount) : 0;
        uint32_t right = amount >= 0 ? 0 : uint32_t(-amount);
        int32_t low = d + c - b > d ? d + c - b : d;
        uint32_t mask = uint32_t(((uint64_t(1) << (d + c - low)) - 1) << low);
        int32_t t = 0;
        while (t < move.terms && (move.leftShift[t] != left || move.rightShift[t] != right))
            ++t;
        if (t == move.terms) {
            move.leftShift[t] = left;
            move.rightShift[t] = right;
            ++move.terms;
        }
        move.mask[t] |= mask;
    }
    PlanByteMoves(from, to, &move);
    return move;
}

#if ORVANE_PIXEL_SIMD
// Four pixels at once as 32-bit lanes. Loads and stores stay within the four pixels' bytes,
// except that 3-byte pixels move as 4-byte words, which the callers only do while another
// pixel of the row follows (its bytes are rewritten afterwards in order).
template <int Bytes>
inline __m128i LoadFour(const uint8_t* p) {
    if constexpr (Bytes == 4) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    } else if constexpr (Bytes == 2) {
        return _mm_unpacklo_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                                  _mm_setzero_si128());
    } else if constexpr (Bytes == 1) {
        int32_t word;
        std::memcpy(&word, p, 4);
        __m128i bytes = _mm_cvtsi32_si128(word);
        return _mm_unpacklo_epi16(_mm_unpacklo_epi8(bytes, _mm_setzero_si128()),
                                  _mm_setzero_si128());
    } else {
        uint32_t w[4];
        for (int i = 0; i < 4; ++i)
            std::memcpy(&w[i], p + 3 * i, 4);
        __m128i v = _mm_set_epi32(int32_t(w[3]), int32_t(w[2]), int32_t(w[1]), int32_t(w[0]));
        return _mm_and_si128(v, _mm_set1_epi32(0x00ffffff));
    }
}

template <int Bytes>
inline void StoreFour(uint8_t* p, __m128i v) {
    if constexpr (Bytes == 4) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
    } else if constexpr (Bytes == 2) {
        // Sign-extend the low halves so that the signed pack keeps them exactly.
        __m128i halves = _mm_srai_epi32(_mm_slli_epi32(v, 16), 16);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_packs_epi32(halves, halves));
    } else if constexpr (Bytes == 1) {
        __m128i words = _mm_packs_epi32(v, v);  // values < 256: no saturation
        int32_t bytes = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
        std::memcpy(p, &bytes, 4);
    } else {
        alignas(16) uint32_t w[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(w), v);
        for (int i = 0; i < 4; ++i)
            std::memcpy(p + 3 * i, &w[i], 4);
    }
}

#endif  // ORVANE_PIXEL_SIMD

// A pixel is a little-endian integer of its bytes on every host.
template <int Bytes>
inline uint32_t LoadPixel(const uint8_t* p) {
    if constexpr (Bytes == 1) {
        return p[0];
    } else if constexpr (Bytes == 2) {
        return uint32_t(p[0]) | uint32_t(p[1]) << 8;
    } else if constexpr (Bytes == 3) {
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    } else {
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
}

template <int Bytes>
inline void StorePixel(uint8_t* p, uint32_t v) {
    if constexpr (Bytes == 1) {
        p[0] = uint8_t(v);
    } else if constexpr (Bytes == 2) {
        p[0] = uint8_t(v);
        p[1] = uint8_t(v >> 8);
    } else if constexpr (Bytes == 3) {
        p[0] = uint8_t(v);
        p[1] = uint8_t(v >> 8);
        p[2] = uint8_t(v >> 16);
    } else {
        p[0] = uint8_t(v);
        p[1] = uint8_t(v >> 8);
        p[2] = uint8_t(v >> 16);
        p[3] = uint8_t(v >> 24);
    }
}

// The last pixels of every row are loaded and stored with exactly their own bytes, so no
// access reaches past the end of a row whatever the pixel size.
template <int SourceBytes, int DestBytes>
void ConvertRows(int32_t width, int32_t height, const ComponentMove& m, int64_t sourceStride,
                 const uint8_t* source, int64_t destStride, uint8_t* dest) {
    const uint32_t l0 = m.leftShift[0], l1 = m.leftShift[1], l2 = m.leftShift[2],
                   l3 = m.leftShift[3];
    const uint32_t r0 = m.rightShift[0], r1 = m.rightShift[1], r2 = m.rightShift[2],
                   r3 = m.rightShift[3];
    const uint32_t m0 = m.mask[0], m1 = m.mask[1], m2 = m.mask[2], m3 = m.mask[3];
#if ORVANE_PIXEL_SIMD
    const __m128i vl0 = _mm_cvtsi32_si128(int32_t(l0)), vl1 = _mm_cvtsi32_si128(int32_t(l1)),
                  vl2 = _mm_cvtsi32_si128(int32_t(l2)), vl3 = _mm_cvtsi32_si128(int32_t(l3));
    const __m128i vr0 = _mm_cvtsi32_si128(int32_t(r0)), vr1 = _mm_cvtsi32_si128(int32_t(r1)),
                  vr2 = _mm_cvtsi32_si128(int32_t(r2)), vr3 = _mm_cvtsi32_si128(int32_t(r3));
    const __m128i vm0 = _mm_set1_epi32(int32_t(m0)), vm1 = _mm_set1_epi32(int32_t(m1)),
                  vm2 = _mm_set1_epi32(int32_t(m2)), vm3 = _mm_set1_epi32(int32_t(m3));
    // Word-wise 3-byte access needs one more pixel after the group of four.
    constexpr int32_t kSpare = (SourceBytes == 3 || DestBytes == 3) ? 1 : 0;
    constexpr bool kVector = SourceBytes != 3 && DestBytes != 3;
#endif
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* s = source + y * sourceStride;
        uint8_t* d = dest + y * destStride;
        int32_t x = 0;
#if ORVANE_PIXEL_SIMD
        for (; kVector && x + 4 + kSpare <= width; x += 4) {
            __m128i v = LoadFour<SourceBytes>(s + size_t(x) * SourceBytes);
            __m128i c0 = _mm_and_si128(_mm_srl_epi32(_mm_sll_epi32(v, vl0), vr0), vm0);
            __m128i c1 = _mm_and_si128(_mm_srl_epi32(_mm_sll_epi32(v, vl1), vr1), vm1);
            __m128i c2 = _mm_and_si128(_mm_srl_epi32(_mm_sll_epi32(v, vl2), vr2), vm2);
            __m128i c3 = _mm_and_si128(_mm_srl_epi32(_mm_sll_epi32(v, vl3), vr3), vm3);
            StoreFour<DestBytes>(d + size_t(x) * DestBytes,
                                 _mm_or_si128(_mm_or_si128(c0, c1), _mm_or_si128(c2, c3)));
        }
#endif
        for (; x < width; ++x) {
            uint32_t v = LoadPixel<SourceBytes>(s + size_t(x) * SourceBytes);
            uint32_t out = (((v << l0) >> r0) & m0) | (((v << l1) >> r1) & m1) |
                           (((v << l2) >> r2) & m2) | (((v << l3) >> r3) & m3);
            StorePixel<DestBytes>(d + size_t(x) * DestBytes, out);
        }
    }
}

#if ORVANE_PIXEL_SIMD
// Eight pixels at once with AVX2, taken only on processors that have it. Every load and store
// covers exactly the eight pixels' bytes.
template <int Bytes>
__attribute__((target("avx2"))) inline __m256i LoadEight(const uint8_t* p) {
    if constexpr (Bytes == 4) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    } else if constexpr (Bytes == 2) {
        return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    } else if constexpr (Bytes == 1) {
        return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
    } else {
        // Pixels 0-3 from bytes 0-15, pixels 4-7 from bytes 8-23.
        __m256i v = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)), 1);
        const __m256i spread =
            _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 4, 5, 6, -1, 7,
                             8, 9, -1, 10, 11, 12, -1, 13, 14, 15, -1);
        return _mm256_shuffle_epi8(v, spread);
    }
}

template <int Bytes>
__attribute__((target("avx2"))) inline void StoreEight(uint8_t* p, __m256i v) {
    if constexpr (Bytes == 4) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
    } else if constexpr (Bytes == 2) {
        const __m256i gather =
            _mm256_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1, 0, 1, 4, 5,
                             8, 9, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1);
        __m256i packed = _mm256_permute4x64_epi64(_mm256_shuffle_epi8(v, gather), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(packed));
    } else if constexpr (Bytes == 1) {
        const __m256i gather =
            _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 4, 8,
                             12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
        __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(v, gather),
                                                     _mm256_setr_epi32(0, 4, 1, 1, 1, 1, 1, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(packed));
    } else {
        const __m256i gather =
            _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0, 1, 2, 4, 5,
                             6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
        __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(v, gather),
                                                     _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(packed));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p + 16), _mm256_extracti128_si256(packed, 1));
    }
}

template <int SourceBytes, int DestBytes, int Terms>
__attribute__((target("avx2"))) void ConvertRowsWideTerms(int32_t width, int32_t height,
                                                          const ComponentMove& m,
                                                          int64_t sourceStride,
                                                          const uint8_t* source, int64_t destStride,
                                                          uint8_t* dest) {
    __m128i left[4], right[4];
    __m256i mask[4];
    for (int i = 0; i < 4; ++i) {
        left[i] = _mm_cvtsi32_si128(int32_t(m.leftShift[i]));
        right[i] = _mm_cvtsi32_si128(int32_t(m.rightShift[i]));
        mask[i] = _mm256_set1_epi32(int32_t(m.mask[i]));
    }
    const int32_t wide = width & ~7;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* s = source + y * sourceStride;
        uint8_t* d = dest + y * destStride;
        for (int32_t x = 0; x < wide; x += 8) {
            __m256i v = LoadEight<SourceBytes>(s + size_t(x) * SourceBytes);
            __m256i out = _mm256_setzero_si256();
            for (int i = 0; i < Terms; ++i)
                out = _mm256_or_si256(
                    out, _mm256_and_si256(_mm256_srl_epi32(_mm256_sll_epi32(v, left[i]), right[i]),
                                          mask[i]));
            StoreEight<DestBytes>(d + size_t(x) * DestBytes, out);
        }
    }
    if (wide < width) {
        ConvertRows<SourceBytes, DestBytes>(width - wide, height, m, sourceStride,
                                            source + size_t(wide) * SourceBytes, destStride,
                                            dest + size_t(wide) * DestBytes);
    }
}

__attribute__((target("avx2"))) void MoveBytesWide(int32_t width, int32_t height,
                                                   const ComponentMove& m, int64_t sourceStride,
                                                   const uint8_t* source, int64_t destStride,
                                                   uint8_t* dest) {
    alignas(32) int8_t pattern[32];
    for (int p = 0; p < 8; ++p)
        for (int j = 0; j < 4; ++j)
            pattern[p * 4 + j] = m.bytes[j] < 0 ? int8_t(-128) : int8_t((p % 4) * 4 + m.bytes[j]);
    const __m256i shuffle = _mm256_load_si256(reinterpret_cast<const __m256i*>(pattern));
    const int32_t wide = width & ~7;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* s = source + y * sourceStride;
        uint8_t* d = dest + y * destStride;
        for (int32_t x = 0; x < wide; x += 8) {
            __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + size_t(x) * 4));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + size_t(x) * 4),
                                _mm256_shuffle_epi8(v, shuffle));
        }
    }
    if (wide < width) {
        ConvertRows<4, 4>(width - wide, height, m, sourceStride, source + size_t(wide) * 4,
                          destStride, dest + size_t(wide) * 4);
    }
}

template <int SourceBytes, int DestBytes>
void ConvertRowsWide(int32_t width, int32_t height, const ComponentMove& m, int64_t sourceStride,
                     const uint8_t* source, int64_t destStride, uint8_t* dest) {
    if constexpr (SourceBytes == 4 && DestBytes == 4) {
        if (m.moveBytes) {
            MoveBytesWide(width, height, m, sourceStride, source, destStride, dest);
            return;
        }
    }
    switch (m.terms) {
        case 0:
            ConvertRowsWideTerms<SourceBytes, DestBytes, 0>(width, height, m, sourceStride, source,
                                                            destStride, dest);
            break;
        case 1:
            ConvertRowsWideTerms<SourceBytes, DestBytes, 1>(width, height, m, sourceStride, source,
                                                            destStride, dest);
            break;
        case 2:
            ConvertRowsWideTerms<SourceBytes, DestBytes, 2>(width, height, m, sourceStride, source,
                                                            destStride, dest);
            break;
        case 3:
            ConvertRowsWideTerms<SourceBytes, DestBytes, 3>(width, height, m, sourceStride, source,
                                                            destStride, dest);
            break;
        default:
            ConvertRowsWideTerms<SourceBytes, DestBytes, 4>(width, height, m, sourceStride, source,
                                                            destStride, dest);
            break;
    }
}

#endif  // ORVANE_PIXEL_SIMD

using RowConverter = void (*)(int32_t, int32_t, const ComponentMove&, int64_t, const uint8_t*,
                              int64_t, uint8_t*);

template <int SourceBytes>
constexpr RowConverter kConvertersFrom[4] = {
    ConvertRows<SourceBytes, 1>, ConvertRows<SourceBytes, 2>, ConvertRows<SourceBytes, 3>,
    ConvertRows<SourceBytes, 4>};
constexpr const RowConverter* kConverters[4] = {kConvertersFrom<1>, kConvertersFrom<2>,
                                                kConvertersFrom<3>, kConvertersFrom<4>};
#if ORVANE_PIXEL_SIMD
template <int SourceBytes>
constexpr RowConverter kWideConvertersFrom[4] = {
    ConvertRowsWide<SourceBytes, 1>, ConvertRowsWide<SourceBytes, 2>,
    ConvertRowsWide<SourceBytes, 3>, ConvertRowsWide<SourceBytes, 4>};
constexpr const RowConverter* kWideConverters[4] = {kWideConvertersFrom<1>, kWideConvertersFrom<2>,
                                                    kWideConvertersFrom<3>, kWideConvertersFrom<4>};
#endif

// Chosen once; the function-local static makes the first use race-free.
const RowConverter* const* Converters() {
#if ORVANE_PIXEL_SIMD
    static const RowConverter* const* table =
        __builtin_cpu_supports("avx2") ? kWideConverters : kConverters;
#else
    static const RowConverter* const* table = kConverters;
#endif
    return table;
}

bool LayoutsEqual(const orvane_pixel_layout& a, const orvane_pixel_layout& b) {
    if (a.BytesPerPixel != b.BytesPerPixel) return false;
    for (int i = 0; i < 4; ++i) {
        if (a.ShiftForComponent[i] != b.ShiftForComponent[i] ||
            a.BitsForComponent[i] != b.BitsForComponent[i])
            return false;
    }
    return true;
}

}  // namespace

bool PixelLayoutIsValid(const orvane_pixel_layout& layout) {
    if (layout.BytesPerPixel < 1 || layout.BytesPerPixel > 4) return false;
    for (int i = 0; i < 4; ++i) {
        int32_t shift = layout.ShiftForComponent[i], bits = layout.BitsForComponent[i];
        if (bits < 0 || bits > 32) return false;
        if (bits == 0) continue;
        if (shift < 0 || shift > 31 || shift + bits > layout.BytesPerPixel * 8) return false;
    }
    return true;
}

bool CheckPixelLayout(const orvane_pixel_layout* layout, const char* what) {
    if (layout == nullptr) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin, "%s is not allowed to be 0", what);
        return false;
    }
    if (!PixelLayoutIsValid(*layout)) {
        ORVANE_LOG_ERROR(
            OrvaneTextureOrigin,
            "%s is not a valid pixel layout (%d bytes per pixel, shifts %d %d %d "
            "%d, bits %d %d %d %d)",
            what, layout->BytesPerPixel, layout->ShiftForComponent[0], layout->ShiftForComponent[1],
            layout->ShiftForComponent[2], layout->ShiftForComponent[3], layout->BitsForComponent[0],
            layout->BitsForComponent[1], layout->BitsForComponent[2], layout->BitsForComponent[3]);
        return false;
    }
    return true;
}

bool CheckImageGeometry(int32_t width, int32_t height, int32_t bytesPerPixel, int32_t stride,
                        const char* what) {
    if (width < 0 || height < 0) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin, "%s size %d x %d is negative", what, width, height);
        return false;
    }
    if (int64_t(width) * int64_t(height) * 4 > INT32_MAX) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin, "%s size %d x %d is too large", what, width, height);
        return false;
    }
    int64_t rowBytes = int64_t(width) * bytesPerPixel;
    if (height > 1 && std::llabs(int64_t(stride)) < rowBytes) {
        ORVANE_LOG_ERROR(OrvaneTextureOrigin, "%s stride %d is smaller than a row of %d bytes",
                         what, stride, int32_t(rowBytes));
        return false;
    }
    return true;
}

namespace {

void ConvertWith(const RowConverter* const* table, int32_t width, int32_t height,
                 const orvane_pixel_layout& sourceLayout, int64_t sourceStride,
                 const uint8_t* source, const orvane_pixel_layout& destLayout, int64_t destStride,
                 uint8_t* dest) {
    if (width <= 0 || height <= 0) return;
    // Bits outside every component come out 0, so only layouts whose components cover every
    // bit of the pixel can be copied as they are (widths that merely add up to the pixel may
    // overlap and leave bits uncovered).
    uint64_t covered = 0;
    for (int i = 0; i < 4; ++i) {
        int32_t bits = destLayout.BitsForComponent[i];
        if (bits > 0) covered |= ((uint64_t(1) << bits) - 1) << destLayout.ShiftForComponent[i];
    }
    const uint64_t wholePixel = (uint64_t(1) << (destLayout.BytesPerPixel * 8)) - 1;
    if (LayoutsEqual(sourceLayout, destLayout) && covered == wholePixel) {
        size_t rowBytes = size_t(width) * size_t(sourceLayout.BytesPerPixel);
        for (int32_t y = 0; y < height; ++y)
            std::memmove(dest + y * destStride, source + y * sourceStride, rowBytes);
        return;
    }
    ComponentMove move = PlanConversion(sourceLayout, destLayout);
    table[sourceLayout.BytesPerPixel - 1][destLayout.BytesPerPixel - 1](
        width, height, move, sourceStride, source, destStride, dest);
}

}  // namespace

void ConvertPixels(int32_t width, int32_t height, const orvane_pixel_layout& sourceLayout,
                   int64_t sourceStride, const uint8_t* source,
                   const orvane_pixel_layout& destLayout, int64_t destStride, uint8_t* dest) {
    ConvertWith(Converters(), width, height, sourceLayout, sourceStride, source, destLayout,
                destStride, dest);
}

void ConvertPixelsPortable(int32_t width, int32_t height, const orvane_pixel_layout& sourceLayout,
                           int64_t sourceStride, const uint8_t* source,
                           const orvane_pixel_layout& destLayout, int64_t destStride,
                           uint8_t* dest) {
    ConvertWith(kConverters, width, height, sourceLayout, sourceStride, source, destLayout,
                destStride, dest);
}

namespace {

int32_t SetStock(orvane_pixel_layout* layout, const int32_t bits[4], const int32_t placement[4]) {
    ORVANE_CHECK_NOT_NULL(OrvaneTextureOrigin, layout, 0);
    bool seen[4] = {};
    int32_t sum = 0;
    for (int k = 0; k < 4; ++k) {
        int32_t c = placement[k];
        if (c < 0 || c > 3 || seen[c]) {
            ORVANE_LOG_ERROR(OrvaneTextureOrigin,
                             "ComponentPlacement[%d] %d is not a free "
                             "component index in [0, 4)",
                             k, c);
            return 0;
        }
        seen[c] = true;
        if (bits[c] < 0 || bits[c] > 32 || sum + bits[c] > 32) {
            ORVANE_LOG_ERROR(OrvaneTextureOrigin,
                             "Component widths %d %d %d %d do not fit a "
                             "32-bit pixel",
                             bits[0], bits[1], bits[2], bits[3]);
            return 0;
        }
        sum += bits[c];
    }
    sum = 0;
    for (int k = 0; k < 4; ++k) {
        int32_t c = placement[k];
        // An absent component sits at 0, as in the stock tables, so that a specified layout
        // compares equal to its stock counterpart.
        layout->ShiftForComponent[c] = bits[c] == 0 ? 0 : sum;
        layout->BitsForComponent[c] = bits[c];
        sum += bits[c];
    }
    layout->BytesPerPixel = (sum + 7) / 8;
    return layout->BytesPerPixel;
}

// Destination tiles follow one another band by band; the callers' width / 4 x height / 4
// tiles are all that is written.
template <int TileBytes, typename WriteTile>
void SwizzleTiles(int32_t width, int32_t height, int32_t stride, const uint8_t* source,
                  uint8_t* dest, WriteTile writeTile) {
    int32_t bands = height / 4, tiles = width / 4;
    for (int32_t band = 0; band < bands; ++band) {
        for (int32_t tile = 0; tile < tiles; ++tile) {
            const uint8_t* rows[4];
            for (int r = 0; r < 4; ++r)
                rows[r] = source + (int64_t(band) * 4 + r) * stride +
                          int64_t(tile) * 4 * (TileBytes / 16);
            writeTile(rows, dest);
            dest += TileBytes;
        }
    }
}

bool CheckSwizzle(int32_t width, int32_t height, int32_t bytesPerPixel, int32_t stride,
                  const void* source, const void* dest) {
    if (!CheckImageGeometry(width, height, bytesPerPixel, stride, "Swizzle source")) return false;
    if (width >= 4 && height >= 4) {
        ORVANE_CHECK_NOT_NULL(OrvaneTextureOrigin, source, false);
        ORVANE_CHECK_NOT_NULL(OrvaneTextureOrigin, dest, false);
    }
    return true;
}

}  // namespace

}  // namespace orvane

// ------------------------------------------------------------------------------------------
// Exported entry points.

using namespace orvane;

extern "C" {

extern ORVANE_API const orvane_pixel_layout* const OrvaneRGB555PixelFormat = &kRGB555;
extern ORVANE_API const orvane_pixel_layout* const OrvaneRGB565PixelFormat = &kRGB565;
extern ORVANE_API const orvane_pixel_layout* const OrvaneRGBA5551PixelFormat = &kRGBA5551;
extern ORVANE_API const orvane_pixel_layout* const OrvaneRGBA4444PixelFormat = &kRGBA4444;
extern ORVANE_API const orvane_pixel_layout* const OrvaneRGB888PixelFormat = &kRGB888;
extern ORVANE_API const orvane_pixel_layout* const OrvaneRGBA8888PixelFormat = &kRGBA8888;
extern ORVANE_API const orvane_pixel_layout* const OrvaneARGB8888PixelFormat = &kARGB8888;
extern ORVANE_API const orvane_pixel_layout* const OrvaneBGR555PixelFormat = &kBGR555;
extern ORVANE_API const orvane_pixel_layout* const OrvaneBGR565PixelFormat = &kBGR565;
extern ORVANE_API const orvane_pixel_layout* const OrvaneBGRA5551PixelFormat = &kBGRA5551;
extern ORVANE_API const orvane_pixel_layout* const OrvaneBGRA4444PixelFormat = &kBGRA4444;
extern ORVANE_API const orvane_pixel_layout* const OrvaneBGR888PixelFormat = &kBGR888;
extern ORVANE_API const orvane_pixel_layout* const OrvaneBGRA8888PixelFormat = &kBGRA8888;

ORVANE_API orvane_bool OrvanePixelLayoutsAreEqual(const orvane_pixel_layout* A,
                                                  const orvane_pixel_layout* B) {
    if (A == nullptr || B == nullptr) return false;
    return LayoutsEqual(*A, *B);
}

ORVANE_API orvane_bool OrvanePixelLayoutHasAlpha(const orvane_pixel_layout* Layout) {
    return Layout != nullptr && Layout->BitsForComponent[3] != 0;
}

ORVANE_API orvane_int32 OrvaneSetStockSpecification(orvane_pixel_layout* Layout,
                                                    const orvane_int32 BitsPerComponent[4],
                                                    const orvane_int32 ComponentPlacement[4]) {
    ORVANE_CHECK_NOT_NULL(OrvaneTextureOrigin, BitsPerComponent, 0);
    ORVANE_CHECK_NOT_NULL(OrvaneTextureOrigin, ComponentPlacement, 0);
    return SetStock(Layout, BitsPerComponent, ComponentPlacement);
}

ORVANE_API orvane_int32 OrvaneSetStockRGBASpecification(orvane_pixel_layout* Layout,
                                                        orvane_int32 RedBits,
                                                        orvane_int32 GreenBits,
                                                        orvane_int32 BlueBits,
                                                        orvane_int32 AlphaBits) {
    const int32_t bits[4] = {RedBits, GreenBits, BlueBits, AlphaBits};
    const int32_t placement[4] = {0, 1, 2, 3};
    return SetStock(Layout, bits, placement);
}

ORVANE_API orvane_int32 OrvaneSetStockBGRASpecification(orvane_pixel_layout* Layout,
                                                        orvane_int32 RedBits,
                                                        orvane_int32 GreenBits,
                                                        orvane_int32 BlueBits,
                                                        orvane_int32 AlphaBits) {
    const int32_t bits[4] = {RedBits, GreenBits, BlueBits, AlphaBits};
    const int32_t placement[4] = {2, 1, 0, 3};
    return SetStock(Layout, bits, placement);
}

ORVANE_API void OrvaneSwapRGBAToBGRA(orvane_pixel_layout* Layout) {
    ORVANE_CHECK_NOT_NULL(OrvaneTextureOrigin, Layout, );
    int32_t shift = Layout->ShiftForComponent[0], bits = Layout->BitsForComponent[0];
    Layout->ShiftForComponent[0] = Layout->ShiftForComponent[2];
    Layout->BitsForComponent[0] = Layout->BitsForComponent[2];
    Layout->ShiftForComponent[2] = shift;
    Layout->BitsForComponent[2] = bits;
}

ORVANE_API void OrvaneConvertPixelFormat(orvane_int32 Width, orvane_int32 Height,
                                         const orvane_pixel_layout* SourceLayout,
                                         orvane_int32 SourceStride, const void* SourcePixels,
                                         const orvane_pixel_layout* DestLayout,
                                         orvane_int32 DestStride, void* DestPixels) {
    if (!CheckPixelLayout(SourceLayout, "SourceLayout") ||
        !CheckPixelLayout(DestLayout, "DestLayout"))
        return;
    if (!CheckImageGeometry(Width, Height, SourceLayout->BytesPerPixel, SourceStride,
                            "Source image") ||
        !CheckImageGeometry(Width, Height, DestLayout->BytesPerPixel, DestStride,
                            "Destination image"))
        return;
    if (Width == 0 || Height == 0) return;
    ORVANE_CHECK_NOT_NULL(OrvaneTextureOrigin, SourcePixels, );
    ORVANE_CHECK_NOT_NULL(OrvaneTextureOrigin, DestPixels, );
    ConvertPixels(Width, Height, *SourceLayout, SourceStride,
                  static_cast<const uint8_t*>(SourcePixels), *DestLayout, DestStride,
                  static_cast<uint8_t*>(DestPixels));
}

ORVANE_API void OrvaneARGB8888SwizzleNGC(orvane_int32 Width, orvane_int32 Height,
                                         orvane_int32 SourceStride, const void* SourcePixels,
                                         void* Dest) {
    if (!CheckSwizzle(Width, Height, 4, SourceStride, SourcePixels, Dest)) return;
    // The tile holds the A R byte pairs of its sixteen pixels, row by row, then their G B
    // pairs: the big-endian halves the hardware's RGBA8 tiles expect.
    SwizzleTiles<64>(Width, Height, SourceStride, static_cast<const uint8_t*>(SourcePixels),
                     static_cast<uint8_t*>(Dest), [](const uint8_t* const rows[4], uint8_t* out) {
                         for (int r = 0; r < 4; ++r) {
                             for (int c = 0; c < 4; ++c) {
                                 const uint8_t* pixel = rows[r] + c * 4;
                                 uint8_t* ar = out + (r * 4 + c) * 2;
                                 ar[0] = pixel[0];
                                 ar[1] = pixel[1];
                                 ar[32] = pixel[2];
                                 ar[33] = pixel[3];
                             }
                         }
                     });
}

ORVANE_API void OrvaneAll16SwizzleNGC(orvane_int32 Width, orvane_int32 Height,
                                      orvane_int32 SourceStride, const void* SourcePixels,
                                      void* Dest) {
    if (!CheckSwizzle(Width, Height, 2, SourceStride, SourcePixels, Dest)) return;
    SwizzleTiles<32>(Width, Height, SourceStride, static_cast<const uint8_t*>(SourcePixels),
                     static_cast<uint8_t*>(Dest), [](const uint8_t* const rows[4], uint8_t* out) {
                         for (int r = 0; r < 4; ++r)
                             std::memcpy(out + r * 8, rows[r], 8);
                     });
}

}  // extern "C"

// S3TC block encoders: a colour encoder that refines principal-axis end points in the quantised
// 5:6:5 space against the exact decoded palette, explicit and interpolated alpha encoders.
#include "texture/offline/orvane_s3tc_encoder.h"

#include <cmath>
#include <cstddef>
#include <cstring>

namespace orvane {
namespace {

using namespace s3tc;

// --- Colour encoding. ----------------------------------------------------------------------

struct ColourFit {
    uint32_t c0, c1;
    uint32_t indices;
    int64_t error;
};

inline int32_t Distance(const Rgb& a, const uint8_t* p) {
    int32_t dr = a.r - p[0], dg = a.g - p[1], db = a.b - p[2];
    return dr * dr + dg * dg + db * db;
}

// Pixels in use are listed in `used`; unused ones (transparent) get index 3.
struct ColourInput {
    const uint8_t* pixels;  // 16 x RGBA
    int32_t used[16];
    int32_t count;
    bool transparent;  // some pixels are transparent: three-colour mode only
};

ColourFit Evaluate(const ColourInput& in, uint32_t c0, uint32_t c1, bool threeColour) {
    // The mode is forced whatever the end points' order: the writer reorders them.
    Rgb palette[4];
    Rgb a = Expand565(c0), b = Expand565(c1);
    palette[0] = a;
    palette[1] = b;
    if (threeColour) {
        palette[2] = {(a.r + b.r) / 2, (a.g + b.g) / 2, (a.b + b.b) / 2};
    } else {
        palette[2] = {(2 * a.r + b.r) / 3, (2 * a.g + b.g) / 3, (2 * a.b + b.b) / 3};
        palette[3] = {(a.r + 2 * b.r) / 3, (a.g + 2 * b.g) / 3, (a.b + 2 * b.b) / 3};
    }
    int entries = threeColour ? 3 : 4;
    ColourFit fit = {c0, c1, 0, 0};
    uint32_t indices = threeColour ? 0xffffffffu : 0;
    for (int k = 0; k < in.count; ++k) {
        int i = in.used[k];
        const uint8_t* p = in.pixels + i * 4;
        int32_t best = Distance(palette[0], p), bestIndex = 0;
        for (int e = 1; e < entries; ++e) {
            int32_t d = Distance(palette[e], p);
            if (d < best) {
                best = d;
                bestIndex = e;
            }
        }
        fit.error += best;
        indices = (indices & ~(3u << (2 * i))) | uint32_t(bestIndex) << (2 * i);
    }
    fit.indices = indices;
    return fit;
}

inline int32_t Quantise(float v, int32_t levels) {
    float q = v * float(levels) / 255.0f + 0.5f;
    int32_t i = int32_t(q < 0 ? 0 : q);
    return i > levels ? levels : i;
}

inline uint32_t To565(const float c[3]) {
    return uint32_t(Quantise(c[0], 31)) << 11 | uint32_t(Quantise(c[1], 63)) << 5 |
           uint32_t(Quantise(c[2], 31));
}

// Interpolation position of each index along c0 -> c1.
constexpr float kFourPositions[4] = {0.0f, 1.0f, 1.0f / 3.0f, 2.0f / 3.0f};
constexpr float kThreePositions[4] = {0.0f, 1.0f, 0.5f, 0.0f};

// Least-squares end points for the current assignment; false when the system is singular.
bool SolveEndPoints(const ColourInput& in, uint32_t indices, bool threeColour, uint32_t* c0,
                    uint32_t* c1) {
    const float* positions = threeColour ? kThreePositions : kFourPositions;
    float aa = 0, bb = 0, ab = 0, ax[3] = {0, 0, 0}, bx[3] = {0, 0, 0};
    for (int k = 0; k < in.count; ++k) {
        int i = in.used[k];
        float t = positions[(indices >> (2 * i)) & 3];
        float s = 1.0f - t;
        const uint8_t* p = in.pixels + i * 4;
        aa += s * s;
        bb += t * t;
        ab += s * t;
        for (int c = 0; c < 3; ++c) {
            ax[c] += s * p[c];
            bx[c] += t * p[c];
        }
    }
    float det = aa * bb - ab * ab;
    if (std::fabs(det) < 1e-6f) return false;
    float inv = 1.0f / det;
    float a[3], b[3];
    for (int c = 0; c < 3; ++c) {
        a[c] = (ax[c] * bb - bx[c] * ab) * inv;
        b[c] = (bx[c] * aa - ax[c] * ab) * inv;
    }
    *c0 = To565(a);
    *c1 = To565(b);
    return true;
}

// Tries one step up and down on each of the six quantised end-point components while that
// lowers the error.
void LocalSearch(const ColourInput& in, bool threeColour, ColourFit* best) {
    static constexpr uint32_t kShift[3] = {11, 5, 0};
    static constexpr uint32_t kMax[3] = {31, 63, 31};
    for (int round = 0; round < 8 && best->error > 0; ++round) {
        bool improved = false;
        for (int end = 0; end < 2; ++end) {
            for (int c = 0; c < 3; ++c) {
                for (int step = -1; step <= 1; step += 2) {
                    uint32_t point = end == 0 ? best->c0 : best->c1;
                    int32_t v = int32_t((point >> kShift[c]) & kMax[c]) + step;
                    if (v < 0 || v > int32_t(kMax[c])) continue;
                    uint32_t moved = (point & ~(kMax[c] << kShift[c])) | (uint32_t(v) << kShift[c]);
                    ColourFit trial = end == 0 ? Evaluate(in, moved, best->c1, threeColour)
                                               : Evaluate(in, best->c0, moved, threeColour);
                    if (trial.error < best->error) {
                        *best = trial;
                        improved = true;
                    }
                }
            }
        }
        if (!improved) break;
    }
}

ColourFit FitMode(const ColourInput& in, const float start0[3], const float start1[3],
                  bool threeColour) {
    ColourFit best = Evaluate(in, To565(start0), To565(start1), threeColour);
    for (int iteration = 0; iteration < 4 && best.error > 0; ++iteration) {
        uint32_t c0, c1;
        if (!SolveEndPoints(in, best.indices, threeColour, &c0, &c1)) break;
        ColourFit trial = Evaluate(in, c0, c1, threeColour);
        if (trial.error >= best.error) break;
        best = trial;
    }
    LocalSearch(in, threeColour, &best);
    return best;
}

// Principal axis by power iteration on the covariance; the ends are the extreme projections.
void PrincipalEnds(const ColourInput& in, float start0[3], float start1[3]) {
    float mean[3] = {0, 0, 0};
    for (int k = 0; k < in.count; ++k)
        for (int c = 0; c < 3; ++c)
            mean[c] += in.pixels[in.used[k] * 4 + c];
    for (float& m : mean)
        m /= float(in.count);
    float cov[6] = {0, 0, 0, 0, 0, 0};  // rr rg rb gg gb bb
    for (int k = 0; k < in.count; ++k) {
        const uint8_t* p = in.pixels + in.used[k] * 4;
        float d[3] = {p[0] - mean[0], p[1] - mean[1], p[2] - mean[2]};
        cov[0] += d[0] * d[0];
        cov[1] += d[0] * d[1];
        cov[2] += d[0] * d[2];
        cov[3] += d[1] * d[1];
        cov[4] += d[1] * d[2];
        cov[5] += d[2] * d[2];
    }
    float axis[3] = {1.0f, 1.0f, 1.0f};
    for (int iteration = 0; iteration < 8; ++iteration) {
        float x = cov[0] * axis[0] + cov[1] * axis[1] + cov[2] * axis[2];
        float y = cov[1] * axis[0] + cov[3] * axis[1] + cov[4] * axis[2];
        float z = cov[2] * axis[0] + cov[4] * axis[1] + cov[5] * axis[2];
        float m = std::fmax(std::fabs(x), std::fmax(std::fabs(y), std::fabs(z)));
        if (m <= 0.0f) break;
        axis[0] = x / m;
        axis[1] = y / m;
        axis[2] = z / m;
    }
    float lo = 1e30f, hi = -1e30f;
    for (int k = 0; k < in.count; ++k) {
        const uint8_t* p = in.pixels + in.used[k] * 4;
        float t =
            (p[0] - mean[0]) * axis[0] + (p[1] - mean[1]) * axis[1] + (p[2] - mean[2]) * axis[2];
        lo = std::fmin(lo, t);
        hi = std::fmax(hi, t);
    }
    float norm = axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2];
    if (norm <= 0.0f) norm = 1.0f;
    for (int c = 0; c < 3; ++c) {
        // The brighter end first, so four-colour blocks need no reordering most of the time.
        start0[c] = mean[c] + axis[c] * hi / norm;
        start1[c] = mean[c] + axis[c] * lo / norm;
    }
}

void WriteColourBlock(ColourFit fit, bool threeColour, uint8_t* block) {
    if (threeColour) {
        if (fit.c0 > fit.c1) {
            uint32_t t = fit.c0;
            fit.c0 = fit.c1;
            fit.c1 = t;
            // Swap indices 0 and 1; 2 (midpoint) and 3 (transparent) stay.
            for (int i = 0; i < 16; ++i) {
                uint32_t v = (fit.indices >> (2 * i)) & 3;
                if (v < 2) fit.indices ^= 1u << (2 * i);
            }
        }
    } else if (fit.c0 < fit.c1) {
        uint32_t t = fit.c0;
        fit.c0 = fit.c1;
        fit.c1 = t;
        fit.indices ^= 0x55555555u;  // 0<->1, 2<->3
    } else if (fit.c0 == fit.c1) {
        fit.indices = 0;  // every entry of a flat block decodes to c0
    }
    block[0] = uint8_t(fit.c0);
    block[1] = uint8_t(fit.c0 >> 8);
    block[2] = uint8_t(fit.c1);
    block[3] = uint8_t(fit.c1 >> 8);
    for (int i = 0; i < 4; ++i)
        block[4 + i] = uint8_t(fit.indices >> (8 * i));
}

void EncodeColour(const uint8_t rgba[64], bool dxt1, bool transparentAlpha, uint8_t* block) {
    ColourInput in;
    in.pixels = rgba;
    in.count = 0;
    in.transparent = false;
    for (int i = 0; i < 16; ++i) {
        if (transparentAlpha && rgba[i * 4 + 3] < 128) {
            in.transparent = true;
        } else {
            in.used[in.count++] = i;
        }
    }
    if (in.count == 0) {
        ColourFit fit = {0, 0, 0xffffffffu, 0};
        WriteColourBlock(fit, true, block);
        return;
    }
    float start0[3], start1[3];
    PrincipalEnds(in, start0, start1);
    ColourFit best{};
    bool bestThree = in.transparent;
    if (in.transparent) {
        best = FitMode(in, start0, start1, true);
    } else {
        best = FitMode(in, start0, start1, false);
        if (dxt1 && best.error > 0) {
            ColourFit three = FitMode(in, start0, start1, true);
            if (three.error < best.error) {
                best = three;
                bestThree = true;
            }
        }
    }
    WriteColourBlock(best, bestThree, block);
}

// --- Alpha encoding. -----------------------------------------------------------------------

int64_t EncodeExplicitAlpha(const uint8_t rgba[64], uint8_t* block) {
    int64_t error = 0;
    for (int i = 0; i < 8; ++i) {
        uint32_t lo = rgba[(2 * i) * 4 + 3] >> 4, hi = rgba[(2 * i + 1) * 4 + 3] >> 4;
        block[i] = uint8_t(lo | hi << 4);
        int32_t dlo = int32_t(lo | lo << 4) - rgba[(2 * i) * 4 + 3];
        int32_t dhi = int32_t(hi | hi << 4) - rgba[(2 * i + 1) * 4 + 3];
        error += dlo * dlo + dhi * dhi;
    }
    return error;
}

int64_t FitAlpha(const uint8_t rgba[64], uint32_t a0, uint32_t a1, uint64_t* bits) {
    int32_t codes[8];
    AlphaPalette(a0, a1, codes);
    int64_t error = 0;
    uint64_t packed = 0;
    for (int i = 0; i < 16; ++i) {
        int32_t a = rgba[i * 4 + 3];
        int32_t best = 1 << 30, bestIndex = 0;
        for (int c = 0; c < 8; ++c) {
            int32_t d = (codes[c] - a) * (codes[c] - a);
            if (d < best) {
                best = d;
                bestIndex = c;
            }
        }
        error += best;
        packed |= uint64_t(bestIndex) << (3 * i);
    }
    *bits = packed;
    return error;
}

int64_t EncodeInterpolatedAlpha(const uint8_t rgba[64], uint8_t* block) {
    int32_t lo = 255, hi = 0, lo6 = 255, hi6 = 0;
    for (int i = 0; i < 16; ++i) {
        int32_t a = rgba[i * 4 + 3];
        lo = a < lo ? a : lo;
        hi = a > hi ? a : hi;
        if (a != 0 && a != 255) {
            lo6 = a < lo6 ? a : lo6;
            hi6 = a > hi6 ? a : hi6;
        }
    }
    uint32_t bestA0 = uint32_t(lo), bestA1 = uint32_t(lo);
    uint64_t bestBits = 0;
    int64_t bestError = FitAlpha(rgba, bestA0, bestA1, &bestBits);
    auto consider = [&](int32_t a0, int32_t a1) {
        if (a0 < 0 || a0 > 255 || a1 < 0 || a1 > 255) return;
        uint64_t bits;
        int64_t error = FitAlpha(rgba, uint32_t(a0), uint32_t(a1), &bits);
        if (error < bestError) {
            bestError = error;
            bestA0 = uint32_t(a0);
            bestA1 = uint32_t(a1);
            bestBits = bits;
        }
    };
    if (hi > lo) {
        // Eight interpolated values need a0 > a1; pulling the ends in a little often helps.
        for (int32_t dhi = 0; dhi <= 2 && bestError > 0; ++dhi)
            for (int32_t dlo = 0; dlo <= 2; ++dlo)
                if (hi - dhi > lo + dlo) consider(hi - dhi, lo + dlo);
    }
    if (hi6 >= lo6) consider(lo6, hi6);  // six values plus exact 0 and 255
    block[0] = uint8_t(bestA0);
    block[1] = uint8_t(bestA1);
    for (int i = 0; i < 6; ++i)
        block[2 + i] = uint8_t(bestBits >> (8 * i));
    return bestError;
}

// --- Whole images. -------------------------------------------------------------------------

// The 4 x 4 block at (bx, by), edge pixels repeated where the image ends.
void GatherBlock(int32_t width, int32_t height, int64_t stride, const uint8_t* rgba, int32_t bx,
                 int32_t by, uint8_t out[64]) {
    for (int y = 0; y < 4; ++y) {
        int32_t sy = by * 4 + y < height ? by * 4 + y : height - 1;
        const uint8_t* row = rgba + sy * stride;
        for (int x = 0; x < 4; ++x) {
            int32_t sx = bx * 4 + x < width ? bx * 4 + x : width - 1;
            std::memcpy(out + (y * 4 + x) * 4, row + size_t(sx) * 4, 4);
        }
    }
}

}  // namespace

void EncodeDXT1Block(const uint8_t rgba[64], bool transparentAlpha, uint8_t block[8]) {
    EncodeColour(rgba, true, transparentAlpha, block);
}
void EncodeDXT3Block(const uint8_t rgba[64], uint8_t block[16]) {
    EncodeExplicitAlpha(rgba, block);
    EncodeColour(rgba, false, false, block + 8);
}
void EncodeDXT5Block(const uint8_t rgba[64], uint8_t block[16]) {
    EncodeInterpolatedAlpha(rgba, block);
    EncodeColour(rgba, false, false, block + 8);
}

void EncodeS3TCImage(int32_t subFormat, int32_t width, int32_t height, int64_t stride,
                     const uint8_t* rgba, uint8_t* blocks) {
    if (width <= 0 || height <= 0) return;
    const int32_t blockBytes = S3TCBlockBytes(subFormat);
    const int32_t across = BlocksAcross(width), down = BlocksAcross(height);
    uint8_t pixels[64];
    for (int32_t by = 0; by < down; ++by) {
        for (int32_t bx = 0; bx < across; ++bx) {
            GatherBlock(width, height, stride, rgba, bx, by, pixels);
            uint8_t* block = blocks + (size_t(by) * size_t(across) + size_t(bx)) * blockBytes;
            switch (subFormat) {
                case 0:
                    EncodeDXT1Block(pixels, false, block);
                    break;
                case 1:
                    EncodeDXT1Block(pixels, true, block);
                    break;
                case 2:
                    EncodeDXT3Block(pixels, block);
                    break;
                default:
                    EncodeDXT5Block(pixels, block);
                    break;
            }
        }
    }
}

int32_t EncodeS3TCImageBestAlpha(int32_t width, int32_t height, int64_t stride, const uint8_t* rgba,
                                 uint8_t* blocks) {
    if (width <= 0 || height <= 0) return 2;
    const int32_t across = BlocksAcross(width), down = BlocksAcross(height);
    uint8_t pixels[64];
    int64_t explicitError = 0;
    for (int32_t by = 0; by < down; ++by) {
        for (int32_t bx = 0; bx < across; ++bx) {
            GatherBlock(width, height, stride, rgba, bx, by, pixels);
            uint8_t* block = blocks + (size_t(by) * size_t(across) + size_t(bx)) * 16;
            explicitError += EncodeExplicitAlpha(pixels, block);
            EncodeColour(pixels, false, false, block + 8);
        }
    }
    if (explicitError == 0) return 2;
    int64_t interpolatedError = 0;
    uint8_t alpha[8];
    for (int32_t by = 0; by < down; ++by) {
        for (int32_t bx = 0; bx < across; ++bx) {
            GatherBlock(width, height, stride, rgba, bx, by, pixels);
            interpolatedError += EncodeInterpolatedAlpha(pixels, alpha);
        }
    }
    if (interpolatedError >= explicitError) return 2;
    for (int32_t by = 0; by < down; ++by) {
        for (int32_t bx = 0; bx < across; ++bx) {
            GatherBlock(width, height, stride, rgba, bx, by, pixels);
            EncodeInterpolatedAlpha(pixels,
                                    blocks + (size_t(by) * size_t(across) + size_t(bx)) * 16);
        }
    }
    return 3;
}
}  // namespace orvane

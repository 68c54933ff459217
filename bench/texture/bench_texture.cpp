// Textures, each beside its reference in the same run: pixel conversion beside memcpy of the
// same source bytes, scaling beside stb_image_resize (same filter and mapping), S3TC encoding
// and decoding beside libsquish (cluster fit, uniform metric), and the Quib wavelet codec
// beside libjpeg (4:4:4, optimised Huffman tables) at the highest quality whose stream is no
// larger than the wavelet codec's (the "psnr" counter gives the quality of each).
// Rates are source pixels per second (items_per_second). Real images are the textures embedded
// in the glTF assets of the project's data (data/, or ORVANE_DATA_DIR, as for the tests).
#include <cstdio>
#include <cstring>
#include <vector>

#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <squish.h>

#include "orvane/texture.h"
#include "orvane/texture_builder.h"
#include "stb_image_resize.h"
#include "texture/offline/orvane_s3tc_encoder.h"
#include "texture_test_support.h"

namespace {

using orvane_test::Image;

// The characters' textures: 0 the fox's (a PNG of flat colour areas), 1 the man's (a JPEG
// photograph texture); 512 x 512 (or 256 x 256) from their centres.
const Image& RealImage(int32_t size, int32_t which = 1) {
    static const std::vector<Image> images = [] {
        std::vector<Image> out;
        const auto& textures = orvane_test::RealTextures();
        for (int32_t i = 0; i < 2; ++i) {
            Image image = i < int32_t(textures.size())
                              ? orvane_test::Crop(textures[size_t(i)], 512, 512)
                              : orvane_test::RandomImage(512, 512, 1);
            out.push_back(orvane_test::Crop(image, 256, 256));
            out.push_back(std::move(image));
        }
        return out;
    }();
    return images[size_t(which) * 2 + (size == 512 ? 1 : 0)];
}

// --- Conversion. -----------------------------------------------------------------------------

constexpr int32_t kConvertSize = 1024;

void BM_ConvertMemcpyBaseline(benchmark::State& state) {
    int32_t bytesPerPixel = int32_t(state.range(0));
    std::vector<uint8_t> source(size_t(kConvertSize) * kConvertSize * bytesPerPixel, 7),
        dest(source.size());
    for (auto _ : state) {
        std::memcpy(dest.data(), source.data(), source.size());
        benchmark::DoNotOptimize(dest.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kConvertSize * kConvertSize);
}
BENCHMARK(BM_ConvertMemcpyBaseline)->Arg(4)->Arg(3)->Arg(2);

void Convert(benchmark::State& state, const orvane_pixel_layout* from,
             const orvane_pixel_layout* to) {
    Image image = orvane_test::RandomImage(kConvertSize, kConvertSize, 2);
    std::vector<uint8_t> dest(size_t(kConvertSize) * kConvertSize * to->BytesPerPixel);
    for (auto _ : state) {
        OrvaneConvertPixelFormat(kConvertSize, kConvertSize, from,
                                 kConvertSize * from->BytesPerPixel, image.rgba.data(), to,
                                 kConvertSize * to->BytesPerPixel, dest.data());
        benchmark::DoNotOptimize(dest.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kConvertSize * kConvertSize);
}
void BM_ConvertRGBA8888ToBGRA8888(benchmark::State& state) {
    Convert(state, OrvaneRGBA8888PixelFormat, OrvaneBGRA8888PixelFormat);
}
void BM_ConvertRGBA8888ToRGB565(benchmark::State& state) {
    Convert(state, OrvaneRGBA8888PixelFormat, OrvaneRGB565PixelFormat);
}
void BM_ConvertRGB888ToRGBA8888(benchmark::State& state) {
    Convert(state, OrvaneRGB888PixelFormat, OrvaneRGBA8888PixelFormat);
}
void BM_ConvertBGR565ToRGBA8888(benchmark::State& state) {
    Convert(state, OrvaneBGR565PixelFormat, OrvaneRGBA8888PixelFormat);
}
BENCHMARK(BM_ConvertRGBA8888ToBGRA8888);
BENCHMARK(BM_ConvertRGBA8888ToRGB565);
BENCHMARK(BM_ConvertRGB888ToRGBA8888);
BENCHMARK(BM_ConvertBGR565ToRGBA8888);

// --- Scaling: range(0) filter (0 cubic, 1 tent), range(1) destination size. ------------------

void BM_ScaleOrvane(benchmark::State& state) {
    const Image& image = RealImage(512);
    int32_t filter = int32_t(state.range(0)), m = int32_t(state.range(1));
    std::vector<uint8_t> dest(size_t(m) * m * 4);
    for (auto _ : state) {
        OrvaneScaleImage(filter, 512, 512, 512 * 4, image.rgba.data(), m, m, m * 4, dest.data());
        benchmark::DoNotOptimize(dest.data());
    }
    state.SetItemsProcessed(state.iterations() * 512 * 512);
}
void BM_ScaleStb(benchmark::State& state) {
    const Image& image = RealImage(512);
    int32_t m = int32_t(state.range(1));
    stbir_filter filter = state.range(0) == 0 ? STBIR_FILTER_MITCHELL : STBIR_FILTER_TRIANGLE;
    float s = float(m - 1) / 511.0f;
    std::vector<uint8_t> dest(size_t(m) * m * 4);
    for (auto _ : state) {
        stbir_resize_subpixel(image.rgba.data(), 512, 512, 512 * 4, dest.data(), m, m, m * 4,
                              STBIR_TYPE_UINT8, 4, STBIR_ALPHA_CHANNEL_NONE, 0, STBIR_EDGE_CLAMP,
                              STBIR_EDGE_CLAMP, filter, filter, STBIR_COLORSPACE_LINEAR, nullptr, s,
                              s, 0.5f * s - 0.5f, 0.5f * s - 0.5f);
        benchmark::DoNotOptimize(dest.data());
    }
    state.SetItemsProcessed(state.iterations() * 512 * 512);
}
BENCHMARK(BM_ScaleOrvane)->Args({0, 256})->Args({1, 256})->Args({0, 768});
BENCHMARK(BM_ScaleStb)->Args({0, 256})->Args({1, 256})->Args({0, 768});

// --- S3TC: range(0) subformat. ---------------------------------------------------------------

int SquishFlags(int64_t subFormat) {
    return (subFormat < 2    ? squish::kDxt1
            : subFormat == 2 ? squish::kDxt3
                             : squish::kDxt5) |
           squish::kColourClusterFit;
}

void BM_S3TCEncodeOrvane(benchmark::State& state) {
    const Image& image = RealImage(256);
    int32_t subFormat = int32_t(state.range(0));
    std::vector<uint8_t> blocks(size_t(OrvaneGetS3TCImageSize(subFormat, 256, 256)));
    for (auto _ : state) {
        orvane::EncodeS3TCImage(subFormat, 256, 256, 256 * 4, image.rgba.data(), blocks.data());
        benchmark::DoNotOptimize(blocks.data());
    }
    state.SetItemsProcessed(state.iterations() * 256 * 256);
}
void BM_S3TCEncodeSquish(benchmark::State& state) {
    const Image& image = RealImage(256);
    std::vector<uint8_t> blocks(size_t(OrvaneGetS3TCImageSize(int32_t(state.range(0)), 256, 256)));
    for (auto _ : state) {
        squish::CompressImage(image.rgba.data(), 256, 256, blocks.data(),
                              SquishFlags(state.range(0)));
        benchmark::DoNotOptimize(blocks.data());
    }
    state.SetItemsProcessed(state.iterations() * 256 * 256);
}
BENCHMARK(BM_S3TCEncodeOrvane)->Arg(0)->Arg(3);
BENCHMARK(BM_S3TCEncodeSquish)->Arg(0)->Arg(3);

void BM_S3TCDecodeOrvane(benchmark::State& state) {
    const Image& image = RealImage(512);
    int32_t subFormat = int32_t(state.range(0));
    std::vector<uint8_t> blocks(size_t(OrvaneGetS3TCImageSize(subFormat, 512, 512)));
    std::vector<uint8_t> out(size_t(512) * 512 * 4);
    squish::CompressImage(image.rgba.data(), 512, 512, blocks.data(),
                          SquishFlags(subFormat) & ~squish::kColourClusterFit);
    for (auto _ : state) {
        orvane::DecodeS3TCImage(subFormat, 512, 512, blocks.data(), 512 * 4, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * 512 * 512);
}
void BM_S3TCDecodeSquish(benchmark::State& state) {
    const Image& image = RealImage(512);
    int32_t subFormat = int32_t(state.range(0));
    std::vector<uint8_t> blocks(size_t(OrvaneGetS3TCImageSize(subFormat, 512, 512)));
    std::vector<uint8_t> out(size_t(512) * 512 * 4);
    squish::CompressImage(image.rgba.data(), 512, 512, blocks.data(),
                          SquishFlags(subFormat) & ~squish::kColourClusterFit);
    for (auto _ : state) {
        squish::DecompressImage(out.data(), 512, 512, blocks.data(), SquishFlags(subFormat));
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * 512 * 512);
}
BENCHMARK(BM_S3TCDecodeOrvane)->Arg(0)->Arg(2)->Arg(3);
BENCHMARK(BM_S3TCDecodeSquish)->Arg(0)->Arg(2)->Arg(3);

// --- Quib beside JPEG: range(0) compression ratio. ------------------------------------------

std::vector<uint8_t> JpegEncode(const Image& image, int quality) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr error;
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(image.width);
    cinfo.image_height = JDIMENSION(image.height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    // Full-resolution chroma, as the wavelet codec keeps it.
    for (int c = 0; c < cinfo.num_components; ++c)
        cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    cinfo.optimize_coding = TRUE;
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(size_t(image.width) * 3);
    while (cinfo.next_scanline < cinfo.image_height) {
        const uint8_t* rgba = &image.rgba[size_t(cinfo.next_scanline) * image.width * 4];
        for (int32_t x = 0; x < image.width; ++x)
            std::memcpy(&row[size_t(x) * 3], rgba + x * 4, 3);
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<uint8_t> out(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    free(buffer);
    return out;
}

std::vector<uint8_t> JpegDecode(const std::vector<uint8_t>& data, int32_t width, int32_t height) {
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr error;
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    std::vector<uint8_t> rgba(size_t(width) * height * 4, 255), row(size_t(width) * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[1] = {row.data()};
        JDIMENSION y = cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, rows, 1);
        for (int32_t x = 0; x < width; ++x)
            std::memcpy(&rgba[(size_t(y) * width + x) * 4], &row[size_t(x) * 3], 3);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return rgba;
}

// The highest JPEG quality whose stream is no larger than `bytes`.
int JpegQualityForSize(const Image& image, size_t bytes) {
    int lo = 1, hi = 100;
    while (lo < hi) {
        int mid = (lo + hi + 1) / 2;
        if (JpegEncode(image, mid).size() <= bytes) {
            lo = mid;
        } else {
            hi = mid - 1;
        }
    }
    return lo;
}

std::vector<uint8_t> QuibEncode(const Image& image, int32_t ratio) {
    std::vector<uint8_t> out(
        size_t(OrvaneGetMaximumQuibImageSize(image.width, image.height, 0, ratio)));
    int32_t written = OrvaneQuibCompressTexture(image.width, image.height, image.width * 4,
                                                image.rgba.data(), 0, ratio, out.data());
    out.resize(size_t(written));
    return out;
}

std::vector<uint8_t> QuibDecode(const Image& image, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> rgba(image.rgba.size());
    OrvaneQuibDecompressTexture(image.width, image.height, 0, int32_t(data.size()), data.data(),
                                OrvaneRGBA8888PixelFormat, image.width * 4, rgba.data());
    return rgba;
}

void BM_QuibEncode(benchmark::State& state) {
    const Image& image = RealImage(512, int32_t(state.range(1)));
    int32_t ratio = int32_t(state.range(0));
    std::vector<uint8_t> data;
    for (auto _ : state) {
        data = QuibEncode(image, ratio);
        benchmark::DoNotOptimize(data.data());
    }
    std::vector<uint8_t> decoded = QuibDecode(image, data);
    state.counters["bytes"] = double(data.size());
    state.counters["psnr"] = orvane_test::Psnr(decoded.data(), image.rgba.data(), 512 * 512, 3);
    state.SetItemsProcessed(state.iterations() * 512 * 512);
}
void BM_QuibDecode(benchmark::State& state) {
    const Image& image = RealImage(512, int32_t(state.range(1)));
    std::vector<uint8_t> data = QuibEncode(image, int32_t(state.range(0))), decoded;
    for (auto _ : state) {
        decoded = QuibDecode(image, data);
        benchmark::DoNotOptimize(decoded.data());
    }
    state.SetItemsProcessed(state.iterations() * 512 * 512);
}
void BM_JpegEncodeSameSize(benchmark::State& state) {
    const Image& image = RealImage(512, int32_t(state.range(1)));
    size_t budget = QuibEncode(image, int32_t(state.range(0))).size();
    int quality = JpegQualityForSize(image, budget);
    std::vector<uint8_t> data;
    for (auto _ : state) {
        data = JpegEncode(image, quality);
        benchmark::DoNotOptimize(data.data());
    }
    std::vector<uint8_t> decoded = JpegDecode(data, image.width, image.height);
    state.counters["bytes"] = double(data.size());
    state.counters["quality"] = quality;
    state.counters["psnr"] = orvane_test::Psnr(decoded.data(), image.rgba.data(), 512 * 512, 3);
    state.SetItemsProcessed(state.iterations() * 512 * 512);
}
void BM_JpegDecodeSameSize(benchmark::State& state) {
    const Image& image = RealImage(512, int32_t(state.range(1)));
    size_t budget = QuibEncode(image, int32_t(state.range(0))).size();
    std::vector<uint8_t> data = JpegEncode(image, JpegQualityForSize(image, budget)), decoded;
    for (auto _ : state) {
        decoded = JpegDecode(data, image.width, image.height);
        benchmark::DoNotOptimize(decoded.data());
    }
    state.SetItemsProcessed(state.iterations() * 512 * 512);
}
// range(0) compression ratio, range(1) texture (0 fox, 1 man).
#define ORVANE_CODEC_ARGS \
    ArgsProduct({{8, 16}, {0, 1}})->Unit(benchmark::kMillisecond)->Iterations(5)
BENCHMARK(BM_QuibEncode)->ORVANE_CODEC_ARGS;
BENCHMARK(BM_JpegEncodeSameSize)->ORVANE_CODEC_ARGS;
BENCHMARK(BM_QuibDecode)->ORVANE_CODEC_ARGS;
BENCHMARK(BM_JpegDecodeSameSize)->ORVANE_CODEC_ARGS;

}  // namespace

BENCHMARK_MAIN();

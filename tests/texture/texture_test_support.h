// Shared helpers of the texture tests: random images and the real textures embedded in the
// shared glTF assets.
#ifndef ORVANE_TESTS_TEXTURE_SUPPORT_H
#define ORVANE_TESTS_TEXTURE_SUPPORT_H

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "stb_image.h"
#include "testing/data_path.h"

namespace orvane_test {

struct Image {
    std::string name;
    int32_t width = 0, height = 0;
    std::vector<uint8_t> rgba;  // bytes R, G, B, A, rows packed
};

inline Image RandomImage(int32_t width, int32_t height, uint32_t seed) {
    Image image;
    image.name = "random";
    image.width = width;
    image.height = height;
    image.rgba.resize(size_t(width) * height * 4);
    std::mt19937 rng(seed);
    for (auto& b : image.rgba)
        b = uint8_t(rng());
    return image;
}

// The unsigned number after "key": at or after position from in text; -1 when absent before
// limit.
inline long long JsonNumber(const std::string& text, size_t from, size_t limit,
                            const std::string& key) {
    size_t at = text.find("\"" + key + "\"", from);
    if (at == std::string::npos || at >= limit) return -1;
    at = text.find(':', at);
    return at == std::string::npos ? -1 : std::atoll(text.c_str() + at + 1);
}

// The objects of the top-level array named key, as [begin, end) ranges of the JSON text.
inline std::vector<std::pair<size_t, size_t>> JsonArrayObjects(const std::string& text,
                                                               const std::string& key) {
    std::vector<std::pair<size_t, size_t>> objects;
    size_t at = text.find("\"" + key + "\"");
    if (at == std::string::npos) return objects;
    at = text.find('[', at);
    int depth = 0;
    size_t begin = 0;
    for (size_t i = at + 1; i < text.size(); ++i) {
        char c = text[i];
        if (c == '{' && depth++ == 0) begin = i;
        if (c == '}' && --depth == 0) objects.push_back({begin, i + 1});
        if (c == ']' && depth == 0) break;
    }
    return objects;
}

// A glTF binary: a JSON chunk, whose "images" name "bufferViews" of the BIN chunk that hold
// whole PNG or JPEG files, decoded here by stb_image.
inline std::vector<Image> LoadGlbTextures(const std::string& relative) {
    std::vector<Image> images;
    std::ifstream in(orvane_data::Path(relative), std::ios::binary);
    std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), {});
    if (file.size() < 20 || std::memcmp(file.data(), "glTF", 4) != 0) return images;
    std::string json;
    size_t binStart = 0, binLength = 0;
    for (size_t offset = 12; offset + 8 <= file.size();) {
        uint32_t length, type;
        std::memcpy(&length, &file[offset], 4);
        std::memcpy(&type, &file[offset + 4], 4);
        size_t start = offset + 8;
        if (start + length > file.size()) break;
        if (type == 0x4E4F534Au) json.assign(reinterpret_cast<const char*>(&file[start]), length);
        if (type == 0x004E4942u) binStart = start, binLength = length;
        offset = start + ((length + 3) & ~size_t(3));
    }
    auto views = JsonArrayObjects(json, "bufferViews");
    for (auto [begin, end] : JsonArrayObjects(json, "images")) {
        long long view = JsonNumber(json, begin, end, "bufferView");
        if (view < 0 || size_t(view) >= views.size()) continue;
        long long offset = JsonNumber(json, views[view].first, views[view].second, "byteOffset");
        long long length = JsonNumber(json, views[view].first, views[view].second, "byteLength");
        if (offset < 0) offset = 0;
        if (length <= 0 || size_t(offset + length) > binLength) continue;
        int w, h, n;
        uint8_t* pixels =
            stbi_load_from_memory(&file[binStart + offset], int(length), &w, &h, &n, 4);
        if (pixels == nullptr) continue;
        Image image;
        image.name =
            relative.substr(relative.rfind('/') + 1) + " #" + std::to_string(images.size());
        image.width = w;
        image.height = h;
        image.rgba.assign(pixels, pixels + size_t(w) * h * 4);
        images.push_back(std::move(image));
        stbi_image_free(pixels);
    }
    return images;
}

inline const std::vector<Image>& RealTextures() {
    static const std::vector<Image> textures = [] {
        std::vector<Image> all = LoadGlbTextures("assets/gltf/Fox/Fox.glb");
        for (auto& image : LoadGlbTextures("assets/gltf/CesiumMan/CesiumMan.glb"))
            all.push_back(std::move(image));
        return all;
    }();
    return textures;
}

// In a test body: skips the test when the data's glTF characters (and so their textures) are
// absent.
#define ORVANE_SKIP_WITHOUT_REAL_TEXTURES()                                       \
    do {                                                                          \
        if (orvane_test::RealTextures().empty())                                  \
            GTEST_SKIP() << "no texture read from the data's glTF characters in " \
                         << orvane_data::Directory();                             \
    } while (0)

// A centred crop, for tests that need a bounded amount of work per real texture.
inline Image Crop(const Image& image, int32_t width, int32_t height) {
    Image out;
    out.name = image.name;
    out.width = width < image.width ? width : image.width;
    out.height = height < image.height ? height : image.height;
    int32_t x0 = (image.width - out.width) / 2, y0 = (image.height - out.height) / 2;
    out.rgba.resize(size_t(out.width) * out.height * 4);
    for (int32_t y = 0; y < out.height; ++y)
        std::memcpy(&out.rgba[size_t(y) * out.width * 4],
                    &image.rgba[(size_t(y0 + y) * image.width + x0) * 4], size_t(out.width) * 4);
    return out;
}

inline double Psnr(const uint8_t* a, const uint8_t* b, size_t pixels, int channels) {
    double sum = 0;
    for (size_t i = 0; i < pixels; ++i)
        for (int c = 0; c < channels; ++c) {
            double d = double(a[i * 4 + c]) - double(b[i * 4 + c]);
            sum += d * d;
        }
    double mse = sum / double(pixels * channels);
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace orvane_test

#endif  // ORVANE_TESTS_TEXTURE_SUPPORT_H

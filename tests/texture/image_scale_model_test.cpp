// Image scaling against a direct model of the resampler in double precision: every pixel,
// edges included, for every filter, shrinking and enlarging.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "orvane/texture.h"
#include "texture_test_support.h"

namespace {

double Kernel(int32_t filter, double x) {
    double a = std::fabs(x);
    switch (filter) {
        case 0:
            if (a < 1) return 7.0 / 6.0 * a * a * a - 2 * a * a + 8.0 / 9.0;
            if (a < 2) return -7.0 / 18.0 * a * a * a + 2 * a * a - 10.0 / 3.0 * a + 16.0 / 9.0;
            return 0;
        case 1:
            return a < 1 ? 1 - a : 0;
        default:
            return (x > -0.5 && x <= 0.5) ? 1 : 0;
    }
}

double Radius(int32_t filter) {
    return filter == 0 ? 2.0 : (filter == 1 ? 1.0 : 0.5);
}

int32_t Mirror(long j, int32_t n) {
    if (j < 0) return int32_t((-j) % n);
    if (j >= n) return int32_t(n - ((j - n + 1) % n) - 1);
    return int32_t(j);
}

struct Tap {
    int32_t index;
    double weight;
};

std::vector<std::vector<Tap>> Weights(int32_t filter, int32_t n, int32_t m) {
    double scale = (n == 1 || m == 1) ? double(m) / n : double(m - 1) / double(n - 1);
    double radius = Radius(filter);
    std::vector<std::vector<Tap>> table(static_cast<size_t>(m));
    for (int32_t i = 0; i < m; ++i) {
        double x = i / scale;
        double h = scale < 1 ? radius / scale : radius;
        double sum = 0;
        for (long j = long(std::ceil(x - h)); j <= long(std::floor(x + h)); ++j) {
            double w = scale < 1 ? scale * Kernel(filter, scale * (x - j)) : Kernel(filter, x - j);
            table[size_t(i)].push_back({Mirror(j, n), w});
            sum += w;
        }
        for (Tap& t : table[size_t(i)])
            t.weight /= sum;
    }
    return table;
}

std::vector<uint8_t> ModelScale(int32_t filter, const orvane_test::Image& image, int32_t m,
                                int32_t mh) {
    auto horizontal = Weights(filter, image.width, m);
    auto vertical = Weights(filter, image.height, mh);
    std::vector<uint8_t> out(size_t(m) * mh * 4);
    for (int32_t y = 0; y < mh; ++y) {
        for (int32_t x = 0; x < m; ++x) {
            for (int c = 0; c < 4; ++c) {
                double v = 0;
                for (const Tap& ty : vertical[size_t(y)]) {
                    double row = 0;
                    for (const Tap& tx : horizontal[size_t(x)])
                        row += tx.weight *
                               image.rgba[(size_t(ty.index) * image.width + tx.index) * 4 + c];
                    v += ty.weight * row;
                }
                out[(size_t(y) * m + x) * 4 + c] =
                    v <= 0 ? 0 : (v >= 254.5 ? 255 : uint8_t(std::lround(v)));
            }
        }
    }
    return out;
}

TEST(ImageScaleModel, EveryPixelMatchesTheResamplerIncludingEdges) {
    const int32_t sizes[][4] = {{16, 12, 8, 6},  {9, 7, 20, 15}, {5, 5, 2, 3}, {1, 1, 4, 3},
                                {2, 2, 1, 1},    {7, 3, 7, 3},   {3, 9, 1, 4}, {24, 1, 5, 1},
                                {10, 10, 3, 17}, {4, 6, 13, 2}};
    uint32_t seed = 5;
    for (const auto& s : sizes) {
        orvane_test::Image image = orvane_test::RandomImage(s[0], s[1], seed++);
        for (int32_t filter = 0; filter < 3; ++filter) {
            SCOPED_TRACE(testing::Message() << s[0] << "x" << s[1] << " -> " << s[2] << "x" << s[3]
                                            << " filter " << filter);
            std::vector<uint8_t> ours(size_t(s[2]) * s[3] * 4, 0xcd);
            OrvaneScaleImage(filter, s[0], s[1], s[0] * 4, image.rgba.data(), s[2], s[3], s[2] * 4,
                             ours.data());
            std::vector<uint8_t> expected = ModelScale(filter, image, s[2], s[3]);
            int worst = 0;
            for (size_t i = 0; i < ours.size(); ++i) {
                int d = std::abs(int(ours[i]) - int(expected[i]));
                worst = d > worst ? d : worst;
            }
            EXPECT_LE(worst, 1);
        }
    }
}

}  // namespace

// The render command's rasteriser: a frame of a sphere of about 5,000 triangles at 256 x 256
// (plain and 2x2 supersampled, as the command draws by default), beside the baseline of clearing
// the same frame in the same run. Items are frames.
#include <cmath>
#include <vector>

#include <benchmark/benchmark.h>

#include "raster.h"

namespace {

using orvane_tool::Box;
using orvane_tool::Camera;
using orvane_tool::MeshView;
using orvane_tool::Rasterizer;

const uint8_t kBackground[4] = {38, 42, 50, 255};

struct Sphere {
    std::vector<float> positions, normals, uvs;
    std::vector<uint32_t> indices;
    std::vector<uint8_t> texture;
    Sphere(int rings, int segments) {
        const float pi = 3.14159265f;
        for (int r = 0; r <= rings; ++r)
            for (int s = 0; s <= segments; ++s) {
                const float theta = pi * float(r) / float(rings),
                            phi = 2 * pi * float(s) / float(segments);
                const float n[3] = {std::sin(theta) * std::cos(phi), std::cos(theta),
                                    std::sin(theta) * std::sin(phi)};
                positions.insert(positions.end(), {n[0], n[1], n[2]});
                normals.insert(normals.end(), {n[0], n[1], n[2]});
                uvs.insert(uvs.end(), {float(s) / float(segments), float(r) / float(rings)});
            }
        for (int r = 0; r < rings; ++r)
            for (int s = 0; s < segments; ++s) {
                const uint32_t a = uint32_t(r * (segments + 1) + s), b = a + uint32_t(segments + 1);
                indices.insert(indices.end(), {a, b, a + 1, a + 1, b, b + 1});
            }
        texture.resize(256 * 256 * 4);
        for (size_t i = 0; i < texture.size(); ++i)
            texture[i] = uint8_t(i * 2654435761u >> 24);
    }
    MeshView View(bool textured) const {
        MeshView view;
        view.positions = positions.data();
        view.normals = normals.data();
        view.uvs = uvs.data();
        view.vertexCount = int32_t(positions.size() / 3);
        view.indices = indices.data();
        view.indexCount = int64_t(indices.size());
        if (textured) view.texture = {texture.data(), 256, 256};
        return view;
    }
};

const Sphere& TheSphere() {
    static const Sphere sphere(50, 50);  // 5,000 triangles
    return sphere;
}

Camera SphereCamera() {
    Box box;
    const float lo[3] = {-1, -1, -1}, hi[3] = {1, 1, 1};
    box.Add(lo);
    box.Add(hi);
    return orvane_tool::FrameBox(box, 1.0f);
}

void BM_ClearFrame(benchmark::State& state) {
    const int size = 256 * int(state.range(0));
    Rasterizer raster;
    for (auto _ : state) {
        raster.Begin(size, size, kBackground);
        benchmark::DoNotOptimize(raster.Frame().rgba.data());
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ClearFrame)->Arg(1)->Arg(2);

void BM_DrawSphere(benchmark::State& state) {
    const int size = 256 * int(state.range(0));
    const MeshView view = TheSphere().View(state.range(1) != 0);
    Rasterizer raster;
    raster.SetCamera(SphereCamera());
    for (auto _ : state) {
        raster.Begin(size, size, kBackground);
        raster.Draw(view);
        benchmark::DoNotOptimize(raster.Frame().rgba.data());
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["triangles"] = double(view.indexCount / 3);
}
// Arguments: supersampling factor, textured.
BENCHMARK(BM_DrawSphere)->Args({1, 0})->Args({1, 1})->Args({2, 0})->Args({2, 1});

}  // namespace

BENCHMARK_MAIN();

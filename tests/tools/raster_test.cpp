// The render command's rasteriser on synthetic meshes with known pictures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "raster.h"

namespace orvane_tool {
namespace {

const uint8_t kBackground[4] = {10, 20, 30, 255};

struct TestMesh {
    std::vector<float> positions, normals, uvs;
    std::vector<uint32_t> indices;

    MeshView View(bool withNormals = true) const {
        MeshView view;
        view.positions = positions.data();
        view.normals = withNormals && !normals.empty() ? normals.data() : nullptr;
        view.uvs = uvs.empty() ? nullptr : uvs.data();
        view.vertexCount = int32_t(positions.size() / 3);
        view.indices = indices.data();
        view.indexCount = int64_t(indices.size());
        return view;
    }
    void AddVertex(float x, float y, float z, float nx, float ny, float nz, float u = 0,
                   float v = 0) {
        positions.insert(positions.end(), {x, y, z});
        normals.insert(normals.end(), {nx, ny, nz});
        uvs.insert(uvs.end(), {u, v});
    }
};

// A quad in the plane z, from (x0, y0) to (x1, y1), facing +z, UV (0, 0) at its top left.
void AddQuad(TestMesh* mesh, float x0, float y0, float x1, float y1, float z) {
    const uint32_t base = uint32_t(mesh->positions.size() / 3);
    mesh->AddVertex(x0, y1, z, 0, 0, 1, 0, 0);
    mesh->AddVertex(x1, y1, z, 0, 0, 1, 1, 0);
    mesh->AddVertex(x1, y0, z, 0, 0, 1, 1, 1);
    mesh->AddVertex(x0, y0, z, 0, 0, 1, 0, 1);
    mesh->indices.insert(mesh->indices.end(), {base, base + 3, base + 2, base, base + 2, base + 1});
}

TestMesh Sphere(float radius, int rings, int segments) {
    TestMesh mesh;
    const float pi = 3.14159265f;
    for (int r = 0; r <= rings; ++r) {
        const float theta = pi * float(r) / float(rings);
        for (int s = 0; s <= segments; ++s) {
            const float phi = 2 * pi * float(s) / float(segments);
            const float n[3] = {std::sin(theta) * std::cos(phi), std::cos(theta),
                                std::sin(theta) * std::sin(phi)};
            mesh.AddVertex(radius * n[0], radius * n[1], radius * n[2], n[0], n[1], n[2]);
        }
    }
    for (int r = 0; r < rings; ++r)
        for (int s = 0; s < segments; ++s) {
            const uint32_t a = uint32_t(r * (segments + 1) + s), b = a + uint32_t(segments + 1);
            mesh.indices.insert(mesh.indices.end(), {a, b, a + 1, a + 1, b, b + 1});
        }
    return mesh;
}

TestMesh Cube(const float lo[3], const float hi[3]) {
    TestMesh mesh;
    for (int face = 0; face < 6; ++face) {
        const int axis = face / 2;
        const float sign = face % 2 ? 1.0f : -1.0f;
        const int a = (axis + 1) % 3, b = (axis + 2) % 3;
        const uint32_t base = uint32_t(mesh.positions.size() / 3);
        for (int corner = 0; corner < 4; ++corner) {
            float p[3], n[3] = {0, 0, 0};
            p[axis] = sign > 0 ? hi[axis] : lo[axis];
            p[a] = (corner == 1 || corner == 2) ? hi[a] : lo[a];
            p[b] = corner >= 2 ? hi[b] : lo[b];
            n[axis] = sign;
            mesh.AddVertex(p[0], p[1], p[2], n[0], n[1], n[2]);
        }
        mesh.indices.insert(mesh.indices.end(),
                            {base, base + 1, base + 2, base, base + 2, base + 3});
    }
    return mesh;
}

// A camera at (0, 0, distance) looking down -z.
Camera Straight(float distance, float fov = 0.8f) {
    Camera camera;
    camera.eye[2] = distance;
    camera.verticalFov = fov;
    camera.nearDistance = 0.1f;
    return camera;
}

bool IsBackground(const uint8_t* p) {
    return std::memcmp(p, kBackground, 4) == 0;
}

// The drawn pixels' bounds; false when nothing was drawn.
bool DrawnBounds(const Image& image, int* x0, int* y0, int* x1, int* y1, int* count = nullptr) {
    *x0 = image.width;
    *y0 = image.height;
    *x1 = *y1 = -1;
    int n = 0;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            if (!IsBackground(image.Pixel(x, y))) {
                *x0 = std::min(*x0, x);
                *y0 = std::min(*y0, y);
                *x1 = std::max(*x1, x);
                *y1 = std::max(*y1, y);
                ++n;
            }
    if (count) *count = n;
    return n > 0;
}

TEST(Raster, FramedBoxLiesInsideTheImageAndFillsIt) {
    const float lo[3] = {-0.3f, 0.0f, -0.2f}, hi[3] = {0.3f, 1.8f, 0.2f};  // a standing figure
    const TestMesh cube = Cube(lo, hi);
    Box box;
    box.Add(lo);
    box.Add(hi);
    for (const float aspect : {1.0f, 0.5f, 2.0f}) {
        for (const float azimuth : {0.0f, 0.6f, 2.5f}) {
            FramingOptions options;
            options.azimuth = azimuth;
            const int w = int(200 * aspect), h = 200;
            Rasterizer raster;
            ASSERT_TRUE(raster.Begin(w, h, kBackground));
            raster.SetCamera(FrameBox(box, aspect, options));
            raster.Draw(cube.View());
            int x0, y0, x1, y1;
            ASSERT_TRUE(DrawnBounds(raster.Frame(), &x0, &y0, &x1, &y1));
            EXPECT_GT(x0, 0);
            EXPECT_GT(y0, 0);
            EXPECT_LT(x1, w - 1);
            EXPECT_LT(y1, h - 1);
            // The tall box fills most of the height (it is the limiting extent at aspect >= 1).
            if (aspect >= 1) {
                EXPECT_GT(y1 - y0, h * 0.6) << aspect << " " << azimuth;
            }
        }
    }
}

TEST(Raster, FramingAnEmptyBoxStillGivesAUsableCamera) {
    const Camera camera = FrameBox(Box(), 1.0f);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(std::isfinite(camera.eye[i]));
    EXPECT_GT(camera.nearDistance, 0);
}

TEST(Raster, SphereCoverageMatchesItsProjectedDisc) {
    // A sphere of radius r at distance d projects to a disc of angular radius asin(r / d).
    const float r = 1, d = 4, fov = 0.9f;
    const TestMesh sphere = Sphere(r, 48, 96);
    Rasterizer raster;
    ASSERT_TRUE(raster.Begin(256, 256, kBackground));
    raster.SetCamera(Straight(d, fov));
    raster.Draw(sphere.View());
    int x0, y0, x1, y1, count;
    ASSERT_TRUE(DrawnBounds(raster.Frame(), &x0, &y0, &x1, &y1, &count));
    const double focal = 128 / std::tan(fov / 2);
    const double radius = focal * std::tan(std::asin(r / d));
    EXPECT_NEAR(count, 3.14159265 * radius * radius, 0.03 * 3.14159265 * radius * radius);
    EXPECT_NEAR(0.5 * (x0 + x1 + 1), 128, 1.0);
    EXPECT_NEAR(0.5 * (y0 + y1 + 1), 128, 1.0);
}

TEST(Raster, LambertShadingFollowsTheLight) {
    TestMesh quad;
    AddQuad(&quad, -1, -1, 1, 1, 0);
    MeshView view = quad.View();
    view.color[0] = view.color[1] = view.color[2] = 200;
    view.uvs = nullptr;
    Lighting lighting;
    lighting.ambient = 0.25f;
    lighting.diffuse = 0.5f;
    const float facing[3] = {0, 0, 1}, slanted[3] = {0, 1, 1}, behind[3] = {0, 0, -1};
    const int expected[3] = {150, int(200 * (0.25 + 0.5 * std::sqrt(0.5)) + 0.5), 50};
    const float* lights[3] = {facing, slanted, behind};
    for (int i = 0; i < 3; ++i) {
        std::memcpy(lighting.direction, lights[i], sizeof lighting.direction);
        Rasterizer raster;
        ASSERT_TRUE(raster.Begin(64, 64, kBackground));
        raster.SetCamera(Straight(3));
        raster.SetLighting(lighting);
        raster.Draw(view);
        const uint8_t* p = raster.Frame().Pixel(32, 32);
        EXPECT_NEAR(p[0], expected[i], 1) << i;
        EXPECT_EQ(p[0], p[1]);
        EXPECT_EQ(p[3], 255);
    }
}

TEST(Raster, EitherWindingAndEitherNormalGiveTheSamePicture) {
    const TestMesh sphere = Sphere(1, 16, 32);
    TestMesh flipped = sphere;
    for (size_t i = 0; i < flipped.indices.size(); i += 3)
        std::swap(flipped.indices[i + 1], flipped.indices[i + 2]);
    TestMesh inverted = sphere;  // normals pointing inwards
    for (float& n : inverted.normals)
        n = -n;
    const TestMesh* meshes[3] = {&sphere, &flipped, &inverted};
    std::vector<uint8_t> pictures[3];
    for (int i = 0; i < 3; ++i) {
        Rasterizer raster;
        ASSERT_TRUE(raster.Begin(96, 96, kBackground));
        raster.SetCamera(Straight(4));
        raster.Draw(meshes[i]->View());
        pictures[i] = raster.Frame().rgba;
    }
    EXPECT_EQ(pictures[0], pictures[1]);
    EXPECT_EQ(pictures[0], pictures[2]);
}

TEST(Raster, NearerSurfacesHideFartherOnesInAnyOrder) {
    TestMesh nearQuad, farQuad;
    AddQuad(&nearQuad, -0.5f, -0.5f, 0.5f, 0.5f, 0.5f);
    AddQuad(&farQuad, -1, -1, 1, 1, -0.5f);
    MeshView nearView = nearQuad.View(), farView = farQuad.View();
    nearView.color[0] = 255;
    nearView.color[1] = nearView.color[2] = 0;
    farView.color[2] = 255;
    farView.color[0] = farView.color[1] = 0;
    for (int order = 0; order < 2; ++order) {
        Rasterizer raster;
        ASSERT_TRUE(raster.Begin(64, 64, kBackground));
        raster.SetCamera(Straight(3));
        raster.Draw(order ? farView : nearView);
        raster.Draw(order ? nearView : farView);
        const uint8_t* center = raster.Frame().Pixel(32, 32);
        EXPECT_GT(center[0], 0) << order;
        EXPECT_EQ(center[2], 0) << order;
        const uint8_t* edge = raster.Frame().Pixel(32, 10);  // only the far quad there
        EXPECT_EQ(edge[0], 0) << order;
        EXPECT_GT(edge[2], 0) << order;
    }
}

TEST(Raster, SharedEdgesLeaveNoCracks) {
    // A fan of thin triangles around a point off the pixel grid, covering more than the image.
    TestMesh fan;
    fan.AddVertex(0.013f, -0.021f, 0, 0, 0, 1);
    const int n = 37;
    for (int i = 0; i < n; ++i) {
        const float angle = 2 * 3.14159265f * float(i) / n;
        fan.AddVertex(3 * std::cos(angle), 3 * std::sin(angle), 0, 0, 0, 1);
        fan.indices.insert(fan.indices.end(), {0, uint32_t(1 + i), uint32_t(1 + (i + 1) % n)});
    }
    Rasterizer raster;
    ASSERT_TRUE(raster.Begin(97, 61, kBackground));
    raster.SetCamera(Straight(2));
    raster.Draw(fan.View());
    for (int y = 0; y < 61; ++y)
        for (int x = 0; x < 97; ++x)
            ASSERT_FALSE(IsBackground(raster.Frame().Pixel(x, y))) << x << "," << y;
}

TEST(Raster, TexturesAreSampledPerspectiveCorrectly) {
    // A floor quad receding from the camera, red on its near half (v > 0.5) and green on its far
    // half. Its midline is at z = 0; an affine mapping would put the colour change at the
    // screen's midpoint between the near and far edges instead.
    std::vector<uint8_t> texels = {0,   255, 0, 255, 0,   255, 0, 255,   // top row (v < 0.5): green
                                   255, 0,   0, 255, 255, 0,   0, 255};  // bottom row: red
    TestMesh floor;
    const uint32_t base = 0;
    floor.AddVertex(-1, -1, -2, 0, 1, 0, 0, 0);
    floor.AddVertex(1, -1, -2, 0, 1, 0, 1, 0);
    floor.AddVertex(1, -1, 2, 0, 1, 0, 1, 1);
    floor.AddVertex(-1, -1, 2, 0, 1, 0, 0, 1);
    floor.indices = {base, base + 3, base + 2, base, base + 2, base + 1};
    MeshView view = floor.View();
    view.texture = {texels.data(), 2, 2};
    Rasterizer raster;
    const int size = 256;
    ASSERT_TRUE(raster.Begin(size, size, kBackground));
    const Camera camera = Straight(4, 1.2f);
    raster.SetCamera(camera);
    raster.Draw(view);
    const double focal = 0.5 * size / std::tan(0.6);
    auto screenY = [&](double z) { return 0.5 * size + focal * 1.0 / (4 - z); };
    // Bilinear filtering blends across the middle texel boundary, so look a little away from it.
    const int boundary = int(screenY(0));
    const uint8_t* farSide = raster.Frame().Pixel(size / 2, boundary - 4);
    const uint8_t* nearSide = raster.Frame().Pixel(size / 2, boundary + 4);
    EXPECT_GT(farSide[1], farSide[0]);
    EXPECT_GT(nearSide[0], nearSide[1]);
    // The affine midpoint lies well inside the near half, which covers more of the screen.
    const int affine = int(0.5 * (screenY(-2) + screenY(2)));
    ASSERT_GT(affine, boundary + 8);
    EXPECT_GT(raster.Frame().Pixel(size / 2, affine - 2)[0],
              raster.Frame().Pixel(size / 2, affine - 2)[1]);
}

TEST(Raster, TextureCornersAndRepeat) {
    std::vector<uint8_t> texels = {255, 0, 0,   255, 0,   255, 0,   255,   // red, green
                                   0,   0, 255, 255, 255, 255, 255, 255};  // blue, white
    TestMesh quad;
    AddQuad(&quad, -1, -1, 1, 1, 0);
    for (float& uv : quad.uvs)
        uv += 3;  // whole repeats of the texture change nothing
    MeshView view = quad.View();
    view.texture = {texels.data(), 2, 2};
    Lighting lighting;
    lighting.direction[0] = lighting.direction[1] = 0;
    lighting.direction[2] = 1;
    lighting.ambient = 0;
    lighting.diffuse = 1;
    Rasterizer raster;
    ASSERT_TRUE(raster.Begin(100, 100, kBackground));
    raster.SetCamera(Straight(1.0f / std::tan(0.4f)));  // the quad just fills the image
    raster.SetLighting(lighting);
    raster.Draw(view);
    const Image& f = raster.Frame();
    EXPECT_GE(f.Pixel(25, 25)[0], 245);  // top left: red
    EXPECT_LE(f.Pixel(25, 25)[1], 10);
    EXPECT_GE(f.Pixel(75, 25)[1], 245);  // top right: green
    EXPECT_LE(f.Pixel(75, 25)[0], 10);
    EXPECT_GE(f.Pixel(25, 75)[2], 245);  // bottom left: blue
    EXPECT_GE(f.Pixel(75, 75)[0], 245);  // bottom right: white
    EXPECT_GE(f.Pixel(75, 75)[2], 245);
}

TEST(Raster, TrianglesCrossingTheNearPlaneAreClipped) {
    // A floor running from behind the camera far ahead: only its part ahead is drawn.
    TestMesh floor;
    floor.AddVertex(-5, -1, 10, 0, 1, 0);
    floor.AddVertex(5, -1, 10, 0, 1, 0);
    floor.AddVertex(0, -1, -20, 0, 1, 0);
    floor.indices = {0, 1, 2};
    Rasterizer raster;
    ASSERT_TRUE(raster.Begin(64, 64, kBackground));
    raster.SetCamera(Straight(3));
    raster.Draw(floor.View());
    EXPECT_GT(raster.Stats().pixelsWritten, 0);
    EXPECT_TRUE(IsBackground(raster.Frame().Pixel(32, 5)));  // above the horizon
    EXPECT_FALSE(IsBackground(raster.Frame().Pixel(32, 60)));

    // Wholly behind the camera: nothing.
    TestMesh behind;
    AddQuad(&behind, -1, -1, 1, 1, 5);
    ASSERT_TRUE(raster.Begin(64, 64, kBackground));
    raster.Draw(behind.View());
    EXPECT_EQ(raster.Stats().pixelsWritten, 0);
    EXPECT_EQ(raster.Stats().trianglesSkipped, 2);
}

TEST(Raster, BadTrianglesAreSkipped) {
    TestMesh quad;
    AddQuad(&quad, -1, -1, 1, 1, 0);
    quad.indices.insert(quad.indices.end(), {0, 1, 99});  // index out of range
    quad.AddVertex(NAN, 0, 0, 0, 0, 1);
    quad.indices.insert(quad.indices.end(), {0, 1, 4});  // a non-finite corner
    quad.normals[0] = NAN;                               // a bad normal is replaced
    quad.uvs[2] = INFINITY;                              // and a bad UV too
    std::vector<uint8_t> texel = {255, 255, 255, 255};
    MeshView view = quad.View();
    view.texture = {texel.data(), 1, 1};
    Rasterizer raster;
    ASSERT_TRUE(raster.Begin(64, 64, kBackground));
    raster.SetCamera(Straight(3));
    raster.Draw(view);
    EXPECT_EQ(raster.Stats().trianglesSkipped, 2);
    EXPECT_EQ(raster.Stats().trianglesDrawn, 2);
    for (size_t i = 0; i < raster.Frame().rgba.size(); ++i)
        ASSERT_FALSE(std::isnan(float(raster.Frame().rgba[i])));

    EXPECT_FALSE(raster.Begin(0, 10, kBackground));
    EXPECT_FALSE(raster.Begin(10, 100000, kBackground));
}

TEST(Raster, ANewFrameStartsFromTheBackground) {
    TestMesh quad;
    AddQuad(&quad, -1, -1, 1, 1, 0);
    Rasterizer raster;
    ASSERT_TRUE(raster.Begin(32, 32, kBackground));
    raster.SetCamera(Straight(3));
    raster.Draw(quad.View());
    ASSERT_GT(raster.Stats().pixelsWritten, 0);
    ASSERT_TRUE(raster.Begin(32, 32, kBackground));
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            ASSERT_TRUE(IsBackground(raster.Frame().Pixel(x, y)));
    EXPECT_EQ(raster.Stats().pixelsWritten, 0);
}

Image Solid(int w, int h, uint8_t value) {
    Image image;
    image.Resize(w, h);
    for (size_t i = 0; i < image.rgba.size(); ++i)
        image.rgba[i] = value;
    return image;
}

TEST(Sheet, CellsWrapIntoRows) {
    const std::vector<Image> cells = {Solid(4, 3, 1), Solid(4, 3, 2), Solid(4, 3, 3)};
    const Image sheet = ComposeSheet(cells, 2, kBackground);
    ASSERT_EQ(sheet.width, 8);
    ASSERT_EQ(sheet.height, 6);
    EXPECT_EQ(sheet.Pixel(0, 0)[0], 1);
    EXPECT_EQ(sheet.Pixel(7, 2)[0], 2);
    EXPECT_EQ(sheet.Pixel(3, 5)[0], 3);
    EXPECT_TRUE(IsBackground(sheet.Pixel(4, 3)));               // no fourth cell
    EXPECT_EQ(ComposeSheet(cells, 10, kBackground).width, 12);  // one row of three

    EXPECT_TRUE(ComposeSheet({}, 2, kBackground).rgba.empty());
    EXPECT_TRUE(ComposeSheet(cells, 0, kBackground).rgba.empty());
    EXPECT_TRUE(ComposeSheet({Solid(4, 3, 1), Solid(3, 3, 1)}, 2, kBackground).rgba.empty());
}

TEST(Sheet, DownsampleAveragesBlocks) {
    Image image = Solid(4, 2, 0);
    image.Pixel(0, 0)[0] = 100;
    image.Pixel(1, 1)[0] = 200;
    image.Pixel(3, 0)[1] = 255;
    const Image small = Downsample(image, 2);
    ASSERT_EQ(small.width, 2);
    ASSERT_EQ(small.height, 1);
    EXPECT_EQ(small.Pixel(0, 0)[0], 75);
    EXPECT_EQ(small.Pixel(1, 0)[1], 64);
    EXPECT_TRUE(Downsample(Solid(5, 4, 0), 2).rgba.empty());
}

}  // namespace
}  // namespace orvane_tool

// A small software rasteriser for the render command: triangles with a depth buffer, Lambert
// shading from one directional light plus ambient, perspective-correct texture sampling, and a
// camera that frames a bounding box. It draws both sides of every triangle and lights the side
// it sees, because imported meshes come with either winding. Triangles are clipped against the
// near plane; everything else is cut at the image's edges.
//
// Images are 8-bit RGBA, rows from the top. A Rasterizer keeps its buffers between frames, so
// drawing many frames of the same size allocates only on the first; distinct Rasterizers may
// draw on distinct threads at once.
#ifndef ORVANE_TOOL_RASTER_H
#define ORVANE_TOOL_RASTER_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvane_tool {

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;  // width x height x 4, rows from the top

    void Resize(int w, int h);
    uint8_t* Pixel(int x, int y) { return rgba.data() + (std::size_t(y) * width + x) * 4; }
    const uint8_t* Pixel(int x, int y) const {
        return rgba.data() + (std::size_t(y) * width + x) * 4;
    }
};

// An axis-aligned box; empty until a point is added. Non-finite points are ignored.
struct Box {
    float min[3] = {0, 0, 0}, max[3] = {0, 0, 0};
    bool empty = true;

    void Add(const float p[3]);
    void Add(const Box& other);
};

// A pinhole camera: the eye, an orthonormal frame (right, up, and forward, the direction it
// looks in), the vertical field of view and the near plane distance.
struct Camera {
    float eye[3] = {0, 0, 5};
    float right[3] = {1, 0, 0}, up[3] = {0, 1, 0}, forward[3] = {0, 0, -1};
    float verticalFov = 0.6f;  // radians
    float nearDistance = 0.01f;
};

// How FrameBox looks at a box: the model's up axis and the direction its front faces (both need
// not be unit length but must not be parallel), the angles the view turns from straight ahead
// (around up, then above the horizon), the field of view, and the share of the image the box's
// projection may fill at most.
struct FramingOptions {
    float up[3] = {0, 1, 0};
    float front[3] = {0, 0, 1};
    float azimuth = 0.6f;     // radians, to the model's left seen from the front
    float elevation = 0.25f;  // radians
    float verticalFov = 0.6f;
    float fill = 0.9f;
};

// A camera that sees the whole box, at the given options' angles, in an image of the given
// aspect (width / height). An empty box is framed as a unit cube at the origin.
Camera FrameBox(const Box& box, float aspect, const FramingOptions& options = {});

// A texture to sample: 8-bit RGBA rows from the top, repeated outside [0, 1]. UV (0, 0) is the
// top-left corner of the image (as glTF and most exporters define it).
struct TextureView {
    const uint8_t* rgba = nullptr;
    int width = 0, height = 0;
};

// A triangle mesh to draw. Normals and UVs are optional (null); without normals each triangle is
// lit by its own plane. The texture is used only with UVs; otherwise the mesh has its colour.
struct MeshView {
    const float* positions = nullptr;  // vertexCount x 3
    const float* normals = nullptr;    // vertexCount x 3, or null
    const float* uvs = nullptr;        // vertexCount x 2, or null
    int32_t vertexCount = 0;
    const uint32_t* indices = nullptr;  // triangle list; triangles with an index out of range are
    int64_t indexCount = 0;             // skipped
    TextureView texture;
    uint8_t color[4] = {200, 200, 200, 255};
};

struct Lighting {
    float direction[3] = {-0.4f, 0.6f, 0.7f};  // towards the light, in camera space (x right,
                                               // y up, z towards the viewer)
    float ambient = 0.3f;
    float diffuse = 0.75f;
};

// Counts of the last frame, for tests and timings.
struct RasterStats {
    int64_t trianglesDrawn = 0;    // triangles (or clipped pieces) that reached the image
    int64_t trianglesSkipped = 0;  // bad indices, non-finite or wholly behind the near plane
    int64_t pixelsWritten = 0;
};

class Rasterizer {
public:
    // Starts a frame of the given size (1 to 16384 on a side) cleared to the background; false
    // when the size is out of range.
    bool Begin(int width, int height, const uint8_t background[4]);
    void SetCamera(const Camera& camera) { camera_ = camera; }
    void SetLighting(const Lighting& lighting) { lighting_ = lighting; }
    void Draw(const MeshView& mesh);

    const Image& Frame() const { return image_; }
    const RasterStats& Stats() const { return stats_; }

private:
    struct Vertex {
        float p[3];  // camera space
        float n[3];  // camera space
        float uv[2];
    };
    void DrawTriangle(const Vertex* v, const MeshView& mesh, bool hasNormals);
    void Fill(const Vertex* v, const float shade[3], const MeshView& mesh);

    Image image_;
    std::vector<float> depth_;  // 1 / distance along the view; 0 is the far background
    std::vector<Vertex> vertices_;
    Camera camera_;
    Lighting lighting_;
    RasterStats stats_;
    float light_[3] = {0, 0, 1};
    float focal_ = 1;  // pixels per unit of x / depth
};

// Places cells of equal size side by side, left to right, wrapping after `columns` cells into
// further rows; the sheet has the background where no cell lands. Empty when there are no
// cells, the cells differ in size or columns < 1.
Image ComposeSheet(const std::vector<Image>& cells, int columns, const uint8_t background[4]);

// Averages each factor x factor block into one pixel (the image's size must be a multiple).
Image Downsample(const Image& image, int factor);

}  // namespace orvane_tool

#endif  // ORVANE_TOOL_RASTER_H

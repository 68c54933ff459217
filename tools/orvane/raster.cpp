// The render command's rasteriser (see raster.h). Camera space has x to the right, y up and z
// towards the viewer, so what the camera sees has z < 0 and its depth is -z.
#include "raster.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace orvane_tool {

namespace {

float Dot(const float* a, const float* b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

void Cross(const float* a, const float* b, float* out) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

// Unit length, or false (and zero) when the vector has no usable length.
bool Normalize(float* v) {
    const float length = std::sqrt(Dot(v, v));
    if (!(length > 1e-20f) || !std::isfinite(length)) {
        v[0] = v[1] = v[2] = 0;
        return false;
    }
    for (int i = 0; i < 3; ++i)
        v[i] /= length;
    return true;
}

bool Finite3(const float* v) {
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

// Bilinear sample of a repeating texture; u, v must be finite.
void Sample(const TextureView& t, float u, float v, float out[3]) {
    u -= std::floor(u);
    v -= std::floor(v);
    const float x = u * float(t.width) - 0.5f, y = v * float(t.height) - 0.5f;
    const float fx0 = std::floor(x), fy0 = std::floor(y);
    const float fx = x - fx0, fy = y - fy0;
    int x0 = int(fx0), y0 = int(fy0);
    // u in [0, 1) puts x0 in [-1, width - 1]; rounding may reach width.
    x0 = x0 < 0 ? t.width - 1 : (x0 >= t.width ? 0 : x0);
    y0 = y0 < 0 ? t.height - 1 : (y0 >= t.height ? 0 : y0);
    const int x1 = x0 + 1 == t.width ? 0 : x0 + 1, y1 = y0 + 1 == t.height ? 0 : y0 + 1;
    const uint8_t* r0 = t.rgba + size_t(y0) * t.width * 4;
    const uint8_t* r1 = t.rgba + size_t(y1) * t.width * 4;
    const float w00 = (1 - fx) * (1 - fy), w10 = fx * (1 - fy), w01 = (1 - fx) * fy, w11 = fx * fy;
    for (int c = 0; c < 3; ++c)
        out[c] = (w00 * r0[x0 * 4 + c] + w10 * r0[x1 * 4 + c] + w01 * r1[x0 * 4 + c] +
                  w11 * r1[x1 * 4 + c]) *
                 (1.0f / 255.0f);
}

}  // namespace

void Image::Resize(int w, int h) {
    width = w;
    height = h;
    rgba.assign(size_t(w) * size_t(h) * 4, 0);
}

void Box::Add(const float p[3]) {
    if (!Finite3(p)) return;
    for (int i = 0; i < 3; ++i) {
        if (empty || p[i] < min[i]) min[i] = p[i];
        if (empty || p[i] > max[i]) max[i] = p[i];
    }
    empty = false;
}

void Box::Add(const Box& other) {
    if (other.empty) return;
    Add(other.min);
    Add(other.max);
}

Camera FrameBox(const Box& boxIn, float aspect, const FramingOptions& o) {
    Box box = boxIn;
    if (box.empty) {
        const float lo[3] = {-0.5f, -0.5f, -0.5f}, hi[3] = {0.5f, 0.5f, 0.5f};
        box.Add(lo);
        box.Add(hi);
    }
    if (!(aspect > 0) || !std::isfinite(aspect)) aspect = 1;
    float up[3] = {o.up[0], o.up[1], o.up[2]}, front[3] = {o.front[0], o.front[1], o.front[2]};
    if (!Normalize(up)) up[1] = 1;
    // The front made perpendicular to up; a front along up falls back to another axis.
    float along = Dot(front, up);
    for (int i = 0; i < 3; ++i)
        front[i] -= along * up[i];
    if (!Normalize(front)) {
        const float other[3] = {up[1], up[2], up[0]};
        Cross(up, other, front);
        Normalize(front);
    }
    float side[3];  // the model's left, seen from its front
    Cross(up, front, side);

    // The direction from the box towards the eye: the front turned by azimuth around up and
    // raised by elevation.
    const float ca = std::cos(o.azimuth), sa = std::sin(o.azimuth);
    const float ce = std::cos(o.elevation), se = std::sin(o.elevation);
    float toEye[3];
    for (int i = 0; i < 3; ++i)
        toEye[i] = ce * (ca * front[i] + sa * side[i]) + se * up[i];
    Normalize(toEye);

    Camera camera;
    const float fov = o.verticalFov > 0.05f && o.verticalFov < 3.0f ? o.verticalFov : 0.6f;
    camera.verticalFov = fov;
    for (int i = 0; i < 3; ++i)
        camera.forward[i] = -toEye[i];
    Cross(camera.forward, up, camera.right);
    Normalize(camera.right);
    Cross(camera.right, camera.forward, camera.up);

    float center[3], radius2 = 0;
    for (int i = 0; i < 3; ++i) {
        center[i] = 0.5f * (box.min[i] + box.max[i]);
        const float h = 0.5f * (box.max[i] - box.min[i]);
        radius2 += h * h;
    }
    const float radius = std::max(std::sqrt(radius2), 1e-6f);

    // The distance from the centre at which every corner projects inside the filled share of
    // the image: a corner at (x, y) beside the view axis and z beyond the centre needs
    // distance + z >= |x| / tan(half horizontal fov), and the same for y.
    const float fill = o.fill > 0.05f && o.fill <= 1 ? o.fill : 0.9f;
    const float tanV = std::tan(0.5f * fov) * fill, tanH = std::tan(0.5f * fov) * aspect * fill;
    float distance = 0;
    for (int c = 0; c < 8; ++c) {
        float d[3];
        for (int i = 0; i < 3; ++i)
            d[i] = ((c >> i) & 1 ? box.max[i] : box.min[i]) - center[i];
        const float x = std::fabs(Dot(d, camera.right)), y = std::fabs(Dot(d, camera.up));
        const float z = Dot(d, camera.forward);
        distance = std::max(distance, std::max(x / tanH, y / tanV) - z);
    }
    distance = std::max(distance, radius * 1.05f);
    for (int i = 0; i < 3; ++i)
        camera.eye[i] = center[i] + toEye[i] * distance;
    camera.nearDistance = std::max((distance - radius) * 0.5f, radius * 1e-3f);
    return camera;
}

bool Rasterizer::Begin(int width, int height, const uint8_t background[4]) {
    if (width < 1 || height < 1 || width > 16384 || height > 16384) return false;
    if (image_.width != width || image_.height != height) image_.Resize(width, height);
    const size_t pixels = size_t(width) * size_t(height);
    for (size_t i = 0; i < pixels; ++i)
        std::memcpy(&image_.rgba[i * 4], background, 4);
    depth_.assign(pixels, 0.0f);
    stats_ = RasterStats();
    return true;
}

void Rasterizer::Draw(const MeshView& mesh) {
    if (image_.width == 0 || mesh.positions == nullptr || mesh.indices == nullptr ||
        mesh.vertexCount <= 0 || mesh.indexCount < 3)
        return;
    focal_ = 0.5f * float(image_.height) / std::tan(0.5f * camera_.verticalFov);
    std::memcpy(light_, lighting_.direction, sizeof light_);
    if (!Normalize(light_)) light_[2] = 1;

    vertices_.resize(size_t(mesh.vertexCount));
    const bool hasNormals = mesh.normals != nullptr;
    const bool hasUVs = mesh.uvs != nullptr;
    for (int32_t i = 0; i < mesh.vertexCount; ++i) {
        Vertex& v = vertices_[size_t(i)];
        const float* p = mesh.positions + size_t(i) * 3;
        const float d[3] = {p[0] - camera_.eye[0], p[1] - camera_.eye[1], p[2] - camera_.eye[2]};
        v.p[0] = Dot(d, camera_.right);
        v.p[1] = Dot(d, camera_.up);
        v.p[2] = -Dot(d, camera_.forward);
        if (hasNormals) {
            const float* n = mesh.normals + size_t(i) * 3;
            v.n[0] = Dot(n, camera_.right);
            v.n[1] = Dot(n, camera_.up);
            v.n[2] = -Dot(n, camera_.forward);
        }
        v.uv[0] = hasUVs ? mesh.uvs[size_t(i) * 2] : 0.0f;
        v.uv[1] = hasUVs ? mesh.uvs[size_t(i) * 2 + 1] : 0.0f;
        if (!std::isfinite(v.uv[0]) || !std::isfinite(v.uv[1])) v.uv[0] = v.uv[1] = 0;
    }
    const uint32_t count = uint32_t(mesh.vertexCount);
    for (int64_t t = 0; t + 2 < mesh.indexCount; t += 3) {
        const uint32_t* index = mesh.indices + t;
        if (index[0] >= count || index[1] >= count || index[2] >= count) {
            ++stats_.trianglesSkipped;
            continue;
        }
        const Vertex v[3] = {vertices_[index[0]], vertices_[index[1]], vertices_[index[2]]};
        DrawTriangle(v, mesh, hasNormals);
    }
}

void Rasterizer::DrawTriangle(const Vertex* in, const MeshView& mesh, bool hasNormals) {
    if (!Finite3(in[0].p) || !Finite3(in[1].p) || !Finite3(in[2].p)) {
        ++stats_.trianglesSkipped;
        return;
    }
    Vertex v[3] = {in[0], in[1], in[2]};
    float e1[3], e2[3], g[3];
    for (int i = 0; i < 3; ++i) {
        e1[i] = v[1].p[i] - v[0].p[i];
        e2[i] = v[2].p[i] - v[0].p[i];
    }
    Cross(e1, e2, g);
    // The side the camera sees, whatever the winding: g turned towards the eye.
    const float toEye[3] = {-v[0].p[0], -v[0].p[1], -v[0].p[2]};
    if (Dot(g, toEye) < 0)
        for (float& c : g)
            c = -c;
    Normalize(g);
    float shade[3];
    if (hasNormals) {
        // Two-sided lighting: when the vertex normals point away from the side seen, the
        // triangle is lit as the back of the surface.
        float sum[3] = {0, 0, 0};
        for (const Vertex& x : v)
            for (int i = 0; i < 3; ++i)
                sum[i] += x.n[i];
        const float sign = Dot(sum, g) < 0 ? -1.0f : 1.0f;
        for (Vertex& x : v) {
            for (float& c : x.n)
                c *= sign;
            if (!Finite3(x.n) || !Normalize(x.n)) std::memcpy(x.n, g, sizeof g);
        }
    } else {
        for (Vertex& x : v)
            std::memcpy(x.n, g, sizeof g);
    }
    for (int i = 0; i < 3; ++i)
        shade[i] = lighting_.ambient + lighting_.diffuse * std::max(0.0f, Dot(v[i].n, light_));

    // Clipping against the near plane (z = -near) keeps the part in front of it: a triangle,
    // a quadrilateral or nothing.
    const float nearZ = -camera_.nearDistance;
    int inside = 0;
    for (const Vertex& x : v)
        inside += x.p[2] <= nearZ;
    if (inside == 3) {
        Fill(v, shade, mesh);
        return;
    }
    if (inside == 0) {
        ++stats_.trianglesSkipped;
        return;
    }
    Vertex poly[4];
    float polyShade[4];
    int n = 0;
    for (int i = 0; i < 3; ++i) {
        const Vertex& a = v[i];
        const Vertex& b = v[(i + 1) % 3];
        const bool aIn = a.p[2] <= nearZ, bIn = b.p[2] <= nearZ;
        if (aIn) {
            poly[n] = a;
            polyShade[n++] = shade[i];
        }
        if (aIn != bIn) {
            const float s = (nearZ - a.p[2]) / (b.p[2] - a.p[2]);
            Vertex& c = poly[n];
            for (int k = 0; k < 3; ++k) {
                c.p[k] = a.p[k] + s * (b.p[k] - a.p[k]);
                c.n[k] = a.n[k] + s * (b.n[k] - a.n[k]);
            }
            c.p[2] = nearZ;
            for (int k = 0; k < 2; ++k)
                c.uv[k] = a.uv[k] + s * (b.uv[k] - a.uv[k]);
            polyShade[n++] = shade[i] + s * (shade[(i + 1) % 3] - shade[i]);
        }
    }
    for (int i = 1; i + 1 < n; ++i) {
        const Vertex piece[3] = {poly[0], poly[i], poly[i + 1]};
        const float pieceShade[3] = {polyShade[0], polyShade[i], polyShade[i + 1]};
        Fill(piece, pieceShade, mesh);
    }
}

void Rasterizer::Fill(const Vertex* v, const float shadeIn[3], const MeshView& mesh) {
    // Corners snapped to 1/16 pixel so that the edge functions are exact integers: a pixel
    // centre on an edge two triangles share then belongs to exactly one of them (the edge's
    // direction decides), which leaves neither cracks nor double hits along the edge.
    constexpr int kSub = 16;
    int64_t X[3], Y[3];
    float iw[3];
    const float cx = 0.5f * float(image_.width), cy = 0.5f * float(image_.height);
    for (int i = 0; i < 3; ++i) {
        const float depth = -v[i].p[2];
        iw[i] = 1.0f / depth;
        const float sx = (cx + focal_ * v[i].p[0] * iw[i]) * kSub;
        const float sy = (cy - focal_ * v[i].p[1] * iw[i]) * kSub;
        // Beyond this the products of the edge functions could overflow.
        if (!(std::fabs(sx) < 1e8f) || !(std::fabs(sy) < 1e8f)) {
            ++stats_.trianglesSkipped;
            return;
        }
        X[i] = std::llround(sx);
        Y[i] = std::llround(sy);
    }
    auto edge = [&](int a, int b, int64_t px, int64_t py) {
        return (px - X[a]) * (Y[b] - Y[a]) - (py - Y[a]) * (X[b] - X[a]);
    };
    int64_t area = edge(0, 1, X[2], Y[2]);
    int order[3] = {0, 1, 2};
    if (area < 0) {
        std::swap(order[1], order[2]);
        std::swap(X[1], X[2]);
        std::swap(Y[1], Y[2]);
        area = -area;
    }
    if (area == 0) {
        ++stats_.trianglesSkipped;
        return;
    }
    float IW[3], shade[3], u[3], w[3];
    for (int i = 0; i < 3; ++i) {
        const int k = order[i];
        IW[i] = iw[k];
        shade[i] = shadeIn[k];
        u[i] = v[k].uv[0];
        w[i] = v[k].uv[1];
    }

    // Pixels whose centres (at 16 p + 8) lie within the corners' bounds.
    auto firstCentre = [](int64_t v) {  // the least p with 16 p + 8 >= v
        const int64_t d = v - kSub / 2;
        return d >= 0 ? (d + kSub - 1) / kSub : -((-d) / kSub);
    };
    auto lastCentre = [](int64_t v) {  // the greatest p with 16 p + 8 <= v
        const int64_t d = v - kSub / 2;
        return d >= 0 ? d / kSub : -((-d + kSub - 1) / kSub);
    };
    const int64_t minX = std::min({X[0], X[1], X[2]}), maxX = std::max({X[0], X[1], X[2]});
    const int64_t minY = std::min({Y[0], Y[1], Y[2]}), maxY = std::max({Y[0], Y[1], Y[2]});
    const int x0 = int(std::max<int64_t>(0, firstCentre(minX)));
    const int x1 = int(std::min<int64_t>(image_.width - 1, lastCentre(maxX)));
    const int y0 = int(std::max<int64_t>(0, firstCentre(minY)));
    const int y1 = int(std::min<int64_t>(image_.height - 1, lastCentre(maxY)));
    if (x0 > x1 || y0 > y1) return;
    ++stats_.trianglesDrawn;

    const bool textured = mesh.uvs != nullptr && mesh.texture.rgba != nullptr &&
                          mesh.texture.width > 0 && mesh.texture.height > 0;
    float base[3];
    for (int c = 0; c < 3; ++c)
        base[c] = mesh.color[c] * (1.0f / 255.0f);
    const float inv = 1.0f / float(area);
    // Edge i runs from corner (i + 1) to corner (i + 2), opposite corner i; its value steps by
    // step[i] per pixel to the right. A centre exactly on it counts when the edge points down,
    // or right along a row (bias 1 makes "> 0" include zero).
    const int a[3] = {1, 2, 0}, b[3] = {2, 0, 1};
    int64_t step[3], bias[3];
    for (int i = 0; i < 3; ++i) {
        const int64_t dy = Y[b[i]] - Y[a[i]], dx = X[b[i]] - X[a[i]];
        step[i] = dy * kSub;
        bias[i] = (dy > 0 || (dy == 0 && dx > 0)) ? 1 : 0;
    }
    const int64_t px0 = int64_t(x0) * kSub + kSub / 2;
    for (int y = y0; y <= y1; ++y) {
        const int64_t py = int64_t(y) * kSub + kSub / 2;
        int64_t e[3];
        for (int i = 0; i < 3; ++i)
            e[i] = edge(a[i], b[i], px0, py);
        float* depthRow = depth_.data() + size_t(y) * image_.width;
        uint8_t* row = image_.rgba.data() + size_t(y) * image_.width * 4;
        for (int x = x0; x <= x1; ++x, e[0] += step[0], e[1] += step[1], e[2] += step[2]) {
            if (e[0] + bias[0] <= 0 || e[1] + bias[1] <= 0 || e[2] + bias[2] <= 0) continue;
            const float b0 = float(e[0]) * inv, b1 = float(e[1]) * inv, b2 = float(e[2]) * inv;
            const float invDepth = b0 * IW[0] + b1 * IW[1] + b2 * IW[2];
            if (invDepth <= depthRow[x]) continue;
            depthRow[x] = invDepth;
            // Perspective-correct weights of the corners.
            const float r = 1.0f / invDepth;
            const float q0 = b0 * IW[0] * r, q1 = b1 * IW[1] * r, q2 = b2 * IW[2] * r;
            const float light = q0 * shade[0] + q1 * shade[1] + q2 * shade[2];
            float color[3] = {base[0], base[1], base[2]};
            if (textured)
                Sample(mesh.texture, q0 * u[0] + q1 * u[1] + q2 * u[2],
                       q0 * w[0] + q1 * w[1] + q2 * w[2], color);
            uint8_t* out = row + size_t(x) * 4;
            for (int c = 0; c < 3; ++c)
                out[c] =
                    uint8_t(std::min(255.0f, std::max(0.0f, color[c] * light * 255.0f + 0.5f)));
            out[3] = 255;
            ++stats_.pixelsWritten;
        }
    }
}

Image ComposeSheet(const std::vector<Image>& cells, int columns, const uint8_t background[4]) {
    Image sheet;
    if (cells.empty() || columns < 1) return sheet;
    const int w = cells[0].width, h = cells[0].height;
    for (const Image& cell : cells)
        if (cell.width != w || cell.height != h || cell.rgba.size() != size_t(w) * h * 4)
            return sheet;
    columns = std::min<int>(columns, int(cells.size()));
    const int rows = int((cells.size() + size_t(columns) - 1) / size_t(columns));
    sheet.Resize(w * columns, h * rows);
    for (size_t i = 0; i < sheet.rgba.size(); i += 4)
        std::memcpy(&sheet.rgba[i], background, 4);
    for (size_t i = 0; i < cells.size(); ++i) {
        const int left = int(i % size_t(columns)) * w, top = int(i / size_t(columns)) * h;
        for (int y = 0; y < h; ++y)
            std::memcpy(sheet.Pixel(left, top + y), cells[i].Pixel(0, y), size_t(w) * 4);
    }
    return sheet;
}

Image Downsample(const Image& image, int factor) {
    if (factor <= 1) return image;
    Image out;
    if (image.width % factor != 0 || image.height % factor != 0) return out;
    out.Resize(image.width / factor, image.height / factor);
    const int n = factor * factor;
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x) {
            int sum[4] = {0, 0, 0, 0};
            for (int j = 0; j < factor; ++j) {
                const uint8_t* p = image.Pixel(x * factor, y * factor + j);
                for (int i = 0; i < factor; ++i, p += 4)
                    for (int c = 0; c < 4; ++c)
                        sum[c] += p[c];
            }
            uint8_t* q = out.Pixel(x, y);
            for (int c = 0; c < 4; ++c)
                q[c] = uint8_t((sum[c] + n / 2) / n);
        }
    return out;
}

}  // namespace orvane_tool

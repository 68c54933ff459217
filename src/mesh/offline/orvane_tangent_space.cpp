// Tangent frames from texture coordinates: one frame per triangle from its positions and its
// first texture coordinates, accumulated per vertex with vertices split where triangles of
// opposite handedness meet (a mirrored texture seam), merged over coincident vertices whose
// frames roughly agree, and orthonormalised against the vertex normal.
//
// The frame follows the texture: the tangent points along increasing U and the binormal along
// increasing V, so an unmirrored mapping gives a right-handed frame (T x B along N). The ring
// and the vertex-to-triangle map come from the caller and are treated as untrusted: ring walks
// stop at entries outside the vertices and after as many steps as there are vertices.
#include "mesh/offline/orvane_tangent_space.h"

#include <cmath>
#include <cstring>

#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "types/orvane_convert.h"
#include "orvane/mesh_builder.h"

namespace orvane {
namespace {

constexpr float kUnitLengthFloor = 0.00001f;
constexpr float kSamePositionDistance = 0.00001f;

struct Vec3 {
    float x, y, z;
};

inline Vec3 Load(const float* p) {
    return {p[0], p[1], p[2]};
}
inline void Store(const Vec3& v, float* p) {
    p[0] = v.x;
    p[1] = v.y;
    p[2] = v.z;
}
inline Vec3 Sub(const Vec3& a, const Vec3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec3 Scale(const Vec3& a, float s) {
    return {a.x * s, a.y * s, a.z * s};
}
inline Vec3 Cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline float Dot(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Vec3 Normalized(const Vec3& v) {
    const float length = std::sqrt(Dot(v, v));
    if (!(length > kUnitLengthFloor)) return {0, 0, 0};
    return Scale(v, 1.0f / length);
}
inline void NormalizeInPlace(float* p) {
    Store(Normalized(Load(p)), p);
}
inline void AddInPlace(float* p, const float* q) {
    p[0] += q[0];
    p[1] += q[1];
    p[2] += q[2];
}
// Adds v with the sign that keeps the running sum's dot product with it non-negative.
inline void AddAligned(float* sum, const float* v) {
    const float s = Dot(Load(sum), Load(v)) < 0 ? -1.0f : 1.0f;
    sum[0] += s * v[0];
    sum[1] += s * v[1];
    sum[2] += s * v[2];
}

// (T x B) . N of a frame of 9 reals.
inline float Handedness(const float* frame) {
    return Dot(Cross(Load(frame), Load(frame + 3)), Load(frame + 6));
}
inline bool OppositeHandedness(const float* a, const float* b) {
    const float ha = Handedness(a), hb = Handedness(b);
    return ha != 0 && hb != 0 && ((ha < 0) != (hb < 0));
}

struct Context {
    int32_t triangleCount;
    int32_t* indices;
    int32_t count;
    int32_t capacity;
    size_t vertexSize;
    unsigned char* vertices;
    float* frames;
    int32_t* next;
    int32_t* toTriangle;
    orvane_pnt332_vertex* read;  // each vertex read through the position/normal/UV layout
    bool capacityReported;
};

// The ring successor of v when it names a vertex, else -1.
inline int32_t Next(const Context& c, int32_t v) {
    const int32_t n = c.next[v];
    return (n >= 0 && n < c.count) ? n : -1;
}

void TriangleFrame(const Context& c, int32_t t, float* frame) {
    const orvane_pnt332_vertex& a = c.read[c.indices[3 * t]];
    const orvane_pnt332_vertex& b = c.read[c.indices[3 * t + 1]];
    const orvane_pnt332_vertex& d = c.read[c.indices[3 * t + 2]];
    const Vec3 e1 = Sub(Load(b.Position), Load(a.Position));
    const Vec3 e2 = Sub(Load(d.Position), Load(a.Position));
    const float du1 = b.TextureCoordinates0[0] - a.TextureCoordinates0[0];
    const float dv1 = b.TextureCoordinates0[1] - a.TextureCoordinates0[1];
    const float du2 = d.TextureCoordinates0[0] - a.TextureCoordinates0[0];
    const float dv2 = d.TextureCoordinates0[1] - a.TextureCoordinates0[1];
    const float det = du1 * dv2 - du2 * dv1;
    const float r = 1.0f / det;
    Vec3 tangent{0, 0, 0}, binormal{0, 0, 0};
    // Texture coordinates that span no area give no direction: the triangle adds only its
    // normal rather than infinities.
    if (det != 0 && std::isfinite(r)) {
        tangent = Normalized(Scale(Sub(Scale(e1, dv2), Scale(e2, dv1)), r));
        binormal = Normalized(Scale(Sub(Scale(e2, du1), Scale(e1, du2)), r));
    }
    Store(tangent, frame);
    Store(binormal, frame + 3);
    Store(Normalized(Cross(e1, e2)), frame + 6);
}

int32_t FirstTriangleUsing(const Context& c, int32_t v) {
    for (int32_t i = 0; i < 3 * c.triangleCount; ++i)
        if (c.indices[i] == v) return i / 3;
    return -1;
}

// The vertex the corner should accumulate into: v itself, an identical ring member of the same
// handedness, or a new copy of v.
int32_t ChooseVertex(Context& c, int32_t v, const float* triangleFrame) {
    if (!OppositeHandedness(c.frames + 9 * static_cast<size_t>(v), triangleFrame)) return v;
    const unsigned char* data = c.vertices + c.vertexSize * static_cast<size_t>(v);
    int32_t w = Next(c, v);
    for (int32_t steps = 0; w >= 0 && w != v && steps < c.count; ++steps, w = Next(c, w)) {
        if (!OppositeHandedness(c.frames + 9 * static_cast<size_t>(w), triangleFrame) &&
            std::memcmp(data, c.vertices + c.vertexSize * static_cast<size_t>(w), c.vertexSize) ==
                0)
            return w;
    }
    if (c.count >= c.capacity) {
        if (!c.capacityReported)
            ORVANE_LOG_ERROR(OrvaneVertexLayoutOrigin,
                             "Splitting vertex %d at a mirrored seam needs more than the %d "
                             "vertices the arrays hold; its frames are left mixed",
                             static_cast<int>(v), static_cast<int>(c.capacity));
        c.capacityReported = true;
        return v;
    }
    const int32_t n = c.count++;
    std::memcpy(c.vertices + c.vertexSize * static_cast<size_t>(n), data, c.vertexSize);
    c.read[n] = c.read[v];
    std::memset(c.frames + 9 * static_cast<size_t>(n), 0, 9 * sizeof(float));
    const int32_t after = Next(c, v);
    c.next[n] = after >= 0 ? after : v;
    c.next[v] = n;
    c.toTriangle[n] = -1;
    return n;
}

void Accumulate(Context& c, const float* triangleFrames) {
    for (int32_t t = 0; t < c.triangleCount; ++t) {
        const float* tf = triangleFrames + 9 * static_cast<size_t>(t);
        for (int32_t corner = 0; corner < 3; ++corner) {
            const int32_t v = c.indices[3 * t + corner];
            const int32_t chosen = ChooseVertex(c, v, tf);
            if (chosen != v) {
                c.indices[3 * t + corner] = chosen;
                c.toTriangle[chosen] = t;
                if (c.toTriangle[v] == t) c.toTriangle[v] = FirstTriangleUsing(c, v);
            }
            float* frame = c.frames + 9 * static_cast<size_t>(chosen);
            AddInPlace(frame, tf);
            AddInPlace(frame + 3, tf + 3);
            AddInPlace(frame + 6, tf + 6);
        }
    }
}

void NormalizeFrame(float* frame, const float* normal) {
    NormalizeInPlace(frame);
    NormalizeInPlace(frame + 3);
    std::memcpy(frame + 6, normal, 3 * sizeof(float));
    NormalizeInPlace(frame + 6);
}

bool SamePosition(const float* a, const float* b) {
    return std::fabs(a[0] - b[0]) + std::fabs(a[1] - b[1]) + std::fabs(a[2] - b[2]) <
           kSamePositionDistance;
}

// Sums the frames of v's coincident ring that agree with v's (old frames in `previous`).
void MergeFrame(const Context& c, const float* previous, float tolerance, int32_t v, float* out) {
    std::memset(out, 0, 9 * sizeof(float));
    const float* mine = previous + 9 * static_cast<size_t>(v);
    const float* position = c.read[v].Position;
    int32_t w = v;
    for (int32_t steps = 0; w >= 0 && steps <= c.count; ++steps) {
        const float* theirs = previous + 9 * static_cast<size_t>(w);
        if ((w == v || SamePosition(position, c.read[w].Position)) &&
            std::fabs(Dot(Load(mine), Load(theirs))) > tolerance &&
            std::fabs(Dot(Load(mine + 3), Load(theirs + 3))) > tolerance) {
            AddAligned(out, theirs);
            AddAligned(out + 3, theirs + 3);
            AddAligned(out + 6, theirs + 6);
        }
        w = Next(c, w);
        if (w == v) break;
    }
}

// Keeps the frame's handedness: B' is N x T for a right-handed frame and T x N otherwise, so
// that B' stays on B's side of the plane of T and N.
void Orthonormalize(float* frame) {
    const Vec3 t = Load(frame), n = Load(frame + 6);
    Vec3 b2, t2;
    if (Handedness(frame) < 0) {
        b2 = Cross(t, n);
        t2 = Cross(n, b2);
    } else {
        b2 = Cross(n, t);
        t2 = Cross(b2, n);
    }
    Store(Normalized(t2), frame);
    Store(Normalized(b2), frame + 3);
    Store(Normalized(n), frame + 6);
}

// Offset of the first member conversion would match with `name` when it holds at least
// `width` reals; -1 when the layout lacks it; -2 when it holds something else.
int32_t RealMemberOffset(const orvane_data_type_definition* layout, const char* name,
                         int32_t width) {
    int32_t offset = 0;
    for (const orvane_data_type_definition* m = layout; m->Type != OrvaneEndMember; ++m) {
        if (m->Name && ConversionNamesMatch(m->Name, name))
            return m->Type == OrvaneReal32Member && OrvaneGetMemberArrayWidth(m) >= width ? offset
                                                                                          : -2;
        offset += OrvaneGetMemberTypeSize(m);
    }
    return -1;
}

// Each vertex through the position/normal/UV layout: read in place when the three members are
// plain reals, converted otherwise.
void ReadVertices(const orvane_data_type_definition* layout, const void* vertices, int32_t count,
                  orvane_pnt332_vertex* read) {
    const int32_t offsets[3] = {RealMemberOffset(layout, "Position", 3),
                                RealMemberOffset(layout, "Normal", 3),
                                RealMemberOffset(layout, "TextureCoordinates0", 2)};
    if (offsets[0] == -2 || offsets[1] == -2 || offsets[2] == -2) {
        OrvaneConvertVertexLayouts(count, layout, vertices, OrvanePNT332VertexType, read);
        return;
    }
    const size_t size = static_cast<size_t>(OrvaneGetTotalObjectSize(layout));
    const auto* bytes = static_cast<const unsigned char*>(vertices);
    const size_t widths[3] = {3, 3, 2};
    for (int32_t v = 0; v < count; ++v) {
        float* out[3] = {read[v].Position, read[v].Normal, read[v].TextureCoordinates0};
        for (int i = 0; i < 3; ++i) {
            if (offsets[i] >= 0)
                std::memcpy(out[i], bytes + size * static_cast<size_t>(v) + offsets[i],
                            widths[i] * sizeof(float));
            else
                std::memset(out[i], 0, widths[i] * sizeof(float));
        }
    }
}

bool ArgumentsAreUsable(int32_t triangleCount, const int32_t* indices, const float* scratch,
                        int32_t vertexCount, int32_t capacity,
                        const orvane_data_type_definition* layout, const void* vertices,
                        const float* frames, const int32_t* next, const int32_t* toTriangle) {
    if (triangleCount < 0 || vertexCount < 0 || capacity < vertexCount) {
        ORVANE_LOG_ERROR(OrvaneVertexLayoutOrigin,
                         "Tangent frames need non-negative counts and a capacity of at least the "
                         "vertex count (triangles %d, vertices %d, capacity %d)",
                         static_cast<int>(triangleCount), static_cast<int>(vertexCount),
                         static_cast<int>(capacity));
        return false;
    }
    if (layout == nullptr || OrvaneGetTotalObjectSize(layout) <= 0 ||
        (vertexCount > 0 &&
         (vertices == nullptr || frames == nullptr || next == nullptr || toTriangle == nullptr)) ||
        (triangleCount > 0 && (indices == nullptr || scratch == nullptr))) {
        ORVANE_LOG_ERROR(OrvaneVertexLayoutOrigin,
                         "Tangent frames need a vertex layout and every array");
        return false;
    }
    for (int32_t i = 0; i < 3 * triangleCount; ++i) {
        if (indices[i] < 0 || indices[i] >= vertexCount) {
            ORVANE_LOG_ERROR(OrvaneVertexLayoutOrigin,
                             "Index %d of triangle %d names vertex %d outside [0, %d)",
                             static_cast<int>(i % 3), static_cast<int>(i / 3),
                             static_cast<int>(indices[i]), static_cast<int>(vertexCount));
            return false;
        }
    }
    return true;
}

}  // namespace

int32_t BuildTangentFrames(int32_t triangleCount, int32_t* indices, float* triangleFrames,
                           int32_t vertexCount, int32_t vertexCapacity,
                           const orvane_data_type_definition* layout, void* vertices,
                           float* vertexFrames, int32_t* coincidentNext, int32_t* vertexToTriangle,
                           float mergingTolerance) {
    if (!ArgumentsAreUsable(triangleCount, indices, triangleFrames, vertexCount, vertexCapacity,
                            layout, vertices, vertexFrames, coincidentNext, vertexToTriangle))
        return -1;
    // No split can need more than one new vertex per corner.
    const int64_t reach = static_cast<int64_t>(vertexCount) + 3 * int64_t{triangleCount};
    const int32_t capacity = static_cast<int32_t>(reach < vertexCapacity ? reach : vertexCapacity);
    if (capacity == 0) return 0;
    auto* read = ORVANE_ALLOCATE_ARRAY(orvane_pnt332_vertex, capacity);
    float* previous = ORVANE_ALLOCATE_ARRAY(float, 9 * int64_t{capacity});
    if (read == nullptr || previous == nullptr) {
        ORVANE_DEALLOCATE(read);
        ORVANE_DEALLOCATE(previous);
        return -1;
    }
    ReadVertices(layout, vertices, vertexCount, read);

    Context c{triangleCount,
              indices,
              vertexCount,
              capacity,
              static_cast<size_t>(OrvaneGetTotalObjectSize(layout)),
              static_cast<unsigned char*>(vertices),
              vertexFrames,
              coincidentNext,
              vertexToTriangle,
              read,
              false};
    for (int32_t t = 0; t < triangleCount; ++t)
        TriangleFrame(c, t, triangleFrames + 9 * static_cast<size_t>(t));
    std::memset(vertexFrames, 0, 9 * sizeof(float) * static_cast<size_t>(vertexCount));
    Accumulate(c, triangleFrames);

    for (int32_t v = 0; v < c.count; ++v)
        NormalizeFrame(vertexFrames + 9 * static_cast<size_t>(v), read[v].Normal);
    std::memcpy(previous, vertexFrames, 9 * sizeof(float) * static_cast<size_t>(c.count));
    for (int32_t v = 0; v < c.count; ++v) {
        float* frame = vertexFrames + 9 * static_cast<size_t>(v);
        MergeFrame(c, previous, mergingTolerance, v, frame);
        NormalizeFrame(frame, read[v].Normal);
        Orthonormalize(frame);
    }
    ORVANE_DEALLOCATE(read);
    ORVANE_DEALLOCATE(previous);
    return c.count;
}

}  // namespace orvane

extern "C" {

ORVANE_API orvane_int32 OrvaneBuildTangentSpaceWithCapacity(
    orvane_int32 TriangleCount, orvane_int32* Indices, orvane_real32* TriangleScratch,
    orvane_int32 VertexCount, orvane_int32 VertexCapacity,
    const orvane_data_type_definition* VertexLayout, void* Vertices, orvane_real32* VertexFrames,
    orvane_int32* CoincidentNext, orvane_int32* VertexToTriangle, orvane_real32 MergingTolerance) {
    return orvane::BuildTangentFrames(TriangleCount, Indices, TriangleScratch, VertexCount,
                                      VertexCapacity, VertexLayout, Vertices, VertexFrames,
                                      CoincidentNext, VertexToTriangle, MergingTolerance);
}

ORVANE_API orvane_int32 OrvaneBuildTangentSpace(
    orvane_int32 TriangleCount, orvane_int32* Indices, orvane_real32* TriangleScratch,
    orvane_int32 VertexCount, const orvane_data_type_definition* VertexLayout, void* Vertices,
    orvane_real32* VertexFrames, orvane_int32* CoincidentNext, orvane_int32* VertexToTriangle,
    orvane_real32 MergingTolerance) {
    const int64_t capacity = static_cast<int64_t>(VertexCount) + 3 * int64_t{TriangleCount};
    return orvane::BuildTangentFrames(
        TriangleCount, Indices, TriangleScratch, VertexCount,
        static_cast<int32_t>(capacity > INT32_MAX ? INT32_MAX : capacity), VertexLayout, Vertices,
        VertexFrames, CoincidentNext, VertexToTriangle, MergingTolerance);
}

}  // extern "C"

// Ending a mesh build: the vertex data (a copy of the layout, the vertices, the art tool's
// component names) and the topology (material groups, grouped indices, the coincident ring, the
// vertex-to-triangle map and the side adjacency), each written into one block.
//
// Triangles leave grouped by material, so both maps that name triangles are rewritten to the
// output's triangle numbers; the builder keeps push order until then.
#include <cstring>

#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "mesh/offline/orvane_mesh_builder.h"

namespace orvane {
namespace {

using Record = orvane_data_type_definition;

constexpr size_t kPieceAlignment = alignof(void*) > 8 ? alignof(void*) : 8;

inline size_t Align(size_t n) {
    return (n + kPieceAlignment - 1) & ~(kPieceAlignment - 1);
}

int32_t LayoutRecords(const Record* layout) {
    int32_t n = 0;
    while (layout[n].Type != OrvaneEndMember)
        ++n;
    return n + 1;
}

const char* ComponentName(const orvane_mesh_builder* b, int32_t i) {
    const char* name = b->componentNames ? b->componentNames[i] : nullptr;
    return name ? name : "";
}

// Byte offsets of the pieces of the vertex-data block.
struct VertexDataPlan {
    size_t type, typeNames, vertices, namePointers, nameTexts, total;
};

VertexDataPlan PlanVertexData(const orvane_mesh_builder* b) {
    VertexDataPlan p{};
    size_t at = Align(sizeof(orvane_vertex_data));
    p.type = at;
    at = Align(at + sizeof(Record) * static_cast<size_t>(LayoutRecords(b->layout)));
    p.typeNames = at;
    for (const Record* m = b->layout; m->Type != OrvaneEndMember; ++m)
        if (m->Name) at += std::strlen(m->Name) + 1;
    at = Align(at);
    p.vertices = at;
    at = Align(at + static_cast<size_t>(b->slotCount) * b->vertexSize);
    p.namePointers = at;
    at = Align(at + sizeof(char*) * static_cast<size_t>(b->componentCount));
    p.nameTexts = at;
    for (int32_t i = 0; i < b->componentCount; ++i)
        at += std::strlen(ComponentName(b, i)) + 1;
    p.total = Align(at);
    return p;
}

struct TopologyPlan {
    size_t groups, indices, vertexToVertex, vertexToTriangle, sides, total;
};

TopologyPlan PlanTopology(const orvane_mesh_builder* b) {
    TopologyPlan p{};
    const size_t slots = static_cast<size_t>(b->slotCount);
    const size_t corners = 3 * static_cast<size_t>(b->triangleCount);
    size_t at = Align(sizeof(orvane_tri_topology));
    p.groups = at;
    at = Align(at + sizeof(orvane_tri_material_group) * static_cast<size_t>(b->usedMaterials));
    p.indices = at;
    at = Align(at + sizeof(int32_t) * corners);
    p.vertexToVertex = at;
    at = Align(at + sizeof(int32_t) * slots);
    p.vertexToTriangle = at;
    at = Align(at + sizeof(int32_t) * slots);
    p.sides = at;
    p.total = Align(at + sizeof(int32_t) * corners);
    return p;
}

int32_t ClampSize(size_t bytes) {
    return bytes > static_cast<size_t>(INT32_MAX) ? 0 : static_cast<int32_t>(bytes);
}

orvane_vertex_data* WriteVertexData(const orvane_mesh_builder* b, void* memory) {
    const VertexDataPlan p = PlanVertexData(b);
    auto* base = static_cast<unsigned char*>(memory);
    std::memset(base, 0, p.total);
    auto* data = reinterpret_cast<orvane_vertex_data*>(base);
    auto* type = reinterpret_cast<Record*>(base + p.type);
    const int32_t records = LayoutRecords(b->layout);
    std::memcpy(static_cast<void*>(type), b->layout, sizeof(Record) * static_cast<size_t>(records));
    // The names travel with the copy, so the vertex data does not depend on the caller's layout.
    char* text = reinterpret_cast<char*>(base + p.typeNames);
    for (int32_t i = 0; i + 1 < records; ++i) {
        if (type[i].Name == nullptr) continue;
        const size_t length = std::strlen(type[i].Name) + 1;
        std::memcpy(text, type[i].Name, length);
        type[i].Name = text;
        text += length;
    }
    data->VertexType = type;
    data->VertexCount = b->slotCount;
    data->Vertices = b->slotCount > 0 ? base + p.vertices : nullptr;
    std::memcpy(base + p.vertices, b->vertices,
                static_cast<size_t>(b->slotCount) * static_cast<size_t>(b->vertexSize));
    data->VertexComponentNameCount = b->componentCount;
    auto** names = reinterpret_cast<char**>(base + p.namePointers);
    data->VertexComponentNames = b->componentCount > 0 ? names : nullptr;
    text = reinterpret_cast<char*>(base + p.nameTexts);
    for (int32_t i = 0; i < b->componentCount; ++i) {
        const char* name = ComponentName(b, i);
        const size_t length = std::strlen(name) + 1;
        std::memcpy(text, name, length);
        names[i] = text;
        text += length;
    }
    return data;
}

// Enters every side under its pair of base vertices and links the sides of each pair into a
// ring of keys (4 x triangle + side): partners name each other, a lone side names itself.
void BuildSideMap(orvane_mesh_builder* b, const int32_t* indices, int32_t triangles,
                  int32_t* sides) {
    if (triangles == 0) return;
    int32_t* table = b->edgeTable;
    const uint64_t mask = static_cast<uint64_t>(b->edgeSlots) - 1;
    SetUInt32(5 * static_cast<size_t>(b->edgeSlots), 0xffffffffu, table);
    for (int32_t t = 0; t < triangles; ++t) {
        int32_t original[3];
        for (int32_t c = 0; c < 3; ++c)
            original[c] = OriginalVertex(b, indices[3 * t + c]);
        for (int32_t s = 0; s < 3; ++s) {
            int32_t lower = original[s], higher = original[(s + 1) % 3];
            if (lower > higher) std::swap(lower, higher);
            // Mixed so that neighbouring vertex numbers do not fill neighbouring slots.
            const uint64_t mixed =
                static_cast<uint64_t>(static_cast<uint32_t>(lower)) * 0x9E3779B97F4A7C15ull ^
                static_cast<uint64_t>(static_cast<uint32_t>(higher)) * 0xC2B2AE3D27D4EB4Full;
            uint64_t at = (mixed >> 20) & mask;
            int32_t head = -1;
            while (table[5 * at + 2] != -1) {
                if (head < 0 && table[5 * at] == lower && table[5 * at + 1] == higher)
                    head = static_cast<int32_t>(at);
                at = (at + 1) & mask;
            }
            b->sideEntries[3 * t + s] = static_cast<int32_t>(at);
            int32_t* entry = table + 5 * at;
            entry[0] = lower;
            entry[1] = higher;
            entry[2] = 4 * t + s;
            entry[3] = -1;
            entry[4] = head >= 0 ? head : static_cast<int32_t>(at);
            if (head >= 0) {
                // Appended at the chain's end, so that the chain keeps the order of entry.
                int32_t tail = head;
                while (table[5 * tail + 3] >= 0)
                    tail = table[5 * tail + 3];
                table[5 * tail + 3] = static_cast<int32_t>(at);
            }
        }
    }
    for (int32_t k = 0; k < 3 * triangles; ++k) {
        const int32_t* entry = table + 5 * static_cast<size_t>(b->sideEntries[k]);
        const int32_t next = entry[3] >= 0 ? entry[3] : entry[4];
        sides[k] = table[5 * static_cast<size_t>(next) + 2];
    }
}

orvane_tri_topology* WriteTopology(orvane_mesh_builder* b, void* memory) {
    const TopologyPlan p = PlanTopology(b);
    auto* base = static_cast<unsigned char*>(memory);
    std::memset(base, 0, p.total);
    auto* topology = reinterpret_cast<orvane_tri_topology*>(base);
    auto* groups = reinterpret_cast<orvane_tri_material_group*>(base + p.groups);
    auto* indices = reinterpret_cast<int32_t*>(base + p.indices);
    auto* vertexToVertex = reinterpret_cast<int32_t*>(base + p.vertexToVertex);
    auto* vertexToTriangle = reinterpret_cast<int32_t*>(base + p.vertexToTriangle);
    auto* sides = reinterpret_cast<int32_t*>(base + p.sides);
    const int32_t triangles = b->triangleCount;

    // Output number of each pushed triangle, kept in the builder's link array once consumed.
    int32_t group = 0, first = 0;
    for (int32_t m = 0; m < b->materialCount; ++m) {
        if (b->materialTriangles[m] == 0) continue;
        groups[group].MaterialIndex = m;
        groups[group].TriFirst = first;
        groups[group].TriCount = b->materialTriangles[m];
        ++group;
        for (int32_t t = b->materialHeads[m]; t >= 0;) {
            const int32_t next = b->triangleLink[t];
            std::memcpy(indices + 3 * first, b->triangleIndices + 3 * t, 3 * sizeof(int32_t));
            b->triangleLink[t] = first++;
            t = next;
        }
    }
    const int32_t slots = b->slotCount;
    for (int32_t s = 0; s < slots; ++s) {
        vertexToVertex[s] = b->coincidentNext[s];
        const int32_t t = b->vertexToTriangle[s];
        vertexToTriangle[s] = (t >= 0 && t < triangles) ? b->triangleLink[t] : -1;
    }
    BuildSideMap(b, indices, triangles, sides);

    topology->GroupCount = b->usedMaterials;
    topology->Groups = b->usedMaterials > 0 ? groups : nullptr;
    topology->IndexCount = 3 * triangles;
    topology->Indices = triangles > 0 ? indices : nullptr;
    topology->VertexToVertexCount = slots;
    topology->VertexToVertexMap = slots > 0 ? vertexToVertex : nullptr;
    topology->VertexToTriangleCount = slots;
    topology->VertexToTriangleMap = slots > 0 ? vertexToTriangle : nullptr;
    topology->SideToNeighborCount = 3 * triangles;
    topology->SideToNeighborMap = triangles > 0 ? sides : nullptr;
    return topology;
}

bool PointerAligned(const void* memory) {
    return memory != nullptr && reinterpret_cast<uintptr_t>(memory) % alignof(void*) == 0;
}

}  // namespace
}  // namespace orvane

extern "C" {

ORVANE_API orvane_int32 OrvaneGetResultingVertexDataSize(const orvane_mesh_builder* Builder) {
    return Builder ? orvane::ClampSize(orvane::PlanVertexData(Builder).total) : 0;
}

ORVANE_API orvane_int32 OrvaneGetResultingTopologySize(const orvane_mesh_builder* Builder) {
    return Builder ? orvane::ClampSize(orvane::PlanTopology(Builder).total) : 0;
}

ORVANE_API void OrvaneEndMeshInPlace(orvane_mesh_builder* Builder, void* VertexDataMemory,
                                     orvane_vertex_data** VertexData, void* TopologyMemory,
                                     orvane_tri_topology** Topology) {
    if (VertexData) *VertexData = nullptr;
    if (Topology) *Topology = nullptr;
    if (Builder == nullptr) return;
    if (VertexDataMemory && !orvane::PointerAligned(VertexDataMemory))
        ORVANE_LOG_ERROR(OrvaneVertexLayoutOrigin, "VertexDataMemory is not pointer-aligned");
    if (TopologyMemory && !orvane::PointerAligned(TopologyMemory))
        ORVANE_LOG_ERROR(OrvaneVertexLayoutOrigin, "TopologyMemory is not pointer-aligned");
    if (VertexData && orvane::PointerAligned(VertexDataMemory))
        *VertexData = orvane::WriteVertexData(Builder, VertexDataMemory);
    if (Topology && orvane::PointerAligned(TopologyMemory))
        *Topology = orvane::WriteTopology(Builder, TopologyMemory);
    orvane::FreeMeshBuilder(Builder);
}

ORVANE_API orvane_bool OrvaneEndMesh(orvane_mesh_builder* Builder, orvane_vertex_data** VertexData,
                                     orvane_tri_topology** Topology) {
    if (VertexData) *VertexData = nullptr;
    if (Topology) *Topology = nullptr;
    if (Builder == nullptr) return false;
    if (VertexData == nullptr || Topology == nullptr) {
        ORVANE_LOG_ERROR(OrvaneVertexLayoutOrigin, "Both outputs are needed to end a mesh");
        orvane::FreeMeshBuilder(Builder);
        return false;
    }
    const int32_t dataSize = OrvaneGetResultingVertexDataSize(Builder);
    const int32_t topologySize = OrvaneGetResultingTopologySize(Builder);
    void* dataMemory = dataSize > 0 ? ORVANE_ALLOCATE(alignof(void*), dataSize) : nullptr;
    void* topologyMemory =
        topologySize > 0 ? ORVANE_ALLOCATE(alignof(void*), topologySize) : nullptr;
    if (dataMemory == nullptr || topologyMemory == nullptr) {
        ORVANE_DEALLOCATE(dataMemory);
        ORVANE_DEALLOCATE(topologyMemory);
        orvane::FreeMeshBuilder(Builder);
        return false;
    }
    OrvaneEndMeshInPlace(Builder, dataMemory, VertexData, topologyMemory, Topology);
    return true;
}

}  // extern "C"

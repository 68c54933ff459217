// Meshes and topologies: read-only queries of loaded meshes, copying vertices and indices in
// the caller's layout and width, index conversion, winding inversion, material remapping and
// the bounding-box transform. No state; every operation is reentrant.
#include <cstring>

#include "core/orvane_log.h"
#include "core/orvane_private.h"
#include "orvane/mesh.h"

namespace {

// The vertex data of a morph target (may be null); an index outside the targets is an error.
const orvane_vertex_data* MorphVertexData(const orvane_mesh* mesh, orvane_int32 index,
                                          bool* inRange = nullptr) {
    const int32_t count = mesh ? mesh->MorphTargetCount : 0;
    if (index < 0 || index >= count || mesh->MorphTargets == nullptr) {
        ORVANE_LOG_ERROR(OrvaneMeshOrigin, "MorphTargetIndex %d is out of range [0, %d)",
                         static_cast<int>(index), static_cast<int>(count));
        return nullptr;
    }
    if (inRange) *inRange = true;
    return mesh->MorphTargets[index].VertexData;
}

const orvane_tri_topology* Topology(const orvane_mesh* mesh) {
    return mesh ? mesh->PrimaryTopology : nullptr;
}

bool Has32BitIndices(const orvane_tri_topology* topology) {
    return topology->IndexCount > 0 && topology->Indices != nullptr;
}

bool Has16BitIndices(const orvane_tri_topology* topology) {
    return topology->Index16Count > 0 && topology->Indices16 != nullptr;
}

void CopyVertexData(const orvane_mesh* mesh, const orvane_vertex_data* data,
                    const orvane_data_type_definition* destType, void* dest) {
    if (data == nullptr || data->VertexCount <= 0 || data->Vertices == nullptr) {
        ORVANE_LOG_ERROR(OrvaneMeshOrigin, "Mesh \"%s\" has no vertices.",
                         mesh && mesh->Name ? mesh->Name : "");
        return;
    }
    OrvaneConvertVertexLayouts(data->VertexCount, data->VertexType, data->Vertices, destType, dest);
}

uint32_t ReadIndex(int32_t width, const unsigned char* at) {
    switch (width) {
        case 1:
            return *at;
        case 2: {
            uint16_t v;
            std::memcpy(&v, at, 2);
            return v;
        }
        default: {
            uint32_t v;
            std::memcpy(&v, at, 4);
            return v;
        }
    }
}

void WriteIndex(int32_t width, unsigned char* at, uint32_t value) {
    switch (width) {
        case 1:
            *at = static_cast<unsigned char>(value);
            break;
        case 2: {
            const uint16_t v = static_cast<uint16_t>(value);
            std::memcpy(at, &v, 2);
            break;
        }
        default:
            std::memcpy(at, &value, 4);
            break;
    }
}

template <typename T>
void SwapTriangleCorners(int32_t count, T* indices) {
    if (indices == nullptr || count < 3) return;
    for (int32_t i = 0; i + 3 <= count; i += 3) {
        const T first = indices[i];
        indices[i] = indices[i + 2];
        indices[i + 2] = first;
    }
}

// After the swap, old side 0 is new side 1 and the reverse; side 2 stays.
int32_t SwapSideBits(int32_t entry) {
    const int32_t side = entry & 3;
    if (side == 0) return (entry & ~3) | 1;
    if (side == 1) return entry & ~3;
    return entry;
}

}  // namespace

extern "C" {

ORVANE_API orvane_int32 OrvaneGetMeshMorphTargetCount(const orvane_mesh* Mesh) {
    return Mesh ? Mesh->MorphTargetCount : 0;
}

ORVANE_API orvane_int32 OrvaneGetMeshTriangleGroupCount(const orvane_mesh* Mesh) {
    const orvane_tri_topology* topology = Topology(Mesh);
    return topology ? topology->GroupCount : 0;
}

ORVANE_API orvane_tri_material_group* OrvaneGetMeshTriangleGroups(const orvane_mesh* Mesh) {
    const orvane_tri_topology* topology = Topology(Mesh);
    return topology ? topology->Groups : nullptr;
}

ORVANE_API orvane_data_type_definition* OrvaneGetMeshVertexType(const orvane_mesh* Mesh) {
    return Mesh && Mesh->PrimaryVertexData ? Mesh->PrimaryVertexData->VertexType : nullptr;
}

ORVANE_API orvane_int32 OrvaneGetMeshVertexCount(const orvane_mesh* Mesh) {
    return Mesh && Mesh->PrimaryVertexData ? Mesh->PrimaryVertexData->VertexCount : 0;
}

ORVANE_API void* OrvaneGetMeshVertices(const orvane_mesh* Mesh) {
    return Mesh && Mesh->PrimaryVertexData ? Mesh->PrimaryVertexData->Vertices : nullptr;
}

ORVANE_API orvane_data_type_definition* OrvaneGetMeshMorphVertexType(
    const orvane_mesh* Mesh, orvane_int32 MorphTargetIndex) {
    const orvane_vertex_data* data = MorphVertexData(Mesh, MorphTargetIndex);
    return data ? data->VertexType : nullptr;
}

ORVANE_API orvane_int32 OrvaneGetMeshMorphVertexCount(const orvane_mesh* Mesh,
                                                      orvane_int32 MorphTargetIndex) {
    const orvane_vertex_data* data = MorphVertexData(Mesh, MorphTargetIndex);
    return data ? data->VertexCount : 0;
}

ORVANE_API void* OrvaneGetMeshMorphVertices(const orvane_mesh* Mesh,
                                            orvane_int32 MorphTargetIndex) {
    const orvane_vertex_data* data = MorphVertexData(Mesh, MorphTargetIndex);
    return data ? data->Vertices : nullptr;
}

ORVANE_API void OrvaneCopyMeshVertices(const orvane_mesh* Mesh,
                                       const orvane_data_type_definition* DestType, void* Dest) {
    CopyVertexData(Mesh, Mesh ? Mesh->PrimaryVertexData : nullptr, DestType, Dest);
}

ORVANE_API void OrvaneCopyMeshMorphVertices(const orvane_mesh* Mesh, orvane_int32 MorphTargetIndex,
                                            const orvane_data_type_definition* DestType,
                                            void* Dest) {
    bool inRange = false;
    const orvane_vertex_data* data = MorphVertexData(Mesh, MorphTargetIndex, &inRange);
    if (inRange) CopyVertexData(Mesh, data, DestType, Dest);
}

ORVANE_API orvane_bool OrvaneMeshIsRigid(const orvane_mesh* Mesh) {
    return Mesh == nullptr || Mesh->BoneBindingCount < 2;
}

ORVANE_API orvane_int32 OrvaneGetMeshIndexCount(const orvane_mesh* Mesh) {
    const orvane_tri_topology* topology = Topology(Mesh);
    if (topology == nullptr) return 0;
    if (Has32BitIndices(topology)) return topology->IndexCount;
    return Has16BitIndices(topology) ? topology->Index16Count : 0;
}

ORVANE_API orvane_int32 OrvaneGetMeshTriangleCount(const orvane_mesh* Mesh) {
    return OrvaneGetMeshIndexCount(Mesh) / 3;
}

ORVANE_API orvane_int32 OrvaneGetMeshBytesPerIndex(const orvane_mesh* Mesh) {
    const orvane_tri_topology* topology = Topology(Mesh);
    if (topology == nullptr) return 0;
    if (Has32BitIndices(topology)) return 4;
    return Has16BitIndices(topology) ? 2 : 0;
}

ORVANE_API void* OrvaneGetMeshIndices(const orvane_mesh* Mesh) {
    const orvane_tri_topology* topology = Topology(Mesh);
    if (topology == nullptr) return nullptr;
    if (Has32BitIndices(topology)) return topology->Indices;
    return Has16BitIndices(topology) ? topology->Indices16 : nullptr;
}

ORVANE_API void OrvaneCopyMeshIndices(const orvane_mesh* Mesh, orvane_int32 BytesPerIndex,
                                      void* Dest) {
    const int32_t from = OrvaneGetMeshBytesPerIndex(Mesh);
    if (from == 0) {
        ORVANE_LOG_ERROR(OrvaneMeshOrigin, "Mesh \"%s\" has no indices.",
                         Mesh && Mesh->Name ? Mesh->Name : "");
        return;
    }
    OrvaneConvertIndices(OrvaneGetMeshIndexCount(Mesh), from, OrvaneGetMeshIndices(Mesh),
                         BytesPerIndex, Dest);
}

ORVANE_API void OrvaneInvertTriTopologyWinding(orvane_tri_topology* Topology) {
    if (Topology == nullptr) return;
    SwapTriangleCorners(Topology->IndexCount, Topology->Indices);
    SwapTriangleCorners(Topology->Index16Count, Topology->Indices16);
    int32_t* sides = Topology->SideToNeighborMap;
    const int32_t count = Topology->SideToNeighborCount;
    if (sides == nullptr || count < 3) return;
    for (int32_t i = 0; i + 3 <= count; i += 3) {
        const int32_t side0 = sides[i];
        sides[i] = SwapSideBits(sides[i + 1]);
        sides[i + 1] = SwapSideBits(side0);
        sides[i + 2] = SwapSideBits(sides[i + 2]);
    }
}

ORVANE_API void OrvaneRemapTopologyMaterials(orvane_tri_topology* Topology, orvane_int32 RemapCount,
                                             const orvane_int32* Remap) {
    if (Topology == nullptr || Topology->Groups == nullptr) return;
    for (int32_t g = 0; g < Topology->GroupCount; ++g) {
        orvane_tri_material_group& group = Topology->Groups[g];
        if (Remap && group.MaterialIndex >= 0 && group.MaterialIndex < RemapCount) {
            group.MaterialIndex = Remap[group.MaterialIndex];
        } else {
            ORVANE_LOG_WARNING(OrvaneMeshOrigin,
                               "tri_topology material group had out-of-range index %d during "
                               "remapping",
                               static_cast<int>(group.MaterialIndex));
        }
    }
}

ORVANE_API void OrvaneConvertIndices(orvane_int32 IndexCount, orvane_int32 FromBytesPerIndex,
                                     const void* FromIndices, orvane_int32 ToBytesPerIndex,
                                     void* ToIndices) {
    auto legal = [](int32_t width) { return width == 1 || width == 2 || width == 4; };
    if (!legal(FromBytesPerIndex)) {
        ORVANE_LOG_ERROR(OrvaneMeshOrigin, "Illegal value for FromBytesPerIndex (%d)",
                         static_cast<int>(FromBytesPerIndex));
        return;
    }
    if (!legal(ToBytesPerIndex)) {
        ORVANE_LOG_ERROR(OrvaneMeshOrigin, "Illegal value for ToBytesPerIndex (%d)",
                         static_cast<int>(ToBytesPerIndex));
        return;
    }
    if (IndexCount <= 0 || FromIndices == nullptr || ToIndices == nullptr) return;
    const auto* from = static_cast<const unsigned char*>(FromIndices);
    auto* to = static_cast<unsigned char*>(ToIndices);
    if (FromBytesPerIndex == ToBytesPerIndex) {
        std::memmove(to, from, static_cast<size_t>(IndexCount) * FromBytesPerIndex);
        return;
    }
    for (int32_t i = 0; i < IndexCount; ++i)
        WriteIndex(ToBytesPerIndex, to + static_cast<size_t>(i) * ToBytesPerIndex,
                   ReadIndex(FromBytesPerIndex, from + static_cast<size_t>(i) * FromBytesPerIndex));
}

ORVANE_API void OrvaneTransformBoundingBox(const orvane_real32 Affine3[3],
                                           const orvane_real32 Linear3x3[9], orvane_real32 Min[3],
                                           orvane_real32 Max[3]) {
    if (Affine3 == nullptr || Linear3x3 == nullptr || Min == nullptr || Max == nullptr) return;
    float lo[3] = {3.4028235e38f, 3.4028235e38f, 3.4028235e38f};
    float hi[3] = {-3.4028235e38f, -3.4028235e38f, -3.4028235e38f};
    const float* L = Linear3x3;
    for (int iz = 0; iz < 2; ++iz)
        for (int iy = 0; iy < 2; ++iy)
            for (int ix = 0; ix < 2; ++ix) {
                const float p[3] = {ix ? Max[0] : Min[0], iy ? Max[1] : Min[1],
                                    iz ? Max[2] : Min[2]};
                for (int i = 0; i < 3; ++i) {
                    const float q =
                        L[3 * i] * p[0] + L[3 * i + 1] * p[1] + L[3 * i + 2] * p[2] + Affine3[i];
                    if (q < lo[i]) lo[i] = q;
                    if (q > hi[i]) hi[i] = q;
                }
            }
    for (int i = 0; i < 3; ++i) {
        Min[i] = lo[i];
        Max[i] = hi[i];
    }
}

}  // extern "C"

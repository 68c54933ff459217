// The mesh builder's record, shared by the module that welds corners and the one that ends a
// mesh into vertex data and a topology.
#ifndef ORVANE_MESH_BUILDER_H
#define ORVANE_MESH_BUILDER_H

#include <cstddef>
#include <cstdint>

#include "core/orvane_private.h"
#include "orvane/mesh.h"
#include "orvane/mesh_builder.h"

namespace orvane {

constexpr int32_t kMaxBuilderChannels = 256;
// Reals of the corner record before the channels: normal, tangent, binormal, cross.
constexpr int32_t kCornerSpatialReals = 12;
// Slots beyond the base vertices that no triangle has made yet.
constexpr int32_t kUnusedSlot = static_cast<int32_t>(0xbaadf00bu);

// Where a run of reals lives in a vertex: a byte offset, or -1 when the layout lacks it.
struct RealField {
    int32_t offset;
    int32_t width;
};

enum ToleranceIndex { kNormalTolerance, kTangentTolerance, kBinormalTolerance, kCrossTolerance };

}  // namespace orvane

struct orvane_mesh_builder {
    float tolerances[4];
    float mergingTolerance;
    float channelTolerances[orvane::kMaxBuilderChannels];

    const orvane_data_type_definition* layout;
    int32_t vertexSize;
    int32_t layoutBones;  // bones per vertex
    int32_t channelCount;
    int32_t componentCount;

    int32_t baseCount;         // V
    int32_t triangleCapacity;  // T
    int32_t materialCount;     // M
    int32_t boneCount;         // B

    unsigned char* vertices;  // slotCapacity slots of vertexSize bytes
    int32_t slotCapacity;
    int32_t slotCount;
    int32_t basePushed;
    int32_t* coincidentNext;
    int32_t* vertexToTriangle;

    float pendingPosition[3];
    float* pendingWeights;  // boneCount reals
    // The selected influences of a pushed vertex: layoutBones weights, then as many bone indices,
    // described by weightsType (the bone-count prefix of the 256-wide weight intermediate).
    uint32_t* weightWords;
    orvane_data_type_definition weightsType[3];
    unsigned char* emptyVertex;  // the layout's empty object, the start of every base vertex
    orvane::RealField positionField;
    bool directPosition;
    const orvane_data_type_definition* weightsMember;  // "BoneWeights", or null
    int32_t weightsOffset;

    int32_t* triangleIndices;  // 3 per triangle, in push order
    int32_t* triangleLink;     // next triangle of the same material
    int32_t* materialHeads;
    int32_t* materialTriangles;
    int32_t currentMaterial;
    int32_t usedMaterials;
    int32_t triangleCount;

    // The corner layout: normal, tangent, binormal, cross, then each channel as reals.
    orvane_data_type_definition* cornerLayout;
    int32_t cornerReals;
    int32_t* channelFirst;  // real index of each channel in the corner record
    int32_t* channelWidth;
    orvane_int32 pendingBase[3];
    float* pendingCorners;  // 3 corner records
    // Each slot's corner data at the layout's precision, for matching without conversion.
    float* slotCorners;
    bool slotCornersStale;
    // True when the corner members are absent from the layout or real with the corner's width:
    // the round trip through the layout is then a copy, and merging writes reals in place.
    bool directCorners;
    orvane::RealField* cornerFields;  // one per corner member
    unsigned char* scratchVertex;     // per builder, so builders on other threads never share it

    // Side adjacency: an open-addressed table of 5 words per entry (lower, higher, key, next,
    // head) with room for twice the sides, and each side's entry.
    int32_t* edgeTable;
    int32_t edgeSlots;
    int32_t* sideEntries;

    const char** componentNames;  // componentCount copied texts (null entries allowed), or null
};

namespace orvane {

// The base vertex a slot in use was made from (follows the ring; bounded by the slot count).
int32_t OriginalVertex(const orvane_mesh_builder* builder, int32_t slot);
// Releases the builder's arrays and record.
void FreeMeshBuilder(orvane_mesh_builder* builder);

}  // namespace orvane

#endif  // ORVANE_MESH_BUILDER_H

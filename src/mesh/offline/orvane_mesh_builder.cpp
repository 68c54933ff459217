// The mesh builder: base vertices with their bone weights, then triangles whose corners are
// welded into vertices of the requested layout. A corner joins the first vertex of its base
// vertex's coincident ring that agrees with it within every tolerance, or adds a vertex to the
// ring. Triangles are listed per material; tangent frames can be generated once all triangles
// are in. Ending the mesh (vertex data, topology, adjacency) lives in orvane_mesh_builder_end.
//
// Corners are compared against a copy of each slot's corner data at the layout's precision, so
// matching reads reals even when the layout quantises; for layouts whose corner members are
// plain reals (the usual case) no conversion runs per corner at all.
#include "mesh/offline/orvane_mesh_builder.h"

#include <cmath>
#include <cstring>

#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "mesh/offline/orvane_tangent_space.h"
#include "types/orvane_convert.h"
#include "types/orvane_type_layout.h"

namespace orvane {
namespace {

using Record = orvane_data_type_definition;

constexpr float kDefaultTolerance = 0.001f;
constexpr float kDefaultMergingTolerance = 0.25f;
const char* const kCornerSpatialNames[4] = {"Normal", "Tangent", "Binormal",
                                            "TangentBinormalCross"};

int32_t MemberOffset(const Record* layout, const Record* member) {
    int32_t offset = 0;
    for (const Record* m = layout; m != member; ++m)
        offset += OrvaneGetMemberTypeSize(m);
    return offset;
}

// The first member conversion would match with `name`, or null.
const Record* FirstMatch(const Record* layout, const char* name) {
    for (const Record* m = layout; m->Type != OrvaneEndMember; ++m)
        if (m->Name && ConversionNamesMatch(m->Name, name)) return m;
    return nullptr;
}

// False when the layout holds the member in a form other than `width` reals.
bool PlanRealField(const Record* layout, const char* name, int32_t width, RealField* field) {
    const Record* member = FirstMatch(layout, name);
    field->offset = -1;
    field->width = width;
    if (member == nullptr) return true;
    if (member->Type != OrvaneReal32Member || OrvaneGetMemberArrayWidth(member) != width)
        return false;
    field->offset = MemberOffset(layout, member);
    return true;
}

bool BuilderIsUsable(const orvane_mesh_builder* builder, const char* operation) {
    if (builder != nullptr) return true;
    ORVANE_LOG_ERROR(OrvaneVertexLayoutOrigin, "%s: Builder is not allowed to be 0", operation);
    return false;
}

bool CornerIsUsable(int32_t corner) {
    if (corner >= 0 && corner < 3) return true;
    ORVANE_LOG_ERROR(OrvaneVertexLayoutOrigin, "Corner %d is out of range [0, 3)",
                     static_cast<int>(corner));
    return false;
}

bool ChannelIsUsable(const orvane_mesh_builder* builder, int32_t channel) {
    if (channel >= 0 && channel < builder->channelCount) return true;
    ORVANE_LOG_ERROR(OrvaneVertexLayoutOrigin, "Channel %d is out of range [0, %d)",
                     static_cast<int>(channel), static_cast<int>(builder->channelCount));
    return false;
}

inline float* PendingCorner(orvane_mesh_builder* b, int32_t corner) {
    return b->pendingCorners + static_cast<size_t>(corner) * b->cornerReals;
}
inline unsigned char* Slot(const orvane_mesh_builder* b, int32_t slot) {
    return b->vertices + static_cast<size_t>(slot) * b->vertexSize;
}
inline float* SlotCorner(const orvane_mesh_builder* b, int32_t slot) {
    return b->slotCorners + static_cast<size_t>(slot) * b->cornerReals;
}

void ClearPendingVertex(orvane_mesh_builder* b) {
    b->pendingPosition[0] = b->pendingPosition[1] = b->pendingPosition[2] = 0;
    std::memset(b->pendingWeights, 0, sizeof(float) * static_cast<size_t>(b->boneCount));
}

void ClearPendingTriangle(orvane_mesh_builder* b) {
    b->pendingBase[0] = b->pendingBase[1] = b->pendingBase[2] = -1;
    std::memset(b->pendingCorners, 0, sizeof(float) * 3 * static_cast<size_t>(b->cornerReals));
}

void SetSpatial(orvane_mesh_builder* b, int32_t corner, int32_t which, float x, float y, float z) {
    if (!BuilderIsUsable(b, "Setting a corner") || !CornerIsUsable(corner)) return;
    float* at = PendingCorner(b, corner) + 3 * which;
    at[0] = x;
    at[1] = y;
    at[2] = z;
}

// Describes the corner record: four spatial triples, then each channel member as reals.
bool BuildCornerLayout(orvane_mesh_builder* b) {
    const int32_t records = 4 + b->channelCount + 1;
    b->cornerLayout = ORVANE_ALLOCATE_ARRAY(Record, records);
    b->channelFirst = ORVANE_ALLOCATE_ARRAY(int32_t, b->channelCount + 1);
    b->channelWidth = ORVANE_ALLOCATE_ARRAY(int32_t, b->channelCount + 1);
    b->cornerFields = ORVANE_ALLOCATE_ARRAY(RealField, 4 + b->channelCount);
    if (!b->cornerLayout || !b->channelFirst || !b->channelWidth || !b->cornerFields) return false;
    Record* out = b->cornerLayout;
    for (const char* name : kCornerSpatialNames)
        *out++ = MemberRecord(OrvaneReal32Member, name, nullptr, 3);
    int32_t reals = kCornerSpatialReals, channel = 0;
    for (const Record* m = b->layout; m->Type != OrvaneEndMember; ++m) {
        if (OrvaneIsSpatialVertexMember(m->Name)) continue;
        const int32_t width = OrvaneGetMemberArrayWidth(m);
        *out++ = MemberRecord(OrvaneReal32Member, m->Name, nullptr, width);
        b->channelFirst[channel] = reals;
        b->channelWidth[channel] = width;
        reals += width;
        ++channel;
    }
    *out = EndRecord();
    b->cornerReals = reals;
    b->directCorners = true;
    for (int32_t i = 0; i < 4 + b->channelCount; ++i)
        b->directCorners &=
            PlanRealField(b->layout, b->cornerLayout[i].Name,
                          OrvaneGetMemberArrayWidth(&b->cornerLayout[i]), &b->cornerFields[i]);
    return true;
}

bool AllocateArrays(orvane_mesh_builder* b) {
    const int64_t slots = 4 * int64_t{b->baseCount} + 12 * int64_t{b->triangleCapacity};
    if (slots > INT32_MAX || static_cast<int64_t>(slots) * b->vertexSize > INT32_MAX ||
        12 * int64_t{b->triangleCapacity} > INT32_MAX / 5) {
        ORVANE_LOG_ERROR(OrvaneVertexLayoutOrigin,
                         "A mesh of %d vertices and %d triangles is too large to build",
                         static_cast<int>(b->baseCount), static_cast<int>(b->triangleCapacity));
        return false;
    }
    b->slotCapacity = static_cast<int32_t>(slots);
    // A power of two of at least twice the sides keeps probe runs short; the chains, and so the
    // side map, depend neither on the table's size nor on where a pair starts probing.
    b->edgeSlots = 1;
    while (b->edgeSlots < 6 * b->triangleCapacity)
        b->edgeSlots *= 2;
    if (!BuildCornerLayout(b)) return false;
    b->vertices = static_cast<unsigned char*>(
        ORVANE_ALLOCATE(16, static_cast<size_t>(slots) * b->vertexSize + 1));
    b->coincidentNext = ORVANE_ALLOCATE_ARRAY(int32_t, slots + 1);
    b->vertexToTriangle = ORVANE_ALLOCATE_ARRAY(int32_t, slots + 1);
    b->pendingWeights = ORVANE_ALLOCATE_ARRAY(float, b->boneCount + 1);
    b->weightWords = ORVANE_ALLOCATE_ARRAY(uint32_t, 2 * int64_t{b->layoutBones} + 1);
    b->emptyVertex = static_cast<unsigned char*>(ORVANE_ALLOCATE(16, b->vertexSize + 16));
    b->sideEntries = ORVANE_ALLOCATE_ARRAY(int32_t, 3 * int64_t{b->triangleCapacity} + 1);
    b->triangleIndices = ORVANE_ALLOCATE_ARRAY(int32_t, 3 * int64_t{b->triangleCapacity} + 1);
    b->triangleLink = ORVANE_ALLOCATE_ARRAY(int32_t, b->triangleCapacity + 1);
    b->materialHeads = ORVANE_ALLOCATE_ARRAY(int32_t, b->materialCount + 1);
    b->materialTriangles = ORVANE_ALLOCATE_ARRAY(int32_t, b->materialCount + 1);
    b->pendingCorners = ORVANE_ALLOCATE_ARRAY(float, 3 * int64_t{b->cornerReals});
    b->slotCorners = ORVANE_ALLOCATE_ARRAY(float, slots * b->cornerReals + 1);
    b->scratchVertex = static_cast<unsigned char*>(ORVANE_ALLOCATE(16, b->vertexSize + 16));
    b->edgeTable = ORVANE_ALLOCATE_ARRAY(int32_t, 5 * int64_t{b->edgeSlots} + 1);
    return b->vertices && b->coincidentNext && b->vertexToTriangle && b->pendingWeights &&
           b->weightWords && b->emptyVertex && b->sideEntries && b->triangleIndices &&
           b->triangleLink && b->materialHeads && b->materialTriangles && b->pendingCorners &&
           b->slotCorners && b->scratchVertex && b->edgeTable;
}

// Keeps the n heaviest bones (a later bone passes a listed one only when strictly heavier),
// normalised.
void SelectWeights(orvane_mesh_builder* b) {
    const int32_t n = b->layoutBones;
    float* weights = reinterpret_cast<float*>(b->weightWords);
    uint32_t* bones = b->weightWords + n;
    std::memset(b->weightWords, 0, sizeof(uint32_t) * 2 * static_cast<size_t>(n));
    for (int32_t bone = 0; bone < b->boneCount; ++bone) {
        const float weight = b->pendingWeights[bone];
        if (n == 0 || !(weight > weights[n - 1])) continue;  // lighter than every listed one
        int32_t place = 0;
        while (place < n && !(weight > weights[place]))
            ++place;
        if (place >= n) continue;
        for (int32_t i = n - 1; i > place; --i) {
            weights[i] = weights[i - 1];
            bones[i] = bones[i - 1];
        }
        weights[place] = weight;
        bones[place] = static_cast<uint32_t>(bone);
    }
    float sum = 0;
    for (int32_t i = 0; i < n; ++i)
        sum += weights[i];
    if (n > 0 && std::isinf(sum)) {
        // Weights too large to sum (or infinite ones): bring them to the scale of the heaviest
        // first, an infinite weight counting as 1 and every finite one beside it as 0.
        const float heaviest = weights[0];
        sum = 0;
        for (int32_t i = 0; i < n; ++i) {
            weights[i] = std::isinf(heaviest) ? (std::isinf(weights[i]) ? 1.0f : 0.0f)
                                              : weights[i] / heaviest;
            sum += weights[i];
        }
    }
    if (sum > 0) {
        for (int32_t i = 0; i < n; ++i)
            weights[i] /= sum;
    } else if (n > 0) {
        weights[0] = 1;
    }
}

// Brings a corner record to the layout's precision.
void RoundCorner(orvane_mesh_builder* b, float* corner) {
    if (b->directCorners) {
        for (int32_t i = 0, real = 0; i < 4 + b->channelCount; ++i) {
            const RealField& f = b->cornerFields[i];
            if (f.offset < 0) std::memset(corner + real, 0, sizeof(float) * f.width);
            real += f.width;
        }
        return;
    }
    OrvaneConvertSingleObject(b->cornerLayout, corner, b->layout, b->scratchVertex);
    OrvaneConvertSingleObject(b->layout, b->scratchVertex, b->cornerLayout, corner);
}

void MergeCorner(orvane_mesh_builder* b, const float* corner, unsigned char* slot) {
    if (b->directCorners) {
        for (int32_t i = 0, real = 0; i < 4 + b->channelCount; ++i) {
            const RealField& f = b->cornerFields[i];
            if (f.offset >= 0) std::memcpy(slot + f.offset, corner + real, sizeof(float) * f.width);
            real += f.width;
        }
        return;
    }
    OrvaneMergeSingleObject(b->cornerLayout, corner, b->layout, slot);
}

inline bool Within(const float* a, const float* c, int32_t width, float tolerance) {
    float sum = 0;
    for (int32_t i = 0; i < width; ++i) {
        const float d = a[i] - c[i];
        sum += d * d;
    }
    return sum <= tolerance * tolerance;
}

bool CornersMatch(const orvane_mesh_builder* b, const float* slot, const float* corner) {
    for (int32_t i = 0; i < 4; ++i)
        if (!Within(slot + 3 * i, corner + 3 * i, 3, b->tolerances[i])) return false;
    for (int32_t c = 0; c < b->channelCount; ++c) {
        const float tolerance =
            c < kMaxBuilderChannels ? b->channelTolerances[c] : kDefaultTolerance;
        const int32_t first = b->channelFirst[c];
        if (!Within(slot + first, corner + first, b->channelWidth[c], tolerance)) return false;
    }
    return true;
}

// After tangent generation the slots' corner copies are re-read from the vertices.
void RefreshSlotCorners(orvane_mesh_builder* b) {
    for (int32_t s = 0; s < b->slotCount; ++s)
        OrvaneConvertSingleObject(b->layout, Slot(b, s), b->cornerLayout, SlotCorner(b, s));
    b->slotCornersStale = false;
}

// The slot the corner welds into (made when no ring member matches); -1 when the store is full.
int32_t WeldCorner(orvane_mesh_builder* b, int32_t base, const float* corner, int32_t triangle) {
    int32_t slot;
    if (b->coincidentNext[base] == -1) {
        slot = base;
        b->coincidentNext[base] = base;
    } else {
        int32_t last = base, s = base;
        for (int32_t steps = 0; steps <= b->slotCount; ++steps) {
            if (CornersMatch(b, SlotCorner(b, s), corner)) return s;
            last = s;
            s = b->coincidentNext[s];
            if (s == base || s < 0 || s >= b->slotCount) break;
        }
        if (b->slotCount >= b->slotCapacity) return -1;
        slot = b->slotCount++;
        std::memcpy(Slot(b, slot), Slot(b, base), static_cast<size_t>(b->vertexSize));
        b->coincidentNext[slot] = b->coincidentNext[last];
        b->coincidentNext[last] = slot;
    }
    MergeCorner(b, corner, Slot(b, slot));
    std::memcpy(SlotCorner(b, slot), corner, sizeof(float) * static_cast<size_t>(b->cornerReals));
    b->vertexToTriangle[slot] = triangle;
    return slot;
}

// Writes each slot's frame (tangent, binormal, and the normal as the cross member).
void WriteFrames(orvane_mesh_builder* b, const float* frames) {
    RealField fields[3];
    bool direct = true;
    for (int32_t i = 0; i < 3; ++i)
        direct &= PlanRealField(b->layout, kCornerSpatialNames[i + 1], 3, &fields[i]);
    for (int32_t s = 0; s < b->slotCount; ++s) {
        const float* frame = frames ? frames + 9 * static_cast<size_t>(s) : nullptr;
        orvane_gbx333_vertex value = {};
        if (frame) std::memcpy(&value, frame, sizeof(value));
        if (direct) {
            for (int32_t i = 0; i < 3; ++i)
                if (fields[i].offset >= 0)
                    std::memcpy(Slot(b, s) + fields[i].offset,
                                frame ? frame + 3 * i : value.Tangent, 3 * sizeof(float));
        } else {
            OrvaneMergeSingleObject(OrvaneGBX333VertexType, &value, b->layout, Slot(b, s));
        }
    }
}

}  // namespace

int32_t OriginalVertex(const orvane_mesh_builder* b, int32_t slot) {
    int32_t s = slot;
    for (int32_t steps = 0; s >= b->baseCount && steps <= b->slotCount; ++steps) {
        const int32_t next = b->coincidentNext[s];
        if (next < 0 || next >= b->slotCount) return -1;
        s = next;
    }
    return s < b->baseCount ? s : -1;
}

void FreeMeshBuilder(orvane_mesh_builder* b) {
    if (b == nullptr) return;
    void* arrays[] = {b->cornerLayout, b->channelFirst,   b->channelWidth,      b->cornerFields,
                      b->vertices,     b->coincidentNext, b->vertexToTriangle,  b->pendingWeights,
                      b->weightWords,  b->emptyVertex,    b->sideEntries,       b->triangleIndices,
                      b->triangleLink, b->materialHeads,  b->materialTriangles, b->pendingCorners,
                      b->slotCorners,  b->scratchVertex,  b->edgeTable,         b->componentNames};
    for (void* array : arrays)
        ORVANE_DEALLOCATE(array);
    ORVANE_DEALLOCATE(b);
}

}  // namespace orvane

using orvane::BuilderIsUsable;

extern "C" {

ORVANE_API orvane_mesh_builder* OrvaneBeginMesh(orvane_int32 VertexCount,
                                                orvane_int32 TriangleCount,
                                                orvane_int32 MaterialCount, orvane_int32 BoneCount,
                                                const orvane_data_type_definition* VertexLayout) {
    ORVANE_CHECK_NOT_NULL(OrvaneVertexLayoutOrigin, VertexLayout, nullptr);
    if (VertexCount < 0 || TriangleCount < 0 || MaterialCount < 0 || BoneCount < 0) {
        ORVANE_LOG_ERROR(OrvaneVertexLayoutOrigin,
                         "A mesh needs non-negative counts (vertices %d, triangles %d, materials "
                         "%d, bones %d)",
                         static_cast<int>(VertexCount), static_cast<int>(TriangleCount),
                         static_cast<int>(MaterialCount), static_cast<int>(BoneCount));
        return nullptr;
    }
    const int32_t layoutBones = OrvaneGetVertexBoneCount(VertexLayout);
    if (layoutBones > ORVANE_MAX_BONES_PER_VERTEX) {
        ORVANE_LOG_ERROR(OrvaneVertexLayoutOrigin,
                         "A vertex layout of %d bones per vertex is more than the %d a builder "
                         "can weigh",
                         static_cast<int>(layoutBones),
                         static_cast<int>(ORVANE_MAX_BONES_PER_VERTEX));
        return nullptr;
    }
    auto* b = ORVANE_ALLOCATE_ARRAY(orvane_mesh_builder, 1);
    if (b == nullptr) return nullptr;
    std::memset(static_cast<void*>(b), 0, sizeof(*b));
    b->layout = VertexLayout;
    b->vertexSize = OrvaneGetTotalObjectSize(VertexLayout);
    b->layoutBones = layoutBones;
    b->channelCount = OrvaneGetVertexChannelCount(VertexLayout);
    b->componentCount = OrvaneGetVertexComponentCount(VertexLayout);
    b->baseCount = VertexCount;
    b->triangleCapacity = TriangleCount;
    b->materialCount = MaterialCount;
    b->boneCount = BoneCount;
    if (!orvane::AllocateArrays(b)) {
        orvane::FreeMeshBuilder(b);
        return nullptr;
    }
    for (float& t : b->tolerances)
        t = orvane::kDefaultTolerance;
    for (float& t : b->channelTolerances)
        t = orvane::kDefaultTolerance;
    b->mergingTolerance = orvane::kDefaultMergingTolerance;
    if (const orvane_data_type_definition* weights =
            orvane::FirstMatch(VertexLayout, "BoneWeights")) {
        b->weightsMember = weights;
        b->weightsOffset = orvane::MemberOffset(VertexLayout, weights);
    }
    b->weightsType[0] =
        orvane::MemberRecord(OrvaneReal32Member, "BoneWeights", nullptr, layoutBones);
    b->weightsType[1] =
        orvane::MemberRecord(OrvaneUInt32Member, "BoneIndices", nullptr, layoutBones);
    b->weightsType[2] = orvane::EndRecord();
    b->directPosition = orvane::PlanRealField(VertexLayout, "Position", 3, &b->positionField);
    OrvaneMakeEmptyDataTypeObject(VertexLayout, b->emptyVertex);
    for (int32_t v = 0; v < VertexCount; ++v)
        std::memcpy(orvane::Slot(b, v), b->emptyVertex, static_cast<size_t>(b->vertexSize));
    for (int32_t s = 0; s < b->slotCapacity; ++s) {
        b->coincidentNext[s] = s < VertexCount ? -1 : orvane::kUnusedSlot;
        b->vertexToTriangle[s] = s < VertexCount ? -1 : orvane::kUnusedSlot;
    }
    for (int32_t m = 0; m < MaterialCount; ++m) {
        b->materialHeads[m] = -1;
        b->materialTriangles[m] = 0;
    }
    b->slotCount = VertexCount;
    orvane::ClearPendingVertex(b);
    orvane::ClearPendingTriangle(b);
    return b;
}

ORVANE_API void OrvaneAbortMesh(orvane_mesh_builder* Builder) {
    orvane::FreeMeshBuilder(Builder);
}

ORVANE_API void OrvaneSetNormalTolerance(orvane_mesh_builder* Builder, orvane_real32 Tolerance) {
    if (BuilderIsUsable(Builder, "Setting a tolerance"))
        Builder->tolerances[orvane::kNormalTolerance] = Tolerance;
}
ORVANE_API void OrvaneSetTangentTolerance(orvane_mesh_builder* Builder, orvane_real32 Tolerance) {
    if (BuilderIsUsable(Builder, "Setting a tolerance"))
        Builder->tolerances[orvane::kTangentTolerance] = Tolerance;
}
ORVANE_API void OrvaneSetBinormalTolerance(orvane_mesh_builder* Builder, orvane_real32 Tolerance) {
    if (BuilderIsUsable(Builder, "Setting a tolerance"))
        Builder->tolerances[orvane::kBinormalTolerance] = Tolerance;
}
ORVANE_API void OrvaneSetTangentBinormalCrossTolerance(orvane_mesh_builder* Builder,
                                                       orvane_real32 Tolerance) {
    if (BuilderIsUsable(Builder, "Setting a tolerance"))
        Builder->tolerances[orvane::kCrossTolerance] = Tolerance;
}
ORVANE_API void OrvaneSetTangentMergingTolerance(orvane_mesh_builder* Builder,
                                                 orvane_real32 Tolerance) {
    if (BuilderIsUsable(Builder, "Setting a tolerance")) Builder->mergingTolerance = Tolerance;
}

ORVANE_API void OrvaneSetChannelTolerance(orvane_mesh_builder* Builder, orvane_int32 ChannelIndex,
                                          orvane_real32 Tolerance) {
    if (!BuilderIsUsable(Builder, "Setting a tolerance")) return;
    if (ChannelIndex < 0 || ChannelIndex >= orvane::kMaxBuilderChannels) {
        ORVANE_LOG_ERROR(OrvaneVertexLayoutOrigin, "Channel %d is out of range [0, %d)",
                         static_cast<int>(ChannelIndex),
                         static_cast<int>(orvane::kMaxBuilderChannels));
        return;
    }
    Builder->channelTolerances[ChannelIndex] = Tolerance;
}

ORVANE_API void OrvaneSetVertexChannelComponentNames(orvane_mesh_builder* Builder,
                                                     orvane_int32 Count, const char** Names) {
    if (!BuilderIsUsable(Builder, "Setting component names")) return;
    if (Count != Builder->componentCount) {
        ORVANE_LOG_ERROR(OrvaneVertexLayoutOrigin,
                         "ChannelCount == GetVertexComponentCount(Builder.VertexType) was not "
                         "true");
        return;
    }
    if (Count > 0 && Names == nullptr) {
        ORVANE_LOG_ERROR(OrvaneVertexLayoutOrigin, "Names is not allowed to be 0");
        return;
    }
    // The builder keeps its own copies (pointers, then the texts, in one block), so that the
    // caller's texts need not outlive this call.
    size_t bytes = sizeof(const char*) * static_cast<size_t>(Count);
    for (int32_t i = 0; i < Count; ++i)
        if (Names[i]) bytes += std::strlen(Names[i]) + 1;
    const char** copies = nullptr;
    if (Count > 0) {
        copies = static_cast<const char**>(ORVANE_ALLOCATE(alignof(const char*), bytes));
        if (copies == nullptr) return;
        char* text = reinterpret_cast<char*>(copies + Count);
        for (int32_t i = 0; i < Count; ++i) {
            copies[i] = nullptr;
            if (Names[i] == nullptr) continue;
            const size_t length = std::strlen(Names[i]) + 1;
            std::memcpy(text, Names[i], length);
            copies[i] = text;
            text += length;
        }
    }
    ORVANE_DEALLOCATE(Builder->componentNames);
    Builder->componentNames = copies;
}

ORVANE_API void OrvaneSetPosition(orvane_mesh_builder* Builder, orvane_real32 X, orvane_real32 Y,
                                  orvane_real32 Z) {
    if (!BuilderIsUsable(Builder, "Setting a position")) return;
    Builder->pendingPosition[0] = X;
    Builder->pendingPosition[1] = Y;
    Builder->pendingPosition[2] = Z;
}

ORVANE_API void OrvaneAddWeight(orvane_mesh_builder* Builder, orvane_int32 BoneIndex,
                                orvane_real32 Weight) {
    if (!BuilderIsUsable(Builder, "Adding a weight")) return;
    if (BoneIndex < 0 || BoneIndex >= Builder->boneCount) {
        ORVANE_LOG_ERROR(OrvaneVertexLayoutOrigin, "BoneIndex %d is out of range [0, %d)",
                         static_cast<int>(BoneIndex), static_cast<int>(Builder->boneCount));
        return;
    }
    Builder->pendingWeights[BoneIndex] += Weight;
}

ORVANE_API void OrvanePushVertex(orvane_mesh_builder* Builder) {
    if (!BuilderIsUsable(Builder, "Pushing a vertex")) return;
    orvane_mesh_builder* b = Builder;
    if (b->basePushed >= b->baseCount) {
        ORVANE_LOG_ERROR(OrvaneVertexLayoutOrigin,
                         "Vertex %d pushed beyond the %d the mesh was begun with",
                         static_cast<int>(b->basePushed), static_cast<int>(b->baseCount));
        orvane::ClearPendingVertex(b);
        return;
    }
    unsigned char* slot = orvane::Slot(b, b->basePushed++);
    orvane::SelectWeights(b);
    if (b->directPosition) {
        std::memcpy(slot, b->emptyVertex, static_cast<size_t>(b->vertexSize));
        if (b->positionField.offset >= 0)
            std::memcpy(slot + b->positionField.offset, b->pendingPosition, 3 * sizeof(float));
    } else {
        OrvaneConvertSingleObject(OrvaneP3VertexType, b->pendingPosition, b->layout, slot);
    }
    if (b->layoutBones > 0)
        OrvaneMergeSingleObject(b->weightsType, b->weightWords, b->layout, slot);
    if (b->weightsMember) OrvaneEnsureExactOneNorm(b->weightsMember, slot + b->weightsOffset);
    orvane::ClearPendingVertex(b);
}

ORVANE_API void OrvaneSetVertexIndex(orvane_mesh_builder* Builder, orvane_int32 Corner,
                                     orvane_int32 BaseVertexIndex) {
    if (!BuilderIsUsable(Builder, "Setting a vertex index") || !orvane::CornerIsUsable(Corner))
        return;
    if (BaseVertexIndex < 0 || BaseVertexIndex >= Builder->baseCount) {
        ORVANE_LOG_ERROR(OrvaneVertexLayoutOrigin, "BaseVertexIndex %d is out of range [0, %d)",
                         static_cast<int>(BaseVertexIndex), static_cast<int>(Builder->baseCount));
        return;
    }
    if (BaseVertexIndex >= Builder->basePushed) {
        // Its slot holds no position or weights yet, and pushing it later would overwrite the
        // corner data this triangle merges into it.
        ORVANE_LOG_ERROR(OrvaneVertexLayoutOrigin,
                         "BaseVertexIndex %d names a vertex not pushed yet (%d pushed)",
                         static_cast<int>(BaseVertexIndex), static_cast<int>(Builder->basePushed));
        return;
    }
    Builder->pendingBase[Corner] = BaseVertexIndex;
}

ORVANE_API void OrvaneSetNormal(orvane_mesh_builder* Builder, orvane_int32 Corner, orvane_real32 X,
                                orvane_real32 Y, orvane_real32 Z) {
    orvane::SetSpatial(Builder, Corner, 0, X, Y, Z);
}
ORVANE_API void OrvaneSetTangent(orvane_mesh_builder* Builder, orvane_int32 Corner, orvane_real32 X,
                                 orvane_real32 Y, orvane_real32 Z) {
    orvane::SetSpatial(Builder, Corner, 1, X, Y, Z);
}
ORVANE_API void OrvaneSetBinormal(orvane_mesh_builder* Builder, orvane_int32 Corner,
                                  orvane_real32 X, orvane_real32 Y, orvane_real32 Z) {
    orvane::SetSpatial(Builder, Corner, 2, X, Y, Z);
}
ORVANE_API void OrvaneSetTangentBinormalCross(orvane_mesh_builder* Builder, orvane_int32 Corner,
                                              orvane_real32 X, orvane_real32 Y, orvane_real32 Z) {
    orvane::SetSpatial(Builder, Corner, 3, X, Y, Z);
}

ORVANE_API orvane_int32 OrvaneGetChannelComponentCount(const orvane_mesh_builder* Builder,
                                                       orvane_int32 ChannelIndex) {
    if (!BuilderIsUsable(Builder, "Reading a channel") ||
        !orvane::ChannelIsUsable(Builder, ChannelIndex))
        return 0;
    return Builder->channelWidth[ChannelIndex];
}

ORVANE_API void OrvaneSetChannel(orvane_mesh_builder* Builder, orvane_int32 Corner,
                                 orvane_int32 ChannelIndex, const orvane_real32* Values) {
    if (!BuilderIsUsable(Builder, "Setting a channel") || !orvane::CornerIsUsable(Corner) ||
        !orvane::ChannelIsUsable(Builder, ChannelIndex))
        return;
    ORVANE_CHECK_NOT_NULL(OrvaneVertexLayoutOrigin, Values, );
    std::memcpy(orvane::PendingCorner(Builder, Corner) + Builder->channelFirst[ChannelIndex],
                Values, sizeof(float) * static_cast<size_t>(Builder->channelWidth[ChannelIndex]));
}

ORVANE_API void OrvaneSetMaterial(orvane_mesh_builder* Builder, orvane_int32 MaterialIndex) {
    if (!BuilderIsUsable(Builder, "Setting a material")) return;
    if (MaterialIndex < 0 || MaterialIndex >= Builder->materialCount) {
        ORVANE_LOG_ERROR(OrvaneVertexLayoutOrigin, "MaterialIndex %d is out of range [0, %d)",
                         static_cast<int>(MaterialIndex), static_cast<int>(Builder->materialCount));
        return;
    }
    Builder->currentMaterial = MaterialIndex;
}

ORVANE_API void OrvanePushTriangle(orvane_mesh_builder* Builder) {
    if (!BuilderIsUsable(Builder, "Pushing a triangle")) return;
    orvane_mesh_builder* b = Builder;
    const int32_t t = b->triangleCount;
    if (t >= b->triangleCapacity || b->currentMaterial >= b->materialCount ||
        b->slotCount > b->slotCapacity - 3) {
        ORVANE_LOG_ERROR(OrvaneVertexLayoutOrigin,
                         "Triangle %d refused: the mesh was begun with %d triangles and %d "
                         "materials",
                         static_cast<int>(t), static_cast<int>(b->triangleCapacity),
                         static_cast<int>(b->materialCount));
        orvane::ClearPendingTriangle(b);
        return;
    }
    for (int32_t corner = 0; corner < 3; ++corner) {
        if (b->pendingBase[corner] < 0) {
            ORVANE_LOG_ERROR(OrvaneVertexLayoutOrigin,
                             "Triangle %d refused: corner %d has no vertex index",
                             static_cast<int>(t), static_cast<int>(corner));
            orvane::ClearPendingTriangle(b);
            return;
        }
    }
    if (b->slotCornersStale) orvane::RefreshSlotCorners(b);
    for (int32_t corner = 0; corner < 3; ++corner) {
        float* record = orvane::PendingCorner(b, corner);
        orvane::RoundCorner(b, record);
        b->triangleIndices[3 * t + corner] =
            orvane::WeldCorner(b, b->pendingBase[corner], record, t);
    }
    const int32_t m = b->currentMaterial;
    if (b->materialTriangles[m]++ == 0) ++b->usedMaterials;
    b->triangleLink[t] = b->materialHeads[m];
    b->materialHeads[m] = t;
    b->triangleCount = t + 1;
    orvane::ClearPendingTriangle(b);
}

ORVANE_API orvane_int32 OrvaneGetOriginalVertex(const orvane_mesh_builder* Builder,
                                                orvane_int32 SlotIndex) {
    if (!BuilderIsUsable(Builder, "Reading an original vertex")) return -1;
    if (SlotIndex < 0 || SlotIndex >= Builder->slotCount) {
        ORVANE_LOG_ERROR(OrvaneVertexLayoutOrigin, "SlotIndex %d is out of range [0, %d)",
                         static_cast<int>(SlotIndex), static_cast<int>(Builder->slotCount));
        return -1;
    }
    return orvane::OriginalVertex(Builder, SlotIndex);
}

ORVANE_API void OrvaneGenerateTangentSpaceFromUVs(orvane_mesh_builder* Builder) {
    if (!BuilderIsUsable(Builder, "Generating tangent frames")) return;
    orvane_mesh_builder* b = Builder;
    float* triangleFrames = ORVANE_ALLOCATE_ARRAY(float, 9 * int64_t{b->triangleCount} + 1);
    float* frames = ORVANE_ALLOCATE_ARRAY(float, 9 * int64_t{b->slotCapacity} + 1);
    if (triangleFrames && frames) {
        orvane::WriteFrames(b, nullptr);
        const int32_t count = orvane::BuildTangentFrames(
            b->triangleCount, b->triangleIndices, triangleFrames, b->slotCount, b->slotCapacity,
            b->layout, b->vertices, frames, b->coincidentNext, b->vertexToTriangle,
            b->mergingTolerance);
        if (count >= 0) {
            b->slotCount = count;
            orvane::WriteFrames(b, frames);
        }
        b->slotCornersStale = true;
    }
    ORVANE_DEALLOCATE(triangleFrames);
    ORVANE_DEALLOCATE(frames);
}

ORVANE_API orvane_int32 OrvaneGetResultingVertexCount(const orvane_mesh_builder* Builder) {
    return Builder ? Builder->slotCount : 0;
}
ORVANE_API void* OrvaneGetResultingVertices(const orvane_mesh_builder* Builder) {
    return Builder ? Builder->vertices : nullptr;
}
ORVANE_API orvane_int32* OrvaneGetResultingCoincidentVertexMap(const orvane_mesh_builder* Builder) {
    return Builder ? Builder->coincidentNext : nullptr;
}
ORVANE_API orvane_int32* OrvaneGetResultingVertexToTriangleMap(const orvane_mesh_builder* Builder) {
    return Builder ? Builder->vertexToTriangle : nullptr;
}

}  // extern "C"

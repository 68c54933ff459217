// Vertex layouts: the standard layout descriptions, conversion between layouts with the
// fix-ups for quantised data, weight normalisation, spatial transforms and single-channel access.
//
// Everything here goes through name-driven conversion (types/orvane_convert), so vertices of
// any layout work; nothing is on the per-frame path. No state is kept between calls: the
// one-member descriptions that the setters merge through are built on the caller's stack.
#include "mesh/orvane_vertex_layout.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

#include "core/orvane_log.h"
#include "core/orvane_string.h"
#include "types/orvane_convert.h"
#include "types/orvane_standard_types.h"
#include "types/orvane_type_layout.h"

namespace orvane {
namespace {

using Record = orvane_data_type_definition;

constexpr Record Real3(const char* name) {
    return MemberRecord(OrvaneReal32Member, name, nullptr, 3);
}
constexpr Record Position() {
    return Real3("Position");
}
constexpr Record Normal() {
    return Real3("Normal");
}
constexpr Record Tangent() {
    return Real3("Tangent");
}
constexpr Record Binormal() {
    return Real3("Binormal");
}
constexpr Record Uv(int32_t width) {
    return MemberRecord(OrvaneReal32Member, "TextureCoordinates0", nullptr, width);
}
// One bone: a single 32-bit index and no weight.
constexpr Record OneBoneIndex() {
    return MemberRecord(OrvaneUInt32Member, "BoneIndices");
}
constexpr Record Weights(int32_t bones) {
    return MemberRecord(OrvaneNormalUInt8Member, "BoneWeights", nullptr, bones);
}
constexpr Record Indices(int32_t bones) {
    return MemberRecord(OrvaneUInt8Member, "BoneIndices", nullptr, bones);
}

// Internal: the intermediate of the transform and normalise operations.
Record g_spatialVertex[] = {
    Position(), Normal(), Tangent(), Binormal(), Real3("TangentBinormalCross"), EndRecord()};
struct SpatialVertex {
    float position[3], normal[3], tangent[3], binormal[3], cross[3];
};

}  // namespace

Record g_p3Vertex[] = {Position(), EndRecord()};
Record g_pt32Vertex[] = {Position(), Uv(2), EndRecord()};
Record g_pn33Vertex[] = {Position(), Normal(), EndRecord()};
Record g_png333Vertex[] = {Position(), Normal(), Tangent(), EndRecord()};
Record g_pngt3332Vertex[] = {Position(), Normal(), Tangent(), Uv(2), EndRecord()};
Record g_pnt332Vertex[] = {Position(), Normal(), Uv(2), EndRecord()};
Record g_pngb3333Vertex[] = {Position(), Normal(), Tangent(), Binormal(), EndRecord()};
Record g_pnt333Vertex[] = {Position(), Normal(), Uv(3), EndRecord()};
Record g_pngbt33332Vertex[] = {Position(), Normal(), Tangent(), Binormal(), Uv(2), EndRecord()};
Record g_pngbt33333Vertex[] = {Position(), Normal(), Tangent(), Binormal(), Uv(3), EndRecord()};

Record g_pwn313Vertex[] = {Position(), OneBoneIndex(), Normal(), EndRecord()};
Record g_pwn323Vertex[] = {Position(), Weights(2), Indices(2), Normal(), EndRecord()};
Record g_pwn343Vertex[] = {Position(), Weights(4), Indices(4), Normal(), EndRecord()};
Record g_pwng3133Vertex[] = {Position(), OneBoneIndex(), Normal(), Tangent(), EndRecord()};
Record g_pwng3233Vertex[] = {Position(), Weights(2), Indices(2), Normal(), Tangent(), EndRecord()};
Record g_pwng3433Vertex[] = {Position(), Weights(4), Indices(4), Normal(), Tangent(), EndRecord()};
Record g_pwngt31332Vertex[] = {Position(), OneBoneIndex(), Normal(), Tangent(), Uv(2), EndRecord()};
Record g_pwngt32332Vertex[] = {Position(), Weights(2), Indices(2), Normal(),
                               Tangent(),  Uv(2),      EndRecord()};
Record g_pwngt34332Vertex[] = {Position(), Weights(4), Indices(4), Normal(),
                               Tangent(),  Uv(2),      EndRecord()};
Record g_pwngb31333Vertex[] = {Position(), OneBoneIndex(), Normal(),
                               Tangent(),  Binormal(),     EndRecord()};
Record g_pwngb32333Vertex[] = {Position(), Weights(2), Indices(2), Normal(),
                               Tangent(),  Binormal(), EndRecord()};
Record g_pwngb34333Vertex[] = {Position(), Weights(4), Indices(4), Normal(),
                               Tangent(),  Binormal(), EndRecord()};
Record g_pwnt3132Vertex[] = {Position(), OneBoneIndex(), Normal(), Uv(2), EndRecord()};
Record g_pwnt3232Vertex[] = {Position(), Weights(2), Indices(2), Normal(), Uv(2), EndRecord()};
Record g_pwnt3432Vertex[] = {Position(), Weights(4), Indices(4), Normal(), Uv(2), EndRecord()};
Record g_pwngbt313332Vertex[] = {Position(), OneBoneIndex(), Normal(),   Tangent(),
                                 Binormal(), Uv(2),          EndRecord()};
Record g_pwngbt323332Vertex[] = {Position(), Weights(2), Indices(2), Normal(),
                                 Tangent(),  Binormal(), Uv(2),      EndRecord()};
Record g_pwngbt343332Vertex[] = {Position(), Weights(4), Indices(4), Normal(),
                                 Tangent(),  Binormal(), Uv(2),      EndRecord()};

Record g_gbx333Vertex[] = {Tangent(), Binormal(), Real3("TangentBinormalCross"), EndRecord()};
Record g_vertexWeightArrays[] = {
    MemberRecord(OrvaneReal32Member, "BoneWeights", nullptr, ORVANE_MAX_BONES_PER_VERTEX),
    MemberRecord(OrvaneUInt32Member, "BoneIndices", nullptr, ORVANE_MAX_BONES_PER_VERTEX),
    EndRecord()};

namespace {

using Byte = unsigned char;

// The member of type whose name matches (conversion's rule) and its byte offset.
const Record* FindMember(const Record* type, const char* name, int32_t* offset) {
    int32_t at = 0;
    for (const Record* member = type; member && member->Type != OrvaneEndMember; ++member) {
        if (ConversionNamesMatch(member->Name, name)) {
            if (offset) *offset = at;
            return member;
        }
        at += OrvaneGetMemberTypeSize(member);
    }
    return nullptr;
}

int32_t EffectiveWidth(const Record* member) {
    return OrvaneGetMemberArrayWidth(member);
}

// The values are read and written through copies: a 16-bit member may sit at any byte of a
// vertex.
template <typename T>
int64_t ValueAt(const Byte* values, int32_t i) {
    T value;
    std::memcpy(&value, values + static_cast<int64_t>(i) * sizeof(T), sizeof(T));
    return value;
}

template <typename T>
void SetValueAt(Byte* values, int32_t i, int64_t value) {
    const T narrowed = static_cast<T>(value);
    std::memcpy(values + static_cast<int64_t>(i) * sizeof(T), &narrowed, sizeof(T));
}

template <typename T>
void SpreadToFullScale(int32_t n, void* storage, int64_t fullScale) {
    Byte* values = static_cast<Byte*>(storage);
    int64_t sum = 0;
    for (int32_t i = 0; i < n; ++i)
        sum += ValueAt<T>(values, i);
    int64_t d = fullScale - sum;
    // Each pass makes progress: below full scale some value is below m, above it some value is
    // above 0 (values are never negative for unsigned kinds; signed kinds stop at 0 too).
    while (d > 0) {
        for (int32_t i = 0; i < n && d > 0; ++i) {
            const int64_t value = ValueAt<T>(values, i);
            if (value < fullScale) {
                SetValueAt<T>(values, i, value + 1);
                --d;
            }
        }
    }
    while (d < 0) {
        bool moved = false;
        for (int32_t i = n - 1; i >= 0 && d < 0; --i) {
            const int64_t value = ValueAt<T>(values, i);
            if (value > 0) {
                SetValueAt<T>(values, i, value - 1);
                ++d;
                moved = true;
            }
        }
        // Negative signed weights can hold the sum above full scale with nothing left to take.
        if (!moved) break;
    }
}

void NormalizeDirection(float v[3]) {
    const double length =
        std::sqrt(double(v[0]) * v[0] + double(v[1]) * v[1] + double(v[2]) * v[2]);
    if (length > 0.00001) {
        const double s = 1.0 / length;
        for (int i = 0; i < 3; ++i)
            v[i] = float(v[i] * s);
    } else {
        v[0] = v[1] = v[2] = 0.0f;
    }
}

void NormalizeSpatial(SpatialVertex& s) {
    NormalizeDirection(s.tangent);
    NormalizeDirection(s.binormal);
    NormalizeDirection(s.cross);
    NormalizeDirection(s.normal);
}

// Merges three reals into the member called name through a description on this call's stack.
void SetThreeReals(const Record* type, void* vertex, const char* name, const float values[3]) {
    if (type == nullptr || vertex == nullptr || values == nullptr) return;
    const Record single[] = {Real3(name), EndRecord()};
    OrvaneMergeSingleObject(single, values, type, vertex);
}

int64_t ReadInteger(int32_t kind, const Byte* at) {
    switch (kind) {
        case OrvaneInt8Member:
            return static_cast<int8_t>(*at);
        case OrvaneUInt8Member:
            return *at;
        case OrvaneInt16Member: {
            int16_t v;
            std::memcpy(&v, at, 2);
            return v;
        }
        case OrvaneUInt16Member: {
            uint16_t v;
            std::memcpy(&v, at, 2);
            return v;
        }
        case OrvaneInt32Member: {
            int32_t v;
            std::memcpy(&v, at, 4);
            return v;
        }
        default: {
            uint32_t v;
            std::memcpy(&v, at, 4);
            return v;
        }
    }
}

bool IndicesInRange(int32_t count, const Byte* vertices, int64_t stride, int32_t offset,
                    int32_t kind, int32_t width, int32_t boneCount) {
    const int32_t unit = MemberUnitSize(kind, DataLayout::Native);
    const Byte* at = vertices + offset;
    for (int32_t v = 0; v < count; ++v, at += stride) {
        for (int32_t k = 0; k < width; ++k) {
            const int64_t b = ReadInteger(kind, at + static_cast<int64_t>(k) * unit);
            if (b < 0 || b >= boneCount) {
                ORVANE_LOG_ERROR(
                    OrvaneVertexLayoutOrigin, "Vertex %d has bone index %d, out of range [0, %d)",
                    static_cast<int>(v), static_cast<int>(b), static_cast<int>(boneCount));
                return false;
            }
        }
    }
    return true;
}

// A fix-up of layout conversion: the reals of one destination member that come from quantised
// directions (2v - 1) or from 16-bit fixed-point texture coordinates (v / 4096).
struct FixUp {
    int32_t offset;
    int32_t count;
    bool direction;
};
constexpr int32_t kMaxFixUps = 64;

// Fills fixUps with at most kMaxFixUps fix-ups of the destination members from member on, whose
// byte offset is *offset, and returns the member after the last one examined (*offset is its
// offset).
const Record* CollectFixUps(const Record* sourceType, const Record* member, int32_t* offset,
                            FixUp* fixUps, int32_t* count) {
    *count = 0;
    for (; member->Type != OrvaneEndMember && *count < kMaxFixUps; ++member) {
        const int32_t size = OrvaneGetMemberTypeSize(member);
        const Record* source = member->Type == OrvaneReal32Member
                                   ? FindMember(sourceType, member->Name, nullptr)
                                   : nullptr;
        if (source) {
            // Only the values that conversion actually wrote: the rest of a wider member is
            // empty and stays zero.
            const int32_t sw = EffectiveWidth(source), dw = EffectiveWidth(member);
            const int32_t values = sw < dw ? sw : dw;
            const bool isDirection = StringsAreEqual(member->Name, "Normal") ||
                                     StringsAreEqual(member->Name, "Tangent") ||
                                     StringsAreEqual(member->Name, "Binormal");
            const bool isUv = StringBeginsWith(member->Name, "TextureCoordinates");
            if (source->Type == OrvaneNormalUInt8Member && isDirection)
                fixUps[(*count)++] = {*offset, values, true};
            else if (source->Type == OrvaneInt16Member && isUv)
                // Normalised 8-bit coordinates already read as 0..1; only the 16-bit
                // fixed-point form carries the 12 fractional bits.
                fixUps[(*count)++] = {*offset, values, false};
        }
        *offset += size;
    }
    return member;
}

void ApplyFixUps(Byte* vertex, const FixUp* fixUps, int32_t count) {
    for (int32_t f = 0; f < count; ++f) {
        Byte* at = vertex + fixUps[f].offset;
        for (int32_t i = 0; i < fixUps[f].count; ++i) {
            float value;
            std::memcpy(&value, at + 4 * i, 4);
            value = fixUps[f].direction ? 2.0f * value - 1.0f : value * 0.000244140625f;
            std::memcpy(at + 4 * i, &value, 4);
        }
    }
}

}  // namespace

}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API extern orvane_data_type_definition* const OrvaneP3VertexType = g_p3Vertex;
ORVANE_API extern orvane_data_type_definition* const OrvanePT32VertexType = g_pt32Vertex;
ORVANE_API extern orvane_data_type_definition* const OrvanePN33VertexType = g_pn33Vertex;
ORVANE_API extern orvane_data_type_definition* const OrvanePNG333VertexType = g_png333Vertex;
ORVANE_API extern orvane_data_type_definition* const OrvanePNGT3332VertexType = g_pngt3332Vertex;
ORVANE_API extern orvane_data_type_definition* const OrvanePNT332VertexType = g_pnt332Vertex;
ORVANE_API extern orvane_data_type_definition* const OrvanePNGB3333VertexType = g_pngb3333Vertex;
ORVANE_API extern orvane_data_type_definition* const OrvanePNT333VertexType = g_pnt333Vertex;
ORVANE_API extern orvane_data_type_definition* const OrvanePNGBT33332VertexType =
    g_pngbt33332Vertex;
ORVANE_API extern orvane_data_type_definition* const OrvanePNGBT33333VertexType =
    g_pngbt33333Vertex;
ORVANE_API extern orvane_data_type_definition* const OrvanePWN313VertexType = g_pwn313Vertex;
ORVANE_API extern orvane_data_type_definition* const OrvanePWN323VertexType = g_pwn323Vertex;
ORVANE_API extern orvane_data_type_definition* const OrvanePWN343VertexType = g_pwn343Vertex;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNG3133VertexType = g_pwng3133Vertex;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNG3233VertexType = g_pwng3233Vertex;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNG3433VertexType = g_pwng3433Vertex;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNGT31332VertexType =
    g_pwngt31332Vertex;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNGT32332VertexType =
    g_pwngt32332Vertex;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNGT34332VertexType =
    g_pwngt34332Vertex;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNGB31333VertexType =
    g_pwngb31333Vertex;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNGB32333VertexType =
    g_pwngb32333Vertex;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNGB34333VertexType =
    g_pwngb34333Vertex;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNT3132VertexType = g_pwnt3132Vertex;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNT3232VertexType = g_pwnt3232Vertex;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNT3432VertexType = g_pwnt3432Vertex;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNGBT313332VertexType =
    g_pwngbt313332Vertex;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNGBT323332VertexType =
    g_pwngbt323332Vertex;
ORVANE_API extern orvane_data_type_definition* const OrvanePWNGBT343332VertexType =
    g_pwngbt343332Vertex;
ORVANE_API extern orvane_data_type_definition* const OrvaneGBX333VertexType = g_gbx333Vertex;
ORVANE_API extern orvane_data_type_definition* const OrvaneVertexWeightArraysType =
    g_vertexWeightArrays;

ORVANE_API void OrvaneConvertVertexLayouts(orvane_int32 Count,
                                           const orvane_data_type_definition* SourceType,
                                           const void* Source,
                                           const orvane_data_type_definition* DestType,
                                           void* Dest) {
    if (Count <= 0 || SourceType == nullptr || DestType == nullptr || Source == nullptr ||
        Dest == nullptr)
        return;
    // The fix-ups are the same for every vertex: they are found once, a table at a time. The
    // first table is applied as each vertex is converted; a layout with more fix-ups than one
    // table holds gets further passes over the converted vertices.
    FixUp fixUps[kMaxFixUps];
    int32_t fixUpCount = 0;
    int32_t offset = 0;
    const Record* next = CollectFixUps(SourceType, DestType, &offset, fixUps, &fixUpCount);
    const int32_t sourceStride = OrvaneGetTotalObjectSize(SourceType);
    const int32_t destStride = OrvaneGetTotalObjectSize(DestType);
    const Byte* s = static_cast<const Byte*>(Source);
    Byte* d = static_cast<Byte*>(Dest);
    for (int32_t v = 0; v < Count; ++v, s += sourceStride, d += destStride) {
        OrvaneConvertSingleObject(SourceType, s, DestType, d);
        ApplyFixUps(d, fixUps, fixUpCount);
    }
    while (next->Type != OrvaneEndMember) {
        next = CollectFixUps(SourceType, next, &offset, fixUps, &fixUpCount);
        d = static_cast<Byte*>(Dest);
        for (int32_t v = 0; v < Count; ++v, d += destStride)
            ApplyFixUps(d, fixUps, fixUpCount);
    }
}

ORVANE_API void OrvaneEnsureExactOneNorm(const orvane_data_type_definition* WeightsMember,
                                         void* Weights) {
    if (WeightsMember == nullptr || Weights == nullptr) return;
    const int32_t n = EffectiveWidth(WeightsMember);
    // A negative width describes no storage (the type system gives such a member no size):
    // there is nothing to correct, and no pass could ever bring the sum to full scale.
    if (n < 0) return;
    switch (WeightsMember->Type) {
        case OrvaneReal32Member:
            return;
        case OrvaneBinormalInt8Member:
            SpreadToFullScale<int8_t>(n, Weights, 127);
            return;
        case OrvaneNormalUInt8Member:
            SpreadToFullScale<uint8_t>(n, Weights, 255);
            return;
        case OrvaneBinormalInt16Member:
            SpreadToFullScale<int16_t>(n, Weights, 32767);
            return;
        case OrvaneNormalUInt16Member:
            SpreadToFullScale<uint16_t>(n, Weights, 65535);
            return;
        default:
            ORVANE_LOG_ERROR(OrvaneMeshOrigin, "EnsureExactOneNorm called on unsupported type %d\n",
                             static_cast<int>(WeightsMember->Type));
            return;
    }
}

ORVANE_API void OrvaneOneNormalizeWeights(orvane_int32 Count,
                                          const orvane_data_type_definition* Type, void* Vertices) {
    if (Count <= 0 || Type == nullptr || Vertices == nullptr) return;
    int32_t weightsOffset = 0;
    const Record* weights = FindMember(Type, "BoneWeights", &weightsOffset);
    if (weights == nullptr) return;
    int32_t n = EffectiveWidth(weights);
    // The intermediate holds 256 weights; a wider member from a file is scaled over those.
    if (n > ORVANE_MAX_BONES_PER_VERTEX) n = ORVANE_MAX_BONES_PER_VERTEX;
    const int32_t stride = OrvaneGetTotalObjectSize(Type);
    Byte* vertex = static_cast<Byte*>(Vertices);
    for (int32_t v = 0; v < Count; ++v, vertex += stride) {
        orvane_vertex_weight_arrays arrays;
        OrvaneConvertSingleObject(Type, vertex, g_vertexWeightArrays, &arrays);
        long double sum = 0;
        for (int32_t i = 0; i < n; ++i)
            sum += arrays.BoneWeights[i];
        if (sum != 0) {
            const long double inverse = 1.0L / sum;
            for (int32_t i = 0; i < n; ++i)
                arrays.BoneWeights[i] = static_cast<float>(arrays.BoneWeights[i] * inverse);
        }
        OrvaneMergeSingleObject(g_vertexWeightArrays, &arrays, Type, vertex);
        OrvaneEnsureExactOneNorm(weights, vertex + weightsOffset);
    }
}

ORVANE_API void OrvaneTransformVertices(orvane_int32 Count, const orvane_data_type_definition* Type,
                                        void* Vertices, const orvane_real32 Affine3[3],
                                        const orvane_real32 Linear3x3[9],
                                        const orvane_real32 InverseLinear3x3[9],
                                        orvane_bool Renormalize) {
    if (Count <= 0 || Type == nullptr || Vertices == nullptr || Affine3 == nullptr ||
        Linear3x3 == nullptr || InverseLinear3x3 == nullptr)
        return;
    const float* L = Linear3x3;
    const float* I = InverseLinear3x3;
    auto linear = [L](float v[3]) {
        const float x = v[0], y = v[1], z = v[2];
        for (int i = 0; i < 3; ++i)
            v[i] = L[3 * i] * x + L[3 * i + 1] * y + L[3 * i + 2] * z;
    };
    // Normals take the inverse transpose: component i is column i of I dotted with v.
    auto inverseTransposed = [I](float v[3]) {
        const float x = v[0], y = v[1], z = v[2];
        for (int i = 0; i < 3; ++i)
            v[i] = I[i] * x + I[3 + i] * y + I[6 + i] * z;
    };
    const int32_t stride = OrvaneGetTotalObjectSize(Type);
    Byte* vertex = static_cast<Byte*>(Vertices);
    for (int32_t v = 0; v < Count; ++v, vertex += stride) {
        SpatialVertex s;
        OrvaneConvertSingleObject(Type, vertex, g_spatialVertex, &s);
        linear(s.position);
        for (int i = 0; i < 3; ++i)
            s.position[i] += Affine3[i];
        linear(s.tangent);
        linear(s.binormal);
        inverseTransposed(s.normal);
        inverseTransposed(s.cross);
        if (Renormalize) NormalizeSpatial(s);
        OrvaneMergeSingleObject(g_spatialVertex, &s, Type, vertex);
    }
}

ORVANE_API void OrvaneNormalizeVertices(orvane_int32 Count, const orvane_data_type_definition* Type,
                                        void* Vertices) {
    if (Count <= 0 || Type == nullptr || Vertices == nullptr) return;
    const int32_t stride = OrvaneGetTotalObjectSize(Type);
    Byte* vertex = static_cast<Byte*>(Vertices);
    for (int32_t v = 0; v < Count; ++v, vertex += stride) {
        SpatialVertex s;
        OrvaneConvertSingleObject(Type, vertex, g_spatialVertex, &s);
        NormalizeSpatial(s);
        OrvaneMergeSingleObject(g_spatialVertex, &s, Type, vertex);
    }
}

ORVANE_API void OrvaneGetVertexTextureCoordinatesName(orvane_int32 Index, char* Buffer) {
    if (Buffer) FormatText(ORVANE_MAX_VERTEX_CHANNEL_NAME, Buffer, "TextureCoordinates%d", Index);
}

ORVANE_API void OrvaneGetVertexDiffuseColorName(orvane_int32 Index, char* Buffer) {
    if (Buffer) FormatText(ORVANE_MAX_VERTEX_CHANNEL_NAME, Buffer, "DiffuseColor%d", Index);
}

ORVANE_API void OrvaneGetVertexSpecularColorName(orvane_int32 Index, char* Buffer) {
    if (Buffer) FormatText(ORVANE_MAX_VERTEX_CHANNEL_NAME, Buffer, "SpecularColor%d", Index);
}

ORVANE_API orvane_bool OrvaneIsSpatialVertexMember(const char* Name) {
    static const char* const kSpatial[] = {
        "Position", "BoneWeights", "BoneIndices",         "Normal",
        "Tangent",  "Binormal",    "TangentBinormalCross"};
    if (Name == nullptr) return false;
    for (const char* spatial : kSpatial)
        if (std::strcmp(Name, spatial) == 0) return true;
    return false;
}

ORVANE_API orvane_int32 OrvaneGetVertexBoneCount(const orvane_data_type_definition* Type) {
    if (const Record* weights = FindMember(Type, "BoneWeights", nullptr))
        return EffectiveWidth(weights);
    if (const Record* indices = FindMember(Type, "BoneIndices", nullptr))
        return EffectiveWidth(indices);
    return 0;
}

ORVANE_API orvane_int32 OrvaneGetVertexChannelCount(const orvane_data_type_definition* Type) {
    int32_t count = 0;
    for (const Record* member = Type; member && member->Type != OrvaneEndMember; ++member)
        count += !OrvaneIsSpatialVertexMember(member->Name);
    return count;
}

ORVANE_API orvane_int32 OrvaneGetVertexComponentCount(const orvane_data_type_definition* Type) {
    int32_t count = 0;
    for (const Record* member = Type; member && member->Type != OrvaneEndMember; ++member)
        count += !StringsAreEqual(member->Name, "BoneWeights");
    return count;
}

ORVANE_API orvane_int32 OrvaneGetVertexComponentIndex(const char* ComponentName,
                                                      const orvane_data_type_definition* Type) {
    int32_t index = 0;
    for (const Record* member = Type; member && member->Type != OrvaneEndMember; ++member, ++index)
        if (ConversionNamesMatch(member->Name, ComponentName)) return index;
    return -1;
}

ORVANE_API const char* OrvaneGetVertexComponentToolName(const char* ComponentName,
                                                        const orvane_vertex_data* VertexData) {
    if (VertexData == nullptr) return nullptr;
    const int32_t index = OrvaneGetVertexComponentIndex(ComponentName, VertexData->VertexType);
    if (index < 0 || index >= VertexData->VertexComponentNameCount ||
        VertexData->VertexComponentNames == nullptr)
        return nullptr;
    return VertexData->VertexComponentNames[index];
}

ORVANE_API void OrvaneGetSingleVertex(const orvane_vertex_data* VertexData, orvane_int32 Index,
                                      const orvane_data_type_definition* As, void* Dest) {
    ORVANE_CHECK_NOT_NULL(OrvaneVertexLayoutOrigin, As, );
    ORVANE_CHECK_NOT_NULL(OrvaneVertexLayoutOrigin, Dest, );
    const int32_t count = VertexData ? VertexData->VertexCount : 0;
    if (Index < 0 || Index >= count || VertexData->Vertices == nullptr) {
        ORVANE_LOG_ERROR(OrvaneVertexLayoutOrigin, "VertexIndex %d is out of range [0, %d)",
                         static_cast<int>(Index), static_cast<int>(count));
        OrvaneMakeEmptyDataTypeObject(As, Dest);
        return;
    }
    const int64_t stride = OrvaneGetTotalObjectSize(VertexData->VertexType);
    OrvaneConvertSingleObject(VertexData->VertexType,
                              static_cast<const Byte*>(VertexData->Vertices) + stride * Index, As,
                              Dest);
}

ORVANE_API void OrvaneSetVertexPosition(const orvane_data_type_definition* Type, void* Vertex,
                                        const orvane_real32 Position[3]) {
    if (Type == nullptr || Vertex == nullptr || Position == nullptr) return;
    OrvaneMergeSingleObject(g_p3Vertex, Position, Type, Vertex);
}

ORVANE_API void OrvaneSetVertexNormal(const orvane_data_type_definition* Type, void* Vertex,
                                      const orvane_real32 Normal[3]) {
    SetThreeReals(Type, Vertex, "Normal", Normal);
}

ORVANE_API void OrvaneSetVertexColor(const orvane_data_type_definition* Type, void* Vertex,
                                     orvane_int32 ColorIndex, const orvane_real32 Color[3]) {
    char name[ORVANE_MAX_VERTEX_CHANNEL_NAME];
    OrvaneGetVertexDiffuseColorName(ColorIndex, name);
    SetThreeReals(Type, Vertex, name, Color);
}

ORVANE_API void OrvaneSetVertexUVW(const orvane_data_type_definition* Type, void* Vertex,
                                   orvane_int32 ChannelIndex, const orvane_real32 UVW[3]) {
    char name[ORVANE_MAX_VERTEX_CHANNEL_NAME];
    OrvaneGetVertexTextureCoordinatesName(ChannelIndex, name);
    SetThreeReals(Type, Vertex, name, UVW);
}

ORVANE_API orvane_bool OrvaneVertexBoneIndicesAreInRange(orvane_int32 Count,
                                                         const orvane_data_type_definition* Type,
                                                         const void* Vertices,
                                                         orvane_int32 BoneCount) {
    if (Count <= 0 || Type == nullptr) return true;
    int32_t offset = 0;
    const Record* indices = FindMember(Type, "BoneIndices", &offset);
    if (indices && !IsIntegerMemberKind(indices->Type)) {
        ORVANE_LOG_ERROR(OrvaneVertexLayoutOrigin, "BoneIndices of kind %d are not integers",
                         static_cast<int>(indices->Type));
        return false;
    }
    if (Vertices == nullptr) return indices == nullptr;
    const int64_t stride = OrvaneGetTotalObjectSize(Type);
    const Byte* vertices = static_cast<const Byte*>(Vertices);
    if (indices && !IndicesInRange(Count, vertices, stride, offset, indices->Type,
                                   EffectiveWidth(indices), BoneCount))
        return false;
    // Deformers match layouts by kinds and widths, not names: whatever sits where a skinned
    // family keeps its indices is what they read.
    struct Family {
        const Record* layout;
        int32_t members;  // position and bone data
    };
    for (const Family& family :
         {Family{g_pwn313Vertex, 2}, Family{g_pwn323Vertex, 3}, Family{g_pwn343Vertex, 3}}) {
        Record head[4];
        for (int32_t i = 0; i < family.members; ++i)
            head[i] = family.layout[i];
        head[family.members] = EndRecord();
        if (OrvaneDataTypeBeginsWith(Type, head) == nullptr) continue;
        const Record& bones = family.layout[family.members - 1];
        const int32_t at = 12 + (family.members == 3 ? EffectiveWidth(&family.layout[1]) : 0);
        if (!IndicesInRange(Count, vertices, stride, at, bones.Type, EffectiveWidth(&bones),
                            BoneCount))
            return false;
    }
    return true;
}

}  // extern "C"

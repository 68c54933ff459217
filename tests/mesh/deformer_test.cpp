// Mesh deformers: the registry's choices, every registered routine on every path against a
// double-precision reference skinning, aligned and unaligned buffers, direct and indirect
// matrices, tail copies, the once-only bypass message, timing counters and two threads skinning
// at once.
#include <cmath>
#include <cstring>
#include <random>
#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "mesh/orvane_deformer.h"
#include "orvane/diag.h"
#include "orvane/mesh.h"
#include "orvane/deformer.h"
#include "platform/orvane_platform.h"
#include "support/log_capture.h"

namespace {

using orvane::DeformerPath;
using orvane_test::LogCapture;

// The accelerated registry entries exist on processors with SSE (x86) only; elsewhere every
// entry is generic.
bool HostHasAcceleratedEntries() {
    return orvane::platform::ProcessorHasSSE();
}

// Restores the best path when a test ends, whatever it forced.
struct PathScope {
    explicit PathScope(DeformerPath path) { orvane::SetDeformerPath(path); }
    ~PathScope() { orvane::SetDeformerPath(DeformerPath::Best); }
};

// A byte buffer whose start is 64-byte aligned plus a chosen offset.
class Buffer {
public:
    Buffer(size_t bytes, size_t offset) : storage_(bytes + 128, 0xCD) {
        auto base = reinterpret_cast<uintptr_t>(storage_.data());
        data_ = storage_.data() + ((64 - base % 64) % 64) + offset;
    }
    uint8_t* data() { return data_; }

private:
    std::vector<uint8_t> storage_;
    uint8_t* data_;
};

// A layout family: bones 0 (rigid), 1, 2 or 4; dirs 1..3; tail words after the deformed part.
struct Family {
    int bones, dirs, tail;
    int boneBytes() const { return bones == 0 ? 0 : bones == 1 ? 4 : 2 * bones; }
    int sourceSize() const { return 12 + boneBytes() + 12 * dirs + 4 * tail; }
    int destSize() const { return 12 + 12 * dirs + 4 * tail; }
};

struct Workload {
    Family family;
    int count;
    int matrixCount;
    std::vector<uint8_t> source;  // packed vertices
    std::vector<float> matrices;  // matrixCount x 16
    std::vector<int32_t> table;   // bone -> matrix, a permutation
};

Workload MakeWorkload(Family family, int count, uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> value(-2.0f, 2.0f);
    Workload w{family, count, 6, {}, {}, {}};
    w.matrices.resize(static_cast<size_t>(w.matrixCount) * 16);
    for (int m = 0; m < w.matrixCount; ++m) {
        float* M = &w.matrices[16 * m];
        for (int i = 0; i < 16; ++i)
            M[i] = value(random);
        M[3] = M[7] = M[11] = 0.0f;
        M[15] = 1.0f;
    }
    for (int b = 0; b < w.matrixCount; ++b)
        w.table.push_back((b * 5 + 3) % w.matrixCount);
    w.source.resize(static_cast<size_t>(family.sourceSize()) * count);
    for (int v = 0; v < count; ++v) {
        uint8_t* at = &w.source[static_cast<size_t>(family.sourceSize()) * v];
        float p[3] = {5 * value(random), 5 * value(random), 5 * value(random)};
        std::memcpy(at, p, 12);
        if (family.bones == 1) {
            const uint32_t bone = random() % w.matrixCount;
            std::memcpy(at + 12, &bone, 4);
        } else if (family.bones > 1) {
            int left = 255;
            for (int k = 0; k < family.bones; ++k) {
                const int weight =
                    k + 1 == family.bones ? left : static_cast<int>(random() % (left + 1));
                at[12 + k] = static_cast<uint8_t>(weight);
                left -= weight;
                at[12 + family.bones + k] = static_cast<uint8_t>(random() % w.matrixCount);
            }
        }
        for (int k = 0; k < family.dirs; ++k) {
            const float d[3] = {value(random), value(random), value(random)};
            std::memcpy(at + 12 + family.boneBytes() + 12 * k, d, 12);
        }
        for (int t = 0; t < family.tail; ++t) {
            const uint32_t word = random();
            std::memcpy(at + 12 + family.boneBytes() + 12 * family.dirs + 4 * t, &word, 4);
        }
    }
    return w;
}

// The reference: blended matrix and products in double precision.
std::vector<double> ReferenceSkinning(const Workload& w, bool indirect) {
    const Family& f = w.family;
    std::vector<double> out;
    auto matrix = [&](uint32_t bone) {
        const uint32_t number = indirect ? static_cast<uint32_t>(w.table[bone]) : bone;
        return &w.matrices[16 * number];
    };
    for (int v = 0; v < w.count; ++v) {
        const uint8_t* at = &w.source[static_cast<size_t>(f.sourceSize()) * v];
        double B[16] = {};
        if (f.bones <= 1) {
            uint32_t bone = 0;
            if (f.bones == 1) std::memcpy(&bone, at + 12, 4);
            for (int i = 0; i < 16; ++i)
                B[i] = matrix(bone)[i];
        } else {
            for (int k = 0; k < f.bones; ++k)
                for (int i = 0; i < 16; ++i)
                    B[i] += at[12 + k] / 255.0 * matrix(at[12 + f.bones + k])[i];
        }
        auto apply = [&](const uint8_t* p, bool point) {
            float x[3];
            std::memcpy(x, p, 12);
            for (int c = 0; c < 3; ++c)
                out.push_back(x[0] * B[c] + x[1] * B[4 + c] + x[2] * B[8 + c] +
                              (point ? B[12 + c] : 0.0));
        };
        apply(at, true);
        for (int k = 0; k < f.dirs; ++k)
            apply(at + 12 + f.boneBytes() + 12 * k, false);
    }
    return out;
}

// Deforms the workload with the deformer and compares: reals within 2e-5 of the reference
// (relative to the size of the terms), tails bit for bit, nothing written past the vertices.
void ExpectSkinned(const orvane_mesh_deformer* deformer, const Workload& w, bool indirect,
                   size_t sourceOffset, size_t destOffset, size_t matrixOffset) {
    const Family& f = w.family;
    SCOPED_TRACE(testing::Message() << "bones " << f.bones << " dirs " << f.dirs << " tail "
                                    << f.tail << (indirect ? " indirect" : " direct") << " offsets "
                                    << sourceOffset << "/" << destOffset << "/" << matrixOffset);
    Buffer source(w.source.size(), sourceOffset);
    std::memcpy(source.data(), w.source.data(), w.source.size());
    Buffer matrices(w.matrices.size() * 4, matrixOffset);
    std::memcpy(matrices.data(), w.matrices.data(), w.matrices.size() * 4);
    const size_t destBytes = static_cast<size_t>(f.destSize()) * w.count;
    Buffer dest(destBytes + 16, destOffset);
    OrvaneDeformVertices(deformer, indirect ? w.table.data() : nullptr,
                         reinterpret_cast<const float*>(matrices.data()), w.count, source.data(),
                         dest.data());
    const std::vector<double> expected = ReferenceSkinning(w, indirect);
    size_t r = 0;
    for (int v = 0; v < w.count; ++v) {
        const uint8_t* out = dest.data() + static_cast<size_t>(f.destSize()) * v;
        for (int i = 0; i < 3 + 3 * f.dirs; ++i, ++r) {
            float got;
            std::memcpy(&got, out + 4 * i, 4);
            ASSERT_NEAR(got, expected[r], 2e-5 * (50.0 + std::fabs(expected[r])))
                << "vertex " << v << " value " << i;
        }
        const uint8_t* tail =
            &w.source[static_cast<size_t>(f.sourceSize()) * v] + f.sourceSize() - 4 * f.tail;
        ASSERT_EQ(std::memcmp(out + f.destSize() - 4 * f.tail, tail, 4 * f.tail), 0)
            << "tail of vertex " << v;
    }
    for (size_t i = 0; i < 16; ++i)
        ASSERT_EQ(dest.data()[destBytes + i], 0xCD) << "overrun";
}

struct Entry {
    int type;
    orvane_data_type_definition* source;
    orvane_data_type_definition* dest;
    Family family;  // tail: the texture coordinates of the accelerated layouts
    bool accelerated;
};

const std::vector<Entry>& RegistryEntries() {
    static const std::vector<Entry> entries = {
        {2, OrvanePWNT3132VertexType, OrvanePNT332VertexType, {1, 1, 2}, true},
        {3, OrvanePWNGT31332VertexType, OrvanePNGT3332VertexType, {1, 2, 2}, true},
        {4, OrvanePWNGBT313332VertexType, OrvanePNGBT33332VertexType, {1, 3, 2}, true},
        {2, OrvanePWNT3232VertexType, OrvanePNT332VertexType, {2, 1, 2}, true},
        {3, OrvanePWNGT32332VertexType, OrvanePNGT3332VertexType, {2, 2, 2}, true},
        {4, OrvanePWNGBT323332VertexType, OrvanePNGBT33332VertexType, {2, 3, 2}, true},
        {2, OrvanePWNT3432VertexType, OrvanePNT332VertexType, {4, 1, 2}, true},
        {3, OrvanePWNGT34332VertexType, OrvanePNGT3332VertexType, {4, 2, 2}, true},
        {4, OrvanePWNGBT343332VertexType, OrvanePNGBT33332VertexType, {4, 3, 2}, true},
        {2, OrvanePNT332VertexType, OrvanePNT332VertexType, {0, 1, 2}, true},
        {3, OrvanePNGT3332VertexType, OrvanePNGT3332VertexType, {0, 2, 2}, true},
        {4, OrvanePNGBT33332VertexType, OrvanePNGBT33332VertexType, {0, 3, 2}, true},
        {2, OrvanePWN313VertexType, OrvanePN33VertexType, {1, 1, 0}, false},
        {3, OrvanePWNG3133VertexType, OrvanePNG333VertexType, {1, 2, 0}, false},
        {4, OrvanePWNGB31333VertexType, OrvanePNGB3333VertexType, {1, 3, 0}, false},
        {2, OrvanePWN323VertexType, OrvanePN33VertexType, {2, 1, 0}, false},
        {3, OrvanePWNG3233VertexType, OrvanePNG333VertexType, {2, 2, 0}, false},
        {4, OrvanePWNGB32333VertexType, OrvanePNGB3333VertexType, {2, 3, 0}, false},
        {2, OrvanePWN343VertexType, OrvanePN33VertexType, {4, 1, 0}, false},
        {3, OrvanePWNG3433VertexType, OrvanePNG333VertexType, {4, 2, 0}, false},
        {4, OrvanePWNGB34333VertexType, OrvanePNGB3333VertexType, {4, 3, 0}, false},
        {2, OrvanePN33VertexType, OrvanePN33VertexType, {0, 1, 0}, false},
        {3, OrvanePNG333VertexType, OrvanePNG333VertexType, {0, 2, 0}, false},
        {4, OrvanePNGB3333VertexType, OrvanePNGB3333VertexType, {0, 3, 0}, false},
    };
    return entries;
}

int32_t CounterCount(const char* name) {
    for (int32_t i = 0; i < OrvaneGetCounterCount(); ++i) {
        orvane_counter_results results = {};
        OrvaneGetCounterResults(i, &results);
        if (results.Name && std::string(results.Name) == name) return results.Count;
    }
    return -1;
}

// Runs first in this program: the bypass flags are once per process.
TEST(Deformers, MisalignedOneBoneRoutineReportsOnceAndFinishesGenerically) {
    if (!HostHasAcceleratedEntries()) GTEST_SKIP() << "no accelerated routines on this host";
    orvane_mesh_deformer* deformer =
        OrvaneNewMeshDeformer(OrvanePWNT3132VertexType, OrvanePNT332VertexType, 2);
    ASSERT_NE(deformer, nullptr);
    ASSERT_TRUE(OrvaneMeshDeformerIsAccelerated(deformer));
    const Workload w = MakeWorkload({1, 1, 2}, 5, 1);
    OrvaneResetCounters();
    {
        LogCapture log;
        ExpectSkinned(deformer, w, false, 0, 0, 0);
        EXPECT_EQ(log.messages().size(), 0u);
    }
    // Two pairs in the accelerated routine, the odd vertex in the generic one.
    EXPECT_EQ(CounterCount("SseDeformPWNT3132D"), 1);
    EXPECT_EQ(CounterCount("DeformPWN313D"), 1);
    {
        LogCapture log;
        ExpectSkinned(deformer, w, false, 0, 4, 0);
        ASSERT_EQ(log.errors(), 1u);
        EXPECT_EQ(log.messages()[0].origin, OrvaneDeformerOrigin);
        EXPECT_TRUE(
            log.Contains("SSE routine bypassed because the following pointers were not "
                         "aligned: DestVertices   (this message will only appear once)"));
        log.Clear();
        ExpectSkinned(deformer, w, false, 0, 4, 4);
        EXPECT_EQ(log.messages().size(), 0u);
    }
    EXPECT_EQ(CounterCount("DeformPWN313D"), 3);
    OrvaneFreeMeshDeformer(deformer);
}

TEST(Deformers, EveryEntryOnEveryPathMatchesTheReference) {
    const DeformerPath paths[] = {DeformerPath::Best, DeformerPath::Sse, DeformerPath::Generic};
    for (DeformerPath path : paths) {
        PathScope scope(path);
        for (const Entry& entry : RegistryEntries()) {
            orvane_mesh_deformer* deformer =
                OrvaneNewMeshDeformer(entry.source, entry.dest, entry.type);
            ASSERT_NE(deformer, nullptr);
            const bool accelerated =
                entry.accelerated && path != DeformerPath::Generic && HostHasAcceleratedEntries();
            EXPECT_EQ(OrvaneMeshDeformerIsAccelerated(deformer), accelerated);
            EXPECT_EQ(OrvaneGetMeshDeformerTailCopyWords(deformer),
                      accelerated ? 0 : entry.family.tail);
            EXPECT_EQ(OrvaneGetMeshDeformerSourceVertexSize(deformer),
                      OrvaneGetTotalObjectSize(entry.source));
            LogCapture quiet;  // bypass messages of misaligned runs
            for (int count : {1, 2, 7, 64}) {
                const Workload w = MakeWorkload(entry.family, count, 100u + count);
                for (bool indirect : {false, true}) {
                    ExpectSkinned(deformer, w, indirect, 0, 0, 0);
                    ExpectSkinned(deformer, w, indirect, 4, 8, 0);
                    ExpectSkinned(deformer, w, indirect, 0, 0, 4);
                    // Exactly sized heap blocks: the sanitizer build sees any access past a
                    // vertex array.
                    std::vector<uint8_t> exact(static_cast<size_t>(entry.family.destSize()) *
                                               count);
                    OrvaneDeformVertices(deformer, indirect ? w.table.data() : nullptr,
                                         w.matrices.data(), count, w.source.data(), exact.data());
                }
            }
            OrvaneFreeMeshDeformer(deformer);
        }
    }
}

TEST(Deformers, PrefixEntriesCopyTails) {
    // PWN343 + 3 words (a colour) into PN33 + 3 words.
    orvane_data_type_definition source[] = {
        OrvanePWN343VertexType[0],
        OrvanePWN343VertexType[1],
        OrvanePWN343VertexType[2],
        OrvanePWN343VertexType[3],
        {OrvaneReal32Member, "DiffuseColor0", nullptr, 3, {0, 0, 0}, 0},
        {OrvaneEndMember, nullptr, nullptr, 0, {0, 0, 0}, 0}};
    orvane_data_type_definition dest[] = {
        OrvanePN33VertexType[0],
        OrvanePN33VertexType[1],
        {OrvaneReal32Member, "DiffuseColor0", nullptr, 3, {0, 0, 0}, 0},
        {OrvaneEndMember, nullptr, nullptr, 0, {0, 0, 0}, 0}};
    for (DeformerPath path : {DeformerPath::Best, DeformerPath::Generic}) {
        PathScope scope(path);
        orvane_mesh_deformer* deformer = OrvaneNewMeshDeformer(source, dest, 2);
        ASSERT_NE(deformer, nullptr);
        EXPECT_EQ(OrvaneGetMeshDeformerTailCopyWords(deformer), 3);
        const Workload w = MakeWorkload({4, 1, 3}, 9, 7);
        ExpectSkinned(deformer, w, false, 0, 0, 0);
        ExpectSkinned(deformer, w, true, 4, 12, 0);
        OrvaneFreeMeshDeformer(deformer);
    }
}

TEST(DeformerRegistry, ChoicesForTheDocumentedExamples) {
    {
        orvane_mesh_deformer* d =
            OrvaneNewMeshDeformer(OrvanePWNGBT323332VertexType, OrvanePNGBT33332VertexType, 4);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(bool(OrvaneMeshDeformerIsAccelerated(d)), HostHasAcceleratedEntries());
        EXPECT_EQ(OrvaneGetMeshDeformerTailCopyWords(d), HostHasAcceleratedEntries() ? 0 : 2);
        OrvaneFreeMeshDeformer(d);
        PathScope scope(DeformerPath::Generic);
        d = OrvaneNewMeshDeformer(OrvanePWNGBT323332VertexType, OrvanePNGBT33332VertexType, 4);
        ASSERT_NE(d, nullptr);
        EXPECT_FALSE(OrvaneMeshDeformerIsAccelerated(d));
        EXPECT_EQ(OrvaneGetMeshDeformerTailCopyWords(d), 2);
        OrvaneFreeMeshDeformer(d);
    }
    // Other member names, same kinds and widths.
    orvane_data_type_definition renamed[5];
    std::memcpy(renamed, OrvanePWN343VertexType, sizeof(renamed));
    renamed[0].Name = "Where";
    renamed[3].Name = "Up";
    orvane_mesh_deformer* d = OrvaneNewMeshDeformer(renamed, OrvanePN33VertexType, 2);
    EXPECT_NE(d, nullptr);
    OrvaneFreeMeshDeformer(d);
    // Wrong type for the pair.
    EXPECT_EQ(OrvaneNewMeshDeformer(OrvanePWN343VertexType, OrvanePN33VertexType, 3), nullptr);
    EXPECT_EQ(OrvaneNewMeshDeformer(OrvanePWN343VertexType, OrvanePN33VertexType, 5), nullptr);

    auto extended = [](const orvane_data_type_definition* base, int members,
                       std::initializer_list<orvane_data_type_definition> tail) {
        std::vector<orvane_data_type_definition> type(base, base + members);
        type.insert(type.end(), tail);
        type.push_back({OrvaneEndMember, nullptr, nullptr, 0, {0, 0, 0}, 0});
        return type;
    };
    const orvane_data_type_definition uv3 = {
        OrvaneReal32Member, "TextureCoordinates0", nullptr, 3, {0, 0, 0}, 0};
    const orvane_data_type_definition uv2 = {
        OrvaneReal32Member, "TextureCoordinates0", nullptr, 2, {0, 0, 0}, 0};
    const orvane_data_type_definition u16 = {OrvaneUInt16Member, "Flags", nullptr, 0, {0, 0, 0}, 0};
    const orvane_data_type_definition u8x2 = {OrvaneUInt8Member, "Flags", nullptr, 2, {0, 0, 0}, 0};
    const orvane_data_type_definition u32 = {OrvaneUInt32Member, "Id", nullptr, 0, {0, 0, 0}, 0};
    LogCapture log;
    // Tails of 12 and 8 bytes.
    auto s = extended(OrvanePWN343VertexType, 4, {uv3});
    auto t = extended(OrvanePN33VertexType, 2, {uv2});
    EXPECT_EQ(OrvaneNewMeshDeformer(s.data(), t.data(), 2), nullptr);
    // Tails of 2 bytes.
    s = extended(OrvanePWN343VertexType, 4, {u16});
    t = extended(OrvanePN33VertexType, 2, {u8x2});
    EXPECT_EQ(OrvaneNewMeshDeformer(s.data(), t.data(), 2), nullptr);
    EXPECT_EQ(log.messages().size(), 0u);
    // Equal sizes, other layouts: used, with a warning.
    s = extended(OrvanePWN343VertexType, 4, {uv2});
    t = extended(OrvanePN33VertexType, 2, {u32, u32});
    d = OrvaneNewMeshDeformer(s.data(), t.data(), 2);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(OrvaneGetMeshDeformerTailCopyWords(d), 2);
    EXPECT_EQ(log.warnings(), 1u);
    EXPECT_TRUE(
        log.Contains("Using deformer whose tail copy size matches, but whose layout may "
                     "not be correct."));
    EXPECT_EQ(log.messages()[0].origin, OrvaneDeformerOrigin);
    OrvaneFreeMeshDeformer(d);
    EXPECT_EQ(OrvaneNewMeshDeformer(nullptr, OrvanePN33VertexType, 2), nullptr);
}

TEST(DeformerRegistry, LayoutsOfUnknownSizeGetNoDeformer) {
    // Tails that match member for member but that the type system cannot size: a kind it does
    // not know, a negative width. The layouts' sizes say nothing of the vertices, so a routine
    // would write past a destination sized by them.
    const orvane_data_type_definition unknownKind = {999, "Extra", nullptr, 1, {0, 0, 0}, 0};
    const orvane_data_type_definition negativeWidth = {OrvaneUInt32Member, "Extra", nullptr, -2,
                                                       {0, 0, 0},          0};
    const orvane_data_type_definition end = {OrvaneEndMember, nullptr, nullptr, 0, {0, 0, 0}, 0};
    for (const orvane_data_type_definition& extra : {unknownKind, negativeWidth}) {
        std::vector<orvane_data_type_definition> source(OrvanePWN343VertexType,
                                                        OrvanePWN343VertexType + 4);
        std::vector<orvane_data_type_definition> dest(OrvanePN33VertexType,
                                                      OrvanePN33VertexType + 2);
        source.push_back(extra);
        source.push_back(end);
        dest.push_back(extra);
        dest.push_back(end);
        for (DeformerPath path : {DeformerPath::Best, DeformerPath::Generic}) {
            PathScope scope(path);
            LogCapture log;
            EXPECT_EQ(OrvaneNewMeshDeformer(source.data(), dest.data(), 2), nullptr)
                << "kind " << extra.Type << " width " << extra.ArrayWidth;
            EXPECT_EQ(log.messages().size(), 0u);
        }
    }
}

TEST(Deformers, ZeroWeightSlotsContributeNothing) {
    orvane_pwn323_vertex v = {{1, 2, 3}, {255, 0}, {0, 1}, {0, 1, 0}};
    float matrices[32] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 10, 20, 30, 1};
    for (int i = 16; i < 32; ++i)
        matrices[i] = 1e30f;
    orvane_mesh_deformer* d =
        OrvaneNewMeshDeformer(OrvanePWN323VertexType, OrvanePN33VertexType, 2);
    for (DeformerPath path : {DeformerPath::Best, DeformerPath::Generic}) {
        PathScope scope(path);
        orvane_pn33_vertex out;
        OrvaneDeformVertices(d, nullptr, matrices, 1, &v, &out);
        EXPECT_NEAR(out.Position[0], 11.0f, 1e-4f);
        EXPECT_NEAR(out.Position[2], 33.0f, 1e-4f);
        EXPECT_NEAR(out.Normal[1], 1.0f, 1e-6f);
    }
    // A count of 0 or less does nothing; null arguments are refused.
    orvane_pn33_vertex untouched = {{7, 7, 7}, {7, 7, 7}};
    OrvaneDeformVertices(d, nullptr, matrices, 0, &v, &untouched);
    {
        LogCapture log;
        OrvaneDeformVertices(d, nullptr, nullptr, 1, &v, &untouched);
        EXPECT_EQ(log.errors(), 1u);
    }
    EXPECT_EQ(untouched.Position[0], 7.0f);
    OrvaneFreeMeshDeformer(d);
}

// Four-slot vertices whose weights leave slots unused (one, two, three or four in use, in runs
// and alone, an unused slot before a used one, all four empty) match the reference on every
// path: the kernels blend only the slots in use, which must add up to the same matrix. A lone
// whole weight takes its bone's matrix as it is; a lone partial one must still scale it.
TEST(Deformers, FourSlotVerticesUsingFewerSlotsMatchTheReference) {
    const uint8_t patterns[][4] = {
        {255, 0, 0, 0}, {128, 127, 0, 0}, {0, 255, 0, 0}, {0, 0, 0, 255}, {100, 0, 155, 0},
        {0, 0, 0, 0},   {60, 60, 60, 75}, {1, 0, 0, 254}, {0, 0, 255, 0}, {200, 0, 0, 0}};
    constexpr int kPatterns = int(sizeof(patterns) / sizeof(patterns[0]));
    const Entry entries[] = {
        {2, OrvanePWN343VertexType, OrvanePN33VertexType, {4, 1, 0}, false},
        {4, OrvanePWNGB34333VertexType, OrvanePNGB3333VertexType, {4, 3, 0}, false},
        {2, OrvanePWNT3432VertexType, OrvanePNT332VertexType, {4, 1, 2}, true},
    };
    for (DeformerPath path : {DeformerPath::Best, DeformerPath::Sse, DeformerPath::Generic}) {
        PathScope scope(path);
        for (const Entry& entry : entries) {
            orvane_mesh_deformer* deformer =
                OrvaneNewMeshDeformer(entry.source, entry.dest, entry.type);
            ASSERT_NE(deformer, nullptr);
            Workload w = MakeWorkload(entry.family, 90, 7u);
            for (int v = 0; v < w.count; ++v) {
                // Runs of three of a pattern, then each pattern alone.
                const int k = v < 3 * kPatterns ? (v / 3) % kPatterns : v % kPatterns;
                std::memcpy(&w.source[static_cast<size_t>(entry.family.sourceSize()) * v + 12],
                            patterns[k], 4);
            }
            LogCapture quiet;  // bypass messages of misaligned runs
            for (bool indirect : {false, true})
                ExpectSkinned(deformer, w, indirect, 0, 0, 0);
            OrvaneFreeMeshDeformer(deformer);
        }
    }
}

TEST(Deformers, TwoThreadsSkinTwoMeshesAtOnce) {
    // The generic blending routines keep their blended matrix per call.
    PathScope scope(DeformerPath::Generic);
    orvane_mesh_deformer* d =
        OrvaneNewMeshDeformer(OrvanePWNG3433VertexType, OrvanePNG333VertexType, 3);
    ASSERT_NE(d, nullptr);
    const Workload a = MakeWorkload({4, 2, 0}, 3000, 11), b = MakeWorkload({4, 2, 0}, 3000, 12);
    auto skin = [d](const Workload& w, std::vector<uint8_t>* out) {
        out->assign(static_cast<size_t>(w.family.destSize()) * w.count, 0);
        for (int repeat = 0; repeat < 20; ++repeat)
            OrvaneDeformVertices(d, nullptr, w.matrices.data(), w.count, w.source.data(),
                                 out->data());
    };
    std::vector<uint8_t> alone, together[2];
    skin(a, &alone);
    std::thread first([&] { skin(a, &together[0]); });
    std::thread second([&] { skin(b, &together[1]); });
    first.join();
    second.join();
    EXPECT_EQ(alone, together[0]);
    OrvaneFreeMeshDeformer(d);
}

// Hosts without processes of their own (WebAssembly) have no death tests.
#if GTEST_HAS_DEATH_TEST
// The first deformer requests of a process, from several threads at the same moment: run in a
// fresh child process so that the registry has not been built yet.
void FirstRequestsRaceAndExit() {
    constexpr int kThreads = 4;
    std::atomic<int> waiting{kThreads};
    orvane_mesh_deformer* deformers[kThreads] = {};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            waiting.fetch_sub(1);
            while (waiting.load() > 0) {
            }
            deformers[t] =
                OrvaneNewMeshDeformer(OrvanePWNT3432VertexType, OrvanePNT332VertexType, 2);
        });
    for (auto& thread : threads)
        thread.join();
    const Workload w = MakeWorkload({4, 1, 2}, 33, 5);
    std::vector<uint8_t> first, other;
    int failures = 0;
    for (int t = 0; t < kThreads; ++t) {
        if (deformers[t] == nullptr || !OrvaneMeshDeformerIsAccelerated(deformers[t])) {
            ++failures;
            continue;
        }
        std::vector<uint8_t>& out = t == 0 ? first : other;
        out.assign(static_cast<size_t>(w.family.destSize()) * w.count, 0);
        OrvaneDeformVertices(deformers[t], nullptr, w.matrices.data(), w.count, w.source.data(),
                             out.data());
        if (t > 0 && out != first) ++failures;
        OrvaneFreeMeshDeformer(deformers[t]);
    }
    std::exit(failures == 0 ? 0 : 1);
}

TEST(DeformerRegistryDeathTest, FirstRequestsFromSeveralThreadsAtOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(FirstRequestsRaceAndExit(), ::testing::ExitedWithCode(0), "");
}
#endif

}  // namespace

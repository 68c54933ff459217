// Mesh deformers: the registry, the choice of a deformer for a pair of layouts, the routines
// that the registry hands out (each timed under its own name) and the generic scalar kernels.
//
// Registry order: when the processor has SSE, the 12 exact accelerated entries, then always the
// 12 generic prefix entries. Both halves follow the same pattern, bone count 1, 2, 4 then rigid,
// each with 1, 2 and 3 directions, so the generic entry of accelerated entry e is e + 12: that
// is the routine an accelerated routine falls back to, with its texture coordinates as a tail
// of 2 words.
#include "mesh/orvane_deformer.h"

#include <atomic>
#include <mutex>

#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "diag/orvane_timing.h"
#include "mesh/orvane_vertex_layout.h"
#include "platform/orvane_platform.h"

namespace orvane {
namespace {

// ------------------------------------------------------------------------------------------
// Scalar kernels

template <int Bones, int Dirs, bool Indirect>
void ScalarKernel(int32_t count, const uint8_t* source, uint8_t* dest, const int32_t* table,
                  const float* matrices, int32_t tailWords) {
    constexpr int kBoneBytes = BoneBytes(Bones);
    constexpr int kSourcePrefix = SourcePrefixBytes(Bones, Dirs);
    constexpr int kDestPrefix = DestPrefixBytes(Dirs);
    const VertexStrides stride = StridesOf(Bones, Dirs, tailWords);
    const float* rigid = Bones == 0 ? MatrixFor<Indirect>(matrices, table, 0) : nullptr;
    for (int32_t v = 0; v < count; ++v, source += stride.source, dest += stride.dest) {
        // The blended matrix lives on this call's stack. Column 3 never reaches a result, but
        // blending all 16 elements lets the compiler keep each row in one vector register.
        float blended[16];
        const float* M;
        if constexpr (Bones == 0) {
            M = rigid;
        } else if constexpr (Bones == 1) {
            uint32_t bone;
            std::memcpy(&bone, source + 12, 4);
            M = MatrixFor<Indirect>(matrices, table, bone);
        } else {
            const uint8_t* weights = source + 12;
            const uint8_t* bones = source + 12 + Bones;
            const float* M0 = MatrixFor<Indirect>(matrices, table, bones[0]);
            const float w0 = weights[0] * kWeightScale;
#pragma GCC unroll 16
            for (int i = 0; i < 16; ++i)
                blended[i] = w0 * M0[i];
#pragma GCC unroll 4
            for (int k = 1; k < Bones; ++k) {
                const float* Mk = MatrixFor<Indirect>(matrices, table, bones[k]);
                const float w = weights[k] * kWeightScale;
#pragma GCC unroll 16
                for (int i = 0; i < 16; ++i)
                    blended[i] += w * Mk[i];
            }
            M = blended;
        }
        float p[3], out[3];
        std::memcpy(p, source, 12);
        for (int c = 0; c < 3; ++c)
            out[c] = p[0] * M[c] + p[1] * M[4 + c] + p[2] * M[8 + c] + M[12 + c];
        std::memcpy(dest, out, 12);
        for (int k = 0; k < Dirs; ++k) {
            std::memcpy(p, source + 12 + kBoneBytes + 12 * k, 12);
            for (int c = 0; c < 3; ++c)
                out[c] = p[0] * M[c] + p[1] * M[4 + c] + p[2] * M[8 + c];
            std::memcpy(dest + 12 + 12 * k, out, 12);
        }
        CopyTailWords(dest + kDestPrefix, source + kSourcePrefix, tailWords);
    }
}

struct ScalarPath {
    template <int Bones, int Dirs, bool Indirect>
    static constexpr DeformKernel kKernel = &ScalarKernel<Bones, Dirs, Indirect>;
};

// ------------------------------------------------------------------------------------------
// Processor features and the path switch

std::atomic<int32_t> g_path{static_cast<int32_t>(DeformerPath::Best)};

}  // namespace

DeformKernel ScalarDeformKernel(int bones, int dirs, bool indirect) {
    return SelectDeformKernel<ScalarPath>(bones, dirs, indirect);
}

void SetDeformerPath(DeformerPath path) {
    g_path.store(static_cast<int32_t>(path), std::memory_order_relaxed);
}

DeformerPath GetDeformerPath() {
    return static_cast<DeformerPath>(g_path.load(std::memory_order_relaxed));
}

bool ProcessorHasAvx2Fma() {
    static const bool has = platform::ProcessorHasAVX2AndFMA();
    return has;
}

namespace {

// ------------------------------------------------------------------------------------------
// The registry

struct EntryInfo {
    int32_t type;
    orvane_data_type_definition* source;
    orvane_data_type_definition* dest;
    const char* directName;  // null: the routine has no counter of its own
    const char* indirectName;
};

constexpr int kEntryCount = 24;
constexpr int kAcceleratedCount = 12;

const EntryInfo kEntries[kEntryCount] = {
    {2, g_pwnt3132Vertex, g_pnt332Vertex, "SseDeformPWNT3132D", "SseDeformPWNT3132I"},
    {3, g_pwngt31332Vertex, g_pngt3332Vertex, "GeneratedSSEDeformPWNGT31332D",
     "GeneratedSSEDeformPWNGT31332I"},
    {4, g_pwngbt313332Vertex, g_pngbt33332Vertex, "GeneratedSSEDeformPWNGBT313332D",
     "GeneratedSSEDeformPWNGBT313332I"},
    {2, g_pwnt3232Vertex, g_pnt332Vertex, "SseDeformPWNT3232D", "SseDeformPWNT3232I"},
    {3, g_pwngt32332Vertex, g_pngt3332Vertex, "GeneratedSSEDeformPWNGT32332D",
     "GeneratedSSEDeformPWNGT32332I"},
    {4, g_pwngbt323332Vertex, g_pngbt33332Vertex, "GeneratedSSEDeformPWNGBT323332D",
     "GeneratedSSEDeformPWNGBT323332I"},
    {2, g_pwnt3432Vertex, g_pnt332Vertex, "SseDeformPWNT3432D", "SseDeformPWNT3432I"},
    {3, g_pwngt34332Vertex, g_pngt3332Vertex, "GeneratedSSEDeformPWNGT34332D",
     "GeneratedSSEDeformPWNGT34332I"},
    {4, g_pwngbt343332Vertex, g_pngbt33332Vertex, "GeneratedSSEDeformPWNGBT343332D",
     "GeneratedSSEDeformPWNGBT343332I"},
    {2, g_pnt332Vertex, g_pnt332Vertex, nullptr, nullptr},
    {3, g_pngt3332Vertex, g_pngt3332Vertex, "GeneratedSSEDeformPNGT3332D",
     "GeneratedSSEDeformPNGT3332I"},
    {4, g_pngbt33332Vertex, g_pngbt33332Vertex, "GeneratedSSEDeformPNGBT33332D",
     "GeneratedSSEDeformPNGBT33332I"},
    {2, g_pwn313Vertex, g_pn33Vertex, "DeformPWN313D", "DeformPWN313I"},
    {3, g_pwng3133Vertex, g_png333Vertex, "GeneratedDeformPWNG3133D", "GeneratedDeformPWNG3133I"},
    {4, g_pwngb31333Vertex, g_pngb3333Vertex, "DeformPWNGB31333D", "DeformPWNGB31333I"},
    {2, g_pwn323Vertex, g_pn33Vertex, "GeneratedDeformPWN323D", "GeneratedDeformPWN323I"},
    {3, g_pwng3233Vertex, g_png333Vertex, "GeneratedDeformPWNG3233D", "GeneratedDeformPWNG3233I"},
    {4, g_pwngb32333Vertex, g_pngb3333Vertex, "GeneratedDeformPWNGB32333D",
     "GeneratedDeformPWNGB32333I"},
    {2, g_pwn343Vertex, g_pn33Vertex, "GeneratedDeformPWN343D", "GeneratedDeformPWN343I"},
    {3, g_pwng3433Vertex, g_png333Vertex, "GeneratedDeformPWNG3433D", "GeneratedDeformPWNG3433I"},
    {4, g_pwngb34333Vertex, g_pngb3333Vertex, "GeneratedDeformPWNGB34333D",
     "GeneratedDeformPWNGB34333I"},
    {2, g_pn33Vertex, g_pn33Vertex, "DeformPN33D", "DeformPN33I"},
    {3, g_png333Vertex, g_png333Vertex, "GeneratedDeformPNG333D", "GeneratedDeformPNG333I"},
    {4, g_pngb3333Vertex, g_pngb3333Vertex, "DeformPNGB3333D", "DeformPNGB3333I"},
};

constexpr int kBonesOfSlot[4] = {1, 2, 4, 0};
constexpr int BonesOf(int entry) {
    return kBonesOfSlot[(entry % kAcceleratedCount) / 3];
}
constexpr int DirsOf(int entry) {
    return entry % 3 + 1;
}

// Written once inside the registry's set-up, read by routines only after a deformer was
// handed out (std::call_once orders the two).
TimingBlock* g_timing[kEntryCount][2];

struct Registry {
    orvane_mesh_deformer entries[kEntryCount];
    int32_t count;
};

// ------------------------------------------------------------------------------------------
// Routines

template <int Entry, bool Indirect>
void Run(int32_t count, const void* source, void* dest, const int32_t* table, const float* matrices,
         int32_t tailWords);

// The vector kernel of the current path: AVX2 on the best path when available, else SSE; null
// when neither exists (off x86).
DeformKernel VectorKernel(int bones, int dirs, bool indirect) {
    DeformKernel kernel = nullptr;
    if (GetDeformerPath() == DeformerPath::Best && ProcessorHasAvx2Fma())
        kernel = Avx2DeformKernel(bones, dirs, indirect);
    if (kernel == nullptr) kernel = SseDeformKernel(bones, dirs, indirect);
    return kernel;
}

// Generic entries: the vector kernel of the current path when there is one, else scalar code.
template <int Entry, bool Indirect>
void RunGeneric(int32_t count, const void* source, void* dest, const int32_t* table,
                const float* matrices, int32_t tailWords) {
    TimingScope scope(g_timing[Entry][Indirect]);
    constexpr int kBones = BonesOf(Entry), kDirs = DirsOf(Entry);
    DeformKernel kernel = nullptr;
    if (GetDeformerPath() != DeformerPath::Generic) kernel = VectorKernel(kBones, kDirs, Indirect);
    if (kernel == nullptr) kernel = &ScalarKernel<kBones, kDirs, Indirect>;
    kernel(count, static_cast<const uint8_t*>(source), static_cast<uint8_t*>(dest), table, matrices,
           tailWords);
}

bool IsAligned16(const void* p) {
    return (reinterpret_cast<uintptr_t>(p) & 15u) == 0;
}

// The one-time bypass message of one routine.
void ReportBypass(std::atomic<bool>& reported, bool matrices, bool source, bool dest) {
    if (reported.exchange(true, std::memory_order_relaxed)) return;
    ORVANE_LOG_ERROR(OrvaneDeformerOrigin,
                     "SSE routine bypassed because the following pointers were not aligned: "
                     "%s%s%s  (this message will only appear once)",
                     matrices ? "MatrixBuffer4x4 " : "", source ? "SourceVertices " : "",
                     dest ? "DestVertices " : "");
}

// Accelerated entries. The PWNT routines (type 2, with bones) and the rigid pair routine need
// 16-byte aligned matrices and destination (the rigid one also source) and otherwise report
// once and run the generic routine; the others need aligned matrices and fall back silently.
// The one-bone PWNT and rigid pair routines skin pairs and leave an odd last vertex to the
// generic routine. The caller's tail words are 0 for these exact entries: texture
// coordinates are the 2-word tail of the kernel.
template <int Entry, bool Indirect>
void RunAccelerated(int32_t count, const void* source, void* dest, const int32_t* table,
                    const float* matrices, int32_t /*tailWords*/) {
    constexpr int kBones = BonesOf(Entry), kDirs = DirsOf(Entry);
    constexpr bool kStrict = kDirs == 1;  // the PWNT routines and the rigid pair routine
    constexpr bool kPairs = kStrict && kBones <= 1;
    constexpr bool kChecksSource = kStrict && kBones == 0;
    TimingScope scope(kBones == 0 && kDirs == 1 ? nullptr : g_timing[Entry][Indirect]);
    const bool matricesMisaligned = !IsAligned16(matrices);
    const bool destMisaligned = kStrict && !IsAligned16(dest);
    const bool sourceMisaligned = kChecksSource && !IsAligned16(source);
    DeformKernel kernel = VectorKernel(kBones, kDirs, Indirect);
    if (matricesMisaligned || destMisaligned || sourceMisaligned || kernel == nullptr) {
        if (kStrict && kernel != nullptr) {
            static std::atomic<bool> reported{false};
            ReportBypass(reported, matricesMisaligned, sourceMisaligned, destMisaligned);
        }
        Run<Entry + kAcceleratedCount, Indirect>(count, source, dest, table, matrices, 2);
        return;
    }
    const int32_t kernelCount = kPairs ? count & ~1 : count;
    kernel(kernelCount, static_cast<const uint8_t*>(source), static_cast<uint8_t*>(dest), table,
           matrices, 2);
    if (kernelCount < count) {
        constexpr size_t kSourceStride = SourcePrefixBytes(kBones, kDirs) + 8;
        constexpr size_t kDestStride = DestPrefixBytes(kDirs) + 8;
        Run<Entry + kAcceleratedCount, Indirect>(
            1, static_cast<const uint8_t*>(source) + kSourceStride * kernelCount,
            static_cast<uint8_t*>(dest) + kDestStride * kernelCount, table, matrices, 2);
    }
}

template <int Entry, bool Indirect>
void Run(int32_t count, const void* source, void* dest, const int32_t* table, const float* matrices,
         int32_t tailWords) {
    if constexpr (Entry < kAcceleratedCount)
        RunAccelerated<Entry, Indirect>(count, source, dest, table, matrices, tailWords);
    else
        RunGeneric<Entry, Indirect>(count, source, dest, table, matrices, tailWords);
}

template <int Entry>
void Direct(int32_t count, const void* source, void* dest, const float* matrices,
            int32_t tailWords) {
    Run<Entry, false>(count, source, dest, nullptr, matrices, tailWords);
}

template <int Entry>
void Indirect(int32_t count, const void* source, void* dest, const int32_t* table,
              const float* matrices, int32_t tailWords) {
    Run<Entry, true>(count, source, dest, table, matrices, tailWords);
}

template <int... Entry>
constexpr DirectDeformRoutine kDirect[] = {&Direct<Entry>...};
template <int... Entry>
constexpr IndirectDeformRoutine kIndirect[] = {&Indirect<Entry>...};

#define ORVANE_DEFORMER_ENTRIES \
    0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23
constexpr const DirectDeformRoutine* kDirectRoutines = kDirect<ORVANE_DEFORMER_ENTRIES>;
constexpr const IndirectDeformRoutine* kIndirectRoutines = kIndirect<ORVANE_DEFORMER_ENTRIES>;
#undef ORVANE_DEFORMER_ENTRIES

const Registry& GetRegistry() {
    static Registry registry;
    static std::once_flag once;
    std::call_once(once, [] {
        for (int e = 0; e < kEntryCount; ++e) {
            g_timing[e][0] =
                kEntries[e].directName ? RegisterTimingBlock(kEntries[e].directName) : nullptr;
            g_timing[e][1] =
                kEntries[e].indirectName ? RegisterTimingBlock(kEntries[e].indirectName) : nullptr;
        }
        const int first = platform::ProcessorHasSSE() ? 0 : kAcceleratedCount;
        registry.count = 0;
        for (int e = first; e < kEntryCount; ++e) {
            const bool accelerated = e < kAcceleratedCount;
            registry.entries[registry.count++] = {kEntries[e].type,
                                                  kDirectRoutines[e],
                                                  kIndirectRoutines[e],
                                                  kEntries[e].source,
                                                  kEntries[e].dest,
                                                  accelerated ? 0 : 1,
                                                  0,
                                                  accelerated};
        }
    });
    return registry;
}

}  // namespace

}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API orvane_mesh_deformer* OrvaneNewMeshDeformer(
    const orvane_data_type_definition* SourceLayout, const orvane_data_type_definition* DestLayout,
    orvane_int32 DeformationType) {
    const Registry& registry = GetRegistry();
    if (SourceLayout == nullptr || DestLayout == nullptr) return nullptr;
    const bool genericOnly = GetDeformerPath() == DeformerPath::Generic;
    for (int32_t e = 0; e < registry.count; ++e) {
        const orvane_mesh_deformer& entry = registry.entries[e];
        if (entry.DeformationType != DeformationType) continue;
        if (entry.Accelerated && genericOnly) continue;
        int32_t tailWords = 0;
        if (entry.TailCopyWords == 0) {
            if (!OrvaneDataTypesAreEqual(SourceLayout, entry.SourceLayout) ||
                !OrvaneDataTypesAreEqual(DestLayout, entry.DestLayout))
                continue;
        } else {
            const orvane_data_type_definition* sourceTail =
                OrvaneDataTypeBeginsWith(SourceLayout, entry.SourceLayout);
            const orvane_data_type_definition* destTail =
                OrvaneDataTypeBeginsWith(DestLayout, entry.DestLayout);
            if (sourceTail == nullptr || destTail == nullptr) continue;
            const int32_t tailSize = OrvaneGetTotalObjectSize(sourceTail);
            if (tailSize != OrvaneGetTotalObjectSize(destTail) || tailSize % 4 != 0) continue;
            // A tail the type system cannot size (a member of no known kind or of negative
            // width) sizes as 0 and so does its whole layout: such layouts do not describe the
            // vertices the routine would walk and write.
            if (OrvaneGetTotalObjectSize(SourceLayout) !=
                    OrvaneGetTotalObjectSize(entry.SourceLayout) + tailSize ||
                OrvaneGetTotalObjectSize(DestLayout) !=
                    OrvaneGetTotalObjectSize(entry.DestLayout) + tailSize)
                continue;
            if (!OrvaneDataTypesAreEqual(sourceTail, destTail))
                ORVANE_LOG_WARNING(OrvaneDeformerOrigin,
                                   "Using deformer whose tail copy size matches, but whose "
                                   "layout may not be correct.");
            tailWords = tailSize / 4;
        }
        auto* deformer = static_cast<orvane_mesh_deformer*>(
            ORVANE_ALLOCATE(alignof(orvane_mesh_deformer), sizeof(orvane_mesh_deformer)));
        if (deformer == nullptr) return nullptr;
        *deformer = entry;
        deformer->TailCopyWords = tailWords;
        deformer->SourceVertexSize = OrvaneGetTotalObjectSize(SourceLayout);
        return deformer;
    }
    return nullptr;
}

ORVANE_API void OrvaneFreeMeshDeformer(orvane_mesh_deformer* Deformer) {
    if (Deformer) ORVANE_DEALLOCATE(Deformer);
}

ORVANE_API void OrvaneDeformVertices(const orvane_mesh_deformer* Deformer,
                                     const orvane_int32* MatrixIndices,
                                     const orvane_real32* Matrices4x4, orvane_int32 Count,
                                     const void* Source, void* Dest) {
    if (Count <= 0) return;
    ORVANE_CHECK_NOT_NULL(OrvaneDeformerOrigin, Deformer, );
    ORVANE_CHECK_NOT_NULL(OrvaneDeformerOrigin, Matrices4x4, );
    ORVANE_CHECK_NOT_NULL(OrvaneDeformerOrigin, Source, );
    ORVANE_CHECK_NOT_NULL(OrvaneDeformerOrigin, Dest, );
    ORVANE_TIMING_BLOCK("DeformVertices");
    if (MatrixIndices)
        Deformer->IndirectRoutine(Count, Source, Dest, MatrixIndices, Matrices4x4,
                                  Deformer->TailCopyWords);
    else
        Deformer->DirectRoutine(Count, Source, Dest, Matrices4x4, Deformer->TailCopyWords);
}

ORVANE_API orvane_int32 OrvaneGetMeshDeformerTailCopyWords(const orvane_mesh_deformer* Deformer) {
    return Deformer ? Deformer->TailCopyWords : 0;
}

ORVANE_API orvane_int32
OrvaneGetMeshDeformerSourceVertexSize(const orvane_mesh_deformer* Deformer) {
    return Deformer ? Deformer->SourceVertexSize : 0;
}

ORVANE_API orvane_bool OrvaneMeshDeformerIsAccelerated(const orvane_mesh_deformer* Deformer) {
    return Deformer != nullptr && Deformer->Accelerated;
}

}  // extern "C"

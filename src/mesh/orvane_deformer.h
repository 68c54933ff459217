// Mesh deformers: the registry record, the skinning kernels shared by the generic and the
// processor-specific routines, and the switch that forces a path.
//
// A kernel skins Count vertices of one layout family: Bones is 0 (rigid: one matrix for every
// vertex), 1 (a 32-bit index, no weight), 2 or 4 (weight bytes, then index bytes); Dirs is 1, 2
// or 3 (normal, tangent, binormal follow the bone data, 3 reals each). The source vertex is
// position, bone data, directions, then TailWords 32-bit words copied unchanged; the
// destination is position, directions, the same tail. Kernels read matrices straight from the
// caller's array (16 reals each, row vectors): they trust every bone index and table entry,
// which the mesh binding checks once (OrvaneVertexBoneIndicesAreInRange). Kernels keep their
// scratch in registers or on the stack, so any number of threads may skin at once. Source and
// destination must not overlap. No kernel needs any alignment; the routines that the registry
// hands out still honour the alignment rules of the accelerated entries (see
// orvane_deformer.cpp).
#ifndef ORVANE_DEFORMER_H
#define ORVANE_DEFORMER_H

#include "core/orvane_private.h"
#include "orvane/mesh.h"
#include "orvane/deformer.h"

#include <cstdint>
#include <cstring>

namespace orvane {

using DirectDeformRoutine = void (*)(int32_t count, const void* source, void* dest,
                                     const float* matrices, int32_t tailWords);
using IndirectDeformRoutine = void (*)(int32_t count, const void* source, void* dest,
                                       const int32_t* matrixIndices, const float* matrices,
                                       int32_t tailWords);

}  // namespace orvane

// Registry entries and created deformers share this record. In an entry, TailCopyWords is 1
// for entries that accept layouts beginning with theirs (generic) and 0 for exact ones
// (accelerated); in a created deformer it is the tail's word count.
struct orvane_mesh_deformer {
    int32_t DeformationType;
    orvane::DirectDeformRoutine DirectRoutine;
    orvane::IndirectDeformRoutine IndirectRoutine;
    const orvane_data_type_definition* SourceLayout;
    const orvane_data_type_definition* DestLayout;
    int32_t TailCopyWords;
    int32_t SourceVertexSize;
    bool Accelerated;
};

namespace orvane {

using DeformKernel = void (*)(int32_t count, const uint8_t* source, uint8_t* dest,
                              const int32_t* matrixIndices, const float* matrices,
                              int32_t tailWords);

// Which implementation runs. Best: AVX2/FMA kernels where the processor has them, else SSE.
// Sse: SSE kernels. Both serve the accelerated and the generic entries. Generic: scalar code
// everywhere, and the registry offers only its generic entries, as on a processor without SSE.
// Tests use the switch to cover every path on one machine; it may be changed at any time
// (calls already running finish on the path they chose).
enum class DeformerPath : int32_t { Best = 0, Sse = 1, Generic = 2 };
void SetDeformerPath(DeformerPath path);
DeformerPath GetDeformerPath();
// True when the processor (and the operating system) supports AVX2 and FMA; tested once.
bool ProcessorHasAvx2Fma();

// Slot of a bone count in the kernel tables: 1 -> 0, 2 -> 1, 4 -> 2, rigid (0) -> 3.
constexpr int BoneSlot(int bones) {
    return bones == 1 ? 0 : bones == 2 ? 1 : bones == 4 ? 2 : 3;
}

// The table of one implementation's kernels, written once over the implementation P, which
// names its kernel for Bones (1, 2, 4, or 0 for rigid), Dirs (1..3) and indirectness as
// P::template kKernel<Bones, Dirs, Indirect>. Each implementation's module instantiates it,
// so the kernels stay in the module compiled for their instruction set.
template <class P, int Bones>
inline constexpr DeformKernel kDeformKernelRow[3][2] = {
    {P::template kKernel<Bones, 1, false>, P::template kKernel<Bones, 1, true>},
    {P::template kKernel<Bones, 2, false>, P::template kKernel<Bones, 2, true>},
    {P::template kKernel<Bones, 3, false>, P::template kKernel<Bones, 3, true>}};

template <class P>
DeformKernel SelectDeformKernel(int bones, int dirs, bool indirect) {
    switch (BoneSlot(bones)) {
        case 0:
            return kDeformKernelRow<P, 1>[dirs - 1][indirect];
        case 1:
            return kDeformKernelRow<P, 2>[dirs - 1][indirect];
        case 2:
            return kDeformKernelRow<P, 4>[dirs - 1][indirect];
        default:
            return kDeformKernelRow<P, 0>[dirs - 1][indirect];
    }
}

// The kernels of each implementation, by BoneSlot, Dirs - 1 and indirectness. The SSE and
// AVX2 tables are null off x86; an AVX2 kernel must only run when ProcessorHasAvx2Fma().
DeformKernel ScalarDeformKernel(int bones, int dirs, bool indirect);
DeformKernel SseDeformKernel(int bones, int dirs, bool indirect);
DeformKernel Avx2DeformKernel(int bones, int dirs, bool indirect);

// 1/255 as the single-precision constant that weight bytes are scaled by.
constexpr float kWeightScale = 0.003921569f;

// Byte sizes of a family's deformed parts: the bone bytes after the position (a 32-bit index
// for one bone, else a weight and an index byte per bone), and the source and destination
// prefixes before the tail.
constexpr int BoneBytes(int bones) {
    return bones == 0 ? 0 : bones == 1 ? 4 : 2 * bones;
}
constexpr int SourcePrefixBytes(int bones, int dirs) {
    return 12 + BoneBytes(bones) + 12 * dirs;
}
constexpr int DestPrefixBytes(int dirs) {
    return 12 + 12 * dirs;
}

// The distances from one vertex to the next of a family whose tail holds tailWords words.
struct VertexStrides {
    size_t source, dest;
};
constexpr VertexStrides StridesOf(int bones, int dirs, int32_t tailWords) {
    const size_t tailBytes = static_cast<size_t>(tailWords) * 4;
    return {SourcePrefixBytes(bones, dirs) + tailBytes, DestPrefixBytes(dirs) + tailBytes};
}

// The tail copy: whole 32-bit words; texture coordinates (2 words) are the common case.
inline void CopyTailWords(uint8_t* dest, const uint8_t* source, int32_t words) {
    if (words == 2)
        std::memcpy(dest, source, 8);
    else if (words > 0)
        std::memcpy(dest, source, static_cast<size_t>(words) * 4);
}

// The matrix a bone index names: through the table (indirect) or directly.
template <bool Indirect>
inline const float* MatrixFor(const float* matrices, const int32_t* table, uint32_t bone) {
    const uint32_t number = Indirect ? static_cast<uint32_t>(table[bone]) : bone;
    return matrices + static_cast<size_t>(number) * 16;
}

}  // namespace orvane

#endif  // ORVANE_DEFORMER_H

// Mesh bindings: a mesh's bone bindings tied by name to bones of the skeleton whose world pose
// deforms it (and, for a transferred binding, of the skeleton whose bind pose its vertices are
// in), and the skinning matrices built from world matrices.
//
// A binding is where loaded data meets the per-frame path, so it is where the data is checked:
// once, when the binding is built, every bone index of the mesh's vertices is checked against
// the binding's bone count, and every bound bone against its skeleton. Building matrices then
// checks only the caller's ranges and the size of the world matrix array (against the largest
// bound index, per call), and the deformers run without checks.
#include "mesh/orvane_mesh_binding.h"

#include <cfloat>
#include <cmath>
#include <cstring>

#include "track/orvane_content_checks.h"
#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "math/orvane_math_internal.h"
#include "orvane/mesh.h"
#include "orvane/skeleton.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

// In 64 bits on every host: a count from a file times 4 or 8 bytes wraps a 32-bit size_t to a
// small size, and the binding's arrays would be written past a block of that size.
uint64_t BindingBytes(int32_t boneCount, bool transferred) {
    const uint64_t arrays = static_cast<uint64_t>(boneCount) * sizeof(orvane_int32);
    return sizeof(orvane_mesh_binding) + static_cast<uint64_t>(boneCount) * 16 * sizeof(float) +
           (transferred ? 2 * arrays : arrays);
}

// The skinning matrices of bones [first, end): each bound bone's inverse world matrix (apply
// it, then the world matrix) times its world matrix, the products of ColumnMatrixMultiply4x3
// in the same order. The next bone's matrices are loaded before this bone's product is stored
// (the output never overlaps the inputs).
//
// The subnormal numbers of an inverse matrix count as 0 (the binding's copies hold them as 0).
// Skeletons made by tools hold them now and then (a rotation term of 1e-39), and each product of
// one costs the processor an assist of some hundred cycles, every frame: one such number in a
// skeleton of 54 bound bones made the whole build about 1.2 times as long. The products they
// would add are below 1.2e-38 times a world matrix element, lost in the sum unless every other
// term is as small.
void BuildSkinningMatricesBaseline(const orvane_mesh_binding& binding, const float* world,
                                   int32_t first, int32_t end, float* out) {
    if (first >= end) return;
    const float* inverses = binding.Inverses;
    const int32_t* to = binding.ToBoneIndices;
#if ORVANE_MATH_HAS_SSE
    using namespace orvane::sse;
    struct Rows {
        __m128 r0, r1, r2, r3;
    };
    auto load = [&](int32_t i, Rows& a, Rows& b) {
        const float* x = inverses + static_cast<size_t>(i) * 16;
        const float* y = world + static_cast<size_t>(to[i]) * 16;
        a = {_mm_loadu_ps(x), _mm_loadu_ps(x + 4), _mm_loadu_ps(x + 8), _mm_loadu_ps(x + 12)};
        b = {_mm_loadu_ps(y), _mm_loadu_ps(y + 4), _mm_loadu_ps(y + 8),
             KeepXYZ(_mm_loadu_ps(y + 12))};
    };
    auto row = [](__m128 ai, const Rows& b) {
        return _mm_add_ps(
            _mm_add_ps(_mm_mul_ps(Splat<0>(ai), b.r0), _mm_mul_ps(Splat<1>(ai), b.r1)),
            _mm_mul_ps(Splat<2>(ai), b.r2));
    };
    Rows a, b;
    load(first, a, b);
    for (int32_t i = first; i < end; ++i, out += 16) {
        const __m128 m0 = KeepXYZ(row(a.r0, b));
        const __m128 m1 = KeepXYZ(row(a.r1, b));
        const __m128 m2 = KeepXYZ(row(a.r2, b));
        const __m128 m3 =
            _mm_or_ps(KeepXYZ(_mm_add_ps(row(a.r3, b), b.r3)), _mm_setr_ps(0.0f, 0.0f, 0.0f, 1.0f));
        if (i + 1 < end) load(i + 1, a, b);
        _mm_storeu_ps(out, m0);
        _mm_storeu_ps(out + 4, m1);
        _mm_storeu_ps(out + 8, m2);
        _mm_storeu_ps(out + 12, m3);
    }
#else
    for (int32_t i = first; i < end; ++i, out += 16)
        orvane::kernel::ColumnMatrixMultiply4x3(out, inverses + static_cast<size_t>(i) * 16,
                                                world + static_cast<size_t>(to[i]) * 16);
#endif
}

#if ORVANE_MATH_HAS_SSE && (defined(__x86_64__) || defined(__i386__))
// The same products where the processor has AVX, two rows of the result per instruction: the
// inverse matrix is loaded two rows at a time and each row's element is spread across its half
// by an in-lane permute, while each world row fills both halves. Without FMA the compiler cannot
// fuse the products and sums, so the bits are those of the baseline routine.
__attribute__((target("avx"))) void BuildSkinningMatricesAvx(const orvane_mesh_binding& binding,
                                                             const float* world, int32_t first,
                                                             int32_t end, float* out) {
    const float* x = binding.Inverses + static_cast<size_t>(first) * 16;
    const int32_t* to = binding.ToBoneIndices;
    const __m256 keep = _mm256_castsi256_ps(_mm256_setr_epi32(-1, -1, -1, 0, -1, -1, -1, 0));
    const __m256 one = _mm256_setr_ps(0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f);
    for (int32_t i = first; i < end; ++i, out += 16, x += 16) {
        const float* y = world + static_cast<size_t>(to[i]) * 16;
        const __m256 b0 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(y));
        const __m256 b1 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(y + 4));
        const __m256 b2 = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(y + 8));
        const __m256 b3 =
            _mm256_and_ps(_mm256_broadcast_ps(reinterpret_cast<const __m128*>(y + 12)), keep);
        const __m256 x01 = _mm256_loadu_ps(x), x23 = _mm256_loadu_ps(x + 8);
        const __m256 m01 =
            _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(_mm256_permute_ps(x01, 0x00), b0),
                                        _mm256_mul_ps(_mm256_permute_ps(x01, 0x55), b1)),
                          _mm256_mul_ps(_mm256_permute_ps(x01, 0xAA), b2));
        const __m256 m23 =
            _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(_mm256_permute_ps(x23, 0x00), b0),
                                        _mm256_mul_ps(_mm256_permute_ps(x23, 0x55), b1)),
                          _mm256_mul_ps(_mm256_permute_ps(x23, 0xAA), b2));
        // The last row adds the world position; the third is taken as it is (adding 0 would
        // turn a -0 into 0).
        const __m256 last = _mm256_blend_ps(m23, _mm256_add_ps(m23, b3), 0xF0);
        _mm256_storeu_ps(out, _mm256_and_ps(m01, keep));
        _mm256_storeu_ps(out + 8, _mm256_or_ps(_mm256_and_ps(last, keep), one));
    }
}

bool ProcessorHasAvx() {
    static const bool has = __builtin_cpu_supports("avx");
    return has;
}
#endif

void BuildSkinningMatrices(const orvane_mesh_binding& binding, const float* world, int32_t first,
                           int32_t end, float* out) {
#if ORVANE_MATH_HAS_SSE && (defined(__x86_64__) || defined(__i386__))
    if (ProcessorHasAvx()) {
        BuildSkinningMatricesAvx(binding, world, first, end, out);
        return;
    }
#endif
    BuildSkinningMatricesBaseline(binding, world, first, end, out);
}

bool BoneCountIsUsable(const orvane_mesh* mesh) {
    return mesh->BoneBindingCount >= 0 &&
           (mesh->BoneBindingCount == 0 || mesh->BoneBindings != nullptr);
}

// A name the skeleton lacks binds to bone 0 (checked to exist) with a warning, once per binding
// and bone.
int32_t FindBone(const orvane_skeleton* skeleton, const orvane_mesh* mesh, const char* name) {
    orvane_int32 index = 0;
    if (OrvaneFindBoneByName(skeleton, name, &index)) return index;
    ORVANE_LOG_WARNING(OrvaneMeshBindingOrigin,
                       "Bone \"%s\" of mesh \"%s\" is not in skeleton \"%s\"; it follows bone 0",
                       name ? name : "", mesh->Name ? mesh->Name : "",
                       skeleton->Name ? skeleton->Name : "");
    return 0;
}

bool SkeletonIsUsable(const orvane_skeleton* skeleton, int32_t boneCount, const char* role) {
    if (boneCount == 0) return true;
    if (skeleton->BoneCount <= 0 || skeleton->Bones == nullptr) {
        ORVANE_LOG_ERROR(OrvaneMeshBindingOrigin,
                         "%s skeleton \"%s\" has no bones for %d bone bindings", role,
                         skeleton->Name ? skeleton->Name : "", static_cast<int>(boneCount));
        return false;
    }
    return true;
}

}  // namespace

extern "C" {

ORVANE_API orvane_int32 OrvaneGetResultingMeshBindingSize(const orvane_mesh* Mesh,
                                                          const orvane_skeleton* FromSkeleton,
                                                          const orvane_skeleton* ToSkeleton) {
    if (Mesh == nullptr || !BoneCountIsUsable(Mesh)) return 0;
    const uint64_t bytes = BindingBytes(Mesh->BoneBindingCount, FromSkeleton != ToSkeleton);
    return bytes > uint64_t(INT32_MAX) ? 0 : static_cast<orvane_int32>(bytes);
}

ORVANE_API orvane_mesh_binding* OrvaneNewMeshBindingInPlace(const orvane_mesh* Mesh,
                                                            const orvane_skeleton* FromSkeleton,
                                                            const orvane_skeleton* ToSkeleton,
                                                            void* Memory) {
    ORVANE_CHECK_NOT_NULL(OrvaneMeshBindingOrigin, Mesh, nullptr);
    ORVANE_CHECK_NOT_NULL(OrvaneMeshBindingOrigin, FromSkeleton, nullptr);
    ORVANE_CHECK_NOT_NULL(OrvaneMeshBindingOrigin, ToSkeleton, nullptr);
    ORVANE_CHECK_NOT_NULL(OrvaneMeshBindingOrigin, Memory, nullptr);
    if (reinterpret_cast<uintptr_t>(Memory) % alignof(orvane_mesh_binding) != 0) {
        ORVANE_LOG_ERROR(OrvaneMeshBindingOrigin, "Memory %p is not aligned to %d bytes", Memory,
                         static_cast<int>(alignof(orvane_mesh_binding)));
        return nullptr;
    }
    if (!BoneCountIsUsable(Mesh)) {
        ORVANE_LOG_ERROR(OrvaneMeshBindingOrigin, "Mesh \"%s\" has %d bone bindings at %p",
                         Mesh->Name ? Mesh->Name : "", static_cast<int>(Mesh->BoneBindingCount),
                         static_cast<const void*>(Mesh->BoneBindings));
        return nullptr;
    }
    const int32_t boneCount = Mesh->BoneBindingCount;
    const bool transferred = FromSkeleton != ToSkeleton;
    if (!SkeletonIsUsable(ToSkeleton, boneCount, "To") ||
        (transferred && !SkeletonIsUsable(FromSkeleton, boneCount, "From")))
        return nullptr;
    // The matrices read the skeletons' inverse world matrices, and a world pose of the target
    // skeleton walks its parents: both are checked here, once.
    if (boneCount > 0 &&
        (!orvane::SkeletonIsSound(ToSkeleton, OrvaneMeshBindingOrigin) ||
         (transferred && !orvane::SkeletonIsSound(FromSkeleton, OrvaneMeshBindingOrigin))))
        return nullptr;
    // Deformers read matrix[bone index] for every slot of every vertex: an index past the
    // binding's bones in a damaged file would read outside the matrix array each frame.
    if (const orvane_vertex_data* data = Mesh->PrimaryVertexData) {
        if (!OrvaneVertexBoneIndicesAreInRange(data->VertexCount, data->VertexType, data->Vertices,
                                               boneCount)) {
            ORVANE_LOG_ERROR(OrvaneMeshBindingOrigin,
                             "Mesh \"%s\" has vertices bound to bones it does not have",
                             Mesh->Name ? Mesh->Name : "");
            return nullptr;
        }
    }
    auto* binding = static_cast<orvane_mesh_binding*>(Memory);
    binding->Inverses = reinterpret_cast<orvane_real32*>(binding + 1);
    auto* indices = reinterpret_cast<orvane_int32*>(binding->Inverses + size_t(boneCount) * 16);
    binding->SourceMesh = Mesh;
    binding->BoneCount = boneCount;
    binding->FromSkeleton = FromSkeleton;
    binding->ToSkeleton = ToSkeleton;
    binding->FromBoneIndices = indices;
    binding->ToBoneIndices = transferred ? indices + boneCount : indices;
    for (int32_t i = 0; i < boneCount; ++i) {
        const char* name = Mesh->BoneBindings[i].BoneName;
        binding->ToBoneIndices[i] = FindBone(ToSkeleton, Mesh, name);
        if (transferred) binding->FromBoneIndices[i] = FindBone(FromSkeleton, Mesh, name);
    }
    binding->MostToBoneIndex = -1;
    for (int32_t i = 0; i < boneCount; ++i) {
        if (binding->ToBoneIndices[i] > binding->MostToBoneIndex)
            binding->MostToBoneIndex = binding->ToBoneIndices[i];
        const orvane_bone& bone = FromSkeleton->Bones[binding->FromBoneIndices[i]];
        float* copy = binding->Inverses + size_t(i) * 16;
        std::memcpy(copy, &bone.InverseWorldTransform[0][0], 16 * sizeof(float));
        for (int32_t k = 0; k < 16; ++k)
            if (std::fpclassify(copy[k]) == FP_SUBNORMAL) copy[k] = 0.0f;
    }
    return binding;
}

ORVANE_API orvane_mesh_binding* OrvaneNewMeshBinding(const orvane_mesh* Mesh,
                                                     const orvane_skeleton* FromSkeleton,
                                                     const orvane_skeleton* ToSkeleton) {
    const int32_t size = OrvaneGetResultingMeshBindingSize(Mesh, FromSkeleton, ToSkeleton);
    if (size == 0) {
        // Null arguments and unusable counts are reported by the in-place build.
        return OrvaneNewMeshBindingInPlace(Mesh, FromSkeleton, ToSkeleton, nullptr);
    }
    void* memory = ORVANE_ALLOCATE(alignof(orvane_mesh_binding), static_cast<size_t>(size));
    if (memory == nullptr) return nullptr;
    orvane_mesh_binding* binding =
        OrvaneNewMeshBindingInPlace(Mesh, FromSkeleton, ToSkeleton, memory);
    if (binding == nullptr) ORVANE_DEALLOCATE(memory);
    return binding;
}

ORVANE_API void OrvaneFreeMeshBinding(orvane_mesh_binding* Binding) {
    if (Binding) ORVANE_DEALLOCATE(Binding);
}

ORVANE_API orvane_bool OrvaneMeshBindingIsTransferred(const orvane_mesh_binding* Binding) {
    return Binding != nullptr && Binding->FromSkeleton != Binding->ToSkeleton;
}

ORVANE_API const orvane_mesh* OrvaneGetMeshBindingSourceMesh(const orvane_mesh_binding* Binding) {
    return Binding ? Binding->SourceMesh : nullptr;
}

ORVANE_API orvane_int32 OrvaneGetMeshBindingBoneCount(const orvane_mesh_binding* Binding) {
    return Binding ? Binding->BoneCount : 0;
}

ORVANE_API const orvane_skeleton* OrvaneGetMeshBindingFromSkeleton(
    const orvane_mesh_binding* Binding) {
    return Binding ? Binding->FromSkeleton : nullptr;
}

ORVANE_API const orvane_int32* OrvaneGetMeshBindingFromBoneIndices(
    const orvane_mesh_binding* Binding) {
    return Binding ? Binding->FromBoneIndices : nullptr;
}

ORVANE_API const orvane_skeleton* OrvaneGetMeshBindingToSkeleton(
    const orvane_mesh_binding* Binding) {
    return Binding ? Binding->ToSkeleton : nullptr;
}

ORVANE_API const orvane_int32* OrvaneGetMeshBindingToBoneIndices(
    const orvane_mesh_binding* Binding) {
    return Binding ? Binding->ToBoneIndices : nullptr;
}

ORVANE_API orvane_int32 OrvaneGetMeshBinding4x4ArraySize(const orvane_mesh_binding* /*Binding*/,
                                                         orvane_int32 BoneCount) {
    if (BoneCount <= 0) return 0;
    const int64_t bytes = int64_t(BoneCount) * 16 * int64_t(sizeof(orvane_real32));
    if (bytes > INT32_MAX) {
        ORVANE_LOG_ERROR(OrvaneMeshBindingOrigin, "BoneCount %d is out of range [0, %d]", BoneCount,
                         int32_t(INT32_MAX / (16 * sizeof(orvane_real32))));
        return 0;
    }
    return int32_t(bytes);
}

ORVANE_API void OrvaneBuildMeshBinding4x4Array(const orvane_mesh_binding* Binding,
                                               const orvane_world_pose* WorldPose,
                                               orvane_int32 FirstBone, orvane_int32 BoneCount,
                                               orvane_real32* Dest4x4) {
    ORVANE_CHECK_NOT_NULL(OrvaneMeshBindingOrigin, WorldPose, );
    OrvaneBuildMeshBinding4x4ArrayFromMatrices(Binding, OrvaneGetWorldPose4x4Array(WorldPose),
                                               OrvaneGetWorldPoseBoneCount(WorldPose), FirstBone,
                                               BoneCount, Dest4x4);
}

ORVANE_API void OrvaneBuildMeshBinding4x4ArrayFromMatrices(const orvane_mesh_binding* Binding,
                                                           const orvane_real32* WorldMatrices,
                                                           orvane_int32 WorldMatrixCount,
                                                           orvane_int32 FirstBone,
                                                           orvane_int32 BoneCount,
                                                           orvane_real32* Dest4x4) {
    ORVANE_CHECK_NOT_NULL(OrvaneMeshBindingOrigin, Binding, );
    ORVANE_CHECK_NOT_NULL(OrvaneMeshBindingOrigin, WorldMatrices, );
    ORVANE_CHECK_NOT_NULL(OrvaneMeshBindingOrigin, Dest4x4, );
    const int32_t count = Binding->BoneCount;
    if (FirstBone < 0 || FirstBone >= count) {
        ORVANE_LOG_ERROR(OrvaneMeshBindingOrigin, "FirstBoneIndex %d is out of range [0, %d)",
                         static_cast<int>(FirstBone), static_cast<int>(count));
        return;
    }
    // The end may lie before the first bone (a negative count): no matrix is written then.
    const int64_t end = static_cast<int64_t>(FirstBone) + BoneCount;
    if (end < 0 || end > count) {
        ORVANE_LOG_ERROR(OrvaneMeshBindingOrigin,
                         "FirstBoneIndex + BoneCount %d is out of range [0, %d)",
                         static_cast<int>(end), static_cast<int>(count + 1));
        return;
    }
    // A world pose built for a smaller skeleton than the binding's lacks some bound bones.
    for (int32_t i = FirstBone; Binding->MostToBoneIndex >= WorldMatrixCount && i < end; ++i) {
        const int32_t to = Binding->ToBoneIndices[i];
        if (to < 0 || to >= WorldMatrixCount) {
            ORVANE_LOG_ERROR(OrvaneMeshBindingOrigin,
                             "ToBoneIndex %d is out of range [0, %d) of the world matrices",
                             static_cast<int>(to), static_cast<int>(WorldMatrixCount));
            return;
        }
    }
    BuildSkinningMatrices(*Binding, WorldMatrices, FirstBone, int32_t(end), Dest4x4);
}

}  // extern "C"

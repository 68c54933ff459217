// The skeleton builder: bones in any order in, a skeleton with parents before children out.
#include "pose/orvane_skeleton.h"

#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "math/orvane_math_internal.h"
#include "orvane/skeleton_builder.h"

#include <cstddef>

namespace {

struct BuilderBone {
    int32_t parent;
    orvane_transform local;
    orvane_transform world;
};

constexpr int32_t kNotWritten = -1;
constexpr int32_t kBeingWritten = -2;

}  // namespace

struct orvane_skeleton_builder {
    int32_t capacity;
    int32_t used;
    BuilderBone* bones;
    int32_t* outputIndex;  // per builder bone: its index in the result, or one of the marks
    int32_t* chain;        // scratch for writing a bone's unwritten ancestors without recursion
};

namespace orvane {
namespace {

// The header and bone array of the result as one aggregate.
void LayOutSkeleton(int32_t boneCount, orvane_skeleton** skeleton) {
    SetAggregateAlignment(alignof(void*));
    intptr_t owner = AggregateAllocate(skeleton, sizeof(orvane_skeleton));
    AggregateAllocateArrayMember(owner, offsetof(orvane_skeleton, BoneCount),
                                 offsetof(orvane_skeleton, Bones), boneCount, sizeof(orvane_bone));
}

void WriteBone(const orvane_skeleton_builder& b, int32_t i, int32_t parentOutput,
               orvane_bone* out) {
    std::memset(static_cast<void*>(out), 0, sizeof *out);
    out->ParentIndex = parentOutput;
    out->Transform = b.bones[i].local;
    float world[16], inverse[16];
    BuildCompositeTransform4x4(b.bones[i].world, world);
    if (InvertAffine4x4(inverse, world)) {
        std::memcpy(out->InverseWorldTransform, inverse, sizeof inverse);
    } else {
        // A singular world transform leaves the emptied block and translation at zero (not the
        // negative zeros of negating a product with the zero block).
        out->InverseWorldTransform[3][3] = 1.0f;
    }
}

// Writes builder bone i after those of its ancestors not yet written, outermost first.
// False on a cycle in the parent links or a parent that was never added.
bool WriteWithAncestors(orvane_skeleton_builder& b, int32_t i, orvane_bone* bones, int32_t* next,
                        int32_t* remap) {
    int32_t depth = 0;
    for (int32_t k = i; k != -1 && b.outputIndex[k] < 0; k = b.bones[k].parent) {
        if (b.outputIndex[k] == kBeingWritten) {
            ORVANE_LOG_ERROR(OrvaneSkeletonBuilderOrigin,
                             "Circular parenting chain located at bone %d", k);
            return false;
        }
        if (b.bones[k].parent >= b.used) {
            ORVANE_LOG_ERROR(OrvaneSkeletonBuilderOrigin,
                             "Bone %d has parent %d, which was never added (%d bones added)", k,
                             b.bones[k].parent, b.used);
            return false;
        }
        b.outputIndex[k] = kBeingWritten;
        b.chain[depth++] = k;
    }
    while (depth > 0) {
        const int32_t k = b.chain[--depth];
        const int32_t parent = b.bones[k].parent;
        const int32_t n = (*next)++;
        WriteBone(b, k, parent == -1 ? -1 : b.outputIndex[parent], &bones[n]);
        b.outputIndex[k] = n;
        if (remap) remap[k] = n;
    }
    return true;
}

}  // namespace
}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API orvane_skeleton_builder* OrvaneBeginSkeleton(orvane_int32 BoneCount) {
    if (BoneCount < 0) {
        ORVANE_LOG_ERROR(OrvaneSkeletonBuilderOrigin, "BoneCount %d is out of range [0, %d]",
                         BoneCount, INT32_MAX);
        return nullptr;
    }
    orvane_skeleton_builder* b = nullptr;
    SetAggregateAlignment(alignof(orvane_skeleton_builder));
    intptr_t owner = AggregateAllocate(&b, sizeof(orvane_skeleton_builder));
    size_t bytes;
    const bool fits = CheckedArrayBytes(BoneCount, sizeof(BuilderBone), &bytes);
    AggregateAllocateMember(owner, offsetof(orvane_skeleton_builder, bones),
                            fits ? bytes : SIZE_MAX);
    AggregateAllocateMember(owner, offsetof(orvane_skeleton_builder, outputIndex),
                            size_t(BoneCount) * sizeof(int32_t));
    AggregateAllocateMember(owner, offsetof(orvane_skeleton_builder, chain),
                            size_t(BoneCount) * sizeof(int32_t));
    if (ORVANE_AGGREGATE_END() == nullptr) return nullptr;
    b->capacity = BoneCount;
    b->used = 0;
    for (int32_t i = 0; i < BoneCount; ++i) {
        b->bones[i].parent = -1;
        b->outputIndex[i] = kNotWritten;
    }
    return b;
}

ORVANE_API void OrvaneAddBone(orvane_skeleton_builder* Builder,
                              const orvane_real32 LocalPosition[3],
                              const orvane_real32 LocalOrientation[4],
                              const orvane_real32 LocalScaleShear[9],
                              const orvane_real32 WorldPosition[3],
                              const orvane_real32 WorldOrientation[4],
                              const orvane_real32 WorldScaleShear[9]) {
    ORVANE_CHECK_NOT_NULL(OrvaneSkeletonBuilderOrigin, Builder, );
    ORVANE_CHECK_NOT_NULL(OrvaneSkeletonBuilderOrigin, LocalPosition, );
    ORVANE_CHECK_NOT_NULL(OrvaneSkeletonBuilderOrigin, LocalOrientation, );
    ORVANE_CHECK_NOT_NULL(OrvaneSkeletonBuilderOrigin, LocalScaleShear, );
    ORVANE_CHECK_NOT_NULL(OrvaneSkeletonBuilderOrigin, WorldPosition, );
    ORVANE_CHECK_NOT_NULL(OrvaneSkeletonBuilderOrigin, WorldOrientation, );
    ORVANE_CHECK_NOT_NULL(OrvaneSkeletonBuilderOrigin, WorldScaleShear, );
    if (Builder->used >= Builder->capacity) {
        ORVANE_LOG_ERROR(OrvaneSkeletonBuilderOrigin,
                         "AddBone called after all allotted bones were already used");
        return;
    }
    BuilderBone& bone = Builder->bones[Builder->used++];
    bone.parent = -1;
    OrvaneSetTransformWithIdentityCheck(&bone.local, LocalPosition, LocalOrientation,
                                        LocalScaleShear);
    OrvaneSetTransformWithIdentityCheck(&bone.world, WorldPosition, WorldOrientation,
                                        WorldScaleShear);
}

ORVANE_API void OrvaneSetBoneParent(orvane_skeleton_builder* Builder, orvane_int32 BoneIndex,
                                    orvane_int32 ParentIndex) {
    ORVANE_CHECK_NOT_NULL(OrvaneSkeletonBuilderOrigin, Builder, );
    if (BoneIndex < 0 || BoneIndex >= Builder->capacity) {
        ORVANE_LOG_ERROR(OrvaneSkeletonBuilderOrigin,
                         "SetBoneParent bone index (%d) is out of specified bone domain (%d)",
                         BoneIndex, Builder->capacity);
        return;
    }
    if (ParentIndex < -1 || ParentIndex >= Builder->capacity) {
        ORVANE_LOG_ERROR(OrvaneSkeletonBuilderOrigin,
                         "SetBoneParent parent index (%d) is out of specified bone domain (%d)",
                         ParentIndex, Builder->capacity);
        return;
    }
    Builder->bones[BoneIndex].parent = ParentIndex;
}

ORVANE_API orvane_int32 OrvaneGetResultingSkeletonSize(const orvane_skeleton_builder* Builder) {
    if (Builder == nullptr) return 0;
    orvane_skeleton* skeleton = nullptr;
    LayOutSkeleton(Builder->used, &skeleton);
    const size_t size = ORVANE_AGGREGATE_SIZE();
    return size > size_t(INT32_MAX) ? 0 : static_cast<int32_t>(size);
}

ORVANE_API orvane_skeleton* OrvaneEndSkeletonInPlace(orvane_skeleton_builder* Builder, void* Memory,
                                                     orvane_int32* RemappingTable) {
    if (Builder == nullptr) return nullptr;
    orvane_skeleton* skeleton = nullptr;
    if (Memory != nullptr && reinterpret_cast<uintptr_t>(Memory) % alignof(void*) != 0) {
        ORVANE_LOG_ERROR(OrvaneSkeletonBuilderOrigin, "Memory %p is not aligned to %d bytes",
                         Memory, int32_t(alignof(void*)));
    } else if (Memory != nullptr) {
        LayOutSkeleton(Builder->used, &skeleton);
        skeleton = static_cast<orvane_skeleton*>(ORVANE_AGGREGATE_END_IN_PLACE(Memory));
    }
    if (skeleton != nullptr) {
        skeleton->Name = nullptr;
        int32_t next = 0;
        bool sound = true;
        // Roots first, in their order of addition; then everything else.
        for (int32_t i = 0; sound && i < Builder->used; ++i) {
            if (Builder->bones[i].parent == -1)
                sound = WriteWithAncestors(*Builder, i, skeleton->Bones, &next, RemappingTable);
        }
        for (int32_t i = 0; sound && i < Builder->used; ++i) {
            if (Builder->outputIndex[i] == kNotWritten)
                sound = WriteWithAncestors(*Builder, i, skeleton->Bones, &next, RemappingTable);
        }
        if (!sound) {
            // A partial hierarchy would break the invariant every walk relies on: hand out
            // nothing rather than a skeleton with unwritten bones.
            skeleton->BoneCount = 0;
            skeleton = nullptr;
        }
    }
    ORVANE_DEALLOCATE(Builder);
    return skeleton;
}

ORVANE_API orvane_skeleton* OrvaneEndSkeleton(orvane_skeleton_builder* Builder,
                                              orvane_int32* RemappingTable) {
    if (Builder == nullptr) return nullptr;
    orvane_skeleton* skeleton = nullptr;
    LayOutSkeleton(Builder->used, &skeleton);
    void* memory = ORVANE_AGGREGATE_END();
    if (memory == nullptr) {
        ORVANE_DEALLOCATE(Builder);
        return nullptr;
    }
    orvane_skeleton* result = OrvaneEndSkeletonInPlace(Builder, memory, RemappingTable);
    if (result == nullptr) ORVANE_DEALLOCATE(memory);
    return result;
}

}  // extern "C"

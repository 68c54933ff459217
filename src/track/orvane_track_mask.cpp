// Track masks: per-bone weights, the exported identity and null masks, masks from track
// groups, along skeleton chains and from the bones' extended data.
//
// Skeletons may come from files: every walk along ParentIndex accepts only parents below the
// bone's own index, so a damaged chain ends instead of looping or reading out of range.
#include <cstddef>

#include "track/orvane_track_group.h"
#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "core/orvane_string.h"
#include "orvane/convert.h"
#include "orvane/skeleton.h"
#include "orvane/track_group.h"
#include "orvane/track_mask.h"

namespace {

const orvane_track_mask kIdentityMask = {1.0f, 0, nullptr};
const orvane_track_mask kNullMask = {0.0f, 0, nullptr};

bool UsableSkeleton(const orvane_skeleton* skeleton) {
    return skeleton != nullptr && skeleton->BoneCount >= 0 &&
           (skeleton->BoneCount == 0 || skeleton->Bones != nullptr);
}

// The parent of bone i when it is a valid one (below i), else -1.
int32_t ParentOf(const orvane_skeleton* skeleton, int32_t i) {
    const int32_t parent = skeleton->Bones[i].ParentIndex;
    return parent >= 0 && parent < i ? parent : -1;
}

// The end of the bones a chain may cover (those of both the skeleton and the mask), or -1 when
// the skeleton is unusable or the chain's first bone (argument `what`) lies outside them
// (logged).
int32_t ChainLimit(const orvane_track_mask* mask, const orvane_skeleton* skeleton, int32_t first,
                   const char* what) {
    if (!UsableSkeleton(skeleton)) return -1;
    const int32_t limit =
        skeleton->BoneCount < mask->BoneCount ? skeleton->BoneCount : mask->BoneCount;
    if (first < 0 || first >= limit) {
        ORVANE_LOG_ERROR(OrvaneTrackMaskOrigin, "%s %d is out of range [0, %d)", what, int(first),
                         int(limit));
        return -1;
    }
    return limit;
}

}  // namespace

extern "C" {

ORVANE_API extern const orvane_track_mask* const OrvaneIdentityTrackMask = &kIdentityMask;
ORVANE_API extern const orvane_track_mask* const OrvaneNullTrackMask = &kNullMask;

ORVANE_API orvane_track_mask* OrvaneNewTrackMask(orvane_real32 DefaultWeight,
                                                 orvane_int32 BoneCount) {
    if (BoneCount < 0) {
        ORVANE_LOG_ERROR(OrvaneTrackMaskOrigin, "BoneCount %d is out of range [%d, %d]",
                         int(BoneCount), 0, 0x7FFFFFFF);
        return nullptr;
    }
    size_t weights;
    if (!orvane::CheckedArrayBytes(BoneCount, sizeof(float), &weights)) return nullptr;
    void* block = ORVANE_ALLOCATE(alignof(orvane_track_mask), sizeof(orvane_track_mask) + weights);
    if (block == nullptr) return nullptr;
    auto* mask = static_cast<orvane_track_mask*>(block);
    mask->DefaultWeight = DefaultWeight;
    mask->BoneCount = BoneCount;
    mask->BoneWeights = reinterpret_cast<float*>(mask + 1);
    for (int32_t i = 0; i < BoneCount; ++i)
        mask->BoneWeights[i] = DefaultWeight;
    return mask;
}

ORVANE_API orvane_real32 OrvaneGetTrackMaskBoneWeight(const orvane_track_mask* Mask,
                                                      orvane_int32 BoneIndex) {
    if (Mask == nullptr) return 0.0f;
    if (BoneIndex >= 0 && BoneIndex < Mask->BoneCount && Mask->BoneWeights != nullptr)
        return Mask->BoneWeights[BoneIndex];
    return Mask->DefaultWeight;
}

ORVANE_API void OrvaneSetTrackMaskBoneWeight(orvane_track_mask* Mask, orvane_int32 BoneIndex,
                                             orvane_real32 Weight) {
    ORVANE_CHECK_NOT_NULL(OrvaneTrackMaskOrigin, Mask, );
    if (BoneIndex < 0 || BoneIndex >= Mask->BoneCount || Mask->BoneWeights == nullptr) {
        ORVANE_LOG_ERROR(OrvaneTrackMaskOrigin,
                         "BoneIndex %d is out-of-bounds (only %d bones in this track mask)",
                         int(BoneIndex), int(Mask->BoneCount));
        return;
    }
    Mask->BoneWeights[BoneIndex] = Weight;
}

ORVANE_API void OrvaneFreeTrackMask(orvane_track_mask* Mask) {
    // The exported masks are not blocks of ours.
    if (Mask == &kIdentityMask || Mask == &kNullMask) return;
    ORVANE_DEALLOCATE(Mask);
}

ORVANE_API orvane_track_mask* OrvaneCopyTrackMask(const orvane_track_mask* Mask) {
    ORVANE_CHECK_NOT_NULL(OrvaneTrackMaskOrigin, Mask, nullptr);
    orvane_track_mask* copy = OrvaneNewTrackMask(Mask->DefaultWeight, Mask->BoneCount);
    if (copy == nullptr) {
        ORVANE_LOG_ERROR(OrvaneTrackMaskOrigin, "Unable to create new track mask for copying");
        return nullptr;
    }
    for (int32_t i = 0; i < Mask->BoneCount; ++i)
        copy->BoneWeights[i] = OrvaneGetTrackMaskBoneWeight(Mask, i);
    return copy;
}

ORVANE_API void OrvaneInvertTrackMask(orvane_track_mask* Mask) {
    ORVANE_CHECK_NOT_NULL(OrvaneTrackMaskOrigin, Mask, );
    if (Mask->BoneWeights == nullptr) return;
    for (int32_t i = 0; i < Mask->BoneCount; ++i)
        Mask->BoneWeights[i] = 1.0f - Mask->BoneWeights[i];
}

ORVANE_API void OrvaneSetSkeletonTrackMaskFromTrackGroup(
    orvane_track_mask* Mask, const orvane_skeleton* Skeleton, const orvane_track_group* TrackGroup,
    orvane_real32 IdentityValue, orvane_real32 ConstantValue, orvane_real32 AnimatedValue) {
    ORVANE_CHECK_NOT_NULL(OrvaneTrackMaskOrigin, Mask, );
    ORVANE_CHECK_NOT_NULL(OrvaneTrackMaskOrigin, Skeleton, );
    ORVANE_CHECK_NOT_NULL(OrvaneTrackMaskOrigin, TrackGroup, );
    if (!UsableSkeleton(Skeleton) || TrackGroup->TransformTracks == nullptr) return;
    for (int32_t t = 0; t < TrackGroup->TransformTrackCount; ++t) {
        const orvane_transform_track* track = &TrackGroup->TransformTracks[t];
        int32_t bone = -1;
        if (!OrvaneFindBoneByName(Skeleton, track->Name, &bone)) continue;
        float weight = ConstantValue;
        if (OrvaneTransformTrackIsAnimated(track))
            weight = AnimatedValue;
        else if (OrvaneTransformTrackIsIdentity(track))
            weight = IdentityValue;
        OrvaneSetTrackMaskBoneWeight(Mask, bone, weight);
    }
}

ORVANE_API void OrvaneSetSkeletonTrackMaskChainUpwards(orvane_track_mask* Mask,
                                                       const orvane_skeleton* Skeleton,
                                                       orvane_int32 ChainLeafBoneIndex,
                                                       orvane_real32 Weight) {
    ORVANE_CHECK_NOT_NULL(OrvaneTrackMaskOrigin, Mask, );
    ORVANE_CHECK_NOT_NULL(OrvaneTrackMaskOrigin, Skeleton, );
    if (!UsableSkeleton(Skeleton)) return;
    // The walk follows the skeleton; a mask shorter than it still takes the ancestors it holds
    // (the setter reports each bone past its end).
    if (ChainLeafBoneIndex < 0 || ChainLeafBoneIndex >= Skeleton->BoneCount) {
        ORVANE_LOG_ERROR(OrvaneTrackMaskOrigin, "ChainLeafBoneIndex %d is out of range [0, %d)",
                         int(ChainLeafBoneIndex), int(Skeleton->BoneCount));
        return;
    }
    for (int32_t bone = ChainLeafBoneIndex; bone >= 0; bone = ParentOf(Skeleton, bone))
        OrvaneSetTrackMaskBoneWeight(Mask, bone, Weight);
}

ORVANE_API void OrvaneSetSkeletonTrackMaskChainDownwards(orvane_track_mask* Mask,
                                                         const orvane_skeleton* Skeleton,
                                                         orvane_int32 ChainRootBoneIndex,
                                                         orvane_real32 Weight) {
    ORVANE_CHECK_NOT_NULL(OrvaneTrackMaskOrigin, Mask, );
    ORVANE_CHECK_NOT_NULL(OrvaneTrackMaskOrigin, Skeleton, );
    const int32_t limit = ChainLimit(Mask, Skeleton, ChainRootBoneIndex, "ChainRootBoneIndex");
    if (limit < 0) return;
    // Membership is decided from the skeleton alone (a walk up from each later bone), never
    // from a marker value in the weights, which the caller may have stored there itself.
    // Parents precede children, so every walk ends within the root's index.
    Mask->BoneWeights[ChainRootBoneIndex] = Weight;
    for (int32_t bone = ChainRootBoneIndex + 1; bone < limit; ++bone) {
        int32_t ancestor = ParentOf(Skeleton, bone);
        while (ancestor > ChainRootBoneIndex)
            ancestor = ParentOf(Skeleton, ancestor);
        if (ancestor == ChainRootBoneIndex) Mask->BoneWeights[bone] = Weight;
    }
}

ORVANE_API orvane_int32 OrvaneExtractTrackMask(orvane_track_mask* Mask, orvane_int32 BoneCount,
                                               const orvane_skeleton* Skeleton,
                                               const char* MaskName, orvane_real32 DefaultWeight,
                                               orvane_bool UseParentForDefault) {
    ORVANE_CHECK_NOT_NULL(OrvaneTrackMaskOrigin, Mask, 2);
    ORVANE_CHECK_NOT_NULL(OrvaneTrackMaskOrigin, Skeleton, 2);
    if (!UsableSkeleton(Skeleton)) return 2;
    if (BoneCount < 0 || BoneCount > Skeleton->BoneCount) {
        ORVANE_LOG_ERROR(OrvaneTrackMaskOrigin, "BoneCount %d is out of range [%d, %d]",
                         int(BoneCount), 0, int(Skeleton->BoneCount));
        return 2;
    }
    if (BoneCount > Mask->BoneCount) {
        ORVANE_LOG_ERROR(OrvaneTrackMaskOrigin, "BoneCount %d is out of range [%d, %d]",
                         int(BoneCount), 0, int(Mask->BoneCount));
        return 2;
    }
    Mask->DefaultWeight = DefaultWeight;
    // A one-member description of the value that is looked for: conversion finds the member
    // by name and converts any numeric kind to real32.
    orvane_data_type_definition wanted[2] = {};
    wanted[0].Type = OrvaneReal32Member;
    wanted[0].Name = MaskName;
    wanted[1].Type = OrvaneEndMember;
    int32_t found = 0;
    for (int32_t i = 0; i < BoneCount; ++i) {
        const orvane_variant& extended = Skeleton->Bones[i].ExtendedData;
        float value = 0.0f;
        bool has = false;
        if (MaskName != nullptr && extended.Type != nullptr && extended.Object != nullptr) {
            const orvane_variant member =
                OrvaneFindMatchingMember(extended.Type, extended.Object, MaskName);
            if (member.Type != nullptr) {
                OrvaneConvertSingleObject(extended.Type, extended.Object, wanted, &value);
                has = true;
            }
        }
        if (has) {
            ++found;
        } else {
            value = DefaultWeight;
            if (UseParentForDefault) {
                const int32_t parent = ParentOf(Skeleton, i);
                if (parent >= 0) value = Mask->BoneWeights[parent];
            }
        }
        Mask->BoneWeights[i] = value;
    }
    if (BoneCount == 0 || found == 0) return 2;
    return found == BoneCount ? 0 : 1;
}

}  // extern "C"

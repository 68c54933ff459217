/* Orvane track masks: per-bone weights, built from skeletons and extended data. */
#ifndef ORVANE_PUBLIC_TRACK_MASK_H
#define ORVANE_PUBLIC_TRACK_MASK_H

#include "orvane/common.h"
#include "orvane/types.h"

ORVANE_EXTERN_C_BEGIN

/* ---------------------------------------------------------------------------------------- */
/* Track masks                                                                              */
/* ---------------------------------------------------------------------------------------- */
/* Per-bone weights; indices at or past BoneCount read DefaultWeight. A mask is plain data:
 * concurrent reads are safe, writers need exclusive access. Errors log from
 * OrvaneTrackMaskOrigin. */

typedef struct orvane_track_mask {
    orvane_real32 DefaultWeight;
    orvane_int32 BoneCount;
    orvane_real32* BoneWeights;
} orvane_track_mask;

/* Every weight 1 / 0; no weight array (BoneCount 0). Read-only. */
ORVANE_API extern const orvane_track_mask* const OrvaneIdentityTrackMask;
ORVANE_API extern const orvane_track_mask* const OrvaneNullTrackMask;

/* Null when the allocation failed or BoneCount is negative. Free with OrvaneFreeTrackMask. */
ORVANE_API orvane_track_mask* OrvaneNewTrackMask(orvane_real32 DefaultWeight,
                                                 orvane_int32 BoneCount);
/* DefaultWeight for an index outside [0, BoneCount) or a null mask. */
ORVANE_API orvane_real32 OrvaneGetTrackMaskBoneWeight(const orvane_track_mask* Mask,
                                                      orvane_int32 BoneIndex);
/* Logs an error and stores nothing for an index outside [0, BoneCount). */
ORVANE_API void OrvaneSetTrackMaskBoneWeight(orvane_track_mask* Mask, orvane_int32 BoneIndex,
                                             orvane_real32 Weight);
ORVANE_API void OrvaneFreeTrackMask(orvane_track_mask* Mask);
ORVANE_API orvane_track_mask* OrvaneCopyTrackMask(const orvane_track_mask* Mask);
/* w -> 1 - w for every weight; DefaultWeight unchanged. */
ORVANE_API void OrvaneInvertTrackMask(orvane_track_mask* Mask);
/* For each transform track whose bone is found by name: AnimatedValue, else IdentityValue for
 * an identity track, else ConstantValue. Other bones keep their weights. */
ORVANE_API void OrvaneSetSkeletonTrackMaskFromTrackGroup(
    orvane_track_mask* Mask, const orvane_skeleton* Skeleton, const orvane_track_group* TrackGroup,
    orvane_real32 IdentityValue, orvane_real32 ConstantValue, orvane_real32 AnimatedValue);
/* The leaf and every ancestor get Weight. A leaf outside the skeleton logs an error; bones past
 * the mask's end are refused as by OrvaneSetTrackMaskBoneWeight while the ancestors the mask
 * holds still get Weight; a broken parent chain ends the walk. */
ORVANE_API void OrvaneSetSkeletonTrackMaskChainUpwards(orvane_track_mask* Mask,
                                                       const orvane_skeleton* Skeleton,
                                                       orvane_int32 ChainLeafBoneIndex,
                                                       orvane_real32 Weight);
/* The root and every descendant get Weight, whatever weights the mask held before. */
ORVANE_API void OrvaneSetSkeletonTrackMaskChainDownwards(orvane_track_mask* Mask,
                                                         const orvane_skeleton* Skeleton,
                                                         orvane_int32 ChainRootBoneIndex,
                                                         orvane_real32 Weight);
/* Weight i from the real32-convertible member MaskName of bone i's ExtendedData, else
 * DefaultWeight (or the parent's weight with UseParentForDefault). Returns 0 when every bone
 * had the member, 1 when some did, 2 when none did or the call failed. */
ORVANE_API orvane_int32 OrvaneExtractTrackMask(orvane_track_mask* Mask, orvane_int32 BoneCount,
                                               const orvane_skeleton* Skeleton,
                                               const char* MaskName, orvane_real32 DefaultWeight,
                                               orvane_bool UseParentForDefault);

ORVANE_EXTERN_C_END

#endif /* ORVANE_PUBLIC_TRACK_MASK_H */

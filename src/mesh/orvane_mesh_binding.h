// The mesh binding record, for the library's own readers of bindings (the level-of-detail
// calculation of animation bindings walks the bound bones and their boxes).
#ifndef ORVANE_MESH_BINDING_H
#define ORVANE_MESH_BINDING_H

#include "core/orvane_private.h"
#include "orvane/mesh.h"

// One block: this record, then BoneCount inverse world matrices (16 reals each), then
// BoneCount indices into FromSkeleton, then, only when the skeletons differ, BoneCount indices
// into ToSkeleton. Every index names an existing bone of its skeleton, and every bone index of
// the mesh's vertices is below BoneCount (checked when the binding is built).
struct orvane_mesh_binding {
    const orvane_mesh* SourceMesh;
    orvane_int32 BoneCount;
    const orvane_skeleton* FromSkeleton;
    orvane_int32* FromBoneIndices;
    const orvane_skeleton* ToSkeleton;
    orvane_int32* ToBoneIndices;  // FromBoneIndices when the skeletons are the same
    // The largest of ToBoneIndices (-1 without bones): the matrix builds compare it with the
    // world pose once per call instead of per bone.
    orvane_int32 MostToBoneIndex;
    // Per bound bone, its FromSkeleton bone's inverse world matrix as the binding was built,
    // with subnormal numbers as 0: the matrix builds read them one after another.
    orvane_real32* Inverses;
};

#endif  // ORVANE_MESH_BINDING_H

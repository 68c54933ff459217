// Basis conversion: the change of axes and units from an art tool's coordinate system into the
// application's, and its application in place to skeletons, meshes, models, animations and
// whole files.
//
// Content shares objects: two meshes may use one vertex data or topology, two animations one
// track group, a model may bind one mesh twice, and a file lists the same object under several
// owners. A change of basis is not idempotent, so each conversion call keeps the set of objects
// it has already transformed and visits every one of them once.
#include <cmath>
#include <cstring>

#include "core/orvane_log.h"
#include "core/orvane_pointer_hash.h"
#include "math/orvane_math_internal.h"
#include "orvane/basis_conversion.h"
#include "orvane/track_group.h"
#include "orvane/mesh.h"

namespace orvane {
namespace {

constexpr orvane_log_message_origin kOrigin = OrvaneBasisConversionOrigin;
constexpr uint32_t kRenormalize = OrvaneBasisRenormalizeDirections;
constexpr uint32_t kReverseMirroredWinding = OrvaneBasisReverseMirroredWinding;

// The objects one conversion call has transformed.
class Visited {
public:
    Visited() : hash_(NewPointerHash()) {
        if (!hash_) ORVANE_LOG_ERROR(kOrigin, "No memory for the set of converted objects");
    }
    ~Visited() { DeletePointerHash(hash_); }
    Visited(const Visited&) = delete;
    Visited& operator=(const Visited&) = delete;

    bool ok() const { return hash_ != nullptr && !failed_; }
    // True the first time an object is met (and it is then to be transformed). Null objects
    // are never transformed; when the set cannot grow nothing more is transformed either, so
    // that no object can be converted twice.
    bool First(const void* object) {
        if (!object || !ok()) return false;
        if (HashedPointerKeyExists(hash_, object, nullptr)) return false;
        if (!AddPointerHashEntry(hash_, object, nullptr)) {
            failed_ = true;
            return false;
        }
        return true;
    }

private:
    PointerHash* hash_;
    bool failed_ = false;
};

struct Basis {
    const float* affine;
    const float* linear;
    const float* inverseLinear;
    float affineTolerance;
    float linearTolerance;
    uint32_t flags;
};

// Rows of m scaled to unit length (a row shorter than 0.00001 becomes zero).
void NormaliseRows(float m[9]) {
    for (int row = 0; row < 3; ++row) {
        float* r = m + 3 * row;
        const float length = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
        const float f = length < 0.00001f ? 0.0f : 1.0f / length;
        r[0] *= f;
        r[1] *= f;
        r[2] *= f;
    }
}

// Whether a member holds a curve inline: the library's curve type, or (for descriptions that
// came from a file) a type that is a single variant named "CurveData".
bool IsCurveMember(const orvane_data_type_definition& member) {
    if (member.Type != OrvaneInlineMember || !member.ReferenceType) return false;
    if (member.ReferenceType == OrvaneCurve2Type) return true;
    const orvane_data_type_definition* t = member.ReferenceType;
    return t[0].Type == OrvaneVariantReferenceMember && t[0].Name &&
           std::strcmp(t[0].Name, "CurveData") == 0 && t[1].Type == OrvaneEndMember;
}

enum class MorphCurveKind { None, Position, Normal, Tangent };

MorphCurveKind KindOfSet(const char* name) {
    if (!name) return MorphCurveKind::None;
    if (std::strcmp(name, "VertexMorphCurvePosition") == 0) return MorphCurveKind::Position;
    if (std::strcmp(name, "VertexMorphCurveNormal") == 0 ||
        std::strcmp(name, "VertexMorphCurveTangentBinormalCross") == 0)
        return MorphCurveKind::Normal;
    if (std::strcmp(name, "VertexMorphCurveTangent") == 0 ||
        std::strcmp(name, "VertexMorphCurveBinormal") == 0)
        return MorphCurveKind::Tangent;
    return MorphCurveKind::None;
}

void TransformMorphCurves(const orvane_vertex_annotation_set& set, const Basis& basis) {
    const MorphCurveKind kind = KindOfSet(set.Name);
    if (kind == MorphCurveKind::None || !set.VertexAnnotationType || !set.VertexAnnotations ||
        set.VertexAnnotationCount <= 0)
        return;
    static constexpr float kZero[3] = {0.0f, 0.0f, 0.0f};
    const float* affine = basis.affine;
    float affineTolerance = basis.affineTolerance;
    float linear[9];
    if (kind == MorphCurveKind::Position) {
        std::memcpy(linear, basis.linear, sizeof(linear));
    } else {
        affine = kZero;
        affineTolerance = 1.0f;
        if (kind == MorphCurveKind::Normal) {
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    linear[3 * i + j] = basis.inverseLinear[3 * j + i];
        } else {
            std::memcpy(linear, basis.linear, sizeof(linear));
        }
        if (basis.flags & kRenormalize) NormaliseRows(linear);
    }
    const int32_t stride = OrvaneGetTotalObjectSize(set.VertexAnnotationType);
    if (stride <= 0) return;
    char* records = static_cast<char*>(set.VertexAnnotations);
    // Offsets of the curve members within a record.
    int32_t offset = 0;
    for (const orvane_data_type_definition* member = set.VertexAnnotationType;
         member->Type != OrvaneEndMember; ++member) {
        if (IsCurveMember(*member)) {
            for (int32_t i = 0; i < set.VertexAnnotationCount; ++i) {
                auto* curve =
                    reinterpret_cast<orvane_curve2*>(records + int64_t(i) * stride + offset);
                if (OrvaneCurveIsIdentity(curve)) continue;
                OrvaneTransformCurveVec3(affine, linear, affineTolerance, basis.linearTolerance,
                                         curve);
            }
        }
        offset += OrvaneGetMemberTypeSize(member);
    }
}

void TransformVertexData(orvane_vertex_data* data, const Basis& basis, Visited& visited,
                         bool withMorphCurves) {
    if (!visited.First(data)) return;
    if (data->VertexType && data->Vertices && data->VertexCount > 0) {
        OrvaneTransformVertices(data->VertexCount, data->VertexType, data->Vertices, basis.affine,
                                basis.linear, basis.inverseLinear,
                                (basis.flags & kRenormalize) != 0);
    }
    if (withMorphCurves && data->VertexAnnotationSets) {
        for (int32_t i = 0; i < data->VertexAnnotationSetCount; ++i)
            TransformMorphCurves(data->VertexAnnotationSets[i], basis);
    }
}

void TransformSkeleton(orvane_skeleton* skeleton, const Basis& basis, Visited& visited) {
    if (!visited.First(skeleton) || !skeleton->Bones) return;
    for (int32_t i = 0; i < skeleton->BoneCount; ++i) {
        orvane_bone& bone = skeleton->Bones[i];
        OrvaneSimilarityTransform(&bone.Transform, basis.affine, basis.linear, basis.inverseLinear);
        OrvaneInPlaceSimilarityTransform4x3(basis.affine, basis.linear, basis.inverseLinear,
                                            &bone.InverseWorldTransform[0][0]);
    }
}

void TransformMesh(orvane_mesh* mesh, const Basis& basis, Visited& visited) {
    if (!visited.First(mesh)) return;
    // Morph curves are read from the primary vertex data only, as the morph targets carry
    // none of their own.
    TransformVertexData(mesh->PrimaryVertexData, basis, visited, true);
    if (mesh->MorphTargets) {
        for (int32_t i = 0; i < mesh->MorphTargetCount; ++i)
            TransformVertexData(mesh->MorphTargets[i].VertexData, basis, visited, false);
    }
    if ((basis.flags & kReverseMirroredWinding) && Determinant3x3(basis.linear) < 0.0f &&
        visited.First(mesh->PrimaryTopology)) {
        OrvaneInvertTriTopologyWinding(mesh->PrimaryTopology);
    }
    // Bone bindings live inside the mesh, which is visited once.
    if (mesh->BoneBindings) {
        for (int32_t i = 0; i < mesh->BoneBindingCount; ++i) {
            orvane_bone_binding& binding = mesh->BoneBindings[i];
            OrvaneTransformBoundingBox(basis.affine, basis.linear, binding.OBBMin, binding.OBBMax);
        }
    }
}

void TransformPlacement(orvane_model* model, const Basis& basis, Visited& visited) {
    if (!visited.First(model)) return;
    OrvaneSimilarityTransform(&model->InitialPlacement, basis.affine, basis.linear,
                              basis.inverseLinear);
}

void TransformModel(orvane_model* model, const Basis& basis, Visited& visited) {
    if (!model) return;
    TransformSkeleton(model->Skeleton, basis, visited);
    if (model->MeshBindings) {
        for (int32_t i = 0; i < model->MeshBindingCount; ++i)
            TransformMesh(model->MeshBindings[i].Mesh, basis, visited);
    }
    TransformPlacement(model, basis, visited);
}

void TransformAnimation(orvane_animation* animation, const Basis& basis, Visited& visited) {
    if (!visited.First(animation) || !animation->TrackGroups) return;
    for (int32_t i = 0; i < animation->TrackGroupCount; ++i) {
        orvane_track_group* group = animation->TrackGroups[i];
        if (!visited.First(group)) continue;
        OrvaneSimilarityTransformTrackGroup(group, basis.affine, basis.linear, basis.inverseLinear,
                                            basis.affineTolerance, basis.linearTolerance);
    }
}

void TransformFile(orvane_file_info* file, const Basis& basis, Visited& visited) {
    if (file->Skeletons) {
        for (int32_t i = 0; i < file->SkeletonCount; ++i)
            TransformSkeleton(file->Skeletons[i], basis, visited);
    }
    if (file->Meshes) {
        for (int32_t i = 0; i < file->MeshCount; ++i)
            TransformMesh(file->Meshes[i], basis, visited);
    }
    if (file->Models) {
        for (int32_t i = 0; i < file->ModelCount; ++i)
            TransformPlacement(file->Models[i], basis, visited);
    }
    if (file->Animations) {
        for (int32_t i = 0; i < file->AnimationCount; ++i)
            TransformAnimation(file->Animations[i], basis, visited);
    }
}

// Runs one conversion with its own set of visited objects.
template <typename Object, typename Function>
orvane_bool Convert(Object* object, const float* affine, const float* linear,
                    const float* inverseLinear, float affineTolerance, float linearTolerance,
                    uint32_t flags, Function function) {
    if (!object) return true;  // nothing to convert
    if (!affine || !linear || !inverseLinear) {
        ORVANE_LOG_ERROR(kOrigin, "%s is not allowed to be 0",
                         !affine ? "Affine3" : (!linear ? "Linear3x3" : "InverseLinear3x3"));
        return false;
    }
    Visited visited;
    if (!visited.ok()) return false;
    const Basis basis = {affine, linear, inverseLinear, affineTolerance, linearTolerance, flags};
    function(object, basis, visited);
    if (!visited.ok()) {
        ORVANE_LOG_ERROR(kOrigin, "Ran out of memory: the content is only partly converted");
        return false;
    }
    return true;
}

bool AllFinite(const float* v, int n) {
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(v[i])) return false;
    return true;
}

}  // namespace
}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API orvane_bool OrvaneComputeBasisConversion(
    const orvane_file_info* fileInfo, orvane_real32 desiredUnitsPerMeter,
    const orvane_real32 desiredOrigin3[3], const orvane_real32 desiredRight3[3],
    const orvane_real32 desiredUp3[3], const orvane_real32 desiredBack3[3],
    orvane_real32 resultAffine3[3], orvane_real32 resultLinear3x3[9],
    orvane_real32 resultInverseLinear3x3[9]) {
    if (!fileInfo) {
        ORVANE_LOG_ERROR(kOrigin, "FileInfo is not allowed to be 0");
        return false;
    }
    const orvane_art_tool_info* tool = fileInfo->ArtToolInfo;
    if (!tool) {
        ORVANE_LOG_ERROR(kOrigin, "FileInfo.ArtToolInfo is not allowed to be 0");
        return false;
    }
    if (!(tool->UnitsPerMeter > 0.0f) || !std::isfinite(tool->UnitsPerMeter)) {
        ORVANE_LOG_ERROR(kOrigin, "ArtToolInfo.UnitsPerMeter %f is not a positive length",
                         static_cast<double>(tool->UnitsPerMeter));
        return false;
    }
    // D has the desired axes as columns, S the tool's axes as rows.
    const float d[9] = {desiredRight3[0], desiredUp3[0], desiredBack3[0],
                        desiredRight3[1], desiredUp3[1], desiredBack3[1],
                        desiredRight3[2], desiredUp3[2], desiredBack3[2]};
    float s[9];
    std::memcpy(s, tool->RightVector, 3 * sizeof(float));
    std::memcpy(s + 3, tool->UpVector, 3 * sizeof(float));
    std::memcpy(s + 6, tool->BackVector, 3 * sizeof(float));
    float linear[9];
    Multiply3x3(linear, d, s);
    const float scale = desiredUnitsPerMeter / tool->UnitsPerMeter;
    for (float& value : linear)
        value *= scale;
    float inverse[9];
    const float determinant = Determinant3x3(linear);
    if (!std::isfinite(determinant) || !AllFinite(linear, 9) || !Invert3x3(inverse, linear) ||
        !AllFinite(inverse, 9)) {
        ORVANE_LOG_ERROR(kOrigin,
                         "The conversion from the art tool's axes has no inverse (determinant "
                         "%f): its axes or the units per meter are degenerate",
                         static_cast<double>(determinant));
        return false;
    }
    float affine[3];
    for (int i = 0; i < 3; ++i)
        affine[i] = desiredOrigin3[i] - tool->Origin[i];
    if (!AllFinite(affine, 3)) {
        ORVANE_LOG_ERROR(kOrigin, "The origins do not give a finite translation");
        return false;
    }
    std::memcpy(resultAffine3, affine, sizeof(affine));
    std::memcpy(resultLinear3x3, linear, sizeof(linear));
    std::memcpy(resultInverseLinear3x3, inverse, sizeof(inverse));
    return true;
}

ORVANE_API orvane_bool OrvaneTransformSkeleton(orvane_skeleton* skeleton,
                                               const orvane_real32 affine3[3],
                                               const orvane_real32 linear3x3[9],
                                               const orvane_real32 inverseLinear3x3[9],
                                               orvane_real32 affineTolerance,
                                               orvane_real32 linearTolerance, orvane_uint32 flags) {
    return Convert(skeleton, affine3, linear3x3, inverseLinear3x3, affineTolerance, linearTolerance,
                   flags, TransformSkeleton);
}

ORVANE_API orvane_bool OrvaneTransformMesh(orvane_mesh* mesh, const orvane_real32 affine3[3],
                                           const orvane_real32 linear3x3[9],
                                           const orvane_real32 inverseLinear3x3[9],
                                           orvane_real32 affineTolerance,
                                           orvane_real32 linearTolerance, orvane_uint32 flags) {
    return Convert(mesh, affine3, linear3x3, inverseLinear3x3, affineTolerance, linearTolerance,
                   flags, TransformMesh);
}

ORVANE_API orvane_bool OrvaneTransformModel(orvane_model* model, const orvane_real32 affine3[3],
                                            const orvane_real32 linear3x3[9],
                                            const orvane_real32 inverseLinear3x3[9],
                                            orvane_real32 affineTolerance,
                                            orvane_real32 linearTolerance, orvane_uint32 flags) {
    return Convert(model, affine3, linear3x3, inverseLinear3x3, affineTolerance, linearTolerance,
                   flags, TransformModel);
}

ORVANE_API orvane_bool OrvaneTransformAnimation(
    orvane_animation* animation, const orvane_real32 affine3[3], const orvane_real32 linear3x3[9],
    const orvane_real32 inverseLinear3x3[9], orvane_real32 affineTolerance,
    orvane_real32 linearTolerance, orvane_uint32 flags) {
    return Convert(animation, affine3, linear3x3, inverseLinear3x3, affineTolerance,
                   linearTolerance, flags, TransformAnimation);
}

ORVANE_API orvane_bool OrvaneTransformFile(orvane_file_info* fileInfo,
                                           const orvane_real32 affine3[3],
                                           const orvane_real32 linear3x3[9],
                                           const orvane_real32 inverseLinear3x3[9],
                                           orvane_real32 affineTolerance,
                                           orvane_real32 linearTolerance, orvane_uint32 flags) {
    return Convert(fileInfo, affine3, linear3x3, inverseLinear3x3, affineTolerance, linearTolerance,
                   flags, TransformFile);
}

ORVANE_API void OrvaneResortAllAnimationTrackGroups(orvane_animation* animation) {
    if (!animation || !animation->TrackGroups) return;
    for (int32_t i = 0; i < animation->TrackGroupCount; ++i) {
        if (animation->TrackGroups[i]) OrvaneResortTrackGroup(animation->TrackGroups[i]);
    }
}

ORVANE_API void OrvaneResortAllFileTrackGroups(orvane_file_info* fileInfo) {
    if (!fileInfo || !fileInfo->Animations) return;
    for (int32_t i = 0; i < fileInfo->AnimationCount; ++i)
        OrvaneResortAllAnimationTrackGroups(fileInfo->Animations[i]);
}

}  // extern "C"

// The checks that content passes once, where it comes in (see the header).
#include "track/orvane_content_checks.h"

#include <cmath>

#include "core/orvane_log.h"
#include "orvane/curve.h"
#include "track/orvane_track_sampler.h"

namespace orvane {
namespace {

bool AllFinite(const float* values, int count) {
    // A sum of products with zero is NaN exactly when some value is not finite, and it
    // compiles to a loop without branches.
    float sum = 0.0f;
    for (int i = 0; i < count; ++i)
        sum += values[i] * 0.0f;
    return sum == 0.0f;
}

template <class T>
bool ArrayFitsCount(int32_t count, const T* array) {
    return count >= 0 && (count == 0 || array != nullptr);
}

}  // namespace

bool ParentsPrecede(const orvane_bone* bones, int32_t first, int32_t end,
                    orvane_log_message_origin origin) {
    for (int32_t i = first; i < end; ++i) {
        const int32_t parent = bones[i].ParentIndex;
        if (parent < -1 || parent >= i) {
            ORVANE_LOG_ERROR(origin, "Bone %d has parent index %d, which does not precede it", i,
                             parent);
            return false;
        }
    }
    return true;
}

const char* TrackCurvesProblem(const orvane_transform_track& track) {
    // Checked in this order: the values are read through the format the curve names.
    const orvane_curve2* curves[3] = {&track.PositionCurve, &track.OrientationCurve,
                                      &track.ScaleShearCurve};
    for (const orvane_curve2* curve : curves)
        if (curve->CurveData.Object != nullptr && !OrvaneCurveFormatIsInitializedCorrectly(curve))
            return "a curve whose format does not match its data";
    if (!TrackCurvesAreFinite(track))
        return "a knot or control that is not a finite number, or knots that run backwards";
    return nullptr;
}

bool TransformIsFinite(const orvane_transform& t) {
    return AllFinite(t.Position, 3) && AllFinite(t.Orientation, 4) &&
           AllFinite(&t.ScaleShear[0][0], 9);
}

bool SkeletonIsSound(const orvane_skeleton* skeleton, orvane_log_message_origin origin) {
    if (skeleton == nullptr) {
        ORVANE_LOG_ERROR(origin, "Skeleton is not allowed to be 0");
        return false;
    }
    if (!ArrayFitsCount(skeleton->BoneCount, skeleton->Bones)) {
        ORVANE_LOG_ERROR(origin, "Skeleton has %d bones and no bone array", skeleton->BoneCount);
        return false;
    }
    if (!ParentsPrecede(skeleton->Bones, 0, skeleton->BoneCount, origin)) return false;
    for (int32_t i = 0; i < skeleton->BoneCount; ++i) {
        const orvane_bone& bone = skeleton->Bones[i];
        if (!TransformIsFinite(bone.Transform) ||
            !AllFinite(&bone.InverseWorldTransform[0][0], 16)) {
            ORVANE_LOG_ERROR(origin, "Bone %d has a transform that is not finite", i);
            return false;
        }
    }
    return true;
}

bool ModelIsSound(const orvane_model* model, orvane_log_message_origin origin) {
    if (model == nullptr) {
        ORVANE_LOG_ERROR(origin, "Model is not allowed to be 0");
        return false;
    }
    if (model->Skeleton != nullptr && !SkeletonIsSound(model->Skeleton, origin)) return false;
    if (!TransformIsFinite(model->InitialPlacement)) {
        ORVANE_LOG_ERROR(origin, "Model.InitialPlacement is not finite");
        return false;
    }
    if (!ArrayFitsCount(model->MeshBindingCount, model->MeshBindings)) {
        ORVANE_LOG_ERROR(origin, "Model.MeshBindingCount %d has no mesh binding array",
                         model->MeshBindingCount);
        return false;
    }
    return true;
}

bool DurationIsUsable(float duration) {
    return std::isfinite(duration) && duration >= 0.0f;
}

bool AnimationIsSound(const orvane_animation* animation, orvane_log_message_origin origin) {
    if (animation == nullptr) {
        ORVANE_LOG_ERROR(origin, "Animation is not allowed to be 0");
        return false;
    }
    const orvane_animation& a = *animation;
    if (!DurationIsUsable(a.Duration)) {
        ORVANE_LOG_ERROR(origin, "Animation.Duration %f is not a finite time of at least 0",
                         double(a.Duration));
        return false;
    }
    if (!DurationIsUsable(a.TimeStep) || !std::isfinite(a.Oversampling)) {
        ORVANE_LOG_ERROR(origin, "Animation.TimeStep %f or Oversampling %f is not finite",
                         double(a.TimeStep), double(a.Oversampling));
        return false;
    }
    if (!ArrayFitsCount(a.TrackGroupCount, a.TrackGroups)) {
        ORVANE_LOG_ERROR(origin, "Animation.TrackGroupCount %d has no track group array",
                         a.TrackGroupCount);
        return false;
    }
    for (int32_t g = 0; g < a.TrackGroupCount; ++g) {
        const orvane_track_group* group = a.TrackGroups[g];
        if (group == nullptr) continue;  // no binding can be made to it
        if (!ArrayFitsCount(group->TransformTrackCount, group->TransformTracks) ||
            !ArrayFitsCount(group->VectorTrackCount, group->VectorTracks) ||
            !ArrayFitsCount(group->TextTrackCount, group->TextTracks) ||
            !ArrayFitsCount(group->TransformLODErrorCount, group->TransformLODErrors)) {
            ORVANE_LOG_ERROR(origin, "Track group %d has a count without its array", g);
            return false;
        }
        if (!AllFinite(group->LoopTranslation, 3) || !TransformIsFinite(group->InitialPlacement)) {
            ORVANE_LOG_ERROR(origin, "Track group %d has a loop or placement that is not finite",
                             g);
            return false;
        }
        // Root motion reads the loop's screw every frame and hands it to the caller.
        if (const orvane_periodic_loop* loop = group->PeriodicLoop) {
            const float scalars[3] = {loop->Radius, loop->dAngle, loop->dZ};
            if (!AllFinite(scalars, 3) || !AllFinite(loop->BasisX, 3) ||
                !AllFinite(loop->BasisY, 3) || !AllFinite(loop->Axis, 3)) {
                ORVANE_LOG_ERROR(origin, "Track group %d has a periodic loop that is not finite",
                                 g);
                return false;
            }
        }
        for (int32_t e = 0; e < group->TransformLODErrorCount; ++e) {
            if (std::isnan(group->TransformLODErrors[e])) {
                ORVANE_LOG_ERROR(origin, "Track group %d has LOD error %d that is not a number", g,
                                 e);
                return false;
            }
        }
    }
    return true;
}

}  // namespace orvane

// LOD error values measured on meshes: how far a mesh's bone boxes move when one track of an
// animation binding is replaced by its constant LOD transform, over every frame of the
// animation. The per-animation calculation gathers the largest such error over several models
// and meshes into the track groups' LOD error arrays, ready to be written with the animation.
#include "instance/orvane_animation_binding.h"
#include "track/orvane_content_checks.h"
#include "instance/orvane_model_instance.h"
#include "track/orvane_track_group.h"
#include "core/orvane_array.h"
#include "core/orvane_log.h"
#include "core/orvane_memory.h"
#include "orvane/mesh.h"
#include "orvane/controlled_animation.h"
#include "orvane/track_group.h"

#include <cmath>
#include <cstring>

namespace orvane {
namespace {

constexpr float kUnbounded = ORVANE_UNBOUNDED_REAL32;
// What Begin writes into every LOD error, so that End can tell the values no mesh measured.
constexpr float kNotMeasured = -31415.0f;
// A damaged or hostile animation may claim any duration and time step; the measurement never
// walks more frames than this, spreading them evenly over the duration instead.
constexpr int32_t kMaximumFrames = 10000;
constexpr float kDefaultTimeStep = 1.0f / 30.0f;

// The frame times of the measurement: 0, step, 2 step ... n step.
struct FrameTimes {
    int32_t last = 0;
    float step = 0;
};

FrameTimes FrameTimesOf(const orvane_animation& animation) {
    FrameTimes times;
    const float duration = animation.Duration;
    if (!(duration > 0.0f) || !std::isfinite(duration)) return times;
    float step = animation.TimeStep;
    if (!(step > 0.0f) || !std::isfinite(step)) {
        ORVANE_LOG_WARNING(OrvaneAnimationOrigin,
                           "Animation \"%s\" has the time step %g; its LOD errors are measured "
                           "every %g s",
                           animation.Name ? animation.Name : "", double(step),
                           double(kDefaultTimeStep));
        step = kDefaultTimeStep;
    }
    // Rounded in single precision: a duration of 0.5 s in 0.2 s steps makes 3 frames after the
    // first, the last one at the clip's end, where double precision would make 2 and never
    // look at the last tenth of a second.
    const float frames = duration / step + 0.5f;
    if (!(frames <= float(kMaximumFrames))) {
        times.last = kMaximumFrames;
        times.step = duration / float(kMaximumFrames);
    } else {
        times.last = int32_t(frames);
        times.step = step;
    }
    return times;
}

// World matrix of a bone from its local transform and its parent's world matrix (null for a
// root), as the world pose builds it.
void BuildWorld(const orvane_transform& local, const float* parent, float* world) {
    float m[16];
    OrvaneBuildCompositeTransform4x4(&local, m);
    if (parent != nullptr)
        OrvaneColumnMatrixMultiply4x3(world, m, parent);
    else
        std::memcpy(world, m, sizeof m);
}

void TransformCorner(const float p[3], const float* w, float out[3]) {
    for (int k = 0; k < 3; ++k)
        out[k] = p[0] * w[k] + p[1] * w[4 + k] + p[2] * w[8 + k] + w[12 + k];
}

// The per-call working set: the sampled local pose of a frame, its world matrices, and the
// world matrices with one track replaced.
struct Scratch {
    Array<orvane_transform> local{ORVANE_SOURCE_FILE, __LINE__};
    Array<float> world{ORVANE_SOURCE_FILE, __LINE__};
    Array<float> replaced{ORVANE_SOURCE_FILE, __LINE__};
    Array<double> worst{ORVANE_SOURCE_FILE, __LINE__};
    bool Prepare(int32_t boneCount) {
        return local.Resize(size_t(boneCount)) && world.Resize(size_t(boneCount) * 16) &&
               replaced.Resize(size_t(boneCount) * 16) && worst.Resize(size_t(boneCount));
    }
};

bool CalculateBindingLOD(orvane_animation_binding* binding,
                         const struct orvane_mesh_binding* meshBinding, float errorScale) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, binding, false);
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, meshBinding, false);
    const orvane_model* onModel = binding->ID.OnModel;
    if (onModel == nullptr) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "ID.OnModel is not allowed to be 0");
        return false;
    }
    const orvane_skeleton* onSkeleton = onModel->Skeleton;
    if (onSkeleton == nullptr) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "OnSkeleton is not allowed to be 0");
        return false;
    }
    const int32_t boneCount = binding->TrackBindingCount;
    if (boneCount < 1 || boneCount > onSkeleton->BoneCount) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "BoneCount %d is out of range [%d, %d]", boneCount,
                         1, onSkeleton->BoneCount);
        return false;
    }
    if (binding->TrackBindings == nullptr) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin,
                         "AnimationBinding.TrackBindings is not allowed to be 0");
        return false;
    }
    // The mesh is deformed by the skeleton the binding's world pose is built on.
    if (OrvaneGetMeshBindingToSkeleton(meshBinding) != onSkeleton) {
        ORVANE_LOG_ERROR(OrvaneAnimationOrigin, "MeshSkeleton must equal OnSkeleton");
        return false;
    }
    const orvane_mesh* mesh = OrvaneGetMeshBindingSourceMesh(meshBinding);
    const int32_t meshBones = OrvaneGetMeshBindingBoneCount(meshBinding);
    const int32_t* meshBoneIndices = OrvaneGetMeshBindingToBoneIndices(meshBinding);
    // The binding was built from this mesh, so its boxes exist for every bound bone.
    const orvane_bone_binding* boxes = mesh ? mesh->BoneBindings : nullptr;
    if (meshBones > 0 && (boxes == nullptr || meshBoneIndices == nullptr)) return false;

    const orvane_animation* animation = binding->ID.Animation;
    const FrameTimes frames = FrameTimesOf(*animation);
    const orvane_bone* bones = onSkeleton->Bones;

    // Constant and unbound tracks are settled at once; only animated tracks are measured.
    Scratch scratch;
    if (!scratch.Prepare(boneCount)) return false;
    bool anyAnimated = false;
    for (int32_t t = 0; t < boneCount; ++t) {
        TrackBinding& tb = binding->TrackBindings[t];
        scratch.worst[size_t(t)] = 0.0;
        if (tb.SourceTrack == nullptr) continue;
        BuildTrackConstantTransform(tb.SourceTrack, &tb.LODTransform);
        tb.LODError = kUnbounded;
        if (!OrvaneTransformTrackIsAnimated(tb.SourceTrack)) {
            tb.LODError = 0.0f;
            continue;
        }
        anyAnimated = true;
    }
    if (!anyAnimated) {
        ReplanAnimationNodes(binding, false);
        return true;
    }

    orvane_transform* local = scratch.local.Data();
    float* world = scratch.world.Data();
    float* replaced = scratch.replaced.Data();
    for (int32_t f = 0; f <= frames.last; ++f) {
        orvane_track_sample_context context{};
        context.SampleTime = float(f) * frames.step;
        context.SampleDuration = animation->Duration;
        context.FrameIndex = f;
        for (int32_t b = 0; b < boneCount; ++b) {
            const TrackBinding& tb = binding->TrackBindings[b];
            if (tb.SourceTrack != nullptr) {
                local[b].Flags = 0;
                OrvaneSampleTrackUUULocal(&context, tb.SourceTrack, &tb, &local[b]);
            } else {
                local[b] = bones[b].Transform;
            }
            const int32_t parent = bones[b].ParentIndex;
            BuildWorld(local[b], parent >= 0 ? world + 16 * parent : nullptr, world + 16 * b);
        }
        for (int32_t t = 0; t < boneCount; ++t) {
            const TrackBinding& tb = binding->TrackBindings[t];
            if (tb.SourceTrack == nullptr || tb.LODError == 0.0f) continue;
            // Bones before t are their parents' or unrelated; they do not move.
            std::memcpy(replaced, world, sizeof(float) * 16 * size_t(t));
            for (int32_t b = t; b < boneCount; ++b) {
                const int32_t parent = bones[b].ParentIndex;
                BuildWorld(b == t ? tb.LODTransform : local[b],
                           parent >= 0 ? replaced + 16 * parent : nullptr, replaced + 16 * b);
            }
            double worst = scratch.worst[size_t(t)];
            for (int32_t m = 0; m < meshBones; ++m) {
                const int32_t bone = meshBoneIndices[m];
                if (bone < t || bone >= boneCount) continue;
                const float* lo = boxes[m].OBBMin;
                const float* hi = boxes[m].OBBMax;
                for (int corner = 0; corner < 8; ++corner) {
                    const float p[3] = {(corner & 1) ? hi[0] : lo[0], (corner & 2) ? hi[1] : lo[1],
                                        (corner & 4) ? hi[2] : lo[2]};
                    float a[3], c[3];
                    TransformCorner(p, world + 16 * bone, a);
                    TransformCorner(p, replaced + 16 * bone, c);
                    const double dx = double(a[0]) - c[0], dy = double(a[1]) - c[1],
                                 dz = double(a[2]) - c[2];
                    const double d = dx * dx + dy * dy + dz * dz;
                    if (d > worst) worst = d;
                }
            }
            scratch.worst[size_t(t)] = worst;
        }
    }
    for (int32_t t = 0; t < boneCount; ++t) {
        TrackBinding& tb = binding->TrackBindings[t];
        if (tb.SourceTrack == nullptr || tb.LODError == 0.0f) continue;
        const double error = std::sqrt(scratch.worst[size_t(t)]) * double(errorScale);
        // A box at infinity (a damaged mesh) measures nothing rather than writing a NaN.
        tb.LODError = std::isfinite(error) ? float(error) : kUnbounded;
    }
    ReplanAnimationNodes(binding, false);
    return true;
}

void ForEachLODError(const orvane_animation& animation, float value, bool onlyBelowZero) {
    for (int32_t g = 0; g < animation.TrackGroupCount; ++g) {
        orvane_track_group* group = animation.TrackGroups[g];
        if (group == nullptr || group->TransformLODErrors == nullptr) continue;
        for (int32_t i = 0; i < group->TransformLODErrorCount; ++i) {
            float& e = group->TransformLODErrors[i];
            if (!onlyBelowZero || e < 0.0f) e = value;
        }
    }
}

}  // namespace
}  // namespace orvane

using namespace orvane;

struct orvane_animation_lod_calculation {
    const orvane_animation* Animation;
    float ManualScaler;
    int32_t TrackGroupCount;
    bool* Allocated;  // per track group: its LOD error array came from Begin
};

ORVANE_API void OrvaneCalculateLODErrorValues(orvane_animation_binding* Binding,
                                              const struct orvane_mesh_binding* MeshBinding,
                                              orvane_bool, orvane_real32 ErrorScale) {
    CalculateBindingLOD(Binding, MeshBinding, ErrorScale);
}

ORVANE_API void OrvaneCalculateLODErrorValuesAllBindings(
    orvane_model_instance* ModelInstance, const struct orvane_mesh_binding* MeshBinding,
    orvane_bool Unused, orvane_real32 ErrorScale) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, ModelInstance, );
    for (orvane_model_control_binding* b = OrvaneModelControlsBegin(ModelInstance);
         b != OrvaneModelControlsEnd(ModelInstance); b = OrvaneModelControlsNext(b)) {
        if (orvane_animation_binding* a = OrvaneGetAnimationBindingFromControlBinding(b))
            OrvaneCalculateLODErrorValues(a, MeshBinding, Unused, ErrorScale);
    }
}

ORVANE_API orvane_animation_lod_calculation* OrvaneCalculateAnimationLODBegin(
    const orvane_animation* Animation, orvane_real32 ManualScaler) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Animation, nullptr);
    // Every track group and its LOD error array are walked here and by End: an animation whose
    // counts have no arrays behind them is refused.
    if (!AnimationIsSound(Animation, OrvaneAnimationOrigin)) return nullptr;
    const int32_t groups = Animation->TrackGroupCount > 0 ? Animation->TrackGroupCount : 0;
    // One block: the handle, then a flag per track group.
    const size_t size = sizeof(orvane_animation_lod_calculation) + sizeof(bool) * size_t(groups);
    auto* handle = static_cast<orvane_animation_lod_calculation*>(
        ORVANE_ALLOCATE(alignof(orvane_animation_lod_calculation), size));
    if (handle == nullptr) return nullptr;
    handle->Animation = Animation;
    handle->ManualScaler = ManualScaler;
    handle->TrackGroupCount = groups;
    handle->Allocated = reinterpret_cast<bool*>(handle + 1);
    for (int32_t g = 0; g < groups; ++g) {
        orvane_track_group* group = Animation->TrackGroups[g];
        handle->Allocated[g] = false;
        if (group == nullptr || group->TransformLODErrors != nullptr) continue;
        OrvaneAllocateLODErrorSpace(group);
        handle->Allocated[g] = group->TransformLODErrors != nullptr;
    }
    ForEachLODError(*Animation, kNotMeasured, false);
    return handle;
}

ORVANE_API void OrvaneCalculateAnimationLODAddMeshBinding(
    orvane_animation_lod_calculation* Handle, const orvane_model* Model,
    const struct orvane_mesh_binding* MeshBinding, orvane_real32 ErrorScale) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Handle, );
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Model, );
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, MeshBinding, );
    orvane_model_instance* instance = OrvaneInstantiateModel(Model);
    if (instance == nullptr) return;
    orvane_control* control = OrvanePlayControlledAnimation(0.0f, Handle->Animation, instance);
    if (control != nullptr) {
        for (orvane_model_control_binding* b = OrvaneModelControlsBegin(instance);
             b != OrvaneModelControlsEnd(instance); b = OrvaneModelControlsNext(b)) {
            orvane_animation_binding* a = OrvaneGetAnimationBindingFromControlBinding(b);
            if (a == nullptr) continue;
            // A binding that cannot be measured must not copy its unmeasured values over the
            // ones other meshes found.
            if (CalculateBindingLOD(a, MeshBinding, ErrorScale * Handle->ManualScaler))
                OrvaneCopyLODErrorValuesToAnimation(a, 1.0f, 1);
        }
        OrvaneFreeControl(control);
    }
    OrvaneFreeModelInstance(instance);
}

ORVANE_API void OrvaneCalculateAnimationLODEnd(orvane_animation_lod_calculation* Handle) {
    ORVANE_CHECK_NOT_NULL(OrvaneAnimationOrigin, Handle, );
    ForEachLODError(*Handle->Animation, kUnbounded, true);
}

ORVANE_API void OrvaneCalculateAnimationLODCleanup(orvane_animation_lod_calculation* Handle) {
    if (Handle == nullptr) return;
    for (int32_t g = 0; g < Handle->TrackGroupCount; ++g)
        if (Handle->Allocated[g]) OrvaneFreeLODErrorSpace(Handle->Animation->TrackGroups[g]);
    ORVANE_DEALLOCATE(Handle);
}

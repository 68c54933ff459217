// libFuzzer target: hostile content files through the per-frame paths. Whatever the loader
// accepts is played as an application would play it: every model of the file is instantiated,
// each animation is played on it through a control (one through the builder with a match
// rule), the controls are weighted, sped up, looped and clocked before, inside and past their
// clips, and the instance is sampled in every form (full, LOD, sparse, accelerated) into local
// and world poses, with root motion. Each mesh of a model is then bound to the skeleton, given
// its skinning matrices and deformed into PN33 and into its own layout, and the LOD errors of
// the playing bindings are measured on it. A sampled pose is then played as a controlled pose
// on a second instance (straight into a world pose, and through the LOD and masked paths), and
// a blend graph built from the file's content (the instance, that pose, a crossfade under a
// mask made from a track group, a weighted blend) is sampled, clocked and asked for its root
// motion. Each animation's track groups are also played through track group playbacks. The
// sanitizers see what the run time makes of damaged skeletons, track groups, curves, vertices
// and bone bindings, and of reals that are not finite.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "orvane/blend_graph.h"
#include "orvane/controlled_animation.h"
#include "orvane/track_group_playback.h"
#include "orvane/track_mask.h"
#include "orvane/core.h"
#include "orvane/file.h"
#include "orvane/data_tree_writer.h"
#include "orvane/mesh.h"
#include "orvane/deformer.h"
#include "orvane/types.h"

namespace {

// Bounds on one input's work, so that a few bytes claiming a huge skeleton or clip keep the
// run quick; inputs past them are skipped, not cut short.
constexpr int32_t kMaxModels = 3;
constexpr int32_t kMaxAnimations = 4;
constexpr int32_t kMaxMeshes = 4;
constexpr int32_t kMaxBones = 256;
constexpr int32_t kMaxVertices = 1 << 14;
constexpr int32_t kMaxLODBones = 64;

const float kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
const float kOffset[16] = {0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 2, 0.5f, -1, 1};

volatile float g_sink = 0;

void Touch(const float* values, size_t count) {
    float sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum += values[i];
    g_sink = g_sink + sum;
}

void TouchWorld(const orvane_world_pose* world, int32_t bones, bool composite) {
    if (world == nullptr || bones <= 0) return;
    Touch(OrvaneGetWorldPose4x4Array(world), size_t(bones) * 16);
    if (composite) Touch(OrvaneGetWorldPoseComposite4x4Array(world), size_t(bones) * 16);
}

void TouchLocal(const orvane_local_pose* local, int32_t bones) {
    for (int32_t b = 0; b < bones; ++b) {
        const orvane_transform* t = OrvaneGetLocalPoseTransform(local, b);
        if (t == nullptr) return;
        Touch(t->Position, 3);
        Touch(t->Orientation, 4);
        Touch(&t->ScaleShear[0][0], 9);
    }
}

void Quiet(orvane_log_message_type, orvane_log_message_origin, const char*, void*) {}

// A clock past the clip's end when its duration is a usable number, else a fixed one.
float Past(const orvane_animation* animation) {
    const float d = animation->Duration;
    return std::isfinite(d) && d > 0 && d < 1e6f ? 1.5f * d + 0.25f : 7.5f;
}

struct Poses {
    orvane_local_pose* local = nullptr;
    orvane_local_pose* scratch = nullptr;
    orvane_world_pose* world = nullptr;
    std::vector<int32_t> sparse, reverse;

    explicit Poses(int32_t bones)
        : local(OrvaneNewLocalPose(bones)),
          scratch(OrvaneNewLocalPose(bones)),
          world(OrvaneNewWorldPose(bones)),
          sparse(size_t(bones) + 1),
          reverse(size_t(bones) + 1) {}
    ~Poses() {
        OrvaneFreeLocalPose(local);
        OrvaneFreeLocalPose(scratch);
        OrvaneFreeWorldPose(world);
    }
    Poses(const Poses&) = delete;
    Poses& operator=(const Poses&) = delete;
    bool ok() const { return local && scratch && world; }
};

// One frame at Clock in every sampling form.
void Frame(orvane_model_instance* instance, const orvane_skeleton* skeleton, int32_t bones,
           Poses& poses, float clock) {
    OrvaneSetModelClock(instance, clock);
    OrvaneSampleModelAnimations(instance, 0, bones, poses.local);
    TouchLocal(poses.local, bones);
    OrvaneBuildWorldPose(skeleton, 0, bones, poses.local, kOffset, poses.world);
    TouchWorld(poses.world, bones, true);
    OrvaneBuildWorldPoseNoComposite(skeleton, 0, bones, poses.local, nullptr, poses.world);
    TouchWorld(poses.world, bones, false);
    OrvaneBuildCompositeFromWorldPose(skeleton, 0, bones, poses.world);
    TouchWorld(poses.world, bones, true);

    OrvaneSampleModelAnimationsLOD(instance, 0, bones, poses.local, 0.05f);
    TouchLocal(poses.local, bones);

    // The last bone and its ancestors as a sparse pose.
    if (bones > 0) {
        const int32_t sparseCount = OrvaneSparseBoneArrayCreateSingleBone(
            skeleton, bones - 1, poses.sparse.data(), poses.reverse.data());
        if (sparseCount > 0) {
            OrvaneSampleModelAnimationsLODSparse(instance, 0, sparseCount, poses.local, 0.01f,
                                                 poses.sparse.data());
            TouchLocal(poses.local, sparseCount);
            OrvaneBuildWorldPoseSparse(skeleton, 0, bones, poses.sparse.data(),
                                       poses.reverse.data(), poses.local, kOffset, poses.world);
            TouchWorld(poses.world, bones, true);
            OrvaneBuildWorldPoseNoCompositeSparse(skeleton, 0, bones, poses.sparse.data(),
                                                  poses.reverse.data(), poses.local, nullptr,
                                                  poses.world);
            TouchWorld(poses.world, bones, false);
        }
    }

    OrvaneSampleModelAnimationsAccelerated(instance, bones, kOffset, poses.scratch, poses.world);
    TouchWorld(poses.world, bones, true);
    OrvaneSampleModelAnimationsAcceleratedLOD(instance, bones, nullptr, poses.scratch, poses.world,
                                              0.02f);
    TouchWorld(poses.world, bones, true);

    float translation[3], rotation[3], matrix[16];
    OrvaneGetRootMotionVectors(instance, 1.0f / 30, translation, rotation, false);
    Touch(translation, 3);
    Touch(rotation, 3);
    OrvaneGetRootMotionVectors(instance, 0.5f, translation, rotation, true);
    Touch(translation, 3);
    Touch(rotation, 3);
    OrvaneUpdateModelMatrix(instance, 1.0f / 60, kIdentity, matrix, false);
    Touch(matrix, 16);
    OrvaneUpdateModelMatrix(instance, 0.25f, kOffset, matrix, true);
    Touch(matrix, 16);
}

// Binds, skins and measures one mesh on the instance's current world pose.
void Mesh(orvane_model_instance* instance, const orvane_mesh* mesh, const orvane_skeleton* skeleton,
          Poses& poses) {
    orvane_mesh_binding* binding = OrvaneNewMeshBinding(mesh, skeleton, skeleton);
    if (binding == nullptr) return;
    const int32_t bound = OrvaneGetMeshBindingBoneCount(binding);
    // A rigid layout reads matrix 0 even without bone bindings: one identity at least.
    std::vector<float> matrices(size_t(std::max(bound, 1)) * 16);
    for (size_t m = 0; m < matrices.size(); m += 16)
        std::memcpy(&matrices[m], kIdentity, sizeof kIdentity);
    if (bound > 0) {
        OrvaneBuildMeshBinding4x4Array(binding, poses.world, 0, bound, matrices.data());
        Touch(matrices.data(), matrices.size());
    }

    const orvane_data_type_definition* type = OrvaneGetMeshVertexType(mesh);
    const int32_t count = OrvaneGetMeshVertexCount(mesh);
    const void* vertices = OrvaneGetMeshVertices(mesh);
    if (type != nullptr && vertices != nullptr && count > 0 && count <= kMaxVertices) {
        orvane_mesh_deformer* pn33 =
            OrvaneNewMeshDeformer(type, OrvanePN33VertexType, OrvanePositionNormalDeformation);
        if (pn33 != nullptr) {
            std::vector<float> out(size_t(count) * 6);
            OrvaneDeformVertices(pn33, nullptr, matrices.data(), count, vertices, out.data());
            Touch(out.data(), out.size());
            OrvaneFreeMeshDeformer(pn33);
        }
        orvane_mesh_deformer* same =
            OrvaneNewMeshDeformer(type, type, OrvanePositionNormalDeformation);
        const int32_t size = OrvaneGetTotalObjectSize(type);
        if (same != nullptr && size > 0) {
            std::vector<uint8_t> out(size_t(count) * size_t(size));
            OrvaneDeformVertices(same, nullptr, matrices.data(), count, vertices, out.data());
            OrvaneFreeMeshDeformer(same);
        } else {
            OrvaneFreeMeshDeformer(same);
        }
    }

    if (OrvaneGetSourceSkeleton(instance) == skeleton && skeleton->BoneCount <= kMaxLODBones) {
        orvane_model_control_binding* first = OrvaneModelControlsBegin(instance);
        if (first != OrvaneModelControlsEnd(instance)) {
            orvane_animation_binding* animationBinding =
                OrvaneGetAnimationBindingFromControlBinding(first);
            if (animationBinding != nullptr)
                OrvaneCalculateLODErrorValues(animationBinding, binding, false, 1.0f);
        }
        OrvaneCalculateLODErrorValuesAllBindings(instance, binding, false, 0.5f);
    }
    OrvaneFreeMeshBinding(binding);
}

// The instance's last sampled pose played as a controlled pose on a second instance of the
// model, built straight into a world pose (the only binding) and through the other paths.
void ControlledPose(const orvane_model* model, int32_t bones, Poses& poses, float past) {
    orvane_model_instance* second = OrvaneInstantiateModel(model);
    if (second == nullptr) return;
    orvane_local_pose* played = OrvaneNewLocalPose(bones);
    orvane_track_mask* mask = OrvaneNewTrackMask(0.5f, bones);
    if (played != nullptr) {
        OrvaneCopyLocalPose(poses.local, played);
        orvane_control* control = OrvanePlayControlledPose(0.0f, past, played, second, nullptr);
        if (control != nullptr) {
            for (float clock : {0.25f, past, -1.0f}) {
                OrvaneSetModelClock(second, clock);
                OrvaneSampleModelAnimationsAccelerated(second, bones, kOffset, poses.scratch,
                                                       poses.world);
                TouchWorld(poses.world, bones, true);
                OrvaneSampleModelAnimationsAcceleratedLOD(second, bones, nullptr, poses.scratch,
                                                          poses.world, 0.05f);
                TouchWorld(poses.world, bones, true);
            }
            // A second, masked pose: two bindings, sampled through a local pose.
            orvane_control* masked = OrvanePlayControlledPose(0.5f, 1.0f, played, second, mask);
            OrvaneSampleModelAnimationsLOD(second, 0, bones, poses.scratch, 0.01f);
            TouchLocal(poses.scratch, bones);
            OrvaneSampleModelAnimationsAccelerated(second, bones, nullptr, poses.scratch,
                                                   poses.world);
            TouchWorld(poses.world, bones, true);
            OrvaneFreeControl(masked);
            OrvaneFreeControl(control);
        }
    }
    OrvaneFreeTrackMask(mask);
    OrvaneFreeModelInstance(second);
    OrvaneFreeLocalPose(played);
}

// A blend graph from the file's content: the instance and its pose, crossfaded under a mask
// made from the first animation's first track group, inside a weighted blend.
void Graph(const orvane_file_info* info, orvane_model_instance* instance,
           const orvane_skeleton* skeleton, int32_t bones, Poses& poses) {
    orvane_track_mask* mask = OrvaneNewTrackMask(0.25f, bones);
    if (mask != nullptr && info->AnimationCount > 0 && info->Animations != nullptr &&
        info->Animations[0] != nullptr && info->Animations[0]->TrackGroupCount > 0 &&
        info->Animations[0]->TrackGroups != nullptr)
        OrvaneSetSkeletonTrackMaskFromTrackGroup(
            mask, skeleton, info->Animations[0]->TrackGroups[0], 0.0f, 0.5f, 1.0f);
    orvane_local_pose* pose = OrvaneNewLocalPose(bones);
    if (pose != nullptr) OrvaneCopyLocalPose(poses.local, pose);
    orvane_blend_dag_node* playing = OrvaneCreateBlendDagNodeAnimationBlend(instance, false);
    orvane_blend_dag_node* fixed = pose ? OrvaneCreateBlendDagNodeLocalPose(pose, true) : nullptr;
    if (fixed == nullptr) OrvaneFreeLocalPose(pose);
    orvane_blend_dag_node* fade =
        OrvaneCreateBlendDagNodeCrossfade(playing, fixed, 0.2f, 0.9f, mask, true, bones);
    if (fade == nullptr) {
        OrvaneFreeTrackMask(mask);
        OrvaneFreeBlendDagEntireTree(playing);
        OrvaneFreeBlendDagEntireTree(fixed);
        return;
    }
    orvane_blend_dag_node* root = OrvaneCreateBlendDagNodeWeightedBlend(
        skeleton, 0.2f, OrvaneQuaternionBlendNeighborhood, bones);
    if (root != nullptr) {
        OrvaneAddBlendDagNodeChild(root, fade);
        OrvaneSetBlendDagNodeResultWeight(fade, 0.75f);
    } else {
        root = fade;
    }
    for (float clock : {0.0f, 0.6f, 3.0f}) {
        OrvaneSetBlendDagTreeClock(root, clock);
        if (orvane_local_pose* out = OrvaneSampleBlendDagTreeLOD(root, bones, 0.02f))
            TouchLocal(out, bones);
        float translation[3], rotation[3], matrix[16];
        OrvaneGetBlendDagTreeMotionVectors(root, 0.1f, translation, rotation, false);
        Touch(translation, 3);
        Touch(rotation, 3);
        OrvaneUpdateBlendDagTreeMatrix(root, 0.1f, kIdentity, matrix, true);
        Touch(matrix, 16);
    }
    OrvaneFreeBlendDagEntireTree(root);
    OrvaneFreeBlendDagLocalPoseCache();
}

void Model(const orvane_file_info* info, const orvane_model* model) {
    const orvane_skeleton* skeleton = model->Skeleton;
    if (skeleton == nullptr || skeleton->BoneCount < 0 || skeleton->BoneCount > kMaxBones) return;
    const int32_t bones = skeleton->BoneCount;
    orvane_model_instance* instance = OrvaneInstantiateModel(model);
    if (instance == nullptr) return;
    Poses poses(bones);
    std::vector<orvane_control*> controls;
    const int32_t animations = std::min(info->AnimationCount, kMaxAnimations);
    float past = 7.5f;
    for (int32_t a = 0; a < animations && info->Animations != nullptr; ++a) {
        const orvane_animation* animation = info->Animations[a];
        if (animation == nullptr) continue;
        past = std::max(past, Past(animation));
        orvane_control* control = OrvanePlayControlledAnimation(0.0f, animation, instance);
        if (control != nullptr) {
            controls.push_back(control);
            OrvaneSetControlWeight(control, 1.0f / float(a + 1));
            OrvaneSetControlSpeed(control, a & 1 ? 1.5f : -0.75f);
            OrvaneSetControlLoopCount(control, a == 0 ? 0 : a);
            if (a == 1) OrvaneSetControlEaseIn(control, true);
        }
        if (a == 0) {
            // The same clip again through the builder, onto the bones whose names a rule picks.
            orvane_controlled_animation_builder* builder =
                OrvaneBeginControlledAnimation(0.25f, animation);
            if (builder != nullptr) {
                for (int32_t g = 0; g < std::min(animation->TrackGroupCount, 2); ++g) {
                    OrvaneSetTrackMatchRule(builder, g, "*", "*");
                    OrvaneSetTrackGroupTarget(builder, g, instance);
                    OrvaneSetTrackGroupAccumulation(builder, g, OrvaneAccumulationVariableDelta);
                    OrvaneSetTrackGroupLOD(builder, g, true, 1.0f);
                }
                orvane_control* ruled = OrvaneEndControlledAnimation(builder);
                if (ruled != nullptr) {
                    controls.push_back(ruled);
                    OrvaneSetControlWeight(ruled, 0.5f);
                    OrvaneSetControlLoopCount(ruled, 2);
                }
            }
        }
    }

    if (poses.ok()) {
        const float clocks[4] = {0.0f, 0.5f * past / 1.5f, past, -0.5f};
        for (float clock : clocks)
            Frame(instance, skeleton, bones, poses, clock);
        ControlledPose(model, bones, poses, past);
        Graph(info, instance, skeleton, bones, poses);
        const int32_t meshes = std::min(model->MeshBindingCount, kMaxMeshes);
        for (int32_t m = 0; m < meshes && model->MeshBindings != nullptr; ++m) {
            const orvane_mesh* mesh = model->MeshBindings[m].Mesh;
            if (mesh != nullptr) Mesh(instance, mesh, skeleton, poses);
        }
    }

    for (orvane_control* control : controls)
        OrvaneFreeControl(control);
    OrvaneFreeModelInstance(instance);
}

// Every track group of an animation through a track group playback: forwards, across the loop's
// seam, backwards, after a jump, with the looping and the duration changed between calls, and
// at a time that is not a number.
void Playback(const orvane_animation* animation) {
    const int32_t groups = std::min(animation->TrackGroupCount, 2);
    for (int32_t g = 0; g < groups && animation->TrackGroups != nullptr; ++g) {
        const orvane_track_group* group = animation->TrackGroups[g];
        orvane_track_group_playback* playback = OrvaneNewTrackGroupPlayback(group);
        if (playback == nullptr) continue;
        const float duration = std::isfinite(animation->Duration) && animation->Duration > 0.0f
                                   ? std::min(animation->Duration, 1.0e4f)
                                   : 1.0f;
        const float times[] = {0.0f, 0.3f * duration, 0.31f * duration, duration};
        const float after[] = {1.2f * duration, 0.5f * duration, -0.25f * duration, NAN};
        for (int32_t k = 0; k < 8; ++k) {
            orvane_track_sample_context context{};
            context.SampleTime = k < 4 ? times[k] : after[k - 4];
            context.SampleDuration = k == 5 ? 0.5f * duration : duration;
            context.LoopBefore = k % 3 != 1;
            context.LoopAfter = k % 2 == 0;
            context.FrameIndex = k;
            const orvane_transform* results =
                OrvaneSampleTrackGroupPlayback(playback, &context, nullptr);
            for (int32_t i = 0; results != nullptr && i < group->TransformTrackCount; ++i) {
                Touch(results[i].Position, 3);
                Touch(results[i].Orientation, 4);
                Touch(&results[i].ScaleShear[0][0], 9);
            }
        }
        OrvaneFreeTrackGroupPlayback(playback);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    orvane_log_callback callback = {&Quiet, nullptr};
    OrvaneSetLogCallback(&callback);
    OrvaneSetFileSectionSizeLimit(1u << 22);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 22)) return 0;
    orvane_file* file = OrvaneReadEntireFileFromMemory(int32_t(size), data);
    if (file == nullptr) return 0;
    const orvane_file_info* info = OrvaneGetFileInfo(file);
    if (info != nullptr) {
        const int32_t models = std::min(info->ModelCount, kMaxModels);
        for (int32_t m = 0; m < models && info->Models != nullptr; ++m)
            if (info->Models[m] != nullptr) Model(info, info->Models[m]);
        for (int32_t a = 0; a < info->AnimationCount && info->Animations != nullptr; ++a)
            if (info->Animations[a] != nullptr) {
                if (a < kMaxAnimations) Playback(info->Animations[a]);
                OrvaneFlushAllBindingsForAnimation(info->Animations[a]);
            }
    }
    OrvaneFlushAllUnusedAnimationBindings();
    OrvaneFreeFile(file);
    return 0;
}

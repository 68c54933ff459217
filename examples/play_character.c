/* Orvane's job in one page: load a content file, put its first model in the scene, play a clip
 * and blend a second one over it through controls, pose the skeleton, skin the mesh, and free
 * everything again under the library's leak check.
 *
 *   play_character FILE.ovn [CLIP [BLEND-CLIP [WEIGHT]]]
 *
 * CLIP defaults to the file's first animation, BLEND-CLIP to its second (when it has one), and
 * WEIGHT (of the blended clip, 0..1) to 0.5. Exit status 0 on success, 1 on any failure. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <orvane.h>

static void Print(orvane_log_message_type type, orvane_log_message_origin origin, const char* text,
                  void* user) {
    (void)origin, (void)user;
    fprintf(stderr, "orvane %s: %s\n", type == OrvaneErrorMessage ? "error" : "note", text);
}

/* The animation named Name, or the Index-th one when Name is null. */
static const orvane_animation* FindAnimation(const orvane_file_info* info, const char* name,
                                             int index) {
    for (int a = 0; a < info->AnimationCount; ++a) {
        const orvane_animation* animation = info->Animations[a];
        if (name ? strcmp(animation->Name, name) == 0 : a == index) return animation;
    }
    return NULL;
}

/* The skinning routines are fastest on 16-byte aligned matrices and vertices. */
static void* Aligned(size_t bytes, void** block) {
    *block = malloc(bytes + 15);
    return *block ? (void*)(((size_t)*block + 15) & ~(size_t)15) : NULL;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s FILE.ovn [CLIP [BLEND-CLIP [WEIGHT]]]\n", argv[0]);
        return 1;
    }
    if (!OrvaneVersionsMatch()) return 1; /* this header and the library agree */
    orvane_log_callback log = {Print, NULL};
    OrvaneSetLogCallback(&log);
    void* check = OrvaneBeginAllocationCheck();

    /* Everything the program makes; each is freed at the end (null is ignored). */
    orvane_file* file = NULL;
    orvane_model_instance* instance = NULL;
    orvane_control* controls[2] = {NULL, NULL};
    orvane_local_pose* local = NULL;
    orvane_world_pose* world = NULL;
    orvane_mesh_binding* binding = NULL;
    orvane_mesh_deformer* deformer = NULL;
    void *matrixBlock = NULL, *sourceBlock = NULL, *vertexBlock = NULL;
    int ok = 0;

    /* 1. Load. The file owns everything its file info points to; a damaged file gives null
     *    with the reason logged. */
    file = OrvaneReadEntireFile(argv[1]);
    orvane_file_info* info = file ? OrvaneGetFileInfo(file) : NULL;
    if (info == NULL || info->ModelCount < 1 || info->AnimationCount < 1) {
        fprintf(stderr, "%s: no model and animation to play\n", argv[1]);
        goto release;
    }
    const orvane_model* model = info->Models[0];
    const orvane_skeleton* skeleton = model->Skeleton;
    const int bones = skeleton->BoneCount;
    const float weight = argc > 4 ? (float)atof(argv[4]) : 0.5f;
    const orvane_animation* clips[2] = {FindAnimation(info, argc > 2 ? argv[2] : NULL, 0),
                                        FindAnimation(info, argc > 3 ? argv[3] : NULL, 1)};
    printf("model \"%s\": %d bones, %d meshes\n", model->Name, bones, model->MeshBindingCount);

    /* 2. An instance of the model, and a control per clip. A control is a clock (speed, loops,
     *    weight) bound to the instance's bones through the clip's tracks. */
    instance = OrvaneInstantiateModel(model);
    for (int c = 0; c < 2 && instance; ++c) {
        if (clips[c] == NULL) continue;
        controls[c] = OrvanePlayControlledAnimation(0.0f, clips[c], instance);
        if (controls[c] == NULL) {
            fprintf(stderr, "\"%s\" has no tracks for this model\n", clips[c]->Name);
            goto release;
        }
        const float w = c == 0 ? 1.0f - weight : weight;
        OrvaneSetControlLoopCount(controls[c], 0); /* loop for ever */
        OrvaneSetControlWeight(controls[c], w);
        printf("playing \"%s\" (%.3f s) at weight %.2f\n", clips[c]->Name, clips[c]->Duration, w);
    }

    /* 3. What a frame needs, made once: poses, and for the first mesh its binding to the
     *    skeleton, its vertices converted to the standard layout of four weights a vertex
     *    (PWN343: position, weights, bone indices, normal), a skinning routine from that
     *    layout into positions and normals (PN33), room for the skinning matrices and for the
     *    skinned vertices. */
    local = OrvaneNewLocalPose(bones);
    world = OrvaneNewWorldPose(bones);
    const orvane_mesh* mesh = model->MeshBindingCount > 0 ? model->MeshBindings[0].Mesh : NULL;
    float* matrices = NULL;
    orvane_pwn343_vertex* source = NULL;
    orvane_pn33_vertex* skinned = NULL;
    int vertices = 0, meshBones = 0;
    if (mesh) {
        const orvane_vertex_data* data = mesh->PrimaryVertexData;
        vertices = data->VertexCount;
        binding = OrvaneNewMeshBinding(mesh, skeleton, skeleton);
        meshBones = binding ? OrvaneGetMeshBindingBoneCount(binding) : 0;
        deformer = OrvaneNewMeshDeformer(OrvanePWN343VertexType, OrvanePN33VertexType,
                                         OrvanePositionNormalDeformation);
        matrices = Aligned((size_t)meshBones * 16 * sizeof(float) + 64, &matrixBlock);
        source = Aligned(sizeof(orvane_pwn343_vertex) * (size_t)vertices + 16, &sourceBlock);
        skinned = Aligned(sizeof(orvane_pn33_vertex) * (size_t)vertices + 16, &vertexBlock);
        if (source)
            OrvaneConvertVertexLayouts(vertices, data->VertexType, data->Vertices,
                                       OrvanePWN343VertexType, source);
    }
    if (instance == NULL || local == NULL || world == NULL ||
        (mesh && (!binding || !deformer || !matrices || !source || !skinned))) {
        fprintf(stderr, "cannot set up the frame\n");
        goto release;
    }

    /* 4. Frames: set the clock, sample and blend the controls into the local pose, compose
     *    the world pose, build the skinning matrices and skin the mesh. */
    for (int frame = 0; frame < 3; ++frame) {
        const float seconds = 0.25f * (float)frame;
        OrvaneSetModelClock(instance, seconds);
        OrvaneSampleModelAnimations(instance, 0, bones, local);
        OrvaneBuildWorldPose(skeleton, 0, bones, local, NULL, world);
        printf("t = %.2f s\n", seconds);
        for (int b = 0; b < bones && b < 3; ++b) {
            const float* m = OrvaneGetWorldPose4x4(world, b);
            printf("  bone %-12s at (%8.4f %8.4f %8.4f)\n", skeleton->Bones[b].Name, m[12], m[13],
                   m[14]);
        }
        if (mesh) {
            OrvaneBuildMeshBinding4x4Array(binding, world, 0, meshBones, matrices);
            OrvaneDeformVertices(deformer, NULL, matrices, vertices, source, skinned);
            for (int v = 0; v < vertices && v < 2; ++v)
                printf("  vertex %d at (%8.4f %8.4f %8.4f)\n", v, skinned[v].Position[0],
                       skinned[v].Position[1], skinned[v].Position[2]);
        }
    }
    ok = 1;

release:
    /* 5. Free everything; a control frees its bindings with it. */
    free(vertexBlock);
    free(sourceBlock);
    free(matrixBlock);
    OrvaneFreeMeshDeformer(deformer);
    OrvaneFreeMeshBinding(binding);
    OrvaneFreeWorldPose(world);
    OrvaneFreeLocalPose(local);
    OrvaneFreeControl(controls[1]);
    OrvaneFreeControl(controls[0]);
    OrvaneFreeModelInstance(instance);
    OrvaneFreeFile(file);
    /* Every block the library took since the check began is back (leaks are logged). */
    if (!OrvaneEndAllocationCheck(check)) ok = 0;
    return ok ? 0 : 1;
}

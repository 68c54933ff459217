/* The viewer's side of the library: what the page (web/index.html) calls, through the public C
 * API only. It loads a content file, lists its models and clips, plays a clip with a second one
 * blended over it, poses the skeleton and skins every mesh of the chosen model into arrays
 * that the page hands to WebGL as they are. The same file builds natively (viewer_native.c),
 * so that a frame in the browser can be compared with the native library's.
 *
 * One file, one model and one pair of clips at a time; every call after a failed one is safe
 * and does nothing. */
#include "viewer.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <orvane.h>

/* One mesh of the model: its binding, its vertices in a skinnable layout with texture
 * coordinates, the skinned copy the page draws, its triangles and its first texture. */
typedef struct viewer_mesh {
    const orvane_mesh* mesh;
    orvane_mesh_binding* binding;
    orvane_mesh_deformer* deformer;
    int vertexCount, boneCount;
    void* source; /* PWNT3432, or PNT332 for a rigid mesh */
    orvane_pnt332_vertex* skinned;
    float* matrices;
    int indexCount;
    unsigned* indices;
    int textureWidth, textureHeight;
    unsigned char* texture; /* RGBA, rows from the top */
} viewer_mesh;

static struct {
    orvane_file* file;
    const orvane_file_info* info;
    const orvane_model* model;
    orvane_model_instance* instance;
    orvane_control* controls[2];
    orvane_local_pose* local;
    orvane_world_pose* world;
    int boneCount;
    int* parents;
    float* bonePositions;
    int meshCount;
    viewer_mesh* meshes;
    char error[512];
    char counters[8192];
} g;

static void Remember(orvane_log_message_type type, orvane_log_message_origin origin,
                     const char* text, void* user) {
    (void)origin, (void)user;
    if (type == OrvaneErrorMessage && g.error[0] == '\0')
        snprintf(g.error, sizeof g.error, "%s", text);
}

static int Fail(const char* text) {
    if (g.error[0] == '\0') snprintf(g.error, sizeof g.error, "%s", text);
    return 0;
}

static void InstallLog(void) {
    orvane_log_callback log = {Remember, NULL};
    OrvaneSetLogCallback(&log);
}

static void FreeModel(void) {
    for (int c = 0; c < 2; ++c) {
        OrvaneFreeControl(g.controls[c]);
        g.controls[c] = NULL;
    }
    for (int m = 0; m < g.meshCount; ++m) {
        viewer_mesh* v = &g.meshes[m];
        OrvaneFreeMeshDeformer(v->deformer);
        OrvaneFreeMeshBinding(v->binding);
        free(v->source);
        free(v->skinned);
        free(v->matrices);
        free(v->indices);
        free(v->texture);
    }
    free(g.meshes);
    g.meshes = NULL;
    g.meshCount = 0;
    free(g.parents);
    free(g.bonePositions);
    g.parents = NULL;
    g.bonePositions = NULL;
    OrvaneFreeWorldPose(g.world);
    OrvaneFreeLocalPose(g.local);
    OrvaneFreeModelInstance(g.instance);
    g.world = NULL;
    g.local = NULL;
    g.instance = NULL;
    g.model = NULL;
    g.boneCount = 0;
}

void ViewerClose(void) {
    FreeModel();
    OrvaneFreeFile(g.file);
    g.file = NULL;
    g.info = NULL;
}

int ViewerOpen(const char* path) {
    ViewerClose();
    InstallLog();
    g.error[0] = '\0';
    g.file = OrvaneReadEntireFile(path);
    g.info = g.file ? OrvaneGetFileInfo(g.file) : NULL;
    if (g.info == NULL) {
        ViewerClose();
        return Fail("not a content file");
    }
    if (g.info->ModelCount < 1) {
        ViewerClose();
        return Fail("the file has no model");
    }
    return 1;
}

const char* ViewerError(void) {
    return g.error;
}

int ViewerModelCount(void) {
    return g.info ? g.info->ModelCount : 0;
}

const char* ViewerModelName(int index) {
    if (index < 0 || index >= ViewerModelCount()) return "";
    const char* name = g.info->Models[index]->Name;
    return name ? name : "";
}

int ViewerClipCount(void) {
    return g.info ? g.info->AnimationCount : 0;
}

const char* ViewerClipName(int index) {
    if (index < 0 || index >= ViewerClipCount()) return "";
    const char* name = g.info->Animations[index]->Name;
    return name ? name : "";
}

float ViewerClipDuration(int index) {
    if (index < 0 || index >= ViewerClipCount()) return 0.0f;
    return g.info->Animations[index]->Duration;
}

int ViewerUpAxis(void) {
    /* +-1, +-2, +-3 for the x, y or z axis of the file's up vector; y when it has none. */
    const orvane_art_tool_info* tool = g.info ? g.info->ArtToolInfo : NULL;
    if (tool == NULL) return 2;
    int axis = 1;
    for (int i = 0; i < 3; ++i) {
        const float a = tool->UpVector[i] < 0 ? -tool->UpVector[i] : tool->UpVector[i];
        const float b = tool->UpVector[axis] < 0 ? -tool->UpVector[axis] : tool->UpVector[axis];
        if (a > b) axis = i;
    }
    if (!(tool->UpVector[axis] != 0.0f)) return 2;
    return tool->UpVector[axis] < 0 ? -(axis + 1) : axis + 1;
}

/* The mesh's first texture: its materials' own, else their maps'. */
static const orvane_texture* FirstTexture(const orvane_mesh* mesh) {
    for (int b = 0; b < mesh->MaterialBindingCount; ++b) {
        const orvane_material* material = mesh->MaterialBindings[b].Material;
        if (material == NULL) continue;
        if (material->Texture) return material->Texture;
        for (int m = 0; m < material->MapCount; ++m) {
            const orvane_material* map = material->Maps[m].Map;
            if (map && map->Texture) return map->Texture;
        }
    }
    return NULL;
}

static int SetUpMesh(viewer_mesh* v, const orvane_mesh* mesh, const orvane_skeleton* skeleton) {
    v->mesh = mesh;
    v->vertexCount = OrvaneGetMeshVertexCount(mesh);
    const int rigid = OrvaneMeshIsRigid(mesh);
    const orvane_data_type_definition* layout =
        rigid ? OrvanePNT332VertexType : OrvanePWNT3432VertexType;
    const size_t vertexSize = rigid ? sizeof(orvane_pnt332_vertex) : sizeof(orvane_pwnt3432_vertex);
    v->binding = OrvaneNewMeshBinding(mesh, skeleton, skeleton);
    v->deformer =
        OrvaneNewMeshDeformer(layout, OrvanePNT332VertexType, OrvanePositionNormalDeformation);
    if (v->binding == NULL || v->deformer == NULL) return Fail("cannot skin the model's meshes");
    v->boneCount = OrvaneGetMeshBindingBoneCount(v->binding);
    const size_t count = v->vertexCount > 0 ? (size_t)v->vertexCount : 1;
    v->source = calloc(count, vertexSize);
    v->skinned = calloc(count, sizeof(orvane_pnt332_vertex));
    v->matrices = calloc((size_t)(v->boneCount > 0 ? v->boneCount : 1), 16 * sizeof(float));
    v->indexCount = OrvaneGetMeshIndexCount(mesh);
    v->indices = calloc(v->indexCount > 0 ? (size_t)v->indexCount : 1, sizeof(unsigned));
    if (!v->source || !v->skinned || !v->matrices || !v->indices) return Fail("out of memory");
    OrvaneCopyMeshVertices(mesh, layout, v->source);
    /* Skinned meshes index the binding's matrices; the converted indices are checked once
     * here, so that no frame reads outside them. Rigid ones use the first matrix. */
    if (!rigid &&
        !OrvaneVertexBoneIndicesAreInRange(v->vertexCount, layout, v->source, v->boneCount))
        return Fail("a mesh names bones it does not bind");
    if (rigid && v->boneCount < 1) return Fail("a rigid mesh has no bone");
    OrvaneCopyMeshIndices(mesh, 4, v->indices);
    for (int i = 0; i < v->indexCount; ++i) {
        if (v->indices[i] >= (unsigned)v->vertexCount) return Fail("a triangle names no vertex");
    }

    const orvane_texture* texture = FirstTexture(mesh);
    if (texture && texture->Width > 0 && texture->Height > 0 && texture->Width <= 8192 &&
        texture->Height <= 8192) {
        const int w = texture->Width, h = texture->Height;
        v->texture = malloc((size_t)w * (size_t)h * 4);
        if (v->texture && OrvaneCopyTextureImage(texture, 0, 0, OrvaneRGBA8888PixelFormat, w, h,
                                                 w * 4, v->texture)) {
            v->textureWidth = w;
            v->textureHeight = h;
        } else {
            free(v->texture); /* drawn shaded instead */
            v->texture = NULL;
        }
    }
    return 1;
}

int ViewerSelectModel(int index) {
    FreeModel();
    if (index < 0 || index >= ViewerModelCount()) return Fail("no such model");
    g.error[0] = '\0';
    g.model = g.info->Models[index];
    g.instance = OrvaneInstantiateModel(g.model);
    if (g.instance == NULL) return Fail("the model cannot be instantiated");
    const orvane_skeleton* skeleton = g.model->Skeleton;
    g.boneCount = skeleton->BoneCount;
    g.local = OrvaneNewLocalPose(g.boneCount);
    g.world = OrvaneNewWorldPose(g.boneCount);
    g.parents = calloc((size_t)g.boneCount + 1, sizeof(int));
    g.bonePositions = calloc((size_t)g.boneCount + 1, 3 * sizeof(float));
    if (!g.local || !g.world || !g.parents || !g.bonePositions) {
        FreeModel();
        return Fail("out of memory");
    }
    for (int b = 0; b < g.boneCount; ++b)
        g.parents[b] = skeleton->Bones[b].ParentIndex;
    g.meshes = calloc((size_t)g.model->MeshBindingCount + 1, sizeof(viewer_mesh));
    if (g.meshes == NULL) {
        FreeModel();
        return Fail("out of memory");
    }
    for (int m = 0; m < g.model->MeshBindingCount; ++m) {
        const orvane_mesh* mesh = g.model->MeshBindings[m].Mesh;
        if (mesh == NULL) continue;
        if (!SetUpMesh(&g.meshes[g.meshCount++], mesh, skeleton)) {
            FreeModel();
            return 0;
        }
    }
    return 1;
}

int ViewerPlay(int clip, int blendClip, float blendWeight, int loop) {
    if (g.instance == NULL) return Fail("no model");
    for (int c = 0; c < 2; ++c) {
        OrvaneFreeControl(g.controls[c]);
        g.controls[c] = NULL;
    }
    g.error[0] = '\0';
    const int clips[2] = {clip, blendClip};
    for (int c = 0; c < 2; ++c) {
        if (clips[c] < 0 || clips[c] >= ViewerClipCount()) continue;
        g.controls[c] =
            OrvanePlayControlledAnimation(0.0f, g.info->Animations[clips[c]], g.instance);
        if (g.controls[c] == NULL) return Fail("the clip has no track for this model's bones");
        OrvaneSetControlLoopCount(g.controls[c], loop ? 0 : 1);
    }
    ViewerSetBlendWeight(blendWeight);
    return 1;
}

void ViewerSetBlendWeight(float weight) {
    if (!(weight >= 0.0f)) weight = 0.0f;
    if (weight > 1.0f) weight = 1.0f;
    if (g.controls[0]) OrvaneSetControlWeight(g.controls[0], g.controls[1] ? 1.0f - weight : 1.0f);
    if (g.controls[1]) OrvaneSetControlWeight(g.controls[1], weight);
}

int ViewerPose(float seconds) {
    if (g.instance == NULL) return 0;
    OrvaneSetModelClock(g.instance, seconds);
    OrvaneSampleModelAnimations(g.instance, 0, g.boneCount, g.local);
    OrvaneBuildWorldPose(g.model->Skeleton, 0, g.boneCount, g.local, NULL, g.world);
    for (int b = 0; b < g.boneCount; ++b) {
        const float* m = OrvaneGetWorldPose4x4(g.world, b);
        memcpy(&g.bonePositions[3 * b], &m[12], 3 * sizeof(float));
    }
    for (int m = 0; m < g.meshCount; ++m) {
        viewer_mesh* v = &g.meshes[m];
        OrvaneBuildMeshBinding4x4Array(v->binding, g.world, 0, v->boneCount, v->matrices);
        OrvaneDeformVertices(v->deformer, NULL, v->matrices, v->vertexCount, v->source, v->skinned);
    }
    return 1;
}

int ViewerBoneCount(void) {
    return g.boneCount;
}
const int* ViewerBoneParents(void) {
    return g.parents;
}
const float* ViewerBonePositions(void) {
    return g.bonePositions;
}

int ViewerMeshCount(void) {
    return g.meshCount;
}

static const viewer_mesh* Mesh(int index) {
    return index >= 0 && index < g.meshCount ? &g.meshes[index] : NULL;
}

int ViewerMeshVertexCount(int index) {
    const viewer_mesh* v = Mesh(index);
    return v ? v->vertexCount : 0;
}
const float* ViewerMeshVertices(int index) {
    const viewer_mesh* v = Mesh(index);
    return v ? v->skinned[0].Position : NULL;
}
int ViewerMeshIndexCount(int index) {
    const viewer_mesh* v = Mesh(index);
    return v ? v->indexCount : 0;
}
const unsigned* ViewerMeshIndices(int index) {
    const viewer_mesh* v = Mesh(index);
    return v ? v->indices : NULL;
}
int ViewerMeshTextureWidth(int index) {
    const viewer_mesh* v = Mesh(index);
    return v ? v->textureWidth : 0;
}
int ViewerMeshTextureHeight(int index) {
    const viewer_mesh* v = Mesh(index);
    return v ? v->textureHeight : 0;
}
const unsigned char* ViewerMeshTexture(int index) {
    const viewer_mesh* v = Mesh(index);
    return v ? v->texture : NULL;
}

double ViewerChecksum(void) {
    /* Every skinned position, each weighted by its place, so that a vertex that moves or two
     * vertices that swap change the sum; the bones' positions for a model without meshes. */
    double sum = 0.0;
    for (int m = 0; m < g.meshCount; ++m) {
        const viewer_mesh* v = &g.meshes[m];
        for (int i = 0; i < v->vertexCount; ++i) {
            const float* p = v->skinned[i].Position;
            sum += (1.0 + (double)(i % 7)) * ((double)p[0] + 2.0 * p[1] + 3.0 * p[2]);
        }
    }
    for (int b = 0; b < g.boneCount; ++b) {
        const float* p = &g.bonePositions[3 * b];
        sum += (1.0 + (double)(b % 5)) * ((double)p[0] + 2.0 * p[1] + 3.0 * p[2]);
    }
    return sum;
}

const char* ViewerCounters(void) {
    /* One line per timing block that ran since the last call: name, entries, milliseconds
     * with and without the blocks it called. Then the counters start again. */
    size_t used = 0;
    g.counters[0] = '\0';
    const int count = OrvaneGetCounterCount();
    for (int i = 0; i < count; ++i) {
        orvane_counter_results r;
        memset(&r, 0, sizeof r);
        OrvaneGetCounterResults(i, &r);
        if (r.Count == 0 || used >= sizeof g.counters) continue;
        const int n = snprintf(g.counters + used, sizeof g.counters - used, "%s\t%d\t%.4f\t%.4f\n",
                               r.Name ? r.Name : "?", (int)r.Count, r.SecondsElapsed * 1000.0,
                               r.SecondsWithoutChildren * 1000.0);
        if (n > 0) used += (size_t)n;
    }
    OrvaneResetCounters();
    return g.counters;
}

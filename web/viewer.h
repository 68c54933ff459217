/* The calls the viewer page makes (web/viewer.c). Pointers returned stay valid until the next
 * ViewerOpen, ViewerSelectModel or ViewerClose; arrays of vertices are orvane_pnt332_vertex
 * (8 floats each), bone positions 3 floats per bone. */
#ifndef ORVANE_WEB_VIEWER_H
#define ORVANE_WEB_VIEWER_H

#ifdef __EMSCRIPTEN__
#include <emscripten/emscripten.h>
#define VIEWER_EXPORT EMSCRIPTEN_KEEPALIVE
#else
#define VIEWER_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Loads a content file; 0 with ViewerError's text when it is not one or has no model. */
VIEWER_EXPORT int ViewerOpen(const char* path);
VIEWER_EXPORT void ViewerClose(void);
/* The first error of the last call that failed ("" when none). */
VIEWER_EXPORT const char* ViewerError(void);

VIEWER_EXPORT int ViewerModelCount(void);
VIEWER_EXPORT const char* ViewerModelName(int index);
VIEWER_EXPORT int ViewerClipCount(void);
VIEWER_EXPORT const char* ViewerClipName(int index);
VIEWER_EXPORT float ViewerClipDuration(int index);
/* The file's up axis: 1, 2, 3 for x, y, z, negative when it points down the axis. */
VIEWER_EXPORT int ViewerUpAxis(void);

/* Instantiates a model and readies its meshes for skinning. */
VIEWER_EXPORT int ViewerSelectModel(int index);
/* Plays clip (and blendClip over it, -1 for none) from time 0, looping or once. */
VIEWER_EXPORT int ViewerPlay(int clip, int blendClip, float blendWeight, int loop);
VIEWER_EXPORT void ViewerSetBlendWeight(float weight);
/* Samples the clips at the model clock's seconds, poses the skeleton and skins every mesh. */
VIEWER_EXPORT int ViewerPose(float seconds);

VIEWER_EXPORT int ViewerBoneCount(void);
VIEWER_EXPORT const int* ViewerBoneParents(void);
VIEWER_EXPORT const float* ViewerBonePositions(void);
VIEWER_EXPORT int ViewerMeshCount(void);
VIEWER_EXPORT int ViewerMeshVertexCount(int mesh);
VIEWER_EXPORT const float* ViewerMeshVertices(int mesh);
VIEWER_EXPORT int ViewerMeshIndexCount(int mesh);
VIEWER_EXPORT const unsigned* ViewerMeshIndices(int mesh);
/* RGBA pixels of the mesh's first texture; width 0 when it has none that decodes. */
VIEWER_EXPORT int ViewerMeshTextureWidth(int mesh);
VIEWER_EXPORT int ViewerMeshTextureHeight(int mesh);
VIEWER_EXPORT const unsigned char* ViewerMeshTexture(int mesh);

/* A sum over the posed frame that the browser and the native library must agree on. */
VIEWER_EXPORT double ViewerChecksum(void);
/* The library's timing blocks since the last call, one "name\tcount\tms\tms-exclusive" line
 * each; the counters are reset. */
VIEWER_EXPORT const char* ViewerCounters(void);

#ifdef __cplusplus
}
#endif

#endif /* ORVANE_WEB_VIEWER_H */

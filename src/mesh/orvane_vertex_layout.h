// The standard vertex layouts by their record arrays, for the deformer registry and the tests.
#ifndef ORVANE_VERTEX_LAYOUT_H
#define ORVANE_VERTEX_LAYOUT_H

#include "core/orvane_private.h"
#include "orvane/mesh.h"

namespace orvane {

extern orvane_data_type_definition g_p3Vertex[], g_pt32Vertex[], g_pn33Vertex[], g_png333Vertex[],
    g_pngt3332Vertex[], g_pnt332Vertex[], g_pngb3333Vertex[], g_pnt333Vertex[],
    g_pngbt33332Vertex[], g_pngbt33333Vertex[];
extern orvane_data_type_definition g_pwn313Vertex[], g_pwn323Vertex[], g_pwn343Vertex[],
    g_pwng3133Vertex[], g_pwng3233Vertex[], g_pwng3433Vertex[], g_pwngt31332Vertex[],
    g_pwngt32332Vertex[], g_pwngt34332Vertex[], g_pwngb31333Vertex[], g_pwngb32333Vertex[],
    g_pwngb34333Vertex[], g_pwnt3132Vertex[], g_pwnt3232Vertex[], g_pwnt3432Vertex[],
    g_pwngbt313332Vertex[], g_pwngbt323332Vertex[], g_pwngbt343332Vertex[];
extern orvane_data_type_definition g_gbx333Vertex[], g_vertexWeightArrays[];

}  // namespace orvane

#endif  // ORVANE_VERTEX_LAYOUT_H

/* Orvane: run-time character animation. Include this header to get the whole C API, or include
 * the header of each module a program uses (orvane/MODULE.h). The modules that build content
 * (builders, fitting, compression, file writing) are marked "offline" in their headers: a
 * library built with ORVANE_RUNTIME_ONLY leaves them out. */
#ifndef ORVANE_H
#define ORVANE_H

#include "orvane/common.h"
#include "orvane/core.h"
#include "orvane/diag.h"
#include "orvane/math.h"

/* Data types and content files */
#include "orvane/types.h"
#include "orvane/convert.h"
#include "orvane/file_stream.h"
#include "orvane/file_format.h"
#include "orvane/file_decompression.h"
#include "orvane/file.h"

/* Animation data and the animation runtime */
#include "orvane/curve.h"
#include "orvane/bspline.h"
#include "orvane/track_group.h"
#include "orvane/track_sampler.h"
#include "orvane/track_group_playback.h"
#include "orvane/track_mask.h"
#include "orvane/periodic_loop.h"
#include "orvane/skeleton.h"
#include "orvane/local_pose.h"
#include "orvane/world_pose.h"
#include "orvane/instance.h"
#include "orvane/animation_binding.h"
#include "orvane/controlled_animation.h"
#include "orvane/blend_graph.h"

/* Meshes, skinning and textures */
#include "orvane/vertex_layout.h"
#include "orvane/mesh.h"
#include "orvane/deformer.h"
#include "orvane/pixel_layout.h"
#include "orvane/texture.h"

/* Scene utilities */
#include "orvane/camera.h"
#include "orvane/ray_tests.h"
#include "orvane/ik.h"
#include "orvane/basis_conversion.h"

/* Offline: building, fitting, compressing and writing content */
#include "orvane/variant_builder.h"
#include "orvane/curve_builder.h"
#include "orvane/track_group_builder.h"
#include "orvane/fit.h"
#include "orvane/compress.h"
#include "orvane/skeleton_builder.h"
#include "orvane/mesh_builder.h"
#include "orvane/texture_builder.h"
#include "orvane/file_compression.h"
#include "orvane/file_builder.h"
#include "orvane/data_tree_writer.h"

#endif /* ORVANE_H */

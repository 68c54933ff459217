/* Orvane animation runtime: skeletons, poses, model instances, controls, bindings and blend
 * graphs, with the skeleton builder. Kept so that code written for earlier releases builds; new
 * code includes the headers it uses. */
#ifndef ORVANE_RUNTIME_H
#define ORVANE_RUNTIME_H

#include "orvane/skeleton.h"
#include "orvane/local_pose.h"
#include "orvane/world_pose.h"
#include "orvane/instance.h"
#include "orvane/animation_binding.h"
#include "orvane/controlled_animation.h"
#include "orvane/blend_graph.h"
#include "orvane/skeleton_builder.h"

#endif /* ORVANE_RUNTIME_H */

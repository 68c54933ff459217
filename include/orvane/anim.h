/* Orvane animation data, run-time and offline: curves, B-splines, track groups, sampling, masks,
 * periodic loops, the curve and track group builders, fitting and compression. Kept so that
 * code written for earlier releases builds; new code includes the headers it uses. */
#ifndef ORVANE_ANIM_H
#define ORVANE_ANIM_H

#include "orvane/curve.h"
#include "orvane/bspline.h"
#include "orvane/track_group.h"
#include "orvane/track_sampler.h"
#include "orvane/track_mask.h"
#include "orvane/periodic_loop.h"
#include "orvane/curve_builder.h"
#include "orvane/track_group_builder.h"
#include "orvane/fit.h"
#include "orvane/compress.h"

#endif /* ORVANE_ANIM_H */

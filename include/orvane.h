/* Orvane: run-time character animation. Include this header to get the whole C API. */
#ifndef ORVANE_H
#define ORVANE_H

#include "orvane/common.h"
#include "orvane/core.h"
#include "orvane/diag.h"
#include "orvane/math.h"
#include "orvane/types.h"
#include "orvane/anim.h"
#include "orvane/runtime.h"
#include "orvane/file.h"

#endif /* ORVANE_H */

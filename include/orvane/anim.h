/* Orvane anim subsystem. */
#ifndef ORVANE_ANIM_H
#define ORVANE_ANIM_H

#include "orvane/common.h"

ORVANE_EXTERN_C_BEGIN

ORVANE_EXTERN_C_END

#endif /* ORVANE_ANIM_H */

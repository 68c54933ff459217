/* Orvane types subsystem. */
#ifndef ORVANE_TYPES_H
#define ORVANE_TYPES_H

#include "orvane/common.h"

ORVANE_EXTERN_C_BEGIN

ORVANE_EXTERN_C_END

#endif /* ORVANE_TYPES_H */

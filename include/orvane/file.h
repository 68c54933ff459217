/* Orvane file subsystem. */
#ifndef ORVANE_FILE_H
#define ORVANE_FILE_H

#include "orvane/common.h"

ORVANE_EXTERN_C_BEGIN

ORVANE_EXTERN_C_END

#endif /* ORVANE_FILE_H */

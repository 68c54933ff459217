/* Orvane: definitions shared by every public header.
 *
 * The headers compile as C99 and as C++. Every exported function has C linkage and the
 * Orvane prefix; exported tables and enumeration constants carry the same prefix, and
 * public types are named orvane_<name>.
 */
#ifndef ORVANE_COMMON_H
#define ORVANE_COMMON_H

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

/* Marks an exported function or table. The library is built with hidden visibility, so only
 * what carries this macro appears in the shared object's dynamic symbol table. */
#define ORVANE_API __attribute__((visibility("default")))

#ifdef __cplusplus
#define ORVANE_EXTERN_C_BEGIN extern "C" {
#define ORVANE_EXTERN_C_END }
#else
#define ORVANE_EXTERN_C_BEGIN
#define ORVANE_EXTERN_C_END
#endif

/* Scalar types. Their names are also the declared type names that type descriptions
 * report for numeric members. */
typedef int8_t orvane_int8;
typedef uint8_t orvane_uint8;
typedef int16_t orvane_int16;
typedef uint16_t orvane_uint16;
typedef int32_t orvane_int32;
typedef uint32_t orvane_uint32;
typedef int64_t orvane_int64;
typedef uint64_t orvane_uint64;
typedef float orvane_real32;
typedef double orvane_real64;

/* Truth values are one byte wide in every record and signature (C's _Bool and C++'s bool are
 * both one byte on every platform the library supports). */
typedef bool orvane_bool;

#ifdef __cplusplus
static_assert(sizeof(orvane_bool) == 1, "orvane_bool must be one byte");
#else
_Static_assert(sizeof(orvane_bool) == 1, "orvane_bool must be one byte");
#endif

/* The real whose bits are 0x7F0FFFFF: used for infinite durations and unmeasured errors. */
#define ORVANE_UNBOUNDED_REAL32 1.9140881e38f

#endif /* ORVANE_COMMON_H */

/* Orvane core services: allocation and tracking, logging, arenas, stack and fixed allocators,
 * CRC-32, strings, string tables and the version.
 *
 * Threads: distinct objects may be used from different threads at once. The default
 * allocator's tracking list is guarded; the log's most-serious record, log file and callback
 * are serialised; formatting buffers are per thread. Stacks, fixed allocators, arenas and
 * string tables are not guarded: one thread at a time per object.
 */
#ifndef ORVANE_CORE_H
#define ORVANE_CORE_H

#include "orvane/common.h"
#include "orvane/version.h"

ORVANE_EXTERN_C_BEGIN

/* ---------------------------------------------------------------------------------------- */
/* Allocation and memory tracking                                                           */
/* ---------------------------------------------------------------------------------------- */

/* Returns memory whose address is a multiple of alignment (at least 1), or null. A size of 0
 * is allowed and yields a distinct, tracked block. */
typedef void* (*orvane_allocate_callback)(const char* SourceFile, orvane_int32 SourceLine,
                                          orvane_uint32 Alignment, orvane_int32 Size);
/* Releases memory from the matching allocate callback; null is allowed. */
typedef void (*orvane_deallocate_callback)(const char* SourceFile, orvane_int32 SourceLine,
                                           void* Memory);

/* The header in front of every block of the default allocator. The fields are those of the
 * 32-bit design in their order with native widths; on 64-bit hosts the record is 64 bytes
 * (ORVANE_ALLOCATION_HEADER_SIZE, always a multiple of 16), and the caller's address is the
 * header's address plus that size. */
typedef struct orvane_allocation_header {
    orvane_uint32 Magic;        /* 0xCA5ECA5E while the block belongs to the default allocator */
    orvane_int32 RequestedSize; /* -1 once freed */
    void* HeapBlock;            /* what the platform heap returned */
    orvane_int32 HeapSize;      /* alignment + size + header size - 1 */
    const char* SourceFile;     /* not copied */
    orvane_int32 SourceLine;
    struct orvane_allocation_header* Next;     /* next older block */
    struct orvane_allocation_header* Previous; /* next newer block */
} orvane_allocation_header;

#if UINTPTR_MAX > 0xFFFFFFFFu
#define ORVANE_ALLOCATION_HEADER_SIZE 64
#else
#define ORVANE_ALLOCATION_HEADER_SIZE 32
#endif
#define ORVANE_ALLOCATION_MAGIC 0xCA5ECA5Eu

typedef struct orvane_allocation_information {
    void* Memory;               /* the address the caller received */
    orvane_int32 RequestedSize; /* size asked for */
    orvane_int32 ActualSize;    /* RequestedSize + ORVANE_ALLOCATION_HEADER_SIZE */
    const char* SourceFile;
    orvane_int32 SourceLine;
} orvane_allocation_information;

/* Installs both callbacks at once, from the next request on. Blocks must be released through
 * the pair that allocated them. */
ORVANE_API void OrvaneSetAllocator(orvane_allocate_callback Allocate,
                                   orvane_deallocate_callback Deallocate);
ORVANE_API void OrvaneGetAllocator(orvane_allocate_callback* Allocate,
                                   orvane_deallocate_callback* Deallocate);

/* Walk of the default allocator's live blocks, newest first:
 *   for (h = OrvaneAllocationsBegin(); h != OrvaneAllocationsEnd(); h = OrvaneNextAllocation(h))
 * The walk is not guarded against other threads allocating while it runs. */
ORVANE_API orvane_allocation_header* OrvaneAllocationsBegin(void);
ORVANE_API orvane_allocation_header* OrvaneNextAllocation(orvane_allocation_header* Header);
ORVANE_API orvane_allocation_header* OrvaneAllocationsEnd(void);
ORVANE_API void OrvaneGetAllocationInformation(orvane_allocation_header* Header,
                                               orvane_allocation_information* Information);

/* Leak check: blocks taken after the marker and still live are logged as warnings (origin
 * OrvaneMemoryOrigin) by OrvaneEndAllocationCheck, which then releases the marker and returns
 * false. Only the default allocator's blocks are seen. */
ORVANE_API void* OrvaneBeginAllocationCheck(void);
ORVANE_API orvane_allocation_header* OrvaneCheckedAllocationsEnd(void* Marker);
ORVANE_API orvane_bool OrvaneEndAllocationCheck(void* Marker);

/* Releases a block that a builder returned (one block per result). Null is ignored. */
ORVANE_API void OrvaneFreeBuilderResult(void* Memory);

/* ---------------------------------------------------------------------------------------- */
/* Logging                                                                                  */
/* ---------------------------------------------------------------------------------------- */

typedef enum orvane_log_message_type {
    OrvaneIgnoredMessage = 0,
    OrvaneNoteMessage = 1,
    OrvaneWarningMessage = 2,
    OrvaneErrorMessage = 3
} orvane_log_message_type;

typedef enum orvane_log_message_origin {
    OrvaneNotImplementedOrigin = 0,
    OrvaneApplicationOrigin = 1,
    OrvanePlatformOrigin = 2,
    OrvaneFileWritingOrigin = 8,
    OrvaneFileReadingOrigin = 9,
    OrvaneCompressorOrigin = 11,
    OrvaneStringOrigin = 12,
    OrvaneVertexLayoutOrigin = 14,
    OrvaneMeshOrigin = 15,
    OrvaneSkeletonBuilderOrigin = 17,
    OrvaneAnimationOrigin = 18,
    OrvaneTextureOrigin = 20,
    OrvanePointerHashOrigin = 22,
    OrvaneMemberIteratorOrigin = 25,
    OrvaneTrackGroupBuilderOrigin = 26,
    OrvaneFixedAllocatorOrigin = 30,
    OrvaneTrackMaskOrigin = 32,
    OrvaneLocalPoseOrigin = 33,
    OrvaneWorldPoseOrigin = 34,
    OrvaneControlledAnimationOrigin = 36,
    OrvaneMeshBindingOrigin = 37,
    OrvaneBasisConversionOrigin = 38,
    OrvaneVersionCheckingOrigin = 39,
    OrvaneMemoryOrigin = 40,
    OrvaneDeformerOrigin = 41,
    OrvaneInverseKinematicsOrigin = 44,
    OrvaneCurveOrigin = 45,
    OrvaneTrackGroupOrigin = 46,
    OrvaneOnePastLastMessageOrigin = 47
} orvane_log_message_origin;

/* Called with every message that passes the filters; Text is zero-terminated and valid only
 * during the call. Calls are serialised. */
typedef void (*orvane_log_function)(orvane_log_message_type Type, orvane_log_message_origin Origin,
                                    const char* Text, void* UserData);
typedef struct orvane_log_callback {
    orvane_log_function Function; /* null: no callback */
    void* UserData;
} orvane_log_callback;

ORVANE_API void OrvaneSetLogCallback(const orvane_log_callback* Callback);
ORVANE_API orvane_log_callback OrvaneGetLogCallback(void);
/* Null or empty turns file logging off (true). Otherwise the file is created (emptied when
 * Clear is true) and each message is appended with a line feed; false when it cannot be
 * opened (the name stays set). Names longer than 511 characters are cut. */
ORVANE_API orvane_bool OrvaneSetLogFileName(const char* FileName, orvane_bool Clear);
ORVANE_API orvane_bool OrvaneLogging(void);
ORVANE_API void OrvaneFilterMessage(orvane_log_message_origin Origin, orvane_bool Enabled);
ORVANE_API void OrvaneFilterAllMessages(orvane_bool Enabled);
/* The first message of the highest type since load or the last clear; recorded whether or not
 * any output is configured or its origin is filtered. */
ORVANE_API orvane_log_message_type OrvaneGetMostSeriousMessageType(void);
ORVANE_API const char* OrvaneGetMostSeriousMessage(void);
ORVANE_API void OrvaneClearMostSeriousMessage(void);

/* ---------------------------------------------------------------------------------------- */
/* Arenas, stack and fixed allocators                                                       */
/* ---------------------------------------------------------------------------------------- */

typedef struct orvane_memory_arena orvane_memory_arena;

ORVANE_API orvane_memory_arena* OrvaneNewMemoryArena(void);
/* Size new bytes aligned to 4 (to 16 on 64-bit hosts), or null. */
ORVANE_API void* OrvaneMemoryArenaPush(orvane_memory_arena* Arena, orvane_int32 Size);
ORVANE_API void OrvaneClearArena(orvane_memory_arena* Arena);
ORVANE_API void OrvaneFreeMemoryArena(orvane_memory_arena* Arena);

typedef struct orvane_stack_allocator {
    orvane_int32 UnitSize;
    orvane_int32 UnitsPerBlock;
    orvane_int32 UnitCount;
    struct orvane_stack_block* NewestBlock;
} orvane_stack_allocator;

ORVANE_API void OrvaneStackInitialize(orvane_stack_allocator* Allocator, orvane_int32 UnitSize,
                                      orvane_int32 UnitsPerBlock);
ORVANE_API orvane_bool OrvaneNewStackUnit(orvane_stack_allocator* Allocator, orvane_int32* Index);
/* Index must be below the unit count. */
ORVANE_API void* OrvaneGetStackUnit(orvane_stack_allocator* Allocator, orvane_int32 Index);
ORVANE_API orvane_int32 OrvaneGetStackUnitCount(const orvane_stack_allocator* Allocator);
ORVANE_API void OrvanePopStackUnits(orvane_stack_allocator* Allocator, orvane_int32 Count);
ORVANE_API void OrvaneStackCleanUp(orvane_stack_allocator* Allocator);
ORVANE_API void OrvaneSerializeStack(const orvane_stack_allocator* Allocator, void* Destination);

typedef struct orvane_fixed_block {
    orvane_int32 UsedCount;
    void* Storage;
    void* FirstFreeUnit;
    struct orvane_fixed_block* Next;
    struct orvane_fixed_block* Previous;
} orvane_fixed_block;

typedef struct orvane_fixed_allocator {
    orvane_int32 UnitSize;
    orvane_int32 UnitsPerBlock;
    orvane_fixed_block Sentinel;
} orvane_fixed_allocator;

ORVANE_API void OrvaneInitializeFixedAllocator(orvane_fixed_allocator* Allocator,
                                               orvane_int32 UnitSize);
ORVANE_API void* OrvaneAllocateFixed(orvane_fixed_allocator* Allocator);
ORVANE_API void OrvaneDeallocateFixed(orvane_fixed_allocator* Allocator, void* Memory);
ORVANE_API void OrvaneDeallocateAllFixed(orvane_fixed_allocator* Allocator);

/* ---------------------------------------------------------------------------------------- */
/* CRC-32, strings, string tables, version                                                  */
/* ---------------------------------------------------------------------------------------- */

/* The reflected CRC-32 of zlib and PNG (polynomial 0xEDB88320). */
ORVANE_API void OrvaneBeginCRC32(orvane_uint32* State);
ORVANE_API void OrvaneAddToCRC32(orvane_uint32* State, orvane_uint32 ByteCount, const void* Bytes);
ORVANE_API void OrvaneEndCRC32(orvane_uint32* State);

/* Signed difference of the first differing characters; nulls order before strings. */
ORVANE_API orvane_int32 OrvaneStringDifference(const char* A, const char* B);
/* Name lookups treat two names as equal when the callback returns 0; null restores exact
 * comparison. */
typedef orvane_int32 (*orvane_string_comparison_callback)(const char* A, const char* B);
ORVANE_API void OrvaneSetStringComparisonCallback(orvane_string_comparison_callback Callback);

typedef struct orvane_string_table orvane_string_table;
ORVANE_API orvane_string_table* OrvaneNewStringTable(void);
ORVANE_API void OrvaneFreeStringTable(orvane_string_table* Table);
/* The table's own copy of a string equal to String; null when String is null or memory runs
 * out. */
ORVANE_API char* OrvaneMapString(orvane_string_table* Table, const char* String);

/* ORVANE_VERSION_MAJOR, _MINOR, _CUSTOMIZATION, _BUILD and _STRING come from the project
 * version (orvane/version.h is generated into the build tree). */
ORVANE_API const char* OrvaneGetVersionString(void);
ORVANE_API void OrvaneGetVersion(orvane_int32* Major, orvane_int32* Minor,
                                 orvane_int32* Customization, orvane_int32* Build);
ORVANE_API orvane_bool OrvaneVersionsMatch_(orvane_int32 Major, orvane_int32 Minor,
                                            orvane_int32 Customization, orvane_int32 Build);
/* True when the library is the version this header describes; logs a warning otherwise. */
#define OrvaneVersionsMatch()                                                                      \
    OrvaneVersionsMatch_(ORVANE_VERSION_MAJOR, ORVANE_VERSION_MINOR, ORVANE_VERSION_CUSTOMIZATION, \
                         ORVANE_VERSION_BUILD)

ORVANE_EXTERN_C_END

#endif /* ORVANE_CORE_H */

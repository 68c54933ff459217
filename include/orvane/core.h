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

/* Installs both callbacks at once, from the next request on; a null callback installs the
 * default allocator's. Blocks must be released through the pair that allocated them. */
ORVANE_API void OrvaneSetAllocator(orvane_allocate_callback Allocate,
                                   orvane_deallocate_callback Deallocate);
/* The installed pair (the default allocator's until OrvaneSetAllocator); either output may be
 * null. */
ORVANE_API void OrvaneGetAllocator(orvane_allocate_callback* Allocate,
                                   orvane_deallocate_callback* Deallocate);

/* Walk of the default allocator's live blocks, newest first:
 *   for (h = OrvaneAllocationsBegin(); h != OrvaneAllocationsEnd(); h = OrvaneNextAllocation(h))
 * The walk is not guarded against other threads allocating while it runs. */
ORVANE_API orvane_allocation_header* OrvaneAllocationsBegin(void);
/* The next older block after Header (a header of the walk, not End). */
ORVANE_API orvane_allocation_header* OrvaneNextAllocation(orvane_allocation_header* Header);
/* The end of the walk: never a real block. */
ORVANE_API orvane_allocation_header* OrvaneAllocationsEnd(void);
/* Fills Information from a header of the walk (caller address, sizes, source place). */
ORVANE_API void OrvaneGetAllocationInformation(orvane_allocation_header* Header,
                                               orvane_allocation_information* Information);

/* Leak check: blocks taken after the marker and still live are logged as warnings (origin
 * OrvaneMemoryOrigin) by OrvaneEndAllocationCheck, which then releases the marker and returns
 * false. Only the default allocator's blocks are seen. */
ORVANE_API void* OrvaneBeginAllocationCheck(void);
/* The end for a walk of the blocks taken since Marker (newest first, from
 * OrvaneAllocationsBegin); OrvaneAllocationsEnd() for a null Marker. */
ORVANE_API orvane_allocation_header* OrvaneCheckedAllocationsEnd(void* Marker);
/* True when no block taken after Marker is still live; each leaked block is logged. Releases
 * the marker either way. */
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
 * during the call. Calls are serialised. The callback may call the library: the messages that
 * logs are delivered first, each with its own text; beyond two such nested levels on a thread
 * messages are dropped, so a callback that always logs still returns. */
typedef void (*orvane_log_function)(orvane_log_message_type Type, orvane_log_message_origin Origin,
                                    const char* Text, void* UserData);
typedef struct orvane_log_callback {
    orvane_log_function Function; /* null: no callback */
    void* UserData;
} orvane_log_callback;

/* Installs a copy of *Callback for every message from now on; null (or a null Function)
 * removes the callback. Safe from any thread; a message being delivered finishes first. */
ORVANE_API void OrvaneSetLogCallback(const orvane_log_callback* Callback);
/* The installed callback ({null, null} when none). */
ORVANE_API orvane_log_callback OrvaneGetLogCallback(void);
/* Null or empty turns file logging off (true). Otherwise the file is created (emptied when
 * Clear is true) and each message is appended with a line feed; false when it cannot be
 * opened (the name stays set). Names longer than 511 characters are cut. */
ORVANE_API orvane_bool OrvaneSetLogFileName(const char* FileName, orvane_bool Clear);
/* True when messages have somewhere to go (a callback or a log file is set). */
ORVANE_API orvane_bool OrvaneLogging(void);
/* Enables or disables the messages of one origin (all are enabled at load); an origin outside
 * [0, OrvaneOnePastLastMessageOrigin) is ignored. Filtered messages still count for the most
 * serious message. */
ORVANE_API void OrvaneFilterMessage(orvane_log_message_origin Origin, orvane_bool Enabled);
/* OrvaneFilterMessage for every origin. */
ORVANE_API void OrvaneFilterAllMessages(orvane_bool Enabled);
/* The first message of the highest type since load or the last clear; recorded whether or not
 * any output is configured or its origin is filtered. */
ORVANE_API orvane_log_message_type OrvaneGetMostSeriousMessageType(void);
/* Its text ("" when there is none); valid until the next message or clear. */
ORVANE_API const char* OrvaneGetMostSeriousMessage(void);
/* Forgets it: the type becomes OrvaneIgnoredMessage. */
ORVANE_API void OrvaneClearMostSeriousMessage(void);

/* ---------------------------------------------------------------------------------------- */
/* Arenas, stack and fixed allocators                                                       */
/* ---------------------------------------------------------------------------------------- */

typedef struct orvane_memory_arena orvane_memory_arena;

/* An arena: blocks pushed one by one and released all at once. Null when memory runs out.
 * One thread at a time per arena. */
ORVANE_API orvane_memory_arena* OrvaneNewMemoryArena(void);
/* Size new bytes aligned to 4 (to 16 on 64-bit hosts), not cleared, or null for a null arena,
 * a negative size or no memory. Each push is one allocation of its own. */
ORVANE_API void* OrvaneMemoryArenaPush(orvane_memory_arena* Arena, orvane_int32 Size);
/* Releases every pushed block; the arena stays usable. Null is ignored. */
ORVANE_API void OrvaneClearArena(orvane_memory_arena* Arena);
/* Clears and releases the arena. Null is ignored. */
ORVANE_API void OrvaneFreeMemoryArena(orvane_memory_arena* Arena);

typedef struct orvane_stack_allocator {
    orvane_int32 UnitSize;
    orvane_int32 UnitsPerBlock;
    orvane_int32 UnitCount;
    struct orvane_stack_block* NewestBlock;
} orvane_stack_allocator;

/* A stack of units of UnitSize bytes, numbered from 0 in push order and kept in blocks of
 * UnitsPerBlock units, so that units never move. The record lives in the caller's storage;
 * every call needs a non-null Allocator set up by OrvaneStackInitialize, and one thread at a
 * time per stack. */
/* Sets up an empty stack (nothing is allocated until the first unit). A unit size below 0 or
 * a block size below 1 makes every later OrvaneNewStackUnit fail. */
ORVANE_API void OrvaneStackInitialize(orvane_stack_allocator* Allocator, orvane_int32 UnitSize,
                                      orvane_int32 UnitsPerBlock);
/* Adds one unit (its bytes are not cleared) and stores its index in *Index (Index may be
 * null). False, with *Index = -1, when a new block cannot be allocated, the sizes are
 * unusable or the stack already holds INT32_MAX units. */
ORVANE_API orvane_bool OrvaneNewStackUnit(orvane_stack_allocator* Allocator, orvane_int32* Index);
/* The unit at Index; null when Index is outside [0, unit count). Valid until the unit is
 * popped. */
ORVANE_API void* OrvaneGetStackUnit(orvane_stack_allocator* Allocator, orvane_int32 Index);
/* How many units the stack holds. */
ORVANE_API orvane_int32 OrvaneGetStackUnitCount(const orvane_stack_allocator* Allocator);
/* Removes the newest Count units (all of them when Count exceeds the count; nothing when it is
 * 0 or negative), releasing blocks that become empty. */
ORVANE_API void OrvanePopStackUnits(orvane_stack_allocator* Allocator, orvane_int32 Count);
/* Removes every unit and releases every block; the stack stays usable. */
ORVANE_API void OrvaneStackCleanUp(orvane_stack_allocator* Allocator);
/* Copies every unit, in index order, to Destination, which holds unit count x UnitSize
 * bytes. */
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

/* A pool of units of one size, handed out and taken back one at a time from blocks of at
 * least 64 units (about 4000 bytes). The record lives in the caller's storage; every call
 * needs a non-null Allocator set up by OrvaneInitializeFixedAllocator, and one thread at a
 * time per pool. */
/* Sets up an empty pool of UnitSize-byte units (raised to 4 bytes at the first allocation,
 * since a free unit holds a 4-byte link). Nothing is allocated yet. */
ORVANE_API void OrvaneInitializeFixedAllocator(orvane_fixed_allocator* Allocator,
                                               orvane_int32 UnitSize);
/* One unit, not cleared; null when a block cannot be allocated. A block's units lie UnitSize
 * bytes apart from a pointer-aligned start, so units of sizeof(record) bytes are aligned for
 * the record (up to a pointer's alignment). A unit size of 0 or less
 * logs "%s(%d): The fixed allocator cannot be used with a unit size of 0." (origin
 * OrvaneFixedAllocatorOrigin) and returns null. */
ORVANE_API void* OrvaneAllocateFixed(orvane_fixed_allocator* Allocator);
/* Takes back a unit from OrvaneAllocateFixed of this pool; null is ignored. Memory that is
 * not the start of a unit of the pool logs "%s(%d): Memory block 0x%p was not allocated by this
 * allocator." and is left alone. A block whose last unit comes back is released. */
ORVANE_API void OrvaneDeallocateFixed(orvane_fixed_allocator* Allocator, void* Memory);
/* Takes back every unit at once and releases every block; the pool stays usable. */
ORVANE_API void OrvaneDeallocateAllFixed(orvane_fixed_allocator* Allocator);

/* ---------------------------------------------------------------------------------------- */
/* CRC-32, strings, string tables, version                                                  */
/* ---------------------------------------------------------------------------------------- */

/* The reflected CRC-32 of zlib and PNG (polynomial 0xEDB88320). */
/* Begin sets *State to the start value, Add folds ByteCount bytes in (Bytes may be null only
 * when ByteCount is 0), End leaves the finished CRC in *State. Pure: any thread, any number of
 * states at once. */
ORVANE_API void OrvaneBeginCRC32(orvane_uint32* State);
ORVANE_API void OrvaneAddToCRC32(orvane_uint32* State, orvane_uint32 ByteCount, const void* Bytes);
ORVANE_API void OrvaneEndCRC32(orvane_uint32* State);

/* Signed difference of the first differing characters; nulls order before strings. */
ORVANE_API orvane_int32 OrvaneStringDifference(const char* A, const char* B);
/* Name lookups treat two names as equal when the callback returns 0; null restores exact
 * comparison. The callback is only given non-null strings: a missing (null) name equals only
 * another missing one. Set it before other threads look names up: the setting is
 * process-wide. */
typedef orvane_int32 (*orvane_string_comparison_callback)(const char* A, const char* B);
ORVANE_API void OrvaneSetStringComparisonCallback(orvane_string_comparison_callback Callback);

typedef struct orvane_string_table orvane_string_table;
/* A set of string copies, each kept once, freed together. Null when memory runs out. One
 * thread at a time per table. */
ORVANE_API orvane_string_table* OrvaneNewStringTable(void);
/* Releases the table and every copy it handed out. Null is ignored. */
ORVANE_API void OrvaneFreeStringTable(orvane_string_table* Table);
/* The table's own copy of a string equal to String; null when String is null or memory runs
 * out. */
ORVANE_API char* OrvaneMapString(orvane_string_table* Table, const char* String);

/* ORVANE_VERSION_MAJOR, _MINOR, _CUSTOMIZATION, _BUILD and _STRING come from the project
 * version (orvane/version.h is generated into the build tree). */
/* The library's version as "major.minor.customization.build" (static text). */
ORVANE_API const char* OrvaneGetVersionString(void);
/* The library's version numbers; any output may be null. */
ORVANE_API void OrvaneGetVersion(orvane_int32* Major, orvane_int32* Minor,
                                 orvane_int32* Customization, orvane_int32* Build);
/* True when the four numbers are the library's; otherwise warns "%s(%d): Version of DLL
 * (%d.%d.%d.%d) does not match version of .h (%d.%d.%d.%d)" (origin OrvaneVersionCheckingOrigin)
 * and returns false. Called through OrvaneVersionsMatch(). */
ORVANE_API orvane_bool OrvaneVersionsMatch_(orvane_int32 Major, orvane_int32 Minor,
                                            orvane_int32 Customization, orvane_int32 Build);
/* True when the library is the version this header describes; logs a warning otherwise. */
#define OrvaneVersionsMatch()                                                                      \
    OrvaneVersionsMatch_(ORVANE_VERSION_MAJOR, ORVANE_VERSION_MINOR, ORVANE_VERSION_CUSTOMIZATION, \
                         ORVANE_VERSION_BUILD)

ORVANE_EXTERN_C_END

#endif /* ORVANE_CORE_H */

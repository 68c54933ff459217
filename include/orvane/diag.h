/* Orvane diagnostics: timing blocks around the library's expensive operations, their counters,
 * and the monotonic system clock.
 *
 * Threads: each thread has its own current timing block, so nesting is tracked per thread;
 * counters are updated atomically, each thread adding to sums of its own (so that threads timing
 * the same operation at once do not slow each other), and may be read and reset from any
 * thread: a reading adds every thread's sums up.
 */
#ifndef ORVANE_DIAG_H
#define ORVANE_DIAG_H

#include "orvane/common.h"

ORVANE_EXTERN_C_BEGIN

typedef struct orvane_counter_results {
    const char* Name;
    orvane_int32 Count;           /* completed entries since the last reset */
    orvane_real64 SecondsElapsed; /* children included */
    orvane_real64 SecondsWithoutChildren;
    orvane_real64 TotalTicks;
    orvane_real64 TicksWithoutChildren;
    orvane_int32 PeakCount; /* largest values seen at a reset */
    orvane_real64 PeakSecondsElapsed;
    orvane_real64 PeakSecondsWithoutChildren;
} orvane_counter_results;

/* Number of timing blocks registered so far (blocks register on first use). */
ORVANE_API orvane_int32 OrvaneGetCounterCount(void);
/* Index in [0, OrvaneGetCounterCount()); other indices leave Results untouched. The first call
 * that reports seconds calibrates the tick rate (see OrvaneGetCounterTicksPerSecond). */
ORVANE_API void OrvaneGetCounterResults(orvane_int32 Index, orvane_counter_results* Results);
/* Folds current values into the peaks and zeroes counts and ticks. */
ORVANE_API void OrvaneResetCounters(void);
/* Zeroes the peaks of every counter; counts and ticks stay. */
ORVANE_API void OrvaneResetCounterPeaks(void);
/* Time-stamp counter ticks per second, measured once over about one second (the first call
 * sleeps) and cached; 1 when the clock did not advance. Where the counter is the system's
 * nanosecond clock (hosts other than x86, WebAssembly) the rate is known and nothing sleeps. */
ORVANE_API orvane_real64 OrvaneGetCounterTicksPerSecond(void);

/* Monotonic clock: Microseconds counts from the first reading in the process; the second word
 * is unused. The clock never runs backwards. */
typedef struct orvane_system_clock {
    orvane_int64 Microseconds;
    orvane_int64 Unused;
} orvane_system_clock;

/* The clock now. Safe from any thread (readings are serialised). */
ORVANE_API orvane_system_clock OrvaneGetSystemSeconds(void);
/* (End - Start) in seconds; 0 when Start is at or after End. */
ORVANE_API orvane_real64 OrvaneGetSecondsElapsed(const orvane_system_clock* Start,
                                                 const orvane_system_clock* End);
/* Sleeps for Seconds rounded to the nearest millisecond. */
ORVANE_API void OrvaneSleepForSeconds(orvane_real32 Seconds);

/* Statistics snapshot: counts of live model instances and controls, the animation binding
 * cache's counters, the default allocator's live blocks grouped by source location, and the
 * timing blocks, averaged over FramesSinceLastCapture frames (values below 1 count as 1). The
 * timing values report seconds, so the first capture in a process calibrates the tick rate
 * (about one second). Null when memory runs out. A snapshot is plain data: free it with
 * OrvaneFreeStats. Capturing walks the allocation list, which other threads must not change
 * meanwhile. */
typedef struct orvane_stats_allocation_site {
    const char* SourceFile;
    orvane_int32 SourceLine;
    orvane_int32 Count;
    orvane_int64 RequestedBytes;
} orvane_stats_allocation_site;

typedef struct orvane_stats {
    orvane_int32 FrameCount;
    orvane_int32 ModelInstanceCount;
    orvane_int32 ControlCount;
    orvane_int32 AnimationBindingCacheStatus[12]; /* in the order of the cache status record */
    orvane_int32 MaximumAnimationBindingCount;
    orvane_int32 AllocationCount;
    orvane_int64 AllocatedBytes;      /* requested */
    orvane_int64 AllocatedBytesTotal; /* with the allocator's headers */
    orvane_int32 AllocationSiteCount; /* largest first */
    orvane_stats_allocation_site* AllocationSites;
    orvane_int32 CounterCount;
    orvane_counter_results* Counters;
    orvane_real64 TicksPerSecond;
} orvane_stats;

ORVANE_API orvane_stats* OrvaneCaptureCurrentStats(orvane_int32 FramesSinceLastCapture);
ORVANE_API void OrvaneFreeStats(orvane_stats* Stats); /* null allowed */
/* The snapshot as text for a log or an overlay, in sections headed "Model Instances:",
 * "Controls:", "Animation binding cache:", "Allocations:" and "Clocks/frame:"; at most the 16
 * largest allocation sites and the timing blocks that ran, most expensive first. Null for a
 * null snapshot or no memory. Free with OrvaneFreeStatHUDDump. */
ORVANE_API char* OrvaneDumpStatHUD(const orvane_stats* Stats);
ORVANE_API void OrvaneFreeStatHUDDump(char* Text); /* null allowed */

ORVANE_EXTERN_C_END

#endif /* ORVANE_DIAG_H */

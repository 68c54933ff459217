// Timing blocks around expensive operations.
#ifndef ORVANE_TIMING_H
#define ORVANE_TIMING_H

#include "core/orvane_private.h"
#include "orvane/diag.h"
#include "platform/orvane_platform.h"

#include <atomic>
#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

namespace orvane {

// The sums of one block in one shard. They only grow: a reset records where they stood (the
// block's baseline) rather than clearing them, so that a shard's sums have one writer and the
// counter queries, which read them from any thread, never write them.
struct TimingSums {
    std::atomic<uint64_t> count;
    std::atomic<uint64_t> totalTicks;
    std::atomic<uint64_t> childTicks;
};

// The sums are kept in shards. Each of the first kTimingShards threads to time something owns
// a shard and adds to it with plain stores, without the locked instructions that would cost
// more than the two counter reads of a scope; later threads share one more shard, to which
// they add atomically. The counter queries add the shards up, so the counts stay exact
// whatever the number of threads.
inline constexpr int32_t kMaxTimingBlocks = 512;
inline constexpr int32_t kTimingShards = 16;
struct alignas(64) TimingShard {
    TimingSums sums[kMaxTimingBlocks];
};
extern TimingShard g_timingShards[kTimingShards + 1];  // the last one shared

// Adds to one sum: by its only writer, or atomically in the shared shard.
[[gnu::always_inline]] inline void AddToSum(std::atomic<uint64_t>& sum, uint64_t value,
                                            bool owned) {
    if (owned)
        sum.store(sum.load(std::memory_order_relaxed) + value, std::memory_order_relaxed);
    else
        sum.fetch_add(value, std::memory_order_relaxed);
}

// One named block: its place in the shards, the sums at the last reset and the peaks that
// resets record.
struct TimingBlock {
    const char* name;
    int32_t index;
    int32_t peakCount;
    uint64_t peakTotalTicks;
    uint64_t peakExclusiveTicks;
    uint64_t baseCount, baseTotalTicks, baseChildTicks;
};

// The block of name (a constant text): the one registered under that name, or the next table
// slot; null when the table is full.
TimingBlock* RegisterTimingBlock(const char* name);

// The block whose scope is innermost on this thread; null outside every scope.
extern thread_local constinit TimingBlock* t_currentTimingBlock;

// This thread's shard, given at its first scope, and whether the thread owns it.
extern thread_local constinit TimingShard* t_timingShard;
extern thread_local constinit bool t_ownsTimingShard;
TimingShard* TakeTimingShard();
[[gnu::always_inline]] inline TimingShard& ThisThreadsTimingShard() {
    TimingShard* shard = t_timingShard;
    return shard != nullptr ? *shard : *TakeTimingShard();
}

// The time-stamp counter, read in line where the processor has one.
[[gnu::always_inline]] inline uint64_t ReadTimingTicks() {
#if defined(__x86_64__) || defined(__i386__)
    return __rdtsc();
#else
    return platform::ReadTimeStampCounter();
#endif
}

// Enters a block for the lifetime of the scope; ticks go to the block and to the child ticks
// of the block that was current on this thread before (none for an outermost scope). A null
// block times nothing. Blocks time whole calls: a scope costs two counter reads and two or
// three adds to this thread's shard, too much for per-bone or per-vertex work.
class TimingScope {
public:
    [[gnu::always_inline]] explicit TimingScope(TimingBlock* block)
        : block_(block), saved_(t_currentTimingBlock), start_(0) {
        if (block_ == nullptr) return;
        t_currentTimingBlock = block_;
        start_ = ReadTimingTicks();
    }
    [[gnu::always_inline]] ~TimingScope() {
        if (block_ == nullptr) return;
        const uint64_t elapsed = ReadTimingTicks() - start_;
        TimingShard& shard = ThisThreadsTimingShard();
        const bool owned = t_ownsTimingShard;
        TimingSums& sums = shard.sums[block_->index];
        AddToSum(sums.count, 1, owned);
        AddToSum(sums.totalTicks, elapsed, owned);
        t_currentTimingBlock = saved_;
        if (saved_ != nullptr) AddToSum(shard.sums[saved_->index].childTicks, elapsed, owned);
    }
    TimingScope(const TimingScope&) = delete;
    TimingScope& operator=(const TimingScope&) = delete;

private:
    TimingBlock* block_;
    TimingBlock* saved_;
    uint64_t start_;
};

}  // namespace orvane

#define ORVANE_TIMING_CONCAT2(a, b) a##b
#define ORVANE_TIMING_CONCAT(a, b) ORVANE_TIMING_CONCAT2(a, b)
// Times the rest of the enclosing scope under name (a string literal).
#define ORVANE_TIMING_BLOCK(name)                                                            \
    static ::orvane::TimingBlock* const ORVANE_TIMING_CONCAT(orvaneTimingBlock_, __LINE__) = \
        ::orvane::RegisterTimingBlock(name);                                                 \
    ::orvane::TimingScope ORVANE_TIMING_CONCAT(                                              \
        orvaneTimingScope_, __LINE__)(ORVANE_TIMING_CONCAT(orvaneTimingBlock_, __LINE__))

#endif  // ORVANE_TIMING_H

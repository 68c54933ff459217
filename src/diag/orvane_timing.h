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

// The sums of one block in one shard. The sums are written by any thread inside a scope and
// read by the counter queries; each update is one relaxed atomic add.
struct TimingSums {
    std::atomic<int32_t> count;
    std::atomic<uint64_t> totalTicks;
    std::atomic<uint64_t> childTicks;
};

// The sums are kept in shards, each thread adding to the shard it was given when it first
// timed something: two threads timing the same operation would otherwise pass one cache line
// back and forth on every scope. The counter queries add the shards up, so the counts stay
// exact whatever the number of threads (threads past the shard count share shards).
inline constexpr int32_t kMaxTimingBlocks = 512;
inline constexpr int32_t kTimingShards = 8;
struct alignas(64) TimingShard {
    TimingSums sums[kMaxTimingBlocks];
};
extern TimingShard g_timingShards[kTimingShards];

// One named block: its place in the shards and the peaks that resets record.
struct TimingBlock {
    const char* name;
    int32_t index;
    int32_t peakCount;
    uint64_t peakTotalTicks;
    uint64_t peakExclusiveTicks;
};

// Takes the next table slot for name (a constant text); null when the table is full.
TimingBlock* RegisterTimingBlock(const char* name);

// The block whose scope is innermost on this thread; null outside every scope.
extern thread_local constinit TimingBlock* t_currentTimingBlock;

// This thread's shard, given at its first scope.
extern thread_local constinit TimingShard* t_timingShard;
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
// three atomic adds to this thread's shard, too much for per-bone or per-vertex work.
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
        TimingSums& sums = shard.sums[block_->index];
        sums.count.fetch_add(1, std::memory_order_relaxed);
        sums.totalTicks.fetch_add(elapsed, std::memory_order_relaxed);
        t_currentTimingBlock = saved_;
        if (saved_ != nullptr)
            shard.sums[saved_->index].childTicks.fetch_add(elapsed, std::memory_order_relaxed);
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

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

// One named block's sums. The sums are written by any thread inside a scope and read by the
// counter queries; each update is one relaxed atomic add.
struct TimingBlock {
    const char* name;
    std::atomic<int32_t> count;
    std::atomic<uint64_t> totalTicks;
    std::atomic<uint64_t> childTicks;
    int32_t peakCount;
    uint64_t peakTotalTicks;
    uint64_t peakExclusiveTicks;
};

// Takes the next table slot for name (a constant text); null when the table is full.
TimingBlock* RegisterTimingBlock(const char* name);

// The block whose scope is innermost on this thread; null outside every scope.
extern thread_local constinit TimingBlock* t_currentTimingBlock;

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
// three atomic adds, too much for per-bone or per-vertex work.
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
        block_->count.fetch_add(1, std::memory_order_relaxed);
        block_->totalTicks.fetch_add(elapsed, std::memory_order_relaxed);
        t_currentTimingBlock = saved_;
        if (saved_ != nullptr) saved_->childTicks.fetch_add(elapsed, std::memory_order_relaxed);
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

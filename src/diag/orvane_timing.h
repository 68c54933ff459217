// Timing blocks around expensive operations.
#ifndef ORVANE_TIMING_H
#define ORVANE_TIMING_H

#include "core/orvane_private.h"
#include "orvane/diag.h"

#include <atomic>
#include <cstdint>

namespace orvane {

struct TimingBlock;

// Takes the next table slot for name (a constant text); null when the table is full.
TimingBlock* RegisterTimingBlock(const char* name);

// Enters a block for the lifetime of the scope; ticks go to the block and to the child ticks
// of the block that was current on this thread before. A null block times nothing.
class TimingScope {
public:
    explicit TimingScope(TimingBlock* block);
    ~TimingScope();
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

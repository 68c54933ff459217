// Timing blocks, counters, the tick calibration and the monotonic system clock.
#include "diag/orvane_timing.h"

#include <cmath>
#include <cstring>
#include <mutex>

#include "diag/orvane_clock.h"
#include "platform/orvane_platform.h"

namespace orvane {

namespace {

TimingBlock g_blocks[kMaxTimingBlocks];
std::atomic<int32_t> g_blockCount{0};
std::atomic<uint32_t> g_shardsTaken{0};
std::mutex g_registrationMutex;  // registration and resets
std::atomic<double> g_ticksPerSecond{0.0};

}  // namespace

TimingShard g_timingShards[kTimingShards + 1];

thread_local constinit TimingBlock* t_currentTimingBlock = nullptr;
thread_local constinit TimingShard* t_timingShard = nullptr;
thread_local constinit bool t_ownsTimingShard = false;

TimingShard* TakeTimingShard() {
    const uint32_t taken = g_shardsTaken.fetch_add(1, std::memory_order_relaxed);
    t_ownsTimingShard = taken < uint32_t(kTimingShards);
    t_timingShard = &g_timingShards[t_ownsTimingShard ? taken : uint32_t(kTimingShards)];
    // Later threads would otherwise carry the count on towards wrapping to the owned shards.
    if (!t_ownsTimingShard) g_shardsTaken.store(uint32_t(kTimingShards), std::memory_order_relaxed);
    return t_timingShard;
}

namespace {

// A block's sums over all shards since the process began.
struct BlockSums {
    uint64_t count = 0, total = 0, child = 0;
};
BlockSums SumsOf(int32_t index) {
    BlockSums s;
    for (const TimingShard& shard : g_timingShards) {
        const TimingSums& sums = shard.sums[index];
        s.count += sums.count.load(std::memory_order_relaxed);
        s.total += sums.totalTicks.load(std::memory_order_relaxed);
        s.child += sums.childTicks.load(std::memory_order_relaxed);
    }
    return s;
}

}  // namespace

TimingBlock* RegisterTimingBlock(const char* name) {
    std::lock_guard<std::mutex> lock(g_registrationMutex);
    int32_t index = g_blockCount.load(std::memory_order_relaxed);
    // An operation timed at several places (its entry points, two paths of one function) owns
    // one block: a name that is registered already gives that block.
    for (int32_t i = 0; i < index; ++i) {
        const char* registered = g_blocks[i].name;
        if (registered == name || (registered && name && std::strcmp(registered, name) == 0))
            return &g_blocks[i];
    }
    if (index >= kMaxTimingBlocks) return nullptr;
    g_blocks[index].name = name;
    g_blocks[index].index = index;
    g_blockCount.store(index + 1, std::memory_order_release);
    return &g_blocks[index];
}

// ------------------------------------------------------------------------------------------
// The system clock: the monotonic clock in microseconds, cross-checked against the
// millisecond tick so that a jump of the fine clock of more than 0.2 s is replaced by the
// tick's advance. The arithmetic is separate from the readings so that it can be tested.

int64_t AdvanceSystemClock(SystemClockState& state, int64_t counter, uint32_t tick) {
    if (state.frequency == 0) {
        state.frequency = 1000000000;  // the counter is in nanoseconds
        state.base = counter;
        state.lastReturned = 0;
        state.lastTick = tick;
    }
    double counterMicroseconds =
        std::nearbyint(double(counter - state.base) * 1000000.0 / double(state.frequency));
    int64_t candidate = int64_t(counterMicroseconds) + state.correction;
    int64_t tickMicroseconds =
        int64_t(std::nearbyint(double(uint32_t(tick - state.lastTick)) * 1000.0));
    int64_t drift = tickMicroseconds - (candidate - state.lastReturned);
    if (drift > 200000 || drift < -200000) {
        state.correction += drift;
        candidate += drift;
    }
    if (candidate >= state.lastReturned) {
        state.lastTick = tick;
        state.lastReturned = candidate;
    }
    return state.lastReturned;
}

namespace {

std::mutex g_clockMutex;
SystemClockState g_clock;

}  // namespace

}  // namespace orvane

using namespace orvane;

extern "C" {

ORVANE_API orvane_int32 OrvaneGetCounterCount(void) {
    return g_blockCount.load(std::memory_order_acquire);
}

ORVANE_API void OrvaneGetCounterResults(orvane_int32 Index, orvane_counter_results* Results) {
    if (Results == nullptr || Index < 0 || Index >= OrvaneGetCounterCount()) return;
    const TimingBlock& b = g_blocks[Index];
    double perSecond = OrvaneGetCounterTicksPerSecond();
    double seconds = perSecond > 0 ? 1.0 / perSecond : 0.0;
    // The baselines and peaks change only under the lock (resets): read together under it,
    // they are one reset's consistent set, and no reader races a resetting thread.
    BlockSums base;
    int32_t peakCount;
    uint64_t peakTotal, peakExclusive;
    {
        std::lock_guard<std::mutex> lock(g_registrationMutex);
        base = {b.baseCount, b.baseTotalTicks, b.baseChildTicks};
        peakCount = b.peakCount;
        peakTotal = b.peakTotalTicks;
        peakExclusive = b.peakExclusiveTicks;
    }
    const BlockSums now = SumsOf(Index);
    const int32_t count = int32_t(uint32_t(now.count - base.count));
    const uint64_t total = now.total - base.total, child = now.child - base.child;
    uint64_t exclusive = total > child ? total - child : 0;
    Results->Name = b.name;
    Results->Count = count;
    Results->SecondsElapsed = double(total) * seconds;
    Results->SecondsWithoutChildren = double(exclusive) * seconds;
    Results->TotalTicks = double(total);
    Results->TicksWithoutChildren = double(exclusive);
    Results->PeakCount = peakCount;
    Results->PeakSecondsElapsed = double(peakTotal) * seconds;
    Results->PeakSecondsWithoutChildren = double(peakExclusive) * seconds;
}

ORVANE_API void OrvaneResetCounters(void) {
    std::lock_guard<std::mutex> lock(g_registrationMutex);
    int32_t n = g_blockCount.load(std::memory_order_relaxed);
    for (int32_t i = 0; i < n; ++i) {
        TimingBlock& b = g_blocks[i];
        // What the sums gained since the last reset; the baseline moves to where they stand.
        const BlockSums now = SumsOf(i);
        const int32_t count = int32_t(uint32_t(now.count - b.baseCount));
        const uint64_t total = now.total - b.baseTotalTicks;
        const uint64_t child = now.child - b.baseChildTicks;
        b.baseCount = now.count;
        b.baseTotalTicks = now.total;
        b.baseChildTicks = now.child;
        uint64_t exclusive = total > child ? total - child : 0;
        if (b.peakCount < count) b.peakCount = count;
        if (total > b.peakTotalTicks) b.peakTotalTicks = total;
        if (exclusive > b.peakExclusiveTicks) b.peakExclusiveTicks = exclusive;
    }
}

ORVANE_API void OrvaneResetCounterPeaks(void) {
    std::lock_guard<std::mutex> lock(g_registrationMutex);
    int32_t n = g_blockCount.load(std::memory_order_relaxed);
    for (int32_t i = 0; i < n; ++i) {
        g_blocks[i].peakCount = 0;
        g_blocks[i].peakTotalTicks = 0;
        g_blocks[i].peakExclusiveTicks = 0;
    }
}

ORVANE_API orvane_real64 OrvaneGetCounterTicksPerSecond(void) {
    double cached = g_ticksPerSecond.load(std::memory_order_acquire);
    if (cached != 0.0) return cached;
    // A counter of known rate needs no second of sleep (which would stall a browser's page).
    if (const double known = platform::TimeStampTicksPerSecond(); known > 0) {
        g_ticksPerSecond.store(known, std::memory_order_release);
        return known;
    }
    uint64_t t0 = platform::ReadTimeStampCounter();
    orvane_system_clock c0 = OrvaneGetSystemSeconds();
    OrvaneSleepForSeconds(1.0f);
    uint64_t t1 = platform::ReadTimeStampCounter();
    orvane_system_clock c1 = OrvaneGetSystemSeconds();
    double elapsed = OrvaneGetSecondsElapsed(&c0, &c1);
    double perSecond = elapsed > 0 ? double(t1 - t0) / elapsed : 1.0;
    g_ticksPerSecond.store(perSecond, std::memory_order_release);
    return perSecond;
}

ORVANE_API orvane_system_clock OrvaneGetSystemSeconds(void) {
    std::lock_guard<std::mutex> lock(g_clockMutex);
    orvane_system_clock clock{};
    clock.Microseconds =
        AdvanceSystemClock(g_clock, platform::MonotonicNanoseconds(), platform::TickMilliseconds());
    return clock;
}

ORVANE_API orvane_real64 OrvaneGetSecondsElapsed(const orvane_system_clock* Start,
                                                 const orvane_system_clock* End) {
    if (Start == nullptr || End == nullptr || Start->Microseconds >= End->Microseconds) return 0;
    return double(End->Microseconds - Start->Microseconds) * 0.000001;
}

ORVANE_API void OrvaneSleepForSeconds(orvane_real32 Seconds) {
    float milliseconds = std::nearbyint(Seconds * 1000.0f);
    if (!(milliseconds > 0)) return;
    platform::SleepMilliseconds(milliseconds > 4.0e9f ? 4000000000u : uint32_t(milliseconds));
}

}  // extern "C"

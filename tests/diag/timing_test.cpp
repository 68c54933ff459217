// Timing blocks, counters and the system clock.
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "diag/orvane_clock.h"
#include "diag/orvane_timing.h"
#include "platform/orvane_platform.h"

namespace {

void Inner() {
    ORVANE_TIMING_BLOCK("TestInner");
    volatile int sink = 0;
    for (int i = 0; i < 20000; ++i)
        sink = sink + i;
}

void Outer() {
    ORVANE_TIMING_BLOCK("TestOuter");
    Inner();
    Inner();
}

int FindCounter(const char* name) {
    for (int i = 0; i < OrvaneGetCounterCount(); ++i) {
        orvane_counter_results r;
        OrvaneGetCounterResults(i, &r);
        if (std::string(r.Name) == name) return i;
    }
    return -1;
}

orvane_counter_results Results(const char* name) {
    orvane_counter_results r{};
    OrvaneGetCounterResults(FindCounter(name), &r);
    return r;
}

// Runs first in this program: nothing instrumented has run yet.
TEST(Counters, AStartWithNoBlocks) {
    EXPECT_EQ(OrvaneGetCounterCount(), 0);
}

TEST(Counters, NestedBlocksCountTheirChildrenApart) {
    Outer();
    ASSERT_GE(FindCounter("TestOuter"), 0);
    ASSERT_GE(FindCounter("TestInner"), 0);
    EXPECT_EQ(OrvaneGetCounterCount(), 2);  // registered once however often entered
    Outer();
    orvane_counter_results outer = Results("TestOuter");
    orvane_counter_results inner = Results("TestInner");
    EXPECT_EQ(outer.Count, 2);
    EXPECT_EQ(inner.Count, 4);
    EXPECT_GT(inner.TotalTicks, 0);
    // The outer block's own time excludes exactly the inner block's time.
    EXPECT_DOUBLE_EQ(outer.TotalTicks - outer.TicksWithoutChildren, inner.TotalTicks);
    EXPECT_EQ(inner.TotalTicks, inner.TicksWithoutChildren);
    EXPECT_GT(OrvaneGetCounterTicksPerSecond(), 0);
    EXPECT_NEAR(outer.SecondsElapsed * OrvaneGetCounterTicksPerSecond(), outer.TotalTicks,
                outer.TotalTicks * 1e-9 + 1);
}

TEST(Counters, ResetsFoldIntoPeaks) {
    Outer();
    OrvaneResetCounters();
    orvane_counter_results first = Results("TestOuter");
    EXPECT_EQ(first.Count, 0);
    EXPECT_GE(first.PeakCount, 1);
    EXPECT_GT(first.PeakSecondsElapsed, 0);
    OrvaneResetCounters();
    orvane_counter_results second = Results("TestOuter");
    EXPECT_EQ(second.PeakCount, first.PeakCount);
    EXPECT_EQ(second.PeakSecondsElapsed, first.PeakSecondsElapsed);
    EXPECT_EQ(second.TotalTicks, 0);
    OrvaneResetCounterPeaks();
    EXPECT_EQ(Results("TestOuter").PeakCount, 0);
}

TEST(Counters, EachThreadNestsOnItsOwn) {
    OrvaneResetCounters();
    std::thread a([] {
        for (int i = 0; i < 50; ++i)
            Outer();
    });
    std::thread b([] {
        for (int i = 0; i < 50; ++i)
            Inner();
    });
    a.join();
    b.join();
    orvane_counter_results outer = Results("TestOuter");
    orvane_counter_results inner = Results("TestInner");
    EXPECT_EQ(outer.Count, 50);
    EXPECT_EQ(inner.Count, 150);
    // Only the first thread's inner calls are the outer block's children.
    EXPECT_LT(outer.TotalTicks - outer.TicksWithoutChildren, inner.TotalTicks);
}

// Each thread adds to a shard of its own, threads past the shard count to one they share, and
// the results add the shards up: counts stay exact, and a reset starts every block from zero.
// More threads than shards, so that both kinds of shard are counted.
TEST(Counters, ManyThreadsAtOnceCountExactly) {
    Inner();
    OrvaneResetCounters();
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    constexpr int kThreads = orvane::kTimingShards + 3, kCalls = 40;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&ready] {
            ready.fetch_add(1);
            // Yielding: more threads than cores spin here, and the one still starting
            // threads must get to run.
            while (ready.load() < kThreads)
                std::this_thread::yield();
            for (int i = 0; i < kCalls; ++i)
                Inner();
        });
    for (std::thread& t : threads)
        t.join();
    orvane_counter_results inner = Results("TestInner");
    EXPECT_EQ(inner.Count, kThreads * kCalls);
    EXPECT_EQ(inner.TotalTicks, inner.TicksWithoutChildren);
    OrvaneResetCounters();
    EXPECT_EQ(Results("TestInner").Count, 0);
    EXPECT_EQ(Results("TestInner").TotalTicks, 0);
    EXPECT_GE(Results("TestInner").PeakCount, kThreads * kCalls);
}

// Reading results while another thread resets: the peaks a reader sees are one reset's, so
// they only grow between peak resets and a block's own time never exceeds its total. (Under
// ThreadSanitizer an unguarded read of the peaks is reported here.)
TEST(Counters, ResultsAreReadWhileAnotherThreadResets) {
    Outer();  // registers the block when this test runs alone
    OrvaneResetCounters();
    OrvaneResetCounterPeaks();
    const int index = FindCounter("TestOuter");
    ASSERT_GE(index, 0);
    std::atomic<bool> done{false};
    std::thread resetter([&done] {
        for (int i = 0; i < 200; ++i) {
            Outer();
            OrvaneResetCounters();
        }
        done = true;
    });
    int32_t lastPeak = 0;
    double lastSeconds = 0;
    int reads = 0;
    while (!done || reads < 10) {
        orvane_counter_results r{};
        OrvaneGetCounterResults(index, &r);
        EXPECT_GE(r.PeakCount, lastPeak);
        EXPECT_GE(r.PeakSecondsElapsed, lastSeconds);
        EXPECT_LE(r.PeakSecondsWithoutChildren, r.PeakSecondsElapsed);
        lastPeak = r.PeakCount;
        lastSeconds = r.PeakSecondsElapsed;
        ++reads;
    }
    resetter.join();
    EXPECT_EQ(Results("TestOuter").PeakCount, 1);
}

TEST(SystemClock, ElapsedIsZeroUnlessEndIsLater) {
    orvane_system_clock a = OrvaneGetSystemSeconds();
    EXPECT_EQ(OrvaneGetSecondsElapsed(&a, &a), 0.0);
    orvane_system_clock b = a;
    b.Microseconds += 1500000;
    EXPECT_DOUBLE_EQ(OrvaneGetSecondsElapsed(&a, &b), 1.5);
    EXPECT_EQ(OrvaneGetSecondsElapsed(&b, &a), 0.0);
}

// Where the counter's rate is known (hosts other than x86, WebAssembly) nothing is measured:
// the first call returns at once, without the second of sleep a browser page would stall in.
TEST(Counters, AKnownTickRateNeedsNoMeasurement) {
    if (orvane::platform::TimeStampTicksPerSecond() == 0.0)
        GTEST_SKIP() << "this host measures its time-stamp counter's rate";
    const int64_t start = orvane::platform::MonotonicNanoseconds();
    EXPECT_EQ(OrvaneGetCounterTicksPerSecond(), 1.0e9);
    EXPECT_LT(orvane::platform::MonotonicNanoseconds() - start, 200000000);
}

TEST(SystemClock, AdvancesWithSleep) {
    orvane_system_clock a = OrvaneGetSystemSeconds();
    OrvaneSleepForSeconds(0.02f);
    orvane_system_clock b = OrvaneGetSystemSeconds();
    EXPECT_GE(OrvaneGetSecondsElapsed(&a, &b), 0.015);
}

TEST(SystemClock, ACounterJumpIsReplacedByTheTicksAdvance) {
    orvane::SystemClockState state;
    const int64_t ms = 1000000;  // counter units (ns) per millisecond
    EXPECT_EQ(orvane::AdvanceSystemClock(state, 5000 * ms, 100), 0);
    EXPECT_EQ(orvane::AdvanceSystemClock(state, 5010 * ms, 110), 10000);
    // The counter leaps 5 s while the tick moves 10 ms: the clock moves 10 ms.
    EXPECT_EQ(orvane::AdvanceSystemClock(state, 10020 * ms, 120), 20000);
    // Afterwards the counter is followed again, from its corrected base.
    EXPECT_EQ(orvane::AdvanceSystemClock(state, 10030 * ms, 130), 30000);
    // Small disagreements under 0.2 s are left alone.
    EXPECT_EQ(orvane::AdvanceSystemClock(state, 10130 * ms, 200), 130000);
}

TEST(SystemClock, NeverRunsBackwards) {
    orvane::SystemClockState state;
    const int64_t ms = 1000000;
    orvane::AdvanceSystemClock(state, 1000 * ms, 0);
    EXPECT_EQ(orvane::AdvanceSystemClock(state, 1100 * ms, 100), 100000);
    EXPECT_EQ(orvane::AdvanceSystemClock(state, 1050 * ms, 100), 100000);
    // The tick wraps around 2^32 milliseconds without a jump.
    orvane::SystemClockState wrap;
    orvane::AdvanceSystemClock(wrap, 0, 0xFFFFFFF0u);
    EXPECT_EQ(orvane::AdvanceSystemClock(wrap, 32 * ms, 0x10u), 32000);
}

// The peaks a reset records are the largest count, total and own time seen at any reset, each
// on its own: a later, smaller interval leaves them as they were.
TEST(Counters, PeaksKeepTheLargestOfEachValue) {
    Outer();
    OrvaneResetCounters();
    OrvaneResetCounterPeaks();
    const double perSecond = OrvaneGetCounterTicksPerSecond();
    for (int i = 0; i < 3; ++i)
        Outer();
    orvane_counter_results outer = Results("TestOuter");
    orvane_counter_results inner = Results("TestInner");
    ASSERT_EQ(outer.Count, 3);
    ASSERT_EQ(inner.Count, 6);
    OrvaneResetCounters();
    orvane_counter_results peaks = Results("TestOuter");
    EXPECT_EQ(peaks.Count, 0);
    EXPECT_EQ(peaks.TotalTicks, 0);
    EXPECT_EQ(peaks.TicksWithoutChildren, 0);
    EXPECT_EQ(peaks.PeakCount, 3);
    EXPECT_NEAR(peaks.PeakSecondsElapsed * perSecond, outer.TotalTicks,
                outer.TotalTicks * 1e-9 + 1);
    EXPECT_NEAR(peaks.PeakSecondsWithoutChildren * perSecond, outer.TicksWithoutChildren,
                outer.TotalTicks * 1e-9 + 1);
    EXPECT_EQ(Results("TestInner").PeakCount, 6);
    Outer();
    OrvaneResetCounters();
    orvane_counter_results later = Results("TestOuter");
    EXPECT_EQ(later.PeakCount, 3);
    EXPECT_GE(later.PeakSecondsElapsed, peaks.PeakSecondsElapsed);
    EXPECT_LE(later.PeakSecondsWithoutChildren, later.PeakSecondsElapsed);
    OrvaneResetCounterPeaks();
    orvane_counter_results cleared = Results("TestOuter");
    EXPECT_EQ(cleared.PeakCount, 0);
    EXPECT_EQ(cleared.PeakSecondsElapsed, 0);
    EXPECT_EQ(cleared.PeakSecondsWithoutChildren, 0);
}

// One operation timed at two places (its entry points, or two paths of one function) owns one
// block: both places count into the single counter of that name.
void SharedFirstPlace() {
    ORVANE_TIMING_BLOCK("TestSharedOperation");
}

void SharedSecondPlace() {
    ORVANE_TIMING_BLOCK("TestSharedOperation");
}

TEST(Counters, AnOperationTimedAtTwoPlacesHasOneCounter) {
    OrvaneResetCounters();
    SharedFirstPlace();
    SharedSecondPlace();
    SharedSecondPlace();
    int counters = 0;
    int32_t count = 0;
    for (int i = 0; i < OrvaneGetCounterCount(); ++i) {
        orvane_counter_results r;
        OrvaneGetCounterResults(i, &r);
        if (std::string(r.Name) == "TestSharedOperation") {
            ++counters;
            count = r.Count;
        }
    }
    EXPECT_EQ(counters, 1);
    EXPECT_EQ(count, 3);
}

}  // namespace

// Controls: where the local clock lands when it wraps backwards onto a loop boundary, checked
// against a step-by-step model of the wrap (whole loops truncated towards zero, one loop further
// down for a clock before the start), and the same arithmetic in target states.
#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "orvane/instance.h"

namespace {

struct Clock {
    float local;
    int32_t loop;
};

// The wrap of a clock that has run to l in loop `loop`, in single precision as the control
// keeps it: n = l / d rounded to a real32 and truncated, one less before the start, the loop
// clamped to the loop count.
Clock Wrap(float l, int32_t loop, float d, int32_t loopCount) {
    int64_t n = int64_t(std::trunc(l / d));
    int64_t index = int64_t(loop) + n - (l < 0.0f ? 1 : 0);
    if (loopCount != 0) {
        if (index < 0) index = 0;
        if (index > loopCount - 1) index = loopCount - 1;
    }
    const int64_t delta = index - loop;
    if (delta != 0) l -= float(delta) * d;
    return {l, int32_t(index)};
}

// One advance of the clock by `advance` at speed `speed`, with the early outs of the update.
Clock Advance(Clock c, float advance, float speed, float d, int32_t loopCount) {
    const float l = c.local + speed * advance;
    if (l < 0.0f) {
        if (loopCount != 0 && c.loop <= 0) return {l, c.loop};
    } else {
        if (l < d) return {l, c.loop};
        if (loopCount != 0 && c.loop >= loopCount - 1) return {l, c.loop};
    }
    return Wrap(l, c.loop, d, loopCount);
}

struct ControlWrap : ::testing::Test {
    orvane_control* Make(float clock, float duration) {
        orvane_control* c = OrvaneCreateControl(clock, duration);
        made.push_back(c);
        return c;
    }
    ~ControlWrap() override {
        for (orvane_control* c : made)
            OrvaneFreeControl(c);
    }
    std::vector<orvane_control*> made;
};

TEST_F(ControlWrap, ExactNegativeMultipleLandsAtTheEndOfTheLoopBefore) {
    // Looping forever with duration 2, run back by exactly one loop: -2 / 2 = -1 whole loops,
    // one more down for a clock before the start, so loop -2 at local 2 (= -2 + 2 * 2).
    orvane_control* c = Make(0.0f, 2.0f);
    OrvaneSetControlLoopCount(c, 0);
    OrvaneSetControlClock(c, -2.0f);
    EXPECT_EQ(OrvaneGetControlLoopIndex(c), -2);
    EXPECT_EQ(OrvaneGetControlRawLocalClock(c), 2.0f);
    EXPECT_EQ(OrvaneGetControlClampedLocalClock(c), 2.0f);

    // Back by exactly two loops: loop -3 at local -4 + 3 * 2 = 2.
    orvane_control* twice = Make(0.0f, 2.0f);
    OrvaneSetControlLoopCount(twice, 0);
    OrvaneSetControlClock(twice, -4.0f);
    EXPECT_EQ(OrvaneGetControlLoopIndex(twice), -3);
    EXPECT_EQ(OrvaneGetControlRawLocalClock(twice), 2.0f);

    // Running on from there by a quarter wraps forward again: loop -2 at 0.25.
    OrvaneSetControlClock(twice, -3.75f);
    EXPECT_EQ(OrvaneGetControlLoopIndex(twice), -2);
    EXPECT_FLOAT_EQ(OrvaneGetControlRawLocalClock(twice), 0.25f);
}

TEST_F(ControlWrap, LoopCountEndsAtTheEndOfTheFirstLoop) {
    // Three loops of 2, in the last loop at local 0, run back by exactly one loop: loop
    // 2 + (-1) - 1 = 0, so local -2 - (0 - 2) * 2 = 2, the end of the first loop.
    orvane_control* c = Make(0.0f, 2.0f);
    OrvaneSetControlLoopCount(c, 3);
    OrvaneSetControlLoopIndex(c, 2);
    OrvaneSetControlClock(c, -2.0f);
    EXPECT_EQ(OrvaneGetControlLoopIndex(c), 0);
    EXPECT_EQ(OrvaneGetControlRawLocalClock(c), 2.0f);
    bool before = true, after = false;
    OrvaneGetControlLoopState(c, &before, &after);
    EXPECT_FALSE(before);
    EXPECT_TRUE(after);
    // Duration left at speed 1: 2 * (3 - 0 - 1) + (2 - 2) = 4.
    EXPECT_FLOAT_EQ(OrvaneGetControlDurationLeft(c), 4.0f);
}

TEST_F(ControlWrap, AdvancesFollowTheStepByStepWrap) {
    struct Case {
        float duration, speed;
        int32_t loopCount, startLoop;
        float startLocal;
    };
    const Case cases[] = {
        {2.0f, 1.0f, 0, 0, 0.0f},   {2.0f, -1.0f, 0, 0, 0.5f}, {0.5f, 1.0f, 0, 3, 0.25f},
        {2.0f, -1.0f, 4, 3, 0.0f},  {2.0f, 1.0f, 4, 1, 1.0f},  {1.5f, -2.0f, 5, 4, 1.5f},
        {0.75f, 0.5f, 0, -2, 0.0f},
    };
    for (const Case& k : cases) {
        orvane_control* c = Make(0.0f, k.duration);
        OrvaneSetControlLoopCount(c, k.loopCount);
        OrvaneSetControlSpeed(c, k.speed);
        OrvaneSetControlLoopIndex(c, k.startLoop);
        OrvaneSetControlRawLocalClock(c, k.startLocal);
        Clock expected{k.startLocal, k.startLoop};
        float clock = 0.0f;
        // Steps of a quarter and whole loops, forwards and back, landing on boundaries often.
        const float steps[] = {-0.25f, -1.75f, 3.0f,  -0.5f, -2.0f, -6.0f,
                               1.5f,   0.25f,  -4.5f, 7.25f, -3.0f, -0.75f};
        for (float step : steps) {
            clock += step;
            OrvaneSetControlClock(c, clock);
            expected = Advance(expected, step, k.speed, k.duration, k.loopCount);
            ASSERT_EQ(OrvaneGetControlLoopIndex(c), expected.loop)
                << "duration " << k.duration << " speed " << k.speed << " loops " << k.loopCount
                << " clock " << clock;
            ASSERT_EQ(OrvaneGetControlRawLocalClock(c), expected.local)
                << "duration " << k.duration << " speed " << k.speed << " loops " << k.loopCount
                << " clock " << clock;
        }
    }
}

TEST_F(ControlWrap, TargetStateUsesTheSameWrap) {
    // Reaching local 0 of loop 0 one whole loop from now: -2 before the start, so loop -2 at
    // local 2 now; advancing to the target then wraps to loop 0 at local 0.
    orvane_control* c = Make(0.0f, 2.0f);
    OrvaneSetControlLoopCount(c, 0);
    OrvaneSetControlTargetState(c, 5.0f, 7.0f, 0.0f, 0);
    EXPECT_EQ(OrvaneGetControlLoopIndex(c), -2);
    EXPECT_EQ(OrvaneGetControlRawLocalClock(c), 2.0f);
    OrvaneSetControlClock(c, 7.0f);
    EXPECT_EQ(OrvaneGetControlLoopIndex(c), 0);
    EXPECT_EQ(OrvaneGetControlRawLocalClock(c), 0.0f);

    // With a loop count the loop is clamped: three loops, local 1 of loop 1 four seconds ahead
    // at speed 1 gives 1 - 4 = -3: loop 1 + (-1) - 1 = -1, clamped to 0, local -3 + 2 = -1.
    orvane_control* counted = Make(0.0f, 2.0f);
    OrvaneSetControlLoopCount(counted, 3);
    OrvaneSetControlTargetState(counted, 0.0f, 4.0f, 1.0f, 1);
    EXPECT_EQ(OrvaneGetControlLoopIndex(counted), 0);
    EXPECT_EQ(OrvaneGetControlRawLocalClock(counted), -1.0f);
}

TEST_F(ControlWrap, DurationLeftCountsLoopsLeftWithoutOverflow) {
    // A loop index stored far below the first loop: (2 - (-2147483647) - 1) loops of 2 left
    // at speed 1, plus the 2 seconds of the present loop.
    orvane_control* c = Make(0.0f, 2.0f);
    OrvaneSetControlLoopCount(c, 2);
    OrvaneSetControlLoopIndex(c, -2147483647);
    const double expected = 2.0 * (2.0 + 2147483647.0 - 1.0) + (2.0 - 0.0);
    EXPECT_FLOAT_EQ(OrvaneGetControlDurationLeft(c), float(expected));
    // At half speed every second of local time takes two.
    OrvaneSetControlSpeed(c, 0.5f);
    EXPECT_FLOAT_EQ(OrvaneGetControlDurationLeft(c), float(2.0 * expected));
}

}  // namespace

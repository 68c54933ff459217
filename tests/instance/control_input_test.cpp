// Controls given clock values that are not numbers or infinite: each such call logs an error
// and leaves the control as it was, so that no clock, ease curve or weight ever turns into a
// value that is not a number.
#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "instance/instance_test_support.h"
#include "orvane/controlled_animation.h"
#include "orvane/instance.h"
#include "support/log_capture.h"

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

struct State {
    float clock, local, completion, multiplier, weight;
    int32_t loop;
};

// Everything observable of a control's clocks, brought up to date.
State Observe(orvane_control* c) {
    const float local = OrvaneGetControlRawLocalClock(c);
    return {OrvaneGetControlClock(c),           local,
            OrvaneGetControlCompletionClock(c), OrvaneGetControlEaseCurveMultiplier(c),
            OrvaneGetControlEffectiveWeight(c), OrvaneGetControlLoopIndex(c)};
}

void ExpectSame(const State& a, const State& b) {
    EXPECT_EQ(a.clock, b.clock);
    EXPECT_EQ(a.local, b.local);
    EXPECT_EQ(a.completion, b.completion);
    EXPECT_EQ(a.multiplier, b.multiplier);
    EXPECT_EQ(a.weight, b.weight);
    EXPECT_EQ(a.loop, b.loop);
}

TEST(ControlInput, ClockValuesThatAreNotFiniteChangeNothing) {
    for (float bad : {kNaN, kInf, -kInf}) {
        orvane_control* c = OrvaneCreateControl(10.0f, 2.0f);
        ASSERT_NE(c, nullptr);
        OrvaneSetControlLoopCount(c, 0);
        OrvaneCompleteControlAt(c, 20.0f);
        OrvaneEaseControlIn(c, 2.0f, false);
        OrvaneSetControlClock(c, 11.0f);
        // Halfway through the default ease-in: 3 * 0.5^2 * 0.5 + 0.5^3 = 0.5.
        const State before = Observe(c);
        EXPECT_FLOAT_EQ(before.multiplier, 0.5f);
        EXPECT_FLOAT_EQ(before.local, 1.0f);

        struct Call {
            const char* name;
            void (*call)(orvane_control*, float);
        };
        const Call calls[] = {
            {"SetControlClock", [](orvane_control* k, float v) { OrvaneSetControlClock(k, v); }},
            {"SetControlClockOnly",
             [](orvane_control* k, float v) { OrvaneSetControlClockOnly(k, v); }},
            {"SetControlRawLocalClock",
             [](orvane_control* k, float v) { OrvaneSetControlRawLocalClock(k, v); }},
            {"RecenterControlClocks",
             [](orvane_control* k, float v) { OrvaneRecenterControlClocks(k, v); }},
            {"RecenterAllControlClocks",
             [](orvane_control*, float v) { OrvaneRecenterAllControlClocks(v); }},
            {"TargetState now",
             [](orvane_control* k, float v) { OrvaneSetControlTargetState(k, v, 12.0f, 0.5f, 0); }},
            {"TargetState target",
             [](orvane_control* k, float v) { OrvaneSetControlTargetState(k, 11.0f, v, 0.5f, 0); }},
            {"TargetState local",
             [](orvane_control* k, float v) {
                 OrvaneSetControlTargetState(k, 11.0f, 12.0f, v, 0);
             }},
            {"EaseInCurve start",
             [](orvane_control* k, float v) {
                 OrvaneSetControlEaseInCurve(k, v, 12.0f, 0.0f, 0.0f, 1.0f, 1.0f);
             }},
            {"EaseInCurve end",
             [](orvane_control* k, float v) {
                 OrvaneSetControlEaseInCurve(k, 10.0f, v, 0.0f, 0.0f, 1.0f, 1.0f);
             }},
            {"EaseOutCurve start",
             [](orvane_control* k, float v) {
                 OrvaneSetControlEaseOut(k, true);
                 OrvaneSetControlEaseOutCurve(k, v, 12.0f, 1.0f, 1.0f, 0.0f, 0.0f);
                 OrvaneSetControlEaseOut(k, false);
             }},
            {"EaseControlIn", [](orvane_control* k, float v) { OrvaneEaseControlIn(k, v, true); }},
        };
        for (const Call& call : calls) {
            orvane_test::LogCapture log;
            call.call(c, bad);
            EXPECT_EQ(log.errors(), 1u) << call.name << " " << bad;
            SCOPED_TRACE(call.name);
            ExpectSame(Observe(c), before);
        }
        // The ease-out returns where it would end: here, nowhere but the present clock.
        {
            orvane_test::LogCapture log;
            EXPECT_EQ(OrvaneEaseControlOut(c, bad), 11.0f);
            EXPECT_EQ(log.errors(), 1u);
            ExpectSame(Observe(c), before);
        }
        // The control goes on as if nothing had been asked.
        OrvaneSetControlClock(c, 12.5f);
        EXPECT_FLOAT_EQ(OrvaneGetControlRawLocalClock(c), 0.5f);
        EXPECT_EQ(OrvaneGetControlLoopIndex(c), 1);
        EXPECT_EQ(OrvaneGetControlEffectiveWeight(c), 1.0f);
        OrvaneFreeControl(c);
    }
}

TEST(ControlInput, ModelClocksThatAreNotFiniteChangeNothing) {
    orvane_instance_test::Character character;
    orvane_model_instance* instance = OrvaneInstantiateModel(&character.model);
    ASSERT_NE(instance, nullptr);
    orvane_control* c = OrvanePlayControlledAnimation(0.0f, &character.animation, instance);
    ASSERT_NE(c, nullptr);
    OrvaneSetModelClock(instance, 0.5f);
    const State before = Observe(c);
    EXPECT_FLOAT_EQ(before.local, 0.5f);
    for (float bad : {kNaN, kInf, -kInf}) {
        orvane_test::LogCapture log;
        OrvaneSetModelClock(instance, bad);
        OrvaneRecenterAllModelInstanceControlClocks(instance, bad);
        EXPECT_EQ(log.errors(), 2u);
        ExpectSame(Observe(c), before);
    }
    OrvaneSetModelClock(instance, 1.25f);
    EXPECT_FLOAT_EQ(OrvaneGetControlRawLocalClock(c), 1.25f);
    OrvaneFreeModelInstance(instance);
    OrvaneFreeControl(c);
}

}  // namespace

// The system clock's arithmetic, apart from the platform readings.
#ifndef ORVANE_CLOCK_H
#define ORVANE_CLOCK_H

#include "core/orvane_private.h"

#include <cstdint>

namespace orvane {

struct SystemClockState {
    int64_t frequency = 0;  // counter units per second; 0 until the first reading
    int64_t base = 0;
    uint32_t lastTick = 0;
    int64_t lastReturned = 0;
    int64_t correction = 0;
};

// Takes a counter reading (nanoseconds) and a millisecond tick; returns microseconds since the
// first reading. Never runs backwards; a counter jump of more than 0.2 s against the tick is
// replaced by the tick's advance.
int64_t AdvanceSystemClock(SystemClockState& state, int64_t counter, uint32_t tick);

}  // namespace orvane

#endif  // ORVANE_CLOCK_H

#pragma once
// The line's time: what a station reads to schedule its looks and retries, and how it waits.
// The console's clock wakes early for an interrupt; a test's clock is moved by the test, so the
// station's behaviour is checked without a single sleep.

#include <chrono>

class LineClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~LineClock() = default;
    virtual TimePoint Now() = 0;
    // Returns at due, or earlier when the line is asked to stop.
    virtual void SleepUntil(TimePoint due) = 0;
};

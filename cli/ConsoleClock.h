#pragma once
// The line's clock on the console: the steady clock, with sleeps that an interrupt (see
// ConsoleInterrupt) ends early. Once an interrupt has been taken, sleeps are plain again: the
// runs being cancelled still need their time.

#include "line/LineClock.h"

class ConsoleClock : public LineClock {
public:
    TimePoint Now() override;
    void SleepUntil(TimePoint due) override;
};

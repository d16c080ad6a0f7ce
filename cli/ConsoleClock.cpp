#include "cli/ConsoleClock.h"

#include <thread>

#include "cli/ConsoleInterrupt.h"

LineClock::TimePoint ConsoleClock::Now() {
    return std::chrono::steady_clock::now();
}

void ConsoleClock::SleepUntil(TimePoint due) {
    if (ConsoleInterrupt::Requested() || !ConsoleInterrupt::SleepUntil(due))
        std::this_thread::sleep_until(due);
}

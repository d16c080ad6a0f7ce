// The block timer's sleep ends at or after its due time, never before: the device programs its
// flash in the gap. Only "never early" is asserted; how late is the machine's business.
#include <gtest/gtest.h>

#include <chrono>

#include "cli/ConsoleInterrupt.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;

void ExpectNeverEarly() {
    for (const auto wait : {microseconds(0), microseconds(300), microseconds(1'400),
                            microseconds(14'600), microseconds(15'000)}) {
        for (int round = 0; round < 3; ++round) {
            const Clock::time_point due = Clock::now() + wait;
            EXPECT_TRUE(ConsoleInterrupt::SleepUntil(due));
            const Clock::time_point woke = Clock::now();
            EXPECT_GE(woke, due) << "woke "
                                 << std::chrono::duration_cast<microseconds>(due - woke).count()
                                 << " us early for a wait of " << wait.count() << " us";
        }
    }
}

}  // namespace

TEST(SleepUntil, NeverReturnsBeforeTheDueTime) {
    ExpectNeverEarly();  // without a guard: a plain sleep
    ConsoleInterrupt guard;
    ExpectNeverEarly();  // with one: the interruptible wait of an upgrade
}

// Windows: a console control handler raises the flag and an event that the timer's sleeps
// wait on. Device requests are not cut short by console events, so nothing is blocked.
// A closed console window (CTRL_CLOSE_EVENT) ends the process as soon as the handler returns,
// and at the latest about 5 s later: the handler holds on until the guard is gone (the run
// cancelled the way Cancel does and recorded) or kCloseGraceMs has passed.
#include "cli/ConsoleInterrupt.h"

#include <windows.h>

#include <atomic>

namespace {

constexpr DWORD kCloseGraceMs = 4500;

std::atomic<int> s_event{0};
HANDLE s_wake = nullptr;
HANDLE s_done = nullptr;  // set when the guard ends

BOOL WINAPI OnConsoleEvent(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
    s_event = 1;
    if (s_wake != nullptr) SetEvent(s_wake);
    if (type == CTRL_CLOSE_EVENT && s_done != nullptr) WaitForSingleObject(s_done, kCloseGraceMs);
    return TRUE;
}

}  // namespace

ConsoleInterrupt::ConsoleInterrupt() {
    s_event = 0;
    s_wake = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    s_done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

ConsoleInterrupt::~ConsoleInterrupt() {
    // A closed window's handler waits for this; the process ends when it returns.
    if (s_done != nullptr) SetEvent(s_done);
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    if (s_wake != nullptr) CloseHandle(s_wake);
    s_wake = nullptr;
}

bool ConsoleInterrupt::Requested() {
    return s_event != 0;
}

int ConsoleInterrupt::ExitStatus() {
    return 130;
}

bool ConsoleInterrupt::SleepUntil(std::chrono::steady_clock::time_point due) {
    // The device programs its flash in the gap, so a wait may end late but never early. The
    // system's waits count whole milliseconds and may wake a little before the time asked: the
    // wait is rounded up, and a wake-up less than a millisecond early yields the processor until
    // the due time rather than sleeping one more whole millisecond.
    bool waited = false;
    for (;;) {
        if (Requested()) return false;
        const auto left = due - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) return true;
        if (waited && left < std::chrono::milliseconds(1)) {
            SwitchToThread();
            continue;
        }
        const auto ms =
            static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
        if (s_wake == nullptr) {
            Sleep(ms);
        } else {
            WaitForSingleObject(s_wake, ms);
        }
        waited = true;
    }
}

bool ConsoleInterrupt::WaitForInput() {
    return !Requested();
}

void ConsoleInterrupt::IgnoreBrokenPipes() {
    // Writes to a closed pipe fail with an error here; no signal ends the process.
}

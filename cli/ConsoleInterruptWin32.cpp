// Windows: a console control handler raises the flag and an event that the timer's sleeps
// wait on. Device requests are not cut short by console events, so nothing is blocked.
#include "cli/ConsoleInterrupt.h"

#include <windows.h>

#include <atomic>
#include <thread>

namespace {

std::atomic<int> s_event{0};
HANDLE s_wake = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
    s_event = 1;
    if (s_wake != nullptr) SetEvent(s_wake);
    return TRUE;
}

}  // namespace

ConsoleInterrupt::ConsoleInterrupt()
{
    s_event = 0;
    s_wake = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

ConsoleInterrupt::~ConsoleInterrupt()
{
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    if (s_wake != nullptr) CloseHandle(s_wake);
    s_wake = nullptr;
}

bool ConsoleInterrupt::Requested() { return s_event != 0; }

int ConsoleInterrupt::ExitStatus() { return 130; }

bool ConsoleInterrupt::SleepUntil(std::chrono::steady_clock::time_point due)
{
    for (;;) {
        if (Requested()) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            due - std::chrono::steady_clock::now());
        if (left.count() <= 0) return true;
        if (s_wake == nullptr) {
            std::this_thread::sleep_until(due);
            return !Requested();
        }
        WaitForSingleObject(s_wake, static_cast<DWORD>(left.count()));
    }
}

bool ConsoleInterrupt::WaitForInput() { return !Requested(); }

#pragma once
// Ctrl-C (and SIGTERM, SIGHUP: a closed terminal or ssh session; a closed console window on
// Windows) during an upgrade on the console. While a ConsoleInterrupt lives, the
// signals never cut a transfer to the device short: they are taken only where the console
// waits (the block timer's sleeps and a prompt), and then raise a flag the command reads to
// stop the run the way the Cancel button does. One implementation per platform.

#include <chrono>

class ConsoleInterrupt {
public:
    ConsoleInterrupt();
    ~ConsoleInterrupt();
    ConsoleInterrupt(const ConsoleInterrupt&) = delete;
    ConsoleInterrupt& operator=(const ConsoleInterrupt&) = delete;

    // An interrupt arrived while a guard was alive.
    static bool Requested();
    // The conventional exit status of a process stopped by that interrupt (130 for Ctrl-C).
    static int ExitStatus();

    // Sleeps until due; false when an interrupt came first (or had already come). Without a
    // guard it is a plain sleep.
    static bool SleepUntil(std::chrono::steady_clock::time_point due);
    // Waits until standard input has something to read; false when an interrupt came first.
    static bool WaitForInput();

    // Called once at start: a write to a pipe whose reader is gone (| head, a parent that
    // died) fails with EPIPE instead of ending the process, so a run always finishes its
    // device and its record.
    static void IgnoreBrokenPipes();
};

// POSIX: SIGINT, SIGTERM and SIGHUP stay blocked while a guard lives, so no system call on the
// device (SG_IO) ever returns EINTR. sigtimedwait takes them during the timer's sleeps; a prompt
// waits in ppoll with them unblocked, where the handler only raises the flag.
#include "cli/ConsoleInterrupt.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <cerrno>
#include <csignal>
#include <ctime>
#include <thread>

namespace {

volatile std::sig_atomic_t s_signal = 0;
bool s_active = false;
sigset_t s_blocked;
sigset_t s_previousMask;
struct sigaction s_previousInt;
struct sigaction s_previousTerm;
struct sigaction s_previousHup;

void OnSignal(int signo) {
    s_signal = signo;
}

}  // namespace

ConsoleInterrupt::ConsoleInterrupt() {
    s_signal = 0;
    sigemptyset(&s_blocked);
    sigaddset(&s_blocked, SIGINT);
    sigaddset(&s_blocked, SIGTERM);
    sigaddset(&s_blocked, SIGHUP);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGINT, &action, &s_previousInt);
    sigaction(SIGTERM, &action, &s_previousTerm);
    sigaction(SIGHUP, &action, &s_previousHup);
    pthread_sigmask(SIG_BLOCK, &s_blocked, &s_previousMask);
    s_active = true;
#ifdef __linux__
    // The block timer's 15 ms sleeps add up over hundreds of blocks; the default 50 us of
    // timer slack per wake-up would cost a run of 496 blocks about 25 ms for nothing.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
}

ConsoleInterrupt::~ConsoleInterrupt() {
    // A signal still pending is delivered to our handler here, before the old ones return.
    pthread_sigmask(SIG_SETMASK, &s_previousMask, nullptr);
    sigaction(SIGINT, &s_previousInt, nullptr);
    sigaction(SIGTERM, &s_previousTerm, nullptr);
    sigaction(SIGHUP, &s_previousHup, nullptr);
    s_active = false;
}

bool ConsoleInterrupt::Requested() {
    return s_signal != 0;
}

int ConsoleInterrupt::ExitStatus() {
    return 128 + (s_signal != 0 ? s_signal : SIGINT);
}

bool ConsoleInterrupt::SleepUntil(std::chrono::steady_clock::time_point due) {
    if (!s_active) {
        std::this_thread::sleep_until(due);
        return !Requested();
    }
    for (;;) {
        if (Requested()) return false;
        const auto left = due - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) return true;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timespec timeout{};
        timeout.tv_sec = static_cast<std::time_t>(ns / 1'000'000'000);
        timeout.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        siginfo_t info{};
        const int signo = sigtimedwait(&s_blocked, &info, &timeout);
        if (signo > 0) s_signal = signo;
        // EAGAIN (time is up) and EINTR (another signal) go round and look at the clock again.
    }
}

bool ConsoleInterrupt::WaitForInput() {
    if (!s_active) return true;
    sigset_t open = s_previousMask;
    sigdelset(&open, SIGINT);
    sigdelset(&open, SIGTERM);
    sigdelset(&open, SIGHUP);
    for (;;) {
        if (Requested()) return false;
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const int ready = ppoll(&input, 1, nullptr, &open);
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return true;  // let the read itself report the problem
    }
}

void ConsoleInterrupt::IgnoreBrokenPipes() {
    signal(SIGPIPE, SIG_IGN);
}

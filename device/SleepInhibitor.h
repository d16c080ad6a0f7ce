#pragma once
// Keeps the machine from sleeping while blocks are being sent: a laptop that suspends in the
// middle of a run leaves a half-flashed device. The upgrade protocol takes it just before the
// start frame goes out and releases it whenever the run ends. Where the platform cannot
// inhibit sleep (no system bus or no logind in a container) the run goes on, and the trace
// says why. One implementation per platform (Linux: logind over sd-bus; Windows:
// SetThreadExecutionState), chosen by CMake.

#include <cstdint>

class SleepInhibitor {
public:
    SleepInhibitor() = default;
    ~SleepInhibitor() { Release(); }
    SleepInhibitor(const SleepInhibitor&) = delete;
    SleepInhibitor& operator=(const SleepInhibitor&) = delete;
    SleepInhibitor(SleepInhibitor&& other) noexcept : m_token(other.m_token) {
        other.m_token = kNone;
    }
    SleepInhibitor& operator=(SleepInhibitor&& other) noexcept {
        if (this != &other) {
            Release();
            m_token = other.m_token;
            other.m_token = kNone;
        }
        return *this;
    }

    // True when sleep is now inhibited (also when it already was by this object).
    bool Acquire();
    void Release();
    bool Held() const { return m_token != kNone; }

private:
    static constexpr std::intptr_t kNone = -1;
    // Linux: the descriptor logind returned; Windows: the thread's previous execution state.
    std::intptr_t m_token = kNone;
};

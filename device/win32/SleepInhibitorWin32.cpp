// The sleep inhibitor on Windows: SetThreadExecutionState.
//
// Platform notes:
// - ES_CONTINUOUS | ES_SYSTEM_REQUIRED keeps the system from sleeping (the display may still
//   turn off) until the thread sets another continuous state or ends. The state belongs to the
//   calling thread: the protocol takes and releases it on the user interface thread.
// - Release puts back the continuous state the thread had before; when it had none, plain
//   ES_CONTINUOUS clears ours.

#include <windows.h>

#include "device/DeviceTrace.h"
#include "device/SleepInhibitor.h"

bool SleepInhibitor::Acquire() {
    if (Held()) return true;
    const EXECUTION_STATE previous = SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
    if (previous == 0) {
        TraceNote("sleep not inhibited (SetThreadExecutionState failed); the run goes on");
        return false;
    }
    m_token = static_cast<std::intptr_t>(previous);
    TraceNote("sleep inhibited while blocks are sent");
    return true;
}

void SleepInhibitor::Release() {
    if (!Held()) return;
    const auto previous = static_cast<EXECUTION_STATE>(m_token);
    SetThreadExecutionState((previous & ES_CONTINUOUS) != 0 ? previous : ES_CONTINUOUS);
    m_token = kNone;
    TraceNote("sleep inhibitor released");
}

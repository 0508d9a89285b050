#include "device/precise_wait.h"

#include <windows.h>

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

// The timer is set to fire this much before the deadline and the rest is spent watching the
// counter, so a timer that fires a little late still ends the wait on time.
constexpr LONGLONG COUNTER_WATCH_US = 1500;
constexpr LONGLONG US_PER_S = 1000000;
// A thread that retrieves no messages for a few seconds counts as hung: the system ghosts its
// windows and programs asking it anything give up at once. A responsive wait looks at least this
// often, messages or not.
constexpr LONGLONG RESPONSIVE_SLICE_US = 50000;

LONGLONG counterNow() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

LONGLONG counterFrequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

// A high-resolution timer where the system has one (Windows 10 1803 and later), else an ordinary one.
HANDLE createWaitTimer() {
    HANDLE timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS);
    if (timer == nullptr) timer = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    return timer;
}

// Blocks until the timer fires, or until messages arrive when they are to be handled.
void sleepOnTimer(HANDLE timer, LONGLONG sleepUs, PendingMessageHandler handleMessages) {
    LARGE_INTEGER due;
    due.QuadPart = -sleepUs * 10;  // relative, in 100 ns units
    if (timer != nullptr && SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE)) {
        if (handleMessages == nullptr) {
            WaitForSingleObject(timer, INFINITE);
        } else {
            MsgWaitForMultipleObjectsEx(1, &timer, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            handleMessages();
        }
        return;
    }
    const DWORD sleepMs = static_cast<DWORD>(sleepUs / 1000);
    if (handleMessages == nullptr) {
        Sleep(sleepMs);
    } else {
        MsgWaitForMultipleObjectsEx(0, nullptr, sleepMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        handleMessages();
    }
}

}  // namespace

std::uint64_t monotonicNowUs() {
    static const LONGLONG frequency = counterFrequency();
    const LONGLONG now = counterNow();
    // Split, so that the product cannot overflow however long the system has been running.
    return static_cast<std::uint64_t>((now / frequency) * US_PER_S + (now % frequency) * US_PER_S / frequency);
}

void waitUntilUs(std::uint64_t deadlineUs, PendingMessageHandler handleMessages) {
    static HANDLE timer = createWaitTimer();
    // The caller reports the last error of the step before the wait; nothing in here may change it.
    const DWORD lastError = GetLastError();
    for (;;) {
        const std::uint64_t nowUs = monotonicNowUs();
        if (nowUs >= deadlineUs) break;
        const LONGLONG leftUs = static_cast<LONGLONG>(deadlineUs - nowUs);
        if (leftUs > COUNTER_WATCH_US) {
            LONGLONG sleepUs = leftUs - COUNTER_WATCH_US;
            if (handleMessages != nullptr && sleepUs > RESPONSIVE_SLICE_US) sleepUs = RESPONSIVE_SLICE_US;
            sleepOnTimer(timer, sleepUs, handleMessages);
        } else if (handleMessages != nullptr) {
            if (HIWORD(GetQueueStatus(QS_ALLINPUT)) != 0) handleMessages();
        }
    }
    SetLastError(lastError);
}

void waitAtLeast(std::uint32_t ms, PendingMessageHandler handleMessages) {
    // The clock reads whole microseconds, rounded down: one more keeps the wait from ending early.
    waitUntilUs(monotonicNowUs() + std::uint64_t{ms} * 1000 + 1, handleMessages);
}

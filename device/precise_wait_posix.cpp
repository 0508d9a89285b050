// Waits on POSIX systems, measured on CLOCK_MONOTONIC. The thread sleeps until shortly before the
// deadline and watches the clock for the rest, so a sleep that the system ends a little late still
// ends the wait on time, and no wait is ever shorter than asked.
#include "device/precise_wait.h"

#include <cerrno>
#include <ctime>

namespace {

constexpr std::uint64_t CLOCK_WATCH_US = 1000;
constexpr std::uint64_t US_PER_S = 1000000;
constexpr std::uint64_t NS_PER_US = 1000;
// A handler, where one is given, runs at least this often.
constexpr std::uint64_t RESPONSIVE_SLICE_US = 50000;

timespec asTimespec(std::uint64_t us) {
    timespec at{};
    at.tv_sec = static_cast<time_t>(us / US_PER_S);
    at.tv_nsec = static_cast<long>((us % US_PER_S) * NS_PER_US);
    return at;
}

// Sleeps until the monotonic clock reads untilUs, or a little before when a signal interrupts.
void sleepUntil(std::uint64_t untilUs, std::uint64_t nowUs) {
#if defined(__APPLE__)
    // macOS has no clock_nanosleep; a relative sleep towards the same point does.
    const timespec span = asTimespec(untilUs - nowUs);
    nanosleep(&span, nullptr);
#else
    (void)nowUs;
    const timespec at = asTimespec(untilUs);
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
#endif
}

std::uint64_t monotonicNowNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * US_PER_S * NS_PER_US + static_cast<std::uint64_t>(now.tv_nsec);
}

}  // namespace

// Readings round up and deadlines are compared in nanoseconds, so that a wait that starts at a
// reading and lasts until that reading plus n microseconds lasts at least n microseconds.
std::uint64_t monotonicNowUs() { return (monotonicNowNs() + NS_PER_US - 1) / NS_PER_US; }

void waitUntilUs(std::uint64_t deadlineUs, PendingMessageHandler handleMessages) {
    // The caller reports the error of the step before the wait; nothing in here may change it.
    const int lastError = errno;
    for (;;) {
        const std::uint64_t nowNs = monotonicNowNs();
        if (nowNs >= deadlineUs * NS_PER_US) break;
        const std::uint64_t nowUs = nowNs / NS_PER_US;
        const std::uint64_t leftUs = deadlineUs - nowUs;
        if (leftUs > CLOCK_WATCH_US) {
            std::uint64_t sleepUs = leftUs - CLOCK_WATCH_US;
            if (handleMessages != nullptr && sleepUs > RESPONSIVE_SLICE_US) sleepUs = RESPONSIVE_SLICE_US;
            sleepUntil(nowUs + sleepUs, nowUs);
            if (handleMessages != nullptr) handleMessages();
        }
    }
    errno = lastError;
}

void waitAtLeast(std::uint32_t ms, PendingMessageHandler handleMessages) {
    waitUntilUs(monotonicNowUs() + std::uint64_t{ms} * 1000, handleMessages);
}

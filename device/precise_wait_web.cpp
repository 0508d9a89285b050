// The waits of device/precise_wait.h in the page's worker: the worker's timers keep their length in
// a background tab. setTimeout takes whole milliseconds and may fire a little early or late, so it
// sleeps to about a millisecond short of the deadline, and the rest is finished by watching the clock.
#include "device/precise_wait.h"

#include <emscripten.h>

namespace {

constexpr double SPIN_MS = 1.0;

EM_ASYNC_JS(void, sleepInWorker, (double ms), { await new Promise((resolve) => setTimeout(resolve, ms)); });

}  // namespace

std::uint64_t monotonicNowUs() { return static_cast<std::uint64_t>(emscripten_get_now() * 1000.0); }

void waitUntilUs(std::uint64_t deadlineUs, PendingMessageHandler) {
    const double deadlineMs = static_cast<double>(deadlineUs) / 1000.0;
    const double sleepMs = deadlineMs - emscripten_get_now() - SPIN_MS;
    // A timeout of zero would be clamped to 4 ms once timers nest; the last millisecond is watched.
    if (sleepMs >= 1.0) sleepInWorker(static_cast<double>(static_cast<long>(sleepMs)));
    while (monotonicNowUs() < deadlineUs) {
    }
}

void waitAtLeast(std::uint32_t ms, PendingMessageHandler handleMessages) {
    waitUntilUs(monotonicNowUs() + static_cast<std::uint64_t>(ms) * 1000u, handleMessages);
}

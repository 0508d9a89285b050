// The POSIX waits: never shorter than asked, and the caller's errno left alone. How much longer
// they last is a matter for the benchmark (precise_wait_bench), not for a test that could flake.
#include "device/precise_wait.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

TEST(PreciseWait, NeverReturnsBeforeTheDeadline) {
    struct Case {
        const char* label;
        std::uint32_t ms;
    };
    const Case cases[] = {{"no wait", 0}, {"1 ms", 1}, {"2 ms", 2}, {"the update's pause", 20}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        for (int round = 0; round < 5; ++round) {
            const std::uint64_t startUs = monotonicNowUs();
            waitAtLeast(c.ms, nullptr);
            EXPECT_GE(monotonicNowUs() - startUs, std::uint64_t{c.ms} * 1000);

            const std::uint64_t deadlineUs = monotonicNowUs() + std::uint64_t{c.ms} * 1000;
            waitUntilUs(deadlineUs, nullptr);
            EXPECT_GE(monotonicNowUs(), deadlineUs);
        }
    }
}

TEST(PreciseWait, APastDeadlineReturnsAtOnceAndErrnoIsKept) {
    const std::uint64_t now = monotonicNowUs();
    errno = ETIMEDOUT;
    waitUntilUs(0, nullptr);
    waitUntilUs(now, nullptr);
    waitAtLeast(3, nullptr);
    EXPECT_EQ(errno, ETIMEDOUT);
}

TEST(PreciseWait, AHandlerGivenIsCalledWhileWaiting) {
    static int calls = 0;
    calls = 0;
    waitAtLeast(120, [] { ++calls; });
    EXPECT_GE(calls, 1);  // at least once per slice of at most 50 ms
}

}  // namespace

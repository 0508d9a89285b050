// How much longer than asked the POSIX waits last: min, mean and max overshoot over many waits of
// the lengths the update uses. Prints figures; it judges nothing but a wait that ended early.
#include "device/precise_wait.h"

#include <cstdint>
#include <cstdio>

namespace {

struct Figures {
    std::uint64_t minUs = UINT64_MAX;
    std::uint64_t maxUs = 0;
    std::uint64_t totalUs = 0;
    int early = 0;
};

Figures measure(std::uint32_t ms, int rounds) {
    Figures f;
    for (int i = 0; i < rounds; ++i) {
        const std::uint64_t start = monotonicNowUs();
        waitAtLeast(ms, nullptr);
        const std::uint64_t took = monotonicNowUs() - start;
        const std::uint64_t asked = std::uint64_t{ms} * 1000;
        if (took < asked) {
            ++f.early;
            continue;
        }
        const std::uint64_t over = took - asked;
        if (over < f.minUs) f.minUs = over;
        if (over > f.maxUs) f.maxUs = over;
        f.totalUs += over;
    }
    return f;
}

}  // namespace

int main() {
    struct Row {
        std::uint32_t ms;
        int rounds;
    };
    const Row rows[] = {{1, 500}, {20, 200}, {1000, 3}};
    int early = 0;
    std::printf("wait      rounds  overshoot min / mean / max (us)  early\n");
    for (const Row& row : rows) {
        const Figures f = measure(row.ms, row.rounds);
        const int counted = row.rounds - f.early;
        std::printf("%5u ms  %6d  %8llu / %8.1f / %8llu      %d\n", row.ms, row.rounds,
                    static_cast<unsigned long long>(counted > 0 ? f.minUs : 0),
                    counted > 0 ? static_cast<double>(f.totalUs) / counted : 0.0,
                    static_cast<unsigned long long>(f.maxUs), f.early);
        early += f.early;
    }
    return early == 0 ? 0 : 1;
}

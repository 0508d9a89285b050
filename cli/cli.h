// The command-line updater as a function: everything `quenlor` does runs inside runQuenlor, with
// its streams, its clock and its HID port handed in, so that tests run the whole program in their
// own process. main() only wires up the real ones.
#pragma once

#include "device/hid_port.h"

#include <cstdint>
#include <cstdio>

// What the program's exit code tells a script.
constexpr int CLI_EXIT_DONE = 0;
constexpr int CLI_EXIT_USAGE = 2;
constexpr int CLI_EXIT_NO_UNIT = 3;
constexpr int CLI_EXIT_CANNOT_OPEN = 4;
constexpr int CLI_EXIT_IDENTIFY_FAILED = 5;
constexpr int CLI_EXIT_NOTHING_TO_UPDATE = 6;
constexpr int CLI_EXIT_DECLINED = 7;
constexpr int CLI_EXIT_UPDATE_FAILED = 8;
constexpr int CLI_EXIT_INTERRUPTED = 130;

// The clock the update's pauses are measured on and waited with. Null members: the monotonic clock
// and the precise waits of device/precise_wait.h.
struct CliClock {
    std::uint64_t (*nowUs)();
    void (*waitUntilUs)(std::uint64_t deadlineUs);
};

struct CliIo {
    std::FILE* in;
    std::FILE* out;
    std::FILE* err;
    bool inIsTerminal;   // questions may be asked only then
    bool outIsTerminal;  // the progress is one redrawn line only then
    CliClock clock;
    // The port for real units; --sim replaces it with the built-in simulated unit. Null: the port
    // already chosen with useHidPort (tests that set up the simulated bus themselves).
    const HidPort* port;
    // Whether to claim the single-instance guard before any device is opened (Windows; elsewhere
    // the port guards each unit itself).
    bool claimInstance;
};

int runQuenlor(int argc, const char* const* argv, const CliIo& io);

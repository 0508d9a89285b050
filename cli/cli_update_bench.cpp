// Benchmark, not a test: one whole `quenlor --sim update --yes --json` as a separate process, in
// real time against the built-in simulated unit, over its floor: the pauses the update owes the
// unit (every 20 ms step pause, the 1 s before the erase reply is read, the 4 s settle after it)
// plus the unit's own answering time, which the simulated unit keeps within those pauses.
//   cli_update_bench <path to quenlor> [60|140|90]
#include "cli/cli_args.h"
#include "device/device_link.h"
#include "device/precise_wait.h"
#include "model/model_table.h"
#include "update/update_logic.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The pauses of the prepared sequence: after the lock, after the protection, after the settle,
// after the address; then one after every block.
constexpr std::uint32_t SEQUENCE_STEP_PAUSES = 4;

std::uint64_t floorUs(std::uint32_t imageBytes) {
    const std::uint64_t blocks = (imageBytes + BLOCK_BYTES - 1) / BLOCK_BYTES;
    const std::uint64_t ms = (SEQUENCE_STEP_PAUSES + blocks) * STEP_PAUSE_MS + ERASE_REPLY_DELAY_MS + ERASE_SETTLE_MS;
    return ms * 1000;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: cli_update_bench <quenlor> [60|140|90]\n");
        return 2;
    }
    const std::string model = argc > 2 ? argv[2] : "60";
    const int row = modelIndexFromName(model);
    if (row < 0) {
        std::fprintf(stderr, "cli_update_bench: %s is no model\n", model.c_str());
        return 2;
    }
    const std::string sim = "--sim=" + model;
    const std::uint64_t startUs = monotonicNowUs();
    const pid_t child = fork();
    if (child == 0) {
        const int devNull = open("/dev/null", O_WRONLY);
        if (devNull >= 0) dup2(devNull, STDOUT_FILENO);
        execl(argv[1], argv[1], sim.c_str(), "update", "--yes", "--json", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    const std::uint64_t wallUs = monotonicNowUs() - startUs;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "cli_update_bench: quenlor failed (status %d)\n", status);
        return 1;
    }
    const std::uint64_t floor = floorUs(MODEL_ROWS[static_cast<std::size_t>(row)].imageBytes);
    std::printf("cli update wall: %.3f s, floor %.3f s (%u bytes)\n", static_cast<double>(wallUs) / 1e6,
                static_cast<double>(floor) / 1e6, MODEL_ROWS[static_cast<std::size_t>(row)].imageBytes);
    std::printf("cli update ratio: %.4f\n", static_cast<double>(wallUs) / static_cast<double>(floor));
    return 0;
}

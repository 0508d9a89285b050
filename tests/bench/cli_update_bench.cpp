// Benchmark, not a test: whole `quenlor update --yes --json` runs in process, in real time, against
// the simulated unit that `--sim` uses, reached through a port that stamps every call where the
// program meets the unit. Prints each repeat's own time and ratio, their spread, and last
// "cli update ratio: X", the median of the repeats. Exits non-zero where a figure cannot be right.
//   cli_update_bench [60|140|90] [repeats]
#include "cli/cli.h"
#include "cli/cli_args.h"
#include "device/device_link.h"
#include "device/precise_wait.h"
#include "model/compatibility.h"
#include "model/model_table.h"
#include "sim/sim_hid_port.h"
#include "tests/bench/own_time.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr std::uint16_t ESC_FIRMWARE_BEFORE = 0x0105;
constexpr std::size_t EXCHANGES_RESERVED = 8192;  // no allocation inside a stamped call

std::vector<BenchExchange> Exchanges;

// The simulated unit answers inside the port's calls: all of their time is the unit's answering.
bool stampedWrite(HANDLE device, const std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs) {
    BenchExchange e;
    e.command = length > 1 ? report[1] : 0;
    e.requestTakenUs = monotonicNowUs();
    const bool written = SIM_HID_PORT.write(device, report, length, timeoutMs);
    e.requestDoneUs = monotonicNowUs();
    e.answeringUs = e.requestDoneUs - e.requestTakenUs;
    Exchanges.push_back(e);
    return written;
}

bool stampedRead(HANDLE device, std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs) {
    const std::uint64_t askedUs = monotonicNowUs();
    const bool read = SIM_HID_PORT.read(device, report, length, timeoutMs);
    const std::uint64_t handedUs = monotonicNowUs();
    if (!Exchanges.empty() && Exchanges.back().replyAskedUs == 0) {
        BenchExchange& e = Exchanges.back();
        e.replyAskedUs = askedUs;
        e.replyHandedUs = handedUs;
        e.answeringUs += handedUs - askedUs;
    }
    return read;
}

HidPort stampedSimPort() {
    HidPort port = SIM_HID_PORT;  // its name too: quenlor takes it for the simulated unit it is
    port.write = stampedWrite;
    port.read = stampedRead;
    return port;
}

// One whole update; false when quenlor did not succeed.
bool runUpdate(const HidPort& port, int row, std::FILE* sink) {
    simBusReset();
    simBusUseRealTime(true);
    SimConfig config;
    config.escFirmwareVersion = ESC_FIRMWARE_BEFORE;
    config.escHardwareId = HARDWARE_ID_FAMILY_A | MODEL_ROWS[static_cast<std::size_t>(row)].idByte;
    simBusAdd(config);
    useHidPort(port);
    Exchanges.clear();
    Exchanges.reserve(EXCHANGES_RESERVED);
    const char* const argv[] = {"quenlor", "update", "--yes", "--json"};
    const CliIo io{stdin, sink, sink, false, false, CliClock{nullptr, nullptr}, nullptr, false};
    return runQuenlor(4, argv, io) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string model = argc > 1 ? argv[1] : "60";
    const int repeats = argc > 2 ? std::atoi(argv[2]) : 3;
    const int row = modelIndexFromName(model);
    if (row < 0 || repeats < 1) {
        std::fprintf(stderr, "usage: cli_update_bench [60|140|90] [repeats]\n");
        return 2;
    }
    std::FILE* sink = std::fopen("/dev/null", "w");
    if (sink == nullptr) return 1;
    const HidPort port = stampedSimPort();
    std::string modelName;
    for (const wchar_t* c = MODEL_ROWS[static_cast<std::size_t>(row)].name; *c != L'\0'; ++c) {
        modelName += static_cast<char>(*c);  // the names are ASCII
    }
    std::vector<double> ratios;
    bool wrong = false;
    for (int repeat = 1; repeat <= repeats; ++repeat) {
        if (!runUpdate(port, row, sink)) {
            std::fprintf(stderr, "cli_update_bench: the update failed\n");
            return 1;
        }
        std::vector<BenchExchange> update;
        for (const BenchExchange& e : Exchanges) {
            if (isUpdateCommand(e.command)) update.push_back(e);
        }
        const OwnTimeFigures f = measureOwnTime(update, 1);
        const std::string label = "cli " + modelName + " repeat " + std::to_string(repeat);
        if (!f.error.empty()) {
            std::printf("%s: bench error: %s\n", label.c_str(), f.error.c_str());
            wrong = true;
            continue;
        }
        std::printf("%s\n", describeOwnTime(label, f).c_str());
        ratios.push_back(f.ownRatio);
    }
    std::fclose(sink);
    if (wrong) return 1;
    const RepeatSpread s = spreadOfRepeats(ratios);
    std::printf("cli own ratios: spread %.4f over %zu repeats, goal %.2f %s\n", s.spread, ratios.size(), OWN_RATIO_GOAL,
                s.median <= OWN_RATIO_GOAL ? "met" : "not met");
    std::printf("cli update ratio: %.4f\n", s.median);
    return 0;
}

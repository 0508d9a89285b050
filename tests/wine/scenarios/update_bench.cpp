// Benchmark: one whole update of each build under Wine against the simulated unit. For each it
// prints the wall time from the first request of the update to the reply to its last, the floor
// and their ratio; the last line is "update ratio: X", the largest of the three.
//
// The floor is what any program would need: the waits the update owes the unit, the time the unit
// took from each request to its reply, and the rig's own cost of carrying each exchange (our HID
// stack, the pipe, the simulator's thread), which this benchmark measures first by exchanging
// requests through the same port and stack, paced as the update paces them, without any program.
// What is left above the floor is the program's own overhead.
#include "device/device_link.h"
#include "device/hid_port.h"
#include "device/precise_wait.h"
#include "tests/wine/scenarios/scenario.h"
#include "tests/wine/scenarios/update_requests.h"
#include "update/update_logic.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr int RIG_COST_EXCHANGES = 250;
double RigCostPerExchangeMs = 0.0;

// The program's own pacing, in the milliseconds the figures are given in.
constexpr double PAUSE_MS = STEP_PAUSE_MS;
constexpr double ERASE_REPLY_WAIT_MS = ERASE_REPLY_DELAY_MS;
constexpr double SETTLE_MS = ERASE_SETTLE_MS;
constexpr int STEP_PAUSES = 4;  // before protection off, erase, address and the first block

double WorstRatio = 0.0;

// Runs first: the bench itself opens a unit through the program's own device link and port, over
// the rig's HID stack, and exchanges requests 20 ms apart.
TEST_F(RigScenario, RigCostPerExchange) {
    const int unit = rigPlug(rigCompatibleUnit(rigBuild60()));
    ASSERT_GE(unit, 0);
    useHidPort(WIN32_HID_PORT);
    DeviceLinkRecord link;
    resetDeviceLink(link);
    ASSERT_EQ(RESULT_OK, openDeviceLink(link));
    const std::size_t first = rigUnitSnapshot(unit).transcript.size();
    std::uint8_t request[REPORT_BUFFER_BYTES] = {REQUEST_REPORT_ID, CMD_GET_INFO, 0};
    std::uint8_t reply[REPORT_BUFFER_BYTES];
    // Paced as the update paces its blocks, so that the stack works in the same conditions: each
    // exchange starts 20 ms after the previous reply, with every thread of the rig idle.
    double wallMs = 0.0;
    for (int i = 0; i < RIG_COST_EXCHANGES; ++i) {
        const std::uint64_t startUs = monotonicNowUs();
        ASSERT_EQ(RESULT_OK, exchangeReport(link, request, reply));
        wallMs += static_cast<double>(monotonicNowUs() - startUs) / 1000.0;
        waitAtLeast(STEP_PAUSE_MS, nullptr);
    }
    closeDeviceLink(link);

    const SimUnit after = rigUnitSnapshot(unit);
    ASSERT_EQ(first + RIG_COST_EXCHANGES, after.transcript.size());
    double answeringMs = 0.0;
    for (std::size_t i = first; i < after.transcript.size(); ++i) {
        answeringMs += static_cast<double>(after.transcript[i].sentAtUs - after.transcript[i].receivedAtUs) / 1000.0;
    }
    RigCostPerExchangeMs = (wallMs - answeringMs) / RIG_COST_EXCHANGES;
    std::printf("rig cost per exchange: %.3f ms (%d exchanges paced 20 ms apart without a program, unit "
                "answering excluded)\n",
                RigCostPerExchangeMs, RIG_COST_EXCHANGES);
}

class UpdateBench : public RigScenario, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(UpdateBench, WholeUpdate) {
    const RigBuild& build = RIG_BUILDS[GetParam()];
    const int unit = rigPlug(rigCompatibleUnit(build));
    ASSERT_GE(unit, 0);
    START_PROGRAM(program, build);
    ASSERT_TRUE(rigWaitStatus(program, expectedText(40000), 5000));
    ASSERT_TRUE(rigClick(program, RIG_ID_UPDATE));
    RigMessageBox warning;
    ASSERT_TRUE(rigWaitMessageBox(program, warning, 10000));
    ASSERT_TRUE(rigAnswerMessageBox(warning, IDOK));
    ASSERT_TRUE(rigWaitStatus(program, expectedText(40032), 120000));

    const SimUnit after = rigUnitSnapshot(unit);
    const std::vector<const SimRequest*> requests = updateRequests(after);
    const std::size_t blocks = simCountRequests(after, CMD_WRITE_DATA);
    ASSERT_EQ(blocks + 6, requests.size());

    double answeringMs = 0.0;
    for (const SimRequest* request : requests) {
        double exchangeMs = static_cast<double>(request->sentAtUs - request->receivedAtUs) / 1000.0;
        // The erase's reply is read 1000 ms after its request by design; that wait is counted once.
        if (request->bytes[1] == CMD_ERASE_FIRMWARE) exchangeMs = std::max(0.0, exchangeMs - ERASE_REPLY_WAIT_MS);
        answeringMs += exchangeMs;
    }
    const double waitsMs = STEP_PAUSES * PAUSE_MS + ERASE_REPLY_WAIT_MS + SETTLE_MS +
                           static_cast<double>(blocks) * PAUSE_MS;
    const double rigMs = static_cast<double>(requests.size()) * RigCostPerExchangeMs;
    const double floorMs = waitsMs + answeringMs + rigMs;
    const double wallMs = static_cast<double>(requests.back()->repliedAtUs - requests.front()->receivedAtUs) / 1000.0;
    const double ratio = wallMs / floorMs;
    // Where the time beyond the floor goes: from the unit's reply to its next request the program
    // owes 20 ms; the rest is the trip through the system and the wait's lateness.
    double gapsMs = 0.0;
    for (std::size_t i = 4; i < blocks + 4; ++i) {
        gapsMs += static_cast<double>(requests[i + 1]->receivedAtUs - requests[i]->sentAtUs) / 1000.0;
    }
    std::printf("%s: mean time from a block's reply to the next request %.3f ms\n", rigUtf8(build.modelName).c_str(),
                gapsMs / static_cast<double>(blocks));
    WorstRatio = std::max(WorstRatio, ratio);
    std::printf("%s: %zu blocks, wall %.3f s, floor %.3f s (waits %.3f s + unit answering %.3f s + rig %.3f s), "
                "ratio %.4f (%.4f over waits and answering alone)\n",
                rigUtf8(build.modelName).c_str(), blocks, wallMs / 1000.0, floorMs / 1000.0, waitsMs / 1000.0,
                answeringMs / 1000.0, rigMs / 1000.0, ratio, wallMs / (waitsMs + answeringMs));
}

INSTANTIATE_TEST_SUITE_P(Builds, UpdateBench, ::testing::Values(0, 1, 2));

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const int failed = RUN_ALL_TESTS();
    std::printf("update ratio: %.4f\n", WorstRatio);
    std::fflush(stdout);
    return failed;
}

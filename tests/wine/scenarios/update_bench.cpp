// Benchmark: one whole update of each build under Wine against the simulated unit. For each it
// prints the wall time from the first request of the update to the reply to its last, the floor
// (the waits the update owes the unit, plus the time the unit took from each request to its
// reply) and their ratio; the last line is "update ratio: X", the largest of the three.
#include "tests/wine/scenarios/scenario.h"
#include "tests/wine/scenarios/update_requests.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr double STEP_PAUSE_MS = 20.0;
constexpr double ERASE_REPLY_WAIT_MS = 1000.0;
constexpr double ERASE_SETTLE_MS = 4000.0;
constexpr int STEP_PAUSES = 4;  // before protection off, erase, address and the first block

double WorstRatio = 0.0;

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
    const double waitsMs = STEP_PAUSES * STEP_PAUSE_MS + ERASE_REPLY_WAIT_MS + ERASE_SETTLE_MS +
                           static_cast<double>(blocks) * STEP_PAUSE_MS;
    const double floorMs = waitsMs + answeringMs;
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
    std::printf("%s: %zu blocks, wall %.3f s, floor %.3f s (waits %.3f s + unit answering %.3f s), ratio %.4f\n",
                rigUtf8(build.modelName).c_str(), blocks, wallMs / 1000.0, floorMs / 1000.0, waitsMs / 1000.0,
                answeringMs / 1000.0, ratio);
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

// Benchmark: whole updates of each build under Wine against the simulated unit, measured by the
// program's own time (tests/bench/own_time.h) from the stamps our hid.dll takes where the
// program's calls meet the unit. Three repeats of the ZEPHANT 60 LV, one of each other build; each
// repeat's figures, each build's spread, and last "update ratio: X", the median own ratio of the
// slowest build. A figure that cannot be right fails the benchmark.
#include "tests/bench/own_time.h"
#include "tests/wine/hidstack/stamp_log.h"
#include "tests/wine/scenarios/scenario.h"
#include "tests/wine/scenarios/update_requests.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

namespace {

constexpr wchar_t STAMP_LOG_NAME[] = L"quenlor-rig-bench-stamps";

struct BenchRun {
    std::size_t build;
    int repeat;
};
constexpr BenchRun RUNS[] = {{0, 1}, {0, 2}, {0, 3}, {1, 1}, {2, 1}};

std::map<std::string, std::vector<double>> RatiosByBuild;

// The stamp log the program's hid.dll fills; it lives as long as this handle.
struct StampLogMapping {
    HANDLE mapping = nullptr;
    StampLog* log = nullptr;
    StampLogMapping() {
        mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(StampLog), STAMP_LOG_NAME);
        if (mapping != nullptr) log = static_cast<StampLog*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(StampLog)));
        if (log != nullptr) log->count = 0;
        SetEnvironmentVariableW(STAMP_LOG_VARIABLE, STAMP_LOG_NAME);
    }
    ~StampLogMapping() {
        SetEnvironmentVariableW(STAMP_LOG_VARIABLE, nullptr);
        if (log != nullptr) UnmapViewOfFile(log);
        if (mapping != nullptr) CloseHandle(mapping);
    }
};

// The update's exchanges as the program stamped them, with the unit's answering from its
// transcript: from taking the request to handing out the reply.
std::vector<BenchExchange> stampedUpdate(const StampLog& log, const std::vector<const SimRequest*>& requests) {
    std::vector<BenchExchange> exchanges;
    const LONG begun = log.count;
    const LONG count = std::min(begun, static_cast<LONG>(STAMP_LOG_EXCHANGES));
    for (LONG i = 0; i < count; ++i) {
        const StampedExchange& s = log.exchanges[i];
        if (!isUpdateCommand(s.command)) continue;
        BenchExchange e;
        e.command = s.command;
        e.requestTakenUs = s.requestTakenUs;
        e.requestDoneUs = s.requestDoneUs;
        e.replyAskedUs = s.replyAskedUs;
        e.replyHandedUs = s.replyHandedUs;
        exchanges.push_back(e);
    }
    if (exchanges.size() != requests.size()) return exchanges;
    for (std::size_t i = 0; i < exchanges.size(); ++i) {
        exchanges[i].answeringUs = requests[i]->sentAtUs - requests[i]->receivedAtUs;
    }
    return exchanges;
}

class UpdateBench : public RigScenario, public ::testing::WithParamInterface<BenchRun> {};

TEST_P(UpdateBench, WholeUpdate) {
    const RigBuild& build = RIG_BUILDS[GetParam().build];
    const StampLogMapping stamps;
    ASSERT_NE(nullptr, stamps.log) << "the stamp log could not be made (error " << GetLastError() << ")";
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
    const std::vector<BenchExchange> exchanges = stampedUpdate(*stamps.log, requests);
    ASSERT_EQ(requests.size(), exchanges.size()) << "the program's stamps and the unit's transcript disagree";
    const OwnTimeFigures f = measureOwnTime(exchanges, 1);
    const std::string name = rigUtf8(build.modelName);
    ASSERT_EQ("", f.error) << name << ": bench error";
    std::printf("%s\n", describeOwnTime(name + " repeat " + std::to_string(GetParam().repeat), f).c_str());
    RatiosByBuild[name].push_back(f.ownRatio);
}

INSTANTIATE_TEST_SUITE_P(Builds, UpdateBench, ::testing::ValuesIn(RUNS));

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const int failed = RUN_ALL_TESTS();
    double slowest = 0.0;
    for (const auto& [name, ratios] : RatiosByBuild) {
        const RepeatSpread s = spreadOfRepeats(ratios);
        std::printf("%s: median own ratio %.4f, spread %.4f over %zu repeats\n", name.c_str(), s.median, s.spread,
                    ratios.size());
        slowest = std::max(slowest, s.median);
    }
    std::printf("dialog goal %.2f %s\n", OWN_RATIO_GOAL, slowest <= OWN_RATIO_GOAL ? "met" : "not met");
    std::printf("update ratio: %.4f\n", slowest);
    std::fflush(stdout);
    return failed;
}

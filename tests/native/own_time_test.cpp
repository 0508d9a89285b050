// The bench's measure of a front end's own time, on made-up courses whose figures are known.
#include "tests/bench/own_time.h"

#include "device/device_link.h"

#include <gtest/gtest.h>

namespace {

constexpr std::uint32_t BLOCKS = 10;
constexpr double OWED_MS = 4 * 20 + 1000 + 4000 + BLOCKS * 20.0;

struct CourseCase {
    const char* label;
    bool pushed;             // replies pushed (the page's WebHID) instead of read
    double ownPerGapUs;      // the program's time after every reply
    int earlyExchange;       // this exchange's request comes early by earlyUs; -1: none
    double earlyUs;
    bool withoutErase;
    const char* error;       // a part of the error, or "" for figures that can be right
    double ownRatio;
};

// A course that keeps every wait exactly, plus the program's own time after each reply. Each write
// and read takes 100 us of the seam, of which the unit answers 30 us.
std::vector<BenchExchange> course(const CourseCase& c) {
    std::vector<std::uint8_t> commands = {CMD_SYSTEM_LOCK, CMD_WRITE_PROTECT, CMD_ERASE_FIRMWARE, CMD_SET_WRITE_ADDRESS};
    if (c.withoutErase) commands.erase(commands.begin() + 2);
    commands.insert(commands.end(), BLOCKS, CMD_WRITE_DATA);
    commands.push_back(CMD_WRITE_PROTECT);
    commands.push_back(CMD_SYSTEM_LOCK);
    std::vector<BenchExchange> out;
    double t = 1000;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        if (static_cast<int>(i) == c.earlyExchange) t -= c.earlyUs;
        BenchExchange e;
        e.command = commands[i];
        e.requestTakenUs = static_cast<std::uint64_t>(t);
        e.requestDoneUs = e.requestTakenUs + 50;
        const bool erase = commands[i] == CMD_ERASE_FIRMWARE;
        // A pushed erase reply comes after 300 ms, within the 1000 ms the program waits before it reads.
        e.replyAskedUs = c.pushed ? 0 : e.requestDoneUs + (erase ? 1000000 : 0);
        e.replyHandedUs = c.pushed ? e.requestDoneUs + (erase ? 300000 : 50) : e.replyAskedUs + 50;
        e.answeringUs = 30;
        out.push_back(e);
        const std::uint64_t takenAt = c.pushed && erase ? e.requestDoneUs + 1000000 : e.replyHandedUs;
        const bool last2 = i + 2 >= commands.size();
        t = static_cast<double>(takenAt) + (last2 ? 0 : (erase ? 4020000.0 : 20000.0)) + (last2 ? 0 : c.ownPerGapUs);
    }
    return out;
}

const CourseCase CASES[] = {
    {"read replies, every wait kept to the microsecond", false, 0, -1, 0, false, "", 1.0},
    {"read replies, 0.5 ms of the program's own after each of 14 replies", false, 500, -1, 0, false, "",
     (OWED_MS + 14 * 0.5) / OWED_MS},
    {"pushed replies: an early erase reply is the program's only after its wait", true, 200, -1, 0, false, "",
     (OWED_MS + 14 * 0.2) / OWED_MS},
    {"a block sent 1 ms before its pause was over", false, 0, 7, 1000, false, "pacing fault of the program: exchange 6",
     0},
    {"a block 50 us early within the stamps' resolution of 100 us", false, 0, 7, 50, false, "", 0},
    {"a course without the erase", false, 0, -1, 0, true, "exchange 2 has command 0x1F where the update sends 0x1E", 0},
};

TEST(OwnTime, MeasuresMadeUpCourses) {
    for (const CourseCase& c : CASES) {
        SCOPED_TRACE(c.label);
        const OwnTimeFigures f = measureOwnTime(course(c), 100);
        if (*c.error != '\0') {
            EXPECT_NE(std::string::npos, f.error.find(c.error)) << f.error;
            continue;
        }
        EXPECT_EQ("", f.error);
        EXPECT_EQ(BLOCKS, f.blocks);
        EXPECT_NEAR(OWED_MS, f.owedMs, 1e-9);
        if (c.ownRatio > 0) {
            EXPECT_NEAR(c.ownRatio, f.ownRatio, 1e-6);
        }
        EXPECT_NEAR(16 * 0.03, f.answeringMs, 1e-9);
        // Every write and read of a read course is 50 us of the seam; a pushed erase reply's wait is not.
        if (!c.pushed) {
            EXPECT_NEAR(16 * 0.07, f.transportMs, 1e-9);
        }
    }
}

TEST(OwnTime, MedianAndSpreadOfRepeats) {
    const RepeatSpread s = spreadOfRepeats({1.004, 1.001, 1.003});
    EXPECT_DOUBLE_EQ(1.003, s.median);
    EXPECT_NEAR(0.003, s.spread, 1e-12);
}

}  // namespace

#include "tests/bench/own_time.h"

#include "device/device_link.h"
#include "update/update_logic.h"

#include <algorithm>
#include <cstdio>

namespace {

// The update's course: the lock, the protection lifted, the erase, the address, the blocks, the
// protection and the lock restored.
constexpr std::size_t STEPS_BEFORE_BLOCKS = 4;
constexpr std::size_t STEPS_AFTER_BLOCKS = 2;
constexpr std::uint8_t COURSE_BEFORE_BLOCKS[STEPS_BEFORE_BLOCKS] = {CMD_SYSTEM_LOCK, CMD_WRITE_PROTECT,
                                                                    CMD_ERASE_FIRMWARE, CMD_SET_WRITE_ADDRESS};
constexpr std::uint8_t COURSE_AFTER_BLOCKS[STEPS_AFTER_BLOCKS] = {CMD_WRITE_PROTECT, CMD_SYSTEM_LOCK};

double asMs(double us) { return us / 1000.0; }

// What the update owes the unit inside the exchange (between its write and its read) and between
// its reply and the next request. The two steps after the blocks follow each other at once.
struct OwedWait {
    std::uint64_t insideUs;
    std::uint64_t afterUs;
};

OwedWait owedWait(std::size_t index, std::size_t count) {
    if (index + STEPS_AFTER_BLOCKS >= count) return {0, 0};
    if (index == 2) return {std::uint64_t{ERASE_REPLY_DELAY_MS} * 1000, std::uint64_t{ERASE_SETTLE_MS + STEP_PAUSE_MS} * 1000};
    return {0, std::uint64_t{STEP_PAUSE_MS} * 1000};
}

std::string courseError(const std::vector<BenchExchange>& exchanges) {
    const std::size_t count = exchanges.size();
    if (count < STEPS_BEFORE_BLOCKS + STEPS_AFTER_BLOCKS + 1) {
        return "the course has " + std::to_string(count) + " exchanges, fewer than an update's";
    }
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t expected = CMD_WRITE_DATA;
        if (i < STEPS_BEFORE_BLOCKS) expected = COURSE_BEFORE_BLOCKS[i];
        if (i + STEPS_AFTER_BLOCKS >= count) expected = COURSE_AFTER_BLOCKS[i + STEPS_AFTER_BLOCKS - count];
        if (exchanges[i].command != expected) {
            char text[128];
            std::snprintf(text, sizeof text, "exchange %zu has command 0x%02X where the update sends 0x%02X", i,
                          exchanges[i].command, expected);
            return text;
        }
        const BenchExchange& e = exchanges[i];
        const std::uint64_t asked = e.replyAskedUs != 0 ? e.replyAskedUs : e.requestDoneUs;
        const bool ordered = e.requestTakenUs <= e.requestDoneUs && e.requestDoneUs <= asked && asked <= e.replyHandedUs &&
                             (i + 1 == count || e.replyHandedUs <= exchanges[i + 1].requestTakenUs);
        if (!ordered) return "the stamps of exchange " + std::to_string(i) + " are out of order";
    }
    return "";
}

}  // namespace

bool isUpdateCommand(std::uint8_t command) {
    return command == CMD_SYSTEM_LOCK || command == CMD_WRITE_DATA || command == CMD_ERASE_FIRMWARE ||
           command == CMD_SET_WRITE_ADDRESS || command == CMD_WRITE_PROTECT;
}

OwnTimeFigures measureOwnTime(const std::vector<BenchExchange>& exchanges, std::uint64_t stampResolutionUs) {
    OwnTimeFigures f;
    f.error = courseError(exchanges);
    if (!f.error.empty()) return f;

    const std::size_t count = exchanges.size();
    f.blocks = static_cast<std::uint32_t>(count - STEPS_BEFORE_BLOCKS - STEPS_AFTER_BLOCKS);
    double ownUs = 0, transportUs = 0, answeringUs = 0, maxUs = 0;
    std::uint64_t owedUs = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const BenchExchange& e = exchanges[i];
        const OwedWait owed = owedWait(i, count);
        owedUs += owed.insideUs + owed.afterUs;
        const bool pushed = e.replyAskedUs == 0;
        // A pushed reply that came while the program still owed the unit its wait inside the
        // exchange is the program's to take only when that wait is over.
        const std::uint64_t handedUs = pushed ? std::max(e.replyHandedUs, e.requestDoneUs + owed.insideUs) : e.replyHandedUs;
        const double insideUs = pushed ? 0.0
                                       : static_cast<double>(e.replyAskedUs - e.requestDoneUs) -
                                             static_cast<double>(owed.insideUs);
        const double afterUs = i + 1 < count ? static_cast<double>(exchanges[i + 1].requestTakenUs) -
                                                   static_cast<double>(handedUs) - static_cast<double>(owed.afterUs)
                                             : 0.0;
        const double own = insideUs + afterUs;
        if (own < -static_cast<double>(stampResolutionUs)) {
            char text[192];
            std::snprintf(text, sizeof text,
                          "pacing fault of the program: exchange %zu (command 0x%02X) came %.3f ms before its wait "
                          "was over",
                          i, e.command, asMs(-own));
            f.error = text;
            return f;
        }
        // Within the stamps' resolution a wait kept exactly can read a little short.
        ownUs += std::max(0.0, own);
        maxUs = std::max(maxUs, own);
        const double seamUs = static_cast<double>(e.requestDoneUs - e.requestTakenUs) +
                              (pushed ? static_cast<double>(e.replyHandedUs - e.requestDoneUs)
                                      : static_cast<double>(e.replyHandedUs - e.replyAskedUs));
        const double answering = std::min(static_cast<double>(e.answeringUs), seamUs);
        answeringUs += answering;
        transportUs += seamUs - answering;
    }
    f.wallMs = asMs(static_cast<double>(exchanges.back().replyHandedUs - exchanges.front().requestTakenUs));
    f.owedMs = asMs(static_cast<double>(owedUs));
    f.ownMs = asMs(ownUs);
    f.ownMeanMs = f.ownMs / static_cast<double>(count);
    f.ownMaxMs = asMs(maxUs);
    f.transportMs = asMs(transportUs);
    f.answeringMs = asMs(answeringUs);
    f.ownRatio = (f.owedMs + f.ownMs) / f.owedMs;
    if (f.wallMs < f.owedMs) {
        f.error = "the wall time is shorter than the waits owed: the bench measured wrongly";
    } else if (f.ownRatio < 1.0) {
        f.error = "the own ratio is below 1: the bench measured wrongly";
    }
    return f;
}

std::string describeOwnTime(const std::string& label, const OwnTimeFigures& f) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "%s: %u blocks, wall %.3f s, waits owed %.3f s, own %.3f s (mean %.3f ms, max %.3f ms per exchange), "
                  "transport %.3f s, unit answering %.3f s, own ratio %.4f",
                  label.c_str(), f.blocks, f.wallMs / 1000.0, f.owedMs / 1000.0, f.ownMs / 1000.0, f.ownMeanMs,
                  f.ownMaxMs, f.transportMs / 1000.0, f.answeringMs / 1000.0, f.ownRatio);
    return text;
}

RepeatSpread spreadOfRepeats(std::vector<double> ratios) {
    RepeatSpread s;
    if (ratios.empty()) return s;
    std::sort(ratios.begin(), ratios.end());
    const std::size_t n = ratios.size();
    s.median = n % 2 == 1 ? ratios[n / 2] : (ratios[n / 2 - 1] + ratios[n / 2]) / 2.0;
    s.spread = ratios.back() - ratios.front();
    return s;
}

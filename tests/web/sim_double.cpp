// The simulated unit for the browser tests' navigator.hid stand-in (tests/web/hid_double.js): the
// same model of the unit as everywhere else, driven by the clock of the worker that holds it
// (hid_units.js). Every unit keeps its flash and its transcript, which the tests read back.
#include "sim/sim_unit.h"
#include "tests/bench/own_time.h"

#include <emscripten.h>

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

namespace {

std::deque<SimUnit> Units;
double ReadyAtMs = -1;

SimUnit* unitAt(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= Units.size()) return nullptr;
    return &Units[static_cast<std::size_t>(index)];
}

std::uint64_t asUs(double ms) { return static_cast<std::uint64_t>(ms * 1000.0); }

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE int simDoubleCreate(int productId, int unitMode, int attachedType, double escHardwareId,
                                         int escFirmwareVersion, int inputBytes, int outputBytes) {
    SimConfig config;
    config.productId = static_cast<std::uint16_t>(productId);
    config.unitMode = static_cast<std::uint8_t>(unitMode);
    config.attachedType = static_cast<std::uint16_t>(attachedType);
    config.escHardwareId = static_cast<std::uint32_t>(escHardwareId);
    config.escFirmwareVersion = static_cast<std::uint16_t>(escFirmwareVersion);
    config.inputReportLength = static_cast<std::uint16_t>(inputBytes);
    config.outputReportLength = static_cast<std::uint16_t>(outputBytes);
    Units.emplace_back();
    simInitUnit(Units.back(), config);
    return static_cast<int>(Units.size() - 1);
}

EMSCRIPTEN_KEEPALIVE void simDoubleFault(int index, int kind, int command, double blockIndex, double errorCode) {
    SimUnit* unit = unitAt(index);
    if (unit == nullptr) return;
    SimFault fault = simFault(static_cast<SimFaultKind>(kind), static_cast<std::uint8_t>(command),
                              static_cast<std::uint32_t>(blockIndex));
    fault.errorCode = static_cast<std::uint32_t>(errorCode);
    simSetFault(*unit, fault);
}

EMSCRIPTEN_KEEPALIVE int simDoubleWrite(int index, const std::uint8_t* report, int length, double nowMs) {
    SimUnit* unit = unitAt(index);
    return unit != nullptr && simWriteRequest(*unit, report, static_cast<std::uint32_t>(length), asUs(nowMs)) ? 1 : 0;
}

// 0: the reply is in report; 1: the read fails; 2: not yet, simDoubleReadyAtMs says when (-1 never).
EMSCRIPTEN_KEEPALIVE int simDoubleRead(int index, std::uint8_t* report, int length, double nowMs) {
    SimUnit* unit = unitAt(index);
    if (unit == nullptr) return 1;
    std::uint64_t readyAtUs = 0;
    switch (simReadReply(*unit, report, static_cast<std::uint32_t>(length), asUs(nowMs), &readyAtUs)) {
        case SimReadOutcome::Reply: return 0;
        case SimReadOutcome::Failed: return 1;
        case SimReadOutcome::NotYet: break;
    }
    ReadyAtMs = readyAtUs == UINT64_MAX ? -1 : static_cast<double>(readyAtUs) / 1000.0;
    return 2;
}

EMSCRIPTEN_KEEPALIVE double simDoubleReadyAtMs() { return ReadyAtMs; }

EMSCRIPTEN_KEEPALIVE void simDoubleVanish(int index) {
    if (SimUnit* unit = unitAt(index)) unit->vanished = true;
}

EMSCRIPTEN_KEEPALIVE const std::uint8_t* simDoubleFlash(int index) {
    SimUnit* unit = unitAt(index);
    return unit != nullptr ? unit->flash.data() : nullptr;
}

EMSCRIPTEN_KEEPALIVE int simDoubleRequests(int index, int command) {
    SimUnit* unit = unitAt(index);
    return unit != nullptr ? static_cast<int>(simCountRequests(*unit, static_cast<std::uint8_t>(command))) : 0;
}

EMSCRIPTEN_KEEPALIVE int simDoubleTranscriptLength(int index) {
    SimUnit* unit = unitAt(index);
    return unit != nullptr ? static_cast<int>(unit->transcript.size()) : 0;
}

// One request of the transcript: its command code (-1 past the end), and when it came and when its
// reply went out, in milliseconds of that worker's clock.
EMSCRIPTEN_KEEPALIVE int simDoubleRequestCommand(int index, int request) {
    SimUnit* unit = unitAt(index);
    if (unit == nullptr || request < 0 || static_cast<std::size_t>(request) >= unit->transcript.size()) return -1;
    return unit->transcript[static_cast<std::size_t>(request)].bytes[1];
}
EMSCRIPTEN_KEEPALIVE double simDoubleReceivedAtMs(int index, int request) {
    SimUnit* unit = unitAt(index);
    if (unit == nullptr || request < 0 || static_cast<std::size_t>(request) >= unit->transcript.size()) return -1;
    return static_cast<double>(unit->transcript[static_cast<std::size_t>(request)].receivedAtUs) / 1000.0;
}
EMSCRIPTEN_KEEPALIVE double simDoubleSentAtMs(int index, int request) {
    SimUnit* unit = unitAt(index);
    if (unit == nullptr || request < 0 || static_cast<std::size_t>(request) >= unit->transcript.size()) return -1;
    return static_cast<double>(unit->transcript[static_cast<std::size_t>(request)].sentAtUs) / 1000.0;
}

// The bench's measure over one update's exchanges: rows of six numbers each, the command and then
// the request taken, the request done, the reply asked (0: pushed), the reply handed and the unit's
// answering, in microseconds of the page's worker's clock, which Chromium gives in steps of 100 us.
// Returns "<own ratio> TAB <line>" or "error TAB <why>".
EMSCRIPTEN_KEEPALIVE const char* simDoubleMeasureOwnTime(const double* rows, int count, const char* label) {
    constexpr std::uint64_t STAMP_RESOLUTION_US = 100;
    static std::string text;
    std::vector<BenchExchange> exchanges;
    for (int i = 0; i < count; ++i) {
        const double* row = rows + 6 * i;
        BenchExchange e;
        e.command = static_cast<std::uint8_t>(row[0]);
        e.requestTakenUs = static_cast<std::uint64_t>(row[1]);
        e.requestDoneUs = static_cast<std::uint64_t>(row[2]);
        e.replyAskedUs = static_cast<std::uint64_t>(row[3]);
        e.replyHandedUs = static_cast<std::uint64_t>(row[4]);
        e.answeringUs = static_cast<std::uint64_t>(row[5]);
        exchanges.push_back(e);
    }
    const OwnTimeFigures f = measureOwnTime(exchanges, STAMP_RESOLUTION_US);
    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "%.6f", f.ownRatio);
    text = f.error.empty() ? std::string(ratio) + "\t" + describeOwnTime(label, f) : "error\t" + f.error;
    return text.c_str();
}

}  // extern "C"

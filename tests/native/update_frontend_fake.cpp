#include "tests/native/update_frontend_fake.h"

#include "device/hid_port.h"
#include "sim/sim_hid_port.h"
#include "update/firmware_update.h"

#include <cstdio>

namespace {

FakeFrontendScript Script;
std::vector<CourseRow> Course;
std::uint32_t RaiseChecks = 0;
bool KeepsAwake = false;
bool HoldsSessionEnd = false;
LinkClaims Claims;

void record(CourseStep step, std::uint32_t value, std::int32_t code = 0, std::uint32_t lastError = 0) {
    Course.push_back({step, value, code, lastError});
}

void recordWrite(const std::uint8_t* report, std::uint32_t length) {
    record(CourseStep::Request, length > 1 ? report[1] : 0);
}

const char* stepName(CourseStep step) {
    switch (step) {
        case CourseStep::Request: return "request";
        case CourseStep::Pause: return "pause";
        case CourseStep::Ask: return "ask";
        case CourseStep::ProgressStart: return "progress-start";
        case CourseStep::Progress: return "progress";
        case CourseStep::Raise: return "raise";
        case CourseStep::ProgressEnd: return "progress-end";
        case CourseStep::Awake: return "awake";
        case CourseStep::SessionHold: return "session-hold";
        case CourseStep::Failure: return "failure";
        case CourseStep::Success: return "success";
    }
    return "?";
}

}  // namespace

bool operator==(const CourseRow& a, const CourseRow& b) {
    return a.step == b.step && a.value == b.value && a.code == b.code && a.lastError == b.lastError;
}

std::string describe(const CourseRow& row) {
    char text[96];
    std::snprintf(text, sizeof text, "%s 0x%x code 0x%08x error %u", stepName(row.step), row.value,
                  static_cast<unsigned>(row.code), row.lastError);
    return text;
}

void fakeFrontendStart(const FakeFrontendScript& script) {
    Script = script;
    Course.clear();
    RaiseChecks = 0;
    KeepsAwake = false;
    HoldsSessionEnd = false;
    Claims = LinkClaims{};
    simBusObserveWrites(recordWrite);
}

const std::vector<CourseRow>& fakeFrontendCourse() { return Course; }
bool fakeFrontendKeepsAwake() { return KeepsAwake; }
bool fakeFrontendHoldsSessionEnd() { return HoldsSessionEnd; }
LinkClaims fakeFrontendLinkClaims() { return Claims; }

bool loadFirmwareImage(FirmwareImage* image) {
    if (Script.imageBytes == nullptr) return false;
    *image = {Script.imageBytes, Script.imageSize};
    return true;
}

bool frontendAsk(UpdateQuestion question) {
    ++(isFirmwareUpdateUsingTheLink() ? Claims.asksWhileHeld : Claims.asksWhileFree);
    record(CourseStep::Ask, static_cast<std::uint32_t>(question));
    return question == UpdateQuestion::Warning ? Script.acceptWarning : Script.acceptOlderFirmware;
}

std::uint64_t frontendClockUs() { return simBusClockUs(); }

void frontendWaitUntil(std::uint64_t deadlineUs) {
    const std::uint64_t now = simBusClockUs();
    const std::uint64_t waitUs = deadlineUs > now ? deadlineUs - now : 0;
    record(CourseStep::Pause, static_cast<std::uint32_t>(waitUs));
    simBusAdvanceUs(waitUs);
}

void frontendProgressStart(std::uint32_t imageBytes) { record(CourseStep::ProgressStart, imageBytes); }

void frontendProgressPosition(std::uint32_t position, std::uint32_t, std::uint32_t) {
    record(CourseStep::Progress, position);
    simBusAdvanceUs(Script.progressCostUs);
    if (Script.unplugAtPosition != 0 && position == Script.unplugAtPosition) simBusUnplug(Script.unplugDevice);
}

bool frontendProgressRaise() {
    const bool inFront = RaiseChecks++ >= Script.raiseRefusals;
    record(CourseStep::Raise, inFront ? 1 : 0);
    return inFront;
}

void frontendProgressEnd() { record(CourseStep::ProgressEnd, 0); }

void frontendReportFailure(unsigned stepMessage, std::int32_t code, std::uint32_t lastError) {
    ++(isFirmwareUpdateUsingTheLink() ? Claims.reportsWhileHeld : Claims.reportsWhileFree);
    record(CourseStep::Failure, stepMessage, code, lastError);
}

void frontendReportSuccess() {
    ++(isFirmwareUpdateUsingTheLink() ? Claims.reportsWhileHeld : Claims.reportsWhileFree);
    record(CourseStep::Success, 0);
}

std::uint32_t frontendLastError() { return hidPortLastError(); }

void frontendKeepSystemAwake(bool on) {
    record(CourseStep::Awake, on ? 1 : 0);
    KeepsAwake = on;
}

void frontendHoldSessionEnd(bool on) {
    record(CourseStep::SessionHold, on ? 1 : 0);
    HoldsSessionEnd = on;
}

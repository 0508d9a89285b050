// The command-line updater's side of the update: y/N questions on the terminal (or refusal where
// none can be asked), the progress as a redrawn line, a line per 10 % or JSON events, pauses on the
// monotonic clock, and interrupts held back while the unit writes the ESC.
#include "cli/cli_output.h"
#include "cli/cli_platform.h"
#include "cli/cli_texts.h"
#include "cli/cli_update_session.h"
#include "cli/embedded_images.h"
#include "device/device_link.h"
#include "device/precise_wait.h"
#include "frontend/unit_verdict.h"
#include "model/compatibility.h"
#include "update/firmware_update.h"
#include "update/update_frontend.h"
#include "update/update_logic.h"

#include <cctype>
#include <cstdio>
#include <string>

CliUpdateSession UpdateSession{};

namespace {

constexpr std::uint32_t NOT_SHOWN = PROGRESS_FULL + 1;
constexpr std::uint32_t PLAIN_STEP_PERCENT = 10;
constexpr int BAR_CELLS = 30;
// The redrawn line also moves on for the time left when no position changed for this long.
constexpr std::uint64_t REDRAW_US = 500000;
constexpr std::uint64_t US_PER_S = 1000000;
constexpr std::size_t ANSWER_CHARS = 64;

const CliIo& io() { return *UpdateSession.io; }

std::uint64_t clockNowUs() {
    const CliClock& clock = io().clock;
    return clock.nowUs != nullptr ? clock.nowUs() : monotonicNowUs();
}

// An interrupt that arrived while held is answered once, with why the program goes on.
void noticeHeldInterrupts() {
    if (!takeHeldInterrupt() || UpdateSession.interruptNoticeShown) return;
    UpdateSession.interruptNoticeShown = true;
    if (UpdateSession.progressLineOpen) std::fputc('\n', io().err);
    std::fputs(INTERRUPT_REFUSED, io().err);
    std::fflush(io().err);
}

bool askYesNo(const std::string& question) {
    std::fputs(question.c_str(), io().err);
    std::fflush(io().err);
    char answer[ANSWER_CHARS];
    if (std::fgets(answer, sizeof answer, io().in) == nullptr) {
        std::fputc('\n', io().err);
        return false;
    }
    const char* c = answer;
    while (*c == ' ' || *c == '\t') ++c;
    const int first = std::tolower(static_cast<unsigned char>(*c));
    return first == 'y';
}

void drawTerminalLine(std::uint32_t position, std::uint32_t bytesSent, std::uint32_t imageBytes, std::uint64_t nowUs) {
    const std::uint32_t blocksDone = (bytesSent + BLOCK_BYTES - 1) / BLOCK_BYTES;
    const std::uint32_t total = UpdateSession.totalBlocks;
    char bar[BAR_CELLS + 1];
    const int filled = static_cast<int>(position * BAR_CELLS / PROGRESS_FULL);
    for (int i = 0; i < BAR_CELLS; ++i) bar[i] = i < filled ? '#' : '-';
    bar[BAR_CELLS] = '\0';
    std::string left = "--:--";
    if (blocksDone != 0 && bytesSent < imageBytes) {
        const std::uint64_t elapsedUs = nowUs - UpdateSession.progressStartUs;
        const std::uint64_t leftS = elapsedUs * (total - blocksDone) / blocksDone / US_PER_S;
        left = formatText("%u:%02u", static_cast<unsigned>(leftS / 60), static_cast<unsigned>(leftS % 60));
    } else if (bytesSent >= imageBytes) {
        left = "0:00";
    }
    std::fprintf(io().out, PROGRESS_BAR_FORMAT, bar, position, blocksDone, total, left.c_str());
    std::fflush(io().out);
    UpdateSession.progressLineOpen = true;
    UpdateSession.lastDrawUs = nowUs;
}

void showProgress(std::uint32_t position, std::uint32_t bytesSent, std::uint32_t imageBytes) {
    const std::uint64_t nowUs = clockNowUs();
    const bool moved = position != UpdateSession.shownPosition;
    if (UpdateSession.json) {
        if (!moved) return;
        nlohmann::json event;
        event["event"] = "progress";
        event["percent"] = position;
        event["bytesSent"] = bytesSent;
        event["totalBytes"] = imageBytes;
        printJsonLine(io().out, event);
    } else if (io().outIsTerminal) {
        if (!moved && nowUs - UpdateSession.lastDrawUs < REDRAW_US) return;
        drawTerminalLine(position, bytesSent, imageBytes, nowUs);
    } else {
        if (!moved || position % PLAIN_STEP_PERCENT != 0 || position == 0) {
            UpdateSession.shownPosition = position;
            return;
        }
        const std::uint32_t blocksDone = (bytesSent + BLOCK_BYTES - 1) / BLOCK_BYTES;
        std::fprintf(io().out, PROGRESS_LINE_FORMAT, position, blocksDone, UpdateSession.totalBlocks);
        std::fflush(io().out);
    }
    UpdateSession.shownPosition = position;
}

void closeProgressLine() {
    if (!UpdateSession.progressLineOpen) return;
    std::fputc('\n', io().out);
    std::fflush(io().out);
    UpdateSession.progressLineOpen = false;
}

// An answer can take for ever, and meanwhile another ESC can be attached to the unit without any USB
// event: before anything is sent the unit is identified again, and it must still hold an updatable
// ESC of the model the image was chosen for.
bool isTheSameEscAgain() {
    const std::int32_t result = identifyDevice(DeviceLink);
    if (result != RESULT_OK) {
        UpdateSession.outcome = CliUpdateOutcome::IdentifyAgainFailed;
        UpdateSession.failedCode = result;
        UpdateSession.failedLastError = hidPortLastError();
        return false;
    }
    const ModelRow* row = judgeAttachedUnitForAnyModel(DeviceLink.unitMode, DeviceLink.attachedType,
                                                       escHardwareId(DeviceLink))
                              .model;
    if (row != UpdateSession.row) {
        UpdateSession.outcome = CliUpdateOutcome::EscChanged;
        UpdateSession.changedTo = row;
        return false;
    }
    // The same model; its firmware may still be another one, and the next question names it.
    UpdateSession.escFirmwareVersion = escFirmwareVersion(DeviceLink);
    return true;
}

}  // namespace

void startUpdateSession(const CliIo& cliIo, bool json, bool yes, const ModelRow& row, std::uint16_t escFirmwareVersion) {
    UpdateSession = CliUpdateSession{};
    UpdateSession.io = &cliIo;
    UpdateSession.json = json;
    UpdateSession.yes = yes;
    UpdateSession.row = &row;
    UpdateSession.escFirmwareVersion = escFirmwareVersion;
    UpdateSession.outcome = CliUpdateOutcome::NotRun;
    UpdateSession.shownPosition = NOT_SHOWN;
}

const char* stepText(unsigned stepMessage) {
    for (const StepText& step : STEP_TEXTS) {
        if (step.message == stepMessage) return step.text;
    }
    return STEP_TEXT_UNKNOWN;
}

bool loadFirmwareImage(FirmwareImage* image) {
    const EmbeddedImage* embedded = UpdateSession.row != nullptr ? embeddedImageFor(*UpdateSession.row) : nullptr;
    if (embedded == nullptr) return false;
    *image = {embedded->bytes, embedded->size};
    return true;
}

bool frontendAsk(UpdateQuestion question) {
    if (UpdateSession.yes) return true;
    if (UpdateSession.json || !io().inIsTerminal) {
        UpdateSession.outcome = CliUpdateOutcome::CannotAsk;
        UpdateSession.cannotAskReason = UpdateSession.json ? CANNOT_ASK_JSON : CANNOT_ASK_NO_TERMINAL;
        return false;
    }
    const std::string text =
        question == UpdateQuestion::Warning
            ? std::string(WARNING_QUESTION)
            : formatText(OLDER_FIRMWARE_QUESTION_FORMAT, escFirmwareText(UpdateSession.escFirmwareVersion).c_str(),
                         imageFirmwareText().c_str());
    if (!askYesNo(text)) {
        UpdateSession.outcome = CliUpdateOutcome::Declined;
        return false;
    }
    return isTheSameEscAgain();
}

std::uint64_t frontendClockUs() { return clockNowUs(); }

void frontendWaitUntil(std::uint64_t deadlineUs) {
    noticeHeldInterrupts();
    const CliClock& clock = io().clock;
    if (clock.waitUntilUs != nullptr) {
        clock.waitUntilUs(deadlineUs);
    } else {
        waitUntilUs(deadlineUs, nullptr);
    }
    noticeHeldInterrupts();
}

void frontendProgressStart(std::uint32_t imageBytes) {
    UpdateSession.totalBlocks = (imageBytes + BLOCK_BYTES - 1) / BLOCK_BYTES;
    UpdateSession.progressStartUs = clockNowUs();
    showProgress(0, 0, imageBytes);
}

void frontendProgressPosition(std::uint32_t position, std::uint32_t bytesSent, std::uint32_t imageBytes) {
    showProgress(position, bytesSent, imageBytes);
}

// A terminal has nothing to bring forward.
bool frontendProgressRaise() { return true; }

void frontendProgressEnd() { closeProgressLine(); }

void frontendReportFailure(unsigned stepMessage, std::int32_t code, std::uint32_t lastError) {
    closeProgressLine();
    UpdateSession.outcome = CliUpdateOutcome::Failed;
    UpdateSession.failedStep = stepMessage;
    UpdateSession.failedCode = code;
    UpdateSession.failedLastError = lastError;
}

void frontendReportSuccess() {
    closeProgressLine();
    UpdateSession.outcome = CliUpdateOutcome::Succeeded;
}

// The port's own last error: GetLastError with the Windows port, errno with hidapi, and the
// simulated unit's errno values under --sim on either system.
std::uint32_t frontendLastError() { return hidPortLastError(); }

void frontendKeepSystemAwake(bool on) {
    if (on) {
        holdInterrupts(true);
        keepSystemAwake(true);
        return;
    }
    keepSystemAwake(false);
    noticeHeldInterrupts();
    // The hold stays: an interrupt now would cut short the report of the outcome and end the
    // program with 130, which says the update never began.
}

void frontendHoldSessionEnd(bool on) { holdSessionEnd(on); }

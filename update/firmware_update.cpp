// The firmware update's course: the confirmations, the fixed command sequence that prepares the
// ESC, the block-wise transfer of the image and the report of the outcome.
//
// Every pause is measured from the end of what precedes it, normally the moment the previous
// command's reply was read: the unit needs that much time between one reply and the next request,
// and whatever the front end does meanwhile (drawing progress, handling messages) then happens
// inside the pause instead of adding to it.
#include "update/firmware_update.h"

#include "device/device_link.h"
#include "update/update_frontend.h"
#include "update/update_logic.h"
#include "update/update_messages.h"

namespace {

bool UpdateRunning = false;
bool UsingTheLink = false;     // from the click to the report of the outcome
bool SendingCommands = false;  // from the first command of the update to its last

constexpr std::uint64_t US_PER_MS = 1000;

// The clock's reading plus ms: the deadline of a pause that starts at that reading.
std::uint64_t after(std::uint64_t startUs, std::uint32_t ms) { return startUs + ms * US_PER_MS; }

// One command of the prepared sequence: its result, the system's last error right after it, and
// when it ended, the start of the pause that follows it.
struct StepOutcome {
    std::int32_t result;
    std::uint32_t lastError;
    std::uint64_t endedAtUs;
};

template <typename Command>
StepOutcome runStep(Command command) {
    StepOutcome outcome;
    outcome.result = command();
    outcome.lastError = frontendLastError();
    outcome.endedAtUs = frontendClockUs();
    return outcome;
}

// The system stays awake and the session is held from the first command to the last one; the
// report of the outcome may wait for the person as long as it likes, and the session may end then.
void startSending() {
    SendingCommands = true;
    frontendKeepSystemAwake(true);
    frontendHoldSessionEnd(true);
}

void stopSending() {
    frontendHoldSessionEnd(false);
    frontendKeepSystemAwake(false);
    SendingCommands = false;
}

void failAwakeUpdate(unsigned stepMessage, std::int32_t result, std::uint32_t lastError) {
    stopSending();
    reportUpdateFailure(stepMessage, result, lastError);
}

void runUpdateSteps() {
    if (!isDeviceLinkOpen(DeviceLink)) {
        reportUpdateFailure(MSG_UNIT_NOT_DETECTED, RESULT_NO_LINK, frontendLastError());
        return;
    }
    if (!canCarryUpdateReports(DeviceLink.inputReportLength, DeviceLink.outputReportLength)) {
        // Every block would go out cut short: nothing is asked or sent, the ESC keeps its firmware,
        // and no command's code belongs in the report. Judged while the link is sure to be open: a
        // unit pulled out during a question fails at the lock, as it always did.
        reportUpdateFailure(MSG_BLOCK_WRITE_FAILED, RESULT_NO_LINK, frontendLastError());
        return;
    }
    if (!frontendAsk(UpdateQuestion::Warning)) return;
    if (isVersionQuestionNeeded(escFirmwareVersion(DeviceLink)) && !frontendAsk(UpdateQuestion::OlderFirmware)) return;

    FirmwareImage image{};
    if (!loadFirmwareImage(&image) || !isSendableImageSize(image.size)) {
        // Nothing has been sent: the ESC keeps its firmware.
        reportUpdateFailure(MSG_BLOCK_WRITE_FAILED, IMAGE_MISSING_CODE, frontendLastError());
        return;
    }

    startSending();
    StepOutcome step = runStep([] { return setSystemLock(DeviceLink, 1); });
    if (step.result != RESULT_OK) return failAwakeUpdate(MSG_SYSTEM_LOCK_FAILED, step.result, step.lastError);

    frontendWaitUntil(after(step.endedAtUs, STEP_PAUSE_MS));
    step = runStep([] { return setWriteProtection(DeviceLink, 0); });
    if (step.result != RESULT_OK) return failAwakeUpdate(MSG_WRITE_PROTECTION_FAILED, step.result, step.lastError);

    frontendWaitUntil(after(step.endedAtUs, STEP_PAUSE_MS));
    step = runStep([] { return eraseFirmware(DeviceLink); });
    // The ESC needs this time after an erase whatever its outcome, before anything else is sent;
    // the last error is the one after this wait, which leaves it as the erase left it.
    const std::uint64_t settledAtUs = after(step.endedAtUs, ERASE_SETTLE_MS);
    frontendWaitUntil(settledAtUs);
    if (step.result != RESULT_OK) return failAwakeUpdate(MSG_ERASE_FAILED, step.result, frontendLastError());

    frontendWaitUntil(after(settledAtUs, STEP_PAUSE_MS));
    step = runStep([] { return setWriteAddress(DeviceLink); });
    if (step.result != RESULT_OK) return failAwakeUpdate(MSG_WRITE_ADDRESS_FAILED, step.result, step.lastError);

    frontendWaitUntil(after(step.endedAtUs, STEP_PAUSE_MS));
    std::uint32_t transferError = 0;
    const std::int32_t transferred = transferImage(image.bytes, image.size, &transferError);
    if (transferred != RESULT_OK) return failAwakeUpdate(MSG_BLOCK_WRITE_FAILED, transferred, transferError);

    // The image is in; whether the unit restores protection and lock is not examined.
    setWriteProtection(DeviceLink, 1);
    setSystemLock(DeviceLink, 0);
    stopSending();
    setEscFirmwareVersion(DeviceLink, IMAGE_FIRMWARE_VERSION);
    UsingTheLink = false;
    frontendReportSuccess();
}

}  // namespace

bool isFirmwareUpdateRunning() { return UpdateRunning; }
bool isFirmwareUpdateSending() { return SendingCommands; }
bool isFirmwareUpdateUsingTheLink() { return UsingTheLink; }

void runFirmwareUpdate() {
    UpdateRunning = true;
    UsingTheLink = true;
    runUpdateSteps();
    UsingTheLink = false;
    UpdateRunning = false;
}

std::int32_t transferImage(const std::uint8_t* image, std::uint32_t imageBytes, std::uint32_t* lastError) {
    frontendProgressStart(imageBytes);

    std::uint8_t tailBuffer[BLOCK_BYTES];
    std::uint32_t remaining = imageBytes;
    const std::uint8_t* cursor = image;
    bool raised = false;
    while (remaining != 0) {
        const TransferBlock block = nextTransferBlock(cursor, remaining, tailBuffer);
        const std::int32_t result = writeDataBlock(DeviceLink, block.data, block.wordCount);
        if (result != RESULT_OK) {
            *lastError = frontendLastError();
            frontendProgressEnd();
            return result;
        }
        const std::uint64_t repliedAtUs = frontendClockUs();
        cursor += block.imageBytes;
        remaining -= block.imageBytes;
        frontendProgressPosition(progressPosition(imageBytes, remaining), imageBytes - remaining, imageBytes);
        // Brought forward once, and only while the person is looking at this program.
        if (!raised) raised = frontendProgressRaise();
        frontendWaitUntil(after(repliedAtUs, STEP_PAUSE_MS));
    }
    frontendProgressEnd();
    return RESULT_OK;
}

void reportUpdateFailure(unsigned stepMessage, std::int32_t code, std::uint32_t lastError) {
    closeDeviceLink(DeviceLink);
    UsingTheLink = false;
    frontendReportFailure(stepMessage, code, lastError);
}

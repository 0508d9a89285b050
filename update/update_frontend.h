// What the update needs of the person in front of it. Each program links one implementation: the
// dialog (message boxes, the progress window), the command-line updater (prompts, a progress line
// or JSON), the native tests (a recording fake). The update reaches the unit only through device/
// and the person only through these functions, so its course is the same in every program.
#pragma once

#include <cstdint>

enum class UpdateQuestion : std::uint8_t {
    Warning,        // do not interrupt the update; go on or cancel
    OlderFirmware,  // the ESC already holds the image's version or a newer one; its firmware is lost
};

// True when the person chose to go on.
bool frontendAsk(UpdateQuestion question);

// The monotonic clock every pause of the update is measured on, in microseconds.
std::uint64_t frontendClockUs();
// Returns no earlier than deadlineUs on that clock, and leaves the system's last error as it was.
// The dialog handles window messages meanwhile; nothing else runs the update's commands then.
void frontendWaitUntil(std::uint64_t deadlineUs);

// The image transfer: started before the first block, a position after every accepted block, ended
// after the last pause or right after a failed block.
void frontendProgressStart(std::uint32_t imageBytes);
// position 0 to 100; bytesSent of imageBytes have been accepted by the unit.
void frontendProgressPosition(std::uint32_t position, std::uint32_t bytesSent, std::uint32_t imageBytes);
// Brings the progress forward if the person is looking at this program. True once it did; the
// update then asks no more during this transfer.
bool frontendProgressRaise();
void frontendProgressEnd();

// The update failed at the step whose text is stepMessage (a catalogue message ID); the link is
// already closed. code is the step's result (RESULT_NO_LINK: the report has no error-code line),
// lastError the system's last error taken right after the step.
void frontendReportFailure(unsigned stepMessage, std::int32_t code, std::uint32_t lastError);
void frontendReportSuccess();

// The system's last error for the calling thread (GetLastError, errno).
std::uint32_t frontendLastError();

// Keeps the system from sleeping while the unit writes the ESC (on), and lets it sleep again (off).
void frontendKeepSystemAwake(bool on);

// Holds off the end of the session (a log-off, a restart, a shut-down) while the unit writes the
// ESC (on), and lets it end again (off): a session that ended half-way would leave the ESC without
// firmware. Released before the outcome is reported, so no box of the outcome holds the session.
void frontendHoldSessionEnd(bool on);

// The one update the command-line updater runs: what the person chose, and what the update's
// front end (cli_frontend.cpp) learnt while it ran. Owned by cli_commands.cpp, which starts it and
// turns its outcome into the exit code.
#pragma once

#include "cli/cli.h"
#include "model/model_table.h"

#include <cstdint>

enum class CliUpdateOutcome {
    NotRun,
    Declined,   // the person answered no
    CannotAsk,  // a question needed an answer that could not be asked
    IdentifyAgainFailed,  // after an answer the unit did not answer its identification again
    EscChanged,           // after an answer the unit held another ESC, or none that can be updated
    Succeeded,
    Failed,
};

struct CliUpdateSession {
    const CliIo* io;
    bool json;
    bool yes;
    const ModelRow* row;
    std::uint16_t escFirmwareVersion;  // before the update, for the question
    CliUpdateOutcome outcome;
    const char* cannotAskReason;
    const ModelRow* changedTo;  // EscChanged: the model now attached, null for none supported
    unsigned failedStep;
    std::int32_t failedCode;
    std::uint32_t failedLastError;
    // The progress as drawn so far.
    std::uint32_t totalBlocks;
    std::uint32_t shownPosition;  // the last position printed; above 100 before the first
    std::uint64_t progressStartUs;
    std::uint64_t lastDrawUs;
    bool progressLineOpen;  // a redrawn line is on the terminal and needs its line break
    bool interruptNoticeShown;
};

extern CliUpdateSession UpdateSession;

void startUpdateSession(const CliIo& io, bool json, bool yes, const ModelRow& row, std::uint16_t escFirmwareVersion);
// The text of a step's catalogue message; a generic one for a message this program does not know.
const char* stepText(unsigned stepMessage);

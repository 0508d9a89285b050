// Every text the command-line updater prints, in one place. English only; the questions and the
// step texts say what the dialog's catalogue says, in the words a terminal user expects.
#pragma once

#include "update/update_messages.h"

constexpr const char* PROGRAM_NAME = "quenlor";
constexpr const char* PROGRAM_DESCRIPTION =
    "Updates the firmware of ZEPHANT ESCs (60 LV, 140 LV, 90 LV) attached to a DIALPUCK or VexoBOX "
    "programming unit.";

constexpr const char* EXIT_CODES_HELP =
    "Exit codes:\n"
    "  0    done\n"
    "  2    wrong usage (also: several units present and no --path)\n"
    "  3    no programming unit found\n"
    "  4    a programming unit was found but cannot be opened\n"
    "  5    identification failed\n"
    "  6    nothing to update (unit in the wrong mode, no updatable ESC, an ESC of no supported model,\n"
    "       not the --model asked for, a unit whose reports cannot carry the update, or a build with\n"
    "       stand-in images and a unit other than --sim's without --allow-stand-in)\n"
    "  7    declined (or a question could not be asked: give --yes)\n"
    "  8    the update failed; the ESC may be left without firmware: run `quenlor update` again\n"
    "  130  interrupted before the update began\n";

// ---- Questions
constexpr const char* WARNING_QUESTION =
    "IMPORTANT: do not interrupt the update. While the LEDs of the programming unit or the ESC flash, "
    "the update is working; you will be told when it has finished.\nStart the update? [y/N] ";
constexpr const char* OLDER_FIRMWARE_QUESTION_FORMAT =
    "The ESC already holds firmware %s, and this image is %s, the same or older. If you continue, the "
    "ESC's current firmware is deleted permanently.\nInstall it anyway? [y/N] ";

// ---- Errors: one sentence each, with the cause and what to do.
constexpr const char* ERROR_NO_UNIT =
    "No programming unit was found: connect the VexoBOX or DIALPUCK with its USB cable (press the "
    "DIALPUCK's button once) and try again.";
constexpr const char* ERROR_NO_DEVICE_LIST =
    "The system's list of HID devices could not be read (system error %u): reconnect the programming "
    "unit and try again.";
constexpr const char* ERROR_CANNOT_OPEN_ACCESS =
    "The programming unit %s was found but may not be opened (permission denied): install the udev "
    "rule as `quenlor list` shows, then unplug the unit and plug it in again.";
constexpr const char* ERROR_CANNOT_OPEN_BUSY =
    "The programming unit %s was found but another program holds it: close that program and try again.";
constexpr const char* ERROR_CANNOT_OPEN_OTHER =
    "The programming unit %s was found but cannot be opened (system error %u): unplug it, plug it in "
    "again and try again.";
constexpr const char* ERROR_ANOTHER_INSTANCE =
    "Another Quenlor program is running and may be using the programming unit: let it finish or close "
    "it, then try again.";
constexpr const char* ERROR_SEVERAL_UNITS =
    "%u programming units are present (%s): choose the one to update with --path PATH, as `quenlor list` "
    "shows it.";
constexpr const char* ERROR_NO_UNIT_AT_PATH =
    "No programming unit is present at %s: `quenlor list` shows the paths of the units present.";
constexpr const char* ERROR_REPORTS_TOO_SHORT =
    "The programming unit's reports are too short to carry the update (output %u of %u bytes, input %u "
    "of %u bytes): nothing was written, and this unit cannot update the ESC.";
constexpr const char* ERROR_REPORTS_TOO_LONG =
    "The programming unit's reports are longer than the update can use (output %u bytes, input %u bytes; "
    "the update needs %u to %u bytes out and %u to %u bytes in): nothing was sent to it, and this unit "
    "cannot update the ESC.";
constexpr const char* ERROR_REPORTS_WITHOUT_IDS =
    "The programming unit numbers none of its reports, but the update sends its requests as report %u and "
    "reads the replies from report %u: nothing was sent to it, and this unit cannot update the ESC.";
constexpr const char* ERROR_NO_UNIT_COLLECTION =
    "The programming unit has no vendor collection (usage page 0x%04X) with report %u or %u, which carry "
    "the update: nothing was sent to it, and this unit cannot update the ESC.";
constexpr const char* ERROR_REPORTS_UNREADABLE =
    "The programming unit's report descriptor could not be read or is malformed (system error 0x%08x): "
    "nothing was sent to it; unplug the unit, plug it in again and try again.";
constexpr const char* ERROR_STAND_IN_IMAGES =
    "This quenlor carries stand-in images made for development, not the maker's firmware, and writes them only "
    "to the simulated unit of --sim: nothing was sent to the programming unit; build quenlor with the maker's "
    "images to update a real ESC (or give --allow-stand-in to write the stand-ins all the same).";
constexpr const char* ERROR_ESC_CHANGED =
    "The ESC on the programming unit changed while the question was open (now: %s): nothing was "
    "written; run `quenlor update` again.";
constexpr const char* ESC_CHANGED_TO_NONE = "no ESC of a supported model";
constexpr const char* ERROR_IDENTIFY_FAILED =
    "The programming unit did not answer its identification (result 0x%08x, system error 0x%08x): "
    "reconnect the unit and the ESC's battery and try again.";
constexpr const char* ERROR_WRONG_MODE =
    "The programming unit is in the wrong mode: disconnect it, connect the ESC and its battery first, "
    "then plug the unit in again.";
constexpr const char* ERROR_NO_UPDATABLE_ESC =
    "No updatable ESC is connected to the programming unit: connect the ESC's master port to the unit, "
    "connect the ESC's battery and try again.";
constexpr const char* ERROR_UNSUPPORTED_ESC =
    "The connected ESC (hardware ID 0x%08x) is not a ZEPHANT 60 LV, 140 LV or 90 LV: this program cannot "
    "update it.";
constexpr const char* ERROR_OTHER_MODEL =
    "The connected ESC is a %s, not the %s asked for with --model: connect that ESC or leave --model out.";
constexpr const char* ERROR_DECLINED = "The update was cancelled; the ESC was not changed.";
constexpr const char* ERROR_CANNOT_ASK =
    "The update needs a confirmation that cannot be asked here (%s): run it again with --yes to confirm.";
constexpr const char* CANNOT_ASK_NO_TERMINAL = "standard input is not a terminal";
constexpr const char* CANNOT_ASK_JSON = "--json never asks";
constexpr const char* ERROR_UPDATE_FAILED_FORMAT =
    "The update failed: %s (code 0x%08x, system error 0x%08x); the ESC may be left without firmware: "
    "run `quenlor update` again.";
constexpr const char* ERROR_COMMAND_REQUIRED = "A command is required: list, info or update.";
constexpr const char* ERROR_UNKNOWN_MODEL_FORMAT = "%s is not a supported model (%s, or its full name)";
constexpr const char* ERROR_PREFIX = "quenlor: ";
constexpr const char* USAGE_HINT = " Run `quenlor --help` for the usage.";

// ---- The steps an update can fail at, by their catalogue message IDs.
struct StepText {
    unsigned message;
    const char* text;
};
constexpr StepText STEP_TEXTS[] = {
    {MSG_UNIT_NOT_DETECTED, "the programming unit is no longer detected; check the USB connection"},
    {MSG_SYSTEM_LOCK_FAILED, "the programming unit's system lock could not be set"},
    {MSG_WRITE_PROTECTION_FAILED, "the ESC's flash memory could not be opened for writing"},
    {MSG_ERASE_FAILED, "the old firmware could not be deleted"},
    {MSG_WRITE_ADDRESS_FAILED, "the address for the new firmware could not be set"},
    {MSG_BLOCK_WRITE_FAILED, "a firmware data block could not be written"},
};

constexpr const char* STEP_TEXT_UNKNOWN = "an update step failed";

// ---- Messages while updating
constexpr const char* UPDATE_START_FORMAT = "Updating the %s on the %s from firmware %s to %s.\n";
constexpr const char* UPDATE_SUCCEEDED =
    "The update of the ESC was successful. Disconnect the ESC from its battery and from the programming "
    "unit, and the unit from the computer.\n";
constexpr const char* INTERRUPT_REFUSED =
    "quenlor: not stopping: interrupting now would leave the ESC without firmware; the update goes on "
    "to its end.\n";
constexpr const char* INTERRUPTED = "\nquenlor: interrupted; the ESC was not changed.\n";
// Why the session may not end now, as Windows shows it beside the program on its "programs are still
// running" screen (at most 256 characters).
constexpr const wchar_t* SESSION_END_REASON =
    L"quenlor is writing firmware into the ESC: do not interrupt the update, or the ESC is left without "
    L"firmware. You will be told when it has finished.";
// After the update's last command: the outcome is already settled, only its report is cut short.
constexpr const char* INTERRUPTED_AFTER_UPDATE = "\nquenlor: interrupted after the update had ended.\n";
constexpr const char* PROGRESS_LINE_FORMAT = "Writing firmware: %3u %% (%u of %u blocks)\n";
constexpr const char* PROGRESS_BAR_FORMAT = "\r[%s] %3u %%  %u/%u blocks  %s left ";

// ---- Listing and information
constexpr const char* LIST_NONE = "No programming unit found.\n";
constexpr const char* LIST_READY = "ready";
constexpr const char* LIST_NOT_FOUND = "gone before it could be opened";
constexpr const char* LIST_ACCESS_DENIED = "permission denied";
constexpr const char* LIST_BUSY = "in use by another program";
constexpr const char* LIST_OTHER = "cannot be opened";

constexpr const char* LIST_LINE_FORMAT = "%-9s %s  %s\n";
constexpr const char* INFO_UNIT_FORMAT = "Programming unit:  %s, firmware %s\n";
constexpr const char* INFO_BOOTLOADER_FORMAT = "ESC bootloader:    %s\n";
constexpr const char* INFO_FIRMWARE_FORMAT = "ESC firmware:      %s\n";
constexpr const char* INFO_HARDWARE_ID_FORMAT = "ESC hardware ID:   %s\n";
constexpr const char* INFO_MODEL_FORMAT = "ESC model:         %s\n";
constexpr const char* INFO_NO_MODEL = "none supported";
constexpr const char* INFO_VERDICT_FORMAT = "Verdict:           %s\n";

// ---- --version
constexpr const char* VERSION_FORMAT = "quenlor %s (firmware image %s)\n";
constexpr const char* VERSION_STAND_IN_IMAGES =
    "Images: STAND-INS generated for development, not the maker's; this program must not be released.\n";
constexpr const char* VERSION_MAKER_IMAGES = "Images: the maker's.\n";
constexpr const char* VERSION_IMAGE_FORMAT = "  %-15s %u bytes  SHA-256 %s\n";

constexpr const char* VERDICT_READY = "ready";
constexpr const char* VERDICT_WRONG_MODE = "wrong-mode";
constexpr const char* VERDICT_NO_UPDATABLE_ESC = "no-updatable-esc";
constexpr const char* VERDICT_UNSUPPORTED_ESC = "unsupported-esc";

constexpr const char* VERDICT_READY_TEXT = "ready to update";
constexpr const char* VERDICT_WRONG_MODE_TEXT = "the programming unit is in the wrong mode";
constexpr const char* VERDICT_NO_UPDATABLE_ESC_TEXT = "no updatable ESC is connected";
constexpr const char* VERDICT_UNSUPPORTED_ESC_TEXT = "the ESC is of no supported model";

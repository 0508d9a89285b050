// The commands of `quenlor`: list, info, update, and --version. Identification is the dialog's
// (the same scan, the same requests, nothing else sent); the update is the portable one.
#include "cli/cli.h"

#include "cli/cli_args.h"
#include "cli/cli_output.h"
#include "cli/cli_texts.h"
#include "cli/cli_update_session.h"
#include "cli/embedded_images.h"
#include "cli/sha256.h"
#include "device/device_link.h"
#ifdef _WIN32
#include "device/single_instance.h"
#endif
#include "device/udev_hint.h"
#include "device/unit_listing.h"
#include "frontend/unit_verdict.h"
#include "frontend/version_texts.h"
#include "model/compatibility.h"
#include "model/model_table.h"
#include "sim/sim_hid_port.h"
#include "update/firmware_update.h"
#include "update/update_logic.h"

#include <cstring>
#include <string>
#include <vector>

#ifndef QUENLOR_VERSION
#error "the build defines QUENLOR_VERSION"
#endif

namespace {

using nlohmann::json;

struct Context {
    const CliIo& io;
    const CliOptions& options;
};

// ---- The simulated unit of --sim: a compatible ESC of the chosen model with firmware 1.5, on a
// VexoBOX, on a bus that runs in real time.
constexpr std::uint16_t SIM_ESC_FIRMWARE = 0x0105;

void plugInSimulatedUnit(int modelIndex) {
    simBusReset();
    simBusUseRealTime(true);
    SimConfig config;
    config.escFirmwareVersion = SIM_ESC_FIRMWARE;
    config.escHardwareId = HARDWARE_ID_FAMILY_A | MODEL_ROWS[modelIndex].idByte;
    simBusAdd(config);
}

// ---- Texts of the unit and the ESC, as the dialog writes them.
struct IdentifiedTexts {
    std::string product;
    std::string unitFirmware;
    std::string bootloader;
    std::string escFirmware;
};

IdentifiedTexts identifiedTexts(const DeviceLinkRecord& link) {
    VersionRowTexts rows{};
    composeVersionRows(link.unitFirmwareVersion, escBootloaderVersion(link), escFirmwareVersion(link), link.productId,
                       &rows);
    return {toUtf8(rows.unitLabel), toUtf8(rows.unitVersion), toUtf8(rows.bootloaderVersion),
            toUtf8(rows.escFirmwareVersion)};
}

// The dialog's checks, in its order; the model is the one whose hardware IDs match, of all three.
UnitJudgement judge(const DeviceLinkRecord& link) {
    return judgeAttachedUnitForAnyModel(link.unitMode, link.attachedType, escHardwareId(link));
}

const char* verdictKey(UnitVerdict verdict) {
    switch (verdict) {
        case UnitVerdict::OfferUpdate: return VERDICT_READY;
        case UnitVerdict::WrongMode: return VERDICT_WRONG_MODE;
        case UnitVerdict::NoUpdatableEsc: return VERDICT_NO_UPDATABLE_ESC;
        case UnitVerdict::Incompatible: break;
    }
    return VERDICT_UNSUPPORTED_ESC;
}

const char* verdictText(UnitVerdict verdict) {
    switch (verdict) {
        case UnitVerdict::OfferUpdate: return VERDICT_READY_TEXT;
        case UnitVerdict::WrongMode: return VERDICT_WRONG_MODE_TEXT;
        case UnitVerdict::NoUpdatableEsc: return VERDICT_NO_UPDATABLE_ESC_TEXT;
        case UnitVerdict::Incompatible: break;
    }
    return VERDICT_UNSUPPORTED_ESC_TEXT;
}

// ---- Units that cannot be opened
const char* openProblem(HidOpenFailure failure) {
    switch (failure) {
        case HidOpenFailure::None: return LIST_READY;
        case HidOpenFailure::NotFound: return LIST_NOT_FOUND;
        case HidOpenFailure::AccessDenied: return LIST_ACCESS_DENIED;
        case HidOpenFailure::Busy: return LIST_BUSY;
        case HidOpenFailure::Other: break;
    }
    return LIST_OTHER;
}

// What to do about a unit that cannot be opened; null when nothing can be said.
const char* openFix(HidOpenFailure failure) {
    switch (failure) {
#if defined(__linux__)
        case HidOpenFailure::AccessDenied: return UDEV_INSTALL_HINT;
#endif
        case HidOpenFailure::Busy: return UNIT_BUSY_HINT;
        default: break;
    }
    return nullptr;
}

struct ListedUnit {
    std::string path;
    std::uint16_t productId;
    HidOpenFailure openFailure;
    std::uint32_t openError;
};

void collectUnit(const ProgrammingUnitEntry& unit, void* context) {
    static_cast<std::vector<ListedUnit>*>(context)->push_back(
        {toUtf8(unit.path), unit.productId, unit.openFailure, unit.openError});
}

std::string productLabel(std::uint16_t productId) {
    VersionRowTexts rows{};
    composeVersionRows(0, 0, 0, productId, &rows);
    return toUtf8(rows.unitLabel);
}

std::string unopenableSentence(const ListedUnit& unit) {
    switch (unit.openFailure) {
        case HidOpenFailure::AccessDenied: return formatText(ERROR_CANNOT_OPEN_ACCESS, unit.path.c_str());
        case HidOpenFailure::Busy: return formatText(ERROR_CANNOT_OPEN_BUSY, unit.path.c_str());
        default: break;
    }
    return formatText(ERROR_CANNOT_OPEN_OTHER, unit.path.c_str(), unit.openError);
}

int reportUnopenable(const Context& c, bool asUpdateResult, const ListedUnit& unit) {
    return reportError(c.io, c.options.json, asUpdateResult, CLI_EXIT_CANNOT_OPEN, unopenableSentence(unit));
}

bool isWantedPath(const wchar_t* path, void* wanted) { return toUtf8(path) == *static_cast<const std::string*>(wanted); }

// Why a unit was refused before anything was sent to it, for reports the link cannot use; the exit
// code goes to *exitCode.
std::string reportLayoutSentence(const UnitReportLengths& lengths, std::uint32_t lastError, int* exitCode) {
    *exitCode = CLI_EXIT_NOTHING_TO_UPDATE;
    switch (lengths.layout) {
        case ReportLayout::Counted: break;
        case ReportLayout::WithoutReportIds:
            return formatText(ERROR_REPORTS_WITHOUT_IDS, unsigned{REQUEST_REPORT_ID}, unsigned{REPLY_REPORT_ID});
        case ReportLayout::NoUnitCollection:
            return formatText(ERROR_NO_UNIT_COLLECTION, unsigned{UNIT_USAGE_PAGE}, unsigned{REQUEST_REPORT_ID},
                              unsigned{REPLY_REPORT_ID});
        case ReportLayout::Unreadable:
            *exitCode = CLI_EXIT_IDENTIFY_FAILED;
            return formatText(ERROR_REPORTS_UNREADABLE, lastError);
    }
    return formatText(ERROR_REPORTS_TOO_LONG, lengths.outputBytes, lengths.inputBytes, BLOCK_REQUEST_BYTES,
                      REPORT_BUFFER_BYTES, UPDATE_REPLY_BYTES, REPORT_BUFFER_BYTES);
}

// Opens and identifies the unit at --path, or else the first one, as the dialog does. CLI_EXIT_DONE
// with DeviceLink open, or the exit code after the error was reported (the link then closed).
int identifyUnit(const Context& c, bool asUpdateResult) {
    const std::string& wanted = c.options.path;
    const std::int32_t result =
        wanted.empty() ? openDeviceLink(DeviceLink)
                       : openDeviceLinkWhere(DeviceLink, isWantedPath, const_cast<std::string*>(&wanted));
    if (result == RESULT_OK) return CLI_EXIT_DONE;
    const bool unitTaken = DeviceLink.devicePath != nullptr;
    const std::uint32_t lastError = hidPortLastError();
    const UnitReportLengths layout = DeviceLink.reportLayout;
    closeDeviceLink(DeviceLink);
    if (unitTaken && !linkCanUseReports(layout)) {
        int exitCode = CLI_EXIT_IDENTIFY_FAILED;
        const std::string sentence = reportLayoutSentence(layout, lastError, &exitCode);
        return reportError(c.io, c.options.json, asUpdateResult, exitCode, sentence);
    }
    if (unitTaken) {
        return reportError(c.io, c.options.json, asUpdateResult, CLI_EXIT_IDENTIFY_FAILED,
                           formatText(ERROR_IDENTIFY_FAILED, static_cast<unsigned>(result), lastError));
    }
    // No unit could be taken: either there is none, or none can be opened; the listing tells which.
    std::vector<ListedUnit> units;
    if (listProgrammingUnits(collectUnit, &units) < 0) {
        return reportError(c.io, c.options.json, asUpdateResult, CLI_EXIT_NO_UNIT,
                           formatText(ERROR_NO_DEVICE_LIST, hidPortLastError()));
    }
    for (const ListedUnit& unit : units) {
        if (!wanted.empty() && unit.path != wanted) continue;
        if (unit.openFailure != HidOpenFailure::None) return reportUnopenable(c, asUpdateResult, unit);
    }
    if (!wanted.empty()) {
        return reportError(c.io, c.options.json, asUpdateResult, CLI_EXIT_NO_UNIT,
                           formatText(ERROR_NO_UNIT_AT_PATH, wanted.c_str()));
    }
    return reportError(c.io, c.options.json, asUpdateResult, CLI_EXIT_NO_UNIT, ERROR_NO_UNIT);
}

// The paths of the programming units present, from the system's list; none is opened.
bool collectUnitPath(const HidInterfaceInfo& info, void* paths) {
    if (isProgrammingUnit(info.vendorId, info.productId)) {
        static_cast<std::vector<std::string>*>(paths)->push_back(toUtf8(info.path));
    }
    return false;
}

// The listing's exit code: units present and at least one of them openable, or why not.
int listExitCode(const std::vector<ListedUnit>& units) {
    if (units.empty()) return CLI_EXIT_NO_UNIT;
    for (const ListedUnit& unit : units) {
        if (unit.openFailure == HidOpenFailure::None) return CLI_EXIT_DONE;
    }
    return CLI_EXIT_CANNOT_OPEN;
}

// The sentence for a listing that failed: no unit, or why the first one cannot be opened.
std::string listError(const std::vector<ListedUnit>& units) {
    if (units.empty()) return ERROR_NO_UNIT;
    return unopenableSentence(units.front());
}

// ---- Commands
int runList(const Context& c) {
    std::vector<ListedUnit> units;
    if (listProgrammingUnits(collectUnit, &units) < 0) {
        return reportError(c.io, c.options.json, false, CLI_EXIT_NO_UNIT, formatText(ERROR_NO_DEVICE_LIST, hidPortLastError()));
    }
    if (c.options.json) {
        json list = json::array();
        for (const ListedUnit& unit : units) {
            json entry;
            entry["path"] = unit.path;
            entry["product"] = productLabel(unit.productId);
            entry["productId"] = unit.productId;
            entry["openable"] = unit.openFailure == HidOpenFailure::None;
            if (unit.openFailure == HidOpenFailure::None) {
                entry["problem"] = nullptr;
                entry["systemError"] = nullptr;
            } else {
                entry["problem"] = openProblem(unit.openFailure);
                entry["systemError"] = hex32(unit.openError);
            }
            const char* fix = openFix(unit.openFailure);
            entry["fix"] = fix != nullptr ? json(fix) : json(nullptr);
            list.push_back(entry);
        }
        json answer{{"units", list}};
        const int exitCode = listExitCode(units);
        if (exitCode != CLI_EXIT_DONE) {
            answer["error"] = listError(units);
            answer["exitCode"] = exitCode;
        }
        printJsonLine(c.io.out, answer);
    } else {
        if (units.empty()) std::fputs(LIST_NONE, c.io.out);
        for (const ListedUnit& unit : units) {
            std::fprintf(c.io.out, LIST_LINE_FORMAT, productLabel(unit.productId).c_str(), unit.path.c_str(),
                         openProblem(unit.openFailure));
        }
        // Each fix once, after the list.
        const char* shown[2] = {nullptr, nullptr};
        for (const ListedUnit& unit : units) {
            const char* fix = openFix(unit.openFailure);
            if (fix == nullptr || fix == shown[0] || fix == shown[1]) continue;
            (shown[0] == nullptr ? shown[0] : shown[1]) = fix;
            std::fprintf(c.io.out, "\n%s", fix);
        }
    }
    std::fflush(c.io.out);
    const int exitCode = listExitCode(units);
    if (exitCode != CLI_EXIT_DONE) {
        std::fprintf(c.io.err, "%s%s\n", ERROR_PREFIX, listError(units).c_str());
        std::fflush(c.io.err);
    }
    return exitCode;
}

int runInfo(const Context& c) {
    const int identified = identifyUnit(c, false);
    if (identified != CLI_EXIT_DONE) return identified;
    const UnitJudgement judgement = judge(DeviceLink);
    const UnitVerdict verdict = judgement.verdict;
    const IdentifiedTexts texts = identifiedTexts(DeviceLink);
    // The ESC's records are read only from a unit in its application mode with an updatable ESC.
    const bool escKnown = verdict == UnitVerdict::OfferUpdate || verdict == UnitVerdict::Incompatible;
    const ModelRow* row = judgement.model;
    const std::string model = row != nullptr ? toUtf8(row->name) : std::string();
    if (c.options.json) {
        json esc = {{"hardwareId", nullptr}, {"bootloader", nullptr}, {"firmware", nullptr}, {"model", nullptr}};
        if (escKnown) {
            esc["hardwareId"] = hex32(escHardwareId(DeviceLink));
            esc["bootloader"] = texts.bootloader;
            esc["firmware"] = texts.escFirmware;
            if (row != nullptr) esc["model"] = model;
        }
        printJsonLine(c.io.out, json{{"unit", {{"product", texts.product}, {"firmware", texts.unitFirmware}}},
                                     {"esc", esc},
                                     {"verdict", verdictKey(verdict)}});
    } else {
        std::fprintf(c.io.out, INFO_UNIT_FORMAT, texts.product.c_str(), texts.unitFirmware.c_str());
        if (escKnown) {
            std::fprintf(c.io.out, INFO_BOOTLOADER_FORMAT, texts.bootloader.c_str());
            std::fprintf(c.io.out, INFO_FIRMWARE_FORMAT, texts.escFirmware.c_str());
            std::fprintf(c.io.out, INFO_HARDWARE_ID_FORMAT, hex32(escHardwareId(DeviceLink)).c_str());
            std::fprintf(c.io.out, INFO_MODEL_FORMAT, row != nullptr ? model.c_str() : INFO_NO_MODEL);
        }
        std::fprintf(c.io.out, INFO_VERDICT_FORMAT, verdictText(verdict));
        std::fflush(c.io.out);
    }
    closeDeviceLink(DeviceLink);
    return CLI_EXIT_DONE;
}

int refuseVerdict(const Context& c, UnitVerdict verdict) {
    std::string sentence;
    switch (verdict) {
        case UnitVerdict::WrongMode: sentence = ERROR_WRONG_MODE; break;
        case UnitVerdict::NoUpdatableEsc: sentence = ERROR_NO_UPDATABLE_ESC; break;
        case UnitVerdict::Incompatible: sentence = formatText(ERROR_UNSUPPORTED_ESC, escHardwareId(DeviceLink)); break;
        case UnitVerdict::OfferUpdate: break;
    }
    closeDeviceLink(DeviceLink);
    return reportError(c.io, c.options.json, true, CLI_EXIT_NOTHING_TO_UPDATE, sentence);
}

int reportUpdateOutcome(const Context& c, const ModelRow& row) {
    switch (UpdateSession.outcome) {
        case CliUpdateOutcome::Succeeded: {
            if (c.options.json) {
                printJsonLine(c.io.out, json{{"event", "result"},
                                             {"ok", true},
                                             {"model", toUtf8(row.name)},
                                             {"firmware", imageFirmwareText()}});
            } else {
                std::fputs(UPDATE_SUCCEEDED, c.io.out);
                std::fflush(c.io.out);
            }
            return CLI_EXIT_DONE;
        }
        case CliUpdateOutcome::Declined:
            return reportError(c.io, c.options.json, true, CLI_EXIT_DECLINED, ERROR_DECLINED);
        case CliUpdateOutcome::CannotAsk:
            return reportError(c.io, c.options.json, true, CLI_EXIT_DECLINED,
                               formatText(ERROR_CANNOT_ASK, UpdateSession.cannotAskReason));
        case CliUpdateOutcome::IdentifyAgainFailed:
            return reportError(c.io, c.options.json, true, CLI_EXIT_IDENTIFY_FAILED,
                               formatText(ERROR_IDENTIFY_FAILED, static_cast<unsigned>(UpdateSession.failedCode),
                                          UpdateSession.failedLastError));
        case CliUpdateOutcome::EscChanged: {
            const ModelRow* now = UpdateSession.changedTo;
            const std::string model = now != nullptr ? toUtf8(now->name) : std::string(ESC_CHANGED_TO_NONE);
            return reportError(c.io, c.options.json, true, CLI_EXIT_NOTHING_TO_UPDATE,
                               formatText(ERROR_ESC_CHANGED, model.c_str()));
        }
        case CliUpdateOutcome::NotRun:
        case CliUpdateOutcome::Failed: break;
    }
    const std::string sentence = formatText(ERROR_UPDATE_FAILED_FORMAT, stepText(UpdateSession.failedStep),
                                            static_cast<unsigned>(UpdateSession.failedCode), UpdateSession.failedLastError);
    std::fprintf(c.io.err, "%s%s\n", ERROR_PREFIX, sentence.c_str());
    std::fflush(c.io.err);
    if (c.options.json) {
        printJsonLine(c.io.out, json{{"event", "result"},
                                     {"ok", false},
                                     {"step", hex32(UpdateSession.failedStep)},
                                     {"code", hex32(static_cast<std::uint32_t>(UpdateSession.failedCode))},
                                     {"systemError", hex32(UpdateSession.failedLastError)},
                                     {"error", sentence},
                                     {"exitCode", CLI_EXIT_UPDATE_FAILED}});
    }
    return CLI_EXIT_UPDATE_FAILED;
}

// The simulated unit, of --sim or of a test, is the only one a stand-in image may reach unasked.
bool reachesTheSimulatedUnit() { return std::strcmp(hidPortName(), SIM_HID_PORT.name) == 0; }

int runUpdate(const Context& c) {
    // A stand-in image would leave a real ESC without working firmware.
    if (EMBEDDED_IMAGES_ARE_STAND_INS && !c.options.allowStandIn && !reachesTheSimulatedUnit()) {
        return reportError(c.io, c.options.json, true, CLI_EXIT_NOTHING_TO_UPDATE, ERROR_STAND_IN_IMAGES);
    }
    // With several units present the first one the scan meets is nobody's choice.
    std::vector<std::string> paths;
    if (c.options.path.empty() && hidPortListInterfaces(collectUnitPath, &paths) && paths.size() > 1) {
        std::string named;
        for (const std::string& path : paths) named += (named.empty() ? "" : ", ") + path;
        return reportError(c.io, c.options.json, true, CLI_EXIT_USAGE,
                           formatText(ERROR_SEVERAL_UNITS, static_cast<unsigned>(paths.size()), named.c_str()));
    }
    const int identified = identifyUnit(c, true);
    if (identified != CLI_EXIT_DONE) return identified;
    const UnitJudgement judgement = judge(DeviceLink);
    if (judgement.verdict != UnitVerdict::OfferUpdate) return refuseVerdict(c, judgement.verdict);
    if (!canCarryUpdateReports(DeviceLink.inputReportLength, DeviceLink.outputReportLength)) {
        const std::string sentence =
            formatText(ERROR_REPORTS_TOO_SHORT, DeviceLink.outputReportLength, BLOCK_REQUEST_BYTES,
                       DeviceLink.inputReportLength, UPDATE_REPLY_BYTES);
        closeDeviceLink(DeviceLink);
        return reportError(c.io, c.options.json, true, CLI_EXIT_NOTHING_TO_UPDATE, sentence);
    }
    const ModelRow& row = *judgement.model;
    if (!c.options.model.empty()) {
        const ModelRow& asked = MODEL_ROWS[modelIndexFromName(c.options.model)];
        if (&asked != &row) {
            closeDeviceLink(DeviceLink);
            return reportError(c.io, c.options.json, true, CLI_EXIT_NOTHING_TO_UPDATE,
                               formatText(ERROR_OTHER_MODEL, toUtf8(row.name).c_str(), toUtf8(asked.name).c_str()));
        }
    }
    if (!c.options.json) {
        const IdentifiedTexts texts = identifiedTexts(DeviceLink);
        std::fprintf(c.io.out, UPDATE_START_FORMAT, toUtf8(row.name).c_str(), texts.product.c_str(),
                     texts.escFirmware.c_str(),
                     imageFirmwareText().c_str());
        std::fflush(c.io.out);
    }
    startUpdateSession(c.io, c.options.json, c.options.yes, row, escFirmwareVersion(DeviceLink));
    runFirmwareUpdate();
    closeDeviceLink(DeviceLink);
    return reportUpdateOutcome(c, row);
}

int printVersion(const CliIo& io) {
    std::fprintf(io.out, VERSION_FORMAT, QUENLOR_VERSION, imageFirmwareText().c_str());
    std::fputs(EMBEDDED_IMAGES_ARE_STAND_INS ? VERSION_STAND_IN_IMAGES : VERSION_MAKER_IMAGES, io.out);
    for (const ModelRow& row : MODEL_ROWS) {
        const EmbeddedImage* image = embeddedImageFor(row);
        if (image == nullptr) continue;
        char hex[SHA256_HEX_CHARS];
        sha256Hex(image->bytes, image->size, hex);
        std::fprintf(io.out, VERSION_IMAGE_FORMAT, toUtf8(row.name).c_str(), image->size, hex);
    }
    std::fflush(io.out);
    return CLI_EXIT_DONE;
}

int runParsed(const CliIo& io, const CliOptions& options) {
    if (options.showVersion) return printVersion(io);
    if (options.sim) {
        plugInSimulatedUnit(modelIndexFromName(options.simModel));
    } else if (io.port != nullptr) {
        useHidPort(*io.port);
    }
    const Context c{io, options};
#ifdef _WIN32
    // Windows opens a unit shared: even the listing opens each unit for a moment, so while another
    // Quenlor program works with a unit, this one opens none. On Linux the hidapi port locks each
    // unit it opens, and on macOS hidapi opens it exclusively: the unit itself is the guard there.
    // The simulated unit is this program's own.
    if (io.claimInstance && !options.sim && !claimSingleInstance()) {
        return reportError(io, options.json, options.command == CliCommand::Update, CLI_EXIT_CANNOT_OPEN,
                           ERROR_ANOTHER_INSTANCE);
    }
#endif
    switch (options.command) {
        case CliCommand::List: return runList(c);
        case CliCommand::Info: return runInfo(c);
        case CliCommand::Update: return runUpdate(c);
        case CliCommand::None: break;
    }
    return CLI_EXIT_USAGE;
}

}  // namespace

namespace {

bool asksForJson(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--json") return true;
    }
    return false;
}

}  // namespace

const EmbeddedImage* embeddedImageFor(const ModelRow& row) {
    for (std::size_t i = 0; i < EMBEDDED_IMAGE_COUNT; ++i) {
        if (EMBEDDED_IMAGES[i].resourceId == row.imageResourceId) return &EMBEDDED_IMAGES[i];
    }
    return nullptr;
}

int runQuenlor(int argc, const char* const* argv, const CliIo& io) {
    CliOptions options;
    const CliParseResult parsed = parseCliArgs(argc, argv, &options);
    switch (parsed.outcome) {
        case CliParse::Help:
            std::fputs(parsed.text.c_str(), io.out);
            std::fflush(io.out);
            return CLI_EXIT_DONE;
        case CliParse::Usage: {
            // CLI11's texts end without a full stop; ours end with one.
            const bool stopped = !parsed.text.empty() && parsed.text.back() == '.';
            const std::string sentence = parsed.text + (stopped ? "" : ".");
            std::fprintf(io.err, "%s%s%s\n", ERROR_PREFIX, sentence.c_str(), USAGE_HINT);
            std::fflush(io.err);
            // A script that asked for JSON reads the refusal as JSON too, though the line could not
            // be read whole.
            if (asksForJson(argc, argv)) printJsonLine(io.out, {{"error", sentence}, {"exitCode", CLI_EXIT_USAGE}});
            return CLI_EXIT_USAGE;
        }
        case CliParse::Run: break;
    }
    return runParsed(io, options);
}

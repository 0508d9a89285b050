// The page's core in its worker: the unit's presence as the dialog handles it (the verdict, the
// status texts, the version rows, the update button) and the page's side of the update seam. It
// writes nothing itself: every text goes to the window as a message (Module.post, worker.js), every
// question is a box the window shows and answers. One call into the core runs at a time.
#include "device/device_link.h"
#include "device/hid_port.h"
#include "device/precise_wait.h"
#include "device/udev_hint.h"
#include "frontend/failure_text.h"
#include "frontend/presence_messages.h"
#include "frontend/unit_presence.h"
#include "frontend/unit_verdict.h"
#include "frontend/version_texts.h"
#include "model/compatibility.h"
#include "model/model_table.h"
#include "sim/sim_hid_port.h"
#include "update/firmware_update.h"
#include "update/update_frontend.h"
#include "update/update_logic.h"
#include "update/update_messages.h"
#include "web/hid_port_web.h"
#include "web/linux_errno.h"
#include "web/web_catalogue.h"
#include "web/web_images.h"

#include <emscripten.h>

#include <clocale>
#include <cwchar>

namespace {

// The row of the ESC that was last judged ready; its image is the one the update sends.
const ModelRow* ChosenModel = nullptr;

EM_JS(void, postText, (const char* kind, const wchar_t* text),
      { Module.post({type: UTF8ToString(kind), text: Module.wideText(text)}); });
EM_JS(void, postVersions, (int linked, const wchar_t* unitName, const wchar_t* unitVersion, const wchar_t* bootloader,
                           const wchar_t* firmware, const wchar_t* model), {
    Module.post({type: 'versions', linked: linked !== 0, unitName: unitName ? Module.wideText(unitName) : null,
                 unitVersion: Module.wideText(unitVersion), bootloaderVersion: Module.wideText(bootloader),
                 firmwareVersion: Module.wideText(firmware), model: Module.wideText(model)});
});
EM_JS(void, postUpdateEnabled, (int enabled), { Module.post({type: 'updateEnabled', enabled: enabled !== 0}); });
EM_JS(void, postProgress, (const char* state, int value, int max),
      { Module.post({type: 'progress', state: UTF8ToString(state), value: value, max: max}); });
EM_JS(void, postAwake, (int on), { Module.post({type: 'awake', on: on !== 0}); });
// The system refused to open the unit; on Linux the udev rule is missing, and the hint says how to
// install it, as quenlor list does.
EM_JS(void, postOpenRefused, (const char* udevHint), { Module.post({type: 'openRefused', udevHint: UTF8ToString(udevHint)}); });
// The unit was refused for its reports before anything was sent to it; the window says why, with the
// lengths it has and the ones the update needs. layout: tooLong, withoutIds, noUnitCollection or
// unreadable.
EM_JS(void, postReportsRefused, (const char* layout, unsigned inputBytes, unsigned outputBytes, unsigned outputMin,
                                 unsigned inputMin, unsigned maxBytes, int requestId, int replyId, int usagePage), {
    Module.post({type: 'reportsRefused', layout: UTF8ToString(layout), inputBytes: inputBytes >>> 0,
                 outputBytes: outputBytes >>> 0, outputMin, inputMin, maxBytes, requestId, replyId, usagePage});
});
EM_JS(void, postLabels, (const wchar_t* unitRow, const wchar_t* bootloaderRow, const wchar_t* escRow), {
    Module.post({type: 'labels', unitRow: Module.wideText(unitRow), bootloaderRow: Module.wideText(bootloaderRow),
                 escRow: Module.wideText(escRow)});
});
// A box with the caption and a text (or one of the page's own sentences, by key); buttons "ok",
// "okcancel" or "yesno". 1 for ok or yes.
EM_ASYNC_JS(int, askInPage, (const char* buttons, const wchar_t* caption, const wchar_t* text, const char* sentence), {
    return await Module.ask(UTF8ToString(buttons), Module.wideText(caption), text ? Module.wideText(text) : null,
                            sentence ? UTF8ToString(sentence) : null);
});

// ---- Presence, as the dialog shows it

void setStatus(const wchar_t* text) { postText("status", text); }

void showCauseWithSteps(unsigned causeMessage) {
    wchar_t text[TEXT_BUFFER_CHARS];
    std::swprintf(text, TEXT_BUFFER_CHARS, L"%ls\r\n\r\n%ls", catalogueText(causeMessage),
                  catalogueText(MSG_CONNECTION_STEPS));
    setStatus(text);
}

void refreshVersions() {
    if (!isDeviceLinkOpen(DeviceLink)) {
        // The first row keeps the name of the unit that was last shown.
        postVersions(0, nullptr, NO_LINK_VERSION_TEXT, NO_LINK_VERSION_TEXT, NO_LINK_VERSION_TEXT, L"");
        return;
    }
    VersionRowTexts rows;
    composeVersionRows(DeviceLink.unitFirmwareVersion, escBootloaderVersion(DeviceLink), escFirmwareVersion(DeviceLink),
                       DeviceLink.productId, &rows);
    postVersions(1, rows.unitLabel, rows.unitVersion, rows.bootloaderVersion, rows.escFirmwareVersion,
                 ChosenModel != nullptr ? ChosenModel->name : L"");
}

void refuse(unsigned causeMessage) {
    ChosenModel = nullptr;
    postUpdateEnabled(0);
    closeDeviceLink(DeviceLink);
    showCauseWithSteps(causeMessage);
    refreshVersions();
}

void refuseEscOfNoModel() {
    ChosenModel = nullptr;
    postUpdateEnabled(0);
    closeDeviceLink(DeviceLink);
    askInPage("ok", catalogueText(MSG_INCOMPATIBLE_CAPTION), nullptr, "noModel");
    showCauseWithSteps(MSG_INCOMPATIBLE_STATUS);
    refreshVersions();
}

const char* layoutKey(const UnitReportLengths& lengths) {
    switch (lengths.layout) {
        case ReportLayout::Counted: break;
        case ReportLayout::Unreadable: return "unreadable";
        case ReportLayout::NoUnitCollection: return "noUnitCollection";
        case ReportLayout::WithoutReportIds: return "withoutIds";
    }
    return "tooLong";
}

// By value: closing the link clears the record it comes from.
void refuseReports(const UnitReportLengths lengths) {
    ChosenModel = nullptr;
    postUpdateEnabled(0);
    closeDeviceLink(DeviceLink);
    refreshVersions();
    postReportsRefused(layoutKey(lengths), lengths.inputBytes, lengths.outputBytes, BLOCK_REQUEST_BYTES,
                       UPDATE_REPLY_BYTES, REPORT_BUFFER_BYTES, REQUEST_REPORT_ID, REPLY_REPORT_ID, UNIT_USAGE_PAGE);
}

void offerUpdate(const ModelRow* model) {
    ChosenModel = model;
    setStatus(catalogueText(MSG_UNIT_READY));
    postUpdateEnabled(1);
    refreshVersions();
}

void showConnectionLost() {
    ChosenModel = nullptr;
    closeDeviceLink(DeviceLink);
    postUpdateEnabled(0);
    refreshVersions();
    showCauseWithSteps(MSG_CONNECTION_LOST);
}

}  // namespace

// ---- The update seam

bool frontendAsk(UpdateQuestion question) {
    const bool isWarning = question == UpdateQuestion::Warning;
    return askInPage(isWarning ? "okcancel" : "yesno",
                     catalogueText(isWarning ? MSG_UPDATE_WARNING_CAPTION : MSG_NEWER_FIRMWARE_CAPTION),
                     catalogueText(isWarning ? MSG_UPDATE_WARNING : MSG_OLDER_FIRMWARE_QUESTION), nullptr) == 1;
}

std::uint64_t frontendClockUs() { return monotonicNowUs(); }
void frontendWaitUntil(std::uint64_t deadlineUs) { waitUntilUs(deadlineUs, nullptr); }

void frontendProgressStart(std::uint32_t imageBytes) { postProgress("start", 0, static_cast<int>(imageBytes)); }
void frontendProgressPosition(std::uint32_t, std::uint32_t bytesSent, std::uint32_t imageBytes) {
    postProgress("position", static_cast<int>(bytesSent), static_cast<int>(imageBytes));
}
// The page's progress is part of it; there is nothing to bring forward.
bool frontendProgressRaise() { return true; }
void frontendProgressEnd() { postProgress("end", 0, 0); }

void frontendReportFailure(unsigned stepMessage, std::int32_t code, std::uint32_t lastError) {
    ChosenModel = nullptr;
    postUpdateEnabled(0);
    refreshVersions();
    wchar_t boxText[TEXT_BUFFER_CHARS];
    composeFailureText(boxText, TEXT_BUFFER_CHARS, catalogueText(stepMessage), catalogueText(MSG_ERROR_CODE_LINE), code,
                       lastError);
    askInPage("ok", catalogueText(MSG_UPDATE_FAILED_CAPTION), boxText, nullptr);
    setStatus(catalogueText(MSG_UPDATE_FAILED_STATUS));
}

void frontendReportSuccess() {
    postUpdateEnabled(0);
    refreshVersions();
    setStatus(catalogueText(MSG_UPDATE_SUCCEEDED));
}

std::uint32_t frontendLastError() { return linuxErrnoOf(hidPortLastError()); }
void frontendKeepSystemAwake(bool on) { postAwake(on ? 1 : 0); }
// A page cannot hold off the end of the system's session. What it can do it does while the update
// runs at all: the browser asks before the page is closed or reloaded (page.js, 'busy').
void frontendHoldSessionEnd(bool) {}

bool loadFirmwareImage(FirmwareImage* image) {
    if (ChosenModel == nullptr) return false;
    for (unsigned i = 0; i < WEB_IMAGE_COUNT; ++i) {
        if (WEB_IMAGES[i].resourceId == ChosenModel->imageResourceId && WEB_IMAGES[i].size == ChosenModel->imageBytes) {
            *image = {WEB_IMAGES[i].bytes, WEB_IMAGES[i].size};
            return true;
        }
    }
    return false;
}

// ---- What the window calls (worker.js queues the calls, one at a time)

extern "C" {

// german: the page's language; simModelIdByte: 0 for WebHID, else the simulated unit of ?sim=,
// a compatible ESC of that model with firmware 1.5 on a VexoBOX, in real time.
EMSCRIPTEN_KEEPALIVE void quenlorStart(int german, int simModelIdByte) {
    // The wide formatting goes through multibyte text; in the C locale every letter beyond ASCII
    // (the German catalogue's umlauts) would end the text there.
    std::setlocale(LC_ALL, "C.UTF-8");
    useGermanCatalogue(german != 0);
    resetDeviceLink(DeviceLink);
    postLabels(catalogueText(MSG_UNIT_ROW_LABEL), catalogueText(MSG_BOOTLOADER_ROW_LABEL), catalogueText(MSG_ESC_ROW_LABEL));
    if (simModelIdByte != 0) {
        simBusReset();
        simBusUseRealTime(true);
        SimConfig config;
        config.escFirmwareVersion = 0x0105;
        config.escHardwareId = HARDWARE_ID_FAMILY_A | static_cast<std::uint8_t>(simModelIdByte);
        simBusAdd(config);
    } else {
        useHidPort(WEB_HID_PORT);
    }
}

// startUp 1: the page has just loaded (or the person chose a unit); 0: a unit arrived.
EMSCRIPTEN_KEEPALIVE void quenlorEvaluate(int startUp) {
    if (!evaluatesArrival(isDeviceLinkOpen(DeviceLink), isFirmwareUpdateUsingTheLink())) return;
    const bool opened = openDeviceLink(DeviceLink) == RESULT_OK;
    if (!opened && DeviceLink.devicePath != nullptr && !linkCanUseReports(DeviceLink.reportLayout)) {
        refuseReports(DeviceLink.reportLayout);
        return;
    }
    if (!opened && webLastOpenFailure() == HidOpenFailure::AccessDenied) postOpenRefused(UDEV_INSTALL_HINT);
    const UnitJudgement judgement =
        opened ? judgeAttachedUnitForAnyModel(DeviceLink.unitMode, DeviceLink.attachedType, escHardwareId(DeviceLink))
               : UnitJudgement{UnitVerdict::NoUpdatableEsc, nullptr};
    const EvaluationDecision decision =
        decideEvaluation(startUp != 0 ? EvaluationOrigin::StartUp : EvaluationOrigin::Arrival, opened, judgement.verdict);
    switch (decision.answer) {
        case EvaluationAnswer::OfferUpdate: offerUpdate(judgement.model); return;
        case EvaluationAnswer::RefuseIncompatible: refuseEscOfNoModel(); return;
        case EvaluationAnswer::Refuse: refuse(decision.refusalMessage); return;
        case EvaluationAnswer::LeaveAsItWas: closeDeviceLink(DeviceLink); return;
    }
}

// The window saw the open unit go away. Calls into the core run one at a time, so this never runs
// inside the update: a removal during it waits for its end, and finds the link closed by a failed
// step, or still open after a success whose last commands went unanswered.
EMSCRIPTEN_KEEPALIVE void quenlorRemoved() {
    // The window names only the open unit's removals.
    if (answerRemoval(isDeviceLinkOpen(DeviceLink), true, isFirmwareUpdateSending()) == RemovalAnswer::ConnectionLost) {
        showConnectionLost();
    }
}

EMSCRIPTEN_KEEPALIVE void quenlorUpdate() {
    if (isFirmwareUpdateRunning() || ChosenModel == nullptr) return;
    runFirmwareUpdate();
}

// The report lengths of a WebHID device's unit collection, from its collections in the compact form
// of device/hid_report_descriptor.h (compactCollections in page_hid.js), for a script that judges
// a device before the core opens it; callable with ccall and an 'array' argument. which 0: the
// ReportLayout (0 counted, 1 unreadable, 2 no unit collection, 3 without report IDs); 1: the input
// length; 2: the output length (0 unless counted; unsigned, read it with >>> 0).
EMSCRIPTEN_KEEPALIVE std::uint32_t quenlorReportLengths(const std::uint8_t* compact, int size, int which) {
    const UnitReportLengths counted =
        size < 0 ? UnitReportLengths{ReportLayout::Unreadable, 0, 0}
                 : unitReportLengthsFromCollections(compact, static_cast<std::size_t>(size));
    switch (which) {
        case 0: return static_cast<std::uint32_t>(counted.layout);
        case 1: return counted.inputBytes;
        default: return counted.outputBytes;
    }
}

EMSCRIPTEN_KEEPALIVE int quenlorImagesAreStandIns() { return WEB_IMAGES_ARE_STAND_INS ? 1 : 0; }

}  // extern "C"

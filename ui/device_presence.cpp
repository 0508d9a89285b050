#include "ui/device_presence.h"

#include "device/device_link.h"
#include "frontend/unit_presence.h"
#include "model/model_config.h"
#include "ui/app_globals.h"
#include "ui/main_dialog.h"
#include "ui/messages.h"
#include "ui/res/resource_ids.h"
#include "ui/ui_logic.h"
#include "ui/version_display.h"
#include "update/firmware_update.h"

// MinGW's HID header declares C functions without saying so.
extern "C" {
#include <hidsdi.h>
}

#include <cstddef>

HDEVNOTIFY DeviceNotification = nullptr;

namespace {

// Counts the outcomes shown in the dialog. The incompatible-ESC box runs a message loop in which
// a unit that arrives is judged at once; the evaluation that opened the box sees from this count
// that a newer outcome stands and leaves it in place.
unsigned OutcomesShown = 0;

// The open unit went away while the update was sending commands. The link stays open under the
// update, whose next command then fails as the device's own failure; if the update ends without
// closing the link, the removal is handled then.
bool RemovalNotedDuringUpdate = false;

void enableUpdateButton(BOOL enable) { EnableWindow(GetDlgItem(MainDialog, IDC_UPDATE_BUTTON), enable); }

// The cause, an empty line, then the steps that lead to an update.
void showCauseWithSteps(unsigned causeMessage) {
    wchar_t text[TEXT_BUFFER_CHARS];
    loadMessage(causeMessage, text);
    appendText(text, TEXT_BUFFER_CHARS, L"\r\n\r\n");
    setStatusText(text, false);
    loadMessage(MSG_CONNECTION_STEPS, text);
    setStatusText(text, true);
}

// The link is closed before any text is written, so that a refused unit is never left open.
void refuse(unsigned causeMessage) {
    ++OutcomesShown;
    enableUpdateButton(FALSE);
    closeDeviceLink(DeviceLink);
    showCauseWithSteps(causeMessage);
    refreshVersionDisplay();
}

void refuseIncompatibleEsc() {
    const unsigned outcome = ++OutcomesShown;
    enableUpdateButton(FALSE);
    closeDeviceLink(DeviceLink);

    wchar_t text[TEXT_BUFFER_CHARS];
    wchar_t captionOrFormat[TEXT_BUFFER_CHARS];
    loadMessage(MSG_INCOMPATIBLE_ESC, captionOrFormat);
    formatWithText(captionOrFormat, MODEL_NAME, text, TEXT_BUFFER_CHARS);
    loadMessage(MSG_INCOMPATIBLE_CAPTION, captionOrFormat);
    MessageBoxW(MainDialog, text, captionOrFormat, MB_OK | MB_ICONINFORMATION);

    if (OutcomesShown != outcome) return;
    showCauseWithSteps(MSG_INCOMPATIBLE_STATUS);
    refreshVersionDisplay();
}

void offerUpdate() {
    ++OutcomesShown;
    wchar_t text[TEXT_BUFFER_CHARS];
    loadMessage(MSG_UNIT_READY, text);
    setStatusText(text, false);
    enableUpdateButton(TRUE);
    refreshVersionDisplay();
}

void evaluateAttachedUnit(EvaluationOrigin origin) {
    RemovalNotedDuringUpdate = false;  // whatever it concerned is closed by the open that follows
    const bool opened = openDeviceLink(DeviceLink) == RESULT_OK;
    const UnitVerdict verdict =
        opened ? judgeAttachedUnit(DeviceLink.unitMode, DeviceLink.attachedType, escHardwareId(DeviceLink), MODEL_ID_BYTE)
               : UnitVerdict::NoUpdatableEsc;
    const EvaluationDecision decision = decideEvaluation(origin, opened, verdict);
    switch (decision.answer) {
        case EvaluationAnswer::OfferUpdate: offerUpdate(); return;
        case EvaluationAnswer::RefuseIncompatible: refuseIncompatibleEsc(); return;
        case EvaluationAnswer::Refuse: refuse(decision.refusalMessage); return;
        case EvaluationAnswer::LeaveAsItWas: closeDeviceLink(DeviceLink); return;
    }
}

// The record's size bounds how far its name may be read.
bool namesOpenUnit(const DEV_BROADCAST_HDR* header) {
    constexpr std::size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    if (header->dbch_size <= nameOffset) return false;
    const auto* notice = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
    return isSameDevicePath(DeviceLink.devicePath, notice->dbcc_name, (header->dbch_size - nameOffset) / sizeof(wchar_t));
}

void showConnectionLost() {
    ++OutcomesShown;
    closeDeviceLink(DeviceLink);
    enableUpdateButton(FALSE);
    refreshVersionDisplay();
    showCauseWithSteps(MSG_CONNECTION_LOST);
}

}  // namespace

void startDevicePresence() {
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    HidD_GetHidGuid(&filter.dbcc_classguid);
    DeviceNotification = RegisterDeviceNotificationW(MainDialog, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (DeviceNotification == nullptr) {
        wchar_t caption[TEXT_BUFFER_CHARS];
        wchar_t text[TEXT_BUFFER_CHARS];
        loadMessage(MSG_APPLICATION_ERROR_CAPTION, caption);
        loadMessage(MSG_NOTIFICATION_FAILED, text);
        MessageBoxW(MainDialog, text, caption, MB_OK | MB_ICONERROR);
        closeDown();
        EndDialog(MainDialog, 1);
        return;
    }
    evaluateAttachedUnit(EvaluationOrigin::StartUp);
}

bool onDeviceChange(WPARAM event, LPARAM lParam) {
    if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return false;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return true;

    if (event == DBT_DEVICEARRIVAL) {
        if (evaluatesArrival(isDeviceLinkOpen(DeviceLink), isFirmwareUpdateUsingTheLink())) {
            evaluateAttachedUnit(EvaluationOrigin::Arrival);
        }
        return true;
    }
    // The path is read only while a link is open.
    const bool linkOpen = isDeviceLinkOpen(DeviceLink);
    switch (answerRemoval(linkOpen, linkOpen && namesOpenUnit(header), isFirmwareUpdateSending())) {
        case RemovalAnswer::Ignore: break;
        case RemovalAnswer::NoteUntilUpdateEnds: RemovalNotedDuringUpdate = true; break;
        case RemovalAnswer::ConnectionLost: showConnectionLost(); break;
    }
    return true;
}

void handleRemovalNotedDuringUpdate() {
    if (RemovalNotedDuringUpdate && isDeviceLinkOpen(DeviceLink)) showConnectionLost();
    RemovalNotedDuringUpdate = false;
}

// The dialog's side of the update: message boxes for the questions and the failure, the progress
// window over the main dialog, the status area and the version rows for the outcome, and waits in
// which the program stays responsive.
//
// The update holds the dialog's thread for about 46 seconds. During its own waits (never inside a
// device command) windows paint and device notifications are handled as they arrive, while clicks
// and keys are dropped, so that nothing the user does can end or repeat the update half-way.
// Messages sent by other programs are answered in those waits too; among them the system's question
// before a log-off, restart or shut-down, which the dialog refuses while the unit writes the ESC.
#include "device/precise_wait.h"
#include "frontend/failure_text.h"
#include "model/model_config.h"
#include "ui/app_globals.h"
#include "ui/main_dialog.h"
#include "ui/messages.h"
#include "ui/res/resource_ids.h"
#include "ui/version_display.h"
#include "update/firmware_update.h"
#include "update/update_frontend.h"
#include "update/update_logic.h"

#include <windows.h>
#include <commctrl.h>

namespace {

HWND ProgressWindow = nullptr;
WNDPROC ProgressBarWindowProc = nullptr;
bool SessionEndHeld = false;

bool isUserInput(UINT message) {
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) || (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) ||
           (message >= WM_NCMOUSEMOVE && message <= WM_NCXBUTTONDBLCLK);
}

// Handles what arrived during a wait of the update. Keys and clicks are dropped: they would
// otherwise reach the dialog during the update or, queued, right after it.
void handleMessagesDuringUpdate() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));  // for the dialog's own loop, later
            return;
        }
        if (isUserInput(message.message)) continue;
        DispatchMessageW(&message);
    }
}

// The progress window has no close box; a close request that reaches it anyway is refused, so the
// transfer can only end by itself. It is a top-level window too, asked before the session ends.
LRESULT CALLBACK progressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE || (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE)) return 0;
    if (message == WM_QUERYENDSESSION && SessionEndHeld) return FALSE;
    return CallWindowProcW(ProgressBarWindowProc, window, message, wParam, lParam);
}

void raiseDialogAndProgress() {
    SetWindowPos(MainDialog, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
    SetWindowPos(ProgressWindow, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
}

void setProgress(std::uint32_t position) { SendMessageW(ProgressWindow, PBM_SETPOS, position, 0); }

HWND createProgressWindow() {
    RECT dialog;
    GetWindowRect(MainDialog, &dialog);
    const WindowOrigin origin = progressWindowOrigin(dialog.left, dialog.top, dialog.right, dialog.bottom);
    wchar_t title[TEXT_BUFFER_CHARS];
    loadMessage(MSG_PROGRESS_TITLE, title);
    HWND progress = CreateWindowExW(0, PROGRESS_CLASSW, title, WS_VISIBLE | PBS_SMOOTH, origin.x, origin.y,
                                    PROGRESS_WINDOW_WIDTH, PROGRESS_WINDOW_HEIGHT, MainDialog, nullptr, AppInstance,
                                    nullptr);
    if (progress != nullptr) {
        ProgressBarWindowProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(progress, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(progressWindowProc)));
    }
    return progress;
}

void disableUpdateButton() { EnableWindow(GetDlgItem(MainDialog, IDC_UPDATE_BUTTON), FALSE); }

void showStatus(unsigned message) {
    wchar_t status[TEXT_BUFFER_CHARS];
    loadMessage(message, status);
    setStatusText(status, false);
}

}  // namespace

// The image stays in the module's resources and is sent from there in place. Stored under one
// language only, it is found whatever the user's language, since the lookup names none.
bool loadFirmwareImage(FirmwareImage* image) {
    HRSRC resource = FindResourceW(AppInstance, MAKEINTRESOURCEW(IMAGE_RESOURCE_ID), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    if (resource == nullptr) return false;
    HGLOBAL loaded = LoadResource(AppInstance, resource);
    const DWORD size = SizeofResource(AppInstance, resource);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr) return false;
    *image = {static_cast<const std::uint8_t*>(bytes), size};
    return true;
}

bool frontendAsk(UpdateQuestion question) {
    const bool isWarning = question == UpdateQuestion::Warning;
    wchar_t caption[TEXT_BUFFER_CHARS];
    wchar_t text[TEXT_BUFFER_CHARS];
    loadMessage(isWarning ? MSG_UPDATE_WARNING_CAPTION : MSG_NEWER_FIRMWARE_CAPTION, caption);
    loadMessage(isWarning ? MSG_UPDATE_WARNING : MSG_OLDER_FIRMWARE_QUESTION, text);
    const UINT buttonsAndIcon = (isWarning ? MB_OKCANCEL : MB_YESNO) | MB_ICONEXCLAMATION;
    return MessageBoxW(MainDialog, text, caption, buttonsAndIcon) == (isWarning ? IDOK : IDYES);
}

std::uint64_t frontendClockUs() { return monotonicNowUs(); }

void frontendWaitUntil(std::uint64_t deadlineUs) { waitUntilUs(deadlineUs, handleMessagesDuringUpdate); }

void frontendProgressStart(std::uint32_t) {
    ProgressWindow = createProgressWindow();
    setProgress(0);
    raiseDialogAndProgress();
}

void frontendProgressPosition(std::uint32_t position, std::uint32_t, std::uint32_t) { setProgress(position); }

bool frontendProgressRaise() {
    // Only while the person is looking at this program; another program in front is left there.
    HWND foreground = GetForegroundWindow();
    if (ProgressWindow == nullptr || (foreground != MainDialog && foreground != ProgressWindow)) return false;
    raiseDialogAndProgress();
    ShowWindow(MainDialog, SW_SHOW);
    ShowWindow(ProgressWindow, SW_SHOW);
    return true;
}

void frontendProgressEnd() {
    DestroyWindow(ProgressWindow);
    ProgressWindow = nullptr;
}

void frontendReportFailure(unsigned stepMessage, std::int32_t code, std::uint32_t lastError) {
    disableUpdateButton();
    refreshVersionDisplay();

    wchar_t caption[TEXT_BUFFER_CHARS];
    wchar_t stepText[TEXT_BUFFER_CHARS];
    wchar_t errorLineFormat[TEXT_BUFFER_CHARS];
    wchar_t boxText[TEXT_BUFFER_CHARS];
    loadMessage(MSG_UPDATE_FAILED_CAPTION, caption);
    loadMessage(stepMessage, stepText);
    loadMessage(MSG_ERROR_CODE_LINE, errorLineFormat);
    composeFailureText(boxText, TEXT_BUFFER_CHARS, stepText, errorLineFormat, code, lastError);
    MessageBoxW(MainDialog, boxText, caption, MB_OK | MB_ICONERROR);

    showStatus(MSG_UPDATE_FAILED_STATUS);
    // Whatever the user did meanwhile is dropped while the update still counts as running.
    handleMessagesDuringUpdate();
}

void frontendReportSuccess() {
    disableUpdateButton();
    refreshVersionDisplay();
    showStatus(MSG_UPDATE_SUCCEEDED);
    handleMessagesDuringUpdate();
}

std::uint32_t frontendLastError() { return GetLastError(); }

void frontendKeepSystemAwake(bool on) {
    SetThreadExecutionState(on ? (ES_CONTINUOUS | ES_SYSTEM_REQUIRED) : ES_CONTINUOUS);
}

// The reason is the warning the person confirmed, in their language; Windows shows it beside the
// program on its "programs are still running" screen.
void frontendHoldSessionEnd(bool on) {
    if (on) {
        wchar_t reason[TEXT_BUFFER_CHARS];
        loadMessage(MSG_UPDATE_WARNING, reason);
        ShutdownBlockReasonCreate(MainDialog, reason);
    } else {
        ShutdownBlockReasonDestroy(MainDialog);
    }
    SessionEndHeld = on;
}

bool isSessionEndHeld() { return SessionEndHeld; }

// The firmware update: the confirmations, the fixed command sequence that prepares the ESC, the
// block-wise transfer of the build's image under a progress window, and the report of the outcome.
//
// The update holds the dialog's thread for about 46 seconds. It keeps the program responsive
// during its own waits (never inside a device command): windows paint and device notifications
// are handled as they arrive, while clicks and keys are dropped, so that nothing the user does can
// end or repeat the update half-way.
#include "update/firmware_update.h"

#include "device/device_link.h"
#include "device/precise_wait.h"
#include "model/model_config.h"
#include "ui/app_globals.h"
#include "ui/messages.h"
#include "ui/res/resource_ids.h"
#include "ui/version_display.h"
#include "update/update_logic.h"

#include <windows.h>
#include <commctrl.h>

namespace {

bool UpdateRunning = false;
WNDPROC ProgressBarWindowProc = nullptr;

// An image the build cannot supply shows this code in the error box instead of a command result.
constexpr std::int32_t IMAGE_MISSING_CODE = ERROR_RESOURCE_DATA_NOT_FOUND;

struct FirmwareImage {
    const std::uint8_t* bytes;
    std::uint32_t size;
};

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

void pauseResponsively(std::uint32_t ms) { waitAtLeast(ms, handleMessagesDuringUpdate); }

// The progress window has no close box; a close request that reaches it anyway is refused, so the
// transfer can only end by itself.
LRESULT CALLBACK progressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE || (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE)) return 0;
    return CallWindowProcW(ProgressBarWindowProc, window, message, wParam, lParam);
}

void raiseDialogAndProgress(HWND progress) {
    SetWindowPos(MainDialog, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
    SetWindowPos(progress, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
}

void setProgress(HWND progress, std::uint32_t position) { SendMessageW(progress, PBM_SETPOS, position, 0); }

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

}  // namespace

bool isFirmwareUpdateRunning() { return UpdateRunning; }

// The image stays in the module's resources and is sent from there in place. Stored under one
// language only, it is found whatever the user's language, since the lookup names none.
bool loadFirmwareImage(FirmwareImage* image) {
    HRSRC resource = FindResourceW(AppInstance, MAKEINTRESOURCEW(IMAGE_RESOURCE_ID), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    if (resource == nullptr) return false;
    HGLOBAL loaded = LoadResource(AppInstance, resource);
    const DWORD size = SizeofResource(AppInstance, resource);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes == nullptr || !isSendableImageSize(size)) return false;
    *image = {static_cast<const std::uint8_t*>(bytes), size};
    return true;
}

std::int32_t transferImage(const std::uint8_t* image, std::uint32_t imageBytes, DWORD* lastError) {
    HWND progress = createProgressWindow();
    setProgress(progress, 0);
    raiseDialogAndProgress(progress);

    std::uint8_t tailBuffer[BLOCK_BYTES];
    std::uint32_t remaining = imageBytes;
    const std::uint8_t* cursor = image;
    HWND raisedWindow = nullptr;
    while (remaining != 0) {
        const TransferBlock block = nextTransferBlock(cursor, remaining, tailBuffer);
        const std::int32_t result = writeDataBlock(DeviceLink, block.data, block.wordCount);
        if (result != RESULT_OK) {
            *lastError = GetLastError();
            DestroyWindow(progress);
            return result;
        }
        cursor += block.imageBytes;
        remaining -= block.imageBytes;
        setProgress(progress, progressPosition(imageBytes, remaining));

        // Bring the windows forward once, and only while the user is looking at this program.
        if (raisedWindow != MainDialog && raisedWindow != progress) {
            HWND foreground = GetForegroundWindow();
            if (foreground == MainDialog || foreground == progress) {
                raisedWindow = foreground;
                raiseDialogAndProgress(progress);
                ShowWindow(MainDialog, SW_SHOW);
                ShowWindow(progress, SW_SHOW);
            }
        }
        pauseResponsively(STEP_PAUSE_MS);
    }
    DestroyWindow(progress);
    return RESULT_OK;
}

void reportUpdateFailure(const wchar_t* text, const wchar_t* caption, std::int32_t code, DWORD lastError) {
    closeDeviceLink(DeviceLink);
    EnableWindow(GetDlgItem(MainDialog, IDC_UPDATE_BUTTON), FALSE);
    refreshVersionDisplay();

    wchar_t errorLineFormat[TEXT_BUFFER_CHARS];
    loadMessage(MSG_ERROR_CODE_LINE, errorLineFormat);
    wchar_t boxText[TEXT_BUFFER_CHARS];
    composeFailureText(boxText, TEXT_BUFFER_CHARS, text, errorLineFormat, code, lastError);
    MessageBoxW(MainDialog, boxText, caption, MB_OK | MB_ICONERROR);

    wchar_t status[TEXT_BUFFER_CHARS];
    loadMessage(MSG_UPDATE_FAILED_STATUS, status);
    setStatusText(status, false);
}

namespace {

// The last error belongs to the failed step: it is taken before anything else is called.
void failUpdate(unsigned textId, std::int32_t result, DWORD lastError) {
    wchar_t caption[TEXT_BUFFER_CHARS];
    wchar_t text[TEXT_BUFFER_CHARS];
    loadMessage(MSG_UPDATE_FAILED_CAPTION, caption);
    loadMessage(textId, text);
    reportUpdateFailure(text, caption, result, lastError);
}

bool userConfirms(unsigned textId, unsigned captionId, UINT buttonsAndIcon, int confirmingAnswer) {
    wchar_t caption[TEXT_BUFFER_CHARS];
    wchar_t text[TEXT_BUFFER_CHARS];
    loadMessage(captionId, caption);
    loadMessage(textId, text);
    return MessageBoxW(MainDialog, text, caption, buttonsAndIcon) == confirmingAnswer;
}

void runUpdateSteps() {
    if (!isDeviceLinkOpen(DeviceLink)) {
        failUpdate(MSG_UNIT_NOT_DETECTED, RESULT_NO_LINK, GetLastError());
        return;
    }
    if (!userConfirms(MSG_UPDATE_WARNING, MSG_UPDATE_WARNING_CAPTION, MB_OKCANCEL | MB_ICONEXCLAMATION, IDOK)) return;
    if (isVersionQuestionNeeded(escFirmwareVersion(DeviceLink)) &&
        !userConfirms(MSG_OLDER_FIRMWARE_QUESTION, MSG_NEWER_FIRMWARE_CAPTION, MB_YESNO | MB_ICONEXCLAMATION, IDYES)) {
        return;
    }

    FirmwareImage image;
    if (!loadFirmwareImage(&image)) {
        failUpdate(MSG_BLOCK_WRITE_FAILED, IMAGE_MISSING_CODE, GetLastError());
        return;
    }

    std::int32_t result = setSystemLock(DeviceLink, 1);
    if (result != RESULT_OK) return failUpdate(MSG_SYSTEM_LOCK_FAILED, result, GetLastError());

    pauseResponsively(STEP_PAUSE_MS);
    result = setWriteProtection(DeviceLink, 0);
    if (result != RESULT_OK) return failUpdate(MSG_WRITE_PROTECTION_FAILED, result, GetLastError());

    pauseResponsively(STEP_PAUSE_MS);
    result = eraseFirmware(DeviceLink);
    // The ESC needs this time after an erase whatever its outcome, before anything else is sent.
    pauseResponsively(ERASE_SETTLE_MS);
    if (result != RESULT_OK) return failUpdate(MSG_ERASE_FAILED, result, GetLastError());

    pauseResponsively(STEP_PAUSE_MS);
    result = setWriteAddress(DeviceLink);
    if (result != RESULT_OK) return failUpdate(MSG_WRITE_ADDRESS_FAILED, result, GetLastError());

    pauseResponsively(STEP_PAUSE_MS);
    DWORD transferError = 0;
    result = transferImage(image.bytes, image.size, &transferError);
    if (result != RESULT_OK) return failUpdate(MSG_BLOCK_WRITE_FAILED, result, transferError);

    // The image is in; whether the unit restores protection and lock is not examined.
    setWriteProtection(DeviceLink, 1);
    setSystemLock(DeviceLink, 0);
    setEscFirmwareVersion(DeviceLink, IMAGE_FIRMWARE_VERSION);
    EnableWindow(GetDlgItem(MainDialog, IDC_UPDATE_BUTTON), FALSE);
    refreshVersionDisplay();
    wchar_t status[TEXT_BUFFER_CHARS];
    loadMessage(MSG_UPDATE_SUCCEEDED, status);
    setStatusText(status, false);
}

}  // namespace

void runFirmwareUpdate() {
    UpdateRunning = true;
    runUpdateSteps();
    // Whatever the user did during the last steps is dropped while the update still counts as running.
    handleMessagesDuringUpdate();
    UpdateRunning = false;
}

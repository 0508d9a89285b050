#include "ui/main_dialog.h"

#include "device/device_link.h"
#include "device/single_instance.h"
#include "model/model_config.h"
#include "ui/app_globals.h"
#include "ui/device_presence.h"
#include "ui/messages.h"
#include "ui/res/resource_ids.h"
#include "ui/ui_logic.h"
#include "update/firmware_update.h"

HINSTANCE AppInstance = nullptr;
HWND MainDialog = nullptr;

namespace {

constexpr COLORREF ESC_ROW_TEXT_COLOUR = RGB(255, 0, 0);
constexpr COLORREF LOGO_TRANSPARENT_COLOUR = RGB(0, 255, 0);

// The background brush of the ESC row; the system does not free a brush returned for
// WM_CTLCOLORSTATIC, so there is one for the dialog's lifetime.
HBRUSH EscRowBrush = nullptr;

void setRowLabel(int control, unsigned message) {
    wchar_t text[TEXT_BUFFER_CHARS];
    loadMessage(message, text);
    SetDlgItemTextW(MainDialog, control, text);
}

void initialiseDialog(HWND window) {
    MainDialog = window;
    announceInstanceWindow(MainDialog);
    EscRowBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    SetClassLongPtrW(MainDialog, GCLP_HICON, reinterpret_cast<LONG_PTR>(LoadIconW(AppInstance, MAKEINTRESOURCEW(IDI_APP))));

    wchar_t title[TITLE_BUFFER_CHARS];
    formatWindowTitle(MODEL_NAME, title, TITLE_BUFFER_CHARS);
    SendMessageW(MainDialog, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(title));

    setRowLabel(IDC_UNIT_LABEL, MSG_UNIT_ROW_LABEL);
    setRowLabel(IDC_BOOTLOADER_LABEL, MSG_BOOTLOADER_ROW_LABEL);
    setRowLabel(IDC_ESC_LABEL, MSG_ESC_ROW_LABEL);

    startDevicePresence();
}

ScreenRect windowRectOf(HWND window) {
    RECT rect;
    GetWindowRect(window, &rect);
    return ScreenRect{rect.left, rect.top, rect.right, rect.bottom};
}

// The whole logo on every paint, whatever part of the window is invalid.
void paintLogo(HWND window) {
    PAINTSTRUCT paint;
    HDC target = BeginPaint(window, &paint);
    HBITMAP logo = LoadBitmapW(AppInstance, MAKEINTRESOURCEW(IDB_LOGO));
    BITMAP bitmap{};
    if (logo != nullptr && GetObjectW(logo, sizeof bitmap, &bitmap) != 0) {
        HDC source = CreateCompatibleDC(target);
        HGDIOBJ previous = SelectObject(source, logo);
        const LogoPlacement placement =
            placeLogo(bitmap.bmWidth, bitmap.bmHeight, windowRectOf(MainDialog),
                      windowRectOf(GetDlgItem(MainDialog, IDC_VERSION_FRAME)), GetSystemMetrics(SM_CXDLGFRAME),
                      GetSystemMetrics(SM_CYCAPTION));
        if (placement.width > 0 && placement.height > 0) {
            TransparentBlt(target, placement.x, placement.y, placement.width, placement.height, source, 0, 0,
                           bitmap.bmWidth, bitmap.bmHeight, LOGO_TRANSPARENT_COLOUR);
        }
        SelectObject(source, previous);
        DeleteDC(source);
    }
    if (logo != nullptr) DeleteObject(logo);
    EndPaint(window, &paint);
}

// The ESC row, label and value, in red; every other static keeps the system's colours.
INT_PTR colourStatic(HDC dc, HWND control) {
    if (control != GetDlgItem(MainDialog, IDC_ESC_LABEL) && control != GetDlgItem(MainDialog, IDC_ESC_VERSION)) {
        return FALSE;
    }
    SetTextColor(dc, ESC_ROW_TEXT_COLOUR);
    SetBkMode(dc, TRANSPARENT);
    return reinterpret_cast<INT_PTR>(EscRowBrush);
}

}  // namespace

void closeDown() {
    if (DeviceNotification != nullptr) UnregisterDeviceNotification(DeviceNotification);
    // Cleared, so that no later close-down can release the registration a second time.
    DeviceNotification = nullptr;
    closeDeviceLink(DeviceLink);
}

INT_PTR CALLBACK mainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            initialiseDialog(window);
            return TRUE;  // the focus goes to the first tab stop, Close
        case WM_PAINT:
            paintLogo(window);
            return FALSE;
        case WM_COMMAND: {
            // Only the control counts, not the kind of notification. Close, Esc, Alt+F4 and the
            // close box all arrive as IDCANCEL.
            const WORD command = LOWORD(wParam);
            if (command != IDCANCEL && command != IDC_UPDATE_BUTTON) return FALSE;
            // The update handles messages during its waits; nothing may end or restart it then.
            if (isFirmwareUpdateRunning()) return TRUE;
            if (command == IDCANCEL) {
                closeDown();
                EndDialog(window, IDCANCEL);
            } else {
                runFirmwareUpdate();
                handleRemovalNotedDuringUpdate();
            }
            return TRUE;
        }
        case WM_CTLCOLORSTATIC:
            return colourStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
        case WM_DEVICECHANGE:
            return onDeviceChange(wParam, lParam) ? TRUE : FALSE;
        case WM_QUERYENDSESSION:
            // A session that ended now would leave the ESC without firmware. At any other time the
            // default answer lets it end.
            if (!isSessionEndHeld()) return FALSE;
            SetWindowLongPtrW(window, DWLP_MSGRESULT, FALSE);
            return TRUE;
        case WM_ENDSESSION:
            // The session ends all the same (a forced shut-down): nothing can be saved, and the
            // system ends the process once this returns.
            return FALSE;
        case WM_DESTROY:
            if (EscRowBrush != nullptr) DeleteObject(EscRowBrush);
            EscRowBrush = nullptr;
            return FALSE;
        default:
            return FALSE;
    }
}

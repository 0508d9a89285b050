#include "ui/version_display.h"

#include "device/device_link.h"
#include "frontend/version_texts.h"
#include "ui/app_globals.h"
#include "ui/res/resource_ids.h"
#include "ui/ui_logic.h"

#include <cstdlib>
#include <cwchar>

namespace {

constexpr int VALUE_CONTROLS[] = {IDC_UNIT_VERSION, IDC_BOOTLOADER_VERSION, IDC_ESC_VERSION};
// Values first, then labels.
constexpr int ROW_CONTROLS[] = {IDC_UNIT_VERSION, IDC_BOOTLOADER_VERSION, IDC_ESC_VERSION,
                                IDC_UNIT_LABEL,   IDC_BOOTLOADER_LABEL,   IDC_ESC_LABEL};

void enableRows(BOOL enable) {
    for (int control : ROW_CONTROLS) EnableWindow(GetDlgItem(MainDialog, control), enable);
}

}  // namespace

void refreshVersionDisplay() {
    if (!isDeviceLinkOpen(DeviceLink)) {
        // The labels stay: the first row keeps the name of the unit that was last shown.
        for (int control : VALUE_CONTROLS) SetDlgItemTextW(MainDialog, control, NO_LINK_VERSION_TEXT);
        enableRows(FALSE);
        return;
    }
    enableRows(TRUE);
    VersionRowTexts rows;
    composeVersionRows(DeviceLink.unitFirmwareVersion, escBootloaderVersion(DeviceLink), escFirmwareVersion(DeviceLink),
                       DeviceLink.productId, &rows);
    SetDlgItemTextW(MainDialog, IDC_UNIT_VERSION, rows.unitVersion);
    SetDlgItemTextW(MainDialog, IDC_BOOTLOADER_VERSION, rows.bootloaderVersion);
    SetDlgItemTextW(MainDialog, IDC_ESC_VERSION, rows.escFirmwareVersion);
    SetDlgItemTextW(MainDialog, IDC_UNIT_LABEL, rows.unitLabel);
}

void setStatusText(const wchar_t* text, bool append) {
    HWND statusArea = GetDlgItem(MainDialog, IDC_STATUS_AREA);
    if (!append) {
        SetWindowTextW(statusArea, text);
        return;
    }
    // The status area is not bound to the 2048 characters of a message: it grows by what is added.
    const std::size_t added = std::wcslen(text);
    const auto present = static_cast<std::size_t>(GetWindowTextLengthW(statusArea));
    const std::size_t bufferChars = present + added + 1;
    auto* joined = static_cast<wchar_t*>(std::malloc(bufferChars * sizeof(wchar_t)));
    if (joined == nullptr) return;
    joined[0] = L'\0';
    GetWindowTextW(statusArea, joined, static_cast<int>(bufferChars));
    appendText(joined, bufferChars, text);
    SetWindowTextW(statusArea, joined);
    std::free(joined);
}

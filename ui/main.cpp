// The program's entry point: one modal dialog on one thread; the exit code is always 0.
#include "device/device_link.h"
#include "device/hid_port.h"
#include "device/single_instance.h"
#include "ui/app_globals.h"
#include "ui/main_dialog.h"
#include "ui/res/resource_ids.h"

#include <windows.h>
#include <commctrl.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // First of all: every library loaded from here on (the HID library, SetupAPI, the common
    // controls, the blending library, all loaded on first use) comes from the system folder, never
    // from the program's own folder, where anyone could have put a DLL of the same name.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // A second start (a double click is enough) brings the running program forward and ends
    // before it opens any device.
    if (!claimSingleInstance()) return 0;
    useHidPort(WIN32_HID_PORT);
    InitCommonControls();  // the progress bar's class
    AppInstance = instance;
    resetDeviceLink(DeviceLink);
    // Close, a failed start or a dialog that could not be created: the program ends alike.
    DialogBoxParamW(AppInstance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, mainDialogProc, 0);
    return 0;
}

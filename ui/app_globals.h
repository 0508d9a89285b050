// The program's process-wide globals besides DeviceLink (device/device_link.h). Each has one
// owner: AppInstance and MainDialog the main dialog, DeviceNotification the device presence.
#pragma once

#include <windows.h>
#include <dbt.h>

// The module every resource is loaded from.
extern HINSTANCE AppInstance;
// The main dialog: the owner of every message box and the way to every control. Set when the
// dialog initialises, never cleared.
extern HWND MainDialog;
// The registration for HID device-interface notifications; null until it succeeded.
extern HDEVNOTIFY DeviceNotification;

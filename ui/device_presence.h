// Keeps the main dialog in step with the programming unit: what is attached when the dialog
// opens, units that come and go, and the one decision that offers an update.
#pragma once

#include <windows.h>

// Registers for HID device-interface notifications and evaluates what is attached. When the
// registration fails, it says so, closes down and ends the dialog.
void startDevicePresence();

// WM_DEVICECHANGE: true for arrivals and removals, whether or not they concerned us, false for
// every other event.
bool onDeviceChange(WPARAM event, LPARAM header);

// After an update: a removal of the open unit that arrived while the update was sending commands,
// if the update left the link open, is handled now as any removal is.
void handleRemovalNotedDuringUpdate();

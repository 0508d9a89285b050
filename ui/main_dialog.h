// The main dialog: its procedure and the close-down that releases what the dialog holds.
#pragma once

#include <windows.h>

INT_PTR CALLBACK mainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Releases the device notification and the link; nothing is sent to the unit.
void closeDown();

// Whether the update holds off the session's end now (from the system lock to the last command).
bool isSessionEndHeld();

// One Quenlor program at a time in a user's session on Windows, the dialogs and quenlor.exe alike. The HID
// class driver gives every open handle its own copy of every reply, so two programs on one unit
// would take each other's replies for their own and interleave their commands.
#pragma once

#include "device/platform.h"

// True when no other Quenlor program runs in this session; this program then holds the claim
// until it exits (a system that cannot be asked also gives true). False when another one runs:
// its window, if it announced one, has been brought to the front, and this program must open no
// device.
bool claimSingleInstance();

#ifdef _WIN32
// The window to bring to the front when another Quenlor program starts while this one runs.
void announceInstanceWindow(HWND window);
#endif

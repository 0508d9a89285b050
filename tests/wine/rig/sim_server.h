// The simulator side of the Wine rig: serves simulated programming units (the sim/ model,
// unchanged) on named pipes, inside the test process, and publishes the list of present HID
// interfaces in the units file that our replacement SetupAPI and HID library read.
#pragma once

#include "sim/sim_unit.h"

#include <windows.h>

#include <string>

// A HID interface that the rig presents. A simulated unit is served on its pipe; a foreign device
// is listed only (its pipe is served with an idle unit that never gets a request, or not at all
// when openable is false, so that opening it fails).
struct RigDevice {
    SimConfig config;      // vendorId, productId and report lengths are what the HID stack reports
    bool openable = true;
};

// Starts serving, with an empty units file at unitsFile (a Windows path). Fails loudly (false)
// when a stale simulator still owns one of the rig's pipes.
bool rigStartServer(const std::wstring& unitsFile);
void rigStopServer();

// Plugs a device in: serves its pipe and appends it to the units file, after the devices already
// present (enumeration order is plug order). Returns its number, or -1.
int rigPlug(const RigDevice& device);
// Unplugs it: removes it from the units file and closes every server end of its pipe, so the
// program's reads and writes on it fail from now on.
void rigUnplug(int device);
// The device interface path, as the program sees it (\\.\pipe\hid#vid_…).
std::wstring rigDevicePath(int device);

// A copy of the unit's state, taken under the server's lock: flash, transcript, states.
SimUnit rigUnitSnapshot(int device);
// Changes the fault of a unit that is plugged in (takes effect at its next request).
void rigSetFault(int device, const SimFault& fault);

// Microseconds on the clock that stamps the transcript.
std::uint64_t rigNowUs();

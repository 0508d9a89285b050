// The simulator side of the Wine rig: serves simulated programming units (the sim/ model,
// unchanged) on named pipes, inside the test process, and publishes the list of present HID
// interfaces in the units file that our replacement SetupAPI and HID library read.
#pragma once

#include "sim/sim_unit.h"

#include <windows.h>

#include <string>

// The functions below are called from the test's own thread; each device is served by a thread of
// its own, and one lock guards the units' state between them.

// A HID interface that the rig presents. A simulated unit is served on its pipe; a foreign device
// is listed only (its pipe is served with an idle unit that never gets a request, or not at all
// when openable is false, so that opening it fails).
struct RigDevice {
    SimConfig config;      // vendorId, productId and report lengths are what the HID stack reports
    bool openable = true;
};

// Starts serving, with an empty units file at unitsFile (a Windows path), and sets
// QUENLOR_RIG_UNITS to it in this process's environment, which the programs it starts inherit.
// Fails loudly (false) when a stale simulator still runs in this prefix.
bool rigStartServer(const std::wstring& unitsFile);
// Unplugs everything (the units file is left empty), ends every thread, closes every handle.
void rigStopServer();

// Plugs a device in: serves its pipe and appends it to the units file, after the devices already
// present (enumeration order is plug order). Returns its number (1, 2, … in plug order, also part
// of its path), or -1.
//
// How the unit's behaviour reaches the program's handle:
// - a refused request (FailWrite, a report of the wrong length or ID) fails the program's WriteFile
//   (ERROR_PIPE_NOT_CONNECTED) and disconnects that handle: later reads and writes on it fail too;
// - a lost reply (FailRead) fails the program's ReadFile the same way;
// - a late reply arrives whenever it is due and waits in the handle's input until read or flushed;
// - Vanish unplugs the unit as rigUnplug does (it leaves the units file), without any notification;
// - the transcript's repliedAtUs is when the program's read took the reply off the pipe;
//   rigUnitSnapshot waits for that stamp. Both stamps are taken by the server's thread when it
//   learns of the event: usually within 0.2 ms, on a busy machine up to about 10 ms later, so
//   compare them with the program's pauses with a few milliseconds to spare.
int rigPlug(const RigDevice& device);
// Unplugs it: removes it from the units file and closes every server end of its pipe, so the
// program's reads and writes on it fail from now on (ERROR_PIPE_NOT_CONNECTED, also a read
// already waiting). Its unit can still be looked at.
void rigUnplug(int device);
// The device interface path, as the program sees it (\\.\pipe\hid#vid_…).
std::wstring rigDevicePath(int device);

// A copy of the unit's state, taken under the server's lock: flash, transcript, states.
SimUnit rigUnitSnapshot(int device);
// Changes the fault of a unit that is plugged in (takes effect at its next request).
void rigSetFault(int device, const SimFault& fault);

// Microseconds on the clock that stamps the transcript.
std::uint64_t rigNowUs();

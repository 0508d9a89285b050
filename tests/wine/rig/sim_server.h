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

// How long starting the server, or plugging a device in, waits for a simulator or program that is
// still ending to free the names it needs.
constexpr DWORD RIG_STALE_SERVER_WAIT_MS = 5000;

// Starts serving, with an empty units file at unitsFile (a Windows path), and sets
// QUENLOR_RIG_UNITS to it in this process's environment, which the programs it starts inherit.
// A simulator that is still stopping in this prefix is waited for, up to staleWaitMs; one still
// running after that fails the start loudly (false, and a line on stderr saying how long it
// waited).
bool rigStartServer(const std::wstring& unitsFile, DWORD staleWaitMs = RIG_STALE_SERVER_WAIT_MS);
// Unplugs everything (the units file is left empty), ends every thread, closes every handle.
void rigStopServer();

// Plugs a device in: serves its pipe and appends it to the units file, after the devices already
// present (enumeration order is plug order). Returns its number (1, 2, … in plug order, also part
// of its path), or -1.
//
// How the unit's behaviour reaches the program's handles (the server's pipe and our HID library's
// wrappers of the program's WriteFile, ReadFile and GetOverlappedResult together, as the HID class
// driver would show it):
// - every reply is an input report of the unit: a copy of it is queued on every handle of the unit
//   that is open when it comes (at most 32 per handle, the oldest dropped), whichever handle made
//   the request; each handle reads its own copies in order;
// - a write of another length than the unit's output report length fails at once
//   (ERROR_INVALID_PARAMETER when short, ERROR_INVALID_USER_BUFFER when long) and never reaches
//   the unit; the handle stays usable;
// - a refused request (FailWrite, or a report with the wrong ID) fails the program's WriteFile
//   (ERROR_PIPE_NOT_CONNECTED) and disconnects that handle: later reads and writes on it fail too;
// - a lost reply (FailRead) fails the read of the handle that asked the same way;
// - a reply that never comes (NeverAnswer) leaves the program's read waiting until the program
//   gives up itself; the handle stays open and usable;
// - a late reply (LateAnswer) is queued whenever it is due and waits on each handle until read or
//   flushed;
// - HidD_FlushQueue drops every report queued on that handle at once, without waiting for any;
// - Vanish unplugs the unit as rigUnplug does (it leaves the units file), without any notification;
// - the transcript's repliedAtUs is when the handle that made the request took the reply (read it,
//   or flushed it); rigUnitSnapshot waits for that stamp. Both stamps are taken by the server's
//   thread when it learns of the event: usually within 0.2 ms, on a busy machine up to about 10 ms
//   later, so compare them with the program's pauses with a few milliseconds to spare.
int rigPlug(const RigDevice& device);
// Unplugs it: removes it from the units file and closes every server end of its pipe, so the
// program's reads and writes on its handles fail from now on with ERROR_DEVICE_NOT_CONNECTED
// (1167), also a read already waiting, and HidD_ calls on them fail the same way. Its path can no
// longer be opened from the moment the first of those fails (so also after a Vanish). Its unit
// can still be looked at.
void rigUnplug(int device);
// The device interface path, as the program sees it (\\.\pipe\hid#vid_…).
std::wstring rigDevicePath(int device);

// A copy of the unit's state, taken under the server's lock: flash, transcript, states.
SimUnit rigUnitSnapshot(int device);
// Changes the fault of a unit that is plugged in (takes effect at its next request).
void rigSetFault(int device, const SimFault& fault);

// Microseconds on the clock that stamps the transcript.
std::uint64_t rigNowUs();

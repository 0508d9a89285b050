// The HID port of the simulated programming unit (SIM_HID_PORT): device/hid_port.h implemented over
// a bus of simulated devices. Its clock is virtual unless told otherwise: waits and read time-outs
// advance it instead of taking time, so a unit that never answers costs the tests nothing. In real
// time (the command-line updater's --sim, its benchmark) the clock is the monotonic clock of
// device/precise_wait.h and every wait really waits, as a real unit would make the program wait.
// Tests set the bus up and read it back through the plain functions below; everything is
// single-threaded.
#pragma once

#include "device/hid_port.h"
#include "device/platform.h"
#include "sim/sim_unit.h"

#include <cstdint>
#include <string>
#include <vector>

// One HID interface on the bus. Vendor, product and report lengths come from unit.config.
struct SimBusDevice {
    SimUnit unit;
    std::wstring path;
    bool present = true;             // listed by the scan; unplugged devices fail every call
    bool openable = true;            // false: the open fails with openRefusal
    HidOpenFailure openRefusal = HidOpenFailure::Busy;  // held exclusively elsewhere, unless told otherwise
    bool attributesReadable = true;  // false: reading vendor and product ID fails
    bool lengthsReadable = true;     // false: reading the report lengths fails
    // What the unit's description of its reports reads as; its lengths count only when Counted.
    ReportLayout reportLayout = ReportLayout::Counted;
    std::uint32_t opens = 0;         // successful opens of this device
    // Replies the unit itself would never send (random bytes, odd markers): each one replaces the
    // unit's reply to the next accepted request, in order; bytes past 60 are dropped, missing ones
    // are zero. The unit still carries out the requests.
    std::vector<std::vector<std::uint8_t>> scriptedReplies;
    std::size_t scriptedUsed = 0;
};

// Failures are reported as errno values (ETIMEDOUT, ENODEV, EIO, EACCES, EBUSY, ENOENT).
extern const HidPort SIM_HID_PORT;
// The errno value a POSIX system gives for an open that failed so.
int simErrnoOfOpenFailure(HidOpenFailure failure);

// An empty bus: no devices, clock at 0, every counter 0, the interface list available; and
// SIM_HID_PORT chosen as the HID port.
void simBusReset();
// Real time on (the clock is monotonicNowUs(), waits take that long) or off (the virtual clock, the
// default after every reset).
void simBusUseRealTime(bool realTime);
// Plugs a device in after those present; returns its number. Its path names vendor, product and
// number, as a system's interface path would.
int simBusAdd(const SimConfig& config, bool openable = true);
// Devices ever plugged in since the reset, unplugged ones included; they are numbered from 0.
int simBusDeviceCount();
SimBusDevice& simBusDevice(int device);
SimUnit& simBusUnit(int device);
const wchar_t* simBusPath(int device);
// Unplugs a device: it disappears from the list and every call on its open handles fails.
void simBusUnplug(int device);
// The device an open handle belongs to; -1 for a handle that is not open.
int simBusDeviceOfHandle(HANDLE handle);


// Called at every hidPortWrite, before the unit sees the request, whether or not it takes it.
using SimWriteObserver = void (*)(const std::uint8_t* report, std::uint32_t length);
void simBusObserveWrites(SimWriteObserver observer);

// When false, the list of present HID interfaces cannot be obtained.
void simBusSetListAvailable(bool available);

// The bus's clock; advancing it in real time waits until it reads that much later.
std::uint64_t simBusClockUs();
void simBusAdvanceMs(std::uint32_t ms);
void simBusAdvanceUs(std::uint64_t us);

struct SimBusCounters {
    std::uint32_t scans = 0;
    std::uint32_t listings = 0;     // hidPortListInterfaces calls
    std::uint32_t openCalls = 0;    // hidPortOpen, successful or not
    std::uint32_t closeCalls = 0;   // hidPortClose on an open handle
    std::uint32_t badCloses = 0;    // hidPortClose on a handle that was not open
    std::uint32_t openHandles = 0;  // handles open right now
    std::uint32_t attributeQueries = 0;
    std::uint32_t writes = 0;       // hidPortWrite calls, failed ones included
    std::uint32_t reads = 0;        // hidPortRead calls, failed ones included
    std::uint32_t discards = 0;
    std::uint32_t readTimeouts = 0;
    std::uint32_t largestWrite = 0;  // longest length passed to hidPortWrite
    std::uint32_t largestRead = 0;   // longest length passed to hidPortRead
};
const SimBusCounters& simBusCounters();

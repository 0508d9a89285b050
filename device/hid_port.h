// The device link's only way to the operating system: a handful of free functions over HID
// interfaces. hid_port_win32.cpp implements them with SetupAPI, the HID library and file I/O; the
// native tests link the simulated programming unit's implementation (sim/sim_hid_port.cpp) instead.
#pragma once

#include "device/platform.h"

#include <cstddef>
#include <cstdint>

enum class HidScanOutcome {
    ListUnavailable,  // the list of present HID interfaces cannot be obtained
    Exhausted,        // every interface was visited and none was taken
    Taken,            // the visitor took an interface; later interfaces were not looked at
};

// Called once per present HID interface whose path could be read, in enumeration order. Returns
// true to take the interface and end the scan.
using HidInterfaceVisitor = bool (*)(const wchar_t* path, void* context);

HidScanOutcome hidPortScanInterfaces(HidInterfaceVisitor visit, void* context);

// Opens a device path for reading and writing, shared. INVALID_HANDLE_VALUE on failure.
HANDLE hidPortOpen(const wchar_t* path);
void hidPortClose(HANDLE device);

bool hidPortGetAttributes(HANDLE device, std::uint16_t* vendorId, std::uint16_t* productId);
// Report lengths in bytes, report ID included, as the device's capabilities state them.
bool hidPortGetReportLengths(HANDLE device, std::uint16_t* inputBytes, std::uint16_t* outputBytes);

// Throws away input reports that arrived unasked, such as a reply that came after its request had
// been given up. False when the device is gone.
bool hidPortDiscardPendingInput(HANDLE device);
// Both calls give up after timeoutMs and then fail with the system's time-out error; a write or
// read that was given up can never complete later into the caller's buffer.
bool hidPortWrite(HANDLE device, const std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs);
bool hidPortRead(HANDLE device, std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs);

// A plain wait for use inside a device operation: it handles no window messages.
void hidPortSleep(std::uint32_t ms);

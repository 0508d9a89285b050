// The device link's only way to the operating system: a handful of free functions over HID
// interfaces. Each system's implementation is a constant record of functions, chosen once at start
// with useHidPort: WIN32_HID_PORT (SetupAPI, the HID library and file I/O), HIDAPI_HID_PORT (hidapi
// on Linux and macOS) and SIM_HID_PORT (the simulated programming unit, sim/sim_hid_port.h). The
// free functions forward to the chosen record; before one is chosen every call fails, as it would
// on a system without HID devices.
#pragma once

#include "device/hid_report_descriptor.h"
#include "device/platform.h"

#include <cstddef>
#include <cstdint>

enum class HidScanOutcome {
    ListUnavailable,  // the list of present HID interfaces cannot be obtained
    Exhausted,        // every interface was visited and none was taken
    Taken,            // the visitor took an interface; later interfaces were not looked at
};

// Why an interface could not be opened; the command-line updater tells the person what to do.
enum class HidOpenFailure {
    None,          // it was opened
    NotFound,      // no such interface (any more)
    AccessDenied,  // the user may not open it (on Linux: the udev rule is missing)
    Busy,          // another program holds it exclusively
    Other,
};

// Called once per present HID interface whose path could be read, in enumeration order. Returns
// true to take the interface and end the scan. A port that can tell vendor and product without
// opening the interface (hidapi) visits only programming units, so a scan never opens a foreign
// device there.
using HidInterfaceVisitor = bool (*)(const wchar_t* path, void* context);

// One present HID interface as the system lists it, for a listing that takes nothing.
struct HidInterfaceInfo {
    const wchar_t* path;
    std::uint16_t vendorId;
    std::uint16_t productId;
};
// Returns true to stop the listing.
using HidInterfaceInfoVisitor = bool (*)(const HidInterfaceInfo& info, void* context);

struct HidPort {
    const char* name;
    HidScanOutcome (*scanInterfaces)(HidInterfaceVisitor visit, void* context);
    // Visits every present interface with its vendor and product ID, opening none for I/O; false
    // when the list cannot be obtained.
    bool (*listInterfaces)(HidInterfaceInfoVisitor visit, void* context);
    // INVALID_HANDLE_VALUE on failure, with the cause in *failure.
    HANDLE (*open)(const wchar_t* path, HidOpenFailure* failure);
    void (*close)(HANDLE device);
    bool (*getAttributes)(HANDLE device, std::uint16_t* vendorId, std::uint16_t* productId);
    // False when the system cannot hand out the device's description (the cause in the last error);
    // true with the layout found in it otherwise.
    bool (*getReportLengths)(HANDLE device, UnitReportLengths* lengths);
    bool (*discardPendingInput)(HANDLE device);
    bool (*write)(HANDLE device, const std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs);
    bool (*read)(HANDLE device, std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs);
    void (*sleep)(std::uint32_t ms);
    std::uint32_t (*lastError)();
};

// The ports this code base has. Only the ones built for the system exist at link time.
extern const HidPort WIN32_HID_PORT;
extern const HidPort HIDAPI_HID_PORT;

// Chooses the port every hidPort* call goes to from now on. The record must outlive its use (the
// records above are constants with static storage).
void useHidPort(const HidPort& port);
// Forgets the chosen port: every call fails again as before the first choice.
void useNoHidPort();
// The chosen port's name, "none" before a choice.
const char* hidPortName();

HidScanOutcome hidPortScanInterfaces(HidInterfaceVisitor visit, void* context);
// False when the list cannot be obtained (or no port is chosen).
bool hidPortListInterfaces(HidInterfaceInfoVisitor visit, void* context);

// Opens a device path for reading and writing, shared. INVALID_HANDLE_VALUE on failure; the cause
// goes to *failure when it is given.
HANDLE hidPortOpen(const wchar_t* path, HidOpenFailure* failure = nullptr);
void hidPortClose(HANDLE device);

bool hidPortGetAttributes(HANDLE device, std::uint16_t* vendorId, std::uint16_t* productId);
// Report lengths in bytes, report ID included, as the device's capabilities state them for the
// unit's collection; *lengths is Unreadable when false is returned.
bool hidPortGetReportLengths(HANDLE device, UnitReportLengths* lengths);

// Throws away input reports that arrived unasked, such as a reply that came after its request had
// been given up. False when the device is gone.
bool hidPortDiscardPendingInput(HANDLE device);
// A read gives up after timeoutMs and then fails with the system's time-out error, on every port;
// a read that was given up can never complete later into the caller's buffer.
// What bounds a write depends on the port: the Windows port gives up after timeoutMs (an
// overlapped write, cancelled); the simulated unit answers at once. hidapi's write takes no limit,
// so timeoutMs does not reach it: on Linux the kernel's USB HID driver gives up on the transfer
// after 5 s (USB_CTRL_SET_TIMEOUT, for the interrupt and the control pipe alike) and the write
// then fails; on macOS nothing below this program limits it, and a unit that stops taking reports
// holds the write until the unit is unplugged, which fails it.
bool hidPortWrite(HANDLE device, const std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs);
bool hidPortRead(HANDLE device, std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs);

// A plain wait for use inside a device operation: it handles no window messages.
void hidPortSleep(std::uint32_t ms);

// The system's last error after a failed call: GetLastError() on Windows; an errno value from
// <cerrno> with hidapi and the simulated unit (ETIMEDOUT for a read or write that was given up,
// ENODEV for a device that is gone, EACCES, EBUSY … for an open). 0 before a port is chosen.
std::uint32_t hidPortLastError();

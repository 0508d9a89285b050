// The units file: the rig's list of present HID interfaces, written by the simulator (rig/) and
// read by our replacement SetupAPI and HID library inside the program's process. One line per
// interface, in enumeration order:
//
//   <device path> TAB <vendor ID, 4 hex digits> TAB <product ID, 4 hex digits>
//                 TAB <input report length> TAB <output report length> LF
//
// The file's Windows path is in the environment variable QUENLOR_RIG_UNITS. The simulator
// replaces the whole file at once on every plug and unplug, so a reader sees either the old list
// or the new one.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

constexpr wchar_t UNITS_FILE_VARIABLE[] = L"QUENLOR_RIG_UNITS";
constexpr std::size_t UNITS_PATH_CHARS = 200;  // a rig path is about 90 characters
constexpr std::size_t UNITS_MAX = 16;
constexpr std::size_t UNITS_FILE_MAX_BYTES = 8192;

// The device interface class every listed interface belongs to, as HidD_GetHidGuid reports it.
constexpr GUID HID_INTERFACE_CLASS = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

// What our HidD_FlushQueue writes on a device's pipe to have the simulator drop every reply queued
// for that handle. The simulator knows it by its length and bytes together; a program's own writes
// reach the pipe only when they have the unit's output report length (hid.cpp).
constexpr char RIG_FLUSH_REQUEST[] = "quenlor-rig: drop every input report queued for this handle";
constexpr std::size_t RIG_FLUSH_REQUEST_BYTES = sizeof RIG_FLUSH_REQUEST;  // NUL included

struct UnitsEntry {
    wchar_t path[UNITS_PATH_CHARS] = {};  // NUL-terminated: \\.\pipe\hid#vid_…
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t inputReportLength = 0;
    std::uint16_t outputReportLength = 0;
};

struct UnitsList {
    std::uint32_t count = 0;
    UnitsEntry entries[UNITS_MAX];
};

// Parses the file's text. False on any malformed line or too many lines: a rig that lists
// something other than it meant must fail loudly, not present half a list.
bool unitsParse(const char* text, std::size_t length, UnitsList* list);

// Reads the file named by QUENLOR_RIG_UNITS. False when the variable is not set or the file
// cannot be read or parsed; the last error says why (ERROR_ENVVAR_NOT_FOUND, the file's error,
// or ERROR_INVALID_DATA).
bool unitsFileRead(UnitsList* list);

// The line for one entry, LF included, NUL-terminated; its length, or 0 when it does not fit.
std::size_t unitsFormatLine(const UnitsEntry& entry, char* line, std::size_t size);

// Replaces the file with the list: written beside it, then moved over it, waiting up to 2 s for
// readers to close it (readers open it with FILE_SHARE_DELETE and keep it open only to read it).
// False on failure.
bool unitsFileWrite(const wchar_t* file, const UnitsList& list);

// The entry whose path names the given pipe. pipeName is what GetFileInformationByHandleEx
// reports for a pipe handle ("\hid#vid_…", not NUL-terminated, nameChars characters); the
// comparison ignores case, as the system's does.
const UnitsEntry* unitsFindPipe(const UnitsList& list, const wchar_t* pipeName, std::size_t nameChars);

// The link to the programming unit: the one record of what is open and what identification learnt,
// the scan that opens a unit, the command reports and identification.
#pragma once

#include "device/hid_report_descriptor.h"
#include "device/platform.h"

#include <cstdint>

// The maker's USB vendor ID; product 1 is a DIALPUCK, product 2 a VexoBOX.
constexpr std::uint16_t UNIT_VENDOR_ID = 0x2F1E;
constexpr std::uint16_t PRODUCT_ID_DIALPUCK = 1;
constexpr std::uint16_t PRODUCT_ID_VEXOBOX = 2;

constexpr std::uint32_t REPORT_BUFFER_BYTES = 60;
constexpr std::uint8_t REQUEST_REPORT_ID = 0x01;
constexpr std::uint8_t REPLY_REPORT_ID = 0x02;
constexpr std::uint8_t ERROR_REPLY_MARK = 0xFF;
constexpr std::uint32_t MAX_BLOCK_WORDS = 14;
constexpr std::uint32_t GUARD_CODE = 0x5EC0A7D1;
constexpr std::uint32_t UNIT_MEMORY_RECORD_ADDRESS = 0x0801FC00;
constexpr std::uint8_t UNIT_MEMORY_RECORD_BYTES = 12;
constexpr std::uint16_t ATTACHED_UPDATABLE_ESC = 3;
constexpr std::uint32_t ERASE_REPLY_DELAY_MS = 1000;

// The unit answers within milliseconds, the erase within the 1000 ms the program waits before it
// reads. A unit silent for this long has failed; waiting on would hold the program forever.
constexpr std::uint32_t REPLY_TIMEOUT_MS = 1500;
// The limit a write is given; the Windows port applies it, device/hid_port.h says what bounds a
// write on the other ports.
constexpr std::uint32_t WRITE_TIMEOUT_MS = 1000;
// A window whose thread handles no message for 5 s counts as hung: the system offers to end the
// program, in the middle of an update if need be. No device command may hold the thread that long,
// not even the erase with a unit that stops answering, and the identification of a newly plugged
// unit fails at its first unanswered request.
constexpr std::uint32_t LONGEST_SILENT_STRETCH_MS = 4000;
static_assert(WRITE_TIMEOUT_MS + ERASE_REPLY_DELAY_MS + REPLY_TIMEOUT_MS < LONGEST_SILENT_STRETCH_MS,
              "a device command must leave the thread to its messages well within the hung-window limit");

constexpr std::uint8_t CMD_GET_INFO = 0x08;
constexpr std::uint8_t CMD_READ_UNIT_MEMORY = 0x0A;
constexpr std::uint8_t CMD_SYSTEM_LOCK = 0x0B;
constexpr std::uint8_t CMD_WRITE_DATA = 0x1B;
constexpr std::uint8_t CMD_READ_ESC_RECORD = 0x1D;
constexpr std::uint8_t CMD_ERASE_FIRMWARE = 0x1E;
constexpr std::uint8_t CMD_SET_WRITE_ADDRESS = 0x1F;
constexpr std::uint8_t CMD_WRITE_PROTECT = 0x20;
constexpr std::uint8_t CMD_READ_BOOT_RECORD = 0x22;

// Command results besides the unit's own error codes.
constexpr std::int32_t RESULT_OK = 0;
constexpr std::int32_t RESULT_NO_LINK = -1;  // also: an argument out of range, or a failed capability step
constexpr std::int32_t RESULT_WRITE_FAILED = -2;
constexpr std::int32_t RESULT_READ_FAILED = -3;
constexpr std::int32_t RESULT_NO_UNIT = -4;
constexpr std::int32_t RESULT_STATE_MISMATCH = 1627;  // ERROR_FUNCTION_FAILED

constexpr std::uint32_t ESC_FIRMWARE_RECORD_BYTES = 32;
constexpr std::uint32_t ESC_BOOT_RECORD_BYTES = 40;
constexpr std::uint16_t ESC_WITHOUT_FIRMWARE = 0xFFFF;

struct DeviceLinkRecord {
    HANDLE deviceHandle;
    wchar_t* devicePath;  // owned; freed only by closeDeviceLink
    std::uint32_t outputReportLength;
    std::uint32_t inputReportLength;
    std::uint8_t unitMode;
    std::uint32_t unitFirmwareVersion;
    std::uint32_t unitExtra;
    std::uint16_t attachedType;
    std::uint16_t attachedExtra;
    std::uint8_t bootInfoA;
    std::uint16_t bootInfoB;
    std::uint32_t bootInfoC;
    std::uint32_t bootInfoD;
    std::uint8_t bootInfoE;
    std::uint8_t escFirmwareRecord[ESC_FIRMWARE_RECORD_BYTES];
    std::uint8_t escBootRecord[ESC_BOOT_RECORD_BYTES];
    std::uint16_t productId;
    // What the capability step found, also when it refused the unit: a front end says why.
    UnitReportLengths reportLayout;
};

// The program's one link, used only from the dialog's thread.
extern DeviceLinkRecord DeviceLink;

// The maker's vendor ID with product 1 or 2.
bool isProgrammingUnit(std::uint16_t vendorId, std::uint16_t productId);

bool isDeviceLinkOpen(const DeviceLinkRecord& link);
// Puts a record that holds nothing into the closed state (program start, tests).
void resetDeviceLink(DeviceLinkRecord& link);

std::int32_t openDeviceLink(DeviceLinkRecord& link);
// As openDeviceLink, but the scan takes only a unit whose interface path accept approves of (the
// command-line updater's --path); RESULT_NO_UNIT when none is approved and opened.
using DeviceLinkPathFilter = bool (*)(const wchar_t* path, void* context);
std::int32_t openDeviceLinkWhere(DeviceLinkRecord& link, DeviceLinkPathFilter accept, void* context);
void closeDeviceLink(DeviceLinkRecord& link);
// The report lengths of the unit's collection; RESULT_NO_LINK, with nothing sent, for a layout
// the link cannot use (see reportLayout and linkCanUseReports).
std::int32_t readReportLengths(DeviceLinkRecord& link);
// Whether reports of this layout fit the link's buffers; the lengths are checked whole, never cut.
bool linkCanUseReports(const UnitReportLengths& lengths);
std::int32_t identifyDevice(DeviceLinkRecord& link);

// Writes the request, waits replyDelayMs, reads the reply into a zeroed buffer whose first byte is
// the reply report ID. 0, -1 (no link), -2 (write failed) or -3 (read failed or timed out).
std::int32_t exchangeReport(DeviceLinkRecord& link, const std::uint8_t (&request)[REPORT_BUFFER_BYTES],
                            std::uint8_t (&reply)[REPORT_BUFFER_BYTES], std::uint32_t replyDelayMs = 0);

std::int32_t setSystemLock(DeviceLinkRecord& link, std::uint32_t on);
std::int32_t setWriteProtection(DeviceLinkRecord& link, std::uint32_t on);
std::int32_t eraseFirmware(DeviceLinkRecord& link);
std::int32_t setWriteAddress(DeviceLinkRecord& link);
std::int32_t writeDataBlock(DeviceLinkRecord& link, const std::uint8_t* data, std::uint32_t wordCount);

// Values kept inside the ESC's records.
std::uint16_t escFirmwareVersion(const DeviceLinkRecord& link);
void setEscFirmwareVersion(DeviceLinkRecord& link, std::uint16_t version);
std::uint32_t escHardwareId(const DeviceLinkRecord& link);
std::uint32_t escBootloaderVersion(const DeviceLinkRecord& link);

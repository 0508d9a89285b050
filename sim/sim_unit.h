// A simulated programming unit with its attached ESC: a plain model of what the unit must do for
// each command, with the ESC's flash, a transcript of every request and faults to order. It knows
// nothing of its host: native tests drive it through sim_hid_port.cpp with a virtual clock, the
// Wine rig serves it on a named pipe with the real clock. Times are microseconds of the host's
// monotonic clock.
#pragma once

#include "device/device_link.h"

#include <cstdint>
#include <vector>

constexpr std::uint32_t SIM_REPORT_BYTES = 60;
constexpr std::uint32_t SIM_ANY_BLOCK = 0xFFFFFFFF;
constexpr std::uint32_t SIM_FLASH_BYTES = 128 * 1024;

// The unit's own error codes. Their low halves are non-zero, so they count for every command.
constexpr std::uint32_t SIM_ERROR_GUARD_CODE = 0x0000E101;     // 0x1E or 0x1F without the guard code
constexpr std::uint32_t SIM_ERROR_PROTECTED = 0x0000E102;      // erase or write under write protection
constexpr std::uint32_t SIM_ERROR_FLASH_END = 0x0000E103;      // a write or an address beyond the flash
constexpr std::uint32_t SIM_ERROR_BAD_LENGTH = 0x0000E104;     // a data block longer than its report
constexpr std::uint32_t SIM_ERROR_NO_ESC = 0x0000E105;         // an ESC command without an updatable ESC
constexpr std::uint32_t SIM_ERROR_UNKNOWN_COMMAND = 0x0000E106;
// What the ESC reports once data was written and the write protection switched back on.
constexpr std::uint16_t SIM_WRITTEN_FIRMWARE_VERSION = 0x0200;

enum class SimFaultKind : std::uint8_t {
    None,
    FailWrite,    // the request is refused: the host's write fails, the command has no effect
    FailRead,     // the command takes effect but its reply is lost: the host's read fails
    ErrorReply,   // an error reply (byte 1 = 0xFF) carrying errorCode in bytes 4 to 7; no effect
    WrongState,   // the command takes effect, but its reply carries echoedState in byte 3
    NeverAnswer,  // the command takes effect, the reply never comes
    LateAnswer,   // the reply comes lateByMs after it was due
    Vanish,       // the unit is unplugged: this and every later write and read fails
};

// A fault fires at the first request whose command code matches; for CMD_WRITE_DATA only at the
// block with the given 0-based index among the data requests (SIM_ANY_BLOCK: the first one).
struct SimFault {
    SimFaultKind kind = SimFaultKind::None;
    std::uint8_t command = 0;
    std::uint32_t blockIndex = SIM_ANY_BLOCK;
    std::uint32_t errorCode = 0;
    std::uint8_t echoedState = 0;
    std::uint32_t lateByMs = 0;
};

struct SimConfig {
    std::uint16_t vendorId = UNIT_VENDOR_ID;
    std::uint16_t productId = PRODUCT_ID_VEXOBOX;
    std::uint16_t inputReportLength = 60;   // report ID included
    std::uint16_t outputReportLength = 60;  // report ID included
    std::uint8_t unitMode = 0;              // 0: application, otherwise its own bootloader
    std::uint32_t unitFirmwareVersion = 0x00010500;
    std::uint32_t unitExtra = 0;
    std::uint16_t attachedType = 3;
    std::uint16_t attachedExtra = 0;
    std::uint8_t bootInfoA = 0;
    std::uint16_t bootInfoB = 0;
    std::uint32_t bootInfoC = 0;
    std::uint32_t bootInfoD = 0;
    std::uint8_t bootInfoE = 0;
    std::uint16_t escFirmwareVersion = 0x0105;  // ESC_WITHOUT_FIRMWARE: the ESC holds no firmware
    std::uint32_t escHardwareId = 0x111F403C;
    std::uint32_t escBootloaderVersion = 0x00000203;
    std::uint32_t eraseDurationMs = 600;  // the erase reply is ready this long after its request
    SimFault fault;
};

struct SimRequest {
    std::uint64_t receivedAtUs = 0;
    std::uint64_t repliedAtUs = 0;  // when the reply was taken by the host; 0 if it never was
    // When the unit handed the reply out. A host that passes it on (the Wine rig's pipe) may stamp
    // repliedAtUs later, when the program read it; nothing can have been read before this.
    std::uint64_t sentAtUs = 0;
    std::uint32_t length = 0;
    std::uint8_t bytes[SIM_REPORT_BYTES] = {};
};

struct SimOwedReply {
    std::uint64_t readyAtUs = 0;  // UINT64_MAX: never
    bool lost = false;            // FailRead: the read fails instead of delivering it
    std::uint32_t requestIndex = 0;
    std::uint8_t bytes[SIM_REPORT_BYTES] = {};
};

struct SimUnit {
    SimConfig config;
    bool systemLock = false;
    bool writeProtection = true;
    std::uint32_t writePosition = 0;
    std::uint16_t escFirmwareVersion = ESC_WITHOUT_FIRMWARE;  // from the configuration; none after an erase
    bool wroteSinceUnprotected = false;          // data written since the protection went off
    std::uint32_t dataRequests = 0;   // CMD_WRITE_DATA requests seen so far
    bool faultFired = false;
    bool vanished = false;
    std::vector<std::uint8_t> flash;  // the ESC's flash, SIM_FLASH_BYTES, erased to 0xFF
    std::vector<SimRequest> transcript;
    // Replies owed to the host, oldest first. A late reply stays queued behind later ones until the
    // host reads or discards it, as a real unit's stale input report would.
    std::vector<SimOwedReply> owed;
};

// A unit as configured, its ESC's flash holding firmware (a recognisable non-0xFF pattern).
void simInitUnit(SimUnit& unit, const SimConfig& config);

// A request written by the host. False when the write fails (FailWrite, Vanish, or a report of
// another length than the output report length): then nothing is recorded as executed.
bool simWriteRequest(SimUnit& unit, const std::uint8_t* report, std::uint32_t length, std::uint64_t nowUs);

enum class SimReadOutcome { Reply, Failed, NotYet };

// The host asks for the reply. Reply: copied into report (length bytes, zero-filled past the
// reply); Failed: the read fails (FailRead, Vanish, nothing owed); NotYet: *readyAtUs says when it
// will be there (UINT64_MAX: never).
SimReadOutcome simReadReply(SimUnit& unit, std::uint8_t* report, std::uint32_t length, std::uint64_t nowUs,
                            std::uint64_t* readyAtUs);

// Orders a new fault, which fires at the next matching request.
void simSetFault(SimUnit& unit, const SimFault& fault);

// A fault of that kind at the first request with that command (for data blocks: at that block).
inline SimFault simFault(SimFaultKind kind, std::uint8_t command, std::uint32_t blockIndex = SIM_ANY_BLOCK) {
    SimFault fault;
    fault.kind = kind;
    fault.command = command;
    fault.blockIndex = blockIndex;
    return fault;
}

// The byte a freshly made unit's ESC holds at a flash offset: never 0xFF, so an erase shows.
std::uint8_t simFlashPatternByte(std::uint32_t offset);

// The ESC's records as the unit returns them for 0x1D (32 bytes) and 0x22 (40 bytes).
constexpr std::uint32_t SIM_ESC_FIRMWARE_RECORD_BYTES = 32;
constexpr std::uint32_t SIM_ESC_BOOT_RECORD_BYTES = 40;
void simEscFirmwareRecord(const SimUnit& unit, std::uint8_t (&record)[SIM_ESC_FIRMWARE_RECORD_BYTES]);
void simEscBootRecord(const SimUnit& unit, std::uint8_t (&record)[SIM_ESC_BOOT_RECORD_BYTES]);

// Drops every owed reply that is ready at nowUs (the host flushing its input queue).
void simDiscardReadyReplies(SimUnit& unit, std::uint64_t nowUs);

// Requests in the transcript with the given command code.
std::uint32_t simCountRequests(const SimUnit& unit, std::uint8_t command);

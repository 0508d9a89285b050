// The simulated programming unit. It does for each command what the program relies on and what a
// careful unit would: it checks the guard code, keeps the ESC's flash shut under write protection
// and past its end, and refuses ESC commands when no updatable ESC is reachable.
#include "sim/sim_unit.h"

#include "device/device_link.h"
#include "device/little_endian.h"

#include <algorithm>
#include <cstring>

namespace {

using Report = std::uint8_t[SIM_REPORT_BYTES];

constexpr std::uint64_t NEVER = UINT64_MAX;
constexpr std::uint64_t US_PER_MS = 1000;

// Request offsets.
constexpr std::uint32_t REQUEST_COMMAND = 1;
constexpr std::uint32_t REQUEST_LENGTH = 2;
constexpr std::uint32_t REQUEST_FLAG = 3;
constexpr std::uint32_t REQUEST_DATA = 4;
// Reply offsets.
constexpr std::uint32_t REPLY_MARK = 1;
constexpr std::uint32_t REPLY_LENGTH = 2;
constexpr std::uint32_t REPLY_STATE = 3;
constexpr std::uint32_t REPLY_DATA = 4;

// The unit's own memory: one record at UNIT_MEMORY_RECORD_ADDRESS, erased flash elsewhere.
constexpr std::uint32_t UNIT_RECORD_TAG = 0x5A5A5A5A;
constexpr std::uint8_t UNIT_ERASED_BYTE = 0xFF;
constexpr std::uint8_t ESC_ERASED_BYTE = 0xFF;

bool faultMatches(const SimUnit& unit, std::uint8_t command, std::uint32_t dataIndex) {
    const SimFault& fault = unit.config.fault;
    if (unit.faultFired || fault.kind == SimFaultKind::None || fault.command != command) return false;
    if (command != CMD_WRITE_DATA || fault.blockIndex == SIM_ANY_BLOCK) return true;
    return fault.blockIndex == dataIndex;
}

void startReply(Report& reply, std::uint8_t command, std::uint8_t dataBytes) {
    std::memset(reply, 0, SIM_REPORT_BYTES);
    reply[0] = REPLY_REPORT_ID;
    reply[REPLY_MARK] = command;  // anything but the error mark; the command makes transcripts readable
    reply[REPLY_LENGTH] = dataBytes;
}

void makeErrorReply(Report& reply, std::uint32_t code) {
    reply[REPLY_MARK] = ERROR_REPLY_MARK;
    reply[REPLY_LENGTH] = 4;
    writeLe32(reply + REPLY_DATA, code);
}

// A state command reports the state it leaves, also when it fails.
void reportState(const SimUnit& unit, std::uint8_t command, Report& reply) {
    if (command == CMD_SYSTEM_LOCK) reply[REPLY_STATE] = unit.systemLock ? 1 : 0;
    if (command == CMD_WRITE_PROTECT) reply[REPLY_STATE] = unit.writeProtection ? 1 : 0;
}

void readUnitMemory(const SimUnit& unit, std::uint32_t address, std::uint8_t* out) {
    std::uint8_t record[UNIT_MEMORY_RECORD_BYTES];
    writeLe32(record, UNIT_RECORD_TAG);
    writeLe32(record + 4, unit.config.unitFirmwareVersion);
    writeLe32(record + 8, unit.config.unitExtra);
    for (std::uint32_t i = 0; i < UNIT_MEMORY_RECORD_BYTES; ++i) {
        const std::uint64_t at = std::uint64_t{address} + i;
        const bool inRecord =
            at >= UNIT_MEMORY_RECORD_ADDRESS && at < UNIT_MEMORY_RECORD_ADDRESS + std::uint64_t{UNIT_MEMORY_RECORD_BYTES};
        out[i] = inRecord ? record[at - UNIT_MEMORY_RECORD_ADDRESS] : UNIT_ERASED_BYTE;
    }
}

// In its own bootloader the unit relays nothing to the ESC.
bool hasUpdatableEsc(const SimUnit& unit) {
    return unit.config.unitMode == 0 && unit.config.attachedType == ATTACHED_UPDATABLE_ESC;
}

// Carries out one request and builds its reply. Returns the unit's error code, 0 when the command
// succeeded; a failed command leaves the unit's state as it was.
std::uint32_t execute(SimUnit& unit, const std::uint8_t* request, std::uint32_t received, Report& reply) {
    const std::uint8_t command = request[REQUEST_COMMAND];
    const bool on = request[REQUEST_FLAG] != 0;
    switch (command) {
        case CMD_GET_INFO: {
            const SimConfig& c = unit.config;
            startReply(reply, command, 12);
            reply[REPLY_STATE] = c.unitMode;
            if (c.unitMode == 0) {
                writeLe16(reply + 4, c.attachedType);
                writeLe16(reply + 6, c.attachedExtra);
                writeLe32(reply + 8, c.unitFirmwareVersion);
                writeLe32(reply + 12, c.unitExtra);
            } else {
                reply[4] = c.bootInfoA;
                writeLe16(reply + 5, c.bootInfoB);
                writeLe32(reply + 7, c.bootInfoC);
                writeLe32(reply + 11, c.bootInfoD);
                reply[15] = c.bootInfoE;
            }
            return 0;
        }
        case CMD_READ_UNIT_MEMORY:
            startReply(reply, command, UNIT_MEMORY_RECORD_BYTES);
            readUnitMemory(unit, readLe32(request + REQUEST_DATA), reply + REPLY_DATA);
            return 0;
        case CMD_SYSTEM_LOCK:
            startReply(reply, command, 1);
            unit.systemLock = on;
            return 0;
        case CMD_WRITE_PROTECT:
            startReply(reply, command, 1);
            if (!hasUpdatableEsc(unit)) return SIM_ERROR_NO_ESC;
            // The ESC takes what was written since the flash was opened as its new firmware.
            if (on && !unit.writeProtection && unit.wroteSinceUnprotected) {
                unit.escFirmwareVersion = SIM_WRITTEN_FIRMWARE_VERSION;
            }
            if (!on && unit.writeProtection) unit.wroteSinceUnprotected = false;
            unit.writeProtection = on;
            return 0;
        case CMD_READ_ESC_RECORD: {
            startReply(reply, command, SIM_ESC_FIRMWARE_RECORD_BYTES);
            if (!hasUpdatableEsc(unit)) return SIM_ERROR_NO_ESC;
            std::uint8_t record[SIM_ESC_FIRMWARE_RECORD_BYTES];
            simEscFirmwareRecord(unit, record);
            std::memcpy(reply + REPLY_DATA, record, sizeof record);
            return 0;
        }
        case CMD_READ_BOOT_RECORD: {
            startReply(reply, command, SIM_ESC_BOOT_RECORD_BYTES);
            if (!hasUpdatableEsc(unit)) return SIM_ERROR_NO_ESC;
            std::uint8_t record[SIM_ESC_BOOT_RECORD_BYTES];
            simEscBootRecord(unit, record);
            std::memcpy(reply + REPLY_DATA, record, sizeof record);
            return 0;
        }
        case CMD_ERASE_FIRMWARE:
            startReply(reply, command, 0);
            if (readLe32(request + REQUEST_DATA) != GUARD_CODE) return SIM_ERROR_GUARD_CODE;
            if (!hasUpdatableEsc(unit)) return SIM_ERROR_NO_ESC;
            // The ESC's flash protection holds against an erase as against a write.
            if (unit.writeProtection) return SIM_ERROR_PROTECTED;
            std::fill(unit.flash.begin(), unit.flash.end(), ESC_ERASED_BYTE);
            unit.escFirmwareVersion = ESC_WITHOUT_FIRMWARE;
            return 0;
        case CMD_SET_WRITE_ADDRESS: {
            startReply(reply, command, 0);
            if (readLe32(request + 8) != GUARD_CODE) return SIM_ERROR_GUARD_CODE;
            if (!hasUpdatableEsc(unit)) return SIM_ERROR_NO_ESC;
            const std::uint32_t address = readLe32(request + REQUEST_DATA);
            if (address > SIM_FLASH_BYTES) return SIM_ERROR_FLASH_END;
            unit.writePosition = address;
            return 0;
        }
        case CMD_WRITE_DATA: {
            startReply(reply, command, 0);
            const std::uint32_t count = request[REQUEST_LENGTH];
            // A block cut off by a short output report is refused rather than padded.
            if (REQUEST_DATA + count > received) return SIM_ERROR_BAD_LENGTH;
            if (!hasUpdatableEsc(unit)) return SIM_ERROR_NO_ESC;
            if (unit.writeProtection) return SIM_ERROR_PROTECTED;
            if (std::uint64_t{unit.writePosition} + count > SIM_FLASH_BYTES) return SIM_ERROR_FLASH_END;
            std::memcpy(unit.flash.data() + unit.writePosition, request + REQUEST_DATA, count);
            unit.writePosition += count;
            if (count != 0) unit.wroteSinceUnprotected = true;
            return 0;
        }
        default:
            startReply(reply, command, 0);
            return SIM_ERROR_UNKNOWN_COMMAND;
    }
}

}  // namespace

std::uint8_t simFlashPatternByte(std::uint32_t offset) {
    // 0x00 to 0xFE, repeating every 255 bytes, so it never lines up with a block.
    return static_cast<std::uint8_t>(offset % 0xFF);
}

void simInitUnit(SimUnit& unit, const SimConfig& config) {
    unit = SimUnit{};
    unit.config = config;
    unit.escFirmwareVersion = config.escFirmwareVersion;
    unit.flash.resize(SIM_FLASH_BYTES);
    for (std::uint32_t i = 0; i < SIM_FLASH_BYTES; ++i) unit.flash[i] = simFlashPatternByte(i);
}

void simSetFault(SimUnit& unit, const SimFault& fault) {
    unit.config.fault = fault;
    unit.faultFired = false;
}

void simEscFirmwareRecord(const SimUnit& unit, std::uint8_t (&record)[SIM_ESC_FIRMWARE_RECORD_BYTES]) {
    // Every byte differs from its neighbours, so a record copied short or shifted shows.
    for (std::uint32_t i = 0; i < SIM_ESC_FIRMWARE_RECORD_BYTES; ++i) record[i] = static_cast<std::uint8_t>(0x40 + i);
    writeLe16(record + 4, unit.escFirmwareVersion);
}

void simEscBootRecord(const SimUnit& unit, std::uint8_t (&record)[SIM_ESC_BOOT_RECORD_BYTES]) {
    for (std::uint32_t i = 0; i < SIM_ESC_BOOT_RECORD_BYTES; ++i) record[i] = static_cast<std::uint8_t>(0x80 + i);
    writeLe32(record, unit.config.escHardwareId);
    writeLe32(record + 4, unit.config.escBootloaderVersion);
}

bool simWriteRequest(SimUnit& unit, const std::uint8_t* report, std::uint32_t length, std::uint64_t nowUs) {
    if (unit.vanished) return false;
    // A HID write of another length than the output report, or without the request's report ID
    // and a command, never reaches the unit.
    if (length != unit.config.outputReportLength || length < 2 || report[0] != REQUEST_REPORT_ID) return false;

    const std::uint8_t command = report[REQUEST_COMMAND];
    const std::uint32_t dataIndex = unit.dataRequests;
    if (command == CMD_WRITE_DATA) ++unit.dataRequests;

    SimFaultKind fault = SimFaultKind::None;
    if (faultMatches(unit, command, dataIndex)) {
        fault = unit.config.fault.kind;
        unit.faultFired = true;
    }
    if (fault == SimFaultKind::Vanish) {
        unit.vanished = true;
        unit.owed.clear();
        return false;
    }
    if (fault == SimFaultKind::FailWrite) return false;

    // The unit sees the request in a full-size buffer: bytes past a short report read as zero.
    SimRequest entry;
    entry.receivedAtUs = nowUs;
    entry.length = length;
    const std::uint32_t kept = std::min(length, SIM_REPORT_BYTES);
    std::memcpy(entry.bytes, report, kept);
    unit.transcript.push_back(entry);

    SimOwedReply owed;
    owed.requestIndex = static_cast<std::uint32_t>(unit.transcript.size() - 1);
    const SimFault& f = unit.config.fault;
    if (fault == SimFaultKind::ErrorReply) {
        startReply(owed.bytes, command, 0);
        makeErrorReply(owed.bytes, f.errorCode);
    } else {
        const std::uint32_t code = execute(unit, entry.bytes, kept, owed.bytes);
        if (code != 0) makeErrorReply(owed.bytes, code);
    }
    reportState(unit, command, owed.bytes);
    if (fault == SimFaultKind::WrongState) owed.bytes[REPLY_STATE] = f.echoedState;

    const std::uint64_t dueUs =
        command == CMD_ERASE_FIRMWARE ? nowUs + std::uint64_t{unit.config.eraseDurationMs} * US_PER_MS : nowUs;
    switch (fault) {
        case SimFaultKind::NeverAnswer: owed.readyAtUs = NEVER; break;
        case SimFaultKind::LateAnswer: owed.readyAtUs = dueUs + std::uint64_t{f.lateByMs} * US_PER_MS; break;
        case SimFaultKind::FailRead:
            owed.readyAtUs = dueUs;
            owed.lost = true;
            break;
        default: owed.readyAtUs = dueUs; break;
    }
    unit.owed.push_back(owed);
    return true;
}

SimReadOutcome simReadReply(SimUnit& unit, std::uint8_t* report, std::uint32_t length, std::uint64_t nowUs,
                            std::uint64_t* readyAtUs) {
    if (unit.vanished || unit.owed.empty()) return SimReadOutcome::Failed;
    // A HID read into a buffer shorter than the input report fails and leaves the report queued.
    if (length < unit.config.inputReportLength) return SimReadOutcome::Failed;

    // Replies reach the host in the order they become ready: a late one lets later ones pass.
    auto next = std::min_element(unit.owed.begin(), unit.owed.end(), [](const SimOwedReply& a, const SimOwedReply& b) {
        return a.readyAtUs < b.readyAtUs;
    });
    if (next->readyAtUs > nowUs) {
        if (readyAtUs != nullptr) *readyAtUs = next->readyAtUs;
        return SimReadOutcome::NotYet;
    }

    const SimOwedReply taken = *next;
    unit.owed.erase(next);
    if (taken.lost) return SimReadOutcome::Failed;

    const std::uint32_t delivered = std::min<std::uint32_t>(unit.config.inputReportLength, SIM_REPORT_BYTES);
    std::memcpy(report, taken.bytes, delivered);
    if (length > delivered) std::memset(report + delivered, 0, length - delivered);
    if (taken.requestIndex < unit.transcript.size()) {
        unit.transcript[taken.requestIndex].repliedAtUs = nowUs;
        unit.transcript[taken.requestIndex].sentAtUs = nowUs;
    }
    return SimReadOutcome::Reply;
}

void simDiscardReadyReplies(SimUnit& unit, std::uint64_t nowUs) {
    unit.owed.erase(std::remove_if(unit.owed.begin(), unit.owed.end(),
                                   [nowUs](const SimOwedReply& owed) { return owed.readyAtUs <= nowUs; }),
                    unit.owed.end());
}

std::uint32_t simCountRequests(const SimUnit& unit, std::uint8_t command) {
    return static_cast<std::uint32_t>(std::count_if(unit.transcript.begin(), unit.transcript.end(),
                                                    [command](const SimRequest& r) { return r.bytes[1] == command; }));
}

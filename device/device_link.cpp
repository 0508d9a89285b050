#include "device/device_link.h"

#include "device/hid_port.h"
#include "device/little_endian.h"

#include <cstring>
#include <cwchar>
#include <new>

DeviceLinkRecord DeviceLink = {INVALID_HANDLE_VALUE, nullptr, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, {}, {}, 0, {}};

namespace {

using Report = std::uint8_t[REPORT_BUFFER_BYTES];

constexpr std::uint8_t UNIT_INFO_LENGTH_BYTE = 0x00;
constexpr std::uint8_t STATE_REQUEST_LENGTH = 0x01;
constexpr std::uint8_t ERASE_REQUEST_LENGTH = 0x04;
constexpr std::uint8_t SET_ADDRESS_REQUEST_LENGTH = 0x09;
constexpr std::uint8_t SET_ADDRESS_FLAG = 0x01;
constexpr std::uint32_t FIRMWARE_START_ADDRESS = 0;
constexpr std::uint8_t ESC_RECORD_REQUEST_LENGTH = 0x08;
constexpr std::int32_t ESC_RECORD_SPAN = 32;  // the unit wants the record's size and its negative

// Offsets inside a reply.
constexpr std::uint32_t REPLY_MARK = 1;
constexpr std::uint32_t REPLY_STATE = 3;
constexpr std::uint32_t REPLY_DATA = 4;

bool isErrorReply(const Report& reply) { return reply[REPLY_MARK] == ERROR_REPLY_MARK; }

void startRequest(Report& request, std::uint8_t command, std::uint8_t lengthOrParameter) {
    std::memset(request, 0, REPORT_BUFFER_BYTES);
    request[0] = REQUEST_REPORT_ID;
    request[1] = command;
    request[2] = lengthOrParameter;
}

std::uint8_t asStateFlag(std::uint32_t on) { return on != 0 ? 1 : 0; }

// Commands whose whole 32-bit error code counts.
std::int32_t errorCodeOrSuccess(const Report& reply) {
    return isErrorReply(reply) ? static_cast<std::int32_t>(readLe32(reply + REPLY_DATA)) : RESULT_OK;
}

struct ScanContext {
    DeviceLinkRecord* link;
    DeviceLinkPathFilter accept;  // null: any unit
    void* acceptContext;
};

bool takeFirstProgrammingUnit(const wchar_t* path, void* context) {
    const ScanContext& scan = *static_cast<ScanContext*>(context);
    if (scan.accept != nullptr && !scan.accept(path, scan.acceptContext)) return false;
    HANDLE device = hidPortOpen(path);
    if (device == INVALID_HANDLE_VALUE) return false;

    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    if (!hidPortGetAttributes(device, &vendorId, &productId) || !isProgrammingUnit(vendorId, productId)) {
        hidPortClose(device);
        return false;
    }

    const std::size_t pathChars = std::wcslen(path) + 1;
    wchar_t* pathCopy = new (std::nothrow) wchar_t[pathChars];
    if (pathCopy == nullptr) {
        hidPortClose(device);
        return false;
    }
    std::wmemcpy(pathCopy, path, pathChars);

    DeviceLinkRecord& link = *scan.link;
    link.productId = productId;
    link.deviceHandle = device;
    link.devicePath = pathCopy;
    return true;
}

}  // namespace

bool isProgrammingUnit(std::uint16_t vendorId, std::uint16_t productId) {
    return vendorId == UNIT_VENDOR_ID && (productId == PRODUCT_ID_DIALPUCK || productId == PRODUCT_ID_VEXOBOX);
}

bool isDeviceLinkOpen(const DeviceLinkRecord& link) { return link.deviceHandle != INVALID_HANDLE_VALUE; }

void resetDeviceLink(DeviceLinkRecord& link) {
    std::memset(&link, 0, sizeof link);
    link.deviceHandle = INVALID_HANDLE_VALUE;
}

void closeDeviceLink(DeviceLinkRecord& link) {
    if (link.deviceHandle != INVALID_HANDLE_VALUE) hidPortClose(link.deviceHandle);
    delete[] link.devicePath;
    resetDeviceLink(link);
}

std::int32_t openDeviceLink(DeviceLinkRecord& link) { return openDeviceLinkWhere(link, nullptr, nullptr); }

std::int32_t openDeviceLinkWhere(DeviceLinkRecord& link, DeviceLinkPathFilter accept, void* acceptContext) {
    closeDeviceLink(link);
    ScanContext context{&link, accept, acceptContext};
    switch (hidPortScanInterfaces(takeFirstProgrammingUnit, &context)) {
        case HidScanOutcome::ListUnavailable: return RESULT_NO_LINK;
        case HidScanOutcome::Exhausted: return RESULT_NO_UNIT;
        case HidScanOutcome::Taken: break;
    }
    return identifyDevice(link);
}

std::int32_t readReportLengths(DeviceLinkRecord& link) {
    if (link.deviceHandle == INVALID_HANDLE_VALUE || link.devicePath == nullptr) return RESULT_NO_LINK;
    UnitReportLengths lengths{};
    const bool read = hidPortGetReportLengths(link.deviceHandle, &lengths);
    link.reportLayout = lengths;
    if (!read || !linkCanUseReports(lengths)) return RESULT_NO_LINK;
    link.outputReportLength = lengths.outputBytes;
    link.inputReportLength = lengths.inputBytes;
    return RESULT_OK;
}

bool linkCanUseReports(const UnitReportLengths& lengths) {
    // Every request and reply passes through a 60-byte buffer; a unit with longer reports would be
    // read into and written from past its end.
    return lengths.layout == ReportLayout::Counted && lengths.inputBytes <= REPORT_BUFFER_BYTES &&
           lengths.outputBytes <= REPORT_BUFFER_BYTES;
}

std::int32_t exchangeReport(DeviceLinkRecord& link, const Report& request, Report& reply, std::uint32_t replyDelayMs) {
    if (link.deviceHandle == INVALID_HANDLE_VALUE) return RESULT_NO_LINK;
    // The lengths come from the capability step; a record that skipped it, or was tampered with,
    // must still never move more than the buffers hold.
    if (link.outputReportLength > REPORT_BUFFER_BYTES || link.inputReportLength > REPORT_BUFFER_BYTES) {
        return RESULT_NO_LINK;
    }
    // A reply that came after its request was given up must not pass for the answer to this one.
    if (!hidPortDiscardPendingInput(link.deviceHandle)) return RESULT_WRITE_FAILED;
    if (!hidPortWrite(link.deviceHandle, request, link.outputReportLength, WRITE_TIMEOUT_MS)) return RESULT_WRITE_FAILED;
    if (replyDelayMs != 0) hidPortSleep(replyDelayMs);
    std::memset(reply, 0, REPORT_BUFFER_BYTES);
    reply[0] = REPLY_REPORT_ID;
    if (!hidPortRead(link.deviceHandle, reply, link.inputReportLength, REPLY_TIMEOUT_MS)) return RESULT_READ_FAILED;
    return RESULT_OK;
}

std::int32_t setSystemLock(DeviceLinkRecord& link, std::uint32_t on) {
    Report request;
    Report reply;
    startRequest(request, CMD_SYSTEM_LOCK, STATE_REQUEST_LENGTH);
    request[3] = asStateFlag(on);
    const std::int32_t result = exchangeReport(link, request, reply);
    if (result != RESULT_OK) return result;
    // The unit reports its lock state even in an error reply, so the state alone decides.
    return reply[REPLY_STATE] == request[3] ? RESULT_OK : RESULT_STATE_MISMATCH;
}

std::int32_t setWriteProtection(DeviceLinkRecord& link, std::uint32_t on) {
    Report request;
    Report reply;
    startRequest(request, CMD_WRITE_PROTECT, STATE_REQUEST_LENGTH);
    request[3] = asStateFlag(on);
    const std::int32_t result = exchangeReport(link, request, reply);
    if (result != RESULT_OK) return result;
    if (isErrorReply(reply)) return errorCodeOrSuccess(reply);
    return reply[REPLY_STATE] == request[3] ? RESULT_OK : RESULT_STATE_MISMATCH;
}

std::int32_t eraseFirmware(DeviceLinkRecord& link) {
    Report request;
    Report reply;
    startRequest(request, CMD_ERASE_FIRMWARE, ERASE_REQUEST_LENGTH);
    writeLe32(request + 4, GUARD_CODE);
    const std::int32_t result = exchangeReport(link, request, reply, ERASE_REPLY_DELAY_MS);
    return result != RESULT_OK ? result : errorCodeOrSuccess(reply);
}

std::int32_t setWriteAddress(DeviceLinkRecord& link) {
    Report request;
    Report reply;
    startRequest(request, CMD_SET_WRITE_ADDRESS, SET_ADDRESS_REQUEST_LENGTH);
    request[3] = SET_ADDRESS_FLAG;
    writeLe32(request + 4, FIRMWARE_START_ADDRESS);
    writeLe32(request + 8, GUARD_CODE);
    const std::int32_t result = exchangeReport(link, request, reply);
    return result != RESULT_OK ? result : errorCodeOrSuccess(reply);
}

std::int32_t writeDataBlock(DeviceLinkRecord& link, const std::uint8_t* data, std::uint32_t wordCount) {
    if (link.deviceHandle == INVALID_HANDLE_VALUE || wordCount > MAX_BLOCK_WORDS) return RESULT_NO_LINK;
    const std::uint32_t dataBytes = 4 * wordCount;
    Report request;
    Report reply;
    startRequest(request, CMD_WRITE_DATA, static_cast<std::uint8_t>(dataBytes));
    if (dataBytes != 0) std::memcpy(request + 4, data, dataBytes);
    const std::int32_t result = exchangeReport(link, request, reply);
    return result != RESULT_OK ? result : errorCodeOrSuccess(reply);
}

std::int32_t identifyDevice(DeviceLinkRecord& link) {
    if (readReportLengths(link) != RESULT_OK) return RESULT_NO_LINK;

    Report request;
    Report reply;
    startRequest(request, CMD_GET_INFO, UNIT_INFO_LENGTH_BYTE);
    std::int32_t result = exchangeReport(link, request, reply);
    if (result != RESULT_OK) return result;

    link.unitMode = reply[REPLY_STATE];
    if (link.unitMode != 0) {
        // The unit runs its own bootloader: its information has another layout, and its firmware
        // version must be read from its memory. Nothing is asked of the ESC in this mode.
        link.bootInfoA = reply[4];
        link.bootInfoB = readLe16(reply + 5);
        link.bootInfoC = readLe32(reply + 7);
        link.bootInfoD = readLe32(reply + 11);
        link.bootInfoE = reply[15];

        startRequest(request, CMD_READ_UNIT_MEMORY, UNIT_MEMORY_RECORD_BYTES);
        writeLe32(request + 4, UNIT_MEMORY_RECORD_ADDRESS);
        result = exchangeReport(link, request, reply);
        if (result == RESULT_WRITE_FAILED) return RESULT_NO_LINK;  // this request alone reports -1
        if (result != RESULT_OK) return result;
        link.unitFirmwareVersion = readLe32(reply + REPLY_DATA + 4);
        link.unitExtra = readLe32(reply + REPLY_DATA + 8);
        return RESULT_OK;
    }

    link.attachedType = readLe16(reply + 4);
    link.attachedExtra = readLe16(reply + 6);
    link.unitFirmwareVersion = readLe32(reply + 8);
    link.unitExtra = readLe32(reply + 12);
    if (link.attachedType != ATTACHED_UPDATABLE_ESC) return RESULT_OK;

    // Only the low half of an error code counts for the two ESC records.
    startRequest(request, CMD_READ_ESC_RECORD, ESC_RECORD_REQUEST_LENGTH);
    writeLe32(request + 4, static_cast<std::uint32_t>(ESC_RECORD_SPAN));
    writeLe32(request + 8, static_cast<std::uint32_t>(-ESC_RECORD_SPAN));
    result = exchangeReport(link, request, reply);
    if (result != RESULT_OK) return result;
    if (isErrorReply(reply)) {
        const std::uint16_t code = readLe16(reply + REPLY_DATA);
        if (code != 0) return code;
    } else {
        std::memcpy(link.escFirmwareRecord, reply + REPLY_DATA, ESC_FIRMWARE_RECORD_BYTES);
    }

    startRequest(request, CMD_READ_BOOT_RECORD, 0);
    result = exchangeReport(link, request, reply);
    if (result != RESULT_OK) return result;
    if (isErrorReply(reply)) return readLe16(reply + REPLY_DATA);
    std::memcpy(link.escBootRecord, reply + REPLY_DATA, ESC_BOOT_RECORD_BYTES);
    return RESULT_OK;
}

std::uint16_t escFirmwareVersion(const DeviceLinkRecord& link) { return readLe16(link.escFirmwareRecord + 4); }

void setEscFirmwareVersion(DeviceLinkRecord& link, std::uint16_t version) {
    writeLe16(link.escFirmwareRecord + 4, version);
}

std::uint32_t escHardwareId(const DeviceLinkRecord& link) { return readLe32(link.escBootRecord); }

std::uint32_t escBootloaderVersion(const DeviceLinkRecord& link) { return readLe32(link.escBootRecord + 4); }

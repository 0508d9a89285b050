// The switch between the HID ports. Until a port is chosen every call fails the way a system
// without HID devices would, so a front end that forgot to choose gets errors, never a crash.
#include "device/hid_port.h"

namespace {

HidScanOutcome noScan(HidInterfaceVisitor, void*) { return HidScanOutcome::ListUnavailable; }
bool noList(HidInterfaceInfoVisitor, void*) { return false; }
HANDLE noOpen(const wchar_t*, HidOpenFailure* failure) {
    *failure = HidOpenFailure::Other;
    return INVALID_HANDLE_VALUE;
}
void noClose(HANDLE) {}
bool noAttributes(HANDLE, std::uint16_t*, std::uint16_t*) { return false; }
bool noLengths(HANDLE, UnitReportLengths*) { return false; }
bool noDiscard(HANDLE) { return false; }
bool noWrite(HANDLE, const std::uint8_t*, std::uint32_t, std::uint32_t) { return false; }
bool noRead(HANDLE, std::uint8_t*, std::uint32_t, std::uint32_t) { return false; }
void noSleep(std::uint32_t) {}
std::uint32_t noLastError() { return 0; }

constexpr HidPort NO_HID_PORT = {
    "none", noScan, noList, noOpen, noClose, noAttributes, noLengths, noDiscard, noWrite, noRead, noSleep, noLastError,
};

const HidPort* ActivePort = &NO_HID_PORT;

}  // namespace

void useHidPort(const HidPort& port) { ActivePort = &port; }
void useNoHidPort() { ActivePort = &NO_HID_PORT; }
const char* hidPortName() { return ActivePort->name; }

HidScanOutcome hidPortScanInterfaces(HidInterfaceVisitor visit, void* context) {
    return ActivePort->scanInterfaces(visit, context);
}

bool hidPortListInterfaces(HidInterfaceInfoVisitor visit, void* context) {
    return ActivePort->listInterfaces(visit, context);
}

HANDLE hidPortOpen(const wchar_t* path, HidOpenFailure* failure) {
    HidOpenFailure cause = HidOpenFailure::None;
    const HANDLE device = ActivePort->open(path, &cause);
    if (device != INVALID_HANDLE_VALUE) cause = HidOpenFailure::None;
    if (failure != nullptr) *failure = cause;
    return device;
}

void hidPortClose(HANDLE device) { ActivePort->close(device); }

bool hidPortGetAttributes(HANDLE device, std::uint16_t* vendorId, std::uint16_t* productId) {
    return ActivePort->getAttributes(device, vendorId, productId);
}

bool hidPortGetReportLengths(HANDLE device, UnitReportLengths* lengths) {
    *lengths = {ReportLayout::Unreadable, 0, 0};
    if (ActivePort->getReportLengths(device, lengths)) return true;
    *lengths = {ReportLayout::Unreadable, 0, 0};
    return false;
}

bool hidPortDiscardPendingInput(HANDLE device) { return ActivePort->discardPendingInput(device); }

bool hidPortWrite(HANDLE device, const std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs) {
    return ActivePort->write(device, report, length, timeoutMs);
}

bool hidPortRead(HANDLE device, std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs) {
    return ActivePort->read(device, report, length, timeoutMs);
}

void hidPortSleep(std::uint32_t ms) { ActivePort->sleep(ms); }

std::uint32_t hidPortLastError() { return ActivePort->lastError(); }

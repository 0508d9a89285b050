// The HID port of the page (WEB_HID_PORT): device/hid_port.h over WebHID. The core runs in a
// dedicated worker, which has navigator.hid of its own (Chromium 131 and later): every call goes
// to Module.webHid (page_hid.js) in the same worker, which keeps the time-outs, whose timers keep
// their length in a background tab. Input reports are queued there from the moment a device is
// opened until they are read or discarded. The JavaScript side answers with outcomes
// (TransferOutcome); the errno values the core reports are made from them here, from the one
// <cerrno> the core is built with.
#include "web/hid_port_web.h"

#include "device/precise_wait.h"

#include <emscripten.h>

#include <cerrno>
#include <cstdint>
#include <cwchar>

namespace {

constexpr std::uintptr_t FIRST_HANDLE = 0x1000;
constexpr std::size_t PATH_CHARS = 32;

std::uint32_t LastError = 0;
HidOpenFailure LastOpenFailure = HidOpenFailure::None;

bool failWith(std::uint32_t error) {
    LastError = error;
    return false;
}

// The devices the page may use (granted before, or chosen in the browser's chooser): their
// count; each one's number, IDs and report lengths are then read with grantedDevice.
EM_ASYNC_JS(int, listGrantedDevices, (), { return await Module.webHid.list(); });
EM_JS(int, grantedDevice, (int index, int field), { return Module.webHid.field(index, field); });
// 0 opened; else an HidOpenFailure value.
EM_ASYNC_JS(int, openGrantedDevice, (int device), { return await Module.webHid.open(device); });
EM_JS(void, closeGrantedDevice, (int device), { Module.webHid.close(device); });
EM_JS(int, deviceIsGone, (int device), { return Module.webHid.gone(device) ? 1 : 0; });
EM_JS(void, dropQueuedInput, (int device), { Module.webHid.discard(device); });

std::uint32_t errnoOf(int outcome) {
    switch (outcome) {
        case TRANSFER_TIMED_OUT: return ETIMEDOUT;
        case TRANSFER_DEVICE_GONE: return ENODEV;
        default: return EIO;
    }
}

// A TransferOutcome.
EM_ASYNC_JS(int, sendOutputReport, (int device, const std::uint8_t* data, int length, int timeoutMs), {
    return await Module.webHid.write(device, HEAPU8.slice(data, data + length), timeoutMs);
});
// The data of the next input report with the reply ID (the bytes after the ID), at most room bytes
// of it copied to buffer: their count, or minus a TransferOutcome.
EM_ASYNC_JS(int, receiveInputReport, (int device, std::uint8_t* buffer, int room, int timeoutMs), {
    const data = await Module.webHid.read(device, timeoutMs);
    if (typeof data === 'number') return -data;
    const count = Math.min(room, data.length);
    HEAPU8.set(data.subarray(0, count), buffer);
    return count;
});

enum DeviceField { FIELD_NUMBER = 0, FIELD_VENDOR = 1, FIELD_PRODUCT = 2 };

HANDLE handleOf(int device) { return reinterpret_cast<HANDLE>(FIRST_HANDLE + static_cast<std::uintptr_t>(device)); }

// The device number behind a handle; -1 for one that is not ours.
int deviceOf(HANDLE handle) {
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    if (handle == INVALID_HANDLE_VALUE || value < FIRST_HANDLE || value >= FIRST_HANDLE + 0x10000) return -1;
    return static_cast<int>(value - FIRST_HANDLE);
}

// "webhid:<number>"; -1 for any other path.
int deviceOfPath(const wchar_t* path) {
    const wchar_t prefix[] = L"webhid:";
    const std::size_t prefixChars = sizeof prefix / sizeof prefix[0] - 1;
    if (path == nullptr || std::wcsncmp(path, prefix, prefixChars) != 0) return -1;
    int device = 0;
    const wchar_t* c = path + prefixChars;
    if (*c == L'\0') return -1;
    for (; *c != L'\0'; ++c) {
        if (*c < L'0' || *c > L'9' || device > 0xFFFF) return -1;
        device = device * 10 + (*c - L'0');
    }
    return device;
}

// Finds a listed device by its number: its index in the list, or -1.
int listedIndex(int device) {
    const int count = listGrantedDevices();
    for (int i = 0; i < count; ++i) {
        if (grantedDevice(i, FIELD_NUMBER) == device) return i;
    }
    return -1;
}

HidScanOutcome webScan(HidInterfaceVisitor visit, void* context) {
    const int count = listGrantedDevices();
    if (count < 0) return HidScanOutcome::ListUnavailable;
    for (int i = 0; i < count; ++i) {
        wchar_t path[PATH_CHARS];
        std::swprintf(path, PATH_CHARS, L"webhid:%d", grantedDevice(i, FIELD_NUMBER));
        if (visit(path, context)) return HidScanOutcome::Taken;
    }
    return HidScanOutcome::Exhausted;
}

bool webList(HidInterfaceInfoVisitor visit, void* context) {
    const int count = listGrantedDevices();
    if (count < 0) return false;
    for (int i = 0; i < count; ++i) {
        wchar_t path[PATH_CHARS];
        std::swprintf(path, PATH_CHARS, L"webhid:%d", grantedDevice(i, FIELD_NUMBER));
        const HidInterfaceInfo info{path, static_cast<std::uint16_t>(grantedDevice(i, FIELD_VENDOR)),
                                    static_cast<std::uint16_t>(grantedDevice(i, FIELD_PRODUCT))};
        if (visit(info, context)) return true;
    }
    return true;
}

HANDLE webOpen(const wchar_t* path, HidOpenFailure* failure) {
    const int device = deviceOfPath(path);
    HidOpenFailure outcome = device < 0 || listedIndex(device) < 0 ? HidOpenFailure::NotFound
                                                                    : static_cast<HidOpenFailure>(openGrantedDevice(device));
    LastOpenFailure = outcome;
    if (failure != nullptr) *failure = outcome;
    switch (outcome) {
        case HidOpenFailure::None: return handleOf(device);
        case HidOpenFailure::NotFound: failWith(ENOENT); break;
        case HidOpenFailure::AccessDenied: failWith(EACCES); break;
        case HidOpenFailure::Busy: failWith(EBUSY); break;
        case HidOpenFailure::Other: failWith(EIO); break;
    }
    return INVALID_HANDLE_VALUE;
}

void webClose(HANDLE handle) {
    const int device = deviceOf(handle);
    if (device >= 0) closeGrantedDevice(device);
}

bool webAttributes(HANDLE handle, std::uint16_t* vendorId, std::uint16_t* productId) {
    const int index = listedIndex(deviceOf(handle));
    if (index < 0 || deviceIsGone(deviceOf(handle))) return failWith(ENODEV);
    *vendorId = static_cast<std::uint16_t>(grantedDevice(index, FIELD_VENDOR));
    *productId = static_cast<std::uint16_t>(grantedDevice(index, FIELD_PRODUCT));
    return true;
}

// The listed device's collections in the compact form of device/hid_report_descriptor.h: their
// byte count, copied to buffer only when they fit in room; -1 when the page has none to give.
EM_JS(int, grantedDeviceCollections, (int index, std::uint8_t* buffer, int room), {
    const bytes = Module.webHid.collections(index);
    if (!bytes) return -1;
    if (bytes.length <= room) HEAPU8.set(bytes, buffer);
    return bytes.length;
});
// Room for a thousand reports; a unit has two.
constexpr int MAX_COLLECTION_BYTES = 6144;

bool webReportLengths(HANDLE handle, UnitReportLengths* lengths) {
    const int index = listedIndex(deviceOf(handle));
    if (index < 0 || deviceIsGone(deviceOf(handle))) return failWith(ENODEV);
    static std::uint8_t compact[MAX_COLLECTION_BYTES];
    const int bytes = grantedDeviceCollections(index, compact, MAX_COLLECTION_BYTES);
    *lengths = bytes < 0 || bytes > MAX_COLLECTION_BYTES
                   ? UnitReportLengths{ReportLayout::Unreadable, 0, 0}
                   : unitReportLengthsFromCollections(compact, static_cast<std::size_t>(bytes));
    return true;
}

bool webDiscard(HANDLE handle) {
    const int device = deviceOf(handle);
    if (device < 0 || deviceIsGone(device)) return failWith(ENODEV);
    dropQueuedInput(device);
    return true;
}

// The report as the device link builds it: the ID, then the request. WebHID takes the ID apart
// and the bytes after it, exactly the output report's length less the ID.
bool webWrite(HANDLE handle, const std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs) {
    const int device = deviceOf(handle);
    if (device < 0 || deviceIsGone(device)) return failWith(ENODEV);
    if (length < 1 || report[0] != REQUEST_REPORT_ID) return failWith(EINVAL);
    const int error = sendOutputReport(device, report + 1, static_cast<int>(length - 1), static_cast<int>(timeoutMs));
    if (error != TRANSFER_DONE) return failWith(errnoOf(error));
    return true;
}

bool webRead(HANDLE handle, std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs) {
    const int device = deviceOf(handle);
    if (device < 0) return failWith(ENODEV);
    if (length < 1) return failWith(EINVAL);
    const int count = receiveInputReport(device, report + 1, static_cast<int>(length - 1), static_cast<int>(timeoutMs));
    if (count < 0) return failWith(errnoOf(-count));
    report[0] = REPLY_REPORT_ID;
    for (std::uint32_t i = 1 + static_cast<std::uint32_t>(count); i < length; ++i) report[i] = 0;
    return true;
}

void webSleep(std::uint32_t ms) { waitAtLeast(ms, nullptr); }

std::uint32_t webLastError() { return LastError; }

}  // namespace

const HidPort WEB_HID_PORT = {"webhid",  webScan,  webList,  webOpen,  webClose, webAttributes, webReportLengths,
                              webDiscard, webWrite, webRead, webSleep, webLastError};

HidOpenFailure webLastOpenFailure() { return LastOpenFailure; }

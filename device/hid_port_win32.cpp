// The HID port over SetupAPI, the HID library and file I/O.
#include "device/hid_port.h"

#include "device/precise_wait.h"

#include <windows.h>
#include <setupapi.h>
// MinGW's HID headers declare C functions without saying so.
extern "C" {
#include <hidsdi.h>
#include <hidpi.h>
}

#include <cstdlib>

namespace {

struct DeviceInfoSet {
    HDEVINFO set;
    ~DeviceInfoSet() { SetupDiDestroyDeviceInfoList(set); }
};

struct PreparsedData {
    PHIDP_PREPARSED_DATA data = nullptr;
    ~PreparsedData() {
        if (data != nullptr) HidD_FreePreparsedData(data);
    }
};

// Starts an overlapped write or read and waits for it at most timeoutMs. A transfer that does
// not finish in time is cancelled, and the cancellation is waited for, so the buffer is never
// written to after this returns. The last error is kept for the caller.
bool transferWithin(HANDLE device, bool isWrite, void* buffer, DWORD length, DWORD timeoutMs) {
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) return false;

    DWORD transferred = 0;
    BOOL done = isWrite ? WriteFile(device, buffer, length, nullptr, &overlapped)
                        : ReadFile(device, buffer, length, nullptr, &overlapped);
    bool succeeded = false;
    DWORD error = ERROR_SUCCESS;
    if (done) {
        succeeded = GetOverlappedResult(device, &overlapped, &transferred, TRUE) != FALSE;
    } else if (GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(overlapped.hEvent, timeoutMs) == WAIT_OBJECT_0) {
            succeeded = GetOverlappedResult(device, &overlapped, &transferred, FALSE) != FALSE;
        } else {
            CancelIoEx(device, &overlapped);
            GetOverlappedResult(device, &overlapped, &transferred, TRUE);
            SetLastError(ERROR_TIMEOUT);  // even if the transfer slipped in meanwhile: it came too late
        }
    }
    error = GetLastError();
    CloseHandle(overlapped.hEvent);
    SetLastError(succeeded ? ERROR_SUCCESS : error);
    return succeeded;
}

HidScanOutcome scanInterfaces(HidInterfaceVisitor visit, void* context) {
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    HDEVINFO set = SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return HidScanOutcome::ListUnavailable;
    const DeviceInfoSet release{set};

    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA interfaceData = {};
        interfaceData.cbSize = sizeof interfaceData;
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, index, &interfaceData)) {
            return HidScanOutcome::Exhausted;
        }

        // The first call only yields the size; an interface that gives none is skipped.
        DWORD detailBytes = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, nullptr, 0, &detailBytes, nullptr);
        if (detailBytes < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) continue;

        // One spare, zeroed character keeps the path terminated whatever the call leaves in the buffer.
        auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(std::calloc(1, detailBytes + sizeof(wchar_t)));
        if (detail == nullptr) continue;
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        const bool described =
            SetupDiGetDeviceInterfaceDetailW(set, &interfaceData, detail, detailBytes, nullptr, nullptr) != FALSE;
        const bool taken = described && visit(detail->DevicePath, context);
        std::free(detail);
        if (taken) return HidScanOutcome::Taken;
    }
}

HidOpenFailure openFailureOf(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED: return HidOpenFailure::AccessDenied;
        case ERROR_SHARING_VIOLATION: return HidOpenFailure::Busy;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_DEVICE_NOT_CONNECTED: return HidOpenFailure::NotFound;
        default: return HidOpenFailure::Other;
    }
}

HANDLE openInterface(const wchar_t* path, HidOpenFailure* failure) {
    // Overlapped, so that every write and read can be given up when the unit stops answering.
    const HANDLE device = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    *failure = device == INVALID_HANDLE_VALUE ? openFailureOf(GetLastError()) : HidOpenFailure::None;
    return device;
}

void closeInterface(HANDLE device) { CloseHandle(device); }

bool getAttributes(HANDLE device, std::uint16_t* vendorId, std::uint16_t* productId) {
    HIDD_ATTRIBUTES attributes = {};
    attributes.Size = sizeof attributes;
    if (!HidD_GetAttributes(device, &attributes)) return false;
    *vendorId = attributes.VendorID;
    *productId = attributes.ProductID;
    return true;
}

// Windows opens one top-level collection per interface path: its capabilities are the unit's.
bool getReportLengths(HANDLE device, UnitReportLengths* lengths) {
    PreparsedData preparsed;
    if (!HidD_GetPreparsedData(device, &preparsed.data)) return false;
    HIDP_CAPS caps = {};
    if (HidP_GetCaps(preparsed.data, &caps) != HIDP_STATUS_SUCCESS) return false;
    *lengths = {ReportLayout::Counted, caps.InputReportByteLength, caps.OutputReportByteLength};
    return true;
}

bool discardPendingInput(HANDLE device) { return HidD_FlushQueue(device) != FALSE; }

bool writeReport(HANDLE device, const std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs) {
    return transferWithin(device, true, const_cast<std::uint8_t*>(report), length, timeoutMs);
}

bool readReport(HANDLE device, std::uint8_t* report, std::uint32_t length, std::uint32_t timeoutMs) {
    return transferWithin(device, false, report, length, timeoutMs);
}

void sleepPlainly(std::uint32_t ms) { waitAtLeast(ms, nullptr); }

std::uint32_t lastError() { return GetLastError(); }

struct ListContext {
    HidInterfaceInfoVisitor visit;
    void* context;
    bool stopped;
};

// Opened without read or write access, an interface still answers for its attributes, even one
// that another program holds exclusively; nothing can be sent or read through such a handle.
bool describeInterface(const wchar_t* path, void* context) {
    ListContext& list = *static_cast<ListContext*>(context);
    const HANDLE query = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (query == INVALID_HANDLE_VALUE) return false;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    const bool described = getAttributes(query, &vendorId, &productId);
    CloseHandle(query);
    if (!described) return false;
    list.stopped = list.visit(HidInterfaceInfo{path, vendorId, productId}, list.context);
    return list.stopped;
}

bool listInterfaces(HidInterfaceInfoVisitor visit, void* context) {
    ListContext list{visit, context, false};
    return scanInterfaces(describeInterface, &list) != HidScanOutcome::ListUnavailable;
}

}  // namespace

extern const HidPort WIN32_HID_PORT = {
    "win32",       scanInterfaces, listInterfaces, openInterface, closeInterface, getAttributes, getReportLengths,
    discardPendingInput, writeReport, readReport, sleepPlainly, lastError,
};

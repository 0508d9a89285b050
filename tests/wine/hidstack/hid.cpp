// The rig's HID library: presents the units file's interfaces, whose device paths are named pipes
// served by the simulator, as HID devices. Only what the programs call is here.
#include "tests/wine/hidstack/units_file.h"

#include <windows.h>
extern "C" {
#include <hidsdi.h>
}

#include <cstring>

namespace {

constexpr std::uint32_t PREPARSED_MAGIC = 0x44504851;  // "QHPD"
constexpr DWORD FLUSH_READ_WAIT_MS = 1000;              // a message that is already there arrives at once
constexpr int FLUSH_MESSAGES_MAX = 4096;
constexpr USHORT VENDOR_DEFINED_PAGE = 0xFF00;

// What HidD_GetPreparsedData hands out: only the report lengths matter to the programs.
struct RigPreparsedData {
    std::uint32_t magic;
    std::uint16_t inputReportLength;
    std::uint16_t outputReportLength;
};

// A device handle is the client end of a pipe, which opens in byte mode; a HID read returns one
// whole input report, so the handle is switched to message mode before anyone reads from it.
void useMessageMode(HANDLE device) {
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(device, &mode, nullptr, nullptr);
}

// The units file's entry for the device behind the handle; false (ERROR_DEVICE_NOT_CONNECTED)
// when the device has been unplugged since it was opened.
bool findDevice(HANDLE device, UnitsEntry* entry) {
    alignas(FILE_NAME_INFO) unsigned char buffer[sizeof(FILE_NAME_INFO) + UNITS_PATH_CHARS * sizeof(wchar_t)];
    if (!GetFileInformationByHandleEx(device, FileNameInfo, buffer, sizeof buffer)) return false;
    const auto* name = reinterpret_cast<const FILE_NAME_INFO*>(buffer);

    UnitsList units;
    if (!unitsFileRead(&units)) return false;
    const UnitsEntry* found = unitsFindPipe(units, name->FileName, name->FileNameLength / sizeof(wchar_t));
    if (found == nullptr) {
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return false;
    }
    *entry = *found;
    return true;
}

}  // namespace

extern "C" {

void NTAPI HidD_GetHidGuid(LPGUID hidGuid) { *hidGuid = HID_INTERFACE_CLASS; }

BOOLEAN NTAPI HidD_GetAttributes(HANDLE device, PHIDD_ATTRIBUTES attributes) {
    UnitsEntry entry;
    if (!findDevice(device, &entry)) return FALSE;
    useMessageMode(device);
    attributes->VendorID = entry.vendorId;
    attributes->ProductID = entry.productId;
    attributes->VersionNumber = 0x0100;
    return TRUE;
}

BOOLEAN NTAPI HidD_GetPreparsedData(HANDLE device, PHIDP_PREPARSED_DATA* preparsedData) {
    UnitsEntry entry;
    if (!findDevice(device, &entry)) return FALSE;
    useMessageMode(device);
    auto* data = static_cast<RigPreparsedData*>(HeapAlloc(GetProcessHeap(), 0, sizeof(RigPreparsedData)));
    if (data == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    data->magic = PREPARSED_MAGIC;
    data->inputReportLength = entry.inputReportLength;
    data->outputReportLength = entry.outputReportLength;
    *preparsedData = reinterpret_cast<PHIDP_PREPARSED_DATA>(data);
    return TRUE;
}

BOOLEAN NTAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsedData) {
    auto* data = reinterpret_cast<RigPreparsedData*>(preparsedData);
    if (data == nullptr || data->magic != PREPARSED_MAGIC) return FALSE;
    data->magic = 0;  // a second free is refused instead of corrupting the heap
    HeapFree(GetProcessHeap(), 0, data);
    return TRUE;
}

NTSTATUS NTAPI HidP_GetCaps(PHIDP_PREPARSED_DATA preparsedData, PHIDP_CAPS caps) {
    const auto* data = reinterpret_cast<const RigPreparsedData*>(preparsedData);
    if (data == nullptr || data->magic != PREPARSED_MAGIC) return HIDP_STATUS_INVALID_PREPARSED_DATA;
    std::memset(caps, 0, sizeof *caps);
    caps->UsagePage = VENDOR_DEFINED_PAGE;
    caps->Usage = 1;
    caps->InputReportByteLength = data->inputReportLength;
    caps->OutputReportByteLength = data->outputReportLength;
    return HIDP_STATUS_SUCCESS;
}

// Drops every input report waiting on the handle without waiting for more. FALSE when the device
// is gone, as the system's does.
BOOLEAN NTAPI HidD_FlushQueue(HANDLE device) {
    useMessageMode(device);
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) return FALSE;

    BOOLEAN flushed = FALSE;
    for (int message = 0; message < FLUSH_MESSAGES_MAX; ++message) {
        DWORD waiting = 0;
        if (!PeekNamedPipe(device, nullptr, 0, nullptr, &waiting, nullptr)) break;
        if (waiting == 0) {
            flushed = TRUE;
            break;
        }
        // The handle is overlapped; the report is already there, so the read completes at once.
        unsigned char report[512];
        ResetEvent(overlapped.hEvent);
        DWORD length = 0;
        if (!ReadFile(device, report, sizeof report, nullptr, &overlapped)) {
            const DWORD error = GetLastError();
            if (error == ERROR_IO_PENDING) {
                if (WaitForSingleObject(overlapped.hEvent, FLUSH_READ_WAIT_MS) != WAIT_OBJECT_0) {
                    CancelIoEx(device, &overlapped);
                    GetOverlappedResult(device, &overlapped, &length, TRUE);
                    break;
                }
                if (!GetOverlappedResult(device, &overlapped, &length, FALSE) && GetLastError() != ERROR_MORE_DATA) {
                    break;
                }
            } else if (error != ERROR_MORE_DATA) {  // the rest of a long report is read next time round
                break;
            }
        }
    }
    CloseHandle(overlapped.hEvent);
    return flushed;
}

}  // extern "C"

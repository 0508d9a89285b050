// The rig's SetupAPI: lists the units file's HID interfaces as the present devices of the HID
// interface class. Everything else that the system's own libraries ask of SetupAPI finds an empty
// list, so that they take their no-device paths instead of crashing on a missing export.
#include "tests/wine/hidstack/units_file.h"

#define _SETUPAPI_  // we define these functions, we do not import them
#include <windows.h>
#include <setupapi.h>

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <new>

namespace {

constexpr std::uint32_t SET_MAGIC = 0x53444951;  // "QIDS"

// An HDEVINFO: a copy of the units file taken when the set was made, as the system's set is a
// snapshot of the devices present then.
struct DeviceSet {
    std::uint32_t magic;
    UnitsList units;
};

DeviceSet* makeSet() {
    void* memory = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(DeviceSet));
    if (memory == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    auto* set = new (memory) DeviceSet{};
    set->magic = SET_MAGIC;
    return set;
}

DeviceSet* validSet(HDEVINFO handle) {
    auto* set = static_cast<DeviceSet*>(handle);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || set->magic != SET_MAGIC) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return set;
}

// Interface data carries its entry's index in Reserved, plus one so that zeroed data is never valid.
const UnitsEntry* entryOf(const DeviceSet& set, const SP_DEVICE_INTERFACE_DATA* data) {
    if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || data->Reserved == 0 ||
        data->Reserved > set.units.count) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return &set.units.entries[data->Reserved - 1];
}

}  // namespace

extern "C" {

HDEVINFO WINAPI SetupDiGetClassDevsW(const GUID* classGuid, PCWSTR, HWND, DWORD flags) {
    const bool hidInterfaces = classGuid != nullptr && (flags & DIGCF_DEVICEINTERFACE) != 0 &&
                               std::memcmp(classGuid, &HID_INTERFACE_CLASS, sizeof(GUID)) == 0;
    DeviceSet* set = makeSet();
    if (set == nullptr) return INVALID_HANDLE_VALUE;
    // A rig whose units file is missing cannot say what is present: the list is unavailable.
    if (hidInterfaces && !unitsFileRead(&set->units)) {
        const DWORD error = GetLastError();
        set->magic = 0;
        HeapFree(GetProcessHeap(), 0, set);
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    return set;
}

HDEVINFO WINAPI SetupDiCreateDeviceInfoList(const GUID*, HWND) {
    DeviceSet* set = makeSet();
    return set != nullptr ? static_cast<HDEVINFO>(set) : INVALID_HANDLE_VALUE;
}

WINBOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO handle) {
    DeviceSet* set = validSet(handle);
    if (set == nullptr) return FALSE;
    set->magic = 0;
    HeapFree(GetProcessHeap(), 0, set);
    return TRUE;
}

WINBOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO handle, PSP_DEVINFO_DATA, const GUID* interfaceClassGuid,
                                           DWORD memberIndex, PSP_DEVICE_INTERFACE_DATA interfaceData) {
    const DeviceSet* set = validSet(handle);
    if (set == nullptr) return FALSE;
    if (interfaceClassGuid == nullptr || interfaceData == nullptr ||
        interfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (std::memcmp(interfaceClassGuid, &HID_INTERFACE_CLASS, sizeof(GUID)) != 0 || memberIndex >= set->units.count) {
        SetLastError(ERROR_NO_MORE_ITEMS);
        return FALSE;
    }
    interfaceData->InterfaceClassGuid = HID_INTERFACE_CLASS;
    interfaceData->Flags = SPINT_ACTIVE;
    interfaceData->Reserved = ULONG_PTR{memberIndex} + 1;
    return TRUE;
}

WINBOOL WINAPI SetupDiGetDeviceInterfaceDetailW(HDEVINFO handle, PSP_DEVICE_INTERFACE_DATA interfaceData,
                                                PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD detailBytes,
                                                PDWORD requiredBytes, PSP_DEVINFO_DATA deviceInfoData) {
    const DeviceSet* set = validSet(handle);
    if (set == nullptr) return FALSE;
    const UnitsEntry* entry = entryOf(*set, interfaceData);
    if (entry == nullptr) return FALSE;

    const std::size_t pathBytes = (std::wcslen(entry->path) + 1) * sizeof(wchar_t);
    const auto needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + pathBytes);
    if (requiredBytes != nullptr) *requiredBytes = needed;
    if (detail == nullptr && detailBytes != 0) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (detail != nullptr && detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (detail == nullptr || detailBytes < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(detail->DevicePath, entry->path, pathBytes);
    if (deviceInfoData != nullptr) {
        if (deviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
            SetLastError(ERROR_INVALID_USER_BUFFER);
            return FALSE;
        }
        deviceInfoData->ClassGuid = HID_INTERFACE_CLASS;
        deviceInfoData->DevInst = static_cast<DWORD>(interfaceData->Reserved);
        deviceInfoData->Reserved = 0;
    }
    return TRUE;
}

// The system's libraries look for monitors and display adapters through these; the rig has none.
WINBOOL WINAPI SetupDiEnumDeviceInfo(HDEVINFO handle, DWORD, PSP_DEVINFO_DATA) {
    if (validSet(handle) == nullptr) return FALSE;
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
}

WINBOOL WINAPI SetupDiOpenDeviceInfoW(HDEVINFO handle, PCWSTR, HWND, DWORD, PSP_DEVINFO_DATA) {
    if (validSet(handle) == nullptr) return FALSE;
    SetLastError(ERROR_NO_SUCH_DEVINST);
    return FALSE;
}

WINBOOL WINAPI SetupDiGetDevicePropertyW(HDEVINFO handle, PSP_DEVINFO_DATA, const DEVPROPKEY*, DEVPROPTYPE*, PBYTE,
                                         DWORD, PDWORD, DWORD) {
    if (validSet(handle) == nullptr) return FALSE;
    SetLastError(ERROR_NO_SUCH_DEVINST);
    return FALSE;
}

}  // extern "C"

#include "device/single_instance.h"

#include <windows.h>

namespace {

// Per session ("Local\"), so that two users of one machine each have their own program.
constexpr wchar_t INSTANCE_MUTEX_NAME[] = L"Local\\Quenlor.ProgrammingUnit";
// Where the running program leaves the window a second start brings forward.
constexpr wchar_t INSTANCE_WINDOW_NAME[] = L"Local\\Quenlor.ProgrammingUnit.Window";

// Held for the program's lifetime; the system releases both when the process ends.
HANDLE InstanceMutex = nullptr;
HANDLE InstanceWindowMapping = nullptr;

void bringAnnouncedWindowForward() {
    HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, INSTANCE_WINDOW_NAME);
    if (mapping == nullptr) return;
    const auto* announced = static_cast<const ULONG_PTR*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof(ULONG_PTR)));
    if (announced != nullptr) {
        HWND window = reinterpret_cast<HWND>(*announced);
        UnmapViewOfFile(announced);
        if (window != nullptr && IsWindow(window)) {
            if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
            SetForegroundWindow(window);
        }
    }
    CloseHandle(mapping);
}

}  // namespace

bool claimSingleInstance() {
    InstanceMutex = CreateMutexW(nullptr, FALSE, INSTANCE_MUTEX_NAME);
    // Without the means to ask, the program runs unguarded rather than not at all.
    if (InstanceMutex == nullptr) return true;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(InstanceMutex);
        InstanceMutex = nullptr;
        bringAnnouncedWindowForward();
        return false;
    }
    return true;
}

void announceInstanceWindow(HWND window) {
    if (InstanceMutex == nullptr) return;
    if (InstanceWindowMapping == nullptr) {
        InstanceWindowMapping =
            CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(ULONG_PTR), INSTANCE_WINDOW_NAME);
        if (InstanceWindowMapping == nullptr) return;
    }
    auto* announced = static_cast<ULONG_PTR*>(MapViewOfFile(InstanceWindowMapping, FILE_MAP_WRITE, 0, 0, sizeof(ULONG_PTR)));
    if (announced == nullptr) return;
    *announced = reinterpret_cast<ULONG_PTR>(window);
    UnmapViewOfFile(announced);
}

// The rig's HID library: presents the units file's interfaces, whose device paths are named pipes
// served by the simulator, as HID devices. Only what the programs call is here.
//
// A program does its HID I/O with kernel32's own WriteFile, ReadFile and GetOverlappedResult on the
// device handle, which under the rig is the client end of a pipe. To make those calls behave as on
// a handle of the HID class driver, this library, once loaded, points the program module's import
// address table entries for CreateFileW, CloseHandle, WriteFile, ReadFile and GetOverlappedResult
// at wrappers of its own. The wrappers act only on handles of simulated devices (opened by a path
// \\.\pipe\hid#…, or seen by one of the HidD_ functions below) and pass every other call on as it was:
// - a write of another length than the unit's output report length fails at once
//   (ERROR_INVALID_PARAMETER when short, ERROR_INVALID_USER_BUFFER when long), and the handle stays
//   usable: the request never reaches the pipe;
// - once the unit has left the units file (unplugged, or vanished), a write fails at once, and a
//   pipe error of a read or write (109, 232, 233), at once or through GetOverlappedResult, becomes
//   ERROR_DEVICE_NOT_CONNECTED (1167), as on an unplugged HID device.
// Everything else (one copy of each input report per handle, replies that come late or never) is
// the simulator's doing (rig/sim_server.cpp).
//
// The same wrappers stamp each exchange with a simulated device into the benchmark's stamp log
// (stamp_log.h) when the environment names one.
//
// It also points the program's imports of user32's ShutdownBlockReasonCreate and
// ShutdownBlockReasonDestroy at wrappers that note each call in the session log (session_log.h).
#include "tests/wine/hidstack/session_log.h"
#include "tests/wine/hidstack/stamp_log.h"
#include "tests/wine/hidstack/units_file.h"

#include <windows.h>
extern "C" {
#include <hidsdi.h>
}

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

constexpr std::uint32_t PREPARSED_MAGIC = 0x44504851;  // "QHPD"
constexpr DWORD FLUSH_REQUEST_WAIT_MS = 2000;           // the simulator's thread takes it at once
constexpr int FLUSH_MESSAGES_MAX = 64;
constexpr USHORT VENDOR_DEFINED_PAGE = 0xFF00;
constexpr NTSTATUS DEVICE_NOT_CONNECTED_STATUS = static_cast<NTSTATUS>(0xC000009DL);  // STATUS_DEVICE_NOT_CONNECTED
constexpr wchar_t PIPE_FOLDER[] = L"\\\\.\\pipe";  // a device path is this, then the pipe's name
constexpr std::size_t PIPE_FOLDER_CHARS = sizeof PIPE_FOLDER / sizeof PIPE_FOLDER[0] - 1;
constexpr wchar_t DEVICE_PIPE_PREFIX[] = L"\\hid#";  // every simulated device's pipe name starts so
constexpr std::size_t DEVICE_PIPE_PREFIX_CHARS = sizeof DEVICE_PIPE_PREFIX / sizeof DEVICE_PIPE_PREFIX[0] - 1;
constexpr std::size_t KNOWN_HANDLES_MAX = 64;

// What HidD_GetPreparsedData hands out: only the report lengths matter to the programs.
struct RigPreparsedData {
    std::uint32_t magic;
    std::uint16_t inputReportLength;
    std::uint16_t outputReportLength;
};

// ---- The open handles of simulated devices ----

// A handle and its pipe's name ("\hid#…"), as GetFileInformationByHandleEx reports it, with the
// unit's output report length once it is known (the units file is read once per handle, not per
// write: a read of it costs as much as several exchanges).
struct KnownHandle {
    HANDLE handle;
    wchar_t pipeName[UNITS_PATH_CHARS];
    std::uint16_t outputReportLength;
};

SRWLOCK KnownLock = SRWLOCK_INIT;
KnownHandle Known[KNOWN_HANDLES_MAX];
std::size_t KnownCount = 0;

bool isDevicePipeName(const wchar_t* name, std::size_t chars) {
    return chars > DEVICE_PIPE_PREFIX_CHARS && chars < UNITS_PATH_CHARS &&
           CompareStringOrdinal(name, static_cast<int>(DEVICE_PIPE_PREFIX_CHARS), DEVICE_PIPE_PREFIX,
                                static_cast<int>(DEVICE_PIPE_PREFIX_CHARS), TRUE) == CSTR_EQUAL;
}

void rememberHandle(HANDLE handle, const wchar_t* pipeName, std::size_t chars) {
    AcquireSRWLockExclusive(&KnownLock);
    std::size_t slot = 0;
    while (slot < KnownCount && Known[slot].handle != handle) ++slot;
    if (slot < KNOWN_HANDLES_MAX) {
        Known[slot].handle = handle;
        Known[slot].outputReportLength = 0;
        std::wmemcpy(Known[slot].pipeName, pipeName, chars);
        Known[slot].pipeName[chars] = L'\0';
        if (slot == KnownCount) ++KnownCount;
    }
    ReleaseSRWLockExclusive(&KnownLock);
}

void forgetHandle(HANDLE handle) {
    AcquireSRWLockExclusive(&KnownLock);
    for (std::size_t slot = 0; slot < KnownCount; ++slot) {
        if (Known[slot].handle != handle) continue;
        Known[slot] = Known[--KnownCount];
        break;
    }
    ReleaseSRWLockExclusive(&KnownLock);
}

// The pipe name of a known device handle into pipeName (UNITS_PATH_CHARS), and the output report
// length noted for it (0 when not yet); false for any other handle.
bool knownPipeName(HANDLE handle, wchar_t* pipeName, std::uint16_t* outputReportLength = nullptr) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    AcquireSRWLockShared(&KnownLock);
    for (std::size_t slot = 0; slot < KnownCount && !found; ++slot) {
        if (Known[slot].handle != handle) continue;
        std::wcscpy(pipeName, Known[slot].pipeName);
        if (outputReportLength != nullptr) *outputReportLength = Known[slot].outputReportLength;
        found = true;
    }
    ReleaseSRWLockShared(&KnownLock);
    return found;
}

void noteOutputReportLength(HANDLE handle, std::uint16_t outputReportLength) {
    AcquireSRWLockExclusive(&KnownLock);
    for (std::size_t slot = 0; slot < KnownCount; ++slot) {
        if (Known[slot].handle == handle) Known[slot].outputReportLength = outputReportLength;
    }
    ReleaseSRWLockExclusive(&KnownLock);
}

// A handle that no wrapper has seen opened: learnt from its pipe's name when it is the client end
// of a simulated device's pipe (the simulator's own ends in the self-test's process are not).
bool learnPipeName(HANDLE handle, wchar_t* pipeName) {
    if (knownPipeName(handle, pipeName)) return true;
    alignas(FILE_NAME_INFO) unsigned char buffer[sizeof(FILE_NAME_INFO) + UNITS_PATH_CHARS * sizeof(wchar_t)];
    if (!GetFileInformationByHandleEx(handle, FileNameInfo, buffer, sizeof buffer)) return false;
    const auto* name = reinterpret_cast<const FILE_NAME_INFO*>(buffer);
    const std::size_t chars = name->FileNameLength / sizeof(wchar_t);
    ULONG flags = 0;
    if (!isDevicePipeName(name->FileName, chars) ||
        (GetNamedPipeInfo(handle, &flags, nullptr, nullptr, nullptr) && (flags & PIPE_SERVER_END) != 0)) {
        return false;
    }
    rememberHandle(handle, name->FileName, chars);
    std::wmemcpy(pipeName, name->FileName, chars);
    pipeName[chars] = L'\0';
    return true;
}

enum class Listed { Yes, No, Unknown };

// Whether the device is in the units file now, and its entry when it is.
Listed listedDevice(const wchar_t* pipeName, UnitsEntry* entry) {
    const DWORD error = GetLastError();
    UnitsList units;
    Listed listed = Listed::Unknown;
    if (unitsFileRead(&units)) {
        const UnitsEntry* found = unitsFindPipe(units, pipeName, std::wcslen(pipeName));
        listed = found != nullptr ? Listed::Yes : Listed::No;
        if (found != nullptr) *entry = *found;
    }
    SetLastError(error);
    return listed;
}

bool isPipeError(DWORD error) {
    return error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA || error == ERROR_PIPE_NOT_CONNECTED ||
           error == ERROR_PIPE_LISTENING;
}

// The error a failed transfer on the handle reports: a pipe error on a device that has been
// unplugged is ERROR_DEVICE_NOT_CONNECTED; everything else stays as it is.
DWORD unpluggedError(HANDLE handle, DWORD error) {
    wchar_t pipeName[UNITS_PATH_CHARS];
    UnitsEntry entry;
    if (!isPipeError(error) || !learnPipeName(handle, pipeName)) return error;
    return listedDevice(pipeName, &entry) == Listed::No ? static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED) : error;
}

// Whole output reports the program has written to simulated devices: the session log places its
// lines among the requests with it.
volatile LONG ReportsWritten = 0;

// ---- The benchmark's stamps ----

// The stamp log the benchmark named, mapped at the first write to a simulated device; null when it
// named none. The programs do their device I/O on one thread, one transfer at a time.
StampLog* Stamps = nullptr;
bool StampsLookedFor = false;
enum class Awaited { Nothing, WriteDone, ReplyHanded };
Awaited StampAwaits = Awaited::Nothing;
HANDLE StampHandle = nullptr;
LONG StampExchange = -1;

StampedExchange* stampedExchange() {
    if (Stamps == nullptr || StampExchange < 0 || StampExchange >= static_cast<LONG>(STAMP_LOG_EXCHANGES)) return nullptr;
    return &Stamps->exchanges[StampExchange];
}

void stampRequest(HANDLE handle, const void* buffer, DWORD length, std::uint64_t takenUs) {
    if (!StampsLookedFor) {
        StampsLookedFor = true;
        wchar_t name[MAX_PATH];
        const DWORD chars = GetEnvironmentVariableW(STAMP_LOG_VARIABLE, name, MAX_PATH);
        HANDLE mapping = chars != 0 && chars < MAX_PATH ? OpenFileMappingW(FILE_MAP_WRITE, FALSE, name) : nullptr;
        if (mapping != nullptr) {
            Stamps = static_cast<StampLog*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof(StampLog)));
            CloseHandle(mapping);  // the view keeps the mapping
        }
    }
    if (Stamps == nullptr) return;
    StampExchange = InterlockedIncrement(&Stamps->count) - 1;
    StampHandle = handle;
    StampAwaits = Awaited::WriteDone;
    if (StampedExchange* e = stampedExchange()) {
        *e = StampedExchange{};
        e->requestTakenUs = takenUs;
        e->command = length > 1 ? static_cast<const std::uint8_t*>(buffer)[1] : 0;
    }
}

// A transfer on the stamped handle has been handed back to the program: its write's end, or its
// reply.
void stampCompletion(HANDLE handle) {
    StampedExchange* e = stampedExchange();
    if (e == nullptr || handle != StampHandle) return;
    if (StampAwaits == Awaited::WriteDone) e->requestDoneUs = stampNowUs();
    if (StampAwaits == Awaited::ReplyHanded) e->replyHandedUs = stampNowUs();
    StampAwaits = Awaited::Nothing;
}

void stampReplyAsked(HANDLE handle) {
    StampedExchange* e = stampedExchange();
    if (e == nullptr || handle != StampHandle || e->replyAskedUs != 0) return;
    e->replyAskedUs = stampNowUs();
    StampAwaits = Awaited::ReplyHanded;
}

// ---- The wrappers in the program's import address table ----

using CreateFileWFunction = HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
using CloseHandleFunction = BOOL(WINAPI*)(HANDLE);
using WriteFileFunction = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
using ReadFileFunction = BOOL(WINAPI*)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
using GetOverlappedResultFunction = BOOL(WINAPI*)(HANDLE, LPOVERLAPPED, LPDWORD, BOOL);

CreateFileWFunction SystemCreateFileW = CreateFileW;
CloseHandleFunction SystemCloseHandle = CloseHandle;
WriteFileFunction SystemWriteFile = WriteFile;
ReadFileFunction SystemReadFile = ReadFile;
GetOverlappedResultFunction SystemGetOverlappedResult = GetOverlappedResult;

HANDLE WINAPI rigCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                             DWORD flags, HANDLE templateFile) {
    const HANDLE handle = SystemCreateFileW(path, access, share, security, disposition, flags, templateFile);
    if (handle == INVALID_HANDLE_VALUE || path == nullptr) return handle;
    const std::size_t chars = std::wcslen(path);
    if (chars > PIPE_FOLDER_CHARS &&
        CompareStringOrdinal(path, static_cast<int>(PIPE_FOLDER_CHARS), PIPE_FOLDER, static_cast<int>(PIPE_FOLDER_CHARS),
                             TRUE) == CSTR_EQUAL &&
        isDevicePipeName(path + PIPE_FOLDER_CHARS, chars - PIPE_FOLDER_CHARS)) {
        const DWORD error = GetLastError();
        rememberHandle(handle, path + PIPE_FOLDER_CHARS, chars - PIPE_FOLDER_CHARS);
        SetLastError(error);
    }
    return handle;
}

BOOL WINAPI rigCloseHandle(HANDLE handle) {
    forgetHandle(handle);
    return SystemCloseHandle(handle);
}

BOOL WINAPI rigWriteFile(HANDLE handle, LPCVOID buffer, DWORD length, LPDWORD written, LPOVERLAPPED overlapped) {
    const std::uint64_t takenUs = stampNowUs();
    wchar_t pipeName[UNITS_PATH_CHARS];
    std::uint16_t outputReportLength = 0;
    if (!knownPipeName(handle, pipeName, &outputReportLength)) {
        return SystemWriteFile(handle, buffer, length, written, overlapped);
    }
    if (outputReportLength == 0) {
        UnitsEntry entry;
        const Listed listed = listedDevice(pipeName, &entry);
        if (listed == Listed::No) {
            SetLastError(ERROR_DEVICE_NOT_CONNECTED);
            return FALSE;
        }
        if (listed == Listed::Yes) {
            outputReportLength = entry.outputReportLength;
            noteOutputReportLength(handle, outputReportLength);
        }
    }
    if (outputReportLength != 0 && length != outputReportLength) {
        if (written != nullptr) *written = 0;
        SetLastError(length < outputReportLength ? ERROR_INVALID_PARAMETER : ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (outputReportLength != 0) {
        InterlockedIncrement(&ReportsWritten);
        stampRequest(handle, buffer, length, takenUs);
    }
    // A unit unplugged since has closed its end of the pipe: the write fails at once, and the
    // pipe's error becomes the system's.
    const BOOL done = SystemWriteFile(handle, buffer, length, written, overlapped);
    if (!done) SetLastError(unpluggedError(handle, GetLastError()));
    return done;
}

BOOL WINAPI rigReadFile(HANDLE handle, LPVOID buffer, DWORD length, LPDWORD read, LPOVERLAPPED overlapped) {
    stampReplyAsked(handle);
    const BOOL done = SystemReadFile(handle, buffer, length, read, overlapped);
    if (!done) SetLastError(unpluggedError(handle, GetLastError()));
    return done;
}

BOOL WINAPI rigGetOverlappedResult(HANDLE handle, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait) {
    const BOOL done = SystemGetOverlappedResult(handle, overlapped, transferred, wait);
    if (done) {
        const DWORD error = GetLastError();
        stampCompletion(handle);
        SetLastError(error);
        return done;
    }
    const DWORD error = GetLastError();
    const DWORD mapped = unpluggedError(handle, error);
    if (mapped != error) {
        // What the system leaves in the structure: the status in its low 32 bits.
        overlapped->Internal = static_cast<ULONG_PTR>(static_cast<ULONG>(DEVICE_NOT_CONNECTED_STATUS));
    }
    SetLastError(mapped);
    return done;
}

using ShutdownBlockReasonCreateFunction = BOOL(WINAPI*)(HWND, LPCWSTR);
using ShutdownBlockReasonDestroyFunction = BOOL(WINAPI*)(HWND);

ShutdownBlockReasonCreateFunction SystemShutdownBlockReasonCreate = nullptr;
ShutdownBlockReasonDestroyFunction SystemShutdownBlockReasonDestroy = nullptr;

constexpr std::size_t SESSION_LOG_LINE_BYTES = 1024;

// Appends one line to the session log; the program's last error stays as the system's call left it.
void noteSessionCall(const char* call, HWND window, BOOL result, LPCWSTR reason) {
    const DWORD error = GetLastError();
    wchar_t logPath[MAX_PATH];
    const DWORD pathChars = GetEnvironmentVariableW(SESSION_LOG_VARIABLE, logPath, MAX_PATH);
    if (pathChars != 0 && pathChars < MAX_PATH) {
        char reasonUtf8[SESSION_LOG_LINE_BYTES / 2] = "";
        if (reason != nullptr &&
            WideCharToMultiByte(CP_UTF8, 0, reason, -1, reasonUtf8, sizeof reasonUtf8, nullptr, nullptr) == 0) {
            std::strcpy(reasonUtf8, "(reason too long)");
        }
        const bool ownThread = GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
        char line[SESSION_LOG_LINE_BYTES];
        const int length = std::snprintf(line, sizeof line, "%s\t%ld\t%llx\t%d\t%d\t%s\n", call,
                                         static_cast<long>(InterlockedCompareExchange(&ReportsWritten, 0, 0)),
                                         static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(window)),
                                         ownThread ? 1 : 0, result ? 1 : 0, reasonUtf8);
        HANDLE log = CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (log != INVALID_HANDLE_VALUE && length > 0) {
            DWORD written = 0;
            WriteFile(log, line, static_cast<DWORD>(length), &written, nullptr);
        }
        if (log != INVALID_HANDLE_VALUE) CloseHandle(log);
    }
    SetLastError(error);
}

BOOL WINAPI rigShutdownBlockReasonCreate(HWND window, LPCWSTR reason) {
    const BOOL result = SystemShutdownBlockReasonCreate != nullptr ? SystemShutdownBlockReasonCreate(window, reason) : FALSE;
    noteSessionCall("create", window, result, reason);
    return result;
}

BOOL WINAPI rigShutdownBlockReasonDestroy(HWND window) {
    const BOOL result = SystemShutdownBlockReasonDestroy != nullptr ? SystemShutdownBlockReasonDestroy(window) : FALSE;
    noteSessionCall("destroy", window, result, nullptr);
    return result;
}

struct ImportPatch {
    const char* name;
    void** system;  // where the system's function is kept for the wrapper
    void* wrapper;
};

// Points every import address table entry of the module that holds one of the system's functions
// at its wrapper. Run once, when this library is loaded, before the program opens any device.
void patchImports(HMODULE module) {
    ImportPatch patches[] = {
        {"CreateFileW", reinterpret_cast<void**>(&SystemCreateFileW), reinterpret_cast<void*>(rigCreateFileW)},
        {"CloseHandle", reinterpret_cast<void**>(&SystemCloseHandle), reinterpret_cast<void*>(rigCloseHandle)},
        {"WriteFile", reinterpret_cast<void**>(&SystemWriteFile), reinterpret_cast<void*>(rigWriteFile)},
        {"ReadFile", reinterpret_cast<void**>(&SystemReadFile), reinterpret_cast<void*>(rigReadFile)},
        {"GetOverlappedResult", reinterpret_cast<void**>(&SystemGetOverlappedResult),
         reinterpret_cast<void*>(rigGetOverlappedResult)},
        {"ShutdownBlockReasonCreate", reinterpret_cast<void**>(&SystemShutdownBlockReasonCreate),
         reinterpret_cast<void*>(rigShutdownBlockReasonCreate)},
        {"ShutdownBlockReasonDestroy", reinterpret_cast<void**>(&SystemShutdownBlockReasonDestroy),
         reinterpret_cast<void*>(rigShutdownBlockReasonDestroy)},
    };
    // kernel32 forwards most of these to kernelbase; an import holds whichever address the loader
    // resolved, so both are looked for. The session functions are user32's.
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    const HMODULE kernelbase = GetModuleHandleW(L"kernelbase.dll");
    const HMODULE user32 = GetModuleHandleW(L"user32.dll");
    void* candidates[sizeof patches / sizeof patches[0]][3] = {};
    for (std::size_t i = 0; i < sizeof patches / sizeof patches[0]; ++i) {
        if (kernel32 != nullptr) candidates[i][0] = reinterpret_cast<void*>(GetProcAddress(kernel32, patches[i].name));
        if (kernelbase != nullptr) candidates[i][1] = reinterpret_cast<void*>(GetProcAddress(kernelbase, patches[i].name));
        if (user32 != nullptr) candidates[i][2] = reinterpret_cast<void*>(GetProcAddress(user32, patches[i].name));
        if (candidates[i][0] != nullptr) *patches[i].system = candidates[i][0];
        if (candidates[i][2] != nullptr) *patches[i].system = candidates[i][2];
    }

    auto* base = reinterpret_cast<unsigned char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return;
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return;
    for (auto* descriptor = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         descriptor->Name != 0; ++descriptor) {
        for (auto* entry = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->FirstThunk); entry->u1.Function != 0;
             ++entry) {
            void* const current = reinterpret_cast<void*>(entry->u1.Function);
            for (std::size_t i = 0; i < sizeof patches / sizeof patches[0]; ++i) {
                if (current == nullptr ||
                    (current != candidates[i][0] && current != candidates[i][1] && current != candidates[i][2])) {
                    continue;
                }
                *patches[i].system = current;
                DWORD protection = 0;
                if (!VirtualProtect(&entry->u1.Function, sizeof entry->u1.Function, PAGE_READWRITE, &protection)) break;
                entry->u1.Function = reinterpret_cast<ULONG_PTR>(patches[i].wrapper);
                VirtualProtect(&entry->u1.Function, sizeof entry->u1.Function, protection, &protection);
                break;
            }
        }
    }
}

// ---- The HID library's own functions ----

// A device handle is the client end of a pipe, which opens in byte mode; a HID read returns one
// whole input report, so the handle is switched to message mode before anyone reads from it.
void useMessageMode(HANDLE device) {
    DWORD mode = PIPE_READMODE_MESSAGE;
    SetNamedPipeHandleState(device, &mode, nullptr, nullptr);
}

// The units file's entry for the device behind the handle; false (ERROR_DEVICE_NOT_CONNECTED)
// when the device has been unplugged since it was opened.
bool findDevice(HANDLE device, UnitsEntry* entry) {
    wchar_t pipeName[UNITS_PATH_CHARS];
    if (!learnPipeName(device, pipeName)) {
        if (GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    const Listed listed = listedDevice(pipeName, entry);
    if (listed == Listed::Yes) return true;
    if (listed == Listed::No) SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    return false;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        patchImports(GetModuleHandleW(nullptr));
    }
    return TRUE;
}

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

// Drops every input report queued for the handle at once: the simulator drops what it holds for
// this handle when it takes the flush request, and anything it had already put into the pipe is
// taken off here without waiting for more. FALSE when the device is gone (ERROR_DEVICE_NOT_CONNECTED),
// as the system's does.
BOOLEAN NTAPI HidD_FlushQueue(HANDLE device) {
    // A known handle goes straight to the pipe (no units file to read before each request); a
    // device unplugged since has closed its end, which fails the flush request at once.
    wchar_t pipeName[UNITS_PATH_CHARS];
    UnitsEntry entry;
    if (!knownPipeName(device, pipeName) && !findDevice(device, &entry)) return FALSE;
    useMessageMode(device);
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (overlapped.hEvent == nullptr) return FALSE;

    // The simulator's thread takes the request as soon as it runs: a thread hand-over each way.
    DWORD length = 0;
    bool told = WriteFile(device, RIG_FLUSH_REQUEST, RIG_FLUSH_REQUEST_BYTES, nullptr, &overlapped) != FALSE;
    if (!told && GetLastError() == ERROR_IO_PENDING) {
        told = WaitForSingleObject(overlapped.hEvent, FLUSH_REQUEST_WAIT_MS) == WAIT_OBJECT_0;
        if (!told) CancelIoEx(device, &overlapped);
        told = GetOverlappedResult(device, &overlapped, &length, TRUE) != FALSE && told;
    }
    const DWORD error = GetLastError();

    // What was already in the pipe is there to be read at once; a read that would wait is given up.
    for (int message = 0; told && message < FLUSH_MESSAGES_MAX; ++message) {
        DWORD waiting = 0;
        if (!PeekNamedPipe(device, nullptr, 0, nullptr, &waiting, nullptr) || waiting == 0) break;
        unsigned char report[512];
        ResetEvent(overlapped.hEvent);
        if (!ReadFile(device, report, sizeof report, nullptr, &overlapped) && GetLastError() == ERROR_IO_PENDING) {
            CancelIoEx(device, &overlapped);
        }
        GetOverlappedResult(device, &overlapped, &length, TRUE);
    }
    CloseHandle(overlapped.hEvent);
    if (!told) {
        SetLastError(unpluggedError(device, error));
        return FALSE;
    }
    return TRUE;
}

}  // extern "C"

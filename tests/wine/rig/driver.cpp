#include "tests/wine/rig/driver.h"

#include <commctrl.h>
#include <dbt.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

const wchar_t DIALOG_CLASS[] = L"#32770";
const int MESSAGE_BOX_TEXT_ID = 0xFFFF;
const DWORD POLL_MS = 20;
const DWORD SCREENSHOT_TIMEOUT_MS = 15000;
const int START_ATTEMPTS = 3;
const DWORD DELIVERY_SEND_TIMEOUT_MS = 600000;  // the thread waits as long as a box stays open
// The HID interface class, as HidD_GetHidGuid gives it.
const GUID HID_INTERFACE_CLASS = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

// Under Wine a time-out of 0 waits until the program's thread takes its messages, however long.
DWORD someTime(DWORD ms) { return ms == 0 ? 1 : ms; }

void complain(const char* format, const std::string& detail = std::string()) {
    std::fprintf(stderr, "[driver] ");
    std::fprintf(stderr, format, detail.c_str());
    std::fprintf(stderr, "\n");
    std::fflush(stderr);
}

std::wstring environment(const wchar_t* name) {
    wchar_t buffer[MAX_PATH * 2] = {};
    DWORD n = GetEnvironmentVariableW(name, buffer, MAX_PATH * 2);
    if (n == 0 || n >= MAX_PATH * 2) return std::wstring();
    return std::wstring(buffer, n);
}

// A Unix path becomes the same place on Wine's drive Z:.
std::wstring toWindowsPath(const std::wstring& path) {
    if (path.empty() || path[0] != L'/') return path;
    std::wstring result = L"Z:" + path;
    for (wchar_t& c : result)
        if (c == L'/') c = L'\\';
    return result;
}

std::wstring parentFolder(const std::wstring& path) {
    std::size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

bool fileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The repository root: the first folder above this test program that holds CMakePresets.json.
std::wstring repositoryRoot() {
    wchar_t self[MAX_PATH * 2] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
    for (std::wstring folder = parentFolder(self); !folder.empty(); folder = parentFolder(folder)) {
        if (fileExists(folder + L"\\CMakePresets.json")) return folder;
    }
    return std::wstring();
}

std::wstring className(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

bool startsWith(const std::wstring& text, const std::wstring& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Waits count wall time: a single look at a busy program can itself take up to a second.
struct Deadline {
    ULONGLONG at;
};

Deadline deadlineIn(DWORD ms) { return Deadline{GetTickCount64() + ms}; }

bool passed(const Deadline& deadline) { return GetTickCount64() >= deadline.at; }

// A program that has ended (or never started) will show nothing more: waiting for it is pointless.
bool programGone(const RigProgram& program) {
    if (program.process != nullptr && WaitForSingleObject(program.process, 0) == WAIT_TIMEOUT) return false;
    complain("the program is not running");
    return true;
}

// ---- Started programs: killed on every path ----

HANDLE ProgramJob = nullptr;
std::vector<HANDLE> StartedProcesses;

void killStartedProcesses() {
    for (HANDLE process : StartedProcesses) {
        if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process, 0xDEAD);
            WaitForSingleObject(process, 5000);
        }
        CloseHandle(process);
    }
    StartedProcesses.clear();
}

void killAtExit() { killStartedProcesses(); }

HANDLE programJob() {
    if (ProgramJob != nullptr) return ProgramJob;
    ProgramJob = CreateJobObjectW(nullptr, nullptr);
    if (ProgramJob != nullptr) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(ProgramJob, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    std::atexit(killAtExit);
    return ProgramJob;
}

// ---- The scenario's simulator ----

std::wstring UnitsFile;
bool ServerRunning = false;
unsigned ScenarioCount = 0;

// ---- Windows of the program ----

struct WindowSearch {
    DWORD processId;
    HWND owner;
    const wchar_t* wantedClass;
    std::wstring titlePrefix;
    HWND found;
    std::vector<HWND> all;
};

BOOL CALLBACK collectWindow(HWND window, LPARAM context) {
    WindowSearch& search = *reinterpret_cast<WindowSearch*>(context);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != search.processId) return TRUE;
    search.all.push_back(window);
    if (search.wantedClass != nullptr && className(window) != search.wantedClass) return TRUE;
    if (search.owner != nullptr && GetWindow(window, GW_OWNER) != search.owner) return TRUE;
    if (!search.titlePrefix.empty() && !startsWith(rigWindowText(window), search.titlePrefix)) return TRUE;
    if (search.found == nullptr) search.found = window;
    return TRUE;
}

HWND findTopLevel(DWORD processId, HWND owner, const wchar_t* wantedClass, const std::wstring& titlePrefix,
                  std::vector<HWND>* all = nullptr) {
    WindowSearch search = {processId, owner, wantedClass, titlePrefix, nullptr, {}};
    EnumWindows(collectWindow, reinterpret_cast<LPARAM>(&search));
    if (all != nullptr) *all = search.all;
    return search.found;
}

// A message box is the dialog's owned #32770 window; the dialog itself has no owner.
HWND findOwnedBox(const RigProgram& program) {
    if (program.dialog == nullptr) return nullptr;
    HWND box = findTopLevel(program.processId, program.dialog, DIALOG_CLASS, std::wstring());
    return box != nullptr && IsWindowVisible(box) ? box : nullptr;
}

struct ButtonList {
    std::vector<std::pair<LONG, int>> byPosition;
};

BOOL CALLBACK collectButton(HWND child, LPARAM context) {
    ButtonList& list = *reinterpret_cast<ButtonList*>(context);
    if (!IsWindowVisible(child)) return TRUE;
    std::wstring name = className(child);
    if (_wcsicmp(name.c_str(), L"Button") != 0) return TRUE;
    RECT rect = {};
    GetWindowRect(child, &rect);
    list.byPosition.emplace_back(rect.left, GetDlgCtrlID(child));
    return TRUE;
}

// ---- Notification delivery ----

struct Delivery {
    HANDLE thread = nullptr;
    HWND dialog = nullptr;
    WPARAM event = 0;
    std::vector<std::uint8_t> record;
    bool sent = false;
    DWORD error = 0;
};
Delivery Outstanding;

DWORD WINAPI deliverNotification(LPVOID) {
    DWORD_PTR reply = 0;
    LRESULT ok = SendMessageTimeoutW(Outstanding.dialog, WM_DEVICECHANGE, Outstanding.event,
                                     reinterpret_cast<LPARAM>(Outstanding.record.data()), SMTO_ABORTIFHUNG,
                                     DELIVERY_SEND_TIMEOUT_MS, &reply);
    Outstanding.sent = ok != 0;
    Outstanding.error = ok != 0 ? 0 : GetLastError();
    return 0;
}

bool finishDelivery(DWORD timeoutMs, bool quiet = false) {
    if (Outstanding.thread == nullptr) return true;
    if (WaitForSingleObject(Outstanding.thread, timeoutMs) != WAIT_OBJECT_0) return false;
    CloseHandle(Outstanding.thread);
    Outstanding.thread = nullptr;
    if (!Outstanding.sent && !quiet) {
        complain("the notification was not delivered (error %s)", std::to_string(Outstanding.error));
    }
    return Outstanding.sent;
}

RigDelivery deliver(const RigProgram& program, WPARAM event, std::vector<std::uint8_t> record, DWORD timeoutMs) {
    if (Outstanding.thread != nullptr && !finishDelivery(0)) {
        complain("a notification is still outstanding");
        return RigDelivery::Failed;
    }
    if (program.dialog == nullptr) return RigDelivery::Failed;
    // A box open before the notification runs its own loop, which handles it: only a box that the
    // notification opens counts.
    const HWND boxBefore = findOwnedBox(program);
    Outstanding.dialog = program.dialog;
    Outstanding.event = event;
    Outstanding.record = std::move(record);
    Outstanding.sent = false;
    Outstanding.thread = CreateThread(nullptr, 0, deliverNotification, nullptr, 0, nullptr);
    if (Outstanding.thread == nullptr) return RigDelivery::Failed;
    DWORD waited = 0;
    for (;;) {
        if (WaitForSingleObject(Outstanding.thread, POLL_MS) == WAIT_OBJECT_0) {
            return finishDelivery(0) ? RigDelivery::Handled : RigDelivery::Failed;
        }
        HWND box = findOwnedBox(program);
        if (box != nullptr && box != boxBefore) return RigDelivery::BoxOpen;
        waited += POLL_MS;
        if (waited >= timeoutMs) {
            complain("the dialog did not handle the notification in time");
            return RigDelivery::Failed;
        }
    }
}

template <typename Record>
std::vector<std::uint8_t> recordBytes(const Record& record, std::size_t size) {
    std::vector<std::uint8_t> bytes(size, 0);
    std::memcpy(bytes.data(), &record, sizeof record < size ? sizeof record : size);
    return bytes;
}

// ---- Resources ----

struct LanguageSearch {
    LANGID wanted;
    bool found;
};

BOOL CALLBACK noteLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR context) {
    LanguageSearch& search = *reinterpret_cast<LanguageSearch*>(context);
    if (language == search.wanted) search.found = true;
    return TRUE;
}

// The resource in exactly this language; the loader's own search would fall back to another.
const std::uint8_t* exactResource(HMODULE module, LPCWSTR type, LPCWSTR name, LANGID language, DWORD* size) {
    LanguageSearch search = {language, false};
    EnumResourceLanguagesW(module, type, name, noteLanguage, reinterpret_cast<LONG_PTR>(&search));
    if (!search.found) return nullptr;
    HRSRC info = FindResourceExW(module, type, name, language);
    if (info == nullptr) return nullptr;
    HGLOBAL loaded = LoadResource(module, info);
    if (loaded == nullptr) return nullptr;
    *size = SizeofResource(module, info);
    return static_cast<const std::uint8_t*>(LockResource(loaded));
}

// Reads entry `index` (0..15) of a string block: a 16-bit length, then that many characters.
bool stringInBlock(const std::uint8_t* block, DWORD size, unsigned index, std::wstring& text) {
    DWORD offset = 0;
    for (unsigned entry = 0; entry <= index; ++entry) {
        if (offset + 2 > size) return false;
        std::uint16_t length = static_cast<std::uint16_t>(block[offset] | (block[offset + 1] << 8));
        offset += 2;
        if (offset + 2u * length > size) return false;
        if (entry == index) {
            if (length == 0) return false;
            text.resize(length);
            for (std::uint16_t i = 0; i < length; ++i) {
                text[i] = static_cast<wchar_t>(block[offset + 2u * i] | (block[offset + 2u * i + 1] << 8));
            }
            return true;
        }
        offset += 2u * length;
    }
    return false;
}

BOOL CALLBACK noteStringBlock(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR context) {
    if (IS_INTRESOURCE(name)) {
        reinterpret_cast<std::vector<std::uint16_t>*>(context)->push_back(
            static_cast<std::uint16_t>(reinterpret_cast<ULONG_PTR>(name)));
    }
    return TRUE;
}

}  // namespace

// ---- Builds ----

const RigBuild RIG_BUILDS[RIG_BUILD_COUNT] = {
    {L"ZEPHANT 60 LV", L"quenlor-zephant-60-lv.exe", 0x3C, 140, 97536},
    {L"ZEPHANT 140 LV", L"quenlor-zephant-140-lv.exe", 0x8C, 142, 97184},
    {L"ZEPHANT 90 LV", L"quenlor-zephant-90-lv.exe", 0x5A, 141, 97536},
};

const RigBuild& rigBuild60() { return RIG_BUILDS[0]; }
const RigBuild& rigBuild140() { return RIG_BUILDS[1]; }
const RigBuild& rigBuild90() { return RIG_BUILDS[2]; }

std::uint32_t rigAcceptedIdA(const RigBuild& build) { return 0x111F4000u | build.modelIdByte; }
std::uint32_t rigAcceptedIdB(const RigBuild& build) { return 0x0A064000u | build.modelIdByte; }

std::wstring rigExpectedTitle(const RigBuild& build) {
    return std::wstring(L"TESSALUX ") + build.modelName + L" FW Updater 2.0 ";
}

std::wstring rigDistDir() {
    std::wstring configured = environment(L"QUENLOR_DIST_DIR");
    if (!configured.empty()) return toWindowsPath(configured);
    return repositoryRoot() + L"\\dist";
}

std::wstring rigProgramPath(const RigBuild& build) { return rigDistDir() + L"\\" + build.exeName; }

RigLanguage rigProcessLanguage() {
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_GERMAN ? RigLanguage::German : RigLanguage::English;
}

// ---- Devices ----

RigDevice rigCompatibleUnit(const RigBuild& build) {
    RigDevice device;
    device.config.vendorId = RIG_UNIT_VENDOR_ID;
    device.config.productId = RIG_PRODUCT_VEXOBOX;
    device.config.unitMode = 0;
    device.config.attachedType = 3;
    device.config.escHardwareId = rigAcceptedIdA(build);
    device.config.unitFirmwareVersion = 0x00010500;
    device.config.escBootloaderVersion = 0x00000203;
    device.config.escFirmwareVersion = 0x0105;
    return device;
}

RigDevice rigForeignDevice() {
    RigDevice device;
    device.config.vendorId = 0x046D;
    device.config.productId = 0xC077;
    device.config.inputReportLength = 8;
    device.config.outputReportLength = 0;
    device.openable = false;
    return device;
}

// ---- Scenario ----

bool rigStartScenario() {
    if (ServerRunning) rigEndScenario();
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    UnitsFile = std::wstring(temp) + L"quenlor-rig-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                std::to_wstring(++ScenarioCount) + L".units";
    if (!rigStartServer(UnitsFile)) {
        complain("the simulator did not start: is a stale one still serving the rig's pipes?");
        return false;
    }
    ServerRunning = true;  // the server has named the units file in QUENLOR_RIG_UNITS for the programs
    return true;
}

void rigEndScenario() {
    killStartedProcesses();
    finishDelivery(DELIVERY_SEND_TIMEOUT_MS, true);  // a notification to a killed program fails
    if (ServerRunning) rigStopServer();
    ServerRunning = false;
    if (!UnitsFile.empty()) DeleteFileW(UnitsFile.c_str());
    UnitsFile.clear();
}

// ---- The program ----

bool rigLaunchProgram(RigProgram& program, const RigBuild& build, const std::wstring& exePath) {
    program = RigProgram();
    program.build = &build;
    std::wstring path = exePath.empty() ? rigProgramPath(build) : exePath;
    if (!fileExists(path)) {
        complain("no program at %s (build the windows presets first)", rigUtf8(path));
        return false;
    }
    if (!ServerRunning) {
        complain("rigStartScenario must come first: the program would see no units file");
        return false;
    }
    std::wstring commandLine = L"\"" + path + L"\"";
    std::wstring folder = parentFolder(path);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    // Under load Wine now and then fails to start a process with ERROR_INTERNAL_ERROR, and starts
    // it when asked again: that is the machine, not the program.
    for (int attempt = 1;; ++attempt) {
        if (CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                           folder.c_str(), &startup, &info)) {
            break;
        }
        const DWORD error = GetLastError();
        complain("CreateProcess failed: %s", std::to_string(error));
        if (error != ERROR_INTERNAL_ERROR || attempt == START_ATTEMPTS) return false;
        rigSleep(250);
    }
    HANDLE job = programJob();
    if (job != nullptr) AssignProcessToJobObject(job, info.hProcess);
    StartedProcesses.push_back(info.hProcess);
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    program.process = info.hProcess;
    program.processId = info.dwProcessId;
    return true;
}

bool rigStartProgram(RigProgram& program, const RigBuild& build, const std::wstring& exePath) {
    if (!rigLaunchProgram(program, build, exePath)) return false;
    const std::wstring title = rigExpectedTitle(build);
    DWORD waited = 0;
    for (;;) {
        HWND dialog = findTopLevel(program.processId, nullptr, DIALOG_CLASS, title);
        if (dialog != nullptr && GetWindow(dialog, GW_OWNER) == nullptr) {
            program.dialog = dialog;
            program.threadId = GetWindowThreadProcessId(dialog, nullptr);
            if (IsWindowVisible(dialog) || findOwnedBox(program) != nullptr) return true;
        }
        if (WaitForSingleObject(program.process, POLL_MS) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(program.process, &code);
            complain("the program ended before its dialog was up (exit code %s)", std::to_string(code));
            return false;
        }
        waited += POLL_MS;
        if (waited >= RIG_START_TIMEOUT_MS) break;
    }
    std::vector<HWND> windows;
    findTopLevel(program.processId, nullptr, nullptr, std::wstring(), &windows);
    complain("no dialog titled \"%s\" came up; the program's windows:", rigUtf8(title));
    for (HWND window : windows) {
        complain("  %s", rigUtf8(className(window) + L" \"" + rigWindowText(window) + L"\"" +
                                 (IsWindowVisible(window) ? L" visible" : L" hidden")));
    }
    return false;
}

bool rigWaitExit(RigProgram& program, DWORD timeoutMs, DWORD* exitCode) {
    if (program.process == nullptr) return false;
    if (WaitForSingleObject(program.process, timeoutMs) != WAIT_OBJECT_0) {
        complain("the program is still running");
        return false;
    }
    DWORD code = 0;
    GetExitCodeProcess(program.process, &code);
    if (exitCode != nullptr) *exitCode = code;
    return true;
}

void rigKillProgram(RigProgram& program) {
    if (program.process != nullptr && WaitForSingleObject(program.process, 0) == WAIT_TIMEOUT) {
        TerminateProcess(program.process, 0xDEAD);
        WaitForSingleObject(program.process, 5000);
    }
}

bool rigIsRunning(const RigProgram& program) {
    return program.process != nullptr && WaitForSingleObject(program.process, 0) == WAIT_TIMEOUT;
}

bool rigWaitIdle(const RigProgram& program, DWORD timeoutMs) {
    DWORD_PTR ignored = 0;
    // A sent message is handled only when the thread gets to its message loop; posted messages
    // queued before it are not yet, so a second round trip follows a short pause for them.
    if (!SendMessageTimeoutW(program.dialog, WM_NULL, 0, 0, SMTO_NORMAL, someTime(timeoutMs), &ignored)) return false;
    rigSleep(50);
    return SendMessageTimeoutW(program.dialog, WM_NULL, 0, 0, SMTO_NORMAL, someTime(timeoutMs), &ignored) != 0;
}

// ---- Reading ----

std::wstring rigWindowText(HWND window) {
    wchar_t text[4096] = {};
    int n = GetWindowTextW(window, text, 4096);
    return std::wstring(text, n > 0 ? static_cast<std::size_t>(n) : 0);
}

std::wstring rigTitle(const RigProgram& program) { return rigWindowText(program.dialog); }

std::wstring rigControlText(const RigProgram& program, int controlId) {
    HWND control = GetDlgItem(program.dialog, controlId);
    if (control == nullptr) {
        complain("the dialog has no control %s", std::to_string(controlId));
        return L"<no control>";
    }
    return rigWindowText(control);
}

bool rigIsControlEnabled(const RigProgram& program, int controlId) {
    HWND control = GetDlgItem(program.dialog, controlId);
    return control != nullptr && IsWindowEnabled(control);
}

bool rigStatusText(const RigProgram& program, std::wstring& text, DWORD timeoutMs) {
    HWND status = GetDlgItem(program.dialog, RIG_ID_STATUS);
    if (status == nullptr) return false;
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(status, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, someTime(timeoutMs), &length)) {
        return false;
    }
    std::vector<wchar_t> buffer(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(status, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                             SMTO_ABORTIFHUNG, someTime(timeoutMs), &copied)) {
        return false;
    }
    text.assign(buffer.data(), copied <= length ? copied : length);
    return true;
}

std::wstring rigStatusText(const RigProgram& program) {
    std::wstring text;
    if (!rigStatusText(program, text)) return std::wstring();
    return text;
}

RigVersionRows rigVersionRows(const RigProgram& program) {
    static const int LABELS[3] = {RIG_ID_LABEL_UNIT, RIG_ID_LABEL_BOOTLOADER, RIG_ID_LABEL_ESC};
    static const int VALUES[3] = {RIG_ID_VALUE_UNIT, RIG_ID_VALUE_BOOTLOADER, RIG_ID_VALUE_ESC};
    RigVersionRows rows;
    for (int row = 0; row < 3; ++row) {
        rows.label[row] = rigControlText(program, LABELS[row]);
        rows.value[row] = rigControlText(program, VALUES[row]);
        rows.labelEnabled[row] = rigIsControlEnabled(program, LABELS[row]);
        rows.valueEnabled[row] = rigIsControlEnabled(program, VALUES[row]);
    }
    return rows;
}

namespace {

bool waitStatus(const RigProgram& program, const std::wstring& text, DWORD timeoutMs, bool prefixOnly) {
    std::wstring seen;
    const Deadline deadline = deadlineIn(timeoutMs);
    for (;;) {
        if (rigStatusText(program, seen, 1000)) {
            if (prefixOnly ? startsWith(seen, text) : seen == text) return true;
        }
        if (passed(deadline) || programGone(program)) break;
        rigSleep(50);
    }
    complain("the status area reads: \"%s\"", rigShow(seen));
    return false;
}

}  // namespace

bool rigWaitStatus(const RigProgram& program, const std::wstring& text, DWORD timeoutMs) {
    return waitStatus(program, text, timeoutMs, false);
}

bool rigWaitStatusStartsWith(const RigProgram& program, const std::wstring& prefix, DWORD timeoutMs) {
    return waitStatus(program, prefix, timeoutMs, true);
}

// ---- Acting ----

bool rigClick(const RigProgram& program, int controlId) {
    HWND button = GetDlgItem(program.dialog, controlId);
    if (button == nullptr) {
        complain("no button %s to click", std::to_string(controlId));
        return false;
    }
    if (!IsWindowVisible(button) || !IsWindowEnabled(button)) {
        complain("button %s is grey or hidden: a click does nothing", std::to_string(controlId));
        return false;
    }
    return PostMessageW(button, BM_CLICK, 0, 0) != 0;
}

namespace {

// A key pressed and let go. The press may close the dialog before the release is posted (the
// program runs on while this thread waits for the processor): the release then has no window to
// go to, as it would have none on a desktop, and that is no failure of the press.
bool pressAndRelease(HWND dialog, UINT down, UINT up, WPARAM key, LPARAM downBits, LPARAM upBits) {
    if (!PostMessageW(dialog, down, key, downBits)) return false;
    return PostMessageW(dialog, up, key, upBits) || !IsWindow(dialog);
}

}  // namespace

bool rigPressKey(const RigProgram& program, RigKey key) {
    // The dialog's own loop turns these into commands as it does for the keyboard: Esc into
    // IDCANCEL, Enter into the default button, Alt+F4 into SC_CLOSE.
    switch (key) {
        case RigKey::Escape:
            return pressAndRelease(program.dialog, WM_KEYDOWN, WM_KEYUP, VK_ESCAPE, 0x00010001,
                                   static_cast<LPARAM>(0xC0010001u));
        case RigKey::Enter:
            return pressAndRelease(program.dialog, WM_KEYDOWN, WM_KEYUP, VK_RETURN, 0x001C0001,
                                   static_cast<LPARAM>(0xC01C0001u));
        case RigKey::AltF4:
            return pressAndRelease(program.dialog, WM_SYSKEYDOWN, WM_SYSKEYUP, VK_F4, 0x203E0001,
                                   static_cast<LPARAM>(0xE03E0001u));
    }
    return false;
}

bool rigClickCloseBox(const RigProgram& program) {
    return PostMessageW(program.dialog, WM_SYSCOMMAND, SC_CLOSE, 0) != 0;
}

bool rigCloseWindow(const RigProgram& program) { return PostMessageW(program.dialog, WM_CLOSE, 0, 0) != 0; }

// ---- Message boxes ----

bool rigFindMessageBox(const RigProgram& program, RigMessageBox& box) {
    box = RigMessageBox();
    HWND window = findOwnedBox(program);
    if (window == nullptr) return false;
    box.window = window;
    box.caption = rigWindowText(window);
    HWND text = GetDlgItem(window, MESSAGE_BOX_TEXT_ID);
    box.text = text != nullptr ? rigWindowText(text) : std::wstring();
    ButtonList list;
    EnumChildWindows(window, collectButton, reinterpret_cast<LPARAM>(&list));
    std::sort(list.byPosition.begin(), list.byPosition.end());
    for (const auto& button : list.byPosition) box.buttons.push_back(button.second);
    return true;
}

bool rigWaitMessageBox(const RigProgram& program, RigMessageBox& box, DWORD timeoutMs) {
    box = RigMessageBox();
    const Deadline deadline = deadlineIn(timeoutMs);
    for (;;) {
        RigMessageBox seen;
        if (rigFindMessageBox(program, seen)) {
            // The box is created before its caption, text and buttons are filled in; take it once
            // they are there and stay the same.
            const bool filled = !seen.buttons.empty() && !seen.text.empty() && !seen.caption.empty();
            if (filled && seen.window == box.window && seen.caption == box.caption && seen.text == box.text &&
                seen.buttons == box.buttons) {
                return true;
            }
            box = seen;
        }
        if (passed(deadline) || programGone(program)) break;
        rigSleep(POLL_MS);
    }
    complain("no message box appeared");
    return false;
}

bool rigAnswerMessageBox(const RigMessageBox& box, int buttonId, DWORD timeoutMs) {
    if (std::find(box.buttons.begin(), box.buttons.end(), buttonId) == box.buttons.end()) {
        complain("the message box has no button %s", std::to_string(buttonId));
        return false;
    }
    HWND button = GetDlgItem(box.window, buttonId);
    if (!PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), reinterpret_cast<LPARAM>(button))) {
        return false;
    }
    for (DWORD waited = 0; waited < timeoutMs; waited += POLL_MS) {
        if (!IsWindow(box.window) || !IsWindowVisible(box.window)) return true;
        rigSleep(POLL_MS);
    }
    complain("the message box did not close");
    return false;
}

// ---- Progress window ----

bool rigFindProgressWindow(const RigProgram& program, RigProgressWindow& progress, DWORD posTimeoutMs) {
    progress = RigProgressWindow();
    HWND window = findTopLevel(program.processId, program.dialog, PROGRESS_CLASSW, std::wstring());
    if (window == nullptr) return false;
    progress.window = window;
    GetWindowRect(window, &progress.rect);
    progress.title = rigWindowText(window);
    progress.visible = IsWindowVisible(window) != 0;
    DWORD_PTR position = 0;
    if (posTimeoutMs > 0 &&
        SendMessageTimeoutW(window, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, posTimeoutMs, &position)) {
        progress.positionRead = true;
        progress.position = static_cast<int>(position);
    }
    return true;
}

bool rigWaitProgressWindow(const RigProgram& program, RigProgressWindow& progress, DWORD timeoutMs) {
    const Deadline deadline = deadlineIn(timeoutMs);
    for (;;) {
        if (rigFindProgressWindow(program, progress, 0) && progress.visible) return true;
        if (passed(deadline) || programGone(program)) break;
        rigSleep(POLL_MS);
    }
    complain("no progress window appeared");
    return false;
}

// ---- Notifications ----

RigDelivery rigNotifyInterface(const RigProgram& program, WPARAM event, const std::wstring& path, DWORD timeoutMs) {
    DEV_BROADCAST_DEVICEINTERFACE_W record = {};
    std::size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (path.size() + 1) * sizeof(wchar_t);
    record.dbcc_size = static_cast<DWORD>(size);
    record.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    record.dbcc_classguid = HID_INTERFACE_CLASS;
    std::vector<std::uint8_t> bytes = recordBytes(record, size);
    std::memcpy(bytes.data() + offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name), path.c_str(),
                (path.size() + 1) * sizeof(wchar_t));
    return deliver(program, event, std::move(bytes), timeoutMs);
}

RigDelivery rigNotifyVolume(const RigProgram& program, WPARAM event, DWORD unitMask) {
    DEV_BROADCAST_VOLUME record = {};
    record.dbcv_size = sizeof record;
    record.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    record.dbcv_unitmask = unitMask;
    return deliver(program, event, recordBytes(record, sizeof record), RIG_START_TIMEOUT_MS);
}

RigDelivery rigNotifyPort(const RigProgram& program, WPARAM event, const std::wstring& portName) {
    DEV_BROADCAST_PORT_W record = {};
    std::size_t size = offsetof(DEV_BROADCAST_PORT_W, dbcp_name) + (portName.size() + 1) * sizeof(wchar_t);
    record.dbcp_size = static_cast<DWORD>(size);
    record.dbcp_devicetype = DBT_DEVTYP_PORT;
    std::vector<std::uint8_t> bytes = recordBytes(record, size);
    std::memcpy(bytes.data() + offsetof(DEV_BROADCAST_PORT_W, dbcp_name), portName.c_str(),
                (portName.size() + 1) * sizeof(wchar_t));
    return deliver(program, event, std::move(bytes), RIG_START_TIMEOUT_MS);
}

bool rigWaitDelivered(DWORD timeoutMs) {
    if (!finishDelivery(timeoutMs)) {
        complain("the notification's handling has not ended");
        return false;
    }
    return true;
}

RigDelivery rigPlugIn(const RigProgram& program, const RigDevice& device, int* deviceNumber) {
    int number = rigPlug(device);
    if (deviceNumber != nullptr) *deviceNumber = number;
    if (number < 0) {
        complain("the simulator refused the device");
        return RigDelivery::Failed;
    }
    return rigNotifyInterface(program, DBT_DEVICEARRIVAL, rigDevicePath(number));
}

RigDelivery rigPullOut(const RigProgram& program, int deviceNumber, const std::wstring& pathAsNotified) {
    std::wstring path = pathAsNotified.empty() ? rigDevicePath(deviceNumber) : pathAsNotified;
    rigUnplug(deviceNumber);
    return rigNotifyInterface(program, DBT_DEVICEREMOVECOMPLETE, path);
}

// ---- Units ----

std::uint32_t rigRequestCount(int deviceNumber, std::uint8_t command) {
    return simCountRequests(rigUnitSnapshot(deviceNumber), command);
}

std::size_t rigTranscriptSize(int deviceNumber) { return rigUnitSnapshot(deviceNumber).transcript.size(); }

bool rigWaitRequestCount(int deviceNumber, std::uint8_t command, std::uint32_t atLeast, DWORD timeoutMs) {
    const Deadline deadline = deadlineIn(timeoutMs);
    for (;;) {
        const std::uint32_t count = rigRequestCount(deviceNumber, command);
        if (count >= atLeast) return true;
        if (passed(deadline)) {
            char detail[96];
            std::snprintf(detail, sizeof detail, "%u requests 0x%02X, not %u", unsigned{count}, unsigned{command},
                          unsigned{atLeast});
            complain("the unit received %s", detail);
            return false;
        }
        rigSleep(POLL_MS);
    }
}

std::string rigReadFile(const std::wstring& path) {
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got != 0) bytes.append(chunk, got);
    CloseHandle(file);
    return bytes;
}

bool rigLoadImage(const RigBuild& build, std::vector<std::uint8_t>& image) {
    image.clear();
    std::wstring path = rigProgramPath(build);
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) {
        complain("cannot read the resources of %s", rigUtf8(path));
        return false;
    }
    DWORD size = 0;
    const std::uint8_t* bytes = exactResource(module, MAKEINTRESOURCEW(10 /* RT_RCDATA */),
                                              MAKEINTRESOURCEW(build.imageResourceId), RIG_LANGID_GERMAN, &size);
    if (bytes != nullptr) image.assign(bytes, bytes + size);
    FreeLibrary(module);
    if (bytes == nullptr) complain("the program carries no image %s", std::to_string(build.imageResourceId));
    return bytes != nullptr;
}

long rigFirstFlashDifference(const SimUnit& unit, const std::vector<std::uint8_t>& image) {
    if (unit.flash.size() < image.size()) return 0;
    for (std::size_t i = 0; i < unit.flash.size(); ++i) {
        std::uint8_t expected = i < image.size() ? image[i] : 0xFF;
        if (unit.flash[i] != expected) return static_cast<long>(i);
    }
    return -1;
}

// ---- Catalogue ----

bool rigLoadCatalogueText(const std::wstring& exePath, std::uint16_t id, LANGID language, std::wstring& text) {
    text.clear();
    HMODULE module = LoadLibraryExW(exePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) {
        complain("cannot read the resources of %s", rigUtf8(exePath));
        return false;
    }
    DWORD size = 0;
    const std::uint8_t* block =
        exactResource(module, MAKEINTRESOURCEW(6 /* RT_STRING */), MAKEINTRESOURCEW(id / 16 + 1), language, &size);
    bool found = block != nullptr && stringInBlock(block, size, id % 16u, text);
    FreeLibrary(module);
    return found;
}

std::vector<std::uint16_t> rigCatalogueIds(const std::wstring& exePath, LANGID language) {
    std::vector<std::uint16_t> ids;
    HMODULE module = LoadLibraryExW(exePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) return ids;
    std::vector<std::uint16_t> blocks;
    EnumResourceNamesW(module, MAKEINTRESOURCEW(6), noteStringBlock, reinterpret_cast<LONG_PTR>(&blocks));
    for (std::uint16_t blockId : blocks) {
        DWORD size = 0;
        const std::uint8_t* block =
            exactResource(module, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(blockId), language, &size);
        if (block == nullptr) continue;
        for (unsigned index = 0; index < 16; ++index) {
            std::wstring text;
            if (stringInBlock(block, size, index, text)) {
                ids.push_back(static_cast<std::uint16_t>((blockId - 1) * 16 + index));
            }
        }
    }
    FreeLibrary(module);
    std::sort(ids.begin(), ids.end());
    return ids;
}

// ---- Screenshots ----

namespace {

// import's geometry for the part of the screen to keep ("" keeps it whole).
std::string screenshotOf(const RigProgram* program, const std::string& name, const std::string& cropGeometry);

}  // namespace

std::string rigScreenshot(const RigProgram* program, const std::string& name) {
    return screenshotOf(program, name, std::string());
}

std::string rigScreenshotOfWindows(const RigProgram* program, const std::string& name,
                                   const std::vector<HWND>& windows) {
    RECT area = {};
    bool any = false;
    for (HWND window : windows) {
        RECT rect;
        if (window == nullptr || !IsWindowVisible(window) || !GetWindowRect(window, &rect)) continue;
        if (any) {
            UnionRect(&area, &area, &rect);
        } else {
            area = rect;
            any = true;
        }
    }
    // The screen holds the window only as far as it lies on it.
    RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (!any || !IntersectRect(&area, &area, &screen)) {
        complain("no visible window on the screen for the screenshot %s", name);
        return std::string();
    }
    char geometry[64];
    std::snprintf(geometry, sizeof geometry, "%ldx%ld+%ld+%ld", area.right - area.left, area.bottom - area.top,
                  area.left, area.top);
    return screenshotOf(program, name, geometry);
}

namespace {

std::string screenshotOf(const RigProgram* program, const std::string& name, const std::string& cropGeometry) {
    if (program != nullptr && program->dialog != nullptr) {
        // Let the program paint what it was last told to show before the screen is taken.
        RedrawWindow(program->dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        rigWaitIdle(*program, 2000);
        rigSleep(300);
        rigWaitIdle(*program, 2000);
    }
    std::string display = rigUtf8(environment(L"DISPLAY"));
    std::string folder = rigUtf8(environment(L"QUENLOR_SHOTS_DIR"));
    if (folder.empty()) {
        std::wstring root = repositoryRoot();
        if (root.size() > 2 && root[1] == L':') {
            folder = rigUtf8(root.substr(2) + L"\\build\\wine-rig\\shots");
            for (char& c : folder)
                if (c == '\\') c = '/';
        }
    }
    if (display.empty() || folder.empty()) {
        complain("no DISPLAY or no shots folder for the screenshot %s", name);
        return std::string();
    }
    std::string finalPath = folder + "/" + name + ".png";
    std::string partPath = folder + "/." + name + ".part.png";
    std::wstring finalWindows = toWindowsPath(std::wstring(finalPath.begin(), finalPath.end()));
    CreateDirectoryW(toWindowsPath(std::wstring(folder.begin(), folder.end())).c_str(), nullptr);
    DeleteFileW(finalWindows.c_str());
    // Wine starts a Unix program when given one; it cannot be waited for, so the picture is written
    // under another name and renamed once it is whole.
    std::string crop = cropGeometry.empty() ? std::string() : " -crop " + cropGeometry + " +repage";
    // No time stamps or other metadata in the file: the same screen gives the same bytes, so a
    // picture kept in the repository changes only when what it shows changes.
    std::string script = "import -display " + display + " -window root" + crop +
                         " -strip -define png:exclude-chunks=date,time '" + partPath + "' && mv -f '" + partPath +
                         "' '" + finalPath + "'";
    std::wstring commandLine = L"Z:\\bin\\sh -c \"" + std::wstring(script.begin(), script.end()) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        complain("could not start import for %s", name);
        return std::string();
    }
    if (info.hThread != nullptr) CloseHandle(info.hThread);
    if (info.hProcess != nullptr) CloseHandle(info.hProcess);
    for (DWORD waited = 0; waited < SCREENSHOT_TIMEOUT_MS; waited += 50) {
        if (fileExists(finalWindows)) return finalPath;
        rigSleep(50);
    }
    complain("the screenshot %s did not appear", finalPath);
    return std::string();
}

}  // namespace

// ---- Helpers ----

std::string rigUtf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size, nullptr, nullptr);
    return result;
}

std::string rigShow(const std::wstring& text) {
    std::wstring shown;
    for (wchar_t c : text) {
        if (c == L'\\') shown += L"\\\\";
        else if (c == L'\r') shown += L"\\r";
        else if (c == L'\n') shown += L"\\n";
        else shown += c;
    }
    return rigUtf8(shown);
}

void rigSleep(DWORD ms) { Sleep(ms); }

// ---- Responsiveness -------------------------------------------------------------------------

namespace {

DWORD WINAPI watchResponsiveness(void* parameter) {
    RigResponsivenessWatch& watch = *static_cast<RigResponsivenessWatch*>(parameter);
    ULONGLONG lastAnswer = GetTickCount64();
    while (!watch.stopping) {
        DWORD_PTR result = 0;
        const bool answered = SendMessageTimeoutW(watch.window, WM_NULL, 0, 0, SMTO_NORMAL,
                                                  RIG_RESPONSIVENESS_LIMIT_MS, &result) != 0;
        const ULONGLONG now = GetTickCount64();
        if (answered) {
            const DWORD gap = static_cast<DWORD>(now - lastAnswer);
            if (gap > watch.longestGapMs) watch.longestGapMs = gap;
            lastAnswer = now;
            ++watch.answers;
        }
        Sleep(RIG_RESPONSIVENESS_POLL_MS);
    }
    const DWORD last = static_cast<DWORD>(GetTickCount64() - lastAnswer);
    if (last > watch.longestGapMs) watch.longestGapMs = last;
    return 0;
}

}  // namespace

bool rigStartWatch(RigResponsivenessWatch& watch, HWND window) {
    watch.window = window;
    watch.stopping = false;
    watch.longestGapMs = 0;
    watch.answers = 0;
    watch.thread = CreateThread(nullptr, 0, watchResponsiveness, &watch, 0, nullptr);
    if (watch.thread == nullptr) complain("the responsiveness watch did not start");
    return watch.thread != nullptr;
}

DWORD rigStopWatch(RigResponsivenessWatch& watch) {
    if (watch.thread == nullptr) return 0;
    watch.stopping = true;
    WaitForSingleObject(watch.thread, INFINITE);
    CloseHandle(watch.thread);
    watch.thread = nullptr;
    return watch.longestGapMs;
}

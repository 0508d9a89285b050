// Interrupts on Windows: a console control handler, which the system runs on a thread of its own.
// Before the update begins it ends the program with 130. While held it swallows Ctrl-C and
// Ctrl-Break; for a closed console, a log-off or a shut-down the system ends the process as soon as
// the handler returns (or after its grace period of some seconds), so the handler keeps it alive
// for as long as the system grants, waiting for the update to finish.
//
// A log-off, a restart or a shut-down can be refused only by a window: the system asks every
// top-level window (WM_QUERYENDSESSION) before it ends the session, and message-only windows are not
// asked. The first hold starts a thread with a hidden top-level window of the program's own, which
// takes its messages for the rest of the run; while held it answers FALSE and names the reason.
#include "cli/cli_platform.h"

#include "cli/cli_texts.h"

#include <windows.h>

#include <cstring>

namespace {

constexpr DWORD HOLD_POLL_MS = 50;
constexpr wchar_t SESSION_WINDOW_CLASS[] = L"QuenlorSessionGuard";
constexpr wchar_t SESSION_WINDOW_TITLE[] = L"quenlor";
// The hold is switched on the window's own thread: the reason can only be registered from there.
constexpr UINT SESSION_HOLD_MESSAGE = WM_APP + 1;
// The window's thread does nothing else, so it starts and answers within these at once.
constexpr DWORD SESSION_WINDOW_START_MS = 5000;
constexpr DWORD SESSION_WINDOW_REPLY_MS = 5000;

volatile LONG Holding = 0;
volatile LONG Held = 0;
volatile LONG UpdateBegan = 0;  // from then on the ESC may have changed

BOOL WINAPI handleConsoleControl(DWORD event) {
    if (InterlockedCompareExchange(&Holding, 0, 0) == 0) {
        const char* text = InterlockedCompareExchange(&UpdateBegan, 0, 0) != 0 ? INTERRUPTED_AFTER_UPDATE : INTERRUPTED;
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
        ExitProcess(130);
    }
    InterlockedExchange(&Held, 1);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        while (InterlockedCompareExchange(&Holding, 0, 0) != 0) Sleep(HOLD_POLL_MS);
    }
    return TRUE;
}

// Touched only on the window's thread.
bool SessionEndHeld = false;
// Set once the window's thread has created it and the main thread has seen it ready.
HWND SessionWindow = nullptr;
bool SessionWindowTried = false;

LRESULT CALLBACK sessionWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_QUERYENDSESSION:
            return SessionEndHeld ? FALSE : TRUE;
        case WM_ENDSESSION:
            // The session ends all the same (a forced shut-down): nothing can be saved, and the
            // system ends the process when this returns.
            return 0;
        case SESSION_HOLD_MESSAGE:
            if (wParam != 0 && !SessionEndHeld) ShutdownBlockReasonCreate(window, SESSION_END_REASON);
            if (wParam == 0 && SessionEndHeld) ShutdownBlockReasonDestroy(window);
            SessionEndHeld = wParam != 0;
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

struct SessionWindowStart {
    HANDLE ready;
    HWND window;
};

DWORD WINAPI runSessionWindow(LPVOID parameter) {
    auto* start = static_cast<SessionWindowStart*>(parameter);
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = sessionWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = SESSION_WINDOW_CLASS;
    RegisterClassW(&windowClass);
    // Top-level and never shown: no parent, so not a message-only window.
    HWND window = CreateWindowExW(0, SESSION_WINDOW_CLASS, SESSION_WINDOW_TITLE, WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                                  nullptr, instance, nullptr);
    start->window = window;
    SetEvent(start->ready);  // start is not touched after this
    if (window == nullptr) return 1;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    return 0;
}

// The window, started on the first call; null where it could not be made (no desktop): the update
// goes on all the same, as the console control handler still holds for its seconds.
HWND sessionWindow() {
    if (SessionWindowTried) return SessionWindow;
    SessionWindowTried = true;
    static SessionWindowStart start{};
    start.ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (start.ready == nullptr) return nullptr;
    HANDLE thread = CreateThread(nullptr, 0, runSessionWindow, &start, 0, nullptr);
    if (thread == nullptr) return nullptr;
    CloseHandle(thread);
    // A thread that never gets ready keeps start; the window is then never used.
    if (WaitForSingleObject(start.ready, SESSION_WINDOW_START_MS) != WAIT_OBJECT_0) return nullptr;
    CloseHandle(start.ready);
    SessionWindow = start.window;
    return SessionWindow;
}

}  // namespace

void installInterruptHandling() { SetConsoleCtrlHandler(handleConsoleControl, TRUE); }

void holdInterrupts(bool hold) {
    if (hold) InterlockedExchange(&UpdateBegan, 1);
    if (!hold) InterlockedExchange(&Held, 0);
    InterlockedExchange(&Holding, hold ? 1 : 0);
}

bool takeHeldInterrupt() { return InterlockedExchange(&Held, 0) != 0; }

void keepSystemAwake(bool on) { SetThreadExecutionState(on ? (ES_CONTINUOUS | ES_SYSTEM_REQUIRED) : ES_CONTINUOUS); }

bool canKeepSystemAwake() { return true; }

void holdSessionEnd(bool on) {
    HWND window = on ? sessionWindow() : SessionWindow;
    if (window == nullptr) return;
    DWORD_PTR done = 0;
    SendMessageTimeoutW(window, SESSION_HOLD_MESSAGE, on ? 1 : 0, 0, SMTO_NORMAL, SESSION_WINDOW_REPLY_MS, &done);
}

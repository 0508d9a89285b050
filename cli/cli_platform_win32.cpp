// Interrupts on Windows: a console control handler, which the system runs on a thread of its own.
// Before the update begins it ends the program with 130. While held it swallows Ctrl-C and
// Ctrl-Break; for a closed console, a log-off or a shut-down the system ends the process as soon as
// the handler returns (or after its grace period of some seconds), so the handler keeps it alive
// for as long as the system grants, waiting for the update to finish.
#include "cli/cli_platform.h"

#include "cli/cli_texts.h"

#include <windows.h>

#include <cstring>

namespace {

constexpr DWORD HOLD_POLL_MS = 50;

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

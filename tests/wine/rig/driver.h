// The driver of the Wine rig: starts a shipping program against the simulated units that this
// test process serves, and then looks at it and handles it as a person would: reads the title,
// the labels, the version values and the status area, clicks buttons (never a grey one), presses
// keys, reads and answers message boxes, watches the progress window, plugs and unplugs units with
// the notifications the system would send, and takes screenshots of the Xvfb screen.
//
// Functions that can fail return false and say why on stderr, so a failed ASSERT explains itself.
// Every program started here is killed at the latest by rigEndScenario or when this process ends.
#pragma once

#include "tests/wine/rig/sim_server.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// ---- The three shipping programs, as the tests expect them to be --------------------------------

struct RigBuild {
    const wchar_t* modelName;  // as the title and message 40034 show it
    const wchar_t* exeName;    // in dist/
    std::uint8_t modelIdByte;  // low byte of both accepted hardware IDs
    std::uint16_t imageResourceId;
    std::uint32_t imageBytes;
};

constexpr std::size_t RIG_BUILD_COUNT = 3;
extern const RigBuild RIG_BUILDS[RIG_BUILD_COUNT];
const RigBuild& rigBuild60();
const RigBuild& rigBuild140();
const RigBuild& rigBuild90();

// The two hardware IDs that a build accepts.
std::uint32_t rigAcceptedIdA(const RigBuild& build);  // 0x111F40nn
std::uint32_t rigAcceptedIdB(const RigBuild& build);  // 0x0A0640nn

// "TESSALUX <model> FW Updater 2.0 ", the title each build must show.
std::wstring rigExpectedTitle(const RigBuild& build);

// Windows path of the program in dist/ (QUENLOR_DIST_DIR overrides the folder the rig was built
// for).
std::wstring rigDistDir();
std::wstring rigProgramPath(const RigBuild& build);

// ---- Languages ------------------------------------------------------------------------------

// Wine takes a process's user interface language from its Unix locale when it starts, and a
// program started from here inherits this process's locale: the German cases run in a test process
// started under the German locale (run-wine-tests does so).
enum class RigLanguage : std::uint8_t { English, German };
RigLanguage rigProcessLanguage();
constexpr LANGID RIG_LANGID_ENGLISH = 9;      // the catalogue's English: neutral sublanguage
constexpr LANGID RIG_LANGID_GERMAN = 0x0407;  // 1031

// ---- Devices --------------------------------------------------------------------------------

constexpr std::uint16_t RIG_UNIT_VENDOR_ID = 0x2F1E;
constexpr std::uint16_t RIG_PRODUCT_DIALPUCK = 1;
constexpr std::uint16_t RIG_PRODUCT_VEXOBOX = 2;

// A VexoBOX in its application with a compatible ESC of the build's model (hardware ID A); unit
// firmware 0x00010500, ESC bootloader 0x00000203, ESC firmware 0x0105 (1.5, 2.3 and 1.5 on screen).
RigDevice rigCompatibleUnit(const RigBuild& build);
// A mouse: another maker's HID device that the program must leave alone.
RigDevice rigForeignDevice();

// ---- One scenario's simulator ---------------------------------------------------------------

// Starts the simulator with a units file of this scenario's own. False when a stale simulator
// holds the rig's pipes.
bool rigStartScenario();
// Kills every program still running, stops the simulator and removes the units file.
void rigEndScenario();

// ---- The program ----------------------------------------------------------------------------

struct RigProgram {
    const RigBuild* build = nullptr;
    HANDLE process = nullptr;
    DWORD processId = 0;
    DWORD threadId = 0;  // the program's GUI thread, once its dialog is found
    HWND dialog = nullptr;
};

constexpr DWORD RIG_START_TIMEOUT_MS = 15000;
constexpr DWORD RIG_REPLY_TIMEOUT_MS = 5000;

// Starts the build's program (or exePath, a copy of it elsewhere) with the units plugged so far
// and waits until its dialog is up: visible, or hidden behind a message box that the start-up
// opened. The program sees the scenario's units file through QUENLOR_RIG_UNITS.
bool rigStartProgram(RigProgram& program, const RigBuild& build, const std::wstring& exePath = L"");
// Starts the program and returns at once, without waiting for any window: for a start that is
// expected to end by itself.
bool rigLaunchProgram(RigProgram& program, const RigBuild& build, const std::wstring& exePath = L"");
// Waits for the program to end; its exit code in *exitCode.
bool rigWaitExit(RigProgram& program, DWORD timeoutMs, DWORD* exitCode);
// Ends the program at once if it still runs (also done by rigEndScenario).
void rigKillProgram(RigProgram& program);
bool rigIsRunning(const RigProgram& program);

// Waits until the program's thread has handled everything sent or posted to it so far (false
// when it stays busy for timeoutMs, as during an update).
bool rigWaitIdle(const RigProgram& program, DWORD timeoutMs = RIG_REPLY_TIMEOUT_MS);

// ---- Reading the dialog ---------------------------------------------------------------------

constexpr int RIG_ID_CLOSE = 2;
constexpr int RIG_ID_UPDATE = 1002;
constexpr int RIG_ID_LABEL_UNIT = 40010;
constexpr int RIG_ID_LABEL_BOOTLOADER = 1005;
constexpr int RIG_ID_LABEL_ESC = 40011;
constexpr int RIG_ID_VALUE_UNIT = 40013;
constexpr int RIG_ID_VALUE_BOOTLOADER = 40014;
constexpr int RIG_ID_VALUE_ESC = 40015;
constexpr int RIG_ID_STATUS = 40004;
constexpr int RIG_ID_GROUP = 40007;

std::wstring rigWindowText(HWND window);  // titles, statics and buttons: no message to the program
std::wstring rigTitle(const RigProgram& program);
std::wstring rigControlText(const RigProgram& program, int controlId);
bool rigIsControlEnabled(const RigProgram& program, int controlId);
// The status area is an edit control: its text is asked for with WM_GETTEXT, which waits for the
// program's thread. False when the thread does not answer within timeoutMs.
bool rigStatusText(const RigProgram& program, std::wstring& text, DWORD timeoutMs = RIG_REPLY_TIMEOUT_MS);
std::wstring rigStatusText(const RigProgram& program);  // empty when the thread does not answer

// The three version rows: labels, values and whether each control is enabled.
struct RigVersionRows {
    std::wstring label[3];
    std::wstring value[3];
    bool labelEnabled[3] = {};
    bool valueEnabled[3] = {};
};
RigVersionRows rigVersionRows(const RigProgram& program);

// Polls until the status area reads exactly text (true) or timeoutMs passes (false; the text last
// seen goes to stderr).
bool rigWaitStatus(const RigProgram& program, const std::wstring& text, DWORD timeoutMs);
bool rigWaitStatusStartsWith(const RigProgram& program, const std::wstring& prefix, DWORD timeoutMs);

// ---- Acting as a person ---------------------------------------------------------------------

// A click on a button. Refused (false, nothing sent) when the button is disabled or hidden, as a
// person's click on it would do nothing.
bool rigClick(const RigProgram& program, int controlId);

enum class RigKey : std::uint8_t { Escape, Enter, AltF4 };
bool rigPressKey(const RigProgram& program, RigKey key);
// The caption's close box.
bool rigClickCloseBox(const RigProgram& program);
// WM_CLOSE, as a task manager's "close window" or another program sends it.
bool rigCloseWindow(const RigProgram& program);

// ---- Message boxes --------------------------------------------------------------------------

struct RigMessageBox {
    HWND window = nullptr;
    std::wstring caption;
    std::wstring text;
    std::vector<int> buttons;  // IDOK, IDCANCEL, IDYES, IDNO … in the box's order
};

// The message box owned by the dialog, if one is open now.
bool rigFindMessageBox(const RigProgram& program, RigMessageBox& box);
bool rigWaitMessageBox(const RigProgram& program, RigMessageBox& box, DWORD timeoutMs);
// Presses one of the box's buttons and waits until the box is gone. False when the box has no such
// button or does not close.
bool rigAnswerMessageBox(const RigMessageBox& box, int buttonId, DWORD timeoutMs = RIG_REPLY_TIMEOUT_MS);

// ---- The progress window --------------------------------------------------------------------

struct RigProgressWindow {
    HWND window = nullptr;
    RECT rect = {};
    std::wstring title;
    bool visible = false;
    bool positionRead = false;  // PBM_GETPOS is answered only while the program takes messages
    int position = 0;
};

// The progress window owned by the dialog, if there is one now; its position is asked for only when
// posTimeoutMs is not 0.
bool rigFindProgressWindow(const RigProgram& program, RigProgressWindow& progress, DWORD posTimeoutMs = 200);
bool rigWaitProgressWindow(const RigProgram& program, RigProgressWindow& progress, DWORD timeoutMs);

// ---- Plugging and unplugging while the program runs ------------------------------------------

// A notification is delivered as the system delivers it: sent to the dialog with the record copied
// into the program. The dialog handles an arrival on its thread and may open a message box there
// before it returns; the delivery therefore runs on a thread of its own, and each call below
// returns as soon as the dialog has handled the notification or the handling has opened a message
// box (a box that was open before runs its own loop, which handles the notification). In the second
// case rigWaitDelivered tells when the handling is over (after the box was answered). Only one
// delivery is outstanding at a time.
enum class RigDelivery : std::uint8_t { Handled, BoxOpen, Failed };

RigDelivery rigNotifyInterface(const RigProgram& program, WPARAM event, const std::wstring& path,
                               DWORD timeoutMs = RIG_START_TIMEOUT_MS);
// A notification for another device type: a volume (drive letter mask) …
RigDelivery rigNotifyVolume(const RigProgram& program, WPARAM event, DWORD unitMask);
// … or a port (COM name).
RigDelivery rigNotifyPort(const RigProgram& program, WPARAM event, const std::wstring& portName);
bool rigWaitDelivered(DWORD timeoutMs = RIG_START_TIMEOUT_MS);

// Plugs the device into the simulator, then tells the dialog of its arrival.
RigDelivery rigPlugIn(const RigProgram& program, const RigDevice& device, int* deviceNumber);
// Unplugs it from the simulator, then tells the dialog of its removal (path as given, or the
// device's own path).
RigDelivery rigPullOut(const RigProgram& program, int deviceNumber, const std::wstring& pathAsNotified = L"");

// ---- The simulated units ---------------------------------------------------------------------

// Requests that the unit received, with the given command code, and in all.
std::uint32_t rigRequestCount(int deviceNumber, std::uint8_t command);
std::size_t rigTranscriptSize(int deviceNumber);
// Waits, with a bound, until the unit has received at least atLeast requests with that command;
// false (and a line saying how many came) when it has not by then.
bool rigWaitRequestCount(int deviceNumber, std::uint8_t command, std::uint32_t atLeast, DWORD timeoutMs);

// The whole file's bytes, read while its writer may still hold it open; empty when it cannot be
// opened.
std::string rigReadFile(const std::wstring& path);

// The build's firmware image as the program carries it (RT_RCDATA, language 1031).
bool rigLoadImage(const RigBuild& build, std::vector<std::uint8_t>& image);
// Where the ESC's flash first differs from "image at address 0, erased (0xFF) behind it"; -1 when it
// holds exactly that.
long rigFirstFlashDifference(const SimUnit& unit, const std::vector<std::uint8_t>& image);

// ---- Resources of a program file --------------------------------------------------------------

// A string of the program's message catalogue in the given language, read from the file without
// running it. False when the entry is absent.
bool rigLoadCatalogueText(const std::wstring& exePath, std::uint16_t id, LANGID language, std::wstring& text);
// The IDs of every string entry in the file, in one language.
std::vector<std::uint16_t> rigCatalogueIds(const std::wstring& exePath, LANGID language);

// ---- Screenshots ------------------------------------------------------------------------------

// Takes a screenshot of the whole Xvfb screen into <shots folder>/<name>.png once the program's
// thread has painted (QUENLOR_SHOTS_DIR, a Unix path, chooses the folder). Returns the Unix path,
// empty on failure.
std::string rigScreenshot(const RigProgram* program, const std::string& name);
// The same, cut to the smallest rectangle that holds the given windows, frames and title bars
// included (the dialog and its message box, say): a picture of the program without the empty
// screen around it. Windows that are gone or hidden are left out; empty when none is left.
std::string rigScreenshotOfWindows(const RigProgram* program, const std::string& name,
                                   const std::vector<HWND>& windows);

// ---- Small helpers ----------------------------------------------------------------------------

// UTF-8 for messages and gtest output.
std::string rigUtf8(const std::wstring& text);
// Text with \r, \n and backslashes spelled out, for failure output.
std::string rigShow(const std::wstring& text);
void rigSleep(DWORD ms);

// ---- Responsiveness -------------------------------------------------------------------------
// Windows counts a window whose thread handles no message for 5 s as hung. A watch sends WM_NULL to
// a window from a thread of its own, again and again, each time with a 500 ms limit, and keeps the
// longest time between two answers.
constexpr DWORD RIG_RESPONSIVENESS_LIMIT_MS = 500;
constexpr DWORD RIG_RESPONSIVENESS_POLL_MS = 20;
struct RigResponsivenessWatch {
    HANDLE thread = nullptr;
    HWND window = nullptr;
    volatile bool stopping = false;
    volatile DWORD longestGapMs = 0;  // counting the time from the last answer to the stop
    volatile DWORD answers = 0;
};
bool rigStartWatch(RigResponsivenessWatch& watch, HWND window);
// Stops the watch; the longest time without an answer.
DWORD rigStopWatch(RigResponsivenessWatch& watch);

// The end of the session while the programs write the ESC: the system's question before a log-off,
// a restart or a shut-down (WM_QUERYENDSESSION, sent as the system sends it) is put to the dialog
// before, during and after an update, and to quenlor.exe's hidden window during one; the answers,
// the reason each program registered and when (the session log of our hid.dll), and the ESC's flash
// afterwards.
#include "tests/wine/hidstack/session_log.h"
#include "tests/wine/scenarios/scenario.h"
#include "tests/wine/scenarios/update_requests.h"

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr DWORD BOX_TIMEOUT_MS = 10000;
constexpr DWORD WHOLE_UPDATE_MS = 120000;
constexpr DWORD STEP_TIMEOUT_MS = 30000;
// The dialog answers between two device commands; the longest of them here is the erase's second.
constexpr DWORD ANSWER_TIMEOUT_MS = 5000;
constexpr wchar_t CLI_SESSION_WINDOW_CLASS[] = L"QuenlorSessionGuard";
constexpr wchar_t CLI_SESSION_END_REASON[] =
    L"quenlor is writing firmware into the ESC: do not interrupt the update, or the ESC is left without firmware. "
    L"You will be told when it has finished.";

// ---- The question, as the system puts it ----

struct EndKind {
    const char* name;
    LPARAM flags;
};

const EndKind END_KINDS[] = {
    {"shut-down or restart", 0},
    {"log-off", static_cast<LPARAM>(ENDSESSION_LOGOFF)},
    {"restart to finish an update", static_cast<LPARAM>(ENDSESSION_CLOSEAPP)},
};

struct EndAnswer {
    bool answered = false;
    LRESULT mayEnd = -1;
    DWORD tookMs = 0;
};

EndAnswer askToEndSession(HWND window, const EndKind& kind) {
    EndAnswer answer;
    DWORD_PTR result = 0;
    const DWORD startedAt = GetTickCount();
    answer.answered = SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, kind.flags, SMTO_NORMAL, ANSWER_TIMEOUT_MS,
                                          &result) != 0;
    answer.tookMs = GetTickCount() - startedAt;
    answer.mayEnd = static_cast<LRESULT>(result);
    return answer;
}

// Every kind of end put to the window; each must be answered, with mayEnd (TRUE) or a refusal.
void expectAnswers(HWND window, bool mayEnd, const char* when) {
    for (const EndKind& kind : END_KINDS) {
        const EndAnswer answer = askToEndSession(window, kind);
        std::printf("%s, %s: %s after %lu ms\n", when, kind.name,
                    !answer.answered ? "no answer" : answer.mayEnd != 0 ? "TRUE" : "FALSE",
                    static_cast<unsigned long>(answer.tookMs));
        EXPECT_TRUE(answer.answered) << when << ", " << kind.name;
        if (answer.answered) {
            EXPECT_EQ(mayEnd ? TRUE : FALSE, answer.mayEnd) << when << ", " << kind.name;
        }
    }
}

// ---- The session log ----

struct SessionCall {
    std::string call;  // "create" or "destroy"
    long reportsWritten = -1;
    HWND window = nullptr;
    bool ownThread = false;
    bool succeeded = false;
    std::wstring reason;
};

std::wstring fromUtf8(const std::string& text) {
    if (text.empty()) return L"";
    std::wstring wide(text.size(), L'\0');
    const int chars = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                                          static_cast<int>(wide.size()));
    wide.resize(chars > 0 ? static_cast<std::size_t>(chars) : 0);
    return wide;
}

// The log's lines; a line that does not parse fails the test.
std::vector<SessionCall> readSessionLog(const std::wstring& path) {
    std::vector<SessionCall> calls;
    std::istringstream lines(rigReadFile(path));
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (std::size_t tab = line.find('\t'); tab != std::string::npos; tab = line.find('\t', start)) {
            fields.push_back(line.substr(start, tab - start));
            start = tab + 1;
        }
        fields.push_back(line.substr(start));
        if (fields.size() != 6) {
            ADD_FAILURE() << "session log line of " << fields.size() << " fields: " << line;
            continue;
        }
        SessionCall call;
        call.call = fields[0];
        call.reportsWritten = std::strtol(fields[1].c_str(), nullptr, 10);
        call.window = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(std::strtoull(fields[2].c_str(), nullptr, 16)));
        call.ownThread = fields[3] == "1";
        call.succeeded = fields[4] == "1";
        call.reason = fromUtf8(fields[5]);
        calls.push_back(call);
    }
    return calls;
}

// Which request of the unit's transcript the program wrote first with that command and state byte.
long firstRequestIndex(const SimUnit& unit, std::uint8_t command, std::uint8_t state) {
    for (std::size_t i = 0; i < unit.transcript.size(); ++i) {
        const SimRequest& request = unit.transcript[i];
        if (request.bytes[1] == command && request.bytes[2] == state) return static_cast<long>(i);
    }
    return -1;
}

// Exactly one reason registered and removed on window, on its own thread: registered right before
// the system lock went out (all requests before it were written already), removed after
// removedAfterReports of the program's requests.
void expectReasonAroundTheWrite(const std::vector<SessionCall>& calls, HWND window, const std::wstring& reason,
                                const SimUnit& unit, long removedAfterReports) {
    ASSERT_EQ(2u, calls.size()) << "expected one create and one destroy";
    const SessionCall& created = calls[0];
    const SessionCall& destroyed = calls[1];
    EXPECT_EQ("create", created.call);
    EXPECT_EQ("destroy", destroyed.call);
    EXPECT_EQ(window, created.window);
    EXPECT_EQ(window, destroyed.window);
    EXPECT_TRUE(created.ownThread) << "ShutdownBlockReasonCreate was called from another thread than the window's";
    EXPECT_TRUE(destroyed.ownThread) << "ShutdownBlockReasonDestroy was called from another thread than the window's";
    EXPECT_TRUE(sameText(reason, created.reason));
    EXPECT_EQ(firstRequestIndex(unit, CMD_SYSTEM_LOCK, 1), created.reportsWritten)
        << "the reason was not registered right before the system lock";
    EXPECT_EQ(removedAfterReports, destroyed.reportsWritten);
    std::printf("reason registered after %ld reports (%s), removed after %ld; Wine's answers: %d, %d\n",
                created.reportsWritten, created.succeeded ? "accepted" : "refused", destroyed.reportsWritten,
                created.succeeded ? 1 : 0, destroyed.succeeded ? 1 : 0);
}

bool waitForRequest(int unit, std::uint8_t command, DWORD timeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 20) {
        if (rigRequestCount(unit, command) > 0) return true;
        rigSleep(20);
    }
    return rigRequestCount(unit, command) > 0;
}

class SessionEnd : public RigScenario {
protected:
    std::wstring logPath;
    int unit = -1;

    void SetUp() override {
        RigScenario::SetUp();
        wchar_t folder[MAX_PATH];
        GetTempPathW(MAX_PATH, folder);
        logPath = std::wstring(folder) + L"quenlor-session-log.txt";
        DeleteFileW(logPath.c_str());
        ASSERT_TRUE(SetEnvironmentVariableW(SESSION_LOG_VARIABLE, logPath.c_str()));
    }

    void TearDown() override {
        RigScenario::TearDown();
        SetEnvironmentVariableW(SESSION_LOG_VARIABLE, nullptr);
        DeleteFileW(logPath.c_str());
    }

    void startReady(const RigDevice& device) {
        unit = rigPlug(device);
        ASSERT_GE(unit, 0);
        START_PROGRAM(program, rigBuild60());
        ASSERT_TRUE(rigWaitStatus(program, expectedText(40000), 5000));
    }

    // Clicks Update and, with the warning open, asks once more: the warning's own loop answers.
    void clickUpdateAskAndAnswerWarning() {
        ASSERT_TRUE(rigClick(program, RIG_ID_UPDATE));
        RigMessageBox warning;
        ASSERT_TRUE(rigWaitMessageBox(program, warning, BOX_TIMEOUT_MS));
        ASSERT_TRUE(sameText(expectedText(40038), warning.text));
        expectAnswers(program.dialog, true, "dialog, the warning shown");
        ASSERT_TRUE(rigAnswerMessageBox(warning, IDOK));
    }
};

// ---- The dialog ----

TEST_F(SessionEnd, TheDialogRefusesOnlyWhileItWritesTheEscAndTheUpdateCompletes) {
    startReady(rigCompatibleUnit(rigBuild60()));
    expectAnswers(program.dialog, true, "dialog, ready");
    EXPECT_TRUE(readSessionLog(logPath).empty()) << "a reason registered before the update";

    clickUpdateAskAndAnswerWarning();
    ASSERT_TRUE(waitForRequest(unit, CMD_ERASE_FIRMWARE, STEP_TIMEOUT_MS));
    expectAnswers(program.dialog, false, "dialog, erasing");
    RigProgressWindow progress;
    ASSERT_TRUE(rigWaitProgressWindow(program, progress, STEP_TIMEOUT_MS));
    expectAnswers(program.dialog, false, "dialog, writing blocks");
    expectAnswers(progress.window, false, "progress window, writing blocks");

    ASSERT_TRUE(rigWaitStatus(program, expectedText(40032), WHOLE_UPDATE_MS));
    expectAnswers(program.dialog, true, "dialog, updated");
    RigMessageBox box;
    EXPECT_FALSE(rigFindMessageBox(program, box)) << "a box after success: " << rigShow(box.text);

    const SimUnit after = rigUnitSnapshot(unit);
    std::vector<std::uint8_t> image;
    ASSERT_TRUE(rigLoadImage(rigBuild60(), image));
    EXPECT_EQ(-1, rigFirstFlashDifference(after, image)) << "the flash does not hold exactly the image";
    EXPECT_TRUE(after.writeProtection);
    EXPECT_FALSE(after.systemLock);
    // Removed after the last command, the system lock off.
    expectReasonAroundTheWrite(readSessionLog(logPath), program.dialog, expectedText(40038), after,
                               static_cast<long>(after.transcript.size()));
    EXPECT_TRUE(rigIsRunning(program));
}

struct FailedStep {
    const char* name;
    SimFault fault;
    std::uint16_t stepText;
};

class SessionEndFailedStep : public SessionEnd, public ::testing::WithParamInterface<FailedStep> {};

// The failure box waits for the person: the session may end again while it is shown.
TEST_P(SessionEndFailedStep, TheDialogLetsTheSessionEndBeforeTheFailureIsShown) {
    RigDevice device = rigCompatibleUnit(rigBuild60());
    device.config.fault = GetParam().fault;
    startReady(device);
    clickUpdateAskAndAnswerWarning();
    RigMessageBox box;
    ASSERT_TRUE(rigWaitMessageBox(program, box, WHOLE_UPDATE_MS));
    EXPECT_TRUE(sameText(expectedText(40002), box.caption));
    EXPECT_TRUE(sameText(expectedText(GetParam().stepText), box.text.substr(0, expectedText(GetParam().stepText).size())));
    // Before the box was answered: the reason is gone, nothing was sent after the failed step, and
    // the question is answered TRUE.
    const SimUnit after = rigUnitSnapshot(unit);
    expectReasonAroundTheWrite(readSessionLog(logPath), program.dialog, expectedText(40038), after,
                               static_cast<long>(after.transcript.size()));
    expectAnswers(program.dialog, true, "dialog, failure shown");
    ASSERT_TRUE(rigAnswerMessageBox(box, IDOK));
    EXPECT_TRUE(rigWaitStatus(program, expectedText(40030), 5000));
    expectAnswers(program.dialog, true, "dialog, failed");
    EXPECT_EQ(2u, readSessionLog(logPath).size()) << "the session log grew after the failure";
    EXPECT_EQ(after.transcript.size(), rigTranscriptSize(unit)) << "requests after the failure";
}

// An error reply with a code that fails any step.
SimFault errorReplyAt(std::uint8_t command, std::uint32_t block = SIM_ANY_BLOCK) {
    SimFault fault = simFault(SimFaultKind::ErrorReply, command, block);
    fault.errorCode = 0x0000E1A5;
    return fault;
}

std::string failedStepName(const ::testing::TestParamInfo<FailedStep>& step) {
    return step.param.fault.command == CMD_SYSTEM_LOCK ? "Lock" : "MiddleBlock";
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SessionEndFailedStep,
    ::testing::Values(FailedStep{"the system lock refused", errorReplyAt(CMD_SYSTEM_LOCK), 40026},
                      FailedStep{"a middle block refused", errorReplyAt(CMD_WRITE_DATA, 300), 40009}),
    failedStepName);

// The reason is the warning in the person's language.
TEST_F(SessionEnd, GermanTheDialogRegistersTheGermanWarningAsTheReason) {
    REQUIRE_GERMAN_LOCALE();
    RigDevice device = rigCompatibleUnit(rigBuild60());
    device.config.fault = errorReplyAt(CMD_SYSTEM_LOCK);
    startReady(device);
    clickUpdateAskAndAnswerWarning();
    RigMessageBox box;
    ASSERT_TRUE(rigWaitMessageBox(program, box, WHOLE_UPDATE_MS));
    const SimUnit after = rigUnitSnapshot(unit);
    expectReasonAroundTheWrite(readSessionLog(logPath), program.dialog, expectedText(40038, RigLanguage::German), after,
                               static_cast<long>(after.transcript.size()));
    ASSERT_TRUE(rigAnswerMessageBox(box, IDOK));
}

// ---- quenlor.exe ----

struct ConsoleProgram {
    HANDLE process = nullptr;
    DWORD processId = 0;
};

// Waits for the console program to end, and ends it after the bound; false when it had to be ended.
bool waitForEnd(ConsoleProgram& cli, DWORD timeoutMs, DWORD* exitCode) {
    const bool ended = WaitForSingleObject(cli.process, timeoutMs) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(cli.process, 1);
    GetExitCodeProcess(cli.process, exitCode);
    CloseHandle(cli.process);
    return ended;
}


bool startConsoleProgram(const std::wstring& arguments, const std::wstring& outPath, ConsoleProgram* program) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             &inherit, CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = out;
    PROCESS_INFORMATION info = {};
    const std::wstring path = rigDistDir() + L"\\quenlor.exe";
    std::wstring commandLine = L"\"" + path + L"\" " + arguments;
    // Detached: no console, and the output file is free as soon as the program ends.
    const BOOL started = CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr,
                                        nullptr, &startup, &info);
    CloseHandle(out);
    if (!started) return false;
    CloseHandle(info.hThread);
    program->process = info.hProcess;
    program->processId = info.dwProcessId;
    return true;
}

struct WindowSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK findProcessWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    wchar_t className[64];
    if (processId != search->processId || GetClassNameW(window, className, 64) == 0 ||
        std::wstring(className) != CLI_SESSION_WINDOW_CLASS) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

// The program's session window among the top-level windows (a message-only window is not one).
HWND waitSessionWindow(const ConsoleProgram& program, DWORD timeoutMs) {
    WindowSearch search{program.processId, nullptr};
    for (DWORD waited = 0; search.found == nullptr && waited <= timeoutMs; waited += 20) {
        EnumWindows(findProcessWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr) rigSleep(20);
    }
    return search.found;
}

TEST_F(SessionEnd, QuenlorRefusesWithAHiddenWindowOfItsOwnWhileItWritesTheEsc) {
    REQUIRE_ENGLISH_LOCALE();  // quenlor.exe speaks English only
    const RigBuild& build = rigBuild60();
    unit = rigPlug(rigCompatibleUnit(build));
    ASSERT_GE(unit, 0);
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::wstring outPath = std::wstring(folder) + L"quenlor-session-out.txt";
    ConsoleProgram cli;
    ASSERT_TRUE(startConsoleProgram(L"update --yes --json --allow-stand-in", outPath, &cli)) << "error " << GetLastError();

    ASSERT_TRUE(waitForRequest(unit, CMD_ERASE_FIRMWARE, STEP_TIMEOUT_MS));
    HWND window = waitSessionWindow(cli, STEP_TIMEOUT_MS);
    if (window == nullptr) TerminateProcess(cli.process, 1);
    ASSERT_NE(nullptr, window) << "no top-level window of quenlor.exe";
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(nullptr, GetParent(window));
    expectAnswers(window, false, "quenlor.exe, erasing");
    ASSERT_TRUE(waitForRequest(unit, CMD_WRITE_DATA, STEP_TIMEOUT_MS));
    expectAnswers(window, false, "quenlor.exe, writing blocks");

    DWORD exitCode = 1;
    ASSERT_TRUE(waitForEnd(cli, WHOLE_UPDATE_MS, &exitCode));
    EXPECT_EQ(0u, exitCode) << rigReadFile(outPath);

    const SimUnit after = rigUnitSnapshot(unit);
    std::vector<std::uint8_t> image;
    ASSERT_TRUE(rigLoadImage(build, image));
    EXPECT_EQ(-1, rigFirstFlashDifference(after, image)) << "the flash does not hold exactly the image";
    EXPECT_FALSE(after.systemLock);
    expectReasonAroundTheWrite(readSessionLog(logPath), window, CLI_SESSION_END_REASON, after, static_cast<long>(after.transcript.size()));
    DeleteFileW(outPath.c_str());
}

// A command that never writes the ESC holds nothing and makes no window.
TEST_F(SessionEnd, QuenlorInfoRegistersNoReason) {
    REQUIRE_ENGLISH_LOCALE();
    unit = rigPlug(rigCompatibleUnit(rigBuild60()));
    ASSERT_GE(unit, 0);
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::wstring outPath = std::wstring(folder) + L"quenlor-session-info.txt";
    ConsoleProgram cli;
    ASSERT_TRUE(startConsoleProgram(L"info --json", outPath, &cli));
    DWORD exitCode = 1;
    ASSERT_TRUE(waitForEnd(cli, STEP_TIMEOUT_MS, &exitCode));
    EXPECT_EQ(0u, exitCode) << rigReadFile(outPath);
    EXPECT_TRUE(readSessionLog(logPath).empty());
    DeleteFileW(outPath.c_str());
}

}  // namespace

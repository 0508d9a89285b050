// What only real Windows and real USB would show: a second copy of the program started while one
// runs, and a unit that stops answering while the dialog must stay responsive.
#include "tests/wine/scenarios/scenario.h"
#include "tests/wine/scenarios/update_requests.h"

#include <cstdio>
#include <cwchar>

namespace {

constexpr DWORD BOX_TIMEOUT_MS = 60000;
constexpr DWORD EXIT_TIMEOUT_MS = 10000;
// Windows offers to end a program whose window handles no message for 5 s; the program must never
// come near that.
constexpr DWORD LONGEST_ALLOWED_SILENCE_MS = 4000;
constexpr std::uint32_t ERROR_TIMEOUT_CODE = 1460;

// The step's text and the error-code line exactly as the box must show them.
std::wstring expectedFailureBox(std::uint16_t stepId, std::int32_t result, std::uint32_t lastError) {
    wchar_t line[2048];
    std::swprintf(line, 2048, expectedText(40036).c_str(), static_cast<std::uint32_t>(result), lastError);
    return expectedText(stepId) + L"\r\n" + line;
}

// A window of the test's own in front, standing for whatever the person was looking at.
HWND bringOwnWindowToFront() {
    HWND window = CreateWindowExW(0, L"STATIC", L"elsewhere", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    SetForegroundWindow(window);
    return window;
}

bool waitForeground(HWND expected, DWORD timeoutMs) {
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        if (GetForegroundWindow() == expected) return true;
        rigSleep(50);
    }
    return GetForegroundWindow() == expected;
}

class Hardening : public RigScenario {
protected:
    void SetUp() override {
        RigScenario::SetUp();
        REQUIRE_ENGLISH_LOCALE();
    }
};

// ---- One program at a time ----

struct SecondStart {
    std::size_t running;
    std::size_t started;
};

class SecondStartWhileOneRuns : public Hardening, public ::testing::WithParamInterface<SecondStart> {};

TEST_P(SecondStartWhileOneRuns, BringsTheRunningOneForwardAndEndsWithoutTouchingTheUnit) {
    const RigBuild& running = RIG_BUILDS[GetParam().running];
    const RigBuild& started = RIG_BUILDS[GetParam().started];
    const int unit = rigPlug(rigCompatibleUnit(running));
    ASSERT_GE(unit, 0);
    START_PROGRAM(program, running);
    ASSERT_TRUE(rigWaitStatus(program, expectedText(40000), 5000));
    const std::size_t requestsBefore = rigTranscriptSize(unit);

    HWND elsewhere = bringOwnWindowToFront();
    ASSERT_TRUE(waitForeground(elsewhere, 2000)) << "the test's own window did not come to the front";
    RigProgram second;
    ASSERT_TRUE(rigLaunchProgram(second, started));
    DWORD exitCode = 1;
    ASSERT_TRUE(rigWaitExit(second, EXIT_TIMEOUT_MS, &exitCode));
    EXPECT_EQ(0u, exitCode);
    EXPECT_TRUE(waitForeground(program.dialog, 2000)) << "the running program did not come to the front";
    DestroyWindow(elsewhere);

    EXPECT_EQ(requestsBefore, rigTranscriptSize(unit)) << "the second program talked to the unit";
    EXPECT_TRUE(rigIsRunning(program));
    EXPECT_TRUE(rigWaitStatus(program, expectedText(40000), 2000));
    EXPECT_TRUE(rigIsControlEnabled(program, RIG_ID_UPDATE));
}

INSTANTIATE_TEST_SUITE_P(Builds, SecondStartWhileOneRuns,
                         ::testing::Values(SecondStart{0, 0}, SecondStart{1, 1}, SecondStart{2, 2}, SecondStart{0, 1},
                                           SecondStart{2, 0}));

// ---- A unit that stops answering ----

RigDevice silentAt(const RigBuild& build, std::uint8_t command, std::uint32_t block = SIM_ANY_BLOCK) {
    RigDevice device = rigCompatibleUnit(build);
    device.config.fault = simFault(SimFaultKind::NeverAnswer, command, block);
    return device;
}

TEST_F(Hardening, ASilentUnitPluggedInLeavesTheDialogAsItWasAndResponsive) {
    START_PROGRAM(program, rigBuild60());
    ASSERT_TRUE(rigWaitStatus(program, expectedWithSteps(40017), 5000));
    RigResponsivenessWatch watch;
    ASSERT_TRUE(rigStartWatch(watch, program.dialog));
    int unit = -1;
    EXPECT_EQ(RigDelivery::Handled, rigPlugIn(program, silentAt(rigBuild60(), CMD_GET_INFO), &unit));
    rigSleep(500);
    const DWORD longest = rigStopWatch(watch);
    std::printf("silent at identification: longest stretch without an answer %lu ms (%lu answers)\n", longest,
                static_cast<unsigned long>(watch.answers));
    EXPECT_LT(longest, LONGEST_ALLOWED_SILENCE_MS);
    EXPECT_EQ(1u, rigRequestCount(unit, CMD_GET_INFO)) << "identification asks once and gives up";
    EXPECT_TRUE(rigWaitStatus(program, expectedWithSteps(40017), 2000));
    EXPECT_FALSE(rigIsControlEnabled(program, RIG_ID_UPDATE));
}

struct SilentStep {
    const char* name;
    std::uint8_t command;
    std::uint32_t block;
    std::uint16_t stepText;
};

std::string silentStepName(const ::testing::TestParamInfo<SilentStep>& step) {
    return step.param.command == CMD_ERASE_FIRMWARE ? "Erase" : "MiddleBlock";
}

class SilentDuringTheUpdate : public Hardening, public ::testing::WithParamInterface<SilentStep> {};

TEST_P(SilentDuringTheUpdate, EndsAsAReadFailureWithTheTimeOutAndTheDialogStaysResponsive) {
    const SilentStep& step = GetParam();
    const RigBuild& build = rigBuild140();
    const int unit = rigPlug(silentAt(build, step.command, step.block));
    ASSERT_GE(unit, 0);
    START_PROGRAM(program, build);
    ASSERT_TRUE(rigWaitStatus(program, expectedText(40000), 5000));

    RigResponsivenessWatch watch;
    ASSERT_TRUE(rigStartWatch(watch, program.dialog));
    ASSERT_TRUE(rigClick(program, RIG_ID_UPDATE));
    RigMessageBox warning;
    ASSERT_TRUE(rigWaitMessageBox(program, warning, 10000));
    ASSERT_TRUE(rigAnswerMessageBox(warning, IDOK));
    RigMessageBox box;
    ASSERT_TRUE(rigWaitMessageBox(program, box, BOX_TIMEOUT_MS));
    const DWORD longest = rigStopWatch(watch);
    std::printf("silent at %s: longest stretch without an answer %lu ms (%lu answers)\n", step.name, longest,
                static_cast<unsigned long>(watch.answers));
    EXPECT_LT(longest, LONGEST_ALLOWED_SILENCE_MS);

    EXPECT_TRUE(sameText(expectedText(40002), box.caption));
    EXPECT_TRUE(sameText(expectedFailureBox(step.stepText, RESULT_READ_FAILED, ERROR_TIMEOUT_CODE), box.text));
    ASSERT_TRUE(rigAnswerMessageBox(box, IDOK));
    EXPECT_TRUE(rigWaitStatus(program, expectedText(40030), 5000));
    EXPECT_FALSE(rigIsControlEnabled(program, RIG_ID_UPDATE));
}

INSTANTIATE_TEST_SUITE_P(
    Steps, SilentDuringTheUpdate,
    ::testing::Values(SilentStep{"the erase", CMD_ERASE_FIRMWARE, SIM_ANY_BLOCK, 40028},
                      SilentStep{"a middle block", CMD_WRITE_DATA, 300, 40009}),
    silentStepName);

}  // namespace

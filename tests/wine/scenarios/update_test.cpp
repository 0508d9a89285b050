// The firmware update as the user runs it, end to end: the shipping programs write their images
// into the simulated ESC. What the ESC's flash holds afterwards, which requests reached the unit
// and when, what the dialog, the progress window and the message boxes show, and that nothing the
// user does during the update has any effect.
#include "tests/wine/scenarios/scenario.h"
#include "tests/wine/scenarios/update_requests.h"

#include <commctrl.h>
#include <dbt.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

namespace {

constexpr DWORD BOX_TIMEOUT_MS = 10000;
constexpr DWORD WHOLE_UPDATE_MS = 120000;
constexpr std::uint64_t MS = 1000;  // transcript times are in microseconds

// The pause the program owes the unit after each reply before its next request.
constexpr std::uint64_t STEP_PAUSE_US = 20 * MS;
constexpr std::uint64_t ERASE_TO_NEXT_US = (1000 + 4000) * MS;

std::string hex8(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

// The error-code line's beginning, up to and including the result: the last error that follows
// depends on how the failure reached the program.
std::wstring errorLineStart(std::int32_t result) {
    std::wstring format = expectedText(40036);
    std::string digits = hex8(static_cast<std::uint32_t>(result));
    std::size_t at = format.find(L"%08x");
    return format.substr(0, at) + std::wstring(digits.begin(), digits.end());
}

class Update : public RigScenario {
protected:
    int unit = -1;

    void SetUp() override {
        RigScenario::SetUp();
        REQUIRE_ENGLISH_LOCALE();
    }

    // The build's program, Ready with the given unit attached.
    void startReady(const RigBuild& build, const RigDevice& device) {
        unit = rigPlug(device);
        ASSERT_GE(unit, 0);
        START_PROGRAM(program, build);
        ASSERT_TRUE(rigWaitStatus(program, expectedText(40000), 5000));
        ASSERT_TRUE(rigIsControlEnabled(program, RIG_ID_UPDATE));
    }

    void startReady(const RigBuild& build) { startReady(build, rigCompatibleUnit(build)); }

    // Clicks Update and answers the warning.
    void clickUpdateAndAnswerWarning(int answer) {
        ASSERT_TRUE(rigClick(program, RIG_ID_UPDATE));
        RigMessageBox box;
        ASSERT_TRUE(rigWaitMessageBox(program, box, BOX_TIMEOUT_MS));
        EXPECT_TRUE(sameText(expectedText(40037), box.caption));
        EXPECT_TRUE(sameText(expectedText(40038), box.text));
        EXPECT_EQ((std::vector<int>{IDOK, IDCANCEL}), box.buttons);
        ASSERT_TRUE(rigAnswerMessageBox(box, answer));
    }

    // The error box of a failed update: caption 40002, the step's text and, unless the result is
    // -1, the error-code line. Answered with OK.
    void expectErrorBox(std::uint16_t textId, std::int32_t result, RigMessageBox* seen = nullptr) {
        RigMessageBox box;
        ASSERT_TRUE(rigWaitMessageBox(program, box, WHOLE_UPDATE_MS));
        if (seen != nullptr) *seen = box;
        EXPECT_TRUE(sameText(expectedText(40002), box.caption));
        EXPECT_EQ(std::vector<int>{IDOK}, box.buttons);
        if (result == -1) {
            EXPECT_TRUE(sameText(expectedText(textId), box.text));
        } else {
            const std::wstring start = expectedText(textId) + L"\r\n" + errorLineStart(result);
            EXPECT_TRUE(sameText(start, box.text.substr(0, start.size())));
            // Then the separator and the last error, eight hex digits.
            EXPECT_EQ(start.size() + 11, box.text.size()) << rigShow(box.text);
        }
        ASSERT_TRUE(rigAnswerMessageBox(box, IDOK));
    }

    // After a failed update: link closed, rows reset, Update grey, the failure text alone.
    void expectFailedState() {
        EXPECT_TRUE(rigWaitStatus(program, expectedText(40030), 5000));
        EXPECT_FALSE(rigIsControlEnabled(program, RIG_ID_UPDATE));
        expectRowsReset(program);
        RigMessageBox box;
        EXPECT_FALSE(rigFindMessageBox(program, box)) << "a second box: " << rigShow(box.text);
    }

    // After success: no box, the success text alone, the ESC at 2.0, Update grey, and the link
    // still open (its removal is noticed).
    void expectSucceeded(const RigBuild& build) {
        ASSERT_TRUE(rigWaitStatus(program, expectedText(40032), WHOLE_UPDATE_MS));
        RigMessageBox box;
        EXPECT_FALSE(rigFindMessageBox(program, box)) << "a box after success: " << rigShow(box.text);
        EXPECT_FALSE(rigIsControlEnabled(program, RIG_ID_UPDATE));
        RigVersionRows rows = rigVersionRows(program);
        EXPECT_TRUE(sameText(L"2.0", rows.value[2]));
        EXPECT_TRUE(sameText(DEFAULT_BOOTLOADER_VERSION, rows.value[1]));
        RigProgressWindow progress;
        EXPECT_FALSE(rigFindProgressWindow(program, progress)) << "the progress window outlived the update";

        const SimUnit after = rigUnitSnapshot(unit);
        std::vector<std::uint8_t> image;
        ASSERT_TRUE(rigLoadImage(build, image));
        EXPECT_EQ(-1, rigFirstFlashDifference(after, image)) << "the flash does not hold exactly the image";
        EXPECT_EQ((image.size() + 47) / 48, rigRequestCount(unit, CMD_WRITE_DATA));
        EXPECT_TRUE(after.writeProtection) << "write protection not restored";
        EXPECT_FALSE(after.systemLock) << "system lock not reset";
    }
};

// ---- Success ----

class UpdateEachBuild : public Update, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(UpdateEachBuild, WritesTheImageExactlyAndRestoresProtectionAndLock) {
    const RigBuild& build = RIG_BUILDS[GetParam()];
    SCOPED_TRACE(rigUtf8(build.modelName));
    startReady(build);
    clickUpdateAndAnswerWarning(IDOK);
    expectSucceeded(build);

    // The fixed sequence, the blocks in image order, and the pauses the unit relies on.
    const SimUnit after = rigUnitSnapshot(unit);
    const std::vector<const SimRequest*> requests = updateRequests(after);
    const std::size_t blocks = (build.imageBytes + 47) / 48;
    ASSERT_EQ(blocks + 6, requests.size());
    const std::uint8_t lockOn[] = {0x01, 0x0B, 0x01, 0x01};
    const std::uint8_t protectOff[] = {0x01, 0x20, 0x01, 0x00};
    const std::uint8_t erase[] = {0x01, 0x1E, 0x04, 0x00, 0xD1, 0xA7, 0xC0, 0x5E};
    const std::uint8_t address[] = {0x01, 0x1F, 0x09, 0x01, 0, 0, 0, 0, 0xD1, 0xA7, 0xC0, 0x5E};
    const std::uint8_t protectOn[] = {0x01, 0x20, 0x01, 0x01};
    const std::uint8_t lockOff[] = {0x01, 0x0B, 0x01, 0x00};
    EXPECT_EQ(0, std::memcmp(requests[0]->bytes, lockOn, sizeof lockOn));
    EXPECT_EQ(0, std::memcmp(requests[1]->bytes, protectOff, sizeof protectOff));
    EXPECT_EQ(0, std::memcmp(requests[2]->bytes, erase, sizeof erase));
    EXPECT_EQ(0, std::memcmp(requests[3]->bytes, address, sizeof address));
    EXPECT_EQ(0, std::memcmp(requests[blocks + 4]->bytes, protectOn, sizeof protectOn));
    EXPECT_EQ(0, std::memcmp(requests[blocks + 5]->bytes, lockOff, sizeof lockOff));

    const std::uint32_t tailBytes = build.imageBytes % 48;
    const SimRequest& last = *requests[blocks + 3];
    EXPECT_EQ(tailBytes == 0 ? 48u : tailBytes, last.bytes[2]) << "the last block's length";
    for (std::size_t i = 4; i < blocks + 3; ++i) ASSERT_EQ(48, requests[i]->bytes[2]) << "block " << i - 4;

    std::uint64_t shortestBlockGapUs = UINT64_MAX;
    for (std::size_t i = 0; i + 1 < requests.size(); ++i) {
        // The program cannot have read the reply before the unit sent it, so this gap is never
        // longer than the pause the program really made.
        const std::uint64_t gap = requests[i + 1]->receivedAtUs - requests[i]->sentAtUs;
        if (i == 2) {
            EXPECT_GE(requests[i + 1]->receivedAtUs - requests[i]->receivedAtUs, ERASE_TO_NEXT_US)
                << "the erase needs 1000 ms before its reply is read and 4000 ms after it";
        } else if (i + 2 < requests.size()) {  // no pause is owed between the two closing commands
            EXPECT_GE(gap, STEP_PAUSE_US) << "request " << i + 1 << " came too early";
            if (i >= 4) shortestBlockGapUs = std::min(shortestBlockGapUs, gap);
        }
    }
    std::printf("[ figures  ] %s: shortest pause after a block %.3f ms\n", rigUtf8(build.modelName).c_str(),
                static_cast<double>(shortestBlockGapUs) / 1000.0);

    // The link stayed open: pulling the unit out is noticed.
    ASSERT_EQ(RigDelivery::Handled, rigPullOut(program, unit));
    EXPECT_TRUE(rigWaitStatus(program, expectedWithSteps(40020), 5000));
}

INSTANTIATE_TEST_SUITE_P(Builds, UpdateEachBuild, ::testing::Values(0, 1, 2));

// During the transfer: the progress window, the dialog's responsiveness, and the user's clicks
// and keys, which must change nothing. The dialog is given an odd size first.
TEST_F(Update, ShowsProgressStaysResponsiveAndIgnoresTheUser) {
    const RigBuild& build = rigBuild60();
    startReady(build);
    ASSERT_TRUE(SetWindowPos(program.dialog, nullptr, 0, 0, 611, 457, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE));
    ASSERT_TRUE(rigWaitIdle(program));
    RECT dialog;
    ASSERT_TRUE(GetWindowRect(program.dialog, &dialog));
    ASSERT_EQ(1, (dialog.right - dialog.left) % 2) << "the dialog should be of odd width for this case";

    clickUpdateAndAnswerWarning(IDOK);
    RigProgressWindow progress;
    ASSERT_TRUE(rigWaitProgressWindow(program, progress, 15000));
    EXPECT_TRUE(sameText(expectedText(40029), progress.title));
    EXPECT_EQ(400, progress.rect.right - progress.rect.left);
    EXPECT_EQ(50, progress.rect.bottom - progress.rect.top);
    EXPECT_EQ(dialog.left + ((dialog.right - dialog.left) >> 1) - 200, progress.rect.left);
    EXPECT_EQ(dialog.top + ((dialog.bottom - dialog.top) >> 1) - 25, progress.rect.top);

    // The position follows the blocks the unit has taken, and the dialog answers at once.
    const auto positionAfter = [&](std::uint32_t blocks) { return 48u * blocks * 100u / build.imageBytes; };
    DWORD slowestAnswerMs = 0;
    int samples = 0;
    for (int i = 0; i < 40 && rigFindProgressWindow(program, progress, 0); ++i) {
        const std::uint32_t before = rigRequestCount(unit, CMD_WRITE_DATA);
        const DWORD start = GetTickCount();
        DWORD_PTR position = 0;
        const bool answered =
            SendMessageTimeoutW(progress.window, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 100, &position) != 0;
        DWORD_PTR ignored = 0;
        const bool dialogAnswered =
            SendMessageTimeoutW(program.dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 100, &ignored) != 0;
        slowestAnswerMs = std::max(slowestAnswerMs, GetTickCount() - start);
        const std::uint32_t after = rigRequestCount(unit, CMD_WRITE_DATA);
        if (!rigFindProgressWindow(program, progress, 0)) break;  // the transfer ended meanwhile
        EXPECT_TRUE(answered) << "PBM_GETPOS unanswered after block " << before;
        EXPECT_TRUE(dialogAnswered) << "the dialog did not answer within 100 ms after block " << before;
        if (answered && before > 0) {
            EXPECT_GE(position, positionAfter(before - 1)) << "after block " << before;
            EXPECT_LE(position, positionAfter(after)) << "after block " << after;
        }
        ++samples;

        // What a user might try meanwhile: none of it may have any effect.
        switch (i % 6) {
            case 0: rigClick(program, RIG_ID_CLOSE); break;
            case 1: rigPressKey(program, RigKey::Escape); break;
            case 2: rigPressKey(program, RigKey::AltF4); break;
            case 3: rigClickCloseBox(program); break;
            case 4: PostMessageW(progress.window, WM_CLOSE, 0, 0); break;
            case 5: rigClick(program, RIG_ID_UPDATE); break;
        }
        rigSleep(700);
    }
    EXPECT_GE(samples, 20) << "the transfer should last long enough to be watched";
    std::printf("[ figures  ] slowest answer of the dialog during the transfer: %lu ms\n", slowestAnswerMs);

    expectSucceeded(build);
    EXPECT_TRUE(rigIsRunning(program)) << "a click or key during the update ended the program";
    EXPECT_EQ(1u, rigRequestCount(unit, CMD_ERASE_FIRMWARE)) << "a click during the update started another";
    // The dropped clicks stay dropped after the update, too.
    rigSleep(300);
    EXPECT_TRUE(rigIsRunning(program));
}

TEST_F(Update, SucceedsWhenTheTwoClosingCommandsFail) {
    const RigBuild& build = rigBuild60();
    startReady(build);
    clickUpdateAndAnswerWarning(IDOK);
    RigProgressWindow progress;
    ASSERT_TRUE(rigWaitProgressWindow(program, progress, 15000));
    // The unit stops taking requests at the first command after the transfer.
    SimFault fault;
    fault.kind = SimFaultKind::Vanish;
    fault.command = CMD_WRITE_PROTECT;
    rigSetFault(unit, fault);

    ASSERT_TRUE(rigWaitStatus(program, expectedText(40032), WHOLE_UPDATE_MS));
    RigMessageBox box;
    EXPECT_FALSE(rigFindMessageBox(program, box));
    EXPECT_TRUE(sameText(L"2.0", rigVersionRows(program).value[2]));
    EXPECT_FALSE(rigIsControlEnabled(program, RIG_ID_UPDATE));
    std::vector<std::uint8_t> image;
    ASSERT_TRUE(rigLoadImage(build, image));
    EXPECT_EQ(-1, rigFirstFlashDifference(rigUnitSnapshot(unit), image));
}

// Another handle on the same unit, opened by another program (this test) and read all through the
// update, as a second tool watching the unit would: every input report reaches every handle of a
// HID device, so it sees each reply the program gets, and the program's own update is not
// disturbed by it.
struct ConcurrentReader {
    HANDLE device = INVALID_HANDLE_VALUE;
    HANDLE stop = nullptr;
    std::vector<std::uint8_t> commands;  // byte 1 of each reply read: the command it answers
    std::atomic<std::size_t> read{0};    // how many of them, for the test's thread to watch
    DWORD error = ERROR_SUCCESS;         // why reading ended early, if it did
};

void readUntilStopped(ConcurrentReader* reader) {
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    for (;;) {
        std::uint8_t report[SIM_REPORT_BYTES] = {};
        ResetEvent(overlapped.hEvent);
        if (!ReadFile(reader->device, report, sizeof report, nullptr, &overlapped) &&
            GetLastError() != ERROR_IO_PENDING) {
            reader->error = GetLastError();
            break;
        }
        const HANDLE events[] = {overlapped.hEvent, reader->stop};
        const DWORD woken = WaitForMultipleObjects(2, events, FALSE, INFINITE);
        DWORD length = 0;
        if (woken != WAIT_OBJECT_0) {
            CancelIoEx(reader->device, &overlapped);
            GetOverlappedResult(reader->device, &overlapped, &length, TRUE);
            break;
        }
        if (!GetOverlappedResult(reader->device, &overlapped, &length, FALSE)) {
            reader->error = GetLastError();
            break;
        }
        reader->commands.push_back(report[1]);
        ++reader->read;
    }
    CloseHandle(overlapped.hEvent);
}

TEST_F(Update, ASecondHandleReadingThroughoutSeesEveryReplyAndTheUpdateStillSucceeds) {
    const RigBuild& build = rigBuild60();
    startReady(build);
    ConcurrentReader reader;
    reader.device = CreateFileW(rigDevicePath(unit).c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(reader.device, INVALID_HANDLE_VALUE) << "a second handle on the unit: error " << GetLastError();
    // This process has no HID library of ours: the pipe is put into message mode by hand, so that
    // a read returns one whole report.
    DWORD mode = PIPE_READMODE_MESSAGE;
    EXPECT_TRUE(SetNamedPipeHandleState(reader.device, &mode, nullptr, nullptr));
    reader.stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const std::size_t requestsBefore = rigTranscriptSize(unit);
    std::thread reading(readUntilStopped, &reader);

    clickUpdateAndAnswerWarning(IDOK);
    expectSucceeded(build);  // the flash holds exactly the image
    // The last replies reach the second handle too: it is stopped once it has read as many as the
    // unit was asked for, or after a bound (the comparison below then tells what was missing).
    const std::size_t asked = rigTranscriptSize(unit) - requestsBefore;
    for (const ULONGLONG start = GetTickCount64(); reader.read < asked && GetTickCount64() - start < 5000;) {
        rigSleep(10);
    }
    SetEvent(reader.stop);
    reading.join();
    CloseHandle(reader.stop);
    CloseHandle(reader.device);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), reader.error) << "reading on the second handle failed";

    // It read one reply for each request the unit got since it was opened, in the same order.
    const SimUnit after = rigUnitSnapshot(unit);
    std::vector<std::uint8_t> answered;
    for (std::size_t i = requestsBefore; i < after.transcript.size(); ++i) {
        answered.push_back(after.transcript[i].bytes[1]);
    }
    const std::size_t blocks = (build.imageBytes + 47) / 48;
    EXPECT_GE(answered.size(), blocks + 6) << "the update's requests";
    EXPECT_EQ(answered.size(), reader.commands.size()) << "replies the second handle saw";
    EXPECT_TRUE(answered == reader.commands) << "the second handle saw other replies than the requests asked for";
    const auto dataReplies = std::count(reader.commands.begin(), reader.commands.end(), CMD_WRITE_DATA);
    EXPECT_EQ(blocks, static_cast<std::size_t>(dataReplies));
}

// ---- Failures ----

struct StepFailure {
    const char* name;
    std::uint8_t command;
    std::uint32_t blockIndex;  // for data blocks
    SimFaultKind kind;
    std::uint32_t errorCode;   // ErrorReply
    std::uint8_t echoedState;  // WrongState
    std::uint16_t textId;
    std::int32_t result;       // as the error-code line must show it
    std::size_t build = 0;
    DWORD lastError = 0;       // as the error-code line must end, when not 0
};

constexpr std::uint32_t FIRST = 0;
constexpr std::uint32_t MIDDLE = 1016;
constexpr std::uint32_t LAST_OF_140 = 2024;
constexpr std::uint32_t LOW_CODE = 0x00001234;
constexpr std::uint32_t HIGH_CODE = 0x56780000;
constexpr std::int32_t WRITE_FAILED = -2;
constexpr std::int32_t READ_FAILED = -3;
constexpr std::int32_t STATE_MISMATCH = 1627;
constexpr DWORD NOT_CONNECTED = ERROR_DEVICE_NOT_CONNECTED;  // what an unplugged HID device fails with

const StepFailure STEP_FAILURES[] = {
    {"lock, write fails", CMD_SYSTEM_LOCK, 0, SimFaultKind::FailWrite, 0, 0, 40026, WRITE_FAILED},
    {"lock, read fails", CMD_SYSTEM_LOCK, 0, SimFaultKind::FailRead, 0, 0, 40026, READ_FAILED},
    {"lock, state 0 echoed", CMD_SYSTEM_LOCK, 0, SimFaultKind::WrongState, 0, 0, 40026, STATE_MISMATCH},
    {"lock, state 2 echoed", CMD_SYSTEM_LOCK, 0, SimFaultKind::WrongState, 0, 2, 40026, STATE_MISMATCH},
    {"lock, unplugged", CMD_SYSTEM_LOCK, 0, SimFaultKind::Vanish, 0, 0, 40026, WRITE_FAILED,
     0, NOT_CONNECTED},
    {"protection off, write fails", CMD_WRITE_PROTECT, 0, SimFaultKind::FailWrite, 0, 0, 40027, WRITE_FAILED},
    {"protection off, read fails", CMD_WRITE_PROTECT, 0, SimFaultKind::FailRead, 0, 0, 40027, READ_FAILED},
    {"protection off, low code", CMD_WRITE_PROTECT, 0, SimFaultKind::ErrorReply, LOW_CODE, 0, 40027, LOW_CODE},
    {"protection off, high code", CMD_WRITE_PROTECT, 0, SimFaultKind::ErrorReply, HIGH_CODE, 0, 40027, HIGH_CODE},
    {"protection off, state 1 echoed", CMD_WRITE_PROTECT, 0, SimFaultKind::WrongState, 0, 1, 40027, STATE_MISMATCH},
    {"protection off, unplugged", CMD_WRITE_PROTECT, 0, SimFaultKind::Vanish, 0, 0, 40027, WRITE_FAILED,
     0, NOT_CONNECTED},
    {"erase, write fails", CMD_ERASE_FIRMWARE, 0, SimFaultKind::FailWrite, 0, 0, 40028, WRITE_FAILED},
    {"erase, read fails", CMD_ERASE_FIRMWARE, 0, SimFaultKind::FailRead, 0, 0, 40028, READ_FAILED},
    {"erase, low code", CMD_ERASE_FIRMWARE, 0, SimFaultKind::ErrorReply, LOW_CODE, 0, 40028, LOW_CODE},
    {"erase, high code", CMD_ERASE_FIRMWARE, 0, SimFaultKind::ErrorReply, HIGH_CODE, 0, 40028, HIGH_CODE},
    {"erase, unplugged", CMD_ERASE_FIRMWARE, 0, SimFaultKind::Vanish, 0, 0, 40028, WRITE_FAILED,
     0, NOT_CONNECTED},
    {"address, write fails", CMD_SET_WRITE_ADDRESS, 0, SimFaultKind::FailWrite, 0, 0, 40008, WRITE_FAILED},
    {"address, read fails", CMD_SET_WRITE_ADDRESS, 0, SimFaultKind::FailRead, 0, 0, 40008, READ_FAILED},
    {"address, low code", CMD_SET_WRITE_ADDRESS, 0, SimFaultKind::ErrorReply, LOW_CODE, 0, 40008, LOW_CODE},
    {"address, high code", CMD_SET_WRITE_ADDRESS, 0, SimFaultKind::ErrorReply, HIGH_CODE, 0, 40008, HIGH_CODE},
    {"address, unplugged", CMD_SET_WRITE_ADDRESS, 0, SimFaultKind::Vanish, 0, 0, 40008, WRITE_FAILED,
     0, NOT_CONNECTED},
    {"first block, write fails", CMD_WRITE_DATA, FIRST, SimFaultKind::FailWrite, 0, 0, 40009, WRITE_FAILED},
    {"first block, read fails", CMD_WRITE_DATA, FIRST, SimFaultKind::FailRead, 0, 0, 40009, READ_FAILED},
    {"first block, low code", CMD_WRITE_DATA, FIRST, SimFaultKind::ErrorReply, LOW_CODE, 0, 40009, LOW_CODE},
    {"first block, high code", CMD_WRITE_DATA, FIRST, SimFaultKind::ErrorReply, HIGH_CODE, 0, 40009, HIGH_CODE},
    {"first block, unplugged", CMD_WRITE_DATA, FIRST, SimFaultKind::Vanish, 0, 0, 40009, WRITE_FAILED,
     0, NOT_CONNECTED},
    {"middle block, read fails", CMD_WRITE_DATA, MIDDLE, SimFaultKind::FailRead, 0, 0, 40009, READ_FAILED},
    {"middle block, high code", CMD_WRITE_DATA, MIDDLE, SimFaultKind::ErrorReply, HIGH_CODE, 0, 40009, HIGH_CODE},
    {"last block, low code", CMD_WRITE_DATA, LAST_OF_140, SimFaultKind::ErrorReply, LOW_CODE, 0, 40009, LOW_CODE, 1},
};

class UpdateStepFails : public Update, public ::testing::WithParamInterface<StepFailure> {};

TEST_P(UpdateStepFails, ShowsTheStepsErrorAndSendsNothingAfterIt) {
    const StepFailure& failure = GetParam();
    const RigBuild& build = RIG_BUILDS[failure.build];
    RigDevice device = rigCompatibleUnit(build);
    device.config.fault.kind = failure.kind;
    device.config.fault.command = failure.command;
    device.config.fault.blockIndex = failure.command == CMD_WRITE_DATA ? failure.blockIndex : SIM_ANY_BLOCK;
    device.config.fault.errorCode = failure.errorCode;
    device.config.fault.echoedState = failure.echoedState;
    startReady(build, device);
    clickUpdateAndAnswerWarning(IDOK);

    RigMessageBox box;
    expectErrorBox(failure.textId, failure.result, &box);
    const std::uint64_t boxSeenUs = rigNowUs();
    if (failure.lastError != 0) {
        // An unplugged HID device fails the transfer with ERROR_DEVICE_NOT_CONNECTED.
        const std::string digits = "0x" + hex8(failure.lastError);
        const std::wstring ending(digits.begin(), digits.end());
        const bool endsSo = box.text.size() >= ending.size() &&
                            box.text.compare(box.text.size() - ending.size(), ending.size(), ending) == 0;
        EXPECT_TRUE(endsSo) << "the last error shown: " << rigShow(box.text);
    }
    expectFailedState();

    // The unit got the sequence up to the failing request and nothing after it. A refused write
    // never reached the unit, so it is not in its transcript.
    const SimUnit after = rigUnitSnapshot(unit);
    const std::vector<const SimRequest*> requests = updateRequests(after);
    const bool reachedUnit = failure.kind != SimFaultKind::FailWrite && failure.kind != SimFaultKind::Vanish;
    const std::uint8_t order[] = {CMD_SYSTEM_LOCK, CMD_WRITE_PROTECT, CMD_ERASE_FIRMWARE, CMD_SET_WRITE_ADDRESS,
                                  CMD_WRITE_DATA};
    std::size_t step = 0;
    while (order[step] != failure.command) ++step;
    const std::size_t blocksBefore = failure.command == CMD_WRITE_DATA ? failure.blockIndex : 0;
    const std::size_t expected = step + blocksBefore + (reachedUnit ? 1 : 0);
    EXPECT_EQ(expected, requests.size()) << "requests of the update that reached the unit";
    if (reachedUnit && !requests.empty()) {
        EXPECT_EQ(failure.command, requests.back()->bytes[1]);
    }

    if (failure.command == CMD_ERASE_FIRMWARE && reachedUnit) {
        EXPECT_GE(boxSeenUs - requests.back()->receivedAtUs, ERASE_TO_NEXT_US)
            << "the erase's error box must wait for the 4000 ms after the erase";
    }
}

std::string stepFailureName(const ::testing::TestParamInfo<StepFailure>& info) {
    std::string name = info.param.name;
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Steps, UpdateStepFails, ::testing::ValuesIn(STEP_FAILURES), stepFailureName);

// A unit pulled out in the middle of the transfer, then plugged in again: the ESC now holds no
// firmware, and a second update runs without the version question and succeeds.
TEST_F(Update, RecoversAfterAnUnplugInTheMiddleOfTheTransfer) {
    const RigBuild& build = rigBuild60();
    startReady(build);
    clickUpdateAndAnswerWarning(IDOK);
    RigProgressWindow progress;
    ASSERT_TRUE(rigWaitProgressWindow(program, progress, 15000));
    constexpr std::uint32_t BLOCKS_BEFORE_THE_UNPLUG = 100;
    ASSERT_TRUE(rigWaitRequestCount(unit, CMD_WRITE_DATA, BLOCKS_BEFORE_THE_UNPLUG, 15000));
    const SimUnit before = rigUnitSnapshot(unit);
    ASSERT_GT(simCountRequests(before, CMD_WRITE_DATA), 0u);
    EXPECT_EQ(0xFFFF, before.escFirmwareVersion) << "the erase left the ESC without firmware";
    // The removal reaches the dialog while the update waits between blocks.
    EXPECT_NE(RigDelivery::Failed, rigPullOut(program, unit));

    // The removal does not close the link under the update: the next block fails as the device's
    // own failure, a write or a read, and the box carries its error-code line.
    RigMessageBox box;
    ASSERT_TRUE(rigWaitMessageBox(program, box, BOX_TIMEOUT_MS));
    EXPECT_TRUE(sameText(expectedText(40002), box.caption));
    const std::wstring writeFailed = expectedText(40009) + L"\r\n" + errorLineStart(-2);
    const std::wstring readFailed = expectedText(40009) + L"\r\n" + errorLineStart(-3);
    const std::wstring start = box.text.substr(0, writeFailed.size());
    EXPECT_TRUE(start == writeFailed || start == readFailed) << rigShow(box.text);
    EXPECT_TRUE(sameText(start + L"-0x0000048f", box.text)) << "the system's own error: the device is not connected";
    std::printf("unplugged in the middle of the transfer: \"%s\"\n", rigShow(box.text).c_str());
    ASSERT_TRUE(rigAnswerMessageBox(box, IDOK));
    rigWaitDelivered();
    expectFailedState();

    RigDevice again = rigCompatibleUnit(build);
    again.config.escFirmwareVersion = before.escFirmwareVersion;
    ASSERT_EQ(RigDelivery::Handled, rigPlugIn(program, again, &unit));
    ASSERT_TRUE(rigWaitStatus(program, expectedText(40000), 5000));
    EXPECT_TRUE(sameText(L"----------", rigVersionRows(program).value[2]));

    clickUpdateAndAnswerWarning(IDOK);  // no version question follows: the transfer starts
    ASSERT_TRUE(rigWaitProgressWindow(program, progress, 15000));
    expectSucceeded(build);
}

// ---- Declines and the version question ----

TEST_F(Update, CancelOnTheWarningSendsNothingAndChangesNothing) {
    startReady(rigBuild60());
    const std::size_t requestsBefore = rigTranscriptSize(unit);
    clickUpdateAndAnswerWarning(IDCANCEL);
    ASSERT_TRUE(rigWaitIdle(program));
    EXPECT_EQ(requestsBefore, rigTranscriptSize(unit));
    expectReady(program, L"VEXO-BOX", DEFAULT_UNIT_VERSION, DEFAULT_BOOTLOADER_VERSION, DEFAULT_ESC_VERSION);
}

struct VersionCase {
    std::uint16_t escFirmwareVersion;
    bool asked;
};

class VersionQuestion : public Update, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionQuestion, IsAskedFromVersionTwoUpExceptForAnEscWithoutFirmware) {
    const VersionCase& c = GetParam();
    RigDevice device = rigCompatibleUnit(rigBuild60());
    device.config.escFirmwareVersion = c.escFirmwareVersion;
    // Should the update start, it ends at its first command.
    device.config.fault.kind = SimFaultKind::WrongState;
    device.config.fault.command = CMD_SYSTEM_LOCK;
    startReady(rigBuild60(), device);
    const std::size_t requestsBefore = rigTranscriptSize(unit);
    const std::wstring status = rigStatusText(program);
    clickUpdateAndAnswerWarning(IDOK);

    RigMessageBox box;
    ASSERT_TRUE(rigWaitMessageBox(program, box, BOX_TIMEOUT_MS));
    if (!c.asked) {
        EXPECT_TRUE(sameText(expectedText(40002), box.caption)) << "no question expected";
        ASSERT_TRUE(rigAnswerMessageBox(box, IDOK));
        EXPECT_EQ(1u, rigRequestCount(unit, CMD_SYSTEM_LOCK));
        return;
    }
    EXPECT_TRUE(sameText(expectedText(40025), box.caption));
    EXPECT_TRUE(sameText(expectedText(40023), box.text));
    EXPECT_EQ((std::vector<int>{IDYES, IDNO}), box.buttons);
    ASSERT_TRUE(rigAnswerMessageBox(box, IDNO));
    ASSERT_TRUE(rigWaitIdle(program));
    EXPECT_EQ(requestsBefore, rigTranscriptSize(unit)) << "No must send nothing";
    EXPECT_TRUE(sameText(status, rigStatusText(program)));
    EXPECT_TRUE(rigIsControlEnabled(program, RIG_ID_UPDATE));
}

INSTANTIATE_TEST_SUITE_P(Versions, VersionQuestion,
                         ::testing::Values(VersionCase{0x01FF, false}, VersionCase{0x0200, true},
                                           VersionCase{0xFFFE, true}, VersionCase{0xFFFF, false}));

// The link went away while the warning was open: the first command finds no link.
TEST_F(Update, UnitPulledOutWhileTheWarningIsOpenFailsWithoutAnErrorCodeLine) {
    startReady(rigBuild60());
    ASSERT_TRUE(rigClick(program, RIG_ID_UPDATE));
    RigMessageBox warning;
    ASSERT_TRUE(rigWaitMessageBox(program, warning, BOX_TIMEOUT_MS));
    // The warning's own loop handles the removal.
    ASSERT_NE(RigDelivery::Failed, rigPullOut(program, unit));
    ASSERT_TRUE(rigWaitDelivered());
    ASSERT_TRUE(rigAnswerMessageBox(warning, IDOK));
    expectErrorBox(40026, -1);
    expectFailedState();
}

// While a question is open the link belongs to the update: a unit that arrives is not opened under
// it, and the update ends at its first command as for any link that went away.
TEST_F(Update, AUnitArrivingWhileTheWarningIsOpenIsNotTakenUnderTheUpdate) {
    startReady(rigBuild60());
    ASSERT_TRUE(rigClick(program, RIG_ID_UPDATE));
    RigMessageBox warning;
    ASSERT_TRUE(rigWaitMessageBox(program, warning, BOX_TIMEOUT_MS));
    ASSERT_NE(RigDelivery::Failed, rigPullOut(program, unit));
    ASSERT_TRUE(rigWaitDelivered());
    int other = -1;
    ASSERT_NE(RigDelivery::Failed, rigPlugIn(program, rigCompatibleUnit(rigBuild60()), &other));
    ASSERT_TRUE(rigWaitDelivered());
    EXPECT_EQ(0u, rigTranscriptSize(other)) << "the arriving unit was opened under the update";
    ASSERT_TRUE(rigAnswerMessageBox(warning, IDOK));
    expectErrorBox(40026, -1);
    expectFailedState();
}

// Once the update has failed, its error box is open with the link closed: a unit that arrives then
// is judged as at any other time, and the failure text still has the last word.
TEST_F(Update, AUnitArrivingWhileTheErrorBoxIsOpenIsJudgedAsAtAnyOtherTime) {
    RigDevice refusing = rigCompatibleUnit(rigBuild60());
    refusing.config.fault.kind = SimFaultKind::WrongState;
    refusing.config.fault.command = CMD_SYSTEM_LOCK;
    startReady(rigBuild60(), refusing);
    clickUpdateAndAnswerWarning(IDOK);
    RigMessageBox box;
    ASSERT_TRUE(rigWaitMessageBox(program, box, BOX_TIMEOUT_MS));
    EXPECT_TRUE(sameText(expectedText(40002), box.caption));
    // Any HID interface that arrives starts the evaluation; the scan takes the first unit present,
    // the one whose update failed, which is still plugged in.
    const std::size_t before = rigTranscriptSize(unit);
    int other = -1;
    ASSERT_NE(RigDelivery::Failed, rigPlugIn(program, rigCompatibleUnit(rigBuild60()), &other));
    ASSERT_TRUE(rigWaitDelivered());
    EXPECT_EQ(before + 3, rigTranscriptSize(unit)) << "the unit was identified again";
    EXPECT_TRUE(rigIsControlEnabled(program, RIG_ID_UPDATE)) << "the unit is offered again";
    ASSERT_TRUE(rigAnswerMessageBox(box, IDOK));
    EXPECT_TRUE(rigWaitStatus(program, expectedText(40030), 5000));
    EXPECT_TRUE(rigIsControlEnabled(program, RIG_ID_UPDATE));
    EXPECT_TRUE(sameText(L"1.5", rigVersionRows(program).value[2]));
}

// An update command that arrives after the link went away (queued behind the removal).
TEST_F(Update, CommandWithoutALinkShowsUnitNotDetected) {
    startReady(rigBuild60());
    ASSERT_EQ(RigDelivery::Handled, rigPullOut(program, unit));
    ASSERT_TRUE(rigWaitStatus(program, expectedWithSteps(40020), 5000));
    PostMessageW(program.dialog, WM_COMMAND, MAKEWPARAM(RIG_ID_UPDATE, BN_CLICKED), 0);
    expectErrorBox(40022, -1);
    expectFailedState();
}

}  // namespace

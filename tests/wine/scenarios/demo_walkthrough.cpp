// The demo: the ZEPHANT 60 LV program against a simulated VexoBOX with a compatible ESC.
//   demo_walkthrough --serve   serves the unit until a person closes the program
//   demo_walkthrough           a scripted walk-through: start, versions, unplug, plug back, a whole
//                              update, a failed erase, an ESC of another model; prints what it saw,
//                              checks the flash and leaves pictures of the program (the README's)
//   demo_walkthrough --german  the dialog as a German user sees it (run under the German locale)
// Exit code 0 when everything went as it should.
#include "tests/wine/scenarios/scenario.h"
#include "tests/wine/scenarios/update_requests.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

namespace {

int Failures = 0;

void say(const char* format, const std::string& text = std::string()) {
    std::printf(format, text.c_str());
    std::printf("\n");
    std::fflush(stdout);
}

void check(bool ok, const char* what) {
    std::printf("  %s %s\n", ok ? "ok  " : "FAIL", what);
    std::fflush(stdout);
    if (!ok) ++Failures;
}

void showDialog(const RigProgram& program) {
    RigVersionRows rows = rigVersionRows(program);
    for (int row = 0; row < 3; ++row) {
        std::printf("  %-20s %-12s%s\n", rigUtf8(rows.label[row]).c_str(), rigUtf8(rows.value[row]).c_str(),
                    rows.valueEnabled[row] ? "" : "  (grey)");
    }
    std::printf("  Update button: %s\n", rigIsControlEnabled(program, RIG_ID_UPDATE) ? "enabled" : "grey");
    std::wstring status = rigStatusText(program);
    std::size_t lineEnd = status.find(L"\r\n");
    std::printf("  status: \"%s\"%s\n", rigUtf8(status.substr(0, lineEnd)).c_str(),
                lineEnd == std::wstring::npos ? "" : " ...");
    std::fflush(stdout);
}

// A picture of the program's windows alone (the dialog, a box or the progress window in front of
// it), under a name the README refers to. program is null while its thread is busy with the update
// and cannot be asked to paint first.
void screenshot(const RigProgram* program, const char* name, const std::vector<HWND>& windows) {
    std::string path = rigScreenshotOfWindows(program, name, windows);
    if (path.empty()) {
        check(false, "screenshot");
    } else {
        say("  screenshot %s", path);
    }
}

void screenshot(const RigProgram& program, const char* name) {
    screenshot(&program, name, {program.dialog});
}

// The unit's error code that the failed erase of the walk-through reports.
constexpr std::uint32_t DEMO_ERASE_ERROR = SIM_ERROR_PROTECTED;

// "0x0000e102", as the error-code line prints a value.
std::wstring hexCode(std::uint32_t value) {
    wchar_t text[16];
    std::swprintf(text, sizeof text / sizeof text[0], L"0x%08x", value);
    return text;
}

int serve() {
    if (!rigStartScenario()) return 1;
    int unit = rigPlug(rigCompatibleUnit(rigBuild60()));
    RigProgram program;
    if (unit < 0 || !rigStartProgram(program, rigBuild60())) {
        rigEndScenario();
        return 1;
    }
    say("The ZEPHANT 60 LV program is running against a simulated VexoBOX with a compatible ESC.");
    say("Close the program to end the demo.");
    WaitForSingleObject(program.process, INFINITE);
    DWORD exitCode = 0;
    GetExitCodeProcess(program.process, &exitCode);
    SimUnit seen = rigUnitSnapshot(unit);
    std::printf("The unit received %zu requests; the program exited with code %lu.\n", seen.transcript.size(),
                static_cast<unsigned long>(exitCode));
    rigEndScenario();
    return 0;
}

int walkThrough() {
    const RigBuild& build = rigBuild60();
    if (!rigStartScenario()) return 1;
    RigProgram program;

    say("1. A VexoBOX with a ZEPHANT 60 LV ESC is plugged in; the program starts.");
    int unit = rigPlug(rigCompatibleUnit(build));
    if (unit < 0 || !rigStartProgram(program, build)) {
        check(false, "the program came up");
        rigEndScenario();
        return 1;
    }
    say("  title: \"%s\"", rigUtf8(rigTitle(program)));
    showDialog(program);
    check(rigStatusText(program) == expectedText(40000), "ready to update");
    screenshot(program, "ready");

    say("2. The unit is pulled out.");
    check(rigPullOut(program, unit) == RigDelivery::Handled, "removal delivered");
    showDialog(program);
    check(rigStatusText(program) == expectedWithSteps(40020), "connection lost, with the steps");
    screenshot(program, "connection-lost");

    say("3. It is plugged back in.");
    check(rigPlugIn(program, rigCompatibleUnit(build), &unit) == RigDelivery::Handled, "arrival delivered");
    showDialog(program);
    check(rigIsControlEnabled(program, RIG_ID_UPDATE), "Update enabled again");

    say("4. Update is clicked.");
    check(rigClick(program, RIG_ID_UPDATE), "clicked Update");
    RigMessageBox box;
    if (rigWaitMessageBox(program, box, 10000)) {
        say("  box \"%s\":", rigUtf8(box.caption));
        say("    \"%s\"", rigUtf8(box.text));
        check(box.caption == expectedText(40037) && box.text == expectedText(40038), "the warning before the update");
        screenshot(&program, "update-warning", {program.dialog, box.window});
        check(rigAnswerMessageBox(box, IDOK), "OK pressed");
    } else {
        check(false, "the warning appeared");
    }

    say("5. The image goes out block by block.");
    const DWORD start = GetTickCount();
    RigProgressWindow progress;
    if (rigWaitProgressWindow(program, progress, 15000)) {
        say("  progress window \"%s\"", rigUtf8(progress.title));
        std::printf("  at %ld,%ld size %ldx%ld\n", progress.rect.left, progress.rect.top,
                    progress.rect.right - progress.rect.left, progress.rect.bottom - progress.rect.top);
        check(progress.title == expectedText(40029), "progress window title");
    } else {
        check(false, "the progress window appeared");
    }
    bool shotTaken = false;
    bool done = false;
    DWORD reported = 0;
    while (GetTickCount() - start < 120000) {
        SimUnit seen = rigUnitSnapshot(unit);
        if (GetTickCount() - start >= reported + 5000) {
            reported += 5000;
            std::printf("  %5.1f s: %u blocks written\n", (GetTickCount() - start) / 1000.0, seen.dataRequests);
            std::fflush(stdout);
        }
        if (!shotTaken && seen.dataRequests > 800) {
            // The progress window alone: the dialog behind it is not repainted while the update
            // holds the program's thread, and shows what the warning box left there.
            screenshot(nullptr, "progress", {progress.window});
            shotTaken = true;
        }
        std::wstring status;
        if (rigStatusText(program, status, 100) && status == expectedText(40032)) {
            done = true;
            break;
        }
        rigSleep(250);
    }
    std::printf("  the update took %.1f s\n", (GetTickCount() - start) / 1000.0);

    say("6. The update is over.");
    RigMessageBox unexpected;
    if (rigFindMessageBox(program, unexpected)) {
        say("  an unexpected box \"%s\":", rigUtf8(unexpected.caption));
        say("    \"%s\"", rigUtf8(unexpected.text));
    }
    showDialog(program);
    check(done, "the success text");
    check(rigControlText(program, RIG_ID_VALUE_ESC) == L"2.0", "ESC firmware shown as 2.0");
    screenshot(program, "updated");

    std::vector<std::uint8_t> image;
    check(rigLoadImage(build, image) && image.size() == build.imageBytes, "the program's image read");
    SimUnit after = rigUnitSnapshot(unit);
    long difference = rigFirstFlashDifference(after, image);
    std::printf("  flash: %u blocks written, %s\n", after.dataRequests,
                difference < 0 ? "holds the image exactly" : "differs");
    if (difference >= 0) std::printf("  first difference at offset %ld\n", difference);
    check(difference < 0 && !image.empty(), "the ESC's flash holds the image");
    check(!after.systemLock && after.writeProtection, "lock released and write protection restored");

    say("7. Another ESC is attached; erasing its firmware fails.");
    rigPullOut(program, unit);
    RigDevice failing = rigCompatibleUnit(build);
    failing.config.fault.kind = SimFaultKind::ErrorReply;
    failing.config.fault.command = CMD_ERASE_FIRMWARE;
    failing.config.fault.errorCode = DEMO_ERASE_ERROR;
    check(rigPlugIn(program, failing, &unit) == RigDelivery::Handled && rigIsControlEnabled(program, RIG_ID_UPDATE),
          "ready again");
    check(rigClick(program, RIG_ID_UPDATE), "clicked Update");
    if (rigWaitMessageBox(program, box, 10000) && box.caption == expectedText(40037)) {
        check(rigAnswerMessageBox(box, IDOK), "OK pressed on the warning");
    } else {
        check(false, "the warning appeared");
    }
    // The erase takes its reply after a second; the failure box follows at once.
    if (rigWaitMessageBox(program, box, 20000)) {
        say("  box \"%s\":", rigUtf8(box.caption));
        say("    \"%s\"", rigUtf8(box.text));
        const std::wstring body = expectedText(40028) + L"\r\n";
        const std::wstring code = hexCode(DEMO_ERASE_ERROR) + L"-0x";
        check(box.caption == expectedText(40002) && box.text.compare(0, body.size(), body) == 0 &&
                  box.text.find(code, body.size()) != std::wstring::npos,
              "the erase's error box with the unit's code");
        screenshot(&program, "erase-failed", {program.dialog, box.window});
        check(rigAnswerMessageBox(box, IDOK), "OK pressed");
    } else {
        check(false, "the error box appeared");
    }
    check(rigWaitStatus(program, expectedText(40030), 5000), "the failure text in the status area");
    check(!rigIsControlEnabled(program, RIG_ID_UPDATE), "Update grey after the failure");
    showDialog(program);

    say("8. It is replaced by an ESC of another model (a ZEPHANT 140 LV).");
    rigPullOut(program, unit);
    RigDevice other = rigCompatibleUnit(build);
    other.config.escHardwareId = rigAcceptedIdA(rigBuild140());
    check(rigPlugIn(program, other, &unit) == RigDelivery::BoxOpen, "the arrival opened a box");
    if (rigWaitMessageBox(program, box, 10000)) {
        say("  box \"%s\":", rigUtf8(box.caption));
        say("    \"%s\"", rigUtf8(box.text));
        const std::wstring prefix = expectedIncompatibleText(build, rigProcessLanguage());
        check(box.caption == expectedText(40033) && box.text.compare(0, prefix.size(), prefix) == 0,
              "the incompatible-ESC box names this program's model");
        screenshot(&program, "incompatible-esc", {program.dialog, box.window});
        check(rigAnswerMessageBox(box, IDOK), "OK pressed");
    } else {
        check(false, "the incompatible-ESC box appeared");
    }
    check(rigWaitDelivered(), "the arrival handled");
    check(rigWaitStatus(program, expectedWithSteps(40035), 5000), "the status says why, with the steps");
    showDialog(program);

    say("9. Close.");
    DWORD exitCode = 0xFFFF;
    check(rigClick(program, RIG_ID_CLOSE) && rigWaitExit(program, 5000, &exitCode) && exitCode == 0,
          "the program ended with exit code 0");
    rigEndScenario();
    std::printf("%s: %d failure%s\n", Failures == 0 ? "Demo passed" : "Demo FAILED", Failures,
                Failures == 1 ? "" : "s");
    return Failures == 0 ? 0 : 1;
}

// The dialog ready for an update, as a German user sees it.
int german() {
    const RigBuild& build = rigBuild60();
    if (rigProcessLanguage() != RigLanguage::German) {
        std::printf("demo_walkthrough --german must run under the German locale\n");
        return 1;
    }
    if (!rigStartScenario()) return 1;
    say("The ZEPHANT 60 LV program on a German user interface, a compatible ESC attached.");
    RigProgram program;
    int unit = rigPlug(rigCompatibleUnit(build));
    if (unit < 0 || !rigStartProgram(program, build)) {
        check(false, "the program came up");
        rigEndScenario();
        return 1;
    }
    showDialog(program);
    check(rigStatusText(program) == expectedText(40000, RigLanguage::German), "ready to update, in German");
    screenshot(program, "german");
    DWORD exitCode = 0xFFFF;
    check(rigClick(program, RIG_ID_CLOSE) && rigWaitExit(program, 5000, &exitCode) && exitCode == 0,
          "the program ended with exit code 0");
    rigEndScenario();
    std::printf("%s: %d failure%s\n", Failures == 0 ? "German demo passed" : "German demo FAILED", Failures,
                Failures == 1 ? "" : "s");
    return Failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--serve") == 0) return serve();
    if (argc > 1 && std::strcmp(argv[1], "--german") == 0) return german();
    return walkThrough();
}

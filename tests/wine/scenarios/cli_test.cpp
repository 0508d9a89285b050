// The Windows console program quenlor.exe as it ships, under Wine against the rig's simulated
// units: its listing, its identification as JSON, a whole update with the flash exact, and a failed
// step with its exit code. Its standard output and error go to files, read once it has ended.
#include "tests/wine/scenarios/scenario.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr DWORD QUICK_MS = 30000;
constexpr DWORD WHOLE_UPDATE_MS = 120000;

struct ConsoleRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string out;
    std::string err;
};

std::wstring tempFile(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + name;
}

// The file's bytes with the console's \r\n turned back into \n.
std::string readText(const std::wstring& path) {
    std::string text = rigReadFile(path);
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

HANDLE inheritableFile(const std::wstring& path) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                       CREATE_ALWAYS, 0, nullptr);
}

std::wstring shippedProgram() { return rigDistDir() + L"\\quenlor.exe"; }

bool runConsoleProgram(const std::wstring& arguments, DWORD timeoutMs, ConsoleRun* run,
                       const std::wstring& program = shippedProgram()) {
    // Fresh files for every run: nothing a run left open can mix into the next one's output.
    static int runs = 0;
    ++runs;
    const std::wstring outPath = tempFile((L"quenlor-cli-out-" + std::to_wstring(runs) + L".txt").c_str());
    const std::wstring errPath = tempFile((L"quenlor-cli-err-" + std::to_wstring(runs) + L".txt").c_str());
    HANDLE out = inheritableFile(outPath);
    HANDLE err = inheritableFile(errPath);
    if (out == INVALID_HANDLE_VALUE || err == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "cannot create the output files: error " << GetLastError();
        return false;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION info = {};
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    const BOOL started = CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, DETACHED_PROCESS,
                                        nullptr, nullptr, &startup, &info);
    CloseHandle(out);
    CloseHandle(err);
    if (!started) {
        ADD_FAILURE() << "cannot start " << rigUtf8(program) << ": error " << GetLastError();
        return false;
    }
    CloseHandle(info.hThread);
    const bool ended = WaitForSingleObject(info.hProcess, timeoutMs) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(info.hProcess, 1);
    GetExitCodeProcess(info.hProcess, &run->exitCode);
    CloseHandle(info.hProcess);
    run->out = readText(outPath);
    run->err = readText(errPath);
    return ended;
}

std::string lastLine(const std::string& text) {
    const std::size_t end = text.size() > 0 && text.back() == '\n' ? text.size() - 1 : text.size();
    const std::size_t start = text.rfind('\n', end == 0 ? 0 : end - 1);
    return text.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1));
}

class Cli : public RigScenario {};

TEST_F(Cli, ListShowsEachUnitInScanOrder) {
    const int unit = rigPlug(rigCompatibleUnit(rigBuild60()));
    RigDevice dialpuck = rigCompatibleUnit(rigBuild90());
    dialpuck.config.productId = RIG_PRODUCT_DIALPUCK;
    const int second = rigPlug(dialpuck);
    ASSERT_GE(second, 0);
    ConsoleRun run;
    ASSERT_TRUE(runConsoleProgram(L"list", QUICK_MS, &run));
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "VEXO-BOX  " + rigUtf8(rigDevicePath(unit)) + "  ready\nDIALPUCK  " + rigUtf8(rigDevicePath(second)) +
                           "  ready\n");
    EXPECT_EQ(rigTranscriptSize(unit), 0u) << "list sends nothing";
}

TEST_F(Cli, InfoJsonIdentifiesTheFirstUnit) {
    const int unit = rigPlug(rigCompatibleUnit(rigBuild140()));
    ConsoleRun run;
    ASSERT_TRUE(runConsoleProgram(L"info --json", QUICK_MS, &run));
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(run.out,
              "{\"esc\":{\"bootloader\":\"2.3\",\"firmware\":\"1.5\",\"hardwareId\":\"0x111f408c\",\"model\":\"ZEPHANT 140 LV\"},"
              "\"unit\":{\"firmware\":\"1.5\",\"product\":\"VEXO-BOX\"},\"verdict\":\"ready\"}\n");
    EXPECT_EQ(rigTranscriptSize(unit), 3u) << "identification only";
}

TEST_F(Cli, NoUnitExitsWithThree) {
    ConsoleRun run;
    ASSERT_TRUE(runConsoleProgram(L"info", QUICK_MS, &run));
    EXPECT_EQ(run.exitCode, 3u);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("quenlor: No programming unit was found", 0), 0u) << run.err;
}

TEST_F(Cli, WholeUpdateWritesTheImageExactly) {
    const RigBuild& build = rigBuild90();
    const int unit = rigPlug(rigCompatibleUnit(build));
    ConsoleRun run;
    ASSERT_TRUE(runConsoleProgram(L"update --yes --json --allow-stand-in", WHOLE_UPDATE_MS, &run));
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_EQ(lastLine(run.out), "{\"event\":\"result\",\"firmware\":\"2.0\",\"model\":\"ZEPHANT 90 LV\",\"ok\":true}");
    EXPECT_EQ(run.out.rfind("{\"bytesSent\":0,\"event\":\"progress\",\"percent\":0,\"totalBytes\":97536}\n", 0), 0u);
    std::vector<std::uint8_t> image;
    ASSERT_TRUE(rigLoadImage(build, image));
    const SimUnit after = rigUnitSnapshot(unit);
    EXPECT_EQ(-1, rigFirstFlashDifference(after, image)) << "the flash does not hold exactly the image";
    EXPECT_FALSE(after.systemLock);
    EXPECT_TRUE(after.writeProtection);
}

TEST_F(Cli, FailedStepExitsWithEight) {
    RigDevice device = rigCompatibleUnit(rigBuild60());
    device.config.fault = {SimFaultKind::ErrorReply, 0x1F /* set write address */, SIM_ANY_BLOCK, 0xAD0001};
    rigPlug(device);
    ConsoleRun run;
    ASSERT_TRUE(runConsoleProgram(L"update --yes --json --allow-stand-in", QUICK_MS, &run));
    EXPECT_EQ(run.exitCode, 8u);
    const std::string result = lastLine(run.out);
    EXPECT_NE(result.find("\"code\":\"0x00ad0001\""), std::string::npos) << result;
    EXPECT_NE(result.find("\"step\":\"0x00009c48\""), std::string::npos) << result;  // 40008
    EXPECT_NE(result.find("\"ok\":false"), std::string::npos) << result;
    EXPECT_EQ(run.err.rfind("quenlor: The update failed: the address for the new firmware could not be set", 0), 0u)
        << run.err;
}

// ---- A HID library planted beside the program is never loaded

std::wstring thisFolder() {
    wchar_t self[MAX_PATH * 2] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
    const std::wstring path = self;
    return path.substr(0, path.find_last_of(L'\\'));
}

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST_F(Cli, PlantedHidLibraryIsNotLoaded) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"quenlor-cli-planted-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring marker = folder + L"\\planted-hid-loaded.txt";
    const std::wstring copied = folder + L"\\quenlor.exe";
    DeleteFileW(marker.c_str());
    ASSERT_TRUE(CopyFileW((thisFolder() + L"\\planted_hid.dll").c_str(), (folder + L"\\hid.dll").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(shippedProgram().c_str(), copied.c_str(), FALSE));
    // The planted library announces itself when loaded: loaded here under another name, it must.
    ASSERT_TRUE(CopyFileW((folder + L"\\hid.dll").c_str(), (folder + L"\\marker-check.dll").c_str(), FALSE));
    HMODULE check = LoadLibraryW((folder + L"\\marker-check.dll").c_str());
    ASSERT_NE(check, nullptr);
    FreeLibrary(check);
    ASSERT_TRUE(exists(marker)) << "the planted library did not write its marker";
    ASSERT_TRUE(DeleteFileW(marker.c_str()));

    rigPlug(rigCompatibleUnit(rigBuild60()));
    ConsoleRun run;
    ASSERT_TRUE(runConsoleProgram(L"info --json", QUICK_MS, &run, copied));
    EXPECT_EQ(run.exitCode, 0u) << run.err;
    EXPECT_NE(run.out.find("\"verdict\":\"ready\""), std::string::npos) << "found through the system's HID library";
    EXPECT_FALSE(exists(marker)) << "quenlor.exe loaded the hid.dll planted beside it";
    for (const wchar_t* name : {L"\\hid.dll", L"\\marker-check.dll", L"\\quenlor.exe", L"\\planted-hid-loaded.txt"}) {
        DeleteFileW((folder + name).c_str());
    }
    RemoveDirectoryW(folder.c_str());
}

}  // namespace

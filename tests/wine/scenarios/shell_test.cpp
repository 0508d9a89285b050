// The program's frame as a user meets it with no programming unit plugged in: title, row labels,
// greyed rows, the instructions, the grey Update button; the ways of closing it; its language;
// and the HID library it refuses to take from its own folder.
#include "tests/wine/scenarios/scenario.h"

#include <cstdio>

namespace {

const int HEADING_ID = -1;  // the status area's heading, the template's static without an ID

class Shell : public RigScenario, public ::testing::WithParamInterface<std::size_t> {
protected:
    const RigBuild& build() const { return RIG_BUILDS[GetParam()]; }
};

std::string buildName(const ::testing::TestParamInfo<std::size_t>& info) {
    std::string name = rigUtf8(RIG_BUILDS[info.param].modelName);
    for (char& c : name)
        if (c == ' ') c = '_';
    return name;
}

std::string shotName(const RigBuild& build, const char* what) {
    std::string name = rigUtf8(build.exeName);
    name = name.substr(0, name.size() - 4);  // without ".exe"
    return name + "-" + what;
}

// Everything a user sees with no unit, in the language of this test process.
void expectEmptyDialog(const RigProgram& program, const RigBuild& build) {
    const std::wstring title = rigTitle(program);
    EXPECT_TRUE(sameText(rigExpectedTitle(build), title));
    ASSERT_FALSE(title.empty());
    EXPECT_EQ(L' ', title.back()) << "the title ends in a blank";

    RigVersionRows rows = rigVersionRows(program);
    EXPECT_TRUE(sameText(expectedText(40039), rows.label[0]));
    EXPECT_TRUE(sameText(expectedText(40040), rows.label[1]));
    EXPECT_TRUE(sameText(expectedText(40041), rows.label[2]));
    expectWaiting(program, 40017);

    std::wstring status = rigStatusText(program);
    EXPECT_EQ(0u, status.find(expectedText(40017) + L"\r\n\r\n1.)\r\n")) << "the steps begin with 1.) on a line of its own";
}

TEST_P(Shell, ShowsItsModelAndNoUnitInEnglish) {
    REQUIRE_ENGLISH_LOCALE();
    START_PROGRAM(program, build());
    expectEmptyDialog(program, build());
    EXPECT_TRUE(sameText(L"Close", rigControlText(program, RIG_ID_CLOSE)));
    EXPECT_TRUE(sameText(L"Update", rigControlText(program, RIG_ID_UPDATE)));
    EXPECT_TRUE(sameText(L"Installed firmware version", rigControlText(program, RIG_ID_GROUP)));
    EXPECT_TRUE(sameText(L"Hint:", rigControlText(program, HEADING_ID)));
    EXPECT_FALSE(rigScreenshot(&program, shotName(build(), "english")).empty());
}

TEST_P(Shell, GermanShowsItsModelAndNoUnit) {
    REQUIRE_GERMAN_LOCALE();
    START_PROGRAM(program, build());
    expectEmptyDialog(program, build());
    EXPECT_TRUE(sameText(L"Beenden", rigControlText(program, RIG_ID_CLOSE)));
    EXPECT_TRUE(sameText(L"Update", rigControlText(program, RIG_ID_UPDATE)));
    EXPECT_TRUE(sameText(L"Installierte Firmware Versionen", rigControlText(program, RIG_ID_GROUP)));
    EXPECT_TRUE(sameText(L"Hinweisfenster:", rigControlText(program, HEADING_ID)));
    // The German steps carry umlauts, ß and ™ as the user must see them.
    std::wstring status = rigStatusText(program);
    EXPECT_NE(std::wstring::npos, status.find(L"Windows\u2122PC"));
    EXPECT_NE(std::wstring::npos, status.find(L"folgenderma\u00DFen"));
    EXPECT_NE(std::wstring::npos, status.find(L"Empf\u00E4nger"));
    EXPECT_FALSE(rigScreenshot(&program, shotName(build(), "german")).empty());
}

INSTANTIATE_TEST_SUITE_P(EachBuild, Shell, ::testing::Range<std::size_t>(0, RIG_BUILD_COUNT), buildName);

// ---- Closing ----

enum class CloseWay { CloseButton, Escape, Enter, AltF4, CloseBox, CloseMessage };

struct CloseCase {
    std::size_t build;
    CloseWay way;
};

class Closing : public RigScenario, public ::testing::WithParamInterface<CloseCase> {};

bool close(const RigProgram& program, CloseWay way) {
    switch (way) {
        case CloseWay::CloseButton: return rigClick(program, RIG_ID_CLOSE);
        case CloseWay::Escape: return rigPressKey(program, RigKey::Escape);
        case CloseWay::Enter: return rigPressKey(program, RigKey::Enter);
        case CloseWay::AltF4: return rigPressKey(program, RigKey::AltF4);
        case CloseWay::CloseBox: return rigClickCloseBox(program);
        case CloseWay::CloseMessage: return rigCloseWindow(program);
    }
    return false;
}

TEST_P(Closing, EndsWithExitCodeZero) {
    const CloseCase& c = GetParam();
    START_PROGRAM(program, RIG_BUILDS[c.build]);
    ASSERT_TRUE(close(program, c.way));
    DWORD exitCode = 0xFFFF;
    ASSERT_TRUE(rigWaitExit(program, 5000, &exitCode));
    EXPECT_EQ(0u, exitCode);
}

TEST_P(Closing, EndsWithExitCodeZeroWhileAUnitIsOpen) {
    const CloseCase& c = GetParam();
    const RigBuild& build = RIG_BUILDS[c.build];
    int unit = rigPlug(rigCompatibleUnit(build));
    ASSERT_GE(unit, 0);
    START_PROGRAM(program, build);
    ASSERT_TRUE(rigIsControlEnabled(program, RIG_ID_UPDATE));
    const std::size_t sent = rigTranscriptSize(unit);
    ASSERT_TRUE(close(program, c.way));
    DWORD exitCode = 0xFFFF;
    ASSERT_TRUE(rigWaitExit(program, 5000, &exitCode));
    EXPECT_EQ(0u, exitCode);
    EXPECT_EQ(sent, rigTranscriptSize(unit)) << "closing sends nothing to the unit";
}

struct CloseWayName {
    CloseWay way;
    const char* name;
};

const CloseWayName CLOSE_WAYS[] = {
    {CloseWay::CloseButton, "CloseButton"}, {CloseWay::Escape, "Escape"},     {CloseWay::Enter, "Enter"},
    {CloseWay::AltF4, "AltF4"},             {CloseWay::CloseBox, "CloseBox"}, {CloseWay::CloseMessage, "WmClose"},
};

// Every way of closing, in every build.
std::vector<CloseCase> closeCases() {
    std::vector<CloseCase> cases;
    for (std::size_t build = 0; build < RIG_BUILD_COUNT; ++build) {
        for (const CloseWayName& way : CLOSE_WAYS) cases.push_back({build, way.way});
    }
    return cases;
}

std::string closeCaseName(const ::testing::TestParamInfo<CloseCase>& param) {
    std::string name = rigUtf8(RIG_BUILDS[param.param.build].modelName);
    for (char& c : name)
        if (c == ' ') c = '_';
    for (const CloseWayName& way : CLOSE_WAYS) {
        if (way.way == param.param.way) name += std::string("_") + way.name;
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(EachWay, Closing, ::testing::ValuesIn(closeCases()), closeCaseName);

// ---- A HID library planted beside the program ----

std::wstring thisFolder() {
    wchar_t self[MAX_PATH * 2] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
    std::wstring path = self;
    return path.substr(0, path.find_last_of(L'\\'));
}

bool copyFile(const std::wstring& from, const std::wstring& to) { return CopyFileW(from.c_str(), to.c_str(), FALSE) != 0; }

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class PlantedLibrary : public RigScenario {
protected:
    void SetUp() override {
        RigScenario::SetUp();
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        folder = std::wstring(temp) + L"quenlor-planted-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(folder.c_str(), nullptr);
        marker = folder + L"\\planted-hid-loaded.txt";
        DeleteFileW(marker.c_str());
    }
    void TearDown() override {
        RigScenario::TearDown();
        for (const wchar_t* name : {L"\\hid.dll", L"\\marker-check.dll", L"\\planted-hid-loaded.txt"}) {
            DeleteFileW((folder + name).c_str());
        }
        DeleteFileW((folder + L"\\" + rigBuild60().exeName).c_str());
        RemoveDirectoryW(folder.c_str());
    }
    std::wstring folder;
    std::wstring marker;
};

TEST_F(PlantedLibrary, IsNotLoadedByTheProgram) {
    const std::wstring planted = thisFolder() + L"\\planted_hid.dll";
    ASSERT_TRUE(exists(planted)) << "planted_hid.dll is built beside this test";
    ASSERT_TRUE(copyFile(planted, folder + L"\\hid.dll"));

    // The planted library announces itself when loaded: a copy under another name proves it.
    ASSERT_TRUE(copyFile(planted, folder + L"\\marker-check.dll"));
    HMODULE check = LoadLibraryW((folder + L"\\marker-check.dll").c_str());
    ASSERT_NE(nullptr, check);
    FreeLibrary(check);
    ASSERT_TRUE(exists(marker)) << "the planted library did not write its marker";
    ASSERT_TRUE(DeleteFileW(marker.c_str()));

    const std::wstring program60 = folder + L"\\" + rigBuild60().exeName;
    ASSERT_TRUE(copyFile(rigProgramPath(rigBuild60()), program60));
    int unit = rigPlug(rigCompatibleUnit(rigBuild60()));
    ASSERT_GE(unit, 0);
    ASSERT_TRUE(rigStartProgram(program, rigBuild60(), program60));
    // The unit is found through the system's HID library, not the planted one.
    expectReady(program, L"VEXO-BOX", DEFAULT_UNIT_VERSION, DEFAULT_BOOTLOADER_VERSION, DEFAULT_ESC_VERSION);
    ASSERT_TRUE(rigClick(program, RIG_ID_CLOSE));
    DWORD exitCode = 0xFFFF;
    ASSERT_TRUE(rigWaitExit(program, 5000, &exitCode));
    EXPECT_EQ(0u, exitCode);
    EXPECT_FALSE(exists(marker)) << "the program loaded the hid.dll planted beside it";
}

}  // namespace

#include "tests/wine/scenarios/scenario.h"

const wchar_t DEFAULT_UNIT_VERSION[] = L"1.5";
const wchar_t DEFAULT_BOOTLOADER_VERSION[] = L"2.3";
const wchar_t DEFAULT_ESC_VERSION[] = L"1.5";

const ExpectedText& expectedEntry(std::uint16_t id) {
    static const ExpectedText MISSING = {0, L"", L""};
    std::size_t count = 0;
    const ExpectedText* texts = expectedTexts(&count);
    for (std::size_t i = 0; i < count; ++i) {
        if (texts[i].id == id) return texts[i];
    }
    ADD_FAILURE() << "no expected text for message " << id;
    return MISSING;
}

std::wstring expectedText(std::uint16_t id, RigLanguage language) {
    const ExpectedText& entry = expectedEntry(id);
    return language == RigLanguage::German ? entry.german : entry.english;
}

std::wstring expectedText(std::uint16_t id) { return expectedText(id, rigProcessLanguage()); }

std::wstring expectedWithSteps(std::uint16_t causeId) {
    return expectedText(causeId) + L"\r\n\r\n" + expectedText(40001);
}

std::wstring expectedIncompatibleText(const RigBuild& build, RigLanguage language) {
    std::wstring format = expectedText(40034, language);
    std::size_t at = format.find(L"%s");
    EXPECT_NE(at, std::wstring::npos);
    if (at == std::wstring::npos) return format;
    return format.replace(at, 2, build.modelName);
}

::testing::AssertionResult sameText(const std::wstring& expected, const std::wstring& actual) {
    if (expected == actual) return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
    return ::testing::AssertionFailure() << "texts differ at character " << at << "\n  expected: \""
                                         << rigShow(expected) << "\"\n  actual:   \"" << rigShow(actual) << "\"";
}

void RigScenario::SetUp() { ASSERT_TRUE(rigStartScenario()); }

void RigScenario::TearDown() { rigEndScenario(); }

void expectRowsReset(const RigProgram& program) {
    RigVersionRows rows = rigVersionRows(program);
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(::testing::Message() << "version row " << row + 1);
        EXPECT_TRUE(sameText(L"0.0.0", rows.value[row]));
        EXPECT_FALSE(rows.valueEnabled[row]) << "value not greyed";
        EXPECT_FALSE(rows.labelEnabled[row]) << "label not greyed";
    }
}

void expectWaiting(const RigProgram& program, std::uint16_t causeId) {
    SCOPED_TRACE(::testing::Message() << "waiting with message " << causeId);
    std::wstring status;
    ASSERT_TRUE(rigStatusText(program, status)) << "the status area does not answer";
    EXPECT_TRUE(sameText(expectedWithSteps(causeId), status));
    EXPECT_FALSE(rigIsControlEnabled(program, RIG_ID_UPDATE)) << "Update must be grey";
    EXPECT_TRUE(rigIsControlEnabled(program, RIG_ID_CLOSE));
    expectRowsReset(program);
}

void expectReady(const RigProgram& program, const std::wstring& unitLabel, const std::wstring& unitValue,
                 const std::wstring& bootloaderValue, const std::wstring& escValue) {
    SCOPED_TRACE("ready");
    std::wstring status;
    ASSERT_TRUE(rigStatusText(program, status)) << "the status area does not answer";
    EXPECT_TRUE(sameText(expectedText(40000), status));
    EXPECT_TRUE(rigIsControlEnabled(program, RIG_ID_UPDATE)) << "Update must be enabled";
    RigVersionRows rows = rigVersionRows(program);
    EXPECT_TRUE(sameText(unitLabel, rows.label[0]));
    EXPECT_TRUE(sameText(expectedText(40040), rows.label[1]));
    EXPECT_TRUE(sameText(expectedText(40041), rows.label[2]));
    EXPECT_TRUE(sameText(unitValue, rows.value[0]));
    EXPECT_TRUE(sameText(bootloaderValue, rows.value[1]));
    EXPECT_TRUE(sameText(escValue, rows.value[2]));
    for (int row = 0; row < 3; ++row) {
        EXPECT_TRUE(rows.valueEnabled[row]) << "value of row " << row + 1 << " is grey";
        EXPECT_TRUE(rows.labelEnabled[row]) << "label of row " << row + 1 << " is grey";
    }
}

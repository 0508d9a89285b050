// What the Wine scenarios share: the expected catalogue, the fixture that gives each scenario its
// own simulator, and checks of what a user sees in the dialog.
#pragma once

#include "tests/wine/rig/driver.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>

// One catalogue entry.
struct ExpectedText {
    std::uint16_t id;
    const wchar_t* english;
    const wchar_t* german;
};

const ExpectedText* expectedTexts(std::size_t* count);
// The entry for id; fails the test and gives an empty text when the table has none.
const ExpectedText& expectedEntry(std::uint16_t id);
std::wstring expectedText(std::uint16_t id, RigLanguage language);
// The text in the language of this test process, which the programs it starts inherit.
std::wstring expectedText(std::uint16_t id);
// A cause followed by an empty line and the connection steps, as the status area shows it.
std::wstring expectedWithSteps(std::uint16_t causeId);
// Message 40034 with the model filled in.
std::wstring expectedIncompatibleText(const RigBuild& build, RigLanguage language);

// Exact comparison of two texts; a failure shows both with line breaks spelled out.
::testing::AssertionResult sameText(const std::wstring& expected, const std::wstring& actual);

// A scenario of its own: a fresh simulator with an empty units file; every program started in the
// scenario is killed when it ends.
class RigScenario : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    RigProgram program;
};

// The German cases need the test process (and so the program) under the German locale.
#define REQUIRE_GERMAN_LOCALE()                                                                       \
    ASSERT_EQ(rigProcessLanguage(), RigLanguage::German)                                          \
        << "the German cases must run under the German locale (LANG=de_DE.UTF-8, see run-wine-tests)"
#define REQUIRE_ENGLISH_LOCALE()                                                                      \
    ASSERT_EQ(rigProcessLanguage(), RigLanguage::English) << "these cases expect an English user interface"

// Checks of the dialog; each names what it saw on failure.
// Waiting: no link, the cause with the connection steps, grey rows reading 0.0.0, Update grey.
void expectWaiting(const RigProgram& program, std::uint16_t causeId);
// Ready: the status holds message 40000 alone, Update enabled, the rows enabled and filled.
void expectReady(const RigProgram& program, const std::wstring& unitLabel, const std::wstring& unitValue,
                 const std::wstring& bootloaderValue, const std::wstring& escValue);
// The rows reset: 0.0.0 in all three values, all six controls grey.
void expectRowsReset(const RigProgram& program);

// Starts the build's program and checks it came up.
#define START_PROGRAM(program, build) ASSERT_TRUE(rigStartProgram((program), (build))) << rigUtf8((build).modelName)

// Versions as RigCompatibleUnit's defaults show them.
extern const wchar_t DEFAULT_UNIT_VERSION[];        // unitFirmwareVersion 0x00010500
extern const wchar_t DEFAULT_BOOTLOADER_VERSION[];  // escBootloaderVersion 0x00000203
extern const wchar_t DEFAULT_ESC_VERSION[];         // escFirmwareVersion 0x0105

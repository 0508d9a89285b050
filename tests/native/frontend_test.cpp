// What every front end shares: the verdict on an identified unit (for one model and for any), the
// model it picks, the refusal's cause and the version rows.
#include "frontend/presence_messages.h"
#include "frontend/unit_presence.h"
#include "frontend/unit_verdict.h"
#include "frontend/version_texts.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>
#include <string>

namespace {

// ---- Verdict

struct VerdictCase {
    const char* label;
    std::uint8_t unitMode;
    std::uint16_t attachedType;
    std::uint32_t escHardwareId;
    std::uint8_t modelIdByte;
    UnitVerdict verdict;
};

TEST(UnitVerdictTest, ChecksModeThenAttachmentThenHardware) {
    const VerdictCase cases[] = {
        {"compatible, first family", 0, 3, 0x111F403C, 0x3C, UnitVerdict::OfferUpdate},
        {"compatible, second family", 0, 3, 0x0A06405A, 0x5A, UnitVerdict::OfferUpdate},
        {"unit in its bootloader, ESC would match", 1, 3, 0x111F403C, 0x3C, UnitVerdict::WrongMode},
        {"unit in another mode, nothing attached", 0xFF, 0, 0, 0x3C, UnitVerdict::WrongMode},
        {"no ESC attached", 0, 0, 0x111F403C, 0x3C, UnitVerdict::NoUpdatableEsc},
        {"other device attached, ID would match", 0, 2, 0x111F403C, 0x3C, UnitVerdict::NoUpdatableEsc},
        {"attached type 4", 0, 4, 0x111F403C, 0x3C, UnitVerdict::NoUpdatableEsc},
        {"another model's ESC", 0, 3, 0x0A06405A, 0x3C, UnitVerdict::Incompatible},
        {"model byte under a foreign family", 0, 3, 0x1234563C, 0x3C, UnitVerdict::Incompatible},
        {"ESC that reported nothing", 0, 3, 0xFFFFFFFF, 0x8C, UnitVerdict::Incompatible},
    };
    for (const VerdictCase& c : cases) {
        EXPECT_EQ(judgeAttachedUnit(c.unitMode, c.attachedType, c.escHardwareId, c.modelIdByte), c.verdict) << c.label;
    }
}

TEST(UnitVerdictTest, EachRefusalHasItsCause) {
    EXPECT_EQ(refusalMessage(UnitVerdict::WrongMode), 40015u);
    EXPECT_EQ(refusalMessage(UnitVerdict::NoUpdatableEsc), 40016u);
    EXPECT_EQ(refusalMessage(UnitVerdict::Incompatible), 40035u);
    EXPECT_EQ(refusalMessage(UnitVerdict::OfferUpdate), 0u);
}

struct AnyModelCase {
    const char* label;
    std::uint8_t unitMode;
    std::uint16_t attachedType;
    std::uint32_t escHardwareId;
    UnitVerdict verdict;
    const wchar_t* model;  // null: no model chosen
};

TEST(UnitVerdictTest, ForAnyModelPicksTheRowThatAcceptsTheEsc) {
    const AnyModelCase cases[] = {
        {"60 LV, first family", 0, 3, 0x111F403C, UnitVerdict::OfferUpdate, L"ZEPHANT 60 LV"},
        {"60 LV, second family", 0, 3, 0x0A06403C, UnitVerdict::OfferUpdate, L"ZEPHANT 60 LV"},
        {"140 LV", 0, 3, 0x111F408C, UnitVerdict::OfferUpdate, L"ZEPHANT 140 LV"},
        {"90 LV", 0, 3, 0x0A06405A, UnitVerdict::OfferUpdate, L"ZEPHANT 90 LV"},
        {"no model's ID byte", 0, 3, 0x111F4011, UnitVerdict::Incompatible, nullptr},
        {"a model's byte under a foreign family", 0, 3, 0x1234563C, UnitVerdict::Incompatible, nullptr},
        {"ESC that reported nothing", 0, 3, 0xFFFFFFFF, UnitVerdict::Incompatible, nullptr},
        {"unit in its bootloader, ESC would match", 1, 3, 0x111F403C, UnitVerdict::WrongMode, nullptr},
        {"no ESC attached, ID would match", 0, 0, 0x111F403C, UnitVerdict::NoUpdatableEsc, nullptr},
        {"other device attached", 0, 2, 0x111F408C, UnitVerdict::NoUpdatableEsc, nullptr},
    };
    for (const AnyModelCase& c : cases) {
        const UnitJudgement judgement = judgeAttachedUnitForAnyModel(c.unitMode, c.attachedType, c.escHardwareId);
        EXPECT_EQ(judgement.verdict, c.verdict) << c.label;
        if (c.model == nullptr) {
            EXPECT_EQ(judgement.model, nullptr) << c.label;
        } else {
            ASSERT_NE(judgement.model, nullptr) << c.label;
            EXPECT_STREQ(judgement.model->name, c.model) << c.label;
        }
    }
}

// ---- Version rows

struct VersionCase {
    std::uint32_t value;
    const wchar_t* text;
};

TEST(UnitPresenceTest, ArrivalsAndRemovalsAsTheDialogAnswersThem) {
    EXPECT_TRUE(evaluatesArrival(false, false));
    EXPECT_FALSE(evaluatesArrival(true, false)) << "the open unit stays the one in use";
    EXPECT_FALSE(evaluatesArrival(false, true)) << "the update holds the link";

    struct RemovalCase {
        const char* label;
        bool linkOpen, isTheOpenUnit, sending;
        RemovalAnswer answer;
    };
    const RemovalCase removals[] = {
        {"the open unit", true, true, false, RemovalAnswer::ConnectionLost},
        {"the open unit while the update sends", true, true, true, RemovalAnswer::NoteUntilUpdateEnds},
        {"another device", true, false, false, RemovalAnswer::Ignore},
        {"no link open", false, false, false, RemovalAnswer::Ignore},
    };
    for (const RemovalCase& c : removals) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(answerRemoval(c.linkOpen, c.isTheOpenUnit, c.sending), c.answer);
    }

    struct EvaluationCase {
        const char* label;
        EvaluationOrigin origin;
        bool opened;
        UnitVerdict verdict;
        EvaluationAnswer answer;
        unsigned message;
    };
    const EvaluationCase evaluations[] = {
        {"nothing opened at start-up", EvaluationOrigin::StartUp, false, UnitVerdict::OfferUpdate,
         EvaluationAnswer::Refuse, MSG_NO_UNIT_FOUND},
        {"nothing opened on arrival", EvaluationOrigin::Arrival, false, UnitVerdict::OfferUpdate,
         EvaluationAnswer::LeaveAsItWas, 0},
        {"ready", EvaluationOrigin::Arrival, true, UnitVerdict::OfferUpdate, EvaluationAnswer::OfferUpdate, 0},
        {"another model", EvaluationOrigin::StartUp, true, UnitVerdict::Incompatible,
         EvaluationAnswer::RefuseIncompatible, 0},
        {"wrong mode", EvaluationOrigin::Arrival, true, UnitVerdict::WrongMode, EvaluationAnswer::Refuse,
         refusalMessage(UnitVerdict::WrongMode)},
        {"no updatable ESC", EvaluationOrigin::StartUp, true, UnitVerdict::NoUpdatableEsc, EvaluationAnswer::Refuse,
         refusalMessage(UnitVerdict::NoUpdatableEsc)},
    };
    for (const EvaluationCase& c : evaluations) {
        SCOPED_TRACE(c.label);
        const EvaluationDecision decision = decideEvaluation(c.origin, c.opened, c.verdict);
        EXPECT_EQ(decision.answer, c.answer);
        EXPECT_EQ(decision.refusalMessage, c.message);
    }
}

TEST(FormatVersionTest, ShowsTopByteOnlyWhenSetAndNeverTheThird) {
    const VersionCase cases[] = {
        {0x00000105, L"1.5"},        {0x02000105, L"2.1.5"},          {0x01020304, L"1.3.4"},
        {0x00010500, L"5.0"},        {0x00000000, L"0.0"},            {0x00FF0000, L"0.0"},
        {0x0000FFFF, L"255.255"},    {0xFFFFFFFF, L"255.255.255"},    {0x0A000000, L"10.0.0"},
    };
    for (const VersionCase& c : cases) {
        wchar_t text[VERSION_TEXT_CHARS];
        formatVersion(c.value, text, VERSION_TEXT_CHARS);
        EXPECT_STREQ(text, c.text) << std::hex << c.value;
    }
    wchar_t tight[4];
    formatVersion(0xFFFFFFFF, tight, 4);
    EXPECT_STREQ(tight, L"255");
}

VersionRowTexts rowsFor(std::uint32_t unit, std::uint32_t bootloader, std::uint16_t esc, std::uint16_t productId) {
    VersionRowTexts rows;
    composeVersionRows(unit, bootloader, esc, productId, &rows);
    return rows;
}

TEST(VersionRowsTest, ShiftsOnlyTheUnitsVersionWhenItsLowByteIsZero) {
    VersionRowTexts rows = rowsFor(0x00010500, 0x00010500, 0x0200, 2);
    EXPECT_STREQ(rows.unitVersion, L"1.5");
    EXPECT_STREQ(rows.bootloaderVersion, L"5.0");
    rows = rowsFor(0x00000105, 0x01020304, 0x0200, 2);
    EXPECT_STREQ(rows.unitVersion, L"1.5");
    EXPECT_STREQ(rows.bootloaderVersion, L"1.3.4");
    rows = rowsFor(0x02000105, 0, 0x0200, 2);
    EXPECT_STREQ(rows.unitVersion, L"2.1.5");
    rows = rowsFor(0x02030400, 0, 0x0200, 2);  // shifted: the top byte is gone
    EXPECT_STREQ(rows.unitVersion, L"3.4");
}

TEST(VersionRowsTest, EscFirmwareAsMajorDotMinorOrHyphens) {
    EXPECT_STREQ(rowsFor(0, 0, 0x0200, 2).escFirmwareVersion, L"2.0");
    EXPECT_STREQ(rowsFor(0, 0, 0x0A03, 2).escFirmwareVersion, L"10.3");
    EXPECT_STREQ(rowsFor(0, 0, 0xFFFF, 2).escFirmwareVersion, L"----------");
    EXPECT_STREQ(rowsFor(0, 0, 0xFFFE, 2).escFirmwareVersion, L"255.254");
    EXPECT_STREQ(rowsFor(0, 0, 0x0000, 2).escFirmwareVersion, L"0.0");
}

TEST(VersionRowsTest, NamesTheUnitByProduct) {
    EXPECT_STREQ(rowsFor(0, 0, 0, 1).unitLabel, L"DIALPUCK");
    EXPECT_STREQ(rowsFor(0, 0, 0, 2).unitLabel, L"VEXO-BOX");
    EXPECT_STREQ(rowsFor(0, 0, 0, 0).unitLabel, L"VEXO-BOX");
    EXPECT_STREQ(rowsFor(0, 0, 0, 0x0101).unitLabel, L"VEXO-BOX");
    EXPECT_STREQ(NO_LINK_VERSION_TEXT, L"0.0.0");
}

}  // namespace

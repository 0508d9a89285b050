// quenlor update, whole, against the simulated unit: every model's flash afterwards, each failing
// step's exit code, sentence and JSON result, the questions and their refusal, interrupts.
#include "tests/native/cli/cli_harness.h"

#include "cli/cli_output.h"
#include "cli/cli_platform.h"
#include "cli/cli_texts.h"
#include "cli/embedded_images.h"
#include "model/model_table.h"
#include "model/stand_in_image.h"
#include "update/update_messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using nlohmann::json;

std::vector<std::uint8_t> imageOf(std::size_t modelIndex) {
    std::vector<std::uint8_t> image(MODEL_ROWS[modelIndex].imageBytes);
    fillStandInImage(MODEL_ROWS[modelIndex].imageResourceId, image.data(), image.size());
    return image;
}

// The flash holds the image at its start and is erased behind it.
void expectFlashHolds(const std::vector<std::uint8_t>& image) {
    const std::vector<std::uint8_t>& flash = simBusUnit(0).flash;
    ASSERT_GE(flash.size(), image.size());
    EXPECT_EQ(std::memcmp(flash.data(), image.data(), image.size()), 0) << "the image was written exactly";
    std::size_t firstNotErased = flash.size();
    for (std::size_t i = image.size(); i < flash.size(); ++i) {
        if (flash[i] != 0xFF) {
            firstNotErased = i;
            break;
        }
    }
    EXPECT_EQ(firstNotErased, flash.size()) << "erased behind the image";
}

std::string expectedPlainProgress(std::uint32_t imageBytes) {
    std::string lines;
    const std::uint32_t blocks = (imageBytes + 47) / 48;
    std::uint32_t shown = 0;
    for (std::uint32_t block = 1; block <= blocks; ++block) {
        const std::uint32_t sent = std::min(imageBytes, block * 48);
        const std::uint32_t position = static_cast<std::uint32_t>(std::uint64_t{sent} * 100 / imageBytes);
        if (position != shown && position % 10 == 0 && position != 0) {
            lines += formatText(PROGRESS_LINE_FORMAT, position, block, blocks);
        }
        shown = position;
    }
    return lines;
}

TEST(CliUpdate, WholeUpdateOfEachModelWritesTheFlashExactly) {
    for (std::size_t model = 0; model < MODEL_ROW_COUNT; ++model) {
        const std::string name = toUtf8(MODEL_ROWS[model].name);
        SCOPED_TRACE(name);
        const std::vector<std::uint8_t> image = imageOf(model);

        plugUnit(escOfModel(model));
        const CliRun text = runCli({"update", "--yes"});
        EXPECT_EQ(text.exitCode, CLI_EXIT_DONE) << text.err;
        EXPECT_EQ(text.out, "Updating the " + name + " on the VEXO-BOX from firmware 1.5 to 2.0.\n" +
                                expectedPlainProgress(MODEL_ROWS[model].imageBytes) + UPDATE_SUCCEEDED);
        EXPECT_EQ(text.err, "");
        expectFlashHolds(image);
        EXPECT_FALSE(simBusUnit(0).systemLock);
        EXPECT_TRUE(simBusUnit(0).writeProtection);
        EXPECT_EQ(simBusCounters().openHandles, 0u);

        plugUnit(escOfModel(model));
        const CliRun asJson = runCli({"update", "--yes", "--json", "--model", std::to_string(model == 0 ? 60 : model == 1 ? 140 : 90)});
        EXPECT_EQ(asJson.exitCode, CLI_EXIT_DONE) << asJson.err;
        const std::vector<json> lines = jsonLines(asJson.out);
        ASSERT_EQ(lines.size(), 102u) << "positions 0 to 100, then the result";
        for (unsigned percent = 0; percent <= 100; ++percent) {
            EXPECT_EQ(lines[percent]["event"], "progress");
            EXPECT_EQ(lines[percent]["percent"], percent);
            EXPECT_EQ(lines[percent]["totalBytes"], MODEL_ROWS[model].imageBytes);
        }
        EXPECT_EQ(lines[100]["bytesSent"], MODEL_ROWS[model].imageBytes);
        EXPECT_EQ(lines[101], (json{{"event", "result"}, {"ok", true}, {"model", name}, {"firmware", "2.0"}}));
        expectFlashHolds(image);
    }
}

TEST(CliUpdate, TerminalShowsOneRedrawnLine) {
    plugUnit(escOfModel(0));
    const CliRun run = runCli({"update", "--yes"}, CliTerminal{false, true, ""});
    EXPECT_EQ(run.exitCode, CLI_EXIT_DONE);
    EXPECT_EQ(run.out.find("Writing firmware"), std::string::npos) << "no 10 % lines on a terminal";
    const std::string last = "\r[##############################] 100 %  2032/2032 blocks  0:00 left \n" + std::string(UPDATE_SUCCEEDED);
    ASSERT_GE(run.out.size(), last.size());
    EXPECT_EQ(run.out.substr(run.out.size() - last.size()), last);
    EXPECT_NE(run.out.find("\r[###############---------------]  50 %  1016/2032 blocks  0:2"), std::string::npos)
        << "half-way with its time left (about 20 s of 20 ms pauses)";
}

// ---- Failing steps

struct FailureCase {
    const char* label;
    SimFault fault;
    unsigned step;
    const char* stepWords;
    std::uint32_t code;
    std::uint32_t systemError;
    bool flashErased;  // the erase went through before the failure
};

TEST(CliUpdate, EachFailingStepGivesItsExitCodeSentenceAndResult) {
    const FailureCase cases[] = {
        {"system lock refused", {SimFaultKind::FailWrite, CMD_SYSTEM_LOCK}, MSG_SYSTEM_LOCK_FAILED, "the programming unit's system lock could not be set", 0xfffffffe, EIO, false},
        {"system lock echoes the wrong state", {SimFaultKind::WrongState, CMD_SYSTEM_LOCK, SIM_ANY_BLOCK, 0, 0},
         MSG_SYSTEM_LOCK_FAILED, "the programming unit's system lock could not be set", 1627, 0, false},
        {"write protection error reply", {SimFaultKind::ErrorReply, CMD_WRITE_PROTECT, SIM_ANY_BLOCK, 0xE0E0},
         MSG_WRITE_PROTECTION_FAILED, "the ESC's flash memory could not be opened for writing", 0xE0E0, 0, false},
        {"erase reply never comes", {SimFaultKind::NeverAnswer, CMD_ERASE_FIRMWARE}, MSG_ERASE_FAILED, "the old firmware could not be deleted", 0xfffffffd,
         ETIMEDOUT, true},
        {"write address refused", {SimFaultKind::ErrorReply, CMD_SET_WRITE_ADDRESS, SIM_ANY_BLOCK, 0xAD0001},
         MSG_WRITE_ADDRESS_FAILED, "the address for the new firmware could not be set", 0xAD0001, 0, true},
        {"block 700 refused", {SimFaultKind::ErrorReply, CMD_WRITE_DATA, 700, 0x0B10C}, MSG_BLOCK_WRITE_FAILED, "a firmware data block could not be written", 0x0B10C, 0,
         true},
        {"unit unplugged at block 1000", {SimFaultKind::Vanish, CMD_WRITE_DATA, 1000}, MSG_BLOCK_WRITE_FAILED, "a firmware data block could not be written", 0xfffffffe,
         ENODEV, true},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.label);
        SimConfig config = escOfModel(0);
        config.fault = c.fault;
        const std::string sentence = formatText(ERROR_UPDATE_FAILED_FORMAT, c.stepWords, c.code, c.systemError);

        plugUnit(config);
        const CliRun text = runCli({"update", "--yes"});
        EXPECT_EQ(text.exitCode, CLI_EXIT_UPDATE_FAILED);
        EXPECT_EQ(text.err, "quenlor: " + sentence + "\n");
        EXPECT_EQ(simBusUnit(0).flash[0] == 0xFF || simBusUnit(0).flash[0] == imageOf(0)[0], c.flashErased);
        EXPECT_EQ(simBusCounters().openHandles, 0u);

        plugUnit(config);
        const CliRun asJson = runCli({"update", "--yes", "--json"});
        EXPECT_EQ(asJson.exitCode, CLI_EXIT_UPDATE_FAILED);
        const std::vector<json> lines = jsonLines(asJson.out);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), (json{{"event", "result"},
                                      {"ok", false},
                                      {"step", hex32(c.step)},
                                      {"code", hex32(c.code)},
                                      {"systemError", hex32(c.systemError)},
                                      {"error", sentence},
                                      {"exitCode", CLI_EXIT_UPDATE_FAILED}}));
        for (std::size_t i = 0; i + 1 < lines.size(); ++i) EXPECT_EQ(lines[i]["event"], "progress");
    }
}

// ---- Nothing to update, questions and their refusal

struct RefusalCase {
    const char* label;
    SimConfig config;
    std::vector<std::string> args;
    CliTerminal terminal;
    int exitCode;
    std::string err;        // the sentence, without "quenlor: "
    std::string questions;  // what was asked on standard error before it
};

SimConfig changed(SimConfig config, void (*change)(SimConfig&)) {
    change(config);
    return config;
}

std::string olderQuestion(const char* held) { return formatText(OLDER_FIRMWARE_QUESTION_FORMAT, held, "2.0"); }

TEST(CliUpdate, RefusesWhatItMustNotUpdateAndWhatWasNotConfirmed) {
    const std::string cannotAskTerminal = formatText(ERROR_CANNOT_ASK, CANNOT_ASK_NO_TERMINAL);
    const RefusalCase cases[] = {
        {"unit in the wrong mode", changed(escOfModel(0), [](SimConfig& c) { c.unitMode = 1; }), {"update", "--yes"}, {},
         CLI_EXIT_NOTHING_TO_UPDATE, ERROR_WRONG_MODE, ""},
        {"no updatable ESC", changed(escOfModel(0), [](SimConfig& c) { c.attachedType = 2; }), {"update", "--yes"}, {},
         CLI_EXIT_NOTHING_TO_UPDATE, ERROR_NO_UPDATABLE_ESC, ""},
        {"unsupported ESC", changed(escOfModel(0), [](SimConfig& c) { c.escHardwareId = 0x0A064001; }), {"update", "--yes"}, {},
         CLI_EXIT_NOTHING_TO_UPDATE,
         "The connected ESC (hardware ID 0x0a064001) is not a ZEPHANT 60 LV, 140 LV or 90 LV: this program cannot update it.", ""},
        {"another model than --model", escOfModel(2), {"update", "--yes", "--model", "ZEPHANT 60 LV"}, {},
         CLI_EXIT_NOTHING_TO_UPDATE,
         "The connected ESC is a ZEPHANT 90 LV, not the ZEPHANT 60 LV asked for with --model: connect that ESC or leave --model out.", ""},
        {"no terminal and no --yes", escOfModel(0), {"update"}, {}, CLI_EXIT_DECLINED, cannotAskTerminal, ""},
        {"--json never asks", escOfModel(0), {"update", "--json"}, {true, true, "y\n"}, CLI_EXIT_DECLINED,
         formatText(ERROR_CANNOT_ASK, CANNOT_ASK_JSON), ""},
        {"warning answered no", escOfModel(0), {"update"}, {true, true, "n\n"}, CLI_EXIT_DECLINED, ERROR_DECLINED,
         WARNING_QUESTION},
        {"warning answered with Enter", escOfModel(0), {"update"}, {true, true, "\n"}, CLI_EXIT_DECLINED, ERROR_DECLINED,
         WARNING_QUESTION},
        {"input ends at the warning", escOfModel(0), {"update"}, {true, false, ""}, CLI_EXIT_DECLINED, ERROR_DECLINED,
         std::string(WARNING_QUESTION) + "\n"},
        {"same version: second question answered no", changed(escOfModel(0), [](SimConfig& c) { c.escFirmwareVersion = 0x0200; }),
         {"update"}, {true, true, "yes\nno\n"}, CLI_EXIT_DECLINED, ERROR_DECLINED,
         std::string(WARNING_QUESTION) + olderQuestion("2.0")},
        {"newer version without a terminal", changed(escOfModel(0), [](SimConfig& c) { c.escFirmwareVersion = 0x0301; }),
         {"update"}, {false, false, "y\ny\n"}, CLI_EXIT_DECLINED, cannotAskTerminal, ""},
    };
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.label);
        plugUnit(c.config);
        const CliRun run = runCli(c.args, c.terminal);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_EQ(run.err, c.questions + "quenlor: " + c.err + "\n");
        EXPECT_EQ(simCountRequests(simBusUnit(0), CMD_SYSTEM_LOCK), 0u) << "nothing was written";
        EXPECT_NE(simBusUnit(0).flash[0], 0xFF) << "the ESC keeps its firmware";
        EXPECT_EQ(simBusCounters().openHandles, 0u);
        const bool asJson = std::find(c.args.begin(), c.args.end(), "--json") != c.args.end();
        if (asJson) {
            const std::vector<nlohmann::json> lines = jsonLines(run.out);
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_EQ(lines[0], (nlohmann::json{{"event", "result"}, {"ok", false}, {"error", c.err}, {"exitCode", c.exitCode}}));
        }
    }
}

// The simulated bus behind a port that is not the simulated one's, as a system's HID library is.
HidPort systemPort() {
    HidPort port = SIM_HID_PORT;
    port.name = "hidapi";
    return port;
}

TEST(CliUpdate, StandInImagesReachOnlyTheSimulatedUnitUnlessAllowed) {
    static const HidPort SYSTEM_PORT = systemPort();
    struct Case {
        const char* label;
        const HidPort* port;
        std::vector<std::string> args;
        bool refused;  // in a build with stand-in images
    };
    const Case cases[] = {
        {"a unit through the system's HID library", &SYSTEM_PORT, {"update", "--yes"}, true},
        {"the same, as JSON", &SYSTEM_PORT, {"update", "--yes", "--json"}, true},
        {"the same with --allow-stand-in", &SYSTEM_PORT, {"update", "--yes", "--allow-stand-in"}, false},
        {"the simulated unit", &SIM_HID_PORT, {"update", "--yes"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        plugUnit(escOfModel(0));
        useHidPort(*c.port);
        const CliRun run = runCli(c.args);
        const bool refused = c.refused && EMBEDDED_IMAGES_ARE_STAND_INS;
        EXPECT_EQ(run.exitCode, refused ? CLI_EXIT_NOTHING_TO_UPDATE : CLI_EXIT_DONE);
        EXPECT_EQ(simBusUnit(0).transcript.empty(), refused) << "a refused unit is sent nothing";
        EXPECT_EQ(simBusDevice(0).opens, refused ? 0u : 1u);
        if (refused) {
            EXPECT_EQ(run.err, std::string("quenlor: ") + ERROR_STAND_IN_IMAGES + "\n");
        }
        if (refused && c.args.back() == "--json") {
            EXPECT_EQ(jsonLines(run.out).at(0), (nlohmann::json{{"event", "result"}, {"ok", false},
                                                                  {"error", ERROR_STAND_IN_IMAGES},
                                                                  {"exitCode", CLI_EXIT_NOTHING_TO_UPDATE}}));
        }
    }
}

struct AnswerCase {
    const char* label;
    std::uint16_t escFirmware;
    std::string input;
    std::string questions;
};

TEST(CliUpdate, AnsweredYesOnATerminalItUpdates) {
    const AnswerCase cases[] = {
        {"older firmware: one question", 0x0105, "y\n", WARNING_QUESTION},
        {"same version: both questions", 0x0200, "Y\nyes\n", std::string(WARNING_QUESTION) + olderQuestion("2.0")},
        {"newer version: both questions", 0x0a01, " y\ny\n", std::string(WARNING_QUESTION) + olderQuestion("10.1")},
        {"no firmware: no second question", 0xFFFF, "y\n", WARNING_QUESTION},
    };
    for (const AnswerCase& c : cases) {
        SCOPED_TRACE(c.label);
        SimConfig config = escOfModel(1);
        config.escFirmwareVersion = c.escFirmware;
        plugUnit(config);
        const CliRun run = runCli({"update"}, CliTerminal{true, false, c.input});
        EXPECT_EQ(run.exitCode, CLI_EXIT_DONE);
        EXPECT_EQ(run.err, c.questions);
        expectFlashHolds(imageOf(1));
    }
}

}  // namespace

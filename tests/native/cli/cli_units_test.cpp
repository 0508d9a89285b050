// Which unit quenlor writes: the one chosen with --path, never a guess among several; the same ESC
// model after a question as before it; and only a unit whose reports carry the whole update.
#include "tests/native/cli/cli_harness.h"

#include "cli/cli_output.h"
#include "cli/cli_texts.h"
#include "device/device_link.h"
#include "model/compatibility.h"
#include "model/model_table.h"
#include "model/stand_in_image.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace {

using nlohmann::json;

std::string pathOf(int device) { return toUtf8(simBusPath(device)); }

bool flashHoldsImageOf(int device, std::size_t modelIndex) {
    std::vector<std::uint8_t> image(MODEL_ROWS[modelIndex].imageBytes);
    fillStandInImage(MODEL_ROWS[modelIndex].imageResourceId, image.data(), image.size());
    const std::vector<std::uint8_t>& flash = simBusUnit(device).flash;
    return flash.size() >= image.size() && std::memcmp(flash.data(), image.data(), image.size()) == 0;
}

std::size_t requestsWithCommand(int device, std::uint8_t command) {
    std::size_t count = 0;
    for (const SimRequest& request : simBusUnit(device).transcript) count += request.bytes[1] == command ? 1 : 0;
    return count;
}

// A DIALPUCK with a 60 LV (device 0) and a VexoBOX with a 140 LV (device 1).
void plugTwoUnits() {
    SimConfig first = escOfModel(0);
    first.productId = PRODUCT_ID_DIALPUCK;
    plugUnit(first);
    simBusAdd(escOfModel(1));
}

TEST(CliUnits, UpdateWithSeveralUnitsNeedsPath) {
    plugTwoUnits();
    const std::string sentence = formatText(ERROR_SEVERAL_UNITS, 2u, (pathOf(0) + ", " + pathOf(1)).c_str());
    const CliRun text = runCli({"update", "--yes"});
    EXPECT_EQ(text.exitCode, CLI_EXIT_USAGE);
    EXPECT_EQ(text.out, "");
    EXPECT_EQ(text.err, "quenlor: " + sentence + "\n");
    EXPECT_NE(sentence.find("--path"), std::string::npos);
    EXPECT_EQ(simBusCounters().openCalls, 0u) << "no unit was opened";

    plugTwoUnits();
    const CliRun asJson = runCli({"update", "--yes", "--json"});
    EXPECT_EQ(asJson.exitCode, CLI_EXIT_USAGE);
    const std::vector<json> lines = jsonLines(asJson.out);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], (json{{"event", "result"}, {"ok", false}, {"error", sentence}, {"exitCode", CLI_EXIT_USAGE}}));
    EXPECT_EQ(simBusCounters().writes, 0u);
}

TEST(CliUnits, PathChoosesTheUnitForUpdateAndInfo) {
    struct Case {
        const char* label;
        int device;
        std::size_t model;
        const char* product;
    };
    const Case cases[] = {{"the first unit", 0, 0, "DIALPUCK"}, {"the second unit", 1, 1, "VEXO-BOX"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        plugTwoUnits();
        const int other = 1 - c.device;
        const CliRun info = runCli({"info", "--json", "--path", pathOf(c.device)});
        EXPECT_EQ(info.exitCode, CLI_EXIT_DONE) << info.err;
        const std::vector<json> lines = jsonLines(info.out);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0]["unit"]["product"], c.product);
        EXPECT_EQ(lines[0]["esc"]["model"], toUtf8(MODEL_ROWS[c.model].name));
        EXPECT_EQ(simBusUnit(other).transcript.size(), 0u) << "the other unit was sent nothing";

        plugTwoUnits();
        const CliRun update = runCli({"update", "--yes", "--path", pathOf(c.device)});
        EXPECT_EQ(update.exitCode, CLI_EXIT_DONE) << update.err;
        EXPECT_TRUE(flashHoldsImageOf(c.device, c.model));
        EXPECT_EQ(simBusUnit(other).transcript.size(), 0u) << "the other unit was sent nothing";
        EXPECT_EQ(simBusDevice(other).opens, 0u) << "the other unit was not even opened";
    }
}

TEST(CliUnits, PathWithoutAUnitThereSaysSo) {
    const std::string absent = "/dev/hidraw-nothing";
    const std::string sentence = formatText(ERROR_NO_UNIT_AT_PATH, absent.c_str());
    struct Case {
        const char* label;
        std::vector<std::string> args;
    };
    const Case cases[] = {{"info", {"info", "--path", absent}}, {"update", {"update", "--yes", "--path", absent}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        plugTwoUnits();
        const CliRun run = runCli(c.args);
        EXPECT_EQ(run.exitCode, CLI_EXIT_NO_UNIT);
        EXPECT_EQ(run.err, "quenlor: " + sentence + "\n");
        EXPECT_EQ(simBusCounters().writes, 0u);
    }
}

// ---- The unit that changed while a question was open

void attachA140Lv() { simBusUnit(0).config.escHardwareId = HARDWARE_ID_FAMILY_A | MODEL_ROWS[1].idByte; }
void detachTheEsc() { simBusUnit(0).config.attachedType = 0; }
void silenceTheUnit() { simBusUnit(0).config.fault = simFault(SimFaultKind::NeverAnswer, CMD_GET_INFO); }
void flashAnotherFirmware() { simBusUnit(0).config.escFirmwareVersion = 0x0107; }

TEST(CliUnits, TheEscIsIdentifiedAgainAfterTheQuestion) {
    struct Case {
        const char* label;
        void (*whileAsked)();
        int exitCode;
        std::string err;
    };
    const Case cases[] = {
        {"another model attached", attachA140Lv, CLI_EXIT_NOTHING_TO_UPDATE,
         formatText(ERROR_ESC_CHANGED, "ZEPHANT 140 LV")},
        {"the ESC taken off", detachTheEsc, CLI_EXIT_NOTHING_TO_UPDATE, formatText(ERROR_ESC_CHANGED, ESC_CHANGED_TO_NONE)},
        {"the unit falls silent", silenceTheUnit, CLI_EXIT_IDENTIFY_FAILED,
         formatText(ERROR_IDENTIFY_FAILED, static_cast<unsigned>(RESULT_READ_FAILED), static_cast<unsigned>(ETIMEDOUT))},
        {"the same model with other firmware", flashAnotherFirmware, CLI_EXIT_DONE, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        plugUnit(escOfModel(0));
        CliTerminal terminal;
        terminal.in = true;
        terminal.input = "y\n";
        terminal.whileAsked = c.whileAsked;
        const CliRun run = runCli({"update"}, terminal);
        EXPECT_EQ(run.exitCode, c.exitCode);
        const std::string expectedErr = c.err.empty() ? std::string() : "quenlor: " + c.err + "\n";
        EXPECT_EQ(run.err, WARNING_QUESTION + expectedErr);
        EXPECT_EQ(requestsWithCommand(0, CMD_GET_INFO), 2u) << "identified once more after the answer";
        if (c.exitCode == CLI_EXIT_DONE) {
            EXPECT_TRUE(flashHoldsImageOf(0, 0));
        } else {
            EXPECT_EQ(requestsWithCommand(0, CMD_SYSTEM_LOCK), 0u) << "nothing was written";
            EXPECT_EQ(simBusUnit(0).flash[0], simFlashPatternByte(0));
        }
        EXPECT_EQ(simBusCounters().openHandles, 0u);
    }
}

TEST(CliUnits, WithYesNothingIsAskedAndNothingSentTwice) {
    plugUnit(escOfModel(0));
    const CliRun run = runCli({"update", "--yes"});
    EXPECT_EQ(run.exitCode, CLI_EXIT_DONE) << run.err;
    EXPECT_EQ(requestsWithCommand(0, CMD_GET_INFO), 1u);
    EXPECT_EQ(requestsWithCommand(0, CMD_READ_ESC_RECORD), 1u);
    EXPECT_EQ(requestsWithCommand(0, CMD_READ_BOOT_RECORD), 1u);
}

// ---- Reports too short for the update

TEST(CliUnits, ReportsTooShortAreRefusedBeforeAnythingIsWritten) {
    struct Case {
        const char* label;
        std::uint16_t inputBytes;
        std::uint16_t outputBytes;
    };
    // Identification reads the whole ESC records, so only the output report can be short here
    // and the unit still identify as a 60 LV.
    const Case cases[] = {{"output one byte short of a block", 60, 51}, {"output of 33 bytes", 60, 33}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        SimConfig config = escOfModel(0);
        config.inputReportLength = c.inputBytes;
        config.outputReportLength = c.outputBytes;
        plugUnit(config);
        const std::string sentence = formatText(ERROR_REPORTS_TOO_SHORT, c.outputBytes, 52u, c.inputBytes, 8u);
        const CliRun run = runCli({"update", "--yes", "--json"});
        EXPECT_EQ(run.exitCode, CLI_EXIT_NOTHING_TO_UPDATE);
        EXPECT_EQ(run.err, "quenlor: " + sentence + "\n");
        const std::vector<json> lines = jsonLines(run.out);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], (json{{"event", "result"},
                                  {"ok", false},
                                  {"error", sentence},
                                  {"exitCode", CLI_EXIT_NOTHING_TO_UPDATE}}));
        EXPECT_EQ(requestsWithCommand(0, CMD_SYSTEM_LOCK), 0u);
        EXPECT_EQ(simBusUnit(0).flash[0], simFlashPatternByte(0));
    }
}

}  // namespace

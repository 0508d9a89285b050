// quenlor's usage, --version, list and info, each case a row: the bus, the arguments, the exact
// output and exit code.
#include "tests/native/cli/cli_harness.h"

#include "cli/cli_texts.h"
#include "cli/cli_output.h"
#include "cli/sha256.h"
#include "device/precise_wait.h"
#include "device/udev_hint.h"
#include "model/model_table.h"
#include "model/stand_in_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using nlohmann::json;

const std::string VEXOBOX_PATH = "\\\\?\\hid#vid_2f1e&pid_0002#sim&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const std::string DIALPUCK_PATH = "\\\\?\\hid#vid_2f1e&pid_0001#sim&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";

// ---- Wrong usage

struct UsageCase {
    const char* label;
    std::vector<std::string> args;
    const char* err;
};

const UsageCase USAGE_CASES[] = {
    {"no command", {}, "quenlor: A command is required: list, info or update. Run `quenlor --help` for the usage.\n"},
    {"unknown command", {"flash"}, "quenlor: The following argument was not expected: flash. Run `quenlor --help` for the usage.\n"},
    {"unknown model for --sim", {"--sim=77", "info"},
     "quenlor: --sim: 77 is not a supported model (60, 140, 90, or its full name). Run `quenlor --help` for the usage.\n"},
    {"unknown --model", {"update", "--model", "ZEPHANT 61 LV"},
     "quenlor: --model: ZEPHANT 61 LV is not a supported model (60, 140, 90, or its full name). Run `quenlor --help` for the usage.\n"},
    {"--model without a value", {"update", "--model"},
     "quenlor: --model: 1 required MODEL missing. Run `quenlor --help` for the usage.\n"},
    {"option of another command", {"list", "--yes"},
     "quenlor: The following argument was not expected: --yes. Run `quenlor --help` for the usage.\n"},
    {"two commands", {"list", "info"},
     "quenlor: The following argument was not expected: info. Run `quenlor --help` for the usage.\n"},
};

TEST(CliUsage, WrongUsageExitsWithTwoAndSaysWhy) {
    for (const UsageCase& c : USAGE_CASES) {
        SCOPED_TRACE(c.label);
        plugUnit(escOfModel(0));
        const CliRun run = runCli(c.args);
        EXPECT_EQ(run.exitCode, CLI_EXIT_USAGE);
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(simBusCounters().openCalls, 0u) << "no device is opened on wrong usage";
    }
}

// A script that asked for JSON gets the refusal as one JSON object as well.
TEST(CliUsage, WrongUsageWithJsonAlsoAnswersInJson) {
    struct Case {
        const char* label;
        std::vector<std::string> args;
        const char* error;
    };
    const Case cases[] = {
        {"unknown --model", {"update", "--json", "--model", "61"},
         "--model: 61 is not a supported model (60, 140, 90, or its full name)."},
        {"option of another command", {"list", "--json", "--yes"}, "The following argument was not expected: --yes."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        plugUnit(escOfModel(0));
        const CliRun run = runCli(c.args);
        EXPECT_EQ(run.exitCode, CLI_EXIT_USAGE);
        ASSERT_FALSE(run.out.empty());
        const json answer = json::parse(run.out);
        EXPECT_EQ(answer, (json{{"error", c.error}, {"exitCode", CLI_EXIT_USAGE}}));
        EXPECT_EQ(simBusCounters().openCalls, 0u);
    }
}

TEST(CliUsage, HelpListsCommandsAndExitCodes) {
    for (const char* arg : {"--help", "-h"}) {
        const CliRun run = runCli({arg});
        EXPECT_EQ(run.exitCode, CLI_EXIT_DONE);
        EXPECT_NE(run.out.find("Subcommands:\n  list"), std::string::npos) << run.out;
        EXPECT_NE(run.out.find(EXIT_CODES_HELP), std::string::npos) << run.out;
        EXPECT_EQ(run.err, "");
    }
    const CliRun update = runCli({"update", "--help"});
    EXPECT_EQ(update.exitCode, CLI_EXIT_DONE);
    EXPECT_NE(update.out.find("--model MODEL"), std::string::npos) << update.out;
    EXPECT_NE(update.out.find("--yes"), std::string::npos) << update.out;
}

// ---- SHA-256 and --version

struct DigestCase {
    const char* label;
    std::string input;
    const char* digest;
};

TEST(CliVersion, Sha256MatchesKnownDigests) {
    const DigestCase cases[] = {
        {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"two blocks", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"55 bytes, one block", std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {"56 bytes, two blocks", std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {"64 bytes", std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
    };
    for (const DigestCase& c : cases) {
        SCOPED_TRACE(c.label);
        char hex[SHA256_HEX_CHARS];
        sha256Hex(reinterpret_cast<const std::uint8_t*>(c.input.data()), c.input.size(), hex);
        EXPECT_STREQ(hex, c.digest);
    }
}

TEST(CliVersion, ShowsVersionStandInsAndEachImage) {
    std::string expected =
        "quenlor 2.0 (firmware image 2.0)\n"
        "Images: STAND-INS generated for development, not the maker's; this program must not be released.\n";
    const char* names[] = {"ZEPHANT 60 LV  ", "ZEPHANT 140 LV ", "ZEPHANT 90 LV  "};
    for (std::size_t i = 0; i < MODEL_ROW_COUNT; ++i) {
        std::vector<std::uint8_t> image(MODEL_ROWS[i].imageBytes);
        fillStandInImage(MODEL_ROWS[i].imageResourceId, image.data(), image.size());
        char hex[SHA256_HEX_CHARS];
        sha256Hex(image.data(), image.size(), hex);
        expected += "  " + std::string(names[i]) + " " + std::to_string(MODEL_ROWS[i].imageBytes) + " bytes  SHA-256 " + hex + "\n";
    }
    const CliRun run = runCli({"--version"});
    EXPECT_EQ(run.exitCode, CLI_EXIT_DONE);
    EXPECT_EQ(run.out, expected);
}

// ---- list

struct ListCase {
    const char* label;
    bool listAvailable;
    std::vector<std::pair<std::uint16_t, HidOpenFailure>> units;  // product, why it cannot be opened
    int exitCode;
    std::string out;
    std::string err;
    json jsonOut;
};

SimConfig unitOfProduct(std::uint16_t productId) {
    SimConfig config = escOfModel(0);
    config.productId = productId;
    return config;
}

void setUpListBus(const ListCase& c) {
    simBusReset();
    simBusSetListAvailable(c.listAvailable);
    for (const auto& unit : c.units) {
        const int device = simBusAdd(unitOfProduct(unit.first), unit.second == HidOpenFailure::None);
        simBusDevice(device).openRefusal = unit.second;
    }
}

std::string pathOf(int device, std::uint16_t productId) {
    return "\\\\?\\hid#vid_2f1e&pid_000" + std::to_string(productId) + "#sim&0&000" + std::to_string(device) +
           "#{4d1e55b2-f16f-11cf-88cb-001111000030}";
}

json unitJson(int device, std::uint16_t productId, const char* problem, int error, const char* fix) {
    json entry = {{"path", pathOf(device, productId)},
                  {"product", productId == 1 ? "DIALPUCK" : "VEXO-BOX"},
                  {"productId", productId},
                  {"openable", problem == nullptr},
                  {"problem", problem == nullptr ? json(nullptr) : json(problem)},
                  {"systemError", problem == nullptr ? json(nullptr) : json(hex32(static_cast<std::uint32_t>(error)))},
                  {"fix", fix == nullptr ? json(nullptr) : json(fix)}};
    return entry;
}

TEST(CliList, ListsEveryUnitWithCauseAndFix) {
    const ListCase cases[] = {
        {"one VexoBOX", true, {{2, HidOpenFailure::None}}, CLI_EXIT_DONE,
         "VEXO-BOX  " + pathOf(0, 2) + "  ready\n", "", json{{"units", {unitJson(0, 2, nullptr, 0, nullptr)}}}},
        {"a DIALPUCK the user may not open, then a VexoBOX", true,
         {{1, HidOpenFailure::AccessDenied}, {2, HidOpenFailure::None}}, CLI_EXIT_DONE,
         "DIALPUCK  " + pathOf(0, 1) + "  permission denied\nVEXO-BOX  " + pathOf(1, 2) + "  ready\n\n" + UDEV_INSTALL_HINT, "",
         json{{"units", {unitJson(0, 1, "permission denied", EACCES, UDEV_INSTALL_HINT), unitJson(1, 2, nullptr, 0, nullptr)}}}},
        {"held by another program", true, {{2, HidOpenFailure::Busy}}, CLI_EXIT_CANNOT_OPEN,
         "VEXO-BOX  " + pathOf(0, 2) + "  in use by another program\n\n" + UNIT_BUSY_HINT,
         "quenlor: " + formatText(ERROR_CANNOT_OPEN_BUSY, pathOf(0, 2).c_str()) + "\n",
         json{{"units", {unitJson(0, 2, "in use by another program", EBUSY, UNIT_BUSY_HINT)}},
              {"error", formatText(ERROR_CANNOT_OPEN_BUSY, pathOf(0, 2).c_str())},
              {"exitCode", CLI_EXIT_CANNOT_OPEN}}},
        {"two units denied: the hint once", true, {{2, HidOpenFailure::AccessDenied}, {1, HidOpenFailure::AccessDenied}},
         CLI_EXIT_CANNOT_OPEN,
         "VEXO-BOX  " + pathOf(0, 2) + "  permission denied\nDIALPUCK  " + pathOf(1, 1) + "  permission denied\n\n" +
             UDEV_INSTALL_HINT,
         "quenlor: " + formatText(ERROR_CANNOT_OPEN_ACCESS, pathOf(0, 2).c_str()) + "\n",
         json{{"units",
               {unitJson(0, 2, "permission denied", EACCES, UDEV_INSTALL_HINT),
                unitJson(1, 1, "permission denied", EACCES, UDEV_INSTALL_HINT)}},
              {"error", formatText(ERROR_CANNOT_OPEN_ACCESS, pathOf(0, 2).c_str())},
              {"exitCode", CLI_EXIT_CANNOT_OPEN}}},
        {"none", true, {}, CLI_EXIT_NO_UNIT, "No programming unit found.\n",
         std::string("quenlor: ") + ERROR_NO_UNIT + "\n",
         json{{"units", json::array()}, {"error", ERROR_NO_UNIT}, {"exitCode", CLI_EXIT_NO_UNIT}}},
        {"no device list", false, {}, CLI_EXIT_NO_UNIT, "",
         "quenlor: The system's list of HID devices could not be read (system error 0): reconnect the programming unit and try again.\n",
         json{{"error", "The system's list of HID devices could not be read (system error 0): reconnect the programming unit and try again."},
              {"exitCode", CLI_EXIT_NO_UNIT}}},
    };
    for (const ListCase& c : cases) {
        SCOPED_TRACE(c.label);
        setUpListBus(c);
        const CliRun text = runCli({"list"});
        EXPECT_EQ(text.exitCode, c.exitCode);
        EXPECT_EQ(text.out, c.out);
        EXPECT_EQ(text.err, c.err);
        EXPECT_EQ(simBusCounters().writes, 0u) << "list sends nothing";

        setUpListBus(c);
        const CliRun asJson = runCli({"list", "--json"});
        EXPECT_EQ(asJson.exitCode, c.exitCode);
        const std::vector<json> lines = jsonLines(asJson.out);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], c.jsonOut) << lines[0].dump(2);
        EXPECT_EQ(asJson.err, c.err);
    }
}

// ---- info

struct InfoCase {
    const char* label;
    SimConfig config;
    std::string text;
    json jsonOut;
};

SimConfig withChange(SimConfig config, void (*change)(SimConfig&)) {
    change(config);
    return config;
}

json escJson(const char* hardwareId, const char* bootloader, const char* firmware, const char* model) {
    auto orNull = [](const char* value) { return value == nullptr ? json(nullptr) : json(value); };
    return {{"hardwareId", orNull(hardwareId)}, {"bootloader", orNull(bootloader)}, {"firmware", orNull(firmware)},
            {"model", orNull(model)}};
}

TEST(CliInfo, ShowsVersionsModelAndVerdict) {
    const InfoCase cases[] = {
        {"ZEPHANT 60 LV, ready", escOfModel(0),
         "Programming unit:  VEXO-BOX, firmware 1.5\nESC bootloader:    2.3\nESC firmware:      1.5\n"
         "ESC hardware ID:   0x111f403c\nESC model:         ZEPHANT 60 LV\nVerdict:           ready to update\n",
         {{"unit", {{"product", "VEXO-BOX"}, {"firmware", "1.5"}}},
          {"esc", escJson("0x111f403c", "2.3", "1.5", "ZEPHANT 60 LV")},
          {"verdict", "ready"}}},
        {"ZEPHANT 140 LV of the second family, no firmware, on a DIALPUCK",
         withChange(escOfModel(1),
                    [](SimConfig& c) {
                        c.escHardwareId = 0x0A06408C;
                        c.escFirmwareVersion = 0xFFFF;
                        c.productId = 1;
                        c.unitFirmwareVersion = 0x01020304;
                    }),
         "Programming unit:  DIALPUCK, firmware 1.3.4\nESC bootloader:    2.3\nESC firmware:      ----------\n"
         "ESC hardware ID:   0x0a06408c\nESC model:         ZEPHANT 140 LV\nVerdict:           ready to update\n",
         {{"unit", {{"product", "DIALPUCK"}, {"firmware", "1.3.4"}}},
          {"esc", escJson("0x0a06408c", "2.3", "----------", "ZEPHANT 140 LV")},
          {"verdict", "ready"}}},
        {"ZEPHANT 90 LV", escOfModel(2),
         "Programming unit:  VEXO-BOX, firmware 1.5\nESC bootloader:    2.3\nESC firmware:      1.5\n"
         "ESC hardware ID:   0x111f405a\nESC model:         ZEPHANT 90 LV\nVerdict:           ready to update\n",
         {{"unit", {{"product", "VEXO-BOX"}, {"firmware", "1.5"}}},
          {"esc", escJson("0x111f405a", "2.3", "1.5", "ZEPHANT 90 LV")},
          {"verdict", "ready"}}},
        {"an ESC of no supported model", withChange(escOfModel(0), [](SimConfig& c) { c.escHardwareId = 0x111F4077; }),
         "Programming unit:  VEXO-BOX, firmware 1.5\nESC bootloader:    2.3\nESC firmware:      1.5\n"
         "ESC hardware ID:   0x111f4077\nESC model:         none supported\nVerdict:           the ESC is of no supported model\n",
         {{"unit", {{"product", "VEXO-BOX"}, {"firmware", "1.5"}}},
          {"esc", escJson("0x111f4077", "2.3", "1.5", nullptr)},
          {"verdict", "unsupported-esc"}}},
        {"no updatable ESC", withChange(escOfModel(0), [](SimConfig& c) { c.attachedType = 0; }),
         "Programming unit:  VEXO-BOX, firmware 1.5\nVerdict:           no updatable ESC is connected\n",
         {{"unit", {{"product", "VEXO-BOX"}, {"firmware", "1.5"}}},
          {"esc", escJson(nullptr, nullptr, nullptr, nullptr)},
          {"verdict", "no-updatable-esc"}}},
        {"unit in the wrong mode", withChange(escOfModel(0), [](SimConfig& c) { c.unitMode = 1; }),
         "Programming unit:  VEXO-BOX, firmware 1.5\nVerdict:           the programming unit is in the wrong mode\n",
         {{"unit", {{"product", "VEXO-BOX"}, {"firmware", "1.5"}}},
          {"esc", escJson(nullptr, nullptr, nullptr, nullptr)},
          {"verdict", "wrong-mode"}}},
    };
    for (const InfoCase& c : cases) {
        SCOPED_TRACE(c.label);
        plugUnit(c.config);
        const CliRun text = runCli({"info"});
        EXPECT_EQ(text.exitCode, CLI_EXIT_DONE);
        EXPECT_EQ(text.out, c.text);
        EXPECT_EQ(text.err, "");
        EXPECT_EQ(simBusUnit(0).transcript.size(), c.config.unitMode != 0 ? 2u : c.config.attachedType == 3 ? 3u : 1u)
            << "info sends identification only";
        EXPECT_EQ(simBusCounters().openHandles, 0u);

        plugUnit(c.config);
        const CliRun asJson = runCli({"info", "--json"});
        EXPECT_EQ(asJson.exitCode, CLI_EXIT_DONE);
        const std::vector<json> lines = jsonLines(asJson.out);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], c.jsonOut) << lines[0].dump(2);
    }
}

struct InfoFailureCase {
    const char* label;
    void (*setUp)();
    int exitCode;
    std::string err;
};

TEST(CliInfo, FailuresGiveCauseFixAndExitCode) {
    const InfoFailureCase cases[] = {
        {"no unit", [] { simBusReset(); }, CLI_EXIT_NO_UNIT, std::string(ERROR_NO_UNIT)},
        {"permission denied",
         [] {
             plugUnit(escOfModel(0), false);
             simBusDevice(0).openRefusal = HidOpenFailure::AccessDenied;
         },
         CLI_EXIT_CANNOT_OPEN,
         "The programming unit " + VEXOBOX_PATH +
             " was found but may not be opened (permission denied): install the udev rule as `quenlor list` shows, then "
             "unplug the unit and plug it in again."},
        {"held by another program", [] { plugUnit(escOfModel(0), false); }, CLI_EXIT_CANNOT_OPEN,
         "The programming unit " + VEXOBOX_PATH + " was found but another program holds it: close that program and try again."},
        {"the unit's identification reply is lost",
         [] {
             SimConfig config = escOfModel(0);
             config.fault = {SimFaultKind::FailRead, CMD_GET_INFO};
             plugUnit(config);
         },
         CLI_EXIT_IDENTIFY_FAILED,
         "The programming unit did not answer its identification (result 0xfffffffd, system error 0x00000005): reconnect "
         "the unit and the ESC's battery and try again."},
        {"the ESC record is refused",
         [] {
             SimConfig config = escOfModel(0);
             config.fault = {SimFaultKind::ErrorReply, CMD_READ_BOOT_RECORD, SIM_ANY_BLOCK, 0x1234};
             plugUnit(config);
         },
         CLI_EXIT_IDENTIFY_FAILED,
         "The programming unit did not answer its identification (result 0x00001234, system error 0x00000000): reconnect "
         "the unit and the ESC's battery and try again."},
        {"the unit never answers",
         [] {
             SimConfig config = escOfModel(0);
             config.fault = {SimFaultKind::NeverAnswer, CMD_GET_INFO};
             plugUnit(config);
         },
         CLI_EXIT_IDENTIFY_FAILED,
         "The programming unit did not answer its identification (result 0xfffffffd, system error 0x0000006e): reconnect "
         "the unit and the ESC's battery and try again."},
        {"reports longer than the unit's can be",
         [] {
             SimConfig config = escOfModel(0);
             config.inputReportLength = 65;
             plugUnit(config);
         },
         CLI_EXIT_NOTHING_TO_UPDATE,
         "The programming unit's reports are longer than the update can use (output 60 bytes, input 65 bytes; the update "
         "needs 52 to 60 bytes out and 8 to 60 bytes in): nothing was sent to it, and this unit cannot update the ESC."},
        {"reports without IDs",
         [] { simBusDevice(plugUnit(escOfModel(0))).reportLayout = ReportLayout::WithoutReportIds; },
         CLI_EXIT_NOTHING_TO_UPDATE,
         "The programming unit numbers none of its reports, but the update sends its requests as report 1 and reads the "
         "replies from report 2: nothing was sent to it, and this unit cannot update the ESC."},
        {"no collection of the unit's",
         [] { simBusDevice(plugUnit(escOfModel(0))).reportLayout = ReportLayout::NoUnitCollection; },
         CLI_EXIT_NOTHING_TO_UPDATE,
         "The programming unit has no vendor collection (usage page 0xFF00) with report 1 or 2, which carry the update: "
         "nothing was sent to it, and this unit cannot update the ESC."},
        {"a malformed report descriptor",
         [] { simBusDevice(plugUnit(escOfModel(0))).reportLayout = ReportLayout::Unreadable; },
         CLI_EXIT_IDENTIFY_FAILED,
         "The programming unit's report descriptor could not be read or is malformed (system error 0x00000000): nothing "
         "was sent to it; unplug the unit, plug it in again and try again."},
        {"the unit is unplugged during identification",
         [] {
             SimConfig config = escOfModel(0);
             config.fault = {SimFaultKind::Vanish, CMD_READ_ESC_RECORD};
             plugUnit(config);
         },
         CLI_EXIT_IDENTIFY_FAILED,
         "The programming unit did not answer its identification (result 0xfffffffe, system error 0x00000013): reconnect "
         "the unit and the ESC's battery and try again."},
    };
    for (const InfoFailureCase& c : cases) {
        SCOPED_TRACE(c.label);
        c.setUp();
        const CliRun text = runCli({"info"});
        EXPECT_EQ(text.exitCode, c.exitCode);
        EXPECT_EQ(text.out, "");
        EXPECT_EQ(text.err, "quenlor: " + c.err + "\n");
        EXPECT_EQ(simBusCounters().openHandles, 0u);

        c.setUp();
        const CliRun asJson = runCli({"info", "--json"});
        EXPECT_EQ(asJson.exitCode, c.exitCode);
        const std::vector<json> lines = jsonLines(asJson.out);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], (json{{"error", c.err}, {"exitCode", c.exitCode}}));
    }
}

TEST(CliSim, BuiltInUnitServesEachModel) {
    const char* models[][2] = {{"--sim", "ZEPHANT 60 LV"}, {"--sim=60", "ZEPHANT 60 LV"}, {"--sim=140", "ZEPHANT 140 LV"},
                               {"--sim=90", "ZEPHANT 90 LV"}, {"--sim=zephant_90_lv", "ZEPHANT 90 LV"}};
    for (const auto& model : models) {
        SCOPED_TRACE(model[0]);
        const CliRun run = runCli({model[0], "info", "--json"});
        EXPECT_EQ(run.exitCode, CLI_EXIT_DONE);
        const std::vector<json> lines = jsonLines(run.out);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0]["esc"]["model"], model[1]);
        EXPECT_EQ(lines[0]["esc"]["firmware"], "1.5");
    }
    simBusUseRealTime(false);
}

TEST(CliSim, RealTimeBusReallyWaits) {
    simBusReset();
    simBusUseRealTime(true);
    const std::uint64_t before = monotonicNowUs();
    simBusAdvanceMs(30);
    const std::uint64_t after = monotonicNowUs();
    EXPECT_GE(after - before, 30000u);
    EXPECT_GE(simBusClockUs(), after - 1) << "the bus's clock is the monotonic clock";
    simBusUseRealTime(false);
}

}  // namespace

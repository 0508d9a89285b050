// Programming units coming and going, as the user sees it: what each program decides at start-up
// and on every arrival and removal, which unit it opens, what it leaves alone, and the versions it
// shows.
#include "tests/wine/scenarios/scenario.h"

#include <dbt.h>

#include <cstdio>
#include <cwctype>

namespace {

const std::uint8_t CMD_GET_INFO = 0x08;
const std::uint8_t CMD_READ_UNIT_MEMORY = 0x0A;
const std::uint8_t CMD_READ_ESC_RECORD = 0x1D;
const std::uint8_t CMD_READ_BOOT_RECORD = 0x22;

// Plugs the device before the program starts.
int plugged(const RigDevice& device) {
    int number = rigPlug(device);
    EXPECT_GE(number, 0) << "the simulator refused the device";
    return number;
}

class Presence : public RigScenario {
protected:
    void SetUp() override {
        RigScenario::SetUp();
        REQUIRE_ENGLISH_LOCALE();
    }

    // Answers the incompatibility box, checking it names the build's model.
    void expectIncompatibleBox(const RigBuild& build) {
        RigMessageBox box;
        ASSERT_TRUE(rigWaitMessageBox(program, box, 5000));
        EXPECT_TRUE(sameText(expectedText(40033), box.caption));
        std::wstring prefix = expectedIncompatibleText(build, RigLanguage::English);
        EXPECT_TRUE(sameText(prefix, box.text.substr(0, prefix.size())));
        EXPECT_EQ(std::vector<int>{IDOK}, box.buttons) << "a single OK button";
        // The box comes first: the status area does not yet name the cause.
        std::wstring status;
        rigStatusText(program, status, 200);  // the thread sits in the box's loop and may answer
        EXPECT_EQ(std::wstring::npos, status.find(expectedText(40035)));
        ASSERT_TRUE(rigAnswerMessageBox(box, IDOK));
    }
};

std::wstring upperCase(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

// ---- Start-up ----

struct IdCase {
    std::size_t build;
    std::uint32_t hardwareId;
    bool accepted;
};

std::vector<IdCase> idCases() {
    std::vector<IdCase> cases;
    for (std::size_t mine = 0; mine < RIG_BUILD_COUNT; ++mine) {
        for (std::size_t owner = 0; owner < RIG_BUILD_COUNT; ++owner) {
            cases.push_back({mine, rigAcceptedIdA(RIG_BUILDS[owner]), mine == owner});
            cases.push_back({mine, rigAcceptedIdB(RIG_BUILDS[owner]), mine == owner});
        }
        // The build's low byte under foreign upper bits, and the upper bits with a low byte of none.
        cases.push_back({mine, 0x22224000u | RIG_BUILDS[mine].modelIdByte, false});
        cases.push_back({mine, 0x111F4100u | RIG_BUILDS[mine].modelIdByte, false});
        cases.push_back({mine, 0x111F4000u, false});
    }
    return cases;
}

class HardwareIds : public Presence, public ::testing::WithParamInterface<IdCase> {};

TEST_P(HardwareIds, AreAcceptedOnlyByTheirOwnBuild) {
    const IdCase& c = GetParam();
    const RigBuild& build = RIG_BUILDS[c.build];
    RigDevice device = rigCompatibleUnit(build);
    device.config.escHardwareId = c.hardwareId;
    int unit = plugged(device);
    START_PROGRAM(program, build);
    if (c.accepted) {
        expectReady(program, L"VEXO-BOX", DEFAULT_UNIT_VERSION, DEFAULT_BOOTLOADER_VERSION, DEFAULT_ESC_VERSION);
        return;
    }
    expectIncompatibleBox(build);
    ASSERT_TRUE(rigWaitStatus(program, expectedWithSteps(40035), 5000));
    expectWaiting(program, 40035);
    const std::size_t sent = rigTranscriptSize(unit);
    rigSleep(300);
    EXPECT_EQ(sent, rigTranscriptSize(unit)) << "the refused unit is left alone";
}

std::string idCaseName(const ::testing::TestParamInfo<IdCase>& info) {
    char name[64];
    std::snprintf(name, sizeof name, "Build%u_Id%08X", unsigned{RIG_BUILDS[info.param.build].modelIdByte},
                  info.param.hardwareId);
    return name;
}

INSTANTIATE_TEST_SUITE_P(EachBuild, HardwareIds, ::testing::ValuesIn(idCases()), idCaseName);

TEST_F(Presence, ADialpuckShowsItsName) {
    RigDevice device = rigCompatibleUnit(rigBuild60());
    device.config.productId = RIG_PRODUCT_DIALPUCK;
    plugged(device);
    START_PROGRAM(program, rigBuild60());
    expectReady(program, L"DIALPUCK", DEFAULT_UNIT_VERSION, DEFAULT_BOOTLOADER_VERSION, DEFAULT_ESC_VERSION);
}

TEST_F(Presence, AUnitInItsBootloaderIsInTheWrongModeWhateverIsAttached) {
    const std::uint16_t attached[] = {3, 0, 2};
    for (std::uint16_t type : attached) {
        SCOPED_TRACE(::testing::Message() << "attached type " << type);
        rigEndScenario();
        ASSERT_TRUE(rigStartScenario());
        RigDevice device = rigCompatibleUnit(rigBuild60());
        device.config.unitMode = 1;
        device.config.attachedType = type;
        int unit = plugged(device);
        START_PROGRAM(program, rigBuild60());
        expectWaiting(program, 40015);
        EXPECT_EQ(0u, rigRequestCount(unit, CMD_READ_ESC_RECORD)) << "no ESC command in the unit's bootloader";
        EXPECT_EQ(1u, rigRequestCount(unit, CMD_READ_UNIT_MEMORY));
    }
}

TEST_F(Presence, NoUpdatableEscEvenWithAMatchingHardwareId) {
    const std::uint16_t attached[] = {0, 1, 2, 4};
    for (std::uint16_t type : attached) {
        SCOPED_TRACE(::testing::Message() << "attached type " << type);
        rigEndScenario();
        ASSERT_TRUE(rigStartScenario());
        RigDevice device = rigCompatibleUnit(rigBuild90());
        device.config.attachedType = type;
        plugged(device);
        START_PROGRAM(program, rigBuild90());
        expectWaiting(program, 40016);
    }
}

struct IdentificationFailure {
    const char* name;
    SimFaultKind kind;
    std::uint8_t command;
    std::uint32_t errorCode;
};

// Identification fails on an unreadable reply, a refused request, or an error code from the ESC
// records (only their low 16 bits count).
const IdentificationFailure IDENTIFICATION_FAILURES[] = {
    {"InfoReplyLost", SimFaultKind::FailRead, CMD_GET_INFO, 0},
    {"InfoRequestRefused", SimFaultKind::FailWrite, CMD_GET_INFO, 0},
    {"FirmwareRecordError", SimFaultKind::ErrorReply, CMD_READ_ESC_RECORD, 0x0000E1AA},
    {"BootRecordError", SimFaultKind::ErrorReply, CMD_READ_BOOT_RECORD, 0xFFFF0001},
    {"BootRecordReplyLost", SimFaultKind::FailRead, CMD_READ_BOOT_RECORD, 0},
};

class FailedIdentification : public Presence, public ::testing::WithParamInterface<IdentificationFailure> {};

TEST_P(FailedIdentification, AtStartUpReadsAsNoUnit) {
    RigDevice device = rigCompatibleUnit(rigBuild60());
    device.config.fault.kind = GetParam().kind;
    device.config.fault.command = GetParam().command;
    device.config.fault.errorCode = GetParam().errorCode;
    int unit = plugged(device);
    START_PROGRAM(program, rigBuild60());
    expectWaiting(program, 40017);
    EXPECT_TRUE(rigUnitSnapshot(unit).faultFired);
    const std::size_t sent = rigTranscriptSize(unit);
    rigSleep(300);
    EXPECT_EQ(sent, rigTranscriptSize(unit)) << "nothing more is sent";
}

std::string failureName(const ::testing::TestParamInfo<IdentificationFailure>& param) { return param.param.name; }

INSTANTIATE_TEST_SUITE_P(Each, FailedIdentification, ::testing::ValuesIn(IDENTIFICATION_FAILURES), failureName);

TEST_F(Presence, NoUnitReadsAsNoUnit) {
    plugged(rigForeignDevice());
    START_PROGRAM(program, rigBuild140());
    expectWaiting(program, 40017);
}

TEST_F(Presence, AnotherMakersDeviceListedFirstIsPassedOver) {
    plugged(rigForeignDevice());
    RigDevice wrongProduct = rigCompatibleUnit(rigBuild60());
    wrongProduct.config.productId = 3;
    int skipped = plugged(wrongProduct);
    plugged(rigCompatibleUnit(rigBuild60()));
    START_PROGRAM(program, rigBuild60());
    expectReady(program, L"VEXO-BOX", DEFAULT_UNIT_VERSION, DEFAULT_BOOTLOADER_VERSION, DEFAULT_ESC_VERSION);
    EXPECT_EQ(0u, rigTranscriptSize(skipped)) << "product 3 is not a programming unit";
}

TEST_F(Presence, OfTwoUnitsTheFirstEnumeratedIsUsedAndTheOtherNeverOpened) {
    RigDevice first = rigCompatibleUnit(rigBuild60());
    first.config.productId = RIG_PRODUCT_DIALPUCK;
    first.config.escFirmwareVersion = 0x0A03;
    int firstUnit = plugged(first);
    int secondUnit = plugged(rigCompatibleUnit(rigBuild60()));
    START_PROGRAM(program, rigBuild60());
    expectReady(program, L"DIALPUCK", DEFAULT_UNIT_VERSION, DEFAULT_BOOTLOADER_VERSION, L"10.3");
    EXPECT_EQ(3u, rigTranscriptSize(firstUnit)) << "identification sends three requests";
    EXPECT_EQ(0u, rigTranscriptSize(secondUnit));
}

// ---- Arrivals ----

TEST_F(Presence, ACompatibleUnitArrivingMakesTheProgramReady) {
    START_PROGRAM(program, rigBuild140());
    expectWaiting(program, 40017);
    int unit = -1;
    ASSERT_EQ(RigDelivery::Handled, rigPlugIn(program, rigCompatibleUnit(rigBuild140()), &unit));
    expectReady(program, L"VEXO-BOX", DEFAULT_UNIT_VERSION, DEFAULT_BOOTLOADER_VERSION, DEFAULT_ESC_VERSION);
}

TEST_F(Presence, AUnitArrivingInItsBootloaderIsInTheWrongMode) {
    START_PROGRAM(program, rigBuild60());
    RigDevice device = rigCompatibleUnit(rigBuild60());
    device.config.unitMode = 2;
    ASSERT_EQ(RigDelivery::Handled, rigPlugIn(program, device, nullptr));
    expectWaiting(program, 40015);
}

TEST_F(Presence, AnArrivingUnitWithoutUpdatableEscIsRefused) {
    START_PROGRAM(program, rigBuild60());
    RigDevice device = rigCompatibleUnit(rigBuild60());
    device.config.attachedType = 1;
    ASSERT_EQ(RigDelivery::Handled, rigPlugIn(program, device, nullptr));
    expectWaiting(program, 40016);
}

TEST_F(Presence, AnArrivingEscOfAnotherModelGetsTheBoxThenTheCause) {
    for (std::size_t mine = 0; mine < RIG_BUILD_COUNT; ++mine) {
        const RigBuild& build = RIG_BUILDS[mine];
        const RigBuild& other = RIG_BUILDS[(mine + 1) % RIG_BUILD_COUNT];
        SCOPED_TRACE(rigUtf8(build.modelName));
        rigEndScenario();
        ASSERT_TRUE(rigStartScenario());
        START_PROGRAM(program, build);
        RigDevice device = rigCompatibleUnit(build);
        device.config.escHardwareId = rigAcceptedIdB(other);
        ASSERT_EQ(RigDelivery::BoxOpen, rigPlugIn(program, device, nullptr));
        EXPECT_FALSE(rigIsControlEnabled(program, RIG_ID_UPDATE));
        expectIncompatibleBox(build);
        ASSERT_TRUE(rigWaitDelivered());
        expectWaiting(program, 40035);
    }
}

// The incompatibility box runs its own message loop, in which notifications are handled: a unit
// that arrives meanwhile is evaluated at once, and what that evaluation shows stands when the box
// is answered. (Writing 40035 over it would leave an enabled Update button under a text that says
// the ESC cannot be updated.)
TEST_F(Presence, AUnitArrivingWhileTheIncompatibilityBoxIsOpenIsTakenUp) {
    RigDevice foreign = rigCompatibleUnit(rigBuild60());
    foreign.config.escHardwareId = rigAcceptedIdA(rigBuild140());
    int refused = plugged(foreign);
    START_PROGRAM(program, rigBuild60());
    RigMessageBox box;
    ASSERT_TRUE(rigWaitMessageBox(program, box, 5000));
    rigUnplug(refused);
    RigDevice compatible = rigCompatibleUnit(rigBuild60());
    compatible.config.productId = RIG_PRODUCT_DIALPUCK;
    int unit = -1;
    ASSERT_EQ(RigDelivery::Handled, rigPlugIn(program, compatible, &unit));
    EXPECT_EQ(3u, rigTranscriptSize(unit)) << "the arrival was evaluated while the box was open";
    ASSERT_TRUE(rigAnswerMessageBox(box, IDOK));
    ASSERT_TRUE(rigWaitIdle(program));
    expectReady(program, L"DIALPUCK", DEFAULT_UNIT_VERSION, DEFAULT_BOOTLOADER_VERSION, DEFAULT_ESC_VERSION);
}

TEST_F(Presence, RemovingTheRefusedUnitWhileItsBoxIsOpenIsIgnored) {
    RigDevice foreign = rigCompatibleUnit(rigBuild90());
    foreign.config.escHardwareId = rigAcceptedIdB(rigBuild60());
    int refused = plugged(foreign);
    START_PROGRAM(program, rigBuild90());
    RigMessageBox box;
    ASSERT_TRUE(rigWaitMessageBox(program, box, 5000));
    ASSERT_EQ(RigDelivery::Handled, rigPullOut(program, refused));
    ASSERT_TRUE(rigAnswerMessageBox(box, IDOK));
    ASSERT_TRUE(rigWaitStatus(program, expectedWithSteps(40035), 5000));
    expectWaiting(program, 40035);
}

TEST_F(Presence, AFailedIdentificationOnArrivalChangesNothingAndClosesTheLink) {
    START_PROGRAM(program, rigBuild60());
    const std::wstring before = rigStatusText(program);
    RigDevice device = rigCompatibleUnit(rigBuild60());
    device.config.fault.kind = SimFaultKind::ErrorReply;
    device.config.fault.command = CMD_READ_BOOT_RECORD;
    device.config.fault.errorCode = 0x0000E1AA;
    int unit = -1;
    ASSERT_EQ(RigDelivery::Handled, rigPlugIn(program, device, &unit));
    EXPECT_TRUE(sameText(before, rigStatusText(program)));
    expectWaiting(program, 40017);
    EXPECT_EQ(3u, rigTranscriptSize(unit));
    rigSleep(500);
    EXPECT_EQ(3u, rigTranscriptSize(unit)) << "nothing more is sent to a unit that failed identification";

    // The link was closed: the next arrival is evaluated again and finds the unit answering now.
    ASSERT_EQ(RigDelivery::Handled, rigNotifyInterface(program, DBT_DEVICEARRIVAL, rigDevicePath(unit)));
    expectReady(program, L"VEXO-BOX", DEFAULT_UNIT_VERSION, DEFAULT_BOOTLOADER_VERSION, DEFAULT_ESC_VERSION);
    EXPECT_EQ(2u, rigRequestCount(unit, CMD_GET_INFO));
}

TEST_F(Presence, AForeignDeviceArrivingWhileWaitingChangesNothing) {
    START_PROGRAM(program, rigBuild60());
    const std::wstring before = rigStatusText(program);
    int mouse = -1;
    ASSERT_EQ(RigDelivery::Handled, rigPlugIn(program, rigForeignDevice(), &mouse));
    EXPECT_TRUE(sameText(before, rigStatusText(program)));
    expectWaiting(program, 40017);
}

TEST_F(Presence, AStatusAfterARefusalStaysWhenAForeignDeviceArrives) {
    RigDevice device = rigCompatibleUnit(rigBuild60());
    device.config.attachedType = 0;
    int refused = plugged(device);
    START_PROGRAM(program, rigBuild60());
    expectWaiting(program, 40016);
    rigUnplug(refused);  // the refused unit goes before the mouse comes
    ASSERT_EQ(RigDelivery::Handled, rigPlugIn(program, rigForeignDevice(), nullptr));
    expectWaiting(program, 40016);
}

TEST_F(Presence, ASecondUnitArrivingWhileALinkIsOpenIsIgnored) {
    int first = plugged(rigCompatibleUnit(rigBuild60()));
    START_PROGRAM(program, rigBuild60());
    const std::size_t sent = rigTranscriptSize(first);
    RigDevice second = rigCompatibleUnit(rigBuild60());
    second.config.productId = RIG_PRODUCT_DIALPUCK;
    int secondUnit = -1;
    ASSERT_EQ(RigDelivery::Handled, rigPlugIn(program, second, &secondUnit));
    expectReady(program, L"VEXO-BOX", DEFAULT_UNIT_VERSION, DEFAULT_BOOTLOADER_VERSION, DEFAULT_ESC_VERSION);
    EXPECT_EQ(0u, rigTranscriptSize(secondUnit));
    EXPECT_EQ(sent, rigTranscriptSize(first));
}

// ---- Removals ----

TEST_F(Presence, RemovingTheOpenUnitLosesTheConnection) {
    int unit = plugged(rigCompatibleUnit(rigBuild90()));
    START_PROGRAM(program, rigBuild90());
    ASSERT_TRUE(rigIsControlEnabled(program, RIG_ID_UPDATE));
    ASSERT_EQ(RigDelivery::Handled, rigPullOut(program, unit));
    expectWaiting(program, 40020);
    EXPECT_TRUE(sameText(L"VEXO-BOX", rigControlText(program, RIG_ID_LABEL_UNIT))) << "the label keeps the unit's name";
}

TEST_F(Presence, ARemovalWhosePathDiffersOnlyInCaseIsTheOpenUnits) {
    int unit = plugged(rigCompatibleUnit(rigBuild60()));
    START_PROGRAM(program, rigBuild60());
    const std::wstring upper = upperCase(rigDevicePath(unit));
    ASSERT_NE(upper, rigDevicePath(unit));
    ASSERT_EQ(RigDelivery::Handled, rigPullOut(program, unit, upper));
    expectWaiting(program, 40020);
}

TEST_F(Presence, RemovingAnotherDeviceIsIgnored) {
    int mouse = plugged(rigForeignDevice());
    int unit = plugged(rigCompatibleUnit(rigBuild60()));
    START_PROGRAM(program, rigBuild60());
    const std::size_t sent = rigTranscriptSize(unit);
    ASSERT_EQ(RigDelivery::Handled, rigPullOut(program, mouse));
    expectReady(program, L"VEXO-BOX", DEFAULT_UNIT_VERSION, DEFAULT_BOOTLOADER_VERSION, DEFAULT_ESC_VERSION);
    EXPECT_EQ(sent, rigTranscriptSize(unit));
}

TEST_F(Presence, RemovingAUnitThatIsNotOpenIsIgnored) {
    int open = plugged(rigCompatibleUnit(rigBuild60()));
    int other = plugged(rigCompatibleUnit(rigBuild60()));
    START_PROGRAM(program, rigBuild60());
    ASSERT_EQ(RigDelivery::Handled, rigPullOut(program, other));
    expectReady(program, L"VEXO-BOX", DEFAULT_UNIT_VERSION, DEFAULT_BOOTLOADER_VERSION, DEFAULT_ESC_VERSION);
    EXPECT_EQ(3u, rigTranscriptSize(open));
    EXPECT_EQ(0u, rigTranscriptSize(other));
}

TEST_F(Presence, ARemovalWhileWaitingIsIgnored) {
    RigDevice device = rigCompatibleUnit(rigBuild60());
    device.config.unitMode = 1;
    int unit = plugged(device);
    START_PROGRAM(program, rigBuild60());
    expectWaiting(program, 40015);
    ASSERT_EQ(RigDelivery::Handled, rigPullOut(program, unit));
    expectWaiting(program, 40015);
}

TEST_F(Presence, UnpluggedAndPluggedBackIsReadyAgain) {
    int unit = plugged(rigCompatibleUnit(rigBuild60()));
    START_PROGRAM(program, rigBuild60());
    ASSERT_EQ(RigDelivery::Handled, rigPullOut(program, unit));
    expectWaiting(program, 40020);
    RigDevice again = rigCompatibleUnit(rigBuild60());
    again.config.escFirmwareVersion = 0x0200;
    ASSERT_EQ(RigDelivery::Handled, rigPlugIn(program, again, &unit));
    expectReady(program, L"VEXO-BOX", DEFAULT_UNIT_VERSION, DEFAULT_BOOTLOADER_VERSION, L"2.0");
}

// ---- Other device types ----

TEST_F(Presence, NotificationsOfOtherDeviceTypesAreIgnored) {
    START_PROGRAM(program, rigBuild60());
    // A unit already in the units file but not yet announced: a volume or port notification must
    // not make the program look for it.
    int unit = plugged(rigCompatibleUnit(rigBuild60()));
    const WPARAM events[] = {DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE};
    for (WPARAM event : events) {
        ASSERT_EQ(RigDelivery::Handled, rigNotifyVolume(program, event, 1u << 4));
        ASSERT_EQ(RigDelivery::Handled, rigNotifyPort(program, event, L"COM7"));
    }
    expectWaiting(program, 40017);
    EXPECT_EQ(0u, rigTranscriptSize(unit));
    // Other events of the interface class are ignored too.
    ASSERT_EQ(RigDelivery::Handled, rigNotifyInterface(program, DBT_DEVICEQUERYREMOVE, rigDevicePath(unit)));
    ASSERT_EQ(RigDelivery::Handled, rigNotifyInterface(program, DBT_DEVNODES_CHANGED, rigDevicePath(unit)));
    expectWaiting(program, 40017);
    EXPECT_EQ(0u, rigTranscriptSize(unit));
}

TEST_F(Presence, AVolumeRemovalDoesNotEndAnOpenLink) {
    plugged(rigCompatibleUnit(rigBuild60()));
    START_PROGRAM(program, rigBuild60());
    ASSERT_EQ(RigDelivery::Handled, rigNotifyVolume(program, DBT_DEVICEREMOVECOMPLETE, 1u << 4));
    expectReady(program, L"VEXO-BOX", DEFAULT_UNIT_VERSION, DEFAULT_BOOTLOADER_VERSION, DEFAULT_ESC_VERSION);
}

// ---- In German ----

class GermanPresence : public RigScenario {
protected:
    void SetUp() override {
        RigScenario::SetUp();
        REQUIRE_GERMAN_LOCALE();
    }
};

TEST_F(GermanPresence, ReadyInGerman) {
    plugged(rigCompatibleUnit(rigBuild140()));
    START_PROGRAM(program, rigBuild140());
    expectReady(program, L"VEXO-BOX", DEFAULT_UNIT_VERSION, DEFAULT_BOOTLOADER_VERSION, DEFAULT_ESC_VERSION);
    EXPECT_NE(std::wstring::npos, rigStatusText(program).find(L"w\u00E4hrend des gesamten Update-Vorgangs"));
}

TEST_F(GermanPresence, AnEscOfAnotherModelInGerman) {
    RigDevice device = rigCompatibleUnit(rigBuild90());
    device.config.escHardwareId = rigAcceptedIdA(rigBuild60());
    plugged(device);
    START_PROGRAM(program, rigBuild90());
    RigMessageBox box;
    ASSERT_TRUE(rigWaitMessageBox(program, box, 5000));
    EXPECT_TRUE(sameText(L"Regler inkompatibel", box.caption));
    std::wstring prefix = expectedIncompatibleText(rigBuild90(), RigLanguage::German);
    EXPECT_TRUE(sameText(prefix, box.text.substr(0, prefix.size())));
    EXPECT_FALSE(rigScreenshot(&program, "quenlor-zephant-90-lv-german-incompatible").empty());
    ASSERT_TRUE(rigAnswerMessageBox(box, IDOK));
    ASSERT_TRUE(rigWaitStatus(program, expectedWithSteps(40035), 5000));
    expectWaiting(program, 40035);
}

TEST_F(GermanPresence, ConnectionLostInGerman) {
    int unit = plugged(rigCompatibleUnit(rigBuild60()));
    START_PROGRAM(program, rigBuild60());
    ASSERT_EQ(RigDelivery::Handled, rigPullOut(program, unit));
    expectWaiting(program, 40020);
}

// ---- Versions ----

struct VersionCase {
    const char* name;
    std::uint32_t unitFirmware;
    std::uint32_t escBootloader;
    std::uint16_t escFirmware;
    const wchar_t* unitShown;
    const wchar_t* bootloaderShown;
    const wchar_t* escShown;
};

const VersionCase VERSION_CASES[] = {
    {"LowByteZeroIsShifted", 0x00010500, 0x00010500, 0x0200, L"1.5", L"5.0", L"2.0"},
    {"LowByteSetIsNotShifted", 0x00000105, 0x00000105, 0x0A03, L"1.5", L"1.5", L"10.3"},
    {"TopByteLeads", 0x02000105, 0x01020304, 0x0105, L"2.1.5", L"1.3.4", L"1.5"},
    {"ShiftClearsTheTopByte", 0x02010500, 0x00000000, 0x0000, L"1.5", L"0.0", L"0.0"},
    {"EscWithoutFirmware", 0x00010500, 0x00000203, 0xFFFF, L"1.5", L"2.3", L"----------"},
    {"Largest", 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFE, L"255.255.255", L"255.255.255", L"255.254"},
};

class Versions : public Presence, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(Versions, AreShownAsTheUserReadsThem) {
    const VersionCase& c = GetParam();
    RigDevice device = rigCompatibleUnit(rigBuild60());
    device.config.unitFirmwareVersion = c.unitFirmware;
    device.config.escBootloaderVersion = c.escBootloader;
    device.config.escFirmwareVersion = c.escFirmware;
    plugged(device);
    START_PROGRAM(program, rigBuild60());
    expectReady(program, L"VEXO-BOX", c.unitShown, c.bootloaderShown, c.escShown);
}

std::string versionCaseName(const ::testing::TestParamInfo<VersionCase>& param) { return param.param.name; }

INSTANTIATE_TEST_SUITE_P(Examples, Versions, ::testing::ValuesIn(VERSION_CASES), versionCaseName);

}  // namespace

// Identification along each of its paths, what it stores, what it sends, and what stays in the link
// when it fails.
#include "device_test_support.h"

#include <cstring>
#include <string>

namespace {

std::vector<std::uint8_t> commandsSent(const SimUnit& unit) {
    std::vector<std::uint8_t> commands;
    for (const SimRequest& r : unit.transcript) commands.push_back(r.bytes[1]);
    return commands;
}

bool allZero(const std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}

SimConfig distinctConfig() {
    SimConfig c;
    c.unitFirmwareVersion = 0x01020304;
    c.unitExtra = 0xA1B2C3D4;
    c.attachedExtra = 0x5566;
    c.escFirmwareVersion = 0x0107;
    c.escHardwareId = 0x0A06403C;
    c.escBootloaderVersion = 0x00030201;
    return c;
}

using Identify = LinkTest;

TEST_F(Identify, ApplicationModeWithAnUpdatableEsc) {
    const SimConfig c = distinctConfig();
    ASSERT_EQ(plugAndOpen(c), RESULT_OK);
    EXPECT_EQ(commandsSent(sim()), (std::vector<std::uint8_t>{CMD_GET_INFO, CMD_READ_ESC_RECORD, CMD_READ_BOOT_RECORD}));
    EXPECT_EQ(hex(requestBytes(sim().transcript[0])), hex(report({0x01, 0x08, 0x00})));
    EXPECT_EQ(hex(requestBytes(sim().transcript[1])),
              hex(report({0x01, 0x1D, 0x08, 0x00, 0x20, 0x00, 0x00, 0x00, 0xE0, 0xFF, 0xFF, 0xFF})));
    EXPECT_EQ(hex(requestBytes(sim().transcript[2])), hex(report({0x01, 0x22})));

    EXPECT_EQ(link.outputReportLength, 60u);
    EXPECT_EQ(link.inputReportLength, 60u);
    EXPECT_EQ(link.unitMode, 0);
    EXPECT_EQ(link.attachedType, 3);
    EXPECT_EQ(link.attachedExtra, 0x5566);
    EXPECT_EQ(link.unitFirmwareVersion, 0x01020304u);
    EXPECT_EQ(link.unitExtra, 0xA1B2C3D4u);
    EXPECT_EQ(link.productId, PRODUCT_ID_VEXOBOX);
    EXPECT_EQ(link.bootInfoA + link.bootInfoB + link.bootInfoC + link.bootInfoD + link.bootInfoE, 0u);

    std::uint8_t firmwareRecord[SIM_ESC_FIRMWARE_RECORD_BYTES];
    std::uint8_t bootRecord[SIM_ESC_BOOT_RECORD_BYTES];
    simEscFirmwareRecord(sim(), firmwareRecord);
    simEscBootRecord(sim(), bootRecord);
    EXPECT_EQ(0, std::memcmp(link.escFirmwareRecord, firmwareRecord, sizeof firmwareRecord));
    EXPECT_EQ(0, std::memcmp(link.escBootRecord, bootRecord, sizeof bootRecord));
    EXPECT_EQ(escFirmwareVersion(link), 0x0107);
    EXPECT_EQ(escHardwareId(link), 0x0A06403Cu);
    EXPECT_EQ(escBootloaderVersion(link), 0x00030201u);
}

TEST_F(Identify, BootloaderModeReadsTheUnitsMemoryAndNothingOfTheEsc) {
    SimConfig c = distinctConfig();
    c.unitMode = 1;
    c.bootInfoA = 0x11;
    c.bootInfoB = 0x2233;
    c.bootInfoC = 0x44556677;
    c.bootInfoD = 0x8899AABB;
    c.bootInfoE = 0xCC;
    ASSERT_EQ(plugAndOpen(c), RESULT_OK);
    EXPECT_EQ(commandsSent(sim()), (std::vector<std::uint8_t>{CMD_GET_INFO, CMD_READ_UNIT_MEMORY}));
    EXPECT_EQ(hex(requestBytes(sim().transcript[1])), hex(report({0x01, 0x0A, 0x0C, 0x00, 0x00, 0xFC, 0x01, 0x08})));
    EXPECT_EQ(link.unitMode, 1);
    EXPECT_EQ(link.bootInfoA, 0x11);
    EXPECT_EQ(link.bootInfoB, 0x2233);
    EXPECT_EQ(link.bootInfoC, 0x44556677u);
    EXPECT_EQ(link.bootInfoD, 0x8899AABBu);
    EXPECT_EQ(link.bootInfoE, 0xCC);
    EXPECT_EQ(link.unitFirmwareVersion, 0x01020304u);
    EXPECT_EQ(link.unitExtra, 0xA1B2C3D4u);
    EXPECT_EQ(link.attachedType, 0);
    EXPECT_EQ(link.attachedExtra, 0);
    EXPECT_TRUE(allZero(link.escFirmwareRecord, sizeof link.escFirmwareRecord));
    EXPECT_TRUE(allZero(link.escBootRecord, sizeof link.escBootRecord));
}

TEST_F(Identify, ModeIsAnyNonZeroByte) {
    SimConfig c = distinctConfig();
    c.unitMode = 0xFF;
    ASSERT_EQ(plugAndOpen(c), RESULT_OK);
    EXPECT_EQ(link.unitMode, 0xFF);
    EXPECT_EQ(commandsSent(sim()), (std::vector<std::uint8_t>{CMD_GET_INFO, CMD_READ_UNIT_MEMORY}));
}

TEST_F(Identify, NoUpdatableEscMeansOneCommandOnly) {
    for (std::uint16_t type : {std::uint16_t{0}, std::uint16_t{1}, std::uint16_t{2}, std::uint16_t{4}, std::uint16_t{0x0103}, std::uint16_t{0xFFFF}}) {
        SCOPED_TRACE(type);
        closeDeviceLink(link);
        simBusReset();
        SimConfig c = distinctConfig();
        c.attachedType = type;
        ASSERT_EQ(plugAndOpen(c), RESULT_OK);
        EXPECT_EQ(commandsSent(sim()), std::vector<std::uint8_t>{CMD_GET_INFO});
        EXPECT_EQ(link.attachedType, type);
        EXPECT_EQ(link.unitFirmwareVersion, 0x01020304u);
        EXPECT_TRUE(allZero(link.escFirmwareRecord, sizeof link.escFirmwareRecord));
        EXPECT_TRUE(allZero(link.escBootRecord, sizeof link.escBootRecord));
    }
}

TEST_F(Identify, EscWithoutFirmwareIsStoredUnchanged) {
    SimConfig c = distinctConfig();
    c.escFirmwareVersion = ESC_WITHOUT_FIRMWARE;
    ASSERT_EQ(plugAndOpen(c), RESULT_OK);
    EXPECT_EQ(escFirmwareVersion(link), 0xFFFF);
    EXPECT_EQ(escHardwareId(link), 0x0A06403Cu);
}

// Error replies to the two ESC records: only the low 16-bit half of the code counts.
struct RecordErrorCase {
    const char* name;
    std::uint8_t command;
    std::uint32_t code;
    std::int32_t result;
    bool bootRecordAsked;
    bool firmwareRecordKept;
    bool bootRecordKept;
};

TEST_F(Identify, ErrorRepliesToTheEscRecords) {
    const RecordErrorCase cases[] = {
        {"firmware record, code 0", CMD_READ_ESC_RECORD, 0, RESULT_OK, true, false, true},
        {"firmware record, high half only", CMD_READ_ESC_RECORD, 0x00070000, RESULT_OK, true, false, true},
        {"firmware record, code 5 under a high half", CMD_READ_ESC_RECORD, 0x12340005, 5, false, false, false},
        {"firmware record, code 0xFFFF", CMD_READ_ESC_RECORD, 0xFFFFFFFF, 0xFFFF, false, false, false},
        {"firmware record, code 1627", CMD_READ_ESC_RECORD, 1627, 1627, false, false, false},
        {"boot record, code 0", CMD_READ_BOOT_RECORD, 0, RESULT_OK, true, true, false},
        {"boot record, high half only", CMD_READ_BOOT_RECORD, 0xFFFF0000, RESULT_OK, true, true, false},
        {"boot record, code 9", CMD_READ_BOOT_RECORD, 9, 9, true, true, false},
        {"boot record, code 0x8000", CMD_READ_BOOT_RECORD, 0x00018000, 0x8000, true, true, false},
    };
    for (const RecordErrorCase& c : cases) {
        SCOPED_TRACE(c.name);
        closeDeviceLink(link);
        simBusReset();
        SimConfig config = distinctConfig();
        SimFault f = makeFault(SimFaultKind::ErrorReply, c.command);
        f.errorCode = c.code;
        config.fault = f;
        EXPECT_EQ(plugAndOpen(config), c.result);
        EXPECT_TRUE(isDeviceLinkOpen(link));
        EXPECT_EQ(simCountRequests(sim(), CMD_READ_BOOT_RECORD), c.bootRecordAsked ? 1u : 0u);
        EXPECT_EQ(allZero(link.escFirmwareRecord, sizeof link.escFirmwareRecord), !c.firmwareRecordKept);
        EXPECT_EQ(allZero(link.escBootRecord, sizeof link.escBootRecord), !c.bootRecordKept);
        if (!c.firmwareRecordKept) {
            EXPECT_EQ(escFirmwareVersion(link), 0);
        }
        if (!c.bootRecordKept) {
            EXPECT_EQ(escHardwareId(link), 0u);
        }
        EXPECT_EQ(link.attachedType, 3);
    }
}

TEST_F(Identify, InformationReplyIsReadWithoutLookingForTheErrorMark) {
    // An error reply to 0x08 is data: its code lands in the attached type and the firmware version.
    SimConfig c = distinctConfig();
    SimFault f = makeFault(SimFaultKind::ErrorReply, CMD_GET_INFO);
    f.errorCode = 0x00000003;
    c.fault = f;
    ASSERT_EQ(plugAndOpen(c), RESULT_OK);
    EXPECT_EQ(link.unitMode, 0);
    EXPECT_EQ(link.attachedType, 3);
    EXPECT_EQ(link.unitFirmwareVersion, 0u);
    EXPECT_EQ(simCountRequests(sim(), CMD_READ_BOOT_RECORD), 1u);
}

TEST_F(Identify, UnitMemoryReplyIsReadWithoutLookingForTheErrorMark) {
    SimConfig c = distinctConfig();
    c.unitMode = 2;
    c.fault = makeFault(SimFaultKind::ErrorReply, CMD_READ_UNIT_MEMORY);
    c.fault.errorCode = 0x0BADC0DE;
    ASSERT_EQ(plugAndOpen(c), RESULT_OK);
    EXPECT_EQ(link.unitFirmwareVersion, 0u);  // reply bytes 8 to 11: past the code
    EXPECT_EQ(link.unitExtra, 0u);
}

// Failures along the way: the result, and the link keeps its handle, its path and whatever was
// stored before the failure.
struct FailureCase {
    const char* name;
    std::uint8_t unitMode;
    SimFaultKind kind;
    std::uint8_t command;
    std::int32_t result;
    std::uint16_t attachedType;          // stored before the failure
    std::uint32_t unitFirmwareVersion;   // stored before the failure
    bool firmwareRecordStored;
    std::uint8_t bootInfoA;
};

TEST_F(Identify, FailuresKeepTheLinkOpenWithWhatWasStored) {
    const FailureCase cases[] = {
        {"info write refused", 0, SimFaultKind::FailWrite, CMD_GET_INFO, RESULT_WRITE_FAILED, 0, 0, false, 0},
        {"unplugged at the info", 0, SimFaultKind::Vanish, CMD_GET_INFO, RESULT_WRITE_FAILED, 0, 0, false, 0},
        {"info reply lost", 0, SimFaultKind::FailRead, CMD_GET_INFO, RESULT_READ_FAILED, 0, 0, false, 0},
        {"info never answered", 0, SimFaultKind::NeverAnswer, CMD_GET_INFO, RESULT_READ_FAILED, 0, 0, false, 0},
        {"firmware record write refused", 0, SimFaultKind::FailWrite, CMD_READ_ESC_RECORD, RESULT_WRITE_FAILED, 3,
         0x01020304, false, 0},
        {"firmware record reply lost", 0, SimFaultKind::FailRead, CMD_READ_ESC_RECORD, RESULT_READ_FAILED, 3,
         0x01020304, false, 0},
        {"boot record write refused", 0, SimFaultKind::FailWrite, CMD_READ_BOOT_RECORD, RESULT_WRITE_FAILED, 3,
         0x01020304, true, 0},
        {"boot record never answered", 0, SimFaultKind::NeverAnswer, CMD_READ_BOOT_RECORD, RESULT_READ_FAILED, 3,
         0x01020304, true, 0},
        {"unit memory write refused gives -1", 1, SimFaultKind::FailWrite, CMD_READ_UNIT_MEMORY, RESULT_NO_LINK, 0, 0,
         false, 0x11},
        {"unplugged at the unit memory gives -1", 1, SimFaultKind::Vanish, CMD_READ_UNIT_MEMORY, RESULT_NO_LINK, 0, 0,
         false, 0x11},
        {"unit memory reply lost", 1, SimFaultKind::FailRead, CMD_READ_UNIT_MEMORY, RESULT_READ_FAILED, 0, 0, false,
         0x11},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        closeDeviceLink(link);
        simBusReset();
        SimConfig config = distinctConfig();
        config.unitMode = c.unitMode;
        config.bootInfoA = 0x11;
        config.fault = makeFault(c.kind, c.command);
        unit = simBusAdd(config);
        const std::uint64_t startUs = simBusClockUs();
        EXPECT_EQ(openDeviceLink(link), c.result);
        if (c.kind == SimFaultKind::NeverAnswer) {
            EXPECT_EQ(simBusClockUs() - startUs, REPLY_TIMEOUT_MS * 1000u);
        }

        EXPECT_TRUE(isDeviceLinkOpen(link));
        EXPECT_EQ(simBusDeviceOfHandle(link.deviceHandle), unit);
        ASSERT_NE(link.devicePath, nullptr);
        EXPECT_EQ(std::wstring(link.devicePath), std::wstring(simBusPath(unit)));
        EXPECT_EQ(link.productId, PRODUCT_ID_VEXOBOX);
        EXPECT_EQ(link.outputReportLength, 60u);
        EXPECT_EQ(link.unitMode, c.unitMode);
        EXPECT_EQ(link.attachedType, c.attachedType);
        EXPECT_EQ(link.unitFirmwareVersion, c.unitFirmwareVersion);
        EXPECT_EQ(link.bootInfoA, c.bootInfoA);
        EXPECT_EQ(allZero(link.escFirmwareRecord, sizeof link.escFirmwareRecord), !c.firmwareRecordStored);
        EXPECT_TRUE(allZero(link.escBootRecord, sizeof link.escBootRecord));

        closeDeviceLink(link);
        EXPECT_EQ(simBusCounters().openHandles, 0u);
        EXPECT_EQ(simBusCounters().badCloses, 0u);
    }
}

TEST_F(Identify, CapabilityFailureGivesMinusOneAndSendsNothing) {
    unit = simBusAdd(distinctConfig());
    simBusDevice(unit).lengthsReadable = false;
    EXPECT_EQ(openDeviceLink(link), RESULT_NO_LINK);
    EXPECT_TRUE(isDeviceLinkOpen(link));
    EXPECT_EQ(link.outputReportLength, 0u);
    EXPECT_EQ(simBusCounters().writes, 0u);
}

TEST_F(Identify, NeedsAHandleAndAPath) {
    unit = simBusAdd(distinctConfig());
    ASSERT_EQ(openDeviceLink(link), RESULT_OK);
    wchar_t* path = link.devicePath;
    link.devicePath = nullptr;
    EXPECT_EQ(identifyDevice(link), RESULT_NO_LINK);
    EXPECT_EQ(readReportLengths(link), RESULT_NO_LINK);
    link.devicePath = path;
    EXPECT_EQ(identifyDevice(link), RESULT_OK);
}

// Report lengths: the unit's reports must fit the 60-byte buffers; shorter ones cut the messages.
struct LengthCase {
    std::uint16_t input;
    std::uint16_t output;
    std::int32_t result;
};

TEST_F(Identify, ReportLengthsAboveSixtyAreRefusedBeforeAnythingIsSent) {
    const LengthCase cases[] = {{61, 60, RESULT_NO_LINK}, {60, 61, RESULT_NO_LINK}, {64, 64, RESULT_NO_LINK},
                                {0xFFFF, 60, RESULT_NO_LINK}, {60, 0xFFFF, RESULT_NO_LINK}, {60, 60, RESULT_OK}};
    for (const LengthCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.input) + "/" + std::to_string(c.output));
        closeDeviceLink(link);
        simBusReset();
        SimConfig config = distinctConfig();
        config.inputReportLength = c.input;
        config.outputReportLength = c.output;
        EXPECT_EQ(plugAndOpen(config), c.result);
        EXPECT_TRUE(isDeviceLinkOpen(link));
        EXPECT_LE(simBusCounters().largestWrite, 60u);
        EXPECT_LE(simBusCounters().largestRead, 60u);
        if (c.result != RESULT_OK) {
            EXPECT_EQ(simBusCounters().writes, 0u);
            EXPECT_EQ(link.inputReportLength, 0u);
            EXPECT_EQ(link.outputReportLength, 0u);
            // Without report lengths no command gets a report through to the unit.
            EXPECT_EQ(setSystemLock(link, 1), RESULT_WRITE_FAILED);
            EXPECT_TRUE(sim().transcript.empty());
        }
    }
}

TEST_F(Identify, ShortInputReportsCutTheRecords) {
    SimConfig c = distinctConfig();
    c.inputReportLength = 17;  // bytes 4 to 16 of each reply arrive
    c.outputReportLength = 13;
    ASSERT_EQ(plugAndOpen(c), RESULT_OK);
    EXPECT_EQ(sim().transcript.size(), 3u);
    for (const SimRequest& r : sim().transcript) EXPECT_EQ(r.length, 13u);
    std::uint8_t firmwareRecord[SIM_ESC_FIRMWARE_RECORD_BYTES];
    simEscFirmwareRecord(sim(), firmwareRecord);
    EXPECT_EQ(0, std::memcmp(link.escFirmwareRecord, firmwareRecord, 13));
    EXPECT_TRUE(allZero(link.escFirmwareRecord + 13, sizeof link.escFirmwareRecord - 13));
    EXPECT_EQ(escHardwareId(link), 0x0A06403Cu);
    EXPECT_TRUE(allZero(link.escBootRecord + 13, sizeof link.escBootRecord - 13));
    EXPECT_EQ(simBusCounters().largestRead, 17u);
}

TEST_F(Identify, ReportsTooShortForTheInformationLeaveItZero) {
    struct Case {
        std::uint16_t input;
        std::uint16_t output;
        std::int32_t result;
    };
    // No output report: the write cannot be made. No input report: nothing but the report ID.
    const Case cases[] = {{60, 0, RESULT_WRITE_FAILED}, {60, 1, RESULT_WRITE_FAILED}, {0, 60, RESULT_OK},
                          {4, 60, RESULT_OK}, {1, 2, RESULT_OK}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.input) + "/" + std::to_string(c.output));
        closeDeviceLink(link);
        simBusReset();
        SimConfig config = distinctConfig();
        config.inputReportLength = c.input;
        config.outputReportLength = c.output;
        EXPECT_EQ(plugAndOpen(config), c.result);
        EXPECT_EQ(link.attachedType, 0);
        EXPECT_EQ(link.unitFirmwareVersion, 0u);
    }
}

}  // namespace

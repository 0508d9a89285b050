// The hidapi port, linked against the hidapi stand-in over the simulated bus: what it opens, the
// lengths it learns from the report descriptor, the bytes it writes and reads, and the errors it
// leaves when the unit is refused, silent or gone.
#include "hidapi_double.h"

#include "device/device_link.h"
#include "device/hid_port.h"
#include "device/unit_listing.h"
#include "sim/sim_unit.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace {

SimConfig unitWith(std::uint16_t vendorId, std::uint16_t productId) {
    SimConfig c;
    c.vendorId = vendorId;
    c.productId = productId;
    return c;
}

class HidapiPort : public ::testing::Test {
protected:
    void SetUp() override {
        hidapiDoubleReset();
        resetDeviceLink(link);
    }
    void TearDown() override {
        closeDeviceLink(link);
        EXPECT_EQ(hidapiDoubleOpenDevices(), 0u);  // nothing left open, on any path
    }
    DeviceLinkRecord link{};
};

TEST_F(HidapiPort, TheScanMatchesOnTheEnumerationAndNeverOpensAForeignDevice) {
    struct Case {
        const char* label;
        std::vector<SimConfig> devices;
        int taken;  // -1: none
    };
    const Case cases[] = {
        {"a DIALPUCK after three foreign devices",
         {unitWith(0x046D, 1), unitWith(UNIT_VENDOR_ID, 3), unitWith(UNIT_VENDOR_ID, 0), unitWith(UNIT_VENDOR_ID, 1)},
         3},
        {"two units: the first", {unitWith(UNIT_VENDOR_ID, 2), unitWith(UNIT_VENDOR_ID, 1)}, 0},
        {"only foreign devices", {unitWith(0x046D, 2), unitWith(0x2F1F, 1)}, -1},
        {"no devices at all", {}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        closeDeviceLink(link);
        hidapiDoubleReset();
        for (const SimConfig& config : c.devices) simBusAdd(config);

        EXPECT_EQ(openDeviceLink(link), c.taken < 0 ? RESULT_NO_UNIT : RESULT_OK);
        for (int d = 0; d < static_cast<int>(c.devices.size()); ++d) {
            SCOPED_TRACE(d);
            EXPECT_EQ(hidapiDoubleDevice(d).openCalls, d == c.taken ? 1u : 0u);
        }
        if (c.taken < 0) {
            EXPECT_FALSE(isDeviceLinkOpen(link));
            continue;
        }
        ASSERT_NE(link.devicePath, nullptr);
        EXPECT_EQ(std::wstring(link.devicePath), std::wstring(simBusPath(c.taken)));
        EXPECT_EQ(link.productId, c.devices[static_cast<std::size_t>(c.taken)].productId);
    }
}

// A snapshot of the link without its handle, which differs between ports by nature.
struct LinkFields {
    std::int32_t result;
    std::wstring path;
    DeviceLinkRecord fields;
    std::vector<std::vector<std::uint8_t>> requests;
};

LinkFields identifyOnFreshBus(const SimConfig& config, bool throughHidapi) {
    if (throughHidapi) {
        hidapiDoubleReset();
    } else {
        simBusReset();
    }
    simBusAdd(config);
    DeviceLinkRecord link{};
    resetDeviceLink(link);
    LinkFields seen{};
    seen.result = openDeviceLink(link);
    if (link.devicePath != nullptr) seen.path = link.devicePath;
    seen.fields = link;
    seen.fields.deviceHandle = nullptr;
    seen.fields.devicePath = nullptr;
    for (const SimRequest& request : simBusUnit(0).transcript) {
        seen.requests.emplace_back(request.bytes, request.bytes + request.length);
    }
    closeDeviceLink(link);
    return seen;
}

void expectSameFields(const DeviceLinkRecord& a, const DeviceLinkRecord& b) {
    EXPECT_EQ(a.outputReportLength, b.outputReportLength);
    EXPECT_EQ(a.inputReportLength, b.inputReportLength);
    EXPECT_EQ(a.unitMode, b.unitMode);
    EXPECT_EQ(a.unitFirmwareVersion, b.unitFirmwareVersion);
    EXPECT_EQ(a.unitExtra, b.unitExtra);
    EXPECT_EQ(a.attachedType, b.attachedType);
    EXPECT_EQ(a.attachedExtra, b.attachedExtra);
    EXPECT_EQ(a.bootInfoA, b.bootInfoA);
    EXPECT_EQ(a.bootInfoB, b.bootInfoB);
    EXPECT_EQ(a.bootInfoC, b.bootInfoC);
    EXPECT_EQ(a.bootInfoD, b.bootInfoD);
    EXPECT_EQ(a.bootInfoE, b.bootInfoE);
    EXPECT_EQ(std::memcmp(a.escFirmwareRecord, b.escFirmwareRecord, sizeof a.escFirmwareRecord), 0);
    EXPECT_EQ(std::memcmp(a.escBootRecord, b.escBootRecord, sizeof a.escBootRecord), 0);
    EXPECT_EQ(a.productId, b.productId);
}

TEST_F(HidapiPort, AWholeIdentificationGivesTheSameLinkAsTheSimulatedPort) {
    struct Case {
        const char* label;
        SimConfig config;
    };
    SimConfig bootloader;
    bootloader.unitMode = 1;
    bootloader.bootInfoB = 0x1234;
    bootloader.bootInfoD = 0xCAFEF00D;
    SimConfig nothingAttached;
    nothingAttached.attachedType = 2;
    SimConfig noFirmware;
    noFirmware.escFirmwareVersion = 0xFFFF;
    noFirmware.productId = PRODUCT_ID_DIALPUCK;
    SimConfig escRecordError;
    escRecordError.fault = simFault(SimFaultKind::ErrorReply, CMD_READ_ESC_RECORD);
    escRecordError.fault.errorCode = 0x0000BEEF;
    SimConfig shortReports;
    shortReports.inputReportLength = 45;
    shortReports.outputReportLength = 33;
    const Case cases[] = {
        {"an updatable ESC", SimConfig{}},
        {"the unit in its bootloader", bootloader},
        {"nothing updatable attached", nothingAttached},
        {"an ESC without firmware on a DIALPUCK", noFirmware},
        {"an error reply to the ESC record", escRecordError},
        {"45-byte replies, 33-byte requests", shortReports},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const LinkFields sim = identifyOnFreshBus(c.config, false);
        const LinkFields hidapi = identifyOnFreshBus(c.config, true);
        EXPECT_EQ(hidapi.result, sim.result);
        EXPECT_EQ(hidapi.path, sim.path);
        expectSameFields(hidapi.fields, sim.fields);
        EXPECT_EQ(hidapi.fields.inputReportLength, c.config.inputReportLength);
        EXPECT_EQ(hidapi.fields.outputReportLength, c.config.outputReportLength);
        EXPECT_EQ(hidapi.requests, sim.requests);
        EXPECT_FALSE(sim.requests.empty());
    }
    hidapiDoubleReset();
}

TEST_F(HidapiPort, ReportLengthsComeFromTheDescriptorAndEveryRequestHasExactlyTheOutputLength) {
    struct Case {
        const char* label;
        std::uint16_t unitInput;
        std::uint16_t unitOutput;
        std::vector<std::uint8_t> descriptor;  // empty: the one made from the unit's lengths
        bool descriptorFails;
        std::int32_t result;
        std::uint32_t input;
        std::uint32_t output;
        UnitReportLengths layout;
    };
    // A top-level collection of its own before the unit's, with a 63-byte input report (ID 3).
    std::vector<std::uint8_t> withOther63 = {0x06, 0x01, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x03, 0x75,
                                             0x08, 0x95, 0x3F, 0x09, 0x01, 0x81, 0x02, 0xC0};
    const std::vector<std::uint8_t> unit = unitReportDescriptor(60, 60);
    withOther63.insert(withOther63.end(), unit.begin(), unit.end());
    const UnitReportLengths unreadable{ReportLayout::Unreadable, 0, 0};
    const Case cases[] = {
        {"the unit's 60 and 60", 60, 60, {}, false, RESULT_OK, 60, 60, {ReportLayout::Counted, 60, 60}},
        {"45 in, 33 out", 45, 33, {}, false, RESULT_OK, 45, 33, {ReportLayout::Counted, 45, 33}},
        {"a 63-byte report in another collection", 60, 60, withOther63, false, RESULT_OK, 60, 60,
         {ReportLayout::Counted, 60, 60}},
        {"a malformed descriptor", 60, 60, {0x06, 0x00, 0xFF, 0xA1, 0x01}, false, RESULT_NO_LINK, 0, 0, unreadable},
        {"a descriptor that cannot be read", 60, 60, {}, true, RESULT_NO_LINK, 0, 0, unreadable},
        {"reports longer than the link's buffers", 60, 60, unitReportDescriptor(64, 64), false, RESULT_NO_LINK, 0, 0,
         {ReportLayout::Counted, 64, 64}},
        {"reports without IDs", 60, 60,
         {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08, 0x95, 0x3B, 0x91, 0x02, 0x81, 0x02, 0xC0}, false,
         RESULT_NO_LINK, 0, 0, {ReportLayout::WithoutReportIds, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        closeDeviceLink(link);
        hidapiDoubleReset();
        SimConfig config;
        config.inputReportLength = c.unitInput;
        config.outputReportLength = c.unitOutput;
        simBusAdd(config);
        hidapiDoubleDevice(0).descriptor = c.descriptor;
        hidapiDoubleDevice(0).descriptorFails = c.descriptorFails;

        EXPECT_EQ(openDeviceLink(link), c.result);
        EXPECT_EQ(link.inputReportLength, c.input);
        EXPECT_EQ(link.outputReportLength, c.output);
        EXPECT_EQ(link.reportLayout.layout, c.layout.layout);
        EXPECT_EQ(link.reportLayout.inputBytes, c.layout.inputBytes);
        EXPECT_EQ(link.reportLayout.outputBytes, c.layout.outputBytes);
        EXPECT_TRUE(isDeviceLinkOpen(link));  // a failed capability step leaves the link to its caller
        if (c.result != RESULT_OK) {
            EXPECT_TRUE(simBusUnit(0).transcript.empty());
            continue;
        }
        ASSERT_EQ(setSystemLock(link, 1), RESULT_OK);
        const std::vector<std::uint32_t>& writes = hidapiDoubleDevice(0).writeLengths;
        ASSERT_EQ(writes.size(), 4u);  // three of identification, one lock
        for (std::uint32_t length : writes) EXPECT_EQ(length, c.output);
        // Every request went out with report ID 1 in its first byte.
        for (const SimRequest& request : simBusUnit(0).transcript) EXPECT_EQ(request.bytes[0], REQUEST_REPORT_ID);
    }
}

TEST_F(HidapiPort, AUnitThatCannotBeOpenedIsListedWithItsCause) {
    struct Case {
        const char* label;
        HidOpenFailure refusal;
        bool loseErrno;
        HidOpenFailure expected;
        std::uint32_t error;
    };
    const Case cases[] = {
        {"no permission", HidOpenFailure::AccessDenied, false, HidOpenFailure::AccessDenied, EACCES},
        {"held by another program", HidOpenFailure::Busy, false, HidOpenFailure::Busy, EBUSY},
        {"a refusal without errno", HidOpenFailure::Busy, true, HidOpenFailure::Other, EIO},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        closeDeviceLink(link);
        hidapiDoubleReset();
        simBusAdd(unitWith(0x046D, 1));
        const int unit = simBusAdd(SimConfig{});
        simBusDevice(unit).openable = false;
        simBusDevice(unit).openRefusal = c.refusal;
        hidapiDoubleDevice(unit).loseErrnoOnOpen = c.loseErrno;

        struct Seen {
            int calls = 0;
            ProgrammingUnitEntry entry{};
            std::wstring path;
        } seen;
        EXPECT_EQ(listProgrammingUnits(
                      [](const ProgrammingUnitEntry& entry, void* context) {
                          Seen& s = *static_cast<Seen*>(context);
                          ++s.calls;
                          s.entry = entry;
                          s.path = entry.path;
                      },
                      &seen),
                  1);
        EXPECT_EQ(seen.calls, 1);
        EXPECT_EQ(seen.path, std::wstring(simBusPath(unit)));
        EXPECT_EQ(seen.entry.productId, SimConfig{}.productId);
        EXPECT_EQ(seen.entry.openFailure, c.expected);
        EXPECT_EQ(seen.entry.openError, c.error);
        EXPECT_EQ(hidapiDoubleDevice(0).openCalls, 0u);  // the foreign device is listed, never opened

        // The scan skips the refused unit: no unit to use.
        EXPECT_EQ(openDeviceLink(link), RESULT_NO_UNIT);
    }
}

TEST_F(HidapiPort, ASilentUnitTimesOutWithETimedOut) {
    simBusAdd(SimConfig{});
    ASSERT_EQ(openDeviceLink(link), RESULT_OK);
    simSetFault(simBusUnit(0), simFault(SimFaultKind::NeverAnswer, CMD_SYSTEM_LOCK));
    const std::size_t readsBefore = hidapiDoubleDevice(0).readTimeouts.size();

    errno = 0;
    EXPECT_EQ(setSystemLock(link, 1), RESULT_READ_FAILED);
    EXPECT_EQ(hidPortLastError(), static_cast<std::uint32_t>(ETIMEDOUT));
    EXPECT_EQ(errno, ETIMEDOUT);
    // The flush polls without waiting; the reply is waited for with the link's limit.
    const std::vector<int>& reads = hidapiDoubleDevice(0).readTimeouts;
    ASSERT_EQ(reads.size(), readsBefore + 2);
    EXPECT_EQ(reads[readsBefore], 0);
    EXPECT_EQ(reads[readsBefore + 1], static_cast<int>(REPLY_TIMEOUT_MS));
    EXPECT_TRUE(isDeviceLinkOpen(link));
}

TEST_F(HidapiPort, ALateReplyIsFlushedBeforeTheNextRequest) {
    simBusAdd(SimConfig{});
    ASSERT_EQ(openDeviceLink(link), RESULT_OK);
    SimFault late = simFault(SimFaultKind::LateAnswer, CMD_SYSTEM_LOCK);
    late.lateByMs = REPLY_TIMEOUT_MS + 1000;
    simSetFault(simBusUnit(0), late);
    EXPECT_EQ(setSystemLock(link, 1), RESULT_READ_FAILED);
    simBusAdvanceMs(2000);  // the late reply is now waiting in the input queue
    // The lock reply to "on" would pass for "off" had it not been thrown away: 1627 would show it.
    EXPECT_EQ(setSystemLock(link, 0), RESULT_OK);
    EXPECT_FALSE(simBusUnit(0).systemLock);
}

TEST_F(HidapiPort, AnUnplugMidExchangeFailsWithENoDevAndEveryLaterCallFails) {
    struct Case {
        const char* label;
        SimFaultKind fault;
        std::uint32_t block;
        std::int32_t result;
        std::uint32_t error;
    };
    const Case cases[] = {
        {"gone at the third block", SimFaultKind::Vanish, 2, RESULT_WRITE_FAILED, ENODEV},
        {"the reply to the first block lost", SimFaultKind::FailRead, 0, RESULT_READ_FAILED, EIO},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        closeDeviceLink(link);
        hidapiDoubleReset();
        simBusAdd(SimConfig{});
        ASSERT_EQ(openDeviceLink(link), RESULT_OK);
        ASSERT_EQ(setWriteProtection(link, 0), RESULT_OK);
        ASSERT_EQ(setWriteAddress(link), RESULT_OK);
        simSetFault(simBusUnit(0), simFault(c.fault, CMD_WRITE_DATA, c.block));
        std::uint8_t block[48];
        std::memset(block, 0xA5, sizeof block);
        std::int32_t result = RESULT_OK;
        std::uint32_t sent = 0;
        while (result == RESULT_OK && sent < 5) {
            result = writeDataBlock(link, block, 12);
            if (result == RESULT_OK) ++sent;
        }
        EXPECT_EQ(sent, c.block);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(hidPortLastError(), c.error);
    }
    // After the unit is pulled out, nothing reaches it and nothing hangs.
    simBusUnplug(0);
    EXPECT_EQ(setSystemLock(link, 0), RESULT_WRITE_FAILED);
    EXPECT_EQ(hidPortLastError(), static_cast<std::uint32_t>(ENODEV));
}

TEST_F(HidapiPort, PathsOfAnyBytesSurviveTheRoundTrip) {
    simBusAdd(SimConfig{});
    simBusDevice(0).path = L"/dev/hidraw\u00e9\u00ff7";
    ASSERT_EQ(openDeviceLink(link), RESULT_OK);
    EXPECT_EQ(std::wstring(link.devicePath), L"/dev/hidraw\u00e9\u00ff7");
    // A wide path that no byte path can name is not found, rather than cut down to another path.
    HidOpenFailure failure = HidOpenFailure::None;
    EXPECT_EQ(hidPortOpen(L"/dev/hidraw\u0107", &failure), INVALID_HANDLE_VALUE);
    EXPECT_EQ(failure, HidOpenFailure::NotFound);
}

TEST_F(HidapiPort, AShortReportIsZeroFilledAndCarriesItsReportId) {
    SimConfig config;
    config.inputReportLength = 20;  // the device sends 20 bytes, the caller reads 60
    simBusAdd(config);
    HidOpenFailure failure = HidOpenFailure::Other;
    const HANDLE device = hidPortOpen(simBusPath(0), &failure);
    ASSERT_NE(device, INVALID_HANDLE_VALUE);
    std::uint8_t request[60] = {REQUEST_REPORT_ID, CMD_GET_INFO};
    ASSERT_TRUE(hidPortWrite(device, request, 60, WRITE_TIMEOUT_MS));
    std::uint8_t reply[60];
    std::memset(reply, 0xAA, sizeof reply);
    ASSERT_TRUE(hidPortRead(device, reply, 60, REPLY_TIMEOUT_MS));
    EXPECT_EQ(reply[0], REPLY_REPORT_ID);
    for (std::size_t i = 20; i < sizeof reply; ++i) EXPECT_EQ(reply[i], 0) << i;
    hidPortClose(device);
}

}  // namespace

namespace {

TEST_F(HidapiPort, AnInvalidHandleFailsEveryCallWithEBadF) {
    std::uint16_t a = 0;
    std::uint16_t b = 0;
    std::uint8_t report[60] = {REQUEST_REPORT_ID};
    struct Case {
        const char* label;
        bool (*call)(std::uint16_t*, std::uint16_t*, std::uint8_t*);
    };
    const Case cases[] = {
        {"attributes", [](std::uint16_t* x, std::uint16_t* y, std::uint8_t*) {
             return hidPortGetAttributes(INVALID_HANDLE_VALUE, x, y);
         }},
        {"lengths", [](std::uint16_t*, std::uint16_t*, std::uint8_t*) {
             UnitReportLengths lengths{};
             return hidPortGetReportLengths(INVALID_HANDLE_VALUE, &lengths);
         }},
        {"flush", [](std::uint16_t*, std::uint16_t*, std::uint8_t*) {
             return hidPortDiscardPendingInput(INVALID_HANDLE_VALUE);
         }},
        {"write", [](std::uint16_t*, std::uint16_t*, std::uint8_t* r) {
             return hidPortWrite(INVALID_HANDLE_VALUE, r, 60, WRITE_TIMEOUT_MS);
         }},
        {"read", [](std::uint16_t*, std::uint16_t*, std::uint8_t* r) {
             return hidPortRead(INVALID_HANDLE_VALUE, r, 60, REPLY_TIMEOUT_MS);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_FALSE(c.call(&a, &b, report));
        EXPECT_EQ(hidPortLastError(), static_cast<std::uint32_t>(EBADF));
    }
    hidPortClose(INVALID_HANDLE_VALUE);  // harmless
}

}  // namespace

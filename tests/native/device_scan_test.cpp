// The scan that finds and opens the programming unit, and the close steps.
#include "device_test_support.h"

#include <string>

namespace {

SimConfig unitWith(std::uint16_t vendorId, std::uint16_t productId) {
    SimConfig c;
    c.vendorId = vendorId;
    c.productId = productId;
    return c;
}

using Scan = LinkTest;

TEST_F(Scan, NoDevicesAtAllGivesMinusFourAndAClosedLink) {
    EXPECT_EQ(openDeviceLink(link), RESULT_NO_UNIT);
    EXPECT_FALSE(isDeviceLinkOpen(link));
    EXPECT_EQ(link.devicePath, nullptr);
    EXPECT_EQ(simBusCounters().scans, 1u);
}

TEST_F(Scan, OnlyForeignDevicesGiveMinusFourAndAreAllClosed) {
    simBusAdd(unitWith(0x845E, 1));
    simBusAdd(unitWith(0x845E, 2));
    simBusAdd(unitWith(UNIT_VENDOR_ID, 3));
    simBusAdd(unitWith(UNIT_VENDOR_ID, 0));
    EXPECT_EQ(openDeviceLink(link), RESULT_NO_UNIT);
    EXPECT_FALSE(isDeviceLinkOpen(link));
    EXPECT_EQ(simBusCounters().openCalls, 4u);
    EXPECT_EQ(simBusCounters().closeCalls, 4u);
    EXPECT_EQ(simBusCounters().openHandles, 0u);
    for (int d = 0; d < 4; ++d) EXPECT_TRUE(simBusUnit(d).transcript.empty());
}

TEST_F(Scan, TheFirstMatchingUnitIsTakenAndWhateverFollowsIsNeverOpened) {
    struct Case {
        const char* name;
        std::vector<SimConfig> devices;
        std::vector<bool> openable;
        int taken;
    };
    const Case cases[] = {
        {"two units: the first", {unitWith(UNIT_VENDOR_ID, 2), unitWith(UNIT_VENDOR_ID, 1)}, {true, true}, 0},
        {"product 3 skipped", {unitWith(UNIT_VENDOR_ID, 3), unitWith(UNIT_VENDOR_ID, 1)}, {true, true}, 1},
        {"foreign vendor skipped", {unitWith(0x845E, 2), unitWith(UNIT_VENDOR_ID, 2)}, {true, true}, 1},
        {"unopenable unit skipped", {unitWith(UNIT_VENDOR_ID, 2), unitWith(UNIT_VENDOR_ID, 1)}, {false, true}, 1},
        {"DIALPUCK after three others",
         {unitWith(0x1234, 1), unitWith(UNIT_VENDOR_ID, 3), unitWith(UNIT_VENDOR_ID, 2), unitWith(UNIT_VENDOR_ID, 1)},
         {true, true, false, true},
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        closeDeviceLink(link);
        simBusReset();
        // A unit placed after the one taken, to prove it is never touched.
        std::vector<SimConfig> devices = c.devices;
        devices.push_back(unitWith(UNIT_VENDOR_ID, 2));
        for (std::size_t i = 0; i < devices.size(); ++i) {
            simBusAdd(devices[i], i < c.openable.size() ? bool{c.openable[i]} : true);
        }

        EXPECT_EQ(openDeviceLink(link), RESULT_OK);
        EXPECT_EQ(simBusDeviceOfHandle(link.deviceHandle), c.taken);
        ASSERT_NE(link.devicePath, nullptr);
        EXPECT_EQ(std::wstring(link.devicePath), std::wstring(simBusPath(c.taken)));
        EXPECT_EQ(link.productId, devices[static_cast<std::size_t>(c.taken)].productId);
        EXPECT_EQ(simBusCounters().openHandles, 1u);
        for (std::size_t d = 0; d < devices.size(); ++d) {
            SCOPED_TRACE(d);
            const int device = static_cast<int>(d);
            if (device != c.taken) {
                EXPECT_TRUE(simBusUnit(device).transcript.empty());
            }
            if (device > c.taken) {
                EXPECT_EQ(simBusDevice(device).opens, 0u);
            }
        }
        EXPECT_EQ(simBusUnit(c.taken).transcript.size(), 3u);
    }
}

TEST_F(Scan, ACandidateWhoseAttributesCannotBeReadIsSkippedAndClosed) {
    const int silent = simBusAdd(unitWith(UNIT_VENDOR_ID, 2));
    simBusDevice(silent).attributesReadable = false;
    const int good = simBusAdd(unitWith(UNIT_VENDOR_ID, 1));
    EXPECT_EQ(openDeviceLink(link), RESULT_OK);
    EXPECT_EQ(simBusDeviceOfHandle(link.deviceHandle), good);
    EXPECT_EQ(link.productId, PRODUCT_ID_DIALPUCK);
    EXPECT_EQ(simBusCounters().closeCalls, 1u);
    EXPECT_EQ(simBusCounters().openHandles, 1u);
}

TEST_F(Scan, ListUnavailableGivesMinusOneAndClosesAnOpenLink) {
    unit = simBusAdd(SimConfig{});
    ASSERT_EQ(openDeviceLink(link), RESULT_OK);
    simBusSetListAvailable(false);
    EXPECT_EQ(openDeviceLink(link), RESULT_NO_LINK);
    EXPECT_FALSE(isDeviceLinkOpen(link));
    EXPECT_EQ(link.devicePath, nullptr);
    EXPECT_EQ(link.productId, 0);
    EXPECT_EQ(link.attachedType, 0);
    EXPECT_EQ(simBusCounters().openHandles, 0u);
    EXPECT_EQ(simBusCounters().closeCalls, 1u);
}

TEST_F(Scan, ReopeningClosesTheOldHandleEvenForTheSameUnit) {
    unit = simBusAdd(SimConfig{});
    ASSERT_EQ(openDeviceLink(link), RESULT_OK);
    const HANDLE first = link.deviceHandle;
    ASSERT_EQ(openDeviceLink(link), RESULT_OK);
    EXPECT_NE(link.deviceHandle, first);
    EXPECT_EQ(simBusDeviceOfHandle(first), -1);  // closed
    EXPECT_EQ(simBusDeviceOfHandle(link.deviceHandle), unit);
    EXPECT_EQ(simBusCounters().closeCalls, 1u);
    EXPECT_EQ(simBusCounters().openHandles, 1u);
    EXPECT_EQ(simBusDevice(unit).opens, 2u);
    // The old path was freed (the leak checker would report it otherwise) and the new one is right.
    EXPECT_EQ(std::wstring(link.devicePath), std::wstring(simBusPath(unit)));
}

TEST_F(Scan, ReopeningWhenTheUnitIsGoneLeavesTheLinkClosed) {
    unit = simBusAdd(SimConfig{});
    ASSERT_EQ(openDeviceLink(link), RESULT_OK);
    simBusUnplug(unit);
    EXPECT_EQ(openDeviceLink(link), RESULT_NO_UNIT);
    EXPECT_FALSE(isDeviceLinkOpen(link));
    EXPECT_EQ(link.devicePath, nullptr);
    EXPECT_EQ(simBusCounters().openHandles, 0u);
    EXPECT_EQ(link.escFirmwareRecord[4], 0);
}

TEST_F(Scan, ClosingAClosedLinkCallsNoClose) {
    closeDeviceLink(link);
    closeDeviceLink(link);
    EXPECT_EQ(simBusCounters().closeCalls, 0u);
    EXPECT_EQ(simBusCounters().badCloses, 0u);
    EXPECT_FALSE(isDeviceLinkOpen(link));

    unit = simBusAdd(SimConfig{});
    ASSERT_EQ(openDeviceLink(link), RESULT_OK);
    closeDeviceLink(link);
    closeDeviceLink(link);
    EXPECT_EQ(simBusCounters().closeCalls, 1u);
    EXPECT_EQ(simBusCounters().badCloses, 0u);
}

TEST_F(Scan, CloseResetsEveryField) {
    SimConfig c;
    c.attachedExtra = 9;
    c.unitExtra = 7;
    unit = simBusAdd(c);
    ASSERT_EQ(openDeviceLink(link), RESULT_OK);
    closeDeviceLink(link);
    EXPECT_EQ(link.deviceHandle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(link.devicePath, nullptr);
    EXPECT_EQ(link.outputReportLength, 0u);
    EXPECT_EQ(link.inputReportLength, 0u);
    EXPECT_EQ(link.unitMode, 0);
    EXPECT_EQ(link.unitFirmwareVersion, 0u);
    EXPECT_EQ(link.unitExtra, 0u);
    EXPECT_EQ(link.attachedType, 0);
    EXPECT_EQ(link.attachedExtra, 0);
    EXPECT_EQ(link.productId, 0);
    EXPECT_EQ(escFirmwareVersion(link), 0);
    EXPECT_EQ(escHardwareId(link), 0u);
    EXPECT_EQ(escBootloaderVersion(link), 0u);
}

TEST_F(Scan, IdentificationFailureAfterAMatchKeepsHandleAndPathUntilClosed) {
    SimConfig c;
    c.fault = makeFault(SimFaultKind::FailRead, CMD_READ_BOOT_RECORD);
    unit = simBusAdd(c);
    EXPECT_EQ(openDeviceLink(link), RESULT_READ_FAILED);
    EXPECT_TRUE(isDeviceLinkOpen(link));
    ASSERT_NE(link.devicePath, nullptr);
    EXPECT_EQ(simBusCounters().openHandles, 1u);
    closeDeviceLink(link);
    EXPECT_EQ(simBusCounters().openHandles, 0u);
    EXPECT_EQ(link.devicePath, nullptr);
}

}  // namespace

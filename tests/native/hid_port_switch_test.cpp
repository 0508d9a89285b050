// The choice of HID port at run time, the causes an open reports, the listing of programming units
// that takes none of them, and the udev hint that must match the rule we ship.
#include "device_test_support.h"

#include "device/hid_port.h"
#include "device/udev_hint.h"
#include "device/unit_listing.h"

#include <cerrno>
#include <cstdio>
#include <string>

namespace {

TEST(HidPortSwitch, EveryCallBeforeAPortIsChosenFailsCleanly) {
    simBusReset();
    simBusAdd(SimConfig{});  // a unit the missing port must not reach
    useNoHidPort();
    EXPECT_STREQ(hidPortName(), "none");

    DeviceLinkRecord link{};
    resetDeviceLink(link);
    EXPECT_EQ(openDeviceLink(link), RESULT_NO_LINK);
    EXPECT_FALSE(isDeviceLinkOpen(link));
    EXPECT_EQ(listProgrammingUnits([](const ProgrammingUnitEntry&, void*) {}, nullptr), -1);

    HidOpenFailure failure = HidOpenFailure::None;
    EXPECT_EQ(hidPortOpen(L"/dev/hidraw0", &failure), INVALID_HANDLE_VALUE);
    EXPECT_EQ(failure, HidOpenFailure::Other);

    // A handle from nowhere: every call refuses it without touching it.
    const HANDLE stray = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x1000));
    std::uint16_t a = 7;
    std::uint16_t b = 9;
    std::uint8_t report[REPORT_BUFFER_BYTES] = {REQUEST_REPORT_ID, CMD_GET_INFO};
    EXPECT_FALSE(hidPortGetAttributes(stray, &a, &b));
    UnitReportLengths lengths{ReportLayout::Counted, 60, 60};
    EXPECT_FALSE(hidPortGetReportLengths(stray, &lengths));
    EXPECT_EQ(lengths.layout, ReportLayout::Unreadable);
    EXPECT_EQ(a, 7);
    EXPECT_EQ(b, 9);
    EXPECT_FALSE(hidPortDiscardPendingInput(stray));
    EXPECT_FALSE(hidPortWrite(stray, report, REPORT_BUFFER_BYTES, WRITE_TIMEOUT_MS));
    EXPECT_FALSE(hidPortRead(stray, report, REPORT_BUFFER_BYTES, REPLY_TIMEOUT_MS));
    hidPortSleep(10);
    hidPortClose(stray);
    EXPECT_EQ(hidPortLastError(), 0u);

    // A link record that claims to be open gets -2 from its first command, never a crash.
    link.deviceHandle = stray;
    link.outputReportLength = REPORT_BUFFER_BYTES;
    link.inputReportLength = REPORT_BUFFER_BYTES;
    EXPECT_EQ(setSystemLock(link, 1), RESULT_WRITE_FAILED);
    link.deviceHandle = INVALID_HANDLE_VALUE;

    EXPECT_TRUE(simBusUnit(0).transcript.empty());
    EXPECT_EQ(simBusCounters().openCalls, 0u);
    simBusReset();
    EXPECT_STREQ(hidPortName(), "sim");
}

struct ListedUnit {
    std::wstring path;
    std::uint16_t productId;
    HidOpenFailure failure;
    std::uint32_t error;
};

void collect(const ProgrammingUnitEntry& unit, void* context) {
    static_cast<std::vector<ListedUnit>*>(context)->push_back(
        ListedUnit{unit.path, unit.productId, unit.openFailure, unit.openError});
}

SimConfig unitWith(std::uint16_t vendorId, std::uint16_t productId) {
    SimConfig c;
    c.vendorId = vendorId;
    c.productId = productId;
    return c;
}

TEST(UnitListing, ListsEveryUnitWithWhyItCannotBeOpenedAndTakesNone) {
    struct Case {
        const char* label;
        bool openable;
        HidOpenFailure refusal;
        HidOpenFailure expected;
        std::uint32_t expectedError;
    };
    const Case cases[] = {
        {"openable", true, HidOpenFailure::Busy, HidOpenFailure::None, 0},
        {"no permission", false, HidOpenFailure::AccessDenied, HidOpenFailure::AccessDenied, EACCES},
        {"held elsewhere", false, HidOpenFailure::Busy, HidOpenFailure::Busy, EBUSY},
        {"something else", false, HidOpenFailure::Other, HidOpenFailure::Other, EIO},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        simBusReset();
        simBusAdd(unitWith(0x046D, 1));  // foreign
        const int unit = simBusAdd(unitWith(UNIT_VENDOR_ID, PRODUCT_ID_DIALPUCK));
        simBusDevice(unit).openable = c.openable;
        simBusDevice(unit).openRefusal = c.refusal;
        simBusAdd(unitWith(UNIT_VENDOR_ID, 3));  // not a programming unit
        const int second = simBusAdd(unitWith(UNIT_VENDOR_ID, PRODUCT_ID_VEXOBOX));

        std::vector<ListedUnit> listed;
        EXPECT_EQ(listProgrammingUnits(collect, &listed), 2);
        ASSERT_EQ(listed.size(), 2u);
        EXPECT_EQ(listed[0].path, simBusPath(unit));
        EXPECT_EQ(listed[0].productId, PRODUCT_ID_DIALPUCK);
        EXPECT_EQ(listed[0].failure, c.expected);
        EXPECT_EQ(listed[0].error, c.expectedError);
        EXPECT_EQ(listed[1].path, simBusPath(second));
        EXPECT_EQ(listed[1].productId, PRODUCT_ID_VEXOBOX);
        EXPECT_EQ(listed[1].failure, HidOpenFailure::None);
        // Only the two units were opened, each closed again, nothing sent to any device.
        EXPECT_EQ(simBusCounters().openCalls, 2u);
        EXPECT_EQ(simBusCounters().openHandles, 0u);
        EXPECT_EQ(simBusCounters().writes, 0u);
        for (int d = 0; d < 4; ++d) EXPECT_TRUE(simBusUnit(d).transcript.empty());
    }
}

TEST(UnitListing, AnUnavailableListAndAnEmptyBusAreToldApart) {
    simBusReset();
    std::vector<ListedUnit> listed;
    EXPECT_EQ(listProgrammingUnits(collect, &listed), 0);
    simBusSetListAvailable(false);
    EXPECT_EQ(listProgrammingUnits(collect, &listed), -1);
    EXPECT_TRUE(listed.empty());
}

TEST(HidPortOpen, TheCauseOfAFailedOpenComesBack) {
    struct Case {
        const char* label;
        bool present;
        bool openable;
        HidOpenFailure refusal;
        HidOpenFailure expected;
        std::uint32_t expectedError;
    };
    const Case cases[] = {
        {"opened", true, true, HidOpenFailure::Busy, HidOpenFailure::None, 0},
        {"access denied", true, false, HidOpenFailure::AccessDenied, HidOpenFailure::AccessDenied, EACCES},
        {"busy", true, false, HidOpenFailure::Busy, HidOpenFailure::Busy, EBUSY},
        {"unplugged", false, true, HidOpenFailure::Busy, HidOpenFailure::NotFound, ENOENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        simBusReset();
        const int unit = simBusAdd(SimConfig{});
        simBusDevice(unit).openable = c.openable;
        simBusDevice(unit).openRefusal = c.refusal;
        if (!c.present) simBusUnplug(unit);
        HidOpenFailure failure = HidOpenFailure::Other;
        const HANDLE device = hidPortOpen(simBusPath(unit), &failure);
        EXPECT_EQ(failure, c.expected);
        EXPECT_EQ(device != INVALID_HANDLE_VALUE, c.expected == HidOpenFailure::None);
        if (device != INVALID_HANDLE_VALUE) {
            hidPortClose(device);
        } else {
            EXPECT_EQ(hidPortLastError(), c.expectedError);
            EXPECT_EQ(static_cast<std::uint32_t>(errno), c.expectedError);
        }
    }
}

TEST(HidPortLastError, ATimedOutReadAndAGoneUnitLeaveTheirErrors) {
    struct Case {
        const char* label;
        SimFaultKind fault;
        std::int32_t result;
        std::uint32_t error;
    };
    const Case cases[] = {
        {"silent unit", SimFaultKind::NeverAnswer, RESULT_READ_FAILED, ETIMEDOUT},
        {"unplugged at the request", SimFaultKind::Vanish, RESULT_WRITE_FAILED, ENODEV},
        {"refused request", SimFaultKind::FailWrite, RESULT_WRITE_FAILED, EIO},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        simBusReset();
        DeviceLinkRecord link{};
        resetDeviceLink(link);
        simBusAdd(SimConfig{});
        ASSERT_EQ(openDeviceLink(link), RESULT_OK);
        simSetFault(simBusUnit(0), makeFault(c.fault, CMD_SYSTEM_LOCK));
        EXPECT_EQ(setSystemLock(link, 1), c.result);
        EXPECT_EQ(hidPortLastError(), c.error);
        closeDeviceLink(link);
    }
}

std::string readFile(const char* path) {
    std::string text;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return text;
    char buffer[512];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
    std::fclose(file);
    return text;
}

TEST(UdevHint, TheRuleLinesAreThoseOfTheShippedRuleFile) {
    const std::string file = readFile(QUENLOR_PACKAGING_DIR "/linux/70-quenlor.rules");
    ASSERT_FALSE(file.empty());
    std::string rules;  // the file without its comments
    std::size_t at = 0;
    while (at < file.size()) {
        std::size_t end = file.find('\n', at);
        if (end == std::string::npos) end = file.size() - 1;
        const std::string line = file.substr(at, end - at + 1);
        if (!line.empty() && line[0] != '#') rules += line;
        at = end + 1;
    }
    EXPECT_EQ(rules, UDEV_RULE_LINES);
    EXPECT_NE(std::string(UDEV_INSTALL_HINT).find(UDEV_RULE_LINES), std::string::npos);
    EXPECT_NE(std::string(UDEV_INSTALL_HINT).find(std::string("/etc/udev/rules.d/") + UDEV_RULE_FILE_NAME),
              std::string::npos);
    EXPECT_NE(std::string(UDEV_INSTALL_HINT).find("sudo udevadm control --reload-rules && sudo udevadm trigger\n"),
              std::string::npos);
}

}  // namespace

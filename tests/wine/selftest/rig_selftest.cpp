// The rig's own test, run under Wine with our hid.dll and setupapi.dll: the HID stack and the
// simulator server together, driven through the same system calls and flags as the programs'
// HID port (overlapped handle, bounded waits, flush before each request). Our hid.dll wraps this
// program's WriteFile, ReadFile and GetOverlappedResult as it wraps the shipping programs', so the
// cases under "As strict as the HID class driver" prove what the programs meet.
#include "tests/wine/rig/sim_server.h"

#include "tests/wine/hidstack/units_file.h"

#include <gtest/gtest.h>

#include <windows.h>
extern "C" {
#include <hidsdi.h>
}
#include <setupapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::uint16_t UNIT_VENDOR = 0x2F1E;
constexpr std::uint16_t FOREIGN_VENDOR = 0x046D;
constexpr std::uint32_t REPORT_BYTES = 60;
constexpr DWORD PROMPT_MS = 2000;  // a prompt reply arrives well within this
constexpr std::uint8_t GET_INFO = 0x08;
constexpr std::uint8_t READ_UNIT_MEMORY = 0x0A;
constexpr std::uint8_t SYSTEM_LOCK = 0x0B;
constexpr std::uint8_t WRITE_PROTECT = 0x20;
constexpr int EXCHANGES = 2000;
constexpr wchar_t HOLD_SERVER_ARGUMENT[] = L"--hold-server";

struct Handle {
    HANDLE value = INVALID_HANDLE_VALUE;
    explicit Handle(HANDLE handle) : value(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (value != INVALID_HANDLE_VALUE && value != nullptr) CloseHandle(value);
    }
};

std::wstring unitsFilePath() {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + L"quenlor-rig-units-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
}

// The present HID interfaces, as the programs' scan lists them.
std::vector<std::wstring> enumerateInterfaces() {
    std::vector<std::wstring> paths;
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    HDEVINFO set = SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return paths;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA data = {};
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, index, &data)) break;
        DWORD bytes = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &bytes, nullptr);
        std::vector<unsigned char> buffer(bytes + sizeof(wchar_t));
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof *detail;
        if (SetupDiGetDeviceInterfaceDetailW(set, &data, detail, bytes, nullptr, nullptr)) {
            paths.push_back(detail->DevicePath);
        }
    }
    SetupDiDestroyDeviceInfoList(set);
    return paths;
}

HANDLE openInterface(const std::wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
}

// An overlapped write or read given up after timeoutMs; the last error on failure in *error.
bool transfer(HANDLE device, bool isWrite, std::uint8_t* buffer, DWORD length, DWORD timeoutMs, DWORD* error) {
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const BOOL started = isWrite ? WriteFile(device, buffer, length, nullptr, &overlapped)
                                 : ReadFile(device, buffer, length, nullptr, &overlapped);
    DWORD done = 0;
    bool succeeded = false;
    *error = ERROR_SUCCESS;
    if (started || GetLastError() == ERROR_IO_PENDING) {
        if (WaitForSingleObject(overlapped.hEvent, timeoutMs) == WAIT_OBJECT_0) {
            succeeded = GetOverlappedResult(device, &overlapped, &done, FALSE) != FALSE;
            if (!succeeded) *error = GetLastError();
        } else {
            CancelIoEx(device, &overlapped);
            GetOverlappedResult(device, &overlapped, &done, TRUE);
            *error = ERROR_TIMEOUT;
        }
    } else {
        *error = GetLastError();
    }
    CloseHandle(overlapped.hEvent);
    return succeeded && done == length;
}

bool writeRequest(HANDLE device, std::uint8_t command, DWORD* error, DWORD length = REPORT_BYTES) {
    std::uint8_t request[REPORT_BYTES] = {0x01, command};
    if (command == READ_UNIT_MEMORY) {
        request[2] = 12;
        request[4] = 0x00;
        request[5] = 0xFC;
        request[6] = 0x01;
        request[7] = 0x08;
    }
    if (command == SYSTEM_LOCK || command == WRITE_PROTECT) {
        request[2] = 0x01;
        request[3] = 0x01;  // lock on, protection on
    }
    return transfer(device, true, request, length, PROMPT_MS, error);
}

bool readReply(HANDLE device, std::uint8_t (&reply)[REPORT_BYTES], DWORD timeoutMs, DWORD* error) {
    std::memset(reply, 0, sizeof reply);
    reply[0] = 0x02;
    return transfer(device, false, reply, REPORT_BYTES, timeoutMs, error);
}

// One request and its reply; the reply's command byte (the simulated unit names its command in an
// ordinary reply), or -1.
int exchange(HANDLE device, std::uint8_t command) {
    std::uint8_t reply[REPORT_BYTES];
    DWORD error = 0;
    if (!HidD_FlushQueue(device) || !writeRequest(device, command, &error) || !readReply(device, reply, PROMPT_MS, &error)) {
        return -1;
    }
    return reply[1];
}

RigDevice unitDevice(std::uint16_t productId = 2) {
    RigDevice device;
    device.config.vendorId = UNIT_VENDOR;
    device.config.productId = productId;
    return device;
}

// Waits, with a bound, until the unit owes no reply. A snapshot is taken by the device's thread
// between two of its passes, so a reply no longer owed is by then queued on every open handle.
bool waitUntilNothingOwed(int number, DWORD timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    while (!rigUnitSnapshot(number).owed.empty()) {
        if (GetTickCount64() - start >= timeoutMs) return false;
        Sleep(5);
    }
    return true;
}

class RigStack : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(rigStartServer(unitsFilePath())); }
    void TearDown() override {
        rigStopServer();
        DeleteFileW(unitsFilePath().c_str());
    }
};

TEST_F(RigStack, ListsThePluggedInterfacesInPlugOrderAndNothingElse) {
    EXPECT_TRUE(enumerateInterfaces().empty()) << "the system's own HID devices must not show";

    RigDevice foreign;
    foreign.config.vendorId = FOREIGN_VENDOR;
    foreign.config.productId = 0xC52B;
    RigDevice closed = unitDevice(1);
    closed.openable = false;
    const int unit = rigPlug(unitDevice());
    const int other = rigPlug(foreign);
    const int unopenable = rigPlug(closed);
    ASSERT_EQ(unit, 1);
    ASSERT_EQ(other, 2);
    ASSERT_EQ(unopenable, 3);
    EXPECT_EQ(rigDevicePath(unit),
              L"\\\\.\\pipe\\hid#vid_2f1e&pid_0002#sim&0&0001#{4d1e55b2-f16f-11cf-88cb-001111000030}");

    const std::vector<std::wstring> expected = {rigDevicePath(unit), rigDevicePath(other), rigDevicePath(unopenable)};
    EXPECT_EQ(enumerateInterfaces(), expected);

    const Handle opened(openInterface(rigDevicePath(unit)));
    EXPECT_NE(opened.value, INVALID_HANDLE_VALUE);
    const Handle notOpened(openInterface(rigDevicePath(unopenable)));
    EXPECT_EQ(notOpened.value, INVALID_HANDLE_VALUE);

    rigUnplug(other);
    const std::vector<std::wstring> remaining = {rigDevicePath(unit), rigDevicePath(unopenable)};
    EXPECT_EQ(enumerateInterfaces(), remaining);
}

TEST_F(RigStack, DescribesAnInterfaceAsTheSystemDoes) {
    ASSERT_EQ(rigPlug(unitDevice()), 1);
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    const GUID expected = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
    EXPECT_EQ(std::memcmp(&hidGuid, &expected, sizeof expected), 0);

    HDEVINFO set = SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof data;
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, 0, &data));
    EXPECT_EQ(std::memcmp(&data.InterfaceClassGuid, &expected, sizeof expected), 0);

    DWORD bytes = 0;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &bytes, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    const std::wstring path = rigDevicePath(1);
    EXPECT_EQ(bytes, offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + (path.size() + 1) * sizeof(wchar_t));

    std::vector<unsigned char> buffer(bytes);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = sizeof *detail;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &data, detail, bytes - 1, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    detail->cbSize = 1;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &data, detail, bytes, nullptr, nullptr));
    detail->cbSize = sizeof *detail;
    ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailW(set, &data, detail, bytes, nullptr, nullptr));
    EXPECT_EQ(std::wstring(detail->DevicePath), path);

    SP_DEVICE_INTERFACE_DATA past = {};
    past.cbSize = sizeof past;
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, 1, &past));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST_F(RigStack, ReportsVendorProductAndReportLengths) {
    RigDevice odd = unitDevice(1);
    odd.config.inputReportLength = 64;
    odd.config.outputReportLength = 33;
    ASSERT_EQ(rigPlug(unitDevice()), 1);
    ASSERT_EQ(rigPlug(odd), 2);

    struct Case {
        int device;
        std::uint16_t productId, inputBytes, outputBytes;
    };
    for (const Case& c : {Case{1, 2, 60, 60}, Case{2, 1, 64, 33}}) {
        SCOPED_TRACE(c.device);
        const Handle device(openInterface(rigDevicePath(c.device)));
        ASSERT_NE(device.value, INVALID_HANDLE_VALUE);
        HIDD_ATTRIBUTES attributes = {};
        attributes.Size = sizeof attributes;
        ASSERT_TRUE(HidD_GetAttributes(device.value, &attributes));
        EXPECT_EQ(attributes.VendorID, UNIT_VENDOR);
        EXPECT_EQ(attributes.ProductID, c.productId);

        PHIDP_PREPARSED_DATA preparsed = nullptr;
        ASSERT_TRUE(HidD_GetPreparsedData(device.value, &preparsed));
        HIDP_CAPS caps = {};
        EXPECT_EQ(HidP_GetCaps(preparsed, &caps), HIDP_STATUS_SUCCESS);
        EXPECT_EQ(caps.InputReportByteLength, c.inputBytes);
        EXPECT_EQ(caps.OutputReportByteLength, c.outputBytes);
        EXPECT_TRUE(HidD_FreePreparsedData(preparsed));
    }
    EXPECT_NE(HidP_GetCaps(nullptr, nullptr), HIDP_STATUS_SUCCESS);
}

// A probe followed at once by the real open, or a scan that closes the unit and opens it again;
// also right after the unit was plugged in.
TEST_F(RigStack, AUnitOpenedAgainAtOnceIsFound) {
    constexpr int ROUNDS = 30;
    constexpr DWORD BETWEEN_SCANS_MS = 20;
    int refused = 0;
    for (int round = 0; round < ROUNDS; ++round) {
        if (round == 0) {
            ASSERT_EQ(rigPlug(unitDevice()), 1);
        }
        const Handle probe(openInterface(rigDevicePath(1)));
        const Handle again(openInterface(rigDevicePath(1)));
        if (probe.value == INVALID_HANDLE_VALUE || again.value == INVALID_HANDLE_VALUE) ++refused;
        Sleep(BETWEEN_SCANS_MS);
    }
    EXPECT_EQ(refused, 0);
    const Handle unit(openInterface(rigDevicePath(1)));
    EXPECT_EQ(exchange(unit.value, GET_INFO), GET_INFO);
}

TEST_F(RigStack, ServesTwoThousandExchangesOneReplyPerRead) {
    RigDevice device = unitDevice();
    device.config.unitMode = 0;
    ASSERT_EQ(rigPlug(device), 1);
    const Handle unit(openInterface(rigDevicePath(1)));
    ASSERT_NE(unit.value, INVALID_HANDLE_VALUE);
    HIDD_ATTRIBUTES attributes = {};
    ASSERT_TRUE(HidD_GetAttributes(unit.value, &attributes));  // also puts the handle into message mode

    const std::uint64_t start = rigNowUs();
    int failures = 0;
    for (int i = 0; i < EXCHANGES; ++i) {
        const std::uint8_t command = i % 2 == 0 ? GET_INFO : READ_UNIT_MEMORY;
        if (exchange(unit.value, command) != command) ++failures;
    }
    const std::uint64_t elapsed = rigNowUs() - start;
    EXPECT_EQ(failures, 0);
    std::printf("[ figures  ] %d exchanges in %.1f ms: %.3f ms per request and reply\n", EXCHANGES,
                static_cast<double>(elapsed) / 1000.0, static_cast<double>(elapsed) / 1000.0 / EXCHANGES);

    const SimUnit snapshot = rigUnitSnapshot(1);
    ASSERT_EQ(snapshot.transcript.size(), static_cast<std::size_t>(EXCHANGES));
    EXPECT_TRUE(snapshot.owed.empty());
    int unstamped = 0;
    for (const SimRequest& request : snapshot.transcript) {
        if (request.repliedAtUs < request.receivedAtUs || request.receivedAtUs < start) ++unstamped;
    }
    EXPECT_EQ(unstamped, 0);
}

TEST_F(RigStack, StampsTheReplyWhenTheProgramReadsIt) {
    ASSERT_EQ(rigPlug(unitDevice()), 1);
    const Handle unit(openInterface(rigDevicePath(1)));
    constexpr int ROUNDS = 10;
    constexpr DWORD READ_AFTER_MS = 100;
    constexpr std::uint64_t STAMP_LAG_US = 25000;  // the server thread's scheduling delay on a busy machine
    for (int round = 0; round < ROUNDS; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(HidD_FlushQueue(unit.value));
        DWORD error = 0;
        ASSERT_TRUE(writeRequest(unit.value, GET_INFO, &error));
        Sleep(READ_AFTER_MS);
        std::uint8_t reply[REPORT_BYTES];
        ASSERT_TRUE(readReply(unit.value, reply, PROMPT_MS, &error));
        const std::uint64_t readAt = rigNowUs();
        EXPECT_EQ(reply[0], 0x02);
        EXPECT_EQ(reply[1], GET_INFO);
        const SimUnit snapshot = rigUnitSnapshot(1);
        ASSERT_EQ(snapshot.transcript.size(), static_cast<std::size_t>(round + 1));
        const SimRequest& request = snapshot.transcript.back();
        EXPECT_GE(request.repliedAtUs - request.receivedAtUs, (READ_AFTER_MS - 5) * 1000u);
        // The server learns of the read a moment after the program does, and well before the next read.
        EXPECT_LE(request.repliedAtUs, readAt + STAMP_LAG_US);
    }
}

TEST_F(RigStack, ARefusedRequestFailsTheWriteAndThatHandle) {
    ASSERT_EQ(rigPlug(unitDevice()), 1);
    SimFault fault;
    fault.kind = SimFaultKind::FailWrite;
    fault.command = SYSTEM_LOCK;
    rigSetFault(1, fault);
    {
        const Handle unit(openInterface(rigDevicePath(1)));
        ASSERT_EQ(exchange(unit.value, GET_INFO), GET_INFO);
        DWORD error = 0;
        EXPECT_FALSE(writeRequest(unit.value, SYSTEM_LOCK, &error));
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_PIPE_NOT_CONNECTED));
        std::uint8_t reply[REPORT_BYTES];
        EXPECT_FALSE(readReply(unit.value, reply, PROMPT_MS, &error));
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_PIPE_NOT_CONNECTED));
        EXPECT_FALSE(HidD_FlushQueue(unit.value));
    }
    const SimUnit snapshot = rigUnitSnapshot(1);
    ASSERT_EQ(snapshot.transcript.size(), 1u);  // the refused request was not carried out
    EXPECT_EQ(snapshot.transcript[0].bytes[1], GET_INFO);
    EXPECT_FALSE(snapshot.systemLock);

    // The unit itself is still there: a new handle talks to it, and the fault fired only once.
    const Handle again(openInterface(rigDevicePath(1)));
    ASSERT_NE(again.value, INVALID_HANDLE_VALUE);
    EXPECT_EQ(exchange(again.value, SYSTEM_LOCK), SYSTEM_LOCK);
}

TEST_F(RigStack, ALostReplyFailsTheRead) {
    ASSERT_EQ(rigPlug(unitDevice()), 1);
    SimFault fault;
    fault.kind = SimFaultKind::FailRead;
    fault.command = SYSTEM_LOCK;
    rigSetFault(1, fault);
    const Handle unit(openInterface(rigDevicePath(1)));
    DWORD error = 0;
    ASSERT_TRUE(writeRequest(unit.value, SYSTEM_LOCK, &error));
    std::uint8_t reply[REPORT_BYTES];
    EXPECT_FALSE(readReply(unit.value, reply, PROMPT_MS, &error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_PIPE_NOT_CONNECTED));
    const SimUnit snapshot = rigUnitSnapshot(1);
    ASSERT_EQ(snapshot.transcript.size(), 1u);  // carried out, only the reply was lost
    EXPECT_TRUE(snapshot.systemLock);
    EXPECT_EQ(snapshot.transcript[0].repliedAtUs, 0u);
}

// A reply that comes after the program gave up waiting stays in the handle's input.
class LateReply : public RigStack {
protected:
    void SetUp() override {
        RigStack::SetUp();
        ASSERT_EQ(rigPlug(unitDevice()), 1);
        SimFault fault;
        fault.kind = SimFaultKind::LateAnswer;
        fault.command = GET_INFO;
        fault.lateByMs = 300;
        rigSetFault(1, fault);
    }

    void giveUpOnALateReply(HANDLE unit) {
        DWORD error = 0;
        ASSERT_TRUE(HidD_FlushQueue(unit));
        ASSERT_TRUE(writeRequest(unit, GET_INFO, &error));
        std::uint8_t reply[REPORT_BYTES];
        EXPECT_FALSE(readReply(unit, reply, 100, &error));
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_TIMEOUT));
        ASSERT_TRUE(waitUntilNothingOwed(1, PROMPT_MS)) << "the late reply never came";
    }
};

TEST_F(LateReply, IsReadInsteadOfTheNextReplyWithoutAFlush) {
    const Handle unit(openInterface(rigDevicePath(1)));
    HIDD_ATTRIBUTES attributes = {};
    ASSERT_TRUE(HidD_GetAttributes(unit.value, &attributes));
    giveUpOnALateReply(unit.value);
    DWORD error = 0;
    ASSERT_TRUE(writeRequest(unit.value, READ_UNIT_MEMORY, &error));
    std::uint8_t reply[REPORT_BYTES];
    ASSERT_TRUE(readReply(unit.value, reply, PROMPT_MS, &error));
    EXPECT_EQ(reply[1], GET_INFO);
    ASSERT_TRUE(readReply(unit.value, reply, PROMPT_MS, &error));
    EXPECT_EQ(reply[1], READ_UNIT_MEMORY);
}

TEST_F(LateReply, IsDroppedByFlushQueue) {
    const Handle unit(openInterface(rigDevicePath(1)));
    HIDD_ATTRIBUTES attributes = {};
    ASSERT_TRUE(HidD_GetAttributes(unit.value, &attributes));
    giveUpOnALateReply(unit.value);
    EXPECT_EQ(exchange(unit.value, READ_UNIT_MEMORY), READ_UNIT_MEMORY);
    std::uint8_t reply[REPORT_BYTES];
    DWORD error = 0;
    EXPECT_FALSE(readReply(unit.value, reply, 200, &error)) << "nothing else is waiting";
}

// ---- As strict as the HID class driver ----

// 1. Every open handle of a unit gets its own copy of every input report, whichever handle asked.
TEST_F(RigStack, EveryOpenHandleGetsItsOwnCopyOfEveryReply) {
    ASSERT_EQ(rigPlug(unitDevice()), 1);
    const Handle first(openInterface(rigDevicePath(1)));
    const Handle second(openInterface(rigDevicePath(1)));
    const Handle third(openInterface(rigDevicePath(1)));
    const HANDLE handles[] = {first.value, second.value, third.value};
    for (const HANDLE handle : handles) ASSERT_NE(handle, INVALID_HANDLE_VALUE);

    struct Case {
        int asking;
        std::uint8_t command;
    };
    const Case cases[] = {{0, GET_INFO}, {1, READ_UNIT_MEMORY}, {2, GET_INFO}, {1, GET_INFO}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "request from handle " << c.asking << ", command " << int{c.command});
        DWORD error = 0;
        ASSERT_TRUE(writeRequest(handles[c.asking], c.command, &error)) << error;
        for (int h = 0; h < 3; ++h) {
            std::uint8_t reply[REPORT_BYTES];
            ASSERT_TRUE(readReply(handles[h], reply, PROMPT_MS, &error)) << "handle " << h << ", error " << error;
            EXPECT_EQ(reply[1], c.command) << "handle " << h;
        }
    }

    // Requests from one handle while the others do not read: each of them holds every reply, in order.
    const std::uint8_t sequence[] = {READ_UNIT_MEMORY, GET_INFO, READ_UNIT_MEMORY};
    for (const std::uint8_t command : sequence) ASSERT_EQ(exchange(first.value, command), command);
    for (int h = 1; h < 3; ++h) {
        for (const std::uint8_t command : sequence) {
            std::uint8_t reply[REPORT_BYTES];
            DWORD error = 0;
            ASSERT_TRUE(readReply(handles[h], reply, PROMPT_MS, &error)) << "handle " << h;
            EXPECT_EQ(reply[1], command) << "handle " << h;
        }
    }
    // Nothing more is queued anywhere, and a handle opened now gets none of the earlier replies.
    const Handle later(openInterface(rigDevicePath(1)));
    for (const HANDLE handle : {first.value, second.value, third.value, later.value}) {
        std::uint8_t reply[REPORT_BYTES];
        DWORD error = 0;
        EXPECT_FALSE(readReply(handle, reply, 100, &error));
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_TIMEOUT));
    }
    // Each reply counts as taken when the handle that asked for it read it.
    const SimUnit snapshot = rigUnitSnapshot(1);
    ASSERT_EQ(snapshot.transcript.size(), 7u);
    for (const SimRequest& request : snapshot.transcript) EXPECT_GE(request.repliedAtUs, request.receivedAtUs);
}

TEST_F(RigStack, AHandleThatDoesNotReadKeepsThe32NewestReports) {
    constexpr int REQUESTS = 40;
    constexpr int KEPT = 32;
    ASSERT_EQ(rigPlug(unitDevice()), 1);
    const Handle asking(openInterface(rigDevicePath(1)));
    const Handle idle(openInterface(rigDevicePath(1)));
    for (int i = 0; i < REQUESTS; ++i) {
        const std::uint8_t command = i < REQUESTS - KEPT ? GET_INFO : READ_UNIT_MEMORY;
        ASSERT_EQ(exchange(asking.value, command), command);
    }
    int kept = 0;
    std::uint8_t reply[REPORT_BYTES];
    DWORD error = 0;
    while (readReply(idle.value, reply, 200, &error)) {
        EXPECT_EQ(reply[1], READ_UNIT_MEMORY) << "an older report was kept at " << kept;
        ++kept;
    }
    EXPECT_EQ(kept, KEPT);
}

// 2. A write of another length than the output report fails at once; the handle stays usable and
//    the unit never sees it.
struct WriteLengthCase {
    const char* name;
    std::uint16_t outputReportLength;
    DWORD length;
    DWORD error;  // ERROR_SUCCESS: the write goes through
};

const WriteLengthCase WRITE_LENGTHS[] = {
    {"empty", 60, 0, ERROR_INVALID_PARAMETER},
    {"one byte", 60, 1, ERROR_INVALID_PARAMETER},
    {"one short", 60, 59, ERROR_INVALID_PARAMETER},
    {"exact", 60, 60, ERROR_SUCCESS},
    {"one long", 60, 61, ERROR_INVALID_USER_BUFFER},
    {"twice as long", 60, 120, ERROR_INVALID_USER_BUFFER},
    {"odd unit, short", 33, 32, ERROR_INVALID_PARAMETER},
    {"odd unit, exact", 33, 33, ERROR_SUCCESS},
    {"odd unit, the common 60", 33, 60, ERROR_INVALID_USER_BUFFER},
};

TEST_F(RigStack, AWriteOfAnotherLengthFailsAtOnceAndLeavesTheHandleUsable) {
    for (const WriteLengthCase& c : WRITE_LENGTHS) {
        SCOPED_TRACE(c.name);
        RigDevice device = unitDevice();
        device.config.outputReportLength = c.outputReportLength;
        const int number = rigPlug(device);
        ASSERT_GT(number, 0);
        const Handle unit(openInterface(rigDevicePath(number)));
        ASSERT_NE(unit.value, INVALID_HANDLE_VALUE);

        std::vector<std::uint8_t> request(c.length + 1, 0);
        request[0] = 0x01;
        if (c.length > 1) request[1] = GET_INFO;
        OVERLAPPED overlapped = {};
        overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        SetLastError(ERROR_SUCCESS);
        const BOOL started = WriteFile(unit.value, request.data(), c.length, nullptr, &overlapped);
        const DWORD startError = GetLastError();
        if (c.error == ERROR_SUCCESS) {
            ASSERT_TRUE(started || startError == ERROR_IO_PENDING) << startError;
            ASSERT_EQ(WaitForSingleObject(overlapped.hEvent, PROMPT_MS), WAIT_OBJECT_0);
            DWORD written = 0;
            EXPECT_TRUE(GetOverlappedResult(unit.value, &overlapped, &written, FALSE));
            EXPECT_EQ(written, c.length);
            std::uint8_t reply[REPORT_BYTES];
            DWORD error = 0;
            EXPECT_TRUE(readReply(unit.value, reply, PROMPT_MS, &error));
        } else {
            EXPECT_FALSE(started);
            EXPECT_EQ(startError, c.error) << "the write must fail at once with this error";
        }
        CloseHandle(overlapped.hEvent);

        // The handle still works.
        DWORD error = 0;
        std::uint8_t reply[REPORT_BYTES];
        ASSERT_TRUE(HidD_FlushQueue(unit.value));
        ASSERT_TRUE(writeRequest(unit.value, READ_UNIT_MEMORY, &error, c.outputReportLength)) << error;
        ASSERT_TRUE(readReply(unit.value, reply, PROMPT_MS, &error)) << error;
        EXPECT_EQ(reply[1], READ_UNIT_MEMORY);

        const SimUnit snapshot = rigUnitSnapshot(number);
        ASSERT_EQ(snapshot.transcript.size(), c.error == ERROR_SUCCESS ? 2u : 1u) << "the unit saw a refused write";
        EXPECT_EQ(snapshot.transcript.back().bytes[1], READ_UNIT_MEMORY);
    }
}

// 3. A unit that does not answer in time leaves the read waiting until the program gives up; the
//    handle stays open, and a reply that comes later waits on it.
struct SilentUnitCase {
    const char* name;
    SimFaultKind kind;
    std::uint32_t lateByMs;
    bool comesLater;
};

const SilentUnitCase SILENT_UNITS[] = {
    {"never answers", SimFaultKind::NeverAnswer, 0, false},
    {"answers after the program's limit", SimFaultKind::LateAnswer, 700, true},
};

TEST_F(RigStack, AUnitThatDoesNotAnswerInTimeLeavesTheReadWaitingAndTheHandleOpen) {
    constexpr DWORD PROGRAM_LIMIT_MS = 400;
    for (const SilentUnitCase& c : SILENT_UNITS) {
        SCOPED_TRACE(c.name);
        const int number = rigPlug(unitDevice());
        ASSERT_GT(number, 0);
        SimFault fault;
        fault.kind = c.kind;
        fault.command = GET_INFO;
        fault.lateByMs = c.lateByMs;
        rigSetFault(number, fault);
        const Handle unit(openInterface(rigDevicePath(number)));
        DWORD error = 0;
        ASSERT_TRUE(writeRequest(unit.value, GET_INFO, &error));

        std::uint8_t reply[REPORT_BYTES];
        OVERLAPPED overlapped = {};
        overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        const std::uint64_t start = rigNowUs();
        EXPECT_FALSE(ReadFile(unit.value, reply, REPORT_BYTES, nullptr, &overlapped));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, PROGRAM_LIMIT_MS), static_cast<DWORD>(WAIT_TIMEOUT))
            << "the read ended before the program gave up";
        EXPECT_GE(rigNowUs() - start, (PROGRAM_LIMIT_MS - 5) * 1000u);
        CancelIoEx(unit.value, &overlapped);
        DWORD done = 0;
        EXPECT_FALSE(GetOverlappedResult(unit.value, &overlapped, &done, TRUE));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
        CloseHandle(overlapped.hEvent);

        // Still there and still open.
        HIDD_ATTRIBUTES attributes = {};
        EXPECT_TRUE(HidD_GetAttributes(unit.value, &attributes));
        const std::vector<std::wstring> listed = enumerateInterfaces();
        EXPECT_NE(std::find(listed.begin(), listed.end(), rigDevicePath(number)), listed.end());

        if (c.comesLater) {
            ASSERT_TRUE(waitUntilNothingOwed(number, c.lateByMs + PROMPT_MS)) << "the late reply never came";
        }
        const bool read = readReply(unit.value, reply, 200, &error);
        EXPECT_EQ(read, c.comesLater);
        if (read) {
            EXPECT_EQ(reply[1], GET_INFO) << "the late reply waited on the handle";
        }
        EXPECT_EQ(exchange(unit.value, READ_UNIT_MEMORY), READ_UNIT_MEMORY) << "the handle still works";
        EXPECT_EQ(rigUnitSnapshot(number).owed.size(), c.comesLater ? 0u : 1u);
    }
}

// 4. HidD_FlushQueue drops everything queued on its handle, at once, and nothing on the others.
TEST_F(RigStack, FlushQueueDropsEverythingQueuedOnItsHandleAtOnce) {
    constexpr std::uint64_t AT_ONCE_US = 50000;  // a thread hand-over each way, on a busy machine
    constexpr std::uint32_t LATE_BY_MS = 1500;
    ASSERT_EQ(rigPlug(unitDevice()), 1);
    SimFault fault;
    fault.kind = SimFaultKind::LateAnswer;
    fault.command = GET_INFO;
    fault.lateByMs = LATE_BY_MS;
    rigSetFault(1, fault);
    const Handle asking(openInterface(rigDevicePath(1)));
    const Handle flushed(openInterface(rigDevicePath(1)));

    std::uint64_t start = rigNowUs();
    EXPECT_TRUE(HidD_FlushQueue(flushed.value)) << "nothing queued";
    const std::uint64_t emptyUs = rigNowUs() - start;

    // Four reports queued on the flushed handle, one still on the asking handle, one to come later.
    for (int i = 0; i < 3; ++i) ASSERT_EQ(exchange(asking.value, READ_UNIT_MEMORY), READ_UNIT_MEMORY);
    DWORD error = 0;
    ASSERT_TRUE(writeRequest(asking.value, READ_UNIT_MEMORY, &error));
    ASSERT_TRUE(waitUntilNothingOwed(1, PROMPT_MS)) << "the fourth reply is queued on both handles";
    ASSERT_TRUE(writeRequest(asking.value, GET_INFO, &error));

    start = rigNowUs();
    EXPECT_TRUE(HidD_FlushQueue(flushed.value));
    const std::uint64_t fullUs = rigNowUs() - start;
    std::printf("[ figures  ] HidD_FlushQueue: %.2f ms on an empty queue, %.2f ms on four reports\n",
                static_cast<double>(emptyUs) / 1000.0, static_cast<double>(fullUs) / 1000.0);
    EXPECT_LT(emptyUs, AT_ONCE_US);
    EXPECT_LT(fullUs, AT_ONCE_US) << "the flush waited";

    std::uint8_t reply[REPORT_BYTES];
    EXPECT_FALSE(readReply(flushed.value, reply, 200, &error)) << "a report survived the flush: " << int{reply[1]};
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_TIMEOUT));
    ASSERT_TRUE(readReply(asking.value, reply, PROMPT_MS, &error)) << "the other handle's queue was flushed too";
    EXPECT_EQ(reply[1], READ_UNIT_MEMORY);

    // The late reply comes after the flush: both handles get it.
    for (const HANDLE handle : {flushed.value, asking.value}) {
        ASSERT_TRUE(readReply(handle, reply, LATE_BY_MS + PROMPT_MS, &error));
        EXPECT_EQ(reply[1], GET_INFO);
    }
}

// 5. An unplug fails pending and later I/O on the unit's handles with ERROR_DEVICE_NOT_CONNECTED.
enum class Removal : std::uint8_t { Unplugged, Vanished };

struct RemovalCase {
    const char* name;
    Removal removal;
};

const RemovalCase REMOVALS[] = {{"rigUnplug", Removal::Unplugged}, {"Vanish", Removal::Vanished}};

// What a program may do on the handle afterwards; each must fail with 1167.
enum class LaterCall : std::uint8_t { Write, Read, Flush, Attributes, PreparsedData };

struct LaterCallCase {
    const char* name;
    LaterCall call;
};

const LaterCallCase LATER_CALLS[] = {
    {"WriteFile", LaterCall::Write},           {"ReadFile", LaterCall::Read},
    {"HidD_FlushQueue", LaterCall::Flush},     {"HidD_GetAttributes", LaterCall::Attributes},
    {"HidD_GetPreparsedData", LaterCall::PreparsedData},
};

// The call's last error, or ERROR_SUCCESS when it succeeded. A write or read must fail at once.
DWORD laterCallError(HANDLE unit, LaterCall call) {
    std::uint8_t report[REPORT_BYTES] = {0x01, GET_INFO};
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    BOOL done = FALSE;
    switch (call) {
        case LaterCall::Write: done = WriteFile(unit, report, REPORT_BYTES, nullptr, &overlapped); break;
        case LaterCall::Read: done = ReadFile(unit, report, REPORT_BYTES, nullptr, &overlapped); break;
        case LaterCall::Flush: done = HidD_FlushQueue(unit); break;
        case LaterCall::Attributes: {
            HIDD_ATTRIBUTES attributes = {};
            done = HidD_GetAttributes(unit, &attributes);
            break;
        }
        case LaterCall::PreparsedData: {
            PHIDP_PREPARSED_DATA preparsed = nullptr;
            done = HidD_GetPreparsedData(unit, &preparsed);
            if (done) HidD_FreePreparsedData(preparsed);
            break;
        }
    }
    DWORD error = done ? static_cast<DWORD>(ERROR_SUCCESS) : GetLastError();
    if (error == ERROR_IO_PENDING) {  // not at once: what it ends with, within a moment
        CancelIoEx(unit, &overlapped);
        DWORD transferred = 0;
        GetOverlappedResult(unit, &overlapped, &transferred, TRUE);
        error = ERROR_IO_PENDING;
    }
    CloseHandle(overlapped.hEvent);
    return error;
}

TEST_F(RigStack, AnUnplugFailsPendingAndLaterIoWithDeviceNotConnected) {
    for (const RemovalCase& removal : REMOVALS) {
        SCOPED_TRACE(removal.name);
        rigStopServer();
        ASSERT_TRUE(rigStartServer(unitsFilePath()));
        ASSERT_EQ(rigPlug(unitDevice()), 1);
        ASSERT_EQ(rigPlug(unitDevice(1)), 2);
        if (removal.removal == Removal::Vanished) {
            SimFault fault;
            fault.kind = SimFaultKind::Vanish;
            fault.command = WRITE_PROTECT;
            rigSetFault(1, fault);
        }
        const Handle unit(openInterface(rigDevicePath(1)));
        const Handle other(openInterface(rigDevicePath(1)));
        ASSERT_EQ(exchange(unit.value, GET_INFO), GET_INFO);

        // A read that waits for a reply that will never come, when the unit is pulled out.
        std::uint8_t waiting[REPORT_BYTES];
        OVERLAPPED overlapped = {};
        overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ASSERT_TRUE(HidD_FlushQueue(unit.value));
        EXPECT_FALSE(ReadFile(unit.value, waiting, REPORT_BYTES, nullptr, &overlapped));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        if (removal.removal == Removal::Unplugged) {
            rigUnplug(1);
        } else {
            // The request that makes the unit vanish: its pending write fails too.
            DWORD error = 0;
            EXPECT_FALSE(writeRequest(other.value, WRITE_PROTECT, &error));
            EXPECT_EQ(error, static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED)) << "the write that met the unplug";
        }
        // From the first failure on, nobody can open it again: not even at once.
        const Handle reopened(openInterface(rigDevicePath(1)));
        EXPECT_EQ(reopened.value, INVALID_HANDLE_VALUE) << "opened right after the first failure";
        ASSERT_EQ(WaitForSingleObject(overlapped.hEvent, PROMPT_MS), WAIT_OBJECT_0);
        DWORD done = 0;
        EXPECT_FALSE(GetOverlappedResult(unit.value, &overlapped, &done, FALSE));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED)) << "the read already waiting";
        EXPECT_EQ(static_cast<ULONG>(overlapped.Internal), 0xC000009DUL) << "STATUS_DEVICE_NOT_CONNECTED";
        CloseHandle(overlapped.hEvent);

        for (const LaterCallCase& later : LATER_CALLS) {
            EXPECT_EQ(laterCallError(unit.value, later.call), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED))
                << later.name << " after the unplug";
        }

        const std::vector<std::wstring> remaining = {rigDevicePath(2)};
        EXPECT_EQ(enumerateInterfaces(), remaining);
        const Handle reopenedLater(openInterface(rigDevicePath(1)));
        EXPECT_EQ(reopenedLater.value, INVALID_HANDLE_VALUE) << "opened after every call had failed";
        const SimUnit snapshot = rigUnitSnapshot(1);  // still there to be looked at
        EXPECT_EQ(snapshot.vanished, removal.removal == Removal::Vanished);
        EXPECT_EQ(snapshot.transcript.size(), 1u) << "the request that met a vanished unit was not carried out";
    }
}

TEST_F(RigStack, AMissingUnitsFileMeansNoListOfInterfaces) {
    const std::wstring missing = unitsFilePath() + L".missing";
    SetEnvironmentVariableW(UNITS_FILE_VARIABLE, missing.c_str());
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    EXPECT_EQ(SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE),
              INVALID_HANDLE_VALUE);
    SetEnvironmentVariableW(UNITS_FILE_VARIABLE, unitsFilePath().c_str());
    const HDEVINFO set = SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    EXPECT_NE(set, INVALID_HANDLE_VALUE);
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(RigStack, TheUnitsFileIsReplacedOnceAReaderHasClosedIt) {
    const HANDLE reader = CreateFileW(unitsFilePath().c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    std::thread closer([reader] {
        Sleep(100);
        CloseHandle(reader);
    });
    const std::uint64_t start = rigNowUs();
    EXPECT_EQ(rigPlug(unitDevice()), 1);
    EXPECT_GE(rigNowUs() - start, 90000u) << "the file was replaced under an open reader";
    closer.join();
    EXPECT_EQ(enumerateInterfaces().size(), 1u);
}

TEST_F(RigStack, TheSystemLibrariesFindNoDisplayDevicesAndCarryOn) {
    const GUID monitors = {0xE6F07B5F, 0xEE97, 0x4A90, {0xB0, 0x76, 0x33, 0xF5, 0x7B, 0xF4, 0xEA, 0xA7}};
    const HDEVINFO set = SetupDiGetClassDevsW(&monitors, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVINFO_DATA info = {};
    info.cbSize = sizeof info;
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set)) << "a set is destroyed once";

    // user32 and gdi32 reach SetupAPI here; without the stubs the process would crash.
    UINT32 paths = 0;
    UINT32 modes = 0;
    const LONG sizes = GetDisplayConfigBufferSizes(QDC_ONLY_ACTIVE_PATHS, &paths, &modes);
    std::printf("[ figures  ] GetDisplayConfigBufferSizes: %ld, %u paths\n", sizes, paths);
    DISPLAY_DEVICEW display = {};
    display.cb = sizeof display;
    EnumDisplayDevicesW(nullptr, 0, &display, 0);
    SUCCEED();
}

// A second simulator in the same prefix: one left running by an earlier run fails the start once
// the bound has passed; one that is still stopping (a test program that has just ended) is waited
// for, and its device paths too.
struct StaleServerCase {
    const char* name;
    bool releasedBeforeTheStart;
    DWORD staleWaitMs;
    bool starts;
};

const StaleServerCase STALE_SERVERS[] = {
    {"keeps running", false, 300, false},
    {"is stopping", true, RIG_STALE_SERVER_WAIT_MS, true},
};

TEST(RigServerStart, WaitsForAStoppingSimulatorAndFailsWhileAStaleOneRuns) {
    for (const StaleServerCase& c : STALE_SERVERS) {
        SCOPED_TRACE(c.name);
        const std::wstring tag = std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(c.staleWaitMs);
        const Handle ready(CreateEventW(nullptr, TRUE, FALSE, (L"Local\\quenlor-rig-ready-" + tag).c_str()));
        const Handle release(CreateEventW(nullptr, TRUE, FALSE, (L"Local\\quenlor-rig-release-" + tag).c_str()));
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring command = L"\"" + std::wstring(self) + L"\" " + HOLD_SERVER_ARGUMENT + L" " + tag;
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process = {};
        ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                   &process));
        const Handle child(process.hProcess);
        CloseHandle(process.hThread);
        ASSERT_EQ(WaitForSingleObject(ready.value, 10000), WAIT_OBJECT_0);

        if (c.releasedBeforeTheStart) SetEvent(release.value);
        const ULONGLONG start = GetTickCount64();
        EXPECT_EQ(rigStartServer(unitsFilePath(), c.staleWaitMs), c.starts);
        const ULONGLONG waited = GetTickCount64() - start;
        std::printf("[ figures  ] a simulator that %s: the start %s after %llu ms\n", c.name,
                    c.starts ? "succeeded" : "failed", waited);
        if (!c.starts) {
            EXPECT_GE(waited, c.staleWaitMs) << "gave up before the bound";
            SetEvent(release.value);
            EXPECT_TRUE(rigStartServer(unitsFilePath()));
        }
        EXPECT_EQ(rigPlug(unitDevice()), 1) << "the earlier simulator's device pipes are gone";
        rigStopServer();

        ASSERT_EQ(WaitForSingleObject(child.value, 10000), WAIT_OBJECT_0);
        DWORD exitCode = 1;
        GetExitCodeProcess(child.value, &exitCode);
        EXPECT_EQ(exitCode, 0u);
    }
}

// The child of the test above: serves one unit until told to stop.
int holdServer(const wchar_t* tag) {
    const std::wstring units = unitsFilePath();
    if (!rigStartServer(units) || rigPlug(unitDevice()) != 1) return 2;
    const Handle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, (std::wstring(L"Local\\quenlor-rig-ready-") + tag).c_str()));
    const Handle release(OpenEventW(SYNCHRONIZE, FALSE, (std::wstring(L"Local\\quenlor-rig-release-") + tag).c_str()));
    if (ready.value == nullptr || release.value == nullptr) return 3;
    SetEvent(ready.value);
    WaitForSingleObject(release.value, 20000);
    rigStopServer();
    DeleteFileW(units.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int wideCount = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &wideCount);
    if (wide != nullptr && wideCount == 3 && std::wcscmp(wide[1], HOLD_SERVER_ARGUMENT) == 0) return holdServer(wide[2]);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// The simulated unit itself, where the Wine rig and the demo rely on it: the ESC's flash under
// erase and write, the write position, the protection, the records, the replies and the faults.
#include "sim/sim_unit.h"

#include "device/device_link.h"
#include "device/little_endian.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t MS = 1000;

Bytes request(std::uint8_t command, std::uint8_t byte2 = 0, std::uint8_t byte3 = 0) {
    Bytes r(SIM_REPORT_BYTES, 0);
    r[0] = REQUEST_REPORT_ID;
    r[1] = command;
    r[2] = byte2;
    r[3] = byte3;
    return r;
}

Bytes eraseRequest(std::uint32_t guard = GUARD_CODE) {
    Bytes r = request(CMD_ERASE_FIRMWARE, 4);
    writeLe32(r.data() + 4, guard);
    return r;
}

Bytes addressRequest(std::uint32_t address, std::uint32_t guard = GUARD_CODE) {
    Bytes r = request(CMD_SET_WRITE_ADDRESS, 9, 1);
    writeLe32(r.data() + 4, address);
    writeLe32(r.data() + 8, guard);
    return r;
}

Bytes dataRequest(std::uint8_t first, std::uint8_t count) {
    Bytes r = request(CMD_WRITE_DATA, count);
    for (std::uint8_t i = 0; i < count; ++i) r[4u + i] = static_cast<std::uint8_t>(first + i);
    return r;
}

class SimUnitTest : public ::testing::Test {
protected:
    void SetUp() override { simInitUnit(unit, SimConfig{}); }

    // Sends a request and takes its reply when it is due; the reply's 60 bytes.
    Bytes exchange(const Bytes& r) {
        EXPECT_TRUE(simWriteRequest(unit, r.data(), static_cast<std::uint32_t>(r.size()), nowUs));
        Bytes reply(SIM_REPORT_BYTES, 0xEE);
        std::uint64_t readyAt = 0;
        SimReadOutcome outcome = simReadReply(unit, reply.data(), SIM_REPORT_BYTES, nowUs, &readyAt);
        if (outcome == SimReadOutcome::NotYet && readyAt != UINT64_MAX) {
            nowUs = readyAt;
            outcome = simReadReply(unit, reply.data(), SIM_REPORT_BYTES, nowUs, &readyAt);
        }
        EXPECT_EQ(outcome, SimReadOutcome::Reply);
        return reply;
    }
    static std::uint32_t errorOf(const Bytes& reply) { return reply[1] == 0xFF ? readLe32(reply.data() + 4) : 0; }
    void unprotect() { ASSERT_EQ(errorOf(exchange(request(CMD_WRITE_PROTECT, 1, 0))), 0u); }

    SimUnit unit;
    std::uint64_t nowUs = 0;
};

TEST_F(SimUnitTest, AFreshUnitHoldsFirmwareAndIsProtected) {
    ASSERT_EQ(unit.flash.size(), SIM_FLASH_BYTES);
    for (std::uint32_t i = 0; i < SIM_FLASH_BYTES; ++i) {
        ASSERT_NE(unit.flash[i], 0xFF) << i;
        ASSERT_EQ(unit.flash[i], simFlashPatternByte(i)) << i;
    }
    EXPECT_TRUE(unit.writeProtection);
    EXPECT_FALSE(unit.systemLock);
    EXPECT_EQ(unit.writePosition, 0u);
    EXPECT_EQ(unit.escFirmwareVersion, SimConfig{}.escFirmwareVersion);
}

TEST_F(SimUnitTest, EraseNeedsTheGuardCodeAndNoProtection) {
    EXPECT_EQ(errorOf(exchange(eraseRequest())), SIM_ERROR_PROTECTED);
    EXPECT_EQ(unit.flash[0], simFlashPatternByte(0));
    unprotect();
    EXPECT_EQ(errorOf(exchange(eraseRequest(0x5EC0A7D0))), SIM_ERROR_GUARD_CODE);
    EXPECT_EQ(errorOf(exchange(eraseRequest(0xD1A7C05E))), SIM_ERROR_GUARD_CODE);  // byte order matters
    EXPECT_EQ(unit.flash[100], simFlashPatternByte(100));
    EXPECT_NE(unit.escFirmwareVersion, 0xFFFF);

    const std::uint64_t sentAt = nowUs;
    EXPECT_EQ(errorOf(exchange(eraseRequest())), 0u);
    EXPECT_EQ(nowUs - sentAt, SimConfig{}.eraseDurationMs * MS);
    for (std::uint8_t b : unit.flash) ASSERT_EQ(b, 0xFF);
    EXPECT_EQ(unit.escFirmwareVersion, 0xFFFF);
}

TEST_F(SimUnitTest, BlocksFollowEachOtherFromTheWriteAddress) {
    EXPECT_EQ(errorOf(exchange(dataRequest(1, 8))), SIM_ERROR_PROTECTED);
    EXPECT_EQ(unit.writePosition, 0u);
    unprotect();
    EXPECT_EQ(errorOf(exchange(addressRequest(0x100, 0))), SIM_ERROR_GUARD_CODE);
    EXPECT_EQ(unit.writePosition, 0u);
    EXPECT_EQ(errorOf(exchange(addressRequest(0x100))), 0u);
    EXPECT_EQ(unit.writePosition, 0x100u);
    EXPECT_EQ(errorOf(exchange(dataRequest(0x10, 48))), 0u);
    EXPECT_EQ(errorOf(exchange(dataRequest(0x60, 8))), 0u);
    EXPECT_EQ(errorOf(exchange(dataRequest(0x70, 0))), 0u);
    EXPECT_EQ(unit.writePosition, 0x100u + 56);
    for (std::uint32_t i = 0; i < 48; ++i) EXPECT_EQ(unit.flash[0x100 + i], 0x10 + i);
    for (std::uint32_t i = 0; i < 8; ++i) EXPECT_EQ(unit.flash[0x130 + i], 0x60 + i);
    EXPECT_EQ(unit.flash[0x0FF], simFlashPatternByte(0x0FF));
    EXPECT_EQ(unit.flash[0x138], simFlashPatternByte(0x138));
}

TEST_F(SimUnitTest, NothingIsWrittenPastTheFlashEnd) {
    unprotect();
    EXPECT_EQ(errorOf(exchange(addressRequest(SIM_FLASH_BYTES + 1))), SIM_ERROR_FLASH_END);
    EXPECT_EQ(errorOf(exchange(addressRequest(SIM_FLASH_BYTES - 8))), 0u);
    EXPECT_EQ(errorOf(exchange(dataRequest(1, 12))), SIM_ERROR_FLASH_END);
    EXPECT_EQ(unit.flash[SIM_FLASH_BYTES - 1], simFlashPatternByte(SIM_FLASH_BYTES - 1));
    EXPECT_EQ(errorOf(exchange(dataRequest(1, 8))), 0u);
    EXPECT_EQ(unit.writePosition, SIM_FLASH_BYTES);
    EXPECT_EQ(errorOf(exchange(dataRequest(1, 4))), SIM_ERROR_FLASH_END);
}

TEST_F(SimUnitTest, ABlockLongerThanItsReportIsRefused) {
    SimConfig c;
    c.outputReportLength = 20;
    simInitUnit(unit, c);
    Bytes r = request(CMD_WRITE_PROTECT, 1, 0);
    r.resize(20);
    EXPECT_EQ(errorOf(exchange(r)), 0u);
    r = dataRequest(1, 48);
    r.resize(20);
    EXPECT_EQ(errorOf(exchange(r)), SIM_ERROR_BAD_LENGTH);
    EXPECT_EQ(unit.writePosition, 0u);
    r = dataRequest(1, 16);
    r.resize(20);
    EXPECT_EQ(errorOf(exchange(r)), 0u);
    EXPECT_EQ(unit.writePosition, 16u);
}

TEST_F(SimUnitTest, ProtectionBackOnAfterDataMeansTheNewFirmware) {
    unprotect();
    exchange(eraseRequest());
    EXPECT_EQ(unit.escFirmwareVersion, 0xFFFF);
    exchange(request(CMD_WRITE_PROTECT, 1, 1));
    EXPECT_EQ(unit.escFirmwareVersion, 0xFFFF);  // erased, nothing written: still no firmware
    unprotect();
    exchange(addressRequest(0));
    exchange(dataRequest(0, 48));
    const Bytes reply = exchange(request(CMD_WRITE_PROTECT, 1, 1));
    EXPECT_EQ(reply[3], 1);
    EXPECT_EQ(unit.escFirmwareVersion, SIM_WRITTEN_FIRMWARE_VERSION);
    const Bytes record = exchange(request(CMD_READ_ESC_RECORD, 8));
    EXPECT_EQ(readLe16(record.data() + 8), 0x0200);
}

TEST_F(SimUnitTest, RepliesFollowTheLayouts) {
    SimConfig c;
    c.unitFirmwareVersion = 0x11223344;
    c.unitExtra = 0x55667788;
    c.attachedType = 3;
    c.attachedExtra = 0x99AA;
    c.escHardwareId = 0x111F403C;
    c.escBootloaderVersion = 0x0204;
    c.escFirmwareVersion = 0x0105;
    simInitUnit(unit, c);

    const Bytes info = exchange(request(CMD_GET_INFO));
    EXPECT_EQ(info[0], REPLY_REPORT_ID);
    EXPECT_NE(info[1], 0xFF);
    EXPECT_EQ(info[3], 0);
    EXPECT_EQ(readLe16(info.data() + 4), 3);
    EXPECT_EQ(readLe16(info.data() + 6), 0x99AA);
    EXPECT_EQ(readLe32(info.data() + 8), 0x11223344u);
    EXPECT_EQ(readLe32(info.data() + 12), 0x55667788u);

    const Bytes record = exchange(request(CMD_READ_ESC_RECORD, 8));
    EXPECT_EQ(readLe16(record.data() + 8), 0x0105);
    const Bytes boot = exchange(request(CMD_READ_BOOT_RECORD));
    EXPECT_EQ(readLe32(boot.data() + 4), 0x111F403Cu);
    EXPECT_EQ(readLe32(boot.data() + 8), 0x0204u);

    const Bytes lock = exchange(request(CMD_SYSTEM_LOCK, 1, 9));
    EXPECT_EQ(lock[3], 1);
    EXPECT_TRUE(unit.systemLock);
    const Bytes unlock = exchange(request(CMD_SYSTEM_LOCK, 1, 0));
    EXPECT_EQ(unlock[3], 0);
    EXPECT_FALSE(unit.systemLock);
}

TEST_F(SimUnitTest, BootloaderModeLayoutAndUnitMemory) {
    SimConfig c;
    c.unitMode = 1;
    c.bootInfoA = 0xA1;
    c.bootInfoB = 0xB2B1;
    c.bootInfoC = 0xC4C3C2C1;
    c.bootInfoD = 0xD4D3D2D1;
    c.bootInfoE = 0xE1;
    c.unitFirmwareVersion = 0x00020103;
    c.unitExtra = 0x0000BEEF;
    simInitUnit(unit, c);
    const Bytes info = exchange(request(CMD_GET_INFO));
    const Bytes expected = {0x02, info[1], info[2], 0x01, 0xA1, 0xB1, 0xB2, 0xC1,
                            0xC2, 0xC3,    0xC4,    0xD1, 0xD2, 0xD3, 0xD4, 0xE1};
    EXPECT_EQ(Bytes(info.begin(), info.begin() + 16), expected);
    EXPECT_NE(info[1], 0xFF);

    struct Case {
        std::uint32_t address;
        std::uint32_t firstWord;   // reply bytes 4 to 7
        std::uint32_t secondWord;  // reply bytes 8 to 11
        std::uint32_t thirdWord;   // reply bytes 12 to 15
    };
    const Case cases[] = {
        {UNIT_MEMORY_RECORD_ADDRESS, 0x5A5A5A5A, 0x00020103, 0x0000BEEF},
        {UNIT_MEMORY_RECORD_ADDRESS + 4, 0x00020103, 0x0000BEEF, 0xFFFFFFFF},
        {UNIT_MEMORY_RECORD_ADDRESS - 4, 0xFFFFFFFF, 0x5A5A5A5A, 0x00020103},
        {0x08000000, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF},
        {0xFFFFFFFC, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.address);
        Bytes r = request(CMD_READ_UNIT_MEMORY, 12);
        writeLe32(r.data() + 4, k.address);
        const Bytes reply = exchange(r);
        EXPECT_NE(reply[1], 0xFF);
        EXPECT_EQ(readLe32(reply.data() + 4), k.firstWord);
        EXPECT_EQ(readLe32(reply.data() + 8), k.secondWord);
        EXPECT_EQ(readLe32(reply.data() + 12), k.thirdWord);
    }
}

TEST_F(SimUnitTest, RepliesAreCutToTheInputReportLength) {
    SimConfig c;
    c.inputReportLength = 10;
    simInitUnit(unit, c);
    const Bytes boot = exchange(request(CMD_READ_BOOT_RECORD));
    EXPECT_EQ(readLe32(boot.data() + 4), c.escHardwareId);
    for (std::size_t i = 10; i < boot.size(); ++i) EXPECT_EQ(boot[i], 0) << i;
    // A read into a buffer shorter than the input report fails and leaves the reply queued.
    const Bytes info = request(CMD_GET_INFO);
    ASSERT_TRUE(simWriteRequest(unit, info.data(), SIM_REPORT_BYTES, nowUs));
    std::uint8_t small[9];
    EXPECT_EQ(simReadReply(unit, small, sizeof small, nowUs, nullptr), SimReadOutcome::Failed);
    EXPECT_EQ(unit.owed.size(), 1u);
}

TEST_F(SimUnitTest, RequestsOfAnotherLengthOrReportIdNeverArrive) {
    Bytes r = request(CMD_SYSTEM_LOCK, 1, 1);
    EXPECT_FALSE(simWriteRequest(unit, r.data(), 59, 0));
    r[0] = 0x02;
    EXPECT_FALSE(simWriteRequest(unit, r.data(), 60, 0));
    EXPECT_TRUE(unit.transcript.empty());
    EXPECT_TRUE(unit.owed.empty());
    EXPECT_FALSE(unit.systemLock);
}

TEST_F(SimUnitTest, TranscriptRecordsTimes) {
    nowUs = 1234;
    exchange(request(CMD_GET_INFO));
    ASSERT_EQ(unit.transcript.size(), 1u);
    EXPECT_EQ(unit.transcript[0].receivedAtUs, 1234u);
    EXPECT_EQ(unit.transcript[0].repliedAtUs, 1234u);
    EXPECT_EQ(unit.transcript[0].length, 60u);
    EXPECT_EQ(simCountRequests(unit, CMD_GET_INFO), 1u);
    EXPECT_EQ(simCountRequests(unit, CMD_WRITE_DATA), 0u);
}

TEST_F(SimUnitTest, FaultsFireOnceAtTheOrderedBlock) {
    unprotect();
    SimFault f;
    f.kind = SimFaultKind::FailWrite;
    f.command = CMD_WRITE_DATA;
    f.blockIndex = 2;
    simSetFault(unit, f);
    const Bytes block = dataRequest(0x30, 8);
    exchange(block);
    exchange(block);
    EXPECT_FALSE(simWriteRequest(unit, block.data(), SIM_REPORT_BYTES, nowUs));  // block 2
    EXPECT_EQ(unit.writePosition, 16u);
    exchange(block);  // it fired once only
    EXPECT_EQ(unit.writePosition, 24u);
    EXPECT_EQ(simCountRequests(unit, CMD_WRITE_DATA), 3u);
}

TEST_F(SimUnitTest, FailReadTakesEffectButLosesTheReply) {
    unprotect();
    SimFault f;
    f.kind = SimFaultKind::FailRead;
    f.command = CMD_WRITE_DATA;
    simSetFault(unit, f);
    const Bytes r = dataRequest(0x77, 4);
    ASSERT_TRUE(simWriteRequest(unit, r.data(), SIM_REPORT_BYTES, 0));
    std::uint8_t reply[SIM_REPORT_BYTES];
    EXPECT_EQ(simReadReply(unit, reply, SIM_REPORT_BYTES, 0, nullptr), SimReadOutcome::Failed);
    EXPECT_EQ(unit.flash[0], 0x77);
    EXPECT_EQ(unit.writePosition, 4u);
    EXPECT_EQ(unit.transcript.back().repliedAtUs, 0u);
}

TEST_F(SimUnitTest, ErrorReplyLeavesTheStateAndReportsIt) {
    exchange(request(CMD_SYSTEM_LOCK, 1, 1));
    SimFault f;
    f.kind = SimFaultKind::ErrorReply;
    f.command = CMD_SYSTEM_LOCK;
    f.errorCode = 0xA1B2C3D4;
    simSetFault(unit, f);
    const Bytes reply = exchange(request(CMD_SYSTEM_LOCK, 1, 0));
    EXPECT_EQ(reply[1], 0xFF);
    EXPECT_EQ(reply[3], 1);
    EXPECT_EQ(readLe32(reply.data() + 4), 0xA1B2C3D4u);
    EXPECT_TRUE(unit.systemLock);

    // An erase that fails leaves the firmware in place.
    unprotect();
    f.command = CMD_ERASE_FIRMWARE;
    f.errorCode = 0x00AB0000;
    simSetFault(unit, f);
    EXPECT_EQ(errorOf(exchange(eraseRequest())), 0x00AB0000u);
    EXPECT_EQ(unit.flash[0], simFlashPatternByte(0));
}

TEST_F(SimUnitTest, WrongStateIsOnlyAnEcho) {
    SimFault f;
    f.kind = SimFaultKind::WrongState;
    f.command = CMD_WRITE_PROTECT;
    f.echoedState = 1;
    simSetFault(unit, f);
    const Bytes reply = exchange(request(CMD_WRITE_PROTECT, 1, 0));
    EXPECT_EQ(reply[3], 1);
    EXPECT_NE(reply[1], 0xFF);
    EXPECT_FALSE(unit.writeProtection);
}

TEST_F(SimUnitTest, NeverAndLateAnswers) {
    SimFault f;
    f.kind = SimFaultKind::NeverAnswer;
    f.command = CMD_GET_INFO;
    simSetFault(unit, f);
    const Bytes r = request(CMD_GET_INFO);
    ASSERT_TRUE(simWriteRequest(unit, r.data(), SIM_REPORT_BYTES, 0));
    std::uint8_t reply[SIM_REPORT_BYTES];
    std::uint64_t readyAt = 0;
    EXPECT_EQ(simReadReply(unit, reply, SIM_REPORT_BYTES, 1000000000, &readyAt), SimReadOutcome::NotYet);
    EXPECT_EQ(readyAt, UINT64_MAX);
    simDiscardReadyReplies(unit, 1000000000);
    EXPECT_EQ(unit.owed.size(), 1u);  // a reply that never comes is never ready to drop

    simInitUnit(unit, SimConfig{});
    f.kind = SimFaultKind::LateAnswer;
    f.lateByMs = 7;
    simSetFault(unit, f);
    ASSERT_TRUE(simWriteRequest(unit, r.data(), SIM_REPORT_BYTES, 100));
    ASSERT_TRUE(simWriteRequest(unit, r.data(), SIM_REPORT_BYTES, 200));
    // The second, prompt reply overtakes the late first one.
    EXPECT_EQ(simReadReply(unit, reply, SIM_REPORT_BYTES, 200, &readyAt), SimReadOutcome::Reply);
    EXPECT_EQ(unit.transcript[1].repliedAtUs, 200u);
    EXPECT_EQ(simReadReply(unit, reply, SIM_REPORT_BYTES, 200, &readyAt), SimReadOutcome::NotYet);
    EXPECT_EQ(readyAt, 100u + 7 * MS);
    simDiscardReadyReplies(unit, 100 + 7 * MS);
    EXPECT_TRUE(unit.owed.empty());
}

TEST_F(SimUnitTest, VanishFailsEverythingFromThenOn) {
    SimFault f;
    f.kind = SimFaultKind::Vanish;
    f.command = CMD_WRITE_DATA;
    f.blockIndex = 1;
    simSetFault(unit, f);
    unprotect();
    const Bytes block = dataRequest(0, 8);
    exchange(block);
    EXPECT_FALSE(simWriteRequest(unit, block.data(), SIM_REPORT_BYTES, nowUs));
    const Bytes info = request(CMD_GET_INFO);
    EXPECT_FALSE(simWriteRequest(unit, info.data(), SIM_REPORT_BYTES, nowUs));
    std::uint8_t reply[SIM_REPORT_BYTES];
    EXPECT_EQ(simReadReply(unit, reply, SIM_REPORT_BYTES, nowUs, nullptr), SimReadOutcome::Failed);
    EXPECT_TRUE(unit.vanished);
    EXPECT_EQ(unit.writePosition, 8u);
}

TEST_F(SimUnitTest, UnknownCommandsGetAnErrorReply) {
    for (int code : {0x00, 0x09, 0x1C, 0x21, 0xFF}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(errorOf(exchange(request(static_cast<std::uint8_t>(code)))), SIM_ERROR_UNKNOWN_COMMAND);
    }
}

TEST_F(SimUnitTest, EscCommandsNeedAnUpdatableEscAndTheApplicationMode) {
    SimConfig noEsc;
    noEsc.attachedType = 2;
    SimConfig bootloader;
    bootloader.unitMode = 1;
    for (const SimConfig& c : {noEsc, bootloader}) {
        simInitUnit(unit, c);
        unit.writeProtection = false;
        for (const Bytes& r : {request(CMD_READ_ESC_RECORD, 8), request(CMD_READ_BOOT_RECORD), eraseRequest(),
                               addressRequest(0), dataRequest(0, 4), request(CMD_WRITE_PROTECT, 1, 1)}) {
            SCOPED_TRACE(int{r[1]});
            EXPECT_EQ(errorOf(exchange(r)), SIM_ERROR_NO_ESC);
        }
        EXPECT_EQ(unit.flash[0], simFlashPatternByte(0));
        EXPECT_FALSE(unit.writeProtection);
    }
}

}  // namespace

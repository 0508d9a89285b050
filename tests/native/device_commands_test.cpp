// The command reports against the simulated unit: the bytes that go out, every result of every
// command, the state echo, both halves of the error code, the block bound and the link's state
// after each failure.
#include "device_test_support.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

std::uint8_t BlockData[4 * 15];

std::int32_t lockOn(DeviceLinkRecord& l) { return setSystemLock(l, 1); }
std::int32_t lockOff(DeviceLinkRecord& l) { return setSystemLock(l, 0); }
std::int32_t lockSeven(DeviceLinkRecord& l) { return setSystemLock(l, 7); }
std::int32_t protectOn(DeviceLinkRecord& l) { return setWriteProtection(l, 1); }
std::int32_t protectOff(DeviceLinkRecord& l) { return setWriteProtection(l, 0); }
std::int32_t protectFive(DeviceLinkRecord& l) { return setWriteProtection(l, 5); }
std::int32_t erase(DeviceLinkRecord& l) { return eraseFirmware(l); }
std::int32_t setAddress(DeviceLinkRecord& l) { return setWriteAddress(l); }
std::int32_t block0(DeviceLinkRecord& l) { return writeDataBlock(l, BlockData, 0); }
std::int32_t block12(DeviceLinkRecord& l) { return writeDataBlock(l, BlockData, 12); }
std::int32_t block14(DeviceLinkRecord& l) { return writeDataBlock(l, BlockData, 14); }
std::int32_t block15(DeviceLinkRecord& l) { return writeDataBlock(l, BlockData, 15); }

void fillBlockData() {
    for (std::uint32_t i = 0; i < sizeof BlockData; ++i) BlockData[i] = static_cast<std::uint8_t>(0xA0 + i);
}

Bytes withData(Bytes head, std::uint32_t dataBytes) {
    for (std::uint32_t i = 0; i < dataBytes; ++i) head.push_back(BlockData[i]);
    return head;
}

struct RequestCase {
    const char* name;
    std::int32_t (*run)(DeviceLinkRecord&);
    Bytes expected;  // from byte 0; every later byte of the 60 must be zero
};

class Commands : public LinkTest {
protected:
    void SetUp() override {
        LinkTest::SetUp();
        fillBlockData();
        ASSERT_EQ(plugAndOpen(), RESULT_OK);
        // The update lifts the protection first; most commands below need it off.
        ASSERT_EQ(setWriteProtection(link, 0), RESULT_OK);
    }
};

TEST_F(Commands, RequestBytesAsTheyGoOut) {
    const RequestCase cases[] = {
        {"lock on", lockOn, {0x01, 0x0B, 0x01, 0x01}},
        {"lock off", lockOff, {0x01, 0x0B, 0x01, 0x00}},
        {"lock 7 sends 1", lockSeven, {0x01, 0x0B, 0x01, 0x01}},
        {"protection off", protectOff, {0x01, 0x20, 0x01, 0x00}},
        {"protection on", protectOn, {0x01, 0x20, 0x01, 0x01}},
        {"protection 5 sends 1", protectFive, {0x01, 0x20, 0x01, 0x01}},
        {"erase with guard code", erase, {0x01, 0x1E, 0x04, 0x00, 0xD1, 0xA7, 0xC0, 0x5E}},
        {"write address 0 with guard code", setAddress,
         {0x01, 0x1F, 0x09, 0x01, 0x00, 0x00, 0x00, 0x00, 0xD1, 0xA7, 0xC0, 0x5E}},
        {"block of 0 words", block0, {0x01, 0x1B, 0x00}},
        {"block of 12 words", block12, withData({0x01, 0x1B, 0x30, 0x00}, 48)},
        {"block of 14 words", block14, withData({0x01, 0x1B, 0x38, 0x00}, 56)},
    };
    for (const RequestCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t before = requestCount();
        c.run(link);
        ASSERT_EQ(requestCount(), before + 1);
        EXPECT_EQ(lastRequest().length, 60u);
        Bytes expected = c.expected;
        expected.resize(SIM_REPORT_BYTES, 0);
        EXPECT_EQ(hex(requestBytes(lastRequest())), hex(expected));
    }
}

TEST_F(Commands, FifteenWordsAreRefusedAndNothingIsSent) {
    const std::uint32_t writes = simBusCounters().writes;
    const std::size_t requests = requestCount();
    EXPECT_EQ(block15(link), RESULT_NO_LINK);
    EXPECT_EQ(simBusCounters().writes, writes);
    EXPECT_EQ(requestCount(), requests);
    EXPECT_TRUE(isDeviceLinkOpen(link));
    EXPECT_EQ(writeDataBlock(link, BlockData, 0xFFFFFFFF), RESULT_NO_LINK);
    EXPECT_EQ(writeDataBlock(link, BlockData, 0x40000001), RESULT_NO_LINK);  // 4 x words would wrap to 4
    EXPECT_EQ(simBusCounters().writes, writes);
}

TEST_F(Commands, ZeroWordsNeedNoData) {
    EXPECT_EQ(writeDataBlock(link, nullptr, 0), RESULT_OK);
    EXPECT_EQ(lastRequest().bytes[2], 0);
}

// The result of each command under each way the unit can fail. The unit starts with the lock off
// and the protection off.
struct ResultCase {
    const char* name;
    std::int32_t (*run)(DeviceLinkRecord&);
    std::uint8_t command;
    std::int32_t errorReply42;    // error reply with code 42 (state byte: the unit's state)
    std::int32_t errorReplyHigh;  // error reply with code 0x00070000, only the high half set
    std::int32_t errorReplyZero;  // error reply with code 0
    std::int32_t echoTwo;         // byte 3 of an ordinary reply is 2
};

const ResultCase ResultCases[] = {
    {"lock on", lockOn, CMD_SYSTEM_LOCK, RESULT_STATE_MISMATCH, RESULT_STATE_MISMATCH, RESULT_STATE_MISMATCH,
     RESULT_STATE_MISMATCH},
    {"lock off", lockOff, CMD_SYSTEM_LOCK, RESULT_OK, RESULT_OK, RESULT_OK, RESULT_STATE_MISMATCH},
    {"protection on", protectOn, CMD_WRITE_PROTECT, 42, 0x00070000, RESULT_OK, RESULT_STATE_MISMATCH},
    {"protection off", protectOff, CMD_WRITE_PROTECT, 42, 0x00070000, RESULT_OK, RESULT_STATE_MISMATCH},
    {"erase", erase, CMD_ERASE_FIRMWARE, 42, 0x00070000, RESULT_OK, RESULT_OK},
    {"write address", setAddress, CMD_SET_WRITE_ADDRESS, 42, 0x00070000, RESULT_OK, RESULT_OK},
    {"data block", block12, CMD_WRITE_DATA, 42, 0x00070000, RESULT_OK, RESULT_OK},
};

TEST_F(Commands, ErrorRepliesTakeAllThirtyTwoBitsAndTheLockOnlyItsState) {
    for (const ResultCase& c : ResultCases) {
        SCOPED_TRACE(c.name);
        SimFault f = makeFault(SimFaultKind::ErrorReply, c.command);
        f.errorCode = 42;
        fault(f);
        EXPECT_EQ(c.run(link), c.errorReply42);
        f.errorCode = 0x00070000;
        fault(f);
        EXPECT_EQ(c.run(link), c.errorReplyHigh);
        f.errorCode = 0;
        fault(f);
        EXPECT_EQ(c.run(link), c.errorReplyZero);
        EXPECT_TRUE(isDeviceLinkOpen(link));
    }
}

TEST_F(Commands, StateByteOfTwoOrMoreIsAMismatchOnlyForStateCommands) {
    for (const ResultCase& c : ResultCases) {
        SCOPED_TRACE(c.name);
        SimFault f = makeFault(SimFaultKind::WrongState, c.command);
        f.echoedState = 2;
        fault(f);
        EXPECT_EQ(c.run(link), c.echoTwo);
        f.echoedState = 0xFF;
        fault(f);
        EXPECT_EQ(c.run(link), c.echoTwo);
    }
}

TEST_F(Commands, StateEchoIsComparedAsZeroOrOne) {
    struct Case {
        const char* name;
        std::int32_t (*run)(DeviceLinkRecord&);
        std::uint8_t command;
        std::uint8_t echoed;
        std::int32_t result;
    };
    const Case cases[] = {
        {"lock on, echo 1", lockOn, CMD_SYSTEM_LOCK, 1, RESULT_OK},
        {"lock on, echo 0", lockOn, CMD_SYSTEM_LOCK, 0, RESULT_STATE_MISMATCH},
        {"lock 7, echo 1", lockSeven, CMD_SYSTEM_LOCK, 1, RESULT_OK},
        {"lock 7, echo 7", lockSeven, CMD_SYSTEM_LOCK, 7, RESULT_STATE_MISMATCH},
        {"lock off, echo 1", lockOff, CMD_SYSTEM_LOCK, 1, RESULT_STATE_MISMATCH},
        {"lock off, echo 0", lockOff, CMD_SYSTEM_LOCK, 0, RESULT_OK},
        {"protection 5, echo 1", protectFive, CMD_WRITE_PROTECT, 1, RESULT_OK},
        {"protection 5, echo 5", protectFive, CMD_WRITE_PROTECT, 5, RESULT_STATE_MISMATCH},
        {"protection on, echo 0", protectOn, CMD_WRITE_PROTECT, 0, RESULT_STATE_MISMATCH},
        {"protection off, echo 1", protectOff, CMD_WRITE_PROTECT, 1, RESULT_STATE_MISMATCH},
        {"protection off, echo 0", protectOff, CMD_WRITE_PROTECT, 0, RESULT_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimFault f = makeFault(SimFaultKind::WrongState, c.command);
        f.echoedState = c.echoed;
        fault(f);
        EXPECT_EQ(c.run(link), c.result);
    }
}

TEST_F(Commands, LockErrorReplyIsJudgedByItsStateByte) {
    // The lock is already on: an error reply that still reports it on is a success.
    ASSERT_EQ(setSystemLock(link, 1), RESULT_OK);
    SimFault f = makeFault(SimFaultKind::ErrorReply, CMD_SYSTEM_LOCK);
    f.errorCode = 0x1234;
    fault(f);
    EXPECT_EQ(setSystemLock(link, 1), RESULT_OK);
    script({errorReply(0x1234, 0)});
    EXPECT_EQ(setSystemLock(link, 1), RESULT_STATE_MISMATCH);
    script({errorReply(0, 2)});
    EXPECT_EQ(setSystemLock(link, 1), RESULT_STATE_MISMATCH);
}

TEST_F(Commands, ProtectionErrorReplyWithCodeZeroSucceedsWhateverItsState) {
    for (std::uint8_t state : {std::uint8_t{0}, std::uint8_t{1}, std::uint8_t{2}, std::uint8_t{0xFF}}) {
        SCOPED_TRACE(state);
        script({errorReply(0, state)});
        EXPECT_EQ(setWriteProtection(link, 1), RESULT_OK);
    }
    script({errorReply(0x0000BEEF, 1)});
    EXPECT_EQ(setWriteProtection(link, 1), 0xBEEF);
}

TEST_F(Commands, ErrorCodesPassUnchangedIncludingTheTopBit) {
    script({errorReply(0x80000005)});
    EXPECT_EQ(eraseFirmware(link), static_cast<std::int32_t>(0x80000005u));
    script({errorReply(0x00010000)});
    EXPECT_EQ(setWriteAddress(link), 0x00010000);
    script({errorReply(0x0001FFFF)});
    EXPECT_EQ(writeDataBlock(link, BlockData, 12), 0x0001FFFF);
}

TEST_F(Commands, OnlyByteOneMarksAnErrorReply) {
    // A byte 1 of 0xFE is an ordinary reply, whatever follows.
    script({report({0x02, 0xFE, 0x00, 0x00, 0x2A, 0x00, 0x00, 0x00})});
    EXPECT_EQ(eraseFirmware(link), RESULT_OK);
    script({report({0x02, 0xFE, 0x00, 0x01, 0x2A})});
    EXPECT_EQ(setWriteProtection(link, 1), RESULT_OK);
}

struct TransportCase {
    const char* name;
    SimFaultKind kind;
    std::int32_t result;
    bool requestRecorded;
};

const TransportCase TransportCases[] = {
    {"write refused", SimFaultKind::FailWrite, RESULT_WRITE_FAILED, false},
    {"reply lost", SimFaultKind::FailRead, RESULT_READ_FAILED, true},
    {"never answers", SimFaultKind::NeverAnswer, RESULT_READ_FAILED, true},
    {"unplugged", SimFaultKind::Vanish, RESULT_WRITE_FAILED, false},
};

struct CommandEntry {
    const char* name;
    std::int32_t (*run)(DeviceLinkRecord&);
    std::uint8_t command;
};

const CommandEntry AllCommands[] = {
    {"lock on", lockOn, CMD_SYSTEM_LOCK},     {"lock off", lockOff, CMD_SYSTEM_LOCK},
    {"protection on", protectOn, CMD_WRITE_PROTECT}, {"protection off", protectOff, CMD_WRITE_PROTECT},
    {"erase", erase, CMD_ERASE_FIRMWARE},     {"write address", setAddress, CMD_SET_WRITE_ADDRESS},
    {"data block", block12, CMD_WRITE_DATA},
};

class Transport : public Commands {};

TEST_F(Transport, EveryCommandUnderEveryTransportFailure) {
    for (const CommandEntry& command : AllCommands) {
        for (const TransportCase& c : TransportCases) {
            SCOPED_TRACE(std::string(command.name) + ", " + c.name);
            closeDeviceLink(link);
            simBusReset();
            ASSERT_EQ(plugAndOpen(), RESULT_OK);
            ASSERT_EQ(setWriteProtection(link, 0), RESULT_OK);
            const DeviceLinkRecord before = link;
            const std::size_t requests = requestCount();
            const std::uint32_t reads = simBusCounters().reads;
            fault(makeFault(c.kind, command.command));
            const std::uint64_t startUs = simBusClockUs();

            EXPECT_EQ(command.run(link), c.result);

            EXPECT_EQ(requestCount(), requests + (c.requestRecorded ? 1 : 0));
            // No read follows a failed write.
            if (c.result == RESULT_WRITE_FAILED) {
                EXPECT_EQ(simBusCounters().reads, reads);
            }
            // A silent unit costs the reply time limit, not forever.
            if (c.kind == SimFaultKind::NeverAnswer) {
                const std::uint64_t waitedMs = (simBusClockUs() - startUs) / 1000;
                const std::uint64_t extra = command.command == CMD_ERASE_FIRMWARE ? ERASE_REPLY_DELAY_MS : 0;
                EXPECT_EQ(waitedMs, REPLY_TIMEOUT_MS + extra);
            }
            // No command closes the link or changes what identification stored.
            EXPECT_TRUE(isDeviceLinkOpen(link));
            EXPECT_EQ(link.deviceHandle, before.deviceHandle);
            EXPECT_EQ(link.devicePath, before.devicePath);
            EXPECT_EQ(0, std::memcmp(link.escFirmwareRecord, before.escFirmwareRecord, sizeof link.escFirmwareRecord));
            EXPECT_EQ(0, std::memcmp(link.escBootRecord, before.escBootRecord, sizeof link.escBootRecord));
            EXPECT_EQ(link.outputReportLength, before.outputReportLength);
            EXPECT_EQ(link.unitFirmwareVersion, before.unitFirmwareVersion);
        }
    }
}

TEST_F(Transport, AnUnpluggedUnitFailsEveryLaterCommand) {
    fault(makeFault(SimFaultKind::Vanish, CMD_WRITE_DATA));
    EXPECT_EQ(writeDataBlock(link, BlockData, 12), RESULT_WRITE_FAILED);
    for (const CommandEntry& command : AllCommands) {
        SCOPED_TRACE(command.name);
        EXPECT_EQ(command.run(link), RESULT_WRITE_FAILED);
    }
}

TEST_F(Transport, AFailedWriteLeavesTheUnitAsItWas) {
    fault(makeFault(SimFaultKind::FailWrite, CMD_WRITE_PROTECT));
    EXPECT_EQ(setWriteProtection(link, 1), RESULT_WRITE_FAILED);
    EXPECT_FALSE(sim().writeProtection);
    // A lost reply: the command took effect all the same.
    fault(makeFault(SimFaultKind::FailRead, CMD_WRITE_PROTECT));
    EXPECT_EQ(setWriteProtection(link, 1), RESULT_READ_FAILED);
    EXPECT_TRUE(sim().writeProtection);
}

TEST_F(LinkTest, EveryCommandOnAClosedLinkReturnsMinusOneAtOnce) {
    unit = simBusAdd(SimConfig{});
    for (const CommandEntry& command : AllCommands) {
        SCOPED_TRACE(command.name);
        EXPECT_EQ(command.run(link), RESULT_NO_LINK);
    }
    EXPECT_EQ(block0(link), RESULT_NO_LINK);
    EXPECT_EQ(identifyDevice(link), RESULT_NO_LINK);
    EXPECT_EQ(readReportLengths(link), RESULT_NO_LINK);
    EXPECT_EQ(simBusCounters().writes, 0u);
    EXPECT_EQ(simBusCounters().reads, 0u);
    EXPECT_EQ(simBusClockUs(), 0u);
    EXPECT_FALSE(isDeviceLinkOpen(link));
}

TEST_F(Commands, EraseReadsItsReplyOneSecondAfterTheRequest) {
    const std::uint64_t startUs = simBusClockUs();
    EXPECT_EQ(eraseFirmware(link), RESULT_OK);
    const SimRequest& request = lastRequest();
    EXPECT_EQ(request.receivedAtUs, startUs);
    // The unit's reply was ready after 600 ms; the link still waits its full second.
    EXPECT_EQ(request.repliedAtUs - request.receivedAtUs, 1000u * 1000u);
}

TEST_F(Commands, EraseThatTakesLongerIsWaitedForWithinTheLimit) {
    struct Case {
        std::uint32_t durationMs;
        std::int32_t result;
        std::uint64_t elapsedMs;
    };
    const Case cases[] = {
        {1500, RESULT_OK, 1500},
        {ERASE_REPLY_DELAY_MS + REPLY_TIMEOUT_MS, RESULT_OK, ERASE_REPLY_DELAY_MS + REPLY_TIMEOUT_MS},
        {ERASE_REPLY_DELAY_MS + REPLY_TIMEOUT_MS + 1, RESULT_READ_FAILED, ERASE_REPLY_DELAY_MS + REPLY_TIMEOUT_MS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.durationMs);
        simBusAdvanceMs(10000);  // whatever is still owed is stale by now
        sim().config.eraseDurationMs = c.durationMs;
        const std::uint64_t startUs = simBusClockUs();
        EXPECT_EQ(eraseFirmware(link), c.result);
        EXPECT_EQ((simBusClockUs() - startUs) / 1000, c.elapsedMs);
    }
}

TEST_F(Commands, ALateReplyIsNeverTakenForTheAnswerToALaterRequest) {
    // The late reply to "protection off" says 0 in byte 3; taken for the lock's answer it would
    // give a mismatch.
    SimFault f = makeFault(SimFaultKind::LateAnswer, CMD_WRITE_PROTECT);
    f.lateByMs = REPLY_TIMEOUT_MS + 500;
    fault(f);
    EXPECT_EQ(setWriteProtection(link, 0), RESULT_READ_FAILED);
    const std::size_t lateRequest = requestCount() - 1;

    // Still in flight when the next request goes out: the unit's own answer comes first.
    EXPECT_EQ(setSystemLock(link, 1), RESULT_OK);
    // It has arrived by the time of the next request: it is thrown away unread.
    simBusAdvanceMs(1000);
    EXPECT_EQ(setSystemLock(link, 1), RESULT_OK);
    EXPECT_EQ(sim().transcript[lateRequest].repliedAtUs, 0u);
    EXPECT_TRUE(sim().owed.empty());
}

TEST_F(Commands, ALateReplyWithinTheLimitIsTaken) {
    SimFault f = makeFault(SimFaultKind::LateAnswer, CMD_SYSTEM_LOCK);
    f.lateByMs = REPLY_TIMEOUT_MS - 1;
    fault(f);
    const std::uint64_t startUs = simBusClockUs();
    EXPECT_EQ(setSystemLock(link, 1), RESULT_OK);
    EXPECT_EQ(simBusClockUs() - startUs, (REPLY_TIMEOUT_MS - 1) * 1000u);
}

TEST_F(Commands, AnUnaskedReplyWaitingBeforeARequestIsDiscarded) {
    // A reply that came after its request was given up, and a stale error reply on top.
    SimFault f = makeFault(SimFaultKind::LateAnswer, CMD_WRITE_PROTECT);
    f.lateByMs = REPLY_TIMEOUT_MS + 1;
    fault(f);
    EXPECT_EQ(setWriteProtection(link, 1), RESULT_READ_FAILED);
    simBusAdvanceMs(10);
    EXPECT_EQ(sim().owed.size(), 1u);
    EXPECT_EQ(setSystemLock(link, 0), RESULT_OK);
    EXPECT_TRUE(sim().owed.empty());
}

}  // namespace

namespace {

TEST_F(LinkTest, DataBlocksUnderProtectionAreRefusedByTheUnit) {
    ASSERT_EQ(plugAndOpen(), RESULT_OK);
    std::uint8_t block[48] = {};
    EXPECT_EQ(writeDataBlock(link, block, 12), static_cast<std::int32_t>(SIM_ERROR_PROTECTED));
    EXPECT_EQ(eraseFirmware(link), static_cast<std::int32_t>(SIM_ERROR_PROTECTED));
    EXPECT_EQ(sim().flash[0], simFlashPatternByte(0));
}

}  // namespace

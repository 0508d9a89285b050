// Random replies, random report lengths and random faults through identification and every
// command. The sanitizers prove that no buffer is read or written outside its bounds; the checks
// below prove that every result is one the link documents, and for random replies exactly the one
// that the reply's bytes call for.
#include "device_test_support.h"

#include "device/little_endian.h"

#include <algorithm>
#include <cstring>
#include <random>

namespace {

constexpr int ROUNDS = 1500;

class Fuzz : public LinkTest {
protected:
    std::uint32_t below(std::uint32_t bound) { return std::uniform_int_distribution<std::uint32_t>(0, bound - 1)(random); }
    std::uint8_t anyByte() { return static_cast<std::uint8_t>(below(256)); }

    std::uint16_t anyLength() {
        const std::uint32_t pick = below(10);
        if (pick < 6) return 60;
        if (pick < 9) return static_cast<std::uint16_t>(below(61));
        return static_cast<std::uint16_t>(61 + below(200));  // too long for the link's buffers
    }

    // A reply of random length whose marker, state and code bytes lean towards the values that
    // matter to the link.
    Bytes anyReply() {
        Bytes reply(below(61), 0);
        for (std::uint8_t& b : reply) b = anyByte();
        if (reply.size() > 1 && below(3) == 0) reply[1] = 0xFF;
        if (reply.size() > 3 && below(2) == 0) reply[3] = static_cast<std::uint8_t>(below(3));
        if (reply.size() > 5 && below(4) == 0) reply[4] = reply[5] = 0;
        if (reply.size() > 5 && below(4) == 0) writeLe16(reply.data() + 4, ATTACHED_UPDATABLE_ESC);
        if (reply.size() > 7 && below(4) == 0) reply[6] = reply[7] = 0;
        return reply;
    }

    // What the link reads for a scripted reply: inputReportLength bytes of it, zero past its end.
    static Bytes seen(const Bytes& script, std::uint32_t inputLength) {
        Bytes bytes(REPORT_BUFFER_BYTES, 0);
        bytes[0] = REPLY_REPORT_ID;
        for (std::uint32_t i = 0; i < inputLength && i < REPORT_BUFFER_BYTES; ++i) {
            bytes[i] = i < script.size() ? script[i] : 0;
        }
        return bytes;
    }

    std::mt19937 random{0x51E7C0DEu};
};

std::int32_t code32(const Bytes& reply) { return static_cast<std::int32_t>(readLe32(reply.data() + 4)); }

TEST_F(Fuzz, RandomRepliesGiveExactlyTheResultTheirBytesCallFor) {
    std::uint8_t data[4 * 16];
    for (std::uint8_t& b : data) b = 0x5A;

    for (int round = 0; round < ROUNDS; ++round) {
        SCOPED_TRACE(round);
        closeDeviceLink(link);
        simBusReset();
        SimConfig config;
        config.inputReportLength = anyLength();
        config.outputReportLength = anyLength();
        unit = simBusAdd(config);
        const Bytes info = anyReply();
        const Bytes second = anyReply();
        const Bytes third = anyReply();
        script({info, second, third});

        // Identification.
        const bool lengthsFit = config.inputReportLength <= 60 && config.outputReportLength <= 60;
        const std::uint32_t in = config.inputReportLength;
        std::int32_t expected = RESULT_OK;
        const Bytes r0 = seen(info, in);
        const Bytes r1 = seen(second, in);
        const Bytes r2 = seen(third, in);
        const bool modeZero = r0[3] == 0;
        const bool escAsked = modeZero && readLe16(r0.data() + 4) == ATTACHED_UPDATABLE_ESC;
        const bool firmwareError = r1[1] == 0xFF;
        if (!lengthsFit) {
            expected = RESULT_NO_LINK;
        } else if (config.outputReportLength < 2) {
            expected = RESULT_WRITE_FAILED;  // the unit takes no report without its command byte
        } else if (escAsked && firmwareError && readLe16(r1.data() + 4) != 0) {
            expected = readLe16(r1.data() + 4);
        } else if (escAsked && r2[1] == 0xFF) {
            expected = readLe16(r2.data() + 4);
        }
        const std::int32_t identified = openDeviceLink(link);
        ASSERT_EQ(identified, expected);
        ASSERT_TRUE(isDeviceLinkOpen(link));
        if (expected == RESULT_OK) {
            EXPECT_EQ(link.unitMode, r0[3]);
            if (!modeZero) {
                EXPECT_EQ(link.bootInfoC, readLe32(r0.data() + 7));
                EXPECT_EQ(link.unitFirmwareVersion, readLe32(r1.data() + 8));
                EXPECT_EQ(link.attachedType, 0);
            } else {
                EXPECT_EQ(link.unitFirmwareVersion, readLe32(r0.data() + 8));
            }
            if (escAsked) {
                if (firmwareError) {
                    EXPECT_EQ(escFirmwareVersion(link), 0);
                } else {
                    EXPECT_EQ(0, std::memcmp(link.escFirmwareRecord, r1.data() + 4, 32));
                }
                if (r2[1] != 0xFF) {
                    EXPECT_EQ(0, std::memcmp(link.escBootRecord, r2.data() + 4, 40));
                }
            }
        }

        // Every command, each against a random reply of its own.
        const std::uint32_t effectiveIn = link.inputReportLength;
        const bool writable = link.outputReportLength >= 2;
        for (int step = 0; step < 8; ++step) {
            SCOPED_TRACE(step);
            const Bytes reply = anyReply();
            script({reply});
            const Bytes r = seen(reply, effectiveIn);
            const bool isError = r[1] == 0xFF;
            const std::uint32_t on = below(3);
            const std::uint8_t flag = on != 0 ? 1 : 0;
            std::int32_t result = 0;
            std::int32_t want = 0;
            switch (step) {
                case 0:
                    result = setSystemLock(link, on);
                    want = r[3] == flag ? RESULT_OK : RESULT_STATE_MISMATCH;
                    break;
                case 1:
                    result = setWriteProtection(link, on);
                    want = isError ? code32(r) : (r[3] == flag ? RESULT_OK : RESULT_STATE_MISMATCH);
                    break;
                case 2:
                    result = eraseFirmware(link);
                    want = isError ? code32(r) : RESULT_OK;
                    break;
                case 3:
                    result = setWriteAddress(link);
                    want = isError ? code32(r) : RESULT_OK;
                    break;
                default: {
                    const std::uint32_t words = below(17);
                    result = writeDataBlock(link, data, words);
                    want = words > MAX_BLOCK_WORDS ? RESULT_NO_LINK : (isError ? code32(r) : RESULT_OK);
                    if (words > MAX_BLOCK_WORDS) simBusDevice(unit).scriptedReplies.clear();
                    break;
                }
            }
            if (!writable && want != RESULT_NO_LINK) want = RESULT_WRITE_FAILED;
            ASSERT_EQ(result, want) << hex(r);
            ASSERT_TRUE(isDeviceLinkOpen(link));
        }
        ASSERT_LE(simBusCounters().largestWrite, REPORT_BUFFER_BYTES);
        ASSERT_LE(simBusCounters().largestRead, REPORT_BUFFER_BYTES);
    }
}

// Results that a command may give under any fault: the link's own, the unit's refusals, or the
// code the fault carries, each cut to the bytes of the code that a short input report still holds.
bool isDocumented(std::int32_t result, const SimFault& fault, std::uint32_t inputLength, bool identification) {
    switch (result) {
        case RESULT_OK:
        case RESULT_NO_LINK:
        case RESULT_WRITE_FAILED:
        case RESULT_READ_FAILED: return true;
        default: break;
    }
    if (identification) return result >= 1 && result <= 0xFFFF;
    if (result == RESULT_STATE_MISMATCH) return true;
    const std::uint32_t visibleBytes = inputLength <= 4 ? 0 : std::min<std::uint32_t>(inputLength - 4, 4);
    const std::uint32_t mask = visibleBytes == 4 ? 0xFFFFFFFFu : (1u << (8 * visibleBytes)) - 1;
    const std::uint32_t code = static_cast<std::uint32_t>(result);
    if (fault.kind == SimFaultKind::ErrorReply && code == (fault.errorCode & mask)) return true;
    for (std::uint32_t refusal : {SIM_ERROR_GUARD_CODE, SIM_ERROR_PROTECTED, SIM_ERROR_FLASH_END, SIM_ERROR_BAD_LENGTH,
                                  SIM_ERROR_NO_ESC}) {
        if (code == (refusal & mask)) return true;
    }
    return false;
}

TEST_F(Fuzz, RandomFaultsAndLengthsGiveOnlyDocumentedResultsWithinTheTimeLimit) {
    const std::uint8_t commands[] = {CMD_GET_INFO,        CMD_READ_UNIT_MEMORY, CMD_SYSTEM_LOCK,
                                     CMD_WRITE_DATA,      CMD_READ_ESC_RECORD,  CMD_ERASE_FIRMWARE,
                                     CMD_SET_WRITE_ADDRESS, CMD_WRITE_PROTECT,  CMD_READ_BOOT_RECORD};
    const SimFaultKind kinds[] = {SimFaultKind::None,       SimFaultKind::FailWrite,   SimFaultKind::FailRead,
                                  SimFaultKind::ErrorReply, SimFaultKind::WrongState,  SimFaultKind::NeverAnswer,
                                  SimFaultKind::LateAnswer, SimFaultKind::Vanish};
    std::uint8_t data[4 * 14];
    for (std::uint8_t& b : data) b = anyByte();
    // The longest any one call may take: the erase's wait and the reply time limit.
    const std::uint64_t longestCallUs = (ERASE_REPLY_DELAY_MS + REPLY_TIMEOUT_MS) * 1000u;

    for (int round = 0; round < ROUNDS; ++round) {
        SCOPED_TRACE(round);
        closeDeviceLink(link);
        simBusReset();
        SimConfig config;
        config.inputReportLength = anyLength();
        config.outputReportLength = anyLength();
        config.unitMode = below(5) == 0 ? anyByte() : 0;
        config.attachedType = below(5) == 0 ? static_cast<std::uint16_t>(below(5)) : 3;
        config.escFirmwareVersion = below(4) == 0 ? ESC_WITHOUT_FIRMWARE : static_cast<std::uint16_t>(below(0x10000));
        config.eraseDurationMs = below(7000);
        SimFault& f = config.fault;
        f.kind = kinds[below(sizeof kinds)];
        f.command = commands[below(sizeof commands)];
        f.blockIndex = below(3) == 0 ? SIM_ANY_BLOCK : below(4);
        f.errorCode = below(2) == 0 ? below(0x10000) : static_cast<std::uint32_t>(random());
        f.echoedState = anyByte();
        f.lateByMs = below(8000);
        unit = simBusAdd(config);

        std::uint64_t before = simBusClockUs();
        const std::int32_t identified = openDeviceLink(link);
        ASSERT_TRUE(isDocumented(identified, f, config.inputReportLength, true)) << identified;
        // Identification sends at most three requests, each within the time limit.
        ASSERT_LE(simBusClockUs() - before, 3 * REPLY_TIMEOUT_MS * 1000u);

        std::int32_t (*const steps[])(DeviceLinkRecord&) = {
            [](DeviceLinkRecord& l) { return setSystemLock(l, 1); },
            [](DeviceLinkRecord& l) { return setWriteProtection(l, 0); },
            [](DeviceLinkRecord& l) { return eraseFirmware(l); },
            [](DeviceLinkRecord& l) { return setWriteAddress(l); },
        };
        for (auto step : steps) {
            before = simBusClockUs();
            const std::int32_t result = step(link);
            ASSERT_TRUE(isDocumented(result, f, config.inputReportLength, false)) << result;
            ASSERT_LE(simBusClockUs() - before, longestCallUs);
        }
        for (std::uint32_t block = 0; block < 5; ++block) {
            before = simBusClockUs();
            const std::int32_t result = writeDataBlock(link, data, below(15));
            ASSERT_TRUE(isDocumented(result, f, config.inputReportLength, false)) << result;
            ASSERT_LE(simBusClockUs() - before, longestCallUs);
        }
        for (std::uint32_t on : {1u, 0u}) {
            ASSERT_TRUE(isDocumented(setWriteProtection(link, on), f, config.inputReportLength, false));
            ASSERT_TRUE(isDocumented(setSystemLock(link, on), f, config.inputReportLength, false));
        }
        ASSERT_LE(simBusCounters().largestWrite, REPORT_BUFFER_BYTES);
        ASSERT_LE(simBusCounters().largestRead, REPORT_BUFFER_BYTES);
        closeDeviceLink(link);
        ASSERT_EQ(simBusCounters().openHandles, 0u);
        ASSERT_EQ(simBusCounters().badCloses, 0u);
    }
}

}  // namespace

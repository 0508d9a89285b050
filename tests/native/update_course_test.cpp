// The whole update, run against the simulated unit on its virtual clock: each case's course (every
// request, pause, question, progress call and report, in order) written out as data and compared
// row by row with what the update did, and what the ESC's flash holds afterwards.
#include "tests/native/update_frontend_fake.h"

#include "device/device_link.h"
#include "device/hid_port.h"
#include "model/compatibility.h"
#include "model/model_table.h"
#include "model/stand_in_image.h"
#include "sim/sim_hid_port.h"
#include "sim/sim_unit.h"
#include "update/firmware_update.h"
#include "update/update_logic.h"
#include "update/update_messages.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using Course = std::vector<CourseRow>;

// ---- Rows

constexpr std::uint32_t MS = 1000;

// The simulated port's last errors, errno values as on a POSIX system.
constexpr std::uint32_t REFUSED = EIO;     // the unit refused the request
constexpr std::uint32_t LOST = EIO;        // its reply was lost
constexpr std::uint32_t GONE_ERROR = ENODEV;
constexpr std::uint32_t TIMED_OUT = ETIMEDOUT;

CourseRow request(std::uint8_t command) { return {CourseStep::Request, command, 0, 0}; }
CourseRow pause(std::uint32_t ms) { return {CourseStep::Pause, ms * MS, 0, 0}; }
CourseRow ask(UpdateQuestion question) { return {CourseStep::Ask, static_cast<std::uint32_t>(question), 0, 0}; }
CourseRow awake(bool on) { return {CourseStep::Awake, on ? 1u : 0u, 0, 0}; }
CourseRow sessionHold(bool on) { return {CourseStep::SessionHold, on ? 1u : 0u, 0, 0}; }
CourseRow progressStart(std::uint32_t imageBytes) { return {CourseStep::ProgressStart, imageBytes, 0, 0}; }
CourseRow progress(std::uint32_t position) { return {CourseStep::Progress, position, 0, 0}; }
CourseRow raise(bool inFront) { return {CourseStep::Raise, inFront ? 1u : 0u, 0, 0}; }
CourseRow progressEnd() { return {CourseStep::ProgressEnd, 0, 0, 0}; }
CourseRow failure(unsigned message, std::int32_t code, std::uint32_t lastError) {
    return {CourseStep::Failure, message, code, lastError};
}
CourseRow success() { return {CourseStep::Success, 0, 0, 0}; }

const CourseRow WARNING = ask(UpdateQuestion::Warning);
const CourseRow OLDER_FIRMWARE = ask(UpdateQuestion::OlderFirmware);
// Right before the system lock the system is kept awake and the session's end held off; after the
// last command (or a failed one) the session is let go first, both before the outcome is reported.
const CourseRow HOLD_AWAKE = awake(true);
const CourseRow HOLD_SESSION = sessionHold(true);
const CourseRow LET_SESSION_END = sessionHold(false);
const CourseRow LET_SLEEP = awake(false);

Course join(std::initializer_list<Course> parts) {
    Course course;
    for (const Course& part : parts) course.insert(course.end(), part.begin(), part.end());
    return course;
}

// Blocks first to first + count − 1 of an image, each accepted: its request, its position, the
// raise check while the person has not been looking yet (the fake looks from the first check on),
// the 20 ms pause after its reply.
Course acceptedBlocks(std::uint32_t imageBytes, std::uint32_t first, std::uint32_t count) {
    Course course;
    for (std::uint32_t block = first; block < first + count; ++block) {
        course.push_back(request(CMD_WRITE_DATA));
        const std::uint32_t sent = std::min(imageBytes, (block + 1) * BLOCK_BYTES);
        course.push_back(progress(sent * PROGRESS_FULL / imageBytes));
        if (block == 0) course.push_back(raise(true));
        course.push_back(pause(20));
    }
    return course;
}

std::uint32_t blockCount(std::uint32_t imageBytes) { return (imageBytes + BLOCK_BYTES - 1) / BLOCK_BYTES; }

// The course up to and including the request of each step of the prepared sequence.
const Course UNTIL_LOCK = {WARNING, HOLD_AWAKE, HOLD_SESSION, request(CMD_SYSTEM_LOCK)};
const Course UNTIL_PROTECTION_OFF = join({UNTIL_LOCK, {pause(20), request(CMD_WRITE_PROTECT)}});
const Course UNTIL_ERASE = join({UNTIL_PROTECTION_OFF, {pause(20), request(CMD_ERASE_FIRMWARE)}});
// The erase is followed by its 4000 ms, then the 20 ms before the next step.
const Course UNTIL_ADDRESS = join({UNTIL_ERASE, {pause(4000), pause(20), request(CMD_SET_WRITE_ADDRESS)}});
Course untilTransfer(std::uint32_t imageBytes) {
    return join({UNTIL_ADDRESS, {pause(20), progressStart(imageBytes)}});
}
// Then the closing commands and the report.
const Course CLOSING = {request(CMD_WRITE_PROTECT), request(CMD_SYSTEM_LOCK), LET_SESSION_END, LET_SLEEP, success()};

Course wholeUpdate(std::uint32_t imageBytes) {
    return join({untilTransfer(imageBytes), acceptedBlocks(imageBytes, 0, blockCount(imageBytes)), {progressEnd()},
                 CLOSING});
}

// ---- The rig: a unit with a compatible ESC of a model, opened and identified, and its image

struct ModelImage {
    const ModelRow* row;
    std::vector<std::uint8_t> bytes;
};

ModelImage imageOf(std::size_t model) {
    ModelImage image{&MODEL_ROWS[model], std::vector<std::uint8_t>(MODEL_ROWS[model].imageBytes)};
    fillStandInImage(image.row->imageResourceId, image.bytes.data(), image.bytes.size());
    return image;
}

constexpr std::size_t MODEL_60 = 0;
constexpr std::size_t MODEL_140 = 1;  // the image that ends in a shorter block, sent from the tail buffer
constexpr std::uint32_t IMAGE_140_BLOCKS = 2025;

SimConfig compatibleUnit(const ModelRow& row, std::uint16_t escFirmwareVersion = 0x0105) {
    SimConfig config;
    config.escHardwareId = HARDWARE_ID_FAMILY_A | row.idByte;
    config.escFirmwareVersion = escFirmwareVersion;
    return config;
}

class UpdateCourse : public ::testing::Test {
protected:
    void SetUp() override {
        simBusReset();
        resetDeviceLink(DeviceLink);
    }
    void TearDown() override {
        closeDeviceLink(DeviceLink);
        simBusObserveWrites(nullptr);
    }

    // Plugs in a unit with that configuration and opens it as the dialog does before offering an update.
    void plugAndOpen(const SimConfig& config) {
        unit = simBusAdd(config);
        ASSERT_EQ(openDeviceLink(DeviceLink), RESULT_OK);
    }

    void run(const ModelImage& image, FakeFrontendScript script = {}) {
        script.imageBytes = image.bytes.data();
        script.imageSize = static_cast<std::uint32_t>(image.bytes.size());
        script.unplugDevice = unit;
        fakeFrontendStart(script);
        runFirmwareUpdate();
    }

    SimUnit& esc() { return simBusUnit(unit); }

    int unit = -1;
};

// Compares the course row by row and names the first difference.
void expectCourse(const Course& expected, const char* label) {
    SCOPED_TRACE(label);
    const Course& actual = fakeFrontendCourse();
    const std::size_t common = std::min(expected.size(), actual.size());
    for (std::size_t i = 0; i < common; ++i) {
        if (!(expected[i] == actual[i])) {
            ADD_FAILURE() << "row " << i << ": expected " << describe(expected[i]) << ", was " << describe(actual[i]);
            return;
        }
    }
    EXPECT_EQ(expected.size(), actual.size())
        << "first extra row: " << describe(expected.size() > actual.size() ? expected[common] : actual[common]);
}

// The flash holds exactly the image and is erased behind it.
void expectFlashHolds(const SimUnit& unit, const std::vector<std::uint8_t>& image) {
    ASSERT_EQ(0, std::memcmp(unit.flash.data(), image.data(), image.size())) << "the image is not in the flash";
    for (std::size_t i = image.size(); i < unit.flash.size(); ++i) ASSERT_EQ(unit.flash[i], 0xFF) << "offset " << i;
}

void expectLinkClosed() {
    EXPECT_FALSE(isDeviceLinkOpen(DeviceLink));
    EXPECT_EQ(simBusCounters().openHandles, 0u);
}

// ---- Success

TEST_F(UpdateCourse, EachBuildWritesItsImageExactlyAndEndsWithTheLinkOpen) {
    for (std::size_t model = 0; model < MODEL_ROW_COUNT; ++model) {
        SetUp();
        const ModelImage image = imageOf(model);
        plugAndOpen(compatibleUnit(*image.row));
        run(image);

        expectCourse(wholeUpdate(image.row->imageBytes), "whole update");
        expectFlashHolds(esc(), image.bytes);
        EXPECT_TRUE(esc().writeProtection);
        EXPECT_FALSE(esc().systemLock);
        EXPECT_TRUE(isDeviceLinkOpen(DeviceLink));
        EXPECT_EQ(escFirmwareVersion(DeviceLink), IMAGE_FIRMWARE_VERSION);
        EXPECT_FALSE(fakeFrontendKeepsAwake());
        EXPECT_FALSE(fakeFrontendHoldsSessionEnd());
        EXPECT_FALSE(isFirmwareUpdateRunning());
        EXPECT_EQ(fakeFrontendLinkClaims().reportsWhileFree, 1u);
        EXPECT_EQ(fakeFrontendLinkClaims().reportsWhileHeld, 0u);
        TearDown();
    }
}

TEST_F(UpdateCourse, TheLastBlockOfA140LvImageGoesFromTheTailBufferFilledWithFF) {
    const ModelImage image = imageOf(MODEL_140);
    plugAndOpen(compatibleUnit(*image.row));
    run(image);
    const SimRequest& last = esc().transcript[esc().transcript.size() - 3];
    ASSERT_EQ(last.bytes[1], CMD_WRITE_DATA);
    EXPECT_EQ(last.bytes[2], 32);  // 8 words
    EXPECT_EQ(0, std::memcmp(last.bytes + 4, image.bytes.data() + 2024 * 48, 32));
    EXPECT_EQ(simCountRequests(esc(), CMD_WRITE_DATA), IMAGE_140_BLOCKS);
}

// Each pause starts when the previous reply was read, so the time the front end spends drawing the
// progress lies inside the pause instead of adding to it.
TEST_F(UpdateCourse, PausesAreMeasuredFromTheReplyNotFromWhatTheFrontEndDidAfterIt) {
    const ModelImage image = imageOf(MODEL_60);
    plugAndOpen(compatibleUnit(*image.row));
    FakeFrontendScript script;
    script.progressCostUs = 7 * MS;
    run(image, script);

    std::vector<const SimRequest*> requests;
    for (const SimRequest& r : esc().transcript) {
        if (r.bytes[1] != CMD_GET_INFO && r.bytes[1] != CMD_READ_ESC_RECORD && r.bytes[1] != CMD_READ_BOOT_RECORD) {
            requests.push_back(&r);
        }
    }
    ASSERT_EQ(requests.size(), blockCount(image.row->imageBytes) + 6);
    for (std::size_t i = 1; i < requests.size(); ++i) {
        const std::uint64_t gap = requests[i]->receivedAtUs - requests[i - 1]->repliedAtUs;
        std::uint64_t expected = 20 * MS;
        if (requests[i - 1]->bytes[1] == CMD_ERASE_FIRMWARE) expected = 4020 * MS;
        if (i == requests.size() - 2) expected = 20 * MS;  // the pause after the last block
        if (i == requests.size() - 1) expected = 0;         // the lock goes off at once after protection
        ASSERT_EQ(gap, expected) << "request " << i;
    }
    // The address goes out 5020 ms after the erase request: its 1000 ms, 4000 ms and 20 ms.
    EXPECT_EQ(requests[3]->receivedAtUs - requests[2]->receivedAtUs, 5020 * MS);
}

// Pulled out right after the last block: the closing commands fail, but the image is in.
TEST_F(UpdateCourse, SucceedsWhenBothClosingCommandsFail) {
    const ModelImage image = imageOf(MODEL_60);
    plugAndOpen(compatibleUnit(*image.row));
    FakeFrontendScript script;
    script.unplugAtPosition = 100;
    run(image, script);
    // Neither closing request reaches the wire: the flush of stale input before each finds the unit gone.
    const std::uint32_t bytes = image.row->imageBytes;
    expectCourse(join({untilTransfer(bytes), acceptedBlocks(bytes, 0, blockCount(bytes)), {progressEnd()},
                       {LET_SESSION_END, LET_SLEEP, success()}}),
                 "unit gone after the last block");
    expectFlashHolds(esc(), image.bytes);
    EXPECT_EQ(hidPortLastError(), GONE_ERROR);
    EXPECT_EQ(escFirmwareVersion(DeviceLink), IMAGE_FIRMWARE_VERSION);
}

TEST_F(UpdateCourse, RaisesOnceWhenThePersonFirstLooksAndNeverAgain) {
    const ModelImage image = imageOf(MODEL_60);
    plugAndOpen(compatibleUnit(*image.row));
    FakeFrontendScript script;
    script.raiseRefusals = 3;  // another program is in front for the first three blocks
    run(image, script);
    struct Check {
        std::uint32_t afterBlock;
        bool raised;
    };
    std::vector<Check> checks;
    std::uint32_t blocks = 0;
    for (const CourseRow& row : fakeFrontendCourse()) {
        if (row.step == CourseStep::Request && row.value == CMD_WRITE_DATA) ++blocks;
        if (row.step == CourseStep::Raise) checks.push_back({blocks, row.value == 1});
    }
    ASSERT_EQ(checks.size(), 4u);
    for (std::uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(checks[i].afterBlock, i + 1);
        EXPECT_EQ(checks[i].raised, i == 3);
    }
}

// ---- Declines, the version question, no link, no image

struct QuestionCase {
    const char* label;
    std::uint16_t escFirmwareVersion;
    bool acceptWarning;
    bool acceptOlderFirmware;
    Course expected;  // the lock is refused, so that an update that goes on ends at once
};

const std::int32_t LOCK_REFUSED = RESULT_WRITE_FAILED;
const Course LOCK_REFUSED_END = {LET_SESSION_END, LET_SLEEP, failure(MSG_SYSTEM_LOCK_FAILED, LOCK_REFUSED, REFUSED)};

TEST_F(UpdateCourse, QuestionsAndDeclines) {
    const QuestionCase cases[] = {
        {"warning cancelled", 0x0105, false, true, {WARNING}},
        {"1.255: below the image, no question", 0x01FF, true, false, join({UNTIL_LOCK, LOCK_REFUSED_END})},
        {"2.0: the image's own version is asked", 0x0200, true, true,
         join({{WARNING, OLDER_FIRMWARE, HOLD_AWAKE, HOLD_SESSION, request(CMD_SYSTEM_LOCK)}, LOCK_REFUSED_END})},
        {"2.0, declined", 0x0200, true, false, {WARNING, OLDER_FIRMWARE}},
        {"255.254, declined", 0xFFFE, true, false, {WARNING, OLDER_FIRMWARE}},
        {"no firmware: never asked", ESC_WITHOUT_FIRMWARE, true, false, join({UNTIL_LOCK, LOCK_REFUSED_END})},
    };
    const ModelImage image = imageOf(MODEL_60);
    for (const QuestionCase& c : cases) {
        SetUp();
        plugAndOpen(compatibleUnit(*image.row, c.escFirmwareVersion));
        const std::size_t identification = esc().transcript.size();
        simSetFault(esc(), simFault(SimFaultKind::FailWrite, CMD_SYSTEM_LOCK));
        FakeFrontendScript script;
        script.acceptWarning = c.acceptWarning;
        script.acceptOlderFirmware = c.acceptOlderFirmware;
        run(image, script);
        expectCourse(c.expected, c.label);
        const bool declined = c.expected.back().step == CourseStep::Ask;
        EXPECT_EQ(fakeFrontendLinkClaims().asksWhileFree, 0u) << c.label << ": a question with the link free";
        EXPECT_FALSE(isFirmwareUpdateUsingTheLink()) << c.label;
        // A declined update sends nothing and leaves the link as it was.
        EXPECT_EQ(isDeviceLinkOpen(DeviceLink), declined) << c.label;
        EXPECT_EQ(esc().transcript.size(), identification) << c.label;
        EXPECT_EQ(esc().flash[0], simFlashPatternByte(0)) << c.label;
        TearDown();
    }
}

TEST_F(UpdateCourse, WithoutALinkTheFailureHasNoErrorCodeLine) {
    const ModelImage image = imageOf(MODEL_60);
    run(image);
    expectCourse({failure(MSG_UNIT_NOT_DETECTED, RESULT_NO_LINK, 0)}, "no link");
    EXPECT_EQ(simBusCounters().writes, 0u);
}

// An image the program cannot send whole is refused before anything reaches the unit.
TEST_F(UpdateCourse, AMissingOrBrokenImageFailsBeforeTheFirstCommand) {
    struct Case {
        const char* label;
        std::uint32_t size;
        bool present;
    };
    const Case cases[] = {{"no image", 0, false}, {"empty", 0, true}, {"not whole words", 97535, true}};
    ModelImage image = imageOf(MODEL_60);
    for (const Case& c : cases) {
        SetUp();
        plugAndOpen(compatibleUnit(*image.row));
        const std::size_t identification = esc().transcript.size();
        FakeFrontendScript script;
        script.unplugDevice = unit;
        script.imageBytes = c.present ? image.bytes.data() : nullptr;
        script.imageSize = c.size;
        fakeFrontendStart(script);
        runFirmwareUpdate();
        expectCourse({WARNING, failure(MSG_BLOCK_WRITE_FAILED, IMAGE_MISSING_CODE, 0)}, c.label);
        EXPECT_EQ(esc().transcript.size(), identification) << c.label;
        expectLinkClosed();
        EXPECT_EQ(esc().flash[0], simFlashPatternByte(0)) << c.label;
        TearDown();
    }
}

// Reports too short for a whole data block or for the replies are refused before any question and
// before anything reaches the unit, in the data block's failure box without an error-code line; the shortest that can carry
// the update update the ESC.
TEST_F(UpdateCourse, ReportsTooShortForTheUpdateAreRefusedBeforeTheFirstCommand) {
    struct Case {
        const char* label;
        std::uint16_t inputBytes;
        std::uint16_t outputBytes;
        bool refused;
    };
    const Case cases[] = {
        {"output one byte short of a block", 60, 51, true},
        {"output of 9 bytes", 60, 9, true},
        {"input one byte short of an error code", 7, 60, true},
        {"both just long enough", 8, 52, false},
    };
    const ModelImage image = imageOf(MODEL_60);
    for (const Case& c : cases) {
        SetUp();
        SimConfig config = compatibleUnit(*image.row);
        config.inputReportLength = c.inputBytes;
        config.outputReportLength = c.outputBytes;
        plugAndOpen(config);
        const std::size_t identification = esc().transcript.size();
        run(image);
        if (c.refused) {
            expectCourse({failure(MSG_BLOCK_WRITE_FAILED, RESULT_NO_LINK, 0)}, c.label);
            EXPECT_EQ(esc().transcript.size(), identification) << c.label;
            EXPECT_EQ(esc().flash[0], simFlashPatternByte(0)) << c.label;
            expectLinkClosed();
        } else {
            ASSERT_FALSE(fakeFrontendCourse().empty());
            EXPECT_EQ(fakeFrontendCourse().back(), success()) << c.label;
            expectFlashHolds(esc(), image.bytes);
        }
        TearDown();
    }
}

// ---- Every step against every fault that applies to it

SimFault errorReplyAt(std::uint8_t command, std::uint32_t code, std::uint32_t block = SIM_ANY_BLOCK) {
    SimFault fault = simFault(SimFaultKind::ErrorReply, command, block);
    fault.errorCode = code;
    return fault;
}

SimFault wrongStateAt(std::uint8_t command, std::uint8_t echoed) {
    SimFault fault = simFault(SimFaultKind::WrongState, command);
    fault.echoedState = echoed;
    return fault;
}

constexpr std::uint32_t LOW_HALF_CODE = 0x0000E1A5;
constexpr std::uint32_t HIGH_HALF_CODE = 0xE1A50000;
constexpr std::int32_t HIGH_HALF_RESULT = static_cast<std::int32_t>(HIGH_HALF_CODE);
constexpr std::uint32_t MIDDLE_BLOCK = 1000;
constexpr std::uint32_t LAST_140_BLOCK = IMAGE_140_BLOCKS - 1;

struct FaultCase {
    const char* label;
    SimFault fault;
    Course expected;
};

// The transfer of the 140 LV image up to a failing block: the blocks before it accepted, its
// request, then the progress ends.
Course untilFailedBlock(std::uint32_t block) {
    const std::uint32_t bytes = MODEL_ROWS[MODEL_140].imageBytes;
    return join({untilTransfer(bytes), acceptedBlocks(bytes, 0, block), {request(CMD_WRITE_DATA), progressEnd()}});
}

Course blockFails(std::uint32_t block, std::int32_t code, std::uint32_t lastError) {
    return join({untilFailedBlock(block), {LET_SESSION_END, LET_SLEEP, failure(MSG_BLOCK_WRITE_FAILED, code, lastError)}});
}

std::vector<FaultCase> faultCases() {
    const std::int32_t W = RESULT_WRITE_FAILED;
    const std::int32_t R = RESULT_READ_FAILED;
    const std::int32_t S = RESULT_STATE_MISMATCH;
    const std::uint32_t GONE = GONE_ERROR;
    auto ends = [](unsigned message, std::int32_t code, std::uint32_t lastError) {
        return Course{LET_SESSION_END, LET_SLEEP, failure(message, code, lastError)};
    };
    // A unit that never answers leaves the read to its time-out; the erase still waits its 4000 ms.
    const Course eraseEnd = {pause(4000)};
    std::vector<FaultCase> cases = {
        // The lock: only the state it echoes counts, also in an error reply.
        {"lock: write fails", simFault(SimFaultKind::FailWrite, CMD_SYSTEM_LOCK),
         join({UNTIL_LOCK, ends(MSG_SYSTEM_LOCK_FAILED, W, REFUSED)})},
        {"lock: read fails", simFault(SimFaultKind::FailRead, CMD_SYSTEM_LOCK),
         join({UNTIL_LOCK, ends(MSG_SYSTEM_LOCK_FAILED, R, LOST)})},
        {"lock: silent", simFault(SimFaultKind::NeverAnswer, CMD_SYSTEM_LOCK),
         join({UNTIL_LOCK, ends(MSG_SYSTEM_LOCK_FAILED, R, TIMED_OUT)})},
        {"lock: error reply, low half", errorReplyAt(CMD_SYSTEM_LOCK, LOW_HALF_CODE),
         join({UNTIL_LOCK, ends(MSG_SYSTEM_LOCK_FAILED, S, 0)})},
        {"lock: error reply, high half", errorReplyAt(CMD_SYSTEM_LOCK, HIGH_HALF_CODE),
         join({UNTIL_LOCK, ends(MSG_SYSTEM_LOCK_FAILED, S, 0)})},
        {"lock: echoes 0", wrongStateAt(CMD_SYSTEM_LOCK, 0), join({UNTIL_LOCK, ends(MSG_SYSTEM_LOCK_FAILED, S, 0)})},
        {"lock: echoes 2", wrongStateAt(CMD_SYSTEM_LOCK, 2), join({UNTIL_LOCK, ends(MSG_SYSTEM_LOCK_FAILED, S, 0)})},
        {"lock: unplugged", simFault(SimFaultKind::Vanish, CMD_SYSTEM_LOCK),
         join({UNTIL_LOCK, ends(MSG_SYSTEM_LOCK_FAILED, W, GONE)})},
        // Protection off.
        {"protection off: write fails", simFault(SimFaultKind::FailWrite, CMD_WRITE_PROTECT),
         join({UNTIL_PROTECTION_OFF, ends(MSG_WRITE_PROTECTION_FAILED, W, REFUSED)})},
        {"protection off: read fails", simFault(SimFaultKind::FailRead, CMD_WRITE_PROTECT),
         join({UNTIL_PROTECTION_OFF, ends(MSG_WRITE_PROTECTION_FAILED, R, LOST)})},
        {"protection off: silent", simFault(SimFaultKind::NeverAnswer, CMD_WRITE_PROTECT),
         join({UNTIL_PROTECTION_OFF, ends(MSG_WRITE_PROTECTION_FAILED, R, TIMED_OUT)})},
        {"protection off: error reply, low half", errorReplyAt(CMD_WRITE_PROTECT, LOW_HALF_CODE),
         join({UNTIL_PROTECTION_OFF, ends(MSG_WRITE_PROTECTION_FAILED, LOW_HALF_CODE, 0)})},
        {"protection off: error reply, high half", errorReplyAt(CMD_WRITE_PROTECT, HIGH_HALF_CODE),
         join({UNTIL_PROTECTION_OFF, ends(MSG_WRITE_PROTECTION_FAILED, HIGH_HALF_RESULT, 0)})},
        {"protection off: echoes 1", wrongStateAt(CMD_WRITE_PROTECT, 1),
         join({UNTIL_PROTECTION_OFF, ends(MSG_WRITE_PROTECTION_FAILED, S, 0)})},
        {"protection off: unplugged", simFault(SimFaultKind::Vanish, CMD_WRITE_PROTECT),
         join({UNTIL_PROTECTION_OFF, ends(MSG_WRITE_PROTECTION_FAILED, W, GONE)})},
        // The erase: reported only after its 4000 ms.
        {"erase: write fails", simFault(SimFaultKind::FailWrite, CMD_ERASE_FIRMWARE),
         join({UNTIL_ERASE, eraseEnd, ends(MSG_ERASE_FAILED, W, REFUSED)})},
        {"erase: read fails", simFault(SimFaultKind::FailRead, CMD_ERASE_FIRMWARE),
         join({UNTIL_ERASE, eraseEnd, ends(MSG_ERASE_FAILED, R, LOST)})},
        {"erase: silent", simFault(SimFaultKind::NeverAnswer, CMD_ERASE_FIRMWARE),
         join({UNTIL_ERASE, eraseEnd, ends(MSG_ERASE_FAILED, R, TIMED_OUT)})},
        {"erase: error reply, low half", errorReplyAt(CMD_ERASE_FIRMWARE, LOW_HALF_CODE),
         join({UNTIL_ERASE, eraseEnd, ends(MSG_ERASE_FAILED, LOW_HALF_CODE, 0)})},
        {"erase: error reply, high half", errorReplyAt(CMD_ERASE_FIRMWARE, HIGH_HALF_CODE),
         join({UNTIL_ERASE, eraseEnd, ends(MSG_ERASE_FAILED, HIGH_HALF_RESULT, 0)})},
        {"erase: unplugged", simFault(SimFaultKind::Vanish, CMD_ERASE_FIRMWARE),
         join({UNTIL_ERASE, eraseEnd, ends(MSG_ERASE_FAILED, W, GONE)})},
        // The write address.
        {"address: write fails", simFault(SimFaultKind::FailWrite, CMD_SET_WRITE_ADDRESS),
         join({UNTIL_ADDRESS, ends(MSG_WRITE_ADDRESS_FAILED, W, REFUSED)})},
        {"address: read fails", simFault(SimFaultKind::FailRead, CMD_SET_WRITE_ADDRESS),
         join({UNTIL_ADDRESS, ends(MSG_WRITE_ADDRESS_FAILED, R, LOST)})},
        {"address: silent", simFault(SimFaultKind::NeverAnswer, CMD_SET_WRITE_ADDRESS),
         join({UNTIL_ADDRESS, ends(MSG_WRITE_ADDRESS_FAILED, R, TIMED_OUT)})},
        {"address: error reply, low half", errorReplyAt(CMD_SET_WRITE_ADDRESS, LOW_HALF_CODE),
         join({UNTIL_ADDRESS, ends(MSG_WRITE_ADDRESS_FAILED, LOW_HALF_CODE, 0)})},
        {"address: error reply, high half", errorReplyAt(CMD_SET_WRITE_ADDRESS, HIGH_HALF_CODE),
         join({UNTIL_ADDRESS, ends(MSG_WRITE_ADDRESS_FAILED, HIGH_HALF_RESULT, 0)})},
        {"address: unplugged", simFault(SimFaultKind::Vanish, CMD_SET_WRITE_ADDRESS),
         join({UNTIL_ADDRESS, ends(MSG_WRITE_ADDRESS_FAILED, W, GONE)})},
    };
    // The blocks: the first, one in the middle, and the 140 LV image's last, from the tail buffer.
    struct BlockAt {
        const char* name;
        std::uint32_t index;
    };
    static const BlockAt blocks[] = {{"first block", 0}, {"middle block", MIDDLE_BLOCK}, {"last block", LAST_140_BLOCK}};
    static std::vector<std::string> labels;
    labels.clear();
    labels.reserve(6 * 3);
    for (const BlockAt& b : blocks) {
        auto label = [&](const char* kind) {
            labels.push_back(std::string(b.name) + ": " + kind);
            return labels.back().c_str();
        };
        cases.push_back({label("write fails"), simFault(SimFaultKind::FailWrite, CMD_WRITE_DATA, b.index),
                         blockFails(b.index, W, REFUSED)});
        cases.push_back({label("read fails"), simFault(SimFaultKind::FailRead, CMD_WRITE_DATA, b.index),
                         blockFails(b.index, R, LOST)});
        cases.push_back({label("silent"), simFault(SimFaultKind::NeverAnswer, CMD_WRITE_DATA, b.index),
                         blockFails(b.index, R, TIMED_OUT)});
        cases.push_back({label("error reply, low half"), errorReplyAt(CMD_WRITE_DATA, LOW_HALF_CODE, b.index),
                         blockFails(b.index, LOW_HALF_CODE, 0)});
        cases.push_back({label("error reply, high half"), errorReplyAt(CMD_WRITE_DATA, HIGH_HALF_CODE, b.index),
                         blockFails(b.index, HIGH_HALF_RESULT, 0)});
        cases.push_back({label("unplugged"), simFault(SimFaultKind::Vanish, CMD_WRITE_DATA, b.index),
                         blockFails(b.index, W, GONE)});
    }
    return cases;
}

TEST_F(UpdateCourse, EveryStepAgainstEveryFault) {
    const ModelImage image = imageOf(MODEL_140);
    for (const FaultCase& c : faultCases()) {
        SetUp();
        plugAndOpen(compatibleUnit(*image.row));
        simSetFault(esc(), c.fault);
        run(image);
        expectCourse(c.expected, c.label);
        // The failure closed the link, nothing was sent after the failed step, and the system may
        // sleep and the session end again.
        expectLinkClosed();
        EXPECT_FALSE(fakeFrontendKeepsAwake()) << c.label;
        EXPECT_FALSE(fakeFrontendHoldsSessionEnd()) << c.label;
        EXPECT_FALSE(isFirmwareUpdateRunning()) << c.label;
        // Asked while the update held the link; the failure reported with the link free for arrivals.
        const LinkClaims claims = fakeFrontendLinkClaims();
        EXPECT_EQ(claims.asksWhileHeld, 1u) << c.label;
        EXPECT_EQ(claims.asksWhileFree, 0u) << c.label;
        EXPECT_EQ(claims.reportsWhileFree, 1u) << c.label;
        EXPECT_EQ(claims.reportsWhileHeld, 0u) << c.label;
        EXPECT_FALSE(isFirmwareUpdateUsingTheLink()) << c.label;
        TearDown();
    }
}

// Wrong echoed states matter only where a state is asked for: the erase, the address and the data
// blocks report none, and the closing commands are not examined.
TEST_F(UpdateCourse, AWrongEchoedStateFailsOnlyTheStateCommands) {
    const ModelImage image = imageOf(MODEL_60);
    const std::uint8_t commands[] = {CMD_ERASE_FIRMWARE, CMD_SET_WRITE_ADDRESS, CMD_WRITE_DATA};
    for (std::uint8_t command : commands) {
        SetUp();
        plugAndOpen(compatibleUnit(*image.row));
        simSetFault(esc(), wrongStateAt(command, 7));
        run(image);
        expectCourse(wholeUpdate(image.row->imageBytes), "wrong state, not examined");
        expectFlashHolds(esc(), image.bytes);
        TearDown();
    }
}

// ---- Recovery: unplugged in the middle of the transfer, plugged in again, updated again

TEST_F(UpdateCourse, AnEscLeftHalfWrittenByAnUnplugIsUpdatedAgainWithoutTheVersionQuestion) {
    const ModelImage image = imageOf(MODEL_140);
    plugAndOpen(compatibleUnit(*image.row, 0x0300));  // newer than the image: the first run asks
    simSetFault(esc(), simFault(SimFaultKind::Vanish, CMD_WRITE_DATA, MIDDLE_BLOCK));
    FakeFrontendScript script;
    run(image, script);
    // The version question sits between the warning and the lock.
    Course expectedFirst = blockFails(MIDDLE_BLOCK, RESULT_WRITE_FAILED, GONE_ERROR);
    expectedFirst.insert(expectedFirst.begin() + 1, OLDER_FIRMWARE);
    expectCourse(expectedFirst, "first run, unplugged");
    expectLinkClosed();

    // The unit comes back with the same ESC: erased, the first thousand blocks written.
    const SimUnit before = esc();
    simBusUnplug(unit);
    SimConfig again = compatibleUnit(*image.row, ESC_WITHOUT_FIRMWARE);
    unit = simBusAdd(again);
    esc().flash = before.flash;
    ASSERT_EQ(openDeviceLink(DeviceLink), RESULT_OK);
    EXPECT_EQ(escFirmwareVersion(DeviceLink), ESC_WITHOUT_FIRMWARE);
    EXPECT_NE(0, std::memcmp(esc().flash.data(), image.bytes.data(), image.bytes.size()));

    run(image);
    expectCourse(wholeUpdate(image.row->imageBytes), "second run");
    expectFlashHolds(esc(), image.bytes);
    EXPECT_TRUE(isDeviceLinkOpen(DeviceLink));
}

}  // namespace

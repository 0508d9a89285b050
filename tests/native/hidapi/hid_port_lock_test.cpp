// One writer per unit: the hidapi port's flock on the unit's node, between real processes of
// different users. Real hidraw nodes cannot be made here, so each simulated unit's path is a plain
// file standing in for its node: the port opens it and flocks it exactly as it would /dev/hidrawN,
// and the lock is the kernel's own. What this cannot show: that the kernel's hidraw driver keeps
// the lock for a node (it is the same inode lock as for any file), and macOS's exclusive open.
#include "hidapi_double.h"

#include "device/device_link.h"
#include "device/hid_port.h"
#include "device/unit_listing.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uid_t OTHER_USER = 65534;  // nobody
constexpr int ANSWER_BOUND_MS = 10000;

// Results a child sends its parent, one byte each.
constexpr char OPENED = 'o';
constexpr char BUSY = 'b';
constexpr char OTHER_FAILURE = 'f';
constexpr char NO_SUCH_USER = 'u';

std::wstring widened(const std::string& text) { return std::wstring(text.begin(), text.end()); }

class HidapiUnitLock : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "two users need root to become the second one";
        char folder[] = "/tmp/quenlor-nodes-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        nodes = folder;
        ASSERT_EQ(chmod(folder, 0755), 0);
        hidapiDoubleReset();
        for (int unit = 0; unit < 2; ++unit) {
            const std::string node = nodes + "/hidraw" + std::to_string(unit);
            const int file = open(node.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0666);
            ASSERT_GE(file, 0);
            close(file);
            ASSERT_EQ(chmod(node.c_str(), 0666), 0);
            simBusAdd(SimConfig{});
            simBusDevice(unit).path = widened(node);
        }
    }
    void TearDown() override {
        for (pid_t child : children) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
        if (nodes.empty()) return;
        std::system(("rm -rf '" + nodes + "'").c_str());
    }

    std::string nodePath(int unit) const { return nodes + "/hidraw" + std::to_string(unit); }

    // A child of the given user that opens the unit, tells the result and holds the unit until
    // its parent closes the pipe.
    void holdInChild(uid_t user, int unit, char* result) {
        int answer[2];
        int release[2];
        ASSERT_EQ(pipe(answer), 0);
        ASSERT_EQ(pipe(release), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(answer[0]);
            close(release[1]);
            if (user != 0 && (setgid(user) != 0 || setuid(user) != 0)) {
                const char code = NO_SUCH_USER;
                if (write(answer[1], &code, 1) != 1) _exit(2);
                _exit(1);
            }
            const char code = openResult(unit, &held);
            if (write(answer[1], &code, 1) != 1) _exit(2);
            char ignored = 0;
            while (read(release[0], &ignored, 1) > 0) {
            }
            hidPortClose(held);
            _exit(0);
        }
        children.push_back(child);
        close(answer[1]);
        close(release[0]);
        releases.push_back(release[1]);
        pollfd watched{answer[0], POLLIN, 0};
        *result = 0;
        if (poll(&watched, 1, ANSWER_BOUND_MS) == 1 && read(answer[0], result, 1) != 1) *result = 0;
        close(answer[0]);
    }

    // Lets every child go, and checks that each ended well.
    void releaseChildren() {
        for (int release : releases) close(release);
        releases.clear();
        for (pid_t child : children) {
            int status = 0;
            EXPECT_EQ(waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        children.clear();
    }

    static char openResult(int unit, HANDLE* handle) {
        HidOpenFailure failure = HidOpenFailure::Other;
        *handle = hidPortOpen(simBusPath(unit), &failure);
        if (*handle != INVALID_HANDLE_VALUE) return OPENED;
        if (failure == HidOpenFailure::Busy && hidPortLastError() == EBUSY) return BUSY;
        return OTHER_FAILURE;
    }

    std::string nodes;
    std::vector<pid_t> children;
    std::vector<int> releases;
    HANDLE held = INVALID_HANDLE_VALUE;
};

TEST_F(HidapiUnitLock, AUnitHeldByAnyUserIsBusyForEveryOtherAndTheOtherUnitIsFree) {
    struct Case {
        const char* label;
        uid_t holder;
        uid_t contender;
    };
    const Case cases[] = {
        {"held by another user, root contends", OTHER_USER, 0},
        {"held by root, another user contends", 0, OTHER_USER},
        {"held by root, root contends (sudo beside sudo)", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        char holding = 0;
        holdInChild(c.holder, 0, &holding);
        ASSERT_EQ(holding, OPENED);
        char contending = 0;
        holdInChild(c.contender, 0, &contending);
        EXPECT_EQ(contending, BUSY) << "the second writer on unit 0 is refused";
        char other = 0;
        holdInChild(c.contender, 1, &other);
        EXPECT_EQ(other, OPENED) << "unit 1 is free meanwhile";
        releaseChildren();

        HANDLE after = INVALID_HANDLE_VALUE;
        EXPECT_EQ(openResult(0, &after), OPENED) << "the lock went with the holder";
        hidPortClose(after);
    }
    EXPECT_EQ(hidapiDoubleOpenDevices(), 0u);
}

// A unit held by a process of another user is listed as busy, and the busy open closes what it
// had opened.
TEST_F(HidapiUnitLock, TheListingTellsAHeldUnitFromAFreeOne) {
    char holding = 0;
    holdInChild(OTHER_USER, 1, &holding);
    ASSERT_EQ(holding, OPENED);
    struct Seen {
        std::vector<HidOpenFailure> failures;
    } seen;
    ASSERT_EQ(listProgrammingUnits(
                  [](const ProgrammingUnitEntry& unit, void* context) {
                      static_cast<Seen*>(context)->failures.push_back(unit.openFailure);
                  },
                  &seen),
              2);
    EXPECT_EQ(seen.failures, (std::vector<HidOpenFailure>{HidOpenFailure::None, HidOpenFailure::Busy}));
    EXPECT_EQ(hidapiDoubleOpenDevices(), 0u);
    releaseChildren();
}

// What locked users out before: files and FIFOs another user plants where a per-user lock file
// would go, and a runtime folder nobody may write. None of them stands between a user and a unit.
TEST_F(HidapiUnitLock, NothingAnotherUserPlantsLocksAUnit) {
    char folder[] = "/tmp/quenlor-runtime-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    ASSERT_EQ(chmod(folder, 0755), 0);  // root's; the other user may not write in it
    const std::string runtime = folder;
    const std::string plantedFile = "/tmp/quenlor-" + std::to_string(OTHER_USER) + ".lock";
    const std::string plantedFifo = runtime + "/quenlor.lock";
    unlink(plantedFile.c_str());
    const int planted = open(plantedFile.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    ASSERT_GE(planted, 0);
    ASSERT_EQ(flock(planted, LOCK_EX | LOCK_NB), 0) << "held for good by its planter";
    ASSERT_EQ(mkfifo(plantedFifo.c_str(), 0600), 0);
    struct Case {
        const char* label;
        const char* runtimeFolder;  // null: unset
    };
    const Case cases[] = {{"no runtime folder: a held file planted in /tmp", nullptr},
                          {"a runtime folder the user may not write, with a FIFO in it", folder}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        if (c.runtimeFolder != nullptr) {
            setenv("XDG_RUNTIME_DIR", c.runtimeFolder, 1);
        } else {
            unsetenv("XDG_RUNTIME_DIR");
        }
        char opened = 0;
        holdInChild(OTHER_USER, 0, &opened);
        EXPECT_EQ(opened, OPENED);
        releaseChildren();
    }
    unsetenv("XDG_RUNTIME_DIR");
    close(planted);
    unlink(plantedFile.c_str());
    unlink(plantedFifo.c_str());
    rmdir(folder);
}

// A lock that cannot be taken (here: a node the port may not open for it) is no holder: the unit
// opens all the same, and only a real holder makes it busy.
TEST_F(HidapiUnitLock, ALockThatCannotBeTakenDoesNotKeepTheUserOut) {
    ASSERT_EQ(chmod(nodePath(0).c_str(), 0), 0);
    char opened = 0;
    holdInChild(OTHER_USER, 0, &opened);
    EXPECT_EQ(opened, OPENED);
    releaseChildren();
}

// Two processes of two users write two units at once: each identifies its unit and sends it
// commands while the other holds its own.
TEST_F(HidapiUnitLock, TwoUnitsAreServedByTwoProcessesAtOnce) {
    const uid_t users[2] = {0, OTHER_USER};
    int answers[2][2];
    int release[2];
    ASSERT_EQ(pipe(release), 0);
    for (int unit = 0; unit < 2; ++unit) {
        ASSERT_EQ(pipe(answers[unit]), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(release[1]);
            if (users[unit] != 0 && (setgid(users[unit]) != 0 || setuid(users[unit]) != 0)) _exit(1);
            DeviceLinkRecord link{};
            resetDeviceLink(link);
            std::wstring wanted = simBusPath(unit);
            const bool identified =
                openDeviceLinkWhere(
                    link, [](const wchar_t* path, void* want) { return *static_cast<std::wstring*>(want) == path; },
                    &wanted) == RESULT_OK;
            const bool commanded = identified && setSystemLock(link, 1) == RESULT_OK;
            const char code = commanded ? OPENED : OTHER_FAILURE;
            if (write(answers[unit][1], &code, 1) != 1) _exit(2);
            char ignored = 0;
            while (read(release[0], &ignored, 1) > 0) {
            }
            const bool unlocked = setSystemLock(link, 0) == RESULT_OK;
            closeDeviceLink(link);
            _exit(unlocked ? 0 : 3);
        }
        children.push_back(child);
        close(answers[unit][1]);
    }
    close(release[0]);
    releases.push_back(release[1]);
    for (int unit = 0; unit < 2; ++unit) {
        SCOPED_TRACE(unit);
        pollfd watched{answers[unit][0], POLLIN, 0};
        char code = 0;
        if (poll(&watched, 1, ANSWER_BOUND_MS) == 1 && read(answers[unit][0], &code, 1) != 1) code = 0;
        EXPECT_EQ(code, OPENED) << "both units are open and answering at the same time";
        close(answers[unit][0]);
    }
    HANDLE third = INVALID_HANDLE_VALUE;
    EXPECT_EQ(openResult(0, &third), BUSY) << "a third program finds unit 0 taken";
    EXPECT_EQ(openResult(1, &third), BUSY) << "and unit 1";
    releaseChildren();
}

}  // namespace

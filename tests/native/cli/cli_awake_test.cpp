// Keeping the system awake on Linux asks logind over the system bus. Tested against a private
// system bus (dbus-daemon on an address of the test's own) with python3-dbusmock's logind
// template: which inhibitors are held at which request of the update, on success and on failure.
// Where there is no bus, the update goes on unchanged: nothing is held, nothing leaks.
#include "tests/native/cli/cli_harness.h"

#include "cli/cli_platform.h"
#include "device/device_link.h"
#include "device/precise_wait.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#if __has_include(<systemd/sd-bus.h>)
#include <systemd/sd-bus.h>
#define QUENLOR_TEST_LOGIND 1
#endif

namespace {

int openDescriptors() {
    int count = 0;
    DIR* folder = opendir("/proc/self/fd");
    if (folder == nullptr) return -1;
    while (readdir(folder) != nullptr) ++count;
    closedir(folder);
    return count;
}

// The system bus address as it was, put back at the end of a test.
struct SavedBusAddress {
    SavedBusAddress() {
        const char* previous = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
        had = previous != nullptr;
        if (had) value = previous;
    }
    ~SavedBusAddress() {
        if (had) {
            setenv("DBUS_SYSTEM_BUS_ADDRESS", value.c_str(), 1);
        } else {
            unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        }
    }
    bool had;
    std::string value;
};

TEST(CliKeepAwake, WithoutASystemBusHoldsNothingAndLeaksNothing) {
    const SavedBusAddress saved;
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/quenlor-test-bus", 1);
    const int before = openDescriptors();
    keepSystemAwake(true);
    EXPECT_FALSE(canKeepSystemAwake());
    keepSystemAwake(false);
    EXPECT_FALSE(canKeepSystemAwake());
    EXPECT_EQ(openDescriptors(), before);
}

#if defined(QUENLOR_TEST_LOGIND)

constexpr std::uint64_t START_BOUND_US = 20000000;
constexpr std::uint64_t RELEASE_BOUND_US = 5000000;

pid_t startQuietly(const std::vector<std::string>& argv) {
    const pid_t child = fork();
    if (child != 0) return child;
    const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
    dup2(quiet, STDOUT_FILENO);
    dup2(quiet, STDERR_FILENO);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

sd_bus* connectTo(const std::string& address) {
    sd_bus* bus = nullptr;
    if (sd_bus_new(&bus) < 0) return nullptr;
    if (sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0 || sd_bus_start(bus) < 0) {
        sd_bus_unref(bus);
        return nullptr;
    }
    return bus;
}

// What each inhibitor logind holds is for ("sleep:idle", "handle-lid-switch"), who holds it and
// how; empty on any failure of the call (the test then sees no inhibitor where it expects one).
std::vector<std::string> listInhibitors(sd_bus* bus) {
    std::vector<std::string> held;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    if (sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                           "ListInhibitors", &error, &reply, "") >= 0 &&
        sd_bus_message_enter_container(reply, 'a', "(ssssuu)") >= 0) {
        const char* what = nullptr;
        const char* who = nullptr;
        const char* why = nullptr;
        const char* mode = nullptr;
        std::uint32_t uid = 0;
        std::uint32_t pid = 0;
        while (sd_bus_message_read(reply, "(ssssuu)", &what, &who, &why, &mode, &uid, &pid) > 0) {
            held.push_back(std::string(what) + " by " + who + " (" + mode + ")");
        }
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    return held;
}

bool logindIsThere(sd_bus* bus) {
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int has = 0;
    if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
                           &error, &reply, "s", "org.freedesktop.login1") >= 0) {
        sd_bus_message_read(reply, "b", &has);
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    return has != 0;
}

const std::vector<std::string> BOTH_HELD = {"sleep:idle by quenlor (block)", "handle-lid-switch by quenlor (block)"};

// The test's own connection, and what it saw at the requests it watched.
sd_bus* TestBus = nullptr;
std::vector<std::string> SeenAtIdentification;
std::vector<std::string> SeenAtLock;
std::vector<std::string> SeenAtLastCommand;
std::vector<std::string> SeenAtErase;

void watchInhibitors(const std::uint8_t* report, std::uint32_t length) {
    if (length < 4) return;
    if (report[1] == CMD_GET_INFO) SeenAtIdentification = listInhibitors(TestBus);
    if (report[1] == CMD_SYSTEM_LOCK && report[3] == 1) SeenAtLock = listInhibitors(TestBus);
    if (report[1] == CMD_SYSTEM_LOCK && report[3] == 0) SeenAtLastCommand = listInhibitors(TestBus);
    if (report[1] == CMD_ERASE_FIRMWARE) SeenAtErase = listInhibitors(TestBus);
}

class CliLogind : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/quenlor-bus-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        busFolder = folder;
        const std::string address = "unix:path=" + busFolder + "/system_bus_socket";
        daemon = startQuietly({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + address});
        const std::uint64_t deadline = monotonicNowUs() + START_BOUND_US;
        while (TestBus == nullptr && monotonicNowUs() < deadline) {
            TestBus = connectTo(address);
            if (TestBus == nullptr) waitAtLeast(10, nullptr);
        }
        ASSERT_NE(TestBus, nullptr) << "dbus-daemon (package dbus-daemon) did not start a bus";
        setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
        mock = startQuietly({"/usr/bin/python3", "-m", "dbusmock", "--template", "logind"});
        while (!logindIsThere(TestBus) && monotonicNowUs() < deadline) waitAtLeast(10, nullptr);
        ASSERT_TRUE(logindIsThere(TestBus)) << "python3-dbusmock's logind did not come up";
    }
    void TearDown() override {
        simBusObserveWrites(nullptr);
        if (TestBus != nullptr) sd_bus_flush_close_unref(TestBus);
        TestBus = nullptr;
        for (pid_t child : {mock, daemon}) {
            if (child <= 0) continue;
            kill(child, SIGTERM);
            waitpid(child, nullptr, 0);
        }
        std::system(("rm -rf '" + busFolder + "'").c_str());
    }

    // Waits with a bound until logind holds nothing any more.
    static std::vector<std::string> inhibitorsOnceReleased() {
        const std::uint64_t deadline = monotonicNowUs() + RELEASE_BOUND_US;
        std::vector<std::string> held = listInhibitors(TestBus);
        while (!held.empty() && monotonicNowUs() < deadline) {
            waitAtLeast(5, nullptr);
            held = listInhibitors(TestBus);
        }
        return held;
    }

    const SavedBusAddress saved;
    std::string busFolder;
    pid_t daemon = -1;
    pid_t mock = -1;
};

TEST_F(CliLogind, InhibitorsAreTakenBeforeTheLockAndReleasedAfterTheLastCommand) {
    plugUnit(escOfModel(0));
    SeenAtIdentification = {"not seen"};
    SeenAtLock.clear();
    SeenAtLastCommand.clear();
    simBusObserveWrites(watchInhibitors);
    const CliRun run = runCli({"update", "--yes"});
    EXPECT_EQ(run.exitCode, CLI_EXIT_DONE) << run.err;
    EXPECT_EQ(SeenAtIdentification, std::vector<std::string>{}) << "nothing is held before the update";
    EXPECT_EQ(SeenAtLock, BOTH_HELD);
    EXPECT_EQ(SeenAtLastCommand, BOTH_HELD);
    EXPECT_FALSE(canKeepSystemAwake());
    EXPECT_EQ(inhibitorsOnceReleased(), std::vector<std::string>{});
}

TEST_F(CliLogind, AFailedUpdateReleasesThemToo) {
    struct Case {
        const char* label;
        SimFault fault;
    };
    const Case cases[] = {
        {"the erase refused", simFault(SimFaultKind::FailWrite, CMD_ERASE_FIRMWARE)},
        {"the unit gone during the transfer", simFault(SimFaultKind::Vanish, CMD_WRITE_DATA, 100)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        SimConfig config = escOfModel(0);
        config.fault = c.fault;
        plugUnit(config);
        SeenAtErase.clear();
        simBusObserveWrites(watchInhibitors);
        const CliRun run = runCli({"update", "--yes"});
        simBusObserveWrites(nullptr);
        EXPECT_EQ(run.exitCode, CLI_EXIT_UPDATE_FAILED);
        EXPECT_EQ(SeenAtErase, BOTH_HELD);
        EXPECT_EQ(inhibitorsOnceReleased(), std::vector<std::string>{});
    }
}

#endif

}  // namespace

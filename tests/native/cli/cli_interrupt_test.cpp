// Interrupts sent to the whole process with kill(), from another thread and from another process,
// at chosen requests of the update. Each case runs the program in a forked child of its own, so that
// a signal that ends or stops the program ends or stops only the child; the parent watches it with a
// bounded wait, sends the signals "from another process", continues a stopped child and reads its
// standard error.
#include "tests/native/cli/cli_harness.h"

#include "cli/cli_platform.h"
#include "cli/cli_texts.h"
#include "device/device_link.h"
#include "device/precise_wait.h"
#include "model/model_table.h"
#include "model/stand_in_image.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

enum class Sender { Thread, Process };

// The request at which the signal is sent: the command, the state byte for lock and protection
// requests (-1: any), and for data blocks the block's number (from 0).
struct Moment {
    std::uint8_t command;
    int state;
    std::uint32_t block;
};

constexpr Moment AT_IDENTIFICATION = {CMD_GET_INFO, -1, 0};
constexpr Moment AT_LOCK = {CMD_SYSTEM_LOCK, 1, 0};
constexpr Moment AT_ERASE = {CMD_ERASE_FIRMWARE, -1, 0};
constexpr Moment AT_BLOCK_5 = {CMD_WRITE_DATA, -1, 5};
// The first request after the last block: write protection back on.
constexpr Moment AFTER_LAST_BLOCK = {CMD_WRITE_PROTECT, 1, 0};
// The update's last command: the lock off.
constexpr Moment AT_LAST_COMMAND = {CMD_SYSTEM_LOCK, 0, 0};

// Exit codes of the child beyond the program's own.
constexpr int CHILD_FLASH_WRONG = 90;
constexpr int CHILD_SIGNAL_NOT_TAKEN = 91;
constexpr int CHILD_PIPE_FAILED = 92;
constexpr std::uint64_t SIGNAL_ARRIVAL_BOUND_US = 10000000;
constexpr int CHILD_BOUND_MS = 60000;

// The child's side, set before the fork.
Moment SendAt{};
int SignalToSend = 0;
Sender SentBy = Sender::Thread;
int ToParent = -1;    // the child asks the parent to send, here
int FromParent = -1;  // and hears here that it was sent
int SendNow = -1;     // tells the child's sender thread to send
std::uint32_t DataBlocksSeen = 0;

bool isTheMoment(const std::uint8_t* report, std::uint32_t length) {
    if (length < 4 || report[1] != SendAt.command) return false;
    if (SendAt.state >= 0 && report[3] != SendAt.state) return false;
    if (SendAt.command == CMD_WRITE_DATA) return DataBlocksSeen++ == SendAt.block;
    return true;
}

void sendAtTheMoment(const std::uint8_t* report, std::uint32_t length) {
    if (!isTheMoment(report, length)) return;
    simBusObserveWrites(nullptr);
    const unsigned before = interruptsTaken();
    if (SentBy == Sender::Thread) {
        if (write(SendNow, "s", 1) != 1) _exit(CHILD_PIPE_FAILED);
    } else {
        char sent = 0;
        if (write(ToParent, "s", 1) != 1 || read(FromParent, &sent, 1) != 1) _exit(CHILD_PIPE_FAILED);
    }
    // A signal that ends the program ends it here; one that stops it stops it until the parent
    // continues it; a held one is counted.
    const std::uint64_t deadline = monotonicNowUs() + SIGNAL_ARRIVAL_BOUND_US;
    while (interruptsTaken() == before) {
        if (monotonicNowUs() > deadline) _exit(CHILD_SIGNAL_NOT_TAKEN);
        waitAtLeast(1, nullptr);
    }
}

bool flashHoldsImageOf(std::size_t modelIndex) {
    std::vector<std::uint8_t> image(MODEL_ROWS[modelIndex].imageBytes);
    fillStandInImage(MODEL_ROWS[modelIndex].imageResourceId, image.data(), image.size());
    const std::vector<std::uint8_t>& flash = simBusUnit(0).flash;
    return flash.size() >= image.size() && std::memcmp(flash.data(), image.data(), image.size()) == 0;
}

[[noreturn]] void runChild(int errorPipe) {
    dup2(errorPipe, STDERR_FILENO);
    installInterruptHandling();
    // A thread that runs from before the update, as hidapi's read thread on macOS does from the
    // open: it sends when told to.
    int sendNow[2];
    if (pipe(sendNow) != 0) _exit(CHILD_PIPE_FAILED);
    SendNow = sendNow[1];
    std::thread sender([readEnd = sendNow[0]] {
        char ignored = 0;
        if (read(readEnd, &ignored, 1) == 1) kill(getpid(), SignalToSend);
    });
    sender.detach();
    plugUnit(escOfModel(0));
    DataBlocksSeen = 0;
    simBusObserveWrites(sendAtTheMoment);
    const CliRun run = runCli({"update", "--yes"});
    const ssize_t written = write(STDERR_FILENO, run.err.data(), run.err.size());
    (void)written;
    if (run.exitCode == CLI_EXIT_DONE && !flashHoldsImageOf(0)) _exit(CHILD_FLASH_WRONG);
    _exit(run.exitCode);
}

struct ChildOutcome {
    int exitCode = -1;  // -1: it did not exit within the bound, or was killed
    int timesStopped = 0;
    std::string err;
};

// Runs one case in a child and waits for it with a bound; a child that stopped is continued.
ChildOutcome runCase(const Moment& moment, int signal, Sender sender) {
    int toParent[2];
    int fromParent[2];
    int errors[2];
    ChildOutcome outcome;
    if (pipe(toParent) != 0 || pipe(fromParent) != 0 || pipe(errors) != 0) return outcome;
    SendAt = moment;
    SignalToSend = signal;
    SentBy = sender;
    ToParent = toParent[1];
    FromParent = fromParent[0];
    const pid_t child = fork();
    if (child == 0) runChild(errors[1]);
    close(toParent[1]);
    close(fromParent[0]);
    close(errors[1]);
    fcntl(errors[0], F_SETFL, O_NONBLOCK);
    const std::uint64_t deadline = monotonicNowUs() + std::uint64_t{CHILD_BOUND_MS} * 1000;
    bool exited = false;
    while (!exited && monotonicNowUs() < deadline) {
        pollfd watched[2] = {{toParent[0], POLLIN, 0}, {errors[0], POLLIN, 0}};
        poll(watched, 2, 5);
        char request = 0;
        if ((watched[0].revents & POLLIN) != 0 && read(toParent[0], &request, 1) == 1) {
            kill(child, signal);
            if (write(fromParent[1], "k", 1) != 1) break;
        }
        char bytes[256];
        ssize_t got = 0;
        while ((got = read(errors[0], bytes, sizeof bytes)) > 0) outcome.err.append(bytes, static_cast<std::size_t>(got));
        int status = 0;
        const pid_t waited = waitpid(child, &status, WNOHANG | WUNTRACED);
        if (waited != child) continue;
        if (WIFSTOPPED(status)) {
            ++outcome.timesStopped;
            kill(child, SIGCONT);
        } else {
            exited = true;
            outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
    }
    if (!exited) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    char bytes[256];
    ssize_t got = 0;
    while ((got = read(errors[0], bytes, sizeof bytes)) > 0) outcome.err.append(bytes, static_cast<std::size_t>(got));
    close(toParent[0]);
    close(fromParent[1]);
    close(errors[0]);
    return outcome;
}

struct InterruptCase {
    const char* label;
    Moment moment;
    int signal;
    Sender sender;
    int exitCode;
    int timesStopped;
    const char* err;
};

TEST(CliInterrupt, HeldFromTheLockUntilTheOutcomeIsOut) {
    const InterruptCase cases[] = {
        {"Ctrl-C at the lock, from a thread", AT_LOCK, SIGINT, Sender::Thread, CLI_EXIT_DONE, 0, INTERRUPT_REFUSED},
        {"SIGTERM during the erase, from a process", AT_ERASE, SIGTERM, Sender::Process, CLI_EXIT_DONE, 0,
         INTERRUPT_REFUSED},
        {"SIGHUP during the transfer, from a thread", AT_BLOCK_5, SIGHUP, Sender::Thread, CLI_EXIT_DONE, 0,
         INTERRUPT_REFUSED},
        {"Ctrl-C during the transfer, from a process", AT_BLOCK_5, SIGINT, Sender::Process, CLI_EXIT_DONE, 0,
         INTERRUPT_REFUSED},
        {"Ctrl-\\ during the transfer, from a thread", AT_BLOCK_5, SIGQUIT, Sender::Thread, CLI_EXIT_DONE, 0,
         INTERRUPT_REFUSED},
        {"Ctrl-Z during the erase, from a process", AT_ERASE, SIGTSTP, Sender::Process, CLI_EXIT_DONE, 0,
         INTERRUPT_REFUSED},
        {"SIGTTOU during the transfer, from a thread", AT_BLOCK_5, SIGTTOU, Sender::Thread, CLI_EXIT_DONE, 0,
         INTERRUPT_REFUSED},
        {"SIGTTIN during the transfer, from a process", AT_BLOCK_5, SIGTTIN, Sender::Process, CLI_EXIT_DONE, 0,
         INTERRUPT_REFUSED},
        {"Ctrl-C just after the last block, from a thread", AFTER_LAST_BLOCK, SIGINT, Sender::Thread, CLI_EXIT_DONE,
         0, INTERRUPT_REFUSED},
        {"SIGTERM just after the last block, from a process", AFTER_LAST_BLOCK, SIGTERM, Sender::Process,
         CLI_EXIT_DONE, 0, INTERRUPT_REFUSED},
        {"SIGHUP at the last command, from a process", AT_LAST_COMMAND, SIGHUP, Sender::Process, CLI_EXIT_DONE, 0,
         INTERRUPT_REFUSED},
        // Before the lock nothing has been changed: the program ends (or stops) as it would by default.
        {"Ctrl-C during identification, from a thread", AT_IDENTIFICATION, SIGINT, Sender::Thread,
         CLI_EXIT_INTERRUPTED, 0, INTERRUPTED},
        {"SIGTERM during identification, from a process", AT_IDENTIFICATION, SIGTERM, Sender::Process,
         CLI_EXIT_INTERRUPTED, 0, INTERRUPTED},
        {"Ctrl-Z during identification stops it; continued it updates", AT_IDENTIFICATION, SIGTSTP, Sender::Process,
         CLI_EXIT_DONE, 1, ""},
    };
    for (const InterruptCase& c : cases) {
        SCOPED_TRACE(c.label);
        const ChildOutcome outcome = runCase(c.moment, c.signal, c.sender);
        EXPECT_EQ(outcome.exitCode, c.exitCode);
        EXPECT_EQ(outcome.timesStopped, c.timesStopped);
        EXPECT_EQ(outcome.err, c.err);
    }
}

}  // namespace

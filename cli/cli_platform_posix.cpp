// Interrupts on POSIX. The held signals are blocked in every thread of the process from the start,
// before any device is opened (on macOS hidapi starts a thread of its own in every open, and it
// inherits the mask), and one thread of ours takes them with sigwait. A signal handler is never run,
// so no device call is cut short by EINTR and no thread can end the program half-way through a
// write. Before the update begins that thread ends the program at once (Ctrl-Z and the background
// terminal signals stop it, as they would by default); from the system lock on it only counts them,
// and the update tells the person once that it will not stop. The hold is never lifted again: the
// program ends with the update's own exit code once its outcome has been written.
#include "cli/cli_platform.h"

#include "cli/cli_texts.h"

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

#if defined(__APPLE__)
#include <IOKit/pwr_mgt/IOPMLib.h>
#elif defined(QUENLOR_HAVE_LOGIND)
#include <fcntl.h>
#include <systemd/sd-bus.h>
#endif

namespace {

// Ctrl-C, kill, a closed terminal and Ctrl-\\ end the program; Ctrl-Z and a background job's
// terminal access stop it.
constexpr int ENDING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int STOPPING_SIGNALS[] = {SIGTSTP, SIGTTOU, SIGTTIN};

sigset_t heldSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : ENDING_SIGNALS) sigaddset(&set, signal);
    for (int signal : STOPPING_SIGNALS) sigaddset(&set, signal);
    return set;
}

bool isStoppingSignal(int signal) {
    for (int stopping : STOPPING_SIGNALS) {
        if (signal == stopping) return true;
    }
    return false;
}

// Whether the update holds interrupts; changed and read only under HoldLock, so that the signal
// thread never ends the program after the update has sent its first command.
pthread_mutex_t HoldLock = PTHREAD_MUTEX_INITIALIZER;
bool Holding = false;
// Signals taken while held and not yet answered by the update.
std::atomic<unsigned> HeldCount{0};
std::atomic<unsigned> TakenCount{0};
bool SignalThreadStarted = false;

void* takeSignals(void*) {
    const sigset_t set = heldSignals();
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0) continue;
        pthread_mutex_lock(&HoldLock);
        if (Holding) {
            HeldCount.fetch_add(1);
        } else if (isStoppingSignal(signal)) {
            // What the default action would do; SIGSTOP cannot be blocked. The program goes on
            // where it was once continued.
            kill(getpid(), SIGSTOP);
        } else {
            const ssize_t written = write(STDERR_FILENO, INTERRUPTED, std::strlen(INTERRUPTED));
            (void)written;
            _exit(130);
        }
        TakenCount.fetch_add(1);
        pthread_mutex_unlock(&HoldLock);
    }
    return nullptr;
}

#if defined(__APPLE__)
IOPMAssertionID AwakeAssertion = 0;
bool AwakeAsserted = false;
#endif

#if defined(QUENLOR_HAVE_LOGIND)
// Inhibitor locks of logind for as long as their descriptors stay open: one against sleep and
// idle, and one against the lid switch, which logind by default obeys despite a sleep lock. They
// are asked for apart: logind may refuse the lid switch to an unprivileged user, and that must not
// cost the sleep lock.
constexpr const char* INHIBITED[] = {"sleep:idle", "handle-lid-switch"};
constexpr std::size_t INHIBITOR_COUNT = sizeof INHIBITED / sizeof INHIBITED[0];
int InhibitorLocks[INHIBITOR_COUNT] = {-1, -1};
// logind answers at once; a system bus that does not must not hold up the update.
constexpr std::uint64_t INHIBIT_TIMEOUT_US = 2000000;

// The lock's descriptor, or -1 where there is no system bus or logind refuses: the update goes on
// all the same, as on a system that never sleeps.
int takeInhibitor(const char* what) {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) return -1;
    int lock = -1;
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    if (sd_bus_message_new_method_call(bus, &call, "org.freedesktop.login1", "/org/freedesktop/login1",
                                       "org.freedesktop.login1.Manager", "Inhibit") >= 0 &&
        sd_bus_message_append(call, "ssss", what, "quenlor", "Writing firmware into an ESC", "block") >= 0 &&
        sd_bus_call(bus, call, INHIBIT_TIMEOUT_US, &error, &reply) >= 0) {
        int received = -1;
        // The descriptor belongs to the reply; a copy outlives it.
        if (sd_bus_message_read(reply, "h", &received) >= 0) lock = fcntl(received, F_DUPFD_CLOEXEC, 3);
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    sd_bus_message_unref(call);
    sd_bus_flush_close_unref(bus);
    return lock;
}
#endif

}  // namespace

void installInterruptHandling() {
    // A reader that went away (a closed pipe, a closed terminal) must not end the update half-way;
    // the writes then simply fail.
    std::signal(SIGPIPE, SIG_IGN);
    const sigset_t set = heldSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    if (SignalThreadStarted) return;
    // A child forked from here has no signal thread; its own call starts one.
    pthread_atfork(nullptr, nullptr, [] { SignalThreadStarted = false; });
    pthread_t thread;
    SignalThreadStarted = pthread_create(&thread, nullptr, takeSignals, nullptr) == 0;
    if (SignalThreadStarted) pthread_detach(thread);
}

void holdInterrupts(bool hold) {
    pthread_mutex_lock(&HoldLock);
    Holding = hold;
    if (!hold) HeldCount.store(0);
    pthread_mutex_unlock(&HoldLock);
}

bool takeHeldInterrupt() {
    bool taken = HeldCount.exchange(0) != 0;
    // A signal sent to this thread alone (raise, pthread_kill) stays pending here, where the signal
    // thread cannot take it; sigwait returns at once for one that sigpending reports.
    sigset_t pending;
    sigemptyset(&pending);
    if (sigpending(&pending) != 0) return taken;
    const sigset_t held = heldSignals();
    for (int signal = 1; signal < NSIG; ++signal) {
        if (sigismember(&held, signal) != 1 || sigismember(&pending, signal) != 1) continue;
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, signal);
        int ignored = 0;
        sigwait(&one, &ignored);
        taken = true;
    }
    return taken;
}

unsigned interruptsTaken() { return TakenCount.load(); }

void keepSystemAwake(bool on) {
#if defined(__APPLE__)
    if (on && !AwakeAsserted) {
        AwakeAsserted = IOPMAssertionCreateWithName(kIOPMAssertionTypePreventUserIdleSystemSleep, kIOPMAssertionLevelOn,
                                                    CFSTR("Quenlor is writing ESC firmware"),
                                                    &AwakeAssertion) == kIOReturnSuccess;
    } else if (!on && AwakeAsserted) {
        IOPMAssertionRelease(AwakeAssertion);
        AwakeAsserted = false;
    }
#elif defined(QUENLOR_HAVE_LOGIND)
    for (std::size_t i = 0; i < INHIBITOR_COUNT; ++i) {
        // Where the sleep lock could not be had, the bus may be one that never answers: the lid
        // switch is not asked for then, so the update waits for one time-out at most.
        if (on && InhibitorLocks[i] < 0 && (i == 0 || InhibitorLocks[0] >= 0)) {
            InhibitorLocks[i] = takeInhibitor(INHIBITED[i]);
        } else if (!on && InhibitorLocks[i] >= 0) {
            close(InhibitorLocks[i]);  // the lock lasts as long as this descriptor is open
            InhibitorLocks[i] = -1;
        }
    }
#else
    // Without logind there is nobody to ask; the README tells the person to keep the system awake.
    (void)on;
#endif
}

bool canKeepSystemAwake() {
#if defined(__APPLE__)
    return AwakeAsserted;
#elif defined(QUENLOR_HAVE_LOGIND)
    return InhibitorLocks[0] >= 0;  // the sleep lock; the lid switch is a help beside it
#else
    return false;
#endif
}

// A session's end reaches the program as SIGHUP or SIGTERM, which are held back with the interrupts.
void holdSessionEnd(bool) {}

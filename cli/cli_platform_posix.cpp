// Interrupts on POSIX. Before the update begins a handler ends the program at once. While held the
// three signals are blocked in the program's one thread instead of ignored: a blocked signal stays
// pending, so the update can tell the person once that it will not stop, and no device call is
// cut short by EINTR as it would be by a handler. Pending ones are taken with sigwait, which
// returns at once for a signal that sigpending reports.
#include "cli/cli_platform.h"

#include "cli/cli_texts.h"

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

constexpr int HELD_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

sigset_t heldSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : HELD_SIGNALS) sigaddset(&set, signal);
    return set;
}

// Set once the update has held interrupts: from then on the ESC may have changed.
volatile sig_atomic_t UpdateBegan = 0;

void endAtOnce(int) {
    const char* text = UpdateBegan != 0 ? INTERRUPTED_AFTER_UPDATE : INTERRUPTED;
    const ssize_t written = write(STDERR_FILENO, text, std::strlen(text));
    (void)written;
    _exit(130);
}

#if defined(__APPLE__)
IOPMAssertionID AwakeAssertion = 0;
bool AwakeAsserted = false;
#endif

#if defined(QUENLOR_HAVE_LOGIND)
// An inhibitor lock of logind against sleep and idle for as long as its descriptor stays open.
int InhibitorLock = -1;
// logind answers at once; a system bus that does not must not hold up the update.
constexpr std::uint64_t INHIBIT_TIMEOUT_US = 2000000;

// The lock's descriptor, or -1 where there is no system bus or logind refuses: the update goes on
// all the same, as on a system that never sleeps.
int takeSleepInhibitor() {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) return -1;
    int lock = -1;
    sd_bus_message* call = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    if (sd_bus_message_new_method_call(bus, &call, "org.freedesktop.login1", "/org/freedesktop/login1",
                                       "org.freedesktop.login1.Manager", "Inhibit") >= 0 &&
        sd_bus_message_append(call, "ssss", "sleep:idle", "quenlor", "Writing firmware into an ESC", "block") >= 0 &&
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
    struct sigaction action {};
    action.sa_handler = endAtOnce;
    sigemptyset(&action.sa_mask);
    for (int signal : HELD_SIGNALS) sigaction(signal, &action, nullptr);
    // A reader that went away (a closed pipe, a closed terminal) must not end the update half-way;
    // the writes then simply fail.
    std::signal(SIGPIPE, SIG_IGN);
}

void holdInterrupts(bool hold) {
    const sigset_t set = heldSignals();
    if (hold) {
        UpdateBegan = 1;
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        return;
    }
    while (takeHeldInterrupt()) {
    }
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

bool takeHeldInterrupt() {
    sigset_t pending;
    sigemptyset(&pending);
    if (sigpending(&pending) != 0) return false;
    for (int signal : HELD_SIGNALS) {
        if (sigismember(&pending, signal) != 1) continue;
        sigset_t one;
        sigemptyset(&one);
        sigaddset(&one, signal);
        int taken = 0;
        sigwait(&one, &taken);
        return true;
    }
    return false;
}

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
    if (on && InhibitorLock < 0) {
        InhibitorLock = takeSleepInhibitor();
    } else if (!on && InhibitorLock >= 0) {
        close(InhibitorLock);  // the lock lasts as long as this descriptor is open
        InhibitorLock = -1;
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
    return InhibitorLock >= 0;
#else
    return false;
#endif
}

// A session's end reaches the program as SIGHUP or SIGTERM, which are held back with the interrupts.
void holdSessionEnd(bool) {}

// Interrupts on POSIX. Before the update begins a handler ends the program at once. While held the
// three signals are blocked in the program's one thread instead of ignored: a blocked signal stays
// pending, so the update can tell the person once that it will not stop, and no device call is
// cut short by EINTR as it would be by a handler. Pending ones are taken with sigwait, which
// returns at once for a signal that sigpending reports.
#include "cli/cli_platform.h"

#include "cli/cli_texts.h"

#include <csignal>
#include <cstring>
#include <pthread.h>
#include <unistd.h>

#if defined(__APPLE__)
#include <IOKit/pwr_mgt/IOPMLib.h>
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
#else
    // Linux offers no in-process way that works without a session bus and a logind inhibitor
    // taken through it; the README tells the person to run the update under systemd-inhibit.
    (void)on;
#endif
}

bool canKeepSystemAwake() {
#if defined(__APPLE__)
    return true;
#else
    return false;
#endif
}

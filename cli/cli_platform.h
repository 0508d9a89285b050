// What the command-line updater needs of its system beyond the HID port: how interrupts are
// handled, keeping the system awake and holding off the session's end while the unit writes the ESC.
#pragma once

// Interrupts (POSIX: SIGINT, SIGTERM, SIGHUP, SIGQUIT, and SIGTSTP, SIGTTOU, SIGTTIN, which stop the
// program; Windows: Ctrl-C, Ctrl-Break and a closed console) end the program at once with exit code
// 130 until they are held back. Called once at start, before any device is opened and before any
// other thread starts.
void installInterruptHandling();
// From the system lock on an interrupt would leave the ESC without firmware: while held, interrupts
// are kept back instead of ending or stopping the program. The program holds them until it exits,
// so that the outcome is always written and the exit code is the update's; releasing (tests only)
// drops the ones that arrived meanwhile.
void holdInterrupts(bool hold);
// True when an interrupt arrived while held since the last call.
bool takeHeldInterrupt();
#ifndef _WIN32
// How many interrupts the program has taken and acted on so far (held, or a stop it came back
// from), for tests that wait until a signal sent from elsewhere has arrived.
unsigned interruptsTaken();
#endif

// Keeps the system from sleeping (on) and lets it sleep again (off). Windows: the thread's execution
// state; macOS: a power-management assertion; Linux: nothing can be done from inside the process.
void keepSystemAwake(bool on);
// Whether this build can keep the system awake at all, for the README's promise and --version.
bool canKeepSystemAwake();

// Holds off the end of the session (a log-off, a restart, a shut-down) while on. Windows: a hidden
// window of the program's own refuses the system's question and names the reason; a forced end
// still ends the program. Elsewhere nothing is held.
void holdSessionEnd(bool on);

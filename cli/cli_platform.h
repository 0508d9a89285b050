// What the command-line updater needs of its system beyond the HID port: how interrupts are
// handled, keeping the system awake and holding off the session's end while the unit writes the ESC.
#pragma once

// Ctrl-C, SIGTERM and SIGHUP (on Windows: Ctrl-C, Ctrl-Break and a closed console) end the program
// at once with exit code 130, until they are held back.
void installInterruptHandling();
// From the system lock to the end of the update an interrupt would leave the ESC without firmware:
// while held, interrupts are kept back instead of ending the program. Releasing drops the ones that
// arrived meanwhile.
void holdInterrupts(bool hold);
// True when an interrupt arrived while held since the last call.
bool takeHeldInterrupt();

// Keeps the system from sleeping (on) and lets it sleep again (off). Windows: the thread's execution
// state; macOS: a power-management assertion; Linux: nothing can be done from inside the process.
void keepSystemAwake(bool on);
// Whether this build can keep the system awake at all, for the README's promise and --version.
bool canKeepSystemAwake();

// Holds off the end of the session (a log-off, a restart, a shut-down) while on. Windows: a hidden
// window of the program's own refuses the system's question and names the reason; a forced end
// still ends the program. Elsewhere nothing is held.
void holdSessionEnd(bool on);

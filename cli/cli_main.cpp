// `quenlor`'s entry point: the real streams, the system's HID port and interrupt handling; the
// program itself is runQuenlor.
#include "cli/cli.h"
#include "cli/cli_platform.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    // First of all: the HID library and SetupAPI, loaded on first use, come from the system folder
    // only, never from the program's own folder.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    const HidPort* port = &WIN32_HID_PORT;
    const bool inIsTerminal = _isatty(_fileno(stdin)) != 0;
    const bool outIsTerminal = _isatty(_fileno(stdout)) != 0;
#else
    const HidPort* port = &HIDAPI_HID_PORT;
    const bool inIsTerminal = isatty(STDIN_FILENO) != 0;
    const bool outIsTerminal = isatty(STDOUT_FILENO) != 0;
#endif
    installInterruptHandling();
    const CliIo io{stdin, stdout, stderr, inIsTerminal, outIsTerminal, CliClock{nullptr, nullptr}, port, true};
    return runQuenlor(argc, argv, io);
}

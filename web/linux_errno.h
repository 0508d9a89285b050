// The page's system errors as Linux numbers them. The core in WebAssembly is built against
// Emscripten's <cerrno>, whose numbers are its own (ENODEV is 43 there, 19 on Linux); the page
// shows the numbers quenlor shows on Linux for the same failure, so that a code read out to the
// service means one thing whichever program showed it. Portable: on Linux every row maps a number
// to itself.
#pragma once

#include <cerrno>
#include <cstdint>

struct LinuxErrnoRow {
    int here;             // this build's <cerrno> value
    std::uint32_t onLinux;  // Linux's number for it
};

// Every errno the page's HID ports and the simulated unit report, and their near kin.
constexpr LinuxErrnoRow LINUX_ERRNO_ROWS[] = {
    {EPERM, 1},   {ENOENT, 2},  {EINTR, 4},   {EIO, 5},     {ENXIO, 6},         {EBADF, 9},
    {EAGAIN, 11}, {ENOMEM, 12}, {EACCES, 13}, {EBUSY, 16},  {ENODEV, 19},       {EINVAL, 22},
    {EPIPE, 32},  {ENOSYS, 38}, {EPROTO, 71}, {ECONNRESET, 104}, {ETIMEDOUT, 110},
};

// Linux's number for an errno value of this build; 0 stays 0 (no error). One the table lacks
// becomes Linux's EIO: a number of Emscripten's own would mean something else on Linux.
constexpr std::uint32_t linuxErrnoOf(std::uint32_t error) {
    if (error == 0) return 0;
    for (const LinuxErrnoRow& row : LINUX_ERRNO_ROWS) {
        if (static_cast<std::uint32_t>(row.here) == error) return row.onLinux;
    }
    return 5;
}

// The stamp log: when a program under the rig handed each request to the system and when it got
// each reply back, stamped by our hid.dll's wrappers of WriteFile, ReadFile and
// GetOverlappedResult, where the program's calls meet the unit. The benchmark creates a named file
// mapping of one StampLog, names it in the environment variable QUENLOR_RIG_STAMPS and starts the
// program, whose hid.dll fills it (no variable, no stamps); it reads it once the update is over.
// Times are microseconds of QueryPerformanceCounter, the same clock in every process.
#pragma once

#include <windows.h>

#include <cstdint>

constexpr wchar_t STAMP_LOG_VARIABLE[] = L"QUENLOR_RIG_STAMPS";
constexpr std::uint32_t STAMP_LOG_EXCHANGES = 8192;

struct StampedExchange {
    std::uint64_t requestTakenUs;  // the program called WriteFile with the request
    std::uint64_t requestDoneUs;   // the write's completion was handed to the program
    std::uint64_t replyAskedUs;    // the program called ReadFile for the reply
    std::uint64_t replyHandedUs;   // the read's completion was handed to the program
    std::uint8_t command;
};

struct StampLog {
    volatile LONG count;  // exchanges begun; past STAMP_LOG_EXCHANGES nothing more is kept
    StampedExchange exchanges[STAMP_LOG_EXCHANGES];
};

inline std::uint64_t stampNowUs() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<std::uint64_t>(now.QuadPart / frequency.QuadPart * 1000000 +
                                      now.QuadPart % frequency.QuadPart * 1000000 / frequency.QuadPart);
}

// Waits that are never shorter than asked, measured on the system's monotonic clock, and rarely
// more than a fraction of a millisecond longer. The unit relies on the minimum pauses; a plain
// sleep can return a timer tick early or a tick late.
#pragma once

#include <cstdint>

// Called while waiting whenever messages have arrived for the thread; it handles them.
using PendingMessageHandler = void (*)();

// Microseconds on the monotonic clock the waits are measured on.
std::uint64_t monotonicNowUs();

// Returns once monotonicNowUs() has reached deadlineUs; at once when it already has. handleMessages
// null: a plain wait that handles no window messages, as inside a device command. The system's
// last error is left as it was.
void waitUntilUs(std::uint64_t deadlineUs, PendingMessageHandler handleMessages);

// waitUntilUs from now.
void waitAtLeast(std::uint32_t ms, PendingMessageHandler handleMessages);

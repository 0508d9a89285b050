// Waits that are never shorter than asked, measured on the performance counter, and rarely more
// than a fraction of a millisecond longer. The unit relies on the minimum pauses; Sleep alone can
// return a timer tick early or a tick late.
#pragma once

#include <cstdint>

// Called while waiting whenever messages have arrived for the thread; it handles them.
using PendingMessageHandler = void (*)();

// handleMessages null: a plain wait that handles no window messages, as inside a device command.
void waitAtLeast(std::uint32_t ms, PendingMessageHandler handleMessages);

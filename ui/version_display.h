// The three version rows and the status area of the main dialog.
#pragma once

#include <cstddef>
#include <cstdint>

// Shows what identification learnt in the version rows; without a link, resets and greys them.
void refreshVersionDisplay();

// append false: text becomes the whole status area. append true: text is added at its end,
// without a separator.
void setStatusText(const wchar_t* text, bool append);

// A 32-bit version as dotted decimals: "<bits 24-31>." only when they are not zero, then
// "<bits 8-15>.<bits 0-7>"; bits 16-23 are not shown. Cut to fit bufferChars.
void formatVersion(std::uint32_t value, wchar_t* buffer, std::size_t bufferChars);

// The three version rows and the status area of the main dialog.
#pragma once

#include <cstddef>
#include <cstdint>

// Shows what identification learnt in the version rows; without a link, resets and greys them.
void refreshVersionDisplay();

// append false: text becomes the whole status area. append true: text is added at its end,
// without a separator.
void setStatusText(const wchar_t* text, bool append);

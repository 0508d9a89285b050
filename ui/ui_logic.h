// The dialog's decisions and texts that need no window: which notification names the open unit,
// how the status and title texts are put together, and where the logo goes. Tested natively. What
// every front end shares (the verdict, the version texts, the failure text) is in frontend/.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- Device presence

// Whether a device-interface notification names the open unit's path. Letters A to Z match
// regardless of case, every other character exactly. The notification's name is read no further
// than nameMaxChars characters, the room its record has for it.
bool isSameDevicePath(const wchar_t* path, const wchar_t* name, std::size_t nameMaxChars);

// ---- Texts

constexpr std::size_t TITLE_BUFFER_CHARS = 256;

// "TESSALUX <model> FW Updater 2.0 ", with the version of the image every build carries.
void formatWindowTitle(const wchar_t* modelName, wchar_t* buffer, std::size_t bufferChars);

// Appends text behind what buffer holds, cut where needed so that the result ends within
// bufferChars, terminator included.
void appendText(wchar_t* buffer, std::size_t bufferChars, const wchar_t* text);

// Formats a catalogue text whose one conversion is "%s" (a wide string, whichever C library
// formats it) with text in its place; "%%" gives "%". The result is cut to fit bufferChars.
void formatWithText(const wchar_t* format, const wchar_t* text, wchar_t* buffer, std::size_t bufferChars);

// ---- Logo

struct ScreenRect {
    int left, top, right, bottom;
};

struct LogoPlacement {
    int x, y, width, height;  // in the dialog's client coordinates; nothing to draw unless both sizes are positive
};

// Half the bitmap's width, or less where the room right of the group box is smaller, the height
// scaled alike; 20 pixels right of the group box, level with its top.
LogoPlacement placeLogo(int bitmapWidth, int bitmapHeight, const ScreenRect& window, const ScreenRect& groupBox,
                        int dialogFrameWidth, int captionHeight);

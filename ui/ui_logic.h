// The dialog's decisions and texts that need no window: what an identified unit allows, how the
// status, title and version texts are put together, and where the logo goes. Tested natively.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- Device presence

enum class UnitVerdict {
    OfferUpdate,
    WrongMode,       // the unit runs its own bootloader
    NoUpdatableEsc,  // nothing, or something other than an updatable ESC, is attached
    Incompatible,    // an ESC of another model
};

// The checks come in this order: a unit in the wrong mode is refused whatever is attached, and no
// hardware ID is looked at unless an updatable ESC is attached.
UnitVerdict judgeAttachedUnit(std::uint8_t unitMode, std::uint16_t attachedType, std::uint32_t escHardwareId,
                              std::uint8_t modelIdByte);

// The status message that explains a refusal, to be followed by the connection steps; 0 for
// OfferUpdate, which explains nothing.
unsigned refusalMessage(UnitVerdict verdict);

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

// ---- Version rows

constexpr std::size_t VERSION_TEXT_CHARS = 32;
// Every value without a link.
extern const wchar_t NO_LINK_VERSION_TEXT[];

struct VersionRowTexts {
    wchar_t unitVersion[VERSION_TEXT_CHARS];
    wchar_t bootloaderVersion[VERSION_TEXT_CHARS];
    wchar_t escFirmwareVersion[VERSION_TEXT_CHARS];
    const wchar_t* unitLabel;  // the programming unit's product name
};

void composeVersionRows(std::uint32_t unitFirmwareVersion, std::uint32_t escBootloaderVersion,
                        std::uint16_t escFirmwareVersion, std::uint16_t productId, VersionRowTexts* rows);

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

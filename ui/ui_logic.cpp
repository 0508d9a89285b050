#include "ui/ui_logic.h"

#include "device/device_link.h"
#include "update/bounded_format.h"
#include "update/update_logic.h"

#include <cwchar>

namespace {

wchar_t foldAsciiCase(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

}  // namespace

bool isSameDevicePath(const wchar_t* path, const wchar_t* name, std::size_t nameMaxChars) {
    if (path == nullptr || name == nullptr) return false;
    for (std::size_t i = 0;; ++i) {
        const wchar_t nameChar = i < nameMaxChars ? name[i] : L'\0';
        if (foldAsciiCase(path[i]) != foldAsciiCase(nameChar)) return false;
        if (nameChar == L'\0') return true;
    }
}

void formatWindowTitle(const wchar_t* modelName, wchar_t* buffer, std::size_t bufferChars) {
    // The last conversion takes an empty text, so the title ends in a blank.
    formatBounded(buffer, bufferChars, L"TESSALUX %ls FW Updater %u.%u %ls", modelName,
                  static_cast<unsigned>(IMAGE_FIRMWARE_VERSION >> 8), static_cast<unsigned>(IMAGE_FIRMWARE_VERSION & 0xFF), L"");
}

void appendText(wchar_t* buffer, std::size_t bufferChars, const wchar_t* text) {
    if (bufferChars == 0) return;
    std::size_t length = std::wcslen(buffer);
    while (*text != L'\0' && length + 1 < bufferChars) buffer[length++] = *text++;
    buffer[length] = L'\0';
}

void formatWithText(const wchar_t* format, const wchar_t* text, wchar_t* buffer, std::size_t bufferChars) {
    if (bufferChars == 0) return;
    std::size_t length = 0;
    auto put = [&](wchar_t c) {
        if (length + 1 < bufferChars) buffer[length++] = c;
    };
    bool textUsed = false;
    for (const wchar_t* c = format; *c != L'\0'; ++c) {
        if (c[0] == L'%' && c[1] == L'%') {
            put(L'%');
            ++c;
        } else if (c[0] == L'%' && c[1] == L's' && !textUsed) {
            for (const wchar_t* t = text; *t != L'\0'; ++t) put(*t);
            textUsed = true;
            ++c;
        } else {
            put(*c);
        }
    }
    buffer[length] = L'\0';
}

LogoPlacement placeLogo(int bitmapWidth, int bitmapHeight, const ScreenRect& window, const ScreenRect& groupBox,
                        int dialogFrameWidth, int captionHeight) {
    LogoPlacement placement{};
    const int room = window.right - groupBox.right - 45;
    placement.width = bitmapWidth / 2;
    if (room <= placement.width) placement.width = room;
    if (placement.width <= 0 || bitmapWidth <= 0) return LogoPlacement{0, 0, 0, 0};
    // Single precision and truncation, so the height is the same on every system.
    placement.height = static_cast<int>(static_cast<float>(placement.width) / static_cast<float>(bitmapWidth) *
                                        static_cast<float>(bitmapHeight));
    placement.x = groupBox.right - (window.left + dialogFrameWidth) + 20;
    placement.y = groupBox.top - (window.top + captionHeight);
    return placement;
}

#include "frontend/version_texts.h"

#include "device/device_link.h"
#include "update/bounded_format.h"

#include <cwchar>

const wchar_t NO_LINK_VERSION_TEXT[] = L"0.0.0";

namespace {

constexpr wchar_t NO_FIRMWARE_TEXT[] = L"----------";
constexpr wchar_t DIALPUCK_LABEL[] = L"DIALPUCK";
constexpr wchar_t VEXOBOX_LABEL[] = L"VEXO-BOX";

unsigned byteOf(std::uint32_t value, int index) { return (value >> (8 * index)) & 0xFF; }

void copyText(const wchar_t* text, wchar_t* buffer, std::size_t bufferChars) {
    if (bufferChars == 0) return;
    buffer[0] = L'\0';
    std::wcsncat(buffer, text, bufferChars - 1);
}

}  // namespace

void formatVersion(std::uint32_t value, wchar_t* buffer, std::size_t bufferChars) {
    if (byteOf(value, 3) != 0) {
        formatBounded(buffer, bufferChars, L"%u.%u.%u", byteOf(value, 3), byteOf(value, 1), byteOf(value, 0));
    } else {
        formatBounded(buffer, bufferChars, L"%u.%u", byteOf(value, 1), byteOf(value, 0));
    }
}

void composeVersionRows(std::uint32_t unitFirmwareVersion, std::uint32_t escBootloaderVersion,
                        std::uint16_t escFirmwareVersion, std::uint16_t productId, VersionRowTexts* rows) {
    // The unit reports some versions one byte up, with a zero low byte; those are shifted down,
    // which also drops any top byte.
    const std::uint32_t unitVersion = (unitFirmwareVersion & 0xFF) == 0 ? unitFirmwareVersion >> 8 : unitFirmwareVersion;
    formatVersion(unitVersion, rows->unitVersion, VERSION_TEXT_CHARS);
    formatVersion(escBootloaderVersion, rows->bootloaderVersion, VERSION_TEXT_CHARS);
    if (escFirmwareVersion == ESC_WITHOUT_FIRMWARE) {
        copyText(NO_FIRMWARE_TEXT, rows->escFirmwareVersion, VERSION_TEXT_CHARS);
    } else {
        formatBounded(rows->escFirmwareVersion, VERSION_TEXT_CHARS, L"%u.%u", byteOf(escFirmwareVersion, 1),
                      byteOf(escFirmwareVersion, 0));
    }
    rows->unitLabel = productId == PRODUCT_ID_DIALPUCK ? DIALPUCK_LABEL : VEXOBOX_LABEL;
}

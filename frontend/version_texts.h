// The version rows and the unit's label as every front end writes them.
#pragma once

#include <cstddef>
#include <cstdint>

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

// A 32-bit version as dotted decimals: "<bits 24-31>." only when they are not zero, then
// "<bits 8-15>.<bits 0-7>"; bits 16-23 are not shown. Cut to fit bufferChars.
void formatVersion(std::uint32_t value, wchar_t* buffer, std::size_t bufferChars);

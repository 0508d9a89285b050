// The arithmetic of the update, kept apart from Windows so that it can be tested natively.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::uint16_t IMAGE_FIRMWARE_VERSION = 0x0200;
constexpr std::uint32_t STEP_PAUSE_MS = 20;
constexpr std::uint32_t ERASE_SETTLE_MS = 4000;
constexpr std::uint32_t BLOCK_BYTES = 48;
constexpr std::uint32_t BLOCK_WORDS = BLOCK_BYTES / 4;
// A data block's request: report ID, command, length, a spare byte, then the block itself.
constexpr std::uint32_t BLOCK_REQUEST_BYTES = 4 + BLOCK_BYTES;
// The longest reply the update reads: report ID, mark, length, state, then a 32-bit error code.
constexpr std::uint32_t UPDATE_REPLY_BYTES = 8;
constexpr std::uint8_t TAIL_FILL_BYTE = 0xFF;
constexpr std::uint32_t PROGRESS_FULL = 100;
constexpr int PROGRESS_WINDOW_WIDTH = 400;
constexpr int PROGRESS_WINDOW_HEIGHT = 50;
// An image the program cannot supply shows this code (ERROR_RESOURCE_DATA_NOT_FOUND) in the error
// report instead of a command result.
constexpr std::int32_t IMAGE_MISSING_CODE = 1813;
// Every text the program shows is put together in a buffer of this many wide characters.
constexpr std::size_t TEXT_BUFFER_CHARS = 2048;
// (size − remaining) × 100 must fit the 32-bit product the progress is computed in.
constexpr std::uint32_t MAX_IMAGE_BYTES = 0xFFFFFFFFu / PROGRESS_FULL;

// An ESC at the image's version or above asks the user first; one without firmware never does.
bool isVersionQuestionNeeded(std::uint16_t escFirmwareVersion);

// An image that the transfer can send whole: present, not empty, whole words, within the bound
// the progress arithmetic holds for.
bool isSendableImageSize(std::uint32_t imageBytes);

// Whether reports of these lengths (report ID included) carry a whole data block out and every
// reply the update reads back in. Shorter reports would cut every block, and the flash would be
// written wrong without any command failing.
bool canCarryUpdateReports(std::uint32_t inputReportBytes, std::uint32_t outputReportBytes);

std::uint32_t progressPosition(std::uint32_t imageBytes, std::uint32_t remainingBytes);

struct WindowOrigin {
    int x;
    int y;
};

// The progress window's top-left corner, centred on the dialog's window rectangle; halves are
// rounded towards minus infinity before the window's own half size is taken off.
WindowOrigin progressWindowOrigin(int left, int top, int right, int bottom);

// One block of the transfer: where its bytes start and how many words it declares. The last,
// shorter block is copied into the tail buffer, 0xFF behind the remaining bytes.
struct TransferBlock {
    const std::uint8_t* data;
    std::uint32_t wordCount;
    std::uint32_t imageBytes;  // bytes of the image this block carries
};

TransferBlock nextTransferBlock(const std::uint8_t* cursor, std::uint32_t remainingBytes,
                                std::uint8_t (&tailBuffer)[BLOCK_BYTES]);

#include "update/update_logic.h"

#include "device/device_link.h"

#include <cstring>

bool isVersionQuestionNeeded(std::uint16_t escFirmwareVersion) {
    return escFirmwareVersion >= IMAGE_FIRMWARE_VERSION && escFirmwareVersion != ESC_WITHOUT_FIRMWARE;
}

bool isSendableImageSize(std::uint32_t imageBytes) {
    return imageBytes != 0 && imageBytes % 4 == 0 && imageBytes <= MAX_IMAGE_BYTES;
}

std::uint32_t progressPosition(std::uint32_t imageBytes, std::uint32_t remainingBytes) {
    return (imageBytes - remainingBytes) * PROGRESS_FULL / imageBytes;
}

WindowOrigin progressWindowOrigin(int left, int top, int right, int bottom) {
    const int halfWidth = (right - left) >> 1;
    const int halfHeight = (bottom - top) >> 1;
    return {left + halfWidth - PROGRESS_WINDOW_WIDTH / 2, top + halfHeight - PROGRESS_WINDOW_HEIGHT / 2};
}

TransferBlock nextTransferBlock(const std::uint8_t* cursor, std::uint32_t remainingBytes,
                                std::uint8_t (&tailBuffer)[BLOCK_BYTES]) {
    if (remainingBytes >= BLOCK_BYTES) return {cursor, BLOCK_WORDS, BLOCK_BYTES};
    std::memset(tailBuffer, TAIL_FILL_BYTE, BLOCK_BYTES);
    std::memcpy(tailBuffer, cursor, remainingBytes);
    return {tailBuffer, remainingBytes / 4, remainingBytes};
}

bool canCarryUpdateReports(std::uint32_t inputReportBytes, std::uint32_t outputReportBytes) {
    return inputReportBytes >= UPDATE_REPLY_BYTES && outputReportBytes >= BLOCK_REQUEST_BYTES;
}

// The firmware update: the confirmations, the fixed command sequence that prepares the ESC, the
// block-wise transfer of the image and the report of the outcome. Portable: it talks to the unit
// through device/ over DeviceLink and to the person through update/update_frontend.h.
#pragma once

#include <cstdint>

struct FirmwareImage {
    const std::uint8_t* bytes;
    std::uint32_t size;
};

// The image the program carries; false when it has none that can be sent. Each program supplies
// it: the dialog from its own resources, the command-line updater from the model row it chose.
bool loadFirmwareImage(FirmwareImage* image);

// The whole update over DeviceLink, from the confirmations to the report of its outcome.
void runFirmwareUpdate();

// True while runFirmwareUpdate runs. A front end that handles messages during the update's waits
// must then ignore every command that would end or repeat it.
bool isFirmwareUpdateRunning();
// True from the update's first command to its last one, the stretch in which the link must not be
// closed under it: a unit that goes away then fails the next command as the device's own failure.
bool isFirmwareUpdateSending();
// True from the click until the update reports its outcome: the link belongs to the update, and a
// unit that arrives must not be opened under it (also not while a question is open). During the
// report a failed update has closed the link, and arrivals are judged as at any other time.
bool isFirmwareUpdateUsingTheLink();

// Sends the image block by block after the write address was set. 0 when every block was
// accepted, else the failed block's result with the system's last error right after it.
std::int32_t transferImage(const std::uint8_t* image, std::uint32_t imageBytes, std::uint32_t* lastError);

// The common end of every failed update: closes the link, then lets the front end report.
void reportUpdateFailure(unsigned stepMessage, std::int32_t code, std::uint32_t lastError);

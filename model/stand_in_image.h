// Stand-ins for the maker's firmware images, for builds made without them: the exact sizes, and
// bytes as dense as the real images (every byte value about equally frequent), so that the
// transfer, the progress and the ESC's flash are exercised as with the real thing. The bytes
// depend only on the resource ID, so every build of the same sources carries the same stand-in.
#pragma once

#include <cstddef>
#include <cstdint>

void fillStandInImage(std::uint16_t resourceId, std::uint8_t* bytes, std::size_t count);

enum class ImageSizeCheck {
    Accepted,
    NotWholeWords,  // the transfer sends 32-bit words; a size that is no multiple of 4 cannot go out whole
    WrongSize,      // not the size of the model's image: most likely another model's image
};

ImageSizeCheck checkImageSize(std::uint64_t actualBytes, std::uint64_t expectedBytes);

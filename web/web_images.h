// The firmware images the page carries, one per model row, generated at build time.
#pragma once

#include <cstdint>

struct WebImage {
    std::uint16_t resourceId;
    const std::uint8_t* bytes;
    std::uint32_t size;
};

extern const WebImage WEB_IMAGES[];
extern const unsigned WEB_IMAGE_COUNT;
// True when the build had no maker's images and made stand-ins: such a page is never released.
extern const bool WEB_IMAGES_ARE_STAND_INS;

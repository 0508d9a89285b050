// The three firmware images the command-line updater carries, generated into the program when it is
// built (stand-ins, or the maker's images from QUENLOR_IMAGE_DIR), found by the model row's image ID.
#pragma once

#include "model/model_table.h"

#include <cstddef>
#include <cstdint>

struct EmbeddedImage {
    std::uint16_t resourceId;
    const std::uint8_t* bytes;
    std::uint32_t size;
};

extern const EmbeddedImage EMBEDDED_IMAGES[];
extern const std::size_t EMBEDDED_IMAGE_COUNT;
// True when the build carries stand-ins instead of the maker's images: such a program is no release.
extern const bool EMBEDDED_IMAGES_ARE_STAND_INS;

// The image of a model row; null when the program carries none for it.
const EmbeddedImage* embeddedImageFor(const ModelRow& row);

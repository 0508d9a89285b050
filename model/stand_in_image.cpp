#include "model/stand_in_image.h"

namespace {

// A fixed key, mixed with the resource ID, from which each image's byte stream is drawn.
constexpr std::uint64_t STAND_IN_KEY = 0x51A7D1E5C0DEB10Cull;

// SplitMix64: a 64-bit counter through a strong mixing function; every output bit is about
// equally likely, which is what makes the stand-in as dense as a real image.
std::uint64_t nextValue(std::uint64_t& state) {
    state += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

}  // namespace

void fillStandInImage(std::uint16_t resourceId, std::uint8_t* bytes, std::size_t count) {
    std::uint64_t state = STAND_IN_KEY ^ (static_cast<std::uint64_t>(resourceId) << 48);
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (i % 8 == 0) value = nextValue(state);
        bytes[i] = static_cast<std::uint8_t>(value >> (8 * (i % 8)));
    }
}

ImageSizeCheck checkImageSize(std::uint64_t actualBytes, std::uint64_t expectedBytes) {
    if (actualBytes % 4 != 0) return ImageSizeCheck::NotWholeWords;
    if (actualBytes != expectedBytes) return ImageSizeCheck::WrongSize;
    return ImageSizeCheck::Accepted;
}

// Build-machine tool: writes the firmware image a build carries, either a stand-in or the maker's
// image after checking its size.
//   make_image stand-in <resource id> <bytes> <output>
//   make_image copy <input> <bytes> <output>
#include "model/stand_in_image.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

int fail(const char* format, const char* detail) {
    std::fprintf(stderr, "make_image: ");
    std::fprintf(stderr, format, detail);
    std::fprintf(stderr, "\n");
    return 1;
}

bool readWhole(const char* path, std::vector<std::uint8_t>& bytes) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    std::uint8_t chunk[65536];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) != 0) bytes.insert(bytes.end(), chunk, chunk + got);
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

bool writeWhole(const char* path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) return fail("%s", "usage: make_image stand-in <resource id> <bytes> <output> | copy <input> <bytes> <output>");
    const std::string_view mode = argv[1];
    const unsigned long expected = std::strtoul(argv[3], nullptr, 10);
    std::vector<std::uint8_t> bytes;
    if (mode == "stand-in") {
        bytes.resize(expected);
        fillStandInImage(static_cast<std::uint16_t>(std::strtoul(argv[2], nullptr, 10)), bytes.data(), bytes.size());
    } else if (mode == "copy") {
        if (!readWhole(argv[2], bytes)) return fail("cannot read %s", argv[2]);
        switch (checkImageSize(bytes.size(), expected)) {
            case ImageSizeCheck::Accepted: break;
            case ImageSizeCheck::NotWholeWords:
                return fail("%s: the size is not a multiple of 4 bytes; refusing to build with it", argv[2]);
            case ImageSizeCheck::WrongSize:
                std::fprintf(stderr, "make_image: %s has %zu bytes, the model's image has %lu; refusing to build with it\n",
                             argv[2], bytes.size(), expected);
                return 1;
        }
    } else {
        return fail("unknown mode %s", argv[1]);
    }
    if (!writeWhole(argv[4], bytes)) return fail("cannot write %s", argv[4]);
    return 0;
}

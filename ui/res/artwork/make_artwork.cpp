// Build-machine tool: draws the program's logo (bitmap 121) and icon (icon group 123) and writes
// them in the formats the resource script embeds, and the page's icons as PAM images (RGBA, which
// web/make_png.js turns into PNG). Integer arithmetic only, so every build draws the same bytes.
//   make_artwork <logo.bmp> <app.ico>
//   make_artwork --page-icon <size> any|maskable <icon.pam>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put32(Bytes& out, std::uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

void putInfoHeader(Bytes& out, std::uint32_t width, std::uint32_t height, std::uint32_t bitsPerPixel,
                   std::uint32_t imageBytes) {
    put32(out, 40);
    put32(out, width);
    put32(out, height);
    put16(out, 1);
    put16(out, bitsPerPixel);
    put32(out, 0);  // uncompressed
    put32(out, imageBytes);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
    put32(out, 0);
}

struct Rgb {
    std::uint8_t r, g, b;
};

// ---------------------------------------------------------------------------------------------
// Logo: the maker's name in slanted block letters beside three speed stripes, on pure green,
// which the dialog draws as transparent. No colour is blended into the green: a blended edge
// would stay visible as a green fringe.

constexpr int LOGO_WIDTH = 1772;
constexpr int LOGO_HEIGHT = 263;
constexpr Rgb GREEN_KEY{0, 255, 0};
constexpr Rgb LETTER_COLOUR{28, 40, 72};
constexpr Rgb STRIPE_COLOUR{214, 30, 36};

constexpr int CELL = 30;  // one square of a glyph's 5 x 7 grid, in pixels
constexpr int GLYPH_COLUMNS = 5;
constexpr int GLYPH_ROWS = 7;
constexpr int LETTER_GAP = CELL;
constexpr int TOP_MARGIN = (LOGO_HEIGHT - GLYPH_ROWS * CELL) / 2;
constexpr int SLANT_DIVISOR = 4;  // leans one pixel right for every four up

struct Glyph {
    char letter;
    const char* rows[GLYPH_ROWS];
};

constexpr Glyph GLYPHS[] = {
    {'T', {"#####", "..#..", "..#..", "..#..", "..#..", "..#..", "..#.."}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'S', {".####", "#....", "#....", ".###.", "....#", "....#", "####."}},
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
    {'U', {"#...#", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'X', {"#...#", "#...#", ".#.#.", "..#..", ".#.#.", "#...#", "#...#"}},
};

const Glyph* findGlyph(char letter) {
    for (const Glyph& glyph : GLYPHS) {
        if (glyph.letter == letter) return &glyph;
    }
    return nullptr;
}

struct Canvas {
    int width;
    int height;
    std::vector<Rgb> pixels;  // top row first
};

void fillSlantedBox(Canvas& canvas, int left, int top, int width, int height, Rgb colour) {
    for (int y = top; y < top + height; ++y) {
        const int lean = (LOGO_HEIGHT - y) / SLANT_DIVISOR;
        for (int x = left + lean; x < left + lean + width; ++x) {
            if (x >= 0 && x < canvas.width && y >= 0 && y < canvas.height) {
                canvas.pixels[static_cast<std::size_t>(y * canvas.width + x)] = colour;
            }
        }
    }
}

Canvas drawLogo() {
    Canvas canvas{LOGO_WIDTH, LOGO_HEIGHT, std::vector<Rgb>(static_cast<std::size_t>(LOGO_WIDTH * LOGO_HEIGHT), GREEN_KEY)};
    const int stripeTops[] = {TOP_MARGIN + CELL, TOP_MARGIN + 3 * CELL, TOP_MARGIN + 5 * CELL};
    const int stripeLengths[] = {5 * CELL, 7 * CELL, 5 * CELL};
    for (int i = 0; i < 3; ++i) {
        fillSlantedBox(canvas, 30 + 7 * CELL - stripeLengths[i], stripeTops[i], stripeLengths[i], CELL, STRIPE_COLOUR);
    }
    int left = 30 + 8 * CELL;
    for (const char* letter = "TESSALUX"; *letter != '\0'; ++letter) {
        const Glyph* glyph = findGlyph(*letter);
        for (int row = 0; row < GLYPH_ROWS; ++row) {
            for (int column = 0; column < GLYPH_COLUMNS; ++column) {
                if (glyph->rows[row][column] == '#') {
                    fillSlantedBox(canvas, left + column * CELL, TOP_MARGIN + row * CELL, CELL, CELL, LETTER_COLOUR);
                }
            }
        }
        left += GLYPH_COLUMNS * CELL + LETTER_GAP;
    }
    return canvas;
}

// A 24-bit bottom-up Windows bitmap file; rows are 4-byte aligned.
Bytes encodeBitmap(const Canvas& canvas) {
    const auto rowBytes = static_cast<std::uint32_t>((canvas.width * 3 + 3) / 4 * 4);
    const std::uint32_t imageBytes = rowBytes * static_cast<std::uint32_t>(canvas.height);
    Bytes out;
    out.push_back('B');
    out.push_back('M');
    put32(out, 14 + 40 + imageBytes);
    put32(out, 0);
    put32(out, 14 + 40);
    putInfoHeader(out, static_cast<std::uint32_t>(canvas.width), static_cast<std::uint32_t>(canvas.height), 24, imageBytes);
    for (int y = canvas.height - 1; y >= 0; --y) {
        const std::size_t rowStart = out.size();
        for (int x = 0; x < canvas.width; ++x) {
            const Rgb& pixel = canvas.pixels[static_cast<std::size_t>(y * canvas.width + x)];
            out.push_back(pixel.b);
            out.push_back(pixel.g);
            out.push_back(pixel.r);
        }
        while (out.size() - rowStart < rowBytes) out.push_back(0);
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Icon: a white lightning bolt on a red rounded square, drawn with 4 x 4 samples per pixel so that
// the edges are smooth at every size. Shapes are given in units of 1/1024 of the icon's side.

constexpr int UNIT = 1024;
constexpr int SAMPLES = 4;
constexpr int ICON_SIZES[] = {16, 32, 48, 64, 128};
constexpr Rgb SQUARE_COLOUR{200, 28, 36};
constexpr Rgb BOLT_COLOUR{255, 255, 255};
constexpr int SQUARE_INSET = 40;
constexpr int SQUARE_RADIUS = 200;

struct Point {
    std::int64_t x, y;
};

constexpr Point BOLT[] = {{600, 120}, {260, 560}, {480, 560}, {400, 904}, {764, 420}, {540, 420}, {660, 120}};

bool insideRoundedSquare(std::int64_t x, std::int64_t y) {
    const std::int64_t low = SQUARE_INSET;
    const std::int64_t high = UNIT - SQUARE_INSET;
    if (x < low || x > high || y < low || y > high) return false;
    const std::int64_t cx = x < low + SQUARE_RADIUS ? low + SQUARE_RADIUS : (x > high - SQUARE_RADIUS ? high - SQUARE_RADIUS : x);
    const std::int64_t cy = y < low + SQUARE_RADIUS ? low + SQUARE_RADIUS : (y > high - SQUARE_RADIUS ? high - SQUARE_RADIUS : y);
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= std::int64_t{SQUARE_RADIUS} * SQUARE_RADIUS;
}

// Even-odd rule: count the edges crossed by a ray from the point to the right.
bool insideBolt(std::int64_t x, std::int64_t y) {
    bool inside = false;
    const std::size_t count = sizeof BOLT / sizeof BOLT[0];
    for (std::size_t i = 0, j = count - 1; i < count; j = i++) {
        Point a = BOLT[i];
        Point b = BOLT[j];
        if ((a.y > y) == (b.y > y)) continue;
        if (a.y > b.y) {
            const Point lower = b;
            b = a;
            a = lower;
        }
        // Is the point left of where the edge crosses its row? Multiplied out to stay in integers.
        if ((x - a.x) * (b.y - a.y) < (b.x - a.x) * (y - a.y)) inside = !inside;
    }
    return inside;
}

struct Rgba {
    std::uint8_t r, g, b, a;
};

// A launcher cuts a maskable icon to its own shape and keeps only the middle circle of 80 % of
// the side for sure: the square fills the whole icon, and the bolt shrinks to three quarters.
constexpr std::int64_t MASKABLE_BOLT_NUMERATOR = 4;
constexpr std::int64_t MASKABLE_BOLT_DENOMINATOR = 3;

// One pixel of the icon (y counted from the top), its colour not premultiplied by its alpha.
Rgba iconPixel(int size, int x, int y, bool maskable) {
    int squareHits = 0;
    int boltHits = 0;
    for (int sy = 0; sy < SAMPLES; ++sy) {
        for (int sx = 0; sx < SAMPLES; ++sx) {
            const std::int64_t ux = (std::int64_t{x} * SAMPLES * 2 + sx * 2 + 1) * UNIT / (std::int64_t{size} * SAMPLES * 2);
            const std::int64_t uy = (std::int64_t{y} * SAMPLES * 2 + sy * 2 + 1) * UNIT / (std::int64_t{size} * SAMPLES * 2);
            if (maskable) {
                ++squareHits;
                const std::int64_t half = UNIT / 2;
                if (insideBolt(half + (ux - half) * MASKABLE_BOLT_NUMERATOR / MASKABLE_BOLT_DENOMINATOR,
                               half + (uy - half) * MASKABLE_BOLT_NUMERATOR / MASKABLE_BOLT_DENOMINATOR)) {
                    ++boltHits;
                }
                continue;
            }
            if (!insideRoundedSquare(ux, uy)) continue;
            ++squareHits;
            if (insideBolt(ux, uy)) ++boltHits;
        }
    }
    const int squareOnly = squareHits - boltHits;
    auto mix = [&](std::uint8_t square, std::uint8_t bolt) {
        return squareHits == 0 ? std::uint8_t{0}
                               : static_cast<std::uint8_t>((square * squareOnly + bolt * boltHits) / squareHits);
    };
    return {mix(SQUARE_COLOUR.r, BOLT_COLOUR.r), mix(SQUARE_COLOUR.g, BOLT_COLOUR.g), mix(SQUARE_COLOUR.b, BOLT_COLOUR.b),
            static_cast<std::uint8_t>(squareHits * 255 / (SAMPLES * SAMPLES))};
}

// BGRA, bottom row first, with the AND mask after the colour rows, as an icon image stores them.
Bytes encodeIconImage(int size) {
    Bytes colour;
    Bytes mask;
    const auto maskRowBytes = static_cast<std::size_t>((size + 31) / 32 * 4);
    for (int y = size - 1; y >= 0; --y) {
        std::vector<std::uint8_t> maskRow(maskRowBytes, 0);
        for (int x = 0; x < size; ++x) {
            const Rgba pixel = iconPixel(size, x, y, false);
            colour.push_back(pixel.b);
            colour.push_back(pixel.g);
            colour.push_back(pixel.r);
            colour.push_back(pixel.a);
            if (pixel.a == 0) maskRow[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
        }
        mask.insert(mask.end(), maskRow.begin(), maskRow.end());
    }
    Bytes image;
    const auto side = static_cast<std::uint32_t>(size);
    putInfoHeader(image, side, side * 2, 32, static_cast<std::uint32_t>(colour.size() + mask.size()));
    image.insert(image.end(), colour.begin(), colour.end());
    image.insert(image.end(), mask.begin(), mask.end());
    return image;
}

// A PAM image (RGBA, top row first): the simplest file that keeps the alpha channel.
Bytes encodePageIcon(int size, bool maskable) {
    char header[128];
    const int headerBytes = std::snprintf(header, sizeof header,
        "P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n", size, size);
    Bytes out(header, header + headerBytes);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const Rgba pixel = iconPixel(size, x, y, maskable);
            out.insert(out.end(), {pixel.r, pixel.g, pixel.b, pixel.a});
        }
    }
    return out;
}

Bytes encodeIcon() {
    constexpr std::uint32_t count = sizeof ICON_SIZES / sizeof ICON_SIZES[0];
    std::vector<Bytes> images;
    for (int size : ICON_SIZES) images.push_back(encodeIconImage(size));
    Bytes out;
    put16(out, 0);
    put16(out, 1);  // icon
    put16(out, count);
    std::uint32_t offset = 6 + 16 * count;
    for (std::uint32_t i = 0; i < count; ++i) {
        out.push_back(static_cast<std::uint8_t>(ICON_SIZES[i]));
        out.push_back(static_cast<std::uint8_t>(ICON_SIZES[i]));
        out.push_back(0);  // no palette
        out.push_back(0);
        put16(out, 1);   // planes
        put16(out, 32);  // bits per pixel
        put32(out, static_cast<std::uint32_t>(images[i].size()));
        put32(out, offset);
        offset += static_cast<std::uint32_t>(images[i].size());
    }
    for (const Bytes& image : images) out.insert(out.end(), image.begin(), image.end());
    return out;
}

bool writeFile(const char* path, const Bytes& bytes) {
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace

constexpr int PAGE_ICON_MAX_SIZE = 1024;

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--page-icon") == 0) {
        const int size = std::atoi(argv[2]);
        const bool maskable = std::strcmp(argv[3], "maskable") == 0;
        if (size < 1 || size > PAGE_ICON_MAX_SIZE || (!maskable && std::strcmp(argv[3], "any") != 0)) {
            std::fprintf(stderr, "make_artwork: --page-icon takes a size of 1 to %d and any or maskable\n", PAGE_ICON_MAX_SIZE);
            return 1;
        }
        if (!writeFile(argv[4], encodePageIcon(size, maskable))) {
            std::fprintf(stderr, "make_artwork: cannot write %s\n", argv[4]);
            return 1;
        }
        return 0;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_artwork <logo.bmp> <app.ico>\n"
                             "       make_artwork --page-icon <size> any|maskable <icon.pam>\n");
        return 1;
    }
    if (!writeFile(argv[1], encodeBitmap(drawLogo())) || !writeFile(argv[2], encodeIcon())) {
        std::fprintf(stderr, "make_artwork: cannot write the artwork\n");
        return 1;
    }
    return 0;
}

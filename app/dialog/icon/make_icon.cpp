// Draws the application icon and writes it as an .ico file: a light green ruler with tick marks
// along the top and left edges, framing a light grey picture in which a red disc overlaps a blue
// square (the overlap purple). Four images: 32x32 and 16x16, at 256 and at 16 colours.
// Usage: make_icon OUTPUT.ico
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// What a pixel shows; each image maps these onto its own palette.
enum Ink { INK_RULER, INK_TICK, INK_EDGE, INK_PICTURE, INK_RED, INK_BLUE, INK_PURPLE, INK_COUNT };

struct Layout {
    int size;      // width and height in pixels
    int band;      // ruler width
    int tickStep;  // distance between tick marks
    int majorEvery;
    int majorLength;
    int minorLength;
    int squareLeft, squareTop, squareSide;
    double discX, discY, discRadius;
};

const Layout kLayout32 = {32, 7, 4, 2, 4, 2, 10, 16, 12, 21.0, 14.0, 7.0};
const Layout kLayout16 = {16, 4, 2, 2, 2, 1, 5, 8, 6, 10.5, 7.0, 3.5};

bool InSquare(const Layout& l, int x, int y)
{
    return x >= l.squareLeft && x < l.squareLeft + l.squareSide && y >= l.squareTop &&
           y < l.squareTop + l.squareSide;
}

bool InDisc(const Layout& l, int x, int y)
{
    double dx = x + 0.5 - l.discX;
    double dy = y + 0.5 - l.discY;
    return dx * dx + dy * dy <= l.discRadius * l.discRadius;
}

// A tick along a ruler: `along` is the position on the ruler, `across` the distance from the
// ruler's inner edge (towards the outside).
bool IsTick(const Layout& l, int along, int across)
{
    int offset = along - l.band;
    if (offset <= 0 || offset % l.tickStep != 0)
        return false;
    bool major = (offset / l.tickStep) % l.majorEvery == 0;
    return across < (major ? l.majorLength : l.minorLength);
}

Ink InkAt(const Layout& l, int x, int y)
{
    int last = l.size - 1;
    if (x == 0 || y == 0 || x == last || y == last)
        return INK_EDGE;
    bool inTop = y < l.band;
    bool inLeft = x < l.band;
    if (inTop || inLeft) {
        if (y == l.band - 1 || x == l.band - 1)
            return INK_TICK; // the ruler's inner edge
        if (inTop && !inLeft && IsTick(l, x, l.band - 2 - y))
            return INK_TICK;
        if (inLeft && !inTop && IsTick(l, y, l.band - 2 - x))
            return INK_TICK;
        return INK_RULER;
    }
    bool square = InSquare(l, x, y);
    bool disc = InDisc(l, x, y);
    if (square && disc)
        return INK_PURPLE;
    if (disc)
        return INK_RED;
    if (square)
        return INK_BLUE;
    return INK_PICTURE;
}

struct Rgb {
    uint8_t r, g, b;
};

// The 16 standard colours, in their usual order.
const Rgb kStandard16[16] = {
    {0, 0, 0},       {128, 0, 0},   {0, 128, 0},   {128, 128, 0},   {0, 0, 128},   {128, 0, 128},
    {0, 128, 128},   {192, 192, 192}, {128, 128, 128}, {255, 0, 0}, {0, 255, 0}, {255, 255, 0},
    {0, 0, 255},     {255, 0, 255}, {0, 255, 255}, {255, 255, 255},
};

// Palette index of each ink at 16 colours.
const uint8_t kInk16[INK_COUNT] = {10, 2, 8, 7, 9, 12, 5};

// At 256 colours the standard 16 come first, then softer shades of our own.
const Rgb kOwnColours[INK_COUNT] = {
    {168, 232, 160}, // ruler: light green
    {40, 104, 40},   // ticks: dark green
    {96, 96, 96},    // outline
    {216, 216, 216}, // picture: light grey
    {224, 32, 32},   // red
    {32, 64, 224},   // blue
    {128, 32, 160},  // purple
};

void Put16(uint8_t* p, unsigned v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* p, uint32_t v)
{
    Put16(p, v & 0xFFFF);
    Put16(p + 2, v >> 16);
}

size_t RowBytes(int width, int bits)
{
    return static_cast<size_t>((width * bits + 31) / 32 * 4);
}

size_t ImageBytes(int size, int bits)
{
    size_t colours = static_cast<size_t>(1) << bits;
    return 40 + colours * 4 + (RowBytes(size, bits) + RowBytes(size, 1)) * size;
}

// Writes one image (header, palette, colour rows bottom-up, an all-opaque mask) to `out`.
size_t DrawImage(uint8_t* out, const Layout& l, int bits)
{
    size_t colours = static_cast<size_t>(1) << bits;
    size_t colourRow = RowBytes(l.size, bits);
    size_t maskRow = RowBytes(l.size, 1);
    size_t total = ImageBytes(l.size, bits);
    memset(out, 0, total);

    Put32(out, 40);
    Put32(out + 4, static_cast<uint32_t>(l.size));
    Put32(out + 8, static_cast<uint32_t>(l.size * 2)); // colour rows and mask rows
    Put16(out + 12, 1);
    Put16(out + 14, static_cast<unsigned>(bits));
    Put32(out + 20, static_cast<uint32_t>((colourRow + maskRow) * l.size));

    uint8_t* palette = out + 40;
    for (size_t i = 0; i < 16; ++i) {
        palette[i * 4 + 0] = kStandard16[i].b;
        palette[i * 4 + 1] = kStandard16[i].g;
        palette[i * 4 + 2] = kStandard16[i].r;
    }
    if (bits == 8) {
        for (size_t i = 0; i < INK_COUNT; ++i) {
            palette[(16 + i) * 4 + 0] = kOwnColours[i].b;
            palette[(16 + i) * 4 + 1] = kOwnColours[i].g;
            palette[(16 + i) * 4 + 2] = kOwnColours[i].r;
        }
    }

    uint8_t* pixels = palette + colours * 4;
    for (int y = 0; y < l.size; ++y) {
        uint8_t* row = pixels + colourRow * static_cast<size_t>(l.size - 1 - y);
        for (int x = 0; x < l.size; ++x) {
            Ink ink = InkAt(l, x, y);
            if (bits == 8)
                row[x] = static_cast<uint8_t>(16 + ink);
            else
                row[x / 2] |= static_cast<uint8_t>(kInk16[ink] << (x % 2 == 0 ? 4 : 0));
        }
    }
    return total; // the mask stays zero: every pixel opaque
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: %s OUTPUT.ico\n", argv[0]);
        return 2;
    }
    struct Entry {
        const Layout* layout;
        int bits;
    };
    const Entry entries[4] = {{&kLayout32, 8}, {&kLayout16, 8}, {&kLayout32, 4}, {&kLayout16, 4}};

    static uint8_t file[16384];
    size_t offset = 6 + 16 * 4;
    Put16(file + 2, 1); // icon
    Put16(file + 4, 4);
    for (int i = 0; i < 4; ++i) {
        const Layout& l = *entries[i].layout;
        uint8_t* entry = file + 6 + 16 * i;
        entry[0] = static_cast<uint8_t>(l.size);
        entry[1] = static_cast<uint8_t>(l.size);
        entry[2] = entries[i].bits == 4 ? 16 : 0; // 0 stands for 256 colours
        Put16(entry + 4, 1);
        Put16(entry + 6, static_cast<unsigned>(entries[i].bits));
        size_t bytes = DrawImage(file + offset, l, entries[i].bits);
        Put32(entry + 8, static_cast<uint32_t>(bytes));
        Put32(entry + 12, static_cast<uint32_t>(offset));
        offset += bytes;
    }

    FILE* out = fopen(argv[1], "wb");
    if (out == nullptr) {
        perror(argv[1]);
        return 1;
    }
    bool written = fwrite(file, 1, offset, out) == offset;
    if (fclose(out) != 0 || !written) {
        perror(argv[1]);
        return 1;
    }
    return 0;
}

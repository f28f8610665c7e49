// The seven detectors and the JPEG walk, over files written here.
#include "jpeg_reference.h"
#include "test_files.h"

#include <random>
#include <tuple>

namespace {

const Bytes kApp0 = {0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x02, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
const Bytes kJfif = Cat({{0xFF, 0xD8}, kApp0});

Bytes Segment(uint8_t marker, size_t payload, uint8_t fill = 0x11)
{
    return Cat({{0xFF, marker}, Be16(uint32_t(payload + 2)), Bytes(payload, fill)});
}

Bytes Frame(uint16_t lines, uint16_t samples, uint8_t components)
{
    return Cat({{0xFF, 0xC0}, Be16(8u + 3u * components), {8}, Be16(lines), Be16(samples), {components}});
}

// A recognised file gets width, height and depth, nothing else; any other is left as it was (standard: SharedImages).
TEST(Detectors, StoreTheHeaderFieldsOrNothing)
{
    const struct { int (*detect)(ImageInfo*, const ProbePath*); const char* name; Bytes bytes; int result; int32_t width, height;
                   uint32_t depth; } rows[] = {
        // The old 12-byte core header has unsigned 16-bit fields at other offsets; every other size
        // (the 16-byte short form of its successor too) has signed 32-bit fields.
        {ProbeBmp, "core.bmp", Header(26, {{0, {'B', 'M'}}, {14, Le32(12)}, {18, Le16(65535)}, {20, Le16(40000)}, {24, Le16(8)}}),
         1, 65535, 40000, 8},
        {ProbeBmp, "16-byte.bmp", Header(30, {{0, {'B', 'M'}}, {14, Le32(16)}, {18, Le32(70000)}, {22, Le32(-5)}, {28, Le16(4)}}),
         1, 70000, -5, 4},
        {ProbeBmp, "cut.bmp", Header(24, {{0, {'B', 'M'}}, {14, Le32(40)}, {18, Le32(640)}, {22, {4, 3}}}), 1, 640, 0x0304, 0},
        // GIF: colour resolution 3 (bits 6-4 of the packed byte) gives 4, any other 8; the version is not read.
        {ProbeGif, "F7.gif", {'G', 'I', 'F', '8', '7', 'a', 0x40, 0x01, 0xC8, 0x00, 0xF7}, 1, 320, 200, 8},
        {ProbeGif, "B8.gif", {'G', 'I', 'F', 0, 0, 0, 0xFF, 0xFF, 0, 0, 0xB8}, 1, 65535, 0, 4},
        {ProbeGif, "20.gif", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 2, 0, 0x20}, 1, 1, 2, 8},
        {ProbeGif, "signature.gif", {'G', 'I', 'E', '8', '9', 'a', 1, 0, 1, 0, 0}, 0, 0, 0, 0},
        // PNG: colour types with bit 1 set and bit 0 clear count three samples.
        {ProbePng, "type-FE.png", Png(1, 2, 8, 0xFE), 1, 1, 2, 24},
        {ProbePixia, "a.pxa", Header(240, {{0, {'P', 'i', 'x', 'i', 'a'}}, {228, Le32(123)}, {232, Le32(45)}}), 1, 123, 45, 24},
        {ProbePixia, "cut-short.pxa", {'P', 'i', 'x', 'i', 'a'}, 1, 0, 0, 24},
        {ProbeRif, "height-first.rif", {0x00, 0x02, 0x00, 0x01, 0x01, 0xE0, 0x02, 0x80}, 1, 640, 480, 24},
        {ProbeJpeg, "four-components.Jpeg", Cat({kJfif, Frame(2, 65535, 4)}), 1, 65535, 2, 8},
        {ProbeJpeg, "FF-D9.jpg", Cat({{0xFF, 0xD9}, kApp0}), 0, 0, 0, 0},
        {ProbeJpeg, "00-D8.jpg", Cat({{0x00, 0xD8}, kApp0}), 0, 0, 0, 0},
        {ProbeJpeg, "frame-cut-short.jpg", Cat({kJfif, {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01}}), 1, 0, 0x0100, 8},
    };
    TempDir dir;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ImageInfo info, expected;
        memset(&info, 0x5A, sizeof info);
        expected = info;
        if (row.result)
            std::tie(expected.width, expected.height, expected.depth) = std::tie(row.width, row.height, row.depth);
        std::string file = dir.Write(row.name, row.bytes);
        ProbePath path = PathOf(file.c_str());
        ASSERT_EQ(row.detect(&info, &path), row.result);
        EXPECT_EQ(memcmp(&info, &expected, sizeof info), 0) << info.width << " x " << info.height << " x " << info.depth;
    }
}

// Bytes from 0x80 up are never folded: 0xC1 is not 0xE1.
TEST(HasExtension, ComparesBytesFoldingAsciiOnly)
{
    struct { const char* path; const char* extension; bool expected; } table[] = {
        {"a.JPEG", "jpeg", true}, {"xjpg", "jpg", true}, {"jpg", "jpg", true}, {"a.jpe", "jpg", false}, {"jp", "jpg", false},
        {"", "bmp", false}, {"a.jpg", "jpeg", false}, {"a.\xC1", "\xE1", false}, {"a.\xC1", "\xC1", true},
        {"\x83\x42MP", "bmp", true}, {"\x83\xC2mp", "bmp", false}, // the last bytes may be a trail byte
    };
    for (const auto& row : table)
        EXPECT_EQ(HasExtension(row.path, row.extension), row.expected) << row.path << " " << row.extension;
}

// Zero runs of every parity at the edges of the walk's reads, then random ones; landing 3 bytes before 0A 0B reads
// length 0x0A and finds one frame header, 2 bytes before reads 0x0A0B and finds the other.
TEST(JpegWalk, SameResultsAsThePlainWalk)
{
    std::mt19937 random(20260);
    auto next = [&](uint32_t below) { return uint32_t(random() % below); };
    const size_t runs[] = {1, 2, 3, 4, 5, 7, 255, 4071, 4072, 65536, 65537, 131075}; // 4071 + 25 bytes: the first read
    Bytes tail = Cat({{0x0A, 0x0B}, Bytes(7, 0x55), Frame(11, 13, 3)});
    tail.resize(2571, 0x55);
    TempDir dir;
    int found = 0;
    for (size_t round = 0; round < 448; ++round) {
        Bytes bytes = kJfif;
        if (round < 4 * std::size(runs))
            bytes = Cat({kJfif, Segment(0xE1, round % 4), Bytes(runs[round / 4], 0), tail, Frame(17, 19, 1)});
        for (size_t size = next(4) == 0 ? 60000 + next(200000) : next(3000); bytes.size() < size;) {
            const Bytes parts[] = {Bytes(next(40), 0), Bytes(next(140000), 0), {0xFF, 0xC0}, {0x00, 0x00, 0x00, 0x01},
                                   {uint8_t(next(256)), uint8_t(next(256)), 0x00, uint8_t(next(3))},
                                   {uint8_t(next(4) ? next(256) : 0)}, Segment(uint8_t(next(256)), next(300), next(2) ? 0 : 0x5A)};
            const Bytes& part = parts[next(7)];
            bytes.insert(bytes.end(), part.begin(), part.end());
        }
        if (next(3) == 0)
            bytes.resize(bytes.size() - next(12));
        JpegReference expected = WalkJpegReference(bytes.data(), bytes.size());
        ImageInfo info{};
        std::string file = dir.Write("r.jpg", bytes);
        ProbePath path = PathOf(file.c_str());
        ASSERT_EQ(ProbeJpeg(&info, &path), expected.result) << "round " << round;
        ASSERT_TRUE(info.width == expected.width && info.height == expected.height && info.depth == expected.depth)
            << "round " << round << ", size " << bytes.size() << ": " << info.width << " x " << info.height;
        found += expected.depth != 0;
    }
    EXPECT_TRUE(found > 80 && found < 400) << found << " frame headers found"; // both ends are reached
}

} // namespace

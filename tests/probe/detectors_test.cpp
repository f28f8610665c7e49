// The seven detectors and the JPEG walk, over files written here.
#include "fake_platform.h"
#include "jpeg_reference.h"
#include "test_files.h"

#include <random>

namespace {

using Detector = int (*)(ImageInfo*, const char*);

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

// A recognised file gets width, height and depth and nothing else; any other leaves the record as
// it was. Standard BMP, PNG and JPEG files are in the shared test images, MNG in the driver's tests.
TEST(Detectors, StoreTheHeaderFieldsOrNothing)
{
    const struct { const char* label; Detector detect; const char* name; Bytes bytes; int result; int32_t width, height; uint32_t depth; } rows[] = {
        // The old 12-byte core header has unsigned 16-bit fields at other offsets; every other size
        // (the 16-byte short form of its successor too) has signed 32-bit fields.
        {"bmp core header", ProbeBmp, "core.bmp", Header(26, {{0, {'B', 'M'}}, {14, Le32(12)}, {18, Le16(65535)}, {20, Le16(40000)}, {24, Le16(8)}}), 1, 65535, 40000, 8},
        {"bmp 16-byte header", ProbeBmp, "os2.bmp", Header(30, {{0, {'B', 'M'}}, {14, Le32(16)}, {18, Le32(70000)}, {22, Le32(uint32_t(-5))}, {28, Le16(4)}}), 1, 70000, -5, 4},
        {"bmp cut in the height", ProbeBmp, "cut.bmp", Header(24, {{0, {'B', 'M'}}, {14, Le32(40)}, {18, Le32(640)}, {22, {0x04, 0x03}}}), 1, 640, 0x0304, 0},
        {"bmp of one byte", ProbeBmp, "b.bmp", {'B'}, 0, 0, 0, 0},
        // GIF: colour resolution 3 (bits 6-4 of the packed byte) gives 4, any other 8.
        {"gif", ProbeGif, "a.gif", {'G', 'I', 'F', '8', '7', 'a', 0x40, 0x01, 0xC8, 0x00, 0xF7}, 1, 320, 200, 8},
        {"gif 0xB8, version unread", ProbeGif, "a.gif", {'G', 'I', 'F', 0, 0, 0, 0xFF, 0xFF, 0, 0, 0xB8}, 1, 65535, 0, 4},
        {"gif 0x20", ProbeGif, "a.gif", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 2, 0, 0x20}, 1, 1, 2, 8},
        {"gif signature", ProbeGif, "a.gif", {'G', 'I', 'E', '8', '9', 'a', 1, 0, 1, 0, 0}, 0, 0, 0, 0},
        // PNG: colour types with bit 1 set and bit 0 clear count three samples.
        {"png type 0xFE", ProbePng, "a.png", Png(1, 2, 8, 0xFE), 1, 1, 2, 24},
        {"png signature's zero byte", ProbePng, "a.png", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x00}, 0, 0, 0, 0},
        {"png named mng", ProbeMng, "a.mng", Png(1, 1), 0, 0, 0, 0},
        {"pixia", ProbePixia, "a.pxa", Header(240, {{0, {'P', 'i', 'x', 'i', 'a'}}, {228, Le32(123)}, {232, Le32(45)}}), 1, 123, 45, 24},
        {"pixia cut short", ProbePixia, "a.pxa", {'P', 'i', 'x', 'i', 'a'}, 1, 0, 0, 24},
        {"pixia signature", ProbePixia, "a.pxa", {'P', 'i', 'x', 'i', 'A'}, 0, 0, 0, 0},
        {"rif, height first", ProbeRif, "a.rif", {0x00, 0x02, 0x00, 0x01, 0x01, 0xE0, 0x02, 0x80}, 1, 640, 480, 24},
        {"rif of zeros", ProbeRif, "a.rif", {0, 0, 0, 0, 0x01, 0xE0, 0x02, 0x80}, 0, 0, 0, 0},
        {"jpeg four components", ProbeJpeg, "a.Jpeg", Cat({kJfif, Frame(2, 65535, 4)}), 1, 65535, 2, 8},
        {"jpeg FF D9", ProbeJpeg, "a.jpg", Cat({{0xFF, 0xD9}, kApp0}), 0, 0, 0, 0},
        {"jpeg 00 D8", ProbeJpeg, "a.jpg", Cat({{0x00, 0xD8}, kApp0}), 0, 0, 0, 0},
        {"jpeg frame cut short", ProbeJpeg, "a.jpg", Cat({kJfif, {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01}}), 1, 0, 0x0100, 8},
    };
    TempDir dir;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        ImageInfo info, expected;
        memset(&info, 0x5A, sizeof info);
        expected = info;
        if (row.result) {
            expected.width = row.width;
            expected.height = row.height;
            expected.depth = row.depth;
        }
        ASSERT_EQ(row.detect(&info, dir.Write(row.name, row.bytes).c_str()), row.result);
        EXPECT_EQ(info.width, expected.width);
        EXPECT_EQ(info.height, expected.height);
        EXPECT_EQ(info.depth, expected.depth);
        EXPECT_EQ(memcmp(&info, &expected, sizeof info), 0) << "a field beyond the detector's was written";
    }
}

TEST(HasExtension, ComparesBytesFoldingAsciiOnly)
{
    struct { const char* path; const char* extension; bool expected; } table[] = {
        {"a.JPEG", "jpeg", true}, {"xjpg", "jpg", true}, {"jpg", "jpg", true}, {"a.jpe", "jpg", false},
        {"jp", "jpg", false}, {"", "bmp", false}, {"a.jpg", "jpeg", false},
        // Bytes from 0x80 up are never folded: 0xC1 is not 0xE1.
        {"a.\xC1", "\xE1", false}, {"a.\xC1", "\xC1", true},
        // The last bytes may be a double-byte character's trail byte.
        {"\x83\x42MP", "bmp", true}, {"\x83\xC2mp", "bmp", false},
    };
    for (const auto& row : table)
        EXPECT_EQ(HasExtension(row.path, row.extension), row.expected) << row.path << " " << row.extension;
}

// Zero runs from every start parity, ending on and beside the edges of the walk's reads, then
// random inputs that stress its shortcuts: zero runs of every length, heads with lengths 0 and 1,
// frame headers anywhere. In the first rounds, landing 3 bytes before 0A 0B reads length 0x0A and
// finds one frame header, landing 2 bytes before reads 0x0A0B and finds the other.
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
                                   {uint8_t(next(4) == 0 ? 0 : next(256))}, Segment(uint8_t(next(256)), next(300), next(2) ? 0 : 0x5A)};
            const Bytes& part = parts[next(7)];
            bytes.insert(bytes.end(), part.begin(), part.end());
        }
        if (next(3) == 0)
            bytes.resize(bytes.size() - next(12));
        JpegReference expected = WalkJpegReference(bytes.data(), bytes.size());
        ImageInfo info{};
        ASSERT_EQ(ProbeJpeg(&info, dir.Write("r.jpg", bytes).c_str()), expected.result) << "round " << round;
        ASSERT_TRUE(info.width == expected.width && info.height == expected.height && info.depth == expected.depth)
            << "round " << round << ", size " << bytes.size() << ": " << info.width << " x " << info.height;
        found += expected.depth != 0;
    }
    EXPECT_TRUE(found > 80 && found < 400) << found << " frame headers found"; // both ends are reached
}

} // namespace

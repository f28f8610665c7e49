// The seven detectors and the JPEG walk, over files written here.
#include "fake_platform.h"
#include "jpeg_reference.h"
#include "test_files.h"

#include <random>
#include <set>

namespace {

using Detector = int (*)(ImageInfo*, const char*);

const Bytes kApp0 = {0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x02, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
const Bytes kJfif = Cat({{0xFF, 0xD8}, kApp0});
const Bytes kJfif10(kJfif.begin(), kJfif.begin() + 10); // what the signature test reads

Bytes Cut(Bytes bytes, size_t size)
{
    bytes.resize(size);
    return bytes;
}

Bytes Segment(uint8_t marker, size_t payload, uint8_t fill = 0x11)
{
    return Cat({{0xFF, marker}, Be16(uint32_t(payload + 2)), Bytes(payload, fill)});
}

Bytes Frame(uint8_t marker, uint16_t lines, uint16_t samples, uint8_t components)
{
    return Cat({{0xFF, marker}, Be16(8u + 3u * components), {8}, Be16(lines), Be16(samples), {components},
                Bytes(3u * components, 0x11)});
}

// A scan header and entropy-coded bytes as an encoder writes them: no 0xFF without a zero after it.
Bytes Scan()
{
    Bytes bytes = Segment(0xDA, 10);
    for (int i = 0; i < 500; ++i)
        bytes.push_back(uint8_t(i * 37 % 255));
    return Cat({bytes, {0xFF, 0xD9}});
}

const Bytes kMng = Header(28, {{0, {0x8A, 'M', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}}, {16, Be32(1024)}, {20, Be32(768)}});

// A recognised file gets width, height and depth (MNG: the colours flag instead of a depth) and
// nothing else; any other leaves the record as it was. Baseline, progressive and other JPEG kinds
// as encoders write them are in the shared test images.
TEST(Detectors, StoreTheHeaderFieldsOrNothing)
{
    const struct { const char* label; Detector detect; const char* name; Bytes bytes; int result; int32_t width, height; uint32_t depth; } rows[] = {
        {"bmp in capitals", ProbeBmp, "A.BMP", Bmp(640, 480, 24), 1, 640, 480, 24},
        {"bmp top-down, no dot", ProbeBmp, "topdownbmp", Bmp(640, uint32_t(-480), 8), 1, 640, -480, 8},
        // The old 12-byte core header has unsigned 16-bit fields at other offsets; every other size
        // (the 16-byte short form of its successor too) has signed 32-bit fields.
        {"bmp core header", ProbeBmp, "core.bmp", Header(26, {{0, {'B', 'M'}}, {14, Le32(12)}, {18, Le16(65535)}, {20, Le16(40000)}, {24, Le16(8)}}), 1, 65535, 40000, 8},
        {"bmp 16-byte header", ProbeBmp, "os2.bmp", Header(30, {{0, {'B', 'M'}}, {14, Le32(16)}, {18, Le32(70000)}, {22, Le32(uint32_t(-5))}, {28, Le16(4)}}), 1, 70000, -5, 4},
        {"bmp of ten bytes", ProbeBmp, "short.bmp", Cut(Bmp(640, 480, 24), 10), 1, 0, 0, 0},
        {"bmp cut in the height", ProbeBmp, "cut.bmp", Cut(Bmp(640, 0x01020304, 24), 24), 1, 640, 0x0304, 0},
        {"bmp holding a png", ProbeBmp, "png.bmp", Png(1, 1), 0, 0, 0, 0},
        {"bmp of one byte", ProbeBmp, "b.bmp", {'B'}, 0, 0, 0, 0},
        // GIF: colour resolution 3 (bits 6-4 of the packed byte) gives 4, any other 8.
        {"gif", ProbeGif, "a.gif", Gif(320, 200, 0xF7), 1, 320, 200, 8},
        {"gif 0xB3, version unread", ProbeGif, "a.gif", Header(13, {{0, {'G', 'I', 'F', 'x', 'x', 'x'}}, {6, Le16(65535)}, {10, {0xB3}}}), 1, 65535, 0, 4},
        {"gif 0x38", ProbeGif, "a.gif", Gif(1, 2, 0x38), 1, 1, 2, 4},
        {"gif 0x70", ProbeGif, "a.gif", Gif(1, 2, 0x70), 1, 1, 2, 8},
        {"gif 0x20", ProbeGif, "a.gif", Gif(1, 2, 0x20), 1, 1, 2, 8},
        {"gif 0x40", ProbeGif, "a.gif", Gif(1, 2, 0x40), 1, 1, 2, 8},
        {"gif cut after the signature", ProbeGif, "a.gif", {'G', 'I', 'F'}, 1, 0, 0, 8},
        {"gif signature", ProbeGif, "a.gif", {'G', 'I', 'E', '8', '9', 'a', 1, 0, 1, 0, 0}, 0, 0, 0, 0},
        // PNG: colour types with bit 1 set and bit 0 clear count three samples (the shared test
        // images show the standard types).
        {"png type 7", ProbePng, "a.png", Png(1, 2, 8, 7), 1, 1, 2, 8},
        {"png type 0xFE", ProbePng, "a.png", Png(1, 2, 8, 0xFE), 1, 1, 2, 24},
        {"png cut in the width", ProbePng, "a.png", Cut(Png(0x01020304, 9), 18), 1, 0x01020000, 0, 0},
        {"png signature's zero byte", ProbePng, "a.png", Header(33, {{0, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x00}}}), 0, 0, 0, 0},
        {"png of seven bytes", ProbePng, "a.png", Cut(Png(1, 1), 7), 0, 0, 0, 0},
        {"png named mng", ProbeMng, "a.mng", Png(1, 1), 0, 0, 0, 0},
        {"mng", ProbeMng, "a.MNG", kMng, 1, 1024, 768, 0},
        {"pixia", ProbePixia, "a.pxa", Header(240, {{0, {'P', 'i', 'x', 'i', 'a'}}, {228, Le32(123)}, {232, Le32(45)}}), 1, 123, 45, 24},
        {"pixia cut short", ProbePixia, "a.pxa", {'P', 'i', 'x', 'i', 'a'}, 1, 0, 0, 24},
        {"pixia signature", ProbePixia, "a.pxa", Header(240, {{0, {'P', 'i', 'x', 'i', 'A'}}}), 0, 0, 0, 0},
        {"rif, height first", ProbeRif, "a.rif", {0x00, 0x02, 0x00, 0x01, 0x01, 0xE0, 0x02, 0x80}, 1, 640, 480, 24},
        {"rif 00 03 00 01", ProbeRif, "a.rif", {0x00, 0x03, 0x00, 0x01, 0x01, 0xE0, 0x02, 0x80}, 0, 0, 0, 0},
        {"rif of zeros", ProbeRif, "a.rif", {0, 0, 0, 0, 0x01, 0xE0, 0x02, 0x80}, 0, 0, 0, 0},
        {"jpeg grey, no dot", ProbeJpeg, "greyJPG", Cat({kJfif, Frame(0xC0, 480, 640, 1), Scan()}), 1, 640, 480, 8},
        {"jpeg four components", ProbeJpeg, "a.Jpeg", Cat({kJfif, Frame(0xC0, 2, 65535, 4), Scan()}), 1, 65535, 2, 8},
        {"jpe", ProbeJpeg, "a.jpe", Cat({kJfif, Frame(0xC0, 7, 9, 3)}), 0, 0, 0, 0},
        {"jpeg zero lines", ProbeJpeg, "a.jpg", Cat({kJfif, Frame(0xC0, 0, 300, 3), Scan()}), 1, 300, 0, 24},
        {"jpeg without SOI", ProbeJpeg, "a.jpg", Cut(kApp0, 10), 0, 0, 0, 0},
        {"jpeg of nine bytes", ProbeJpeg, "a.jpg", Cut(kJfif10, 9), 0, 0, 0, 0},
        {"jpeg of ten bytes", ProbeJpeg, "a.jpg", kJfif10, 1, 0, 0, 0},
        {"jpeg terminator unread", ProbeJpeg, "a.jpg", Cat({kJfif10, {0x7A}, Bytes(kApp0.begin() + 9, kApp0.end()), Frame(0xC0, 3, 4, 3)}), 1, 4, 3, 24},
        // Length 0: the next head starts 2 bytes on, inside this one; length 1: 3 bytes on.
        {"jpeg length 0", ProbeJpeg, "a.jpg", Cat({kJfif, {0xAA, 0xBB, 0x00, 0x00, 0x00, 0x04, 0x55, 0x55}, Frame(0xC0, 16, 32, 3)}), 1, 32, 16, 24},
        {"jpeg length 1", ProbeJpeg, "a.jpg", Cat({kJfif, {0xAA, 0xBB, 0x00, 0x01, 0x77, 0x00, 0x03, 0x55}, Frame(0xC0, 16, 32, 1)}), 1, 32, 16, 8},
        // After the scan header the walk takes lengths from whatever bytes it lands on.
        {"jpeg entropy data", ProbeJpeg, "a.jpg", Cat({kJfif, Frame(0xC2, 9, 9, 3), Segment(0xDA, 6), {0x12, 0x34, 0x00, 0x02}, Frame(0xC0, 5, 7, 1)}), 1, 7, 5, 8},
        {"jpeg frame cut short", ProbeJpeg, "a.jpg", Cat({kJfif, {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01}}), 1, 0, 0x0100, 8},
    };
    TempDir dir;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        ImageInfo info = MarkedRecord(), expected = info;
        if (row.result) {
            expected.width = row.width;
            expected.height = row.height;
            if (row.detect == ProbeMng)
                expected.flags |= INFO_COLORS_UNSUPPORTED;
            else
                expected.depth = row.depth;
        }
        ASSERT_EQ(row.detect(&info, dir.Write(row.name, row.bytes).c_str()), row.result);
        EXPECT_EQ(info.width, expected.width);
        EXPECT_EQ(info.height, expected.height);
        EXPECT_EQ(info.depth, expected.depth);
        EXPECT_EQ(memcmp(&info, &expected, sizeof info), 0) << "a field beyond the detector's was written";
        JpegReference walk = WalkJpegReference(row.bytes.data(), row.bytes.size());
        bool agrees = walk.width == row.width && walk.height == row.height && walk.depth == row.depth;
        EXPECT_TRUE(agrees || row.detect != ProbeJpeg || !row.result) << "the row disagrees with the plain walk";
    }
}

// A wrong ending never opens the file; a file that cannot be opened gives 0.
TEST(Detectors, WrongNameOrMissingFileGivesZero)
{
    TempDir dir;
    std::string text = dir.Write("image.txt", Bmp(1, 1, 1));
    const char* names[] = {"gone.bmp", "gone.gif", "gone.png", "gone.mng", "gone.jpg", "gone.pxa", "gone.rif"};
    const Detector detectors[] = {ProbeBmp, ProbeGif, ProbePng, ProbeMng, ProbeJpeg, ProbePixia, ProbeRif};
    for (size_t i = 0; i < std::size(detectors); ++i) {
        ImageInfo info{};
        int opens = g_fake.opens;
        EXPECT_EQ(detectors[i](&info, text.c_str()) + detectors[i](&info, "mp"), 0);
        EXPECT_EQ(g_fake.opens, opens) << names[i];
        EXPECT_EQ(detectors[i](&info, (dir.path / names[i]).c_str()), 0) << names[i];
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

// Inputs that stress the walk's shortcuts: zero runs of every length and parity, ending before,
// on or after the edges of its reads, heads with lengths 0 and 1, frame headers anywhere.
TEST(JpegWalk, SameResultsAsThePlainWalk)
{
    std::mt19937 random(20260);
    auto next = [&](uint32_t below) { return uint32_t(random() % below); };
    TempDir dir;
    int found = 0;
    for (int round = 0; round < 400; ++round) {
        Bytes bytes = kJfif;
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
    EXPECT_TRUE(found > 40 && found < 360) << found << " frame headers found"; // both ends are reached
}

// Zero runs of many lengths from every start parity: landing 3 bytes before 0A 0B reads length
// 0x0A, landing 2 bytes before reads 0x0A0B; each leads to a frame header of its own.
TEST(JpegWalk, ZeroRunsKeepTheWalksParity)
{
    TempDir dir;
    std::set<int32_t> widths;
    for (size_t pad = 0; pad < 4; ++pad) {
        for (size_t run : {1, 2, 3, 4, 5, 7, 255, 4071, 4072, 65536, 65537, 131075}) { // 4071: up to the first read's last byte
            Bytes tail = Cat({{0x0A, 0x0B}, Bytes(7, 0x55), Frame(0xC0, 11, 13, 3)});
            tail.resize(2571, 0x55);
            Bytes bytes = Cat({kJfif, Segment(0xE1, pad), Bytes(run, 0), tail, Frame(0xC0, 17, 19, 1)});
            JpegReference expected = WalkJpegReference(bytes.data(), bytes.size());
            ImageInfo info{};
            ASSERT_EQ(ProbeJpeg(&info, dir.Write("z.jpg", bytes).c_str()), 1);
            EXPECT_TRUE(info.width == expected.width && info.height == expected.height) << "pad " << pad << " run " << run;
            widths.insert(expected.width);
        }
    }
    EXPECT_TRUE(widths.count(13) && widths.count(19)) << "both landing spots must be exercised";
}

} // namespace
